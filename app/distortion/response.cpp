// Detector response corrections: the interactive polynomial fit, intensity
// linearisation, image-plate decay and uni-directional normalisation.

#include "app/distortion/response.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "formats/ascii_formats.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "numeric/chebyshev.hpp"
#include "numeric/statistics.hpp"

namespace kesta {

double PolynomialFit::value(float x) const {
  if (coefficients.empty()) return 0.0;
  // Clenshaw's recurrence on the range mapped onto -1..1, clamped at its ends.
  const double lo = x_min, hi = x_max;
  double t = hi > lo ? ((x - lo) - (hi - x)) / (hi - lo) : 0.0;
  t = std::clamp(t, -1.0, 1.0);
  if (std::isnan(static_cast<double>(x))) t = std::numeric_limits<double>::quiet_NaN();
  double b1 = 0.0, b2 = 0.0;
  for (int j = order; j >= 1; --j) {
    const double b0 = 2.0 * t * b1 - b2 + coefficients[static_cast<std::size_t>(j)];
    b2 = b1;
    b1 = b0;
  }
  return t * b1 - b2 + 0.5 * coefficients[0];
}

namespace {

// The points and the fit at four positions per interval, drawn as markers
// and a line.
void draw_fit(Index n, std::span<const float> x, std::span<const float> y,
              const PolynomialFit& fit, Status& status) {
  const Index m = 4 * (n - 1) + 1;
  // Curve 1 (the points) and curve 2 (the fit) each in a slot of N + M values.
  const Index slot = n + m;
  std::vector<float> xs(static_cast<std::size_t>(2 * slot)), ys(xs.size());
  float ymin = y[0], ymax = y[0];
  for (Index i = 0; i < n; ++i) {
    xs[i] = x[i];
    ys[i] = y[i];
    ymin = std::min(ymin, y[i]);
    ymax = std::max(ymax, y[i]);
  }
  for (Index i = 0; i < m; ++i) {
    const Index j = std::min(i / 4, n - 2);
    const float f = static_cast<float>(i - 4 * j) * 0.25f;
    xs[slot + i] = x[j] + f * (x[j + 1] - x[j]);
    ys[slot + i] = static_cast<float>(fit.value(xs[slot + i]));
  }
  bool a1 = false, a2 = false, a3 = false, a4 = false;
  float d1 = 0.0f, d2 = 0.0f, d3 = 0.0f, d4 = 0.0f;
  GS_INQ_AUTODDR(a1, a2, a3, a4, status);
  GS_INQ_DDR(d1, d2, d3, d4, status);
  float margin = (ymax - ymin) / 20.0f;
  if (!(margin > 0.0f)) margin = std::max(std::abs(ymax) * 0.05f, 1.0f);
  GS_SET_AUTODDR(true, false, true, false, status);
  GS_SET_DDR(x[0], ymin - margin, x[n - 1], ymax + margin, status);
  GS_SET_CURVESTYLE(1, false, true, false, status);
  GS_SET_CURVESTYLE(2, true, false, false, status);
  const Index starts[2] = {1, 1}, ends[2] = {n, m};
  GsCurves curves;
  curves.maxpts = slot;
  curves.maxcurves = 2;
  curves.numcurves = 2;
  curves.starts = starts;
  curves.ends = ends;
  curves.x = xs;
  curves.y = ys;
  GS_XYGRAPH(curves, "Polynomial Fit to Data", "X-axis", "Fitted Values", status);
  Status local = kStatusGood;
  GS_SET_AUTODDR(a1, a2, a3, a4, local);
  GS_SET_DDR(d1, d2, d3, d4, local);
}

}  // namespace

void KZT_POLYNOMIAL(bool graphics, int max_fits, Index max_points, Index n,
                    std::span<const float> x, std::span<const float> y, int max_order,
                    PolynomialFit& fit, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_POLYNOMIAL V0.7";
  if (st_bad(status, kPosition)) return;
  if (max_points < 1 || max_order < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (n > max_points || std::ssize(x) < n || std::ssize(y) < n)
    return st_fail(status, kBaseApp + 5, kPosition);
  if (n < 2) return st_fail(status, kBaseApp + 17, kPosition);
  Index orders = std::min<Index>(max_order + 1, n - 1);
  if (max_fits > 0 && max_fits < orders) orders = max_fits;
  const std::vector<float> weights(static_cast<std::size_t>(n), 1.0f);
  std::vector<float> table(static_cast<std::size_t>(orders * orders)),
      residuals(static_cast<std::size_t>(orders));
  std::vector<float> w1(static_cast<std::size_t>(n)), w2(w1.size()), w3(w1.size());
  std::vector<float> c1(static_cast<std::size_t>(orders)), c2(c1.size());
  float x_min = x[0], x_max = x[n - 1];
  int retstat = 0;
  MA_POLYNOMIAL(false, true, false, n, n, x.first(n), y.first(n), weights, orders, orders,
                static_cast<int>(orders - 1), n, orders, x_min, x_max, retstat, table, residuals,
                w1, w2, w3, c1, c2, status);
  if (status != kStatusGood) return;
  int best = 0;
  for (Index d = 0; d < orders; ++d) {
    if (d <= 30)
      IO_WRITE("Order = " + format_i(d, 3) + " residual = " + format_e(residuals[d], 12, 5, 1),
               status);
    if (residuals[d] < residuals[best]) best = static_cast<int>(d);
  }
  const auto chosen = [&](int order) {
    PolynomialFit f;
    f.x_min = x[0];
    f.x_max = x[n - 1];
    f.order = order;
    for (int c = 0; c <= order; ++c) f.coefficients.push_back(table[c * orders + order]);
    return f;
  };
  int order = best;
  IO_INPI(true, 0, static_cast<int>(orders - 1), true, "ORDER OF POLYNOMIAL",
          {"Enter order of polynomial for fitting scan"}, {"Value must be within given range"},
          order, status);
  if (status != kStatusGood) return;
  for (;;) {
    const PolynomialFit f = chosen(order);
    if (graphics) draw_fit(n, x, y, f, status);
    if (status != kStatusGood) return;
    bool accept = false;
    IO_INPL(false, false, true, true, "ACCEPT FIT (\"NO\" TO TRY ANOTHER ORDER)",
            {"Enter \"YES\" to accept this fit, \"NO\" to try another order of fit"},
            {"Enter YES or NO"}, accept, status);
    if (status != kStatusGood) return;
    if (accept) {
      fit = f;
      return;
    }
    IO_INPI(true, 0, static_cast<int>(orders - 1), true, "ORDER OF POLYNOMIAL",
            {"Enter order of polynomial for fitting scan"}, {"Value must be within given range"},
            order, status);
    if (status != kStatusGood) return;
  }
}

float kzt_linearise_value(const PolynomialFit& fit, float v) {
  const double l = std::log10(std::max(static_cast<double>(v), 1.0e-10));
  if (l < fit.x_min) {
    const double e = std::pow(10.0, static_cast<double>(fit.x_min));
    return static_cast<float>(v - e + fit.value(fit.x_min) * e);
  }
  if (l > fit.x_max) {
    const double e = std::pow(10.0, static_cast<double>(fit.x_max));
    return static_cast<float>(v - e + fit.value(fit.x_max) * e);
  }
  return static_cast<float>(fit.value(static_cast<float>(l)) * v);
}

void kzt_linearise_row(const PolynomialFit& fit, float* row, Index n, std::vector<double>& work) {
  work.resize(static_cast<std::size_t>(n));
  double* t = work.data();
  const double lo = fit.x_min, hi = fit.x_max;
  const double scale = hi > lo ? 2.0 / (hi - lo) : 0.0;
  const double centre = hi > lo ? (lo + hi) / 2.0 : lo;
  // The normalised variable of every pixel inside the range; a pixel outside
  // it is finished afterwards on its own.
  for (Index i = 0; i < n; ++i) {
    const double l = std::log10(std::max(static_cast<double>(row[i]), 1.0e-10));
    t[i] = (l - centre) * scale;
  }
  const int order = fit.order;
  const float* c = fit.coefficients.data();
  // Clenshaw's recurrence across the row: independent chains that vectorise.
  for (Index i = 0; i < n; ++i) {
    const double x = std::clamp(t[i], -1.0, 1.0);
    double b1 = 0.0, b2 = 0.0;
    for (int j = order; j >= 1; --j) {
      const double b0 = 2.0 * x * b1 - b2 + c[j];
      b2 = b1;
      b1 = b0;
    }
    const double ratio = x * b1 - b2 + 0.5 * c[0];
    const double v = row[i];
    if (t[i] >= -1.0 && t[i] <= 1.0) row[i] = static_cast<float>(ratio * v);
  }
  for (Index i = 0; i < n; ++i)
    if (!(t[i] >= -1.0 && t[i] <= 1.0) && !std::isnan(row[i]))
      row[i] = kzt_linearise_value(fit, row[i]);
}

namespace {

struct ResponseFiles {
  std::string linearise = "source.scan";
};

}  // namespace

void KZT_CLINEARISE(bool graphics, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                    Index xendelm, Index yendelm, std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CLINEARISE V0.3";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  for (const char* line :
       {"INFO: To linearise the data it is necessary to give the name of a file",
        "      which contains a table of raw (non-linear) intensities and the",
        "      corresponding linearised intensities. The raw intensities are the",
        "      X-coordinates and the linearised intensities the Y-coordinates.",
        "      The table is fitted as the ratio linear / raw against log10(raw)."})
    IO_WRITE(line, status);
  constexpr Index kMaxPairs = 500;
  std::vector<float> x(kMaxPairs), y(kMaxPairs);
  Index n = 0;
  std::string file = remembered<ResponseFiles>().linearise;
  FIO_IN_FREEFORMAT("Enter name of file containing non-linear and linear intensities values",
                    kMaxPairs, n, x, y, file, status);
  if (status != kStatusGood || n < 1) return;
  remembered<ResponseFiles>().linearise = file;
  MA_SORT(kMaxPairs, n, x, y, status);
  // A raw value that is not positive has no ratio to fit.
  Index kept = 0;
  for (Index i = 0; i < n; ++i) {
    if (!(x[i] > 0.0f) || !std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
    y[kept] = y[i] / x[i];
    x[kept] = std::log10(x[i]);
    ++kept;
  }
  if (kept < n)
    IO_WRITE("WARNING: " + std::to_string(n - kept) +
                 " pairs without a positive raw intensity are left out",
             status);
  PolynomialFit fit;
  KZT_POLYNOMIAL(graphics, 0, kMaxPairs, kept, x, y, 50, fit, status);
  if (status != kStatusGood || fit.coefficients.empty()) return;
  std::vector<double> work;
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index len) {
    kzt_linearise_row(fit, data.data() + offset, len, work);
  });
}

namespace {

struct DecayAnswers {
  bool full_control = false;
  bool scan_176 = true;
  DecayModel model;
  double scan_time = 120.0;
  int lines = 1482;
};

// One exponential's mean over the exposure from TS to TL; with no exposure
// its value at TS. A time constant of 0 leaves nothing after the start.
double decay_term(double t, double ts, double tl) {
  if (t <= 0.0) return ts > 0.0 ? 0.0 : (tl > ts ? 0.0 : 1.0);
  if (tl > ts) return t * (std::exp(-ts / t) - std::exp(-tl / t)) / (tl - ts);
  return std::exp(-ts / t);
}

}  // namespace

double kzt_decay_remaining(const DecayModel& m, Index y, Index ynumdat) {
  const double ts = m.elapsed + m.start_up + m.line_time * static_cast<double>(ynumdat - y);
  const double tl = ts + m.exposure;
  return m.p_fast * decay_term(m.t_fast, ts, tl) + (1.0 - m.p_fast) * decay_term(m.t_slow, ts, tl);
}

double kzt_decay_correct(const DecayModel& m, Index xmaxdat, Index ynumdat, Index xstrelm,
                         Index ystrelm, Index xendelm, Index yendelm, bool variances_exist,
                         std::span<float> data, std::span<float> variances) {
  const double reference = kzt_decay_remaining(m, yendelm, ynumdat);
  double factor = 1.0;
  for (Index y = yendelm; y >= ystrelm; --y) {
    factor = reference / kzt_decay_remaining(m, y, ynumdat);
    const auto f = static_cast<float>(factor);
    const auto f2 = static_cast<float>(factor * factor);
    const Index offset = element(xstrelm, y, xmaxdat);
    float* row = data.data() + offset;
    for (Index i = 0; i <= xendelm - xstrelm; ++i) row[i] *= f;
    if (variances_exist) {
      float* v = variances.data() + offset;
      for (Index i = 0; i <= xendelm - xstrelm; ++i) v[i] *= f2;
    }
  }
  return factor;
}

void KZT_DECAY(Index xmaxdat, Index ymaxdat, Index ynumdat, Index xstrelm, Index ystrelm,
               Index xendelm, Index yendelm, bool variances_exist, std::span<float> data,
               std::span<float> variances, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_DECAY V0.2";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (variances_exist && std::ssize(variances) < xmaxdat * ymaxdat)
    return st_fail(status, kBaseApp + 1, kPosition);
  DecayAnswers a = remembered<DecayAnswers>();
  DecayModel& m = a.model;
  IO_INPL(false, false, true, true, "FULL USER CONTROL",
          {"The default decay constants and scanner times suit a particular image",
           "plate and scanner. Enter \"YES\" to define other decay constants or",
           "scanner times."},
          {"Enter YES or NO"}, a.full_control, status);
  if (status != kStatusGood) return;
  const auto real = [&](float lower, float upper, std::string_view prompt, TextLines help,
                        double& value) {
    float v = static_cast<float>(std::clamp(value, static_cast<double>(lower),
                                            static_cast<double>(upper)));
    IO_INPR(true, lower, upper, true, prompt, help.view(),
            {"Must be a valid real number within the given range"}, v, status);
    if (status == kStatusGood) value = v;
  };
  if (!a.full_control) {
    IO_INPL(false, false, true, true, "176 MICRON SCAN (\"NO\" FOR 88 MICRON)",
            {"\"YES\" for a scan with 176 micron pixels, \"NO\" for 88 micron pixels"},
            {"Enter YES or NO"}, a.scan_176, status);
    m.line_time = a.scan_176 ? 0.1 : 0.2429;
  } else {
    for (const char* line :
         {"INFO: The decay of the signal is modelled by two exponentials:",
          "   F_t = P_fast * Exp(-t/T_fast)+ (1.0 - P_fast) * Exp(-t/T_slow)",
          "      F_t: fraction of signal remaining at time t",
          "      P_fast: proportion of fast decay",
          "      T_fast, T_slow: time constants of the fast and slow decays"})
      IO_WRITE(line, status);
    real(0.0f, 1.0f, "PROPORTION FAST DECAY", {"Enter proportion of the fast decay component"},
         m.p_fast);
    real(0.0f, 1.0e10f, "TIME CONSTANT OF FAST DECAY (SECONDS)",
         {"Enter time constant of the fast decay in seconds"}, m.t_fast);
    real(0.0f, 1.0e10f, "TIME CONSTANT OF SLOW DECAY (SECONDS)",
         {"Enter time constant of the slow decay in seconds"}, m.t_slow);
    if (status != kStatusGood) return;
    for (const char* line :
         {"INFO: The decay is averaged over the exposure, and each line of the",
          "      image is corrected for the time at which it was scanned (the",
          "      last row of the image is read first)."})
      IO_WRITE(line, status);
    real(0.0f, 1000.0f, "START-UP TIME (SECONDS)",
         {"Enter time from the start of the scan to the first line read"}, m.start_up);
    real(0.0f, 3600.0f, "IMAGE SCAN TIME (SECONDS)", {"Enter time taken to scan the image"},
         a.scan_time);
    IO_INPI(true, 1, 50000, true, "NUMBER OF SCANNED LINES",
            {"Enter number of lines scanned in the whole image"},
            {"Must be a valid integer within the given range"}, a.lines, status);
    m.line_time = a.scan_time / a.lines;
  }
  real(0.0f, 1.0e10f, "EXPOSURE LENGTH (SECONDS)", {"Enter length of the exposure in seconds"},
       m.exposure);
  real(0.0f, 1.0e10f, "ELAPSE TIME (FROM END OF EXPOSURE TO SCAN, SECONDS)",
       {"Enter time from the end of the exposure to the start of the scan"}, m.elapsed);
  if (status != kStatusGood) return;
  remembered<DecayAnswers>() = a;
  for (Index y = ystrelm; y <= yendelm; ++y)
    if (!(kzt_decay_remaining(m, y, ynumdat) > 0.0)) {
      IO_WRITE("WARNING: The decay model leaves no signal at read-out; the data are unchanged",
               status);
      return;
    }
  const double factor = kzt_decay_correct(m, xmaxdat, ynumdat, xstrelm, ystrelm, xendelm, yendelm,
                                          variances_exist, data, variances);
  IO_WRITE("INFO: Maximum correction factor = " + format_f(factor, 9, 5), status);
}

bool kzt_normalise(bool horizontal, Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, bool variances_exist, std::span<const float> data,
                   std::span<const std::uint8_t> mask, std::span<const float> variances,
                   std::span<float> mdata, std::span<float> mvariances, Status& status) {
  const Index lines = horizontal ? xendelm - xstrelm + 1 : yendelm - ystrelm + 1;
  std::vector<double> sums(static_cast<std::size_t>(lines), 0.0);
  std::vector<Index> counts(sums.size(), 0);
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index y, Index n) {
    for (Index i = 0; i < n; ++i) {
      // Masked and non-finite pixels do not count in the means.
      if ((!mask.empty() && mask[offset + i] != 0) || !std::isfinite(data[offset + i])) continue;
      const std::size_t k = static_cast<std::size_t>(horizontal ? i : y - ystrelm);
      sums[k] += data[offset + i];
      ++counts[k];
    }
  });
  std::vector<double> means(sums.size(), 0.0);
  double largest = -std::numeric_limits<double>::infinity();
  for (std::size_t k = 0; k < sums.size(); ++k) {
    means[k] = counts[k] > 0 ? sums[k] / static_cast<double>(counts[k]) : 0.0;
    largest = std::max(largest, means[k]);
  }
  if (!(largest != 0.0) || !std::isfinite(largest)) {
    IO_WRITE("WARNING: The largest mean is zero; no normalisation is possible", status);
    return false;
  }
  // Divisors: mean / largest; a line without unmasked pixels or of mean 0
  // keeps its values.
  std::vector<float> divisor(sums.size()), divisor2(sums.size());
  for (std::size_t k = 0; k < sums.size(); ++k) {
    const double f = counts[k] > 0 && means[k] != 0.0 ? means[k] / largest : 1.0;
    divisor[k] = static_cast<float>(f);
    divisor2[k] = static_cast<float>(f * f);
  }
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index y, Index n) {
    const float* d = data.data() + offset;
    float* out = mdata.data() + offset;
    if (horizontal) {
      for (Index i = 0; i < n; ++i) out[i] = d[i] / divisor[i];
    } else {
      const float f = divisor[y - ystrelm];
      for (Index i = 0; i < n; ++i) out[i] = d[i] / f;
    }
    if (!variances_exist) return;
    const float* v = variances.data() + offset;
    float* mv = mvariances.data() + offset;
    if (horizontal) {
      for (Index i = 0; i < n; ++i) mv[i] = v[i] / divisor2[i];
    } else {
      const float f2 = divisor2[y - ystrelm];
      for (Index i = 0; i < n; ++i) mv[i] = v[i] / f2;
    }
  });
  return true;
}

bool KZT_UNINORMALISE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, bool variances_exist, std::span<const float> data,
                      std::span<const std::uint8_t> mask, std::span<const float> variances,
                      Index max_work, std::span<float> mdata, std::span<float> mvariances,
                      Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_UNINORMALISE V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return false;
  const std::size_t whole = static_cast<std::size_t>(xmaxdat * ymaxdat);
  if ((!mask.empty() && mask.size() < whole) ||
      (variances_exist && (variances.size() < whole || mvariances.size() < whole))) {
    st_fail(status, kBaseApp + 1, kPosition);
    return false;
  }
  struct Answers {
    bool horizontal = true;
  };
  bool horizontal = remembered<Answers>().horizontal;
  IO_INPL(false, false, true, true, "HORIZONTAL NORMALISATION",
          {"\"YES\" if normalisation for horizontal direction, \"NO\" for vertical"},
          {"Enter YES or NO"}, horizontal, status);
  if (status != kStatusGood) return false;
  remembered<Answers>().horizontal = horizontal;
  if (max_work < (horizontal ? xendelm : yendelm)) {
    IO_WRITE("WARNING: Work arrays too small, operation not performed", status);
    return false;
  }
  return kzt_normalise(horizontal, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, variances_exist,
                       data, mask, variances, mdata, mvariances, status);
}

}  // namespace kesta
