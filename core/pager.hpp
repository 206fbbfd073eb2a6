#pragma once
// The help pager: help texts, choice lists and error texts are shown page by
// page with single-key commands (Return next page, B back, S start, Q quit,
// N page length, > and < search, a number jumps to that line). With paging
// off, while a macro replays, or when the input is not a terminal, the lines
// are simply written.

#include <string_view>

#include "core/text_lines.hpp"
#include "core/types.hpp"

namespace kesta {

// Shows the first NUM_LINES lines of LINES (NUM_LINES < 0 gives 10017; it is
// cut to the number of lines present).
void IO_TEXT(int num_lines, TextLines lines, Status& status);
// Shows all of LINES.
void IO_TEXT(TextLines lines, Status& status);

// Searches the first NUM_LINES of LINES (MAX_LINES = lines.size()) for TOKEN
// from START_LINE, START_CHARACTER, forward or backward, with wrap-around
// when WRAP; FOUND, and LINE, CHARACTER where the match begins.
// START_LINE outside 1..NUM_LINES or NUM_LINES outside 1..MAX_LINES: 10005;
// MAX_LINES < 1: 10001.
void IO_SEARCH_TOKEN(TextLines lines, int num_lines, std::string_view token, int start_line,
                     int start_character, bool forward, bool wrap, bool case_sensitive,
                     bool& found, int& line, int& character, Status& status);

// The case-sensitive search flag of the pager (kept for the run, toggled by C).
bool io_pager_case_sensitive();
void io_set_pager_case_sensitive(bool on);

}  // namespace kesta
