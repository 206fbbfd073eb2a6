#pragma once
// Powder ring images for the calibration tests, built pixel by pixel in
// laboratory space (diffraction_test_support.hpp), independent of the
// conic-section formulas the program fits with.

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "core/types.hpp"

namespace kesta::testing {

struct RingScene {
  Index xmax = 1024;
  Index ymax = 1024;
  double pixel = 100.0e-6;     // metres, both axes
  double x_centre = 500.3;     // beam centre, pixel coordinates
  double y_centre = 521.7;
  double distance = 0.1;       // metres
  double wavelength = 0.5e-10;
  double rotation = 0.0;       // tilt plane rotation, radians
  double tilt = 0.0;           // radians
  std::vector<double> d_spacings;  // metres
  double width = 1.5;          // ring sigma, in pixels at the beam's distance
  double background = 10.0;
  double peak = 1000.0;
  std::vector<double> peaks;   // of each ring of D_SPACINGS where given (else PEAK)
  double polarisation = 0.0;   // P of the incident beam, horizontal along X
  unsigned seed = 12345;       // of the Poisson draws
  // A coarse powder: each ring made of SPOTS crystallites (0: a smooth
  // ring) at azimuths drawn from the seed, each SPOT_WIDTH pixels' sigma
  // along the ring and 0.5 to 1.5 times the ring's peak.
  int spots = 0;
  double spot_width = 2.0;
};

inline double scene_two_theta(const RingScene& s, double d_spacing) {
  return 2.0 * std::asin(s.wavelength / (2.0 * d_spacing));
}

// The crystallites of a coarse powder's ring: their azimuths (radians,
// sorted) and heights (of the ring's peak).
struct RingSpots {
  std::vector<double> azimuths, heights;
  // The ring's strength at AZIMUTH, R pixels from the beam: the spots'
  // profiles along the ring.
  double at(double azimuth, double r, double width) const {
    double sum = 0.0;
    for (std::size_t n = 0; n < azimuths.size(); ++n) {
      const double along = std::remainder(azimuth - azimuths[n], 2.0 * M_PI) * r / width;
      if (std::abs(along) < 6.0) sum += heights[n] * std::exp(-0.5 * along * along);
    }
    return sum;
  }
};

inline std::vector<RingSpots> scene_spots(const RingScene& s) {
  std::vector<RingSpots> rings(s.spots > 0 ? s.d_spacings.size() : 0);
  std::mt19937 random(s.seed ^ 0x5bd1e995u);
  std::uniform_real_distribution<double> azimuth(-M_PI, M_PI), height(0.5, 1.5);
  for (RingSpots& r : rings) {
    for (int n = 0; n < s.spots; ++n) r.azimuths.push_back(azimuth(random));
    for (int n = 0; n < s.spots; ++n) r.heights.push_back(height(random));
  }
  return rings;
}

// The scene's rings as Gaussian profiles in 2-theta over a flat background
// (of spots along them for a coarse powder); with POISSON each pixel is a
// Poisson draw of its value (from the scene's seed).
inline std::vector<float> ring_image(const RingScene& s, bool poisson = false) {
  std::vector<float> image(static_cast<std::size_t>(s.xmax * s.ymax));
  std::vector<double> centres, peaks;
  for (std::size_t k = 0; k < s.d_spacings.size(); ++k) {
    centres.push_back(scene_two_theta(s, s.d_spacings[k]));
    peaks.push_back(k < s.peaks.size() ? s.peaks[k] : s.peak);
  }
  const std::vector<RingSpots> spots = scene_spots(s);
  const double sigma = s.width * s.pixel / s.distance;
  std::mt19937 random(s.seed);
  for (Index j = 1; j <= s.ymax; ++j) {
    const double y = (static_cast<double>(j) - 0.5 - s.y_centre) * s.pixel;
    for (Index i = 1; i <= s.xmax; ++i) {
      const double x = (static_cast<double>(i) - 0.5 - s.x_centre) * s.pixel;
      const double t = lab_two_theta(x, y, s.distance, s.rotation, s.tilt);
      double value = s.background;
      const double rr = x * x + y * y;
      const double c2 = rr > 0.0 ? (x * x - y * y) / rr : 1.0;
      const double ct = std::cos(t) * std::cos(t);
      const double pol = 0.5 * ((1.0 + ct) - (1.0 - ct) * c2 * s.polarisation);
      for (std::size_t k = 0; k < centres.size(); ++k) {
        const double z = (t - centres[k]) / sigma;
        if (!(std::abs(z) < 8.0)) continue;
        const double along = spots.empty() ? 1.0
                                            : spots[k].at(std::atan2(y, x),
                                                          std::sqrt(rr) / s.pixel, s.spot_width);
        value += peaks[k] * pol * along * std::exp(-0.5 * z * z);
      }
      if (poisson) value = std::poisson_distribution<long>(value)(random);
      image[static_cast<std::size_t>((i - 1) + (j - 1) * s.xmax)] = static_cast<float>(value);
    }
  }
  return image;
}

// The error (degrees) of a tilt of TILT in the plane at ROTATION
// (radians) against the scene's, the tilts taken as vectors (so that no
// tilt is no special case).
inline double tilt_error_degrees(const RingScene& s, double rotation, double tilt) {
  return std::hypot(std::cos(rotation) * tilt - std::cos(s.rotation) * s.tilt,
                    std::sin(rotation) * tilt - std::sin(s.rotation) * s.tilt) *
         180.0 / M_PI;
}

// Radial distance (pixels, along the azimuth from the beam centre) of a
// point from ring 2-THETA of the scene, from the laboratory geometry: the
// 2-theta error times the local radial derivative.
inline double ring_offset_pixels(const RingScene& s, double x_metres, double y_metres,
                                 double two_theta) {
  const double x = x_metres - s.x_centre * s.pixel;
  const double y = y_metres - s.y_centre * s.pixel;
  const double r = std::hypot(x, y);
  const double step = 0.01 * s.pixel;
  const double t0 = lab_two_theta(x, y, s.distance, s.rotation, s.tilt);
  const double t1 = lab_two_theta(x * (r + step) / r, y * (r + step) / r, s.distance, s.rotation,
                                  s.tilt);
  return (t0 - two_theta) / ((t1 - t0) / step) / s.pixel;
}

// The point (metres from the outer corner of the first pixel) of ring
// 2-THETA of the scene along AZIMUTH from the beam centre.
inline std::array<float, 2> ring_point(const RingScene& s, double two_theta, double azimuth) {
  const double c = std::cos(azimuth);
  const double n = std::sin(azimuth);
  double lo = 0.0;
  double hi = 0.5;
  for (int it = 0; it < 100; ++it) {
    const double mid = 0.5 * (lo + hi);
    (lab_two_theta(mid * c, mid * n, s.distance, s.rotation, s.tilt) < two_theta ? lo : hi) = mid;
  }
  return {static_cast<float>(s.x_centre * s.pixel + lo * c),
          static_cast<float>(s.y_centre * s.pixel + lo * n)};
}

}  // namespace kesta::testing
