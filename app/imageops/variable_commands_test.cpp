#include "app/imageops/variable_commands.hpp"

#include <gtest/gtest.h>

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

TEST(IntegerText, FixedLengthFillsWithZerosAfterTheSign) {
  const struct {
    int value;
    bool fixed;
    int characters;
    const char* text;
  } cases[] = {{7, true, 3, "007"},       {7, false, 3, "7"},
               {12345, true, 3, "12345"}, {5, true, 0, ""},
               {-7, true, 3, "-07"},      {-2147483647 - 1, true, 12, "-02147483648"},
               {0, true, 1, "0"}};
  for (const auto& c : cases)
    EXPECT_EQ(kzt_integer_text(c.value, c.fixed, c.characters), c.text) << c.value;
}

class VariableCommands : public ::testing::Test {
 protected:
  void SetUp() override { kesta::testing::reset_dialogue(); }
  void TearDown() override { kesta::testing::reset_dialogue(); }
};

TEST_F(VariableCommands, I2cStoresTheTextAndOffersEveryAnswerAgain) {
  {
    ScriptedInput input({"7", "NO", "3", "#N"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_I2C(status);
    EXPECT_EQ(status, kStatusGood);
  }
  ScriptedInput input({"", "", "", ""});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_I2C(status);
  EXPECT_EQ(input.prompts,
            (std::vector<std::string>{"ENTER INTEGER [7]:", "VARIABLE LENGTH OUTPUT [NO]:",
                                      "ENTER NUMBER OF OUTPUT CHARACTERS (Range: 0 to 20) [3]:",
                                      "ENTER VARIABLE NAME [#N]:"}));
  const auto n = kesta::testing::variable_value("#N");
  EXPECT_EQ(n.type, 's');
  EXPECT_EQ(n.text, "007");
}

TEST_F(VariableCommands, TypeMenuProposesTheTypeAndReturnsTheChosenLetter) {
  const struct {
    char type;
    bool defaulted;
    const char* answer;
    char result;
    const char* prompt;
  } cases[] = {
      {'u', true, "", 's', "ENTER DATA TYPE OF VARIABLE [CHARACTER STRING VALUE]:"},
      {'i', true, "BOOL", 'l', "ENTER DATA TYPE OF VARIABLE [INTEGER VALUE]:"},
      {'s', false, "REAL VALUE", 'r', "ENTER DATA TYPE OF VARIABLE:"},
      {'r', true, "\\\\", 'r', "ENTER DATA TYPE OF VARIABLE [FLOATING POINT (REAL) VALUE]:"}};
  for (const auto& c : cases) {
    ScriptedInput input({c.answer});
    TerminalCapture terminal;
    Status status = kStatusGood;
    char type = c.type;
    KZT_INP_DATATYPE(c.defaulted, type, status);
    EXPECT_EQ(type, c.result) << c.answer;
    ASSERT_FALSE(input.prompts.empty());
    EXPECT_EQ(input.prompts.front(), c.prompt);
  }
}

}  // namespace
