// Graphics system: a whole image drawn onto a workstation that only keeps
// what it is sent and into PostScript, the intensity range of a region, a
// long x/y graph with spline lines and markers, contour maps and 3-D views.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/page_recorder_test_support.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/views3d.hpp"
#include "gsystem_recorder.hpp"

namespace {

using namespace kesta;

std::vector<float> test_image(Index n) {
  std::vector<float> image(static_cast<std::size_t>(n * n));
  for (Index y = 0; y < n; ++y)
    for (Index x = 0; x < n; ++x)
      image[static_cast<std::size_t>(y * n + x)] =
          static_cast<float>(1000.0 * std::sin(0.01 * static_cast<double>(x)) *
                             std::cos(0.013 * static_cast<double>(y)));
  return image;
}

std::vector<float> centres(Index n) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  return axis;
}

using bench::Recorder;

void BM_ImageOntoRecorder(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> image = test_image(n);
  const std::vector<float> axis = centres(n);
  Status status = ST_GOOD();
  Recorder recorder(status);
  for (auto _ : state) {
    recorder.items.clear();
    GS_2DMIMAGE(false, n, n, image, {}, axis, axis, 1, 1, n, n, "Bench", "X", "Y", "Z", status);
    benchmark::ClobberMemory();
  }
  if (status != ST_GOOD()) state.SkipWithError("image failed");
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_ImageOntoRecorder)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_ImageIntoPostScript(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> image = test_image(n);
  const std::vector<float> axis = centres(n);
  Status status = ST_GOOD();
  Recorder recorder(status);
  QG_TEXTHEIGHT(0.02f, status);
  io_open_stream(kStreamPostScript, "/dev/null", "w");
  QG_OPEN_WK(2, kStreamPostScript, 21, status);
  QG_ACTIVATE_WK(2, status);
  QG_DEACTIVATE_WK(1, status);
  for (auto _ : state) {
    GS_2DMIMAGE(false, n, n, image, {}, axis, axis, 1, 1, n, n, "Bench", "X", "Y", "Z", status);
    QG_UPDATE(2, 0, status);
    benchmark::ClobberMemory();
  }
  if (status != ST_GOOD()) state.SkipWithError("image failed");
  QG_CLOSE_WK(2, status);
  io_close_stream(kStreamPostScript);
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_ImageIntoPostScript)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_IntensityRange(benchmark::State& state) {
  const Index n = state.range(0);
  const int mode = static_cast<int>(state.range(1));
  const std::vector<float> image = test_image(n);
  Status status = ST_GOOD();
  Recorder recorder(status);
  for (auto _ : state) {
    float lo = 0.0f, hi = 1.0f;
    GS_CAL_ZRANGE(n, n, image, 1, 1, n, n, 1, mode, lo, hi, status);
    benchmark::DoNotOptimize(lo);
    benchmark::DoNotOptimize(hi);
  }
  if (status != ST_GOOD()) state.SkipWithError("range failed");
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_IntensityRange)
    ->Args({2048, 0})
    ->Args({4096, 0})
    ->Args({2048, 4})
    ->Args({4096, 4})
    ->Unit(benchmark::kMillisecond);

void BM_GraphWithSplinesAndMarkers(benchmark::State& state) {
  const Index n = 4096;
  std::vector<float> x(static_cast<std::size_t>(n)), y(x.size());
  for (Index i = 0; i < n; ++i) {
    x[static_cast<std::size_t>(i)] = static_cast<float>(i);
    y[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
  }
  Status status = ST_GOOD();
  Recorder recorder(status);
  GS_SET_CURVELINE(1, 1, kGsBlack, 1.0f, false, 1, status);
  GS_SET_CURVEMARKERS(1, 4, kGsRed, 1.0f, status);
  for (auto _ : state) {
    recorder.items.clear();
    GS_XYSGRAPH(n, 1, n, x, y, "Bench", "X", "Y", status);
    benchmark::ClobberMemory();
  }
  if (status != ST_GOOD()) state.SkipWithError("graph failed");
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_GraphWithSplinesAndMarkers)->Unit(benchmark::kMillisecond);

// Contour maps and 3-D views of a whole image onto a window-like
// workstation: a 500 x 707 raster for the surface, lines only counted.
class WindowCounter : public testing::PageRecorder {
 public:
  explicit WindowCounter(std::vector<testing::PageItem>* items) : PageRecorder(items) {}
  int polyline(std::span<const float> x, std::span<const float>, Status&) override {
    points += static_cast<Index>(x.size());
    return 0;
  }
  void raster_geometry(float, float, RasterGeometry& g) override { g = {1, 500, 707, 707}; }
  Index points = 0;
};

// Times DRAW(n, image, axis, status) of an N x N image.
template <typename Draw>
void view_bench(benchmark::State& state, Draw draw) {
  const Index n = state.range(0);
  const std::vector<float> image = test_image(n);
  const std::vector<float> axis = centres(n);
  Status status = ST_GOOD();
  Recorder recorder(status);
  qg_db_system.driver[0] = std::make_unique<WindowCounter>(&recorder.items);
  std::FILE* quiet = std::fopen("/dev/null", "w");
  io_set_stream(kStreamTerminal, quiet);
  for (auto _ : state) {
    draw(n, image, axis, status);
    recorder.items.clear();
  }
  io_set_stream(kStreamTerminal, nullptr);
  std::fclose(quiet);
  if (status != ST_GOOD()) state.SkipWithError("drawing failed");
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_ContourPlot(benchmark::State& state) {
  view_bench(state, [](Index n, const std::vector<float>& image, const std::vector<float>& axis,
                       Status& status) {
    GS_2DCONTOUR(n, n, image, axis, axis, 1, 1, n, n, "Contours", "X", "Y", "Z", status);
  });
}
BENCHMARK(BM_ContourPlot)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_Surface(benchmark::State& state) {
  view_bench(state, [](Index n, const std::vector<float>& image, const std::vector<float>& axis,
                       Status& status) {
    const float c = -0.5f * static_cast<float>(n);
    const float half = 0.9f * static_cast<float>(n);
    GS_SET_3DVIEW(c, c, 0.0f, 0.6f, 0.5f, 4.0f * static_cast<float>(n), -half, -half, half, half,
                  0.5f, status);
    GS_SET_3DAXES(true, true, true, status);
    GS_3DSURFACE(n, n, image, axis, axis, 1, 1, n, n, "Surface", "X", "Y", "Z", status);
  });
}
BENCHMARK(BM_Surface)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_HiddenLines(benchmark::State& state) {
  view_bench(state, [](Index n, const std::vector<float>& image, const std::vector<float>& axis,
                       Status& status) {
    GS_3DLINES(true, n, n, image, axis, axis, 1, 1, n, n, "Lines", "X", "Y", "Z", status);
  });
}
BENCHMARK(BM_HiddenLines)->Arg(1000)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
