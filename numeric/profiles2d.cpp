#include "numeric/profiles2d.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/extremes.hpp"
#include "core/status.hpp"
#include "numeric/geometry.hpp"
#include "numeric/profiles1d.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

// Unit Gaussian as a function of the squared normalised distance q = i / 20,
// q = 0 .. 36.
const std::array<float, 721>& polar_table() {
  static const std::array<float, 721> table = [] {
    std::array<float, 721> t{};
    for (int i = 0; i <= 720; ++i) {
      t[static_cast<std::size_t>(i)] = std::exp(-(static_cast<float>(i) / 20.0f) / 2.0f);
    }
    return t;
  }();
  return table;
}

bool mode_ok(int mode) { return mode == 0 || mode == 1 || mode == 9; }

// Integer part of a pixel coordinate, kept inside the range of pixel numbers.
Index pixel_of(float v) {
  if (!(v > -1.0e15f)) return -1000000000000000LL;
  if (v > 1.0e15f) return 1000000000000000LL;
  return static_cast<Index>(v);
}

// The integer parts of the pixel coordinates of the data coordinates A and B
// on AXIS, read up to element END only (beyond the region's end the arrays
// hold no coordinates), the lower first: on an axis that runs downwards (a
// d-spacing scale) the higher coordinate lies at the lower pixel.
struct PixelRange {
  Index low = 0, high = 0;
};

PixelRange pixel_range(Index maxdim, Index end, std::span<const float> axis, float a, float b,
                       Status& status) {
  float pa = 0.0f, pb = 0.0f;
  MA_DC2PIXC(maxdim, end, axis, a, pa, status);
  MA_DC2PIXC(maxdim, end, axis, b, pb, status);
  if (pb < pa) std::swap(pa, pb);
  return {pixel_of(pa), pixel_of(pb)};
}

// The region of the image, the widths, the mode and then the spans of the
// image (SIZE) and of the axes (0 when there are none).
bool checks_ok(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, int mode, bool widths_ok, std::size_t size, std::size_t x_axis,
               std::size_t y_axis, bool axes, Status& status, const char* position) {
  Status code = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseMath);
  if (code == 0 && !widths_ok) code = kBaseMath + 21;
  if (code == 0)
    code = span_error({{xmaxdat, ymaxdat, size}, {axes ? xmaxdat : 0, 1, x_axis},
                       {axes ? ymaxdat : 0, 1, y_axis}});
  if (code == 0 && !mode_ok(mode)) code = kBaseMath + 17;
  if (code == 0) return true;
  st_fail(status, code, position);
  return false;
}

// Adds the rotated Gaussian over pixels XLO..XHI by YLO..YHI; PX and PY give
// the data coordinate of a pixel centre.
template <typename PixelX, typename PixelY>
void add_rotated(Index xmaxdat, Index xlo, Index xhi, Index ylo, Index yhi, PixelX px, PixelY py,
                 float height, float xc, float yc, float w1, float w2, float angle, float cutoff,
                 int mode, std::span<float> array) {
  const float c = std::cos(angle), s = std::sin(angle);
  for (Index y = ylo; y <= yhi; ++y) {
    const float dy = py(y) - yc;
    float* line = array.data() + element(1, y, xmaxdat);
    for (Index x = xlo; x <= xhi; ++x) {
      const float dx = px(x) - xc;
      const float u = std::fabs(c * dx + s * dy) / w1;
      const float v = std::fabs(-s * dx + c * dy) / w2;
      if (std::max(u, v) <= cutoff) {
        line[x - 1] += height * gaussian_value(u, mode) * gaussian_value(v, mode);
      }
    }
  }
}

}  // namespace

void MA_2DGAUSSIAN(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> x_axis, std::span<const float> y_axis,
                   float height, float x_centre, float y_centre, float width1, float width2,
                   float angle, float cutoff, int mode, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DGAUSSIAN V0.3";
  if (st_bad(status, kPosition)) return;
  if (!checks_ok(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, mode,
                 width1 > 0.0f && width2 > 0.0f && cutoff > 0.0f, array.size(), x_axis.size(),
                 y_axis.size(), true, status, kPosition)) {
    return;
  }
  const float reach = cutoff * std::max(width1, width2);
  const PixelRange xr =
      pixel_range(xmaxdat, xendelm, x_axis, x_centre - reach, x_centre + reach, status);
  const PixelRange yr =
      pixel_range(ymaxdat, yendelm, y_axis, y_centre - reach, y_centre + reach, status);
  if (status != kStatusGood) return;
  const Index xlo = std::max(xstrelm, xr.low + 1), xhi = std::min(xendelm, xr.high + 1);
  const Index ylo = std::max(ystrelm, yr.low + 1), yhi = std::min(yendelm, yr.high + 1);
  add_rotated(
      xmaxdat, xlo, xhi, ylo, yhi, [&](Index x) { return x_axis[x - 1]; },
      [&](Index y) { return y_axis[y - 1]; }, height, x_centre, y_centre, width1, width2, angle,
      cutoff, mode, array);
}

void MA_2GAUSSIAN(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, float height, float x_centre, float y_centre, float width1,
                  float width2, float angle, float cutoff, int mode, std::span<float> array,
                  Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2GAUSSIAN V0.1";
  if (st_bad(status, kPosition)) return;
  if (!checks_ok(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, mode,
                 width1 > 0.0f && width2 > 0.0f && cutoff > 0.0f, array.size(), 0, 0, false,
                 status, kPosition)) {
    return;
  }
  const float reach = cutoff * std::max(width1, width2);
  const Index xlo = std::max(xstrelm, pixel_of(x_centre - reach) + 1);
  const Index xhi = std::min(xendelm, pixel_of(x_centre + reach) + 1);
  const Index ylo = std::max(ystrelm, pixel_of(y_centre - reach) + 1);
  const Index yhi = std::min(yendelm, pixel_of(y_centre + reach) + 1);
  add_rotated(
      xmaxdat, xlo, xhi, ylo, yhi, [](Index x) { return static_cast<float>(x) - 0.5f; },
      [](Index y) { return static_cast<float>(y) - 0.5f; }, height, x_centre, y_centre, width1,
      width2, angle, cutoff, mode, array);
}

void MA_2GPGCL(Index xmaxdat, Index ymaxdat, std::span<const float> x_axis,
               std::span<const float> y_axis, Index xs, Index ys, Index xe, Index ye, float height,
               float r0, float a0, float x_polar, float y_polar, float radial_width,
               float angular_width, float cutoff, int mode, std::span<float> array,
               Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2GPGCL V0.1";
  if (st_bad(status, kPosition)) return;
  if (!checks_ok(xmaxdat, ymaxdat, xs, ys, xe, ye, mode, true, array.size(), x_axis.size(),
                 y_axis.size(), true, status, kPosition)) {
    return;
  }
  const auto& table = polar_table();
  const float limit = cutoff * cutoff;
  for (Index y = ys; y <= ye; ++y) {
    const float dy = y_axis[y - 1] - y_polar;
    float* line = array.data() + element(1, y, xmaxdat);
    for (Index x = xs; x <= xe; ++x) {
      const float dx = x_axis[x - 1] - x_polar;
      const float r = std::sqrt(dx * dx + dy * dy);
      const float azimuth = r > 0.0f ? std::atan2(dy, dx) : 0.0f;
      float da = azimuth - a0;
      if (da > 3.1415925f) {
        da -= 6.283185f;
      } else if (da < -3.1415925f) {
        da += 6.283185f;
      }
      const float ta = da / angular_width, tr = (r - r0) / radial_width;
      const float q = ta * ta + tr * tr;
      if (!(q <= limit)) continue;
      float value;
      if (mode == 9) {
        value = std::exp(-q / 2.0f);
      } else if (mode == 0) {
        value = table[std::min<std::size_t>(static_cast<std::size_t>(std::lround(20.0f * q)), 720)];
      } else {
        // q = 36 exactly lands on the last entry: interpolate from the one before.
        const float f = 20.0f * q;
        const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(f), 719);
        const float frac = f - static_cast<float>(i);
        value = frac * table[i + 1] + (1.0f - frac) * table[i];
      }
      line[x - 1] += height * value;
    }
  }
}

void MA_2DPOLARGAU(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> x_axis, std::span<const float> y_axis,
                   float height, float x_peak, float y_peak, float x_polar, float y_polar,
                   float radial_width, float angular_width, float cutoff, int mode,
                   std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DPOLARGAU V0.2";
  if (st_bad(status, kPosition)) return;
  if (!checks_ok(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, mode,
                 radial_width >= 0.0f && angular_width >= 0.0f, array.size(), x_axis.size(),
                 y_axis.size(), true, status, kPosition)) {
    return;
  }
  if (angular_width == 0.0f || radial_width == 0.0f) return;
  const float cut = std::min(cutoff, 6.0f);

  const float px = x_peak - x_polar, py = y_peak - y_polar;
  const float r0 = std::sqrt(px * px + py * py);
  float a0 = r0 > 0.0f ? std::atan2(py, px) : 0.0f;
  if (a0 < 0.0f) a0 += 6.283185f;
  const float outer = r0 + cut * radial_width;
  const float inner = r0 - cut * radial_width;
  const float a1 = a0 - cut * angular_width, a2 = a0 + cut * angular_width;

  // Bounding box of the annular sector: the outer circle's extreme point at
  // every multiple of pi/2 the azimuth span contains, and the four corners.
  float xlow = kAboveEveryValue, xhigh = kBelowEveryValue, ylow = kAboveEveryValue,
        yhigh = kBelowEveryValue;
  auto widen = [&](float x, float y) {
    xlow = std::min(xlow, x);
    xhigh = std::max(xhigh, x);
    ylow = std::min(ylow, y);
    yhigh = std::max(yhigh, y);
  };
  constexpr double kQuarter = 1.5707963267948966;
  const bool full_circle = double(a2) - double(a1) >= 4.0 * kQuarter;
  const auto first = static_cast<long long>(std::ceil(double(a1) / kQuarter));
  const auto last = full_circle ? first + 3 : static_cast<long long>(std::floor(double(a2) / kQuarter));
  for (long long m = first; m <= last; ++m) {
    switch (((m % 4) + 4) % 4) {
      case 0: widen(x_polar + outer, y_polar); break;
      case 1: widen(x_polar, y_polar + outer); break;
      case 2: widen(x_polar - outer, y_polar); break;
      default: widen(x_polar, y_polar - outer); break;
    }
  }
  for (const float radius : {inner, outer}) {
    for (const float azimuth : {a1, a2}) {
      widen(x_polar + radius * std::cos(azimuth), y_polar + radius * std::sin(azimuth));
    }
  }

  const PixelRange bx = pixel_range(xmaxdat, xendelm, x_axis, xlow, xhigh, status);
  const PixelRange by = pixel_range(ymaxdat, yendelm, y_axis, ylow, yhigh, status);
  if (status != kStatusGood) return;
  const Index bx1 = std::max(xstrelm, bx.low + 1), bx2 = std::min(xendelm, bx.high + 1);
  const Index by1 = std::max(ystrelm, by.low + 1), by2 = std::min(yendelm, by.high + 1);
  if (bx1 > bx2 || by1 > by2) return;

  auto add = [&](Index xs, Index ys, Index xe, Index ye) {
    if (xs > xe || ys > ye) return;  // a band around the hole may be empty
    MA_2GPGCL(xmaxdat, ymaxdat, x_axis, y_axis, xs, ys, xe, ye, height, r0, a0, x_polar, y_polar,
              radial_width, angular_width, cut, mode, array, status);
  };
  // Pixels wholly inside the square inscribed in the inner circle are too far
  // from the ring to reach the cut-off.
  Index hx1 = 0, hx2 = -1, hy1 = 0, hy2 = -1;
  if (inner > 0.0f) {
    const float half = inner * 0.7071067f;
    const PixelRange hx = pixel_range(xmaxdat, xendelm, x_axis, x_polar - half, x_polar + half,
                                      status);
    const PixelRange hy = pixel_range(ymaxdat, yendelm, y_axis, y_polar - half, y_polar + half,
                                      status);
    if (status != kStatusGood) return;
    hx1 = std::max(bx1, hx.low + 2);
    hx2 = std::min(bx2, hx.high);
    hy1 = std::max(by1, hy.low + 2);
    hy2 = std::min(by2, hy.high);
  }
  if (hx2 - hx1 < 1 || hy2 - hy1 < 1) {
    add(bx1, by1, bx2, by2);
    return;
  }
  add(bx1, by1, bx2, hy1 - 1);
  add(bx1, hy1, hx1 - 1, hy2);
  add(hx2 + 1, hy1, bx2, hy2);
  add(bx1, hy2 + 1, bx2, by2);
}

}  // namespace kesta
