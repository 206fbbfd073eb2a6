// Contour maps: the line tracer (each cell split into four triangles about
// its centre, a straight segment where a level crosses a triangle) and the
// contour plot of a region in the frame of an image.

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/views3d.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;

// Which segment a triangle holds, by the signs (-1, 0, +1, offset by 1) of
// its vertices (corner, centre, next corner) against the level: 0 none;
// 1..3 along the edge of vertices 1-2, 2-3, 3-1; 4..6 from a vertex (1, 2,
// 3) to the opposite side; 7..9 across two sides (1-2 to 2-3, 2-3 to 3-1,
// 3-1 to 1-2).
constexpr int kCases[3][3][3] = {{{0, 0, 8}, {0, 2, 5}, {7, 6, 9}},
                                 {{0, 3, 4}, {1, 3, 1}, {4, 3, 0}},
                                 {{9, 6, 7}, {5, 2, 0}, {8, 0, 0}}};

int sign(double h) { return h > 0.0 ? 2 : h < 0.0 ? 0 : 1; }

// The arithmetic is in double: the values of a float image less a level, and
// the centre's mean of four, overflow single precision near 3.4e38.
struct Triangle {
  std::array<double, 3> h;  // values less the level
  std::array<double, 3> x;
  std::array<double, 3> y;

  // Where the side from vertex A to vertex B meets the level. The fraction
  // along the side is held within 0..1, so a point never leaves its triangle
  // (and the plot) whatever rounding does.
  void cut(int a, int b, float& px, float& py) const {
    const double t = std::clamp(h[a] / (h[a] - h[b]), 0.0, 1.0);
    px = static_cast<float>(x[a] + t * (x[b] - x[a]));
    py = static_cast<float>(y[a] + t * (y[b] - y[a]));
  }

  void draw(Status& status) const {
    const int c = kCases[sign(h[0])][sign(h[1])][sign(h[2])];
    // A triangle lying in the level (all three on it) draws nothing.
    if (c == 0 || (h[0] == 0.0 && h[1] == 0.0 && h[2] == 0.0)) return;
    float px[2], py[2];
    switch (c) {
      case 1:
      case 2:
      case 3: {
        const int a = c - 1;
        const int b = c % 3;
        px[0] = static_cast<float>(x[a]), py[0] = static_cast<float>(y[a]);
        px[1] = static_cast<float>(x[b]), py[1] = static_cast<float>(y[b]);
        break;
      }
      case 4:
      case 5:
      case 6: {
        const int a = c - 4;
        px[0] = static_cast<float>(x[a]), py[0] = static_cast<float>(y[a]);
        cut((a + 1) % 3, (a + 2) % 3, px[1], py[1]);
        break;
      }
      default: {
        const int a = c - 7;  // sides a-(a+1) and (a+1)-(a+2)
        cut(a, (a + 1) % 3, px[0], py[0]);
        cut((a + 1) % 3, (a + 2) % 3, px[1], py[1]);
        break;
      }
    }
    QG_POLYLINE(2, px, py, status);
  }
};

}  // namespace

void GS_2DCONTLINES(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                    std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, int maxlevels,
                    std::span<const float> levels, int numlevels, Status& status) {
  constexpr std::string_view position = "Subroutine GS_2DCONTLINES V0.1";
  if (st_bad(status, position)) return;
  if (maxlevels <= 0 && refuse(status, 1, position)) return;
  if (gs_detail::bad_plot(false, xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm,
                          xendelm, yendelm, 2, status, position))
    return;
  if ((numlevels < 0 || numlevels > maxlevels ||
       levels.size() < static_cast<std::size_t>(numlevels)) &&
      refuse(status, 5, position))
    return;
  GS_LINESTYLE(1, 1.0f, kGsBlack, status);
  // Corners in the order (i, j), (i+1, j), (i+1, j+1), (i, j+1).
  constexpr int im[4] = {0, 1, 1, 0};
  constexpr int jm[4] = {0, 0, 1, 1};
  for (int k = 0; k < numlevels && status == kStatusGood; ++k) {
    const double level = levels[static_cast<std::size_t>(k)];
    for (Index j = ystrelm; j < yendelm && status == kStatusGood; ++j) {
      const float* low = data.data() + element(1, j, xmaxdat) - 1;
      const float* high = low + xmaxdat;
      for (Index i = xstrelm; i < xendelm; ++i) {
        const double d[4] = {low[i], low[i + 1], high[i + 1], high[i]};
        const double sum = d[0] + d[1] + d[2] + d[3];
        // A cell with a corner that is not a finite number has no place for
        // a level to cross it.
        if (!std::isfinite(sum)) continue;
        const double lo = std::min(std::min(d[0], d[1]), std::min(d[2], d[3]));
        const double hi = std::max(std::max(d[0], d[1]), std::max(d[2], d[3]));
        if (!(level >= lo && level <= hi)) continue;
        const double cx = 0.5 * (double{xaxis[i - 1]} + xaxis[i]);
        const double cy = 0.5 * (double{yaxis[j - 1]} + yaxis[j]);
        const double centre = 0.25 * sum - level;
        for (int m = 0; m < 4 && status == kStatusGood; ++m) {
          const int n = (m + 1) % 4;
          const Triangle t{{d[m] - level, centre, d[n] - level},
                           {xaxis[i - 1 + im[m]], cx, xaxis[i - 1 + im[n]]},
                           {yaxis[j - 1 + jm[m]], cy, yaxis[j - 1 + jm[n]]}};
          t.draw(status);
        }
      }
    }
  }
}

void GS_2DCONTOUR(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                  std::string_view xlabel, std::string_view ylabel, std::string_view,
                  Status& status) {
  constexpr std::string_view position = "Subroutine GS_2DCONTOUR V0.3";
  if (st_bad(status, position)) return;
  if (gs_detail::bad_plot(false, xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm,
                          xendelm, yendelm, 2, status, position))
    return;
  // The levels split the finite range; without a finite pixel there is none,
  // and an empty frame would only look like data without contours.
  if (gs_detail::say_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm,
                                     "contour", status) ||
      gs_say_nothing_drawable(GsDrawing::kContour, xmaxdat, ymaxdat, data, xstrelm, ystrelm,
                              xendelm, yendelm, status) ||
      status != kStatusGood)
    return;
  gs_detail::image_frame(xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, status);
  float minimum = 0.0f;
  float maximum = 0.0f;
  MA_RMINMAX(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, minimum, maximum, status);
  if (status != kStatusGood) return;
  constexpr int kDeclared = 200;
  constexpr int num_levels = 10;
  std::array<float, kDeclared> levels{};
  const double bin = (static_cast<double>(maximum) - minimum) / 10.0;
  for (int k = 0; k < num_levels; ++k)
    levels[static_cast<std::size_t>(k)] = static_cast<float>(minimum + (k + 0.5) * bin);
  GS_BACKGROUND(status);
  GS_AXISFRAME(status);
  GS_2DCONTLINES(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm,
                 kDeclared, levels, num_levels, status);
  GS_GRID(status);
  GS_TITLE(title, status);
  GS_XLABEL(xlabel, status);
  GS_YLABEL(ylabel, status);
  GS_ATEXT(status);
  GS_ARROWS(status);
  GS_ALABELS(status);
}

}  // namespace kesta
