// Primitives, styles and annotation, recorded in page coordinates.

#include <cmath>

#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::PageFixture;
using testing::PageItem;
using PrimitivesTest = PageFixture;

TEST_F(PrimitivesTest, TextAngleFromTheUpVector) {
  struct Case {
    float up_x, up_y, angle;
  };
  for (const Case& c : {Case{0, 1, 0}, Case{-1, 0, 90}, Case{1, 0, -90}, Case{0, -1, -180}}) {
    Status s = kStatusGood;
    GS_TEXTSTYLE(1, kGsBlack, 0.02f, 1, 0, 0, 1, 1, c.up_x, c.up_y, s);
    QG_TEXT(0.1f, 0.1f, "a", s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_NEAR(of("text").back()->angle, c.angle, 1e-3) << c.up_x << " " << c.up_y;
  }
  Status s = kStatusGood;
  GS_TEXTSTYLE(1, kGsBlack, 0.0f, 1, 0, 0, 1, 1, 0, 1, s);
  EXPECT_EQ(s, 140021);
}

TEST_F(PrimitivesTest, Shapes) {
  Status s = kStatusGood;
  GS_RECTANGLE(0.1f, 0.1f, 0.2f, 0.3f, false, true, s);
  EXPECT_EQ(of("polyline").size(), 0u);
  ASSERT_EQ(of("fill_area").size(), 1u);
  EXPECT_EQ(of("fill_area")[0]->x.size(), 4u);

  items.clear();
  GS_KITE(0.3f, 0.5f, 0.4f, 0.5f, 0.3f, 0.6f, true, false, s);
  const PageItem* kite = of("polyline").at(0);
  ASSERT_EQ(kite->x.size(), 5u);
  for (std::size_t k = 0; k < 4; ++k)
    EXPECT_NEAR(std::hypot(kite->x[k] - 0.3f, kite->y[k] - 0.5f), 0.1f, 1e-6);

  items.clear();
  GS_ELLIPSE(0.3f, 0.5f, 0.1f, 0.05f, true, true, 199, s);
  ASSERT_EQ(s, kStatusGood);
  const PageItem* ellipse = of("polyline").at(0);
  ASSERT_EQ(ellipse->x.size(), 200u);
  EXPECT_NEAR(ellipse->x[0], 0.2f, 1e-6);
  for (std::size_t k = 0; k < ellipse->x.size(); ++k) {
    const float u = (ellipse->x[k] - 0.3f) / 0.1f;
    const float v = (ellipse->y[k] - 0.5f) / 0.05f;
    EXPECT_NEAR(u * u + v * v, 1.0f, 1e-4) << k;
  }
  for (int segments : {200, 1}) {
    Status bad = kStatusGood;
    GS_ELLIPSE(0.3f, 0.5f, 0.1f, 0.05f, true, false, segments, bad);
    EXPECT_EQ(bad, 140017);
  }

  items.clear();
  GS_ARCELLIPSE(0.3f, 0.5f, 0.1f, 0.1f, 0.0f, 0.0f, true, false, 40, s);
  const PageItem* arc = of("polyline").at(0);
  EXPECT_NEAR(arc->x.front(), arc->x.back(), 1e-5);
  EXPECT_NEAR(arc->y.front(), arc->y.back(), 1e-5);
  Status bad = kStatusGood;
  GS_ARCELLIPSE(0.3f, 0.5f, 0.1f, 0.1f, 0.0f, 1.0f, true, false, 200, bad);
  EXPECT_EQ(bad, 140009);
}

TEST_F(PrimitivesTest, FittedText) {
  Status s = kStatusGood;
  const std::vector<std::string> lines = {"first", "second", "third"};
  GS_TEXT(3, 3, lines, 0.1f, 0.2f, 0.6f, 0.5f, s);
  ASSERT_EQ(s, kStatusGood);
  const auto t = of("text");
  ASSERT_EQ(t.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_LE(t[k]->height, 0.06f + 1e-6f);
    EXPECT_NEAR(t[k]->y[0], 0.5f - 0.0375f - 0.075f * static_cast<float>(k), 1e-5);
  }
}

TEST_F(PrimitivesTest, Annotation) {
  Status s = kStatusGood;
  GS_SET_ATEXT({"one", "", "three"}, s);
  GS_ATEXT(s);
  const auto t = of("text");
  ASSERT_EQ(t.size(), 2u);
  const float step = 0.0166667f * 1.8f;
  EXPECT_NEAR(t[0]->y[0] - t[1]->y[0], 2 * step, 1e-5);

  items.clear();
  GS_SET_ALABEL(1, false, 0.2f, 0.3f, "up", 1, s);
  GS_SET_ALABELSTYLE(1, 1, kGsBlack, 1, 1, 0, 1.5707963f, s);
  GS_ALABELS(s);
  ASSERT_EQ(of("text").size(), 1u);
  EXPECT_NEAR(of("text")[0]->angle, 90.0f, 1e-3);

  items.clear();
  GS_SET_ARROW(1, true, 0.2f, 0.2f, 0.2f, 0.2f, 2, s);  // equal points: skipped
  GS_SET_ARROW(2, true, 0.4f, 0.4f, 0.2f, 0.4f, 2, s);
  GS_SET_ARROWSTYLE(2, 1, 1, kGsRed, 1, 1, 1, kGsBlue, s);
  GS_ARROWS(s);
  ASSERT_EQ(s, kStatusGood);
  ASSERT_EQ(of("fill_area").size(), 1u);
  const PageItem* head = of("fill_area")[0];
  EXPECT_NEAR(head->x[1], 0.4f, 1e-6);  // the head's point
  EXPECT_NEAR(head->x[0], 0.39f, 1e-5);
  EXPECT_NEAR(std::abs(head->y[0] - head->y[2]), 0.01f, 1e-5);
}

}  // namespace
}  // namespace kesta
