// The window driver on a real X server: opening, visuals, colours, drawing
// checked pixel by pixel in xwd screenshots, fonts and rotated text.

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Status
#undef Bool

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/x11_driver.hpp"
#include "graphics/device/x11_internal.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

using testing::PrivateXServer;
using testing::Screenshot;

// A kernel with window workstation 1 open and active: on a private Xvfb of
// DEPTH when Xvfb is installed (ctest runs window tests in parallel), else on
// the DISPLAY the run was given, whose depth must then be DEPTH (0: any). A
// test without a usable server fails with the reason; it never skips.
class WindowSession {
 public:
  explicit WindowSession(int depth, int request = 108, int maximum = 256) {
    if (testing::xvfb_available()) {
      server_ = std::make_unique<PrivateXServer>(depth == 0 ? 24 : depth);
      if (!server_->ok()) {
        reason_ = "Xvfb did not start";
        return;
      }
    } else if (std::getenv("DISPLAY") == nullptr) {
      reason_ = "no X server: Xvfb is not installed and DISPLAY is not set";
      return;
    }
    ST_DEF_SYSTEM(status);
    QG_OPEN(0, status);
    QG_SET_COLOURINDICES(request, maximum, status);
    QG_OPEN_WK(1, 0, 11, status);
    QG_ACTIVATE_WK(1, status);
    open_ = status == ST_GOOD() && x11_window_id() != 0;
    if (!open_) {
      reason_ = "the window did not open";
      return;
    }
    int mapping = 0, actual = 0;
    QG_INQ_COLOURMAPPING(mapping, actual, status);
    if (depth != 0 && actual != depth) {
      open_ = false;
      reason_ = "the display has " + std::to_string(actual) + " bits; the test needs Xvfb for " +
                std::to_string(depth);
    }
  }
  ~WindowSession() {
    Status s = ST_GOOD();
    if (qg_find_workstation(1) >= 0) QG_CLOSE_WK(1, s);
    QG_CLOSE(s);
  }
  bool open() const { return open_; }
  const std::string& reason() const { return reason_; }

  Status status = ST_GOOD();

 private:
  std::unique_ptr<PrivateXServer> server_;
  bool open_ = false;
  std::string reason_;
};

// A private server of DEPTH, which only Xvfb can give.
#define REQUIRE_XVFB() ASSERT_TRUE(testing::xvfb_available()) << "Xvfb is needed for this display depth"

// World coordinates equal to window pixels counted from the bottom-left
// corner of a 500 x 707 window (one page unit is 707 pixels).
void pixel_world(Status& status) {
  QG_DATAWINDOW(0, 0, 707, 707, status);
  QG_VIEWPORT(0, 0, 1, 1, status);
}

void fill_box(float x1, float y1, float x2, float y2, Status& status) {
  const float x[4] = {x1, x2, x2, x1};
  const float y[4] = {y1, y1, y2, y2};
  QG_FILLAREA(4, x, y, status);
}

// The same picture at any depth: basic colours from the first usable index.
void draw_scene(Status& status) {
  const int base = qg_db_colours.first_usable;  // black, white, red, green, blue, ...
  pixel_world(status);
  QG_FILLCOLOUR(base + 2, status);
  fill_box(100, 100, 200, 200, status);
  QG_LINECOLOUR(base + 4, status);
  const float lx[2] = {50, 450}, ly[2] = {300, 300};
  QG_POLYLINE(2, lx, ly, status);
  QG_MARKERCOLOUR(base + 3, status);
  QG_MARKERTYPE(3, status);  // asterisk: diagonals and a plus
  const float mx[1] = {300}, my[1] = {500};
  QG_POLYMARKER(1, mx, my, status);
  // A 2 x 2 cell array: yellow, magenta on the bottom row, cyan, black above.
  const int cells[4] = {base + 5, base + 6, base + 7, base + 0};
  QG_CELLARRAY(300, 100, 400, 200, 2, 2, 1, 1, 2, 2, cells, status);
  // A real image over a red band: its lowest value black, its highest white.
  fill_box(40, 390, 260, 460, status);
  const float values[2] = {0.0f, 10.0f};
  QG_REALCELLARRAY(50, 400, 250, 450, 2, 1, 1, 1, 2, 1, values, 0.0f, 10.0f, status);
  QG_TEXTCOLOUR(base + 0, status);
  QG_TEXTHEIGHT(15.0f, status);
  QG_TEXT(50, 600, "KESTA", status);
  QG_UPDATE(1, 0, status);
}

struct Probe {
  int x, y;  // window pixel, row 0 at the top
  std::array<int, 3> rgb;
  const char* what;
  int tolerance = 2;
};

const Probe kSceneProbes[] = {
    {150, 557, {255, 0, 0}, "fill area"},
    {250, 407, {0, 0, 255}, "polyline"},
    {250, 408, {255, 255, 255}, "below the polyline"},
    {297, 207, {0, 255, 0}, "marker arm"},
    {300, 204, {0, 255, 0}, "marker arm"},
    {298, 204, {255, 255, 255}, "between marker arms"},
    {325, 590, {255, 255, 0}, "cell (1, 1)"},
    {375, 590, {255, 0, 255}, "cell (2, 1)"},
    {325, 520, {0, 255, 255}, "cell (1, 2)"},
    {375, 520, {0, 0, 0}, "cell (2, 2)"},
    // The first step of the image scale is a shade off black, finer with more colours.
    {100, 280, {0, 0, 0}, "image minimum", 20},
    {200, 280, {255, 255, 255}, "image maximum"},
    {45, 310, {255, 0, 0}, "fill beside the image"},
};

int dark_pixels(const Screenshot& s, int x1, int y1, int x2, int y2) {
  int n = 0;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) {
      const auto c = s.at(x, y);
      if (c[0] + c[1] + c[2] < 200) ++n;
    }
  return n;
}

TEST(X11Window, OpensTitledWithTheColoursOfTrueColor) {
  testing::TerminalCapture terminal;
  WindowSession session(24);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  EXPECT_NE(terminal.text().find("NOTE: Display uses 'TrueColor' colour mapping with 24 bits."),
            std::string::npos);
  EXPECT_EQ(qg_db_colours.first_usable, 1);
  EXPECT_EQ(qg_db_colours.last_usable, 255);
  EXPECT_EQ(qg_db_colours.first_image, 9);
  int mapping = 0, depth = 0;
  QG_INQ_COLOURMAPPING(mapping, depth, session.status);
  EXPECT_EQ(mapping, 2);
  EXPECT_EQ(depth, 24);

  Display* d = XOpenDisplay(nullptr);
  ASSERT_NE(d, nullptr);
  char* name = nullptr;
  ASSERT_NE(XFetchName(d, x11_window_id(), &name), 0);
  EXPECT_STREQ(name, "Qivo Graphics X-11 Window");
  XFree(name);
  // What the window manager is told: icon name, class, smallest size, hints.
  char* icon = nullptr;
  ASSERT_NE(XGetIconName(d, x11_window_id(), &icon), 0);
  EXPECT_STREQ(icon, "QG X-11");
  XFree(icon);
  XClassHint klass{};
  ASSERT_NE(XGetClassHint(d, x11_window_id(), &klass), 0);
  EXPECT_STREQ(klass.res_name, "KESTA/MERVODA Graphics");
  EXPECT_STREQ(klass.res_class, "Basicwin");
  XFree(klass.res_name);
  XFree(klass.res_class);
  XSizeHints size{};
  long supplied = 0;
  ASSERT_NE(XGetWMNormalHints(d, x11_window_id(), &size, &supplied), 0);
  EXPECT_EQ(size.flags & (USPosition | USSize | PMinSize), USPosition | USSize | PMinSize);
  EXPECT_EQ(size.min_width, 200);
  EXPECT_EQ(size.min_height, 282);
  XWMHints* hints = XGetWMHints(d, x11_window_id());
  ASSERT_NE(hints, nullptr);
  EXPECT_TRUE((hints->flags & InputHint) != 0 && hints->input != 0);
  EXPECT_EQ(hints->initial_state, NormalState);
  EXPECT_TRUE((hints->flags & IconPixmapHint) != 0);
  XFree(hints);
  QG_WINDOW_TITLE("KESTA GRAPHICS WINDOW   ", session.status);
  QG_UPDATE(1, 0, session.status);  // the server has the new title
  ASSERT_NE(XFetchName(d, x11_window_id(), &name), 0);
  EXPECT_STREQ(name, "KESTA GRAPHICS WINDOW");
  XFree(name);
  XWindowAttributes a;
  XGetWindowAttributes(d, x11_window_id(), &a);
  EXPECT_EQ(a.width, 500);
  EXPECT_EQ(a.height, 707);
  EXPECT_EQ(a.map_state, IsViewable);
  XCloseDisplay(d);
}

TEST(X11Window, MissingDisplayWarnsAndTheProgramDrawsOnWithoutIt) {
  const char* given = std::getenv("DISPLAY");
  const std::string old = given != nullptr ? given : "";
  setenv("DISPLAY", ":4093", 1);  // no server there
  testing::TerminalCapture terminal;
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  QG_OPEN(0, status);
  QG_OPEN_WK(1, 0, 11, status);
  if (given != nullptr)
    setenv("DISPLAY", old.c_str(), 1);
  else
    unsetenv("DISPLAY");
  EXPECT_EQ(status, 132001);
  EXPECT_NE(terminal.text().find("WARNING: Failed to open X-11 display"), std::string::npos);
  EXPECT_NE(terminal.text().find("WARNING: X-11 workstation not opened successfully (QG_OPEN_WK)"),
            std::string::npos);
  EXPECT_EQ(qg_db_system.number_workstations, 0);
  EXPECT_EQ(x11_window_id(), 0u);
  status = ST_GOOD();
  const float x[2] = {0, 1}, y[2] = {0, 1};
  QG_POLYLINE(2, x, y, status);
  EXPECT_EQ(status, ST_GOOD());
  QG_CLOSE(status);
}

// A window destroyed by another client, or its client connection cut, while
// the program waits on it: the wait fails at once instead of waiting for
// ever, the kernel knows the window is gone, and later drawing does nothing
// without failing.
TEST(X11Window, AWindowThatGoesAwayEndsTheWaitAndDrawingGoesOn) {
  for (const bool kill_client : {false, true}) {
    WindowSession session(24);
    ASSERT_TRUE(session.open()) << session.reason();
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    if (kill_client)
      XKillClient(other, x11_window_id());
    else
      XDestroyWindow(other, x11_window_id());
    XCloseDisplay(other);
    testing::TerminalCapture terminal;
    Status& status = session.status;
    int type = kInputNothing - 10;
    float x = 0.0f, y = 0.0f;
    QG_INP_COORDINATE(1, 1, type, x, y, status);
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_EQ(type, kInputNothing - 10) << kill_client;
    EXPECT_TRUE(qg_window_lost());
    EXPECT_EQ(qg_x11_driver(), nullptr);
    EXPECT_EQ(terminal.text(), "WARNING: The graphics window was closed\n") << kill_client;
    draw_scene(status);
    QG_UPDATE(1, 0, status);
    EXPECT_EQ(status, ST_GOOD());
  }
}

// Drawing sent to a window another client has already destroyed is refused
// by the server. The user closed the window, and the program says so once:
// the refusals are no protocol error to report, and they alone tell the
// program the window is gone. So are those of a rotated text (an axis
// label), drawn through a pixmap made from the window.
// Asking whether the window is still there sees a window closed since the
// last wait (said once), and answers yes without taking anything from the
// waits while it is there.
TEST(X11Window, AskingForTheWindowSeesItGoneBeforeAnyWait) {
  for (const bool kill_client : {false, true}) {
    WindowSession session(24);
    ASSERT_TRUE(session.open()) << session.reason();
    testing::TerminalCapture terminal;
    EXPECT_TRUE(qg_window_still_there());
    EXPECT_NE(qg_x11_driver(), nullptr);
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    if (kill_client)
      XKillClient(other, x11_window_id());
    else
      XDestroyWindow(other, x11_window_id());
    XCloseDisplay(other);
    EXPECT_FALSE(qg_window_still_there()) << kill_client;
    EXPECT_FALSE(qg_window_still_there()) << kill_client;
    EXPECT_EQ(qg_x11_driver(), nullptr);
    EXPECT_EQ(terminal.text(), "WARNING: The graphics window was closed\n") << kill_client;
  }
}

TEST(X11Window, DrawingIntoAWindowDestroyedElsewhereIsNoErrorToReport) {
  for (const bool wait : {true, false}) {
    WindowSession session(24);
    ASSERT_TRUE(session.open()) << session.reason();
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XDestroyWindow(other, x11_window_id());
    XCloseDisplay(other);
    testing::TerminalCapture terminal;
    ::testing::internal::CaptureStderr();
    Status& status = session.status;
    draw_scene(status);
    QG_TEXTANGLE(90.0f, status);
    QG_TEXT(200, 300, "Intensity", status);
    QG_TEXTANGLE(0.0f, status);
    QG_UPDATE(1, 0, status);
    int type = 0;
    float x = 0.0f, y = 0.0f;
    if (wait) QG_INP_COORDINATE(1, 1, type, x, y, status);
    else QG_INP_COORDINATE(1, 10, type, x, y, status);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_EQ(errors.find("X-11 Error"), std::string::npos) << wait << errors;
    EXPECT_TRUE(qg_window_lost()) << wait;
    EXPECT_EQ(terminal.text(), "WARNING: The graphics window was closed\n") << wait;
  }
}

TEST(X11Window, OtherVisualsAreNotSupported) {
  REQUIRE_XVFB();
  PrivateXServer server(16);
  ASSERT_TRUE(server.ok());
  testing::TerminalCapture terminal;
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  QG_OPEN(0, status);
  QG_OPEN_WK(1, 0, 11, status);
  EXPECT_EQ(status, 132001);
  const std::string out = terminal.text();
  EXPECT_NE(out.find("ERROR: Display uses a colour mapping which is not presently supported."),
            std::string::npos);
  EXPECT_NE(out.find("       Default colour mapping: Depth = 16 bits, Class = TrueColor"),
            std::string::npos);
  EXPECT_NE(out.find("       8-bit plane 'PseudoColor' and 24-bit plane 'TrueColor' are"),
            std::string::npos);
  EXPECT_EQ(qg_db_system.number_workstations, 0);
  QG_CLOSE(status);
}

TEST(X11Window, PrimitivesAppearWhereTheTransformPutsThem) {
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  draw_scene(session.status);
  ASSERT_EQ(session.status, ST_GOOD());
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.width, 500);
  ASSERT_EQ(s.height, 707);
  for (const Probe& p : kSceneProbes)
    EXPECT_TRUE(testing::same_colour(s.at(p.x, p.y), p.rgb, p.tolerance))
        << p.what << " at " << p.x << "," << p.y << ": " << s.at(p.x, p.y)[0] << " "
        << s.at(p.x, p.y)[1] << " " << s.at(p.x, p.y)[2];
  // Text: "KESTA" drawn with a fall-back font (no serif fonts on the server)
  // to the right of and just above its reference point (row 107).
  EXPECT_GT(dark_pixels(s, 50, 90, 130, 110), 20);
  EXPECT_EQ(dark_pixels(s, 20, 90, 48, 110), 0);
}

TEST(X11Window, NewWindowDrawsTheKernelsCurrentMarkerType) {
  // The kernel starts with marker type 2 (a plus) and the window with its own
  // default (a diagonal cross); without a setter call the plus must be drawn.
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  pixel_world(session.status);
  QG_MARKERCOLOUR(qg_db_colours.first_usable + 3, session.status);
  const float mx[1] = {300}, my[1] = {500};
  QG_POLYMARKER(1, mx, my, session.status);
  QG_UPDATE(1, 0, session.status);
  ASSERT_EQ(session.status, ST_GOOD());
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(testing::same_colour(s.at(297, 207), {0, 255, 0}, 2)) << "horizontal arm";
  EXPECT_TRUE(testing::same_colour(s.at(300, 204), {0, 255, 0}, 2)) << "vertical arm";
  EXPECT_TRUE(testing::same_colour(s.at(298, 204), {255, 255, 255}, 0)) << "no diagonal";
}

TEST(X11Window, NewWindowDrawsInTheKernelsCurrentColours) {
  // The kernel starts with white (index 2) for markers and text; the window's
  // own start is black. Drawn on a black box without any colour call, both
  // must come out white.
  testing::TerminalCapture terminal;
  WindowSession session(24);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  pixel_world(session.status);
  QG_FILLCOLOUR(qg_db_colours.first_usable, session.status);
  fill_box(100, 100, 400, 300, session.status);
  const float marker_x[1] = {300}, marker_y[1] = {200};
  QG_POLYMARKER(1, marker_x, marker_y, session.status);
  QG_TEXTHEIGHT(15.0f, session.status);
  QG_TEXT(150, 200, "KESTA", session.status);
  QG_UPDATE(1, 0, session.status);
  ASSERT_EQ(session.status, ST_GOOD());
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(testing::same_colour(s.at(297, 507), {255, 255, 255}, 2)) << "marker arm";
  int bright = 0;
  for (int y = 480; y <= 520; ++y)
    for (int x = 140; x <= 260; ++x) bright += testing::same_colour(s.at(x, y), {255, 255, 255}, 2);
  EXPECT_GT(bright, 20) << "white text on the black box";
  EXPECT_TRUE(testing::same_colour(s.at(150, 600), {0, 0, 0}, 0)) << "the black box";
}

TEST(X11Window, SamePictureAtDepthEightAndTwentyFour) {
  REQUIRE_XVFB();
  testing::TempDir dir;
  Screenshot shots[2];
  const int depths[2] = {24, 8};
  for (int k = 0; k < 2; ++k) {
    testing::TerminalCapture terminal;
    WindowSession session(depths[k]);
    ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
    if (depths[k] == 8) {
      int mapping = 0, depth = 0;
      QG_INQ_COLOURMAPPING(mapping, depth, session.status);
      EXPECT_EQ(mapping, 1);
      EXPECT_EQ(depth, 8);
      // 108 contiguous cells of the shared colour map.
      EXPECT_EQ(qg_db_colours.last_usable - qg_db_colours.first_usable, 107);
    }
    draw_scene(session.status);
    shots[k] = testing::screenshot(x11_window_id(), dir.path().string());
    ASSERT_TRUE(shots[k].ok);
  }
  for (const Probe& p : kSceneProbes) {
    const auto a = shots[0].at(p.x, p.y), b = shots[1].at(p.x, p.y);
    EXPECT_TRUE(testing::same_colour(a, b, p.tolerance))
        << p.what << ": " << a[0] << " " << a[1] << " " << a[2] << " against " << b[0] << " "
        << b[1] << " " << b[2];
    EXPECT_TRUE(testing::same_colour(b, p.rgb, p.tolerance)) << p.what << " at depth 8";
  }
}

TEST(X11Window, PseudoColorWithTooFewContiguousCellsGetsAPrivateMap) {
  REQUIRE_XVFB();
  testing::TerminalCapture terminal;
  WindowSession session(8, 255, 210);  // more cells than the shared map has free
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  EXPECT_NE(terminal.text().find("contiguous colour cells can be allocated in the"),
            std::string::npos);
  EXPECT_EQ(qg_db_colours.first_usable, 41);
  EXPECT_EQ(qg_db_colours.last_usable, 251);
  EXPECT_EQ(qg_db_colours.first_image, 49);
  draw_scene(session.status);
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(testing::same_colour(s.at(150, 557), {255, 0, 0}, 2));
  EXPECT_TRUE(testing::same_colour(s.at(325, 590), {255, 255, 0}, 2));
}

TEST(X11Window, InvertingLineDrawnTwiceRestoresThePicture) {
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  pixel_world(session.status);
  QG_LINECOLOUR(-1, session.status);
  const float x[2] = {20, 400}, y[2] = {100, 100};
  testing::TempDir dir;
  QG_POLYLINE(2, x, y, session.status);
  QG_UPDATE(1, 0, session.status);
  const Screenshot once = testing::screenshot(x11_window_id(), dir.path().string());
  QG_POLYLINE(2, x, y, session.status);
  QG_UPDATE(1, 0, session.status);
  const Screenshot twice = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(once.ok && twice.ok);
  // Whatever colour the inverted pixel value shows (black on TrueColor),
  // it is not the white it inverted, and inverting again gives white back.
  EXPECT_FALSE(testing::same_colour(once.at(200, 607), {255, 255, 255}, 0));
  EXPECT_TRUE(testing::same_colour(twice.at(200, 607), {255, 255, 255}, 0));
}

TEST(X11Window, PointsFarOutsideTheWindowNeitherWrapNorOverflow) {
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  pixel_world(session.status);
  QG_LINECOLOUR(qg_db_colours.first_usable + 4, session.status);
  // 40000 pixels does not fit a 16-bit point: cut to the edge of the range,
  // the line still runs to the right.
  const float x[2] = {100, 40000}, y[2] = {100, 100};
  QG_POLYLINE(2, x, y, session.status);
  QG_FILLCOLOUR(qg_db_colours.first_usable + 2, session.status);
  const float fx[3] = {300, 480, 390}, fy[3] = {400, 400, -1e30f};
  QG_FILLAREA(3, fx, fy, session.status);
  QG_UPDATE(1, 0, session.status);
  EXPECT_EQ(session.status, ST_GOOD());
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(testing::same_colour(s.at(250, 607), {0, 0, 255}, 0));
  EXPECT_TRUE(testing::same_colour(s.at(50, 607), {255, 255, 255}, 0));
  EXPECT_TRUE(testing::same_colour(s.at(390, 320), {255, 0, 0}, 0));  // the triangle reaches down
}

TEST(X11Window, TextTurnsWithItsAngleAndTinyAnglesDrawStraight) {
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  pixel_world(session.status);
  QG_TEXTCOLOUR(qg_db_colours.first_usable, session.status);
  QG_TEXTHEIGHT(15.0f, session.status);
  QG_TEXTANGLE(90.0f, session.status);
  QG_TEXT(250, 300, "UPWARDS", session.status);  // runs up from pixel (250, 407)
  QG_TEXTANGLE(0.0286f, session.status);          // 0.0005 radians
  QG_TEXT(50, 600, "FLAT", session.status);
  QG_UPDATE(1, 0, session.status);
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  EXPECT_GT(dark_pixels(s, 236, 340, 252, 407), 20);  // a column above the point
  EXPECT_EQ(dark_pixels(s, 256, 395, 320, 420), 0);   // nothing along the row
  EXPECT_GT(dark_pixels(s, 50, 95, 90, 107), 10);     // straight text on its baseline
  EXPECT_EQ(dark_pixels(s, 50, 112, 90, 130), 0);
}

TEST(X11Window, ClippingKeepsDrawingInsideTheClipWindow) {
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  pixel_world(session.status);
  QG_CLIPWINDOW(100, 100, 200, 200, session.status);
  QG_CLIP(true, session.status);
  QG_FILLCOLOUR(qg_db_colours.first_usable + 2, session.status);
  fill_box(50, 50, 300, 300, session.status);
  QG_CLIP(false, session.status);
  QG_UPDATE(1, 0, session.status);
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(testing::same_colour(s.at(150, 557), {255, 0, 0}, 0));
  EXPECT_TRUE(testing::same_colour(s.at(250, 557), {255, 255, 255}, 0));
  EXPECT_TRUE(testing::same_colour(s.at(150, 457), {255, 255, 255}, 0));
}

TEST(X11Window, ImagePixelsNotANumberTakeTheMaskColour) {
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  const int base = qg_db_colours.first_usable;  // black, white, red, green, ...
  pixel_world(session.status);
  // Lowest, not a number, highest; then the same under a mask that hides nothing.
  const float values[3] = {0.0f, NAN, 10.0f};
  const std::uint8_t mask[3] = {0, 0, 0};
  QG_RMASKCELLARRAY(false, 50, 400, 350, 450, 3, 1, 1, 1, 3, 1, values, {}, 0.0f, 10.0f, base + 2,
                    session.status);
  QG_RMASKCELLARRAY(true, 50, 200, 350, 250, 3, 1, 1, 1, 3, 1, values, mask, 0.0f, 10.0f,
                    base + 3, session.status);
  ASSERT_EQ(session.status, ST_GOOD());
  QG_UPDATE(1, 0, session.status);
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  const auto bad = s.at(200, 280);
  EXPECT_TRUE(testing::same_colour(bad, {255, 0, 0}, 0)) << bad[0] << " " << bad[1] << " " << bad[2];
  EXPECT_TRUE(testing::same_colour(s.at(100, 280), {0, 0, 0}, 20)) << "the lowest value";
  EXPECT_TRUE(testing::same_colour(s.at(300, 280), {255, 255, 255}, 2)) << "the highest value";
  EXPECT_TRUE(testing::same_colour(s.at(200, 480), {0, 255, 0}, 0)) << "under a mask";
}

TEST(X11Window, RasterModeShowsTheRasterWhereItWasPainted) {
  testing::TerminalCapture terminal;
  WindowSession session(0);
  ASSERT_TRUE(session.open()) << session.reason() << terminal.text();
  pixel_world(session.status);
  QG_SET_RASTERMODE(true, session.status);
  QG_FILLCOLOUR(qg_db_colours.first_usable + 4, session.status);
  fill_box(100, 300, 200, 400, session.status);
  QG_SET_RASTERMODE(false, session.status);
  ASSERT_EQ(session.status, ST_GOOD());
  QG_UPDATE(1, 0, session.status);
  testing::TempDir dir;
  const Screenshot s = testing::screenshot(x11_window_id(), dir.path().string());
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(testing::same_colour(s.at(150, 357), {0, 0, 255}, 0));
  EXPECT_FALSE(testing::same_colour(s.at(250, 357), {0, 0, 255}, 0));
}

// Every primitive once, each with loops of requests: a polyline and marker
// lists longer than one request, fill areas, straight and turned text, cell
// arrays and a raster, clipping, attributes and the closing update.
void draw_every_primitive(Status& status) {
  const int base = qg_db_colours.first_usable;
  pixel_world(status);
  QG_CLIP(true, status);
  std::vector<float> x(900), y(900);
  for (std::size_t k = 0; k < x.size(); ++k) {
    x[k] = 20.0f + 0.5f * static_cast<float>(k);
    y[k] = 350.0f + 100.0f * std::sin(0.05f * static_cast<float>(k));
  }
  QG_LINESTYLE(2, status);
  QG_LINEWIDTH(3.0f, status);
  QG_LINECOLOUR(base + 4, status);
  QG_POLYLINE(static_cast<int>(x.size()), x, y, status);
  QG_LINECOLOUR(-1, status);
  QG_POLYLINE(300, x, y, status);
  QG_MARKERCOLOUR(base + 3, status);
  QG_MARKERWIDTH(2.0f, status);
  for (const int type : {1, 2, 3, 4, 5}) {
    QG_MARKERTYPE(type, status);
    QG_POLYMARKER(static_cast<int>(x.size()), x, y, status);
  }
  QG_FILLCOLOUR(base + 2, status);
  fill_box(100, 100, 200, 200, status);
  const int cells[4] = {base + 5, base + 6, base + 7, base + 0};
  QG_CELLARRAY(300, 100, 400, 200, 2, 2, 1, 1, 2, 2, cells, status);
  const float values[2] = {0.0f, 10.0f};
  QG_REALCELLARRAY(50, 400, 250, 450, 2, 1, 1, 1, 2, 1, values, 0.0f, 10.0f, status);
  QG_TEXTCOLOUR(base + 0, status);
  QG_TEXTHEIGHT(15.0f, status);
  QG_TEXT(50, 600, "KESTA", status);
  QG_TEXTANGLE(90.0f, status);
  QG_TEXT(450, 300, "Intensity", status);
  QG_TEXTANGLE(0.0f, status);
  QG_SET_RASTERMODE(true, status);
  fill_box(300, 500, 400, 600, status);
  QG_SET_RASTERMODE(false, status);
  QG_CLIP(false, status);
  QG_UPDATE(1, 0, status);
}

// Counts the requests the window's connection makes, and after the first
// COUNT of them marks the connection broken, as Xlib's I/O error exit does
// from inside the request that finds it so.
struct RequestSeam {
  static inline long count = 0;        // requests to make before the break (0: never)
  static inline long made = 0;         // requests made
  static inline long after_break = 0;  // requests made after it while the window was held
  static int after(Display*) {
    ++made;
    if (count > 0 && made > count && qg_x11_driver() != nullptr) ++after_break;
    if (count > 0 && made == count)
      if (auto* driver = dynamic_cast<x11_detail::X11Driver*>(qg_x11_driver()))
        driver->connection_broken();
    return 0;
  }
};

// Opens the window, draws every primitive with the connection breaking
// after COUNT requests (0: never), and says how many requests were made.
long draw_with_a_break(long count, long& after_break, std::string& said, Status& status) {
  ST_DEF_SYSTEM(status);
  QG_OPEN(0, status);
  QG_OPEN_WK(1, 0, 11, status);
  QG_ACTIVATE_WK(1, status);
  auto* driver = dynamic_cast<x11_detail::X11Driver*>(qg_x11_driver());
  if (driver == nullptr) return -1;
  // A font is loaded first: the first load in a connection asks the server
  // for a font extension inside the same call, so that one call ends two
  // counted requests, the second Xlib's own.
  QG_TEXTHEIGHT(15.0f, status);
  QG_TEXT(-100, -100, "K", status);
  RequestSeam::count = count;
  RequestSeam::made = RequestSeam::after_break = 0;
  XSetAfterFunction(driver->display(), RequestSeam::after);
  {
    testing::TerminalCapture terminal;
    draw_every_primitive(status);
    said = terminal.text();
  }
  after_break = RequestSeam::after_break;
  const long made = RequestSeam::made;
  Status s = ST_GOOD();
  if (qg_find_workstation(1) >= 0) QG_CLOSE_WK(1, s);
  QG_CLOSE(s);
  return made;
}

// A connection that breaks at any request of a drawing (the window killed,
// the server gone) gets no further request from that drawing or any later
// one: Xlib can no longer send them, and a request that finds its buffer
// full writes through a null pointer. The window is let go of at once, said
// once, and the drawing ends without a failure.
TEST(X11Window, NoRequestFollowsABrokenConnectionInAnyDrawing) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Status status = ST_GOOD();
  long after_break = 0;
  std::string said;
  const long requests = draw_with_a_break(0, after_break, said, status);
  ASSERT_EQ(status, ST_GOOD());
  ASSERT_GT(requests, 50) << said;
  for (long count = 1; count <= requests; ++count) {
    draw_with_a_break(count, after_break, said, status);
    EXPECT_EQ(after_break, 0) << "requests after a break at request " << count;
    EXPECT_EQ(status, ST_GOOD()) << count;
    EXPECT_EQ(said, "WARNING: The graphics window was closed\n") << count;
    if (after_break != 0 || status != ST_GOOD()) break;
  }
}

}  // namespace
}  // namespace kesta
