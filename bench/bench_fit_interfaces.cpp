// SUBTRACT of the fitting interfaces with variances (data minus memory, the
// memory variances added) over the whole image, also as a ratio to a memcpy
// of the same image measured in the same run (counter "x_memcpy").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "app/interfaces/fitting_interfaces.hpp"
#include "app/main/data_store.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;
using Clock = std::chrono::steady_clock;

double memcpy_seconds(Index n) {
  const std::vector<float> in(static_cast<std::size_t>(n * n), 1.0f);
  std::vector<float> out(in.size());
  double best = 1.0e30;
  for (int k = 0; k < 20; ++k) {
    const auto t0 = Clock::now();
    std::memcpy(out.data(), in.data(), in.size() * sizeof(float));
    benchmark::DoNotOptimize(out.data());
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

void BM_SubtractWithVariances(benchmark::State& state) {
  const Index n = state.range(0);
  kesta::Status status = kesta::kStatusGood;
  kesta::KztArrays& a = kesta::vosq_kzt_arrays;
  kesta::kzt_allocate_arrays(n, n, true, true, false, a, status);
  a.xnumdat = a.xendelm = n;
  a.ynumdat = a.yendelm = n;
  a.xstrelm = a.ystrelm = 1;
  const std::size_t size = static_cast<std::size_t>(n * n);
  std::fill_n(a.data, size, 3.0f);
  std::fill_n(a.mdata, size, 1.0f);
  std::fill_n(a.variances, size, 1.0f);
  std::fill_n(a.mvariances, size, 0.0f);
  kesta::KztDataSets sets;
  sets.data_defined = sets.memory_defined = sets.variances_exist = true;
  sets.mxnumdat = sets.mynumdat = n;
  const double copy = memcpy_seconds(n);
  double total = 0.0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    kesta::kzt_memory_combine(false, sets, status);
    total += std::chrono::duration<double>(Clock::now() - t0).count();
    benchmark::DoNotOptimize(a.data);
  }
  state.counters["x_memcpy"] = total / static_cast<double>(state.iterations()) / copy;
  kesta::kzt_free_arrays(a, status);
  a = kesta::KztArrays{};
}
BENCHMARK(BM_SubtractWithVariances)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
