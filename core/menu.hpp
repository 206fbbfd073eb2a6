#pragma once
// Menu command matching: an entry selects the one choice whose leading
// characters it equals (words joined with single blanks, upper case); a line
// starting with "$" goes to the shell; the output macro records the full
// command, not the abbreviation.

#include <span>
#include <string>
#include <string_view>

#include "core/text_lines.hpp"
#include "core/types.hpp"

namespace kesta {

// Matches INPUT against the first NUM_CHOICES of CHOICES (whose size is the
// declared MAX_CHOICES). RESULT 0: one match, COMMAND is it in upper case;
// -1: none (or nothing entered); -2: several, COMMAND is the first.
// MAX_CHOICES < 1 gives 10001; NUM_CHOICES outside 1..MAX_CHOICES 10005.
void IO_COMMAND(std::string_view input, TextLines choices, int num_choices, int& result,
                std::string& command, Status& status);

// How an entry selects a choice. A typed menu wants the one choice the entry
// begins, so "EXIT" is ambiguous beside "EXIT MENU". A line that stands for a
// click (a button or a form item replayed from a macro, or typed in place of
// the click) names the whole button, so an entry equal to exactly one choice
// selects it even when it begins others ("TILT" beside "TILT PLANE").
enum class MenuMatch { kLeadingPart, kWholeName };

// IO_COMMAND and IO_MENU with the matching rule HOW.
void io_command(MenuMatch how, std::string_view input, std::span<const std::string> choices,
                int num_choices, int& result, std::string& command, Status& status);

// Asks until one choice is selected and returns it in COMMAND, which holds the
// default on entry (offered when FIXED). HELP is shown on "?"/"HELP" unless
// those are choices (the caller then answers them); ERROR's first line is the
// error text. A "$" line runs through the shell and returns "null".
void IO_MENU(bool fixed, std::string_view prompt, TextLines help, TextLines error,
             int num_choices, TextLines choices, std::string& command, Status& status);
void io_menu(MenuMatch how, bool fixed, std::string_view prompt, TextLines help,
             TextLines error, int num_choices, std::span<const std::string> choices,
             std::string& command, Status& status);

}  // namespace kesta
