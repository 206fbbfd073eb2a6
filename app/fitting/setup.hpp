#pragma once
// The keyboard sub-menus that edit the fit controls (SET UP), the scale
// factors (CHANGE SCALE) and the constraints and values (CONSTRAIN).

#include <string>
#include <vector>

#include "app/fitting/fit_state.hpp"
#include "core/types.hpp"

namespace kesta {

// The VIEW lines of SET UP.
std::vector<std::string> kzt_setup_view(const FitControls& controls);

// KZT_SETUP: edits CONTROLS until EXIT.
void KZT_SETUP(FitControls& controls, Status& status);

// KZT_SCALE: edits the scale factors of MODEL until EXIT.
void KZT_SCALE(FitModel& model, Status& status);

// KZT_CONSTRAIN: fixes, frees or sets parameters of MODEL until EXIT.
void KZT_CONSTRAIN(FitModel& model, Status& status);

}  // namespace kesta
