#include "app/fitting/parameter_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "app/fitting/setup.hpp"
#include "app/main/data_store.hpp"
#include "core/atomic_file.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/item_reader.hpp"
#include "formats/scratch_image.hpp"
#include "formats/stream_slot.hpp"

namespace kesta {

namespace {

constexpr int kParInputUnit = 28;
constexpr int kParOutputUnit = 29;
constexpr const char* kOutName = "Subroutine KZT_OUT_PARAMETERS V0.1";

void warn_file(const std::string& path, const std::string& fault, Status& status) {
  IO_WRITE("WARNING: Parameter file \"" + path + "\" " + fault +
               "; the fit model, controls and mask are unchanged",
           status);
}

// The file name asked (offering the last one) and translated; false after
// an escape or a path that cannot be translated (with its warning).
bool ask_path(std::string_view prompt, const std::string& help, std::string& path,
              Status& status) {
  io_input_file_name(true, prompt, {help}, {"Unacceptable input"}, 11, kzt_parameter_file,
                     status);
  if (status != kStatusGood) return false;
  int trans = 0;
  IO_TRANS_PATH(kzt_parameter_file, trans, path, status);
  if (status != kStatusGood) return false;
  if (trans != 0) {
    IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
    return false;
  }
  return true;
}

}  // namespace

bool kzt_write_parameter_file(const std::string& path, Index xmaxdat, Index ymaxdat,
                              Index xnumdat, Index ynumdat, std::span<const std::uint8_t> mask,
                              FitModel& model, const FitControls& c, Status& status) {
  if (st_bad(status, kOutName)) return false;
  if (xmaxdat < 1) return st_fail(status, kBaseApp + 1, kOutName), false;
  if (ymaxdat < 1) return st_fail(status, kBaseApp + 2, kOutName), false;
  const int n = std::clamp(model.num_parameters, 0, kMaxFitParameters);
  for (int i = 0; i < n; ++i) {
    int& code = model.codes[static_cast<std::size_t>(i)];
    const bool digit = code_digit(code, 7) == 1;
    const bool constrained = model.constraints[static_cast<std::size_t>(i)];
    if (constrained && !digit) code += 1000000;
    if (!constrained && digit) code -= 1000000;
  }
  AtomicFile out(path);
  if (!out.ok()) {
    IO_WRITE("WARNING: Error in opening file " + path + ": " + out.error(), status);
    return false;
  }
  // Nothing masked where the program has no mask yet: zeros of the extent
  // written, held as an array of the extent's own shape.
  std::vector<std::uint8_t> none;
  const Index xn = std::clamp<Index>(xnumdat, 1, xmaxdat);
  const Index yn = std::clamp<Index>(ynumdat, 1, ymaxdat);
  Index mask_xmax = xmaxdat, mask_ymax = ymaxdat;
  if (mask.size() < static_cast<std::size_t>(xmaxdat * ymaxdat)) {
    none.assign(static_cast<std::size_t>(xn * yn), 0);
    mask = none;
    mask_xmax = xn;
    mask_ymax = yn;
  }
  const int results = std::clamp(model.num_results, 0, kMaxFitResults);
  errno = 0;
  {
    const StreamSlot slot(kParOutputUnit, out.stream());
    const int u = kParOutputUnit;
    Index r = 1;
    IO_FWRITE_STRING(u, "$FFF_START", "KESTA Parameter File", r, status);
    IO_FWRITE_STRING(u, "$BIG_ENDIAN", IO_BIG_ENDIAN() ? "TRUE " : "FALSE", r, status);
    IO_FWRITE_STRING(u, "header", "KESTA parameter file", r, status);
    IO_FWRITE_L1ARRAY(u, "data_mask", mask_xmax, mask_ymax, 1, 1, xn, yn, mask, r, status);
    IO_FWRITE_INTEGER(u, "total_params", n, r, status);
    IO_FWRITE_INTEGER(u, "number_features", model.num_features, r, status);
    IO_FWRITE_INTEGER(u, "number_results", results, r, status);
    IO_FWRITE_INTEGER(u, "x_order", model.x_order, r, status);
    IO_FWRITE_INTEGER(u, "y_order", model.y_order, r, status);
    IO_FWRITE_REAL(u, "x_min_poly", model.x_min_poly, r, status);
    IO_FWRITE_REAL(u, "y_min_poly", model.y_min_poly, r, status);
    IO_FWRITE_REAL(u, "x_max_poly", model.x_max_poly, r, status);
    IO_FWRITE_REAL(u, "y_max_poly", model.y_max_poly, r, status);
    IO_FWRITE_INTEGER(u, "apply_weights", c.weighted ? 1 : 0, r, status);
    IO_FWRITE_REAL(u, "accuracy", c.accuracy, r, status);
    IO_FWRITE_REAL(u, "iters_per_param", c.iterations, r, status);
    IO_FWRITE_INTEGER(u, "model_evolve", c.evolve ? 1 : 0, r, status);
    IO_FWRITE_INTEGER(u, "display_frequency", c.display_frequency, r, status);
    IO_FWRITE_INTEGER(u, "fast_display", c.fast_display ? 1 : 0, r, status);
    IO_FWRITE_INTEGER(u, "halt_criterion", c.halt_criterion, r, status);
    IO_FWRITE_REAL(u, "halt_value", c.halt_value, r, status);
    if (n > 0) {
      IO_FWRITE_RARRAY(u, "parameter_values", kMaxFitParameters, 1, 1, 1, n, 1, model.params, r,
                       status);
      IO_FWRITE_IARRAY(u, "parameter_descriptions", kMaxFitParameters, 1, 1, 1, n, 1,
                       model.codes, r, status);
      IO_FWRITE_RARRAY(u, "parameter_scales", kMaxFitParameters, 1, 1, 1, n, 1, model.scales, r,
                       status);
      IO_FWRITE_CARRAY(u, "parameter_names", kMaxFitParameters, 1, n, model.names, r, status);
    }
    if (results > 0)
      IO_FWRITE_CARRAY(u, "result_names", kMaxFitResults, 1, results, model.result_names, r,
                       status);
    IO_FWRITE_STRING(u, "$FFF_END", "End of parameter data", r, status);
  }
  if (status != kStatusGood) out.fail();
  if (status != kStatusGood || !out.commit()) {
    out.abandon();
    Status local = ST_GOOD();
    IO_WRITE("WARNING: Error in writing file " + path + ": " + out.error(), local);
    if (status == kStatusGood) st_fail(status, kBaseApp + 10, kOutName);
    return false;
  }
  return true;
}

namespace {

// Reads the items of an open parameter file into the fresh state; an empty
// text when every item needed was good, else the fault.
struct ParReader {
  int unit;
  bool swap = false;
  std::string fault;

  // A scalar: false when missing (FOUND false) or damaged (FAULT set).
  template <typename T, typename Read>
  bool scalar(const char* name, T& value, bool& found, Read read, Status& status) {
    int code = 0;
    T v = value;
    read(unit, name, code, v, status);
    found = code == 0;
    if (code == 3 || code == 2) fault = std::string("has a damaged item \"") + name + "\"";
    if (found) value = v;
    return found;
  }
  bool integer(const char* name, int& value, bool& found, Status& status) {
    std::int32_t v = value;
    const bool ok = scalar(name, v, found, FIO_FREAD_INTEGER, status);
    if (ok) value = v;
    return ok;
  }
  bool real(const char* name, float& value, bool& found, Status& status) {
    return scalar(name, value, found, FIO_FREAD_REAL, status);
  }
  bool flag(const char* name, bool& value, Status& status) {
    int v = value ? 1 : 0;
    bool found = false;
    integer(name, v, found, status);
    if (found) value = v != 0;
    return fault.empty();
  }
  // An array item that must hold exactly COUNT values.
  template <typename Array, typename Read>
  void array(const char* name, int count, Array& values, Read read, Status& status) {
    if (!fault.empty()) return;
    int code = 0;
    Index xn = 0, yn = 0;
    Array fresh{};
    read(unit, swap, name, static_cast<Index>(fresh.size()), 1, code, xn, yn, fresh, status);
    if (code == 1 && count == 0) return;
    if (code != 0 || yn != 1 || xn != count) {
      fault = std::string("has an item \"") + name + "\" that does not hold " +
              std::to_string(count) + " values";
      return;
    }
    values = fresh;
  }
  template <std::size_t N>
  void texts(const char* name, int count, std::array<std::string, N>& values, Status& status) {
    if (!fault.empty()) return;
    int code = 0;
    Index num = 0;
    std::array<std::string, N> fresh{};
    FIO_FREAD_CARRAY(unit, name, 10, code, num, fresh, status);
    if (code == 1 && count == 0) return;
    if (code != 0 || num != count) {
      fault = std::string("has an item \"") + name + "\" that does not hold " +
              std::to_string(count) + " names";
      return;
    }
    for (std::string& s : fresh) s.resize(10, ' ');
    values = fresh;
  }
};

}  // namespace

void kzt_read_parameter_file(const std::string& path, Index xmaxdat, Index ymaxdat,
                             FitModel& model, FitControls& controls,
                             std::vector<std::uint8_t>& mask, int& retstat, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_INP_PARAMETERS V0.1";
  retstat = 1;
  if (st_bad(status, kName)) return;
  if (xmaxdat < 1) return st_fail(status, kBaseApp + 1, kName);
  if (ymaxdat < 1) return st_fail(status, kBaseApp + 2, kName);
  std::string problem;
  InputFile file = open_input_file(path, problem);
  if (!file) {
    IO_WRITE("WARNING: Error in opening file " + path + ": " + problem, status);
    return;
  }
  const StreamSlot slot(kParInputUnit, file.get());
  ParReader in{kParInputUnit, false, {}};
  std::string text;
  int code = 0;
  FIO_FREAD_STRING(kParInputUnit, "$FFF_START", 80, code, text, status);
  if (code != 0 && code != -1) {
    IO_WRITE("WARNING: This is not a Flexible File Format (FFF) file and cannot be read", status);
    warn_file(path, "is not a parameter file", status);
    return;
  }
  code = 0;
  FIO_FREAD_STRING(kParInputUnit, "$BIG_ENDIAN", 5, code, text, status);
  in.swap = (code == 0 && used_text(text) == "TRUE") != IO_BIG_ENDIAN();

  // Everything goes into fresh copies first.
  std::vector<std::uint8_t> fresh_mask(static_cast<std::size_t>(xmaxdat * ymaxdat), 0);
  FitModel m;
  FitControls c = controls;
  {
    Index xn = 0, yn = 0;
    code = 0;
    FIO_FREAD_L1ARRAY(kParInputUnit, in.swap, "data_mask", xmaxdat, ymaxdat, code, xn, yn,
                      fresh_mask, status);
    if (code == 1 || code == 2) {
      IO_WRITE("WARNING: Data mask not found setting mask to zero (no mask)", status);
      std::fill(fresh_mask.begin(), fresh_mask.end(), 0);
    } else if (code == 3) {
      return warn_file(path, "has a damaged item \"data_mask\"", status);
    } else if (code == -1) {
      IO_WRITE("WARNING: Not all of the mask data could be input (too big)", status);
    }
  }
  bool found = false;
  const auto required = [&](const char* name, int& value, int low, int high) {
    if (!in.fault.empty()) return;
    if (!in.integer(name, value, found, status)) {
      if (in.fault.empty()) in.fault = std::string("lacks the item \"") + name + "\"";
      return;
    }
    if (value < low || value > high)
      in.fault = std::string("holds ") + name + " = " + std::to_string(value) +
                 ", outside " + std::to_string(low) + " to " + std::to_string(high);
  };
  required("total_params", m.num_parameters, 0, kMaxFitParameters);
  required("number_features", m.num_features, 0, kMaxFitParameters);
  required("number_results", m.num_results, 0, kMaxFitResults);
  required("x_order", m.x_order, 0, kMaxSurfaceOrder);
  required("y_order", m.y_order, 0, kMaxSurfaceOrder);
  if (!in.fault.empty()) return warn_file(path, in.fault, status);
  if (!in.real("x_min_poly", m.x_min_poly, found, status)) {
    if (!in.fault.empty()) return warn_file(path, in.fault, status);
    IO_WRITE(" ", status);
    IO_WRITE("ERROR: Old parameter file: not compatible with new polynomial fitting", status);
    IO_WRITE(" ", status);
    retstat = 2;
    status = kStatusEscape;
    return;
  }
  in.real("y_min_poly", m.y_min_poly, found, status);
  in.real("x_max_poly", m.x_max_poly, found, status);
  in.real("y_max_poly", m.y_max_poly, found, status);
  in.flag("apply_weights", c.weighted, status);
  in.real("accuracy", c.accuracy, found, status);
  in.real("iters_per_param", c.iterations, found, status);
  in.flag("model_evolve", c.evolve, status);
  in.integer("display_frequency", c.display_frequency, found, status);
  in.flag("fast_display", c.fast_display, status);
  in.integer("halt_criterion", c.halt_criterion, found, status);
  in.real("halt_value", c.halt_value, found, status);
  const int n = m.num_parameters;
  in.array("parameter_values", n, m.params, FIO_FREAD_RARRAY, status);
  in.array("parameter_descriptions", n, m.codes, FIO_FREAD_IARRAY, status);
  in.array("parameter_scales", n, m.scales, FIO_FREAD_RARRAY, status);
  in.texts("parameter_names", n, m.names, status);
  if (in.fault.empty() && m.num_results > 0) {
    int rcode = 0;
    Index num = 0;
    std::array<std::string, kMaxFitResults> names{};
    FIO_FREAD_CARRAY(kParInputUnit, "result_names", 10, rcode, num, names, status);
    if (rcode == 1) {
      m.num_results = 0;
    } else if (rcode != 0 || num != m.num_results) {
      in.fault = "has an item \"result_names\" that does not hold " +
                 std::to_string(m.num_results) + " names";
    } else {
      for (std::string& s : names) s.resize(10, ' ');
      m.result_names = names;
    }
  }
  if (status != kStatusGood) return;
  // Controls that no question could have given, and values the model
  // would refuse or could not evaluate.
  if (in.fault.empty() &&
      (!(c.iterations >= 0.1f && c.iterations <= 200.0f) || c.display_frequency < 0 ||
       c.display_frequency > 1024 || c.halt_criterion < 0 || c.halt_criterion > 1 ||
       !std::isfinite(c.accuracy) || !std::isfinite(c.halt_value)))
    in.fault = "holds fit controls outside their bounds";
  for (int i = 0; i < n; ++i)
    m.constraints[static_cast<std::size_t>(i)] =
        code_digit(m.codes[static_cast<std::size_t>(i)], 7) == 1;
  if (in.fault.empty())
    if (const std::string fault = kzt_model_fault(m); !fault.empty()) in.fault = "holds " + fault;
  if (!in.fault.empty()) return warn_file(path, in.fault, status);
  // A model saved before its first fit holds no names for its row-line's
  // results yet; its features give them.
  const std::vector<std::string> names = kzt_result_names(m);
  m.num_results = static_cast<int>(names.size());
  std::copy(names.begin(), names.end(), m.result_names.begin());
  model = m;
  controls = c;
  mask.swap(fresh_mask);
  retstat = 0;
}

void KZT_OUT_PARAMETERS(bool mask_exist, FitSession& session, Status& status) {
  if (st_bad(status, kOutName)) return;
  const KztArrays& a = vosq_kzt_arrays;
  std::string path;
  if (!ask_path("OUTPUT FILE NAME", "Name of file to contain output data", path, status)) {
    if (status == kStatusEscape) st_reset(status);
    return;
  }
  const std::span<const std::uint8_t> mask =
      mask_exist ? std::span<const std::uint8_t>(kzt_mask()) : std::span<const std::uint8_t>();
  kzt_write_parameter_file(path, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, mask,
                           session.model, session.controls, status);
}

void KZT_INP_PARAMETERS(bool variances_exist, bool& mask_exist, FitSession& session,
                        Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_PARAMETERS V0.1")) return;
  const KztArrays& a = vosq_kzt_arrays;
  std::string path;
  if (!ask_path("PARAMETER FILE NAME", "Name of input file containing fit parameters", path,
                status))
    return;
  FitModel model;
  FitControls controls = session.controls;
  std::vector<std::uint8_t> mask;
  int retstat = 0;
  kzt_read_parameter_file(path, a.xmaxdat, a.ymaxdat, model, controls, mask, retstat, status);
  if (retstat != 0 || status != kStatusGood) return;
  if (controls.weighted && kzt_weights_refused(variances_exist, status)) controls.weighted = false;
  kzt_create_mask(mask_exist, status);
  if (status != kStatusGood || !mask_exist) return;
  std::copy(mask.begin(), mask.end(), kzt_mask().begin());
  kzt_new_model(model, session.model, session.results_defined, session.result_text);
  session.controls = controls;
  session.params_defined = true;
}

}  // namespace kesta
