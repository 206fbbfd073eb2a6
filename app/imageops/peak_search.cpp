#include "app/imageops/peak_search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "numeric/filters.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {
namespace {

constexpr std::uint8_t kBackground = 0;
constexpr std::uint8_t kCandidate = 1;
constexpr std::uint8_t kExcluded = 2;

// Background level and spread from a count, a sum and a sum of squares; the
// spread is 0 for fewer than two pixels or a negative rounding remainder
// (the sum of squares less n times the mean squared, kept for the caller).
struct Level {
  double mean = 0.0;
  double sd = 0.0;
  double remainder = 0.0;
};
Level level_of(Index n, double sum, double sum2) {
  Level l;
  if (n < 1) return l;
  l.mean = sum / static_cast<double>(n);
  l.remainder = sum2 - static_cast<double>(n) * l.mean * l.mean;
  if (n >= 2 && l.remainder > 0.0) l.sd = std::sqrt(l.remainder / static_cast<double>(n - 1));
  return l;
}

// A column step whose background sums leave a negative remainder (rounding
// on a nearly flat background) keeps the thresholds it had; the sums are
// reported straight to the terminal.
void report_negative_remainder(double sum, double sum2, Index n) {
  const Level l = level_of(n, sum, sum2);
  Status local = kStatusGood;
  IO_WRITE_FILE(kStreamTerminal, "PANIC: SQRT OF NEGATIVE TO CALCULATE SIGMA !", local);
  IO_WRITE_FILE(kStreamTerminal,
                "sum, sum_squared, term num_pixels = " + format_e(sum, 14, 5, 1) +
                    format_e(sum2, 14, 5, 1) + format_e(l.remainder, 14, 5, 1) + format_i(n, 6),
                local);
}

// The plain levels of a strip's columns FIRST to END - 1 from their window
// counts and sums: the operations of level_of and of the level's threshold
// and bad level, whether it is reliable (its step then keeps the thresholds
// before it when the remainder is negative), and whether the next column's
// unmasked values all lie within it (so that the next column keeps its
// unmasked sums; never after a negative remainder, whose thresholds are not
// its own).
constexpr double kUnreliable = 0.0;
constexpr double kReliable = 1.0;
constexpr double kNegativeRemainder = 2.0;  // reliable, thresholds kept
struct PlainLevels {
  double* reliable;  // one of the three above
  double* mean;
  double* threshold;
  double* bad;
  double* keeps_next;  // 1.0 or 0.0, for the column after
};

// Without branches and with the counts in double (exact), so that the
// divisions and square roots run in vector steps (see
// app/imageops/CMakeLists.txt for the square root).
KESTA_WIDE_VECTORS
void plain_levels_of(std::size_t first, std::size_t end, const double* __restrict count,
                     const double* __restrict sum, const double* __restrict sum2,
                     const float* __restrict lowest, const float* __restrict highest,
                     const PeakSearchParameters& p, const PlainLevels& out) {
  const double peak_sigma = p.peak_sigma, bad_sigma = p.bad_sigma;
  const auto min_background = static_cast<double>(p.min_background);
  const double minimum = p.data_minimum;
  double* __restrict reliable = out.reliable;
  double* __restrict mean = out.mean;
  double* __restrict threshold = out.threshold;
  double* __restrict bad = out.bad;
  double* __restrict keeps_next = out.keeps_next;
  for (std::size_t c = first; c < end; ++c) {
    const double n = count[c];
    // Worked out for every column and then chosen: a quotient by zero or a
    // root of a negative value is never chosen.
    const double quotient = sum[c] / n;
    const double m = n >= 1.0 ? quotient : 0.0;
    const double spread = sum2[c] - n * m * m;
    const double root = std::sqrt(spread / (n - 1.0));
    const double sd = n >= 2.0 && spread > 0.0 ? root : 0.0;
    const double t = m + peak_sigma * sd;
    const double b = m - bad_sigma * sd;
    // The counts are far below 2^53: the comparison in double is exact.
    const bool is_reliable = n > min_background;
    const double high = is_reliable ? t : std::numeric_limits<double>::infinity();
    const double low = is_reliable ? b : minimum;
    // (Added rather than chosen, so that the loop still runs in vector steps.)
    const double reliable_flag = is_reliable ? kReliable : kUnreliable;
    const double is_negative = spread < 0.0 ? reliable_flag : 0.0;
    reliable[c] = reliable_flag + is_negative;
    mean[c] = m;
    threshold[c] = t;
    bad[c] = b;
    keeps_next[c + 1] =
        double{lowest[c + 1]} >= low && double{highest[c + 1]} <= high ? 1.0 - is_negative : 0.0;
  }
}

// Four floats or four doubles in one register (the compiler's vector
// extension): the column sums below keep their accumulators in registers
// across the strip's rows, which the compiler does not do by itself.
using Floats4 = float __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));
template <typename V, typename T>
void load(V& v, const T* p) {
  std::memcpy(&v, p, sizeof v);
}
template <typename V, typename T>
void store(T* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// Per column of ROWS rows from FIRST (rows STRIDE apart), WIDTH columns: the
// sum and sum of squares of the values in double, added in row order from
// zero, and the extremes. Eight columns at a time, each column's chain of
// additions the same as a walk down it.
KESTA_WIDE_VECTORS
void column_sums(const float* first, std::size_t stride, std::size_t rows, std::size_t width,
                 double* __restrict sum, double* __restrict sum2, float* __restrict lowest,
                 float* __restrict highest) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  std::size_t c = 0;
  for (; c + 8 <= width; c += 8) {
    Doubles4 s0{}, s1{}, q0{}, q1{};
    Floats4 lo0{kInf, kInf, kInf, kInf}, lo1 = lo0, hi0 = -lo0, hi1 = -lo0;
    for (std::size_t r = 0; r < rows; ++r) {
      const float* row = first + r * stride + c;
      Floats4 a, b;
      load(a, row);
      load(b, row + 4);
      // Element by element: the compiler then converts in one step.
      const Doubles4 da{a[0], a[1], a[2], a[3]};
      const Doubles4 db{b[0], b[1], b[2], b[3]};
      s0 += da;
      q0 += da * da;
      s1 += db;
      q1 += db * db;
      lo0 = a < lo0 ? a : lo0;
      lo1 = b < lo1 ? b : lo1;
      hi0 = a > hi0 ? a : hi0;
      hi1 = b > hi1 ? b : hi1;
    }
    store(sum + c, s0);
    store(sum + c + 4, s1);
    store(sum2 + c, q0);
    store(sum2 + c + 4, q1);
    store(lowest + c, lo0);
    store(lowest + c + 4, lo1);
    store(highest + c, hi0);
    store(highest + c + 4, hi1);
  }
  for (; c < width; ++c) {
    double s = 0.0, q = 0.0;
    float lo = kInf, hi = -kInf;
    for (std::size_t r = 0; r < rows; ++r) {
      const float v = first[r * stride + c];
      const double b = v;
      s += b;
      q += b * b;
      lo = v < lo ? v : lo;
      hi = v > hi ? v : hi;
    }
    sum[c] = s;
    sum2[c] = q;
    lowest[c] = lo;
    highest[c] = hi;
  }
}

// For columns FIRST to END - 1 the counts and sums of the BOX columns ending
// at each, added in column order from zero, four columns at a time.
KESTA_WIDE_VECTORS
void window_sums(std::size_t first, std::size_t end, std::size_t box, const double* count,
                 const double* sum, const double* sum2, double* __restrict window_count,
                 double* __restrict window, double* __restrict window2) {
  std::size_t c = first;
  for (; c + 4 <= end; c += 4) {
    Doubles4 n{}, s{}, q{};
    for (std::size_t k = c + 1 - box; k <= c; ++k) {
      Doubles4 a, b, e;
      load(a, count + k);
      load(b, sum + k);
      load(e, sum2 + k);
      n += a;
      s += b;
      q += e;
    }
    store(window_count + c, n);
    store(window + c, s);
    store(window2 + c, q);
  }
  for (; c < end; ++c) {
    double n = 0.0, s = 0.0, q = 0.0;
    for (std::size_t k = c + 1 - box; k <= c; ++k) {
      n += count[k];
      s += sum[k];
      q += sum2[k];
    }
    window_count[c] = n;
    window[c] = s;
    window2[c] = q;
  }
}

// Copies N floats from IN to OUT past the caches: the copy is not read back
// here (the search reads the data itself), and the data keeps the cache.
void stream_copy(const float* in, float* out, std::size_t n) {
  std::size_t k = 0;
#if defined(__SSE2__)
  for (; k < n && reinterpret_cast<std::uintptr_t>(out + k) % 16 != 0; ++k) out[k] = in[k];
  for (; k + 4 <= n; k += 4) _mm_stream_ps(out + k, _mm_loadu_ps(in + k));
#endif
  for (; k < n; ++k) out[k] = in[k];
}

// One strip of rows R0..R1 across the region, its class bytes and the
// per-column background sums.
class Strip {
 public:
  Strip(const PeakSearchParameters& p, Index xmaxdat, std::span<const float> data,
        std::span<const std::uint8_t> mask, std::span<const float> work, Index xs, Index xe,
        Index max_height)
      : p_(p),
        xmaxdat_(xmaxdat),
        data_(data),
        mask_(mask),
        work_(work),
        xs_(xs),
        xe_(xe),
        width_(xe - xs + 1),
        height_(max_height),
        classes_(static_cast<std::size_t>(width_ * max_height)),
        count_(static_cast<std::size_t>(width_)),
        sum_(static_cast<std::size_t>(width_)),
        sum2_(static_cast<std::size_t>(width_)),
        count_real_(sum_.size()),
        lowest_(sum_.size() + 1),
        highest_(sum_.size() + 1),
        window_count_(sum_.size()),
        window_sum_(sum_.size()),
        window_sum2_(sum_.size()),
        plain_reliable_(sum_.size()),
        plain_mean_(sum_.size()),
        plain_threshold_(sum_.size()),
        plain_bad_(sum_.size()),
        keeps_next_(sum_.size() + 1) {
    candidate_columns_.reserve(sum_.size());
  }

  // KZT_PEAKSTRIP: the background of rows R0..R1, then the peaks of the
  // search rows S0..S1, compared for spacing with the peaks from FIRST on.
  void search(Index r0, Index r1, Index s0, Index s1, Index first, PeakList& peaks);
  void region_rows(Index ys, Index ye) {
    ys_ = ys;
    ye_ = ye;
  }
  // Whether the last strip's unmasked pixels held one that is not a finite
  // number (its whole column's sum was then not finite).
  bool saw_non_finite() const { return non_finite_; }
  // The search's mask leaves pixels out (masked off, or not finite numbers).
  void set_has_gaps() { has_gaps_ = true; }

 private:
  // The strip's classes are held column after column, so that each column's
  // classes are contiguous bytes; the smoothed values and the mask are read
  // in place (most columns are never walked down, see column_step).
  std::size_t at(Index i, Index j) const {
    return static_cast<std::size_t>((i - xs_) * height_ + (j - r0_));
  }
  std::uint8_t& cls(Index i, Index j) { return classes_[at(i, j)]; }
  std::size_t image_at(Index i, Index j) const {
    return static_cast<std::size_t>(element(i, j, xmaxdat_));
  }
  float w(Index i, Index j) const { return work_[image_at(i, j)]; }
  float d(Index i, Index j) const { return data_[image_at(i, j)]; }
  bool masked(Index i, Index j) const { return p_.use_mask && mask_[image_at(i, j)] != 0; }
  // Whether the smoothed value at (I, J) is at least (or above) V and takes
  // part in the comparisons: neither masked nor a value that is not a finite
  // number. (The comparison first: it rarely holds.)
  bool known_at_least(Index i, Index j, float v) const {
    const float x = w(i, j);
    return x >= v && std::isfinite(x) && !masked(i, j);
  }
  bool known_above(Index i, Index j, float v) const {
    const float x = w(i, j);
    return x > v && std::isfinite(x) && !masked(i, j);
  }
  void load(Index r0, Index r1);
  void first_background_sums(Index columns, Index& n, double& sum, double& sum2);
  void initial_background();
  void column_step(Index i);
  Index plain_run(Index i);
  void add_column_sums(Index i);
  void whole_column_sums();
  void plain_levels();
  bool is_peak(Index i, Index j, Index first, const PeakList& peaks);
  void integrate(Index i, Index j, float& intensity, float& sigma, float& x, float& y);
  void spot_basins(Index i, Index j);
  Level background_near(Index i, Index& n) const;
  bool of_spot(Index col, Index row) const;
  bool of_second_spot(Index col, Index row) const;

  const PeakSearchParameters& p_;
  Index xmaxdat_;
  std::span<const float> data_;
  std::span<const std::uint8_t> mask_;
  std::span<const float> work_;
  Index xs_, xe_, width_, height_;
  Index r0_ = 0, r1_ = 0;
  // A column without a candidate holds none in its class bytes: only the
  // columns walked down write theirs, the others keep background (and the
  // classes are only ever asked whether a pixel is a candidate).
  std::vector<std::uint8_t> classes_;
  // Per column its background count and sums; before the column's step, the
  // count (also in double) and sums of all its unmasked pixels (what they
  // stay when none is left out or a candidate), and the extremes of its
  // unmasked values (one column more, unused, for the test below).
  std::vector<Index> count_;
  std::vector<double> sum_, sum2_, count_real_;
  std::vector<float> lowest_, highest_;
  // Per column, the level its step sets when none of the last BOX SIZE
  // columns has a pixel left out or a candidate (their sums are then the
  // unmasked ones), worked out beforehand, free of the chain from column to
  // column; LAST_CHANGED_ is the last column whose sums differ.
  std::vector<double> window_count_, window_sum_, window_sum2_;
  std::vector<double> plain_reliable_, plain_mean_, plain_threshold_, plain_bad_, keeps_next_;
  Index last_changed_ = 0;
  std::vector<std::size_t> rows_;  // the element of each strip row's first column
  std::vector<Index> row_start_, next_, candidates_;  // candidates by search row
  std::vector<std::size_t> candidate_columns_;        // in order, from the strip's start
  bool reliable_ = false;
  double mean_ = 0.0, threshold_ = 0.0, bad_ = 0.0;
  // The integration box's pixels' maxima (as strip elements, row after row
  // from the strip's first), the path of one climb, and the other maxima
  // taken into the last peak with their candidates.
  std::vector<std::size_t> tops_, path_;
  Index c0_ = 0, c1_ = -1, b0_ = 0, b1_ = -1;  // the box of TOPS_
  // The region's rows: a spot near a strip's edge reaches past it.
  Index ys_ = 1, ye_ = 0;
  // The peak pixel of each peak listed: the spacing between peaks is that
  // of their maxima, as a second spot's maximum is judged for merging.
  std::vector<std::pair<Index, Index>> peak_pixels_;
  double local_threshold_ = 0.0;  // for pixels past the strip's rows
  bool candidate(Index col, Index row) const;
  struct Top {
    std::size_t top;
    bool ours;         // the spot's
    Index candidates;  // in the box
  };
  std::vector<Top> near_;
  std::vector<std::size_t> second_;
  bool merged_ = false;
  float merged_x_ = 0.0f, merged_y_ = 0.0f;
  bool non_finite_ = false;
  bool has_gaps_ = false;

 public:
  // The peaks (by index) that took in a second spot's maximum, too near to
  // be a peak of its own, with where that maximum lies.
  struct Merge {
    Index peak;
    float x, y;
  };
  std::vector<Merge> merges;
};

// The count and sums of the background pixels of the strip's first COLUMNS
// columns.
void Strip::first_background_sums(Index columns, Index& n, double& sum, double& sum2) {
  n = 0;
  sum = sum2 = 0.0;
  for (Index j = r0_; j <= r1_; ++j)
    for (Index i = xs_; i < xs_ + columns; ++i)
      if (cls(i, j) == kBackground) {
        const double v = w(i, j);
        ++n;
        sum += v;
        sum2 += v * v;
      }
}

void Strip::initial_background() {
  const Index columns = std::min(width_, p_.box_size);
  for (Index j = r0_; j <= r1_; ++j)
    for (Index i = xs_; i < xs_ + columns; ++i)
      cls(i, j) = masked(i, j) || w(i, j) < p_.data_minimum ? kExcluded : kBackground;
  Index n = 0;
  double sum = 0.0, sum2 = 0.0;
  first_background_sums(columns, n, sum, sum2);
  reliable_ = false;
  mean_ = 0.0;
  if (n > p_.min_background) {
    reliable_ = true;
    Level l = level_of(n, sum, sum2);
    threshold_ = l.mean + p_.peak_sigma * l.sd;
    double previous = -1.0e7;
    // Candidates leave the sums until the threshold settles.
    while (std::fabs(threshold_ - previous) >
           std::sqrt(std::max(l.mean, 0.0) / static_cast<double>(p_.blur_size))) {
      for (Index j = r0_; j <= r1_; ++j)
        for (Index i = xs_; i < xs_ + columns; ++i)
          if (cls(i, j) == kBackground && w(i, j) > threshold_) cls(i, j) = kCandidate;
      // Summed again from the pixels left, not less the candidates: a hot
      // pixel's square (1e24 for 1e12) would swallow the background's sums.
      first_background_sums(columns, n, sum, sum2);
      previous = threshold_;
      if (n <= p_.min_background) {
        reliable_ = false;
        break;
      }
      l = level_of(n, sum, sum2);
      threshold_ = l.mean + p_.peak_sigma * l.sd;
    }
    mean_ = l.mean;
    if (reliable_) {
      bad_ = l.mean - p_.bad_sigma * l.sd;
      for (Index j = r0_; j <= r1_; ++j)
        for (Index i = xs_; i < xs_ + columns; ++i)
          if (cls(i, j) == kBackground && w(i, j) < bad_) cls(i, j) = kExcluded;
    }
  }
  last_changed_ = xs_ - p_.box_size;
  for (Index i = xs_; i < xs_ + columns; ++i) add_column_sums(i);
}

void Strip::add_column_sums(Index i) {
  const std::size_t c = static_cast<std::size_t>(i - xs_);
  Index n = 0;
  double sum = 0.0, sum2 = 0.0;
  for (Index j = r0_; j <= r1_; ++j)
    if (cls(i, j) == kBackground) {
      const double v = w(i, j);
      ++n;
      sum += v;
      sum2 += v * v;
    }
  // The background pixels are a subset of the unmasked ones: the same count
  // means the same pixels, summed in the same order.
  if (n != count_[c]) last_changed_ = i;
  count_[c] = n;
  sum_[c] = sum;
  sum2_[c] = sum2;
}

void Strip::whole_column_sums() {
  const auto width = static_cast<std::size_t>(width_);
  if (!p_.use_mask) {
    column_sums(work_.data() + rows_.front(), static_cast<std::size_t>(xmaxdat_), rows_.size(),
                width, sum_.data(), sum2_.data(), lowest_.data(), highest_.data());
    std::fill(count_.begin(), count_.end(), std::ssize(rows_));
    std::fill(count_real_.begin(), count_real_.end(), static_cast<double>(rows_.size()));
    return;
  }
  // Row after row across the strip, so the loop runs in vector steps; each
  // column's chain of additions keeps the order of the walk down it.
  std::fill(count_.begin(), count_.end(), 0);
  std::fill(sum_.begin(), sum_.end(), 0.0);
  std::fill(sum2_.begin(), sum2_.end(), 0.0);
  std::fill(lowest_.begin(), lowest_.end(), std::numeric_limits<float>::infinity());
  std::fill(highest_.begin(), highest_.end(), -std::numeric_limits<float>::infinity());
  // No pointer here aliases another (told to the compiler, which otherwise
  // leaves the loops scalar).
  Index* __restrict count = count_.data();
  double* __restrict sum = sum_.data();
  double* __restrict sum2 = sum2_.data();
  float* __restrict lowest = lowest_.data();
  float* __restrict highest = highest_.data();
  for (const std::size_t first : rows_) {
    const float* __restrict row = work_.data() + first;
    const std::uint8_t* __restrict mask = mask_.data() + first;
    for (std::size_t i = 0; i < width; ++i) {
      const bool in = mask[i] == 0;
      const float v = row[i];
      const double b = in ? double{v} : 0.0;
      count[i] += in;
      sum[i] += b;
      sum2[i] += b * b;
      lowest[i] = in && v < lowest[i] ? v : lowest[i];
      highest[i] = in && v > highest[i] ? v : highest[i];
    }
  }
  std::copy(count_.begin(), count_.end(), count_real_.begin());
}

void Strip::plain_levels() {
  // The box sums of column step I in the same order (columns I - BOX SIZE + 1
  // to I, from a zero start), each window by itself so the additions no
  // longer wait on one another.
  const auto width = static_cast<std::size_t>(width_);
  const auto box = static_cast<std::size_t>(p_.box_size);
  if (box >= width) return;
  window_sums(box, width, box, count_real_.data(), sum_.data(), sum2_.data(),
              window_count_.data(), window_sum_.data(), window_sum2_.data());
  plain_levels_of(box, width, window_count_.data(), window_sum_.data(), window_sum2_.data(),
                  lowest_.data(), highest_.data(), p_,
                  {plain_reliable_.data(), plain_mean_.data(), plain_threshold_.data(),
                   plain_bad_.data(), keeps_next_.data()});
}

void Strip::column_step(Index i) {
  // Classification and the column's background sums in one walk down the
  // column.
  const std::size_t column_index = static_cast<std::size_t>(i - xs_);
  // Without a reliable level nothing is a candidate and only values below the
  // data minimum are left out; the tests are the same for every pixel of the
  // column, so the walk has no branches. Adding 0.0 for the other pixels
  // leaves the sums exactly as they were.
  const double high = reliable_ ? threshold_ : std::numeric_limits<double>::infinity();
  const double low = reliable_ ? bad_ : double{p_.data_minimum};
  // When every unmasked pixel is background, the sums worked out beforehand
  // are the walk's own, and the level no longer waits for a chain of
  // additions.
  if (double{lowest_[column_index]} < low || double{highest_[column_index]} > high) {
    Index column_count = 0;
    double column_sum = 0.0, column_sum2 = 0.0;
    const auto stride = static_cast<std::size_t>(xmaxdat_);
    const float* column = &work_[image_at(i, r0_)];
    std::uint8_t* classes = &cls(i, r0_);
    const std::uint8_t* mask = p_.use_mask ? &mask_[image_at(i, r0_)] : nullptr;
    const Index h = r1_ - r0_ + 1;
    int candidates = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(h); ++j) {
      const double v = column[j * stride];
      const bool is_masked = mask != nullptr && mask[j * stride] != 0;
      const bool out = is_masked || v < low;
      const bool candidate = !is_masked && v > high;
      const std::uint8_t k = candidate ? kCandidate : out ? kExcluded : kBackground;
      classes[j] = k;
      candidates |= candidate;
      const bool background = k == kBackground;
      const double b = background ? v : 0.0;
      column_count += background;
      column_sum += b;
      column_sum2 += b * b;
    }
    if (candidates != 0) candidate_columns_.push_back(column_index);
    // The background pixels are a subset of the unmasked ones: the same
    // count means the same pixels, summed in the same order.
    if (column_count != count_[column_index]) last_changed_ = i;
    count_[column_index] = column_count;
    sum_[column_index] = column_sum;
    sum2_[column_index] = column_sum2;
  }
  if (i - last_changed_ >= p_.box_size) {
    if (plain_reliable_[column_index] == kNegativeRemainder) {
      mean_ = plain_mean_[column_index];
      report_negative_remainder(window_sum_[column_index], window_sum2_[column_index],
                                static_cast<Index>(window_count_[column_index]));
      return;
    }
    reliable_ = plain_reliable_[column_index] != kUnreliable;
    if (reliable_) {
      mean_ = plain_mean_[column_index];
      threshold_ = plain_threshold_[column_index];
      bad_ = plain_bad_[column_index];
    }
    return;
  }
  // The background of the last BOX SIZE columns.
  Index n = 0;
  double sum = 0.0, sum2 = 0.0;
  for (Index k = std::max(xs_, i - p_.box_size + 1); k <= i; ++k) {
    const std::size_t c = static_cast<std::size_t>(k - xs_);
    n += count_[c];
    sum += sum_[c];
    sum2 += sum2_[c];
  }
  if (n <= p_.min_background) {
    reliable_ = false;
    return;
  }
  const Level l = level_of(n, sum, sum2);
  mean_ = l.mean;
  if (l.remainder < 0.0) {
    report_negative_remainder(sum, sum2, n);
    return;
  }
  threshold_ = l.mean + p_.peak_sigma * l.sd;
  bad_ = l.mean - p_.bad_sigma * l.sd;
  reliable_ = true;
}

Index Strip::plain_run(Index i) {
  // Column I took its plain level: the columns after it that keep their
  // unmasked sums take theirs in turn, and only the last level stands (the
  // mean of an unreliable one is the last reliable mean).
  const auto start = static_cast<std::size_t>(i - xs_ + 1);
  const auto width = static_cast<std::size_t>(width_);
  // A column whose remainder is negative takes a step of its own.
  std::size_t c = start;
  while (c < width && keeps_next_[c] != 0.0 && plain_reliable_[c] != kNegativeRemainder) ++c;
  if (c == start) return i + 1;
  reliable_ = plain_reliable_[c - 1] != kUnreliable;
  for (std::size_t k = c; k-- > start;)
    if (plain_reliable_[k] != kUnreliable) {
      mean_ = plain_mean_[k];
      threshold_ = plain_threshold_[k];
      bad_ = plain_bad_[k];
      break;
    }
  return xs_ + static_cast<Index>(c);
}

bool Strip::is_peak(Index i, Index j, Index first, const PeakList& peaks) {
  const float v = w(i, j);
  // A pixel left out of the search (masked, or not a finite number) neither
  // beats nor ties the maximum beside it.
  const auto ties_or_beats = [&](Index col, Index row) { return known_at_least(col, row, v); };
  if (ties_or_beats(i + 1, j) || ties_or_beats(i + 2, j)) return false;
  for (Index row = j + 1; row <= j + 2; ++row)
    for (Index col = i - 1; col <= i + 2; ++col)
      if (ties_or_beats(col, row)) return false;
  // Nor may a pixel before it in the scan be higher: where the maximum of a
  // spot was refused (too near a peak found before it), a pixel on the
  // spot's far flank still beats every pixel after it, and would be taken
  // for a peak where there is none.
  const auto beats = [&](Index col, Index row) { return known_above(col, row, v); };
  if (beats(i - 1, j) || beats(i - 1, j - 1) || beats(i, j - 1) || beats(i + 1, j - 1))
    return false;
  // Beside a gap (pixels masked or not finite numbers) only the pixels known
  // can be candidates: the least number asked for is taken in proportion.
  Index candidates = 0, seen = 25;
  for (Index row = j - 2; row <= j + 2; ++row)
    for (Index col = i - 2; col <= i + 2; ++col) candidates += cls(col, row) == kCandidate;
  if (has_gaps_) {
    for (Index row = j - 2; row <= j + 2; ++row)
      for (Index col = i - 2; col <= i + 2; ++col)
        seen -= masked(col, row) || !std::isfinite(d(col, row)) ? 1 : 0;
  }
  // Where fewer than 9 are known (scattered dead pixels), too little is seen
  // to tell a spot from noise: the number asked is not lowered further.
  if (candidates * 25 < p_.num_pixels * std::max<Index>(seen, 9)) return false;
  // The spacing is that of the maxima (a centroid moves with the spot's
  // shape): what is nearer a listed peak's maximum is that peak's, and was
  // integrated with it as its second spot.
  const double spacing2 = static_cast<double>(p_.min_spacing) * static_cast<double>(p_.min_spacing);
  for (Index k = first; k < peaks.num_peaks && k < std::ssize(peak_pixels_); ++k) {
    const double dx = static_cast<double>(i - peak_pixels_[static_cast<std::size_t>(k)].first);
    const double dy = static_cast<double>(j - peak_pixels_[static_cast<std::size_t>(k)].second);
    if (dx * dx + dy * dy < spacing2) return false;
  }
  return true;
}

// The background of the strip's columns within half a box of column I: its
// pixel count N and level.
Level Strip::background_near(Index i, Index& n) const {
  const Index half = p_.box_size / 2;
  n = 0;
  double sum = 0.0, sum2 = 0.0;
  for (Index k = std::max(xs_, i - half); k <= std::min(xe_, i + half); ++k) {
    const std::size_t c = static_cast<std::size_t>(k - xs_);
    n += count_[c];
    sum += sum_[c];
    sum2 += sum2_[c];
  }
  return level_of(n, sum, sum2);
}

void Strip::integrate(Index i, Index j, float& intensity, float& sigma, float& x, float& y) {
  const Index half = p_.box_size / 2;
  Index n = 0;
  const Level l = background_near(i, n);
  // Without background pixels near the peak the strip's level stands, with
  // no error of its own.
  double m = mean_;
  double error = 0.0;
  if (n > 0) {
    m = l.mean;
    if (n > p_.min_background && l.sd > 0.0)
      error = static_cast<double>(p_.blur_size * p_.blur_size) * l.sd /
              std::sqrt(static_cast<double>(n));
  }
  // Only the pixels of this spot count (see spot_basins): a neighbour's
  // counts would enter the intensity and draw the centroid off the spot.
  double total = 0.0;
  Index k = 0;
  double wsum = 0.0, wx = 0.0, wy = 0.0;
  // The box reaches past the strip's rows where the spot does.
  const Index bx0 = std::max(xs_, i - half), bx1 = std::min(xe_, i + half);
  const Index by0 = std::max(ys_, j - half), by1 = std::min(ye_, j + half);
  for (Index row = by0; row <= by1; ++row)
    for (Index col = bx0; col <= bx1; ++col) {
      if (!of_spot(col, row) || masked(col, row)) continue;
      const double v = d(col, row);
      if (!std::isfinite(v)) continue;  // left out of the search
      if (candidate(col, row)) {
        total += v;
        ++k;
      }
      const double weight = v - m;
      wsum += weight;
      wx += (static_cast<double>(col) - 0.5) * weight;
      wy += (static_cast<double>(row) - 0.5) * weight;
    }
  const double kk = static_cast<double>(k);
  sigma = static_cast<float>(std::sqrt(std::max(kk * kk * error * error + total * p_.gain, 0.0)));
  intensity = static_cast<float>(total - kk * m);
  // Weights below the background (a spot's edge beside a gap, a neighbour's
  // hollow) can nearly cancel the spot's own: such a centroid runs off
  // anywhere. One outside the peak's box is no position of the spot, and
  // the peak pixel's centre stands.
  if (!(wsum > 0.0)) return;
  const double cx = wx / wsum, cy = wy / wsum;
  if (cx >= static_cast<double>(bx0 - 1) && cx <= static_cast<double>(bx1) &&
      cy >= static_cast<double>(by0 - 1) && cy <= static_cast<double>(by1)) {
    x = static_cast<float>(cx);
    y = static_cast<float>(cy);
  }
}

// The pixels round the peak (I, J) that are its spot's. Each pixel climbs to
// the highest of its eight neighbours (within the region) while that is
// higher, and the maximum it ends on is its top (the climbs share their
// paths). A pixel is the spot's when its top is the peak's own, or another
// maximum nearer than MIN. SPACING, which cannot be a peak of its own. Such
// a maximum is a second spot (said, as the two are then one peak) when it
// is a candidate more than two pixels away holding NUM PIXELS candidates.
void Strip::spot_basins(Index i, Index j) {
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  {
    // The background near the peak classes the pixels past the strip's rows.
    Index n = 0;
    const Level l = background_near(i, n);
    local_threshold_ =
        n > p_.min_background ? l.mean + static_cast<double>(p_.peak_sigma) * l.sd : threshold_;
  }
  const Index reach = std::max(p_.box_size / 2, p_.min_spacing / 2 + 1);
  const bool use_mask = p_.use_mask;
  c0_ = std::max(xs_, i - reach);
  c1_ = std::min(xe_, i + reach);
  b0_ = std::max(ys_, j - reach);
  b1_ = std::min(ye_, j + reach);
  const Index bw = c1_ - c0_ + 1;
  tops_.assign(static_cast<std::size_t>(bw * (b1_ - b0_ + 1)), kNone);
  const auto in_box = [&](Index x, Index y) { return x >= c0_ && x <= c1_ && y >= b0_ && y <= b1_; };
  const auto box_at = [&](Index x, Index y) {
    return static_cast<std::size_t>((y - b0_) * bw + (x - c0_));
  };
  for (Index row = b0_; row <= b1_; ++row)
    for (Index col = c0_; col <= c1_; ++col) {
      if (tops_[box_at(col, row)] != kNone) continue;
      path_.clear();
      Index x = col, y = row;
      std::size_t top = kNone;
      for (;;) {
        if (in_box(x, y)) {
          if (tops_[box_at(x, y)] != kNone) {
            top = tops_[box_at(x, y)];
            break;
          }
          path_.push_back(box_at(x, y));
        }
        // A pixel left out of the search (masked, or not a finite number)
        // climbs nowhere and is climbed to by none: it is a top of its own.
        float best = w(x, y);
        Index bx = x, by = y;
        if (!use_mask || mask_[image_at(x, y)] == 0)
          for (Index ny = std::max(ys_, y - 1); ny <= std::min(ye_, y + 1); ++ny)
            for (Index nx = std::max(xs_, x - 1); nx <= std::min(xe_, x + 1); ++nx)
              if (w(nx, ny) > best && (!use_mask || mask_[image_at(nx, ny)] == 0)) {
                best = w(nx, ny);
                bx = nx;
                by = ny;
              }
        if (bx == x && by == y) {
          top = static_cast<std::size_t>((y - ys_) * width_ + (x - xs_));
          break;
        }
        x = bx;
        y = by;
      }
      for (const std::size_t at : path_) tops_[at] = top;
    }

  // Which tops are the spot's, and which of them is a second spot.
  const std::size_t own = tops_[box_at(i, j)];
  const auto top_x = [&](std::size_t t) { return static_cast<Index>(t % static_cast<std::size_t>(width_)) + xs_; };
  const auto top_y = [&](std::size_t t) { return static_cast<Index>(t / static_cast<std::size_t>(width_)) + ys_; };
  const double spacing2 = static_cast<double>(p_.min_spacing) * static_cast<double>(p_.min_spacing);
  near_.clear();
  for (Index row = b0_; row <= b1_; ++row)
    for (Index col = c0_; col <= c1_; ++col) {
      const std::size_t t = tops_[box_at(col, row)];
      auto it = std::find_if(near_.begin(), near_.end(), [&](const Top& n) { return n.top == t; });
      if (it == near_.end()) {
        const double dx = static_cast<double>(top_x(t) - top_x(own));
        const double dy = static_cast<double>(top_y(t) - top_y(own));
        near_.push_back({t, t == own || dx * dx + dy * dy < spacing2, 0});
        it = near_.end() - 1;
      }
      it->candidates += candidate(col, row);
    }
  merged_ = false;
  second_.clear();
  for (const Top& n : near_) {
    const Index tx = top_x(n.top), ty = top_y(n.top);
    if (n.top != own && n.ours && n.candidates >= std::max<Index>(p_.num_pixels, 1) &&
        candidate(tx, ty) && std::max(std::abs(tx - top_x(own)), std::abs(ty - top_y(own))) > 2) {
      merged_ = true;
      merged_x_ = static_cast<float>(tx) - 0.5f;
      merged_y_ = static_cast<float>(ty) - 0.5f;
      second_.push_back(n.top);
    }
  }
}

// A candidate pixel: the strip's class within its rows; past them, as the
// strip's own test would class it against the background near the peak.
bool Strip::candidate(Index col, Index row) const {
  if (row >= r0_ && row <= r1_) return classes_[at(col, row)] == kCandidate;
  if (masked(col, row)) return false;
  const float v = w(col, row);
  return v >= p_.data_minimum && v > local_threshold_;
}

bool Strip::of_spot(Index col, Index row) const {
  if (col < c0_ || col > c1_ || row < b0_ || row > b1_) return false;
  const std::size_t t =
      tops_[static_cast<std::size_t>((row - b0_) * (c1_ - c0_ + 1) + (col - c0_))];
  for (const Top& n : near_)
    if (n.top == t) return n.ours;
  return false;
}

bool Strip::of_second_spot(Index col, Index row) const {
  if (col < c0_ || col > c1_ || row < b0_ || row > b1_) return false;
  const std::size_t t =
      tops_[static_cast<std::size_t>((row - b0_) * (c1_ - c0_ + 1) + (col - c0_))];
  return std::find(second_.begin(), second_.end(), t) != second_.end();
}

void Strip::load(Index r0, Index r1) {
  r0_ = r0;
  r1_ = r1;
  const Index h = r1 - r0 + 1;
  rows_.resize(static_cast<std::size_t>(h));
  for (Index j = 0; j < h; ++j) rows_[static_cast<std::size_t>(j)] = image_at(xs_, r0 + j);
}

void Strip::search(Index r0, Index r1, Index s0, Index s1, Index first, PeakList& peaks) {
  load(r0, r1);
  whole_column_sums();
  non_finite_ =
      !std::all_of(sum_.begin(), sum_.end(), [](double v) { return std::isfinite(v); });
  plain_levels();
  // The candidates of the last strip leave; the first columns' classes come
  // from the strip's first level.
  const auto height = static_cast<std::size_t>(height_);
  for (const std::size_t c : candidate_columns_) std::fill_n(&classes_[c * height], height, kBackground);
  candidate_columns_.clear();
  for (std::size_t c = 0; c < static_cast<std::size_t>(std::min(width_, p_.box_size)); ++c)
    candidate_columns_.push_back(c);
  initial_background();
  for (Index i = xs_ + p_.box_size; i <= xe_;) {
    column_step(i);
    i = i - last_changed_ >= p_.box_size ? plain_run(i) : i + 1;
  }
  const Index yend_region = r1;  // the strip never passes the region's end
  // The candidates of the search rows, found down each column (contiguous
  // bytes) and then listed row after row, in the order peaks are taken.
  const Index rows = std::max<Index>(s1 - s0 + 1, 0);
  row_start_.assign(static_cast<std::size_t>(rows + 1), 0);
  // Only the columns walked down can hold candidates (and the first ones).
  const auto searched = [&](std::size_t c) {
    const Index i = xs_ + static_cast<Index>(c);
    return i >= xs_ + 2 && i <= xe_ - 2;
  };
  for (const std::size_t c : candidate_columns_) {
    if (!searched(c)) continue;
    const std::uint8_t* column = &cls(xs_ + static_cast<Index>(c), s0);
    for (Index r = 0; r < rows; ++r)
      row_start_[static_cast<std::size_t>(r + 1)] += column[r] == kCandidate;
  }
  for (Index r = 0; r < rows; ++r)
    row_start_[static_cast<std::size_t>(r + 1)] += row_start_[static_cast<std::size_t>(r)];
  candidates_.resize(static_cast<std::size_t>(row_start_.back()));
  next_.assign(row_start_.begin(), row_start_.end() - 1);
  for (const std::size_t c : candidate_columns_) {
    if (!searched(c)) continue;
    const Index i = xs_ + static_cast<Index>(c);
    const std::uint8_t* column = &cls(i, s0);
    for (Index r = 0; r < rows; ++r)
      if (column[r] == kCandidate)
        candidates_[static_cast<std::size_t>(next_[static_cast<std::size_t>(r)]++)] = i;
  }
  for (Index j = s0; j <= s1; ++j)
    for (Index c = row_start_[static_cast<std::size_t>(j - s0)];
         c < row_start_[static_cast<std::size_t>(j - s0 + 1)]; ++c) {
      const Index i = candidates_[static_cast<std::size_t>(c)];
      if (!is_peak(i, j, first, peaks)) continue;
      if (peaks.num_peaks == peaks.max_peaks) {
        peaks.full = true;
        return;
      }
      const std::size_t n = static_cast<std::size_t>(peaks.num_peaks++);
      peak_pixels_.resize(n + 1);
      peak_pixels_[n] = {i, j};
      peaks.x[n] = static_cast<float>(i) - 0.5f;
      peaks.y[n] = static_cast<float>(j) - 0.5f;
      peaks.intensity[n] = 0.0f;
      peaks.sigma[n] = 0.0f;
      peaks.flags[n] = 0;
      if (d(i, j) >= p_.saturation) {
        peaks.flags[n] = kPeakSaturated;
        ++peaks.saturated;
      }
      // Border and square maxima of the data, clipped to the region. A
      // second spot too near to be a peak of its own is no slope under this
      // one: its pixels are left out, and the two are one peak.
      spot_basins(i, j);
      const Index h = p_.min_spacing / 2;
      const Index c0 = std::max(xs_, i - h), c1 = std::min(xe_, i + h);
      float border = kVerySmall, square = kVerySmall;
      const auto value = [&](Index col, Index row) {
        const float v = d(col, row);
        return of_second_spot(col, row) || masked(col, row) || !std::isfinite(v) ? kVerySmall : v;
      };
      for (Index row = std::max(r0_, j - h); row <= std::min(yend_region, j + h); ++row)
        for (Index col = c0; col <= c1; ++col) square = std::max(square, value(col, row));
      for (Index row = std::max(r0_, j - h - 1); row <= std::min(yend_region, j + h + 1); ++row)
        for (Index col : {i - h, i + h})
          if (col >= xs_ && col <= xe_) border = std::max(border, value(col, row));
      for (Index row : {j - h, j + h})
        if (row >= r0_ && row <= yend_region)
          for (Index col = c0; col <= c1; ++col) border = std::max(border, value(col, row));
      if (0.9 * (double{square} - mean_) < double{border} - mean_) {
        if (peaks.flags[n] == kPeakSaturated) --peaks.saturated;
        peaks.flags[n] += kPeakBadWeak;
        ++peaks.bad_weak;
      } else if (p_.mode == 1) {
        integrate(i, j, peaks.intensity[n], peaks.sigma[n], peaks.x[n], peaks.y[n]);
        if (merged_) merges.push_back({static_cast<Index>(n), merged_x_, merged_y_});
      }
    }
}

}  // namespace

PeakList::PeakList(Index max)
    : max_peaks(max),
      flags(static_cast<std::size_t>(std::max<Index>(max, 0))),
      x(flags.size()),
      y(flags.size()),
      intensity(flags.size()),
      sigma(flags.size()),
      d_spacing(flags.size()) {}

PeakGeometry kzt_peak_geometry(float x_pixel_size, float y_pixel_size, Status& status) {
  PeakGeometry g;
  g.x_pixel_size = x_pixel_size;
  g.y_pixel_size = y_pixel_size;
  kzt_inq_geometry(g.known, g.x_beam, g.y_beam, g.distance, g.wavelength, status);
  return g;
}

float kzt_peak_d_spacing(const PeakGeometry& g, float x, float y) {
  if (!g.known) return -1.0f;
  const double dx = (double{x} - g.x_beam) * g.x_pixel_size;
  const double dy = (double{y} - g.y_beam) * g.y_pixel_size;
  const double r = std::sqrt(dx * dx + dy * dy);
  const double value = g.wavelength / (2.0 * std::sin(std::atan(r / g.distance) / 2.0)) * 1.0e10;
  if (r > 0.0 && std::isfinite(value) && std::fabs(value) < 1.7e38)
    return static_cast<float>(value);
  return -1.0f;
}

void KZT_PEAKSEARCH(float x_pixel_size, float y_pixel_size, const PeakSearchParameters& p,
                    Index xmaxdat, Index ymaxdat, std::span<const float> data,
                    std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<float> work, PeakList& peaks, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_PEAKSEARCH V0.1";
  if (st_bad(status, kPosition)) return;
  if (peaks.max_peaks < 1 || std::ssize(peaks.flags) < peaks.max_peaks)
    return st_fail(status, kBaseApp + 1, kPosition);
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), work.size(), p.use_mask ? mask.size() : data.size()}))
    return;
  if ((p.mode != 0 && p.mode != 1) || p.blur_size < 1 || p.box_size < 1)
    return st_fail(status, kBaseApp + 17, kPosition);
  if (p.min_spacing <= p.blur_size) return st_fail(status, kBaseApp + 13, kPosition);

  const PeakGeometry geometry = kzt_peak_geometry(x_pixel_size, y_pixel_size, status);

  // Unsmoothed data is copied strip by strip as the search reaches it, and
  // the search reads the data itself (the same values), so the copy takes
  // no room in the cache.
  const bool copy = p.blur_size < 2;
  Index copied = ystrelm;  // the first row not yet copied
  auto copy_to = [&](Index row) {
    if (!copy) return;
    const auto n = static_cast<std::size_t>(xendelm - xstrelm + 1);
    for (; copied <= row; ++copied) {
      const auto first = static_cast<std::size_t>(element(xstrelm, copied, xmaxdat));
      stream_copy(data.data() + first, work.data() + first, n);
    }
#if defined(__SSE2__)
    _mm_sfence();
#endif
  };
  if (!copy)
    MA_TOPHATCON(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, p.blur_size,
                 p.blur_size, true, xmaxdat, ymaxdat, work, status);
  IO_WRITE("INFO: Data smoothed or copied", status);
  if (status != kStatusGood) return;

  const Index height = std::max(p.min_spacing + 9, p.box_size);
  // The search strip by strip; false (and nothing to keep) when CHECKING and
  // a strip holds a pixel that is not a finite number.
  std::vector<Strip::Merge> merges;
  const auto search = [&](const PeakSearchParameters& params,
                          std::span<const std::uint8_t> search_mask, bool checking) {
    peaks.num_peaks = 0;
    peaks.full = false;
    peaks.saturated = 0;
    peaks.bad_weak = 0;
    Strip strip(params, xmaxdat, data, search_mask, copy ? data : std::span<const float>(work),
                xstrelm, xendelm, height);
    strip.region_rows(ystrelm, yendelm);
    if (!checking) strip.set_has_gaps();
    // Strips overlap by four rows, so that the search rows (two rows in from
    // each end, for the 5 x 5 candidate count and the neighbour test) of one
    // strip continue where the last one stopped.
    std::vector<Index> found_after;
    for (Index start = ystrelm;; start += height - 4) {
      const Index end = std::min(start + height - 1, yendelm);
      const Index k = std::ssize(found_after);  // strips before this one
      const Index first = k < 2 ? 0 : std::max<Index>(found_after[k - 2], 1) - 1;
      copy_to(end);
      strip.search(start, end, start + 2, std::min(start + height - 3, yendelm - 2), first, peaks);
      if (checking && strip.saw_non_finite()) return false;
      found_after.push_back(peaks.num_peaks);
      if (peaks.full || end >= yendelm) break;
    }
    copy_to(yendelm);
    merges = std::move(strip.merges);
    return true;
  };
  // Masked pixels take no part in the search: beside the background sums
  // (which always left them out), they are left out of the smoothing, the
  // climbs, the least number of candidates and the centroids as pixels that
  // are not finite numbers are, so that a masked gap of zeros neither draws
  // a spot's centroid away from it nor loses the spot.
  const auto any_masked = [&] {
    if (!p.use_mask) return false;
    const auto n = static_cast<std::size_t>(xendelm - xstrelm + 1);
    for (Index j = ystrelm; j <= yendelm; ++j) {
      const std::uint8_t* row = mask.data() + element(xstrelm, j, xmaxdat);
      if (std::find_if(row, row + n, [](std::uint8_t m) { return m != 0; }) != row + n)
        return true;
    }
    return false;
  };
  if (any_masked() || !search(p, mask, true)) {
    // Pixels that are not finite numbers are left out as masked ones are: in
    // the background sums they make every level of their strip undefined and
    // lose its spots. A smoothed pixel whose box holds a pixel left out is the
    // mean of the others. (Non-finite values are found by the search's own
    // sums, so that clean data costs no extra pass.)
    PeakSearchParameters q = p;
    q.use_mask = true;
    // Of the arrays' shape, written over the region (all that is read) and
    // the two pixels around it that the neighbour tests reach: a small
    // region of large arrays costs its own pages.
    const auto size = static_cast<std::size_t>(xmaxdat * ymaxdat);
    std::unique_ptr<std::uint8_t[]> left_block;
    try {
      left_block = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    } catch (const std::bad_alloc&) {
      peaks.num_peaks = 0;
      return st_fail(status, kBaseCore + 1002, kPosition);
    }
    const std::span<std::uint8_t> left_out(left_block.get(), size);
    const Index x0 = std::max<Index>(xstrelm - 2, 1), x1 = std::min(xendelm + 2, xmaxdat);
    for (Index j = std::max<Index>(ystrelm - 2, 1); j <= std::min(yendelm + 2, ymaxdat); ++j)
      std::fill_n(left_out.begin() + element(x0, j, xmaxdat), x1 - x0 + 1, std::uint8_t{0});
    Index non_finite = 0;
    for (Index j = ystrelm; j <= yendelm; ++j)
      for (Index i = xstrelm; i <= xendelm; ++i) {
        const auto k = static_cast<std::size_t>(element(i, j, xmaxdat));
        const bool finite = std::isfinite(data[k]);
        non_finite += finite ? 0 : 1;
        left_out[k] = (p.use_mask && mask[k] != 0) || !finite;
      }
    // The smoothed pixels whose box holds a pixel left out take the mean of
    // the others: a masked gap's zeros pull no smoothed value down, and a
    // value that is not a finite number makes none undefined.
    if (!copy && !ma_known_box_means(xmaxdat, ymaxdat, data, left_out, xstrelm, ystrelm, xendelm,
                                     yendelm, p.blur_size, p.blur_size, work)) {
      peaks.num_peaks = 0;
      return st_fail(status, kBaseCore + 1002, kPosition);
    }
    if (non_finite > 0)
      IO_WRITE("INFO: " + kzt_left_out_line(non_finite, "pixel") + " of the search", status);
    search(q, left_out, false);
  }
  for (const Strip::Merge& m : merges) {
    const auto k = static_cast<std::size_t>(m.peak);
    const auto at = [](float x, float y) {
      return "(" + std::string(trimmed_text(format_f(x, 10, 1))) + ", " +
             std::string(trimmed_text(format_f(y, 10, 1))) + ")";
    };
    IO_WRITE("INFO: The peak at " + at(peaks.x[k], peaks.y[k]) +
                 " holds a second spot's maximum at " + at(m.x, m.y) +
                 ", nearer than MIN. SPACING: the two are integrated as one peak",
             status);
  }

  for (Index n = 0; n < peaks.num_peaks; ++n) {
    const std::size_t k = static_cast<std::size_t>(n);
    peaks.d_spacing[k] = kzt_peak_d_spacing(geometry, peaks.x[k], peaks.y[k]);
  }
}

}  // namespace kesta
