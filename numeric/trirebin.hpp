#pragma once
// Exact-area sharing of a triangle's intensity over the output pixels it
// overlaps. Output pixel (ix, iy) covers x from ix - 1 to ix and y from
// iy - 1 to iy; triangle vertices are given in these coordinates.

#include <span>

#include "core/types.hpp"

namespace kesta {

// Adds VALUE x (area of overlap) to every pixel of the output region that the
// triangle overlaps; the shares add up to AREA (what falls outside the output
// region is lost). A triangle whose far edge lies less than 0.005 beyond a
// pixel boundary is kept out of the next pixel. A triangle spanning more than
// three pixels in X is not shared and counted in X_SKIPPED; otherwise one
// spanning more than three in Y is counted in Y_SKIPPED (non-finite vertices
// count in X_SKIPPED). Bad output size or region: 20001, 20002, 20005, 20006,
// 20037 (span too short); nothing is added.
void MA_TRIREBIN(float x1, float y1, float x2, float y2, float x3, float y3, float value,
                 float area, Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm,
                 Index oxendelm, Index oyendelm, Index& x_skipped, Index& y_skipped,
                 std::span<float> output, Status& status);

// The areas of the triangle's parts in the four quadrants about (XLINE,
// YLINE); they add up to AREA (the upper-right part takes the remainder).
void MA_CAL_TRILINES(float x1, float y1, float x2, float y2, float x3, float y3, float xline,
                     float yline, float area, float& lower_left, float& lower_right,
                     float& upper_left, float& upper_right, Status& status);

}  // namespace kesta
