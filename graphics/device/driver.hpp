#pragma once
// The one interface between the graphics kernel and its device drivers.
//
// The kernel keeps the workstation table, the transforms, the attributes and
// the colour table; a driver only turns what the kernel sends into device
// output. There is one virtual call per primitive or attribute change, never
// one per pixel or per point.
//
// Contract for every driver:
// - Coordinates of primitives are world coordinates; the driver builds its
//   own device transform from the data window and viewport that `transform`
//   hands it (the kernel sends them at open and at every change, to open and
//   active workstations alike).
// - Every call returns a device code: 0 done, anything else a device failure
//   (1 resource or size limit, 2 bad count, ...). The kernel turns a non-zero
//   code into the calling routine's failure status and still serves the other
//   workstations. A driver that writes a file reports a failed write through
//   STATUS instead (the core's IO_WRITE_FILE does that) and returns 0.
// - Counts arrive already checked by the kernel: polylines have at least 2
//   points, markers at least 1, fill areas 3 to kMaxFillPoints vertices, so
//   every driver draws the same polygons. Long polylines and marker lists are
//   the driver's to split.
// - Colour indices lie in 0..255 (-1, inverse video, only for the line
//   colour); the kernel passes the colour table entry with the index, so a
//   driver that writes colours needs no table of its own.
// - Buffers passed to a call belong to the caller and are valid during the
//   call only: a driver that keeps an image copies it. The one exception is
//   the spy glass's image, which the caller keeps alive until the next
//   spy_glass call.
// - A driver's destructor releases its device if `close` was not called (the
//   kernel drops its drivers when it is opened again).
// - Input, window title, colour map and text measuring exist only on a
//   window device; the defaults answer "not supported" (code 1) and the
//   kernel writes its own warnings for devices that cannot do them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/region.hpp"
#include "core/types.hpp"

namespace kesta {

// Truncation toward zero of a device coordinate computed in double, after
// clamping it to -LIMIT..LIMIT (NaN gives 0): a point far outside the page
// neither wraps around nor overflows the conversion. The PostScript driver
// and the raster use 1e9; a window driver's 16-bit points use +-32767.
inline std::int64_t device_integer(double value, double limit) {
  if (value != value) return 0;
  if (value > limit) value = limit;
  if (value < -limit) value = -limit;
  return static_cast<std::int64_t>(value);
}

// A cell-array region (first element XSTRELM, YSTRELM and XNUM x YNUM
// elements) inside an array of XMAXDAT x YMAXDAT that holds SIZE elements:
// 0, or the failure code (130001 bad first dimension, 130002 bad second
// dimension, count or array size, 130017 no columns, 130005 outside).
inline Status cell_region_error(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                                Index xnum, Index ynum, std::size_t size) {
  if (xmaxdat < 1) return 130001;
  if (ymaxdat < 1) return 130002;
  if (xnum < 1) return 130017;
  if (ynum < 1) return 130002;
  if (xstrelm < 1 || xstrelm > xmaxdat || xnum > xmaxdat - xstrelm + 1) return 130005;
  if (ystrelm < 1 || ystrelm > ymaxdat || ynum > ymaxdat - ystrelm + 1) return 130005;
  if (!array_holds(size, xmaxdat, ymaxdat)) return 130002;
  return 0;
}

// The same for a real cell array of DATA_SIZE elements; a mask that is used
// must hold as many (130002).
inline Status real_cell_region_error(bool masked, Index xmaxdat, Index ymaxdat, Index xstrelm,
                                     Index ystrelm, Index xnum, Index ynum,
                                     std::size_t data_size, std::size_t mask_size) {
  if (const Status code =
          cell_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xnum, ynum, data_size);
      code != 0)
    return code;
  return masked && mask_size < data_size ? 130002 : 0;
}

// Largest number of vertices of one filled polygon on every device.
inline constexpr int kMaxFillPoints = 200;

// Workstation categories.
inline constexpr int kCategoryX11 = 10;
inline constexpr int kCategoryPostScript = 20;

struct Rgb {
  float red = 0.0f;
  float green = 0.0f;
  float blue = 0.0f;
};

// What a driver needs to open its device.
struct OpenRequest {
  int type = 0;                // workstation type 11, 12, 21 .. 24
  int unit = 0;                // stream of an already opened file (PostScript)
  int colour_cells = 108;      // colour cells to request (window)
  int max_colour_cells = 256;  // maximum colour indices (window)
  int x_pixels = 0;            // wanted window size (window)
  int y_pixels = 0;
};

// The colour indices a window device obtained at open.
struct ColourRange {
  int first = 0;
  int last = 0;
  int first_image = 0;
  int last_image = 0;
};

// Size of the kernel's raster for a device.
struct RasterGeometry {
  int device_flag = 0;  // 1 rows stored top row first (window), 0 bottom first
  int width = 0;        // cells
  int height = 0;
  int scale_size = 0;   // cells per page unit
};

// The used box of the kernel's raster, and the page rectangle the box covers.
// BYTES is the whole raster, row by row, bottom row first unless TOP_FIRST
// (a raster sized by a window); the box is 1-based and inclusive in rows as
// stored. The kernel keeps and frees the raster: a driver copies what it shows.
struct RasterImage {
  Index width = 0;      // whole raster, cells
  Index height = 0;
  Index x1 = 1, y1 = 1, x2 = 1, y2 = 1;
  bool top_first = false;
  std::span<const std::uint8_t> bytes;
  float page_x1 = 0, page_y1 = 0, page_x2 = 0, page_y2 = 0;
};

// A cell array region: world rectangle, declared dimensions, first element
// and number of elements.
struct CellRegion {
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  Index xmaxdat = 0, ymaxdat = 0;
  Index xstrelm = 1, ystrelm = 1;
  Index xnum = 0, ynum = 0;
};

class Driver {
 public:
  virtual ~Driver() = default;

  virtual int category() const = 0;

  // Opens the device; the kernel calls it once, before anything else.
  virtual int open(const OpenRequest& request, Status& status) = 0;
  // Closes the device (a PostScript file itself stays with its caller).
  virtual void close(Status& status) = 0;
  // The colour indices a window obtained; false for devices that take the
  // kernel's ranges as they are.
  virtual bool colour_range(ColourRange& /*range*/) { return false; }

  // Transform and page.
  virtual int transform(float wx1, float wy1, float wx2, float wy2, float vx1, float vy1,
                        float vx2, float vy2, Status& status) = 0;
  virtual int clip(bool on, float x1, float y1, float x2, float y2, Status& status) = 0;
  virtual int clear(Status& status) = 0;
  virtual int update(Status& status) = 0;

  // Attributes (only changes are sent).
  virtual int line_colour(int index, const Rgb& colour, Status& status) = 0;
  virtual int line_style(int style, Status& status) = 0;
  virtual int line_width(float width, Status& status) = 0;
  virtual int fill_colour(int index, const Rgb& colour, Status& status) = 0;
  virtual int marker_type(int type, Status& status) = 0;
  virtual int marker_colour(int index, const Rgb& colour, Status& status) = 0;
  virtual int marker_scale(float scale, Status& status) = 0;
  virtual int marker_width(float width, Status& status) = 0;
  virtual int text_font(int font, Status& status) = 0;
  virtual int text_height(float page_height, Status& status) = 0;
  virtual int text_colour(int index, const Rgb& colour, Status& status) = 0;
  virtual int text_alignment(int horizontal, int vertical, Status& status) = 0;
  // Degrees; a window driver converts with the kernel's constant 3.1415925 / 180.
  virtual int text_angle(float degrees, Status& status) = 0;

  // Primitives.
  virtual int polyline(std::span<const float> x, std::span<const float> y, Status& status) = 0;
  virtual int polymarker(std::span<const float> x, std::span<const float> y, Status& status) = 0;
  virtual int fill_area(std::span<const float> x, std::span<const float> y, Status& status) = 0;
  virtual int text(float x, float y, std::string_view text, Status& status) = 0;
  virtual int cell_array(const CellRegion& region, std::span<const int> indices,
                         Status& status) = 0;
  // Real image mapped onto the image colour range between MINIMUM and
  // MAXIMUM (already widened by the kernel), logarithmically when LOG_SCALE.
  virtual int real_cell_array(bool masked, const CellRegion& region, std::span<const float> data,
                              std::span<const std::uint8_t> mask, float minimum, float maximum,
                              int mask_colour, bool log_scale, Status& status) = 0;

  // Raster mode: the size of the raster this device wants, and the raster
  // itself when raster mode ends.
  virtual void raster_geometry(float page_x, float page_y, RasterGeometry& geometry) = 0;
  virtual int raster_image(const RasterImage& image, Status& status) = 0;

  // Window services.
  virtual int load_colours(std::span<const Rgb> /*table*/, int /*first*/, int /*last*/,
                           int /*first_image*/, int /*last_image*/) {
    return 0;
  }
  virtual int colour_mapping(int& /*mapping*/, int& /*depth*/) { return 1; }
  virtual int text_width(std::string_view /*text*/, float& /*width*/) { return 1; }
  virtual void window_title(std::string_view /*title*/) {}
  virtual int request_redraw() { return 1; }
  // True once the window is gone (closed through the window manager,
  // destroyed, or its display connection lost). The driver has then let go
  // of it: drawing does nothing (code 0) and every wait fails at once.
  virtual bool window_lost() const { return false; }
  // Asks the server whether the window is still there, noting a loss that no
  // wait has met yet (a close request queued, the window destroyed); other
  // events stay queued. True while the window is there.
  virtual bool window_still_there() { return !window_lost(); }
  // Waits: TYPE 0 button (X, Y page coordinates), 1 redraw, 2 line, 3 Tab,
  // -1/-2 nothing when polling.
  virtual int input_coordinate(int /*mode*/, int& /*type*/, float& /*x*/, float& /*y*/) {
    return 1;
  }
  virtual int input_event(int /*mode*/, bool /*prompt_flag*/, std::string_view /*prompt*/,
                          bool /*init_flag*/, float /*x1*/, float /*y1*/, float /*x2*/,
                          float /*y2*/, int& /*type*/, std::string& /*text*/, float& /*x*/,
                          float& /*y*/) {
    return 1;
  }
  virtual int rubber_band(int /*mode*/, float /*x*/, float /*y*/) { return 1; }
  virtual int spy_glass(int /*mode*/, Index /*xdim*/, Index /*ydim*/, Index /*xstart*/,
                        Index /*ystart*/, Index /*xend*/, Index /*yend*/,
                        std::span<const float> /*data*/, float /*xmin_image*/,
                        float /*ymin_image*/, float /*xmax_image*/, float /*ymax_image*/,
                        float /*xmin_spy*/, float /*ymin_spy*/, float /*xmax_spy*/,
                        float /*ymax_spy*/, int /*width*/, int /*height*/) {
    return 1;
  }
};

// The window driver: made by the X11 driver's source. Until that driver is
// part of the library this returns nullptr, and opening a window workstation
// fails as a window that cannot be opened does.
std::unique_ptr<Driver> qg_make_x11_driver();

}  // namespace kesta
