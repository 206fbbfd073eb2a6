// Input from the X11 window: waits for clicks, typed lines and redraw
// requests, with a crosshair, rubber band and spy glass following the pointer.

#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/extremes.hpp"
#include "core/reader.hpp"
#include "core/region.hpp"
#include "graphics/device/x11_internal.hpp"
#include "graphics/device/kernel_internal.hpp"

namespace kesta {

using qg_detail::message;

// ---- Typed-line history and editing ----

void X11History::add(std::string_view line) {
  if (line.empty()) return;
  // A line that repeats the start of the latest entry adds nothing.
  if (count > 0 && entries[static_cast<std::size_t>(latest)].starts_with(line)) return;
  latest = count == 0 ? 0 : (latest + 1) % kX11HistoryEntries;
  count = std::min(count + 1, kX11HistoryEntries);
  entries[static_cast<std::size_t>(latest)] = std::string(line);
}

const std::string& X11History::back(int position) const {
  const int slot = ((latest - (position - 1)) % kX11HistoryEntries + kX11HistoryEntries) %
                   kX11HistoryEntries;
  return entries[static_cast<std::size_t>(slot)];
}

X11History& x11_history() {
  static X11History history;
  return history;
}

void X11LineEditor::start(std::string_view initial) {
  line_ = std::string(initial.substr(0, std::min(initial.size(), kX11LineLength)));
  typed_ = line_;
  cursor_ = line_.size();
  position_ = 0;
}

bool X11LineEditor::left() {
  if (cursor_ == 0) return false;
  --cursor_;
  return true;
}

bool X11LineEditor::right() {
  if (cursor_ >= line_.size()) return false;
  ++cursor_;
  return true;
}

bool X11LineEditor::up() {
  if (position_ + 1 > history_.count) return false;
  ++position_;
  line_ = history_.back(position_);
  cursor_ = line_.size();
  return true;
}

bool X11LineEditor::down() {
  if (position_ > 1) {
    --position_;
    line_ = history_.back(position_);
  } else if (position_ == 1) {
    position_ = 0;
    line_ = typed_;
  } else {
    line_.clear();
  }
  cursor_ = line_.size();
  return true;
}

bool X11LineEditor::erase() {
  if (cursor_ == 0) return false;
  line_.erase(cursor_ - 1, 1);
  --cursor_;
  typed_ = line_;
  return true;
}

bool X11LineEditor::insert(std::string_view chars) {
  if (line_.size() + chars.size() > kX11LineLength) return false;
  line_.insert(cursor_, chars);
  cursor_ += chars.size();
  typed_ = line_;
  return true;
}

void X11LineEditor::finish() { history_.add(line_); }

// ---- Spy-glass patch ----

bool x11_spy_patch(double fx, double fy, const std::array<float, 4>& image, Index xstart,
                   Index ystart, Index xend, Index yend, int width, int height,
                   X11SpyPatch& patch) {
  const double x1 = image[0], y1 = image[1], x2 = image[2], y2 = image[3];
  if (!(fx >= x1 && fx <= x2 && fy >= y1 && fy <= y2) || !(x2 > x1) || !(y2 > y1)) return false;
  if (xend < xstart || yend < ystart) return false;
  // The right and top edges of the image belong to the last column and row.
  auto element = [](double f, double low, double high, Index start, Index end) {
    const double e = (f - low) / (high - low) * static_cast<double>(end - start + 1);
    return std::clamp<Index>(start + static_cast<Index>(e), start, end);
  };
  patch.ix = element(fx, x1, x2, xstart, xend);
  patch.iy = element(fy, y1, y2, ystart, yend);
  const Index hw = std::max(width, 1) / 2, hh = std::max(height, 1) / 2;
  patch.x1 = patch.ix - hw;
  patch.x2 = patch.ix + hw;
  patch.y1 = patch.iy - hh;
  patch.y2 = patch.iy + hh;
  patch.cut_left = std::max<Index>(0, xstart - patch.x1);
  patch.cut_right = std::max<Index>(0, patch.x2 - xend);
  patch.cut_bottom = std::max<Index>(0, ystart - patch.y1);
  patch.cut_top = std::max<Index>(0, patch.y2 - yend);
  patch.x1 += patch.cut_left;
  patch.x2 -= patch.cut_right;
  patch.y1 += patch.cut_bottom;
  patch.y2 -= patch.cut_top;
  return true;
}

namespace x11_detail {

// ---- Settings of the waits ----

int X11Driver::rubber_band(int mode, float x, float y) {
  band_mode_ = mode;
  band_x_ = x;
  band_y_ = y;
  band_drawn_ = false;
  return 0;
}

int X11Driver::spy_glass(int mode, Index xdim, Index ydim, Index xstart, Index ystart, Index xend,
                         Index yend, std::span<const float> data, float xmin_image,
                         float ymin_image, float xmax_image, float ymax_image, float xmin_spy,
                         float ymin_spy, float xmax_spy, float ymax_spy, int width, int height) {
  if (mode <= 0) {
    spy_mode_ = 0;
    spy_data_ = {};
    return 0;
  }
  if (xdim < 1 || ydim < 1 || xstart < 1 || xend > xdim || xstart > xend || ystart < 1 ||
      yend > ydim || ystart > yend || !array_holds(data.size(), xdim, ydim) || width < 1 ||
      height < 1) {
    spy_mode_ = 0;
    spy_data_ = {};
    return 1;
  }
  spy_mode_ = mode;
  spy_xdim_ = xdim;
  spy_ydim_ = ydim;
  spy_xstart_ = xstart;
  spy_ystart_ = ystart;
  spy_xend_ = xend;
  spy_yend_ = yend;
  spy_data_ = data;
  spy_image_ = {xmin_image, ymin_image, xmax_image, ymax_image};
  spy_view_ = {xmin_spy, ymin_spy, xmax_spy, ymax_spy};
  spy_width_ = width;
  spy_height_ = height;
  return 0;
}

int X11Driver::request_redraw() {
  if (!live()) return closed_code();
  XEvent e{};
  e.xmap.type = MapNotify;
  e.xmap.display = display_;
  e.xmap.event = window_;
  e.xmap.window = window_;
  e.xmap.override_redirect = False;
  if (XSendEvent(display_, window_, True, kWaitingMask, &e) == 0 && !cut()) return 1;
  if (!cut()) XSync(display_, False);  // queued here when the next poll looks
  return finished();
}

// ---- Pointer feedback ----

void X11Driver::erase_crosshair() {
  if (!cross_drawn_ || cut()) return;
  XDrawLine(display_, window_, gc_crosshair_, cross_px_, 0, cross_px_, y_pixels_);
  if (!cut()) XDrawLine(display_, window_, gc_crosshair_, 0, cross_py_, x_pixels_, cross_py_);
  cross_drawn_ = false;
}

void X11Driver::draw_band(int px, int py) {
  if (cut()) return;
  const int ax = column(band_x_), ay = row(band_y_);
  if (band_mode_ == 1) {
    XDrawLine(display_, window_, gc_crosshair_, ax, ay, px, py);
  } else if (band_mode_ == 2) {
    XDrawLine(display_, window_, gc_crosshair_, ax, ay, px, ay);
    if (!cut()) XDrawLine(display_, window_, gc_crosshair_, ax, ay, ax, py);
  }
}

void X11Driver::pointer_moved(int px, int py) {
  erase_crosshair();
  if (band_drawn_) {
    draw_band(band_px_, band_py_);
    band_drawn_ = false;
  }
  if (spy_mode_ > 0) draw_spy_glass(px, py);
  if (cut()) return;
  XDrawLine(display_, window_, gc_crosshair_, px, 0, px, y_pixels_);
  if (!cut()) XDrawLine(display_, window_, gc_crosshair_, 0, py, x_pixels_, py);
  cross_drawn_ = true;
  cross_px_ = px;
  cross_py_ = py;
  if ((band_mode_ == 1 || band_mode_ == 2) && !cut()) {
    draw_band(px, py);
    band_drawn_ = true;
    band_px_ = px;
    band_py_ = py;
  }
}

void X11Driver::end_wait() {
  erase_crosshair();
  if (band_drawn_) {
    draw_band(band_px_, band_py_);
    band_drawn_ = false;
  }
  if (!cut()) XSelectInput(display_, window_, kOutsideMask);
  if (!cut()) XFlush(display_);
  finished();
}

bool X11Driver::window_gone(const XEvent* event) {
  if (lost_) return true;
  bool close_request = false;
  bool gone = connection_lost_ || destroyed_;
  if (event != nullptr && event->xany.window == window_) {
    if (event->type == DestroyNotify && event->xdestroywindow.window == window_) gone = true;
    if (event->type == ClientMessage &&
        static_cast<Atom>(event->xclient.data.l[0]) == wm_delete_)
      gone = close_request = true;
  }
  if (gone) lose_window(close_request);
  return gone;
}

bool X11Driver::window_still_there() {
  if (window_gone(nullptr)) return false;
  // A close request or a destruction queued behind other events is taken
  // out and looked at; anything else is put back for the waits.
  for (const int type : {ClientMessage, DestroyNotify}) {
    XEvent event;
    if (cut() || XCheckTypedWindowEvent(display_, window_, type, &event) == 0) continue;
    if (window_gone(&event)) return false;
    XPutBackEvent(display_, &event);
  }
  // A window destroyed before its events were selected is seen only by a
  // request on it, which the error handler notes.
  if (!cut()) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, window_, &attributes);
  }
  return !window_gone(nullptr);
}

void X11Driver::lose_window(bool destroy) {
  lost_ = true;
  message("WARNING: The graphics window was closed");
  if (destroy && !connection_lost_) XDestroyWindow(display_, window_);
  release();
}

bool X11Driver::live() {
  if (open_ && connection_lost_) lose_window(false);
  return open_;
}

int X11Driver::finished() {
  live();
  return 0;
}

// The next event of the window; false in poll mode when none is queued, and
// false when the window is gone. The wait watches the connection itself, so
// a window destroyed or a server gone ends it. In a run that answers at the
// terminal it also watches the terminal input: its end ends the wait too
// (false, the window still there), as nobody is left to click.
bool X11Driver::next_event(int mode, XEvent& event) {
  if (window_gone(nullptr)) return false;
  if (mode == 10) {
    // A close request is a client message, which no event mask selects.
    const bool found = XCheckTypedWindowEvent(display_, window_, ClientMessage, &event) != 0 ||
                       (!cut() && XCheckWindowEvent(display_, window_, kPollMask, &event) != 0);
    return !window_gone(found ? &event : nullptr) && found;
  }
  InputWatch terminal = io_terminal_watch();
  for (;;) {
    while (XPending(display_) > 0) {
      XNextEvent(display_, &event);
      if (window_gone(&event)) return false;
      if (event.xany.window == window_) return true;
    }
    if (window_gone(nullptr)) return false;
    if (terminal.fd < 0) {
      wait_for_server(display_, -1);
      continue;
    }
    pollfd waits[2] = {{ConnectionNumber(display_), POLLIN, 0},
                       {terminal.fd, terminal.events, 0}};
    ::poll(waits, 2, -1);
    if (io_terminal_watch_ended(terminal, waits[1].revents)) return false;
  }
}

// ---- Waits ----

void X11Driver::click_position(const XEvent& e, float& x, float& y) const {
  x = static_cast<float>(e.xbutton.x) / static_cast<float>(max_pixels_);
  y = static_cast<float>(y_pixels_ - e.xbutton.y) / static_cast<float>(max_pixels_);
}

int X11Driver::input_coordinate(int mode, int& type, float& x, float& y) {
  if (!live()) return 1;
  XSelectInput(display_, window_, mode == 10 ? kPollMask : kWaitingMask);
  cross_drawn_ = band_drawn_ = false;
  bool moved = false;
  bool done = false;
  XEvent e;
  while (!done && next_event(mode, e)) {
    switch (e.type) {
      case ButtonPress:
        type = 0;
        click_position(e, x, y);
        done = true;
        break;
      case MotionNotify:
        moved = true;
        if (!cut() && XPending(display_) == 0) pointer_moved(e.xmotion.x, e.xmotion.y);
        break;
      case Expose:
      case MapNotify:
        if (mode > 0) {
          type = 1;
          done = true;
        }
        break;
      case ConfigureNotify:
        if (e.xconfigure.width != x_pixels_ || e.xconfigure.height != y_pixels_) {
          resize(e.xconfigure.width, e.xconfigure.height);
          if (mode > 0) {
            type = 1;
            done = true;
          }
        }
        break;
      default:
        break;
    }
  }
  if (lost_) return 1;
  end_wait();
  if (!done && mode != 10) return 1;  // the terminal input ended
  if (!done) type = moved ? -2 : -1;  // poll mode only
  return 0;
}

int X11Driver::input_event(int mode, bool prompt_flag, std::string_view prompt, bool init_flag,
                           float x1, float y1, float x2, float y2, int& type, std::string& text,
                           float& x, float& y) {
  if (!live()) return 1;
  const bool font = ensure_font();
  if (cut()) {
    finished();
    return 1;
  }
  if (!font) {
    message("Font not available");
    return 0;
  }
  X11LineEditor editor(x11_history());
  editor.start(init_flag ? std::string_view(text) : std::string_view());
  XSelectInput(display_, window_, kWaitingMask);
  cross_drawn_ = band_drawn_ = false;
  if (prompt_flag) draw_prompt(x1, y1, x2, y2, prompt, editor);
  bool done = false;
  XEvent e;
  while (!done) {
    if (!next_event(0, e)) {
      if (!lost_) end_wait();  // the terminal input ended
      return 1;
    }
    erase_crosshair();
    switch (e.type) {
      case ButtonPress:
        type = 0;
        click_position(e, x, y);
        done = true;
        break;
      case MotionNotify:
        if (!cut() && XPending(display_) == 0) pointer_moved(e.xmotion.x, e.xmotion.y);
        break;
      case Expose:
      case MapNotify:
        type = 1;
        done = true;
        break;
      case ConfigureNotify:
        if (e.xconfigure.width != x_pixels_ || e.xconfigure.height != y_pixels_) {
          resize(e.xconfigure.width, e.xconfigure.height);
          if (mode == 1) {
            type = 1;
            done = true;
          } else if (prompt_flag) {
            draw_prompt(x1, y1, x2, y2, prompt, editor);
          }
        }
        break;
      case KeyPress: {
        char chars[41] = {0};
        KeySym key = 0;
        const int n = XLookupString(&e.xkey, chars, 40, &key, nullptr);
        bool ok = true;
        if (key == XK_Return || key == XK_KP_Enter || key == XK_Linefeed) {
          type = 2;
          done = true;
          break;
        }
        if (key == XK_Tab) {
          type = 3;
          done = true;
          break;
        }
        if (key == XK_Left)
          ok = editor.left();
        else if (key == XK_Right)
          ok = editor.right();
        else if (key == XK_Up)
          ok = editor.up();
        else if (key == XK_Down)
          ok = editor.down();
        else if (key == XK_BackSpace || key == XK_Delete)
          ok = editor.erase();
        else if ((key >= 32 && key <= 126) || (key >= XK_KP_Space && key <= XK_KP_9))
          ok = editor.insert(std::string_view(chars, static_cast<std::size_t>(std::max(n, 0))));
        if (!ok && !cut()) XBell(display_, 100);
        draw_prompt(x1, y1, x2, y2, prompt, editor);
        break;
      }
      default:
        break;
    }
  }
  text = editor.line();
  editor.finish();
  end_wait();
  return 0;
}

void X11Driver::draw_prompt(float x1, float y1, float x2, float y2, std::string_view prompt,
                            const X11LineEditor& editor) {
  if (cut() || !ensure_font() || cut()) return;
  const int px1 = column(x1), py1 = row(y1), px2 = column(x2), py2 = row(y2);
  XFillRectangle(display_, window_, gc_fill_, std::min(px1, px2), std::min(py1, py2),
                 static_cast<unsigned>(std::abs(px2 - px1)),
                 static_cast<unsigned>(std::abs(py2 - py1)));
  const int left = px1 + (px2 - px1) / 50;
  const std::string_view used = prompt.substr(0, std::min<std::size_t>(prompt.size(), 132));
  if (!used.empty() && !cut())
    XDrawString(display_, window_, gc_text_, left, py1 + (py2 - py1) * 5 / 9, used.data(),
                static_cast<int>(used.size()));
  const int base = py1 + (py2 - py1) / 9;
  const std::string& line = editor.line();
  const int before = static_cast<int>(editor.cursor());
  if (!cut()) XDrawString(display_, window_, gc_text_, left, base, line.data(), before);
  const int at = left + XTextWidth(font_, line.data(), before);
  const bool at_end = editor.cursor() >= line.size();
  const char* under = at_end ? "_" : line.data() + before;
  if (!cut()) XDrawImageString(display_, window_, gc_cursor_, at, base, under, 1);
  if (!at_end && !cut()) {
    const int after = at + XTextWidth(font_, under, 1);
    XDrawString(display_, window_, gc_text_, after, base, line.data() + before + 1,
                static_cast<int>(line.size()) - before - 1);
  }
}

// ---- Spy glass ----

void X11Driver::draw_spy_glass(int px, int py) {
  const double m = max_pixels_;
  X11SpyPatch patch;
  if (!x11_spy_patch(px / m, (y_pixels_ - py) / m, spy_image_, spy_xstart_, spy_ystart_,
                     spy_xend_, spy_yend_, spy_width_, spy_height_, patch))
    return;
  const float* data = spy_data_.data();
  auto at = [&](Index x, Index yy) { return data[element(x, yy, spy_xdim_)]; };
  float low = kAboveEveryValue, high = kBelowEveryValue;
  for (Index yy = patch.y1; yy <= patch.y2; ++yy)
    for (Index xx = patch.x1; xx <= patch.x2; ++xx) {
      // The range of the finite values, as the image's own.
      const float v = at(xx, yy);
      if (!std::isfinite(v)) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
  extremes_found(low, high);
  if (high - low < 1e-5f) high = low + 1.0f;
  // A constant patch of values too large to grow by 1 keeps a range too.
  if (!(high > low)) low = std::nextafter(high, kBelowEveryValue);
  if (log_scaling_ && low <= 0.0f) {
    low = 1.0e-10f;
    if (high <= 1.0e-10f) high = 2.0e-10f;
  }
  // World rectangle of the view and the part the kept elements fill.
  float vx1 = spy_view_[0], vy1 = spy_view_[1], vx2 = spy_view_[2], vy2 = spy_view_[3];
  const bool cut_off = patch.cut_left + patch.cut_right + patch.cut_bottom + patch.cut_top > 0;
  if (cut_off) {
    const float sx[4] = {vx1, vx1, vx2, vx2};
    const float sy[4] = {vy1, vy2, vy2, vy1};
    Status local = ST_GOOD();
    fill_area(sx, sy, local);
    if (cut()) return;
    const double columns = static_cast<double>(patch.x2 - patch.x1 + 1 + patch.cut_left +
                                               patch.cut_right);
    const double rows = static_cast<double>(patch.y2 - patch.y1 + 1 + patch.cut_bottom +
                                            patch.cut_top);
    const float w = vx2 - vx1, h = vy2 - vy1;
    vx1 += static_cast<float>(w * (patch.cut_left / columns));
    vx2 -= static_cast<float>(w * (patch.cut_right / columns));
    vy1 += static_cast<float>(h * (patch.cut_bottom / rows));
    vy2 -= static_cast<float>(h * (patch.cut_top / rows));
  }
  const CellRegion region{vx1,       vy1,       vx2,
                          vy2,       spy_xdim_, spy_ydim_,
                          patch.x1,  patch.y1,  patch.x2 - patch.x1 + 1,
                          patch.y2 - patch.y1 + 1};
  real_image(false, region, spy_data_, {}, low, high, mask_colour_, log_scaling_, true);
  if (cut()) return;

  const int fx1 = column(spy_view_[0]), fx2 = column(spy_view_[2]);
  const int fy1 = row(spy_view_[3]), fy2 = row(spy_view_[1]);
  XDrawRectangle(display_, window_, gc_line_, std::min(fx1, fx2) - 2, std::min(fy1, fy2) - 2,
                 static_cast<unsigned>(std::abs(fx2 - fx1) + 4),
                 static_cast<unsigned>(std::abs(fy2 - fy1) + 4));
  const int cx = (fx1 + fx2) / 2, cy = (fy1 + fy2) / 2;
  if (!cut()) XDrawLine(display_, window_, gc_crosshair_, cx, fy1, cx, fy2);
  if (!cut()) XDrawLine(display_, window_, gc_crosshair_, fx1, cy, fx2, cy);

  if (cut() || !ensure_font() || cut()) return;
  static constexpr char kWidest[] = "X=99999, Y=99999, I=-9.999999e-99";
  const int a = font_->ascent, d = font_->descent;
  XFillRectangle(display_, window_, gc_fill_, 0, 0,
                 static_cast<unsigned>(XTextWidth(font_, kWidest, sizeof kWidest - 1) + 5),
                 static_cast<unsigned>(a + d + 5));
  if (cut()) return;
  char readout[96];
  const int n = std::snprintf(readout, sizeof readout, "X=%5lld, Y=%5lld, I=%g",
                              static_cast<long long>(patch.ix), static_cast<long long>(patch.iy),
                              static_cast<double>(at(patch.ix, patch.iy)));
  XDrawString(display_, window_, gc_text_, 2, a + 2, readout,
              std::clamp(n, 0, static_cast<int>(sizeof readout) - 1));
}

}  // namespace x11_detail
}  // namespace kesta
