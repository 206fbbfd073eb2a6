// Printing the displayed image: PRINT GRAPHICS of an image into an open
// PostScript file (one page per call, as from the keyboard), against the
// bare PostScript cell array of the same image.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "app/imageops/printing.hpp"
#include "bench/bench_files.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"

namespace {

using namespace kesta;

std::vector<float> axis(Index n) {
  std::vector<float> a(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) a[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  return a;
}

void BM_PrintImage(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> image = bench::test_image(n);
  const std::vector<float> xaxis = axis(n);
  bench::Quiet quiet;
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  QG_OPEN(0, status);
  GS_DEF_GRAPHICS(status);
  GS_DEF_LUTCHOICE(status);
  GS_DEF_COLOURS(status);
  const std::string file = bench::scratch("print.ps");
  int pages = 0;
  for (auto _ : state) {
    if (pages == 0) {
      state.PauseTiming();
      GS_OPEN_PS(file, status);
      state.ResumeTiming();
    }
    KZT_PRINT(false, "image", false, n, n, xaxis, xaxis, image, {}, {}, "Bench", "X", "Y", "Z",
              false, 1, 1, n, n, status);
    if (++pages == 10) {
      // Keeps the scratch file small.
      state.PauseTiming();
      GS_CLOSE_PS(status);
      pages = 0;
      state.ResumeTiming();
    }
  }
  GS_CLOSE_PS(status);
  std::remove(file.c_str());
  if (status != ST_GOOD()) state.SkipWithError("printing failed");
  state.SetItemsProcessed(state.iterations() * n * n);
  QG_CLOSE(status);
}
BENCHMARK(BM_PrintImage)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// The cell array alone, on a PostScript workstation writing to /dev/null.
void BM_CellArrayAlone(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> image = bench::test_image(n);
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  QG_OPEN(0, status);
  QG_TEXTHEIGHT(0.02f, status);
  io_open_stream(kStreamDefaults, "/dev/null", "w");
  QG_OPEN_WK(2, kStreamDefaults, 21, status);
  QG_ACTIVATE_WK(2, status);
  for (auto _ : state) {
    QG_REALCELLARRAY(0.05f, 0.05f, 0.65f, 0.65f, n, n, 1, 1, n, n, image, 0.0f, 999.0f, status);
    benchmark::ClobberMemory();
  }
  if (status != ST_GOOD()) state.SkipWithError("cell array failed");
  state.SetItemsProcessed(state.iterations() * n * n);
  QG_CLOSE_WK(2, status);
  io_close_stream(kStreamDefaults);
  QG_CLOSE(status);
}
BENCHMARK(BM_CellArrayAlone)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// The intensity range that the image display finds first (scaling mode 0).
void BM_ImageRange(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> image = bench::test_image(n);
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  float zmin = 0.0f, zmax = 0.0f;
  for (auto _ : state) {
    GS_CAL_ZRANGE(n, n, image, 1, 1, n, n, 1, 0, zmin, zmax, status);
    benchmark::DoNotOptimize(zmax);
  }
  if (status != ST_GOOD()) state.SkipWithError("range failed");
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_ImageRange)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
