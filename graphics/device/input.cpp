// The kernel's input routines: look up the workstation, hand the wait to the
// window driver and turn a clicked page position into world coordinates.

#include "graphics/device/input.hpp"

#include <algorithm>

#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/kernel_internal.hpp"

namespace kesta {

using qg_detail::known_workstation;
using qg_detail::message;

namespace {

// The driver of workstation slot K, or nullptr.
Driver* slot_driver(int k) { return qg_db_system.driver[static_cast<std::size_t>(k)].get(); }

bool is_window(int k) { return qg_db_system.category[static_cast<std::size_t>(k)] == kCategoryX11; }

// The last click a wait gave: its page position, the world point given for
// it and the transform it was mapped through.
struct LastClick {
  bool valid = false;
  float page_x = 0.0f, page_y = 0.0f, world_x = 0.0f, world_y = 0.0f;
  QgDbTransform transform;
};
LastClick last_click;

bool same_mapping(const QgDbTransform& a, const QgDbTransform& b) {
  return a.wx1 == b.wx1 && a.wx2 == b.wx2 && a.wy1 == b.wy1 && a.wy2 == b.wy2 &&
         a.vx1 == b.vx1 && a.vx2 == b.vx2 && a.vy1 == b.vy1 && a.vy2 == b.vy2;
}

}  // namespace

void QG_INP_COORDINATE(int id, int mode, int& type, float& x, float& y, Status& status) {
  if (st_bad(status, "Subroutine QG_INP_COORDINATE V0.3")) return;
  const int k = known_workstation(id, "QG_INP_COORDINATE");
  if (k < 0) return;
  if (!is_window(k)) {
    message("WARNING: Coordinate input is not possible from a Postscript device");
    return;
  }
  // After the end of the terminal input no user answers: the wait gives
  // nothing, which its caller takes as the user escape.
  if (mode != 10 && io_input_ended()) return;
  Driver* d = slot_driver(k);
  int t = type;
  float px = x, py = y;
  if (d == nullptr || d->input_coordinate(mode, t, px, py) != 0) {
    // A window that went away has said so, and the end of the terminal
    // input is the caller's escape; TYPE stays as it was.
    if (d == nullptr || (!d->window_lost() && !io_input_ended()))
      message("WARNING: Coordinate not successfully input from X-11 workstation");
    // A poll is no wait for the user: it leaves the loss to the next wait.
    if (mode != 10) qg_answer_window_loss();
    return;
  }
  type = t;
  if (t == kInputButton) {
    const QgDbTransform& w = qg_db_transform;
    // In double: a window as wide as the float range overflows a float width.
    x = qg_float_range((double{px} - w.vx1) * (double{w.wx2} - w.wx1) / (double{w.vx2} - w.vx1) +
                       w.wx1);
    y = qg_float_range((double{py} - w.vy1) * (double{w.wy2} - w.wy1) / (double{w.vy2} - w.vy1) +
                       w.wy1);
    last_click = {true, px, py, x, y, w};
  } else {
    x = px;
    y = py;
  }
}

float qg_click_pc(bool xaxis, float value, Status& status) {
  const LastClick& c = last_click;
  if (status == kStatusGood && c.valid && same_mapping(c.transform, qg_db_transform) &&
      value == (xaxis ? c.world_x : c.world_y))
    return xaxis ? c.page_x : c.page_y;
  return QG_WC2PC(xaxis, value, status);
}

void QG_INP_EVENT(int id, int mode, bool prompt_flag, std::string_view prompt, bool init_flag,
                  float x1, float y1, float x2, float y2, int& type, int& workstation,
                  std::string& text, float& x, float& y, Status& status) {
  if (st_bad(status, "Subroutine QG_INP_EVENT V0.3")) return;
  const int k = known_workstation(id, "QG_INP_EVENT");
  if (k < 0) return;
  if (!is_window(k)) {
    message("WARNING: String input is not possible from a Postscript device");
    return;
  }
  if (io_input_ended()) return;
  std::string_view shown = without_trailing_blanks(prompt);
  shown = shown.substr(0, std::min(shown.size(), kInputPromptLength));
  std::string line(without_trailing_blanks(text));
  int t = type;
  float px = x, py = y;
  Driver* d = slot_driver(k);
  const int rc = d == nullptr ? 1
                              : d->input_event(mode, prompt_flag, shown, init_flag, x1, y1, x2,
                                               y2, t, line, px, py);
  workstation = id;
  if (rc != 0) {
    if (d == nullptr || (!d->window_lost() && !io_input_ended()))
      message("WARNING: String not successfully input from X-11 workstation");
    qg_answer_window_loss();
    return;
  }
  type = t;
  text = line;
  x = px;
  y = py;
}

void QG_INP_RESIZE(int id, bool& resized, Status& status) {
  if (st_bad(status, "Subroutine QG_INP_RESIZE V0.1")) return;
  resized = false;
  if (qg_find_workstation(id) < 0) return;
  int type = kInputNothing;
  float x = 0.0f, y = 0.0f;
  QG_INP_COORDINATE(id, 10, type, x, y, status);
  resized = type == kInputRedraw;
}

void QG_SET_RUBBERBAND(int id, int mode, float x, float y, Status& status) {
  if (st_bad(status, "Subroutine QG_SET_RUBBERBAND V0.1")) return;
  const int k = known_workstation(id, "QG_SET_RUBBERBAND");
  if (k < 0) return;
  if (!is_window(k)) {
    message("WARNING: Rubber-banding is not possible from a Postscript device");
    return;
  }
  if (Driver* d = slot_driver(k)) d->rubber_band(mode, x, y);
}

void QG_SPYGLASS(int mode, Index xdim, Index ydim, Index xstart, Index ystart, Index xend,
                 Index yend, std::span<const float> data, float xmin_image, float ymin_image,
                 float xmax_image, float ymax_image, float xmin_spy, float ymin_spy,
                 float xmax_spy, float ymax_spy, int width, int height, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_SPYGLASS V0.1";
  if (st_bad(status, kPosition)) return;
  if (xdim < 1) {
    st_fail(status, 130001, kPosition);
    return;
  }
  QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k) {
    if (sys.state[static_cast<std::size_t>(k)] != 2 || !is_window(k) || slot_driver(k) == nullptr)
      continue;
    if (slot_driver(k)->spy_glass(mode, xdim, ydim, xstart, ystart, xend, yend, data, xmin_image,
                                  ymin_image, xmax_image, ymax_image, xmin_spy, ymin_spy,
                                  xmax_spy, ymax_spy, width, height) != 0)
      st_fail(status, 139999, kPosition);
  }
}

}  // namespace kesta
