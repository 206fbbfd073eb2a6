// Neighbourhood filters and the polygon inside test on whole images.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/status.hpp"
#include "numeric/filters.hpp"
#include "numeric/polygon.hpp"

namespace {

using kesta::Index;

std::vector<float> noise_image(Index n) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(0.0f, 1000.0f);
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (float& v : a) v = u(rng);
  return a;
}

// Whole counts 0..15, as a weakly exposed detector gives: many ties.
std::vector<float> count_image(Index n) {
  std::mt19937 rng(2);
  std::binomial_distribution<int> counts(30, 0.25);
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (float& v : a) v = static_cast<float>(std::min(counts(rng), 15));
  return a;
}

void BM_MedianFilter(benchmark::State& state) {
  const Index n = state.range(0);
  const Index box = state.range(1);
  const std::vector<float> data = state.range(2) ? count_image(n) : noise_image(n);
  std::vector<float> out(data.size());
  std::vector<float> column(static_cast<std::size_t>(box)),
      sorted(static_cast<std::size_t>(box * box));
  std::vector<Index> source(sorted.size());
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    kesta::MA_MEDFILTER(n, n, data, 1, 1, n, n, box, box, box * box, box, n, n, column, sorted,
                        source, out, status);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
// Boxes of every size up to one as large as the image (its median clipped
// at the image's edges), where the time must not follow the box's area.
BENCHMARK(BM_MedianFilter)
    ->ArgNames({"n", "box", "counts"})
    ->Args({2048, 3, 0})
    ->Args({2048, 9, 0})
    ->Args({2048, 15, 0})
    ->Args({2048, 51, 0})
    ->Args({2048, 201, 0})
    ->Args({2048, 2047, 0})
    ->Args({4096, 3, 0})
    ->Args({4096, 9, 0})
    ->Args({4096, 51, 0})
    ->Args({4096, 201, 0})
    ->Args({4096, 4095, 0})
    ->Args({4096, 3, 1})
    ->Args({4096, 9, 1})
    ->Args({4096, 51, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Besides noise alone: one pixel in 4096 a NaN (detector gaps) or a
// marker value of 1e30, which the running sums must count apart; and an
// image scaled so far that every pixel is such a value.
void BM_BoxFilter(benchmark::State& state) {
  const Index n = state.range(0);
  const Index box = state.range(1);
  std::vector<float> data = noise_image(n);
  const auto apart = state.range(2);
  for (std::size_t k = 0; (apart == 1 || apart == 2) && k < data.size(); k += 4096)
    data[k] = apart == 1 ? NAN : 1.0e30f;
  if (apart == 3)
    for (float& v : data) v *= 1.0e12f;
  std::vector<float> out(data.size());
  std::vector<float> work(static_cast<std::size_t>(n));
  for (auto _ : state) {
    kesta::Status status = kesta::ST_GOOD();
    kesta::MA_TOPHAT2CON(n, n, data, 1, 1, n, n, box, box, true, n, n, n, work, out, status);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_BoxFilter)
    ->ArgNames({"n", "box", "apart"})
    ->Args({2048, 3, 0})
    ->Args({2048, 31, 0})
    ->Args({4096, 3, 0})
    ->Args({4096, 31, 0})
    ->Args({4096, 4095, 0})
    ->Args({4096, 3, 1})
    ->Args({4096, 31, 1})
    ->Args({4096, 3, 2})
    ->Args({4096, 31, 2})
    ->Args({4096, 3, 3})
    ->Args({4096, 31, 3})
    ->Unit(benchmark::kMillisecond);

// Every pixel centre of the image tested against a 40-vertex star polygon,
// row by row as the polygon mask command does.
void BM_PolygonInside(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> x, y;
  const int vertices = 40;
  for (int i = 0; i < vertices; ++i) {
    const double a = 2.0 * M_PI * i / vertices;
    const double r = n * (i % 2 ? 0.45 : 0.25);
    x.push_back(static_cast<float>(n / 2.0 + r * std::cos(a)));
    y.push_back(static_cast<float>(n / 2.0 + r * std::sin(a)));
  }
  x.push_back(x[0]);
  y.push_back(y[0]);
  std::vector<float> w(800);
  std::vector<std::int16_t> lnd(400);
  const Index count = static_cast<Index>(x.size());
  kesta::MA_GA05A(count, 1, w, 800, lnd, 200, x, y, {}, {}, {});
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n));
  for (auto _ : state) {
    for (Index row = 1; row <= n; ++row) {
      const float yp = static_cast<float>(row) - 0.5f;
      std::uint8_t* line = mask.data() + (row - 1) * n;
      for (Index col = 1; col <= n; ++col) {
        float r = 0.0f;
        kesta::MA_GA05B(static_cast<float>(col) - 0.5f, yp, r, count, 1, w, 800, lnd, 200, x, y, {},
                        {}, {});
        line[col - 1] = r >= 0.0f ? 1 : 0;
      }
    }
    benchmark::DoNotOptimize(mask.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_PolygonInside)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
