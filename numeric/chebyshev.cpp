#include "numeric/chebyshev.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/extremes.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

// Normalised variable of X over X_MIN..X_MAX (0 for an empty range).
double normalised(double x, double x_min, double x_max) {
  if (x_max == x_min) return 0.0;
  return ((x - x_min) - (x_max - x)) / (x_max - x_min);
}

// Clenshaw's recurrence for the series C(0..ORDER) at T, first coefficient halved.
double series(const float* c, int order, double t) {
  if (order == 0) return 0.5 * c[0];
  double b1 = 0.0, b2 = 0.0;  // b(j + 1), b(j + 2)
  for (int j = order; j >= 1; --j) {
    const double b = 2.0 * t * b1 - b2 + c[j];
    b2 = b1;
    b1 = b;
  }
  return t * b1 - b2 + 0.5 * c[0];
}

}  // namespace

void MA_POLYNOMIAL(bool weighted, bool auto_range, bool option, Index max_data, Index num_data,
                   std::span<const float> x, std::span<const float> y,
                   std::span<const float> weights, Index table_rows, Index table_columns,
                   int max_degree, Index data_work_length, Index coeff_work_length, float& x_min,
                   float& x_max, int& retstat, std::span<float> table, std::span<float> residuals,
                   std::span<float> data_work1, std::span<float> data_work2,
                   std::span<float> data_work3, std::span<float> coeff_work1,
                   std::span<float> coeff_work2, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_POLYNOMIAL V0.3";
  if (st_bad(status, kPosition)) return;
  const Index m = num_data;
  const int k_max = max_degree;
  Status code = 0;
  if (max_data <= 0) {
    code = 20001;
  } else if (table_columns <= 0) {
    code = 20002;
  } else if (k_max < 0 || k_max >= table_rows || k_max >= table_columns) {
    code = 20005;
  } else if (m < 2 || m > max_data || option) {
    code = 20017;
  } else if (data_work_length < m || coeff_work_length < k_max + 1) {
    code = 20037;
  } else {
    code = span_error({{max_data, 1, x.size()}, {max_data, 1, y.size()},
                       {weighted ? max_data : 0, 1, weights.size()},
                       {table_rows, table_columns, table.size()}, {k_max + 1, 1, residuals.size()},
                       {data_work_length, 1, data_work1.size()},
                       {data_work_length, 1, data_work2.size()},
                       {data_work_length, 1, data_work3.size()},
                       {coeff_work_length, 1, coeff_work1.size()},
                       {coeff_work_length, 1, coeff_work2.size()}});
  }
  if (code == 0 && weighted) {
    for (Index i = 0; i < m; ++i) {
      if (!(weights[i] >= 0.0f)) code = 20021;
    }
  }
  if (code == 0) {
    for (Index i = 1; i < m; ++i) {
      if (x[i] < x[i - 1]) code = 20021;
    }
  }
  if (code == 0) {
    // Points without weight carry no information about the curve.
    Index distinct = 0;
    bool have_last = false;
    float last = 0.0f;
    for (Index i = 0; i < m; ++i) {
      if (weighted && weights[i] == 0.0f) continue;
      if (!have_last || x[i] != last) ++distinct;
      have_last = true;
      last = x[i];
    }
    if (distinct < k_max + 1) code = 21014;
  }
  if (code == 0) {
    if (auto_range) {
      x_min = x[0];
      x_max = x[m - 1];
    } else if (x_min >= x_max) {
      code = 20013;
    }
  }
  if (code != 0) return st_fail(status, code, kPosition);
  retstat = 0;

  float* t = data_work1.data();  // normalised positions
  float* r = data_work2.data();  // working residuals
  float* v = data_work3.data();  // current polynomial times the weight
  float* a = coeff_work1.data();  // current polynomial
  float* p = coeff_work2.data();  // previous polynomial
  for (Index i = 0; i < m; ++i) {
    t[i] = static_cast<float>(normalised(x[i], x_min, x_max));
    r[i] = weighted ? weights[i] * y[i] : y[i];
  }
  std::fill(a, a + k_max + 1, 0.0f);
  std::fill(p, p + k_max + 1, 0.0f);
  a[0] = 1.0f;
  auto cell = [&](int row, int column) -> float& {
    return table[static_cast<std::size_t>(row + column * table_rows)];
  };
  double s_previous = 1.0;
  for (int d = 0; d <= k_max; ++d) {
    double s = 0.0, c = 0.0, tt = 0.0;
    for (Index i = 0; i < m; ++i) {
      double value = series(a, d, t[i]);
      if (weighted) value *= weights[i];
      v[i] = static_cast<float>(value);
      s += value * value;
      c += value * r[i];
      tt += value * value * t[i];
    }
    // Only reachable when rounding defeats the distinct-value count.
    if (!(s > 0.0)) return st_fail(status, 21014, kPosition);
    const double beta = d >= 1 ? s / s_previous : 0.0;
    s_previous = s;
    const double factor = c / s;
    double sum_r2 = 0.0;
    for (Index i = 0; i < m; ++i) {
      r[i] = static_cast<float>(r[i] - factor * v[i]);
      sum_r2 += double(r[i]) * r[i];
    }
    residuals[d] = d + 1 < m ? static_cast<float>(std::sqrt(sum_r2 / double(m - d - 1))) : 0.0f;
    for (int k = 0; k <= d; ++k) {
      const float previous_row = k < d ? cell(d - 1, k) : 0.0f;
      cell(d, k) = static_cast<float>(previous_row + factor * a[k]);
    }
    if (d == k_max) break;  // no next polynomial: nothing beyond K + 1 is written
    // Next polynomial: 2 (t - T/S) times the current minus beta times the
    // previous, using 2 t T_k = T_(k+1) + T_(k-1).
    const double shift = 2.0 * tt / s;
    std::vector<double> next(static_cast<std::size_t>(d + 2));
    const auto coef = [&](const float* q, int k) { return k <= d ? double(q[k]) : 0.0; };
    next[0] = 2.0 * coef(a, 1) - shift * a[0] - beta * p[0];
    for (int k = 1; k <= d; ++k) {
      next[k] = coef(a, k + 1) + a[k - 1] - shift * a[k] - beta * p[k];
    }
    next[d + 1] = 1.0;
    for (int k = 0; k <= d; ++k) p[k] = a[k];
    for (int k = 0; k <= d + 1; ++k) a[k] = static_cast<float>(next[k]);
  }
}

void MA_1DCHEBYSHEV(bool weighted, bool auto_range, bool option, Index max_data, Index num_data,
                    std::span<const float> x, std::span<const float> y,
                    std::span<const float> weights, Index max_coeffs, int order, float& x_min,
                    float& x_max, int& retstat, std::span<float> coeffs, float& residual,
                    Status& status) {
  constexpr const char* kPosition = "Subroutine MA_1DCHEBYSHEV V0.2";
  if (st_bad(status, kPosition)) return;
  if (max_data < 1) return st_fail(status, 20001, kPosition);
  if (order < 0 || order >= max_coeffs) return st_fail(status, 20005, kPosition);
  if (num_data < 2 || num_data > max_data || option) return st_fail(status, 20017, kPosition);
  if (const Status e = span_error({{max_coeffs, 1, coeffs.size()}}); e != 0)
    return st_fail(status, e, kPosition);
  const auto terms = static_cast<std::size_t>(order) + 1;
  std::vector<float> table, residuals, w1, w2, w3, c1, c2;
  try {
    table.resize(terms * terms);
    residuals.resize(terms);
    w1.resize(static_cast<std::size_t>(num_data));
    w2.resize(static_cast<std::size_t>(num_data));
    w3.resize(static_cast<std::size_t>(num_data));
    c1.resize(terms);
    c2.resize(terms);
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  MA_POLYNOMIAL(weighted, auto_range, option, max_data, num_data, x, y, weights,
                static_cast<Index>(terms), static_cast<Index>(terms), order, num_data,
                static_cast<Index>(terms), x_min, x_max, retstat, table, residuals, w1, w2, w3, c1,
                c2, status);
  if (status != kStatusGood) return;
  for (std::size_t k = 0; k < terms; ++k) coeffs[k] = table[static_cast<std::size_t>(order) + k * terms];
  residual = residuals[static_cast<std::size_t>(order)];
}

void MA_CAL_POLYNOMIAL(bool add, float x_min, float x_max, Index max_coeffs, int order,
                       std::span<const float> coeffs, Index max_coordinates,
                       Index num_coordinates, std::span<const float> x, std::span<float> y,
                       Status& status) {
  constexpr const char* kPosition = "Subroutine MA_CAL_POLYNOMIAL V0.3";
  if (st_bad(status, kPosition)) return;
  if (max_coordinates <= 0 || max_coeffs <= 0) return st_fail(status, 20001, kPosition);
  if (num_coordinates <= 0 || num_coordinates > max_coordinates) {
    // Straight to the terminal, not the log.
    const std::string line = "num_coordinates, max_coordinates = " + format_i(num_coordinates, 6) +
                             format_i(max_coordinates, 6) + "\n";
    if (std::FILE* terminal = io_stream(kStreamTerminal); terminal != nullptr) {
      std::fputs(line.c_str(), terminal);
      std::fflush(terminal);
    }
    return st_fail(status, 20005, kPosition);
  }
  if (x_min >= x_max) return st_fail(status, 20021, kPosition);
  // The coefficient array ends at MAX_COEFFS.
  if (order < 0 || order >= max_coeffs) return st_fail(status, 20017, kPosition);
  if (const Status e = span_error({{max_coeffs, 1, coeffs.size()}, {max_coordinates, 1, x.size()},
                                   {max_coordinates, 1, y.size()}});
      e != 0)
    return st_fail(status, e, kPosition);
  for (Index i = 0; i < num_coordinates; ++i) {
    const double t = std::clamp(normalised(x[i], x_min, x_max), -1.0, 1.0);
    const auto value = static_cast<float>(series(coeffs.data(), order, t));
    y[i] = add ? y[i] + value : value;
  }
}

void MA_2DCHEBYSHEV(bool weighted, bool option, Index max_lines, Index num_lines,
                    std::span<const Index> points_per_line, std::span<const float> line_y,
                    Index max_points, std::span<const float> x, std::span<const float> z,
                    std::span<const float> w, Index max_xcoeff, Index max_ycoeff, int x_order,
                    int y_order, int& retstat, float& x_min, float& y_min, float& x_max,
                    float& y_max, std::span<float> coeffs, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DCHEBYSHEV V0.2";
  if (st_bad(status, kPosition)) return;
  if (max_lines < 1 || max_points < 1 || max_xcoeff < 1) return st_fail(status, 20001, kPosition);
  if (max_ycoeff < 1) return st_fail(status, 20002, kPosition);
  if (x_order < 0 || x_order > max_xcoeff - 1) return st_fail(status, 20017, kPosition);
  if (y_order < 0 || y_order > max_ycoeff - 1) return st_fail(status, 20018, kPosition);
  if (num_lines < 1 || num_lines > max_lines) return st_fail(status, 20005, kPosition);
  if (const Status e = span_error({{max_lines, 1, points_per_line.size()},
                                   {max_lines, 1, line_y.size()}, {max_points, 1, x.size()},
                                   {max_points, 1, z.size()},
                                   {weighted ? max_points : 0, 1, w.size()},
                                   {max_xcoeff, max_ycoeff, coeffs.size()}});
      e != 0)
    return st_fail(status, e, kPosition);
  Index total = 0;
  for (Index l = 0; l < num_lines; ++l) {
    if (points_per_line[l] < 0) return st_fail(status, 20005, kPosition);
    total += points_per_line[l];
    if (total > max_points) break;
  }
  if (total < 1 || total > max_points) return st_fail(status, 20005, kPosition);
  retstat = 0;

  x_min = kAboveEveryValue;
  x_max = kBelowEveryValue;
  for (Index i = 0; i < total; ++i) {
    x_min = std::min(x_min, x[i]);
    x_max = std::max(x_max, x[i]);
  }
  extremes_found(x_min, x_max);
  y_min = line_y[0];
  y_max = line_y[num_lines - 1];

  const int order = std::max(x_order, y_order);
  const auto terms = static_cast<std::size_t>(order) + 1;
  const auto x_terms = static_cast<std::size_t>(x_order) + 1;
  std::vector<float> table, residuals, line_coeffs, w1, w2, w3, c1, c2, values, ones;
  try {
    table.resize(terms * terms);
    residuals.resize(terms);
    line_coeffs.resize(x_terms * static_cast<std::size_t>(num_lines));
    Index longest = num_lines;
    for (Index l = 0; l < num_lines; ++l) longest = std::max(longest, points_per_line[l]);
    w1.resize(static_cast<std::size_t>(longest));
    w2.resize(static_cast<std::size_t>(longest));
    w3.resize(static_cast<std::size_t>(longest));
    c1.resize(terms);
    c2.resize(terms);
    values.resize(static_cast<std::size_t>(num_lines));
    ones.assign(static_cast<std::size_t>(num_lines), 1.0f);
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  const auto rows = static_cast<Index>(terms);

  // Each line in X over the common range.
  Index first = 0;
  for (Index l = 0; l < num_lines; ++l) {
    const Index count = points_per_line[l];
    float lo = x_min, hi = x_max;
    MA_POLYNOMIAL(weighted, false, option, count, count, x.subspan(first), z.subspan(first),
                  weighted ? w.subspan(first) : w, rows, rows, x_order, count, rows, lo, hi,
                  retstat, table, residuals, w1, w2, w3, c1, c2, status);
    if (status != kStatusGood) return;
    for (std::size_t i = 0; i < x_terms; ++i) {
      line_coeffs[i + x_terms * static_cast<std::size_t>(l)] =
          table[static_cast<std::size_t>(x_order) + i * terms];
    }
    first += count;
  }

  auto out = [&](std::size_t i, std::size_t j) -> float& {
    return coeffs[i + j * static_cast<std::size_t>(max_xcoeff)];
  };
  for (std::size_t i = 0; i < x_terms; ++i) {
    for (std::size_t j = 0; j <= static_cast<std::size_t>(y_order); ++j) out(i, j) = 0.0f;
  }
  if (num_lines == 1) {
    // The halved first Y coefficient reproduces the single line.
    for (std::size_t i = 0; i < x_terms; ++i) out(i, 0) = 2.0f * line_coeffs[i];
    return;
  }
  // Each X coefficient across the lines in Y.
  for (std::size_t i = 0; i < x_terms; ++i) {
    for (Index l = 0; l < num_lines; ++l) values[l] = line_coeffs[i + x_terms * static_cast<std::size_t>(l)];
    float lo = y_min, hi = y_max;
    Status local = ST_GOOD();
    MA_POLYNOMIAL(false, false, false, num_lines, num_lines, line_y, values, ones, rows, rows,
                  y_order, num_lines, rows, lo, hi, retstat, table, residuals, w1, w2, w3, c1, c2,
                  local);
    if (local != kStatusGood) {
      retstat = 2;
      return;
    }
    for (std::size_t j = 0; j <= static_cast<std::size_t>(y_order); ++j) {
      out(i, j) = table[static_cast<std::size_t>(y_order) + j * terms];
    }
  }
}

void MA_CAL_2DCHEBYSHEV(bool add, float x_min, float y_min, float x_max, float y_max,
                        Index max_xcoeff, Index max_ycoeff, std::span<const float> coeffs,
                        int x_order, int y_order, Index xmaxdat, Index ymaxdat, Index xstrelm,
                        Index ystrelm, Index xendelm, Index yendelm, Index xcoeff_work_length,
                        Index row_work_length, std::span<const float> x_coords,
                        std::span<const float> y_coords, std::span<float> row_values,
                        std::span<float> row_coeffs, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_CAL_2DCHEBYSHEV V0.4";
  if (st_bad(status, kPosition)) return;
  Status code = 0;
  if (xmaxdat < 1 || max_xcoeff < 1 || xcoeff_work_length < 1) {
    code = 20001;
  } else if (ymaxdat < 1 || max_ycoeff < 1) {
    code = 20002;
  } else if (x_order < 0 || x_order >= max_xcoeff || x_order >= xcoeff_work_length) {
    code = 20005;
  } else if (y_order < 0 || y_order >= max_ycoeff || ystrelm < 1 || yendelm > ymaxdat ||
             yendelm < ystrelm || yendelm - ystrelm + 1 > row_work_length) {
    code = 20006;
  } else if (xstrelm < 1 || xendelm > xmaxdat || xendelm < xstrelm) {
    code = 20005;
  } else if (x_min >= x_max) {
    code = 20013;
  } else if (y_min >= y_max) {
    code = 20014;
  } else {
    code = span_error({{max_xcoeff, max_ycoeff, coeffs.size()}, {xmaxdat, 1, x_coords.size()},
                       {ymaxdat, 1, y_coords.size()}, {row_work_length, 1, row_values.size()},
                       {xcoeff_work_length, row_work_length, row_coeffs.size()},
                       {xmaxdat, ymaxdat, array.size()}});
  }
  if (code != 0) return st_fail(status, code, kPosition);

  const Index nrows = yendelm - ystrelm + 1;
  const auto xc = static_cast<std::size_t>(xcoeff_work_length);
  // One series in Y per X coefficient, at every row of the region.
  for (int i = 0; i <= x_order; ++i) {
    std::vector<float> column(static_cast<std::size_t>(y_order) + 1);
    for (int j = 0; j <= y_order; ++j) {
      column[static_cast<std::size_t>(j)] = coeffs[static_cast<std::size_t>(i + j * max_xcoeff)];
    }
    for (Index r = 0; r < nrows; ++r) {
      const double t = std::clamp(normalised(y_coords[ystrelm - 1 + r], y_min, y_max), -1.0, 1.0);
      row_values[r] = static_cast<float>(series(column.data(), y_order, t));
      row_coeffs[static_cast<std::size_t>(i) + xc * static_cast<std::size_t>(r)] = row_values[r];
    }
  }
  // One series in X per pixel, as a sum over the Chebyshev terms of each
  // column, worked out once (the first halved): X-inner loops over a row.
  const auto ncols = static_cast<std::size_t>(xendelm - xstrelm + 1);
  const auto terms = static_cast<std::size_t>(x_order) + 1;
  std::vector<double> basis(terms * ncols), sum(ncols);
  for (std::size_t k = 0; k < ncols; ++k) {
    const double t =
        std::clamp(normalised(x_coords[static_cast<std::size_t>(xstrelm - 1) + k], x_min, x_max),
                   -1.0, 1.0);
    double before = 1.0, now = t;
    basis[k] = 0.5;
    if (terms > 1) basis[ncols + k] = t;
    for (std::size_t j = 2; j < terms; ++j) {
      const double next = 2.0 * t * now - before;
      basis[j * ncols + k] = next;
      before = now;
      now = next;
    }
  }
  for (Index r = 0; r < nrows; ++r) {
    const float* c = row_coeffs.data() + xc * static_cast<std::size_t>(r);
    float* line = array.data() + element(xstrelm, ystrelm + r, xmaxdat);
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t j = 0; j < terms; ++j) {
      const double cj = c[j];
      const double* b = basis.data() + j * ncols;
      for (std::size_t k = 0; k < ncols; ++k) sum[k] += cj * b[k];
    }
    if (add) {
      for (std::size_t k = 0; k < ncols; ++k) line[k] += static_cast<float>(sum[k]);
    } else {
      for (std::size_t k = 0; k < ncols; ++k) line[k] = static_cast<float>(sum[k]);
    }
  }
}

}  // namespace kesta
