// The window driver's image path: a 2048 x 2048 real image drawn as a cell
// array into a 1024 x 1024 window (scaled down, linear and logarithmic), and
// an integer cell array of the same size. Needs an X server (DISPLAY).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "core/status.hpp"
#include "graphics/device/driver.hpp"
#include "graphics/device/kernel.hpp"

namespace {

using namespace kesta;

constexpr Index kSide = 2048;

struct Window {
  std::unique_ptr<Driver> driver;
  bool ok = false;
  Window() {
    if (std::getenv("DISPLAY") == nullptr) return;
    Status status = ST_GOOD();
    ST_DEF_SYSTEM(status);
    QG_OPEN(0, status);  // the kernel's default colour table
    driver = qg_make_x11_driver();
    OpenRequest request;
    request.type = 0;  // a free-shaped window
    request.x_pixels = 1024;
    request.y_pixels = 1024;
    if (!driver || driver->open(request, status) != 0) return;
    ColourRange r;
    driver->colour_range(r);
    driver->load_colours(qg_db_colours.table, r.first, r.last, r.first_image, r.last_image);
    driver->transform(0, 0, 1, 1, 0, 0, 1, 1, status);
    ok = true;
  }
};

Window& window() {
  static Window w;
  return w;
}

std::vector<float> ramp_image() {
  std::vector<float> data(static_cast<std::size_t>(kSide * kSide));
  for (Index y = 0; y < kSide; ++y)
    for (Index x = 0; x < kSide; ++x)
      data[static_cast<std::size_t>(y * kSide + x)] =
          1.0f + static_cast<float>((x * 7 + y * 3) % 1000);
  return data;
}

void real_image(benchmark::State& state, bool log_scale) {
  Window& w = window();
  if (!w.ok) {
    state.SkipWithError("no X display (set DISPLAY, e.g. to an Xvfb)");
    return;
  }
  const std::vector<float> data = ramp_image();
  const CellRegion region{0, 0, 1, 1, kSide, kSide, 1, 1, kSide, kSide};
  Status status = ST_GOOD();
  for (auto _ : state) {
    w.driver->real_cell_array(false, region, data, {}, 1.0f, 1000.0f, 1, log_scale, status);
    w.driver->update(status);  // the server has drawn it
  }
  state.SetItemsProcessed(state.iterations() * 1024 * 1024);
  state.counters["data_elements"] = static_cast<double>(kSide * kSide);
}

void BM_X11RealCellArrayLinear(benchmark::State& state) { real_image(state, false); }
void BM_X11RealCellArrayLog(benchmark::State& state) { real_image(state, true); }

void BM_X11CellArrayIndices(benchmark::State& state) {
  Window& w = window();
  if (!w.ok) {
    state.SkipWithError("no X display (set DISPLAY, e.g. to an Xvfb)");
    return;
  }
  std::vector<int> indices(static_cast<std::size_t>(kSide * kSide));
  for (std::size_t k = 0; k < indices.size(); ++k) indices[k] = 9 + static_cast<int>(k % 240);
  const CellRegion region{0, 0, 1, 1, kSide, kSide, 1, 1, kSide, kSide};
  Status status = ST_GOOD();
  for (auto _ : state) {
    w.driver->cell_array(region, indices, status);
    w.driver->update(status);
  }
  state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}

BENCHMARK(BM_X11RealCellArrayLinear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_X11RealCellArrayLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_X11CellArrayIndices)->Unit(benchmark::kMillisecond);

}  // namespace
