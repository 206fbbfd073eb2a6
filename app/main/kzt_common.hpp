#pragma once
// Small services of the main program shared with later subsystems: the one
// line for a command whose operation is not built yet, and the terminal line
// reader of the program, which remembers when the input has ended.

#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Writes one line saying that COMMAND is not available yet; changes nothing.
// Every call marks an operation that later work replaces.
void kzt_not_available(std::string_view command, Status& status);

// Installs the program's terminal line reader (the line editor) as the core
// services' line source. From then on kzt_input_ended() tells whether the
// terminal input has ended (stdin closed or exhausted).
void kzt_install_terminal_reader();
bool kzt_input_ended();

// True for an escape that the end of the terminal input gave. While a macro
// replays, an escape is the macro's own answer even after the terminal ended.
bool kzt_escape_at_end(Status status);

// After a command left a bad STATUS: the status report and the question
// "RESET "status"". True when STATUS was reset to good (an assignment needs
// neither), false when the user chose to leave the command loop, or when the
// running sequence's macro ended, at the loop's prompt or at the question:
// STATUS is then the macro's end (io_macro_ended), which the command loop
// hands on to its caller, so that the sequence moves on.
bool kzt_reset_status(Status& status);

// One line straight from the terminal (never from a running macro); false at
// the end of the input.
bool kzt_read_terminal_line(std::string_view prompt, std::string& line);

}  // namespace kesta
