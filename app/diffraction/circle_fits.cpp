#include "app/diffraction/circle_fits.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "numeric/modelfit.hpp"

namespace kesta {

namespace {

constexpr float kHalfTurn = 3.1415925f;
constexpr float kQuarterTurn = 1.5707963f;
constexpr float kUndetermined = -1.7e38f;

// The points into the global block; false (with a message) when they all
// coincide, which leaves no radius and no scale to fit with.
struct CircleStart {
  double x = 0.0, y = 0.0, radius = 0.0;
};

CircleStart copy_points(Index num, std::span<const float> x, std::span<const float> y) {
  CircleStart s;
  for (Index k = 0; k < num; ++k) {
    vosq_kzt_comcircle.x[static_cast<std::size_t>(k)] = x[static_cast<std::size_t>(k)];
    vosq_kzt_comcircle.y[static_cast<std::size_t>(k)] = y[static_cast<std::size_t>(k)];
    s.x += x[static_cast<std::size_t>(k)];
    s.y += y[static_cast<std::size_t>(k)];
  }
  s.x /= static_cast<double>(num);
  s.y /= static_cast<double>(num);
  for (Index k = 0; k < num; ++k)
    s.radius +=
        std::hypot(x[static_cast<std::size_t>(k)] - s.x, y[static_cast<std::size_t>(k)] - s.y);
  s.radius /= static_cast<double>(num);
  return s;
}

// The shared settings of both fits: NUM residuals, no data to subtract.
void fit_points(const ModelFunction& model_function, Index num, std::span<const float> scales,
                std::span<float> params, float& sum_squares, int& end_code, Status& status) {
  const std::vector<float> data(static_cast<std::size_t>(num), 0.0f);
  std::vector<float> model(static_cast<std::size_t>(num), 0.0f);
  const std::vector<std::uint8_t> no_mask;
  const std::vector<float> no_sigmas;
  bool fixed[8] = {};
  int calls = 0;
  MA_MODELFIT(0, model_function, false, false, false, num, 1, data, no_mask, no_sigmas, 1, 1, num,
              1, 1, 100, 1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr,
              static_cast<int>(params.size()), std::span<const bool>(fixed, params.size()), scales,
              num, 1, false, params, model, end_code, calls, sum_squares, status);
}

}  // namespace

void KZT_FUNCIRCLE(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                   Index xstrelm, Index, Index xendelm, Index, void*, void*, void*, void*, int,
                   std::span<const float> params, Index, Index, bool, int& terminate,
                   std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNCIRCLE V0.1")) return;
  const double xc = params[0], yc = params[1], r = params[2];
  for (Index k = xstrelm; k <= xendelm; ++k) {
    const auto p = static_cast<std::size_t>(k - 1);
    model[static_cast<std::size_t>(k - xstrelm)] = static_cast<float>(
        std::hypot(vosq_kzt_comcircle.x[p] - xc, vosq_kzt_comcircle.y[p] - yc) - r);
  }
  terminate = 0;
}

void KZT_FUNELLIPSE(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                    Index xstrelm, Index, Index xendelm, Index, void*, void*, void*, void*, int,
                    std::span<const float> params, Index, Index, bool, int& terminate,
                    std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNELLIPSE V0.1")) return;
  const double xc = params[0], yc = params[1], r1 = params[2], r2 = params[3];
  const double c = std::cos(-static_cast<double>(params[4]));
  const double s = std::sin(-static_cast<double>(params[4]));
  for (Index k = xstrelm; k <= xendelm; ++k) {
    const auto p = static_cast<std::size_t>(k - 1);
    const double dx = vosq_kzt_comcircle.x[p] - xc;
    const double dy = vosq_kzt_comcircle.y[p] - yc;
    const double u = c * dx - s * dy;
    const double v = c * dy + s * dx;
    model[static_cast<std::size_t>(k - xstrelm)] =
        static_cast<float>((std::sqrt(u * u / (r1 * r1) + v * v / (r2 * r2)) - 1.0) * r1);
  }
  terminate = 0;
}

void KZT_LSQCIRCLE(Index max_coordinates, Index num_coordinates, std::span<const float> x,
                   std::span<const float> y, float& x_centre, float& y_centre, float& radius,
                   float& error, Status& status) {
  constexpr const char* kName = "Subroutine KZT_LSQCIRCLE V0.1";
  if (st_bad(status, kName)) return;
  if (max_coordinates < 1) return st_fail(status, kBaseApp + 1, kName);
  if (num_coordinates < 3 || num_coordinates > max_coordinates ||
      num_coordinates > kMaxCircleCoordinates ||
      static_cast<Index>(std::min(x.size(), y.size())) < num_coordinates)
    return st_fail(status, kBaseApp + 5, kName);
  const CircleStart start = copy_points(num_coordinates, x, y);
  if (!(start.radius > 0.0)) {
    IO_WRITE("ERROR: The coordinates coincide: there is no circle to fit", status);
    return st_fail(status, kBaseApp + 1005, kName);
  }
  float params[3] = {static_cast<float>(start.x), static_cast<float>(start.y),
                     static_cast<float>(start.radius)};
  const float scale = params[2] / 100.0f;
  const float scales[3] = {scale, scale, scale};
  float sum_squares = 0.0f;
  int end_code = 0;
  fit_points(KZT_FUNCIRCLE, num_coordinates, scales, params, sum_squares, end_code, status);
  if (status != kStatusGood) return;
  if (end_code > 0) IO_WRITE("WARNING: Problem fitting the circle", status);
  x_centre = params[0];
  y_centre = params[1];
  radius = std::fabs(params[2]);
  error = std::sqrt(sum_squares / static_cast<float>(num_coordinates));
}

void KZT_LSQELLIPSE(Index max_coordinates, Index num_coordinates, std::span<const float> x,
                    std::span<const float> y, float& x_centre, float& y_centre, float& radius_1,
                    float& radius_2, float& angle, float& error, Status& status) {
  constexpr const char* kName = "Subroutine KZT_LSQELLIPSE V0.1";
  if (st_bad(status, kName)) return;
  if (max_coordinates < 1) return st_fail(status, kBaseApp + 1, kName);
  if (num_coordinates < 5 || num_coordinates > max_coordinates ||
      num_coordinates > kMaxCircleCoordinates ||
      static_cast<Index>(std::min(x.size(), y.size())) < num_coordinates)
    return st_fail(status, kBaseApp + 17, kName);
  float xc = 0.0f, yc = 0.0f, r = 0.0f, circle_error = 0.0f;
  KZT_LSQCIRCLE(max_coordinates, num_coordinates, x, y, xc, yc, r, circle_error, status);
  if (status != kStatusGood) return;
  if (!(r > 0.0f)) {
    IO_WRITE("ERROR: The coordinates coincide: there is no ellipse to fit", status);
    return st_fail(status, kBaseApp + 1005, kName);
  }
  copy_points(num_coordinates, x, y);
  float params[5] = {xc, yc, r, 0.99f * r, 0.0f};
  const float scale = r / 100.0f;
  const float scales[5] = {scale, scale, scale, scale, 0.05f};
  float sum_squares = 0.0f;
  int end_code = 0;
  fit_points(KZT_FUNELLIPSE, num_coordinates, scales, params, sum_squares, end_code, status);
  if (status != kStatusGood) return;
  if (end_code > 0) IO_WRITE("WARNING: Problem fitting the ellipse", status);
  x_centre = params[0];
  y_centre = params[1];
  // The residual depends on the squares of the radii only: a fit may end on
  // negative ones, which describe the same ellipse.
  radius_1 = std::fabs(params[2]);
  radius_2 = std::fabs(params[3]);
  angle = params[4];
  if (!(sum_squares > 0.0f)) {
    error = 0.0f;
  } else if (num_coordinates < 6) {
    error = kUndetermined;
  } else {
    error = std::sqrt(sum_squares / static_cast<float>(num_coordinates - 5));
  }
  if (radius_1 < radius_2) {
    std::swap(radius_1, radius_2);
    angle += kQuarterTurn;
  }
  if (!std::isfinite(angle)) return;
  angle = std::fmod(angle, kHalfTurn);
  while (angle > kQuarterTurn) angle -= kHalfTurn;
  while (angle < -kQuarterTurn) angle += kHalfTurn;
}

void KZT_ELLIPSE(float x_pixel_size, float y_pixel_size, float x_centre, float y_centre,
                 float radius_1, float radius_2, float angle, int colour, Status& status) {
  if (st_bad(status, "Subroutine KZT_ELLIPSE V0.1")) return;
  const float ax = std::cos(angle) * radius_1 / x_pixel_size;
  const float ay = std::sin(angle) * radius_1 / y_pixel_size;
  const float bx = std::cos(angle + kQuarterTurn) * radius_2 / x_pixel_size;
  const float by = std::sin(angle + kQuarterTurn) * radius_2 / y_pixel_size;
  GS_LINESTYLE(1, 1.0f, colour, status);
  GS_RELLIPSE(x_centre / x_pixel_size, y_centre / y_pixel_size, std::hypot(ax, ay),
              std::hypot(bx, by), std::atan2(ay, ax), true, false, 120, status);
}

}  // namespace kesta
