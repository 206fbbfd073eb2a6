#include "app/imageops/surface_interpolation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/macro.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

TEST(SurfaceSample, MeanOfTheBlockInsideTheData) {
  constexpr Index kX = 6, kY = 5;
  std::vector<float> data(kX * kY);
  for (Index j = 1; j <= kY; ++j)
    for (Index i = 1; i <= kX; ++i) data[element(i, j, kX)] = static_cast<float>(10 * j + i);
  const struct {
    float px, py;
    bool ok;
    float mean;
  } cases[] = {
      {2.5f, 2.5f, true, 33.0f},   // pixel 3, 3: the block 2..4 by 2..4
      {0.2f, 0.7f, true, 16.5f},   // the lower-left corner: 2 x 2 pixels
      {5.9f, 4.9f, true, 45.0f},   // the upper-right corner: pixel 5, 4 alone
      {-3.5f, 2.5f, false, 0.0f},  // the block misses the data
      {2.5f, 9.0f, false, 0.0f},
  };
  for (const auto& c : cases) {
    float value = -1.0f;
    EXPECT_EQ(kzt_surface_sample(kX, 5, 4, data, c.px, c.py, value), c.ok) << c.px;
    if (c.ok) {
      EXPECT_FLOAT_EQ(value, c.mean) << c.px;
    }
  }
}

struct SurfaceReplay : testing::WidgetFixture {
  testing::TempDir dir;
  void replay(const std::string& lines) {
    testing::reset_dialogue();  // a macro not read to its end is closed
    std::string name = dir.file("surface.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, name, s);
    ASSERT_EQ(s, kStatusGood);
  }
};

TEST_F(SurfaceReplay, PlaneThroughClickedPointsAndTooFewPoints) {
  kzt_forget_answers();
  constexpr Index kN = 32;
  std::vector<float> data(kN * kN), axis(kN), mdata(kN * kN, -7.0f);
  for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < kN; ++j)
    for (Index i = 0; i < kN; ++i) data[j * kN + i] = axis[i] + 2.0f * axis[j];
  std::string points = "25\n";
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 5; ++i)
      points += std::to_string(3.5 + 6 * i) + "\n" + std::to_string(3.5 + 6 * j) + "\n";
  replay(points + "0.01\n");
  bool defined = false;
  Status s = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_SURFACE(kN, kN, 1, 1, kN, kN, data, axis, axis, "t", "x", "y", "z", defined, mdata, s);
  ASSERT_EQ(s, kStatusGood) << terminal.text();
  EXPECT_TRUE(defined);
  EXPECT_NE(terminal.text().find("INFO: Achieved RMS closeness of fit = "), std::string::npos);
  for (const Index i : {4, 10, 20, 27})
    EXPECT_NEAR(mdata[static_cast<std::size_t>(i * kN + i)], 3.0f * axis[i], 0.05f) << i;

  // Four points cannot carry a bicubic surface: nothing is stored (the
  // closeness answered last is the default of the empty answer).
  std::fill(mdata.begin(), mdata.end(), -7.0f);
  replay("4\n3\n3\n20\n3\n3\n20\n20\n20\n\n");
  defined = false;
  KZT_SURFACE(kN, kN, 1, 1, kN, kN, data, axis, axis, "t", "x", "y", "z", defined, mdata, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FALSE(defined);
  EXPECT_EQ(mdata[100], -7.0f);
}

TEST_F(SurfaceReplay, CommandLeavesTheSurfaceInTheMemory) {
  kzt_forget_answers();
  constexpr Index kN = 24;
  KztArrays saved = vosq_kzt_arrays;
  vosq_kzt_arrays = KztArrays{};
  Status s = kStatusGood;
  kzt_allocate_arrays(kN, kN, true, false, false, vosq_kzt_arrays, s);
  KztArrays& a = vosq_kzt_arrays;
  a.xnumdat = a.ynumdat = a.xendelm = a.yendelm = kN;
  for (Index i = 0; i < kN; ++i) a.xaxis[i] = a.yaxis[i] = static_cast<float>(i) + 0.5f;
  std::fill_n(a.data, kN * kN, 5.0f);
  std::string points = "16\n";
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i)
      points += std::to_string(2 + 6 * i) + "\n" + std::to_string(2 + 6 * j) + "\n";
  replay(points + "1\n");
  KztDataSets sets;
  sets.title = "flat";
  std::string next = "IMAGE";
  kzt_command_surface(sets, next, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mtitle, "INTERPOLATED SURFACE");
  EXPECT_EQ(next, "EXCHANGE");
  EXPECT_NEAR(a.mdata[element(10, 10, kN)], 5.0f, 1e-3f);
  kzt_free_arrays(a, s);
  vosq_kzt_arrays = saved;
}

}  // namespace
}  // namespace kesta
