#pragma once
// Simulated diffraction effects for building test images: the polarisation
// effect on the active data region, a powder ring added to it, and a 2-D
// powder pattern in the memory made from a 1-D 2-theta scan.

#include <cmath>
#include <span>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The polarisation factor of a scattering direction for the polarisation
// P = (I_h - I_v) / (I_h + I_v): 0.5 ((1 + c) - (1 - c) cos(2 azimuth) P),
// c = cos^2(2-theta), the azimuth from +X. Intensities are divided by it to
// correct and multiplied by it to simulate.
inline double polarisation_factor(double cos2_two_theta, double cos_twice_azimuth, double p) {
  return 0.5 * ((1.0 + cos2_two_theta) - (1.0 - cos2_two_theta) * cos_twice_azimuth * p);
}

// Multiplies every pixel of the region by the polarisation factor of its
// direction on an untilted detector at SAMPLE_DISTANCE (metres) around the
// beam centre (pixel coordinates); the variances by its square.
void kzt_apply_polarisation(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                            Index xendelm, Index yendelm, float x_pixel_size, float y_pixel_size,
                            float sample_distance, float x_beam_centre, float y_beam_centre,
                            float polarisation, bool variances_exist, std::span<float> data,
                            std::span<float> variances, Status& status);

// POLARISATION EFFECT: its control form asks the factor, pixel sizes
// (returned to the caller), distance and beam centre, then the effect is
// applied; CANCEL changes nothing. The factor, distance and
// beam centre stay with this command; no geometry key is written.
void KZT_POLARISATION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, float& x_pixel_size, float& y_pixel_size,
                      bool variances_exist, std::span<float> data, std::span<float> variances,
                      Status& status);

// RING (ADD POWDER RING): asks the geometry and the ring, adds the ring and
// stores the geometry. The pixel sizes are the caller's and are updated.
void KZT_POWDERRING(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, float& x_pixel_size, float& y_pixel_size,
                    std::span<float> data, Status& status);

// Adds INTENSITY exp(-s^2 / 2) to every pixel within 5 standard deviations of
// the ring of opening angle TWO_THETA: with (u, v) a pixel's offset in the
// tilt plane's frame, rho = sqrt(|2 D sin T tan^2 t u + (sin^2 T tan^2 t -
// cos^2 T) u^2 - v^2|), which is D tan t on the ring's cone, and
// s = |rho - D tan t| / SIGMA (metres).
void KZT_ADDPOWDERRING(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, float x_pixel_size, float y_pixel_size, float x_beam_centre,
                       float y_beam_centre, float sample_distance, float two_theta,
                       float intensity, float sigma, float tilt_rotation, float tilt_angle,
                       std::span<float> data, Status& status);

// The geometry a caller keeps for its powder commands (metres, radians, the
// beam centre in pixel coordinates).
struct PowderSettings {
  float x_beam_centre = 0.0f;
  float y_beam_centre = 0.0f;
  float sample_distance = 0.2f;
  float wavelength = 1.488e-10f;
  float tilt_rotation = 0.0f;
  float tilt_angle = 0.0f;
  float detector_rotation = 0.0f;
  bool correct_polarisation = true;
  float polarisation = 0.99f;
};

// The powder pattern of a 2-theta scan (ANGLES in degrees, ascending, with
// VALUES) over the output region of MDATA: each pixel takes the scan
// interpolated at its 2-theta (the end values beyond the scan), times
// cos^3(2-theta) and, when asked, the polarisation factor. Progress every
// 500 rows. A bad region gives base + 1, 2, 5 or 6; an axis that does not
// increase a warning. True when the pattern was written.
bool kzt_rings_from_scan(std::span<const float> angles, std::span<const float> values,
                         Index xmaxdat, Index ymaxdat, Index mxstrelm, Index mystrelm,
                         Index mxendelm, Index myendelm, float x_pixel_size, float y_pixel_size,
                         const PowderSettings& geometry, std::span<float> mdata, Status& status);

// 2-THETA TO RINGS: the scan is row YSTRELM of the current data's active
// region, its X axis 2-theta in degrees; the control form asks the output
// region and the geometry; the pattern goes into the memory.
// SETTINGS and the pixel sizes are the caller's and are updated.
void KZT_2THETATORINGS(KztDataSets& sets, PowderSettings& settings, Status& status);

}  // namespace kesta
