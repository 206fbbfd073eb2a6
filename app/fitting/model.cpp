#include "app/fitting/model.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/imageops/conventions.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "numeric/chebyshev.hpp"
#include "numeric/profiles2d.hpp"

namespace kesta {

namespace {

constexpr float kHalfPi = 1.5707963f;
constexpr float kTiny = 1.0e-37f;

float at_least_tiny(float v) { return v < kTiny ? kTiny : v; }

// LOW and HIG taken to the nearest integer, halves away from zero.
int nearest(float v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::lround(std::clamp(v, -1.0e6f, 1.0e6f)));
}

void add_polar(const ModelFrame& frame, Index xs, Index ys, Index xe, Index ye, float height,
               float x_peak, float y_peak, float x_polar, float y_polar, float radial,
               float angular, std::span<float> array, Status& status) {
  if (!std::isfinite(x_peak) || !std::isfinite(y_peak)) return;
  MA_2DPOLARGAU(frame.xmaxdat, frame.ymaxdat, xs, ys, xe, ye, frame.x_axis, frame.y_axis, height,
                x_peak, y_peak, x_polar, y_polar, at_least_tiny(radial), at_least_tiny(angular),
                kPeakCutoff, kPeakMode, array, status);
}

void add_surface(const ModelFrame& frame, const FitModel& model, const FeatureParameters& f,
                 Index xs, Index ys, Index xe, Index ye, std::span<float> array, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_FEATURE V0.1";
  if (model.x_order < 0 || model.x_order > kMaxSurfaceOrder) {
    st_fail(status, kBaseApp + 10009, kName);
    return;
  }
  if (model.y_order < 0 || model.y_order > kMaxSurfaceOrder) {
    st_fail(status, kBaseApp + 10010, kName);
    return;
  }
  std::array<float, kSurfaceTable * kSurfaceTable> table{};
  int k = 0;
  for (int j = 0; j <= model.y_order; ++j)
    for (int i = 0; i <= model.x_order; ++i, ++k)
      if (k < kMaxFeatureParameters)
        table[static_cast<std::size_t>(i + kSurfaceTable * j)] = f.p[static_cast<std::size_t>(k)];
  const Index rows = ye - ys + 1;
  std::vector<float> row_values(static_cast<std::size_t>(rows));
  std::vector<float> row_coeffs(static_cast<std::size_t>(rows * (model.x_order + 1)));
  MA_CAL_2DCHEBYSHEV(true, model.x_min_poly, model.y_min_poly, model.x_max_poly,
                     model.y_max_poly, kSurfaceTable, kSurfaceTable, table, model.x_order,
                     model.y_order, frame.xmaxdat, frame.ymaxdat, xs, ys, xe, ye,
                     model.x_order + 1, rows, frame.x_axis, frame.y_axis, row_values, row_coeffs,
                     array, status);
}

}  // namespace

FeatureParameters kzt_feature_parameters(const FitModel& model, int feature) {
  FeatureParameters f;
  for (int i = 0; i < model.num_parameters; ++i) {
    const int code = model.codes[static_cast<std::size_t>(i)];
    if (code_feature(code) != feature) continue;
    const int number = code_parameter(code);
    if (number < 1 || number > kMaxFeatureParameters) continue;
    f.p[static_cast<std::size_t>(number - 1)] = model.params[static_cast<std::size_t>(i)];
    f.index[static_cast<std::size_t>(number - 1)] = i;
    f.count = std::max(f.count, number);
    if (number == 1) f.type = code_type(code);
  }
  return f;
}

namespace {

// What a 2-D feature of TYPE is called in a message; null for a type the
// model does not know.
const char* feature_kind(int type) {
  switch (type) {
    case kGaussian:
      return "2-D Gaussian";
    case kPolarCentre:
    case kPolar:
      return "polar Gaussian";
    case kTwinCentre:
    case kTwin:
      return "twin polar Gaussian";
    case kSurface:
      return "Chebyshev surface";
    case kRowLine:
      return "row-line";
    default:
      return nullptr;
  }
}

// The number of parameters a 2-D feature of TYPE has: a surface's follow its
// orders, a row-line's its orders LOW..HIGH.
int feature_size(const FitModel& model, int type, int low, int high) {
  switch (type) {
    case kGaussian:
      return 6;
    case kPolarCentre:
      return 7;
    case kPolar:
      return 5;
    case kTwinCentre:
      return 8;
    case kTwin:
      return 6;
    case kSurface:
      return (model.x_order + 1) * (model.y_order + 1);
    case kRowLine:
      return kRowLineFixed + high - low + 1;
    default:
      return 0;
  }
}

std::string trimmed(std::string_view text) { return std::string(trimmed_text(text)); }

std::string shown(float value) { return trimmed(format_e(value, 12, 4, 1)); }

}  // namespace

std::string kzt_model_fault(const FitModel& model) {
  const int n = std::clamp(model.num_parameters, 0, kMaxFitParameters);
  const auto parameter = [&](int i) {
    const std::string& name = model.names[static_cast<std::size_t>(i)];
    return "parameter " + std::to_string(i + 1) + " (" +
           std::string(without_trailing_blanks(name)) + ")";
  };
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(model.params[static_cast<std::size_t>(i)]))
      return parameter(i) + " with a value that is not a finite number";
    if (!std::isfinite(model.scales[static_cast<std::size_t>(i)]))
      return parameter(i) + " with a scale that is not a finite number";
    // The fit steps a free parameter by its scale: 0 would never move it.
    if (!model.constraints[static_cast<std::size_t>(i)] &&
        model.scales[static_cast<std::size_t>(i)] == 0.0f)
      return "free " + parameter(i) + " with a scale of 0";
  }
  const auto coded = [&](int i) {
    return parameter(i) + " with code " + std::to_string(model.codes[static_cast<std::size_t>(i)]) +
           " naming";
  };
  const auto with_code = [&](int i) {
    return parameter(i) + " with code " + std::to_string(model.codes[static_cast<std::size_t>(i)]);
  };
  // The model reads a parameter only through a code naming one of its
  // features, a type it knows and a parameter that type has; anything else
  // would be fitted as if the feature were not there. The digits read by
  // their place must mean something there too: the digits of a code
  // beyond its eight, or of a negative one, belong to no field.
  for (int i = 0; i < n; ++i) {
    const int code = model.codes[static_cast<std::size_t>(i)];
    if (code < 0) return with_code(i) + ", a negative code";
    if (code > 99999999) return with_code(i) + ", a code of more than eight digits";
    if (code_digit(code, 7) > 1)
      return with_code(i) + ", a constraint digit of " + std::to_string(code_digit(code, 7)) +
             " (0 or 1)";
    const int feature = code_feature(code);
    if (feature < 1 || feature > model.num_features)
      return coded(i) + " feature " + std::to_string(feature) + ", not one of the " +
             std::to_string(model.num_features) + " features";
    if (feature_kind(code_type(code)) == nullptr)
      return coded(i) + " a feature type " + std::to_string(code_type(code)) +
             " the model does not know";
    // Only a row-line's parameters are reported in other units.
    const int unit = code_digit(code, 8);
    if (unit != 0 && code_type(code) != kRowLine)
      return with_code(i) + ", a unit class of " + std::to_string(unit) + " on a " +
             feature_kind(code_type(code)) + " (only a row-line's parameters have one)";
    if (unit != 0 && unit != 1 && unit != 2 && unit != 5 && unit != 6)
      return with_code(i) + ", a unit class of " + std::to_string(unit) +
             " (0, 1, 2, 5 or 6)";
  }
  int surface = 0;
  for (int feature = 1; feature <= model.num_features; ++feature) {
    const FeatureParameters f = kzt_feature_parameters(model, feature);
    const std::string which = "feature " + std::to_string(feature);
    // The feature's type is that of its first parameter, or of any when it
    // has none.
    int type = f.index[0] >= 0 ? f.type : 0;
    for (int i = 0; i < n && type == 0; ++i)
      if (code_feature(model.codes[static_cast<std::size_t>(i)]) == feature)
        type = code_type(model.codes[static_cast<std::size_t>(i)]);
    if (type == 0) return which + " without parameters";
    const std::string kind = std::string("a ") + feature_kind(type) + " (" + which + ")";
    if (type == kSurface) {
      // One table of coefficients, one set of orders and one range.
      if (surface > 0)
        return "a second Chebyshev surface (" + which + ") beside feature " +
               std::to_string(surface) + "; the model has one";
      surface = feature;
      if (model.x_order < 0 || model.x_order > kMaxSurfaceOrder || model.y_order < 0 ||
          model.y_order > kMaxSurfaceOrder)
        return "a Chebyshev surface (" + which + ") of orders beyond " +
               std::to_string(kMaxSurfaceOrder);
      if (!(model.x_min_poly < model.x_max_poly) || !(model.y_min_poly < model.y_max_poly) ||
          !std::isfinite(model.x_max_poly - model.x_min_poly) ||
          !std::isfinite(model.y_max_poly - model.y_min_poly))
        return "a Chebyshev surface (" + which + ") over an empty normalisation range";
    }
    int low = 0, high = -1;
    if (type == kRowLine && f.index[0] >= 0 && f.index[1] >= 0) {
      low = nearest(f.p[0]);
      high = nearest(f.p[1]);
      if (low > high || high - low + 1 > kMaxRowLineOrders)
        return "a row-line (" + which + ") of orders " + std::to_string(low) + " to " +
               std::to_string(high);
    }
    const int size = feature_size(model, type, low, high);
    const std::string has =
        std::to_string(size) + (type == kSurface ? " coefficient" : " parameter") +
        (size == 1 ? "" : "s") +
        (type == kSurface ? " for orders " + std::to_string(model.x_order) + " by " +
                                std::to_string(model.y_order)
                          : std::string());
    std::array<int, kMaxFeatureParameters + 1> seen{};
    int distinct = 0;
    for (int i = 0; i < n; ++i) {
      const int code = model.codes[static_cast<std::size_t>(i)];
      if (code_feature(code) != feature) continue;
      if (code_type(code) != type)
        return coded(i) + " type " + std::to_string(code_type(code)) + " in " + which + ", a " +
               feature_kind(type) + " (type " + std::to_string(type) + ")";
      const int number = code_parameter(code);
      if (number < 1 || number > size)
        return coded(i) + " parameter " + std::to_string(number) + " of " + kind +
               ", which has " + has;
      int& before = seen[static_cast<std::size_t>(number)];
      if (before > 0)
        return coded(i) + " parameter " + std::to_string(number) + " of " + kind +
               ", as does " + parameter(before - 1);
      before = i + 1;
      ++distinct;
    }
    if (distinct < size) {
      const bool fixed = type == kRowLine &&
                         std::all_of(seen.begin() + 1, seen.begin() + 1 + kRowLineFixed,
                                     [](int i) { return i > 0; });
      if (fixed) return "a row-line (" + which + ") without an intensity for each order";
      return kind + " with " + std::to_string(distinct) + " of its " + has;
    }
  }
  // The fit names its results by their place among the names held: names
  // in another order, or too few, would name one feature's intensity after
  // another, or leave it without a name.
  const std::size_t held_count = static_cast<std::size_t>(std::clamp(model.num_results, 0, kMaxFitResults));
  std::vector<std::string> held(model.result_names.begin(),
                                model.result_names.begin() + static_cast<long>(held_count));
  for (std::string& name : held) name.resize(10, ' ');
  const std::vector<std::string> all = kzt_result_names(model);
  const std::vector<std::string> peaks = kzt_result_names(model, false);
  if (held == all || held == peaks) return {};
  if (held.size() != all.size() && held.size() != peaks.size())
    return std::to_string(held.size()) + " result name" + (held.size() == 1 ? "" : "s") +
           " where its features give " + std::to_string(all.size());
  const std::vector<std::string>& wanted = held.size() == all.size() ? all : peaks;
  const auto named = [](const std::string& name) {
    const std::string t = trimmed(name);
    return t.empty() ? std::string("(blank)") : "\"" + t + "\"";
  };
  for (std::size_t r = 0; r < held.size(); ++r)
    if (held[r] != wanted[r])
      return "result name " + std::to_string(r + 1) + " " + named(held[r]) +
             " where its features give " + named(wanted[r]);
  return {};
}

std::vector<std::string> kzt_result_names(const FitModel& model, bool with_rowline) {
  std::vector<std::string> names;
  const auto add = [&](std::string name) {
    if (names.size() >= static_cast<std::size_t>(kMaxFitResults)) return;
    name.resize(10, ' ');
    names.push_back(std::move(name));
  };
  int rowlines = 0;
  for (int feature = 1; feature <= model.num_features; ++feature) {
    const FeatureParameters f = kzt_feature_parameters(model, feature);
    const int type = f.index[0] >= 0 ? f.type : 0;
    switch (type) {
      case kGaussian:
        add(feature_name("GAU", feature, " INT"));
        break;
      case kPolarCentre:
      case kPolar:
        add(feature_name("PGa", feature, " INT"));
        break;
      case kTwinCentre:
      case kTwin:
        add(feature_name("TPG", feature, " In1"));
        add(feature_name("TPG", feature, " In2"));
        break;
      case kRowLine: {
        ++rowlines;
        const int low = nearest(f.p[0]);
        const int high = nearest(f.p[1]);
        if (!with_rowline || low > high || high - low + 1 > kMaxRowLineOrders) break;
        for (int order = low; order <= high; ++order)
          add("ROW" + format_i(rowlines, 2) + "I" + format_i(order, 3));
        break;
      }
      default:
        break;
    }
  }
  return names;
}

std::vector<std::string> kzt_fit_faults(const FitModel& model, FeatureNeeds (*needs)(int type),
                                        const std::function<bool(float, float)>& inside,
                                        const FittedValues& values) {
  std::vector<std::string> lines;
  for (int feature = 1; feature <= model.num_features; ++feature) {
    const FeatureParameters f = kzt_feature_parameters(model, feature);
    const auto present = [&](int number) {
      return number >= 1 && number <= kMaxFeatureParameters &&
             f.index[static_cast<std::size_t>(number - 1)] >= 0;
    };
    const auto value = [&](int number) { return f.p[static_cast<std::size_t>(number - 1)]; };
    const auto at = [&](int number) {
      return static_cast<std::size_t>(f.index[static_cast<std::size_t>(number - 1)]);
    };
    const auto name = [&](int number) { return trimmed(model.names[at(number)]); };
    const auto show = [&](int number) {
      return shown(at(number) < values.shown.size() ? values.shown[at(number)] : value(number));
    };
    std::vector<std::string> faults;
    for (int k = 1; k <= f.count; ++k)
      if (present(k) && !std::isfinite(value(k)))
        faults.push_back(name(k) + " is not a finite number");
    const FeatureNeeds need = needs(f.type);
    // A centre that is no number has been named already.
    const bool has_x = need.x > 0 && present(need.x) && std::isfinite(value(need.x));
    const bool has_y = need.y > 0 && present(need.y) && std::isfinite(value(need.y));
    if (has_x && (need.y == 0 || has_y) &&
        !inside(value(need.x), need.y > 0 ? value(need.y) : 0.0f)) {
      if (need.y > 0)
        faults.push_back(name(need.x) + ", " + name(need.y) + " = (" + show(need.x) + ", " +
                         show(need.y) + ") lies outside the data region");
      else
        faults.push_back(name(need.x) + " = " + show(need.x) + " lies outside the data region");
    }
    for (const int k : need.positive)
      if (present(k) && std::isfinite(value(k)) && !(value(k) > 0.0f))
        faults.push_back(name(k) + " = " + show(k) + " is not above 0");
    if (need.not_negative_from > 0)
      for (int k = need.not_negative_from; k <= f.count; ++k)
        if (present(k) && std::isfinite(value(k)) && value(k) < 0.0f)
          faults.push_back(name(k) + " = " + show(k) + " is below 0");
    const std::size_t results = std::min(values.owners.size(), values.results.size());
    for (std::size_t r = 0; r < results; ++r) {
      if (values.owners[r] != feature) continue;
      const float v = values.results[r];
      std::string what = r < values.result_names.size() ? trimmed(values.result_names[r]) : "";
      if (what.empty()) what = "result " + std::to_string(r + 1);
      if (!std::isfinite(v))
        faults.push_back(what + " is not a finite number");
      else if (need.positive_results && !(v > 0.0f))
        faults.push_back(what + " = " + shown(v) + " is not above 0");
    }
    if (faults.empty()) continue;
    std::string line = "WARNING: Feature " + std::to_string(feature) + " is not valid: ";
    for (std::size_t i = 0; i < faults.size(); ++i) line += (i > 0 ? "; " : "") + faults[i];
    lines.push_back(std::move(line));
  }
  return lines;
}

float kzt_misfit_noise(std::span<const double> misfits) {
  if (misfits.size() < 2) return 0.0f;
  std::vector<double> steps(misfits.size() - 1);
  for (std::size_t k = 1; k < misfits.size(); ++k)
    steps[k - 1] = std::fabs(misfits[k] - misfits[k - 1]);
  const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
  std::nth_element(steps.begin(), middle, steps.end());
  double median = *middle;
  if (steps.size() % 2 == 0) median = 0.5 * (median + *std::max_element(steps.begin(), middle));
  return static_cast<float>(1.4826 * median / std::sqrt(2.0));
}

void kzt_non_finite_note(Index count, std::string_view units, Status& status) {
  if (count > 0)
    IO_WRITE("INFO: " + std::to_string(count) + " " + std::string(units) +
                 " that are not finite numbers are left out of the fit",
             status);
}

int code_digit(int code, int n) {
  long long v = std::llabs(static_cast<long long>(code));
  for (int i = 1; i < n; ++i) v /= 10;
  return static_cast<int>(v % 10);
}

std::string feature_name(const char* prefix, int number, const char* tag) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s%2d%s", prefix, number % 100, tag);
  std::string name(buffer);
  name.resize(10, ' ');
  return name;
}

void KZT_FUNTYPE(int max_parameters, std::span<const int> codes, int num_parameters, int feature,
                 int& type, int& index, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_FUNTYPE V0.1";
  if (st_bad(status, kName)) return;
  if (max_parameters < 1) return st_fail(status, kBaseApp + 1, kName);
  if (num_parameters < 1 || num_parameters > max_parameters ||
      static_cast<std::size_t>(num_parameters) > codes.size())
    return st_fail(status, kBaseApp + 5, kName);
  type = 0;
  index = 0;
  for (int i = 0; i < num_parameters; ++i) {
    const int code = codes[static_cast<std::size_t>(i)];
    if (code_feature(code) == feature && code_parameter(code) == 1) {
      type = code_type(code);
      index = i + 1;
      return;
    }
  }
}

void KZT_CAL_PROJECTION(float distance, float x_pixel_size, float y_pixel_size, float x_centre,
                        float y_centre, float c, float s, float angle_1, float angle_2, float& x,
                        float& y, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_CAL_PROJECTION V0.1";
  if (st_bad(status, kName)) return;
  if (!(distance > 0.0f) || !(x_pixel_size > 0.0f) || !(y_pixel_size > 0.0f))
    return st_fail(status, kBaseApp + 21, kName);
  if (!(std::fabs(angle_1) < kHalfPi) || !(std::fabs(angle_2) < kHalfPi))
    return st_fail(status, kBaseApp + 22, kName);
  const double a = -std::tan(static_cast<double>(angle_1)) * distance;
  const double b = std::tan(static_cast<double>(angle_2)) * distance / std::cos(angle_1);
  x = static_cast<float>((a * s + b * c) / x_pixel_size + x_centre);
  y = static_cast<float>((b * s - a * c) / y_pixel_size + y_centre);
}

namespace {

// Step and first centre of an axis over its NUM defined pixels (1.0 per
// pixel when fewer than two or a degenerate axis).
void axis_line(std::span<const float> axis, Index num, double& first, double& step) {
  first = axis.empty() ? 0.5 : axis[0];
  step = 1.0;
  if (num >= 2 && static_cast<std::size_t>(num) <= axis.size()) {
    const double s = (static_cast<double>(axis[static_cast<std::size_t>(num - 1)]) - first) /
                     static_cast<double>(num - 1);
    if (s != 0.0 && std::isfinite(s)) step = s;
  }
}

// The NUM defined values of AXIS when they are numbers that run strictly one
// way, up or down (a d-spacing scale runs down, and not evenly); else empty.
std::span<const float> monotonic_axis(std::span<const float> axis, Index num) {
  if (num < 2 || static_cast<std::size_t>(num) > axis.size()) return {};
  const std::span<const float> defined = axis.first(static_cast<std::size_t>(num));
  const bool up = defined[1] > defined[0];
  for (std::size_t i = 1; i < defined.size(); ++i) {
    const float a = defined[i - 1], b = defined[i];
    if (!std::isfinite(a) || !std::isfinite(b) || !(up ? b > a : b < a)) return {};
  }
  return defined;
}

// The segment (0-based i, from value i to value i + 1) of a monotonic axis
// that holds VALUE, the end segment for a value beyond either end.
std::size_t segment_of(std::span<const float> axis, double value) {
  const bool up = axis.back() > axis.front();
  const auto below = [up](float a, double v) { return up ? a < v : a > v; };
  const auto at = std::lower_bound(axis.begin() + 1, axis.end() - 1, value, below);
  return static_cast<std::size_t>(at - axis.begin()) - 1;
}

}  // namespace

// A monotonic axis is followed value by value, so that an uneven one (a
// d-spacing scale) gives every pixel its own place, and extrapolated beyond
// its ends with the end steps; any other falls back to the line through its
// first and last values.
float axis_to_pixel(std::span<const float> axis, Index num, float value) {
  const std::span<const float> defined = monotonic_axis(axis, num);
  if (!defined.empty()) {
    const std::size_t i = segment_of(defined, value);
    const double a = defined[i], b = defined[i + 1];
    return static_cast<float>(static_cast<double>(i) + 0.5 + (value - a) / (b - a));
  }
  double first = 0.0, step = 1.0;
  axis_line(axis, num, first, step);
  return static_cast<float>((value - first) / step + 0.5);
}

float pixel_to_axis(std::span<const float> axis, Index num, float pixel) {
  const std::span<const float> defined = monotonic_axis(axis, num);
  if (!defined.empty()) {
    const double position = static_cast<double>(pixel) - 0.5;
    const double limit = static_cast<double>(defined.size() - 2);
    const double floor = std::isfinite(position) ? std::floor(position) : 0.0;
    const std::size_t i = static_cast<std::size_t>(std::clamp(floor, 0.0, limit));
    const double a = defined[i], b = defined[i + 1];
    return static_cast<float>(a + (position - static_cast<double>(i)) * (b - a));
  }
  double first = 0.0, step = 1.0;
  axis_line(axis, num, first, step);
  return static_cast<float>(first + (pixel - 0.5) * step);
}

float axis_step_at(std::span<const float> axis, Index num, float value) {
  const float p = std::floor(axis_to_pixel(axis, num, value)) + 0.5f;
  const float step =
      std::fabs(pixel_to_axis(axis, num, p + 0.5f) - pixel_to_axis(axis, num, p - 0.5f));
  return std::isfinite(step) && step > 0.0f ? step : 1.0f;
}

bool kzt_rowline_positions(const ModelFrame& frame, std::span<const float> p, int low, int high,
                           bool reflected, std::vector<RowLinePeak>& peaks) {
  peaks.clear();
  if (!frame.geometry_known || !(frame.sample_distance > 0.0f)) return false;
  const float xs = axis_to_pixel(frame.x_axis, frame.xnumdat, p[2]);
  const float ys = axis_to_pixel(frame.y_axis, frame.ynumdat, p[3]);
  const float xc = axis_to_pixel(frame.x_axis, frame.xnumdat, p[4]);
  const float yc = axis_to_pixel(frame.y_axis, frame.ynumdat, p[5]);
  const double dx = static_cast<double>(xc - xs) * frame.x_pixel_size;
  const double dy = static_cast<double>(yc - ys) * frame.y_pixel_size;
  const double r = std::hypot(dx, dy);
  // A row-line centred on the symmetry centre points along +X.
  double c = 1.0, s = 0.0, elevation = 0.0;
  if (r > 0.0 && std::isfinite(r)) {
    c = dx / r;
    s = dy / r;
    elevation = std::atan(r / frame.sample_distance);
  }
  const float angle = p[6];
  // The lines lie on the axes: where one axis runs downwards the pixels are
  // the axes' mirror image, and the line the axes put on one side of the
  // radius the pixels put on the other.
  const auto downwards = [](std::span<const float> axis, Index num) {
    return pixel_to_axis(axis, num, 1.0f) < pixel_to_axis(axis, num, 0.0f);
  };
  const bool mirrored =
      downwards(frame.x_axis, frame.xnumdat) != downwards(frame.y_axis, frame.ynumdat);
  for (int n = low; n <= high; ++n) {
    const double step = -(static_cast<double>(n) * p[7] + p[8]);
    double a1 = std::cos(angle) * step;
    if (reflected != mirrored) a1 = -a1;
    const double a2 = elevation + std::sin(angle) * step;
    RowLinePeak peak{std::nanf(""), std::nanf("")};
    Status local = kStatusGood;
    float px = 0.0f, py = 0.0f;
    KZT_CAL_PROJECTION(frame.sample_distance, frame.x_pixel_size, frame.y_pixel_size, xs, ys,
                       static_cast<float>(c), static_cast<float>(s), static_cast<float>(a1),
                       static_cast<float>(a2), px, py, local);
    if (local == kStatusGood) {
      peak.x = pixel_to_axis(frame.x_axis, frame.xnumdat, px);
      peak.y = pixel_to_axis(frame.y_axis, frame.ynumdat, py);
    }
    peaks.push_back(peak);
  }
  return true;
}

void KZT_ROWLINE(const ModelFrame& frame, std::span<const float> p, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, std::span<float> array, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_ROWLINE V0.4";
  if (st_bad(status, kName)) return;
  const int low = nearest(p[0]);
  const int high = nearest(p[1]);
  if (low > high || high - low + 1 > kMaxRowLineOrders ||
      static_cast<std::size_t>(kRowLineFixed + high - low + 1) > p.size())
    return st_fail(status, kBaseApp + 13, kName);
  std::vector<RowLinePeak> peaks;
  for (const bool reflected : {false, true}) {
    if (!kzt_rowline_positions(frame, p, low, high, reflected, peaks))
      return st_fail(status, kBaseApp + 11007,
                     "Subroutine KZT_ROWLINE V0.4 : Experimental geometry not defined");
    for (int n = low; n <= high; ++n) {
      const RowLinePeak& peak = peaks[static_cast<std::size_t>(n - low)];
      float height = p[static_cast<std::size_t>(kRowLineFixed + n - low)];
      if (reflected) height *= p[9];
      add_polar(frame, xstrelm, ystrelm, xendelm, yendelm, height, peak.x, peak.y, p[2], p[3],
                p[10], p[11], array, status);
    }
  }
}

void KZT_FEATURE(const ModelFrame& frame, const FitModel& model, int feature, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, SymmetryCentre& centre,
                 std::span<float> array, Status& status) {
  if (st_bad(status, "Subroutine KZT_FEATURE V0.1")) return;
  const FeatureParameters f = kzt_feature_parameters(model, feature);
  const auto& p = f.p;
  const Index xs = xstrelm, ys = ystrelm, xe = xendelm, ye = yendelm;
  switch (f.type) {
    case kGaussian:
      MA_2DGAUSSIAN(frame.xmaxdat, frame.ymaxdat, xs, ys, xe, ye, frame.x_axis, frame.y_axis,
                    at_least_tiny(p[2]), p[0], p[1], at_least_tiny(p[3]), at_least_tiny(p[4]),
                    p[5], kPeakCutoff, kPeakMode, array, status);
      break;
    case kPolarCentre:
    case kTwinCentre:
    case kPolar:
    case kTwin: {
      const bool own_centre = f.type == kPolarCentre || f.type == kTwinCentre;
      const std::size_t o = own_centre ? 2 : 0;
      if (own_centre) centre = {p[0], p[1]};
      add_polar(frame, xs, ys, xe, ye, p[o + 2], p[o], p[o + 1], centre.x, centre.y, p[o + 3],
                p[o + 4], array, status);
      if (f.type == kTwinCentre || f.type == kTwin)
        add_polar(frame, xs, ys, xe, ye, p[o + 5], 2.0f * centre.x - p[o],
                  2.0f * centre.y - p[o + 1], centre.x, centre.y, p[o + 3], p[o + 4], array,
                  status);
      break;
    }
    case kSurface:
      add_surface(frame, model, f, xs, ys, xe, ye, array, status);
      break;
    case kRowLine:
      centre = {p[2], p[3]};
      KZT_ROWLINE(frame, std::span<const float>(p.data(), static_cast<std::size_t>(f.count)), xs,
                  ys, xe, ye, array, status);
      break;
    default:
      break;
  }
}

void kzt_model_image(const ModelFrame& frame, const FitModel& model, Index xstrelm, Index ystrelm,
                     Index xendelm, Index yendelm, std::span<float> array, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_FUNKESTA V0.1";
  if (kzt_region_refused(kName, frame.xmaxdat, frame.ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                         status, {array.size()}))
    return;
  for_region_rows(frame.xmaxdat, xstrelm, ystrelm, xendelm, yendelm,
                  [&](Index offset, Index, Index n) {
                    std::fill_n(array.data() + offset, n, 0.0f);
                  });
  SymmetryCentre centre;
  for (int feature = 1; feature <= model.num_features && status == kStatusGood; ++feature)
    KZT_FEATURE(frame, model, feature, xstrelm, ystrelm, xendelm, yendelm, centre, array, status);
}

float KZT_PGAUINT(const ModelFrame& frame, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, float height, float x_peak, float y_peak, float x_polar,
                  float y_polar, float radial_width, float angular_width,
                  std::unique_ptr<float[]>& scratch, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_PGAUINT V0.1";
  if (kzt_region_refused(kName, frame.xmaxdat, frame.ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                         status))
    return 0.0f;
  if (!std::isfinite(x_peak) || !std::isfinite(y_peak)) return 0.0f;
  const std::size_t size = static_cast<std::size_t>(frame.xmaxdat * frame.ymaxdat);
  if (!scratch) scratch = std::make_unique_for_overwrite<float[]>(size);
  const std::span<float> work(scratch.get(), size);
  // The reach: radial and angular extents of the cut-off about the peak,
  // enlarged to a box around it in axis units.
  const double radial = kPeakCutoff * std::fabs(static_cast<double>(radial_width));
  const double angular = std::min(kPeakCutoff * std::fabs(static_cast<double>(angular_width)),
                                  3.1415926);
  const double r0 = std::hypot(static_cast<double>(x_peak) - x_polar,
                               static_cast<double>(y_peak) - y_polar);
  const double half = radial + std::min(r0 * angular, 2.0 * r0);
  const auto pixel_range = [](std::span<const float> axis, Index n, double a, double b, Index lo,
                              Index hi, Index& first, Index& last) {
    const double pa = axis_to_pixel(axis, n, static_cast<float>(a));
    const double pb = axis_to_pixel(axis, n, static_cast<float>(b));
    const double low = std::floor(std::min(pa, pb)) - 1.0;
    const double high = std::ceil(std::max(pa, pb)) + 1.0;
    first = static_cast<Index>(std::clamp(low, static_cast<double>(lo), static_cast<double>(hi) + 1));
    last = static_cast<Index>(std::clamp(high, static_cast<double>(lo) - 1, static_cast<double>(hi)));
  };
  Index xs = 0, xe = 0, ys = 0, ye = 0;
  pixel_range(frame.x_axis, frame.xnumdat, x_peak - half, x_peak + half, xstrelm, xendelm, xs, xe);
  pixel_range(frame.y_axis, frame.ynumdat, y_peak - half, y_peak + half, ystrelm, yendelm, ys, ye);
  if (xs > xe || ys > ye) return 0.0f;
  for_region_rows(frame.xmaxdat, xs, ys, xe, ye, [&](Index offset, Index, Index n) {
    std::fill_n(work.begin() + offset, n, 0.0f);
  });
  add_polar(frame, xs, ys, xe, ye, height, x_peak, y_peak, x_polar, y_polar, radial_width,
            angular_width, work, status);
  double sum = 0.0;
  for_region_rows(frame.xmaxdat, xs, ys, xe, ye, [&](Index offset, Index, Index n) {
    for (Index i = 0; i < n; ++i) sum += work[static_cast<std::size_t>(offset + i)];
  });
  return static_cast<float>(sum);
}

}  // namespace kesta
