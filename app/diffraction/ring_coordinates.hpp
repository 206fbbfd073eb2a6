#pragma once
// Coordinates on powder rings: around a predicted radius an annulus of the
// image is cut into azimuthal sections; each usable section gives one point
// (the centre of gravity of its background-corrected radial profile, at the
// section's central azimuth) with an intensity. The points of up to 15 rings
// wait in vosq_kzt_comrings for the calibration fits, which also share the
// tilted-cone residual and the rejection of out-lying points kept here.
//
// Positions are metres in the detector plane from the outer corner of the
// first pixel (the centre of pixel (i, j) is ((i - 0.5) x_pixel_size,
// (j - 0.5) y_pixel_size)); azimuths are radians anticlockwise from +X,
// 0 .. 2 pi.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kMaxRings = 15;
inline constexpr Index kMaxRingCoordinates = 360;

// The ring store. The (360, 15) arrays are column-major: coordinate n of
// ring k (both 1-based) is element (k - 1) * 360 + n - 1. An intensity of
// -1 marks a rejected coordinate until KZT_RINGOUTLIERS closes the gap.
struct KztComRings {
  std::array<int, kMaxRings> num_coordinates{};
  std::array<float, kMaxRingCoordinates * kMaxRings> x_coordinates{};
  std::array<float, kMaxRingCoordinates * kMaxRings> y_coordinates{};
  std::array<float, kMaxRingCoordinates * kMaxRings> intensities{};
  std::array<float, kMaxRings> d_spacings{};  // metres, set by the calibrant fit
  std::array<float, kMaxRingCoordinates * kMaxRings> azimuths{};
  std::array<float, kMaxRings> radii{};  // metres, the radius each ring was searched at
  // Of each ring's sections, those whose profile lay whole on the image and
  // unmasked, so that the ring could have been found there: their number,
  // and a flag each (1 searched; section s of ring k, both 1-based, at
  // element (k - 1) * 360 + s - 1, as the coordinates).
  std::array<int, kMaxRings> num_searched{};
  std::array<std::uint8_t, kMaxRingCoordinates * kMaxRings> sections_searched{};
};
inline KztComRings vosq_kzt_comrings;

// Set by each fit driver before it calls the least-squares engine. The fits
// of this program are unweighted, so the normaliser has no effect.
struct KztControlPowder {
  int num_rings = 0;
  bool weighted = false;
  float normaliser = 1.0f;
};
inline KztControlPowder vosq_kzt_controlpowder;

// How well a geometry fit met the points of the ring store: the sum of the
// squared radial residuals (metres squared) over its points, and the rings
// of five points or more among them.
struct RingFitResidual {
  double sum_squares = 0.0;
  Index points = 0;
  int rings = 0;
  // The rms radial residual in units of LENGTH (metres); 0 without points.
  double rms(double length) const {
    return points > 0 && length > 0.0
               ? std::sqrt(std::max(sum_squares, 0.0) / static_cast<double>(points)) / length
               : 0.0;
  }
};

// A refinement whose last fit leaves an rms radial residual above one pixel
// (of X_PIXEL_SIZE) found a geometry that does not fit the rings, however
// smoothly the fit itself ended (the search annuli may have gathered points
// of the wrong ring): a warning says so, with the residual. The parameters
// reached stand. True when the warning was written; the line itself, or
// nothing for a good fit, from kzt_poor_ring_fit_warning.
bool kzt_warn_poor_ring_fit(const RingFitResidual& fit, float x_pixel_size, Status& status);
std::string kzt_poor_ring_fit_warning(const RingFitResidual& fit, float x_pixel_size);

// The residual (metres) of a point against a cone of half-opening 2-theta
// about the beam, seen on a detector at DISTANCE whose tilt plane lies at
// TILT_ROTATION and which is tilted by TILT_ANGLE: the point's radius on the
// cone's conic section minus DISTANCE tan(2-theta). A point whose conic
// radius would need the root of a negative number (far outside any
// reachable ring) counts as radius 0, so a fit never sees a NaN.
class TiltedCone {
 public:
  TiltedCone(double x_beam, double y_beam, double distance, double tilt_rotation,
             double tilt_angle, double tan_two_theta)
      : xc_(x_beam), yc_(y_beam), c_(std::cos(tilt_rotation)), s_(std::sin(tilt_rotation)) {
    const double st = std::sin(tilt_angle);
    const double ct = std::cos(tilt_angle);
    const double t2 = tan_two_theta * tan_two_theta;
    a_ = st * st * t2 - ct * ct;
    b_ = 2.0 * distance * st * t2;
    target_ = distance * tan_two_theta;
  }
  double residual(double x, double y) const {
    const double dx = x - xc_;
    const double dy = y - yc_;
    // The point in axes turned by -TILT_ROTATION.
    const double u = c_ * dx + s_ * dy;
    const double v = c_ * dy - s_ * dx;
    const double q = v * v - a_ * u * u - b_ * u;
    return std::sqrt(q > 0.0 ? q : 0.0) - target_;
  }

 private:
  double xc_, yc_, c_, s_, a_ = 0.0, b_ = 0.0, target_ = 0.0;
};

// Finds the coordinates of rings 1 .. NUM_RINGS, ring k searched around
// RADII(k) with the one HALF_WIDTH (metres). The outputs are dimensioned
// (MAX_COORDINATES, MAX_RINGS); ring k fills column k. MASK (non-zero =
// masked) may be empty: nothing is masked. INTEGRATED selects integrated
// instead of peak intensities; INFO writes the progress lines.
//
// Failures (+ 110000): 1 XMAXDAT < 1, MAX_COORDINATES < 5 or an array too
// short; 2 YMAXDAT < 1; 3 MAX_RINGS < 1 or NUM_RINGS outside 0 .. MAX_RINGS;
// 5, 6 the region; 17 NUM_SECTIONS outside 4 .. MAX_COORDINATES (with a
// message); 21, 22 a pixel size not above 0; 23 a search annulus narrower
// than three radial bins (with a message).
void KZT_FINDRINGS(bool info, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, std::span<const float> data,
                   std::span<const std::uint8_t> mask, float x_pixel_size, float y_pixel_size,
                   float x_beam, float y_beam, int max_rings, int num_rings,
                   std::span<const float> radii, float half_width, int num_sections,
                   bool integrated, Index max_coordinates, std::span<int> num_coordinates,
                   std::span<float> x_coordinates, std::span<float> y_coordinates,
                   std::span<float> intensities, std::span<float> azimuths, Status& status);

// The detector tilt a ring search may follow (metres, radians).
struct RingTilt {
  double distance = 0.1;
  double tilt_rotation = 0.0;
  double tilt_angle = 0.0;
};

// KZT_FINDRINGS for the rings of the ring store, searched at its RADII.
// With TILT each ring's annulus follows the conic section of the cone
// through RADII(k) at the distance (radius / distance = tan 2-theta) on
// the tilted detector instead of the circle, so that rings far out on a
// tilted detector stay inside their annulus; without tilt (or with a cone
// that misses the detector somewhere) it is the circle. STORE is the ring
// store unless another is given (a search that must leave the points of a
// fit alone). CHECKING is the search of a check on a result: it takes a
// ring only where the image shows it plainly. A section whose annulus
// holds a value that is no finite number, or a pixel of a module gap (a
// run of pixels of exactly 0 along a row or a column: three, or more where
// the section's counts are so low that zeros come by chance), is left out
// as a masked one; a position is taken only where the section's profile
// has one clear maximum (five standard errors of its bins above the
// background, no second one rising again to half of it), at that maximum:
// the centre of gravity over a window symmetric about it, so that another
// ring in the annulus or an edge cutting a broad ring does not pull it.
// The rings of the ring store's first NUM_RINGS that hold five points or
// more.
int kzt_store_rings_held(int num_rings);

void kzt_find_store_rings(bool info, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                          Index xendelm, Index yendelm, std::span<const float> data,
                          std::span<const std::uint8_t> mask, float x_pixel_size,
                          float y_pixel_size, float x_beam, float y_beam, int num_rings,
                          float half_width, int num_sections, bool integrated,
                          const RingTilt* tilt, Status& status,
                          KztComRings& store = vosq_kzt_comrings, bool checking = false);

// One ring. PROFILES and WEIGHTS are work arrays of MAX_BINS x NUM_SECTIONS;
// the outputs are the ring's column (MAX_COORDINATES long). The same checks
// and codes as KZT_FINDRINGS, without the messages.
void KZT_RINGCOORDS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<const float> data,
                    std::span<const std::uint8_t> mask, float x_pixel_size, float y_pixel_size,
                    float x_beam, float y_beam, float radius, float half_width, int num_sections,
                    bool integrated, Index max_coordinates, Index max_bins, Index num_bins,
                    std::span<double> profiles, std::span<double> weights,
                    int& num_coordinates, std::span<float> x_coordinates,
                    std::span<float> y_coordinates, std::span<float> intensities,
                    std::span<float> azimuths, Status& status);

// Radial bins of a search annulus of HALF_WIDTH: one per mean pixel size.
Index kzt_ring_bins(float half_width, float x_pixel_size, float y_pixel_size);

// Rejects, in the ring store, the coordinates lying outside the fitted cone
// of their ring by more than REJECT_LIMIT x SIGMA (metres), closes the gaps
// and reports the count. Nothing is rejected unless SIGMA is above 0 (a fit
// with too few points or a perfect fit gives no usable spread).
// TWO_THETA(k) is the cone angle of ring k. Failure: 110001 MAX_RINGS < 1.
void KZT_RINGOUTLIERS(bool info, int max_rings, int num_rings, float distance, float x_beam,
                      float y_beam, std::span<const float> two_theta, float tilt_rotation,
                      float tilt_angle, float sigma, float reject_limit, Status& status);

// Marks every coordinate of rings 1 .. NUM_RINGS on the displayed image and
// updates the display. Failures (+ 110000): 1 MAX_COORDINATES < 1 (or an
// array too short), 2 MAX_RINGS < 1, 6 NUM_RINGS outside 1 .. MAX_RINGS.
void KZT_TILTDISPLAY(float x_pixel_size, float y_pixel_size, Index max_coordinates,
                     int max_rings, int num_rings, std::span<const int> num_coordinates,
                     std::span<const float> x_coordinates, std::span<const float> y_coordinates,
                     Status& status);

// KZT_TILTDISPLAY of the ring store.
void kzt_display_store_rings(float x_pixel_size, float y_pixel_size, int num_rings,
                             Status& status);

}  // namespace kesta
