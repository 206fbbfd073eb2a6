#include "app/imageops/image_filters.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

constexpr Index kXmax = 9, kYmax = 8;
// The region used throughout: inside the arrays on every side.
constexpr Index kXs = 2, kYs = 2, kXe = 8, kYe = 7;
constexpr float kUntouched = -99.0f;

class ImageFilters : public ::testing::Test {
 public:
  void SetUp() override {
    kesta::testing::reset_dialogue();
    kzt_forget_answers();
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> values(0, 40);
    for (float& v : data) v = static_cast<float>(values(rng));
    for (float& v : variances) v = static_cast<float>(values(rng)) + 1.0f;
  }
  void TearDown() override { kesta::testing::reset_dialogue(); }

  float at(const std::vector<float>& a, Index x, Index y) const {
    return a[static_cast<std::size_t>(element(x, y, kXmax))];
  }
  // The clipped box of a filter about (x, y) as [x0, x1] x [y0, y1].
  static void box(Index x, Index y, Index nx, Index ny, Index& x0, Index& x1, Index& y0,
                  Index& y1) {
    x0 = std::max(x - (nx - 1) / 2, kXs);
    x1 = std::min(x + nx / 2, kXe);
    y0 = std::max(y - (ny - 1) / 2, kYs);
    y1 = std::min(y + ny / 2, kYe);
  }
  // Elements outside the region must keep their old value.
  void expect_outside_untouched(const std::vector<float>& out) const {
    for (Index y = 1; y <= kYmax; ++y)
      for (Index x = 1; x <= kXmax; ++x)
        if (x < kXs || x > kXe || y < kYs || y > kYe) {
          EXPECT_EQ(at(out, x, y), kUntouched);
        }
  }

  std::vector<float> data = std::vector<float>(kXmax * kYmax);
  std::vector<float> variances = std::vector<float>(kXmax * kYmax);
  std::vector<float> mdata = std::vector<float>(kXmax * kYmax, kUntouched);
  std::vector<float> mvariances = std::vector<float>(kXmax * kYmax, kUntouched);
  TerminalCapture terminal;
};

TEST_F(ImageFilters, MedianEqualsTheBruteForceClippedMedian) {
  const struct { int nx, ny; } sizes[] = {{1, 1}, {3, 3}, {2, 4}, {7, 1}, {7, 6}};
  for (const auto& s : sizes) {
    ScriptedInput input({std::to_string(s.nx), std::to_string(s.ny)});
    Status status = kStatusGood;
    KZT_MEDIANFILTER(false, kXmax, kYmax, kXs, kYs, kXe, kYe, data, mdata, status);
    ASSERT_EQ(status, kStatusGood);
    for (Index y = kYs; y <= kYe; ++y)
      for (Index x = kXs; x <= kXe; ++x) {
        Index x0, x1, y0, y1;
        box(x, y, s.nx, s.ny, x0, x1, y0, y1);
        std::vector<float> window;
        for (Index j = y0; j <= y1; ++j)
          for (Index i = x0; i <= x1; ++i) window.push_back(at(data, i, j));
        std::sort(window.begin(), window.end());
        const std::size_t n = window.size();
        const float median =
            n % 2 == 1 ? window[n / 2] : (window[n / 2 - 1] + window[n / 2]) / 2.0f;
        EXPECT_EQ(at(mdata, x, y), median) << s.nx << "x" << s.ny << " at " << x << "," << y;
      }
    expect_outside_untouched(mdata);
  }
}

TEST_F(ImageFilters, BlurGivesTheBoxMeanAndTheVarianceOfThatMean) {
  const struct { int nx, ny; } sizes[] = {{1, 1}, {2, 2}, {3, 5}, {9, 8}};
  for (const auto& s : sizes) {
    ScriptedInput input({std::to_string(s.nx), std::to_string(s.ny)});
    Status status = kStatusGood;
    KZT_BLUR(false, kXmax, kYmax, kXs, kYs, kXe, kYe, true, data, variances, mdata, mvariances,
             status);
    ASSERT_EQ(status, kStatusGood);
    for (Index y = kYs; y <= kYe; ++y)
      for (Index x = kXs; x <= kXe; ++x) {
        Index x0, x1, y0, y1;
        box(x, y, s.nx, s.ny, x0, x1, y0, y1);
        double sum = 0.0, var = 0.0;
        for (Index j = y0; j <= y1; ++j)
          for (Index i = x0; i <= x1; ++i) {
            sum += at(data, i, j);
            var += at(variances, i, j);
          }
        // Edge boxes average fewer pixels: their variance is larger.
        const double n = static_cast<double>((x1 - x0 + 1) * (y1 - y0 + 1));
        EXPECT_NEAR(at(mdata, x, y), sum / n, 1e-4) << s.nx << "x" << s.ny;
        EXPECT_NEAR(at(mvariances, x, y), var / (n * n), 1e-5) << s.nx << "x" << s.ny;
      }
    expect_outside_untouched(mvariances);
  }
}

TEST_F(ImageFilters, BuiltInKernelsSumToOneAndKeepAFlatInteriorFlat) {
  std::fill(data.begin(), data.end(), 5.0f);
  for (const bool low : {true, false})
    for (int type = 1; type <= 3; ++type) {
      const SpatialKernel k = kzt_spatial_kernel(low, type);
      EXPECT_NEAR(std::accumulate(k.begin(), k.end(), 0.0), 1.0, 1e-6);
      ScriptedInput input({low ? "YES" : "NO", std::to_string(type)});
      Status status = kStatusGood;
      KZT_SPATIALFILTER(kXmax, kYmax, kXs, kYs, kXe, kYe, data, mdata, status);
      ASSERT_EQ(status, kStatusGood);
      for (Index y = kYs + 1; y < kYe; ++y)
        for (Index x = kXs + 1; x < kXe; ++x) EXPECT_NEAR(at(mdata, x, y), 5.0f, 2e-5);
    }
}

TEST_F(ImageFilters, UserKernelIsOfferedTheLastBuiltInOneAndCorrelatesWithZeroOutside) {
  {
    ScriptedInput input({"YES", "2"});
    Status status = kStatusGood;
    KZT_SPATIALFILTER(kXmax, kYmax, kXs, kYs, kXe, kYe, data, mdata, status);
  }
  // An asymmetric kernel shows whether it is reversed.
  ScriptedInput input({"", "4", "1", "", "", "", "", "", "", "", "3"});
  Status status = kStatusGood;
  KZT_SPATIALFILTER(kXmax, kYmax, kXs, kYs, kXe, kYe, data, mdata, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_EQ(input.prompts.size(), 11u);
  EXPECT_EQ(input.prompts[2], "ENTER COEFFICIENT  1 1 [0.100000]:");
  EXPECT_EQ(input.prompts[6], "ENTER COEFFICIENT  2 2 [0.200000]:");
  SpatialKernel k = kzt_spatial_kernel(true, 2);
  k[0] = 1.0f;
  k[8] = 3.0f;
  for (Index y = kYs; y <= kYe; ++y)
    for (Index x = kXs; x <= kXe; ++x) {
      double sum = 0.0;
      for (Index j = 0; j < 3; ++j)
        for (Index i = 0; i < 3; ++i) {
          const Index xi = x + i - 1, yj = y + j - 1;
          if (xi >= kXs && xi <= kXe && yj >= kYs && yj <= kYe)
            sum += k[static_cast<std::size_t>(i + 3 * j)] * at(data, xi, yj);
        }
      EXPECT_NEAR(at(mdata, x, y), sum, 1e-4) << x << "," << y;
    }
  expect_outside_untouched(mdata);
}

TEST_F(ImageFilters, AnEscapeChangesNeitherTheMemoryNorTheNextDefaults) {
  using Run = void (*)(ImageFilters&, Status&);
  const struct {
    const char* name;
    std::vector<std::string> answers;
    Run run;
    std::string prompt;
  } cases[] = {
      {"median",
       {"5", "\\\\"},
       [](ImageFilters& f, Status& s) {
         KZT_MEDIANFILTER(false, kXmax, kYmax, kXs, kYs, kXe, kYe, f.data, f.mdata, s);
       },
       "MEDIAN FILTER X-SIZE (Range: 1 to 7) [3]:"},
      {"blur",
       {"5", "\\\\"},
       [](ImageFilters& f, Status& s) {
         KZT_BLUR(false, kXmax, kYmax, kXs, kYs, kXe, kYe, true, f.data, f.variances, f.mdata,
                  f.mvariances, s);
       },
       "X BLUR SIZE (Range: 1 to 9) [2]:"},
      {"spatial",
       {"NO", "4", "2.0", "\\\\"},
       [](ImageFilters& f, Status& s) {
         KZT_SPATIALFILTER(kXmax, kYmax, kXs, kYs, kXe, kYe, f.data, f.mdata, s);
       },
       "LOW-PASS FILTER [YES]:"},
  };
  for (const auto& c : cases) {
    {
      ScriptedInput input(c.answers);
      Status status = kStatusGood;
      c.run(*this, status);
      EXPECT_EQ(status, kStatusEscape) << c.name;
    }
    EXPECT_TRUE(std::all_of(mdata.begin(), mdata.end(), [](float v) { return v == kUntouched; }));
    EXPECT_TRUE(
        std::all_of(mvariances.begin(), mvariances.end(), [](float v) { return v == kUntouched; }));
    ScriptedInput again({"\\\\"});
    Status status = kStatusGood;
    c.run(*this, status);
    EXPECT_EQ(again.prompts.front(), c.prompt) << c.name;
  }
}

}  // namespace
