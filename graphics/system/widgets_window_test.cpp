// Widgets in a real window on a private X server: the colours they draw and
// answers given with the pointer and the keyboard (xdotool).

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#undef Status
#undef Bool

#include <algorithm>

#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"
#include "core/system.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/x11_driver.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

struct WidgetWindow : ::testing::TestWithParam<int> {
  void SetUp() override {
    if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
    server = std::make_unique<testing::PrivateXServer>(GetParam());
    ASSERT_TRUE(server->ok());
    testing::reset_dialogue();
    const char* argv[] = {"kesta"};
    io_set_args(1, argv);
    gs_state = GsState{};
    GS_OPEN_GRAPHICS(s);
    ASSERT_EQ(s, kStatusGood);
    window = x11_window_id();
    ASSERT_NE(window, 0u);
  }
  void TearDown() override {
    Status local = kStatusGood;
    if (window != 0) GS_CLOSE_GRAPHICS(local);
  }
  // Page point to window pixel: 707 pixels a page unit, row 0 at the top.
  static int px(float x) { return static_cast<int>(x * 707.0f); }
  static int py(float y) { return static_cast<int>((1.0f - y) * 707.0f); }
  bool click_at(float x, float y) {
    return testing::run_bounded("xdotool mousemove --window " + std::to_string(window) + " " +
                                std::to_string(px(x)) + " " + std::to_string(py(y)) +
                                " click 1");
  }

  testing::TerminalCapture quiet;
  testing::TempDir dir;
  std::unique_ptr<testing::PrivateXServer> server;
  unsigned long window = 0;
  Status s = kStatusGood;
};

TEST_P(WidgetWindow, MenuColoursAndClicks) {
  const std::vector<std::string> buttons{"ONE", "TWO", "THREE", "FOUR", "FIVE", "SIX", "SEVEN"};
  GS_SET_MENULAYOUT(0, 3, 20, 10, s);
  GS_FMENU(1, 1, {"CHOOSE"}, 7, 7, buttons, s);
  GS_UPDATE(s);
  ASSERT_EQ(s, kStatusGood);
  const testing::Screenshot shot = testing::screenshot(window, dir.path());
  ASSERT_TRUE(shot.ok);
  const GsRect& b = gs_drawn_menu.boxes[4];
  // Button face near its left edge (clear of the text): yellow; the frame
  // between two buttons: blue.
  const auto face = shot.at(px(b.xmin + 0.2f * gs_drawn_menu.edge + 0.004f), py((b.ymin + b.ymax) / 2));
  EXPECT_TRUE(face[0] > 200 && face[1] > 200 && face[2] < 80) << face[0] << " " << face[1] << " " << face[2];
  const auto frame = shot.at(px(b.xmin - 0.002f), py((b.ymin + b.ymax) / 2));
  EXPECT_TRUE(frame[2] > 200 && frame[0] < 80 && frame[1] < 80) << frame[0] << " " << frame[1] << " " << frame[2];

  ASSERT_TRUE(click_at((b.xmin + b.xmax) / 2, (b.ymin + b.ymax) / 2));
  int type = 0;
  std::string command;
  float x = 0, y = 0;
  {
    testing::Watchdog watchdog(20);
    GS_INP_MENUCHOICE(7, 7, buttons, 0, type, command, x, y, s);
  }
  EXPECT_EQ(type, kGsChoiceButton);
  EXPECT_EQ(command, "FIVE");
}

// A window lost while a menu is being drawn answers the menu's wait with the
// user escape, as a window lost during the wait does; the menus after that
// are asked at the terminal.
TEST_P(WidgetWindow, AWindowLostWhileDrawingAnswersTheNextWaitAsLostDuringIt) {
  const std::vector<std::string> buttons{"ONE", "TWO", "THREE"};
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  XKillClient(other, window);  // the window's connection cut, as a window manager's kill does
  XCloseDisplay(other);
  GS_SET_MENULAYOUT(0, 3, 20, 10, s);
  GS_FMENU(1, 1, {"CHOOSE"}, 3, 3, buttons, s);
  GS_UPDATE(s);
  ASSERT_TRUE(qg_window_lost());
  testing::ScriptedInput input({"TWO"});
  int type = 0;
  std::string command;
  float x = 0, y = 0;
  {
    testing::Watchdog watchdog(20);
    GS_INP_MENUCHOICE(3, 3, buttons, 0, type, command, x, y, s);
  }
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_EQ(type, kGsChoiceNone);
  s = kStatusGood;
  GS_INP_MENUCHOICE(3, 3, buttons, 0, type, command, x, y, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(type, kGsChoiceButton);
  EXPECT_EQ(command, "TWO");
}

TEST_P(WidgetWindow, ValueBoxTakesATypedLine) {
  const GsRect& g = gs_state.gui_region;
  // Out of range first ("542" after the default 5): the two help boxes are
  // closed with their O.K., then a good value. Every event queues in order.
  ASSERT_TRUE(testing::run_bounded("xdotool mousemove --window " + std::to_string(window) + " " +
                                   std::to_string(px((g.xmin + g.xmax) / 3)) + " " +
                                   std::to_string(py(g.ymin + 0.01f)) +
                                   " type --delay 0 42"));
  ASSERT_TRUE(testing::run_bounded("xdotool key Return"));
  int value = 5;
  GsMessageBoxes boxes;
  const GsRect& m = gs_state.message;
  Status probe = kStatusGood;
  const std::vector<std::string> one{"x"};
  GS_DRAW_MESSAGE(1, 1, one, 1, m.xmin, m.ymin, m.xmax, m.ymax, boxes, probe);
  const float okx = (boxes.ok.xmin + boxes.ok.xmax) / 2, oky = (boxes.ok.ymin + boxes.ok.ymax) / 2;
  ASSERT_TRUE(click_at(okx, oky));
  ASSERT_TRUE(click_at(okx, oky));
  ASSERT_TRUE(testing::run_bounded("xdotool mousemove --window " + std::to_string(window) + " " +
                                   std::to_string(px((g.xmin + g.xmax) / 3)) + " " +
                                   std::to_string(py(g.ymin + 0.01f)) +
                                   " key BackSpace BackSpace type --delay 0 7"));
  ASSERT_TRUE(testing::run_bounded("xdotool key Return"));
  {
    testing::Watchdog watchdog(20);
    GS_INPI(true, 1, 10, true, "NUMBER", {"Enter a number"}, {"From 1 to 10"}, value, s);
  }
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(value, 7);
}

// The window's fonts come in steps and are wider than the size factor
// allows for: the end of a long line (as long as the polygon statistics'
// extremes, 87 characters, in the full box and in the lowered one they use)
// is still drawn in the text box, not cut off by its clip.
TEST_P(WidgetWindow, MessageBoxDrawsTheEndOfItsLongestLine) {
  const GsRect m = gs_state.message;
  const std::vector<std::string> line{std::string(86, ' ') + "W"};
  for (const float top : {m.ymax, std::max(std::min(m.ymax, 0.3f), m.ymin + 0.1f)}) {
    GsMessageBoxes boxes;
    GS_DRAW_MESSAGE(1, 1, line, 1, m.xmin, m.ymin, m.xmax, top, boxes, s);
    GS_UPDATE(s);
    ASSERT_EQ(s, kStatusGood);
    const testing::Screenshot shot = testing::screenshot(window, dir.path());
    ASSERT_TRUE(shot.ok);
    int dark = 0;
    for (int y = py(boxes.text.ymax) + 1; y < py(boxes.text.ymin); ++y)
      for (int x = px(boxes.text.xmin) + 1; x < px(boxes.text.xmax); ++x) {
        const auto c = shot.at(x, y);
        dark += c[0] < 80 && c[1] < 80 && c[2] < 80;
      }
    EXPECT_GT(dark, 0) << "box top " << top;
  }
}

// A warning's long line is drawn inside its white area: no letter on the red
// frame beside it or under the O.K. button.
TEST_P(WidgetWindow, WarningKeepsItsLongestLineInsideItsBox) {
  const std::vector<std::string> lines{
      "WARNING: The refined geometry does not fit the rings: rms radial residual = 2.26 pixels",
      "The fitted rings do not follow the image's rings: found in 490 of 497 sections",
      "2.77 pixels rms off the calibrant's cones, up to 17.02 pixels"};
  const GsRect g = gs_state.gui_region;
  GsRect ok;
  GS_DRAW_WARNING(0, g.xmin, g.ymin, g.xmax, g.ymax, 3, 3, lines, ok, s);
  GS_UPDATE(s);
  ASSERT_EQ(s, kStatusGood);
  const testing::Screenshot shot = testing::screenshot(window, dir.path());
  ASSERT_TRUE(shot.ok);
  // The text area of a wide strip ends a margin before the button.
  const float mx = (g.xmax - g.xmin) / 50.0f;
  const int left = px(g.xmin + mx), right = px(ok.xmin - mx);
  int outside = 0;
  for (int y = py(g.ymax) + 3; y < py(g.ymin) - 3; ++y)
    for (int x = px(g.xmin) + 3; x < px(ok.xmin) - 1; ++x) {
      if (x > left - 2 && x < right + 2) continue;
      const auto c = shot.at(x, y);
      outside += c[0] < 80 && c[1] < 80 && c[2] < 80;
    }
  EXPECT_EQ(outside, 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, WidgetWindow, ::testing::Values(24, 8));

}  // namespace
}  // namespace kesta
