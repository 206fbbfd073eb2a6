#include "app/diffraction/cake.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/diffraction/geometry.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/parallel.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "numeric/wide_vectors.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kesta {

namespace {

constexpr Status kAppBase = 110000;
constexpr std::string_view kName = "Subroutine KZT_CAL2_CAKE V0.1";
// Blocks of the table: rectangles of the region fixed by the problem alone,
// so that sums do not depend on the threads. Many more than the processors
// when the sums of every bin fit a few megabytes: a processor slowed by other
// work (or a thread started late) then holds the rest back by a small block
// only, and a small rectangle adds to few bins. Otherwise eight row strips.
constexpr Index kBlocks = 8, kGridBlocks = 32;
constexpr double kGridSumsLimit = 8.0 * 1024 * 1024;
// Columns of the rectangles: at least this many pixels wide, so that their
// rows still run in long straight loops.
constexpr Index kGridWidth = 512, kGridColumns = 4;

// A frame's sum and a bin's weight, added together.
using Pair = double __attribute__((vector_size(16)));

struct Share {
  std::uint32_t bin;  // (m - 1) + (k - 1) x NUM_2THETA
  float share;        // overlap fraction divided by the polarisation factor
};
static_assert(sizeof(Share) == 8, "an entry is written as 8 bytes");

// A pixel's count of entries as the table holds it (see Block::counts).
constexpr std::uint32_t kManyEntries = 255;
constexpr Index kCountRow = 64;
inline Index count_row(Index width) { return (width + kCountRow - 1) / kCountRow * kCountRow; }

// A large array and the elements it has room for.
template <class T>
struct Room {
  LargeArray<T> data;
  std::size_t size = 0;
  bool zeroed = false;  // every element 0 (known only for the sums of a block)
};

struct alignas(128) Block {
  Index ystart = 0, yend = -1, xstart = 0, xend = -1;
  // Entries per pixel of the block's rows, a byte each, each row padded to
  // a multiple of kCountRow bytes: kManyEntries for a pixel of that many or
  // more, whose count is then the next of MANY (in pixel order).
  Room<std::uint8_t> counts;
  std::vector<std::uint32_t> many;
  // The shares, row after row, in chunks of their own (a row never
  // straddles two), and the first share of each row.
  std::vector<Room<Share>> chunks;
  std::vector<const Share*> rows;
  // Per bin, the frame's sum and the summed overlap fractions, side by
  // side: kSpare spare slots, then bins ORIGIN .. ORIGIN + WINDOW - 1, the
  // window growing as the block's pixels reach further bins (the room kept
  // with the table when small, for the next table's set-up).
  Room<Pair> sums;
  Index origin = 0, window = 0;
  // Azimuth rows the block's own numbering of the bins is turned by: bin n
  // is its (n + TURN x NUM_2THETA) mod bins. Half a turn for a block across
  // the start of a full circle, so that the bins it adds to are one run in
  // its numbering (its window, the bins added up and the table's entries
  // are all in it).
  Index turn = 0;
  // A frame's sums through the kept table, of bins TOUCHED_FIRST ..
  // TOUCHED_LAST (kept with it when small).
  Room<double> frame;
  // The bins whose sums the block adds to (the sums of the others stay 0),
  // first and last, and the radial bins among them (0-based): in each
  // azimuth row it adds to those only.
  Index touched_first = std::numeric_limits<Index>::max(), touched_last = -1;
  Index radial_first = std::numeric_limits<Index>::max(), radial_last = -1;
  double min_factor = 1.7e38;
  Index nonfinite = 0;  // NaN and infinite pixels of the rows, left out
};

// Everything that changes a pixel's share, compared value for value.
using Key = std::vector<std::uint64_t>;

struct Table {
  // The arguments but the mask, and the mask (the pixels left out).
  Key key, mask_key;
  Index bins = 0;
  Index nonfinite = 0;  // NaN and infinite pixels of the region, left out
  std::vector<Block> blocks;
  std::vector<double> weights;
  double min_factor = 1.7e38;
  float azimuth_step = 0, radial_step = 0, radial_start = 0;
};

// The most memory a table's blocks keep of each kind of sums between calls.
constexpr double kKeptSums = 64.0 * 1024 * 1024;

// Arrays of a table being replaced, lent to the set-up of the next one:
// memory the process already has is written at once, where memory new from
// the system is first cleared by it, page by page (a fifth of a set-up).
// Taken by the blocks' threads in any order: the memory does not change a
// value. What is not taken is freed with it.
template <class T>
class Lender {
 public:
  void give(Room<T>&& room) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (room.data) spare_.push_back(std::move(room));
  }
  // An array of at least SIZE elements, lent or new.
  Room<T> take(std::size_t size) {
    Room<T> room = lent(size);
    if (!room.data) room = {large_array<T>(static_cast<Index>(size)), size};
    return room;
  }
  // The smallest lent array of at least SIZE elements, or none (so that the
  // large ones are left for the large sizes).
  Room<T> lent(std::size_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    auto best = spare_.end();
    for (auto it = spare_.begin(); it != spare_.end(); ++it)
      if (it->size >= size && (best == spare_.end() || it->size < best->size)) best = it;
    if (best == spare_.end()) return {};
    Room<T> room = std::move(*best);
    spare_.erase(best);
    return room;
  }
  void clear() { spare_.clear(); }

 private:
  std::mutex mutex_;
  std::vector<Room<T>> spare_;
};

// The memory of a replaced table, by kind.
struct Spare {
  Lender<Share> chunks;
  Lender<std::uint8_t> counts;
  Lender<Pair> sums;
  Lender<double> frames;
  std::vector<double> weights;
  // The old blocks (their rectangles and windows of sums, cleared), for the
  // blocks of the same rectangles and bins: after a change of geometry they
  // reach about the same bins, so their windows seldom need to grow.
  std::vector<Block> windows;
  Index bins = 0;

  // (What cannot be listed for want of memory stays with OLD, to be freed
  // with it.)
  explicit Spare(Table&& old) noexcept : weights(std::move(old.weights)), bins(old.bins) {
    try {
      windows.reserve(old.blocks.size());
      for (Block& b : old.blocks) {
        for (Room<Share>& c : b.chunks) chunks.give(std::move(c));
        counts.give(std::move(b.counts));
        frames.give(std::move(b.frame));
        if (b.sums.data && b.sums.zeroed)
          windows.push_back(std::move(b));  // (its other arrays lent above)
        else
          sums.give(std::move(b.sums));
      }
    } catch (const std::bad_alloc&) {
    }
  }
  // Gives each of BLOCKS (of BINS bins) the window of the old block of its
  // rectangle; the others' memory is lent.
  void place_windows(std::vector<Block>& blocks, Index new_bins) {
    for (Block& old : windows) {
      if (new_bins == bins)
        for (Block& b : blocks)
          if (!b.sums.data && b.xstart == old.xstart && b.xend == old.xend &&
              b.ystart == old.ystart && b.yend == old.yend && b.turn == old.turn) {
            b.sums = std::move(old.sums);
            b.origin = old.origin;
            b.window = old.window;
            break;
          }
      if (old.sums.data) sums.give(std::move(old.sums));
    }
    windows.clear();
  }
  void clear() {
    chunks.clear();
    counts.clear();
    sums.clear();
    frames.clear();
    weights = {};
    windows.clear();
  }
};

// The engine's one state block: the kept table, its build count, the threads.
struct CakeState {
  Table table;
  bool valid = false;
  std::int64_t builds = 0;
  int threads = 0;
} cake_state;

// The arguments that shape the table, after the checks.
struct Setup {
  Index xmaxdat, xstrelm, ystrelm, xendelm, yendelm;
  int scan_type;
  double inner, outer, start_azimuth, azimuth_range;
  Index num_2theta, num_azimuthal;
  bool correct_polarisation;
  double polarisation;
  double h, w, o, t_in, dt, aw;
  bool full_circle;
  // Displacements of the pixel centres in pixels (shape of DATA), or empty.
  std::span<const float> x_shift, y_shift;
  double xps, yps;
};

// Progress of a pass over the region's rows, said every 300 rows. The
// blocks' threads count the pixels they have passed (a row of a block
// narrower than the region counts for its share); only the calling thread
// writes, whenever the count has passed further multiples of 300 rows, and
// the rest when the pass has ended.
class RowProgress {
 public:
  RowProgress(Index rows, Index width, Status& status)
      : rows_(rows), width_(std::max<Index>(width, 1)), status_(status),
        caller_(std::this_thread::get_id()) {}
  // PIXELS more passed (any thread).
  void passed(Index pixels) {
    const Index total = passed_.fetch_add(pixels, std::memory_order_relaxed) + pixels;
    if (std::this_thread::get_id() == caller_) say_up_to(total / width_);
  }
  // Every row passed (the calling thread).
  void finish() { say_up_to(rows_); }
  // The pass begun again (the table set up anew after a want of memory):
  // the lines written stand.
  void restart() { passed_ = 0; }

 private:
  static constexpr Index kEvery = 300;
  void say_up_to(Index rows) {
    for (Index next = said_ + kEvery; next <= std::min(rows, rows_); next += kEvery) {
      const auto percent = static_cast<Index>(static_cast<double>(next) * 100.0 /
                                              static_cast<double>(rows_));
      IO_WRITE("INFO: Number of rows treated = " + format_i(next, 6) + " (" +
                   format_i(percent, 3) + "%)",
               status_);
      said_ = next;
    }
  }
  const Index rows_, width_;
  Status& status_;
  const std::thread::id caller_;
  std::atomic<Index> passed_{0};
  Index said_ = 0;  // the last multiple said (the calling thread's own)
};

// Hash of the bytes of the region of an array of DATA's shape, eight at a
// time (the mask, the displacements).
template <class T>
std::uint64_t region_hash(std::span<const T> array, Index xmaxdat, Index xs, Index ys, Index xe,
                          Index ye) {
  if (array.empty()) return 0x9e3779b97f4a7c15ull;
  std::uint64_t h = 0xcbf29ce484222325ull;
  const auto mix = [&h](std::uint64_t v) {
    h ^= v;
    h *= 0x100000001b3ull;
    h ^= h >> 29;
  };
  const Index width = (xe - xs + 1) * static_cast<Index>(sizeof(T));
  for (Index j = ys; j <= ye; ++j) {
    const auto* row = reinterpret_cast<const std::uint8_t*>(array.data() + element(xs, j, xmaxdat));
    Index i = 0;
    for (; i + 8 <= width; i += 8) {
      std::uint64_t v;
      std::memcpy(&v, row + i, 8);
      mix(v);
    }
    std::uint64_t tail = 0;
    for (; i < width; ++i) tail = (tail << 8) | row[i];
    mix(tail ^ static_cast<std::uint64_t>(j));
  }
  return h;
}

// V held within -LIMIT .. LIMIT, a NaN at -LIMIT: one maximum and one
// minimum instruction in a vector loop (std::clamp's branches cost more).
inline double within(double v, double limit) {
  const double c = v > -limit ? v : -limit;
  return c < limit ? c : limit;
}
inline float within(float v, float limit) {
  const float c = v > -limit ? v : -limit;
  return c < limit ? c : limit;
}

// V in single precision, held within +-1e30 so that it converts whatever
// it is (the reciprocal span of a footprint narrower than 1e-30 bins, or of
// none).
inline float single(double v) { return static_cast<float>(within(v, 1.0e30)); }

// Arc tangent of X >= 0 in single precision with selects only, so that a
// row of them vectorises: reduced to |x| <= tan(pi / 8) and a polynomial
// (relative error below 2e-7, about 1e-5 degree at most: three roundings of a float).
inline float atan_nonnegative(float x) {
  const bool big = x > 2.414213562f, mid = x > 0.4142135624f;
  const float below = x - 1.0f, above = x + 1.0f;
  const float num = big ? -1.0f : mid ? below : x;
  const float den = big ? x : mid ? above : 1.0f;
  const float base = big ? 1.570796327f : mid ? 0.7853981634f : 0.0f;
  const float v = num / den, z = v * v;
  return base +
         ((((8.05374449538e-2f * z - 1.38776856032e-1f) * z + 1.99777106478e-1f) * z -
           3.33329491539e-1f) *
              z * v +
          v);
}

// Angle of (X, Y) from +X in -pi..pi as atan2, 0 within 1e-8 of the origin.
inline float atan2_select(float y, float x) {
  const float ax = std::abs(x), ay = std::abs(y);
  const float low = std::min(ax, ay), high = std::max(ax, ay);
  float t = atan_nonnegative(low / (high > 0.0f ? high : 1.0f));
  t = ay > ax ? 1.570796327f - t : t;
  t = x < 0.0f ? 3.141592654f - t : t;
  t = y < 0.0f ? -t : t;
  return ax < 1.0e-8f && ay < 1.0e-8f ? 0.0f : t;
}

// A row's 2-theta (from RADIUS, negative for no angle), azimuth and
// polarisation, each a straight loop: where the polarisation is applied
// (POLARISED 1) and the reciprocal of its factor, which divides the shares.
// The factor is worked out in single precision, as the shares are stored.
KESTA_WIDEST_VECTORS
void angles_row(const double* __restrict radius, const double* __restrict x,
                const double* __restrict y, std::size_t n, float inverse_d, bool azimuths,
                bool polarisation, float p, float* __restrict two_theta,
                float* __restrict azimuth, float* __restrict polarised,
                float* __restrict inverse) {
  for (std::size_t i = 0; i < n; ++i)
    two_theta[i] =
        atan_nonnegative(static_cast<float>(radius[i] > 0.0 ? radius[i] : 0.0) * inverse_d);
  if (azimuths) {
    for (std::size_t i = 0; i < n; ++i)
      azimuth[i] = atan2_select(static_cast<float>(y[i]), static_cast<float>(x[i]));
  }
  if (polarisation)
    for (std::size_t i = 0; i < n; ++i) {
      const float xf = static_cast<float>(x[i]), yf = static_cast<float>(y[i]);
      const float xx = xf * xf, yy = yf * yf, rr = xx + yy;
      // With cos^2(2-theta) = 1 / (1 + q^2), q = r / D (which holds for any
      // distance), and cos(2 azimuth) = (xx - yy) / rr (1 at the beam
      // centre), the factor ((1 + cos^2) - (1 - cos^2) cos(2 azimuth) P) / 2
      // is a quotient, UPPER / LOWER.
      // (q^2 held below 1e20, where the factor no longer changes with it, so
      // that no product overflows.)
      const float q = static_cast<float>(radius[i]) * inverse_d, qq = std::min(q * q, 1.0e20f);
      const float across = rr > 0.0f ? rr : 1.0f, along = rr > 0.0f ? xx - yy : 1.0f;
      const float upper = (2.0f + qq) * across - qq * along * p;
      const float lower = 2.0f * (1.0f + qq) * across;
      // Applied off the beam centre only: there its reciprocal, else 1.
      const bool off_centre = !(std::abs(x[i]) <= 1.0e-6 && std::abs(y[i]) <= 1.0e-6);
      polarised[i] = off_centre ? 1.0f : 0.0f;
      inverse[i] = off_centre ? within(lower / upper, 1.0e30f) : 1.0f;
    }
}

// 1 for a NaN or infinite value (exponent bits all set), else 0: a compare
// of integers, so that loops of it vectorise.
inline std::uint32_t nonfinite_bit(float v) {
  return (std::bit_cast<std::uint32_t>(v) & 0x7F800000u) == 0x7F800000u ? 1u : 0u;
}

// Threads for BLOCKS blocks: as many as asked for, else every processor,
// never more than blocks.
Index thread_count(Index blocks) {
  return std::clamp<Index>(
      cake_state.threads > 0 ? Index{cake_state.threads} : processor_count(), 1, blocks);
}

// Runs WORK(b) for every block, each thread taking the next block not yet
// taken.
template <class Work>
void for_blocks(Index blocks, Work work) {
  const Index threads = thread_count(blocks);
  std::atomic<Index> next{0};
  run_parts(threads, [&](Index) {
    for (Index b = next++; b < blocks; b = next++) work(b);
  });
}

// Bin number (1-based) of the position V in bins: truncated toward zero, a
// footprint reaching below the first bin leaving its whole share in it; or,
// around a full circle (WRAP), floored so that the footprint wraps through 0.
// Integer conversions of the clamped value, which equal trunc and floor there.
inline Index bin_of(double v, bool wrap) {
  const double c = within(v, 1.0e15);
  Index t = static_cast<Index>(c);
  if (wrap) t -= c < static_cast<double>(t) ? 1 : 0;
  return t + 1;
}

// The azimuthal footprint of each pixel of a row in bins and the reciprocal
// of its width (r aw / 2h, no division); a pixel beyond the azimuth range
// gets an empty radial span (left out later).
KESTA_WIDEST_VECTORS
void azimuth_spans(std::size_t n, const float* __restrict azimuth,
                   const double* __restrict radius, double start, double aw, double h,
                   double range, const double* __restrict edge_lo, double* __restrict edge_hi,
                   double* __restrict lo, double* __restrict hi, float* __restrict per_span) {
  const double per_bin = 1.0 / aw, per_width = aw / (2.0 * h), per_circle = aw / (2.0 * M_PI);
  for (std::size_t i = 0; i < n; ++i) {
    double a = static_cast<double>(azimuth[i]) - start;
    a = a < 0.0 ? a + 2.0 * M_PI : a;
    // A pixel at the beam centre covers every azimuth.
    const double r = radius[i];
    const double ratio = h / (r > 0.0 ? r : 1.0);
    const bool part = (r > 0.0) & (ratio < M_PI);
    const double half = part ? ratio : M_PI;
    lo[i] = (a - half) * per_bin;
    hi[i] = (a + half) * per_bin;
    per_span[i] = single(part ? r * per_width : per_circle);
    edge_hi[i] = a > range ? edge_lo[i] : edge_hi[i];
  }
}

// Where a block's shares are written: row after row into chunks allocated
// ahead (no copy of a finished row), a row moved whole into a new chunk when
// it does not fit.
class ShareWriter {
 public:
  // EXPECTED: about how many entries the block will hold (its chunks are no
  // larger, unless a row needs it).
  ShareWriter(Block& b, std::size_t expected, Lender<Share>& lender)
      : b_(b), expected_(expected), lender_(lender) {}
  // Room for ROOM more entries of the current row; the row's first free entry.
  Share* room(std::size_t room) {
    if (used_ + room > capacity_) grow(room);
    return base_ + used_;
  }
  void add(std::size_t entries) { used_ += entries; }
  void end_row() {
    b_.rows.push_back(base_ + row_first_);
    row_first_ = used_;
  }

 private:
  // Two megabytes, one large page: a row moved on wastes little of it.
  static constexpr std::size_t kChunk = std::size_t{1} << 18;

  void grow(std::size_t room) {
    const std::size_t row = used_ - row_first_;
    const std::size_t capacity = std::max(std::min(kChunk, expected_), 2 * (row + room));
    Room<Share> chunk = lender_.take(capacity);
    if (row > 0) std::memcpy(chunk.data.get(), base_ + row_first_, row * sizeof(Share));
    base_ = chunk.data.get();
    capacity_ = chunk.size;
    b_.chunks.push_back(std::move(chunk));
    used_ = row;
    row_first_ = 0;
  }

  Block& b_;
  std::size_t expected_;
  Lender<Share>& lender_;
  Share* base_ = nullptr;
  std::size_t capacity_ = 0, used_ = 0, row_first_ = 0;
};

// Pixels of a row worked out together, from their radii to the entries
// written: the scratch of every step of a tile (about 40 KB) stays in the
// nearest cache between the straight loops and the pass that writes the
// table. (Steps over whole rows of 512 pixels spilled it. Tiles of 128
// pixels set up a little faster still, but frames through their tables
// ran an eighth slower at 4096 x 4096, for want of a reason found.)
constexpr std::size_t kTile = 192;
// Spare sums before the window of bins: the zero shares of footprints
// narrower than two bins each way go there, spread so that neighbouring
// pixels' adds do not wait on one another.
constexpr std::size_t kSpare = 32;

// Makes room in B's sums for bins LO .. HI (of 0 .. BINS - 1): a larger
// window, with half as much again to grow into on each side it grew, the
// sums so far moved into it; memory from LENDER.
void widen(Block& b, Index lo, Index hi, Index bins, Lender<Pair>& lender) {
  const Index end = b.origin + b.window;
  const bool empty = b.window == 0;
  if (!empty && lo >= b.origin && hi < end) return;
  Index first = empty ? lo : std::min(lo, b.origin);
  Index last = empty ? hi : std::max(hi, end - 1);
  const Index slack = std::max<Index>(1024, (last - first + 1) / 2);
  if (empty || lo < b.origin) first = std::max<Index>(0, first - slack);
  if (empty || hi >= end) last = std::min(bins - 1, last + slack);
  Room<Pair> room = lender.take(static_cast<std::size_t>(last - first + 1) + kSpare);
  if (!room.zeroed) std::fill_n(room.data.get(), room.size, Pair{0.0, 0.0});
  room.zeroed = false;
  if (!empty) {
    Pair* const old = b.sums.data.get();
    std::copy_n(old + kSpare, b.window, room.data.get() + kSpare + (b.origin - first));
    // Lent again cleared, so that no block needs to clear the whole of it.
    std::fill_n(old, kSpare + static_cast<std::size_t>(b.window), Pair{0.0, 0.0});
    b.sums.zeroed = true;
    lender.give(std::move(b.sums));
  }
  b.sums = std::move(room);
  b.origin = first;
  b.window = last - first + 1;
}

// A tile's footprints of at most two bins each way (nearly every pixel):
// their entries in the order they are stored, and where each share and
// each frame value is added (a spare slot for a bin the footprint misses or
// an entry past the pixel's count).
struct Tile {
  std::int32_t kind[kTile];  // 0 no share, 1 at most two bins each way, 2 more
  // Entries of each pixel: written to the block's counts when the tile is
  // done (past the caches, see stream_counts).
  std::uint32_t count[kTile];
  // The four entries as stored: bin, then the share's bits.
  std::uint32_t entry[4][kTile][2];
  // Where each entry's frame value and overlap are added (a spare slot past
  // the pixel's count), and those two shares: the entry's and the overlap.
  std::int32_t target[4][kTile];
  float share[4][kTile][2];
  // Each footprint edge split into its bin (1-based, as bin_of gives it)
  // and its exact place in that bin, whether the pixel is kept (1) and the
  // reciprocal of its polarisation factor when it is kept and corrected
  // (else 0).
  std::int32_t lo_bin[kTile], hi_bin[kTile], alo_bin[kTile], ahi_bin[kTile], keep[kTile];
  float lo_part[kTile], hi_part[kTile], alo_part[kTile], ahi_part[kTile];
  float corrected[kTile];
  // The first and last bin the narrow entries add to (spare slots aside),
  // and radial bin (0-based).
  std::int32_t touched_first, touched_last, radial_first, radial_last;
};

// A row's footprints: edges in bins (exact), reciprocal spans and the
// polarisation's (single precision, as the shares), the polarisation (1
// where it is applied), the mask (1 where masked).
struct RowFootprints {
  const double* radius;
  const double *lo, *hi;
  const float* per_span;
  const double *alo, *ahi;
  const float* per_aspan;
  const float* inverse;
  const float* polarised;
  const float* masked;
};

// Positions the narrow sharing handles: within a billion bins, so that
// whole bins and their sums fit 32-bit lanes.
constexpr double kPlace = 1.0e9;

// Pixels FIRST .. FIRST + N - 1 of a row: which are kept, the reciprocals of
// their factors (see Tile::corrected), and
// their footprint edges split into whole bins and places in them (exact in
// double, the places then in single precision). A straight loop of doubles.
template <bool Wrap>
inline __attribute__((always_inline)) void split_edges(const Setup& s, const RowFootprints& in,
                                                       std::size_t first, std::size_t n, Tile& t) {
  const double inner = s.inner, outer = s.outer, h = s.h;
  const double d_scan = s.scan_type == kScanD ? 1.0 : 0.0;
  const double* __restrict radius = in.radius + first;
  const double *__restrict lower = in.lo + first, *__restrict upper = in.hi + first;
  const double *__restrict alower = in.alo + first, *__restrict aupper = in.ahi + first;
  const float* __restrict inverse = in.inverse + first;
  const float *__restrict polarised = in.polarised + first, *__restrict masked = in.masked + first;
  // V held within the places handled (a NaN, of a pixel never kept, at
  // the lower end) split into its whole bin (1-based; toward zero, or down
  // around a full circle) and its place in that bin: every conversion is of
  // a value in range, a place within +-1. (Only a narrow footprint's places
  // are used, and its edges are well within.)
  const auto split = [](double v, bool down, std::int32_t& bin, float& part) {
    const double c = within(v, kPlace);
    const double w = down ? std::floor(c) : std::trunc(c);
    bin = static_cast<std::int32_t>(w) + 1;
    part = static_cast<float>(c - w);
  };
#pragma GCC ivdep
  for (std::size_t k = 0; k < n; ++k) {
    const double r = radius[k], lo = lower[k], hi = upper[k];
    // Conditions as selects of doubles, so that the loop is straight.
    const double in_range = !(r < 0.0 || r < inner || r > outer) && hi - lo > 0.0 ? 1.0 : 0.0;
    // The direct beam has no d-spacing: a footprint reaching it adds nothing.
    const double beam = r - h <= 0.0 ? d_scan : 0.0;
    const double keep = in_range - beam - masked[k] > 0.5 ? 1.0 : 0.0;
    t.keep[k] = static_cast<std::int32_t>(keep);
    t.corrected[k] = keep + polarised[k] > 1.5 ? inverse[k] : 0.0f;
    split(lo, false, t.lo_bin[k], t.lo_part[k]);
    split(hi, false, t.hi_bin[k], t.hi_part[k]);
  }
  // The azimuths apart: one loop of both held too many values at once.
#pragma GCC ivdep
  for (std::size_t k = 0; k < n; ++k) {
    split(alower[k], Wrap, t.alo_bin[k], t.alo_part[k]);
    split(aupper[k], Wrap, t.ahi_bin[k], t.ahi_part[k]);
  }
}

// From the split edges, the kinds, counts and entries of the narrow
// footprints (see Tile): whole bins in 32-bit integers, fractions in single
// precision, eight to a vector. A footprint's fraction of its first bin is
// 1 - place of its lower edge (or the place of its upper edge when it ends
// there), of its second the place of its upper edge, at most 1.
template <bool Wrap>
inline __attribute__((always_inline)) void narrow_entries(const Setup& s, const RowFootprints& in,
                                                          std::size_t first,
                                                          std::size_t n, bool narrow_allowed,
                                                          std::int32_t spare, std::int32_t turn,
                                                          Tile& t) {
  const auto n2 = static_cast<std::int32_t>(narrow_allowed ? s.num_2theta : 1);
  const auto na = static_cast<std::int32_t>(narrow_allowed ? s.num_azimuthal : 1);
  // The widest narrow footprint: none when the bins do not fit the lanes.
  const std::int32_t widest = narrow_allowed ? 2 : 0;
  // The spans' reciprocals and the polarisation's, from the row.
  const float* __restrict per_span = in.per_span + first;
  const float* __restrict per_aspan = in.per_aspan + first;
  const float* __restrict inverse = in.inverse + first;
#pragma GCC ivdep
  for (std::size_t k = 0; k < n; ++k) {
    const std::int32_t ilo = t.lo_bin[k], ihi = t.hi_bin[k], klo = t.alo_bin[k], khi = t.ahi_bin[k];
    const std::int32_t m0 = ilo < 1 ? 1 : ilo, mlast = n2 < ihi ? n2 : ihi;
    const std::int32_t k0 = Wrap || klo >= 1 ? klo : 1;
    const std::int32_t klast = Wrap || khi <= na ? khi : na;
    const std::int32_t nm = mlast - m0 + 1, nk = klast - k0 + 1;
    // The azimuth bin around the circle, one turn either way; a footprint
    // further round is shared by the general code.
    std::int32_t kb0 = k0 - 1;
    kb0 = kb0 < 0 ? kb0 + na : kb0;
    kb0 = kb0 >= na ? kb0 - na : kb0;
    const bool valid = (t.keep[k] != 0) & (nm >= 1) & (nk >= 1);
    // 0 <= kb0 < na as one sign test (no unsigned compare in the vectors).
    const bool in_circle = (kb0 | (na - 1 - kb0)) >= 0;
    const bool narrow = valid & (nm <= widest) & (nk <= widest) & in_circle;
    // As integers, so that every select below is of 32-bit lanes.
    const std::int32_t is_narrow = narrow ? 1 : 0, is_valid = valid ? 1 : 0;
    t.kind[k] = 2 * is_valid - is_narrow;
    // Numbers of pixels that are not narrow are never used: held small (by
    // masks, not selects, which the vectors would have to widen).
    const std::int32_t keep_bits = -is_narrow;
    const std::int32_t snm = 1 + ((nm - 1) & keep_bits), snk = 1 + ((nk - 1) & keep_bits);
    const std::int32_t skb = kb0 & keep_bits, sm0 = 1 + ((m0 - 1) & keep_bits);
    t.count[k] = static_cast<std::uint32_t>(is_narrow * snm * snk);
    const bool two_m = narrow & (nm == 2), two_k = narrow & (nk == 2);
    const float ps = per_span[k], pa = per_aspan[k];
    const float below = (1.0f - t.lo_part[k]) * ps, above = t.hi_part[k] * ps;
    const float abelow = (1.0f - t.alo_part[k]) * pa, aabove = t.ahi_part[k] * pa;
    float f0 = sm0 == ilo ? below : sm0 == ihi ? above : ps;
    float f1 = sm0 + 1 == ihi ? above : ps;
    const std::int32_t sk0 = 1 + ((k0 - 1) & keep_bits);
    float a0 = sk0 == klo ? abelow : sk0 == khi ? aabove : pa;
    float a1 = sk0 + 1 == khi ? aabove : pa;
    f0 = 1.0f < f0 ? 1.0f : f0;
    f1 = two_m ? (1.0f < f1 ? 1.0f : f1) : 0.0f;
    a0 = 1.0f < a0 ? 1.0f : a0;
    a1 = two_k ? (1.0f < a1 ? 1.0f : a1) : 0.0f;
    // The second azimuth bin is the first again when there is one bin.
    const std::int32_t kb1 = !two_k ? skb : skb + 1 == na ? 0 : skb + 1;
    // In the block's own numbering (see Block::turn).
    const std::int32_t rk0 = skb + turn >= na ? skb + turn - na : skb + turn;
    const std::int32_t rk1 = kb1 + turn >= na ? kb1 + turn - na : kb1 + turn;
    const std::int32_t i00 = (sm0 - 1) + rk0 * n2, i10 = (sm0 - 1) + rk1 * n2;
    const std::int32_t i01 = two_m ? i00 + 1 : i00, i11 = two_m ? i10 + 1 : i10;
    const float s00 = f0 * a0, s01 = f1 * a0, s10 = f0 * a1, s11 = f1 * a1;
    const float inv = inverse[k];
    const float e00 = s00 * inv, e01 = s01 * inv, e10 = s10 * inv, e11 = s11 * inv;
    const std::int32_t slot = spare + static_cast<std::int32_t>(k & 7) * 4;
    // Stored as the two-by-two's entries: the second radial bin only when
    // there is one. The overlaps are added in that order too.
    const std::int32_t b1 = two_m ? i01 : i10;
    const float e1 = two_m ? e01 : e10, s1 = two_m ? s01 : s10;
    t.entry[0][k][0] = static_cast<std::uint32_t>(i00);
    t.entry[0][k][1] = std::bit_cast<std::uint32_t>(e00);
    t.entry[1][k][0] = static_cast<std::uint32_t>(b1);
    t.entry[1][k][1] = std::bit_cast<std::uint32_t>(e1);
    t.entry[2][k][0] = static_cast<std::uint32_t>(i10);
    t.entry[2][k][1] = std::bit_cast<std::uint32_t>(e10);
    t.entry[3][k][0] = static_cast<std::uint32_t>(i11);
    t.entry[3][k][1] = std::bit_cast<std::uint32_t>(e11);
    t.target[0][k] = i00;
    t.target[1][k] = two_m | two_k ? b1 : slot + 1;
    t.target[2][k] = two_m & two_k ? i10 : slot + 2;
    t.target[3][k] = two_m & two_k ? i11 : slot + 3;
    t.share[0][k][0] = e00;
    t.share[0][k][1] = s00;
    t.share[1][k][0] = e1;
    t.share[1][k][1] = s1;
    t.share[2][k][0] = e10;
    t.share[2][k][1] = s10;
    t.share[3][k][0] = e11;
    t.share[3][k][1] = s11;
  }
}

// The smallest factor of the pixels whose reciprocals are INVERSE(0 .. N-1)
// (0 for a pixel without one), 1.7e38 when none has one: the reciprocal of
// the largest reciprocal, by sixteen running maxima, so that the
// comparisons do not wait on one another. (Found from the reciprocals the
// shares are divided by, the factors themselves are not worked out: a
// division a pixel. It is the same to a rounding of a float.)
inline __attribute__((always_inline)) float smallest_factor(const float* inverse, std::size_t n) {
  float m[16];
  std::fill(m, m + 16, 0.0f);
  std::size_t k = 0;
  for (; k + 16 <= n; k += 16)
    for (std::size_t l = 0; l < 16; ++l) m[l] = inverse[k + l] > m[l] ? inverse[k + l] : m[l];
  for (; k < n; ++k) m[0] = inverse[k] > m[0] ? inverse[k] : m[0];
  float largest = m[0];
  for (std::size_t l = 1; l < 16; ++l) largest = m[l] > largest ? m[l] : largest;
  return largest > 0.0f ? 1.0f / largest : 1.7e38f;
}

// The kinds, counts and (for the narrow footprints) entries of pixels
// FIRST .. FIRST + N - 1 of a row, with the smallest polarisation factor of
// the pixels kept. NARROW_ALLOWED false sends every footprint to the
// general sharing. (The full circle is a template argument of the loops:
// a choice inside them would keep them from vectorising.)
KESTA_WIDEST_VECTORS
double narrow_footprints(const Setup& s, const RowFootprints& in, std::size_t first,
                         std::size_t n, bool narrow_allowed, std::int32_t spare,
                         std::int32_t turn, Tile& t) {
  if (s.full_circle) {
    split_edges<true>(s, in, first, n, t);
    narrow_entries<true>(s, in, first, n, narrow_allowed, spare, turn, t);
  } else {
    split_edges<false>(s, in, first, n, t);
    narrow_entries<false>(s, in, first, n, narrow_allowed, spare, turn, t);
  }
  // The bins added to: a narrow pixel's targets below SPARE, and its radial
  // bins (as masks, so that the loops vectorise).
  const auto n2 = static_cast<std::int32_t>(s.num_2theta);
  std::int32_t first_bin = INT32_MAX, last_bin = -1, first_m = INT32_MAX, last_m = -1;
  for (std::size_t k = 0; k < n; ++k) {
    const std::int32_t narrow = -static_cast<std::int32_t>(t.kind[k] == 1);
    std::int32_t low = INT32_MAX, high = -1;
    for (std::size_t e = 0; e < 4; ++e) {
      const std::int32_t v = t.target[e][k];
      const std::int32_t real = narrow & -static_cast<std::int32_t>(v < spare);
      low = std::min(low, (v & real) | (INT32_MAX & ~real));
      high = std::max(high, (v & real) | ~real);
    }
    first_bin = std::min(first_bin, low);
    last_bin = std::max(last_bin, high);
    const std::int32_t m_low = (t.lo_bin[k] < 1 ? 1 : t.lo_bin[k]) - 1;
    const std::int32_t m_high = (t.hi_bin[k] > n2 ? n2 : t.hi_bin[k]) - 1;
    first_m = std::min(first_m, (m_low & narrow) | (INT32_MAX & ~narrow));
    last_m = std::max(last_m, (m_high & narrow) | ~narrow);
  }
  t.touched_first = first_bin;
  t.touched_last = last_bin;
  t.radial_first = first_m;
  t.radial_last = last_m;
  return smallest_factor(t.corrected, n);
}

// The entries of one footprint of any size in bins LO..HI and azimuth bins
// ALO..AHI, written with WRITER (not yet added; the bins in the numbering
// turned by TURN azimuth rows, see Block::turn), and their overlap fractions
// in OVERLAP; their first entry and number.
std::pair<const Share*, std::size_t> wide_footprint(const Setup& s, bool every_azimuth, double lo,
                                                    double hi, double ps, double alo, double ahi,
                                                    double pa, double inv, Index turn,
                                                    std::vector<double>& fractions,
                                                    ShareWriter& writer,
                                                    std::vector<double>& overlap) {
  const Index n2 = s.num_2theta, na = s.num_azimuthal;
  const Index ilo = bin_of(lo, false), ihi = bin_of(hi, false);
  const Index mfirst = std::max<Index>(ilo, 1), mlast = std::min(ihi, n2);
  const Index klo = every_azimuth ? 1 : bin_of(alo, s.full_circle);
  const Index khi = every_azimuth ? 1 : bin_of(ahi, s.full_circle);
  const Index kfirst = s.full_circle ? klo : std::max<Index>(klo, 1);
  const Index klast = s.full_circle ? khi : std::min(khi, na);
  const Index nm = mlast - mfirst + 1;
  const auto need = static_cast<std::size_t>(nm * (klast - kfirst + 1));
  if (fractions.size() < static_cast<std::size_t>(nm)) fractions.resize(static_cast<std::size_t>(nm));
  if (overlap.size() < need) overlap.resize(need);
  Share* const first = writer.room(need);
  Share* out = first;
  for (Index m = mfirst; m <= mlast; ++m) {
    const double fr = m == ilo ? (m - lo) * ps : m == ihi ? (hi - (m - 1)) * ps : ps;
    fractions[static_cast<std::size_t>(m - mfirst)] = std::min(fr, 1.0);
  }
  double* o = overlap.data();
  for (Index k = kfirst; k <= klast; ++k) {
    double fa = k == klo ? (k - alo) * pa : k == khi ? (ahi - (k - 1)) * pa : pa;
    fa = std::min(fa, 1.0);
    Index kb = k - 1;
    while (kb < 0) kb += na;
    while (kb >= na) kb -= na;
    kb = kb + turn >= na ? kb + turn - na : kb + turn;  // the block's numbering
    const auto first_bin = static_cast<std::uint32_t>((mfirst - 1) + kb * n2);
    for (Index m = 0; m < nm; ++m) {
      const double share = fractions[static_cast<std::size_t>(m)] * fa;
      out[m] = {first_bin + static_cast<std::uint32_t>(m), static_cast<float>(share * inv)};
      o[m] = share;
    }
    out += nm;
    o += nm;
  }
  return {first, need};
}

// Asks for the WIDTH values from ROW ahead of their use: a short piece of a
// row (a row of a rectangle) is read too briefly for the processor to
// foresee it.
inline void ask_ahead(const float* row, Index width) {
  const auto* bytes = reinterpret_cast<const char*>(row);
  for (Index at = 0; at < width * Index{sizeof(float)}; at += 64) __builtin_prefetch(bytes + at);
}

// Writes the table entry SOURCE (a bin and a share's bits) to OUT past the
// caches where the processor can: the table is much larger than they are and
// is not read again while it is set up, so that keeping it there would only
// push out what is (and read each line of it from memory before writing it).
// finish_entries() makes such writes seen by other threads.
inline void store_entry(Share* out, const std::uint32_t (&source)[2]) {
#if defined(__x86_64__)
  long long bits;
  std::memcpy(&bits, source, sizeof bits);
  _mm_stream_si64(reinterpret_cast<long long*>(out), bits);
#else
  std::memcpy(out, source, sizeof(Share));
#endif
}
// Writes the N counts IN (a tile's, in the nearest cache) to OUT (16-byte
// aligned, room for N rounded up to 16) as the table holds them, past the
// caches as the entries: the counts of a table are as large as the image,
// and written through the caches each line of them was first read from
// memory. The counts of kManyEntries or more go to MANY.
KESTA_WIDEST_VECTORS
void stream_counts(std::uint8_t* out, const std::uint32_t* in, std::size_t n,
                   std::vector<std::uint32_t>& many) {
  alignas(16) std::uint8_t bytes[kTile + 16] = {};
  std::uint32_t most = 0;
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::min(in[i], kManyEntries));
    most = std::max(most, in[i]);
  }
  if (most >= kManyEntries)
    for (std::size_t i = 0; i < n; ++i)
      if (in[i] >= kManyEntries) many.push_back(in[i]);
#if defined(__x86_64__)
  for (std::size_t i = 0; i < n; i += 16)
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_load_si128(reinterpret_cast<const __m128i*>(bytes + i)));
#else
  std::memcpy(out, bytes, n);
#endif
}
inline void finish_entries() {
#if defined(__x86_64__)
  _mm_sfence();
#endif
}

// Where the sums of a narrow footprint's TARGET (see narrow_entries) are in
// a block's sums whose window starts at bin ORIGIN: a spare slot (targets
// from SPARE on), or the bin's place after the spare slots; as a byte
// offset, which the adds take as it is (no scaling in their addresses).
inline std::int32_t place_in_window(std::int32_t target, std::int32_t spare, Index origin) {
  const auto shift = static_cast<std::int32_t>(origin) - static_cast<std::int32_t>(kSpare);
  const std::int32_t place = target >= spare ? target - spare : target - shift;
  return place * static_cast<std::int32_t>(sizeof(Pair));
}

// The sums at byte OFFSET of SUMS.
inline Pair& at(Pair* sums, std::int32_t offset) {
  return *reinterpret_cast<Pair*>(reinterpret_cast<char*>(sums) + offset);
}

// The targets of a tile's N pixels as places (see place_in_window): a
// straight loop, as wide as the processor has.
KESTA_WIDEST_VECTORS
void places_in_window(Tile& t, std::size_t n, std::int32_t spare, Index origin) {
  for (std::size_t e = 0; e < 4; ++e)
    for (std::size_t k = 0; k < n; ++k)
      t.target[e][k] = place_in_window(t.target[e][k], spare, origin);
}

// The table entries of a tile (pixels FIRST ..), and the frame's values
// (ROW) and the overlaps added to the block's sums: in pixel order, each
// pixel's entries in the order stored, as a frame pass over the table adds
// them, and the tile's counts into the block's COUNT (of the row). The
// narrow footprints' bins are in the block's window already; SPARE is the
// first spare target (see narrow_entries).
void write_tile(const Setup& s, const RowFootprints& in, Tile& t, std::size_t first,
                std::size_t n, bool every_azimuth, const float* row, ShareWriter& writer,
                std::vector<double>& fractions, std::vector<double>& overlap,
                std::uint8_t* count, std::int32_t spare, Block& b, Lender<Pair>& lender) {
  b.touched_first = std::min<Index>(b.touched_first, t.touched_first);
  b.touched_last = std::max<Index>(b.touched_last, t.touched_last);
  b.radial_first = std::min<Index>(b.radial_first, t.radial_first);
  b.radial_last = std::max<Index>(b.radial_last, t.radial_last);
  // A narrow footprint of pixel K (COUNT entries) at OUT, its value
  // times its shares and overlaps added: the first two entries whatever
  // the count (the second into a spare slot when past it, and overwritten
  // by the next pixel's), four only across two bins each way (a few in a
  // hundred).
  const auto narrow = [&](std::size_t k, std::uint32_t count, Share* out, const Pair& value,
                          Pair* sums) {
    store_entry(out, t.entry[0][k]);
    store_entry(out + 1, t.entry[1][k]);
    at(sums, t.target[0][k]) += Pair{t.share[0][k][0], t.share[0][k][1]} * value;
    at(sums, t.target[1][k]) += Pair{t.share[1][k][0], t.share[1][k][1]} * value;
    if (count == 4) {
      store_entry(out + 2, t.entry[2][k]);
      store_entry(out + 3, t.entry[3][k]);
      at(sums, t.target[2][k]) += Pair{t.share[2][k][0], t.share[2][k][1]} * value;
      at(sums, t.target[3][k]) += Pair{t.share[3][k][0], t.share[3][k][1]} * value;
    }
  };
  // Nearly every tile has narrow footprints only: its targets become places
  // in the sums at once (the window stays), and room for four entries a
  // pixel is had at once.
  std::int32_t wide = 0;
  for (std::size_t k = 0; k < n; ++k) wide |= t.kind[k] & 2;
  if (wide == 0) {
    places_in_window(t, n, spare, b.origin);
    Pair* const sums = b.sums.data.get();
    Share* const out = writer.room(4 * n);
    std::size_t used = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint32_t c = t.count[k];
      if (c == 0) continue;
      narrow(k, c, out + used, Pair{static_cast<double>(row[first + k]), 1.0}, sums);
      used += c;
    }
    writer.add(used);
    stream_counts(count + first, t.count, n, b.many);
    return;
  }
  for (std::size_t k = 0; k < n; ++k) {
    if (t.kind[k] == 0) continue;
    const std::size_t i = first + k;
    // The value and 1, times an entry's share and its overlap.
    const Pair value{static_cast<double>(row[i]), 1.0};
    if (t.kind[k] == 1) {
      // (The window may have moved for a wide footprint before this one.)
      for (std::size_t e = 0; e < 4; ++e)
        t.target[e][k] = place_in_window(t.target[e][k], spare, b.origin);
      narrow(k, t.count[k], writer.room(4), value, b.sums.data.get());
      writer.add(t.count[k]);
      continue;
    }
    // Footprints wider than two bins: as many entries as bins.
    const auto [out, need] =
        wide_footprint(s, every_azimuth, in.lo[i], in.hi[i], in.per_span[i], in.alo[i],
                       in.ahi[i], in.per_aspan[i], in.inverse[i], b.turn, fractions, writer,
                       overlap);
    if (need == 0) {
      t.count[k] = 0;
      continue;
    }
    // The bins the entries reach, and their radial bins.
    Index lo = out[0].bin, hi = out[0].bin;
    for (std::size_t e = 0; e < need; ++e) {
      lo = std::min<Index>(lo, out[e].bin);
      hi = std::max<Index>(hi, out[e].bin);
      const Index m = out[e].bin % s.num_2theta;
      b.radial_first = std::min(b.radial_first, m);
      b.radial_last = std::max(b.radial_last, m);
    }
    widen(b, lo, hi, s.num_2theta * s.num_azimuthal, lender);
    b.touched_first = std::min(b.touched_first, lo);
    b.touched_last = std::max(b.touched_last, hi);
    Pair* const sums = b.sums.data.get();
    for (std::size_t e = 0; e < need; ++e)
      sums[kSpare + static_cast<std::size_t>(out[e].bin - b.origin)] +=
          Pair{static_cast<double>(out[e].share), overlap[e]} * value;
    writer.add(need);
    t.count[k] = static_cast<std::uint32_t>(need);
  }
  stream_counts(count + first, t.count, n, b.many);
}

// The row loops of a block's set-up, each a straight loop over arrays that
// cannot overlap, as wide as the processor has.

// Footprint edges in bins of a row of radial distances, and the widths'
// reciprocal (2h / w, PER_SPAN_VALUE).
KESTA_WIDEST_VECTORS
void radial_edges(std::size_t n, const double* __restrict radius, double h, double inner,
                  double per_bin, float per_span_value, double* __restrict lo,
                  double* __restrict hi, float* __restrict per_span) {
  for (std::size_t i = 0; i < n; ++i) {
    const double r = radius[i];
    lo[i] = (r - h - inner) * per_bin;
    hi[i] = (r + h - inner) * per_bin;
    per_span[i] = per_span_value;
  }
}

// Footprint edges in bins of 2-theta from T_IN, by the second-order
// expansion of atan(r / D) about the pixel's own 2-theta, and the widths'
// reciprocal (2hD / (D^2 + r^2) / w: SPAN is w / 2hD).
KESTA_WIDEST_VECTORS
void two_theta_edges(std::size_t n, const double* __restrict radius,
                     const float* __restrict two_theta, double h, double d, double t_in,
                     double per_bin, double span, double* __restrict lo, double* __restrict hi,
                     float* __restrict per_span) {
  const double dd = d * d;
  for (std::size_t i = 0; i < n; ++i) {
    const double r = radius[i], t = two_theta[i];
    const double depth = dd + r * r, q = 1.0 / depth;
    const double first = h * d * q, second = h * h * r * d * q * q;
    lo[i] = (t - first - second - t_in) * per_bin;
    hi[i] = (t + first - second - t_in) * per_bin;
    per_span[i] = single(depth * span);
  }
}

// 1 in MASKED where a pixel of the row FRAME is masked (MASK_ROW, when
// there is one) or NaN or infinite (exponent bits all set: those are left
// out as masked pixels are), else 0; the number of NaN and infinite pixels.
// (Without a mask no mask row is read: one loop reading a row of zeros
// instead measured slower.)
KESTA_WIDEST_VECTORS
std::uint32_t masked_row(std::size_t n, const float* __restrict frame,
                         const std::uint8_t* __restrict mask_row, float* __restrict masked) {
  std::uint32_t nonfinite = 0;
  if (mask_row != nullptr) {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t bad = nonfinite_bit(frame[i]);
      nonfinite += bad;
      masked[i] = (mask_row[i] != 0) | (bad != 0) ? 1.0f : 0.0f;
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t bad = nonfinite_bit(frame[i]);
      nonfinite += bad;
      masked[i] = bad != 0 ? 1.0f : 0.0f;
    }
  }
  return nonfinite;
}

// Shares of the pixels of block B's rectangle. Its row loops are nearly
// all of the set-up and run wider where the processor can (no fused
// multiply-adds, so every value is the same either way).
KESTA_WIDEST_VECTORS
void build_block(const Setup& s, const DiffractionGeometry& g, std::span<const std::uint8_t> mask,
                 std::span<const float> data, Block& b, Spare& lent, RowProgress& progress) {
  const Index width = b.xend - b.xstart + 1;
  const auto pixels = static_cast<std::size_t>(width * (b.yend - b.ystart + 1));
  // Every count is written by the row pass: no zero-fill of the whole block.
  const Index count_width = count_row(width);
  b.counts = lent.counts.take(static_cast<std::size_t>(count_width * (b.yend - b.ystart + 1)));
  b.many.clear();
  b.rows.reserve(static_cast<std::size_t>(b.yend - b.ystart + 1));
  // The frame's sums and the weights, made as the entries are written in a
  // window of the bins that grows as they are reached (see widen; sums
  // kept from an earlier table were cleared as they were added up); the
  // spare slots before it take the zero shares of footprints narrower than
  // two bins.
  const auto bins = static_cast<std::size_t>(s.num_2theta * s.num_azimuthal);
  b.sums.zeroed = false;
  // The narrow footprints' bin numbers, and their sums' byte offsets, are
  // worked out in 32-bit lanes.
  const bool narrow_allowed =
      (bins + kSpare) * sizeof(Pair) <= static_cast<std::size_t>(INT32_MAX) &&
      static_cast<double>(s.num_2theta) < kPlace && static_cast<double>(s.num_azimuthal) < kPlace;
  const auto spare = static_cast<std::int32_t>(narrow_allowed ? bins : 0);
  const auto turn = static_cast<std::int32_t>(narrow_allowed ? b.turn : 0);
  auto tile = std::make_unique_for_overwrite<Tile>();  // every field written before read
  const double d = g.distance();
  // The set-up's cost is its transcendental calls: one arc tangent gives the
  // pixel's 2-theta and its footprint edges follow from the second-order
  // expansion of atan(r / D) (exact to single precision while h << D).
  const bool expand = s.h < 1.0e-3 * d;
  const double dd = d * d;
  const auto edges = [&](double r, float pixel_two_theta, double& lower, double& upper) {
    double t_lo, t_hi;
    if (expand) {
      const double t = pixel_two_theta;
      const double q = 1.0 / (dd + r * r);
      const double first = s.h * d * q, second = s.h * s.h * r * d * q * q;
      t_lo = t - first - second;
      t_hi = t + first - second;
    } else {
      t_lo = g.two_theta_of_radius(static_cast<float>(r - s.h));
      t_hi = g.two_theta_of_radius(static_cast<float>(r + s.h));
    }
    switch (s.scan_type) {
      case kScanTwoTheta:
        lower = t_lo - s.t_in;
        upper = t_hi - s.t_in;
        break;
      case kScanQ:
        lower = g.q_of_two_theta(static_cast<float>(t_lo)) - s.o;
        upper = g.q_of_two_theta(static_cast<float>(t_hi)) - s.o;
        break;
      default:  // the outer edge gives the smaller d
        lower = g.d_of_two_theta(static_cast<float>(t_hi)) - s.o;
        upper = g.d_of_two_theta(static_cast<float>(t_lo)) - s.o;
        break;
    }
  };
  // One bin around the whole circle takes every azimuth whole.
  const bool every_azimuth = s.num_azimuthal == 1 && s.azimuth_range >= 6.283185;
  // Row scratch, reused: everything of a pixel but its sharing between bins
  // runs as straight loops over these before the scalar pass that shares.
  const std::size_t wsize = static_cast<std::size_t>(width);
  std::vector<double> radius(wsize);
  std::vector<float> two_theta(wsize), azimuth(wsize, 0.0f);
  const float inverse_d = static_cast<float>(1.0 / d);
  std::vector<double> xoff(wsize);
  const bool row_edges = s.scan_type == kScanRadial || (s.scan_type == kScanTwoTheta && expand);
  std::vector<double> edge_lo(wsize), edge_hi(wsize);
  std::vector<float> per_span(wsize), inverse(wsize, 1.0f);
  std::vector<double> azimuth_lo(wsize, 0.0), azimuth_hi(wsize, 0.5);
  std::vector<float> per_aspan(wsize, 2.0f);
  // 1 where the polarisation is applied, where the pixel is masked (or
  // not a number).
  std::vector<float> polarised(wsize, 0.0f), masked(wsize, 0.0f);
  // The radial fractions of one pixel.
  std::vector<double> fractions, overlap;
  // Two entries a pixel is more than most footprints need.
  ShareWriter writer(b, 2 * pixels + kTile, lent.chunks);
  // Pixel centres moved by the caller's displacements (pixels), when given.
  const bool shifted = !s.x_shift.empty();
  std::vector<double> xrow(shifted ? wsize : 0), yrow(wsize);
  for (std::size_t i = 0; i < wsize; ++i) xoff[i] = g.x_offset(b.xstart + static_cast<Index>(i));
  const double inner = s.inner, outer = s.outer, h = s.h, w = s.w, per_bin = 1.0 / w;
  const bool radial = s.scan_type == kScanRadial;
  const bool polarise = s.correct_polarisation;
  std::uint8_t* count = b.counts.data.get();
  const RowFootprints in{radius.data(), edge_lo.data(),    edge_hi.data(),  per_span.data(),
                         azimuth_lo.data(), azimuth_hi.data(), per_aspan.data(),
                         inverse.data(), polarised.data(), masked.data()};
  for (Index j = b.ystart; j <= b.yend; ++j, count += count_width) {
    const double yc = g.y_offset(j);
    const float* frame = data.data() + element(b.xstart, j, s.xmaxdat);
    if (j < b.yend) ask_ahead(frame + s.xmaxdat, width);  // the next row
    const std::uint8_t* mask_row =
        mask.empty() ? nullptr : mask.data() + element(b.xstart, j, s.xmaxdat);
    const double* xs = shifted ? xrow.data() : xoff.data();
    // The row in tiles: a tile's straight loops, then the writing of its
    // entries, while its scratch is in the nearest cache.
    for (std::size_t first = 0; first < wsize; first += kTile) {
      const std::size_t n = std::min(kTile, wsize - first);
      if (shifted) {
        for (std::size_t i = first; i < first + n; ++i) {
          const auto e = static_cast<std::size_t>(
              element(b.xstart + static_cast<Index>(i), j, s.xmaxdat));
          xrow[i] = xoff[i] + s.x_shift[e] * s.xps;
          yrow[i] = yc + s.y_shift[e] * s.yps;
          radius[i] = g.radius(xrow[i], yrow[i]);
        }
      } else {
        std::fill_n(yrow.begin() + static_cast<std::ptrdiff_t>(first), n, yc);
        const Index x0 = b.xstart + static_cast<Index>(first);
        g.radius_row(j, x0, x0 + static_cast<Index>(n) - 1, std::span(radius).subspan(first, n));
      }
      angles_row(radius.data() + first, xs + first, yrow.data() + first, n, inverse_d,
                 !every_azimuth, polarise, static_cast<float>(s.polarisation),
                 two_theta.data() + first, azimuth.data() + first, polarised.data() + first,
                 inverse.data() + first);
      // Footprint edges in bins: straight loops for radial distance and for
      // 2-theta by the expansion, else only for the pixels in range.
      // The widths' reciprocals follow from the edges' formulas: 2h / w
      // for radial distance, 2hD / (D^2 + r^2) / w by the expansion.
      if (row_edges && radial) {
        radial_edges(n, radius.data() + first, h, inner, per_bin, single(w / (2.0 * h)),
                     edge_lo.data() + first, edge_hi.data() + first, per_span.data() + first);
      } else if (row_edges) {
        two_theta_edges(n, radius.data() + first, two_theta.data() + first, h, d, s.t_in,
                        per_bin, w / (2.0 * h * d), edge_lo.data() + first,
                        edge_hi.data() + first, per_span.data() + first);
      } else {
        for (std::size_t i = first; i < first + n; ++i) {
          const double r = radius[i];
          double lower = 0.0, upper = 0.0;
          if (!(r < 0.0 || r < inner || r > outer)) edges(r, two_theta[i], lower, upper);
          edge_lo[i] = lower * per_bin;
          edge_hi[i] = upper * per_bin;
          per_span[i] = single(1.0 / (edge_hi[i] - edge_lo[i]));
        }
      }
      if (!every_azimuth)
        azimuth_spans(n, azimuth.data() + first, radius.data() + first, s.start_azimuth, s.aw,
                      h, s.azimuth_range, edge_lo.data() + first, edge_hi.data() + first,
                      azimuth_lo.data() + first, azimuth_hi.data() + first,
                      per_aspan.data() + first);
      b.nonfinite += masked_row(n, frame + first, mask_row ? mask_row + first : nullptr,
                                masked.data() + first);
      const double smallest =
          narrow_footprints(s, in, first, n, narrow_allowed, spare, turn, *tile);
      b.min_factor = std::min(b.min_factor, smallest);
      if (tile->touched_first <= tile->touched_last)
        widen(b, tile->touched_first, tile->touched_last, static_cast<Index>(bins), lent.sums);
      write_tile(s, in, *tile, first, n, every_azimuth, frame, writer, fractions, overlap, count,
                 spare, b, lent.sums);
    }
    writer.end_row();
    progress.passed(width);
  }
  finish_entries();
  // The spare slots only took zero shares.
  if (b.sums.data) std::fill_n(b.sums.data.get(), kSpare, Pair{0.0, 0.0});
  // Room for a frame's sums through the kept table, when there is some.
  if (b.touched_first <= b.touched_last)
    b.frame = lent.frames.lent(static_cast<std::size_t>(b.touched_last - b.touched_first + 1));
}

// Where a frame's sums go, bin by bin (so that the worker adding up a range
// of bins finishes it): divided by the bins' weights unless intensity is
// conserved, then Lorentz-corrected where asked, into the caller's output
// (the d axis reversed) and weights.
struct Result {
  Index num_2theta = 1;
  bool normalise = false, reversed = false;
  std::vector<double> lorentz;  // a factor per radial bin, or none
  std::span<float> output, weights;
  Index mxout = 1, mxwork = 1;

  // Bin (M, K) from its SUM and WEIGHT.
  void put(Index m, Index k, double sum, double weight) const {
    double v = sum;
    if (normalise) {
      v = weight > 0.01 ? v / weight : 0.0;
      if (!lorentz.empty()) v *= lorentz[static_cast<std::size_t>(m - 1)];
    }
    const Index to_m = reversed ? num_2theta + 1 - m : m;
    output[static_cast<std::size_t>(element(to_m, k, mxout))] = static_cast<float>(v);
    weights[static_cast<std::size_t>(element(m, k, mxwork))] = static_cast<float>(weight);
  }
};

// Calls BIN(n, m, k) for bins n = FROM .. TO - 1 (m fastest, NUM_2THETA
// of them).
template <class Bin>
void bin_range(Index from, Index to, Index num_2theta, const Bin& bin) {
  Index m = from % num_2theta + 1, k = from / num_2theta + 1;
  for (Index n = from; n < to; ++n) {
    bin(n, m, k);
    if (++m > num_2theta) {
      m = 1;
      ++k;
    }
  }
}

// Calls F(first, last, shift) for the runs of bins block B adds to, in the
// real numbering: one, or two where the block's numbering is turned (see
// Block::turn) and its run crosses the end of the real one. The block's own
// number of bin n of a run is n + SHIFT.
template <class F>
void real_runs(const Block& b, Index bins, Index num_2theta, const F& f) {
  if (b.touched_last < b.touched_first) return;
  const Index shift = b.turn * num_2theta;
  const Index first = b.touched_first - shift, last = b.touched_last - shift;
  if (first >= 0) {
    f(first, last, shift);
  } else if (last < 0) {
    f(first + bins, last + bins, shift - bins);
  } else {
    f(Index{0}, last, shift);
    f(first + bins, bins - 1, shift - bins);
  }
}

// Small sums are not worth a thread; larger ones are added up in a few
// ranges a thread, each taken by whichever thread is free, so that a thread
// the machine holds back holds the adding up back by a small range only.
constexpr Index kRangesEach = 4;
Index bin_ranges(Index bins, Index threads) {
  return bins < (Index{1} << 16) ? 1 : kRangesEach * threads;
}

// The first bins of RANGES ranges over BINS bins, then BINS: the ranges
// placed so that each has about as much adding up as the others (a bin
// costs its writing out, about three additions, and an addition for each
// block that adds to it). Every thread finds the same bounds, and no value
// depends on them.
std::vector<Index> range_starts(const std::vector<Block>& blocks, Index bins, Index num_2theta,
                                Index ranges) {
  std::vector<Index> starts{0};
  if (ranges > 1) {
    std::vector<std::pair<Index, Index>> runs;
    for (const Block& b : blocks)
      real_runs(b, bins, num_2theta, [&](Index first, Index last, Index) {
        runs.emplace_back(first, last);
      });
    std::vector<Index> cuts{0, bins};
    for (const auto& [first, last] : runs) {
      cuts.push_back(std::clamp<Index>(first, 0, bins));
      cuts.push_back(std::clamp<Index>(last + 1, 0, bins));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    // Cost of a bin from cut C on to the next cut.
    std::vector<Index> cost(cuts.size() - 1, 3);
    Index total = 0;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
      for (const auto& [first, last] : runs) cost[c] += first <= cuts[c] && cuts[c] <= last;
      total += (cuts[c + 1] - cuts[c]) * cost[c];
    }
    Index before = 0;
    std::size_t c = 0;
    for (Index r = 1; r < ranges; ++r) {
      const Index target = total / ranges * r + total % ranges * r / ranges;
      for (; c + 1 < cuts.size(); ++c) {
        const Index span = (cuts[c + 1] - cuts[c]) * cost[c];
        if (before + span >= target) break;
        before += span;
      }
      starts.push_back(c + 1 < cuts.size() ? cuts[c] + (target - before + cost[c] - 1) / cost[c]
                                           : bins);
    }
  }
  starts.push_back(bins);
  return starts;
}

// Counts a block as done in DONE, telling the waiting threads when it is the
// last of COUNT.
void block_done(std::atomic<Index>& done, Index count) {
  if (done.fetch_add(1) + 1 == count) done.notify_all();
}

// Returns when all COUNT blocks are done. (Not when every thread has come:
// a part whose thread could not be started runs after others on one thread,
// and no thread may wait for it.) The last blocks mostly end within a
// millisecond: a thread that has none left watches for them for up to 2 ms
// before it sleeps, as one woken from sleep starts adding up a tenth of a
// millisecond late here.
void wait_for_blocks(std::atomic<Index>& done, Index count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
  for (unsigned k = 1; done.load(std::memory_order_acquire) < count; ++k) {
#if defined(__x86_64__)
    _mm_pause();
#endif
    if (k % 64 == 0 && std::chrono::steady_clock::now() > until) break;
  }
  for (Index seen = done.load(); seen < count; seen = done.load()) done.wait(seen);
}

// A block's sums of one kind: its bin N (in its own numbering, see
// Block::turn) at ROOM.data[OFFSET + N - ORIGIN].
template <class T>
struct Window {
  Room<T>& room;
  std::size_t offset;
  Index origin;
};

// The blocks' sums of bins FROM .. TO - 1 (WINDOW(b) a block's, of T) added
// in block order, a few thousand bins at a time, each block's only where it
// adds (elsewhere they are 0, which adds nothing), and cleared as they are
// read; PUT(n, m, k, sum) for each bin.
template <class T, class Sums, class Put>
void add_up(std::vector<Block>& blocks, Index from, Index to, Index bins, Index num_2theta,
            const Sums& window, const Put& put) {
  constexpr Index kPiece = 2048;
  T piece[kPiece];
  for (Index first = from; first < to; first += kPiece) {
    const Index last = std::min(to, first + kPiece) - 1;
    std::fill_n(piece, last - first + 1, T{});
    for (Block& b : blocks)
      real_runs(b, bins, num_2theta, [&](Index run_first, Index run_last, Index shift) {
        const Index lo = std::max(first, run_first), hi = std::min(last, run_last);
        if (lo > hi) return;
        const Window<T> w = window(b);
        T* const sums = w.room.data.get() + w.offset;
        // Azimuth row by row, only the radial bins the block adds to (of
        // the row starting at bin ROW, first and last), the next row asked
        // for ahead (the rows are too short for the processor to foresee,
        // and were last written by other threads).
        const auto reached = [&](Index row) {
          return std::pair{std::max(lo, row + b.radial_first), std::min(hi, row + b.radial_last)};
        };
        for (Index row = lo - lo % num_2theta; row <= hi; row += num_2theta) {
          const auto [next_a, next_e] = reached(row + num_2theta);
          if (next_a <= next_e) {
            const auto* from = reinterpret_cast<const char*>(sums + (next_a + shift - w.origin));
            const auto* to = reinterpret_cast<const char*>(sums + (next_e + shift - w.origin));
            for (; from <= to; from += 64) __builtin_prefetch(from, 1);
          }
          const auto [a, e] = reached(row);
          for (Index n = a; n <= e; ++n) {
            T& sum = sums[n + shift - w.origin];
            piece[n - first] += sum;
            sum = T{};
          }
        }
      });
    bin_range(first, last + 1, num_2theta,
              [&](Index n, Index m, Index k) { put(n, m, k, piece[n - first]); });
  }
}

// WORK(b) for every block, each thread taking the next block not yet taken,
// false for want of memory; then, every block done and none wanting, each
// thread adds up a range of the blocks' sums SUMS(b) of BINS bins with PUT
// (see add_up; the same threads: starting new ones for that costs more than
// the adding). The sums stay with the blocks, cleared, when they are small.
// False when a block wanted memory.
template <class T, class Work, class Sums, class Put>
bool blocks_then_bins(std::vector<Block>& blocks, Index bins, Index num_2theta,
                      const Work& work, const Sums& sums, const Put& put) {
  const auto count = static_cast<Index>(blocks.size());
  const Index threads = thread_count(count), ranges = bin_ranges(bins, threads);
  std::atomic<Index> next{0}, done{0}, next_range{0};
  std::atomic<bool> failed{false};
  run_parts(threads, [&](Index) {
    for (Index b = next++; b < count; b = next++) {
      if (!work(blocks[static_cast<std::size_t>(b)])) failed = true;
      block_done(done, count);
    }
    wait_for_blocks(done, count);
    if (failed) return;
    const std::vector<Index> starts = range_starts(blocks, bins, num_2theta, ranges);
    for (Index r = next_range++; r < ranges; r = next_range++)
      add_up<T>(blocks, starts[static_cast<std::size_t>(r)],
                starts[static_cast<std::size_t>(r) + 1], bins, num_2theta, sums, put);
  });
  if (failed) return false;
  double held = 0.0;
  for (Block& b : blocks) held += static_cast<double>(sums(b).room.size) * sizeof(T);
  for (Block& b : blocks) {
    if (held <= kKeptSums)
      sums(b).room.zeroed = true;
    else
      sums(b).room = {};
  }
  return true;
}

// Number of NaN and infinite values of the region: exponent bits all set,
// tested as integers so that the loop vectorises (a compare and an add per
// pixel, no branch).
// (The row blocks on their threads: it is read at every frame.)
Index nonfinite_count(std::span<const float> data, Index xmaxdat, Index xs, Index ys, Index xe,
                      Index ye) {
  // Threads only where the region is large enough to pay for them.
  const Index rows = ye - ys + 1, width = xe - xs + 1;
  const Index parts = rows * width < (Index{1} << 20) ? 1 : std::min(kBlocks, rows);
  std::vector<Index> counts(static_cast<std::size_t>(parts), 0);
  for_blocks(parts, [&](Index b) {
    Index count = 0;
    for (Index j = ys + rows * b / parts; j < ys + rows * (b + 1) / parts; ++j) {
      const float* row = data.data() + element(xs, j, xmaxdat);
      std::uint32_t row_count = 0;
      for (Index i = 0; i < width; ++i) row_count += nonfinite_bit(row[i]);
      count += row_count;
    }
    counts[static_cast<std::size_t>(b)] = count;
  });
  Index count = 0;
  for (const Index c : counts) count += c;
  return count;
}

// MASK with the NaN and infinite pixels of the region masked as well, over
// the region only (all that the re-binning reads): the rest of the arrays'
// shape is neither written nor made resident.
std::unique_ptr<std::uint8_t[]> finite_mask(std::span<const float> data,
                                            std::span<const std::uint8_t> mask, Index xmaxdat,
                                            Index ymaxdat, Index xs, Index ys, Index xe,
                                            Index ye) {
  auto combined =
      std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(xmaxdat * ymaxdat));
  for (Index j = ys; j <= ye; ++j)
    for (Index i = xs; i <= xe; ++i) {
      const auto e = static_cast<std::size_t>(element(i, j, xmaxdat));
      combined[e] = !std::isfinite(data[e]) || (!mask.empty() && mask[e] != 0);
    }
  return combined;
}

// Whether block B's rectangle lies across or beside the start of the full
// circle of azimuths (not around the beam centre): its corners' azimuths
// from the start spread over more than half a turn, or come within a bin
// and a footprint's half-width of it (footprints there reach the last bins
// and the first alike). Only the speed of adding up depends on it (see
// Block::turn): the corners do, displaced or not.
bool across_the_start(const Setup& s, const DiffractionGeometry& g, const Block& b) {
  const double x0 = g.x_offset(b.xstart), x1 = g.x_offset(b.xend);
  const double y0 = g.y_offset(b.ystart), y1 = g.y_offset(b.yend);
  if (std::min(x0, x1) <= 0.0 && std::max(x0, x1) >= 0.0 && std::min(y0, y1) <= 0.0 &&
      std::max(y0, y1) >= 0.0)
    return false;  // around the centre: every azimuth
  double lowest = 7.0, highest = -1.0, nearest = std::numeric_limits<double>::max();
  for (const double x : {x0, x1})
    for (const double y : {y0, y1}) {
      double a = std::atan2(y, x) - s.start_azimuth;
      a -= 2.0 * M_PI * std::floor(a / (2.0 * M_PI));
      lowest = std::min(lowest, a);
      highest = std::max(highest, a);
      nearest = std::min(nearest, std::hypot(x, y));
    }
  const double margin = s.aw + (nearest > 0.0 ? s.h / nearest : M_PI);
  return highest - lowest > M_PI || lowest < margin || highest > 2.0 * M_PI - margin;
}

// False when the memory for the table could not be had. The frame DATA is
// summed as the table is made (SUMS, t.bins of them): the same additions in
// the same order as a pass over the finished table, into RESULT. The arrays
// of LENT are used before new memory.
bool build_table(const Setup& s, const DiffractionGeometry& g, std::span<const std::uint8_t> mask,
                 std::span<const float> data, Table& t, const Result& result, Spare& lent,
                 RowProgress& progress) {
  const Index rows = s.yendelm - s.ystrelm + 1, width = s.xendelm - s.xstrelm + 1;
  // A block's sums reach at most every bin: many blocks while that is a few
  // megabytes, else eight. Where there are several azimuths, rectangles of a
  // grid, which reach fewer of them than strips of whole rows do; a scan of
  // one azimuth is read fastest in whole rows.
  const double bytes = static_cast<double>(s.num_2theta * s.num_azimuthal + Index{kSpare}) * 16.0;
  const bool grid = bytes <= kGridSumsLimit;
  const Index columns =
      grid && s.num_azimuthal > 1 ? std::clamp<Index>(width / kGridWidth, 1, kGridColumns) : 1;
  // Strips of rows, in sixteenths: the blocks are taken in order, and the
  // last ones are smaller (the last two strips of the grid cut in six, down
  // to a sixteenth), so that the threads finish together rather than
  // waiting on one large block (or on one the machine holds back).
  const Index whole = grid ? kGridBlocks / columns : kBlocks;
  std::vector<Index> parts(static_cast<std::size_t>(std::max<Index>(whole - 2, 0)), 16);
  if (grid && whole >= 2 && rows >= 16 * whole)
    parts.insert(parts.end(), {12, 8, 6, 3, 2, 1});
  else
    parts.assign(static_cast<std::size_t>(std::min(whole, rows)), 16);
  std::vector<Index> before{0};
  for (const Index q : parts) before.push_back(before.back() + q);
  const auto strips = static_cast<Index>(parts.size());
  t.blocks.clear();
  t.blocks.resize(static_cast<std::size_t>(strips * columns));
  for (Index r = 0; r < strips; ++r)
    for (Index c = 0; c < columns; ++c) {
      Block& b = t.blocks[static_cast<std::size_t>(r * columns + c)];
      b.ystart = s.ystrelm + rows * before[static_cast<std::size_t>(r)] / before.back();
      b.yend = s.ystrelm + rows * before[static_cast<std::size_t>(r) + 1] / before.back() - 1;
      b.xstart = s.xstrelm + width * c / columns;
      b.xend = s.xstrelm + width * (c + 1) / columns - 1;
    }
  t.bins = s.num_2theta * s.num_azimuthal;
  if (s.full_circle && s.num_azimuthal >= 2)
    for (Block& b : t.blocks)
      if (across_the_start(s, g, b)) b.turn = s.num_azimuthal / 2;
  lent.place_windows(t.blocks, t.bins);
  t.weights = std::move(lent.weights);
  t.weights.resize(static_cast<std::size_t>(t.bins));
  const bool built = blocks_then_bins<Pair>(
      t.blocks, t.bins, s.num_2theta,
      [&](Block& b) {
        try {
          build_block(s, g, mask, data, b, lent, progress);
          return true;
        } catch (const std::bad_alloc&) {
          b = Block{};
          return false;
        }
      },
      [](Block& b) { return Window<Pair>{b.sums, kSpare, b.origin}; },
      [&](Index n, Index m, Index k, const Pair& v) {
        t.weights[static_cast<std::size_t>(n)] = v[1];
        result.put(m, k, v[0], v[1]);
      });
  if (!built) return false;
  t.min_factor = 1.7e38;
  for (const Block& b : t.blocks) {
    t.nonfinite += b.nonfinite;
    t.min_factor = std::min(t.min_factor, b.min_factor);
  }
  return true;
}

// Sums of one frame into RESULT, block by block in a fixed order. A want of
// memory is reported back to this thread.
void apply_table(Table& t, const Setup& s, std::span<const float> data, const Result& result,
                 RowProgress& progress) {
  const bool done = blocks_then_bins<double>(
      t.blocks, t.bins, s.num_2theta,
      [&](Block& b) {
        // The sums of the bins the block adds to (none: nothing to add).
        if (b.touched_last < b.touched_first) return true;
        const auto first = static_cast<std::size_t>(b.touched_first);
        const auto bins = static_cast<std::size_t>(b.touched_last - b.touched_first + 1);
        try {
          if (b.frame.size < bins)
            b.frame = {large_array<double>(static_cast<Index>(bins)), bins, false};
        } catch (const std::bad_alloc&) {
          return false;
        }
        if (!b.frame.zeroed) std::fill_n(b.frame.data.get(), b.frame.size, 0.0);
        b.frame.zeroed = false;
        // Indexed by the bin itself: a subtraction in the address of every
        // add made the pass a sixth slower. (Only the bins of the window are
        // reached through it.)
        auto* const acc = reinterpret_cast<double*>(
            reinterpret_cast<std::uintptr_t>(b.frame.data.get()) - first * sizeof(double));
        const std::uint8_t* count = b.counts.data.get();
        const std::uint32_t* many = b.many.data();
        const Index width = b.xend - b.xstart + 1, count_width = count_row(width);
        for (Index j = b.ystart; j <= b.yend; ++j) {
          const Share* share = b.rows[static_cast<std::size_t>(j - b.ystart)];
          const float* row = data.data() + element(b.xstart, j, s.xmaxdat);
          if (j < b.yend) ask_ahead(row + s.xmaxdat, width);  // the next row
          for (Index i = 0; i < width; ++i) {
            const double v = row[i];
            std::uint32_t n = count[i];
            if (n == kManyEntries) n = *many++;
            for (; n > 0; --n, ++share) acc[share->bin] += v * share->share;
          }
          count += count_width;
          progress.passed(width);
        }
        return true;
      },
      [](Block& b) { return Window<double>{b.frame, 0, b.touched_first}; },
      [&](Index n, Index m, Index k, double v) {
        result.put(m, k, v, t.weights[static_cast<std::size_t>(n)]);
      });
  if (!done) throw std::bad_alloc();
}

}  // namespace

void kzt_set_cake_threads(int threads) { cake_state.threads = std::max(threads, 0); }

std::int64_t kzt_cake_table_builds() { return cake_state.builds; }

void kzt_release_cake_table() {
  cake_state.table = Table{};
  cake_state.valid = false;
}

void KZT_CAL2_CAKE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, std::span<const std::uint8_t> mask,
                   bool conserve_intensity, int scan_type, float maximum_d, float x_pixel_size,
                   float y_pixel_size, float sample_distance, float wavelength,
                   float x_beam_centre, float y_beam_centre, float start_azimuth,
                   float end_azimuth, float inner_limit, float outer_limit,
                   float tilt_plane_rotation, float tilt_angle, Index num_2theta,
                   Index num_azimuthal, bool correct_polarisation, float polarisation,
                   int lorentz_geometry, Index mxout, Index myout, Index mxwork, Index mywork,
                   float& azimuth_step, float& radial_step, float& radial_start,
                   std::span<float> weights, std::span<float> output, Status& status,
                   std::span<const float> x_shift, std::span<const float> y_shift) {
  if (st_bad(status, kName)) return;
  const auto fail = [&status](Status code) { st_fail(status, kAppBase + code, kName); };
  if (xmaxdat < 1 || myout < 1 || mxwork < 1) return fail(1);
  if (ymaxdat < 1 || mxout < 1 || mywork < 1) return fail(2);
  if (const Status code = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                       kAppBase))
    return st_fail(status, code, kName);
  if (num_2theta < 1 || num_2theta > mxwork || num_2theta > mxout) return fail(5);
  if (num_azimuthal < 1 || num_azimuthal > mywork || num_azimuthal > myout) return fail(6);
  if (scan_type < kScanRadial || scan_type > kScanD) return fail(17);
  // Bins are numbered in 32 bits.
  if (!work_fits({num_2theta, num_azimuthal}, std::numeric_limits<std::uint32_t>::max()))
    return fail(6);
  if (spans_error({{xmaxdat, ymaxdat, data.size()},
                   {mxout, myout, output.size()},
                   {mxwork, mywork, weights.size()}},
                  kAppBase) != 0 ||
      (!mask.empty() && !array_holds(mask.size(), xmaxdat, ymaxdat)) ||
      x_shift.empty() != y_shift.empty() ||
      (!x_shift.empty() && (!array_holds(x_shift.size(), xmaxdat, ymaxdat) ||
                            !array_holds(y_shift.size(), xmaxdat, ymaxdat))))
    return fail(1);
  const bool needs_wavelength = scan_type == kScanQ || scan_type == kScanD;
  if (!(outer_limit > inner_limit) || !(sample_distance > 0.0f) || !(x_pixel_size > 0.0f) ||
      !(y_pixel_size > 0.0f) || (needs_wavelength && !(wavelength > 0.0f)))
    return fail(3);

  const DiffractionGeometry g(x_pixel_size, y_pixel_size, sample_distance, wavelength,
                              x_beam_centre, y_beam_centre, tilt_plane_rotation, tilt_angle);
  Setup s{};
  s.xmaxdat = xmaxdat;
  s.xstrelm = xstrelm;
  s.ystrelm = ystrelm;
  s.xendelm = xendelm;
  s.yendelm = yendelm;
  s.scan_type = scan_type;
  s.inner = inner_limit;
  s.outer = outer_limit;
  s.num_2theta = num_2theta;
  s.num_azimuthal = num_azimuthal;
  s.correct_polarisation = correct_polarisation;
  s.polarisation = polarisation;
  s.start_azimuth = start_azimuth;
  s.x_shift = x_shift;
  s.y_shift = y_shift;
  s.xps = x_pixel_size;
  s.yps = y_pixel_size;
  const double end = end_azimuth < start_azimuth ? end_azimuth + 6.283185 : end_azimuth;
  s.azimuth_range = end - start_azimuth;
  s.aw = s.azimuth_range / static_cast<double>(num_azimuthal);
  s.full_circle = std::abs(s.azimuth_range - 6.283185) < 1.0e-5;
  s.t_in = g.two_theta_of_radius(static_cast<double>(inner_limit));
  const double t_out = g.two_theta_of_radius(static_cast<double>(outer_limit));
  const double n = static_cast<double>(num_2theta);
  s.dt = (t_out - s.t_in) / n;
  double d_max = 0.0;
  switch (scan_type) {
    case kScanRadial:
      s.w = (s.outer - s.inner) / n;
      s.o = s.inner;
      break;
    case kScanTwoTheta:
      s.w = s.dt;
      s.o = s.t_in;
      break;
    case kScanQ:
      s.o = g.q_of_two_theta(s.t_in);
      s.w = (g.q_of_two_theta(t_out) - s.o) / n;
      break;
    default:
      s.o = g.d_of_two_theta(t_out);
      d_max = s.t_in > 0.0 ? std::min<double>(maximum_d, g.d_of_two_theta(s.t_in)) : maximum_d;
      if (std::isfinite(d_max) && std::isfinite(s.o) && d_max <= s.o && s.aw > 0.0) {
        // A maximum below every d-spacing of the region leaves nothing to
        // bin: the scan is all empty bins, not a failure.
        const auto angstroms = [](double v) {
          return std::string(trimmed_text(format_f(v, 12, 4)));
        };
        IO_WRITE("WARNING: MAX. D-SPACING (" + angstroms(maximum_d) +
                     " Angstroms) is below the smallest D-spacing of the region (" +
                     angstroms(s.o) + " Angstroms): every bin is 0.0",
                 status);
        for (Index k = 0; k < num_azimuthal; ++k) {
          std::fill_n(output.begin() + k * mxout, num_2theta, 0.0f);
          std::fill_n(weights.begin() + k * mxwork, num_2theta, 0.0f);
        }
        azimuth_step = static_cast<float>(s.aw);
        radial_step = static_cast<float>((s.o - d_max) / n);
        radial_start = static_cast<float>(d_max);
        return;
      }
      if (!(d_max > s.o)) return fail(3);
      s.w = (d_max - s.o) / n;
      break;
  }
  if (!(s.w > 0.0) || !(s.aw > 0.0)) return fail(3);
  s.h = std::sqrt(0.3183099) * (static_cast<double>(x_pixel_size) + y_pixel_size) * 0.5;

  IO_WRITE("INFO: Starting to transform active data region (this may take some time)", status);

  Key key;
  for (const Index v : {xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, num_2theta,
                        num_azimuthal, static_cast<Index>(scan_type)})
    key.push_back(static_cast<std::uint64_t>(v));
  for (const float v : {maximum_d, x_pixel_size, y_pixel_size, sample_distance, wavelength,
                        x_beam_centre, y_beam_centre, start_azimuth, end_azimuth, inner_limit,
                        outer_limit, tilt_plane_rotation, tilt_angle,
                        correct_polarisation ? polarisation : 0.0f})
    key.push_back(std::bit_cast<std::uint32_t>(v));
  key.push_back(correct_polarisation ? 1 : 0);
  key.push_back(region_hash(x_shift, xmaxdat, xstrelm, ystrelm, xendelm, yendelm));
  key.push_back(region_hash(y_shift, xmaxdat, xstrelm, ystrelm, xendelm, yendelm));
  Result result;
  result.num_2theta = num_2theta;
  result.normalise = !conserve_intensity;
  result.reversed = scan_type == kScanD;
  result.output = output;
  result.weights = weights;
  result.mxout = mxout;
  result.mxwork = mxwork;
  if (!conserve_intensity && lorentz_geometry == 1 &&
      (scan_type == kScanTwoTheta || scan_type == kScanQ))
    for (Index m = 1; m <= num_2theta; ++m) {
      // Each bin's own lower edge: a q bin's 2-theta is not on the even grid.
      const double lower = scan_type == kScanTwoTheta
                               ? s.t_in + static_cast<double>(m - 1) * s.dt
                               : g.two_theta_of_q(s.o + static_cast<double>(m - 1) * s.w);
      const double c = std::cos(lower);
      result.lorentz.push_back(1.0 / (c * c * c));
    }
  const auto mask_key = [&](std::span<const std::uint8_t> m) {
    return Key{m.empty() ? 0u : 1u, region_hash(m, xmaxdat, xstrelm, ystrelm, xendelm, yendelm)};
  };
  // MASK with the NaN and infinite pixels masked as well, when there are any.
  std::unique_ptr<std::uint8_t[]> combined;
  const auto mask_nonfinite = [&] {
    try {
      combined = finite_mask(data, mask, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm);
    } catch (const std::bad_alloc&) {
      return false;
    }
    mask = {combined.get(), static_cast<std::size_t>(xmaxdat * ymaxdat)};
    return true;
  };

  // NaN and infinite pixels (detector gaps are often stored so) are left out
  // as masked ones are: they add neither value nor weight. They are few and
  // fixed from frame to frame, so the table with them masked is kept too:
  // it fits a frame with the same geometry and the same pixels left out. A
  // new table finds them as it is made.
  Table& t = cake_state.table;
  RowProgress progress(s.yendelm - s.ystrelm + 1, s.xendelm - s.xstrelm + 1, status);
  bool fits = cake_state.valid && t.key == key;
  if (fits) {
    if (nonfinite_count(data, xmaxdat, xstrelm, ystrelm, xendelm, yendelm) > 0 &&
        !mask_nonfinite()) {
      IO_WRITE("WARNING: Not enough memory for the re-binning table of the region", status);
      return fail(3);
    }
    fits = t.mask_key == mask_key(mask);
  }
  if (!fits) {
    // The table being replaced lends its memory to the new one; should
    // memory run short, it is freed and the set-up tried once more.
    Spare lent(std::move(t));
    kzt_release_cake_table();
    bool built = false;
    for (int attempt = 0; attempt < 2 && !built; ++attempt) {
      progress.restart();
      try {
        built = build_table(s, g, mask, data, t, result, lent, progress);
      } catch (const std::bad_alloc&) {
      }
      if (!built) {
        kzt_release_cake_table();
        lent.clear();
      }
    }
    if (!built) {
      kzt_release_cake_table();
      IO_WRITE("WARNING: Not enough memory for the re-binning table of the region", status);
      return fail(3);
    }
    // The result is written. The table is kept under its mask with the NaN
    // and infinite pixels in it; without the memory to form that mask it is
    // not kept (the next call makes it again), and the result stands.
    cake_state.valid = t.nonfinite == 0 || combined != nullptr || mask_nonfinite();
    t.key = std::move(key);
    t.mask_key = mask_key(mask);
    ++cake_state.builds;
  } else {
    try {
      apply_table(t, s, data, result, progress);
    } catch (const std::bad_alloc&) {
      IO_WRITE("WARNING: Not enough memory for the re-binning sums of the region", status);
      return fail(3);
    }
  }

  progress.finish();
  if (correct_polarisation) {
    IO_WRITE(" ", status);
    IO_WRITE("INFO: Minimum fractional intensity decrease owing to polarisation = " +
                 format_f(t.min_factor, 7, 4),
             status);
    IO_WRITE("INFO: (The reciprocal value is applied to the data.)", status);
  }

  azimuth_step = static_cast<float>(s.aw);
  radial_step = static_cast<float>(result.reversed ? -s.w : s.w);
  radial_start = static_cast<float>(scan_type == kScanD ? d_max : s.o);
}

}  // namespace kesta
