#include "app/diffraction/cake.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "app/diffraction/geometry.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/parallel.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {

namespace {

constexpr Status kAppBase = 110000;
constexpr std::string_view kName = "Subroutine KZT_CAL2_CAKE V0.1";
// Row blocks of the table: fixed, so that sums do not depend on the threads.
constexpr Index kBlocks = 8;

struct Share {
  std::uint32_t bin;  // (m - 1) + (k - 1) x NUM_2THETA
  float share;        // overlap fraction divided by the polarisation factor
};

struct Block {
  Index ystart = 0, yend = -1;
  std::unique_ptr<std::uint32_t[]> counts;  // entries per pixel of the block's rows
  // The shares, row after row, in chunks of their own (a row never
  // straddles two), and the first share of each row.
  std::vector<std::unique_ptr<Share[]>> chunks;
  std::vector<const Share*> rows;
  std::vector<double> weights;  // summed overlap fractions per bin
  double min_factor = 1.7e38;
  bool out_of_memory = false;
};

// Everything that changes a pixel's share, compared value for value.
using Key = std::vector<std::uint64_t>;

struct Table {
  Key key;
  Index bins = 0;
  std::vector<Block> blocks;
  std::vector<double> weights;
  double min_factor = 1.7e38;
  float azimuth_step = 0, radial_step = 0, radial_start = 0;
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
// polarisation factor, each a straight loop.
KESTA_WIDE_VECTORS
void angles_row(const double* radius, const double* x, const double* y, std::size_t n,
                               float inverse_d, bool azimuths, bool polarisation, double d,
                               double p, float* two_theta, float* azimuth, double* factor) {
  for (std::size_t i = 0; i < n; ++i)
    two_theta[i] =
        atan_nonnegative(static_cast<float>(radius[i] > 0.0 ? radius[i] : 0.0) * inverse_d);
  if (azimuths) {
    for (std::size_t i = 0; i < n; ++i)
      azimuth[i] = atan2_select(static_cast<float>(y[i]), static_cast<float>(x[i]));
  }
  if (polarisation)
    for (std::size_t i = 0; i < n; ++i) {
      const double r = radius[i], rr = x[i] * x[i] + y[i] * y[i];
      const double c = d * d / (r * r + d * d);
      // cos(2 azimuth), 1 at the beam centre.
      const double cos2 = rr > 0.0 ? (x[i] * x[i] - y[i] * y[i]) / (rr > 0.0 ? rr : 1.0) : 1.0;
      factor[i] = ((c + 1.0) - (1.0 - c) * cos2 * p) * 0.5;
    }
}

// Runs WORK(b) for every block on up to THREADS threads.
template <class Work>
void for_blocks(Index blocks, Work work) {
  const Index threads = std::clamp<Index>(
      cake_state.threads > 0 ? Index{cake_state.threads} : processor_count(), 1, blocks);
  run_parts(threads, [&](Index t) {
    for (Index b = t; b < blocks; b += threads) work(b);
  });
}

// Bin number (1-based) of the position V in bins: truncated toward zero, a
// footprint reaching below the first bin leaving its whole share in it; or,
// around a full circle (WRAP), floored so that the footprint wraps through 0.
// Integer conversions of the clamped value, which equal trunc and floor there.
// (The clamp as selects: std::clamp's branches cost more than the rest.)
inline Index bin_of(double v, bool wrap) {
  double c = v < -1.0e15 ? -1.0e15 : v;
  c = 1.0e15 < c ? 1.0e15 : c;
  Index t = static_cast<Index>(c);
  if (wrap) t -= c < static_cast<double>(t) ? 1 : 0;
  return t + 1;
}

// The azimuthal footprint of each pixel of a row in bins, with one division
// for its span; a pixel beyond the azimuth range gets an empty radial span
// (left out later).
void azimuth_spans(std::size_t n, const float* __restrict azimuth,
                   const double* __restrict radius, double start, double aw, double h,
                   double range, const double* __restrict edge_lo, double* __restrict edge_hi,
                   double* __restrict lo, double* __restrict hi, double* __restrict per_span) {
  for (std::size_t i = 0; i < n; ++i) {
    double a = static_cast<double>(azimuth[i]) - start;
    a = a < 0.0 ? a + 2.0 * M_PI : a;
    // A pixel at the beam centre covers every azimuth.
    const double r = radius[i];
    const double ratio = h / (r > 0.0 ? r : 1.0);
    const double half = r > 0.0 && ratio < M_PI ? ratio : M_PI;
    lo[i] = (a - half) / aw;
    hi[i] = (a + half) / aw;
    per_span[i] = 1.0 / (hi[i] - lo[i]);
    edge_hi[i] = a > range ? edge_lo[i] : edge_hi[i];
  }
}

// Where a block's shares are written: row after row into chunks allocated
// ahead (no copy of a finished row), a row moved whole into a new chunk when
// it does not fit.
class ShareWriter {
 public:
  explicit ShareWriter(Block& b) : b_(b) {}
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
  // Half a megabyte: small enough to come again from the memory of a table
  // freed before, large enough that a row wastes little of it.
  static constexpr std::size_t kChunk = std::size_t{1} << 16;

  void grow(std::size_t room) {
    const std::size_t row = used_ - row_first_;
    const std::size_t capacity = std::max(kChunk, 2 * (row + room));
    auto chunk = std::make_unique_for_overwrite<Share[]>(capacity);
    if (row > 0) std::memcpy(chunk.get(), base_ + row_first_, row * sizeof(Share));
    base_ = chunk.get();
    b_.chunks.push_back(std::move(chunk));
    capacity_ = capacity;
    used_ = row;
    row_first_ = 0;
  }

  Block& b_;
  Share* base_ = nullptr;
  std::size_t capacity_ = 0, used_ = 0, row_first_ = 0;
};

// Shares of the pixels of rows B.ystart..B.yend. Its row loops are nearly
// all of the set-up and run twice as wide where the processor can (no fused
// multiply-adds, so every value is the same either way).
KESTA_WIDE_VECTORS
void build_block(const Setup& s, const DiffractionGeometry& g, std::span<const std::uint8_t> mask,
                 Block& b) {
  const Index width = s.xendelm - s.xstrelm + 1;
  const auto pixels = static_cast<std::size_t>(width * (b.yend - b.ystart + 1));
  // Every count is written by the row pass: no zero-fill of the whole block.
  b.counts = std::make_unique_for_overwrite<std::uint32_t[]>(pixels);
  b.rows.reserve(static_cast<std::size_t>(b.yend - b.ystart + 1));
  // One spare weight after the bins takes the zero shares of footprints
  // narrower than two bins (below).
  const auto bins = static_cast<std::size_t>(s.num_2theta * s.num_azimuthal);
  b.weights.assign(bins + 1, 0.0);
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
  std::vector<double> radius(wsize), factor(wsize, 1.0);
  std::vector<float> two_theta(wsize), azimuth(wsize, 0.0f);
  const float inverse_d = static_cast<float>(1.0 / d);
  std::vector<double> xoff(wsize);
  const bool row_edges = s.scan_type == kScanRadial || (s.scan_type == kScanTwoTheta && expand);
  std::vector<double> edge_lo(wsize), edge_hi(wsize), per_span(wsize), inverse(wsize, 1.0);
  std::vector<double> azimuth_lo(wsize, 0.0), azimuth_hi(wsize, 0.5), per_aspan(wsize, 2.0);
  std::vector<std::uint8_t> polarised(wsize, 0);
  std::vector<std::size_t> kept(wsize);
  // The radial fractions of one pixel.
  std::vector<double> fractions;
  ShareWriter writer(b);
  // Pixel centres moved by the caller's displacements (pixels), when given.
  const bool shifted = !s.x_shift.empty();
  std::vector<double> xrow(shifted ? wsize : 0), yrow(wsize);
  for (std::size_t i = 0; i < wsize; ++i) xoff[i] = g.x_offset(s.xstrelm + static_cast<Index>(i));
  const double inner = s.inner, outer = s.outer, h = s.h, w = s.w;
  const bool d_scan = s.scan_type == kScanD, radial = s.scan_type == kScanRadial;
  const bool polarise = s.correct_polarisation;
  const Index n2 = s.num_2theta, na = s.num_azimuthal;
  std::uint32_t* count = b.counts.get();
  double* const weight = b.weights.data();
  // Where the zero shares of a narrower footprint go: never a real bin, so
  // they wait on no earlier sum (their target alone would be a bin's).
  double* const spare = weight + bins;
  for (Index j = b.ystart; j <= b.yend; ++j, count += width) {
    const double yc = g.y_offset(j);
    if (shifted) {
      for (std::size_t i = 0; i < wsize; ++i) {
        const auto e = static_cast<std::size_t>(
            element(s.xstrelm + static_cast<Index>(i), j, s.xmaxdat));
        xrow[i] = xoff[i] + s.x_shift[e] * s.xps;
        yrow[i] = yc + s.y_shift[e] * s.yps;
        radius[i] = g.radius(xrow[i], yrow[i]);
      }
    } else {
      std::fill(yrow.begin(), yrow.end(), yc);
      g.radius_row(j, s.xstrelm, s.xendelm, radius);
    }
    const double* xs = shifted ? xrow.data() : xoff.data();
    angles_row(radius.data(), xs, yrow.data(), wsize, inverse_d, !every_azimuth, polarise, d,
               s.polarisation, two_theta.data(), azimuth.data(), factor.data());
    // Footprint edges in bins: straight loops for radial distance and for
    // 2-theta by the expansion, else only for the pixels in range.
    if (row_edges) {
      for (std::size_t i = 0; i < wsize; ++i) {
        const double r = radius[i];
        double lower, upper;
        if (radial) {
          lower = r - h - inner;
          upper = r + h - inner;
        } else {
          const double t = two_theta[i];
          const double q = 1.0 / (dd + r * r);
          const double first = h * d * q, second = h * h * r * d * q * q;
          lower = t - first - second - s.t_in;
          upper = t + first - second - s.t_in;
        }
        edge_lo[i] = lower / w;
        edge_hi[i] = upper / w;
      }
    } else {
      for (std::size_t i = 0; i < wsize; ++i) {
        const double r = radius[i];
        double lower = 0.0, upper = 0.0;
        if (!(r < 0.0 || r < inner || r > outer)) edges(r, two_theta[i], lower, upper);
        edge_lo[i] = lower / w;
        edge_hi[i] = upper / w;
      }
    }
    // One division per direction; the fractions multiply. The polarisation
    // factor is applied to pixels off the beam centre only.
    for (std::size_t i = 0; i < wsize; ++i) {
      per_span[i] = 1.0 / (edge_hi[i] - edge_lo[i]);
      const bool off_centre = !(std::abs(xs[i]) <= 1.0e-6 && std::abs(yrow[i]) <= 1.0e-6);
      polarised[i] = polarise && off_centre ? 1 : 0;
      inverse[i] = polarise && off_centre ? 1.0 / factor[i] : 1.0;
    }
    if (!every_azimuth)
      azimuth_spans(wsize, azimuth.data(), radius.data(), s.start_azimuth, s.aw, h,
                    s.azimuth_range, edge_lo.data(), edge_hi.data(), azimuth_lo.data(),
                    azimuth_hi.data(), per_aspan.data());
    // The pixels that get shares, listed; the others count none.
    const std::uint8_t* mask_row =
        mask.empty() ? nullptr : mask.data() + element(s.xstrelm, j, s.xmaxdat);
    std::size_t nkept = 0;
    for (std::size_t i = 0; i < wsize; ++i) {
      const double r = radius[i];
      bool keep = !(r < 0.0 || r < inner || r > outer) && edge_hi[i] - edge_lo[i] > 0.0;
      // The direct beam has no d-spacing: a footprint reaching it adds nothing.
      keep = keep && !(d_scan && r - h <= 0.0);
      keep = keep && (mask_row == nullptr || mask_row[i] == 0);
      kept[nkept] = i;
      nkept += keep ? 1 : 0;
      count[i] = 0;
    }
    for (std::size_t n = 0; n < nkept; ++n) {
      const std::size_t col = kept[n];
      if (polarised[col]) b.min_factor = std::min(b.min_factor, factor[col]);
      const double lo = edge_lo[col], hi = edge_hi[col], ps = per_span[col];
      const double alo = azimuth_lo[col], ahi = azimuth_hi[col], pa = per_aspan[col];
      const Index ilo = bin_of(lo, false), ihi = bin_of(hi, false);
      const Index mfirst = std::max<Index>(ilo, 1), mlast = std::min(ihi, n2);
      if (mfirst > mlast) continue;
      // Every azimuth whole: the one bin, from 0 .. 0.5.
      const Index klo = every_azimuth ? 1 : bin_of(alo, s.full_circle);
      const Index khi = every_azimuth ? 1 : bin_of(ahi, s.full_circle);
      const Index kfirst = s.full_circle ? klo : std::max<Index>(klo, 1);
      const Index klast = s.full_circle ? khi : std::min(khi, na);
      if (kfirst > klast) continue;
      const Index nm = mlast - mfirst + 1, nk = klast - kfirst + 1;
      const auto need = static_cast<std::size_t>(nm * nk);
      // Room for the spare entries the short footprints below write.
      Share* out = writer.room(need + 4);
      const double inv = inverse[col];
      if (every_azimuth && nm <= 2) {
        // The 1-D scan: the azimuthal fraction is exactly 1, as below.
        const Index m0 = mfirst;
        double f0 = m0 == ilo ? (m0 - lo) * ps : m0 == ihi ? (hi - (m0 - 1)) * ps : ps;
        double f1 = m0 + 1 == ihi ? (hi - m0) * ps : ps;
        f0 = std::min(f0, 1.0);
        f1 = nm == 2 ? std::min(f1, 1.0) : 0.0;
        const Index b0 = m0 - 1, b1 = b0 + (nm - 1);
        out[0] = {static_cast<std::uint32_t>(b0), static_cast<float>(f0 * inv)};
        out[1] = {static_cast<std::uint32_t>(b1), static_cast<float>(f1 * inv)};
        weight[b0] += f0;
        *(nm == 2 ? weight + b1 : spare) += f1;
      } else if (nm <= 2 && nk <= 2) {
        // Nearly every footprint: at most two bins in each direction, as
        // straight-line code. A missing second bin gets a zero fraction and
        // the first bin's number: its entry is overwritten or lies beyond
        // the row's count, and its zero goes to the spare weight.
        const Index m0 = mfirst, k0 = kfirst;
        double f0 = m0 == ilo ? (m0 - lo) * ps : m0 == ihi ? (hi - (m0 - 1)) * ps : ps;
        double f1 = m0 + 1 == ihi ? (hi - m0) * ps : ps;
        double a0 = k0 == klo ? (k0 - alo) * pa : k0 == khi ? (ahi - (k0 - 1)) * pa : pa;
        double a1 = k0 + 1 == khi ? (ahi - k0) * pa : pa;
        f0 = std::min(f0, 1.0);
        f1 = nm == 2 ? std::min(f1, 1.0) : 0.0;
        a0 = std::min(a0, 1.0);
        a1 = nk == 2 ? std::min(a1, 1.0) : 0.0;
        // The footprint is at most half a circle wide: one turn brings it back.
        Index kb0 = k0 - 1;
        while (kb0 < 0) kb0 += na;
        while (kb0 >= na) kb0 -= na;
        const Index kb1 = nk == 1 ? kb0 : kb0 + 1 == na ? 0 : kb0 + 1;
        const Index b00 = (m0 - 1) + kb0 * n2, b10 = (m0 - 1) + kb1 * n2;
        const Index b01 = b00 + (nm - 1), b11 = b10 + (nm - 1);
        const double s00 = f0 * a0, s01 = f1 * a0, s10 = f0 * a1, s11 = f1 * a1;
        out[0] = {static_cast<std::uint32_t>(b00), static_cast<float>(s00 * inv)};
        out[1] = {static_cast<std::uint32_t>(b01), static_cast<float>(s01 * inv)};
        out[nm] = {static_cast<std::uint32_t>(b10), static_cast<float>(s10 * inv)};
        out[nm + 1] = {static_cast<std::uint32_t>(b11), static_cast<float>(s11 * inv)};
        // In the same order as ever, so each bin's sum is the same; a second
        // azimuth bin that is the first again (one bin round the circle)
        // still adds its share to it.
        weight[b00] += s00;
        *(nm == 2 ? weight + b01 : spare) += s01;
        *(nk == 2 ? weight + b10 : spare) += s10;
        *(nm == 2 && nk == 2 ? weight + b11 : spare) += s11;
      } else {
        if (fractions.size() < static_cast<std::size_t>(nm))
          fractions.resize(static_cast<std::size_t>(nm));
        for (Index m = mfirst; m <= mlast; ++m) {
          const double fr = m == ilo   ? (m - lo) * ps
                            : m == ihi ? (hi - (m - 1)) * ps
                                       : ps;
          fractions[static_cast<std::size_t>(m - mfirst)] = std::min(fr, 1.0);
        }
        for (Index k = kfirst; k <= klast; ++k) {
          double fa = k == klo   ? (k - alo) * pa
                      : k == khi ? (ahi - (k - 1)) * pa
                                 : pa;
          fa = std::min(fa, 1.0);
          Index kb = k - 1;
          while (kb < 0) kb += na;
          while (kb >= na) kb -= na;
          const auto first_bin = static_cast<std::uint32_t>((mfirst - 1) + kb * n2);
          double* wk = weight + (mfirst - 1) + kb * n2;
          for (Index m = 0; m < nm; ++m) {
            const double share = fractions[static_cast<std::size_t>(m)] * fa;
            out[m] = {first_bin + static_cast<std::uint32_t>(m), static_cast<float>(share * inv)};
            wk[m] += share;
          }
          out += nm;
        }
      }
      writer.add(need);
      count[col] = static_cast<std::uint32_t>(need);
    }
    writer.end_row();
  }
}

// SUMS(n) = the blocks' PARTS(n) added in block order, for BINS bins: each
// worker takes a fixed range of bins, so every bin gets the same additions
// in the same order whatever the threads.
void sum_blocks(const std::vector<const double*>& parts, Index bins, double* sums) {
  // Small sums are not worth a thread.
  const Index ranges = bins < (Index{1} << 16) ? 1 : kBlocks;
  for_blocks(ranges, [&](Index r) {
    for (Index n = bins * r / ranges; n < bins * (r + 1) / ranges; ++n) {
      double v = 0.0;
      for (const double* part : parts) v += part[n];
      sums[n] = v;
    }
  });
}

// Number of NaN and infinite values of the region: exponent bits all set,
// tested as integers so that the loop vectorises (a compare and an add per
// pixel, no branch).
Index nonfinite_count(std::span<const float> data, Index xmaxdat, Index xs, Index ys, Index xe,
                      Index ye) {
  Index count = 0;
  for (Index j = ys; j <= ye; ++j) {
    const float* row = data.data() + element(xs, j, xmaxdat);
    const Index width = xe - xs + 1;
    std::uint32_t row_count = 0;
    for (Index i = 0; i < width; ++i) {
      std::uint32_t bits;
      std::memcpy(&bits, row + i, sizeof bits);
      row_count += (bits & 0x7F800000u) == 0x7F800000u ? 1u : 0u;
    }
    count += row_count;
  }
  return count;
}

// MASK with the NaN and infinite pixels of the region masked as well.
std::vector<std::uint8_t> finite_mask(std::span<const float> data,
                                      std::span<const std::uint8_t> mask, Index xmaxdat,
                                      Index ymaxdat, Index xs, Index ys, Index xe, Index ye) {
  std::vector<std::uint8_t> combined(static_cast<std::size_t>(xmaxdat * ymaxdat), 0);
  if (!mask.empty()) std::copy_n(mask.begin(), combined.size(), combined.begin());
  for (Index j = ys; j <= ye; ++j)
    for (Index i = xs; i <= xe; ++i) {
      const auto e = static_cast<std::size_t>(element(i, j, xmaxdat));
      if (!std::isfinite(data[e])) combined[e] = 1;
    }
  return combined;
}

// False when the memory for the table could not be had.
bool build_table(const Setup& s, const DiffractionGeometry& g, std::span<const std::uint8_t> mask,
                 Table& t) {
  const Index rows = s.yendelm - s.ystrelm + 1;
  const Index blocks = std::min(kBlocks, rows);
  t.blocks.clear();
  t.blocks.resize(static_cast<std::size_t>(blocks));
  for (Index b = 0; b < blocks; ++b) {
    t.blocks[b].ystart = s.ystrelm + rows * b / blocks;
    t.blocks[b].yend = s.ystrelm + rows * (b + 1) / blocks - 1;
  }
  for_blocks(blocks, [&](Index b) {
    try {
      build_block(s, g, mask, t.blocks[b]);
    } catch (const std::bad_alloc&) {
      t.blocks[b] = Block{};
      t.blocks[b].out_of_memory = true;
    }
  });
  for (const Block& b : t.blocks)
    if (b.out_of_memory) return false;
  t.bins = s.num_2theta * s.num_azimuthal;
  t.weights.resize(static_cast<std::size_t>(t.bins));
  std::vector<const double*> parts;
  for (const Block& b : t.blocks) parts.push_back(b.weights.data());
  sum_blocks(parts, t.bins, t.weights.data());
  t.min_factor = 1.7e38;
  for (Block& b : t.blocks) {
    t.min_factor = std::min(t.min_factor, b.min_factor);
    b.weights = {};
  }
  return true;
}

// Sums of one frame into SUMS (t.bins), block by block in a fixed order.
void apply_table(const Table& t, const Setup& s, std::span<const float> data,
                 std::vector<double>& sums) {
  const Index blocks = static_cast<Index>(t.blocks.size());
  // Each worker clears its own sums; a want of memory there is reported
  // back to this thread.
  std::vector<std::vector<double>> partial(static_cast<std::size_t>(blocks));
  std::vector<std::uint8_t> failed(static_cast<std::size_t>(blocks), 0);
  for_blocks(blocks, [&](Index bi) {
    const Block& b = t.blocks[bi];
    std::vector<double>& acc = partial[bi];
    try {
      acc.assign(static_cast<std::size_t>(t.bins), 0.0);
    } catch (const std::bad_alloc&) {
      failed[bi] = 1;
      return;
    }
    const std::uint32_t* count = b.counts.get();
    const Index width = s.xendelm - s.xstrelm + 1;
    for (Index j = b.ystart; j <= b.yend; ++j) {
      const Share* share = b.rows[static_cast<std::size_t>(j - b.ystart)];
      const float* row = data.data() + element(s.xstrelm, j, s.xmaxdat);
      for (Index i = 0; i < width; ++i) {
        const double v = row[i];
        for (std::uint32_t n = count[i]; n > 0; --n, ++share) acc[share->bin] += v * share->share;
      }
      count += width;
    }
  });
  if (std::find(failed.begin(), failed.end(), 1) != failed.end()) throw std::bad_alloc();
  sums.resize(static_cast<std::size_t>(t.bins));
  std::vector<const double*> parts;
  for (const std::vector<double>& acc : partial) parts.push_back(acc.data());
  sum_blocks(parts, t.bins, sums.data());
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
      if (!(d_max > s.o)) return fail(3);
      s.w = (d_max - s.o) / n;
      break;
  }
  if (!(s.w > 0.0) || !(s.aw > 0.0)) return fail(3);
  s.h = std::sqrt(0.3183099) * (static_cast<double>(x_pixel_size) + y_pixel_size) * 0.5;

  IO_WRITE("INFO: Starting to transform active data region (this may take some time)", status);

  // NaN and infinite pixels (detector gaps are often stored so) are left out
  // as masked ones are: they add neither value nor weight. They are few and
  // fixed from frame to frame, so the table with them masked is kept too.
  std::vector<std::uint8_t> combined;
  if (nonfinite_count(data, xmaxdat, xstrelm, ystrelm, xendelm, yendelm) > 0) {
    try {
      combined = finite_mask(data, mask, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm);
    } catch (const std::bad_alloc&) {
      IO_WRITE("WARNING: Not enough memory for the re-binning table of the region", status);
      return fail(3);
    }
    mask = combined;
  }

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
  key.push_back(mask.empty() ? 0 : 1);
  key.push_back(region_hash(mask, xmaxdat, xstrelm, ystrelm, xendelm, yendelm));
  key.push_back(region_hash(x_shift, xmaxdat, xstrelm, ystrelm, xendelm, yendelm));
  key.push_back(region_hash(y_shift, xmaxdat, xstrelm, ystrelm, xendelm, yendelm));
  Table& t = cake_state.table;
  if (!cake_state.valid || t.key != key) {
    kzt_release_cake_table();
    if (!build_table(s, g, mask, t)) {
      kzt_release_cake_table();
      IO_WRITE("WARNING: Not enough memory for the re-binning table of the region", status);
      return fail(3);
    }
    t.key = std::move(key);
    cake_state.valid = true;
    ++cake_state.builds;
  }

  std::vector<double> sums;
  try {
    apply_table(t, s, data, sums);
  } catch (const std::bad_alloc&) {
    IO_WRITE("WARNING: Not enough memory for the re-binning sums of the region", status);
    return fail(3);
  }

  if (correct_polarisation) {
    IO_WRITE(" ", status);
    IO_WRITE("INFO: Minimum fractional intensity decrease owing to polarisation = " +
                 format_f(t.min_factor, 7, 4),
             status);
    IO_WRITE("INFO: (The reciprocal value is applied to the data.)", status);
  }

  if (!conserve_intensity) {
    for (Index b = 0; b < t.bins; ++b) sums[b] = t.weights[b] > 0.01 ? sums[b] / t.weights[b] : 0.0;
    if (lorentz_geometry == 1 && (scan_type == kScanTwoTheta || scan_type == kScanQ))
      for (Index m = 1; m <= num_2theta; ++m) {
        // Each bin's own lower edge: a q bin's 2-theta is not on the even grid.
        const double lower = scan_type == kScanTwoTheta
                                 ? s.t_in + static_cast<double>(m - 1) * s.dt
                                 : g.two_theta_of_q(s.o + static_cast<double>(m - 1) * s.w);
        const double c = std::cos(lower);
        const double f = 1.0 / (c * c * c);
        for (Index k = 0; k < num_azimuthal; ++k) sums[(m - 1) + k * num_2theta] *= f;
      }
  }
  const bool reversed = scan_type == kScanD;
  for (Index k = 1; k <= num_azimuthal; ++k)
    for (Index m = 1; m <= num_2theta; ++m) {
      const Index from = (m - 1) + (k - 1) * num_2theta;
      const Index to_m = reversed ? num_2theta + 1 - m : m;
      output[static_cast<std::size_t>(element(to_m, k, mxout))] = static_cast<float>(sums[from]);
      weights[static_cast<std::size_t>(element(m, k, mxwork))] = static_cast<float>(t.weights[from]);
    }
  azimuth_step = static_cast<float>(s.aw);
  radial_step = static_cast<float>(reversed ? -s.w : s.w);
  radial_start = static_cast<float>(scan_type == kScanD ? d_max : s.o);
}

}  // namespace kesta
