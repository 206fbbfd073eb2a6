#include "app/imageops/click_readout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/imageops/upcalls.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/widgets.hpp"

using namespace kesta;

namespace {

// A 10 x 8 image whose value at (i, j) is 100 i + j.
struct Data {
  std::vector<float> data, xaxis, yaxis;
  Data() : data(80), xaxis(10), yaxis(8) {
    for (Index i = 0; i < 10; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < 8; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
    for (Index j = 1; j <= 8; ++j)
      for (Index i = 1; i <= 10; ++i) data[element(i, j, 10)] = static_cast<float>(100 * i + j);
  }
};

float number_after(const std::string& line, std::string_view label) {
  EXPECT_EQ(line.rfind(label, 0), 0u) << line;
  return std::stof(line.substr(label.size()));
}

TEST(ClickReadout, ImageLinesHoldThePixelInsideTheRegion) {
  const Data d;
  ClickContext known;
  known.geometry_known = true;
  known.sample_distance = 0.1f;
  known.wavelength = 1.0e-10f;
  known.xpixsize = known.ypixsize = 1.0e-4f;
  const struct {
    float x, y;
    ClickContext context;
    std::vector<std::string> want;  // X and Y
    float value;
    bool d_line;
  } cases[] = {
      {3.2f, 4.9f, {}, {" X = 4", " Y = 5"}, 405.0f, false},
      {10.0f, 0.0f, {}, {" X = 10", " Y = 1"}, 1001.0f, false},  // the border
      {10.4f, 8.3f, {}, {" X = 10", " Y = 8"}, 1008.0f, false},  // beyond: the edge pixel
      {0.0f, 0.0f, known, {" X = 1", " Y = 1"}, 101.0f, false},  // the beam centre
      {3.0f, 4.0f, known, {" X = 4", " Y = 5"}, 405.0f, true},
  };
  for (const auto& c : cases) {
    Status status = kStatusGood;
    const auto lines = kzt_click_lines(10, 1, 1, 10, 8, d.xaxis, d.yaxis, d.data, "x", c.x, c.y,
                                       c.context, status);
    ASSERT_EQ(lines.size(), c.d_line ? 4u : 3u) << c.x;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2), c.want);
    EXPECT_FLOAT_EQ(number_after(lines[2], "  I = "), c.value);
    if (c.d_line) {
      // 2-theta = atan(5e-4 / 0.1); d = lambda / (2 sin(theta)).
      const double want = 1.0 / (2.0 * std::sin(std::atan(5.0e-3) / 2.0));
      EXPECT_NEAR(number_after(lines[3], "  d = "), want, want * 1e-5);
    }
  }
}

TEST(ClickReadout, GraphLinesShowLogValuesAndTheDOfATwoThetaScan) {
  const Data d;
  ClickContext c;
  c.geometry_known = true;
  c.wavelength = 1.0e-10f;
  c.y_linear = false;
  Status status = kStatusGood;
  auto lines = kzt_click_lines(10, 1, 2, 10, 2, d.xaxis, d.yaxis, d.data,
                               "2-Theta Angle (Degrees)", 60.0f, 2.0f, c, status);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_FLOAT_EQ(number_after(lines[0], " X = "), 60.0f);
  EXPECT_FLOAT_EQ(number_after(lines[1], " Y = "), 100.0f);
  EXPECT_NEAR(number_after(lines[2], "  d = "), 1.0f, 1e-5);
  for (const char* label : {"2-Theta Angle", "Radial distance (mm)"})
    EXPECT_EQ(kzt_click_lines(10, 1, 2, 10, 2, d.xaxis, d.yaxis, d.data, label, 60.0f, 2.0f, c,
                              status)
                  .size(),
              2u)
        << label;
}

struct DrawnClick : kesta::testing::PageFixture {
  Data d;
  void SetUp() override {
    PageFixture::SetUp();
    // A page that is not a window: widgets take typed answers, as in a replay.
    qg_db_system.category[0] = kCategoryPostScript;
    kesta::testing::reset_dialogue();
    Status status = kStatusGood;
    GS_PLOT(10, 8, d.data, d.xaxis, d.yaxis, 1, 1, 10, 8, "t", "x", "y", "z", status);
    ASSERT_EQ(status, kStatusGood);
    items.clear();
  }
  bool click(float x, float y, bool& update_menu) {
    bool update_image = true;
    update_menu = true;
    Status status = kStatusGood;
    const std::size_t before = items.size();
    KZT_CLICK(10, 8, 1, 1, 10, 8, d.xaxis, d.yaxis, d.data, "t", "x", "y", "z", x, y, 1e-4f,
              1e-4f, update_image, update_menu, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_FALSE(update_image);
    return items.size() > before;
  }
};

TEST_F(DrawnClick, BorderIsInsideAndTheColourBarComesFirst) {
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  Status status = kStatusGood;
  GS_INQ_DDDR(x1, y1, x2, y2, status);
  bool menu = false;
  EXPECT_TRUE(click(x2, y2, menu));
  EXPECT_NE(text(" X = 10"), nullptr) << ::testing::PrintToString(texts());
  EXPECT_FALSE(menu);
  items.clear();
  EXPECT_FALSE(click(x2 + (x2 - x1) * 1e-4f, y2, menu));

  bool drawn = false;
  float b1 = 0, c1 = 0, b2 = 0, c2 = 0;
  GS_INQ_DLUTPC(drawn, b1, c1, b2, c2, status);
  ASSERT_TRUE(drawn);
  kesta::testing::ScriptedInput input({"EXIT"});
  kesta::testing::TerminalCapture terminal;
  EXPECT_FALSE(click(QG_PC2WC(true, (b1 + b2) / 2, status), QG_PC2WC(false, (c1 + c2) / 2, status),
                     menu) &&
               !menu);
  EXPECT_TRUE(menu);
  ASSERT_FALSE(input.prompts.empty());
  EXPECT_NE(input.prompts[0].find("MENU CHOICE (GRAPHICAL INPUT)"), std::string::npos);
}

// The read-out in the top-left corner leaves the numbers of the image's top
// axis readable.
TEST_F(DrawnClick, ReadOutStaysAboveTheTopAxisNumbers) {
  Status status = kStatusGood;
  GS_SET_IASPECT(false, status);  // the image up to the graph's top
  GS_PLOT(10, 8, d.data, d.xaxis, d.yaxis, 1, 1, 10, 8, "t", "x", "y", "z", status);
  float numbers_top = 0.0f;  // of the texts over the graph's top-left corner
  for (const kesta::testing::PageItem* t : of("text"))
    if (t->y[0] > gs_state.dgpp.ymax && t->x[0] < 0.2f)
      numbers_top = std::max(numbers_top, t->y[0] + t->height);
  ASSERT_GT(numbers_top, gs_state.dgpp.ymax);
  items.clear();
  bool menu = false;
  ASSERT_TRUE(click(5.0f, 4.0f, menu));
  ASSERT_NE(text(" X = 6"), nullptr);
  for (const kesta::testing::PageItem& item : items)
    for (const float y : item.y) EXPECT_GE(y, numbers_top) << item.kind << " " << item.text;
}

}  // namespace
