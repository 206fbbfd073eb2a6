// x/y graphs: automatic ranges, log data, curve shapes, markers, error bars
// and the key, recorded in page coordinates.

#include <cmath>

#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::PageFixture;
using testing::PageItem;
using XyGraphTest = PageFixture;

TEST_F(XyGraphTest, AutomaticRange) {
  const std::vector<float> x = {0, 2.5f, 5, 7.5f, 10};
  const std::vector<float> flat(5, 3.0f);
  Status s = kStatusGood;
  GS_XYSGRAPH(5, 1, 5, x, flat, "T", "X", "Y", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(gs_state.dddr.xmin, -0.5f);
  EXPECT_FLOAT_EQ(gs_state.dddr.xmax, 10.5f);
  EXPECT_FLOAT_EQ(gs_state.dddr.ymin, 2.99f);
  EXPECT_FLOAT_EQ(gs_state.dddr.ymax, 3.01f);
  EXPECT_NE(text("T"), nullptr);

  // A user maximum below all data: the range is still drawable.
  testing::TerminalCapture terminal;
  GS_SET_AUTODDR(true, true, true, false, s);
  GS_SET_DDR(0, 0, 1, 1, s);
  const std::vector<float> high = {5, 7.5f, 10, 12.5f, 15};
  GS_XYSGRAPH(5, 1, 5, x, high, "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(gs_state.dddr.ymin, 4.49f);  // 5 % below the data, then 0.01
  EXPECT_FLOAT_EQ(gs_state.dddr.ymax, gs_state.dddr.ymin + 1000.0f);
  EXPECT_NE(terminal.text().find("Y-value"), std::string::npos);

  Status bad = kStatusGood;
  GS_XYSGRAPH(5, 0, 5, x, x, "", "", "", bad);
  EXPECT_EQ(bad, 140005);
}

TEST_F(XyGraphTest, LogDataRaiseTheRequestedMinimum) {
  const std::vector<float> x = {0, 1, 10, 100};
  Status s = kStatusGood;
  GS_SET_DATALOGLIN(false, true, s);
  GS_SET_AXESLOGLIN(false, true, s);
  GS_SET_AUTODDR(false, true, true, true, s);
  GS_SET_DDR(0.0f, 0.0f, 100.0f, 1.0f, s);
  GS_XYSGRAPH(4, 1, 4, x, x, "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(gs_state.dddr.xmin, -3.0f);
  EXPECT_FLOAT_EQ(gs_state.ddr.xmin, 0.0f);  // the request itself is kept
}

TEST_F(XyGraphTest, CurveShapes) {
  Status s = kStatusGood;
  QG_DATAWINDOW(0, 0, 10, 10, s);
  QG_VIEWPORT(0, 0, 1, 1, s);
  const std::vector<float> x = {0, 1, 2, 3, 4, 5, 6};
  const std::vector<float> steps = {0, 0, 5, 5.2f, 9, 9, 10};
  items.clear();
  GS_PMLINE(7, 1, 7, x, steps, false, s);
  ASSERT_EQ(s, kStatusGood);
  float previous = -1.0f;
  std::size_t points = 0;
  for (const PageItem* line : of("polyline"))
    for (const float y : line->y) {
      EXPECT_GE(y + 1e-5f, previous);  // never turns back, never overshoots
      EXPECT_LE(y, 1.0f + 1e-6f);
      previous = y;
      ++points;
    }
  EXPECT_EQ(points, 6u * 20u);

  items.clear();
  GS_SET_CURVELINE(1, 1, kGsBlack, 1, true, 0, s);
  GS_SET_CURVESTYLE(1, true, false, false, s);
  const std::array<Index, 1> start{1}, end{3};
  const std::vector<float> tx = {1, 3, 2}, ty = {1, 1, 3};
  GS_XYCURVE({3, 1, 1, start, end, tx, ty, {}, {}, {}, {}}, 0, 1, s);
  ASSERT_EQ(of("polyline").size(), 2u);  // the curve and the closing side
  EXPECT_FLOAT_EQ(of("polyline")[1]->x[1], 0.1f);
}

TEST_F(XyGraphTest, MarkersAndErrorBars) {
  Status s = kStatusGood;
  QG_DATAWINDOW(0, 0, 1, 1, s);
  QG_VIEWPORT(0, 0, 1, 1, s);
  const float px = 0.5f, py = 0.5f;
  for (int type = 1; type <= 13; ++type) {
    items.clear();
    GS_SET_CURVEMARKERS(1, type, kGsRed, 2.0f, s);
    GS_SET_CURVESOFTMARKERS(1, 1, true, kGsBlue, s);
    GS_MARKERS(1, 1, 1, 1, std::span<const float>(&px, 1), std::span<const float>(&py, 1), s);
    ASSERT_EQ(s, kStatusGood) << type;
    EXPECT_FALSE(items.empty()) << type;
    const bool filled = type == 4 || (type >= 6 && type <= 12);
    EXPECT_EQ(!of("fill_area").empty(), filled) << type;
    for (const PageItem* line : of("polyline"))
      for (std::size_t k = 0; k < line->x.size(); ++k)
        EXPECT_LE(std::hypot(line->x[k] - 0.5f, line->y[k] - 0.5f), 0.0101f) << type;
  }

  items.clear();
  const std::vector<float> x = {0.5f}, y = {0.5f}, e = {0.1f};
  GS_XYERRORBARS(1, 1, x, y, e, e, e, e, false, true, 1, s);  // diamond needs both
  ASSERT_EQ(of("polyline").size(), 1u);
  EXPECT_FLOAT_EQ(of("polyline")[0]->x[0], of("polyline")[0]->x[1]);
  items.clear();
  GS_XYERRORBARS(1, 1, x, y, e, e, e, e, true, true, 1, s);
  EXPECT_EQ(of("polyline")[0]->x.size(), 5u);
}

// On a logarithmic Y axis an error bar reaching to or below zero runs to
// the axis's bottom without stretching the axis down to 1E-30.
TEST_F(XyGraphTest, LogErrorBarsBelowZeroReachTheAxisBottom) {
  Status s = kStatusGood;
  GS_SET_DATALOGLIN(true, false, s);
  GS_SET_AXESLOGLIN(true, false, s);
  GS_SET_CURVESTYLE(1, true, false, true, s);
  const std::vector<float> x = {1, 2, 3}, y = {10, 100, 1000};
  const std::vector<float> none = {0, 0, 0}, low = {0, 200, 0};
  const std::vector<Index> starts = {1}, ends = {3};
  const GsCurves curves{3, 1, 1, starts, ends, x, y, none, none, low, none};
  testing::TerminalCapture quiet;
  GS_XYEGRAPH(curves, "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_GT(gs_state.dddr.ymin, 0.8f);  // 5 % of the three decades below 10
  const float bottom = gs_state.dgpp.ymin;
  bool reaches = false;
  for (const PageItem* line : of("polyline"))
    if (line->x.size() == 2 && line->x[0] == line->x[1] &&
        std::fabs(std::min(line->y[0], line->y[1]) - bottom) < 1e-4f)
      reaches = true;
  EXPECT_TRUE(reaches);
  GS_SET_DATALOGLIN(true, true, s);
  GS_SET_AXESLOGLIN(true, true, s);
}

TEST_F(XyGraphTest, KeyRows) {
  Status s = kStatusGood;
  GS_SET_KEY(true, 0.1f, 0.05f, 0.6f, 0.25f, 1, s);
  GS_SET_KEYLABEL(3, "third", s);
  GS_KEY(4, s);
  ASSERT_EQ(s, kStatusGood);
  // Rows 0.8 x 0.2 / 4 = 0.04 high from 0.1 x 0.2 below the top.
  const PageItem* label = text("third");
  ASSERT_NE(label, nullptr);
  EXPECT_NEAR(label->y[0], 0.25f - 0.02f - 0.02f - 2 * 0.04f, 1e-5);
  EXPECT_NEAR(label->x[0], 0.1f + 0.4f * 0.5f, 1e-5);
  EXPECT_EQ(label->horizontal, 1);
  EXPECT_EQ(label->vertical, 3);
  EXPECT_NE(text("Curve   4"), nullptr);
  // Curve 3's sample starts in row 3.
  int found = 0;
  for (const PageItem* line : of("polyline"))
    if (line->x.size() == 3 && std::abs(line->y[0] - (0.23f - 2 * 0.04f - 0.01f)) < 1e-5f) ++found;
  EXPECT_EQ(found, 1);

  items.clear();
  GS_KEY(0, s);
  EXPECT_TRUE(items.empty());
}

}  // namespace
}  // namespace kesta
