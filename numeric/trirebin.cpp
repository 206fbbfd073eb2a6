#include "numeric/trirebin.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/status.hpp"
#include "numeric/resample_internal.hpp"

namespace kesta {
namespace {

// Area of the part of a triangle on the low side (c < 0) of a line, given
// each vertex's signed distance C across the line and position O along it.
// The lone vertex on its side of the line cuts off a corner triangle whose
// area is exact; the other side is TOTAL (the caller's area of the triangle)
// less the corner, so a caller's area that is not the true one changes only
// the side holding two vertices. A vertex on the line
// counts as on the high side. SAME_SIDE reports a line that misses the
// triangle (the whole area then lies where the vertices are).
double low_side_area(const double (&c)[3], const double (&o)[3], double total, bool& same_side) {
  const int below = (c[0] < 0.0) + (c[1] < 0.0) + (c[2] < 0.0);
  same_side = below == 0 || below == 3;
  if (below == 0) return 0.0;
  if (below == 3) return total;
  // The lone vertex is the one below when one is below, else the one above.
  const bool lone_below = below == 1;
  int v = 0;
  while ((c[v] < 0.0) != lone_below) ++v;
  const int a = (v + 1) % 3;
  const int b = (v + 2) % 3;
  const double oa = o[v] + (o[a] - o[v]) * (-c[v] / (c[a] - c[v]));
  const double ob = o[v] + (o[b] - o[v]) * (-c[v] / (c[b] - c[v]));
  const double corner = std::fabs(oa - ob) * std::fabs(c[v]) * 0.5;
  return lone_below ? corner : total - corner;
}

// Clips polygon (px, py) of N vertices to the half plane where the X (or Y)
// coordinate is below 0; returns the vertex count written to (qx, qy).
template <bool kAlongX>
int clip_below_zero(const double* px, const double* py, int n, double* qx, double* qy) {
  int m = 0;
  for (int i = 0, p = n - 1; i < n; p = i, ++i) {
    const double cc = kAlongX ? px[i] : py[i];
    const double cp = kAlongX ? px[p] : py[p];
    const bool in_c = cc < 0.0;
    if (in_c != (cp < 0.0)) {
      const double t = cp / (cp - cc);
      qx[m] = kAlongX ? 0.0 : px[p] + (px[i] - px[p]) * t;
      qy[m] = kAlongX ? py[p] + (py[i] - py[p]) * t : 0.0;
      ++m;
    }
    if (in_c) {
      qx[m] = px[i];
      qy[m] = py[i];
      ++m;
    }
  }
  return m;
}

// Area of the part of the triangle with x < A and y < B (exact geometry).
double lower_left_area(const double (&x)[3], const double (&y)[3], double a, double b) {
  const double tx[3] = {x[0] - a, x[1] - a, x[2] - a};
  const double ty[3] = {y[0] - b, y[1] - b, y[2] - b};
  double ux[4], uy[4], wx[5], wy[5];
  const int n1 = clip_below_zero<true>(tx, ty, 3, ux, uy);
  const int n2 = clip_below_zero<false>(ux, uy, n1, wx, wy);
  double twice = 0.0;
  for (int i = 0, p = n2 - 1; i < n2; p = i, ++i) twice += wx[p] * wy[i] - wx[i] * wy[p];
  return std::fabs(twice) * 0.5;
}

// Area left of x = A, and below y = B, relative to the line.
double left_area(const double (&x)[3], const double (&y)[3], double a, double total,
                 bool& same_side) {
  const double c[3] = {x[0] - a, x[1] - a, x[2] - a};
  const double o[3] = {y[0], y[1], y[2]};
  return low_side_area(c, o, total, same_side);
}
double below_area(const double (&x)[3], const double (&y)[3], double b, double total,
                  bool& same_side) {
  const double c[3] = {y[0] - b, y[1] - b, y[2] - b};
  const double o[3] = {x[0], x[1], x[2]};
  return low_side_area(c, o, total, same_side);
}

// Shares of a triangle spanning NX x NY pixels from (ixmin, iymin).
// cumulative[i][j] is the area with x below cut i and y below cut j, where the
// cuts are the pixel boundaries inside the span and the last index stands for
// no cut. Each pixel's share follows by inclusion-exclusion, so the shares add
// up to AREA, the last one taking the remainder.
template <int NX, int NY>
void share(const double (&x)[3], const double (&y)[3], Index ixmin, Index iymin, double value,
           double area, const resample::OutputRegion& region, float* output) {
  double cumulative[NX][NY];
  bool same_side = false;
  for (int i = 0; i < NX; ++i) {
    for (int j = 0; j < NY; ++j) {
      const double a = static_cast<double>(ixmin + i);
      const double b = static_cast<double>(iymin + j);
      double c;
      if (i < NX - 1 && j < NY - 1) c = lower_left_area(x, y, a, b);
      else if (i < NX - 1) c = left_area(x, y, a, area, same_side);
      else if (j < NY - 1) c = below_area(x, y, b, area, same_side);
      else c = area;
      cumulative[i][j] = c;
    }
  }
  for (int j = 0; j < NY; ++j) {
    const Index iy = iymin + j;
    if (iy < region.ys || iy > region.ye) continue;
    float* row = output + element(1, iy, region.xmax);
    for (int i = 0; i < NX; ++i) {
      const Index ix = ixmin + i;
      if (ix < region.xs || ix > region.xe) continue;
      double part = cumulative[i][j];
      if (i > 0) part -= cumulative[i - 1][j];
      if (j > 0) part -= cumulative[i][j - 1];
      if (i > 0 && j > 0) part += cumulative[i - 1][j - 1];
      row[ix - 1] += static_cast<float>(part * value);
    }
  }
}

}  // namespace

namespace resample {

void trirebin_share(const double (&x)[3], const double (&y)[3], double value, double area,
                    const OutputRegion& region, float* output, Index& x_skipped,
                    Index& y_skipped) {
  if (!(std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]) &&
        std::isfinite(y[0]) && std::isfinite(y[1]) && std::isfinite(y[2]))) {
    ++x_skipped;
    return;
  }
  const double xmin = std::min({x[0], x[1], x[2]});
  const double xmax = std::max({x[0], x[1], x[2]});
  const double ymin = std::min({y[0], y[1], y[2]});
  const double ymax = std::max({y[0], y[1], y[2]});
  // First and last pixel touched; a far edge less than 0.005 beyond a boundary
  // stays out of the next pixel, but a triangle never ends before it starts.
  const Index ixmin = floor_index(xmin) + 1;
  const Index iymin = floor_index(ymin) + 1;
  const Index ixmax = std::max(floor_index(xmax - 0.005) + 1, ixmin);
  const Index iymax = std::max(floor_index(ymax - 0.005) + 1, iymin);
  if (ixmax < region.xs || iymax < region.ys || ixmin > region.xe || iymin > region.ye) return;
  const Index nx = ixmax - ixmin + 1;
  const Index ny = iymax - iymin + 1;
  if (nx > 3) {
    ++x_skipped;
    return;
  }
  if (ny > 3) {
    ++y_skipped;
    return;
  }

  switch (nx * 4 + ny) {
    case 5: return share<1, 1>(x, y, ixmin, iymin, value, area, region, output);
    case 6: return share<1, 2>(x, y, ixmin, iymin, value, area, region, output);
    case 7: return share<1, 3>(x, y, ixmin, iymin, value, area, region, output);
    case 9: return share<2, 1>(x, y, ixmin, iymin, value, area, region, output);
    case 10: return share<2, 2>(x, y, ixmin, iymin, value, area, region, output);
    case 11: return share<2, 3>(x, y, ixmin, iymin, value, area, region, output);
    case 13: return share<3, 1>(x, y, ixmin, iymin, value, area, region, output);
    case 14: return share<3, 2>(x, y, ixmin, iymin, value, area, region, output);
    default: return share<3, 3>(x, y, ixmin, iymin, value, area, region, output);
  }
}

}  // namespace resample

void MA_TRIREBIN(float x1, float y1, float x2, float y2, float x3, float y3, float value,
                 float area, Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm,
                 Index oxendelm, Index oyendelm, Index& x_skipped, Index& y_skipped,
                 std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_TRIREBIN V0.4";
  if (st_bad(status, kPosition)) return;
  if (const Status e = region_span_error(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm,
                                         output.size());
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  const double x[3] = {x1, x2, x3};
  const double y[3] = {y1, y2, y3};
  resample::trirebin_share(x, y, value, area, {xmaxout, oxstrelm, oystrelm, oxendelm, oyendelm},
                           output.data(), x_skipped, y_skipped);
}

void MA_CAL_TRILINES(float x1, float y1, float x2, float y2, float x3, float y3, float xline,
                     float yline, float area, float& lower_left, float& lower_right,
                     float& upper_left, float& upper_right, Status& status) {
  if (st_bad(status, "Subroutine MA_CAL_TRILINES V0.3")) return;
  const double x[3] = {x1, x2, x3};
  const double y[3] = {y1, y2, y3};
  const double total = area;
  bool missed_x = false;
  bool missed_y = false;
  const double left = left_area(x, y, xline, total, missed_x);
  const double below = below_area(x, y, yline, total, missed_y);
  if (missed_x || missed_y) {
    // Straight to the terminal (not the log): a line that misses the triangle.
    std::fputs("Three vertices in the same side in MA_CAL_TRILINES\n", stdout);
    std::fputs("This should not happen !!!!!\n", stdout);
  }
  const double ll = lower_left_area(x, y, xline, yline);
  lower_left = static_cast<float>(ll);
  lower_right = static_cast<float>(below - ll);
  upper_left = static_cast<float>(left - ll);
  upper_right = static_cast<float>(static_cast<double>(area) - left - below + ll);
}

}  // namespace kesta
