#include "numeric/rebin.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// An XMAX x YMAX image whose element (x, y) holds 100 y + x.
std::vector<float> ramp(Index xmax, Index ymax) {
  std::vector<float> a(static_cast<std::size_t>(xmax * ymax));
  for (Index y = 1; y <= ymax; ++y)
    for (Index x = 1; x <= xmax; ++x) a[element(x, y, xmax)] = float(100 * y + x);
  return a;
}

double sum(const std::vector<float>& a) { return std::accumulate(a.begin(), a.end(), 0.0); }

TEST(Rebin, BlockSumsAndMeansIgnoreTheIncompleteEdge) {
  const std::vector<float> data = ramp(6, 6);
  for (const bool average : {false, true}) {
    std::vector<float> out(16, -1.0f);
    Index oxe = 0, oye = 0;
    Status status = ST_GOOD();
    MA_RREBIN(6, 6, data, 2, 2, 6, 6, 2, 2, average, 2, 1, 4, 4, out, oxe, oye, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_EQ(oxe, 3);
    EXPECT_EQ(oye, 2);
    for (Index j = 0; j < 2; ++j)
      for (Index i = 0; i < 2; ++i) {
        double s = 0;
        for (Index y = 2 + 2 * j; y < 4 + 2 * j; ++y)
          for (Index x = 2 + 2 * i; x < 4 + 2 * i; ++x) s += data[element(x, y, 6)];
        EXPECT_FLOAT_EQ(out[element(2 + i, 1 + j, 4)], float(average ? s / 4 : s));
      }
    EXPECT_EQ(out[element(1, 1, 4)], -1.0f);  // outside the output region
    EXPECT_EQ(out[element(2, 3, 4)], -1.0f);
  }
}

TEST(Rebin, BlockMeansAreSummedFromTheLeftInDoubleForEveryFactor) {
  // Values of very different sizes, so that any other order of the additions
  // rounds differently; 23 blocks leave a tail after steps of four.
  const Index xmax = 8 * 23 + 3, ymax = 16;
  std::vector<float> data(static_cast<std::size_t>(xmax * ymax));
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<float>((i * 2654435761u) % 1000003) * (i % 3 == 0 ? 1e7f : 1e-3f) -
              (i % 5 == 0 ? 3e9f : 0.0f);
  for (const Index bin : {1, 2, 3, 4, 8}) {
    const Index nx = (xmax - 1) / bin, ny = ymax / bin;
    std::vector<float> out(static_cast<std::size_t>(nx * ny));
    Index oxe = 0, oye = 0;
    Status status = ST_GOOD();
    MA_RREBIN(xmax, ymax, data, 2, 1, xmax, ymax, bin, bin, true, 1, 1, nx, ny, out, oxe, oye,
              status);
    ASSERT_EQ(status, ST_GOOD());
    for (Index j = 0; j < ny; ++j)
      for (Index i = 0; i < nx; ++i) {
        double sum = 0.0;
        for (Index y = 1 + j * bin; y <= (j + 1) * bin; ++y) {
          double s = 0.0;
          for (Index x = 2 + i * bin; x < 2 + (i + 1) * bin; ++x) s += data[element(x, y, xmax)];
          sum += s;
        }
        const float expected = static_cast<float>(sum * (1.0 / double(bin * bin)));
        ASSERT_EQ(out[element(i + 1, j + 1, nx)], expected) << bin << ": " << i << "," << j;
      }
  }
}

TEST(Rebin, RefusedOutputs) {
  const std::vector<float> data = ramp(6, 6);
  std::vector<float> out(9, -1.0f);
  Index oxe = 0, oye = 0;
  Status status = ST_GOOD();
  // 6 / 2 = 3 columns from column 2 end at 4 > 3: the ends come back anyway.
  MA_RREBIN(6, 6, data, 1, 1, 6, 6, 2, 2, false, 2, 1, 3, 3, out, oxe, oye, status);
  EXPECT_EQ(status, 20009);
  EXPECT_EQ(oxe, 4);
  // A region narrower than one block leaves an empty output region.
  testing::TerminalCapture terminal;
  status = ST_GOOD();
  MA_RREBIN(6, 6, data, 1, 1, 1, 6, 2, 2, false, 1, 1, 3, 3, out, oxe, oye, status);
  EXPECT_EQ(status, 20005);
  status = ST_GOOD();
  MA_RREBIN(6, 6, data, 1, 1, 6, 6, 2, 0, false, 1, 1, 3, 3, out, oxe, oye, status);
  EXPECT_EQ(status, 20018);
  status = ST_GOOD();
  MA_RREBIN(6, 6, data, 1, 1, 6, 6, 2, 2, false, 0, 1, 3, 3, out, oxe, oye, status);
  EXPECT_EQ(status, 20005);
  EXPECT_EQ(sum(out), -9.0);
}

TEST(Rebin, BlockExtremes) {
  const std::vector<float> data = ramp(5, 4);
  Status status = ST_GOOD();
  float lo = 0, hi = 0;
  MA_REBINMINMAX(5, 4, data, 1, 1, 5, 4, 2, 2, lo, hi, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_FLOAT_EQ(lo, 151.5f);  // mean of (1..2) x (1..2)
  EXPECT_FLOAT_EQ(hi, 353.5f);  // mean of (3..4) x (3..4); column 5 is left over
  MA_REBINMAX(5, 4, data, 1, 1, 5, 4, 5, 1, hi, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_FLOAT_EQ(hi, 403.0f);
  MA_REBINMIN(5, 4, data, 1, 1, 5, 4, 6, 1, lo, status);
  EXPECT_EQ(status, 20017);
  // A NaN or an infinity takes no part in its block's mean; without a
  // finite block the start values stay, as the plain extremes leave them.
  std::vector<float> bad = ramp(5, 4);
  bad[0] = std::numeric_limits<float>::quiet_NaN();
  bad[element(4, 4, 5)] = std::numeric_limits<float>::infinity();
  status = ST_GOOD();
  MA_REBINMINMAX(5, 4, bad, 1, 1, 5, 4, 2, 2, lo, hi, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_FLOAT_EQ(lo, 153.5f);  // the means of (3..4, 1..2) and (1..2, 3..4)
  EXPECT_FLOAT_EQ(hi, 351.5f);
  std::fill(bad.begin(), bad.end(), std::numeric_limits<float>::quiet_NaN());
  bad[element(4, 4, 5)] = std::numeric_limits<float>::infinity();
  MA_REBINMINMAX(5, 4, bad, 1, 1, 5, 4, 5, 4, lo, hi, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_GT(lo, hi);
  EXPECT_EQ(hi, -1.7e38f);
}

// The binned 3-D view's blocks: the mean of each block's finite pixels, so
// one bad pixel spoils nothing; a block without a finite pixel keeps its
// plain mean (NaN, or the infinity it holds). The block extremes follow.
TEST(Rebin, FiniteBlockMeansLeaveOutOnlyTheBadPixels) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> data = ramp(6, 4);  // 100 y + x, in 2 x 2 blocks
  data[element(1, 1, 6)] = nan;          // block (1, 1): 102, 201, 202
  data[element(6, 2, 6)] = -inf;         // block (3, 1): 105, 106, 205
  for (const Index x : {3, 4})
    for (const Index y : {3, 4}) data[element(x, y, 6)] = y == 3 ? nan : 0.0f;
  data[element(5, 3, 6)] = data[element(6, 3, 6)] = inf;  // block (3, 2): +inf only
  data[element(5, 4, 6)] = data[element(6, 4, 6)] = inf;
  std::vector<float> out(3 * 2, -1.0f);
  Index oxe = 0, oye = 0;
  Status status = ST_GOOD();
  ma_finite_block_means(6, 4, data, 1, 1, 6, 4, 2, 2, 3, 2, out, oxe, oye, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_EQ(oxe, 3);
  EXPECT_EQ(oye, 2);
  EXPECT_FLOAT_EQ(out[0], (102.0f + 201.0f + 202.0f) / 3.0f);
  EXPECT_FLOAT_EQ(out[1], (103.0f + 104.0f + 203.0f + 204.0f) / 4.0f);
  EXPECT_FLOAT_EQ(out[2], (105.0f + 106.0f + 205.0f) / 3.0f);
  EXPECT_FLOAT_EQ(out[3], (301.0f + 302.0f + 401.0f + 402.0f) / 4.0f);
  EXPECT_FLOAT_EQ(out[4], 0.0f);  // two NaN, two zeros
  EXPECT_EQ(out[5], inf);
  data[element(3, 4, 6)] = data[element(4, 4, 6)] = nan;
  ma_finite_block_means(6, 4, data, 1, 1, 6, 4, 2, 2, 3, 2, out, oxe, oye, status);
  EXPECT_TRUE(std::isnan(out[4]));
  // The extremes are those finite means; the block of NaN and the one of
  // infinities take no part.
  float lo = 0.0f, hi = 0.0f;
  MA_REBINMINMAX(6, 4, data, 1, 1, 6, 4, 2, 2, lo, hi, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_FLOAT_EQ(lo, out[2]);
  EXPECT_FLOAT_EQ(hi, out[3]);
}

TEST(Rebin, FlipsMirrorOnlyTheRegion) {
  for (const bool left_right : {true, false}) {
    std::vector<float> a = ramp(5, 5);
    const std::vector<float> before = a;
    Status status = ST_GOOD();
    MA_RFLIP(left_right, 5, 5, 2, 1, 4, 5, a, status);
    ASSERT_EQ(status, ST_GOOD());
    for (Index y = 1; y <= 5; ++y)
      for (Index x = 1; x <= 5; ++x) {
        const bool in = x >= 2 && x <= 4;
        const Index sx = in && left_right ? 6 - x : x;
        const Index sy = in && !left_right ? 6 - y : y;
        EXPECT_EQ(a[element(x, y, 5)], before[element(sx, sy, 5)]);
      }
  }
}

TEST(Rebin, TransposeOfARegion) {
  const std::vector<float> in = ramp(5, 10);
  std::vector<float> out(10 * 5, 0.0f);
  Index oxs, oys, oxe, oye;
  Status status = ST_GOOD();
  MA_RTRANSPOSE(5, 10, in, 2, 3, 4, 10, 10, 5, out, oxs, oys, oxe, oye, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_EQ((std::vector<Index>{oxs, oys, oxe, oye}), (std::vector<Index>{3, 2, 10, 4}));
  double moved = 0;
  for (Index y = 3; y <= 10; ++y)
    for (Index x = 2; x <= 4; ++x) {
      EXPECT_EQ(out[element(y, x, 10)], in[element(x, y, 5)]);
      moved += in[element(x, y, 5)];
    }
  EXPECT_EQ(sum(out), moved);
  MA_RTRANSPOSE(5, 10, in, 2, 3, 4, 10, 9, 5, out, oxs, oys, oxe, oye, status);
  EXPECT_EQ(status, 20038);
}

TEST(Rebin, ScaleSharesEachElementByArea) {
  std::vector<float> data(4 * 4, 0.0f);
  data[element(2, 3, 4)] = 8.0f;
  std::vector<float> out(8 * 8, 0.0f);
  Status status = ST_GOOD();
  MA_RSCALE(4, 4, data, 1, 1, 4, 4, 2.0f, 2.0f, 0.0f, 0.0f, 1, 1, 8, 8, 8, 8, out, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index y = 5; y <= 6; ++y)
    for (Index x = 3; x <= 4; ++x) EXPECT_FLOAT_EQ(out[element(x, y, 8)], 2.0f);
  EXPECT_FLOAT_EQ(float(sum(out)), 8.0f);

  // A fractional scale about an off-grid centre conserves what lands inside.
  const std::vector<float> image = ramp(6, 6);
  struct Case {
    float scale, xc, yc;
  };
  for (const Case c : {Case{0.37f, 2.3f, 3.1f}, Case{1.7f, 0.0f, 0.0f}}) {
    std::vector<float> big(20 * 20, 0.0f);
    MA_RSCALE(6, 6, image, 1, 1, 6, 6, c.scale, c.scale, c.xc, c.yc, 1, 1, 20, 20, 20, 20, big,
              status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_NEAR(sum(big), sum(image), 1e-5 * sum(image)) << c.scale;
  }
  MA_RSCALE(4, 4, data, 1, 1, 4, 4, 10.5f, 1.0f, 0.0f, 0.0f, 1, 1, 8, 8, 8, 8, out, status);
  EXPECT_EQ(status, 20021);
}

}  // namespace
}  // namespace kesta
