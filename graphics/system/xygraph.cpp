// x/y graphs: up to 40 curves with error bars, straight, spline or monotone
// lines, 13 markers, a key, title and labels, on linear or log axes.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/extremes.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "numeric/splines.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;
using gs_detail::terminal_line;
using gs_detail::world_per_page;

constexpr float kLabelHeight = 0.0166667f;

bool finite(float x, float y) { return std::isfinite(x) && std::isfinite(y); }

// A polyline through the points, broken where a point is not finite.
void polyline(std::span<const float> x, std::span<const float> y, Status& status) {
  std::size_t k = 0;
  const std::size_t n = x.size();
  while (k < n && status == kStatusGood) {
    while (k < n && !finite(x[k], y[k])) ++k;
    std::size_t end = k;
    while (end < n && finite(x[end], y[end])) ++end;
    if (end - k >= 2)
      QG_POLYLINE(static_cast<int>(end - k), x.subspan(k, end - k), y.subspan(k, end - k), status);
    k = end;
  }
}

int curve_style(Index curve) { return static_cast<int>(curve % kGsMaxCurves) + 1; }

// Offset of point P (1-based) of curve C (0-based).
Index at(const GsCurves& c, Index curve, Index p) { return curve * c.maxpts + (p - 1); }

// Checks of a set of curves: 1 MAXPTS, 2 MAXCURVES, NUMCURVES_CODE the curve
// count, 5 a curve range or arrays too short.
bool bad_curves(const GsCurves& c, Status numcurves_code, Status& status,
                std::string_view position) {
  if (c.maxpts < 1) return refuse(status, 1, position);
  if (c.maxcurves < 1) return refuse(status, numcurves_code == 14 ? 1 : 2, position);
  if (c.numcurves < 0 || c.numcurves > c.maxcurves) return refuse(status, numcurves_code, position);
  if (static_cast<Index>(c.starts.size()) < c.numcurves ||
      static_cast<Index>(c.ends.size()) < c.numcurves ||
      !array_holds(c.x.size(), c.maxpts, c.maxcurves) ||
      !array_holds(c.y.size(), c.maxpts, c.maxcurves))
    return refuse(status, 5, position);
  for (Index i = 0; i < c.numcurves; ++i)
    if (c.starts[i] < 1 || c.ends[i] > c.maxpts || c.starts[i] > c.ends[i])
      return refuse(status, 5, position);
  return false;
}

bool has_errors(const GsCurves& c) {
  const auto holds = [&c](std::span<const float> s) {
    return array_holds(s.size(), c.maxpts, c.maxcurves);
  };
  return holds(c.xlow) && holds(c.xhigh) && holds(c.ylow) && holds(c.yhigh);
}

// A logarithmic axis has no place for a value not above zero: such a point
// is left out, a gap in its curve as a value that is not a number is.
float log_value(float v) {
  return v > 0.0f ? std::log10(v) : std::numeric_limits<float>::quiet_NaN();
}

// The automatic range of one axis over all points (with their error bars).
void data_extent(const GsCurves& c, bool x_axis, bool bars, float& lo, float& hi) {
  lo = kAboveEveryValue;
  hi = kBelowEveryValue;
  const std::span<const float> v = x_axis ? c.x : c.y;
  const std::span<const float> low = x_axis ? c.xlow : c.ylow;
  const std::span<const float> high = x_axis ? c.xhigh : c.yhigh;
  bars = bars && has_errors(c);
  for (Index i = 0; i < c.numcurves; ++i)
    for (Index p = c.starts[i]; p <= c.ends[i]; ++p) {
      const Index k = at(c, i, p);
      float a = v[k];
      float b = v[k];
      if (bars) {
        a -= low[k];
        b += high[k];
      }
      if (std::isfinite(a)) lo = std::min(lo, a);
      if (std::isfinite(b)) hi = std::max(hi, b);
    }
}

// The largest magnitude a linear axis shows: its points (with their error
// bars) and the limits set for it.
double largest_shown(const GsCurves& c, bool x_axis, bool bars, float set_min, float set_max,
                     bool auto_min, bool auto_max) {
  float lo = 0.0f;
  float hi = 0.0f;
  data_extent(c, x_axis, bars, lo, hi);
  double largest = lo <= hi ? std::max(std::fabs(lo), std::fabs(hi)) : 0.0;
  if (!auto_min && std::isfinite(set_min)) largest = std::max(largest, std::fabs(double{set_min}));
  if (!auto_max && std::isfinite(set_max)) largest = std::max(largest, std::fabs(double{set_max}));
  return largest;
}

// V moved by STEP, within +-LIMIT; a step lost in the size of V (a constant
// row of 1E+12) is a tenth of that size instead, as an image's range of one
// value is widened.
float moved(float v, double step, double limit) {
  const auto within = [limit](double x) {
    return static_cast<float>(std::clamp(x, -limit, limit));
  };
  const float w = within(v + step);
  if (w != v) return w;
  return within(v + std::copysign(0.1 * std::fabs(double{v}), step));
}

// One axis of the data display range; false when a warning was given. The
// margins and spans are worked out in double and kept within +-LIMIT (the
// float range in data units), so that data near 3.4E+38 or running from its
// negative to it give an axis that ends there.
void axis_range(const GsCurves& c, bool x_axis, bool bars, bool auto_min, bool auto_max,
                double limit, float& lo, float& hi, Status& status) {
  if (auto_min || auto_max) {
    float dlo = 0.0f;
    float dhi = 0.0f;
    data_extent(c, x_axis, bars, dlo, dhi);
    if (dhi < dlo) {
      dlo = 0.0f;
      dhi = 1.0f;
    }
    // Points all at one value have no extent for a margin: with the other
    // end set, a twentieth of the way to it, so that they do not lie on the
    // frame at the automatic end.
    double from = dlo, to = dhi;
    if (dlo == dhi && !auto_max && std::isfinite(hi) && hi > dhi) to = hi;
    if (dlo == dhi && !auto_min && std::isfinite(lo) && lo < dlo) from = lo;
    const double margin = 0.05 * (to - from);
    if (auto_min) lo = static_cast<float>(std::max(dlo - margin, -limit));
    if (auto_max) hi = static_cast<float>(std::min(dhi + margin, limit));
  }
  if (double{hi} - lo <= 1e-5) {
    if (auto_min) lo = moved(lo, -0.01, limit);
    if (auto_max) hi = moved(hi, 0.01, limit);
  }
  if ((auto_min || auto_max) && !(hi > lo)) {
    if (auto_min) {
      IO_WRITE("WARNING: The minimum data value is greater than the user input maximum", status);
      hi = moved(lo, 1000.0, limit);
    } else {
      IO_WRITE("WARNING: The maximum data value is less than the user input minimum", status);
      lo = moved(hi, -1000.0, limit);
    }
    IO_WRITE(x_axis ? "         X-value" : "         Y-value", status);
  }
}

void cross(float x, float y, float dx, float dy, bool upright, Status& status) {
  if (upright) {
    GS_LINE(x - dx, y, x + dx, y, status);
    GS_LINE(x, y - dy, x, y + dy, status);
  } else {
    GS_LINE(x - 0.7071f * dx, y - 0.7071f * dy, x + 0.7071f * dx, y + 0.7071f * dy, status);
    GS_LINE(x - 0.7071f * dx, y + 0.7071f * dy, x + 0.7071f * dx, y - 0.7071f * dy, status);
  }
}

// Gradients of a spline curve through points START..END: the smooth
// three-point rule, or the monotone rule that never overshoots.
std::vector<float> gradients(Index start, Index end, std::span<const float> x,
                             std::span<const float> y, bool closed, bool monotone) {
  const Index n = end - start + 1;
  std::vector<float> g(static_cast<std::size_t>(n));
  auto px = [&](Index i) { return x[start - 1 + ((i % n) + n) % n]; };
  auto py = [&](Index i) { return y[start - 1 + ((i % n) + n) % n]; };
  for (Index i = 0; i < n; ++i) {
    const bool inner = i > 0 && i < n - 1;
    float value = 0.0f;
    if (!inner && !closed) {
      value = i == 0 ? MA_GRAD(px(0), py(0), px(1), py(1))
                     : MA_GRAD(px(n - 2), py(n - 2), px(n - 1), py(n - 1));
    } else if (!monotone) {
      value = MA_DIFFER(px(i - 1), py(i - 1), px(i), py(i), px(i + 1), py(i + 1));
    } else {
      const float g1 = MA_GRAD(px(i - 1), py(i - 1), px(i), py(i));
      const float g2 = MA_GRAD(px(i), py(i), px(i + 1), py(i + 1));
      if (g1 == 0.0f || g2 == 0.0f || (g1 > 0.0f) != (g2 > 0.0f)) {
        value = 0.0f;
      } else {
        const float h1 = std::fabs(px(i) - px(i - 1));
        const float h2 = std::fabs(px(i + 1) - px(i));
        const float a = h1 + h2 > 0.0f ? (1.0f + h2 / (h1 + h2)) / 3.0f : 0.5f;
        value = 1.0f / (a / g1 + (1.0f - a) / g2);
      }
    }
    g[static_cast<std::size_t>(i)] =
        std::clamp(std::isfinite(value) ? value : 0.0f, -100.0f, 100.0f);
  }
  return g;
}

void spline_curve(Index maxpts, Index start, Index end, std::span<const float> x,
                  std::span<const float> y, bool closed, bool monotone, Status& status,
                  std::string_view position) {
  if (st_bad(status, position)) return;
  if (maxpts <= 0 && refuse(status, 1, position)) return;
  if ((!(start >= 1 && start < end && end <= maxpts) || x.size() < static_cast<std::size_t>(end) ||
       y.size() < static_cast<std::size_t>(end)) &&
      refuse(status, 5, position))
    return;
  const std::vector<float> g = gradients(start, end, x, y, closed, monotone);
  const Index n = end - start + 1;
  const Index segments = closed ? n : n - 1;
  for (Index i = 0; i < segments && status == kStatusGood; ++i) {
    const Index j = (i + 1) % n;
    const float x1 = x[start - 1 + i], y1 = y[start - 1 + i];
    const float x2 = x[start - 1 + j], y2 = y[start - 1 + j];
    if (!finite(x1, y1) || !finite(x2, y2)) continue;
    if (std::fabs(x1 - x2) <= 1e-30f && std::fabs(y1 - y2) <= 1e-30f) continue;
    GS_SPLINE(x1, y1, g[static_cast<std::size_t>(i)], x2, y2, g[static_cast<std::size_t>(j)], 20,
              status);
  }
}

// Saves and restores the kernel's data window and viewport.
struct SavedTransform {
  float w[4]{}, v[4]{};
  explicit SavedTransform(Status& status) {
    QG_INQ_DATAWINDOW(w[0], w[1], w[2], w[3], status);
    QG_INQ_VIEWPORT(v[0], v[1], v[2], v[3], status);
  }
  void restore(Status& status) const {
    QG_DATAWINDOW(w[0], w[1], w[2], w[3], status);
    QG_VIEWPORT(v[0], v[1], v[2], v[3], status);
  }
};

}  // namespace

bool gs_detail::any_finite_point(const GsCurves& curves) {
  for (Index c = 0; c < curves.numcurves; ++c)
    for (Index k = curves.starts[c]; k <= curves.ends[c]; ++k) {
      const Index at = element(k, c + 1, curves.maxpts);
      if (std::isfinite(curves.x[at]) && std::isfinite(curves.y[at])) return true;
    }
  return false;
}

void GS_XYEGRAPH(const GsCurves& curves, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, Status& status) {
  constexpr std::string_view position = "Subroutine GS_XYEGRAPH V0.7";
  if (st_bad(status, position)) return;
  if (bad_curves(curves, 6, status, position)) return;
  // Curves without a finite point (a row all NaN) would be an empty graph
  // with axes of a range no point has: said, and nothing drawn.
  if (curves.numcurves > 0 && !gs_detail::any_finite_point(curves)) {
    IO_WRITE("WARNING: No finite data value in the region to plot", status);
    return;
  }
  GsState& g = gs_state;
  const bool x_log = !g.x_data_linear;
  const bool y_log = !g.y_data_linear;
  const GsRect saved_ddr = g.ddr;
  const GsAutoRange saved_auto = g.auto_range;
  // A linear axis of data near 3.4E+38 is drawn scaled down by a power of
  // two (exact), so that the ticks, numbers and labels beyond its frame have
  // float world coordinates; its numbers give the data's own values.
  const GsAutoRange& a = g.auto_range;
  const double x_unit = x_log ? 1.0
                              : gs_detail::axis_unit(largest_shown(curves, true, g.x_error_bars,
                                                                   g.ddr.xmin, g.ddr.xmax,
                                                                   a.xmin, a.xmax));
  const double y_unit = y_log ? 1.0
                              : gs_detail::axis_unit(largest_shown(curves, false, g.y_error_bars,
                                                                   g.ddr.ymin, g.ddr.ymax,
                                                                   a.ymin, a.ymax));
  const bool scaled = x_unit != 1.0 || y_unit != 1.0;
  g.x_axis_unit = x_unit;
  g.y_axis_unit = y_unit;
  GsCurves work = curves;
  std::vector<float> wx, wy, wxl, wxh, wyl, wyh;
  std::vector<std::uint8_t> left_out;
  if (x_log || y_log || scaled) {
    left_out.assign(static_cast<std::size_t>(curves.numcurves * curves.maxpts), 0);
    const auto scale_down = [](float& v, double unit) { v = static_cast<float>(v / unit); };
    scale_down(g.ddr.xmin, x_unit);
    scale_down(g.ddr.xmax, x_unit);
    scale_down(g.ddr.ymin, y_unit);
    scale_down(g.ddr.ymax, y_unit);
    if (x_log) {
      g.ddr.xmin = std::log10(std::max(g.ddr.xmin, 0.001f));
      g.ddr.xmax = std::log10(std::max(g.ddr.xmax, 0.001f));
    }
    if (y_log) {
      // A set intensity limit not above zero (a Z-scale minimum of 0) has
      // no place on the axis either: that end is found from the points above
      // zero, as automatic scaling finds it, rather than put at a floor far
      // below every point.
      const auto log_limit = [](float& limit, bool& automatic) {
        if (limit > 0.0f)
          limit = std::log10(limit);
        else
          automatic = true;
      };
      log_limit(g.ddr.ymin, g.auto_range.ymin);
      log_limit(g.ddr.ymax, g.auto_range.ymax);
    }
    // Log values of the curves and their error distances. A point not above
    // zero is left out and counted; an error bar reaching to or below zero
    // runs to the axis's bottom (infinite until the range is known, so that
    // it does not widen the range).
    const bool errors = has_errors(curves);
    auto convert = [&](bool log, double unit, bool bars, std::span<const float> v,
                       std::span<const float> low, std::span<const float> high,
                       std::vector<float>& out, std::vector<float>& out_low,
                       std::vector<float>& out_high) {
      out.assign(v.begin(), v.end());
      if (errors) {
        out_low.assign(low.begin(), low.end());
        out_high.assign(high.begin(), high.end());
      }
      if (unit != 1.0) {
        for (std::vector<float>* values : {&out, &out_low, &out_high})
          for (float& value : *values) value = static_cast<float>(value / unit);
      }
      if (!log) return;
      for (Index i = 0; i < curves.numcurves; ++i)
        for (Index p = curves.starts[i]; p <= curves.ends[i]; ++p) {
          const Index k = at(curves, i, p);
          out[k] = log_value(v[k]);
          if (v[k] <= 0.0f) left_out[static_cast<std::size_t>(i * curves.maxpts + p - 1)] = 1;
          if (errors && bars) {
            const float bottom = v[k] - low[k];
            out_low[k] = bottom > 0.0f ? out[k] - log_value(bottom)
                                       : std::numeric_limits<float>::infinity();
            out_high[k] = log_value(v[k] + high[k]) - out[k];
          }
        }
    };
    convert(x_log, x_unit, g.x_error_bars, curves.x, curves.xlow, curves.xhigh, wx, wxl, wxh);
    convert(y_log, y_unit, g.y_error_bars, curves.y, curves.ylow, curves.yhigh, wy, wyl, wyh);
    work.x = wx;
    work.y = wy;
    if (errors) {
      work.xlow = wxl;
      work.xhigh = wxh;
      work.ylow = wyl;
      work.yhigh = wyh;
    }
  }
  GS_CAL_DDR(work, status);
  if (status == kStatusGood) {
    g.dddr = g.ddr;
    g.dgpp = g.gpp;
    QG_VIEWPORT(g.gpp.xmin, g.gpp.ymin, g.gpp.xmax, g.gpp.ymax, status);
    // The frame gives way to Y numbers too wide for its left margin, so that
    // the Y label stands clear of them on the page.
    if (SLEN(ylabel) > 0 && g.ylabel.output) {
      const float label = kLabelHeight * std::max(g.ylabel.height, 0.0f);
      const float needed = gs_detail::y_label_offset(status) + 1.05f * label + 0.005f;
      if (g.dgpp.xmin < needed) {
        g.dgpp.xmin = std::min(needed, g.gpp.xmin + 0.5f * (g.gpp.xmax - g.gpp.xmin));
        QG_VIEWPORT(g.dgpp.xmin, g.dgpp.ymin, g.dgpp.xmax, g.dgpp.ymax, status);
      }
    }
  }
  if (status == kStatusGood && (x_log || y_log)) {
    // Error bars to or below zero now reach the bottom of their axis.
    const auto to_bottom = [&](std::vector<float>& values, std::vector<float>& low, float bottom) {
      for (std::size_t k = 0; k < low.size(); ++k)
        if (low[k] == std::numeric_limits<float>::infinity())
          low[k] = values[k] > bottom ? values[k] - bottom : 0.0f;
    };
    if (x_log && !wxl.empty()) to_bottom(wx, wxl, g.ddr.xmin);
    if (y_log && !wyl.empty()) to_bottom(wy, wyl, g.ddr.ymin);
    const auto n = std::count(left_out.begin(), left_out.end(), std::uint8_t{1});
    if (n > 0)
      IO_WRITE("INFO: " + format_i(n, 0) + (n == 1 ? " point" : " points") +
                   " not above zero left out of the logarithmic axis",
               status);
  }
  if (status == kStatusGood) {
    GS_BACKGROUND(status);
    const int x_code = g.x_axes_code;
    const int y_code = g.y_axes_code;
    g.frame = {true, false, true, false};
    g.x_axes_code = g.y_axes_code = 2;
    GS_AXISFRAME(status);
    g.frame = {false, true, false, true};
    g.x_axes_code = x_code;
    g.y_axes_code = y_code;
    QG_CLIP(true, status);
    GS_XYCURVES(work, status);
    Status local = kStatusGood;
    QG_CLIP(false, local);
    GS_GRID(status);
    GS_TITLE(title, status);
    GS_XLABEL(xlabel, status);
    GS_YLABEL(ylabel, status);
    GS_ATEXT(status);
    GS_KEY(curves.numcurves, status);
    GS_ARROWS(status);
    GS_ALABELS(status);
  }
  if (x_log || y_log) {
    g.ddr = saved_ddr;
    g.auto_range = saved_auto;
  }
  if (scaled) {
    // The ranges and the transform in data units again, for what is drawn
    // over the graph later and for clicks on it.
    const auto scale_up = [](float& v, double unit) { v = static_cast<float>(v * unit); };
    if (!x_log && !y_log) {
      scale_up(g.ddr.xmin, x_unit);
      scale_up(g.ddr.xmax, x_unit);
      scale_up(g.ddr.ymin, y_unit);
      scale_up(g.ddr.ymax, y_unit);
    }
    scale_up(g.dddr.xmin, x_unit);
    scale_up(g.dddr.xmax, x_unit);
    scale_up(g.dddr.ymin, y_unit);
    scale_up(g.dddr.ymax, y_unit);
    g.x_axis_unit = g.y_axis_unit = 1.0;
    Status local = kStatusGood;
    QG_DATAWINDOW(g.dddr.xmin, g.dddr.ymin, g.dddr.xmax, g.dddr.ymax, local);
    QG_CLIPWINDOW(g.dddr.xmin, g.dddr.ymin, g.dddr.xmax, g.dddr.ymax, local);
  }
}

void GS_XYGRAPH(const GsCurves& curves, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, Status& status) {
  constexpr std::string_view position = "Subroutine GS_XYGRAPH V0.1";
  if (st_bad(status, position)) return;
  if (bad_curves(curves, 6, status, position)) return;
  const bool x_bars = gs_state.x_error_bars;
  const bool y_bars = gs_state.y_error_bars;
  gs_state.x_error_bars = gs_state.y_error_bars = false;
  GS_XYEGRAPH(curves, title, xlabel, ylabel, status);
  gs_state.x_error_bars = x_bars;
  gs_state.y_error_bars = y_bars;
}

void GS_XYSGRAPH(Index maxpts, Index start, Index end, std::span<const float> x,
                 std::span<const float> y, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, Status& status) {
  constexpr std::string_view position = "Subroutine GS_XYSGRAPH V0.1";
  if (st_bad(status, position)) return;
  if (maxpts < 1 && refuse(status, 1, position)) return;
  if ((start < 1 || end > maxpts || start > end) && refuse(status, 5, position)) return;
  const std::array<Index, 1> starts{start};
  const std::array<Index, 1> ends{end};
  GsCurves curves{maxpts, 1, 1, starts, ends, x, y, {}, {}, {}, {}};
  GS_XYGRAPH(curves, title, xlabel, ylabel, status);
}

void GS_CAL_DDR(const GsCurves& curves, Status& status) {
  constexpr std::string_view position = "Subroutine GS_CAL_DDR V0.3";
  if (st_bad(status, position)) return;
  if (bad_curves(curves, 14, status, position)) return;
  GsState& g = gs_state;
  GsRect r = g.ddr;
  // The float range in world units (of a graph drawn scaled down, its data's
  // float range).
  constexpr double kLargest = std::numeric_limits<float>::max();
  axis_range(curves, true, g.x_error_bars, g.auto_range.xmin, g.auto_range.xmax,
             kLargest / g.x_axis_unit, r.xmin, r.xmax, status);
  axis_range(curves, false, g.y_error_bars, g.auto_range.ymin, g.auto_range.ymax,
             kLargest / g.y_axis_unit, r.ymin, r.ymax, status);
  GS_SET_DDR(r.xmin, r.ymin, r.xmax, r.ymax, status);
  if (status != kStatusGood) return;
  QG_DATAWINDOW(r.xmin, r.ymin, r.xmax, r.ymax, status);
  QG_CLIPWINDOW(r.xmin, r.ymin, r.xmax, r.ymax, status);
}

void GS_XYCURVES(const GsCurves& curves, Status& status) {
  constexpr std::string_view position = "Subroutine GS_XYCURVES V0.1";
  if (st_bad(status, position)) return;
  if (curves.maxpts < 1 && refuse(status, 1, position)) return;
  if (curves.maxcurves < 1 && refuse(status, 2, position)) return;
  for (Index i = 0; i < curves.numcurves && status == kStatusGood; ++i)
    GS_XYCURVE(curves, i, curve_style(i), status);
}

void GS_XYCURVE(const GsCurves& curves, Index curve, int style, Status& status) {
  constexpr std::string_view position = "Subroutine GS_XYCURVE V0.2";
  if (st_bad(status, position)) return;
  if (curves.maxpts < 1 && refuse(status, 1, position)) return;
  if ((curve < 0 || curve >= curves.numcurves) && refuse(status, 5, position)) return;
  const GsState& g = gs_state;
  const int s = (style - 1) % kGsMaxCurves;
  const GsCurveStyle& sw = g.curve_styles[s];
  const GsCurveLine& line = g.curve_lines[s];
  const Index start = curves.starts[curve];
  const Index end = curves.ends[curve];
  const std::span<const float> x = curves.x.subspan(curve * curves.maxpts, curves.maxpts);
  const std::span<const float> y = curves.y.subspan(curve * curves.maxpts, curves.maxpts);
  if (sw.line) {
    GS_LINESTYLE(line.type, line.width, line.colour, status);
    if (end <= start) {
      if (!sw.markers) GS_MARKERS(s + 1, curves.maxpts, start, end, x, y, status);
    } else if (line.interpolation == 1) {
      GS_CSLINE(curves.maxpts, start, end, x, y, line.closed, status);
    } else if (line.interpolation == 2) {
      GS_PMLINE(curves.maxpts, start, end, x, y, line.closed, status);
    } else {
      const std::size_t n = static_cast<std::size_t>(end - start + 1);
      polyline(x.subspan(static_cast<std::size_t>(start - 1), n),
               y.subspan(static_cast<std::size_t>(start - 1), n), status);
      if (line.closed && finite(x[end - 1], y[end - 1]) && finite(x[start - 1], y[start - 1]))
        GS_LINE(x[end - 1], y[end - 1], x[start - 1], y[start - 1], status);
    }
  }
  if (sw.markers) GS_MARKERS(s + 1, curves.maxpts, start, end, x, y, status);
  if (sw.errors && has_errors(curves)) {
    const GsCurveErrors& e = g.curve_errors[s];
    GS_LINESTYLE(e.line_type, e.width, e.colour, status);
    const auto column = [&](std::span<const float> v) {
      return v.subspan(curve * curves.maxpts, curves.maxpts);
    };
    GS_XYERRORBARS(start, end, x, y, column(curves.xlow), column(curves.xhigh), column(curves.ylow),
                   column(curves.yhigh), g.x_error_bars, g.y_error_bars, e.box_type, status);
  }
}

void GS_CSLINE(Index maxpts, Index start, Index end, std::span<const float> x,
               std::span<const float> y, bool closed, Status& status) {
  spline_curve(maxpts, start, end, x, y, closed, false, status, "Subroutine GS_CSLINE V0.1");
}

void GS_PMLINE(Index maxpts, Index start, Index end, std::span<const float> x,
               std::span<const float> y, bool closed, Status& status) {
  spline_curve(maxpts, start, end, x, y, closed, true, status, "Subroutine GS_PMLINE V0.1");
}

void GS_SPLINE(float x1, float y1, float g1, float x2, float y2, float g2, int npoints,
               Status& status) {
  constexpr std::string_view position = "Subroutine GS_SPLINE V0.1";
  if (st_bad(status, position)) return;
  if (npoints > 100 && refuse(status, 9, position)) return;
  if (npoints < 2 && refuse(status, 17, position)) return;
  if (std::fabs(x1 - x2) <= 1e-30f && std::fabs(y1 - y2) <= 1e-30f && refuse(status, 13, position))
    return;
  std::array<float, 100> px{};
  std::array<float, 100> py{};
  bool ok = false;
  float a = 0, b = 0, c = 0, d = 0;
  Status local = kStatusGood;
  const bool along_x = std::fabs(x1 - x2) > 1e-30f;
  if (along_x) {
    MA_CUBSPLINE(x1, y1, g1, x2, y2, g2, ok, a, b, c, d, local);
  } else {
    // A vertical step: the cubic x(y) with the inverse slopes.
    auto inverse = [&](float gradient) {
      if (std::fabs(gradient) > 0.0001f) return 1.0f / gradient;
      const bool up = gradient > 0.0f || (gradient == 0.0f && y2 >= y1);
      return up ? 10000.0f : -10000.0f;
    };
    MA_CUBSPLINE(y1, x1, inverse(g1), y2, x2, inverse(g2), ok, a, b, c, d, local);
  }
  if (!ok || local != kStatusGood) return;
  for (int k = 0; k < npoints; ++k) {
    const float t = static_cast<float>(k) / static_cast<float>(npoints - 1);
    if (along_x) {
      px[k] = x1 + t * (x2 - x1);
      py[k] = MA_CUBIC(a, b, c, d, px[k]);
    } else {
      py[k] = y1 + t * (y2 - y1);
      px[k] = MA_CUBIC(a, b, c, d, py[k]);
    }
  }
  polyline(std::span<const float>(px.data(), npoints), std::span<const float>(py.data(), npoints),
           status);
}

void GS_MARKERS(int style, Index maxpts, Index start, Index end, std::span<const float> x,
                std::span<const float> y, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MARKERS V0.1";
  if (st_bad(status, position)) return;
  if (maxpts < 1 && refuse(status, 1, position)) return;
  if ((style < 1 || style > kGsMaxCurves) && refuse(status, 17, position)) return;
  if ((start < 1 || end > maxpts || start > end || x.size() < static_cast<std::size_t>(end) ||
       y.size() < static_cast<std::size_t>(end)) &&
      refuse(status, 5, position))
    return;
  const GsCurveMarkers& m = gs_state.curve_markers[style - 1];
  const GsCurveSoftMarkers& soft = gs_state.curve_soft_markers[style - 1];
  const int type = std::abs(m.type);
  if (type == 1) {
    GS_MARKERSTYLE(1, m.size, m.colour, status);
    std::vector<float> fx, fy;
    for (Index p = start; p <= end; ++p)
      if (finite(x[p - 1], y[p - 1])) {
        fx.push_back(x[p - 1]);
        fy.push_back(y[p - 1]);
      }
    if (!fx.empty()) QG_POLYMARKER(static_cast<int>(fx.size()), fx, fy, status);
    return;
  }
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const float rx = m.size * 0.005f * wx;
  const float ry = m.size * 0.005f * wy;
  const bool filled = soft.filled;
  GS_LINESTYLE(1, static_cast<float>(soft.width), m.colour, status);
  GS_FILLSTYLE(1, soft.fill_colour, status);
  const int segments =
      std::clamp(9 * static_cast<int>(std::lround(std::min(m.size, 100.0f))), 12, 199);
  for (Index p = start; p <= end && status == kStatusGood; ++p) {
    const float px = x[p - 1];
    const float py = y[p - 1];
    if (!finite(px, py)) continue;
    switch (type) {
      case 2:
        cross(px, py, rx, ry, false, status);
        break;
      case 3:
        cross(px, py, rx, ry, true, status);
        cross(px, py, rx, ry, false, status);
        break;
      case 4:
        GS_ELLIPSE(px, py, rx, ry, true, filled, segments, status);
        break;
      case 5:
        cross(px, py, rx, ry, true, status);
        break;
      case 6:
        GS_RECTANGLE(px - 0.7071f * rx, py - 0.7071f * ry, px + 0.7071f * rx, py + 0.7071f * ry,
                     true, filled, status);
        break;
      case 7:
        GS_KITE(px, py, px + rx, py, px, py + ry, true, filled, status);
        break;
      case 8:
        GS_TRIANGLE(px, py + ry, px - 0.866025f * rx, py - 0.5f * ry, px + 0.866025f * rx,
                    py - 0.5f * ry, true, filled, status);
        break;
      case 9:
        GS_TRIANGLE(px, py - ry, px - 0.866025f * rx, py + 0.5f * ry, px + 0.866025f * rx,
                    py + 0.5f * ry, true, filled, status);
        break;
      case 10:
        GS_TRIANGLE(px, py + ry, px - 0.866025f * rx, py - 0.5f * ry, px + 0.866025f * rx,
                    py - 0.5f * ry, true, filled, status);
        GS_TRIANGLE(px, py - ry, px - 0.866025f * rx, py + 0.5f * ry, px + 0.866025f * rx,
                    py + 0.5f * ry, true, filled, status);
        break;
      case 11:
      case 12:
        GS_ELLIPSE(px, py, rx, ry, true, filled, segments, status);
        cross(px, py, rx, ry, type == 12, status);
        break;
      case 13:
        GS_LINESTYLE(1, static_cast<float>(soft.width), soft.fill_colour, status);
        cross(px, py, rx, ry, true, status);
        GS_LINESTYLE(1, static_cast<float>(soft.width), m.colour, status);
        cross(px, py, rx, ry, false, status);
        break;
      default:
        break;
    }
  }
}

void GS_XYERRORBARS(Index start, Index end, std::span<const float> x, std::span<const float> y,
                    std::span<const float> xlow, std::span<const float> xhigh,
                    std::span<const float> ylow, std::span<const float> yhigh, bool x_on, bool y_on,
                    int style, Status& status) {
  constexpr std::string_view position = "Subroutine GS_XYERRORBARS V0.1";
  if (st_bad(status, position)) return;
  const std::size_t need = static_cast<std::size_t>(std::max<Index>(end, 0));
  if ((start < 1 || start > end || x.size() < need || y.size() < need || xlow.size() < need ||
       xhigh.size() < need || ylow.size() < need || yhigh.size() < need) &&
      refuse(status, 1, position))
    return;
  if (x_on && y_on && style != 0 && style != 1 && style != 2) return;
  for (Index p = start; p <= end && status == kStatusGood; ++p) {
    const std::size_t k = static_cast<std::size_t>(p - 1);
    const float px = x[k], py = y[k];
    const float xl = px - xlow[k], xh = px + xhigh[k];
    const float yl = py - ylow[k], yh = py + yhigh[k];
    if (!finite(px, py) || !finite(xl, xh) || !finite(yl, yh)) continue;
    if (x_on && y_on && style == 1) {
      const std::array<float, 5> dx{xl, px, xh, px, xl};
      const std::array<float, 5> dy{py, yh, py, yl, py};
      QG_POLYLINE(5, dx, dy, status);
    } else if (x_on && y_on && style == 2) {
      GS_RECTANGLE(xl, yl, xh, yh, true, false, status);
    } else {
      if (x_on) GS_LINE(xl, py, xh, py, status);
      if (y_on) GS_LINE(px, yl, px, yh, status);
    }
  }
}

void GS_KEY(Index numcurves, Status& status) {
  if (st_bad(status, "Subroutine GS_KEY V0.2")) return;
  const GsKey& key = gs_state.key;
  if (!key.output || numcurves <= 0) return;
  const SavedTransform saved(status);
  QG_DATAWINDOW(0.0f, 0.0f, 1.0f, 1.0f, status);
  QG_VIEWPORT(0.0f, 0.0f, 1.0f, 1.0f, status);
  const GsRect& r = key.region;
  const GsKeyStyle& ks = gs_state.key_style;
  const float w = r.xmax - r.xmin;
  const float h = r.ymax - r.ymin;
  const float pitch = 0.8f * h / static_cast<float>(numcurves);
  const float top = r.ymax - 0.1f * h;
  if (key.frame != 0) {
    GS_LINESTYLE(ks.line_type, ks.line_width, ks.line_colour, status);
    GS_RECTANGLE(r.xmin, r.ymin, r.xmax, r.ymax, true, false, status);
  }
  // Each curve's three-point sample, in its own row, with error bars.
  const Index shown = std::min<Index>(numcurves, kGsMaxCurves);
  std::vector<float> x(static_cast<std::size_t>(3 * shown)), y(x.size());
  std::vector<float> ex(x.size(), 0.04f * w), ey(x.size(), 0.04f * h);
  std::vector<Index> starts(static_cast<std::size_t>(shown), 1), ends(starts.size(), 3);
  for (Index i = 0; i < shown; ++i) {
    const float row = top - static_cast<float>(i) * pitch;
    for (int k = 0; k < 3; ++k) {
      x[static_cast<std::size_t>(3 * i + k)] = r.xmin + (0.1f + 0.1f * static_cast<float>(k)) * w;
      y[static_cast<std::size_t>(3 * i + k)] =
          row - pitch / 4.0f - static_cast<float>(k) * pitch / 4.0f;
    }
  }
  const GsCurves sample{3, shown, shown, starts, ends, x, y, ex, ex, ey, ey};
  for (Index i = 0; i < numcurves && status == kStatusGood; ++i) {
    GS_XYCURVE(sample, i % shown, curve_style(i), status);
    std::string label;
    GS_INQ_KEYLABEL(curve_style(i), label, status);
    label = label.substr(0, std::min<std::size_t>(132, SLEN(label)));
    GS_TEXTSTYLE(ks.font, ks.text_colour, ks.height * kLabelHeight, ks.width, ks.spacing, 0, 1, 3,
                 0.0f, 1.0f, status);
    if (!label.empty())
      QG_TEXT(r.xmin + 0.4f * w, top - pitch / 2.0f - static_cast<float>(i) * pitch, label, status);
  }
  Status local = kStatusGood;
  saved.restore(local);
}

void GS_TITLE(std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine GS_TITLE: V0.2")) return;
  const GsTextStyle& style = gs_state.title;
  if (SLEN(text) == 0 || !style.output) return;
  if (!(style.height > 0.0f)) {
    terminal_line("ERROR: GS_TITLE: char_height = " + format_f(style.height, 10, 3));
    return;
  }
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const GsRect& r = gs_state.dddr;
  GS_TEXTSTYLE(style.font, style.colour, 0.02f * style.height * wy, style.width, style.spacing, 0,
               2, 4, 0.0f, 1.0f, status);
  QG_TEXT((r.xmin + r.xmax) / 2.0f, r.ymax + gs_state.layout.title_gap * wy,
          text.substr(0, SLEN(text)), status);
}

void GS_XLABEL(std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine GS_XLABEL V0.2")) return;
  const GsTextStyle& style = gs_state.xlabel;
  if (SLEN(text) == 0 || !style.output) return;
  if (!(style.height > 0.0f)) {
    terminal_line("ERROR: GS_XLABEL: char_height = " + format_f(style.height, 10, 3));
    return;
  }
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const GsRect& r = gs_state.dddr;
  GS_TEXTSTYLE(style.font, style.colour, kLabelHeight * style.height * wy, style.width,
               style.spacing, 0, 2, 4, 0.0f, 1.0f, status);
  QG_TEXT((r.xmin + r.xmax) / 2.0f, r.ymin - gs_state.layout.x_label_gap * wy,
          text.substr(0, SLEN(text)), status);
}

void gs_xy_text_room(float& below, float& above) {
  const GsState& g = gs_state;
  constexpr float kMargin = 0.01f;
  constexpr float kDescent = 0.3f;  // of a character's height, below its base line
  // The numbers hang from their gap below the axis; the label and the
  // shared power of ten stand on their base lines further down.
  const float numbers = kLabelHeight * std::max(g.xenum.text.height, 0.0f);
  const float label = kLabelHeight * std::max(g.xlabel.height, 0.0f);
  below = std::max({g.layout.x_enum_gap + numbers, g.layout.x_label_gap + kDescent * label,
                    0.05f + kDescent * numbers, 0.0f}) +
          kMargin;
  // The title's base line lies its gap above the frame.
  above = std::max(g.layout.title_gap + 0.02f * std::max(g.title.height, 0.0f), 0.0f) + kMargin;
}

void GS_YLABEL(std::string_view text, Status& status) {
  if (st_bad(status, "Subroutine GS_YLABEL V0.4")) return;
  const GsTextStyle& style = gs_state.ylabel;
  if (SLEN(text) == 0 || !style.output) return;
  if (!(style.height > 0.0f)) {
    terminal_line("ERROR: GS_YLABEL: char_height = " + format_f(style.height, 10, 3));
    return;
  }
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const GsRect& r = gs_state.dddr;
  const float height = kLabelHeight * style.height * wy;
  const bool rotated = gs_state.ylabel_orientation == 1;
  // Clear of the axis's numbers, however wide, and on the page, where the
  // frame leaves too little room for both.
  const float offset = gs_detail::y_label_offset(status);
  GS_TEXTSTYLE(style.font, style.colour, height, style.width, style.spacing, 0, rotated ? 2 : 3,
               rotated ? 4 : 3, rotated ? -1.0f : 0.0f, rotated ? 0.0f : 1.0f, status);
  float width = kLabelHeight * style.height;  // a turned label's extent across
  if (!rotated) {
    width = 0.6f * static_cast<float>(SLEN(text)) * kLabelHeight * style.height;
    QG_INQ_TEXTWIDTH(SLEN(text), text, width, status);
  }
  const float on_page = gs_state.dgpp.xmin - width - 0.005f;
  QG_TEXT(r.xmin - std::max(std::min(offset, on_page), 0.0f) * wx, (r.ymin + r.ymax) / 2.0f,
          text.substr(0, SLEN(text)), status);
  GS_TEXTSTYLE(style.font, style.colour, height, style.width, style.spacing, 0, 1, 1, 0.0f, 1.0f,
               status);
}

}  // namespace kesta
