// Keys edited as a terminal's line mode edits them.

#include <gtest/gtest.h>

#include <string>

#include "core/terminal_line.hpp"

namespace kesta {
namespace {

TEST(TerminalLine, EditsAsTheTerminalsLineMode) {
  const TerminalEditKeys keys;
  struct Case {
    std::string keys, line;
  } const cases[] = {
      {"ab\x7f" "c\nrest", "ac"},
      {"ab\x08\x08\x08" "c", "c"},                    // no further back than the start
      {"caf\xc3\xa9\x7f" "e", "cafe"},                // a UTF-8 character goes whole
      {"one two.three  \x17" "x", "one two.x"},        // back over blanks, then the word
      {"one two \x17\x17" "x", "x"},
      {"CLEAR\x15" "CADD", "CADD"},
      {"a\x16\x7f" "b", "a\x7f" "b"},                  // literal next
      {"ab\x04\x7f\x7f" "c", "abc"},                  // handed on: not taken back
  };
  for (const Case& c : cases) EXPECT_EQ(terminal_edited(c.keys, keys), c.line) << c.keys;

  TerminalLine line(keys);
  std::string shown;
  EXPECT_EQ(line.take('\x04', shown), TerminalLine::Key::kEndOfInput);
  for (const char key : std::string("ab\x7f"))
    EXPECT_EQ(line.take(static_cast<unsigned char>(key), shown), TerminalLine::Key::kTaken);
  EXPECT_EQ(shown, "ab\b \b");
  EXPECT_EQ(line.take('\n', shown), TerminalLine::Key::kLineEnd);

  // Off a terminal nothing is edited.
  EXPECT_EQ(terminal_edited("ab\x7f\x08\x15\x04", terminal_edit_keys(-1)), "ab\x7f\x08\x15\x04");
}

}  // namespace
}  // namespace kesta
