// Image operations on whole images, each also as a ratio to a memcpy of the
// same image measured in the same run (counter "x_memcpy"). Answers to the
// operations' questions come from a fixed line source; their output goes to
// /dev/null.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/imageops/peak_search.hpp"
#include "app/imageops/statistics_commands.hpp"
#include "app/imageops/value_arithmetic.hpp"
#include "core/io_output.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;
using kesta::Status;
using Clock = std::chrono::steady_clock;

std::vector<float> noise_image(Index n, float low, float high) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(low, high);
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (float& v : a) v = u(rng);
  return a;
}

// Seconds for one memcpy of an N x N float image: the best of several.
double memcpy_seconds(Index n) {
  static std::map<Index, double> known;
  if (auto it = known.find(n); it != known.end()) return it->second;
  const std::vector<float> in = noise_image(n, 0.0f, 1.0f);
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

// Quiet terminal and fixed answers for the operations' questions.
struct Dialogue {
  std::FILE* null = std::fopen("/dev/null", "w");
  explicit Dialogue(std::vector<std::string> answers) {
    kesta::io_set_stream(kesta::kStreamTerminal, null);
    kesta::io_set_line_source([answers, k = std::size_t{0}](std::string_view,
                                                             std::string& line) mutable {
      line = answers[k++ % answers.size()];
      return true;
    });
  }
  ~Dialogue() {
    kesta::io_set_line_source({});
    kesta::io_set_stream(kesta::kStreamTerminal, nullptr);
    std::fclose(null);
  }
};

// Runs OP (whose untimed RESET, if any, restores its input) and records the
// time per image and its ratio to the memcpy.
template <typename Op, typename Reset>
void timed(benchmark::State& state, Index n, Op op, Reset reset) {
  double seconds = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    reset();
    state.ResumeTiming();
    const auto t0 = Clock::now();
    op();
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  state.SetItemsProcessed(state.iterations() * n * n);
  state.counters["x_memcpy"] =
      seconds / static_cast<double>(state.iterations()) / memcpy_seconds(n);
}
template <typename Op>
void timed(benchmark::State& state, Index n, Op op) {
  timed(state, n, op, [] {});
}

void BM_Memcpy(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> in = noise_image(n, 0.0f, 1.0f);
  std::vector<float> out(in.size());
  timed(state, n, [&] {
    std::memcpy(out.data(), in.data(), in.size() * sizeof(float));
    benchmark::DoNotOptimize(out.data());
  });
}

// A constant operation on the whole image with one answer.
void BM_Constant(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> data = noise_image(n, 1.0f, 1000.0f);
  std::vector<float> variances = noise_image(n, 1.0f, 10.0f);
  const int which = static_cast<int>(state.range(1));
  Dialogue dialogue({which == 0 ? "2.5" : "1.0001"});
  timed(state, n, [&] {
    Status status = kesta::ST_GOOD();
    if (which == 0)
      kesta::KZT_CADD(n, n, 1, 1, n, n, data, status);
    else
      kesta::KZT_CMULT(n, n, 1, 1, n, n, false, data, variances, status);
    benchmark::DoNotOptimize(data.data());
  });
}

void BM_Threshold(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> data = noise_image(n, 0.0f, 1000.0f);
  Dialogue dialogue({"100", "900"});
  timed(state, n, [&] {
    Status status = kesta::ST_GOOD();
    kesta::KZT_THRESHOLD(false, n, n, 1, 1, n, n, data, status);
    benchmark::DoNotOptimize(data.data());
  });
}

void BM_SelectPixel(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> data = noise_image(n, 0.0f, 1000.0f);
  Dialogue dialogue({"YES", "500", "YES", "1.0"});
  timed(state, n, [&] {
    Status status = kesta::ST_GOOD();
    kesta::KZT_SELECTPIXEL(n, n, 1, 1, n, n, data, status);
    benchmark::DoNotOptimize(data.data());
  });
}

void BM_Normalise(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> data = noise_image(n, 0.0f, 1000.0f);
  std::vector<float> variances;
  Dialogue dialogue({""});
  timed(state, n, [&] {
    Status status = kesta::ST_GOOD();
    kesta::KZT_NORMALISE(n, n, 1, 1, n, n, false, data, variances, status);
    benchmark::DoNotOptimize(data.data());
  });
}

void BM_DivideWithVariances(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> source = noise_image(n, 1.0f, 1000.0f);
  const std::vector<float> mdata = noise_image(n, 0.5f, 2.0f);
  const std::vector<float> mvariances(source.size(), 0.1f);
  std::vector<float> data, variances;
  Dialogue dialogue({""});
  timed(
      state, n,
      [&] {
        Status status = kesta::ST_GOOD();
        kesta::KZT_DIVIDE(n, n, 1, 1, n, n, true, mdata, mvariances, data, variances, status);
        benchmark::DoNotOptimize(data.data());
      },
      [&] {
        data = source;
        variances = source;
      });
}

void BM_LogarithmWithVariances(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> source = noise_image(n, 1.0f, 1000.0f);
  std::vector<float> data, variances;
  Dialogue dialogue({""});
  timed(
      state, n,
      [&] {
        Status status = kesta::ST_GOOD();
        kesta::KZT_LOGARITHM(false, n, n, 1, 1, n, n, true, data, variances, status);
        benchmark::DoNotOptimize(data.data());
      },
      [&] {
        data = source;
        variances = source;
      });
}

void BM_Statistics(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> data = noise_image(n, 0.0f, 1000.0f);
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  Dialogue dialogue({""});
  timed(state, n, [&] {
    Status status = kesta::ST_GOOD();
    kesta::KZT_STATISTICS(n, n, 1, 1, n, n, axis, axis, data, status);
  });
}

// 2000 Gaussian spots on a noisy background.
std::vector<float> spots_image(Index n) {
  std::vector<float> data = noise_image(n, 95.0f, 105.0f);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> where(10.0f, static_cast<float>(n) - 10.0f);
  for (int s = 0; s < 2000; ++s) {
    const float cx = where(rng), cy = where(rng);
    const Index i0 = static_cast<Index>(cx), j0 = static_cast<Index>(cy);
    for (Index j = j0 - 4; j <= j0 + 4; ++j)
      for (Index i = i0 - 4; i <= i0 + 4; ++i) {
        const float dx = static_cast<float>(i) - 0.5f - cx, dy = static_cast<float>(j) - 0.5f - cy;
        data[static_cast<std::size_t>(kesta::element(i, j, n))] +=
            800.0f * std::exp(-(dx * dx + dy * dy) / 2.88f);
      }
  }
  return data;
}

// The search and integration of the N x N DATA with P (and MASK, when P
// uses one).
void time_peak_search(benchmark::State& state, Index n, const std::vector<float>& data,
                      const kesta::PeakSearchParameters& p,
                      const std::vector<std::uint8_t>& mask = {}) {
  std::vector<float> work(data.size());
  Dialogue dialogue({""});
  kesta::PeakList peaks(5000);
  timed(state, n, [&] {
    Status status = kesta::ST_GOOD();
    kesta::KZT_PEAKSEARCH(1.0e-4f, 1.0e-4f, p, n, n, data, mask, 1, 1, n, n, work, peaks, status);
  });
  state.counters["peaks"] = static_cast<double>(peaks.num_peaks);
}

void BM_PeakSearch(benchmark::State& state) {
  const Index n = state.range(0);
  kesta::PeakSearchParameters p;
  p.mode = 1;
  p.box_size = 9;
  p.min_background = 20;
  p.peak_sigma = 4.0f;
  p.num_pixels = 3;
  p.min_spacing = 6;
  time_peak_search(state, n, spots_image(n), p);
}

// The same spots with detector gaps, NaN rows and columns 8 pixels wide every
// 512, smoothed over 9 x 9: the search runs again with the gaps left out.
// Argument 2: the gaps hold 0 and are masked (the search left them out from
// the start).
void BM_PeakSearchGaps(benchmark::State& state) {
  const Index n = state.range(0);
  const bool masked = state.range(1) != 0;
  std::vector<float> data = spots_image(n);
  std::vector<std::uint8_t> mask(masked ? data.size() : 0, 0);
  for (Index j = 1; j <= n; ++j)
    for (Index i = 1; i <= n; ++i)
      if ((i - 1) % 512 >= 504 || (j - 1) % 512 >= 504) {
        const auto e = static_cast<std::size_t>(kesta::element(i, j, n));
        data[e] = masked ? 0.0f : std::nanf("");
        if (masked) mask[e] = 1;
      }
  kesta::PeakSearchParameters p;
  p.use_mask = masked;
  p.mode = 1;
  p.blur_size = 9;
  p.box_size = 11;
  p.min_background = 20;
  p.peak_sigma = 4.0f;
  p.num_pixels = 16;
  p.min_spacing = 12;
  time_peak_search(state, n, data, p, mask);
}

BENCHMARK(BM_PeakSearchGaps)
    ->ArgNames({"n", "masked"})
    ->Args({2048, 0})
    ->Args({4096, 0})
    ->Args({2048, 1})
    ->Args({4096, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Constant)
    ->ArgNames({"n", "cmultiply"})
    ->Args({2048, 0})
    ->Args({4096, 0})
    ->Args({2048, 1})
    ->Args({4096, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Threshold)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectPixel)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Normalise)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DivideWithVariances)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogarithmWithVariances)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Statistics)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeakSearch)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
