#pragma once
// The one Fortran-style number formatter of the program: each function gives
// exactly what the corresponding edit descriptor writes into a field of WIDTH
// characters (right-justified, leading blanks kept). A value that does not fit
// fills the field with '*'. Rounding is correct decimal rounding of the exact
// binary value; a negative value, a negative zero included, is written with
// its sign, as Fortran writes it. Also the matching field readers (I and F
// input editing).

#include <cstdint>
#include <string>
#include <string_view>

namespace kesta {

// Iw, and Iw.m with MIN_DIGITS >= 0 (Iw.0 writes a blank field for 0); I0
// (WIDTH 0) writes the number in as few characters as it needs.
std::string format_i(std::int64_t value, int width, int min_digits = -1);

// Fw.d.
std::string format_f(double value, int width, int decimals);

// kPEw.d (and kPEw.dEe with EXP_DIGITS > 0): SCALE is the scale factor k,
// e.g. 1PE14.7 is format_e(v, 14, 7, 1).
std::string format_e(double value, int width, int decimals, int scale = 0, int exp_digits = 0);

// Gw.d: F editing for magnitudes from 0.1 to 10**d (after rounding), followed
// by four blanks; otherwise kPEw.d.
std::string format_g(double value, int width, int decimals, int scale = 0);

// Zw and Zw.m: upper-case hexadecimal of the bit pattern.
std::string format_z(std::uint64_t value, int width, int min_digits = -1);

// Iw input editing of a whole field: blanks ignored, optional sign, digits.
// False for a field without digits, with other characters, or out of range.
bool read_integer_field(std::string_view field, std::int64_t& value);

// Fw.d input editing of a whole field: blanks ignored; optional sign, digits
// with an optional point (without one the last DECIMALS digits are decimals),
// optional exponent "E", "D" or "Q" (either case) with optional sign, or a
// sign alone. False for a field without mantissa digits or with other
// characters, or whose value is not finite.
bool read_real_field(std::string_view field, double& value, int decimals = 0);
// The same to single precision (rounded once from the decimal text).
bool read_real_field(std::string_view field, float& value, int decimals = 0);

}  // namespace kesta
