#pragma once
// Internal variables: a fixed table of named integer, logical, real and text
// values that live for one run, and the string pool behind the text values.
//
// Types: 'i' integer, 'l' logical, 'r' real, 's' string, 'u' untyped text (set
// by the "-SYM" option, held like a string), '*' a string whose text did not fit.
// Result codes (RETSTAT): 0 done; 1 table full or name not defined; 2 string
// pool full; 3 no free string slot, or a refused change of type.

#include <array>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kMaxVariables = 500;
inline constexpr std::size_t kVariableNameLength = 32;
inline constexpr int kMaxVarStrings = 50;
inline constexpr int kVarPoolLength = 5000;

// IO_CVARIABLES and IO_VVARIABLES: entry k (0-based here) belongs to variable k+1.
// Names are held cut to 32 characters without trailing blanks.
struct IoVariables {
  int count = 0;
  std::array<std::string, kMaxVariables> names{};
  std::array<char, kMaxVariables> types{};
  std::array<int, kMaxVariables> ivalues{};
  std::array<bool, kMaxVariables> lvalues{};
  std::array<float, kMaxVariables> rvalues{};
  std::array<int, kMaxVariables> sindex{};  // 1-based pool slot of 's' and 'u'
};
inline IoVariables io_variables;

// IO_CSTRINGS and IO_VSTRINGS: the pool and its slots. Positions are 1-based;
// slot j (1-based) holds pool positions start[j-1]..end[j-1].
struct IoStrings {
  int count = 0;  // slots in use
  int used = 0;   // highest end position given out
  std::array<int, kMaxVarStrings> start{};
  std::array<int, kMaxVarStrings> end{};
  std::string pool = std::string(kVarPoolLength, ' ');
};
inline IoStrings io_strings;

// Empties the variable table and the pool (used by IO_DEF_SYSTEM).
void io_clear_variables();

// Table index (1-based) of NAME, 0 when not defined.
int IO_VAR_NUMBER(std::string_view name, Status& status);

// Defines NAME with TYPE or updates it; the value argument of the type is used
// (SVALUE up to LENGTH characters for 's' and 'u').
void IO_SET_VARIABLE(std::string_view name, char type, int ivalue, bool lvalue, float rvalue,
                     int length, std::string_view svalue, int& retstat, Status& status);

// Type and value of NAME; only the value argument of the type is set ('s' and
// 'u' set SVALUE and LENGTH; '*' only the type). RETSTAT 1 when not defined.
// The warning for a variable that IO_SET_VARIABLE refused for want of room:
// RETSTAT 1 the table is full, 2 or 3 the string store.
void io_report_variable_refused(int retstat, Status& status);

void IO_INQ_VARIABLE(std::string_view name, int& retstat, char& type, int& ivalue, bool& lvalue,
                     float& rvalue, int& length, std::string& svalue, Status& status);

// NUM_VARIABLES is always the variable count; variable NUMBER (1-based) is
// returned with RETSTAT 0, or RETSTAT 1 when NUMBER is outside 1..count.
void IO_INQ_VARNUM(int number, int& num_variables, int& retstat, std::string& name, char& type,
                   int& ivalue, bool& lvalue, float& rvalue, int& length, std::string& svalue,
                   Status& status);

// Deletes NAME; RETSTAT 1 when not defined.
void IO_UNSET_VARIABLE(std::string_view name, int& retstat, Status& status);

// The menu of variable types ("ENTER DATA TYPE OF VARIABLE"): the choices,
// their "?" lines and the type letter each choice gives.
inline constexpr int kNumDataTypes = 7;
extern const std::array<std::string, kNumDataTypes> kDataTypeChoices;
extern const std::array<std::string, kNumDataTypes> kDataTypeHelp;
inline constexpr std::array<char, kNumDataTypes> kDataTypeLetters = {'l', 's', 'r', 'i',
                                                                    'l', 'r', 's'};
// The choice that stands for TYPE ("INVALID (STRING)" for a letter of no choice).
std::string io_datatype_choice(char type);

// The interactive definition command (asks name, type and value).
void IO_VARIABLE(Status& status);

// Appends the first LENGTH characters of STRING to the pool as a new last slot
// (compacting first when needed). RETSTAT 0, 2 (pool full) or 3 (no slot).
void IO_SET_VARSTR(int length, std::string_view string, int& retstat, Status& status);

// Closes the holes of the pool: the slots are moved down, in order, to start
// at position 1 and follow each other without gaps.
void IO_SET_VARCOMPACT();

// Frees pool slot INDEX (1-based); STATUS 10005 when outside 1..count.
void IO_VARKILLSTR(int index, Status& status);

}  // namespace kesta
