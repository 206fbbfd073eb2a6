#pragma once
// The keyboard sub-menus that edit the fit controls (SET UP), the scale
// factors (CHANGE SCALE) and the constraints and values (CONSTRAIN).

#include <string>
#include <vector>

#include "app/fitting/fit_state.hpp"
#include "core/types.hpp"

namespace kesta {

// Why a fit asked to be weighted stays unweighted: weights are the data's
// variances, and there are no variance arrays to hold them.
inline constexpr const char* kNoVariancesForWeights =
    "WARNING: No variance arrays, so the fit stays unweighted (start KESTA with -var)";
// The same where DIMENSIONS removed the variance arrays the run had.
inline constexpr const char* kVariancesRemovedForWeights =
    "WARNING: No variance arrays, so the fit stays unweighted (\"DIMENSIONS\" removed them; "
    "answer YES to its \"CREATE VARIANCE ARRAYS\" to have them again)";

// True, after one of the lines above, when there are no variance arrays: a
// fit can then not be weighted, whatever asked for it.
bool kzt_weights_refused(bool variances_exist, Status& status);

// The VIEW lines of SET UP.
std::vector<std::string> kzt_setup_view(const FitControls& controls);

// KZT_SETUP: edits CONTROLS until EXIT; WEIGHTED FIT turns the weights on
// only when VARIANCES_EXIST.
void KZT_SETUP(bool variances_exist, FitControls& controls, Status& status);

// KZT_SCALE: edits the scale factors of MODEL until EXIT.
void KZT_SCALE(FitModel& model, Status& status);

// KZT_CONSTRAIN: fixes, frees or sets parameters of MODEL until EXIT.
void KZT_CONSTRAIN(FitModel& model, Status& status);

}  // namespace kesta
