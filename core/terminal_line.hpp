#pragma once
// The editing a terminal's line mode does to the keys of a line, done by the
// program for keys it read from the terminal in single-key mode (which the
// terminal passed on unedited) and gives back for a line: the same keys then
// give the same line as when the terminal edited them itself.

#include <string>
#include <string_view>
#include <utility>

namespace kesta {

// The terminal's editing keys (-1 for one switched off), whether it counts
// UTF-8 characters when it erases, and what it shows of the keys typed.
struct TerminalEditKeys {
  int erase = 0x7f;
  int word_erase = 0x17;
  int kill = 0x15;
  int literal_next = 0x16;
  int end_of_file = 0x04;
  bool utf8 = true;
  bool return_is_line_end = true;  // a carriage return comes as a line feed (ICRNL)
  bool return_ignored = false;     // a carriage return is dropped (IGNCR)
  bool line_mode = true;      // edits lines at all (ICANON); off, every key is text
  bool echo = true;           // shows the keys typed (ECHO)
  bool echo_line_end = true;  // shows a line end (ECHO, or ECHONL alone)
  bool echo_control = true;   // shows a control key as "^" and its letter (ECHOCTL)
  bool echo_erase = true;     // the erase key takes the character off the screen (ECHOE)
  bool echo_kill = true;      // a kill shown as the key ends the shown line (ECHOK)
  bool echo_kill_erase = true;  // the kill key takes the line off the screen (ECHOKE)
};
// The editing keys of the terminal on FD (word erase and literal next only
// where its extended keys are on); none when FD is no terminal, which edits
// nothing.
TerminalEditKeys terminal_edit_keys(int fd);

// One line built from keys as the terminal's line mode builds it.
class TerminalLine {
 public:
  enum class Key { kTaken, kLineEnd, kHandedOn, kEndOfInput };
  // HANDED_ON: the part of the line an end-of-file key handed on already,
  // which the keys go on from.
  explicit TerminalLine(const TerminalEditKeys& keys, std::string handed_on = {})
      : keys_(keys), text_(std::move(handed_on)), handed_on_(text_.size()) {}
  // Takes one key. The erase key (only the terminal's own) takes back a character, the
  // word erase a word (with the blanks after it), the kill key the line;
  // they reach no further back than the last end-of-file key, which hands
  // what stands on to the reader (kHandedOn; kEndOfInput on an empty line); a NUL
  // not after the literal-next key is that end-of-file key, as the terminal
  // left it when it switched from its line mode. ECHO gets what shows the key
  // at the terminal. A carriage return (not after the literal-next key) is
  // first taken as the terminal's input settings take it.
  Key take(unsigned char key, std::string& echo);
  // What shows TEXT (keys taken) at the terminal.
  std::string shown(std::string_view text) const;
  // The text from FROM on has been shown after PROMPT: the erase of a tab
  // goes back to where the tab began.
  void shown_after(std::string_view prompt, std::size_t from);
  const std::string& text() const { return text_; }

 private:
  // Where the last character that may be taken back begins (npos: none).
  std::size_t last_character() const;
  // Takes the last character back; false when none is left to take.
  bool erase_one(std::string& echo);
  void show(unsigned char key, std::string& echo) const;
  Key take_key(unsigned char key, std::string& echo);
  // The screen column after TEXT shown from COLUMN.
  std::size_t column_after(std::size_t column, std::string_view text) const;

  TerminalEditKeys keys_;
  std::string text_;
  std::size_t handed_on_ = 0;  // where the last end-of-file key left the line
  bool literal_ = false;
  std::size_t column_ = 0;       // the screen column the keys shown have reached
  std::size_t line_column_ = 0;  // where the keys since handed_on_ began
};

// The line KEYS make (up to their first line end), as the terminal would
// have made it.
std::string terminal_edited(std::string_view keys, const TerminalEditKeys& edit_keys);

}  // namespace kesta
