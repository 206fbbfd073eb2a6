#pragma once
// Helpers shared by the resampling routines (rebinning, slices, rotation,
// triangle rebinning, transforms); not part of the library's interface.

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "core/region.hpp"
#include "core/status.hpp"
#include "core/types.hpp"
#include "numeric/region_ops.hpp"

namespace kesta::resample {

// floor(v) as an Index, clamped far outside any array so that a huge or
// non-finite position (NaN goes low) can be compared with a region safely.
inline Index floor_index(double v) {
  constexpr double kLimit = 4.0e15;
  if (!(v > -kLimit)) return -static_cast<Index>(kLimit);
  if (v > kLimit) return static_cast<Index>(kLimit);
  // Truncation, one lower for negative non-integers (cheaper than a call).
  const auto t = static_cast<Index>(v);
  return t - (static_cast<double>(t) > v ? 1 : 0);
}

// The output elements along one axis that an interval [lo, hi] (output pixel
// units) overlaps, from FIRST on, each weighted by its overlap divided by the
// interval's length, so the weights add up to 1 when nothing is cut off.
struct Shares {
  Index first = 0;
  std::vector<double> weight;
};

// The shares of [LO, HI] among output elements OSTART..OEND.
inline Shares interval_shares(double lo, double hi, Index ostart, Index oend) {
  Shares s;
  const double length = hi - lo;
  // The small amount keeps an interval ending exactly on a boundary out of the
  // next element.
  s.first = std::max(floor_index(lo) + 1, ostart);
  const Index last = std::min(floor_index(hi - 1.0e-6) + 1, oend);
  if (!(length > 0.0)) return s;
  for (Index k = s.first; k <= last; ++k) {
    const double overlap =
        std::min(hi, static_cast<double>(k)) - std::max(lo, static_cast<double>(k - 1));
    s.weight.push_back(std::max(overlap, 0.0) / length);
  }
  return s;
}

// The entry check of a routine from one image region into another: on a
// fault sets STATUS with POSITION and returns false.
inline bool in_out_accepted(const char* position, Index xmaxdat, Index ymaxdat,
                            std::span<const float> data, Index xs, Index ys, Index xe, Index ye,
                            Index xmaxout, Index ymaxout, Index oxs, Index oys, Index oxe,
                            Index oye, std::span<float> output, Status& status) {
  // Both sizes first, then the input region, the output region and the spans.
  const ArrayShape in{xmaxdat, ymaxdat, data.size()}, out{xmaxout, ymaxout, output.size()};
  Status e = dimensions_error({in, out}, kBaseMath);
  if (e == 0) e = region_error(xmaxdat, ymaxdat, xs, ys, xe, ye, kBaseMath);
  if (e == 0) e = region_error(xmaxout, ymaxout, oxs, oys, oxe, oye, kBaseMath);
  if (e == 0) e = span_error({in, out});
  if (e != 0) st_fail(status, e, position);
  return e == 0;
}

// True when V lies within max(v x 1.0e-6, 1.0e-30) of its nearest integer
// (the tolerance is relative for positive values only).
inline bool is_whole(double v) {
  return std::fabs(v - std::round(v)) < std::max(v * 1.0e-6, 1.0e-30);
}

// An output region of an array with first dimension XMAX.
struct OutputRegion {
  Index xmax;
  Index xs, ys, xe, ye;
};

// The exact-area sharing of one triangle (vertices in output pixel
// coordinates) without the argument checks; see MA_TRIREBIN.
void trirebin_share(const double (&x)[3], const double (&y)[3], double value, double area,
                    const OutputRegion& region, float* output, Index& x_skipped,
                    Index& y_skipped);

}  // namespace kesta::resample
