#pragma once
// The one reader every answer passes: it writes the prompt, takes the next
// line from the input macro while one replays or from the terminal line
// editor otherwise, recognises the user escape "\\", records the line into the
// output macro and the log, and keeps it as the type-ahead line from which the
// typed prompts take one word (IO_INPUT_TOKEN) or the rest (IO_INPUT_LINE).

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/system.hpp"
#include "core/types.hpp"

namespace kesta {

// A response line holds at most this many characters; longer lines are cut.
inline constexpr std::size_t kResponseLength = 132;

// Cuts LINE to a response line; true when it was longer. Every cut of an
// answer (typed, replayed or translated) goes through here, so that
// io_response_cut() can tell a caller that its answer is not what was given.
bool io_cut_response(std::string& line);
// True when the response line last read, or its translation, was cut.
bool io_response_cut();
// Notes that the response line being read was cut before it reached the
// reader (a macro line read bounded to a response line).
void io_note_cut_response();

// Reads one response line into vosq_io_dbinteractive and resets the type-ahead
// cursor to it. PROMPT holds the prompt lines; the last is the prompt proper,
// the ones before it are written as whole lines first. At the end of the input
// (stdin closed or exhausted) the answer is the user escape.
void IO_READ(std::span<const std::string> prompt, Status& status);

// The next word of the type-ahead line (reading a new line when it is used
// up). LENGTH is the number of characters of the line this call consumed, 0
// when no word was left (TOKEN is then a single blank). With TRANSLATE the
// rest of the line first passes the response translation.
void IO_INPUT_TOKEN(bool translate, std::span<const std::string> prompt, int& length,
                    std::string& token, Status& status);

// The whole rest of the type-ahead line (reading a new line when it is used
// up) with its LENGTH; an empty typed line gives LENGTH 1 and a single blank.
void IO_INPUT_LINE(bool translate, std::span<const std::string> prompt, int& length,
                   std::string& line, Status& status);

// Drops what is left of the type-ahead line: the next prompt reads a new one.
void io_drop_type_ahead();

// The one rule for what ends a replayed macro. The consumed status answers
// both an assignment (the macro goes on: the caller resets the status and
// asks again or goes on) and the end of the macro at a graphical menu choice
// or while a file sequence runs (the reader has closed the macro and left
// its marker). True for the end only.
bool io_macro_ended(Status status);
// After a question: true when its answer was an assignment, STATUS then reset
// to good for the question to be asked again. The macro's end and every other
// status are left as they are. `do { ask } while (io_ask_again(status));`
bool io_ask_again(Status& status);

// While alive, the macro's end at a question hands the question back to its
// caller (the consumed status, io_macro_ended) instead of asking it at the
// terminal: a box drawn in a window takes its answer from the window once the
// macro has ended, as a graphical menu choice does.
class IoMacroEndToWindow {
 public:
  IoMacroEndToWindow();
  ~IoMacroEndToWindow();
  IoMacroEndToWindow(const IoMacroEndToWindow&) = delete;
  IoMacroEndToWindow& operator=(const IoMacroEndToWindow&) = delete;

 private:
  bool before_;
};

// Number of response lines IO_READ has taken so far in this run (tells a
// caller whether an answer came from the type-ahead line or a new line).
unsigned long io_response_count();

// Source of terminal lines: called with the prompt text; returns false at the
// end of the input. The default is the terminal line editor (IO_READC). Tests
// replace it; an empty function restores the default.
// READS_TERMINAL tells that the source reads the terminal input itself (the
// program's own reader), which a window wait may then watch.
using IoLineSource = std::function<bool(std::string_view prompt, std::string& line)>;
void io_set_line_source(IoLineSource source, bool reads_terminal = false);

// True once a prompt met the end of the terminal input, until a line is read
// from it again (a new line source starts a new input). A wait for the window that comes after it would wait
// for ever in a run without a user: it answers with the user escape instead.
bool io_input_ended();

// From this call on the run answers at the terminal (the keyboard menu): a
// wait for the window also watches the terminal input and takes its end as
// the user escape. Only the terminal's own input is watched, never a line
// source that does not read it.
void io_watch_terminal();
// The watch for a wait beside it (FD -1: nothing to watch), and whether what
// poll() reported for it is the end of the terminal input, which is then
// noted as a prompt notes it (io_input_ended()).
InputWatch io_terminal_watch();
bool io_terminal_watch_ended(InputWatch& watch, short revents);

}  // namespace kesta
