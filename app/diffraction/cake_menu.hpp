#pragma once
// The interactive cake: an annular sector (start and end azimuth, inner and
// outer radius about the beam centre) defined by clicks on the displayed
// image, outlined in inverse colour, and re-binned into an azimuth against
// radial distance, 2-theta, q or d-spacing image in the memory.

#include "app/diffraction/simulation.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The sector, kept for the run: azimuths in radians anti-clockwise from +X,
// radii in metres on the detector.
struct CakeLimits {
  float start_azimuth = 0.0f;
  float end_azimuth = 6.283185f;
  float inner_limit = 0.0f;
  float outer_limit = 0.0f;
  bool first = true;  // no sector defined yet
};
// The re-binning settings of the control form, kept for the run (the bin
// counts worked out on the first call).
struct CakeControl {
  Index num_2theta = 0;
  Index num_azimuthal = 0;
  int scan_type = 1;
  bool conserve_intensity = false;
  float maximum_d = 20.0f;
  bool first = true;
};
struct CakeState {
  CakeLimits limits;
  CakeControl control;
};
CakeState& kzt_cake_state();

// The CAKE menu on the current data (GUI true from the graphical
// interfaces, false from the FIT sub-menu, which then gets the terminal
// back). GEOMETRY (beam centre in pixels, distance, wavelength, tilt,
// polarisation) and LORENTZ_GEOMETRY are the caller's copies, changed by the
// beam-centre menu and the forms. MASK_DATA and MASK_MEMORY are the caller's
// flags of whether the current data and the memory are shown and re-binned
// with the mask: swapped with every exchange of the two (INTEGRATE's result
// shown, EXCHANGE), MASK_DATA set by MASK. Returns on EXIT or a failure.
void KZT_CAKE(bool gui, KztDataSets& sets, PowderSettings& geometry, int& lorentz_geometry,
              bool& mask_data, bool& mask_memory, Status& status);
void KZT_CAKEHELP(bool gui, Status& status);

// The first definition of the sector on the displayed current data (with
// the mask while MASK_DATA): the beam-centre menu, then the azimuths and
// radii by clicks.
void KZT_INP_CAKE(KztDataSets& sets, bool mask_data, PowderSettings& geometry,
                  CakeLimits& limits, Status& status);

// The outline in inverse colour (pixel coordinates): with ERASE_OLD the
// outline drawn last is drawn again first, which removes it.
void KZT_DRAW_CAKE(bool erase_old, float x_pixel_size, float y_pixel_size, float x_beam_centre,
                   float y_beam_centre, float start_azimuth, float end_azimuth, float inner_limit,
                   float outer_limit, Status& status);

// The geometry and control forms, then the re-binning into the memory
// (the masked pixels left out while MASK_DATA). RETURN_CODE 0 after O.K.,
// -1 after CANCEL (nothing changed).
void KZT_CAL_CAKE(KztDataSets& sets, bool mask_data, PowderSettings& geometry,
                  CakeLimits& limits, int& lorentz_geometry, int& return_code, Status& status);

// The re-binning of the active region of the current data into the memory
// with the given settings, the masked pixels left out while MASK_DATA: axes
// (degrees of azimuth; mm, degrees, inverse nm or Angstroms), title, labels,
// region and MEMORY_DEFINED set only when it succeeded.
void kzt_cake_transform(KztDataSets& sets, bool mask_data, const PowderSettings& geometry,
                        const CakeLimits& limits, const CakeControl& control,
                        int lorentz_geometry, Status& status);

// The bin counts offered first: one azimuthal bin per degree, one radial bin
// per smallest pixel, capped at the array dimensions.
void kzt_cake_bins(const CakeLimits& limits, float x_pixel_size, float y_pixel_size,
                   Index xmaxdat, Index ymaxdat, Index& num_2theta, Index& num_azimuthal);

}  // namespace kesta
