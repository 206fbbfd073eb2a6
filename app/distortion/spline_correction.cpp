// Spline distortion correction by re-binning: the four-pixel method (each
// moved pixel taken as an axis-aligned rectangle) and the two-triangle method
// (each moved pixel split into two triangles shared by exact area).

#include "app/distortion/spline_correction.hpp"

#include <algorithm>
#include <cmath>

#include "app/distortion/correction_common.hpp"
#include "core/ask_again.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/trirebin.hpp"

namespace kesta {
namespace {

Status correction_error(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                        Index yendelm, std::span<const float> data, std::span<float> mdata) {
  return array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                            std::min(data.size(), mdata.size()), kBaseApp);
}

// Half a pixel's width from the axis values over a region.
float half_width(std::span<const float> axis, Index start, Index end) {
  return (axis[static_cast<std::size_t>(end - 1)] - axis[static_cast<std::size_t>(start - 1)]) /
         (2.0f * static_cast<float>(end - start));
}

// The checks of both methods, the half pixel widths and the block work
// arrays; false when the method cannot run (STATUS then says why).
bool start_method(const char* position, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, Index x_start, Index y_start, Index x_end, Index y_end,
                  Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                  std::span<const float> yaxis, std::span<const float> data,
                  Index rows_per_block, std::span<float> mdata, float& hx, float& hy,
                  SplineBlocks& blocks, Status& status) {
  if (st_bad(status, position)) return false;
  if (const Status e =
          correction_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mdata);
      e != 0) {
    st_fail(status, e, position);
    return false;
  }
  if (xendelm <= xstrelm || yendelm <= ystrelm || rows_per_block < 2 || x_start < xstrelm ||
      y_start < ystrelm || x_end > xendelm || y_end > yendelm || x_start > x_end ||
      y_start > y_end) {
    st_fail(status, kBaseApp + 5, position);
    return false;
  }
  hx = half_width(xaxis, xstrelm, xendelm);
  hy = half_width(yaxis, ystrelm, yendelm);
  return blocks.prepare(xaxis, yaxis, hx, hy, x_start, x_end, y_end, rows_per_block, status);
}

// Timing and progress of one correction.
class Progress {
 public:
  Progress(Index first, Index last, Index every, Status& status)
      : first_(first), last_(last), every_(every) {
    IO_WRITE("INFO: Starting to correct data for spatial distortion", status);
    IO_TIMES(elapsed_, cpu_, status);
  }
  void row(Index r, Status& status) const {
    const Index count = r - first_ + 1;
    if (count % every_ != 0) return;
    const int percent = static_cast<int>(static_cast<float>(count) * 100.0f /
                                         static_cast<float>(last_ - first_ + 1));
    IO_WRITE("INFO: Number of rows re-binned = " + format_i(count, 6) + " (" +
                 format_i(percent, 3) + "%)",
             status);
  }
  void finish(Status& status) const {
    double elapsed = 0.0, cpu = 0.0;
    Status local = kStatusGood;
    IO_TIMES(elapsed, cpu, local);
    IO_WRITE("INFO: Time for correction = " + format_f(elapsed - elapsed_, 12, 2) + " seconds",
             status);
    IO_WRITE("INFO: CPU Time for correction = " + format_f(cpu - cpu_, 12, 2) + " seconds",
             status);
  }

 private:
  Index first_, last_, every_;
  double elapsed_ = 0.0, cpu_ = 0.0;
};

// Shares of a span L..R over its pixels (at most four); false when the span
// is folded (counted) and LO..HI is then empty. An over-wide span is counted
// and keeps only its first pixel, with no share.
// Inlined: called twice for every pixel, and a call kept the shares in
// memory.
[[gnu::always_inline]] inline bool span_shares(float l, float r, Index& lo, Index& hi, float f[4],
                                               Index& counter) {
  if (!(r > l)) {
    ++counter;
    lo = 1;
    hi = 0;
    return false;
  }
  lo = near_pixel(l);
  hi = far_pixel(r);
  const float w = r - l;
  const Index n = hi - lo;
  f[0] = 1.0f;
  if (n == 1) {
    f[0] = (static_cast<float>(lo) - l) / w;
    f[1] = 1.0f - f[0];
  } else if (n == 2 || n == 3) {
    f[0] = (static_cast<float>(lo) - l) / w;
    const float inner = 1.0f / w;
    f[1] = f[2] = inner;
    f[n] = 1.0f - f[0] - static_cast<float>(n - 1) * inner;
  } else if (n > 3) {
    ++counter;
    f[0] = 0.0f;
    hi = lo;
  }
  return true;
}

}  // namespace

void KZT_CORR_SPATIAL(bool /*gui*/, bool no_prompts, const SplineSet& set, Index xmaxdat,
                      Index ymaxdat, std::span<const float> xaxis, std::span<const float> yaxis,
                      std::span<const float> data, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, int& rows_per_block, float& overload_value,
                      std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
                      Index& mxstrelm, Index& mystrelm, Index& mxendelm, Index& myendelm,
                      Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CORR_SPATIAL V0.12";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          correction_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mdata);
      e != 0)
    return st_fail(status, e, kPosition);
  if (correction_region_too_small(xstrelm, ystrelm, xendelm, yendelm, status)) return;
  correction_pixel_sizes(set.x_pixel_size, set.y_pixel_size, status);

  Index x_start = 0, y_start = 0, x_end = 0, y_end = 0;
  spline_pixel_limits(set, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, x_start, y_start,
                      x_end, y_end, status);
  if (status != kStatusGood) return;

  float overload = overload_value;
  correction_overload_value(!no_prompts, overload, status);
  if (status != kStatusGood) return;
  int rows = rows_per_block;
  if (!no_prompts) {
    const int limit = static_cast<int>(std::min<Index>(yendelm - ystrelm + 2, 1000000000));
    rows = std::clamp(rows, -limit, limit);
    static const std::string kHelp[] = {
        "Enter the number of rows of the distortion functions to be calculated",
        "together. More rows use more memory and fewer calls (100 is suitable for a",
        "machine with much memory). Positive: the centres of the edges of each",
        "distorted pixel are calculated and overlaps are approximated by",
        "orthogonally aligned edges. Negative: the corners are calculated and",
        "straight lines drawn between them (about three times longer)."};
    if (!io_ask_until_accepted(
            rows,
            [&](int& r, Status& s) {
              IO_INPI(true, -limit, limit, true,
                      "NUMBER OF ROWS OF DISTORTION FUNCTIONS TO CALCULATED IN A BLOCK", kHelp,
                      {"Enter integer within given range"}, r, s);
            },
            [](int r) { return std::abs(r) >= 2; },
            [](Status& s) {
              IO_WRITE("WARNING: At least 2 rows must be calculated together i.e. >= -+2", s);
            },
            status))
      return;
  }
  if (std::abs(rows) < 2) rows = rows < 0 ? -2 : 2;
  overload_value = overload;
  rows_per_block = rows;

  mxstrelm = 1;
  mystrelm = 1;
  mxendelm = xmaxdat;
  myendelm = ymaxdat;
  MA_RVALUE(xmaxdat, ymaxdat, 1, 1, xmaxdat, ymaxdat, 0.0f, mdata, status);
  if (x_start <= x_end && y_start <= y_end) {
    if (rows < 1)
      KZT_CORR6_SPATIAL(xstrelm, ystrelm, xendelm, yendelm, overload, x_start, y_start, x_end,
                        y_end, set, xmaxdat, ymaxdat, xaxis, yaxis, data, -rows, mdata, status);
    else
      KZT_CORR5_SPATIAL(xstrelm, ystrelm, xendelm, yendelm, overload, x_start, y_start, x_end,
                        y_end, set, xmaxdat, ymaxdat, xaxis, yaxis, data, rows, mdata, status);
  }
  correction_axis(xaxis, xendelm, mxaxis, mxendelm);
  correction_axis(yaxis, yendelm, myaxis, myendelm);
  if (!no_prompts) correction_memory_note(status);
}

void KZT_CORR5_SPATIAL(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       float overload_value, Index x_start, Index y_start, Index x_end,
                       Index y_end, const SplineSet& set, Index xmaxdat, Index ymaxdat,
                       std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<const float> data, Index rows_per_block, std::span<float> mdata,
                       Status& status) {
  float hx = 0.0f, hy = 0.0f;
  SplineBlocks blocks;
  if (!start_method("Subroutine KZT_CORR5_SPATIAL V0.3", xstrelm, ystrelm, xendelm, yendelm,
                    x_start, y_start, x_end, y_end, xmaxdat, ymaxdat, xaxis, yaxis, data,
                    rows_per_block, mdata, hx, hy, blocks, status))
    return;
  const Progress progress(y_start, y_end, 500, status);
  Index x_ignored = 0, y_ignored = 0;
  for (Index r = y_start; r <= y_end; ++r) {
    SplineBlocks::EdgeRows e{};
    bool new_block = false;
    if (!blocks.row(set, r, e, new_block, status)) return;
    const float *dx0 = e.dx0, *dx1 = e.dx1, *dy0 = e.dy0, *dy1 = e.dy1;
    const float yc = yaxis[static_cast<std::size_t>(r - 1)];
    const float* in = data.data() + element(1, r, xmaxdat);
    float left = xaxis[static_cast<std::size_t>(x_start - 1)] - hx + (dx0[0] + dx1[0]) / 2.0f;
    for (Index p = x_start; p <= x_end; ++p) {
      const std::size_t i = static_cast<std::size_t>(p - x_start);
      const float xc = xaxis[static_cast<std::size_t>(p - 1)];
      const float right = xc + hx + (dx0[i + 1] + dx1[i + 1]) / 2.0f;
      const float down = yc - hy + (dy0[i] + dy0[i + 1]) / 2.0f;
      const float up = yc + hy + (dy1[i] + dy1[i + 1]) / 2.0f;
      float fx[4] = {}, fy[4] = {};
      Index xlo = 0, xhi = 0, ylo = 0, yhi = 0;
      const bool x_ok = span_shares(left, right, xlo, xhi, fx, x_ignored);
      const bool y_ok = span_shares(down, up, ylo, yhi, fy, y_ignored);
      left = right;
      if (!x_ok || !y_ok) continue;
      const float v = in[p - 1];
      if (xhi == xlo + 1 && yhi == ylo + 1 && xlo >= 1 && xhi <= xmaxdat && ylo >= 1 &&
          yhi <= ymaxdat && v < overload_value) {
        // The usual case: two by two output pixels, all in the image.
        float* out = mdata.data() + element(xlo, ylo, xmaxdat);
        const float v0 = v * fy[0], v1 = v * fy[1];
        out[0] += v0 * fx[0];
        out[1] += v0 * fx[1];
        out += xmaxdat;
        out[0] += v1 * fx[0];
        out[1] += v1 * fx[1];
        continue;
      }
      const Index x0 = std::max<Index>(xlo, 1), x1 = std::min(xhi, xmaxdat);
      const Index y0 = std::max<Index>(ylo, 1), y1 = std::min(yhi, ymaxdat);
      for (Index y = y0; y <= y1; ++y) {
        float* out = mdata.data() + element(1, y, xmaxdat);
        if (v < overload_value) {
          const float vy = v * fy[y - ylo];
          for (Index x = x0; x <= x1; ++x) out[x - 1] += vy * fx[x - xlo];
        } else {
          for (Index x = x0; x <= x1; ++x) out[x - 1] += v;
        }
      }
    }
    progress.row(r, status);
  }
  progress.finish(status);
  correction_ignored_warning(x_ignored, "input pixels have", "four", 'X', status);
  correction_ignored_warning(y_ignored, "input pixels have", "four", 'Y', status);
}

void KZT_CORR6_SPATIAL(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       float overload_value, Index x_start, Index y_start, Index x_end,
                       Index y_end, const SplineSet& set, Index xmaxdat, Index ymaxdat,
                       std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<const float> data, Index rows_per_block, std::span<float> mdata,
                       Status& status) {
  float hx = 0.0f, hy = 0.0f;
  SplineBlocks blocks;
  if (!start_method("Subroutine KZT_CORR6_SPATIAL V0.6", xstrelm, ystrelm, xendelm, yendelm,
                    x_start, y_start, x_end, y_end, xmaxdat, ymaxdat, xaxis, yaxis, data,
                    rows_per_block, mdata, hx, hy, blocks, status))
    return;
  const Progress progress(y_start, y_end, 200, status);
  Index x_ignored = 0, y_ignored = 0;
  const Index ne = blocks.edges();
  for (Index r = y_start; r <= y_end; ++r) {
    SplineBlocks::EdgeRows e{};
    bool new_block = false;
    if (!blocks.row(set, r, e, new_block, status)) return;
    if (new_block) {
      // Displacements become corrected corner positions.
      for (Index k = 0; k < blocks.rows(); ++k) {
        for (Index i = 0; i < ne; ++i) {
          const std::size_t c = static_cast<std::size_t>(k * ne + i);
          blocks.dx[c] += blocks.x_edges[static_cast<std::size_t>(i)];
          blocks.dy[c] += blocks.y_edges[static_cast<std::size_t>(k)];
        }
      }
    }
    const float *x0 = e.dx0, *x1 = e.dx1, *y0 = e.dy0, *y1 = e.dy1;
    const float* in = data.data() + element(1, r, xmaxdat);
    for (Index p = x_start; p <= x_end; ++p) {
      const std::size_t i = static_cast<std::size_t>(p - x_start);
      const float v = in[p - 1];
      // Corners: lower left, lower right, upper left, upper right.
      const float llx = x0[i], lly = y0[i], lrx = x0[i + 1], lry = y0[i + 1];
      const float ulx = x1[i], uly = y1[i], urx = x1[i + 1], ury = y1[i + 1];
      if (v < overload_value) {
        const float a1 = triangle_area(llx, lly, lrx, lry, ulx, uly);
        const float a2 = triangle_area(urx, ury, lrx, lry, ulx, uly);
        if (!(a1 + a2 > 1.0e-6f)) continue;
        const float density = v / (a1 + a2);
        MA_TRIREBIN(llx, lly, lrx, lry, ulx, uly, density, a1, xmaxdat, ymaxdat, 1, 1, xmaxdat,
                    ymaxdat, x_ignored, y_ignored, mdata, status);
        MA_TRIREBIN(urx, ury, lrx, lry, ulx, uly, density, a2, xmaxdat, ymaxdat, 1, 1, xmaxdat,
                    ymaxdat, x_ignored, y_ignored, mdata, status);
        if (status != kStatusGood) return;
      } else {
        const Index bx0 = std::max<Index>(near_pixel(std::min({llx, lrx, ulx, urx})), 1);
        const Index bx1 = std::min(far_pixel(std::max({llx, lrx, ulx, urx})), xmaxdat);
        const Index by0 = std::max<Index>(near_pixel(std::min({lly, lry, uly, ury})), 1);
        const Index by1 = std::min(far_pixel(std::max({lly, lry, uly, ury})), ymaxdat);
        for (Index y = by0; y <= by1; ++y)
          for (Index x = bx0; x <= bx1; ++x) mdata[element(x, y, xmaxdat)] += v;
      }
    }
    progress.row(r, status);
  }
  progress.finish(status);
  correction_ignored_warning(x_ignored, "triangles have", "three", 'X', status);
  correction_ignored_warning(y_ignored, "triangles have", "three", 'Y', status);
}

}  // namespace kesta
