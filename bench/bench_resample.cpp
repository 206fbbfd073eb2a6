// Resampling throughput on whole square images: block rebinning, tiled
// transposition, triangle rebinning (two triangles per pixel of a slightly
// rotated grid) and sub-pixel rotation.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/status.hpp"
#include "numeric/rebin.hpp"
#include "numeric/rotate.hpp"
#include "numeric/trirebin.hpp"

namespace {

using kesta::Index;

std::vector<float> test_image(Index n) {
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<float>((i * 2654435761u) % 1000);
  return a;
}

void BM_RREBIN(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> in = test_image(n);
  std::vector<float> out(static_cast<std::size_t>((n / 2) * (n / 2)));
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    Index oxe, oye;
    kesta::MA_RREBIN(n, n, in, 1, 1, n, n, 2, 2, true, 1, 1, n / 2, n / 2, out, oxe, oye, status);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_RTRANSPOSE(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> in = test_image(n);
  std::vector<float> out(in.size());
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    Index a, b, c, d;
    kesta::MA_RTRANSPOSE(n, n, in, 1, 1, n, n, n, n, out, a, b, c, d, status);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

// Every pixel of an n x n grid turned by 0.3 rad about the centre, as two
// triangles, through the public routine (argument checks included).
void BM_TRIREBIN(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> out(static_cast<std::size_t>(n * n));
  const float c = std::cos(0.3f), s = std::sin(0.3f);
  const float h = static_cast<float>(n) / 2;
  auto map = [&](float x, float y, float& ox, float& oy) {
    ox = c * (x - h) - s * (y - h) + h;
    oy = s * (x - h) + c * (y - h) + h;
  };
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    Index xs = 0, ys = 0;
    for (Index y = 1; y <= n; ++y) {
      for (Index x = 1; x <= n; ++x) {
        float x00, y00, x10, y10, x01, y01, x11, y11;
        map(float(x - 1), float(y - 1), x00, y00);
        map(float(x), float(y - 1), x10, y10);
        map(float(x - 1), float(y), x01, y01);
        map(float(x), float(y), x11, y11);
        kesta::MA_TRIREBIN(x00, y00, x10, y10, x11, y11, 1.0f, 0.5f, n, n, 1, 1, n, n, xs, ys, out,
                           status);
        kesta::MA_TRIREBIN(x00, y00, x11, y11, x01, y01, 1.0f, 0.5f, n, n, 1, 1, n, n, xs, ys, out,
                           status);
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_RROTATE(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> in = test_image(n);
  std::vector<float> out(in.size());
  const float h = static_cast<float>(n) / 2;
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    kesta::MA_RROTATE(n, n, in, 1, 1, n, n, h, h, 0.3f, 0, 0, 1, 1, n, n, 1, 1, n, n, out, status);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

// Whole-image general rotation by triangle rebinning, for comparison.
void BM_2DROTATE(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> in = test_image(n);
  std::vector<float> out(in.size());
  const float h = static_cast<float>(n) / 2;
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    kesta::MA_2DROTATE(n, n, in, 1, 1, n, n, h, h, 0.3f, 0, 0, 1, 1, n, n, 1, 1, n, n, out,
                       status);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

}  // namespace

BENCHMARK(BM_RREBIN)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTRANSPOSE)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TRIREBIN)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RROTATE)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_2DROTATE)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
