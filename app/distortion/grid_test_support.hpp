#pragma once
// Test helpers: images of a calibration grid whose Gaussian holes lie at
// known, possibly distorted, positions.

#include <cmath>
#include <functional>
#include <vector>

#include "core/types.hpp"

namespace kesta::testing {

struct GridScene {
  Index side = 128;          // square image
  float x0 = 5.5f, y0 = 5.5f;  // hole (1, 1), pixel coordinates
  float spacing = 10.0f;     // pixels
  Index columns = 12, rows = 12;
  float sigma = 1.5f;
  float height = 1000.0f, background = 10.0f;
  // Displacement of the hole at an ideal position (pixel coordinates).
  std::function<void(float x, float y, float& dx, float& dy)> distortion;
  // Holes left out, as (column, row) from 1.
  std::vector<std::pair<Index, Index>> missing;

  void centre(Index i, Index j, float& x, float& y) const {
    x = x0 + spacing * static_cast<float>(i - 1);
    y = y0 + spacing * static_cast<float>(j - 1);
    if (distortion) {
      float dx = 0.0f, dy = 0.0f;
      distortion(x, y, dx, dy);
      x += dx;
      y += dy;
    }
  }
  bool present(Index i, Index j) const {
    for (const auto& m : missing)
      if (m.first == i && m.second == j) return false;
    return true;
  }
  // Pixel (x, y) covers x - 1 .. x; its value is the Gaussian at its centre.
  std::vector<float> image() const {
    std::vector<float> data(static_cast<std::size_t>(side * side), background);
    for (Index j = 1; j <= rows; ++j)
      for (Index i = 1; i <= columns; ++i) {
        if (!present(i, j)) continue;
        float cx = 0.0f, cy = 0.0f;
        centre(i, j, cx, cy);
        const Index reach = static_cast<Index>(5.0f * sigma) + 2;
        for (Index y = static_cast<Index>(cy) - reach; y <= static_cast<Index>(cy) + reach; ++y)
          for (Index x = static_cast<Index>(cx) - reach; x <= static_cast<Index>(cx) + reach;
               ++x) {
            if (x < 1 || y < 1 || x > side || y > side) continue;
            const double dx = static_cast<double>(x) - 0.5 - cx;
            const double dy = static_cast<double>(y) - 0.5 - cy;
            data[static_cast<std::size_t>((y - 1) * side + (x - 1))] += static_cast<float>(
                height * std::exp(-(dx * dx + dy * dy) / (2.0 * sigma * sigma)));
          }
      }
    return data;
  }
};

}  // namespace kesta::testing
