// The graphical branches of operations that both interfaces use, answered
// by a replaying input macro: value and warning boxes, the clicks and form of
// REFLECT and the control form of TRANSFORM.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/geometric_transforms.hpp"
#include "app/main/data_store.hpp"
#include "core/macro.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

struct GraphicalBranches : testing::WidgetFixture {
  testing::TempDir dir;
  static constexpr Index kN = 6;
  void SetUp() override {
    WidgetFixture::SetUp();
    kzt_forget_answers();
    Status s = kStatusGood;
    kzt_allocate_arrays(kN, kN, true, false, false, vosq_kzt_arrays, s);
    KztArrays& a = vosq_kzt_arrays;
    for (Index y = 1; y <= kN; ++y)
      for (Index x = 1; x <= kN; ++x) {
        a.data[element(x, y, kN)] = static_cast<float>(10 * x + y);
        a.mdata[element(x, y, kN)] = -1.0f;
      }
    for (Index i = 0; i < kN; ++i) a.xaxis[i] = a.yaxis[i] = static_cast<float>(i) + 0.5f;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    WidgetFixture::TearDown();
  }
  void replay(const std::string& lines) {
    testing::reset_dialogue();
    std::string name = dir.file("answers.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, name, s);
    ASSERT_EQ(s, kStatusGood);
  }
  static float at(const float* array, Index x, Index y) { return array[element(x, y, kN)]; }
  void reflect(KztMemoryExtent& m, Status& s) {
    const KztArrays& a = vosq_kzt_arrays;
    KZT_REFLECT(true, kN, kN, kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), {}, 1,
                1, kN, kN, false, kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata),
                {}, m, s);
  }
};

TEST_F(GraphicalBranches, ValueAndWarningBoxes) {
  replay("2.5\n");
  float value = 1.0f;
  Status s = kStatusGood;
  kzt_inpr(true, true, 0.0f, 10.0f, "POWER", {"Enter power"}, {"Enter real"}, value, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(value, 2.5f);
  // While the macro replays the box is drawn and not waited on.
  kzt_warning(true, {"ATTEMPT TO DIVIDE BY ZERO."}, s);
  EXPECT_EQ(s, kStatusGood);
  const std::vector<std::string> drawn = texts();
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), "ATTEMPT TO DIVIDE BY ZERO."), drawn.end());
  EXPECT_EQ(window->waits, 0);
}

TEST_F(GraphicalBranches, ReflectFromTwoClicksIntoTheFormsRegion) {
  const KztArrays& a = vosq_kzt_arrays;
  // A cancelled form changes nothing.
  replay("2\n3\n0\n3\n6\nCANCEL\n");
  KztMemoryExtent m;
  Status s = kStatusGood;
  reflect(m, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_FALSE(m.written());
  EXPECT_EQ(at(a.mdata, 1, 1), -1.0f);

  replay("2\n3\n0\n3\n6\nX-END OUT\n4\nO.K.\n");
  s = kStatusGood;
  reflect(m, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(std::vector<Index>({m.xnumdat, m.xendelm, m.yendelm}), std::vector<Index>({4, 4, 6}));
  for (Index y = 1; y <= kN; ++y) {
    for (Index x = 1; x <= 4; ++x) EXPECT_NEAR(at(a.mdata, x, y), at(a.data, 7 - x, y), 1e-3);
    EXPECT_EQ(at(a.mdata, 5, y), -1.0f);  // outside the output region
  }
}

TEST_F(GraphicalBranches, TransformTakesItsControlForm) {
  const KztArrays& a = vosq_kzt_arrays;
  float xps = 1e-4f, yps = 1e-4f;
  for (const bool cancel : {true, false}) {
    replay(cancel ? "ANGLE\n90\nCANCEL\n" : "ANGLE\n90\nX-PIXEL SIZE\n50\nY-PIXEL SIZE\n50\nO.K.\n");
    KztMemoryExtent m;
    Status s = kStatusGood;
    KZT_TRANSFORM(kzt_transform_form, kN, kN, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                  kzt_image(a.data), 1, 1, kN, kN, xps, yps, kzt_xline(a.mxaxis),
                  kzt_yline(a.myaxis), kzt_image(a.mdata), m, s);
    if (cancel) {
      EXPECT_EQ(s, kStatusEscape);
      EXPECT_EQ(at(a.mdata, 1, 1), -1.0f);
      continue;
    }
    ASSERT_EQ(s, kStatusGood);
    EXPECT_FLOAT_EQ(xps, 5.0e-5f);
    EXPECT_EQ(m.xnumdat, kN);
    for (Index y = 1; y <= kN; ++y)
      for (Index x = 1; x <= kN; ++x) EXPECT_NEAR(at(a.mdata, 7 - y, x), at(a.data, x, y), 1e-3);
  }
}

}  // namespace
}  // namespace kesta
