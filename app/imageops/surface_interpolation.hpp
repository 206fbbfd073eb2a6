#pragma once
// A smooth background surface through points clicked on the displayed image:
// each point samples the mean of the 3 x 3 pixels round it, and a smoothing
// bicubic spline surface through the samples, as close as asked, is written
// over the active data region of the memory.

#include <span>
#include <string>
#include <string_view>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// The sample of a point at pixel coordinates PX, PY: the mean of DATA over
// pixels I..I + 2 by J..J + 2 (I = INT(PX), J = INT(PY)), each range clipped
// to 1..XENDELM and 1..YENDELM. False (VALUE unchanged) when the block holds
// no pixel of the data.
bool kzt_surface_sample(Index xmaxdat, Index xendelm, Index yendelm, std::span<const float> data,
                        float px, float py, float& value);

// Clicks the points, asks "RMS CLOSENESS OF FIT" (remembered) and fits the
// surface into MDATA; MEMORY_DEFINED becomes true only when a surface was
// stored. The region checks give 110001, 110002, 110005, 110006.
void KZT_SURFACE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, std::span<const float> xaxis,
                 std::span<const float> yaxis, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, std::string_view zlabel, bool& memory_defined,
                 std::span<float> mdata, Status& status);

// The keyboard branch: the surface becomes the memory data set, titled
// "INTERPOLATED SURFACE".
void kzt_command_surface(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
