#include "app/imageops/display_commands.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/state.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

class DisplayCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    kesta::testing::reset_dialogue();
    Status status = kStatusGood;
    GS_DEF_ATTRIBUTES(status);
  }
  void TearDown() override { kesta::testing::reset_dialogue(); }
};

TEST_F(DisplayCommands, ZoomRegionFromTwoPointsStaysInsideTheData) {
  const struct {
    float x1, y1, x2, y2;
    Index xs, ys, xe, ye;
  } cases[] = {
      {10.2f, 3.9f, 4.5f, 20.0f, 5, 4, 11, 21},  // either order
      {4.5f, 20.0f, 10.2f, 3.9f, 5, 4, 11, 21},
      {-3.0f, -1.0f, 600.0f, 300.0f, 1, 1, 512, 256},
      {530.0f, 10.0f, 520.0f, 12.0f, 511, 11, 512, 13},  // beyond the right edge
      {-5.0f, 10.0f, -2.0f, 12.0f, 1, 11, 2, 13},        // beyond the left edge
  };
  for (const auto& c : cases) {
    Index xs = 0, ys = 0, xe = 0, ye = 0;
    Status status = kStatusGood;
    TerminalCapture terminal;
    kzt_zoom_region(c.x1, c.y1, c.x2, c.y2, 512, 256, xs, ys, xe, ye, status);
    EXPECT_EQ(std::vector<Index>({xs, ys, xe, ye}), std::vector<Index>({c.xs, c.ys, c.xe, c.ye}))
        << c.x1 << " " << c.x2;
    EXPECT_EQ(terminal.text().rfind("INFO: Zoom pixel region = (", 0), 0u);
  }
  // A one-pixel-wide image never starts below pixel 1.
  Index xs = 0, ys = 0, xe = 0, ye = 0;
  Status status = kStatusGood;
  TerminalCapture terminal;
  kzt_zoom_region(3.0f, 0.5f, 4.0f, 0.5f, 1, 5, xs, ys, xe, ye, status);
  EXPECT_EQ(terminal.text(), "INFO: Zoom pixel region = (     1,      1) to (     1,      1)\n");
}

TEST_F(DisplayCommands, FullRegionOfARowFollowsTheGraphRangeSwitches) {
  const struct {
    bool xmin, ymin, xmax, ymax;
    Index xs, xe, ys, ye;
  } cases[] = {{true, true, true, true, 1, 40, 1, 30},
               {true, false, true, true, 1, 40, 7, 7},
               {true, true, false, true, 1, 40, 1, 30}};
  for (const auto& c : cases) {
    Status status = kStatusGood;
    GS_SET_AUTODDR(c.xmin, c.ymin, c.xmax, c.ymax, status);
    Index xs = 5, ys = 7, xe = 9, ye = 7;
    KZT_FULL(40, 30, xs, ys, xe, ye, status);
    EXPECT_EQ(std::vector<Index>({xs, xe, ys, ye}), std::vector<Index>({c.xs, c.xe, c.ys, c.ye}));
    bool a = false, b = false, d = false, e = false;
    GS_INQ_AUTODDR(a, b, d, e, status);
    EXPECT_TRUE(a && b && e);
  }
}

TEST_F(DisplayCommands, PixelRegionAsksEveryLimitBeforeChangingTheRegion) {
  Index xs = 2, ys = 3, xe = 8, ye = 9;
  {
    ScriptedInput input({"4", "", "6", "\\\\"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_PIXELREGION(20, 20, 10, 12, xs, ys, xe, ye, status);
    EXPECT_EQ(status, kStatusEscape);
    EXPECT_EQ(std::vector<Index>({xs, ys, xe, ye}), std::vector<Index>({2, 3, 8, 9}));
  }
  ScriptedInput input({"4", "", "3", "6", ""});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_PIXELREGION(20, 20, 10, 12, xs, ys, xe, ye, status);
  EXPECT_EQ(std::vector<Index>({xs, ys, xe, ye}), std::vector<Index>({4, 3, 6, 9}));
  EXPECT_EQ(input.prompts.at(2), "X-UPPER LIMIT (Range: 4 to 10) [8]:");
}

TEST_F(DisplayCommands, ZscaleRefusesAnEmptyRangeAndStoresItsKeys) {
  ScriptedInput input({"1", "5", "5", "1", "2", "7", "YES"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_ZSCALE(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find(
                "WARNING: The minimum of the range has been set greater than or equal to the\n"
                "WARNING: maximum of the display range. You must reset the values.\n"),
            std::string::npos);
  int mode = -1;
  float minimum = 0.0f, maximum = 0.0f;
  GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(minimum, 2.0f);
  EXPECT_EQ(maximum, 7.0f);
  bool x_linear = false, y_linear = true;
  GS_INQ_DATALOGLIN(x_linear, y_linear, status);
  EXPECT_FALSE(y_linear);
  int retstat = -1;
  int stored_mode = -1;
  float stored_max = 0.0f;
  bool stored_log = false;
  IO_INQ_IKEYVALUE("Z_SCALING_MODE", stored_mode, retstat, status);
  IO_INQ_RKEYVALUE("Z_SCALING_MAXIMUM", stored_max, retstat, status);
  IO_INQ_LKEYVALUE("Z_SCALING_LOG", stored_log, retstat, status);
  EXPECT_EQ(stored_mode, 1);
  EXPECT_EQ(stored_max, 7.0f);
  EXPECT_TRUE(stored_log);
  float xmin = 0.0f, ymin = 0.0f, xmax = 0.0f, ymax = 0.0f;
  GS_INQ_DDR(xmin, ymin, xmax, ymax, status);
  EXPECT_EQ(ymin, 2.0f);
  EXPECT_EQ(ymax, 7.0f);

  // Asked again, the range offered is the one offered before, not the refused one.
  ScriptedInput again({"1", "5", "5", "", "", "", ""});
  KZT_ZSCALE(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(again.remaining(), 0u);
  GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
  EXPECT_EQ(minimum, 2.0f);
  EXPECT_EQ(maximum, 7.0f);
}

TEST_F(DisplayCommands, AspectAndPixelLimitsAreStored) {
  ScriptedInput input({"NO", "300", "40"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_ASPECTRATIO(status);
  KZT_DISPLAYLIMITS(status);
  bool keep = true;
  int image_limit = 0, limit_3d = 0;
  GS_INQ_IASPECT(keep, status);
  GS_INQ_PIXELLIMITS(image_limit, limit_3d, status);
  EXPECT_FALSE(keep);
  EXPECT_EQ(image_limit, 300);
  EXPECT_EQ(limit_3d, 40);
  // The limits the display takes are the largest offered: beyond them the
  // question asks again instead of the setter failing.
  ScriptedInput largest({"4001", "4000", "2001", "2000"});
  KZT_DISPLAYLIMITS(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(largest.remaining(), 0u);
  GS_INQ_PIXELLIMITS(image_limit, limit_3d, status);
  EXPECT_EQ(image_limit, 4000);
  EXPECT_EQ(limit_3d, 2000);
}

TEST_F(DisplayCommands, AxisScalesProposeTheCurrentStepAndRefuseZero) {
  std::vector<float> xaxis = {0.5f, 1.5f, 2.5f, 3.5f};
  std::vector<float> yaxis = {7.0f, 0.0f};
  ScriptedInput input({"", "0", "2", "", ""});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_AXESSCALES(false, 4, 2, 3, 1, 1, 1, 3, 1, xaxis, yaxis, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.prompts.at(1), "X-AXIS ELEMENT INCREMENT [1.000000]:");
  EXPECT_EQ(input.prompts.at(4), "Y-AXIS ELEMENT INCREMENT [1.000000]:");  // one row
  EXPECT_EQ(xaxis, (std::vector<float>{0.5f, 2.5f, 4.5f, 3.5f}));
  EXPECT_EQ(yaxis, (std::vector<float>{7.0f, 0.0f}));
  // An escape leaves the axes.
  ScriptedInput escape({"9", "\\\\"});
  KZT_AXESSCALES(false, 4, 2, 3, 1, 1, 1, 3, 1, xaxis, yaxis, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(xaxis, (std::vector<float>{0.5f, 2.5f, 4.5f, 3.5f}));
  status = kStatusGood;
  KZT_AXES(0, 1, 0.0f, 1.0f, xaxis, status);
  EXPECT_EQ(status, 110001);
}

}  // namespace

namespace {

TEST_F(DisplayCommands, GraphicalZoomAndPagePositionFromReplayedPoints) {
  constexpr Index kX = 10, kY = 8;
  std::vector<float> data(kX * kY, 1.0f), xaxis(kX), yaxis(kY);
  for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  for (const bool escape : {false, true}) {
    Index xs = 1, ys = 1, xe = kX, ye = kY;
    ScriptedInput input(escape ? std::vector<std::string>{"2", "\\\\"}
                               : std::vector<std::string>{"2", "2.5", "6.2", "7.9", "3.1"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_ZOOMIN(kX, kY, kX, kY, xaxis, yaxis, data, "t", "x", "y", "z", xs, ys, xe, ye, status);
    EXPECT_EQ(status, kStatusGood);
    const std::vector<Index> want =
        escape ? std::vector<Index>{1, 1, kX, kY} : std::vector<Index>{3, 4, 8, 7};
    EXPECT_EQ(std::vector<Index>({xs, ys, xe, ye}), want) << terminal.text();
  }

  ScriptedInput input({"0.6", "0.2", "0.1", "0.5"});
  Status status = kStatusGood;
  KZT_POSITION(status);
  ASSERT_EQ(status, kStatusGood);
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  GS_INQ_GPP(x1, y1, x2, y2, status);
  EXPECT_EQ(std::vector<float>({x1, y1, x2, y2}), std::vector<float>({0.1f, 0.2f, 0.6f, 0.5f}));
}

}  // namespace

namespace {

TEST_F(DisplayCommands, GraphicalZoomOfARowOrColumnTakesTheDraggedRange) {
  constexpr Index kX = 10, kY = 8;
  std::vector<float> data(kX * kY, 1.0f), xaxis(kX), yaxis(kY);
  for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < kY; ++j) yaxis[j] = 2.0f * static_cast<float>(j) + 1.0f;
  const struct {
    Index xs, ys, xe, ye;  // a row or a column
    std::vector<std::string> clicks;
    std::vector<Index> want;
  } cases[] = {
      {1, 3, kX, 3, {"2", "6.7", "0", "2.2", "5"}, {3, 3, 7, 3}},
      {4, 1, 4, kY, {"2", "2.5", "0", "9.9", "0"}, {4, 2, 4, 5}},  // data units 2 j - 1
      {1, 1, kX, 1, {"2", "-4", "0", "40", "0"}, {1, 1, kX, 1}},   // beyond both ends
      {1, 1, kX, 1, {"2", "\\\\"}, {1, 1, kX, 1}},                 // an escape
  };
  for (const auto& c : cases) {
    Index xs = c.xs, ys = c.ys, xe = c.xe, ye = c.ye;
    ScriptedInput input(c.clicks);
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_ZOOMIN(kX, kY, kX, kY, xaxis, yaxis, data, "t", "x", "y", "z", xs, ys, xe, ye, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(std::vector<Index>({xs, ys, xe, ye}), c.want) << c.clicks[1];
  }
}

}  // namespace
