#include "numeric/rebin.hpp"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/extremes.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/resample_internal.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {
namespace {

// Adds to SUMS[i] the sum of the XBIN values of block i of ROW, summed from
// the left in double. A factor known when compiled lets the loop over the
// blocks run in vector steps (the same additions in the same order).
template <Index kBin>
void add_block_row(const float* row, double* sums, Index nx, Index xbin) {
  const Index bin = kBin > 0 ? kBin : xbin;
  for (Index i = 0; i < nx; ++i) {
    const float* block = row + i * bin;
    double s = 0.0;
    for (Index k = 0; k < bin; ++k) s += block[k];
    sums[i] += s;
  }
}
KESTA_WIDE_VECTORS void add_block_row_by2(const float* row, double* sums, Index nx) {
  add_block_row<2>(row, sums, nx, 2);
}
#if defined(__GNUC__) && defined(__x86_64__)
// Four blocks of four at a time: each block converted to doubles, the four
// turned so that one vector holds the k-th value of every block, then added
// in the order of add_block_row.
__attribute__((target("avx"))) Index add_block_row_by4_wide(const float* row, double* sums,
                                                             Index nx) {
  const __m256d zero = _mm256_setzero_pd();
  Index i = 0;
  for (; i + 4 <= nx; i += 4) {
    const float* p = row + 4 * i;
    const __m256d a = _mm256_cvtps_pd(_mm_loadu_ps(p));
    const __m256d b = _mm256_cvtps_pd(_mm_loadu_ps(p + 4));
    const __m256d c = _mm256_cvtps_pd(_mm_loadu_ps(p + 8));
    const __m256d d = _mm256_cvtps_pd(_mm_loadu_ps(p + 12));
    const __m256d ab_even = _mm256_unpacklo_pd(a, b), ab_odd = _mm256_unpackhi_pd(a, b);
    const __m256d cd_even = _mm256_unpacklo_pd(c, d), cd_odd = _mm256_unpackhi_pd(c, d);
    __m256d s = _mm256_add_pd(zero, _mm256_permute2f128_pd(ab_even, cd_even, 0x20));
    s = _mm256_add_pd(s, _mm256_permute2f128_pd(ab_odd, cd_odd, 0x20));
    s = _mm256_add_pd(s, _mm256_permute2f128_pd(ab_even, cd_even, 0x31));
    s = _mm256_add_pd(s, _mm256_permute2f128_pd(ab_odd, cd_odd, 0x31));
    _mm256_storeu_pd(sums + i, _mm256_add_pd(_mm256_loadu_pd(sums + i), s));
  }
  return i;
}
#endif

void add_block_row_by4(const float* row, double* sums, Index nx) {
  Index i = 0;
#if defined(__GNUC__) && defined(__x86_64__)
  static const bool wide = __builtin_cpu_supports("avx");
  if (wide) i = add_block_row_by4_wide(row, sums, nx);
#endif
  add_block_row<4>(row + 4 * i, sums + i, nx - i, 4);
}
KESTA_WIDE_VECTORS void add_block_row_by8(const float* row, double* sums, Index nx) {
  add_block_row<8>(row, sums, nx, 8);
}

// Sums of the whole XBIN x YBIN blocks of the region, block line by block
// line: CALLBACK(j, sums) receives the NX sums of block line j (0-based).
template <class Callback>
void block_sums(Index xmax, std::span<const float> data, Index xs, Index ys, Index nx, Index ny,
                Index xbin, Index ybin, Callback callback) {
  std::vector<double> sums(static_cast<std::size_t>(nx));
  for (Index j = 0; j < ny; ++j) {
    std::fill(sums.begin(), sums.end(), 0.0);
    for (Index line = ys + j * ybin; line < ys + (j + 1) * ybin; ++line) {
      const float* row = data.data() + element(xs, line, xmax);
      if (xbin == 1) {
        for (Index i = 0; i < nx; ++i) sums[i] += row[i];
      } else if (xbin == 2) {
        add_block_row_by2(row, sums.data(), nx);
      } else if (xbin == 4) {
        add_block_row_by4(row, sums.data(), nx);
      } else if (xbin == 8) {
        add_block_row_by8(row, sums.data(), nx);
      } else {
        add_block_row<0>(row, sums.data(), nx, xbin);
      }
    }
    callback(j, sums);
  }
}

// Turns the NX block sums of block line J into means (SCALE is one over the
// block's size). A block whose sum is not finite holds a pixel that is not
// (a float sum in double cannot overflow): it is summed again over its
// finite pixels alone, so one bad pixel does not spoil its block. A block
// without a finite pixel keeps its plain mean: NaN, or an infinity when it
// holds infinities of one sign only, as the pixel itself would be.
void finite_means(Index xmax, std::span<const float> data, Index xs, Index ys, Index j,
                  Index xbin, Index ybin, double scale, std::vector<double>& sums) {
  for (std::size_t i = 0; i < sums.size(); ++i) {
    if (std::isfinite(sums[i])) {
      sums[i] *= scale;
      continue;
    }
    double s = 0.0;
    Index n = 0;
    const Index x0 = xs + static_cast<Index>(i) * xbin;
    for (Index line = ys + j * ybin; line < ys + (j + 1) * ybin; ++line) {
      const float* row = data.data() + element(x0, line, xmax);
      for (Index k = 0; k < xbin; ++k) {
        const bool finite = std::isfinite(row[k]);
        s += finite ? row[k] : 0.0f;
        n += finite ? 1 : 0;
      }
    }
    sums[i] = n > 0 ? s / static_cast<double>(n) : sums[i] * scale;
  }
}

// The shared body of the block extremes: the checks, then the smallest and
// largest block mean.
void block_extremes(const char* position, Index xmaxdat, Index ymaxdat,
                    std::span<const float> data, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, Index xbin, Index ybin, float& minimum, float& maximum,
                    Status& status) {
  if (st_bad(status, position)) return;
  Status e = region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data.size());
  if (e == 0 && (xbin < 1 || xbin > xendelm - xstrelm + 1)) e = kBaseMath + 17;
  if (e == 0 && (ybin < 1 || ybin > yendelm - ystrelm + 1)) e = kBaseMath + 18;
  if (e != 0) {
    st_fail(status, e, position);
    return;
  }
  const Index nx = (xendelm - xstrelm + 1) / xbin;
  const Index ny = (yendelm - ystrelm + 1) / ybin;
  const double scale = 1.0 / (static_cast<double>(xbin) * static_cast<double>(ybin));
  double lo = kAboveEveryValue;
  double hi = kBelowEveryValue;
  block_sums(xmaxdat, data, xstrelm, ystrelm, nx, ny, xbin, ybin,
             [&](Index j, std::vector<double>& sums) {
               // The means of the blocks' finite pixels, as the binned 3-D
               // view draws them; a block without one has no mean to stretch
               // the range with, as a single such pixel has none.
               finite_means(xmaxdat, data, xstrelm, ystrelm, j, xbin, ybin, scale, sums);
               for (const double m : sums) {
                 if (!std::isfinite(m)) continue;
                 lo = std::min(lo, m);
                 hi = std::max(hi, m);
               }
             });
  float low = static_cast<float>(lo), high = static_cast<float>(hi);
  extremes_found(low, high);
  minimum = low;
  maximum = high;
}

}  // namespace

namespace {

// What a rebinned block holds: the sum, the mean, or the mean of its finite
// pixels.
enum class BlockValue { kSum, kMean, kFiniteMean };

// The body of the block rebinnings: checks, the cleared output, the blocks.
void rebin_blocks(const char* position, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, Index xbin,
                  Index ybin, BlockValue value, Index oxstrelm, Index oystrelm, Index xmaxout,
                  Index ymaxout, std::span<float> output, Index& oxendelm, Index& oyendelm,
                  Status& status) {
  if (st_bad(status, position)) return;
  Status e = region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data.size());
  if (e == 0) e = dimension_error(xmaxout, ymaxout, kBaseMath);
  if (e == 0 && xbin < 1) e = kBaseMath + 17;
  if (e == 0 && ybin < 1) e = kBaseMath + 18;
  if (e != 0) {
    st_fail(status, e, position);
    return;
  }
  const Index nx = (xendelm - xstrelm + 1) / xbin;
  const Index ny = (yendelm - ystrelm + 1) / ybin;
  oxendelm = nx + oxstrelm - 1;
  oyendelm = ny + oystrelm - 1;
  if (oxendelm > xmaxout) e = kBaseMath + 9;
  else if (oyendelm > ymaxout) e = kBaseMath + 10;
  if (e != 0) {
    st_fail(status, e, position);
    return;
  }
  // Clearing the output region also refuses an empty or misplaced one.
  MA_RVALUE(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, 0.0f, output, status);
  if (status != kStatusGood) return;
  const double scale = value == BlockValue::kSum
                           ? 1.0
                           : 1.0 / (static_cast<double>(xbin) * static_cast<double>(ybin));
  block_sums(xmaxdat, data, xstrelm, ystrelm, nx, ny, xbin, ybin,
             [&](Index j, std::vector<double>& sums) {
               float* out = output.data() + element(oxstrelm, oystrelm + j, xmaxout);
               if (value == BlockValue::kFiniteMean) {
                 finite_means(xmaxdat, data, xstrelm, ystrelm, j, xbin, ybin, scale, sums);
                 for (Index i = 0; i < nx; ++i) out[i] = static_cast<float>(sums[i]);
               } else {
                 for (Index i = 0; i < nx; ++i) out[i] = static_cast<float>(sums[i] * scale);
               }
             });
}

}  // namespace

void MA_RREBIN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
               Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin, bool average,
               Index oxstrelm, Index oystrelm, Index xmaxout, Index ymaxout,
               std::span<float> output, Index& oxendelm, Index& oyendelm, Status& status) {
  rebin_blocks("Subroutine MA_RREBIN V0.1", xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm,
               yendelm, xbin, ybin, average ? BlockValue::kMean : BlockValue::kSum, oxstrelm,
               oystrelm, xmaxout, ymaxout, output, oxendelm, oyendelm, status);
}

void ma_finite_block_means(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                           Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, Index xbin,
                           Index ybin, Index xmaxout, Index ymaxout, std::span<float> output,
                           Index& oxendelm, Index& oyendelm, Status& status) {
  rebin_blocks("Subroutine MA_FINITE_BLOCK_MEANS V0.1", xmaxdat, ymaxdat, data, xstrelm, ystrelm,
               xendelm, yendelm, xbin, ybin, BlockValue::kFiniteMean, 1, 1, xmaxout, ymaxout,
               output, oxendelm, oyendelm, status);
}

void MA_REBINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin,
                 float& maximum, Status& status) {
  float minimum = 0.0f;
  block_extremes("Subroutine MA_REBINMAX V0.1", xmaxdat, ymaxdat, data, xstrelm, ystrelm,
                 xendelm, yendelm, xbin, ybin, minimum, maximum, status);
}

void MA_REBINMIN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin,
                 float& minimum, Status& status) {
  float maximum = 0.0f;
  block_extremes("Subroutine MA_REBINMIN V0.1", xmaxdat, ymaxdat, data, xstrelm, ystrelm,
                 xendelm, yendelm, xbin, ybin, minimum, maximum, status);
}

void MA_REBINMINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin,
                    float& minimum, float& maximum, Status& status) {
  block_extremes("Subroutine MA_REBINMINMAX V0.1", xmaxdat, ymaxdat, data, xstrelm, ystrelm,
                 xendelm, yendelm, xbin, ybin, minimum, maximum, status);
}

void MA_RFLIP(bool left_right, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RFLIP V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  const Index width = xendelm - xstrelm + 1;
  if (left_right) {
    for (Index y = ystrelm; y <= yendelm; ++y) {
      float* row = array.data() + element(xstrelm, y, xmaxdat);
      std::reverse(row, row + width);
    }
  } else {
    for (Index lo = ystrelm, hi = yendelm; lo < hi; ++lo, --hi) {
      float* a = array.data() + element(xstrelm, lo, xmaxdat);
      float* b = array.data() + element(xstrelm, hi, xmaxdat);
      std::swap_ranges(a, a + width, b);
    }
  }
}

void MA_RTRANSPOSE(Index xmaxin, Index ymaxin, std::span<const float> in, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, Index xmaxout, Index ymaxout,
                   std::span<float> out, Index& oxstrelm, Index& oystrelm, Index& oxendelm,
                   Index& oyendelm, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RTRANSPOSE V0.1";
  if (st_bad(status, kPosition)) return;
  Status e = region_span_error(xmaxin, ymaxin, xstrelm, ystrelm, xendelm, yendelm, in.size());
  if (e == 0) e = dimension_error(xmaxout, ymaxout, kBaseMath);
  if (e == 0 && (xmaxout < yendelm || ymaxout < xendelm)) e = kBaseMath + 38;
  if (e == 0 && !array_holds(out.size(), xmaxout, ymaxout)) e = kBaseMath + kShortSpan;
  if (e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  // Square tiles keep both the reads and the writes within a few cache lines.
  constexpr Index kTile = 32;
  for (Index y0 = ystrelm; y0 <= yendelm; y0 += kTile) {
    const Index y1 = std::min(yendelm, y0 + kTile - 1);
    for (Index x0 = xstrelm; x0 <= xendelm; x0 += kTile) {
      const Index x1 = std::min(xendelm, x0 + kTile - 1);
      for (Index x = x0; x <= x1; ++x) {
        float* column = out.data() + element(1, x, xmaxout);
        for (Index y = y0; y <= y1; ++y) column[y - 1] = in[element(x, y, xmaxin)];
      }
    }
  }
  oxstrelm = ystrelm;
  oystrelm = xstrelm;
  oxendelm = yendelm;
  oyendelm = xendelm;
}

namespace {

// Shares of input elements START..END along one axis magnified by SCALE about
// CENTRE, limited to output elements OSTART..OEND.
std::vector<resample::Shares> axis_shares(Index start, Index end, double scale, double centre,
                                          Index ostart, Index oend) {
  std::vector<resample::Shares> result;
  result.reserve(static_cast<std::size_t>(end - start + 1));
  for (Index x = start; x <= end; ++x)
    result.push_back(resample::interval_shares((static_cast<double>(x - 1) - centre) * scale + centre,
                                               (static_cast<double>(x) - centre) * scale + centre,
                                               ostart, oend));
  return result;
}

}  // namespace

void MA_RSCALE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
               Index ystrelm, Index xendelm, Index yendelm, float xscale, float yscale,
               float xcentre, float ycentre, Index oxstrelm, Index oystrelm, Index oxendelm,
               Index oyendelm, Index xmaxout, Index ymaxout, std::span<float> output,
               Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RSCALE V0.1";
  if (st_bad(status, kPosition)) return;
  Status e = region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data.size());
  if (e == 0)
    e = region_span_error(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, output.size());
  if (e == 0 && !(xscale >= 1.0e-5f && xscale <= 10.0f)) e = kBaseMath + 21;
  if (e == 0 && !(yscale >= 1.0e-5f && yscale <= 10.0f)) e = kBaseMath + 22;
  if (e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  MA_RVALUE(xmaxout, ymaxout, oxstrelm, oystrelm, oxendelm, oyendelm, 0.0f, output, status);
  if (status != kStatusGood) return;
  const std::vector<resample::Shares> xs = axis_shares(xstrelm, xendelm, xscale, xcentre, oxstrelm, oxendelm);
  const std::vector<resample::Shares> ys = axis_shares(ystrelm, yendelm, yscale, ycentre, oystrelm, oyendelm);
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const resample::Shares& sy = ys[static_cast<std::size_t>(y - ystrelm)];
    const float* in = data.data() + element(1, y, xmaxdat);
    for (std::size_t j = 0; j < sy.weight.size(); ++j) {
      float* out = output.data() + element(1, sy.first + static_cast<Index>(j), xmaxout);
      const double wy = sy.weight[j];
      for (Index x = xstrelm; x <= xendelm; ++x) {
        const resample::Shares& sx = xs[static_cast<std::size_t>(x - xstrelm)];
        const double v = static_cast<double>(in[x - 1]) * wy;
        for (std::size_t i = 0; i < sx.weight.size(); ++i)
          out[sx.first + static_cast<Index>(i) - 1] += static_cast<float>(v * sx.weight[i]);
      }
    }
  }
}

}  // namespace kesta
