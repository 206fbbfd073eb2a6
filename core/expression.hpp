#pragma once
// The expression language of typed answers and macro DO loops: integer, real,
// logical and string operands (constants, quoted strings, internal variables),
// arithmetic with a power operator, relations and dotted logical operators,
// concatenation (//), substrings v(i:j) and 34 intrinsic functions.

#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Limits of one evaluation.
inline constexpr std::size_t kExpressionLength = 2000;
inline constexpr int kMaxExprOperands = 100;
inline constexpr int kMaxExprFunctions = 100;
inline constexpr int kMaxExprStrings = 20;
inline constexpr std::size_t kExprStringLength = 256;

// Evaluates the first LENGTH characters of EXPRESSION (blanks and tabs outside
// quoted strings are expected to be removed by the caller).
// RETSTAT: 0 success; 2 evaluation error; 4 a token could not be converted (a
// warning has been written in both cases, STATUS stays good).
// TYPE is 'i', 'l', 'r', 's' or 'u'; only the matching value is set: IVALUE,
// LVALUE, RVALUE, or SVALUE (at most 256 characters) with SLENGTH.
void IO_EVALUATE(int length, std::string_view expression, int& retstat, char& type, int& ivalue,
                 bool& lvalue, float& rvalue, int& slength, std::string& svalue, Status& status);

}  // namespace kesta
