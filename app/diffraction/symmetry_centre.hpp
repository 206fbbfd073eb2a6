#pragma once
// The beam centre along one direction as the centre of symmetry of a strip's
// projection (grazing-incidence small-angle data): the strip is projected
// onto its line, the user masks unwanted points, the mirror centre of the
// profile is fitted by least squares and proposed as the beam centre.

#include <cstdint>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/slices.hpp"

namespace kesta {

// The centre of symmetry C (profile points: point i spans i - 1 .. i) of
// PROFILE over FIRST..LAST, masked points (MASK non-zero) left out. The fit
// starts from the centre, of those on the points and half-way between them
// that mirror a fifth of the unmasked points (at least 16; half of them on a
// short profile, never fewer than 4) on a profile that is not flat, whose
// mirrored pairs give the strongest evidence of symmetry (alike pairs far
// from the background for it, pairs that differ beyond the noise against
// it, both judged against a background that may rise or fall along the
// line): a feature symmetric in itself beside the centre (a side rod, a
// ring) mirrors well too, but only itself. A fit that ends badly (its end
// code above 0, or clearly above that start) warns and still returns its
// centre; one that ends where its centre mirrors fewer points than a start
// must is no failure (the caller judges how much it mirrors). False,
// CENTRE unchanged and nothing said, when no centre mirrors enough (every
// point masked, or too few left). MAX_POINTS below 1 gives
// 110001, a range outside 1..MAX_POINTS or arrays shorter than it 110005.
// NOISE: the variance of a point's noise, where it is known.
bool KZT_LSQ1DSYMMETRY(Index max_points, Index first, Index last, std::span<const float> profile,
                       std::span<const std::uint8_t> mask, float& centre, Status& status,
                       double noise = 0.0);

// How well PROFILE (FIRST..LAST, masked points left out) mirrors about
// CENTRE: the squared misfit of the points it mirrors over their variation
// about their mean, as the fit scores its candidates. 0 for a perfect
// mirror; about 2 for noise about a level, more where the two sides differ.
// Where most of that misfit is a background's slope along the line, the
// same for the features above a linear background, if that is lower: about
// 2 again for noise on a slope. -1 when CENTRE mirrors fewer than 4 points.
double kzt_symmetry_misfit(std::span<const float> profile, std::span<const std::uint8_t> mask,
                           Index first, Index last, double centre);

// The misfit above which the centre found is taken as no centre of symmetry
// (chosen on the right and wrong set-ups of symmetry_warning_sweep,
// bench/bench_symmetry.cpp: right centres stay below 0.04).
inline constexpr double kPoorSymmetry = 0.1;

// The contrast (kzt_strip_contrast) below which a profile is taken for noise
// alone, whatever centre mirrors it (chosen on noise_contrast_sweep,
// bench/bench_symmetry.cpp: noise alone reaches it about once in a thousand
// profiles of 8 points or more, the right profiles of the warning sweep
// start at 40).
inline constexpr double kNoiseContrast = 3.0;

// The profile FIT 1-D PROJECTION fits: the strip XV, YV (pixel coordinates,
// the fifth corner the first) of IMAGE projected onto its line in points of
// the mean pixel size, without the pixels that are not numbers (nor the
// masked ones when IMAGE shows its mask), and smoothed by a top-hat of 5
// points. A point no pixel reached is NaN, and so is every point whose box
// holds one; PARTIAL marks the points the smoothing did not average whole
// (those and the two at either end). False when no pixel reached the
// profile (PIXELS tells whether the strip held any pixel centre).
// RAW holds the projection before smoothing, WEIGHTS the pixels (the
// shares of them) of each of its points, PIXEL_NOISE the noise of one pixel
// about the line (0 when it could not be told).
struct StripProfile {
  Index number = 0;
  std::vector<float> positions, raw, smooth, weights;
  double pixel_noise = 0.0;
  std::vector<std::uint8_t> partial;
  StripPixels pixels;
};
bool kzt_strip_profile(const GsDisplayedImage& image, float x_pixel_size, float y_pixel_size,
                       std::span<const float> xv, std::span<const float> yv, StripProfile& strip,
                       Status& status);

// How far the points FIRST..LAST of STRIP's projection (RAW, those masked in
// MASK left out) vary beyond their noise: the sum of their squared
// deviations from their mean, each over its own noise (the pixel noise over
// the point's pixels), over the number of points less one. Below 1 for a
// profile of noise alone (its points share pixels); infinite for a varying
// profile without noise, 0 for fewer than 2 points. A strip whose pixels'
// noise could not be told takes a point's from the projection's second
// differences.
double kzt_strip_contrast(const StripProfile& strip, Index first, Index last,
                          std::span<const std::uint8_t> mask);

// The centre of symmetry of a strip's profile and what judges it: its
// MISFIT (kzt_symmetry_misfit) and the profile's CONTRAST
// (kzt_strip_contrast).
struct StripCentre {
  float centre = 0.0f;
  double misfit = 0.0;
  double contrast = 0.0;
  // Another centre, RIVAL_CENTRE, mirrors most of the line as well, or a
  // shorter stretch clearly better.
  bool rival = false;
  float rival_centre = 0.0f;
};

// The centre of symmetry of STRIP over FIRST..LAST (KZT_LSQ1DSYMMETRY), the
// points masked in MASK, those the smoothing did not average whole and
// those whose box holds a spike (a point of the projection standing out
// from those about it far beyond what the profile varies: a hot pixel, for
// the contrast too) left out, into FOUND; moved to where the profile
// mirrors best (above a linear background) within a pixel and a half, and
// checked against the centres
// that mirror most of the line best: one that mirrors clearly better is
// taken instead, one that mirrors as well is a rival (a centre on a feature
// symmetric in itself, a weak specular rod near one end, even over a
// shorter stretch), and so is one that
// mirrors a shorter stretch clearly better than the centre mirrors a
// stretch as long, or one that mirrors a stretch mostly beyond the centre's
// clearly better where the centre's own pairs differ beyond the noise, or
// one whose pairs of features differ less where the centre's pair unlike
// features (two rods of unlike heights), or one on a feature that mirrors
// its own shorter stretch about as well per pair where the centre mirrors
// no other feature, or pairs them unlike (the specular rod near one end of
// the line, a side rod nearer the middle mirroring more pairs), or there a
// feature too near an end of the line to mirror enough points about itself
// (the specular rod cut by the line's end; beyond another feature, where it
// stands far higher than the centre's own), or one on a feature about as
// high as the centre's that mirrors other features alike, and about as much
// of them (rods of equal heights: symmetry alone tells none from another).
// False, nothing changed, when no centre mirrors enough.
bool kzt_strip_symmetry(const StripProfile& strip, Index first, Index last,
                        std::span<const std::uint8_t> mask, StripCentre& found, Status& status);

// Why a centre found is no centre of symmetry, if it is none: the profile
// varies no more than its noise, so that any centre may mirror it by chance
// (checked first); the centre mirrors fewer than 4 points; another centre
// mirrors the profile as well (equal rods, or a strong side rod and a weak
// specular rod each symmetric in itself); or it mirrors the profile worse
// than kPoorSymmetry.
enum class SymmetryDoubt { kNone, kNoise, kFewPoints, kRival, kPoorSymmetry };
SymmetryDoubt kzt_symmetry_doubt(const StripCentre& found);

// The model function of that fit (MA_MODELFIT's callback): for each point
// of the region the difference between its value and the profile
// interpolated at its mirror position 2 C - (i - 0.5), between the two
// points whose centres bracket it; a point that is masked or whose mirror
// falls outside the range or on a masked point gets the mean absolute
// residual of the others.
void KZT_FUN1DSYMMETRY(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                       std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm,
                       Index xendelm, Index yendelm, void* pass_1, void* pass_2, void* pass_3,
                       void* pass_4, int num_parameters, std::span<const float> params,
                       Index xmaxmod, Index ymaxmod, bool model_in_data_frame, int& terminate,
                       std::span<float> model, Status& status);

// The mirrored positions 2 CENTRE - (i - 0.5) of points FIRST..LAST into
// MIRRORED(FIRST..LAST).
void KZT_SUBPROJECTFIT(Index max_points, Index first, Index last, float centre,
                       std::span<float> mirrored, Status& status);

// The point C profile points (bins of BIN_SIZE metres) along the line from
// (X1, Y1) to (X2, Y2) (pixel coordinates), in pixel coordinates.
void kzt_symmetry_point(float x1, float y1, float x2, float y2, float x_pixel_size,
                        float y_pixel_size, float bin_size, float centre, float& x, float& y);

// FIT 1-D PROJECTION of the beam-centre menu on the displayed IMAGE: the
// strip, its smoothed profile, the mask, the fit (the points the smoothing
// did not average whole left out), the mirrored profile for checking, and
// the proposed centre offered for change. Where the centre found is doubtful
// (kzt_symmetry_doubt), that is said and the stored centre X_BEAM, Y_BEAM is
// offered instead. X_BEAM, Y_BEAM in metres,
// changed only when the user confirmed a centre (true); false after CANCEL
// (STATUS good) or a failure.
bool KZT_PROJECTFIT(const GsDisplayedImage& image, float x_pixel_size, float y_pixel_size,
                    float& x_beam, float& y_beam, Status& status);

}  // namespace kesta
