#include "app/main/calculator.hpp"

#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "app/main/kzt_common.hpp"
#include "app/main/utility_commands.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

constexpr float kPi = 3.1415925f;
constexpr float kToRadians = kPi / 180.0f;
constexpr float kToDegrees = 180.0f / kPi;
// Photon energy in keV times wavelength in Angstroms.
constexpr float kEnergyWavelength = 12.39852f;

KztCalculator& calc() { return kzt_calculator; }

void say(std::string_view line, Status& status) { IO_WRITE(line, status); }

// "PREFIX" followed by the real and imaginary parts as 2(1PG14.7).
std::string value_line(std::string_view prefix, CalcValue v) {
  return std::string(prefix) + format_g(v.real(), 14, 7, 1) + format_g(v.imag(), 14, 7, 1);
}

CalcValue& top() { return calc().stack[static_cast<std::size_t>(calc().count - 1)]; }

void push(CalcValue v) { KZT_PUSHSTACK(v, kCalcStackSize, calc().count, calc().stack.data()); }

void show_top(Status& status) {
  if (calc().count > 0) say(value_line("RESULT: ", top()), status);
}

bool finite(CalcValue v) { return std::isfinite(v.real()) && std::isfinite(v.imag()); }

// Operations on the top value T (and the value L below it): false, after one
// warning line, when the operation is refused.
using Unary = bool (*)(CalcValue t, CalcValue& result, Status& status);
using Binary = bool (*)(CalcValue t, CalcValue l, CalcValue& result, Status& status);

// The result replaces the operands and is shown; a result that is not finite
// is refused, so the stack never holds one.
bool accept(CalcValue result, Status& status) {
  if (finite(result)) return true;
  say("WARNING: The result is not a finite number; the stack is unchanged", status);
  return false;
}

template <Unary F>
void unary(KztCalculator&, Status& status) {
  CalcValue result;
  if (!F(top(), result, status) || !accept(result, status)) return;
  top() = result;
  show_top(status);
}

template <Binary F>
void binary(KztCalculator& c, Status& status) {
  const CalcValue t = top();
  const CalcValue l = c.stack[static_cast<std::size_t>(c.count - 2)];
  CalcValue result;
  if (!F(t, l, result, status) || !accept(result, status)) return;
  --c.count;
  top() = result;
  show_top(status);
}

// The real-part operations say once that the imaginary part does not count.
float real_part(CalcValue t, Status& status) {
  if (t.imag() != 0.0f)
    say("WARNING: Imaginary part of number will be ignored for this operation", status);
  return t.real();
}

bool is_zero(CalcValue v) { return v == CalcValue(0.0f, 0.0f); }

bool add(CalcValue t, CalcValue l, CalcValue& r, Status&) { return r = l + t, true; }
bool subtract(CalcValue t, CalcValue l, CalcValue& r, Status&) { return r = t - l, true; }
bool multiply(CalcValue t, CalcValue l, CalcValue& r, Status&) { return r = l * t, true; }
bool divide(CalcValue t, CalcValue l, CalcValue& r, Status& status) {
  if (is_zero(l)) {
    say("WARNING: Division by 0.0 is not possible", status);
    return false;
  }
  return r = t / l, true;
}
bool maximum(CalcValue t, CalcValue l, CalcValue& r, Status&) {
  return r = CalcValue(std::max(t.real(), l.real()), 0.0f), true;
}
bool minimum(CalcValue t, CalcValue l, CalcValue& r, Status&) {
  return r = CalcValue(std::min(t.real(), l.real()), 0.0f), true;
}
bool power(CalcValue t, CalcValue l, CalcValue& r, Status& status) {
  // The library's power of 0 is 0 for every exponent.
  if (is_zero(l)) {
    if (is_zero(t)) return r = CalcValue(1.0f, 0.0f), true;
    if (t.real() > 0.0f) return r = CalcValue(0.0f, 0.0f), true;
    say("WARNING: 0.0 cannot be raised to a power whose real part is not above 0.0", status);
    return false;
  }
  return r = std::pow(l, t), true;
}
// Integer parts within the 32-bit range only.
bool integer_part(float x, int& value) {
  const float whole = std::trunc(x);
  if (!(whole >= -2147483648.0f && whole < 2147483648.0f)) return false;
  value = static_cast<int>(whole);
  return true;
}
bool modulus(CalcValue t, CalcValue l, CalcValue& r, Status& status) {
  int top_int = 0;
  int lower_int = 0;
  if (!integer_part(t.real(), top_int) || !integer_part(l.real(), lower_int)) {
    say("WARNING: MODULUS needs values within the 32-bit integer range", status);
    return false;
  }
  if (lower_int == 0) {
    say("WARNING: The remainder of a division by 0 is not defined", status);
    return false;
  }
  // -2147483648 mod -1 is 0, which the division itself could not give.
  const auto remainder = static_cast<std::int64_t>(top_int) % lower_int;
  return r = CalcValue(static_cast<float>(remainder), 0.0f), true;
}

bool reciprocal(CalcValue t, CalcValue& r, Status& status) {
  if (is_zero(t)) {
    say("WARNING: The reciprocal of 0.0 is not defined", status);
    return false;
  }
  return r = 1.0f / t, true;
}
bool absolute(CalcValue t, CalcValue& r, Status&) { return r = std::abs(t), true; }
bool inverse_trig(CalcValue t, CalcValue& r, Status& status, float (*f)(float)) {
  const float x = real_part(t, status);
  if (!(x >= -1.0f && x <= 1.0f)) {
    say("WARNING: Arc sine and arc cosine need a value from -1.0 to 1.0", status);
    return false;
  }
  return r = f(x) * kToDegrees, true;
}
bool arccosine(CalcValue t, CalcValue& r, Status& s) { return inverse_trig(t, r, s, std::acos); }
bool arcsine(CalcValue t, CalcValue& r, Status& s) { return inverse_trig(t, r, s, std::asin); }
bool arctangent(CalcValue t, CalcValue& r, Status& status) {
  return r = std::atan(real_part(t, status)) * kToDegrees, true;
}
bool cosine(CalcValue t, CalcValue& r, Status&) { return r = std::cos(t * kToRadians), true; }
bool sine(CalcValue t, CalcValue& r, Status&) { return r = std::sin(t * kToRadians), true; }
bool tangent(CalcValue t, CalcValue& r, Status& status) {
  return r = std::tan(real_part(t, status) * kToRadians), true;
}
bool photon(CalcValue t, CalcValue& r, Status& status, std::string_view refusal) {
  if (t.real() == 0.0f) {
    say(refusal, status);
    return false;
  }
  return r = kEnergyWavelength / t, true;
}
bool energy(CalcValue t, CalcValue& r, Status& s) {
  return photon(t, r, s, "WARNING: Wavelength cannot be 0.0");
}
bool wavelength(CalcValue t, CalcValue& r, Status& s) {
  return photon(t, r, s, "WARNING: Energy cannot be 0.0");
}
bool exponential(CalcValue t, CalcValue& r, Status&) { return r = std::exp(t), true; }
bool truncate(CalcValue t, CalcValue& r, Status&) { return r = std::trunc(t.real()), true; }
bool natural_log(CalcValue t, CalcValue& r, Status& status) {
  if (is_zero(t)) {
    say("WARNING: The logarithm of 0.0 is not defined", status);
    return false;
  }
  return r = std::log(t), true;
}
bool logarithm(CalcValue t, CalcValue& r, Status& status) {
  const float x = real_part(t, status);
  if (!(x > 0.0f)) {
    say("WARNING: The base 10 logarithm needs a real part above 0.0", status);
    return false;
  }
  return r = std::log10(x), true;
}
bool negation(CalcValue t, CalcValue& r, Status&) { return r = -t, true; }
bool square_root(CalcValue t, CalcValue& r, Status&) { return r = std::sqrt(t), true; }

void help_list(KztCalculator&, Status& status);

void clear(KztCalculator& c, Status&) { c.count = 0; }
void duplicate(KztCalculator&, Status& status) {
  push(top());
  show_top(status);
}
void exchange(KztCalculator& c, Status& status) {
  std::swap(top(), c.stack[static_cast<std::size_t>(c.count - 2)]);
  show_top(status);
}
void show_memory(KztCalculator& c, Status& status) {
  say(value_line("MEMORY: ", c.memory), status);
}
void push_pi(KztCalculator&, Status& status) {
  push(kPi);
  show_top(status);
}
void pop(KztCalculator& c, Status& status) {
  if (c.count == 0) {
    say("The stack is empty !", status);
    return;
  }
  --c.count;
  show_top(status);
}
void push_copy(KztCalculator& c, Status& status) {
  push(c.count > 0 ? top() : CalcValue());
  show_top(status);
}
template <int N>
void recall_register(KztCalculator& c, Status& status) {
  push(c.registers[N - 1]);
  show_top(status);
}
template <int N>
void store_register(KztCalculator& c, Status&) {
  c.registers[N - 1] = top();
}
void recall_memory(KztCalculator& c, Status& status) {
  push(c.memory);
  show_top(status);
}
void show_registers(KztCalculator& c, Status& status) {
  for (int i = 0; i < 4; ++i)
    say(value_line("REGISTER " + IO_ITOC(i + 1) + ": ", c.registers[static_cast<std::size_t>(i)]),
        status);
}
void show_stack(KztCalculator& c, Status& status) {
  for (int i = 0; i < c.count; ++i)
    say(value_line("Element " + format_i(i + 1, 2) + " = ", c.stack[static_cast<std::size_t>(i)]),
        status);
}
void store_memory(KztCalculator& c, Status&) { c.memory = top(); }
void variable(KztCalculator& c, Status& status);

using Action = void (*)(KztCalculator&, Status&);

struct Operator {
  const char* name;
  const char* help;
  int operands;   // values the operator needs on the stack
  Action action;  // nullptr: leaves the calculator
};

const Operator kOperators[] = {
    {"?", "?: List of avialable operators and commands", 0, help_list},
    {"+", "+: Add top two elements of stack", 2, binary<add>},
    {"ADDITION", "ADDITION: Add top two elements of stack", 2, binary<add>},
    {"-", "-: Subtract lower element of stack from top element", 2, binary<subtract>},
    {"SUBTRACTION", "SUBTRACTION: Subtract lower element from top element", 2, binary<subtract>},
    {"*", "*: Multiple top two elements of stack", 2, binary<multiply>},
    {"MULTIPLICATION", "MULTIPLICATION: Multiple top two elements of stack", 2, binary<multiply>},
    {"/", "/: Divide top element of stack by lower element", 2, binary<divide>},
    {"DIVISION", "DIVISION: Divide top element of stack by lower element", 2, binary<divide>},
    {"1/X", "1/X: Form reciprocal of top of stack", 1, unary<reciprocal>},
    {"RECIPROCAL", "RECIPROCAL: 1/x, reciprocal of top element", 1, unary<reciprocal>},
    {"ABSOLUTE", "ABSOLUTE: Absolute value of top element: Sqrt(r**2 + i**2)", 1, unary<absolute>},
    {"ARCCOSINE", "ARCCOSINE: Take Arc Cosine of top element of stack", 1, unary<arccosine>},
    {"ACOSINE", "ACOSINE: (Same as \"ARCCOSINE\")", 1, unary<arccosine>},
    {"ARCSINE", "ARCSINE: Take Arc Sine of top element of stack", 1, unary<arcsine>},
    {"ASINE", "ASINE: (Same as \"ARCSINE\")", 1, unary<arcsine>},
    {"ARCTANGENT", "ARCTANGENT: Take Arc Tangent of top element of stack", 1, unary<arctangent>},
    {"ATANGENT", "ATANGENT: (Same as \"ARCTANGENT\")", 1, unary<arctangent>},
    {"CLEAR", "CLEAR: Clear stack (remove all elements)", 0, clear},
    {"COSINE", "COSINE: Take cosine of top element of stack", 1, unary<cosine>},
    {"DUPLICATE", "DUPLICATE: Copy top of stack onto stack", 1, duplicate},
    {"ENERGY", "ENERGY: Convert wavelength (Angstroms) to photon energy (KeV)", 1, unary<energy>},
    {"EXCHANGE", "EXCHANGE: Swap top two elements of stack", 2, exchange},
    {"EXIT", "EXIT: Exit fit sub-menu", 0, nullptr},
    {"QUIT", "QUIT: Exit calculator sub-menu", 0, nullptr},
    {"EXPONENTIAL", "EXPONENTIAL: e to the power of the top element of stack", 1,
     unary<exponential>},
    {"INTEGER", "INTEGER: Truncate value to an integer", 1, unary<truncate>},
    {"LN", "LN: Take natural logarithm  of top element", 1, unary<natural_log>},
    {"LOGARITHM", "LOGARITHM: Take logarithm base 10 of top element", 1, unary<logarithm>},
    {"MAXIMUM", "MAXIMUM: Maximum of top two elements of the stack", 2, binary<maximum>},
    {"MINIMUM", "MINIMUM: Minimum of top two elements of the stack", 2, binary<minimum>},
    {"MEMORY", "MEMORY: Output value of memory", 0, show_memory},
    {"MODULUS", "MODULUS: Remainder when top of stack divided by lower value", 2, binary<modulus>},
    {"NEGATION", "NEGATION: Multiple top element by -1.0", 1, unary<negation>},
    {"PI", "PI: Ratio of circumference to diameter of a circle on stack", 0, push_pi},
    {"POP", "POP: Remove top element from stack", 0, pop},
    {"POWER", "POWER: Raise lower element to the power of the top element", 2, binary<power>},
    {"PUSH", "PUSH: Duplicate top element (adds to stack)", 0, push_copy},
    {"R1", "R1: Place value from register 1 onto stack", 0, recall_register<1>},
    {"R2", "R2: Place value from register 2 onto stack", 0, recall_register<2>},
    {"R3", "R3: Place value from register 3 onto stack", 0, recall_register<3>},
    {"R4", "R4: Place value from register 4 onto stack", 0, recall_register<4>},
    {"RECALL", "RECALL: Place value from memory onto stack", 0, recall_memory},
    {"REGISTERS", "REGISTERS: Values of current registers", 0, show_registers},
    {"S1", "S1: Store top element in register 1", 1, store_register<1>},
    {"S2", "S2: Store top element in register 2", 1, store_register<2>},
    {"S3", "S3: Store top element in register 3", 1, store_register<3>},
    {"S4", "S4: Store top element in register 4", 1, store_register<4>},
    {"SINE", "SINE: Take sine of top element of stack", 1, unary<sine>},
    {"SQUARE ROOT", "SQUARE ROOT: Replace top element by its square root", 1, unary<square_root>},
    {"SQRT", "SQRT: (Same as \"SQUARE ROOT\")", 1, unary<square_root>},
    {"STACK", "STACK: Shows contents of the stack", 0, show_stack},
    {"STORE", "STORE: Save value of top element in memory", 1, store_memory},
    {"TANGENT", "TANGENT: Take tangent of top element of stack", 1, unary<tangent>},
    {"VARIABLE", "VARIABLE: Store top of stack as a named program variable", 0, variable},
    {"SYMBOL", "SYMBOL: (Same as the \"VARIABLE\" command)", 0, variable},
    {"WAVELENGTH", "WAVELENGTH: Photon energy (keV) to wavelength (Angstroms)", 1,
     unary<wavelength>},
};
static_assert(std::size(kOperators) == 57);

const std::vector<std::string>& operator_column(bool help) {
  static const auto column = [](bool want_help) {
    std::vector<std::string> out;
    for (const Operator& op : kOperators) out.emplace_back(want_help ? op.help : op.name);
    return out;
  };
  static const std::vector<std::string> names = column(false);
  static const std::vector<std::string> helps = column(true);
  return help ? helps : names;
}

void help_list(KztCalculator&, Status& status) { IO_TEXT(operator_column(true), status); }

// VARIABLE: the top's real part as an integer variable when it is whole to
// within 1.0E-5 (and an integer can hold it), else as a real variable.
void variable(KztCalculator& c, Status& status) {
  if (c.count == 0) {
    say("WARNING: No value is defined", status);
    return;
  }
  std::string name = "#VALUE";
  if (const int count = kzt_variable_count(status); count > 0) {
    c.last_variable = c.last_variable % count + 1;
    name = kzt_variable_name(c.last_variable, status);
  }
  IO_INPTOKEN(true, "ENTER VARIABLE NAME", {"Enter name of internal variable to define"},
              {"Enter string"}, kRawNameMode, name, status);
  if (status != kStatusGood) return;
  const float x = top().real();
  const float nearest = std::round(x);
  int whole = 0;
  if (std::abs(x - nearest) <= 1.0e-5f && integer_part(nearest, whole))
    kzt_set_variable(name, 'i', whole, false, 0.0f, "", status);
  else
    kzt_set_variable(name, 'r', 0, false, x, "", status);
  if (const int k = IO_VAR_NUMBER(name, status); k > 0) c.last_variable = k;
}

// A line that begins with a number pushes it (a second number is the
// imaginary part); true when the line was a value.
bool push_value(std::string_view line, Status& status) {
  bool all_found = false;
  int num_tokens = 0;
  std::vector<std::string> tokens;
  IO_TOKENS(line, 3, all_found, num_tokens, tokens, status);
  if (status != kStatusGood || num_tokens < 1) return false;
  bool ok = false;
  float re = 0.0f;
  IO_TOKTR(tokens[0], ok, re, status);
  if (!ok) return false;
  float im = 0.0f;
  if (num_tokens == 2) {
    float value = 0.0f;
    IO_TOKTR(tokens[1], ok, value, status);
    if (ok) im = value;
  }
  push(CalcValue(re, im));
  return true;
}

// Carries out one answer line; false when it leaves the calculator.
bool carry_out(std::string line, Status& status) {
  const std::string used(used_text(line));
  const std::size_t first = used.find_first_not_of(" \t");
  if (first == std::string::npos) return true;
  std::string entry = used.substr(first);
  if (entry == "+" || entry == "-" || entry == "*" || entry == "/") {
    // The single characters stand for their operators.
  } else if (push_value(entry, status)) {
    return true;
  }
  int result = -1;
  std::string command;
  const std::vector<std::string>& names = operator_column(false);
  IO_COMMAND(IO_UPPER(entry), names, static_cast<int>(names.size()), result, command, status);
  if (status != kStatusGood) return true;
  if (result == -2) {
    say("WARNING: Entered command is ambiguous. Please enter more letters.", status);
    return true;
  }
  if (result != 0) {
    IO_TEXT({"WARNING: Entered text does not correspond to any of the available choices.",
             "Please enter a command from the menu."},
            status);
    return true;
  }
  for (const Operator& op : kOperators) {
    if (command != op.name) continue;
    if (op.action == nullptr) return false;
    if (op.operands > calc().count) {
      say("Not enough operands for operator", status);
      return true;
    }
    op.action(calc(), status);
    return true;
  }
  return true;
}

}  // namespace

void KZT_PUSHSTACK(CalcValue value, int max, int& count, CalcValue* stack) {
  if (max < 1) return;
  if (count >= max) {
    std::move(stack + 1, stack + max, stack);
    count = max - 1;
  }
  stack[count++] = value;
}

void KZT_CALCULATOR(Status& status) {
  if (st_bad(status, "Subroutine KZT_CALCULATOR V0.3")) return;
  while (true) {
    std::string line;
    // "?" is an operator here, so it reaches the calculator as typed.
    IO_INPC(false, "ENTER VALUE OR OPERATOR",
            {"Enter a value to put it onto the stack or enter an operator to perform",
             "an operation on existing values on the stack. Enter ? for list of",
             "available operators and commands."},
            {"Enter a value or an operator"}, 1, line, status);
    if (status == kStatusGood && !carry_out(line, status)) return;
    if (status == kStatusGood) continue;
    // The end of the input leaves: there is nobody left to answer.
    if (kzt_escape_at_end(status)) return;
    if (status == kStatusEscape) {
      ST_DEF_SYSTEM(status);
      continue;
    }
    if (!kzt_reset_status(status)) return;
  }
}

}  // namespace kesta
