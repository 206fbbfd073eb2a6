#pragma once
// Small routines on texts and numbers used throughout the program: used
// length, case, tokens split at the current separator set, conversion of
// tokens to numbers and logicals, numbers written as compact text, the
// hexadecimal encodings of the item file, wildcard matching and value swaps.
//
// Positions are 1-based as in the rest of the dialogue code; a text is a
// std::string without trailing blanks.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"

namespace kesta {

// IO_SEPARATORS / IO_CSEPARATORS: the token separator characters (at most
// 256; their number is the text's size). IO_DEF_SEPARATORS resets them.
inline constexpr std::size_t kMaxSeparators = 256;
inline std::string io_cseparators = " ,\t";

// Used length: position of the last character that is not a blank, NUL, tab,
// LF or CR; 0 when there is none.
int SLEN(std::string_view string);
// STRING up to its used length.
std::string_view used_text(std::string_view string);
// STRING without its trailing blanks only (tabs, NULs and line ends stay).
std::string_view without_trailing_blanks(std::string_view string);
// STRING up to its used length, from its first character that is not a
// blank: a right-justified field or a padded name as a word.
std::string_view trimmed_text(std::string_view string);

// Position of the first character that is neither blank nor tab, -1 if none.
int IO_START(std::string_view string);

// Letters changed up to the used length; everything else kept.
std::string IO_UPPER(std::string_view string);
std::string IO_LOWER(std::string_view string);

bool IO_ISDIGIT(char character);

// How often CHARACTER occurs in STRING(1:LENGTH).
int IO_OCCURENCES(char character, int length, std::string_view string);

// Position of the last occurrence of CHARACTER in the whole text, -1 if none.
int IO_LASTOCCURENCE(char character, std::string_view string);

// From position START skips separators; FOUND when a token follows within the
// used length: TOKEN is the run up to the next separator and END the position
// of its last character.
void IO_TOKEN(std::string_view string, int start, bool& found, std::string& token, int& end,
              Status& status);

// Splits the used part of STRING into at most MAX_TOKENS tokens (each cut to
// 132 characters). ALL_FOUND is false when more tokens follow. TOKENS holds
// NUM_TOKENS elements on return. MAX_TOKENS < 1 gives 10001.
void IO_TOKENS(std::string_view string, int max_tokens, bool& all_found, int& num_tokens,
               std::vector<std::string>& tokens, Status& status);

// When STRING(1:1) and STRING(LENGTH:LENGTH) are both "'", removes them and
// turns each doubled quote inside into one; LENGTH becomes the new length.
// Otherwise nothing changes.
void IO_QUOTEDSTRING(int& length, std::string& string, Status& status);

// Wildcard match: "*" stands for any run of characters; case-sensitive over
// the used lengths. A blank STRING or PATTERN gives 10033.
void IO_STRINGMATCH(std::string_view string, std::string_view pattern, bool& match,
                    Status& status);

// Separators blank, comma and tab.
void IO_DEF_SEPARATORS(Status& status);

// Token conversions: VALUE is set only when OK.
void IO_TOKTI(std::string_view token, bool& ok, int& value, Status& status);
void IO_TOKTR(std::string_view token, bool& ok, float& value, Status& status);
void IO_TOKTD(std::string_view token, bool& ok, double& value, Status& status);
void IO_TOKTL(std::string_view token, bool& ok, bool& value, Status& status);

// Numbers to text, starting in column 1.
std::string IO_ITOC(std::int64_t value);
std::string IO_LTOC(bool value);
std::string IO_RTOC(float value);
std::string IO_DTOC(double value);
// A real with the nine significant digits that tell any two single-precision
// values apart ("1.00000009E+30").
std::string io_real_digits(float value);
// IO_RTOC of VALUE where that text reads back as VALUE, else io_real_digits:
// a text offered as an answer that gives the value again.
std::string io_rtoc_exact(float value);

// A real as axis-label text of at most MAX_CHARS characters with DECIMALS
// decimals; FITS is false when even the exponent form needs more room.
// MAX_CHARS < 1 or DECIMALS < 0 give 10017, MAX_CHARS < DECIMALS 10013.
void IO_VTOC(float value, int max_chars, int decimals, bool keep_point, bool remove_zeros,
             bool allow_exponent, bool& fits, std::string& text, Status& status);

// Hexadecimal encodings of the item file: 8 lower-case characters of the
// magnitude, 8 added to the first digit for a negative value.
std::string IO_ITOHEX(std::int32_t value);
std::string IO_RTOHEX(float value);
std::int32_t IO_HEXTOI(std::string_view text);
float IO_HEXTOR(std::string_view text);

// Value swaps; IO_CSWAP cuts texts longer than 256 characters.
void IO_ISWAP(int& a, int& b, Status& status);
void IO_RSWAP(float& a, float& b, Status& status);
void IO_DSWAP(double& a, double& b, Status& status);
void IO_LSWAP(bool& a, bool& b, Status& status);
void IO_CSWAP(std::string& a, std::string& b, Status& status);
// B := A.
void IO_RSET(float a, float& b, Status& status);

}  // namespace kesta
