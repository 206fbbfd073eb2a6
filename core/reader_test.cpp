#include "core/reader.hpp"

#include <gtest/gtest.h>

#include <readline/history.h>
#include <sys/ioctl.h>
#include <termios.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cctype>
#include <clocale>
#include <cstring>
#include <fstream>
#include <random>
#include <chrono>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"

#if defined(__SANITIZE_ADDRESS__)
// Allocations are recorded with their whole stack: the line editor's frames
// have no frame pointers, and a leak found in it would otherwise name only
// its allocator.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
#endif

namespace kesta {
namespace {

using testing::ScriptedInput;

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  void TearDown() override { testing::reset_dialogue(); }
  testing::TerminalCapture terminal;
  const std::vector<std::string> prompt{"FIRST LINE", "ANSWER:"};
};

TEST_F(ReaderTest, TokensComeFromOneLineUntilItIsUsedUp) {
  ScriptedInput input({"1,2", " 7 ", "", "last"});
  Status status = kStatusGood;
  int length = -1;
  std::string token;
  // "1,2" answers two token prompts.
  IO_INPUT_TOKEN(false, prompt, length, token, status);
  EXPECT_EQ(token, "1");
  EXPECT_EQ(length, 1);
  IO_INPUT_TOKEN(false, prompt, length, token, status);
  EXPECT_EQ(token, "2");
  EXPECT_EQ(length, 2);
  EXPECT_TRUE(vosq_io_dbdb.new_line_needed);
  // " 7 " answers one and leaves nothing for the next, which reads a new line.
  IO_INPUT_TOKEN(false, prompt, length, token, status);
  EXPECT_EQ(token, "7");
  EXPECT_TRUE(vosq_io_dbdb.new_line_needed);
  // An empty line gives LENGTH 0 and a blank token.
  IO_INPUT_TOKEN(false, prompt, length, token, status);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(token, " ");
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 1u);
  // The lines before the prompt proper go to the terminal; the prompt proper
  // is the line editor's prompt.
  EXPECT_EQ(input.prompts, std::vector<std::string>(3, "ANSWER:"));
  EXPECT_NE(terminal.text().find("FIRST LINE\n"), std::string::npos);
}

TEST_F(ReaderTest, LineTakesTheRestAfterTheTokens) {
  ScriptedInput input({"5 abc  def", ""});
  Status status = kStatusGood;
  int length = 0;
  std::string text;
  IO_INPUT_TOKEN(false, prompt, length, text, status);
  EXPECT_EQ(text, "5");
  IO_INPUT_LINE(false, prompt, length, text, status);
  EXPECT_EQ(text, " abc  def");
  EXPECT_EQ(length, 9);
  // An empty line: LENGTH 1 and a single blank.
  IO_INPUT_LINE(false, prompt, length, text, status);
  EXPECT_EQ(text, " ");
  EXPECT_EQ(length, 1);
  EXPECT_EQ(status, kStatusGood);
}

TEST_F(ReaderTest, EscapeLineIsNeitherRecordedNorLogged) {
  testing::TempDir dir;
  std::string log = dir.file("run.log");
  std::string mac = dir.file("run.mac");
  Status status = kStatusGood;
  IO_OPEN_LOGFILE(false, log, status);
  IO_OPEN_OUTMACRO(false, false, mac, status);
  ASSERT_EQ(status, kStatusGood);
  vosq_io_dbinteractive = "previous";
  {
    ScriptedInput input({"\\\\   "});
    IO_READ(prompt, status);
    EXPECT_EQ(status, kStatusEscape);
    EXPECT_EQ(vosq_io_dbinteractive, "previous");
  }
  status = kStatusGood;
  {
    // Two backslashes and anything else are an ordinary answer.
    ScriptedInput input({"\\\\x"});
    IO_READ(prompt, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(vosq_io_dbinteractive, "\\\\x");
  }
  IO_CLOSE_LOGFILE(status);
  vosq_io_dbdb.output_macro = false;
  io_close_stream(kStreamOutputMacro);
  std::FILE* f = std::fopen(mac.c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::string recorded;
  for (int c; (c = std::fgetc(f)) != EOF;) recorded.push_back(static_cast<char>(c));
  std::fclose(f);
  EXPECT_EQ(recorded,
            "%!*\\ BEGINNING OF IO MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n\\\\x\n");
  f = std::fopen(log.c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::string logged;
  for (int c; (c = std::fgetc(f)) != EOF;) logged.push_back(static_cast<char>(c));
  std::fclose(f);
  // The prompt of the escaped answer stays as written; the answer is not there.
  EXPECT_EQ(logged, "FIRST LINE\nANSWER:FIRST LINE\nANSWER:\\\\x\n");
}

TEST_F(ReaderTest, FailedLogIsReportedOnceClosedAndTheAnswerDelivered) {
  ScriptedInput input({"first", "second"});
  ASSERT_TRUE(io_open_stream(kStreamLog, "/dev/full", "w"));
  vosq_io_dbdb.log_open = true;
  Status status = kStatusGood;
  for (const std::string answer : {"first", "second"}) {
    IO_READ(prompt, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(vosq_io_dbinteractive, answer);
  }
  EXPECT_FALSE(vosq_io_dbdb.log_open);
  EXPECT_EQ(io_stream(kStreamLog), nullptr);
  const std::string text = terminal.text();
  const std::string report = "ERROR: Failed to output ASCII text to an output file.";
  EXPECT_NE(text.find(report), std::string::npos);
  EXPECT_EQ(text.find(report, text.find(report) + 1), std::string::npos);
  EXPECT_NE(text.find("WARNING: The log file is closed; nothing more is written to it"),
            std::string::npos);
}

TEST_F(ReaderTest, EndOfInputIsTheUserEscape) {
  ScriptedInput input({});
  Status status = kStatusGood;
  int value = 3;
  // No default: without the escape at the end of the input this would ask for ever.
  IO_INPI(true, 1, 10, false, "NUMBER", {"help"}, {"error"}, value, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(value, 3);
  status = kStatusGood;
  std::string text = "kept";
  IO_INPS(false, "TEXT", {"help"}, {"error"}, 1, value, text, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(text, "kept");
}

TEST_F(ReaderTest, LongLinesAreCutToAResponseLine) {
  ScriptedInput input({std::string(1000, 'x') + " tail"});
  Status status = kStatusGood;
  int length = 0;
  std::string line;
  IO_INPUT_LINE(false, prompt, length, line, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(line, std::string(kResponseLength, 'x'));
  EXPECT_EQ(length, static_cast<int>(kResponseLength));
}

}  // namespace
}  // namespace kesta

namespace kesta {
namespace {

// The body of a child on a pseudo-terminal: COUNT lines read at "LINE:",
// then printed as "LINES=[..][..]", with " LEAKS=n" (what LeakSanitizer
// finds lost by then) when LEAKS is asked for.
int print_lines_read(int count, bool leaks) {
  setenv("TERM", "xterm", 1);
  testing::reset_dialogue();
  std::string lines;
  for (int i = 0; i < count; ++i) {
    int length = 0;
    std::string line;
    IO_READC("LINE:", length, line);
    lines += "[" + line + "]";
  }
  int lost = 0;
#if defined(__SANITIZE_ADDRESS__)
  if (leaks) lost = __lsan_do_recoverable_leak_check();
#endif
  if (leaks)
    std::printf("\nLINES=%s LEAKS=%d\n", lines.c_str(), lost);
  else
    std::printf("\nLINES=%s\n", lines.c_str());
  std::fflush(stdout);
  return 0;
}

// The real line editor on a terminal: editing keys, history recall, and the
// end of the input (Ctrl-D on an empty line) as the user escape.
TEST(ReaderAtATerminal, LineEditingHistoryAndEndOfInput) {
  testing::PtyChild child([] {
    setenv("TERM", "xterm", 1);
    testing::reset_dialogue();
    Status status = kStatusGood;
    int value = 0;
    IO_INPI(false, 0, 0, false, "FIRST VALUE", {"H"}, {"E"}, value, status);
    std::printf("\nRESULT=%d\n", value);
    int length = 0;
    std::string first, second;
    IO_INPS(false, "TEXT", {"H"}, {"E"}, 1, length, first, status);
    IO_INPS(false, "AGAIN", {"H"}, {"E"}, 1, length, second, status);
    std::printf("\nTEXTS=[%s][%s]\n", first.c_str(), second.c_str());
    IO_INPI(false, 0, 0, false, "LAST", {"H"}, {"E"}, value, status);
    std::printf("\nESCAPE=%d\n", status == kStatusEscape ? 1 : 0);
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("FIRST VALUE:"));
  child.type("12\033[D3\r");  // "12", cursor left, "3"
  ASSERT_TRUE(child.wait_for("RESULT=132"));
  ASSERT_TRUE(child.wait_for("TEXT:"));
  child.type("hello there\r");
  ASSERT_TRUE(child.wait_for("AGAIN:"));
  child.type("\033[A\r");  // the previous line from the history
  ASSERT_TRUE(child.wait_for("TEXTS=[hello there][hello there]"));
  ASSERT_TRUE(child.wait_for("LAST:"));
  child.type("\x04");
  ASSERT_TRUE(child.wait_for("ESCAPE=1"));
  EXPECT_EQ(child.finish(), 0);
}

// Lines and Ctrl-Ds typed while the program is busy: the lines are answers
// of the next prompts, edited as typed (a NUL at the start of a line is the
// editor's set-mark key), and a Ctrl-D ends the input at its place among
// them, however many lines come before it.
TEST(ReaderAtATerminal, CtrlDTypedAheadEndsTheInput) {
  testing::PtyChild child([] {
    setenv("TERM", "xterm", 1);
    testing::reset_dialogue();
    // Busy while everything is typed.
    usleep(500000);
    std::string answers;
    for (int i = 0; i < 5; ++i) {
      int length = 0;
      std::string line;
      IO_READC("NEXT:", length, line);
      answers += length < 0 ? std::string("<end>") : "[" + line + "]";
    }
    std::printf("\nANSWERS=%s\n", answers.c_str());
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  const char keys[] = "first\n\0K\nthird\n\x04";
  child.type(std::string(keys, sizeof keys - 1));
  ASSERT_TRUE(child.wait_for("NEXT:"));
  ASSERT_TRUE(child.wait_for("NEXT:"));
  ASSERT_TRUE(child.wait_for("NEXT:"));
  ASSERT_TRUE(child.wait_for("NEXT:"));
  // Typed at the prompt, as ever.
  ASSERT_TRUE(child.wait_for("NEXT:"));
  child.type("\x04");
  ASSERT_TRUE(child.wait_for("ANSWERS=[first][K][third]<end><end>")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// A search typed ahead (Meta-P) and a Ctrl-D on the empty line after it:
// the search ends and the input with it, and the next line typed is the next
// answer, under the prompt it belongs to. The search took the end of the input
// as a key to search again, and its prompt stayed up and was lost.
TEST(ReaderAtATerminal, CtrlDTypedAheadInsideASearchEndsTheInput) {
  testing::PtyChild child([] {
    setenv("TERM", "xterm", 1);
    testing::reset_dialogue();
    usleep(500000);
    std::string answers;
    for (int i = 0; i < 2; ++i) {
      int length = 0;
      std::string line;
      IO_READC("NEXT:", length, line);
      answers += length < 0 ? std::string("<end>") : "[" + line + "]";
    }
    int lost = 0;
#if defined(__SANITIZE_ADDRESS__)
    lost = __lsan_do_recoverable_leak_check();
#endif
    std::printf("\nANSWERS=%s LEAKS=%d\n", answers.c_str(), lost);
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  // In the terminal's line mode: the first Ctrl-D hands on "ESC p", the
  // second is the end of the input.
  child.type("\033p\x04\x04");
  ASSERT_TRUE(child.wait_for("NEXT:"));
  usleep(300000);
  child.type("nj\r");
  ASSERT_TRUE(child.wait_for("ANSWERS=<end>[nj] LEAKS=0")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// Keys typed while the line editor had the terminal and a Ctrl-D typed
// after it gave the terminal back to its line mode: the terminal ends the
// partial line there and then reports the Ctrl-D as an end of input. Inside a
// line a Ctrl-D is the editor's delete-character, so the line is kept and
// completed by what is typed next; only one on an empty line ends the input.
TEST(ReaderAtATerminal, CtrlDInsideALineTypedAheadKeepsTheLine) {
  testing::PtyChild child([] {
    setenv("TERM", "xterm", 1);
    testing::reset_dialogue();
    termios lines{};
    if (tcgetattr(STDIN_FILENO, &lines) != 0) return 1;
    termios keys = lines;
    keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    // Keys arrive in key mode until COUNT bytes wait, the terminal goes back
    // to line mode, and the Ctrl-Ds typed then arrive while the program is busy.
    const auto busy = [&](int count) {
      tcsetattr(STDIN_FILENO, TCSANOW, &keys);
      std::printf("\nKEYS\n");
      std::fflush(stdout);
      for (int waiting = 0; waiting < count; usleep(10000))
        if (ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0) return;
      tcsetattr(STDIN_FILENO, TCSANOW, &lines);
      std::printf("\nLINES\n");
      std::fflush(stdout);
      usleep(300000);
    };
    std::string answers;
    const auto read = [&answers](int count) {
      for (int i = 0; i < count; ++i) {
        int length = 0;
        std::string line;
        IO_READC("NEXT:", length, line);
        answers += length < 0 ? std::string("<end>") : "[" + line + "]";
      }
    };
    busy(3);
    read(1);
    busy(3);
    read(1);
    busy(2);
    read(2);
    std::printf("\nANSWERS=%s\n", answers.c_str());
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  // One Ctrl-D inside the line, then the rest of it at the prompt.
  ASSERT_TRUE(child.wait_for("KEYS"));
  child.type("T00");
  ASSERT_TRUE(child.wait_for("LINES"));
  child.type("\x04");
  ASSERT_TRUE(child.wait_for("NEXT:"));
  child.type("56\r");
  // Two: neither ends the input, nor loses the line.
  ASSERT_TRUE(child.wait_for("KEYS"));
  child.type("T00");
  ASSERT_TRUE(child.wait_for("LINES"));
  child.type("\x04\x04");
  ASSERT_TRUE(child.wait_for("NEXT:"));
  child.type("57\r");
  // After a whole line it is on an empty one and ends the input.
  ASSERT_TRUE(child.wait_for("KEYS"));
  child.type("X\r");
  ASSERT_TRUE(child.wait_for("LINES"));
  child.type("\x04");
  ASSERT_TRUE(child.wait_for("ANSWERS=[T0056][T0057][X]<end>")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// More file names than the completion lists unasked: its question, given
// Ctrl-G, leaves the line as it was and the line editor holding nothing;
// given a typed-ahead Ctrl-D, the input still ends.
TEST(ReaderAtATerminal, CompletionQuestionDeclinedByCtrlGOrEndOfInput) {
  testing::TempDir dir;
  for (int i = 0; i < 150; ++i) std::ofstream(dir.file("f" + std::to_string(i)));
  testing::PtyChild child([&dir] {
    setenv("TERM", "xterm", 1);
    if (chdir(dir.path().c_str()) != 0) return 1;
    testing::reset_dialogue();
    int length = 0;
    std::string line;
    IO_READC("NAME:", length, line);
#if defined(__SANITIZE_ADDRESS__)
    const int leaks = __lsan_do_recoverable_leak_check();
#else
    const int leaks = 0;
#endif
    std::printf("\nLINE=[%s] LEAKS=%d\n", line.c_str(), leaks);
    std::fflush(stdout);
    // Busy while the next keys are typed.
    usleep(500000);
    IO_READC("MORE:", length, line);
    std::printf("\nEND=%d\n", length < 0 ? 1 : 0);
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("NAME:"));
  child.type("f\033?");  // list the possible completions
  ASSERT_TRUE(child.wait_for("possibilities? (y or n)")) << child.output();
  child.type("\x07");
  child.type("1\r");
  ASSERT_TRUE(child.wait_for("LINE=[f1] LEAKS=0")) << child.output();
  child.type("\033?\x04\x04");
  ASSERT_TRUE(child.wait_for("possibilities? (y or n)")) << child.output();
  ASSERT_TRUE(child.wait_for("END=1")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// History searches typed as a whole string (Meta-P, and vi "/"), cancelled
// by Ctrl-G or by Delete on an empty string, again and again: the line is
// as it was, and nothing the line editor allocated for them is lost.
TEST(ReaderAtATerminal, CancelledHistorySearchesLeaveNothingBehind) {
  testing::PtyChild child([] { return print_lines_read(3, true); });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("ab\033pxy\x07\033pz\x7f\x7f\033p\x07\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  // ESC Ctrl-J: vi mode; ESC: its command keys.
  child.type("cd\033\n\033/ef\x07/\x7f/g\x7f\x7f" "A\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("\033/\x07\r");
  ASSERT_TRUE(child.wait_for("LINES=[ab][cd][] LEAKS=0")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// A Ctrl-D typed at the completion question (the terminal then passes keys
// one by one, so it is a key, not the end of the input) declines the list as
// Ctrl-G does; the editor otherwise rang its bell at every key but y and n.
TEST(ReaderAtATerminal, CtrlDAtTheCompletionQuestionDeclinesIt) {
  testing::TempDir dir;
  for (int i = 0; i < 150; ++i) std::ofstream(dir.file("f" + std::to_string(i)));
  testing::PtyChild child([&dir] {
    setenv("TERM", "xterm", 1);
    if (chdir(dir.path().c_str()) != 0) return 1;
    testing::reset_dialogue();
    int length = 0;
    std::string line;
    IO_READC("NAME:", length, line);
    std::printf("\nLINE=[%s]\n", line.c_str());
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("NAME:"));
  child.type("f\033?");
  ASSERT_TRUE(child.wait_for("possibilities? (y or n)")) << child.output();
  child.type("\x04");
  child.type("1\r");
  ASSERT_TRUE(child.wait_for("LINE=[f1]")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// In vi mode (ESC Enter switches to it), kills typed quickly one after
// another behind inserted text: the line editor keeps every killed text
// where it can be found again.
TEST(ReaderAtATerminal, KillsInViModeAreKept) {
  testing::PtyChild child([] {
    setenv("TERM", "xterm", 1);
    testing::reset_dialogue();
    int length = 0;
    std::string line;
    IO_READC("MODE:", length, line);
    IO_READC("TEXT:", length, line);
#if defined(__SANITIZE_ADDRESS__)
    const int leaks = __lsan_do_recoverable_leak_check();
#else
    const int leaks = 0;
#endif
    std::printf("\nLINE=[%s] LEAKS=%d\n", line.c_str(), leaks);
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("MODE:"));
  child.type("\033\n\r");
  ASSERT_TRUE(child.wait_for("TEXT:"));
  child.type("ab\x15+4\x15" "2\r");
  ASSERT_TRUE(child.wait_for("LINE=[2] LEAKS=0")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// In vi mode "~" with a count, which the line editor carries out as one
// kill a character: the case of each is changed, and no leak is reported.
TEST(ReaderAtATerminal, CaseOfSeveralCharactersChangedInViMode) {
  testing::PtyChild child([] {
    setenv("TERM", "xterm", 1);
    testing::reset_dialogue();
    int length = 0;
    std::string line;
    IO_READC("TEXT:", length, line);
#if defined(__SANITIZE_ADDRESS__)
    const int leaks = __lsan_do_recoverable_leak_check();
#else
    const int leaks = 0;
#endif
    std::printf("\nLINE=[%s] LEAKS=%d\n", line.c_str(), leaks);
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("TEXT:"));
  // ESC Ctrl-J: vi mode; ESC, "0": the command keys at the start of the line.
  child.type("abcde\033\n\0330" "3~2~\r");
  ASSERT_TRUE(child.wait_for("LINE=[ABCDE] LEAKS=0")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// A line recalled from the history and edited, with the history left and
// reached again on the way (here Ctrl-P at its first line), then edited
// further: the first ESC in vi mode drops the line's undo record, which the
// history line still shared. Recalling that history line later and undoing
// there used what had been freed.
TEST(ReaderAtATerminal, HistoryLineEditedBeforeTheFirstViCommandIsKept) {
  testing::PtyChild child([] { return print_lines_read(5, false); });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("a\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  // Ctrl-P: "a"; "_"; Ctrl-P again at the first history line; Ctrl-A, " ";
  // ESC Ctrl-J: vi mode; ESC: its command keys for the first time.
  child.type("\x10_\x10\x01 \033\n\033\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  // Up to the first history line, and undo there.
  child.type("\033kku\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  // Already in vi mode, as a vi user meets it: Up to the first history
  // line, "x", Up again there, Backspace, "y", ESC.
  child.type("\033[A\033[A\033[Ax\033[A\by\033\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("\033kkkku\r");
  ASSERT_TRUE(child.wait_for("LINES=[a][ a_][ a_][ a_y][ a_y]")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// The same history line in vi insert mode, with Left instead of ESC (the
// arrow keys begin with ESC): no switch to command mode, so the history line
// stays tied to the undo record, and undoing every edit there and leaving it
// gives it back as it was.
TEST(ReaderAtATerminal, HistoryLineUndoneAfterAnArrowKeyInViModeIsAsItWas) {
  testing::PtyChild child([] { return print_lines_read(4, false); });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("a\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("b\033\n\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  // Up twice: "a"; "x"; Up again there; Left; Ctrl-_: undo; Down: "b".
  child.type("\033[A\033[Ax\033[A\033[D\x1f\033[B\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("\033[A\033[A\033[A\r");
  ASSERT_TRUE(child.wait_for("LINES=[a][b][b][a]")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// Keys replayed from a keyboard macro (here bound for vi mode by the user's
// settings) never pass the program's key reader: an ESC among them, the first
// switch to vi command mode on the line, freed the undo record a recalled
// history line still held, as a typed ESC did before.
TEST(ReaderAtATerminal, HistoryLineEditedBeforeAViCommandFromAMacroIsKept) {
  testing::TempDir dir;
  const std::string settings = dir.file("inputrc");
  {
    std::ofstream file(settings);
    file << "set editing-mode vi\nset keymap vi-insert\n"
            "\"\\C-x(\": start-kbd-macro\n\"\\C-xe\": call-last-kbd-macro\n"
            "\"\\C-p\": previous-history\n\"\\C-a\": beginning-of-line\n"
            "set keymap vi-command\n\"\\C-x)\": end-kbd-macro\n";
  }
  testing::PtyChild child([settings] {
    setenv("INPUTRC", settings.c_str(), 1);
    return print_lines_read(4, false);
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("a\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  // Ctrl-X (, ESC, Ctrl-X ): a macro of ESC.
  child.type("\x18(\033\x18)\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  // Ctrl-P: "a"; "_"; Ctrl-P again at the first history line; Ctrl-A, " ";
  // Ctrl-X e: the macro.
  child.type("\x10_\x10\x01 \x18" "e\r");
  ASSERT_TRUE(child.wait_for("LINE:")) << child.output();
  // Up to the first history line, and undo there.
  child.type("\033kku\r");
  ASSERT_TRUE(child.wait_for("LINES=[a][][ a_][ a_]")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// The line editor's settings file in DIR, holding TEXT.
std::string editor_settings(const testing::TempDir& dir, const std::string& text) {
  const std::string settings = dir.file("inputrc");
  std::ofstream(settings) << text;
  return settings;
}

// History searches among recalled and edited lines, in the ways that made
// the line editor free what a search or a history line still held: the
// lines submitted are what was typed and recalled, and nothing is lost.
// (The searches that read a whole string first, Meta-P and vi's "/", run as
// the incremental ones.)
TEST(ReaderAtATerminal, HistorySearchesAmongRecalledLinesKeepTheLines) {
  struct Case {
    const char* mode;
    std::vector<std::string> lines;  // the keys of each line, Enter included
    std::string submitted;
  };
  const Case cases[] = {
      // Up, "x", Ctrl-R, then ESC or Down ending the search.
      {"vi", {"j\r", "\033[Ax\x12\033\r"}, "[j][jx]"},
      {"vi", {"j\r", "\033[Ax\x12\033[B\r"}, "[j][]"},
      // Ctrl-P, Meta-P, Ctrl-G, "x", Ctrl-P at the first history line;
      // then Ctrl-P three times.
      {"emacs", {"a\r", "\x10\033p\x07x\x10\r", "\x10\x10\x10\r"}, "[a][ax][a]"},
      // ESC, "k", a "/" search that fails (the line stays), "x", "k" (or
      // Up) at the oldest line, Enter; ESC, "k", "S".
      {"vi", {"j\r", "\033k/q\rxk\r", "\033kSz\r"}, "[j][][z]"},
      {"vi", {"j\r", "\033k/q\rx\033[A\r", "\033kSz\r"}, "[j][][z]"},
      // A Ctrl-R search for "k" that fails, ended by Up: "x"; "kj", ESC,
      // "x"; Down leaves the line edited; "/k" finds it and "x" there: the
      // undo record the line kept is not lost. ("n" has no text to search
      // for: the incremental search's text is its own.)
      {"vi", {"x\r", "\x12k\033[Akj\033x\033[B/k\rx\r"}, "[x][k]"},
      {"vi", {"x\r", "\x12k\033[Akj\033x\033[Bnx\r"}, "[x][]"},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    const std::string settings = editor_settings(dir, std::string("set editing-mode ") + c.mode + "\n");
    const int count = static_cast<int>(c.lines.size());
    testing::PtyChild child([&settings, count] {
      setenv("INPUTRC", settings.c_str(), 1);
      return print_lines_read(count, true);
    });
    ASSERT_TRUE(child.started());
    for (const std::string& keys : c.lines) {
      ASSERT_TRUE(child.wait_for("LINE:")) << c.submitted << child.output();
      child.type(keys);
    }
    EXPECT_TRUE(child.wait_for("LINES=" + c.submitted + " LEAKS=0")) << child.output();
    EXPECT_EQ(child.finish(), 0) << c.submitted;
  }
}

// Lines typed at "LINE:" under the editor SETTINGS (and the character set
// of LOCALE, if given), each string of KEYS ending with its Enter: the lines
// submitted are SUBMITTED, and nothing the line editor allocated is lost.
void expect_lines_submitted(const std::string& settings_text, const std::vector<std::string>& keys,
                            const std::string& submitted, const char* locale = nullptr) {
  testing::TempDir dir;
  const std::string settings = editor_settings(dir, settings_text);
  const int count = static_cast<int>(keys.size());
  testing::PtyChild child([&settings, count, locale] {
    setenv("INPUTRC", settings.c_str(), 1);
    if (locale != nullptr) {
      setenv("LC_ALL", locale, 1);
      if (std::setlocale(LC_CTYPE, locale) == nullptr) return 1;
    }
    return print_lines_read(count, true);
  });
  ASSERT_TRUE(child.started());
  for (const std::string& line : keys) {
    ASSERT_TRUE(child.wait_for("LINE:")) << submitted << child.output();
    child.type(line);
  }
  EXPECT_TRUE(child.wait_for("LINES=" + submitted + " LEAKS=0")) << child.output();
  EXPECT_EQ(child.finish(), 0) << submitted;
}

// The history searches that read a whole string (Meta-P and Meta-N, vi's "/"
// and "?") as the line editor has them: Enter ends the search and leaves the
// line found for editing, the cursor at its start (a second Enter takes it);
// no text searches again for the last one, "n" and "N" at once; a search that
// fails, is cancelled (Ctrl-G, Backspace on no text) or has no text to repeat
// leaves the line as it was; in vi mode the history keys go on from the line
// found. Inside the search every other key is text. Undo after a search
// gives back the line before it.
TEST(ReaderAtATerminal, WholeStringSearchesLeaveTheLineFoundForEditing) {
  const std::vector<std::string> history{"cat one\r", "dog\r", "cat two\r", "scat\r", "cab\r"};
  const std::string typed = "[cat one][dog][cat two][scat][cab]";
  const auto with = [&history](const std::string& last) {
    std::vector<std::string> lines = history;
    lines.push_back(last);
    return lines;
  };
  const std::string emacs = "set editing-mode emacs\n", vi = "set editing-mode vi\n";
  for (const auto& [settings, keys, submitted] : {
           std::tuple{emacs, "\033pon\rX\r", "[cat Xone]"},
           std::tuple{emacs, "\033pat\rX\r", "[scXat]"},
           std::tuple{emacs, "\033pat\r\033p\rX\r", "[cXat two]"},
           std::tuple{emacs, "\033pc\rX\r", "[Xcab]"},
           std::tuple{emacs, "zz\033pqq\rX\r", "[Xzz]"},
           std::tuple{emacs, "zz\033pa\x07X\r", "[zzX]"},
           std::tuple{emacs + "set enable-active-region off\n", "\033pon\rX\r", "[Xcat one]"},
           std::tuple{emacs, "\033pat\r\033p\r\r", "[cat two]"},
           std::tuple{emacs, "\033pat\r\x10\r", "[cab]"},
           std::tuple{emacs, "\033pat\r\x1f\r", "[]"},
           std::tuple{emacs, "zz\033pqq\r\r", "[zz]"},
           std::tuple{emacs, "zz\033p\r\r", "[zz]"},
           std::tuple{emacs, "zz\033pa\x07\r", "[zz]"},
           std::tuple{emacs, "zz\033pat\x7f\x7f\x7f\r", "[zz]"},
           std::tuple{emacs, "\x10\x10\x10\x10\033nat\r\r", "[cat two]"},
           std::tuple{vi, "\033/at\r\r", "[scat]"},
           std::tuple{vi, "\033/at\rn\r", "[cat two]"},
           std::tuple{vi, "\033/at\rnnN\r", "[cat two]"},
           std::tuple{vi, "\033/at\rk\r", "[cat two]"},
           std::tuple{vi, "\033/at\rj\r", "[cab]"},
           std::tuple{vi, "\033/at\rx\r", "[cat]"},
           std::tuple{vi, "\033/at\ru\r", "[scat]"},
           std::tuple{vi, "\033kkk?at\r\r", "[scat]"},
           std::tuple{vi, "zz\033/qq\r\r", "[zz]"},
           std::tuple{vi, "zz\033/qq\riX\r", "[Xzz]"},
           std::tuple{vi, "\033/at\rniX\r", "[Xcat two]"},
           std::tuple{vi, "\033/\r\r", "[]"},
       })
    expect_lines_submitted(settings, with(keys), typed + submitted);
  // A reverse search stops at the text's last place in the line, a forward
  // one at its first.
  expect_lines_submitted(emacs, {"dog\r", "xon on\r", "a\r", "\x10\x10\x10\033non\rX\r"},
                         "[dog][xon on][a][xXon on]");
  expect_lines_submitted(emacs, {"xon on\r", "\033pon\rX\r"}, "[xon on][xon Xon]");
  // An incremental search's text is its own: a whole-string search with no
  // text, "n" and "N" do not take it up.
  expect_lines_submitted(emacs, {"dog\r", "\x12" "dog\r", "\033p\r\r"}, "[dog][dog][]");
  expect_lines_submitted(vi, {"dog\r", "\x12" "dog\r", "\033n\r"}, "[dog][dog][]");
  // "n", "N", "/" and "?" are text inside the search.
  expect_lines_submitted(vi, {"a/N?\r", "aN\r", "b\r", "\033/N?\r\r"}, "[a/N?][aN][b][a/N?]");
  expect_lines_submitted(vi, {"b/1\r", "zb\r", "b/2\r", "\033/b/\rn\r"}, "[b/1][zb][b/2][b/1]");
  expect_lines_submitted(vi, {"INPUT DATA\r", "INFORMATION\r", "\033\x12INP\r"},
                         "[INPUT DATA][INFORMATION][INPUT DATA]");
}

// The text of a whole-string search as a terminal sends it: Backspace takes
// back a whole character of the terminal's character set (the last byte of
// an "e" with an accent left alone would find lines never searched for), and
// pasted text comes without the bracketed-paste markers around it, every key
// inside them text.
TEST(ReaderAtATerminal, WholeStringSearchTextAsATerminalSendsIt) {
  const std::string e_acute = "\xc3\xa9", paste = "\033[200~", pasted = "\033[201~";
  const std::vector<std::string> history{"j" + e_acute + " one\r", "jab two\r", "j" + e_acute + "x\r"};
  const std::string typed = "[j" + e_acute + " one][jab two][j" + e_acute + "x]";
  const std::string emacs = "set editing-mode emacs\n", vi = "set editing-mode vi\n";
  for (const auto& [settings, keys, submitted] : {
           std::tuple{emacs, "\033p" + e_acute + "\x7f\r\r", std::string("[]")},
           std::tuple{emacs, "\033p" + e_acute + "\x7f" + "ab\r\r", std::string("[jab two]")},
           std::tuple{vi, "\033/" + e_acute + "\x7f" + "ab\r\r", std::string("[jab two]")},
           std::tuple{emacs, "\033p" + paste + "b t" + pasted + "\r\r", std::string("[jab two]")},
           std::tuple{vi, "\033/" + paste + "ab" + pasted + " t\r\r", std::string("[jab two]")},
           std::tuple{emacs, "\033p" + paste + e_acute + " o" + pasted + "\x7f\r\r",
                      "[j" + e_acute + " one]"},
           // Inside a paste, a line end is text (no line holds one), Ctrl-G too.
           std::tuple{emacs, "\033p" + paste + "ab\r" + pasted + "\r\r", std::string("[]")},
           std::tuple{emacs, "zz\033p" + paste + "\x07" "ab" + pasted + "\r\r", std::string("[zz]")},
       }) {
    std::vector<std::string> lines = history;
    lines.push_back(keys);
    expect_lines_submitted(settings, lines, typed + submitted, "C.UTF-8");
  }
}

// After the settings are read again (Ctrl-X Ctrl-R), searches bound anew are
// still the program's own: here the search for the text before the cursor
// going past its newest match gives back the line as typed.
TEST(ReaderAtATerminal, SearchesBoundAnewStayThePrograms) {
  testing::TempDir dir;
  const std::string settings = editor_settings(dir, "set editing-mode emacs\n");
  testing::PtyChild child([&settings] {
    setenv("INPUTRC", settings.c_str(), 1);
    return print_lines_read(3, true);
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("ab\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  editor_settings(dir,
                  "set editing-mode emacs\n\"\\C-xh\": history-search-backward\n"
                  "\"\\C-xj\": history-search-forward\n\"\\C-xs\": "
                  "non-incremental-reverse-search-history\n");
  // Ctrl-R reaching the terminal before the editor has it in raw mode is the
  // terminal's own reprint key: the prompt is given a moment first.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  child.type("\x18\x12");
  child.type("a\x18h\x18j\r");
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("\x18s" "b\r\r");
  ASSERT_TRUE(child.wait_for("LINES=[ab][a][ab] LEAKS=0")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// Searches for the text before the cursor, as a user's settings bind them
// (Up and Down, vi "k" and "j"), as the line editor has them: the next older
// or newer line beginning with (or holding) the text, the cursor after it (at
// it); with no text, the previous or next line; no match (also a new search
// after an edit), the bell and the line as it was; the line found is one
// change, which undo and revert take back, and the history position stays.
// Ours alone: going newer past the newest match gives back the line as typed.
TEST(ReaderAtATerminal, SearchesForTheTextBeforeTheCursor) {
  const std::string emacs =
      "set editing-mode emacs\n\"\\e[A\": history-search-backward\n"
      "\"\\e[B\": history-search-forward\n\"\\en\": history-substring-search-backward\n"
      "\"\\ep\": history-substring-search-forward\n";
  const std::string down_only = "set editing-mode emacs\n\"\\e[B\": history-search-forward\n";
  const std::string vi =
      "set editing-mode vi\nset keymap vi-command\n\"k\": history-search-backward\n"
      "\"j\": history-search-forward\n";
  const std::string up = "\033[A", down = "\033[B";
  const auto run = [](const std::string& settings, const std::vector<std::string>& history,
                      const std::string& keys, const std::string& submitted) {
    std::vector<std::string> lines;
    std::string typed;
    for (const std::string& line : history) {
      lines.push_back(line + "\r");
      typed += "[" + line + "]";
    }
    lines.push_back(keys);
    expect_lines_submitted(settings, lines, typed + submitted);
  };
  const std::vector<std::string> short_history{"jkl", "abc", "jx"};
  for (const auto& [settings, keys, submitted] : {
           std::tuple{emacs, "j" + up + "\r", "[jx]"},
           std::tuple{emacs, "j" + up + up + "Z\r", "[jZkl]"},
           std::tuple{emacs, "j" + up + up + down + "\r", "[jx]"},
           std::tuple{emacs, "j" + up + down + "\r", "[j]"},
           std::tuple{emacs, "q" + up + "\r", "[q]"},
           std::tuple{emacs, up + up + "\r", "[abc]"},
           std::tuple{emacs, std::string("k\033n\033n\r"), "[jkl]"},
           std::tuple{emacs, std::string("b\033nZ\033p\r"), "[aZbc]"},
           std::tuple{vi, std::string("\033k\r"), "[jx]"},
           std::tuple{vi, std::string("\033kk\r"), "[abc]"},
           std::tuple{vi, std::string("ja\033k\r"), "[jx]"},
           std::tuple{vi, std::string("ja\033kk\r"), "[jkl]"},
       })
    run(settings, short_history, keys, submitted);
  const std::vector<std::string> cats{"cat one", "dog", "cat two", "scat", "cab"};
  for (const auto& [settings, keys, submitted] : {
           std::tuple{emacs, "ca" + up + "X" + down + "\r", "[caXb]"},
           std::tuple{emacs, "ca" + up + "\x1f\r", "[ca]"},
           std::tuple{emacs, "ca" + up + up + "\x1f\r", "[cab]"},
           std::tuple{emacs, "ca" + up + "\033r\r", "[]"},
           std::tuple{emacs, "ca" + up + "\x10\r", "[cab]"},
           std::tuple{emacs, "ca" + up + "X\x10\x0e\r", "[caXb]"},
           std::tuple{down_only, "do" + up + up + "Q" + down + "\r", "[scatQ]"},
           std::tuple{vi, std::string("ca\033kxj\r"), "[cb]"},
           std::tuple{vi, std::string("ca\033ku\r"), "[cab]"},
           std::tuple{vi, std::string("ca\033kxu\r"), "[cab]"},
       })
    run(settings, cats, keys, submitted);
}

// vi "r" with a count, a keyboard macro of two kills, and a repeated change
// on a line before the input ends: nothing is lost.
TEST(ReaderAtATerminal, ViRepeatedKillsAndEndedRepeatsLoseNothing) {
  const std::string vi = "set editing-mode vi\nset keymap vi-command\n\"gq\": \"xx\"\n";
  expect_lines_submitted(vi, {"zzzz\0330" "3rj\r"}, "[jjjz]");
  expect_lines_submitted(vi, {"zzzz\0330" "3rju\r"}, "[zzzz]");
  expect_lines_submitted(vi, {"zzzz\0330" "3rjl.\r"}, "[jjjj]");
  expect_lines_submitted(vi, {"zzzz\0330gq\r"}, "[zz]");
  // A delete, yank or change whose motion was left (Esc, Ctrl-G) before any
  // motion was given, repeated with ".": the repeat only rings the bell,
  // leaves the line as it was, and the commands after it behave as ever ("S"
  // takes the line and goes on inserting).
  for (const auto& [keys, submitted] :
       {std::pair{std::vector<std::string>{"jab", "\033", "d", "\033", ".", "\r"}, "[jab]"},
        std::pair{std::vector<std::string>{"jab", "\033", "y", "\x07", ".", "x", "\r"}, "[ja]"},
        std::pair{std::vector<std::string>{"jab", "\033", "c", "\033", ".", ".", "\033", "S", "q\r"},
                  "[q]"},
        std::pair{std::vector<std::string>{"jab", "\033", "d", "\x07", ".", "\033", "S", "q\r"},
                  "[q]"}}) {
    testing::TempDir dir;
    const std::string settings = editor_settings(dir, vi);
    testing::PtyChild child([&settings] {
      setenv("INPUTRC", settings.c_str(), 1);
      return print_lines_read(1, true);
    });
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait_for("LINE:"));
    for (const std::string& key : keys) {
      child.type(key);
      usleep(50000);
    }
    EXPECT_TRUE(child.wait_for(std::string("LINES=") + submitted + " LEAKS=0")) << child.output();
    EXPECT_EQ(child.finish(), 0) << submitted;
  }
  // A change repeated on a line and the input ended on the next: the
  // program's end finds nothing lost.
  testing::TempDir dir;
  const std::string settings = editor_settings(dir, vi);
  testing::PtyChild child([&settings] {
    setenv("INPUTRC", settings.c_str(), 1);
    print_lines_read(2, true);
    std::exit(0);
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("LINE:"));
  for (const char* key : {"\033", "c", "\033", ".", "\x04"}) {
    child.type(key);
    usleep(50000);
  }
  ASSERT_TRUE(child.wait_for("LINE:"));
  child.type("\x04");
  EXPECT_TRUE(child.wait_for("LEAKS=0")) << child.output();
  EXPECT_EQ(child.finish(), 0) << child.output();
}

// Keys of one editing mode and how often each is typed, and the settings
// the mode is tried with (plain, and with keyboard macros of their keys).
struct KeyTable {
  std::vector<std::pair<std::string, int>> keys;
  std::vector<std::string> settings;
  std::string tail;  // out of any search, question or pending command, to an empty line
};

const KeyTable kEmacsKeys{
    {{"j", 8}, {"k", 8}, {" ", 2}, {"x", 2}, {"\r", 6}, {"\033[A", 6}, {"\033[B", 5},
     {"\033[C", 2}, {"\033[D", 2}, {"\x10", 6}, {"\x0e", 4}, {"\x12", 3}, {"\033p", 4},
     {"\033n", 3}, {"\033<", 2}, {"\033>", 2}, {"\x07", 4}, {"\x1f", 5}, {"\x18\x15", 3},
     {"\033r", 4}, {"\x0b", 2}, {"\x15", 2}, {"\x17", 2}, {"\x19", 3}, {"\033y", 2},
     {"\x7f", 3}, {"\t", 2}, {"\x14", 1}, {"\033t", 1}, {"\033u", 1}, {"\x04", 1},
     {"\x01", 2}, {"\x05", 2}, {"\033.", 1}, {"\x18q", 1}, {"\x18w", 1}, {"\033", 1}},
    {"set editing-mode emacs\nset keyseq-timeout 20\n",
     "set editing-mode emacs\nset mark-modified-lines on\n"
     "\"\\C-xq\": \"jj\\C-p\\C-pjk\"\n\"\\C-xw\": \"\\C-p\\ep\\C-g\\C-_\"\n"},
    "\x07\x07\x07\x05\x15"};

const KeyTable kViKeys{
    {{"j", 8}, {"k", 8}, {" ", 2}, {"\r", 6}, {"\033", 10}, {"i", 3}, {"a", 2}, {"A", 1},
     {"h", 2}, {"l", 2}, {"x", 3}, {"X", 1}, {"dd", 1}, {"D", 1}, {"cc", 1}, {"S", 1},
     {"yy", 1}, {"p", 2}, {"u", 6}, {"U", 3}, {"~", 2}, {"3~", 1}, {".", 2}, {"/", 3},
     {"?", 3}, {"n", 2}, {"N", 2}, {"\033[A", 5}, {"\033[B", 4}, {"\x10", 3}, {"\x0e", 2},
     {"\x12", 2}, {"\x07", 3}, {"\x1f", 2}, {"\x7f", 3}, {"\x15", 1}, {"\x04", 1},
     {"\x18q", 1}, {"\x18w", 1}, {"gq", 1}},
    {"set editing-mode vi\nset keyseq-timeout 20\n",
     "set editing-mode vi\nset keymap vi-insert\n\"\\C-xq\": \"jj\\ekkx\"\n"
     "\"\\C-xw\": \"\\e/j\\r\"\nset keymap vi-command\n\"gq\": \"kkxu\"\n"},
    "\x07\033\033S\x15"};

// The body of a child on a pseudo-terminal: lines read at "LINE:" until
// one says "ZZEND" (an end of the input, Ctrl-D on an empty line, does not
// end it), then the count of characters not among SUPPLIED (what the keys,
// the settings' macros and the completion could give), and what
// LeakSanitizer finds lost by then.
int read_lines_until_the_end_line(const std::string& supplied) {
  setenv("TERM", "xterm", 1);
  testing::reset_dialogue();
  int foreign = 0;
  for (int i = 0; i < 1000; ++i) {
    int length = 0;
    std::string line;
    IO_READC("LINE:", length, line);
    if (line == "ZZEND") break;
    for (const char c : line)
      if (supplied.find(c) == std::string::npos) ++foreign;
  }
  int lost = 0;
#if defined(__SANITIZE_ADDRESS__)
  lost = __lsan_do_recoverable_leak_check();
#endif
  std::printf("\nSTREAM DONE FOREIGN=%d LEAKS=%d\n", foreign, lost);
  std::fflush(stdout);
  return 0;
}

// Random streams of keys, from a fixed seed, in emacs and vi mode: history
// recall, both kinds of search, undo and revert, kills and yanks, completion,
// Ctrl-D, ESC alone and beginning the arrow keys, keyboard macros. No stream
// crashes the program or corrupts its memory, and every line it submits
// holds only characters that keys could have typed.
TEST(ReaderAtATerminal, RandomKeyStreamsKeepTheLinesWhole) {
  testing::TempDir dir;
  // Names for the completion to find.
  for (const char* name : {"jk", "jkx", "kj"}) std::ofstream(dir.file(name)) << name;
  std::mt19937 random(20261208);
  for (int stream = 0; stream < 48; ++stream) {
    const KeyTable& table = stream % 2 == 0 ? kEmacsKeys : kViKeys;
    std::uniform_int_distribution<std::size_t> which(0, table.settings.size() - 1);
    const std::string& settings_text = table.settings[which(random)];
    const std::string settings = editor_settings(dir, settings_text);
    std::vector<int> weights;
    for (const auto& key : table.keys) weights.push_back(key.second);
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    const int count = std::uniform_int_distribution<int>(10, 100)(random);
    const int pause_us = std::uniform_int_distribution<int>(0, 2)(random) * 1000;
    std::string keys;
    for (int i = 0; i < count; ++i) keys += table.keys[pick(random)].first + '|';
    // Changes of case (vi "~", Meta-U) give the letters' other cases.
    std::string supplied = keys + settings_text + table.tail + "ZZEND" + "jkx ";
    for (const unsigned char c : std::string(supplied))
      supplied += static_cast<char>(std::isupper(c) != 0 ? std::tolower(c) : std::toupper(c));
    testing::PtyChild child([&settings, &dir, &supplied] {
      setenv("INPUTRC", settings.c_str(), 1);
      if (chdir(dir.path().c_str()) != 0) return 1;
      return read_lines_until_the_end_line(supplied);
    });
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait_for("LINE:"));
    // One key (or key sequence) at a time, with a pause of the stream's own;
    // in a stream with pauses an ESC is taken alone, in one without it
    // begins a sequence with the next key.
    for (std::size_t at = 0, end = 0; (end = keys.find('|', at)) != std::string::npos;
         at = end + 1) {
      const std::string key = keys.substr(at, end - at);
      child.type(key);
      if (pause_us > 0) usleep(key == "\033" ? 30000 : pause_us);
    }
    bool done = false;
    // The keys out of the stream's state one by one, each taken alone.
    for (int attempt = 0; attempt < 4 && !done; ++attempt) {
      for (const char key : table.tail) {
        child.type(std::string(1, key));
        usleep(30000);
      }
      child.type("ZZEND\r");
      done = child.wait_for("STREAM DONE", 1500);
    }
    EXPECT_TRUE(done && child.wait_for("FOREIGN=0 LEAKS=0", 1000))
        << "stream " << stream << " settings " << settings_text
        << " keys " << ::testing::PrintToString(keys) << child.output();
    EXPECT_EQ(child.finish(), 0) << "stream " << stream;
  }
}

// A terminal the line editor cannot drive (no terminal type, "dumb", or a
// type the terminal database does not know): lines are read plainly there, a
// long answer kept to a response line, and the terminal's own echo is not
// repeated.
TEST(ReaderAtATerminal, TerminalWithoutATypeReadsPlainly) {
  for (const char* term : {"dumb", "", "nosuchterm"}) {
    testing::PtyChild child([term] {
      if (term[0] == '\0')
        unsetenv("TERM");
      else
        setenv("TERM", term, 1);
      testing::reset_dialogue();
      Status status = kStatusGood;
      int length = 0;
      std::string text;
      IO_INPS(false, "TEXT", {"H"}, {"E"}, 1, length, text, status);
      std::printf("\nTEXT=%zu/%c%c CUT=%d\n", text.size(), text.front(), text.back(),
                  io_response_cut() ? 1 : 0);
      std::fflush(stdout);
      return 0;
    });
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait_for("TEXT:")) << term;
    child.type("b" + std::string(998, 'a') + "z\r");
    ASSERT_TRUE(child.wait_for("TEXT=132/ba CUT=1")) << term << child.output();
    EXPECT_EQ(child.finish(), 0) << term << child.output();
    // Once as typed, never again as an echo.
    const std::string out = child.output();
    EXPECT_EQ(out.find("aaaz"), out.rfind("aaaz")) << term;
  }
}

// The line editor at a terminal it can drive, where the user's settings ask
// for a long line to scroll sideways: a long answer is still read safely and
// kept to a response line.
TEST(ReaderAtATerminal, SidewaysScrollingChosenByTheUser) {
  testing::TempDir dir;
  const std::string settings = dir.file("inputrc");
  {
    std::ofstream file(settings);
    file << "set horizontal-scroll-mode on\n";
  }
  testing::PtyChild child([settings] {
    setenv("TERM", "xterm", 1);
    setenv("INPUTRC", settings.c_str(), 1);
    testing::reset_dialogue();
    Status status = kStatusGood;
    int length = 0;
    std::string text;
    IO_INPS(false, "TEXT", {"H"}, {"E"}, 1, length, text, status);
    const HIST_ENTRY* last = history_get(history_base + history_length - 1);
    std::printf("\nTEXT=%zu/%c%c HISTORY=%zu\n", text.size(), text.front(), text.back(),
                last != nullptr ? std::strlen(last->line) : 0);
    std::fflush(stdout);
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("TEXT:"));
  child.type("b" + std::string(998, 'a') + "z\r");
  // Neither the answer nor the history keeps more than a response line.
  ASSERT_TRUE(child.wait_for("TEXT=132/ba HISTORY=132")) << child.output();
  EXPECT_EQ(child.finish(), 0) << child.output();
}

}  // namespace
}  // namespace kesta

namespace kesta {
namespace {

// Standard input a pipe: the line editor reads the piped lines (a Tab is a
// separator there, not a completion), and once they are used up every prompt
// gets the user escape instead of waiting for ever.
TEST(ReaderOnAPipe, PipedAnswersThenEndOfInput) {
  int to_child[2], from_child[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(from_child), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(to_child[0], STDIN_FILENO);
    dup2(from_child[1], STDOUT_FILENO);
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) close(fd);
    testing::reset_dialogue();
    Status status = kStatusGood;
    int a = 0, b = 0, c = 0;
    IO_INPI(false, 0, 0, false, "A", {"H"}, {"E"}, a, status);
    IO_INPI(false, 0, 0, false, "B", {"H"}, {"E"}, b, status);
    IO_INPI(false, 0, 0, false, "C", {"H"}, {"E"}, c, status);
    std::printf("\nRESULT A=%d B=%d ESCAPE=%d\n", a, b, status == kStatusEscape ? 1 : 0);
    std::fflush(stdout);
    _exit(0);
  }
  close(to_child[0]);
  close(from_child[1]);
  const std::string typed = "4\t5\n";
  EXPECT_EQ(write(to_child[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  close(to_child[1]);
  std::string output;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    struct pollfd p {from_child[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[1024];
    const ssize_t n = read(from_child[0], buffer, sizeof buffer);
    if (n <= 0) break;
    output.append(buffer, static_cast<std::size_t>(n));
  }
  close(from_child[0]);
  int wstatus = 0;
  if (waitpid(pid, &wstatus, WNOHANG) != pid) {
    kill(pid, SIGKILL);
    waitpid(pid, &wstatus, 0);
  }
  EXPECT_NE(output.find("RESULT A=4 B=5 ESCAPE=1"), std::string::npos) << output;
}

}  // namespace
}  // namespace kesta
