#include "core/expression.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

// The expression is rewritten into a compact form: every operand becomes 'o',
// every intrinsic name 'f', every operator a single character; the form is
// then reduced, one step at a time, until a single 'o' is left.

constexpr std::array<std::string_view, 34> kIntrinsics = {
    "ABS",  "ACOS", "AINT", "ANINT", "ASIN",  "ATAN", "ATAN2", "CHAR",     "COS",
    "COSH", "DIM",  "EXP",  "ICHAR", "INDEX", "INT",  "LEN",   "LEN_TRIM", "LGE",
    "LGT",  "LLE",  "LLT",  "LOG",   "LOG10", "MAX",  "MIN",   "MOD",      "NINT",
    "REAL", "SIGN", "SIN",  "SINH",  "SQRT",  "TAN",  "TANH"};

constexpr std::string_view kSeparators = "+*^!~&(){}|<>=/,:;%@-";

struct Operand {
  char type = 'i';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  std::string text;  // 's' and 'u'
};

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_text(const Operand& op) { return op.type == 's' || op.type == 'u'; }

// Binding level of a binary operator code, tightest first; 0 for no operator.
int binary_level(char c) {
  switch (c) {
    case '^': return 2;
    case '*':
    case '/': return 4;
    case '+':
    case '-': return 6;
    case '%': return 8;
    case '=':
    case '~':
    case '>':
    case '<':
    case '}':
    case '{': return 10;
    case '!': return 12;
    case '&': return 14;
    case '|': return 16;
    case '@':
    case ';': return 18;
    default: return 0;
  }
}

bool is_operator(char c) { return binary_level(c) > 0; }

// Level of the operator at P in the compact form, and whether it is unary.
// A minus with no operand before it is unary: right after another operator it
// takes the operand after it before that operator (a*-b is a*(-b)), yet after
// any power of that operand (-a^2 is -(a^2)); elsewhere it binds like "-".
int level_at(const std::string& form, std::size_t p, bool& unary) {
  const char c = form[p];
  unary = false;
  if (c == '!') {
    unary = true;
    return 12;
  }
  if (c == '-') {
    const bool after_operand = p > 0 && (form[p - 1] == 'o' || form[p - 1] == ')');
    if (!after_operand) {
      unary = true;
      return p > 0 && is_operator(form[p - 1]) ? 3 : 6;
    }
  }
  return binary_level(c);
}

// True when nothing right of an operand at Q-1 binds it more tightly than LEVEL.
bool right_free(const std::string& form, std::size_t q, int level) {
  if (q >= form.size()) return true;
  if (form[q] == '(') return false;  // the operand is the start of a substring
  if (!is_operator(form[q])) return true;
  bool unary = false;
  return level_at(form, q, unary) >= level;
}

// True when nothing left of an operand at Q+1 binds it at LEVEL or tighter.
bool left_free(const std::string& form, std::size_t q, int level) {
  const char c = form[q];
  if (c == ')' || c == 'o' || c == 'f') return false;
  if (!is_operator(c)) return true;
  bool unary = false;
  return level_at(form, q, unary) > level;
}

bool applicable(const std::string& form, std::size_t p, int level, bool unary) {
  const std::size_t n = form.size();
  if (p + 1 >= n || form[p + 1] != 'o') return false;
  if (unary) {
    if (p > 0 && (form[p - 1] == 'o' || form[p - 1] == ')')) return false;
    return right_free(form, p + 2, level);
  }
  if (p == 0 || form[p - 1] != 'o') return false;
  if (p >= 2 && !left_free(form, p - 2, level)) return false;
  return right_free(form, p + 2, level);
}

// Replaces the quote pairs of a quoted token by their text; false when the
// token does not close its quote exactly at its end.
bool unquote(std::string_view token, std::string& text) {
  if (token.size() < 2 || token.front() != '\'') return false;
  text.clear();
  for (std::size_t k = 1; k < token.size(); ++k) {
    if (token[k] != '\'') {
      text.push_back(token[k]);
    } else if (k + 1 < token.size() && token[k + 1] == '\'') {
      text.push_back('\'');
      ++k;
    } else {
      return k + 1 == token.size();
    }
  }
  return false;
}

// Blank-padded comparison by character code: negative, zero or positive.
int compare_padded(std::string_view a, std::string_view b) {
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t k = 0; k < n; ++k) {
    const auto ca = static_cast<unsigned char>(k < a.size() ? a[k] : ' ');
    const auto cb = static_cast<unsigned char>(k < b.size() ? b[k] : ' ');
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

template <typename T>
bool relation(char op, T a, T b) {
  switch (op) {
    case '=': return a == b;
    case '~': return a != b;
    case '>': return a > b;
    case '<': return a < b;
    case '}': return a >= b;
    default: return a <= b;  // '{'
  }
}

// X to the integer power N by repeated squaring.
float real_power(float x, int n) {
  std::uint64_t e = n < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(n))
                          : static_cast<std::uint64_t>(n);
  float result = 1.0f;
  float base = x;
  while (e != 0) {
    if (e & 1U) result *= base;
    e >>= 1U;
    if (e != 0) base *= base;
  }
  return n < 0 ? 1.0f / result : result;
}

bool fits_int(std::int64_t v) {
  return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

class Evaluator {
 public:
  explicit Evaluator(Status& status) : status_(status) {}

  // 0 with RESULT set, or 2 or 4 after the warnings.
  int run(std::string text, Operand& result) {
    syntax_pass(text);
    if (const int r = token_pass(text); r != 0) return r;
    while (form_.size() > 1) {
      if (const int r = reduce_once(); r != 0) return r;
    }
    if (form_ != "o" || operands_.size() != 1) return no_reduction();
    result = operands_.front();
    return 0;
  }

 private:
  void write(std::string_view line) { IO_WRITE(line, status_); }

  // ---- syntax pass: multi-character operators become one-character codes.
  static void syntax_pass(std::string& text) {
    if (text.size() <= 3) return;
    static constexpr std::array<std::pair<std::string_view, char>, 7> kPairs = {{{"**", '^'},
                                                                                 {"==", '='},
                                                                                 {"!=", '~'},
                                                                                 {"/=", '~'},
                                                                                 {">=", '}'},
                                                                                 {"<=", '{'},
                                                                                 {"//", '%'}}};
    static constexpr std::array<std::pair<std::string_view, char>, 11> kDotted = {{{".NEQV.", ';'},
                                                                                   {".AND.", '&'},
                                                                                   {".NOT.", '!'},
                                                                                   {".EQV.", '@'},
                                                                                   {".EQ.", '='},
                                                                                   {".NE.", '~'},
                                                                                   {".GT.", '>'},
                                                                                   {".LT.", '<'},
                                                                                   {".GE.", '}'},
                                                                                   {".LE.", '{'},
                                                                                   {".OR.", '|'}}};
    std::string out;
    out.reserve(text.size());
    bool quoted = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
      const char c = text[k];
      if (quoted || c == '\'') {
        out.push_back(c);
        if (!quoted) {
          quoted = true;
        } else if (c == '\'') {
          if (k + 1 < text.size() && text[k + 1] == '\'')
            out.push_back(text[++k]);
          else
            quoted = false;
        }
        continue;
      }
      const std::string_view rest = std::string_view(text).substr(k);
      bool replaced = false;
      for (const auto& [form, code] : kPairs) {
        if (rest.substr(0, 2) == form) {
          out.push_back(code);
          k += 1;
          replaced = true;
          break;
        }
      }
      if (!replaced && c == '.') {
        const std::string upper = IO_UPPER(rest.substr(0, 6));
        for (const auto& [form, code] : kDotted) {
          if (rest.size() >= form.size() &&
              std::string_view(upper).substr(0, form.size()) == form) {
            out.push_back(code);
            k += form.size() - 1;
            replaced = true;
            break;
          }
        }
      }
      if (!replaced) out.push_back(c);
    }
    text = std::move(out);
  }

  // ---- token pass: the compact form and the operand and function tables.

  // A "-" (or "+") right after the exponent letter of a number is its sign.
  static bool exponent_sign(const std::string& text, std::size_t k) {
    if (k < 2 || k + 1 >= text.size()) return false;
    const char e = text[k - 1];
    if (e != 'e' && e != 'E' && e != 'd' && e != 'D') return false;
    if (!is_digit(text[k + 1])) return false;
    bool digit = false;
    for (std::size_t j = k - 1; j-- > 0;) {
      const char c = text[j];
      if (is_digit(c)) {
        digit = true;
      } else if (c != '.') {
        if (is_letter(c) || c == '_' || c == '#') return false;
        break;
      }
    }
    return digit;
  }

  int token_pass(const std::string& text) {
    std::string token;
    bool quoted = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
      const char c = text[k];
      if (quoted) {
        token.push_back(c);
        if (c == '\'') {
          if (k + 1 < text.size() && text[k + 1] == '\'')
            token.push_back(text[++k]);
          else
            quoted = false;
        }
        continue;
      }
      if (c == '\'') {
        quoted = true;
        token.push_back(c);
        continue;
      }
      const bool separator = kSeparators.find(c) != std::string_view::npos &&
                             !((c == '-' || c == '+') && exponent_sign(text, k));
      if (!separator) {
        token.push_back(c);
        continue;
      }
      if (!token.empty()) {
        if (const int r = emit(token, c); r != 0) return r;
        token.clear();
      }
      form_.push_back(c);
    }
    if (!token.empty()) return emit(token, '\0');
    return 0;
  }

  // NEXT is the separator after TOKEN ('\0' at the end).
  int emit(const std::string& token, char next) {
    const bool before_parenthesis = next == '(';
    if (before_parenthesis) {
      const std::string name = IO_UPPER(std::string_view(token).substr(0, kVariableNameLength));
      if (std::find(kIntrinsics.begin(), kIntrinsics.end(), name) != kIntrinsics.end()) {
        if (functions_.size() >= static_cast<std::size_t>(kMaxExprFunctions)) {
          write("WARNING: Too many function calls in the expression (at most 100)");
          return 2;
        }
        form_.push_back('f');
        functions_.push_back(name);
        return 0;
      }
    }
    if (operands_.size() >= static_cast<std::size_t>(kMaxExprOperands)) {
      write("WARNING: Too many operands in the expression (at most 100)");
      return 2;
    }
    Operand op;
    if (negative_limit(token, next, op)) {
      form_.pop_back();  // the sign is part of the operand
    } else if (const int r = convert(token, op); r != 0) {
      return r;
    }
    if (is_text(op) && !room_for_string(op.text)) return 2;
    form_.push_back('o');
    operands_.push_back(std::move(op));
    return 0;
  }

  // The most negative integer has no positive counterpart: its digits alone
  // are out of range, so a unary minus that takes just this literal (no power
  // follows, which would bind first) is read with it.
  bool negative_limit(const std::string& token, char next, Operand& op) const {
    if (form_.empty() || form_.back() != '-' || next == '^') return false;
    bool unary = false;
    level_at(form_, form_.size() - 1, unary);
    if (!unary || !std::all_of(token.begin(), token.end(), is_digit)) return false;
    std::int64_t wide = 0;
    if (!read_integer_field("-" + token, wide) || wide != std::numeric_limits<int>::min())
      return false;
    op.type = 'i';
    op.ivalue = std::numeric_limits<int>::min();
    return true;
  }

  int convert(const std::string& token, Operand& op) {
    int retstat = 1;
    int length = 0;
    IO_INQ_VARIABLE(token, retstat, op.type, op.ivalue, op.lvalue, op.rvalue, length, op.text,
                    status_);
    if (retstat == 0) return 0;
    if (token.front() == '\'') {
      op.type = 's';
      if (unquote(token, op.text)) return 0;
      write("WARNING: Problem converting token to a string value:");
      write(token);
      return 4;
    }
    const std::string upper = IO_UPPER(token);
    if (upper == ".TRUE." || upper == ".FALSE.") {
      op.type = 'l';
      op.lvalue = upper == ".TRUE.";
      return 0;
    }
    bool ok = false;
    if (token.find_first_of(".dDeE") != std::string::npos) {
      op.type = 'r';
      IO_TOKTR(token, ok, op.rvalue, status_);
      if (ok) return 0;
      write("WARNING: Problem converting token to a real value:");
      write(token);
      return 4;
    }
    op.type = 'i';
    IO_TOKTI(token, ok, op.ivalue, status_);
    if (ok) return 0;
    write("WARNING: Problem converting token to an integer value:");
    write(token);
    return 4;
  }

  // The string store holds 20 strings of 256 characters.
  bool room_for_string(const std::string& text, int replaced = 0) {
    if (text.size() > kExprStringLength) {
      write("WARNING: Character string longer than 256 characters");
      return false;
    }
    const auto live = std::count_if(operands_.begin(), operands_.end(), is_text);
    if (live - replaced >= kMaxExprStrings) {
      write("WARNING: Too many character strings in the expression (at most 20)");
      return false;
    }
    return true;
  }

  // ---- the operand report and conversions.

  static std::string value_text(const Operand& op) {
    switch (op.type) {
      case 'i': return IO_ITOC(op.ivalue);
      case 'l': return IO_LTOC(op.lvalue);
      case 'r': return IO_RTOC(op.rvalue);
      default: return op.text;
    }
  }

  void report(const Operand& op, std::string_view message) {
    write("WARNING:");
    write(message);
    switch (op.type) {
      case 'i':
        write("         Operand type is INTEGER");
        write("         Operand value = " + format_i(op.ivalue, 14));
        break;
      case 'l':
        write("         Operand type is LOGICAL");
        write(op.lvalue ? "         Operand value = .TRUE." : "         Operand value = .FALSE.");
        break;
      case 'r':
        write("         Operand type is REAL");
        write("         Operand value = " + format_e(op.rvalue, 14, 7, 1));
        break;
      case 's':
        write("         Operand type is CHARACTER");
        write("         Operand value = " + op.text);
        break;
      case 'u':
        write("         Operand type is UNKNOWN");
        write("         Operand value = " + op.text);
        break;
      default: write("         Operand type is incorrectly defined"); break;
    }
  }

  bool to_integer(const Operand& op, int& value) {
    if (op.type == 'i') {
      value = op.ivalue;
      return true;
    }
    if (op.type == 'u') {
      bool ok = false;
      IO_TOKTI(op.text, ok, value, status_);
      if (ok) return true;
    }
    report(op, "Operand not an INTEGER");
    return false;
  }

  bool to_real(const Operand& op, float& value) {
    if (op.type == 'r' || op.type == 'i') {
      value = op.type == 'r' ? op.rvalue : static_cast<float>(op.ivalue);
      return true;
    }
    if (op.type == 'u') {
      bool ok = false;
      IO_TOKTR(op.text, ok, value, status_);
      if (ok) return true;
    }
    report(op, "Operand not convertable to REAL");
    return false;
  }

  // OP as an integer or a real operand (untyped text tried as both).
  bool to_number(const Operand& op, Operand& number) {
    number = Operand{};
    if (op.type == 'i' || op.type == 'r') {
      number = op;
      number.text.clear();
      return true;
    }
    if (op.type == 'u') {
      bool ok = false;
      IO_TOKTI(op.text, ok, number.ivalue, status_);
      if (ok) return true;
      number.type = 'r';
      IO_TOKTR(op.text, ok, number.rvalue, status_);
      if (ok) return true;
    }
    report(op, "Operand not convertible to INTEGER nor REAL");
    return false;
  }

  bool to_logical(const Operand& op, bool& value) {
    if (op.type == 'l') {
      value = op.lvalue;
      return true;
    }
    if (op.type == 'u') {
      const std::string upper = IO_UPPER(op.text);
      if (upper == ".TRUE." || upper == "TRUE" || upper == ".FALSE." || upper == "FALSE") {
        value = upper == ".TRUE." || upper == "TRUE";
        return true;
      }
    }
    report(op, "Operand not a LOGICAL");
    return false;
  }

  bool to_string(const Operand& op, std::string_view message) {
    if (is_text(op)) return true;
    report(op, message);
    return false;
  }

  static Operand integer(int v) {
    Operand op;
    op.ivalue = v;
    return op;
  }
  static Operand real(float v) {
    Operand op;
    op.type = 'r';
    op.rvalue = v;
    return op;
  }
  static Operand logical(bool v) {
    Operand op;
    op.type = 'l';
    op.lvalue = v;
    return op;
  }
  static Operand string(std::string text) {
    Operand op;
    op.type = 's';
    op.text = std::move(text);
    return op;
  }

  int overflow() {
    write("WARNING: Integer overflow: the result is outside the INTEGER range");
    return 2;
  }
  int divide_by_zero() {
    write("WARNING: Integer division by zero");
    return 2;
  }
  // A real result that must become an integer: NaN, infinities and values
  // outside the integer range are refused.
  int to_int_checked(double v, int& result) {
    if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0) {
      write("WARNING: Value cannot be converted to an INTEGER: outside the INTEGER range");
      return 2;
    }
    result = static_cast<int>(v);
    return 0;
  }

  // ---- operators.

  int integer_power(int base, int exponent, int& result) {
    if (exponent < 0) {
      if (base == 0) return divide_by_zero();
      result = base == 1 ? 1 : base == -1 ? (exponent % 2 == 0 ? 1 : -1) : 0;
      return 0;
    }
    std::int64_t r = 1;
    std::int64_t b = base;
    unsigned e = static_cast<unsigned>(exponent);
    while (e != 0) {
      if (e & 1U) {
        r *= b;
        if (!fits_int(r)) return overflow();
      }
      e >>= 1U;
      if (e != 0) {
        // Another factor b*b or higher is still to come.
        if (b > 46340 || b < -46340) return overflow();
        b *= b;
      }
    }
    result = static_cast<int>(r);
    return 0;
  }

  int arithmetic(char op, const Operand& left, const Operand& right, Operand& result) {
    Operand a, b;
    if (!to_number(left, a) || !to_number(right, b)) return 2;
    if (a.type == 'i' && b.type == 'i') {
      int r = 0;
      switch (op) {
        case '+':
          if (__builtin_add_overflow(a.ivalue, b.ivalue, &r)) return overflow();
          break;
        case '-':
          if (__builtin_sub_overflow(a.ivalue, b.ivalue, &r)) return overflow();
          break;
        case '*':
          if (__builtin_mul_overflow(a.ivalue, b.ivalue, &r)) return overflow();
          break;
        case '/':
          if (b.ivalue == 0) return divide_by_zero();
          if (a.ivalue == std::numeric_limits<int>::min() && b.ivalue == -1) return overflow();
          r = a.ivalue / b.ivalue;
          break;
        default:
          if (const int s = integer_power(a.ivalue, b.ivalue, r); s != 0) return s;
          break;
      }
      result = integer(r);
      return 0;
    }
    const float x = a.type == 'r' ? a.rvalue : static_cast<float>(a.ivalue);
    const float y = b.type == 'r' ? b.rvalue : static_cast<float>(b.ivalue);
    switch (op) {
      case '+': result = real(x + y); break;
      case '-': result = real(x - y); break;
      case '*': result = real(x * y); break;
      case '/': result = real(x / y); break;
      default:
        result = real(b.type == 'i' ? real_power(x, b.ivalue)
                                    : static_cast<float>(std::pow(static_cast<double>(x),
                                                                  static_cast<double>(y))));
        break;
    }
    return 0;
  }

  int negate(const Operand& operand, Operand& result) {
    Operand a;
    if (!to_number(operand, a)) return 2;
    if (a.type == 'r') {
      result = real(-a.rvalue);
      return 0;
    }
    if (a.ivalue == std::numeric_limits<int>::min()) return overflow();
    result = integer(-a.ivalue);
    return 0;
  }

  int concatenate(const Operand& a, const Operand& b, Operand& result) {
    for (const Operand* op : {&a, &b}) {
      if (!to_string(*op, "Operand not a CHARACTER string")) {
        write("         Problem with character string concatenation (//)");
        return 2;
      }
    }
    std::string joined = a.text + b.text;
    if (!room_for_string(joined, 2)) return 2;
    result = string(std::move(joined));
    return 0;
  }

  int substring(const Operand& v, const Operand& from, const Operand& to, Operand& result) {
    int i = 0;
    int j = 0;
    if (!to_string(v, "Operand not a character string") || !to_integer(from, i) ||
        !to_integer(to, j)) {
      write("         Character sub-string problem");
      return 2;
    }
    const auto length = static_cast<std::int64_t>(v.text.size());
    // An empty range (j = i - 1) is allowed; anything reaching outside is not.
    if (i < 1 || j > length || static_cast<std::int64_t>(j) < static_cast<std::int64_t>(i) - 1) {
      write("WARNING: Sub-string range outside the character string");
      write("         Character sub-string problem");
      return 2;
    }
    result =
        string(v.text.substr(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j - i + 1)));
    return 0;
  }

  int compare(char op, const Operand& a, const Operand& b, Operand& result) {
    const auto pair = [&](char x, char y) {
      return (a.type == x && b.type == y) || (a.type == y && b.type == x);
    };
    enum class Kind { kInteger, kReal, kLogical, kString, kNone } kind = Kind::kNone;
    if (is_text(a) && is_text(b))
      kind = Kind::kString;
    else if (pair('i', 'i') || pair('i', 'u'))
      kind = Kind::kInteger;
    else if (pair('r', 'r') || pair('r', 'i') || pair('r', 'u'))
      kind = Kind::kReal;
    else if (pair('l', 'l') || pair('l', 'u'))
      kind = Kind::kLogical;
    switch (kind) {
      case Kind::kNone:
        write("WARNING: Incompatible operand types for relational comparison");
        return 2;
      case Kind::kString:
        result = logical(relation(op, compare_padded(a.text, b.text), 0));
        return 0;
      case Kind::kInteger: {
        int x = 0;
        int y = 0;
        if (!to_integer(a, x) || !to_integer(b, y)) return 2;
        result = logical(relation(op, x, y));
        return 0;
      }
      case Kind::kReal: {
        float x = 0;
        float y = 0;
        if (!to_real(a, x) || !to_real(b, y)) return 2;
        result = logical(relation(op, x, y));
        return 0;
      }
      case Kind::kLogical: {
        if (op != '=' && op != '~') {
          write("WARNING: Relational comparison not allowed on LOGICAL variables");
          return 2;
        }
        bool x = false;
        bool y = false;
        if (!to_logical(a, x) || !to_logical(b, y)) return 2;
        result = logical(relation(op, x, y));
        return 0;
      }
    }
    return 2;
  }

  int logical_operation(char op, const Operand& a, const Operand& b, Operand& result) {
    bool x = false;
    bool y = false;
    if (!to_logical(a, x) || !to_logical(b, y)) return 2;
    switch (op) {
      case '&': result = logical(x && y); break;
      case '|': result = logical(x || y); break;
      case '@': result = logical(x == y); break;
      default: result = logical(x != y); break;  // ';'
    }
    return 0;
  }

  int binary(char op, const Operand& a, const Operand& b, Operand& result) {
    switch (op) {
      case '^':
      case '*':
      case '/':
      case '+':
      case '-': return arithmetic(op, a, b, result);
      case '%': return concatenate(a, b, result);
      case '&':
      case '|':
      case '@':
      case ';': return logical_operation(op, a, b, result);
      default: return compare(op, a, b, result);
    }
  }

  // ---- intrinsic functions.

  int unknown_function() {
    write("ERROR: Unknown function");
    return 2;
  }

  int function1(const std::string& name, const Operand& a, Operand& result) {
    using RealFunction = float (*)(float);
    static constexpr std::array<std::pair<std::string_view, RealFunction>, 15> kReal = {{
        {"ACOS", [](float x) { return std::acos(x); }},
        {"ASIN", [](float x) { return std::asin(x); }},
        {"ATAN", [](float x) { return std::atan(x); }},
        {"COS", [](float x) { return std::cos(x); }},
        {"COSH", [](float x) { return std::cosh(x); }},
        {"EXP", [](float x) { return std::exp(x); }},
        {"LOG", [](float x) { return std::log(x); }},
        {"LOG10", [](float x) { return std::log10(x); }},
        {"SIN", [](float x) { return std::sin(x); }},
        {"SINH", [](float x) { return std::sinh(x); }},
        {"SQRT", [](float x) { return std::sqrt(x); }},
        {"TAN", [](float x) { return std::tan(x); }},
        {"TANH", [](float x) { return std::tanh(x); }},
        {"AINT", [](float x) { return std::trunc(x); }},
        {"ANINT", [](float x) { return std::round(x); }},
    }};
    for (const auto& [fname, f] : kReal) {
      if (name != fname) continue;
      float x = 0;
      if (!to_real(a, x)) return 2;
      result = real(f(x));
      return 0;
    }
    if (name == "ABS" || name == "INT" || name == "NINT" || name == "REAL") {
      Operand n;
      if (!to_number(a, n)) return 2;
      if (name == "REAL") {
        result = real(n.type == 'r' ? n.rvalue : static_cast<float>(n.ivalue));
      } else if (name == "ABS") {
        if (n.type == 'r') {
          result = real(std::fabs(n.rvalue));
        } else {
          if (n.ivalue == std::numeric_limits<int>::min()) return overflow();
          result = integer(std::abs(n.ivalue));
        }
      } else if (n.type == 'i') {
        result = n;
      } else {
        const double v = name == "INT" ? std::trunc(static_cast<double>(n.rvalue))
                                       : std::round(static_cast<double>(n.rvalue));
        int r = 0;
        if (const int s = to_int_checked(v, r); s != 0) return s;
        result = integer(r);
      }
      return 0;
    }
    if (name == "CHAR") {
      int code = 0;
      if (!to_integer(a, code)) return 2;
      if (code < 0 || code > 255) {
        write("WARNING: CHAR argument outside the range 0 to 255");
        return 2;
      }
      std::string text(1, static_cast<char>(static_cast<unsigned char>(code)));
      if (!room_for_string(text)) return 2;
      result = string(std::move(text));
      return 0;
    }
    if (name == "ICHAR" || name == "LEN" || name == "LEN_TRIM") {
      const std::string problem = "         Problem with " + name + " function operand";
      if (!to_string(a, "Operand not convertible to CHARACTER string")) {
        write(problem);
        return 2;
      }
      if (name == "LEN") {
        result = integer(static_cast<int>(a.text.size()));
      } else if (name == "LEN_TRIM") {
        result = integer(static_cast<int>(without_trailing_blanks(a.text).size()));
      } else {
        if (a.text.empty()) {
          write("WARNING: Empty character string has no first character");
          write(problem);
          return 2;
        }
        result = integer(static_cast<unsigned char>(a.text.front()));
      }
      return 0;
    }
    return unknown_function();
  }

  int function2(const std::string& name, const Operand& a, const Operand& b, Operand& result) {
    if (name == "ATAN2") {
      float y = 0;
      float x = 0;
      if (!to_real(a, y) || !to_real(b, x)) return 2;
      result = real(std::atan2(y, x));
      return 0;
    }
    if (name == "DIM" || name == "MAX" || name == "MIN" || name == "MOD" || name == "SIGN") {
      Operand x, y;
      if (!to_number(a, x) || !to_number(b, y)) return 2;
      if (x.type != y.type) {
        write("WARNING: Differing data type for " + name + " function");
        return 2;
      }
      if (x.type == 'r') {
        const float p = x.rvalue;
        const float q = y.rvalue;
        if (name == "DIM") result = real(p > q ? p - q : 0.0f);
        if (name == "MAX") result = real(std::max(p, q));
        if (name == "MIN") result = real(std::min(p, q));
        if (name == "MOD") result = real(std::fmod(p, q));
        if (name == "SIGN") result = real(q < 0 ? -std::fabs(p) : std::fabs(p));
        return 0;
      }
      const int p = x.ivalue;
      const int q = y.ivalue;
      int r = 0;
      if (name == "DIM") {
        if (p > q && __builtin_sub_overflow(p, q, &r)) return overflow();
      } else if (name == "MAX") {
        r = std::max(p, q);
      } else if (name == "MIN") {
        r = std::min(p, q);
      } else if (name == "MOD") {
        if (q == 0) {
          write("WARNING: Integer MOD with a zero divisor");
          return 2;
        }
        r = q == -1 ? 0 : p % q;
      } else {
        if (p == std::numeric_limits<int>::min()) return overflow();
        r = q < 0 ? -std::abs(p) : std::abs(p);
      }
      result = integer(r);
      return 0;
    }
    if (name == "INDEX" || name == "LGE" || name == "LGT" || name == "LLE" || name == "LLT") {
      if (!to_string(a, "Operand not convertible to CHARACTER string") ||
          !to_string(b, "Operand not convertible to CHARACTER string"))
        return 2;
      if (name == "INDEX") {
        const std::size_t at = a.text.find(b.text);
        result = integer(at == std::string::npos ? 0 : static_cast<int>(at + 1));
      } else {
        const int c = compare_padded(a.text, b.text);
        result = logical(name == "LGE"   ? c >= 0
                         : name == "LGT" ? c > 0
                         : name == "LLE" ? c <= 0
                                         : c < 0);
      }
      return 0;
    }
    return unknown_function();
  }

  int function_many(const std::string& name, std::span<const Operand> args, Operand& result) {
    if (name != "MAX" && name != "MIN") {
      write("WARNING: Unknown multi-operand function: " + name);
      return 2;
    }
    std::vector<Operand> numbers(args.size());
    bool any_real = false;
    for (std::size_t k = 0; k < args.size(); ++k) {
      if (!to_number(args[k], numbers[k])) {
        write("         Problem with multi-operand function operand: " + value_text(args[k]));
        return 2;
      }
      any_real = any_real || numbers[k].type == 'r';
    }
    const bool maximum = name == "MAX";
    if (any_real) {
      float r = 0;
      for (std::size_t k = 0; k < numbers.size(); ++k) {
        const float v =
            numbers[k].type == 'r' ? numbers[k].rvalue : static_cast<float>(numbers[k].ivalue);
        r = k == 0 ? v : maximum ? std::max(r, v) : std::min(r, v);
      }
      result = real(r);
    } else {
      int r = 0;
      for (std::size_t k = 0; k < numbers.size(); ++k)
        r = k == 0    ? numbers[k].ivalue
            : maximum ? std::max(r, numbers[k].ivalue)
                      : std::min(r, numbers[k].ivalue);
      result = integer(r);
    }
    return 0;
  }

  // ---- reduction pass.

  std::size_t operands_before(std::size_t p) const {
    return static_cast<std::size_t>(std::count(form_.begin(), form_.begin() + p, 'o'));
  }
  std::size_t functions_before(std::size_t p) const {
    return static_cast<std::size_t>(std::count(form_.begin(), form_.begin() + p, 'f'));
  }

  // Replaces FORM_[p, p+n) by one operand holding RESULT, which takes the
  // place of operand K and of the COUNT-1 operands after it.
  void collapse(std::size_t p, std::size_t n, std::size_t k, std::size_t count, Operand result) {
    operands_[k] = std::move(result);
    operands_.erase(operands_.begin() + static_cast<std::ptrdiff_t>(k + 1),
                    operands_.begin() + static_cast<std::ptrdiff_t>(k + count));
    form_.replace(p, n, "o");
  }

  // The end of "f(o,o,o" followed by any number of ",o" and ")" at P, or npos.
  std::size_t many_call_end(std::size_t p) const {
    if (form_.compare(p, 7, "f(o,o,o") != 0) return std::string::npos;
    std::size_t q = p + 7;
    while (form_.compare(q, 2, ",o") == 0) q += 2;
    return q < form_.size() && form_[q] == ')' ? q : std::string::npos;
  }

  int call(std::size_t p, std::size_t n, std::size_t count) {
    const std::size_t k = operands_before(p);
    const std::size_t fi = functions_before(p);
    const std::string name = functions_[fi];
    Operand result;
    int r = 0;
    if (count == 1)
      r = function1(name, operands_[k], result);
    else if (count == 2)
      r = function2(name, operands_[k], operands_[k + 1], result);
    else
      r = function_many(name, std::span<const Operand>(operands_).subspan(k, count), result);
    if (r != 0) return r;
    functions_.erase(functions_.begin() + static_cast<std::ptrdiff_t>(fi));
    collapse(p, n, k, count, std::move(result));
    return 0;
  }

  int no_reduction() {
    if (form_.find("oo") != std::string::npos)
      write("WARNING: Syntax error: Missing operator");
    else
      write("WARNING: Could not fully process statement");
    return 2;
  }

  int reduce_once() {
    if (const std::size_t p = form_.find("o(o:o)"); p != std::string::npos) {
      const std::size_t k = operands_before(p);
      Operand result;
      if (const int r = substring(operands_[k], operands_[k + 1], operands_[k + 2], result); r != 0)
        return r;
      collapse(p, 6, k, 3, std::move(result));
      return 0;
    }
    for (std::size_t p = form_.find('f'); p != std::string::npos; p = form_.find('f', p + 1)) {
      if (const std::size_t q = many_call_end(p); q != std::string::npos)
        return call(p, q - p + 1, (q - p - 1) / 2);
    }
    if (const std::size_t p = form_.find("f(o)"); p != std::string::npos) return call(p, 4, 1);
    if (const std::size_t p = form_.find("f(o,o)"); p != std::string::npos) return call(p, 6, 2);
    if (const std::size_t p = form_.find("(o)"); p != std::string::npos) {
      form_.replace(p, 3, "o");
      return 0;
    }
    // The operator that binds tightest, leftmost among those of that level.
    std::size_t best = std::string::npos;
    int best_level = 0;
    bool best_unary = false;
    for (std::size_t p = 0; p < form_.size(); ++p) {
      if (!is_operator(form_[p])) continue;
      bool unary = false;
      const int level = level_at(form_, p, unary);
      if ((best == std::string::npos || level < best_level) && applicable(form_, p, level, unary)) {
        best = p;
        best_level = level;
        best_unary = unary;
      }
    }
    if (best == std::string::npos) return no_reduction();
    const std::size_t p = best;
    Operand result;
    if (best_unary) {
      const std::size_t k = operands_before(p);
      const int r =
          form_[p] == '-' ? negate(operands_[k], result) : logical_not(operands_[k], result);
      if (r != 0) return r;
      collapse(p, 2, k, 1, std::move(result));
      return 0;
    }
    const std::size_t k = operands_before(p) - 1;
    if (const int r = binary(form_[p], operands_[k], operands_[k + 1], result); r != 0) return r;
    collapse(p - 1, 3, k, 2, std::move(result));
    return 0;
  }

  int logical_not(const Operand& a, Operand& result) {
    bool x = false;
    if (!to_logical(a, x)) return 2;
    result = logical(!x);
    return 0;
  }

  Status& status_;
  std::string form_;
  std::vector<Operand> operands_;
  std::vector<std::string> functions_;
};

}  // namespace

void IO_EVALUATE(int length, std::string_view expression, int& retstat, char& type, int& ivalue,
                 bool& lvalue, float& rvalue, int& slength, std::string& svalue, Status& status) {
  if (st_bad(status, "Subroutine IO_EVALUATE V0.7")) return;
  const std::size_t n = std::min(static_cast<std::size_t>(std::max(length, 0)), expression.size());
  if (n > kExpressionLength) {
    IO_WRITE("WARNING: Expression longer than 2000 characters", status);
    retstat = 2;
    return;
  }
  Evaluator evaluator(status);
  Operand result;
  retstat = evaluator.run(std::string(expression.substr(0, n)), result);
  if (retstat != 0) return;
  type = result.type;
  switch (type) {
    case 'i': ivalue = result.ivalue; break;
    case 'l': lvalue = result.lvalue; break;
    case 'r': rvalue = result.rvalue; break;
    default:
      svalue = result.text;
      slength = static_cast<int>(result.text.size());
      break;
  }
}

}  // namespace kesta
