#pragma once
// The typed prompts: an integer, real, double, logical, string or single word,
// each with an optional default in brackets, an optional range, a help text
// shown on "?" or "HELP" and an error text shown before asking again. Each
// loops until it has an acceptable answer, the user escape (STATUS
// kStatusEscape) or the end of a replayed macro that its caller hands on
// (kStatusConsumed, io_macro_ended); an assignment sets its variable and the
// question is asked again. The value is changed only by an accepted answer.
// One typed line can answer several prompts in a row (type-ahead); a refused
// answer drops the rest of its line.

#include <string>
#include <string_view>
#include <vector>

#include "core/text_lines.hpp"
#include "core/types.hpp"

namespace kesta {

// RANGED: the answer must lie in LOWER..UPPER (inclusive) and the range is
// shown. FIXED: VALUE holds a default on entry, shown and taken for an empty
// answer. HELP and ERROR are shown through the pager.
void IO_INPI(bool ranged, int lower, int upper, bool fixed, std::string_view prompt, TextLines help,
             TextLines error, int& value, Status& status);
void IO_INPR(bool ranged, float lower, float upper, bool fixed, std::string_view prompt,
             TextLines help, TextLines error, float& value, Status& status);
// IO_INPR showing the default and the bounds with the digits that give them
// back (io_rtoc_exact), for values the short form would show alike.
void io_inpr_digits(bool ranged, float lower, float upper, bool fixed, std::string_view prompt,
                    TextLines help, TextLines error, float& value, Status& status);
void IO_INPD(bool ranged, double lower, double upper, bool fixed, std::string_view prompt,
             TextLines help, TextLines error, double& value, Status& status);
// RANGED, LOWER and UPPER are ignored.
void IO_INPL(bool ranged, bool lower, bool upper, bool fixed, std::string_view prompt,
             TextLines help, TextLines error, bool& value, Status& status);

// MODE digits (of its absolute value): units 0 lower case, 2 upper case, other
// as typed; tens 1 makes "?" and "HELP" help requests; hundreds 0 passes the
// answer through the response translation, other takes it raw.
// IO_INPS: the whole rest of the line (at most 256 characters). LENGTH is set
// when an answer was typed and left alone for an empty answer. An empty HELP
// or ERROR gives 10001.
void IO_INPS(bool fixed, std::string_view prompt, TextLines help, TextLines error, int mode,
             int& length, std::string& string, Status& status);
// IO_INPS without LENGTH.
void IO_INPC(bool fixed, std::string_view prompt, TextLines help, TextLines error, int mode,
             std::string& string, Status& status);
// IO_INPC for a file name: every file-name question asks through it. "?" and
// "HELP" show HELP whatever MODE says. An answer longer than a response
// line (or whose translation is) was cut, and would name another file: it is
// refused with a message and asked again, and FILE keeps its value.
void io_input_file_name(bool fixed, std::string_view prompt, TextLines help, TextLines error,
                        int mode, std::string& file, Status& status);
// One word of the line (at most 132 characters).
void IO_INPTOKEN(bool fixed, std::string_view prompt, TextLines help, TextLines error, int mode,
                 std::string& token, Status& status);

// Lays out the prompt lines from the prompt, the range text (when RANGED) and
// the default text (when FIXED): at most four lines, the last ending with ":"
// (or ":" alone on a line of its own).
void IO_OUTPROMPT(bool colon_alone, bool ranged, bool fixed, std::string_view prompt,
                  std::string_view range_text, std::string_view default_text,
                  std::vector<std::string>& lines, Status& status);

}  // namespace kesta
