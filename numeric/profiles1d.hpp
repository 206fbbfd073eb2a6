#pragma once
// One-dimensional peak and background shapes added into a channel range of a
// real array. Channel x covers x - 1 .. x and is evaluated at its centre
// x - 0.5. Sampling modes: 0 nearest table entry, 1 interpolated table entry,
// 9 exact formula. The unit Gaussian and Lorentzian tables are built on first
// use and kept for the run.

#include <span>

#include "core/types.hpp"

namespace kesta {

// exp(-x^2 / 2) for X >= 0 (in standard deviations). Modes 0 and 1 use the
// 251-entry table (0 to 5 deviations, 0 beyond); modes 2 and 9 the exact value.
// X < 0 gives 20021, another mode 20017. Entered with a bad STATUS: -1.0.
float MA_GAUSSIAN(float x, int mode, Status& status);

// MA_GAUSSIAN without the checks, for loops that validated X >= 0 and MODE
// (0, 1, 2 or 9) already.
float gaussian_value(float x, int mode);

// The complex error function w(x + i y) (Faddeeva function), double precision.
void MA_WERF(double x, double y, double& re, double& im);

// Common checks: XMAXDAT < 1 gives 20001; a channel range outside
// 1 .. XMAXDAT (or ending before it starts) 20005.

// Adds height x MA_GAUSSIAN(|x - 0.5 - centre| / width) over the cut-off reach.
// Width or cut-off <= 0 gives 20021, a bad mode 20017.
void MA_1DGAUSSIAN(Index xmaxdat, Index xstrelm, Index xendelm, float height, float centre,
                   float width, float cutoff, int mode, std::span<float> array, Status& status);

// Adds a Lorentzian of half-width at half-maximum HWHM: table modes within 15
// half-widths, mode 9 over the whole range. HWHM <= 0 gives 20021.
void MA_1DLORENTZIAN(Index xmaxdat, Index xstrelm, Index xendelm, float height, float centre,
                     float hwhm, int mode, std::span<float> array, Status& status);

// Adds a Voigt profile of peak height HEIGHT (Gaussian sigma, Lorentzian
// half-width); a pure Lorentzian or Gaussian when the other width is below
// 1e-10. A negative width gives 20021. UNUSED has no effect.
void MA_1DVOIGTIAN(Index xmaxdat, Index xstrelm, Index xendelm, float height, float centre,
                   float sigma, float gamma, int unused, std::span<float> array, Status& status);

// Adds amplitude x exp(-(x - 0.5 - start) ln 2 / half_life); half_life <= 0
// gives 20021.
void MA_1DEXPDECAY(Index xmaxdat, Index xstrelm, Index xendelm, float amplitude, float start,
                   float half_life, int unused, std::span<float> array, Status& status);

// Adds amplitude x cos(2 pi (x - 0.5 - phase) / period); period <= 0 gives 20021.
void MA_1DSINUSOIDAL(Index xmaxdat, Index xstrelm, Index xendelm, float amplitude, float phase,
                     float period, int unused, std::span<float> array, Status& status);

// Multiplies channel x by 1 + (v - 1)(AXIS(x) - a) / (b - a).
void MA_1DINTERCORR(Index xmaxdat, Index xstrelm, Index xendelm, float a, float b, float v,
                    std::span<const float> axis, std::span<float> array, Status& status);

}  // namespace kesta
