#include "numeric/modelfit.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// A Gaussian spot on a plane in pixel coordinates: height, x0, y0, sigma,
// background, x slope, y slope. Writes the model in whichever frame it is asked.
void spot_on_plane(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                   Index xs, Index ys, Index xe, Index ye, void* calls, void*, void*, void*, int,
                   std::span<const float> p, Index xmaxmod, Index, bool in_data_frame, int&,
                   std::span<float> model, Status&) {
  if (calls != nullptr) ++*static_cast<int*>(calls);
  for (Index y = ys; y <= ye; ++y)
    for (Index x = xs; x <= xe; ++x) {
      const float dx = x - p[1], dy = y - p[2];
      const float v = p[0] * std::exp(-(dx * dx + dy * dy) / (2 * p[3] * p[3])) + p[4] +
                      p[5] * (x - 20.0f) + p[6] * (y - 15.0f);
      const Index e = in_data_frame ? element(x, y, xmaxmod) : element(x - xs + 1, y - ys + 1, xmaxmod);
      model[e] = v;
    }
}

struct SpotFit {
  static constexpr Index kX = 40, kY = 30;
  std::array<float, 7> truth{50.0f, 18.3f, 14.6f, 2.5f, 10.0f, 0.2f, -0.1f};
  std::vector<float> data = std::vector<float>(kX * kY);
  std::vector<std::uint8_t> mask = std::vector<std::uint8_t>(kX * kY, 0);
  std::vector<float> sigmas = std::vector<float>(kX * kY, 2.0f);
  std::array<bool, 7> constrained{};
  std::array<float, 7> scales{10.0f, 1.0f, 1.0f, 0.5f, 1.0f, 0.1f, 0.1f};
  std::array<float, 7> params{40.0f, 17.5f, 15.5f, 3.0f, 8.0f, 0.0f, 0.0f};
  std::vector<float> model = std::vector<float>(kX * kY, 0.0f);
  int end_code = -1234, num_calls = -1234, evaluations = 0;
  float sum_squares = -1.0f;
  Index xs = 3, ys = 2, xe = 38, ye = 29;
  bool weighted = false, use_mask = false, data_frame = false;
  int max_calls = 200;

  SpotFit() {
    int terminate = 0;
    Status status = ST_GOOD();
    spot_on_plane(false, kX, kY, {}, {}, 1, 1, kX, kY, nullptr, nullptr, nullptr, nullptr, 7,
                  truth, kX, kY, true, terminate, data, status);
  }

  Status run(const ModelFunction& f, int info = 0) {
    Status status = ST_GOOD();
    const Index xmod = data_frame ? kX : xe - xs + 1, ymod = data_frame ? kY : ye - ys + 1;
    MA_MODELFIT(info, f, use_mask, weighted, true, kX, kY, data, mask, sigmas, xs, ys, xe, ye, 1,
                max_calls, 1.0e-5f, 100.0f, 5.0e-7f, &evaluations, nullptr, nullptr, nullptr, 7,
                constrained, scales, xmod, ymod, data_frame, params, model, end_code, num_calls,
                sum_squares, status);
    return status;
  }

  // Sum of squares of PARAMS computed afresh.
  double recomputed() {
    std::vector<float> m(kX * kY);
    int terminate = 0;
    Status status = ST_GOOD();
    spot_on_plane(false, kX, kY, {}, {}, xs, ys, xe, ye, nullptr, nullptr, nullptr, nullptr, 7,
                  params, kX, kY, true, terminate, m, status);
    double sum = 0;
    for (Index y = ys; y <= ye; ++y)
      for (Index x = xs; x <= xe; ++x) {
        if (use_mask && mask[element(x, y, kX)] != 0) continue;
        double r = m[element(x, y, kX)] - data[element(x, y, kX)];
        if (weighted) r /= sigmas[element(x, y, kX)];
        sum += r * r;
      }
    return sum;
  }
};

TEST(ModelFit, FindsTheKnownOptimumInEitherFrame) {
  for (bool frame : {false, true}) {
    for (bool weighted : {false, true}) {
      SpotFit fit;
      fit.data_frame = frame;
      fit.weighted = weighted;
      ASSERT_EQ(fit.run(spot_on_plane), ST_GOOD());
      EXPECT_LE(fit.end_code, 0);
      EXPECT_GE(fit.end_code, -3);
      for (int k = 0; k < 7; ++k) EXPECT_NEAR(fit.params[k], fit.truth[k], 2e-3f * (1 + std::fabs(fit.truth[k]))) << k;
      EXPECT_LT(fit.sum_squares, 1e-3f);
      EXPECT_EQ(fit.num_calls, fit.evaluations);
    }
  }
}

TEST(ModelFit, MaskedElementsAreLeftOut) {
  SpotFit fit;
  fit.use_mask = true;
  for (Index x = 10; x <= 12; ++x) {
    fit.data[element(x, 20, SpotFit::kX)] = 1.0e6f;
    fit.mask[element(x, 20, SpotFit::kX)] = 1;
    fit.sigmas[element(x, 20, SpotFit::kX)] = 0.0f;  // never divided by
  }
  fit.weighted = true;
  ASSERT_EQ(fit.run(spot_on_plane), ST_GOOD());
  EXPECT_LE(fit.end_code, 0);
  EXPECT_NEAR(fit.params[0], 50.0f, 0.1f);
}

TEST(ModelFit, ResidualModelWithoutData) {
  // Rosenbrock's valley as two residuals the model computes itself.
  auto valley = [](bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>, Index,
                   Index, Index, Index, void*, void*, void*, void*, int, std::span<const float> p,
                   Index, Index, bool, int&, std::span<float> model, Status&) {
    model[0] = 10.0f * (p[1] - p[0] * p[0]);
    model[1] = 1.0f - p[0];
  };
  std::vector<float> data(2, 0.0f), model(2), sigmas(2, 1.0f);
  std::vector<std::uint8_t> mask(2, 0);
  std::array<bool, 2> constrained{};
  std::array<float, 2> scales{1.0f, 1.0f}, params{-1.2f, 1.0f};
  int end_code = 0, calls = 0;
  float ss = 0;
  Status status = ST_GOOD();
  MA_MODELFIT(0, valley, false, false, false, 2, 1, data, mask, sigmas, 1, 1, 2, 1, 1, 1000,
              1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr, 2, constrained, scales,
              2, 1, true, params, model, end_code, calls, ss, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_LE(end_code, 0);
  EXPECT_NEAR(params[0], 1.0f, 1e-3f);
  EXPECT_NEAR(params[1], 1.0f, 2e-3f);
}

TEST(ModelFit, CallLimitReturnsConsistentParametersModelAndSum) {
  SpotFit fit;
  fit.max_calls = 10;
  testing::TerminalCapture capture;
  ASSERT_EQ(fit.run(spot_on_plane), ST_GOOD());
  EXPECT_EQ(fit.end_code, 4);
  EXPECT_NE(capture.text().find("WARNING: Too many calls to the calculating function"), std::string::npos);
  // The limit is tested after each trial step, so a Jacobian (7 calls) and
  // the closing evaluation may pass it.
  EXPECT_GE(fit.num_calls, fit.max_calls);
  EXPECT_LE(fit.num_calls, fit.max_calls + 7 + 1);
  EXPECT_EQ(fit.num_calls, fit.evaluations);
  // In caller units, not around the internal 100.
  EXPECT_NEAR(fit.params[1], 18.3f, 2.0f);
  EXPECT_NEAR(fit.sum_squares, fit.recomputed(), 1e-4 * fit.recomputed() + 1e-3);
  // MODEL is the model of the returned parameters.
  const float dx = 5 - fit.params[1], dy = 7 - fit.params[2];
  const float want = fit.params[0] * std::exp(-(dx * dx + dy * dy) / (2 * fit.params[3] * fit.params[3])) +
                     fit.params[4] + fit.params[5] * (5 - 20.0f) + fit.params[6] * (7 - 15.0f);
  EXPECT_NEAR(fit.model[element(5 - fit.xs + 1, 7 - fit.ys + 1, fit.xe - fit.xs + 1)], want, 1e-4f);
}

TEST(ModelFit, NothingToDo) {
  SpotFit all_fixed;
  all_fixed.constrained.fill(true);
  all_fixed.scales.fill(0.0f);  // irrelevant for fixed parameters
  const auto start = all_fixed.params;
  testing::TerminalCapture capture;
  ASSERT_EQ(all_fixed.run(spot_on_plane), ST_GOOD());
  EXPECT_EQ(all_fixed.end_code, -10);
  EXPECT_EQ(all_fixed.num_calls, -1234);
  EXPECT_EQ(all_fixed.evaluations, 0);
  EXPECT_EQ(all_fixed.params, start);
  EXPECT_EQ(capture.text(), "");

  SpotFit tiny;
  tiny.xs = tiny.xe = 5;
  tiny.ys = 5;
  tiny.ye = 7;  // 3 values, 4 free parameters
  tiny.constrained = {false, false, false, false, true, true, true};
  ASSERT_EQ(tiny.run(spot_on_plane), ST_GOOD());
  EXPECT_EQ(tiny.end_code, 1);
  EXPECT_EQ(tiny.evaluations, 0);
}

TEST(ModelFit, FailingModelEndsTheFitWithItsStatus) {
  SpotFit fit;
  auto failing = [&](bool a, Index b, Index c, std::span<const float> d, std::span<const std::uint8_t> e,
                     Index f, Index g, Index h, Index i, void* p1, void* p2, void* p3, void* p4, int n,
                     std::span<const float> p, Index xm, Index ym, bool fr, int& t, std::span<float> m,
                     Status& s) {
    spot_on_plane(a, b, c, d, e, f, g, h, i, p1, p2, p3, p4, n, p, xm, ym, fr, t, m, s);
    if (fit.evaluations == 4) st_fail(s, 20099, "Subroutine TEST_MODEL V0.1");
  };
  EXPECT_EQ(fit.run(failing), 20099);
  EXPECT_EQ(fit.end_code, 3);
  EXPECT_EQ(fit.evaluations, 4);
  EXPECT_EQ(fit.num_calls, 4);
  // Parameters are back in caller units: the third Jacobian column moved p[2].
  EXPECT_NEAR(fit.params[0], 40.0f, 0.1f);
  EXPECT_NEAR(fit.params[2], 15.5f, 0.1f);

  SpotFit stopped;
  auto stopping = [&](bool a, Index b, Index c, std::span<const float> d, std::span<const std::uint8_t> e,
                      Index f, Index g, Index h, Index i, void* p1, void* p2, void* p3, void* p4, int n,
                      std::span<const float> p, Index xm, Index ym, bool fr, int& t, std::span<float> m,
                      Status& s) {
    spot_on_plane(a, b, c, d, e, f, g, h, i, p1, p2, p3, p4, n, p, xm, ym, fr, t, m, s);
    if (stopped.evaluations == 2) t = 1;
  };
  testing::TerminalCapture capture;
  EXPECT_EQ(stopped.run(stopping), ST_GOOD());
  EXPECT_EQ(stopped.end_code, 3);
  EXPECT_EQ(stopped.evaluations, 2);
  // The parameters of the stopping evaluation (the first Jacobian column's
  // step of 0.0707 normalised units times the scale of 10).
  EXPECT_NEAR(stopped.params[0], 40.707f, 1e-3f);
  EXPECT_EQ(stopped.params[1], 17.5f);
  EXPECT_NE(capture.text().find("ERROR: The model function has set termination"), std::string::npos);
}

TEST(ModelFit, ProgressLines) {
  SpotFit fit;
  testing::TerminalCapture capture;
  ASSERT_EQ(fit.run(spot_on_plane, 1), ST_GOOD());
  const std::string text = capture.text();
  EXPECT_EQ(text.rfind("INFO: Iteration =      1\nINFO: Iteration =      2 Sum of squares = ", 0), 0u) << text;
  EXPECT_NE(text.find("INFO: Average mis-fit per element = "), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
}

TEST(ModelFit, RefusedArguments) {
  struct Case {
    const char* what;
    void (*change)(SpotFit&);
    Status code;
  };
  const Case cases[] = {
      {"region", [](SpotFit& f) { f.xe = 41; }, 20005},
      {"y region", [](SpotFit& f) { f.ys = 0; }, 20006},
      {"calls", [](SpotFit& f) { f.max_calls = 0; }, 20017},
      {"scale", [](SpotFit& f) { f.scales[3] = 0.0f; }, 20021},
      {"sigma", [](SpotFit& f) { f.weighted = true; f.sigmas[element(20, 20, SpotFit::kX)] = 0.0f; }, 20021},
  };
  for (const Case& c : cases) {
    SpotFit fit;
    c.change(fit);
    const auto start = fit.params;
    EXPECT_EQ(fit.run(spot_on_plane), c.code) << c.what;
    EXPECT_EQ(fit.evaluations, 0) << c.what;
    EXPECT_EQ(fit.params, start) << c.what;
  }
  // A model array one column short of the region.
  SpotFit fit;
  Status status = ST_GOOD();
  MA_MODELFIT(0, spot_on_plane, false, false, true, SpotFit::kX, SpotFit::kY, fit.data, fit.mask,
              fit.sigmas, 3, 2, 38, 29, 1, 100, 1e-5f, 100.0f, 5e-7f, nullptr, nullptr, nullptr,
              nullptr, 7, fit.constrained, fit.scales, 35, 28, false, fit.params, fit.model,
              fit.end_code, fit.num_calls, fit.sum_squares, status);
  EXPECT_EQ(status, 20005);
}

TEST(ModelFit, WorkStorageFailureIsReported) {
  SpotFit fit;
  const auto start = fit.params;
  modelfit_work_limit = 1000;
  const Status status = fit.run(spot_on_plane);
  modelfit_work_limit = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(status, 11002);
  EXPECT_EQ(fit.end_code, 2);
  EXPECT_EQ(fit.evaluations, 0);
  EXPECT_EQ(fit.params, start);
}

}  // namespace
}  // namespace kesta
