#include "numeric/transform2d.hpp"

#include <algorithm>
#include <cmath>

#include "core/status.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/resample_internal.hpp"
#include "numeric/rotate.hpp"

namespace kesta {
namespace {

constexpr double kPi = 3.1415925;
constexpr double kTwoPi = 6.283185;

}  // namespace

void MA_TRANSFORM(float xcentre, float ycentre, float angle, float xshift, float yshift, float x,
                  float y, float& xout, float& yout, Status& status) {
  if (st_bad(status, "Subroutine MA_TRANSFORM V0.1")) return;
  const double c = std::cos(static_cast<double>(angle));
  const double s = std::sin(static_cast<double>(angle));
  const double dx = static_cast<double>(x) - xcentre;
  const double dy = static_cast<double>(y) - ycentre;
  xout = static_cast<float>(c * dx - s * dy + xcentre + xshift);
  yout = static_cast<float>(s * dx + c * dy + ycentre + yshift);
}

void MA_CAL_2DTRANSFORMATION(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                             float y4, float& xcentre, float& ycentre, float& angle,
                             float& xshift, float& yshift, float& length_mismatch,
                             Status& status) {
  if (st_bad(status, "Subroutine MA_CAL_2DTRANSFORMATION V0.1")) return;
  const double xc = (static_cast<double>(x1) + x2) * 0.5;
  const double yc = (static_cast<double>(y1) + y2) * 0.5;
  double a = std::atan2(static_cast<double>(y4) - y3, static_cast<double>(x4) - x3) -
             std::atan2(static_cast<double>(y2) - y1, static_cast<double>(x2) - x1);
  if (a < -kPi) a += kTwoPi;
  xcentre = static_cast<float>(xc);
  ycentre = static_cast<float>(yc);
  angle = static_cast<float>(a);
  xshift = static_cast<float>((static_cast<double>(x3) + x4) * 0.5 - xc);
  yshift = static_cast<float>((static_cast<double>(y3) + y4) * 0.5 - yc);
  const double l12 = std::hypot(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1);
  const double l34 = std::hypot(static_cast<double>(x4) - x3, static_cast<double>(y4) - y3);
  length_mismatch = static_cast<float>(std::fabs(l12 - l34) * 0.5);
}

void MA_2DTRANSFORM(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                    float angle, float xshift, float yshift, float xpixsize, float ypixsize,
                    Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                    Index oyendelm, std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DTRANSFORM V0.3";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm,
                                 yendelm, xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm,
                                 output, status))
    return;
  double a = std::fmod(static_cast<double>(angle), kTwoPi);
  if (a < 0.0) a += kTwoPi;
  if (std::fabs(angle) <= 1.0e-5f) {
    MA_2DTRANSLATE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xshift, yshift,
                   xpixsize, ypixsize, xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm,
                   output, status);
  } else if (std::fabs(std::fmod(a, 1.5707963)) <= 0.001) {
    MA_2DROTATE90(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xcentre, ycentre,
                  static_cast<float>(a), xshift, yshift, xpixsize, ypixsize, xmaxout, ymaxout,
                  oxstrelm, oystrelm, oxendelm, oyendelm, output, status);
  } else {
    MA_2DROTATE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xcentre, ycentre,
                static_cast<float>(a), xshift, yshift, xpixsize, ypixsize, xmaxout, ymaxout,
                oxstrelm, oystrelm, oxendelm, oyendelm, output, status);
  }
}

void MA_2DTRANSLATE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, float xshift, float yshift,
                    float /*xpixsize*/, float /*ypixsize*/, Index xmaxout, Index ymaxout,
                    Index oxstrelm, Index oystrelm, Index oxendelm, Index oyendelm,
                    std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DTRANSLATE V0.1";
  if (st_bad(status, kPosition)) return;
  if (!resample::in_out_accepted(kPosition, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm,
                                 yendelm, xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm,
                                 output, status))
    return;
  const double sx = xshift;
  const double sy = yshift;

  if (resample::is_whole(sx) && resample::is_whole(sy)) {
    // Exact move: every output element is written, from the input or 0.0.
    const Index nx = resample::floor_index(std::round(sx));
    const Index ny = resample::floor_index(std::round(sy));
    const Index first = std::max(oxstrelm, xstrelm + nx);
    const Index last = std::min(oxendelm, xendelm + nx);
    for (Index y = oystrelm; y <= oyendelm; ++y) {
      float* out = output.data() + element(1, y, xmaxout);
      const Index line = y - ny;
      if (line < ystrelm || line > yendelm || first > last) {
        std::fill(out + oxstrelm - 1, out + oxendelm, 0.0f);
        continue;
      }
      const float* in = data.data() + element(1, line, xmaxdat);
      std::fill(out + oxstrelm - 1, out + first - 1, 0.0f);
      std::copy(in + first - nx - 1, in + last - nx, out + first - 1);
      std::fill(out + last, out + oxendelm, 0.0f);
    }
    return;
  }

  // Bilinear sharing: the shifted square of an element overlaps the output
  // element at (x + IX, y + IY), its right and upper neighbours and the
  // diagonal one by the areas (1 - FX)(1 - FY), FX (1 - FY), (1 - FX) FY, FX FY.
  MA_RVALUE(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, 0.0f, output, status);
  if (status != kStatusGood) return;
  const Index ix = resample::floor_index(sx);
  const Index iy = resample::floor_index(sy);
  const double fx = sx - static_cast<double>(ix);
  const double fy = sy - static_cast<double>(iy);
  const Index x_first = std::max(xstrelm, oxstrelm - ix - 1);
  const Index x_last = std::min(xendelm, oxendelm - ix);
  const Index y_first = std::max(ystrelm, oystrelm - iy - 1);
  const Index y_last = std::min(yendelm, oyendelm - iy);
  // Input columns whose base (and right neighbour) falls inside the output.
  const Index base_first = std::max(x_first, oxstrelm - ix);
  const Index base_last = std::min(x_last, oxendelm - ix);
  const Index right_first = std::max(x_first, oxstrelm - ix - 1);
  const Index right_last = std::min(x_last, oxendelm - ix - 1);
  for (Index y = y_first; y <= y_last; ++y) {
    const float* in = data.data() + element(1, y, xmaxdat);
    for (int up = 0; up < 2; ++up) {
      const Index line = y + iy + up;
      const double wy = up != 0 ? fy : 1.0 - fy;
      if (line < oystrelm || line > oyendelm || wy == 0.0) continue;
      float* out = output.data() + element(1, line, xmaxout);
      const auto w0 = static_cast<float>((1.0 - fx) * wy);
      const auto w1 = static_cast<float>(fx * wy);
      for (Index x = base_first; x <= base_last; ++x) out[x + ix - 1] += w0 * in[x - 1];
      for (Index x = right_first; x <= right_last; ++x) out[x + ix] += w1 * in[x - 1];
    }
  }
}

}  // namespace kesta
