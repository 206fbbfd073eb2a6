// Simulated diffraction effects on whole square images: the polarisation
// effect, a tilted powder ring added, and the powder pattern of a 2-theta
// scan, beside a plain read pass over the same image.

#include <benchmark/benchmark.h>

#include <numeric>
#include <vector>

#include "app/diffraction/simulation.hpp"
#include "bench/bench_files.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;

const kesta::bench::Quiet quiet;
using kesta::bench::test_image;

// The time to read the image once, to compare the routines with.
void read_pass(benchmark::State& state) {
  const std::vector<float> image = test_image(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(std::accumulate(image.begin(), image.end(), 0.0));
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

void polarisation_effect(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> image = test_image(n), variances = test_image(n);
  for (auto _ : state) {
    kesta::Status status = kesta::kStatusGood;
    kesta::kzt_apply_polarisation(n, n, 1, 1, n, n, 1.0e-4f, 1.0e-4f, 0.2f, n / 2.0f, n / 2.0f,
                                  0.96f, true, image, variances, status);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void add_powder_ring(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> image = test_image(n);
  for (auto _ : state) {
    kesta::Status status = kesta::kStatusGood;
    kesta::KZT_ADDPOWDERRING(n, n, 1, 1, n, n, 1.0e-4f, 1.0e-4f, n / 2.0f, n / 2.0f, 0.2f, 0.2f,
                             500.0f, 2.0e-4f, 0.3f, 0.05f, image, status);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void rings_from_scan(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> image(static_cast<std::size_t>(n * n));
  std::vector<float> angles(2000), values(2000);
  for (std::size_t k = 0; k < angles.size(); ++k) {
    angles[k] = 0.02f * static_cast<float>(k);
    values[k] = static_cast<float>(k % 97);
  }
  kesta::PowderSettings g;
  g.x_beam_centre = n / 2.0f;
  g.y_beam_centre = n / 2.0f;
  g.tilt_rotation = 0.3f;
  g.tilt_angle = 0.05f;
  for (auto _ : state) {
    kesta::Status status = kesta::kStatusGood;
    kesta::kzt_rings_from_scan(angles, values, n, n, 1, 1, n, n, 1.0e-4f, 1.0e-4f, g, image,
                               status);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

}  // namespace

BENCHMARK(read_pass)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(polarisation_effect)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(add_powder_ring)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(rings_from_scan)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
