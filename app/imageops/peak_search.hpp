#pragma once
// Search for diffraction spots in the active data region: the image is
// optionally smoothed, then worked through in overlapping horizontal strips
// whose background mean and spread follow running per-column sums; a peak is
// a local maximum with enough candidate pixels round it, far enough from the
// peaks already found. Each peak is flagged (good, saturated, bad weak) and,
// when asked, integrated over a box with its centre refined.

#include <cstdint>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace kesta {

// The search parameters, named after the buttons of the control form.
struct PeakSearchParameters {
  int mode = 0;           // 0 search only, 1 search and integrate
  bool use_mask = false;  // pixels masked off are excluded
  Index blur_size = 1;    // top-hat width, 1 = none
  Index box_size = 20;
  float data_minimum = 0.0f;
  float data_offset = 0.0f;
  float gain = 1.0f;          // DET. GAIN
  Index min_background = 10;  // least background pixels for a reliable mean
  float peak_sigma = 5.0f;
  float bad_sigma = 5.0f;
  Index num_pixels = 1;
  Index min_spacing = 4;
  float saturation = 1.7e38f;
};

// Peak flags: 0 good, 1 saturated, 10 bad weak, 11 saturated and bad weak.
inline constexpr int kPeakSaturated = 1;
inline constexpr int kPeakBadWeak = 10;

// The peak list, filled from entry 0; positions in pixel coordinates (the
// centre of pixel i at i - 0.5); d-spacings in Angstroms, -1.0 without a
// known geometry.
struct PeakList {
  Index max_peaks = 0;
  Index num_peaks = 0;
  bool full = false;
  Index saturated = 0;
  Index bad_weak = 0;
  std::vector<int> flags;
  std::vector<float> x, y, intensity, sigma, d_spacing;
  explicit PeakList(Index max = 0);
};

// What a peak's d-spacing needs: the experiment geometry when KNOWN (beam
// centre in pixel coordinates, distance and wavelength in metres) and the
// pixel sizes (metres).
struct PeakGeometry {
  bool known = false;
  float x_beam = 0.0f, y_beam = 0.0f, distance = 0.0f, wavelength = 0.0f;
  float x_pixel_size = 1.0e-4f, y_pixel_size = 1.0e-4f;
};
// The geometry of the peaks of an image of the given pixel sizes, as the
// geometry subsystem holds it.
PeakGeometry kzt_peak_geometry(float x_pixel_size, float y_pixel_size, Status& status);
// The d-spacing (Angstroms) of a peak at pixel coordinates X, Y; -1.0
// without a known geometry and at the beam centre.
float kzt_peak_d_spacing(const PeakGeometry& geometry, float x, float y);

// WORK holds XMAXDAT x YMAXDAT reals (the smoothed or copied data). MASK is
// read only when P.use_mask. Refused: XMAXDAT < 1 or MAX_PEAKS < 1 (110001),
// YMAXDAT < 1 (110002), a bad region (110005, 110006), a mode other than 0
// or 1, BLUR SIZE or BOX SIZE below 1 (110017), MIN. SPACING not above BLUR
// SIZE (110013), arrays shorter than their dimensions (110001).
void KZT_PEAKSEARCH(float x_pixel_size, float y_pixel_size, const PeakSearchParameters& p,
                    Index xmaxdat, Index ymaxdat, std::span<const float> data,
                    std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<float> work, PeakList& peaks, Status& status);

}  // namespace kesta
