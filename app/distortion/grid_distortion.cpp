// The grid as the detector sees it (average and RMS pixel sizes, rotation of
// rows and columns), the distortion of every grid hole from an ideal grid,
// and the displays, memory copies and inversion of the distortions.

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "app/distortion/grid_peaks.hpp"
#include "app/imageops/conventions.hpp"
#include "core/ask_again.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "numeric/splines.hpp"

namespace kesta {
namespace {

constexpr double kDegrees = 180.0 / 3.1415925;

// Sums of a sample: count, sum, sum of squares.
struct Sample {
  Index n = 0;
  double sum = 0.0, squares = 0.0;
  void add(double v) {
    ++n;
    sum += v;
    squares += v * v;
  }
  Sample& operator+=(const Sample& o) {
    n += o.n;
    sum += o.sum;
    squares += o.squares;
    return *this;
  }
  double mean() const { return n > 0 ? sum / static_cast<double>(n) : 0.0; }
  // Standard deviation; 0 when rounding makes the variance negative.
  double spread() const {
    if (n < 2) return 0.0;
    const double m = mean();
    const double v = (squares - static_cast<double>(n) * m * m) / static_cast<double>(n - 1);
    return v > 0.0 ? std::sqrt(v) : 0.0;
  }
};

// First and last present peak of a line of LENGTH positions: position 1 or
// 2, LENGTH or LENGTH - 1; false unless both exist with first < last.
template <typename Present>
bool line_ends(Index length, Present present, Index& first, Index& last) {
  first = present(1) ? 1 : (length >= 2 && present(2)) ? 2 : 0;
  last = present(length) ? length : (length >= 2 && present(length - 1)) ? length - 1 : 0;
  return first > 0 && last > 0 && first < last;
}

// What the grid's lines and adjacent pairs measure. A row's step and a
// column's step each have a part along X and one along Y: on a grid turned
// by an angle, a line's whole length mixes the X and Y pixel sizes, which is
// no size at all where the pixels are not square. The X spacing is the
// length of the X parts of a row step and a column step together (the grid
// is square), the Y spacing likewise; on a grid that is not turned they are
// the rows' and the columns' lengths.
struct Stats {
  Sample rows, columns;  // each row's X spacing, each column's Y spacing
  Sample lines;          // each row's and column's whole length a step
  Sample row_angles, column_angles;
  // Adjacent pairs: the count and the sums of the squared X and Y parts.
  Sample horizontal_x, horizontal_y, vertical_x, vertical_y;
};

// A line's step vector from its first to its last present peak.
struct Step {
  double x, y;
};

void spacings(const GridPeaks& p, Stats& s) {
  const auto pos = [&](Index i, Index j) {
    const Index k = p.at(i, j);
    return std::pair<double, double>{p.x[k], p.y[k]};
  };
  std::vector<Step> row_steps, column_steps;
  for (Index j = 1; j <= p.ynum; ++j) {
    Index f = 0, l = 0;
    if (!line_ends(p.xnum, [&](Index i) { return p.present(i, j); }, f, l)) continue;
    const auto [xf, yf] = pos(f, j);
    const auto [xl, yl] = pos(l, j);
    const double n = static_cast<double>(l - f);
    row_steps.push_back({(xl - xf) / n, (yl - yf) / n});
  }
  for (Index i = 1; i <= p.xnum; ++i) {
    Index f = 0, l = 0;
    if (!line_ends(p.ynum, [&](Index j) { return p.present(i, j); }, f, l)) continue;
    const auto [xf, yf] = pos(i, f);
    const auto [xl, yl] = pos(i, l);
    const double n = static_cast<double>(l - f);
    column_steps.push_back({(xl - xf) / n, (yl - yf) / n});
  }
  const auto mean_step = [](const std::vector<Step>& steps) {
    Step m{0.0, 0.0};
    for (const Step& t : steps) {
      m.x += t.x / static_cast<double>(steps.size());
      m.y += t.y / static_cast<double>(steps.size());
    }
    return m;
  };
  // Without lines of the other kind, a line's length is all that is known.
  const bool both = !row_steps.empty() && !column_steps.empty();
  const Step row = mean_step(row_steps), column = mean_step(column_steps);
  for (const Step& t : row_steps) {
    s.rows.add(both ? std::hypot(t.x, column.x) : std::hypot(t.x, t.y));
    s.lines.add(std::hypot(t.x, t.y));
  }
  for (const Step& t : column_steps) {
    s.columns.add(both ? std::hypot(row.y, t.y) : std::hypot(t.x, t.y));
    s.lines.add(std::hypot(t.x, t.y));
  }
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      if (!p.present(i, j)) continue;
      const auto [x, y] = pos(i, j);
      if (i < p.xnum && p.present(i + 1, j)) {
        const auto [x2, y2] = pos(i + 1, j);
        s.horizontal_x.add(x2 - x);
        s.horizontal_y.add(y2 - y);
      }
      if (j < p.ynum && p.present(i, j + 1)) {
        const auto [x2, y2] = pos(i, j + 1);
        s.vertical_x.add(x2 - x);
        s.vertical_y.add(y2 - y);
      }
    }
}

// The RMS spacings along X and Y from the adjacent pairs (0.0 where none
// can be measured); without pairs of the other kind a pair's whole length.
std::pair<double, double> rms_spacings(const Stats& s) {
  const auto mean_square = [](const Sample& v) {
    return v.n > 0 ? v.squares / static_cast<double>(v.n) : 0.0;
  };
  const double hx = mean_square(s.horizontal_x), hy = mean_square(s.horizontal_y);
  const double vx = mean_square(s.vertical_x), vy = mean_square(s.vertical_y);
  const bool horizontal = s.horizontal_x.n > 0, vertical = s.vertical_x.n > 0;
  if (horizontal && vertical) return {std::sqrt(hx + vx), std::sqrt(hy + vy)};
  return {horizontal ? std::sqrt(hx + hy) : 0.0, vertical ? std::sqrt(vx + vy) : 0.0};
}

void rotations(const GridPeaks& p, double xps, double yps, Stats& s) {
  for (Index j = 1; j <= p.ynum; ++j) {
    Index f = 0, l = 0;
    if (!line_ends(p.xnum, [&](Index i) { return p.present(i, j); }, f, l)) continue;
    const Index kf = p.at(f, j), kl = p.at(l, j);
    s.row_angles.add(std::atan2((static_cast<double>(p.y[kl]) - p.y[kf]) * yps,
                                (static_cast<double>(p.x[kl]) - p.x[kf]) * xps));
  }
  for (Index i = 1; i <= p.xnum; ++i) {
    Index f = 0, l = 0;
    if (!line_ends(p.ynum, [&](Index j) { return p.present(i, j); }, f, l)) continue;
    const Index kf = p.at(i, f), kl = p.at(i, l);
    s.column_angles.add(std::atan2((static_cast<double>(p.x[kf]) - p.x[kl]) * xps,
                                   (static_cast<double>(p.y[kl]) - p.y[kf]) * yps));
  }
}

// A pixel size from an average spacing M (pixels); the spread alongside.
void size_line(std::string_view text, const Sample& s, float grid_spacing, float& size,
               Status& status) {
  if (s.n == 0 || !(s.mean() > 0.0)) {
    IO_WRITE("WARNING: No " + std::string(text) +
                 " spacing can be measured; the pixel size is left as it was",
             status);
    return;
  }
  const double m = s.mean();
  const double value = 1.0e-6 * grid_spacing / m;
  const double spread = s.n >= 2 ? s.spread() * value / m : value;
  size = static_cast<float>(value);
  IO_WRITE("INFO: Average pixel size in " + std::string(text) + " = " +
               format_f(value * 1.0e6, 12, 4) + " +- " + format_f(spread * 1.0e6, 10, 4) +
               " microns",
           status);
}

std::string angle_pair(const Sample& s) {
  const double spread = s.n >= 2 ? s.spread() : s.mean();
  return format_f(s.mean() * kDegrees, 12, 6) + " +- " + format_f(spread * kDegrees, 10, 4);
}

// The ideal grid's questions, then the distortions.
struct IdealAnswers {
  bool x_display = true;
  bool x_store = true;
  bool x_residuals = true;
};

}  // namespace

void kzt_ideal_distortions(GridPeaks& p, float grid_spacing, float x_pixel_size,
                           float y_pixel_size, double theta, Index i0, Index j0) {
  const Index k0 = p.at(i0, j0);
  const double x0 = p.x[k0], y0 = p.y[k0];
  const double sx = grid_spacing / (static_cast<double>(x_pixel_size) * 1.0e6);
  const double sy = grid_spacing / (static_cast<double>(y_pixel_size) * 1.0e6);
  const double c = std::cos(theta), s = std::sin(theta);
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      const Index k = p.at(i, j);
      if (!p.present(i, j)) {
        p.x_distortion[k] = p.y_distortion[k] = 0.0f;
        continue;
      }
      const double di = static_cast<double>(i - i0), dj = static_cast<double>(j - j0);
      p.x_distortion[k] = static_cast<float>(x0 + (c * di - s * dj) * sx - p.x[k]);
      p.y_distortion[k] = static_cast<float>(y0 + (c * dj + s * di) * sy - p.y[k]);
    }
}

GridSpacings kzt_grid_spacings(const GridPeaks& p) {
  GridSpacings g;
  if (p.xnum < 1 || p.ynum < 1 || p.xnum > p.xmax || p.ynum > p.ymax) return g;
  Stats s;
  spacings(p, s);
  g.x_average = s.rows.mean();
  g.y_average = s.columns.mean();
  std::tie(g.x_rms, g.y_rms) = rms_spacings(s);
  return g;
}

void KZT_2DDISTORTION(GridPeaks& p, float grid_spacing, float& x_pixel_size, float& y_pixel_size,
                      Status& status) {
  if (st_bad(status, "Subroutine KZT_2DDISTORTION V0.10")) return;
  if (p.xnum < 1 || p.ynum < 1 || p.xnum > p.xmax || p.ynum > p.ymax)
    return st_fail(status, kBaseApp + 1, "Subroutine KZT_2DDISTORTION V0.10");
  Stats s;
  spacings(p, s);
  float xps = x_pixel_size, yps = y_pixel_size;
  size_line("X-direction", s.rows, grid_spacing, xps, status);
  size_line("Y-direction", s.columns, grid_spacing, yps, status);
  const Sample& both = s.lines;
  float overall = xps;
  if (both.n > 0 && both.mean() > 0.0) {
    const double value = 1.0e-6 * grid_spacing / both.mean();
    const double spread = both.n >= 2 ? both.spread() * value / both.mean() : value;
    overall = static_cast<float>(value);
    IO_WRITE("INFO: Overall average pixel size = " + format_f(value * 1.0e6, 12, 4) + " +- " +
                 format_f(spread * 1.0e6, 10, 4) + " microns",
             status);
  }
  (void)overall;
  const auto [x_rms, y_rms] = rms_spacings(s);
  const auto rms = [&](double spacing, std::string_view axis, float& size) {
    if (!(spacing > 0.0)) {
      IO_WRITE("WARNING: No adjacent peaks in " + std::string(axis) +
                   "; the pixel size is left as it was",
               status);
      return;
    }
    size = static_cast<float>(1.0e-6 * grid_spacing / spacing);
    IO_WRITE("INFO: RMS pixel size in " + std::string(axis) + " = " +
                 format_f(static_cast<double>(size) * 1.0e6, 12, 4),
             status);
  };
  rms(x_rms, "X-direction", xps);
  rms(y_rms, "Y-direction", yps);
  rotations(p, xps, yps, s);
  IO_WRITE("INFO: Average rotation based on rows = " + angle_pair(s.row_angles) + " degrees",
           status);
  IO_WRITE("INFO: Average rotation based on columns = " + angle_pair(s.column_angles) +
               " degrees",
           status);
  const double difference = std::abs(s.column_angles.mean() - s.row_angles.mean());
  if (difference > 0.6981316 && difference <= 1.3962634) {
    IO_WRITE("INFO: The grid appears to be hexagonal and distortion values will be", status);
    IO_WRITE("      calculated on this assumption. (Something is very wrong if the", status);
    IO_WRITE("      grid is actually cartesian.)", status);
  }
  Sample angles = s.row_angles;
  angles += s.column_angles;
  IO_WRITE("INFO: Average rotation (both rows and columns) = ", status);
  IO_WRITE("INFO: " + angle_pair(angles) + " degrees", status);

  float x_microns = std::clamp(xps * 1.0e6f, 1.0e-4f, 1.0e6f);
  float y_microns = std::clamp(yps * 1.0e6f, 1.0e-4f, 1.0e6f);
  IO_INPR(true, 1.0e-4f, 1.0e6f, true, "IDEAL X-PIXEL SIZE (MICRONS)",
          {"Enter required pixel X-size for calculating distortion"},
          {"Value must be within given range"}, x_microns, status);
  IO_INPR(true, 1.0e-4f, 1.0e6f, true, "IDEAL Y-PIXEL SIZE (MICRONS)",
          {"Enter required pixel Y-size for calculating distortion"},
          {"Value must be within given range"}, y_microns, status);
  double rotation = std::clamp(angles.mean() * kDegrees, -360.0, 360.0);
  IO_INPD(true, -360.0, 360.0, true, "GRID ROTATION ANGLE (DEGREES)",
          {"Enter rotation angle of grid on detector"}, {"Value must be within given range"},
          rotation, status);
  if (status != kStatusGood) return;
  bool any = false;
  for (Index j = 1; j <= p.ynum && !any; ++j)
    for (Index i = 1; i <= p.xnum && !any; ++i) any = p.present(i, j);
  if (!any) {
    IO_WRITE("WARNING: No grid peak is present; no distortion can be calculated", status);
    return;
  }
  struct Hole {
    int i, j;
  } hole{static_cast<int>((p.xnum + 1) / 2), static_cast<int>((p.ynum + 1) / 2)};
  static const std::string kXHelp[] = {
      "Enter number (X-direction) of hole which is considered to have zero distortion"};
  static const std::string kYHelp[] = {
      "Enter number (Y-direction) of hole which is considered to have zero distortion"};
  if (!io_ask_until_accepted(
          hole,
          [&](Hole& h, Status& s) {
            IO_INPI(true, 1, static_cast<int>(p.xnum), true, "X-NUMBER OF IDEAL HOLE", kXHelp,
                    {"Value must be within given range"}, h.i, s);
            IO_INPI(true, 1, static_cast<int>(p.ynum), true, "Y-NUMBER OF IDEAL HOLE", kYHelp,
                    {"Value must be within given range"}, h.j, s);
          },
          [&](const Hole& h) { return p.present(h.i, h.j); },
          [](Status& s) {
            IO_WRITE("WARNING: Specified grid position is missing from data image, please", s);
            IO_WRITE("         specify another peakposition", s);
          },
          status))
    return;
  const int i0 = hole.i, j0 = hole.j;
  x_pixel_size = x_microns * 1.0e-6f;
  y_pixel_size = y_microns * 1.0e-6f;
  kzt_ideal_distortions(p, grid_spacing, x_pixel_size, y_pixel_size, rotation / kDegrees, i0, j0);
}

void KZT_DISPLAY2DDISTORTION(const GridPeaks& p, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_DISPLAY2DDISTORTION V0.2 ";
  if (st_bad(status, kPosition)) return;
  if (p.xmax < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (p.ymax < 1) return st_fail(status, kBaseApp + 2, kPosition);
  IdealAnswers a = remembered<IdealAnswers>();
  IO_INPL(false, false, true, true, "DISPLAY X-DISTORTION",
          {"\"YES\" to display the X-distortion, \"NO\" for the Y-distortion"},
          {"Enter YES or NO"}, a.x_display, status);
  if (status != kStatusGood) return;
  remembered<IdealAnswers>().x_display = a.x_display;
  std::vector<float> xaxis(static_cast<std::size_t>(p.xnum)), yaxis(static_cast<std::size_t>(p.ynum));
  for (Index i = 0; i < p.xnum; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < p.ynum; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  const bool x = a.x_display;
  GS_2DIMAGE(p.xmax, p.ymax, x ? p.x_distortion : p.y_distortion, xaxis, yaxis, 1, 1, p.xnum,
             p.ynum, x ? "2-D X-Distortion" : "2-D Y-Distortion", "Horizontal Peaks",
             "Vertical Peaks",
             x ? "X-Distortion in pixels (Ideal - Measured)"
               : "Y-Distortion in pixels (Ideal - Measured)",
             status);
}

void KZT_DIST2MEM(const GridPeaks& p, const MemoryOut& m, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_DIST2MEM V0.1 ";
  if (st_bad(status, kPosition)) return;
  if (p.xmax < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (p.ymax < 1) return st_fail(status, kBaseApp + 2, kPosition);
  if (p.xnum > m.xmaxdat || p.ynum > m.ymaxdat || std::ssize(m.mdata) < m.xmaxdat * m.ymaxdat ||
      std::ssize(m.mxaxis) < p.xnum || std::ssize(m.myaxis) < p.ynum) {
    IO_WRITE("WARNING: The memory arrays are too small for the grid; nothing is stored", status);
    return;
  }
  IdealAnswers a = remembered<IdealAnswers>();
  IO_INPL(false, false, true, true, "STORE X-DISTORTION IN MEMORY",
          {"\"YES\" to store the X-distortion, \"NO\" for the Y-distortion"},
          {"Enter YES or NO"}, a.x_store, status);
  if (status != kStatusGood) return;
  remembered<IdealAnswers>().x_store = a.x_store;
  const std::vector<float>& d = a.x_store ? p.x_distortion : p.y_distortion;
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) m.mdata[element(i, j, m.xmaxdat)] = d[p.at(i, j)];
  for (Index i = 1; i <= p.xnum; ++i) m.mxaxis[i - 1] = static_cast<float>(i) - 0.5f;
  for (Index j = 1; j <= p.ynum; ++j) m.myaxis[j - 1] = static_cast<float>(j) - 0.5f;
  m.mxnumdat = m.mxendelm = p.xnum;
  m.mynumdat = m.myendelm = p.ynum;
  m.mxstrelm = m.mystrelm = 1;
  m.mtitle = a.x_store ? "2-D X-Distortion" : "2-D Y-Distortion";
  m.mxlabel = "Horizontal Grid Holes";
  m.mylabel = "Vertical Grid Holes";
  m.mzlabel = a.x_store ? "X-Distortion in pixels (Ideal - Measured)"
                        : "Y-Distortion in pixels (Ideal - Measured)";
  m.memory_defined = true;
}

void KZT_IDEALSPACE(GridPeaks& p, Status& status) {
  if (st_bad(status, "Subroutine KZT_IDEALSPACE V0.1 ")) return;
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      if (!p.present(i, j)) continue;
      const Index k = p.at(i, j);
      p.x[k] += p.x_distortion[k];
      p.y[k] += p.y_distortion[k];
      p.x_distortion[k] = -p.x_distortion[k];
      p.y_distortion[k] = -p.y_distortion[k];
    }
}

void KZT_RESIDUALS(const GridPeaks& p, const SplineFunction& x_function,
                   const SplineFunction& y_function, const MemoryOut& m, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_RESIDUALS V0.2";
  if (st_bad(status, kPosition)) return;
  if (m.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (m.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  if (p.xnum > m.xmaxdat || p.ynum > m.ymaxdat || std::ssize(m.mdata) < m.xmaxdat * m.ymaxdat ||
      std::ssize(m.mxaxis) < p.xnum || std::ssize(m.myaxis) < p.ynum) {
    IO_WRITE("WARNING: The memory arrays are too small for the grid; nothing is stored", status);
    return;
  }
  IdealAnswers a = remembered<IdealAnswers>();
  IO_INPL(false, false, true, true, "CALCULATE X-RESIDUALS",
          {"\"YES\" for the X-distortion fit residuals, \"NO\" for the Y-distortion"},
          {"Enter YES or NO"}, a.x_residuals, status);
  if (status != kStatusGood) return;
  remembered<IdealAnswers>().x_residuals = a.x_residuals;
  const SplineFunction& f = a.x_residuals ? x_function : y_function;
  const std::vector<float>& d = a.x_residuals ? p.x_distortion : p.y_distortion;
  // Computed first, so that a failed evaluation leaves the memory as it was.
  std::vector<float> values(static_cast<std::size_t>(p.xnum * p.ynum), 0.0f);
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      if (!p.present(i, j)) continue;
      const Index k = p.at(i, j);
      float value = 0.0f;
      MA_CAL_NBCUBSPLINE(static_cast<Index>(f.lambda.size()), f.xnumknots, f.lambda,
                         static_cast<Index>(f.mu.size()), f.ynumknots, f.mu,
                         static_cast<Index>(f.coeffs.size()), f.coeffs, p.x[k], p.y[k], value,
                         status);
      if (status != kStatusGood) return;
      values[static_cast<std::size_t>((j - 1) * p.xnum + (i - 1))] = value - d[k];
    }
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i)
      m.mdata[element(i, j, m.xmaxdat)] = values[static_cast<std::size_t>((j - 1) * p.xnum + (i - 1))];
  for (Index i = 1; i <= p.xnum; ++i) m.mxaxis[i - 1] = static_cast<float>(i);
  for (Index j = 1; j <= p.ynum; ++j) m.myaxis[j - 1] = static_cast<float>(j);
  m.mxstrelm = m.mystrelm = 1;
  m.mxendelm = m.mxnumdat = p.xnum;
  m.myendelm = m.mynumdat = p.ynum;
  m.mtitle = a.x_residuals ? "X-DISTORTION FIT RESIDUALS" : "Y-DISTORTION FIT RESIDUALS";
  m.memory_defined = true;
}

}  // namespace kesta
