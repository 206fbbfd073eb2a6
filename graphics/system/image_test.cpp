// Image display: page placement, intensity ranges, the scale bar, rows and
// columns as graphs, pixel values, colour tables and pixel lookup.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::PageFixture;
using testing::PageItem;

struct ImageTest : PageFixture {
  Index nx = 0, ny = 0;
  std::vector<float> data, xaxis, yaxis;
  void image(Index w, Index h, float (*value)(Index, Index)) {
    nx = w;
    ny = h;
    data.assign(static_cast<std::size_t>(w * h), 0.0f);
    for (Index y = 1; y <= h; ++y)
      for (Index x = 1; x <= w; ++x) data[element(x, y, w)] = value(x, y);
    xaxis.resize(static_cast<std::size_t>(w));
    yaxis.resize(static_cast<std::size_t>(h));
    for (Index i = 0; i < w; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index i = 0; i < h; ++i) yaxis[i] = static_cast<float>(i) + 0.5f;
  }
  void plot(Status& s, Index xs = 1, Index ys = 1, Index xe = 0, Index ye = 0) {
    GS_PLOT(nx, ny, data, xaxis, yaxis, xs, ys, xe ? xe : nx, ye ? ye : ny, "Title", "X", "Y", "Z",
            s);
  }
};

float ramp(Index x, Index) { return static_cast<float>(x); }
float constant(Index, Index) { return 7.0f; }

TEST_F(ImageTest, AspectKeepsSquarePixels) {
  struct Case {
    Index w, h;
    GsRect drawn;
  };
  for (const Case& c :
       {Case{100, 50, {0.1f, 0.325f, 0.6f, 0.575f}}, Case{50, 100, {0.225f, 0.2f, 0.475f, 0.7f}}}) {
    image(c.w, c.h, ramp);
    items.clear();
    Status s = kStatusGood;
    GS_SET_GPP(0.1f, 0.2f, 0.6f, 0.7f, s);
    plot(s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_NEAR(gs_state.dgpp.xmin, c.drawn.xmin, 1e-5);
    EXPECT_NEAR(gs_state.dgpp.ymin, c.drawn.ymin, 1e-5);
    EXPECT_NEAR(gs_state.dgpp.xmax, c.drawn.xmax, 1e-5);
    EXPECT_NEAR(gs_state.dgpp.ymax, c.drawn.ymax, 1e-5);
    EXPECT_FLOAT_EQ(gs_state.gpp.ymin, 0.2f);
    const auto cells = of("real_cell_array");
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_NEAR(cells[0]->x[0], c.drawn.xmin, 1e-5);
    EXPECT_NEAR(cells[0]->y[1], c.drawn.ymax, 1e-5);
    EXPECT_EQ(cells[0]->xnum, c.w);
    EXPECT_FLOAT_EQ(cells[0]->minimum, 1.0f);
    EXPECT_FLOAT_EQ(cells[0]->maximum, static_cast<float>(c.w));
    EXPECT_FLOAT_EQ(gs_state.idr.xmax, static_cast<float>(c.w));
    // The scale bar under the graph page position, recorded as drawn.
    ASSERT_EQ(of("cell_array").size(), 1u);
    EXPECT_NEAR(of("cell_array")[0]->y[0], 0.2f - 0.125f, 1e-5);
    EXPECT_TRUE(gs_state.lut_drawn);
    EXPECT_NE(text("Title"), nullptr);
    EXPECT_NE(text("Z"), nullptr);
  }
}

TEST_F(ImageTest, ConstantAndNonFiniteImagesDraw) {
  image(8, 8, constant);
  Status s = kStatusGood;
  plot(s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(of("real_cell_array").size(), 1u);
  EXPECT_EQ(of("cell_array").size(), 1u);

  image(8, 8, ramp);
  data[3] = std::numeric_limits<float>::quiet_NaN();
  data[9] = std::numeric_limits<float>::infinity();
  data[20] = -std::numeric_limits<float>::infinity();
  items.clear();
  plot(s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(of("real_cell_array")[0]->minimum, 1.0f);
  EXPECT_FLOAT_EQ(of("real_cell_array")[0]->maximum, 8.0f);

  // The automatic range (mean and spread of sample boxes) stays finite too.
  GS_SET_IMAGESCALE(4, 0.0f, 1.0f, s);
  for (const float bad : {std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()}) {
    image(8, 8, ramp);
    data[element(4, 4, 8)] = bad;
    data[element(5, 4, 8)] = std::numeric_limits<float>::quiet_NaN();
    float low = 0.0f, high = 0.0f;
    GS_CAL_ZRANGE(8, 8, data, 1, 1, 8, 8, 1, 4, low, high, s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_TRUE(std::isfinite(low) && std::isfinite(high) && low < high) << low << " " << high;
    items.clear();
    plot(s);
    ASSERT_EQ(s, kStatusGood);
    ASSERT_EQ(of("real_cell_array").size(), 1u) << bad;
    EXPECT_TRUE(std::isfinite(of("real_cell_array")[0]->maximum - of("real_cell_array")[0]->minimum));
  }

  // A region without a finite value is drawn, every pixel a bad one, in
  // its frame without a colour bar, and one line says why there is no
  // picture, as a contour plot says it; a region with one finite value
  // says nothing.
  for (const bool one_finite : {false, true}) {
    for (const int mode : {0, 1}) {
      GS_SET_IMAGESCALE(mode, 0.0f, 1.0f, s);
      image(8, 8, ramp);
      std::fill(data.begin(), data.end(), std::numeric_limits<float>::quiet_NaN());
      if (one_finite) data[element(2, 7, 8)] = 3.0f;
      items.clear();
      testing::TerminalCapture terminal;
      plot(s);
      ASSERT_EQ(s, kStatusGood);
      EXPECT_EQ(of("real_cell_array").size(), 1u);
      // No colour bar of a range no pixel has.
      EXPECT_EQ(of("cell_array").size(), one_finite ? 1u : 0u) << mode;
      EXPECT_NE(text("Title"), nullptr);
      EXPECT_EQ(terminal.text(), one_finite ? ""
                                            : "WARNING: No finite data value in the region to "
                                              "display\n")
          << mode;
    }
  }
}

// A row, or a column, without a finite value is not drawn (no empty graph
// of a range no point has): the line says why; one finite value says
// nothing.
TEST_F(ImageTest, AGraphOfNoFiniteValueSaysSo) {
  Status s = kStatusGood;
  for (const bool one_finite : {false, true}) {
    image(8, 8, ramp);
    std::fill(data.begin(), data.end(), std::numeric_limits<float>::quiet_NaN());
    if (one_finite) data[element(2, 3, 8)] = data[element(5, 6, 8)] = 3.0f;
    for (const bool row : {true, false}) {
      testing::TerminalCapture terminal;
      items.clear();
      if (row)
        plot(s, 1, 3, 8, 3);
      else
        plot(s, 5, 1, 5, 8);
      ASSERT_EQ(s, kStatusGood);
      EXPECT_EQ(terminal.text(),
                one_finite ? "" : "WARNING: No finite data value in the region to plot\n")
          << row;
      EXPECT_EQ(text("Title") != nullptr, one_finite) << row;
      EXPECT_EQ(items.empty(), !one_finite) << row;
    }
  }
}

// Images near the float limit (a few values, a constant, the whole float
// range): the scale bar's numbers, power of ten and label are on the page,
// a handful of them, and the numbers lie within the range the image is drawn
// in (the widened range of a constant passed the limit: ten thousand numbers,
// a label millions of points off the page).
TEST_F(ImageTest, ImagesNearTheFloatLimitKeepTheirScaleBarOnThePage) {
  constexpr float kMax = std::numeric_limits<float>::max();
  const auto few = [](Index x, Index y) {
    if (x == 2 && y == 2) return 2.5e38f;
    if (x == 4 && y == 3) return 3.4e38f;
    if (x == 6 && y == 5) return std::numeric_limits<float>::quiet_NaN();
    return 3.0e38f;
  };
  const auto negated = [](Index x, Index y) {
    return x == 4 && y == 3 ? -3.4e38f : x == 2 && y == 2 ? -2.5e38f : -3.0e38f;
  };
  const auto held = [](Index, Index) { return 3.2e38f; };
  const auto largest = [](Index, Index) { return std::numeric_limits<float>::max(); };
  const auto lowest = [](Index, Index) { return -std::numeric_limits<float>::max(); };
  const auto both = [](Index x, Index) {
    return (x - 4.5f) / 3.5f * std::numeric_limits<float>::max();
  };
  for (float (*value)(Index, Index) : {+few, +negated, +held, +largest, +lowest, +both}) {
    image(8, 8, value);
    items.clear();
    Status s = kStatusGood;
    plot(s);
    ASSERT_EQ(s, kStatusGood);
    const auto cells = of("real_cell_array");
    ASSERT_EQ(cells.size(), 1u);
    const double lo = cells[0]->minimum, hi = cells[0]->maximum;
    SCOPED_TRACE(::testing::Message() << lo << " to " << hi);
    EXPECT_TRUE(std::isfinite(lo) && std::isfinite(hi) && lo < hi);
    for (const PageItem* t : texts_off_page()) ADD_FAILURE() << t->text << " at " << t->x[0];
    EXPECT_LT(of("text").size(), 60u);
    ASSERT_NE(text("*10E38"), nullptr);
    ASSERT_NE(text("Z"), nullptr);
    ASSERT_EQ(of("cell_array").size(), 1u);
    const float bar_bottom = std::min(of("cell_array")[0]->y[0], of("cell_array")[0]->y[1]);
    int numbers = 0;  // those between the bar and its label
    for (const PageItem* t : of("text")) {
      if (t->y[0] <= text("Z")->y[0] || t->y[0] >= bar_bottom) continue;
      char* end = nullptr;
      const double v = std::strtod(t->text.c_str(), &end) * 1e38;
      if (end == t->text.c_str() || *end != '\0') continue;
      ++numbers;
      EXPECT_GE(v, lo - 1e-3 * kMax) << t->text;
      EXPECT_LE(v, hi + 1e-3 * kMax) << t->text;
    }
    EXPECT_GE(numbers, 3);
  }
}

// The automatic range of a region whose sample boxes all miss its finite
// pixels (a band along the top edge) is the region's finite extremes, not
// the user limits it was handed; a region without a finite value gives the
// empty range of the other modes, without the user-limit warning.
TEST_F(ImageTest, AutomaticRangeWithoutAFiniteSampleBoxIsTheRegionsExtremes) {
  image(400, 300, [](Index x, Index y) {
    return y <= 25 && x >= 150 && x <= 250 ? 10.0f + 0.4f * static_cast<float>(x - 150)
                                           : std::numeric_limits<float>::quiet_NaN();
  });
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  float lo = 5.0f, hi = 20.0f;
  GS_CAL_ZRANGE(400, 300, data, 1, 1, 400, 300, 1, 4, lo, hi, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(lo, 10.0f);
  EXPECT_FLOAT_EQ(hi, 50.0f);
  std::fill(data.begin(), data.end(), std::numeric_limits<float>::quiet_NaN());
  lo = 5.0f;
  hi = 20.0f;
  GS_CAL_ZRANGE(400, 300, data, 1, 1, 400, 300, 1, 4, lo, hi, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(lo, 0.0f);
  EXPECT_EQ(hi, 0.0f);
  EXPECT_EQ(terminal.text().find("user input"), std::string::npos) << terminal.text();
}

// The binned range (the 3-D views of large regions) is of the finite block
// means: a block holding an infinite or NaN pixel stretches nothing, and a
// region without a finite block gives the unbinned road's empty range.
TEST_F(ImageTest, BinnedRangeLeavesOutBlocksThatAreNotFinite) {
  image(8, 8, ramp);  // block means 1.5, 3.5, 5.5, 7.5 along X
  data[element(8, 1, 8)] = std::numeric_limits<float>::infinity();
  data[element(1, 3, 8)] = std::numeric_limits<float>::quiet_NaN();
  float lo = 1.0f, hi = 2.0f;
  Status s = kStatusGood;
  GS_CAL_ZRANGE(8, 8, data, 1, 1, 8, 8, 2, 0, lo, hi, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(lo, 1.5f);
  EXPECT_FLOAT_EQ(hi, 7.5f);
  std::fill(data.begin(), data.end(), std::numeric_limits<float>::quiet_NaN());
  data[element(8, 1, 8)] = -std::numeric_limits<float>::infinity();
  GS_CAL_ZRANGE(8, 8, data, 1, 1, 8, 8, 2, 0, lo, hi, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(lo, 0.0f);
  EXPECT_EQ(hi, 0.0f);
}

TEST_F(ImageTest, UserRangeThatLeavesNoRangeWarns) {
  image(4, 4, ramp);
  testing::TerminalCapture terminal;
  float lo = 10.0f, hi = 0.0f;
  Status s = kStatusGood;
  GS_CAL_ZRANGE(4, 4, data, 1, 1, 4, 4, 1, 2, lo, hi, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(hi, 4.0f);
  EXPECT_FLOAT_EQ(lo, 4.0f - 1000.0f);
  const std::string out = terminal.text();
  EXPECT_NE(out.find("WARNING: The maximum data value is less than the user input minimum"),
            std::string::npos);
  EXPECT_NE(out.find("Use \"Z-SCALE\" to change values or scaling mode"), std::string::npos);
}

// The range pass against a plain scan that keeps the first extreme it meets,
// to the bit: non-finite values skipped, finite ones of any size taken (an
// image of 3.4e38 alone has that range, not one from the search's start
// value 1.7e38), the sign of a zero extreme, sub-regions, and images big
// enough to be split over threads.
TEST_F(ImageTest, DataRangeEqualsAPlainScan) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float largest = std::numeric_limits<float>::max();
  const auto scan = [&](Index xs, Index ys, Index xe, Index ye, float& lo, float& hi) {
    lo = inf;
    hi = -inf;
    for (Index y = ys; y <= ye; ++y)
      for (Index x = xs; x <= xe; ++x) {
        const float v = data[element(x, y, nx)];
        if (v >= -largest && v <= largest) {
          lo = v < lo ? v : lo;
          hi = v > hi ? v : hi;
        }
      }
    if (hi < lo) lo = hi = 0.0f;
  };
  struct Case {
    Index w, h, xs, ys, xe, ye;
    std::vector<std::pair<Index, float>> set;  // element index, value
    bool negative_zeros;                       // -0.0 everywhere else
  };
  const Index big = 3000;  // over two workers' share
  for (const Case& c : std::initializer_list<Case>{
           {37, 5, 1, 1, 37, 5, {{3, nan}, {40, inf}, {41, -inf}, {100, 3.4028e38f}}, false},
           {37, 5, 2, 2, 30, 4, {{3, -5.0f}, {80, 2.5e30f}, {81, -3.4028e38f}}, false},
           {20, 3, 1, 1, 20, 3, {{0, 0.0f}, {7, -0.0f}}, true},
           {20, 3, 1, 1, 20, 3, {{12, 0.0f}}, true},
           {4, 2, 1, 1, 4, 2, {{0, 3.4e38f}, {1, 3.4e38f}, {2, 3.4e38f}, {3, 3.4e38f},
                               {4, 3.4e38f}, {5, 2.0e38f}, {6, 3.4e38f}, {7, largest}},
            false},
           {4, 2, 1, 1, 4, 2, {{0, -3.4e38f}, {1, -2.0e38f}, {2, -3.4e38f}, {3, -3.4e38f},
                               {4, nan}, {5, -3.4e38f}, {6, -largest}, {7, -3.4e38f}},
            false},
           {6, 2, 1, 1, 6, 2, {{0, nan}, {1, inf}, {2, -inf}, {3, nan}, {4, nan}, {5, nan},
                               {6, nan}, {7, nan}, {8, nan}, {9, nan}, {10, nan}, {11, nan}},
            false},
           {big, big, 1, 1, big, big, {{5, nan}, {big * big - 1, -inf}, {big * 1700, -9.0f},
                                       {big * 2999 + 3, 1.0e9f}}, false},
           {big, big, 3, 2, big - 1, big, {{big * 2500 + 2, -4.0f}}, false}}) {
    image(c.w, c.h, ramp);
    if (c.negative_zeros)
      for (float& v : data) v = -0.0f;
    for (const auto& [at, value] : c.set) data[static_cast<std::size_t>(at)] = value;
    for (int mode : {0, 2, 3}) {
      float lo = 1.0f, hi = 2.0f, want_lo = 0.0f, want_hi = 0.0f;
      scan(c.xs, c.ys, c.xe, c.ye, want_lo, want_hi);
      if (mode == 2) want_lo = lo;
      if (mode == 3) want_hi = hi;
      if (!(want_lo < want_hi) && mode != 0) continue;  // the warning case
      Status s = kStatusGood;
      GS_CAL_ZRANGE(c.w, c.h, data, c.xs, c.ys, c.xe, c.ye, 1, mode, lo, hi, s);
      ASSERT_EQ(s, kStatusGood);
      EXPECT_EQ(std::bit_cast<std::uint32_t>(lo), std::bit_cast<std::uint32_t>(want_lo))
          << c.w << " mode " << mode << ": " << lo << " " << want_lo;
      EXPECT_EQ(std::bit_cast<std::uint32_t>(hi), std::bit_cast<std::uint32_t>(want_hi))
          << c.w << " mode " << mode << ": " << hi << " " << want_hi;
    }
  }
}

TEST_F(ImageTest, RowsAndColumnsAreGraphs) {
  image(10, 6, ramp);
  struct Case {
    Index xs, ys, xe, ye;
    const char* xlabel;
  };
  for (const Case& c : {Case{1, 3, 10, 3, "X"}, Case{4, 1, 4, 6, "Y"}, Case{2, 2, 2, 2, "Y"}}) {
    items.clear();
    Status s = kStatusGood;
    plot(s, c.xs, c.ys, c.xe, c.ye);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_TRUE(of("real_cell_array").empty());
    EXPECT_NE(text(c.xlabel), nullptr) << c.xs;
    EXPECT_NE(text("Z"), nullptr) << c.xs;  // the values' label on the vertical axis
  }
  Status s = kStatusGood;
  float lo = 0, hi = 0;
  GS_2DCELLARRAY(10, 6, data, 3, 1, 3, 6, 0, lo, hi, s);
  EXPECT_EQ(s, 140005);
}

// A logarithmic row graph of a row holding 0, negative values or -inf: the
// axis spans the positive values (it reached down to 1E-30, the data filling
// its top), the points not above zero are left out, and one line says how
// many. A masked point not above zero gets no marker either.
TEST_F(ImageTest, LogarithmicRowGraphLeavesOutValuesNotAboveZero) {
  struct Case {
    float (*value)(Index, Index);
    const char* said;
    float lowest;  // log10 of the smallest positive value
  };
  const Case cases[] = {
      {[](Index x, Index) { return x == 3 ? -INFINITY : static_cast<float>(x - 1); },
       "INFO: 2 points not above zero left out of the logarithmic axis\n", 0.0f},
      {[](Index x, Index) { return static_cast<float>(x - 26); },
       "INFO: 26 points not above zero left out of the logarithmic axis\n", 0.0f},
      {[](Index x, Index) { return 0.001f * static_cast<float>(x); }, "", -3.0f},
  };
  Status s = kStatusGood;
  QG_SET_LOGZSCALING(true, s);
  GS_SET_DATALOGLIN(true, false, s);  // as the logarithmic Z-scale sets them
  for (const Case& c : cases) {
    image(50, 2, c.value);
    std::vector<std::uint8_t> mask(100, 0);
    mask[element(1, 1, 50)] = 1;
    testing::TerminalCapture terminal;
    items.clear();
    GS_MPLOT(true, nx, ny, data, mask, xaxis, yaxis, 1, 1, nx, 1, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(terminal.text(), c.said);
    EXPECT_LE(gs_state.dddr.ymin, c.lowest);
    EXPECT_GT(gs_state.dddr.ymin, c.lowest - 0.2f) << c.said;
    // Every point drawn lies inside the frame.
    const GsRect& frame = gs_state.dgpp;
    for (const PageItem* line : of("polyline"))
      for (const float y : line->y) EXPECT_GE(y, frame.ymin - 1e-4f) << c.said;
  }
  QG_SET_LOGZSCALING(false, s);
  GS_SET_DATALOGLIN(true, true, s);
}

// Page extent across of a recorded text, its characters taken as 0.6 of
// the height wide; a text turned upright spans its height.
void across(const PageItem& t, float& left, float& right) {
  if (t.angle != 0.0f) {
    left = t.x[0] - t.height;
    right = t.x[0] + 0.3f * t.height;
    return;
  }
  const float width = 0.6f * static_cast<float>(t.text.size()) * t.height;
  left = t.horizontal == 3 ? t.x[0] - width : t.horizontal == 2 ? t.x[0] - 0.5f * width : t.x[0];
  right = left + width;
}

// The Y label of a logarithmic row graph whose numbers are long ("10E-14")
// stands clear of them, left of the widest and still on the page; the
// frame gives way where its margin is too narrow for both.
TEST_F(ImageTest, YLabelStandsClearOfLongNumbers) {
  image(50, 1, [](Index x, Index) { return std::pow(10.0f, -14.0f + 14.0f * (x - 1) / 49.0f); });
  Status s = kStatusGood;
  QG_SET_LOGZSCALING(true, s);
  GS_SET_DATALOGLIN(true, false, s);
  plot(s);
  QG_SET_LOGZSCALING(false, s);
  GS_SET_DATALOGLIN(true, true, s);
  ASSERT_EQ(s, kStatusGood);
  const PageItem* label = text("Z");
  ASSERT_NE(label, nullptr);
  float label_left = 0, label_right = 0;
  across(*label, label_left, label_right);
  EXPECT_GE(label_left, 0.0f);
  int numbers = 0;
  for (const PageItem* t : of("text")) {
    if (t->text.rfind("10E", 0) != 0 || t->x[0] > gs_state.dgpp.xmin) continue;
    ++numbers;
    float left = 0, right = 0;
    across(*t, left, right);
    EXPECT_LT(label_right, left) << t->text;
  }
  EXPECT_GE(numbers, 8);
}

// An image 4097 x 33 drawn with square pixels is a few pixels high: of its
// Y numbers (0, 10, 20, 30) only those a height apart are written, on both
// sides, where all four were written over one another.
TEST_F(ImageTest, NumbersOfAShortAxisAreThinned) {
  image(4097, 33, ramp);
  Status s = kStatusGood;
  plot(s);
  ASSERT_EQ(s, kStatusGood);
  ASSERT_LT(gs_state.dgpp.ymax - gs_state.dgpp.ymin, 0.01f);
  std::vector<const PageItem*> left, right;
  for (const PageItem* t : of("text")) {
    if (t->text.empty() || t->angle != 0.0f) continue;
    if (t->y[0] < gs_state.dgpp.ymin - 0.02f || t->y[0] > gs_state.dgpp.ymax + 0.02f) continue;
    if (t->x[0] < gs_state.dgpp.xmin) left.push_back(t);
    if (t->x[0] > gs_state.dgpp.xmax) right.push_back(t);
  }
  for (const auto* side : {&left, &right}) {
    ASSERT_FALSE(side->empty());
    for (std::size_t a = 0; a < side->size(); ++a)
      for (std::size_t b = a + 1; b < side->size(); ++b)
        EXPECT_GE(std::fabs((*side)[a]->y[0] - (*side)[b]->y[0]), (*side)[a]->height)
            << (*side)[a]->text << " and " << (*side)[b]->text;
  }
  // The X numbers of the same image keep their even spacing.
  int x_numbers = 0;
  for (const PageItem* t : of("text"))
    if (t->y[0] < gs_state.dgpp.ymin - 0.005f && t->text != "X" && !t->text.empty()) ++x_numbers;
  EXPECT_GE(x_numbers, 8);
}

TEST_F(ImageTest, PixelValuesOnSmallRegions) {
  image(22, 21, ramp);
  for (const Index width : {21, 22}) {
    items.clear();
    Status s = kStatusGood;
    GS_SET_IDR(0, 0, static_cast<float>(width), 21, s);
    float lo = 0, hi = 0;
    GS_2DCELLARRAY(22, 21, data, 1, 1, width, 21, 0, lo, hi, s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(of("text").size(), width == 21 ? 21u * 21u : 0u);
  }
}

TEST_F(ImageTest, MaskedPixelsOfARowAreMarked) {
  image(10, 2, ramp);
  std::vector<std::uint8_t> mask(20, 0);
  mask[element(3, 1, 10)] = 1;
  mask[element(7, 1, 10)] = 1;
  Status s = kStatusGood;
  GS_SET_CURVEMARKERS(1, 5, kGsBlack, 1.0f, s);
  GS_SET_CURVESTYLE(1, true, false, false, s);
  GS_MPLOT(true, 10, 2, data, mask, xaxis, yaxis, 1, 1, 10, 1, "", "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  // Two upright crosses of two lines each in the mask colour.
  std::size_t marked = 0;
  for (const PageItem* line : of("polyline"))
    if (line->colour == gs_device_colour(kGsRed) && line->x.size() == 2) ++marked;
  EXPECT_EQ(marked, 4u);
  EXPECT_EQ(gs_state.curve_markers[0].colour, kGsBlack);
}

TEST_F(ImageTest, MaskedImageCellsTakeTheMaskColour) {
  image(8, 8, ramp);
  std::vector<std::uint8_t> mask(64, 0);
  mask[10] = 1;
  Status s = kStatusGood;
  GS_SET_MASKCOLOUR(kGsGreen, s);
  GS_MPLOT(true, 8, 8, data, mask, xaxis, yaxis, 1, 1, 8, 8, "", "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  ASSERT_EQ(of("real_cell_array").size(), 1u);
  EXPECT_EQ(of("real_cell_array")[0]->colour, gs_device_fill_colour(kGsGreen));
  Status bad = kStatusGood;
  GS_MPLOT(true, 8, 8, data, std::span<const std::uint8_t>(mask).first(10), xaxis, yaxis, 1, 1, 8,
           8, "", "", "", "", bad);
  EXPECT_EQ(bad, 140001);  // a mask smaller than the image

  // Pixels that are not a number are drawn in the mask colour on every
  // road, with no mask shown too.
  items.clear();
  GS_MPLOT(false, 8, 8, data, {}, xaxis, yaxis, 1, 1, 8, 8, "", "", "", "", s);
  float low = 0.0f, high = 0.0f;
  GS_2DCELLARRAY(8, 8, data, 1, 1, 8, 8, 0, low, high, s);
  ASSERT_EQ(s, kStatusGood);
  ASSERT_EQ(of("real_cell_array").size(), 2u);
  for (const PageItem* cells : of("real_cell_array"))
    EXPECT_EQ(cells->mask_colour, gs_device_fill_colour(kGsGreen));
}

// A decreasing axis (a d-spacing scale) is drawn increasing, its pixels
// mirrored so that each lies at its own coordinate; clicks find them back.
TEST_F(ImageTest, DecreasingAxesDrawMirrored) {
  image(3, 2, [](Index x, Index y) { return static_cast<float>(x + 10 * y); });
  std::vector<std::uint8_t> mask(6, 0);
  struct Case {
    std::vector<float> x, y, values;
  };
  const Case cases[] = {{{30, 20, 10}, {0.5f, 1.5f}, {13, 12, 11, 23, 22, 21}},
                        {{0.5f, 1.5f, 2.5f}, {7, 5}, {21, 22, 23, 11, 12, 13}}};
  for (const Case& c : cases) {
    xaxis = c.x;
    yaxis = c.y;
    items.clear();
    Status s = kStatusGood;
    GS_MPLOT(true, 3, 2, data, mask, xaxis, yaxis, 1, 1, 3, 2, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    const float x0 = std::min(c.x.front(), c.x.back()), y0 = std::min(c.y.front(), c.y.back());
    EXPECT_EQ(gs_state.dddr.xmin, x0 == 10 ? 5.0f : 0.0f);
    EXPECT_EQ(gs_state.dddr.ymin, y0 == 5 ? 4.0f : 0.0f);
    EXPECT_LT(gs_state.idr.xmin, gs_state.idr.xmax);
    ASSERT_EQ(of("real_cell_array").size(), 1u);
    EXPECT_EQ(of("real_cell_array")[0]->values, c.values);
  }
  Index pixel = 0;
  Status s = kStatusGood;
  for (const auto& [coordinate, expected] :
       {std::pair{29.0f, 1}, {25.0f, 1}, {24.0f, 2}, {16.0f, 2}, {15.0f, 2}, {3.0f, 3}}) {
    GS_CAL_WCTOPIX(3, 3, std::vector<float>{30, 20, 10}, coordinate, pixel, s);
    EXPECT_EQ(pixel, expected) << coordinate;
  }
}

TEST_F(ImageTest, PixelLookup) {
  const std::vector<float> centres = {1, 2, 3};
  struct Case {
    float coordinate;
    Index pixel;
  };
  for (const Case& c : {Case{1.6f, 2}, Case{1.5f, 2}, Case{1.49f, 1}, Case{7.0f, 3}, Case{-4, 1}}) {
    Index pixel = 0;
    Status s = kStatusGood;
    GS_CAL_WCTOPIX(3, 3, centres, c.coordinate, pixel, s);
    EXPECT_EQ(pixel, c.pixel) << c.coordinate;
  }
}

TEST_F(ImageTest, ColourTables) {
  std::array<Rgb, 256> table{};
  Status s = kStatusGood;
  const std::vector<Rgb> grey = gs_scheme_points(3);
  GS_CAL_COLOURTABLE(2, 2, grey, 10, 19, 10, 256, table, s);
  EXPECT_FLOAT_EQ(table[19].red, 1.0f);
  EXPECT_NEAR(table[10].red, 1.0f / 9.0f, 1e-6);
  GS_CAL_COLOURTABLE(2, 2, grey, 10, 19, 2, 256, table, s);
  for (int j = 10; j <= 19; ++j) EXPECT_TRUE(table[j].red == 0.0f || table[j].red == 1.0f) << j;
  const std::vector<Rgb> wheel = gs_scheme_points(1);
  GS_CAL_COLOURTABLE(6, 6, wheel, 10, 19, 1, 256, table, s);
  EXPECT_FLOAT_EQ(table[10].red, 1.0f);  // one level: the last control point
  EXPECT_FLOAT_EQ(table[10].green, 0.0f);
  ASSERT_EQ(s, kStatusGood);
  GS_CAL_COLOURTABLE(2, 2, grey, 20, 19, 2, 256, table, s);
  EXPECT_EQ(s, 140013);

  // Every scheme spreads over the range and ends on its last control point.
  for (int scheme = 1; scheme <= 11; ++scheme) {
    const std::vector<Rgb> points = gs_scheme_points(scheme);
    const int n = static_cast<int>(points.size());
    Status each = kStatusGood;
    GS_CAL_COLOURTABLE(n, n, points, 49, 250, 202, 256, table, each);
    ASSERT_EQ(each, kStatusGood) << scheme;
    EXPECT_FLOAT_EQ(table[250].blue, points.back().blue) << scheme;
    for (int j = 49; j <= 250; ++j)
      EXPECT_TRUE(table[j].red >= 0 && table[j].red <= 1 && table[j].green >= 0 &&
                  table[j].green <= 1 && table[j].blue >= 0 && table[j].blue <= 1)
          << scheme << " " << j;
  }
  EXPECT_EQ(gs_scheme_points(7).size(), 63u);
  EXPECT_FLOAT_EQ(gs_scheme_points(10).front().red, 1.0f);
  EXPECT_EQ(gs_scheme_name(11), "BLACK-PURPLE-WHITE");

  // Scheme 0 leaves the device colours alone.
  const auto before = qg_db_colours.table;
  Status t = kStatusGood;
  GS_SET_LUTCHOICE(0, 50, t);
  GS_COLOURS(t);
  EXPECT_EQ(std::memcmp(before.data(), qg_db_colours.table.data(), sizeof(before)), 0);
  GS_SET_LUTCHOICE(3, 50, t);
  GS_COLOURS(t);
  ASSERT_EQ(t, kStatusGood);
  int first = 0, last = 0;
  QG_INQ_IMAGERANGE(first, last, t);
  EXPECT_FLOAT_EQ(qg_db_colours.table[static_cast<std::size_t>(last)].green, 1.0f);
}

}  // namespace
}  // namespace kesta
