// Graphics kernel: PostScript cell array of a large image, and raster fill of
// a 3-D view's triangle mesh.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"

namespace {

using namespace kesta;

// Kernel open with one active PostScript workstation writing to /dev/null.
void open_postscript(Status& status) {
  ST_DEF_SYSTEM(status);
  QG_OPEN(0, status);
  QG_TEXTHEIGHT(0.02f, status);
  io_open_stream(kStreamDefaults, "/dev/null", "w");
  QG_OPEN_WK(2, kStreamDefaults, 21, status);
  QG_ACTIVATE_WK(2, status);
}

void close_postscript(Status& status) {
  QG_CLOSE_WK(2, status);
  io_close_stream(kStreamDefaults);
  QG_CLOSE(status);
}

void BM_PostScriptCellArray4096(benchmark::State& state) {
  const Index n = 4096;
  std::vector<float> image(static_cast<std::size_t>(n * n));
  for (Index y = 0; y < n; ++y)
    for (Index x = 0; x < n; ++x)
      image[static_cast<std::size_t>(y * n + x)] =
          static_cast<float>(std::sin(0.01 * static_cast<double>(x)) * std::cos(0.013 * static_cast<double>(y)));
  Status status = ST_GOOD();
  open_postscript(status);
  for (auto _ : state) {
    QG_REALCELLARRAY(0.05f, 0.05f, 0.65f, 0.65f, n, n, 1, 1, n, n, image, -1.0f, 1.0f, status);
    benchmark::ClobberMemory();
  }
  if (status != ST_GOOD()) state.SkipWithError("cell array failed");
  state.SetItemsProcessed(state.iterations() * n * n);
  close_postscript(status);
}
BENCHMARK(BM_PostScriptCellArray4096)->Unit(benchmark::kMillisecond);

void BM_RasterTriangleMesh(benchmark::State& state) {
  // A 256 x 256 surface seen obliquely: 130050 triangles on a page raster.
  const int grid = 256;
  Status status = ST_GOOD();
  open_postscript(status);
  std::vector<float> px(static_cast<std::size_t>(grid * grid)), py(px.size());
  for (int j = 0; j < grid; ++j)
    for (int i = 0; i < grid; ++i) {
      const double u = static_cast<double>(i) / (grid - 1), v = static_cast<double>(j) / (grid - 1);
      const double z = 0.05 * std::sin(12.0 * u) * std::cos(9.0 * v);
      px[static_cast<std::size_t>(j * grid + i)] = static_cast<float>(0.05 + 0.45 * u + 0.15 * v);
      py[static_cast<std::size_t>(j * grid + i)] = static_cast<float>(0.2 + 0.5 * v + z);
    }
  QG_SET_RASTERMODE(true, status);
  std::int64_t triangles = 0;
  for (auto _ : state) {
    for (int j = grid - 2; j >= 0; --j)
      for (int i = 0; i + 1 < grid; ++i) {
        const auto a = static_cast<std::size_t>(j * grid + i);
        const std::size_t b = a + 1, c = a + grid, d = a + grid + 1;
        QG_FILLCOLOUR(49 + (i + j) % 200, status);
        const float x1[3] = {px[a], px[b], px[d]}, y1[3] = {py[a], py[b], py[d]};
        QG_FILLAREA(3, x1, y1, status);
        const float x2[3] = {px[a], px[d], px[c]}, y2[3] = {py[a], py[d], py[c]};
        QG_FILLAREA(3, x2, y2, status);
        triangles += 2;
      }
    benchmark::DoNotOptimize(qg_db_prastermode.raster.data());
  }
  if (status != ST_GOOD()) state.SkipWithError("raster fill failed");
  state.SetItemsProcessed(triangles);
  QG_SET_RASTERMODE(false, status);
  close_postscript(status);
}
BENCHMARK(BM_RasterTriangleMesh)->Unit(benchmark::kMillisecond);

}  // namespace
