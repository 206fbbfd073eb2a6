#include "app/imageops/statistics_commands.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "app/imageops/conventions.hpp"
#include "app/main/data_store.hpp"
#include "core/extremes.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/variables.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/polygon.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

// The mean of the last polygon, kept for the run.
double previous_polygon_mean = 0.0;

// A figure beyond single precision (a sum of huge values) has no value a
// variable can hold: the variable is removed rather than set to infinity.
void set_real(std::string_view name, double value, Status& status) {
  int retstat = 0;
  if (!(std::fabs(value) <= static_cast<double>(std::numeric_limits<float>::max()))) {
    IO_UNSET_VARIABLE(name, retstat, status);
    return;
  }
  IO_SET_VARIABLE(name, 'r', 0, false, static_cast<float>(value), 0, "", retstat, status);
}

// The figures of a region without a finite value: none. Their variables are
// removed, so that a macro naming one gets no other region's figure or an
// invented one, but an answer that is not a number.
constexpr const char* kRegionFigures[] = {"##MINIMUM", "##MAXIMUM", "##MEAN", "##RMS",
                                          "##SIGMA",   "##SKEWNESS", "##TOTAL"};
void remove_figures(std::span<const char* const> names, Status& status) {
  for (const char* name : names) {
    int retstat = 0;  // 1: not defined, which is what is wanted
    IO_UNSET_VARIABLE(name, retstat, status);
  }
}

// The one line saying how many values (NOUN, singular, then WHERE) took no
// part in the figures.
void write80(std::string line, Status& status) {
  if (line.size() > 80) line.resize(80);
  IO_WRITE(line, status);
}

}  // namespace

void KZT_STATISTICS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                    std::span<const float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_STATISTICS V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (std::ssize(xaxis) < xendelm || std::ssize(yaxis) < yendelm)
    return st_fail(status, kBaseApp + 1, kPosition);
  float maximum = 0.0f, minimum = 0.0f, mean = 0.0f, total = 0.0f, rms = 0.0f, sigma = 0.0f,
        skewness = 0.0f, unused1 = 0.0f, unused2 = 0.0f, unused3 = 0.0f, unused4 = 0.0f;
  Index left_out = 0;
  MA_STATISTICS(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, maximum, minimum, mean,
                total, rms, sigma, skewness, unused1, unused2, unused3, unused4, left_out, status);
  if (status != kStatusGood) return;
  const Index nx = xendelm - xstrelm + 1;
  const Index ny = yendelm - ystrelm + 1;
  write80("INFO: Statistics of Active Data Region (ADR):", status);
  write80("INFO:  Data Coordinate limits: Min ( " + format_g(xaxis[xstrelm - 1], 10, 2, 1) + " , " +
              format_g(yaxis[ystrelm - 1], 10, 2, 1) + ")",
          status);
  write80("INFO:  Data Coordinate limits: Max ( " + format_g(xaxis[xendelm - 1], 10, 2, 1) + " , " +
              format_g(yaxis[yendelm - 1], 10, 2, 1) + ")",
          status);
  write80("INFO:  Pixel number limits: Min ( " + format_i(xstrelm, 5) + " , " +
              format_i(ystrelm, 5) + ") Max (" + format_i(xendelm, 5) + " , " +
              format_i(yendelm, 5) + ")",
          status);
  write80("INFO:  Total number of data values = " + format_i(nx, 6) + " * " + format_i(ny, 6) +
              " = " + format_i(nx * ny, 10),
          status);
  if (left_out > 0) write80("INFO:  " + kzt_left_out_line(left_out, "value"), status);
  if (left_out == nx * ny) {
    // Nothing to measure: the sums are of nothing and no extreme was found.
    write80("INFO:  The region holds no finite data value", status);
    remove_figures(kRegionFigures, status);
    return;
  }
  // Every value summed is finite: a figure that is not (a sum, a spread)
  // lies beyond what the figures can hold, which must not read as an
  // infinite pixel.
  const struct {
    const char* name;
    float value;
  } figures[] = {{"Minimum data value", minimum},
                 {"Maximum data value", maximum},
                 {"Average (mean) data value", mean},
                 {"Sum of data values", total},
                 {"Root mean square (RMS) value", rms},
                 {"Standard deviation value", sigma},
                 {"Skewness parameter", skewness}};
  for (const auto& f : figures)
    write80(std::string("INFO:  ") + f.name +
                (std::isfinite(f.value) ? " = " + format_g(f.value, 12, 5)
                 : f.value > 0.0f       ? " lies above 3.4E+38, beyond the output's range"
                                        : " lies below -3.4E+38, beyond the output's range"),
            status);
  set_real("##MINIMUM", minimum, status);
  set_real("##MAXIMUM", maximum, status);
  set_real("##MEAN", mean, status);
  set_real("##RMS", rms, status);
  set_real("##SIGMA", sigma, status);
  set_real("##SKEWNESS", skewness, status);
  set_real("##TOTAL", total, status);
}

void kzt_polygon_statistics(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                            Index xendelm, Index yendelm, std::span<const float> xaxis,
                            std::span<const float> yaxis, std::span<const float> data,
                            std::span<const float> x, std::span<const float> y,
                            std::vector<std::string>& lines, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_GSTATISTICS V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (std::ssize(xaxis) < xendelm || std::ssize(yaxis) < yendelm)
    return st_fail(status, kBaseApp + 1, kPosition);
  lines.clear();
  const std::size_t given = std::min(x.size(), y.size());
  if (given < 2) return;
  // Two points are opposite corners of a rectangle.
  std::vector<float> vx(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(given));
  std::vector<float> vy(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(given));
  if (given == 2) {
    const float x0 = std::min(vx[0], vx[1]), x1 = std::max(vx[0], vx[1]);
    const float y0 = std::min(vy[0], vy[1]), y1 = std::max(vy[0], vy[1]);
    vx = {x0, x0, x1, x1};
    vy = {y0, y1, y1, y0};
  }
  const auto [xmin_it, xmax_it] = std::minmax_element(vx.begin(), vx.end());
  const auto [ymin_it, ymax_it] = std::minmax_element(vy.begin(), vy.end());
  const float xmin = *xmin_it, xmax = *xmax_it, ymin = *ymin_it, ymax = *ymax_it;
  vx.push_back(vx.front());  // closed
  vy.push_back(vy.front());
  const Index n_vertices = std::ssize(vx);

  // The polygon test's work arrays, of the sizes its callers pass.
  constexpr Index kWork = 800;
  constexpr Index kLinks = 200;
  std::vector<float> w(kWork);
  std::vector<std::int16_t> lnd(2 * kLinks);
  MA_GA05A(n_vertices, 1, w, kWork, lnd, kLinks, vx, vy, {}, {}, {});

  double sum = 0.0, sum2 = 0.0;
  float minimum = kAboveEveryValue, maximum = kBelowEveryValue;
  Index n = 0;  // the finite values inside, which the figures are of
  Index inside = 0;
  for (Index j = ystrelm; j <= yendelm; ++j) {
    const float yc = yaxis[j - 1];
    if (yc < ymin || yc > ymax) continue;
    for (Index i = xstrelm; i <= xendelm; ++i) {
      const float xc = xaxis[i - 1];
      if (xc < xmin || xc > xmax) continue;
      float r = -1.0f;
      MA_GA05B(xc, yc, r, n_vertices, 1, w, kWork, lnd, kLinks, vx, vy, {}, {}, {});
      if (r < 0.0f) continue;
      const float value = data[element(i, j, xmaxdat)];
      ++inside;
      if (!std::isfinite(value)) continue;
      const double v = value;
      ++n;
      sum += v;
      sum2 += v * v;
      minimum = std::min(minimum, static_cast<float>(v));
      maximum = std::max(maximum, static_cast<float>(v));
    }
  }
  const double mean = n > 0 ? sum / static_cast<double>(n) : 0.0;
  const double rms = n > 0 ? std::sqrt(sum2 / static_cast<double>(n)) : 0.0;
  const double variance =
      n > 1 ? (sum2 - static_cast<double>(n) * mean * mean) / static_cast<double>(n - 1) : 0.0;
  const double sd = std::sqrt(std::max(variance, 0.0));
  const double gain = mean != 0.0 ? sd * sd / mean : 0.0;
  const double minus_back = sum - static_cast<double>(n) * previous_polygon_mean;

  lines.push_back("INFO: Extremes of polygon (X/Y min, X/Y max) = " + format_f(xmin, 10, 2) +
                  format_f(ymin, 10, 2) + format_f(xmax, 10, 2) + format_f(ymax, 10, 2));
  lines.push_back("      Number of pixels inside polygon = " + format_i(inside, 8));
  if (inside > n) lines.push_back("      " + kzt_left_out_line(inside - n, "pixel", " inside"));
  if (inside > 0 && n == 0) lines.push_back("      No finite value inside the polygon");
  if (n > 1) {
    auto g = [](double v) { return format_g(v, 12, 5, 1); };
    lines.push_back("      Smallest value = " + g(minimum) + " Largest value = " + g(maximum));
    lines.push_back("      Total intensity = " + g(sum) +
                    " (square root = " + g(std::sqrt(std::fabs(sum))) + ")");
    lines.push_back("      Average intensity = " + g(mean));
    lines.push_back("      Root Mean Square (RMS) value = " + g(rms));
    lines.push_back("      Standard Deviation = " + g(sd) + " Gain (?) = " + g(gain));
    lines.push_back("      Integrated intensity minus previous average = " + g(minus_back));
    lines.push_back("      Square root of above = " + g(std::sqrt(std::fabs(minus_back))));
  }
  // The lines are kept whole: the extremes line needs 87 characters for its
  // four fields, and cutting it at 80 lost the largest Y.
  if (n == 0) {
    // No figure, nor an average to be the next polygon's background.
    remove_figures(kRegionFigures, status);
    remove_figures(std::array{"##INTEG_MINUS_BACK"}, status);
    return;
  }
  set_real("##MINIMUM", minimum, status);
  set_real("##MAXIMUM", maximum, status);
  set_real("##MEAN", mean, status);
  set_real("##RMS", rms, status);
  set_real("##SIGMA", sd, status);
  set_real("##TOTAL", sum, status);
  set_real("##INTEG_MINUS_BACK", minus_back, status);
  previous_polygon_mean = mean;
}

void KZT_GSTATISTICS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                     Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                     std::span<const float> data, std::string_view title,
                     std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                     Status& status) {
  if (st_bad(status, "Subroutine KZT_GSTATISTICS V0.1")) return;
  float mx1 = 0.0f, my1 = 0.0f, mx2 = 0.0f, my2 = 0.0f;
  GS_INQ_MESSAGE(mx1, my1, mx2, my2, status);
  const GsDisplayedImage image =
      kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, {}, xaxis,
                          yaxis, title, xlabel, ylabel, zlabel);
  constexpr int kMaxPoints = 199;
  std::vector<float> x(kMaxPoints), y(kMaxPoints);
  int num = 0;
  GS_INPS_FCOORDINATES(false, image, "ENTER COORDINATES TO DEFINE POLYGON REGION", 3,
                       {"Click on points to define an arbitrary polygon",
                        "region, in which various statistics will be", "calculated."},
                       true, kMaxPoints, num, x, y, status);
  if (status == kStatusEscape) st_reset(status);
  if (status != kStatusGood || num < 2) return;
  x.resize(static_cast<std::size_t>(num));
  y.resize(static_cast<std::size_t>(num));

  // The outline as the statistics see it: two points are opposite corners.
  std::vector<float> ox = x, oy = y;
  if (num == 2) {
    const float x0 = std::min(x[0], x[1]), x1 = std::max(x[0], x[1]);
    const float y0 = std::min(y[0], y[1]), y1 = std::max(y[0], y[1]);
    ox = {x0, x0, x1, x1};
    oy = {y0, y1, y1, y0};
  }
  ox.push_back(ox.front());
  oy.push_back(oy.front());
  GS_LINESTYLE(1, 1.0f, 3, status);
  for (std::size_t k = 1; k < ox.size(); ++k) GS_LINE(ox[k - 1], oy[k - 1], ox[k], oy[k], status);
  GS_FPROMPT(1, 1, {"PLEASE WAIT: CALCULATING POLYGON STATISTICS"}, status);

  std::vector<std::string> lines;
  kzt_polygon_statistics(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis,
                         data, x, y, lines, status);
  if (status != kStatusGood) return;
  for (const std::string& line : lines) IO_WRITE(line, status);
  // A lower message box leaves the polygon in view.
  GS_SET_MESSAGE(mx1, my1, mx2, std::max(std::min(my2, 0.3f), my1 + 0.1f), status);
  const int count = static_cast<int>(lines.size());
  GS_MESSAGE(count, count, lines, status);
  Status restore = kStatusGood;
  GS_SET_MESSAGE(mx1, my1, mx2, my2, restore);
}

void kzt_forget_polygon_mean() { previous_polygon_mean = 0.0; }

void kzt_command_statistics(KztDataSets&, std::string&, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  KZT_STATISTICS(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                 kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), status);
}

}  // namespace kesta
