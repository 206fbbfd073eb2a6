#pragma once
// The experiment geometry: a flat detector roughly orthogonal to the beam,
// described by the beam centre (pixel coordinates), the sample distance, the
// wavelength, the tilt of the detector and its rotation. It lives only as
// real keys of the defaults database, in SI units (metres, radians); this is
// the one place that names those keys. Integrators read angles from
// DiffractionGeometry and never compute them themselves.

#include <algorithm>
#include <cmath>
#include <span>

#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// Single-precision constants the prompts and forms convert with.
inline constexpr float kPi = 3.1415926f;
inline constexpr float kDegreesPerRadian = 180.0f / kPi;
inline constexpr float kRadiansPerDegree = kPi / 180.0f;
// keV x Angstrom.
inline constexpr float kKevAngstrom = 12.39852f;

// Defaults where a key is absent.
inline constexpr float kDefaultSampleDistance = 0.2f;
inline constexpr float kDefaultWavelength = 1.488e-10f;

// EXPERIMENT_DEFINED is always set true; a missing key leaves its argument as
// the caller set it.
void KZT_INQ_GEOMETRY(bool& experiment_defined, float& x_beam_centre, float& y_beam_centre,
                      float& sample_distance, float& wavelength, float& tilt_rotation,
                      float& tilt_angle, float& detector_rotation, Status& status);

// Stores the seven values (the flag is ignored).
void KZT_SET_GEOMETRY(bool experiment_defined, float x_beam_centre, float y_beam_centre,
                      float sample_distance, float wavelength, float tilt_rotation,
                      float tilt_angle, float detector_rotation, Status& status);

// Stores the beam centre (pixel coordinates) under its keys.
void kzt_store_beam_centre(float x_beam_centre, float y_beam_centre, Status& status);

// Stores the pixel sizes (metres) under their keys.
void kzt_store_pixel_sizes(float x_pixel_size, float y_pixel_size, Status& status);

// The pixel sizes a question or form asking for the detector's proposes for
// a data set of YNUMDAT rows whose sizes are X_PIXEL_SIZE and Y_PIXEL_SIZE:
// an image's own (a read made them the detector's); for a scan (one row),
// whose sizes are its bin widths, and for an image whose sizes no detector has
// (a damaged header's), the stored detector sizes.
struct DetectorPixelSizes {
  float x = 0.0f, y = 0.0f;
  bool scan = false;
};
DetectorPixelSizes kzt_detector_pixel_sizes(Index ynumdat, float x_pixel_size,
                                            float y_pixel_size);
// The answers in SIZES back into the data set's sizes: an image takes them, a
// scan keeps its own bin widths.
void kzt_keep_pixel_sizes(const DetectorPixelSizes& sizes, float& x_pixel_size,
                          float& y_pixel_size);

// The terminal prompts of the geometry, each converting between the stored
// units and the units typed. GUI selects the graphical prompts, which come
// with the widgets; until then the terminal is asked.
void KZT_INP_BEAMCENTRE(bool gui, float& x_beam_centre, float& y_beam_centre, Status& status);
void KZT_INP_DETECTORTILT(bool gui, float& tilt_rotation, float& tilt_angle, Status& status);
void KZT_INP_PIXELSIZES(bool gui, float& x_pixel_size, float& y_pixel_size, Status& status);
void KZT_INP_SAMPLEDISTANCE(bool gui, float& sample_distance, Status& status);
void KZT_INP_WAVELENGTH(bool gui, float& wavelength, Status& status);

// GEOMETRY (EXPERIMENT): the beam-centre menu on IMAGE (the current data,
// its dimensions, active region, axes and texts), then every other value,
// defaults from the keys or the centre of the active region, and stores the
// keys. GUI asks them in the window (the menu, then the geometry form, which
// leaves the detector rotation as it was), else at the terminal. The pixel
// sizes are the caller's and are updated.
void KZT_GEOMETRY(bool gui, const GsDisplayedImage& image, float& x_pixel_size,
                  float& y_pixel_size, Status& status);

// Conversions of pixel positions into diffraction coordinates, with the tilt
// rotation worked out once. Offsets are of pixel centres (pixel i spans
// coordinates i - 1 .. i) from the beam centre, in metres; the radius is that
// on the equivalent untilted detector at the sample distance, so that
// 2-theta = atan(radius / distance). A point whose tilted position lies at or
// behind the sample plane has no 2-theta: its radius is reported as -1.
// The azimuth is measured anti-clockwise from +X in the detector plane; a
// point within 1e-8 m of the beam centre has azimuth 0.
class DiffractionGeometry {
 public:
  DiffractionGeometry(float x_pixel_size, float y_pixel_size, float sample_distance,
                      float wavelength, float x_beam_centre, float y_beam_centre,
                      float tilt_rotation, float tilt_angle);

  double x_offset(Index i) const { return (static_cast<double>(i) - 0.5 - xc_) * xps_; }
  double y_offset(Index j) const { return (static_cast<double>(j) - 0.5 - yc_) * yps_; }

  double radius(double x, double y) const {
    const double xr = cr_ * x - sr_ * y;
    const double yr = cr_ * y + sr_ * x;
    const double depth = xr * st_ + d_;
    if (depth <= 0.0) return -1.0;
    return d_ * std::sqrt(yr * yr + xr * xr * c2_) / depth;
  }
  // In double, or in float where a set-up pass needs the speed.
  template <class T>
  T two_theta_of_radius(T r) const {
    return std::atan2(r, static_cast<T>(d_));
  }
  // Scattering vector in inverse nanometres and d-spacing in Angstroms.
  template <class T>
  T q_of_two_theta(T two_theta) const {
    return static_cast<T>(4.0 * M_PI / (wavelength_ * 1.0e9)) * std::sin(T(0.5) * two_theta);
  }
  template <class T>
  T d_of_two_theta(T two_theta) const {
    return static_cast<T>(wavelength_ * 1.0e10 * 0.5) / std::sin(T(0.5) * two_theta);
  }
  double two_theta_of_q(double q) const {
    return 2.0 * std::asin(std::clamp(q * wavelength_ * 1.0e9 / (4.0 * M_PI), -1.0, 1.0));
  }
  // cos(2 phi) of the azimuth phi of (x, y); 1 at the beam centre.
  static double cos_twice_azimuth(double x, double y) {
    const double rr = x * x + y * y;
    return rr > 0.0 ? (x * x - y * y) / rr : 1.0;
  }
  template <class T>
  static T azimuth(T x, T y) {
    if (std::abs(x) < T(1.0e-8) && std::abs(y) < T(1.0e-8)) return T(0);
    return std::atan2(y, x);
  }

  // Row J, columns XS..XE (1-based), into OUT(0 .. XE - XS).
  void radius_row(Index j, Index xs, Index xe, std::span<double> out) const;
  void two_theta_row(Index j, Index xs, Index xe, std::span<double> out) const;
  void azimuth_row(Index j, Index xs, Index xe, std::span<double> out) const;
  void q_row(Index j, Index xs, Index xe, std::span<double> out) const;
  void d_row(Index j, Index xs, Index xe, std::span<double> out) const;

  double distance() const { return d_; }
  double wavelength() const { return wavelength_; }

 private:
  double xps_, yps_, d_, wavelength_, xc_, yc_;
  double cr_, sr_, c2_, st_;
};

}  // namespace kesta
