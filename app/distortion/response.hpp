#pragma once
// Detector response corrections: the interactive Chebyshev polynomial fit of
// a 1-D table, intensity linearisation, image-plate decay, uni-directional
// normalisation, the flood-field to flat-field conversion, the two-sphere
// image-intensifier geometry, and the flat field folded into the distortion
// look-up table.

#include <cstdint>
#include <span>
#include <vector>

#include "app/distortion/lut.hpp"
#include "core/types.hpp"

namespace kesta {

// The fitted polynomial: range of the sorted table, chosen order and its
// ORDER + 1 Chebyshev coefficients.
struct PolynomialFit {
  float x_min = 0.0f;
  float x_max = 0.0f;
  int order = 0;
  std::vector<float> coefficients;
  // The fitted value at X (clamped to the range).
  double value(float x) const;
};

// Fits the N points (X ascending) with every order 0..min(MAX_ORDER, N - 2)
// (MAX_FITS > 0 limits the number of orders), lists the residuals, asks the
// order and shows each fit until accepted (GRAPHICS: drawn in the window).
// FIT changes only when an order was chosen.
void KZT_POLYNOMIAL(bool graphics, int max_fits, Index max_points, Index n,
                    std::span<const float> x, std::span<const float> y, int max_order,
                    PolynomialFit& fit, Status& status);

// LINEARISE INTENSITIES: a table of raw and linear intensities, fitted as
// the ratio linear / raw against log10(raw), applied to the active region.
void KZT_CLINEARISE(bool graphics, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                    Index xendelm, Index yendelm, std::span<float> data, Status& status);
// The linearisation of one value by the fitted ratio: inside the fitted range
// R(log10 v) x v, outside it the value continues with unit slope from the
// end of the range.
float kzt_linearise_value(const PolynomialFit& fit, float v);
// The same over a row of N values in place (WORK: scratch kept by the caller).
void kzt_linearise_row(const PolynomialFit& fit, float* row, Index n, std::vector<double>& work);

// The image-plate decay model.
struct DecayModel {
  double p_fast = 0.134264, t_fast = 179.411, t_slow = 6631.4;
  double start_up = 36.0, line_time = 0.1;
  double exposure = 10.0, elapsed = 60.0;
};
// The mean fraction of signal left at read-out for row Y of YNUMDAT rows.
double kzt_decay_remaining(const DecayModel& model, Index y, Index ynumdat);
// DECAY CORRECTION: asks the model and corrects the rows of the region.
void KZT_DECAY(Index xmaxdat, Index ymaxdat, Index ynumdat, Index xstrelm, Index ystrelm,
               Index xendelm, Index yendelm, bool variances_exist, std::span<float> data,
               std::span<float> variances, Status& status);
// The correction itself (no questions); the factor of row YSTRELM returned.
double kzt_decay_correct(const DecayModel& model, Index xmaxdat, Index ynumdat, Index xstrelm,
                         Index ystrelm, Index xendelm, Index yendelm, bool variances_exist,
                         std::span<float> data, std::span<float> variances);

// NORMALISATION: each column (HORIZONTAL) or row of the region scaled so that
// its mean over unmasked pixels equals the largest mean, into the memory.
// MAX_WORK: the columns (rows) the work arrays hold. True when the memory
// was written.
bool KZT_UNINORMALISE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, bool variances_exist, std::span<const float> data,
                      std::span<const std::uint8_t> mask, std::span<const float> variances,
                      Index max_work, std::span<float> mdata, std::span<float> mvariances,
                      Status& status);
// The same without the question.
bool kzt_normalise(bool horizontal, Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, bool variances_exist, std::span<const float> data,
                   std::span<const std::uint8_t> mask, std::span<const float> variances,
                   std::span<float> mdata, std::span<float> mvariances, Status& status);

// FLAT-FIELD CORRECTION of the flood image in the current data.
void KZT_FLATFIELD(bool graphics, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, float& x_pixel_size, float& y_pixel_size,
                   std::span<float> data, Status& status);
// The radial profile PROFILE(1..N + 1): entry k for a radius of k - 1 pixels.
// False (nothing useful in PROFILE) when the fitted emission is not positive
// at 0 degrees or at an angle of the profile.
bool KZT_CALPROFILE(const PolynomialFit& fit, float distance, float pixel_size, float absorption,
                    Index n, std::span<float> profile, Status& status);
// DATA(x, y) x PROFILE(entry of its radius) over the region.
void KZT_CALFLATFIELD(Index n, std::span<const float> profile, float x_centre, float y_centre,
                      float x_pixel_size, float y_pixel_size, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                      std::span<float> data, Status& status);
// The number of radii N of the profile for a region and centre (pixels):
// the largest distance to a corner pixel of the region in X-pixel sizes,
// the unit the profile is looked up in; -1 for a centre far off the data.
Index kzt_profile_radii(float x_centre, float y_centre, float x_pixel_size, float y_pixel_size,
                        Index xstrelm, Index ystrelm, Index xendelm, Index yendelm);

// XRII FLAT-FIELD: the dialogue and geometry of the two-sphere model; the
// data are not changed.
void KZT_XRIIFLATFIELD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, float& x_pixel_size, float& y_pixel_size,
                       std::span<const float> data, Status& status);
// Path lengths through the detection layer per radius (PROFILE(1..N + 1));
// false after one of the two geometry errors.
bool KZT_CALABSORPTION(float detection_radius, float detection_thickness,
                       float detection_absorption, float vacuum_radius, float vacuum_thickness,
                       float vacuum_absorption, float source_distance, float pixel_size, Index n,
                       std::span<float> profile, Status& status);

// Folds the flat field FLAT_FIELD (XMAXDAT wide, defined XNUMDAT x YNUMDAT),
// sampled at the output pixels, into the table's fractions. RETSTAT 1 (table
// unchanged) when the extents differ, -1 when a fraction had to be cut to
// 255, else 0.
void KZT_FFDCLUTC(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                  std::span<const float> flat_field, DistortionTable& table, int& retstat);

}  // namespace kesta
