// Integration throughput on whole square images: the cake re-binning to 1000
// 2-theta bins and to a 500 x 360 cake, the table set-up (with one frame) and
// the per-frame pass with the table kept apart, on one thread and on every
// core, and the set-up of the 1-D scan at displaced (distortion-corrected)
// pixel positions. Each is timed by the wall clock and also given as a ratio
// ("x_memcpy") to one single-thread memcpy of the same image measured in the
// same run: a bandwidth-bound reference (a serial sum into a double is
// bound by the latency of its adds instead, about twice a copy).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <vector>

#include "app/diffraction/cake.hpp"
#include "bench/bench_files.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;

// Messages of the routines go nowhere.
struct Quiet {
  Quiet() : null(std::fopen("/dev/null", "w")) { kesta::io_set_stream(kesta::kStreamTerminal, null); }
  std::FILE* null;
};
const Quiet quiet;

std::vector<float> test_image(Index n) {
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<float>((i * 2654435761u) % 1000);
  return a;
}

void memcpy_reference(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> image = test_image(n);
  std::vector<float> out(image.size());
  kesta::bench::timed_against_memcpy(state, n, [&] {
    std::memcpy(out.data(), image.data(), image.size() * sizeof(float));
    benchmark::DoNotOptimize(out.data());
  });
}

// range: image size, radial bins, azimuthal bins, threads (0 every core),
// set-up: 0 the table kept (a frame), 1 a table built at every call after a
// change of geometry (the beam centre moved by a hundredth of a pixel and
// back: the replaced table's memory is reused), 2 the first table of a run
// (the table released before every call: all its memory new from the
// system).
void cake(benchmark::State& state) {
  const Index n = state.range(0), n2 = state.range(1), na = state.range(2);
  kesta::kzt_set_cake_threads(static_cast<int>(state.range(3)));
  const Index setup = state.range(4);
  const std::vector<float> image = test_image(n);
  std::vector<float> output(static_cast<std::size_t>(n * n)), weights(output.size());
  const float pixel = 1.0e-4f, centre = static_cast<float>(n) * 0.5f;
  const float outer = centre * pixel * std::sqrt(2.0f);
  const float end = na == 1 ? 360.0f : 6.283185f;
  float astep = 0, rstep = 0, rstart = 0;
  bool moved = false;
  const auto run = [&] {
    kesta::Status status = kesta::kStatusGood;
    const float x_centre = moved ? centre + 0.01f : centre;
    kesta::KZT_CAL2_CAKE(n, n, 1, 1, n, n, image, {}, false, 1, 20.0f, pixel, pixel, 0.2f,
                         1.0e-10f, x_centre, centre, 0.0f, end, 0.0f, outer, 0.3f, 0.05f, n2,
                         na, true, 0.95f, 1, n, n, n, n, astep, rstep, rstart, weights, output,
                         status);
    if (status != kesta::kStatusGood) std::abort();
  };
  run();
  kesta::bench::timed_against_memcpy(state, n, [&] {
    if (setup == 1) moved = !moved;
    if (setup == 2) kesta::kzt_release_cake_table();
    run();
    benchmark::DoNotOptimize(output.data());
  });
  kesta::kzt_release_cake_table();
  kesta::kzt_set_cake_threads(0);
}

// The 1-D scan's set-up and frame with every pixel displaced by a fraction
// of a pixel, on every core.
void cake_displaced(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> image = test_image(n);
  std::vector<float> output(static_cast<std::size_t>(n * n)), weights(output.size());
  std::vector<float> dx(output.size()), dy(output.size());
  for (std::size_t i = 0; i < dx.size(); ++i) {
    dx[i] = static_cast<float>(i % 7) * 0.1f;
    dy[i] = static_cast<float>(i % 5) * -0.1f;
  }
  const float pixel = 1.0e-4f, centre = static_cast<float>(n) * 0.5f;
  const float outer = centre * pixel * std::sqrt(2.0f);
  float astep = 0, rstep = 0, rstart = 0;
  kesta::bench::timed_against_memcpy(state, n, [&] {
    kesta::kzt_release_cake_table();
    kesta::Status status = kesta::kStatusGood;
    kesta::KZT_CAL2_CAKE(n, n, 1, 1, n, n, image, {}, false, 1, 20.0f, pixel, pixel, 0.2f,
                         1.0e-10f, centre, centre, 0.0f, 360.0f, 0.0f, outer, 0.3f, 0.05f, 1000,
                         1, true, 0.95f, 1, n, n, n, n, astep, rstep, rstart, weights, output,
                         status, dx, dy);
    if (status != kesta::kStatusGood) std::abort();
    benchmark::DoNotOptimize(output.data());
  });
  kesta::kzt_release_cake_table();
}

BENCHMARK(memcpy_reference)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(cake)
    ->ArgNames({"n", "bins", "azimuths", "threads", "setup"})
    ->ArgsProduct({{2048, 4096}, {1000}, {1}, {1, 0}, {0, 1, 2}})
    ->ArgsProduct({{2048, 4096}, {500}, {360}, {1, 0}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(cake_displaced)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
