#include "app/main/calculator.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "app/main/variables_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/variables.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

class Calculator : public ::testing::Test {
 protected:
  void SetUp() override {
    kesta::testing::reset_dialogue();
    kzt_calculator = KztCalculator{};
  }
  void TearDown() override { kesta::testing::reset_dialogue(); }

  // Runs the calculator on LINES followed by EXIT; the terminal output.
  std::string run(std::vector<std::string> lines) {
    lines.push_back("EXIT");
    ScriptedInput input(lines);
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_CALCULATOR(status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u);
    return terminal.text();
  }

  static std::vector<std::string> lines_with(const std::string& text, const std::string& head) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (line.rfind(head, 0) == 0) out.push_back(line);
    return out;
  }

  // The real and imaginary parts of the last line beginning with HEAD.
  static bool last_value(const std::string& text, const std::string& head, float& re, float& im) {
    const auto found = lines_with(text, head);
    return !found.empty() &&
           std::sscanf(found.back().c_str() + head.size(), "%g %g", &re, &im) == 2;
  }
};

struct ResultCase {
  std::vector<std::string> lines;
  float re;
  float im;
};

class CalculatorResults : public Calculator, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(CalculatorResults, LastResultHasTheHandValue) {
  const ResultCase& c = GetParam();
  const std::string out = run(c.lines);
  float re = 0.0f;
  float im = 0.0f;
  ASSERT_TRUE(last_value(out, "RESULT: ", re, im)) << out;
  EXPECT_NEAR(re, c.re, 2e-6f * std::max(1.0f, std::abs(c.re))) << out;
  EXPECT_NEAR(im, c.im, 2e-6f * std::max(1.0f, std::abs(c.im))) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Operators, CalculatorResults,
    ::testing::Values(
        // Two operands: T is the top, L the value below it.
        ResultCase{{"3", "4", "-"}, 1.0f, 0.0f}, ResultCase{{"2", "8", "/"}, 4.0f, 0.0f},
        ResultCase{{"1 1", "0 1", "*"}, -1.0f, 1.0f}, ResultCase{{"2", "3", "POWER"}, 8.0f, 0.0f},
        ResultCase{{"-3", "-17", "MOD"}, -2.0f, 0.0f},
        ResultCase{{"7", "2 5", "MINIMUM"}, 2.0f, 0.0f},
        // One operand.
        ResultCase{{"1 2", "ABSOLUTE"}, 2.236068f, 0.0f},
        ResultCase{{"1", "ENERGY"}, 12.39852f, 0.0f}, ResultCase{{"30", "SINE"}, 0.5f, 0.0f},
        ResultCase{{"45 1", "TANGENT"}, 1.0f, 0.0f}, ResultCase{{"0.5", "ACOSINE"}, 60.0f, 0.0f},
        ResultCase{{"-4", "SQUARE ROOT"}, 0.0f, 2.0f}, ResultCase{{"-1", "LN"}, 0.0f, 3.1415927f},
        ResultCase{{"-2.7 1", "INTEGER"}, -2.0f, 0.0f}, ResultCase{{"4", "1/X"}, 0.25f, 0.0f},
        // Stack, registers and memory; state is kept between commands.
        ResultCase{{"9", "DUPLICATE", "+"}, 18.0f, 0.0f},
        ResultCase{{"1", "2", "EXCHANGE", "POP"}, 2.0f, 0.0f},
        ResultCase{{"6", "S4", "8", "STORE", "CLEAR", "R4", "RECALL", "*"}, 48.0f, 0.0f}),
    kesta::testing::CaseNumber{});

struct RefusalCase {
  std::vector<std::string> lines;
  const char* warning;
};

class CalculatorRefusals : public Calculator, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CalculatorRefusals, OneWarningAndTheStackUnchanged) {
  const RefusalCase& c = GetParam();
  std::vector<std::string> lines = c.lines;
  lines.push_back("STACK");
  const std::string out = run(lines);
  const auto warnings = lines_with(out, "WARNING: ");
  ASSERT_FALSE(warnings.empty()) << out;
  EXPECT_NE(warnings.back().find(c.warning), std::string::npos) << out;
  // Every value entered is still there, in order.
  const std::size_t values = c.lines.size() - 1;
  ASSERT_EQ(lines_with(out, "Element ").size(), values) << out;
  EXPECT_TRUE(lines_with(out, "RESULT: ").empty()) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Operators, CalculatorRefusals,
    ::testing::Values(RefusalCase{{"0", "5", "/"}, "Division by 0.0"},
                      RefusalCase{{"0", "1/X"}, "reciprocal of 0.0"},
                      RefusalCase{{"0", "LN"}, "logarithm of 0.0"},
                      RefusalCase{{"-5", "LOGARITHM"}, "needs a real part above 0.0"},
                      RefusalCase{{"1.5", "ARCSINE"}, "from -1.0 to 1.0"},
                      RefusalCase{{"0.5", "3", "MODULUS"}, "division by 0"},
                      RefusalCase{{"1", "3e9", "MODULUS"}, "32-bit integer range"},
                      RefusalCase{{"0", "-1", "POWER"}, "0.0 cannot be raised"},
                      RefusalCase{{"1e30", "1e30", "*"}, "not a finite number"},
                      RefusalCase{{"0 1", "WAVELENGTH"}, "Energy cannot be 0.0"}),
    kesta::testing::CaseNumber{});

TEST_F(Calculator, FullStackDropsItsBottomAndTooFewOperandsChangeNothing) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 51; ++i) lines.push_back(std::to_string(i));
  lines.push_back("STACK");
  const std::string out = run(lines);
  const auto elements = lines_with(out, "Element ");
  ASSERT_EQ(elements.size(), 50u);
  EXPECT_EQ(elements.front().substr(0, 20), "Element  1 =   2.000");
  EXPECT_EQ(elements.back().substr(0, 20), "Element 50 =   51.00");

  kzt_calculator = KztCalculator{};
  const std::string few = run({"1", "+", "POP", "POP", "DUPLICATE"});
  EXPECT_EQ(lines_with(few, "Not enough operands for operator").size(), 2u) << few;
  EXPECT_EQ(lines_with(few, "The stack is empty !").size(), 1u) << few;
}

TEST_F(Calculator, WritesValuesInTheFixedLayoutAndKeepsThemForTheNextCommand) {
  run({"1e-3 -2", "S2", "3", "4"});
  const std::string out = run({"-", "REGISTERS", "MEMORY"});
  // (Trailing blanks are not written.)
  EXPECT_NE(out.find("RESULT:   1.000000      0.000000\n"), std::string::npos) << out;
  EXPECT_NE(out.find("REGISTER 2:  1.0000000E-03 -2.000000\n"), std::string::npos) << out;
  EXPECT_NE(out.find("MEMORY:   0.000000      0.000000\n"), std::string::npos) << out;
}

TEST_F(Calculator, UnknownAmbiguousAndEscapedAnswersKeepTheCalculatorRunning) {
  const std::string out = run({"FROG", "E", "\\\\", "", "?", "VARIABLE", "2"});
  EXPECT_NE(out.find("WARNING: Entered text does not correspond to any of the available choices."),
            std::string::npos);
  EXPECT_NE(out.find("WARNING: Entered command is ambiguous. Please enter more letters."),
            std::string::npos);
  EXPECT_NE(out.find("WAVELENGTH: Photon energy (keV) to wavelength (Angstroms)"),
            std::string::npos);
  EXPECT_NE(out.find("WARNING: No value is defined"), std::string::npos);
  EXPECT_EQ(kzt_calculator.count, 1);
}

TEST_F(Calculator, VariableIsAnIntegerWhenTheValueIsWhole) {
  const struct {
    const char* value;
    char type;
  } cases[] = {{"3.000001", 'i'}, {"3.1", 'r'}, {"3e10", 'r'}, {"-0.0", 'i'}};
  for (const auto& c : cases) {
    kzt_calculator = KztCalculator{};
    kesta::testing::reset_dialogue();
    run({c.value, "VARIABLE", "X"});
    const auto x = kesta::testing::variable_value("X");
    ASSERT_TRUE(x.defined) << c.value;
    EXPECT_EQ(x.type, c.type) << c.value;
    if (x.type == 'i') {
      EXPECT_EQ(x.ivalue, static_cast<int>(std::stof(c.value)));
    }
  }
}

}  // namespace
