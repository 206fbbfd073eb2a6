#include "core/expression.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/test_support.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

struct Result {
  int retstat = -1;
  char type = '?';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  std::string svalue;
  std::string output;  // what the evaluation wrote to the terminal
};

Result evaluate(const std::string& expression) {
  testing::TerminalCapture capture;
  Result r;
  Status status = kStatusGood;
  int slength = -1;
  IO_EVALUATE(static_cast<int>(expression.size()), expression, r.retstat, r.type, r.ivalue,
              r.lvalue, r.rvalue, slength, r.svalue, status);
  EXPECT_EQ(status, kStatusGood) << expression;
  if (r.retstat == 0 && (r.type == 's' || r.type == 'u')) {
    EXPECT_EQ(slength, static_cast<int>(r.svalue.size())) << expression;
  }
  r.output = capture.text();
  return r;
}

void set_integer(const std::string& name, int value) {
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE(name, 'i', value, false, 0.0f, 0, "", retstat, status);
  ASSERT_EQ(retstat, 0);
}

void set_text(const std::string& name, char type, const std::string& text) {
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE(name, type, 0, false, 0.0f, static_cast<int>(text.size()), text, retstat, status);
  ASSERT_EQ(retstat, 0);
}

class ExpressionTest : public ::testing::Test {
 protected:
  void SetUp() override { io_clear_variables(); }
  void TearDown() override { io_clear_variables(); }
};

TEST_F(ExpressionTest, IntegerArithmeticPrecedenceAndOrder) {
  set_integer("a", 10);
  set_integer("b", 4);
  set_integer("c", 3);
  set_integer("X1E", 5);
  const struct {
    const char* expression;
    int value;
  } cases[] = {
      {"a-b+c", 9}, {"7/2*2", 6}, {"2**3**2", 64}, {"2^3^2", 64}, {"-2**2", -4}, {"2*-3", -6},
      {"1+2*(3+4)", 15}, {"(1+2)*3", 9}, {"10-2-3", 5}, {"100/10/5", 2}, {"2*3^2", 18},
      {"-3^2+10", 1}, {"2*-3^2", -18}, {"-7/2", -3}, {"7/-2", -3}, {"2--3", 5}, {"X1E-3", 2},
      {"((2))", 2}, {"2^-1", 0}, {"1**-5", 1}, {"(-1)**-3", -1}, {"(-1)**-4", 1}, {"0**0", 1},
      {"(-2)**31", -2147483647 - 1}, {"2**30", 1073741824}, {"2*3+4*5", 26}, {"2**2*3", 12},
      {"-2*-2", 4}, {"-(1+2)*3", -9}, {"1-2-3", -4}, {"46341*46340", 2147441940},
      // The most negative integer written as it stands.
      {"-2147483648", -2147483647 - 1}, {"(-2147483648)", -2147483647 - 1},
      {"1+-2147483648", -2147483647}, {"-2147483648+2147483647", -1},
  };
  for (const auto& c : cases) {
    const Result r = evaluate(c.expression);
    ASSERT_EQ(r.retstat, 0) << c.expression << "\n" << r.output;
    EXPECT_EQ(r.type, 'i') << c.expression;
    EXPECT_EQ(r.ivalue, c.value) << c.expression;
    EXPECT_EQ(r.output, "") << c.expression;
  }
}

TEST_F(ExpressionTest, RealAndMixedArithmetic) {
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE("a", 'r', 0, false, 8.0f, 0, "", retstat, status);
  IO_SET_VARIABLE("b", 'r', 0, false, 2.0f, 0, "", retstat, status);
  IO_SET_VARIABLE("c", 'r', 0, false, 4.0f, 0, "", retstat, status);
  const struct {
    const char* expression;
    float value;
  } cases[] = {
      {"a/b*c", 16.0f},   {"1.5E-3*2", 0.003f}, {"2*1.5e-3", 0.003f},
      {"(2E-3)", 0.002f}, {"1+0.5", 1.5f},      {"7/2.0", 3.5f},
      {"2.0**3", 8.0f},   {"4.0**-1", 0.25f},   {"2**0.5", std::sqrt(2.0f)},
      {"-1.5*2", -3.0f},  {"2.5d0*2", 5.0f},    {"1E+3", 1000.0f},
  };
  for (const auto& c : cases) {
    const Result r = evaluate(c.expression);
    ASSERT_EQ(r.retstat, 0) << c.expression << "\n" << r.output;
    EXPECT_EQ(r.type, 'r') << c.expression;
    EXPECT_FLOAT_EQ(r.rvalue, c.value) << c.expression;
  }
  // Real division by zero follows IEEE arithmetic.
  const Result inf = evaluate("1.0/0.0");
  ASSERT_EQ(inf.retstat, 0);
  EXPECT_TRUE(std::isinf(inf.rvalue));
}

TEST_F(ExpressionTest, NumericIntrinsics) {
  const float pi = 3.14159265f;
  const struct {
    const char* expression;
    char type;
    double value;
  } cases[] = {
      {"ABS(-5)", 'i', 5}, {"ABS(-1.5)", 'r', 1.5}, {"INT(2.7)", 'i', 2}, {"INT(-2.7)", 'i', -2},
      {"INT(7)", 'i', 7}, {"NINT(2.5)", 'i', 3}, {"NINT(-2.5)", 'i', -3}, {"NINT(2.4)", 'i', 2},
      {"REAL(3)", 'r', 3}, {"AINT(-2.7)", 'r', -2}, {"ANINT(2.5)", 'r', 3},
      {"ANINT(-2.5)", 'r', -3}, {"SQRT(4.0)", 'r', 2}, {"EXP(0)", 'r', 1}, {"LOG(1.0)", 'r', 0},
      {"LOG10(100.0)", 'r', 2}, {"SIN(0.0)", 'r', 0}, {"COS(0.0)", 'r', 1}, {"TAN(0.0)", 'r', 0},
      {"ASIN(1.0)", 'r', pi / 2}, {"ACOS(1.0)", 'r', 0}, {"ATAN(1.0)", 'r', pi / 4},
      {"SINH(0.0)", 'r', 0}, {"COSH(0.0)", 'r', 1}, {"TANH(0.0)", 'r', 0},
      {"ATAN2(1.0,-1.0)", 'r', 3 * pi / 4}, {"DIM(5,3)", 'i', 2}, {"DIM(3,5)", 'i', 0},
      {"DIM(5.0,1.5)", 'r', 3.5}, {"MAX(3,9)", 'i', 9}, {"MIN(3,9)", 'i', 3},
      {"MAX(1.5,0.5)", 'r', 1.5}, {"MOD(-7,3)", 'i', -1}, {"MOD(7,-3)", 'i', 1},
      {"MOD(7.5,2.0)", 'r', 1.5}, {"SIGN(3,-1)", 'i', -3}, {"SIGN(-3,2)", 'i', 3},
      {"SIGN(2.0,-0.5)", 'r', -2}, {"MAX(1,2,2.5)", 'r', 2.5}, {"MIN(4,-2,7,1)", 'i', -2},
      {"MAX(1,9,3)", 'i', 9}, {"mod(7,3)", 'i', 1}, {"Max(2,1)+min(2,1)", 'i', 3},
      {"ABS(MIN(-1,-2))*2", 'i', 4},
  };
  for (const auto& c : cases) {
    const Result r = evaluate(c.expression);
    ASSERT_EQ(r.retstat, 0) << c.expression << "\n" << r.output;
    ASSERT_EQ(r.type, c.type) << c.expression;
    if (c.type == 'i')
      EXPECT_EQ(r.ivalue, static_cast<int>(c.value)) << c.expression;
    else
      EXPECT_NEAR(r.rvalue, c.value, 1e-6) << c.expression;
  }
}

TEST_F(ExpressionTest, StringsSubstringsAndStringIntrinsics) {
  set_text("s", 's', "hello");
  const struct {
    const char* expression;
    const char* value;
  } strings[] = {
      {"'ab'//'cd'", "abcd"},  {"'abcdef'(2:4)", "bcd"}, {"'it''s'", "it's"},
      {"CHAR(65)//'b'", "Ab"}, {"s(2:3)", "el"},         {"'ab'//'cd'(1:1)", "abc"},
      {"s(1:1+1)", "he"},      {"'a+b*c'", "a+b*c"},     {"'x'//s//'y'", "xhelloy"},
      {"s(3:2)", ""},          {"'a''''b'", "a''b"},
  };
  for (const auto& c : strings) {
    const Result r = evaluate(c.expression);
    ASSERT_EQ(r.retstat, 0) << c.expression << "\n" << r.output;
    EXPECT_EQ(r.type, 's') << c.expression;
    EXPECT_EQ(r.svalue, c.value) << c.expression;
  }
  const struct {
    const char* expression;
    int value;
  } integers[] = {
      {"ICHAR('A')", 65},         {"LEN('abc ')", 4},  {"LEN_TRIM('abc  ')", 3},
      {"INDEX('hello','ll')", 3}, {"INDEX(s,'z')", 0}, {"LEN('ab'//'cd')", 4},
      {"ICHAR(CHAR(200))", 200},
  };
  for (const auto& c : integers) {
    const Result r = evaluate(c.expression);
    ASSERT_EQ(r.retstat, 0) << c.expression << "\n" << r.output;
    EXPECT_EQ(r.type, 'i') << c.expression;
    EXPECT_EQ(r.ivalue, c.value) << c.expression;
  }
}

TEST_F(ExpressionTest, RelationsAndLogicalOperators) {
  const struct {
    const char* expression;
    bool value;
  } cases[] = {
      {"3.gt.2.and..true.", true}, {"1==1", true}, {"1=2", false}, {"1/=2", true}, {"1!=1", false},
      {"2>=2", true}, {"2<=1", false}, {"2.GE.3", false}, {"1.lt.2", true}, {"2.LE.2", true},
      {"1.NE.1", false}, {"1.EQ.1", true}, {".NOT..TRUE.", false}, {".true..or..false.", true},
      {".TRUE..EQV..TRUE.", true}, {".true..neqv..true.", false}, {".NOT.1>2", true},
      {"1<2.and.2<3", true}, {"'abc'=='abc '", true}, {"'a'<'b'", true}, {"1<2.5", true},
      {"LGT('b','a')", true}, {"LLT('b','a')", false}, {"LGE('a','a ')", true},
      {"LLE('a','b')", true}, {".TRUE.==.TRUE.", true}, {".false..or..not..false.", true},
      {".NOT..FALSE..AND..FALSE.", false}, {".TRUE..OR..TRUE..AND..FALSE.", true},
      {".TRUE..EQV..FALSE..OR..TRUE.", true}, {"1+1==2.and.'a'//'b'=='ab'", true},
  };
  for (const auto& c : cases) {
    const Result r = evaluate(c.expression);
    ASSERT_EQ(r.retstat, 0) << c.expression << "\n" << r.output;
    EXPECT_EQ(r.type, 'l') << c.expression;
    EXPECT_EQ(r.lvalue, c.value) << c.expression;
  }
}

TEST_F(ExpressionTest, UntypedVariablesConvertOnDemand) {
  set_text("n", 'u', "12");
  set_text("x", 'u', "2.5");
  set_text("t", 'u', "TRUE");
  Result r = evaluate("n+1");
  EXPECT_EQ(r.type, 'i');
  EXPECT_EQ(r.ivalue, 13);
  r = evaluate("x+1");
  EXPECT_EQ(r.type, 'r');
  EXPECT_FLOAT_EQ(r.rvalue, 3.5f);
  r = evaluate(".NOT.t");
  EXPECT_EQ(r.type, 'l');
  EXPECT_FALSE(r.lvalue);
  r = evaluate("n==12");
  EXPECT_TRUE(r.lvalue);
  r = evaluate("n//'x'");
  EXPECT_EQ(r.svalue, "12x");
  r = evaluate("n");
  EXPECT_EQ(r.type, 'u');
  EXPECT_EQ(r.svalue, "12");
}

TEST_F(ExpressionTest, WarningTexts) {
  const struct {
    const char* expression;
    int retstat;
    const char* output;
  } cases[] = {
      {"MAX(1,2.5)", 2, "WARNING: Differing data type for MAX function\n"},
      {"MIN(1,2.5)", 2, "WARNING: Differing data type for MIN function\n"},
      {"DIM(1.0,2)", 2, "WARNING: Differing data type for DIM function\n"},
      {"MOD(1,2.5)", 2, "WARNING: Differing data type for MOD function\n"},
      {".TRUE..GT..FALSE.", 2, "WARNING: Relational comparison not allowed on LOGICAL variables\n"},
      {"(1)(2)", 2, "WARNING: Syntax error: Missing operator\n"},
      {"+1", 2, "WARNING: Could not fully process statement\n"},
      {"SIN(1,2)", 2, "ERROR: Unknown function\n"}, {"MOD(1)", 2, "ERROR: Unknown function\n"},
      {"MOD(1,2,3)", 2, "WARNING: Unknown multi-operand function: MOD\n"},
      {"1=.true.", 2, "WARNING: Incompatible operand types for relational comparison\n"},
      {"1.5E", 4, "WARNING: Problem converting token to a real value:\n1.5E\n"},
      {"abc", 4, "WARNING: Problem converting token to an integer value:\nabc\n"},
      // Digits beyond the integer range, also where no minus takes them alone.
      {"2147483648", 4, "WARNING: Problem converting token to an integer value:\n2147483648\n"},
      {"-2147483649", 4, "WARNING: Problem converting token to an integer value:\n2147483649\n"},
      {"0-2147483648", 4, "WARNING: Problem converting token to an integer value:\n2147483648\n"},
      {"-2147483648**1", 4,
       "WARNING: Problem converting token to an integer value:\n2147483648\n"},
      {"'abc", 4, "WARNING: Problem converting token to a string value:\n'abc\n"},
      {"ICHAR(5)", 2,
       "WARNING:\nOperand not convertible to CHARACTER string\n         Operand type is INTEGER\n"
       "         Operand value =              5\n         Problem with ICHAR function operand\n"},
      {"LEN(.TRUE.)", 2,
       "WARNING:\nOperand not convertible to CHARACTER string\n         Operand type is LOGICAL\n"
       "         Operand value = .TRUE.\n         Problem with LEN function operand\n"},
      {"LEN_TRIM(1.0)", 2,
       "WARNING:\nOperand not convertible to CHARACTER string\n         Operand type is REAL\n"
       "         Operand value =  1.0000000E+00\n         Problem with LEN_TRIM function "
       "operand\n"},
      {"'a'+1", 2,
       "WARNING:\nOperand not convertible to INTEGER nor REAL\n         Operand type is CHARACTER\n"
       "         Operand value = a\n"},
      {"1.and..true.", 2,
       "WARNING:\nOperand not a LOGICAL\n         Operand type is INTEGER\n"
       "         Operand value =              1\n"},
      {"1//'a'", 2,
       "WARNING:\nOperand not a CHARACTER string\n         Operand type is INTEGER\n"
       "         Operand value =              1\n"
       "         Problem with character string concatenation (//)\n"},
      {"5(1:2)", 2,
       "WARNING:\nOperand not a character string\n         Operand type is INTEGER\n"
       "         Operand value =              5\n         Character sub-string problem\n"},
      {"'abc'(1.5:2)", 2,
       "WARNING:\nOperand not an INTEGER\n         Operand type is REAL\n"
       "         Operand value =  1.5000000E+00\n         Character sub-string problem\n"},
      {"SQRT('x')", 2,
       "WARNING:\nOperand not convertable to REAL\n         Operand type is CHARACTER\n"
       "         Operand value = x\n"},
      {"MAX(1,'a',2)", 2,
       "WARNING:\nOperand not convertible to INTEGER nor REAL\n         Operand type is CHARACTER\n"
       "         Operand value = a\n         Problem with multi-operand function operand: a\n"},
  };
  for (const auto& c : cases) {
    const Result r = evaluate(c.expression);
    EXPECT_EQ(r.retstat, c.retstat) << c.expression;
    EXPECT_EQ(r.output, c.output) << c.expression;
  }
}

TEST_F(ExpressionTest, UntypedOperandReportAndUnknownType) {
  set_text("u", 'u', "abc");
  const Result r = evaluate("u*2");
  EXPECT_EQ(r.retstat, 2);
  EXPECT_EQ(
      r.output,
      "WARNING:\nOperand not convertible to INTEGER nor REAL\n         Operand type is UNKNOWN\n"
      "         Operand value = abc\n");
}

// Faults that must give a warning and result 2, never a crash or a wrong value.
TEST_F(ExpressionTest, RefusesUndefinedResults) {
  const char* cases[] = {
      "1/0",
      "7/(2-2)",
      "MOD(5,0)",
      "0**-1",
      "'abc'(0:2)",
      "'abc'(2:4)",
      "'abc'(3:1)",
      "2147483647+1",
      "-2147483647-2",
      "65536*65536",
      "2**31",
      "(-2)**32",
      "(-2147483647-1)/-1",
      "-(-2147483647-1)",
      "--2147483648",
      "-2147483648-1",
      "ABS(-2147483647-1)",
      "DIM(2147483647,-1)",
      "CHAR(256)",
      "CHAR(-1)",
      "INT(1.0E10)",
      "NINT(1.0/0.0)",
      "INT(SQRT(-1.0))",
      "ICHAR('')",
  };
  for (const char* expression : cases) {
    const Result r = evaluate(expression);
    EXPECT_EQ(r.retstat, 2) << expression;
    EXPECT_EQ(r.output.rfind("WARNING: ", 0), 0U) << expression << "\n" << r.output;
  }
  // Integer results that come close to the limits are still exact.
  EXPECT_EQ(evaluate("-2147483647-1").ivalue, -2147483647 - 1);
  EXPECT_EQ(evaluate("MOD(-2147483647-1,-1)").ivalue, 0);
}

TEST_F(ExpressionTest, LimitsOfOneEvaluation) {
  // A string longer than the 256 characters of the string store.
  const std::string a = "'" + std::string(200, 'a') + "'";
  const std::string b = "'" + std::string(100, 'b') + "'";
  Result r = evaluate(a + "//" + b);
  EXPECT_EQ(r.retstat, 2);
  r = evaluate(a + "//'" + std::string(56, 'b') + "'");
  ASSERT_EQ(r.retstat, 0);
  EXPECT_EQ(r.svalue.size(), 256U);

  // Twenty strings fit, the twenty-first does not.
  std::string strings = "'x'";
  for (int k = 1; k < 20; ++k) strings += "//'x'";
  EXPECT_EQ(evaluate(strings).svalue, std::string(20, 'x'));
  EXPECT_EQ(evaluate(strings + "//'x'").retstat, 2);

  // A hundred operands fit, the hundred-and-first does not.
  std::string sum = "1";
  for (int k = 1; k < 100; ++k) sum += "+1";
  EXPECT_EQ(evaluate(sum).ivalue, 100);
  EXPECT_EQ(evaluate(sum + "+1").retstat, 2);

  EXPECT_EQ(evaluate(std::string(2001, '1')).retstat, 2);
  EXPECT_EQ(evaluate("").retstat, 2);
}

TEST_F(ExpressionTest, BadStatusOnEntryDoesNothing) {
  Status status = 10001;
  int retstat = -1;
  char type = '?';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  int slength = 0;
  std::string svalue;
  IO_EVALUATE(3, "1+1", retstat, type, ivalue, lvalue, rvalue, slength, svalue, status);
  EXPECT_EQ(status, 10001);
  EXPECT_EQ(retstat, -1);
}

}  // namespace
}  // namespace kesta
