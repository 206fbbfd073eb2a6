#pragma once
// Synthetic images and models shared by the fitting tests.

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "app/fitting/model.hpp"
#include "app/main/data_store.hpp"
#include "core/status.hpp"

namespace kesta::testing {

// Pixel-centre axes (i - 0.5) of N pixels.
inline std::vector<float> centre_axis(Index n) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  return axis;
}

// Gaussian noise of standard deviation SD, the same on every run and machine
// (Box-Muller on a fixed linear congruential sequence).
struct Noise {
  std::uint64_t state;
  double sd;
  explicit Noise(std::uint64_t seed, double deviation = 1.0) : state(seed), sd(deviation) {}
  double uniform() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
  }
  float next() {
    return static_cast<float>(sd * std::sqrt(-2.0 * std::log(uniform())) *
                              std::cos(6.283185307179586 * uniform()));
  }
};

// A frame over XMAX x YMAX with the given axes (kept by the caller).
inline ModelFrame frame_over(Index xmax, Index ymax, const std::vector<float>& xaxis,
                             const std::vector<float>& yaxis) {
  ModelFrame f;
  f.xmaxdat = f.xnumdat = xmax;
  f.ymaxdat = f.ynumdat = ymax;
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

// The program arrays (with the memory) as 64 x 48 pixels holding a
// Gaussian of height 100 at (20.5, 15.5), SDs 3 and 2, on LEVEL; the caller
// frees them.
inline void gaussian_program_arrays(float level, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  kzt_allocate_arrays(64, 48, true, false, false, a, status);
  if (status != kStatusGood) return;
  a.xnumdat = a.xendelm = 64;
  a.ynumdat = a.yendelm = 48;
  a.xstrelm = a.ystrelm = 1;
  const std::vector<float> ax = centre_axis(64), ay = centre_axis(48);
  std::copy(ax.begin(), ax.end(), a.xaxis);
  std::copy(ay.begin(), ay.end(), a.yaxis);
  FitModel truth;
  add_feature(truth, kGaussian, {20.5f, 15.5f, 100.0f, 3.0f, 2.0f, 0.0f});
  kzt_model_image(frame_over(64, 48, ax, ay), truth, 1, 1, 64, 48, kzt_image(a.data), status);
  for (float& v : kzt_image(a.data)) v += level;
}

}  // namespace kesta::testing
