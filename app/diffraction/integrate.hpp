#pragma once
// Integration of the active region into one 1-D scan over the whole azimuth
// (radial distance, 2-theta, q or d-spacing), through the cake re-binning,
// and the control of its settings.

#include <span>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The items of the integration control form, in the units shown (the
// maximum angle in radians).
struct IntegrateControl {
  int scan_type = 1;
  bool conserve_intensity = false;
  bool correct_polarisation = false;
  float polarisation = 0.0f;
  bool geometry = false;
  float max_2theta = 0.0f;
  Index num_bins = 2;
  float maximum_d = 20.0f;
};

// The two forms the integration shows: the experiment geometry (values in
// stored units) and the control form (at most XMAXDAT bins). Each leaves a
// good status on O.K. and the user escape on CANCEL. They come with the
// widgets; an empty slot answers with the "not available yet" line.
struct IntegrateForms {
  void (*geometry)(float& x_pixel_size, float& y_pixel_size, float& sample_distance,
                   float& wavelength, float& x_beam_centre, float& y_beam_centre,
                   float& tilt_rotation, float& tilt_angle, Status& status) = nullptr;
  void (*control)(Index xmaxdat, IntegrateControl& control, Status& status) = nullptr;
};
IntegrateForms& kzt_integrate_forms();

// The settings of a 1-D scan: the geometry form, then the defaults worked out
// from the active region (the largest distance of its corners from the beam
// centre, one bin per smallest pixel), then the control form; OUTER_LIMIT in
// metres, MAX_2THETA and a 2-theta STEP in radians, a q STEP and QMAX in the
// scan's units.
void KZT_INQ_INTEGRATE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, float& x_pixel_size, float& y_pixel_size,
                       float& sample_distance, float& wavelength, float& x_beam_centre,
                       float& y_beam_centre, float& tilt_rotation, float& tilt_angle,
                       float& outer_limit, int& scan_type, float& maximum_d,
                       bool& conserve_intensity, bool& correct_polarisation, float& polarisation,
                       bool& geometry, float& max_2theta, Index& num_bins, int& lorentz_geometry,
                       float& step, float& qmax, Status& status);

// INTEGRATE: the active region of the current data into a scan that becomes
// the current data, the image going to the memory; the masked pixels are
// left out while MASK_DATA (the interface's flag of whether the current data
// are treated with the mask). The geometry arguments are the interface's
// copies (in/out through the forms). Cancelling leaves everything as it was.
void KZT_INTEGRATE(KztDataSets& sets, bool mask_data, float& x_pixel_size,
                   float& y_pixel_size, float& sample_distance, float& wavelength,
                   bool& correct_polarisation, float& polarisation, int& lorentz_geometry,
                   float& x_beam_centre, float& y_beam_centre, float& tilt_rotation,
                   float& tilt_angle, Status& status);

// Terminal questions of the powder commands: whether to divide by the beam
// polarisation, its value, and the type of geometrical correction (0 none,
// 1 partial powder). A type of 2 or more on entry gives 110017.
void KZT_INP_POLARISATION(bool& correct_polarisation, float& polarisation,
                          int& lorentz_geometry, Status& status);

// The partial-powder correction of a 2-theta scan (AXIS in degrees): data
// times 1 / cos^3(2-theta), variances times its square, over 1..NUM. Other
// types leave the scan as it was.
void KZT_LORENTZ(int lorentz_geometry, bool variances_exist, Index xmaxdat, Index num,
                 std::span<const float> axis, std::span<float> data, std::span<float> variances,
                 Status& status);

}  // namespace kesta
