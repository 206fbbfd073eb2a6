#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::click;
using testing::file_contents;
using testing::TempDir;
using testing::typed;
using testing::WidgetFixture;

struct ValueBoxes : WidgetFixture {
  TempDir dir;
  std::string macro = dir.file("v.mac");
  std::string log = dir.file("v.log");

  void record() {
    Status s = kStatusGood;
    IO_OPEN_OUTMACRO(true, false, macro, s);
    IO_OPEN_LOGFILE(false, log, s);
  }
  // The recorded answers after the header (the last record is the stop line).
  std::vector<std::string> recorded() {
    Status s = kStatusGood;
    io_outmacro_record("EXIT", s);
    IO_CLOSE_OUTMACRO(s);
    IO_CLOSE_LOGFILE(s);
    std::vector<std::string> out;
    std::string all = file_contents(macro), line;
    for (char c : all) {
      if (c != '\n') {
        line += c;
        continue;
      }
      if (line.rfind("%!*\\", 0) != 0) out.push_back(line);
      line.clear();
    }
    return out;
  }
  // The O.K. button of any one-line message box.
  static testing::WindowEvent message_ok() {
    const std::vector<std::string> one{"x"};
    GsMessageBoxes boxes;
    Status s = kStatusGood;
    const GsRect& m = gs_state.message;
    GS_DRAW_MESSAGE(1, 1, one, 1, m.xmin, m.ymin, m.xmax, m.ymax, boxes, s);
    return click((boxes.ok.xmin + boxes.ok.xmax) / 2, (boxes.ok.ymin + boxes.ok.ymax) / 2);
  }
  // The buttons of the value box: CANCEL, HELP, O.K. stacked at the right.
  static testing::WindowEvent box_button(int i) {
    const GsRect& r = gs_state.gui_region;
    const float h = (r.ymax - r.ymin) / 3;
    return click(r.xmax - 0.01f, r.ymax - h * (static_cast<float>(i) - 0.5f));
  }
};

TEST_F(ValueBoxes, RefusedNumbersAreAskedAgainAndOnlyTheAnswerRecorded) {
  record();
  const auto ok = message_ok();
  // 11 is out of range (second help, then the first before the box); "x"
  // does not convert (warning, second help, first help).
  script({typed("11"), ok, ok, typed("x"), ok, ok, ok, typed("7")});
  Status s = kStatusGood;
  int value = 3;
  GS_INPI(true, 1, 10, true, "COUNT", {"Enter a count"}, {"From 1 to 10"}, value, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(window->events.empty());
  EXPECT_EQ(window->prompts.size(), 3u);
  EXPECT_EQ(recorded(), (std::vector<std::string>{"7"}));
  const std::string logged = file_contents(log);
  EXPECT_NE(logged.find("GRAPHICAL PROMPT: COUNT (Range: 1 to 10)\nGRAPHICAL INPUT: 11\n"),
            std::string::npos);
  EXPECT_NE(logged.find("WARNING: Input value: cannot convert to a integer number"),
            std::string::npos);
}

// A number outside the range is answered by a box that names the range
// above the caller's line, in the window and in a replay alike.
TEST_F(ValueBoxes, ANumberOutsideTheRangeIsToldTheRange) {
  const auto ok = message_ok();
  script({typed("999"), ok, ok, typed("30")});
  Status s = kStatusGood;
  float angle = 10.0f;
  GS_INPR(true, -360.0f, 360.0f, true, "VIEW ROTATION ANGLE", {"Enter view rotation angle"},
          {"Enter valid real"}, angle, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(angle, 30.0f);
  const std::vector<std::string> drawn = texts();
  const auto said = [&drawn](const std::string& line) {
    return std::find(drawn.begin(), drawn.end(), line) != drawn.end();
  };
  EXPECT_TRUE(said("WARNING: 999 is outside the range -360.0000 to 360.0000"));
  EXPECT_TRUE(said("Enter valid real"));

  testing::reset_dialogue();
  std::string path = dir.file("n.mac");
  std::ofstream(path) << "0\n4\n";
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, path, s);
  int count = 2;
  GS_INPI(true, 1, 10, true, "COUNT", {"Enter a count"}, {"From 1 to 10"}, count, s);
  EXPECT_EQ(count, 4);
  EXPECT_NE(terminal.text().find("WARNING: 0 is outside the range 1 to 10\nFrom 1 to 10\n"),
            std::string::npos)
      << terminal.text();
}

TEST_F(ValueBoxes, DefaultsEmptyAnswersAndHelp) {
  struct Case {
    float lower, upper, start;
    std::vector<testing::WindowEvent> events;
    float expected;
  } cases[] = {
      {0.0f, 10.0f, 2.5f, {typed("")}, 2.5f},
      // A default outside the range is refused like a typed value.
      {0.0f, 1.0f, 2.5f, {typed(""), message_ok(), message_ok(), typed("0.5")}, 0.5f},
      // HELP shows the first help text and keeps the field's text.
      {0.0f, 10.0f, 2.5f, {box_button(2), message_ok(), box_button(3)}, 2.5f},
  };
  for (const Case& c : cases) {
    window->events.assign(c.events.begin(), c.events.end());
    Status s = kStatusGood;
    float value = c.start;
    GS_INPR(true, c.lower, c.upper, true, "WIDTH", {"Enter a width"}, {"In range"}, value, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_FLOAT_EQ(value, c.expected);
    EXPECT_TRUE(window->events.empty());
  }
}

// The box starts with the default as its text, which O.K. takes as typed:
// the text gives the default back, also where the short form of a real would
// give another (two limits a step apart would otherwise be one value).
TEST_F(ValueBoxes, TheDefaultTextGivesTheDefaultBack) {
  for (const float start : {2.5f, 0.1f, 123456.7f, 16777218.0f, 1.0e30f,
                            std::nextafter(1.0e30f, 2.0e30f), -3.4028235e38f}) {
    script({typed("")});
    Status s = kStatusGood;
    float value = start;
    GS_INPR(false, 0.0f, 0.0f, true, "UPPER LIMIT OF RANGE", {"Enter a limit"}, {"?"}, value, s);
    ASSERT_EQ(s, kStatusGood);
    ASSERT_FALSE(window->initial.empty());
    bool ok = false;
    float back = 0.0f;
    IO_TOKTR(window->initial.back(), ok, back, s);
    EXPECT_TRUE(ok) << window->initial.back();
    EXPECT_EQ(back, start) << window->initial.back();
  }
}

// A trailing "&" or a "!" is part of the box's text: the window waits for
// no continuation line at the terminal.
TEST_F(ValueBoxes, ContinuationAndCommentMarksAreText) {
  testing::ScriptedInput terminal_lines({"continued"});
  Status s = kStatusGood;
  std::string answer = "old";
  for (const std::string text : {"name&", "a!b"}) {
    script({typed(text)});
    GS_INPC(true, "NAME", {"Enter a name"}, {"?"}, 1, answer, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(answer, text);
  }
  EXPECT_EQ(terminal_lines.remaining(), 1u);
}

TEST_F(ValueBoxes, CancelAssignmentAndReplay) {
  record();
  Status s = kStatusGood;
  std::string answer = "old";
  // An assignment sets the variable and the box asks again.
  script({typed("n = 5"), typed("name")});
  GS_INPC(true, "NAME", {"Enter a name"}, {"?"}, 1, answer, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(answer, "name");
  int retstat = 1, ivalue = 0, length = 0;
  char type = ' ';
  bool lvalue = false;
  float rvalue = 0;
  std::string svalue;
  IO_INQ_VARIABLE("n", retstat, type, ivalue, lvalue, rvalue, length, svalue, s);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(ivalue, 5);

  script({box_button(1)});
  GS_INPC(true, "NAME", {"Enter a name"}, {"?"}, 1, answer, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_EQ(answer, "name");
  s = kStatusGood;
  bool yes = false;
  GS_SET_MENULAYOUT(0, 2, 40, 6, s);
  const GsRect& r = gs_state.gui_region;
  GS_MENU(1, 1, {"SURE"}, 4, 4, {"CANCEL", "HELP", "YES", "NO"}, r.xmin, r.ymin, r.xmax, r.ymax,
          s);
  script({on_button(3)});
  GS_INPL(false, false, false, true, "SURE", {"Yes or no"}, {}, yes, s);
  EXPECT_TRUE(yes);
  EXPECT_EQ(recorded(), (std::vector<std::string>{"n = 5", "name", "\\\\", "YES"}));
  EXPECT_NE(file_contents(log).find("GRAPHICAL INPUT: <CANCEL>\n"), std::string::npos);

  // Replayed without the window: the same answers, the cancel included.
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, s);
  const int waits = window->waits;
  items.clear();
  answer = "old";
  GS_INPC(true, "NAME", {"Enter a name"}, {"?"}, 1, answer, s);
  EXPECT_EQ(answer, "name");
  GS_INPC(true, "NAME", {"Enter a name"}, {"?"}, 1, answer, s);
  EXPECT_EQ(s, kStatusEscape);
  s = kStatusGood;
  yes = false;
  GS_INPL(false, false, false, true, "SURE", {"Yes or no"}, {}, yes, s);
  EXPECT_TRUE(yes);
  EXPECT_EQ(window->waits, waits);
}

// A refused answer replayed from a macro: the help is shown without waiting
// (its O.K. is never recorded, so the macro holds no answer for it) and the
// question takes the macro's next line. The macro's end at the question
// leaves the box to the window, waited on once (here a window that gives
// nothing more, the user escape), not to the terminal.
void ask_angle(float& angle, Status& s) {
  GS_INPR(true, -360.0f, 360.0f, true, "VIEW ROTATION ANGLE", {"Enter view rotation angle"},
          {"Enter valid real"}, angle, s);
}

TEST_F(ValueBoxes, ReplayedRefusalAsksAgainWithoutWaiting) {
  const int waits = window->waits;
  std::string path = dir.file("r.mac");
  {
    std::ofstream(path) << "400\n30\nEXIT\n";
    testing::TerminalCapture terminal;
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, path, s);
    float angle = 10.0f;
    ask_angle(angle, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_FLOAT_EQ(angle, 30.0f);
    EXPECT_NE(terminal.text().find("Enter valid real\nEnter view rotation angle\n"),
              std::string::npos)
        << terminal.text();
    std::string next;
    IO_INPC(false, "NEXT", {"?"}, {"?"}, 1, next, s);
    EXPECT_EQ(next, "EXIT");
  }
  testing::reset_dialogue();
  std::ofstream(path) << "400\n";
  testing::TerminalCapture terminal;
  testing::ScriptedInput nothing({});
  Status s = kStatusGood;
  IO_OPEN_INMACRO(false, path, s);
  float angle = 10.0f;
  ask_angle(angle, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_FLOAT_EQ(angle, 10.0f);
  EXPECT_EQ(window->waits, waits + 1);
  EXPECT_NE(terminal.text().find("INFO: Control returned to graphics window"), std::string::npos)
      << terminal.text();
}

TEST_F(ValueBoxes, LongPromptsSplitAfterCharacterForty) {
  std::string sixty(60, 'p');
  sixty[44] = ' ';
  const auto lines = gs_split_prompt(sixty);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 44u);
  EXPECT_EQ(lines[1].size(), 15u);
  EXPECT_EQ(gs_split_prompt(std::string(50, 'p') + " q").size(), 2u);
  EXPECT_EQ(gs_split_prompt(std::string(52, 'p')).size(), 1u);
  EXPECT_EQ(gs_split_prompt(std::string(51, 'p') + " ").size(), 1u);
}

}  // namespace
}  // namespace kesta
