#pragma once
// The one-step correction of the graphical interfaces: the form that chooses
// a flat-field division (with an optional multiplier) and a spline distortion
// correction, and the CORRECTION operation that performs them on the current
// data.

#include <string>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The correction choices (the keys "FF_CORRECTION", "FF_FILE", "FF_SCALE",
// "FF_SCALER", "SD_CORRECTION", "SD_FILE"; member initialisers are the values
// used when a key is absent).
struct CorrectionChoices {
  bool ff_correction = false;
  std::string ff_file = "flat_field.bin";
  bool ff_scale = false;
  float ff_scaler = 1000.0f;
  bool sd_correction = false;
  std::string sd_file = "spatial.spline";
};

// Reads the six keys over CHOICES (a missing key keeps the value given).
void kzt_inq_correction_keys(CorrectionChoices& choices, Status& status);
// Stores the six values under their keys.
void kzt_set_correction_keys(const CorrectionChoices& choices, Status& status);

// The form "CONTROL OF DETECTOR" / "DISTORTION CORRECTION" with its six
// items, starting from the arguments. O.K. returns the new values in the
// arguments; CANCEL sets STATUS to the user escape and leaves them unchanged.
void KZT_INP_CORRECTION(bool& ff_correction, std::string& ff_file, bool& ff_scale,
                        float& ff_scaler, bool& sd_correction, std::string& sd_file,
                        Status& status);

// CORRECTION of the graphical interfaces on the program arrays: the form
// (values from the keys over those kept for the run), the keys stored, then
// the flat-field division (the flat field read into the memory), the scaling
// and the spline correction; after a distortion correction the corrected
// image is the current data and the uncorrected image is in the memory.
void KZT_GUI_CORRECTION(KztDataSets& sets, Status& status);

}  // namespace kesta
