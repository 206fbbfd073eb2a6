#include "app/fitting/fit2d.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <numbers>
#include <optional>
#include <span>
#include <vector>

#include "app/fitting/floor_widths.hpp"
#include "app/imageops/conventions.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "numeric/modelfit.hpp"

namespace kesta {

void KZT_FUNKESTA(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, void* pass_1, void*,
                  void*, void*, int num_parameters, std::span<const float> params, Index, Index,
                  bool, int& terminate, std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNKESTA V0.1")) return;
  auto& context = *static_cast<Fit2dContext*>(pass_1);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(num_parameters),
                                              context.work.params.size());
  std::copy_n(params.begin(), std::min(n, params.size()), context.work.params.begin());
  kzt_model_image(*context.frame, context.work, xstrelm, ystrelm, xendelm, yendelm, model,
                  status);
  terminate = 0;
}

int kzt_max_calls(int num_parameters, float iterations) {
  const double calls = std::round(static_cast<double>(num_parameters) * iterations);
  if (!(calls >= 1.0)) return 1;
  return static_cast<int>(std::min(calls, 2.0e9));
}

void kzt_fit_results(const ModelFrame& frame, Index xstrelm, Index ystrelm, Index xendelm,
                     Index yendelm, FitModel& model, Status& status, std::vector<int>* owners) {
  if (st_bad(status, "Subroutine KZT_LSQKESTA V0.10")) return;
  std::unique_ptr<float[]> scratch;  // the polar Gaussians' integrals
  int count = 0;
  int rowlines = 0;
  int feature = 1;
  if (owners != nullptr) owners->clear();
  const auto add = [&](float value, std::string name) {
    if (count >= kMaxFitResults) return;
    if (owners != nullptr) owners->push_back(feature);
    model.results[static_cast<std::size_t>(count)] = value;
    model.result_errors[static_cast<std::size_t>(count)] = 0.0f;
    if (!name.empty()) model.result_names[static_cast<std::size_t>(count)] = std::move(name);
    ++count;
  };
  const auto pgauint = [&](float height, float x, float y, float xs, float ys, float rad,
                           float ang) {
    return KZT_PGAUINT(frame, xstrelm, ystrelm, xendelm, yendelm, height, x, y, xs, ys, rad, ang,
                       scratch, status);
  };
  SymmetryCentre centre;
  for (; feature <= model.num_features && status == kStatusGood; ++feature) {
    // Each parameter by its code, in whatever order the model holds them.
    const FeatureParameters f = kzt_feature_parameters(model, feature);
    const int type = f.index[0] >= 0 ? f.type : 0;
    const auto P = [&](int k) { return f.p[static_cast<std::size_t>(k)]; };
    switch (type) {
      case kGaussian:
        // In double: the height times 2 pi alone passes single precision
        // for heights near its largest value, where the intensity may not.
        add(static_cast<float>(static_cast<double>(P(2)) * 6.283185307179586 * P(3) * P(4)), {});
        break;
      case kPolarCentre:
      case kTwinCentre:
        centre = {P(0), P(1)};
        add(pgauint(P(4), P(2), P(3), centre.x, centre.y, P(5), P(6)), {});
        if (type == kTwinCentre) add(pgauint(P(7), P(2), P(3), centre.x, centre.y, P(5), P(6)), {});
        break;
      case kPolar:
      case kTwin:
        add(pgauint(P(2), P(0), P(1), centre.x, centre.y, P(3), P(4)), {});
        if (type == kTwin) add(pgauint(P(5), P(0), P(1), centre.x, centre.y, P(3), P(4)), {});
        break;
      case kRowLine: {
        ++rowlines;
        const int low = static_cast<int>(std::lround(std::clamp(P(0), -1.0e6f, 1.0e6f)));
        const int high = static_cast<int>(std::lround(std::clamp(P(1), -1.0e6f, 1.0e6f)));
        if (low > high || high - low + 1 > kMaxRowLineOrders) break;
        const auto& p = f.p;
        centre = {p[2], p[3]};
        std::vector<RowLinePeak> peaks;
        kzt_rowline_positions(frame, p, low, high, false, peaks);
        for (int n = low; n <= high; ++n) {
          float value = 0.0f;
          if (!peaks.empty()) {
            const RowLinePeak& pk = peaks[static_cast<std::size_t>(n - low)];
            value = pgauint(p[static_cast<std::size_t>(kRowLineFixed + n - low)], pk.x, pk.y,
                            p[2], p[3], p[10], p[11]);
          }
          add(value, "ROW" + format_i(rowlines, 2) + "I" + format_i(n, 3));
        }
        break;
      }
      default:
        break;
    }
  }
  model.num_results = count;
}

namespace {

// What a peak feature of each type needs, by parameter number: its centre,
// and its heights and widths, which must be above 0. A row-line's centre is
// its own (parameters 5 and 6); its order intensities (parameters 13 on) may
// be 0, as an order may be absent, but no intensity is below 0.
FeatureNeeds peak_needs(int type) {
  switch (type) {
    case kGaussian:
      return {1, 2, {3, 4, 5}, true};
    case kPolarCentre:
      return {3, 4, {5, 6, 7}, true};
    case kTwinCentre:
      return {3, 4, {5, 6, 7, 8}, true};
    case kPolar:
      return {1, 2, {3, 4, 5}, true};
    case kTwin:
      return {1, 2, {3, 4, 5, 6}, true};
    case kRowLine:
      return {5, 6, {11, 12}, false, kRowLineFixed + 1};
    default:
      return {};
  }
}

// The widths of each peak type, which the model raises to the floor: a
// Gaussian's two, a polar Gaussian's radial and angular widths (after the
// symmetry centre of a type that carries one), a row-line's two.
bool peak_width(int type, int parameter) {
  switch (type) {
    case kGaussian:
    case kPolar:
    case kTwin:
      return parameter == 4 || parameter == 5;
    case kPolarCentre:
    case kTwinCentre:
      return parameter == 6 || parameter == 7;
    case kRowLine:
      return parameter == 11 || parameter == 12;
    default:
      return false;
  }
}

// The heights the model raises to the floor: a Gaussian's (a polar one's
// and a row-line's order intensities are drawn as they are).
bool floored_height(int type, int parameter) { return type == kGaussian && parameter == 3; }

// The data a fit runs on: FRAME's DATA, the elements it leaves out (UNUSED
// not 0) and its region.
struct FitData {
  const ModelFrame& frame;
  std::span<const float> data;
  std::span<const std::uint8_t> unused;
  Index xstrelm = 1, ystrelm = 1, xendelm = 1, yendelm = 1;
};

// A peak as the data show it beside a stuck one: moved SHIFT pixels along
// the line searched to the top of the data there, HEIGHT above what lies
// under it, HALF its half width at half height in pixels.
struct ShownPeak {
  double shift = 0.0;
  float height = 0.0f;
  double half = 0.0;
};

// Where the data's top within kNear pixels (TOP at SHIFT) is no higher above
// the level of the WIDE pixels either side (their median) than the noise
// allows (three times the noise of their neighbouring differences), the
// highest value there that is moves TOP and SHIFT to it (true). VALUE_AT(t,
// value) reads the element t pixels along, false where the fit leaves it out.
template <typename ValueAt>
bool clear_top(const ValueAt& value_at, int wide, float& top, double& shift) {
  std::vector<double> line;
  std::vector<int> at;
  for (int t = -wide; t <= wide; ++t) {
    float value = 0.0f;
    if (!value_at(t, value)) continue;
    line.push_back(value);
    at.push_back(t);
  }
  if (line.size() < 8) return false;
  const double noise = kzt_misfit_noise(line);
  std::vector<double> sorted(line);
  const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
  std::nth_element(sorted.begin(), middle, sorted.end());
  const double clear = *middle + 3.0 * noise;
  if (top > clear) return false;
  const auto highest = std::max_element(line.begin(), line.end());
  if (!(*highest > clear)) return false;
  top = static_cast<float>(*highest);
  shift = at[static_cast<std::size_t>(highest - line.begin())];
  return true;
}

// The peak the data show near pixel (CX, CY) (continuous pixel coordinates)
// along the pixel direction (DX, DY) (of length 1), for a peak HEIGHT above
// what lies under it at the centre: the top of the data within kNear pixels
// (a click placed in a screen pixel wider than the peak's may miss its top),
// or, where nothing there stands clear of the noise, the highest top that
// does within WIDE pixels (on a long scan one screen pixel holds several of
// the data's, and a click a few screen pixels off lands on the noise beside
// the peak); its height raised by what the data rise there, and the distance
// from it to where the data first fall by half that height on the nearer
// side, within kReach pixels. Nothing where the data show no such peak.
constexpr int kNear = 6, kReach = 64;
std::optional<ShownPeak> shown_peak(const FitData& d, double cx, double cy, double dx, double dy,
                                    float height, int wide) {
  const ModelFrame& f = d.frame;
  // The value of the element T pixels from the centre, where the fit uses it.
  const auto value_at = [&](double t, float& value) {
    const double px = std::floor(cx + t * dx) + 1.0, py = std::floor(cy + t * dy) + 1.0;
    if (!(px >= static_cast<double>(d.xstrelm) && px <= static_cast<double>(d.xendelm) &&
          py >= static_cast<double>(d.ystrelm) && py <= static_cast<double>(d.yendelm)))
      return false;
    const std::size_t k = static_cast<std::size_t>(py - 1.0) * static_cast<std::size_t>(f.xmaxdat) +
                          static_cast<std::size_t>(px - 1.0);
    if (k >= d.data.size() || (k < d.unused.size() && d.unused[k] != 0)) return false;
    value = d.data[k];
    return std::isfinite(value);
  };
  float centre = 0.0f;
  if (!std::isfinite(height) || !value_at(0.0, centre)) return std::nullopt;
  ShownPeak peak;
  float top = centre;
  for (int t = -kNear; t <= kNear; ++t) {
    float value = 0.0f;
    if (value_at(t, value) && value > top) {
      top = value;
      peak.shift = t;
    }
  }
  // A click on a point the noise puts below the level under it starts
  // with no height: only a clear top beside it shows the peak.
  const bool moved = wide > kNear && clear_top(value_at, wide, top, peak.shift);
  if (!(height > 0.0f) && !moved) return std::nullopt;
  peak.height = std::max(height, 0.0f) + (top - centre);
  const float level = top - 0.5f * peak.height;
  double nearest = kReach + 1.0;
  for (const double side : {-1.0, 1.0}) {
    double last_t = 0.0;
    float last = top;
    for (int t = 1; t <= kReach && t < nearest; ++t) {
      float value = 0.0f;
      if (!value_at(peak.shift + side * t, value)) continue;
      if (value < level) {
        nearest = std::min(nearest, last_t + (t - last_t) * (last - level) / (last - value));
        break;
      }
      last_t = t;
      last = value;
    }
  }
  if (nearest > kReach) return std::nullopt;
  peak.half = nearest;
  return peak;
}

// Where a peak's stuck width K of MODEL restarts in PARAMS: at the standard
// deviation of the half width at half height the data show along the
// width's direction (a Gaussian's widths lie along its angle and across it,
// a polar peak's along its radius, in axis units, and across it, as an
// angle), never below a pixel, the peak moved to the top the data show
// beside it along that line, or at two pixels where the data show no peak.
// False for a row-line, whose widths the data around one point do not tell.
bool restart_shown(const FitData& d, const FitModel& model, std::size_t k,
                   std::span<float> params) {
  const int code = model.codes[k];
  const int type = code_type(code);
  if (type != kGaussian && type != kPolar && type != kPolarCentre && type != kTwin &&
      type != kTwinCentre)
    return false;
  const FeatureParameters feature = kzt_feature_parameters(model, code_feature(code));
  const auto param = [&](int number) -> float* {
    const int i = feature.index[static_cast<std::size_t>(number - 1)];
    return i >= 0 && static_cast<std::size_t>(i) < params.size()
               ? &params[static_cast<std::size_t>(i)]
               : nullptr;
  };
  const auto unheld = [&](int number) {
    const int i = feature.index[static_cast<std::size_t>(number - 1)];
    return i >= 0 && !model.constraints[static_cast<std::size_t>(i)];
  };
  const int first = type == kPolarCentre || type == kTwinCentre ? 3 : 1;
  float* const x = param(first);
  float* const y = param(first + 1);
  float* const height = param(first + 2);
  if (x == nullptr || y == nullptr || height == nullptr) return false;
  const bool along = code_parameter(code) == first + 3;
  float ux = 1.0f, uy = 0.0f, radius = 1.0f;
  if (type == kGaussian) {
    const float* const angle = param(6);
    ux = angle != nullptr ? std::cos(*angle) : 1.0f;
    uy = angle != nullptr ? std::sin(*angle) : 0.0f;
  } else {
    // The symmetry centre: this feature's own, or the last one before it.
    float sx = first == 3 && param(1) ? *param(1) : 0.0f,
          sy = first == 3 && param(2) ? *param(2) : 0.0f;
    for (std::size_t i = 0; first == 1 && i < params.size(); ++i) {
      const int c = model.codes[i];
      const int t = code_type(c);
      if ((t != kPolarCentre && t != kTwinCentre) || code_feature(c) >= code_feature(code))
        continue;
      if (code_parameter(c) == 1) sx = params[i];
      if (code_parameter(c) == 2) sy = params[i];
    }
    radius = std::hypot(*x - sx, *y - sy);
    if (!(radius > 0.0f)) return false;
    ux = (*x - sx) / radius;
    uy = (*y - sy) / radius;
  }
  if (!along) {
    std::swap(ux, uy);
    ux = -ux;
  }
  // The line in pixels, and the length of one of its pixels in axis units.
  const ModelFrame& f = d.frame;
  const float ex = axis_step_at(f.x_axis, f.xnumdat, *x), ey = axis_step_at(f.y_axis, f.ynumdat, *y);
  double dx = ux / ex, dy = uy / ey;
  const double norm = std::hypot(dx, dy);
  if (!(norm > 0.0) || !std::isfinite(norm)) return false;
  dx /= norm;
  dy /= norm;
  const double pixel = std::hypot(dx * ex, dy * ey);
  const double cx = axis_to_pixel(f.x_axis, f.xnumdat, *x),
               cy = axis_to_pixel(f.y_axis, f.ynumdat, *y);
  // A hundredth of the region along the line: a few screen pixels of a
  // long scan shown whole.
  const double along_region = std::fabs(dx) * static_cast<double>(d.xendelm - d.xstrelm + 1) +
                              std::fabs(dy) * static_cast<double>(d.yendelm - d.ystrelm + 1);
  const int wide = static_cast<int>(std::clamp(along_region / 100.0, 0.0, double{kReach}));
  double sd = 2.0 * pixel;
  if (const std::optional<ShownPeak> peak = shown_peak(d, cx, cy, dx, dy, *height, wide)) {
    sd = std::max(peak->half / 1.1774, 1.0) * pixel;
    // A held centre or height stays where it is.
    const bool movable =
        (dx == 0.0 || unheld(first)) && (dy == 0.0 || unheld(first + 1)) && unheld(first + 2);
    if (peak->shift != 0.0 && movable) {
      if (dx != 0.0)
        *x = pixel_to_axis(f.x_axis, f.xnumdat,
                           static_cast<float>(std::floor(cx + peak->shift * dx) + 0.5));
      if (dy != 0.0)
        *y = pixel_to_axis(f.y_axis, f.ynumdat,
                           static_cast<float>(std::floor(cy + peak->shift * dy) + 0.5));
      *height = peak->height;
    }
  }
  if (type != kGaussian && !along) sd /= radius;
  params[k] = static_cast<float>(sd);
  return true;
}

// The widths of the peaks fitted to D: a Gaussian narrower than a quarter of
// a pixel (its first width along X, its second along Y) is seen by the pixel
// under it alone (its neighbours get less than 1/3000 of its height), and
// the model hardly moves with it.
WidthRules peak_widths(const FitData& d) {
  return {peak_width,
          [&d](const FitModel& model, std::span<const float> params, std::size_t k) {
            const int code = model.codes[k];
            if (code_type(code) != kGaussian) return false;
            const FeatureParameters feature = kzt_feature_parameters(model, code_feature(code));
            const int at = code_parameter(code) == 4 ? feature.index[0] : feature.index[1];
            const bool x = code_parameter(code) == 4;
            const float centre = at >= 0 && static_cast<std::size_t>(at) < params.size()
                                     ? params[static_cast<std::size_t>(at)]
                                     : feature.p[x ? 0 : 1];
            const ModelFrame& f = d.frame;
            const float pixel = x ? axis_step_at(f.x_axis, f.xnumdat, centre)
                                  : axis_step_at(f.y_axis, f.ynumdat, centre);
            return params[k] < 0.25f * pixel;
          },
          nullptr,
          [&d](const FitModel& model, std::size_t k, std::span<float> params) {
            return restart_shown(d, model, k, params);
          },
          floored_height};
}

// How far a fitted peak must stand out of the noise, in standard deviations
// of the noise over the points it covers, to be a feature of the data: a
// long scan's noise alone puts a fitted bump some 4 deviations out.
constexpr double kFeatureSignificance = 5.0;

// Counts whose level under a peak is below kFewCounts, and whose noise's
// variance lies within kCountsSpread of it either way, are judged by their
// own upper tail too.
constexpr double kFewCounts = 100.0, kCountsSpread = 0.6;

// One element a peak covers: its profile there (1 at the top), the count the
// rest of the model expects there, and the count there.
struct CountTerm {
  double shape, expected, count;
};

// The standard normal deviate whose upper tail is as likely as the sum of
// the counts of TERMS weighted by their profile, were they drawn from the
// counts the rest of the model expects: the saddlepoint approximation to
// the tail of a weighted sum of Poisson counts, by its adjusted signed root
// of the likelihood ratio. A sum at or below its mean gives its deviation
// from it in the normal approximation.
double counted_deviations(std::span<const CountTerm> terms) {
  double observed = 0.0, mean = 0.0, variance = 0.0;
  for (const CountTerm& c : terms) {
    observed += c.shape * c.count;
    mean += c.shape * c.expected;
    variance += c.shape * c.shape * c.expected;
  }
  if (!(variance > 0.0)) return std::numeric_limits<double>::infinity();
  if (!(observed > mean)) return (observed - mean) / std::sqrt(variance);
  // K(t) = sum of expected (exp(t shape) - 1); K'(t) = observed fixes t.
  const auto cumulants = [&](double t, double& k0, double& k1, double& k2) {
    k0 = k1 = k2 = 0.0;
    for (const CountTerm& c : terms) {
      const double e = c.expected * std::exp(t * c.shape);
      k0 += e - c.expected;
      k1 += c.shape * e;
      k2 += c.shape * c.shape * e;
    }
  };
  double t = 0.0, k0 = 0.0, k1 = 0.0, k2 = 0.0;
  for (int round = 0; round < 100; ++round) {
    cumulants(t, k0, k1, k2);
    const double step = (k1 - observed) / k2;
    // K' is convex: from below the root a step overshoots, so it is halved
    // there; from above it closes in.
    t = std::max(step < 0.0 ? t - 0.5 * step : t - step, 0.5 * t);
    if (std::fabs(step) < 1.0e-10 * (1.0 + t)) break;
  }
  cumulants(t, k0, k1, k2);
  const double w = std::sqrt(std::max(2.0 * (t * observed - k0), 0.0));
  const double u = t * std::sqrt(k2);
  if (!(w > 1.0e-3) || !(u > 0.0)) return (observed - mean) / std::sqrt(variance);
  return w + std::log(u / w) / w;
}

// How many elements beyond a peak's reach, either way along each axis, give
// the noise it must stand out of: enough that a few strong neighbours the
// model leaves out stay a small part of it, near enough that a scan whose
// noise grows with its counts is measured where the peak is.
constexpr Index kNoiseMargin = 200;

// The noise about a fitted peak: its standard deviation SD and how much of
// it neighbours share, along a row (ALONG_X[k - 1] for elements k apart) and
// along a column (ALONG_Y): the correlation of the noise of a rebinned scan
// or a blurred image. Lags the noise does not clearly share are left out.
// BALANCED where the misfits' tails balance, as noise's do: what they share
// is noise's, not the sides of peaks the model leaves out.
struct LocalNoise {
  double sd = 0.0;
  std::vector<double> along_x, along_y;
  // Read only where the misfits balance: along the diagonal (DOWN[k - 1]
  // for elements k apart along both axes the same way) and the other one.
  std::vector<double> down, up;
  bool balanced = false;
};

// The share of the differences of misfits kept by step_variance, and the
// mean square of a normal deviate kept so, over its variance.
constexpr double kStepsKept = 0.8;
constexpr double kKeptSquares = 0.4377;

// The variance of STEPS (reordered), the differences of the misfits of pairs
// of elements some distance apart, about their median (a plane under the
// misfits steps them all alike); the last EQUAL of them are those of pairs
// holding equal data. Mostly, the mean square of the 80 % of them nearest
// it, scaled to a normal deviate's: the steps across a spike or the sides
// of peaks the model leaves out, while they are a fifth or fewer, are among
// those dropped, and whole numbers or rounded values still give their full
// spread, which a median or its deviations would lock at the rounding step.
// Where more than a fifth of the pairs hold equal data (counts of a few,
// values rounded coarser than their noise) the steps no longer follow a
// normal deviate's: there the mean square of all, those of unequal pairs
// more than kSparseClip times their median size left out (the side of a
// peak steps by many rounding steps, the noise mostly by one or two; counts
// of one or two on average step by 4 often enough that leaving those out
// reads their noise a tenth low).
double step_variance(std::vector<double>& steps, std::size_t equal, std::vector<double>& sorted) {
  constexpr double kSparseClip = 4.0;
  const std::size_t total = steps.size(), unequal = total - equal;
  // SORTED is the caller's, so that the lags' copies reuse one buffer.
  sorted.assign(steps.begin(), steps.end());
  const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(total / 2);
  std::nth_element(sorted.begin(), middle, sorted.end());
  const double centre = *middle;
  for (double& v : steps) v = (v - centre) * (v - centre);
  double squares = 0.0;
  if (5 * equal > total) {
    if (unequal == 0) return 0.0;
    const auto split = steps.begin() + static_cast<std::ptrdiff_t>(unequal);
    const auto half = steps.begin() + static_cast<std::ptrdiff_t>(unequal / 2);
    std::nth_element(steps.begin(), half, split);
    const double bound = kSparseClip * kSparseClip * *half;
    std::size_t dropped = 0;
    for (auto v = steps.begin(); v != steps.end(); ++v) {
      if (v < split && *v > bound)
        ++dropped;
      else
        squares += *v;
    }
    return squares / static_cast<double>(total - dropped);
  }
  const std::size_t kept = std::max<std::size_t>(
      1, static_cast<std::size_t>(kStepsKept * static_cast<double>(total) + 0.5));
  const auto last = steps.begin() + static_cast<std::ptrdiff_t>(kept);
  if (kept < total) std::nth_element(steps.begin(), last - 1, steps.end());
  for (auto v = steps.begin(); v != last; ++v) squares += *v;
  return squares / static_cast<double>(kept) / kKeptSquares;
}

// The noise of the misfits (the data of D minus MODEL_IMAGE) over the used
// elements of XS..XE, YS..YE about a peak centred at CX, CY (element
// numbers), read from the differences of elements k apart along the rows
// and columns, k from 1 to kLags, or on to kMostLags while the variance
// still rises (step_variance). Differences see neither
// the background the model has only roughly nor, trimmed, the sides of
// strong peaks the model leaves out, which would otherwise pass for noise
// many times the true one. Elements further apart than the noise is shared
// differ by all of it, neighbours that share it by less: the variance of
// the differences rises with k until it levels off at twice the noise's,
// and each lag's own, from 1 on, tells how much of it elements that far
// apart share.
LocalNoise local_noise(const FitData& d, std::span<const float> model_image, Index xs, Index ys,
                       Index xe, Index ye, double cx, double cy) {
  // Noise blurred over 3 elements or more (a detector's point spread) still
  // shares a sixth of itself 8 apart: its level is read further on while
  // the variance two lags back rose by more than kStillRising, which noise
  // shared over fewer elements no longer does there (and going on would
  // only read the largest of more chance readings).
  constexpr std::size_t kLags = 8, kMostLags = 16;
  constexpr double kStillRising = 1.15;
  const std::size_t nx = static_cast<std::size_t>(xe - xs + 1),
                    ny = static_cast<std::size_t>(ye - ys + 1);
  std::vector<double> w(nx * ny, std::numeric_limits<double>::quiet_NaN());
  std::vector<float> data(nx * ny, 0.0f);
  std::size_t n = 0;
  for_region_rows(d.frame.xmaxdat, xs, ys, xe, ye, [&](Index offset, Index y, Index count) {
    const std::size_t j = static_cast<std::size_t>(y - ys);
    for (Index i = 0; i < count; ++i) {
      const std::size_t k = static_cast<std::size_t>(offset + i);
      if (k >= model_image.size() || (k < d.unused.size() && d.unused[k] != 0)) continue;
      w[j * nx + static_cast<std::size_t>(i)] = static_cast<double>(d.data[k]) - model_image[k];
      data[j * nx + static_cast<std::size_t>(i)] = d.data[k];
      ++n;
    }
  });
  LocalNoise noise;
  if (n < 3) return noise;
  // The differences are screened by the stretch of the scan (or tile of the
  // image) that holds the middle of their pairs: where strong peaks the
  // model leaves out stand close together their sides fill most of the
  // window, more than the trimming drops, and the noise read from all of it
  // is many times the true one. A stretch whose differences' mean square is
  // more than kLoudStretch times the variance read from the stretches kept
  // so far holds such a side and is left out, until none is; the first
  // round judges by the quietest quarter of the stretches, as the variance
  // of all is already raised where sides fill most of them. Noise alone,
  // correlated, rounded or sparse, has no stretch so loud (its variance is
  // the same along the window, or grows slowly with the counts), and is
  // read as before. The stretches lie symmetrically about the peak, so that
  // a scan read in the other order is read alike.
  constexpr std::size_t kStretch = 16, kTile = 8;
  constexpr double kLoudStretch = 10.0;
  // The mean square of a stretch of 16 differences of noise alone is above
  // this share of its variance in three stretches of four.
  constexpr double kQuietShare = 0.73;
  const std::size_t bx = ny == 1 ? kStretch : std::min(kTile, nx),
                    by = nx == 1 ? kStretch : std::min(kTile, ny);
  // The stretch holding the point U (twice the element offset in the
  // window, so that a pair's middle is whole) along an axis of stretches of
  // B about the centre C (twice its offset): stretch 0 is centred on C.
  // A centre off the window (or not a number) is taken at its nearer end
  // (or its middle).
  const auto offset_of = [](double c, Index start, Index end) {
    const double low = static_cast<double>(start) - 1.0, high = static_cast<double>(end) + 1.0;
    return 2.0 * ((std::isnan(c) ? 0.5 * (low + high) : std::clamp(c, low, high)) -
                  static_cast<double>(start));
  };
  const double centre_x = offset_of(cx, xs, xe), centre_y = offset_of(cy, ys, ye);
  const auto stretch_of = [](double u, double c, std::size_t b) {
    return static_cast<std::ptrdiff_t>(std::floor((u - c) / (2.0 * static_cast<double>(b)) + 0.5));
  };
  const std::ptrdiff_t first_x = stretch_of(0.0, centre_x, bx),
                       first_y = stretch_of(0.0, centre_y, by);
  const std::size_t tiles_x = static_cast<std::size_t>(
      stretch_of(2.0 * static_cast<double>(nx - 1), centre_x, bx) - first_x + 1);
  const std::size_t tiles = tiles_x * static_cast<std::size_t>(
      stretch_of(2.0 * static_cast<double>(ny - 1), centre_y, by) - first_y + 1);
  // The variance of the differences K elements apart along the ROWS, the
  // COLUMNS or both, and their COUNT; below 0 where there are fewer than half
  // as many differences as elements: a few-point scan's far lags are too few
  // to tell. SPREAD is the same variance read from the quarter of the
  // differences nearest their median alone, scaled to a normal deviate's,
  // where every stretch was kept and few pairs hold equal data (else below
  // 0): the sides of peaks the model leaves out lift the trimmed variance
  // long before they reach that quarter, noise alone lifts both alike.
  struct Step {
    double value;
    std::uint32_t tile;
    bool equal;
  };
  std::vector<Step> all;
  std::vector<double> steps, flat, sorted, quiet, tile_squares(tiles);
  std::vector<std::size_t> tile_count(tiles), order;
  std::vector<char> loud(tiles);
  // DIAGONAL pairs elements k apart along both axes: 1 each the same way
  // (down a diagonal), -1 the other (up the anti-diagonal), 0 none.
  const auto lag_variance = [&](std::size_t k, bool rows, bool columns, int diagonal,
                                std::size_t& count, double& spread) {
    spread = -1.0;
    all.clear();
    const auto pair = [&](std::size_t a, std::size_t b, std::size_t u, std::size_t v) {
      if (std::isnan(w[b])) return;
      const std::size_t tile =
          static_cast<std::size_t>(stretch_of(static_cast<double>(v), centre_y, by) - first_y) *
              tiles_x +
          static_cast<std::size_t>(stretch_of(static_cast<double>(u), centre_x, bx) - first_x);
      all.push_back({w[b] - w[a], static_cast<std::uint32_t>(tile), data[a] == data[b]});
    };
    for (std::size_t j = 0; j < ny; ++j)
      for (std::size_t i = 0; i < nx; ++i) {
        if (std::isnan(w[j * nx + i])) continue;
        if (rows && i + k < nx) pair(j * nx + i, j * nx + i + k, 2 * i + k, 2 * j);
        if (columns && j + k < ny) pair(j * nx + i, (j + k) * nx + i, 2 * i, 2 * j + k);
        if (diagonal > 0 && i + k < nx && j + k < ny)
          pair(j * nx + i, (j + k) * nx + i + k, 2 * i + k, 2 * j + k);
        if (diagonal < 0 && i >= k && j + k < ny)
          pair(j * nx + i, (j + k) * nx + i - k, 2 * i - k, 2 * j + k);
      }
    count = all.size();
    if (count < std::max<std::size_t>(2, n / 2)) return -1.0;
    // Each stretch's squares about the median difference (a plane under the
    // misfits steps them all alike).
    sorted.resize(count);
    for (std::size_t m = 0; m < count; ++m) sorted[m] = all[m].value;
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double centre = *middle;
    std::fill(tile_squares.begin(), tile_squares.end(), 0.0);
    std::fill(tile_count.begin(), tile_count.end(), 0);
    std::fill(loud.begin(), loud.end(), 0);
    for (const Step& s : all) {
      tile_squares[s.tile] += (s.value - centre) * (s.value - centre);
      ++tile_count[s.tile];
    }
    // A stretch of few differences (the last, or one of many unused
    // elements) is judged as if it held half a stretch's elements' for each
    // way the differences run: a few large ones by chance are no side.
    const double floor_count =
        0.5 * static_cast<double>(bx * by) *
        ((rows ? 1.0 : 0.0) + (columns ? 1.0 : 0.0) + (diagonal != 0 ? 1.0 : 0.0));
    // The quietest quarter of the stretches that hold at least that many.
    quiet.clear();
    for (std::size_t t = 0; t < tiles; ++t)
      if (static_cast<double>(tile_count[t]) >= floor_count)
        quiet.push_back(tile_squares[t] / static_cast<double>(tile_count[t]));
    double quietest = std::numeric_limits<double>::infinity();
    if (quiet.size() >= 4) {
      const auto quarter = quiet.begin() + static_cast<std::ptrdiff_t>(quiet.size() / 4);
      std::nth_element(quiet.begin(), quarter, quiet.end());
      quietest = *quarter / kQuietShare;
    }
    // The loudest stretches go in the first rounds and a few settle it; the
    // bound keeps a crowded image from taking one stretch a round.
    constexpr int kRounds = 16;
    double variance = -1.0;
    const std::size_t fewest = std::max<std::size_t>(2, n / 4);
    for (int round = 1;; ++round) {
      const auto gather = [&] {
        steps.clear();
        flat.clear();
        for (const Step& s : all)
          if (!loud[s.tile]) (s.equal ? flat : steps).push_back(s.value);
      };
      gather();
      // Too few left to read the noise from (sides fill most stretches):
      // the quietest stretches that hold enough of them give it.
      if (variance >= 0.0 && steps.size() + flat.size() < fewest) {
        order.clear();
        for (std::size_t t = 0; t < tiles; ++t)
          if (tile_count[t] > 0) order.push_back(t);
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
          return tile_squares[a] * static_cast<double>(tile_count[b]) <
                 tile_squares[b] * static_cast<double>(tile_count[a]);
        });
        std::fill(loud.begin(), loud.end(), 1);
        std::size_t kept = 0;
        for (std::size_t m = 0; m < order.size() && kept < fewest; ++m) {
          loud[order[m]] = 0;
          kept += tile_count[order[m]];
        }
        gather();
        steps.insert(steps.end(), flat.begin(), flat.end());
        return step_variance(steps, flat.size(), sorted);
      }
      steps.insert(steps.end(), flat.begin(), flat.end());
      const std::size_t equal = flat.size();
      variance = step_variance(steps, equal, sorted);
      bool dropped = false;
      const double judged = round == 1 ? std::min(variance, quietest) : variance;
      for (std::size_t t = 0; t < tiles; ++t) {
        if (loud[t] || tile_count[t] == 0) continue;
        if (tile_squares[t] >
            kLoudStretch * judged * std::max(static_cast<double>(tile_count[t]), floor_count)) {
          loud[t] = 1;
          dropped = true;
        }
      }
      if (round == 1 && !dropped && 5 * equal <= steps.size() && steps.size() >= 4) {
        // STEPS now hold the squares about the median: a quarter of a normal
        // deviate's are below 0.3186 of its deviation squared.
        constexpr double kQuarterDeviate = 0.318639;
        const auto quarter = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 4);
        std::nth_element(steps.begin(), quarter, steps.end());
        spread = *quarter / (kQuarterDeviate * kQuarterDeviate);
      }
      if (!dropped || !(variance > 0.0) || round == kRounds) return variance;
    }
  };
  // The largest variance over the lags up to where it levels off. Noise
  // shared over a box of neighbours (a rebinned scan) rises from lag k - 1
  // to k by k / (k - 1) at most, give or take kBoxSpread for the spread of
  // the readings; noise blurred over about a pixel rises by up to kBlurRise
  // from lag 1 to 2 and then by less than a box's. The sides of peaks the
  // model leaves out, where the screening kept them, rise as k squared,
  // and so does noise blurred over 1.5 pixels or more (a detector's point
  // spread), which would read a third of its level or less if the rise
  // ended the reading. What tells them apart: blurred noise is the same
  // everywhere and symmetric, so every stretch is kept, the quarter of the
  // differences nearest their median follows the trimmed variance
  // (kSameSpread), and the misfits' tails balance (kSkewed, Kelly's measure
  // of their 2 %, 50 % and 98 % points); sides are sparse, one-signed
  // excursions. A lag that rises faster than shared noise can ends the
  // reading unless it is so, and a steep lag taken counts by the lower of
  // the two readings.
  constexpr double kBlurRise = 3.25, kBoxSpread = 0.25, kSameSpread = 2.0, kSkewed = 0.25;
  bool symmetric = false;
  {
    std::vector<double> values;
    values.reserve(n);
    for (const double v : w)
      if (!std::isnan(v)) values.push_back(v);
    const auto point = [&](double share) {
      const auto at = values.begin() + static_cast<std::ptrdiff_t>(
                                           share * static_cast<double>(values.size() - 1) + 0.5);
      std::nth_element(values.begin(), at, values.end());
      return *at;
    };
    const double low = point(0.02), middle = point(0.5), high = point(0.98);
    symmetric = high > low && std::abs(low + high - 2.0 * middle) < kSkewed * (high - low);
  }
  noise.balanced = symmetric;
  double variance = 0.0, previous = 0.0;
  std::vector<double> read;
  for (std::size_t k = 1; k <= kMostLags; ++k) {
    if (k > kLags && !(read[k - 2] > kStillRising * read[k - 4])) break;
    std::size_t count = 0;
    double spread = -1.0;
    const double v = lag_variance(k, true, true, 0, count, spread);
    if (v < 0.0) break;
    bool steep = false;
    if (k > 1) {
      const double box = static_cast<double>(k) / static_cast<double>(k - 1) * (1.0 + kBoxSpread);
      if (v > previous * (k == 2 ? kBlurRise : box)) {
        if (!symmetric || !(spread > 0.0) || v > kSameSpread * spread) break;
        steep = true;
      }
    }
    variance = std::max(variance, 0.5 * (steep ? std::min(v, spread) : v));
    previous = v;
    read.push_back(v);
  }
  const std::size_t lags = std::max(kLags, read.size());
  noise.sd = std::sqrt(variance);
  if (!(noise.sd > 0.0) || !std::isfinite(noise.sd)) return noise;
  // The correlation k elements apart, 1 - var(d_k) / (2 var): a lag counts
  // while it is clearly above what uncorrelated noise gives (three standard
  // errors of a trimmed variance of that many differences).
  const auto correlations = [&](bool rows, bool columns, int diagonal, std::size_t lags,
                                std::vector<double>& out) {
    for (std::size_t k = 1; k <= lags; ++k) {
      std::size_t count = 0;
      double spread = 0.0;
      const double v = lag_variance(k, rows, columns, diagonal, count, spread);
      if (v < 0.0) return;
      const double r = 1.0 - v / (2.0 * variance);
      if (!(r > 3.0 / std::sqrt(static_cast<double>(count)))) return;
      out.push_back(std::min(r, 1.0));
    }
  };
  correlations(true, false, 0, std::min(lags, nx > 0 ? nx - 1 : 0), noise.along_x);
  correlations(false, true, 0, std::min(lags, ny > 0 ? ny - 1 : 0), noise.along_y);
  // Noise shared along a diagonal alone (a detector read out, or smeared,
  // at a slant) is shared by no two elements of a row or column; balanced
  // misfits are read along both diagonals of an image too.
  if (symmetric && nx > 1 && ny > 1) {
    const std::size_t slant = std::min({lags, nx - 1, ny - 1});
    correlations(false, false, 1, slant, noise.down);
    correlations(false, false, -1, slant, noise.up);
  }
  return noise;
}

// The Gaussians of a fitted MODEL that no feature of the data D holds: a free
// width narrower than a quarter of a pixel (only the pixel under the peak
// sees it; the peak model treats it as flat), or a free height that, with a
// free width, does not stand kFeatureSignificance deviations out of the
// noise of the misfits (data minus MODEL_IMAGE, the fitted model over the
// region) about the peak: a peak fitted to a bump of the noise. The
// deviations are those of the best estimate of the height from the points
// the peak covers (the height times the root of the sum of its squared
// profile over them, divided by the noise of those points and kNoiseMargin
// beyond): a peak between two points, or narrower than one, is seen by less
// than its height, a wide faint one by every point it covers, and points
// that share their noise see it as fewer points would. A width at or
// below 0 is a fault the fit's other checks give; such a peak is not
// measured here. One warning line per such feature, as the fit's other
// checks give them.
std::vector<std::string> noise_peak_faults(const FitData& d, const FitModel& model,
                                           std::span<const float> model_image) {
  const auto shown = [](float value) {
    return std::string(trimmed_text(format_e(value, 12, 4, 1)));
  };
  const ModelFrame& frame = d.frame;
  std::vector<std::string> lines;
  // The profile of one peak at a time, over the rows up to its last: a small
  // image in large arrays touches its own pages, not the arrays'.
  std::unique_ptr<float[]> profile_block;
  std::size_t profile_size = 0;
  for (int feature = 1; feature <= model.num_features; ++feature) {
    const FeatureParameters f = kzt_feature_parameters(model, feature);
    if (f.type != kGaussian) continue;
    const auto free_at = [&](int number) {
      const int i = f.index[static_cast<std::size_t>(number - 1)];
      return i >= 0 && !model.constraints[static_cast<std::size_t>(i)] ? i : -1;
    };
    const auto name = [&](int i) {
      return std::string(trimmed_text(model.names[static_cast<std::size_t>(i)]));
    };
    std::vector<std::string> faults;
    bool free_width = false, widths_above_0 = true;
    for (const int number : {4, 5}) {
      const int i = free_at(number);
      if (i < 0) continue;
      const float width = f.p[static_cast<std::size_t>(number - 1)];
      const float pixel = number == 4 ? axis_step_at(frame.x_axis, frame.xnumdat, f.p[0])
                                      : axis_step_at(frame.y_axis, frame.ynumdat, f.p[1]);
      free_width = true;
      widths_above_0 = widths_above_0 && width > 0.0f;
      if (std::isfinite(width) && width > 0.0f && width < 0.25f * pixel)
        faults.push_back(name(i) + " = " + shown(width) +
                         " is narrower than a quarter of a pixel");
    }
    const int h = free_at(3);
    const float height = f.p[2];
    if (h >= 0 && free_width && widths_above_0 && std::isfinite(height) && height > 0.0f) {
      // The elements the peak model reaches (kPeakCutoff widths about its
      // centre), within the region. A scan of one row (or one column) has
      // no width across it that means anything in the axis's units: its
      // reach along the scan is its own width's.
      const double wide = std::max(std::fabs(f.p[3]), std::fabs(f.p[4]));
      const double x_reach =
          kPeakCutoff * (d.ystrelm == d.yendelm ? std::fabs(f.p[3]) : wide);
      const double y_reach =
          kPeakCutoff * (d.xstrelm == d.xendelm ? std::fabs(f.p[4]) : wide);
      const auto span_of = [&](std::span<const float> axis, Index num, float centre, Index start,
                               Index end, double reach, Index& low, Index& high) {
        low = start;
        high = end;
        if (!std::isfinite(reach)) return;
        const double a = axis_to_pixel(axis, num, static_cast<float>(centre - reach));
        const double b = axis_to_pixel(axis, num, static_cast<float>(centre + reach));
        if (!std::isfinite(a) || !std::isfinite(b)) return;
        const double first = std::floor(std::min(a, b)), last = std::ceil(std::max(a, b)) + 1.0;
        const double from = static_cast<double>(start), to = static_cast<double>(end);
        low = static_cast<Index>(std::clamp(first, from, to));
        high = static_cast<Index>(std::clamp(last, from, to));
      };
      Index xs = 1, xe = 1, ys = 1, ye = 1;
      span_of(frame.x_axis, frame.xnumdat, f.p[0], d.xstrelm, d.xendelm, x_reach, xs, xe);
      span_of(frame.y_axis, frame.ynumdat, f.p[1], d.ystrelm, d.yendelm, y_reach, ys, ye);
      ModelFrame rows = frame;
      rows.ymaxdat = ye;
      const std::size_t size =
          static_cast<std::size_t>(frame.xmaxdat) * static_cast<std::size_t>(ye);
      if (profile_size < size) {
        profile_block = std::make_unique_for_overwrite<float[]>(size);
        profile_size = size;
      }
      const std::span<float> profile(profile_block.get(), size);
      for_region_rows(frame.xmaxdat, xs, ys, xe, ye, [&](Index offset, Index, Index n) {
        std::fill_n(profile.data() + offset, n, 0.0f);
      });
      // A profile that cannot be drawn leaves this check out; the fit has
      // drawn the same model already.
      Status drawn = kStatusGood;
      SymmetryCentre centre;
      KZT_FEATURE(rows, model, feature, xs, ys, xe, ye, centre, profile, drawn);
      const LocalNoise about = local_noise(
          d, model_image, std::max(xs - kNoiseMargin, d.xstrelm),
          std::max(ys - kNoiseMargin, d.ystrelm), std::min(xe + kNoiseMargin, d.xendelm),
          std::min(ye + kNoiseMargin, d.yendelm),
          axis_to_pixel(frame.x_axis, frame.xnumdat, f.p[0]) + 0.5,
          axis_to_pixel(frame.y_axis, frame.ynumdat, f.p[1]) + 0.5);
      const double noise = about.sd;
      // The sum of the profile's products DX, DY elements apart (of its
      // squares for 0, 0) over the used elements the peak covers; DY is at
      // least 0, DX either way.
      const auto shape_at = [&](Index x, Index y) {
        const std::size_t k = static_cast<std::size_t>(element(x, y, frame.xmaxdat));
        if (k < d.unused.size() && d.unused[k] != 0) return 0.0;
        return profile[k] / static_cast<double>(height);
      };
      const auto overlap = [&](Index dx, Index dy) {
        double sum = 0.0;
        for (Index y = ys; y + dy <= ye; ++y)
          for (Index x = std::max(xs, xs - dx); x <= std::min(xe, xe - dx); ++x)
            sum += shape_at(x, y) * shape_at(x + dx, y + dy);
        return sum;
      };
      const double power = overlap(0, 0);
      // The variance of the height's best estimate, in units of the noise's
      // variance over POWER squared: POWER alone where neighbours share none.
      // Elements apart along both axes share the product of the two
      // correlations, as noise blurred over an image or averaged over boxes
      // of it does; where only one axis shares it the product is 0. Where
      // the misfits are one-signed, what neighbours share is mostly the
      // sides of peaks left out (a lattice), which do not spread so.
      double spread = power;
      for (std::size_t k = 0; k < about.along_x.size(); ++k)
        spread += 2.0 * about.along_x[k] * overlap(static_cast<Index>(k + 1), 0);
      for (std::size_t l = 0; l < about.along_y.size(); ++l) {
        const Index dy = static_cast<Index>(l + 1);
        spread += 2.0 * about.along_y[l] * overlap(0, dy);
        for (std::size_t k = 0; about.balanced && k < about.along_x.size(); ++k) {
          const Index dx = static_cast<Index>(k + 1);
          // Each diagonal's own reading stands for the product where it
          // shares more (added below).
          const double product = about.along_x[k] * about.along_y[l];
          const double down = k == l && k < about.down.size() ? about.down[k] : 0.0;
          const double up = k == l && k < about.up.size() ? about.up[k] : 0.0;
          spread += 2.0 * (std::max(product, down) - down) * overlap(dx, dy) +
                    2.0 * (std::max(product, up) - up) * overlap(-dx, dy);
        }
      }
      // What elements apart along a diagonal share, as read there.
      for (std::size_t k = 0; about.balanced && k < about.down.size(); ++k)
        spread += 2.0 * about.down[k] *
                  overlap(static_cast<Index>(k + 1), static_cast<Index>(k + 1));
      for (std::size_t k = 0; about.balanced && k < about.up.size(); ++k)
        spread += 2.0 * about.up[k] *
                  overlap(-static_cast<Index>(k + 1), static_cast<Index>(k + 1));
      double deviations = static_cast<double>(height) * power / (noise * std::sqrt(spread));
      // Counts of a few: the same estimate's upper tail is the counts', far
      // longer than a normal deviate's (a count of 4 where 0.3 are expected
      // comes once in some 4000 points), where the noise read is theirs.
      {
        std::vector<CountTerm> terms;
        bool counts = true;
        double level = 0.0;
        std::size_t used = 0;
        for (Index y = ys; y <= ye && counts; ++y)
          for (Index x = xs; x <= xe; ++x) {
            const std::size_t k = static_cast<std::size_t>(element(x, y, frame.xmaxdat));
            if (k < d.unused.size() && d.unused[k] != 0) continue;
            const double value = d.data[k], under = model_image[k] - profile[k];
            if (!(value >= 0.0) || value != std::floor(value)) {
              counts = false;
              break;
            }
            level += under;
            ++used;
            const double shape = profile[k] / static_cast<double>(height);
            if (shape > 0.0) terms.push_back({shape, std::max(under, 0.0), value});
          }
        level /= static_cast<double>(std::max<std::size_t>(used, 1));
        if (counts && used > 0 && level > 0.0 && level < kFewCounts &&
            noise * noise > kCountsSpread * level && noise * noise < level / kCountsSpread)
          deviations = std::min(deviations, counted_deviations(terms));
      }
      if (drawn == kStatusGood && noise > 0.0 && std::isfinite(noise) &&
          deviations < kFeatureSignificance)
        faults.push_back(name(h) + " = " + shown(height) +
                         " stands out of the noise (" + shown(static_cast<float>(noise)) +
                         ") of the points it covers by " +
                         std::string(trimmed_text(format_f(deviations, 8, 1))) +
                         " standard deviations, fewer than " +
                         std::to_string(static_cast<int>(kFeatureSignificance)));
    }
    if (faults.empty()) continue;
    std::string line = "WARNING: Feature " + std::to_string(feature) + " is not valid: ";
    for (std::size_t k = 0; k < faults.size(); ++k) line += (k > 0 ? "; " : "") + faults[k];
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

bool kzt_fit_validity(const ModelFrame& frame, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, const FitModel& model, std::span<const int> owners,
                      Status& status) {
  const auto inside = [&](float x, float y) {
    const float px = axis_to_pixel(frame.x_axis, frame.xnumdat, x);
    const float py = axis_to_pixel(frame.y_axis, frame.ynumdat, y);
    return px >= static_cast<float>(xstrelm - 1) && px <= static_cast<float>(xendelm) &&
           py >= static_cast<float>(ystrelm - 1) && py <= static_cast<float>(yendelm);
  };
  const std::size_t results =
      static_cast<std::size_t>(std::clamp(model.num_results, 0, kMaxFitResults));
  FittedValues values;
  values.results = std::span<const float>(model.results.data(), results);
  values.result_names = std::span<const std::string>(model.result_names.data(), results);
  // An intensity worked out from finite fitted parameters may still be too
  // large for single precision (a height near its largest value times the
  // widths and 2 pi): the model is right, only that value cannot be shown,
  // so it is said and left out of the check.
  std::vector<int> checked(owners.begin(), owners.end());
  for (std::size_t r = 0; r < std::min(checked.size(), results); ++r) {
    if (!std::isinf(model.results[r]) || checked[r] < 1) continue;
    const FeatureParameters f = kzt_feature_parameters(model, checked[r]);
    bool finite = true;
    for (std::size_t k = 0; k < static_cast<std::size_t>(f.count); ++k)
      finite = finite && (f.index[k] < 0 || std::isfinite(f.p[k]));
    if (!finite) continue;
    std::string what(trimmed_text(model.result_names[r]));
    if (what.empty()) what = "result " + std::to_string(r + 1);
    IO_WRITE("INFO: " + what + " is too large to be held in single precision", status);
    checked[r] = 0;
  }
  values.owners = checked;
  const std::vector<std::string> faults = kzt_fit_faults(model, peak_needs, inside, values);
  for (const std::string& line : faults) IO_WRITE(line, status);
  return faults.empty();
}

Fit2dOutcome KZT_LSQKESTA(const ModelFrame& frame, std::span<const float> data,
                          std::span<const float> variances, std::span<const std::uint8_t> mask,
                          Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                          bool weighted, float iterations, FitModel& model,
                          std::span<float> model_out, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_LSQKESTA V0.10";
  Fit2dOutcome outcome;
  const Index xmax = frame.xmaxdat, ymax = frame.ymaxdat;
  if (kzt_region_refused(kName, xmax, ymax, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), model_out.size()}))
    return outcome;
  if (model.num_parameters > kMaxFitParameters || model.num_parameters < 0)
    return st_fail(status, kBaseApp + 5, kName), outcome;
  if (weighted && variances.size() < data.size()) weighted = false;
  if (!frame.geometry_known) IO_WRITE("WARNING: Geometry not defined", status);

  // The elements the fit uses: unmasked, finite and, weighted, of a variance
  // above 0. These arrays, like the model's, are of the data's row length
  // down to the region's last row, written and read over the region only: a
  // small region of large arrays costs its own pages (ROWS is the frame
  // they are indexed in).
  ModelFrame rows = frame;
  rows.ymaxdat = yendelm;
  const std::size_t size = static_cast<std::size_t>(xmax) * static_cast<std::size_t>(yendelm);
  const auto used_block = std::make_unique_for_overwrite<std::uint8_t[]>(size);
  const auto sigma_block = std::make_unique_for_overwrite<float[]>(weighted ? size : 0);
  const auto model_block = std::make_unique_for_overwrite<float[]>(size);
  const std::span<std::uint8_t> used_mask(used_block.get(), size);
  const std::span<float> sigmas(sigma_block.get(), weighted ? size : 0);
  const std::span<float> work_model(model_block.get(), size);
  Index non_finite = 0, no_variance = 0;
  for_region_rows(xmax, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
    for (Index i = offset; i < offset + n; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      used_mask[k] = 0;
      if (weighted) sigmas[k] = 1.0f;
      if (k < mask.size() && mask[k] != 0) {
        used_mask[k] = 1;
      } else if (!std::isfinite(data[k])) {
        used_mask[k] = 1;
        ++non_finite;
      } else if (weighted) {
        const float v = variances[k];
        if (v > 0.0f && std::isfinite(v)) {
          sigmas[k] = std::sqrt(v);
        } else {
          used_mask[k] = 1;
          ++no_variance;
        }
      }
    }
  });
  kzt_non_finite_note(non_finite, "elements", status);
  if (no_variance > 0)
    IO_WRITE("INFO: " + std::to_string(no_variance) +
                 " elements whose variance is not above 0 are left out of the weighted fit",
             status);

  Fit2dContext context{&rows, model};
  FitModel fitted = model;
  const int max_calls = kzt_max_calls(model.num_parameters, iterations);
  const std::size_t np = static_cast<std::size_t>(model.num_parameters);
  Status fit_status = status;
  const auto fit_once = [&](std::span<float> params) {
    ModelFitEnd end;
    MA_MODELFIT(2, KZT_FUNKESTA, true, weighted, true, xmax, yendelm, data, used_mask, sigmas,
                xstrelm, ystrelm, xendelm, yendelm, 1, max_calls, 1.0e-5f, 100.0f, 5.0e-7f,
                &context, nullptr, nullptr, nullptr, model.num_parameters,
                std::span<const bool>(fitted.constraints.data(), np),
                std::span<const float>(fitted.scales.data(), np), xmax, yendelm, true, params,
                work_model, end.end_code, end.num_calls, end.sum_squares, fit_status);
    if (fit_status != kStatusGood) end.end_code = std::max(end.end_code, 3);
    return end;
  };
  const FitData fit_data{frame, data, used_mask, xstrelm, ystrelm, xendelm, yendelm};
  const ModelFitEnd end = kzt_fit_freeing_widths(
      model, peak_widths(fit_data), std::span<float>(fitted.params.data(), np), fit_once, status);
  outcome.end_code = end.end_code;
  outcome.num_calls = end.num_calls;
  outcome.sum_squares = end.sum_squares;
  if (fit_status != kStatusGood) {
    status = fit_status;
    st_fail(status, status, kName);
    return outcome;
  }
  outcome.held = outcome.end_code == -10;
  if (outcome.end_code > 0)
    IO_WRITE("WARNING: Problem fitting the model to the data", status);
  if (!outcome.held) {
    IO_WRITE("INFO: Number of function calls = " + format_i(outcome.num_calls, 8), status);
    IO_WRITE("INFO: Sum of squares = " + format_g(outcome.sum_squares, 14, 5), status);
  }
  if (outcome.end_code == 1 || outcome.end_code == 2) return outcome;

  // The model of the returned parameters over the whole region, masked
  // elements included.
  kzt_model_image(rows, fitted, xstrelm, ystrelm, xendelm, yendelm, work_model, status);
  if (outcome.held && status == kStatusGood) {
    // Nothing was evaluated: the held model's misfit is its own.
    double sum = 0.0;
    for_region_rows(xmax, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
      for (Index i = offset; i < offset + n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (used_mask[k] != 0) continue;
        const double r = (static_cast<double>(work_model[k]) - data[k]) / (weighted ? sigmas[k] : 1.0f);
        sum += r * r;
      }
    });
    outcome.sum_squares = sum;
    IO_WRITE(std::string(kNothingFitted) +
                 std::string(trimmed_text(format_g(outcome.sum_squares, 14, 5))),
             status);
  }
  std::vector<int> owners;
  kzt_fit_results(frame, xstrelm, ystrelm, xendelm, yendelm, fitted, status, &owners);
  if (status != kStatusGood) return outcome;
  // A fit whose sum of squares stopped being a finite number, or that the
  // model function ended, stopped wherever it was: no model was found. Out of
  // calls or with no further progress the fit says so and may well stand at
  // the minimum, so those ends are judged by the fitted features alone.
  outcome.valid =
      kzt_fit_validity(frame, xstrelm, ystrelm, xendelm, yendelm, fitted, owners, status) &&
      outcome.end_code != 3 && outcome.end_code != 8;
  for (const std::string& line : noise_peak_faults(fit_data, fitted, work_model)) {
    IO_WRITE(line, status);
    outcome.valid = false;
  }
  if (!outcome.valid)
    IO_WRITE(kNotValidModel, status);
  for_region_rows(xmax, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
    std::copy_n(work_model.data() + offset, n, model_out.data() + offset);
  });
  model = fitted;
  outcome.fitted = true;
  return outcome;
}

}  // namespace kesta
