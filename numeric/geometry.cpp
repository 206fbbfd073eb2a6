#include "numeric/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/extremes.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/statistics.hpp"

namespace kesta {

void MA_DC2PIXC(Index maxdim, Index num, std::span<const float> axis, float data_coordinate,
                float& pixel_coordinate, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_DC2PIXC V0.3";
  if (st_bad(status, kPosition)) return;
  if (num < 1 || num > maxdim || num > static_cast<Index>(axis.size()))
    return st_fail(status, kBaseMath + 17, kPosition);
  // A decreasing axis (a d-spacing scale) is read as the increasing axis of
  // its negated values, so that its pixels count from its first value down.
  const float sign = num >= 2 && axis[static_cast<std::size_t>(num - 1)] < axis[0] ? -1.0f : 1.0f;
  const auto value = [&](Index k) { return sign * axis[static_cast<std::size_t>(k)]; };
  const float first = value(0);
  const float last = value(num - 1);
  const float low = num < 2 ? first - 0.5f : first - (value(1) - first) / 2.0f;
  const float high = num < 2 ? first + 0.5f : last + (last - value(num - 2)) / 2.0f;
  const float d = sign * data_coordinate;
  const float n = static_cast<float>(num);
  if (d <= low) {
    pixel_coordinate = 0.0f;
  } else if (d >= high) {
    pixel_coordinate = n;
  } else if (d <= first) {
    pixel_coordinate = first > low ? 0.5f * (d - low) / (first - low) : 0.5f;
  } else if (d >= last) {
    pixel_coordinate = high > last ? n - 0.5f + 0.5f * (d - last) / (high - last) : n - 0.5f;
  } else if (num < 2) {
    // Only a value that is not a number gets here; one value has no
    // neighbour to interpolate towards.
    pixel_coordinate = std::numeric_limits<float>::quiet_NaN();
  } else {
    // First element not below d, among AXIS(2..NUM) (0-based k).
    const auto begin = axis.begin() + 1;
    const auto end = axis.begin() + num;
    const Index k = std::lower_bound(begin, end, d,
                                     [sign](float a, float b) { return sign * a < b; }) -
                    axis.begin();
    const float below = value(k - 1);
    const float above = value(k);
    const float step = above > below ? (d - below) / (above - below) : 0.0f;
    pixel_coordinate = static_cast<float>(k) + step - 0.5f;
  }
}

void MA_PC2DC(Index maxdim, Index num, std::span<const float> axis, float pixel_coordinate,
              float& data_coordinate, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_PC2DC V0.1";
  if (st_bad(status, kPosition)) return;
  if (num < 1 || num > maxdim || num > static_cast<Index>(axis.size()))
    return st_fail(status, kBaseMath + 17, kPosition);
  // k = integer part of (p + 0.5) + 1, decided in double before any
  // conversion so that a huge or NaN coordinate cannot overflow.
  const double shifted = static_cast<double>(pixel_coordinate) + 0.5;
  if (!(shifted >= 1.0)) {
    data_coordinate = axis[0];
    return;
  }
  if (shifted >= static_cast<double>(num)) {
    data_coordinate = axis[static_cast<std::size_t>(num - 1)];
    return;
  }
  const Index k = static_cast<Index>(shifted) + 1;  // 2 .. NUM
  const float f = pixel_coordinate - static_cast<float>(k) + 1.5f;
  data_coordinate = (1.0f - f) * axis[static_cast<std::size_t>(k - 2)] +
                    f * axis[static_cast<std::size_t>(k - 1)];
}

void MA_INTERSECT(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                  int& result, float& x, float& y, Status& status) {
  if (st_bad(status, "Subroutine MA_INTERSECT V0.1")) return;
  int defined1 = 0;
  int defined2 = 0;
  float m1 = 0.0f;
  float c1 = 0.0f;
  float m2 = 0.0f;
  float c2 = 0.0f;
  MA_SLOPE(x1, y1, x2, y2, defined1, m1, c1, status);
  MA_SLOPE(x3, y3, x4, y4, defined2, m2, c2, status);
  if (defined1 == 0 || defined2 == 0) {
    result = -1;
    return;
  }
  // MA_SLOPE gives a vertical line its x as intercept.
  const bool vertical1 = x1 == x2;
  const bool vertical2 = x3 == x4;
  if (vertical1 && vertical2) {
    result = std::fabs(c1 - c2) <= 1.0e-4f ? 1 : 2;
    return;
  }
  result = 0;
  if (vertical1) {
    x = c1;
    y = m2 * x + c2;
  } else if (vertical2) {
    x = c2;
    y = m1 * x + c1;
  } else if (std::fabs(m1 - m2) <= 1.0e-4f) {
    result = std::fabs(c1 - c2) <= 1.0e-4f ? 1 : 2;
  } else {
    x = (c2 - c1) / (m1 - m2);
    y = m1 * x + c1;
  }
}

void MA_PERINTERSECT(float x1, float y1, float x2, float y2, float xp, float yp, float& x, float& y,
                     Status& status) {
  if (st_bad(status, "Subroutine MA_PERINTERSECT V0.1")) return;
  int result = 0;
  MA_INTERSECT(x1, y1, x2, y2, xp, yp, xp - (y2 - y1), yp + (x2 - x1), result, x, y, status);
  if (result != 0) IO_WRITE("PANIC: This should not be possible", status);
}

void MA_POINTVECTOR(float x1, float y1, float x2, float y2, float x, float y, int& side,
                    Status& status) {
  if (st_bad(status, "Subroutine MA_POINTVECTOR V0.1")) return;
  int defined = 0;
  float slope = 0.0f;
  float intercept = 0.0f;
  MA_SLOPE(x1, y1, x2, y2, defined, slope, intercept, status);
  if (defined == 0) {
    side = -999;
    return;
  }
  if (std::fabs(slope) >= 1.6e38f) {
    if (x == x1) {
      side = 0;
    } else {
      // Going up, the left is towards smaller x.
      const bool up = y2 > y1;
      side = (x < x1) == up ? -1 : 1;
    }
    return;
  }
  const float line_y = slope * x + intercept;
  if (std::fabs(y - line_y) < 1.0e-6f) {
    side = 0;
    return;
  }
  // Going towards larger x, the left is above the line.
  const bool rightwards = x2 > x1;
  side = (y > line_y) == rightwards ? -1 : 1;
}

void MA_LINECIRCLE(float slope, float intercept, float radius, int& num_points, float& x1,
                   float& y1, float& x2, float& y2, Status& status) {
  if (st_bad(status, "Subroutine MA_LINECIRCLE V0.1")) return;
  const float a = 1.0f + slope * slope;
  const float b = 2.0f * slope * intercept;
  const float c = intercept * intercept - radius * radius;
  const float d = b * b - 4.0f * a * c;
  if (d > 0.0f) {
    num_points = 2;
    const float root = std::sqrt(d);
    x1 = (-b - root) / (2.0f * a);
    x2 = (-b + root) / (2.0f * a);
    y1 = slope * x1 + intercept;
    y2 = slope * x2 + intercept;
  } else if (d == 0.0f) {
    num_points = 1;
    x1 = -b / (2.0f * a);
    y1 = slope * x1 + intercept;
  } else {
    num_points = 0;
  }
}

void MA_CAL_ANGVECTORS(float vx1, float vy1, float vx2, float vy2, int& result, float& angle,
                       Status& status) {
  if (st_bad(status, "Subroutine MA_CAL_ANGVECTORS V0.1")) return;
  const double l1 = std::hypot(double{vx1}, double{vy1});
  const double l2 = std::hypot(double{vx2}, double{vy2});
  if (l1 < 1.0e-36) {
    result = 1;
    return;
  }
  if (l2 < 1.0e-36) {
    result = 2;
    return;
  }
  result = 0;
  const double cosine = (double{vx1} * vx2 + double{vy1} * vy2) / (l1 * l2);
  angle = static_cast<float>(std::acos(std::clamp(cosine, -1.0, 1.0)));
}

void MA_CLOCKWISE(float x1, float y1, float x2, float y2, float x3, float y3, bool& degenerate,
                  int& clockwise, Status& status) {
  if (st_bad(status, "Subroutine MA_CLOCKWISE V0.1")) return;
  degenerate = false;
  const float dx1 = x2 - x1;
  const float dy1 = y2 - y1;
  const float dx2 = x3 - x2;
  const float dy2 = y3 - y2;
  // A segment of no length has no direction: no turn can be told.
  if (std::hypot(dx1, dy1) < 1.0e-6f || std::hypot(dx2, dy2) < 1.0e-6f) {
    degenerate = true;
    clockwise = 0;
    return;
  }
  float d = std::atan2(dy2, dx2) - std::atan2(dy1, dx1);
  if (d < 0.0f) d += 6.283185f;
  if (d > 1.0e-6f && d < 3.1415915f) {
    clockwise = -1;
  } else if (d > 3.1415935f) {
    clockwise = 1;
  } else {
    clockwise = 0;
  }
}

void MA_CAL_CIRCENTRE(float x1, float y1, float x2, float y2, float x3, float y3, int& result,
                      float& x_centre, float& y_centre, float& radius, Status& status) {
  if (st_bad(status, "Subroutine MA_CAL_CIRCENTRE V0.1")) return;
  if ((x1 == x2 && y1 == y2) || (x2 == x3 && y2 == y3) || (x1 == x3 && y1 == y3)) {
    result = 1;
    return;
  }
  // Relative to the first point, in double precision.
  const double bx = double{x2} - x1;
  const double by = double{y2} - y1;
  const double cx = double{x3} - x1;
  const double cy = double{y3} - y1;
  const double cross = bx * cy - by * cx;
  // Collinear when the triangle's largest angle is within rounding of pi
  // (or its smallest of 0): the sine of the angle at point 1 vanishes.
  if (std::fabs(cross) <= 1.0e-7 * std::hypot(bx, by) * std::hypot(cx, cy)) {
    result = 2;
    return;
  }
  const double b2 = bx * bx + by * by;
  const double c2 = cx * cx + cy * cy;
  const double ux = (cy * b2 - by * c2) / (2.0 * cross);
  const double uy = (bx * c2 - cx * b2) / (2.0 * cross);
  result = 0;
  x_centre = static_cast<float>(x1 + ux);
  y_centre = static_cast<float>(y1 + uy);
  radius = static_cast<float>(std::hypot(ux, uy));
}

namespace {

// Checks shared by the template searches; 0 when the arguments are usable.
Status template_error(Index xmaxdat, Index ymaxdat, Index xs, Index ys, Index xe, Index ye,
                      std::size_t data_size, Index xmaxtem, Index ymaxtem, Index xnumtem,
                      Index ynumtem, std::size_t template_size) {
  const ArrayShape image{xmaxdat, ymaxdat, data_size}, tem{xmaxtem, ymaxtem, template_size};
  if (const Status e = dimensions_error({image, tem}, kBaseMath); e != 0) return e;
  if (const Status e = region_error(xmaxdat, ymaxdat, xs, ys, xe, ye, kBaseMath); e != 0) return e;
  if (xnumtem < 1 || xnumtem > xmaxtem) return kBaseMath + 5;
  if (ynumtem < 1 || ynumtem > ymaxtem) return kBaseMath + 6;
  return span_error({image, tem});
}

// Floor division for the fine grid: fine index f lies in data pixel
// floor((f - 1) / factor) + 1, so indices at or below 0 fall outside pixel 1.
Index fine_to_pixel(Index f, Index factor) {
  const Index q = f - 1;
  return (q >= 0 ? q / factor : -((-q + factor - 1) / factor)) + 1;
}

}  // namespace

void MA_CENTRE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, std::span<const float> data, Index xmaxtem, Index ymaxtem,
               Index xnumtem, Index ynumtem, std::span<const float> templ, Index x_first,
               Index y_first, Index x_last, Index y_last, Index& x_best, Index& y_best,
               Status& status) {
  constexpr const char* kPosition = "Subroutine MA_CENTRE V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          template_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data.size(), xmaxtem,
                         ymaxtem, xnumtem, ynumtem, templ.size());
      e != 0)
    return st_fail(status, e, kPosition);
  double best = kBelowEveryValue;
  for (Index y = y_first; y <= y_last; ++y) {
    for (Index x = x_first; x <= x_last; ++x) {
      // Template element (c, r) lies on data element (x0 + c, y0 + r), clipped.
      const Index x0 = x - xnumtem / 2 - 1;
      const Index y0 = y - ynumtem / 2 - 1;
      const Index c_lo = std::max<Index>(1, xstrelm - x0);
      const Index c_hi = std::min(xnumtem, xendelm - x0);
      const Index r_lo = std::max<Index>(1, ystrelm - y0);
      const Index r_hi = std::min(ynumtem, yendelm - y0);
      double sum = 0.0;
      for (Index r = r_lo; r <= r_hi; ++r) {
        if (c_lo > c_hi) break;
        const float* t = templ.data() + element(c_lo, r, xmaxtem);
        const float* d = data.data() + element(x0 + c_lo, y0 + r, xmaxdat);
        for (Index i = 0; i <= c_hi - c_lo; ++i) sum += double{t[i]} * d[i];
      }
      if (sum > best) {
        best = sum;
        x_best = x;
        y_best = y;
      }
    }
  }
}

void MA_BESTCENTRE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, Index xmaxtem, Index ymaxtem,
                   Index xnumtem, Index ynumtem, Index xsub, Index ysub,
                   std::span<const float> templ, Index max_xshift, Index max_yshift,
                   Index& x_position, Index& y_position, bool& found, float& best_value,
                   Status& status) {
  constexpr const char* kPosition = "Subroutine MA_BESTCENTRE V0.1";
  if (st_bad(status, kPosition)) return;
  Status e = template_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data.size(),
                            xmaxtem, ymaxtem, xnumtem, ynumtem, templ.size());
  if (e == 0 && xsub < 1) e = kBaseMath + 17;
  if (e == 0 && ysub < 1) e = kBaseMath + 18;
  if (e != 0) return st_fail(status, e, kPosition);

  // Correlation with the template centred on fine position (px, py).
  auto correlate = [&](Index px, Index py) {
    double sum = 0.0;
    for (Index r = 1; r <= ynumtem; ++r) {
      const Index dy = fine_to_pixel(py - ynumtem / 2 + r - 1, ysub);
      if (dy < ystrelm || dy > yendelm) continue;
      const float* t = templ.data() + element(1, r, xmaxtem);
      const float* d = data.data() + element(1, dy, xmaxdat);
      for (Index c = 1; c <= xnumtem; ++c) {
        const Index dx = fine_to_pixel(px - xnumtem / 2 + c - 1, xsub);
        if (dx >= xstrelm && dx <= xendelm) sum += double{t[c - 1]} * d[dx - 1];
      }
    }
    return sum;
  };

  const Index x_start = x_position;
  const Index y_start = y_position;
  found = true;
  double best = kBelowEveryValue;
  for (;;) {
    Index next_x = x_position;
    Index next_y = y_position;
    bool improved = false;
    for (Index oy = -1; oy <= 1; ++oy) {
      for (Index ox = -1; ox <= 1; ++ox) {
        const double value = correlate(x_position + ox, y_position + oy);
        if (value > best) {
          best = value;
          next_x = x_position + ox;
          next_y = y_position + oy;
          improved = true;
        }
      }
    }
    if (!improved) break;
    x_position = next_x;
    y_position = next_y;
    if (std::abs(x_position - x_start) > max_xshift ||
        std::abs(y_position - y_start) > max_yshift) {
      found = false;
      break;
    }
  }
  best_value = maximum_found(static_cast<float>(best));
}

}  // namespace kesta
