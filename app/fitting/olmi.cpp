#include "app/fitting/olmi.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include "app/fitting/fit2d.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/floor_widths.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/chebyshev.hpp"
#include "numeric/modelfit.hpp"
#include "numeric/profiles1d.hpp"

namespace kesta {

namespace {

constexpr float kTiny = 1.0e-37f;
constexpr float kSqrt2Pi = 2.506628f;
constexpr float kPiF = 3.1415925f;
constexpr int kMaxPolynomialCoeffs = 100;

float tiny(float v) { return v < kTiny ? kTiny : v; }

// The full width at half maximum of a Voigt of standard deviation SD and
// half width HWHM (both not below 0).
double voigt_fwhm(double sd, double hwhm) {
  const double fg = 2.354 * std::max(sd, 0.0), fl = 2.0 * std::max(hwhm, 0.0);
  return std::pow(std::pow(fg, 5) + 2.69269 * std::pow(fg, 4) * fl +
                      2.42843 * std::pow(fg, 3) * fl * fl + 4.47163 * fg * fg * std::pow(fl, 3) +
                      0.07842 * fg * std::pow(fl, 4) + std::pow(fl, 5),
                  0.2);
}

// The model function of the multiple 1-D fit; PASS_1 is the working model.
void funolmi(bool, Index xmaxdat, Index, std::span<const float>, std::span<const std::uint8_t>,
             Index xstrelm, Index, Index xendelm, Index, void* pass_1, void*, void*, void*,
             int num_parameters, std::span<const float> params, Index, Index, bool,
             int& terminate, std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNOLMI V0.1")) return;
  FitModel& work = *static_cast<FitModel*>(pass_1);
  std::copy_n(params.begin(), std::min<std::size_t>(params.size(), num_parameters),
              work.params.begin());
  kzt_olmi_row_model(work, xmaxdat, xstrelm, xendelm, model, status);
  terminate = 0;
}

}  // namespace

void KZT_1DFEATURE(const FitModel& model, int feature, Index xmaxdat, Index xstrelm,
                   Index xendelm, std::span<float> row, Status& status) {
  if (st_bad(status, "Subroutine KZT_1DFEATURE V0.1")) return;
  const FeatureParameters g = kzt_feature_parameters(model, feature);
  const auto& p = g.p;
  switch (g.type) {
    case kOneDGaussian:
      MA_1DGAUSSIAN(xmaxdat, xstrelm, xendelm, tiny(p[1]), p[0], tiny(p[2]), kPeakCutoff,
                    kPeakMode, row, status);
      break;
    case kOneDLorentzian:
      MA_1DLORENTZIAN(xmaxdat, xstrelm, xendelm, tiny(p[1]), p[0], tiny(p[2]), 1, row, status);
      break;
    case kOneDVoigt:
      MA_1DVOIGTIAN(xmaxdat, xstrelm, xendelm, tiny(p[1]), p[0], tiny(p[2]), tiny(p[3]), 0, row,
                    status);
      break;
    case kOneDPolynomial: {
      const int order = std::min(g.count, kMaxPolynomialCoeffs) - 1;
      if (order < 0) break;
      const Index n = xendelm - xstrelm + 1;
      std::vector<float> x(static_cast<std::size_t>(n));
      for (Index i = 0; i < n; ++i) x[static_cast<std::size_t>(i)] = static_cast<float>(xstrelm + i) - 0.5f;
      float lo = model.x_min_poly, hi = model.x_max_poly;
      if (!(hi > lo)) hi = lo + 1.0f;
      std::array<float, kMaxPolynomialCoeffs> coeffs{};
      std::copy_n(p.begin(), order + 1, coeffs.begin());
      MA_CAL_POLYNOMIAL(true, lo, hi, kMaxPolynomialCoeffs, order, coeffs, n, n, x,
                        row.subspan(static_cast<std::size_t>(xstrelm - 1)), status);
      break;
    }
    case kOneDDecay:
      MA_1DEXPDECAY(xmaxdat, xstrelm, xendelm, tiny(p[1]), p[0], tiny(p[2]), 0, row, status);
      break;
    case kOneDSinusoid:
      MA_1DSINUSOIDAL(xmaxdat, xstrelm, xendelm, tiny(p[1]), p[0], tiny(p[2]), 0, row, status);
      break;
    default:
      break;
  }
}

void kzt_olmi_row_model(const FitModel& model, Index xmaxdat, Index xstrelm, Index xendelm,
                        std::span<float> row, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNOLMI V0.1")) return;
  if (xstrelm < 1 || xendelm < xstrelm || xendelm > xmaxdat ||
      row.size() < static_cast<std::size_t>(xmaxdat))
    return st_fail(status, kBaseApp + 5, "Subroutine KZT_FUNOLMI V0.1");
  std::fill(row.begin() + (xstrelm - 1), row.begin() + xendelm, 0.0f);
  for (int f = 1; f <= model.num_features && status == kStatusGood; ++f)
    KZT_1DFEATURE(model, f, xmaxdat, xstrelm, xendelm, row, status);
}

float kzt_olmi_reported(const FitModel& model, int i, std::span<const float> x_axis,
                        Index xstrelm) {
  const float v = model.params[static_cast<std::size_t>(i)];
  const std::size_t first = static_cast<std::size_t>(xstrelm - 1);
  const float x0 = first < x_axis.size() ? x_axis[first] : static_cast<float>(xstrelm) - 0.5f;
  float step = 1.0f;
  if (first + 1 < x_axis.size()) step = x_axis[first + 1] - x_axis[first];
  switch (code_digit(model.codes[static_cast<std::size_t>(i)], 8)) {
    case 1:
      // A width is a length along the axis: as wide on a descending axis
      // (2-theta scanned downwards) as on an ascending one.
      return v * std::fabs(step);
    case 2:
      return x0 + step * (v - static_cast<float>(xstrelm) + 0.5f);
    case 5:
      return v * 180.0f / kPiF;
    case 6:
      return v * 0.5f;
    default:
      return v;
  }
}

void kzt_olmi_results(const FitModel& model, std::span<const float> x_axis, Index xstrelm,
                      std::vector<float>& results, std::vector<std::string>& names,
                      std::vector<int>* owners) {
  results.clear();
  names.clear();
  if (owners != nullptr) owners->clear();
  for (int f = 1; f <= model.num_features; ++f) {
    // The feature's reported values by parameter number.
    std::array<float, 4> r{};
    int type = 0;
    for (int i = 0; i < model.num_parameters; ++i) {
      const int code = model.codes[static_cast<std::size_t>(i)];
      if (code_feature(code) != f) continue;
      const int number = code_parameter(code);
      if (number == 1) type = code_type(code);
      if (number >= 1 && number <= 4)
        r[static_cast<std::size_t>(number - 1)] = kzt_olmi_reported(model, i, x_axis, xstrelm);
    }
    const float max = r[1];
    if (type == kOneDGaussian) {
      results.push_back(max * r[2] * kSqrt2Pi);
      names.push_back(feature_name("GAU", f, " INT"));
    } else if (type == kOneDLorentzian) {
      results.push_back(max * r[2] * kPiF);
      names.push_back(feature_name("LOR", f, " INT"));
    } else if (type == kOneDVoigt) {
      const double sd = std::max(0.0f, r[2]), hwhm = std::max(0.0f, r[3]);
      double area = 0.0;
      if (hwhm == 0.0) {
        area = max * sd * kSqrt2Pi;
      } else if (sd == 0.0) {
        area = max * hwhm * kPiF;
      } else {
        double re = 0.0, im = 0.0;
        MA_WERF(0.0, hwhm / (std::sqrt(2.0) * sd), re, im);
        area = re > 0.0 ? sd * kSqrt2Pi * max / re : 0.0;
      }
      const double fwhm = voigt_fwhm(sd, hwhm);
      results.push_back(static_cast<float>(area));
      names.push_back(feature_name("VOI", f, " INT"));
      results.push_back(static_cast<float>(fwhm));
      names.push_back(feature_name("VOI", f, "FWHM"));
    }
    if (owners != nullptr) owners->resize(results.size(), f);
  }
}

namespace {

// What a fitted 1-D feature of each type needs, by parameter number: a
// peak's position inside the row's region, its height and width above 0 (a
// Voigt may have one width of 0, its intensity then says whether both are);
// a decay's height and half-life, a sinusoid's amplitude and period above 0
// too, as the model raises lower values to a tiny one. A polynomial only has
// to be finite.
FeatureNeeds row_needs(int type) {
  switch (type) {
    case kOneDGaussian:
    case kOneDLorentzian:
      return {1, 0, {2, 3}, true};
    case kOneDVoigt:
      return {1, 0, {2}, true};
    case kOneDDecay:
    case kOneDSinusoid:
      return {0, 0, {2, 3}, false};
    default:
      return {};
  }
}

// The widths of each 1-D type that the model raises to the floor: a peak's
// (a Voigt's two), a decay's half-life, a sinusoid's period.
bool row_width(int type, int parameter) {
  switch (type) {
    case kOneDGaussian:
    case kOneDLorentzian:
    case kOneDDecay:
    case kOneDSinusoid:
      return parameter == 3;
    case kOneDVoigt:
      return parameter == 3 || parameter == 4;
    default:
      return false;
  }
}

// The indices of a Voigt's standard deviation and half width in MODEL when
// parameter K belongs to one.
std::optional<std::pair<std::size_t, std::size_t>> voigt_widths(const FitModel& model,
                                                                std::size_t k) {
  if (code_type(model.codes[k]) != kOneDVoigt) return std::nullopt;
  const FeatureParameters f = kzt_feature_parameters(model, code_feature(model.codes[k]));
  if (f.index[2] < 0 || f.index[3] < 0) return std::nullopt;
  return std::pair{static_cast<std::size_t>(f.index[2]), static_cast<std::size_t>(f.index[3])};
}

// Where the model hardly moves with a width: a peak narrower than a tenth of
// a channel, which only the channel under it sees, and a Voigt's standard
// deviation below a tenth of its half width (the Voigt changes with it only
// as its square there).
bool row_width_flat(const FitModel& model, std::span<const float> params, std::size_t k) {
  const int type = code_type(model.codes[k]);
  const bool peak = type == kOneDGaussian || type == kOneDLorentzian || type == kOneDVoigt;
  if (!peak) return false;
  const auto widths = voigt_widths(model, k);
  if (!widths) return params[k] < 0.1f;
  if (std::max(widths->first, widths->second) >= params.size()) return false;
  const float sd = params[widths->first], hwhm = params[widths->second];
  return voigt_fwhm(sd, hwhm) < 0.2 || (k == widths->first && sd < 0.1f * hwhm);
}

// A Voigt whose width is stuck restarts with its Gaussian and Lorentzian
// widths equal (fG = fL), at the full width at half maximum it ended with.
bool voigt_spread(const FitModel& model, std::size_t k, std::span<float> params) {
  const auto widths = voigt_widths(model, k);
  if (!widths || std::max(widths->first, widths->second) >= params.size()) return false;
  float& sd = params[widths->first];
  float& hwhm = params[widths->second];
  const double fwhm = voigt_fwhm(sd, hwhm);
  if (!(fwhm > 0.0) || !std::isfinite(fwhm)) return false;
  // fG = fL = f gives a full width of (0.5346 + sqrt(0.2166 + 1)) f.
  const double f = fwhm / 1.6376;
  sd = static_cast<float>(f / 2.354);
  hwhm = static_cast<float>(f / 2.0);
  return true;
}

// Whether MODEL holds a Voigt with a free width.
bool free_voigt(const FitModel& model) {
  for (int i = 0; i < model.num_parameters; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    if (!model.constraints[k] && code_type(model.codes[k]) == kOneDVoigt &&
        code_parameter(model.codes[k]) >= 3)
      return true;
  }
  return false;
}

// The difference step of the fits that go on from a Voigt's minimum, and
// how much lower than where it stood such a fit must end to be kept.
constexpr float kVoigtGoOnStep = 1.0e-4f;
constexpr double kVoigtGoOnGain = 1.0e-4;
constexpr int kVoigtGoOnRounds = 3;

// A fit of a Voigt (MODEL, converged at PARAMS with END) goes on from where
// it stopped with coarser differences. The Voigt's two widths trade against
// each other along a long, curved valley; single-precision differences of the
// usual step there are mostly rounding, and the fit stops up to a per cent or
// two above the bottom. Each run from where the last stopped is kept only
// where it lowers the sum of squares by more than rounding: a row already at
// its minimum keeps its values (and the rows after it their paths).
template <class FitWith>
void go_on_down_voigt_valley(const FitModel& model, std::span<float> params, ModelFitEnd& end,
                             const FitWith& fit_with, Status& status) {
  if (!free_voigt(model)) return;
  for (int round = 0; round < kVoigtGoOnRounds; ++round) {
    std::vector<float> again(params.begin(), params.end());
    std::vector<std::string> lines;
    ModelFitEnd next;
    {
      IoHeldLines hold;
      next = fit_with(std::span<float>(again), kVoigtGoOnStep);
      lines = hold.lines();
    }
    end.num_calls += next.num_calls;
    if (next.end_code > 0 || !(next.sum_squares < end.sum_squares * (1.0 - kVoigtGoOnGain)))
      return;
    io_write_lines(lines, status);
    std::copy(again.begin(), again.end(), params.begin());
    end.sum_squares = next.sum_squares;
    end.end_code = next.end_code;
  }
}

// FIT's reported values and results of MODEL (OWNERS, when given, receives
// the feature of each result) and its table of them.
void olmi_row_table(const FitModel& model, std::span<const float> x_axis, Index xstrelm,
                    OlmiRowFit& fit, std::vector<int>* owners) {
  fit.reported.clear();
  for (int i = 0; i < model.num_parameters; ++i)
    fit.reported.push_back(kzt_olmi_reported(model, i, x_axis, xstrelm));
  kzt_olmi_results(model, x_axis, xstrelm, fit.results, fit.result_names, owners);
  fit.text = {"No Quantity    Value"};
  for (int i = 0; i < model.num_parameters; ++i) {
    std::string name = model.names[static_cast<std::size_t>(i)];
    name.resize(10, ' ');
    fit.text.push_back(name + " " + format_e(fit.reported[static_cast<std::size_t>(i)], 12, 5, 1));
  }
  for (std::size_t i = 0; i < fit.results.size(); ++i) {
    std::string name = fit.result_names[i];
    name.resize(10, ' ');
    fit.text.push_back(name + " " + format_e(fit.results[i], 10, 3, 1));
  }
}

// The faults of one row's fitted MODEL (REPORTED its reported values,
// RESULTS and OWNERS from kzt_olmi_results).
std::vector<std::string> olmi_faults(const FitModel& model, Index xstrelm, Index xendelm,
                                     std::span<const float> reported,
                                     std::span<const float> results,
                                     std::span<const std::string> result_names,
                                     std::span<const int> owners) {
  // Positions are channel coordinates: channel x covers x - 1 .. x.
  const auto inside = [&](float x, float) {
    return x >= static_cast<float>(xstrelm - 1) && x <= static_cast<float>(xendelm);
  };
  return kzt_fit_faults(model, row_needs, inside, {reported, results, result_names, owners});
}

}  // namespace

OlmiRowFit KZT_LSQOLMI(int info_level, std::span<const float> row,
                       std::span<const float> variances, std::span<const std::uint8_t> mask,
                       std::span<const float> x_axis, Index xstrelm, Index xendelm, bool weighted,
                       float iterations, FitModel& model, Status& status) {
  return KZT_LSQOLMI(info_level, row, variances, mask, x_axis, xstrelm, xendelm, weighted,
                     iterations, model, 0, status);
}

OlmiRowFit KZT_LSQOLMI(int info_level, std::span<const float> row,
                       std::span<const float> variances, std::span<const std::uint8_t> mask,
                       std::span<const float> x_axis, Index xstrelm, Index xendelm, bool weighted,
                       float iterations, FitModel& model, Index row_number, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_LSQOLMI V0.1";
  OlmiRowFit out;
  if (st_bad(status, kName)) return out;
  const Index xmax = static_cast<Index>(row.size());
  if (xmax < 1) return st_fail(status, kBaseApp + 1, kName), out;
  if (xstrelm < 1 || xendelm < xstrelm || xendelm > xmax ||
      model.num_parameters > kMaxFitParameters || model.num_parameters < 0)
    return st_fail(status, kBaseApp + 5, kName), out;
  if (weighted && variances.size() < row.size()) weighted = false;
  std::vector<std::uint8_t> used(row.size(), 0);
  std::vector<float> sigmas(weighted ? row.size() : 0, 1.0f);
  Index usable = 0, no_variance = 0, non_finite = 0;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    const std::size_t k = static_cast<std::size_t>(x - 1);
    bool out_of_fit = k < mask.size() && mask[k] != 0;
    if (!out_of_fit && !std::isfinite(row[k])) {
      out_of_fit = true;
      ++non_finite;
    }
    if (!out_of_fit && weighted) {
      if (variances[k] > 0.0f && std::isfinite(variances[k])) {
        sigmas[k] = std::sqrt(variances[k]);
      } else {
        out_of_fit = true;
        ++no_variance;
      }
    }
    used[k] = out_of_fit ? 1 : 0;
    usable += out_of_fit ? 0 : 1;
  }
  kzt_non_finite_note(non_finite, "channels", status);
  if (no_variance > 0)
    IO_WRITE("INFO: " + std::to_string(no_variance) +
                 " channels whose variance is not above 0 are left out of the weighted fit",
             status);
  FitModel work = model;
  FitModel fitted = model;
  std::vector<float> model_row(row.size(), 0.0f);
  Status fit_status = status;
  const std::size_t np = static_cast<std::size_t>(model.num_parameters);
  const auto fit_with = [&](std::span<float> params, float diff_step) {
    ModelFitEnd end;
    MA_MODELFIT(info_level, funolmi, true, weighted, true, xmax, 1, row, used, sigmas, xstrelm, 1,
                xendelm, 1, 1, kzt_max_calls(model.num_parameters, iterations), 1.0e-5f, 100.0f,
                diff_step, &work, nullptr, nullptr, nullptr, model.num_parameters,
                std::span<const bool>(fitted.constraints.data(), np),
                std::span<const float>(fitted.scales.data(), np), xmax, 1, true, params,
                model_row, end.end_code, end.num_calls, end.sum_squares, fit_status);
    if (fit_status != kStatusGood) end.end_code = std::max(end.end_code, 3);
    return end;
  };
  const auto fit_once = [&](std::span<float> params) { return fit_with(params, 5.0e-7f); };
  ModelFitEnd end = kzt_fit_freeing_widths(
      model, {row_width, row_width_flat, voigt_spread, {}},
      std::span<float>(fitted.params.data(), np), fit_once, status);
  if (end.end_code <= 0 && fit_status == kStatusGood)
    go_on_down_voigt_valley(model, std::span<float>(fitted.params.data(), np), end, fit_with,
                            status);
  const int end_code = end.end_code;
  out.num_calls = end.num_calls;
  out.sum_squares = end.sum_squares;
  if (fit_status != kStatusGood) {
    status = fit_status;
    st_fail(status, status, kName);
    return out;
  }
  out.end_code = end_code;
  // Whenever the fit ran (codes 1 and 2: it did nothing) its parameters are
  // kept, those of a failed fit too, as the sum of squares belongs to them.
  if (end_code != 1 && end_code != 2) model = fitted;
  if (end_code >= 1) {
    IO_WRITE("WARNING: Problem fitting the model to the data", status);
    if (row_number > 0) IO_WRITE("         (row " + std::to_string(row_number) + ")", status);
  } else {
    // Voigt widths below 0.0 become 0.0.
    for (std::size_t i = 0; i < np; ++i)
      if (code_type(model.codes[i]) == kOneDVoigt && code_parameter(model.codes[i]) >= 3 &&
          model.params[i] < 0.0f)
        model.params[i] = 0.0f;
    out.fitted = true;
    std::vector<int> owners;
    olmi_row_table(model, x_axis, xstrelm, out, &owners);
    // A row whose features are no possible ones keeps its values (to be
    // looked at; no later row starts from them) and says so, on the terminal
    // and in its text.
    const std::vector<std::string> faults =
        olmi_faults(model, xstrelm, xendelm, out.reported, out.results, out.result_names, owners);
    out.valid = faults.empty();
    if (!out.valid) {
      out.text.push_back("");
      // The text is headed with its row where it is shown; the terminal
      // lines of many rows name theirs.
      static constexpr std::string_view kNotValid = " is not valid: ";
      for (const std::string& line : faults) {
        std::string named = line;
        if (const std::size_t at = named.find(kNotValid); row_number > 0 && at != std::string::npos)
          named.insert(at + kNotValid.size() - 2, " in row " + std::to_string(row_number));
        IO_WRITE(named, status);
        out.text.push_back(line);
      }
      IO_WRITE(kNotValidModel, status);
      out.text.push_back(kNotValidModel);
    }
  }
  // The mis-fit of the parameters kept: the fit's sum of squares per used
  // channel, and R_p of their model.
  kzt_olmi_row_model(model, xmax, xstrelm, xendelm, model_row, status);
  const bool held = end_code == -10;
  double abs_diff = 0.0, abs_data = 0.0, held_sum = 0.0, plain_sum = 0.0;
  std::vector<double> misfits;
  misfits.reserve(static_cast<std::size_t>(usable));
  for (Index x = xstrelm; x <= xendelm; ++x) {
    const std::size_t k = static_cast<std::size_t>(x - 1);
    if (used[k] != 0) continue;
    const double d = static_cast<double>(model_row[k]) - row[k];
    misfits.push_back(d);
    abs_diff += std::fabs(d);
    abs_data += std::fabs(row[k]);
    const double r = d / (weighted ? sigmas[k] : 1.0f);
    held_sum += r * r;
    plain_sum += d * d;
  }
  out.channels = usable;
  if (usable > 0)
    out.residual_rms = static_cast<float>(std::sqrt(plain_sum / static_cast<double>(usable)));
  out.typical_misfit = kzt_misfit_noise(misfits);
  // With every parameter held nothing was evaluated: the misfit is the held
  // model's own.
  if (held) {
    out.sum_squares = held_sum;
    const std::string sum(trimmed_text(format_g(out.sum_squares, 14, 7)));
    IO_WRITE(kNothingFitted + sum, status);
    if (out.fitted) out.text.insert(out.text.begin(), {kNothingFittedText + sum, ""});
  }
  const double rms =
      usable > 0 ? std::sqrt(out.sum_squares / static_cast<double>(usable))
                 : 0.0;
  const double rp = abs_data > 0.0 ? 100.0 * abs_diff / abs_data : 0.0;
  if (!held) {
    IO_WRITE("INFO: Number of function calls = " + format_i(out.num_calls, 8), status);
    IO_WRITE("      Sum of squares = " + format_g(out.sum_squares, 14, 7), status);
  }
  IO_WRITE("      RMS mis-fit per data element = " + format_g(rms, 14, 7), status);
  IO_WRITE("      R_p = " + format_f(rp, 7, 2) + "%", status);
  return out;
}

namespace {

// LINES (a heading) followed by ROWS (increasing) as runs, "1-3, 5, 7-8", in
// lines that fit a message box.
std::vector<std::string> row_ranges(std::vector<std::string> lines, std::span<const Index> rows) {
  std::string line;
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    std::string range = std::to_string(rows[i]);
    if (j > i) range += "-" + std::to_string(rows[j]);
    i = j + 1;
    range += i < rows.size() ? "," : "";
    if (!line.empty() && line.size() + 1 + range.size() > 46) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + range;
  }
  lines.push_back(line);
  return lines;
}

}  // namespace

namespace {

// A feature of a row's model as a shape: for a peak, decay or sinusoid
// (PLACED) its position, its height (amplitude) and its width (a peak's half
// width at half maximum, a decay's half-life, a sinusoid's period).
struct FeatureShape {
  bool placed = false, peak = false;
  double pos = 0.0, height = 0.0, width = 0.0;
};

FeatureShape feature_shape(const FitModel& model, int f) {
  const FeatureParameters g = kzt_feature_parameters(model, f);
  const auto& p = g.p;
  FeatureShape s;
  s.peak = g.type == kOneDGaussian || g.type == kOneDLorentzian || g.type == kOneDVoigt;
  s.placed = s.peak || g.type == kOneDDecay || g.type == kOneDSinusoid;
  if (!s.placed) return s;
  s.pos = p[0];
  s.height = s.peak ? p[1] : std::fabs(p[1]);
  if (g.type == kOneDGaussian) s.width = 1.1774 * p[2];
  if (g.type == kOneDVoigt) s.width = 0.5 * voigt_fwhm(p[2], p[3]);
  if (g.type != kOneDGaussian && g.type != kOneDVoigt) s.width = p[2];
  return s;
}

// The standard error of QUANTITY (of a model) at MODEL, fitted with noise
// MISFIT a channel over channels XSTRELM..XENDELM, where it follows the free
// parameters of FEATURES: from how those features change with their free
// parameters over the channels near them, beside a local level and slope
// (which the background takes up). Infinite where the channels cannot tell
// it (a quantity the model hardly moves with).
double quantity_error(const FitModel& model, std::span<const int> features, float misfit,
                      Index xstrelm, Index xendelm,
                      double (*quantity)(const FitModel& model, std::span<const int> features)) {
  std::vector<std::pair<int, std::size_t>> free;  // feature, parameter
  std::vector<float> steps;
  double from = std::numeric_limits<double>::infinity(), to = -from, reach = 10.0;
  for (const int f : features) {
    const FeatureParameters g = kzt_feature_parameters(model, f);
    const FeatureShape s = feature_shape(model, f);
    for (int n = 0; n < g.count; ++n) {
      const int k = g.index[static_cast<std::size_t>(n)];
      if (k < 0 || model.constraints[static_cast<std::size_t>(k)]) continue;
      free.push_back({f, static_cast<std::size_t>(k)});
      // A position's step is a small part of the width, not of where it lies.
      const float value = std::fabs(g.p[static_cast<std::size_t>(n)]);
      steps.push_back(1.0e-3f * (n == 0 ? std::max(static_cast<float>(s.width), 0.1f)
                                        : std::max(value, 1.0e-2f)));
    }
    const double own = 20.0 * std::max(s.width, 0.5) + 10.0;
    reach = std::max(reach, own);
    from = std::min(from, s.pos - own);
    to = std::max(to, s.pos + own);
  }
  if (free.empty() || !std::isfinite(from) || !std::isfinite(to))
    return std::numeric_limits<double>::infinity();
  const double centre_pos = 0.5 * (from + to);
  const Index lo = std::max(xstrelm, static_cast<Index>(std::floor(from)));
  const Index hi = std::min(xendelm, static_cast<Index>(std::ceil(to)));
  if (hi < lo) return std::numeric_limits<double>::infinity();
  const std::size_t n = static_cast<std::size_t>(hi - lo + 1), m = free.size() + 2;
  // By column, the change of the channels' values with each free parameter
  // (central differences), then the level and the slope.
  std::vector<double> columns(n * m, 0.0);
  std::vector<double> gradient(m, 0.0);
  std::vector<float> up(static_cast<std::size_t>(hi)), down(static_cast<std::size_t>(hi));
  FitModel moved = model;
  for (std::size_t j = 0; j < free.size(); ++j) {
    const auto [f, k] = free[j];
    const float value = model.params[k];
    const float step = steps[j];
    Status local = kStatusGood;
    std::fill(up.begin(), up.end(), 0.0f);
    std::fill(down.begin(), down.end(), 0.0f);
    moved.params[k] = value + step;
    KZT_1DFEATURE(moved, f, hi, lo, hi, up, local);
    const double quantity_up = quantity(moved, features);
    moved.params[k] = value - step;
    KZT_1DFEATURE(moved, f, hi, lo, hi, down, local);
    const double quantity_down = quantity(moved, features);
    moved.params[k] = value;
    if (local != kStatusGood) return std::numeric_limits<double>::infinity();
    const double span = 2.0 * static_cast<double>(step);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t x = static_cast<std::size_t>(lo - 1) + i;
      columns[j * n + i] = (static_cast<double>(up[x]) - down[x]) / span;
    }
    gradient[j] = (quantity_up - quantity_down) / span;
  }
  for (std::size_t i = 0; i < n; ++i) {
    columns[(m - 2) * n + i] = 1.0;
    const double centre = static_cast<double>(lo + static_cast<Index>(i)) - 0.5;
    columns[(m - 1) * n + i] = (centre - centre_pos) / reach;
  }
  // The normal matrix, inverted in place (Gauss-Jordan, largest pivot).
  std::vector<double> a(m * m, 0.0), inverse(m * m, 0.0);
  for (std::size_t r = 0; r < m; ++r) {
    inverse[r * m + r] = 1.0;
    for (std::size_t c = 0; c < m; ++c)
      for (std::size_t i = 0; i < n; ++i) a[r * m + c] += columns[r * n + i] * columns[c * n + i];
  }
  double largest = 0.0;
  for (std::size_t r = 0; r < m; ++r) largest = std::max(largest, a[r * m + r]);
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < m; ++r)
      if (std::fabs(a[r * m + c]) > std::fabs(a[pivot * m + c])) pivot = r;
    if (!(std::fabs(a[pivot * m + c]) > 1.0e-12 * largest))
      return std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < m; ++k) {
      std::swap(a[c * m + k], a[pivot * m + k]);
      std::swap(inverse[c * m + k], inverse[pivot * m + k]);
    }
    const double d = a[c * m + c];
    for (std::size_t k = 0; k < m; ++k) {
      a[c * m + k] /= d;
      inverse[c * m + k] /= d;
    }
    for (std::size_t r = 0; r < m; ++r) {
      if (r == c) continue;
      const double factor = a[r * m + c];
      for (std::size_t k = 0; k < m; ++k) {
        a[r * m + k] -= factor * a[c * m + k];
        inverse[r * m + k] -= factor * inverse[c * m + k];
      }
    }
  }
  double variance = 0.0;
  for (std::size_t r = 0; r < m; ++r)
    for (std::size_t c = 0; c < m; ++c) variance += gradient[r] * inverse[r * m + c] * gradient[c];
  const double error = static_cast<double>(misfit) * std::sqrt(std::max(variance, 0.0));
  return std::isfinite(error) ? error : std::numeric_limits<double>::infinity();
}

// The standard error of feature F's width (FeatureShape::width) in MODEL,
// fitted with noise MISFIT a channel over channels XSTRELM..XENDELM; 0 where
// the width is held.
double width_error(const FitModel& model, int f, float misfit, Index xstrelm, Index xendelm) {
  const FeatureParameters g = kzt_feature_parameters(model, f);
  bool width_free = false;
  for (int n = 0; n < g.count; ++n) {
    const int k = g.index[static_cast<std::size_t>(n)];
    width_free = width_free || (k >= 0 && !model.constraints[static_cast<std::size_t>(k)] &&
                                row_width(g.type, n + 1));
  }
  if (!width_free) return 0.0;
  const std::array<int, 1> one = {f};
  return quantity_error(model, one, misfit, xstrelm, xendelm,
                        [](const FitModel& m, std::span<const int> fs) {
                          return feature_shape(m, fs[0]).width;
                        });
}

// The standard error of feature F's position in MODEL, fitted with noise
// MISFIT a channel over channels XSTRELM..XENDELM; 0 where it is held.
double position_error(const FitModel& model, int f, float misfit, Index xstrelm, Index xendelm) {
  const FeatureParameters g = kzt_feature_parameters(model, f);
  if (g.index[0] < 0 || model.constraints[static_cast<std::size_t>(g.index[0])]) return 0.0;
  const std::array<int, 1> one = {f};
  return quantity_error(model, one, misfit, xstrelm, xendelm,
                        [](const FitModel& m, std::span<const int> fs) {
                          return feature_shape(m, fs[0]).pos;
                        });
}

// The standard error of how far peak G lies right of peak F in MODEL.
double gap_error(const FitModel& model, int f, int g, float misfit, Index xstrelm,
                 Index xendelm) {
  const std::array<int, 2> two = {f, g};
  return quantity_error(model, two, misfit, xstrelm, xendelm,
                        [](const FitModel& m, std::span<const int> fs) {
                          return feature_shape(m, fs[1]).pos - feature_shape(m, fs[0]).pos;
                        });
}

// The rules feature F of MODEL, fitted with typical mis-fit MISFIT over
// channels XSTRELM..XENDELM, holds it badly by (OlmiDoubt bits; the low
// feature's at LEVEL times MISFIT): none for a polynomial.
unsigned feature_doubts(const FitModel& model, int f, float misfit, Index xstrelm,
                        Index xendelm, double level) {
  const FeatureShape s = feature_shape(model, f);
  if (!s.placed) return 0;
  if (!std::isfinite(s.height) || !std::isfinite(s.width)) return kDoubtNotFinite;
  unsigned doubts = 0;
  if (s.pos < static_cast<double>(xstrelm - 1) || s.pos > static_cast<double>(xendelm))
    doubts |= kDoubtOutside;
  // A peak whose top lies within its half width of an end of the channels,
  // nearer it than twice the standard error of its position, may as well
  // lie beyond it: the tail of a peak that has left the row fits as one
  // there, seen on one flank only.
  const double to_end = std::min(s.pos - static_cast<double>(xstrelm - 1),
                                 static_cast<double>(xendelm) - s.pos);
  if (s.peak && to_end >= 0.0 && to_end < s.width &&
      to_end < 2.0 * position_error(model, f, misfit, xstrelm, xendelm))
    doubts |= kDoubtOutside;
  // A peak's width is its half width at half maximum: narrower than a
  // channel is a full width below one.
  // A peak's width is its half width at half maximum: below a channel, the
  // peak is narrower than two channels at half its height, as a spike of
  // one or two channels fitted is.
  if (s.width < 1.0) {
    const double error = width_error(model, f, misfit, xstrelm, xendelm);
    if (s.width + 2.0 * error < 1.0 || error > 0.25 * s.width) doubts |= kDoubtNarrow;
  }
  if (s.height < level * misfit) doubts |= kDoubtLow;
  if (s.peak && 2.0 * s.width > static_cast<double>(xendelm - xstrelm + 1)) doubts |= kDoubtWide;
  return doubts;
}

// For each feature of MODEL (index 0 unused), the rules it is held badly by
// (feature_doubts at LEVEL), a peak's also lying on another peak (within the
// wider one's half width, where the data cannot tell them apart).
std::vector<unsigned> features_doubts(const FitModel& model, float misfit, Index xstrelm,
                                      Index xendelm, double level = 3.0) {
  const std::size_t n = static_cast<std::size_t>(std::max(model.num_features, 0)) + 1;
  std::vector<unsigned> doubts(n, 0);
  std::vector<FeatureShape> shapes(n);
  for (std::size_t f = 1; f < n; ++f) {
    shapes[f] = feature_shape(model, static_cast<int>(f));
    doubts[f] = feature_doubts(model, static_cast<int>(f), misfit, xstrelm, xendelm, level);
  }
  for (std::size_t f = 1; f < n; ++f)
    for (std::size_t g = f + 1; g < n; ++g)
      if (shapes[f].peak && shapes[g].peak &&
          std::fabs(shapes[f].pos - shapes[g].pos) < std::max(shapes[f].width, shapes[g].width)) {
        doubts[f] |= kDoubtOnAnother;
        doubts[g] |= kDoubtOnAnother;
      }
  return doubts;
}

// For each feature of MODEL, whether it is held well (features_doubts at
// LEVEL finds nothing).
std::vector<bool> features_held_well(const FitModel& model, float misfit, Index xstrelm,
                                     Index xendelm, double level) {
  const std::vector<unsigned> doubts = features_doubts(model, misfit, xstrelm, xendelm, level);
  std::vector<bool> well(doubts.size());
  for (std::size_t f = 0; f < doubts.size(); ++f) well[f] = doubts[f] == 0;
  return well;
}

}  // namespace

unsigned kzt_olmi_doubts(const FitModel& model, const OlmiRowFit& fit, Index xstrelm,
                         Index xendelm) {
  if (!(fit.fitted && fit.valid)) return 0;
  unsigned all = 0;
  for (const unsigned d : features_doubts(model, fit.typical_misfit, xstrelm, xendelm)) all |= d;
  return all;
}

bool kzt_olmi_held_well(const FitModel& model, const OlmiRowFit& fit, Index xstrelm,
                        Index xendelm) {
  return fit.fitted && fit.valid && kzt_olmi_doubts(model, fit, xstrelm, xendelm) == 0;
}

std::vector<std::string> kzt_olmi_failed_text(std::span<const Index> failed, Index total) {
  if (failed.empty()) return {};
  // A 0.0 in the vectors looks like a value: the rows are named.
  return row_ranges({"",
                     "WARNING: " + std::to_string(failed.size()) + " of " + std::to_string(total) +
                         " rows did not fit (their parameters",
                     "and results are 0.0 in the vectors): rows"},
                    failed);
}

std::vector<std::string> kzt_olmi_invalid_text(std::span<const Index> invalid, Index total) {
  if (invalid.empty()) return {};
  // Their values are in the vectors beside the good rows' and look as good.
  return row_ranges({"",
                     "WARNING: " + std::to_string(invalid.size()) + " of " +
                         std::to_string(total) + " rows ended as no valid",
                     "model (their values are kept in the vectors): rows"},
                    invalid);
}

std::vector<std::string> kzt_olmi_doubtful_text(
    const std::array<std::vector<Index>, kOlmiDoubts>& doubts, Index total) {
  std::vector<Index> rows;
  for (const std::vector<Index>& by_rule : doubts) rows.insert(rows.end(), by_rule.begin(), by_rule.end());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  if (rows.empty()) return {};
  // A valid model can still be wrong: a peak fitted to a spike of the noise,
  // or left where the data have none. Each row is named under what is wrong
  // with it, so that the user knows what to look at.
  static const std::vector<std::string> kRules[kOlmiDoubts] = {
      {"- a feature outside the channels fitted, or", "  a peak's top not clear of their end: rows"},
      {"- a peak narrower than two channels at half", "  its height (a decay's half-life or a",
       "  sinusoid's period below a channel): rows"},
      {"- a feature lower than three times the typical", "  mis-fit: rows"},
      {"- a peak wider than the channels fitted: rows"},
      {"- a height or width that is no number: rows"},
      {"- two peaks closer than the wider one's half", "  width (their shares are in doubt): rows"},
      {"- two peaks crossing, or that may have changed", "  places (which is which is in doubt): rows"}};
  std::vector<std::string> text = {"",
                                   "WARNING: " + std::to_string(rows.size()) + " of " +
                                       std::to_string(total) + " rows hold a feature badly:"};
  for (int rule = 0; rule < kOlmiDoubts; ++rule) {
    const std::vector<Index>& by_rule = doubts[static_cast<std::size_t>(rule)];
    if (by_rule.empty()) continue;
    const std::vector<std::string> lines = row_ranges(kRules[rule], by_rule);
    text.insert(text.end(), lines.begin(), lines.end());
  }
  return text;
}

namespace {

// Each feature's parameters in the rows whose fits held it clearly, in both
// passes, and where each feature lay in the row before. A row that is not
// held well is fitted also with each feature as held in the row nearest it
// (the last of the pass, or, before the downward pass has held it, the
// upward pass's nearest the start row), and with those moved on where the
// features have drifted: a feature lost for some rows may have moved
// meanwhile, and the straight line through its positions in the (up to 20)
// held rows nearest the row says where to.
class FeatureTracks {
 public:
  explicit FeatureTracks(const FitModel& start)
      : features_(static_cast<std::size_t>(std::max(start.num_features, 0)) + 1),
        members_(features_),
        track_(features_),
        near_(features_),
        clicked_(features_),
        pairs_(features_ * features_) {
    for (int i = 0; i < start.num_parameters; ++i) {
      const int f = code_feature(start.codes[static_cast<std::size_t>(i)]);
      if (f >= 1 && static_cast<std::size_t>(f) < features_)
        members_[static_cast<std::size_t>(f)].push_back(static_cast<std::size_t>(i));
    }
    for (std::size_t f = 1; f < features_; ++f) {
      clicked_[f] = feature_shape(start, static_cast<int>(f));
      near_[f] = std::pair{clicked_[f].pos, clicked_[f].width};
    }
    // Two peaks are told apart from the start where they were clicked apart.
    for (std::size_t f = 1; f < features_; ++f)
      for (std::size_t g = f + 1; g < features_; ++g) {
        const FeatureShape &a = clicked_[f], &b = clicked_[g];
        PairState& pair = pairs_[f * features_ + g];
        pair.order = order_of(a.pos, b.pos);
        pair.gap = std::fabs(a.pos - b.pos);
        pair.met = pair.order == 0 || pair.gap < std::max(a.width, b.width);
        // Two clicks close beside one another are placed no better than
        // their own width: their order says which is which only where they
        // lay a quarter of the wider peak's half width apart.
        pair.order_clicked = pair.gap >= 0.25 * std::max(a.width, b.width);
      }
  }

  // SEED with each feature as held in the row nearest Y.
  FitModel as_held(const FitModel& seed, Index y) const {
    FitModel mixed = seed;
    for (std::size_t f = 1; f < features_; ++f) {
      const HeldRow* nearest = nullptr;
      for (const HeldRow& h : track_[f])
        if (nearest == nullptr || distance(h.row, y) < distance(nearest->row, y)) nearest = &h;
      if (nearest == nullptr) continue;
      for (std::size_t m = 0; m < members_[f].size(); ++m)
        mixed.params[members_[f][m]] = nearest->values[m];
    }
    return mixed;
  }

  // FROM with each free position of a feature held in at least 5 rows where
  // the line through its held positions puts it at row Y.
  FitModel drifted(const FitModel& from, Index y) const {
    FitModel moved = from;
    for (std::size_t f = 1; f < features_; ++f) {
      if (track_[f].size() < 5) continue;
      for (std::size_t m = 0; m < members_[f].size(); ++m) {
        const std::size_t k = members_[f][m];
        const int code = moved.codes[k], type = code_type(code);
        const bool placed = type == kOneDGaussian || type == kOneDLorentzian ||
                            type == kOneDVoigt || type == kOneDDecay || type == kOneDSinusoid;
        if (!placed || code_parameter(code) != 1 || moved.constraints[k]) continue;
        if (const std::optional<double> at = line_at(f, m, y))
          moved.params[k] = static_cast<float>(*at);
      }
    }
    return moved;
  }

  // Keeps the features of row Y's fit (WORK) that it held clearly (at least
  // five times its typical mis-fit high) and within its half width of where
  // the row fitted before it (the start model, for the start row) held it,
  // and whose identity is not IN_DOUBT, nor lying on another peak's
  // flank: a row of noise can hold a peak well, once, anywhere.
  void record(Index y, const FitModel& work, const OlmiRowFit& fit, Index xstrelm,
              Index xendelm, const std::vector<bool>& in_doubt) {
    const std::vector<bool> well =
        fit.fitted ? features_held_well(work, fit.typical_misfit, xstrelm, xendelm, 5.0)
                   : std::vector<bool>(features_, false);
    for (std::size_t f = 1; f < features_; ++f) {
      if (!well[f] || (f < in_doubt.size() && in_doubt[f])) {
        near_[f].reset();
        continue;
      }
      const FeatureShape s = feature_shape(work, static_cast<int>(f));
      const bool kept = !s.placed || (near_[f] && std::fabs(s.pos - near_[f]->first) <=
                                                      std::max(near_[f]->second, 1.0));
      near_[f] = std::pair{s.pos, s.width};
      if (!kept || overlapped(work, f, s)) continue;
      HeldRow h{y, {}, s};
      for (const std::size_t k : members_[f]) h.values.push_back(work.params[k]);
      track_[f].push_back(std::move(h));
    }
  }

  // Two peaks that cross can come out of it with each other's parameters
  // (of one kind), or each on the other's line (of two kinds: a Voigt
  // left on a Gaussian's line with its Lorentzian width at 0 is a local
  // minimum the next rows carry on from): the fit follows them by position,
  // and where they overlap either can take either. Two peaks that have not
  // met since they were last told apart keep what they hold: the fit cannot
  // carry one peak's parameters to another far away without the two
  // meeting (coming close, or found, or their lines of drift, in the other
  // order). Once they have met, which is which is in doubt until they lie
  // apart again; then the way of holding them that fits each peak's height
  // and width as last held clearly (as clicked, before any row held it),
  // and each one's line of drift where enough rows held it to draw it,
  // better by a clear margin stands in WORK (row Y's valid fit), two peaks
  // of one kind exchanged back when the fit gave each the other's; two of
  // two kinds that hold each other's lines stay in doubt. Gives, by
  // feature, those of a pair whose identity is in doubt.
  std::vector<bool> keep_identities(FitModel& work, Index y, const std::vector<bool>& clear,
                                    float misfit, Index xstrelm, Index xendelm) {
    std::vector<bool> in_doubt(features_, false);
    for (std::size_t f = 1; f < features_; ++f)
      for (std::size_t g = f + 1; g < features_; ++g) {
        const std::optional<Identity> a = identity(work, f, y), b = identity(work, g, y);
        if (!a || !b || held(work, f) || held(work, g)) continue;
        PairState& pair = pairs_[f * features_ + g];
        const FeatureShape now_f = feature_shape(work, static_cast<int>(f));
        const FeatureShape now_g = feature_shape(work, static_cast<int>(g));
        // A row where one of the two is a trace (the other holding both
        // peaks) tells nothing of which is which, nor what either is like.
        const bool both_clear = f < clear.size() && g < clear.size() && clear[f] && clear[g];
        // How far apart two peaks clicked apart lie is first known from a
        // fit: the clicks' own error would have them drawing together.
        if (pair.gap_clicked && !pair.met && both_clear &&
            std::fabs(now_f.pos - now_g.pos) >= now_f.width + now_g.width)
          pair.gap = std::fabs(now_f.pos - now_g.pos);
        const bool first_fitted = pair.gap_clicked;
        // The row clicked is where two clicked apart were last told apart.
        if (first_fitted && !pair.met) pair.told = {y, clicked_[f].pos, clicked_[g].pos};
        pair.gap_clicked = false;
        const bool close = meeting(pair, now_f, now_g, *a, *b, !both_clear);
        const bool lines_crossed = a->drift && b->drift &&
                                   order_of(a->shape.pos, b->shape.pos) != pair.order;
        const bool other_order = order_of(now_f.pos, now_g.pos) != pair.order;
        if (close || lines_crossed || other_order) pair.met = true;
        if (!pair.met) {
          pair.told = {y, now_f.pos, now_g.pos};
          continue;
        }
        const double gap = std::fabs(now_f.pos - now_g.pos);
        // A gap within what the fit resolves (kGapErrors standard errors):
        // the two are held as one, and may have crossed there though the fit
        // keeps their order and gap (the next row's fit starts from both on
        // one side and parts them as they were). The first row fitted is
        // where they were clicked: nothing has crossed yet.
        const bool unresolved =
            !first_fitted &&
            gap < kGapErrors * gap_error(work, static_cast<int>(f), static_cast<int>(g), misfit,
                                         xstrelm, xendelm);
        const bool came_closer = lines_crossed || other_order ||
                                 gap < pair.gap - 0.25 * std::max(now_f.width, now_g.width);
        if (came_closer || unresolved) pair.drew_together = true;
        if (came_closer) pair.came_closer = true;
        // Their shares are in doubt until they lie apart (further than
        // their half widths together).
        const bool apart = gap >= now_f.width + now_g.width;
        const bool telling = !close && apart && both_clear;
        if (!telling) pair.shapes = {};
        if (telling && !pair.other_lower && tell_apart(pair, work, f, g, *a, *b)) continue;
        // Rows holding both clearly, resolved, off each other's tops and in
        // their order give each one's line since they met.
        const bool placed = both_clear && !unresolved && !other_order &&
                            gap >= std::max(now_f.width, now_g.width);
        if (!placed) pair.since.clear();
        if (placed && !pair.other_lower && !pair.other_as_good) {
          pair.since.push_back({static_cast<double>(y), now_f.pos, now_g.pos});
          if (came_out_on_own_lines(pair)) {
            pair.order = order_of(now_f.pos, now_g.pos);
            pair.gap = gap;
            settle_apart(pair);
            continue;
          }
        }
        in_doubt[f] = in_doubt[g] = true;
      }
    for (PairState& pair : pairs_) pair.other_lower = pair.other_as_good = false;
    return in_doubt;
  }

  // Whether two peaks have met since they were last told apart: which is
  // which is then in doubt, and the fit from the row before may carry on
  // from one holding the other's peak.
  bool any_met() const {
    for (std::size_t f = 1; f < features_; ++f)
      for (std::size_t g = f + 1; g < features_; ++g)
        if (met(f, g)) return true;
    return false;
  }

  // By feature, those of a pair that have met since last told apart.
  std::vector<bool> met_features() const {
    std::vector<bool> in_pair(features_, false);
    for (std::size_t f = 1; f < features_; ++f)
      for (std::size_t g = f + 1; g < features_; ++g)
        if (met(f, g)) in_pair[f] = in_pair[g] = true;
    return in_pair;
  }

  // Two peaks of two kinds that have met, held by FIT (the fit that stands)
  // and by ANOTHER either where the other lies, ANOTHER's sum of squares
  // LOWER than FIT's by more than the noise explains (FIT is not at the
  // row's minimum: which is which is in doubt) or AS_GOOD (their kinds do
  // not tell them apart: their heights, widths and lines must); for
  // keep_identities in this row.
  void note_placement(const FitModel& fit, const FitModel& another, bool lower, bool as_good) {
    for (std::size_t f = 1; f < features_; ++f)
      for (std::size_t g = f + 1; g < features_; ++g) {
        if (!met(f, g)) continue;
        const FeatureShape a = feature_shape(fit, static_cast<int>(f));
        const FeatureShape b = feature_shape(fit, static_cast<int>(g));
        const FeatureShape other_a = feature_shape(another, static_cast<int>(f));
        const FeatureShape other_b = feature_shape(another, static_cast<int>(g));
        const bool two_kinds = kzt_feature_parameters(fit, static_cast<int>(f)).type !=
                               kzt_feature_parameters(fit, static_cast<int>(g)).type;
        // Either on the other's place will do: of three, each may be on
        // the next one's.
        if (two_kinds && (std::fabs(other_a.pos - b.pos) < std::fabs(other_a.pos - a.pos) ||
                          std::fabs(other_b.pos - a.pos) < std::fabs(other_b.pos - b.pos)))
        {
          PairState& pair = pairs_[f * features_ + g];
          pair.other_lower = pair.other_lower || lower;
          pair.other_as_good = pair.other_as_good || as_good;
        }
      }
  }

  // FROM (a fit of the row) with each pair of peaks that have met put each
  // where the other lies: two of one kind with their heights and widths
  // exchanged, two of two kinds with their positions exchanged. One model a
  // pair: a fit that carried both through the crossing on each other's
  // peaks has a lower minimum from there, one that has them right the same
  // (of one kind) or a higher one.
  std::vector<FitModel> met_exchanged(const FitModel& from) const {
    std::vector<FitModel> out;
    for (std::size_t f = 1; f < features_; ++f)
      for (std::size_t g = f + 1; g < features_; ++g) {
        if (!met(f, g) || held(from, f) || held(from, g)) continue;
        const FeatureParameters a = kzt_feature_parameters(from, static_cast<int>(f));
        const FeatureParameters b = kzt_feature_parameters(from, static_cast<int>(g));
        FitModel swapped = from;
        if (a.type == b.type) {
          exchange(swapped, f, g);
          std::swap(swapped.params[static_cast<std::size_t>(a.index[0])],
                    swapped.params[static_cast<std::size_t>(b.index[0])]);
        } else {
          std::swap(swapped.params[static_cast<std::size_t>(a.index[0])],
                    swapped.params[static_cast<std::size_t>(b.index[0])]);
        }
        out.push_back(std::move(swapped));
      }
    return out;
  }

  // The downward pass goes on from where the features lay after the start
  // row, and from how each pair of them stood there.
  void keep_start_row() {
    down_near_ = near_;
    down_pairs_ = pairs_;
  }
  void begin_downward_pass() {
    near_ = down_near_;
    pairs_ = down_pairs_;
  }

 private:
  struct HeldRow {
    Index row;
    std::vector<float> values;
    FeatureShape shape;
  };

  static Index distance(Index a, Index b) { return a > b ? a - b : b - a; }

  // A peak as last held clearly: its type, its height and width in the
  // nearest held rows (as clicked, before any row held it) and its position
  // where its drift puts it at the row, when at least 3 rows held it to draw
  // its line (DRIFT; where it was held says nothing of where it went since).
  // HELD: a row held it (a click gives its height and width roughly).
  struct Identity {
    int type;
    FeatureShape shape;
    bool drift = false, held = false;
  };
  // How much a peak now (NOW) differs from a peak's IDENTITY: its height and
  // width as ratios (its shape), and its position in the identity's half
  // widths when the identity's drift is known.
  static double shape_unlikeness(const FeatureShape& now, const Identity& identity) {
    const FeatureShape& was = identity.shape;
    return std::fabs(std::log(now.height / was.height)) +
           std::fabs(std::log(now.width / was.width));
  }
  // How far a peak now (NOW) lies off an identity's line of drift, in the
  // identity's half widths.
  static double off_line(const FeatureShape& now, const Identity& identity) {
    return std::fabs(now.pos - identity.shape.pos) / std::max(identity.shape.width, 1.0);
  }
  static constexpr double kIdentityMargin = 0.5;
  // The most a peak that is still its identity differs from it (a height or
  // width off by a factor of e^2, or a mix of those and its position off its
  // line of drift).
  static constexpr double kLikeIdentity = 2.0;
  // The rows lying apart whose heights and widths together tell two peaks
  // that no one row tells.
  static constexpr int kRowsToTell = 4;
  // The standard errors of their gap within which two peaks' order is not
  // resolved.
  static constexpr double kGapErrors = 2.0;
  // How far the fit itself leans the heights and widths (shape_says) of two
  // peaks lying apart.
  static constexpr double kFitLeaning = 0.1;

  // Two peaks of one kind: the order they lay in (+1 the second on the
  // right) and how far apart they lay when last told apart, and whether
  // they have met since.
  struct PairState {
    int order = 0;
    double gap = 0.0;
    bool met = true;
    // Since they met they have come closer than when last told apart, or
    // within what the fit resolves, or been in the other order: they may
    // have crossed. Two clicked on one another that have only drawn apart
    // since, their gap resolved, have not.
    bool drew_together = false;
    // Of those, they have been seen closer or in the other order, not only
    // within what the fit resolves.
    bool came_closer = false;
    // GAP is still the clicks' (no row has been fitted since), and whether
    // the order clicked tells which is which.
    bool gap_clicked = true, order_clicked = true;
    // What the heights and widths said (shape_says) in each row since they
    // lie apart, while no one row told.
    struct Shapes {
      int rows = 0;
      double sum = 0.0, squares = 0.0;
    } shapes;
    // Where the two lay in the last row they were told apart (row 0: none
    // yet), and by row their positions in the rows lying apart since they
    // met, while no other rule told them.
    struct Told {
      Index row = 0;
      double pos_f = 0.0, pos_g = 0.0;
    } told;
    std::vector<std::array<double, 3>> since;
    // In this row a fit held them (of two kinds) each where the other lies
    // with a lower sum of squares, or one as good (note_placement).
    bool other_lower = false, other_as_good = false;
  };
  static int order_of(double left, double right) {
    return right > left ? 1 : right < left ? -1 : 0;
  }

  // Whether two peaks (NOW_F, NOW_G; identities A and B) of a PAIR are
  // meeting: they lie on one another (within the wider one's half width),
  // or either has lost its own height or width or is a TRACE, not clear of
  // the noise (the fit holds both as one peak and the other as a trace
  // beside it), and their lines of drift lie on one another here or they
  // lie within their half widths together, or, while their drift is not
  // known, they have drawn together since last told apart. Two peaks each
  // clearly its own are not meeting where only their lines are: peaks that
  // meet and turn back leave their lines, which cross later.
  static bool meeting(const PairState& pair, const FeatureShape& now_f,
                      const FeatureShape& now_g, const Identity& a, const Identity& b,
                      bool trace) {
    const double gap = std::fabs(now_f.pos - now_g.pos);
    const double wider = std::max(now_f.width, now_g.width);
    if (gap < wider) return true;
    const bool drifts = a.drift && b.drift;
    // A click gives a peak's height and width only roughly: a peak not yet
    // held has lost them only by twice the margin.
    const auto lost = [](const FeatureShape& now, const Identity& id) {
      return shape_unlikeness(now, id) > (id.held ? 1.0 : 2.0) * kIdentityMargin;
    };
    const bool lost_own = lost(now_f, a) || lost(now_g, b);
    const bool lines_meet =
        drifts && std::fabs(a.shape.pos - b.shape.pos) < std::max(a.shape.width, b.shape.width);
    if (lines_meet && (lost_own || trace)) return true;
    const double together =
        std::max(now_f.width + now_g.width, a.shape.width + b.shape.width);
    return gap < together && (lost_own || trace || (!drifts && gap < pair.gap - 0.25 * wider));
  }

  // Features F and G of WORK, which have met and now lie apart, are held the
  // way that fits identities A and B better by a clear margin (exchanged
  // when that is the other way), and the PAIR is told apart again; false,
  // the pair left met, while which is which is in doubt.
  static bool tell_apart(PairState& pair, FitModel& work, std::size_t f, std::size_t g,
                         const Identity& a, const Identity& b) {
    const FeatureShape now_f = feature_shape(work, static_cast<int>(f));
    const FeatureShape now_g = feature_shape(work, static_cast<int>(g));
    std::optional<bool> swapped = held_exchanged(pair, now_f, now_g, a, b);
    // Peaks of two kinds are told apart by their kinds where their heights,
    // widths and lines say neither way and the row, fitted from both ways of
    // placing them, fits the other way worse by more than the noise
    // explains; they cannot be given each other's parameters: on each
    // other's lines they are named until the fit holds them apart.
    const bool one_kind = a.type == b.type;
    if (!swapped && (one_kind || pair.other_as_good))
      swapped = held_exchanged_over_rows(pair, now_f, now_g, a, b);
    if (one_kind || pair.other_as_good ? !swapped : swapped.value_or(false)) return false;
    // Even where their kinds do not tell them apart, a Gaussian given a
    // Voigt's parameters is not the fit that stood: such a pair stays met.
    if (swapped.value_or(false) && !one_kind) return false;
    if (swapped.value_or(false)) exchange(work, f, g);
    pair.order = swapped.value_or(false) ? order_of(now_g.pos, now_f.pos)
                                         : order_of(now_f.pos, now_g.pos);
    pair.gap = std::fabs(now_f.pos - now_g.pos);
    settle_apart(pair);
    return true;
  }

  // A PAIR that met is told apart again (its order and gap set).
  static void settle_apart(PairState& pair) {
    pair.met = false;
    pair.drew_together = false;
    pair.came_closer = false;
    pair.order_clicked = true;
    pair.shapes = {};
    pair.since.clear();
  }

  // Whether two peaks of a PAIR that met, lying apart again for some rows,
  // came out of it each on its own line: the straight lines through their
  // positions in those rows point back to where each lay when last told
  // apart (the two together within half their gap then), and the two lines
  // the other way round point by the gap further off. Two that crossed come out
  // on each other's lines, whatever their heights and widths; two alike that
  // only came close (one of them held as a trace for a row) are told by it.
  // The lines are not drawn back further than the rows they are drawn
  // through span.
  static bool came_out_on_own_lines(const PairState& pair) {
    if (pair.told.row == 0 || pair.since.size() < static_cast<std::size_t>(kRowsToTell) + 1)
      return false;
    double first = pair.since.front()[0], last = first;
    for (const auto& r : pair.since) {
      first = std::min(first, r[0]);
      last = std::max(last, r[0]);
    }
    const double told_row = static_cast<double>(pair.told.row);
    const double reach = std::min(std::fabs(first - told_row), std::fabs(last - told_row));
    if (reach > last - first) return false;
    const auto back = [&](std::size_t which) {
      double n = 0.0, sr = 0.0, sp = 0.0, srr = 0.0, srp = 0.0;
      for (const auto& r : pair.since) {
        const double dr = r[0] - told_row;
        n += 1.0, sr += dr, sp += r[which], srr += dr * dr, srp += dr * r[which];
      }
      const double spread = n * srr - sr * sr;
      return spread > 0.0 ? (sp * srr - sr * srp) / spread
                          : std::numeric_limits<double>::quiet_NaN();
    };
    const double at_f = back(1), at_g = back(2);
    const double told_gap = std::fabs(pair.told.pos_f - pair.told.pos_g);
    const double own = std::fabs(at_f - pair.told.pos_f) + std::fabs(at_g - pair.told.pos_g);
    const double other = std::fabs(at_f - pair.told.pos_g) + std::fabs(at_g - pair.told.pos_f);
    return own < 0.5 * told_gap && other > own + told_gap;
  }

  // What the heights and widths of NOW_F and NOW_G say of identities A and
  // B: above 0 each its own, below 0 each the other's (the sum of how much
  // less like its own identity than the other's each one is, as
  // shape_unlikeness has it); none where neither identity is like either
  // peak (a peak gone from the row, or past its end).
  static std::optional<double> shape_says(const FeatureShape& now_f, const FeatureShape& now_g,
                                          const Identity& a, const Identity& b) {
    const double fa = shape_unlikeness(now_f, a), gb = shape_unlikeness(now_g, b);
    const double fb = shape_unlikeness(now_f, b), ga = shape_unlikeness(now_g, a);
    const bool a_seen = std::min(fa, ga) <= kLikeIdentity;
    const bool b_seen = std::min(fb, gb) <= kLikeIdentity;
    if (!a_seen && !b_seen) return std::nullopt;
    return (a_seen ? ga - fa : 0.0) + (b_seen ? fb - gb : 0.0);
  }

  // Whether a PAIR lying apart holds identities A and B each the other's
  // way round (NOW_F, NOW_G), where no one row tells: heights and widths
  // that differ by less than one row's noise still say it in a run of rows
  // lying apart, when their mean is clear of the scatter (three standard
  // errors) and of the fit's own leaning (a tenth); two peaks clicked on
  // one another, yet a quarter of the wider one's half width apart, that
  // have only drawn apart since, in the order clicked, are their own unless
  // the shapes say otherwise (clicked closer, the order is the clicks'
  // error, and the rows stay named). None while that cannot be told.
  static std::optional<bool> held_exchanged_over_rows(PairState& pair, const FeatureShape& now_f,
                                                      const FeatureShape& now_g,
                                                      const Identity& a, const Identity& b) {
    const std::optional<double> by_shape = shape_says(now_f, now_g, a, b);
    if (by_shape) {
      pair.shapes.rows += 1;
      pair.shapes.sum += *by_shape;
      pair.shapes.squares += *by_shape * *by_shape;
    }
    const PairState::Shapes& s = pair.shapes;
    if (s.rows >= kRowsToTell) {
      const double n = static_cast<double>(s.rows), mean = s.sum / n;
      const double spread = std::sqrt(std::max(s.squares / n - mean * mean, 0.0) * n / (n - 1.0));
      const double scatter = 3.0 * spread / std::sqrt(n);
      if (std::fabs(mean) > std::max(scatter, kFitLeaning)) return mean < 0.0;
      // Two that were only held within what the fit resolves, never seen
      // closer nor in the other order, kept the order clicked unless they
      // crossed in such a row: where their identities differ (by more than
      // the fit's own leaning), shapes that say the order clicked, clear of
      // the scatter, tell so, as nothing says the other way.
      if (!pair.came_closer && pair.order_clicked && mean > scatter &&
          shape_unlikeness(a.shape, b) > kFitLeaning)
        return false;
    }
    if (!pair.drew_together && pair.order_clicked && by_shape.value_or(0.0) > -kIdentityMargin)
      return false;
    return std::nullopt;
  }

  // Whether features NOW_F and NOW_G of a PAIR that has met hold identities
  // A and B each the other's way round (true) or their own (false); none
  // while that cannot be told. Heights and widths tell best where they
  // clearly differ: peaks that meet and turn back leave their straight
  // lines of drift, which then point across to each other. Where heights
  // and widths are alike the lines tell, when they say the two kept to
  // their sides, or when each peak lies on the line it is given, within a
  // quarter of its half width (two that crossed), not beside it (lines of
  // two that turned, which have crossed each other). An identity that
  // neither feature is like (a peak gone from the row, or past its end)
  // says nothing of which is which: the other one alone tells.
  static std::optional<bool> held_exchanged(const PairState& pair, const FeatureShape& now_f,
                                            const FeatureShape& now_g, const Identity& a,
                                            const Identity& b) {
    const std::optional<double> said = shape_says(now_f, now_g, a, b);
    if (!said) return std::nullopt;
    const double by_shape = *said;  // > 0: kept
    const bool drifts = a.drift && b.drift;
    const double by_line = drifts ? (off_line(now_g, a) - off_line(now_f, a)) +
                                        (off_line(now_f, b) - off_line(now_g, b))
                                  : 0.0;
    const bool line_tells = drifts && std::fabs(by_line) > kIdentityMargin;
    const auto kept_sides = [&](bool swapped) {
      return swapped ? order_of(now_g.pos, now_f.pos) == pair.order
                     : order_of(now_f.pos, now_g.pos) == pair.order;
    };
    // Two of one kind that cross come out of it in their order (the fit
    // follows them by position): while no line of drift is known, their
    // sides say nothing.
    const bool sides_tell = a.type != b.type || drifts;
    if (std::fabs(by_shape) > kIdentityMargin) {
      // Heights and widths that say it by far tell alone; by less (one row's
      // are noisy), only where the two kept to their sides or their lines
      // say the same.
      const bool swapped = by_shape < 0.0;
      if (std::fabs(by_shape) > 1.5 * kIdentityMargin || (sides_tell && kept_sides(swapped)) ||
          (line_tells && (by_line < 0.0) == swapped))
        return swapped;
      return std::nullopt;
    }
    if (!line_tells) return std::nullopt;
    const bool swapped = by_line < 0.0;
    if (kept_sides(swapped)) return swapped;
    const bool on_lines = swapped ? off_line(now_g, a) <= 0.25 && off_line(now_f, b) <= 0.25
                                  : off_line(now_f, a) <= 0.25 && off_line(now_g, b) <= 0.25;
    if (!on_lines) return std::nullopt;
    return swapped;
  }

  std::optional<Identity> identity(const FitModel& work, std::size_t f, Index y) const {
    const int type = kzt_feature_parameters(work, static_cast<int>(f)).type;
    if (type != kOneDGaussian && type != kOneDLorentzian && type != kOneDVoigt) return std::nullopt;
    Identity id{type, clicked_[f]};
    if (!track_[f].empty()) {
      // Where two peaks overlap their fits trade height and width from row
      // to row: the median of the nearest few held rows is the peak's own.
      std::vector<const HeldRow*> near;
      for (const HeldRow& h : track_[f]) near.push_back(&h);
      const std::size_t used = std::min<std::size_t>(near.size(), 5);
      std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(used), near.end(),
                        [y](const HeldRow* a, const HeldRow* b) {
                          return distance(a->row, y) < distance(b->row, y);
                        });
      near.resize(used);
      id.shape = near.front()->shape;
      const auto median = [&near](double FeatureShape::*what) {
        std::vector<double> v;
        for (const HeldRow* h : near) v.push_back(h->shape.*what);
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
      };
      id.shape.height = median(&FeatureShape::height);
      id.shape.width = median(&FeatureShape::width);
      id.held = true;
    }
    if (!(id.shape.height > 0.0) || !(id.shape.width > 0.0)) return std::nullopt;
    for (std::size_t m = 0; m < members_[f].size(); ++m)
      if (code_parameter(work.codes[members_[f][m]]) == 1 && track_[f].size() >= 3)
        if (const std::optional<double> at = line_at(f, m, y)) {
          id.shape.pos = *at;
          id.drift = true;
        }
    return id;
  }

  // Whether peak F of WORK (its shape S) lies within its and another peak's
  // half widths together of that one: the fit shares their heights and
  // widths out as the noise has it, which is no peak's own.
  bool overlapped(const FitModel& work, std::size_t f, const FeatureShape& s) const {
    if (!s.peak) return false;
    for (std::size_t g = 1; g < features_; ++g) {
      if (g == f) continue;
      const FeatureShape o = feature_shape(work, static_cast<int>(g));
      if (o.peak && std::fabs(s.pos - o.pos) < s.width + o.width) return true;
    }
    return false;
  }

  // Whether peaks F and G (F < G) have met since last told apart.
  bool met(std::size_t f, std::size_t g) const {
    return clicked_[f].peak && clicked_[g].peak && pairs_[f * features_ + g].met;
  }

  // Whether a parameter of feature F of WORK is held (not fitted).
  bool held(const FitModel& work, std::size_t f) const {
    return std::any_of(members_[f].begin(), members_[f].end(),
                       [&](std::size_t k) { return work.constraints[k]; });
  }

  // The parameters of features F and G (of one type) exchanged, by number;
  // features of two types are left as they are (the model would change).
  static void exchange(FitModel& work, std::size_t f, std::size_t g) {
    const FeatureParameters a = kzt_feature_parameters(work, static_cast<int>(f));
    const FeatureParameters b = kzt_feature_parameters(work, static_cast<int>(g));
    if (a.type != b.type) return;
    for (int n = 0; n < std::min(a.count, b.count); ++n) {
      const int i = a.index[static_cast<std::size_t>(n)], j = b.index[static_cast<std::size_t>(n)];
      if (i >= 0 && j >= 0)
        std::swap(work.params[static_cast<std::size_t>(i)], work.params[static_cast<std::size_t>(j)]);
    }
  }

  // Where the straight line through member M of feature F in the (up to 20)
  // held rows nearest Y puts it at Y. A row that held something else there
  // now and then (a peak of the noise beside another, twice running) lies
  // off the line: the row furthest off, beyond 2 channels, is left out and
  // the line drawn again, while 5 rows are left. None when the rows do not
  // spread.
  std::optional<double> line_at(std::size_t f, std::size_t m, Index y) const {
    std::vector<std::pair<Index, double>> near;
    for (const HeldRow& h : track_[f]) near.push_back({h.row, h.values[m]});
    const std::size_t used = std::min<std::size_t>(near.size(), 20);
    std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(used), near.end(),
                      [&](const auto& a, const auto& b) {
                        return distance(a.first, y) < distance(b.first, y);
                      });
    near.resize(used);
    for (;;) {
      double sr = 0.0, sp = 0.0, srr = 0.0, srp = 0.0;
      for (const auto& [row, q] : near) {
        const double r = static_cast<double>(row - y);
        sr += r, sp += q, srr += r * r, srp += r * q;
      }
      const double n = static_cast<double>(near.size()), spread = n * srr - sr * sr;
      if (spread <= 0.0) return std::nullopt;
      const double at = (sp * srr - sr * srp) / spread, slope = (n * srp - sr * sp) / spread;
      const auto off = [&](const std::pair<Index, double>& e) {
        return std::fabs(e.second - at - slope * static_cast<double>(e.first - y));
      };
      const auto worst = std::max_element(
          near.begin(), near.end(), [&](const auto& a, const auto& b) { return off(a) < off(b); });
      if (off(*worst) > 2.0 && near.size() > 5) {
        near.erase(worst);
        continue;
      }
      // The line's value at Y (where r = 0).
      return at;
    }
  }

  std::size_t features_;
  // By feature, the indices of its parameters.
  std::vector<std::vector<std::size_t>> members_;
  std::vector<std::vector<HeldRow>> track_;
  // Each feature's position and width in the row before, while it held it.
  std::vector<std::optional<std::pair<double, double>>> near_, down_near_;
  // Each feature as clicked (the start model).
  std::vector<FeatureShape> clicked_;
  // By pair of features F < G (at F * features_ + G), how they stand.
  std::vector<PairState> pairs_, down_pairs_;
};

// One fit of a row: its result, the model it left, its lines (held back
// until it is known which fit stands) and what it started from.
struct TriedFit {
  OlmiRowFit fit;
  FitModel model;
  std::vector<std::string> lines;
  const std::string* from;
};

// How much higher than FIT's sum of squares another fit's may lie by the
// noise alone: the free parameters' count of FIT's mean square.
double noise_allowance(const TriedFit& fit) {
  const int free_count = static_cast<int>(
      std::count(fit.model.constraints.begin(),
                 fit.model.constraints.begin() + fit.model.num_parameters, false));
  return fit.fit.channels > 0 ? free_count * static_cast<double>(fit.fit.sum_squares) /
                                    static_cast<double>(fit.fit.channels)
                              : 0.0;
}

// The fit that stands among TRIED (the first, the previous row's model's,
// when none fitted): the valid fit with the lowest sum of squares, unless a
// fit that is not valid lies lower by more than its noise explains (the free
// parameters' count of its mean square): a valid fit that has given up a
// clear peak to keep a faded one above 0 is no better. A fit lower than an
// earlier one by less than a thousandth is the same minimum (two peaks of
// one kind may have reached it each on the other's place): the earlier
// stands, and a row does not take other names for its peaks by chance.
const TriedFit& standing_fit(std::span<const TriedFit> tried) {
  const TriedFit *lowest = nullptr, *lowest_valid = nullptr;
  const auto lower = [](const TriedFit& t, const TriedFit* than) {
    return than == nullptr || t.fit.sum_squares < than->fit.sum_squares * (1.0 - 1.0e-3);
  };
  for (const TriedFit& t : tried) {
    if (!t.fit.fitted) continue;
    if (lower(t, lowest)) lowest = &t;
    if (t.fit.valid && lower(t, lowest_valid)) lowest_valid = &t;
  }
  if (lowest_valid == nullptr) return lowest != nullptr ? *lowest : tried.front();
  return lowest_valid->fit.sum_squares <= lowest->fit.sum_squares + noise_allowance(*lowest)
             ? *lowest_valid
             : *lowest;
}

// The fit that stands among TRIED, whose first PLAIN fits started from the
// previous row's model, the peaks as held and the start model, the rest
// from two peaks that met exchanged: one of those stands only where it lies
// lower than the others' by more than the noise explains (where it does not
// the two are as likely either way, and a row is not to flip from the way
// the rows before it held them; the row is named for it).
const TriedFit& standing_after_exchanges(std::span<const TriedFit> tried, std::size_t plain) {
  const TriedFit& overall = standing_fit(tried);
  if (plain >= tried.size() || &overall < tried.data() + plain) return overall;
  const TriedFit& kept = standing_fit(tried.first(plain));
  if (!(kept.fit.fitted && kept.fit.valid) ||
      overall.fit.sum_squares < kept.fit.sum_squares - noise_allowance(kept))
    return overall;
  return kept;
}

// One run over the rows of a region, with what the evolution carries from
// row to row and what the run names at its end.
class OlmiRun {
 public:
  OlmiRun(Index xmaxdat, std::span<const float> data, std::span<const float> variances,
          std::span<const std::uint8_t> mask, std::span<const float> x_axis, Index xstrelm,
          Index xendelm, Index start_row, const std::string& title, const OlmiControls& controls,
          const FitModel& start, KztVectors& vectors, OlmiDisplay display, OlmiOutput* output)
      : xmaxdat_(xmaxdat),
        width_(static_cast<std::size_t>(xmaxdat)),
        data_(data),
        variances_(variances),
        mask_(mask),
        x_axis_(x_axis),
        xstrelm_(xstrelm),
        xendelm_(xendelm),
        start_row_(start_row),
        title_(title),
        controls_(controls),
        start_(start),
        vectors_(vectors),
        display_(display),
        output_(output),
        seed_(start),
        down_seed_(start),
        work_(start),
        tracks_(start),
        boxes_(controls.warning_boxes) {
    // The result names follow the features alone, so a run whose rows all
    // fail still names its vectors.
    std::vector<float> unused;
    kzt_olmi_results(start, x_axis, xstrelm, unused, result_names_);
    count_ = start.num_parameters + static_cast<int>(result_names_.size());
    if (output_ != nullptr) {
      output_->start_fitted = false;
      output_->start_text.clear();
      output_->failed_rows.clear();
      output_->invalid_rows.clear();
      output_->doubtful_rows.clear();
      for (std::vector<Index>& rows : output_->doubts) rows.clear();
      output_->text.clear();
    }
  }

  // Rows START_ROW..YENDELM, then START_ROW - 1 down to YSTRELM.
  void fit_rows(Index ystrelm, Index yendelm, Status& status) {
    for (Index y = start_row_; y <= yendelm && status == kStatusGood; ++y) fit_row(y, status);
    seed_ = down_seed_;
    tracks_.begin_downward_pass();
    for (Index y = start_row_ - 1; y >= ystrelm && status == kStatusGood; --y) fit_row(y, status);
  }

  // The vectors' names and ranges, and the rows named on the terminal and in
  // the output.
  void finish(Index ystrelm, Index yendelm, Status& status) {
    if (overflow_)
      IO_WRITE("WARNING: Only vectors 1 to " + std::to_string(vectors_.max_vectors) +
                   " and rows 1 to " + std::to_string(vectors_.max_vec_values) +
                   " of the results could be stored",
               status);
    name_vectors(ystrelm, yendelm);
    name_rows(yendelm - ystrelm + 1, status);
  }

 private:
  // What the next row starts from. Under evolution only a valid fit seeds
  // the next row: a feature whose height or width went below 0 is held at a
  // tiny value by the model, adds nothing and could never come back, so a
  // row without a result or with no valid model would spoil every row after
  // it. A valid fit can be wrong all the same (a peak fitted to a spike of
  // the noise, a peak left where the data have none): a row whose fit from
  // the previous row's model does not hold every feature well is fitted
  // also from the features as rows near it held them, and from the start
  // model, and the valid fit with the lowest sum of squares stands. The
  // downward pass starts from the start row's fit when it was valid.
  void fit_row(Index y, Status& status) {
    // Under evolution the lines of a row's fits are held back until it is
    // known which fit stands: only its lines are told.
    std::vector<std::string> told;
    OlmiRowFit fit;
    {
      std::optional<IoHeldLines> hold;
      if (controls_.evolve) hold.emplace();
      fit = fit_from(y, seed_, work_, status);
      if (hold) told = hold->lines();
    }
    if (status != kStatusGood) {
      io_write_lines(told, status);
      return;
    }
    if (controls_.evolve &&
        (!kzt_olmi_held_well(work_, fit, xstrelm_, xendelm_) || tracks_.any_met()) &&
        !refit_held_badly(y, fit, told, status))
      return;
    io_write_lines(told, status);
    const std::vector<bool> in_doubt = settle_identities(y, fit, status);
    const bool identity_doubt = std::find(in_doubt.begin(), in_doubt.end(), true) != in_doubt.end();
    keep(y, fit, identity_doubt ? kDoubtIdentity : 0u, status);
    if (!controls_.evolve) return;
    if (fit.fitted && fit.valid) {
      seed_ = work_;
      if (y == start_row_) down_seed_ = work_;
    }
    // A feature held well is kept, whatever the others did; but in a fit of
    // no valid model which is which of two peaks that have met is not
    // settled (one may hold both), and neither is kept.
    tracks_.record(y, work_, fit, xstrelm_, xendelm_,
                   fit.fitted && !fit.valid ? tracks_.met_features() : in_doubt);
    if (y == start_row_) tracks_.keep_start_row();
  }

  // Under evolution, peaks of one kind that changed places in row Y's valid
  // FIT (of WORK_) as they crossed are exchanged back, its values and text
  // with them, and said; gives, by feature, those whose identity is in doubt.
  std::vector<bool> settle_identities(Index y, OlmiRowFit& fit, Status& status) {
    if (!controls_.evolve || !fit.fitted || !fit.valid) return {};
    const FitModel before = work_;
    std::vector<bool> in_doubt = tracks_.keep_identities(
        work_, y, features_held_well(work_, fit.typical_misfit, xstrelm_, xendelm_, 5.0),
        fit.typical_misfit, xstrelm_, xendelm_);
    if (work_.params == before.params) return in_doubt;
    olmi_row_table(work_, x_axis_, xstrelm_, fit, nullptr);
    IO_WRITE("INFO: In row " + std::to_string(y) +
                 " peaks of one kind that had changed places as they crossed are given back "
                 "their own parameters (told apart by height, width and drift)",
             status);
    return in_doubt;
  }

  OlmiRowFit fit_once(Index y, FitModel& model, Status& status) {
    return KZT_LSQOLMI(controls_.info_level, row_of(data_, y), row_of(variances_, y), mask_of(y),
                       x_axis_, xstrelm_, xendelm_, controls_.weighted, controls_.iterations,
                       model, y, status);
  }

  // A fit that ran out of calls goes on once from where it stopped: a row
  // of many features may reach its minimum only just after the budget its
  // size gives it (and under evolution the fits of a row are compared by
  // where they end).
  OlmiRowFit fit_from(Index y, const FitModel& from, FitModel& model, Status& status) {
    model = from;
    OlmiRowFit fit = fit_once(y, model, status);
    if (fit.end_code != 4 || status != kStatusGood) return fit;
    IO_WRITE("INFO: The fit of row " + std::to_string(y) + " goes on from where it stopped",
             status);
    return fit_once(y, model, status);
  }

  // Row Y's FIT from the previous row's model (WORK_, its lines TOLD) does
  // not hold every feature well, or two peaks have met and not been told
  // apart since: the row is fitted also with each feature as the fits last
  // held it well, with those moved on as they drifted, from the start model
  // and, for each pair met, from FIT with the two put each where the other
  // lies, each once, and the fit that stands replaces FIT, WORK_ and TOLD.
  // False, with every fit's lines told, when a fit failed with a bad STATUS.
  bool refit_held_badly(Index y, OlmiRowFit& fit, std::vector<std::string>& told,
                        Status& status) {
    const FitModel last_held = tracks_.as_held(seed_, y);
    const FitModel moved = tracks_.drifted(last_held, y);
    const std::vector<FitModel> exchanged =
        fit.fitted ? tracks_.met_exchanged(work_) : std::vector<FitModel>();
    std::vector<std::pair<const FitModel*, std::string>> others;
    const auto tried_before = [&](const FitModel& m) {
      if (m.params == seed_.params) return true;
      for (const auto& other : others)
        if (other.first->params == m.params) return true;
      return false;
    };
    for (const auto& [from, name] :
         {std::pair<const FitModel*, const char*>{&last_held, "its peaks as last fitted well"},
          {&moved, "those peaks moved on as they drifted"},
          {&start_, "the start model"}})
      if (!tried_before(*from)) others.push_back({from, name});
    // The starts with two peaks exchanged come last.
    std::size_t exchanges = 0;
    for (const FitModel& swapped : exchanged)
      if (!tried_before(swapped)) {
        others.push_back({&swapped, "two peaks that met exchanged"});
        ++exchanges;
      }
    static const std::string kPrevious = "the previous row's model";
    std::vector<TriedFit> tried;
    tried.push_back({std::move(fit), work_, std::move(told), &kPrevious});
    for (const auto& [from, name] : others) {
      FitModel again;
      IoHeldLines hold;
      OlmiRowFit other = fit_from(y, *from, again, status);
      tried.push_back({std::move(other), again, hold.lines(), &name});
      if (status != kStatusGood) {
        for (const TriedFit& t : tried) io_write_lines(t.lines, status);
        return false;
      }
    }
    const TriedFit& stands = standing_after_exchanges(tried, tried.size() - exchanges);
    if (!others.empty()) {
      std::string from_all;
      for (std::size_t k = 0; k < others.size(); ++k) {
        from_all += k + 1 == others.size() ? " and from " : ", from ";
        from_all += others[k].second;
      }
      IO_WRITE("INFO: Row " + std::to_string(y) + " is fitted from " + kPrevious + from_all +
                   "; the fit from " + *stands.from + " stands",
               status);
    }
    // How the fits that hold two peaks of two kinds each where the other
    // lies compare with the one that stands (lower by more than its mean
    // square, or within the noise allowance of it).
    if (stands.fit.fitted && stands.fit.valid && stands.fit.channels > 0) {
      const double ss = stands.fit.sum_squares;
      const double mean_square = ss / static_cast<double>(stands.fit.channels);
      for (const TriedFit& t : tried)
        if (&t != &stands && t.fit.fitted && t.fit.valid)
          tracks_.note_placement(stands.model, t.model, t.fit.sum_squares < ss - mean_square,
                                 t.fit.sum_squares <= ss + noise_allowance(stands));
    }
    told = stands.lines;
    fit = stands.fit;
    work_ = stands.model;
    return true;
  }

  // Row Y's FIT (its model WORK_) into the vectors, the lists of rows named
  // (under its doubts and MORE_DOUBTS), the output and the display.
  void keep(Index y, const OlmiRowFit& fit, unsigned more_doubts, Status& status) {
    store(y, fit);
    if (fit.fitted && !fit.valid) invalid_.push_back(y);
    const unsigned doubts = kzt_olmi_doubts(work_, fit, xstrelm_, xendelm_) | more_doubts;
    for (int rule = 0; rule < kOlmiDoubts; ++rule)
      if ((doubts & (1u << rule)) != 0) doubts_[static_cast<std::size_t>(rule)].push_back(y);
    if (!fit.fitted) {
      failed_.push_back(y);
      warn_in_box(y);
    }
    // The model image holds the model of the parameters kept, of a failed
    // fit too.
    if (output_ != nullptr && output_->model.size() >= width_ * static_cast<std::size_t>(y))
      kzt_olmi_row_model(work_, xmaxdat_, xstrelm_, xendelm_,
                         output_->model.subspan(width_ * static_cast<std::size_t>(y - 1), width_),
                         status);
    if (output_ != nullptr && y == start_row_) {
      output_->start_fitted = fit.fitted;
      output_->start_fit = work_;
      if (fit.fitted) {
        output_->start_text = {"FITTED PARAMETERS (ROW " + std::to_string(y) + ")", ""};
        output_->start_text.insert(output_->start_text.end(), fit.text.begin(), fit.text.end());
      }
    }
    show(y, status);
  }

  // A row that did not fit holds 0.0 throughout.
  void store(Index y, const OlmiRowFit& fit) {
    const int n_params = start_.num_parameters;
    for (int v = 0; v < count_; ++v) {
      if (v >= vectors_.max_vectors || y > vectors_.max_vec_values || vectors_.vectors == nullptr) {
        overflow_ = true;
        continue;
      }
      const std::size_t k = static_cast<std::size_t>(v);
      const std::size_t r = static_cast<std::size_t>(v - n_params);
      float value = 0.0f;
      if (fit.fitted && v < n_params && k < fit.reported.size())
        value = fit.reported[k];
      else if (fit.fitted && v >= n_params && r < fit.results.size())
        value = fit.results[r];
      vectors_.vectors[k * vectors_.max_vec_values + (y - 1)] = value;
    }
  }

  // The box is a warning, not a question: a window that can no longer
  // answer stops the boxes, not the fit.
  void warn_in_box(Index y) {
    if (!boxes_) return;
    Status box = kStatusGood;
    GS_FWARNING(1, 1, {"Problem fitting the model to the data (row " + std::to_string(y) + ")"},
                box);
    boxes_ = box == kStatusGood;
  }

  // Row Y drawn with the model kept, every display frequency rows from the
  // start row.
  void show(Index y, Status& status) {
    const Index distance = y > start_row_ ? y - start_row_ : start_row_ - y;
    if (display_ == nullptr || controls_.display_frequency <= 0 ||
        distance % controls_.display_frequency != 0)
      return;
    const std::string used_title(title_.substr(0, title_.find_last_not_of(' ') + 1));
    const std::string plot_title =
        (title_.find_first_not_of(' ') == std::string::npos ? std::string() : used_title) +
        ": Row " + std::to_string(y);
    display_(work_, row_of(data_, y), row_of(variances_, y), mask_of(y), x_axis_, xmaxdat_,
             xstrelm_, xendelm_, plot_title, status);
  }

  void name_vectors(Index ystrelm, Index yendelm) {
    const int n_params = start_.num_parameters;
    const int stored = std::min(vectors_.max_vectors, count_);
    for (int v = 0; v < stored; ++v) {
      const std::size_t k = static_cast<std::size_t>(v);
      vectors_.titles[k] =
          v < n_params ? start_.names[k] : result_names_[k - static_cast<std::size_t>(n_params)];
      const int first = static_cast<int>(std::min<Index>(ystrelm, vectors_.max_vec_values));
      const int last = static_cast<int>(std::min<Index>(yendelm, vectors_.max_vec_values));
      const bool empty =
          vectors_.str_vectors[k] > vectors_.end_vectors[k] || vectors_.str_vectors[k] < 1;
      vectors_.str_vectors[k] = empty ? first : std::min(vectors_.str_vectors[k], first);
      vectors_.end_vectors[k] = empty ? last : std::max(vectors_.end_vectors[k], last);
    }
    vectors_.num_vectors = stored;
  }

  // The rows named in the result text are named on the terminal too (and in
  // the log), whatever shows the text.
  void name_rows(Index total, Status& status) {
    std::sort(failed_.begin(), failed_.end());
    std::sort(invalid_.begin(), invalid_.end());
    std::vector<Index> doubtful;
    for (std::vector<Index>& rows : doubts_) {
      std::sort(rows.begin(), rows.end());
      doubtful.insert(doubtful.end(), rows.begin(), rows.end());
    }
    std::sort(doubtful.begin(), doubtful.end());
    doubtful.erase(std::unique(doubtful.begin(), doubtful.end()), doubtful.end());
    const std::vector<std::string> failed_text = kzt_olmi_failed_text(failed_, total);
    const std::vector<std::string> invalid_text = kzt_olmi_invalid_text(invalid_, total);
    const std::vector<std::string> doubtful_text = kzt_olmi_doubtful_text(doubts_, total);
    for (const std::vector<std::string>* lines : {&failed_text, &invalid_text, &doubtful_text})
      for (const std::string& line : *lines) IO_WRITE(line, status);
    if (output_ == nullptr) return;
    if (output_->start_fitted) {
      output_->text = output_->start_text;
    } else {
      output_->text = {"FITTED PARAMETERS", "",
                       "NONE FOR THE START ROW (ROW " + std::to_string(start_row_) + "):",
                       "WARNING: Problem fitting the model to the data"};
    }
    // Each kind of row is named, so that the rows not named are the good ones.
    for (const std::vector<std::string>* lines : {&failed_text, &invalid_text, &doubtful_text})
      output_->text.insert(output_->text.end(), lines->begin(), lines->end());
    output_->failed_rows = std::move(failed_);
    output_->invalid_rows = std::move(invalid_);
    output_->doubtful_rows = std::move(doubtful);
    output_->doubts = std::move(doubts_);
  }

  std::span<const float> row_of(std::span<const float> a, Index y) const {
    return a.size() >= width_ * static_cast<std::size_t>(y) ? a.subspan(width_ * (y - 1), width_)
                                                           : std::span<const float>();
  }
  std::span<const std::uint8_t> mask_of(Index y) const {
    return mask_.size() >= width_ * static_cast<std::size_t>(y)
               ? mask_.subspan(width_ * (y - 1), width_)
               : std::span<const std::uint8_t>();
  }

  const Index xmaxdat_;
  const std::size_t width_;
  const std::span<const float> data_, variances_;
  const std::span<const std::uint8_t> mask_;
  const std::span<const float> x_axis_;
  const Index xstrelm_, xendelm_, start_row_;
  const std::string& title_;
  const OlmiControls& controls_;
  const FitModel& start_;
  KztVectors& vectors_;
  const OlmiDisplay display_;
  OlmiOutput* const output_;
  std::vector<std::string> result_names_;
  int count_ = 0;
  bool overflow_ = false;
  FitModel seed_, down_seed_, work_;
  FeatureTracks tracks_;
  std::vector<Index> failed_, invalid_;
  std::array<std::vector<Index>, kOlmiDoubts> doubts_;
  bool boxes_;
};

}  // namespace

void KZT_OLMIOPTIMISE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                      std::span<const float> variances, std::span<const std::uint8_t> mask,
                      std::span<const float> x_axis, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, Index start_row, const std::string& title,
                      const OlmiControls& controls, const FitModel& start, KztVectors& vectors,
                      OlmiDisplay display, Status& status) {
  KZT_OLMIOPTIMISE(xmaxdat, ymaxdat, data, variances, mask, x_axis, xstrelm, ystrelm, xendelm,
                   yendelm, start_row, title, controls, start, vectors, display, nullptr, status);
}

void KZT_OLMIOPTIMISE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                      std::span<const float> variances, std::span<const std::uint8_t> mask,
                      std::span<const float> x_axis, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, Index start_row, const std::string& title,
                      const OlmiControls& controls, const FitModel& start, KztVectors& vectors,
                      OlmiDisplay display, OlmiOutput* output, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_OLMIOPTIMISE V0.1";
  if (st_bad(status, kName)) return;
  if (xmaxdat < 1) return st_fail(status, kBaseApp + 1, kName);
  if (ymaxdat < 1) return st_fail(status, kBaseApp + 2, kName);
  if (xstrelm < 1 || xendelm < xstrelm || xendelm > xmaxdat ||
      data.size() < static_cast<std::size_t>(xmaxdat * ymaxdat))
    return st_fail(status, kBaseApp + 5, kName);
  if (ystrelm < 1 || yendelm < ystrelm || yendelm > ymaxdat)
    return st_fail(status, kBaseApp + 6, kName);
  start_row = std::clamp(start_row, ystrelm, yendelm);
  OlmiRun run(xmaxdat, data, variances, mask, x_axis, xstrelm, xendelm, start_row, title,
              controls, start, vectors, display, output);
  run.fit_rows(ystrelm, yendelm, status);
  if (status != kStatusGood) return;
  run.finish(ystrelm, yendelm, status);
}

}  // namespace kesta
