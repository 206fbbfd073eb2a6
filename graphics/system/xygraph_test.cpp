// x/y graphs: automatic ranges, log data, curve shapes, markers, error bars
// and the key, recorded in page coordinates.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/widgets.hpp"

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

  // A row without a finite value has no range: said, and no empty graph.
  const std::vector<float> none(5, std::numeric_limits<float>::quiet_NaN());
  testing::TerminalCapture said;
  items.clear();
  GS_XYSGRAPH(5, 1, 5, x, none, "NONE", "X", "Y", s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(said.text(), "WARNING: No finite data value in the region to plot\n");
  EXPECT_TRUE(items.empty());
  // Nor does a menu wait under the graph not drawn.
  const std::array<Index, 1> starts{1}, ends{5};
  GsCurves curves;
  curves.maxpts = 5;
  curves.maxcurves = curves.numcurves = 1;
  curves.starts = starts;
  curves.ends = ends;
  curves.x = x;
  curves.y = none;
  testing::ScriptedInput no_answers({});
  testing::TerminalCapture said_once;
  GS_INT_XYEGRAPH(curves, "NONE", "X", "Y", s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(said_once.text(), "WARNING: No finite data value in the region to plot\n");
  EXPECT_TRUE(items.empty());
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

// A set intensity limit not above zero on a logarithmic Y axis (a Z-scale
// minimum of 0 or below, a maximum below 0) is found as automatic scaling
// finds it, from the points above zero, not put at 1E-30 or 1E-3.
TEST_F(XyGraphTest, LogSetLimitsNotAboveZeroFollowThePoints) {
  std::vector<float> x(50), y(50);
  for (int i = 0; i < 50; ++i) x[i] = y[i] = static_cast<float>(i);
  y[7] = -INFINITY;
  const float bottom = -0.05f * std::log10(49.0f);  // 5 % below the lowest point, 1
  const float top = std::log10(49.0f) - bottom;
  const struct {
    bool auto_min, auto_max;
    float set_min, set_max, want_min, want_max;
  } cases[] = {
      {false, true, 0.0f, 1.0f, bottom, top},            // mode 2, minimum 0
      {false, false, 0.0f, 100.0f, bottom, 2.0f},        // mode 1, 0 to 100
      {false, false, -10.0f, 100.0f, bottom, 2.0f},      // mode 1, -10 to 100
      {true, false, -6.0f, -5.0f, bottom, top},          // mode 3, maximum -5
      {false, false, 0.01f, 100.0f, -2.0f, 2.0f},        // above zero: as set
  };
  Status s = kStatusGood;
  GS_SET_DATALOGLIN(true, false, s);
  GS_SET_AXESLOGLIN(true, false, s);
  testing::TerminalCapture terminal;
  for (const auto& c : cases) {
    GS_SET_AUTODDR(true, c.auto_min, true, c.auto_max, s);
    GS_SET_DDR(0.0f, c.set_min, 1.0f, c.set_max, s);
    GS_XYSGRAPH(50, 1, 50, x, y, "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_NEAR(gs_state.dddr.ymin, c.want_min, 1e-5f) << c.set_min << " " << c.set_max;
    EXPECT_NEAR(gs_state.dddr.ymax, c.want_max, 1e-5f) << c.set_min << " " << c.set_max;
    // What was set is kept for the next graph.
    float xmin, ymin, xmax, ymax;
    GS_INQ_DDR(xmin, ymin, xmax, ymax, s);
    EXPECT_EQ(ymin, c.set_min);
    EXPECT_EQ(gs_state.auto_range.ymin, c.auto_min);
    EXPECT_EQ(gs_state.auto_range.ymax, c.auto_max);
  }
  EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
  GS_SET_AUTODDR(true, true, true, true, s);
  GS_SET_DATALOGLIN(true, true, s);
  GS_SET_AXESLOGLIN(true, true, s);
}

// Values near the float limit, their margins or the widening of a constant
// passing it: the axis ends at the limit, its numbers give the values with
// their power of ten, and every text is on the page (a constant row of
// 3.3E+38 failed with a status error; rows reaching the limit were numbered
// with ten thousand rows of asterisks).
TEST_F(XyGraphTest, ValuesNearTheFloatLimit) {
  constexpr float kMax = std::numeric_limits<float>::max();
  const std::vector<float> x = {0, 1, 2, 3, 4, 5};
  const std::vector<std::vector<float>> rows = {
      std::vector<float>(6, 3.3e38f), std::vector<float>(6, -kMax),
      {-kMax, -2e38f, -1.0f, 0.0f, 2e38f, kMax}, {0, 1, 2, kMax, -kMax, 5}};
  testing::TerminalCapture terminal;
  for (const std::vector<float>& y : rows) {
    SCOPED_TRACE(y[0]);
    items.clear();
    Status s = kStatusGood;
    GS_XYSGRAPH(6, 1, 6, x, y, "T", "X", "Y", s);
    ASSERT_EQ(s, kStatusGood);
    const float lowest = *std::min_element(y.begin(), y.end());
    const float highest = *std::max_element(y.begin(), y.end());
    EXPECT_LE(gs_state.dddr.ymin, lowest);
    EXPECT_GE(gs_state.dddr.ymax, highest);
    EXPECT_LT(gs_state.dddr.ymin, gs_state.dddr.ymax);
    EXPECT_TRUE(std::isfinite(gs_state.dddr.ymin) && std::isfinite(gs_state.dddr.ymax));
    for (const PageItem* t : texts_off_page()) ADD_FAILURE() << t->text << " at " << t->x[0];
    EXPECT_LT(of("text").size(), 60u);
    EXPECT_NE(text("*10E38"), nullptr);
    EXPECT_NE(text("T"), nullptr);
    EXPECT_NE(text("Y"), nullptr);
    // Clicks on the graph are in the data's own units again.
    float wx1 = 0, wy1 = 0, wx2 = 0, wy2 = 0;
    QG_INQ_DATAWINDOW(wx1, wy1, wx2, wy2, s);
    EXPECT_EQ(wy1, gs_state.dddr.ymin);
    EXPECT_EQ(wy2, gs_state.dddr.ymax);
  }
  EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
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
// Points above zero all at one value, under a set top: the automatic bottom
// keeps a twentieth of the axis below them, clear of the frame.
TEST_F(XyGraphTest, LogPointsAtOneValueUnderASetTopStandClearOfTheBottom) {
  const std::vector<float> x{1.0f, 2.0f, 3.0f, 4.0f};
  const std::vector<float> constant{7.0f, 7.0f, 0.0f, 7.0f};
  const std::vector<float> single{0.0f, 5.0f, 0.0f, 0.0f};
  Status s = kStatusGood;
  GS_SET_DATALOGLIN(true, false, s);
  GS_SET_AXESLOGLIN(true, false, s);
  testing::TerminalCapture terminal;
  for (const std::vector<float>* y : {&constant, &single})
    for (const float set_min : {0.0f, -10.0f}) {
      const float point = std::log10((*y)[1] > 0.0f ? (*y)[1] : 7.0f);
      GS_SET_AUTODDR(true, false, true, false, s);
      GS_SET_DDR(0.0f, set_min, 5.0f, 100.0f, s);
      GS_XYSGRAPH(4, 1, 4, x, *y, "", "", "", s);
      ASSERT_EQ(s, kStatusGood);
      EXPECT_FLOAT_EQ(gs_state.dddr.ymax, 2.0f);
      EXPECT_NEAR(gs_state.dddr.ymin, point - 0.05f * (2.0f - point), 1e-5f) << set_min;
    }
  GS_SET_AUTODDR(true, true, true, true, s);
  GS_SET_DATALOGLIN(true, true, s);
  GS_SET_AXESLOGLIN(true, true, s);
}

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
