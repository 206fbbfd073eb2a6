#pragma once
// Independent laboratory-space geometry for the diffraction tests, and the
// image files and keys their program runs use.

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "formats/tiff_format.hpp"

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

// An NX x NY data set of the program's own format (pixel-centre axes, the
// pixel sizes given) at PATH; false when it could not be written.
inline bool write_native_image(const std::string& path, Index nx, Index ny,
                               const std::vector<float>& data, float x_pixel_size,
                               float y_pixel_size) {
  std::vector<float> xaxis(static_cast<std::size_t>(nx)), yaxis(static_cast<std::size_t>(ny));
  for (Index i = 0; i < nx; ++i) xaxis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < ny; ++j) yaxis[static_cast<std::size_t>(j)] = static_cast<float>(j) + 0.5f;
  TerminalCapture quiet;
  ScriptedInput answer({path});
  int retstat = -1;
  Status status = kStatusGood;
  FIO_OUT_KESTA(false, "", nx, ny, 1, 1, nx, ny, xaxis, yaxis, data, {}, "Ring", "X", "Y",
                "Counts", false, x_pixel_size, y_pixel_size, retstat, status);
  return retstat == 0 && status == kStatusGood;
}

// The same data set without the "x_pixel_size" and "y_pixel_size" items, as
// files from before the program wrote them: the two one-record items are
// left out of a written file.
inline bool write_sizeless_native_image(const std::string& path, Index nx, Index ny,
                                        const std::vector<float>& data) {
  if (!write_native_image(path, nx, ny, data, 1.0e-4f, 1.0e-4f)) return false;
  const std::string bytes = file_contents(path);
  std::string kept;
  for (std::size_t at = 0; at < bytes.size(); at += 512) {
    const std::string record = bytes.substr(at, 512);
    if (!record.starts_with("\\x_pixel_size:") && !record.starts_with("\\y_pixel_size:"))
      kept += record;
  }
  if (kept.size() + 1024 != bytes.size()) return false;
  write_text_file(path, kept);
  return true;
}

// An N x N image of the program's own format with 100 micron pixels.
inline bool write_square_image(const std::string& path, Index n, const std::vector<float>& data) {
  return write_native_image(path, n, n, data, 1.0e-4f, 1.0e-4f);
}

// An N x N TIFF image of 16-bit pixels of 1, which gives no pixel size.
inline bool write_tiff_image(const std::string& path, Index n) {
  const std::vector<float> ones(static_cast<std::size_t>(n * n), 1.0f);
  TerminalCapture quiet;
  ScriptedInput answers({path, "2 BYTE UNSIGNED INTEGERS", "0", "65535"});
  std::string name = path;
  int bits = 16;
  Status status = kStatusGood;
  FIO_OUT_TIFF(false, "", n, n, 1, 1, n, n, ones, "t", 0.0f, 0.0f, name, bits, status);
  return status == kStatusGood;
}

// A defaults file in DIR holding the detector's pixel sizes 75 x 75 microns.
inline void write_detector_defaults(const TempDir& dir) {
  write_text_file(dir.file(".kesta.def"),
                  "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
                  "X_PIXEL_SIZE\n7.5E-05\nY_PIXEL_SIZE\n7.5E-05\n");
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
