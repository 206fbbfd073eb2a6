// The correction form of the graphical interfaces and the CORRECTION
// operation: flat-field division, scaling and spline distortion correction
// of the current data in one step.

#include "app/distortion/correction_form.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "app/distortion/spline_correction.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/imageops/conventions.hpp"
#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/gui_input.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

// Spline storage of the operation: up to 100 knots each way.
constexpr Index kCorrectionKnots = 100;
// Rows of edge positions per block, positive: the four-pixel method.
constexpr int kCorrectionRows = 160;

void read_text_key(std::string_view key, std::string& value, Status& status) {
  int length = 0, retstat = 0;
  std::string found;
  IO_INQ_KEYVALUE(key, length, found, retstat, status);
  if (retstat == 0 && status == kStatusGood) value = found.substr(0, 256);
}

void write_text_key(std::string_view key, const std::string& value, Status& status) {
  int retstat = 0;
  IO_SET_KEYVALUE(key, static_cast<int>(value.size()), value, retstat, status);
}

// A message in the prompt region of the window.
void show(std::initializer_list<std::string> lines, Status& status) {
  const std::vector<std::string> text(lines);
  GS_PPROMPT(static_cast<int>(text.size()), static_cast<int>(text.size()), text, status);
}

// The values kept for the run by CORRECTION.
CorrectionChoices& kept_choices() {
  static CorrectionChoices choices;
  return choices;
}

}  // namespace

void kzt_inq_correction_keys(CorrectionChoices& c, Status& status) {
  int retstat = 0;
  IO_INQ_LKEYVALUE("FF_CORRECTION", c.ff_correction, retstat, status);
  read_text_key("FF_FILE", c.ff_file, status);
  IO_INQ_LKEYVALUE("FF_SCALE", c.ff_scale, retstat, status);
  IO_INQ_RKEYVALUE("FF_SCALER", c.ff_scaler, retstat, status);
  IO_INQ_LKEYVALUE("SD_CORRECTION", c.sd_correction, retstat, status);
  read_text_key("SD_FILE", c.sd_file, status);
}

void kzt_set_correction_keys(const CorrectionChoices& c, Status& status) {
  int retstat = 0;
  IO_SET_LKEYVALUE("FF_CORRECTION", c.ff_correction, retstat, status);
  write_text_key("FF_FILE", c.ff_file, status);
  IO_SET_LKEYVALUE("FF_SCALE", c.ff_scale, retstat, status);
  IO_SET_RKEYVALUE("FF_SCALER", c.ff_scaler, retstat, status);
  IO_SET_LKEYVALUE("SD_CORRECTION", c.sd_correction, retstat, status);
  write_text_key("SD_FILE", c.sd_file, status);
}

void KZT_INP_CORRECTION(bool& ff_correction, std::string& ff_file, bool& ff_scale,
                        float& ff_scaler, bool& sd_correction, std::string& sd_file,
                        Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_CORRECTION V0.2")) return;
  std::vector<GsFormItem> items;
  items.push_back(kzt_form_item("FLAT-FIELD", 2, "APPLY FLAT FIELD CORRECTION",
                                "Enter \"YES\" to divide the data by a flat-field image"));
  items.back().logical_value = ff_correction;
  items.push_back(kzt_form_item("FF FILE", 7, "NAME OF FLAT-FIELD FILE",
                                "Select file containing the flat-field image"));
  items.back().string_value = ff_file.substr(0, 132);
  items.push_back(kzt_form_item("FF SCALE", 2, "APPLY SCALING AFTER FLAT FIELD CORRECTION",
                                "Enter \"YES\" to multiply the data by a constant afterwards"));
  items.back().logical_value = ff_scale;
  items.push_back(kzt_form_item("FF MULTIPLIER", 3, "FLAT FIELD MULTIPLIER TO APPLY",
                                "Enter the constant to multiply the flat-fielded data by"));
  items.back().ranged = true;
  items.back().real_lower = 1.0e-4f;
  items.back().real_upper = 1.0e16f;
  items.back().real_value = std::clamp(ff_scaler, 1.0e-4f, 1.0e16f);
  items.push_back(kzt_form_item("SPATIAL DIS.", 2, "APPLY SPATIAL DISTORTION CORRECTION",
                                "Enter \"YES\" to correct the spatial distortion"));
  items.back().logical_value = sd_correction;
  items.push_back(kzt_form_item("SD FILE", 7, "NAME OF SPATIAL DISTORTION FILE",
                                "Select file containing the spatialdistortion defining function"));
  items.back().string_value = sd_file.substr(0, 132);
  int return_code = 0;
  GS_FORM(2, 2, {"CONTROL OF DETECTOR", "DISTORTION CORRECTION"}, 2, 2,
          {"Control flat-field and spatial distortion", "correction"}, 11, items, return_code,
          status);
  if (status != kStatusGood) return;
  if (return_code != 0) {
    status = kStatusEscape;
    return;
  }
  ff_correction = items[0].logical_value;
  ff_file = items[1].string_value;
  ff_scale = items[2].logical_value;
  ff_scaler = items[3].real_value;
  sd_correction = items[4].logical_value;
  sd_file = items[5].string_value;
}

void KZT_GUI_CORRECTION(KztDataSets& sets, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_GUI_CORRECTION V0.5";
  if (st_bad(status, kPosition)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  float overload = 100000.0f;
  int retstat = 0;
  IO_INQ_RKEYVALUE("#OVERLOAD_VALUE", overload, retstat, status);
  CorrectionChoices c = kept_choices();
  kzt_inq_correction_keys(c, status);
  KZT_INP_CORRECTION(c.ff_correction, c.ff_file, c.ff_scale, c.ff_scaler, c.sd_correction,
                     c.sd_file, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  kept_choices() = c;
  kzt_set_correction_keys(c, status);

  if (c.ff_correction && a.mdata != nullptr) {
    show({"INPUT OF FLAT-FIELD FROM FILE:", " ", c.ff_file}, status);
    sets.memory_defined = false;
    bool read = false;
    bool no_variances = false;
    const ImageTarget memory{a.xmaxdat, a.ymaxdat, no_variances, sets.mxnumdat, sets.mynumdat,
                             kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata), {},
                             sets.mtitle, sets.mxlabel, sets.mylabel, sets.mzlabel,
                             sets.mx_pixel_size, sets.my_pixel_size};
    std::string file = c.ff_file;
    FIO_GUI_INPUT({"SELECT FLAT FIELD FILE", "(click on \"HELP\" for list of formats)"},
                  kFioSelectFile, memory, read, file, status);
    if (status == kStatusEscape) st_reset(status);
    if (status != kStatusGood) return;
    if (read) {
      sets.memory_defined = true;
      sets.mxstrelm = sets.mystrelm = 1;
      sets.mxendelm = sets.mxnumdat;
      sets.myendelm = sets.mynumdat;
      // The flat field divides over its own extent, clipped to the arrays;
      // the rest of the data is left as it was.
      const Index xe = std::min(sets.mxnumdat, a.xmaxdat);
      const Index ye = std::min(sets.mynumdat, a.ymaxdat);
      GS_BACKGROUND(status);
      show({"APPLYING FLAT-FIELD"}, status);
      MA_RDIVIDE(a.xmaxdat, a.ymaxdat, 1, 1, xe, ye, kzt_image(a.mdata), a.xmaxdat, a.ymaxdat,
                 kzt_image(a.data), status);
      if (status != kStatusGood) return;
      if (c.ff_scale) {
        show({"APPLYING SCALE FACTOR"}, status);
        MA_RCMULT(a.xmaxdat, a.ymaxdat, 1, 1, xe, ye, c.ff_scaler, kzt_image(a.data), status);
      }
    }
  }

  if (!c.sd_correction || status != kStatusGood) return;
  show({"INPUTTING SPATIAL DISTORTION FUNCTION"}, status);
  SplineSet set;
  std::string sd_file = c.sd_file;
  retstat = 0;
  KZT_IN_SPATIAL(true, kCorrectionKnots, kCorrectionKnots, sd_file, retstat, set, status);
  if (status != kStatusGood) return;
  if (retstat != 0) {
    static const std::string kProblems[] = {"TOO MANY COEFFICIENTS", "WRONG TYPE OF FILE",
                                            "PROBLEM OPENNING FILE"};
    gs_refusal({kProblems[std::clamp(retstat, 1, 3) - 1]}, status);
    return;
  }
  if (a.mdata == nullptr) {
    gs_refusal({"NO MEMORY ARRAYS FOR THE CORRECTION"}, status);
    return;
  }
  show({"CALCULATING CORRECTION TRANSFORMATION", "(ORIGINAL DATA TRANSFERRED TO THE MEMORY)"},
       status);
  int rows = kCorrectionRows;
  Index mxs = 0, mys = 0, mxe = 0, mye = 0;
  KZT_CORR_SPATIAL(true, true, set, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                   kzt_image(a.data), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, rows, overload,
                   kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata), mxs, mys, mxe,
                   mye, status);
  if (status != kStatusGood) return;
  sets.mxstrelm = mxs;
  sets.mystrelm = mys;
  sets.mxendelm = mxe;
  sets.myendelm = mye;
  sets.mxnumdat = std::max(sets.mxnumdat, mxe);
  sets.mynumdat = std::max(sets.mynumdat, mye);
  sets.memory_defined = true;
  sets.mtitle = sets.title;
  sets.mxlabel = sets.xlabel;
  sets.mylabel = sets.ylabel;
  sets.mzlabel = sets.zlabel;
  sets.mx_pixel_size = set.x_pixel_size;
  sets.my_pixel_size = set.y_pixel_size;
  KZT_EXCHANGE(sets, status);
  show({"CORRECTION COMPLETE"}, status);
}

}  // namespace kesta
