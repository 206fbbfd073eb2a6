#include "core/pager.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/format.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// Lines bind to vectors and arrays; a TextLines that has a name (which may
// view a braced list that died with its statement) cannot be handed on.
static_assert(std::is_convertible_v<const std::vector<std::string>&, TextLines>);
static_assert(std::is_convertible_v<const std::string (&)[2], TextLines>);
static_assert(!std::is_convertible_v<TextLines&, TextLines>);
static_assert(!std::is_convertible_v<TextLines&&, TextLines>);

// A TextLines declared with a name from a braced list still holds its lines
// after the statement (the list itself is gone by then).
TEST(TextLinesView, NamedBracedListKeepsItsLines) {
  const TextLines help{"first", std::string(40, 'x')};
  std::string joined;
  for (const auto& line : help) joined += line + "|";
  EXPECT_EQ(joined, "first|" + std::string(40, 'x') + "|");
  EXPECT_EQ(help.view().size(), 2u);
}

std::vector<std::string> numbered(int count) {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; ++i) lines.push_back("line " + format_i(i, 2, 2));
  return lines;
}

TEST(SearchToken, FindsForwardBackwardAndAround) {
  const std::vector<std::string> lines = {"first line", "has abc here", "ABC upper", "aaab", "last"};
  struct Case {
    std::string token;
    int start_line, start_character;
    bool forward, wrap, case_sensitive;
    bool found;
    int line, character;
  };
  const std::vector<Case> cases = {
      {"abc", 1, 1, true, true, false, true, 2, 5},
      // From just after a match the search goes on to the next one.
      {"abc", 2, 6, true, true, false, true, 3, 1},
      // Case-sensitive, the only match lies before the start: found on coming round.
      {"abc", 2, 6, true, true, true, true, 2, 5},
      {"abc", 2, 6, true, false, true, false, 0, 0},
      // A single occurrence: the wrap-around finds the same place again.
      {"here", 2, 10, true, true, true, true, 2, 9},
      {"here", 2, 10, true, false, true, false, 0, 0},
      // A mismatch restarts the token without testing that character again.
      {"aab", 1, 1, true, true, false, false, 0, 0},
      {"abc", 5, 4, false, true, false, true, 3, 1},
      {"abc", 3, 0, false, true, false, true, 2, 5},
      {"abc", 2, 4, false, false, false, false, 0, 0},
      {"last", 1, 1, false, true, true, true, 5, 1},
  };
  for (const auto& c : cases) {
    Status status = kStatusGood;
    bool found = !c.found;
    int line = 0, character = 0;
    IO_SEARCH_TOKEN(lines, 5, c.token, c.start_line, c.start_character, c.forward, c.wrap,
                    c.case_sensitive, found, line, character, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(found, c.found) << c.token << " from " << c.start_line << "," << c.start_character;
    if (found) {
      EXPECT_EQ(line, c.line) << c.token;
      EXPECT_EQ(character, c.character) << c.token;
    }
  }
  Status status = kStatusGood;
  bool found = false;
  int line = 0, character = 0;
  IO_SEARCH_TOKEN(lines, 5, "x", 6, 1, true, true, false, found, line, character, status);
  EXPECT_EQ(status, 10005);
  status = kStatusGood;
  IO_SEARCH_TOKEN(lines, 6, "x", 1, 1, true, true, false, found, line, character, status);
  EXPECT_EQ(status, 10005);
  status = kStatusGood;
  IO_SEARCH_TOKEN({}, 1, "x", 1, 1, true, true, false, found, line, character, status);
  EXPECT_EQ(status, 10001);
}

TEST(Pager, WritesEverythingWhenNoKeyCanBePressed) {
  testing::reset_dialogue();
  const int saved = dup(STDIN_FILENO);
  const int null = open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  dup2(null, STDIN_FILENO);
  close(null);
  std::string shown;
  Status status = kStatusGood;
  {
    testing::TerminalCapture terminal;
    IO_TEXT(numbered(40), status);
    shown = terminal.text();
  }
  dup2(saved, STDIN_FILENO);
  close(saved);
  EXPECT_EQ(status, kStatusGood);
  std::string expected;
  for (const auto& line : numbered(40)) expected += line + "\n";
  EXPECT_EQ(shown, expected);
  IO_TEXT(-1, {}, status);
  EXPECT_EQ(status, 10017);
}

const std::string kPagePrompt = "%---(This is NOT more)--- <RETURN> = Next \"page\" --- ? = help ------:";

TEST(Pager, SingleKeysAtATerminal) {
  testing::PtyChild child([] {
    testing::reset_dialogue();
    auto lines = numbered(40);
    lines[29] = "line 30 holds abc";
    Status status = kStatusGood;
    for (int round = 1; round <= 6 && status == kStatusGood; ++round) {
      IO_TEXT(round == 2 ? std::vector<std::string>(numbered(17)) : lines, status);
      std::printf("DONE%d\n", round);
      std::fflush(stdout);
    }
    return status == kStatusGood ? 0 : 1;
  });
  ASSERT_TRUE(child.started());
  // Round 1: Return pages on; the last part comes without a prompt.
  ASSERT_TRUE(child.wait_for("line 16"));
  ASSERT_TRUE(child.wait_for("---40" + kPagePrompt));
  EXPECT_EQ(child.output().find("line 17"), std::string::npos);
  child.type("\r");
  ASSERT_TRUE(child.wait_for("line 32"));
  ASSERT_TRUE(child.wait_for("---80" + kPagePrompt));
  child.type("\r");
  ASSERT_TRUE(child.wait_for("line 40"));
  ASSERT_TRUE(child.wait_for("DONE1"));
  // Round 2: 17 lines fit without a prompt.
  ASSERT_TRUE(child.wait_for("line 17"));
  ASSERT_TRUE(child.wait_for("DONE2"));
  {
    const std::size_t from = child.output().find("DONE1");
    const std::size_t to = child.output().find("DONE2");
    EXPECT_EQ(child.output().substr(from, to - from).find("---"), std::string::npos);
  }
  // Round 3: a line number jumps there.
  ASSERT_TRUE(child.wait_for("---40" + kPagePrompt));
  child.type("25\r");
  ASSERT_TRUE(child.wait_for("25"));
  ASSERT_TRUE(child.wait_for("line 25"));
  ASSERT_TRUE(child.wait_for("line 40"));
  ASSERT_TRUE(child.wait_for("DONE3"));
  // Round 4: a forward search marks the match and continues from its line.
  ASSERT_TRUE(child.wait_for("---40" + kPagePrompt));
  child.type(">");
  ASSERT_TRUE(child.wait_for("ENTER SEARCH TEXT:"));
  child.type("ABC\r");
  ASSERT_TRUE(child.wait_for("line 30 holds abc"));
  ASSERT_TRUE(child.wait_for("              ^"));
  ASSERT_TRUE(child.wait_for("SEARCH NEXT OCCURENCE:"));
  child.type("no\r");
  ASSERT_TRUE(child.wait_for("line 40"));
  ASSERT_TRUE(child.wait_for("DONE4"));
  // Round 5: B goes back, H shows the keys, Q quits.
  ASSERT_TRUE(child.wait_for("---40" + kPagePrompt));
  child.type("\r");
  ASSERT_TRUE(child.wait_for("---80" + kPagePrompt));
  child.type("b");
  ASSERT_TRUE(child.wait_for("b \r\n"));  // the key echoed, the prompt line ended
  ASSERT_TRUE(child.wait_for("line 01"));
  ASSERT_TRUE(child.wait_for("---40" + kPagePrompt));
  child.type("h");
  ASSERT_TRUE(child.wait_for("Q = Quit, exit OUTPUT"));
  ASSERT_TRUE(child.wait_for("---40" + kPagePrompt));
  child.type("q");
  ASSERT_TRUE(child.wait_for("DONE5"));
  // Round 6: E shows the last page and ends.
  ASSERT_TRUE(child.wait_for("---40" + kPagePrompt));
  child.type("e");
  ASSERT_TRUE(child.wait_for("line 25"));
  ASSERT_TRUE(child.wait_for("line 40"));
  ASSERT_TRUE(child.wait_for("DONE6"));
  EXPECT_EQ(child.finish(), 0);
}

// Keys pasted at the page prompt in one block: the pager takes what it uses
// (a command key with the line end that came with it, a search's text and
// its answer) and the rest answers the prompts after it, at the line editor
// and at a terminal it cannot drive alike. The pager reads single keys, which
// the terminal does not edit: the keys it gives back are edited as the
// terminal's line mode edits a line typed there (its erase key, the word
// erase, the kill key), in lines given back whole and in a line the
// given-back keys begin and later keys end, so the same keys give the same
// answers as without the page. Ctrl-H erases only where the line editor
// takes the keys (as it does typed straight), not where the erase key is
// another and the terminal edits.
TEST(Pager, KeysPastedInOneBlockAlsoAnswerTheNextPrompts) {
  for (const char* term : {"xterm", "dumb"}) {
    SCOPED_TRACE(term);
    testing::PtyChild child([term] {
      setenv("TERM", term, 1);
      testing::reset_dialogue();
      auto lines = numbered(80);
      lines[29] = "line 30 holds abc";
      Status status = kStatusGood;
      for (const int answers : {2, 2, 5}) {
        IO_TEXT(lines, status);
        for (int k = 0; k < answers && status == kStatusGood; ++k) {
          std::string answer;
          IO_INPC(false, "NEXT ANSWER", {"?"}, {"?"}, 1, answer, status);
          std::printf("GOT[%s]\n", answer.c_str());
          std::fflush(stdout);
        }
      }
      return status == kStatusGood ? 0 : 1;
    });
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait_for("---20" + kPagePrompt));
    child.type("q\rfirst one\rsecond one\r");
    ASSERT_TRUE(child.wait_for("GOT[first one]")) << child.output();
    ASSERT_TRUE(child.wait_for("GOT[second one]")) << child.output();
    ASSERT_TRUE(child.wait_for("---20" + kPagePrompt));
    child.type(">abc\rno\rq\rthird\rfourth\r");
    ASSERT_TRUE(child.wait_for("SEARCH NEXT OCCURENCE")) << child.output();
    ASSERT_TRUE(child.wait_for("GOT[third]")) << child.output();
    ASSERT_TRUE(child.wait_for("GOT[fourth]")) << child.output();
    ASSERT_TRUE(child.wait_for("---20" + kPagePrompt));
    child.type("qCMULTIPLX\x7fY\rab\x08" "c\rCLEAR\x15" "CADD\rfoo bar\x17" "baz\rABC");
    const std::string ctrl_h = std::string_view(term) == "dumb" ? "GOT[ab\x08" "c]" : "GOT[ac]";
    for (const std::string& got : {std::string("GOT[CMULTIPLY]"), ctrl_h, std::string("GOT[CADD]"),
                                    std::string("GOT[foo baz]")})
      ASSERT_TRUE(child.wait_for(got)) << child.output();
    ASSERT_TRUE(child.wait_for("NEXT ANSWER")) << child.output();
    child.type("\x7f\x7f" "D\r");
    ASSERT_TRUE(child.wait_for("GOT[AD]")) << child.output();
    EXPECT_EQ(child.finish(), 0);
  }
}

// Answers read after a page at a terminal the line editor does not drive,
// from the terminal set up by SETUP, each written as GOT[...] and the end of
// the input as END.
testing::PtyChild answers_after_page(const std::function<void()>& setup) {
  return testing::PtyChild([setup] {
    setenv("TERM", "dumb", 1);
    testing::reset_dialogue();
    setup();
    Status status = kStatusGood;
    IO_TEXT(numbered(80), status);
    while (status == kStatusGood) {
      std::string answer;
      IO_INPC(false, "NEXT ANSWER", {"?"}, {"?"}, 1, answer, status);
      std::printf(status == kStatusGood ? "GOT[%s]\n" : "END\n", answer.c_str());
      std::fflush(stdout);
    }
    return 0;
  });
}

// A block of keys longer than one read of the pager, pasted at the page:
// the keys the pager's read left behind are edited as the rest, and all
// shown at once after the first line, as the terminal shows lines typed
// ahead: the later prompts show only themselves. An end-of-file key typed
// later sends the line given back, and a second one, on the empty line,
// ends the input, as the terminal's line mode does.
TEST(Pager, KeysGivenBackBeyondOneReadAndEndOfInput) {
  testing::PtyChild child = answers_after_page([] {});
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("---20" + kPagePrompt));
  std::string block = "q";
  for (int i = 1; i <= 40; ++i) block += "answer" + format_i(i, 2, 2) + "\r";
  child.type(block + "CMULTIPLX\x7fY\rCLEAR\x15" "CADD\r" "ab\x08" "c\rNEXT");
  ASSERT_TRUE(child.wait_for("NEXT ANSWER:answer01\r\nanswer02\r\n")) << child.output();
  for (int i = 3; i <= 40; ++i) ASSERT_TRUE(child.wait_for("answer" + format_i(i, 2, 2) + "\r\n"));
  // Shown as the terminal shows the keys: erased, killed, ^H for Ctrl-H.
  ASSERT_TRUE(child.wait_for("CMULTIPLX\b \bY\r\nCLEAR\b \b\b \b\b \b\b \b\b \bCADD\r\nab^Hc\r\nNEXT"))
      << child.output();
  ASSERT_TRUE(child.wait_for("GOT[answer01]")) << child.output();
  for (int i = 2; i <= 40; ++i)
    ASSERT_TRUE(child.wait_for("NEXT ANSWER:GOT[answer" + format_i(i, 2, 2) + "]")) << child.output();
  for (const char* got : {"NEXT ANSWER:GOT[CMULTIPLY]", "NEXT ANSWER:GOT[CADD]", "NEXT ANSWER:GOT[ab\x08" "c]"})
    ASSERT_TRUE(child.wait_for(got)) << child.output();
  ASSERT_TRUE(child.wait_for("NEXT ANSWER:")) << child.output();
  child.type("\x04");
  child.type("\x04");
  ASSERT_TRUE(child.wait_for("GOT[NEXT]")) << child.output();
  ASSERT_TRUE(child.wait_for("END")) << child.output();
  EXPECT_EQ(child.finish(), 0);
}

// Keys given back follow the terminal's own settings: without echo they are
// not shown, out of line mode they are not edited.
TEST(Pager, KeysGivenBackFollowTheTerminalsSettings) {
  for (const tcflag_t off : {tcflag_t{ECHO}, tcflag_t{ICANON}}) {
    SCOPED_TRACE(off == ECHO ? "-echo" : "-icanon");
    testing::PtyChild child = answers_after_page([off] {
      termios mode{};
      tcgetattr(STDIN_FILENO, &mode);
      mode.c_lflag &= ~off;
      tcsetattr(STDIN_FILENO, TCSANOW, &mode);
    });
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait_for("---20" + kPagePrompt));
    child.type("qab\x7f" "c\rde");
    if (off == ECHO) {
      ASSERT_TRUE(child.wait_for("NEXT ANSWER:GOT[ac]")) << child.output();
      ASSERT_TRUE(child.wait_for("NEXT ANSWER:")) << child.output();
      child.type("\x7f" "f\r");
      ASSERT_TRUE(child.wait_for("GOT[df]")) << child.output();
      EXPECT_EQ(child.output().find("de"), std::string::npos);
    } else {
      ASSERT_TRUE(child.wait_for("NEXT ANSWER:ab^?c\r\ndeGOT[ab\x7f" "c]")) << child.output();
      ASSERT_TRUE(child.wait_for("NEXT ANSWER:")) << child.output();
      child.type("\x7f" "f\r");
      ASSERT_TRUE(child.wait_for("GOT[de\x7f" "f]")) << child.output();
    }
  }
}

// A "?" recorded in a macro shows the help whole on every replay: nobody
// at the terminal presses the pager's keys for the macro, so the replay
// must not wait for one (no key is typed here).
TEST(Pager, ReplayedHelpRequestIsWrittenWholeWithoutWaiting) {
  testing::TempDir dir;
  const std::string macro = dir.file("help.mac");
  std::ofstream(macro) << "%!*\\ BEGINNING OF IO MACRO FILE\n?\n7\n";
  testing::PtyChild child([&macro] {
    testing::reset_dialogue();
    Status status = kStatusGood;
    std::string name = macro;
    IO_OPEN_INMACRO(false, name, status);
    int value = 1;
    IO_INPI(false, 0, 0, true, "HOW MANY", numbered(40), {"E"}, value, status);
    std::printf("DONE %d\n", value);
    std::fflush(stdout);
    return status == kStatusGood ? 0 : 1;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("line 40", 3000));
  ASSERT_TRUE(child.wait_for("DONE 7", 3000));
  EXPECT_EQ(child.output().find(kPagePrompt), std::string::npos);
  EXPECT_EQ(child.finish(), 0);
}

}  // namespace
}  // namespace kesta
