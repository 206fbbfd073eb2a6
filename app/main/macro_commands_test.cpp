#include "app/main/macro_commands.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/imageops/variable_commands.hpp"
#include "app/main/program_test_support.hpp"
#include "app/main/utility_commands.hpp"
#include "app/main/variables_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/variables.hpp"
#include "graphics/system/widget_test_support.hpp"

using namespace kesta;
using kesta::testing::file_contents;
using kesta::testing::ScriptedInput;
using kesta::testing::TempDir;
using kesta::testing::TerminalCapture;
using kesta::testing::variable_value;

namespace {

const std::string kHeader =
    "%!*\\ BEGINNING OF IO MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n";

// The definition of an integer question "How many?" (default 5, range 1 to
// 10, one help line, variable N) as typed and as recorded.
const std::vector<std::string> kIntegerAnswers = {
    "INTEGER VALUE",   "How many?", "NO", "YES", "5", "YES", "1", "10",
    "Count of frames", "\\\\",      "N"};
const std::string kIntegerRecord =
    "%!*\\\n%!*\\ Definition of interactive input of a value\n%!*\\ Data value type\n"
    "INTEGER VALUE\n%!*\\ User prompt\nHow many?\n%!*\\ Give default\nNO\nYES\n"
    "%!*\\ Default value\n5\nYES\n%!*\\ Range limits\n1\n10\n"
    "%!*\\ Help text (up to 100 lines)\nCount of frames\n\\\\\n%!*\\ Program variable\nN\n"
    "%!*\\\n%!*\\ End of Definition\n%!*\\\n";

class MacroCommands : public ::testing::Test {
 protected:
  void SetUp() override { kesta::testing::reset_dialogue(); }
  void TearDown() override { kesta::testing::reset_dialogue(); }

  void record_to(const std::string& file) {
    std::string name = file;
    Status status = kStatusGood;
    IO_OPEN_OUTMACRO(false, false, name, status);
    ASSERT_EQ(status, kStatusGood);
  }
  void replay(const std::string& file, const std::string& text) {
    kesta::testing::write_text_file(file, text);
    std::string name = file;
    Status status = kStatusGood;
    IO_OPEN_INMACRO(false, name, status);
    ASSERT_EQ(status, kStatusGood);
  }
  TempDir dir;
};

// ----- QUESTION -----

TEST_F(MacroCommands, QuestionIsRecordedWithoutItsAnswerAndAskedAtOnce) {
  const std::string file = dir.file("q.mac");
  record_to(file);
  std::vector<std::string> lines = kIntegerAnswers;
  lines.push_back("11");  // out of range: asked again
  lines.push_back("7");
  ScriptedInput input(lines);
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_QUESTION(false, nullptr, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_EQ(file_contents(file), kHeader + kIntegerRecord);
  EXPECT_TRUE(vosq_io_dbdb.output_macro);
  const auto n = variable_value("N");
  EXPECT_EQ(n.type, 'i');
  EXPECT_EQ(n.ivalue, 7);
  const std::string out = terminal.text();
  EXPECT_NE(out.find(" \nNOTE: " + std::string(67, '!') +
                     "\n              INTERACTIVE INPUT REQUIRED FOR THE MACRO\n      " +
                     std::string(67, '!') + "\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(input.prompts.back(), "How many? (Range: 1 to 10) [5]:");
}

struct ReplayCase {
  const char* answer;
  int value;
  bool terminated;
};

class QuestionReplay : public MacroCommands, public ::testing::WithParamInterface<ReplayCase> {};

TEST_P(QuestionReplay, AnswerComesFromTheUserAndAnEscapeEndsMacroAndSequence) {
  const ReplayCase c = GetParam();
  replay(dir.file("q.mac"), kHeader + "QUESTION\n" + kIntegerRecord + "NEXT LINE\n");
  vosq_io_dbdb.file_sequence = true;
  ScriptedInput input({c.answer});
  TerminalCapture terminal;
  Status status = kStatusGood;
  std::string command;
  IO_INPC(false, "COMMAND", {"h"}, {"e"}, 1, command, status);
  ASSERT_EQ(command, "QUESTION");
  KZT_QUESTION(false, nullptr, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_EQ(variable_value("N").ivalue, c.value);
  const std::string out = terminal.text();
  EXPECT_EQ(out.find("NOTE: Macro terminated by user request.") != std::string::npos, c.terminated);
  EXPECT_EQ(out.find("NOTE: Sequence terminated by user request.") != std::string::npos,
            c.terminated);
  EXPECT_EQ(vosq_io_dbdb.input_macro, !c.terminated);
  EXPECT_EQ(vosq_io_dbdb.file_sequence, !c.terminated);
  if (!c.terminated) {
    IO_INPC(false, "NEXT", {"h"}, {"e"}, 1, command, status);
    EXPECT_EQ(command, "NEXT LINE");
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, QuestionReplay,
                         ::testing::Values(ReplayCase{"8", 8, false}, ReplayCase{"", 5, false},
                                           ReplayCase{"\\\\", 5, true}),
    kesta::testing::CaseNumber{});

// An assignment typed at a replayed question sets its variable and the
// question is asked again: the macro, and the sequence it runs in, go on.
struct AssignmentCase {
  const char* kind;
  const char* answer;
  const char* range = "";  // the answer to the range question of a number
};

class QuestionAssignment : public MacroCommands,
                           public ::testing::WithParamInterface<AssignmentCase> {};

TEST_P(QuestionAssignment, SetsTheVariableAndAsksAgain) {
  const AssignmentCase c = GetParam();
  replay(dir.file("q.mac"), kHeader + c.kind + "\nGive a value\nNO\nNO\n" + c.range +
                                      "\\\\\n#F\nNEXT LINE\n");
  vosq_io_dbdb.file_sequence = true;
  ScriptedInput input({"w = 2", c.answer});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_QUESTION(false, nullptr, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_EQ(input.prompts.size(), 2u) << ::testing::PrintToString(input.prompts);
  EXPECT_EQ(variable_value("w").ivalue, 2);
  const auto f = variable_value("#F");
  if (std::string(c.kind) == "INTEGER VALUE") {
    EXPECT_EQ(f.ivalue, 7);
  } else {
    EXPECT_EQ(f.text, c.answer);
  }
  const std::string out = terminal.text();
  EXPECT_EQ(out.find("Unknown value for the status variable"), std::string::npos) << out;
  EXPECT_EQ(out.find("terminated"), std::string::npos) << out;
  EXPECT_TRUE(vosq_io_dbdb.input_macro);
  EXPECT_TRUE(vosq_io_dbdb.file_sequence);
  std::string command;
  IO_INPC(false, "NEXT", {"h"}, {"e"}, 1, command, status);
  EXPECT_EQ(command, "NEXT LINE");
}

INSTANTIATE_TEST_SUITE_P(Kinds, QuestionAssignment,
                         ::testing::Values(AssignmentCase{"INPUT FILE", "myfile.dat"},
                                           AssignmentCase{"OUTPUT FILE", "out.dat"},
                                           AssignmentCase{"CHARACTER STRING", "some text"},
                                           AssignmentCase{"INTEGER VALUE", "7", "NO\n"}),
                         kesta::testing::CaseNumber{});

TEST_F(MacroCommands, CoordinateQuestionNeedsTheWindow) {
  {
    ScriptedInput input({"GRAPHICAL COORDINATE", "UNUSED"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_QUESTION(false, nullptr, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 1u);
    EXPECT_NE(terminal.text().find("WARNING: A \"GRAPHICAL COORDINATE\" question needs the "
                                   "graphics window"),
              std::string::npos);
  }
  replay(dir.file("c.mac"), kHeader + "GRAPHICAL COORDINATE\nX\n");
  vosq_io_dbdb.file_sequence = true;
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_QUESTION(false, nullptr, status);
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
  EXPECT_NE(terminal.text().find("NOTE: Macro terminated by user request."), std::string::npos);
}

// ----- SEQUENCE -----

class Sequence : public MacroCommands {
 protected:
  void SetUp() override {
    MacroCommands::SetUp();
    macro = dir.file("seq.mac");
    kesta::testing::write_text_file(macro, kHeader + "LIST VARIABLES\n");
  }
  // One call as the dispatcher makes it; the terminal output.
  std::string call(Status& status) {
    TerminalCapture terminal;
    // The keyboard loop calls again once the running macro has ended.
    Status local = kStatusGood;
    IO_CLOSE_INMACRO(local);
    KZT_SEQUENCE(macro, KZT_INP_DATATYPE, status);
    return terminal.text();
  }
  std::string macro;
};

TEST_F(Sequence, DefaultsBuildNumberedFileNamesUntilTheEnd) {
  // 1 to 2 step 1, the file, 2 variables with every proposal kept.
  std::vector<std::string> lines = {"1", "2", "1", "", "2"};
  for (int i = 0; i < 14; ++i) lines.push_back("");
  ScriptedInput input(lines);
  Status status = kStatusGood;
  std::string out = call(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_NE(out.find(" \nINFO: Sequence counter value =        1\n"), std::string::npos) << out;
  EXPECT_EQ(variable_value("#IN").text, "lys1_001.pmi");
  EXPECT_EQ(variable_value("#OUT").text, "lys1_001.cor");
  EXPECT_EQ(variable_value("##COUNT").ivalue, 1);
  EXPECT_TRUE(vosq_io_dbdb.input_macro);
  EXPECT_TRUE(vosq_io_dbdb.file_sequence);

  out = call(status);
  EXPECT_EQ(variable_value("#OUT").text, "lys1_002.cor");
  out = call(status);
  EXPECT_EQ(out, "INFO: *** END OF SEQUENCE ***\n \n");
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
}

TEST_F(Sequence, ArithmeticNoBaseAndALogicalVariable) {
  // 1 to 20; #A integer 21 - count; #B a bare number; #C logical count - 1.
  ScriptedInput input({"1", "20", "1", "", "3",                           // loop, file, count
                       "#A", "INTEGER VALUE", "YES", "-1", "21",            // 21 - count
                       "#B", "STRING VALUE", "-", "NO", "NO", "-",          // the bare count
                       "#C", "LOGICAL (BOOLEAN) VALUE", "YES", "1", "-1"});  // count - 1
  Status status = kStatusGood;
  call(status);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_EQ(variable_value("#A").ivalue, 20);
  EXPECT_EQ(variable_value("#B").text, "1");
  EXPECT_EQ(variable_value("#C").type, 'l');
  EXPECT_FALSE(variable_value("#C").lvalue);
  call(status);
  EXPECT_EQ(variable_value("#A").ivalue, 19);
  EXPECT_TRUE(variable_value("#C").lvalue);
}

TEST_F(Sequence, BadLoopsAndFilesAreAskedAgainAndRecordingRefusesIt) {
  ScriptedInput input({"5", "1", "1", "5", "1", "-1", dir.file("none.mac"), "\\\\"});
  Status status = kStatusGood;
  const std::string out = call(status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_NE(out.find("WARNING: The entered values do not define a valid finite loop, please"),
            std::string::npos);
  EXPECT_NE(out.find("WARNING: The entered file could not be opened (probably it doesn't exist)"),
            std::string::npos);
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);

  // Devices and named pipes are refused by name, never read: /dev/zero is one
  // endless line, a pipe without a writer would wait for ever.
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {std::string("/dev/zero"), fifo}) {
    ScriptedInput special({"1", "2", "1", name, "\\\\"});
    status = kStatusGood;
    const std::string said = call(status);
    EXPECT_EQ(status, kStatusEscape);
    EXPECT_EQ(special.remaining(), 0u);
    EXPECT_NE(said.find("WARNING: \"" + name + "\" is not a regular file; it cannot be a macro file"),
              std::string::npos)
        << said;
  }

  record_to(dir.file("rec.mac"));
  status = kStatusGood;
  EXPECT_EQ(call(status),
            "WARNING: The \"SEQUENCE\" command cannot be used within a macro. (It is\n"
            "         used to repeately run a defined macro.)\n");
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
}

}  // namespace

namespace kesta {
namespace {

// A replayed question whose GUI switch is on asks in the window's value box;
// a window that answers nothing ends the macro.
struct WindowQuestion : testing::WidgetFixture {
  TempDir dir;
  bool drawn(std::string_view part) const {
    const std::vector<std::string> page = texts();
    return std::any_of(page.begin(), page.end(), [part](const std::string& t) {
      return t.find(part) != std::string::npos;
    });
  }
};

TEST_F(WindowQuestion, ReplayedQuestionIsAnsweredInTheWindow) {
  std::string record = kIntegerRecord;
  record.replace(record.find("NO\nYES"), 6, "YES\nYES");
  for (const bool answered : {true, false}) {
    SCOPED_TRACE(answered);
    testing::reset_dialogue();
    items.clear();
    const std::string file = dir.file("q.mac");
    kesta::testing::write_text_file(file, kHeader + record + "EXIT\n");
    std::string name = file;
    Status status = kStatusGood;
    IO_OPEN_INMACRO(false, name, status);
    // An assignment typed in the box sets its variable and the box asks again.
    if (answered) script({testing::typed("w = 3"), testing::typed("7")});
    TerminalCapture terminal;
    KZT_QUESTION(true, nullptr, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_GE(window->waits, 1);
    EXPECT_EQ(vosq_io_dbdb.input_macro, answered);
    EXPECT_EQ(variable_value("N").ivalue, answered ? 7 : 5);
    if (answered) {
      EXPECT_EQ(variable_value("w").ivalue, 3);
    }
    EXPECT_TRUE(drawn(answered ? "CONTINUING MACRO" : "MACRO ABORTED"));
    EXPECT_EQ(terminal.text().find("NOTE: Macro terminated by user request.") != std::string::npos,
              !answered);
    if (vosq_io_dbdb.input_macro) IO_CLOSE_INMACRO(status);
  }
}

// A name typed in the file selection of a file question passes the same
// translation as a name typed at the terminal: an assignment sets its
// variable and the selection asks again, a variable's name gives its value.
TEST_F(WindowQuestion, AssignmentInTheFileSelectionIsNoFileName) {
  const std::string existing = dir.file("in.dat");
  kesta::testing::write_text_file(existing, "1\n");
  for (const std::string kind : {"INPUT FILE", "OUTPUT FILE"}) {
    SCOPED_TRACE(kind);
    testing::reset_dialogue();
    items.clear();
    const std::string file = dir.file("f.mac");
    kesta::testing::write_text_file(
        file, kHeader + kind + "\nGive a file\nYES\nNO\nThe file\n\\\\\n#FB\nEXIT\n");
    std::string name = file;
    Status status = kStatusGood;
    kzt_set_variable("WHERE", 's', 0, false, 0.0f, existing, status);
    IO_OPEN_INMACRO(false, name, status);
    script({testing::typed("z = 6"), testing::typed("WHERE")});
    TerminalCapture terminal;
    KZT_QUESTION(true, nullptr, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(window->events.size(), 0u);
    EXPECT_EQ(variable_value("z").ivalue, 6);
    EXPECT_EQ(variable_value("#FB").text, existing);
    EXPECT_TRUE(vosq_io_dbdb.input_macro);
    if (vosq_io_dbdb.input_macro) IO_CLOSE_INMACRO(status);
  }
}


// A coordinate question takes one click on the displayed data and sets both
// names as reals; a window that gives no point sets nothing and the macro
// goes on.
TEST_F(WindowQuestion, CoordinateQuestionTakesAClickOnTheData) {
  std::vector<float> data(100), axis(10);
  for (std::size_t k = 0; k < 10; ++k) axis[k] = static_cast<float>(k) + 0.5f;
  for (std::size_t k = 0; k < 100; ++k) data[k] = static_cast<float>(k);
  GsDisplayedImage shown;
  shown.xmaxdat = shown.ymaxdat = 10;
  shown.xendelm = shown.yendelm = 10;
  shown.data = data;
  shown.xaxis = shown.yaxis = axis;
  const std::string record =
      "%!*\\\n%!*\\ Definition of interactive input of a value\n%!*\\ Data value type\n"
      "GRAPHICAL COORDINATE\n%!*\\ User prompt\nClick the peak\n%!*\\ Give default\n"
      "%!*\\ Help text (up to 100 lines)\nThe brightest spot\n\\\\\n"
      "%!*\\ Program variable\nPX\nPY\n%!*\\\n%!*\\ End of Definition\n%!*\\\n";
  for (const bool clicked : {true, false}) {
    SCOPED_TRACE(clicked);
    testing::reset_dialogue();
    Status status = kStatusGood;
    kzt_set_variable("PX", 'r', 0, false, -1.0f, "", status);
    kzt_set_variable("PY", 'r', 0, false, -1.0f, "", status);
    GS_PLOT(10, 10, data, axis, axis, 1, 1, 10, 10, "t", "x", "y", "z", status);
    const float px = QG_WC2PC(true, 6.25f, status), py = QG_WC2PC(false, 3.75f, status);
    items.clear();
    const std::string file = dir.file("c.mac");
    kesta::testing::write_text_file(file, kHeader + record + "EXIT\n");
    std::string name = file;
    IO_OPEN_INMACRO(false, name, status);
    if (clicked) script({testing::click(px, py)});
    TerminalCapture terminal;
    KZT_QUESTION(true, &shown, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_TRUE(vosq_io_dbdb.input_macro);
    EXPECT_NEAR(variable_value("PX").rvalue, clicked ? 6.25f : -1.0f, 0.01f);
    EXPECT_NEAR(variable_value("PY").rvalue, clicked ? 3.75f : -1.0f, 0.01f);
    if (vosq_io_dbdb.input_macro) IO_CLOSE_INMACRO(status);
  }
}

}  // namespace
}  // namespace kesta
