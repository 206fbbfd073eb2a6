#pragma once
// A fitted width that has gone down to the floor the models raise widths to
// before evaluating them (1e-37, also for values below 0). There the model no
// longer changes with the width, so the minimiser cannot bring it back: a
// Voigt that lost its Lorentzian half width on the way stays a Gaussian, a
// few per cent above the least-squares minimum. Both fits (the 2-D model and
// the multiple 1-D fit) run their minimiser through kzt_fit_freeing_widths.

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "app/fitting/model.hpp"

namespace kesta {

inline constexpr float kWidthFloor = 1.0e-37f;
// MA_MODELFIT's END_CODE when it reached its call budget.
inline constexpr int kOutOfCalls = 4;

// What one run of the minimiser ended with (MA_MODELFIT's END_CODE, calls
// and sum of squares).
struct ModelFitEnd {
  int end_code = 0;
  int num_calls = 0;
  double sum_squares = 0.0;
};

// A model's widths: which parameters they are (IS_WIDTH: parameter PARAMETER,
// 1 = first, of a feature of TYPE); where the model is flat in a width above
// the floor too (FLAT: width K of MODEL at PARAMS, such as a peak narrower
// than a fraction of a pixel, which only the pixel under it sees; empty: only
// at the floor); and where a stuck width restarts: SPREAD sets the widths of
// the feature of width K in PARAMS where it has a rule for them, else (or
// when null) each restarts at its start value when the model moves with it
// there, else where the data show the peak (SHOWN sets width K in PARAMS,
// and may move the peak to the top the data show beside it; false where the
// data tell nothing), else at its scale.
struct WidthRules {
  bool (*is_width)(int type, int parameter) = nullptr;
  std::function<bool(const FitModel& model, std::span<const float> params, std::size_t k)> flat;
  bool (*spread)(const FitModel& model, std::size_t k, std::span<float> params) = nullptr;
  std::function<bool(const FitModel& model, std::size_t k, std::span<float> params)> shown;
  // Heights the model raises to the floor too: a fit that ends on one below
  // 0 has lost its peak, whose place and widths no longer move the model,
  // wherever they wandered meanwhile. A fit may start from one there (a peak
  // clicked at 0 is fitted from the model's least height), so only where a
  // fit ended is the peak freed: all its free parameters at their start
  // values, the rest of the model where the fit ended.
  bool (*is_height)(int type, int parameter) = nullptr;
};

// The free widths of MODEL (RULES) that may hold a fit where the model does
// not change with them: at or below the floor, or flat, where it ended (END)
// or where it started (START), since a fit that starts there may not move;
// and the free heights at or below the floor at END where a fit ENDED there.
std::vector<std::size_t> kzt_stuck_widths(const FitModel& model, const WidthRules& rules,
                                          std::span<const float> start,
                                          std::span<const float> end, bool ended = true);

// PARAMS (where the fit ended) with each of the widths STUCK set where a fit
// can move it again (RULES).
void kzt_free_widths(const FitModel& model, const WidthRules& rules,
                     std::span<const std::size_t> stuck, std::span<const float> start,
                     std::span<float> params);

// FIT_ONCE(params) runs the minimiser from PARAMS (the free parameters of
// MODEL, in: start values, out: where it ended) and returns its end (an
// END_CODE above 0 when it failed, also with a bad STATUS). A fit that
// converged, or ran out of calls, with a width stuck (kzt_stuck_widths) is
// run again from where it ended with those widths freed (kzt_free_widths),
// and on once from where that run stopped if it ran out of calls below the
// sum of squares it is to beat; it stands when it converged lower (a fit
// that ran out of calls then counts as converged), and its own stuck widths are
// freed the same way, up to kFreeingRounds runs. A width whose minimum lies
// at the floor goes back there, and the fit before stands. The calls of
// every run count; the lines of a run that does not stand (or that stopped
// and went on) are not told.
inline constexpr int kFreeingRounds = 3;
ModelFitEnd kzt_fit_freeing_widths(const FitModel& model, const WidthRules& rules,
                                   std::span<float> params,
                                   const std::function<ModelFitEnd(std::span<float>)>& fit_once,
                                   Status& status);

}  // namespace kesta
