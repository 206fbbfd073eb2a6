#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/macro.hpp"
#include "core/variables.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::click;
using testing::TempDir;
using testing::WidgetFixture;

// A graph of data 0..100 x 0..100 drawn at page 0.1..0.6 x 0.4..0.9.
struct Coordinates : WidgetFixture {
  void SetUp() override {
    WidgetFixture::SetUp();
    gs_state.dddr = {0.0f, 0.0f, 100.0f, 100.0f};
    gs_state.dgpp = {0.1f, 0.4f, 0.6f, 0.9f};
    Status s = kStatusGood;
    gs_restore_graph_transform(s);
  }
  static testing::WindowEvent at(float x, float y) {
    return click(0.1f + 0.005f * x, 0.4f + 0.005f * y);
  }
  int points(int wanted, std::array<float, 5>& x, std::array<float, 5>& y, Status& s) {
    const GsRect& g = gs_state.gui_region;
    int num = wanted;
    GS_INP_COORDINATES(g.xmin, g.ymin, g.xmax, g.ymax, "CLICK", 1, {"Click points"}, true, 5, num,
                       x, y, s);
    return num;
  }

  // A flat 100 x 100 image with pixel-centre axes, and the points widget on
  // it in the GUI region: its buttons drawn as the widget draws them.
  std::vector<float> flat = std::vector<float>(100 * 100, 1.0f), centres = centre_axis();
  GsDisplayedImage image() const {
    GsDisplayedImage im;
    im.xmaxdat = im.ymaxdat = im.xendelm = im.yendelm = 100;
    im.data = flat;
    im.xaxis = im.yaxis = centres;
    return im;
  }
  static std::vector<float> centre_axis() {
    std::vector<float> axis(100);
    for (int i = 0; i < 100; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
    return axis;
  }
  static float widget_side() {
    const GsRect& g = gs_state.gui_region;
    return std::min(g.ymax - g.ymin, 0.25f * (g.xmax - g.xmin));
  }
  static void draw_point_buttons(Status& st) {
    const GsRect& g = gs_state.gui_region;
    GS_SET_MENULAYOUT(1, 1, 12, 9, st);
    GS_MENU(1, 0, {"NO TITLE"}, 4, 4, {"CANCEL", "HELP", "KEYBOARD", "TWO CLICK"},
            g.xmax - widget_side(), g.ymin, g.xmax, g.ymax, st);
  }
  void one_point(int& num, std::array<float, 5>& x, std::array<float, 5>& y, Status& st) {
    const GsRect& g = gs_state.gui_region;
    GS_INPS_COORDINATES(false, image(), g.xmin, g.ymin, g.xmax, g.ymax, "POINT", 1, {"Click"},
                        false, 5, num, x, y, st);
  }
};

TEST_F(Coordinates, ClicksSnapToTheEdgeAndThePromptEnds) {
  TempDir dir;
  std::string macro = dir.file("points.mac");
  Status s = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, s);
  std::array<float, 5> x{}, y{};
  // 1 % left of the edge is taken at it, 3 % is ignored; the prompt ends.
  script({at(-1.0f, 50.0f), at(-3.0f, 50.0f), at(50.0f, 25.0f), click(0.3f, 0.05f)});
  EXPECT_EQ(points(0, x, y, s), 2);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(x[0], 0.0f);
  EXPECT_NEAR(x[1], 50.0f, 1e-3f);
  EXPECT_NEAR(y[1], 25.0f, 1e-3f);
  io_outmacro_record("EXIT", s);
  IO_CLOSE_OUTMACRO(s);

  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, s);
  const int waits = window->waits;
  std::array<float, 5> rx{}, ry{};
  EXPECT_EQ(points(0, rx, ry, s), 2);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(rx[1], x[1]);
  EXPECT_FLOAT_EQ(ry[1], y[1]);
  EXPECT_EQ(window->waits, waits);
}

// A graph over the whole float range: a click in the prompt below it still
// ends the input, and only clicks near the frame snap onto it.
TEST_F(Coordinates, ThePromptEndsBelowAGraphOverTheFloatRange) {
  const float top = std::numeric_limits<float>::max();
  gs_state.dddr = {0.0f, -top, 100.0f, top};
  Status s = kStatusGood;
  gs_restore_graph_transform(s);
  std::array<float, 5> x{}, y{};
  script({click(0.3f, 0.3f), at(50.0f, 50.0f), click(0.3f, 0.05f)});
  EXPECT_EQ(points(0, x, y, s), 1);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_NEAR(x[0], 50.0f, 1e-3f);
  EXPECT_NEAR(y[0], 0.0f, 1e33f);
  EXPECT_TRUE(window->events.empty());
}

TEST_F(Coordinates, ReplayedCountBeyondTheArraysIsAskedAgain) {
  TempDir dir;
  std::string macro = dir.file("damaged.mac");
  Status s = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, s);
  for (const char* line : {"99", "2", "1.0", "1.5", "2.0", "2.5", "EXIT"}) io_outmacro_record(line, s);
  IO_CLOSE_OUTMACRO(s);
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, s);
  std::array<float, 5> x{}, y{};
  EXPECT_EQ(points(0, x, y, s), 2);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(x[1], 2.0f);
  EXPECT_FLOAT_EQ(y[1], 2.5f);
}

// A macro that runs out among the typed points leaves them to be clicked:
// the window's points are taken, not a question at the terminal.
TEST_F(Coordinates, AMacroEndingAtThePointsLeavesThemToTheWindow) {
  TempDir dir;
  std::string macro = dir.file("short.mac");
  Status s = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, s);
  for (const char* line : {"2", "1.0"}) io_outmacro_record(line, s);
  IO_CLOSE_OUTMACRO(s);
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  testing::ScriptedInput nothing({});
  IO_OPEN_INMACRO(false, macro, s);
  script({at(50.0f, 25.0f), click(0.3f, 0.05f)});
  std::array<float, 5> x{}, y{};
  EXPECT_EQ(points(0, x, y, s), 1);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_NEAR(x[0], 50.0f, 1e-3f);
  EXPECT_NEAR(y[0], 25.0f, 1e-3f);
  EXPECT_NE(terminal.text().find("INFO: Control returned to graphics window"), std::string::npos)
      << terminal.text();
}

TEST_F(Coordinates, ZoomCornersAndUnzoom) {
  struct Zoom {
    float x1, x2, low, high;
  } zooms[] = {{5.0f, 5.0f, 4.95f, 5.05f}, {0.0f, 0.0f, -0.01f, 0.01f}, {60.0f, 20.0f, 20.0f, 60.0f}};
  for (const Zoom& z : zooms) {
    script({at(z.x1, 10.0f), at(z.x2, 30.0f)});
    Status s = kStatusGood;
    GS_INP_XYREGION(s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_NEAR(gs_state.ddr.xmin, z.low, 1e-3f) << z.x1;
    EXPECT_NEAR(gs_state.ddr.xmax, z.high, 1e-3f) << z.x1;
    EXPECT_NEAR(gs_state.ddr.ymax, 30.0f, 1e-3f);
    EXPECT_FALSE(gs_state.auto_range.xmin);
  }

  struct Unzoom {
    Index numdat, start, end, new_start, new_end;
  } unzooms[] = {{1000, 100, 120, 50, 170}, {1000, 1, 1000, 1, 1000}, {520, 400, 500, 350, 520}};
  for (const Unzoom& u : unzooms) {
    Status s = kStatusGood;
    Index xs = u.start, xe = u.end, ys = u.start, ye = u.end;
    GS_INP_UNZOOM(1000, 1000, u.numdat, u.numdat, xs, ys, xe, ye, s);
    EXPECT_EQ(xs, u.new_start);
    EXPECT_EQ(xe, u.new_end);
  }
  // A single row with automatic switches off: they come on, the region stays.
  Status s = kStatusGood;
  Index xs = 5, xe = 5, ys = 1, ye = 100;
  GS_SET_AUTODDR(false, true, true, true, s);
  GS_INP_UNZOOM(100, 100, 100, 100, xs, ys, xe, ye, s);
  EXPECT_EQ(xe, 5);
  EXPECT_TRUE(gs_state.auto_range.xmin);
  GS_INP_UNZOOM(100, 100, 100, 100, xs, ys, xe, ye, s);
  EXPECT_EQ(xe, 55);
}

TEST_F(Coordinates, TwoClickWindowAndRefinedPoint) {
  struct Window {
    Index pixel, first, last, start, end;
  } windows[] = {{3, 1, 100, 1, 21}, {95, 1, 100, 80, 100}, {50, 1, 100, 40, 60},
                 {4, 1, 10, 1, 10}, {9, 3, 12, 3, 12}};
  for (const Window& w : windows) {
    Index start = 0, end = 0;
    gs_two_click_window(w.pixel, w.first, w.last, start, end);
    EXPECT_EQ(start, w.start) << w.pixel;
    EXPECT_EQ(end, w.end) << w.pixel;
  }

  const GsRect g = gs_state.gui_region;
  const float s = widget_side();
  Status st = kStatusGood;
  draw_point_buttons(st);
  const auto cancel = on_button(1), two_click = on_button(4);
  std::array<float, 5> x{}, y{};
  int num = 1;
  // The second click at the middle of the enlarged window about pixel 3.
  script({two_click, at(2.5f, 2.5f), click(g.xmin + s / 2, g.ymin + (g.ymax - g.ymin) / 2)});
  one_point(num, x, y, st);
  EXPECT_EQ(st, kStatusGood);
  EXPECT_EQ(num, 1);
  EXPECT_NEAR(x[0], 10.5f, 1e-4f);
  EXPECT_NEAR(y[0], 10.5f, 1e-4f);

  // CANCEL gives the escape and no point.
  num = 0;
  script({cancel});
  one_point(num, x, y, st);
  EXPECT_EQ(st, kStatusEscape);
  EXPECT_EQ(num, 0);
}

// A point typed through KEYBOARD: an assignment typed in its box is
// recorded, before the point, and set again on replay; the point's own boxes
// record nothing (the point is recorded whole).
TEST_F(Coordinates, AnAssignmentTypedForAPointIsRecordedBeforeIt) {
  TempDir dir;
  std::string macro = dir.file("points.mac");
  Status st = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, st);
  draw_point_buttons(st);
  std::array<float, 5> x{}, y{};
  int num = 1;
  script({on_button(3), testing::typed("k7 = 7"), testing::typed("20"), testing::typed("30")});
  one_point(num, x, y, st);
  EXPECT_EQ(st, kStatusGood);
  EXPECT_FLOAT_EQ(x[0], 20.0f);
  io_outmacro_record("EXIT", st);
  IO_CLOSE_OUTMACRO(st);
  const std::string recorded = testing::file_contents(macro);
  EXPECT_NE(recorded.find("%!*\\\nk7 = 7\n           1\n 2.0000000E+01\n 3.0000000E+01\n%!*\\ END"),
            std::string::npos)
      << recorded;

  testing::reset_dialogue();
  int retstat = 0, ivalue = 0, length = 0;
  char type = ' ';
  bool lvalue = false;
  float rvalue = 0.0f;
  std::string svalue;
  IO_UNSET_VARIABLE("k7", retstat, st);
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, st);
  std::array<float, 5> rx{}, ry{};
  num = 1;
  one_point(num, rx, ry, st);
  EXPECT_EQ(st, kStatusGood);
  EXPECT_FLOAT_EQ(ry[0], 30.0f);
  IO_INQ_VARIABLE("k7", retstat, type, ivalue, lvalue, rvalue, length, svalue, st);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(ivalue, 7);
}

TEST_F(Coordinates, RegionTypedInDataUnits) {
  std::vector<float> axis(100);
  for (int i = 0; i < 100; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  Index xs = 1, ys = 1, xe = 100, ye = 100;
  // Without a window: typed; 200 is beyond the axis and asked again.
  for (auto& d : qg_db_system.driver) d.reset();
  qg_db_system = QgDbSystem{};
  testing::ScriptedInput input({"10.2", "200", "20.2", "30.2", "40.2"});
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  GS_INP_2DREGION(100, 100, axis, 100, 100, axis, xs, ys, xe, ye, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(xs, 11);
  EXPECT_EQ(ys, 21);
  EXPECT_EQ(xe, 31);
  EXPECT_EQ(ye, 41);
  EXPECT_EQ(input.remaining(), 0u);
  // An axis running downwards (a d-spacing scan): its values are asked
  // lowest first, Return keeps the region, and the pixels come out in order.
  const std::vector<float> down(axis.rbegin(), axis.rend());
  xs = ys = 1;
  xe = ye = 100;
  {
    testing::ScriptedInput answers({"", "", "", "", "10.2", "20.2", "30.2", "40.2"});
    GS_INP_2DREGION(100, 100, down, 100, 100, axis, xs, ys, xe, ye, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(std::vector<Index>({xs, xe, ys, ye}), std::vector<Index>({1, 100, 1, 100}));
    GS_INP_2DREGION(100, 100, down, 100, 100, axis, xs, ys, xe, ye, s);
    EXPECT_EQ(answers.remaining(), 0u);
  }
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(std::vector<Index>({xs, xe, ys, ye}), std::vector<Index>({70, 90, 21, 41}));
}

}  // namespace
}  // namespace kesta
