#pragma once
// The terminal powder commands of the FIT sub-menu: POWDER DIFFRACTION (a
// 1-D equal-angle or equal-radius scan of the tilted detector, with
// variances and an optional PDS file), RADIAL PROFILE (a plain azimuthal
// average) and R/THETA RE-BINNING (the whole circle into azimuth x radius).

#include <span>
#include <string>

#include "app/diffraction/simulation.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The powder settings a caller keeps for the terminal powder commands.
struct PowderCommandSettings {
  int lorentz_geometry = 1;
  bool angular_scan = true;
  bool change_values = false;
  bool spatial_distortion = false;
  bool save_data = true;
  // The distortion-corrected scan: the spline file last read and the rows of
  // distortion values worked out together.
  std::string spline_file = "spatial.spline";
  int y_rows = 25;
};

// POWDER DIFFRACTION: the scan of the current data's active region into
// the memory. GEOMETRY and the pixel sizes are the caller's and may change.
// Masked, NaN and infinite pixels add nothing; a scan that no other pixel
// reaches is refused with a warning and leaves the memory as it was.
void KZT_POWDERDIFFRACTION(KztDataSets& sets, PowderSettings& geometry,
                           PowderCommandSettings& settings, Status& status);

// What R/THETA RE-BINNING keeps between calls (lengths in metres, angles
// in radians); the bin numbers are the caller's.
struct RThetaSettings {
  bool first = true;
  bool angular_scan = true;
  bool change_values = false;
  bool conserve_intensity = true;
  // The outer limits in the units they are asked in, so that a blank answer
  // keeps exactly the limit of the run before.
  float maximum_radius_pixels = 0.0f;
  float maximum_2theta_degrees = 0.0f;
  Index num_azimuthal = 180;
  Index num_radial = 1;
};

// R/THETA RE-BINNING: the active region re-binned over the whole circle into
// the memory, azimuth along X and 2-theta or radial distance along Y.
void KZT_RTHETA(KztDataSets& sets, PowderSettings& geometry, int& lorentz_geometry,
                RThetaSettings& settings, Status& status);

// RADIAL PROFILE: the azimuthal average about a typed centre (world
// coordinates) into the memory, without the masked (when a mask exists), NaN
// and infinite pixels; a profile that no pixel reaches leaves the memory.
// Point i averages the radii from (i - 1) to i spacings and its X is their
// middle, (i - 0.5) spacings.
void KZT_RADIAL(KztDataSets& sets, Status& status);

}  // namespace kesta
