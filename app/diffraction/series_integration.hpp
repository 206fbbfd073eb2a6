#pragma once
// Numbered file series in the diffraction road: the graphical definition of
// a series (its first file read and checked, the last picked, the name
// pattern deduced, the step asked), the unattended integration of every file
// into one scan per row, the stacking of one row per file, and the keyboard
// command that deduces a name pattern for macros.

#include <cstdint>
#include <span>
#include <string>

#include "app/distortion/correction_form.hpp"
#include "app/imageops/series_definition.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// DEDUCE FILE SEQUENCE: asks a start and an end file name (remembered for
// the run) and leaves the pattern in ##PREFIX, ##START, ##END, ##STEP,
// ##VARIABLE, ##NUM_CHARS, ##POSTFIX and ##EXTENSION.
void KZT_FILESEQUENCE(Status& status);

// The series definition of the upward-call table: the first file through the
// graphical file input into TARGET (region set to the whole image) and
// confirmed, the last file chosen, the pattern deduced and, with
// ASK_INCREMENT, the step asked (SERIES.increment proposed when it fits the
// series, else 1; without ASK_INCREMENT it is 1). RETSTAT 0 when a series
// was defined. The increment is a positive step taken in the series' own
// direction (a descending series steps down).
void KZT_DEF_FS(bool ask_increment, const ImageTarget& target, Index& xstrelm, Index& ystrelm,
                Index& xendelm, Index& yendelm, int& retstat, KztFileSeries& series,
                Status& status);

// The detector-correction form the series asks (flat field on, its file,
// scaled, the scale factor, spline correction on, its file): the correction
// form of the distortion subsystem unless tests replace it.
using KztCorrectionForm = void (*)(bool& ff_correction, std::string& ff_file, bool& ff_scale,
                                   float& ff_scaler, bool& sd_correction, std::string& sd_file,
                                   Status& status);
KztCorrectionForm& kzt_series_correction_form();

// The settings of the series integration kept for the run (those with a key
// are read from it before use and stored after the user confirmed them).
struct SeriesIntegrationSettings {
  CorrectionChoices corrections;
  bool save_1d = true;
  std::string save_ext = "int";
  int scan_type = 1;
  float maximum_d = 20.0f;
  float ff_threshold = 10.0f;
  bool conserve_intensity = false;
  bool correct_polarisation = true;
  float polarisation = 0.99f;
  int lorentz_geometry = 1;
  float x_beam_centre = 512.0f, y_beam_centre = 512.0f;
  float sample_distance = 0.315f;
  float tilt_rotation = 0.0f, tilt_angle = 0.0f;
  int increment = 1;
};
SeriesIntegrationSettings& kzt_series_integration_settings();

// The file a scan of INPUT_FILE is saved to: its extension (after the last
// "." of the name itself) replaced by EXTENSION (a leading "." dropped); a
// name without an extension gets one.
std::string kzt_scan_file_name(const std::string& input_file, std::string_view extension);

// Integrates every file of a series defined graphically (the first into the
// current data): corrections and integration settings asked once, then per
// file read, corrected, integrated, plotted and (when asked) saved; the scans
// end as the rows of the current data, titled "first to last". A series with
// more files than the data arrays have rows is refused before any file after
// the first is read; a file that cannot be read, or is not the size of the
// first, leaves its row 0.0 with a warning; a failure mid-series stops the
// loop and keeps the scans made.
void KZT_FSINTEGRATE(KztDataSets& sets, Status& status);

// Reads every file of a series (the first into the memory), and stacks one
// chosen row of each as the rows of the current data.
void KZT_FSINPUT(KztDataSets& sets, Status& status);

}  // namespace kesta
