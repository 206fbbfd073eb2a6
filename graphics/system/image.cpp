// Image display: the plot entry that draws a region as an image or a graph,
// the image cell arrays with their intensity range, the colour scale bar,
// the pixel lookup of world coordinates.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/extremes.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/parallel.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "numeric/filters.hpp"
#include "numeric/rebin.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

using gs_detail::bad_plot;
using gs_detail::bad_region;
using gs_detail::refuse;
using gs_detail::terminal_line;

// The values a pixel must lie within to count for the range: comparisons
// with a NaN are false, and the infinities fail the bound test.
constexpr float kRangeBound = std::numeric_limits<float>::max();
// Where the searches start, beyond every value that counts
// (core/extremes.hpp): a pixel that does not count is replaced by them.
constexpr float kNoLow = kAboveEveryValue;
constexpr float kNoHigh = kBelowEveryValue;

// Running extremes of N values from VALUES into LO and HI. The values are
// taken in independent lanes so that the compiler can vectorise the loop; a
// value that does not count is replaced by the extreme that never wins.
void lane_extremes(const float* values, Index n, float& lo, float& hi) {
  constexpr Index kLanes = 16;
  float a[kLanes], b[kLanes];
  for (Index l = 0; l < kLanes; ++l) {
    a[l] = lo;
    b[l] = hi;
  }
  Index i = 0;
  for (; i + kLanes <= n; i += kLanes)
    for (Index l = 0; l < kLanes; ++l) {
      const float v = values[i + l];
      const bool counts = v >= -kRangeBound && v <= kRangeBound;
      const float low = counts ? v : kNoLow;
      const float high = counts ? v : kNoHigh;
      a[l] = low < a[l] ? low : a[l];
      b[l] = high > b[l] ? high : b[l];
    }
  for (; i < n; ++i) {
    const float v = values[i];
    if (v >= -kRangeBound && v <= kRangeBound) {
      a[0] = v < a[0] ? v : a[0];
      b[0] = v > b[0] ? v : b[0];
    }
  }
  for (Index l = 0; l < kLanes; ++l) {
    lo = a[l] < lo ? a[l] : lo;
    hi = b[l] > hi ? b[l] : hi;
  }
}

// An extreme of zero gets the sign of the first zero in reading order, as a
// scan that keeps its first extreme would give it.
float first_zero(Index xmaxdat, std::span<const float> data, Index xs, Index ys, Index xe,
                 Index ye) {
  for (Index y = ys; y <= ye; ++y) {
    const float* row = data.data() + element(xs, y, xmaxdat);
    for (Index i = 0; i < xe - xs + 1; ++i)
      if (row[i] == 0.0f) return row[i];
  }
  return 0.0f;
}

// Pixels a range worker takes at least (16 MB): on a busy machine a thread
// waits for a processor longer than a smaller share takes in one.
constexpr Index kPixelsPerWorker = Index{1} << 22;

// Finite extremes of a region (1.7e38 and -1.7e38 when none), from the first
// finite value met, in row blocks
// on up to one worker thread per processor for big regions. The extremes of
// the blocks are combined after all workers are joined; the result does not
// depend on the number of threads.
void finite_extremes(Index xmaxdat, std::span<const float> data, Index xs, Index ys, Index xe,
                     Index ye, float& lo, float& hi) {
  const Index nx = xe - xs + 1;
  const Index ny = ye - ys + 1;
  const auto rows = [&](Index first, Index last, float& a, float& b) {
    a = kNoLow;
    b = kNoHigh;
    if (xs == 1 && xe == xmaxdat) {
      // Whole rows are contiguous: one run.
      lane_extremes(data.data() + element(1, first, xmaxdat), nx * (last - first + 1), a, b);
      return;
    }
    for (Index y = first; y <= last; ++y)
      lane_extremes(data.data() + element(xs, y, xmaxdat), nx, a, b);
  };
  const Index workers =
      std::clamp<Index>(nx * ny / kPixelsPerWorker, 1, std::min(processor_count(), ny));
  float a = kNoLow;
  float b = kNoHigh;
  if (workers == 1) {
    rows(ys, ye, a, b);
  } else {
    std::vector<float> lows(static_cast<std::size_t>(workers)), highs(lows.size());
    run_parts(workers, [&](Index w) {
      const Index first = ys + ny * w / workers;
      const Index last = ys + ny * (w + 1) / workers - 1;
      rows(first, last, lows[static_cast<std::size_t>(w)], highs[static_cast<std::size_t>(w)]);
    });
    for (std::size_t w = 0; w < lows.size(); ++w) {
      a = std::min(a, lows[w]);
      b = std::max(b, highs[w]);
    }
  }
  if (a == 0.0f) a = first_zero(xmaxdat, data, xs, ys, xe, ye);
  if (b == 0.0f) b = first_zero(xmaxdat, data, xs, ys, xe, ye);
  extremes_found(a, b);
  lo = a;
  hi = b;
}

// The display range for MODE; COLLAPSED when a user limit left no range.

void zrange(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xs, Index ys, Index xe,
            Index ye, Index binning, int mode, float& zmin, float& zmax, bool& collapsed,
            Status& status) {
  collapsed = false;
  float lo = zmin;
  float hi = zmax;
  if (mode == 0 || mode == 2 || mode == 3) {
    float dlo = 0.0f;
    float dhi = 0.0f;
    if (binning <= 1) {
      finite_extremes(xmaxdat, data, xs, ys, xe, ye, dlo, dhi);
      if (dhi < dlo) dlo = dhi = 0.0f;  // no finite pixel
    } else {
      MA_REBINMINMAX(xmaxdat, ymaxdat, data, xs, ys, xe, ye, binning, binning, dlo, dhi, status);
      if (status != kStatusGood) return;
      if (dhi < dlo) dlo = dhi = 0.0f;  // no finite block
    }
    if (mode != 2) lo = dlo;
    if (mode != 3) hi = dhi;
  } else if (mode == 4) {
    // The sample boxes set both ends or, when none holds a finite value,
    // neither: the ends start as no value, never as the user's old limits.
    lo = hi = std::numeric_limits<float>::quiet_NaN();
    MA_DIFZSCALE(xmaxdat, ymaxdat, data, xs, ys, xe, ye, lo, hi, status);
    if (status != kStatusGood) return;
    // An end no box gave, or that an infinite pixel in a box left infinite
    // (a height without end in the 3-D views), falls back to the finite
    // extreme of the region.
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
      float dlo = 0.0f;
      float dhi = 0.0f;
      finite_extremes(xmaxdat, data, xs, ys, xe, ye, dlo, dhi);
      if (dhi < dlo) {
        // No finite pixel: the empty range of the other modes, which no
        // user limit left.
        zmin = zmax = 0.0f;
        return;
      }
      if (!std::isfinite(lo)) lo = dlo;
      if (!std::isfinite(hi)) hi = dhi;
    }
  }
  if (mode != 0 && !(lo < hi)) {
    collapsed = true;
    if (mode == 2) {
      IO_WRITE("WARNING: The maximum data value is less than the user input minimum", status);
      lo = hi - 1000.0f;
    } else {
      IO_WRITE("WARNING: The minimum data value is greater than the user input maximum", status);
      hi = lo + 1000.0f;
    }
    IO_WRITE("         Z-value (intensity)", status);
    IO_WRITE("         Use \"Z-SCALE\" to change values or scaling mode", status);
  }
  zmin = lo;
  zmax = hi;
}

bool log_mapping(Status& status) {
  bool log = false;
  QG_INQ_LOGZSCALING(log, status);
  return log;
}

// Each pixel's value written into its cell, for small regions.
void pixel_values(Index xmaxdat, std::span<const float> data, Index xs, Index ys, Index xe,
                  Index ye, Status& status) {
  const GsRect& r = gs_state.idr;
  const Index nx = xe - xs + 1;
  const Index ny = ye - ys + 1;
  const float dx = (r.xmax - r.xmin) / static_cast<float>(nx);
  const float dy = (r.ymax - r.ymin) / static_cast<float>(ny);
  const float height = std::min(dx / 5.0f, dy / 2.0f);
  if (!(height > 0.0f)) return;
  GS_TEXTSTYLE(1, gs_state.mask_colour, height, 1.0f, 0.0f, 0, 2, 6, 0.0f, 1.0f, status);
  for (Index y = ys; y <= ye && status == kStatusGood; ++y)
    for (Index x = xs; x <= xe && status == kStatusGood; ++x) {
      bool fits = false;
      std::string text;
      IO_VTOC(data[element(x, y, xmaxdat)], 10, 3, false, true, true, fits, text, status);
      if (!fits) text = "**********";
      QG_TEXT(r.xmin + (static_cast<float>(x - xs) + 0.5f) * dx,
              r.ymin + (static_cast<float>(y - ys) + 0.5f) * dy, text, status);
    }
}

// Half a pixel beyond the outer pixel centres of an axis.
void axis_edges(std::span<const float> axis, Index start, Index end, float& lo, float& hi) {
  lo = axis[start - 1] - (axis[start] - axis[start - 1]) / 2.0f;
  hi = axis[end - 1] + (axis[end - 1] - axis[end - 2]) / 2.0f;
}

// An image region copied with its columns and/or rows in reverse order.
struct MirroredRegion {
  Index nx = 0, ny = 0;
  std::vector<float> data;
  std::vector<std::uint8_t> mask;
};

bool mirror_region(bool mask_on, Index xmaxdat, std::span<const float> data,
                   std::span<const std::uint8_t> mask, Index xs, Index ys, Index xe, Index ye,
                   const gs_detail::ImageDirections& directions, MirroredRegion& m,
                   Status& status) {
  m.nx = xe - xs + 1;
  m.ny = ye - ys + 1;
  const Index cells = m.nx * m.ny;  // (no more than the checked array holds)
  try {
    m.data.resize(static_cast<std::size_t>(cells));
    if (mask_on) m.mask.resize(static_cast<std::size_t>(cells));
  } catch (const std::bad_alloc&) {
    IO_WRITE("WARNING: Not enough memory to draw the image", status);
    return false;
  }
  for (Index j = 0; j < m.ny; ++j) {
    const Index y = directions.y_backwards ? ye - j : ys + j;
    const std::size_t from = static_cast<std::size_t>(element(xs, y, xmaxdat));
    const std::size_t to = static_cast<std::size_t>(j * m.nx);
    const std::size_t n = static_cast<std::size_t>(m.nx);
    if (directions.x_backwards) {
      std::reverse_copy(data.begin() + from, data.begin() + from + n, m.data.begin() + to);
      if (mask_on)
        std::reverse_copy(mask.begin() + from, mask.begin() + from + n, m.mask.begin() + to);
    } else {
      std::copy_n(data.begin() + from, n, m.data.begin() + to);
      if (mask_on) std::copy_n(mask.begin() + from, n, m.mask.begin() + to);
    }
  }
  return true;
}

}  // namespace

bool gs_detail::bad_region(Index xmaxdat, Index ymaxdat, std::size_t size, Index xs, Index ys,
                           Index xe, Index ye, Index min_size, Status& status,
                           std::string_view position) {
  if (xmaxdat < 1) return refuse(status, 1, position);
  if (ymaxdat < 1) return refuse(status, 2, position);
  if (xs < 1 || xe - xs + 1 < min_size || xe > xmaxdat) return refuse(status, 5, position);
  if (ys < 1 || ye - ys + 1 < min_size || ye > ymaxdat) return refuse(status, 6, position);
  if (!array_holds(size, xmaxdat, ymaxdat)) return refuse(status, 1, position);
  return false;
}

bool gs_detail::bad_plot(bool mask_on, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                         std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                         std::span<const float> yaxis, Index xs, Index ys, Index xe, Index ye,
                         Index min_size, Status& status, std::string_view position) {
  if (bad_region(xmaxdat, ymaxdat, data.size(), xs, ys, xe, ye, min_size, status, position))
    return true;
  if (static_cast<Index>(xaxis.size()) < xe || static_cast<Index>(yaxis.size()) < ye ||
      (mask_on && !array_holds(mask.size(), xmaxdat, ymaxdat)))
    return refuse(status, 1, position);
  return false;
}

gs_detail::ImageDirections gs_detail::image_directions(std::span<const float> xaxis,
                                                      std::span<const float> yaxis, Index xs,
                                                      Index ys, Index xe, Index ye) {
  return {xaxis[xe - 1] < xaxis[xs - 1], yaxis[ye - 1] < yaxis[ys - 1]};
}

void gs_detail::image_cells(bool mask_on, Index xmaxdat, Index ymaxdat,
                            std::span<const float> data, std::span<const std::uint8_t> mask,
                            Index xs, Index ys, Index xe, Index ye,
                            const ImageDirections& directions, int mode, float& minimum,
                            float& maximum, Status& status) {
  if (!directions.x_backwards && !directions.y_backwards) {
    GS_2DMCELLARRAY(mask_on, xmaxdat, ymaxdat, data, mask, xs, ys, xe, ye, mode, minimum, maximum,
                    status);
    return;
  }
  MirroredRegion m;
  if (!mirror_region(mask_on, xmaxdat, data, mask, xs, ys, xe, ye, directions, m, status)) return;
  GS_2DMCELLARRAY(mask_on, m.nx, m.ny, m.data, m.mask, 1, 1, m.nx, m.ny, mode, minimum, maximum,
                  status);
}

gs_detail::ImageDirections gs_detail::image_frame(std::span<const float> xaxis,
                                                 std::span<const float> yaxis, Index xs, Index ys,
                                                 Index xe, Index ye, Status& status) {
  float wx1 = 0, wx2 = 0, wy1 = 0, wy2 = 0;
  axis_edges(xaxis, xs, xe, wx1, wx2);
  axis_edges(yaxis, ys, ye, wy1, wy2);
  const ImageDirections directions = image_directions(xaxis, yaxis, xs, ys, xe, ye);
  if (directions.x_backwards) std::swap(wx1, wx2);
  if (directions.y_backwards) std::swap(wy1, wy2);
  GS_SET_IDR(wx1, wy1, wx2, wy2, status);
  GS_SET_DDDR(wx1, wy1, wx2, wy2, status);
  QG_DATAWINDOW(wx1, wy1, wx2, wy2, status);
  if (status != kStatusGood) return directions;
  GsRect page = gs_state.gpp;
  if (gs_state.iaspect) {
    const double nx = static_cast<double>(xe - xs + 1);
    const double ny = static_cast<double>(ye - ys + 1);
    const double ratio = (ny / (page.ymax - page.ymin)) / (nx / (page.xmax - page.xmin));
    if (ratio >= 1.0) {
      const float half = static_cast<float>((page.xmax - page.xmin) / ratio / 2.0);
      const float centre = (page.xmin + page.xmax) / 2.0f;
      page.xmin = centre - half;
      page.xmax = centre + half;
    } else {
      const float half = static_cast<float>(ratio * (page.ymax - page.ymin) / 2.0);
      const float centre = (page.ymin + page.ymax) / 2.0f;
      page.ymin = centre - half;
      page.ymax = centre + half;
    }
  }
  GS_SET_DGPP(page.xmin, page.ymin, page.xmax, page.ymax, status);
  QG_VIEWPORT(page.xmin, page.ymin, page.xmax, page.ymax, status);
  return directions;
}

void GS_PLOT(Index xmaxdat, Index ymaxdat, std::span<const float> data,
             std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
             Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
             std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
             Status& status) {
  if (st_bad(status, "Subroutine GS_PLOT V0.3")) return;
  GS_MPLOT(false, xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm,
           title, xlabel, ylabel, zlabel, status);
}

void GS_MPLOT(bool mask_on, Index xmaxdat, Index ymaxdat, std::span<const float> data,
              std::span<const std::uint8_t> mask, std::span<const float> xaxis,
              std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, std::string_view title, std::string_view xlabel,
              std::string_view ylabel, std::string_view zlabel, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MPLOT V0.3";
  if (st_bad(status, position)) return;
  if (bad_plot(mask_on, xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm, xendelm,
               yendelm, 1, status, position))
    return;
  if (xendelm > xstrelm && yendelm > ystrelm) {
    GS_2DMIMAGE(mask_on, xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm, xendelm,
                yendelm, title, xlabel, ylabel, zlabel, status);
    return;
  }
  // The graph of a row or column without a value, and its mask markers,
  // would be axes about nothing.
  if (gs_detail::say_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm,
                                     "plot", status) ||
      status != kStatusGood)
    return;
  const bool log = log_mapping(status);
  const bool x_linear = gs_state.x_axis_linear;
  const bool y_linear = gs_state.y_axis_linear;
  GS_SET_AXESLOGLIN(x_linear, !log, status);
  if (xendelm > xstrelm) {
    // One row: contiguous in the array.
    const std::span<const float> row = data.subspan(element(1, ystrelm, xmaxdat), xmaxdat);
    GS_XYSGRAPH(xmaxdat, xstrelm, xendelm, xaxis, row, title, xlabel, zlabel, status);
    if (mask_on && status == kStatusGood) {
      const GsCurveMarkers saved = gs_state.curve_markers[0];
      gs_state.curve_markers[0].colour = gs_state.mask_colour;
      for (Index x = xstrelm; x <= xendelm && status == kStatusGood; ++x) {
        if (mask[element(x, ystrelm, xmaxdat)] == 0) continue;
        float value = row[x - 1];
        // As on the graph, a value not above zero has no place on the
        // logarithmic axis: its marker is left out.
        if (log) value = value > 0.0f ? std::log10(value) : std::numeric_limits<float>::quiet_NaN();
        const float px = xaxis[x - 1];
        GS_MARKERS(1, 1, 1, 1, std::span<const float>(&px, 1), std::span<const float>(&value, 1),
                   status);
      }
      gs_state.curve_markers[0] = saved;
    }
  } else {
    // One column (or one pixel): copied, since a column is not contiguous.
    std::vector<float> column(static_cast<std::size_t>(yendelm));
    for (Index y = ystrelm; y <= yendelm; ++y)
      column[static_cast<std::size_t>(y - 1)] = data[element(xstrelm, y, xmaxdat)];
    GS_XYSGRAPH(yendelm, ystrelm, yendelm, yaxis, column, title, ylabel, zlabel, status);
  }
  Status local = kStatusGood;
  GS_SET_AXESLOGLIN(x_linear, y_linear, local);
}

void GS_2DIMAGE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                Status& status) {
  constexpr std::string_view position = "Subroutine GS_2DIMAGE V0.8";
  if (st_bad(status, position)) return;
  if (bad_region(xmaxdat, ymaxdat, data.size(), xstrelm, ystrelm, xendelm, yendelm, 2, status,
                 position))
    return;
  GS_2DMIMAGE(false, xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm,
              title, xlabel, ylabel, zlabel, status);
}

void GS_2DMIMAGE(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                 std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                 std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, std::string_view zlabel, Status& status) {
  constexpr std::string_view position = "Subroutine GS_2DMIMAGE V0.6";
  if (st_bad(status, position)) return;
  if (bad_plot(mask_data, xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm, ystrelm, xendelm,
               yendelm, 2, status, position))
    return;
  int mode = 0;
  float minimum = 0.0f;
  float maximum = 1.0f;
  GS_INQ_IMAGESCALE(mode, minimum, maximum, status);

  const gs_detail::ImageDirections directions =
      gs_detail::image_frame(xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, status);
  if (status != kStatusGood) return;

  GS_BACKGROUND(status);
  gs_detail::image_cells(mask_data, xmaxdat, ymaxdat, data, mask, xstrelm, ystrelm, xendelm,
                         yendelm, directions, mode, minimum, maximum, status);
  // Drawn all in the colour of bad pixels, as such pixels always are, in
  // its frame; a colour bar would give a range no pixel has.
  const bool no_value = gs_detail::say_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm,
                                                       xendelm, yendelm, "display", status);
  if (status != kStatusGood) return;
  GS_AXISFRAME(status);
  GS_GRID(status);
  GS_TITLE(title, status);
  GS_XLABEL(xlabel, status);
  if (!no_value) GS_LUTSCALE(minimum, maximum, false, zlabel, status);
  GS_ATEXT(status);
  GS_ARROWS(status);
  GS_ALABELS(status);
  GS_YLABEL(ylabel, status);
  if (!no_value) GS_SET_IMAGESCALE(mode, minimum, maximum, status);
}

void GS_2DCELLARRAY(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, int mode, float& minimum,
                    float& maximum, Status& status) {
  constexpr std::string_view position = "Subroutine GS_2DCELLARRAY V0.3";
  if (st_bad(status, position)) return;
  if (bad_region(xmaxdat, ymaxdat, data.size(), xstrelm, ystrelm, xendelm, yendelm, 2, status,
                 position))
    return;
  GS_CAL_ZRANGE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, 1, mode, minimum,
                maximum, status);
  if (status != kStatusGood) return;
  qg_image_scaling_range(log_mapping(status), minimum, maximum);
  const GsRect& r = gs_state.idr;
  const Index nx = xendelm - xstrelm + 1;
  const Index ny = yendelm - ystrelm + 1;
  // Pixels that are not a number take the mask colour, with or without a mask.
  QG_RMASKCELLARRAY(false, r.xmin, r.ymin, r.xmax, r.ymax, xmaxdat, ymaxdat, xstrelm, ystrelm, nx,
                    ny, data, {}, minimum, maximum, gs_device_fill_colour(gs_state.mask_colour),
                    status);
  if (gs_state.pixel_values && nx <= 21 && ny <= 21)
    pixel_values(xmaxdat, data, xstrelm, ystrelm, xendelm, yendelm, status);
}

void GS_2DMCELLARRAY(bool mask_on, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                     std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm,
                     Index xendelm, Index yendelm, int mode, float& minimum, float& maximum,
                     Status& status) {
  constexpr std::string_view position = "Subroutine GS_2DMCELLARRAY V0.2";
  if (st_bad(status, position)) return;
  if (bad_region(xmaxdat, ymaxdat, data.size(), xstrelm, ystrelm, xendelm, yendelm, 2, status,
                 position))
    return;
  if (mask_on && !array_holds(mask.size(), xmaxdat, ymaxdat) && refuse(status, 1, position)) return;
  const GsRect& r = gs_state.idr;
  const int mask_index = gs_device_fill_colour(gs_state.mask_colour);
  bool collapsed = false;
  zrange(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, 1, mode, minimum, maximum,
         collapsed, status);
  if (collapsed || status != kStatusGood) return;
  QG_RMASKCELLARRAY(mask_on, r.xmin, r.ymin, r.xmax, r.ymax, xmaxdat, ymaxdat, xstrelm, ystrelm,
                    xendelm - xstrelm + 1, yendelm - ystrelm + 1, data, mask, minimum, maximum,
                    mask_index, status);
}

void GS_CAL_ZRANGE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, Index binning, int mode,
                   float& zmin, float& zmax, Status& status) {
  constexpr std::string_view position = "Subroutine GS_CAL_ZRANGE V0.1";
  if (st_bad(status, position)) return;
  if (bad_region(xmaxdat, ymaxdat, data.size(), xstrelm, ystrelm, xendelm, yendelm, 2, status,
                 position))
    return;
  if ((mode < 0 || mode > 4 || binning < 1) && refuse(status, 17, position)) return;
  bool collapsed = false;
  zrange(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, binning, mode, zmin, zmax,
         collapsed, status);
}

void GS_CAL_WCTOPIX(Index maxdim, Index num, std::span<const float> axis, float coordinate,
                    Index& pixel, Status& status) {
  constexpr std::string_view position = "Subroutine GS_CAL_WCTOPIX V0.2";
  if (st_bad(status, position)) return;
  if (maxdim < 1 && refuse(status, 1, position)) return;
  if ((num < 1 || num > maxdim || static_cast<Index>(axis.size()) < num) &&
      refuse(status, 5, position))
    return;
  Index p = 1;
  if (num > 1 && axis[num - 1] < axis[0]) {
    // A decreasing axis (a d-spacing scale): the same search from the top,
    // and a value half way between two pixels takes the higher one's, as on
    // the increasing axis.
    while (p < num && axis[p - 1] > coordinate) ++p;
    if (p > 1 && (axis[p - 2] + axis[p - 1]) / 2.0f <= coordinate) --p;
  } else {
    while (p < num && axis[p - 1] < coordinate) ++p;
    if (p > 1 && (axis[p - 2] + axis[p - 1]) / 2.0f > coordinate) --p;
  }
  pixel = p;
}

void GS_LUTSCALE(float minimum, float maximum, bool vertical, std::string_view zlabel,
                 Status& status) {
  constexpr std::string_view position = "Subroutine GS_LUTSCALE V0.3";
  if (st_bad(status, position)) return;
  const bool log = log_mapping(status);
  // A constant image still gets its bar: the range is made usable first.
  qg_image_scaling_range(log, minimum, maximum);
  if (!(minimum < maximum)) {
    IO_WRITE("ERROR: z_min, z_max = " + format_g(minimum, 14, 7) + format_g(maximum, 14, 7),
             status);
    refuse(status, 13, position);
    return;
  }
  if (!gs_state.lut.bar) return;
  GsState& g = gs_state;
  const GsRect saved_dddr = g.dddr;
  const GsRect saved_dgpp = g.dgpp;
  float w[4]{};
  float v[4]{};
  QG_INQ_DATAWINDOW(w[0], w[1], w[2], w[3], status);
  QG_INQ_VIEWPORT(v[0], v[1], v[2], v[3], status);

  GsRect bar{g.gpp.xmin, g.gpp.ymin - 0.125f, g.gpp.xmax, g.gpp.ymin - 0.1f};
  // The numbers and the label under the bar, and a power of ten 0.05 below
  // it, stay on the page: where the page ends sooner (landscape) the bar
  // moves up.
  constexpr float kRoomBelow = 0.07f;
  if (bar.ymin < kRoomBelow) {
    const float up = kRoomBelow - bar.ymin;
    bar.ymin += up;
    bar.ymax += up;
  }
  // A range near 3.4E+38 is drawn scaled down by a power of two (exact), so
  // that the power of ten and the label beyond the bar have float world
  // coordinates; the numbers give the data's own values.
  const double unit =
      log ? 1.0 : gs_detail::axis_unit(std::max(std::fabs(minimum), std::fabs(maximum)));
  const float lo = log ? std::log10(minimum) : static_cast<float>(minimum / unit);
  const float hi = log ? std::log10(maximum) : static_cast<float>(maximum / unit);
  (vertical ? g.y_axis_unit : g.x_axis_unit) = unit;
  const GsRect world = vertical ? GsRect{0.0f, lo, 1.0f, hi} : GsRect{lo, 0.0f, hi, 1.0f};
  g.dddr = world;
  g.dgpp = bar;
  QG_DATAWINDOW(world.xmin, world.ymin, world.xmax, world.ymax, status);
  QG_VIEWPORT(bar.xmin, bar.ymin, bar.xmax, bar.ymax, status);

  int first = 0;
  int last = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  const Index n = std::max(1, last - first + 1);
  std::vector<int> indices(static_cast<std::size_t>(n));
  for (Index k = 0; k < n; ++k) indices[static_cast<std::size_t>(k)] = first + static_cast<int>(k);
  if (vertical)
    QG_CELLARRAY(0.0f, lo, 1.0f, hi, 1, n, 1, 1, 1, n, indices, status);
  else
    QG_CELLARRAY(lo, 0.0f, hi, 1.0f, n, 1, 1, 1, n, 1, indices, status);

  const GsAxesStyle& axes = g.vaxes;
  GS_LINESTYLE(axes.line_type, axes.width, axes.colour, status);
  if (vertical) {
    GS_LINE(0.0f, lo, 1.0f, lo, status);
    GS_LINE(0.0f, hi, 1.0f, hi, status);
  } else {
    GS_LINE(lo, 0.0f, lo, 1.0f, status);
    GS_LINE(hi, 0.0f, hi, 1.0f, status);
  }
  const bool along_x = !vertical;
  if (log) {
    const int style = lo >= -4.0f && hi <= 6.0f ? 2 : 1;
    GS_ALOGAXIS(along_x, style, lo, hi, 0.0f, false, true, true, true, status);
    GS_ALOGAXIS(along_x, style, lo, hi, 1.0f, true, false, false, false, status);
  } else {
    float tick_first = 0.0f;
    float interval = 1.0f;
    int number = 0;
    GS_CAL_TICKS(minimum, maximum, tick_first, interval, number, status);
    tick_first = static_cast<float>(tick_first / unit);
    interval = static_cast<float>(interval / unit);
    GS_LINAXIS(along_x, lo, hi, 0.0f, tick_first, interval, number, false, true, true, true,
               status);
    GS_LINAXIS(along_x, lo, hi, 1.0f, tick_first, interval, number, true, false, false, false,
               status);
  }
  GS_XLABEL(zlabel, status);
  g.x_axis_unit = g.y_axis_unit = 1.0;
  g.dddr = saved_dddr;
  g.dgpp = saved_dgpp;
  Status local = kStatusGood;
  QG_DATAWINDOW(w[0], w[1], w[2], w[3], local);
  QG_VIEWPORT(v[0], v[1], v[2], v[3], local);
  GS_SET_DLUTPC(true, bar.xmin, bar.ymin, bar.xmax, bar.ymax, status);
}

bool gs_detail::say_no_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                                    Index xs, Index ys, Index xe, Index ye,
                                    std::string_view purpose, Status& status) {
  Index non_finite = 0;
  ma_nonfinite_count(xmaxdat, ymaxdat, data, xs, ys, xe, ye, non_finite, status);
  if (status != kStatusGood || non_finite != (xe - xs + 1) * (ye - ys + 1)) return false;
  IO_WRITE("WARNING: No finite data value in the region to " + std::string(purpose), status);
  return true;
}

}  // namespace kesta
