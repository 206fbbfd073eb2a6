// File-series integration: twenty (and forty) native 2048^2 files (links to
// one file, so every read comes from the page cache) with a flat field,
// integrated to 1000 bins, beside the plain reading of the same files; the
// difference between the two lengths is the cost of one more file. And the
// strip projection of a 2048-pixel strip.

#include <benchmark/benchmark.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/diffraction/integrate.hpp"
#include "app/diffraction/projection.hpp"
#include "app/diffraction/series_integration.hpp"
#include "app/imageops/file_series.hpp"
#include "app/main/data_store.hpp"
#include "bench/bench_files.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "formats/gui_input.hpp"
#include "formats/kesta_format.hpp"

namespace kesta {
namespace {

using bench::Quiet;
using bench::scratch;


void write_native(const std::string& path, Index n, const std::vector<float>& data) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < axis.size(); ++i) axis[i] = static_cast<float>(i) + 0.5f;
  io_set_line_source([&](std::string_view, std::string& line) {
    line = path;
    return true;
  });
  Status status = kStatusGood;
  int retstat = 1;
  FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, axis, axis, data, {}, "bench", "x", "y", "z", false,
                1e-4f, 1e-4f, retstat, status);
  io_set_line_source({});
}

struct Series {
  std::string directory;
  std::string flat;
  std::vector<std::string> members;
  Series(Index n, int count) : directory(scratch("fsint-" + std::to_string(n))) {
    std::filesystem::create_directories(directory);
    const std::string image = directory + "/image.kzt";
    write_native(image, n, bench::test_image(n));
    flat = directory + "/flat.kzt";
    write_native(flat, n, std::vector<float>(static_cast<std::size_t>(n * n), 1.25f));
    for (int k = 1; k <= count; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "/member_%03d.kzt", k);
      members.push_back(directory + name);
      std::filesystem::create_symlink(image, members.back());
    }
  }
  ~Series() { std::filesystem::remove_all(directory); }
};

Series* current = nullptr;

void read_given(TextLines, int sequence, const ImageTarget& target, bool& read,
                std::string& file_name, Status& status) {
  if (sequence == kFioSelectFile) file_name = current->members.front();
  int retstat = 1;
  float overload = 0.0f;
  FIO_IN_KESTA(true, target, file_name, retstat, overload, status);
  read = retstat == 0;
}
void corrections(bool& ff, std::string& file, bool& scale, float&, bool& sd, std::string&,
                 Status&) {
  ff = true;
  file = current->flat;
  scale = false;
  sd = false;
}
void geometry_form(float&, float&, float& distance, float& wavelength, float& xc, float& yc,
                   float& rotation, float& tilt, Status&) {
  distance = 0.2f;
  wavelength = 1.0e-10f;
  xc = 1024.0f;
  yc = 1030.0f;
  rotation = 0.3f;
  tilt = 0.05f;
}
void control_form(Index, IntegrateControl& c, Status&) {
  c.scan_type = 1;
  c.conserve_intensity = false;
  c.correct_polarisation = true;
  c.polarisation = 0.95f;
  c.geometry = true;
  c.num_bins = 1000;
  c.max_2theta = 0.06f;
}

struct Program {
  KztDataSets sets;
  explicit Program(Index n) {
    Status status = kStatusGood;
    kzt_allocate_arrays(n, n, true, false, false, vosq_kzt_arrays, status);
    kzt_series_reader() = read_given;
    kzt_series_correction_form() = corrections;
    kzt_integrate_forms() = {geometry_form, control_form};
  }
  ~Program() {
    Status status = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, status);
    kzt_series_reader() = FIO_GUI_INPUT;
    kzt_integrate_forms() = {};
  }
};

void BM_SeriesRead(benchmark::State& state) {
  const Index n = state.range(0);
  Series files(n, static_cast<int>(state.range(1)));
  current = &files;
  Program program(n);
  Quiet quiet;
  KztArrays& a = vosq_kzt_arrays;
  for (auto _ : state) {
    for (const std::string& name : files.members) {
      bool variances = false, read = false;
      const ImageTarget target{a.xmaxdat,          a.ymaxdat,          variances,
                               a.xnumdat,          a.ynumdat,          kzt_xline(a.xaxis),
                               kzt_yline(a.yaxis), kzt_image(a.data),  {},
                               program.sets.title, program.sets.xlabel, program.sets.ylabel,
                               program.sets.zlabel, program.sets.x_pixel_size,
                               program.sets.y_pixel_size, &a.data, nullptr};
      Status status = kStatusGood;
      std::string file = name;
      read_given({}, kFioGivenName, target, read, file, status);
      benchmark::DoNotOptimize(a.data);
    }
  }
}
BENCHMARK(BM_SeriesRead)->Args({2048, 20})->Args({2048, 40})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SeriesIntegration(benchmark::State& state) {
  const Index n = state.range(0);
  Series files(n, static_cast<int>(state.range(1)));
  current = &files;
  Program program(n);
  Quiet quiet;
  for (auto _ : state) {
    std::deque<std::string> lines{"YES", files.members.back(), "", "EXIT", "NO"};
    io_set_line_source([&](std::string_view, std::string& line) {
      if (lines.empty()) return false;
      line = lines.front();
      lines.pop_front();
      return true;
    });
    Status status = kStatusGood;
    KZT_FSINTEGRATE(program.sets, status);
    io_set_line_source({});
    if (status != kStatusGood || vosq_kzt_arrays.ynumdat != state.range(1))
      state.SkipWithError("the series did not integrate");
  }
}
BENCHMARK(BM_SeriesIntegration)->Args({2048, 20})->Args({2048, 40})->Unit(benchmark::kMillisecond)->UseRealTime();

// A strip 2048 pixels long and 64 wide through the centre, to 2048 bins.
void BM_GisaxsProjection(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> data = bench::test_image(n);
  const float c = static_cast<float>(n) / 2.0f;
  const std::vector<float> xc{0.0f, static_cast<float>(n), static_cast<float>(n), 0.0f, 0.0f};
  const std::vector<float> yc{c - 32, c - 32, c + 32, c + 32, c - 32};
  std::vector<float> axis(static_cast<std::size_t>(n)), scan(axis), vars(axis), weights(axis);
  for (auto _ : state) {
    Status status = kStatusGood;
    KZT_CAL_GISAXS(false, 2, c, c, 0.2f, 1.0e-10f, 0.3f, 0.05f, true, n, n, 1, 1, n, n, data, {},
                   1e-4f, 1e-4f, xc, yc, true, 0.0005f, n, n, axis, scan, vars, weights, status);
    benchmark::DoNotOptimize(scan.data());
  }
}
BENCHMARK(BM_GisaxsProjection)->Arg(2048)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kesta
