#include "numeric/filters.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

// Checks common to the two filters, in their order; 0 when usable.
Status filter_error(Index xmaxdat, Index ymaxdat, Index xs, Index ys, Index xe, Index ye,
                    Index xsize, Index ysize, Index xmaxout, Index ymaxout, bool extra_x_bad) {
  if (xmaxdat < 1 || xmaxout < 1 || extra_x_bad) return kBaseMath + 1;
  if (ymaxdat < 1 || ymaxout < 1) return kBaseMath + 2;
  if (xs < 1 || xe > xmaxdat || xe > xmaxout || xe < xs) return kBaseMath + 5;
  if (ys < 1 || ye > ymaxdat || ye > ymaxout || ye < ys) return kBaseMath + 6;
  if (xsize < 1) return kBaseMath + 17;
  if (ysize < 1) return kBaseMath + 18;
  return 0;
}

// Copies the N values of a data column (stride XMAX) into OUT, sorted
// ascending by insertion (a column is at most the box height).
void sort_column(const float* column, Index xmax, float* out, Index n) {
  for (Index i = 0; i < n; ++i) {
    const float v = column[i * xmax];
    Index j = i;
    for (; j > 0 && out[j - 1] > v; --j) out[j] = out[j - 1];
    out[j] = v;
  }
}

}  // namespace

void MA_MEDFILTER(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                  Index maxsorted, Index maxcolumn, Index xmaxout, Index ymaxout,
                  std::span<float> column, std::span<float> sorted, std::span<Index> source,
                  std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_MEDIANFILTER V0.3";
  if (st_bad(status, kPosition)) return;
  Status e = filter_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xsize, ysize,
                          xmaxout, ymaxout, maxsorted < 1 || maxcolumn < 1);
  Index box = 0;
  if (e == 0 && (!checked_product(xsize, ysize, box) || maxsorted < box)) e = kBaseMath + 5;
  if (e == 0 && maxcolumn < ysize) e = kBaseMath + 37;
  if (e == 0 && (static_cast<Index>(column.size()) < maxcolumn ||
                 static_cast<Index>(sorted.size()) < maxsorted ||
                 static_cast<Index>(source.size()) < maxsorted ||
                 !array_holds(data.size(), xmaxdat, ymaxdat) ||
                 !array_holds(output.size(), xmaxout, ymaxout)))
    e = kBaseMath + kShortSpan;
  if (e != 0) return st_fail(status, e, kPosition);

  const Index before_x = (xsize - 1) / 2;
  const Index after_x = xsize / 2;
  const Index before_y = (ysize - 1) / 2;
  const Index after_y = ysize / 2;
  float* col = column.data();
  float* list = sorted.data();
  Index* from = source.data();

  for (Index y = ystrelm; y <= yendelm; ++y) {
    const Index y0 = std::max(ystrelm, y - before_y);
    const Index y1 = std::min(yendelm, y + after_y);
    const Index n = y1 - y0 + 1;
    Index m = 0;

    // Sorts column X of the box and merges it into the list from the back.
    auto enter = [&](Index x) {
      sort_column(data.data() + element(x, y0, xmaxdat), xmaxdat, col, n);
      Index i = m - 1;
      Index j = n - 1;
      for (Index k = m + n - 1; j >= 0; --k) {
        if (i >= 0 && col[j] <= list[i]) {
          list[k] = list[i];
          from[k] = from[i];
          --i;
        } else {
          list[k] = col[j];
          from[k] = x;
          --j;
        }
      }
      m += n;
    };

    for (Index x = xstrelm; x <= std::min(xendelm, xstrelm + after_x - 1); ++x) enter(x);
    float* out = output.data() + element(1, y, xmaxout);
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const Index leaving = x - before_x - 1;
      if (leaving >= xstrelm) {
        // Branch-free: on noisy data whether an entry leaves is unpredictable.
        Index w = 0;
        for (Index r = 0; r < m; ++r) {
          list[w] = list[r];
          from[w] = from[r];
          w += from[r] != leaving;
        }
        m = w;
      }
      if (x + after_x <= xendelm) enter(x + after_x);
      out[x - 1] = (m % 2 == 1) ? list[m / 2] : (list[m / 2 - 1] + list[m / 2]) * 0.5f;
    }
  }
}

void MA_TOPHATCON(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                  bool average, Index xmaxout, Index ymaxout, std::span<float> output,
                  Status& status) {
  constexpr const char* kPosition = "Subroutine MA_TOPHATCON V0.2";
  if (st_bad(status, kPosition)) return;
  std::vector<float> work;
  // A region end beyond the arrays is refused by MA_TOPHAT2CON before the
  // work line is touched; only a sane length is allocated.
  const Index length =
      std::clamp<Index>(xendelm, 1, std::max<Index>(1, std::min(xmaxdat, xmaxout)));
  try {
    work.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  MA_TOPHAT2CON(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xsize, ysize, average,
                std::max<Index>(xendelm, length), xmaxout, ymaxout, work, output, status);
}

void MA_TOPHAT2CON(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                   bool average, Index maxwork, Index xmaxout, Index ymaxout, std::span<float> work,
                   std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_TOPHAT2CON V0.2";
  if (st_bad(status, kPosition)) return;
  Status e = filter_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xsize, ysize,
                          xmaxout, ymaxout, false);
  if (e == 0 && maxwork < xendelm) e = kBaseMath + 37;
  if (e == 0 && (static_cast<Index>(work.size()) < xendelm ||
                 !array_holds(data.size(), xmaxdat, ymaxdat) ||
                 !array_holds(output.size(), xmaxout, ymaxout)))
    e = kBaseMath + kShortSpan;
  if (e != 0) return st_fail(status, e, kPosition);

  const Index before_x = (xsize - 1) / 2;
  const Index after_x = xsize / 2;
  const Index before_y = (ysize - 1) / 2;
  const Index after_y = ysize / 2;
  const Index width = xendelm - xstrelm + 1;
  std::vector<double> sums;     // column sums over the box's rows
  std::vector<double> partial;  // partial[i]: sum of the first i column sums
  try {
    sums.assign(static_cast<std::size_t>(width), 0.0);
    partial.assign(static_cast<std::size_t>(width + 1), 0.0);
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  double* s = sums.data();
  double* p = partial.data();
  auto add_line = [&](Index yy, double sign) {
    const float* d = data.data() + element(xstrelm, yy, xmaxdat);
    for (Index i = 0; i < width; ++i) s[i] += sign * d[i];
  };

  for (Index yy = ystrelm; yy <= std::min(yendelm, ystrelm + after_y - 1); ++yy) add_line(yy, 1.0);
  for (Index y = ystrelm; y <= yendelm; ++y) {
    if (y - before_y - 1 >= ystrelm) add_line(y - before_y - 1, -1.0);
    if (y + after_y <= yendelm) add_line(y + after_y, 1.0);
    const double rows =
        static_cast<double>(std::min(yendelm, y + after_y) - std::max(ystrelm, y - before_y) + 1);
    for (Index i = 0; i < width; ++i) p[i + 1] = p[i] + s[i];
    float* out = output.data() + element(xstrelm, y, xmaxout);
    for (Index i = 0; i < width; ++i) {
      const Index lo = std::max<Index>(0, i - before_x);
      const Index hi = std::min(width - 1, i + after_x);
      const double sum = p[hi + 1] - p[lo];
      out[i] = static_cast<float>(average ? sum / (static_cast<double>(hi - lo + 1) * rows) : sum);
    }
  }
  for (Index i = 0; i < width; ++i)
    work[static_cast<std::size_t>(xstrelm - 1 + i)] = static_cast<float>(s[i]);
}

void MA_SYMFUN(float bin_width, Index maxfunc, Index numfunc, std::span<const float> function,
               float xcentre, float ycentre, int mode, float xscale, float yscale, Index xmaxdat,
               Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
               std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_SYMFUN V0.3";
  if (st_bad(status, kPosition)) return;
  Status e = 0;
  if (xmaxdat < 1 || maxfunc < 1) {
    e = kBaseMath + 1;
  } else if (const Status r =
                 region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseMath);
             r != 0) {
    e = r;
  } else if (mode != 0 && mode != 1) {
    e = kBaseMath + 17;
  } else if (numfunc < 1 || numfunc > maxfunc) {
    // The profile must have a first element to fall back on.
    e = kBaseMath + 17;
  } else if (!(bin_width > 0.0f) || !std::isfinite(bin_width)) {
    // Radii are counted in bins: a width of zero or less measures nothing.
    e = kBaseMath + 21;
  } else if (static_cast<Index>(function.size()) < numfunc ||
             !array_holds(array.size(), xmaxdat, ymaxdat)) {
    e = kBaseMath + kShortSpan;
  }
  if (e != 0) return st_fail(status, e, kPosition);

  const float* f = function.data();
  const double last = static_cast<double>(numfunc);
  const double width = bin_width;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const double dy = (double{ycentre} - (static_cast<double>(y) - 0.5)) * yscale;
    float* row = array.data() + element(1, y, xmaxdat);
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const double dx = (double{xcentre} - (static_cast<double>(x) - 0.5)) * xscale;
      const double r = std::sqrt(dx * dx + dy * dy) / width;
      // k and the bin it names are decided in double, before any conversion.
      const double k = std::floor(r + 0.5) + 1.0;
      float add;
      if (mode == 0) {
        if (!(k >= 2.0)) {
          add = f[0];
        } else if (k >= last) {
          add = f[numfunc - 1];
        } else {
          add = f[static_cast<Index>(k) - 1];
        }
      } else {
        if (!(k > 1.0)) {
          add = f[0];
        } else if (k > last) {
          add = f[numfunc - 1];
        } else {
          const Index ki = static_cast<Index>(k);
          const double frac = r + 1.5 - k;
          add = static_cast<float>(frac * f[ki - 1] + (1.0 - frac) * f[ki - 2]);
        }
      }
      row[x - 1] += add;
    }
  }
}

void MA_DIFZSCALE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, float& zmin, float& zmax,
                  Status& status) {
  constexpr const char* kPosition = "Subroutine MA_DIFZSCALE V0.4";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data.size());
      e != 0)
    return st_fail(status, e, kPosition);

  const Index xc = (xstrelm + xendelm) / 2;
  const Index yc = (ystrelm + yendelm) / 2;
  const Index width = xendelm - xstrelm + 1;
  const Index height = yendelm - ystrelm + 1;
  const Index hx = std::max<Index>(60, width / 5);
  const Index hy = std::max<Index>(60, height / 5);

  bool first = true;
  // Statistics of one sample box clipped to the region; widens the range.
  auto sample = [&](Index x0, Index y0, Index x1, Index y1) {
    x0 = std::max(x0, xstrelm);
    y0 = std::max(y0, ystrelm);
    x1 = std::min(x1, xendelm);
    y1 = std::min(y1, yendelm);
    if (x0 > x1 || y0 > y1) return;
    float maximum = 0, minimum = 0, mean = 0, total = 0, rms = 0, sigma = 0, skewness = 0;
    float f1 = 0, f2 = 0, f3 = 0, f4 = 0;
    MA_STATISTICS(xmaxdat, ymaxdat, data, x0, y0, x1, y1, maximum, minimum, mean, total, rms, sigma,
                  skewness, f1, f2, f3, f4, status);
    const float g = std::max(1.0f, std::fabs(skewness));
    const float low = std::max(minimum, mean - 3.0f * sigma / g);
    const float high = std::min(maximum, mean + 5.0f * sigma / g);
    if (first) {
      zmin = low;
      zmax = high;
      first = false;
    } else {
      zmin = std::min(zmin, low);
      zmax = std::max(zmax, high);
    }
  };

  sample(xc - hx, yc - hy, xc + hx, yc + hy);
  if (width > 240 && height > 240) {
    sample(xc - 120, yc - 120, xc - 60, yc - 60);
    sample(xc + 60, yc + 60, xc + 120, yc + 120);
  }
  if (width > 999 && height > 999) {
    sample(xc - 260, yc + 200, xc - 200, yc + 260);
    sample(xc + 200, yc - 260, xc + 260, yc - 200);
  }
  if (width >= 91 && height >= 91) {
    sample(xstrelm, ystrelm, xstrelm + 59, ystrelm + 59);
    sample(xendelm - 59, ystrelm, xendelm, ystrelm + 59);
    sample(xstrelm, yendelm - 59, xstrelm + 59, yendelm);
    sample(xendelm - 59, yendelm - 59, xendelm, yendelm);
  }
}

}  // namespace kesta
