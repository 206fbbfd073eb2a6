#pragma once
// The typed dialogues that set one graph style group each: every question
// offers the current value as its default, so Return keeps it, and the
// answers are stored through the group's validating setter. A value the
// setter refuses leaves the group as it was and STATUS bad.

#include <string_view>

#include "core/types.hpp"

namespace kesta {

// What the dialogues remember between calls: the general colour last
// chosen, and the next annotation label and arrow numbers to propose.
struct GsInpMemory {
  int colour = 1;
  int label = 1;
  int arrow = 1;
};
inline GsInpMemory gs_inp_memory;

// A scale factor of a text or a drawn line must be above 0: the smallest
// any question or form offers.
inline constexpr float kGsSmallestScale = 0.01f;

// One drawing colour by name; with SHOW_DEFAULT the name of COLOUR is the
// default, otherwise there is none.
void GS_INP_COLOUR(std::string_view prompt, bool show_default, int& colour, Status& status);

void GS_INP_ACOLOURS(Status& status);
void GS_INP_FONT(Status& status);
void GS_INP_BACKGROUND(Status& status);
void GS_INP_TITLESTYLE(Status& status);
void GS_INP_XLABELSTYLE(Status& status);
void GS_INP_YLABELSTYLE(Status& status);
void GS_INP_ENUMERATIONSTYLE(Status& status);
void GS_INP_AXESSTYLES(Status& status);
void GS_INP_GRID(Status& status);
void GS_INP_GRIDSTYLE(Status& status);
void GS_INP_GPP(Status& status);
void GS_INP_LAYOUT(Status& status);
void GS_INP_LTICKS(Status& status);
void GS_INP_LUT(Status& status);
void GS_INP_ALABELS(Status& status);
void GS_INP_ALABELSTYLES(Status& status);
void GS_INP_ARROWSTYLES(Status& status);

}  // namespace kesta
