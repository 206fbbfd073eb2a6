// Workstation table, kernel life cycle, transforms and clipping.

#include "graphics/device/kernel.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel_internal.hpp"
#include "graphics/device/ps_driver.hpp"

namespace kesta {
namespace qg_detail {

void terminal_line(std::string_view text) {
  // Straight to the terminal on purpose: these diagnostics do not reach the log.
  std::FILE* f = io_stream(kStreamTerminal);
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fputc('\n', f);
  std::fflush(f);
}

bool not_open(std::string_view name) {
  if (qg_db_system.system_open != 0) return false;
  message("ERROR: Qivo Graphics system is not open (" + std::string(name) + ")");
  return true;
}

void raster_scaling() {
  const QgDbTransform& t = qg_db_transform;
  QgDbRastermode& r = qg_db_rastermode;
  // In double: a window as wide as the float range overflows a float width.
  const double n = r.scale_size;
  const double x_scale = (double{t.vx2} - t.vx1) * n / (double{t.wx2} - t.wx1);
  const double y_scale = (double{t.vy2} - t.vy1) * n / (double{t.wy2} - t.wy1);
  r.x_scale = static_cast<float>(x_scale);
  r.x_offset = static_cast<float>(n * t.vx1 - t.wx1 * x_scale);
  r.y_scale = static_cast<float>(y_scale);
  r.y_offset = static_cast<float>(n * t.vy1 - t.wy1 * y_scale);
}

Rgb table_entry(int index) {
  return qg_db_colours.table[static_cast<std::size_t>(std::clamp(index, 0, 255))];
}

}  // namespace qg_detail

using namespace qg_detail;

namespace {

// VALUE on the range FROM1..FROM2 taken linearly onto TO1..TO2.
double linear_map(float value, float from1, float from2, float to1, float to2) {
  return (double{value} - from1) * (double{to2} - to1) / (double{from2} - from1) + to1;
}

// QG_UNITYTRANSFORM's saved data window and viewport.
struct QgUnitySave {
  float window[4] = {0, 0, 0, 0};
  float viewport[4] = {0, 0, 0, 0};
  int saved = 0;
};
QgUnitySave qg_unity_save;

bool windows_system() {
  std::string system, processor;
  Status local = ST_GOOD();
  IO_SYSTEM_NAME(system, processor, local);
  return local == ST_GOOD() && system.substr(0, 3) == "WIN";
}

void send_transform(Status& status, std::string_view position) {
  const QgDbTransform& t = qg_db_transform;
  dispatch(
      status, 130001, position,
      [&](Driver& d, Status& s) {
        return d.transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
      },
      1);
}

}  // namespace

int qg_find_workstation(int id) {
  for (int k = 0; k < qg_db_system.number_workstations; ++k)
    if (qg_db_system.user_id[k] == id) return k;
  return -1;
}

Driver* qg_x11_driver() {
  QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k)
    if (sys.category[k] == kCategoryX11 && sys.state[k] > 0 && sys.driver[k] &&
        !sys.driver[k]->window_lost())
      return sys.driver[k].get();
  return nullptr;
}

bool qg_window_lost() {
  const QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k)
    if (sys.category[k] == kCategoryX11 && sys.state[k] > 0 && sys.driver[k] &&
        sys.driver[k]->window_lost())
      return true;
  return false;
}

bool qg_window_still_there() {
  QgDbSystem& sys = qg_db_system;
  bool there = false;
  for (int k = 0; k < sys.number_workstations; ++k)
    if (sys.category[k] == kCategoryX11 && sys.state[k] > 0 && sys.driver[k] &&
        sys.driver[k]->window_still_there())
      there = true;
  return there;
}

namespace {
// Whether a wait has met the loss of the window: a window lost while it was
// being drawn has answered none yet.
bool window_loss_answered = false;
}  // namespace

bool qg_window_loss_unanswered() {
  if (!qg_window_lost()) window_loss_answered = false;
  return qg_window_lost() && !window_loss_answered;
}

void qg_answer_window_loss() { window_loss_answered = qg_window_lost(); }

void QG_OPEN(int flag, Status& status) {
  if (st_bad(status, "Subroutine QG_OPEN V0.5")) return;
  if (flag != 0) {
    st_fail(status, 130017, "Subroutine QG_OPEN V0.5");
    return;
  }
  // Workstations still in the table belong to a run that did not close them.
  for (auto& d : qg_db_system.driver) d.reset();
  qg_db_system = QgDbSystem{};
  window_loss_answered = false;
  qg_db_system.system_open = 1;
  qg_db_openwk = QgDbOpenwk{};
  qg_db_transform = QgDbTransform{};
  qg_unity_save = QgUnitySave{};

  QgDbColours& c = qg_db_colours;
  c = QgDbColours{};
  if (windows_system()) {
    c.first_usable = 1;
    c.last_usable = 255;
  } else {
    c.first_usable = 41;
    c.last_usable = 250;
  }
  c.x11_request = 108;
  c.x11_maximum = 256;
  c.first_image = c.first_usable + 8;
  c.last_image = c.last_usable;
  QG_DEF_COLOURS(status);

  qg_db_resolution = QgDbResolution{};
  qg_db_prastermode.raster.clear();
  qg_db_prastermode.raster.shrink_to_fit();
  qg_db_rastermode = QgDbRastermode{};
  raster_scaling();
  qg_db_brastermode.fill_byte = static_cast<std::uint8_t>(qg_db_rastermode.fill_colour);
  qg_db_textatts = QgDbTextatts{};
}

void QG_CLOSE(Status& status) {
  if (st_bad(status, "Subroutine QG_CLOSE V0.2")) return;
  if (qg_db_system.system_open == 0)
    message("WARNING: Qivo Graphics system is already closed ! (QG_CLOSE)");
  qg_db_system.system_open = 0;
}

// A window starts with its own drawing defaults (marker type 5 where the
// kernel starts with 2, black for every colour); the setters send only
// changes, so the kernel's current colours and styles are given to a new
// window once, or a value the kernel already holds would never reach it.
static void send_current_attributes(Driver& driver) {
  Status s = ST_GOOD();
  const QgDbRastermode& r = qg_db_rastermode;
  const QgDbTextatts& a = qg_db_textatts;
  driver.line_colour(r.line_colour, table_entry(r.line_colour), s);
  driver.fill_colour(r.fill_colour, table_entry(r.fill_colour), s);
  driver.marker_colour(r.marker_colour, table_entry(r.marker_colour), s);
  driver.text_colour(a.colour, table_entry(a.colour), s);
  driver.line_style(r.line_style, s);
  driver.line_width(r.line_width, s);
  driver.marker_type(r.marker_type, s);
  driver.marker_scale(r.marker_scale, s);
  driver.marker_width(r.marker_width, s);
  driver.text_font(a.font, s);
  if (a.height > 0.0f) driver.text_height(a.height, s);
  driver.text_alignment(a.horizontal, a.vertical, s);
  driver.text_angle(a.angle, s);
}

void QG_OPEN_WK(int id, int unit, int type, Status& status) {
  if (st_bad(status, "Subroutine QG_OPEN_WK V0.7")) return;
  if (id < 1) {
    st_fail(status, 130017, "Subroutine QG_OPEN_WK V0.7");
    return;
  }
  QgDbSystem& sys = qg_db_system;
  if (sys.system_open == 0) {
    message("WARNING: Qivo Graphics system is not open (QG_OPEN_WK)");
    return;
  }
  const int existing = qg_find_workstation(id);
  if (existing >= 0 && sys.state[existing] > 0) {
    message("WARNING: Workstation already open (QG_OPEN_WK)");
    return;
  }
  if (sys.number_workstations >= kMaxWorkstations) {
    message("WARNING: Maximum number of workstations are already open (QG_OPEN_WK)");
    st_fail(status, 132002, "Subroutine QG_OPEN_WK V0.7");
    return;
  }
  int category = 0;
  if (type == 11 || type == 12)
    category = kCategoryX11;
  else if (type >= 21 && type <= 24)
    category = kCategoryPostScript;
  else {
    message("WARNING: Unknown graphics device type (QG_OPEN_WK)");
    return;
  }

  // The device is opened before the slot is counted, so that a refused
  // device leaves the table as it was.
  std::unique_ptr<Driver> driver;
  const QgDbTransform& t = qg_db_transform;
  if (category == kCategoryX11) {
    if (qg_db_openwk.x11 > 0) {
      message("WARNING: Maximum number of X-11 workstations are already open (QG_OPEN_WK)");
      return;
    }
    driver = qg_make_x11_driver();
    OpenRequest request;
    request.type = type;
    request.colour_cells = qg_db_colours.x11_request;
    request.max_colour_cells = qg_db_colours.x11_maximum;
    request.x_pixels = type == 11 ? 500 : 707;
    request.y_pixels = type == 11 ? 707 : 500;
    Status local = ST_GOOD();
    if (!driver || driver->open(request, local) != 0) {
      message("WARNING: X-11 workstation not opened successfully (QG_OPEN_WK)");
      st_fail(status, 132001, "Subroutine QG_X11_OPEN V0.7");
      return;
    }
    ColourRange range;
    if (driver->colour_range(range)) {
      QgDbColours& c = qg_db_colours;
      c.first_usable = std::clamp(range.first, 0, 255);
      c.last_usable = std::clamp(range.last, 0, 255);
      c.first_image = std::clamp(range.first_image, 0, 255);
      c.last_image = std::clamp(range.last_image, 0, 255);
    }
    QG_DEF_COLOURS(status);
    const QgDbColours& c = qg_db_colours;
    if (driver->load_colours(c.table, c.first_usable, c.last_usable, c.first_image,
                             c.last_image) != 0)
      st_fail(status, 130001, "Subroutine QG_OPEN_WK V0.7");
    Status local2 = ST_GOOD();
    if (driver->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, local2) != 0)
      st_fail(status, 130001, "Subroutine QG_OPEN_WK V0.7");
    send_current_attributes(*driver);
    ++qg_db_openwk.x11;
  } else {
    if (qg_db_openwk.postscript > 0) {
      message("WARNING: Maximum number of PostScript workstations are already open (QG_OPEN_WK)");
      return;
    }
    driver = qg_make_ps_driver();
    OpenRequest request;
    request.type = type;
    request.unit = unit;
    driver->open(request, status);
    driver->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, status);
    if (status != ST_GOOD()) return;
    ++qg_db_openwk.postscript;
  }

  const int k = sys.number_workstations++;
  const bool portrait = type == 11 || type == 21 || type == 23;
  sys.user_id[k] = id;
  sys.unit[k] = unit;
  sys.device_type[k] = type;
  sys.category[k] = category;
  sys.state[k] = 1;
  sys.page_extent_x[k] = portrait ? kPageShortSide : 1.0f;
  sys.page_extent_y[k] = portrait ? 1.0f : kPageShortSide;
  sys.driver[k] = std::move(driver);
}

void QG_ACTIVATE_WK(int id, Status& status) {
  if (st_bad(status, "Subroutine QG_ACTIVATE_WK V0.2")) return;
  if (id < 1) {
    st_fail(status, 130017, "Subroutine QG_ACTIVATE_WK V0.2");
    return;
  }
  const int k = known_workstation(id, "QG_ACTIVATE_WK");
  if (k < 0) return;
  int& state = qg_db_system.state[k];
  if (state == 1)
    state = 2;
  else if (state == 2)
    message("WARNING: Workstation is already active (QG_ACTIVATE_WK)");
  else
    message("ERROR: Workstation is not open (QG_ACTIVATE_WK)");
}

void QG_DEACTIVATE_WK(int id, Status& status) {
  if (st_bad(status, "Subroutine QG_DEACTIVATE_WK V0.2")) return;
  if (id < 1) {
    st_fail(status, 130017, "Subroutine QG_DEACTIVATE_WK V0.2");
    return;
  }
  const int k = known_workstation(id, "QG_DEACTIVATE_WK");
  if (k < 0) return;
  int& state = qg_db_system.state[k];
  if (state == 2)
    state = 1;
  else if (state == 1)
    message("WARNING: Workstation is not active (QG_DEACTIVATE_WK)");
  else
    message("ERROR: Workstation is not open (QG_DEACTIVATE_WK)");
}

void QG_CLOSE_WK(int id, Status& status) {
  if (st_bad(status, "Subroutine QG_CLOSE_WK V0.3")) return;
  if (id < 1) {
    st_fail(status, 130017, "Subroutine QG_CLOSE_WK V0.3");
    return;
  }
  const int k = known_workstation(id, "QG_CLOSE_WK");
  if (k < 0) return;
  QgDbSystem& sys = qg_db_system;
  if (sys.category[k] == kCategoryX11)
    qg_db_openwk.x11 = std::max(0, qg_db_openwk.x11 - 1);
  else
    qg_db_openwk.postscript = std::max(0, qg_db_openwk.postscript - 1);
  if (sys.driver[k]) sys.driver[k]->close(status);
  const int n = sys.number_workstations;
  for (int j = k; j + 1 < n; ++j) {
    sys.user_id[j] = sys.user_id[j + 1];
    sys.unit[j] = sys.unit[j + 1];
    sys.device_type[j] = sys.device_type[j + 1];
    sys.category[j] = sys.category[j + 1];
    sys.state[j] = sys.state[j + 1];
    sys.page_extent_x[j] = sys.page_extent_x[j + 1];
    sys.page_extent_y[j] = sys.page_extent_y[j + 1];
    sys.driver[j] = std::move(sys.driver[j + 1]);
  }
  sys.state[n - 1] = 0;
  sys.user_id[n - 1] = 0;
  sys.driver[n - 1].reset();
  sys.number_workstations = n - 1;
}

void QG_UPDATE(int id, int /*flag*/, Status& status) {
  if (st_bad(status, "Subroutine QG_UPDATE V0.2")) return;
  const int k = known_workstation(id, "QG_UPDATE");
  if (k < 0) return;
  Driver* d = qg_db_system.driver[k].get();
  if (d == nullptr) return;
  if (qg_db_system.category[k] == kCategoryX11) {
    Status local = ST_GOOD();
    if (d->update(local) != 0) st_fail(status, 130001, "Subroutine QG_UPDATE V0.2");
  } else {
    d->update(status);
  }
}

void QG_SET_UPDATE(int id, Status& status) {
  if (st_bad(status, "Subroutine QG_SET_UPDATE V0.1")) return;
  const int k = known_workstation(id, "QG_SET_UPDATE");
  if (k < 0) return;
  if (qg_db_system.category[k] == kCategoryX11) {
    Driver* d = qg_db_system.driver[k].get();
    if (d == nullptr || d->request_redraw() != 0)
      message("WARNING: SET UPDATE wasnot successful for X-11 workstation");
  } else {
    message("WARNING: SET UPDATE is not possible on a Postscript device");
  }
}

void QG_WINDOW_TITLE(std::string_view title, Status& status) {
  if (st_bad(status, "Subroutine QG_WINDOW_TITLE V0.1")) return;
  const std::string_view used = without_trailing_blanks(title).substr(0, 135);
  if (used.empty()) return;
  if (Driver* d = qg_x11_driver()) d->window_title(used);
}

void QG_INQ_MAXPC(int id, float& xmax, float& ymax, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_MAXPC V0.1")) return;
  if (qg_db_system.system_open == 0) {
    message("ERROR: Qivo Graphics system is not open (QG_OPEN_WK)");
    return;
  }
  const int k = qg_find_workstation(id);
  if (k < 0) {
    xmax = kPageDefault;
    ymax = 1.0f;
    return;
  }
  xmax = qg_db_system.page_extent_x[k];
  ymax = qg_db_system.page_extent_y[k];
}

void QG_SET_RESOLUTION(int resolution, Status& status) {
  if (st_bad(status, "Subroutine QG_SET_RESOLUTION V0.1")) return;
  if (resolution < 1) {
    st_fail(status, 130017, "Subroutine QG_SET_RESOLUTION V0.1");
    return;
  }
  qg_db_resolution.resolution = resolution;
}

// ---- Transforms ----

void QG_DATAWINDOW(float x1, float y1, float x2, float y2, Status& status) {
  if (st_bad(status, "Subroutine QG_DATAWINDOW V0.4")) return;
  if (!(x1 < x2)) {
    terminal_line("ERROR: QG_DATAWINDOW:");
    terminal_line("       x_min_wc, x_max_wc = " + format_e(x1, 12, 5, 1) + format_e(x2, 12, 5, 1));
    st_fail(status, 130013, "Subroutine QG_DATAWINDOW V0.4");
    return;
  }
  if (!(y1 < y2)) {
    st_fail(status, 130014, "Subroutine QG_DATAWINDOW V0.4");
    return;
  }
  if (qg_db_system.system_open == 0) {
    message("ERROR: Qivo Graphics system is not open (QG_OPEN_WK)");
    return;
  }
  QgDbTransform& t = qg_db_transform;
  t.wx1 = x1;
  t.wy1 = y1;
  t.wx2 = x2;
  t.wy2 = y2;
  raster_scaling();
  send_transform(status, "Subroutine QG_DATAWINDOW V0.4");
}

void QG_VIEWPORT(float x1, float y1, float x2, float y2, Status& status) {
  if (st_bad(status, "Subroutine QG_VIEWPORT V0.3")) return;
  if (!(x1 < x2)) {
    st_fail(status, 130013, "Subroutine QG_VIEWPORT V0.3");
    return;
  }
  if (!(y1 < y2)) {
    st_fail(status, 130014, "Subroutine QG_VIEWPORT V0.3");
    return;
  }
  if (qg_db_system.system_open == 0) {
    message("ERROR: Qivo Graphics system is not open (QG_OPEN_WK)");
    return;
  }
  QgDbTransform& t = qg_db_transform;
  t.vx1 = x1;
  t.vy1 = y1;
  t.vx2 = x2;
  t.vy2 = y2;
  raster_scaling();
  send_transform(status, "Subroutine QG_VIEWPORT V0.3");
}

void QG_CLIPWINDOW(float x1, float y1, float x2, float y2, Status& status) {
  if (st_bad(status, "Subroutine QG_CLIPWINDOW V0.1")) return;
  if (!(x1 < x2)) {
    st_fail(status, 130013, "Subroutine QG_CLIPWINDOW V0.1");
    return;
  }
  if (!(y1 < y2)) {
    st_fail(status, 130014, "Subroutine QG_CLIPWINDOW V0.1");
    return;
  }
  if (not_open("QG_CLIPWINDOW")) return;
  QgDbTransform& t = qg_db_transform;
  t.cx1 = x1;
  t.cy1 = y1;
  t.cx2 = x2;
  t.cy2 = y2;
}

void QG_CLIP(bool on, Status& status) {
  if (st_bad(status, "Subroutine QG_CLIP V0.1")) return;
  const QgDbTransform& t = qg_db_transform;
  dispatch(status, 130001, "Subroutine QG_CLIP V0.1",
           [&](Driver& d, Status& s) { return d.clip(on, t.cx1, t.cy1, t.cx2, t.cy2, s); });
}

void QG_UNITYTRANSFORM(bool set, Status& status) {
  if (st_bad(status, "Subroutine QG_UNITYTRANSFORM V0.1")) return;
  if (qg_db_system.system_open == 0) {
    message("ERROR: Qivo Graphics system is not open (QG_OPEN_WK)");
    return;
  }
  QgDbTransform& t = qg_db_transform;
  QgUnitySave& save = qg_unity_save;
  if (set) {
    save.window[0] = t.wx1;
    save.window[1] = t.wy1;
    save.window[2] = t.wx2;
    save.window[3] = t.wy2;
    save.viewport[0] = t.vx1;
    save.viewport[1] = t.vy1;
    save.viewport[2] = t.vx2;
    save.viewport[3] = t.vy2;
    save.saved = 1;
    QG_DATAWINDOW(0, 0, 1, 1, status);
    QG_VIEWPORT(0, 0, 1, 1, status);
  } else if (save.saved != 0) {
    QG_DATAWINDOW(save.window[0], save.window[1], save.window[2], save.window[3], status);
    QG_VIEWPORT(save.viewport[0], save.viewport[1], save.viewport[2], save.viewport[3], status);
    save.saved = 0;
  } else {
    st_fail(status, 131007, "Subroutine QG_UNITYTRANSFORM V0.1");
  }
}

float QG_PC2WC(bool xaxis, float value, Status& status) {
  if (st_bad(status, "Function QG_PC2WC V0.1")) return 0.0f;
  if (not_open("QG_PC2WC")) return 0.0f;
  const QgDbTransform& t = qg_db_transform;
  // In double: a window as wide as the float range overflows a float width.
  // A page point beyond an axis that reaches near 3.4E+38 has no float
  // world coordinate: it stops at the float range.
  if (xaxis) return qg_float_range(linear_map(value, t.vx1, t.vx2, t.wx1, t.wx2));
  return qg_float_range(linear_map(value, t.vy1, t.vy2, t.wy1, t.wy2));
}

float QG_WC2PC(bool xaxis, float value, Status& status) {
  if (st_bad(status, "Function QG_WC2PC V0.1")) return 0.0f;
  if (not_open("QG_WC2PC")) return 0.0f;
  const QgDbTransform& t = qg_db_transform;
  if (xaxis) return static_cast<float>(linear_map(value, t.wx1, t.wx2, t.vx1, t.vx2));
  return static_cast<float>(linear_map(value, t.wy1, t.wy2, t.vy1, t.vy2));
}

void QG_INQ_DATAWINDOW(float& x1, float& y1, float& x2, float& y2, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_DATAWINDOW V0.1")) return;
  if (qg_db_system.system_open == 0) {
    message("ERROR: Qivo Graphics system is not open (QG_OPEN_WK)");
    return;
  }
  const QgDbTransform& t = qg_db_transform;
  x1 = t.wx1;
  y1 = t.wy1;
  x2 = t.wx2;
  y2 = t.wy2;
}

void QG_INQ_VIEWPORT(float& x1, float& y1, float& x2, float& y2, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_VIEWPORT V0.1")) return;
  if (qg_db_system.system_open == 0) {
    message("ERROR: Qivo Graphics system is not open (QG_OPEN_WK)");
    return;
  }
  const QgDbTransform& t = qg_db_transform;
  x1 = t.vx1;
  y1 = t.vy1;
  x2 = t.vx2;
  y2 = t.vy2;
}

void QG_INQ_SCALING(float& xscale, float& yscale, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_SCALING V0.1")) return;
  if (not_open("QG_INQ_SCALING")) return;
  const QgDbTransform& t = qg_db_transform;
  if (t.wx2 <= t.wx1) {
    terminal_line("QG_INQ_SCALING: ERROR");
    terminal_line("qg_wc_xmax = " + format_e(t.wx2, 14, 7, 1));
    terminal_line("qg_wc_xmin = " + format_e(t.wx1, 14, 7, 1));
    return;
  }
  xscale = static_cast<float>((double{t.vx2} - t.vx1) / (double{t.wx2} - t.wx1));
  if (t.wy2 <= t.wy1) {
    terminal_line("QG_INQ_SCALING: ERROR");
    terminal_line("qg_wc_ymax = " + format_e(t.wy2, 14, 7, 1));
    terminal_line("qg_wc_ymin = " + format_e(t.wy1, 14, 7, 1));
    return;
  }
  yscale = static_cast<float>((double{t.vy2} - t.vy1) / (double{t.wy2} - t.wy1));
}

}  // namespace kesta
