#pragma once
// The powder diffraction interface and the SAXS / GISAXS interface: the
// road of a 2-D image from input through correction, masking and geometry
// calibration to 1-D scans. Both keep their own copy of the experiment
// geometry between visits, synchronised with the geometry keys on entry and
// on leaving.

#include <span>
#include <string>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// POWDER DIFFRACTION (2-D).
void KZT_GUI_PD(KztDataSets& sets, Status& status);
// SAXS / GISAXS.
void KZT_GUI_SAXS(KztDataSets& sets, Status& status);

// Their help texts, and the texts themselves for the tests.
void KZT_GUI_PDHELP(bool gui, Status& status);
void KZT_GUI_SAXSHELP(bool gui, Status& status);
std::span<const std::string> kzt_pdhelp_text();
std::span<const std::string> kzt_saxshelp_text();

// The geometry and switches an interface keeps between visits (beam centre
// in pixel coordinates, metres, radians).
struct PowderInterfaceState {
  float x_beam = 500.0f;
  float y_beam = 500.0f;
  float sample_distance = 0.315f;
  float wavelength = 1.54e-10f;
  float tilt_rotation = 0.0f;
  float tilt_angle = 0.0f;
  float detector_rotation = 0.0f;
  float polarisation = 0.99f;
  bool correct_polarisation = true;
  int lorentz_geometry = 1;
  float detector_gain = 1.0f;
  // Whether the current data, and the memory, are shown with the mask
  // (reset at every entry).
  bool mask_data = true;
  bool mask_memory = false;
  // SAXS / GISAXS: the active region survives an input that still holds it.
  bool remember_roi = false;
};
// The kept states (tests reset them).
PowderInterfaceState& kzt_pd_state();
PowderInterfaceState& kzt_saxs_state();

}  // namespace kesta
