// Spline corrections, look-up table construction and the fast correction
// against exact re-binnings of known distortions, and the spline fit.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>

#include "app/distortion/distortion_test_support.hpp"
#include "app/distortion/lut.hpp"
#include "app/distortion/spline_correction.hpp"
#include "numeric/splines.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

using testing::linear_set;

constexpr Index kSize = 24;

class Corrections : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    for (Index i = 0; i < kSize; ++i) axis[i] = static_cast<float>(i) + 0.5f;
    for (Index y = 1; y <= kSize; ++y)
      for (Index x = 1; x <= kSize; ++x)
        data[element(x, y, kSize)] = static_cast<float>((x * 7 + y * 13) % 17 + 1);
  }
  void TearDown() override { testing::reset_dialogue(); }

  // The spline correction of the whole image without questions.
  std::vector<float> spline_correct(const SplineSet& set, int rows, float overload = 1.0e30f) {
    std::vector<float> out(kSize * kSize, -1.0f), mx(kSize), my(kSize);
    Index xs = 0, ys = 0, xe = 0, ye = 0;
    Status status = kStatusGood;
    KZT_CORR_SPATIAL(false, true, set, kSize, kSize, axis, axis, data, 1, 1, kSize, kSize, rows,
                     overload, mx, my, out, xs, ys, xe, ye, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(xe, kSize);
    return out;
  }
  std::vector<float> fast_correct(const DistortionTable& table, Index xe = kSize) {
    std::vector<float> out(kSize * kSize, -1.0f), mx(kSize), my(kSize);
    Index xs = 0, ys = 0, mxe = 0, mye = 0;
    float overload = 1.0e30f;
    Status status = kStatusGood;
    KZT_CORR_FAST(true, table, kSize, kSize, axis, axis, data, 1, 1, xe, kSize, overload, mx, my,
                  out, xs, ys, mxe, mye, status);
    EXPECT_EQ(status, kStatusGood);
    return out;
  }
  DistortionTable build(const SplineSet& set) {
    DistortionTable table;
    table.allocate(kSize, kSize);
    bool defined = false;
    Status status = kStatusGood;
    KZT_SDLUT(set, kSize, kSize, axis, axis, table, defined, status);
    EXPECT_TRUE(defined);
    return table;
  }
  float at(const std::vector<float>& image, Index x, Index y) const {
    return image[element(x, y, kSize)];
  }

  // Read by the expectation functions of the table cases.
 public:
  std::vector<float> axis = std::vector<float>(kSize);
  std::vector<float> data = std::vector<float>(kSize * kSize);
  testing::TerminalCapture terminal;
};

// Whole-pixel and half-pixel shifts and a stretch, by both spline methods and
// through a built table, against the exact re-binning.
TEST_F(Corrections, KnownDistortionsThroughEveryMethod) {
  struct Case {
    float dx0, sx, dy0, sy;
    // Expected output at (x, y) from the input, for pixels well inside.
    float (*expected)(const Corrections&, Index, Index);
  };
  const Case cases[] = {
      {0.0f, 0.0f, 0.0f, 0.0f,
       [](const Corrections& c, Index x, Index y) { return c.data[element(x, y, kSize)]; }},
      {1.0f, 0.0f, -2.0f, 0.0f,
       [](const Corrections& c, Index x, Index y) { return c.data[element(x - 1, y + 2, kSize)]; }},
      {0.5f, 0.0f, 0.0f, 0.0f,
       [](const Corrections& c, Index x, Index y) {
         return 0.5f * (c.data[element(x - 1, y, kSize)] + c.data[element(x, y, kSize)]);
       }},
  };
  for (const Case& c : cases) {
    const SplineSet set = linear_set(kSize, kSize, c.dx0, c.sx, c.dy0, c.sy);
    const std::vector<float> four = spline_correct(set, 5);
    const std::vector<float> two = spline_correct(set, -7);
    const std::vector<float> fast = fast_correct(build(set));
    for (Index y = 4; y <= kSize - 4; ++y)
      for (Index x = 4; x <= kSize - 4; ++x) {
        const float want = c.expected(*this, x, y);
        EXPECT_NEAR(at(four, x, y), want, 1.0e-4f) << x << "," << y << " dx " << c.dx0;
        EXPECT_NEAR(at(two, x, y), want, 1.0e-3f) << x << "," << y << " dx " << c.dx0;
        EXPECT_NEAR(at(fast, x, y), want, 1.0e-4f * want + 2.0f * want / 255.0f) << x << "," << y;
      }
  }
  // A stretch by 10 %: constant data become 1 / 1.1 inside.
  std::fill(data.begin(), data.end(), 1.0f);
  const SplineSet stretch = linear_set(kSize, kSize, 0.0f, 0.1f, 0.0f, 0.0f);
  for (int rows : {40, -40})
    EXPECT_NEAR(at(spline_correct(stretch, rows), 8, 8), 1.0f / 1.1f, 1.0e-4f) << rows;
}

TEST_F(Corrections, BuiltTableFollowsTheTwoTriangleCorrection) {
  const SplineSet set = linear_set(kSize, kSize, 0.3f, 0.05f, -0.7f, 0.03f);
  const DistortionTable table = build(set);
  const std::vector<float> exact = spline_correct(set, -40);
  const std::vector<float> fast = fast_correct(table);
  for (Index y = 3; y <= kSize - 3; ++y)
    for (Index x = 3; x <= kSize - 3; ++x)
      EXPECT_NEAR(at(fast, x, y), at(exact, x, y), 4.0f * 17.0f / 255.0f) << x << "," << y;
  // Every built table can be stored.
  std::string bytes;
  EXPECT_TRUE(encode_dclut(table, false, {}, kSize, bytes));
}

TEST_F(Corrections, OverloadedPixelsStayWhereTheyAreAndFastCorrectionClips) {
  const SplineSet identity = linear_set(kSize, kSize, 0.0f, 0.0f, 0.0f, 0.0f);
  data[element(6, 6, kSize)] = 100.0f;
  for (int rows : {4, -4}) {
    const std::vector<float> out = spline_correct(identity, rows, 50.0f);
    EXPECT_EQ(at(out, 6, 6), 100.0f) << rows;
    EXPECT_EQ(at(out, 7, 6), data[element(7, 6, kSize)]) << rows;
    EXPECT_EQ(at(out, 6, 7), data[element(6, 7, kSize)]) << rows;
  }
  // Asked, a refused block of rows is not offered again: Enter takes the one
  // offered before.
  {
    std::vector<float> out(kSize * kSize, -1.0f), mx(kSize), my(kSize);
    Index xs = 0, ys = 0, xe = 0, ye = 0;
    int rows = 4;
    float overload = 50.0f;
    Status status = kStatusGood;
    testing::ScriptedInput input({"", "1", ""});
    KZT_CORR_SPATIAL(false, false, identity, kSize, kSize, axis, axis, data, 1, 1, kSize, kSize,
                     rows, overload, mx, my, out, xs, ys, xe, ye, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u);
    EXPECT_EQ(rows, 4);
    EXPECT_EQ(at(out, 6, 6), 100.0f);
  }
  // A table over part of the image: the region is clipped to it with a
  // warning, and output pixels outside stay 0.
  DistortionTable table = build(identity);
  table.xnumlut = 10;
  const std::vector<float> out = fast_correct(table);
  EXPECT_NEAR(at(out, 10, 3), data[element(10, 3, kSize)], 1.0e-5f);
  EXPECT_EQ(at(out, 11, 3), 0.0f);
  EXPECT_NE(terminal.text().find("WARNING: Active Data Region (ADR) extends outside the look-up "
                                 "table;\n         pixels outside it are ignored."),
            std::string::npos);
}

TEST_F(Corrections, NarrowRegions) {
  // A spline correction over one column is refused and leaves the memory.
  const SplineSet set = linear_set(kSize, kSize, 0.0f, 0.0f, 0.0f, 0.0f);
  std::vector<float> out(kSize * kSize, -1.0f), mx(kSize, -1.0f), my(kSize, -1.0f);
  Index xs = 0, ys = 0, xe = 0, ye = 0;
  int rows = 4;
  float overload = 1.0e30f;
  Status status = kStatusGood;
  KZT_CORR_SPATIAL(false, true, set, kSize, kSize, axis, axis, data, 3, 1, 3, kSize, rows,
                   overload, mx, my, out, xs, ys, xe, ye, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(xe, 0);
  EXPECT_EQ(out[0], -1.0f);
  EXPECT_NE(terminal.text().find("WARNING: The active data region must be at least 2 pixels"),
            std::string::npos);
  // The fast correction of one pixel continues the axes by 1.0.
  axis[0] = 7.0f;
  KZT_CORR_FAST(true, build(set), kSize, kSize, axis, axis, data, 1, 1, 1, 1, overload, mx, my,
                out, xs, ys, xe, ye, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(mx[0], 7.0f);
  EXPECT_EQ(mx[3], 10.0f);
  EXPECT_NEAR(out[0], data[0], 1.0e-5f);
  EXPECT_EQ(out[1], 0.0f);
}

TEST_F(Corrections, TableConstructionEdgeCases) {
  // A uniform displacement of -1.0 in X: the shift normalises to -1 with
  // fraction 1 = 255.
  const DistortionTable table = build(linear_set(kSize, kSize, -1.0f, 0.0f, 0.0f, 0.0f));
  const Index k = element(5, 5, kSize);
  EXPECT_EQ(table.x_shifts[k], -1);
  EXPECT_EQ(table.y_shifts[k], 0);
  EXPECT_EQ(table.fractions[9 * k], 255);
  // A moved pixel reaching the top-right cell of its block.
  const DistortionTable half = build(linear_set(kSize, kSize, 0.5f, 0.0f, 0.5f, 0.0f));
  const std::uint8_t* f = half.fractions.data() + 9 * k;
  EXPECT_EQ(std::accumulate(f, f + 9, 0), 255);
  // Four quarters of 63.75 round to 256: the lowest-numbered largest loses one.
  EXPECT_EQ((std::vector<int>(f, f + 9)), (std::vector<int>{63, 64, 0, 64, 64, 0, 0, 0, 0}));
}

TEST_F(Corrections, FitRecoversAKnownDistortion) {
  // Peaks on a 15 x 15 grid every 16 pixels; distortions 0.5 + 0.002 x and
  // -0.3 + 0.001 y.
  constexpr Index kPeaks = 15, kMax = 20;
  std::vector<float> xp(kMax * kMax, -1.7e38f), yp(kMax * kMax, -1.7e38f), xd(kMax * kMax),
      yd(kMax * kMax);
  for (Index j = 1; j <= kPeaks; ++j)
    for (Index i = 1; i <= kPeaks; ++i) {
      const Index k = element(i, j, kMax);
      xp[k] = 16.0f * static_cast<float>(i) - 8.0f;
      yp[k] = 16.0f * static_cast<float>(j) - 8.0f;
      xd[k] = 0.5f + 0.002f * xp[k];
      yd[k] = -0.3f + 0.001f * yp[k];
    }
  xp[element(3, 4, kMax)] = -1.7e38f;  // a missing peak
  SplineSet set;
  set.x_maximum = set.y_maximum = 240.0f;
  bool exist = false;
  Status status = kStatusGood;
  KZT_KESTAGRID(false, kMax, kMax, kPeaks, kPeaks, 0.01f, kMaxSplineKnots, kMaxSplineKnots, xp, yp,
                xd, yd, exist, set, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(exist);
  for (const float p : {20.0f, 100.0f, 200.0f}) {
    float vx = 0.0f, vy = 0.0f;
    MA_CAL_NBCUBSPLINE(set.x.xnumknots, set.x.xnumknots, set.x.lambda, set.x.ynumknots,
                       set.x.ynumknots, set.x.mu, set.x.num_coeffs(), set.x.coeffs, p, p, vx,
                       status);
    MA_CAL_NBCUBSPLINE(set.y.xnumknots, set.y.xnumknots, set.y.lambda, set.y.ynumknots,
                       set.y.ynumknots, set.y.mu, set.y.num_coeffs(), set.y.coeffs, p, p, vy,
                       status);
    EXPECT_NEAR(vx, 0.5f + 0.002f * p, 0.02f) << p;
    EXPECT_NEAR(vy, -0.3f + 0.001f * p, 0.02f) << p;
  }
  EXPECT_NE(terminal.text().find("INFO: Worst case fit discrepancies"), std::string::npos);
}

// The fast kernel against a plain pixel-by-pixel loop on random tables: runs
// of equal shifts broken at random, over-loaded and NaN pixels, regions that
// stop short of the arrays, and an image large enough to use threads. Values
// are quarters, so every sum is exact and the results agree to the bit.
TEST(FastCorrectionKernel, AgreesWithAPlainLoop) {
  struct Case {
    Index xmax, ymax, extra, xs, ys, xe, ye, mxs, mys, mxe, mye;
  };
  const Case cases[] = {{40, 30, 3, 3, 2, 37, 28, 2, 4, 39, 26},
                        {12, 9, 0, 1, 1, 12, 9, 1, 1, 12, 9},
                        {520, 512, 1, 1, 1, 520, 512, 1, 1, 520, 512}};
  std::mt19937 random(17);
  const auto uniform = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(random);
  };
  const float overload = 900.0f;
  for (const Case& c : cases) {
    DistortionTable table;
    ASSERT_TRUE(table.allocate(c.xmax + c.extra, c.ymax));
    std::vector<float> data(static_cast<std::size_t>(c.xmax * c.ymax));
    int sx = 0, sy = 0;
    for (Index y = 1; y <= c.ymax; ++y)
      for (Index x = 1; x <= c.xmax; ++x) {
        const Index k = element(x, y, table.xmaxlut);
        if (uniform(0, 3) == 0) sx = uniform(-7, 7), sy = uniform(-7, 7);
        table.x_shifts[k] = static_cast<std::int8_t>(sx);
        table.y_shifts[k] = static_cast<std::int8_t>(sy);
        std::array<int, 10> cuts{0, 255};
        for (int i = 2; i < 10; ++i) cuts[i] = uniform(0, 1) ? uniform(0, 255) : 0;
        std::sort(cuts.begin(), cuts.end());
        for (int i = 0; i < 9; ++i)
          table.fractions[9 * k + i] = static_cast<std::uint8_t>(cuts[i + 1] - cuts[i]);
        const int roll = uniform(0, 200);
        float& v = data[element(x, y, c.xmax)];
        v = roll == 0 ? std::nanf("") : roll < 4 ? 1000.0f : 0.25f * uniform(-3000, 3000);
      }
    std::vector<float> got(static_cast<std::size_t>(c.xmax * c.ymax), 0.5f);
    std::vector<double> sums(got.size(), 0.0);
    KZT_CORR_FASTC(table, overload, c.xmax, c.ymax, c.xs, c.ys, c.xe, c.ye, data, c.mxs, c.mys,
                   c.mxe, c.mye, got);
    for (Index y = c.ys; y <= c.ye; ++y)
      for (Index x = c.xs; x <= c.xe; ++x) {
        const Index k = element(x, y, table.xmaxlut);
        const float v = data[element(x, y, c.xmax)];
        for (int i = 0; i < 9; ++i) {
          const Index cx = x + table.x_shifts[k] + i % 3, cy = y + table.y_shifts[k] + i / 3;
          const std::uint8_t f = table.fractions[9 * k + i];
          if (f == 0 || cx < c.mxs || cx > c.mxe || cy < c.mys || cy > c.mye) continue;
          sums[element(cx, cy, c.xmax)] += v < overload ? double{v} * f : 255.0 * v;
        }
      }
    for (std::size_t i = 0; i < got.size(); ++i) {
      const float want = static_cast<float>(0.5 + sums[i]);
      if (std::isnan(want))
        EXPECT_TRUE(std::isnan(got[i])) << c.xmax << " cell " << i;
      else
        ASSERT_EQ(got[i], want) << c.xmax << " cell " << i;
    }
  }
}

}  // namespace
}  // namespace kesta

namespace kesta {
namespace {

// Constant shifts far beyond the -7..7 steps between neighbouring pixels of a
// table file, up to what a signed byte holds, against the two-triangle
// correction of the same spline: nothing written outside the arrays (ASan),
// and every share landing in the image is added. A construction clamps its
// first shift to -127 before it settles the block, so -127 and -128 are the
// -126 table moved by one or two more.
TEST(FastCorrectionShifts, LargeConstantShiftsFollowTheSplineCorrection) {
  constexpr Index n = 150;
  std::vector<float> axis(n), data(n * n);
  for (Index i = 0; i < n; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  for (Index y = 1; y <= n; ++y)
    for (Index x = 1; x <= n; ++x)
      data[element(x, y, n)] = static_cast<float>((x * 7 + y * 13) % 17 + 1);
  struct Case {
    float dx, dy;
    int extra_x, extra_y;  // added to every built shift
  };
  const Case cases[] = {{10, 0, 0, 0},      {-10, 0, 0, 0},   {0, 10, 0, 0},   {0, -10, 0, 0},
                        {30.5f, -30, 0, 0}, {-30, 30.5f, 0, 0}, {127, 0, 0, 0},  {0, 127, 0, 0},
                        {-127, 0, -1, 0},   {0, -127, 0, -1}, {-128, 0, -2, 0}, {0, -128, 0, -2},
                        {-128, -128, -2, -2}};
  testing::TerminalCapture terminal;
  for (const Case& c : cases) {
    const SplineSet set = testing::linear_set(n, n, c.dx, 0.0f, c.dy, 0.0f);
    Status status = kStatusGood;
    std::vector<float> exact(n * n, -1.0f), fast(n * n, -1.0f), mx(n), my(n);
    Index xs = 0, ys = 0, xe = 0, ye = 0;
    int rows = -40;
    float overload = 1.0e30f;
    KZT_CORR_SPATIAL(false, true, set, n, n, axis, axis, data, 1, 1, n, n, rows, overload, mx, my,
                     exact, xs, ys, xe, ye, status);
    ASSERT_EQ(status, kStatusGood);
    // The table from the same spline moved by the whole remaining pixel.
    DistortionTable table;
    ASSERT_TRUE(table.allocate(n, n));
    bool defined = false;
    const SplineSet built = testing::linear_set(n, n, c.dx - static_cast<float>(c.extra_x), 0.0f,
                                                c.dy - static_cast<float>(c.extra_y), 0.0f);
    KZT_SDLUT(built, n, n, axis, axis, table, defined, status);
    ASSERT_TRUE(defined);
    for (auto& s : table.x_shifts) s = static_cast<std::int8_t>(s + c.extra_x);
    for (auto& s : table.y_shifts) s = static_cast<std::int8_t>(s + c.extra_y);
    KZT_CORR_FAST(true, table, n, n, axis, axis, data, 1, 1, n, n, overload, mx, my, fast, xs, ys,
                  xe, ye, status);
    ASSERT_EQ(status, kStatusGood);
    double landed = 0.0;
    for (Index y = 1; y <= n; ++y)
      for (Index x = 1; x <= n; ++x) {
        const float want = exact[element(x, y, n)];
        landed += fast[element(x, y, n)];
        // The spline correction sees the edge pixels' neighbours differently.
        if (x > 2 && x < n - 1 && y > 2 && y < n - 1) {
          ASSERT_NEAR(fast[element(x, y, n)], want, 2.0f * 17.0f / 255.0f)
              << c.dx << "," << c.dy << " at " << x << "," << y;
        }
      }
    // The shares of the input pixels whose block lies in the image.
    double expected = 0.0;
    const Index sx = static_cast<Index>(std::floor(c.dx)), sy = static_cast<Index>(std::floor(c.dy));
    for (Index y = 1; y <= n; ++y)
      for (Index x = 1; x <= n; ++x)
        if (x + sx >= 1 && x + sx + 1 <= n && y + sy >= 1 && y + sy + 1 <= n)
          expected += data[element(x, y, n)];
    EXPECT_GE(landed, expected * (1.0 - 1.0e-4)) << c.dx << "," << c.dy;
    EXPECT_GT(landed, 0.0) << c.dx << "," << c.dy;
  }
}

}  // namespace
}  // namespace kesta
