#pragma once
// Independent laboratory-space geometry for the diffraction tests, and the
// image files and keys their program runs use.

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"

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

// An N x N image of the program's own format (pixel-centre axes, 100 micron
// pixels) at PATH; false when it could not be written.
inline bool write_square_image(const std::string& path, Index n, const std::vector<float>& data) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  TerminalCapture quiet;
  ScriptedInput answer({path});
  int retstat = -1;
  Status status = kStatusGood;
  FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, axis, axis, data, {}, "Ring", "X", "Y", "Counts",
                false, 1.0e-4f, 1.0e-4f, retstat, status);
  return retstat == 0 && status == kStatusGood;
}

// The real key NAME of the defaults database, -999 when absent.
inline float stored_key(const char* name) {
  float v = -999.0f;
  int retstat = 0;
  Status status = kStatusGood;
  IO_INQ_RKEYVALUE(name, v, retstat, status);
  return v;
}

}  // namespace kesta::testing
