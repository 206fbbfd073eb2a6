// The CALIBRATION sub-menu: the keyboard front end of the distortion
// calibration, with one table row per command carrying its help, its needs,
// its operation and the command proposed next.

#include "app/distortion/calibration.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "app/distortion/response.hpp"
#include "app/distortion/spline_correction.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/main/kzt_common.hpp"
#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/input.hpp"

namespace kesta {
namespace {

CalibrationState state;

// What a command's branch works on.
struct Calib {
  KztDataSets& sets;
  CalibrationState& st;
  std::string_view name;
  std::string next;
  bool leave = false;
};

using Handler = void (*)(Calib&, Status&);

// Needs, tested in order: M memory arrays, P grid peaks, S / s a spatial
// function (the two warnings differ), T / t a complete look-up table (for
// FAST CORRECTION / STORE LOOK-UP TABLE).
struct Command {
  std::string_view name;
  std::string_view help;
  std::string_view needs;
  std::string_view next;  // empty: the command itself
  Handler run;            // nullptr: the operation is not built yet
};

KztArrays& arrays() { return vosq_kzt_arrays; }

void write(std::initializer_list<std::string_view> lines) {
  Status local = kStatusGood;
  for (const std::string_view line : lines) IO_WRITE(line, local);
}

// The memory's description after an operation wrote it: extent, defined
// flag, labels, and optionally the title and the pixel sizes.
void memory_result(Calib& c, bool title, bool pixel_sizes, float x_pixel_size,
                   float y_pixel_size) {
  KztDataSets& s = c.sets;
  s.mxnumdat = std::max(s.mxnumdat, s.mxendelm);
  s.mynumdat = std::max(s.mynumdat, s.myendelm);
  s.memory_defined = true;
  if (title) s.mtitle = s.title;
  s.mxlabel = s.xlabel;
  s.mylabel = s.ylabel;
  s.mzlabel = s.zlabel;
  if (pixel_sizes) {
    s.mx_pixel_size = x_pixel_size;
    s.my_pixel_size = y_pixel_size;
  }
}

// A memory region that an operation sets only when it completes.
struct MemoryRegion {
  Index xs = 0, ys = 0, xe = 0, ye = 0;
  bool set(KztDataSets& s, Status status) const {
    if (status != kStatusGood || xe < 1) return false;
    s.mxstrelm = xs;
    s.mystrelm = ys;
    s.mxendelm = xe;
    s.myendelm = ye;
    return true;
  }
};

void run_list(Calib&, Status& status);
void run_help(Calib&, Status& status) { KZT_HELP_CALIBRATE(status); }
void run_exit(Calib& c, Status&) { c.leave = true; }

void run_fitted_distortion(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  MemoryRegion m;
  std::string mtitle = c.sets.mtitle;
  KZT_CAL_DISTORTION(false, c.st.spline, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis),
                     kzt_yline(a.yaxis), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                     kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata), m.xs, m.ys,
                     m.xe, m.ye, mtitle, status);
  if (!m.set(c.sets, status)) return;
  c.sets.mtitle = mtitle;
  memory_result(c, false, false, 0.0f, 0.0f);
}

void run_fast_correction(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  MemoryRegion m;
  KZT_CORR_FAST(false, c.st.table, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                kzt_image(a.data), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, c.st.overload_value,
                kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata), m.xs, m.ys, m.xe,
                m.ye, status);
  if (m.set(c.sets, status))
    memory_result(c, true, true, c.st.table.x_pixel_size, c.st.table.y_pixel_size);
}

void run_spatial_correction(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  MemoryRegion m;
  KZT_CORR_SPATIAL(false, false, c.st.spline, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis),
                   kzt_yline(a.yaxis), kzt_image(a.data), a.xstrelm, a.ystrelm, a.xendelm,
                   a.yendelm, c.st.rows_per_block, c.st.overload_value, kzt_xline(a.mxaxis),
                   kzt_yline(a.myaxis), kzt_image(a.mdata), m.xs, m.ys, m.xe, m.ye, status);
  if (m.set(c.sets, status))
    memory_result(c, true, true, c.st.spline.x_pixel_size, c.st.spline.y_pixel_size);
}

void run_fit_grid_peaks(Calib& c, Status& status) {
  CalibrationState& st = c.st;
  IO_INPR(true, 1.0e-5f, 1000.0f, true, "AVERAGE FIT DISCREPANCY (PIXELS)",
          {"Enter required maximum AVERAGE discrepancy between the calculated peak",
           "distortions and the values of the spline function at the corresponding",
           "positions. Note this is the AVERAGE value and does not mean the the",
           "function is better fitted for some peaks and worse for others. A value",
           "around the estimated error in calculated peak distortion should be",
           "about right."},
          {"Value must be within given range"}, st.fit_discrepancy, status);
  if (status != kStatusGood) return;
  const KztArrays& a = arrays();
  SplineSet fitted = st.spline;
  fitted.x_minimum = a.xaxis[a.xstrelm - 1] - 0.5f;
  fitted.y_minimum = a.yaxis[a.ystrelm - 1] - 0.5f;
  fitted.x_maximum = a.xaxis[a.xendelm - 1] + 0.5f;
  fitted.y_maximum = a.yaxis[a.yendelm - 1] + 0.5f;
  bool exist = false;
  KZT_KESTAGRID(false, st.peaks.xmax, st.peaks.ymax, st.peaks.xnum, st.peaks.ynum,
                st.fit_discrepancy, kMaxSplineKnots, kMaxSplineKnots, st.peaks.x, st.peaks.y,
                st.peaks.x_distortion, st.peaks.y_distortion, exist, fitted, status);
  st.spatial_exist = exist;
  if (!exist) return;
  fitted.grid_spacing = st.grid_spacing;
  fitted.x_pixel_size = c.sets.x_pixel_size;
  fitted.y_pixel_size = c.sets.y_pixel_size;
  fitted.distorted_space = st.distorted_space;
  st.spline = std::move(fitted);
  c.next = "OUTPUT SPATIAL FUNCTION";
}

void run_input_spatial(Calib& c, Status& status) {
  c.st.table_defined = false;
  int retstat = 0;
  KZT_IN_SPATIAL(false, kMaxSplineKnots, kMaxSplineKnots, c.st.spline_file, retstat, c.st.spline,
                 status);
  if (status != kStatusGood || retstat != 0) return;
  c.st.spatial_exist = true;
  c.next = "SPATIAL CORRECTION";
}

void run_output_spatial(Calib& c, Status& status) {
  KZT_OUT_SPATIAL(c.st.spline, kMaxSplineKnots, kMaxSplineKnots, status);
}

void run_load_table(Calib& c, Status& status) {
  KztArrays& a = arrays();
  int retstat = 0;
  KZT_INP_DCLUT(false, c.sets.input_file, retstat, c.st.table, a.xmaxdat, a.ymaxdat, a.xnumdat,
                a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_image(a.data),
                c.sets.title, c.st.table_defined, c.st.flat_field_stored, status);
  if (retstat == 0 && status == kStatusGood && c.st.flat_field_stored) c.sets.data_defined = true;
}

void run_build_table(Calib& c, Status& status) {
  CalibrationState& st = c.st;
  const KztArrays& a = arrays();
  st.table_defined = false;
  // The table covers the spline's valid region, within the data arrays.
  auto extent = [](float maximum, Index limit) {
    const double m = std::clamp(static_cast<double>(maximum) - 1.0e-5, -1.0, 1.0e15);
    return std::min(limit, static_cast<Index>(m) + 1);
  };
  const Index xnum = extent(st.spline.x_maximum, a.xmaxdat);
  const Index ynum = extent(st.spline.y_maximum, a.ymaxdat);
  if (xnum < 2 || ynum < 2) {
    write({"WARNING: A look-up table needs at least 2 columns and 2 rows; none",
           "         has been created."});
    return;
  }
  DistortionTable fresh;
  if (!fresh.allocate(xnum, ynum)) return st_fail(status, kBaseCore + 1002, "Subroutine KZT_SDLUT V0.4");
  KZT_SDLUT(st.spline, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis), fresh,
            st.table_defined, status);
  if (st.table_defined) st.table = std::move(fresh);
}

void run_store_table(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  int retstat = 0;
  KZT_OUT_DCLUT(false, c.sets.input_file, c.st.table, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat,
                kzt_image(a.data), retstat, status);
}

void run_display_size(Calib& c, Status& status) {
  IO_INPI(true, 50, 5000, true, "NUMBER OF PIXELS",
          {"Enter number of pixels to be displayed in \"FIND PEAKS\" (each dimension)"},
          {"Enter integer with given range"}, c.st.display_size, status);
}


// The memory data set as an operation writes it.
MemoryOut memory_out(KztDataSets& s) {
  const KztArrays& a = arrays();
  return MemoryOut{a.xmaxdat,      a.ymaxdat,      kzt_xline(a.mxaxis), kzt_yline(a.myaxis),
                   kzt_image(a.mdata), s.mxnumdat, s.mynumdat,          s.mxstrelm,
                   s.mystrelm,     s.mxendelm,     s.myendelm,          s.mtitle,
                   s.mxlabel,      s.mylabel,      s.mzlabel,           s.memory_defined};
}

// Clicks come from the window or from a running input macro.
bool clicks_refused(const Calib& c, Status& status) {
  if (c.sets.graphics_on || vosq_io_dbdb.input_macro) return false;
  IO_WRITE("WARNING: Graphics system is turned off; the points cannot be clicked", status);
  return true;
}

void run_find_peaks(Calib& c, Status& status) {
  if (clicks_refused(c, status)) return;
  const KztArrays& a = arrays();
  int retstat = 3;
  KZT_CALIBRATE2DGRID(c.sets.graphics_on, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                      a.yendelm, kzt_image(a.data), kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                      c.sets.title, c.sets.xlabel, c.sets.ylabel, c.sets.zlabel,
                      c.st.display_size, c.st.grid_spacing, c.sets.x_pixel_size,
                      c.sets.y_pixel_size, retstat, c.st.peaks, status);
  if (retstat != 0 || status != kStatusGood) return;
  c.st.peaks_exist = true;
  c.st.distorted_space = true;
  c.next = "DISPLAY DISTORTION";
}

void run_destroy_peaks(Calib& c, Status& status) { KZT_DESTROYPEAKS(c.st.peaks, status); }
void run_view_peaks(Calib& c, Status& status) { KZT_VIEW2DPEAKS(c.st.peaks, status); }
void run_save_peaks(Calib& c, Status& status) { KZT_SAVE2DPEAKS(c.st.peaks, status); }

void run_display_distortion(Calib& c, Status& status) {
  if (!c.sets.graphics_on) {
    IO_WRITE("WARNING: Graphics system is turned off; the distortion cannot be displayed",
             status);
    return;
  }
  KZT_DISPLAY2DDISTORTION(c.st.peaks, status);
}

void run_transfer_distortion(Calib& c, Status& status) {
  KZT_DIST2MEM(c.st.peaks, memory_out(c.sets), status);
}

void run_inverse(Calib& c, Status& status) {
  KZT_IDEALSPACE(c.st.peaks, status);
  if (status != kStatusGood) return;
  c.st.distorted_space = !c.st.distorted_space;
  IO_WRITE(c.st.distorted_space ? "INFO: Distortion now defined from distorted grid to ideal grid"
                                : "INFO: Distortion now defined from ideal grid to distorted grid",
           status);
}

void run_recalculate(Calib& c, Status& status) {
  float spacing = c.st.grid_spacing;
  IO_INPR(true, 1.0f, 1.0e6f, true, "GRID SPACING (CENTRE TO CENTRE IN microns)",
          {"Enter distance between adjacent peaks in microns"},
          {"Value must be within given range"}, spacing, status);
  if (status != kStatusGood) return;
  c.st.grid_spacing = spacing;
  KZT_2DDISTORTION(c.st.peaks, spacing, c.sets.x_pixel_size, c.sets.y_pixel_size, status);
}

void run_residuals(Calib& c, Status& status) {
  KZT_RESIDUALS(c.st.peaks, c.st.spline.x, c.st.spline.y, memory_out(c.sets), status);
  if (status != kStatusGood || !c.sets.memory_defined) return;
  c.sets.mxlabel = c.sets.xlabel;
  c.sets.mylabel = c.sets.ylabel;
  c.sets.mzlabel = c.sets.zlabel;
}

void run_false_peak(Calib& c, Status& status) {
  if (clicks_refused(c, status)) return;
  const KztArrays& a = arrays();
  KZT_FALSEPEAK(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_xline(a.xaxis), kzt_yline(a.yaxis), c.sets.title, c.sets.xlabel,
                c.sets.ylabel, c.sets.zlabel, kzt_image(a.data), status);
}

void run_learn_profile(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  KZT_LEARNPROFILE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                   kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), c.st.peaks,
                   memory_out(c.sets), status);
}

void run_linearise(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  KZT_CLINEARISE(c.sets.graphics_on, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                 a.yendelm, kzt_image(a.data), status);
}

void run_decay(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  const bool variances = c.sets.variances_exist && a.variances != nullptr;
  KZT_DECAY(a.xmaxdat, a.ymaxdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
            variances, kzt_image(a.data),
            variances ? kzt_image(a.variances) : std::span<float>{}, status);
}

void run_flat_field(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  KZT_FLATFIELD(c.sets.graphics_on, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                a.yendelm, c.sets.x_pixel_size, c.sets.y_pixel_size, kzt_image(a.data), status);
}

void run_xrii_flat_field(Calib& c, Status& status) {
  const KztArrays& a = arrays();
  KZT_XRIIFLATFIELD(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                    c.sets.x_pixel_size, c.sets.y_pixel_size, kzt_image(a.data), status);
}

const Command kCommands[] = {
    {"?", "?: List of available commands", "", "HELP", run_list},
    {"CALCULATE FITTED DISTORTION", "CALCULATE FITTED DISTORTION: output in memory (for X or Y)",
     "SM", "EXIT", run_fitted_distortion},
    {"DECAY CORRECTION", "DECAY CORRECTION: Correct intenisty decay (Molecular Dynamics)", "",
     "EXIT", run_decay},
    {"DESTROY GRID PEAKS", "DESTROY GRID PEAKS: Set \"found\" peaks to missing peaks", "P",
     "DISPLAY DISTORTION", run_destroy_peaks},
    {"DISPLAY DISTORTION", "DISPLAY DISTORTION: Create 2-D image in memory and display", "P",
     "EXIT", run_display_distortion},
    {"EXIT", "EXIT: Exit fit sub-menu", "", "", run_exit},
    {"FALSE PEAK", "FALSE PEAK: Create false peak from existing peak positions", "", "", run_false_peak},
    {"FAST CORRECTION", "FAST CORRECTION: Using spatial distortion look-up table", "TM", "EXIT",
     run_fast_correction},
    {"FIND PEAKS", "FIND PEAKS: Measure centres of grid mask peaks", "", "", run_find_peaks},
    {"FIT GRID PEAKS", "FIT GRID PEAKS: Fit interpolation function to distortion", "P", "",
     run_fit_grid_peaks},
    {"FLAT-FIELD CORRECTION", "FLAT-FIELD CORRECTION: Correct for source distribution, etc", "",
     "EXIT", run_flat_field},
    {"HELP", "HELP: User help text", "", "?", run_help},
    {"INPUT SPATIAL FUNCTION", "INPUT SPATIAL FUNCTION: Recover from file distortion", "", "",
     run_input_spatial},
    {"INVERSE DISTORTED/IDEAL", "INVERSE DISTORTED/IDEAL: definition of distortion mapping", "P",
     "FIT GRID PEAKS", run_inverse},
    {"LEARN HOLE PROFILE", "LEARN HOLE PROFILE: Average sub-pixel hole profile", "PM", "EXIT",
     run_learn_profile},
    {"LINEARISE INTENSITIES", "LINEARISE INTENSITIES: Correct intensities for non-linearity", "",
     "EXIT", run_linearise},
    {"LOAD LOOK-UP TABLE", "LOAD LOOK-UP TABLE: Input distortions LUT from a file", "",
     "FAST CORRECTION", run_load_table},
    {"LOOK-UP TABLE (SPATIAL DISTORTION)",
     "LOOK-UP TABLE (SPATIAL DISTORTION): Create look-up table", "s", "EXIT", run_build_table},
    {"OUTPUT SPATIAL FUNCTION", "OUTPUT SPATIAL FUNCTION: Save current distortion function", "s",
     "EXIT", run_output_spatial},
    {"QUIT", "QUIT: Exit fit sub-menu", "", "", run_exit},
    {"RE-CALCULATE DISTORTION", "RE-CALCULATE DISTORTION: More user choice on distortion", "P",
     "EXIT", run_recalculate},
    {"RESIDUALS OF FIT", "RESIDUALS OF FIT: Fit minus measured distortion (in memory)", "sM",
     "EXIT", run_residuals},
    {"SAVE PEAKS", "SAVE PEAKS: Output peak position to ASCII file", "P", "EXIT", run_save_peaks},
    {"SIZE (IMAGE DISPLAY)", "SIZE (IMAGE DISPLAY): Change region size for \"FIND PEAKS\"", "",
     "FIND PEAKS", run_display_size},
    {"SPATIAL CORRECTION", "SPATIAL CORRECTION: Apply spatial correction function", "sM", "EXIT",
     run_spatial_correction},
    {"STORE LOOK-UP TABLE", "STORE LOOK-UP TABLE: Save distortions LUT in a file", "t", "EXIT",
     run_store_table},
    {"TRANSFER DISTORTION", "TRANSFER DISTORTION: Save distortion values in memory", "PM", "EXIT",
     run_transfer_distortion},
    {"VIEW PEAKS", "VIEW PEAKS: Examine peak positions and distortions", "P", "EXIT", run_view_peaks},
    {"XRII FLAT-FIELD", "XRII FLAT-FIELD: Theoretical flat-field calculation", "", "EXIT",
     run_xrii_flat_field},
};
static_assert(std::size(kCommands) == 29);

const std::vector<std::string>& command_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const Command& c : kCommands) out.emplace_back(c.name);
    return out;
  }();
  return names;
}

void run_list(Calib&, Status& status) {
  static const std::vector<std::string> help = [] {
    std::vector<std::string> out;
    for (const Command& c : kCommands) out.emplace_back(c.help);
    return out;
  }();
  IO_TEXT(help, status);
}

// The first need of COMMAND that is not met, with its warning and the
// command proposed instead; true when all are met.
bool needs_met(const Command& command, const KztDataSets& sets, const CalibrationState& st,
               std::string& next) {
  for (const char need : command.needs) {
    switch (need) {
      case 'M':
        if (sets.memory_exist && arrays().mdata != nullptr) break;
        write({"WARNING: Memory arrays do not exist you must create them with \"DIMENSIONS\""});
        next = "EXIT";
        return false;
      case 'P':
        if (st.peaks_exist) break;
        write({"WARNING: No peak centres have been found you must \"FIND PEAKS\""});
        next = "FIND PEAKS";
        return false;
      case 'S':
      case 's':
        if (st.spatial_exist) break;
        write({need == 'S' ? "WARNING: No spatial calibration function exists present, you must "
                             "\"FIT GRID PEAKS\""
                           : "WARNING: No spatial calibration function exists present, you must "
                             "\"FIT GRID\"",
               "WARNING: to create a function."});
        next = "FIT GRID PEAKS";
        return false;
      case 'T':
      case 't':
        if (st.table_defined) break;
        write({"WARNING: No spatial distortion look-up table is defined, you must use",
               need == 'T' ? "         \"LOOK-UP TABLE (SPATIAL DISTORTION)\" or"
                           : "         \"LOOK-UP TABLE(SPATIAL DISTORTION)\""});
        if (need == 'T') write({"         \"LOAD LOOK-UP TABLE\""});
        next = "LOOK-UP TABLE (SPATIAL DISTORTION)";
        return false;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

CalibrationState& kzt_calibration_state() { return state; }

void KZT_CALIBRATION(KztDataSets& sets, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CALIBRATION V2.29";
  if (st_bad(status, kPosition)) return;
  const KztArrays& a = arrays();
  if (const Status e = region_error(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                                    a.yendelm, kBaseApp);
      e != 0)
    return st_fail(status, e, kPosition);
  CalibrationState& st = state;
  if (st.first_entry) {
    std::string format = "None";
    int length = 0, retstat = 0;
    IO_INQ_KEYVALUE("#INPUT_FORMAT", length, format, retstat, status);
    const bool plate = format == "IMAGEQUANT" || format == "HAMAMATSU PHOTONICS";
    st.grid_spacing = plate ? 4000.0f : 5000.0f;
    st.display_size = plate ? 400 : 600;
    st.first_entry = false;
  }
  if (!st.arrays_exist) {
    if (!st.peaks.allocate(kMaxGridPeaks, kMaxGridPeaks))
      return st_fail(status, kBaseCore + 1002, kPosition);
    st.arrays_exist = true;
  }
  std::string command = st.table_defined   ? "FAST CORRECTION"
                        : st.spatial_exist ? "SPATIAL CORRECTION"
                                           : "FIND PEAKS";
  const std::vector<std::string>& names = command_names();
  for (;;) {
    const std::string proposed = command;
    // A command refused for what it needs is taken back off a recording.
    const OutmacroMark recorded = io_outmacro_mark();
    IO_MENU(true, "Calibration sub-menu: ENTER COMMAND",
            {"Enter one of available commands (\"HELP\" for help)"},
            {"Enter one of available commands (\"HELP\" for help)"},
            static_cast<int>(names.size()), names, command, status);
    if (sets.graphics_on) {
      bool resized = false;
      Status local = kStatusGood;
      QG_INP_RESIZE(1, resized, local);
    }
    // The end of the input leaves the sub-menu and then the program; any
    // other escape at the menu leaves the sub-menu.
    if (kzt_escape_at_end(status)) return;
    if (status == kStatusEscape) {
      ST_DEF_SYSTEM(status);
      break;
    }
    // An assignment asks again; the end of the sequence's macro is handed on.
    if (io_ask_again(status)) continue;
    if (status != kStatusGood) return;
    // A shell command was run: the same command is proposed again.
    if (command == "null") {
      command = proposed;
      continue;
    }
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&command](const Command& c) { return c.name == command; });
    if (found == std::end(kCommands)) {
      write({"WARNING: Unknown command, please enter new command"});
      continue;
    }
    const Command& entry = *found;
    Calib c{sets, st, entry.name, std::string(entry.next.empty() ? entry.name : entry.next)};
    if (!needs_met(entry, sets, st, c.next)) {
      io_outmacro_take_back(recorded);
      command = c.next;
      continue;
    }
    if (entry.run != nullptr) {
      entry.run(c, status);
    } else {
      kzt_not_available(entry.name, status);
      c.next = std::string(entry.name);
    }
    if (c.leave) break;
    command = c.next;
    if (kzt_escape_at_end(status)) return;
    // A question answered with the escape or an assignment is no failure.
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
    if (status != kStatusGood && !kzt_reset_status(status)) return;
  }
  bool destroy = false;
  Status local = kStatusGood;
  IO_INPL(false, false, false, true, "DESTROY DYNAMIC ARRAYS",
          {"\"YES\" to destroy peak position and fit function arrays, and recuperate",
           "program memory. \"NO\" to save peak position and fit function arrays for",
           "later re-use."},
          {"Enter YES or NO"}, destroy, local);
  if (kzt_escape_at_end(local)) status = local;
  if (!destroy) return;
  st.peaks = GridPeaks{};
  st.spline.x = {};
  st.spline.y = {};
  st.arrays_exist = false;
  st.peaks_exist = false;
  st.spatial_exist = false;
}

void KZT_HELP_CALIBRATE(Status& status) {
  if (status != kStatusGood) return;
  IO_TEXT(kzt_calibrate_help_text(), status);
}

}  // namespace kesta
