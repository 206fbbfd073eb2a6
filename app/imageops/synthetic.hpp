#pragma once
// Operations that create or simulate data in the current data, turn raw
// detector values into linear intensities (scanned film, image plates), and
// estimate pixel variances from the data themselves. All work in place on the
// active data region, ask every question first and change the data last.

#include <span>
#include <string>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// Asks the defined size (defaults: the whole arrays), makes it the extent and
// the active data region, clears the data (and variances), sets the axes to
// pixel centres and the texts of simulated data.
void KZT_CREATEDATA(bool variances_exist, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                    Index& ynumdat, Index& xstrelm, Index& ystrelm, Index& xendelm, Index& yendelm,
                    std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                    std::span<float> variances, std::string& title, std::string& xlabel,
                    std::string& ylabel, std::string& zlabel, Status& status);

// Adds a rotated elliptical Gaussian, positioned in axis units.
void KZT_GAUSSIAN(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<float> data, Status& status);

// Adds the circularly symmetric function whose radial profile is PROFILE
// (element K at radius K - 0.5 profile pixels of MX_PIXEL_SIZE); a profile
// pixel size not above zero is refused.
void KZT_SYMFUN(float mx_pixel_size, Index profile_max, Index profile_n,
                std::span<const float> profile, float xpixsize, float ypixsize, Index xmaxdat,
                Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                std::span<float> data, Status& status);

// Scanned film optical densities to linear intensities, with the variances of
// film granularity.
void KZT_LINEARISE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, bool variances_exist, std::span<float> data,
                   std::span<float> variances, Status& status);

// Image-plate values to linear intensities; values are clamped to the range
// of the number of bits. Variances are left as they are.
void KZT_FUJI(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, bool variances_exist, std::span<float> data,
              std::span<float> variances, Status& status);

// The image-plate response OUT = 100 (4000 / S) 10^(L (IN / 2^b - 0.5)) of
// every region element, IN rounded and clamped to 0 .. 2^b - 1.
void kzt_fuji_linearise(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                        int sensitivity, float latitude, int bits, std::span<float> data);

// Poisson-like variances scaled by a gain estimated from the data.
void KZT_VARIANCES(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, std::span<float> variances,
                   Status& status);

// The gain of KZT_VARIANCES over the interior of the region: false when no
// element lies strictly between FOG and MAXIMUM (and above zero).
bool kzt_variance_gain(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const float> data, float maximum, float fog, double& gain);
// The variances of KZT_VARIANCES from a known GAIN.
void kzt_define_variances(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                          std::span<const float> data, float maximum, float fog, float gain,
                          std::span<float> variances);

// Adds a constant to a triangle of pixels whose vertices and constant are
// asked in the graphics window: the three vertex pixels first, then every
// pixel of each row of the triangle inside the region (so the vertices get
// it twice). The row limits are written to the terminal.
void KZT_TRIANGLE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<float> data, Status& status);

// The keyboard branches (see KztCommand).
void kzt_command_createdata(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_gaussian(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_symfun(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_linearise(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_fuji(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_variances(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
