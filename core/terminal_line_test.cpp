// Keys edited as a terminal's line mode edits them.

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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
      {"ab\x7f\x7f\x7f" "c", "c"},                    // no further back than the start
      {"ab\x08" "c", "ab\x08" "c"},                   // Ctrl-H is text where the erase key is another
      {"caf\xc3\xa9\x7f" "e", "cafe"},                // a UTF-8 character goes whole
      {"one two.three  \x17" "x", "one two.x"},        // back over blanks, then the word
      {"one two \x17\x17" "x", "x"},
      {"caf\xc3\xa9 cr\xc3\xa8me\x17" "x", "caf\xc3\xa9 x"},  // letters beyond ASCII are word letters
      {"na\xc3\xafve \x17" "x", "x"},
      {"CLEAR\x15" "CADD", "CADD"},
      {"a\x16\x7f" "b", "a\x7f" "b"},                  // literal next
      {"ab\x04\x7f\x7f" "c", "abc"},                  // handed on: not taken back
      {std::string("ab\0\x7f\x7f" "c", 6), "abc"},     // the end-of-file key left as a NUL
      {std::string("a\x16\0b", 4), std::string("a\0b", 3)},
      {"ab\rc", "ab"},                                 // Return comes as a line feed
      {"a\x16\rb\r", "a\rb"},
  };
  for (const Case& c : cases) EXPECT_EQ(terminal_edited(c.keys, keys), c.line) << c.keys;

  TerminalLine line(keys);
  std::string shown;
  EXPECT_EQ(line.take('\x04', shown), TerminalLine::Key::kEndOfInput);
  for (const char key : std::string("ab\x7f"))
    EXPECT_EQ(line.take(static_cast<unsigned char>(key), shown), TerminalLine::Key::kTaken);
  EXPECT_EQ(shown, "ab\b \b");
  EXPECT_EQ(line.take('\n', shown), TerminalLine::Key::kLineEnd);
  EXPECT_EQ(TerminalLine(keys).take('\0', shown), TerminalLine::Key::kEndOfInput);

  // A part handed on already is kept from the erase keys; the end-of-file key
  // hands on what stands, and ends the input only after nothing more.
  TerminalLine going_on(keys, "ca");
  for (const char key : std::string("d\x7f\x7f\x15" "dd"))
    EXPECT_EQ(going_on.take(static_cast<unsigned char>(key), shown), TerminalLine::Key::kTaken);
  EXPECT_EQ(going_on.take('\x04', shown), TerminalLine::Key::kHandedOn);
  EXPECT_EQ(going_on.take('\x04', shown), TerminalLine::Key::kEndOfInput);
  EXPECT_EQ(going_on.text(), "cadd");

  // Control keys show as "^" and a letter, and an erase takes both columns back.
  shown.clear();
  TerminalLine controls(keys);
  for (const char key : std::string("a\x1b\x01\x7f\t\x16\n"))
    controls.take(static_cast<unsigned char>(key), shown);
  EXPECT_EQ(shown, "a^[^A\b \b\b \b\t^\b^J");
  EXPECT_EQ(controls.shown(controls.text()), "a^[\t^J");
  TerminalEditKeys as_they_stand;
  as_they_stand.echo_control = false;
  shown.clear();
  TerminalLine raw(as_they_stand);
  for (const char key : std::string("a\x01\x7f\x7f\x16\n")) raw.take(static_cast<unsigned char>(key), shown);
  EXPECT_EQ(shown, "a\x01\b \b\n");  // a control key shown as it stands moved no column

  // An erased tab takes the cursor back to where it began, counted from the prompt.
  shown.clear();
  TerminalLine tabs(keys);
  tabs.shown_after("Line 1\nprompt:", 0);
  for (const char key : std::string("ab\t\x7f")) tabs.take(static_cast<unsigned char>(key), shown);
  EXPECT_EQ(shown, "ab\t" + std::string(7, '\b'));

  // Without ECHOE the erase key shows as itself; without ECHOKE the kill key
  // shows, and ends the shown line where ECHOK says so.
  TerminalEditKeys shown_as_keys;
  shown_as_keys.echo_erase = false;
  shown.clear();
  TerminalLine erased(shown_as_keys);
  for (const char key : std::string("ab\x7f")) erased.take(static_cast<unsigned char>(key), shown);
  EXPECT_EQ(shown, "ab^?");
  EXPECT_EQ(erased.text(), "a");
  shown_as_keys = TerminalEditKeys{};
  shown_as_keys.echo_kill_erase = false;
  shown.clear();
  TerminalLine killed(shown_as_keys);
  for (const char key : std::string("ab\x15\x15")) killed.take(static_cast<unsigned char>(key), shown);
  EXPECT_EQ(shown, "ab^U\n");  // the second kill found nothing to take
  EXPECT_EQ(killed.text(), "");

  // Off a terminal nothing is edited.
  const std::string unedited("ab\x7f\x08\x15\x04\0c", 8);
  EXPECT_EQ(terminal_edited(unedited, terminal_edit_keys(-1)), unedited);

  TerminalEditKeys returns_dropped;
  returns_dropped.return_ignored = true;
  EXPECT_EQ(terminal_edited("a\rb\x16\rc\n", returns_dropped), "ab\rc");

  // Without UTF-8 the terminal weighs each byte as a Latin-1 character.
  TerminalEditKeys bytes;
  bytes.utf8 = false;
  EXPECT_EQ(terminal_edited("a caf\xc3\xa9\x17", bytes), "a ");
  EXPECT_EQ(terminal_edited("a\xd7" "b\x17", bytes), "a\xd7");  // the multiplication sign is no letter
}

// The terminal's own settings decide: a terminal out of line mode edits
// nothing, one that does not echo shows nothing.
TEST(TerminalLine, FollowsTheTerminalsSettings) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios mode{};
  ASSERT_EQ(tcgetattr(slave, &mode), 0);
  mode.c_iflag |= IUTF8;
  mode.c_lflag |= ICANON | ECHO | ECHOCTL;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &mode), 0);
  TerminalEditKeys keys = terminal_edit_keys(slave);
  EXPECT_TRUE(keys.line_mode);
  EXPECT_TRUE(keys.echo);
  EXPECT_TRUE(keys.echo_control);
  EXPECT_EQ(terminal_edited("ab\x7f" "c", keys), "ac");

  mode.c_cc[VERASE] = 0x08;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &mode), 0);
  EXPECT_EQ(terminal_edited("ab\x08\x7f" "c", terminal_edit_keys(slave)), "a\x7f" "c");
  mode.c_cc[VERASE] = 0x7f;

  mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &mode), 0);
  keys = terminal_edit_keys(slave);
  EXPECT_FALSE(keys.echo);
  EXPECT_FALSE(keys.echo_line_end);
  EXPECT_EQ(terminal_edited("ab\x7f" "c", keys), "ac");

  mode.c_lflag |= ECHO;
  mode.c_lflag &= static_cast<tcflag_t>(~ICANON);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &mode), 0);
  keys = terminal_edit_keys(slave);
  EXPECT_FALSE(keys.line_mode);
  EXPECT_TRUE(keys.echo);
  EXPECT_EQ(terminal_edited("ab\x7f\x17\x15\x04" "c", keys), "ab\x7f\x17\x15\x04" "c");
  close(slave);
  close(master);
}

}  // namespace
}  // namespace kesta
