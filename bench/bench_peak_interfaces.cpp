// Peak markers of 20000 peaks drawn onto a workstation that keeps only a
// summary of each primitive, and the statistics tables over 20000 peaks.

#include <benchmark/benchmark.h>

#include "app/interfaces/peak_interface.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "gsystem_recorder.hpp"

namespace {

using namespace kesta;

PeakList many_peaks() {
  PeakList peaks(20000);
  peaks.num_peaks = 20000;
  std::uint32_t seed = 7;
  for (std::size_t i = 0; i < 20000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    peaks.x[i] = static_cast<float>(seed % 4096) + 0.5f;
    peaks.y[i] = static_cast<float>((seed >> 12) % 4096) + 0.5f;
    peaks.flags[i] = i % 50 == 0 ? 1 : i % 70 == 0 ? 10 : 0;
    peaks.intensity[i] = static_cast<float>(seed % 100000);
    peaks.sigma[i] = 100.0f + static_cast<float>(seed % 900);
    peaks.d_spacing[i] = 1.0f + static_cast<float>(seed % 3000) / 100.0f;
  }
  return peaks;
}

void BM_DrawPeaks20000(benchmark::State& state) {
  const PeakList peaks = many_peaks();
  Status status = ST_GOOD();
  bench::Recorder recorder(status);
  GS_SET_DDDR(0.0f, 0.0f, 4096.0f, 4096.0f, status);
  for (auto _ : state) {
    recorder.items.clear();
    KZT_DRAW_PEAKS(true, peaks.max_peaks, peaks.num_peaks, peaks.flags, peaks.x, peaks.y, status);
    benchmark::ClobberMemory();
  }
  if (status != ST_GOOD()) state.SkipWithError("drawing failed");
  state.SetItemsProcessed(state.iterations() * peaks.num_peaks);
}
BENCHMARK(BM_DrawPeaks20000)->Unit(benchmark::kMillisecond);

void BM_PeakStatistics20000(benchmark::State& state) {
  const PeakList peaks = many_peaks();
  for (auto _ : state) benchmark::DoNotOptimize(kzt_peak_statistics(peaks, true));
  state.SetItemsProcessed(state.iterations() * peaks.num_peaks);
}
BENCHMARK(BM_PeakStatistics20000)->Unit(benchmark::kMillisecond);

}  // namespace
