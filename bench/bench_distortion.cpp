// Distortion correction throughput on whole square images: the whole work of
// FAST CORRECTION (clearing the memory, the kernel and the 1/255 scaling) on
// an identity table, a table built from a smooth distortion of a few pixels
// and one built from a distortion of -20 to +20 pixels, on one thread and on
// every core, each as a ratio ("x_memcpy") to a one-thread copy of the image
// measured in the same run; the table construction, both spline corrections
// and the table file's encoding and reading. The fast correction is timed by
// the wall clock.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/distortion/lut.hpp"
#include "app/distortion/spline_correction.hpp"
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

std::vector<float> pixel_axis(Index n) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  return axis;
}

// A Bezier patch over the image: ALPHA + BETA x + GAMMA y (pixels).
kesta::SplineFunction linear(float n, float alpha, float beta, float gamma) {
  kesta::SplineFunction f;
  f.xnumknots = f.ynumknots = 8;
  f.lambda = f.mu = {0, 0, 0, 0, n, n, n, n};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      f.coeffs.push_back(alpha + beta * n * static_cast<float>(i) / 3.0f +
                         gamma * n * static_cast<float>(j) / 3.0f);
  return f;
}

// A smooth distortion of about three pixels across the image.
kesta::SplineSet smooth_set(Index n) {
  kesta::SplineSet set;
  set.x_maximum = set.y_maximum = static_cast<float>(n);
  const float scale = 3.0f / static_cast<float>(n);
  set.x = linear(static_cast<float>(n), 0.7f, scale, -0.5f * scale);
  set.y = linear(static_cast<float>(n), -1.2f, 0.4f * scale, scale);
  return set;
}

kesta::DistortionTable identity_table(Index n) {
  kesta::DistortionTable t;
  t.allocate(n, n);
  std::fill(t.x_shifts.begin(), t.x_shifts.end(), 0);
  std::fill(t.y_shifts.begin(), t.y_shifts.end(), 0);
  std::fill(t.fractions.begin(), t.fractions.end(), 0);
  for (std::size_t k = 0; k < t.fractions.size(); k += 9) t.fractions[k] = 255;
  return t;
}

// A distortion of -20 pixels at one edge to +20 at the other, in X across
// the image and in Y up it: the shifts change every 50 pixels (2048) and
// reach far beyond the -7..7 steps between neighbouring pixels.
kesta::SplineSet wide_set(Index n) {
  kesta::SplineSet set;
  set.x_maximum = set.y_maximum = static_cast<float>(n);
  const float scale = 40.0f / static_cast<float>(n);
  set.x = linear(static_cast<float>(n), -20.0f, scale, 0.0f);
  set.y = linear(static_cast<float>(n), 20.0f, 0.0f, -scale);
  return set;
}

kesta::DistortionTable built_table(Index n, const kesta::SplineSet& set) {
  kesta::DistortionTable t;
  t.allocate(n, n);
  const std::vector<float> axis = pixel_axis(n);
  bool defined = false;
  kesta::Status status = kesta::ST_GOOD();
  kesta::KZT_SDLUT(set, n, n, axis, axis, t, defined, status);
  return t;
}
kesta::DistortionTable built_table(Index n) { return built_table(n, smooth_set(n)); }

// range: image size, threads (0 every core). The command's whole work with
// GUI true (no question): memory cleared, kernel, scaling by 1/255, axes.
void fast(benchmark::State& state, const kesta::DistortionTable& table) {
  const Index n = state.range(0);
  kesta::kzt_set_fast_threads(static_cast<int>(state.range(1)));
  const std::vector<float> in = test_image(n), axis = pixel_axis(n);
  std::vector<float> out(in.size()), mx(axis.size()), my(axis.size());
  Index mxs = 0, mys = 0, mxe = 0, mye = 0;
  float overload = 1.0e30f;
  const auto run = [&] {
    kesta::Status status = kesta::ST_GOOD();
    kesta::KZT_CORR_FAST(true, table, n, n, axis, axis, in, 1, 1, n, n, overload, mx, my, out,
                         mxs, mys, mxe, mye, status);
    if (status != kesta::ST_GOOD()) std::abort();
    benchmark::DoNotOptimize(out.data());
  };
  run();
  kesta::bench::timed_against_memcpy(state, n, run);
  kesta::kzt_set_fast_threads(0);
}

void BM_FAST_IDENTITY(benchmark::State& state) { fast(state, identity_table(state.range(0))); }
void BM_FAST_SMOOTH(benchmark::State& state) { fast(state, built_table(state.range(0))); }
void BM_FAST_WIDE(benchmark::State& state) {
  fast(state, built_table(state.range(0), wide_set(state.range(0))));
}

void BM_MEMCPY(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> in = test_image(n);
  std::vector<float> out(in.size());
  for (auto _ : state) {
    std::memcpy(out.data(), in.data(), in.size() * sizeof(float));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_SDLUT(benchmark::State& state) {
  const Index n = state.range(0);
  for (auto _ : state) benchmark::DoNotOptimize(built_table(n).fractions.data());
  state.SetItemsProcessed(state.iterations() * n * n);
}

void spline(benchmark::State& state, bool triangles) {
  const Index n = state.range(0);
  const std::vector<float> in = test_image(n), axis = pixel_axis(n);
  std::vector<float> out(in.size());
  const kesta::SplineSet set = smooth_set(n);
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    std::memset(out.data(), 0, out.size() * sizeof(float));
    if (triangles)
      kesta::KZT_CORR6_SPATIAL(1, 1, n, n, 1.0e30f, 1, 1, n, n, set, n, n, axis, axis, in, 40, out,
                               status);
    else
      kesta::KZT_CORR5_SPATIAL(1, 1, n, n, 1.0e30f, 1, 1, n, n, set, n, n, axis, axis, in, 40, out,
                               status);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
void BM_SPATIAL_FOUR_PIXEL(benchmark::State& state) { spline(state, false); }
void BM_SPATIAL_TWO_TRIANGLE(benchmark::State& state) { spline(state, true); }

void BM_TABLE_WRITE(benchmark::State& state) {
  const Index n = state.range(0);
  const kesta::DistortionTable table = built_table(n);
  std::string bytes;
  for (auto _ : state) {
    kesta::encode_dclut(table, false, {}, n, bytes);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_TABLE_READ(benchmark::State& state) {
  const Index n = state.range(0);
  const kesta::DistortionTable table = built_table(n);
  std::string bytes;
  kesta::encode_dclut(table, false, {}, n, bytes);
  const std::string path =
      (std::filesystem::temp_directory_path() / "bench_distortion.dclt").string();
  std::ofstream(path, std::ios::binary) << bytes;
  std::vector<float> flat(static_cast<std::size_t>(n * n));
  for (auto _ : state) {
    kesta::DistortionTable back;
    bool defined = false, stored = false;
    int retstat = 0;
    kesta::Status status = kesta::ST_GOOD();
    kesta::KZT_IN2DCLUT(path, retstat, back, n, n, flat, defined, stored, status);
    benchmark::DoNotOptimize(back.fractions.data());
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * n * n);
}

}  // namespace

BENCHMARK(BM_MEMCPY)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FAST_IDENTITY)->ArgNames({"n", "threads"})->ArgsProduct({{2048, 4096}, {1, 0}})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FAST_SMOOTH)->ArgNames({"n", "threads"})->ArgsProduct({{2048, 4096}, {1, 0}})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FAST_WIDE)->ArgNames({"n", "threads"})->ArgsProduct({{2048, 4096}, {1, 0}})->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_SDLUT)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SPATIAL_FOUR_PIXEL)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SPATIAL_TWO_TRIANGLE)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TABLE_WRITE)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TABLE_READ)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
