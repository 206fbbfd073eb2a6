#include "numeric/filters.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/statistics.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {
namespace {

// The sizes of the box of the two filters: 17 in X, 18 in Y; 0 when usable.
Status box_size_error(Index xsize, Index ysize) {
  if (xsize < 1) return kBaseMath + 17;
  if (ysize < 1) return kBaseMath + 18;
  return 0;
}

// The order of the median filter: as the values compare, with NaN above
// +Inf (all NaN alike), so that a box holding NaN still has a median.
bool ranks_below(float a, float b) { return a < b || (b != b && a == a); }

// Copies the N values of a data column (stride XMAX) into OUT, sorted
// ascending by insertion (a column is at most the box height).
void sort_column(const float* column, Index xmax, float* out, Index n) {
  for (Index i = 0; i < n; ++i) {
    const float v = column[i * xmax];
    Index j = i;
    for (; j > 0 && ranks_below(v, out[j - 1]); --j) out[j] = out[j - 1];
    out[j] = v;
  }
}

// The median filter's region, box reach and arrays, shared by its helpers.
struct MedianJob {
  const float* data;
  Index xmaxdat;
  Index xs, ys, xe, ye;
  Index before_x, after_x, before_y, after_y;
  float* out;  // element (x, y) at out[element(x, y, xmaxout)]
  Index xmaxout;
  bool negative_zero;  // the region holds a -0.0
};

// The sliding sorted list: per step one column's entries leave and one
// insertion-sorted column is merged in from the back, so equal values stand
// newest column first and, within a column, top to bottom. It needs no work
// memory of its own: the road when there is none for the others.
void median_by_merging(const MedianJob& job, float* col, float* list, Index* from) {
  for (Index y = job.ys; y <= job.ye; ++y) {
    const Index y0 = std::max(job.ys, y - job.before_y);
    const Index y1 = std::min(job.ye, y + job.after_y);
    const Index n = y1 - y0 + 1;
    Index m = 0;

    // Sorts column X of the box and merges it into the list from the back.
    auto enter = [&](Index x) {
      sort_column(job.data + element(x, y0, job.xmaxdat), job.xmaxdat, col, n);
      Index i = m - 1;
      Index j = n - 1;
      for (Index k = m + n - 1; j >= 0; --k) {
        if (i >= 0 && !ranks_below(list[i], col[j])) {
          list[k] = list[i];
          from[k] = from[i];
          --i;
        } else {
          list[k] = col[j];
          from[k] = x;
          --j;
        }
      }
      m += n;
    };

    for (Index x = job.xs; x <= std::min(job.xe, job.xs + job.after_x - 1); ++x) enter(x);
    float* out = job.out + element(1, y, job.xmaxout);
    for (Index x = job.xs; x <= job.xe; ++x) {
      const Index leaving = x - job.before_x - 1;
      if (leaving >= job.xs) {
        // Branch-free: on noisy data whether an entry leaves is unpredictable.
        Index w = 0;
        for (Index r = 0; r < m; ++r) {
          list[w] = list[r];
          from[w] = from[r];
          w += from[r] != leaving;
        }
        m = w;
      }
      if (x + job.after_x <= job.xe) enter(x + job.after_x);
      out[x - 1] = (m % 2 == 1) ? list[m / 2] : (list[m / 2 - 1] + list[m / 2]) * 0.5f;
    }
  }
}

// The key of NaN, above every other key.
constexpr std::int32_t kNanKey = std::numeric_limits<std::int32_t>::max();

// Integer key of a float that orders as the median filter orders the
// values; both zeros get the key 0.
std::int32_t order_key(float v) {
  const auto bits = std::bit_cast<std::int32_t>(v);
  const std::int32_t k = bits ^ ((bits >> 31) & 0x7FFFFFFF);
  return v != v ? kNanKey : k + ((k >> 31) & 1);
}

// The value of a key (a zero comes back as +0.0, every NaN as the quiet one).
float key_value(std::int32_t k) {
  if (k == kNanKey) return std::numeric_limits<float>::quiet_NaN();
  k -= (k >> 31) & 1;
  return std::bit_cast<float>(k ^ ((k >> 31) & 0x7FFFFFFF));
}

// The zero that the sliding list holds at rank P of the clipped box of (x, y)
// when that rank holds a zero: equal values stand newest column first, and
// top to bottom within a column, so the sign of a zero depends on that order.
float signed_zero_at(const MedianJob& job, Index x, Index y, Index p) {
  const Index x0 = std::max(job.xs, x - job.before_x), x1 = std::min(job.xe, x + job.after_x);
  const Index y0 = std::max(job.ys, y - job.before_y), y1 = std::min(job.ye, y + job.after_y);
  Index r = p;
  for (Index yy = y0; yy <= y1; ++yy)
    for (Index xx = x0; xx <= x1; ++xx) r -= job.data[element(xx, yy, job.xmaxdat)] < 0.0f;
  for (Index xx = x1; xx >= x0; --xx)
    for (Index yy = y0; yy <= y1; ++yy) {
      const float v = job.data[element(xx, yy, job.xmaxdat)];
      if (v == 0.0f && r-- == 0) return v;
    }
  return 0.0f;  // not reached: rank P holds a zero
}

// A rank selected from a window of keys, with the count of keys at or
// below it.
struct Ranked {
  std::int32_t key;
  Index at_or_below;
};

// The key of rank P (0-based) among W[0..M), M below 2^31. The previous
// pixel's answer GUESS is usually a rank or two away, so the search walks
// from it over the distinct values between, one pass over the window a
// value; far off it selects in a copy (SCRATCH). The passes are the median
// filter's whole cost, so wider vectors pay.
KESTA_WIDE_VECTORS
Ranked select_rank(const std::int32_t* w, Index m, Index p, std::int32_t guess,
                   std::int32_t* scratch, bool have_guess) {
  constexpr int kMaxSteps = 6;
  constexpr std::int32_t kTop = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kBottom = std::numeric_limits<std::int32_t>::min();
  if (have_guess) {
    std::int32_t lt = 0, le = 0;
    std::int32_t above = kTop, under = kBottom;  // nearest keys either side
    for (Index i = 0; i < m; ++i) {
      lt += w[i] < guess;
      le += w[i] <= guess;
      above = std::min(above, w[i] > guess ? w[i] : kTop);
      under = std::max(under, w[i] < guess ? w[i] : kBottom);
    }
    if (p >= lt && p < le) return {guess, le};
    if (p >= le) {
      Index below = le;  // keys below NEXT
      std::int32_t next = above;
      for (int step = 0; step < kMaxSteps; ++step) {
        std::int32_t eq = 0, after = kTop;
        for (Index i = 0; i < m; ++i) {
          eq += w[i] == next;
          after = std::min(after, w[i] > next ? w[i] : kTop);
        }
        below += eq;
        if (p < below) return {next, below};
        next = after;
      }
    } else {
      Index below = lt;  // keys below the previous candidate
      std::int32_t next = under;
      for (int step = 0; step < kMaxSteps; ++step) {
        std::int32_t eq = 0, before = kBottom;
        for (Index i = 0; i < m; ++i) {
          eq += w[i] == next;
          before = std::max(before, w[i] < next ? w[i] : kBottom);
        }
        if (p >= below - eq) return {next, below};
        below -= eq;
        next = before;
      }
    }
  }
  std::copy(w, w + m, scratch);
  std::nth_element(scratch, scratch + p, scratch + m);
  const std::int32_t key = scratch[p];
  std::int32_t le = 0;
  for (Index i = 0; i < m; ++i) le += w[i] <= key;
  return {key, le};
}

// Keys of data line YY, columns C0 .. C1, into slot J of each column of a
// strip whose columns hold STRIDE keys.
void load_keys(const MedianJob& job, Index yy, Index c0, Index c1, std::int32_t* strip,
               Index stride, Index j) {
  const float* row = job.data + element(c0, yy, job.xmaxdat);
  for (Index i = 0; i <= c1 - c0; ++i) strip[i * stride + j] = order_key(row[i]);
}

// Medians of line Y for x = XA .. XB, each over its clipped box, from the
// keys of the box's lines held column after column in S (from column C0 on,
// N keys a column, in any order within a column), so every box is one run of
// S.
void medians_from_strip(const MedianJob& job, Index y, Index xa, Index xb, const std::int32_t* s,
                        Index c0, Index n, std::vector<std::int32_t>& scratch) {
  float* out = job.out + element(1, y, job.xmaxout);
  std::int32_t guess = 0;
  bool have_guess = false;
  for (Index x = xa; x <= xb; ++x) {
    const Index lo = std::max(job.xs, x - job.before_x);
    const Index hi = std::min(job.xe, x + job.after_x);
    const std::int32_t* w = s + (lo - c0) * n;
    const Index m = (hi - lo + 1) * n;
    const Index p = (m - 1) / 2;
    const Ranked a = select_rank(w, m, p, guess, scratch.data(), have_guess);
    guess = a.key;
    have_guess = true;
    float low = key_value(a.key);
    if (job.negative_zero && a.key == 0) low = signed_zero_at(job, x, y, p);
    if (m % 2 == 1) {
      out[x - 1] = low;
      continue;
    }
    std::int32_t b = a.key;
    if (a.at_or_below <= p + 1) {
      constexpr std::int32_t kTop = std::numeric_limits<std::int32_t>::max();
      b = kTop;
      for (Index i = 0; i < m; ++i) b = std::min(b, w[i] > a.key ? w[i] : kTop);
    }
    float high = key_value(b);
    if (job.negative_zero && b == 0) high = signed_zero_at(job, x, y, p + 1);
    out[x - 1] = (low + high) * 0.5f;
  }
}

// 3 x 3 medians of line Y for x = XA .. XB, whose boxes are whole: each
// column's three values are sorted once, and the median of the nine is the
// median of the largest low, the middle middle and the smallest high.
// LOW, MID and HIGH hold the sorted columns XA - 1 .. XB + 1.
void median3_line(const MedianJob& job, Index y, Index xa, Index xb, float* low, float* mid,
                  float* high) {
  const Index count = xb - xa + 3;
  const float* r0 = job.data + element(xa - 1, y - 1, job.xmaxdat);
  const float* r1 = r0 + job.xmaxdat;
  const float* r2 = r1 + job.xmaxdat;
  for (Index i = 0; i < count; ++i) {
    const float t = std::min(r0[i], r1[i]);
    const float u = std::max(r0[i], r1[i]);
    const float v = std::max(t, r2[i]);
    low[i] = std::min(t, r2[i]);
    mid[i] = std::min(u, v);
    high[i] = std::max(u, v);
  }
  float* out = job.out + element(xa, y, job.xmaxout);
  for (Index i = 0; i < count - 2; ++i) {
    const float lo = std::max(std::max(low[i], low[i + 1]), low[i + 2]);
    const float hi = std::min(std::min(high[i], high[i + 1]), high[i + 2]);
    const float m01 = std::min(mid[i], mid[i + 1]);
    const float md = std::max(m01, std::min(std::max(mid[i], mid[i + 1]), mid[i + 2]));
    out[i] = std::max(std::min(lo, md), std::min(std::max(lo, md), hi));
  }
  if (job.negative_zero)
    for (Index x = xa; x <= xb; ++x)
      if (out[x - xa] == 0.0f) out[x - xa] = signed_zero_at(job, x, y, 4);
}

// Following the region's ranks costs about the square root of the region's
// count a pixel, selecting in every box the box's count: ranks are followed
// for a box of more than a third of that square root.
bool ranked_box(Index box, Index count) {
  const auto b = static_cast<double>(box);
  return box > 16 && 9.0 * b * b > static_cast<double>(count);
}

// Positions past the last rank, where a block search may look.
constexpr Index kBlockPad = 64;

// The box of one pixel, in region coordinates from 0.
struct RankBox {
  std::uint16_t x0, y0, dx, dy;  // first column and line, and the spans less one
};

// How many of the ranks R .. R + N - 1 lie in BOX (their columns PX and
// lines PY given rank by rank).
KESTA_WIDE_VECTORS
int count_inside(const std::uint16_t* __restrict px, const std::uint16_t* __restrict py, Index r,
                 int n, RankBox box) {
  int inside = 0;
  for (int i = 0; i < n; ++i) {
    const std::uint16_t a = static_cast<std::uint16_t>(px[r + i] - box.x0);
    const std::uint16_t b = static_cast<std::uint16_t>(py[r + i] - box.y0);
    inside += (a <= box.dx) & (b <= box.dy);
  }
  return inside;
}

// K (0-based) counted over the box's ranks from FROM on: the rank (there is one).
Index kth_inside(const std::uint16_t* px, const std::uint16_t* py, Index from, Index k,
                 RankBox box) {
  constexpr int kBlock = 64;
  Index r = from;
  for (;; r += kBlock) {
    const int n = count_inside(px, py, r, kBlock, box);
    if (k < n) break;
    k -= n;
  }
  for (;; ++r) {
    const std::uint16_t a = static_cast<std::uint16_t>(px[r] - box.x0);
    const std::uint16_t b = static_cast<std::uint16_t>(py[r] - box.y0);
    if (a <= box.dx && b <= box.dy && k-- == 0) return r;
  }
}

// KERNEL += ADD - SUB over N bins.
template <typename Count>
KESTA_WIDE_VECTORS void move_histogram(Count* __restrict kernel,
                                       const std::uint16_t* __restrict add,
                                       const std::uint16_t* __restrict sub, Index n) {
  for (Index b = 0; b < n; ++b) kernel[b] = static_cast<Count>(kernel[b] + add[b] - sub[b]);
}

// Bins of the ranks gathered 32 to a group: the box keeps the histogram of
// the groups up to date, and that of a group's bins only when its median is
// sought there.
constexpr int kGroupShift = 5;
constexpr Index kGroup = Index{1} << kGroupShift;

// Every box a sorted list of the region's values would give, in a time that
// does not depend on the box: the region is ranked once (by value in the
// filter's order, equal values newest column first and top to bottom, as the
// sliding list holds them), the ranks are cut into about sqrt(count) bins,
// and each column keeps a histogram of the bins, and one of their groups,
// over the lines of the box. A step along a line adds one column's group
// histogram and takes one away; the median's group is found from the box's
// group histogram, its bin from the box's histogram of that group's bins
// (brought up to the box's columns when it was last used elsewhere), and
// the member within the bin by the positions of the bin's ranks. False when
// the region is too wide or there is no memory for the ranks.
bool median_by_ranks(const MedianJob& job) {
  const Index width = job.xe - job.xs + 1, height = job.ye - job.ys + 1;
  const Index count = width * height;
  if (width > 65535 || height > 65535) return false;
  // Bins of 2^SHIFT ranks, about the square root of COUNT, but larger while
  // the columns' histograms would pass 16 MB.
  int shift = 0;
  while ((Index{1} << (2 * (shift + 1))) <= count) ++shift;
  while (shift < 15 && width * (((count - 1) >> shift) + 1) > (Index{1} << 23)) ++shift;
  const Index groups = ((count - 1) >> (shift + kGroupShift)) + 1;
  const Index bins = groups * kGroup;
  // Bin counts are at most the bin's size, column counts the box's height.
  if (shift > 15 || width > (Index{1} << 28) / bins) return false;
  std::vector<std::uint32_t> rank;  // of element (x, y) at x + y * width
  std::vector<float> value;         // of each rank
  std::vector<std::uint16_t> px, py, columns, column_groups, kernel, none;
  std::vector<std::uint32_t> kernel_groups;
  std::vector<Index> from, to;  // the columns each group's bins in KERNEL count
  try {
    rank.resize(static_cast<std::size_t>(count));
    value.resize(rank.size());
    px.resize(rank.size());
    py.resize(rank.size());
    columns.resize(static_cast<std::size_t>(width * bins));
    column_groups.resize(static_cast<std::size_t>(width * groups));
    kernel.resize(static_cast<std::size_t>(bins));
    none.resize(kernel.size());  // the histogram of no column
    kernel_groups.resize(static_cast<std::size_t>(groups));
    from.resize(kernel_groups.size());
    to.resize(kernel_groups.size());
    std::vector<std::uint64_t> items(rank.size()), spare(rank.size());
    // Listed in the order of equal values, then sorted stably by key.
    std::size_t k = 0;
    for (Index x = job.xe; x >= job.xs; --x)
      for (Index y = job.ys; y <= job.ye; ++y) {
        const float v = job.data[element(x, y, job.xmaxdat)];
        const auto key = static_cast<std::uint32_t>(order_key(v)) ^ 0x80000000u;
        items[k++] = (std::uint64_t{key} << 32) |
                     static_cast<std::uint64_t>((x - job.xs) + (y - job.ys) * width);
      }
    for (int digit = 32; digit < 64; digit += 8) {
      std::size_t start[257] = {};
      for (const std::uint64_t it : items) ++start[((it >> digit) & 255) + 1];
      if (start[((items[0] >> digit) & 255) + 1] == items.size()) continue;  // one value
      for (int d = 0; d < 256; ++d) start[d + 1] += start[d];
      for (const std::uint64_t it : items) spare[start[(it >> digit) & 255]++] = it;
      items.swap(spare);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      const auto at = static_cast<Index>(items[i] & 0xFFFFFFFFu);
      rank[static_cast<std::size_t>(at)] = static_cast<std::uint32_t>(i);
      px[i] = static_cast<std::uint16_t>(at % width);
      py[i] = static_cast<std::uint16_t>(at / width);
      const float v = job.data[element(job.xs + at % width, job.ys + at / width, job.xmaxdat)];
      value[i] = v == v ? v : std::numeric_limits<float>::quiet_NaN();
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Past the last rank, positions no box holds end every block search.
  px.resize(px.size() + kBlockPad, 65535);
  py.resize(py.size() + kBlockPad, 65535);

  const Index bx = job.before_x, ax = job.after_x, by = job.before_y, ay = job.after_y;
  const std::uint32_t* r = rank.data();
  std::uint16_t* kh = kernel.data();
  std::uint32_t* kg = kernel_groups.data();
  auto column = [&](Index x) { return columns.data() + x * bins; };
  auto column_group = [&](Index x) { return column_groups.data() + x * groups; };
  // Line YY enters (+1) or leaves (-1) every column, the box's columns X0 ..
  // X1 in the group histogram, and the columns each group's bins count.
  auto line = [&](Index yy, int sign, Index x0, Index x1) {
    for (Index x = 0; x < width; ++x) {
      const Index b = r[x + yy * width] >> shift, g = b >> kGroupShift;
      column(x)[b] = static_cast<std::uint16_t>(column(x)[b] + sign);
      column_group(x)[g] = static_cast<std::uint16_t>(column_group(x)[g] + sign);
      if (x >= x0 && x <= x1) kg[g] += static_cast<std::uint32_t>(sign);
      if (x >= from[g] && x <= to[g]) kh[b] = static_cast<std::uint16_t>(kh[b] + sign);
    }
  };
  // Group G's bins brought from columns FROM .. TO to X0 .. X1.
  auto refresh = [&](Index g, Index x0, Index x1) {
    std::uint16_t* bin = kh + g * kGroup;
    auto add = [&](Index a, Index b, bool in) {
      // Unsigned, so that the product wraps instead of overflowing an int
      // (the counts are kept modulo 2^16 all the same).
      const unsigned sign = in ? 1u : 0xFFFFu;
      for (Index x = a; x <= b; ++x) {
        const std::uint16_t* c = column(x) + g * kGroup;
        for (Index k = 0; k < kGroup; ++k)
          bin[k] = static_cast<std::uint16_t>(bin[k] + sign * c[k]);
      }
    };
    const Index f = from[g], t = to[g];
    if (f == x0 && t == x1) return;
    if (std::max(f, x0) > std::min(t, x1) || (x0 - f) + (t - x1) > x1 - x0) {
      std::fill(bin, bin + kGroup, std::uint16_t{0});
      add(x0, x1, true);
    } else {
      add(f, std::min(t, x0 - 1), false);
      add(std::max(f, x1 + 1), t, false);
      add(x0, std::min(x1, f - 1), true);
      add(std::max(x0, t + 1), x1, true);
    }
    from[g] = x0;
    to[g] = x1;
  };
  const Index first_x1 = std::min(width - 1, ax);
  std::fill(to.begin(), to.end(), first_x1);
  for (Index yy = 0; yy <= std::min(height - 1, ay); ++yy) line(yy, 1, 0, first_x1);

  Index group = 0;     // the last median's group
  bool next_in_bin = false;  // the last member found has a follower in its bin
  // The rank of the box's member P.
  auto member = [&](Index p, const RankBox& box) {
    Index below = 0;
    for (Index g = 0; g < group; ++g) below += kg[g];
    while (below > p) below -= kg[--group];
    while (below + kg[group] <= p) below += kg[group++];
    refresh(group, box.x0, box.x0 + box.dx);
    Index b = group * kGroup;
    while (below + kh[b] <= p) below += kh[b++];
    next_in_bin = p + 1 < below + kh[b];
    return kth_inside(px.data(), py.data(), b << shift, p - below, box);
  };
  for (Index y = 0; y < height; ++y) {
    const bool forward = y % 2 == 0;
    const Index y0 = std::max<Index>(0, y - by), y1 = std::min(height - 1, y + ay);
    if (y > 0) {  // down one line at the end where the last line stopped
      const Index x = forward ? 0 : width - 1;
      const Index x0 = std::max<Index>(0, x - bx), x1 = std::min(width - 1, x + ax);
      if (y - by - 1 >= 0) line(y - by - 1, -1, x0, x1);
      if (y + ay < height) line(y + ay, 1, x0, x1);
    }
    float* out = job.out + element(job.xs, job.ys + y, job.xmaxout);
    for (Index i = 0; i < width; ++i) {
      const Index x = forward ? i : width - 1 - i;
      if (i > 0) {
        const Index leaving = forward ? x - bx - 1 : x + ax + 1;
        const Index entering = forward ? x + ax : x - bx;
        const std::uint16_t* add =
            entering >= 0 && entering < width ? column_group(entering) : none.data();
        const std::uint16_t* sub =
            leaving >= 0 && leaving < width ? column_group(leaving) : none.data();
        if (add != sub) move_histogram(kg, add, sub, groups);
      }
      const Index x0 = std::max<Index>(0, x - bx), x1 = std::min(width - 1, x + ax);
      const RankBox box{static_cast<std::uint16_t>(x0), static_cast<std::uint16_t>(y0),
                        static_cast<std::uint16_t>(x1 - x0), static_cast<std::uint16_t>(y1 - y0)};
      const Index m = (x1 - x0 + 1) * (y1 - y0 + 1);
      const Index p = (m - 1) / 2;
      const Index low = member(p, box);
      float v = value[static_cast<std::size_t>(low)];
      if (m % 2 == 0) {
        // The next member, most often a few ranks on.
        const Index high =
            next_in_bin ? kth_inside(px.data(), py.data(), low + 1, 0, box) : member(p + 1, box);
        v = (v + value[static_cast<std::size_t>(high)]) * 0.5f;
      }
      out[x] = v;
    }
  }
  return true;
}

// A value V passing through the box filter's running sums (double) leaves up
// to |V| 2^-53 of rounding in every later box of its column and line, and
// 1e30 swallows the other values whole. Finite values of 2^32 or more, and
// 2^29 times the smallest non-zero size of the region or more, are therefore
// kept apart from the running sums, as are values that are not finite
// numbers and values the caller leaves out: the others leave rounding below
// the last bit of a float box sum of 8, or of the smallest value. Clean data
// (the usual case) and data scaled as a whole never leave the plain running
// sums.
struct ValuesApart {
  float from = std::numeric_limits<float>::infinity();  // finite sizes kept apart
  std::vector<std::uint8_t> lines;  // per line of the region: 1 when it holds one
  bool any = false;
};

// The largest size of the WIDTH values at D and the smallest non-zero one,
// less 1 (0xFFFFFFFF for none), as bits: integer maxima and minima.
struct SizeBits {
  std::uint32_t top = 0, below_least = 0xFFFFFFFFu;
};
KESTA_WIDE_VECTORS
SizeBits size_bits(const float* d, Index width) {
  std::uint32_t top = 0, below_least = 0xFFFFFFFFu;  // a size of zero wraps to the top
  for (Index i = 0; i < width; ++i) {
    const std::uint32_t b = std::bit_cast<std::uint32_t>(d[i]) & 0x7FFFFFFFu;
    top = std::max(top, b);
    below_least = std::min(below_least, b - 1u);
  }
  return {top, below_least};
}

// Whether any of the N values from P is not 0 (an OR of them all, which
// vectorises, where a search stopping at the first would not).
template <typename T>
bool any_set(const T* p, Index n) {
  T any = 0;
  for (Index i = 0; i < n; ++i) any |= p[i];
  return any != 0;
}

// Most of a line's columns hold nothing to count apart: lines are looked
// at in chunks of this many columns, and a chunk that holds nothing is
// passed at once.
constexpr Index kChunk = 64;

// The region of a box filter: HEIGHT lines of WIDTH values from FIRST,
// STRIDE apart; LEFT_OUT, when given, marks (1) the values to leave out, at
// the same places.
struct BoxRegion {
  const float* first;
  const std::uint8_t* left_out;
  Index stride, width, height;
  const float* line(Index j) const { return first + j * stride; }
  const std::uint8_t* line_left_out(Index j) const { return left_out + j * stride; }
};

// Which lines of the region hold a value kept apart.
ValuesApart values_apart(const BoxRegion& r) {
  ValuesApart apart;
  apart.lines.assign(static_cast<std::size_t>(r.height), 0);
  std::vector<std::uint32_t> tops(static_cast<std::size_t>(r.height));
  std::uint32_t below_least = 0xFFFFFFFFu;
  for (Index j = 0; j < r.height; ++j) {
    const SizeBits line = size_bits(r.line(j), r.width);
    tops[static_cast<std::size_t>(j)] = line.top;
    below_least = std::min(below_least, line.below_least);
  }
  double from = 0x1p32;
  if (below_least < 0x7F800000u - 1u)  // a finite value other than zero
    from = std::max(from, std::bit_cast<float>(below_least + 1u) * 0x1p29);
  if (from <= std::numeric_limits<float>::max()) apart.from = static_cast<float>(from);
  // Sizes and infinity order as their bits, NaN above.
  const std::uint32_t from_bits = std::bit_cast<std::uint32_t>(apart.from);
  for (Index j = 0; j < r.height; ++j) {
    const auto at = static_cast<std::size_t>(j);
    const bool left = r.left_out != nullptr && any_set(r.line_left_out(j), r.width);
    apart.lines[at] = tops[at] >= from_bits || left ? 1 : 0;
    apart.any = apart.any || apart.lines[at] != 0;
  }
  return apart;
}

// Rounding of one double addition relative to its result, and the share of a
// sum of huge values that its rounding may reach before it is formed again
// from the values themselves (far below a float's last bit).
constexpr double kRounding = 0x1p-53;
constexpr double kRoundedTooFar = 0x1p-30;

// What a line of boxes gives: the sum or mean of every box (the box
// filter), or only where a box holds a value left out, the mean of the
// others (the box's own element not left out).
enum class BoxResult { kSum, kMean, kKnownMean };

// What the running sums of the box filter keep apart, column by column: the
// counts of NaN, +Inf, -Inf, huge and left-out values in the box's rows, and
// the sum of the huge ones with a bound on its rounding. A sum whose rounding
// has grown too far beside what is left of it (1e20 left in a column after
// 3.4e38 passed) is formed again from the column's values. After the plain
// running sums have given a line, the boxes over columns holding such values
// are given again, from partial sums along their stretch of the line alone
// (or from the box's own columns when that rounding is too large beside the
// box's huge values).
class KeptApart {
 public:
  KeptApart(Index width, float from)
      : width_(width),
        from_(from),
        counts_(kKinds * static_cast<std::size_t>(width), 0),
        line_counts_(kKinds * static_cast<std::size_t>(width + 1), 0),
        held_(static_cast<std::size_t>(width), 0),
        huge_(static_cast<std::size_t>(width), 0.0),
        rounding_(static_cast<std::size_t>(width), 0.0),
        line_huge_(static_cast<std::size_t>(width + 1), 0.0),
        line_rounding_(static_cast<std::size_t>(width + 1), 0.0) {}

  bool kept_apart(float v) const { return !(std::fabs(v) < from_); }

  // V, a value kept apart (LEFT: left out), enters (SIGN 1) or leaves (-1)
  // column I.
  void count(Index i, float v, bool left, int sign) {
    const std::size_t kind = left           ? kLeftOut
                             : std::isnan(v) ? 0
                             : std::isinf(v) ? (v > 0.0f ? 1 : 2)
                                             : kHuge;
    const auto at = static_cast<std::size_t>(i);
    held_[at] += sign;
    held_in_rows_ += sign;
    const Index n = counts_[kKinds * at + kind] += sign;
    if (kind != kHuge) return;
    if (n == 0) {  // none left: exactly nothing
      huge_[at] = 0.0;
      rounding_[at] = 0.0;
      return;
    }
    huge_[at] += sign * double{v};
    rounding_[at] += std::fabs(huge_[at]) * kRounding;
    if (sign < 0) left_.push_back(i);
  }

  // Forms again the huge sums that rounding took too far, from the ROWS
  // lines of the box from line TOP of the region.
  void form_again_where_rounded(const BoxRegion& r, Index top, Index rows) {
    for (const Index i : left_) {
      const auto at = static_cast<std::size_t>(i);
      if (counts_[kKinds * at + kHuge] == 0 ||
          rounding_[at] <= std::fabs(huge_[at]) * kRoundedTooFar)
        continue;
      double sum = 0.0, rounding = 0.0;
      for (Index j = top; j < top + rows; ++j) {
        const float v = r.line(j)[i];
        const bool left = r.left_out != nullptr && r.line_left_out(j)[i] != 0;
        if (std::isfinite(v) && kept_apart(v) && !left) {
          sum += v;
          rounding += std::fabs(sum) * kRounding;
        }
      }
      huge_[at] = sum;
      rounding_[at] = rounding;
    }
    left_.clear();
  }

  // Gives again the boxes of the line OUT (box reach BEFORE and AFTER, ROWS
  // rows) whose columns hold a value kept apart, OWN marking the line's
  // elements left out; USUAL holds the partial sums of the plain column sums
  // along the line.
  void give_line_again(Index before, Index after, double rows, BoxResult result,
                       const double* usual, const std::uint8_t* own, float* out) {
    if (held_in_rows_ == 0) return;
    const Line line{before, after, rows, result, usual, own, out};
    Index first = -1, last = -2;  // the stretch of boxes to give again
    for (Index c0 = 0; c0 < width_; c0 += kChunk) {
      const Index c1 = std::min(width_, c0 + kChunk);
      if (!any_set(held_.data() + c0, c1 - c0)) continue;
      for (Index c = c0; c < c1; ++c) {
        if (held_[static_cast<std::size_t>(c)] == 0) continue;
        const Index b0 = std::max<Index>(0, c - after), b1 = std::min(width_ - 1, c + before);
        if (b0 > last + 1) {
          if (first >= 0) give_again(first, last, line);
          first = b0;
        }
        last = std::max(last, b1);
      }
    }
    if (first >= 0) give_again(first, last, line);
  }

  // The sum of column I, whose plain values add up to USUAL.
  double column_sum(Index i, double usual) const {
    const auto at = static_cast<std::size_t>(i);
    const Index* n = counts_.data() + kKinds * at;
    return with_kept_apart({n[0], n[1], n[2], n[3], n[4]}, usual, [&] { return huge_[at]; });
  }

 private:
  static constexpr std::size_t kKinds = 5;  // NaN, +Inf, -Inf, huge, left out
  static constexpr std::size_t kHuge = 3;
  static constexpr std::size_t kLeftOut = 4;

  struct Line {
    Index before, after;
    double rows;
    BoxResult result;
    const double* usual;
    const std::uint8_t* own;
    float* out;
  };

  // The sum of values counted N (per kind) besides plain ones adding up to
  // USUAL, the huge ones adding up to HUGE(); left-out values take no part.
  template <typename Huge>
  static double with_kept_apart(const Index (&n)[kKinds], double usual, Huge huge) {
    if (n[0] > 0 || (n[1] > 0 && n[2] > 0)) return std::numeric_limits<double>::quiet_NaN();
    if (n[1] > 0) return std::numeric_limits<double>::infinity();
    if (n[2] > 0) return -std::numeric_limits<double>::infinity();
    return n[kHuge] == 0 ? usual : usual + huge();
  }

  // Boxes FIRST .. LAST of the line from partial sums over their columns alone.
  void give_again(Index first, Index last, const Line& line) {
    const Index c0 = std::max<Index>(0, first - line.before);
    const Index c1 = std::min(width_ - 1, last + line.after);
    for (Index c = c0; c <= c1; ++c) {
      const auto k = static_cast<std::size_t>(c - c0), at = static_cast<std::size_t>(c);
      for (std::size_t kind = 0; kind < kKinds; ++kind)
        line_counts_[kKinds * (k + 1) + kind] =
            line_counts_[kKinds * k + kind] + counts_[kKinds * at + kind];
      line_huge_[k + 1] = line_huge_[k] + huge_[at];
      line_rounding_[k + 1] = line_rounding_[k] + std::fabs(line_huge_[k + 1]) * kRounding;
    }
    for (Index i = first; i <= last; ++i) {
      const Index lo = std::max<Index>(0, i - line.before);
      const Index hi = std::min(width_ - 1, i + line.after);
      const auto a = static_cast<std::size_t>(lo - c0), b = static_cast<std::size_t>(hi + 1 - c0);
      Index n[kKinds];
      for (std::size_t kind = 0; kind < kKinds; ++kind)
        n[kind] = line_counts_[kKinds * b + kind] - line_counts_[kKinds * a + kind];
      const bool known = line.result == BoxResult::kKnownMean;
      if (known && (n[kLeftOut] == 0 || line.own[i] != 0)) continue;
      const double sum = with_kept_apart(n, line.usual[hi + 1] - line.usual[lo], [&] {
        double huge = line_huge_[b] - line_huge_[a];
        if (line_rounding_[b] + line_rounding_[a] > std::fabs(huge) * kRoundedTooFar) {
          huge = 0.0;
          for (Index c = lo; c <= hi; ++c) huge += huge_[static_cast<std::size_t>(c)];
        }
        return huge;
      });
      const double count = static_cast<double>(hi - lo + 1) * line.rows -
                           static_cast<double>(n[kLeftOut]);
      line.out[i] = static_cast<float>(line.result == BoxResult::kSum ? sum : sum / count);
    }
  }

  Index width_;
  float from_;                      // finite sizes kept apart
  std::vector<Index> counts_;       // kKinds a column
  std::vector<Index> line_counts_;  // their partial sums along a stretch of the line
  std::vector<Index> held_;         // values kept apart a column
  std::vector<double> huge_;        // the sum of a column's huge values
  std::vector<double> rounding_;    // a bound on the rounding of huge_
  std::vector<double> line_huge_;   // partial sums of huge_ along a stretch of the line
  std::vector<double> line_rounding_;
  std::vector<Index> left_;         // columns a huge value left since the last line
  Index held_in_rows_ = 0;          // values kept apart in the box's rows
};

// The box filter of region R (box reach BEFORE_X, AFTER_X, BEFORE_Y,
// AFTER_Y) into OUT (its region's first element, lines STRIDE_OUT apart) as
// RESULT says, and the column sums of the last line into WORK when given.
// Running column sums and a line of partial sums make each box cost a
// constant number of additions. False when memory ran short (OUT untouched).
bool box_filter(const BoxRegion& r, Index before_x, Index after_x, Index before_y, Index after_y,
                BoxResult result, float* out_first, Index stride_out, float* work) {
  ValuesApart values;
  std::vector<double> sums;     // column sums over the box's rows
  std::vector<double> partial;  // partial[i]: sum of the first i column sums
  std::vector<float> line_kept;  // a line with the values kept apart as 0
  std::optional<KeptApart> apart;
  try {
    values = values_apart(r);
    sums.assign(static_cast<std::size_t>(r.width), 0.0);
    partial.assign(static_cast<std::size_t>(r.width + 1), 0.0);
    if (values.any) {
      apart.emplace(r.width, values.from);
      line_kept.resize(static_cast<std::size_t>(r.width));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Means of the values not left out are given only where a box holds one.
  if (result == BoxResult::kKnownMean && !values.any) return true;
  const Index width = r.width, height = r.height;
  double* s = sums.data();
  double* p = partial.data();
  float* kept = line_kept.data();
  const std::uint32_t from = std::bit_cast<std::uint32_t>(values.from);
  auto add_line = [&](Index j, int sign) {
    const float* d = r.line(j);
    if (values.lines[static_cast<std::size_t>(j)] == 0) {
      for (Index i = 0; i < width; ++i) s[i] += sign * d[i];
      return;
    }
    // Sizes compared as bits (NaN above infinity), in a loop of 32-bit lanes
    // of its own, so that both loops vectorise.
    const auto size = [](float v) { return std::bit_cast<std::uint32_t>(v) & 0x7FFFFFFFu; };
    for (Index i = 0; i < width; ++i) kept[i] = size(d[i]) < from ? d[i] : 0.0f;
    if (r.left_out != nullptr) {
      const std::uint8_t* out = r.line_left_out(j);
      for (Index i = 0; i < width; ++i) kept[i] = out[i] == 0 ? kept[i] : 0.0f;
    }
    for (Index i = 0; i < width; ++i) s[i] += sign * kept[i];
    const std::uint8_t* out = r.left_out != nullptr ? r.line_left_out(j) : nullptr;
    for (Index c0 = 0; c0 < width; c0 += kChunk) {
      const Index c1 = std::min(width, c0 + kChunk);
      std::uint32_t large = 0;
      for (Index i = c0; i < c1; ++i) large |= size(d[i]) >= from ? 1u : 0u;
      if (large == 0 && (out == nullptr || !any_set(out + c0, c1 - c0))) continue;
      for (Index i = c0; i < c1; ++i) {
        const bool left = out != nullptr && out[i] != 0;
        if (left || size(d[i]) >= from) apart->count(i, d[i], left, sign);
      }
    }
  };

  for (Index j = 0; j < std::min(height, after_y); ++j) add_line(j, 1);
  for (Index y = 0; y < height; ++y) {
    if (y - before_y - 1 >= 0) add_line(y - before_y - 1, -1);
    if (y + after_y < height) add_line(y + after_y, 1);
    const Index y0 = std::max<Index>(0, y - before_y), y1 = std::min(height - 1, y + after_y);
    const double rows = static_cast<double>(y1 - y0 + 1);
    for (Index i = 0; i < width; ++i) p[i + 1] = p[i] + s[i];
    float* out = out_first + y * stride_out;
    if (result != BoxResult::kKnownMean) {
      const bool average = result == BoxResult::kMean;
      for (Index i = 0; i < width; ++i) {
        const Index lo = std::max<Index>(0, i - before_x);
        const Index hi = std::min(width - 1, i + after_x);
        const double sum = p[hi + 1] - p[lo];
        out[i] =
            static_cast<float>(average ? sum / (static_cast<double>(hi - lo + 1) * rows) : sum);
      }
    }
    if (apart) {
      apart->form_again_where_rounded(r, y0, y1 - y0 + 1);
      apart->give_line_again(before_x, after_x, rows, result, p,
                             r.left_out != nullptr ? r.line_left_out(y) : nullptr, out);
    }
  }
  if (work != nullptr)
    for (Index i = 0; i < width; ++i)
      work[i] = static_cast<float>(apart ? apart->column_sum(i, s[i]) : s[i]);
  return true;
}

}  // namespace

void MA_MEDFILTER(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                  Index maxsorted, Index maxcolumn, Index xmaxout, Index ymaxout,
                  std::span<float> column, std::span<float> sorted, std::span<Index> source,
                  std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_MEDIANFILTER V0.3";
  if (st_bad(status, kPosition)) return;
  Status e = maxsorted < 1 || maxcolumn < 1 ? kBaseMath + 1 : 0;
  if (e == 0)
    e = region_span_error({{xmaxdat, ymaxdat, data.size()}, {xmaxout, ymaxout, output.size()}},
                          xstrelm, ystrelm, xendelm, yendelm);
  if (e == 0) e = box_size_error(xsize, ysize);
  Index box = 0;
  if (e == 0 && (!checked_product(xsize, ysize, box) || maxsorted < box)) e = kBaseMath + 5;
  if (e == 0 && maxcolumn < ysize) e = kBaseMath + 37;
  if (e == 0)
    e = span_error({{maxcolumn, 1, column.size()}, {maxsorted, 1, sorted.size()},
                    {maxsorted, 1, source.size()}});
  if (e != 0) return st_fail(status, e, kPosition);

  MedianJob job{data.data(), xmaxdat,       xstrelm,       ystrelm,
                xendelm,     yendelm,       (xsize - 1) / 2, xsize / 2,
                (ysize - 1) / 2, ysize / 2, output.data(), xmaxout, false};
  // Equal values are told apart only by the sign of a zero; NaN compares with
  // nothing, so the sorting network cannot take it.
  bool nan = false;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = job.data + element(xstrelm, y, xmaxdat);
    bool row_nan = false, row_zero = false;
    for (Index i = 0; i <= xendelm - xstrelm; ++i) {
      const auto bits = std::bit_cast<std::uint32_t>(row[i]);
      row_nan |= (bits & 0x7FFFFFFFu) > 0x7F800000u;
      row_zero |= bits == 0x80000000u;
    }
    nan |= row_nan;
    job.negative_zero |= row_zero;
  }

  const Index width = xendelm - xstrelm + 1, height = yendelm - ystrelm + 1;
  // Large boxes follow the ranks of the region; a box is so counted when it
  // is large within the region.
  if (ranked_box(std::min(xsize, width) * std::min(ysize, height), width * height) &&
      median_by_ranks(job))
    return;
  // Whole 3 x 3 boxes take a sorting network; every other box selects by rank.
  const bool whole3 = xsize == 3 && ysize == 3 && width >= 3 && !nan;
  std::vector<std::int32_t> strip, ring, scratch;
  std::vector<float> sorted3;
  // Boxes are counted in 32 bits; the strip holds the largest box.
  const Index strip_size = width * std::min(ysize, yendelm - ystrelm + 1);
  bool use_list = strip_size > std::numeric_limits<std::int32_t>::max();
  if (!use_list) {
    try {
      strip.resize(static_cast<std::size_t>(strip_size));
      scratch.resize(strip.size());
      if (ysize <= yendelm - ystrelm + 1 && !whole3) ring.resize(strip.size());
      if (whole3) sorted3.resize(static_cast<std::size_t>(3 * width));
    } catch (const std::bad_alloc&) {
      use_list = true;  // no room for the work lines: the sliding list needs none
    }
  }
  if (use_list) return median_by_merging(job, column.data(), sorted.data(), source.data());

  // Medians of line Y for x = XA .. XB from a strip loaded for them alone.
  auto line_by_rank = [&](Index y, Index xa, Index xb) {
    const Index y0 = std::max(ystrelm, y - job.before_y);
    const Index n = std::min(yendelm, y + job.after_y) - y0 + 1;
    const Index c0 = std::max(xstrelm, xa - job.before_x);
    const Index c1 = std::min(xendelm, xb + job.after_x);
    for (Index j = 0; j < n; ++j) load_keys(job, y0 + j, c0, c1, strip.data(), n, j);
    medians_from_strip(job, y, xa, xb, strip.data(), c0, n, scratch);
  };

  // Lines whose boxes have all YSIZE lines keep their keys in a ring: line yy
  // stays in slot (yy - YSTRELM) mod YSIZE of every column, so each further
  // line loads one new line of keys.
  Index ring_last = 0;  // last data line in the ring, 0 while it is empty
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const bool whole_lines = y - job.before_y >= ystrelm && y + job.after_y <= yendelm;
    if (whole3 && whole_lines) {
      line_by_rank(y, xstrelm, xstrelm);
      median3_line(job, y, xstrelm + 1, xendelm - 1, sorted3.data(), sorted3.data() + width,
                   sorted3.data() + 2 * width);
      line_by_rank(y, xendelm, xendelm);
    } else if (whole_lines) {
      const Index y1 = y + job.after_y;
      for (Index yy = ring_last == y1 - 1 ? y1 : y - job.before_y; yy <= y1; ++yy)
        load_keys(job, yy, xstrelm, xendelm, ring.data(), ysize, (yy - ystrelm) % ysize);
      ring_last = y1;
      medians_from_strip(job, y, xstrelm, xendelm, ring.data(), xstrelm, ysize, scratch);
    } else {
      line_by_rank(y, xstrelm, xendelm);
    }
  }
}

void MA_TOPHATCON(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                  bool average, Index xmaxout, Index ymaxout, std::span<float> output,
                  Status& status) {
  constexpr const char* kPosition = "Subroutine MA_TOPHATCON V0.2";
  if (st_bad(status, kPosition)) return;
  std::vector<float> work;
  // A region end beyond the arrays is refused by MA_TOPHAT2CON before the
  // work line is touched; only a sane length is allocated.
  const Index length =
      std::clamp<Index>(xendelm, 1, std::max<Index>(1, std::min(xmaxdat, xmaxout)));
  try {
    work.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  MA_TOPHAT2CON(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xsize, ysize, average,
                std::max<Index>(xendelm, length), xmaxout, ymaxout, work, output, status);
}

void MA_TOPHAT2CON(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                   bool average, Index maxwork, Index xmaxout, Index ymaxout, std::span<float> work,
                   std::span<float> output, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_TOPHAT2CON V0.2";
  if (st_bad(status, kPosition)) return;
  Status e =
      region_span_error({{xmaxdat, ymaxdat, data.size()}, {xmaxout, ymaxout, output.size()}},
                        xstrelm, ystrelm, xendelm, yendelm);
  if (e == 0) e = box_size_error(xsize, ysize);
  if (e == 0 && maxwork < xendelm) e = kBaseMath + 37;
  if (e == 0) e = span_error({{xendelm, 1, work.size()}});
  if (e != 0) return st_fail(status, e, kPosition);
  const BoxRegion region{data.data() + element(xstrelm, ystrelm, xmaxdat), nullptr, xmaxdat,
                         xendelm - xstrelm + 1, yendelm - ystrelm + 1};
  if (!box_filter(region, (xsize - 1) / 2, xsize / 2, (ysize - 1) / 2, ysize / 2,
                  average ? BoxResult::kMean : BoxResult::kSum,
                  output.data() + element(xstrelm, ystrelm, xmaxout), xmaxout,
                  work.data() + (xstrelm - 1)))
    return st_fail(status, kBaseCore + 1002, kPosition);
}

bool ma_known_box_means(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                        std::span<const std::uint8_t> left_out, Index xstrelm, Index ystrelm,
                        Index xendelm, Index yendelm, Index xsize, Index ysize,
                        std::span<float> output) {
  if (region_span_error({{xmaxdat, ymaxdat, data.size()},
                         {xmaxdat, ymaxdat, left_out.size()},
                         {xmaxdat, ymaxdat, output.size()}},
                        xstrelm, ystrelm, xendelm, yendelm) != 0 ||
      box_size_error(xsize, ysize) != 0)
    return false;
  const Index first = element(xstrelm, ystrelm, xmaxdat);
  const BoxRegion region{data.data() + first, left_out.data() + first, xmaxdat,
                         xendelm - xstrelm + 1, yendelm - ystrelm + 1};
  return box_filter(region, (xsize - 1) / 2, xsize / 2, (ysize - 1) / 2, ysize / 2,
                    BoxResult::kKnownMean, output.data() + first, xmaxdat, nullptr);
}

void MA_SYMFUN(float bin_width, Index maxfunc, Index numfunc, std::span<const float> function,
               float xcentre, float ycentre, int mode, float xscale, float yscale, Index xmaxdat,
               Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
               std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_SYMFUN V0.3";
  if (st_bad(status, kPosition)) return;
  const ArrayShape profile{maxfunc, 1, function.size()}, image{xmaxdat, ymaxdat, array.size()};
  Status e = dimensions_error({image, profile}, kBaseMath);
  if (e == 0) e = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseMath);
  // The profile must have a first element to fall back on.
  if (e == 0 && ((mode != 0 && mode != 1) || numfunc < 1 || numfunc > maxfunc)) e = kBaseMath + 17;
  // Radii are counted in bins: a width of zero or less measures nothing.
  if (e == 0 && (!(bin_width > 0.0f) || !std::isfinite(bin_width))) e = kBaseMath + 21;
  if (e == 0) e = span_error({{numfunc, 1, function.size()}, image});
  if (e != 0) return st_fail(status, e, kPosition);

  const float* f = function.data();
  const double last = static_cast<double>(numfunc);
  const double width = bin_width;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const double dy = (double{ycentre} - (static_cast<double>(y) - 0.5)) * yscale;
    float* row = array.data() + element(1, y, xmaxdat);
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const double dx = (double{xcentre} - (static_cast<double>(x) - 0.5)) * xscale;
      const double r = std::sqrt(dx * dx + dy * dy) / width;
      // k and the bin it names are decided in double, before any conversion.
      const double k = std::floor(r + 0.5) + 1.0;
      float add;
      if (mode == 0) {
        if (!(k >= 2.0)) {
          add = f[0];
        } else if (k >= last) {
          add = f[numfunc - 1];
        } else {
          add = f[static_cast<Index>(k) - 1];
        }
      } else {
        if (!(k > 1.0)) {
          add = f[0];
        } else if (k > last) {
          add = f[numfunc - 1];
        } else {
          const Index ki = static_cast<Index>(k);
          const double frac = r + 1.5 - k;
          add = static_cast<float>(frac * f[ki - 1] + (1.0 - frac) * f[ki - 2]);
        }
      }
      row[x - 1] += add;
    }
  }
}

void MA_DIFZSCALE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, float& zmin, float& zmax,
                  Status& status) {
  constexpr const char* kPosition = "Subroutine MA_DIFZSCALE V0.4";
  if (st_bad(status, kPosition)) return;
  if (const Status e =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data.size());
      e != 0)
    return st_fail(status, e, kPosition);

  const Index xc = (xstrelm + xendelm) / 2;
  const Index yc = (ystrelm + yendelm) / 2;
  const Index width = xendelm - xstrelm + 1;
  const Index height = yendelm - ystrelm + 1;
  const Index hx = std::max<Index>(60, width / 5);
  const Index hy = std::max<Index>(60, height / 5);

  bool first = true;
  // Statistics of one sample box clipped to the region; widens the range.
  auto sample = [&](Index x0, Index y0, Index x1, Index y1) {
    x0 = std::max(x0, xstrelm);
    y0 = std::max(y0, ystrelm);
    x1 = std::min(x1, xendelm);
    y1 = std::min(y1, yendelm);
    if (x0 > x1 || y0 > y1) return;
    float maximum = 0, minimum = 0, mean = 0, total = 0, rms = 0, sigma = 0, skewness = 0;
    float f1 = 0, f2 = 0, f3 = 0, f4 = 0;
    Index left_out = 0;
    MA_STATISTICS(xmaxdat, ymaxdat, data, x0, y0, x1, y1, maximum, minimum, mean, total, rms, sigma,
                  skewness, f1, f2, f3, f4, left_out, status);
    // A box without a finite value says nothing about the range.
    if (status != kStatusGood || minimum > maximum) return;
    const float g = std::max(1.0f, std::fabs(skewness));
    const float low = std::max(minimum, mean - 3.0f * sigma / g);
    const float high = std::min(maximum, mean + 5.0f * sigma / g);
    if (first) {
      zmin = low;
      zmax = high;
      first = false;
    } else {
      zmin = std::min(zmin, low);
      zmax = std::max(zmax, high);
    }
  };

  sample(xc - hx, yc - hy, xc + hx, yc + hy);
  if (width > 240 && height > 240) {
    sample(xc - 120, yc - 120, xc - 60, yc - 60);
    sample(xc + 60, yc + 60, xc + 120, yc + 120);
  }
  if (width > 999 && height > 999) {
    sample(xc - 260, yc + 200, xc - 200, yc + 260);
    sample(xc + 200, yc - 260, xc + 260, yc - 200);
  }
  if (width >= 91 && height >= 91) {
    sample(xstrelm, ystrelm, xstrelm + 59, ystrelm + 59);
    sample(xendelm - 59, ystrelm, xendelm, ystrelm + 59);
    sample(xstrelm, yendelm - 59, xstrelm + 59, yendelm);
    sample(xendelm - 59, yendelm - 59, xendelm, yendelm);
  }
}

}  // namespace kesta
