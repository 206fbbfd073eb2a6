#include "numeric/convolution.hpp"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "core/status.hpp"
#include "numeric/fft.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

void MA_AUTOCORRELATION(bool centre, Index xmaxdat, Index ymaxdat, Index nx, Index ny, Index nrows,
                        std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_AUTOCORRELATION V0.3";
  if (st_bad(status, kPosition)) return;
  Status code = dimension_error(xmaxdat, ymaxdat, 0);
  if (code == 0 && !array_holds(data.size(), xmaxdat, ymaxdat)) code = kShortSpan;
  if (code == 0) {
    if (nx < 2 || nx > xmaxdat) {
      code = 5;
    } else if (ny < 1 || ny > ymaxdat) {
      code = 6;
    } else {
      if (!is_power_of_two(nx)) code = 25;
      if (!is_power_of_two(ny)) code = 26;
    }
  }
  if (code != 0) return st_fail(status, kBaseMath + code, kPosition);

  std::vector<float> xtable, ytable;
  try {
    xtable.resize(static_cast<std::size_t>(2 * nx));
    ytable.resize(static_cast<std::size_t>(2 * ny));
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  bool tables_done = false;
  MA_2DFRFFT(xmaxdat, ymaxdat, nx, ny, nrows, true, tables_done, xtable, ytable, data, status);
  if (status != kStatusGood) return;

  auto at = [&](Index x, Index y) -> float& { return data[element(x, y, xmaxdat)]; };
  // The four purely real terms share their complex slots with each other.
  const float a = at(1, 1), b = at(2, 1), c = at(1, ny / 2 + 1), d = at(2, ny / 2 + 1);
  for (Index y = 1; y <= ny; ++y) {
    float* line = data.data() + element(1, y, xmaxdat);
    for (Index x = 0; x < nx; x += 2) {
      line[x] = line[x] * line[x] + line[x + 1] * line[x + 1];
      line[x + 1] = 0.0f;
    }
  }
  at(1, 1) = a * a;
  at(2, 1) = b * b;
  at(1, ny / 2 + 1) = c * c;
  at(2, ny / 2 + 1) = d * d;

  MA_2DIHFFT(xmaxdat, ymaxdat, nx, ny, true, tables_done, xtable, ytable, data, status);
  if (status != kStatusGood || !centre) return;
  const Index hx = nx / 2, hy = ny / 2;
  if (hy == 0) {  // a single line: only the halves along X change places
    std::swap_ranges(data.begin(), data.begin() + hx, data.begin() + hx);
    return;
  }
  for (Index y = 1; y <= hy; ++y) {
    float* low = data.data() + element(1, y, xmaxdat);
    float* high = data.data() + element(1, y + hy, xmaxdat);
    for (Index x = 0; x < hx; ++x) {
      std::swap(low[x], high[x + hx]);
      std::swap(low[x + hx], high[x]);
    }
  }
}

void MA_SCONVOLUTION(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                     Index ystrelm, Index xendelm, Index yendelm, Index xmaxker, Index ymaxker,
                     Index xnumker, Index ynumker, std::span<const float> kernel, Index xmaxout,
                     Index ymaxout, std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_SCONVOLUTION V0.1";
  if (st_bad(status, kPosition)) return;
  const ArrayShape image{xmaxdat, ymaxdat, data.size()}, out_shape{xmaxout, ymaxout, output.size()},
      kernel_shape{xmaxker, ymaxker, kernel.size()};
  Status code = dimensions_error({image, out_shape, kernel_shape}, kBaseMath);
  if (code == 0) code = region_span_error({image, out_shape}, xstrelm, ystrelm, xendelm, yendelm);
  if (code == 0 && (xnumker < 1 || xnumker > xmaxker)) code = kBaseMath + 17;
  if (code == 0 && (ynumker < 1 || ynumker > ymaxker)) code = kBaseMath + 18;
  if (code == 0) code = span_error({kernel_shape});
  // Only kernel elements within a region's width (height) of the centre ever
  // meet the region; the rest is never visited.
  const Index width = xendelm - xstrelm + 1, height = yendelm - ystrelm + 1;
  const Index ox = (xnumker - 1) / 2, oy = (ynumker - 1) / 2;
  const Index ilo = std::max<Index>(1, ox + 2 - width), ihi = std::min(xnumker, ox + width);
  if (code == 0 && !work_fits({width, height, ihi - ilo + 1}, kMaxWork)) code = kBaseMath + 17;
  const Index rows = std::min(ynumker, oy + height) - std::max<Index>(1, oy + 2 - height) + 1;
  if (code == 0 && !work_fits({width, height, ihi - ilo + 1, rows}, kMaxWork))
    code = kBaseMath + 18;
  if (code != 0) return st_fail(status, code, kPosition);

  for (Index y = ystrelm; y <= yendelm; ++y) {
    float* out = output.data() + element(1, y, xmaxout);
    std::fill(out + (xstrelm - 1), out + xendelm, 0.0f);
    const Index jlo = std::max<Index>(1, ystrelm - y + 1 + oy);
    const Index jhi = std::min(ynumker, yendelm - y + 1 + oy);
    for (Index j = jlo; j <= jhi; ++j) {
      const Index yy = y + j - 1 - oy;
      const float* in = data.data() + element(1, yy, xmaxdat);
      for (Index i = ilo; i <= ihi; ++i) {
        const float k = kernel[static_cast<std::size_t>(element(i, j, xmaxker))];
        const Index dx = i - 1 - ox;
        const Index lo = std::max(xstrelm, xstrelm - dx), hi = std::min(xendelm, xendelm - dx);
        if (lo > hi) continue;
        const float* src = in + (lo + dx - 1);
        float* dst = out + (lo - 1);
        for (Index x = 0; x <= hi - lo; ++x) dst[x] += k * src[x];
      }
    }
  }
}

}  // namespace kesta
