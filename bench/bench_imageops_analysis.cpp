// Whole-image analysis operations: histogram and entropy counts, predictors,
// image-plate linearisation, variance estimation and the power spectrum.
// Each figure is also given as a ratio ("x_memcpy") to a copy of the same
// image timed in the same run; the power spectrum as a ratio ("x_fft") to
// the bare 2-D real transform.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "app/imageops/fourier.hpp"
#include "app/imageops/histogram.hpp"
#include "app/imageops/predictor.hpp"
#include "app/imageops/synthetic.hpp"
#include "core/status.hpp"
#include "numeric/fft.hpp"

namespace {

using kesta::Index;
using Clock = std::chrono::steady_clock;

// Detector-like counts: a smooth background with Poisson-like noise.
std::vector<float> count_image(Index n) {
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (Index y = 0; y < n; ++y)
    for (Index x = 0; x < n; ++x) {
      const float mean = 200.0f + 100.0f * static_cast<float>((x + y) % 97) / 97.0f;
      a[static_cast<std::size_t>(x + y * n)] = std::max(0.0f, mean + std::sqrt(mean) * noise(rng));
    }
  return a;
}

template <typename Op>
double best_seconds(int repeats, Op op) {
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    const auto t0 = Clock::now();
    op();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

double memcpy_seconds(const std::vector<float>& from) {
  std::vector<float> to(from.size());
  return best_seconds(5, [&] {
    std::memcpy(to.data(), from.data(), from.size() * sizeof(float));
    benchmark::DoNotOptimize(to.data());
  });
}

// Runs OP as the benchmark body and reports the mean time over REFERENCE.
template <typename Op>
void run_against(benchmark::State& state, double reference, const char* name, Op op) {
  const auto t0 = Clock::now();
  for (auto _ : state) op();
  const double per = std::chrono::duration<double>(Clock::now() - t0).count() /
                     static_cast<double>(state.iterations());
  state.counters[name] = per / reference;
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(state.range(0)) *
                          state.range(0));
}

void BM_Histogram(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> data = count_image(n);
  std::vector<Index> counts(1000);
  run_against(state, memcpy_seconds(data), "x_memcpy", [&] {
    kesta::kzt_histogram_counts(n, 1, 1, n, n, data, 0.0f, 500.0f, 1000, counts);
    benchmark::DoNotOptimize(counts.data());
  });
}

void BM_EntropyCounts(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> data = count_image(n);
  std::vector<Index> work(static_cast<std::size_t>(kesta::kEntropyValues));
  run_against(state, memcpy_seconds(data), "x_memcpy", [&] {
    benchmark::DoNotOptimize(kesta::kzt_entropy_counts(n, 1, 1, n, n, data, work));
  });
}

void BM_Predictor(benchmark::State& state) {
  const Index n = state.range(0);
  const int choice = static_cast<int>(state.range(1));
  const std::vector<float> data = count_image(n);
  std::vector<float> out(data.size());
  run_against(state, memcpy_seconds(data), "x_memcpy", [&] {
    kesta::kzt_predict(choice, 4, n, 1, 1, n, n, data, out);
    benchmark::DoNotOptimize(out.data());
  });
}

void BM_Fuji(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> input = count_image(n);
  std::vector<float> data = input;
  run_against(state, memcpy_seconds(input), "x_memcpy", [&] {
    kesta::kzt_fuji_linearise(n, 1, 1, n, n, 10000, 5.0f, 16, data);
    benchmark::DoNotOptimize(data.data());
  });
}

void BM_VariancesDefinition(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> data = count_image(n);
  std::vector<float> variances(data.size());
  run_against(state, memcpy_seconds(data), "x_memcpy", [&] {
    double gain = 0.0;
    kesta::kzt_variance_gain(n, 1, 1, n, n, data, 1.0e6f, 10.0f, gain);
    kesta::kzt_define_variances(n, 1, 1, n, n, data, 1.0e6f, 10.0f, static_cast<float>(gain),
                                variances);
    benchmark::DoNotOptimize(variances.data());
  });
}

// Both the spectrum and its reference start from a fresh copy of the image.
void BM_PowerSpectrum(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> input = count_image(n);
  std::vector<float> work(input.size());
  std::vector<float> xtable(static_cast<std::size_t>(2 * n)), ytable(xtable.size());
  const double fft = best_seconds(3, [&] {
    std::copy(input.begin(), input.end(), work.begin());
    bool tables_done = false;
    kesta::Status status = kesta::ST_GOOD();
    kesta::MA_2DFRFFT(n, n, n, n, n, true, tables_done, xtable, ytable, work, status);
    benchmark::DoNotOptimize(work.data());
  });
  run_against(state, fft, "x_fft", [&] {
    std::copy(input.begin(), input.end(), work.begin());
    kesta::Status status = kesta::ST_GOOD();
    kesta::kzt_power_spectrum(n, n, n, n, work, status);
    benchmark::DoNotOptimize(work.data());
  });
}

}  // namespace

BENCHMARK(BM_Histogram)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EntropyCounts)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Predictor)
    ->ArgNames({"n", "choice"})
    ->Args({2048, 1})
    ->Args({2048, 4})
    ->Args({4096, 1})
    ->Args({4096, 4})
    ->Args({4096, 8})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fuji)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VariancesDefinition)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PowerSpectrum)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
