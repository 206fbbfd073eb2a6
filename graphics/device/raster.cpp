// The raster renderer: painting lines, convex polygons and projected image
// patches into the kernel's byte raster.

#include "graphics/device/raster.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/driver.hpp"
#include "graphics/device/kernel.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

constexpr double kHuge = 1.7e38;
// Raster coordinates are clamped to this before any conversion to integers.
constexpr double kCoordinateLimit = 1.0e9;

double clamp_coordinate(double v) {
  if (std::isnan(v)) return 0.0;
  return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

// Truncation toward zero of a clamped raster coordinate.
Index trunc_index(double v) { return device_integer(v, kCoordinateLimit); }

double raster_x(float x) {
  const QgDbRastermode& r = qg_db_rastermode;
  return static_cast<double>(x) * r.x_scale + r.x_offset;
}
double raster_y(float y) {
  const QgDbRastermode& r = qg_db_rastermode;
  return static_cast<double>(y) * r.y_scale + r.y_offset;
}

// Byte offset of the first cell of row J (1-based) as stored.
Index row_offset(Index j, Index rxdim, Index rydim) {
  const Index stored = qg_db_rastermode.device_flag == 1 ? rydim - j + 1 : j;
  return (stored - 1) * rxdim;
}

bool raster_ok(Index rxdim, Index rydim, std::size_t size) {
  Index cells = 0;
  return rxdim >= 1 && rydim >= 1 && checked_product(rxdim, rydim, cells) &&
         static_cast<std::size_t>(cells) <= size;
}

// Floor of A / B for B > 0.
Index floor_div(Index a, Index b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Line y = m x + c of two points through the numerical library's slope
// routine, with the raster renderer's limits: nearly flat counts as flat,
// very steep (or vertical) as vertical (m = 1.7e38, c the mean X).
void edge_line(double xa, double ya, double xb, double yb, double& m, double& c) {
  int defined = 0;
  float slope = 0.0f, intercept = 0.0f;
  Status local = ST_GOOD();
  MA_SLOPE(static_cast<float>(xa), static_cast<float>(ya), static_cast<float>(xb),
           static_cast<float>(yb), defined, slope, intercept, local);
  m = slope;
  c = intercept;
  if (std::fabs(m) <= 1.0e-5) {
    m = 0.0;
  } else if (std::fabs(m) >= 100000.0) {
    m = kHuge;
    c = 0.5 * (xa + xb);
  }
}

double xinter(double slope, double intercept, double y) {
  if (slope == 0.0) return y == intercept ? kHuge : -kHuge;
  if (slope > 100000.0) return intercept;
  return (y - intercept) / slope;
}

}  // namespace

float QG_RAS_XINTER(float slope, float intercept, float y) {
  return static_cast<float>(xinter(slope, intercept, y));
}

void QG_RAS_PL(int n, std::span<const float> x, std::span<const float> y, Index rxdim, Index rydim,
               std::span<std::uint8_t> raster, Status& status) {
  constexpr const char* kPosition = "Function QG_RAS_PL V0.4";
  if (st_bad(status, kPosition)) return;
  if (n < 2 || static_cast<std::size_t>(n) > x.size() || static_cast<std::size_t>(n) > y.size()) {
    st_fail(status, 130017, kPosition);
    return;
  }
  if (!raster_ok(rxdim, rydim, raster.size())) {
    st_fail(status, rxdim < 1 ? 130001 : 130002, kPosition);
    return;
  }
  const auto colour = static_cast<std::uint8_t>(qg_db_rastermode.line_colour & 0xFF);
  auto paint = [&](Index i, Index j) {
    if (i < 1 || i > rxdim || j < 1 || j > rydim) return;
    raster[static_cast<std::size_t>(row_offset(j, rxdim, rydim) + i - 1)] = colour;
  };
  for (int k = 0; k + 1 < n; ++k) {
    Index i = trunc_index(raster_x(x[k])) + 1, j = trunc_index(raster_y(y[k])) + 1;
    const Index i2 = trunc_index(raster_x(x[k + 1])) + 1;
    const Index j2 = trunc_index(raster_y(y[k + 1])) + 1;
    const Index dx = i2 - i, dy = j2 - j;
    const Index ax = 2 * std::abs(dx), ay = 2 * std::abs(dy);
    const Index sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    // The steps are walked only where the major coordinate lies on the
    // raster: the error term and the minor coordinate at the first such step
    // follow in closed form, so a far-away end point costs nothing and every
    // painted cell is the one the whole walk would paint.
    if (ay < ax) {
      const Index first = std::max<Index>(0, sx > 0 ? 1 - i : i - rxdim);
      const Index last = std::min<Index>(std::abs(dx), sx > 0 ? rxdim - i : i - 1);
      if (first > last) continue;
      const Index e0 = -(ax / 2);
      const Index moves = floor_div(e0 + first * ay, ax) + 1;  // minor steps before FIRST
      Index e = e0 + first * ay - moves * ax;
      i += sx * first;
      j += sy * moves;
      for (Index step = first; step <= last; ++step) {
        e += ay;
        paint(i, j);
        if (e >= 0) {
          j += sy;
          e -= ax;
        }
        i += sx;
      }
    } else {
      const Index first = std::max<Index>(0, sy > 0 ? 1 - j : j - rydim);
      const Index last = std::min<Index>(std::abs(dy), sy > 0 ? rydim - j : j - 1);
      if (first > last) continue;
      const Index e0 = -(ay / 2);
      const Index moves = ay == 0 ? 0 : floor_div(e0 + first * ax, ay) + 1;
      Index e = e0 + first * ax - moves * ay;
      j += sy * first;
      i += sx * moves;
      for (Index step = first; step <= last; ++step) {
        e += ax;
        paint(i, j);
        if (e >= 0) {
          i += sx;
          e -= ay;
        }
        j += sy;
      }
    }
  }
}

void QG_RAS_FA(int n, std::span<const float> x, std::span<const float> y, Index rxdim, Index rydim,
               std::span<std::uint8_t> raster, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_RAS_FA V0.4";
  if (st_bad(status, kPosition)) return;
  if (n < 3 || static_cast<std::size_t>(n) > x.size() || static_cast<std::size_t>(n) > y.size()) {
    st_fail(status, 130017, kPosition);
    return;
  }
  if (n > kMaxFillPoints) {
    st_fail(status, 130009, kPosition);
    return;
  }
  if (!raster_ok(rxdim, rydim, raster.size())) {
    st_fail(status, rxdim < 1 ? 130001 : 130002, kPosition);
    return;
  }
  struct Edge {
    double x1, x2, ylow, yhigh, xlow, xhigh, m, c;
    int kind;  // 0 ignored, 1 vertical, 2 sloped
  };
  Edge edges[kMaxFillPoints];
  double ymin = kHuge, ymax = -kHuge;
  for (int k = 0; k < n; ++k) {
    const int k2 = (k + 1) % n;
    const double xa = clamp_coordinate(raster_x(x[k])), ya = clamp_coordinate(raster_y(y[k]));
    const double xb = clamp_coordinate(raster_x(x[k2])), yb = clamp_coordinate(raster_y(y[k2]));
    ymin = std::min(ymin, ya);
    ymax = std::max(ymax, ya);
    Edge& e = edges[k];
    e.x1 = xa;
    e.x2 = xb;
    e.ylow = std::min(ya, yb);
    e.yhigh = std::max(ya, yb);
    e.xlow = std::min(xa, xb);
    e.xhigh = std::max(xa, xb);
    e.m = e.c = 0.0;
    if (xa == xb && ya == yb) {
      e.kind = 0;
    } else if (xa == xb) {
      e.kind = 1;
    } else {
      e.kind = 2;
      e.m = (yb - ya) / (xb - xa);
      e.c = ya - e.m * xa;
    }
  }
  const Index jfirst = std::max<Index>(1, trunc_index(ymin + 0.5) + 1);
  const Index jlast = std::min<Index>(rydim, trunc_index(ymax + 0.5) + 1);
  const std::uint8_t fill = qg_db_brastermode.fill_byte;
  for (Index j = jfirst; j <= jlast; ++j) {
    const double yc = static_cast<double>(j) - 0.5;
    double left = static_cast<double>(rxdim) + 1.0, right = -1.0;
    for (int k = 0; k < n; ++k) {
      const Edge& e = edges[k];
      if (e.kind == 0 || yc < e.ylow || yc > e.yhigh) continue;
      if (e.kind == 1) {
        left = std::min(left, e.x1);
        right = std::max(right, e.x1);
      } else if (std::fabs(e.m) <= 0.0001) {
        if (std::fabs(yc - e.c) <= 0.0001) {
          left = std::min(left, e.xlow);
          right = std::max(right, e.xhigh);
        }
      } else {
        const double xc = (yc - e.c) / e.m;
        if (xc >= e.xlow && xc <= e.xhigh) {
          left = std::min(left, xc);
          right = std::max(right, xc);
        }
      }
    }
    if (left > right) continue;
    const Index i1 = std::max<Index>(1, trunc_index(left + 0.5) + 1);
    const Index i2 = std::min<Index>(rxdim, trunc_index(right + 0.5) + 1);
    if (i1 > i2) continue;
    std::memset(raster.data() + row_offset(j, rxdim, rydim) + i1 - 1, fill,
                static_cast<std::size_t>(i2 - i1 + 1));
  }
}

void QG_RAS_3DMIMAGE(bool masked, float minimum, float maximum, float x1, float y1, float x2,
                     float y2, float x3, float y3, float x4, float y4, Index xdim, Index ydim,
                     Index xstart, Index ystart, Index xend, Index yend,
                     std::span<const float> data, std::span<const std::uint8_t> mask,
                     int mask_colour, Index rxdim, Index rydim, std::span<std::uint8_t> raster,
                     Status& status) {
  constexpr const char* kPosition = "Subroutine QG_RAS_3DMIMAGE V0.4";
  if (st_bad(status, kPosition)) return;
  Status code = 0;
  if (xdim < 1 || rxdim < 1)
    code = 130001;
  else if (ydim < 1 || rydim < 1)
    code = 130002;
  else if (xstart < 1 || xend < xstart || xend > xdim)
    code = 130005;
  else if (ystart < 1 || yend < ystart || yend > ydim)
    code = 130006;
  if (code == 0 && (!array_holds(data.size(), xdim, ydim) ||
                    (masked && !array_holds(mask.size(), xdim, ydim)) ||
                    !raster_ok(rxdim, rydim, raster.size())))
    code = 130002;
  if (code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  double range = static_cast<double>(maximum) - minimum;
  if (range < 1.0e-36) range = 1.0;
  const int first_image = qg_db_colours.first_image;
  const int last_image = qg_db_colours.last_image;
  const double levels = static_cast<double>(last_image - first_image) + 1.0;

  // Corners (0-based 0..3 for corners 1..4) in raster coordinates and data offsets.
  const double cx[4] = {clamp_coordinate(raster_x(x1)), clamp_coordinate(raster_x(x2)),
                        clamp_coordinate(raster_x(x3)), clamp_coordinate(raster_x(x4))};
  const double cy[4] = {clamp_coordinate(raster_y(y1)), clamp_coordinate(raster_y(y2)),
                        clamp_coordinate(raster_y(y3)), clamp_coordinate(raster_y(y4))};
  const Index nx = xend - xstart + 1, ny = yend - ystart + 1;
  const double cu[4] = {0.0, static_cast<double>(nx), static_cast<double>(nx), 0.0};
  const double cv[4] = {0.0, 0.0, static_cast<double>(ny), static_cast<double>(ny)};
  const double ymin = std::min({cy[0], cy[1], cy[2], cy[3]});
  const double ymax = std::max({cy[0], cy[1], cy[2], cy[3]});

  int lowest = 3;
  if (cy[0] - ymin < 0.005 && cy[3] - cy[0] > 0.005)
    lowest = 0;
  else if (cy[1] - ymin < 0.5)
    lowest = 1;
  else if (cy[2] - ymin < 0.5)
    lowest = 2;

  // Edges in their own orientation: 1-2, 2-3, 4-3, 1-4.
  struct Side {
    int a, b;
    double m, c;
  };
  Side sides[4] = {{0, 1, 0, 0}, {1, 2, 0, 0}, {3, 2, 0, 0}, {0, 3, 0, 0}};
  for (Side& s : sides) edge_line(cx[s.a], cy[s.a], cx[s.b], cy[s.b], s.m, s.c);
  auto side_of = [&](int p, int q) -> const Side& {
    for (const Side& s : sides)
      if ((s.a == p && s.b == q) || (s.a == q && s.b == p)) return s;
    return sides[0];
  };
  // The two chains from the lowest corner: via the previous and the next corner.
  static constexpr int kVia[4][2] = {{3, 1}, {0, 2}, {1, 3}, {2, 0}};
  const int opposite = (lowest + 2) % 4;
  int via_left = kVia[lowest][0], via_right = kVia[lowest][1];
  if (cx[via_right] < cx[via_left]) std::swap(via_left, via_right);

  // Crossing X and data offsets of a chain at height YC.
  auto chain = [&](int via, double yc, double& xcross, Index& u, Index& v) {
    const Side* s = &side_of(lowest, via);
    if (yc < std::min(cy[s->a], cy[s->b]) || yc > std::max(cy[s->a], cy[s->b]))
      s = &side_of(via, opposite);
    xcross = clamp_coordinate(xinter(s->m, s->c, yc));
    // Offsets interpolated in Y from the edge's first corner, as
    // (yc - y1) x span / (y2 - y1).
    const double dy = cy[s->b] - cy[s->a];
    const double rise = yc - cy[s->a];
    u = trunc_index(dy == 0.0 ? cu[s->a] : cu[s->a] + rise * (cu[s->b] - cu[s->a]) / dy);
    v = trunc_index(dy == 0.0 ? cv[s->a] : cv[s->a] + rise * (cv[s->b] - cv[s->a]) / dy);
  };

  const Index jfirst = std::max<Index>(1, trunc_index(ymin + 1.4999));
  const Index jlast = std::min<Index>(rydim, trunc_index(ymax + 0.5));
  for (Index j = jfirst; j <= jlast; ++j) {
    const double yc = static_cast<double>(j) - 0.5;
    double xl = 0, xr = 0;
    Index ul = 0, vl = 0, ur = 0, vr = 0;
    chain(via_left, yc, xl, ul, vl);
    chain(via_right, yc, xr, ur, vr);
    const Index ifirst = std::max<Index>(1, trunc_index(xl) + 1);
    const Index ilast = std::min<Index>(trunc_index(xr) + 1, rxdim);
    std::uint8_t* row = raster.data() + row_offset(j, rxdim, rydim);
    const bool narrow = xr - xl <= 0.1;
    for (Index i = ifirst; i <= ilast; ++i) {
      Index u, v;
      if (narrow) {
        u = ul + 1;
        v = vl + 1;
      } else {
        const double t = ((static_cast<double>(i) - 0.5) - xl) / (xr - xl);
        u = static_cast<Index>(t * static_cast<double>(ur - ul) + static_cast<double>(ul)) + 1;
        v = static_cast<Index>(t * static_cast<double>(vr - vl) + static_cast<double>(vl)) + 1;
      }
      u = std::clamp<Index>(u, 1, nx);
      v = std::clamp<Index>(v, 1, ny);
      const Index ex = std::min(xstart + u - 1, xend);
      const Index ey = std::min(ystart + v - 1, yend);
      const Index at = element(ex, ey, xdim);
      int index;
      const double value = data[static_cast<std::size_t>(at)];
      // A value that is not a number (a bad pixel) is drawn as a masked one.
      if ((masked && mask[static_cast<std::size_t>(at)] != 0) || value != value) {
        index = mask_colour;
      } else {
        double f = std::round((value - minimum) * (levels / range));
        f = f > -1.0e6 ? f : -1.0e6;
        f = f < 1.0e6 ? f : 1.0e6;
        index = first_image + static_cast<int>(f);
        index = std::clamp(index, first_image, last_image);
      }
      row[i - 1] = static_cast<std::uint8_t>(index & 0xFF);
    }
  }
}

void QG_RAS_ORDERY(int x1, int y1, int x2, int y2, int x3, int y3, int& xa, int& ya, int& xb,
                   int& yb, int& xc, int& yc) {
  int px[3] = {x1, x2, x3}, py[3] = {y1, y2, y3};
  // Stable: equal Y keep their given order.
  for (int pass = 0; pass < 2; ++pass)
    for (int k = 0; k < 2; ++k)
      if (py[k + 1] < py[k]) {
        std::swap(px[k], px[k + 1]);
        std::swap(py[k], py[k + 1]);
      }
  xa = px[0];
  ya = py[0];
  xb = px[1];
  yb = py[1];
  xc = px[2];
  yc = py[2];
}

void QG_RAS_TRILINE(int x1, int y1, int x2, int y2, bool left, int ybase, int maxrows,
                    std::span<int> limits) {
  const Index rows = std::min<Index>(maxrows, static_cast<Index>(limits.size()));
  auto set = [&](int y, int x) {
    const Index k = static_cast<Index>(y) - ybase;
    if (k >= 0 && k < rows) limits[static_cast<std::size_t>(k)] = x;
  };
  auto get = [&](int y, int fallback) {
    const Index k = static_cast<Index>(y) - ybase;
    return k >= 0 && k < rows ? limits[static_cast<std::size_t>(k)] : fallback;
  };
  const int adx = std::abs(x2 - x1), ady = std::abs(y2 - y1);
  const int sx = x2 < x1 ? -1 : 1, sy = y2 < y1 ? -1 : 1;
  if (2 * adx <= 2 * ady) {
    int e = 2 * adx - ady;
    int x = x1;
    for (int y = y1;; y += sy) {
      set(y, x);
      if (e >= 0) {
        x += sx;
        e -= 2 * ady;
      }
      e += 2 * adx;
      if (y == y2) break;
    }
    return;
  }
  const int start = left ? std::max(x1, x2) : std::min(x1, x2);
  for (int y = std::min(y1, y2); y <= std::max(y1, y2); ++y) set(y, start);
  int e = 2 * ady - adx;
  int y = y1;
  for (int x = x1;; x += sx) {
    const int current = get(y, x);
    set(y, left ? std::min(current, x) : std::max(current, x));
    if (e >= 0) {
      y += sy;
      e -= 2 * adx;
    }
    e += 2 * ady;
    if (x == x2) break;
  }
}

void QG_RAS_TRIXLIMITS(int xa, int ya, int xb, int yb, int xc, int yc, int maxrows,
                       std::span<int> xmin, std::span<int> xmax, Status& status) {
  if (st_bad(status, "Function QG_RAS_TRIXLIMITS V0.1")) return;
  const Index rows = static_cast<Index>(yc) - ya + 1;
  const Index room = std::min<Index>({maxrows, static_cast<Index>(xmin.size()),
                                      static_cast<Index>(xmax.size())});
  if (rows > room || rows < 1) {
    st_fail(status, 37, "Function QG_RAS_TRIXLIMITS V0.1");
    return;
  }
  if (yc == ya) {
    xmin[0] = std::min({xa, xb, xc});
    xmax[0] = std::max({xa, xb, xc});
    return;
  }
  bool b_right;
  if (yb == ya)
    b_right = xb >= xa;
  else
    b_right = static_cast<double>(xb - xa) / (yb - ya) >= static_cast<double>(xc - xa) / (yc - ya);
  if (b_right) {
    QG_RAS_TRILINE(xa, ya, xc, yc, true, ya, maxrows, xmin);
    QG_RAS_TRILINE(xa, ya, xb, yb, false, ya, maxrows, xmax);
    QG_RAS_TRILINE(xb, yb, xc, yc, false, ya, maxrows, xmax);
  } else {
    QG_RAS_TRILINE(xa, ya, xb, yb, true, ya, maxrows, xmin);
    QG_RAS_TRILINE(xb, yb, xc, yc, true, ya, maxrows, xmin);
    QG_RAS_TRILINE(xa, ya, xc, yc, false, ya, maxrows, xmax);
  }
}

}  // namespace kesta
