// The X11 window: opening and closing, the colour model, the device
// transform, graphics contexts, fonts and the page aspect on resize.

#include "graphics/device/x11_internal.hpp"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel_internal.hpp"

namespace kesta {

using qg_detail::message;
using x11_detail::X11Driver;

namespace {

constexpr double kAspect = 1.414214;

// The driver whose window is open (one per process).
X11Driver* open_driver = nullptr;

// Protocol errors are reported and drawing goes on. A request the server
// refuses because the program's window no longer exists is no error: the
// window was destroyed under the program (closed by the user), which the
// program handles as a closed window and says once. What was drawn after it
// (a rotated text's pixmap made from the window, and the requests on that
// pixmap) is refused in turn, and is no error either.
int error_handler(Display* display, XErrorEvent* event) {
  if (open_driver != nullptr && open_driver->window() != 0) {
    if (open_driver->window_gone_from_server()) return 0;
    if (event->resourceid == open_driver->window() &&
        (event->error_code == BadWindow || event->error_code == BadDrawable)) {
      open_driver->window_destroyed();
      return 0;
    }
  }
  char text[81] = {0};
  XGetErrorText(display, event->error_code, text, sizeof text - 1);
  // Straight to the error stream: the handler runs inside Xlib.
  std::fprintf(stderr, "ERROR: X-11 Error code:\n       %s\n", text);
  return 0;
}

const char* class_name(int c) {
  static const char* const names[] = {"StaticGray", "Grayscale",   "StaticColour",
                                      "PseudoColor", "TrueColor", "DirectColor"};
  return c >= 0 && c < 6 ? names[c] : "Unknown";
}

// A 40 x 40 picture for the icon: a frame with a rising curve.
std::array<unsigned char, 200> icon_bits() {
  std::array<unsigned char, 200> bits{};
  auto set = [&bits](int x, int y) {
    if (x < 0 || x > 39 || y < 0 || y > 39) return;
    bits[static_cast<std::size_t>(y * 5 + x / 8)] |= static_cast<unsigned char>(1u << (x % 8));
  };
  for (int i = 0; i < 40; ++i) {
    set(i, 0);
    set(i, 39);
    set(0, i);
    set(39, i);
  }
  for (int x = 4; x < 36; ++x) {
    const double t = (x - 4) / 31.0;
    const int y = 35 - static_cast<int>(30.0 * t * t);
    set(x, y);
    set(x, y + 1);
  }
  return bits;
}

// Milliseconds left until DEADLINE (0 when passed).
int remaining_ms(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A broken display connection: Xlib's default ends the process, which would
// lose the user's data. The driver notes it and lets go of the window; the
// program goes on without it.
int io_error_handler(Display* /*display*/) { return 0; }
void io_error_exit(Display* /*display*/, void* driver) {
  static_cast<x11_detail::X11Driver*>(driver)->connection_broken();
}

}  // namespace

namespace x11_detail {

void wait_for_server(Display* display, int ms) {
  pollfd p{ConnectionNumber(display), POLLIN, 0};
  ::poll(&p, 1, ms);
}

}  // namespace x11_detail

using x11_detail::wait_for_server;

// ---- Rules without X11 state ----

X11Size x11_page_aspect(int format, int width, int height) {
  X11Size s{width, height};
  if (width < 1 || height < 1) return s;
  if (format == 1) {
    const double r = static_cast<double>(height) / width;
    if (r > kAspect)
      s.height = static_cast<int>(width * kAspect + 0.5);
    else if (r < kAspect)
      s.width = static_cast<int>(height / kAspect + 0.5);
  } else if (format == 2) {
    const double r = static_cast<double>(width) / height;
    if (r > kAspect)
      s.width = static_cast<int>(height * kAspect + 0.5);
    else if (r < kAspect)
      s.height = static_cast<int>(width / kAspect + 0.5);
  }
  return s;
}

int x11_pixel_width(float width, int max_pixels) {
  const double w = static_cast<double>(width) * max_pixels / 1500.0 + 0.5;
  const auto pixels = static_cast<int>(device_integer(w, 1000.0));
  return pixels < 1 ? 1 : pixels;
}

X11FontChoice x11_font_choice(int h, int font_index) {
  struct Row {
    int below;  // heights below this use the row
    std::string_view serif, fixed;
  };
  static constexpr Row rows[] = {
      {7, "clR4x6", "5x7"},    {8, "5x7", "5x7"},       {9, "timR08", "5x8"},
      {10, "timR08", "6x9"},   {12, "timR10", "6x10"},  {13, "timR12", "6x12"},
      {14, "timR12", "7x13"},  {15, "timR14", "7x14"},  {16, "timR14", "9x15"},
      {18, "timR14", "8x16"},  {24, "timR18", "10x20"},
  };
  X11FontChoice choice{"timR24", "12x24"};
  for (const Row& r : rows)
    if (h < r.below) {
      choice = {r.serif, r.fixed};
      break;
    }
  if (font_index != 1) choice.first = {};
  return choice;
}

unsigned long x11_window_id() { return open_driver != nullptr ? open_driver->window() : 0; }

std::unique_ptr<Driver> qg_make_x11_driver() { return std::make_unique<X11Driver>(); }

// ---- The driver ----

namespace x11_detail {

X11Driver::~X11Driver() { release(); }

int X11Driver::open(const OpenRequest& request, Status& /*status*/) {
  if (open_) return 0;
  // Portrait and landscape keep the page aspect; any other type keeps any size.
  format_ = request.type == 11 ? 1 : request.type == 12 ? 2 : 3;
  marker_type_ = 5;
  line_width_ = marker_width_ = marker_scale_ = 1.0f;
  wx1_ = wy1_ = vx1_ = vy1_ = 0.0f;
  wx2_ = wy2_ = vx2_ = vy2_ = 1.0f;
  first_font_warning_ = true;
  x_pixels_ = request.x_pixels > 0 ? request.x_pixels : 500;
  y_pixels_ = request.y_pixels > 0 ? request.y_pixels : 707;
  max_pixels_ = std::max(x_pixels_, y_pixels_);

  XSetErrorHandler(error_handler);
  XSetIOErrorHandler(io_error_handler);
  lost_ = connection_lost_ = destroyed_ = false;
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) {
    message("WARNING: Failed to open X-11 display");
    return 1;
  }
  XSetIOErrorExitHandler(display_, io_error_exit, this);
  screen_ = DefaultScreen(display_);
  visual_ = DefaultVisual(display_, screen_);
  depth_ = DefaultDepth(display_, screen_);

  if (const int code = choose_colours(request); code != 0) {
    XCloseDisplay(display_);
    display_ = nullptr;
    return code;
  }
  if (!create_window()) {
    release();
    return 1;
  }
  min_image_ = min_index_ + 8;
  max_image_ = max_index_;
  font_ = nullptr;
  font_index_ = 1;
  load_font_ = true;
  font_usable_ = true;
  text_index_ = -999;
  font_height_ = 0.0166667f;
  angle_ = 0.0;
  fill_index_ = -999;
  line_index_ = -999;
  marker_index_ = -999;
  text_pixel_ = BlackPixel(display_, screen_);
  create_gcs();
  band_mode_ = 0;
  band_drawn_ = cross_drawn_ = false;
  spy_mode_ = 0;
  open_ = true;
  open_driver = this;
  set_transform();
  wait_for_map();
  return 0;
}

int X11Driver::choose_colours(const OpenRequest& request) {
  XVisualInfo wanted{};
  wanted.visualid = XVisualIDFromVisual(visual_);
  int found = 0;
  XVisualInfo* info = XGetVisualInfo(display_, VisualIDMask, &wanted, &found);
  const int visual_class = info != nullptr && found > 0 ? info->c_class : -1;
  const unsigned long red_mask = info != nullptr && found > 0 ? info->red_mask : 0;
  const unsigned long blue_mask = info != nullptr && found > 0 ? info->blue_mask : 0;
  if (info != nullptr) XFree(info);
  colour_map_ = DefaultColormap(display_, screen_);
  private_map_ = false;

  if (visual_class == PseudoColor && depth_ == 8) {
    true_colour_ = false;
    pixmap_depth_ = 8;
    unsigned long pixels[256];
    unsigned long planes[1];
    int granted = 0;
    for (int n = 256; n >= 2; --n) {
      if (XAllocColorCells(display_, colour_map_, False, planes, 0, pixels,
                           static_cast<unsigned int>(n)) != 0) {
        granted = n;
        break;
      }
    }
    std::sort(pixels, pixels + granted);
    int best_start = 0, best_length = 0;
    for (int i = 0; i < granted;) {
      int j = i + 1;
      while (j < granted && pixels[j] == pixels[j - 1] + 1) ++j;
      if (j - i > best_length) {
        best_length = j - i;
        best_start = static_cast<int>(pixels[i]);
      }
      i = j;
    }
    const int wanted = std::clamp(request.colour_cells, 2, 256);
    if (best_length < wanted) {
      message("INFO: Only " + std::to_string(best_length) +
              " contiguous colour cells can be allocated in the ");
      message("      default colour table. A separate colour table is being ");
      message("      created, you may notice colour \"flash\".");
      colour_map_ =
          XCreateColormap(display_, RootWindow(display_, screen_), visual_, AllocAll);
      private_map_ = true;
      min_index_ = 41;
      max_index_ = std::clamp(41 + request.max_colour_cells, 42, 255);
    } else {
      min_index_ = best_start;
      max_index_ = best_start + wanted - 1;
    }
    return 0;
  }
  if (visual_class == TrueColor && depth_ == 24) {
    message("NOTE: Display uses 'TrueColor' colour mapping with " + std::to_string(depth_) +
            " bits.");
    true_colour_ = true;
    pixmap_depth_ = 24;
    image_byteswap_ = ImageByteOrder(display_) == LSBFirst;
    rgb_reverse_ = red_mask > blue_mask;
    if (std::strncmp(ServerVendor(display_), "Hum", 3) == 0) {
      image_byteswap_ = true;
      message("Byte swap images because its Hummingbird eXceed");
    }
    min_index_ = 1;
    max_index_ = std::clamp(request.max_colour_cells, 2, 255);
    return 0;
  }
  message(" ");
  message("ERROR: Display uses a colour mapping which is not presently supported.");
  message("       Default colour mapping: Depth = " + std::to_string(depth_) +
          " bits, Class = " + class_name(visual_class));
  message("       Default Depth = " + std::to_string(depth_) + " bits");
  message("       8-bit plane 'PseudoColor' and 24-bit plane 'TrueColor' are");
  message("         presently supported.");
  return 2;
}

bool X11Driver::create_window() {
  XSetWindowAttributes a{};
  a.background_pixel = WhitePixel(display_, screen_);
  a.border_pixel = BlackPixel(display_, screen_);
  a.bit_gravity = SouthWestGravity;
  a.backing_store = WhenMapped;
  a.colormap = colour_map_;
  const Window root = RootWindow(display_, screen_);
  window_ = XCreateWindow(display_, root, 0, 0, static_cast<unsigned>(x_pixels_),
                          static_cast<unsigned>(y_pixels_), 4, depth_, InputOutput, visual_,
                          CWBackPixel | CWBorderPixel | CWBitGravity | CWBackingStore | CWColormap,
                          &a);
  if (window_ == 0) return false;

  const auto bits = icon_bits();
  Pixmap icon = XCreateBitmapFromData(display_, window_, reinterpret_cast<const char*>(bits.data()),
                                      40, 40);
  XTextProperty window_name{}, icon_name{};
  char name_text[] = "Qivo Graphics X-11 Window";
  char icon_text[] = "QG X-11";
  char* name_list[] = {name_text};
  char* icon_list[] = {icon_text};
  // A failed conversion (memory) leaves the window without a name rather
  // than ending the program.
  if (XStringListToTextProperty(name_list, 1, &window_name) == 0) {
    message("WARNING: Structure allocation for windowName failed.");
    return false;
  }
  if (XStringListToTextProperty(icon_list, 1, &icon_name) == 0) {
    message("WARNING: Structure allocation for iconName failed.");
    XFree(window_name.value);
    return false;
  }
  XSizeHints* size = XAllocSizeHints();
  XWMHints* hints = XAllocWMHints();
  XClassHint* klass = XAllocClassHint();
  if (size != nullptr) {
    size->flags = USPosition | USSize | PMinSize;
    size->min_width = format_ == 1 ? 200 : format_ == 2 ? 282 : 200;
    size->min_height = format_ == 1 ? 282 : 200;
  }
  if (hints != nullptr) {
    hints->flags = InputHint | StateHint | IconPixmapHint;
    hints->input = True;
    hints->initial_state = NormalState;
    hints->icon_pixmap = icon;
  }
  char class_name_text[] = "KESTA/MERVODA Graphics";
  char class_text[] = "Basicwin";
  if (klass != nullptr) {
    klass->res_name = class_name_text;
    klass->res_class = class_text;
  }
  XSetWMProperties(display_, window_, &window_name, &icon_name, nullptr, 0, size, hints, klass);
  XFree(window_name.value);
  XFree(icon_name.value);
  if (size != nullptr) XFree(size);
  if (hints != nullptr) XFree(hints);
  if (klass != nullptr) XFree(klass);

  // The window manager's close asks the program instead of ending it.
  wm_delete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display_, window_, &wm_delete_, 1);

  XSelectInput(display_, window_, x11_detail::kOutsideMask);
  XMapWindow(display_, window_);
  return true;
}

void X11Driver::create_gcs() {
  const unsigned long white = WhitePixel(display_, screen_);
  const unsigned long black = BlackPixel(display_, screen_);
  auto make = [this](unsigned long foreground) {
    GC gc = XCreateGC(display_, window_, 0, nullptr);
    XSetForeground(display_, gc, foreground);
    return gc;
  };
  gc_crosshair_ = make(white);
  XSetLineAttributes(display_, gc_crosshair_, 0, LineSolid, CapRound, JoinRound);
  XSetFunction(display_, gc_crosshair_, GXinvert);
  gc_cursor_ = make(white);
  XSetBackground(display_, gc_cursor_, black);
  XSetFunction(display_, gc_cursor_, GXcopy);
  gc_line_ = make(black);
  XSetLineAttributes(display_, gc_line_, 1, LineSolid, CapRound, JoinRound);
  gc_fill_ = make(white);
  XSetFillStyle(display_, gc_fill_, FillSolid);
  gc_marker_ = make(black);
  XSetLineAttributes(display_, gc_marker_, 1, LineSolid, CapRound, JoinRound);
  gc_text_ = make(black);
  gc_pixmap_ = make(black);
  line_style_ = 1;
  line_pixels_ = marker_pixels_ = 1;
}

void X11Driver::wait_for_map() {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kX11MapWaitMs);
  XFlush(display_);
  for (;;) {
    while (!cut() && XPending(display_) > 0) {
      XEvent e;
      XNextEvent(display_, &e);
      if (e.xany.window != window_) continue;
      if (e.type == ConfigureNotify) {
        if (e.xconfigure.width != x_pixels_ || e.xconfigure.height != y_pixels_)
          resize(e.xconfigure.width, e.xconfigure.height);
      } else if (e.type == Expose && e.xexpose.count == 0) {
        return;
      }
    }
    // A connection broken meanwhile is let go of by the first drawing.
    if (cut()) return;
    const int left = remaining_ms(deadline);
    if (left == 0) return;  // never shown (a window manager holds it back): go on
    wait_for_server(display_, left);
  }
}

void X11Driver::release() {
  if (display_ == nullptr) return;
  // On a broken connection these frees are the only calls made after the
  // break, once: Xlib emptied its buffer when the connection broke and drops
  // the few small requests they queue, only freeing its own memory.
  if (private_map_) XFreeColormap(display_, colour_map_);
  private_map_ = false;
  if (font_ != nullptr) XFreeFont(display_, font_);
  font_ = nullptr;
  for (GC* gc : {&gc_crosshair_, &gc_cursor_, &gc_line_, &gc_fill_, &gc_marker_, &gc_text_,
                 &gc_pixmap_}) {
    if (*gc != nullptr) XFreeGC(display_, *gc);
    *gc = nullptr;
  }
  XCloseDisplay(display_);
  display_ = nullptr;
  window_ = 0;
  open_ = false;
  if (open_driver == this) open_driver = nullptr;
}

void X11Driver::close(Status& /*status*/) { release(); }

bool X11Driver::colour_range(ColourRange& range) {
  if (!open_) return false;
  range = {min_index_, max_index_, min_image_, max_image_};
  return true;
}

int X11Driver::load_colours(std::span<const Rgb> table, int first, int last, int first_image,
                            int last_image) {
  if (!live()) return closed_code();
  if (last > 255 || first < 0 || first > last || static_cast<std::size_t>(last) >= table.size())
    return 1;
  min_image_ = first_image;
  max_image_ = last_image;
  base_index_ = first;
  auto component = [](float c) {
    const double v = std::clamp(static_cast<double>(c), 0.0, 1.0);
    return v;
  };
  std::vector<XColor> store;
  for (int i = first; i <= last; ++i) {
    const Rgb& c = table[static_cast<std::size_t>(i)];
    XColor& x = colours_[static_cast<std::size_t>(i - first)];
    x.pixel = static_cast<unsigned long>(i);
    x.red = static_cast<unsigned short>(component(c.red) * 65535.0);
    x.green = static_cast<unsigned short>(component(c.green) * 65535.0);
    x.blue = static_cast<unsigned short>(component(c.blue) * 65535.0);
    x.flags = DoRed | DoGreen | DoBlue;
    if (true_colour_) {
      red_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(component(c.red) * 255.0);
      green_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(component(c.green) * 255.0);
      blue_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(component(c.blue) * 255.0);
    } else {
      store.push_back(x);
    }
  }
  build_image_pixels();
  if (!true_colour_ && !store.empty()) {
    XStoreColors(display_, colour_map_, store.data(), static_cast<int>(store.size()));
    if (!cut()) XFlush(display_);
  }
  return finished();
}

void X11Driver::build_image_pixels() {
  for (int i = 0; i < 256; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!true_colour_) {
      image_pixel_[k] = static_cast<std::uint32_t>(i);
      continue;
    }
    const std::uint32_t r = red_[k], g = green_[k], b = blue_[k];
    image_pixel_[k] = rgb_reverse_ ? (r << 16 | g << 8 | b) : (b << 16 | g << 8 | r);
  }
}

unsigned long X11Driver::index_pixel(int index) const {
  if (!true_colour_) return static_cast<unsigned long>(index & 0xFF);
  const int entry = index - base_index_;
  if (entry < 0 || entry > 255) return BlackPixel(display_, screen_);
  const XColor& c = colours_[static_cast<std::size_t>(entry)];
  auto eight = [](unsigned short v) {
    return static_cast<unsigned long>(v / 65535.0 * 255.0 + 0.5);
  };
  const unsigned long r = eight(c.red), g = eight(c.green), b = eight(c.blue);
  return rgb_reverse_ ? (r << 16 | g << 8 | b) : (b << 16 | g << 8 | r);
}

int X11Driver::colour_mapping(int& mapping, int& depth) {
  if (!live()) return closed_code();
  mapping = true_colour_ ? 2 : 1;
  depth = pixmap_depth_;
  return 0;
}

int X11Driver::transform(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1,
                         float vx2, float vy2, Status& /*status*/) {
  wx1_ = wx1;
  wy1_ = wy1;
  wx2_ = wx2;
  wy2_ = wy2;
  vx1_ = vx1;
  vy1_ = vy1;
  vx2_ = vx2;
  vy2_ = vy2;
  set_transform();
  return 0;
}

void X11Driver::set_transform() {
  const double m = max_pixels_;
  const double dx = static_cast<double>(wx2_) - wx1_;
  const double dy = static_cast<double>(wy2_) - wy1_;
  x_scale_ = dx != 0.0 ? (static_cast<double>(vx2_) - vx1_) * m / dx : m;
  x_offset_ = vx1_ * m - wx1_ * x_scale_;
  y_scale_ = dy != 0.0 ? (static_cast<double>(vy2_) - vy1_) * m / dy : m;
  y_offset_ = vy1_ * m - wy1_ * y_scale_;
}

void X11Driver::resize(int width, int height) {
  x_pixels_ = width;
  y_pixels_ = height;
  const X11Size want = x11_page_aspect(format_, width, height);
  if (want.width != width || want.height != height) {
    XResizeWindow(display_, window_, static_cast<unsigned>(want.width),
                  static_cast<unsigned>(want.height));
    if (!cut()) XFlush(display_);
    // Only the answer to the resize is taken off the queue; a window manager
    // that refuses it leaves the size as it is after a bounded wait.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kX11ResizeWaitMs);
    bool answered = false;
    XEvent e;
    while (!answered && !cut()) {
      if (XCheckTypedWindowEvent(display_, window_, ConfigureNotify, &e) != 0) {
        answered = true;
        x_pixels_ = e.xconfigure.width;
        y_pixels_ = e.xconfigure.height;
        break;
      }
      const int left = remaining_ms(deadline);
      if (left == 0) break;
      wait_for_server(display_, std::min(left, 20));
      if (!cut()) XEventsQueued(display_, QueuedAfterReading);
    }
    if (!answered && !cut()) {
      XWindowAttributes a;
      if (XGetWindowAttributes(display_, window_, &a) != 0) {
        x_pixels_ = a.width;
        y_pixels_ = a.height;
      }
    }
  }
  max_pixels_ = std::max(x_pixels_, y_pixels_);
  set_transform();
  apply_line_width();
  apply_marker_width();
  if (font_ != nullptr && !cut()) load_font(font_height_);
}

// ---- Fonts ----

bool X11Driver::ensure_font() {
  if (load_font_) load_font(font_height_);
  return font_usable_ && font_ != nullptr;
}

void X11Driver::load_font(float height) {
  load_font_ = false;
  if (font_ != nullptr) XFreeFont(display_, font_);
  font_ = nullptr;
  const auto h = static_cast<int>(device_integer(static_cast<double>(height) * max_pixels_, 1e6));
  const X11FontChoice choice = x11_font_choice(h, font_index_);
  // A connection broken on the way is no missing font: the next font is
  // loaded when the window is opened again.
  auto try_font = [this](std::string_view name) {
    if (name.empty() || cut()) return false;
    font_ = XLoadQueryFont(display_, std::string(name).c_str());
    return font_ != nullptr;
  };
  bool found = try_font(choice.first) || try_font(choice.second);
  if (cut()) {
    font_usable_ = false;
    load_font_ = true;
    return;
  }
  if (!found) {
    if (first_font_warning_) {
      first_font_warning_ = false;
      // To the error stream, as the font loader always has.
      std::fprintf(stderr,
                   "Note: Font at height %i points out found, using X-11 font 6x10 instead\n", h);
    }
    found = try_font("6x10");
    if (!found) {
      message("WARNING: X-11 font 6x10 not found, trying 9x15 instead");
      found = try_font("9x15");
    }
  }
  if (!found) {
    message("ERROR: Cannot open  6x10  nor  9x15 fonts,  text  cannot  be");
    message("       output to the X-11 screen.  You may be able to 'load'");
    message("       the necessary fonts,  or  change  the font path.  See");
    message("       your system administrator or local X-11 guru. Ideally");
    message("       the TIMES-ROMAN  series of fonts should be available.");
    font_usable_ = false;
    return;
  }
  font_usable_ = true;
  XSetFont(display_, gc_text_, font_->fid);
  if (!cut()) XSetFont(display_, gc_cursor_, font_->fid);
}

int X11Driver::text_font(int font, Status& /*status*/) {
  if (font != font_index_) {
    font_index_ = font;
    load_font_ = true;
  }
  return 0;
}

int X11Driver::text_height(float page_height, Status& /*status*/) {
  if (std::fabs(page_height - font_height_) > 0.001f) {
    font_height_ = page_height;
    load_font_ = true;
  }
  return 0;
}

int X11Driver::text_width(std::string_view text, float& width) {
  if (!live()) return 1;
  if (!ensure_font() || cut()) {
    finished();
    return 1;
  }
  const int n = static_cast<int>(std::min<std::size_t>(text.size(), 1 << 20));
  width = static_cast<float>(XTextWidth(font_, text.data(), n)) / static_cast<float>(max_pixels_);
  return 0;
}

void X11Driver::window_title(std::string_view title) {
  if (!live()) return;
  std::string copy(title);
  char* list[] = {copy.data()};
  XTextProperty property{};
  if (XStringListToTextProperty(list, 1, &property) == 0) {
    message("WARNING: Structure allocation for window_title failed.");
    return;
  }
  XSetWMName(display_, window_, &property);
  XFree(property.value);
  if (!cut()) XFlush(display_);
  finished();
}

}  // namespace x11_detail
}  // namespace kesta
