#pragma once
// Macro files and the log file. An output macro records every response line
// (after a four-line header; the line that stopped the recording is replaced
// by the end line); an input macro replays its lines as typed answers,
// carrying out one level of DO ... END DO loops and "%SLEEP" pauses; the log
// holds a transcript of all output and all answers.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

inline constexpr const char* kDefaultMacroFile = "kesta.mac";
inline constexpr const char* kDefaultLogFile = "kesta.log";

// Opening: with PROMPT the file name is asked (FILE_NAME offered and updated);
// without it a blank FILE_NAME gives 10033; a failed open 11000.
void IO_OPEN_LOGFILE(bool prompt, std::string& file_name, Status& status);
void IO_CLOSE_LOGFILE(Status& status);
// GUI selects the header's first line.
void IO_OPEN_OUTMACRO(bool gui, bool prompt, std::string& file_name, Status& status);
// Replaces the last record (the stop command) by the end line and closes.
void IO_CLOSE_OUTMACRO(Status& status);
// While a macro replays, only consumes the file-name answer of that macro.
void IO_OPEN_INMACRO(bool prompt, std::string& file_name, Status& status);
// Reports loops left open.
void IO_CLOSE_INMACRO(Status& status);
// True while the macro replaying is a recording made in the window (it
// begins with that recording's header) and none of its lines has been read
// yet: it starts where its recording started, in MACROS / LOG FILE.
bool io_window_recording_at_start();
// Who made a macro file, told by its first line: the keyboard's START MACRO
// (whose header the keyboard's SEQUENCE asks for), the window's CREATE
// MACRO, or neither (a file written without a header).
enum class MacroRecording { kNone, kKeyboard, kWindow };
MacroRecording io_macro_recording(std::string_view first_line);
// The command loop that is to replay a macro.
enum class MacroLoop { kKeyboard, kWindow };
// The one line that refuses a recording made for the other command loop,
// naming FILE_NAME and where it runs.
std::string io_foreign_recording_line(std::string_view file_name, MacroRecording recording);
// A macro just opened (none of its lines read) that LOOP would misread line
// by line -- a window recording in the keyboard loop, or in the window's
// menus a keyboard one -- is closed with that one line; true then.
bool io_macro_refused_for(MacroLoop loop);
void IO_INQ_INMACRO(bool& inmacro, Status& status);
// Ends a running file sequence whose macro cannot go on to its next count
// (abandoned before its end, or not to be opened): the flag is cleared and
// a blank line, "NOTE: Sequence terminated: " with REASON, and a blank line
// are written. Nothing when no sequence runs.
void io_end_sequence(std::string_view reason);
// Ends automatic input after a failure that would leave its later lines
// working on the wrong data: a running input macro is closed and a running
// file sequence ended, each said by its line (MACRO_LINE, SEQUENCE_LINE)
// between a blank line and a rule of "WARNING---" on either side. Nothing
// when neither runs.
void io_end_automatic_input(std::string_view macro_line, std::string_view sequence_line);
// True (once) when the program closed the replaying macro before its end (so,
// or at the end of its sequence: io_leave_macro_for_sequence) and nothing
// has been read since: the next wait is the user's, as after a macro that
// ran out.
bool io_macro_just_closed();
// The macro of a file sequence's next count: opened as IO_OPEN_INMACRO opens
// it (no prompt), and marked as the sequence's own. Only the end of the
// sequence's own macro moves it on; any other macro opened is not its own.
void io_open_sequence_macro(std::string& file_name, Status& status);
// The macro replaying now (that set the sequence up) is taken as the
// sequence's own: its end starts the first count.
void io_adopt_sequence_macro();
// True when the macro replaying, or the one that ended last, is the
// sequence's own.
bool io_sequence_macro();
// The command loop that set the running file sequence up: only that one
// moves it on (the keyboard's SEQUENCE and the window's RUN SEQUENCE keep
// their series apart). kNone while no sequence runs.
enum class SequenceDriver { kNone, kKeyboard, kWindow };
// A sequence's next count, or its end, reached from a line of a replaying
// macro (a SEQUENCE or RUN SEQUENCE line in a member's macro): the rest of
// that macro is not read, and a line says so. Nothing when none replays.
void io_leave_macro_for_sequence(bool sequence_ended);
// Starts a sequence of DRIVER: the running flag is set.
void io_start_sequence(SequenceDriver driver);
SequenceDriver io_sequence_driver();

// The next response line of the input macro on STREAM after carrying out the
// loop and pause lines met; end of file gives 11001, a syntax error 11013, a
// second DO or an END DO without DO 11007.
void IO_READ_MACRO(int stream, std::string& line, Status& status);

// Reads the core services' command-line options (-SYM, -BVAR ... -SVAR,
// -mac/+mac/-MAC/+MAC).
void IO_MSET_OPTIONS(Status& status);
// The same on an explicit argument list (options only, without the program name).
void io_mset_options(std::span<const std::string> arguments, Status& status);

// Output-macro records for the reader and the menu.
// Writes LINE (its used part; an empty line is an empty record) as one record
// while a recording is open. A failed write is reported once and ends the
// recording; STATUS stays as it was (the answer recorded still stands).
void io_outmacro_record(std::string_view line, Status& status);
// Replaces the last record of the output macro by TEXT, truncating the file
// when the new record is shorter. When the last record is the current
// response line, only its part from CONSUMED_FROM (1-based, the part a menu
// answer took) is replaced, so type-ahead answers before it are kept.
void io_outmacro_replace_last(std::string_view text, int consumed_from, Status& status);

// A command refused before it did or asked anything (START MACRO while one
// records, SEQUENCE inside a recording, a command whose data are missing) is
// no part of what the recording should replay: the loop that reads commands
// marks the recording before it reads one, and takes the command back when
// it was refused. A mark made while nothing records takes nothing back.
struct OutmacroMark {
  long size = -1;    // the recording's length before the command (-1: none)
  std::string kept;  // the answers typed ahead of the command on its line
};
// Also forgets a refusal said before it.
OutmacroMark io_outmacro_mark();
// Said by a command that refuses to run.
void io_refuse_command();
// True (once) when a command was refused since the last mark.
bool io_command_refused();
// Cuts the recording back to MARK: the command read after it, and anything
// recorded since, are gone. A failure is reported and ends the recording,
// as a failed record does; STATUS is left alone.
void io_outmacro_take_back(const OutmacroMark& mark);

}  // namespace kesta
