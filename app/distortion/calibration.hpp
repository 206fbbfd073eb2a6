#pragma once
// The CALIBRATION sub-menu of the keyboard interface and the state it keeps
// for the whole run: grid peaks, spline functions and the look-up table.

#include <string>
#include <vector>

#include "app/distortion/grid_peaks.hpp"
#include "app/distortion/lut.hpp"
#include "app/distortion/spline.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// Largest number of grid peaks in each direction.
inline constexpr Index kMaxGridPeaks = kGridPeaksMax;

struct CalibrationState {
  std::string spline_file = "grid.spline";
  int display_size = 400;
  float grid_spacing = 2000.0f;
  float fit_discrepancy = 0.1f;
  float overload_value = 65534.5f;
  int rows_per_block = 40;
  bool first_entry = true;
  bool arrays_exist = false;
  bool peaks_exist = false;
  bool spatial_exist = false;
  bool distorted_space = true;
  bool table_defined = false;
  bool flat_field_stored = false;
  // Valid region, grid spacing and direction at the fit, corrected pixel
  // sizes and the two functions.
  SplineSet spline;
  // Grid peak positions and distortions, kMaxGridPeaks x kMaxGridPeaks.
  GridPeaks peaks;
  DistortionTable table;
};

// The sub-menu's state (kept for the run; tests may set or reset it).
CalibrationState& kzt_calibration_state();

// CALIBRATION: the sub-menu loop over the current data set and the memory.
void KZT_CALIBRATION(KztDataSets& sets, Status& status);

// The sub-menu's help text through the pager.
void KZT_HELP_CALIBRATE(Status& status);

// The help text's lines.
const std::vector<std::string>& kzt_calibrate_help_text();

}  // namespace kesta
