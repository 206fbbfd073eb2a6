// The shaded 3-D surface view: the region block-averaged to the 3-D pixel
// limit, its cells painted back to front into the kernel's raster (nearer
// cells cover farther ones), walls, box, image planes and axes around it.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/views3d.hpp"
#include "numeric/rebin.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

// Radians to degrees with the program's value of pi.
constexpr float kPi = 3.1415925f;
constexpr float kTextHeight = 0.0166667f;  // page height of a scale-1 character

// Raster mode ends on every return, so that later drawing reaches the
// devices again.
struct RasterModeOff {
  ~RasterModeOff() {
    if (!qg_db_rastermode.raster_mode) return;
    Status local = kStatusGood;
    QG_SET_RASTERMODE(false, local);
  }
};

// Drawing clipped to the 3-D view's frame (in world units of the transform
// in force) while it lives.
class FrameClip {
 public:
  explicit FrameClip(Status& status) {
    const GsRect frame = gs_3d_frame(status);
    const float x1 = QG_PC2WC(true, frame.xmin, status), x2 = QG_PC2WC(true, frame.xmax, status);
    const float y1 = QG_PC2WC(false, frame.ymin, status), y2 = QG_PC2WC(false, frame.ymax, status);
    if (status != kStatusGood || !(x1 < x2) || !(y1 < y2)) return;
    QG_CLIPWINDOW(x1, y1, x2, y2, status);
    QG_CLIP(true, status);
    on_ = status == kStatusGood;
  }
  ~FrameClip() {
    if (!on_) return;
    Status local = kStatusGood;
    QG_CLIP(false, local);
  }
  FrameClip(const FrameClip&) = delete;
  FrameClip& operator=(const FrameClip&) = delete;

 private:
  bool on_ = false;
};

// A vertical edge of the box, where the Z axis may stand, with the
// direction its ticks point in, and the heights LOW..HIGH of its part inside
// the frame (LOW above HIGH when none is).
struct ZAxisCorner {
  float x = 0, y = 0, dx = 1, dy = -1;
  float low = 1, high = 0;
};

// The heights of the part of the vertical edge at (X, Y), 0..H, that the
// page shows inside FRAME (world units): the edge projects to a straight
// line, which meets the frame in one piece.
void inside_heights(float x, float y, float h, const GsRect& frame, float& low, float& high) {
  constexpr int kSteps = 512;
  low = 1, high = 0;
  for (int k = 0; k <= kSteps; ++k) {
    const float z = h * static_cast<float>(k) / kSteps;
    float u = 0, v = 0;
    gs_3d_project(gs_state.view3d, x, y, z, u, v);
    if (u < frame.xmin || u > frame.xmax || v < frame.ymin || v > frame.ymax) continue;
    if (low > high) low = z;
    high = z;
  }
}

// The corner of the Z axis: the one its azimuth gives, unless a zoomed or
// moved view leaves fewer than two of its large ticks inside the frame
// (FRAME, world units); then the vertical edge with the most of them
// inside, or else the longest part inside, so that the heights stay
// numbered. HEIGHT gives the box height of a value, H the box's.
template <typename Height>
ZAxisCorner z_axis_corner(float az, float xs, float xe, float ys, float ye, float h,
                          float range_min, float range_max, Height height, const GsRect& frame,
                          Status& status) {
  std::array<ZAxisCorner, 4> corners{ZAxisCorner{xs, ys, -1, -1}, ZAxisCorner{xs, ye, -1, 1},
                                     ZAxisCorner{xe, ye, 1, 1}, ZAxisCorner{xe, ys, 1, -1}};
  for (ZAxisCorner& c : corners) inside_heights(c.x, c.y, h, frame, c.low, c.high);
  const std::size_t given = az >= 270.0f ? 0 : az <= 90.0f ? 1 : az <= 180.0f ? 2 : 3;
  float first = 0, interval = 1;
  int number = 0;
  GS_CAL_TICKS(range_min, range_max, first, interval, number, status);
  if (status != kStatusGood) return corners[given];
  const auto inside = [&](const ZAxisCorner& c) {
    int n = 0;
    for (int k = 0; k < number; ++k) {
      float u = 0, v = 0;
      gs_3d_project(gs_state.view3d, c.x, c.y, height(first + k * double{interval}), u, v);
      n += u >= frame.xmin && u <= frame.xmax && v >= frame.ymin && v <= frame.ymax;
    }
    return n;
  };
  const auto length = [&](const ZAxisCorner& c) {
    if (!(c.low < c.high)) return 0.0f;
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    gs_3d_project(gs_state.view3d, c.x, c.y, c.low, u0, v0);
    gs_3d_project(gs_state.view3d, c.x, c.y, c.high, u1, v1);
    return std::hypot(u1 - u0, v1 - v0);
  };
  std::size_t best = given;
  int most = inside(corners[given]);
  if (most < 2)
    for (std::size_t k = 0; k < corners.size(); ++k) {
      const int n = inside(corners[k]);
      if (n > most) most = n, best = k;
    }
  if (most >= 2) return corners[best];
  // No edge shows two ticks: the edge with the longest part on the page,
  // which is numbered over that part alone.
  float longest = length(corners[best]);
  for (std::size_t k = 0; k < corners.size(); ++k)
    if (length(corners[k]) > longest) longest = length(corners[k]), best = k;
  return corners[best];
}

// The sides of the blocks a region NX x NY is averaged in: one square block
// that brings the longer side down to LIMIT points, but never so large
// across a narrow side that it leaves fewer than the two points a cell
// needs there (a region 3 pixels wide and 220 long is drawn as 3 x 110
// points, not left as 1 x 110 with no cell at all).
struct SurfaceBlocks {
  Index x = 1, y = 1;
};

SurfaceBlocks surface_blocks(Index nx, Index ny, int limit) {
  const Index block = (std::max(nx, ny) - 1) / std::max(limit, 1) + 1;
  return {std::clamp<Index>(nx / 2, 1, block), std::clamp<Index>(ny / 2, 1, block)};
}

// Means of runs of BLOCK axis values from START (1-based) into OUT.
void average_axis(std::span<const float> axis, Index start, Index block, std::vector<float>& out) {
  for (std::size_t k = 0; k < out.size(); ++k) {
    double sum = 0.0;
    const Index first = start + static_cast<Index>(k) * block;
    for (Index b = 0; b < block; ++b) sum += axis[static_cast<std::size_t>(first - 1 + b)];
    out[k] = static_cast<float>(sum / static_cast<double>(block));
  }
}

// Grid lines over LO..HI (nothing for an empty or decreasing range).
template <typename Line>
void grid_lines(float lo, float hi, Line line, Status& status) {
  if (!(lo < hi)) return;
  float first = 0, step = 1;
  int number = 0;
  GS_CAL_TICKS(lo, hi, first, step, number, status);
  for (int i = 0; i < number && status == kStatusGood; ++i)
    line(first + static_cast<float>(i) * step);
}

void set_cell_style(const Gs3dStyle& style, Status& status) {
  GS_LINESTYLE(1, style.line_width, style.line_colour, status);
  GS_FILLSTYLE(1, style.fill_colour, status);
}

// Whether the XB x YB blocks from (XS, YS) hold a part to draw: two
// neighbours of a row with a finite value (ALONG_ROWS), or else four
// corners of a cell. A block has one where any of its pixels has.
bool any_part(Index xmaxdat, std::span<const float> data, Index xs, Index ys, Index xnum,
              Index ynum, Index xb, Index yb, bool along_rows) {
  std::vector<char> below(static_cast<std::size_t>(xnum)), row(below.size());
  for (Index j = 0; j < ynum; ++j) {
    std::fill(row.begin(), row.end(), 0);
    for (Index y = ys + j * yb; y < ys + (j + 1) * yb; ++y) {
      const float* p = data.data() + element(xs, y, xmaxdat);
      for (Index i = 0; i < xnum; ++i)
        for (Index k = i * xb; k < (i + 1) * xb && row[static_cast<std::size_t>(i)] == 0; ++k)
          row[static_cast<std::size_t>(i)] = std::isfinite(p[k]) ? 1 : 0;
    }
    for (std::size_t i = 0; i + 1 < row.size(); ++i)
      if (row[i] != 0 && row[i + 1] != 0 && (along_rows || (j > 0 && below[i] != 0 && below[i + 1] != 0)))
        return true;
    std::swap(row, below);
  }
  return false;
}

// The heights a 3-D surface of the region stands on: the region averaged
// in the blocks of the 3-D pixel limit (when that leaves two points each
// way for cells), and the range they are drawn over under the image
// scaling in force (logarithmic when LOG). False when that range cannot be
// had: logarithmic heights with no value above zero, or a failed STATUS.
struct SurfaceHeights {
  SurfaceBlocks blocks;
  Index xnum = 0, ynum = 0;
  bool averaged = false;
  std::vector<float> heights;
  float minimum = 0.0f, maximum = 1.0f;
};

bool surface_heights(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                     Index ystrelm, Index xendelm, Index yendelm, bool log, SurfaceHeights& out,
                     Status& status) {
  int mode = 0;
  GS_INQ_IMAGESCALE(mode, out.minimum, out.maximum, status);
  int image_limit = 1, limit = 1;
  GS_INQ_PIXELLIMITS(image_limit, limit, status);
  if (status != kStatusGood) return false;
  const Index nx = xendelm - xstrelm + 1;
  const Index ny = yendelm - ystrelm + 1;
  out.blocks = surface_blocks(nx, ny, limit);
  out.xnum = nx / out.blocks.x;
  out.ynum = ny / out.blocks.y;
  // Cells need at least two averaged points each way; with fewer, the
  // region itself gives the range and only box and title are drawn.
  out.averaged = out.xnum >= 2 && out.ynum >= 2;
  if (out.averaged) {
    out.heights.resize(static_cast<std::size_t>(out.xnum * out.ynum));
    Index oxe = 0, oye = 0;
    // A block's height is the mean of its finite pixels: scattered bad
    // pixels leave no holes; only a block without a finite pixel is one.
    ma_finite_block_means(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm,
                          out.blocks.x, out.blocks.y, out.xnum, out.ynum, out.heights, oxe, oye,
                          status);
    GS_CAL_ZRANGE(out.xnum, out.ynum, out.heights, 1, 1, out.xnum, out.ynum, 1, mode, out.minimum,
                  out.maximum, status);
  } else {
    GS_CAL_ZRANGE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, 1, mode,
                  out.minimum, out.maximum, status);
  }
  return status == kStatusGood && gs_3d_height_range(log, out.minimum, out.maximum);
}

constexpr std::string_view kNoLogHeights =
    "WARNING: Logarithmic scaling demanded of data which is all below zero !";

}  // namespace

bool gs_say_no_log_heights(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                           Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                           Status& status) {
  if (status != kStatusGood ||
      region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, 0) != 0 ||
      !array_holds(data.size(), xmaxdat, ymaxdat))
    return false;
  SurfaceHeights surface;
  if (surface_heights(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, true, surface,
                      status) ||
      status != kStatusGood)
    return false;
  IO_WRITE(kNoLogHeights, status);
  return true;
}

bool gs_say_nothing_drawable(GsDrawing drawing, Index xmaxdat, Index ymaxdat,
                             std::span<const float> data, Index xstrelm, Index ystrelm,
                             Index xendelm, Index yendelm, Status& status) {
  if (status != kStatusGood ||
      region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, 0) != 0 ||
      !array_holds(data.size(), xmaxdat, ymaxdat))
    return false;
  const Index nx = xendelm - xstrelm + 1, ny = yendelm - ystrelm + 1;
  SurfaceBlocks blocks{1, 1};
  if (drawing == GsDrawing::kSurface) {
    int image_limit = 1, limit = 1;
    GS_INQ_PIXELLIMITS(image_limit, limit, status);
    blocks = surface_blocks(nx, ny, limit);
  }
  const bool lines = drawing == GsDrawing::kLines;
  if (any_part(xmaxdat, data, xstrelm, ystrelm, nx / blocks.x, ny / blocks.y, blocks.x, blocks.y,
               lines))
    return false;
  IO_WRITE(lines ? "WARNING: Nothing can be drawn: no row of the region has two neighbouring "
                   "finite values"
                 : "WARNING: Nothing can be drawn: no cell of the region has finite values at "
                   "its four corners",
           status);
  return true;
}

bool gs_3d_log_heights(float minimum, float maximum, float& low, float& high) {
  if (!(maximum > 0.0f)) return false;
  high = std::log10(maximum);
  low = minimum > 0.0f ? std::log10(minimum) : std::min(high - 6.0f, 0.0f);
  return true;
}

bool gs_3d_height_range(bool log, float& minimum, float& maximum) {
  if (log && !(maximum > 0.0f)) return false;
  if (!(minimum < maximum)) qg_image_scaling_range(log, minimum, maximum);
  return !log || gs_3d_log_heights(minimum, maximum, minimum, maximum);
}

void GS_3DSURFACE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                  std::string_view, std::string_view, std::string_view, Status& status) {
  constexpr std::string_view position = "Subroutine GS_3DSURFACE V0.3";
  if (st_bad(status, position)) return;
  if (gs_detail::bad_plot(false, xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm,
                          xendelm, yendelm, 2, status, position))
    return;
  // Not even the frame and title of a surface none of whose cells can be
  // drawn.
  if (gs_say_nothing_drawable(GsDrawing::kSurface, xmaxdat, ymaxdat, data, xstrelm, ystrelm,
                              xendelm, yendelm, status) ||
      status != kStatusGood)
    return;
  Gs3dView view;
  GS_INQ_3DVIEW(view, status);
  // The window fits the box's wider side, so a turned box reaches past the
  // plot region to the page's edge: numbered walls get the room their
  // numbers take all round (in page units at the grown window's scale),
  // which keeps them on the page beside the box unless zoomed in.
  const GsRect& gpp = gs_state.gpp;
  bool box = false, walls = false, enumerate = false;
  GS_INQ_3DAXES(box, walls, enumerate, status);
  float rx = 0.0f, ry = 0.0f;
  const float room = walls && enumerate ? gs_3d_number_room() : 0.0f;
  const float gx = gpp.xmax - gpp.xmin, gy = gpp.ymax - gpp.ymin;
  if (room > 0.0f && gx > 4.0f * room && gy > 4.0f * room) {
    rx = room * (view.window.xmax - view.window.xmin) / (gx - 2.0f * room);
    ry = room * (view.window.ymax - view.window.ymin) / (gy - 2.0f * room);
  }
  QG_DATAWINDOW(view.window.xmin - rx, view.window.ymin - ry, view.window.xmax + rx,
                view.window.ymax + ry, status);
  QG_VIEWPORT(gpp.xmin, gpp.ymin, gpp.xmax, gpp.ymax, status);
  {
    // A box zoomed past the page, or steepened into the title, ends at the
    // view's frame, on the screen as on paper.
    const FrameClip clip(status);
    GS_3SURFACE(view.longitude, view.latitude, view.z_scale, xmaxdat, ymaxdat, data, xaxis, yaxis,
                xstrelm, ystrelm, xendelm, yendelm, status);
  }
  GsTextStyle t;
  GS_INQ_TITLESTYLE(t, status);
  if (status != kStatusGood || !t.output) return;
  QG_UNITYTRANSFORM(true, status);
  float xscale = 1.0f, yscale = 1.0f;
  QG_INQ_SCALING(xscale, yscale, status);
  GS_TEXTSTYLE(t.font, t.colour, 0.02f * t.height / yscale, t.width, t.spacing, 0, 2, 4, 0.0f, 1.0f,
               status);
  float width = 0.0f, height = 0.0f;
  QG_INQ_MAXPC(1, width, height, status);
  QG_TEXT(0.5f * width, height - 0.03f * t.height, title.substr(0, SLEN(title)), status);
}

void GS_3SURFACE(float rotation, float elevation, float z_scale, Index xmaxdat, Index ymaxdat,
                 std::span<const float> data, std::span<const float> xaxis,
                 std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, Status& status) {
  constexpr std::string_view position = "Subroutine GS_3SURFACE V0.11";
  if (st_bad(status, position)) return;
  if (gs_detail::bad_plot(false, xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm,
                          xendelm, yendelm, 2, status, position))
    return;
  if (!std::isfinite(z_scale)) z_scale = 1.0f;
  RasterModeOff raster_off;
  QG_SET_RASTERMODE(true, status);
  GS_BACKGROUND(status);

  Gs3dStyle style;
  GS_INQ_3DSTYLE(style, status);
  bool low_image = false, top_image = false;
  GS_INQ_3DSIMAGE(low_image, top_image, status);
  set_cell_style(style, status);
  bool log = false;
  QG_INQ_LOGZSCALING(log, status);
  if (status != kStatusGood) return;
  SurfaceHeights surface;
  if (!surface_heights(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, log, surface,
                       status)) {
    if (status != kStatusGood) return;
    IO_WRITE(kNoLogHeights, status);
    st_fail(status, 141004, position);
    return;
  }
  const bool averaged = surface.averaged;
  const Index xnum = surface.xnum, ynum = surface.ynum;
  std::vector<float>& heights = surface.heights;
  const float minimum = surface.minimum, maximum = surface.maximum;
  std::vector<float> xc(static_cast<std::size_t>(averaged ? xnum : 0));
  std::vector<float> yc(static_cast<std::size_t>(averaged ? ynum : 0));
  if (averaged) {
    average_axis(xaxis, xstrelm, surface.blocks.x, xc);
    average_axis(yaxis, ystrelm, surface.blocks.y, yc);
  }
  if (log && averaged) {
    MA_LOGARITHM(xnum, ynum, 1, 1, xnum, ynum, heights, status);
    if (status == 21004) st_reset(status);
  }
  // Heights above the floor in world units, worked out in double: a range
  // from near -3.4E+38 to near 3.4E+38 spans more than a float holds, its
  // scaled height does not.
  const auto height_of = [&](double value) {
    return static_cast<float>((value - minimum) * z_scale);
  };
  if (averaged) {
    MA_THRESHOLD(xnum, ynum, 1, 1, xnum, ynum, true, true, minimum, maximum, heights, status);
    for (float& v : heights) v = height_of(v);
  }
  int first = 0, last = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  // The range before scaling numbers the Z axis and sets the image planes.
  const float range_min = minimum;
  const float range_max = maximum;
  const float h = height_of(maximum);
  const float levels_per_unit = static_cast<float>(last - first + 1) / (h < 1.0e-36f ? 1.0f : h);

  float az = std::fmod(-(rotation * 180.0f / kPi), 360.0f);
  if (az < 0.0f) az += 360.0f;
  if (!(az < 360.0f)) az = 0.0f;
  bool box = false, walls = false, enumerate = false;
  GS_INQ_3DAXES(box, walls, enumerate, status);
  if (status != kStatusGood) return;
  const float xs = xaxis[static_cast<std::size_t>(xstrelm - 1)];
  const float xe = xaxis[static_cast<std::size_t>(xendelm - 1)];
  const float ys = yaxis[static_cast<std::size_t>(ystrelm - 1)];
  const float ye = yaxis[static_cast<std::size_t>(yendelm - 1)];
  const float yb = az <= 90.0f || az >= 270.0f ? ye : ys;
  const float xb = az > 180.0f ? xs : xe;

  if (walls) {
    GS_FILLSTYLE(1, kGsYellow, status);
    const float zf = elevation < 0.0f ? h : 0.0f;
    const float back_x[4] = {xs, xs, xe, xe}, back_y[4] = {yb, yb, yb, yb},
                back_z[4] = {0, h, h, 0};
    const float side_x[4] = {xb, xb, xb, xb}, side_y[4] = {ys, ys, ye, ye},
                side_z[4] = {0, h, h, 0};
    const float floor_x[4] = {xs, xe, xe, xs}, floor_y[4] = {ys, ys, ye, ye},
                floor_z[4] = {zf, zf, zf, zf};
    GS_3FILLAREA(4, back_x, back_y, back_z, status);
    GS_3FILLAREA(4, side_x, side_y, side_z, status);
    GS_3FILLAREA(4, floor_x, floor_y, floor_z, status);
  }
  const int bad_pixels = gs_device_fill_colour(gs_state.mask_colour);
  auto image_plane = [&](float z) {
    GS_3DRMCELLARRAY(false, xs, ys, z, xs, ye, z, xe, ye, z, xmaxdat, ymaxdat, xstrelm, ystrelm,
                     xendelm, yendelm, data, {}, range_min, range_max, bad_pixels, status);
  };
  if (low_image && elevation >= 0.0f) image_plane(0.0f);
  if (top_image && elevation < 0.0f) image_plane(h);
  if (box) {
    const GsAxesStyle& a = gs_state.haxes;
    GS_LINESTYLE(a.line_type, a.width, a.colour, status);
    for (const float z : {0.0f, h}) {
      GS_3LINE(xs, ys, z, xe, ys, z, status);
      GS_3LINE(xs, ye, z, xe, ye, z, status);
      GS_3LINE(xs, ys, z, xs, ye, z, status);
      GS_3LINE(xe, ys, z, xe, ye, z, status);
    }
    GS_3LINE(xs, ys, 0, xs, ys, h, status);
    GS_3LINE(xe, ys, 0, xe, ys, h, status);
    GS_3LINE(xe, ye, 0, xe, ye, h, status);
    GS_3LINE(xs, ye, 0, xs, ye, h, status);
  }
  if (walls) {
    const GsAxesStyle& a = gs_state.haxes;
    GS_LINESTYLE(a.line_type, a.width, a.colour, status);
    grid_lines(
        xs, xe, [&](float t) { GS_3LINE(t, yb, 0, t, yb, h, status); }, status);
    grid_lines(
        ys, ye, [&](float t) { GS_3LINE(xb, t, 0, xb, t, h, status); }, status);
    grid_lines(
        range_min, range_max,
        [&](float t) {
          const float z = height_of(t);
          GS_3LINE(xs, yb, z, xe, yb, z, status);
          GS_3LINE(xb, ys, z, xb, ye, z, status);
        },
        status);
  }

  // The cells, farthest first.
  set_cell_style(style, status);
  if (averaged && status == kStatusGood) {
    const int octant = static_cast<int>(az / 45.0f);
    // Directions of IX and IY per quarter turn, and whether rows are outer.
    const bool x_down = octant <= 3;
    const bool y_down = octant <= 1 || octant >= 6;
    const bool rows_outer = octant == 0 || octant == 3 || octant == 4 || octant == 7;
    const Index nxc = xnum - 1, nyc = ynum - 1;
    const Index outer_n = rows_outer ? nyc : nxc;
    const Index inner_n = rows_outer ? nxc : nyc;
    const bool outer_down = rows_outer ? y_down : x_down;
    const bool inner_down = rows_outer ? x_down : y_down;
    for (Index o = 0; o < outer_n && status == kStatusGood; ++o) {
      const Index oi = outer_down ? outer_n - o : o + 1;
      for (Index i = 0; i < inner_n && status == kStatusGood; ++i) {
        const Index ii = inner_down ? inner_n - i : i + 1;
        const Index ix = rows_outer ? ii : oi;
        const Index iy = rows_outer ? oi : ii;
        GS_3DSUB(1.0f, xnum, ynum, heights, xc, yc, ix, iy, style.lines, style.z_colours,
                 style.fill, levels_per_unit, first, last, status);
      }
    }
  }
  heights = std::vector<float>();
  if (low_image && elevation < 0.0f) image_plane(0.0f);
  if (top_image && elevation >= 0.0f) image_plane(h);
  QG_SET_RASTERMODE(false, status);

  if (box) {
    const GsAxesStyle& a = gs_state.haxes;
    GS_LINESTYLE(a.line_type, a.width, a.colour, status);
    if (az <= 180.0f || az >= 270.0f) GS_3LINE(xs, ys, 0, xs, ys, h, status);
    if (az <= 270.0f) GS_3LINE(xs, ye, 0, xs, ye, h, status);
    if (az >= 90.0f) GS_3LINE(xe, ye, 0, xe, ye, h, status);
    if (az <= 90.0f || az >= 180.0f) GS_3LINE(xe, ys, 0, xe, ys, h, status);
    for (const float z : {0.0f, h}) {
      if (az <= 90.0f || az >= 270.0f) GS_3LINE(xs, ys, z, xe, ys, z, status);
      if (az <= 180.0f) GS_3LINE(xs, ys, z, xs, ye, z, status);
      if (az >= 90.0f && az <= 270.0f) GS_3LINE(xs, ye, z, xe, ye, z, status);
      if (az >= 180.0f) GS_3LINE(xe, ys, z, xe, ye, z, status);
    }
  }
  if (walls) {
    // Axes whose range is empty or decreasing are left out.
    Gs3dAxisNumbers numbers;
    // The floor axis AXIS over LO..HI at the other floor coordinate AT has
    // its ticks point down the page and its numbers under them (aligned
    // HORIZONTAL, VERTICAL), unless it runs more than STEEP times as far up
    // the page as across: numbers there would stand on the axis line and on
    // one another's ticks, so its ticks point out of the floor, away from the
    // box (OUT_X, OUT_Y), with the numbers beyond them beside the line.
    // Under a sloping axis a number reaching along it from its tick runs
    // into the line where it goes down: such numbers reach the other way,
    // right-justified under a line going down to the right (hanging from the
    // tick), left-justified under one going up.
    const auto floor_axis = [&](int axis, float lo, float hi, float at, float out_x, float out_y,
                                int horizontal, int vertical, float steep) {
      if (!(lo < hi)) return;
      float x0 = lo, y0 = at, x1 = hi, y1 = at;
      if (axis == 2) x0 = at, y0 = lo, x1 = at, y1 = hi;
      float u0 = 0, v0 = 0, u1 = 0, v1 = 0, uo = 0, vo = 0;
      gs_3d_project(gs_state.view3d, x0, y0, 0.0f, u0, v0);
      gs_3d_project(gs_state.view3d, x1, y1, 0.0f, u1, v1);
      gs_3d_project(gs_state.view3d, x0 + out_x, y0 + out_y, 0.0f, uo, vo);
      const float across = std::fabs(u1 - u0), up = std::fabs(v1 - v0);
      if (up > steep * across && uo != u0) {
        GS_3LINAXIS(axis, lo, hi, lo, hi, at, 0.0f, out_x, out_y, 0, enumerate, uo > u0 ? 1 : 3,
                    3, status);
        return;
      }
      // Ticks pointing down meet the top corner of a number justified
      // towards them unless it hangs from the tick's end.
      if (up > 0.2f * across && (u1 - u0) * (v1 - v0) < 0.0f)
        horizontal = 3, vertical = 1;
      else if (up > 0.2f * across && horizontal == 2)
        horizontal = 1;
      GS_3LINAXIS(axis, lo, hi, lo, hi, at, 0.0f, 0, 0, -1, enumerate, horizontal, vertical,
                  status);
    };
    const auto floor_axes = [&] {
      if (elevation >= 0.0f) {
        // X numbers, centred under their ticks, stand beside a line already
        // at a moderate slope; Y numbers, at the side of theirs, only beside
        // a steep one.
        const bool front_ys = az <= 90.0f || az >= 270.0f;
        floor_axis(1, xs, xe, front_ys ? ys : ye, 0.0f, front_ys ? -1.0f : 1.0f, 2, 1, 1.0f);
        const bool front_xs = az <= 180.0f;
        floor_axis(2, ys, ye, front_xs ? xs : xe, front_xs ? -1.0f : 1.0f, 0.0f, 1, 3, 2.0f);
      }
    };
    // The height axis whole, or its line and ticks alone (kLine), or its
    // heading and numbers alone (kNumbers).
    enum class Part { kWhole, kLine, kNumbers };
    const auto height_axis = [&](Part part) {
      if (0.0f < h && range_min < range_max) {
        // The ticks count where their numbers, centred on them and beyond
        // them by the tick and the gap (longer on the page where perspective
        // brings the box nearer), can stand: the frame less the numbers' half
        // height, their margin and that distance, and at the top less the
        // logarithmic heading above them.
        const GsRect page = gs_3d_frame(status);
        const float text_height = gs_state.xenum.text.height * kTextHeight;
        const float margin =
            0.85f * text_height + 1.5f * (gs_state.haxes.large_tick + gs_state.layout.x_enum_gap);
        const float heading_room = log && enumerate ? 1.2f * text_height : 0.0f;
        const GsRect frame{QG_PC2WC(true, page.xmin, status),
                           QG_PC2WC(false, page.ymin + margin, status),
                           QG_PC2WC(true, page.xmax, status),
                           QG_PC2WC(false, page.ymax - margin - heading_room, status)};
        const ZAxisCorner c =
            z_axis_corner(az, xs, xe, ys, ye, h, range_min, range_max, height_of, frame, status);
        // An axis showing fewer than two of its large ticks (zoomed in past
        // them) is numbered over the part the frame shows, with ticks of its
        // own: the heights there keep their numbers.
        float z_start = 0.0f, z_end = h, v_start = range_min, v_end = range_max;
        if (c.low < c.high && (c.low > 0.0f || c.high < h)) {
          float first = 0, interval = 1;
          int number = 0;
          GS_CAL_TICKS(range_min, range_max, first, interval, number, status);
          int shown = 0;
          for (int k = 0; k < number; ++k) {
            const float z = height_of(first + k * double{interval});
            shown += z >= c.low && z <= c.high;
          }
          const auto value_at = [&](float z) {
            return static_cast<float>(range_min + double{z} / z_scale);
          };
          if (shown < 2 && value_at(c.low) < value_at(c.high)) {
            z_start = c.low, z_end = c.high;
            v_start = value_at(c.low), v_end = value_at(c.high);
          }
        }
        // The numbers stand on the side the ticks point to on the page, away
        // from the axis: right-justified to its left, left-justified to its
        // right.
        float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
        gs_3d_project(gs_state.view3d, c.x, c.y, 0.0f, u0, v0);
        gs_3d_project(gs_state.view3d, c.x + c.dx, c.y + c.dy, 0.0f, u1, v1);
        const int justified = u1 > u0 ? 1 : 3;
        // Logarithmic heights are numbered by their powers of ten: the axis
        // says so above its numbers, in their style, over the end that stands
        // higher on the page (the foot, seen from straight above, where the
        // axis points away from the middle of the view).
        float v_foot = 0, v_top = 0, u_unused = 0;
        gs_3d_project(gs_state.view3d, c.x, c.y, z_start, u_unused, v_foot);
        gs_3d_project(gs_state.view3d, c.x, c.y, z_end, u_unused, v_top);
        const float heading =
            log && enumerate && part != Part::kLine
                ? gs_3d_axis_label(c.x, c.y, v_top < v_foot ? z_start : z_end,
                                   v_top < v_foot ? z_end : z_start, c.dx, c.dy, justified,
                                   "log10(Z)", status)
                : std::numeric_limits<float>::max();
        const Gs3dNumbersBelow below_heading(heading);
        numbers.numbers_only = part == Part::kNumbers;
        GS_3LINAXIS(3, z_start, z_end, v_start, v_end, c.x, c.y, c.dx, c.dy, 0,
                    enumerate && part != Part::kLine, justified, 3, status);
        numbers.numbers_only = false;
      }
    };
    // The axes are measured before they are drawn, so that the height
    // numbers' plates keep off the floor axes' numbers. The height axis's
    // line goes first: an X or Y number it passes (moved inside the frame
    // beside it, or by a low corner) is drawn over it, on its plate.
    if (enumerate) {
      numbers.measure(true);
      floor_axes();
      height_axis(Part::kWhole);
      numbers.measure(false);
      height_axis(Part::kLine);
      floor_axes();
      height_axis(Part::kNumbers);
    } else {
      floor_axes();
      height_axis(Part::kWhole);
    }
  }
}

void GS_3DSUB(float z_scale, Index xnum, Index, std::span<const float> heights,
              std::span<const float> xcells, std::span<const float> ycells, Index ix, Index iy,
              bool lines, bool z_colours, bool fill, float levels_per_unit, int first_colour,
              int last_colour, Status& status) {
  auto h = [&](Index x, Index y) {
    return heights[static_cast<std::size_t>(x - 1 + (y - 1) * xnum)] * z_scale;
  };
  const float x1 = xcells[static_cast<std::size_t>(ix - 1)];
  const float x2 = xcells[static_cast<std::size_t>(ix)];
  const float y1 = ycells[static_cast<std::size_t>(iy - 1)];
  const float y2 = ycells[static_cast<std::size_t>(iy)];
  const float px[5] = {x1, x2, x2, x1, x1};
  const float py[5] = {y1, y1, y2, y2, y1};
  const float pz[5] = {h(ix, iy), h(ix + 1, iy), h(ix + 1, iy + 1), h(ix, iy + 1), h(ix, iy)};
  // A cell with a corner that is not a number (a bad pixel, or a block
  // holding one) is left out, a hole in the surface; neither fill nor edges.
  if (!(std::isfinite(pz[0]) && std::isfinite(pz[1]) && std::isfinite(pz[2]) &&
        std::isfinite(pz[3])))
    return;
  if (fill && !z_colours) GS_3FILLAREA(4, px, py, pz, status);
  if (fill && z_colours) {
    auto level = [&](float z) {
      const float c = z * levels_per_unit + static_cast<float>(first_colour);
      // Truncated toward zero, then kept in the image colours.
      const float t = std::trunc(std::clamp(c, -1.0e9f, 1.0e9f));
      return std::clamp(static_cast<int>(t), first_colour, last_colour);
    };
    const auto [zlo, zhi] = std::minmax({pz[0], pz[1], pz[2], pz[3]});
    const int lo = level(zlo);
    const int hi = level(zhi);
    if (lo == hi) {
      qg_db_brastermode.fill_byte = static_cast<std::uint8_t>(lo);
      GS_3FILLAREA(4, px, py, pz, status);
    } else {
      const float cx = (x1 + x2) * 0.5f;
      const float cy = (y1 + y2) * 0.5f;
      const float cz = (pz[0] + pz[1] + pz[2] + pz[3]) * 0.25f;
      // Triangles (P1, P4, C), (P3, P4, C), (P3, P2, C), (P1, P2, C).
      constexpr int a[4] = {0, 2, 2, 0};
      constexpr int b[4] = {3, 3, 1, 1};
      for (int l = lo; l <= hi && status == kStatusGood; ++l) {
        const float z_low = static_cast<float>(l - first_colour) / levels_per_unit;
        const float z_high = static_cast<float>(l - first_colour + 1) / levels_per_unit;
        qg_db_brastermode.fill_byte = static_cast<std::uint8_t>(l);
        for (int t = 0; t < 4; ++t) {
          const float tx[3] = {px[a[t]], px[b[t]], cx};
          const float ty[3] = {py[a[t]], py[b[t]], cy};
          const float tz[3] = {pz[a[t]], pz[b[t]], cz};
          GS_3DSUB1(tx, ty, tz, z_low, z_high, status);
        }
      }
    }
  }
  if (lines) GS_3POLYLINE(5, px, py, pz, status);
}

void GS_3DSUB1(const float (&x)[3], const float (&y)[3], const float (&z)[3], float z_low,
               float z_high, Status& status) {
  float px[6], py[6], pz[6];
  int n = 0;
  auto side = [&](float v) { return v < z_low ? -1 : v > z_high ? 1 : 0; };
  auto add = [&](float ax, float ay, float az) {
    px[n] = ax, py[n] = ay, pz[n] = az;
    ++n;
  };
  auto crossing = [&](int a, int b, float level) {
    if (z[a] == z[b]) {
      add(x[a], y[a], level);
      return;
    }
    const float t = (level - z[a]) / (z[b] - z[a]);
    add(x[a] + t * (x[b] - x[a]), y[a] + t * (y[b] - y[a]), level);
  };
  for (int k = 0; k < 3; ++k) {
    const int next = (k + 1) % 3;
    const int sa = side(z[k]);
    const int sb = side(z[next]);
    if (sa == 0) add(x[k], y[k], z[k]);
    // Crossings along the edge to the next vertex, in order from this one.
    if (sa != sb) {
      if (sa == -1 || sb == -1) {
        if (sa == -1 && sb == 1) {
          crossing(k, next, z_low);
          crossing(k, next, z_high);
        } else if (sa == 1 && sb == -1) {
          crossing(k, next, z_high);
          crossing(k, next, z_low);
        } else {
          crossing(k, next, z_low);
        }
      } else {
        crossing(k, next, z_high);
      }
    }
  }
  if (n >= 3) GS_3FILLAREA(n, px, py, pz, status);
}

}  // namespace kesta
