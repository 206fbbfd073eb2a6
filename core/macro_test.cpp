#include "core/macro.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/dialogue_testing.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/test_support.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

using testing::ScriptedInput;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct Variable {
  char type = ' ';
  int ivalue = -999;
  bool lvalue = false;
  std::string svalue;
};

Variable variable(const std::string& name) {
  Variable v;
  int retstat = 0, length = 0;
  float rvalue = 0;
  Status status = kStatusGood;
  IO_INQ_VARIABLE(name, retstat, v.type, v.ivalue, v.lvalue, rvalue, length, v.svalue, status);
  if (v.type == 's' || v.type == 'u') v.svalue.resize(static_cast<std::size_t>(length));
  return v;
}

int integer_variable(const std::string& name) {
  const Variable v = variable(name);
  return v.type == 'i' ? v.ivalue : -999;
}

class MacroTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  void TearDown() override { testing::reset_dialogue(); }

  // Opens TEXT as the input macro.
  void replay(const std::string& text) {
    std::string path = dir.file("in.mac");
    write_file(path, text);
    Status status = kStatusGood;
    IO_OPEN_INMACRO(false, path, status);
    ASSERT_EQ(status, kStatusGood);
  }

  // Every line IO_READ_MACRO returns until it fails; the failing status last.
  std::vector<std::string> macro_lines(Status& status) {
    std::vector<std::string> lines;
    status = kStatusGood;
    for (int guard = 0; guard < 100; ++guard) {
      std::string line;
      IO_READ_MACRO(kStreamInputMacro, line, status);
      if (status != kStatusGood) break;
      lines.push_back(line + (integer_variable("I") != -999 ? "@" + std::to_string(integer_variable("I")) : ""));
    }
    return lines;
  }

  testing::TempDir dir;
  testing::TerminalCapture terminal;
};

TEST_F(MacroTest, RecordThenReplayGivesTheSameAnswers) {
  std::string first = dir.file("first.mac");
  std::string second = dir.file("second.mac");
  const std::vector<std::string> menu = {"IMAGE", "INPUT DATA", "STOP MACRO"};
  Status status = kStatusGood;
  int a = 0, b = 0, length = 0;
  std::string name = "file name.dat", command;
  bool flag = false;
  {
    ScriptedInput input({"12 34", "", "y", "im", "sto"});
    IO_OPEN_OUTMACRO(false, false, first, status);
    IO_INPI(false, 0, 0, false, "A", {"H"}, {"E"}, a, status);
    IO_INPI(false, 0, 0, false, "B", {"H"}, {"E"}, b, status);
    IO_INPS(true, "NAME", {"H"}, {"E"}, 1, length, name, status);
    IO_INPL(false, false, false, false, "FLAG", {"H"}, {"E"}, flag, status);
    IO_MENU(false, "CMD", {"H"}, {"E"}, 3, menu, command, status);
    IO_MENU(false, "CMD", {"H"}, {"E"}, 3, menu, command, status);
    IO_CLOSE_OUTMACRO(status);
    ASSERT_EQ(status, kStatusGood);
  }
  const std::string expected =
      "%!*\\ BEGINNING OF IO MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n"
      "12 34\n\ny\nIMAGE\n%!*\\ END OF IO MACRO FILE\n";
  EXPECT_EQ(read_file(first), expected);

  // Replaying while recording again reproduces the file byte for byte, and
  // nothing is asked at the terminal.
  ScriptedInput none({});
  IO_OPEN_INMACRO(false, first, status);
  IO_OPEN_OUTMACRO(false, false, second, status);
  int a2 = 0, b2 = 0;
  std::string name2 = "file name.dat", command2;
  bool flag2 = false;
  IO_INPI(false, 0, 0, false, "A", {"H"}, {"E"}, a2, status);
  IO_INPI(false, 0, 0, false, "B", {"H"}, {"E"}, b2, status);
  IO_INPS(true, "NAME", {"H"}, {"E"}, 1, length, name2, status);
  IO_INPL(false, false, false, false, "FLAG", {"H"}, {"E"}, flag2, status);
  IO_MENU(false, "CMD", {"H"}, {"E"}, 3, menu, command2, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(a2, 12);
  EXPECT_EQ(b2, 34);
  EXPECT_EQ(name2, "file name.dat");
  EXPECT_TRUE(flag2);
  EXPECT_EQ(command2, "IMAGE");
  EXPECT_TRUE(none.prompts.empty());
  // The end line: the macro ends and the question goes to the terminal,
  // whose input has ended as well.
  IO_MENU(false, "CMD", {"H"}, {"E"}, 3, menu, command2, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
  EXPECT_NE(terminal.text().find("CMD:IMAGE\nCMD:  *** END OF MACRO FILE ***\n"), std::string::npos);
  status = kStatusGood;
  {
    ScriptedInput stop({"stop"});
    IO_MENU(false, "CMD", {"H"}, {"E"}, 3, menu, command2, status);
  }
  IO_CLOSE_OUTMACRO(status);
  EXPECT_EQ(read_file(second), read_file(first));
}

// A command refused before it did anything is cut off the recording, with
// whatever it recorded; the answers typed ahead of it on its line stay. A
// mark made while nothing records takes nothing back.
TEST_F(MacroTest, ARefusedCommandIsTakenBackOffTheRecording) {
  std::string file = dir.file("r.mac");
  static const std::string kMenu[] = {"I2C", "START MACRO"};
  ScriptedInput input({"sta", "12 START MACRO", "I2C"});
  Status status = kStatusGood;
  OutmacroMark before = io_outmacro_mark();
  IO_OPEN_OUTMACRO(false, false, file, status);
  EXPECT_FALSE(io_command_refused());
  io_outmacro_take_back(before);
  std::string command;
  for (int i = 0; i < 3; ++i) {
    const OutmacroMark mark = io_outmacro_mark();
    if (i == 1) {
      int n = 0;
      IO_INPI(false, 0, 0, false, "N", {"H"}, {"E"}, n, status);
      EXPECT_EQ(n, 12);
    }
    const OutmacroMark command_mark = i == 1 ? io_outmacro_mark() : mark;
    IO_MENU(false, "CMD", {"H"}, {"E"}, 2, kMenu, command, status);
    if (command == "START MACRO") {
      std::string other = dir.file("other.mac");
      IO_OPEN_OUTMACRO(false, false, other, status);
    }
    EXPECT_EQ(io_command_refused(), command == "START MACRO") << i;
    if (command == "START MACRO") io_outmacro_take_back(command_mark);
  }
  EXPECT_FALSE(io_command_refused());
  ScriptedInput stop({"I2C"});
  IO_MENU(false, "CMD", {"H"}, {"E"}, 2, kMenu, command, status);
  IO_CLOSE_OUTMACRO(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(read_file(file),
            "%!*\\ BEGINNING OF IO MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n"
            "12\nI2C\n%!*\\ END OF IO MACRO FILE\n");
}

TEST_F(MacroTest, DoLoops) {
  struct Case {
    std::string macro;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"DO I = 1, 3\nIMAGE\nEND DO\nLAST\n", {"IMAGE@1", "IMAGE@2", "IMAGE@3", "LAST@3"}},
      {"do i=3,1,-1\nA\nB\nenddo\nLAST\n", {"A@3", "B@3", "A@2", "B@2", "A@1", "B@1", "LAST@1"}},
      {"DO I =2*2,9,I_STEP\nA\nEND DO\n", {"A@4", "A@7"}},
      // The test is made at END DO: the body always runs once.
      {"DO I=3,1\nA\nEND DO\nLAST\n", {"A@3", "LAST@3"}},
      {"DO I = 1, 10, 0\nA\nEND DO\nLAST\n", {"A@1", "LAST@1"}},
      // The whole integer range, to its most negative value.
      {"DO I = -2147483647, -2147483648, -1\nA\nEND DO\nLAST\n",
       {"A@-2147483647", "A@-2147483648", "LAST@-2147483648"}},
      {"DO I = 2147483646, 2147483647\nA\nEND DO\n", {"A@2147483646", "A@2147483647"}},
      // No "=": an ordinary answer.
      {"DO I 1 10\n", {"DO I 1 10"}},
      {"%SLEEP 0\nA\n%SLEEP -1\nB\n", {"A", "B"}},
  };
  for (const auto& c : cases) {
    testing::reset_dialogue();
    Status status = kStatusGood;
    int retstat = 0;
    IO_SET_VARIABLE("I_STEP", 'i', 3, false, 0, 0, "", retstat, status);
    replay(c.macro);
    const auto lines = macro_lines(status);
    EXPECT_EQ(lines, c.lines) << c.macro;
    EXPECT_EQ(status, 11001) << c.macro;
    EXPECT_EQ(vosq_io_dbdb.loop_depth, 0) << c.macro;
  }
}

// A recording, a log or any file written over the macro being replayed is
// refused, whatever name reaches it; the macro replays on unchanged.
TEST_F(MacroTest, TheRunningMacroIsNeverWritten) {
  const std::string text = "A\nB\n";
  replay(text);
  const std::string path = dir.file("in.mac");
  const std::string other_name = dir.path().string() + "/./in.mac";
  Status status = kStatusGood;
  std::string name = other_name;
  IO_OPEN_OUTMACRO(false, false, name, status);
  EXPECT_EQ(status, 11000);
  EXPECT_FALSE(vosq_io_dbdb.output_macro);
  status = kStatusGood;
  name = path;
  IO_OPEN_LOGFILE(false, name, status);
  EXPECT_EQ(status, 11000);
  EXPECT_FALSE(vosq_io_dbdb.log_open);
  EXPECT_NE(terminal.text().find("\"" + path + "\" is the running macro"), std::string::npos)
      << terminal.text();
  AtomicFile out(path);
  EXPECT_FALSE(out.ok());
  EXPECT_NE(out.error().find("it is the running macro"), std::string::npos) << out.error();
  EXPECT_EQ(read_file(path), text);
  status = kStatusGood;
  EXPECT_EQ(macro_lines(status), (std::vector<std::string>{"A", "B"}));
  // Once the macro is closed, the file is an ordinary one again.
  status = kStatusGood;
  IO_CLOSE_INMACRO(status);
  name = path;
  IO_OPEN_OUTMACRO(false, false, name, status);
  EXPECT_EQ(status, kStatusGood);
  IO_CLOSE_OUTMACRO(status);
}

TEST_F(MacroTest, DoLoopFaults) {
  struct Case {
    std::string macro;
    Status status;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"DO I = 1, 3\nA\nDO J = 1, 2\n", 11007, ""},
      {"A\nEND DO\n", 11007, ""},
      {"DO = 1, 3\nA\nEND DO\n", 11013,
       "ERROR: Syntax error; Variable of \"DO\" loop not specified\n"},
      {"DO =1,3\n", 11013, "ERROR: Syntax error; Variable of \"DO\" loop not specified\n"},
      {"DO I =\n", 11013, "ERROR: Syntax error; Start value of \"DO\" loop not specified\n"},
      {"DO I = 1\n", 11013, "ERROR: Syntax error; End value of \"DO\" loop not specified\n"},
      {"DO I = 1.5, 3\n", 11013, "ERROR: Syntax error; Start value of \"DO\" loop incorrect\n"},
      {"DO I = 1, 'x'\n", 11013, "ERROR: Syntax error; End value of \"DO\" loop incorrect\n"},
      {"DO I = 1, 3, .TRUE.\n", 11013,
       "ERROR: Syntax error; Step value of \"DO\" loop incorrect\n"},
  };
  for (const auto& c : cases) {
    testing::reset_dialogue();
    testing::TerminalCapture capture;
    replay(c.macro);
    Status status = kStatusGood;
    macro_lines(status);
    EXPECT_EQ(status, c.status) << c.macro;
    if (c.status == 11013) {
      EXPECT_NE(capture.text().find(c.shown + "       Line number =        1\n"), std::string::npos)
          << capture.text();
    }
  }
}

TEST_F(MacroTest, DoDirectlyFollowedByEndDoLeavesTheLoopOpen) {
  replay("DO I = 1, 2\nEND DO\n");
  Status status = kStatusGood;
  std::string line;
  IO_READ_MACRO(kStreamInputMacro, line, status);
  EXPECT_EQ(line, "END DO");
  EXPECT_EQ(vosq_io_dbdb.loop_depth, 1);
  // At the end of the replay the open loop is reported.
  ScriptedInput input({"answer"});
  const std::vector<std::string> prompt = {"Q:"};
  IO_READ(prompt, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(vosq_io_dbinteractive, "answer");
  EXPECT_NE(terminal.text().find("  *** END OF MACRO FILE ***\n \nERROR: There are   1 open \"DO\" loops\n \n"),
            std::string::npos);
  EXPECT_EQ(vosq_io_dbdb.loop_depth, 0);
}

TEST_F(MacroTest, ReplaySkipsControlLinesAndStopsAtTheEndMarker) {
  replay("%!*\\ comment\nONE\n%!*\\ END OF VOSQ_IO MACRO FILE\nNEVER\n");
  ScriptedInput input({"typed"});
  const std::vector<std::string> prompt = {"Q:"};
  Status status = kStatusGood;
  IO_READ(prompt, status);
  EXPECT_EQ(vosq_io_dbinteractive, "ONE");
  IO_READ(prompt, status);
  EXPECT_EQ(vosq_io_dbinteractive, "typed");
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(terminal.text(), "Q:ONE\nQ:  *** END OF MACRO FILE ***\n");
}

// A replayed assignment is asked again as a typed one is: the next line
// answers the same question, not the next one. A replayed escape ends its
// prompt's line, so what follows is not run on after the prompt.
TEST_F(MacroTest, ReplayedAssignmentsAreAskedAgainAndEscapesEndTheirLine) {
  replay("f = 2\n3\nc = 1\nCADD\n\\\\\n");
  ScriptedInput none({});
  static const std::string kMenu[] = {"CADD", "CMULTIPLY"};
  Status status = kStatusGood;
  float factor = 1.0f;
  IO_INPR(false, 0.0f, 0.0f, true, "MULTIPLICATION CONSTANT", {"H"}, {"E"}, factor, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(factor, 3.0f);
  std::string command = "CMULTIPLY";
  IO_MENU(true, "ENTER COMMAND", {"H"}, {"E"}, 2, kMenu, command, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(command, "CADD");
  std::string text;
  IO_INPC(false, "TEXT", {"H"}, {"E"}, 101, text, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_TRUE(none.prompts.empty());
  EXPECT_EQ(terminal.text(),
            "MULTIPLICATION CONSTANT [1.000000]:f = 2\n"
            "MULTIPLICATION CONSTANT [1.000000]:3\n"
            "ENTER COMMAND [CMULTIPLY]:c = 1\n"
            "ENTER COMMAND [CMULTIPLY]:CADD\n"
            "TEXT:\\\\\n");
}

TEST_F(MacroTest, EndOfMacroAtAGraphicalMenuOrInAFileSequence) {
  const std::vector<std::string> graphical = {"MENU CHOICE (GRAPHICAL)", "CHOICE:"};
  const std::vector<std::string> plain = {"CHOICE:"};
  ScriptedInput input({});
  Status status = kStatusGood;
  replay("");
  IO_READ(graphical, status);
  EXPECT_EQ(status, kStatusConsumed);
  EXPECT_EQ(vosq_io_dbinteractive, "%!*\\ EOF");
  EXPECT_TRUE(io_macro_ended(status));
  status = kStatusGood;
  replay("%!*\\ END OF IO MACRO FILE\n");
  io_adopt_sequence_macro();
  vosq_io_dbdb.file_sequence = true;
  IO_READ(plain, status);
  EXPECT_EQ(status, kStatusConsumed);
  EXPECT_TRUE(io_macro_ended(status));
  EXPECT_EQ(vosq_io_dbinteractive, "%!*\\ SEQUENCE");
  EXPECT_TRUE(input.prompts.empty());
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
  EXPECT_TRUE(vosq_io_dbdb.file_sequence);
}

// Only the sequence's own macro moves it on: another macro that ends while
// a sequence waits (its own was left before its end) ends the sequence, and
// the question goes to the terminal.
TEST_F(MacroTest, AnotherMacrosEndIsNoCountOfASequence) {
  const std::vector<std::string> plain = {"CHOICE:"};
  ScriptedInput input({"typed"});
  Status status = kStatusGood;
  vosq_io_dbdb.file_sequence = true;
  replay("ONE\n");
  IO_READ(plain, status);
  IO_READ(plain, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(vosq_io_dbinteractive, "typed");
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
  EXPECT_NE(terminal.text().find(
                "  *** END OF MACRO FILE ***\n \nNOTE: Sequence terminated: its macro was left "
                "before its end\n \n"),
            std::string::npos)
      << terminal.text();
  // Opened as the sequence's, a macro is its own until another is opened.
  std::string name = dir.file("in.mac");
  io_open_sequence_macro(name, status);
  EXPECT_TRUE(io_sequence_macro());
  IO_CLOSE_INMACRO(status);
  replay("TWO\n");
  EXPECT_FALSE(io_sequence_macro());
}

TEST_F(MacroTest, LogHoldsTheTranscript) {
  std::string log = dir.file("kesta.log");
  Status status = kStatusGood;
  IO_OPEN_LOGFILE(false, log, status);
  IO_WRITE("INFO: hello", status);
  {
    ScriptedInput input({"", "7"});
    int n = 0;
    IO_INPI(true, 1, 9, false, "N", {"help"}, {"error"}, n, status);
  }
  replay("8\n");
  int m = 0;
  IO_INPI(false, 0, 0, false, "M", {"help"}, {"error"}, m, status);
  EXPECT_EQ(m, 8);
  IO_CLOSE_LOGFILE(status);
  EXPECT_EQ(status, kStatusGood);
  // A replayed answer shows as the prompt with its echo, then the line again.
  EXPECT_EQ(read_file(log),
            "INFO: hello\nN (Range: 1 to 9): \nerror\nhelp\nN (Range: 1 to 9):7\nM:8\n8\n");
}

TEST_F(MacroTest, OpeningFaults) {
  Status status = kStatusGood;
  std::string blank;
  IO_OPEN_LOGFILE(false, blank, status);
  EXPECT_EQ(status, 10033);
  status = kStatusGood;
  std::string missing = dir.file("no/such/dir/x.mac");
  IO_OPEN_INMACRO(false, missing, status);
  EXPECT_EQ(status, 11000);
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
  {
    // A directory is refused by name, not replayed as an empty macro.
    testing::TerminalCapture capture;
    status = kStatusGood;
    std::string folder = dir.path().string();
    IO_OPEN_INMACRO(false, folder, status);
    EXPECT_EQ(status, 11000);
    EXPECT_FALSE(vosq_io_dbdb.input_macro);
    EXPECT_EQ(capture.text(), "WARNING: \"" + folder + "\" is a directory\n");
  }
  status = kStatusGood;
  std::string out = dir.file("o.mac");
  IO_OPEN_OUTMACRO(true, false, out, status);
  testing::TerminalCapture capture;
  IO_OPEN_OUTMACRO(false, false, out, status);
  EXPECT_EQ(capture.text(),
            "WARNING: Output macro file is already open, use \"STOP MACRO\" to close\n"
            "         the file so that a new macro may be defined.\n");
  IO_CLOSE_OUTMACRO(status);
  EXPECT_EQ(status, kStatusGood);
  // Nothing recorded: the header's last line becomes the end line.
  EXPECT_EQ(read_file(out),
            "%!*\\ BEGINNING OF GUI MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n"
            "%!*\\ END OF IO MACRO FILE\n");
}

// A full disk while recording: the first failed record (an answer or an empty
// answer) is reported once and ends the recording, and the answers still get
// through; an end line that cannot be written fails STOP MACRO.
TEST_F(MacroTest, RecordingFailuresAreReportedOnceAndEndTheRecording) {
  const std::string report =
      "ERROR: Failed to output ASCII text to an output file. May be you do not\n"
      "       have write permission, or the file system, or your quota, are full.\n"
      " \n"
      "       Input/output status return value (IOSTAT) = ";
  const auto record_to_full_disk = [] {
    testing::reset_dialogue();
    std::FILE* full = std::fopen("/dev/full", "w");
    io_set_stream(kStreamOutputMacro, full);
    vosq_io_dbdb.output_macro = true;
    return full != nullptr;
  };
  for (const std::string answer : {"12", ""}) {
    ASSERT_TRUE(record_to_full_disk());
    testing::TerminalCapture capture;
    ScriptedInput input({answer, "next"});
    const std::vector<std::string> prompt = {"Q:"};
    Status status = kStatusGood;
    for (const std::string& expected : {answer, std::string("next")}) {
      IO_READ(prompt, status);
      EXPECT_EQ(status, kStatusGood) << answer;
      EXPECT_EQ(vosq_io_dbinteractive, expected);
    }
    const std::string text = capture.text();
    EXPECT_NE(text.find(report), std::string::npos) << text;
    EXPECT_EQ(text.find(report, text.find(report) + 1), std::string::npos) << text;
    EXPECT_NE(text.find("(This value is system dependent; see system documentation.)\n \n"
                        "WARNING: The output macro file is closed; no more answers are recorded\n"),
              std::string::npos)
        << text;
    EXPECT_FALSE(vosq_io_dbdb.output_macro);
    EXPECT_EQ(io_stream(kStreamOutputMacro), nullptr);
  }
  ASSERT_TRUE(record_to_full_disk());
  testing::TerminalCapture capture;
  Status status = kStatusGood;
  IO_CLOSE_OUTMACRO(status);
  EXPECT_EQ(status, 11010);
  EXPECT_NE(capture.text().find(report), std::string::npos);
  EXPECT_FALSE(vosq_io_dbdb.output_macro);
}

// Devices and named pipes are refused at once with a message, never read
// or waited on: /dev/zero is one endless line, a pipe without a writer (or,
// for recording, without a reader) would block the program.
TEST_F(MacroTest, SpecialFilesAreRefusedWithoutBlocking) {
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {std::string("/dev/zero"), std::string("/dev/full"), fifo}) {
    testing::TerminalCapture capture;
    Status status = kStatusGood;
    std::string file = name;
    IO_OPEN_INMACRO(false, file, status);
    EXPECT_EQ(status, 11000) << name;
    EXPECT_FALSE(vosq_io_dbdb.input_macro) << name;
    EXPECT_EQ(capture.text(), "WARNING: \"" + name + "\" is not a regular file\n");
  }
  {
    // A system file that says it is empty reads as empty, not as the endless
    // lines it would give.
    const std::string link = dir.file("pagemap.mac");
    std::filesystem::create_symlink("/proc/self/pagemap", link);
    std::string file = link;
    Status status = kStatusGood;
    IO_OPEN_INMACRO(false, file, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(macro_lines(status), std::vector<std::string>{});
    EXPECT_NE(status, kStatusGood);
    testing::reset_dialogue();
  }
  {
    // The command-line macro of the same kind.
    testing::TerminalCapture capture;
    Status status = kStatusGood;
    io_mset_options(std::vector<std::string>{"-mac/dev/zero"}, status);
    EXPECT_FALSE(vosq_io_dbdb.input_macro);
    EXPECT_NE(capture.text().find("\"/dev/zero\" is not a regular file"), std::string::npos);
  }
  for (bool log : {false, true}) {
    testing::TerminalCapture capture;
    Status status = kStatusGood;
    std::string file = fifo;
    if (log)
      IO_OPEN_LOGFILE(false, file, status);
    else
      IO_OPEN_OUTMACRO(false, false, file, status);
    EXPECT_EQ(status, 11000) << log;
    EXPECT_FALSE(vosq_io_dbdb.log_open || vosq_io_dbdb.output_macro);
    EXPECT_EQ(capture.text(), "WARNING: \"" + fifo + "\" is a named pipe that nothing reads\n");
  }
}

// A macro line longer than a response line is cut to 132 characters and the
// rest is never kept; the reader is told the answer was cut.
TEST_F(MacroTest, OverlongLinesAreCutToAResponseLine) {
  const std::string long_line = std::string(132, 'a') + std::string(200000, 'b');
  replay(long_line + "\n" + std::string(132, 'c') + std::string(50, ' ') + "\nnext\n");
  Status status = kStatusGood;
  const std::vector<std::string> prompt = {"Q:"};
  testing::TerminalCapture capture;
  IO_READ(prompt, status);
  EXPECT_EQ(vosq_io_dbinteractive, std::string(132, 'a'));
  EXPECT_TRUE(io_response_cut());
  IO_READ(prompt, status);  // only blanks beyond the limit: nothing lost
  EXPECT_EQ(vosq_io_dbinteractive, std::string(132, 'c'));
  EXPECT_FALSE(io_response_cut());
  IO_READ(prompt, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(vosq_io_dbinteractive, "next");
}

// Recording to a full disk from the start: START MACRO reports the failure
// once, closes the file and stops recording, and leaves no failure behind.
TEST_F(MacroTest, RecordingToAFullDiskLeavesNoFailureBehind) {
  testing::TerminalCapture capture;
  Status status = kStatusGood;
  std::string file = "/dev/full";
  IO_OPEN_OUTMACRO(false, false, file, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(vosq_io_dbdb.output_macro);
  EXPECT_EQ(io_stream(kStreamOutputMacro), nullptr);
  ScriptedInput input({"answer"});
  const std::vector<std::string> prompt = {"Q:"};
  IO_READ(prompt, status);
  EXPECT_EQ(status, kStatusGood);
  io_outmacro_record("more", status);
  EXPECT_EQ(status, kStatusGood);
  const std::string text = capture.text();
  const std::string report = "ERROR: Failed to output ASCII text to an output file.";
  ASSERT_NE(text.find(report), std::string::npos) << text;
  EXPECT_EQ(text.find(report, text.find(report) + 1), std::string::npos) << text;
}

TEST_F(MacroTest, CommandLineOptions) {
  const std::string old_cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.path());
  write_file("run.mac", "A\n");
  Status status = kStatusGood;
  const std::vector<std::string> options = {"-IVARN=5",        "-svarT='a",   "b'",
                                           "-IVARM=x",        "-SYMfoo=bar baz", "-RVAR=1",
                                           "-LVARok=yes",     "-macrun.mac", "-mac"};
  io_mset_options(options, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(integer_variable("N"), 5);
  EXPECT_EQ(integer_variable("M"), -999);
  EXPECT_EQ(variable("T").type, 's');
  EXPECT_EQ(variable("T").svalue, "a b");
  EXPECT_EQ(variable("foo").type, 'u');
  EXPECT_EQ(variable("foo").svalue, "bar baz");
  EXPECT_EQ(variable("ok").type, 'l');
  EXPECT_TRUE(variable("ok").lvalue);
  EXPECT_TRUE(vosq_io_dbdb.input_macro);
  EXPECT_EQ(terminal.text(), "WARNING: Could not convertvariable value to correct type\n");

  // "-mac" alone tries kesta.mac.
  testing::reset_dialogue();
  const std::vector<std::string> alone = {"-mac"};
  io_mset_options(alone, status);
  EXPECT_EQ(status, 11000);
  EXPECT_NE(terminal.text().find("INFO: No macro file name specified; trying 'kesta.mac'\n"
                                 "WARNING: Cannot open kesta.mac: No such file or directory\n"
                                 "WARNING: Macro file as specified on command file could not be opened\n"),
            std::string::npos);
  std::filesystem::current_path(old_cwd);
}

TEST_F(MacroTest, SleepLineReturnsTheNextLine) {
  // One second at most; the pause itself is not timed.
  replay("%SLEEP 1\nAFTER\n");
  Status status = kStatusGood;
  std::string line;
  IO_READ_MACRO(kStreamInputMacro, line, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(line, "AFTER");
  EXPECT_EQ(vosq_io_dbdb.macro_line, 2);
}

}  // namespace
}  // namespace kesta
