#include "app/fitting/olmi.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "app/fitting/fit2d.hpp"
#include "app/fitting/fit_commands.hpp"
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
      return v * step;
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
      const double fg = 2.354 * sd, fl = 2.0 * hwhm;
      const double fwhm = std::pow(std::pow(fg, 5) + 2.69269 * std::pow(fg, 4) * fl +
                                       2.42843 * std::pow(fg, 3) * fl * fl +
                                       4.47163 * fg * fg * std::pow(fl, 3) +
                                       0.07842 * fg * std::pow(fl, 4) + std::pow(fl, 5),
                                   0.2);
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
  int end_code = 0;
  Status fit_status = status;
  const std::size_t np = static_cast<std::size_t>(model.num_parameters);
  MA_MODELFIT(info_level, funolmi, true, weighted, true, xmax, 1, row, used, sigmas, xstrelm, 1,
              xendelm, 1, 1, kzt_max_calls(model.num_parameters, iterations), 1.0e-5f, 100.0f,
              5.0e-7f, &work, nullptr, nullptr, nullptr, model.num_parameters,
              std::span<const bool>(fitted.constraints.data(), np),
              std::span<const float>(fitted.scales.data(), np), xmax, 1, true,
              std::span<float>(fitted.params.data(), np), model_row, end_code, out.num_calls,
              out.sum_squares, fit_status);
  if (fit_status != kStatusGood) {
    status = fit_status;
    st_fail(status, status, kName);
    return out;
  }
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
    for (int i = 0; i < model.num_parameters; ++i)
      out.reported.push_back(kzt_olmi_reported(model, i, x_axis, xstrelm));
    std::vector<int> owners;
    kzt_olmi_results(model, x_axis, xstrelm, out.results, out.result_names, &owners);
    out.text = {"No Quantity    Value"};
    for (int i = 0; i < model.num_parameters; ++i) {
      std::string name = model.names[static_cast<std::size_t>(i)];
      name.resize(10, ' ');
      out.text.push_back(name + " " + format_e(out.reported[static_cast<std::size_t>(i)], 12, 5, 1));
    }
    for (std::size_t i = 0; i < out.results.size(); ++i) {
      std::string name = out.result_names[i];
      name.resize(10, ' ');
      out.text.push_back(name + " " + format_e(out.results[i], 10, 3, 1));
    }
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
  double abs_diff = 0.0, abs_data = 0.0, held_sum = 0.0;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    const std::size_t k = static_cast<std::size_t>(x - 1);
    if (used[k] != 0) continue;
    abs_diff += std::fabs(static_cast<double>(row[k]) - model_row[k]);
    abs_data += std::fabs(row[k]);
    const double r = (static_cast<double>(model_row[k]) - row[k]) / (weighted ? sigmas[k] : 1.0f);
    held_sum += r * r;
  }
  // With every parameter held nothing was evaluated: the misfit is the held
  // model's own.
  if (held) {
    out.sum_squares = static_cast<float>(held_sum);
    const std::string sum(trimmed_text(format_g(out.sum_squares, 14, 7)));
    IO_WRITE(kNothingFitted + sum, status);
    if (out.fitted) out.text.insert(out.text.begin(), {kNothingFittedText + sum, ""});
  }
  const double rms =
      usable > 0 ? std::sqrt(static_cast<double>(out.sum_squares) / static_cast<double>(usable))
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
  const std::size_t width = static_cast<std::size_t>(xmaxdat);
  const auto row_of = [&](std::span<const float> a, Index y) {
    return a.size() >= width * static_cast<std::size_t>(y) ? a.subspan(width * (y - 1), width)
                                                          : std::span<const float>();
  };
  const auto mask_of = [&](Index y) {
    return mask.size() >= width * static_cast<std::size_t>(y) ? mask.subspan(width * (y - 1), width)
                                                             : std::span<const std::uint8_t>();
  };
  int n_params = start.num_parameters;
  bool overflow = false;
  // The result names follow the features alone, so a run whose rows all
  // fail still names its vectors.
  std::vector<std::string> result_names;
  {
    std::vector<float> unused;
    kzt_olmi_results(start, x_axis, xstrelm, unused, result_names);
  }
  const int count = n_params + static_cast<int>(result_names.size());
  // What the next row starts from. Under evolution only a valid fit seeds
  // the next row: a feature whose height or width went below 0 is held at a
  // tiny value by the model, adds nothing and could never come back, so a
  // row without a result or with no valid model would spoil every row after
  // it. The downward pass starts from the start row's fit when it was valid.
  FitModel seed = start;
  FitModel down_seed = start;
  FitModel work = start;
  std::vector<Index> failed, invalid;
  bool boxes = controls.warning_boxes;
  if (output != nullptr) {
    output->start_fitted = false;
    output->start_text.clear();
    output->failed_rows.clear();
    output->invalid_rows.clear();
    output->text.clear();
  }
  // A row that did not fit holds 0.0 throughout.
  const auto store = [&](Index y, const OlmiRowFit& fit) {
    for (int v = 0; v < count; ++v) {
      if (v >= vectors.max_vectors || y > vectors.max_vec_values || vectors.vectors == nullptr) {
        overflow = true;
        continue;
      }
      const std::size_t k = static_cast<std::size_t>(v);
      const std::size_t r = static_cast<std::size_t>(v - n_params);
      float value = 0.0f;
      if (fit.fitted && v < n_params && k < fit.reported.size())
        value = fit.reported[k];
      else if (fit.fitted && v >= n_params && r < fit.results.size())
        value = fit.results[r];
      vectors.vectors[k * vectors.max_vec_values + (y - 1)] = value;
    }
  };
  const auto fit_row = [&](Index y) {
    const Index distance = y > start_row ? y - start_row : start_row - y;
    const bool show = display != nullptr && controls.display_frequency > 0 &&
                      distance % controls.display_frequency == 0;
    const std::string used_title(title.substr(0, title.find_last_not_of(' ') + 1));
    const std::string plot_title =
        (title.find_first_not_of(' ') == std::string::npos ? std::string() : used_title) +
        ": Row " + std::to_string(y);
    const auto fit_from = [&](const FitModel& from, FitModel& model) {
      model = from;
      return KZT_LSQOLMI(controls.info_level, row_of(data, y), row_of(variances, y), mask_of(y),
                         x_axis, xstrelm, xendelm, controls.weighted, controls.iterations, model,
                         y, status);
    };
    OlmiRowFit fit = fit_from(seed, work);
    if (status != kStatusGood) return;
    // Under evolution a row whose fit from the seed ends without a valid
    // model is fitted once more from the start model: rows of noise fit a
    // tiny peak that is valid and seeds the next row, and from such a seed
    // the peak, back again, runs away. The second fit stands when valid.
    if (controls.evolve && !(fit.fitted && fit.valid) && seed.params != start.params) {
      FitModel again;
      OlmiRowFit second = fit_from(start, again);
      if (status != kStatusGood) return;
      if (second.fitted && second.valid) {
        fit = std::move(second);
        work = again;
      }
    }
    store(y, fit);
    if (fit.fitted && !fit.valid) invalid.push_back(y);
    if (!fit.fitted) {
      failed.push_back(y);
      // The box is a warning, not a question: a window that can no longer
      // answer stops the boxes, not the fit.
      if (boxes) {
        Status box = kStatusGood;
        GS_FWARNING(1, 1, {"Problem fitting the model to the data (row " + std::to_string(y) + ")"},
                    box);
        boxes = box == kStatusGood;
      }
    }
    // The model image holds the model of the parameters kept, of a failed
    // fit too.
    if (output != nullptr && output->model.size() >= width * static_cast<std::size_t>(y))
      kzt_olmi_row_model(work, xmaxdat, xstrelm, xendelm,
                         output->model.subspan(width * static_cast<std::size_t>(y - 1), width),
                         status);
    if (output != nullptr && y == start_row) {
      output->start_fitted = fit.fitted;
      output->start_fit = work;
      if (fit.fitted) {
        output->start_text = {"FITTED PARAMETERS (ROW " + std::to_string(y) + ")", ""};
        output->start_text.insert(output->start_text.end(), fit.text.begin(), fit.text.end());
      }
    }
    if (show) display(work, row_of(data, y), row_of(variances, y), mask_of(y), x_axis, xmaxdat,
                      xstrelm, xendelm, plot_title, status);
    if (controls.evolve && fit.fitted && fit.valid) {
      seed = work;
      if (y == start_row) down_seed = work;
    }
  };
  for (Index y = start_row; y <= yendelm && status == kStatusGood; ++y) fit_row(y);
  seed = down_seed;
  for (Index y = start_row - 1; y >= ystrelm && status == kStatusGood; --y) fit_row(y);
  if (status != kStatusGood) return;
  if (overflow)
    IO_WRITE("WARNING: Only vectors 1 to " + std::to_string(vectors.max_vectors) + " and rows 1 to " +
                 std::to_string(vectors.max_vec_values) + " of the results could be stored",
             status);
  const int stored = std::min(vectors.max_vectors, count);
  for (int v = 0; v < stored; ++v) {
    const std::size_t k = static_cast<std::size_t>(v);
    vectors.titles[k] = v < n_params ? start.names[k] : result_names[k - static_cast<std::size_t>(n_params)];
    const int first = static_cast<int>(std::min<Index>(ystrelm, vectors.max_vec_values));
    const int last = static_cast<int>(std::min<Index>(yendelm, vectors.max_vec_values));
    const bool empty = vectors.str_vectors[k] > vectors.end_vectors[k] || vectors.str_vectors[k] < 1;
    vectors.str_vectors[k] = empty ? first : std::min(vectors.str_vectors[k], first);
    vectors.end_vectors[k] = empty ? last : std::max(vectors.end_vectors[k], last);
  }
  vectors.num_vectors = stored;
  std::sort(failed.begin(), failed.end());
  std::sort(invalid.begin(), invalid.end());
  // The rows named in the result text are named on the terminal too (and in
  // the log), whatever shows the text.
  const Index total = yendelm - ystrelm + 1;
  const std::vector<std::string> failed_text = kzt_olmi_failed_text(failed, total);
  const std::vector<std::string> invalid_text = kzt_olmi_invalid_text(invalid, total);
  for (const std::vector<std::string>* lines : {&failed_text, &invalid_text})
    for (const std::string& line : *lines) IO_WRITE(line, status);
  if (output == nullptr) return;
  if (output->start_fitted) {
    output->text = output->start_text;
  } else {
    output->text = {"FITTED PARAMETERS", "",
                    "NONE FOR THE START ROW (ROW " + std::to_string(start_row) + "):",
                    "WARNING: Problem fitting the model to the data"};
  }
  // Both kinds of row are named, so that the rows not named are the good ones.
  for (const std::vector<std::string>* lines : {&failed_text, &invalid_text})
    output->text.insert(output->text.end(), lines->begin(), lines->end());
  output->failed_rows = std::move(failed);
  output->invalid_rows = std::move(invalid);
}

}  // namespace kesta
