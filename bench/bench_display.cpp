// The mask shapes on whole images, each also as a ratio to a memcpy of the
// same image measured in the same run (counter "x_memcpy").

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "app/imageops/masks.hpp"
#include "bench/bench_files.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;
using Clock = std::chrono::steady_clock;

// Seconds for one memcpy of an N x N float image: the best of several.
double copy_seconds(Index n) {
  static std::map<Index, double> known;
  if (auto it = known.find(n); it != known.end()) return it->second;
  const std::vector<float> in = kesta::bench::test_image(n);
  std::vector<float> out(in.size());
  double best = 1.0e30;
  for (int k = 0; k < 20; ++k) {
    const auto t0 = Clock::now();
    std::memcpy(out.data(), in.data(), in.size() * sizeof(float));
    benchmark::DoNotOptimize(out.data());
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return known[n] = best;
}

template <typename Op>
void timed(benchmark::State& state, Index n, Op op) {
  double seconds = 0.0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    op();
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  state.SetItemsProcessed(state.iterations() * n * n);
  state.counters["x_memcpy"] = seconds / static_cast<double>(state.iterations()) / copy_seconds(n);
}

std::vector<float> centres(Index n) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  return axis;
}

void BM_ThresholdMask(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> data = kesta::bench::test_image(n);
  std::vector<std::uint8_t> mask(data.size());
  timed(state, n, [&] {
    kesta::kzt_mask_threshold(n, 1, 1, n, n, data, false, 500.0f, mask);
    benchmark::DoNotOptimize(mask.data());
  });
}
BENCHMARK(BM_ThresholdMask)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// The 40-vertex star over the image that the polygon test's own benchmark
// uses, so the two figures compare.
void BM_MaskPolygon(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> x, y;
  for (int i = 0; i < 40; ++i) {
    const double a = 2.0 * M_PI * i / 40;
    const double r = n * (i % 2 ? 0.45 : 0.25);
    x.push_back(static_cast<float>(n / 2.0 + r * std::cos(a)));
    y.push_back(static_cast<float>(n / 2.0 + r * std::sin(a)));
  }
  const std::vector<float> axis = centres(n);
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n));
  timed(state, n, [&] {
    kesta::Status status = kesta::kStatusGood;
    kesta::kzt_mask_polygon(n, n, n, axis, axis, x, y, true, mask, status);
    benchmark::DoNotOptimize(mask.data());
  });
}
BENCHMARK(BM_MaskPolygon)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// A half circle of radius 0.45 N about the image centre, 9 pixels wide.
void BM_MaskArc(benchmark::State& state) {
  const Index n = state.range(0);
  const float c = static_cast<float>(n) / 2.0f, r = 0.45f * static_cast<float>(n);
  const std::array<float, 3> x{c + r, c, c - r}, y{c, c + r, c};
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n));
  timed(state, n, [&] {
    kesta::Status status = kesta::kStatusGood;
    kesta::kzt_mask_arc(n, 1, 1, n, n, x, y, 9.0f, mask, status);
    benchmark::DoNotOptimize(mask.data());
  });
}
BENCHMARK(BM_MaskArc)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
