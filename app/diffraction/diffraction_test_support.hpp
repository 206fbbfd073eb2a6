#pragma once
// Independent laboratory-space geometry for the diffraction tests.

#include <array>
#include <cmath>

namespace kesta::testing {

// 2-theta of a detector offset (x, y) built in laboratory space: the beam
// along +z meets the untilted detector at z = D; the detector turns by TILT
// about the in-plane axis perpendicular to the tilt plane at ROTATION.
inline double lab_two_theta(double x, double y, double d, double rotation, double tilt) {
  const std::array<double, 3> u{std::cos(rotation), std::sin(rotation), 0.0};
  const std::array<double, 3> axis{-std::sin(rotation), std::cos(rotation), 0.0};
  const double s = x * u[0] + y * u[1];
  const double t = x * axis[0] + y * axis[1];
  std::array<double, 3> p{};
  for (int k = 0; k < 3; ++k) p[k] = s * std::cos(tilt) * u[k] + t * axis[k];
  p[2] += d + s * std::sin(tilt);
  const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  return std::acos(p[2] / length);
}

}  // namespace kesta::testing
