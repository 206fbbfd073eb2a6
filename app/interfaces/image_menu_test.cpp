// The moves of the IMAGE menu and the menu driven by typed answers.

#include "app/interfaces/image_menu.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "app/interfaces/interfaces.hpp"
#include "app/main/data_store.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/state.hpp"

namespace kesta {
namespace {

struct Region {
  Index xs, ys, xe, ye;
  bool operator==(const Region&) const = default;
};

Region moved(std::string_view button, Index xnum, Index ynum, Region r) {
  EXPECT_TRUE(kzt_image_move(button, xnum, ynum, r.xs, r.ys, r.xe, r.ye)) << button;
  return r;
}

TEST(ImageMove, StepsKeepTheSizeAndStayInsideTheData) {
  // 101 x 51 data, a 21 x 11 region at (40..60, 20..30): halves are 10 and 5.
  const Region r{40, 20, 60, 30};
  struct Case {
    std::string_view button;
    Region expected;
  };
  const Case cases[] = {
      {"LEFT", {30, 20, 50, 30}},     {"RIGHT", {50, 20, 70, 30}},
      {"UP", {40, 25, 60, 35}},       {"DOWN", {40, 15, 60, 25}},
      {"FAR-LEFT", {1, 20, 21, 30}},  {"FAR-RIGHT", {81, 20, 101, 30}},
      {"TOP", {40, 41, 60, 51}},      {"BOTTOM", {40, 1, 60, 11}},
      {"L-TOP", {1, 41, 21, 51}},     {"R-BOTTOM", {81, 1, 101, 11}},
      {"L-UP", {30, 25, 50, 35}},     {"R-DOWN", {50, 15, 70, 25}},
      {"CENTRE", {40, 20, 60, 30}},  // 101/2 - 21/2 = 40, 51/2 - 11/2 = 20
  };
  for (const Case& c : cases) EXPECT_EQ(moved(c.button, 101, 51, r), c.expected) << c.button;

  // At the edge a step goes no further; a region as wide as the data stays.
  EXPECT_EQ(moved("LEFT", 101, 51, {1, 1, 21, 11}), (Region{1, 1, 21, 11}));
  EXPECT_EQ(moved("L-DOWN", 101, 51, {5, 3, 25, 13}), (Region{1, 1, 21, 11}));
  EXPECT_EQ(moved("R-UP", 101, 51, {95, 45, 100, 50}), (Region{96, 46, 101, 51}));
  for (std::string_view b : {"LEFT", "RIGHT", "FAR-LEFT", "FAR-RIGHT", "CENTRE"})
    EXPECT_EQ(moved(b, 101, 51, {1, 20, 101, 30}).xs, 1) << b;
  // Odd sizes use integer halves: a 3-wide region on 7 columns centres at 2.
  EXPECT_EQ(moved("CENTRE", 7, 1, {5, 1, 7, 1}), (Region{2, 1, 4, 1}));
  // A region of one pixel centres on the middle of a single column.
  EXPECT_EQ(moved("CENTRE", 1, 1, {1, 1, 1, 1}), (Region{1, 1, 1, 1}));

  Region same = r;
  EXPECT_FALSE(kzt_image_move("ZOOM IN", 101, 51, same.xs, same.ys, same.xe, same.ye));
  EXPECT_EQ(same, r);
}

struct ImageMenuTyped : testing::PageFixture {
  KztDataSets sets;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    Status s = kStatusGood;
    kzt_allocate_arrays(9, 7, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    KztArrays& a = vosq_kzt_arrays;
    a.xnumdat = 9;
    a.ynumdat = 7;
    a.xstrelm = a.ystrelm = 1;
    a.xendelm = 9;
    a.yendelm = 7;
    for (Index k = 0; k < 9; ++k) kzt_xline(a.xaxis)[k] = static_cast<float>(k) + 0.5f;
    for (Index k = 0; k < 7; ++k) kzt_yline(a.yaxis)[k] = static_cast<float>(k) + 0.5f;
    std::span<float> data = kzt_image(a.data);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = std::sin(static_cast<float>(k));
    sets.graphics_on = true;
    sets.data_defined = true;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    PageFixture::TearDown();
  }
};

TEST_F(ImageMenuTyped, MovesOptionsAndTexts) {
  testing::TerminalCapture terminal;
  KztArrays& a = vosq_kzt_arrays;
  a.xstrelm = 2;
  a.xendelm = 4;
  Status status = kStatusGood;
  {
    // RIGHT then FAR-RIGHT; OPTIONS: the colour bar twice (back to its first
    // text), a new title, a cancelled label, the grid switched on and left.
    testing::ScriptedInput input({"RIGHT", "OPTIONS", "DRAW LUT", "NO LUT", "TITLE", "New title",
                                  "X-AXIS LABEL", "\\\\", "GRID", "HORIZONTAL COARSE",
                                  "NO HORIZONTAL COARSE", "VERTICAL FINE", "EXIT", "EXIT",
                                  "FAR-RIGHT", "EXIT"});
    std::string plot_type;
    KZT_IMAGE(sets, plot_type, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    EXPECT_EQ(plot_type, "image");
  }
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(a.xstrelm, 7);
  EXPECT_EQ(a.xendelm, 9);
  EXPECT_EQ(sets.title, "New title");
  bool bar = true;
  int position = 0;
  GS_INQ_LUT(bar, position, status);
  EXPECT_FALSE(bar);
  bool hc = true, vc = true, hf = true, vf = false;
  GS_INQ_GRID(hc, vc, hf, vf, status);
  EXPECT_FALSE(hc);
  EXPECT_FALSE(vc);
  EXPECT_FALSE(hf);
  EXPECT_TRUE(vf);  // kept on leaving without UPDATE
  EXPECT_NE(text("CONTROL RETURNED TO TERMINAL WINDOW"), nullptr);
}

TEST_F(ImageMenuTyped, RegionOfInterestMenu) {
  testing::TerminalCapture terminal;
  KztArrays& a = vosq_kzt_arrays;
  Index xs = 3, ys = 2, xe = 5, ye = 4;
  std::string plot_type;
  Status status = kStatusGood;
  {
    testing::ScriptedInput input({"HELP", "O.K.", "FULL", "EXIT"});
    KZT_GUI_ROI(a.xmaxdat, a.ymaxdat, 9, 7, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                kzt_image(a.data), "t", "x", "y", "z", xs, ys, xe, ye, plot_type, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
  }
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ((std::array<Index, 4>{xs, ys, xe, ye}), (std::array<Index, 4>{1, 1, 9, 7}));
  EXPECT_NE(text("KESTA: REGION OF INTEREST MENU"), nullptr);
  // A region outside the arrays is refused before anything is drawn.
  items.clear();
  xe = 10;
  KZT_GUI_ROI(a.xmaxdat, a.ymaxdat, 9, 7, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
              kzt_image(a.data), "t", "x", "y", "z", xs, ys, xe, ye, plot_type, status);
  EXPECT_EQ(status, kBaseApp + 5);
  EXPECT_TRUE(items.empty());
}

}  // namespace
}  // namespace kesta
