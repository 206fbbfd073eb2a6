#pragma once
// Test helpers: spline sets of known linear distortions.

#include "app/distortion/spline.hpp"

namespace kesta::testing {

// The cubic surface ALPHA + BETA x + GAMMA y over 0..XMAX by 0..YMAX (one
// Bezier patch: 8 knots each way, coefficients at the Greville points).
inline SplineFunction linear_function(float xmax, float ymax, float alpha, float beta,
                                      float gamma) {
  SplineFunction f;
  f.xnumknots = f.ynumknots = 8;
  f.lambda = {0, 0, 0, 0, xmax, xmax, xmax, xmax};
  f.mu = {0, 0, 0, 0, ymax, ymax, ymax, ymax};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      f.coeffs.push_back(alpha + beta * xmax * static_cast<float>(i) / 3.0f +
                         gamma * ymax * static_cast<float>(j) / 3.0f);
  return f;
}

// A spline set over the whole of an XMAX x YMAX image whose X displacement
// is DX0 + SX x and Y displacement DY0 + SY y.
inline SplineSet linear_set(float xmax, float ymax, float dx0, float sx, float dy0, float sy) {
  SplineSet set;
  set.x_maximum = xmax;
  set.y_maximum = ymax;
  set.grid_spacing = 5000.0f;
  set.x_pixel_size = 1.0e-4f;
  set.y_pixel_size = 1.5e-4f;
  set.x = linear_function(xmax, ymax, dx0, sx, 0.0f);
  set.y = linear_function(xmax, ymax, dy0, 0.0f, sy);
  return set;
}

}  // namespace kesta::testing
