#pragma once
// Cake re-binning: the active region of an image shared between bins of a
// radial coordinate (radial distance, 2-theta, q or d-spacing) and azimuth,
// each unmasked pixel's intensity split by the overlap of its footprint.
//
// The pixel-to-bin shares depend on everything but the data, so they are
// worked out once into a compact table (input pixel -> a few bins with
// fractions, the polarisation factor folded in) and kept until an argument
// changes; each frame is then one pass over the pixels. The pass may run on
// several threads over fixed blocks of the region summed in double and
// combined in a fixed order, so the result does not depend on the number of
// threads.

#include <cstdint>
#include <span>

#include "core/types.hpp"

namespace kesta {

// Scan types: the radial coordinate of the bins.
enum ScanType : int { kScanRadial = 0, kScanTwoTheta = 1, kScanQ = 2, kScanD = 3 };

// MASK may be empty (nothing masked); otherwise it has the shape of DATA and
// 1 excludes a pixel. NaN and infinite pixels are excluded as masked ones are. Angles in radians, lengths in metres, the beam centre
// in pixel coordinates, MAXIMUM_D in Angstroms. OUTPUT (MXOUT x MYOUT) and
// WEIGHTS (MXWORK x MYWORK) receive bins 1..NUM_2THETA x 1..NUM_AZIMUTHAL.
// RADIAL_STEP is in scan units (metres, radians, inverse nm, Angstroms; negative
// for d-spacing, whose axis then decreases from RADIAL_START).
// X_SHIFT and Y_SHIFT, when given (shape of DATA), displace each pixel centre
// by that many pixels before it is binned: the distortion-corrected position.
// Refused (nothing written, code + 110000): bad dimensions or region (1, 2, 5,
// 6); a bin count below 1 or above the output or work size (5 radial, 6
// azimuthal); a span shorter than its dimensions, or one shift without the
// other (1);
// an unknown scan type (17); OUTER_LIMIT not above INNER_LIMIT, a distance or
// pixel size that is not positive, a wavelength that is not positive for q
// and d scans, no memory for the table (3). A MAXIMUM_D not above the
// d-spacing at the outer limit is no failure: every bin becomes 0.0, with a
// warning naming both values.
void KZT_CAL2_CAKE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, std::span<const std::uint8_t> mask,
                   bool conserve_intensity, int scan_type, float maximum_d, float x_pixel_size,
                   float y_pixel_size, float sample_distance, float wavelength,
                   float x_beam_centre, float y_beam_centre, float start_azimuth,
                   float end_azimuth, float inner_limit, float outer_limit,
                   float tilt_plane_rotation, float tilt_angle, Index num_2theta,
                   Index num_azimuthal, bool correct_polarisation, float polarisation,
                   int lorentz_geometry, Index mxout, Index myout, Index mxwork, Index mywork,
                   float& azimuth_step, float& radial_step, float& radial_start,
                   std::span<float> weights, std::span<float> output, Status& status,
                   std::span<const float> x_shift = {}, std::span<const float> y_shift = {});

// Worker threads of the per-frame pass and the table set-up (0: one per
// core). Any count gives the same result.
void kzt_set_cake_threads(int threads);

// Number of pixel-to-bin tables built so far in this run, and the release of
// the kept table (its memory); for tests and for callers that finish a series.
std::int64_t kzt_cake_table_builds();
void kzt_release_cake_table();

}  // namespace kesta
