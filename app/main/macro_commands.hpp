#pragma once
// Commands that make recorded macros usable for unattended work: QUESTION
// defines a question that a macro asks the user live at every replay, and
// SEQUENCE runs a macro file once for each value of a loop count, setting
// ##COUNT and variables built from the count before each run.

#include <string>

#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// Defines one question (recorded into the output macro, read back from the
// input macro on replay) and asks it with macro replay and recording off.
// GRAPHICS_ON tells whether the graphics window is open: the question is then
// asked in its boxes while the question's GUI switch is on. SHOWN is the data
// on display (nullptr when none), on which a GRAPHICAL COORDINATE question
// takes one click; its X and Y are set as reals under the two names defined.
void KZT_QUESTION(bool graphics_on, const GsDisplayedImage* shown, Status& status);

// The menu that gives a variable's type letter (the program's type choice).
using KztTypeChooser = void (*)(bool defaulted, char& type, Status& status);

// Defines a sequence (not while an output macro is recorded) and runs the
// macro MACRO_FILE (proposed, and updated with the chosen file) for its first
// count; the keyboard loop calls it again each time the macro ends while the
// sequence runs. CHOOSE_TYPE asks the type of each sequence variable.
void KZT_SEQUENCE(std::string& macro_file, KztTypeChooser choose_type, Status& status);

}  // namespace kesta
