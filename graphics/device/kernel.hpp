#pragma once
// The device-independent graphics kernel: a table of up to 10 workstations
// (an X11 window and PostScript files), world-to-page transforms, output
// attributes, the colour table, output primitives and raster mode. Every
// primitive and attribute change goes to the driver of each active
// workstation through the interface of driver.hpp.
//
// Misuse that drawing can survive (unknown workstation, wrong state, closed
// system, a device that cannot do it) writes one line ending with the
// routine's name in parentheses and leaves STATUS good.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"
#include "graphics/device/driver.hpp"

namespace kesta {

inline constexpr int kMaxWorkstations = 10;
inline constexpr float kPageShortSide = 0.70710677f;  // page extent stored per workstation
inline constexpr float kPageDefault = 0.7071f;        // default windows and fall-back extent

// QG_DB_SYSTEM: the workstation table. Slots 0..number_workstations-1 are in
// use, in order of opening; closing one moves the later slots down.
struct QgDbSystem {
  int system_open = 0;
  int number_workstations = 0;
  std::array<int, kMaxWorkstations> user_id{};
  std::array<int, kMaxWorkstations> unit{};
  std::array<int, kMaxWorkstations> device_type{};
  std::array<int, kMaxWorkstations> category{};
  std::array<int, kMaxWorkstations> state{};  // 0 free, 1 open, 2 active
  std::array<float, kMaxWorkstations> page_extent_x{};
  std::array<float, kMaxWorkstations> page_extent_y{};
  std::array<std::unique_ptr<Driver>, kMaxWorkstations> driver;  // moves with its slot
};
inline QgDbSystem qg_db_system;

// QG_DB_OPENWK: open X11 and PostScript workstations (at most one of each).
struct QgDbOpenwk {
  int x11 = 0;
  int postscript = 0;
};
inline QgDbOpenwk qg_db_openwk;

// QG_DB_TRANSFORM: data window, viewport and clip window.
struct QgDbTransform {
  float wx1 = 0, wy1 = 0, wx2 = kPageDefault, wy2 = 1.0f;
  float vx1 = 0, vy1 = 0, vx2 = kPageDefault, vy2 = 1.0f;
  float cx1 = 0, cy1 = 0, cx2 = kPageDefault, cy2 = 1.0f;
};
inline QgDbTransform qg_db_transform;

// QG_DB_RASTERMODE: raster mode, its scaling, and the current line, fill and
// marker attributes.
struct QgDbRastermode {
  bool raster_mode = false;
  int scale_size = 707;  // cells per page unit
  int width = 0;         // raster cells
  int height = 0;
  int fill_colour = 2;
  float x_offset = 0, y_offset = 0, x_scale = 707.0f, y_scale = 707.0f;
  int device_flag = 0;  // 1 rows stored top row first (window), 0 bottom first
  int line_colour = 1;
  int line_style = 1;
  float line_width = 1.0f;
  int marker_type = 2;
  int marker_colour = 2;
  float marker_scale = 1.0f;
  float marker_width = 1.0f;
};
inline QgDbRastermode qg_db_rastermode;

// QG_DB_PRASTERMODE: the raster buffer, owned by the kernel.
struct QgDbPrastermode {
  std::vector<std::uint8_t> raster;
};
inline QgDbPrastermode qg_db_prastermode;

// QG_DB_BRASTERMODE: the fill colour as a raster byte.
struct QgDbBrastermode {
  std::uint8_t fill_byte = 2;
};
inline QgDbBrastermode qg_db_brastermode;

// QG_DB_TEXTATTS: text attributes.
struct QgDbTextatts {
  int font = 1;
  float height = 0.0f;  // page units; 0 until set
  int ps_size = 131;    // PostScript font size, 0.1 pt
  int colour = 2;
  int horizontal = 0;
  int vertical = 0;
  float angle = 0.0f;  // degrees
};
inline QgDbTextatts qg_db_textatts;

// QG_DB_COLOURS: the colour table and its index ranges.
struct QgDbColours {
  std::array<Rgb, 256> table{};
  int first_usable = 41;
  int last_usable = 250;
  int first_image = 49;
  int last_image = 250;
  bool log_scaling = false;
  int x11_request = 108;
  int x11_maximum = 256;
};
inline QgDbColours qg_db_colours;

// QG_DB_RESOLUTION: PostScript image resolution (cells).
struct QgDbResolution {
  int resolution = 600;
};
inline QgDbResolution qg_db_resolution;

// ---- Workstations and kernel state ----
void QG_OPEN(int flag, Status& status);
void QG_CLOSE(Status& status);
void QG_OPEN_WK(int id, int unit, int type, Status& status);
void QG_ACTIVATE_WK(int id, Status& status);
void QG_DEACTIVATE_WK(int id, Status& status);
void QG_CLOSE_WK(int id, Status& status);
void QG_UPDATE(int id, int flag, Status& status);
void QG_SET_UPDATE(int id, Status& status);
void QG_WINDOW_TITLE(std::string_view title, Status& status);
void QG_INQ_MAXPC(int id, float& xmax, float& ymax, Status& status);
void QG_SET_RESOLUTION(int resolution, Status& status);

// Slot (0-based) of workstation ID, or -1.
int qg_find_workstation(int id);
// The driver of an open X11 workstation whose window is still there, or
// nullptr (for the input routines).
Driver* qg_x11_driver();
// True when an open X11 workstation's window went away (closed through the
// window manager, destroyed, or its display gone).
bool qg_window_lost();
// Like qg_x11_driver() != nullptr, but asks the server first, so that a
// window closed since the last wait is seen (and said) now.
bool qg_window_still_there();
// True when the window was lost and no wait for input has met that loss yet
// (it went while a picture was being drawn); qg_answer_window_loss notes
// that a wait met it.
bool qg_window_loss_unanswered();
void qg_answer_window_loss();

// ---- Transforms and clipping ----
void QG_DATAWINDOW(float x1, float y1, float x2, float y2, Status& status);
void QG_VIEWPORT(float x1, float y1, float x2, float y2, Status& status);
void QG_CLIPWINDOW(float x1, float y1, float x2, float y2, Status& status);
void QG_CLIP(bool on, Status& status);
void QG_UNITYTRANSFORM(bool set, Status& status);
float QG_PC2WC(bool xaxis, float value, Status& status);
float QG_WC2PC(bool xaxis, float value, Status& status);
void QG_INQ_DATAWINDOW(float& x1, float& y1, float& x2, float& y2, Status& status);
void QG_INQ_VIEWPORT(float& x1, float& y1, float& x2, float& y2, Status& status);
void QG_INQ_SCALING(float& xscale, float& yscale, Status& status);

// ---- Attributes ----
void QG_LINECOLOUR(int index, Status& status);
void QG_LINESTYLE(int style, Status& status);
void QG_LINEWIDTH(float width, Status& status);
void QG_FILLCOLOUR(int index, Status& status);
void QG_MARKERTYPE(int type, Status& status);
void QG_MARKERCOLOUR(int index, Status& status);
void QG_MARKERSCALE(float scale, Status& status);
void QG_MARKERWIDTH(float width, Status& status);
void QG_TEXTFONT(int font, Status& status);
void QG_TEXTHEIGHT(float height, Status& status);
void QG_TEXTCOLOUR(int index, Status& status);
void QG_TEXTALIGNMENT(int horizontal, int vertical, Status& status);
void QG_TEXTANGLE(float angle, Status& status);
void QG_INQ_TEXTFONT(int& font, Status& status);
void QG_INQ_TEXTWIDTH(int nchars, std::string_view text, float& width, Status& status);

// ---- Colour table ----
void QG_DEF_COLOURS(Status& status);
void QG_BESTCOLOUR(float red, float green, float blue, int& index, Status& status);
// TABLE holds SIZE entries indexed from 0 like the kernel's.
void QG_COLOURS(int size, int start, int end, std::span<const Rgb> table, Status& status);
void QG_ROTATELUT(int shift, Status& status);
void QG_SET_IMAGERANGE(int first, int last, Status& status);
void QG_INQ_IMAGERANGE(int& first, int& last, Status& status);
void QG_SET_LOGZSCALING(bool log, Status& status);
void QG_INQ_LOGZSCALING(bool& log, Status& status);
void QG_SET_COLOURINDICES(int request, int maximum, Status& status);
void QG_INQ_COLOURMAPPING(int& mapping, int& depth, Status& status);

// ---- Primitives and raster mode ----
void QG_POLYLINE(int n, std::span<const float> x, std::span<const float> y, Status& status);
void QG_POLYMARKER(int n, std::span<const float> x, std::span<const float> y, Status& status);
// Fewer than 3 vertices give 130017, more than kMaxFillPoints 130009, before
// any device or the raster sees the polygon.
void QG_FILLAREA(int n, std::span<const float> x, std::span<const float> y, Status& status);
void QG_TEXT(float x, float y, std::string_view text, Status& status);
void QG_CLEAR(Status& status);
void QG_CELLARRAY(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
                  Index xstrelm, Index ystrelm, Index xnum, Index ynum,
                  std::span<const int> indices, Status& status);
void QG_REALCELLARRAY(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xnum, Index ynum,
                      std::span<const float> data, float minimum, float maximum, Status& status);
void QG_RMASKCELLARRAY(bool masked, float x1, float y1, float x2, float y2, Index xmaxdat,
                       Index ymaxdat, Index xstrelm, Index ystrelm, Index xnum, Index ynum,
                       std::span<const float> data, std::span<const std::uint8_t> mask,
                       float minimum, float maximum, int mask_colour, Status& status);
void QG_3DMIMAGE(bool masked, float minimum, float maximum, float x1, float y1, float x2, float y2,
                 float x3, float y3, float x4, float y4, Index xdim, Index ydim, Index xstart,
                 Index ystart, Index xend, Index yend, std::span<const float> data,
                 std::span<const std::uint8_t> mask, int mask_colour, Status& status);
void QG_SET_RASTERMODE(bool on, Status& status);
// Background byte (-1 for none) and the box of a byte array that differs
// from it, with one cell of background kept on each side that has one.
void QG_BMAXSETREGION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<const std::uint8_t> bytes, int& background,
                      Index& x1, Index& y1, Index& x2, Index& y2, Status& status);

// The display range of a real image: MIN = MAX widened, logarithmic limits
// made usable (applied to copies before any device sees them). A widening
// that would pass the float range (a constant near 3.4E+38) stops at its end.
void qg_image_scaling_range(bool log_scale, float& minimum, float& maximum);

// VALUE worked out in double, kept within the float range: a display range,
// a margin or a position beyond the data that passes 3.4E+38 stops at the
// largest float of its sign (a NaN stays a NaN).
float qg_float_range(double value);

}  // namespace kesta
