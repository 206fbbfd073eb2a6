#include "core/format.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace kesta {
namespace {

std::string stars(int width) { return std::string(width > 0 ? width : 0, '*'); }

// BODY right-justified in WIDTH, or stars when it does not fit.
std::string justify(const std::string& body, int width) {
  if (width < 0 || body.size() > static_cast<std::size_t>(width)) return stars(width);
  return std::string(width - body.size(), ' ') + body;
}

// Infinity and NaN as the I/O library writes them, shortened to fit.
std::string non_finite(double value, int width) {
  if (std::isnan(value)) return justify("NaN", width);
  const bool negative = value < 0;
  const std::string sign = negative ? "-" : "";
  if (static_cast<int>(sign.size()) + 8 <= width) return justify(sign + "Infinity", width);
  return justify(sign + "Inf", width);
}

// Locale-independent fixed or scientific text of |value| with PRECISION
// decimals, correctly rounded.
std::string to_text(double magnitude, std::chars_format fmt, int precision) {
  std::string buffer(400 + static_cast<std::size_t>(precision), '\0');
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, fmt, precision);
  buffer.resize(result.ec == std::errc() ? static_cast<std::size_t>(result.ptr - buffer.data()) : 0);
  return buffer;
}

std::string unsigned_digits(std::uint64_t magnitude, int base, bool upper) {
  char buffer[72];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, base);
  std::string text(buffer, result.ptr);
  if (upper)
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string without_blanks(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (char c : field)
    if (c != ' ') out.push_back(c);
  return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Parses the blank-free real field into canonical "mantissa e exponent" text.
bool canonical_real(const std::string& s, int decimals, std::string& canonical) {
  std::size_t i = 0;
  std::string sign;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) sign = s[i++] == '-' ? "-" : "";
  std::string whole;
  std::string fraction;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (is_digit(s[i])) {
      (point ? fraction : whole).push_back(s[i]);
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (whole.empty() && fraction.empty()) return false;
  if (!point && decimals > 0) {
    // Implied decimals: the last DECIMALS digits follow the point.
    if (whole.size() < static_cast<std::size_t>(decimals))
      whole.insert(0, static_cast<std::size_t>(decimals) - whole.size(), '0');
    fraction = whole.substr(whole.size() - decimals);
    whole.resize(whole.size() - decimals);
  }
  std::string exponent;
  if (i < s.size()) {
    const char c = s[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q') ++i;
    else if (c != '+' && c != '-') return false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exponent.push_back(s[i++]);
    std::size_t digits = 0;
    for (; i < s.size() && is_digit(s[i]); ++i, ++digits) exponent.push_back(s[i]);
    if (digits == 0 || i != s.size()) return false;
    if (exponent[0] == '+') exponent.erase(0, 1);
  }
  canonical = sign + (whole.empty() ? "0" : whole) + "." + (fraction.empty() ? "0" : fraction);
  if (!exponent.empty()) canonical += "e" + exponent;
  return true;
}

template <typename Real>
bool read_real(std::string_view field, Real& value, int decimals) {
  std::string canonical;
  if (!canonical_real(without_blanks(field), decimals, canonical)) return false;
  Real parsed{};
  const char* first = canonical.data();
  const char* last = first + canonical.size();
  auto result = std::from_chars(first, last, parsed, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != last || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

}  // namespace

std::string format_i(std::int64_t value, int width, int min_digits) {
  const bool negative = value < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::string digits = unsigned_digits(magnitude, 10, false);
  if (min_digits == 0 && magnitude == 0) return std::string(width > 0 ? width : 0, ' ');
  if (min_digits > 0 && digits.size() < static_cast<std::size_t>(min_digits))
    digits.insert(0, static_cast<std::size_t>(min_digits) - digits.size(), '0');
  if (width == 0) return (negative ? "-" : "") + digits;  // I0: as wide as the number
  return justify((negative ? "-" : "") + digits, width);
}

std::string format_f(double value, int width, int decimals) {
  if (!std::isfinite(value)) return non_finite(value, width);
  if (decimals < 0) return stars(width);
  std::string body = to_text(std::fabs(value), std::chars_format::fixed, decimals);
  if (decimals == 0) body += ".";
  const std::string sign = std::signbit(value) ? "-" : "";
  // The zero before the point is optional: dropped only when there is no room.
  if (decimals > 0 && body.size() > 1 && body[0] == '0' && body[1] == '.' &&
      static_cast<int>(sign.size() + body.size()) > width)
    body.erase(0, 1);
  return justify(sign + body, width);
}

std::string format_e(double value, int width, int decimals, int scale, int exp_digits) {
  if (!std::isfinite(value)) return non_finite(value, width);
  if (decimals < 0 || scale <= -decimals || scale >= decimals + 2) return stars(width);
  const int significant = scale > 0 ? decimals + 1 : decimals + scale;
  if (significant <= 0) return stars(width);

  const std::string scientific = to_text(std::fabs(value), std::chars_format::scientific, significant - 1);
  const std::size_t e_pos = scientific.find('e');
  std::string digits;
  for (std::size_t i = 0; i < e_pos; ++i)
    if (scientific[i] != '.') digits.push_back(scientific[i]);
  long exponent = 0;
  if (value != 0) exponent = std::strtol(scientific.c_str() + e_pos + 1, nullptr, 10) + 1 - scale;

  std::string mantissa;
  if (scale <= 0) {
    mantissa = "0." + std::string(-scale, '0') + digits;
  } else {
    mantissa = digits.substr(0, scale) + "." + digits.substr(scale);
  }

  const unsigned long magnitude = static_cast<unsigned long>(std::labs(exponent));
  const std::string exp_sign = exponent < 0 ? "-" : "+";
  std::string exp_text;
  if (exp_digits > 0) {
    std::string d = std::to_string(magnitude);
    if (d.size() > static_cast<std::size_t>(exp_digits)) return stars(width);
    exp_text = "E" + exp_sign + std::string(exp_digits - d.size(), '0') + d;
  } else if (magnitude <= 99) {
    exp_text = "E" + exp_sign + (magnitude < 10 ? "0" : "") + std::to_string(magnitude);
  } else if (magnitude <= 999) {
    exp_text = exp_sign + std::to_string(magnitude);
  } else {
    return stars(width);
  }

  const std::string sign = std::signbit(value) ? "-" : "";
  if (scale <= 0 && static_cast<int>(sign.size() + mantissa.size() + exp_text.size()) > width)
    mantissa.erase(0, 1);
  return justify(sign + mantissa + exp_text, width);
}

std::string format_g(double value, int width, int decimals, int scale) {
  if (!std::isfinite(value)) return non_finite(value, width);
  if (decimals <= 0) return format_e(value, width, decimals, scale);
  constexpr int kTrailing = 4;
  if (value == 0) return format_f(value, width - kTrailing, decimals - 1) + std::string(kTrailing, ' ');
  // The decimal exponent after rounding to DECIMALS significant digits decides.
  const std::string scientific = to_text(std::fabs(value), std::chars_format::scientific, decimals - 1);
  const long exponent = std::strtol(scientific.c_str() + scientific.find('e') + 1, nullptr, 10);
  const long s = exponent + 1;
  if (s >= 0 && s <= decimals) {
    const std::string fixed = format_f(value, width - kTrailing, decimals - static_cast<int>(s));
    return fixed + std::string(kTrailing, ' ');
  }
  return format_e(value, width, decimals, scale);
}

std::string format_z(std::uint64_t value, int width, int min_digits) {
  if (min_digits == 0 && value == 0) return std::string(width > 0 ? width : 0, ' ');
  std::string digits = unsigned_digits(value, 16, true);
  if (min_digits > 0 && digits.size() < static_cast<std::size_t>(min_digits))
    digits.insert(0, static_cast<std::size_t>(min_digits) - digits.size(), '0');
  return justify(digits, width);
}

bool read_integer_field(std::string_view field, std::int64_t& value) {
  const std::string s = without_blanks(field);
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  std::uint64_t magnitude = 0;
  const std::uint64_t limit =
      negative ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
               : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  for (; i < s.size(); ++i) {
    if (!is_digit(s[i])) return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(s[i] - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

bool read_real_field(std::string_view field, double& value, int decimals) {
  return read_real(field, value, decimals);
}

bool read_real_field(std::string_view field, float& value, int decimals) {
  return read_real(field, value, decimals);
}

}  // namespace kesta
