#include "app/fitting/model_input.hpp"

#include <algorithm>
#include <cmath>

#include "app/diffraction/geometry.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/surface.hpp"
#include "app/imageops/click_readout.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/masks.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

constexpr int kMaxPeaks = 20;
constexpr float kDegree = 3.1415925f / 180.0f;
const char* const kFull = "WARNING: Parameter array full, not enough room to store feature parameters";

// One parameter into the model: value, code, name, scale, constraint.
void put(FitModel& m, float value, int code, std::string name, float scale, bool fixed = false) {
  const std::size_t i = static_cast<std::size_t>(m.num_parameters++);
  m.params[i] = value;
  m.codes[i] = code + (fixed ? 1000000 : 0);
  name.resize(10, ' ');
  m.names[i] = std::move(name);
  m.scales[i] = scale;
  m.constraints[i] = fixed;
}

void result_name(FitModel& m, std::string name) {
  if (m.num_results >= kMaxFitResults) return;
  name.resize(10, ' ');
  m.result_names[static_cast<std::size_t>(m.num_results++)] = std::move(name);
}

float distance(float x1, float y1, float x2, float y2) { return std::hypot(x1 - x2, y1 - y2); }

// The scale factors of a clicked peak's positions, widths and angles are this
// part of its size: the fit's difference step is 0.07 of a scale factor, and a
// step as wide as the peak misjudges its slopes.
constexpr float kSizePart = 0.1f;
// The scale of a symmetry centre that no twin peak mirrors is this part of the
// least radius of its peaks.
constexpr float kRadiusPart = 0.03f;

// Data whose typical value lies between these may be counts and keep the
// unit 1; others are taken in the unit that makes it this many counts, where
// the rule's least change sizes (a fraction of a count, a few counts) are
// ones the fit resolves in single precision.
constexpr float kLeastCounts = 1.0e-3f;
constexpr float kMostCounts = 1.0e6f;
constexpr float kTypicalCounts = 100.0f;

// The scale factor of a height, level or intensity VALUE: PART of its square
// root, at least LEAST, in the data's UNIT.
float intensity_scale(float value, float part, float least, float unit) {
  return unit * std::max(part * std::sqrt(std::fabs(value) / unit), least);
}

// A scale factor, or FALLBACK where clicks gave no size.
float scale_or(float scale, float fallback) {
  return scale > 0.0f && std::isfinite(scale) ? scale : fallback;
}

// The size of peak P whose widths lie along ANGLE and across it, each at
// least the pixel's extent in its direction: the two widths, and the peak's
// widths on a line through it parallel to X and to Y (at least a pixel).
struct PeakSize {
  float along = 0.0f, across = 0.0f, x = 0.0f, y = 0.0f;
};

PeakSize peak_size(const InputPeak& p, float along, float across, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  PeakSize size;
  size.along = std::max(along, std::hypot(p.x_step * c, p.y_step * s));
  size.across = std::max(across, std::hypot(p.x_step * s, p.y_step * c));
  const auto on_line = [&](float a, float b) {
    return 1.0f / std::hypot(a / size.along, b / size.across);
  };
  size.x = std::max(on_line(c, s), p.x_step);
  size.y = std::max(on_line(s, c), p.y_step);
  return size;
}

// The size of a polar peak: radial width along the line from the symmetry
// centre, the angular one across it.
PeakSize polar_size(const InputFeatures& in, const InputPeak& p, float radial, float tangential) {
  return peak_size(p, radial, tangential, std::atan2(p.y - in.y_centre, p.x - in.x_centre));
}

}  // namespace

float kzt_intensity_unit(std::span<const float> data, std::span<const std::uint8_t> mask,
                         Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                         Index yendelm) {
  std::vector<float> sizes;
  sizes.reserve(static_cast<std::size_t>((xendelm - xstrelm + 1) * (yendelm - ystrelm + 1)));
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
    for (Index i = offset; i < offset + n; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      if (k >= data.size() || (k < mask.size() && mask[k] != 0) || !std::isfinite(data[k]))
        continue;
      sizes.push_back(std::fabs(data[k]));
    }
  });
  if (sizes.empty()) return 1.0f;
  const auto middle = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
  std::nth_element(sizes.begin(), middle, sizes.end());
  const float typical = *middle;
  if (typical > kMostCounts || (typical < kLeastCounts && typical > 0.0f))
    return typical / kTypicalCounts;
  return 1.0f;
}

void kzt_features_to_model(const InputFeatures& in, FitModel& m, Status& status) {
  if (st_bad(status, "Subroutine KZT_GUI_PARAMETERS V0.1")) return;
  m = FitModel{};
  int f = 0;
  const auto room = [&](int count) {
    if (m.num_parameters + count <= kMaxFitParameters && count <= kMaxFeatureParameters) return true;
    IO_WRITE(kFull, status);
    return false;
  };
  if (in.surface && room((in.x_order + 1) * (in.y_order + 1))) {
    ++f;
    int k = 0;
    for (int j = 0; j <= in.y_order; ++j)
      for (int i = 0; i <= in.x_order; ++i) {
        const float c = in.coeffs[static_cast<std::size_t>(i + kSurfaceTable * j)];
        put(m, c, make_code(f, kSurface, ++k), "PCH" + format_i(i, 2) + "X" + format_i(j, 2) + "Y",
            intensity_scale(c, 4.0f, 0.2f, in.intensity_unit));
      }
    m.x_order = in.x_order;
    m.y_order = in.y_order;
    m.x_min_poly = in.x_min;
    m.y_min_poly = in.y_min;
    m.x_max_poly = in.x_max;
    m.y_max_poly = in.y_max;
  }
  // The symmetry centre: a twin's mirror image moves by twice its change,
  // so beside a twin its scales are the least of the polar peaks' position
  // scales; lone polar peaks feel it only through their ring's curvature, a
  // change over their radius, and a scale that small would have the fit
  // judge it by the rounding of the model.
  float centre_x = 0.0f, centre_y = 0.0f, radius = 0.0f;
  bool twins = false;
  for (const InputPeak& p : in.peaks) {
    if (p.kind == 1) continue;
    twins = twins || p.kind == 4;
    const float r = std::max(distance(p.x, p.y, in.x_centre, in.y_centre), 1.0f);
    const PeakSize size = polar_size(in, p, 2.0f * distance(p.x1, p.y1, p.x, p.y) / 2.354f,
                                     2.0f * distance(p.x2, p.y2, p.x, p.y) / 2.354f);
    const bool first = radius == 0.0f;
    centre_x = first ? size.x : std::min(centre_x, size.x);
    centre_y = first ? size.y : std::min(centre_y, size.y);
    radius = first ? r : std::min(radius, r);
  }
  centre_x *= kSizePart;
  centre_y *= kSizePart;
  if (!twins) {
    centre_x = std::max(centre_x, kRadiusPart * radius);
    centre_y = std::max(centre_y, kRadiusPart * radius);
  }
  bool centre = false;
  for (const InputPeak& p : in.peaks) {
    const float d1 = distance(p.x1, p.y1, p.x, p.y), d2 = distance(p.x2, p.y2, p.x, p.y);
    if (p.kind == 1) {
      if (!room(6)) continue;
      const int t = kGaussian;
      // On one line (a row or a column drawn as a graph) the width along it
      // comes from the clicks; the centre and width across it are the
      // line's, held, and the peak is unrotated.
      const bool on_line = p.row_width > 0.0f;
      const bool on_row = on_line && !p.on_column, on_column = on_line && p.on_column;
      ++f;
      const float along = 2.0f * (on_row ? std::fabs(p.x1 - p.x) : std::fabs(p.y1 - p.y)) / 2.354f;
      const float sd1 = on_column ? p.row_width : on_row ? along : 2.0f * d1 / 2.354f;
      const float sd2 = on_row ? p.row_width : on_column ? along : 2.0f * d2 / 2.354f;
      const float angle = on_line ? 0.0f : std::atan2(p.y1 - p.y, p.x1 - p.x);
      const PeakSize size = peak_size(p, sd1, sd2, angle);
      // Turning the peak by an angle moves its long end by the angle times
      // its long width, to be judged against its short one.
      const float turn = std::min(size.along, size.across) / std::max(size.along, size.across);
      put(m, p.x, make_code(f, t, 1), feature_name("GAU", f, " XCe"),
          scale_or(kSizePart * size.x, 1.0f), on_column);
      put(m, p.y, make_code(f, t, 2), feature_name("GAU", f, " YCe"),
          scale_or(kSizePart * size.y, 1.0f), on_row);
      put(m, p.height, make_code(f, t, 3), feature_name("GAU", f, " MAX"),
          intensity_scale(p.height, 0.5f, 2.0f, in.intensity_unit));
      put(m, sd1, make_code(f, t, 4), feature_name("GAU", f, " 1SD"),
          scale_or(kSizePart * size.along, 1.0f), on_column);
      put(m, sd2, make_code(f, t, 5), feature_name("GAU", f, " 2SD"),
          scale_or(kSizePart * size.across, 1.0f), on_row);
      put(m, angle, make_code(f, t, 6), feature_name("GAU", f, " ANG"),
          std::min(scale_or(kSizePart * turn, 0.17477f), 0.17477f), on_line);
      result_name(m, feature_name("GAU", f, " INT"));
      continue;
    }
    const bool twin = p.kind == 4;
    const int count = (twin ? 6 : 5) + (centre ? 0 : 2);
    if (!room(count)) continue;
    const int t = twin ? (centre ? kTwin : kTwinCentre) : (centre ? kPolar : kPolarCentre);
    const char* prefix = twin ? "TPG" : "PGa";
    ++f;
    int k = 0;
    if (!centre) {
      put(m, in.x_centre, make_code(f, t, ++k), "X-CEN SYM", scale_or(centre_x, 1.0f));
      put(m, in.y_centre, make_code(f, t, ++k), "Y-CEN SYM", scale_or(centre_y, 1.0f));
      centre = true;
    }
    // A peak within a pixel of its symmetry centre takes r = 1.
    const float r = std::max(distance(p.x, p.y, in.x_centre, in.y_centre), 1.0f);
    const float radial = 2.0f * d1 / 2.354f, tangential = 2.0f * d2 / 2.354f;
    const PeakSize size = polar_size(in, p, radial, tangential);
    put(m, p.x, make_code(f, t, ++k), feature_name(prefix, f, " XCe"),
        scale_or(kSizePart * size.x, 1.0f));
    put(m, p.y, make_code(f, t, ++k), feature_name(prefix, f, " YCe"),
        scale_or(kSizePart * size.y, 1.0f));
    put(m, p.height, make_code(f, t, ++k), feature_name(prefix, f, " MAX"),
        intensity_scale(p.height, 0.5f, 5.0f, in.intensity_unit));
    put(m, radial, make_code(f, t, ++k), feature_name(prefix, f, " RAD"),
        scale_or(kSizePart * size.along, 1.0f));
    put(m, tangential / r, make_code(f, t, ++k), feature_name(prefix, f, " ANG"),
        std::min(scale_or(kSizePart * size.across / r, 0.17477f), 0.17477f));
    if (twin) {
      put(m, p.twin_height, make_code(f, t, ++k), feature_name(prefix, f, " MX2 "),
          intensity_scale(p.twin_height, 0.5f, 5.0f, in.intensity_unit));
      result_name(m, feature_name(prefix, f, " In1"));
      result_name(m, feature_name(prefix, f, " In2"));
    } else {
      result_name(m, feature_name(prefix, f, " INT"));
    }
  }
  if (in.rowline) {
    const InputRowLine& r = in.row;
    const int orders = r.high - r.low + 1;
    if (orders >= 1 && orders <= kMaxRowLineOrders && room(kRowLineFixed + orders) &&
        static_cast<int>(r.intensities.size()) == orders) {
      ++f;
      const int t = kRowLine;
      // Digit 8: 2 axis coordinate, 5 degrees, 1 channel width.
      const auto code = [&](int k, int unit) { return make_code(f, t, k) + 10000000 * unit; };
      put(m, static_cast<float>(r.low), code(1, 0), feature_name("ROW", f, " LOW "), 0.0f, true);
      put(m, static_cast<float>(r.high), code(2, 0), feature_name("ROW", f, " HIG "), 0.0f, true);
      put(m, in.x_centre, code(3, 2), "X-CEN SYM", 1.0f);
      put(m, in.y_centre, code(4, 2), "Y-CEN SYM", 1.0f);
      put(m, r.x_centre, code(5, 2), feature_name("ROW", f, " XCe"), 1.0f);
      put(m, r.y_centre, code(6, 2), feature_name("ROW", f, " YCe"), 1.0f);
      put(m, r.rotation, code(7, 5), feature_name("ROW", f, " ANG"), 0.017477f);
      put(m, r.ppa, code(8, 1), feature_name("ROW", f, " PPa"), 0.0017477f);
      put(m, r.psh, code(9, 1), feature_name("ROW", f, " PSh"), 0.0017477f);
      put(m, r.ratio, code(10, 0), feature_name("ROW", f, " Rat"), 0.1f);
      put(m, r.sdr, code(11, 1), feature_name("ROW", f, " SDR"), 1.0f);
      put(m, r.sda, code(12, 5), feature_name("ROW", f, " SDA"), 0.0017477f);
      for (int n = r.low; n <= r.high; ++n) {
        const float v = r.intensities[static_cast<std::size_t>(n - r.low)];
        put(m, v, code(kRowLineFixed + n - r.low + 1, 0), "ROW" + format_i(f, 2) + "I" + format_i(n, 3),
            intensity_scale(v, 0.5f, 5.0f, in.intensity_unit));
      }
    }
  }
  m.num_features = f;
}

namespace {

// The click menu's working state over the current data.
struct InputSession {
  KztDataSets& sets;
  ModelFrame frame;
  Index xs, ys, xe, ye;
  // The data less the model so far, of the arrays' shape: defined over the
  // data's extent (the mask editor shows all of it), the model taken off over
  // the region.
  std::span<float> residual;
  InputFeatures features;
};

// Adds SIGN x the model of FEATURES (one feature) to the residual.
void draw_into_residual(InputSession& s, const InputFeatures& one, float sign, Status& status) {
  FitModel m;
  {
    Status quiet = kStatusGood;
    kzt_features_to_model(one, m, quiet);
  }
  const KztWorkImage work(s.frame.xmaxdat, s.frame.ymaxdat);
  const std::span<const float> image = work.pixels();
  kzt_model_image(s.frame, m, s.xs, s.ys, s.xe, s.ye, work.pixels(), status);
  if (status != kStatusGood) return;
  for_region_rows(s.frame.xmaxdat, s.xs, s.ys, s.xe, s.ye, [&](Index offset, Index, Index n) {
    for (Index i = offset; i < offset + n; ++i)
      s.residual[static_cast<std::size_t>(i)] += sign * image[static_cast<std::size_t>(i)];
  });
}

// The pixel of LO..HI whose axis value lies nearest V (of two as near, the
// one of higher value, whichever way the axis runs), as the graphics find it.
Index nearest_pixel(std::span<const float> axis, Index num, float v, Index lo, Index hi) {
  Status local = kStatusGood;
  Index pixel = lo;
  GS_CAL_WCTOPIX(static_cast<Index>(axis.size()), num, axis, v, pixel, local);
  return std::clamp(pixel, lo, hi);
}

// The residual at the pixel holding data point (X, Y), clipped to the region.
float residual_at(const InputSession& s, float x, float y) {
  const Index px = nearest_pixel(s.frame.x_axis, s.frame.xnumdat, x, s.xs, s.xe);
  const Index py = nearest_pixel(s.frame.y_axis, s.frame.ynumdat, y, s.ys, s.ye);
  return s.residual[static_cast<std::size_t>(element(px, py, s.frame.xmaxdat))];
}

// The largest residual of the 3 x 3 box (clipped to the region) centred on
// the pixel holding data point (X, Y): the same pixels whichever way the
// axes run.
float box_maximum(const InputSession& s, float x, float y) {
  const Index px = nearest_pixel(s.frame.x_axis, s.frame.xnumdat, x, s.xs, s.xe);
  const Index py = nearest_pixel(s.frame.y_axis, s.frame.ynumdat, y, s.ys, s.ye);
  float value = -1.7e38f;
  for (Index j = std::max(py - 1, s.ys); j <= std::min(py + 1, s.ye); ++j)
    for (Index i = std::max(px - 1, s.xs); i <= std::min(px + 1, s.xe); ++i)
      value = std::max(value, s.residual[static_cast<std::size_t>(element(i, j, s.frame.xmaxdat))]);
  return value;
}

// One clicked point; false after an escape or the end of the input.
bool click(const InputSession& s, std::string_view prompt, const std::string& help, float& x,
           float& y, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  const GsDisplayedImage image =
      kzt_displayed_image(a.xmaxdat, a.ymaxdat, s.xs, s.ys, s.xe, s.ye, s.residual, {},
                          kzt_xline(a.xaxis), kzt_yline(a.yaxis), "Residuals", s.sets.xlabel,
                          s.sets.ylabel, s.sets.zlabel);
  int num = 1;
  float xs[1] = {0.0f}, ys[1] = {0.0f};
  GS_INPS_FCOORDINATES(false, image, prompt, 1, {help}, false, 1, num, xs, ys, status);
  if (status != kStatusGood || num < 1) return false;
  x = xs[0];
  y = ys[0];
  return true;
}

void input_surface(InputSession& s, Status& status) {
  InputFeatures& f = s.features;
  if (f.surface) {
    IO_WRITE("WARNING: The 2-D polynomial is already defined", status);
    return;
  }
  int xo = 0, yo = 0, xi = 0, yi = 0;
  IO_INPI(true, 0, kMaxSurfaceOrder, true, "2-D POLYNOMIAL X ORDER",
          {"Order of polynomial function in X-direction"}, {"Must be within specified bounds"}, xo,
          status);
  IO_INPI(true, 0, kMaxSurfaceOrder, true, "POLYNOMIAL Y ORDER",
          {"Order of polynomial function in Y-direction"}, {"Must be within specified bounds"}, yo,
          status);
  IO_INPI(true, 0, xo, true, "INITIALISATION POLYNOMIAL X ORDER",
          {"Order of initialisation polynomial function in X-direction"},
          {"Must be within specified bounds"}, xi, status);
  IO_INPI(true, 0, yo, true, "INITIALISATION POLYNOMIAL Y ORDER",
          {"Order of initialisation polynomial function in Y-direction"},
          {"Must be within specified bounds"}, yi, status);
  if (status != kStatusGood) return;
  if ((xo + 1) * (yo + 1) > kMaxFeatureParameters) {
    IO_WRITE(kFull, status);
    return;
  }
  SurfaceFit fit;
  int failure = 0;
  KZT_FITCHEBYSHEV(s.frame.xmaxdat, s.frame.ymaxdat, s.xs, s.ys, s.xe, s.ye, s.residual,
                   s.frame.x_axis, s.frame.y_axis, kzt_mask(), xi, yi, fit, failure, status);
  if (status != kStatusGood) return;
  if (failure != 0) {
    IO_WRITE("WARNING: Failed to fit polynomial coefficients", status);
    return;
  }
  f.surface = true;
  f.x_order = xo;
  f.y_order = yo;
  f.coeffs = fit.coeffs;  // the higher coefficients start at 0.0
  f.x_min = fit.x_min;
  f.y_min = fit.y_min;
  f.x_max = fit.x_max;
  f.y_max = fit.y_max;
  InputFeatures one;
  one.surface = true;
  one.x_order = xo;
  one.y_order = yo;
  one.coeffs = f.coeffs;
  one.x_min = f.x_min, one.y_min = f.y_min, one.x_max = f.x_max, one.y_max = f.y_max;
  draw_into_residual(s, one, -1.0f, status);
}

InputFeatures single_peak(const InputFeatures& f, const InputPeak& p) {
  InputFeatures one;
  one.x_centre = f.x_centre;
  one.y_centre = f.y_centre;
  one.peaks.push_back(p);
  return one;
}

// One row (or one column) is drawn as a graph of intensity, where a click's
// vertical is no coordinate: a symmetry centre and an angular width mean
// nothing there, and CHOICE, which needs them, is refused in one line.
bool refused_on_one_line(const InputSession& s, std::string_view choice, Status& status) {
  if (s.ys != s.ye && s.xs != s.xe) return false;
  IO_WRITE("WARNING: " + std::string(choice) + " needs an image: on one " +
               (s.ys == s.ye ? "row" : "column") +
               " a symmetry centre and an angular width mean nothing",
           status);
  return true;
}

void input_peak(InputSession& s, int kind, Status& status) {
  InputFeatures& f = s.features;
  if (kind != 1 && refused_on_one_line(s, kind == 4 ? "TWIN POLAR GAUSSIAN" : "POLAR GAUSSIAN",
                                       status))
    return;
  if (static_cast<int>(f.peaks.size()) >= kMaxPeaks) return;
  if (kind != 1 && !f.centre_defined) {
    if (!click(s, "CLICK ON SYMMETRY CENTRE", "Place cursor on centre of polar symmetry",
               f.x_centre, f.y_centre, status))
      return;
    f.centre_defined = true;
  }
  InputPeak p;
  p.kind = kind;
  // One row (or one column) is drawn as a graph of intensity: a Gaussian's
  // clicks give its position and width along the line only, and across it
  // the peak is the line's.
  const bool on_row = kind == 1 && s.ys == s.ye && s.xe > s.xs;
  const bool on_column = kind == 1 && s.xs == s.xe && s.ye > s.ys;
  const bool on_line = on_row || on_column;
  if (!click(s, "CLICK ON PEAK CENTRE", "Place cursor on centre of peak to be defined", p.x, p.y,
             status) ||
      !click(s, "CLICK ON FIRST (OR RADIAL) HALF HEIGHT COORDINATE",
             "Place cursor on first half height position", p.x1, p.y1, status) ||
      (!on_line && !click(s, "CLICK ON SECOND (OR ANGULAR) HALF HEIGHT COORDINATE",
                          "Place cursor on second half height position", p.x2, p.y2, status)))
    return;
  if (on_line) {
    // The graph's horizontal is the position along the line.
    const auto& axis = on_row ? s.frame.y_axis : s.frame.x_axis;
    const Index line = on_row ? s.ys : s.xs;
    const Index count = on_row ? s.frame.ynumdat : s.frame.xnumdat;
    const std::size_t at = static_cast<std::size_t>(line - 1);
    if (on_column) {
      p.y = p.x;
      p.y1 = p.x1;
    }
    float& across = on_row ? p.y : p.x;
    float& across1 = on_row ? p.y1 : p.x1;
    float& across2 = on_row ? p.y2 : p.x2;
    across = across1 = across2 = axis[at];
    if (on_row) p.x2 = p.x;
    else p.y2 = p.y;
    // The line's width in axis units (1 where the axis has no neighbour).
    float width = 0.0f;
    if (line < count) width = std::fabs(axis[at + 1] - axis[at]);
    else if (line > 1) width = std::fabs(axis[at] - axis[at - 1]);
    p.row_width = std::isfinite(width) && width > 0.0f ? width : 1.0f;
    p.on_column = on_column;
  }
  p.x_step = axis_step_at(s.frame.x_axis, s.frame.xnumdat, p.x);
  p.y_step = axis_step_at(s.frame.y_axis, s.frame.ynumdat, p.y);
  p.height = residual_at(s, p.x, p.y);
  if (kind == 4) {
    float tx = 0.0f, ty = 0.0f;
    if (!click(s, "CLICK ON TWIN PEAK CENTRE", "Place cursor on centre of twin peak", tx, ty,
               status))
      return;
    p.twin_height = residual_at(s, tx, ty);
  }
  // A height that is no number would spread through the residual every
  // later start is read from.
  if (!std::isfinite(p.height) || (kind == 4 && !std::isfinite(p.twin_height))) {
    IO_WRITE("WARNING: The residual at the peak centre is not a finite number; the peak is not "
             "entered",
             status);
    return;
  }
  // A clicked peak whose residual is below zero (a low-count spot under a
  // level entered first) would start as no valid peak, and a fit started
  // there never moves it: it starts with no height, which the model takes
  // as its least height and the fit grows from.
  p.height = std::max(p.height, 0.0f);
  if (kind == 4) p.twin_height = std::max(p.twin_height, 0.0f);
  f.peaks.push_back(p);
  draw_into_residual(s, single_peak(f, p), -1.0f, status);
}

void input_rowline(InputSession& s, Status& status) {
  InputFeatures& f = s.features;
  if (refused_on_one_line(s, "ROW-LINE", status)) return;
  if (f.rowline) {
    IO_WRITE("WARNING: A \"row-line\" is already defined (1 maximum)", status);
    return;
  }
  if (!f.centre_defined) {
    if (!click(s, "CLICK ON SYMMETRY CENTRE", "Place cursor on centre of polar symmetry",
               f.x_centre, f.y_centre, status))
      return;
    f.centre_defined = true;
  }
  if (!s.frame.geometry_known) {
    // The row-line needs the distance (and the wavelength, stored with it).
    bool defined = false;
    float xb = 0, yb = 0, d = kDefaultSampleDistance, wl = kDefaultWavelength, tr = 0, ta = 0,
          dr = 0;
    KZT_INQ_GEOMETRY(defined, xb, yb, d, wl, tr, ta, dr, status);
    KZT_INP_SAMPLEDISTANCE(false, d, status);
    KZT_INP_WAVELENGTH(false, wl, status);
    if (status != kStatusGood) return;
    KZT_SET_GEOMETRY(true, xb, yb, d, wl, tr, ta, dr, status);
    s.frame.geometry_known = kzt_geometry_known(s.frame.sample_distance);
  }
  InputRowLine r;
  const int limit = kMaxRowLineOrders - 1;
  IO_INPI(true, -limit, limit, true, "LOWEST ORDER", {"Lowest order to be simulated"},
          {"Must be within set limit, which are program defined"}, r.low, status);
  if (status != kStatusGood) return;
  r.high = std::min(10, r.low + limit);
  r.high = std::max(r.high, r.low);
  IO_INPI(true, r.low, r.low + limit, true, "HIGHEST ORDER", {"Highest order to be simulated"},
          {"Must be within set limit, which are program defined"}, r.high, status);
  const auto& ax = s.frame.x_axis;
  const auto& ay = s.frame.y_axis;
  r.x_centre = (ax[static_cast<std::size_t>(s.xs - 1)] + ax[static_cast<std::size_t>(s.xe - 1)]) / 2;
  r.y_centre = (3 * ay[static_cast<std::size_t>(s.ys - 1)] + ay[static_cast<std::size_t>(s.ye - 1)]) / 4;
  IO_INPR(false, 0, 0, true, "ROW-LINE CENTRE X-COORDINATE",
          {"X-coordinate of centre of lower (or right) row-line"}, {"Enter valid real value"},
          r.x_centre, status);
  IO_INPR(false, 0, 0, true, "ROW-LINE CENTRE Y-COORDINATE",
          {"Y-coordinate of centre of lower (or right) row-line"}, {"Enter valid real value"},
          r.y_centre, status);
  float rotation = 3.0f, spacing = 18.0f, shift = 9.0f, sda = 0.1f;
  IO_INPR(true, -90.0f, 90.0f, true, "ROW LINE ROTATION",
          {"Rotation angle of the row-line relative to the row-line equator (zero)",
           "The angle is to be defined in degrees (positive means anticlockwise)"},
          {"Must be within set limits"}, rotation, status);
  IO_INPR(false, 0, 0, true, "PEAK TO PEAK DISTANCE", {"Spacing between Bragg peaks"},
          {"Enter valid real value"}, spacing, status);
  IO_INPR(false, 0, 0, true, "ZERO ORDER PEAK DISTANCE",
          {"Distance from row line centre to zero order peak centre"}, {"Enter valid real value"},
          shift, status);
  IO_INPR(true, 0.0f, 1.7e38f, true, "LEFT RIGHT INTENSITY RATIO",
          {"Ratio of reflected row-line peak intensities to those of the",
           "primary row-line peaks"},
          {"Must be within set limits"}, r.ratio, status);
  IO_INPR(true, 0.0f, 1.7e38f, true, "RADIAL STANDARD DEVIATION",
          {"Standard deviation of peaks in the radial direction"}, {"Must be within set limits"},
          r.sdr, status);
  IO_INPR(true, 0.0f, 1.7e38f, true, "ANGULAR STANDARD DEVIATION",
          {"Standard deviation of peaks in the angular direction", "(in degrees)"},
          {"Must be within set limits"}, sda, status);
  if (status != kStatusGood) return;
  const float px = axis_to_pixel(ax, s.frame.xnumdat, r.x_centre) -
                   axis_to_pixel(ax, s.frame.xnumdat, f.x_centre);
  const float py = axis_to_pixel(ay, s.frame.ynumdat, r.y_centre) -
                   axis_to_pixel(ay, s.frame.ynumdat, f.y_centre);
  const double dx = px * s.frame.x_pixel_size, dy = py * s.frame.y_pixel_size;
  const double hyp = std::sqrt(dx * dx + dy * dy + static_cast<double>(s.frame.sample_distance) *
                                                      s.frame.sample_distance);
  r.rotation = rotation * kDegree;
  r.ppa = static_cast<float>(spacing * s.frame.x_pixel_size / hyp);
  r.psh = static_cast<float>(shift * s.frame.x_pixel_size / hyp);
  r.sda = sda * kDegree;
  // Start intensities from the residual near each order's position.
  std::vector<float> p = {static_cast<float>(r.low), static_cast<float>(r.high), f.x_centre,
                          f.y_centre, r.x_centre, r.y_centre, r.rotation, r.ppa, r.psh, r.ratio,
                          r.sdr, r.sda};
  std::vector<RowLinePeak> peaks;
  kzt_rowline_positions(s.frame, p, r.low, r.high, false, peaks);
  for (int n = r.low; n <= r.high; ++n) {
    const RowLinePeak pk = peaks.empty() ? RowLinePeak{std::nanf(""), std::nanf("")}
                                         : peaks[static_cast<std::size_t>(n - r.low)];
    const float cx = axis_to_pixel(ax, s.frame.xnumdat, pk.x);
    const float cy = axis_to_pixel(ay, s.frame.ynumdat, pk.y);
    float value = 0.0f;
    if (std::isfinite(cx) && std::isfinite(cy) && cx >= s.xs - 1 && cx <= s.xe &&
        cy >= s.ys - 1 && cy <= s.ye) {
      value = box_maximum(s, pk.x, pk.y);
    } else {
      IO_WRITE("Centre of Peak order " + format_i(n, 3) + " is outside data region", status);
      IO_INPR(false, 0, 0, true, " INTENSITY ORDER " + format_i(n, 3), {" please input intensity"},
              {"Enter valid real value"}, value, status);
      if (status != kStatusGood) return;
    }
    r.intensities.push_back(value);
  }
  f.rowline = true;
  f.row = r;
  InputFeatures one;
  one.x_centre = f.x_centre;
  one.y_centre = f.y_centre;
  one.rowline = true;
  one.row = r;
  draw_into_residual(s, one, -1.0f, status);
}

const std::string kMenu[] = {"EXIT",       "?",         "2-D POLYNOMIAL",   "GAUSSIAN",
                             "MASK",       "POLAR GAUSSIAN", "ROW-LINE", "REMOVE LAST PEAK",
                             "TWIN POLAR GAUSSIAN"};
const std::string kMenuHelp[] = {
    "EXIT: No more peaks to define, exit model defining menu",
    "?: This help text",
    "2-D POLYNOMIAL: Define general \"background\" polynomial",
    "GAUSSIAN: Add 2-D Gaussian peak parameters to fit model",
    "MASK: Mask-off or un-mask regions of the data",
    "POLAR GAUSSIAN: Add 2-D polar Gaussian parameters to model",
    "ROW-LINE: Add a \"row-line\" of peaks to the fit model",
    "REMOVE LAST PEAK: Remove previous peak from model",
    "TWIN POLAR GAUSSIAN: Add symmetric polar Gaussians to model"};
constexpr int kNumMenu = static_cast<int>(std::size(kMenu));

// KZT_INPUTMODEL: the menu until EXIT; false when the input ended.
bool input_model(InputSession& s, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  bool redraw = true;
  while (status == kStatusGood) {
    if (redraw) {
      GS_MPLOT(true, a.xmaxdat, a.ymaxdat, s.residual, kzt_mask(), kzt_xline(a.xaxis),
               kzt_yline(a.yaxis), s.xs, s.ys, s.xe, s.ye, "Residuals", s.sets.xlabel,
               s.sets.ylabel, s.sets.zlabel, status);
      GS_SET_MENULAYOUT(0, 3, 14, 20, status);
      GS_FMENU(1, 1, {"ENTER PEAK TYPE"}, kNumMenu, kNumMenu, kMenu, status);
    }
    redraw = true;
    int input_type = kGsChoiceNone;
    std::string choice = "null";
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(kNumMenu, kNumMenu, kMenu, 0, input_type, choice, x, y, status);
    if (status != kStatusGood) return false;
    if (input_type != kGsChoiceButton) continue;
    if (choice == "EXIT") return true;
    if (choice == "?") {
      GS_MESSAGE(kNumMenu, kNumMenu, kMenuHelp, status);
    } else if (choice == "2-D POLYNOMIAL") {
      input_surface(s, status);
    } else if (choice == "GAUSSIAN") {
      input_peak(s, 1, status);
    } else if (choice == "POLAR GAUSSIAN") {
      input_peak(s, 3, status);
    } else if (choice == "TWIN POLAR GAUSSIAN") {
      input_peak(s, 4, status);
    } else if (choice == "ROW-LINE") {
      input_rowline(s, status);
    } else if (choice == "REMOVE LAST PEAK") {
      if (!s.features.peaks.empty()) {
        const InputPeak last = s.features.peaks.back();
        s.features.peaks.pop_back();
        draw_into_residual(s, single_peak(s.features, last), 1.0f, status);
      }
    } else if (choice == "MASK") {
      s.sets.mask_exist = s.sets.mask_exist || a.mask != nullptr;
      Index xs = s.xs, ys = s.ys, xe = s.xe, ye = s.ye;
      KZT_MASK(false, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, s.residual, kzt_xline(a.xaxis),
               kzt_yline(a.yaxis), "Residuals", s.sets.xlabel, s.sets.ylabel, s.sets.zlabel,
               s.sets.x_pixel_size, s.sets.y_pixel_size, xs, ys, xe, ye, kzt_mask(), status);
    }
    // An escape inside a choice only ends that choice.
    if (status == kStatusEscape) st_reset(status);
  }
  return false;
}

}  // namespace

void KZT_GUI_PARAMETERS(bool keyboard_mode, KztDataSets& sets, FitModel& model, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_GUI_PARAMETERS V0.1";
  KztArrays& a = vosq_kzt_arrays;
  if (kzt_region_refused(kName, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                         status))
    return;
  if (a.data == nullptr) return st_fail(status, kBaseApp + 1, kName);
  kzt_create_mask(sets.mask_exist, status);
  if (status != kStatusGood) return;
  IO_WRITE("INFO: As you input model features the model is built up. The intensity", status);
  IO_WRITE("      values used to initialise features are based on the data minus the", status);
  IO_WRITE("      current model value. It is recommended to select the most intense", status);
  IO_WRITE("      features first, followed by the next intense features, etc. If the", status);
  IO_WRITE("      background is large and is to fitted with a 2-D polynomial, this", status);
  IO_WRITE("      should be selected first, but initialised with a low order", status);
  IO_WRITE("      polynomial so not to fit too much to the other features", status);
  if (keyboard_mode) {
    IO_WRITE("NOTE: The definition of model 2-D polynomials has been changed to", status);
    IO_WRITE("      Chebyshev form. User input has also been changed.", status);
    gs_say_control(GsControlMove::kPassed, status);
  }
  const KztWorkImage residual(a.xmaxdat, a.ymaxdat);
  MA_RCOPY(a.xmaxdat, a.ymaxdat, kzt_image(a.data), 1, 1, std::max(a.xnumdat, a.xendelm),
           std::max(a.ynumdat, a.yendelm), a.xmaxdat, a.ymaxdat, residual.pixels(), status);
  if (status != kStatusGood) return;
  InputSession s{sets,      kzt_program_frame(sets), a.xstrelm, a.ystrelm, a.xendelm,
                 a.yendelm, residual.pixels(),       {}};
  const bool done = input_model(s, status);
  if (keyboard_mode) {
    Status local = kStatusGood;
    float gx1 = 0, gy1 = 0, gx2 = 0, gy2 = 0;
    GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, local);
    GS_PROMPT(true, 1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, gx1, gy1, gx2, gy2, local);
    GS_UPDATE(local);
  }
  if (!done) {
    if (status == kStatusGood) status = kStatusEscape;
    return;
  }
  FitModel built;
  s.features.intensity_unit = kzt_intensity_unit(kzt_image(a.data), kzt_mask(), a.xmaxdat,
                                                 a.xstrelm, a.ystrelm, a.xendelm, a.yendelm);
  kzt_features_to_model(s.features, built, status);
  if (status == kStatusGood) model = built;
}

}  // namespace kesta
