#pragma once
// The interactive side of the multiple 1-D fit: the start model built by
// clicks on one row, the forms for constraints and fit control, and the
// display of one fitted row.

#include <cstdint>
#include <span>
#include <string>

#include "app/fitting/olmi.hpp"
#include "core/types.hpp"

namespace kesta {

// KZT_1DINITIALISE: the click menu "ENTER MODEL FEATURE" on row ROW over
// XSTRELM..XENDELM (zooming changes them); MODEL is replaced when the menu
// ends with EXIT. ROW and X_AXIS hold the defined channels of the row only:
// clicks become channels through them, and an array's values beyond its
// defined extent are no coordinates.
void KZT_1DINITIALISE(std::span<const float> row, std::span<const float> x_axis,
                      std::string_view title, std::string_view xlabel, std::string_view ylabel,
                      Index& xstrelm, Index& xendelm, FitModel& model, Status& status);

// KZT_1DINITHELP: the help page of the menu.
void KZT_1DINITHELP(Status& status);

// KZT_1DCONSTRAINTS: the constraint of every parameter, 12 to a page.
void KZT_1DCONSTRAINTS(FitModel& model, Status& status);

// KZT_OLMISETUP: the fit-control form; a cancel gives the user escape and
// keeps CONTROLS.
void KZT_OLMISETUP(bool variances_exist, OlmiControls& controls, Status& status);

// KZT_OLMIDISPLAY: data (error bars from valid variances), masked channels,
// each feature, the total model, and the residuals in a lower panel.
void KZT_OLMIDISPLAY(const FitModel& model, std::span<const float> row,
                     std::span<const float> variances, std::span<const std::uint8_t> mask,
                     std::span<const float> x_axis, Index xmaxdat, Index xstrelm, Index xendelm,
                     const std::string& title, Status& status);

}  // namespace kesta
