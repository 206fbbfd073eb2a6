// Widgets: the file chooser on a directory holding as many short-named files
// as its listing takes (10000): listing and sorting, the first drawing of the
// dialogue, and a page scroll of the file list (only the visible rows drawn).

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/page_recorder_test_support.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/file_selection.hpp"
#include "graphics/system/widgets.hpp"
#include "gsystem_recorder.hpp"

namespace {

using namespace kesta;

// A folder of 10000 empty files named f00000 ... f09999, made once.
const std::string& full_folder() {
  static testing::TempDir dir;
  static const std::string path = [] {
    for (int i = 0; i < 10000; ++i) {
      std::string name = std::to_string(i);
      name = "f" + std::string(5 - name.size(), '0') + name;
      std::ofstream(dir.file(name));
    }
    return dir.path().string();
  }();
  return path;
}

using bench::Recorder;

// The folder's files and sub-directories, listed and sorted.
void listed(const std::string& folder, GsNameList& files, GsNameList& dirs, Status& status) {
  gs_list_files(folder, "", "", files, status);
  gs_list_directories(folder, dirs, status);
}

void BM_FileListing(benchmark::State& state) {
  const std::string& folder = full_folder();
  Status status = kStatusGood;
  for (auto _ : state) {
    GsNameList files;
    gs_list_files(folder, "", "", files, status);
    benchmark::DoNotOptimize(files.order.data());
  }
  state.counters["files"] = 10000;
}
BENCHMARK(BM_FileListing)->Unit(benchmark::kMillisecond);

void BM_FileSelectionFirstDraw(benchmark::State& state) {
  const std::string& folder = full_folder();
  Status status = kStatusGood;
  Recorder recorder(status);
  GsNameList files, dirs;
  listed(folder, files, dirs, status);
  for (auto _ : state) {
    recorder.items.clear();
    GsSelectionLayout layout;
    GS_DRAW_SELECTION(gs_state.message, {"SELECT A FILE"}, folder, dirs, files, {"INFO"}, layout,
                      status);
  }
}
BENCHMARK(BM_FileSelectionFirstDraw)->Unit(benchmark::kMillisecond);

void BM_FileListPageScroll(benchmark::State& state) {
  const std::string& folder = full_folder();
  Status status = kStatusGood;
  Recorder recorder(status);
  GsNameList files, dirs;
  listed(folder, files, dirs, status);
  GsSelectionLayout layout;
  GS_DRAW_SELECTION(gs_state.message, {"SELECT A FILE"}, folder, dirs, files, {"INFO"}, layout,
                    status);
  for (auto _ : state) {
    recorder.items.clear();
    files.first = files.first + layout.files.rows - 2;
    if (files.first > files.shown - layout.files.rows) files.first = 1;
    GS_DRAW_LIST(layout.files, files, status);
  }
}
BENCHMARK(BM_FileListPageScroll)->Unit(benchmark::kMicrosecond);

}  // namespace
