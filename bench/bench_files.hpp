#pragma once
// What the benchmarks share: a private scratch file name, a terminal sent to
// /dev/null while they run, and a square test image.

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/types.hpp"

namespace kesta::bench {

inline std::string scratch(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("kesta-bench-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

struct Quiet {
  Quiet() : null_(std::fopen("/dev/null", "w")) { io_set_stream(kStreamTerminal, null_); }
  ~Quiet() {
    io_set_stream(kStreamTerminal, nullptr);
    std::fclose(null_);
  }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
  std::FILE* null_;
};

// N x N values spread over 0 .. 999 without a pattern the loops could use.
inline std::vector<float> test_image(Index n) {
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<float>((i * 2654435761u) % 1000);
  return a;
}

// Seconds for one single-thread memcpy of an N x N float image, the best of
// several: the bandwidth-bound reference of the ratios "x_memcpy".
inline double memcpy_seconds(Index n) {
  const std::vector<float> in = test_image(n);
  std::vector<float> out(in.size());
  double best = 1.0e30;
  for (int k = 0; k < 7; ++k) {
    const auto start = std::chrono::steady_clock::now();
    std::memcpy(out.data(), in.data(), in.size() * sizeof(float));
    benchmark::DoNotOptimize(out.data());
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                              .count());
  }
  return best;
}

// Times RUN once per iteration by the wall clock (threads and all) and gives
// the ratio to memcpy_seconds(N) as the counter "x_memcpy".
template <class Run>
void timed_against_memcpy(benchmark::State& state, Index n, const Run& run) {
  double total = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    run();
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["x_memcpy"] =
      total / static_cast<double>(state.iterations()) / memcpy_seconds(n);
  state.SetItemsProcessed(state.iterations() * n * n);
}

}  // namespace kesta::bench
