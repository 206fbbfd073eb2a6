#include "numeric/profiles1d.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/status.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

const std::array<float, 251>& gaussian_table() {
  static const std::array<float, 251> table = [] {
    std::array<float, 251> t{};
    for (int i = 0; i <= 250; ++i) {
      const float x = static_cast<float>(i) / 50.0f;
      t[static_cast<std::size_t>(i)] = std::exp(-x * x / 2.0f);
    }
    return t;
  }();
  return table;
}

const std::array<float, 751>& lorentzian_table() {
  static const std::array<float, 751> table = [] {
    std::array<float, 751> t{};
    for (int i = 0; i <= 750; ++i) {
      t[static_cast<std::size_t>(i)] = 2500.0f / static_cast<float>(i * i + 2500);
    }
    return t;
  }();
  return table;
}

// Table value at F = 50 x distance (F below the table's last index): nearest
// entry (mode 0) or linear interpolation (mode 1).
template <std::size_t N>
float table_value(const std::array<float, N>& table, float f, int mode) {
  if (mode == 0) {
    const auto i = static_cast<std::size_t>(std::lround(f));
    return table[std::min(i, N - 1)];
  }
  const auto i = std::min(static_cast<std::size_t>(f), N - 2);
  const float frac = f - static_cast<float>(i);
  return frac * table[i + 1] + (1.0f - frac) * table[i];
}

// Channel range check shared by the family (a start below 1 is refused too),
// and an array of SIZE elements too short for its declared XMAXDAT.
bool range_ok(Index xmaxdat, Index xstrelm, Index xendelm, std::size_t size, Status& status,
              const char* position) {
  const Status code = region_span_error(xmaxdat, 1, xstrelm, 1, xendelm, 1, size);
  if (code == 0) return true;
  st_fail(status, code, position);
  return false;
}

// Integer part of V, kept inside the range of channel numbers.
Index channel_of(double v) {
  if (!(v > -1.0e15)) return -1000000000000000LL;
  if (v > 1.0e15) return 1000000000000000LL;
  return static_cast<Index>(v);
}

constexpr double kSqrt2 = 1.4142135623730951;

}  // namespace

float MA_GAUSSIAN(float x, int mode, Status& status) {
  constexpr const char* kPosition = "Function Ma_gaussian V0.2";
  if (st_bad(status, kPosition)) return -1.0f;
  if (!(x >= 0.0f)) {
    st_fail(status, kBaseMath + 21, kPosition);
    return -1.0f;
  }
  if (mode != 0 && mode != 1 && mode != 2 && mode != 9) {
    st_fail(status, kBaseMath + 17, kPosition);
    return -1.0f;
  }
  return gaussian_value(x, mode);
}

float gaussian_value(float x, int mode) {
  if (mode == 2 || mode == 9) return std::exp(-x * x * 0.5f);
  if (!(x < 5.0f)) return 0.0f;  // beyond the table, or not a number
  return table_value(gaussian_table(), 50.0f * x, mode);
}

void MA_WERF(double x, double y, double& re, double& im) {
  // Gautschi's algorithm with its single-precision constants widened.
  const double ax = std::fabs(x), ay = std::fabs(y);
  double h = 0.0;
  int capn = 0;
  int nu = 8;
  if (ay < double(4.29f) && ax < double(5.33f)) {
    const double s = (1.0 - ay / double(4.29f)) * std::sqrt(1.0 - ax * ax / double(28.41f));
    h = double(1.6f) * s;
    capn = 6 + static_cast<int>(23.0 * s);
    nu = 9 + static_cast<int>(21.0 * s);
  }
  const double h2 = 2.0 * h;
  double lambda = h > 0.0 ? std::pow(h2, capn) : 0.0;
  const bool fraction_only = h == 0.0 || lambda == 0.0;
  double r1 = 0, r2 = 0, s1 = 0, s2 = 0;
  for (int n = nu; n >= 0; --n) {
    const double np1 = n + 1;
    const double t1 = ay + h + np1 * r1;
    const double t2 = ax - np1 * r2;
    const double c = 0.5 / (t1 * t1 + t2 * t2);
    r1 = c * t1;
    r2 = c * t2;
    if (h > 0.0 && n <= capn) {
      const double u = lambda + s1;
      s1 = r1 * u - r2 * s2;
      s2 = r2 * u + r1 * s2;
      lambda /= h2;
    }
  }
  constexpr double kTwoOverRootPi = double(1.1283792f);
  re = ay == 0.0 ? std::exp(-ax * ax) : kTwoOverRootPi * (fraction_only ? r1 : s1);
  im = kTwoOverRootPi * (fraction_only ? r2 : s2);
  if (x < 0.0) im = -im;
}

void MA_1DGAUSSIAN(Index xmaxdat, Index xstrelm, Index xendelm, float height, float centre,
                   float width, float cutoff, int mode, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_1DGAUSSIAN V0.1";
  if (st_bad(status, kPosition)) return;
  if (!range_ok(xmaxdat, xstrelm, xendelm, array.size(), status, kPosition)) return;
  if (!(width > 0.0f) || !(cutoff > 0.0f)) return st_fail(status, kBaseMath + 21, kPosition);
  if (mode != 0 && mode != 1 && mode != 9) return st_fail(status, kBaseMath + 17, kPosition);
  const float reach = cutoff * width;
  const Index lo = std::max(xstrelm, channel_of(double(centre - reach)));
  const Index hi = std::min(xendelm, channel_of(double(centre + reach)) + 1);
  for (Index x = lo; x <= hi; ++x) {
    const float d = std::fabs(static_cast<float>(x) - 0.5f - centre) / width;
    array[x - 1] += height * gaussian_value(d, mode);
  }
}

void MA_1DLORENTZIAN(Index xmaxdat, Index xstrelm, Index xendelm, float height, float centre,
                     float hwhm, int mode, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_1DLORENTZIAN V0.1";
  if (st_bad(status, kPosition)) return;
  if (!range_ok(xmaxdat, xstrelm, xendelm, array.size(), status, kPosition)) return;
  if (!(hwhm > 0.0f)) return st_fail(status, kBaseMath + 21, kPosition);
  if (mode != 0 && mode != 1 && mode != 9) return st_fail(status, kBaseMath + 17, kPosition);
  if (mode == 9) {
    const float w2 = hwhm * hwhm;
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const float d = static_cast<float>(x) - 0.5f - centre;
      array[x - 1] += height * w2 / (d * d + w2);
    }
    return;
  }
  const auto& table = lorentzian_table();
  for (Index x = xstrelm; x <= xendelm; ++x) {
    const float d = std::fabs(static_cast<float>(x) - 0.5f - centre) / hwhm;
    if (d < 15.0f) array[x - 1] += height * table_value(table, 50.0f * d, mode);
  }
}

void MA_1DVOIGTIAN(Index xmaxdat, Index xstrelm, Index xendelm, float height, float centre,
                   float sigma, float gamma, int /*unused*/, std::span<float> array,
                   Status& status) {
  constexpr const char* kPosition = "Subroutine MA_1DVOIGTIAN V0.1";
  if (st_bad(status, kPosition)) return;
  if (!range_ok(xmaxdat, xstrelm, xendelm, array.size(), status, kPosition)) return;
  if (!(sigma >= 0.0f) || !(gamma >= 0.0f)) return st_fail(status, kBaseMath + 21, kPosition);
  if (sigma < 1.0e-10f) {
    // The Lorentzian limit keeps its full tails, as the Voigt just above it
    // does: a table Lorentzian cut off at 15 half widths would make the model
    // jump as a fit drives the Gaussian width to 0.
    MA_1DLORENTZIAN(xmaxdat, xstrelm, xendelm, height, centre, gamma, 9, array, status);
    return;
  }
  if (gamma < 1.0e-10f) {
    MA_1DGAUSSIAN(xmaxdat, xstrelm, xendelm, height, centre, sigma, 5.0f, 1, array, status);
    return;
  }
  const double scale = kSqrt2 * double(sigma);
  const double y = double(gamma) / scale;
  double p0 = 0, im = 0;
  MA_WERF(0.0, y, p0, im);
  const double factor = double(height) / p0;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    double re = 0;
    MA_WERF((double(x) - 0.5 - double(centre)) / scale, y, re, im);
    array[x - 1] += static_cast<float>(factor * re);
  }
}

void MA_1DEXPDECAY(Index xmaxdat, Index xstrelm, Index xendelm, float amplitude, float start,
                   float half_life, int /*unused*/, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_1DEXPDECAY V0.1";
  if (st_bad(status, kPosition)) return;
  if (!range_ok(xmaxdat, xstrelm, xendelm, array.size(), status, kPosition)) return;
  if (!(half_life > 0.0f)) return st_fail(status, kBaseMath + 21, kPosition);
  const float rate = std::log(2.0f) / half_life;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    array[x - 1] += amplitude * std::exp(-(static_cast<float>(x) - 0.5f - start) * rate);
  }
}

void MA_1DSINUSOIDAL(Index xmaxdat, Index xstrelm, Index xendelm, float amplitude, float phase,
                     float period, int /*unused*/, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_1DSINUSOIDAL V0.1";
  if (st_bad(status, kPosition)) return;
  if (!range_ok(xmaxdat, xstrelm, xendelm, array.size(), status, kPosition)) return;
  if (!(period > 0.0f)) return st_fail(status, kBaseMath + 21, kPosition);
  const float k = 2.0f * 3.1415925f / period;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    array[x - 1] += amplitude * std::cos((static_cast<float>(x) - 0.5f - phase) * k);
  }
}

void MA_1DINTERCORR(Index xmaxdat, Index xstrelm, Index xendelm, float a, float b, float v,
                    std::span<const float> axis, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_1DINTERCORR V0.1";
  if (st_bad(status, kPosition)) return;
  if (!range_ok(xmaxdat, xstrelm, xendelm, std::min(array.size(), axis.size()), status, kPosition))
    return;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    array[x - 1] *= 1.0f + (v - 1.0f) * (axis[x - 1] - a) / (b - a);
  }
}

}  // namespace kesta
