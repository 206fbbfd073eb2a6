#include "numeric/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/extremes.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

// Calls OP(row pointer, count) for each row of the region, Y outer.
template <class Op>
void scan_rows(Index xmax, Index xs, Index ys, Index xe, Index ye, std::span<const float> array,
               Op op) {
  const Index n = xe - xs + 1;
  for (Index y = ys; y <= ye; ++y) op(array.data() + element(xs, y, xmax), n);
}

// Whether V takes part in an extreme: NaN and the infinities never do, so a
// single overflowed pixel cannot stretch a range to infinity. Written as two
// comparisons so the loops stay vectorisable.
constexpr float kFloatMax = std::numeric_limits<float>::max();
inline bool counts(float v) { return v >= -kFloatMax && v <= kFloatMax; }

}  // namespace

void MA_RMAX(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
             Index ystrelm, Index xendelm, Index yendelm, float& maximum, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RMAX V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0)
    return st_fail(status, e, kPosition);
  float best = kBelowEveryValue;
  scan_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&best](const float* r, Index n) {
    for (Index i = 0; i < n; ++i) best = r[i] > best && counts(r[i]) ? r[i] : best;
  });
  maximum = maximum_found(best);
}

void MA_RMIN(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
             Index ystrelm, Index xendelm, Index yendelm, float& minimum, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RMIN V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0)
    return st_fail(status, e, kPosition);
  float best = kAboveEveryValue;
  scan_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&best](const float* r, Index n) {
    for (Index i = 0; i < n; ++i) best = r[i] < best && counts(r[i]) ? r[i] : best;
  });
  minimum = minimum_found(best);
}

void MA_RMINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, float& minimum, float& maximum,
                Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RMINMAX V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0)
    return st_fail(status, e, kPosition);
  float lo = kAboveEveryValue;
  float hi = kBelowEveryValue;
  scan_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&](const float* r, Index n) {
    for (Index i = 0; i < n; ++i) {
      const bool usable = counts(r[i]);
      lo = r[i] < lo && usable ? r[i] : lo;
      hi = r[i] > hi && usable ? r[i] : hi;
    }
  });
  minimum = minimum_found(lo);
  maximum = maximum_found(hi);
}

void MA_RMEAN(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
              Index ystrelm, Index xendelm, Index yendelm, float& mean, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RMEAN V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0)
    return st_fail(status, e, kPosition);
  double sum = 0.0;
  scan_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&sum](const float* r, Index n) {
    for (Index i = 0; i < n; ++i) sum += r[i];
  });
  const double count =
      static_cast<double>(xendelm - xstrelm + 1) * static_cast<double>(yendelm - ystrelm + 1);
  mean = static_cast<float>(sum / count);
}

void ma_nonfinite_count(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                        Index ystrelm, Index xendelm, Index yendelm, Index& number,
                        Status& status) {
  constexpr const char* kPosition = "Subroutine MA_NONFINITE_COUNT V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0)
    return st_fail(status, e, kPosition);
  number = non_finite_pixels(array, xmaxdat, xstrelm, ystrelm, xendelm, yendelm).total();
}

void MA_SATURATED(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, float level, Index& number,
                  Status& status) {
  constexpr const char* kPosition = "Subroutine MA_SATURATED V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0)
    return st_fail(status, e, kPosition);
  Index count = 0;
  scan_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&](const float* r, Index n) {
    for (Index i = 0; i < n; ++i) count += r[i] >= level ? 1 : 0;
  });
  number = count;
}

void MA_STATISTICS(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float& maximum, float& minimum,
                   float& mean, float& total, float& rms, float& sigma, float& skewness,
                   float& further1, float& further2, float& further3, float& further4,
                   Index& left_out, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_STATISTICS V0.3";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0)
    return st_fail(status, e, kPosition);
  float hi = kBelowEveryValue;
  float lo = kAboveEveryValue;
  double s1 = 0.0;
  double s2 = 0.0;
  double s3 = 0.0;
  Index skipped = 0;
  // Each row runs first as if every value were finite; a value that is not
  // leaves the running sum NaN or infinite (finite floats cannot overflow it
  // in double), and only then is the row taken again from the sums before it,
  // each such value adding zero and being counted. The sums see the finite
  // values in the same order either way.
  scan_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, array, [&](const float* r, Index n) {
    const float hi0 = hi, lo0 = lo;
    const double s10 = s1, s20 = s2, s30 = s3;
    for (Index i = 0; i < n; ++i) {
      const double v = r[i];
      hi = r[i] > hi ? r[i] : hi;
      lo = r[i] < lo ? r[i] : lo;
      s1 += v;
      s2 += v * v;
      s3 += v * v * v;
    }
    if (std::isfinite(s1)) return;
    hi = hi0;
    lo = lo0;
    s1 = s10;
    s2 = s20;
    s3 = s30;
    for (Index i = 0; i < n; ++i) {
      const bool usable = counts(r[i]);
      const double v = usable ? r[i] : 0.0;
      hi = r[i] > hi && usable ? r[i] : hi;
      lo = r[i] < lo && usable ? r[i] : lo;
      s1 += v;
      s2 += v * v;
      s3 += v * v * v;
      skipped += usable ? 0 : 1;
    }
  });
  left_out = skipped;
  maximum = maximum_found(hi);
  minimum = minimum_found(lo);
  further1 = further2 = further3 = further4 = 0.0f;
  const double n = static_cast<double>(xendelm - xstrelm + 1) *
                       static_cast<double>(yendelm - ystrelm + 1) -
                   static_cast<double>(skipped);
  if (!(n > 0.0)) {
    mean = total = rms = sigma = skewness = 0.0f;
    return;
  }
  const double m = s1 / n;
  // Rounding on constant data can leave the sum of squares a hair below
  // n mean^2; a single element has no spread. Both give a sigma of 0.
  double variance = n > 1.0 ? (s2 - m * n * m) / (n - 1.0) : 0.0;
  if (!(variance > 0.0)) variance = 0.0;
  const double sd = std::sqrt(variance);
  mean = static_cast<float>(m);
  // A sum (or a spread) of finite values can pass the largest
  // single-precision value; it is then an infinity of its sign, never an
  // undefined conversion.
  const auto single = [](double v) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    if (std::fabs(v) <= static_cast<double>(std::numeric_limits<float>::max()))
      return static_cast<float>(v);
    return v < 0.0 ? -kInf : kInf;
  };
  total = single(s1);
  rms = single(std::sqrt(s2 / n));
  sigma = single(sd);
  skewness = sd >= 1.0e-30
                 ? static_cast<float>((s3 - 3.0 * m * s2 + 3.0 * m * m * s1 - m * m * m * n) /
                                      (n * sd * sd * sd))
                 : 0.0f;
}

void MA_SORT(Index /*maximum*/, Index n, std::span<float> values, std::span<float> companion,
             Status& status) {
  if (st_bad(status, "Subroutine MA_SORT V0.1")) return;
  const Index count =
      std::min({n, static_cast<Index>(values.size()), static_cast<Index>(companion.size())});
  for (Index i = 0; i + 1 < count; ++i) {
    // The first occurrence of the smallest remaining value.
    Index k = i;
    for (Index j = i + 1; j < count; ++j)
      if (values[j] < values[k]) k = j;
    if (k != i) {
      std::swap(values[i], values[k]);
      std::swap(companion[i], companion[k]);
    }
  }
}

float MA_GRAD(float x1, float y1, float x2, float y2) {
  if (std::fabs(x2 - x1) <= 1.0e-30f) {
    if (y2 > y1) return kVeryLarge;
    if (y2 < y1) return kVerySmall;
    return 0.0f;
  }
  return (y2 - y1) / (x2 - x1);
}

float MA_DIFFER(float x1, float y1, float x2, float y2, float x3, float y3) {
  const float d1 = std::hypot(x2 - x1, y2 - y1);
  const float d2 = std::hypot(x3 - x2, y3 - y2);
  if (d1 > 1.0e-30f && d2 > 1.0e-30f) {
    const float qx = x2 + (x3 - x2) * d1 / d2;
    const float qy = y2 + (y3 - y2) * d1 / d2;
    return MA_GRAD(x1, y1, qx, qy);
  }
  if (d1 > 1.0e-30f) return MA_GRAD(x1, y1, x2, y2);
  if (d2 > 1.0e-30f) return MA_GRAD(x2, y2, x3, y3);
  return 0.0f;
}

void MA_SLOPE(float x1, float y1, float x2, float y2, int& defined, float& slope, float& intercept,
              Status& status) {
  if (st_bad(status, "Subroutine  MA_SLOPE V0.2")) return;
  defined = 1;
  if (x1 == x2) {
    if (y1 == y2) {
      defined = 0;
      slope = kVeryLarge;
      intercept = kVeryLarge;
    } else {
      slope = y2 < y1 ? kVerySmall : kVeryLarge;
      intercept = x1;
    }
    return;
  }
  slope = (y2 - y1) / (x2 - x1);
  intercept = y1 - slope * x1;
}

int MA_EXDIGIT(int number, int n, Status& status) {
  constexpr const char* kPosition = "Function Ma_exdigit V0.2";
  if (st_bad(status, kPosition)) return -1;
  if (n < 1 || n > 10) {
    st_fail(status, kBaseMath + 17, kPosition);
    return -1;
  }
  // In 64 bits so that |INT_MIN| causes no overflow.
  long long value = number;
  for (int i = 1; i < n; ++i) value /= 10;
  if (value < 0) value = -value;
  return static_cast<int>(value % 10);
}

double MA_DMULTIPLIER(double value) {
  double magnitude = std::fabs(value);
  if (magnitude == 0.0 || !std::isfinite(magnitude)) return 1.0;
  double m = 1.0;
  while (magnitude / m >= 10.0) m *= 10.0;
  while (magnitude / m < 1.0) m /= 10.0;
  return m;
}

}  // namespace kesta
