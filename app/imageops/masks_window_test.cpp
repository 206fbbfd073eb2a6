// The mask menu in a real window on a private X server, its menu choices and
// points replayed from an input macro; the masked pixels are read back from
// the window in the mask colour.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/imageops/masks.hpp"
#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "graphics/device/x11_driver.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

TEST(MaskWindow, ReplayedPolygonIsDrawnInTheMaskColour) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::reset_dialogue();
  testing::TerminalCapture quiet;
  testing::TempDir dir;
  const char* argv[] = {"kesta"};
  io_set_args(1, argv);
  gs_state = GsState{};
  Status status = kStatusGood;
  GS_OPEN_GRAPHICS(status);
  ASSERT_EQ(status, kStatusGood);
  const unsigned long window = x11_window_id();

  constexpr Index kN = 64;
  std::vector<float> data(kN * kN, 1.0f), axis(kN);
  for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  for (Index k = 0; k < kN * kN; ++k) data[k] = static_cast<float>(k % kN);
  std::vector<std::uint8_t> mask(kN * kN);
  // The left half masked by a polygon, the menu left with EXIT.
  std::string macro = dir.file("mask.mac");
  std::ofstream(macro) << "MASK POLYGON\n4\n0.0\n0.0\n31.9\n0.0\n31.9\n64.0\n0.0\n64.0\nEXIT\n";
  IO_OPEN_INMACRO(false, macro, status);
  ASSERT_EQ(status, kStatusGood);
  Index xs = 1, ys = 1, xe = kN, ye = kN;
  {
    testing::Watchdog watchdog(60);
    KZT_MASK(false, kN, kN, kN, kN, data, axis, axis, "Mask", "X", "Y", "Z", 1e-4f, 1e-4f, xs, ys,
             xe, ye, mask, status);
  }
  EXPECT_EQ(status, kStatusGood);
  Index masked = 0;
  for (Index j = 1; j <= kN; ++j)
    for (Index i = 1; i <= kN; ++i) masked += mask[element(i, j, kN)] != 0 && i <= 32;
  EXPECT_EQ(masked, 32 * kN);

  const testing::Screenshot shot = testing::screenshot(window, dir.path().string());
  ASSERT_TRUE(shot.ok);
  const GsRect& w = gs_state.dddr;
  const GsRect& v = gs_state.dgpp;
  auto pixel = [&](float x, float y) {
    const float px = v.xmin + (x - w.xmin) / (w.xmax - w.xmin) * (v.xmax - v.xmin);
    const float py = v.ymin + (y - w.ymin) / (w.ymax - w.ymin) * (v.ymax - v.ymin);
    return shot.at(static_cast<int>(px * shot.height), static_cast<int>((1.0f - py) * shot.height));
  };
  const auto left = pixel(16.0f, 32.0f);
  const auto right = pixel(48.0f, 32.0f);
  EXPECT_TRUE(left[0] > 200 && left[1] < 80 && left[2] < 80)
      << left[0] << " " << left[1] << " " << left[2];
  EXPECT_FALSE(right[0] > 200 && right[1] < 80 && right[2] < 80);
  GS_CLOSE_GRAPHICS(status);
}

}  // namespace
}  // namespace kesta
