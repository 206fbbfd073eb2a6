#include "core/terminal_line.hpp"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace kesta {
namespace {

int key_of(const termios& mode, int index) {
  const cc_t key = mode.c_cc[index];
  return key == _POSIX_VDISABLE ? -1 : static_cast<int>(key);
}

bool continuation_byte(unsigned char c) { return (c & 0xC0) == 0x80; }

// A key the terminal shows as "^" and a letter where it shows control keys
// so (a tab moves on as it stands).
bool control_key(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; }

// A letter of a word for the word erase, as the terminal weighs the first
// byte of a character: ASCII letters, digits and the underscore, and the
// Latin-1 letters (which every UTF-8 lead byte but 0xD7 and 0xF7 is).
bool word_byte(unsigned char c) {
  if (c < 0x80) return std::isalnum(c) != 0 || c == '_';
  return c >= 0xC0 && c != 0xD7 && c != 0xF7;
}

constexpr TerminalEditKeys kNoEditing{.erase = -1, .word_erase = -1, .kill = -1, .literal_next = -1,
                                      .end_of_file = -1, .utf8 = false, .return_is_line_end = false,
                                      .line_mode = false, .echo_control = false};

}  // namespace

TerminalEditKeys terminal_edit_keys(int fd) {
  termios mode{};
  if (tcgetattr(fd, &mode) != 0) return kNoEditing;
  // Out of line mode the terminal edits nothing: every key is text.
  TerminalEditKeys keys = (mode.c_lflag & ICANON) != 0 ? TerminalEditKeys{} : kNoEditing;
  keys.echo = (mode.c_lflag & ECHO) != 0;
  keys.echo_line_end = (mode.c_lflag & (ECHO | ECHONL)) != 0;
  keys.echo_control = (mode.c_lflag & ECHOCTL) != 0;
  keys.echo_erase = (mode.c_lflag & ECHOE) != 0;
  keys.echo_kill = (mode.c_lflag & ECHOK) != 0;
  keys.echo_kill_erase = (mode.c_lflag & ECHOKE) != 0;
  // The input settings apply in and out of line mode.
  keys.return_is_line_end = (mode.c_iflag & ICRNL) != 0;
  keys.return_ignored = (mode.c_iflag & IGNCR) != 0;
  if (!keys.line_mode) return keys;
  keys.erase = key_of(mode, VERASE);
  keys.kill = key_of(mode, VKILL);
  keys.end_of_file = key_of(mode, VEOF);
  const bool extended = (mode.c_lflag & IEXTEN) != 0;
  keys.word_erase = extended ? key_of(mode, VWERASE) : -1;
  keys.literal_next = extended ? key_of(mode, VLNEXT) : -1;
#ifdef IUTF8
  keys.utf8 = (mode.c_iflag & IUTF8) != 0;
#endif
  return keys;
}

std::size_t TerminalLine::last_character() const {
  if (text_.size() <= handed_on_) return std::string::npos;
  std::size_t at = text_.size() - 1;
  while (keys_.utf8 && at > handed_on_ && continuation_byte(static_cast<unsigned char>(text_[at])))
    --at;
  // The terminal takes back no part of a character.
  if (keys_.utf8 && continuation_byte(static_cast<unsigned char>(text_[at]))) return std::string::npos;
  return at;
}

bool TerminalLine::erase_one(std::string& echo) {
  // A UTF-8 character goes whole, and shows as one column.
  const std::size_t at = last_character();
  if (at == std::string::npos) return false;
  const auto c = static_cast<unsigned char>(text_[at]);
  if (c == '\t') {
    // The cursor goes back to where the tab began, over the blanks it left.
    const std::size_t begun =
        column_after(line_column_, std::string_view(text_).substr(handed_on_, at - handed_on_));
    const std::size_t columns = column_after(begun, "\t") - begun;
    text_.resize(at);
    echo.append(columns, '\b');
    return true;
  }
  // A control key shown as two columns takes both back; one shown as it
  // stands has moved the cursor nowhere the terminal could tell.
  const int columns = !control_key(c) ? 1 : keys_.echo_control ? 2 : 0;
  text_.resize(at);
  for (int i = 0; i < columns; ++i) echo += "\b \b";
  return true;
}

std::size_t TerminalLine::column_after(std::size_t column, std::string_view text) const {
  for (const char key : text) {
    const auto c = static_cast<unsigned char>(key);
    if (c == '\t') column = (column | 7) + 1;
    else if (control_key(c)) column += keys_.echo_control ? 2 : 0;
    else if (!keys_.utf8 || !continuation_byte(c)) ++column;
  }
  return column;
}

void TerminalLine::shown_after(std::string_view prompt, std::size_t from) {
  const std::size_t line_start = prompt.rfind('\n');
  const std::size_t start =
      column_after(0, line_start == std::string_view::npos ? prompt : prompt.substr(line_start + 1));
  const std::string_view text(text_);
  line_column_ = handed_on_ <= from ? start : column_after(start, text.substr(from, handed_on_ - from));
  column_ = column_after(start, text.substr(std::min(from, text.size())));
}

void TerminalLine::show(unsigned char key, std::string& echo) const {
  if (keys_.echo_control && control_key(key)) {
    echo.push_back('^');
    echo.push_back(static_cast<char>(key ^ 0x40));
  } else {
    echo.push_back(static_cast<char>(key));
  }
}

std::string TerminalLine::shown(std::string_view text) const {
  std::string echo;
  for (const char key : text) show(static_cast<unsigned char>(key), echo);
  return echo;
}

TerminalLine::Key TerminalLine::take(unsigned char key, std::string& echo) {
  const std::size_t from = echo.size();
  const Key taken = take_key(key, echo);
  // Where the cursor stands after the echo, as the terminal counts columns.
  for (std::size_t i = from; i < echo.size(); ++i) {
    const auto c = static_cast<unsigned char>(echo[i]);
    if (c == '\b') column_ -= column_ > 0 ? 1 : 0;
    else if (c == '\n' || c == '\r') column_ = 0;
    else if (c == '\t') column_ = (column_ | 7) + 1;
    else if (!control_key(c) && (!keys_.utf8 || !continuation_byte(c))) ++column_;
  }
  return taken;
}

TerminalLine::Key TerminalLine::take_key(unsigned char key, std::string& echo) {
  if (key == '\r' && !literal_) {
    if (keys_.return_ignored) return Key::kTaken;
    if (keys_.return_is_line_end) key = '\n';
  }
  // The terminal keeps an end-of-file key it took in its line mode as a NUL
  // when it leaves that mode: read in single-key mode, that NUL is the key.
  const int k = key == '\0' && !literal_ && keys_.end_of_file >= 0 ? keys_.end_of_file : key;
  if (literal_) {
    literal_ = false;
  } else if (k == keys_.literal_next) {
    literal_ = true;
    // A mark the key taken literally is shown over.
    if (keys_.echo_control) echo += "^\b";
    return Key::kTaken;
  } else if (key == '\n') {
    return Key::kLineEnd;
  } else if (k == keys_.end_of_file) {
    if (text_.size() == handed_on_) return Key::kEndOfInput;
    handed_on_ = text_.size();
    return Key::kHandedOn;
  } else if (k == keys_.erase) {
    // Not taken off the screen, the erase key shows where it took a character.
    std::string erased;
    if (erase_one(erased)) echo += keys_.echo_erase ? erased : shown(std::string(1, static_cast<char>(key)));
    return Key::kTaken;
  } else if (k == keys_.kill) {
    if (keys_.echo_kill_erase && keys_.echo_erase && keys_.echo_kill) {
      while (erase_one(echo)) {
      }
    } else if (text_.size() > handed_on_) {
      // Shown as the key, and ended there where the shown line is to end.
      text_.resize(handed_on_);
      show(key, echo);
      if (keys_.echo_kill) echo.push_back('\n');
    }
    return Key::kTaken;
  } else if (k == keys_.word_erase) {
    // As the terminal does: back over anything up to a word (letters,
    // digits, underscores), then over the word.
    bool in_word = false;
    for (std::size_t at = last_character(); at != std::string::npos; at = last_character()) {
      const bool word = word_byte(static_cast<unsigned char>(text_[at]));
      if (!word && in_word) break;
      in_word = in_word || word;
      erase_one(echo);
    }
    return Key::kTaken;
  }
  // The terminal counts a tab's columns from where the first key after the
  // line's start (or its last handing on) showed.
  if (text_.size() == handed_on_) line_column_ = column_;
  text_.push_back(static_cast<char>(key));
  show(key, echo);
  return Key::kTaken;
}

std::string terminal_edited(std::string_view keys, const TerminalEditKeys& edit_keys) {
  TerminalLine line(edit_keys);
  std::string echo;
  for (const char key : keys)
    if (const TerminalLine::Key taken = line.take(static_cast<unsigned char>(key), echo);
        taken == TerminalLine::Key::kLineEnd || taken == TerminalLine::Key::kEndOfInput)
      break;
  return line.text();
}

}  // namespace kesta
