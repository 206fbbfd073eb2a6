// A PostScript copy shows what the window shows: an image and a graph drawn
// into a real window on a private X server and into a copy rendered by
// Ghostscript, compared at sampled page points.

#include <gtest/gtest.h>

#include <cstdio>

#include "core/dialogue_testing.hpp"
#include "core/system.hpp"
#include "graphics/device/device_test_support.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

int brightness(const std::array<int, 3>& c) { return c[0] + c[1] + c[2]; }

TEST(PrintedCopy, ShowsWhatTheWindowShows) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::TempDir dir;
  testing::reset_dialogue();
  testing::TerminalCapture quiet;
  const char* argv[] = {"kesta"};
  io_set_args(1, argv);
  gs_state = GsState{};
  Status s = kStatusGood;
  GS_OPEN_GRAPHICS(s);
  QG_WINDOW_TITLE("KESTA PRINT COMPARISON", s);
  ASSERT_EQ(s, kStatusGood);

  std::vector<float> data(64 * 32), xaxis(64), yaxis(32);
  for (Index y = 1; y <= 32; ++y)
    for (Index x = 1; x <= 64; ++x) data[element(x, y, 64)] = static_cast<float>(x);
  for (int i = 0; i < 64; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (int i = 0; i < 32; ++i) yaxis[i] = static_cast<float>(i) + 0.5f;

  // Page point to window pixel (707 pixels a page unit, row 0 at the top)
  // and to the Ghostscript page (the copy's page region at 72 dpi on A4).
  auto window_at = [](const testing::Screenshot& shot, float px, float py) {
    return shot.at(static_cast<int>(px * 707.0f), static_cast<int>((1.0f - py) * 707.0f));
  };
  auto copy_at = [](const testing::Rendered& r, float px, float py) {
    return r.at(static_cast<int>((180.0f + 7871.0f * px) / 10.0f),
                r.height - 1 - static_cast<int>((230.0f + 7871.0f * py) / 10.0f));
  };
  struct Drawing {
    Index ys, ye;
  };
  for (const Drawing d : {Drawing{1, 32}, Drawing{9, 9}}) {
    auto draw = [&] {
      GS_PLOT(64, 32, data, xaxis, yaxis, 1, d.ys, 64, d.ye, "Copy", "X", "Y", "Z", s);
    };
    draw();
    GS_UPDATE(s);
    const testing::Screenshot shot =
        testing::screenshot(testing::find_window("KESTA PRINT COMPARISON"), dir.path().string());
    ASSERT_EQ(shot.width, 500);
    const std::string path = dir.file("copy.ps");
    {
      testing::ScriptedInput answer({path});
      bool opened = false;
      GS_ON_PRINT(false, opened, s);
      ASSERT_TRUE(opened);
    }
    draw();
    GS_OFF_PRINT(s);
    GS_CLOSE_PS(s);
    ASSERT_EQ(s, kStatusGood);
    const testing::Rendered copy = testing::gs_render(path);
    ASSERT_TRUE(copy.ok);
    if (d.ys != d.ye) {
      // Cell centres across the middle row of the image.
      const GsRect page = gs_state.dgpp;
      const float py = (page.ymin + page.ymax) / 2.0f;
      std::vector<int> shades;
      for (const int cell : {3, 17, 31, 45, 59}) {
        const float px =
            page.xmin + (static_cast<float>(cell) + 0.5f) * (page.xmax - page.xmin) / 64;
        EXPECT_TRUE(testing::same_colour(window_at(shot, px, py), copy_at(copy, px, py), 12))
            << cell;
        shades.push_back(brightness(copy_at(copy, px, py)));
      }
      EXPECT_LT(shades.front() + 300, shades.back());  // black to white in the default scheme
    } else {
      // The graph's line at three of its points is dark in both.
      for (const float x : {10.5f, 32.5f, 54.5f}) {
        const float value = data[element(static_cast<Index>(x + 0.5f), 9, 64)];
        QG_DATAWINDOW(gs_state.dddr.xmin, gs_state.dddr.ymin, gs_state.dddr.xmax,
                      gs_state.dddr.ymax, s);
        QG_VIEWPORT(gs_state.dgpp.xmin, gs_state.dgpp.ymin, gs_state.dgpp.xmax, gs_state.dgpp.ymax,
                    s);
        const float px = QG_WC2PC(true, x, s);
        const float py = QG_WC2PC(false, value, s);
        int darkest_window = 765;
        int darkest_copy = 765;
        for (float dx = -0.004f; dx <= 0.004f; dx += 0.001f)
          for (float dy = -0.004f; dy <= 0.004f; dy += 0.001f) {
            darkest_window =
                std::min(darkest_window, brightness(window_at(shot, px + dx, py + dy)));
            darkest_copy = std::min(darkest_copy, brightness(copy_at(copy, px + dx, py + dy)));
          }
        EXPECT_LT(darkest_window, 200) << x;
        EXPECT_LT(darkest_copy, 200) << x;
      }
      // Both backgrounds are white.
      EXPECT_GT(brightness(window_at(shot, 0.05f, 0.05f)), 700);
      EXPECT_GT(brightness(copy_at(copy, 0.05f, 0.05f)), 700);
    }
  }
  GS_CLOSE_GRAPHICS(s);
  EXPECT_EQ(s, kStatusGood);
}

}  // namespace
}  // namespace kesta
