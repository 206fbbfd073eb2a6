#include "core/text.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/format.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

constexpr std::size_t kTokenLength = 132;
constexpr std::size_t kSwapLength = 256;
constexpr std::size_t kRewriteLength = 30;

bool is_separator(char c) { return io_cseparators.find(c) != std::string::npos; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The real-token rules shared by the single and double precision readers.
template <typename Real>
bool token_to_real(std::string_view token, Real& value) {
  const std::string_view text = used_text(token);
  if (text.empty()) return false;
  // Plain Fortran-style reals first (exponents E and D included).
  if (text.find('.') != std::string_view::npos && read_real_field(text, value)) return true;

  std::string rewritten = IO_UPPER(text.substr(0, std::min(text.size(), kRewriteLength)));
  std::string mantissa = rewritten;
  std::string exponent;
  bool has_exponent = false;
  const std::size_t letter = rewritten.find_first_of("ED");
  if (letter != std::string::npos) {
    mantissa = rewritten.substr(0, letter);
    exponent = rewritten.substr(letter + 1);
    has_exponent = true;
  } else {
    for (const char* marker : {"*10^", "*10**"}) {
      const std::size_t at = rewritten.find(marker);
      if (at == std::string::npos) continue;
      mantissa = rewritten.substr(0, at);
      exponent = rewritten.substr(at + std::strlen(marker));
      has_exponent = true;
      break;
    }
  }
  if (mantissa.find('*') != std::string::npos || exponent.find('*') != std::string::npos) return false;

  bool percent = false;
  if (!mantissa.empty() && mantissa.back() == '%') {
    percent = true;
    mantissa.pop_back();
  }
  if (mantissa == "PI") mantissa = "3.1415926";
  if (mantissa.find('.') == std::string::npos) mantissa += ".";
  const std::string number = has_exponent ? mantissa + "e" + exponent : mantissa;
  Real parsed{};
  if (!read_real_field(number, parsed)) return false;
  if (percent) parsed *= static_cast<Real>(0.01);
  value = parsed;
  return true;
}

// Fixed-point text from its first non-blank character; an overflowing field
// falls back to the exponent form rather than a row of stars.
std::string fixed_or_exponent(double value, int width, int decimals, int e_width, int e_decimals) {
  std::string text = format_f(value, width, decimals);
  if (text.find('*') != std::string::npos) text = format_e(value, e_width, e_decimals, 1);
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string exponent_text(double value, int width, int decimals) {
  std::string text = format_e(value, width, decimals, 1);
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

void strip_trailing(std::string& text, char c) {
  while (!text.empty() && text.back() == c) text.pop_back();
}

}  // namespace

int SLEN(std::string_view string) {
  std::size_t n = string.size();
  while (n > 0) {
    const char c = string[n - 1];
    if (c != ' ' && c != '\0' && c != '\t' && c != '\n' && c != '\r') break;
    --n;
  }
  return static_cast<int>(n);
}

std::string_view used_text(std::string_view string) {
  return string.substr(0, static_cast<std::size_t>(SLEN(string)));
}

std::string_view without_trailing_blanks(std::string_view string) {
  const std::size_t last = string.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : string.substr(0, last + 1);
}

std::string_view trimmed_text(std::string_view string) {
  string = used_text(string);
  const std::size_t first = string.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view() : string.substr(first);
}

int IO_START(std::string_view string) {
  const std::size_t at = string.find_first_not_of(" \t");
  return at == std::string_view::npos ? -1 : static_cast<int>(at) + 1;
}

std::string IO_UPPER(std::string_view string) {
  std::string out(used_text(string));
  for (char& c : out) c = upper(c);
  return out;
}

std::string IO_LOWER(std::string_view string) {
  std::string out(used_text(string));
  for (char& c : out) c = lower(c);
  return out;
}

bool IO_ISDIGIT(char character) { return character >= '0' && character <= '9'; }

int IO_OCCURENCES(char character, int length, std::string_view string) {
  if (length <= 0) return 0;
  const std::string_view part = string.substr(0, std::min(string.size(), static_cast<std::size_t>(length)));
  int count = 0;
  for (char c : part)
    if (c == character) ++count;
  return count;
}

int IO_LASTOCCURENCE(char character, std::string_view string) {
  const std::size_t at = string.rfind(character);
  return at == std::string_view::npos ? -1 : static_cast<int>(at) + 1;
}

void IO_TOKEN(std::string_view string, int start, bool& found, std::string& token, int& end,
              Status& status) {
  if (st_bad(status, "Subroutine IO_TOKEN V0.2")) return;
  const int length = SLEN(string);
  int position = std::max(start, 1);
  while (position <= length && is_separator(string[position - 1])) ++position;
  found = position <= length;
  if (!found) return;
  int last = position;
  while (last < length && !is_separator(string[last])) ++last;
  token.assign(string.substr(position - 1, last - position + 1));
  end = last;
}

void IO_TOKENS(std::string_view string, int max_tokens, bool& all_found, int& num_tokens,
               std::vector<std::string>& tokens, Status& status) {
  if (st_bad(status, "Subroutine IO_TOKENS V0.1")) return;
  if (max_tokens < 1) {
    st_fail(status, 10001, "Subroutine IO_TOKENS V0.1");
    return;
  }
  tokens.clear();
  num_tokens = 0;
  all_found = true;
  int position = 1;
  std::string token;
  bool found = true;
  int end = 0;
  while (true) {
    IO_TOKEN(string, position, found, token, end, status);
    if (!found) break;
    if (num_tokens == max_tokens) {
      all_found = false;
      break;
    }
    if (token.size() > kTokenLength) token.resize(kTokenLength);
    tokens.push_back(token);
    ++num_tokens;
    position = end + 1;
  }
}

void IO_QUOTEDSTRING(int& length, std::string& string, Status& status) {
  if (st_bad(status, "Subroutine IO_QUOTEDSTRING V0.1")) return;
  const std::size_t n = std::min(string.size(), static_cast<std::size_t>(std::max(length, 0)));
  if (n < 2 || string[0] != '\'' || string[n - 1] != '\'') return;
  std::string out;
  for (std::size_t i = 1; i + 1 < n; ++i) {
    out.push_back(string[i]);
    if (string[i] == '\'' && i + 2 < n && string[i + 1] == '\'') ++i;
  }
  string = out;
  length = static_cast<int>(out.size());
}

void IO_STRINGMATCH(std::string_view string, std::string_view pattern, bool& match,
                    Status& status) {
  if (st_bad(status, "Subroutine IO_STRINGMATCH V0.1")) return;
  const std::string_view s = used_text(string);
  const std::string_view p = used_text(pattern);
  if (s.empty() || p.empty()) {
    st_fail(status, 10033, "Subroutine IO_STRINGMATCH V0.1");
    return;
  }
  const std::size_t first_star = p.find('*');
  if (first_star == std::string_view::npos) {
    match = s == p;
    return;
  }
  const std::size_t last_star = p.rfind('*');
  const std::string_view head = p.substr(0, first_star);
  const std::string_view tail = p.substr(last_star + 1);
  match = false;
  if (s.substr(0, std::min(s.size(), head.size())) != head) return;
  std::size_t position = head.size();
  // Middle parts in order, leftmost occurrence, each after the previous one.
  std::size_t from = first_star + 1;
  while (from < last_star) {
    const std::size_t next_star = p.find('*', from);
    const std::string_view part = p.substr(from, next_star - from);
    from = next_star + 1;
    if (part.empty()) continue;
    const std::size_t at = s.find(part, position);
    if (at == std::string_view::npos) return;
    position = at + part.size();
  }
  // The tail may not reuse characters the earlier parts matched.
  if (s.size() < position + tail.size()) return;
  match = s.substr(s.size() - tail.size()) == tail;
}

void IO_DEF_SEPARATORS(Status& status) {
  if (st_bad(status, "Subroutine IO_DEF_SEPARATORS V0.1")) return;
  io_cseparators = " ,\t";
}

void IO_TOKTI(std::string_view token, bool& ok, int& value, Status& status) {
  if (st_bad(status, "Subroutine IO_TOKTI V0.1")) return;
  ok = false;
  const std::string_view text = used_text(token);
  if (text.empty()) return;
  std::int64_t wide = 0;
  if (!read_integer_field(text, wide)) return;
  if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max()) return;
  value = static_cast<int>(wide);
  ok = true;
}

void IO_TOKTR(std::string_view token, bool& ok, float& value, Status& status) {
  if (st_bad(status, "Subroutine IO_TOKTR V0.3")) return;
  ok = token_to_real(token, value);
}

void IO_TOKTD(std::string_view token, bool& ok, double& value, Status& status) {
  if (st_bad(status, "Subroutine IO_TOKTD V0.2")) return;
  ok = token_to_real(token, value);
}

void IO_TOKTL(std::string_view token, bool& ok, bool& value, Status& status) {
  if (st_bad(status, "Subroutine IO_TOKTL V0.2")) return;
  const std::string word = IO_UPPER(token.substr(0, std::min<std::size_t>(token.size(), 10)));
  static constexpr const char* kTrue[] = {"Y", "YES", "\"YES\"", "T", "TRUE", "1", ".TRUE.", "OUI", "YA"};
  static constexpr const char* kFalse[] = {"N", "NO", "NON", "\"NO\"", "F", "FALSE", ".FALSE.", "0", "NEIN"};
  ok = false;
  for (const char* w : kTrue)
    if (word == w) {
      ok = true;
      value = true;
      return;
    }
  for (const char* w : kFalse)
    if (word == w) {
      ok = true;
      value = false;
      return;
    }
}

std::string IO_ITOC(std::int64_t value) { return std::to_string(value); }

std::string IO_LTOC(bool value) { return value ? ".TRUE." : ".FALSE."; }

std::string IO_RTOC(float v) {
  if (v == 0.0f) return "0.0";
  if (v > 0.0f) {
    if (v < 0.0999999f) return exponent_text(v, 12, 6);
    if (v < 9.99999f) return fixed_or_exponent(v, 8, 6, 12, 6);
    if (v < 99.9999f) return fixed_or_exponent(v, 8, 5, 12, 6);
    if (v < 999.999f) return fixed_or_exponent(v, 8, 4, 12, 6);
    if (v < 9999.99f) return fixed_or_exponent(v, 8, 3, 12, 6);
    if (v < 99999.9f) return fixed_or_exponent(v, 8, 2, 12, 6);
    return exponent_text(v, 12, 6);
  }
  if (v >= -0.0999f) return exponent_text(v, 13, 6);
  if (v >= -0.9999f) return fixed_or_exponent(v, 9, 6, 13, 6);
  if (v >= -9.999f) return fixed_or_exponent(v, 9, 6, 13, 6);
  if (v >= -99.99f) return fixed_or_exponent(v, 9, 5, 13, 6);
  if (v >= -999.99f) return fixed_or_exponent(v, 9, 4, 13, 6);
  if (v >= -9999.99f) return fixed_or_exponent(v, 9, 3, 13, 6);
  if (v >= -99999.9f) return fixed_or_exponent(v, 9, 2, 13, 6);
  return exponent_text(v, 13, 6);  // also NaN
}

std::string io_real_digits(float v) {
  const std::string text = format_e(v, 16, 8, 1);
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

std::string io_rtoc_exact(float v) {
  std::string text = IO_RTOC(v);
  bool ok = false;
  float back = 0.0f;
  Status local = kStatusGood;
  IO_TOKTR(text, ok, back, local);
  if (std::isfinite(v) && !(ok && back == v)) text = io_real_digits(v);
  return text;
}

std::string IO_DTOC(double v) {
  // The negative bounds and 0.1 are single-precision constants widened.
  constexpr double kTenth = 0.1f;
  if (v == 0.0) return "0.0";
  if (v > 0.0) {
    if (v < kTenth) return exponent_text(v, 14, 7);
    if (v < 10.0) return fixed_or_exponent(v, 11, 9, 14, 7);
    if (v < 100.0) return fixed_or_exponent(v, 11, 8, 14, 7);
    if (v < 1000.0) return fixed_or_exponent(v, 11, 7, 14, 7);
    return exponent_text(v, 14, 7);
  }
  if (v >= static_cast<double>(-0.099f)) return exponent_text(v, 14, 7);
  if (v >= static_cast<double>(-0.999f)) return fixed_or_exponent(v, 13, 9, 14, 7);
  if (v >= static_cast<double>(-9.99f)) return fixed_or_exponent(v, 12, 8, 14, 7);
  if (v >= static_cast<double>(-99.9f)) return fixed_or_exponent(v, 11, 7, 14, 7);
  if (v >= static_cast<double>(-999.9f)) return fixed_or_exponent(v, 12, 7, 14, 7);
  return exponent_text(v, 14, 7);  // also NaN
}

void IO_VTOC(float value, int max_chars, int decimals, bool keep_point, bool remove_zeros,
             bool allow_exponent, bool& fits, std::string& text, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_VTOC V0.4";
  if (st_bad(status, kPosition)) return;
  if (max_chars < 1 || decimals < 0) {
    st_fail(status, 10017, kPosition);
    return;
  }
  if (max_chars < decimals) {
    st_fail(status, 10013, kPosition);
    return;
  }
  if (!std::isfinite(value)) {
    fits = false;
    return;
  }
  const double magnitude = std::fabs(static_cast<double>(value));
  const bool negative = value < 0.0f;
  int n = (decimals == 0 && !keep_point) ? max_chars : max_chars - decimals - 1;
  if (negative) --n;
  // The lower bound in single precision, as the value is: 0.01f lies just
  // below the double 0.01 and is still written 0.01.
  const double lowest = static_cast<float>(std::pow(10.0, -decimals));
  const bool fixed = !allow_exponent || magnitude < 1e-31 ||
                     (magnitude >= lowest && magnitude <= std::pow(10.0, n) - 1.0);

  std::string out;
  if (fixed) {
    // Moved away from zero by just under half a unit of the last decimal,
    // then cut after DECIMALS places.
    const float offset = 0.499f * static_cast<float>(std::pow(10.0, -decimals));
    const float moved = negative ? value - offset : value + offset;
    std::string digits = format_f(moved, 80, 20);
    if (digits.find('*') != std::string::npos) digits = format_f(moved, 400, 20);
    digits = digits.substr(digits.find_first_not_of(' '));
    out = digits.substr(0, digits.find('.') + 1 + static_cast<std::size_t>(decimals));
    // Without the optional zero before the point; tidying puts it back when there is room.
    if (out.rfind("0.", 0) == 0) out.erase(0, 1);
    else if (out.rfind("-0.", 0) == 0) out.erase(1, 1);
    if (remove_zeros) strip_trailing(out, '0');
    if (!keep_point && !out.empty() && out.back() == '.') out.pop_back();
    fits = true;
  } else {
    // Normalised mantissa (1 <= m < 10) with its own exponent.
    const std::string scientific = format_e(value, 40, decimals, 1);
    const std::string trimmed = scientific.substr(scientific.find_first_not_of(' '));
    const std::size_t e = trimmed.find('E');
    std::string mantissa = trimmed.substr(0, e);
    const int exponent = std::atoi(trimmed.c_str() + e + 1);
    if (remove_zeros) strip_trailing(mantissa, '0');
    if (!keep_point && !mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    out = mantissa + "E" + IO_ITOC(exponent);
    // The finished text is measured, "E" included, so a label said to fit
    // never takes more than MAX_CHARS characters.
    fits = static_cast<int>(out.size()) <= max_chars;
    if (!fits) return;
  }

  if (out.empty()) out = "0";
  if (out[0] == '.' && max_chars - decimals > 1) out.insert(0, "0");
  if (out.rfind("-.", 0) == 0 && max_chars - decimals >= 3) out.insert(1, "0");
  if (out == "." || out == "-") out = "0";
  if (out == "-0." || out == "-0" || out == "-0.0" || out == "-0.00") out.erase(0, 1);
  text = out;
}

std::string IO_ITOHEX(std::int32_t value) {
  // Magnitude with the sign in the top bit; the most negative value has no
  // representable magnitude and writes "80000000".
  const std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  const std::uint32_t bits = value < 0 ? (magnitude | 0x80000000u) : magnitude;
  std::string out = format_z(bits, 8, 8);
  for (char& c : out) c = lower(c);
  return out;
}

std::string IO_RTOHEX(float value) { return IO_ITOHEX(std::bit_cast<std::int32_t>(value)); }

std::int32_t IO_HEXTOI(std::string_view text) {
  const std::string_view digits = used_text(text).substr(0, 8);
  std::uint32_t bits = 0;
  for (char c : digits) {
    std::uint32_t d = 0;
    if (c >= '0' && c <= '9') d = static_cast<std::uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<std::uint32_t>(c - 'a' + 10);
    bits = bits * 16 + d;
  }
  if (digits.size() == 8 && (bits & 0x80000000u) != 0)
    return -static_cast<std::int32_t>(bits & 0x7FFFFFFFu);
  return static_cast<std::int32_t>(bits);
}

float IO_HEXTOR(std::string_view text) { return std::bit_cast<float>(IO_HEXTOI(text)); }

void IO_ISWAP(int& a, int& b, Status& status) {
  if (st_bad(status, "Subroutine IO_ISWAP V0.1")) return;
  std::swap(a, b);
}

void IO_RSWAP(float& a, float& b, Status& status) {
  if (st_bad(status, "Subroutine IO_RSWAP V0.1")) return;
  std::swap(a, b);
}

void IO_DSWAP(double& a, double& b, Status& status) {
  if (st_bad(status, "Subroutine IO_DSWAP V0.1")) return;
  std::swap(a, b);
}

void IO_LSWAP(bool& a, bool& b, Status& status) {
  if (st_bad(status, "Subroutine IO_LSWAP V0.1")) return;
  std::swap(a, b);
}

void IO_CSWAP(std::string& a, std::string& b, Status& status) {
  if (st_bad(status, "Subroutine IO_CSWAP V0.1")) return;
  if (a.size() > kSwapLength) a.resize(kSwapLength);
  if (b.size() > kSwapLength) b.resize(kSwapLength);
  std::swap(a, b);
}

void IO_RSET(float a, float& b, Status& status) {
  if (st_bad(status, "Subroutine IO_RSET V0.1")) return;
  b = a;
}

}  // namespace kesta
