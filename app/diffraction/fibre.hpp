#pragma once
// Fibre diffraction pattern prediction: where the reflections of a unit cell
// randomly rotated about one axis (the fibre axis) fall on a flat detector.

#include <span>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The reciprocal cell: axis lengths (inverse Angstroms) and the direction of
// each axis in the fibre frame (Z the fibre axis, X the beam): THETA from Z,
// PHI from X about Z (radians).
struct FibreCell {
  float a_star = 0.0f, theta_a = 0.0f, phi_a = 0.0f;
  float b_star = 0.0f, theta_b = 0.0f, phi_b = 0.0f;
  float c_star = 0.0f, theta_c = 0.0f, phi_c = 0.0f;
};

// The detector: beam centre (pixels), distance and pixel sizes (metres),
// wavelength (Angstroms), detector rotation (radians).
struct FibreDetector {
  float x_beam_centre = 0.0f, y_beam_centre = 0.0f;
  float sample_distance = 0.0f;
  float x_pixel_size = 1.0e-4f, y_pixel_size = 1.0e-4f;
  float wavelength = 1.0f;
  float detector_rotation = 0.0f;
};

// Distance R from the fibre axis and height Z along it of h a* + k b* + l c*.
void KZT_PEAKRZ(const FibreCell& cell, int h, int k, int l, float& r, float& z, Status& status);

// The detector position (pixel coordinates) of reflection hkl, the first or
// (SECOND) the mirrored solution; FOUND false when it meets the Ewald sphere
// nowhere or scatters at 90 degrees.
void KZT_PEAKXY(const FibreDetector& detector, const FibreCell& cell, int h, int k, int l,
                bool second, bool& found, float& x, float& y, Status& status);

// Index ranges of a prediction.
struct FibreRanges {
  int hmin = -1, hmax = 1, kmin = -1, kmax = 1, lmin = -30, lmax = 30;
};

// Spots needed for RANGES (two per reflection), -1 when the count does not
// fit 64 bits.
Index kzt_fibre_spot_count(const FibreRanges& ranges);

// The spots inside the window X1..X2 x Y1..Y2 (pixel coordinates): all of
// them in X(1..NSPOTS), Y(...) (the first MAXSPOTS places), those with
// l = 0 also in X(MAXSPOTS + 1 .. MAXSPOTS + NEQUATOR). X, Y hold 2 MAXSPOTS.
void KZT_DIFFRACTION(const FibreDetector& detector, const FibreCell& cell,
                     const FibreRanges& ranges, float x1, float y1, float x2, float y2,
                     Index maxspots, Index& nspots, Index& nequator, std::span<float> x,
                     std::span<float> y, Status& status);

// DIFFRACTION PATTERN: the geometry, the cell and the index ranges asked,
// the spots drawn alone or over the current image, and a PostScript copy.
void KZT_DIFPATTERN(KztDataSets& sets, Status& status);

}  // namespace kesta
