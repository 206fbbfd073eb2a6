#include "app/main/utility_commands.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "app/main/variables_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/variables.hpp"
#include "graphics/system/widget_test_support.hpp"

using namespace kesta;
using kesta::testing::file_contents;
using kesta::testing::ScriptedInput;
using kesta::testing::TempDir;
using kesta::testing::TerminalCapture;

namespace {

void message_on_terminal(Status& status) { KZT_MESSAGE(false, status); }

class Utilities : public ::testing::Test {
 protected:
  void SetUp() override { kesta::testing::reset_dialogue(); }
  void TearDown() override { kesta::testing::reset_dialogue(); }

  // Runs COMMAND with LINES as the answers; the terminal output.
  std::string run(void (*command)(Status&), std::vector<std::string> lines,
                  Status expected = kStatusGood) {
    ScriptedInput input(std::move(lines));
    TerminalCapture terminal;
    Status status = kStatusGood;
    command(status);
    EXPECT_EQ(status, expected);
    EXPECT_EQ(input.remaining(), 0u);
    return terminal.text();
  }
  static void define(std::string_view name, char type, int i, bool l, float r, std::string_view s) {
    Status status = kStatusGood;
    int retstat = 0;
    IO_SET_VARIABLE(name, type, i, l, r, static_cast<int>(s.size()), s, retstat, status);
    ASSERT_EQ(retstat, 0);
  }
};

TEST_F(Utilities, ListVariablesShowsEveryTypeInTheFixedLayout) {
  EXPECT_EQ(run(KZT_LISTVARIABLES, {}), "INFO: No program variables are presently defined\n");
  define("i", 'i', 3, false, 0.0f, "");
  define("s", 's', 0, false, 0.0f, "abc");
  define("flag", 'l', 0, true, 0.0f, "");
  define("x", 'r', 0, false, 2.5f, "");
  define("empty", 's', 0, false, 0.0f, "");
  EXPECT_EQ(run(KZT_LISTVARIABLES, {}),
            " \nINFO: Variable Names / Data Types / Variable Values\n"
            "      i i = 3\n      s s(3) = abc\n      flag l = .TRUE.\n      x r = 2.500000\n"
            "      empty s(0) =\n");
}

TEST_F(Utilities, UndefineTakesTheNameAsTypedAndWarnsForAnUnknownOne) {
  EXPECT_EQ(run(KZT_UNDEFINE, {}),
            "WARNING: No variables are presently defined so you cannot \"UN-DEFINE\" any\n");
  // A's value names B: typing A must remove A, not B.
  define("A", 's', 0, false, 0.0f, "B");
  define("B", 'i', 1, false, 0.0f, "");
  run(KZT_UNDEFINE, {"A"});
  Status status = kStatusGood;
  EXPECT_EQ(IO_VAR_NUMBER("A", status), 0);
  EXPECT_EQ(IO_VAR_NUMBER("B", status), 1);
  const std::string out = run(KZT_UNDEFINE, {"C"});
  EXPECT_NE(out.find("WARNING: Requested variable is not defined"), std::string::npos);
  EXPECT_EQ(io_variables.count, 1);
}

TEST_F(Utilities, ConcatenationJoinsTheUsedPartsIntoAStringVariable) {
  const std::string out = run(KZT_CONCATENATION, {"abc", "", ""});
  EXPECT_NE(out.find("INFO: Concatenation:\n      abckzt\n"), std::string::npos) << out;
  const auto joined = kesta::testing::variable_value("#FILE_OUT");
  EXPECT_EQ(joined.type, 's');
  EXPECT_EQ(joined.text, "abckzt");
}

TEST_F(Utilities, MessageIsRecordedEndedByEscapeOrCountAndReplayed) {
  TempDir dir;
  const std::string file = dir.file("m.mac");
  std::string name = file;
  Status status = kStatusGood;
  IO_OPEN_OUTMACRO(false, false, name, status);
  std::string out = run(message_on_terminal, {"Hello", "x = 1", "\\\\"});
  EXPECT_EQ(out, "INFO: Enter message text or user escape (\\\\) to exit\nHello\nx = 1\n");
  const std::string recorded = file_contents(file);
  EXPECT_NE(recorded.find("%!*\\\n%!*\\ Message text (up to 100 lines)\nHello\nx = 1\n\\\\\n"
                          "%!*\\\n%!*\\ End of message text\n%!*\\\n"),
            std::string::npos)
      << recorded;

  // One hundred lines end the text by count: no escape is recorded or read.
  std::vector<std::string> lines;
  for (int i = 1; i <= 100; ++i) lines.push_back("line " + std::to_string(i));
  out = run(message_on_terminal, lines);
  EXPECT_NE(out.find("line 100\n"), std::string::npos);
  EXPECT_EQ(file_contents(file).find("line 100\n\\\\"), std::string::npos);

  kesta::testing::reset_dialogue();
  name = file;
  kesta::testing::write_text_file(file, recorded + "AFTER\n");
  IO_OPEN_INMACRO(false, name, status);
  out = run(message_on_terminal, {});
  // The replayed escape ends its prompt's line before the message is shown.
  EXPECT_NE(out.find("TEXT:x = 1\nTEXT:\\\\\nHello\nx = 1\n"), std::string::npos) << out;
  EXPECT_TRUE(vosq_io_dbdb.input_macro);
}

TEST_F(Utilities, ChangeHistoryLinesFitTheirWidth) {
  for (const std::string& line : kzt_change_history()) EXPECT_LE(line.size(), 77u) << line;
}

}  // namespace

namespace kesta {
namespace {

// MESSAGE and CHANGES with the graphics window (a scripted one).
struct WindowUtilities : testing::WidgetFixture {
  bool drawn(std::string_view part) const {
    const std::vector<std::string> page = texts();
    return std::any_of(page.begin(), page.end(), [part](const std::string& t) {
      return t.find(part) != std::string::npos;
    });
  }
};

TEST_F(WindowUtilities, MessageDrawsWithoutWaitingAndChangesEndsOnOk) {
  {
    testing::ScriptedInput input({"Hello", "x = 1", "\\\\"});
    testing::TerminalCapture terminal;
    Status s = kStatusGood;
    KZT_MESSAGE(true, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(terminal.text().find("Hello"), std::string::npos);
  }
  EXPECT_TRUE(drawn("Hello"));
  EXPECT_TRUE(drawn("x = 1"));
  EXPECT_EQ(window->waits, 0);

  // The history's O.K. box lies where its first drawing puts it.
  const std::vector<std::string> history(kzt_change_history().begin(),
                                         kzt_change_history().end());
  const int num = static_cast<int>(history.size());
  GsMessageBoxes boxes;
  Status s = kStatusGood;
  const GsRect& r = gs_state.message;
  GS_DRAW_MESSAGE(num, num, history, 1, r.xmin, r.ymin, r.xmax, r.ymax, boxes, s);
  items.clear();
  script({testing::click((boxes.ok.xmin + boxes.ok.xmax) / 2, (boxes.ok.ymin + boxes.ok.ymax) / 2)});
  testing::TerminalCapture terminal;
  KZT_CHANGES(true, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(window->events.empty());
  EXPECT_TRUE(drawn("IMPORTANT CHANGES"));
  EXPECT_EQ(terminal.text().find("IMPORTANT CHANGES"), std::string::npos);
}

}  // namespace
}  // namespace kesta
