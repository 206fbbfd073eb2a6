// Fourier transforms, spatial convolution and the least-squares engine on
// image-sized problems.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/status.hpp"
#include "numeric/convolution.hpp"
#include "numeric/fft.hpp"
#include "numeric/modelfit.hpp"
#include "numeric/profiles2d.hpp"

namespace kesta {
namespace {

std::vector<float> test_image(Index nx, Index ny) {
  std::vector<float> image(static_cast<std::size_t>(nx * ny));
  for (Index y = 0; y < ny; ++y)
    for (Index x = 0; x < nx; ++x)
      image[static_cast<std::size_t>(x + y * nx)] = std::sin(0.01f * x) * std::cos(0.013f * y) + 0.001f * ((x * 7 + y * 13) % 17);
  return image;
}

// Forward transform alone; the input is restored outside the timing.
void BM_FFT2DForward(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> input = test_image(n, n);
  std::vector<float> data = input, xtable(2 * n), ytable(2 * n);
  bool tables_done = false;
  Status status = ST_GOOD();
  MA_2DFRFFT(n, n, n, n, n, true, tables_done, xtable, ytable, data, status);  // builds the tables
  for (auto _ : state) {
    state.PauseTiming();
    data = input;
    state.ResumeTiming();
    MA_2DFRFFT(n, n, n, n, n, true, tables_done, xtable, ytable, data, status);
    benchmark::DoNotOptimize(data.data());
  }
  if (status != ST_GOOD()) state.SkipWithError("transform failed");
}
BENCHMARK(BM_FFT2DForward)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

// Forward and inverse transform in turn.
void BM_FFT2DRoundTrip(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> data = test_image(n, n), xtable(2 * n), ytable(2 * n);
  bool tables_done = false;
  Status status = ST_GOOD();
  for (auto _ : state) {
    MA_2DFRFFT(n, n, n, n, n, true, tables_done, xtable, ytable, data, status);
    MA_2DIHFFT(n, n, n, n, true, tables_done, xtable, ytable, data, status);
    benchmark::DoNotOptimize(data.data());
  }
  if (status != ST_GOOD()) state.SkipWithError("transform failed");
}
BENCHMARK(BM_FFT2DRoundTrip)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_SConvolution5x5(benchmark::State& state) {
  const Index n = 4096;
  const std::vector<float> data = test_image(n, n);
  std::vector<float> out(data.size()), kernel(25);
  for (int i = 0; i < 25; ++i) kernel[static_cast<std::size_t>(i)] = 1.0f / float(1 + i);
  Status status = ST_GOOD();
  for (auto _ : state) {
    MA_SCONVOLUTION(n, n, data, 1, 1, n, n, 5, 5, 5, 5, kernel, n, n, out, status);
    benchmark::DoNotOptimize(out.data());
  }
  if (status != ST_GOOD()) state.SkipWithError("convolution failed");
}
BENCHMARK(BM_SConvolution5x5)->Unit(benchmark::kMillisecond);

// A Gaussian spot on a plane: the plane covers the region, the spot only its
// reach of 5 widths.
void spot_model(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>, Index xs,
                Index ys, Index xe, Index ye, void*, void*, void*, void*, int,
                std::span<const float> p, Index xmaxmod, Index ymaxmod, bool, int&,
                std::span<float> model, Status& status) {
  for (Index y = ys; y <= ye; ++y) {
    float* line = model.data() + (y - 1) * xmaxmod;
    const float base = p[5] + p[7] * float(y);
    for (Index x = xs; x <= xe; ++x) line[x - 1] = base + p[6] * float(x);
  }
  MA_2GAUSSIAN(xmaxmod, ymaxmod, xs, ys, xe, ye, p[0], p[1], p[2], p[3], p[4], 0.3f, 5.0f, 1,
               model, status);
}

void BM_ModelFitSpotOnPlane(benchmark::State& state) {
  const Index n = 1024;
  const std::vector<float> truth{500.0f, 480.3f, 530.7f, 6.0f, 3.5f, 20.0f, 0.01f, -0.02f};
  std::vector<float> data(static_cast<std::size_t>(n * n), 0.0f), sigmas(data.size(), 1.0f);
  std::vector<std::uint8_t> mask(data.size(), 0);
  int terminate = 0;
  Status status = ST_GOOD();
  spot_model(false, n, n, data, mask, 1, 1, n, n, nullptr, nullptr, nullptr, nullptr, 8, truth, n,
             n, true, terminate, data, status);
  const bool constrained[8] = {};
  const float scales[8] = {50.0f, 1.0f, 1.0f, 1.0f, 1.0f, 5.0f, 0.01f, 0.01f};
  std::vector<float> model(data.size());
  int end_code = 0, calls = 0, total_calls = 0;
  float ss = 0;
  for (auto _ : state) {
    std::vector<float> params{400.0f, 478.0f, 532.0f, 5.0f, 4.0f, 15.0f, 0.0f, 0.0f};
    MA_MODELFIT(0, spot_model, false, false, true, n, n, data, mask, sigmas, 1, 1, n, n, 1, 200,
                1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr, 8, constrained,
                scales, n, n, true, params, model, end_code, calls, ss, status);
    total_calls += calls;
  }
  state.counters["model_calls"] = benchmark::Counter(total_calls, benchmark::Counter::kAvgIterations);
  state.counters["end_code"] = end_code;
  if (status != ST_GOOD()) state.SkipWithError("fit failed");
}
BENCHMARK(BM_ModelFitSpotOnPlane)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kesta
