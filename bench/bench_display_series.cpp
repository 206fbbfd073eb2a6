// File-series images: the sum of ten native files (KZT_AVERAGE) and a montage
// of sixteen re-binned by 4 (KZT_COMPOSITE), each beside the plain reading of
// the same files, on 2048^2 and 4096^2 images. The members are distinct
// files (copies of one), each read from its own pages of the page cache, as
// a series on a fast disk would be; links to one file would let the
// block-wise reading find every member's blocks already in the processor
// cache after the first.

#include <benchmark/benchmark.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/file_series.hpp"
#include "app/imageops/upcalls.hpp"
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

// The series' files: member_001.kzt ... copies of one native file of N x N.
struct SeriesFiles {
  std::string directory;
  KztFileSeries series;
  SeriesFiles(Index n, int members) : directory(scratch("series-" + std::to_string(n))) {
    std::filesystem::create_directories(directory);
    const std::string image = directory + "/image.kzt";
    const std::vector<float> data = bench::test_image(n);
    std::vector<float> xaxis(static_cast<std::size_t>(n)), yaxis(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < xaxis.size(); ++i)
      xaxis[i] = yaxis[i] = static_cast<float>(i) + 0.5f;
    io_set_line_source([&](std::string_view, std::string& line) {
      line = image;
      return true;
    });
    Status status = kStatusGood;
    int retstat = 1;
    FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, xaxis, yaxis, data, {}, "bench", "x", "y", "z",
                  false, 1e-4f, 1e-4f, retstat, status);
    io_set_line_source({});
    series.prefix = directory + "/member_";
    series.digits = 3;
    series.extension = ".kzt";
    series.start = 1;
    series.end = members;
    for (int k = 1; k <= members; ++k) {
      std::string name;
      kzt_series_name(series, k, name, status);
      std::filesystem::copy_file(image, name);
    }
    kzt_series_name(series, 1, series.first_file, status);
    kzt_series_name(series, members, series.last_file, status);
  }
  ~SeriesFiles() { std::filesystem::remove_all(directory); }
};

SeriesFiles* current = nullptr;

void read_given(TextLines, int, const ImageTarget& target, bool& read, std::string& file_name,
                Status& status) {
  int retstat = 1;
  float overload = 0.0f;
  FIO_IN_KESTA(true, target, file_name, retstat, overload, status);
  read = retstat == 0;
}

// The block-wise road of the same reader, as the graphical input takes it
// for a series in the native format.
std::unique_ptr<RowSource> rows_given(std::string& file_name, bool& whole, Status& status) {
  whole = false;
  std::string path;
  if (!input_path(file_name, path, status)) return nullptr;
  ScratchImage image;
  return open_kesta_rows(path, image, status);
}

void def_fs(bool, const ImageTarget& target, Index& xs, Index& ys, Index& xe, Index& ye,
            int& retstat, KztFileSeries& series, Status& status) {
  bool read = false;
  std::string name = current->series.first_file;
  read_given({}, kFioGivenName, target, read, name, status);
  retstat = read ? 0 : 1;
  series = current->series;
  xs = ys = 1;
  xe = target.xnumdat;
  ye = target.ynumdat;
}

// The program arrays of N x N, the upward calls and the reader of the tests.
struct Program {
  KztDataSets sets;
  UpcallsOverride upcalls{ImageopsUpcalls{.def_fs = def_fs}};
  explicit Program(Index n) {
    Status status = kStatusGood;
    sets.memory_exist = false;
    kzt_allocate_arrays(n, n, false, false, false, vosq_kzt_arrays, status);
    kzt_series_reader() = read_given;
    kzt_series_row_reader() = rows_given;
  }
  ~Program() {
    Status status = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, status);
  }
};

// Reading the members alone: the figure the series operations compare with.
void read_members(benchmark::State& state, int members) {
  const Index n = state.range(0);
  SeriesFiles files(n, members);
  Program program(n);
  Quiet quiet;
  KztArrays& a = vosq_kzt_arrays;
  for (auto _ : state) {
    for (int k = 1; k <= members; ++k) {
      Status status = kStatusGood;
      std::string name;
      kzt_series_name(files.series, k, name, status);
      bool variances = false;
      const ImageTarget target{a.xmaxdat,
                               a.ymaxdat,
                               variances,
                               a.xnumdat,
                               a.ynumdat,
                               kzt_xline(a.xaxis),
                               kzt_yline(a.yaxis),
                               kzt_image(a.data),
                               {},
                               program.sets.title,
                               program.sets.xlabel,
                               program.sets.ylabel,
                               program.sets.zlabel,
                               program.sets.x_pixel_size,
                               program.sets.y_pixel_size,
                               &a.data,
                               nullptr};
      bool read = false;
      read_given({}, kFioGivenName, target, read, name, status);
      if (!read) state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(a.data);
  }
}

void BM_ReadTenNative(benchmark::State& state) { read_members(state, 10); }
void BM_ReadSixteenNative(benchmark::State& state) { read_members(state, 16); }

void BM_AverageTenNative(benchmark::State& state) {
  const Index n = state.range(0);
  SeriesFiles files(n, 10);
  current = &files;
  Program program(n);
  Quiet quiet;
  for (auto _ : state) {
    Status status = kStatusGood;
    KZT_AVERAGE(true, program.sets, status);
    if (status != kStatusGood) state.SkipWithError("KZT_AVERAGE failed");
    benchmark::DoNotOptimize(vosq_kzt_arrays.data);
  }
}

void BM_CompositeSixteenRebinnedBy4(benchmark::State& state) {
  const Index n = state.range(0);
  SeriesFiles files(n, 16);
  current = &files;
  Program program(n);
  Quiet quiet;
  for (auto _ : state) {
    // Typed answers toggle the form's YES/NO items: both off from the start.
    kzt_forget_answers();
    std::deque<std::string> answers{"SUBTRACT",   "ROI", "NO. PER ROW", "4",
                                    "RE-BIN NO.", "4",   "O.K."};
    io_set_line_source([&](std::string_view, std::string& line) {
      if (answers.empty()) return false;
      line = answers.front();
      answers.pop_front();
      return true;
    });
    Status status = kStatusGood;
    KZT_COMPOSITE(program.sets, status);
    io_set_line_source({});
    if (status != kStatusGood || vosq_kzt_arrays.xnumdat != n)
      state.SkipWithError("KZT_COMPOSITE failed");
    benchmark::DoNotOptimize(vosq_kzt_arrays.data);
  }
}

BENCHMARK(BM_ReadTenNative)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AverageTenNative)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSixteenNative)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompositeSixteenRebinnedBy4)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kesta
