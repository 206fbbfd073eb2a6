#include "numeric/modelfit.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "numeric/profiles2d.hpp"

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

TEST(ModelFit, DataOfHugeOrTinyValuesFitAsTheirEverydayTwin) {
  // Data of 1e30 (sums of squares of 1e60, beyond single precision) and of
  // 1e-30, with the heights, levels and slopes and their scales alike: the
  // fit ends where it ends on the data of everyday size, within rounding.
  const auto fit_at = [](double size, double& sum) {
    SpotFit fit;
    for (std::size_t i = 0; i < fit.data.size(); ++i)
      fit.data[i] = static_cast<float>(size * (fit.data[i] + 0.5 * std::sin(1.7 * double(i))));
    for (const int k : {0, 4, 5, 6}) {
      fit.params[k] = static_cast<float>(fit.params[k] * size);
      fit.scales[k] = static_cast<float>(fit.scales[k] * size);
    }
    Status status = ST_GOOD();
    MA_MODELFIT(0, spot_on_plane, false, false, true, SpotFit::kX, SpotFit::kY, fit.data, {}, {},
                fit.xs, fit.ys, fit.xe, fit.ye, 1, 200, 1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr,
                nullptr, nullptr, 7, fit.constrained, fit.scales, SpotFit::kX, SpotFit::kY, true,
                fit.params, fit.model, fit.end_code, fit.num_calls, sum, status);
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_LE(fit.end_code, 0) << size;
    return fit;
  };
  double everyday = 0.0;
  const SpotFit plain = fit_at(1.0, everyday);
  ASSERT_GT(everyday, 0.0);
  for (const double size : {1.0e-30, 1.0e30}) {
    double sum = 0.0;
    const SpotFit fit = fit_at(size, sum);
    EXPECT_NEAR(sum / (size * size), everyday, 1.0e-4 * everyday) << size;
    for (int k = 0; k < 7; ++k) {
      const double unit = k == 0 || k >= 4 ? size : 1.0;
      EXPECT_NEAR(fit.params[k] / unit, plain.params[k], 1.0e-4 * (1.0 + std::fabs(plain.params[k])))
          << size << " parameter " << k;
    }
  }
}

TEST(ModelFit, ALevelOfLargeScaleOnAHugeOffsetEndsAtTheMinimum) {
  // A spot of height 300 (SD 2.5) on a level of 3e6 and 3e7 with noise of
  // 30, the level's scale some thousands of times its resolution beside the
  // spot's: its scaled slope dwarfs the others, and a step of the spot still
  // worth many squares once passed for a converged one, while the level
  // moved by steps coarser than its noise. The fit ends within a thousandth
  // of the minimum its twin on the same data less the offset reaches (from
  // its own end, again).
  for (const double offset : {3.0e6, 3.0e7}) {
    std::uint64_t state = 12345;
    const auto noise = [&state] {
      double sum = -6.0;
      for (int k = 0; k < 12; ++k) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        sum += static_cast<double>(state >> 11) / 9007199254740992.0;
      }
      return 30.0 * sum;
    };
    SpotFit huge, twin;
    huge.truth = {300.0f, 18.3f, 14.6f, 2.5f, 0.0f, 0.0f, 0.0f};
    for (Index y = 1; y <= SpotFit::kY; ++y)
      for (Index x = 1; x <= SpotFit::kX; ++x) {
        const double dx = x - 18.3, dy = y - 14.6;
        const double v = 300.0 * std::exp(-(dx * dx + dy * dy) / 12.5) + noise();
        twin.data[element(x, y, SpotFit::kX)] = static_cast<float>(v);
        huge.data[element(x, y, SpotFit::kX)] = static_cast<float>(offset + v);
      }
    // Only the level's own start and scale differ.
    for (SpotFit* f : {&huge, &twin}) {
      f->params = {250.0f, 17.5f, 15.5f, 3.0f, 0.0f, 0.0f, 0.0f};
      f->scales = {10.0f, 0.3f, 0.3f, 0.3f, 30.0f, 0.1f, 0.1f};
      f->constrained[5] = f->constrained[6] = true;
    }
    huge.params[4] = static_cast<float>(offset + 40.0);
    huge.scales[4] = static_cast<float>(0.2 * offset);
    ASSERT_EQ(huge.run(spot_on_plane), ST_GOOD()) << offset;
    EXPECT_LE(huge.end_code, 0) << offset;
    ASSERT_EQ(twin.run(spot_on_plane), ST_GOOD());
    ASSERT_EQ(twin.run(spot_on_plane), ST_GOOD());
    EXPECT_LT(huge.recomputed(), 1.001 * twin.recomputed()) << offset;
    EXPECT_NEAR(huge.params[1], twin.params[1], 0.01f) << offset;
    // Within half its standard error where the level's own single
    // precision value (a step of 0.25 at 3e6, 2 at 3e7) allows.
    if (offset < 1.0e7) {
      EXPECT_NEAR(huge.params[0], twin.params[0], 3.0f);
    }
  }
}

// A scan of N channels: a level and a slope (a line over the channels, -1 to
// 1) under a Gaussian peak: level, slope, centre, height, width.
void peak_on_slope(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                   Index xs, Index, Index xe, Index, void*, void*, void*, void*, int,
                   std::span<const float> p, Index, Index, bool, int&, std::span<float> model,
                   Status&) {
  const float half = 0.5f * static_cast<float>(xe - xs + 1);
  for (Index x = xs; x <= xe; ++x) {
    const float c = static_cast<float>(x) - 0.5f;
    const float u = (c - p[2]) / p[4];
    model[static_cast<std::size_t>(x - 1)] =
        p[0] + p[1] * (c - half) / half + p[3] * std::exp(-0.5f * u * u);
  }
}

TEST(ModelFit, ASlopeStartingAtZeroUnderAHugePeakIsFitted) {
  // A peak of 1e8 on a level of 1e4 sloping by 1e3 either way, noise 1e4.
  // The slope starts at 0 with a scale of a tenth or a fifth: each of its
  // differences is far below the rounding of the peak's channels and its
  // column some 1e-8 of the centre's. The fit still moves it to the
  // minimum its twin started at the truth reaches, and to the slope it finds
  // beside a peak of 1e5 on the same noise.
  constexpr Index kN = 500;
  float everyday_slope = 0.0f;
  for (const float height : {1.0e5f, 1.0e8f}) {
    for (const float slope_scale : {0.1f, 0.2f}) {
      std::uint64_t state = 7;
      const auto noise = [&state] {
        double sum = -6.0;
        for (int k = 0; k < 12; ++k) {
          state = state * 6364136223846793005ULL + 1442695040888963407ULL;
          sum += static_cast<double>(state >> 11) / 9007199254740992.0;
        }
        return 1.0e4 * sum;
      };
      std::vector<float> data(kN), model(kN);
      for (Index x = 1; x <= kN; ++x) {
        const double c = x - 0.5, u = (c - 180.3) / 4.0;
        data[static_cast<std::size_t>(x - 1)] = static_cast<float>(
            1.0e4 + 1.0e3 * (c - 250.0) / 250.0 + height * std::exp(-0.5 * u * u) + noise());
      }
      const std::array<bool, 5> constrained{};
      const auto fit = [&](std::array<float, 5> params, std::array<float, 5> scales,
                           double& sum) {
        int end_code = 0, calls = 0;
        Status status = ST_GOOD();
        MA_MODELFIT(0, peak_on_slope, false, false, true, kN, 1, data, {}, {}, 1, 1, kN, 1, 1,
                    500, 1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr, 5,
                    constrained, scales, kN, 1, true, params, model, end_code, calls, sum,
                    status);
        EXPECT_EQ(status, ST_GOOD());
        EXPECT_LE(end_code, 0) << height << " " << slope_scale;
        return params;
      };
      double from_zero = 0.0, from_truth = 0.0;
      const float unit = std::sqrt(height);
      const auto zero = fit({1.0e4f, 0.0f, 180.9f, 0.8f * height, 4.8f},
                            {200.0f, slope_scale, 1.0f, unit, 0.5f}, from_zero);
      const auto truth = fit({1.0e4f, 1.0e3f, 180.3f, height, 4.0f},
                             {200.0f, 20.0f, 1.0f, unit, 0.5f}, from_truth);
      EXPECT_LT(from_zero, 1.0002 * from_truth) << height << " " << slope_scale;
      if (height < 1.0e6f) everyday_slope = truth[1];
      EXPECT_NEAR(zero[1], everyday_slope, 50.0f) << height << " " << slope_scale;
    }
  }
}

// A Gaussian spot cut off at 5 widths, alone on a level of 0: height, x0, y0,
// sigma (the spot model of the fitting features, in pixel coordinates).
void cut_spot(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>, Index xs,
              Index ys, Index xe, Index ye, void*, void*, void*, void*, int,
              std::span<const float> p, Index xmaxmod, Index, bool, int&, std::span<float> model,
              Status&) {
  for (Index y = ys; y <= ye; ++y)
    for (Index x = xs; x <= xe; ++x) {
      const float d = std::hypot(x - p[1], y - p[2]) / p[3];
      model[element(x, y, xmaxmod)] = d < 5.0f ? p[0] * std::exp(-0.5f * d * d) : 0.0f;
    }
}

TEST(ModelFit, PeakStartingAtATinyHeightIsFitted) {
  // A peak started at the height 1e-37 (the model's stand-in for 0) where
  // the data hold 0: its position and width change the residuals by about
  // 1e-37, far below single precision's resolution of the height's column.
  // The fit moves the height first; no step or factorisation turns the
  // others into values beyond any number (which the model then refused).
  constexpr Index kX = 40, kY = 30;
  const std::array<float, 4> truth{50.0f, 18.3f, 14.6f, 2.0f};
  std::vector<float> data(kX * kY), model(kX * kY, 0.0f);
  int terminate = 0;
  Status status = ST_GOOD();
  cut_spot(false, kX, kY, {}, {}, 1, 1, kX, kY, nullptr, nullptr, nullptr, nullptr, 4, truth, kX,
           kY, true, terminate, data, status);
  for (const float height : {1.0e-37f, 1.0e-30f}) {
    std::array<float, 4> params{height, 20.5f, 12.5f, 3.0f};
    const std::array<bool, 4> constrained{};
    const std::array<float, 4> scales{2.0f, 0.3f, 0.3f, 0.3f};
    int end_code = 0, calls = 0;
    float sum = 0.0f;
    MA_MODELFIT(0, cut_spot, false, false, true, kX, kY, data, {}, {}, 1, 1, kX, kY, 1, 200,
                1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr, 4, constrained,
                scales, kX, kY, true, params, model, end_code, calls, sum, status);
    ASSERT_EQ(status, ST_GOOD()) << height;
    EXPECT_LE(end_code, 0) << height;
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(params[k], truth[k], 1e-3f * truth[k]) << k;
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
  // The limit is tested after each trial step, so a Jacobian (7 calls) may
  // pass it.
  EXPECT_GE(fit.num_calls, fit.max_calls);
  EXPECT_LE(fit.num_calls, fit.max_calls + 7);
  EXPECT_EQ(fit.num_calls, fit.evaluations);
  // In caller units, not around the internal 100.
  EXPECT_NEAR(fit.params[1], 18.3f, 2.0f);
  EXPECT_NEAR(fit.sum_squares, fit.recomputed(), 1e-4 * fit.recomputed() + 1e-3);
  // MODEL is the model of the returned parameters.
  const float dx = 5 - fit.params[1], dy = 7 - fit.params[2];
  const float want = fit.params[0] * std::exp(-(dx * dx + dy * dy) / (2 * fit.params[3] * fit.params[3])) +
                     fit.params[4] + fit.params[5] * (5 - 20.0f) + fit.params[6] * (7 - 15.0f);
  EXPECT_NEAR(fit.model[element(5 - fit.xs + 1, 7 - fit.ys + 1, fit.xe - fit.xs + 1)], want, 1e-4f);

  // A first trial step made worse on purpose is rejected, and the limit ends
  // the fit right after it: everything returned is the start point's, with
  // no evaluation beyond the limit.
  SpotFit spoilt;
  spoilt.max_calls = 9;  // start, 7 Jacobian columns, 1 trial
  auto spoiling = [&](bool a, Index b, Index c, std::span<const float> d, std::span<const std::uint8_t> e,
                      Index f, Index g, Index h, Index i, void* p1, void* p2, void* p3, void* p4, int n,
                      std::span<const float> p, Index xm, Index ym, bool fr, int& t, std::span<float> m,
                      Status& s) {
    spot_on_plane(a, b, c, d, e, f, g, h, i, p1, p2, p3, p4, n, p, xm, ym, fr, t, m, s);
    if (spoilt.evaluations == 9) {
      for (float& v : m) v += 1000.0f;
    }
  };
  const auto start = spoilt.params;
  ASSERT_EQ(spoilt.run(spoiling), ST_GOOD());
  EXPECT_EQ(spoilt.end_code, 4);
  EXPECT_EQ(spoilt.num_calls, 9);
  EXPECT_EQ(spoilt.evaluations, 9);
  EXPECT_EQ(spoilt.params, start);
  EXPECT_NEAR(spoilt.sum_squares, spoilt.recomputed(), 1e-5 * spoilt.recomputed());
  std::vector<float> want_model(spoilt.model.size(), 0.0f);
  int terminate = 0;
  Status status = ST_GOOD();
  spot_on_plane(false, SpotFit::kX, SpotFit::kY, {}, {}, spoilt.xs, spoilt.ys, spoilt.xe, spoilt.ye,
                nullptr, nullptr, nullptr, nullptr, 7, start, spoilt.xe - spoilt.xs + 1,
                spoilt.ye - spoilt.ys + 1, false, terminate, want_model, status);
  const std::size_t used = static_cast<std::size_t>((spoilt.xe - spoilt.xs + 1) * (spoilt.ye - spoilt.ys + 1));
  EXPECT_TRUE(std::equal(want_model.begin(), want_model.begin() + used, spoilt.model.begin()));
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

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool starts(const std::string& line, const std::string& prefix) { return line.rfind(prefix, 0) == 0; }

TEST(ModelFit, ProgressLinesAtEachLevel) {
  // Level 1: the first iteration before any Jacobian, one line with the sum
  // per accepted step, the mis-fit last. Level 2: one sum line per model
  // evaluation (so exactly NUM_CALLS of them, also when the last trial was
  // rejected), iteration lines without the sum.
  for (int level : {0, 1, 2}) {
    SpotFit fit;
    fit.max_calls = 20;  // ends on the call limit
    testing::TerminalCapture capture;
    ASSERT_EQ(fit.run(spot_on_plane, level), ST_GOOD());
    const std::vector<std::string> lines = lines_of(capture.text());
    if (level == 0) {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0], "WARNING: Too many calls to the calculating function");
      continue;
    }
    int sums = 0, iterations = 0;
    for (const std::string& line : lines) {
      if (starts(line, "INFO: Sum of squares = ")) ++sums;
      if (starts(line, "INFO: Iteration = ")) {
        ++iterations;
        EXPECT_EQ(line.find("Sum of squares") != std::string::npos, level == 1 && iterations > 1) << line;
        EXPECT_EQ(line.substr(0, 24), "INFO: Iteration = " + format_i(iterations, 6));
      }
    }
    EXPECT_EQ(sums, level == 2 ? fit.num_calls : 0);
    EXPECT_GE(iterations, 2);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[level == 2 ? 1 : 0], "INFO: Iteration =      1");
    std::string misfit = format_g(std::sqrt(double(fit.sum_squares) / (36.0 * 28.0)), 14, 7);
    misfit.erase(misfit.find_last_not_of(' ') + 1);
    EXPECT_EQ(lines[lines.size() - 2], "INFO: Average mis-fit per element = " + misfit);
    EXPECT_EQ(lines.back(), "WARNING: Too many calls to the calculating function");
  }
}

TEST(ModelFit, PerfectStartEndsAfterTheFirstJacobian) {
  SpotFit fit;
  fit.params = fit.truth;
  ASSERT_EQ(fit.run(spot_on_plane), ST_GOOD());
  EXPECT_EQ(fit.end_code, -3);
  EXPECT_EQ(fit.num_calls, 1 + 7);
  EXPECT_EQ(fit.evaluations, 1 + 7);
  EXPECT_EQ(fit.params, fit.truth);
  EXPECT_EQ(fit.sum_squares, 0.0f);
  // The model of the start values, not that of the last Jacobian column.
  const Index w = fit.xe - fit.xs + 1;
  for (Index y = fit.ys; y <= fit.ye; ++y)
    for (Index x = fit.xs; x <= fit.xe; ++x)
      ASSERT_EQ(fit.model[element(x - fit.xs + 1, y - fit.ys + 1, w)], fit.data[element(x, y, SpotFit::kX)]);
}

TEST(ModelFit, FeatureModelAddsEachPeakOverItsReachOnly) {
  // Two peaks on a flat background, the model built the way the feature fits
  // build theirs: background over the region, then each peak added over its
  // own reach with the 2-D profile routine, in the region-sized model frame.
  constexpr Index kX = 48, kY = 40;
  const std::array<float, 9> truth{5.0f, 80.0f, 14.3f, 12.6f, 1.8f, 40.0f, 33.2f, 27.5f, 2.6f};
  struct Counts {
    int evaluations = 0;
  };
  auto peaks = [](bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>, Index xs,
                  Index ys, Index xe, Index ye, void* pass, void*, void*, void*, int,
                  std::span<const float> p, Index xmaxmod, Index ymaxmod, bool in_data_frame, int&,
                  std::span<float> model, Status& status) {
    auto& counts = *static_cast<Counts*>(pass);
    ++counts.evaluations;
    const Index w = xe - xs + 1, h = ye - ys + 1;
    const float dx = in_data_frame ? 0.0f : float(xs - 1), dy = in_data_frame ? 0.0f : float(ys - 1);
    for (Index y = 1; y <= h; ++y)
      for (Index x = 1; x <= w; ++x) model[element(x, y, xmaxmod)] = p[0];
    for (int k = 0; k < 2; ++k) {
      const float* f = p.data() + 1 + 4 * k;
      MA_2GAUSSIAN(xmaxmod, ymaxmod, 1, 1, w, h, f[0], f[1] - dx, f[2] - dy, f[3], f[3], 0.0f, 5.0f,
                   9, model, status);
    }
  };
  std::vector<float> data(kX * kY), model(kX * kY), sigmas(kX * kY, 1.0f);
  std::vector<std::uint8_t> mask(kX * kY, 0);
  {
    Counts c;
    int terminate = 0;
    Status status = ST_GOOD();
    peaks(false, kX, kY, data, mask, 1, 1, kX, kY, &c, nullptr, nullptr, nullptr, 9, truth, kX, kY,
          true, terminate, data, status);
    ASSERT_EQ(status, ST_GOOD());
  }
  std::array<float, 9> params{4.0f, 70.0f, 14.8f, 12.0f, 2.2f, 45.0f, 32.7f, 28.0f, 2.2f};
  std::array<bool, 9> constrained{};
  std::array<float, 9> scales{1.0f, 10.0f, 0.5f, 0.5f, 0.3f, 10.0f, 0.5f, 0.5f, 0.3f};
  Counts counts;
  int end_code = 0, calls = 0;
  float ss = 0;
  Status status = ST_GOOD();
  MA_MODELFIT(0, peaks, false, false, true, kX, kY, data, mask, sigmas, 3, 2, 45, 38, 1, 400,
              1.0e-5f, 100.0f, 5.0e-7f, &counts, nullptr, nullptr, nullptr, 9, constrained, scales,
              43, 37, false, params, model, end_code, calls, ss, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_LE(end_code, 0);
  EXPECT_EQ(calls, counts.evaluations);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(params[k], truth[k], 1e-3f * (1 + std::fabs(truth[k]))) << k;
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
      {"NaN data", [](SpotFit& f) { f.data[element(20, 20, SpotFit::kX)] = NAN; }, 20021},
      {"+Inf data", [](SpotFit& f) { f.data[element(3, 2, SpotFit::kX)] = INFINITY; }, 20021},
      {"-Inf data", [](SpotFit& f) { f.data[element(38, 29, SpotFit::kX)] = -INFINITY; }, 20021},
      {"NaN sigma", [](SpotFit& f) { f.weighted = true; f.sigmas[element(9, 9, SpotFit::kX)] = NAN; }, 20021},
      {"Inf scale", [](SpotFit& f) { f.scales[1] = INFINITY; }, 20021},
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

TEST(ModelFit, NonFiniteSumsOfSquaresEndTheFitAsAFailure) {
  testing::TerminalCapture terminal;
  // Outside the region, or masked off, a NaN is never used.
  SpotFit unused;
  unused.use_mask = true;
  unused.data[element(1, 1, SpotFit::kX)] = NAN;
  unused.data[element(20, 20, SpotFit::kX)] = NAN;
  unused.mask[element(20, 20, SpotFit::kX)] = 1;
  ASSERT_EQ(unused.run(spot_on_plane), ST_GOOD());
  EXPECT_LE(unused.end_code, 0);
  EXPECT_TRUE(std::isfinite(unused.sum_squares));

  // The divide-by-zero marker is finite, but its square is not in REAL.
  SpotFit marker;
  marker.data[element(20, 20, SpotFit::kX)] = -1.7014117e38f;
  ASSERT_EQ(marker.run(spot_on_plane), ST_GOOD());
  EXPECT_TRUE(marker.end_code > 0 || std::isfinite(marker.sum_squares)) << marker.end_code;

  // A model that overflows after a few evaluations.
  SpotFit overflow;
  int calls = 0;
  auto blows_up = [&calls](bool a, Index b, Index c, std::span<const float> d,
                           std::span<const std::uint8_t> e, Index xs, Index ys, Index xe, Index ye,
                           void* p1, void* p2, void* p3, void* p4, int n, std::span<const float> p,
                           Index xm, Index ym, bool frame, int& t, std::span<float> model,
                           Status& st) {
    spot_on_plane(a, b, c, d, e, xs, ys, xe, ye, p1, p2, p3, p4, n, p, xm, ym, frame, t, model, st);
    if (++calls > 12) model[0] = INFINITY;
  };
  ASSERT_EQ(overflow.run(blows_up), ST_GOOD());
  EXPECT_EQ(overflow.end_code, 8);
  EXPECT_NE(terminal.text().find("WARNING: The sum of squares is not a finite number\n"),
            std::string::npos);
  EXPECT_TRUE(std::isfinite(overflow.sum_squares));
  EXPECT_NEAR(overflow.sum_squares, overflow.recomputed(), 1e-3 * (1 + overflow.sum_squares));
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
