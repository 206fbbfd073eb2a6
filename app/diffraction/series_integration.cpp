#include "app/diffraction/series_integration.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>

#include <cmath>
#include <set>
#include <vector>

#include "app/diffraction/cake.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate.hpp"
#include "app/distortion/correction_form.hpp"
#include "app/distortion/spline.hpp"
#include "app/distortion/spline_correction.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/file_series.hpp"
#include "app/imageops/masks.hpp"
#include "core/defaults_db.hpp"
#include "core/directories.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/variables.hpp"
#include "formats/gui_input.hpp"
#include "formats/gui_output.hpp"
#include "formats/series_sizes.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

struct SequenceNames {
  std::string start = "kesta_999.kzt";
  std::string end = "kesta_001.kzt";
};

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void set_variable(std::string_view name, char type, int ivalue, bool lvalue,
                  std::string_view text, Status& status) {
  int retstat = 0;
  IO_SET_VARIABLE(name, type, ivalue, lvalue, 0.0f, static_cast<int>(text.size()), text, retstat,
                  status);
  if (retstat != 0) io_report_variable_refused(retstat, status);
}

}  // namespace

void KZT_FILESEQUENCE(Status& status) {
  if (st_bad(status, "Subroutine KZT_FILESEQUENCE V0.2")) return;
  SequenceNames names = remembered<SequenceNames>();
  io_input_file_name(true, "ENTER NAME OF STARTING FILE", {"Enter file name"}, {"Enter text"}, 1,
                     names.start, status);
  io_input_file_name(true, "ENTER NAME OF END FILE", {"Enter file name"}, {"Enter text"}, 1,
                     names.end, status);
  if (status != kStatusGood) return;
  remembered<SequenceNames>() = names;
  int retstat = 0, start = 0, end = 0, step = 0, digits = 0;
  bool variable = false;
  std::string prefix, postfix, extension;
  IO_FILESEQUENCE(names.start, names.end, retstat, start, end, step, prefix, variable, digits,
                  postfix, extension, status);
  if (status != kStatusGood) return;
  if (retstat != 0) {
    IO_WRITE("ERROR: Could not deduce required file sequence", status);
    return;
  }
  set_variable("##PREFIX", 's', 0, false, trimmed(prefix), status);
  set_variable("##START", 'i', start, false, "", status);
  set_variable("##END", 'i', end, false, "", status);
  set_variable("##STEP", 'i', step, false, "", status);
  set_variable("##VARIABLE", 'l', 0, variable, "", status);
  set_variable("##NUM_CHARS", 'i', digits, false, "", status);
  set_variable("##POSTFIX", 's', 0, false, trimmed(postfix), status);
  set_variable("##EXTENSION", 's', 0, false, trimmed(extension), status);
}

namespace {

// The folder of a series' FIRST file, whole: one named from the working
// folder (a name from a macro or typed) is completed with it, since the file
// selection would open elsewhere.
std::string first_file_folder(const std::string& first, Status& status) {
  std::string path, folder;
  int trans = 0;
  IO_TRANS_PATH(first, trans, path, status);
  if (trans != 0) path = first;
  IO_DIRPATH(path, folder, status);
  if (path.starts_with('/')) return folder;
  int retstat = 0;
  std::string working;
  IO_GETCWD(retstat, working, status);
  if (retstat != 0 || working.empty()) return folder;
  if (!working.ends_with('/')) working += '/';
  return working + folder;
}

}  // namespace

void KZT_DEF_FS(bool ask_increment, const ImageTarget& target, Index& xstrelm, Index& ystrelm,
                Index& xendelm, Index& yendelm, int& retstat, KztFileSeries& series,
                Status& status) {
  retstat = -2;
  if (st_bad(status, "Subroutine KZT_DEF_FS V0.3")) return;
  KztFileSeries s = series;
  s.first_file.clear();
  for (;;) {
    GS_FPROMPT(2, 2, {"SELECT FIRST FILE IN SERIES", "(Click on HELP for list of formats)"},
               status);
    bool defined = false;
    kzt_series_reader()({"SELECT FIRST FILE IN SERIES"}, kFioSelectFile, target, defined,
                        s.first_file, status);
    if (status != kStatusGood || !defined) return;
    xstrelm = 1;
    ystrelm = 1;
    xendelm = target.xnumdat;
    yendelm = target.ynumdat;
    // A read that replaced the data block leaves TARGET's span behind.
    const std::span<const float> image =
        target.data_block != nullptr && *target.data_block != nullptr
            ? std::span<const float>(*target.data_block,
                                     static_cast<std::size_t>(target.xmaxdat * target.ymaxdat))
            : std::span<const float>(target.data);
    GS_PLOT(target.xmaxdat, target.ymaxdat, image, target.xaxis, target.yaxis, xstrelm,
            ystrelm, xendelm, yendelm, target.title, target.xlabel, target.ylabel, target.zlabel,
            status);
    bool ok = true;
    GS_INPL(true, false, true, true, "FILE O.K.", {"Enter \"YES\" if the file is O.K."},
            {"Enter \"YES\" or \"NO\""}, ok, status);
    if (status != kStatusGood) return;
    if (ok) break;
  }
  // The last file is chosen in the first one's folder, its name typed
  // afresh: the first name offered in the name field would be typed onto.
  const std::string folder = first_file_folder(s.first_file, status);
  s.last_file = folder;
  int cancelled = 0;
  GS_FILESELECTION(2, 2,
                   {"Select LAST Input file in series", "(Click on INFO for details of file types)"},
                   3, 3,
                   {"Select the last file in the series to be input.",
                    "The file selection tool will help you to",
                    "search directories and find the required file."},
                   1, false, cancelled, s.last_file, status);
  if (status != kStatusGood || cancelled != 0) return;
  // A last file chosen there after a relative first name is named as the
  // first one is, so that the two names give the series.
  if (!s.first_file.starts_with('/') && folder.starts_with('/') &&
      s.last_file.starts_with(folder) &&
      s.last_file.find('/', folder.size()) == std::string::npos) {
    std::string first_folder;
    IO_DIRPATH(s.first_file, first_folder, status);
    s.last_file = first_folder + s.last_file.substr(folder.size());
  }
  int found = 0, step = 0;
  IO_FILESEQUENCE(s.first_file, s.last_file, found, s.start, s.end, step, s.prefix,
                  s.variable_width, s.digits, s.postfix, s.extension, status);
  if (status != kStatusGood) return;
  if (found != 0) {
    gs_command_refused({"COULD NOT DEDUCE REQUIRED FILE SEQUENCE"}, status);
    return;
  }
  GS_BACKGROUND(status);
  // The increment is a step in the series' own direction (the numbers are
  // stepped towards END), never 0.
  const long long span = std::llabs(static_cast<long long>(s.end) - s.start) + 1;
  const int upper = static_cast<int>(std::min<long long>(span, 2147483647LL));
  if (!ask_increment || s.increment < 1 || s.increment > upper) s.increment = 1;
  if (ask_increment) {
    static const std::string kHelp[] = {
        "The FILE INCREMENT is the numerical step between",
        "input files. Entering 2 inputs every alternative",
        "file; entering 10 defines a series whose number",
        "changes 10, 20, 30, and so on.",
        "",
        "Normally 1 should be entered to input every file."};
    GS_INPI(true, 1, upper, true, "FILE INCREMENT", kHelp, {"Enter integer in range"},
            s.increment, status);
    if (status != kStatusGood) return;
  }
  series = s;
  retstat = 0;
}


namespace {

// The data set of the program arrays that a series member is read into:
// the current data or the memory.
struct DataSetView {
  Index& xnumdat;
  Index& ynumdat;
  float** data;
  float** variances;
  float** xaxis;
  float** yaxis;
  bool& variances_exist;
  std::string& title;
  std::string& xlabel;
  std::string& ylabel;
  std::string& zlabel;
  float& x_pixel_size;
  float& y_pixel_size;
};

ImageTarget target_of(const DataSetView& v) {
  const KztArrays& a = vosq_kzt_arrays;
  return ImageTarget{a.xmaxdat,        a.ymaxdat,        v.variances_exist, v.xnumdat,
                     v.ynumdat,        kzt_xline(*v.xaxis), kzt_yline(*v.yaxis),
                     kzt_image(*v.data), kzt_image(*v.variances), v.title, v.xlabel, v.ylabel,
                     v.zlabel,         v.x_pixel_size,   v.y_pixel_size,    v.data,
                     v.variances};
}

// The memory's extent while a member is read into it.
struct MemoryExtent {
  Index xnumdat = 0, ynumdat = 0;
};

// Reads FILE_NAME into TARGET without asking; true when data were read.
bool read_member(const ImageTarget& target, std::string file_name, Status& status) {
  bool defined = false;
  kzt_series_reader()({"INPUTTING FILE"}, kFioGivenName, target, defined, file_name, status);
  return status == kStatusGood && defined;
}

std::string no_path(const std::string& file, Status& status) {
  std::string name;
  IO_NODIRPATH(file, name, status);
  return name.substr(0, 80);
}

// The flat field as the scaled inverse to multiply by, XNUM x YNUM elements
// laid out XNUM wide; empty when the series cannot go on (warned).
std::vector<float> prepare_flat_field(SeriesIntegrationSettings& s, Index xnum, Index ynum,
                                      Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  // Read into arrays of the program's shape, of which the read writes (and
  // makes resident) the flat field's extent only.
  std::optional<KztWorkImage> work;
  try {
    work.emplace(a.xmaxdat, a.ymaxdat);
  } catch (const std::bad_alloc&) {
    gs_command_refused({"PROBLEM ALLOCATING MEMORY FOR FLAT-FIELD IMAGE"}, status);
    return {};
  }
  const std::span<float> flat = work->pixels();
  const AxisBuffer xaxis(a.xmaxdat), yaxis(a.ymaxdat);
  GS_FPROMPT(1, 1, {"INPUT OF FLAT-FIELD IMAGE"}, status);
  GS_UPDATE(status);
  IO_WRITE("INFO: Input of flat-field image", status);
  Index fx = 0, fy = 0;
  bool variances = false;
  std::string title, xlabel, ylabel, zlabel;
  float xps = 0.0f, yps = 0.0f;
  const ImageTarget target{a.xmaxdat,      a.ymaxdat, variances, fx,     fy,
                           xaxis.values(), yaxis.values(), flat, {},     title,
                           xlabel,         ylabel,    zlabel,    xps,    yps};
  if (!read_member(target, s.corrections.ff_file, status)) {
    // Without its flat field the series would be silently uncorrected.
    if (status == kStatusGood)
      gs_command_refused({"PROBLEM INPUTTING THE FLAT-FIELD IMAGE"}, status);
    return {};
  }
  if (fx != xnum || fy != ynum) {
    gs_command_refused({"THE FLAT-FIELD IMAGE IS THE WRONG SIZE"}, status);
    return {};
  }
  GS_BACKGROUND(status);
  GS_FPROMPT(1, 1, {"CALCULATING SCALED INVERSE OF FLAT-FIELD"}, status);
  GS_UPDATE(status);
  // Element (i, j) of the flat field corrects element (i, j) of the image,
  // whatever the declared sizes: the inverse is packed XNUM wide.
  std::vector<float> inverse(static_cast<std::size_t>(xnum * ynum));
  bool zero = false;
  for (Index j = 1; j <= ynum; ++j)
    for (Index i = 1; i <= xnum; ++i) {
      const float v = flat[static_cast<std::size_t>(element(i, j, a.xmaxdat))];
      float& out = inverse[static_cast<std::size_t>(element(i, j, xnum))];
      if (v == 0.0f || !std::isfinite(v)) {
        out = 1.7e38f;
        zero = true;
      } else {
        out = 1.0f / v;
      }
    }
  if (zero) {
    gs_refusal({"THE FLAT-FIELD CONTAINED ONE OR MORE ZEROS"}, status);
    float threshold = std::clamp(s.ff_threshold, 0.001f, 1.7e10f);
    GS_INPR(true, 0.001f, 1.7e10f, true, "MAXIMUM MULTIPLER FOR FLAT-FIELD CORRECTION",
            {"Enter maximum value to increase intensity"},
            {"Enter real number within given range"}, threshold, status);
    if (status != kStatusGood) return {};
    s.ff_threshold = threshold;
  }
  for (float& v : inverse) {
    if (s.corrections.ff_scale) v *= s.corrections.ff_scaler;
    if (zero) v = std::min(v, s.ff_threshold);
  }
  return inverse;
}

void apply_flat_field(std::span<const float> inverse, Index xnum, Index ynum,
                      std::span<float> data) {
  const Index xmaxdat = vosq_kzt_arrays.xmaxdat;
  for (Index j = 1; j <= ynum; ++j) {
    float* row = data.data() + element(1, j, xmaxdat);
    const float* f = inverse.data() + element(1, j, xnum);
    for (Index i = 0; i < xnum; ++i) row[i] *= f[i];
  }
}

// The spline correction of the current data into the memory arrays.
void correct_spatial(KztDataSets& sets, const SplineSet& spline, float overload,
                     Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  int rows = 40;
  Index mxs = 1, mys = 1, mxe = 1, mye = 1;
  KZT_CORR_SPATIAL(true, true, spline, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis),
                   kzt_yline(a.yaxis), kzt_image(a.data), 1, 1, a.xnumdat, a.ynumdat, rows,
                   overload, kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata), mxs,
                   mys, mxe, mye, status);
  if (status != kStatusGood) return;
  sets.mxstrelm = mxs;
  sets.mystrelm = mys;
  sets.mxendelm = mxe;
  sets.myendelm = mye;
  sets.mxnumdat = mxe;
  sets.mynumdat = mye;
  sets.memory_defined = true;
}

// True when the data arrays have a row for every file of the series; a
// series with more is refused before its files are read.
bool rows_for_series(Index nfiles, Status& status) {
  if (nfiles <= vosq_kzt_arrays.ymaxdat) return true;
  gs_command_refused(
      {"THE SERIES HAS MORE FILES THAN THE DATA", "ARRAYS HAVE ROWS (USE \"DIMENSIONS\")"},
      status);
  return false;
}

const char* const kScanXLabels[] = {"Radial Distance (mm)", "2-Theta Angle (Degrees)",
                                    "Q (Inverse Nanometres)", "D-spacing (Angstroms)"};

}  // namespace

KztCorrectionForm& kzt_series_correction_form() {
  static KztCorrectionForm form = KZT_INP_CORRECTION;
  return form;
}

SeriesIntegrationSettings& kzt_series_integration_settings() {
  return remembered<SeriesIntegrationSettings>();
}

std::string kzt_scan_file_name(const std::string& input_file, std::string_view extension) {
  std::string ext(extension);
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
  const std::size_t slash = input_file.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = input_file.rfind('.');
  // Only a "." inside the name itself, after its first character, starts an
  // extension.
  if (dot == std::string::npos || dot <= base) return input_file + "." + ext;
  return input_file.substr(0, dot) + "." + ext;
}

void KZT_FSINTEGRATE(KztDataSets& sets, Status& status) {
  constexpr const char* kName = "Subroutine KZT_FSINTEGRATE V0.6";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kName);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kName);
  SeriesIntegrationSettings s = kzt_series_integration_settings();
  bool known = false;
  float wavelength = kDefaultWavelength, rotation = 0.0f;
  KZT_INQ_GEOMETRY(known, s.x_beam_centre, s.y_beam_centre, s.sample_distance, wavelength,
                   s.tilt_rotation, s.tilt_angle, rotation, status);

  // 1. The series, its first file into the current data.
  const DataSetView current{a.xnumdat,     a.ynumdat,    &a.data,     &a.variances, &a.xaxis,
                            &a.yaxis,      sets.variances_exist,      sets.title,   sets.xlabel,
                            sets.ylabel,   sets.zlabel,  sets.x_pixel_size,         sets.y_pixel_size};
  KztFileSeries series;
  series.increment = s.increment;
  int defined = 1;
  KZT_DEF_FS(true, target_of(current), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, defined,
             series, status);
  if (status != kStatusGood || defined != 0) return;
  // The scans are integrated with the geometry form's pixel sizes, stored
  // at the end; the members' headers decide none.
  const FioSeriesResult result(false, 0.0f, 0.0f,
                               "every member was integrated with the geometry form's");
  // The later members are read with the answers the first one was read with.
  const FioReadAnswers first_answers = fio_read_answers();
  sets.data_defined = true;
  s.increment = series.increment;
  kzt_series_integration_settings().increment = s.increment;
  const std::string extension = kzt_series_extension(series);
  IO_WRITE("extension = " + extension, status);
  const std::vector<int> numbers = kzt_series_numbers(series);
  const auto nfiles = static_cast<Index>(numbers.size());
  if (nfiles < 1) return;
  if (!rows_for_series(nfiles, status)) return;
  const Index xnum = a.xnumdat, ynum = a.ynumdat;
  // Members are compared with the first by the size of their image in its
  // file: one larger than the arrays is cut to their size when read.
  const FioImageSize first_size = fio_last_read_size();

  // 2. The corrections.
  float overload = 100000.0f;
  int retstat = 0;
  IO_INQ_RKEYVALUE("#OVERLOAD_VALUE", overload, retstat, status);
  kzt_inq_correction_keys(s.corrections, status);
  int length = 0;
  IO_INQ_LKEYVALUE("FS_INT_SAVE_1D", s.save_1d, retstat, status);
  IO_INQ_KEYVALUE("FS_INT_SAVE_EXT", length, s.save_ext, retstat, status);
  CorrectionChoices& c = s.corrections;
  kzt_series_correction_form()(c.ff_correction, c.ff_file, c.ff_scale, c.ff_scaler,
                               c.sd_correction, c.sd_file, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  kzt_set_correction_keys(c, status);
  kzt_series_integration_settings() = s;

  std::vector<float> flat;
  if (s.corrections.ff_correction) {
    flat = prepare_flat_field(s, xnum, ynum, status);
    if (flat.empty()) {
      if (status == kStatusEscape) st_reset(status);
      return;
    }
    kzt_series_integration_settings().ff_threshold = s.ff_threshold;
    IO_WRITE("INFO: Applying flat-field correction", status);
    apply_flat_field(flat, xnum, ynum, kzt_image(a.data));
  }
  SplineSet spline;
  if (s.corrections.sd_correction) {
    std::string file = s.corrections.sd_file;
    int found = 0;
    KZT_IN_SPATIAL(true, 100, 100, file, found, spline, status);
    if (status != kStatusGood || found != 0) {
      if (status != kStatusGood) ST_DEF_SYSTEM(status);
      gs_command_refused({"PROBLEM WITH SPATIAL DISTORTION FILE"}, status);
      return;
    }
    GS_FPROMPT(1, 1, {"1ST IMAGE: CORRECTING SPATIAL DISTORTION"}, status);
    GS_UPDATE(status);
    IO_WRITE("INFO: 1st image: Spatial distortion correction", status);
    correct_spatial(sets, spline, overload, status);
    if (status != kStatusGood) return;
    sets.x_pixel_size = spline.x_pixel_size;
    sets.y_pixel_size = spline.y_pixel_size;
  }

  // 3. The mask and the region, on the corrected first image.
  IO_WRITE("INFO: The \"MASK\" menu allows you to mask out bad pixels and regions,", status);
  IO_WRITE("      and to zoom in on a sub-region, if required.", status);
  GS_PPROMPT(7, 7,
             {"THE MASKING MENU WILL NOW", "APPEAR. YOU CAN ZOOM IN ON A",
              "SUB-REGION AND MASK BAD DATA.", "", "CLICK EXIT WHEN FINISHED", "", ""},
             status);
  kzt_create_mask(sets.mask_exist, status);
  if (status != kStatusGood) return;
  Index xs = 1, ys = 1, xe = xnum, ye = ynum;
  if (s.corrections.sd_correction) {
    xs = sets.mxstrelm, ys = sets.mystrelm, xe = sets.mxendelm, ye = sets.myendelm;
    KZT_MASK(true, a.xmaxdat, a.ymaxdat, sets.mxnumdat, sets.mynumdat, kzt_image(a.mdata),
             kzt_xline(a.mxaxis), kzt_yline(a.myaxis), sets.mtitle, sets.mxlabel, sets.mylabel,
             sets.mzlabel, sets.x_pixel_size, sets.y_pixel_size, xs, ys, xe, ye, kzt_mask(),
             status);
  } else {
    xs = a.xstrelm, ys = a.ystrelm, xe = a.xendelm, ye = a.yendelm;
    KZT_MASK(true, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_image(a.data),
             kzt_xline(a.xaxis), kzt_yline(a.yaxis), sets.title, sets.xlabel, sets.ylabel,
             sets.zlabel, sets.x_pixel_size, sets.y_pixel_size, xs, ys, xe, ye, kzt_mask(),
             status);
  }
  if (status != kStatusGood) return;

  // 4. The integration settings.
  IO_INQ_IKEYVALUE("SCAN_TYPE", s.scan_type, retstat, status);
  IO_INQ_RKEYVALUE("MAXIMUM_D", s.maximum_d, retstat, status);
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, sets.x_pixel_size, sets.y_pixel_size);
  float& xps = pixels.x;
  float& yps = pixels.y;
  float outer = 0.0f, max_2theta = 0.0f, step = 0.0f, qmax = 0.0f;
  Index nbins = 1;
  bool geometry = s.lorentz_geometry == 1;
  KZT_INQ_INTEGRATE(a.xmaxdat, a.ymaxdat, xs, ys, xe, ye, xps, yps, s.sample_distance, wavelength,
                    s.x_beam_centre, s.y_beam_centre, s.tilt_rotation, s.tilt_angle, outer,
                    s.scan_type, s.maximum_d, s.conserve_intensity, s.correct_polarisation,
                    s.polarisation, geometry, max_2theta, nbins, s.lorentz_geometry, step, qmax,
                    status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  IO_SET_IKEYVALUE("SCAN_TYPE", s.scan_type, retstat, status);
  IO_SET_RKEYVALUE("MAXIMUM_D", s.maximum_d, retstat, status);
  if (nbins < 1 || nbins > a.xmaxdat) {
    gs_command_refused({"MORE SCAN BINS THAN THE DATA ARRAYS HAVE COLUMNS"}, status);
    return;
  }
  if (a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr) {
    gs_command_refused({"THERE ARE NO MEMORY ARRAYS TO HOLD THE SCANS"}, status);
    return;
  }

  // 5. Saving.
  GS_BACKGROUND(status);
  GS_INPL(true, false, true, true, "SAVE EACH INTEGRATED SCAN TO FILE",
          {"Enter \"YES\" to save each scan in an output file"}, {"Enter \"YES\" or \"NO\""},
          s.save_1d, status);
  std::string format;
  if (status == kStatusGood) IO_SET_LKEYVALUE("FS_INT_SAVE_1D", s.save_1d, retstat, status);
  if (status == kStatusGood && s.save_1d) {
    FIO_INP_OUTPUT(format, status);
    int ext_length = 0;
    GS_INPS(true, "1-D SCAN OUTPUT FILE EXTENSION",
            {"Choose file extension for output files for 1-D scans"},
            {"Enter short character string"}, 1, ext_length, s.save_ext, status);
    if (status == kStatusGood)
      IO_SET_KEYVALUE("FS_INT_SAVE_EXT", static_cast<int>(s.save_ext.size()), s.save_ext, retstat,
                      status);
  }
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) {
    ST_DEF_SYSTEM(status);
    gs_command_refused({"PROBLEM IN FORM INPUT"}, status);
    return;
  }
  kzt_series_integration_settings() = s;
  const float saved_xps = xps, saved_yps = yps;

  // 6. The unattended loop: one scan a file.
  std::vector<float> work(static_cast<std::size_t>(nbins));
  std::vector<float> scans(static_cast<std::size_t>(nbins * nfiles), 0.0f);
  GS_BACKGROUND(status);
  GS_FPROMPT(1, 1, {"AUTOMATIC SEQUENCE INPUT STARTED"}, status);
  GS_UPDATE(status);
  std::set<std::string> written, images;
  std::string name;
  // A scan saved under a member's name would replace an image of the series
  // (an extension that is the members' own, or a number of a series without
  // one), perhaps before it is read.
  if (s.save_1d)
    for (const int number : numbers)
      if (kzt_series_name(series, number, name, status)) images.insert(name);
  const FioSeriesMembers members(first_answers);
  for (Index k = 1; k <= nfiles && status == kStatusGood; ++k) {
    const int number = numbers[static_cast<std::size_t>(k - 1)];
    if (!kzt_series_name(series, number, name, status)) break;
    const std::span<float> row = std::span<float>(scans).subspan(
        static_cast<std::size_t>((k - 1) * nbins), static_cast<std::size_t>(nbins));
    bool input = true;
    if (k > 1) {
      GS_FPROMPT(2, 2, {"INPUTTING FILE:", name.substr(0, 80)}, status);
      GS_UPDATE(status);
      sets.data_defined = false;
      input = read_member(target_of(current), name, status);
      if (status != kStatusGood) break;
      if (input) {
        sets.data_defined = true;
        IO_WRITE("INFO: Input " + name, status);
        if (fio_last_read_size() != first_size || a.xnumdat != xnum || a.ynumdat != ynum) {
          IO_WRITE("WARNING: File not the size of the first file: " + name, status);
          input = false;
        }
      }
      if (input && !flat.empty()) {
        IO_WRITE("INFO: Applying flat-field correction", status);
        apply_flat_field(flat, xnum, ynum, kzt_image(a.data));
      }
      if (input && s.corrections.sd_correction) {
        GS_FPROMPT(1, 1, {"CORRECTING SPATIAL DISTORTION"}, status);
        GS_UPDATE(status);
        IO_WRITE("INFO: Applying spatial distortion correction", status);
        correct_spatial(sets, spline, overload, status);
        if (status != kStatusGood) break;
      }
    }
    if (!input) {
      IO_WRITE("WARNING: File not input: " + name, status);
      continue;  // its row stays 0.0
    }
    GS_FPROMPT(1, 1, {"INTEGRATING DATA"}, status);
    GS_UPDATE(status);
    IO_WRITE("INFO: Integrating data", status);
    float azimuth_step = 0.0f, radial_step = 0.0f, radial_start = 0.0f;
    const std::span<const float> image =
        s.corrections.sd_correction ? kzt_image(a.mdata) : kzt_image(a.data);
    KZT_CAL2_CAKE(a.xmaxdat, a.ymaxdat, xs, ys, xe, ye, image, kzt_mask(), s.conserve_intensity,
                  s.scan_type, s.maximum_d, saved_xps, saved_yps, s.sample_distance, wavelength,
                  s.x_beam_centre, s.y_beam_centre, 0.0f, 360.0f, 0.0f, outer, s.tilt_rotation,
                  s.tilt_angle, nbins, 1, s.correct_polarisation, s.polarisation,
                  s.lorentz_geometry, nbins, 1, nbins, 1, azimuth_step, radial_step,
                  radial_start, work, row, status);
    if (status != kStatusGood) break;
    const std::span<float> axis = kzt_xline(a.mxaxis);
    for (Index i = 1; i <= nbins; ++i) {
      const float centre = (static_cast<float>(i) - 0.5f) * radial_step;
      float& x = axis[static_cast<std::size_t>(i - 1)];
      if (s.scan_type == kScanRadial)
        x = centre * 1000.0f;
      else if (s.scan_type == kScanTwoTheta)
        x = (centre + radial_start) * 180.0f / 3.1415926f;
      else
        x = centre + radial_start;
    }
    sets.xlabel = kScanXLabels[std::clamp(s.scan_type, 0, 3)];
    sets.zlabel = "Intensity";
    GS_XYSGRAPH(nbins, 1, nbins, axis, row, name, sets.xlabel, "Intensity", status);
    if (s.save_1d) {
      std::string out = kzt_scan_file_name(name, s.save_ext);
      if (written.count(out) != 0) out = name + "." + s.save_ext;
      if (images.count(out) != 0) {
        IO_WRITE("WARNING: Scan not saved: it would replace an image of the series: " + out,
                 status);
      } else if (written.insert(out).second) {
        IO_WRITE("INFO: Saving 1-D scan to file", status);
        const std::array<float, 1> yaxis{0.5f};
        int written_code = 0;
        FIO_GUI_OUT(name, format, true, nbins, 1, 1, 1, nbins, 1, axis, yaxis, row, {},
                    sets.title, sets.xlabel, "Scan Number", "Intensity", false, radial_step,
                    azimuth_step, out, written_code, status);
      } else {
        IO_WRITE("WARNING: Scan not saved: its file name is taken by another scan: " + out,
                 status);
      }
    }
  }

  // 7. The scans become the current data.
  const std::span<float> data = kzt_image(a.data);
  for (Index k = 1; k <= nfiles; ++k)
    std::copy_n(scans.begin() + (k - 1) * nbins, nbins, data.begin() + element(1, k, a.xmaxdat));
  const std::span<float> xaxis = kzt_xline(a.xaxis), mxaxis = kzt_xline(a.mxaxis);
  std::copy_n(mxaxis.begin(), nbins, xaxis.begin());
  for (Index i = 1; i <= sets.mxnumdat && i <= a.xmaxdat; ++i)
    mxaxis[static_cast<std::size_t>(i - 1)] = static_cast<float>(i) - 0.5f;
  const std::span<float> yaxis = kzt_yline(a.yaxis);
  for (Index k = 1; k <= nfiles; ++k)
    yaxis[static_cast<std::size_t>(k - 1)] = static_cast<float>(k) - 0.5f;
  sets.variances_exist = sets.variances_exist && a.variances != nullptr;
  if (sets.variances_exist) {
    // Scans carry no variances of their own.
    const std::span<float> v = kzt_image(a.variances);
    for (Index k = 1; k <= nfiles; ++k)
      std::fill_n(v.begin() + element(1, k, a.xmaxdat), nbins, 0.0f);
  }
  sets.ylabel = "Scan Number";
  sets.zlabel = "Intensity";
  a.xnumdat = nbins;
  a.ynumdat = nfiles;
  a.xstrelm = 1;
  a.ystrelm = 1;
  a.xendelm = nbins;
  a.yendelm = nfiles;
  sets.data_defined = true;
  Status local = kStatusGood;
  sets.title = (no_path(series.first_file, local) + " to " + no_path(series.last_file, local))
                   .substr(0, kKztTextLength);
  KZT_SET_GEOMETRY(true, s.x_beam_centre, s.y_beam_centre, s.sample_distance, wavelength,
                   s.tilt_rotation, s.tilt_angle, rotation, local);
  sets.x_pixel_size = saved_xps;
  sets.y_pixel_size = saved_yps;
  // The members' reads stored their headers' sizes as the detector's; the
  // series was integrated with the sizes of its forms, and those are the
  // ones later commands must propose.
  IO_SET_RKEYVALUE("X_PIXEL_SIZE", saved_xps, retstat, local);
  IO_SET_RKEYVALUE("Y_PIXEL_SIZE", saved_yps, retstat, local);
  kzt_series_integration_settings() = s;
}

void KZT_FSINPUT(KztDataSets& sets, Status& status) {
  constexpr const char* kName = "Subroutine KZT_FSINPUT V0.3";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kName);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kName);
  if (a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr) {
    IO_WRITE("WARNING: There are no memory arrays to read the files into", status);
    return;
  }
  bool mvariances = sets.variances_exist && a.mvariances != nullptr;
  const DataSetView memory{sets.mxnumdat,   sets.mynumdat,  &a.mdata,      &a.mvariances,
                           &a.mxaxis,       &a.myaxis,      mvariances,    sets.mtitle,
                           sets.mxlabel,    sets.mylabel,   sets.mzlabel,  sets.mx_pixel_size,
                           sets.my_pixel_size};
  KztFileSeries series;
  series.increment = kzt_series_integration_settings().increment;
  int defined = 1;
  KZT_DEF_FS(true, target_of(memory), sets.mxstrelm, sets.mystrelm, sets.mxendelm,
             sets.myendelm, defined, series, status);
  if (status != kStatusGood || defined != 0) return;
  // The rows take the first member's pixel sizes (a scan's bin widths are
  // no detector's).
  const float first_x = sets.mx_pixel_size, first_y = sets.my_pixel_size;
  const FioSeriesResult result(sets.mynumdat > 1, first_x, first_y,
                               "the result has the first file's");
  // Only the chosen row is taken: members of any size give it.
  FioReadAnswers first_answers = fio_read_answers();
  first_answers.any_size = true;
  sets.memory_defined = true;
  sets.data_defined = true;
  kzt_series_integration_settings().increment = series.increment;
  const std::vector<int> numbers = kzt_series_numbers(series);
  const auto nfiles = static_cast<Index>(numbers.size());
  if (nfiles < 1) return;
  if (!rows_for_series(nfiles, status)) return;
  int row = static_cast<int>(sets.mystrelm);
  GS_INPI(true, static_cast<int>(sets.mystrelm), static_cast<int>(sets.myendelm), true,
          "ENTER NUMBER OF ROW TO INPUT", {"You can choose to input one row within the given range"},
          {"Number must be within given range"}, row, status);
  if (status != kStatusGood) return;
  const Index xs = sets.mxstrelm, xe = sets.mxendelm;
  const std::span<float> data = kzt_image(a.data);
  std::string name;
  const FioSeriesMembers members(first_answers);
  for (Index k = 1; k <= nfiles && status == kStatusGood; ++k) {
    if (!kzt_series_name(series, numbers[static_cast<std::size_t>(k - 1)], name, status)) break;
    bool input = true;
    if (k > 1) {
      GS_FPROMPT(2, 2, {"INPUTTING FILE:", name.substr(0, 80)}, status);
      GS_UPDATE(status);
      // Whole files are read; a file too short for the row gives none.
      input = read_member(target_of(memory), name, status);
      if (status != kStatusGood) break;
      if (input) IO_WRITE("INFO: Input " + name, status);
      if (input && sets.mynumdat < row) {
        IO_WRITE("WARNING: File has no row " + std::to_string(row) + ": " + name, status);
        input = false;
      }
    }
    float* out = data.data() + element(1, k, a.xmaxdat);
    if (!input) {
      IO_WRITE("WARNING: File not input: " + name, status);
      std::fill(out + xs - 1, out + xe, 0.0f);
      continue;
    }
    const float* in = kzt_image(a.mdata).data() + element(1, row, a.xmaxdat);
    for (Index i = xs; i <= xe; ++i) out[i - 1] = i <= sets.mxnumdat ? in[i - 1] : 0.0f;
  }
  sets.data_defined = true;
  a.xnumdat = xe;
  a.ynumdat = nfiles;
  a.xstrelm = xs;
  a.ystrelm = 1;
  a.xendelm = xe;
  a.yendelm = nfiles;
  sets.xlabel = sets.mxlabel;
  sets.ylabel = "Scan Number";
  sets.x_pixel_size = first_x;
  sets.y_pixel_size = first_y;
  const std::span<float> xaxis = kzt_xline(a.xaxis), mxaxis = kzt_xline(a.mxaxis);
  std::copy_n(mxaxis.begin(), xe, xaxis.begin());
  const std::span<float> yaxis = kzt_yline(a.yaxis);
  for (Index k = 1; k <= nfiles; ++k)
    yaxis[static_cast<std::size_t>(k - 1)] = static_cast<float>(k) - 0.5f;
  sets.variances_exist = sets.variances_exist && a.variances != nullptr;
  if (sets.variances_exist)
    for (Index k = 1; k <= nfiles; ++k)
      std::fill_n(kzt_image(a.variances).begin() + element(1, k, a.xmaxdat), xe, 0.0f);
}

}  // namespace kesta
