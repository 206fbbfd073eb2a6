#include "app/fitting/surface.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/style_dialogues.hpp"
#include "numeric/chebyshev.hpp"

namespace kesta {

namespace {

// A region one column wide: the rule of a single row turned round. The
// column's usable pixels are fitted in Y as one line and the coefficients
// laid in the table's first X column, doubled, so that the halved first X
// coefficient gives them back; a column has no X order beyond 0.
void fit_column(Index xmaxdat, Index x, Index ystrelm, Index yendelm, std::span<const float> data,
                std::span<const float> x_axis, std::span<const float> y_axis,
                std::span<const std::uint8_t> mask, int x_order, int y_order, SurfaceFit& fit,
                int& failure, Status& status) {
  std::vector<float> ys, zs;
  Index non_finite = 0;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const std::size_t k = static_cast<std::size_t>(element(x, y, xmaxdat));
    if (k < mask.size() && mask[k] != 0) continue;
    if (!std::isfinite(data[k])) {
      ++non_finite;
      continue;
    }
    ys.push_back(y_axis[static_cast<std::size_t>(y - 1)]);
    zs.push_back(data[k]);
  }
  kzt_non_finite_note(non_finite, "elements", status);
  failure = 1;
  if (x_order > 0) return;
  failure = 2;
  if (static_cast<Index>(ys.size()) < std::max(2, y_order + 1)) return;
  if (ys.front() > ys.back()) {
    std::reverse(ys.begin(), ys.end());
    std::reverse(zs.begin(), zs.end());
  }
  SurfaceFit line;
  int retstat = 0;
  Status local = kStatusGood;
  const Index points = static_cast<Index>(ys.size());
  const Index per_line[] = {points};
  const float column_x[] = {x_axis[static_cast<std::size_t>(x - 1)]};
  MA_2DCHEBYSHEV(false, false, 1, 1, per_line, column_x, points, ys, zs, {}, kSurfaceTable,
                 kSurfaceTable, y_order, 0, retstat, line.y_min, line.x_min, line.y_max,
                 line.x_max, line.coeffs, local);
  if (local != kStatusGood || retstat != 0) return;
  SurfaceFit out;
  for (int j = 0; j <= y_order; ++j)
    out.coeffs[static_cast<std::size_t>(kSurfaceTable * j)] = line.coeffs[static_cast<std::size_t>(j)];
  out.x_min = line.x_min;
  out.x_max = line.x_max > line.x_min ? line.x_max : line.x_min + 1.0f;
  out.y_min = line.y_min;
  out.y_max = line.y_max > line.y_min ? line.y_max : line.y_min + 1.0f;
  fit = out;
  failure = 0;
}

}  // namespace

void KZT_FITCHEBYSHEV(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<const float> data, std::span<const float> x_axis,
                      std::span<const float> y_axis, std::span<const std::uint8_t> mask,
                      int x_order, int y_order, SurfaceFit& fit, int& failure, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_FITCHEBYSHEV V0.1";
  if (kzt_region_refused(kName, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (x_order < 0 || x_order > kMaxSurfaceOrder || y_order < 0 || y_order > kMaxSurfaceOrder)
    return st_fail(status, kBaseApp + 5, kName);
  failure = 1;
  if (xstrelm == xendelm) {
    fit_column(xmaxdat, xstrelm, ystrelm, yendelm, data, x_axis, y_axis, mask, x_order, y_order,
               fit, failure, status);
    return;
  }
  // The row lists: the usable pixels of each row in X order.
  const Index min_points = std::max(2, x_order + 1);
  std::vector<Index> per_line;
  std::vector<float> line_y, xs, zs;
  std::vector<float> row_x, row_z;
  Index non_finite = 0;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    row_x.clear();
    row_z.clear();
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const std::size_t k = static_cast<std::size_t>(element(x, y, xmaxdat));
      if (k < mask.size() && mask[k] != 0) continue;
      if (!std::isfinite(data[k])) {
        ++non_finite;
        continue;
      }
      row_x.push_back(x_axis[static_cast<std::size_t>(x - 1)]);
      row_z.push_back(data[k]);
    }
    if (static_cast<Index>(row_x.size()) < min_points) continue;
    // Rows in X order, the axis may run backwards.
    if (row_x.size() > 1 && row_x.front() > row_x.back()) {
      std::reverse(row_x.begin(), row_x.end());
      std::reverse(row_z.begin(), row_z.end());
    }
    per_line.push_back(static_cast<Index>(row_x.size()));
    line_y.push_back(y_axis[static_cast<std::size_t>(y - 1)]);
    xs.insert(xs.end(), row_x.begin(), row_x.end());
    zs.insert(zs.end(), row_z.begin(), row_z.end());
  }
  // Non-finite pixels are left out like masked ones; the user is told.
  kzt_non_finite_note(non_finite, "elements", status);
  if (per_line.empty()) return;
  failure = 2;
  if (static_cast<Index>(per_line.size()) < y_order + 1) return;
  if (per_line.size() > 1 && line_y.front() > line_y.back()) {
    // Lines in Y order: reverse the lines and their point runs.
    std::vector<float> rx, rz;
    std::size_t end = xs.size();
    for (std::size_t l = per_line.size(); l-- > 0;) {
      const std::size_t n = static_cast<std::size_t>(per_line[l]);
      rx.insert(rx.end(), xs.begin() + static_cast<long>(end - n), xs.begin() + static_cast<long>(end));
      rz.insert(rz.end(), zs.begin() + static_cast<long>(end - n), zs.begin() + static_cast<long>(end));
      end -= n;
    }
    xs.swap(rx);
    zs.swap(rz);
    std::reverse(per_line.begin(), per_line.end());
    std::reverse(line_y.begin(), line_y.end());
  }
  SurfaceFit out;
  int retstat = 0;
  Status local = kStatusGood;
  const Index lines = static_cast<Index>(per_line.size());
  const Index points = static_cast<Index>(xs.size());
  MA_2DCHEBYSHEV(false, false, lines, lines, per_line, line_y, points, xs, zs, {}, kSurfaceTable,
                 kSurfaceTable, x_order, y_order, retstat, out.x_min, out.y_min, out.x_max,
                 out.y_max, out.coeffs, local);
  if (local != kStatusGood) {
    failure = 1;
    return;
  }
  if (retstat != 0) return;
  // A single line (or column) has no extent to normalise over.
  if (!(out.x_max > out.x_min)) out.x_max = out.x_min + 1.0f;
  if (!(out.y_max > out.y_min)) out.y_max = out.y_min + 1.0f;
  fit = out;
  failure = 0;
}

void kzt_surface_image(bool add, const SurfaceFit& fit, int x_order, int y_order, Index xmaxdat,
                       Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const float> x_axis, std::span<const float> y_axis,
                       std::span<float> array, Status& status) {
  const Index rows = yendelm - ystrelm + 1;
  if (rows < 1) return;
  std::vector<float> row_values(static_cast<std::size_t>(rows));
  std::vector<float> row_coeffs(static_cast<std::size_t>(rows * (x_order + 1)));
  MA_CAL_2DCHEBYSHEV(add, fit.x_min, fit.y_min, fit.x_max, fit.y_max, kSurfaceTable, kSurfaceTable,
                     fit.coeffs, x_order, y_order, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                     yendelm, x_order + 1, rows, x_axis, y_axis, row_values, row_coeffs, array,
                     status);
}

void KZT_CHEBYSHEV(KztDataSets& sets, bool& memory_written, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_CHEBYSHEV V0.1";
  memory_written = false;
  const KztArrays& a = vosq_kzt_arrays;
  if (kzt_region_refused(kName, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                         status))
    return;
  if (a.data == nullptr || a.mdata == nullptr) return st_fail(status, kBaseApp + 1, kName);
  int x_order = 1, y_order = 1;
  const int x_top = static_cast<int>(std::min<Index>(a.xendelm - a.xstrelm, kMaxSurfaceOrder));
  const int y_top = static_cast<int>(std::min<Index>(a.yendelm - a.ystrelm, kMaxSurfaceOrder));
  x_order = std::min(x_order, x_top);
  y_order = std::min(y_order, y_top);
  IO_INPI(true, 0, x_top, true, "POLYNOMIAL X ORDER", {"Order of polynomial function in X-direction"},
          {"Must be within specified bounds"}, x_order, status);
  IO_INPI(true, 0, y_top, true, "POLYNOMIAL Y ORDER", {"Order of polynomial function in Y-direction"},
          {"Must be within specified bounds"}, y_order, status);
  if (status != kStatusGood) return;
  const std::span<const float> data = kzt_image(a.data);
  const std::span<const float> xaxis = kzt_xline(a.xaxis), yaxis = kzt_yline(a.yaxis);
  const std::span<const std::uint8_t> mask =
      sets.mask_exist ? std::span<const std::uint8_t>(kzt_mask()) : std::span<const std::uint8_t>();
  SurfaceFit fit;
  int failure = 0;
  KZT_FITCHEBYSHEV(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, data, xaxis,
                   yaxis, mask, x_order, y_order, fit, failure, status);
  if (status != kStatusGood) return;
  if (failure != 0) {
    IO_WRITE(failure == 2
                 ? "WARNING: The polynomial could not be fitted in the Y-direction owing"
                 : "WARNING: The polynomial could not be fitted in the X-direction owing",
             status);
    IO_WRITE("         to insufficient number of data points", status);
    return;
  }
  IO_WRITE("INFO: 2-D Chebyshev polynomial coefficients calculated", status);
  const std::span<float> memory = kzt_image(a.mdata);
  kzt_surface_image(false, fit, x_order, y_order, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm,
                    a.xendelm, a.yendelm, xaxis, yaxis, memory, status);
  if (status != kStatusGood) return;
  double sum = 0.0;
  Index count = 0;
  for_region_rows(a.xmaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                  [&](Index offset, Index, Index n) {
                    for (Index i = offset; i < offset + n; ++i) {
                      const std::size_t k = static_cast<std::size_t>(i);
                      if ((k < mask.size() && mask[k] != 0) || !std::isfinite(data[k])) continue;
                      const double r = static_cast<double>(data[k]) - memory[k];
                      sum += r * r;
                      ++count;
                    }
                  });
  if (a.mvariances != nullptr) {
    const std::span<float> mv = kzt_image(a.mvariances);
    for_region_rows(a.xmaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                    [&](Index offset, Index, Index n) { std::fill_n(mv.data() + offset, n, 0.0f); });
  }
  const double rms = count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
  IO_WRITE("INFO: RMS residual = " + format_g(rms, 14, 5), status);
  memory_written = true;
}

void KZT_MASKSTATS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const std::uint8_t> mask, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_MASKSTATS V0.1";
  if (kzt_region_refused(kName, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status))
    return;
  Index masked = 0;
  if (!mask.empty())
    for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm,
                    [&](Index offset, Index, Index n) {
                      for (Index i = offset; i < offset + n; ++i)
                        masked += mask[static_cast<std::size_t>(i)] != 0;
                    });
  const Index total = (xendelm - xstrelm + 1) * (yendelm - ystrelm + 1);
  const double percent = 100.0 * static_cast<double>(masked) / static_cast<double>(total);
  IO_WRITE("INFO: Total number of elements in active data region = " + format_i(total, 8), status);
  IO_WRITE("      Number of masked elements = " + format_i(masked, 8), status);
  IO_WRITE("      Number of unmasked elements = " + format_i(total - masked, 8), status);
  // A wholly masked region does not fit the eight decimals.
  IO_WRITE("      Percentage of masked elements = " +
               (masked == total ? std::string("100.0000000") : format_f(percent, 11, 8)),
           status);
}

void KZT_MASKMEMORY(KztDataSets& sets, Status& status) {
  static constexpr const char* kName = "Subroutine KZT_MASKMEMORY V0.1";
  KztArrays& a = vosq_kzt_arrays;
  if (kzt_region_refused(kName, a.xmaxdat, a.ymaxdat, 1, 1, a.xnumdat, a.ynumdat, status)) return;
  if (a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr)
    return st_fail(status, kBaseApp + 1, kName);
  const std::span<float> memory = kzt_image(a.mdata);
  const std::span<const std::uint8_t> mask =
      sets.mask_exist ? std::span<const std::uint8_t>(kzt_mask()) : std::span<const std::uint8_t>();
  for_region_rows(a.xmaxdat, 1, 1, a.xnumdat, a.ynumdat, [&](Index offset, Index, Index n) {
    for (Index i = offset; i < offset + n; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      memory[k] = (k < mask.size() && mask[k] != 0) ? 1.0f : 0.0f;
    }
  });
  if (a.mvariances != nullptr) {
    const std::span<float> mv = kzt_image(a.mvariances);
    for_region_rows(a.xmaxdat, 1, 1, a.xnumdat, a.ynumdat,
                    [&](Index offset, Index, Index n) { std::fill_n(mv.data() + offset, n, 0.0f); });
  }
  std::copy_n(a.xaxis, a.xnumdat, a.mxaxis);
  std::copy_n(a.yaxis, a.ynumdat, a.myaxis);
  sets.mxnumdat = a.xnumdat;
  sets.mynumdat = a.ynumdat;
  sets.mxstrelm = 1;
  sets.mystrelm = 1;
  sets.mxendelm = a.xnumdat;
  sets.myendelm = a.ynumdat;
  sets.mtitle = "Data Mask";
  sets.mxlabel = sets.xlabel;
  sets.mylabel = sets.ylabel;
  sets.mzlabel = "(1.0 equals masked element)";
  sets.mx_pixel_size = sets.x_pixel_size;
  sets.my_pixel_size = sets.y_pixel_size;
  sets.memory_defined = true;
}

void KZT_MASKCOLOUR(Status& status) {
  if (st_bad(status, "Subroutine KZT_MASKCOLOUR V0.1")) return;
  int colour = kGsRed;
  GS_INQ_MASKCOLOUR(colour, status);
  GS_INP_COLOUR("COLOUR FOR MASKED OFF ELEMENTS", true, colour, status);
  if (status != kStatusGood) return;
  GS_SET_MASKCOLOUR(colour, status);
}

}  // namespace kesta
