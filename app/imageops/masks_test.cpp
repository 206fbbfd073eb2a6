#include "app/imageops/masks.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

// A W x H data set of declared size XMAX x YMAX, pixel-centre axes.
struct Image {
  Index xmax, ymax;
  std::vector<float> data, xaxis, yaxis;
  std::vector<std::uint8_t> mask;
  Image(Index xm, Index ym) : xmax(xm), ymax(ym), data(xm * ym), xaxis(xm), yaxis(ym), mask(xm * ym) {
    for (Index i = 0; i < xm; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < ym; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<float>(k % 7);
  }
  bool at(Index i, Index j) const { return mask[element(i, j, xmax)] != 0; }
  Index count() const { return std::count(mask.begin(), mask.end(), 1); }
};

TEST(MaskShapes, PeaksMaskWholePixelDiscsInsideTheData) {
  const struct {
    float px, py, radius;
    Index count;
  } cases[] = {
      {10.5f, 10.5f, 2.5f, 21},  // MASK PEAKS (5)
      {10.2f, 10.9f, 4.55f, 69},
      {0.2f, 0.3f, 2.5f, 8},     // a corner: the quarter disc only
      {16.9f, 10.5f, 2.5f, 13},  // at the last defined column
  };
  for (const auto& c : cases) {
    Image im(20, 20);
    kzt_mask_peaks(im.xmax, 17, 20, std::vector<float>{c.px}, std::vector<float>{c.py}, c.radius,
                   im.mask);
    EXPECT_EQ(im.count(), c.count) << c.px << " " << c.radius;
    for (Index j = 1; j <= 20; ++j)
      for (Index i = 18; i <= 20; ++i) EXPECT_FALSE(im.at(i, j));
  }
}

TEST(MaskShapes, PolygonMasksCentresInsideOrOnIt) {
  Image im(12, 10);
  Status status = kStatusGood;
  // A square from 2.2 to 5.5: the centres 3..6 of both axes, the right edge
  // passing through centres.
  kzt_mask_polygon(im.xmax, 12, 10, im.xaxis, im.yaxis, std::vector<float>{2.2f, 5.5f, 5.5f, 2.2f},
                   std::vector<float>{2.2f, 2.2f, 5.8f, 5.8f}, true, im.mask, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(im.count(), 16);
  EXPECT_TRUE(im.at(3, 3) && im.at(6, 6));
  EXPECT_FALSE(im.at(2, 3) || im.at(7, 6));

  // Two vertices: the centres on the segment.
  Image line(12, 10);
  kzt_mask_polygon(line.xmax, 12, 10, line.xaxis, line.yaxis, std::vector<float>{0.2f, 5.8f},
                   std::vector<float>{0.2f, 5.8f}, true, line.mask, status);
  EXPECT_EQ(line.count(), 6);
  for (Index k = 1; k <= 6; ++k) EXPECT_TRUE(line.at(k, k));

  // One vertex changes nothing; vertices beyond the data stay within it.
  Image big(12, 10);
  kzt_mask_polygon(big.xmax, 8, 10, big.xaxis, big.yaxis, std::vector<float>{4.0f},
                   std::vector<float>{4.0f}, true, big.mask, status);
  EXPECT_EQ(big.count(), 0);
  kzt_mask_polygon(big.xmax, 8, 10, big.xaxis, big.yaxis, std::vector<float>{-50, 90, 90, -50},
                   std::vector<float>{-50, -50, 90, 90}, true, big.mask, status);
  EXPECT_EQ(big.count(), 80);
  EXPECT_FALSE(big.at(9, 1));

  // Un-masking clears what a threshold masked; a second threshold never clears.
  kzt_mask_threshold(im.xmax, 1, 1, 12, 10, im.data, false, 4.5f, im.mask);
  const Index thresholded = im.count();
  kzt_mask_polygon(im.xmax, 12, 10, im.xaxis, im.yaxis, std::vector<float>{0, 12, 12, 0},
                   std::vector<float>{0, 0, 10, 10}, false, im.mask, status);
  EXPECT_EQ(im.count(), 0);
  std::fill(im.mask.begin(), im.mask.end(), 1);
  kzt_mask_threshold(im.xmax, 1, 1, 12, 10, im.data, true, 3.0f, im.mask);
  EXPECT_EQ(im.count(), 120);
  EXPECT_GT(thresholded, 0);
}

TEST(MaskShapes, ThresholdMasksStrictlyBeyondTheValueInTheRegion) {
  for (const bool less : {true, false}) {
    Image im(9, 6);
    kzt_mask_threshold(im.xmax, 2, 2, 8, 5, im.data, less, 3.0f, im.mask);
    for (Index j = 1; j <= 6; ++j)
      for (Index i = 1; i <= 9; ++i) {
        const float v = im.data[element(i, j, 9)];
        const bool inside = i >= 2 && i <= 8 && j >= 2 && j <= 5;
        EXPECT_EQ(im.at(i, j), inside && (less ? v < 3.0f : v > 3.0f)) << i << " " << j;
      }
  }
}

// Every pixel centre tested against the band by angle and distance.
std::vector<std::uint8_t> arc_oracle(Index n, double xc, double yc, double r, double width,
                                     double from, double to) {
  std::vector<std::uint8_t> m(n * n);
  const double lo = std::max(0.0, r - width / 2), hi = r + width / 2;
  for (Index j = 1; j <= n; ++j)
    for (Index i = 1; i <= n; ++i) {
      const double dx = i - 0.5 - xc, dy = j - 0.5 - yc;
      const double d = std::sqrt(dx * dx + dy * dy);
      double a = std::atan2(dy, dx);
      if (a < from) a += 2 * M_PI;
      if (d >= lo && d <= hi && a >= from && a <= to) m[element(i, j, n)] = 1;
    }
  return m;
}

TEST(MaskShapes, ArcBandFollowsTheThreePointsEitherWay) {
  constexpr Index kN = 64;
  Status status = kStatusGood;
  // Quarter circle about (32, 32), radius 20: from the +X axis through 45
  // degrees to +Y, anticlockwise; and a wrapping arc from -Y through +X to +Y.
  const float h = 20.0f / std::sqrt(2.0f);
  const struct {
    std::array<float, 3> x, y;
    double from, to;
  } cases[] = {{{52.0f, 32.0f + h, 32.0f}, {32.0f, 32.0f + h, 52.0f}, 0.0, M_PI / 2},
               {{32.0f, 52.0f, 32.0f}, {12.0f, 32.0f, 52.0f}, -M_PI / 2, M_PI / 2}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> forward(kN * kN), backward(kN * kN);
    ASSERT_TRUE(kzt_mask_arc(kN, 1, 1, kN, kN, c.x, c.y, 5.0f, forward, status));
    const std::array<float, 3> rx{c.x[2], c.x[1], c.x[0]}, ry{c.y[2], c.y[1], c.y[0]};
    ASSERT_TRUE(kzt_mask_arc(kN, 1, 1, kN, kN, rx, ry, 5.0f, backward, status));
    EXPECT_EQ(forward, backward);
    const auto oracle = arc_oracle(kN, 32.0, 32.0, 20.0, 5.0, c.from - 1e-6, c.to + 1e-6);
    Index differ = 0;
    for (std::size_t k = 0; k < oracle.size(); ++k) differ += oracle[k] != forward[k];
    EXPECT_LE(differ, 2) << c.from;  // only pixels on a bound may round either way
    EXPECT_GT(std::count(forward.begin(), forward.end(), 1), 100);
  }
  // Collinear points: no circle, no change.
  std::vector<std::uint8_t> m(kN * kN);
  EXPECT_FALSE(kzt_mask_arc(kN, 1, 1, kN, kN, {1, 2, 3}, {1, 2, 3}, 5.0f, m, status));
  EXPECT_EQ(std::count(m.begin(), m.end(), 1), 0);
  // The region limits the band.
  EXPECT_TRUE(kzt_mask_arc(kN, 1, 1, 32, kN, cases[0].x, cases[0].y, 5.0f, m, status));
  for (Index j = 1; j <= kN; ++j)
    for (Index i = 33; i <= kN; ++i) EXPECT_EQ(m[element(i, j, kN)], 0);
}

// The menu without a window: choices, points and answers typed as a macro
// replays them.
struct MaskMenu : kesta::testing::PageFixture {
  void SetUp() override {
    PageFixture::SetUp();
    // A page that is not a window: widgets take typed answers, as in a replay.
    qg_db_system.category[0] = kCategoryPostScript;
    kesta::testing::reset_dialogue();
    kzt_forget_answers();
  }
};

TEST_F(MaskMenu, ActionsFromTypedChoicesAndAnEscapeKeepsTheMenu) {
  Image im(20, 16);
  Index xs = 1, ys = 1, xe = 20, ye = 16;
  ScriptedInput input({"MASK PEAKS (5)", "1", "10.5", "8.5", "MASK POLYGON", "\\\\",
                       "THRESHOLD MASK", "NO", "5.5", "MASK ARC", "3", "1", "1", "2", "2", "3",
                       "3", "FULL UN-ZOOM", "EXIT"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_MASK(false, im.xmax, im.ymax, 20, 16, im.data, im.xaxis, im.yaxis, "t", "x", "y", "z",
           1e-4f, 1e-4f, xs, ys, xe, ye, im.mask, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_TRUE(im.at(10, 8) && im.at(12, 8) && !im.at(11, 14));
  for (std::size_t k = 0; k < im.data.size(); ++k)
    if (im.data[k] == 6.0f) {
      EXPECT_EQ(im.mask[k], 1) << k;
    }
  EXPECT_NE(terminal.text().find("WARNING: Arc centre cannot be calculated"), std::string::npos);
  EXPECT_NE(text("CONTROL RETURNED TO TERMINAL WINDOW"), nullptr);
  EXPECT_FALSE(of("real_cell_array").empty());

  // The end of the input leaves the menu with the mask as it was.
  ScriptedInput ended({"CLEAR MASK"});
  KZT_MASK(true, im.xmax, im.ymax, 20, 16, im.data, im.xaxis, im.yaxis, "t", "x", "y", "z",
           1e-4f, 1e-4f, xs, ys, xe, ye, im.mask, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(im.count(), 0);
}

TEST_F(MaskMenu, BadRegionsAreRefusedWithTheirCodes) {
  Image im(8, 8);
  const struct {
    Index xmax, xs, xe;
    Status code;
  } cases[] = {{0, 1, 8, 110001}, {8, 3, 2, 110005}, {8, 1, 9, 110005}};
  for (const auto& c : cases) {
    Index xs = c.xs, ys = 1, xe = c.xe, ye = 8;
    Status status = kStatusGood;
    KZT_MASK(true, c.xmax, 8, 8, 8, im.data, im.xaxis, im.yaxis, "", "", "", "", 0, 0, xs, ys, xe,
             ye, im.mask, status);
    EXPECT_EQ(status, c.code);
  }
}

}  // namespace
