// Calibration from powder rings: centre-of-gravity coordinates on 15 rings
// of 90 sections (beside a plain read pass of the same image), the
// least-squares refinement over 15 x 360 coordinates, and a whole calibrant
// refinement from six clicks on the inner ring, on one thread.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "app/diffraction/calibrant.hpp"
#include "app/diffraction/ring_coordinates.hpp"
#include "app/diffraction/ring_test_support.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;

struct Quiet {
  Quiet() : null(std::fopen("/dev/null", "w")) { kesta::io_set_stream(kesta::kStreamTerminal, null); }
  std::FILE* null;
};
const Quiet quiet;

// Silicon's 15 rings on an N x N detector, tilted by 3 degrees, the outer
// ring near the edge.
kesta::testing::RingScene scene(Index n) {
  kesta::testing::RingScene s;
  s.xmax = s.ymax = n;
  s.pixel = 100.0e-6 * 2048.0 / static_cast<double>(n);
  s.x_centre = static_cast<double>(n) / 2.0 + 3.3;
  s.y_centre = static_cast<double>(n) / 2.0 - 5.6;
  s.distance = 0.2;
  s.wavelength = 0.3e-10;
  s.rotation = 0.5;
  s.tilt = 3.0 * M_PI / 180.0;
  for (float d : kesta::kzt_calibrants()[5].d_spacings) s.d_spacings.push_back(d);
  return s;
}

const std::vector<float>& image(Index n) {
  static std::vector<float> images[2];
  std::vector<float>& a = images[n > 2048 ? 1 : 0];
  if (a.empty()) a = kesta::testing::ring_image(scene(n));
  return a;
}

void read_pass(benchmark::State& state) {
  const std::vector<float>& a = image(state.range(0));
  for (auto _ : state) {
    double sum = std::accumulate(a.begin(), a.end(), 0.0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<Index>(a.size()));
}

void find_rings(benchmark::State& state) {
  const Index n = state.range(0);
  const kesta::testing::RingScene s = scene(n);
  const std::vector<float>& a = image(n);
  for (std::size_t k = 0; k < 15; ++k)
    kesta::vosq_kzt_comrings.radii[k] = static_cast<float>(
        s.distance * std::tan(kesta::testing::scene_two_theta(s, s.d_spacings[k])));
  const kesta::RingTilt tilt{s.distance, s.rotation, s.tilt};
  Index found = 0;
  for (auto _ : state) {
    kesta::Status status = kesta::kStatusGood;
    kesta::kzt_find_store_rings(false, n, n, 1, 1, n, n, a, {}, static_cast<float>(s.pixel),
                                static_cast<float>(s.pixel),
                                static_cast<float>(s.x_centre * s.pixel),
                                static_cast<float>(s.y_centre * s.pixel), 15, 0.0012f, 90, false,
                                state.range(1) != 0 ? &tilt : nullptr, status);
    found = std::accumulate(kesta::vosq_kzt_comrings.num_coordinates.begin(),
                            kesta::vosq_kzt_comrings.num_coordinates.end(), Index{0});
  }
  state.counters["coordinates"] = static_cast<double>(found);
  state.SetItemsProcessed(state.iterations() * n * n);
}

void lsq_calibrant(benchmark::State& state) {
  const kesta::testing::RingScene s = scene(2048);
  std::vector<float> d;
  for (int k = 0; k < 15; ++k) {
    d.push_back(static_cast<float>(s.d_spacings[static_cast<std::size_t>(k)]));
    kesta::vosq_kzt_comrings.num_coordinates[static_cast<std::size_t>(k)] = 360;
    for (int j = 0; j < 360; ++j) {
      const auto p = kesta::testing::ring_point(
          s, kesta::testing::scene_two_theta(s, s.d_spacings[static_cast<std::size_t>(k)]),
          (j + 0.5) * 6.283185 / 360.0);
      const std::size_t at = static_cast<std::size_t>(k * 360 + j);
      kesta::vosq_kzt_comrings.x_coordinates[at] = p[0];
      kesta::vosq_kzt_comrings.y_coordinates[at] = p[1];
    }
  }
  for (auto _ : state) {
    float distance = 0.203f, wavelength = static_cast<float>(s.wavelength);
    float x = static_cast<float>((s.x_centre + 2.0) * s.pixel);
    float y = static_cast<float>((s.y_centre - 2.0) * s.pixel);
    float rotation = 0.0f, tilt = 0.0f, sigma = 0.0f;
    kesta::Status status = kesta::kStatusGood;
    kesta::KZT_LSQCALIBRANT(false, 15, 15, d, false, 1.0f, true, true, false, true, distance,
                            wavelength, x, y, rotation, tilt, sigma, status);
    benchmark::DoNotOptimize(distance);
  }
}

void whole_refinement(benchmark::State& state) {
  const kesta::testing::RingScene s = scene(2048);
  const std::vector<float>& a = image(2048);
  std::vector<float> d, x, y;
  for (double v : s.d_spacings) d.push_back(static_cast<float>(v));
  for (int k = 0; k < 6; ++k) {
    const auto p = kesta::testing::ring_point(s, kesta::testing::scene_two_theta(s, d[0]),
                                              0.3 + k * 1.047);
    x.push_back(p[0]);
    y.push_back(p[1]);
  }
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.ymaxdat = m.xendelm = m.yendelm = 2048;
  m.data = a;
  kesta::CalibrantOptions o;
  o.refine_wavelength = false;
  o.full_info = false;
  for (auto _ : state) {
    kesta::CalibrantGeometry g;
    g.x_pixel_size = g.y_pixel_size = static_cast<float>(s.pixel);
    g.sample_distance = 0.206f;
    g.wavelength = static_cast<float>(s.wavelength);
    kesta::Status status = kesta::kStatusGood;
    const bool done = kesta::kzt_calibrant_refine(m, nullptr, o, d, false, x, y, g, status);
    benchmark::DoNotOptimize(done);
  }
}

BENCHMARK(read_pass)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(find_rings)
    ->Args({2048, 0})
    ->Args({2048, 1})
    ->Args({4096, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(lsq_calibrant)->Unit(benchmark::kMillisecond);
BENCHMARK(whole_refinement)->Unit(benchmark::kMillisecond);

}  // namespace
