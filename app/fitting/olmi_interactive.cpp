#include "app/fitting/olmi_interactive.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/fitting/model_input.hpp"
#include "app/fitting/setup.hpp"
#include "app/imageops/conventions.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/chebyshev.hpp"

namespace kesta {

namespace {

constexpr float kWidth = 2.35482f;

// The start model while it is built, with the working residual.
struct OneDSession {
  std::span<const float> row;
  std::span<const float> x_axis;
  Index xmaxdat;
  Index xs, xe;
  std::vector<float> residual;
  FitModel model;
  bool polynomial = false;
};

// The unit of the row's values in which the change sizes of heights and
// coefficients are set.
float row_unit(const OneDSession& s) {
  return kzt_intensity_unit(s.row, {}, s.xmaxdat, s.xs, 1, s.xe, 1);
}

void add_parameter(FitModel& m, float value, int code, std::string name, float scale) {
  const std::size_t i = static_cast<std::size_t>(m.num_parameters++);
  m.params[i] = value;
  m.codes[i] = code;
  name.resize(10, ' ');
  m.names[i] = std::move(name);
  m.scales[i] = scale;
  m.constraints[i] = false;
}

// Draws the residual (or the row) as a curve of the displayed channels.
void draw_row(const OneDSession& s, std::span<const float> values, std::string_view title,
              Status& status) {
  GS_XYSGRAPH(s.xmaxdat, s.xs, s.xe, s.x_axis, values, title, "Channels", "Intensity", status);
}

// Two clicks on the graph; false after an escape or the end of the input.
bool two_clicks(const char* first, const char* first_help, const char* second,
                const char* second_help, float x[2], float y[2], Status& status) {
  const GsRect& g = gs_state.gui_region;
  for (int k = 0; k < 2; ++k) {
    int num = 1;
    GS_INP_COORDINATES(g.xmin, g.ymin, g.xmax, g.ymax, k == 0 ? first : second, 1,
                       {std::string(k == 0 ? first_help : second_help)}, false, 1, num,
                       std::span<float>(x + k, 1), std::span<float>(y + k, 1), status);
    if (status != kStatusGood || num < 1) return false;
  }
  return true;
}

// The feature just added, subtracted from the residual.
void subtract_last(OneDSession& s, Status& status) {
  FitModel one = s.model;
  // Only the last feature: its parameters renumbered as feature 1.
  FitModel last;
  const int f = s.model.num_features;
  for (int i = 0; i < one.num_parameters; ++i)
    if (code_feature(one.codes[static_cast<std::size_t>(i)]) == f) {
      const std::size_t k = static_cast<std::size_t>(last.num_parameters++);
      last.params[k] = one.params[static_cast<std::size_t>(i)];
      last.codes[k] = one.codes[static_cast<std::size_t>(i)] - f + 1;
    }
  last.num_features = 1;
  last.x_order = one.x_order;
  last.x_min_poly = one.x_min_poly;
  last.x_max_poly = one.x_max_poly;
  std::vector<float> curve(s.residual.size(), 0.0f);
  kzt_olmi_row_model(last, s.xmaxdat, s.xs, s.xe, curve, status);
  for (Index x = s.xs; x <= s.xe; ++x)
    s.residual[static_cast<std::size_t>(x - 1)] -= curve[static_cast<std::size_t>(x - 1)];
}

void add_peak(OneDSession& s, int type, Status& status) {
  float x[2], y[2];
  const bool decay = type == kOneDDecay, wave = type == kOneDSinusoid;
  const bool got =
      decay ? two_clicks("CLICK ON MAXIMUM AND START OF DECAY", "Place cursor on decay start and maximum",
                         "CLICK ON DECAY SLOPE AT HALF HEIGHT",
                         "Place cursor on decay slope at half height", x, y, status)
      : wave ? two_clicks("CLICK ON MAXIMUM OF SINUSOIDAL FUNCTION",
                          "Place cursor on maximum of sinusoidal function",
                          "CLICK ON ADJACENT MINIMUM", "Place cursor on adjacent minimum", x, y,
                          status)
             : two_clicks("CLICK ON PEAK TOP", "Place cursor on centre and top",
                          "CLICK ON PEAK AT HALF HEIGHT",
                          "Place cursor on edge of peak at half its height", x, y, status);
  if (!got) return;
  const int need = type == kOneDVoigt ? 4 : 3;
  if (s.model.num_parameters + need > kMaxFitParameters || s.model.num_features >= 99) {
    IO_WRITE("WARNING: Parameter array full, not enough room to store feature parameters", status);
    return;
  }
  const float x1 = axis_to_pixel(s.x_axis, s.xmaxdat, x[0]);
  const float x2 = axis_to_pixel(s.x_axis, s.xmaxdat, x[1]);
  const float d = std::fabs(x2 - x1);
  const float height = 2.0f * (y[0] - y[1]);
  const int f = ++s.model.num_features;
  FitModel& m = s.model;
  // The square root of a height is a change size of counts: it is taken in
  // the row's intensity unit. A zero start gives no change size; it takes
  // the unit.
  const float unit = row_unit(s);
  const auto scale_of = [unit](float v) {
    return v == 0.0f ? unit : unit * std::sqrt(std::fabs(v) / unit);
  };
  switch (type) {
    case kOneDGaussian:
    case kOneDLorentzian:
    case kOneDVoigt: {
      const char* tag = type == kOneDGaussian ? "GAU" : type == kOneDLorentzian ? "LOR" : "VOI";
      add_parameter(m, x1, f + 20010000 + 100 * type, feature_name(tag, f, " POS"), 1.0f);
      add_parameter(m, height, f + 20000 + 100 * type, feature_name(tag, f, " MAX"), scale_of(height));
      if (type == kOneDGaussian)
        add_parameter(m, 2.0f * d / kWidth, f + 10030200, feature_name(tag, f, "  SD"), 0.5f);
      if (type == kOneDLorentzian)
        add_parameter(m, d, f + 10030300, feature_name(tag, f, "HWHM"), 0.5f);
      if (type == kOneDVoigt) {
        add_parameter(m, d / kWidth, f + 10030400, feature_name(tag, f, "  SD"), 0.5f);
        add_parameter(m, 0.5f * d, f + 10040400, feature_name(tag, f, "HWHM"), 0.5f);
      }
      m.result_names[static_cast<std::size_t>(std::min(m.num_results, kMaxFitResults - 1))] =
          feature_name(tag, f, " INT");
      m.num_results = std::min(m.num_results + 1, kMaxFitResults);
      if (type == kOneDVoigt && m.num_results < kMaxFitResults)
        m.result_names[static_cast<std::size_t>(m.num_results++)] = feature_name(tag, f, "FWHM");
      break;
    }
    case kOneDDecay:
      add_parameter(m, x1, f + 20011300, feature_name("EXP", f, " POS"), 1.0f);
      add_parameter(m, height, f + 21300, feature_name("EXP", f, " MAX"), scale_of(height));
      add_parameter(m, d, f + 10031300, feature_name("EXP", f, " H-L"), 1.0f);
      break;
    default:
      add_parameter(m, x1, f + 20011400, feature_name("TRI", f, " POS"), 1.0f);
      add_parameter(m, 0.5f * (y[0] - y[1]), f + 21400, feature_name("TRI", f, " AMP"),
                    scale_of(0.5f * (y[0] - y[1])));
      add_parameter(m, 2.0f * d, f + 10031400, feature_name("TRI", f, " PER"), 1.0f);
      break;
  }
  subtract_last(s, status);
}

void add_polynomial(OneDSession& s, Status& status) {
  if (s.polynomial) {
    IO_WRITE("WARNING: The polynomial is already defined", status);
    return;
  }
  int order = 0, init = 0;
  IO_INPI(true, 0, 99, true, "POLYNOMIAL ORDER", {"Order of polynomial function"},
          {"Must be within specified bounds"}, order, status);
  IO_INPI(true, 0, order, true, "INITIALISATION POLYNOMIAL ORDER",
          {"Order of initialisation polynomial function"}, {"Must be within specified bounds"},
          init, status);
  if (status != kStatusGood) return;
  if (s.model.num_parameters + order + 1 > kMaxFitParameters) {
    IO_WRITE("WARNING: Parameter array full, not enough room to store feature parameters", status);
    return;
  }
  // Channel coordinates of the finite values of the displayed region.
  std::vector<float> x, y;
  Index non_finite = 0;
  for (Index c = s.xs; c <= s.xe; ++c) {
    const float v = s.residual[static_cast<std::size_t>(c - 1)];
    if (!std::isfinite(v)) {
      ++non_finite;
      continue;
    }
    x.push_back(static_cast<float>(c) - 0.5f);
    y.push_back(v);
  }
  kzt_non_finite_note(non_finite, "channels", status);
  std::vector<float> coeffs(static_cast<std::size_t>(order) + 1, 0.0f);
  float lo = static_cast<float>(s.xs) - 1.0f, hi = static_cast<float>(s.xe);
  float residual = 0.0f;
  int retstat = 0;
  Status local = kStatusGood;
  const Index n = static_cast<Index>(x.size());
  if (n >= init + 1 && n >= 2)
    MA_1DCHEBYSHEV(false, false, false, n, n, x, y, {}, order + 1, init, lo, hi, retstat, coeffs,
                   residual, local);
  if (n < init + 1 || n < 2 || local != kStatusGood || retstat != 0) {
    IO_WRITE("WARNING: Failed to fit polynomial coefficients", status);
    return;
  }
  s.polynomial = true;
  FitModel& m = s.model;
  const int f = ++m.num_features;
  const float unit = row_unit(s);
  for (int k = 0; k <= order; ++k) {
    const float c = k <= init ? coeffs[static_cast<std::size_t>(k)] : 0.0f;
    add_parameter(m, c, k == 0 ? f + 60010500 : f + 500 + 10000 * (k + 1),
                  "POL   " + format_i(k, 2), unit * std::max(std::fabs(c) / unit / 50.0f, 0.1f));
  }
  m.x_order = order;
  m.x_min_poly = lo;
  m.x_max_poly = hi;
  subtract_last(s, status);
}

const std::string kMenu[] = {"EXIT",       "?",          "HELP",       "EXP. DECAY",
                             "GAUSSIAN",   "LORENTZIAN", "POLYNOMIAL", "SINUSOIDAL",
                             "VOIGTIAN",   "UN-ZOOM",    "ZOOM IN"};
const std::string kMenuHelp[] = {
    "EXIT: No more peaks to define, exit model defining menu",
    "?: This help text",
    "HELP: Advice on defining an initial fit model",
    "EXP. DECAY: Add exponential decay function to fit model",
    "GAUSSIAN: Add Gaussian peak function to fit model",
    "LORENTZIAN: Add Lorentzian peak function to fit model",
    "POLYNOMIAL: Add \"background\" Chebyshev polynomial to fit model",
    "SINUSOIDAL: Add cosine/sine function to fit model",
    "VOIGTIAN: Add (true) Voigtain peak function to fit model",
    "UN-ZOOM: Define larger graphical display region (and ADR)",
    "ZOOM IN: Define smaller graphical display region (and ADR)"};
constexpr int kNumMenu = static_cast<int>(std::size(kMenu));

const std::string kHelpPage[] = {
    "        1-D FITTING MODEL INITIALISATION MENU       ",
    "                                                  ",
    "Build the start model of the fit on this row:     ",
    "for a peak press its button, then click on the    ",
    "top of the peak and on its edge at half height.   ",
    "Each new peak is drawn in inverse video and taken ",
    "away from the data, so that the next one starts   ",
    "from what the earlier ones leave.                 ",
    "A background must be selected explicitly with     ",
    "POLYNOMIAL; it is fitted to the data minus the    ",
    "peaks entered before it.                          ",
    "ZOOM IN and UN-ZOOM act on the selected region    ",
    "only. EXIT returns to the main menu of the        ",
    "interface, where OPTIMISE fits the model.         "};

}  // namespace

void KZT_1DINITHELP(Status& status) {
  if (st_bad(status, "Subroutine KZT_1DINITHELP V0.1")) return;
  GS_MESSAGE(static_cast<int>(std::size(kHelpPage)), static_cast<int>(std::size(kHelpPage)),
             kHelpPage, status);
}

void KZT_1DINITIALISE(std::span<const float> row, std::span<const float> x_axis,
                      std::string_view title, std::string_view, std::string_view,
                      Index& xstrelm, Index& xendelm, FitModel& model, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_1DINITIALISE V0.1";
  if (st_bad(status, kName)) return;
  const Index xmax = static_cast<Index>(row.size());
  if (xmax < 1 || xstrelm < 1 || xendelm > xmax || xendelm < xstrelm ||
      x_axis.size() < row.size())
    return st_fail(status, kBaseApp + 5, kName);
  if (xstrelm == xendelm) {
    IO_WRITE("The data is only 1 column wide !", status);
    IO_WRITE("If the data is a vertical column, use", status);
    IO_WRITE("\"TRANSPOSE\" to create a 1-D row", status);
    return;
  }
  IO_WRITE("NOTE: Unlike the program OLMI you need to click on \"POLYNOMIAL\"", status);
  IO_WRITE("      for a background polynomial, including a zero order polynomial,", status);
  IO_WRITE("      to be included in the fit model", status);
  OneDSession s{row, x_axis, xmax, xstrelm, xendelm, std::vector<float>(row.begin(), row.end()),
                {}, false};
  bool redraw = true;
  while (status == kStatusGood) {
    if (redraw) {
      draw_row(s, s.residual, title, status);
      GS_SET_MENULAYOUT(0, 3, 19, 12, status);
      GS_FMENU(1, 1, {"ENTER MODEL FEATURE"}, kNumMenu, kNumMenu, kMenu, status);
    }
    redraw = true;
    int input_type = kGsChoiceNone;
    std::string choice = "null";
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(kNumMenu, kNumMenu, kMenu, 0, input_type, choice, x, y, status);
    if (status != kStatusGood) return;  // nothing changes when the input ends
    if (input_type != kGsChoiceButton) continue;
    if (choice == "EXIT") break;
    if (choice == "?") {
      GS_MESSAGE(kNumMenu, kNumMenu, kMenuHelp, status);
    } else if (choice == "HELP") {
      KZT_1DINITHELP(status);
    } else if (choice == "GAUSSIAN") {
      add_peak(s, kOneDGaussian, status);
    } else if (choice == "LORENTZIAN") {
      add_peak(s, kOneDLorentzian, status);
    } else if (choice == "VOIGTIAN") {
      add_peak(s, kOneDVoigt, status);
    } else if (choice == "EXP. DECAY") {
      add_peak(s, kOneDDecay, status);
    } else if (choice == "SINUSOIDAL") {
      add_peak(s, kOneDSinusoid, status);
    } else if (choice == "POLYNOMIAL") {
      add_polynomial(s, status);
    } else if (choice == "ZOOM IN") {
      float cx[2], cy[2];
      if (two_clicks("CLICK ON FIRST LIMIT", "Click on one end of the region to display",
                     "CLICK ON SECOND LIMIT", "Click on the other end of the region", cx, cy,
                     status)) {
        const auto channel = [&](float v) {
          const float p = axis_to_pixel(x_axis, xmax, v);
          return std::clamp<Index>(static_cast<Index>(std::ceil(std::isfinite(p) ? p : 1.0f)), 1,
                                   xmax);
        };
        const Index a = channel(cx[0]), b = channel(cx[1]);
        if (a != b) {
          s.xs = std::min(a, b);
          s.xe = std::max(a, b);
        }
      }
    } else if (choice == "UN-ZOOM") {
      const Index width = s.xe - s.xs + 1;
      s.xs = std::max<Index>(1, s.xs - width / 2);
      s.xe = std::min<Index>(xmax, s.xe + width / 2);
    }
    if (status == kStatusEscape) st_reset(status);
  }
  if (status != kStatusGood) return;
  draw_row(s, s.residual, "RESIDUALS OF INTITIAL FIT MODEL", status);
  model = s.model;
  xstrelm = s.xs;
  xendelm = s.xe;
}

void KZT_1DCONSTRAINTS(FitModel& model, Status& status) {
  if (st_bad(status, "Subroutine KZT_1DCONSTRAINTS V0.1")) return;
  const int n = std::clamp(model.num_parameters, 0, kMaxFitParameters);
  static const std::string kHelp[] = {
      "Enter \"YES\" to keep a parameter at its value during the fit,",
      "\"NO\" to let the fit vary it. The names tell the feature and",
      "the parameter: GAU Gaussian, LOR Lorentzian, VOI Voigtian, POS",
      "position, MAX peak height, SD standard deviation, HWHM half",
      "width at half maximum, POL followed by the coefficient order."};
  for (int first = 0; first < n; first += 12) {
    const int last = std::min(n, first + 12);
    std::vector<GsFormItem> items;
    for (int i = first; i < last; ++i) {
      GsFormItem item = kzt_form_item(format_i(i + 1, 3), 2, model.names[static_cast<std::size_t>(i)],
                                      "Constrain (YES) or free (NO) this parameter");
      item.logical_value = model.constraints[static_cast<std::size_t>(i)];
      items.push_back(std::move(item));
    }
    int code = 0;
    GS_FORM(2, 2, {"FIT PARAMETERS STATES:", "constrained (YES) or unconstrained (NO)"}, 5, 5,
            kHelp, static_cast<int>(items.size()) + 5, items, code, status);
    if (status != kStatusGood) return;
    if (code != 0) {
      status = kStatusEscape;
      return;
    }
    for (int i = first; i < last; ++i)
      model.constraints[static_cast<std::size_t>(i)] =
          items[static_cast<std::size_t>(i - first)].logical_value;
  }
}

void KZT_OLMISETUP(bool variances_exist, OlmiControls& controls, Status& status) {
  if (st_bad(status, "Subroutine KZT_OLMISETUP V0.1")) return;
  // Weights kept from arrays that had variances: the form shows no WEIGHTED
  // without them, so it says here why the fit is unweighted.
  if (controls.weighted && kzt_weights_refused(variances_exist, status)) controls.weighted = false;
  std::vector<GsFormItem> items;
  GsFormItem info = kzt_form_item("INFO. LEVEL", 1, "LEVEL OF FITTING INFORMATION",
                                  "Fitting information level: 0 = minimum, 2 = maximum");
  info.ranged = true;
  info.int_lower = 0;
  info.int_upper = 2;
  info.int_value = std::clamp(controls.info_level, 0, 2);
  items.push_back(info);
  GsFormItem iterations = kzt_form_item("ITER / PAR", 3, "No. OF ITERATIONS PER PARAMETER",
                                        "Maximum number of iterations per free parameter");
  iterations.ranged = true;
  iterations.real_lower = 0.1f;
  iterations.real_upper = 200.0f;
  iterations.real_value = std::clamp(controls.iterations, 0.1f, 200.0f);
  items.push_back(iterations);
  GsFormItem frequency =
      kzt_form_item("DIS. FREQ.", 1, "DISPLAY FREQUENCY OF RESULTS",
                    "Enter number of rows bewteen graphical display of fitted results");
  frequency.ranged = true;
  frequency.int_lower = 0;
  frequency.int_upper = 1024;
  frequency.int_value = std::clamp(controls.display_frequency, 0, 1024);
  items.push_back(frequency);
  GsFormItem evolve = kzt_form_item("EVOLUTION", 2, "ALLOW FIT PARAMETER VALUES TO EVOLVE",
                                    "\"YES\" to start each row from the fit of the row before");
  evolve.logical_value = controls.evolve;
  items.push_back(evolve);
  if (variances_exist) {
    GsFormItem weighted = kzt_form_item("WEIGHTED", 2, "WEIGHTED FITTING",
                                        "\"YES\" to weight the fit by the variances");
    weighted.logical_value = controls.weighted;
    items.push_back(weighted);
  }
  int code = 0;
  GS_FORM(1, 1, {"FITTING CONTROL PARAMETERS"}, 3, 3,
          {"This size form allows you to adjustaspects", "of the fit and graphical display of",
           "results."},
          static_cast<int>(items.size()) + 5, items, code, status);
  if (status != kStatusGood) return;
  if (code != 0) {
    status = kStatusEscape;
    return;
  }
  controls.info_level = items[0].int_value;
  controls.iterations = items[1].real_value;
  controls.display_frequency = items[2].int_value;
  controls.evolve = items[3].logical_value;
  controls.weighted = variances_exist && items.size() > 4 && items[4].logical_value;
}

void KZT_OLMIDISPLAY(const FitModel& model, std::span<const float> row,
                     std::span<const float> variances, std::span<const std::uint8_t> mask,
                     std::span<const float> x_axis, Index xmaxdat, Index xstrelm, Index xendelm,
                     const std::string& title, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_OLMIDISPLAY V0.1";
  if (st_bad(status, kName)) return;
  if (xstrelm < 1 || xendelm < xstrelm || xendelm > xmaxdat ||
      row.size() < static_cast<std::size_t>(xmaxdat) || x_axis.size() < row.size())
    return st_fail(status, kBaseApp + 5, kName);
  const std::size_t n = static_cast<std::size_t>(xmaxdat);
  const Index curves = model.num_features + 2;
  // Curve 0 the data, 1..F the features, F + 1 the total model.
  std::vector<float> x(n * static_cast<std::size_t>(curves)), y(x.size(), 0.0f);
  for (Index c = 0; c < curves; ++c)
    std::copy_n(x_axis.begin(), n, x.begin() + static_cast<long>(c * xmaxdat));
  std::copy_n(row.begin(), n, y.begin());
  for (int f = 1; f <= model.num_features && status == kStatusGood; ++f)
    KZT_1DFEATURE(model, f, xmaxdat, xstrelm, xendelm,
                  std::span<float>(y.data() + static_cast<std::size_t>(f) * n, n), status);
  std::span<float> total(y.data() + static_cast<std::size_t>(curves - 1) * n, n);
  kzt_olmi_row_model(model, xmaxdat, xstrelm, xendelm, total, status);
  if (status != kStatusGood) return;
  std::vector<Index> starts(static_cast<std::size_t>(curves), xstrelm);
  std::vector<Index> ends(static_cast<std::size_t>(curves), xendelm);
  GsCurves c;
  c.maxpts = xmaxdat;
  c.maxcurves = curves;
  c.numcurves = curves;
  c.starts = starts;
  c.ends = ends;
  c.x = x;
  c.y = y;
  // Error bars only from variances that are all usable.
  std::vector<float> errors;
  if (!variances.empty()) {
    bool valid = variances.size() >= n;
    for (Index i = xstrelm; valid && i <= xendelm; ++i) {
      const float v = variances[static_cast<std::size_t>(i - 1)];
      valid = std::isfinite(v) && v >= 0.0f;
    }
    if (valid) {
      errors.assign(x.size(), 0.0f);
      for (std::size_t i = 0; i < n; ++i) errors[i] = std::sqrt(variances[i]);
      c.ylow = c.yhigh = errors;
    } else {
      IO_WRITE("WARNING: Problem with variance values", status);
    }
  }
  float gx1 = 0, gy1 = 0, gx2 = 1, gy2 = 1;
  GS_INQ_GPP(gx1, gy1, gx2, gy2, status);
  // The graph's rectangle holds both panels' axes, the residuals' below
  // taking 0.3 of the height, with room between them for the upper panel's
  // X numbers and label and the lower panel's title, so that neither is
  // drawn into the other panel.
  float below = 0.0f, above = 0.0f;
  gs_xy_text_room(below, above);
  const float height = gy2 - gy1;
  const float axes = std::max(height - below - above, 0.2f * height);
  const float lower_top = gy1 + 0.3f * axes;
  const float upper_bottom = gy2 - 0.7f * axes;
  GS_SET_GPP(gx1, upper_bottom, gx2, gy2, status);
  if (errors.empty())
    GS_XYGRAPH(c, title, "Channels", "Intensity", status);
  else
    GS_XYEGRAPH(c, title, "Channels", "Intensity", status);
  // Masked channels as markers.
  std::vector<float> mx, my;
  for (Index i = xstrelm; i <= xendelm; ++i)
    if (static_cast<std::size_t>(i - 1) < mask.size() && mask[static_cast<std::size_t>(i - 1)] != 0) {
      mx.push_back(x_axis[static_cast<std::size_t>(i - 1)]);
      my.push_back(row[static_cast<std::size_t>(i - 1)]);
    }
  if (!mx.empty())
    GS_MARKERS(1, static_cast<Index>(mx.size()), 1, static_cast<Index>(mx.size()), mx, my, status);
  std::vector<float> residual(n, 0.0f);
  for (Index i = xstrelm; i <= xendelm; ++i)
    residual[static_cast<std::size_t>(i - 1)] =
        row[static_cast<std::size_t>(i - 1)] - total[static_cast<std::size_t>(i - 1)];
  // The lower panel must not clear the page under the upper one.
  bool fill = true;
  int background = 0;
  GS_INQ_BACKGROUND(fill, background, status);
  GS_SET_BACKGROUND(false, background, status);
  GS_SET_GPP(gx1, gy1, gx2, lower_top, status);
  GS_XYSGRAPH(xmaxdat, xstrelm, xendelm, x_axis, residual, " Residuals ", "Channels", "Residual",
              status);
  Status local = kStatusGood;
  GS_SET_GPP(gx1, gy1, gx2, gy2, local);
  GS_SET_BACKGROUND(fill, background, local);
}

}  // namespace kesta
