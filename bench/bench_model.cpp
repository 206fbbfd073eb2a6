// Model fitting: the 2-D model image, the 2-D fit, the multiple 1-D fit, the
// surface polynomial and the parameter file with a large mask.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/fitting/fit2d.hpp"
#include "app/fitting/fitting_test_support.hpp"
#include "app/fitting/model.hpp"
#include "app/fitting/olmi.hpp"
#include "app/fitting/parameter_file.hpp"
#include "app/fitting/surface.hpp"
#include "bench/bench_files.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

// Gaussians spread over an N x N region on a surface of orders X_ORDER, Y_ORDER.
FitModel peaks_on_surface(Index n, int peaks, int order) {
  FitModel m;
  m.x_order = m.y_order = order;
  m.x_min_poly = m.y_min_poly = 0.5f;
  m.x_max_poly = m.y_max_poly = static_cast<float>(n) - 0.5f;
  std::vector<float> c(static_cast<std::size_t>((order + 1) * (order + 1)), 0.5f);
  c[0] = 40.0f;
  const int feature = ++m.num_features;
  for (std::size_t k = 0; k < c.size(); ++k) {
    const std::size_t i = static_cast<std::size_t>(m.num_parameters++);
    m.params[i] = c[k];
    m.codes[i] = make_code(feature, kSurface, static_cast<int>(k) + 1);
    m.scales[i] = 1.0f;
  }
  for (int p = 0; p < peaks; ++p) {
    const float x = static_cast<float>(n) * (0.1f + 0.8f * static_cast<float>((p * 7) % peaks) / peaks);
    const float y = static_cast<float>(n) * (0.1f + 0.8f * static_cast<float>(p) / peaks);
    testing::add_feature(m, kGaussian, {x, y, 100.0f + p, 3.0f, 2.0f, 0.3f});
  }
  return m;
}

ModelFrame frame_of(Index n, const std::vector<float>& axis) {
  ModelFrame f;
  f.xmaxdat = f.ymaxdat = f.xnumdat = f.ynumdat = n;
  f.x_axis = f.y_axis = axis;
  return f;
}

void BM_ModelImage(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float> axis = testing::centre_axis(n);
  const ModelFrame frame = frame_of(n, axis);
  const FitModel m = peaks_on_surface(n, 20, 3);
  std::vector<float> image(static_cast<std::size_t>(n * n));
  for (auto _ : state) {
    Status status = kStatusGood;
    kzt_model_image(frame, m, 1, 1, n, n, image, status);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_ModelImage)->Arg(2048)->Unit(benchmark::kMillisecond);

// The reference: one copy of the region.
void BM_RegionCopy(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float> a(static_cast<std::size_t>(n * n), 1.0f), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * sizeof(float));
    benchmark::DoNotOptimize(b.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_RegionCopy)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_Fit2d(benchmark::State& state) {
  const Index n = 512;
  const std::vector<float> axis = testing::centre_axis(n);
  const ModelFrame frame = frame_of(n, axis);
  const FitModel truth = peaks_on_surface(n, 5, 1);
  std::vector<float> data(static_cast<std::size_t>(n * n)), out(data.size());
  Status status = kStatusGood;
  kzt_model_image(frame, truth, 1, 1, n, n, data, status);
  FitModel start = truth;
  for (int i = 4; i < start.num_parameters; i += 6) start.params[static_cast<std::size_t>(i)] += 1.0f;
  const bench::Quiet quiet;
  for (auto _ : state) {
    FitModel m = start;
    KZT_LSQKESTA(frame, data, {}, {}, 1, 1, n, n, false, 11.5f, m, out, status);
    benchmark::DoNotOptimize(m.params.data());
  }
}
BENCHMARK(BM_Fit2d)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_OlmiOptimise(benchmark::State& state) {
  const Index nx = 2048, ny = 500;
  FitModel m;
  for (int p = 0; p < 3; ++p) {
    const int f = ++m.num_features;
    const std::size_t i = static_cast<std::size_t>(m.num_parameters);
    m.params[i] = 400.0f + 600.0f * p;
    m.params[i + 1] = 100.0f;
    m.params[i + 2] = 5.0f;
    m.codes[i] = 20010200 + f;
    m.codes[i + 1] = 20200 + f;
    m.codes[i + 2] = 10030200 + f;
    m.scales[i] = m.scales[i + 2] = 1.0f;
    m.scales[i + 1] = 5.0f;
    m.num_parameters += 3;
  }
  const int f = ++m.num_features;
  for (int k = 0; k < 3; ++k) {
    const std::size_t i = static_cast<std::size_t>(m.num_parameters++);
    m.params[i] = k == 0 ? 20.0f : 1.0f;
    m.codes[i] = (k == 0 ? 60010500 : 500 + 10000 * (k + 1)) + f;
    m.scales[i] = 1.0f;
  }
  m.x_order = 2;
  m.x_min_poly = 0.0f;
  m.x_max_poly = static_cast<float>(nx);
  std::vector<float> data(static_cast<std::size_t>(nx * ny));
  for (Index y = 1; y <= ny; ++y) {
    FitModel row_model = m;
    row_model.params[0] += 0.01f * static_cast<float>(y);
    Status status = kStatusGood;
    kzt_olmi_row_model(row_model, nx, 1, nx,
                       std::span<float>(data.data() + (y - 1) * nx, static_cast<std::size_t>(nx)),
                       status);
  }
  const std::vector<float> axis = testing::centre_axis(nx);
  std::vector<float> store(static_cast<std::size_t>(kMaxVecValues * kMaxVectors));
  KztVectors vectors;
  vectors.vectors = store.data();
  const bench::Quiet quiet;
  OlmiControls controls;
  for (auto _ : state) {
    Status status = kStatusGood;
    KZT_OLMIOPTIMISE(nx, ny, data, {}, {}, axis, 1, 1, nx, ny, 1, "", controls, m, vectors,
                     nullptr, status);
  }
}
BENCHMARK(BM_OlmiOptimise)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SurfaceFit(benchmark::State& state) {
  const Index n = 2048;
  const std::vector<float> axis = testing::centre_axis(n);
  const std::vector<float> data = bench::test_image(n);
  std::vector<float> out(data.size());
  for (auto _ : state) {
    SurfaceFit fit;
    int failure = 0;
    Status status = kStatusGood;
    KZT_FITCHEBYSHEV(n, n, 1, 1, n, n, data, axis, axis, {}, 4, 4, fit, failure, status);
    kzt_surface_image(false, fit, 4, 4, n, n, 1, 1, n, n, axis, axis, out, status);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_SurfaceFit)->Unit(benchmark::kMillisecond);

void BM_ParameterFile(benchmark::State& state) {
  const Index n = 4096;
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n), 0), back;
  for (std::size_t i = 0; i < mask.size(); i += 13) mask[i] = 1;
  FitModel m = peaks_on_surface(n, 20, 3);
  const std::string path = bench::scratch("model.par");
  const bench::Quiet quiet;
  for (auto _ : state) {
    Status status = kStatusGood;
    FitControls c;
    kzt_write_parameter_file(path, n, n, n, n, mask, m, c, status);
    FitModel read;
    int retstat = 0;
    kzt_read_parameter_file(path, n, n, read, c, back, retstat, status);
    benchmark::DoNotOptimize(back.data());
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_ParameterFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kesta
