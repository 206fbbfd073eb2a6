#include "numeric/region_ops.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {
namespace {

// Applies OP to each row of the region of one array: OP(row pointer, count).
template <class T, class Op>
void for_rows(Index xmax, Index xs, Index ys, Index xe, Index ye, std::span<T> array, Op op) {
  const Index n = xe - xs + 1;
  for (Index y = ys; y <= ye; ++y) op(array.data() + element(xs, y, xmax), n);
}

// Applies OP(a, b) to the rows of the region of two arrays of different
// declared widths.
template <class A, class B, class Op>
void for_rows2(Index xmax1, Index xmax2, Index xs, Index ys, Index xe, Index ye, A* a, B* b,
               Op op) {
  const Index n = xe - xs + 1;
  for (Index y = ys; y <= ye; ++y) op(a + element(xs, y, xmax1), b + element(xs, y, xmax2), n);
}

// Applies OP(a1, v1, a2, v2, count) to the rows of the region of two arrays
// with their variances (the first pair of width XMAX1, the second XMAX2).
template <class A2, class Op>
void for_rows_with_variances(Index xmax1, Index xmax2, Index xs, Index ys, Index xe, Index ye,
                             std::span<const float> array1, std::span<const float> var1,
                             std::span<A2> array2, std::span<float> var2, Op op) {
  const Index n = xe - xs + 1;
  for (Index y = ys; y <= ye; ++y) {
    const Index o1 = element(xs, y, xmax1);
    const Index o2 = element(xs, y, xmax2);
    op(array1.data() + o1, var1.data() + o1, array2.data() + o2, var2.data() + o2, n);
  }
}

// Entry of the one-array routines: false (with the failure recorded) when the
// status is already bad or the region does not fit an array of SIZE elements.
bool region_accepted(const char* position, Index xmax, Index ymax, Index xs, Index ys, Index xe,
                     Index ye, std::size_t size, Status& status) {
  if (st_bad(status, position)) return false;
  if (const Status e = region_span_error(xmax, ymax, xs, ys, xe, ye, size); e != 0) {
    st_fail(status, e, position);
    return false;
  }
  return true;
}

// Straight to the terminal: the out-of-range region of MA_RVALUE.
void write_region_line(const char* axis, Index start, Index end, Index max) {
  std::FILE* terminal = io_stream(kStreamTerminal);
  if (terminal == nullptr) return;
  const std::string line = std::string(axis) + "_start_element, " + axis + "_end_element, " + axis +
                           "_max = " + format_i(start, 8) + format_i(end, 8) + format_i(max, 8) +
                           "\n";
  std::fputs(line.c_str(), terminal);
}

}  // namespace

void MA_RVALUE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, float value, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RVALUE V0.1";
  if (st_bad(status, kPosition)) return;
  const Status e =
      region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
  if (e != 0) {
    if (e == kBaseMath + 5) write_region_line("x", xstrelm, xendelm, xmaxdat);
    if (e == kBaseMath + 6) write_region_line("y", ystrelm, yendelm, ymaxdat);
    st_fail(status, e, kPosition);
    return;
  }
  for_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array,
           [value](float* row, Index n) { std::fill(row, row + n, value); });
}

void MA_RCADD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, float value, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RCADD V0.1";
  if (!region_accepted(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                       array.size(), status))
    return;
  for_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [value](float* row, Index n) {
    for (Index i = 0; i < n; ++i) row[i] += value;
  });
}

void MA_RCMULT(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, float value, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RCMULT V0.1";
  if (!region_accepted(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                       array.size(), status))
    return;
  for_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [value](float* row, Index n) {
    for (Index i = 0; i < n; ++i) row[i] *= value;
  });
}

void MA_L1VALUE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::uint8_t value, std::span<std::uint8_t> mask, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_L1VALUE V0.1";
  if (!region_accepted(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                       mask.size(), status))
    return;
  for_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, mask,
           [value](std::uint8_t* row, Index n) { std::fill(row, row + n, value); });
}

// The logarithm is worked in double from the float's own exponent and
// mantissa, so the loop vectorises (the library's log10f does not): with
// x = 2^k m, m in [sqrt(1/2), sqrt(2)), log(m) = 2 atanh(s), s = (m - 1) /
// (m + 1), |s| < 0.172, and the series to s^15 leaves a relative error below
// 1e-13, so the float result is the correctly rounded one but for a handful
// of halfway cases (one unit in the last place then).
KESTA_WIDE_VECTORS
bool ma_log10_row(float* row, Index n) {
  int bad = 0;
  for (Index i = 0; i < n; ++i) {
    const float x = row[i];
    const auto shifted = std::bit_cast<std::uint32_t>(x) - 0x3f3504f3u;
    const int k = static_cast<std::int32_t>(shifted) >> 23;
    const double m = std::bit_cast<float>((shifted & 0x7fffffu) + 0x3f3504f3u);
    const double s = (m - 1.0) / (m + 1.0);
    const double z = s * s;
    const double series =
        1.0 + z * (1.0 / 3 + z * (1.0 / 5 + z * (1.0 / 7 + z * (1.0 / 9 + z * (1.0 / 11 +
              z * (1.0 / 13 + z * (1.0 / 15)))))));
    const auto value = static_cast<float>(k * 0.30102999566398119521 +
                                          (2.0 * 0.43429448190325182765) * s * series);
    // A NaN is no value to take the logarithm of, nor a zero: it stays NaN
    // and is not counted with the elements at or below the limit.
    const bool low = x <= 1.0e-37f;
    bad |= low;
    row[i] = low ? -38.0f
                 : (x == std::numeric_limits<float>::infinity() || x != x ? x : value);
  }
  return bad != 0;
}

void MA_LOGARITHM(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_LOGARITHM V0.1";
  if (!region_accepted(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                       array.size(), status))
    return;
  bool bad = false;
  for_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array,
           [&bad](float* row, Index n) { bad = ma_log10_row(row, n) || bad; });
  if (bad) st_fail(status, kBaseMath + 1004, kPosition);
}

void MA_POWER(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, float power, std::span<float> array, int& return_code,
              Status& status) {
  constexpr const char* kPosition = "Subroutine MA_POWER V0.2";
  if (!region_accepted(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                       array.size(), status))
    return;
  return_code = 0;
  if (power == 1.0f) return;
  // No NaN or infinity may come from a finite element: a negative value has
  // no real non-whole power (0.0, code 1); zero under a negative power and
  // results beyond the float range become 1.7e38 with the result's sign
  // (code 2). An element that is already NaN or infinite is no overflow: it
  // takes the IEEE result (NaN stays, inf^-1 is 0, anything^0 is 1).
  const double p = power;
  const bool whole = std::floor(p) == p;
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  bool negative_root = false;
  bool too_large = false;
  auto finish = [&too_large, kFloatMax](double v, double r) {
    if (!(std::fabs(r) > kFloatMax) || !(std::fabs(v) <= kFloatMax)) return static_cast<float>(r);
    too_large = true;
    return std::signbit(r) ? -kVeryLarge : kVeryLarge;
  };
  for_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&](float* row, Index n) {
    if (power == 2.0f) {
      for (Index i = 0; i < n; ++i) row[i] = finish(row[i], double{row[i]} * row[i]);
      return;
    }
    for (Index i = 0; i < n; ++i) {
      const double v = row[i];
      if (v < 0.0 && !whole) {
        row[i] = 0.0f;
        negative_root = true;
      } else if (v == 0.0 && p < 0.0) {
        row[i] = kVeryLarge;
        too_large = true;
      } else {
        row[i] = finish(v, p == 0.5 ? std::sqrt(v) : std::pow(v, p));
      }
    }
  });
  return_code = (negative_root ? 1 : 0) + (too_large ? 2 : 0);
}

void MA_THRESHOLD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, bool lower_on, bool upper_on, float lower, float upper,
                  std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_THRESHOLD V0.1";
  if (!region_accepted(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                       array.size(), status))
    return;
  if (lower_on && upper_on && lower > upper) return st_fail(status, kBaseMath + 13, kPosition);
  for_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&](float* row, Index n) {
    for (Index i = 0; i < n; ++i) {
      float v = row[i];
      if (lower_on && v < lower) v = lower;
      if (upper_on && v > upper) v = upper;
      row[i] = v;
    }
  });
}

namespace {

// Shared body of the simple two-array routines: ARRAY2 = OP(ARRAY2, ARRAY1).
template <class Op>
void two_array(const char* position, Index xmax1, Index ymax1, Index xs, Index ys, Index xe,
               Index ye, std::span<const float> array1, Index xmax2, Index ymax2,
               std::span<float> array2, Status& status, Op op) {
  if (st_bad(status, position)) return;
  if (const Status e = region_span_error(
          {{xmax1, ymax1, array1.size()}, {xmax2, ymax2, array2.size()}}, xs, ys, xe, ye);
      e != 0)
    return st_fail(status, e, position);
  for_rows2(xmax1, xmax2, xs, ys, xe, ye, array1.data(), array2.data(),
            [&op](const float* a, float* b, Index n) {
              for (Index i = 0; i < n; ++i) b[i] = op(b[i], a[i]);
            });
}

}  // namespace

void MA_RADD(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
             std::span<const float> array1, Index xmax2, Index ymax2, std::span<float> array2,
             Status& status) {
  two_array("Subroutine MA_RADD V0.1", xmax1, ymax1, xstrelm, ystrelm, xendelm, yendelm, array1,
            xmax2, ymax2, array2, status, [](float b, float a) { return b + a; });
}

void MA_RSUBTRACT(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> array1, Index xmax2, Index ymax2,
                  std::span<float> array2, Status& status) {
  two_array("Subroutine MA_RSUBTRACT V0.1", xmax1, ymax1, xstrelm, ystrelm, xendelm, yendelm,
            array1, xmax2, ymax2, array2, status, [](float b, float a) { return b - a; });
}

void MA_RMULTIPLY(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> array1, Index xmax2, Index ymax2,
                  std::span<float> array2, Status& status) {
  two_array("Subroutine MA_RMULTIPLY V0.1", xmax1, ymax1, xstrelm, ystrelm, xendelm, yendelm,
            array1, xmax2, ymax2, array2, status, [](float b, float a) { return b * a; });
}

void MA_RDIVIDE(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::span<const float> array1, Index xmax2, Index ymax2,
                std::span<float> array2, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RDIVIDE V0.1";
  bool zero = false;
  two_array(kPosition, xmax1, ymax1, xstrelm, ystrelm, xendelm, yendelm, array1, xmax2, ymax2,
            array2, status, [&zero](float b, float a) {
              if (a == 0.0f) {
                zero = true;
                return kDivideByZero;
              }
              return b / a;
            });
  if (zero && status == kStatusGood) st_fail(status, kBaseMath + 1003, kPosition);
}

void MA_RVARMULT(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> array1, std::span<const float> var1,
                 Index xmax2, Index ymax2, std::span<const float> array2, std::span<float> var2,
                 Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RVARMULT V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error({{xmax1, ymax1, array1.size()}, {xmax1, ymax1, var1.size()},
                             {xmax2, ymax2, array2.size()}, {xmax2, ymax2, var2.size()}},
                            xstrelm, ystrelm, xendelm, yendelm);
      e != 0)
    return st_fail(status, e, kPosition);
  for_rows_with_variances(xmax1, xmax2, xstrelm, ystrelm, xendelm, yendelm, array1, var1, array2,
                          var2, [](const float* a1, const float* v1, const float* a2, float* v2,
                                   Index n) {
                            for (Index i = 0; i < n; ++i)
                              v2[i] = a2[i] * a2[i] * v1[i] + a1[i] * a1[i] * v2[i];
                          });
}

void MA_WAVERAGE(Index xmax1, Index ymax1, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> array1, std::span<const float> var1,
                 Index xmax2, Index ymax2, std::span<float> array2, std::span<float> var2,
                 Status& status) {
  constexpr const char* kPosition = "Subroutine MA_WAVERAGE V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error({{xmax1, ymax1, array1.size()}, {xmax1, ymax1, var1.size()},
                             {xmax2, ymax2, array2.size()}, {xmax2, ymax2, var2.size()}},
                            xstrelm, ystrelm, xendelm, yendelm);
      e != 0)
    return st_fail(status, e, kPosition);
  for_rows_with_variances(xmax1, xmax2, xstrelm, ystrelm, xendelm, yendelm, array1, var1, array2,
                          var2, [](const float* a1, const float* v1, float* a2, float* v2,
                                   Index n) {
                            for (Index i = 0; i < n; ++i) {
                              const float s = v1[i] + v2[i];
                              if (s > 0.0f) {
                                a2[i] = (a2[i] * v1[i] + a1[i] * v2[i]) / s;
                                v2[i] = v1[i] * v2[i] / s;
                              } else {
                                a2[i] = (a2[i] + a1[i]) * 0.5f;
                                v2[i] = 0.0f;
                              }
                            }
                          });
}

void MA_RCOPY(Index xmaxin, Index ymaxin, std::span<const float> in, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, Index xmaxout, Index ymaxout, std::span<float> out,
              Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RCOPY V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e = region_span_error({{xmaxin, ymaxin, in.size()}, {xmaxout, ymaxout, out.size()}},
                                         xstrelm, ystrelm, xendelm, yendelm);
      e != 0)
    return st_fail(status, e, kPosition);
  for_rows2(xmaxin, xmaxout, xstrelm, ystrelm, xendelm, yendelm, in.data(), out.data(),
            [](const float* a, float* b, Index n) { std::copy(a, a + n, b); });
}

void MA_RMOVE(Index xmaxin, Index ymaxin, std::span<const float> in, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, Index xmaxout, Index ymaxout, Index xtarget,
              Index ytarget, std::span<float> out, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RMOVE V0.1";
  if (st_bad(status, kPosition)) return;
  const ArrayShape in_shape{xmaxin, ymaxin, in.size()}, out_shape{xmaxout, ymaxout, out.size()};
  Status e = dimensions_error({in_shape, out_shape}, kBaseMath);
  if (e == 0) e = region_error(xmaxin, ymaxin, xstrelm, ystrelm, xendelm, yendelm, kBaseMath);
  // A target start below 1 would write before the output array.
  if (e == 0 && (xtarget < 1 || xtarget > xmaxout - (xendelm - xstrelm))) e = kBaseMath + 9;
  if (e == 0 && (ytarget < 1 || ytarget > ymaxout - (yendelm - ystrelm))) e = kBaseMath + 10;
  if (e == 0) e = span_error({in_shape, out_shape});
  if (e != 0) return st_fail(status, e, kPosition);
  const Index n = xendelm - xstrelm + 1;
  const Index lines = yendelm - ystrelm + 1;
  // The input and output may be one array: each line is moved, not copied,
  // and when the block moves to higher addresses the last line goes first,
  // so that no line is overwritten before it has been read.
  const bool backwards = std::less<const float*>()(in.data() + element(xstrelm, ystrelm, xmaxin),
                                                   out.data() + element(xtarget, ytarget, xmaxout));
  for (Index k = 0; k < lines; ++k) {
    const Index j = backwards ? lines - 1 - k : k;
    const float* src = in.data() + element(xstrelm, ystrelm + j, xmaxin);
    float* dst = out.data() + element(xtarget, ytarget + j, xmaxout);
    std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(float));
  }
}

}  // namespace kesta
