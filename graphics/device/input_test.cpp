// Graphical input through the kernel: the kernel's own rules with a
// recording device, and the window's waits driven by xdotool on a private
// X server.

#include "graphics/device/input.hpp"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Status
#undef Bool

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "graphics/device/device_test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/x11_driver.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

// ---- The kernel's side, with recording devices ----

// Records what the kernel hands a window's typed-line wait and answers with
// a typed line.
class PromptRecorder : public testing::RecordingDriver {
 public:
  explicit PromptRecorder(std::vector<std::string>* log) : RecordingDriver(log) {}
  int input_event(int, bool, std::string_view prompt, bool, float, float, float, float, int& type,
                  std::string& text, float& x, float& y) override {
    seen_prompt = std::string(prompt);
    seen_text = text;
    type = 2;
    text = "typed";
    x = 0.25f;
    y = 0.5f;
    return 0;
  }
  int input_coordinate(int mode, int& type, float& x, float& y) override {
    seen_mode = mode;
    type = answer_type;
    x = 0.5f;
    y = 0.25f;
    return 0;
  }
  std::string seen_prompt, seen_text;
  int seen_mode = -99;
  int answer_type = 0;
};

class KernelInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ST_DEF_SYSTEM(status);
    QG_OPEN(0, status);
  }
  PromptRecorder* add_window(int id) {
    testing::add_recording_workstation(id, &log);
    const int k = qg_find_workstation(id);
    auto driver = std::make_unique<PromptRecorder>(&log);
    PromptRecorder* raw = driver.get();
    qg_db_system.driver[static_cast<std::size_t>(k)] = std::move(driver);
    return raw;
  }
  Status status = ST_GOOD();
  std::vector<std::string> log;
  testing::TerminalCapture terminal;
};

TEST_F(KernelInput, ClickComesBackInWorldCoordinatesAndEventInPageCoordinates) {
  PromptRecorder* window = add_window(1);
  QG_DATAWINDOW(0, 0, 100, 50, status);  // viewport 0..0.7071 x 0..1
  int type = -5;
  float x = 0, y = 0;
  QG_INP_COORDINATE(1, 1, type, x, y, status);
  EXPECT_EQ(window->seen_mode, 1);
  EXPECT_EQ(type, kInputButton);
  EXPECT_NEAR(x, 0.5f / 0.7071f * 100.0f, 1e-3);
  EXPECT_NEAR(y, 12.5f, 1e-4);

  window->answer_type = kInputRedraw;  // other types leave the position as the device gave it
  QG_INP_COORDINATE(1, 1, type, x, y, status);
  EXPECT_EQ(type, kInputRedraw);
  EXPECT_FLOAT_EQ(x, 0.5f);

  std::string text = "start   ";
  int workstation = 0;
  QG_INP_EVENT(1, 0, true, std::string(200, 'p') + "   ", true, 0, 0, 1, 1, type, workstation,
               text, x, y, status);
  EXPECT_EQ(window->seen_prompt, std::string(131, 'p'));
  EXPECT_EQ(window->seen_text, "start");
  EXPECT_EQ(type, kInputLine);
  EXPECT_EQ(text, "typed");
  EXPECT_EQ(workstation, 1);
  EXPECT_FLOAT_EQ(x, 0.25f);  // page coordinates, not converted
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(KernelInput, MisdirectedRequestsOnlyWriteALine) {
  testing::add_recording_workstation(2, &log, kCategoryPostScript);
  struct Case {
    int id;
    const char* line;
    void (*call)(int id, int& type, Status& status);
  };
  const Case cases[] = {
      {7, "ERROR: Workstation ID is unknown (QG_INP_COORDINATE)",
       [](int id, int& type, Status& s) {
         float x = 0, y = 0;
         QG_INP_COORDINATE(id, 0, type, x, y, s);
       }},
      {2, "WARNING: Coordinate input is not possible from a Postscript device",
       [](int id, int& type, Status& s) {
         float x = 0, y = 0;
         QG_INP_COORDINATE(id, 0, type, x, y, s);
       }},
      {7, "ERROR: Workstation ID is unknown (QG_INP_EVENT)",
       [](int id, int& type, Status& s) {
         std::string text;
         int w = 0;
         float x = 0, y = 0;
         QG_INP_EVENT(id, 0, false, "", false, 0, 0, 1, 1, type, w, text, x, y, s);
       }},
      {2, "WARNING: String input is not possible from a Postscript device",
       [](int id, int& type, Status& s) {
         std::string text;
         int w = 0;
         float x = 0, y = 0;
         QG_INP_EVENT(id, 0, false, "", false, 0, 0, 1, 1, type, w, text, x, y, s);
       }},
      {7, "ERROR: Workstation ID is unknown (QG_SET_RUBBERBAND)",
       [](int id, int&, Status& s) { QG_SET_RUBBERBAND(id, 1, 0, 0, s); }},
      {2, "WARNING: Rubber-banding is not possible from a Postscript device",
       [](int id, int&, Status& s) { QG_SET_RUBBERBAND(id, 1, 0, 0, s); }},
  };
  for (const Case& c : cases) {
    int type = 42;
    const std::size_t before = terminal.text().size();
    c.call(c.id, type, status);
    EXPECT_EQ(type, 42) << c.line;
    EXPECT_EQ(status, ST_GOOD()) << c.line;
    EXPECT_EQ(terminal.text().substr(before), std::string(c.line) + "\n");
  }
  bool resized = true;
  const std::size_t before = terminal.text().size();
  QG_INP_RESIZE(7, resized, status);
  EXPECT_FALSE(resized);
  EXPECT_EQ(terminal.text().size(), before);
}

// ---- The window's waits ----

class WindowInput : public ::testing::Test {
 protected:
  void SetUp() override {
    // A private Xvfb, else the DISPLAY given; without either the test fails.
    ASSERT_TRUE(testing::xvfb_available() || std::getenv("DISPLAY") != nullptr)
        << "no X server: Xvfb is not installed and DISPLAY is not set";
    if (testing::xvfb_available()) {
      server_ = std::make_unique<testing::PrivateXServer>(24);
      ASSERT_TRUE(server_->ok());
    }
    ST_DEF_SYSTEM(status);
    QG_OPEN(0, status);
    QG_OPEN_WK(1, 0, 11, status);
    QG_ACTIVATE_WK(1, status);
    ASSERT_EQ(status, ST_GOOD()) << terminal.text();
    window = x11_window_id();
    ASSERT_NE(window, 0u);
    probe = XOpenDisplay(nullptr);
    ASSERT_NE(probe, nullptr);
  }
  void TearDown() override {
    if (probe != nullptr) XCloseDisplay(probe);
    Status s = ST_GOOD();
    if (qg_find_workstation(1) >= 0) QG_CLOSE_WK(1, s);
    QG_CLOSE(s);
  }
  bool xdotool(const std::string& arguments) {
    return testing::run_bounded("xdotool " + arguments);
  }
  std::string on_window() const { return " --window " + std::to_string(window) + " "; }
  X11Size window_size() {
    XWindowAttributes a;
    XSync(probe, False);
    XGetWindowAttributes(probe, window, &a);
    return {a.width, a.height};
  }
  // Takes every queued event off with polls (bounded).
  void drain() {
    for (int k = 0; k < 100; ++k) {
      int type = 0;
      float x = 0, y = 0;
      QG_INP_COORDINATE(1, 10, type, x, y, status);
      if (type == kInputNothing) return;
    }
  }
  // A pointer motion delivered to the window's own client whatever it selects.
  void send_motion(int px, int py) {
    XEvent e{};
    e.xmotion.type = MotionNotify;
    e.xmotion.window = window;
    e.xmotion.x = px;
    e.xmotion.y = py;
    e.xmotion.same_screen = True;
    XSendEvent(probe, window, False, 0, &e);
    XSync(probe, False);
  }
  // A typed-line wait with a prompt box across the bottom of the page.
  int wait_line(std::string& text, bool init = false, int mode = 0) {
    testing::Watchdog watchdog(20);
    int type = -9, workstation = 0;
    float x = 0, y = 0;
    QG_INP_EVENT(1, mode, true, "FILE NAME", init, 0.0f, 0.0f, 0.7f, 0.1f, type, workstation,
                 text, x, y, status);
    return type;
  }

  Status status = ST_GOOD();
  testing::TerminalCapture terminal;
  unsigned long window = 0;
  Display* probe = nullptr;

 private:
  std::unique_ptr<testing::PrivateXServer> server_;
};

TEST_F(WindowInput, ClicksArriveInWorldAndPageCoordinates) {
  QG_DATAWINDOW(0, 0, 100, 100, status);
  QG_VIEWPORT(0, 0, 1, 1, status);
  drain();
  ASSERT_TRUE(xdotool("mousemove" + on_window() + "250 353 click 1"));
  int type = -9;
  float x = 0, y = 0;
  {
    testing::Watchdog watchdog(20);
    QG_INP_COORDINATE(1, 0, type, x, y, status);
  }
  EXPECT_EQ(type, kInputButton);
  EXPECT_NEAR(x, 250.0f / 707.0f * 100.0f, 1e-3);
  EXPECT_NEAR(y, 354.0f / 707.0f * 100.0f, 1e-3);

  ASSERT_TRUE(xdotool("click 1"));
  std::string text;
  EXPECT_EQ(wait_line(text), kInputButton);
  int workstation = 0;
  // The same click position, as a page position this time.
  ASSERT_TRUE(xdotool("click 1"));
  {
    testing::Watchdog watchdog(20);
    QG_INP_EVENT(1, 0, false, "", false, 0, 0, 1, 1, type, workstation, text, x, y, status);
  }
  EXPECT_EQ(type, kInputButton);
  EXPECT_NEAR(x, 0.3536f, 1e-4);
  EXPECT_NEAR(y, 0.5007f, 1e-4);
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(WindowInput, TypedLinesTabAndHistory) {
  drain();
  ASSERT_TRUE(xdotool("mousemove" + on_window() + "100 100"));
  ASSERT_TRUE(xdotool("type --delay 0 hello"));
  ASSERT_TRUE(xdotool("key Return"));
  std::string text;
  EXPECT_EQ(wait_line(text), kInputLine);
  EXPECT_EQ(text, "hello");

  // Up brings the last line back; editing keys work inside it.
  ASSERT_TRUE(xdotool("key Up BackSpace Left"));
  ASSERT_TRUE(xdotool("type --delay 0 X"));
  ASSERT_TRUE(xdotool("key Return"));
  text.clear();
  EXPECT_EQ(wait_line(text), kInputLine);
  EXPECT_EQ(text, "helXl");

  // Tab ends the wait with the line as it stands; the initial text is kept.
  ASSERT_TRUE(xdotool("type --delay 0 .dat"));
  ASSERT_TRUE(xdotool("key Tab"));
  text = "data";
  EXPECT_EQ(wait_line(text, true), kInputTab);
  EXPECT_EQ(text, "data.dat");

  // A long initial text is cut to the line's length.
  text = std::string(300, 'f');
  ASSERT_TRUE(xdotool("key Return"));
  EXPECT_EQ(wait_line(text, true), kInputLine);
  EXPECT_EQ(text.size(), kX11LineLength);
  EXPECT_EQ(x11_history().back(1), text);
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(WindowInput, PollingReturnsAtOnceAndRedrawRequestsArePending) {
  drain();
  int type = 0;
  float x = 0, y = 0;
  QG_INP_COORDINATE(1, 10, type, x, y, status);
  EXPECT_EQ(type, kInputNothing);
  send_motion(100, 100);
  QG_INP_COORDINATE(1, 10, type, x, y, status);
  EXPECT_EQ(type, kInputMotion);

  bool resized = false;
  QG_SET_UPDATE(1, status);
  QG_INP_RESIZE(1, resized, status);
  EXPECT_TRUE(resized);
  QG_INP_RESIZE(1, resized, status);
  EXPECT_FALSE(resized);

  QG_SET_UPDATE(1, status);
  {
    testing::Watchdog watchdog(20);
    QG_INP_COORDINATE(1, 1, type, x, y, status);
  }
  EXPECT_EQ(type, kInputRedraw);
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(WindowInput, ResizeKeepsThePageAspectAndAsksForARedraw) {
  drain();
  ASSERT_TRUE(xdotool("windowsize " + std::to_string(window) + " 600 600"));
  int type = -9;
  float x = 0, y = 0;
  {
    testing::Watchdog watchdog(20);
    QG_INP_COORDINATE(1, 1, type, x, y, status);
  }
  EXPECT_EQ(type, kInputRedraw);
  const X11Size size = window_size();
  EXPECT_EQ(size.width, 424);
  EXPECT_EQ(size.height, 600);

  // One page unit is now 600 pixels.
  QG_DATAWINDOW(0, 0, 1, 1, status);
  QG_VIEWPORT(0, 0, 1, 1, status);
  drain();
  ASSERT_TRUE(xdotool("mousemove" + on_window() + "212 300 click 1"));
  {
    testing::Watchdog watchdog(20);
    QG_INP_COORDINATE(1, 0, type, x, y, status);
  }
  EXPECT_EQ(type, kInputButton);
  EXPECT_NEAR(x, 212.0f / 600.0f, 1e-4);
  EXPECT_NEAR(y, 0.5f, 1e-4);
}

TEST_F(WindowInput, RefusedResizeNeitherHangsNorLosesClicks) {
  QG_DATAWINDOW(0, 0, 1, 1, status);
  QG_VIEWPORT(0, 0, 1, 1, status);
  drain();
  // A window manager that takes every configure request and honours none.
  Display* manager = XOpenDisplay(nullptr);
  ASSERT_NE(manager, nullptr);
  XSelectInput(manager, DefaultRootWindow(manager), SubstructureRedirectMask);
  XSync(manager, False);
  XResizeWindow(manager, window, 600, 600);  // the manager's own change goes through
  XSync(manager, False);
  ASSERT_TRUE(xdotool("mousemove" + on_window() + "100 100 click 1"));

  const auto start = std::chrono::steady_clock::now();
  int type = -9;
  float x = 0, y = 0;
  {
    testing::Watchdog watchdog(20);
    QG_INP_COORDINATE(1, 1, type, x, y, status);
  }
  EXPECT_EQ(type, kInputRedraw);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  {
    testing::Watchdog watchdog(20);
    QG_INP_COORDINATE(1, 0, type, x, y, status);
  }
  EXPECT_EQ(type, kInputButton);  // the click made during the resize is still there
  EXPECT_NEAR(x, 100.0f / 600.0f, 1e-4);
  EXPECT_NEAR(y, 500.0f / 600.0f, 1e-4);
  XCloseDisplay(manager);
}

TEST_F(WindowInput, CrosshairAndRubberBandAreGoneWhenTheWaitEnds) {
  QG_DATAWINDOW(0, 0, 1, 1, status);
  QG_VIEWPORT(0, 0, 1, 1, status);
  // A coloured box under the pointer's lines, so that any line left over shows.
  QG_FILLCOLOUR(qg_db_colours.first_usable + 2, status);
  const float bx[4] = {0.2f, 0.6f, 0.6f, 0.2f}, by[4] = {0.2f, 0.2f, 0.6f, 0.6f};
  QG_FILLAREA(4, bx, by, status);
  QG_UPDATE(1, 0, status);
  drain();
  testing::TempDir dir;
  const testing::Screenshot before = testing::screenshot(window, dir.path().string());
  ASSERT_TRUE(before.ok);
  for (int mode : {0, 1, 2}) {  // none, line, box
    QG_SET_RUBBERBAND(1, mode, 0.1f, 0.1f, status);
    send_motion(300, 250);
    int type = 0;
    float x = 0, y = 0;
    QG_INP_COORDINATE(1, 10, type, x, y, status);
    EXPECT_EQ(type, kInputMotion);
    QG_UPDATE(1, 0, status);
    const testing::Screenshot after = testing::screenshot(window, dir.path().string());
    ASSERT_TRUE(after.ok);
    ASSERT_EQ(after.rgb.size(), before.rgb.size());
    int changed = 0;
    for (std::size_t k = 0; k < before.rgb.size(); ++k)
      if (before.rgb[k] != after.rgb[k]) ++changed;
    EXPECT_EQ(changed, 0) << "rubber-band mode " << mode;
  }
  QG_SET_RUBBERBAND(1, 0, 0, 0, status);
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(WindowInput, SpyGlassReadsInsideTheImageAtItsTopRightCorner) {
  QG_DATAWINDOW(0, 0, 1, 1, status);
  QG_VIEWPORT(0, 0, 1, 1, status);
  // An image of exactly 40 x 30 elements, shown over page 0.5..1 x 0.5..1:
  // reading one element beyond its last column or row leaves the array.
  std::vector<float> data(40 * 30);
  for (Index y = 1; y <= 30; ++y)
    for (Index x = 1; x <= 40; ++x) data[static_cast<std::size_t>(element(x, y, 40))] = x + 10 * y;
  QG_SPYGLASS(1, 40, 30, 1, 1, 40, 30, data, 0.5f, 0.5f, 1.0f, 1.0f, 0.1f, 0.1f, 0.23f, 0.23f,
              21, 21, status);
  ASSERT_EQ(status, ST_GOOD());
  // The read-out is drawn with the current fill and text colours.
  QG_FILLCOLOUR(qg_db_colours.first_usable + 1, status);
  QG_TEXTCOLOUR(qg_db_colours.first_usable, status);
  drain();
  // The pointer exactly on the image's top-right corner: page (1, 1) is
  // pixel (707, 0) of the 707-pixel page.
  send_motion(707, 0);
  int type = 0;
  float x = 0, y = 0;
  QG_INP_COORDINATE(1, 10, type, x, y, status);
  EXPECT_EQ(type, kInputMotion);
  QG_UPDATE(1, 0, status);
  testing::TempDir dir;
  const testing::Screenshot s = testing::screenshot(window, dir.path().string());
  ASSERT_TRUE(s.ok);
  // The kept quarter of the patch (elements 30..40 x 20..30) fills the
  // lower-left part of the view (page 0.1..0.168): its lowest value is the
  // first image colour, which depends on how many levels the display gave.
  const Rgb first = qg_db_colours.table[static_cast<std::size_t>(qg_db_colours.first_image)];
  auto eight = [](float c) { return static_cast<int>(std::lround(c * 255.0f)); };
  EXPECT_TRUE(testing::same_colour(s.at(71, 634), {eight(first.red), eight(first.green), eight(first.blue)}, 2))
      << s.at(71, 634)[0] << " " << s.at(71, 634)[1] << " " << s.at(71, 634)[2];
  EXPECT_TRUE(testing::same_colour(s.at(150, 560), {255, 255, 255}, 0));  // the cut part
  // The read-out in the top-left corner.
  int dark = 0;
  for (int yy = 0; yy < 20; ++yy)
    for (int xx = 0; xx < 200; ++xx)
      if (s.at(xx, yy)[0] < 100) ++dark;
  EXPECT_GT(dark, 30);
  EXPECT_EQ(status, ST_GOOD());
  QG_SPYGLASS(0, 40, 30, 1, 1, 40, 30, data, 0, 0, 1, 1, 0, 0, 1, 1, 21, 21, status);
}

}  // namespace
}  // namespace kesta
