#include "app/fitting/fit_commands.hpp"

#include <algorithm>
#include <chrono>

#include "app/diffraction/geometry.hpp"
#include "app/fitting/fit2d.hpp"
#include "app/fitting/model_input.hpp"
#include "app/fitting/parameter_file.hpp"
#include "app/fitting/surface.hpp"
#include "app/imageops/conventions.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {

namespace {

constexpr const char* kName = "Subroutine KZT_FIT V0.1";

bool memory_ready(Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  if (a.data != nullptr && a.mdata != nullptr && a.mxaxis != nullptr && a.myaxis != nullptr)
    return true;
  st_fail(status, kBaseApp + 1, kName);
  return false;
}

// The memory variances over the active region: 0.0, or the data's.
void memory_variances(bool from_data, Status&) {
  const KztArrays& a = vosq_kzt_arrays;
  if (a.mvariances == nullptr) return;
  const std::span<float> mv = kzt_image(a.mvariances);
  const std::span<const float> v = kzt_image(a.variances);
  for_region_rows(a.xmaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                  [&](Index offset, Index, Index n) {
                    if (from_data && !v.empty())
                      std::copy_n(v.data() + offset, n, mv.data() + offset);
                    else
                      std::fill_n(mv.data() + offset, n, 0.0f);
                  });
}

void describe_memory(KztDataSets& sets, const char* title, Status& status) {
  kzt_memory_result(sets, status);
  if (status == kStatusGood) sets.mtitle = title;
}

}  // namespace

bool kzt_geometry_known(float& distance) {
  Status local = kStatusGood;
  int length = 0, found = 0;
  std::string value;
  IO_INQ_KEYVALUE("SAMPLE_DISTANCE", length, value, found, local);
  const bool has_distance = found == 0;
  IO_INQ_KEYVALUE("WAVELENGTH", length, value, found, local);
  const bool has_wavelength = found == 0;
  float xb = 0, yb = 0, wl = 0, tr = 0, ta = 0, dr = 0;
  bool defined = false;
  KZT_INQ_GEOMETRY(defined, xb, yb, distance, wl, tr, ta, dr, local);
  return has_distance && has_wavelength && local == kStatusGood;
}

ModelFrame kzt_program_frame(const KztDataSets& sets) {
  const KztArrays& a = vosq_kzt_arrays;
  ModelFrame f;
  f.xmaxdat = a.xmaxdat;
  f.ymaxdat = a.ymaxdat;
  f.xnumdat = a.xnumdat;
  f.ynumdat = a.ynumdat;
  f.x_axis = kzt_xline(a.xaxis);
  f.y_axis = kzt_yline(a.yaxis);
  f.x_pixel_size = sets.x_pixel_size;
  f.y_pixel_size = sets.y_pixel_size;
  f.geometry_known = kzt_geometry_known(f.sample_distance);
  return f;
}

void kzt_fit_residuals(KztDataSets& sets, const FitModel& model, Status& status) {
  if (st_bad(status, kName) || !memory_ready(status)) return;
  const KztArrays& a = vosq_kzt_arrays;
  const ModelFrame frame = kzt_program_frame(sets);
  // The model is made over the active data region only.
  const KztWorkImage work(a.xmaxdat, a.ymaxdat);
  const std::span<float> image = work.pixels();
  kzt_model_image(frame, model, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, image, status);
  if (status != kStatusGood) return;
  const std::span<const float> data = kzt_image(a.data);
  const std::span<float> memory = kzt_image(a.mdata);
  for_region_rows(a.xmaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                  [&](Index offset, Index, Index n) {
                    for (Index i = offset; i < offset + n; ++i)
                      memory[static_cast<std::size_t>(i)] =
                          data[static_cast<std::size_t>(i)] - image[static_cast<std::size_t>(i)];
                  });
  memory_variances(sets.variances_exist, status);
  describe_memory(sets, "Residuals", status);
}

void kzt_fit_input_parameters(KztDataSets& sets, FitSession& session, Status& status) {
  if (st_bad(status, kName)) return;
  static const std::string kChoices[] = {"FILE", "GRAPHICALLY"};
  std::string method = "FILE";
  IO_MENU(true, "Input method",
          {"Enter one of the available choices", "FILE: Input from a file",
           "GRAPHICALLY: Input through interactive graphics"},
          {"Enter one of the available choices"}, 2, kChoices, method, status);
  if (status != kStatusGood) return;
  bool input = false;
  if (method == "FILE") {
    FitSession fresh = session;
    fresh.params_defined = false;
    KZT_INP_PARAMETERS(sets.variances_exist, sets.mask_exist, fresh, status);
    if (status != kStatusGood || !fresh.params_defined) return;
    kzt_new_model(fresh.model, session.model, session.results_defined, session.result_text);
    session.controls = fresh.controls;
    input = true;
  } else if (method == "GRAPHICALLY") {
    if (!sets.graphics_on) {
      IO_WRITE("WARNING: Graphics system is turned off. You must \"EXIT\" and restart KESTA",
               status);
      return;
    }
    FitModel model;
    KZT_GUI_PARAMETERS(true, sets, model, status);
    if (status != kStatusGood) return;
    kzt_new_model(model, session.model, session.results_defined, session.result_text);
    input = true;
  }
  if (!input) return;
  session.params_defined = true;
  kzt_fit_residuals(sets, session.model, status);
}

std::vector<std::string> kzt_fit_result_text(const FitModel& model, const Fit2dOutcome& outcome) {
  // A fit that did not converge, or found no valid model, keeps its values
  // to be looked at; the text says what they are wherever it is shown later.
  const bool converged = outcome.end_code <= 0;
  std::vector<std::string> text = {"PARAMETERS OF FIT", ""};
  if (outcome.held)
    text.push_back(kNothingFittedText +
                   std::string(trimmed_text(format_g(outcome.sum_squares, 14, 5))));
  if (!converged) text.push_back(kFitNotConverged);
  if (!outcome.valid) text.push_back("WARNING: NOT A VALID MODEL (SEE THE WARNINGS)");
  if (outcome.valid && converged && !outcome.held) text.push_back("");
  text.insert(text.end(), {"No Quantity  Value      Error", ""});
  for (int i = 0; i < model.num_parameters; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    std::string name = model.names[k];
    name.resize(10, ' ');
    text.push_back(name + " " + format_e(model.params[k], 12, 5, 1) + " " +
                   format_e(0.0, 9, 2, 1));
  }
  for (int i = 0; i < model.num_results; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    std::string name = model.result_names[k];
    name.resize(10, ' ');
    text.push_back(name + " " + format_e(model.results[k], 10, 3, 1));
  }
  return text;
}

void kzt_fit_optimise(KztDataSets& sets, FitSession& session, Status& status) {
  if (st_bad(status, kName)) return;
  if (!session.params_defined) {
    IO_WRITE("PARAMETERS MUST BE DEFINED USING \"INPUT PARAMETERS\"", status);
    return;
  }
  if (!memory_ready(status)) return;
  const KztArrays& a = vosq_kzt_arrays;
  const auto start = std::chrono::steady_clock::now();
  const ModelFrame frame = kzt_program_frame(sets);
  const std::span<const std::uint8_t> mask =
      sets.mask_exist ? std::span<const std::uint8_t>(kzt_mask()) : std::span<const std::uint8_t>();
  const std::span<const float> variances =
      sets.variances_exist ? std::span<const float>(kzt_image(a.variances)) : std::span<const float>();
  FitModel model = session.model;
  const Fit2dOutcome outcome = KZT_LSQKESTA(
      frame, kzt_image(a.data), variances, mask, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
      session.controls.weighted && sets.variances_exist, session.controls.iterations, model,
      kzt_image(a.mdata), status);
  if (status != kStatusGood || !outcome.fitted) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  IO_WRITE("INFO: Elapse time = " + format_g(seconds, 14, 1) + " seconds (" +
               format_g(seconds / 60.0, 12, 3) + " minutes)",
           status);
  session.model = model;
  session.result_text = kzt_fit_result_text(model, outcome);
  memory_variances(false, status);
  describe_memory(sets, "FIT MODEL", status);
  session.results_defined = true;
}

void kzt_fit_model(KztDataSets& sets, FitSession& session, Status& status) {
  if (st_bad(status, kName)) return;
  if (!session.params_defined) {
    IO_WRITE("WARNING: No model parameters, they must be defined using \"INPUT PARAMETERS\"",
             status);
    return;
  }
  if (!memory_ready(status)) return;
  const KztArrays& a = vosq_kzt_arrays;
  const ModelFrame frame = kzt_program_frame(sets);
  // The model is made over the active data region only.
  const KztWorkImage work(a.xmaxdat, a.ymaxdat);
  const std::span<float> image = work.pixels();
  kzt_model_image(frame, session.model, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, image,
                  status);
  if (status != kStatusGood) return;
  const std::span<float> memory = kzt_image(a.mdata);
  for_region_rows(a.xmaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                  [&](Index offset, Index, Index n) {
                    std::copy_n(image.data() + offset, n, memory.data() + offset);
                  });
  memory_variances(false, status);
  describe_memory(sets, "FIT MODEL", status);
}

void kzt_fit_show_results(const FitSession& session, Status& status) {
  if (st_bad(status, kName)) return;
  if (!session.results_defined) {
    IO_WRITE("RESULTS MUST BE DEFINED USING \"OPTIMISE\"", status);
    return;
  }
  IO_TEXT(session.result_text, status);
}

void kzt_fit_surface(KztDataSets& sets, Status& status) {
  if (st_bad(status, kName) || !memory_ready(status)) return;
  bool written = false;
  KZT_CHEBYSHEV(sets, written, status);
  if (status == kStatusGood && written)
    describe_memory(sets, "2-D Chebyshev Polynomial Fit model", status);
}

}  // namespace kesta
