#include "app/diffraction/ring_coordinates.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/system/drawing.hpp"

namespace kesta {

std::string kzt_poor_ring_fit_warning(const RingFitResidual& fit, float x_pixel_size) {
  const double rms = fit.rms(x_pixel_size);
  // (A NaN residual is a poor fit too.)
  if (rms <= 1.0) return {};
  const std::string pixels(trimmed_text(format_f(rms, 14, 2)));
  return "WARNING: The refined geometry does not fit the rings: rms radial residual = " + pixels +
         " pixels";
}

bool kzt_warn_poor_ring_fit(const RingFitResidual& fit, float x_pixel_size, Status& status) {
  const std::string line = kzt_poor_ring_fit_warning(fit, x_pixel_size);
  if (line.empty()) return false;
  IO_WRITE(line, status);
  return true;
}

namespace {

constexpr double kTwoPi = 6.283185;
// Radius of a disc of one mean pixel's area, per mean pixel size.
constexpr double kRootInversePi = 0.5641895835;  // sqrt(0.3183099)
constexpr float kMissing = -1.7e38f;

// Fortran INT of a value that may lie far outside the Index range.
Index truncate(double v) {
  constexpr double kLimit = 4.0e18;
  return static_cast<Index>(std::clamp(v, -kLimit, kLimit));
}

// The checks shared by KZT_FINDRINGS and KZT_RINGCOORDS; 0 when usable.
Status ring_search_error(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, std::size_t data_size,
                         std::size_t mask_size, float x_pixel_size, float y_pixel_size,
                         int num_sections, Index max_coordinates) {
  if (max_coordinates < 5) return kBaseApp + 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data_size, kBaseApp))
    return e;
  if (mask_size != 0 && !array_holds(mask_size, xmaxdat, ymaxdat)) return kBaseApp + 1;
  if (num_sections < 4 || num_sections > max_coordinates) return kBaseApp + 17;
  if (!(x_pixel_size > 0.0f)) return kBaseApp + 21;
  if (!(y_pixel_size > 0.0f)) return kBaseApp + 22;
  return 0;
}

// The section of a point at azimuth A (0 .. 2 pi), found from a quick
// estimate and settled exactly against the sections' edge directions, so
// that the hot loop needs no arc tangent.
class SectionFinder {
 public:
  explicit SectionFinder(int num_sections) : n_(num_sections) {
    const double section = kTwoPi / num_sections;
    edges_.resize(static_cast<std::size_t>(n_) + 1);
    for (int s = 0; s <= n_; ++s)
      edges_[static_cast<std::size_t>(s)] = {std::cos(s * section), std::sin(s * section)};
    per_radian_ = 1.0 / section;
  }
  // 0-based section of (x, y), (x, y) not both 0.
  int operator()(double x, double y) const {
    int s = static_cast<int>(quick_azimuth(x, y) * per_radian_);
    s = std::clamp(s, 0, n_ - 1);
    // An azimuth below the section's start edge belongs to an earlier one,
    // one at or past the next edge to a later one (the last takes all up to
    // 2 pi, as a negative angle plus 2 pi may round there).
    while (s > 0 && before(s, x, y)) --s;
    while (s < n_ - 1 && !before(s + 1, x, y)) ++s;
    return s;
  }

  // The section of the next point of a row (Y fixed, X grown by a
  // pixel) after a point in section S: the azimuth only falls above the
  // beam centre and only rises below it.
  int next_along_row(int s, double x, double y) const {
    if (y > 0.0) {
      while (s > 0 && before(s, x, y)) --s;
      return s;
    }
    if (y < 0.0) {
      while (s < n_ - 1 && !before(s + 1, x, y)) ++s;
      return s;
    }
    return (*this)(x, y);
  }

 private:
  struct Edge {
    double c, s;
  };
  // True when (x, y) lies clockwise of edge E (its azimuth is smaller); the
  // estimate keeps the point within a small angle of the edges tested. A
  // point on an edge belongs to the section that starts there.
  bool before(int e, double x, double y) const {
    const Edge& d = edges_[static_cast<std::size_t>(e)];
    return d.c * y - d.s * x < 0.0;
  }
  // atan2 mapped into 0 .. 2 pi within about 1e-4 radians.
  static double quick_azimuth(double x, double y) {
    const double ax = std::abs(x);
    const double ay = std::abs(y);
    const double lo = std::min(ax, ay);
    const double hi = std::max(ax, ay);
    const double t = hi > 0.0 ? lo / hi : 0.0;
    const double t2 = t * t;
    double a = t * (0.9998660 + t2 * (-0.3302995 + t2 * (0.1801410 + t2 * (-0.0851330 +
                                                                          t2 * 0.0208351))));
    if (ay > ax) a = 1.5707963267948966 - a;
    if (x < 0.0) a = 3.141592653589793 - a;
    if (y < 0.0) a = 6.283185307179586 - a;
    return a;
  }

  int n_;
  double per_radian_ = 0.0;
  std::vector<Edge> edges_;
};

// The search annulus of a ring follows the conic section the current
// geometry predicts: SHIFT(x, y) is how far the predicted ring lies outside
// its mean search radius at the azimuth of (x, y). Without tilt it is 0
// everywhere and the annulus is the plain circle.
class RingShift {
 public:
  RingShift(const RingTilt* tilt, double radius) {
    if (tilt == nullptr || tilt->tilt_angle == 0.0 || !(tilt->distance > 0.0) || !(radius > 0.0))
      return;
    const double t = radius / tilt->distance;
    const double st = std::sin(tilt->tilt_angle);
    const double ct = std::cos(tilt->tilt_angle);
    a_ = st * st * t * t - ct * ct;
    b_ = 2.0 * tilt->distance * st * t * t;
    dt2_ = radius * radius;
    c_ = std::cos(tilt->tilt_rotation);
    s_ = std::sin(tilt->tilt_rotation);
    radius_ = radius;
    // Usable only where every azimuth meets the cone on the detector.
    lo_ = hi_ = 0.0;
    for (int k = 0; k < 720; ++k) {
      const double shift = along(std::cos(k * kTwoPi / 720.0), std::sin(k * kTwoPi / 720.0));
      if (!std::isfinite(shift)) return;
      lo_ = std::min(lo_, shift);
      hi_ = std::max(hi_, shift);
    }
    on_ = true;
  }
  bool on() const { return on_; }
  double least() const { return lo_; }
  double most() const { return hi_; }
  // The shift along the unit direction (cx, cy) from the beam centre.
  double along(double cx, double cy) const {
    const double cp = c_ * cx + s_ * cy;
    const double sp = c_ * cy - s_ * cx;
    const double qa = sp * sp - a_ * cp * cp;
    const double qb = -b_ * cp;
    const double disc = qb * qb + 4.0 * qa * dt2_;
    if (!(qa > 0.0) || !(disc >= 0.0)) return std::numeric_limits<double>::quiet_NaN();
    return (-qb + std::sqrt(disc)) / (2.0 * qa) - radius_;
  }

 private:
  bool on_ = false;
  double a_ = 0.0, b_ = 0.0, dt2_ = 0.0, c_ = 1.0, s_ = 0.0, radius_ = 0.0;
  double lo_ = 0.0, hi_ = 0.0;
};

}  // namespace

Index kzt_ring_bins(float half_width, float x_pixel_size, float y_pixel_size) {
  const double mean = (static_cast<double>(x_pixel_size) + y_pixel_size) / 2.0;
  return truncate(2.0 * static_cast<double>(half_width) / mean) + 1;
}

namespace {

// A check searches rings only where the image shows them plainly: a
// section whose annulus holds a value that is no finite number, or a pixel
// of a module gap, is left out as a masked one. A gap is a run of pixels
// of exactly 0 along a row or a column: three where the section's
// background (its profile's lowest bin) makes a zero rare; where counts
// are so low that zeros come by chance, as long as makes a run by chance
// rarer than one in ten thousand pixels of the section; at most
// kLongestGapRun, which every module gap exceeds along its length.
constexpr Index kLongestGapRun = 64;

Index gap_run(double background, Index pixels) {
  if (!(background > 0.0)) return kLongestGapRun;
  // A pixel lies in a run of N zeros by chance about as often as
  // exp(-N background), the chance that N pixels are all 0.
  const double chance =
      std::log(1.0e4 * static_cast<double>(std::max<Index>(pixels, 1))) / background;
  return std::clamp<Index>(static_cast<Index>(std::ceil(std::min(chance, 1.0e6))), 3,
                           kLongestGapRun);
}

// Whether pixel (I, J) of DATA starts, ends or lies inside a run of at
// least RUN pixels of exactly 0 along its row or its column, within the
// region.
bool in_zero_run(std::span<const float> data, Index xmaxdat, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, Index i, Index j, Index run) {
  auto zero = [&](Index x, Index y) {
    return data[static_cast<std::size_t>(element(x, y, xmaxdat))] == 0.0f;
  };
  Index along = 1;
  for (Index x = i - 1; x >= xstrelm && along < run && zero(x, j); --x) ++along;
  for (Index x = i + 1; x <= xendelm && along < run && zero(x, j); ++x) ++along;
  if (along >= run) return true;
  Index down = 1;
  for (Index y = j - 1; y >= ystrelm && down < run && zero(i, y); --y) ++down;
  for (Index y = j + 1; y <= yendelm && down < run && zero(i, y); ++y) ++down;
  return down >= run;
}

// The position (in bins from the inner edge) of the one clear maximum of
// a profile: V is the profile less its background, RAW the profile, SE
// the bins' standard errors. None where the profile has no maximum
// standing kClearMaximum standard errors above the background, or a
// second one that rises again to half of it beyond where it fell below
// half. The position is the centre of the peak's symmetry: the point
// about which the profile's centre of gravity, over a window as wide as
// the peak above a fifth of its height (or as the annulus lets it be), is
// that point itself. A background that is the same on both sides, another
// ring beyond the window, or the annulus's edge cutting a broad ring does
// not pull it; a background line drawn through the profile's ends, which
// another ring or a cut ring lifts at one end, is not used for it.
constexpr double kClearMaximum = 5.0;
// What a profile's level leaves of rounding in sums over it.
constexpr double kRounding = 1.0e-9;

bool clear_maximum(std::span<const double> v, std::span<const double> raw,
                   std::span<const double> se, double& position) {
  const auto nb = static_cast<std::ptrdiff_t>(v.size());
  if (nb < 3) return false;
  auto smooth = [&](std::ptrdiff_t b) {
    const std::ptrdiff_t lo = std::max<std::ptrdiff_t>(b - 1, 0);
    const std::ptrdiff_t hi = std::min<std::ptrdiff_t>(b + 1, nb - 1);
    double sum = 0.0;
    for (std::ptrdiff_t k = lo; k <= hi; ++k) sum += v[static_cast<std::size_t>(k)];
    return sum / static_cast<double>(hi - lo + 1);
  };
  auto noise = [&](std::ptrdiff_t b) {
    const std::ptrdiff_t lo = std::max<std::ptrdiff_t>(b - 1, 0);
    const std::ptrdiff_t hi = std::min<std::ptrdiff_t>(b + 1, nb - 1);
    double sum = 0.0;
    for (std::ptrdiff_t k = lo; k <= hi; ++k)
      sum += se[static_cast<std::size_t>(k)] * se[static_cast<std::size_t>(k)];
    return std::sqrt(sum) / static_cast<double>(hi - lo + 1);
  };
  std::ptrdiff_t m = 1;
  for (std::ptrdiff_t b = 2; b < nb - 1; ++b)
    if (smooth(b) > smooth(m)) m = b;
  const double top = smooth(m);
  // (A profile of one value throughout, as where a coarse powder's ring
  // has no crystallite, has no standard error: what stands above it
  // there is rounding.)
  if (!(top > kRounding * std::abs(raw[static_cast<std::size_t>(m)])) ||
      !(top >= kClearMaximum * noise(m)))
    return false;
  // The peak's extent above half and above a fifth of its height.
  std::ptrdiff_t half_lo = m, half_hi = m;
  while (half_lo > 0 && smooth(half_lo - 1) > 0.5 * top) --half_lo;
  while (half_hi < nb - 1 && smooth(half_hi + 1) > 0.5 * top) ++half_hi;
  for (std::ptrdiff_t b = 0; b < nb; ++b)
    if ((b < half_lo - 1 || b > half_hi + 1) && smooth(b) > 0.5 * top + 2.0 * noise(b))
      return false;
  std::ptrdiff_t fifth_lo = m, fifth_hi = m;
  while (fifth_lo > 0 && smooth(fifth_lo - 1) > 0.2 * top) --fifth_lo;
  while (fifth_hi < nb - 1 && smooth(fifth_hi + 1) > 0.2 * top) ++fifth_hi;
  const double reach =
      std::max<double>(1.0, static_cast<double>(std::min(m - fifth_lo, fifth_hi - m))) + 0.5;
  double base = raw[static_cast<std::size_t>(m)];
  for (std::ptrdiff_t b = std::max<std::ptrdiff_t>(fifth_lo - 1, 0);
       b <= std::min<std::ptrdiff_t>(fifth_hi + 1, nb - 1); ++b)
    base = std::min(base, raw[static_cast<std::size_t>(b)]);
  // The centre of gravity over the window about C, less C; NaN where the
  // window does not fit or holds nothing.
  auto moved = [&](double c) {
    const double w = std::min({reach, c, static_cast<double>(nb) - c});
    if (!(w >= 1.0)) return std::nan("");
    double sum = 0.0, moment = 0.0;
    for (std::ptrdiff_t b = std::max<std::ptrdiff_t>(0, static_cast<std::ptrdiff_t>(c - w));
         b < nb && static_cast<double>(b) < c + w; ++b) {
      const double lo = std::max(static_cast<double>(b), c - w);
      const double hi = std::min(static_cast<double>(b + 1), c + w);
      if (hi <= lo) continue;
      const double part = (hi - lo) * (raw[static_cast<std::size_t>(b)] - base);
      sum += part;
      moment += part * (0.5 * (lo + hi) - c);
    }
    return sum > 0.0 ? moment / sum : std::nan("");
  };
  // The point where the centre of gravity moves no more, by secant steps
  // from the maximum's bin.
  double c0 = static_cast<double>(m) + 0.5, h0 = moved(c0);
  if (!std::isfinite(h0)) return false;
  double c1 = c0 + h0, h1 = moved(c1);
  for (int pass = 0; pass < 12 && std::isfinite(h1) && std::abs(h1) > 1.0e-4; ++pass) {
    const double slope = (h1 - h0) / (c1 - c0);
    const double next = slope < 0.0 && std::isfinite(slope) ? c1 - h1 / slope : c1 + h1;
    c0 = c1;
    h0 = h1;
    c1 = std::clamp(next, static_cast<double>(m) - reach, static_cast<double>(m) + 1.0 + reach);
    h1 = moved(c1);
  }
  if (!std::isfinite(h1) || !(std::abs(h1) <= 0.05)) return false;
  position = c1;
  return true;
}

// The search annulus of one ring: radius RADIUS, HALF_WIDTH either side,
// NUM_BINS radial bins, following the conic of TILT where given. A pixel's
// footprint is a disc of its mean area, spread over the bins it covers.
struct Annulus {
  Annulus(const RingTilt* tilt, float radius, float half_width, Index num_bins,
          float x_pixel_size, float y_pixel_size, float x_beam, float y_beam)
      : ri(static_cast<double>(radius) - half_width),
        ro(static_cast<double>(radius) + half_width),
        shift(tilt, radius),
        xps(x_pixel_size),
        yps(y_pixel_size),
        xb(x_beam),
        yb(y_beam) {
    // The pixels searched: those within the shifted annulus's extremes.
    const double ri_all = ri + shift.least();
    ro_all = ro + shift.most();
    ri2 = ri_all > 0.0 ? ri_all * ri_all : 0.0;
    ro2 = ro_all * ro_all;
    bw = (ro - ri) / static_cast<double>(num_bins);
    h = kRootInversePi * (xps + yps) / 2.0;
    const double span = 2.0 * h / bw;
    per_bin = 1.0 / bw;
    per_span = 1.0 / span;
    between = std::min(per_span, 1.0);
  }
  double ri, ro;
  RingShift shift;
  double xps, yps, xb, yb;
  double ro_all = 0.0, ri2 = 0.0, ro2 = 0.0;
  double bw = 0.0, h = 0.0, per_bin = 0.0, per_span = 0.0, between = 0.0;
};

// The radial profiles of a ring's sections as the annulus's pixels build
// them: PROFILES and WEIGHTS (MAX_BINS a section, 1-based bins as the
// footprint shares fall), a check's sums of squares (for the bins'
// standard errors), each section's pixel count, whether it is usable
// (nothing masked, no value that is not a number), and the pixels of
// exactly 0 met (for the gaps).
struct SectionProfiles {
  struct Zero {
    Index i, j;
    std::size_t section;
  };
  std::span<double> profiles, weights;
  std::size_t nbins;
  std::vector<double> squares;
  std::vector<Index> pixels;
  std::vector<char> usable;
  std::vector<Zero> zeros;
};

// Adds each pixel of the region inside annulus A to the profile of its
// section. Only pixels of the annulus count; each row is walked over its
// two spans (or one) of the annulus, with a pixel's margin, and each pixel
// is tested exactly.
void gather_sections(const Annulus& a, Index xmaxdat, Index xstrelm, Index ystrelm,
                     Index xendelm, Index yendelm, std::span<const float> data,
                     std::span<const std::uint8_t> mask, int num_sections, Index max_bins,
                     bool checking, SectionProfiles& p) {
  const SectionFinder section_of(num_sections);
  const Index ylo = std::max(ystrelm, truncate((a.yb - a.ro_all) / a.yps));
  const Index yhi = std::min(yendelm, truncate((a.yb + a.ro_all) / a.yps) + 1);
  for (Index j = ylo; j <= yhi; ++j) {
    const double y = (static_cast<double>(j) - 0.5) * a.yps - a.yb;
    const double y2 = y * y;
    if (y2 > a.ro2) continue;
    const double xo = std::sqrt(a.ro2 - y2);
    const Index ilo = std::max(xstrelm, truncate(std::floor((a.xb - xo) / a.xps + 0.5)));
    const Index ihi = std::min(xendelm, truncate(std::ceil((a.xb + xo) / a.xps + 0.5)));
    Index hole_lo = ihi + 1;
    Index hole_hi = ihi;
    if (a.ri2 > y2) {
      const double xi = std::sqrt(a.ri2 - y2);
      hole_lo = truncate(std::ceil((a.xb - xi) / a.xps + 0.5)) + 1;
      hole_hi = truncate(std::floor((a.xb + xi) / a.xps + 0.5)) - 1;
    }
    const Index row = element(1, j, xmaxdat);
    Index previous = -1;  // the last pixel taken, and its section
    int previous_section = 0;
    for (Index i = ilo; i <= ihi; ++i) {
      if (i >= hole_lo && i <= hole_hi) {
        i = hole_hi;
        continue;
      }
      const double x = (static_cast<double>(i) - 0.5) * a.xps - a.xb;
      const double r2 = x * x + y2;
      if (r2 < a.ri2 || r2 > a.ro2) continue;
      double r = std::sqrt(r2);
      if (a.shift.on()) {
        r -= a.shift.along(x / r, y / r);
        if (!(r >= a.ri && r <= a.ro)) continue;  // also a direction the cone misses
      }
      const int s = r2 <= 0.0         ? 0
                    : i == previous + 1 ? section_of.next_along_row(previous_section, x, y)
                                        : section_of(x, y);
      previous = i;
      previous_section = s;
      const auto sec = static_cast<std::size_t>(s);
      const std::size_t at = static_cast<std::size_t>(row + i - 1);
      if (!mask.empty() && mask[at] != 0) {
        p.usable[sec] = 0;
        continue;
      }
      const double lo = (r - a.ri - a.h) * a.per_bin;
      const double hi = (r - a.ri + a.h) * a.per_bin;
      // Both lie within a few bins of the annulus. The footprint's first
      // and last bins take their covered part, the bins between 1 / SPAN.
      const Index first = static_cast<Index>(lo) + 1;
      const Index last = static_cast<Index>(hi) + 1;
      const double value = data[at];
      if (checking) {
        if (!std::isfinite(value)) {
          p.usable[sec] = 0;
          continue;
        }
        if (value == 0.0) p.zeros.push_back({i, j, sec});
      }
      double* prof = p.profiles.data() + sec * p.nbins - 1;  // 1-based bins
      double* wt = p.weights.data() + sec * p.nbins - 1;
      double* sq = checking ? p.squares.data() + sec * p.nbins - 1 : nullptr;
      auto add = [&](Index b, double f) {
        prof[b] += f * value;
        wt[b] += f;
        if (sq != nullptr) sq[b] += f * value * value;
      };
      if (first >= 1 && first <= max_bins)
        add(first, std::min((static_cast<double>(first) - lo) * a.per_span, 1.0));
      const Index mid_end = std::min<Index>(max_bins, last - 1);
      for (Index b = std::max<Index>(1, first + 1); b <= mid_end; ++b) add(b, a.between);
      if (last != first && last >= 1 && last <= max_bins)
        add(last, std::min((hi - static_cast<double>(last - 1)) * a.per_span, 1.0));
      ++p.pixels[sec];
    }
  }
}

// Leaves out, as masked, each usable section holding a pixel of a module
// gap: a zero met inside a run of zeros as long as the section's counts
// make rare by chance (gap_run of its profile's lowest bin).
void leave_out_gaps(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, Index num_bins, SectionProfiles& p) {
  if (p.zeros.empty()) return;
  const std::size_t nsec = p.usable.size();
  std::vector<Index> runs(nsec, kLongestGapRun);
  for (std::size_t s = 0; s < nsec; ++s) {
    const double* prof = p.profiles.data() + s * p.nbins;
    const double* wt = p.weights.data() + s * p.nbins;
    double lowest = std::numeric_limits<double>::infinity();
    for (Index b = 0; b < num_bins; ++b)
      if (wt[b] > 0.0) lowest = std::min(lowest, prof[b] / wt[b]);
    runs[s] = gap_run(lowest, p.pixels[s]);
  }
  for (const SectionProfiles::Zero& z : p.zeros)
    if (p.usable[z.section] != 0 &&
        in_zero_run(data, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, z.i, z.j, runs[z.section]))
      p.usable[z.section] = 0;
}

// The profile of section S divided by its weights (a bin without any
// leaves the section unusable, its profile all missing); false for a
// section that cannot be searched (unusable, or of nine pixels or fewer).
bool section_profile_searchable(std::size_t s, std::size_t nb, SectionProfiles& p) {
  double* prof = p.profiles.data() + s * p.nbins;
  const double* wt = p.weights.data() + s * p.nbins;
  if (p.usable[s] != 0) {
    for (std::size_t b = 0; b < nb; ++b) {
      if (wt[b] > 0.0) {
        prof[b] /= wt[b];
      } else {
        p.usable[s] = 0;
      }
    }
    if (p.usable[s] == 0) std::fill_n(prof, nb, static_cast<double>(kMissing));
  }
  return p.usable[s] != 0 && p.pixels[s] > 9;
}

// The ring's radius and intensity in section S of searchable profiles P:
// its profile less the line through its ends, then the centre of gravity
// (a check: the one clear maximum) and the mean of the three bins about it
// (or with INTEGRATED the sum of the inner bins). False where the section
// shows no ring. V and SE are work arrays of the profile's length.
bool section_ring(const Annulus& a, std::size_t s, std::size_t nb, const SectionProfiles& p,
                  bool checking, bool integrated, std::vector<double>& v, std::vector<double>& se,
                  double& rc, double& intensity) {
  const double* prof = p.profiles.data() + s * p.nbins;
  const double* wt = p.weights.data() + s * p.nbins;
  // Background: the line through the profile's ends.
  double bg = prof[0];
  double x0 = 0.5;
  double g = (prof[nb - 1] - prof[0]) / static_cast<double>(nb - 1);
  if (nb >= 9) {
    bg = (prof[0] + prof[1] + prof[2]) / 3.0;
    x0 = 1.5;
    g = ((prof[nb - 3] + prof[nb - 2] + prof[nb - 1]) / 3.0 - bg) / static_cast<double>(nb - 3);
  }
  double sum = 0.0;
  double moment = 0.0;
  for (std::size_t b = 0; b < nb; ++b) {
    v[b] = prof[b] - bg - ((static_cast<double>(b) + 0.5) - x0) * g;
    sum += v[b];
    moment += (a.bw * (static_cast<double>(b) + 0.5) + a.ri) * v[b];
  }
  if (checking) {
    const double* sq = p.squares.data() + s * p.nbins;
    for (std::size_t b = 0; b < nb; ++b)
      se[b] = std::sqrt(std::max(sq[b] / wt[b] - prof[b] * prof[b], 0.0) / wt[b]);
    double at_bins = 0.0;
    if (!clear_maximum(v, std::span<const double>(prof, nb), se, at_bins)) return false;
    rc = a.ri + a.bw * at_bins;
  } else {
    if (!(sum > 0.0)) return false;
    rc = moment / sum;
  }
  const double centre_bin = (rc - a.ri) / a.bw;
  if (!(centre_bin >= 1.0 && centre_bin < static_cast<double>(nb) - 1.0)) return false;
  const auto bc = static_cast<std::size_t>(centre_bin);  // 0-based; 1 <= bc <= nb - 2
  if (!(v[bc] > 0.0)) return false;
  intensity = (v[bc - 1] + v[bc] + v[bc + 1]) / 3.0;
  if (integrated) {
    intensity = 0.0;
    for (std::size_t b = 1; b + 1 < nb; ++b) intensity += v[b];
  }
  return intensity > 0.0;
}

// The checks of one ring's search besides ring_search_error's; 0 when
// usable.
Status ring_work_error(Index max_coordinates, Index max_bins, Index num_bins, int num_sections,
                       std::size_t profiles_size, std::size_t weights_size,
                       std::size_t columns_size, Index& work) {
  if (num_bins < 3 || max_bins < num_bins || !checked_product(max_bins, num_sections, work) ||
      profiles_size < static_cast<std::size_t>(work) ||
      weights_size < static_cast<std::size_t>(work))
    return kBaseApp + 23;
  if (columns_size < static_cast<std::size_t>(max_coordinates)) return kBaseApp + 1;
  return 0;
}

// Where a search records the sections of a ring it searched (those lying
// whole on the usable image): their count and a flag each (1 searched).
struct SearchedRecord {
  int* count = nullptr;
  std::uint8_t* flags = nullptr;
};

// One ring's search (KZT_RINGCOORDS), with TILT the annulus following the
// conic; SEARCHED receives the sections searched.
void ring_coords(const RingTilt* tilt, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, std::span<const float> data,
                 std::span<const std::uint8_t> mask, float x_pixel_size, float y_pixel_size,
                 float x_beam, float y_beam, float radius, float half_width, int num_sections,
                 bool integrated, Index max_coordinates, Index max_bins, Index num_bins,
                 std::span<double> profiles, std::span<double> weights, int& num_coordinates,
                 std::span<float> x_coordinates, std::span<float> y_coordinates,
                 std::span<float> intensities, std::span<float> azimuths, Status& status,
                 SearchedRecord searched = {}, bool checking = false) {
  constexpr const char* kName = "Subroutine KZT_RINGCOORDS V0.1";
  if (st_bad(status, kName)) return;
  if (const Status e = ring_search_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                         data.size(), mask.size(), x_pixel_size, y_pixel_size,
                                         num_sections, max_coordinates))
    return st_fail(status, e, kName);
  Index work = 0;
  const std::size_t columns = std::min({x_coordinates.size(), y_coordinates.size(),
                                        intensities.size(), azimuths.size()});
  if (const Status e = ring_work_error(max_coordinates, max_bins, num_bins, num_sections,
                                       profiles.size(), weights.size(), columns, work))
    return st_fail(status, e, kName);

  const Annulus a(tilt, radius, half_width, num_bins, x_pixel_size, y_pixel_size, x_beam,
                  y_beam);
  const auto nsec = static_cast<std::size_t>(num_sections);
  std::fill_n(profiles.begin(), work, 0.0);
  std::fill_n(weights.begin(), work, 0.0);
  SectionProfiles p{profiles, weights, static_cast<std::size_t>(max_bins),
                    std::vector<double>(checking ? static_cast<std::size_t>(work) : 0),
                    std::vector<Index>(nsec, 0), std::vector<char>(nsec, 1), {}};
  gather_sections(a, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask, num_sections,
                  max_bins, checking, p);
  leave_out_gaps(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, num_bins, p);

  num_coordinates = 0;
  if (searched.count != nullptr) *searched.count = 0;
  if (searched.flags != nullptr) std::fill_n(searched.flags, nsec, std::uint8_t{0});
  const auto nb = static_cast<std::size_t>(num_bins);
  std::vector<double> v(nb), se(checking ? nb : 0);
  const double section = kTwoPi / num_sections;
  for (std::size_t s = 0; s < nsec; ++s) {
    if (!section_profile_searchable(s, nb, p)) continue;
    if (searched.count != nullptr) ++*searched.count;
    if (searched.flags != nullptr) searched.flags[s] = 1;
    double rc = 0.0, intensity = 0.0;
    if (!section_ring(a, s, nb, p, checking, integrated, v, se, rc, intensity) ||
        num_coordinates >= max_coordinates)
      continue;
    const auto n = static_cast<std::size_t>(num_coordinates++);
    const double ac = (static_cast<double>(s) + 0.5) * section;
    const double ca = std::cos(ac);
    const double sa = std::sin(ac);
    const double rt = rc + (a.shift.on() ? a.shift.along(ca, sa) : 0.0);
    x_coordinates[n] = static_cast<float>(a.xb + rt * ca);
    y_coordinates[n] = static_cast<float>(a.yb + rt * sa);
    intensities[n] = static_cast<float>(intensity);
    azimuths[n] = static_cast<float>(ac);
  }
}

}  // namespace

void KZT_RINGCOORDS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<const float> data,
                    std::span<const std::uint8_t> mask, float x_pixel_size, float y_pixel_size,
                    float x_beam, float y_beam, float radius, float half_width, int num_sections,
                    bool integrated, Index max_coordinates, Index max_bins, Index num_bins,
                    std::span<double> profiles, std::span<double> weights,
                    int& num_coordinates, std::span<float> x_coordinates,
                    std::span<float> y_coordinates, std::span<float> intensities,
                    std::span<float> azimuths, Status& status) {
  ring_coords(nullptr, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
              x_pixel_size, y_pixel_size, x_beam, y_beam, radius, half_width, num_sections,
              integrated, max_coordinates, max_bins, num_bins, profiles, weights,
              num_coordinates, x_coordinates, y_coordinates, intensities, azimuths, status);
}

namespace {

// KZT_FINDRINGS, with TILT the annuli following the conics; NUM_SEARCHED
// and SECTIONS_SEARCHED (when given, the latter MAX_COORDINATES a ring)
// receive the sections searched.
void find_rings(const RingTilt* tilt, bool info, Index xmaxdat, Index ymaxdat, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                std::span<const std::uint8_t> mask, float x_pixel_size, float y_pixel_size,
                float x_beam, float y_beam, int max_rings, int num_rings,
                std::span<const float> radii, float half_width, int num_sections,
                bool integrated, Index max_coordinates, std::span<int> num_coordinates,
                std::span<float> x_coordinates, std::span<float> y_coordinates,
                std::span<float> intensities, std::span<float> azimuths, Status& status,
                std::span<int> num_searched = {}, std::span<std::uint8_t> sections_searched = {},
                bool checking = false) {
  constexpr const char* kName = "Subroutine KZT_FINDRINGS V0.1";
  if (st_bad(status, kName)) return;
  if (const Status e = ring_search_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                         data.size(), mask.size(), x_pixel_size, y_pixel_size,
                                         num_sections, max_coordinates)) {
    if (e == kBaseApp + 17)
      IO_WRITE("ERROR: num_sections, max_coordinates = " + format_i(num_sections, 8) +
                   format_i(max_coordinates, 8),
               status);
    return st_fail(status, e, kName);
  }
  Index cells = 0;
  if (max_rings < 1 || num_rings < 0 || num_rings > max_rings ||
      radii.size() < static_cast<std::size_t>(num_rings) ||
      num_coordinates.size() < static_cast<std::size_t>(num_rings) ||
      (!num_searched.empty() && num_searched.size() < static_cast<std::size_t>(num_rings)))
    return st_fail(status, kBaseApp + 3, kName);
  if (!checked_product(max_coordinates, max_rings, cells) ||
      x_coordinates.size() < static_cast<std::size_t>(cells) ||
      y_coordinates.size() < static_cast<std::size_t>(cells) ||
      intensities.size() < static_cast<std::size_t>(cells) ||
      azimuths.size() < static_cast<std::size_t>(cells) ||
      (!sections_searched.empty() && sections_searched.size() < static_cast<std::size_t>(cells)))
    return st_fail(status, kBaseApp + 1, kName);
  const Index num_bins = kzt_ring_bins(half_width, x_pixel_size, y_pixel_size);
  if (num_bins < 3) {
    // A profile needs its two ends for the background and a bin between.
    IO_WRITE("ERROR: The ring search annulus is narrower than three radial bins; "
             "a wider search is needed",
             status);
    return st_fail(status, kBaseApp + 23, kName);
  }
  Index work = 0;
  if (!checked_product(num_bins, num_sections, work) || work > (Index{1} << 32))
    return st_fail(status, kBaseApp + 23, kName);
  std::vector<double> profiles(static_cast<std::size_t>(work));
  std::vector<double> weights(static_cast<std::size_t>(work));

  if (info) {
    IO_WRITE(" ", status);
    const std::string what = integrated ? "INFO: Calculating integrated intensities on "
                                        : "INFO: Calculating centre of gravity coordinates on ";
    IO_WRITE(what + (num_rings == 1 ? "1 powder ring" : "powder rings"), status);
  }
  const auto column = static_cast<std::size_t>(max_coordinates);
  for (int k = 0; k < num_rings; ++k) {
    const std::size_t at = static_cast<std::size_t>(k) * column;
    auto& count = num_coordinates[static_cast<std::size_t>(k)];
    const SearchedRecord searched{
        num_searched.empty() ? nullptr : &num_searched[static_cast<std::size_t>(k)],
        sections_searched.empty() ? nullptr : sections_searched.data() + at};
    ring_coords(tilt, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
                x_pixel_size, y_pixel_size, x_beam, y_beam, radii[static_cast<std::size_t>(k)],
                half_width, num_sections, integrated, max_coordinates, num_bins, num_bins,
                profiles, weights, count, x_coordinates.subspan(at, column),
                y_coordinates.subspan(at, column), intensities.subspan(at, column),
                azimuths.subspan(at, column), status, searched, checking);
    if (status != kStatusGood) return;
    if (info)
      IO_WRITE("INFO: Ring " + format_i(k + 1, 2) + ", Number of coordinates = " +
                   format_i(count, 3),
               status);
  }
}

}  // namespace

void KZT_FINDRINGS(bool info, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, std::span<const float> data,
                   std::span<const std::uint8_t> mask, float x_pixel_size, float y_pixel_size,
                   float x_beam, float y_beam, int max_rings, int num_rings,
                   std::span<const float> radii, float half_width, int num_sections,
                   bool integrated, Index max_coordinates, std::span<int> num_coordinates,
                   std::span<float> x_coordinates, std::span<float> y_coordinates,
                   std::span<float> intensities, std::span<float> azimuths, Status& status) {
  find_rings(nullptr, info, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
             x_pixel_size, y_pixel_size, x_beam, y_beam, max_rings, num_rings, radii,
             half_width, num_sections, integrated, max_coordinates, num_coordinates,
             x_coordinates, y_coordinates, intensities, azimuths, status);
}

void kzt_find_store_rings(bool info, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                          Index xendelm, Index yendelm, std::span<const float> data,
                          std::span<const std::uint8_t> mask, float x_pixel_size,
                          float y_pixel_size, float x_beam, float y_beam, int num_rings,
                          float half_width, int num_sections, bool integrated,
                          const RingTilt* tilt, Status& status, KztComRings& r,
                          bool checking) {
  find_rings(tilt, info, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask,
             x_pixel_size, y_pixel_size, x_beam, y_beam, kMaxRings, num_rings, r.radii,
             half_width, num_sections, integrated, kMaxRingCoordinates, r.num_coordinates,
             r.x_coordinates, r.y_coordinates, r.intensities, r.azimuths, status,
             r.num_searched, r.sections_searched, checking);
}

int kzt_store_rings_held(int num_rings) {
  const KztComRings& r = vosq_kzt_comrings;
  const auto n = static_cast<std::ptrdiff_t>(std::clamp(num_rings, 0, kMaxRings));
  return static_cast<int>(std::count_if(r.num_coordinates.begin(), r.num_coordinates.begin() + n,
                                        [](int count) { return count >= 5; }));
}

void KZT_RINGOUTLIERS(bool info, int max_rings, int num_rings, float distance, float x_beam,
                      float y_beam, std::span<const float> two_theta, float tilt_rotation,
                      float tilt_angle, float sigma, float reject_limit, Status& status) {
  constexpr const char* kName = "Subroutine KZT_RINGOUTLIERS V0.1";
  if (st_bad(status, kName)) return;
  if (max_rings < 1) return st_fail(status, kBaseApp + 1, kName);
  const int rings = std::clamp(num_rings, 0, std::min(max_rings, kMaxRings));
  if (two_theta.size() < static_cast<std::size_t>(rings))
    return st_fail(status, kBaseApp + 1, kName);
  KztComRings& r = vosq_kzt_comrings;
  const double limit = static_cast<double>(reject_limit) * sigma;
  Index rejected = 0;
  for (int k = 0; k < rings; ++k) {
    const auto ku = static_cast<std::size_t>(k);
    const std::size_t base = ku * static_cast<std::size_t>(kMaxRingCoordinates);
    const int count = std::clamp<int>(r.num_coordinates[ku], 0, kMaxRingCoordinates);
    // Without a spread (a fit on too few points, or a perfect one) there is
    // nothing to measure a coordinate against.
    if (sigma > 0.0f) {
      const TiltedCone cone(x_beam, y_beam, distance, tilt_rotation, tilt_angle,
                            std::tan(static_cast<double>(two_theta[ku])));
      for (int n = 0; n < count; ++n) {
        const std::size_t at = base + static_cast<std::size_t>(n);
        if (cone.residual(r.x_coordinates[at], r.y_coordinates[at]) > limit)
          r.intensities[at] = -1.0f;
      }
    }
    int kept = 0;
    for (int n = 0; n < count; ++n) {
      const std::size_t from = base + static_cast<std::size_t>(n);
      if (r.intensities[from] < -0.1f) continue;
      const std::size_t to = base + static_cast<std::size_t>(kept++);
      r.x_coordinates[to] = r.x_coordinates[from];
      r.y_coordinates[to] = r.y_coordinates[from];
      r.intensities[to] = r.intensities[from];
      r.azimuths[to] = r.azimuths[from];
    }
    rejected += count - kept;
    r.num_coordinates[ku] = kept;
  }
  if (info) IO_WRITE("INFO: Number of rejected coordinates = " + format_i(rejected, 5), status);
}

void KZT_TILTDISPLAY(float x_pixel_size, float y_pixel_size, Index max_coordinates,
                     int max_rings, int num_rings, std::span<const int> num_coordinates,
                     std::span<const float> x_coordinates, std::span<const float> y_coordinates,
                     Status& status) {
  constexpr const char* kName = "Subroutine KZT_TILTDISPLAY V0.1";
  if (st_bad(status, kName)) return;
  if (max_coordinates < 1) return st_fail(status, kBaseApp + 1, kName);
  if (max_rings < 1) return st_fail(status, kBaseApp + 2, kName);
  if (num_rings < 1 || num_rings > max_rings) return st_fail(status, kBaseApp + 6, kName);
  Index cells = 0;
  if (!checked_product(max_coordinates, num_rings, cells) ||
      num_coordinates.size() < static_cast<std::size_t>(num_rings) ||
      x_coordinates.size() < static_cast<std::size_t>(cells) ||
      y_coordinates.size() < static_cast<std::size_t>(cells))
    return st_fail(status, kBaseApp + 1, kName);
  for (int k = 0; k < num_rings; ++k) {
    const std::size_t base = static_cast<std::size_t>(k) * static_cast<std::size_t>(max_coordinates);
    const Index count =
        std::clamp<Index>(num_coordinates[static_cast<std::size_t>(k)], 0, max_coordinates);
    for (Index n = 0; n < count; ++n) {
      const std::size_t at = base + static_cast<std::size_t>(n);
      GS_MARK(x_coordinates[at] / x_pixel_size, y_coordinates[at] / y_pixel_size, 1.0f, status);
    }
  }
  GS_UPDATE(status);
}

void kzt_display_store_rings(float x_pixel_size, float y_pixel_size, int num_rings,
                             Status& status) {
  const KztComRings& r = vosq_kzt_comrings;
  // The marks stay on the image, off its axes and colour bar.
  gs_clip_to_graph(true, status);
  KZT_TILTDISPLAY(x_pixel_size, y_pixel_size, kMaxRingCoordinates, kMaxRings, num_rings,
                  r.num_coordinates, r.x_coordinates, r.y_coordinates, status);
  Status local = kStatusGood;
  gs_clip_to_graph(false, local);
}

}  // namespace kesta
