#pragma once
// Element-wise operations on a rectangular region of column-major float
// images: fill, constant arithmetic, arithmetic between two arrays, variance
// propagation, weighted averaging, clipping, logarithm, powers and copies.
//
// Every routine takes STATUS last, returns at once (recording its position)
// when entered with a bad status, and changes nothing when its arguments are
// refused: 20001/20002 bad declared size, 20005/20006 region outside an array
// (including a start below 1), 20009/20010 target does not fit, 20013 lower
// limit above upper, 20037 an array span shorter than its declared size needs.

#include <cstdint>
#include <initializer_list>
#include <span>

#include "core/region.hpp"
#include "core/types.hpp"

namespace kesta {

// The code of an array span shorter than its declared dimensions promise.
inline constexpr Status kShortSpan = 37;

// The whole check of one array and its region: bad sizes (base + 1, 2), the
// region outside the array or starting below 1 (5, 6), then a span shorter
// than the declared sizes (37); 0 when the region can be used.
constexpr Status region_span_error(Index xmax, Index ymax, Index xs, Index ys, Index xe, Index ye,
                                   std::size_t size) {
  return array_region_error(xmax, ymax, xs, ys, xe, ye, size, kBaseMath, kShortSpan);
}

// The same for several arrays sharing one region: every size, the region
// inside every array, then every span.
constexpr Status region_span_error(std::initializer_list<ArrayShape> arrays, Index xs, Index ys,
                                   Index xe, Index ye) {
  return arrays_region_error(arrays, xs, ys, xe, ye, kBaseMath, kShortSpan);
}

// 20037 when any span is shorter than its declared size needs; otherwise 0.
constexpr Status span_error(std::initializer_list<ArrayShape> arrays) {
  return spans_error(arrays, kBaseMath, kShortSpan);
}

// The most multiply-adds (or samples) one call may take: about 10^12, some
// minutes of work; counts asking for more are refused rather than left to run
// for days or overflow.
inline constexpr Index kMaxWork = Index{1} << 40;

// Special values: a very large and a very small value, and what a division by
// zero stores (sign set, exponent 2^126, all mantissa bits set).
inline constexpr float kVeryLarge = 1.7e38f;
inline constexpr float kVerySmall = -1.7e38f;
inline constexpr float kDivideByZero = -1.7014117e38f;

// In place: XMAXDAT, YMAXDAT, region, scalars, ARRAY.
void MA_RVALUE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, float value, std::span<float> array, Status& status);
void MA_RCADD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, float value, std::span<float> array, Status& status);
void MA_RCMULT(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, float value, std::span<float> array, Status& status);
void MA_L1VALUE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::uint8_t value, std::span<std::uint8_t> mask, Status& status);
// Base-10 logarithm of N values in place (within one unit in the last place
// of log10 worked in double; infinity stays); a value not above 1.0e-37
// becomes -38.0 and gives true.
bool ma_log10_row(float* row, Index n);
// Base-10 logarithm; an element not above 1.0e-37 becomes -38.0 and the
// status ends as 21004 (all other elements are still converted).
void MA_LOGARITHM(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<float> array, Status& status);
// ARRAY to the power POWER; a finite element never becomes NaN or infinity.
// RETURN_CODE adds 1 when a negative element (-inf included) under a
// non-whole power became 0.0, and 2 when a zero under a negative power, or a
// finite element's result beyond the float range, became 1.7e38 (with the
// result's sign). A NaN or infinite element otherwise takes the IEEE result
// and counts for neither code. Status stays good.
void MA_POWER(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, float power, std::span<float> array, int& return_code, Status& status);
// Clip below LOWER (when LOWER_ON), then above UPPER (when UPPER_ON).
void MA_THRESHOLD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, bool lower_on, bool upper_on, float lower, float upper,
                  std::span<float> array, Status& status);

// Two arrays, result in the second.
void MA_RADD(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
             std::span<const float> array1, Index xmax2, Index ymax2, std::span<float> array2,
             Status& status);
void MA_RSUBTRACT(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> array1, Index xmax2, Index ymax2,
                  std::span<float> array2, Status& status);
void MA_RMULTIPLY(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> array1, Index xmax2, Index ymax2,
                  std::span<float> array2, Status& status);
// Where ARRAY1 is exactly 0.0, ARRAY2 becomes kDivideByZero; all other
// elements are divided and the status ends as 21003.
void MA_RDIVIDE(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::span<const float> array1, Index xmax2, Index ymax2,
                std::span<float> array2, Status& status);
// Variance of the product ARRAY1 x ARRAY2, into VAR2 (ARRAY2 still holds its
// factor): VAR2 = ARRAY2^2 VAR1 + ARRAY1^2 VAR2.
void MA_RVARMULT(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> array1, std::span<const float> var1,
                 Index xmax2, Index ymax2, std::span<const float> array2, std::span<float> var2,
                 Status& status);
// Variance-weighted mean into ARRAY2 and its variance into VAR2; where the
// variances sum to zero or less, the plain mean and variance 0.
void MA_WAVERAGE(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> array1, std::span<const float> var1,
                 Index xmax2, Index ymax2, std::span<float> array2, std::span<float> var2,
                 Status& status);

// Copies: input array before the region.
void MA_RCOPY(Index xmaxin, Index ymaxin, std::span<const float> in, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, Index xmaxout, Index ymaxout, std::span<float> out,
              Status& status);
// OUT(xtarget + i, ytarget + j) = IN(xstrelm + i, ystrelm + j).
void MA_RMOVE(Index xmaxin, Index ymaxin, std::span<const float> in, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, Index xmaxout, Index ymaxout, Index xtarget,
              Index ytarget, std::span<float> out, Status& status);

}  // namespace kesta
