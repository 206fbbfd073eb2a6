#pragma once
// A window workstation that records the page and answers the waits from a
// script of events (clicks at page points, typed lines, Tab, redraws), for
// the widget tests. An empty script fails the wait, as a lost window does.

#include <deque>
#include <memory>
#include <string>

#include "core/dialogue_testing.hpp"
#include "graphics/device/input.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta::testing {

struct WindowEvent {
  int type = kInputButton;
  float x = 0.0f, y = 0.0f;  // page coordinates
  std::string text;
};

inline WindowEvent click(float x, float y) { return {kInputButton, x, y, {}}; }
inline WindowEvent typed(std::string text) { return {kInputLine, 0, 0, std::move(text)}; }
inline WindowEvent redraw() { return {kInputRedraw, 0, 0, {}}; }
inline WindowEvent tab(std::string text) { return {kInputTab, 0, 0, std::move(text)}; }

class ScriptedWindow : public PageRecorder {
 public:
  using PageRecorder::PageRecorder;
  std::deque<WindowEvent> events;
  int waits = 0;
  std::vector<std::string> prompts;
  std::vector<std::string> initial;  // the text each typed-line wait started with
  int redraw_requests = 0;
  bool lost = false;  // the window has gone: the questions go to the terminal

  bool window_lost() const override { return lost; }
  int request_redraw() override {
    ++redraw_requests;
    return 0;
  }

  int input_coordinate(int, int& type, float& x, float& y) override {
    ++waits;
    if (events.empty()) return 1;
    const WindowEvent e = events.front();
    events.pop_front();
    type = e.type;
    x = e.x;
    y = e.y;
    return 0;
  }
  int input_event(int, bool, std::string_view prompt, bool init_flag, float, float, float, float,
                  int& type, std::string& text, float& x, float& y) override {
    ++waits;
    prompts.emplace_back(prompt);
    initial.push_back(init_flag ? text : std::string());
    if (events.empty()) return 1;
    const WindowEvent e = events.front();
    events.pop_front();
    type = e.type;
    x = e.x;
    y = e.y;
    if (e.type == kInputLine || e.type == kInputTab) text = e.text;
    return 0;
  }
};

struct WidgetFixture : PageFixture {
  ScriptedWindow* window = nullptr;

  void SetUp() override {
    reset_dialogue();
    PageFixture::SetUp();
    QgDbSystem& sys = qg_db_system;
    auto driver = std::make_unique<ScriptedWindow>(&items);
    window = driver.get();
    sys.driver[0] = std::move(driver);
    const QgDbTransform& t = qg_db_transform;
    Status s = kStatusGood;
    window->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
    gs_drawn_menu = GsDrawnMenu{};
  }
  void TearDown() override {
    PageFixture::TearDown();
    reset_dialogue();
  }
  void script(std::initializer_list<WindowEvent> events) {
    window->events.assign(events.begin(), events.end());
  }
  // The centre of button I (1-based) of the last drawn menu.
  static WindowEvent on_button(int i) {
    const GsRect& b = gs_drawn_menu.boxes[i - 1];
    return click((b.xmin + b.xmax) / 2, (b.ymin + b.ymax) / 2);
  }
};

}  // namespace kesta::testing
