#pragma once
// Two-dimensional peaks added into a region of a real image: a rotated
// elliptical Gaussian positioned through axis arrays or in pixel coordinates,
// and a polar Gaussian (Gaussian in radius and in azimuth about a centre, a
// segment of a powder ring). Each visits only the pixels within its reach.
// Sampling modes as for the 1-D profiles: 0, 1 (table) or 9 (exact).

#include <span>

#include "core/types.hpp"

namespace kesta {

// Checks: XMAXDAT < 1 gives 20001, YMAXDAT < 1 20002, a bad X region 20005,
// a bad Y region 20006, a width or cut-off <= 0 20021, a bad mode 20017.
// Widths are standard deviations along the first axis (at ANGLE, radians
// anticlockwise from X) and the second; the cut-off region is the rotated
// rectangle of CUTOFF widths.
void MA_2DGAUSSIAN(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> x_axis, std::span<const float> y_axis,
                   float height, float x_centre, float y_centre, float width1, float width2,
                   float angle, float cutoff, int mode, std::span<float> array, Status& status);

// The same peak with centre and widths in pixel units (pixel x centred at x - 0.5).
void MA_2GAUSSIAN(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, float height, float x_centre, float y_centre, float width1,
                  float width2, float angle, float cutoff, int mode, std::span<float> array,
                  Status& status);

// Polar Gaussian with its maximum at (X_PEAK, Y_PEAK), radial width in data
// units and angular width in radians about the polar centre; the cut-off is
// limited to 6 widths. A zero width adds nothing; a negative one gives 20021.
void MA_2DPOLARGAU(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> x_axis, std::span<const float> y_axis,
                   float height, float x_peak, float y_peak, float x_polar, float y_polar,
                   float radial_width, float angular_width, float cutoff, int mode,
                   std::span<float> array, Status& status);

// Adds the polar Gaussian of radius R0 and azimuth A0 over the pixels
// XS..XE by YS..YE without checks (the caller has validated everything).
void MA_2GPGCL(Index xmaxdat, Index ymaxdat, std::span<const float> x_axis,
               std::span<const float> y_axis, Index xs, Index ys, Index xe, Index ye, float height,
               float r0, float a0, float x_polar, float y_polar, float radial_width,
               float angular_width, float cutoff, int mode, std::span<float> array,
               Status& status);

}  // namespace kesta
