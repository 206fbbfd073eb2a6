#include "app/imageops/peak_edit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/imageops/upcalls.hpp"
#include "core/macro.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

PeakList list_of(Index max, std::vector<std::tuple<int, float, float>> peaks) {
  PeakList list(max);
  for (const auto& [flag, x, y] : peaks) {
    const auto n = static_cast<std::size_t>(list.num_peaks++);
    list.flags[n] = flag;
    list.x[n] = x;
    list.y[n] = y;
    list.intensity[n] = 100.0f + x;
  }
  return list;
}

std::vector<float> xs(const PeakList& list) {
  return {list.x.begin(), list.x.begin() + list.num_peaks};
}

TEST(PeakListEdit, AddTakesWhatFitsAsGoodPeaks) {
  PeakList list = list_of(5, {{1, 1, 1}, {0, 2, 2}, {10, 3, 3}});
  list.intensity[3] = 7.0f;  // an old value in the free entry
  PeakGeometry geometry;
  geometry.known = true;
  geometry.x_beam = 10.0f;
  geometry.y_beam = 10.0f;
  geometry.distance = 0.1f;
  geometry.wavelength = 1.0e-10f;
  const std::vector<float> x{40, 10, 7, 8, 9}, y{10, 10, 7, 8, 9};
  EXPECT_EQ(kzt_add_peaks(x, y, geometry, list), 2);
  EXPECT_EQ(list.num_peaks, 5);
  EXPECT_EQ(xs(list), (std::vector<float>{1, 2, 3, 40, 10}));
  EXPECT_EQ(list.flags[3], 0);
  EXPECT_EQ(list.intensity[3], 0.0f);
  EXPECT_EQ(list.sigma[3], 0.0f);
  const double r = 30 * 1.0e-4;
  EXPECT_NEAR(list.d_spacing[3], 1.0 / (2.0 * std::sin(std::atan(r / 0.1) / 2.0)), 1e-3);
  EXPECT_EQ(list.d_spacing[4], -1.0f);  // at the beam centre
  EXPECT_EQ(kzt_add_peaks(x, y, geometry, list), 0);

  PeakList empty(3);
  EXPECT_EQ(kzt_add_peaks(std::vector<float>{4}, std::vector<float>{5}, PeakGeometry{}, empty), 1);
  EXPECT_EQ(empty.d_spacing[0], -1.0f);
}

TEST(PeakListEdit, RemoveTakesTheNearestGoodPeakPerPoint) {
  const struct {
    std::vector<float> x, y;
    std::vector<float> left;
  } cases[] = {
      // Near a saturated peak: the nearest good one goes, wherever it is.
      {{12.1f}, {12.0f}, {12, 30, 31, 50}},
      // Two clicks at one peak: that one, then the next nearest.
      {{30.2f, 30.2f}, {30.0f, 30.0f}, {10, 12, 50}},
      // Equal distances: the first in the list.
      {{20.0f}, {20.0f}, {12, 30, 31, 50}},
      {{}, {}, {10, 12, 30, 31, 50}},
  };
  for (const auto& c : cases) {
    PeakList list = list_of(6, {{0, 10, 20}, {1, 12, 12}, {0, 30, 20}, {0, 31, 31}, {11, 50, 50}});
    kzt_remove_peaks(c.x, c.y, list);
    EXPECT_EQ(xs(list), c.left);
    // The later entries moved down with all their values.
    EXPECT_EQ(list.intensity[static_cast<std::size_t>(list.num_peaks) - 1], 150.0f);
  }
  PeakList bad = list_of(2, {{1, 1, 1}, {10, 2, 2}});
  EXPECT_EQ(kzt_remove_peaks(std::vector<float>{1}, std::vector<float>{1}, bad), 0);
  EXPECT_EQ(bad.num_peaks, 2);
}

// The menu answered by a replaying input macro.
struct EditMenu : testing::WidgetFixture {
  testing::TempDir dir;
  static inline int drawn = 0;
  static void draw_peaks(bool, Index, Index num, std::span<const int>, std::span<const float>,
                         std::span<const float>, Status&) {
    drawn = static_cast<int>(num);
  }
  void replay(const std::string& lines) {
    testing::reset_dialogue();  // a macro not read to its end is closed
    std::string name = dir.file("edit.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, name, s);
    ASSERT_EQ(s, kStatusGood);
  }
};

TEST_F(EditMenu, AddsRemovesZoomsAndLeaves) {
  ImageopsUpcalls table;
  table.draw_peaks = draw_peaks;
  UpcallsOverride with(table);
  constexpr Index kN = 20;
  std::vector<float> data(kN * kN, 1.0f), axis(kN);
  for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  PeakList list = list_of(4, {{1, 3, 3}, {0, 15, 15}});
  Index xs_ = 1, ys = 1, xe = kN, ye = kN;
  replay(
      "ADD PEAKS\n3\n5.2\n6.7\n9\n9\n2\n2\n"  // one more than fits
      "REMOVE PEAKS\n1\n14\n14\n"
      "ZOOM IN\n2\n2.5\n3.5\n8.2\n9.9\n"
      "REMOVE PEAKS\n\\\\\n"  // an escape changes nothing
      "?\nO.K.\nHELP\nO.K.\nEXIT\n");
  Status s = kStatusGood;
  KZT_EDITPEAKS(false, 1e-4f, 1e-4f, kN, kN, kN, kN, data, {}, axis, axis, xs_, ys, xe, ye, "t",
                "x", "y", "z", list, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(xs(list), (std::vector<float>{3, 5.2f, 9}));
  EXPECT_FLOAT_EQ(list.y[1], 6.7f);
  EXPECT_EQ(drawn, 3);
  EXPECT_EQ(std::vector<Index>({xs_, ys, xe, ye}), std::vector<Index>({3, 4, 9, 10}));
  EXPECT_EQ(window->waits, 0);

  // The end of the input leaves the menu.
  replay("FULL UN-ZOOM\n");
  KZT_EDITPEAKS(false, 1e-4f, 1e-4f, kN, kN, kN, kN, data, {}, axis, axis, xs_, ys, xe, ye, "t",
                "x", "y", "z", list, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(std::vector<Index>({xs_, ys, xe, ye}), std::vector<Index>({1, 1, kN, kN}));
}

}  // namespace
}  // namespace kesta
