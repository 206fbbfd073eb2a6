// Spline distortion functions: the surface fit to the grid peaks, its
// residual report and the evaluation of one function into the memory.

#include "app/distortion/spline.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/extremes.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "numeric/geometry.hpp"
#include "numeric/splines.hpp"

namespace kesta {
namespace {

constexpr float kMissingPeak = -1.7e38f;

void write(std::string_view line, Status& status) { IO_WRITE(line, status); }

// The four peak-array checks of the fit and its residual report.
Status peak_error(Index xmax_peaks, Index ymax_peaks, Index xnum_peaks, Index ynum_peaks,
                  std::span<const float> x_2dpeaks, std::span<const float> y_2dpeaks,
                  std::span<const float> x_2ddistortion, std::span<const float> y_2ddistortion) {
  return array_region_error(xmax_peaks, ymax_peaks, 1, 1, xnum_peaks, ynum_peaks,
                            std::min({x_2dpeaks.size(), y_2dpeaks.size(), x_2ddistortion.size(),
                                      y_2ddistortion.size()}),
                            kBaseApp);
}

// The report of one fit; true when a surface was found.
bool report_fit(char axis, int ier, Index nx, Index ny, float fp, Index num_points,
                Status& status) {
  const std::string name = std::string(1, axis) + "-distortion";
  if (ier > 0) {
    write(axis == 'X' ? "WARNING: Spline fit to X-distortion function failed:"
                      : "WARNING: Spline fit to Y-distortion function failed",
          status);
    if (ier == 1)
      write("         Too many spline knots required.", status);
    else if (ier >= 2 && ier <= 5)
      write("         Required RMS discrepency too small", status);
    else if (ier == 10)
      write("         Invalid calling arguments", status);
    else if (ier > 10)
      write("         Work space not big enough", status);
    return false;
  }
  if (ier == -1) {
    write("INFO: An interpolating spline has been calculated for the " + name, status);
  } else if (ier == -2) {
    write("INFO: A weighted least-squares polynomial has been calculated for the", status);
    write("      " + name, status);
  } else if (ier < -2) {
    write("INFO: A minimum norm least-squares spline from a (numerically) rank", status);
    write("      deficient system has been calculated for the " + name, status);
    write("      The rank deficiency = " + format_i((nx - 4) * (ny - 4) + ier, 6), status);
  }
  write(std::string("INFO: ") + axis + "-Distortion Spline", status);
  write("INFO: Number of horizontal/ vertical true knot points = " + format_i(nx - 6, 5) +
            format_i(ny - 6, 5),
        status);
  const double rms = std::sqrt(static_cast<double>(fp) / static_cast<double>(num_points));
  write("INFO: Average position discrepancy = " + format_e(rms, 12, 5, 1), status);
  return true;
}

}  // namespace

void SplineGrid::evaluate(const SplineFunction& function, std::span<const float> x_positions,
                          std::span<const float> y_positions, std::span<float> values,
                          Status& status) {
  if (status != kStatusGood) return;
  const Index nx = static_cast<Index>(x_positions.size());
  const Index ny = static_cast<Index>(y_positions.size());
  if (x_basis_.size() < static_cast<std::size_t>(4 * nx)) {
    x_basis_.resize(static_cast<std::size_t>(4 * nx));
    x_interval_.resize(static_cast<std::size_t>(4 * nx));
  }
  if (y_basis_.size() < static_cast<std::size_t>(4 * ny)) {
    y_basis_.resize(static_cast<std::size_t>(4 * ny));
    y_interval_.resize(static_cast<std::size_t>(4 * ny));
  }
  MA_CAL_2DNCUBSPLINE(1, static_cast<Index>(function.lambda.size()), function.xnumknots,
                      function.lambda, static_cast<Index>(function.mu.size()), function.ynumknots,
                      function.mu, static_cast<Index>(function.coeffs.size()), function.coeffs, nx,
                      x_positions, ny, y_positions, 1, 1, nx, ny, 4 * nx, 4 * ny, values, x_basis_,
                      y_basis_, x_interval_, y_interval_, status);
}

bool SplineBlocks::prepare(std::span<const float> xaxis, std::span<const float> yaxis, float hx,
                           float hy, Index x_start, Index x_end, Index y_end, Index rows,
                           Status& status) {
  yaxis_ = yaxis;
  hy_ = hy;
  rows_ = rows;
  y_end_ = y_end;
  num_x_ = x_end - x_start + 2;
  try {
    x_edges.resize(static_cast<std::size_t>(num_x_));
    y_edges.resize(static_cast<std::size_t>(rows));
    dx.resize(static_cast<std::size_t>(num_x_ * rows));
    dy.resize(static_cast<std::size_t>(num_x_ * rows));
  } catch (const std::bad_alloc&) {
    st_fail(status, kBaseCore + 1002, "Subroutine SPLINE_BLOCKS V0.1");
    return false;
  }
  for (Index k = 0; k + 1 < num_x_; ++k)
    x_edges[static_cast<std::size_t>(k)] = xaxis[static_cast<std::size_t>(x_start - 1 + k)] - hx;
  x_edges[static_cast<std::size_t>(num_x_ - 1)] = xaxis[static_cast<std::size_t>(x_end - 1)] + hx;
  return true;
}

void SplineBlocks::evaluate(const SplineSet& set, Index b, Status& status) {
  num_y_ = std::min(rows_, y_end_ - b + 2);
  for (Index k = 0; k + 1 < num_y_; ++k)
    y_edges[static_cast<std::size_t>(k)] = yaxis_[static_cast<std::size_t>(b - 1 + k)] - hy_;
  y_edges[static_cast<std::size_t>(num_y_ - 1)] =
      yaxis_[static_cast<std::size_t>(b + num_y_ - 3)] + hy_;
  const std::span<const float> ys(y_edges.data(), static_cast<std::size_t>(num_y_));
  const std::size_t cells = static_cast<std::size_t>(num_x_ * num_y_);
  grid_.evaluate(set.x, x_edges, ys, std::span<float>(dx.data(), cells), status);
  grid_.evaluate(set.y, x_edges, ys, std::span<float>(dy.data(), cells), status);
  next_ = b + rows_ - 1;
  start_ = b;
  evaluated_ = true;
}

bool SplineBlocks::row(const SplineSet& set, Index r, EdgeRows& edges, bool& new_block,
                       Status& status) {
  new_block = !evaluated_ || r == next_;
  if (new_block) evaluate(set, r, status);
  if (status != kStatusGood) return false;
  const std::size_t k = static_cast<std::size_t>((r - start_) * num_x_);
  edges = {dx.data() + k, dx.data() + k + num_x_, dy.data() + k, dy.data() + k + num_x_};
  return true;
}

void spline_pixel_limits(const SplineSet& set, std::span<const float> xaxis,
                         std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                         Index yendelm, Index& x_low, Index& y_low, Index& x_high, Index& y_high,
                         Status& status) {
  float low = 0.0f, high = 0.0f;
  MA_DC2PIXC(xendelm, xendelm, xaxis, set.x_minimum, low, status);
  MA_DC2PIXC(xendelm, xendelm, xaxis, set.x_maximum, high, status);
  x_low = static_cast<Index>(low) + 1;
  x_high = static_cast<Index>(high);
  MA_DC2PIXC(yendelm, yendelm, yaxis, set.y_minimum, low, status);
  MA_DC2PIXC(yendelm, yendelm, yaxis, set.y_maximum, high, status);
  y_low = static_cast<Index>(low) + 1;
  y_high = static_cast<Index>(high);
  if (status != kStatusGood) return;
  if (xstrelm < x_low || ystrelm < y_low || xendelm > x_high || yendelm > y_high) {
    write("WARNING: Active Data Region (ADR) extends outside valid region of", status);
    write("spline. Pixels outside the valid region will be ignored.", status);
    write("INFO: The valid region of the spline correction function is:", status);
    write("      (" + format_f(set.x_minimum, 8, 2) + ", " + format_f(set.y_minimum, 8, 2) +
              ") to (" + format_f(set.x_maximum, 8, 2) + ", " + format_f(set.y_maximum, 8, 2) +
              ")",
          status);
  }
  x_low = std::max(x_low, xstrelm);
  y_low = std::max(y_low, ystrelm);
  x_high = std::min(x_high, xendelm);
  y_high = std::min(y_high, yendelm);
}

void KZT_KESTAGRID2(Index xmax_peaks, Index ymax_peaks, Index xnum_peaks, Index ynum_peaks,
                    std::span<const float> x_2dpeaks, std::span<const float> y_2dpeaks,
                    std::span<const float> x_2ddistortion,
                    std::span<const float> y_2ddistortion, Index& num_points,
                    std::vector<float>& x, std::vector<float>& y,
                    std::vector<float>& x_distortion, std::vector<float>& y_distortion,
                    std::vector<float>& weights, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_KESTAGRID2 V0.3";
  if (st_bad(status, kPosition)) return;
  if (const Status e = peak_error(xmax_peaks, ymax_peaks, xnum_peaks, ynum_peaks, x_2dpeaks,
                                  y_2dpeaks, x_2ddistortion, y_2ddistortion);
      e != 0)
    return st_fail(status, e, kPosition);
  x.clear();
  y.clear();
  x_distortion.clear();
  y_distortion.clear();
  weights.clear();
  for (Index j = 1; j <= ynum_peaks; ++j) {
    for (Index i = 1; i <= xnum_peaks; ++i) {
      const Index k = element(i, j, xmax_peaks);
      if (!(x_2dpeaks[k] > kMissingPeak)) continue;
      x.push_back(x_2dpeaks[k]);
      y.push_back(y_2dpeaks[k]);
      x_distortion.push_back(x_2ddistortion[k]);
      y_distortion.push_back(y_2ddistortion[k]);
      weights.push_back(1.0f);
    }
  }
  num_points = static_cast<Index>(x.size());
}

void KZT_KESTAGRID(bool /*gui*/, Index xmax_peaks, Index ymax_peaks, Index xnum_peaks,
                   Index ynum_peaks, float closeness, Index xmaxknots, Index ymaxknots,
                   std::span<const float> x_2dpeaks, std::span<const float> y_2dpeaks,
                   std::span<const float> x_2ddistortion, std::span<const float> y_2ddistortion,
                   bool& spatial_exist, SplineSet& set, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_KESTAGRID V0.12";
  if (st_bad(status, kPosition)) return;
  if (const Status e = peak_error(xmax_peaks, ymax_peaks, xnum_peaks, ynum_peaks, x_2dpeaks,
                                  y_2dpeaks, x_2ddistortion, y_2ddistortion);
      e != 0)
    return st_fail(status, e, kPosition);
  if (xmaxknots < 8 || ymaxknots < 8) return st_fail(status, kBaseApp + 5, kPosition);

  const Index max_points = std::max<Index>(xnum_peaks * ynum_peaks + 2, 16);
  const Index nxest = std::max<Index>(8, std::min({xmaxknots, xnum_peaks, xnum_peaks / 2 + 8}));
  const Index nyest = std::max<Index>(8, std::min({ymaxknots, ynum_peaks, ynum_peaks / 2 + 8}));
  const Index nmax = std::max(nxest, nyest);
  // The smallest work lengths the fit accepts for bicubic surfaces.
  const Index u = nxest - 4, v = nyest - 4, ne = nmax;
  const Index bx = 3 * v + 4, by = 3 * u + 4;
  const Index b1 = bx <= by ? bx : by;
  const Index b2 = bx <= by ? b1 + v - 3 : b1 + u - 3;
  const Index lwrk1 = u * v * (2 + b1 + b2) + 2 * (u + v + 4 * (max_points + ne) + ne - 6) + b2 + 1;
  const Index lwrk2 = u * v * (b2 + 1) + b2;
  const Index kwrk = max_points + (nxest - 7) * (nyest - 7);

  std::vector<float> x, y, x_distortion, y_distortion, weights, wrk1, wrk2;
  std::vector<int> iwrk;
  SplineFunction fits[2];
  try {
    wrk1.assign(static_cast<std::size_t>(lwrk1), 0.0f);
    wrk2.assign(static_cast<std::size_t>(lwrk2), 0.0f);
    iwrk.assign(static_cast<std::size_t>(kwrk), 0);
    for (SplineFunction& f : fits) {
      f.lambda.assign(static_cast<std::size_t>(nxest), 0.0f);
      f.mu.assign(static_cast<std::size_t>(nyest), 0.0f);
      f.coeffs.assign(static_cast<std::size_t>(u * v), 0.0f);
    }
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  Index num_points = 0;
  KZT_KESTAGRID2(xmax_peaks, ymax_peaks, xnum_peaks, ynum_peaks, x_2dpeaks, y_2dpeaks,
                 x_2ddistortion, y_2ddistortion, num_points, x, y, x_distortion, y_distortion,
                 weights, status);
  if (status != kStatusGood) return;

  const float s = static_cast<float>(num_points) * closeness * closeness;
  bool fitted = true;
  for (int axis = 0; axis < 2; ++axis) {
    const char name = axis == 0 ? 'X' : 'Y';
    write(axis == 0 ? "INFO: Fitting X-Distortion" : "INFO: Fitting Y-Distortion", status);
    SplineFunction& f = fits[axis];
    const std::vector<float>& z = axis == 0 ? x_distortion : y_distortion;
    float fp = 0.0f;
    int ier = 10;
    std::fill(wrk1.begin(), wrk1.end(), 0.0f);
    SURFIT(0, num_points, x, y, z, weights, set.x_minimum, set.x_maximum, set.y_minimum,
           set.y_maximum, 3, 3, s, nxest, nyest, nmax, 1.0e-6f, f.xnumknots, f.lambda, f.ynumknots,
           f.mu, f.coeffs, fp, wrk1, lwrk1, wrk2, lwrk2, iwrk, kwrk, ier);
    const bool ok = report_fit(name, ier, f.xnumknots, f.ynumknots, fp,
                               std::max<Index>(num_points, 1), status);
    fitted = fitted && ok;
    if (ok) {
      f.lambda.resize(static_cast<std::size_t>(f.xnumknots));
      f.mu.resize(static_cast<std::size_t>(f.ynumknots));
      f.coeffs.resize(static_cast<std::size_t>(f.num_coeffs()));
    }
  }
  spatial_exist = fitted;
  if (!fitted) return;
  KZT_KESTATEST(xmax_peaks, ymax_peaks, xnum_peaks, ynum_peaks, x_2dpeaks, y_2dpeaks,
                x_2ddistortion, y_2ddistortion, fits[0], fits[1], status);
  set.x = std::move(fits[0]);
  set.y = std::move(fits[1]);
}

void KZT_KESTATEST(Index xmax_peaks, Index ymax_peaks, Index xnum_peaks, Index ynum_peaks,
                   std::span<const float> x_2dpeaks, std::span<const float> y_2dpeaks,
                   std::span<const float> x_2ddistortion,
                   std::span<const float> y_2ddistortion, const SplineFunction& x_function,
                   const SplineFunction& y_function, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_KESTATEST V0.4 ";
  if (st_bad(status, kPosition)) return;
  if (const Status e = peak_error(xmax_peaks, ymax_peaks, xnum_peaks, ynum_peaks, x_2dpeaks,
                                  y_2dpeaks, x_2ddistortion, y_2ddistortion);
      e != 0)
    return st_fail(status, e, kPosition);
  struct Extreme {
    float value;
    Index column = 0, row = 0;
  };
  Extreme low[2] = {{kAboveEveryValue}, {kAboveEveryValue}};
  Extreme high[2] = {{kBelowEveryValue}, {kBelowEveryValue}};
  const SplineFunction* functions[2] = {&x_function, &y_function};
  const std::span<const float> measured[2] = {x_2ddistortion, y_2ddistortion};
  for (Index j = 1; j <= ynum_peaks; ++j) {
    for (Index i = 1; i <= xnum_peaks; ++i) {
      const Index k = element(i, j, xmax_peaks);
      if (!(x_2dpeaks[k] > kMissingPeak)) continue;
      for (int a = 0; a < 2; ++a) {
        const SplineFunction& f = *functions[a];
        float value = 0.0f;
        MA_CAL_NBCUBSPLINE(static_cast<Index>(f.lambda.size()), f.xnumknots, f.lambda,
                           static_cast<Index>(f.mu.size()), f.ynumknots, f.mu,
                           static_cast<Index>(f.coeffs.size()), f.coeffs, x_2dpeaks[k],
                           y_2dpeaks[k], value, status);
        if (status != kStatusGood) return;
        const float residual = value - measured[a][k];
        if (residual < low[a].value) low[a] = {residual, i, j};
        if (residual > high[a].value) high[a] = {residual, i, j};
      }
    }
  }
  write("INFO: Worst case fit discrepancies  in pixels (spline value - measured)", status);
  for (int a = 0; a < 2; ++a) {
    const std::string axis = a == 0 ? "X" : "Y";
    extremes_found(low[a].value, high[a].value);
    write("INFO: Lowest " + axis + "-distortion =  " + format_e(low[a].value, 12, 5) +
              " at grid position (X/Y) " + format_i(low[a].column, 4) + format_i(low[a].row, 4),
          status);
    write("INFO: Highest " + axis + "-distortion = " + format_e(high[a].value, 12, 5) +
              " at grid position (X/Y) " + format_i(high[a].column, 4) + format_i(high[a].row, 4),
          status);
  }
}

void KZT_CAL_DISTORTION(bool gui, const SplineSet& set, Index xmaxdat, Index ymaxdat,
                        std::span<const float> xaxis, std::span<const float> yaxis,
                        Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                        std::span<float> mxaxis, std::span<float> myaxis, std::span<float> mdata,
                        Index& mxstrelm, Index& mystrelm, Index& mxendelm, Index& myendelm,
                        std::string& mtitle, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CAL_DISTORTION V0.3 ";
  if (st_bad(status, kPosition)) return;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          mdata.size(), kBaseApp);
      e != 0)
    return st_fail(status, e, kPosition);
  bool x_distortion = true;
  IO_INPL(false, false, false, true, "CALCULATE X-DISTORTION",
          {"Enter \"YES\" to calculate the X-distortion, \"NO\" for the Y-distortion"},
          {"Enter YES or NO"}, x_distortion, status);
  if (status != kStatusGood) return;
  Index x_low = 0, y_low = 0, x_high = 0, y_high = 0;
  spline_pixel_limits(set, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, x_low, y_low, x_high,
                      y_high, status);
  if (status != kStatusGood) return;
  mxstrelm = xstrelm;
  mystrelm = ystrelm;
  mxendelm = xendelm;
  myendelm = yendelm;
  if (x_low <= x_high && y_low <= y_high)
    KZT_CAL2_DISTORTION(gui, x_low, y_low, x_high, y_high, x_distortion ? set.x : set.y, xmaxdat,
                        ymaxdat, xaxis, yaxis, mdata, status);
  mtitle = x_distortion ? "X-Distortion Spline Function" : "Y-Distortion Spline Function";
  std::copy_n(xaxis.begin(), mxendelm, mxaxis.begin());
  std::copy_n(yaxis.begin(), myendelm, myaxis.begin());
}

void KZT_CAL2_DISTORTION(bool /*gui*/, Index mxstrelm, Index mystrelm, Index mxendelm,
                         Index myendelm, const SplineFunction& function, Index xmaxdat,
                         Index ymaxdat, std::span<const float> xaxis,
                         std::span<const float> yaxis, std::span<float> mdata, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CAL2_DISTORTION V0.5 ";
  if (st_bad(status, kPosition)) return;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, mxstrelm, mystrelm, mxendelm,
                                          myendelm, mdata.size(), kBaseApp);
      e != 0)
    return st_fail(status, e, kPosition);
  double start = 0.0, end = 0.0, cpu = 0.0;
  IO_TIMES(start, cpu, status);
  std::vector<float> x_basis, y_basis;
  std::vector<int> x_interval, y_interval;
  try {
    x_basis.assign(static_cast<std::size_t>(4 * mxendelm), 0.0f);
    x_interval.assign(static_cast<std::size_t>(4 * mxendelm), 0);
    y_basis.assign(static_cast<std::size_t>(4 * myendelm), 0.0f);
    y_interval.assign(static_cast<std::size_t>(4 * myendelm), 0);
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  MA_CAL_2DNCUBSPLINE(1, static_cast<Index>(function.lambda.size()), function.xnumknots,
                      function.lambda, static_cast<Index>(function.mu.size()), function.ynumknots,
                      function.mu, static_cast<Index>(function.coeffs.size()), function.coeffs,
                      xmaxdat, xaxis, ymaxdat, yaxis, mxstrelm, mystrelm, mxendelm, myendelm,
                      4 * mxendelm, 4 * myendelm, mdata, x_basis, y_basis, x_interval, y_interval,
                      status);
  IO_TIMES(end, cpu, status);
  write("INFO: Time for calculation = " + format_f(end - start, 12, 2) + " seconds", status);
}

}  // namespace kesta
