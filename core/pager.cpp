#include "core/pager.hpp"

#include <unistd.h>

#include <algorithm>
#include <deque>
#include <string>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

constexpr int kMaxPageLength = 300;
constexpr std::size_t kMarkerLength = 132;

bool pager_case_sensitive = false;

const std::string kHelpLines[] = {
    "Upper of lower cases letters may be input:",
    "B = Backwards (Up) one \"page\"",
    "C = Case Sensitive searching, toggles between case sensitive searching or not",
    "D = Down (Forwards) one \"page\"",
    "E = End of text, go to end",
    "F = Forwards one \"page\" (default option)",
    "H = Help (this text, equivalent to \"?\")",
    "N = Number of lines per \"page\"",
    "    User is prompted for a number",
    "Q = Quit, exit OUTPUT",
    "S = Start of text, return to beginning",
    "U = Up (Backwards) one \"page\"",
    "> = Forward search (circular)",
    "< = Backwards search (circular)",
    "1, 2, 3, etc. A number followed by <RETURN> may",
    "  be used to go immediately to that line number.",
};

const std::string kPageLengthLines[] = {
    "Enter the number of lines of text to be output in a \"page\" i.e. the",
    "number of lines between prompts to continue. e.g. For a normal",
    "terminal window with 24 lines, the value 23 displays maximum size",
    "\"pages\" while allowing all lines to be read. The value \"0\" may be",
    "input to disable this facility.",
};

// Key presses from the single-key reader. One read may bring several keys
// (fast typing, a pasted block); a cursor key's escape sequence stays one
// key. What the pager does not use is given back for the next prompt: when
// it ends, and before it asks for a line of its own (a search's text).
class KeyReader {
 public:
  KeyReader() = default;
  KeyReader(const KeyReader&) = delete;
  KeyReader& operator=(const KeyReader&) = delete;
  ~KeyReader() { give_back(); }

  void give_back() {
    std::string rest;
    for (const std::string& key : pending_) rest += key;
    pending_.clear();
    io_keep_typed_ahead(rest);
  }
  // A line end that came with a command key ends the command's line: it is
  // part of the answer, not one for the next prompt.
  void drop_line_end() {
    if (!pending_.empty() && (pending_.front() == "\n" || pending_.front() == "\r"))
      pending_.pop_front();
  }

  // The next key; empty at the end of the input.
  std::string next(Status& status) {
    if (pending_.empty()) {
      const std::string bytes = IO_INPUT_KEY(status);
      for (std::size_t i = 0; i < bytes.size();) {
        std::size_t n = 1;
        if (bytes[i] == '\033' && i + 1 < bytes.size() && (bytes[i + 1] == '[' || bytes[i + 1] == 'O'))
          n = std::min<std::size_t>(3, bytes.size() - i);
        pending_.push_back(bytes.substr(i, n));
        i += n;
      }
    }
    if (pending_.empty()) return {};
    std::string key = pending_.front();
    pending_.pop_front();
    return key;
  }

 private:
  std::deque<std::string> pending_;
};

bool is_digit_key(const std::string& key) { return key.size() == 1 && IO_ISDIGIT(key[0]); }

void write_lines(std::span<const std::string> lines, int from, int to, Status& status) {
  for (int i = std::max(from, 1); i <= to; ++i) IO_WRITE(lines[static_cast<std::size_t>(i - 1)], status);
}

// Searches from the pager and shows each place found; the current line and
// the search column follow the matches.
void search(std::span<const std::string> lines, int num_lines, bool forward, int page_length, int& current,
            int& column, Status& status) {
  std::string text;
  IO_INPC(false, "ENTER SEARCH TEXT", {"Enter key word or pattern to search for"},
          {"Enter valid text"}, 1, text, status);
  if (status != kStatusGood) return;
  while (true) {
    bool found = false;
    int line = 0;
    int character = 0;
    IO_SEARCH_TOKEN(lines.first(static_cast<std::size_t>(num_lines)), num_lines, text, current,
                    column, forward, true, pager_case_sensitive, found, line, character, status);
    if (status != kStatusGood) return;
    if (!found) {
      IO_WRITE("TOKEN NOT FOUND", status);
      return;
    }
    // The next search starts beyond this match in the search direction, so
    // that "next occurrence" moves on backwards as well as forwards.
    column = forward ? character + 1 : character - 1;
    current = line;
    write_lines(lines, std::max(line - page_length + 2, 1), line, status);
    std::string marker(std::min<std::size_t>(static_cast<std::size_t>(character), kMarkerLength), ' ');
    marker.back() = '^';
    IO_WRITE(marker, status);
    bool again = false;
    IO_INPL(false, false, false, false, "SEARCH NEXT OCCURENCE",
            {"YES to continue search for next example of defined characters"}, {"Enter YES or NO"},
            again, status);
    if (status != kStatusGood || !again) return;
  }
}

}  // namespace

bool io_pager_case_sensitive() { return pager_case_sensitive; }
void io_set_pager_case_sensitive(bool on) { pager_case_sensitive = on; }

void IO_TEXT(TextLines lines, Status& status) {
  IO_TEXT(static_cast<int>(lines.size()), lines.view(), status);
}

void IO_TEXT(int num_lines, TextLines lines, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_TEXT V0.4";
  if (st_bad(status, kPosition)) return;
  if (num_lines < 0) {
    st_fail(status, 10017, kPosition);
    return;
  }
  num_lines = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(num_lines), lines.size()));
  // Without paging, or when no one can press a key, the text is simply
  // written. A replaying macro has no one at the terminal either: waiting
  // there for a key would stop every replay (and every member of a sequence).
  if (!vosq_io_dbdb.paging_on || vosq_io_dbdb.input_macro || !isatty(STDIN_FILENO)) {
    write_lines(lines.view(), 1, num_lines, status);
    return;
  }
  if (num_lines < 1) return;

  KeyReader keys;
  int current = 1;
  int column = 1;
  bool show = true;
  while (current <= num_lines && status == kStatusGood) {
    const int page = vosq_io_dbdb.lines_per_page;
    // A page length of 0 switches paging off: the rest is written at once.
    if (page < 1 || page >= num_lines - current) {
      write_lines(lines.view(), current, num_lines, status);
      break;
    }
    if (show) write_lines(lines.view(), current, current + page - 1, status);
    const int percent = static_cast<int>(100LL * (page + current - 1) / num_lines);
    IO_WRITENA("---" + format_i(percent, 2, 2) +
                   "%---(This is NOT more)--- <RETURN> = Next \"page\" --- ? = help ------:",
               status);

    std::string key = keys.next(status);
    bool have_number = false;
    long long number = 0;
    while (is_digit_key(key)) {
      have_number = true;
      if (number < 1000000000LL) number = number * 10 + (key[0] - '0');
      IO_WRITENA(key, status);
      key = keys.next(status);
    }
    char command = '\n';
    if (!have_number) {
      if (key.empty()) {
        command = 'Q';  // the input has ended: nobody can page on
      } else if (key.size() == 1 && key[0] >= 32 && key[0] <= 126) {
        IO_WRITENA(key, status);
        command = IO_UPPER(key)[0];
        keys.drop_line_end();
      } else if (key == "\033[A" || key == "\033OA") {
        command = 'u';
      } else if (key == "\033[B" || key == "\033OB") {
        command = 'd';
      }
    }
    IO_WRITE(" ", status);

    show = true;
    if (have_number) {
      if (number < 1)
        current = 1;
      else if (number > num_lines)
        current = std::max(num_lines - page, 1);
      else
        current = static_cast<int>(number);
      continue;
    }
    switch (command) {
      case 'B':
      case 'U': current = std::max(current - page, 1); break;
      case 'S': current = 1; break;
      case 'Q': current = num_lines + 1; break;
      // The last page is shown, then the display ends.
      case 'E': current = std::max(num_lines - page + 1, 1); break;
      case 'u': current = std::max(current - 1, 1); break;
      case 'd': current = current + 1; break;
      case 'C': pager_case_sensitive = !pager_case_sensitive; break;
      case 'H':
      case '?':
        for (const auto& line : kHelpLines) IO_WRITE(line, status);
        show = false;
        break;
      case 'N': {
        keys.give_back();
        for (const auto& line : kPageLengthLines) IO_WRITE(line, status);
        int length = page;
        IO_INPI(true, 0, kMaxPageLength, true, "NUMBER OF LINES OF TEXT PER \"PAGE\"",
                kPageLengthLines, {"Enter valid integer within given range"}, length,
                status);
        if (status == kStatusGood) vosq_io_dbdb.lines_per_page = length;
        show = false;
        break;
      }
      case '>':
      case '<':
        keys.give_back();
        search(lines.view(), num_lines, command == '>', page, current, column, status);
        show = false;
        break;
      default: current += page; break;  // Return, F, D and any other key
    }
  }
}

void IO_SEARCH_TOKEN(TextLines lines, int num_lines, std::string_view token, int start_line,
                     int start_character, bool forward, bool wrap, bool case_sensitive,
                     bool& found, int& line, int& character, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_SEARCH_TOKEN V0.1";
  if (st_bad(status, kPosition)) return;
  const auto max_lines = static_cast<int>(lines.size());
  if (max_lines < 1) {
    st_fail(status, 10001, kPosition);
    return;
  }
  if (num_lines < 1 || num_lines > max_lines || start_line < 1 || start_line > num_lines) {
    st_fail(status, 10005, kPosition);
    return;
  }
  found = false;
  std::string wanted(token.substr(0, static_cast<std::size_t>(SLEN(token))));
  if (!case_sensitive) wanted = IO_UPPER(wanted);
  const auto n = static_cast<int>(wanted.size());
  if (n == 0) return;

  const int count = wrap ? num_lines + 1 : (forward ? num_lines - start_line + 1 : start_line);
  int l = start_line;
  for (int k = 0; k < count; ++k) {
    const std::string& raw = lines[static_cast<std::size_t>(l - 1)];
    const std::string text = case_sensitive ? raw.substr(0, static_cast<std::size_t>(SLEN(raw)))
                                            : IO_UPPER(raw);
    const auto length = static_cast<int>(text.size());
    // A mismatch restarts the token without testing that character again.
    if (forward) {
      int index = 0;
      for (int p = k == 0 ? std::max(start_character, 1) : 1; p <= length; ++p) {
        if (text[static_cast<std::size_t>(p - 1)] == wanted[static_cast<std::size_t>(index)]) {
          if (++index == n) {
            found = true;
            line = l;
            character = p - n + 1;
            return;
          }
        } else {
          index = 0;
        }
      }
      l = l == num_lines ? 1 : l + 1;
    } else {
      int index = n - 1;
      // Backwards a start column of 0 leaves nothing to examine in the first
      // line (the pager's "next occurrence" before column 1).
      for (int p = k == 0 ? std::min(start_character, length) : length; p >= 1; --p) {
        if (text[static_cast<std::size_t>(p - 1)] == wanted[static_cast<std::size_t>(index)]) {
          if (--index < 0) {
            found = true;
            line = l;
            character = p;
            return;
          }
        } else {
          index = n - 1;
        }
      }
      l = l == 1 ? num_lines : l - 1;
    }
  }
}

}  // namespace kesta
