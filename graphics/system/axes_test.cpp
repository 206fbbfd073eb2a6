// Tick choice, axes with their numbers, logarithmic axes and grids.

#include <algorithm>
#include <cmath>

#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::PageFixture;
using testing::PageItem;

struct AxesTest : PageFixture {
  // World 0..10 x 0..1 on the page rectangle 0.1..0.6 x 0.3..0.9.
  void frame(float xmin, float ymin, float xmax, float ymax) {
    Status s = kStatusGood;
    QG_DATAWINDOW(xmin, ymin, xmax, ymax, s);
    QG_VIEWPORT(0.1f, 0.3f, 0.6f, 0.9f, s);
    GS_SET_DDDR(xmin, ymin, xmax, ymax, s);
    GS_SET_DGPP(0.1f, 0.3f, 0.6f, 0.9f, s);
    ASSERT_EQ(s, kStatusGood);
    items.clear();
  }
  float world_x(float page_x) const { return (page_x - 0.1f) / 0.5f * 10.0f; }
};

TEST_F(AxesTest, TickChoice) {
  struct Case {
    float lo, hi, first, interval;
    int number;
  };
  for (const Case& c : {Case{0, 100, 0, 10, 11}, Case{0, 21, 0, 2, 11}, Case{0, 21.1f, 0, 5, 5},
                        Case{0.3f, 9.7f, 1, 1, 9}, Case{-7.5f, 7.5f, -6, 2, 7}}) {
    float first = 0, interval = 0;
    int number = 0;
    Status s = kStatusGood;
    GS_CAL_TICKS(c.lo, c.hi, first, interval, number, s);
    EXPECT_FLOAT_EQ(first, c.first) << c.lo << ".." << c.hi;
    EXPECT_FLOAT_EQ(interval, c.interval) << c.lo << ".." << c.hi;
    EXPECT_EQ(number, c.number) << c.lo << ".." << c.hi;
  }
  float first = 7;
  int number = 7;
  Status s = kStatusGood;
  GS_CAL_TICKS(1, 1, first, first, number, s);
  EXPECT_EQ(s, 140013);
  EXPECT_EQ(number, 7);
}

TEST_F(AxesTest, SmallTicksFillPartialIntervals) {
  frame(-1, 0, 11, 1);
  Status s = kStatusGood;
  GS_LINTICKS(true, 0, 10, 0, 0, 2, 6, 1, false, true, 0.1f, 0.05f, s);
  ASSERT_EQ(s, kStatusGood);
  std::vector<float> small;
  for (const PageItem* line : of("polyline"))
    if (line->x.size() == 2 && line->x[0] == line->x[1] &&
        std::abs(line->y[1] - line->y[0]) < 0.04f)
      small.push_back(std::round((line->x[0] - 0.1f) / 0.5f * 12.0f - 1.0f));
  EXPECT_EQ(small, (std::vector<float>{1, 3, 5, 7, 9}));
}

TEST_F(AxesTest, NumbersShareOnePowerOfTen) {
  frame(0, 0, 10, 1);
  struct Case {
    float first, interval;
    int number;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {0, 10000, 6, {"0", "1", "2", "3", "4", "5", "*10E4"}},
      {0.05f, 0.01f, 4, {"5", "6", "7", "8", "*10E-2"}},
      {0, 0, 3, {"0", "0", "0"}},
      {0, 0.5f, 3, {"0.0", "0.5", "1.0"}},
  };
  for (const Case& c : cases) {
    // A frame as long as the ticks, so that every number has its room.
    const float length = c.interval * static_cast<float>(c.number - 1);
    frame(c.first, 0, c.first + (length > 0.0f ? length : 1.0f), 1);
    Status s = kStatusGood;
    GS_LINAXENUM(true, c.first, c.interval, c.number, 0.0f, true, s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(texts(), c.texts) << c.first;
  }
  items.clear();
  Status s = kStatusGood;
  GS_SET_XAXISENUM(true, 1, 1, 1, 1, 0, 2, 1, false, false, s);
  GS_LINAXENUM(true, -5, 1, 1, 0.0f, true, s);
  EXPECT_EQ(texts(), (std::vector<std::string>{"**"}));
}

TEST_F(AxesTest, LogarithmicAxes) {
  frame(-0.5f, 0, 2.3f, 1);
  Status s = kStatusGood;
  GS_ALOGAXENUM(true, 2, -0.5f, 2.3f, 0.0f, true, s);
  ASSERT_EQ(s, kStatusGood);
  // Three decades and, on a crowded axis, only the 3s between them.
  EXPECT_EQ(texts(), (std::vector<std::string>{"1", "10", "100", "3", "30"}));

  frame(0, 0, 25, 1);
  GS_ALOGTICKS(true, 0, 25, 0, false, true, 0.1f, 0.05f, s);
  EXPECT_EQ(of("polyline").size(), 1u + 26u);  // axis line and the decades only

  items.clear();
  GS_EXPONT(1, 0.5f, 1, 1, 4, true, -2, 1, kGsBlack, 0, 0.02f, s);
  GS_EXPONT(1, 0.5f, 1, 1, 4, false, 3, 1, kGsBlack, 0, 0.02f, s);
  EXPECT_EQ(texts(), (std::vector<std::string>{"*10E-2", "10E3"}));
  GS_EXPONT(1, 0.5f, 3, 1, 4, false, 3, 1, kGsBlack, 0, 0.02f, s);
  EXPECT_EQ(s, 140017);

  // Powers of ten written as such (1E-10 to 1E-9): the places between the
  // decades name their own values, each once, and only where their texts
  // leave room beside the others (a half-page axis).
  s = kStatusGood;
  frame(-10, 0, -9, 1);
  GS_ALOGAXENUM(true, 1, -10, -9, 0.0f, true, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(texts(), (std::vector<std::string>{"10E-10", "10E-9", "2*10E-10", "4*10E-10"}));
  frame(7.5f, 0, 9.5f, 1);
  GS_ALOGAXENUM(true, 1, 7.5f, 9.5f, 0.0f, true, s);
  EXPECT_EQ(texts(), (std::vector<std::string>{"10E8", "10E9", "4*10E7", "4*10E8"}));
  frame(0, -10, 1, -9);
  GS_ALOGAXENUM(false, 1, -10, -9, 0.0f, true, s);
  EXPECT_EQ(texts(), (std::vector<std::string>{"10E-10", "10E-9", "2*10E-10", "3*10E-10",
                                               "4*10E-10", "6*10E-10"}));
}

TEST_F(AxesTest, FrameStylesAndGrid) {
  struct Case {
    int x_code;
    std::size_t numbers;
  };
  // 0..10 gets ticks 0, 1, ..., 10 on X and 0, 0.1, ..., 1 on Y.
  for (const Case& c : {Case{0, 11 + 11 + 11 + 11}, Case{1, 11 + 11 + 11}, Case{2, 11 + 11 + 11}}) {
    frame(0, 0, 10, 1);
    Status s = kStatusGood;
    GS_SET_AXESSTYLE(c.x_code, 0, s);
    GS_AXISFRAME(s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(of("text").size(), c.numbers) << c.x_code;
  }
  EXPECT_TRUE(gs_state.xticks.automatic);
  EXPECT_FLOAT_EQ(gs_state.xticks.interval, 1.0f);

  frame(0, 0, 10, 1);
  Status s = kStatusGood;
  GS_SET_GRID(false, true, false, true, s);  // vertical coarse and fine
  GS_SET_HAXESSTYLE(1, 1, 1, 0.01f, 0.005f, 1, s);
  GS_GRID(s);
  ASSERT_EQ(s, kStatusGood);
  // Lines at constant X across the whole frame: 11 coarse and 10 fine.
  std::size_t across = 0;
  for (const PageItem* line : of("polyline"))
    if (line->x[0] == line->x[1] && std::abs(line->y[1] - line->y[0] - 0.6f) < 1e-5f) ++across;
  EXPECT_EQ(across, 21u);
  // A grid width of 0, which the grid style takes, draws the thinnest line.
  frame(0, 0, 10, 1);
  GS_SET_VCOARSEGRID(1, 0.0f, 1, s);
  GS_SET_VFINEGRID(1, 0.0f, 1, s);
  GS_GRID(s);
  ASSERT_EQ(s, kStatusGood);
  across = 0;
  for (const PageItem* line : of("polyline"))
    if (line->x[0] == line->x[1] && std::abs(line->y[1] - line->y[0] - 0.6f) < 1e-5f) ++across;
  EXPECT_EQ(across, 21u);
}

// Numbers of automatic ticks over ordinary and extreme ranges: worked out
// in double, rounded to the interval, zero exactly zero, as many decimals as
// the interval needs and the power of ten drawn when numbers are scaled.
TEST_F(AxesTest, NumbersOfAutomaticTicks) {
  frame(0, 0, 10, 1);
  struct Case {
    float lo, hi;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {-0.3f, 0.3f, {"-0.3", "-0.2", "-0.1", "0.0", "0.1", "0.2", "0.3"}},
      {-3e30f, 3e30f, {"-3", "-2", "-1", "0", "1", "2", "3", "*10E30"}},
      {-3e38f, 3e38f, {"-3", "-2", "-1", "0", "1", "2", "3", "*10E38"}},
      // A single value widened by 0.01 each way: ticks 0.002 apart.
      {2.995f, 3.015f, {"2.996", "2.998", "3.000", "3.002", "3.004", "3.006", "3.008", "3.010",
                        "3.012", "3.014"}},
      {0.0f, 0.105f, {"0.00", "0.01", "0.02", "0.03", "0.04", "0.05", "0.06", "0.07", "0.08",
                      "0.09", "0.10"}},
  };
  for (const Case& c : cases) {
    float first = 0, interval = 0;
    int number = 0;
    Status s = kStatusGood;
    GS_CAL_TICKS(c.lo, c.hi, first, interval, number, s);
    // A frame as long as the range, so that every number has its room.
    if (std::fabs(c.hi - c.lo) < 10.0f) frame(c.lo, 0, c.hi, 1);
    else frame(0, 0, 10, 1);
    GS_LINAXENUM(true, first, interval, number, 0.0f, true, s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(texts(), c.texts) << c.lo << ".." << c.hi;
    // Every number stands at a finite place.
    for (const PageItem* t : of("text")) EXPECT_TRUE(std::isfinite(t->x[0])) << t->text;
  }
  // The shortest form drops the style's decimals the interval does not need
  // where they would not fit; only a number that cannot be written with the
  // decimals it needs is asterisks.
  Status s = kStatusGood;
  GS_SET_XAXISENUM(true, 1, 1, 1, 1, 0, 5, 2, true, false, s);
  items.clear();
  GS_LINAXENUM(true, -12.5f, 2.5f, 3, 0.0f, true, s);
  EXPECT_EQ(texts(), (std::vector<std::string>{"-12.5", "-10", "-7.5"}));
  GS_SET_XAXISENUM(true, 1, 1, 1, 1, 0, 4, 2, true, true, s);
  frame(-0.5f, 0, 0, 1);
  GS_LINAXENUM(true, -0.5f, 0.25f, 3, 0.0f, true, s);
  EXPECT_EQ(texts(), (std::vector<std::string>{"****", "****", "0.00"}));
  for (const float bad : {INFINITY, NAN}) {
    items.clear();
    GS_LINAXENUM(true, bad, 1.0f, 2, 0.0f, true, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(texts(), (std::vector<std::string>{"****", "****"}));
  }
}

// The colour bar's numbers stay on the page and apart from each other: a
// linear bar over the whole float range, a logarithmic one over 40 decades,
// and both on a landscape page.
TEST_F(AxesTest, ColourBarNumbersStayOnThePageAndApart) {
  for (const bool landscape : {false, true}) {
    Status s = kStatusGood;
    if (landscape) {
      qg_db_system.page_extent_x[0] = 1.0f;
      qg_db_system.page_extent_y[0] = kPageShortSide;
      GS_MSET_LANDSCAPE(s);
    }
    const float page_height = landscape ? kPageShortSide : 1.0f;
    for (const bool log : {false, true}) {
      QG_SET_LOGZSCALING(log, s);
      items.clear();
      if (log)
        GS_LUTSCALE(1e-20f, 1e20f, false, "Z", s);
      else
        GS_LUTSCALE(-3e38f, 3e38f, false, "Z", s);
      ASSERT_EQ(s, kStatusGood);
      std::vector<float> xs;
      for (const PageItem* t : of("text")) {
        if (t->text == "Z") continue;
        EXPECT_GE(t->y[0], 0.0f) << t->text << " landscape " << landscape;
        EXPECT_LE(t->y[0], page_height) << t->text;
        if (t->text.rfind("*10E", 0) != 0) xs.push_back(t->x[0]);
      }
      if (!log) {
        EXPECT_NE(text("*10E38"), nullptr);
        EXPECT_NE(text("-3"), nullptr);
        EXPECT_NE(text("3"), nullptr);
      }
      ASSERT_GE(xs.size(), 3u) << log;
      std::sort(xs.begin(), xs.end());
      // Labels such as 10E-20 are about 0.08 wide: none closer than that.
      for (std::size_t k = 1; k < xs.size(); ++k)
        EXPECT_GT(xs[k] - xs[k - 1], log ? 0.07f : 0.03f) << k << " log " << log;
    }
  }
}

}  // namespace
}  // namespace kesta
