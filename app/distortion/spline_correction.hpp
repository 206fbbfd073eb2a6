#pragma once
// Spline distortion correction: the current data re-binned into the memory,
// each input pixel moved by the X and Y distortion splines and its intensity
// shared over the output pixels it overlaps.

#include <cmath>
#include <span>

#include "app/distortion/spline.hpp"
#include "core/types.hpp"

namespace kesta {

// The corrected image of the active data region in MDATA (the whole array
// cleared first; memory region 1..XMAXDAT by 1..YMAXDAT) and its axes.
// ROWS_PER_BLOCK: rows of edge positions evaluated together, positive for the
// four-pixel method, negative for the two-triangle method. Without
// NO_PROMPTS the over-load value and the rows per block are asked (both are
// in/out). Pixels at or above the over-load value add their whole value to
// every output pixel they touch.
void KZT_CORR_SPATIAL(bool gui, bool no_prompts, const SplineSet& set, Index xmaxdat,
                      Index ymaxdat, std::span<const float> xaxis, std::span<const float> yaxis,
                      std::span<const float> data, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, int& rows_per_block, float& overload_value,
                      std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
                      Index& mxstrelm, Index& mystrelm, Index& mxendelm, Index& myendelm,
                      Status& status);

// The two methods over X_START..X_END by Y_START..Y_END, adding into MDATA;
// the half pixel widths come from the axes over the active data region.
// ROWS_PER_BLOCK is at least 2.
void KZT_CORR5_SPATIAL(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       float overload_value, Index x_start, Index y_start, Index x_end,
                       Index y_end, const SplineSet& set, Index xmaxdat, Index ymaxdat,
                       std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<const float> data, Index rows_per_block, std::span<float> mdata,
                       Status& status);
void KZT_CORR6_SPATIAL(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       float overload_value, Index x_start, Index y_start, Index x_end,
                       Index y_end, const SplineSet& set, Index xmaxdat, Index ymaxdat,
                       std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<const float> data, Index rows_per_block, std::span<float> mdata,
                       Status& status);

// Pixel of a coordinate along an axis (pixel i spans i - 1 to i), the
// coordinate clamped to +-1e15 so that no conversion overflows (NaN gives 0).
// near_pixel: the pixel holding the near edge C of a span; far_pixel: the
// pixel holding its far edge from inside, so an edge on a pixel boundary does
// not reach the next pixel.
inline Index near_pixel(double c) {
  if (!(c > -1.0e15)) return c < 0.0 ? Index{-1000000000000000} : 0;
  if (c > 1.0e15) return Index{1000000000000000};
  const Index t = static_cast<Index>(c);
  return static_cast<double>(t) > c ? t : t + 1;
}
inline Index far_pixel(double c) {
  if (!(c > -1.0e15)) return c < 0.0 ? Index{-1000000000000000} : 0;
  if (c > 1.0e15) return Index{1000000000000000};
  const Index t = static_cast<Index>(c);
  return static_cast<double>(t) < c ? t + 1 : t;
}

// The area of a triangle (never negative).
inline float triangle_area(float x1, float y1, float x2, float y2, float x3, float y3) {
  return 0.5f * std::fabs((x2 - x1) * (y3 - y1) - (x3 - x1) * (y2 - y1));
}

}  // namespace kesta
