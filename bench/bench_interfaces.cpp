// The interactive scaled subtraction: the work image alone, against a copy
// of the same region, and one whole step (recompute and draw).

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "app/interfaces/general_menus.hpp"
#include "bench/gsystem_recorder.hpp"

namespace {

using kesta::Index;

struct Images {
  Index n;
  std::vector<float> data, mdata, work;
  explicit Images(Index size)
      : n(size), data(size * size), mdata(size * size), work(size * size) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.0f, 1000.0f);
    for (float& v : data) v = value(random);
    for (float& v : mdata) v = value(random);
  }
};

void BM_ScaledBis(benchmark::State& state) {
  Images im(state.range(0));
  float factor = 0.9f;
  for (auto _ : state) {
    kesta::KZT_SCALEDBIS(im.n, im.n, 1, 1, im.n, im.n, factor, im.data, im.mdata, im.n, im.n,
                         im.work);
    benchmark::DoNotOptimize(im.work.data());
    factor *= 1.01f;
  }
  state.SetItemsProcessed(state.iterations() * im.n * im.n);
}
BENCHMARK(BM_ScaledBis)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// The reference: a copy of the same region.
void BM_RegionMemcpy(benchmark::State& state) {
  Images im(state.range(0));
  for (auto _ : state) {
    std::memcpy(im.work.data(), im.data.data(), im.data.size() * sizeof(float));
    benchmark::DoNotOptimize(im.work.data());
  }
  state.SetItemsProcessed(state.iterations() * im.n * im.n);
}
BENCHMARK(BM_RegionMemcpy)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// One factor step: the work image recomputed and drawn as an image onto a
// workstation that keeps only a summary of what is drawn.
void BM_ScaledSubStep(benchmark::State& state) {
  Images im(state.range(0));
  std::vector<float> axis(im.n);
  for (Index k = 0; k < im.n; ++k) axis[k] = static_cast<float>(k) + 0.5f;
  kesta::Status status = kesta::kStatusGood;
  kesta::bench::Recorder recorder(status);
  float factor = 0.9f;
  for (auto _ : state) {
    kesta::KZT_SCALEDBIS(im.n, im.n, 1, 1, im.n, im.n, factor, im.data, im.mdata, im.n, im.n,
                         im.work);
    kesta::GS_PLOT(im.n, im.n, im.work, axis, axis, 1, 1, im.n, im.n, "Scaled subtraction",
                   "X", "Y", "Z", status);
    recorder.items.clear();
    factor *= 1.01f;
  }
  if (status != kesta::kStatusGood) state.SkipWithError("drawing failed");
}
BENCHMARK(BM_ScaledSubStep)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
