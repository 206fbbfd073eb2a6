#pragma once
// Synthetic images and models shared by the fitting tests.

#include <cmath>
#include <span>
#include <vector>

#include "app/fitting/model.hpp"

namespace kesta::testing {

// Pixel-centre axes (i - 0.5) of N pixels.
inline std::vector<float> centre_axis(Index n) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  return axis;
}

// A frame over XMAX x YMAX with the given axes (kept by the caller).
inline ModelFrame frame_over(Index xmax, Index ymax, const std::vector<float>& xaxis,
                             const std::vector<float>& yaxis) {
  ModelFrame f;
  f.xmaxdat = xmax;
  f.ymaxdat = ymax;
  f.x_axis = xaxis;
  f.y_axis = yaxis;
  f.geometry_known = true;
  f.sample_distance = 0.1f;
  return f;
}

// Appends a feature's parameters with their codes, free, scale SCALE.
inline void add_feature(FitModel& m, int type, std::initializer_list<float> values,
                        float scale = 1.0f) {
  const int feature = ++m.num_features;
  int k = 0;
  for (const float v : values) {
    const std::size_t i = static_cast<std::size_t>(m.num_parameters++);
    m.params[i] = v;
    m.codes[i] = make_code(feature, type, ++k);
    m.scales[i] = scale;
    m.names[i] = feature_name("FEA", feature, " PAR");
  }
}

}  // namespace kesta::testing
