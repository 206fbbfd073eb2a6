#include "app/imageops/peak_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "numeric/filters.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

constexpr std::uint8_t kBackground = 0;
constexpr std::uint8_t kCandidate = 1;
constexpr std::uint8_t kExcluded = 2;

// Background level and spread from a count, a sum and a sum of squares; the
// spread is 0 for fewer than two pixels or a negative rounding remainder.
struct Level {
  double mean = 0.0;
  double sd = 0.0;
};
Level level_of(Index n, double sum, double sum2) {
  Level l;
  if (n < 1) return l;
  l.mean = sum / static_cast<double>(n);
  const double spread = sum2 - static_cast<double>(n) * l.mean * l.mean;
  if (n >= 2 && spread > 0.0) l.sd = std::sqrt(spread / static_cast<double>(n - 1));
  return l;
}

// The operations of level_of and of the level's threshold and bad level for
// columns FIRST to END - 1, without branches and with the counts in double
// (exact), so that the divisions and square roots run in vector steps (see
// app/imageops/CMakeLists.txt for the square root).
void plain_levels_of(std::size_t first, std::size_t end, const double* __restrict count,
                     const double* __restrict sum, const double* __restrict sum2,
                     double peak_sigma, double bad_sigma, double* __restrict mean,
                     double* __restrict threshold, double* __restrict bad) {
  for (std::size_t c = first; c < end; ++c) {
    const double n = count[c];
    // Worked out for every column and then chosen: a quotient by zero or a
    // root of a negative value is never chosen.
    const double quotient = sum[c] / n;
    const double m = n >= 1.0 ? quotient : 0.0;
    const double spread = sum2[c] - n * m * m;
    const double root = std::sqrt(spread / (n - 1.0));
    const double sd = n >= 2.0 && spread > 0.0 ? root : 0.0;
    mean[c] = m;
    threshold[c] = m + peak_sigma * sd;
    bad[c] = m - bad_sigma * sd;
  }
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
        all_count_(count_.size()),
        all_sum_(sum_.size()),
        all_sum2_(sum_.size()),
        lowest_(sum_.size()),
        highest_(sum_.size()),
        plain_reliable_(sum_.size()),
        plain_count_(sum_.size()),
        plain_mean_(sum_.size()),
        plain_threshold_(sum_.size()),
        plain_bad_(sum_.size()) {}

  // KZT_PEAKSTRIP: the background of rows R0..R1, then the peaks of the
  // search rows S0..S1, compared for spacing with the peaks from FIRST on.
  void search(Index r0, Index r1, Index s0, Index s1, Index first, PeakList& peaks);

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
  void load(Index r0, Index r1);
  void initial_background();
  void column_step(Index i);
  void add_column_sums(Index i);
  void whole_column_sums();
  void plain_levels();
  bool is_peak(Index i, Index j, Index first, const PeakList& peaks);
  void integrate(Index i, Index j, float& intensity, float& sigma, float& x, float& y);

  const PeakSearchParameters& p_;
  Index xmaxdat_;
  std::span<const float> data_;
  std::span<const std::uint8_t> mask_;
  std::span<const float> work_;
  Index xs_, xe_, width_, height_;
  Index r0_ = 0, r1_ = 0;
  std::vector<std::uint8_t> classes_;
  std::vector<Index> count_;
  std::vector<double> sum_, sum2_;
  // Per column, what the background sums are when no unmasked pixel is left
  // out or a candidate, and the extremes of its unmasked values.
  std::vector<Index> all_count_;
  std::vector<double> all_sum_, all_sum2_;
  std::vector<float> lowest_, highest_;
  // Per column, the level its step sets when none of the last BOX SIZE
  // columns has a pixel left out or a candidate (their sums are then the
  // ones above), worked out beforehand, free of the chain from column to
  // column; LAST_CHANGED_ is the last column whose sums differ.
  std::vector<std::uint8_t> plain_reliable_;
  std::vector<double> plain_count_, plain_mean_, plain_threshold_, plain_bad_;
  Index last_changed_ = 0;
  std::vector<std::size_t> rows_;  // the element of each strip row's first column
  std::vector<Index> row_start_, next_, candidates_;  // candidates by search row
  std::vector<std::uint8_t> has_candidate_;           // per column
  bool reliable_ = false;
  double mean_ = 0.0, threshold_ = 0.0, bad_ = 0.0;
};

void Strip::initial_background() {
  const Index columns = std::min(width_, p_.box_size);
  Index n = 0;
  double sum = 0.0, sum2 = 0.0;
  for (Index j = r0_; j <= r1_; ++j)
    for (Index i = xs_; i < xs_ + columns; ++i) {
      const float v = w(i, j);
      if (masked(i, j) || v < p_.data_minimum) {
        cls(i, j) = kExcluded;
      } else {
        cls(i, j) = kBackground;
        ++n;
        sum += v;
        sum2 += double{v} * v;
      }
    }
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
          if (cls(i, j) == kBackground && w(i, j) > threshold_) {
            cls(i, j) = kCandidate;
            const double v = w(i, j);
            --n;
            sum -= v;
            sum2 -= v * v;
          }
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
  for (Index i = xs_; i < xs_ + columns; ++i) {
    add_column_sums(i);
    if (count_[static_cast<std::size_t>(i - xs_)] != all_count_[static_cast<std::size_t>(i - xs_)])
      last_changed_ = i;
  }
}

void Strip::add_column_sums(Index i) {
  const std::size_t c = static_cast<std::size_t>(i - xs_);
  count_[c] = 0;
  sum_[c] = 0.0;
  sum2_[c] = 0.0;
  for (Index j = r0_; j <= r1_; ++j)
    if (cls(i, j) == kBackground) {
      const double v = w(i, j);
      ++count_[c];
      sum_[c] += v;
      sum2_[c] += v * v;
    }
}

void Strip::whole_column_sums() {
  // Row after row across the strip, so the loop runs in vector steps; each
  // column's chain of additions keeps the order of the walk down it.
  const auto width = static_cast<std::size_t>(width_);
  std::fill(all_count_.begin(), all_count_.end(), 0);
  std::fill(all_sum_.begin(), all_sum_.end(), 0.0);
  std::fill(all_sum2_.begin(), all_sum2_.end(), 0.0);
  std::fill(lowest_.begin(), lowest_.end(), std::numeric_limits<float>::infinity());
  std::fill(highest_.begin(), highest_.end(), -std::numeric_limits<float>::infinity());
  // No pointer here aliases another (told to the compiler, which otherwise
  // leaves the loops scalar).
  Index* __restrict count = all_count_.data();
  double* __restrict sum = all_sum_.data();
  double* __restrict sum2 = all_sum2_.data();
  float* __restrict lowest = lowest_.data();
  float* __restrict highest = highest_.data();
  for (const std::size_t first : rows_) {
    const float* __restrict row = work_.data() + first;
    if (p_.use_mask) {
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
    } else {
      // Two loops of one element size each: the compiler leaves one mixed
      // loop scalar.
      for (std::size_t i = 0; i < width; ++i) {
        const double b = row[i];
        sum[i] += b;
        sum2[i] += b * b;
      }
      for (std::size_t i = 0; i < width; ++i) {
        const float v = row[i];
        lowest[i] = v < lowest[i] ? v : lowest[i];
        highest[i] = v > highest[i] ? v : highest[i];
      }
    }
  }
  if (!p_.use_mask) std::fill(all_count_.begin(), all_count_.end(), std::ssize(rows_));
}

void Strip::plain_levels() {
  // The box sums of column step I in the same order (columns I - BOX SIZE + 1
  // to I, from a zero start), each window by itself so the additions no
  // longer wait on one another.
  const auto width = static_cast<std::size_t>(width_);
  const auto box = static_cast<std::size_t>(p_.box_size);
  if (box >= width) return;
  std::fill(count_.begin(), count_.end(), 0);
  std::fill(sum_.begin(), sum_.end(), 0.0);
  std::fill(sum2_.begin(), sum2_.end(), 0.0);
  for (std::size_t k = 0; k < box; ++k) {
    const std::size_t shift = box - 1 - k;
    for (std::size_t c = box; c < width; ++c) {
      count_[c] += all_count_[c - shift];
      sum_[c] += all_sum_[c - shift];
      sum2_[c] += all_sum2_[c - shift];
    }
  }
  for (std::size_t c = box; c < width; ++c) {
    plain_reliable_[c] = count_[c] > p_.min_background;
    plain_count_[c] = static_cast<double>(count_[c]);
  }
  plain_levels_of(box, width, plain_count_.data(), sum_.data(), sum2_.data(), p_.peak_sigma,
                  p_.bad_sigma, plain_mean_.data(), plain_threshold_.data(), plain_bad_.data());
}

void Strip::column_step(Index i) {
  // Classification and the column's background sums in one walk down the
  // column.
  const std::size_t column_index = static_cast<std::size_t>(i - xs_);
  Index column_count = 0;
  double column_sum = 0.0, column_sum2 = 0.0;
  const auto stride = static_cast<std::size_t>(xmaxdat_);
  const float* column = &work_[image_at(i, r0_)];
  std::uint8_t* classes = &cls(i, r0_);
  const std::uint8_t* mask = p_.use_mask ? &mask_[image_at(i, r0_)] : nullptr;
  // Without a reliable level nothing is a candidate and only values below the
  // data minimum are left out; the tests are the same for every pixel of the
  // column, so the walk has no branches. Adding 0.0 for the other pixels
  // leaves the sums exactly as they were.
  const double high = reliable_ ? threshold_ : std::numeric_limits<double>::infinity();
  const double low = reliable_ ? bad_ : double{p_.data_minimum};
  const Index h = r1_ - r0_ + 1;
  if (double{lowest_[column_index]} >= low && double{highest_[column_index]} <= high) {
    // Every unmasked pixel is background: the sums worked out beforehand are
    // the walk's own, and the level no longer waits for a chain of additions.
    for (Index j = 0; j < h; ++j)
      classes[j] = mask != nullptr && mask[j * stride] != 0 ? kExcluded : kBackground;
    column_count = all_count_[column_index];
    column_sum = all_sum_[column_index];
    column_sum2 = all_sum2_[column_index];
    has_candidate_[column_index] = 0;
  } else {
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
    has_candidate_[column_index] = static_cast<std::uint8_t>(candidates);
  }
  count_[column_index] = column_count;
  sum_[column_index] = column_sum;
  sum2_[column_index] = column_sum2;
  // The background pixels are a subset of the unmasked ones: the same count
  // means the same pixels, summed in the same order.
  if (column_count != all_count_[column_index]) last_changed_ = i;
  if (i - last_changed_ >= p_.box_size) {
    reliable_ = plain_reliable_[column_index] != 0;
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
  // A flat background may leave a rounding remainder below zero: no spread.
  const Level l = level_of(n, sum, sum2);
  const double m = l.mean;
  const double sd = l.sd;
  mean_ = m;
  threshold_ = m + p_.peak_sigma * sd;
  bad_ = m - p_.bad_sigma * sd;
  reliable_ = true;
}

bool Strip::is_peak(Index i, Index j, Index first, const PeakList& peaks) {
  const float v = w(i, j);
  if (!(v > w(i + 1, j) && v > w(i + 2, j))) return false;
  for (Index row = j + 1; row <= j + 2; ++row)
    for (Index col = i - 1; col <= i + 2; ++col)
      if (!(v > w(col, row))) return false;
  Index candidates = 0;
  for (Index row = j - 2; row <= j + 2; ++row)
    for (Index col = i - 2; col <= i + 2; ++col) candidates += cls(col, row) == kCandidate;
  if (candidates < p_.num_pixels) return false;
  const double x = static_cast<double>(i) - 0.5;
  const double y = static_cast<double>(j) - 0.5;
  const double spacing2 = static_cast<double>(p_.min_spacing) * static_cast<double>(p_.min_spacing);
  for (Index k = first; k < peaks.num_peaks; ++k) {
    const double dx = x - peaks.x[static_cast<std::size_t>(k)];
    const double dy = y - peaks.y[static_cast<std::size_t>(k)];
    if (dx * dx + dy * dy < spacing2) return false;
  }
  return true;
}

void Strip::integrate(Index i, Index j, float& intensity, float& sigma, float& x, float& y) {
  const Index half = p_.box_size / 2;
  Index n = 0;
  double sum = 0.0, sum2 = 0.0;
  for (Index k = std::max(xs_, i - half); k <= std::min(xe_, i + half); ++k) {
    const std::size_t c = static_cast<std::size_t>(k - xs_);
    n += count_[c];
    sum += sum_[c];
    sum2 += sum2_[c];
  }
  // Without background pixels near the peak the strip's level stands, with
  // no error of its own.
  double m = mean_;
  double error = 0.0;
  if (n > 0) {
    const Level l = level_of(n, sum, sum2);
    m = l.mean;
    if (n > p_.min_background && l.sd > 0.0)
      error = static_cast<double>(p_.blur_size * p_.blur_size) * l.sd /
              std::sqrt(static_cast<double>(n));
  }
  double total = 0.0;
  Index k = 0;
  double wsum = 0.0, wx = 0.0, wy = 0.0;
  for (Index row = std::max(r0_, j - half); row <= std::min(r1_, j + half); ++row)
    for (Index col = std::max(xs_, i - half); col <= std::min(xe_, i + half); ++col) {
      const double v = d(col, row);
      if (cls(col, row) == kCandidate) {
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
  if (wsum > 0.0) {
    x = static_cast<float>(wx / wsum);
    y = static_cast<float>(wy / wsum);
  }
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
  plain_levels();
  // The first columns' classes come from the strip's first level.
  has_candidate_.assign(static_cast<std::size_t>(width_), 1);
  initial_background();
  for (Index i = xs_ + p_.box_size; i <= xe_; ++i) column_step(i);
  const Index yend_region = r1;  // the strip never passes the region's end
  // The candidates of the search rows, found down each column (contiguous
  // bytes) and then listed row after row, in the order peaks are taken.
  const Index rows = std::max<Index>(s1 - s0 + 1, 0);
  row_start_.assign(static_cast<std::size_t>(rows + 1), 0);
  for (Index i = xs_ + 2; i <= xe_ - 2; ++i) {
    if (has_candidate_[static_cast<std::size_t>(i - xs_)] == 0) continue;
    const std::uint8_t* column = &cls(i, s0);
    for (Index r = 0; r < rows; ++r)
      row_start_[static_cast<std::size_t>(r + 1)] += column[r] == kCandidate;
  }
  for (Index r = 0; r < rows; ++r)
    row_start_[static_cast<std::size_t>(r + 1)] += row_start_[static_cast<std::size_t>(r)];
  candidates_.resize(static_cast<std::size_t>(row_start_.back()));
  next_.assign(row_start_.begin(), row_start_.end() - 1);
  for (Index i = xs_ + 2; i <= xe_ - 2; ++i) {
    if (has_candidate_[static_cast<std::size_t>(i - xs_)] == 0) continue;
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
      peaks.x[n] = static_cast<float>(i) - 0.5f;
      peaks.y[n] = static_cast<float>(j) - 0.5f;
      peaks.intensity[n] = 0.0f;
      peaks.sigma[n] = 0.0f;
      peaks.flags[n] = 0;
      if (d(i, j) >= p_.saturation) {
        peaks.flags[n] = kPeakSaturated;
        ++peaks.saturated;
      }
      // Border and square maxima of the data, clipped to the region.
      const Index h = p_.min_spacing / 2;
      const Index c0 = std::max(xs_, i - h), c1 = std::min(xe_, i + h);
      float border = kVerySmall, square = kVerySmall;
      for (Index row = std::max(r0_, j - h); row <= std::min(yend_region, j + h); ++row)
        for (Index col = c0; col <= c1; ++col) square = std::max(square, d(col, row));
      for (Index row = std::max(r0_, j - h - 1); row <= std::min(yend_region, j + h + 1); ++row)
        for (Index col : {i - h, i + h})
          if (col >= xs_ && col <= xe_) border = std::max(border, d(col, row));
      for (Index row : {j - h, j + h})
        if (row >= r0_ && row <= yend_region)
          for (Index col = c0; col <= c1; ++col) border = std::max(border, d(col, row));
      if (0.9 * (double{square} - mean_) < double{border} - mean_) {
        if (peaks.flags[n] == kPeakSaturated) --peaks.saturated;
        peaks.flags[n] += kPeakBadWeak;
        ++peaks.bad_weak;
      } else if (p_.mode == 1) {
        integrate(i, j, peaks.intensity[n], peaks.sigma[n], peaks.x[n], peaks.y[n]);
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

  if (p.blur_size < 2)
    MA_RCOPY(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxdat, ymaxdat, work,
             status);
  else
    MA_TOPHATCON(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, p.blur_size,
                 p.blur_size, true, xmaxdat, ymaxdat, work, status);
  IO_WRITE("INFO: Data smoothed or copied", status);
  if (status != kStatusGood) return;

  peaks.num_peaks = 0;
  peaks.full = false;
  peaks.saturated = 0;
  peaks.bad_weak = 0;
  const Index height = std::max(p.min_spacing + 9, p.box_size);
  Strip strip(p, xmaxdat, data, mask, work, xstrelm, xendelm, height);
  // Strips overlap by four rows, so that the search rows (two rows in from
  // each end, for the 5 x 5 candidate count and the neighbour test) of one
  // strip continue where the last one stopped.
  std::vector<Index> found_after;
  for (Index start = ystrelm;; start += height - 4) {
    const Index end = std::min(start + height - 1, yendelm);
    const Index k = std::ssize(found_after);  // strips before this one
    const Index first = k < 2 ? 0 : std::max<Index>(found_after[k - 2], 1) - 1;
    strip.search(start, end, start + 2, std::min(start + height - 3, yendelm - 2), first, peaks);
    found_after.push_back(peaks.num_peaks);
    if (peaks.full || end >= yendelm) break;
  }

  for (Index n = 0; n < peaks.num_peaks; ++n) {
    const std::size_t k = static_cast<std::size_t>(n);
    peaks.d_spacing[k] = kzt_peak_d_spacing(geometry, peaks.x[k], peaks.y[k]);
  }
}

}  // namespace kesta
