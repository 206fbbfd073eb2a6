#include "numeric/splines.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

// Diagnostic lines of the evaluators go straight to the terminal.
void terminal_line(const char* text) {
  if (std::FILE* terminal = io_stream(kStreamTerminal); terminal != nullptr) {
    std::fputs(text, terminal);
    std::fputc('\n', terminal);
    std::fflush(terminal);
  }
}

// Knot interval L (1-based, 4 <= L <= N - 4) with T(L) <= U < T(L + 1),
// starting the search from L (which may be anywhere in that range).
Index find_interval(std::span<const float> t, Index n, float u, Index l) {
  l = std::clamp<Index>(l, 4, n - 4);
  while (l > 4 && u < t[l - 1]) --l;
  while (l < n - 4 && u >= t[l]) ++l;
  return l;
}

// The four non-zero cubic B-splines at U in interval L (de Boor-Cox).
void cubic_basis(std::span<const float> t, Index l, float u, float* h) {
  float hh[3];
  h[0] = 1.0f;
  for (int j = 1; j <= 3; ++j) {
    for (int i = 0; i < j; ++i) hh[i] = h[i];
    h[0] = 0.0f;
    for (int i = 1; i <= j; ++i) {
      const Index li = l + i, lj = li - j;  // 1-based knot numbers
      const float span = t[li - 1] - t[lj - 1];
      const float f = span != 0.0f ? hh[i - 1] / span : 0.0f;
      h[i - 1] += f * (t[li - 1] - u);
      h[i] = f * (u - t[lj - 1]);
    }
  }
}

float clamp_to_domain(std::span<const float> t, Index n, float u) {
  return std::clamp(u, t[3], t[n - 4]);
}

}  // namespace

float MA_CUBIC(float a, float b, float c, float d, float x) {
  float value = c * x + d;
  if (b != 0.0f) value += b * x * x;
  if (a != 0.0f) value += a * x * x * x;
  return value;
}

void MA_CUBSPLINE(float x1, float y1, float g1, float x2, float y2, float g2, bool& ok, float& a,
                  float& b, float& c, float& d, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_CUBSPLINE V0.1";
  if (st_bad(status, kPosition)) return;
  const float h = x2 - x1;
  if (std::fabs(h) < 1.0e-30f) return st_fail(status, kBaseMath + 13, kPosition);
  ok = true;
  const float h2 = h * h;
  if (std::fabs(h2) < 1.0e-30f) {
    ok = false;
    return;
  }
  // Hermite form about x1, then expanded into powers of x.
  const float slope = (y2 - y1) / h;
  const float cubic = (g1 + g2 - 2.0f * slope) / h2;
  const float square = (3.0f * slope - 2.0f * g1 - g2) / h;
  a = cubic;
  b = square - 3.0f * cubic * x1;
  c = g1 - 2.0f * square * x1 + 3.0f * cubic * x1 * x1;
  d = y1 - g1 * x1 + square * x1 * x1 - cubic * x1 * x1 * x1;
}

void MA_CAL_NBCUBSPLINE(Index max_xknots, Index num_xknots, std::span<const float> x_knots,
                        Index max_yknots, Index num_yknots, std::span<const float> y_knots,
                        Index max_coefficients, std::span<const float> coefficients, float x,
                        float y, float& value, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_CAL_NBCUBSPLINE V0.1";
  if (st_bad(status, kPosition)) return;
  if (max_xknots < 1 || max_coefficients < 1) return st_fail(status, kBaseMath + 1, kPosition);
  if (max_yknots < 1) return st_fail(status, kBaseMath + 2, kPosition);
  if (num_xknots < 8 || num_xknots > max_xknots || num_yknots < 8 || num_yknots > max_yknots ||
      (num_xknots - 4) * (num_yknots - 4) > max_coefficients) {
    return st_fail(status, kBaseMath + 5, kPosition);
  }
  if (const Status e = span_error({{max_xknots, 1, x_knots.size()}, {max_yknots, 1, y_knots.size()},
                                   {max_coefficients, 1, coefficients.size()}});
      e != 0)
    return st_fail(status, e, kPosition);
  const float u = clamp_to_domain(x_knots, num_xknots, x);
  const float v = clamp_to_domain(y_knots, num_yknots, y);
  const Index lx = find_interval(x_knots, num_xknots, u, 4);
  const Index ly = find_interval(y_knots, num_yknots, v, 4);
  float bx[4], by[4];
  cubic_basis(x_knots, lx, u, bx);
  cubic_basis(y_knots, ly, v, by);
  const Index ny4 = num_yknots - 4;
  float sum = 0.0f;
  for (int i = 0; i < 4; ++i) {
    const float* row = coefficients.data() + (lx - 4 + i) * ny4 + (ly - 4);
    for (int j = 0; j < 4; ++j) sum += bx[i] * by[j] * row[j];
  }
  value = sum;
}

void MA_CAL_2DNCUBSPLINE(int mode, Index max_xknots, Index num_xknots,
                         std::span<const float> x_knots, Index max_yknots, Index num_yknots,
                         std::span<const float> y_knots, Index max_coefficients,
                         std::span<const float> coefficients, Index xmaxdat,
                         std::span<const float> x_coords, Index ymaxdat,
                         std::span<const float> y_coords, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, Index xmax_work, Index ymax_work,
                         std::span<float> array, std::span<float> x_basis,
                         std::span<float> y_basis, std::span<int> x_interval,
                         std::span<int> y_interval, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_CAL_2DNCUBSPLINE V0.2";
  if (st_bad(status, kPosition)) return;
  auto fail = [&](Status code, const char* line) {
    if (line != nullptr) terminal_line(line);
    st_fail(status, kBaseMath + code, kPosition);
  };
  if (mode != 0 && mode != 1) return fail(17, nullptr);
  if (max_xknots < 1 || xmaxdat < 1 || max_coefficients < 1) return fail(1, nullptr);
  if (max_yknots < 1 || ymaxdat < 1) return fail(2, nullptr);
  if (num_xknots < 8 || num_xknots > max_xknots) return fail(5, "xnum_knots wrong");
  if ((num_xknots - 4) * (num_yknots - 4) > max_coefficients) {
    return fail(5, "max_coefficients too small");
  }
  if (num_yknots < 8 || num_yknots > max_yknots) return fail(5, nullptr);
  if (xstrelm < 1 || xendelm < xstrelm || xendelm > xmaxdat) {
    return fail(5, "xstrelm, xendelm problem");
  }
  if (ystrelm < 1 || yendelm < ystrelm || yendelm > ymaxdat) return fail(6, nullptr);
  if (xmax_work < 4 * xendelm) return fail(5, "xmax_work too small");
  if (ymax_work < 4 * yendelm) return fail(6, nullptr);
  if (const Status e = span_error(
          {{max_xknots, 1, x_knots.size()}, {max_yknots, 1, y_knots.size()},
           {max_coefficients, 1, coefficients.size()}, {xmaxdat, 1, x_coords.size()},
           {ymaxdat, 1, y_coords.size()}, {xmaxdat, ymaxdat, array.size()},
           {xmax_work, 1, x_basis.size()}, {ymax_work, 1, y_basis.size()},
           {xendelm, 1, x_interval.size()}, {yendelm, 1, y_interval.size()}});
      e != 0)
    return st_fail(status, e, kPosition);
  if (mode == 0) {
    for (Index x = xstrelm + 1; x <= xendelm; ++x) {
      if (x_coords[x - 1] < x_coords[x - 2]) return st_fail(status, kBaseMath + 1012, kPosition);
    }
    for (Index y = ystrelm + 1; y <= yendelm; ++y) {
      if (y_coords[y - 1] < y_coords[y - 2]) return st_fail(status, kBaseMath + 1012, kPosition);
    }
  }

  // Basis values and interval of every column and every row, once.
  Index l = 4;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    const float u = clamp_to_domain(x_knots, num_xknots, x_coords[x - 1]);
    l = find_interval(x_knots, num_xknots, u, l);
    x_interval[x - 1] = static_cast<int>(l);
    cubic_basis(x_knots, l, u, x_basis.data() + 4 * (x - 1));
  }
  l = 4;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float v = clamp_to_domain(y_knots, num_yknots, y_coords[y - 1]);
    l = find_interval(y_knots, num_yknots, v, l);
    y_interval[y - 1] = static_cast<int>(l);
    cubic_basis(y_knots, l, v, y_basis.data() + 4 * (y - 1));
  }

  const Index ny4 = num_yknots - 4;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* by = y_basis.data() + 4 * (y - 1);
    const Index ly = y_interval[y - 1];
    float* line = array.data() + (y - 1) * xmaxdat;
    // The Y part of each of the four terms depends only on the row and on
    // the knot interval in X, so it is made once for each run of columns
    // sharing an interval.
    int held = -1;
    float t[4] = {};
    for (Index x = xstrelm; x <= xendelm; ++x) {
      if (x_interval[x - 1] != held) {
        held = x_interval[x - 1];
        const float* c = coefficients.data() + (held - 4) * ny4 + (ly - 4);
        for (int i = 0; i < 4; ++i) {
          const float* row = c + i * ny4;
          t[i] = by[0] * row[0] + by[1] * row[1] + by[2] * row[2] + by[3] * row[3];
        }
      }
      const float* bx = x_basis.data() + 4 * (x - 1);
      float sum = 0.0f;
      for (int i = 0; i < 4; ++i) sum += bx[i] * t[i];
      line[x - 1] = sum;
    }
  }
}

}  // namespace kesta
