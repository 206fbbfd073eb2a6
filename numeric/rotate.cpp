#include "numeric/rotate.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "numeric/geometry.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/resample_internal.hpp"
#include "numeric/transform2d.hpp"

namespace kesta {
namespace {

using resample::OutputRegion;

// An affine map sampled on the element grid: the image of the reference
// point of element (xs, ys) is (x0, y0); one element along X adds (xx, xy),
// one element along Y adds (yx, yy).
struct Linear {
  Index xs, ys;
  double x0, y0, xx, xy, yx, yy;
};

// Linearises MAP(px, py, ox, oy) from the images of three points: the
// reference point (rx, ry), the same point of the last element of the first
// line and of the first element of the last line. A region under three
// elements wide (or high) takes its step from the image of a unit offset.
template <class Map>
Linear linearise(Map map, float rx, float ry, Index xs, Index ys, Index xe, Index ye) {
  const Index nx = xe - xs >= 2 ? xe - xs : 1;
  const Index ny = ye - ys >= 2 ? ye - ys : 1;
  float ox = 0, oy = 0, ax = 0, ay = 0, bx = 0, by = 0;
  map(rx, ry, ox, oy);
  map(rx + static_cast<float>(nx), ry, ax, ay);
  map(rx, ry + static_cast<float>(ny), bx, by);
  const auto dnx = static_cast<double>(nx);
  const auto dny = static_cast<double>(ny);
  return {xs,
          ys,
          ox,
          oy,
          (static_cast<double>(ax) - ox) / dnx,
          (static_cast<double>(ay) - oy) / dnx,
          (static_cast<double>(bx) - ox) / dny,
          (static_cast<double>(by) - oy) / dny};
}

// Sub-pixel sampling: every element is cut into XSUB x YSUB parts; the image
// of each part's centre gives the output element (a boundary goes to the
// higher one) that gains 1 / (XSUB YSUB) of the value. L maps the centre of
// the first part of the first element.
void sample_subpixels(const Linear& l, Index xsub, Index ysub, std::span<const float> data,
                      Index xmaxdat, Index xe, Index ye, const OutputRegion& o, float* output) {
  const double sxx = l.xx / static_cast<double>(xsub);
  const double sxy = l.xy / static_cast<double>(xsub);
  const double syx = l.yx / static_cast<double>(ysub);
  const double syy = l.yy / static_cast<double>(ysub);
  const auto part = static_cast<float>(1.0 / (static_cast<double>(xsub) * static_cast<double>(ysub)));
  const double xlo = static_cast<double>(o.xs - 1);
  const double xhi = static_cast<double>(o.xe);
  const double ylo = static_cast<double>(o.ys - 1);
  const double yhi = static_cast<double>(o.ye);
  for (Index y = l.ys; y <= ye; ++y) {
    const float* in = data.data() + element(1, y, xmaxdat);
    for (Index j = 0; j < ysub; ++j) {
      const auto ny = static_cast<double>((y - l.ys) * ysub + j);
      const double bx = l.x0 + ny * syx;
      const double by = l.y0 + ny * syy;
      for (Index x = l.xs; x <= xe; ++x) {
        const float value = in[x - 1] * part;
        for (Index i = 0; i < xsub; ++i) {
          const auto nx = static_cast<double>((x - l.xs) * xsub + i);
          const double px = bx + nx * sxx;
          const double py = by + nx * sxy;
          if (px >= xlo && px < xhi && py >= ylo && py < yhi)
            output[element(static_cast<Index>(px) + 1, static_cast<Index>(py) + 1, o.xmax)] +=
                value;
        }
      }
    }
  }
}

// Sub-pixel counts of a region of WIDTH x HEIGHT elements: below LOWEST, or
// more samples than a rotation may take, give 17 (X) or 18 (Y); 0 when usable.
Status subpixel_error(Index width, Index height, Index xsub, Index ysub, Index lowest) {
  if (xsub < lowest || !work_fits({width, height, xsub}, kMaxRotationWork))
    return kBaseMath + 17;
  if (ysub < lowest || !work_fits({width, height, xsub, ysub}, kMaxRotationWork))
    return kBaseMath + 18;
  return 0;
}

// Which diagonal cuts an element's mapped square into two triangles.
enum class Diagonal { k00to11, k10to01 };

// Triangle rebinning: every element's mapped square (L maps its corner
// (x - 1, y - 1)) is cut into two triangles shared out by exact area. The
// value per unit area is scaled by the map's area factor so that each
// element's whole intensity is shared out. A square wider than two output
// pixels (a stretched map, e.g. non-square pixels) is first cut into N x N
// smaller ones, so that no triangle spans more than three pixels and none is
// dropped; only beyond N = kMaxSplit are triangles still skipped and counted.
void share_triangles(const Linear& l, Diagonal diagonal, std::span<const float> data,
                     Index xmaxdat, Index xe, Index ye, const OutputRegion& o, float* output,
                     Index& x_skipped, Index& y_skipped) {
  constexpr double kMaxSplit = 16.0;
  const double jacobian = std::fabs(l.xx * l.yy - l.xy * l.yx);
  const double scale = jacobian > 0.0 ? 1.0 / jacobian : 0.0;
  const double extent =
      std::max(std::fabs(l.xx) + std::fabs(l.yx), std::fabs(l.xy) + std::fabs(l.yy));
  // 1.9 rather than 2 leaves room for rounding at the pixel boundaries.
  const double split = std::ceil(extent / 1.9);
  const Index n = split > 1.0 ? static_cast<Index>(std::min(split, kMaxSplit)) : 1;
  const auto dn = static_cast<double>(n);
  const double xx = l.xx / dn, xy = l.xy / dn, yx = l.yx / dn, yy = l.yy / dn;
  const double area = 0.5 * jacobian / (dn * dn);
  for (Index y = l.ys; y <= ye; ++y) {
    const float* in = data.data() + element(1, y, xmaxdat);
    const auto dy = static_cast<double>(y - l.ys);
    const double rx = l.x0 + dy * l.yx;
    const double ry = l.y0 + dy * l.yy;
    for (Index x = l.xs; x <= xe; ++x) {
      const auto dx = static_cast<double>(x - l.xs);
      const double value = static_cast<double>(in[x - 1]) * scale;
      const double ex = rx + dx * l.xx, ey = ry + dx * l.xy;
      for (Index b = 0; b < n; ++b) {
        for (Index a = 0; a < n; ++a) {
          const auto da = static_cast<double>(a), db = static_cast<double>(b);
          const double p00x = ex + da * xx + db * yx, p00y = ey + da * xy + db * yy;
          const double p10x = p00x + xx, p10y = p00y + xy;
          const double p01x = p00x + yx, p01y = p00y + yy;
          const double p11x = p10x + yx, p11y = p10y + yy;
          if (diagonal == Diagonal::k00to11) {
            resample::trirebin_share({p00x, p10x, p11x}, {p00y, p10y, p11y}, value, area, o,
                                     output, x_skipped, y_skipped);
            resample::trirebin_share({p00x, p11x, p01x}, {p00y, p11y, p01y}, value, area, o,
                                     output, x_skipped, y_skipped);
          } else {
            resample::trirebin_share({p00x, p10x, p01x}, {p00y, p10y, p01y}, value, area, o,
                                     output, x_skipped, y_skipped);
            resample::trirebin_share({p11x, p10x, p01x}, {p11y, p10y, p01y}, value, area, o,
                                     output, x_skipped, y_skipped);
          }
        }
      }
    }
  }
}

// The two warning lines for triangles left out because they span more than
// three output pixels along an axis.
void report_skipped(Index x_skipped, Index y_skipped, Status& status) {
  const char* const kEndings[2] = {"(X-direction).", "(Y-direction)."};
  const Index counts[2] = {x_skipped, y_skipped};
  for (int axis = 0; axis < 2; ++axis) {
    if (counts[axis] == 0) continue;
    IO_WRITE("WARNING: " + format_i(counts[axis], 10) +
                 " input pixels have been ignored, because they require",
             status);
    IO_WRITE(std::string("         re-binning into more than three output pixels ") +
                 kEndings[axis],
             status);
  }
}

bool clear(Index xmaxout, Index ymaxout, Index oxs, Index oys, Index oxe, Index oye,
           std::span<float> output, Status& status) {
  MA_RVALUE(xmaxout, ymaxout, oxs, oys, oxe, oye, 0.0f, output, status);
  return status == kStatusGood;
}

}  // namespace

void MA_REFLECT(float x1, float y1, float x2, float y2, float x, float y, float& xout,
                float& yout, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_REFLECT V0.1";
  if (st_bad(status, kPosition)) return;
  if (x1 == x2 && y1 == y2) {
    st_fail(status, kBaseMath + 21, kPosition);
    return;
  }
  // The foot of the perpendicular from the point onto the line.
  int result = 0;
  float fx = 0.0f;
  float fy = 0.0f;
  MA_INTERSECT(x1, y1, x2, y2, x, y, x - (y2 - y1), y + (x2 - x1), result, fx, fy, status);
  if (status != kStatusGood) return;
  if (result != 0) {
    st_fail(status, kBaseMath + 21, kPosition);
    return;
  }
  xout = 2.0f * fx - x;
  yout = 2.0f * fy - y;
}

void MA_RROTATE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                float angle, float xshift, float yshift, Index xsub, Index ysub, Index xmaxout,
                Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm, Index oyendelm,
                std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RROTATE V0.3";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxout,
              ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status))
    return;
  if (const Status e = subpixel_error(xendelm - xstrelm + 1, yendelm - ystrelm + 1, xsub, ysub, 1);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  if (!clear(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status)) return;
  const Linear l = linearise(
      [&](float px, float py, float& ox, float& oy) {
        MA_TRANSFORM(xcentre, ycentre, angle, xshift, yshift, px, py, ox, oy, status);
      },
      static_cast<float>(xstrelm - 1) + 0.5f / static_cast<float>(xsub),
      static_cast<float>(ystrelm - 1) + 0.5f / static_cast<float>(ysub), xstrelm, ystrelm,
      xendelm, yendelm);
  if (status != kStatusGood) return;
  sample_subpixels(l, xsub, ysub, data, xmaxdat, xendelm, yendelm,
                   {xmaxout, oxstrelm, oystrelm, oxendelm, oyendelm}, output.data());
}

void MA_RREFLECT(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, float x1, float y1, float x2,
                 float y2, Index xsub, Index ysub, Index xmaxout, Index ymaxout, Index oxstrelm,
                 Index oystrelm, Index oxendelm, Index oyendelm, std::span<float> output,
                 Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RREFLECT V0.3";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxout,
              ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status))
    return;
  if (const Status e = subpixel_error(xendelm - xstrelm + 1, yendelm - ystrelm + 1, xsub, ysub, 0);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  if (x1 == x2 && y1 == y2) {
    st_fail(status, kBaseMath + 21, kPosition);
    return;
  }
  if (!clear(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status)) return;
  auto reflect = [&](float px, float py, float& ox, float& oy) {
    MA_REFLECT(x1, y1, x2, y2, px, py, ox, oy, status);
  };
  const OutputRegion o{xmaxout, oxstrelm, oystrelm, oxendelm, oyendelm};
  if (xsub > 0 && ysub > 0) {
    const Linear l = linearise(reflect,
                               static_cast<float>(xstrelm - 1) + 0.5f / static_cast<float>(xsub),
                               static_cast<float>(ystrelm - 1) + 0.5f / static_cast<float>(ysub),
                               xstrelm, ystrelm, xendelm, yendelm);
    if (status != kStatusGood) return;
    sample_subpixels(l, xsub, ysub, data, xmaxdat, xendelm, yendelm, o, output.data());
  } else {
    const Linear l = linearise(reflect, static_cast<float>(xstrelm - 1),
                               static_cast<float>(ystrelm - 1), xstrelm, ystrelm, xendelm, yendelm);
    if (status != kStatusGood) return;
    Index x_skipped = 0;
    Index y_skipped = 0;
    share_triangles(l, Diagonal::k00to11, data, xmaxdat, xendelm, yendelm, o, output.data(),
                    x_skipped, y_skipped);
  }
}

void MA_RTRANSFORM(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                   float angle, float xshift, float yshift, Index /*xsub*/, Index /*ysub*/,
                   Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                   Index oyendelm, std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RTRANSFORM V0.2";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxout,
              ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status))
    return;
  if (!clear(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status)) return;
  const Linear l = linearise(
      [&](float px, float py, float& ox, float& oy) {
        MA_TRANSFORM(xcentre, ycentre, angle, xshift, yshift, px, py, ox, oy, status);
      },
      static_cast<float>(xstrelm - 1), static_cast<float>(ystrelm - 1), xstrelm, ystrelm, xendelm,
      yendelm);
  if (status != kStatusGood) return;
  Index x_skipped = 0;
  Index y_skipped = 0;
  share_triangles(l, Diagonal::k10to01, data, xmaxdat, xendelm, yendelm,
                  {xmaxout, oxstrelm, oystrelm, oxendelm, oyendelm}, output.data(), x_skipped,
                  y_skipped);
  report_skipped(x_skipped, y_skipped, status);
}

void MA_2DROTATE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                 float angle, float xshift, float yshift, float xpixsize, float ypixsize,
                 Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                 Index oyendelm, std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DROTATE V0.1";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxout,
              ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status))
    return;
  if (!(xpixsize > 0.0f && ypixsize > 0.0f)) {
    st_fail(status, kBaseMath + 21, kPosition);
    return;
  }
  if (!clear(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status)) return;
  const double c = std::cos(static_cast<double>(angle));
  const double s = std::sin(static_cast<double>(angle));
  const double ratio = static_cast<double>(ypixsize) / xpixsize;
  const Linear l = linearise(
      [&](float px, float py, float& ox, float& oy) {
        const double dx = static_cast<double>(px) - xcentre;
        const double dy = (static_cast<double>(py) - ycentre) * ratio;
        ox = static_cast<float>(c * dx - s * dy + xcentre + xshift);
        oy = static_cast<float>(s * dx + c * dy + ycentre + yshift);
      },
      static_cast<float>(xstrelm - 1), static_cast<float>(ystrelm - 1), xstrelm, ystrelm, xendelm,
      yendelm);
  Index x_skipped = 0;
  Index y_skipped = 0;
  share_triangles(l, Diagonal::k00to11, data, xmaxdat, xendelm, yendelm,
                  {xmaxout, oxstrelm, oystrelm, oxendelm, oyendelm}, output.data(), x_skipped,
                  y_skipped);
  report_skipped(x_skipped, y_skipped, status);
}

namespace {

// Bilinear sharing of a quarter turn: element (x, y) has its base output
// element at column cx + ax x + bx y, line cy + ay x + by y, and is shared by
// the fractions FX, FY with the next column and line.
struct QuarterTurn {
  Index cx, ax, bx, cy, ay, by;
  double fx, fy;
};

// The base elements and fractions of quarter turn Q about (XC, YC) followed by
// the shift: the base is floor(u - 0.5 + shift) + 1 for the rotated centre u,
// the same whole offset for every element, so the fractions are common. With
// EXACT (whole centre and shifts) the fractions are zero.
QuarterTurn quarter_turn(int q, double xc, double yc, double xshift, double yshift, bool exact) {
  double u = 0.0;
  double v = 0.0;
  QuarterTurn t{};
  switch (q) {
    case 1:
      u = xc + yc + xshift;
      v = yc - xc + yshift;
      t.ax = 0, t.bx = -1, t.ay = 1, t.by = 0;
      break;
    case 2:
      u = 2.0 * xc + xshift;
      v = 2.0 * yc + yshift;
      t.ax = -1, t.bx = 0, t.ay = 0, t.by = -1;
      break;
    default:
      u = xc - yc + xshift;
      v = xc + yc + yshift;
      t.ax = 0, t.bx = 1, t.ay = -1, t.by = 0;
      break;
  }
  const Index iu = exact ? resample::floor_index(std::round(u)) : resample::floor_index(u);
  const Index iv = exact ? resample::floor_index(std::round(v)) : resample::floor_index(v);
  t.fx = exact ? 0.0 : u - static_cast<double>(iu);
  t.fy = exact ? 0.0 : v - static_cast<double>(iv);
  // Offsets so that base = i + coefficient terms: q = 1 column iu - y + 1,
  // line iv + x; q = 2 column iu - x + 1, line iv - y + 1; q = 3 column iu + y,
  // line iv - x + 1.
  t.cx = iu + (t.ax + t.bx < 0 ? 1 : 0);
  t.cy = iv + (t.ay + t.by < 0 ? 1 : 0);
  return t;
}

void share_quarter_turn(const QuarterTurn& t, std::span<const float> data, Index xmaxdat, Index xs,
                        Index ys, Index xe, Index ye, const OutputRegion& o, float* output) {
  const float w00 = static_cast<float>((1.0 - t.fx) * (1.0 - t.fy));
  const float w10 = static_cast<float>(t.fx * (1.0 - t.fy));
  const float w01 = static_cast<float>((1.0 - t.fx) * t.fy);
  const float w11 = static_cast<float>(t.fx * t.fy);
  auto add = [&](Index col, Index line, float w, float value) {
    if (w != 0.0f && col >= o.xs && col <= o.xe && line >= o.ys && line <= o.ye)
      output[element(col, line, o.xmax)] += w * value;
  };
  for (Index y = ys; y <= ye; ++y) {
    const float* in = data.data() + element(1, y, xmaxdat);
    for (Index x = xs; x <= xe; ++x) {
      const Index col = t.cx + t.ax * x + t.bx * y;
      const Index line = t.cy + t.ay * x + t.by * y;
      const float value = in[x - 1];
      add(col, line, w00, value);
      add(col + 1, line, w10, value);
      add(col, line + 1, w01, value);
      add(col + 1, line + 1, w11, value);
    }
  }
}

}  // namespace

void MA_2DROTATE90(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                   float angle, float xshift, float yshift, float xpixsize, float ypixsize,
                   Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                   Index oyendelm, std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DROTATE90 V0.1";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxout,
              ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status))
    return;
  if (!(xpixsize > 0.0f && ypixsize > 0.0f && std::isfinite(angle))) {
    st_fail(status, kBaseMath + 21, kPosition);
    return;
  }
  const double turns = std::round(std::fmod(static_cast<double>(angle), 6.2831855) / 1.5707963);
  const int q = ((static_cast<int>(turns) % 4) + 4) % 4;
  if (q == 0) {
    // No turn at all: the rotation about any centre is the identity.
    MA_2DTRANSLATE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xshift, yshift,
                   xpixsize, ypixsize, xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm,
                   output, status);
    return;
  }
  if (!clear(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status)) return;
  if (std::fabs(static_cast<double>(xpixsize) / ypixsize - 1.0) >= 1.0e-4) {
    MA_SUB2DROT90(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xcentre, ycentre, q,
                  xshift, yshift, xpixsize, ypixsize, xmaxout, ymaxout, oxstrelm, oystrelm,
                  oxendelm, oyendelm, output, status);
    return;
  }
  const bool exact = resample::is_whole(xshift) && resample::is_whole(yshift) &&
                     resample::is_whole(xcentre) && resample::is_whole(ycentre);
  share_quarter_turn(quarter_turn(q, xcentre, ycentre, xshift, yshift, exact), data, xmaxdat,
                     xstrelm, ystrelm, xendelm, yendelm,
                     {xmaxout, oxstrelm, oystrelm, oxendelm, oyendelm}, output.data());
}

void MA_SUB2DROT90(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                   int quarter_turns, float xshift, float yshift, float xpixsize, float ypixsize,
                   Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                   Index oyendelm, std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_SUB2DROT90 V0.1";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxout,
              ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output, status))
    return;
  if (quarter_turns < 1 || quarter_turns > 3) {
    st_fail(status, kBaseMath + 17, kPosition);
    return;
  }
  if (!(xpixsize > 0.0f && ypixsize > 0.0f)) {
    st_fail(status, kBaseMath + 21, kPosition);
    return;
  }
  const OutputRegion o{xmaxout, oxstrelm, oystrelm, oxendelm, oyendelm};
  if (quarter_turns == 2) {
    share_quarter_turn(quarter_turn(2, xcentre, ycentre, xshift, yshift, false), data, xmaxdat,
                       xstrelm, ystrelm, xendelm, yendelm, o, output.data());
    return;
  }
  // An input line becomes an output column band YPIXSIZE / XPIXSIZE elements
  // wide, an input column an output line band XPIXSIZE / YPIXSIZE high, each
  // centred on the rotated element centre.
  const double width = static_cast<double>(ypixsize) / xpixsize;
  const double height = static_cast<double>(xpixsize) / ypixsize;
  const double sign = quarter_turns == 1 ? -1.0 : 1.0;
  std::vector<resample::Shares> columns;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const double centre =
        xcentre + sign * (static_cast<double>(y) - 0.5 - ycentre) * width + xshift;
    columns.push_back(
        resample::interval_shares(centre - width * 0.5, centre + width * 0.5, oxstrelm, oxendelm));
  }
  std::vector<resample::Shares> lines;
  for (Index x = xstrelm; x <= xendelm; ++x) {
    const double centre =
        ycentre - sign * (static_cast<double>(x) - 0.5 - xcentre) * height + yshift;
    lines.push_back(
        resample::interval_shares(centre - height * 0.5, centre + height * 0.5, oystrelm, oyendelm));
  }
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* in = data.data() + element(1, y, xmaxdat);
    const resample::Shares& sc = columns[static_cast<std::size_t>(y - ystrelm)];
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const resample::Shares& sl = lines[static_cast<std::size_t>(x - xstrelm)];
      const double value = in[x - 1];
      for (std::size_t j = 0; j < sl.weight.size(); ++j) {
        float* out = output.data() + element(1, sl.first + static_cast<Index>(j), xmaxout);
        for (std::size_t i = 0; i < sc.weight.size(); ++i)
          out[sc.first + static_cast<Index>(i) - 1] +=
              static_cast<float>(value * sl.weight[j] * sc.weight[i]);
      }
    }
  }
}

}  // namespace kesta
