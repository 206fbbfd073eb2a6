#pragma once
// The X11 driver's class, shared by its source files only. Xlib's macros
// Status and Bool are removed after its headers: Status is the program's
// status word here.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Status
#undef Bool

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/device/driver.hpp"
#include "graphics/device/x11_driver.hpp"

namespace kesta::x11_detail {

// Event masks: outside waits, while waiting, and while polling.
inline constexpr long kOutsideMask = KeyPressMask | ButtonPressMask | ExposureMask |
                                     StructureNotifyMask;  // 163845
inline constexpr long kWaitingMask = kOutsideMask | PointerMotionMask;  // 163909
inline constexpr long kPollMask = kWaitingMask | ButtonReleaseMask;     // 163917

// Waits up to MS milliseconds (MS negative: without limit) for data from
// the server or the end of the connection.
void wait_for_server(Display* display, int ms);

inline constexpr int kPointRun = 200;
// Limit of device coordinates sent to the server: a 16-bit point, with room
// for the server to add the window's position on the screen (its polygon
// filling fails near the ends of the 16-bit range).
inline constexpr double kPointLimit = 16383.0;

// Where an image's elements go in the window: the whole image rectangle in
// window pixels and the element region it shows.
struct ImagePlacement {
  Index left = 0, top = 0, width = 1, height = 1;
  Index xmaxdat = 1;
  Index xstart = 1, ystart = 1, nx = 1, ny = 1;
  bool top_row_first = false;  // element row YSTART at the top (else the last row)
};

class X11Driver final : public Driver {
 public:
  X11Driver() = default;
  ~X11Driver() override;
  X11Driver(const X11Driver&) = delete;
  X11Driver& operator=(const X11Driver&) = delete;

  int category() const override { return kCategoryX11; }
  int open(const OpenRequest& request, Status& status) override;
  void close(Status& status) override;
  bool colour_range(ColourRange& range) override;

  int transform(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1, float vx2,
                float vy2, Status& status) override;
  int clip(bool on, float x1, float y1, float x2, float y2, Status& status) override;
  int clear(Status& status) override;
  int update(Status& status) override;

  int line_colour(int index, const Rgb& colour, Status& status) override;
  int line_style(int style, Status& status) override;
  int line_width(float width, Status& status) override;
  int fill_colour(int index, const Rgb& colour, Status& status) override;
  int marker_type(int type, Status& status) override;
  int marker_colour(int index, const Rgb& colour, Status& status) override;
  int marker_scale(float scale, Status& status) override;
  int marker_width(float width, Status& status) override;
  int text_font(int font, Status& status) override;
  int text_height(float page_height, Status& status) override;
  int text_colour(int index, const Rgb& colour, Status& status) override;
  int text_alignment(int horizontal, int vertical, Status& status) override;
  int text_angle(float degrees, Status& status) override;

  int polyline(std::span<const float> x, std::span<const float> y, Status& status) override;
  int polymarker(std::span<const float> x, std::span<const float> y, Status& status) override;
  int fill_area(std::span<const float> x, std::span<const float> y, Status& status) override;
  int text(float x, float y, std::string_view text, Status& status) override;
  int cell_array(const CellRegion& region, std::span<const int> indices, Status& status) override;
  int real_cell_array(bool masked, const CellRegion& region, std::span<const float> data,
                      std::span<const std::uint8_t> mask, float minimum, float maximum,
                      int mask_colour, bool log_scale, Status& status) override;

  void raster_geometry(float page_x, float page_y, RasterGeometry& geometry) override;
  int raster_image(const RasterImage& image, Status& status) override;

  int load_colours(std::span<const Rgb> table, int first, int last, int first_image,
                   int last_image) override;
  int colour_mapping(int& mapping, int& depth) override;
  int text_width(std::string_view text, float& width) override;
  void window_title(std::string_view title) override;
  int request_redraw() override;
  int input_coordinate(int mode, int& type, float& x, float& y) override;
  int input_event(int mode, bool prompt_flag, std::string_view prompt, bool init_flag, float x1,
                  float y1, float x2, float y2, int& type, std::string& text, float& x,
                  float& y) override;
  int rubber_band(int mode, float x, float y) override;
  int spy_glass(int mode, Index xdim, Index ydim, Index xstart, Index ystart, Index xend,
                Index yend, std::span<const float> data, float xmin_image, float ymin_image,
                float xmax_image, float ymax_image, float xmin_spy, float ymin_spy,
                float xmax_spy, float ymax_spy, int width, int height) override;

  ::Window window() const { return window_; }
  Display* display() const { return display_; }
  bool window_lost() const override { return lost_; }
  bool window_still_there() override;
  // The display connection broke (called from Xlib's I/O error exit).
  void connection_broken() { connection_lost_ = true; }
  // The server refused a request because the window no longer exists
  // (called from the protocol error handler).
  void window_destroyed() { destroyed_ = true; }
  bool window_gone_from_server() const { return destroyed_ || lost_; }

 private:
  // Window, colour map and fonts.
  int choose_colours(const OpenRequest& request);
  bool create_window();
  void create_gcs();
  void release();
  void set_transform();
  void resize(int width, int height);
  void wait_for_map();
  bool ensure_font();
  void load_font(float height);
  unsigned long index_pixel(int index) const;
  void build_image_pixels();

  // Drawing.
  XPoint point(float x, float y) const;
  int column(double x) const;
  int row(double y) const;
  void apply_line_width();
  void apply_marker_width();
  // 0, or -1 (no pixmap for the text) or -2 (the text image not read back).
  int draw_rotated_text(int px, int py, std::string_view text, int w, int h_offset, int v_offset);
  template <class IndexOf>
  int put_image(const ImagePlacement& place, IndexOf&& index_of);
  template <int Bytes, class IndexOf>
  void fill_image(char* buffer, int bytes_per_line, int columns, int rows,
                  const Index* column_offset, const Index* row_offset, IndexOf& index_of);
  bool scaled_placement(const CellRegion& region, ImagePlacement& place) const;
  int real_image(bool masked, const CellRegion& region, std::span<const float> data,
                 std::span<const std::uint8_t> mask, float minimum, float maximum,
                 int mask_colour, bool log_scale, bool quiet);

  // Input.
  bool next_event(int mode, XEvent& event);
  // True (after letting go of the window) when EVENT or a broken connection
  // means the window is gone.
  bool window_gone(const XEvent* event);
  // Lets go of a window that is gone (destroying it first when the window
  // manager asked to close it) and says so once.
  void lose_window(bool destroy);
  // The answer of a drawing call without a window: nothing to do once the
  // window is gone, a failure before it was opened.
  int closed_code() const { return lost_ ? 0 : 1; }
  // Whether requests may go to the server. A connection that broke under an
  // earlier request is let go of here, as a window the user closed: Xlib
  // then sends nothing more, and a request that finds its buffer full
  // writes through a null pointer.
  bool live();
  // The end of a drawing call: a connection that broke during it is let go
  // of at once, so the kernel knows the window is gone (0).
  int finished();
  // Inside a call: the connection broke (or the window was let go of by a
  // call made from here), and no further request may be made.
  bool cut() const { return !open_ || connection_lost_; }
  // Page position of a button press (Y up from the bottom).
  void click_position(const XEvent& event, float& x, float& y) const;
  void pointer_moved(int px, int py);
  void erase_crosshair();
  void draw_band(int px, int py);
  void end_wait();
  void draw_prompt(float x1, float y1, float x2, float y2, std::string_view prompt,
                   const X11LineEditor& editor);
  void draw_spy_glass(int px, int py);

  bool open_ = false;
  bool lost_ = false;             // the window went away under the program
  bool connection_lost_ = false;  // the display connection broke
  bool destroyed_ = false;        // the server no longer knows the window
  Atom wm_delete_ = 0;            // the window manager's close request
  Display* display_ = nullptr;
  int screen_ = 0;
  ::Window window_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  Colormap colour_map_ = 0;
  bool private_map_ = false;

  int format_ = 1;
  int x_pixels_ = 500, y_pixels_ = 707, max_pixels_ = 707;
  float wx1_ = 0, wy1_ = 0, wx2_ = 1, wy2_ = 1;
  float vx1_ = 0, vy1_ = 0, vx2_ = 1, vy2_ = 1;
  double x_scale_ = 1, x_offset_ = 0, y_scale_ = 1, y_offset_ = 0;

  bool true_colour_ = false;
  int pixmap_depth_ = 24;
  bool image_byteswap_ = false;
  bool rgb_reverse_ = false;
  int min_index_ = 0, max_index_ = 0;
  int min_image_ = 0, max_image_ = 0;
  int base_index_ = 0;
  std::array<XColor, 256> colours_{};
  std::array<std::uint8_t, 256> red_{}, green_{}, blue_{};
  std::array<std::uint32_t, 256> image_pixel_{};  // pixel value of each colour index

  GC gc_crosshair_ = nullptr, gc_cursor_ = nullptr, gc_line_ = nullptr, gc_fill_ = nullptr,
     gc_marker_ = nullptr, gc_text_ = nullptr;
  // Draws a rotated text into its pixmap: made once, so that no request is
  // left to free it when the connection breaks in the middle of a text.
  GC gc_pixmap_ = nullptr;

  XFontStruct* font_ = nullptr;
  int font_index_ = 1;
  float font_height_ = 0.0166667f;
  bool load_font_ = true;
  bool font_usable_ = true;
  bool first_font_warning_ = true;

  int text_index_ = -999;
  unsigned long text_pixel_ = 0;
  int fill_index_ = -999;
  int line_index_ = -999;
  int marker_index_ = -999;
  int line_style_ = 1;
  float line_width_ = 1.0f, marker_width_ = 1.0f, marker_scale_ = 1.0f;
  int line_pixels_ = 1, marker_pixels_ = 1;
  int marker_type_ = 5;
  int horizontal_ = 0, vertical_ = 0;
  double angle_ = 0.0;  // radians
  bool log_scaling_ = false;
  int mask_colour_ = 1;  // of the last image: the spy glass shows bad pixels alike

  std::vector<char> image_buffer_;  // reused by every image
  Index failed_bytes_ = 0;  // size of the image buffer that could not be had
  int failed_bytes_per_line_ = 0, failed_rows_ = 0;

  // Input state.
  int band_mode_ = 0;
  float band_x_ = 0, band_y_ = 0;
  bool band_drawn_ = false;
  int band_px_ = 0, band_py_ = 0;
  bool cross_drawn_ = false;
  int cross_px_ = 0, cross_py_ = 0;

  int spy_mode_ = 0;
  Index spy_xdim_ = 0, spy_ydim_ = 0;
  Index spy_xstart_ = 1, spy_ystart_ = 1, spy_xend_ = 1, spy_yend_ = 1;
  std::span<const float> spy_data_;
  std::array<float, 4> spy_image_{};
  std::array<float, 4> spy_view_{};
  int spy_width_ = 1, spy_height_ = 1;
};

}  // namespace kesta::x11_detail
