// The filters and geometric transforms of the active data region on whole
// images, each as the command runs it (answers from a scripted line source).
// Counters: x_memcpy is the time of one operation over the time of one
// memcpy of the image in the same run; x_numeric is the time over that of
// the numerical routine that does the pixel work, called directly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/imageops/geometric_transforms.hpp"
#include "app/imageops/image_filters.hpp"
#include "core/io_output.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "numeric/filters.hpp"
#include "numeric/rebin.hpp"
#include "numeric/transform2d.hpp"

namespace {

using kesta::Index;
using kesta::Status;
using Clock = std::chrono::steady_clock;

struct Images {
  explicit Images(Index n)
      : n(n),
        data(static_cast<std::size_t>(n * n)),
        variances(data.size()),
        mdata(data.size()),
        mvariances(data.size()),
        axis(static_cast<std::size_t>(n)),
        maxis(axis.size()) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(0.0f, 1000.0f);
    for (float& v : data) v = u(rng);
    for (float& v : variances) v = u(rng);
    for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  }
  Index n;
  std::vector<float> data, variances, mdata, mvariances, axis, maxis;
};

// Seconds of one call of FN: the best of a few after a warm-up.
template <typename F>
double best_seconds(F&& fn) {
  fn();
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = Clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

double memcpy_seconds(Index n) {
  static std::map<Index, double> cache;
  if (auto it = cache.find(n); it != cache.end()) return it->second;
  std::vector<float> from(static_cast<std::size_t>(n * n), 1.0f), to(from.size());
  const double s = best_seconds([&] {
    std::memcpy(to.data(), from.data(), from.size() * sizeof(float));
    benchmark::DoNotOptimize(to.data());
  });
  return cache[n] = s;
}

// Answers every prompt from ANSWERS, round and round; the terminal output
// goes nowhere.
class Dialogue {
 public:
  explicit Dialogue(std::vector<std::string> answers) : answers_(std::move(answers)) {
    null_ = std::fopen("/dev/null", "w");
    kesta::io_set_stream(kesta::kStreamTerminal, null_);
    kesta::io_set_line_source([this](std::string_view, std::string& line) {
      line = answers_[next_++ % answers_.size()];
      return true;
    });
  }
  ~Dialogue() {
    kesta::io_set_line_source({});
    kesta::io_set_stream(kesta::kStreamTerminal, nullptr);
    std::fclose(null_);
  }
  Dialogue(const Dialogue&) = delete;
  Dialogue& operator=(const Dialogue&) = delete;

 private:
  std::vector<std::string> answers_;
  std::size_t next_ = 0;
  std::FILE* null_;
};

// Runs OPERATION as the benchmark's loop; REFERENCE is the numerical call.
// Both ratios compare the fastest run of each, which the load of a shared
// machine disturbs least.
template <typename Op, typename Ref>
void measure(benchmark::State& state, Index n, Op&& operation, Ref&& reference) {
  double best = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    operation();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  state.counters["x_memcpy"] = best / memcpy_seconds(n);
  state.counters["x_numeric"] = best / best_seconds(reference);
  state.SetItemsProcessed(state.iterations() * n * n);
}

void BM_MedianFilter3x3(benchmark::State& state) {
  const Index n = state.range(0);
  Images im(n);
  Dialogue dialogue({"3", "3"});
  std::vector<float> column(3), sorted(9);
  std::vector<Index> source(9);
  measure(
      state, n,
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::KZT_MEDIANFILTER(false, n, n, 1, 1, n, n, im.data, im.mdata, s);
      },
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::MA_MEDFILTER(n, n, im.data, 1, 1, n, n, 3, 3, 9, 3, n, n, column, sorted, source,
                            im.mdata, s);
      });
}

void BM_Blur9x9WithVariances(benchmark::State& state) {
  const Index n = state.range(0);
  Images im(n);
  Dialogue dialogue({"9", "9"});
  std::vector<float> work(static_cast<std::size_t>(n));
  measure(
      state, n,
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::KZT_BLUR(false, n, n, 1, 1, n, n, true, im.data, im.variances, im.mdata,
                        im.mvariances, s);
      },
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::MA_TOPHAT2CON(n, n, im.data, 1, 1, n, n, 9, 9, true, n, n, n, work, im.mdata, s);
      });
}

void BM_SpatialFilter(benchmark::State& state) {
  const Index n = state.range(0);
  Images im(n);
  Dialogue dialogue({"YES", "1"});
  measure(
      state, n,
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::KZT_SPATIALFILTER(n, n, 1, 1, n, n, im.data, im.mdata, s);
      },
      [&] {
        std::memcpy(im.mdata.data(), im.data.data(), im.data.size() * sizeof(float));
        benchmark::DoNotOptimize(im.mdata.data());
      });
}

void BM_Flip(benchmark::State& state) {
  const Index n = state.range(0);
  Images im(n);
  Dialogue dialogue({"YES"});
  measure(
      state, n,
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::KZT_FLIP(false, n, n, 1, 1, n, n, im.data, im.variances, s);
      },
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::MA_RFLIP(true, n, n, 1, 1, n, n, im.data, s);
      });
}

void BM_Rebin2x2(benchmark::State& state) {
  const Index n = state.range(0);
  Images im(n);
  Dialogue dialogue({"2", "2", "1", "1"});
  measure(
      state, n,
      [&] {
        Status s = kesta::ST_GOOD();
        bool written = false;
        kesta::KztMemoryExtent m;
        float px = 0.0f, py = 0.0f;
        kesta::KZT_REBIN(false, 1.0f, 1.0f, n, n, im.axis, im.axis, im.data, im.variances, 1, 1, n,
                         n, false, written, im.maxis, im.maxis, im.mdata, im.mvariances, m, px, py,
                         s);
      },
      [&] {
        Status s = kesta::ST_GOOD();
        Index xe = 0, ye = 0;
        kesta::MA_RREBIN(n, n, im.data, 1, 1, n, n, 2, 2, false, 1, 1, n, n, im.mdata, xe, ye, s);
      });
}

void BM_Transpose(benchmark::State& state) {
  const Index n = state.range(0);
  Images im(n);
  Dialogue dialogue({""});
  measure(
      state, n,
      [&] {
        Status s = kesta::ST_GOOD();
        bool refused = false;
        kesta::KztMemoryExtent m;
        kesta::KZT_TRANSPOSE(false, n, n, im.axis, im.axis, im.data, im.variances, 1, 1, n, n,
                             false, refused, im.maxis, im.maxis, im.mdata, im.mvariances, m, s);
      },
      [&] {
        Status s = kesta::ST_GOOD();
        Index a = 0, b = 0, c = 0, d = 0;
        kesta::MA_RTRANSPOSE(n, n, im.data, 1, 1, n, n, n, n, im.mdata, a, b, c, d, s);
      });
}

void BM_MoveRotate10Degrees(benchmark::State& state) {
  const Index n = state.range(0);
  Images im(n);
  Dialogue dialogue({"YES", "10", "", "", "3", "2", "0", "", "", "", ""});
  const float centre = static_cast<float>(n) / 2.0f;
  const float angle = 10.0f * 3.1415925f / 180.0f;
  measure(
      state, n,
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::KztMemoryExtent m;
        kesta::KZT_MOVE(n, n, im.axis, im.axis, im.data, im.variances, 1, 1, n, n, false, 1.0f,
                        1.0f, im.maxis, im.maxis, im.mdata, im.mvariances, m, s);
      },
      [&] {
        Status s = kesta::ST_GOOD();
        kesta::MA_2DTRANSFORM(n, n, im.data, 1, 1, n, n, centre, centre, angle, 3.0f, 2.0f, 1.0f,
                              1.0f, n, n, 1, 1, n, n, im.mdata, s);
      });
}

}  // namespace

BENCHMARK(BM_MedianFilter3x3)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur9x9WithVariances)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpatialFilter)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flip)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rebin2x2)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Transpose)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MoveRotate10Degrees)
    ->Arg(2048)
    ->Arg(4096)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
