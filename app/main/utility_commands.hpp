#pragma once
// Small commands that serve macros and the user's bookkeeping: listing,
// removing and joining internal variables, a message shown during a macro, a
// pause, and the change history; with the helpers they share with the macro
// questions and the variable commands of the image operations.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_lines.hpp"
#include "core/types.hpp"

namespace kesta {

// Prompt mode of a name question: taken as typed, without the response
// translation (a defined name must not turn into its value), "?" and "HELP"
// asking for help.
inline constexpr int kRawNameMode = 111;

// LIST VARIABLES: every internal variable with its type and value.
void KZT_LISTVARIABLES(Status& status);
// UN-DEFINE VARIABLE: removes the named variable.
void KZT_UNDEFINE(Status& status);
// CONCATENATION: two texts joined into a string variable.
void KZT_CONCATENATION(Status& status);
// MESSAGE: reads up to 100 lines (recorded, so a macro shows them on replay)
// and shows them in a prompt box over the window's message region
// (GRAPHICS_ON), else on the terminal and in the log.
void KZT_MESSAGE(bool graphics_on, Status& status);
// SLEEP: pauses for 0 to 1000 seconds.
void KZT_SLEEP(Status& status);
// CHANGES: pages the change history, in the window's message box when GUI,
// else on the terminal.
void KZT_CHANGES(bool gui, Status& status);

// The change history, lines of at most 77 characters.
std::span<const std::string> kzt_change_history();

// The number of internal variables, and the name of variable NUMBER
// (1-based; empty when there is no such variable).
int kzt_variable_count(Status& status);
std::string kzt_variable_name(int number, Status& status);

// Defines NAME with TYPE and the value of that type (TEXT for 's'); a full
// variable table or string store is reported (a type clash is reported by
// the core services). Returns the core services' result code.
int kzt_set_variable(std::string_view name, char type, int ivalue, bool lvalue, float rvalue,
                     std::string_view text, Status& status);

// Writes LINES into the output macro while one is recorded.
void kzt_macro_comment(TextLines lines, Status& status);

// Reads up to 100 text lines of 80 characters at the prompt "TEXT" until the
// user escape, which is no failure. The escape is written into a recorded
// macro (as the end of the text on replay) only when it ended the text.
void kzt_input_text_lines(std::vector<std::string>& lines, Status& status);

}  // namespace kesta
