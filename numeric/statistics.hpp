#pragma once
// Value routines over a region of a float image (extremes, mean, a count
// above a level, moments), a sort with a companion list, and the small
// routines used for smooth curves and axis labels.
//
// Region routines take the array before the region and refuse bad sizes
// (20001, 20002), a region outside the array (20005, 20006) and an array
// span too short for its declared size (20037).

#include <span>

#include "core/types.hpp"

namespace kesta {

// The extremes count finite elements only (NaN and +-Inf are left out), from
// the first one met, whatever its size (core/extremes.hpp); a region without
// one leaves the start values (1.7e38 for the minimum, -1.7e38 for the
// maximum).
// Largest element (strict comparisons).
void MA_RMAX(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
             Index ystrelm, Index xendelm, Index yendelm, float& maximum, Status& status);
// Smallest element.
void MA_RMIN(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
             Index ystrelm, Index xendelm, Index yendelm, float& minimum, Status& status);
void MA_RMINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, float& minimum, float& maximum,
                Status& status);
void MA_RMEAN(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
              Index ystrelm, Index xendelm, Index yendelm, float& mean, Status& status);
// Number of elements that are NaN or infinite.
void ma_nonfinite_count(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                        Index ystrelm, Index xendelm, Index yendelm, Index& number,
                        Status& status);
// Number of elements greater than or equal to LEVEL.
void MA_SATURATED(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, float level, Index& number,
                  Status& status);
// Moments of the region's finite elements: NaN and +-Inf take no part in any
// figure nor in the count the figures divide by, and LEFT_OUT gives their
// number. SIGMA is the sample standard deviation (0 for a single element or
// when rounding makes the variance negative); SKEWNESS is 0 when SIGMA is
// below 1.0e-30. A region without a finite element leaves the extremes at
// their start values (MAXIMUM -1.7e38 < MINIMUM 1.7e38) and the moments 0.
// The four further results are always 0.
void MA_STATISTICS(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float& maximum, float& minimum,
                   float& mean, float& total, float& rms, float& sigma, float& skewness,
                   float& further1, float& further2, float& further3, float& further4,
                   Index& left_out, Status& status);

// Sorts VALUES(1..N) ascending by selection, moving COMPANION in step.
// MAXIMUM (the declared size) is not used; N is limited to both spans.
void MA_SORT(Index maximum, Index n, std::span<float> values, std::span<float> companion,
             Status& status);

// Slope of the chord (x1, y1)-(x2, y2); +-1.7e38 (0 for equal points) when
// the chord is vertical.
float MA_GRAD(float x1, float y1, float x2, float y2);

// Gradient of a smooth curve at the middle one of three successive points;
// 0 when all three coincide.
float MA_DIFFER(float x1, float y1, float x2, float y2, float x3, float y3);

// Line y = SLOPE x + INTERCEPT through two points. DEFINED 0 when the points
// are equal; a vertical line has SLOPE +-1.7e38 and INTERCEPT its x.
void MA_SLOPE(float x1, float y1, float x2, float y2, int& defined, float& slope, float& intercept,
              Status& status);

// The N-th decimal digit (1 units ... 10) of |NUMBER|; N outside 1..10 gives
// 20017. Returns -1 when entered with (or ending with) a bad status.
int MA_EXDIGIT(int number, int n, Status& status);

// The power of ten M with 1 <= |VALUE| / M < 10 (1.0 for zero or a value
// that is not finite).
double MA_DMULTIPLIER(double value);

}  // namespace kesta
