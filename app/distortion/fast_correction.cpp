// Fast correction through the distortion look-up table: every input pixel's
// value shared over its 3 x 3 output block in the table's byte fractions.

#include <algorithm>
#include <cmath>

#include "app/distortion/correction_common.hpp"
#include "app/distortion/lut.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

void KZT_CORR_FASTC(const DistortionTable& table, float overload_value, Index xmaxdat,
                    Index /*ymaxdat*/, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, Index mxstrelm, Index mystrelm, Index mxendelm,
                    Index myendelm, std::span<float> mdata) {
  const Index xmaxlut = table.xmaxlut;
  float* const out = mdata.data();
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* in = data.data() + element(1, y, xmaxdat);
    const std::int8_t* xs = table.x_shifts.data() + element(1, y, xmaxlut);
    const std::int8_t* ys = table.y_shifts.data() + element(1, y, xmaxlut);
    const std::uint8_t* fr = table.fractions.data() + 9 * element(1, y, xmaxlut);
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const float v = in[x - 1];
      const Index tx = x + xs[x - 1];
      const Index ty = y + ys[x - 1];
      const std::uint8_t* w = fr + 9 * (x - 1);
      const bool normal = v < overload_value;
      if (normal && std::isfinite(v) && tx >= mxstrelm && tx + 2 <= mxendelm && ty >= mystrelm &&
          ty + 2 <= myendelm) {
        // The whole block lies inside: a zero fraction adds nothing to a
        // finite value, so only empty block rows are skipped.
        const double dv = v;
        float* o = out + element(tx, ty, xmaxdat);
        for (int r = 0; r < 3; ++r, o += xmaxdat, w += 3) {
          if ((w[0] | w[1] | w[2]) == 0) continue;
          o[0] = static_cast<float>(o[0] + dv * w[0]);
          o[1] = static_cast<float>(o[1] + dv * w[1]);
          o[2] = static_cast<float>(o[2] + dv * w[2]);
        }
        continue;
      }
      const double add = normal ? static_cast<double>(v) : 255.0 * static_cast<double>(v);
      for (Index r = 0; r < 3; ++r) {
        const Index cy = ty + r;
        if (cy < mystrelm || cy > myendelm) continue;
        for (Index c = 0; c < 3; ++c) {
          const Index cx = tx + c;
          const std::uint8_t f = w[3 * r + c];
          if (f == 0 || cx < mxstrelm || cx > mxendelm) continue;
          float& cell = out[element(cx, cy, xmaxdat)];
          cell = static_cast<float>(cell + (normal ? add * f : add));
        }
      }
    }
  }
}

void KZT_CORR_FAST(bool gui, const DistortionTable& table, Index xmaxdat, Index ymaxdat,
                   std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, float& overload_value, std::span<float> mxaxis,
                   std::span<float> myaxis, std::span<float> mdata, Index& mxstrelm,
                   Index& mystrelm, Index& mxendelm, Index& myendelm, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CORR_FAST V0.4";
  if (st_bad(status, kPosition)) return;
  if (xmaxdat < 1 || table.xmaxlut < 1) {
    IO_WRITE("xmaxdat, xmax_lut = " + format_i(xmaxdat, 6) + format_i(table.xmaxlut, 6), status);
    return st_fail(status, kBaseApp + 1, kPosition);
  }
  if (ymaxdat < 1 || table.ymaxlut < 1) return st_fail(status, kBaseApp + 2, kPosition);
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          std::min(data.size(), mdata.size()), kBaseApp);
      e != 0)
    return st_fail(status, e, kPosition);
  correction_pixel_sizes(table.x_pixel_size, table.y_pixel_size, status);
  float overload = overload_value;
  correction_overload_value(!gui, overload, status);
  if (status != kStatusGood) return;
  overload_value = overload;

  // Input pixels without a table entry are left out.
  const Index xend = std::min(xendelm, table.xnumlut);
  const Index yend = std::min(yendelm, table.ynumlut);
  if (xend < xendelm || yend < yendelm) {
    IO_WRITE("WARNING: Active Data Region (ADR) extends outside the look-up table;", status);
    IO_WRITE("         pixels outside it are ignored.", status);
  }
  mxstrelm = 1;
  mystrelm = 1;
  mxendelm = xmaxdat;
  myendelm = ymaxdat;
  MA_RVALUE(xmaxdat, ymaxdat, 1, 1, xmaxdat, ymaxdat, 0.0f, mdata, status);
  double start = 0.0, start_cpu = 0.0, end = 0.0, end_cpu = 0.0;
  IO_TIMES(start, start_cpu, status);
  if (xstrelm <= xend && ystrelm <= yend)
    KZT_CORR_FASTC(table, overload, xmaxdat, ymaxdat, xstrelm, ystrelm, xend, yend, data, mxstrelm,
                   mystrelm, mxendelm, myendelm, mdata);
  IO_TIMES(end, end_cpu, status);
  MA_RCMULT(xmaxdat, ymaxdat, 1, 1, xmaxdat, ymaxdat, 0.0039215689f, mdata, status);
  IO_WRITE("INFO: Time for correction = " + format_f(end - start, 12, 2) + " seconds", status);
  IO_WRITE("INFO: CPU Time for correction = " + format_f(end_cpu - start_cpu, 12, 2) + " seconds",
           status);
  correction_axis(xaxis, xendelm, mxaxis, mxendelm);
  correction_axis(yaxis, yendelm, myaxis, myendelm);
  if (!gui) correction_memory_note(status);
}

}  // namespace kesta
