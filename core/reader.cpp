#include "core/reader.hpp"

#include <algorithm>

#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "core/translate.hpp"

namespace kesta {
namespace {

IoLineSource& line_source() {
  static IoLineSource source;
  return source;
}

// One line from the terminal line editor; false at the end of the input.
bool read_terminal_line(std::string_view prompt, std::string& line) {
  if (const IoLineSource& source = line_source()) return source(prompt, line);
  int length = 0;
  IO_READC(prompt, length, line);
  return length >= 0;
}

bool starts_with(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && text.substr(0, head.size()) == head;
}

bool is_end_marker(std::string_view line) {
  return starts_with(line, "%!*\\ END OF VOSQ_IO MACRO FILE") ||
         starts_with(line, "%!*\\ END OF IO MACRO FILE");
}

// Characters FROM..TO (1-based, inclusive) of TEXT, blank-padded where TEXT
// is shorter.
std::string part(std::string_view text, int from, int to) {
  std::string out;
  for (int i = from; i <= to; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    out.push_back(k < text.size() ? text[k] : ' ');
  }
  return out;
}

unsigned long response_count = 0;
bool response_cut = false;
bool terminal_ended = false;
bool terminal_watched = false;
// The consumed status last given stands for the end of the replayed macro,
// not for an assignment.
bool consumed_by_macro_end = false;
bool source_reads_terminal = true;
bool macro_end_to_window = false;

void new_line_needed() {
  vosq_io_dbdb.new_line_needed = true;
  vosq_io_dbdb.next_position = 1;
  vosq_io_dbdb.end_position = 1;
}

}  // namespace

bool io_cut_response(std::string& line) {
  if (line.size() <= kResponseLength) return false;
  line.resize(kResponseLength);
  response_cut = true;
  return true;
}

bool io_response_cut() { return response_cut; }

void io_note_cut_response() { response_cut = true; }

void io_set_line_source(IoLineSource source, bool reads_terminal) {
  source_reads_terminal = !source || reads_terminal;
  line_source() = std::move(source);
  terminal_ended = false;
}

bool io_input_ended() { return terminal_ended; }

void io_drop_type_ahead() { new_line_needed(); }

bool io_macro_ended(Status status) { return status == kStatusConsumed && consumed_by_macro_end; }

bool io_ask_again(Status& status) {
  if (status != kStatusConsumed || consumed_by_macro_end) return false;
  st_reset(status);
  return true;
}

IoMacroEndToWindow::IoMacroEndToWindow() : before_(macro_end_to_window) {
  macro_end_to_window = true;
}

IoMacroEndToWindow::~IoMacroEndToWindow() { macro_end_to_window = before_; }

void io_watch_terminal() { terminal_watched = true; }

InputWatch io_terminal_watch() {
  if (!terminal_watched || !source_reads_terminal) return {};
  return io_input_watch(io_terminal_input());
}

bool io_terminal_watch_ended(InputWatch& watch, short revents) {
  if (!io_input_watch_ended(watch, revents)) return false;
  terminal_ended = true;
  return true;
}

unsigned long io_response_count() { return response_count; }

void IO_READ(std::span<const std::string> prompt, Status& status) {
  if (st_bad(status, "Subroutine IO_READ V0.9")) return;
  consumed_by_macro_end = false;
  for (std::size_t i = 0; i + 1 < prompt.size(); ++i) IO_WRITE(prompt[i], status);
  const std::string proper = prompt.empty() ? std::string() : prompt.back();
  const std::string_view proper_used(proper.data(), static_cast<std::size_t>(SLEN(proper)));

  std::string line;
  response_cut = false;
  bool from_terminal = !vosq_io_dbdb.input_macro;
  bool replayed = false;
  if (vosq_io_dbdb.input_macro) {
    IO_WRITENA(proper, status);
    while (true) {
      IO_READ_MACRO(kStreamInputMacro, line, status);
      const bool at_end = status == kStatusGood ? is_end_marker(line)
                                                : ST_ERRORCODE(status) == 1001;
      if (at_end) {
        Status local = kStatusGood;
        IO_WRITE("  *** END OF MACRO FILE ***", local);
        ST_DEF_SYSTEM(status);
        IO_CLOSE_INMACRO(status);
        // Another macro's end never stands for the sequence's: the sequence
        // whose own macro was left before its end has no next count.
        if (!io_sequence_macro()) io_end_sequence("its macro was left before its end");
        if (macro_end_to_window ||
            (!prompt.empty() && starts_with(prompt.front(), "MENU CHOICE (GRAPHICAL"))) {
          vosq_io_dbinteractive = "%!*\\ EOF";
          consumed_by_macro_end = true;
          status = kStatusConsumed;
          return;
        }
        if (vosq_io_dbdb.file_sequence) {
          vosq_io_dbinteractive = "%!*\\ SEQUENCE";
          consumed_by_macro_end = true;
          status = kStatusConsumed;
          return;
        }
        from_terminal = true;
        break;
      }
      if (status != kStatusGood) return;
      if (starts_with(line, "%!*\\")) continue;
      replayed = true;
      break;
    }
  }

  if (from_terminal) {
    Status local = kStatusGood;  // a failing log is closed; the answer is still read
    if (vosq_io_dbdb.log_open) IO_WRITENA_FILE(kStreamLog, proper, local);
    if (!read_terminal_line(proper_used, line)) {
      // The end of the input answers with the user escape, so that a prompt
      // without a usable default cannot ask for ever. The prompt line is ended.
      terminal_ended = true;
      Status local = kStatusGood;
      IO_WRITE(" ", local);
      status = kStatusEscape;
      return;
    }
    // A line came: the input goes on (a person at a terminal may end one
    // wait with Ctrl-D and type on), so later window waits wait again.
    terminal_ended = false;
  }

  io_cut_response(line);
  const int used = SLEN(line);
  line.resize(static_cast<std::size_t>(used));
  if (line == "\\\\") {
    // A replayed escape ends its prompt's line as a typed one does, so that
    // what follows does not run on after the prompt.
    if (replayed) IO_WRITE(line, status);
    status = kStatusEscape;
    return;
  }
  vosq_io_dbinteractive = line;
  ++response_count;
  vosq_io_dbdb.new_line_needed = false;
  vosq_io_dbdb.next_position = 1;
  vosq_io_dbdb.end_position = std::max(used, 1);

  if (replayed) IO_WRITE(line, status);
  // A recording or log that fails is reported and closed; the answer is
  // delivered all the same, and the failure leaves no position behind for a
  // later report (unless one is pending already).
  const auto given_up = [&status](Status& local) {
    if (local != kStatusGood && status == kStatusGood) st_reset(local);
    local = kStatusGood;
  };
  Status local = kStatusGood;
  if (vosq_io_dbdb.output_macro) io_outmacro_record(line, local);
  given_up(local);
  if (vosq_io_dbdb.log_open) IO_WRITE_FILE(kStreamLog, line, local);
  given_up(local);
}

void IO_INPUT_TOKEN(bool translate, std::span<const std::string> prompt, int& length,
                    std::string& token, Status& status) {
  if (st_bad(status, "Subroutine IO_INPUT_TOKEN V0.5")) return;
  consumed_by_macro_end = false;
  if (vosq_io_dbdb.new_line_needed) {
    IO_READ(prompt, status);
    if (status != kStatusGood) return;
  }
  const int next = vosq_io_dbdb.next_position;
  const int end = vosq_io_dbdb.end_position;
  std::string buffer = part(vosq_io_dbinteractive, next, end);
  if (translate) {
    const std::string raw = buffer;
    int translated_length = 0;
    int retstat = 0;
    IO_TRANSLATE(translated_length, buffer, retstat, status);
    if (status != kStatusGood) {
      new_line_needed();
      return;
    }
    io_cut_response(buffer);
    // A translation that changed the text (substitution, comment, continuation)
    // leaves no positions to continue from: the rest of the line is dropped.
    // Unchanged text keeps the type-ahead, so "10 20 YES" answers three prompts.
    if (std::string_view(buffer).substr(0, SLEN(buffer)) !=
        std::string_view(raw).substr(0, SLEN(raw)))
      vosq_io_dbdb.new_line_needed = true;
  }
  bool found = false;
  int token_end = 0;
  std::string word;
  IO_TOKEN(buffer, 1, found, word, token_end, status);
  if (status != kStatusGood) return;
  if (found) {
    token = word;
    length = token_end;
    if (next + length - 1 >= end) vosq_io_dbdb.new_line_needed = true;
    vosq_io_dbdb.next_position = next + length;
    if (vosq_io_dbdb.new_line_needed) {
      vosq_io_dbdb.next_position = 1;
      vosq_io_dbdb.end_position = 1;
    }
  } else {
    token = " ";
    length = 0;
    new_line_needed();
  }
}

void IO_INPUT_LINE(bool translate, std::span<const std::string> prompt, int& length,
                   std::string& line, Status& status) {
  if (st_bad(status, "Subroutine IO_INPUT_LINE V0.4")) return;
  consumed_by_macro_end = false;
  if (vosq_io_dbdb.new_line_needed) {
    IO_READ(prompt, status);
    if (status != kStatusGood) return;
  }
  const int next = vosq_io_dbdb.next_position;
  const int end = vosq_io_dbdb.end_position;
  length = std::max(end - next + 1, 0);
  line = part(vosq_io_dbinteractive, next, end);
  new_line_needed();
  if (translate) {
    int retstat = 0;
    IO_TRANSLATE(length, line, retstat, status);
  }
}

}  // namespace kesta
