// Fast correction through the distortion look-up table: every input pixel's
// value shared over its 3 x 3 output block in the table's byte fractions.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/distortion/correction_common.hpp"
#include "app/distortion/lut.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/parallel.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

// A run of input pixels along one row with the same X and Y shift and an
// ordinary value (below the over-load value and finite); MASK has bit k set
// when some pixel of the run has a non-zero fraction k.
struct Run {
  Index y = 0;
  Index x0 = 0;
  Index x1 = 0;
  Index sx = 0;
  Index sy = 0;
  unsigned mask = 0;
};

// The smallest and largest shifts of the table entries of a region.
struct ShiftRange {
  Index xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};

ShiftRange shift_range(const DistortionTable& table, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm) {
  int xmin = 127, xmax = -128, ymin = 127, ymax = -128;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const Index row = element(xstrelm, y, table.xmaxlut);
    const std::int8_t* xs = table.x_shifts.data() + row;
    const std::int8_t* ys = table.y_shifts.data() + row;
    const Index n = xendelm - xstrelm + 1;
    std::int8_t a = 127, b = -128, c = 127, d = -128;
    for (Index i = 0; i < n; ++i) {
      a = std::min(a, xs[i]);
      b = std::max(b, xs[i]);
      c = std::min(c, ys[i]);
      d = std::max(d, ys[i]);
    }
    xmin = std::min<int>(xmin, a);
    xmax = std::max<int>(xmax, b);
    ymin = std::min<int>(ymin, c);
    ymax = std::max<int>(ymax, d);
  }
  return {xmin, xmax, ymin, ymax};
}

// An over-loaded or non-finite input pixel, applied one by one.
struct Special {
  Index y = 0;
  Index x = 0;
  Index sx = 0;
  Index sy = 0;
};

// Output rows handled by one worker at a time: the runs of the input rows
// reaching them are found once per block.
constexpr Index kBlockRows = 64;
// Below this many input pixels one thread does the whole region.
constexpr Index kThreadedPixels = Index{1} << 18;
// Threads of the kernel (0: one per core).
int fast_threads = 0;

// Every ninth byte from FROM, N of them, into TO. Kept one byte at a time: a
// compiler's vector form of this gather builds each vector in memory and
// reloads it, which stalls on every vector.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
void gather_fraction(const std::uint8_t* from, Index n, std::uint8_t* to) {
  for (Index i = 0; i < n; ++i) to[i] = from[9 * i];
}

class FastKernel {
 public:
  // SHIFTS holds the smallest and largest X and Y shift of the region's
  // table entries: they bound the output cells the region reaches (a block
  // reaches 2 past its corner) and the input rows that reach an output row.
  FastKernel(const DistortionTable& table, const ShiftRange& shifts, float overload_value,
             Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
             const float* data, Index mxstrelm, Index mystrelm, Index mxendelm, Index myendelm,
             float* out)
      : table_(table), overload_(overload_value), xmaxdat_(xmaxdat), xstrelm_(xstrelm),
        ystrelm_(ystrelm), xendelm_(xendelm), yendelm_(yendelm), data_(data), out_(out),
        symin_(shifts.ymin), symax_(shifts.ymax), base_(xstrelm + shifts.xmin),
        width_(xendelm + shifts.xmax + 2 - base_ + 1),
        xlo_(std::max(mxstrelm, xstrelm + shifts.xmin)),
        xhi_(std::min(mxendelm, xendelm + shifts.xmax + 2)),
        ylo_(std::max(mystrelm, ystrelm + shifts.ymin)),
        yhi_(std::min(myendelm, yendelm + shifts.ymax + 2)) {}

  Index first_row() const { return ylo_; }
  Index last_row() const { return yhi_; }
  bool reaches_output() const { return ylo_ <= yhi_ && xlo_ <= xhi_; }

  // Output rows YA..YB, each written once from a sum in double of every
  // contribution it receives, so the result does not depend on how rows are
  // shared between threads.
  void rows(Index ya, Index yb) {
    const Index in_lo = std::max(ystrelm_, ya - symax_ - 2);
    const Index in_hi = std::min(yendelm_, yb - symin_);
    runs_.clear();
    specials_.clear();
    for (Index y = in_lo; y <= in_hi; ++y) find_runs(y);
    // Runs and special pixels listed by the output row of their block's
    // lowest row, Y + SY, so that an output row visits only the three lists
    // that reach it, however far the shifts spread.
    const Index tlo = in_lo + symin_, thi = std::max(in_hi + symax_, tlo - 1);
    by_row(runs_, tlo, thi, run_start_, run_order_);
    by_row(specials_, tlo, thi, special_start_, special_order_);
    acc_.resize(static_cast<std::size_t>(width_));
    for (Index yo = ya; yo <= yb; ++yo) {
      std::fill(acc_.begin(), acc_.end(), 0.0);
      for (Index t = std::max(tlo, yo - 2); t <= std::min(thi, yo); ++t) {
        const auto list = static_cast<std::size_t>(t - tlo);
        for (std::size_t i = run_start_[list]; i < run_start_[list + 1]; ++i)
          add_run(runs_[run_order_[i]], yo);
        for (std::size_t i = special_start_[list]; i < special_start_[list + 1]; ++i)
          add_special(specials_[special_order_[i]], yo);
      }
      float* o = out_ + element(xlo_, yo, xmaxdat_);
      const double* a = acc_.data() + (xlo_ - base_);
      for (Index i = 0; i <= xhi_ - xlo_; ++i) o[i] = static_cast<float>(o[i] + a[i]);
    }
  }

 private:
  // ORDER lists the items by Y + SY from TLO to THI (in their order within
  // each), START(t - TLO) where the items of row t begin.
  template <class Item>
  void by_row(const std::vector<Item>& items, Index tlo, Index thi,
                     std::vector<std::size_t>& start, std::vector<std::size_t>& order) {
    start.assign(static_cast<std::size_t>(thi - tlo + 2), 0);
    for (const Item& item : items) ++start[static_cast<std::size_t>(item.y + item.sy - tlo + 1)];
    for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
    order.resize(items.size());
    cursor_.assign(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < items.size(); ++i)
      order[cursor_[static_cast<std::size_t>(items[i].y + items[i].sy - tlo)]++] = i;
  }

  const float* in_row(Index y) const { return data_ + element(1, y, xmaxdat_); }
  const std::uint8_t* fractions_row(Index y) const {
    return table_.fractions.data() + 9 * element(1, y, table_.xmaxlut);
  }

  // Below the over-load value and finite (false for NaN), in a form the
  // compiler vectorises.
  bool ordinary(float v) const {
    return v < overload_ && std::fabs(v) <= std::numeric_limits<float>::max();
  }

  void find_runs(Index y) {
    const float* in = in_row(y) - 1;
    const Index row = element(1, y, table_.xmaxlut);
    const std::int8_t* xs = table_.x_shifts.data() + row - 1;
    const std::int8_t* ys = table_.y_shifts.data() + row - 1;
    const std::uint8_t* fr = fractions_row(y) - 9;
    Index x = xstrelm_;
    while (x <= xendelm_) {
      const std::int8_t sx = xs[x], sy = ys[x];
      if (!ordinary(in[x])) {
        specials_.push_back({y, x, sx, sy});
        ++x;
        continue;
      }
      const Index x0 = x++;
      // Whole groups of pixels first, tested without an early exit.
      constexpr Index kGroup = 16;
      while (x + kGroup - 1 <= xendelm_ && group_same(xs + x, ys + x, in + x, sx, sy))
        x += kGroup;
      while (x <= xendelm_ && xs[x] == sx && ys[x] == sy && ordinary(in[x])) ++x;
      runs_.push_back({y, x0, x - 1, sx, sy, fraction_mask(fr + 9 * x0, x - x0)});
    }
  }

  // True when the 16 pixels from XS, YS and IN all have shifts SX, SY and
  // ordinary values.
  bool group_same(const std::int8_t* xs, const std::int8_t* ys, const float* in, std::int8_t sx,
                  std::int8_t sy) const {
#if defined(__SSE2__)
    // The same tests sixteen lanes at once: a NaN fails both comparisons.
    const __m128i shifts =
        _mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(xs)),
                                     _mm_set1_epi8(sx)),
                      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ys)),
                                     _mm_set1_epi8(sy)));
    const __m128 over = _mm_set1_ps(overload_);
    const __m128 largest = _mm_set1_ps(std::numeric_limits<float>::max());
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128i quarter[4];
    for (int q = 0; q < 4; ++q) {
      const __m128 v = _mm_loadu_ps(in + 4 * q);
      quarter[q] = _mm_castps_si128(
          _mm_and_ps(_mm_cmplt_ps(v, over), _mm_cmple_ps(_mm_and_ps(v, magnitude), largest)));
    }
    const __m128i values = _mm_packs_epi16(_mm_packs_epi32(quarter[0], quarter[1]),
                                           _mm_packs_epi32(quarter[2], quarter[3]));
    return _mm_movemask_epi8(_mm_and_si128(shifts, values)) == 0xFFFF;
#else
    bool same = true;
    for (Index i = 0; i < 16; ++i) same &= (xs[i] == sx) & (ys[i] == sy) & ordinary(in[i]);
    return same;
#endif
  }

  // Bit k set when fraction k of any of the N pixels from FR is non-zero:
  // sixteen pixels' 144 bytes are nine vectors (eight pixels' 72 bytes nine
  // words), each byte of one a fixed k.
  static unsigned fraction_mask(const std::uint8_t* fr, Index n) {
    unsigned mask = 0;
    Index i = 0;
#if defined(__SSE2__)
    if (n >= 16) {
      __m128i any[9];
      for (auto& a : any) a = _mm_setzero_si128();
      for (; i + 16 <= n; i += 16)
        for (int j = 0; j < 9; ++j)
          any[j] = _mm_or_si128(
              any[j], _mm_loadu_si128(reinterpret_cast<const __m128i*>(fr + 9 * i + 16 * j)));
      for (int j = 0; j < 9; ++j) {
        const unsigned nonzero =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(any[j], _mm_setzero_si128()))) &
            0xFFFFu;
        for (int b = 0; b < 16; ++b)
          if (nonzero >> b & 1u) mask |= 1u << ((16 * j + b) % 9);
      }
    }
#endif
    std::uint64_t words[9] = {};
    for (; i + 8 <= n; i += 8)
      for (int j = 0; j < 9; ++j) {
        std::uint64_t w = 0;
        std::memcpy(&w, fr + 9 * i + 8 * j, 8);
        words[j] |= w;
      }
    for (int j = 0; j < 9; ++j)
      for (int b = 0; b < 8; ++b)
        if ((words[j] >> (8 * b)) & 0xFF) mask |= 1u << ((8 * j + b) % 9);
    for (Index p = 9 * i; p < 9 * n; ++p)
      if (fr[p] != 0) mask |= 1u << (p % 9);
    return mask;
  }

  // Block row YO - Y - SY of every pixel of the run into the sums.
  void add_run(const Run& run, Index yo) {
    const Index y = run.y;
    const Index r = yo - y - run.sy;
    if (r < 0 || r > 2) return;
    const float* in = in_row(y) + (run.x0 - 1);
    const std::uint8_t* fr = fractions_row(y) + 9 * (run.x0 - 1);
    const Index n = run.x1 - run.x0 + 1;
    if (plane_.size() < static_cast<std::size_t>(n)) plane_.resize(static_cast<std::size_t>(n));
    std::uint8_t* __restrict plane = plane_.data();
    for (Index c = 0; c < 3; ++c) {
      const Index k = 3 * r + c;
      if ((run.mask >> k & 1u) == 0) continue;
      // Fraction k of the run's pixels gathered first into one contiguous
      // line (bytes nine apart do not load as vectors), so the sum vectorises.
      gather_fraction(fr + k, n, plane);
      double* __restrict a = acc_.data() + (run.x0 + run.sx + c - base_);
      for (Index i = 0; i < n; ++i) a[i] += static_cast<double>(in[i]) * plane[i];
    }
  }

  // An over-loaded (or NaN) value adds 255 x v to each cell of non-zero
  // fraction, so that it stays over-loaded after the scaling by 1/255.
  void add_special(const Special& s, Index yo) {
    const Index y = s.y;
    const Index r = yo - y - s.sy;
    if (r < 0 || r > 2) return;
    const float v = in_row(y)[s.x - 1];
    const bool normal = v < overload_;
    const std::uint8_t* w = fractions_row(y) + 9 * (s.x - 1) + 3 * r;
    double* a = acc_.data() + (s.x + s.sx - base_);
    for (Index c = 0; c < 3; ++c)
      if (w[c] != 0)
        a[c] += normal ? static_cast<double>(v) * w[c] : 255.0 * static_cast<double>(v);
  }

  const DistortionTable& table_;
  const float overload_;
  const Index xmaxdat_, xstrelm_, ystrelm_, xendelm_, yendelm_;
  const float* const data_;
  float* const out_;
  const Index symin_, symax_, base_, width_, xlo_, xhi_, ylo_, yhi_;
  std::vector<Run> runs_;
  std::vector<Special> specials_;
  std::vector<std::size_t> run_start_, special_start_, run_order_, special_order_;
  std::vector<std::size_t> cursor_;
  std::vector<double> acc_;
  std::vector<std::uint8_t> plane_;
};

}  // namespace

void kzt_set_fast_threads(int threads) { fast_threads = std::max(threads, 0); }

void KZT_CORR_FASTC(const DistortionTable& table, float overload_value, Index xmaxdat,
                    Index /*ymaxdat*/, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, Index mxstrelm, Index mystrelm, Index mxendelm,
                    Index myendelm, std::span<float> mdata) {
  if (xstrelm > xendelm || ystrelm > yendelm) return;
  const ShiftRange shifts = shift_range(table, xstrelm, ystrelm, xendelm, yendelm);
  const FastKernel shared(table, shifts, overload_value, xmaxdat, xstrelm, ystrelm, xendelm,
                          yendelm, data.data(), mxstrelm, mystrelm, mxendelm, myendelm,
                          mdata.data());
  if (!shared.reaches_output()) return;
  const Index first = shared.first_row(), last = shared.last_row();
  const Index blocks = (last - first + kBlockRows) / kBlockRows;
  const Index pixels = (xendelm - xstrelm + 1) * (yendelm - ystrelm + 1);
  const Index cores = fast_threads > 0 ? fast_threads : processor_count();
  const Index threads = pixels < kThreadedPixels ? 1 : std::min<Index>(blocks, cores);
  std::atomic<Index> next{0};
  auto work = [&] {
    FastKernel kernel = shared;
    for (Index b = next++; b < blocks; b = next++)
      kernel.rows(first + b * kBlockRows, std::min(last, first + (b + 1) * kBlockRows - 1));
  };
  run_parts(threads, [&](Index) { work(); });
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
