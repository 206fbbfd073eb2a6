// Construction of the distortion look-up table from the spline functions:
// the two-triangle re-binning of each moved pixel over a 3 x 3 block, done
// once for a unit intensity and stored as byte fractions.

#include <algorithm>
#include <array>
#include <cmath>

#include "app/distortion/correction_common.hpp"
#include "app/distortion/lut.hpp"
#include "app/distortion/spline_correction.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "numeric/trirebin.hpp"

namespace kesta {
namespace {

constexpr Index kCornerRows = 40;

// The lowest corner's offset: the integer part, less one for a negative
// value (so -1.0 gives -2); kept far from any overflow.
int block_shift(double smallest) {
  const double c = std::clamp(smallest, -1.0e6, 1.0e6);
  const int t = static_cast<int>(c);
  return c >= 0.0 ? t : t - 1;
}

// Cell numbers (0-based) ordered by grid value, largest first, ties to the
// lower number.
std::array<int, 9> by_share(const float grid[9]) {
  std::array<int, 9> order{0, 1, 2, 3, 4, 5, 6, 7, 8};
  std::stable_sort(order.begin(), order.end(),
                   [grid](int a, int b) { return grid[a] > grid[b]; });
  return order;
}

// The rounded fractions forced to sum to 255.
void force_sum(const float grid[9], int f[9]) {
  int sum = 0;
  for (int k = 0; k < 9; ++k) sum += f[k];
  if (sum == 255) return;
  const std::array<int, 9> order = by_share(grid);
  auto add = [&](std::initializer_list<int> cells, int step) {
    for (const int k : cells) f[k] += step;
  };
  switch (sum) {
    case 255:
      break;
    case 254: add({order[0]}, 1); break;
    case 256: add({order[0]}, -1); break;
    case 253: add({order[0], order[1]}, 1); break;
    case 257: add({order[0], order[1]}, -1); break;
    case 252: add({order[0], order[1], order[2]}, 1); break;
    case 258: add({order[0], order[1], order[2]}, -1); break;
    case 251: add({0, 1, 3, 4}, 1); break;
    case 250: add({0, 1, 3, 4, 5}, 1); break;
    default:
      if (sum < 250) {
        for (int k = 0; k < std::min(255 - sum, 9); ++k) ++f[k];
      } else {
        int excess = sum - 255;
        for (int k = 0; k < 9 && excess > 0; ++k)
          if (f[k] != 0) {
            --f[k];
            --excess;
          }
      }
  }
  // What the table cannot make good (after skipped triangles) goes to the
  // largest cell, or the centre when nothing was shared.
  sum = 0;
  bool any = false;
  for (int k = 0; k < 9; ++k) {
    sum += f[k];
    any = any || grid[k] > 0.0f;
  }
  if (sum != 255) f[any ? order[0] : 4] += 255 - sum;
}

}  // namespace

void KZT_SDLUT(const SplineSet& set, Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
               std::span<const float> yaxis, DistortionTable& table, bool& table_defined,
               Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_SDLUT V0.4";
  if (st_bad(status, kPosition)) return;
  if (xmaxdat < 1 || table.xmaxlut < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (ymaxdat < 1 || table.ymaxlut < 1) return st_fail(status, kBaseApp + 2, kPosition);
  const Index xnum = table.xnumlut, ynum = table.ynumlut;
  if (xnum < 1 || xnum > table.xmaxlut || xnum > xmaxdat ||
      static_cast<Index>(xaxis.size()) < xnum)
    return st_fail(status, kBaseApp + 5, kPosition);
  if (ynum < 1 || ynum > table.ymaxlut || ynum > ymaxdat ||
      static_cast<Index>(yaxis.size()) < ynum)
    return st_fail(status, kBaseApp + 6, kPosition);
  table_defined = false;
  if (xnum < 2 || ynum < 2) {
    IO_WRITE("WARNING: A look-up table needs at least 2 columns and 2 rows; none", status);
    IO_WRITE("         has been created.", status);
    return;
  }
  const float hx = (xaxis[static_cast<std::size_t>(xnum - 1)] - xaxis[0]) /
                   (2.0f * static_cast<float>(xnum - 1));
  const float hy = (yaxis[static_cast<std::size_t>(ynum - 1)] - yaxis[0]) /
                   (2.0f * static_cast<float>(ynum - 1));
  SplineBlocks blocks;
  if (!blocks.prepare(xaxis, yaxis, hx, hy, 1, xnum, ynum, kCornerRows, status)) return;
  IO_WRITE("INFO: Starting to create spatial distortion look-up table", status);
  double start = 0.0, start_cpu = 0.0;
  IO_TIMES(start, start_cpu, status);

  Index x_skipped = 0, y_skipped = 0;
  bool x_clamped = false, y_clamped = false;
  for (Index y = 1; y <= ynum; ++y) {
    SplineBlocks::EdgeRows e{};
    bool new_block = false;
    if (!blocks.row(set, y, e, new_block, status)) return;
    const float *dx0 = e.dx0, *dx1 = e.dx1, *dy0 = e.dy0, *dy1 = e.dy1;
    for (Index x = 1; x <= xnum; ++x) {
      const std::size_t i = static_cast<std::size_t>(x - 1);
      // The moved pixel's corners relative to its own ideal lower-left corner.
      float llx = dx0[i], lly = dy0[i];
      float lrx = 1.0f + dx0[i + 1], lry = dy0[i + 1];
      float ulx = dx1[i], uly = 1.0f + dy1[i];
      float urx = 1.0f + dx1[i + 1], ury = 1.0f + dy1[i + 1];
      int sx = block_shift(std::min({llx, lrx, ulx, urx}));
      int sy = block_shift(std::min({lly, lry, uly, ury}));
      const float a1 = triangle_area(llx, lly, lrx, lry, ulx, uly);
      const float a2 = triangle_area(urx, ury, lrx, lry, ulx, uly);
      int f[9] = {};
      if (!(a1 + a2 > 1.0e-6f)) {
        f[4] = 255;
      } else {
        const float mx = static_cast<float>(sx), my = static_cast<float>(sy);
        llx -= mx, lrx -= mx, ulx -= mx, urx -= mx;
        lly -= my, lry -= my, uly -= my, ury -= my;
        float grid[9] = {};
        const float density = 1.0f / (a1 + a2);
        MA_TRIREBIN(llx, lly, lrx, lry, ulx, uly, density, a1, 3, 3, 1, 1, 3, 3, x_skipped,
                    y_skipped, grid, status);
        MA_TRIREBIN(urx, ury, lrx, lry, ulx, uly, density, a2, 3, 3, 1, 1, 3, 3, x_skipped,
                    y_skipped, grid, status);
        if (status != kStatusGood) return;
        for (int k = 0; k < 9; ++k) f[k] = static_cast<int>(std::lround(255.0f * grid[k])) & 255;
        force_sum(grid, f);
      }
      if (sx > 127 || sx < -127) {
        x_clamped = true;
        sx = sx > 0 ? 127 : -127;
      }
      if (sy > 127 || sy < -127) {
        y_clamped = true;
        sy = sy > 0 ? 127 : -127;
      }
      // The block starts at its first non-empty column and row.
      if (f[0] == 0 && f[3] == 0 && f[6] == 0) {
        sx = std::min(sx + 1, 127);
        for (int r = 0; r < 9; r += 3) {
          f[r] = f[r + 1];
          f[r + 1] = f[r + 2];
          f[r + 2] = 0;
        }
      }
      if (f[0] == 0 && f[1] == 0 && f[2] == 0) {
        sy = std::min(sy + 1, 127);
        for (int c = 0; c < 3; ++c) {
          f[c] = f[c + 3];
          f[c + 3] = f[c + 6];
          f[c + 6] = 0;
        }
      }
      const Index k = element(x, y, table.xmaxlut);
      table.x_shifts[k] = static_cast<std::int8_t>(sx);
      table.y_shifts[k] = static_cast<std::int8_t>(sy);
      std::uint8_t* out = table.fractions.data() + 9 * k;
      for (int c = 0; c < 9; ++c) out[c] = static_cast<std::uint8_t>(f[c]);
    }
    if (y % 200 == 0)
      IO_WRITE("INFO: Number of rows calculated = " + format_i(y, 6) + " (" +
                   format_i(static_cast<int>(100.0f * static_cast<float>(y) /
                                             static_cast<float>(ynum)),
                            3) +
                   "%)",
               status);
  }
  double end = 0.0, end_cpu = 0.0;
  IO_TIMES(end, end_cpu, status);
  IO_WRITE("INFO: Time for creation of LUT = " + format_f(end - start, 12, 2) + " seconds", status);
  IO_WRITE("INFO: CPU Time for creation of LUT = " + format_f(end_cpu - start_cpu, 12, 2) +
               " seconds",
           status);
  for (const char axis : {'X', 'Y'}) {
    if (!(axis == 'X' ? x_clamped : y_clamped)) continue;
    IO_WRITE(std::string("WARNING: At one or more positions the ") + axis +
                 "-distortion was too large to be",
             status);
    IO_WRITE("         stored in the look-up table (+-127 pixels). At these points", status);
    IO_WRITE("         the distortion is set to the maximum storable value. If this", status);
    IO_WRITE("         only affects the extremes of the detector it is probably not", status);
    IO_WRITE("         important.", status);
  }
  correction_ignored_warning(x_skipped, "triangles have", "three", 'X', status);
  correction_ignored_warning(y_skipped, "triangles have", "three", 'Y', status);
  table.x_pixel_size = set.x_pixel_size;
  table.y_pixel_size = set.y_pixel_size;
  if (status == kStatusGood) table_defined = true;
}

}  // namespace kesta
