#include "core/prompts.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/menu.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

using testing::ScriptedInput;

class PromptsTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  void TearDown() override { testing::reset_dialogue(); }
  testing::TerminalCapture terminal;
};

std::vector<std::string> layout(bool ranged, bool fixed, const std::string& prompt,
                                const std::string& range, const std::string& deflt) {
  std::vector<std::string> lines;
  Status status = kStatusGood;
  IO_OUTPROMPT(false, ranged, fixed, prompt, range, deflt, lines, status);
  return lines;
}

TEST(PromptLayout, LinesSplitAtSixtyCharacters) {
  const std::string p58(58, 'P');
  const std::string p70(70, 'P');
  const std::string range = " (Range: 1 to 4096)";
  struct Case {
    bool ranged, fixed;
    std::string prompt, deflt;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {true, true, "X DIMENSION FOR ARRAYS", " [512]",
       {"X DIMENSION FOR ARRAYS (Range: 1 to 4096) [512]:"}},
      {false, true, p58, " [12345678]", {p58, " [12345678]:"}},
      {false, false, p70, "", {p70, ":"}},
      {true, true, p70, " [512]", {p70, range + " [512]:"}},
      {true, true, p70, " [" + std::string(50, 'D') + "]",
       {p70, range, " [" + std::string(50, 'D') + "]:"}},
      // A last line beyond 60 characters gets the colon on a line of its own.
      {false, true, "P", " [" + std::string(70, 'D') + "]",
       {"P", " [" + std::string(70, 'D') + "]", ":"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(layout(c.ranged, c.fixed, c.prompt, range, c.deflt), c.lines) << c.prompt;
}

TEST_F(PromptsTest, IntegerDefaultRangeHelpAndErrors) {
  ScriptedInput input({"", "11", "0x10", "?", "7"});
  Status status = kStatusGood;
  int value = 5;
  IO_INPI(true, 1, 10, true, "COUNT", {"HELP TEXT"}, {"ERROR TEXT"}, value, status);
  EXPECT_EQ(value, 5);  // empty answer: the default
  EXPECT_EQ(input.prompts.back(), "COUNT (Range: 1 to 10) [5]:");
  EXPECT_EQ(terminal.text(), "");

  IO_INPI(true, 1, 10, true, "COUNT", {"HELP TEXT"}, {"ERROR TEXT"}, value, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(value, 7);
  // 11: error text, then help text and the prompt; 0x10: the conversion
  // message and the error text; "?": help without the error text.
  EXPECT_EQ(terminal.text(),
            "ERROR TEXT\nHELP TEXT\n"
            "Entered response cannot be converted to an integer\nERROR TEXT\nHELP TEXT\n"
            "HELP TEXT\n");
  EXPECT_EQ(input.prompts.size(), 5u);
}

TEST_F(PromptsTest, GarbageAndHugeAnswersAreRefusedNotFatal) {
  ScriptedInput input({"", std::string(1000, '9'), "abc", "1e3", "\\\\"});
  Status status = kStatusGood;
  int value = 2;
  IO_INPI(false, 0, 0, false, "N", {"H"}, {"E"}, value, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(value, 2);
  const std::string conversion = "Entered response cannot be converted to an integer\nE\nH\n";
  EXPECT_EQ(terminal.text(), "E\nH\n" + conversion + conversion + conversion);
}

TEST_F(PromptsTest, RealAndDoublePrompts) {
  ScriptedInput input({"", "x", "150%", "2.5", "1.5D0"});
  Status status = kStatusGood;
  float value = 0.5f;
  IO_INPR(true, 0.0f, 1.0f, true, "FRACTION", {"H"}, {"E"}, value, status);
  EXPECT_EQ(input.prompts.back(), "FRACTION (Range: 0.0 to 1.000000) [0.500000]:");
  EXPECT_EQ(value, 0.5f);
  IO_INPR(false, 0.0f, 0.0f, true, "SCALE", {"H"}, {"E"}, value, status);
  EXPECT_EQ(value, 1.5f);
  EXPECT_EQ(terminal.text(), "Error in input value: cannot convert to a real number\nE\nH\n");
  double d = 0.0;
  IO_INPD(true, 0.0, 2.0, false, "D", {"H"}, {"E"}, d, status);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(status, kStatusGood);
}

TEST_F(PromptsTest, LogicalPrompt) {
  ScriptedInput input({"", "help", "maybe", "no", "HELP", "yes"});
  Status status = kStatusGood;
  bool value = true;
  IO_INPL(false, false, false, true, "CONTINUE", {"H"}, {"E"}, value, status);
  EXPECT_EQ(input.prompts.back(), "CONTINUE [YES]:");
  EXPECT_TRUE(value);
  // Lower-case help is no help request here; upper-case HELP is.
  IO_INPL(false, false, false, true, "CONTINUE", {"H"}, {"E"}, value, status);
  EXPECT_FALSE(value);
  IO_INPL(false, false, false, false, "AGAIN", {"H"}, {"E"}, value, status);
  EXPECT_TRUE(value);
  EXPECT_EQ(terminal.text(), "E\nH\nE\nH\nH\n");
}

TEST_F(PromptsTest, TypeAheadAnswersSeveralPrompts) {
  ScriptedInput input({"10 20 YES", "3"});
  Status status = kStatusGood;
  int a = 0, b = 0, c = 0;
  bool flag = false;
  IO_INPI(false, 0, 0, false, "A", {"H"}, {"E"}, a, status);
  IO_INPI(false, 0, 0, false, "B", {"H"}, {"E"}, b, status);
  IO_INPL(false, false, false, false, "C", {"H"}, {"E"}, flag, status);
  IO_INPI(false, 0, 0, false, "D", {"H"}, {"E"}, c, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(a, 10);
  EXPECT_EQ(b, 20);
  EXPECT_TRUE(flag);
  EXPECT_EQ(c, 3);
  EXPECT_EQ(input.prompts, (std::vector<std::string>{"A:", "D:"}));
}

TEST_F(PromptsTest, StringModes) {
  struct Case {
    int mode;
    std::vector<std::string> answers;
    std::string result;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {12, {"help", "abc"}, "ABC", "H\n"},
      {10, {"abc"}, "abc", ""},
      {10, {"AbC"}, "abc", ""},
      {1, {"?"}, "?", ""},
      {11, {"HELP", "Mixed Case"}, "Mixed Case", "H\n"},
  };
  for (const auto& c : cases) {
    testing::TerminalCapture capture;
    ScriptedInput input(c.answers);
    Status status = kStatusGood;
    int length = -1;
    std::string text = "default";
    IO_INPS(true, "NAME", {"H"}, {"E"}, c.mode, length, text, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(text, c.result) << c.mode;
    EXPECT_EQ(length, static_cast<int>(c.result.size())) << c.mode;
    EXPECT_EQ(capture.text(), c.shown) << c.mode;
    EXPECT_EQ(input.prompts.back(), "NAME [default]:");
  }
}

TEST_F(PromptsTest, EmptyStringAnswers) {
  ScriptedInput input({"", "", "", "one two"});
  Status status = kStatusGood;
  int length = 42;
  std::string text = "Keep";
  IO_INPS(true, "S", {"H"}, {"E"}, 2, length, text, status);
  EXPECT_EQ(text, "KEEP");  // the default, converted by the mode
  EXPECT_EQ(length, 42);    // left alone for an empty answer
  IO_INPS(false, "S", {"H"}, {"E"}, 1, length, text, status);
  EXPECT_EQ(text, "");
  std::string token = "";
  IO_INPTOKEN(true, "T", {"H"}, {"E"}, 1, token, status);
  EXPECT_EQ(input.prompts.back(), "T [ ]:");
  IO_INPTOKEN(true, "T", {"H"}, {"E"}, 1, token, status);
  EXPECT_EQ(token, "one");
  EXPECT_EQ(status, kStatusGood);

  status = kStatusGood;
  IO_INPS(false, "S", {}, {"E"}, 1, length, text, status);
  EXPECT_EQ(status, 10001);
  status = kStatusGood;
  IO_INPTOKEN(false, "S", {"H"}, {}, 1, token, status);
  EXPECT_EQ(status, 10001);
  // Each routine reports the fault as its own.
  ST_DEF_SYSTEM(status);
  IO_INPC(false, "S", {"H"}, {}, 1, text, status);
  EXPECT_EQ(status, 10001);
  EXPECT_EQ(st_position(), "Subroutine IO_INPC V0.3");
}

// An assignment answers no question: the variable is set, the same question
// is asked again (no help, no error) and the next answer may use it. Every
// typed prompt does so; the caller never sees the assignment.
TEST_F(PromptsTest, AssignmentSetsItsVariableAndTheQuestionIsAskedAgain) {
  static const std::string kChoices[] = {"CADD", "CMULTIPLY", "EXIT"};
  struct Case {
    const char* name;
    std::vector<std::string> answers;
    std::function<std::string(Status&)> ask;  // the value taken, as text
    std::string value;
  };
  const Case cases[] = {
      {"ranged integer", {"x = 2*3", "x"},
       [](Status& st) {
         int v = 1;
         IO_INPI(true, 1, 10, true, "N", {"H"}, {"E"}, v, st);
         return std::to_string(v);
       },
       "6"},
      {"real", {"f = 3", "f"},
       [](Status& st) {
         float v = 2.9f;
         IO_INPR(false, 0.0f, 0.0f, true, "R", {"H"}, {"E"}, v, st);
         return std::to_string(v);
       },
       "3.000000"},
      {"logical", {"l = 1", "NO"},
       [](Status& st) {
         bool v = true;
         IO_INPL(false, false, false, true, "L", {"H"}, {"E"}, v, st);
         return std::string(v ? "YES" : "NO");
       },
       "NO"},
      {"menu", {"m = 1", "CM"},
       [](Status& st) {
         std::string v = "CADD";
         IO_MENU(true, "ENTER COMMAND", {"H"}, {"E"}, 3, kChoices, v, st);
         return v;
       },
       "CMULTIPLY"},
      {"string", {"t = 'a b'", "t"},
       [](Status& st) {
         std::string v;
         IO_INPC(true, "TITLE", {"H"}, {"E"}, 1, v, st);
         return v;
       },
       "a b"},
      {"word", {"w = 4", "w"},
       [](Status& st) {
         std::string v;
         IO_INPTOKEN(true, "WORD", {"H"}, {"E"}, 1, v, st);
         return v;
       },
       "4"},
  };
  for (const Case& c : cases) {
    testing::reset_dialogue();
    testing::TerminalCapture capture;
    ScriptedInput input(c.answers);
    Status status = kStatusGood;
    const std::string value = c.ask(status);
    EXPECT_EQ(status, kStatusGood) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
    ASSERT_EQ(input.prompts.size(), 2u) << c.name;
    EXPECT_EQ(input.prompts[0], input.prompts[1]) << c.name;
    EXPECT_EQ(capture.text(), "") << c.name;
  }
}

// A refused answer of several words is refused once: the rest of its line
// is no answer to the question asked again.
TEST_F(PromptsTest, ARefusedLineOfSeveralWordsIsRefusedOnce) {
  ScriptedInput input({"OUTPUT DATA", "20 5", "7"});
  Status status = kStatusGood;
  int value = 2;
  IO_INPI(true, 1, 10, true, "X NUMBER PIXELS", {"H"}, {"E"}, value, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(terminal.text(),
            "Entered response cannot be converted to an integer\nE\nH\n"
            "E\nH\n");
  EXPECT_EQ(input.prompts.size(), 3u);
}

TEST_F(PromptsTest, FileNameThatWouldBeCutIsAskedAgain) {
  const std::string fits = "/data/" + std::string(122, 'a') + ".kzt";  // 132 characters
  const std::string too_long = std::string(300, 'a') + ".kzt";
  struct Case {
    std::vector<std::string> answers;
    std::string file;
    Status status;
    int refusals;
  };
  const Case cases[] = {
      {{fits}, fits, kStatusGood, 0},
      {{too_long, fits + "x", "short.kzt"}, "short.kzt", kStatusGood, 2},
      {{too_long}, "old.kzt", kStatusEscape, 1},  // then the input ends
      // "?" names no file, whatever the caller's mode: the help is shown.
      {{"?", "new.mac"}, "new.mac", kStatusGood, 0},
  };
  for (const Case& c : cases) {
    testing::TerminalCapture capture;
    ScriptedInput input(c.answers);
    Status status = kStatusGood;
    std::string file = "old.kzt";
    io_input_file_name(true, "FILE NAME", {"H"}, {"E"}, 1, file, status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(file, c.file);
    const std::string said = capture.text();
    int refusals = 0;
    for (std::size_t at = 0; (at = said.find("longer than 132 characters", at)) != std::string::npos;
         ++at)
      ++refusals;
    EXPECT_EQ(refusals, c.refusals) << said;
    EXPECT_EQ(said.find("H\n") != std::string::npos, c.answers.front() == "?") << said;
  }
}

}  // namespace
}  // namespace kesta
