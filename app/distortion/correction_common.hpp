#pragma once
// What the spline correction and the look-up-table correction share: the
// over-load question, the corrected pixel sizes, the memory axes and the
// closing note.

#include <span>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// The run-only key of the over-load value.
inline constexpr std::string_view kOverloadKey = "#OVERLOAD_VALUE";

// OVERLOAD_VALUE from the run-only key when it exists; with ASK the question
// "OVER-LOADED PIXEL VALUE" follows and the answer is stored under the key.
void correction_overload_value(bool ask, float& overload_value, Status& status);

// "INFO: The corrected pixel dimension in X is ... microns", the same for Y,
// and a blank line.
void correction_pixel_sizes(float x_pixel_size, float y_pixel_size, Status& status);

// AXIS(1..END) copied into OUT; beyond it, up to OUT_END, the last step of
// AXIS continues (a step of 1.0 when END is 1).
void correction_axis(std::span<const float> axis, Index end, std::span<float> out, Index out_end);

// The note that the result is in the memory.
void correction_memory_note(Status& status);

// The refusal of a region narrower than two pixels in either direction
// (true when refused, after the warning).
bool correction_region_too_small(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                                 Status& status);

// The warning for input that needed too many output pixels: COUNT WHAT
// ("input pixels have", "triangles have") and OUTPUTS ("four", "three") in
// direction AXIS; nothing when COUNT is 0.
void correction_ignored_warning(Index count, std::string_view what, std::string_view outputs,
                                char axis, Status& status);

}  // namespace kesta
