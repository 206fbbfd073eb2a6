#pragma once
// Least-squares circles and ellipses through points (the starting values of
// every ring-based calibration), and the drawing of an ellipse given in
// metres on the displayed image.

#include <array>
#include <cstdint>
#include <span>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kMaxCircleCoordinates = 720;

// The points of the current circle or ellipse fit, read by its model
// function (the number of points is the extent of the fit).
struct KztComCircle {
  std::array<float, kMaxCircleCoordinates> x{};
  std::array<float, kMaxCircleCoordinates> y{};
};
inline KztComCircle vosq_kzt_comcircle;

// Any one length unit; ERROR the root mean square residual. Codes (+110000):
// 1 MAX_COORDINATES < 1; 5 fewer than 3 points, more than MAX_COORDINATES or
// more than 720; 1005 points that all coincide (no radius to fit).
void KZT_LSQCIRCLE(Index max_coordinates, Index num_coordinates, std::span<const float> x,
                   std::span<const float> y, float& x_centre, float& y_centre, float& radius,
                   float& error, Status& status);

// As the circle, with 5 points at least (code 17 for too few or too many).
// Comes back in normal form: RADIUS_1 >= RADIUS_2, ANGLE (radians,
// anticlockwise from +X, of axis 1) within -pi/2 .. pi/2. ERROR is 0 for an
// exact fit, -1.7e38 (undetermined) for 5 points, else the residuals' standard
// deviation.
void KZT_LSQELLIPSE(Index max_coordinates, Index num_coordinates, std::span<const float> x,
                    std::span<const float> y, float& x_centre, float& y_centre, float& radius_1,
                    float& radius_2, float& angle, float& error, Status& status);

// Model functions of the two fits (argument list of MA_MODELFIT's callback):
// one residual per point of vosq_kzt_comcircle.
void KZT_FUNCIRCLE(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                   std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                   int num_parameters, std::span<const float> params, Index xmaxmod, Index ymaxmod,
                   bool model_in_data_frame, int& terminate, std::span<float> model,
                   Status& status);
void KZT_FUNELLIPSE(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                    std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                    int num_parameters, std::span<const float> params, Index xmaxmod, Index ymaxmod,
                    bool model_in_data_frame, int& terminate, std::span<float> model,
                    Status& status);

// Draws the ellipse (metres, radians) on the displayed image, whose world
// coordinates are pixel coordinates, in drawing colour COLOUR.
void KZT_ELLIPSE(float x_pixel_size, float y_pixel_size, float x_centre, float y_centre,
                 float radius_1, float radius_2, float angle, int colour, Status& status);

}  // namespace kesta
