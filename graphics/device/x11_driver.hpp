#pragma once
// The X11 window driver: one window per process on the display named by
// DISPLAY, 8-bit PseudoColor or 24-bit TrueColor, drawing through a device
// transform of its own and waiting for clicks, typed lines and redraw
// requests. The kernel makes it with qg_make_x11_driver() (driver.hpp).
//
// The rules below carry no X11 state and are shared by the driver's sources
// (and checked by the tests without a display).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Longest typed line: long enough for file names and form texts.
inline constexpr std::size_t kX11LineLength = 256;
// Lines kept in the typed-line history.
inline constexpr int kX11HistoryEntries = 40;
// Longest time the driver waits for the server to answer a resize or to show
// a newly mapped window, milliseconds.
inline constexpr int kX11ResizeWaitMs = 1000;
inline constexpr int kX11MapWaitMs = 5000;

struct X11Size {
  int width = 0;
  int height = 0;
};

// The window size that keeps the page aspect (1 : 1.414214) for FORMAT 1
// (portrait) or 2 (landscape); any other format keeps the size.
X11Size x11_page_aspect(int format, int width, int height);

// Pixel width of lines and markers of nominal WIDTH in a window whose larger
// side is MAX_PIXELS (at least 1).
int x11_pixel_width(float width, int max_pixels);

// Fonts to try for a character height of H pixels: FIRST (font index 1
// only; empty otherwise) and SECOND. The fixed fall-backs come after both.
struct X11FontChoice {
  std::string_view first;
  std::string_view second;
};
X11FontChoice x11_font_choice(int h, int font_index);

// The typed-line history, a ring of kX11HistoryEntries lines.
struct X11History {
  std::array<std::string, kX11HistoryEntries> entries;
  int count = 0;   // lines stored, 0..kX11HistoryEntries
  int latest = 0;  // slot of the latest line (0-based)

  // Adds LINE unless it is empty or the latest line begins with it.
  void add(std::string_view line);
  // The line POSITION steps back (1 = latest); POSITION must lie in 1..count.
  const std::string& back(int position) const;
};

// The history of the run, shared by every prompt of the window.
X11History& x11_history();

// Editing of one typed line: the keys of the window's prompt box. Every edit
// that cannot be honoured returns false (the caller rings the bell).
class X11LineEditor {
 public:
  explicit X11LineEditor(X11History& history) : history_(history) {}

  // Starts with INITIAL (cut to kX11LineLength), the cursor at its end.
  void start(std::string_view initial);
  bool left();
  bool right();
  bool up();
  bool down();
  // Removes the character before the cursor.
  bool erase();
  // Inserts CHARS before the cursor; refused whole when the line would
  // become longer than kX11LineLength.
  bool insert(std::string_view chars);
  // Ends the line: a non-empty line goes into the history.
  void finish();

  const std::string& line() const { return line_; }
  // 0-based: the number of characters before the cursor.
  std::size_t cursor() const { return cursor_; }

 private:
  X11History& history_;
  std::string line_;
  std::string typed_;  // the line as last typed (before browsing the history)
  std::size_t cursor_ = 0;
  int position_ = 0;  // history position: 0 the line being typed
};

// Colour index of real values on the image colour range FIRST..LAST, linear
// or logarithmic between MINIMUM and MAXIMUM; a value that is not a number
// (a bad pixel) takes NOT_A_NUMBER, so it never passes for a low one.
class X11ImageScale {
 public:
  // False (nothing usable) for a logarithmic range with MINIMUM below 1e-11
  // or MAXIMUM not above MINIMUM.
  bool set(int first, int last, float minimum, float maximum, bool log_scale, int not_a_number);
  int index(float value) const {
    return log_ ? log_index(value) : linear_index(value);
  }

 private:
  int linear_index(float value) const {
    const double d = (static_cast<double>(value) - minimum_) * factor_ + 0.5;
    if (!(d > 0.0)) return d == d ? first_ : not_a_number_;
    if (d >= levels_) return last_;
    const int i = first_ + static_cast<int>(d);
    return i > last_ ? last_ : i;
  }
  int log_index(float value) const;

  int first_ = 0;
  int last_ = 0;
  int not_a_number_ = 0;
  double levels_ = 1.0;
  double minimum_ = 0.0;
  double maximum_ = 0.0;
  double factor_ = 1.0;
  bool log_ = false;
  std::array<double, 256> thresholds_{};
  int count_ = 0;
  double log_minimum_ = 0.0;   // natural logarithm of the minimum
  double inverse_step_ = 0.0;  // thresholds per unit of natural logarithm
};

// The part of the spy glass's patch that lies inside the displayed region.
struct X11SpyPatch {
  Index ix = 0, iy = 0;           // element under the pointer
  Index x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // patch columns and rows kept
  Index cut_left = 0, cut_right = 0, cut_bottom = 0, cut_top = 0;  // elements cut off
};
// The element under page position (FX, FY) of an image shown over the page
// rectangle IMAGE (x1, y1, x2, y2) for the region XSTART..XEND,
// YSTART..YEND, and the WIDTH x HEIGHT patch around it cut to the region.
// False when the position lies outside the image.
bool x11_spy_patch(double fx, double fy, const std::array<float, 4>& image, Index xstart,
                   Index ystart, Index xend, Index yend, int width, int height,
                   X11SpyPatch& patch);

// The window of the open X11 workstation (an X11 Window id), 0 when none is
// open; for tests and tools that look at the window from outside.
unsigned long x11_window_id();

}  // namespace kesta
