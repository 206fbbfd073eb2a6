#include "app/diffraction/symmetry_centre.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/projection.hpp"
#include "app/imageops/one_d_mask.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "numeric/filters.hpp"
#include "numeric/modelfit.hpp"
#include "numeric/slices.hpp"

namespace kesta {
namespace {

// The value of PROFILE interpolated at coordinate M (point i centred at
// i - 0.5) between the two points whose centres bracket it; false when
// either lies outside FIRST..LAST or is masked.
bool mirrored_value(std::span<const float> profile, std::span<const std::uint8_t> mask,
                    bool mask_data, Index first, Index last, double m, double& value) {
  const double below = std::floor(m + 0.5);  // the point whose centre is at or below M
  if (!(below >= static_cast<double>(first) && below + 1.0 <= static_cast<double>(last)))
    return false;
  const auto j = static_cast<Index>(below);
  const auto lo = static_cast<std::size_t>(j - 1), hi = static_cast<std::size_t>(j);
  if (mask_data && !mask.empty() && (mask[lo] != 0 || mask[hi] != 0)) return false;
  const double f = m - (static_cast<double>(j) - 0.5);
  value = (1.0 - f) * profile[lo] + f * profile[hi];
  return true;
}

// The model's residuals about C for points FIRST..LAST into OUT (point i at
// OUT[i - FIRST]); returns how many points have a valid mirror. Points
// without one carry the mean absolute residual of the others, so that moving
// the centre cannot lower the sum by pushing points out of the range.
Index symmetry_residuals(std::span<const float> profile, std::span<const std::uint8_t> mask,
                         bool mask_data, Index first, Index last, double c, float* out,
                         std::vector<std::uint8_t>& valid) {
  valid.assign(static_cast<std::size_t>(last - first + 1), 0);
  double sum_abs = 0.0;
  Index num_valid = 0;
  for (Index i = first; i <= last; ++i) {
    const auto e = static_cast<std::size_t>(i - 1);
    const auto k = static_cast<std::size_t>(i - first);
    out[k] = 0.0f;
    if (mask_data && !mask.empty() && mask[e] != 0) continue;
    double mirror = 0.0;
    if (!mirrored_value(profile, mask, mask_data, first, last,
                        2.0 * c - (static_cast<double>(i) - 0.5), mirror))
      continue;
    const double r = profile[e] - mirror;
    if (!std::isfinite(r)) continue;
    out[k] = static_cast<float>(r);
    valid[k] = 1;
    sum_abs += std::abs(r);
    ++num_valid;
  }
  const float mean = num_valid > 0 ? static_cast<float>(sum_abs / num_valid) : 0.0f;
  for (std::size_t k = 0; k < valid.size(); ++k)
    if (valid[k] == 0) out[k] = mean;
  return num_valid;
}

// How well any centre of one profile mirrors it, for choosing where the fit
// starts and judging where it ends. A centre is judged by the squares of the
// residuals of the points it mirrors, over their variation about their mean:
// a mean per mirrored point, so that a centre is not favoured for mirroring
// few points, and scaled by what those points vary, so that a stretch of
// flat background, symmetric about any point, scores no better than chance.
// A centre near an end mirrors only a few points, whose misfit says little
// (one point is its own mirror), so a centre counts only when it mirrors
// eight pairs or a fifth of the unmasked points, whichever is more. What lies
// beyond the mirrored stretch takes no part: a ring there says nothing about
// the centre.
//
// The misfit alone does not choose between centres, though: a feature
// symmetric in itself (a side rod, a ring crossed by the line) mirrors as
// well as the centre does over the stretch it mirrors. A centre is chosen
// for the evidence of the pairs it mirrors (see evidence): a pair of points
// far from the background that are alike is strong evidence, a pair of
// background points weak, a pair that differs beyond the noise evidence
// against; so the centre that mirrors the features on both sides wins over
// one that mirrors a single feature, and two unlike features (a strong ring
// and a weak one) do not mirror each other.
//
// The floor of the spread of alike points, a part of the profile's
// variance (chosen on symmetry_warning_sweep and rod_sweep with rods 37.2
// pixels apart, bench/bench_symmetry.cpp; from 0.02 to 0.05 alike).
constexpr double kSpreadFloor = 0.03;

// A point and its mirror about a centre: the point's distance U from it,
// its value and its mirror's, and how fast the profile changes (per point)
// where the mirror falls.
struct Pair {
  double u, value, mirror, gradient;
};

// A background that changes smoothly along the line (a sample's own
// scattering, a tilted detector, the decay beside a beam stop) is symmetric
// about no point: about the true centre a pair of background points differs
// by as much as the background changes between them, and the background at
// the centre lies above or below its mean. Over a long stretch those
// differences outweigh the features, and a centre that mirrors a short
// stretch (a ring or a rod crossed on one side) wins. So the pairs about a
// centre are judged against a linear background: their differences against
// SLOPE U, the slope fitted to them by least squares, and their means
// against the median of those means, the background's level at the centre
// (a linear background leaves every pair's mean at that level). Not the
// profile's mean: a strong feature lifts it, and every alike pair of
// background points below it would count as evidence for a centre that
// mirrors a long stretch of background beside the feature. A narrow
// feature that differs from its mirror hardly tilts the fitted slope: it
// still counts against the centre. Over a short stretch, though, a
// feature's flank passes for a slope, so there the slope is taken only in
// part: half of it over a stretch reaching kSlopeReach points either side,
// less over a shorter one, nearly all of it over a long one.
struct Background {
  double level = 0.0, slope = 0.0;
  double difference(double u) const { return slope * u; }
};

// Chosen on symmetry_warning_sweep and background_sweep
// (bench/bench_symmetry.cpp): 8 lost 12 right centres of the first, 24
// lost 22 of the second (warned), the whole slope 408 of the first.
constexpr double kSlopeReach = 16.0;

// The slope of the background under PAIRS (the difference it leaves per
// point of U), taken in part over a short stretch.
double pair_slope(std::span<const Pair> pairs) {
  double reach = 0.0, u2 = 0.0, du = 0.0;
  for (const Pair& p : pairs) {
    reach = std::max(reach, std::abs(p.u));
    u2 += p.u * p.u;
    du += (p.value - p.mirror) * p.u;
  }
  if (pairs.size() < 4 || !(u2 > 0.0)) return 0.0;
  return du / u2 * (reach * reach / (reach * reach + kSlopeReach * kSlopeReach));
}

// A centre whose profile mirrors badly is still judged by its features
// above the background where the background's slope makes this part of the
// misfit or more (chosen on rod_sweep and background_sweep: right centres
// on slopes are then not doubted, while the lower misfit taken always left
// 8 to 17 more wrong centres on rods over a flat background silent).
constexpr double kBackgroundShare = 0.5;

// A pair stands above the background, as a feature's, when its mean lies
// this many noises above the background's level.
constexpr double kFeatureLevel = 3.0;

// A feature too near an end of the line to be judged is a rival only where
// it stands at least this share of the chosen centre's height above the
// background: a background falling from the line's end beside a strong spot
// is none. (Chosen on some 1,500 spot profiles over flat, sloped and
// falling backgrounds: without it about 160 more right spot centres beside
// such a fall were doubted, with it 11; rods cut by the end stand far
// higher.)
constexpr double kUnjudgedHeight = 0.1;

// Where the centre found mirrors no other feature, such a feature beyond
// another one is a rival too where it stands this many times higher above
// the background than the centre does: the specular rod near one end of
// the line, the centre found on a weaker side rod two or three rods on,
// mirroring only itself. (Chosen on rod_layout_sweep: from 1 the weak
// specular rod of rods stronger beside it, mirroring only itself, was
// doubted in 10 more right centres for a strong rod cut by the far end;
// 1.9 doubts none of them.)
constexpr double kUnjudgedOver = 1.9;

// How far the pairs of features differ (SymmetryMisfit::feature_misfit):
// over what the noise leaves them (about 1 for features that mirror each
// other; below 0 when no feature is mirrored), and beyond the noise over
// the features' squared heights.
struct FeatureMisfit {
  double noise_share = -1.0, relative = 0.0;
  double heights = 0.0;  // the features' squared heights, summed over their pairs
};

class SymmetryMisfit {
 public:
  // NOISE: the variance of a point's noise (0: not known).
  SymmetryMisfit(std::span<const float> profile, std::span<const std::uint8_t> mask, Index first,
                 Index last, double noise = 0.0)
      : profile_(profile), mask_(mask), first_(first), last_(last) {
    residuals_.resize(static_cast<std::size_t>(last - first + 1));
    valid_.assign(residuals_.size(), 1);
    double sum = 0.0, sum_sq = 0.0, sum_x = 0.0;
    Index n = 0;
    for (Index i = first; i <= last; ++i) {
      if (!used(i)) continue;
      ++unmasked_;
      const double v = value(i);
      if (!std::isfinite(v)) continue;
      sum += v;
      sum_sq += v * v;
      sum_x += static_cast<double>(i) - 0.5;
      ++n;
    }
    mean_ = n > 0 ? sum / static_cast<double>(n) : 0.0;
    middle_ = n > 0 ? sum_x / static_cast<double>(n) : 0.0;
    const double variance =
        n > 1 ? std::max(0.0, sum_sq - sum * mean_) / static_cast<double>(n - 1) : 0.0;
    // A profile without noise still differs from its mirror where the
    // centre lies between the points tried: a floor of a part of its
    // variance stands for that.
    spread_ = std::max(noise, 0.0) + kSpreadFloor * variance;
  }
  // The evidence that the profile is symmetric about C: for each point with
  // a mirror, what its pair says, ln(1 + m^2 / s) / 2 - d^2 / (4 s), with m
  // the pair's mean less the background's, d their difference less the
  // background's and s the spread of alike points (the noise, and the
  // floor). The log-likelihood of the pair alike against unlike, for pairs
  // whose values are spread as far as they lie from the background.
  double evidence(double c) const {
    if (!(spread_ > 0.0)) return 0.0;
    const std::span<const Pair> mirrored = pairs(c);
    const Background b = background(c, mirrored);
    double sum = 0.0;
    for (const Pair& p : mirrored) {
      const double m = (p.value + p.mirror) * 0.5 - b.level;
      const double d = p.value - p.mirror - b.difference(p.u);
      sum += 0.5 * std::log1p(m * m / spread_) - d * d / (4.0 * spread_);
    }
    return sum;
  }
  // The candidates lie half a point apart, so a sharp feature's pairs about
  // the candidate nearest its centre may differ by much of its height: the
  // shift, within a quarter point of C, that lines up the pairs about C best
  // (to first order in the profile's gradient at the mirrors).
  double shift(double c) const {
    const std::span<const Pair> mirrored = pairs(c);
    const Background b = background(c, mirrored);
    double dg = 0.0, g2 = 0.0;
    for (const Pair& p : mirrored) {
      dg += (p.value - p.mirror - b.difference(p.u)) * p.gradient;
      g2 += p.gradient * p.gradient;
    }
    return g2 > 0.0 ? std::clamp(dg / (2.0 * g2), -0.25, 0.25) : 0.0;
  }
  // How well the features above the background about C mirror each other,
  // as the score measures the profile: the pairs' differences less the
  // background's, squared, over the variation of the points' values less
  // the background. Low where features lie symmetric on a slope, about 2
  // where only noise lies on it, however steep. -1 where C mirrors fewer
  // than 4 points, or where the background's slope makes less than
  // kBackgroundShare of the misfit: the profile is then judged as it stands.
  double above_background(double c) const {
    const std::span<const Pair> mirrored = pairs(c);
    if (mirrored.size() < 4) return -1.0;
    const Background b = background(c, mirrored);
    double misfit = 0.0, plain = 0.0, sum = 0.0, sum_sq = 0.0;
    for (const Pair& p : mirrored) {
      const double d = p.value - p.mirror;
      misfit += (d - b.difference(p.u)) * (d - b.difference(p.u));
      plain += d * d;
      const double f = p.value - 0.5 * b.difference(p.u);
      sum += f;
      sum_sq += f * f;
    }
    if (plain - misfit < kBackgroundShare * plain) return -1.0;
    const double variation = sum_sq - sum * sum / static_cast<double>(mirrored.size());
    return variation > 0.0 ? misfit / variation : -1.0;
  }
  // The score at C; COUNTS tells whether C counts as above (with FEW, when
  // it mirrors 4 points or more).
  double at(double c, bool& counts, bool few = false) {
    const Index mirrored = symmetry_residuals(profile_, mask_, true, first_, last_, c,
                                              residuals_.data(), valid_);
    double sum = 0.0;
    for (Index i = first_; i <= last_; ++i) {
      const auto k = static_cast<std::size_t>(i - first_);
      if (!used(i) || valid_[k] == 0) continue;
      const double r = residuals_[k];
      sum += r * r;
    }
    const double spread = variation();
    // A fifth of the unmasked points, at least 16; half of them on a short
    // profile, and never fewer than 4.
    const Index least =
        few ? 4 : std::max<Index>(4, std::min(unmasked_ / 2, std::max<Index>(16, unmasked_ / 5)));
    counts = mirrored >= least && spread > 0.0;
    return counts ? sum / spread : 0.0;
  }
  // The mean squared difference of the pairs about C, less a linear
  // background's (the slope fitted to them whole), and how many pairs
  // (PAIRS).
  // Only the pairs within REACH of C count, when it is given.
  double mirror_misfit(double c, Index& num_pairs,
                       double reach = std::numeric_limits<double>::infinity()) const {
    std::span<const Pair> all = pairs(c);
    near_.clear();
    for (const Pair& p : all)
      if (std::abs(p.u) <= reach) near_.push_back(p);
    const std::span<const Pair> mirrored = near_;
    num_pairs = static_cast<Index>(mirrored.size());
    if (mirrored.size() < 4) return std::numeric_limits<double>::infinity();
    double du = 0.0, u2 = 0.0;
    for (const Pair& p : mirrored) {
      du += (p.value - p.mirror) * p.u;
      u2 += p.u * p.u;
    }
    const double slope = u2 > 0.0 ? du / u2 : 0.0;
    double sum = 0.0;
    for (const Pair& p : mirrored) {
      const double d = p.value - p.mirror - slope * p.u;
      sum += d * d;
    }
    return sum / static_cast<double>(mirrored.size());
  }
  // How far the pairs about C that stand above the background (their mean
  // more than kFeatureLevel noises above its level) differ: their mean
  // squared difference over what the noise alone leaves it (NOISE, a
  // point's variance, at the background's level; where the profile counts
  // events a point's noise grows with its value), and what their squared
  // differences exceed the noise's by, over the squared heights of the
  // features above the background. Where only the features are judged,
  // two unlike rods mirrored about the point half-way between them stand
  // out, however long the stretch of background mirrored with them. None
  // (a noise share below 0) where fewer than 2 pairs stand above the
  // background, or the background's level is not positive.
  FeatureMisfit feature_misfit(double c, double noise) const {
    FeatureMisfit found;
    const std::span<const Pair> mirrored = pairs(c);
    if (mirrored.size() < 4 || !(noise > 0.0)) return found;
    const Background b = background(c, mirrored);
    if (!(b.level > 0.0)) return found;
    const double above = kFeatureLevel * std::sqrt(noise);
    double share = 0.0, squares = 0.0, heights = 0.0;
    Index n = 0;
    for (const Pair& p : mirrored) {
      const double mean = (p.value + p.mirror) * 0.5;
      if (!(mean - b.level > above)) continue;
      const double d = p.value - p.mirror - b.difference(p.u);
      const double expected = 2.0 * noise * mean / b.level;
      share += d * d / expected;
      squares += d * d - expected;
      heights += (mean - b.level) * (mean - b.level);
      ++n;
    }
    if (n < 2) return found;
    found.noise_share = share / static_cast<double>(n);
    found.relative = std::max(squares, 0.0) / heights;
    found.heights = heights;
    return found;
  }
  // Whether C lies on a feature: the profile there stands more than
  // kFeatureLevel noises (NOISE, a point's variance) above the background's
  // level under the pairs about C.
  bool on_feature(double c, double noise) const {
    double at = 0.0;
    if (!(noise > 0.0) || !mirrored_value(profile_, mask_, true, first_, last_, c, at))
      return false;
    const std::span<const Pair> mirrored = pairs(c);
    if (mirrored.size() < 4) return false;
    return at - background(c, mirrored).level > kFeatureLevel * std::sqrt(noise);
  }
  // How high the profile at C stands above the background's level under
  // the pairs about C (0 where C mirrors fewer than 4 points).
  double height(double c) const {
    double at = 0.0;
    if (!mirrored_value(profile_, mask_, true, first_, last_, c, at)) return 0.0;
    const std::span<const Pair> mirrored = pairs(c);
    if (mirrored.size() < 4) return 0.0;
    return at - background(c, mirrored).level;
  }
  // How far the pairs about C of the features other than the one C lies on
  // differ (pairs standing above the background as for on_feature, past
  // the first pair outward that stands below), as feature_misfit measures
  // them; none (a noise share below 0) where fewer than two such pairs lie
  // about C (a rod alone on the stretch it mirrors). A side rod mirrored
  // onto two rods beside it of unlike heights pairs them beyond the noise.
  FeatureMisfit other_features(double c, double noise) const {
    FeatureMisfit found;
    const std::span<const Pair> mirrored = pairs(c);
    if (mirrored.size() < 4 || !(noise > 0.0)) return found;
    const Background b = background(c, mirrored);
    const double above = kFeatureLevel * std::sqrt(noise);
    bool past = false;
    double share = 0.0, squares = 0.0, heights = 0.0;
    Index n = 0;
    for (const Pair& p : mirrored) {  // outward from C, on the side after it
      if (p.u <= 0.0) continue;
      const double mean = (p.value + p.mirror) * 0.5;
      if (!(mean - b.level > above)) {
        past = true;
        continue;
      }
      if (!past) continue;
      const double d = p.value - p.mirror - b.difference(p.u);
      // Counted events' noise grows with their value; an offset taken off
      // the image (a background at or below 0) leaves that unknown.
      const double expected = 2.0 * noise * (b.level > 0.0 ? mean / b.level : 1.0);
      share += d * d / expected;
      squares += d * d - expected;
      heights += (mean - b.level) * (mean - b.level);
      ++n;
    }
    if (n < 2) return found;
    found.noise_share = share / static_cast<double>(n);
    found.relative = std::max(squares, 0.0) / heights;
    found.heights = heights;
    return found;
  }
  // A feature apart from the one C lies on, too near an end of the line to
  // mirror LEAST points about itself: a peak of the profile standing more
  // than kFeatureLevel noises above the background's line under the pairs
  // about C, and kUnjudgedHeight of C's own height, that falls below that
  // level within LEAST points towards C, as a rod's flank does, with no
  // other feature between the two. A rod cut by the line's end may be the
  // centre, and nothing on the line tells. (A feature beyond another is that
  // one's neighbour, and the one between is judged; with THROUGH, not where
  // it stands kUnjudgedOver times higher than C.) With THROUGH, a feature
  // that far higher than a feature C lies on counts while it mirrors fewer
  // than HIGHER_LEAST points (the specular rod 7 points from the end of a
  // short line mirrors a dozen, fewer than a start must), and with
  // ONLY_HIGHER no other counts. Its peak into AT.
  bool unjudged_feature(double c, double noise, Index least, double& at, bool through = false,
                        Index higher_least = 0, bool only_higher = false) const {
    const std::span<const Pair> mirrored = pairs(c);
    if (mirrored.size() < 4 || !(noise > 0.0)) return false;
    const Background b = background(c, mirrored);
    // Above the background's line: a slope rising to the line's end is none.
    const auto level = [&](Index i) {
      return b.level + 0.5 * b.difference(static_cast<double>(i) - 0.5 - c);
    };
    double top = 0.0;
    if (!mirrored_value(profile_, mask_, true, first_, last_, c, top)) return false;
    top -= b.level;
    const auto high = [&](Index i) {
      return value(i) > level(i) + kFeatureLevel * std::sqrt(noise);
    };
    std::vector<Index> points;
    for (Index i = first_; i <= last_; ++i)
      if (used(i) && std::isfinite(value(i))) points.push_back(i);
    for (std::size_t k = 0; k < points.size(); ++k) {
      const Index i = points[k];
      const double v = value(i);
      if (!high(i)) continue;
      // A peak: no lower than the points beside it; at either end of the
      // line one side suffices.
      if (k > 0 && (points[k - 1] != i - 1 || value(i - 1) > v)) continue;
      if (k + 1 < points.size() && (points[k + 1] != i + 1 || value(i + 1) > v)) continue;
      const double x = static_cast<double>(i) - 0.5;
      const bool higher = through && v - level(i) >= kUnjudgedOver * top;
      // Far higher than a feature C lies on.
      const bool towers = higher && top > 0.0;
      if (only_higher && !towers) continue;
      if (static_cast<Index>(pairs(x).size()) >= std::max(least, towers ? higher_least : 0))
        continue;
      if (v - level(i) < kUnjudgedHeight * top) continue;
      // Towards C: below the level within LEAST points (a background's
      // curve stays above it longer), and above it again only on C's own
      // feature.
      const int step = c > x ? 1 : -1;
      bool below = false, between = false, rose = false;
      for (auto j = static_cast<std::ptrdiff_t>(k) + step;
           j >= 0 && j < static_cast<std::ptrdiff_t>(points.size()); j += step) {
        const Index pj = points[static_cast<std::size_t>(j)];
        if ((static_cast<double>(pj) - 0.5 - c) * step > 0.0) break;
        if (!high(pj)) {
          below = below || std::abs(pj - i) <= least;
          if (rose) between = true;
          if (!below) break;
        } else if (below) {
          rose = true;
        }
      }
      if (!below || (between && !higher)) continue;
      at = x;
      return true;
    }
    return false;
  }
  Index unmasked() const { return unmasked_; }
  // The best of the centres on the points and half-way between them that
  // count, the one of the strongest evidence (each judged where it stands
  // and at its shift; of equal ones the one nearest the middle): its place
  // START and score LOWEST; false when none counts.
  bool best(double& start, double& lowest) {
    const double middle = static_cast<double>(first_ + last_ - 1) * 0.5;
    bool found = false;
    double strongest = 0.0;
    for (Index twice = 2 * first_ - 1; twice <= 2 * last_ - 1; ++twice) {
      const double c = static_cast<double>(twice) * 0.5;
      bool counts = false;
      const double sum = at(c, counts);
      if (!counts) continue;
      const double e = std::max(evidence(c), evidence(c + shift(c)));
      if (!found || e > strongest ||
          (e == strongest && std::abs(c - middle) < std::abs(start - middle))) {
        start = c;
        lowest = sum;
        strongest = e;
        found = true;
      }
    }
    return found;
  }

 private:
  bool used(Index i) const { return mask_.empty() || mask_[static_cast<std::size_t>(i - 1)] == 0; }
  double value(Index i) const { return profile_[static_cast<std::size_t>(i - 1)]; }
  // The squared deviations from their mean of the profile's points marked
  // in VALID_ that are not masked.
  double variation() const {
    double sum = 0.0, sum_sq = 0.0;
    Index n = 0;
    for (Index i = first_; i <= last_; ++i) {
      if (!used(i) || valid_[static_cast<std::size_t>(i - first_)] == 0) continue;
      const double v = profile_[static_cast<std::size_t>(i - 1)];
      if (!std::isfinite(v)) continue;
      sum += v;
      sum_sq += v * v;
      ++n;
    }
    return n > 0 ? std::max(0.0, sum_sq - sum * sum / static_cast<double>(n)) : 0.0;
  }

  // The background under the pairs MIRRORED about C: over fewer than 4
  // pairs, the profile's mean moved along the slope to C.
  Background background(double c, std::span<const Pair> mirrored) const {
    Background b;
    b.slope = pair_slope(mirrored);
    if (mirrored.size() < 4) {
      b.level = mean_ + 0.5 * b.slope * (c - middle_);
      return b;
    }
    means_.clear();
    for (const Pair& p : mirrored) means_.push_back(0.5 * (p.value + p.mirror));
    const auto middle = means_.begin() + static_cast<std::ptrdiff_t>(means_.size() / 2);
    std::nth_element(means_.begin(), middle, means_.end());
    b.level = *middle;
    return b;
  }
  // The points with a mirror about C, and their mirrors (valid until the
  // next call).
  std::span<const Pair> pairs(double c) const {
    pairs_.clear();
    for (Index i = first_; i <= last_; ++i) {
      if (!used(i)) continue;
      double mirror = 0.0;
      const double x = static_cast<double>(i) - 0.5;
      const double m = 2.0 * c - x;
      if (mirrored_value(profile_, mask_, true, first_, last_, m, mirror) &&
          std::isfinite(value(i)) && std::isfinite(mirror)) {
        const auto j = static_cast<Index>(std::floor(m + 0.5));
        pairs_.push_back({x - c, value(i), mirror, value(j + 1) - value(j)});
      }
    }
    return pairs_;
  }

  std::span<const float> profile_;
  std::span<const std::uint8_t> mask_;
  Index first_, last_, unmasked_ = 0;
  double spread_ = 0.0;
  double mean_ = 0.0, middle_ = 0.0;  // the points' mean value and place
  std::vector<float> residuals_;
  std::vector<std::uint8_t> valid_;
  mutable std::vector<Pair> pairs_, near_;
  mutable std::vector<double> means_;
};

// The noise of one value from DIFFERENCES of values (their absolute
// values), each difference holding VARIANCES values' variance (for noise
// alone a first difference has twice a value's variance, a second six
// times): the root mean square of the differences within kNoiseClip noises
// of the median's, so that features crossed by few of the differences take
// no part. The median alone (half the absolute values of normal noise lie
// below 0.6745 of its deviation) fails on discrete counts: where most
// pixels hold 0 or 1, most differences are 0, and so is their median. So
// the clip is never narrower than kNoiseClip of the data's step, the
// smallest difference that is not 0. 0 for fewer than 4 differences, or
// when all are 0.
constexpr double kNoiseClip = 4.0;

double noise_of(std::vector<double>& differences, double variances) {
  if (differences.size() < 4) return 0.0;
  const auto middle = differences.begin() + static_cast<std::ptrdiff_t>(differences.size() / 2);
  std::nth_element(differences.begin(), middle, differences.end());
  double step = std::numeric_limits<double>::infinity();
  for (const double d : differences)
    if (d > 0.0) step = std::min(step, d);
  if (!std::isfinite(step)) return 0.0;
  const double limit = kNoiseClip * std::max(*middle / 0.6745, step);
  double sum_sq = 0.0;
  std::size_t n = 0;
  for (const double d : differences)
    if (d <= limit) {
      sum_sq += d * d;
      ++n;
    }
  return std::sqrt(sum_sq / static_cast<double>(n) / variances);
}

// The pixels' noise is found in a band about the line at least this many
// pixels to each side, whatever the strip's width: a narrow strip holds too
// few pixels to tell it.
constexpr double kNoiseBand = 4.0;

// The noise of one pixel of IMAGE about the line of the strip XV, YV (MASK:
// its pixels left out), from the differences of the pixels across the line
// (along Y where the line runs nearer the X axis, else along X), in the
// strip widened to kNoiseBand pixels each side: the image varies along the
// line (its rings, its rods) but little across it. Second differences, or
// first ones where the band is two pixels wide; 0 when it has too few of
// either.
double strip_pixel_noise(const GsDisplayedImage& im, std::span<const std::uint8_t> mask,
                         std::span<const float> xv, std::span<const float> yv) {
  // The line through the middle of the strip, and the band about it.
  const double x1 = (static_cast<double>(xv[0]) + xv[3]) * 0.5, y1 = (yv[0] + yv[3]) * 0.5;
  const double x2 = (static_cast<double>(xv[1]) + xv[2]) * 0.5, y2 = (yv[1] + yv[2]) * 0.5;
  const double length = std::hypot(x2 - x1, y2 - y1);
  const double half = std::max(kNoiseBand, std::hypot(xv[3] - static_cast<double>(xv[0]),
                                                      yv[3] - static_cast<double>(yv[0])) * 0.5);
  if (!(length > 0.0)) return 0.0;
  const double nx = -(y2 - y1) / length * half, ny = (x2 - x1) / length * half;
  const std::array<float, 5> bx{static_cast<float>(x1 + nx), static_cast<float>(x2 + nx),
                                static_cast<float>(x2 - nx), static_cast<float>(x1 - nx),
                                static_cast<float>(x1 + nx)};
  const std::array<float, 5> by{static_cast<float>(y1 + ny), static_cast<float>(y2 + ny),
                                static_cast<float>(y2 - ny), static_cast<float>(y1 - ny),
                                static_cast<float>(y1 + ny)};
  struct Row {
    Index j, i1, i2;
  };
  std::vector<Row> rows;
  kzt_for_strip_rows(bx, by, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm,
                     [&](Index j, Index i1, Index i2) { rows.push_back({j, i1, i2}); });
  const auto value = [&](Index i, Index j, double& v) {
    const auto e = static_cast<std::size_t>(element(i, j, im.xmaxdat));
    v = im.data[e];
    return std::isfinite(v) && (mask.empty() || mask[e] == 0);
  };
  const auto holds = [](const Row& row, Index j, Index i) {
    return row.j == j && i >= row.i1 && i <= row.i2;
  };
  const bool across_rows = std::abs(static_cast<double>(xv[1]) - xv[0]) >=
                           std::abs(static_cast<double>(yv[1]) - yv[0]);
  std::vector<double> first, second;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const Row& row = rows[r];
    for (Index i = row.i1; i <= row.i2; ++i) {
      double a = 0.0, b = 0.0, c = 0.0;
      if (!value(i, row.j, b)) continue;
      if (across_rows) {
        // The pixels below and above, where they lie in the strip too.
        const bool below = r > 0 && holds(rows[r - 1], row.j - 1, i) && value(i, row.j - 1, a);
        const bool above =
            r + 1 < rows.size() && holds(rows[r + 1], row.j + 1, i) && value(i, row.j + 1, c);
        if (above) first.push_back(std::abs(c - b));
        if (below && above) second.push_back(std::abs(a - 2.0 * b + c));
      } else {
        const bool left = i > row.i1 && value(i - 1, row.j, a);
        const bool right = i < row.i2 && value(i + 1, row.j, c);
        if (right) first.push_back(std::abs(c - b));
        if (left && right) second.push_back(std::abs(a - 2.0 * b + c));
      }
    }
  }
  if (const double noise = noise_of(second, 6.0); noise > 0.0) return noise;
  return noise_of(first, 2.0);
}

// The 5-point smoothing of the projection, and which points it averaged
// whole: a point within two of either end, or whose box holds a point no
// pixel reached, is a mean of fewer or other points than its mirror image's
// and would pull the centre towards the short side.
constexpr Index kSmoothing = 5;

// The variance of the noise of a point of STRIP's smoothed profile: a
// pixel's over the pixels of the five points it averages (their median
// count); 0 when the pixels' noise is not known.
double smoothed_noise(const StripProfile& strip) {
  std::vector<float> pixels;
  for (const float w : strip.weights)
    if (w > 0.0f) pixels.push_back(w);
  if (pixels.empty() || !(strip.pixel_noise > 0.0)) return 0.0;
  const auto middle = pixels.begin() + static_cast<std::ptrdiff_t>(pixels.size() / 2);
  std::nth_element(pixels.begin(), middle, pixels.end());
  return strip.pixel_noise * strip.pixel_noise / (static_cast<double>(kSmoothing) * *middle);
}

// A hot pixel in the strip lifts the one to three points of the projection
// it is shared among far above their neighbours, and the smoothing spreads
// it over a box of five points. That box is symmetric about its own middle,
// and the misfit and the evidence of every other centre (squares of
// differences, variances of the profile) are swamped by its value: the spike
// would be proposed as the centre. A point of the projection is a spike when
// it stands out from the points about it, those 2 to kSpikeReach points
// away (so that a spike's other points take no part), by more than
// kSpikeLevel times what those points vary (their median absolute
// deviation from their median), the noise of the point, and a tenth of what
// the profile varies (from its fourth lowest to its fourth highest point, so
// that neither a spike nor a dead pixel takes part): ten times the profile's
// own variation at least. That last bound keeps narrow features, but two hot
// pixels fill more than three points and set the variation themselves, and
// a hot pixel spread over a wide strip may stay below a real feature. So a
// lone point is held to its surroundings alone: one that, with at most two
// neighbours, stands kLoneRatio times higher above the median of the points
// about it than the two points beyond them on either side. A Gaussian
// feature of a pixel or more is never lone: the points two from its top
// hold a seventh of it. Where fewer than two of the points about it lie
// on one side (within three points of either end), the flank of a feature
// cut by the end may rise steeply from them: there kSpikeEndLevel times. A
// noiseless Gaussian feature of a pixel or more is never one; on some 4,500
// profiles of rods, spots on decays, beam stops and noise alone at tens to
// hundreds of counts no point reached a fourth of kSpikeLevel (21), nor a
// tenth of kSpikeEndLevel near the ends (67).
constexpr Index kSpikeReach = 4;
constexpr std::size_t kSpikeWidth = 3;
constexpr double kSpikeLevel = 100.0;
constexpr double kSpikeEndLevel = 1000.0;
constexpr double kSpikeFloor = 0.1;
constexpr double kLoneRatio = 20.0;

// The points of STRIP's projection (RAW) that are spikes (1).
std::vector<std::uint8_t> strip_spikes(const StripProfile& strip) {
  const std::vector<float>& p = strip.raw;
  const auto n = static_cast<Index>(std::min(p.size(), strip.weights.size()));
  std::vector<std::uint8_t> spikes(static_cast<std::size_t>(std::max<Index>(n, 0)), 0);
  std::vector<double> values;
  for (Index k = 0; k < n; ++k)
    if (std::isfinite(p[k])) values.push_back(p[k]);
  if (values.size() < 2 * kSpikeReach) return spikes;
  std::sort(values.begin(), values.end());
  const double floor =
      kSpikeFloor * (values[values.size() - 1 - kSpikeWidth] - values[kSpikeWidth]);
  // A point's noise where the pixels' is not known: from the projection's
  // second differences, as for the contrast.
  double point_noise = 0.0;
  if (!(strip.pixel_noise > 0.0)) {
    std::vector<double> second;
    for (Index k = 2; k < n; ++k) {
      const double d = static_cast<double>(p[k - 2]) - 2.0 * p[k - 1] + p[k];
      if (std::isfinite(d)) second.push_back(std::abs(d));
    }
    point_noise = noise_of(second, 6.0);
  }
  std::array<double, 2 * kSpikeReach> around{};
  for (Index k = 0; k < n; ++k) {
    if (!std::isfinite(p[k])) continue;
    std::size_t count = 0, below = 0;
    for (Index j = std::max<Index>(0, k - kSpikeReach); j <= std::min(n - 1, k + kSpikeReach);
         ++j)
      if (std::abs(j - k) >= 2 && std::isfinite(p[j])) {
        around[count++] = p[j];
        if (j < k) ++below;
      }
    if (count < 3) continue;
    const bool one_sided = below < 2 || count - below < 2;
    const auto first = around.begin(), end = around.begin() + static_cast<std::ptrdiff_t>(count);
    const auto middle = first + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(first, middle, end);
    const double median = *middle;
    // Whether, in some run of three points holding it, point K stands
    // kLoneRatio times higher above MEDIAN than the two points on either
    // side of the run (at least one of them a number on each side).
    bool lone = false;
    const double limit = median + (static_cast<double>(p[k]) - median) / kLoneRatio;
    for (Index start = k - 2; start <= k && !lone && p[k] > median; ++start) {
      bool below = true, left = false, right = false;
      for (const Index j : {start - 2, start - 1, start + 3, start + 4}) {
        if (j < 0 || j >= n || !std::isfinite(p[j])) continue;
        (j < start ? left : right) = true;
        if (!(p[j] < limit)) below = false;
      }
      lone = below && left && right;
    }
    for (auto it = first; it != end; ++it) *it = std::abs(*it - median);
    std::nth_element(first, middle, end);
    const double noise = strip.pixel_noise > 0.0 && strip.weights[k] > 0.0f
                             ? strip.pixel_noise / std::sqrt(static_cast<double>(strip.weights[k]))
                             : point_noise;
    const double scale = std::max({*middle, noise, lone ? 0.0 : floor});
    if (std::abs(p[k] - median) > (one_sided ? kSpikeEndLevel : kSpikeLevel) * scale)
      spikes[static_cast<std::size_t>(k)] = 1;
  }
  return spikes;
}

// The first line of the warning of a doubtful centre: why.
std::string doubt_line(SymmetryDoubt doubt, const StripCentre& found) {
  const auto number = [](double v) {
    return std::string(trimmed_text(format_f(static_cast<float>(std::min(v, 1.0e6)), 11, 3)));
  };
  switch (doubt) {
    case SymmetryDoubt::kNoise:
      return "WARNING: The profile varies no more than its noise (contrast " +
             number(found.contrast) + "):";
    case SymmetryDoubt::kFewPoints:
      return "WARNING: The centre found mirrors fewer than 4 points of the profile:";
    case SymmetryDoubt::kRival:
      return "WARNING: The profile mirrors as well about a point " +
             number(std::abs(found.rival_centre - found.centre)) + " pixels away:";
    default:
      return "WARNING: The profile is not symmetric about any point (misfit " +
             number(found.misfit) + "):";
  }
}

// A second check of the centre chosen by the evidence of its pairs, by how
// well the profile mirrors about it (the mean squared difference of its
// pairs above a linear background). Over a stretch of rods or rings the
// evidence can favour a point half-way between two features of like
// height, or a strong feature symmetric in itself, that mirrors more pairs:
// where another centre mirroring most of the line (kMirroredShare of its
// points) mirrors clearly better (by kClearlyBetter), it is taken; where it
// mirrors as well, within the noise, the profile has two centres and
// neither is to be trusted. Only centres whose mirrored stretch holds
// features count (kzt_symmetry_misfit at most kPoorSymmetry): a stretch of
// background mirrors about any point.
constexpr double kMirroredShare = 0.6;
// Chosen on the rod profiles of rod_sweep and on random rod set-ups: a
// strong and a weak rod, each alone on its stretch, mirror within a factor
// of about 1.25 of each other at 50 to 200 counts.
constexpr double kClearlyBetter = 1.5;
// A rival mirrors at least this share of the pairs the centre found
// mirrors, or kMirroredShare of the points: a ring or a spot near one end
// of the line, symmetric in itself over a short stretch, is none.
constexpr double kRivalShare = 0.8;
// A centre on a feature (a rod, a spot) that mirrors the stretch about it
// as well as the centre found mirrors its own (within kClearlyBetter and
// the noise), over at least this share of the pairs the centre found
// mirrors, is a rival too: a weak specular rod a quarter along the line
// mirrors only itself, and a strong side rod nearer the middle mirrors
// more of the line, the specular rod onto a weaker rod cut by the line's
// end, as well; neither tells which is the centre. (Chosen on 3,000 rod
// profiles at 50 to 200 counts: a side rod with the specular rod 10
// pixels from the line's middle mirrors up to 0.56 of the specular rod's
// pairs; the specular rod 25 pixels from the middle, 0.63 or more of a
// side rod's.) A feature mirroring less than kFeatureRivalLine of the
// line's points lies too near its end to say more than the centre found
// does (a side rod 13 points from the end of a line of 70, the specular
// rod 20 from the other, mirrors a third of it).
constexpr double kFeatureRivalShare = 0.6;
constexpr double kFeatureRivalLine = 0.4;
// Centres within this many points of each other mirror the same feature:
// the best of them is the centre, refined, and never a rival of another.
constexpr double kSameFeature = 1.5;
// A centre mirroring less of the line than the chosen one, but this much
// better over the stretch it mirrors, puts the chosen one in doubt (the
// point half-way between two unequal rods mirrors more of a long line than
// the specular rod does near one end); it is never taken instead.
constexpr double kClearlyBetterShort = 3.0;
// The chosen centre's pairs differ beyond the noise when they mirror this
// much worse than the noise alone leaves; if another centre mirrors a
// stretch mostly beyond the chosen one's this much better, the chosen one
// is in doubt, however long the stretch it mirrors (two unlike side rods
// mirrored about the point half-way between them, the specular rod near
// one end). Chosen on 1440 random rod profiles over a flat background at 50
// to 200 counts: from 1.5 to 3 it doubted no right centre.
constexpr double kBeyondNoise = 2.0;
// The same where only the pairs standing above the background are judged
// (feature_misfit), whatever stretches the two centres mirror: the chosen
// centre's feature pairs differ beyond the noise by more than
// kUnlikeFeatures of the features' squared heights (rods about 3 % unlike
// in the root mean square), and by more against the noise than another's
// (taken as at least kFeatureFloor of the noise: a few pairs may agree
// better by chance). Two rods of unlike heights mirrored about the point
// half-way between them, or the rods beside a side rod, differ so, but
// over a long stretch of background those few pairs lift the mean misfit
// little. (Chosen on 2160 random rod profiles at 50 to 200 counts, rod
// heights to 20 % off their mean, none of whose right centres it doubted:
// 0.0005 left 5 fewer wrong centres silent but doubted the rods on a decay
// of SmoothBackgroundsDoNotDrawTheCentre, 0.002 left 9 more silent.)
constexpr double kUnlikeFeatures = 0.001;
constexpr double kFeatureFloor = 0.5;
// A centre on a feature that mirrors a stretch shorter than the chosen
// one's about as well per pair (within kClearlyBetter and the noise) puts
// it in doubt where the chosen centre mirrors no other feature, or pairs
// the others it mirrors unlike: beyond kOtherFeaturesAlike of what the
// noise leaves them and by more than kOtherFeaturesUnlike of their squared
// heights (pairs of rings or rods on a curved decay differ by about 0.002).
// The specular rod within 25 points of one end mirrors only itself, and a
// side rod nearer the middle mirrors more pairs, alone or with a rod of
// another height cut by the far end; the count of pairs does not tell
// which is the centre. Such a centre mirrors at least kShortPairs points
// (six either side: fewer hold only the top of a rod cut by the line's
// end). Chosen on 4,344 rod profiles at 50 to 200 counts (rods 25 to 50
// points apart, the specular rod 0 to 40 from the line's middle): a noise
// share of 0.5 caught 20 more wrong centres than 1.0 and doubted 280 more
// right ones, 2.0 15 fewer and 62 fewer; eight points doubted 230 more
// right centres; 0.0025 of the heights caught 3 more wrong centres than
// 0.003 and doubted 4 more right ones, 0.005 caught 5 fewer wrong ones.
constexpr Index kShortPairs = 12;
constexpr double kOtherFeaturesAlike = 1.0;
constexpr double kOtherFeaturesUnlike = 0.003;
// A feature at least this share of the chosen centre's height above the
// background may be as much the centre as the chosen one's.
constexpr double kEqualFeatures = 0.5;
// The share of the chosen centre's other features (their squared heights
// over the pairs mirrored) that such a feature mirrors of its own. (Chosen
// on rod_layout_sweep and rod_sweep, bench/bench_symmetry.cpp: side rods
// mirroring the flank of a rod cut by the line's end reach 0.24 of the
// specular rod's side rods at 20 to 200 counts, and were doubted without
// it; every wrong centre on equal rods doubted without it still is.)
constexpr double kEqualShare = 0.3;
// At most this many local minima of the misfit are refined and judged;
// kEqualMinima where equal features are sought (a row of equal rods holds
// a minimum at each rod and half-way between each two, and noise more).
constexpr std::size_t kEqualMinima = 32;
constexpr std::size_t kMirrorMinima = 8;

// The minimum of the mirror misfit within half a point of C (a golden
// section search), into LOWEST.
double refined_mirror(const SymmetryMisfit& misfit, double c, double& lowest) {
  const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
  double a = c - 0.5, b = c + 0.5;
  double x1 = b - ratio * (b - a), x2 = a + ratio * (b - a);
  Index pairs = 0;
  double f1 = misfit.mirror_misfit(x1, pairs), f2 = misfit.mirror_misfit(x2, pairs);
  for (int k = 0; k < 24; ++k) {
    if (f1 <= f2) {
      b = x2;
      x2 = x1;
      f2 = f1;
      x1 = b - ratio * (b - a);
      f1 = misfit.mirror_misfit(x1, pairs);
    } else {
      a = x1;
      x1 = x2;
      f1 = f2;
      x2 = a + ratio * (b - a);
      f2 = misfit.mirror_misfit(x2, pairs);
    }
  }
  const double at = f1 <= f2 ? x1 : x2;
  lowest = std::min({f1, f2, misfit.mirror_misfit(c, pairs)});
  return lowest < std::min(f1, f2) ? c : at;
}

// C moved down the mirror misfit, half a point at a time, to its minimum
// within kSameFeature of where it was (on a slope the evidence may settle a
// fraction of a point off the feature's centre), and the misfit there into
// LOWEST.
void settle_mirror(const SymmetryMisfit& misfit, double& c, double& lowest) {
  const double from = c;
  double at = refined_mirror(misfit, c, lowest);
  for (int step = 0; step < 3 && std::abs(at - c) > 1.0e-3; ++step) {
    double next_lowest = 0.0;
    const double next = refined_mirror(misfit, at, next_lowest);
    if (std::abs(next - from) > kSameFeature || !(next_lowest < lowest)) break;
    c = at;
    at = next;
    lowest = next_lowest;
  }
  if (std::abs(at - from) <= kSameFeature) c = at;
}

struct MirrorCheck {
  bool rival = false;         // another centre mirrors most of the line as well
  double rival_centre = 0.0;  // the rival
};

// A centre that mirrors features: its misfit, its place, how many pairs
// it mirrors and how far the farthest lies from it.
struct Mirror {
  double misfit, centre;
  Index pairs;
  double reach;
};

// How far from C the farthest point mirrored within FIRST..LAST lies.
double mirrored_reach(double c, Index first, Index last) {
  return std::min(c - (static_cast<double>(first) - 0.5), (static_cast<double>(last) - 0.5) - c);
}

// The local minima of the mirror misfit about the points and half-way
// between them that mirror LEAST pairs or more, refined, that mirror
// features; lowest first.
std::vector<Mirror> featured_mirrors(const SymmetryMisfit& misfit,
                                     std::span<const float> profile,
                                     std::span<const std::uint8_t> mask, Index first, Index last,
                                     Index least,
                                     Index most = std::numeric_limits<Index>::max(),
                                     std::size_t most_minima = kMirrorMinima) {
  std::vector<double> grid;
  std::vector<Index> counts;
  for (Index twice = 2 * first - 1; twice <= 2 * last - 1; ++twice) {
    Index pairs = 0;
    const double m = misfit.mirror_misfit(static_cast<double>(twice) * 0.5, pairs);
    grid.push_back(pairs >= least && pairs <= most ? m
                                                   : std::numeric_limits<double>::infinity());
    counts.push_back(pairs);
  }
  std::vector<std::pair<double, std::size_t>> minima;
  for (std::size_t k = 0; k < grid.size(); ++k) {
    if (!std::isfinite(grid[k]) || (k > 0 && grid[k - 1] < grid[k]) ||
        (k + 1 < grid.size() && grid[k + 1] < grid[k]))
      continue;
    minima.emplace_back(grid[k], k);
  }
  std::sort(minima.begin(), minima.end());
  if (minima.size() > most_minima) minima.resize(most_minima);
  std::vector<Mirror> found;
  for (const auto& [m, k] : minima) {
    double lowest = 0.0;
    const double c = static_cast<double>(2 * first - 1 + static_cast<Index>(k)) * 0.5;
    const double at = refined_mirror(misfit, c, lowest);
    const double judged = kzt_symmetry_misfit(profile, mask, first, last, at);
    if (judged >= 0.0 && judged <= kPoorSymmetry)
      found.push_back({lowest, at, counts[k], mirrored_reach(at, first, last)});
  }
  std::sort(found.begin(), found.end(),
            [](const Mirror& a, const Mirror& b) { return a.misfit < b.misfit; });
  return found;
}

// CHOSEN checked, and replaced where another centre mirrors clearly better.
// NOISE: the variance of a point's noise (0: not known).
MirrorCheck check_mirror(std::span<const float> profile, std::span<const std::uint8_t> mask,
                         Index first, Index last, double noise, double& chosen) {
  MirrorCheck check;
  const SymmetryMisfit misfit(profile, mask, first, last);
  const Index unmasked = misfit.unmasked();
  const Index least = std::max<Index>(4, std::min(unmasked / 2, std::max<Index>(16, unmasked / 5)));
  const auto wide =
      static_cast<Index>(std::ceil(kMirroredShare * static_cast<double>(unmasked)));
  const std::vector<Mirror> mirrors =
      featured_mirrors(misfit, profile, mask, first, last, least);
  if (mirrors.empty()) {
    // No centre mirrors features over as many pairs as a start must, and
    // the fit may end on one that mirrors fewer: a weak rod near one end of
    // a short line, mirroring only itself. A feature too near the other end
    // to be judged that stands far higher (the specular rod a few points
    // into the line) is then as much the centre.
    Index pairs = 0;
    misfit.mirror_misfit(chosen, pairs);
    double at = 0.0;
    if (pairs < least && misfit.other_features(chosen, noise).noise_share < 0.0 &&
        misfit.unjudged_feature(chosen, noise, kShortPairs, at, true, least, true)) {
      check.rival = true;
      check.rival_centre = at;
    }
    return check;
  }
  double at_chosen = 0.0;
  settle_mirror(misfit, chosen, at_chosen);
  Index chosen_pairs = 0;
  misfit.mirror_misfit(chosen, chosen_pairs);
  const auto far = [&](const Mirror& m) { return std::abs(m.centre - chosen) > kSameFeature; };
  // The same feature mirrored a little better beside the centre: there.
  const auto same = std::find_if(mirrors.begin(), mirrors.end(),
                                 [&](const Mirror& m) { return !far(m); });
  if (same != mirrors.end() && same->misfit < at_chosen) {
    chosen = same->centre;
    at_chosen = same->misfit;
    chosen_pairs = same->pairs;
  }
  const auto widest = std::find_if(mirrors.begin(), mirrors.end(),
                                   [wide](const Mirror& m) { return m.pairs >= wide; });
  if (widest != mirrors.end() && far(*widest) &&
      widest->misfit * kClearlyBetter < at_chosen) {
    chosen = widest->centre;
    at_chosen = widest->misfit;
    chosen_pairs = widest->pairs;
  }
  // The noise alone leaves a misfit of about twice a point's variance.
  const double within = kClearlyBetter * std::max(at_chosen, 2.0 * noise);
  const auto rival_pairs = static_cast<Index>(kRivalShare * static_cast<double>(chosen_pairs));
  const auto feature_pairs = static_cast<Index>(
      std::ceil(std::max(kFeatureRivalShare * static_cast<double>(chosen_pairs),
                         kFeatureRivalLine * static_cast<double>(unmasked))));
  for (const Mirror& m : mirrors)
    if (far(m) && m.misfit <= within &&
        (m.pairs >= std::min(wide, rival_pairs) ||
         (m.pairs >= feature_pairs && misfit.on_feature(m.centre, noise)))) {
      check.rival = true;
      check.rival_centre = m.centre;
      return check;
    }
  // Another centre on a feature about as high as the chosen one's, that
  // mirrors other features alike (their pairs differing by no more than
  // the noise leaves them and kOtherFeaturesUnlike of their squared
  // heights), and as much of them as the chosen one mirrors of its own:
  // rods of equal heights each mirror their neighbours, and however many
  // more pairs the chosen one mirrors, symmetry alone does not tell which
  // rod is the centre. The weak rods far out in a falling row differ from
  // their neighbours by less than the noise, but stand far lower; a side
  // rod mirrors the specular rod onto a rod cut by the line's end, but
  // only that rod's flank, where the noise hides how unlike they are.
  const double chosen_height = misfit.height(chosen);
  const double chosen_others = misfit.other_features(chosen, noise).heights;
  for (const Mirror& m : featured_mirrors(misfit, profile, mask, first, last, kShortPairs,
                                         std::numeric_limits<Index>::max(), kEqualMinima)) {
    if (!far(m) || !misfit.on_feature(m.centre, noise) ||
        misfit.height(m.centre) < kEqualFeatures * chosen_height)
      continue;
    const FeatureMisfit features = misfit.other_features(m.centre, noise);
    if (features.noise_share >= 0.0 && features.relative <= kOtherFeaturesUnlike &&
        features.heights >= kEqualShare * chosen_others) {
      check.rival = true;
      check.rival_centre = m.centre;
      return check;
    }
  }
  // A centre that mirrors no other feature than its own, or pairs them
  // unlike, where another on a feature mirrors its own shorter stretch
  // about as well per pair: however many more pairs the chosen one
  // mirrors, nothing tells which of the two is the centre.
  const FeatureMisfit others = misfit.other_features(chosen, noise);
  if (others.noise_share < 0.0 ||
      (others.noise_share > kOtherFeaturesAlike && others.relative > kOtherFeaturesUnlike)) {
    for (const Mirror& m :
         featured_mirrors(misfit, profile, mask, first, last, kShortPairs, chosen_pairs - 1))
      if (far(m) && m.misfit <= within && misfit.on_feature(m.centre, noise)) {
        check.rival = true;
        check.rival_centre = m.centre;
        return check;
      }
    // Nor where a feature lies too near an end of the line to be judged
    // (the specular rod cut by the line's end, a side rod nearer the middle
    // mirroring only itself).
    if (double at = 0.0;
        misfit.unjudged_feature(chosen, noise, kShortPairs, at, others.noise_share < 0.0, least)) {
      check.rival = true;
      check.rival_centre = at;
      return check;
    }
  }
  // A centre mirroring a shorter stretch clearly better than the chosen one
  // mirrors a stretch as long about itself. Where the chosen centre lies on
  // a feature, not one whose stretch holds no feature (a stretch of
  // background mirrors about any point), nor one mirroring only its own
  // feature where the chosen centre mirrors other features alike: the
  // chosen one's short stretch then holds its own feature, whose pairs
  // differ by the larger noise of its higher counts, and an outer side rod
  // or flat background beside a strong specular rod or spot, alike only in
  // itself, would put every right centre in doubt. (A centre half-way
  // between two rods lies on none: a rod mirroring itself still doubts it.)
  const bool chosen_on_feature = misfit.on_feature(chosen, noise);
  const bool others_alike =
      others.noise_share >= 0.0 &&
      !(others.noise_share > kOtherFeaturesAlike && others.relative > kOtherFeaturesUnlike);
  const auto only_itself = [&](const Mirror& m) {
    if (!chosen_on_feature) return false;
    if (!misfit.on_feature(m.centre, noise))
      return misfit.feature_misfit(m.centre, noise).noise_share < 0.0;
    return others_alike && misfit.other_features(m.centre, noise).noise_share < 0.0;
  };
  for (const Mirror& m : mirrors) {
    if (!far(m) || m.pairs >= std::min(wide, rival_pairs) || only_itself(m)) continue;
    Index pairs = 0;
    const double short_misfit = misfit.mirror_misfit(chosen, pairs, m.reach);
    if (pairs >= 4 && kClearlyBetterShort * std::max(m.misfit, 2.0 * noise) < short_misfit) {
      check.rival = true;
      check.rival_centre = m.centre;
      return check;
    }
  }
  // A centre whose pairs differ beyond the noise, where another centre
  // mirrors clearly better a stretch that lies mostly beyond the chosen
  // one's: the chosen centre says nothing of the feature there, nor that
  // centre of the chosen one's features (not one mirroring only itself or
  // background, as above). (Where the chosen centre mirrors
  // most of that stretch, a background that curves along the line may part
  // its pairs beyond the noise: the comparison over an equal stretch above
  // holds there.)
  const double reach = mirrored_reach(chosen, first, last);
  const auto beyond = [&](const Mirror& m) {
    const double shared = std::min(m.centre + m.reach, chosen + reach) -
                          std::max(m.centre - m.reach, chosen - reach);
    return std::max(shared, 0.0) < m.reach;
  };
  const FeatureMisfit chosen_features = misfit.feature_misfit(chosen, noise);
  const bool unlike_features = chosen_features.relative > kUnlikeFeatures;
  for (const Mirror& m : mirrors) {
    if (!far(m) || only_itself(m)) continue;
    const bool unlike = beyond(m) && kBeyondNoise * std::max(m.misfit, 2.0 * noise) < at_chosen;
    bool unlike_pairs = false;
    if (unlike_features) {
      const FeatureMisfit features = misfit.feature_misfit(m.centre, noise);
      unlike_pairs = features.noise_share >= 0.0 &&
                     std::max(features.noise_share, kFeatureFloor) < chosen_features.noise_share;
    }
    if (unlike || unlike_pairs) {
      check.rival = true;
      check.rival_centre = m.centre;
      break;
    }
  }
  return check;
}

}  // namespace

double kzt_symmetry_misfit(std::span<const float> profile, std::span<const std::uint8_t> mask,
                           Index first, Index last, double centre) {
  SymmetryMisfit misfit(profile, mask, first, last);
  bool counts = false;
  const double score = misfit.at(centre, counts, true);
  if (!counts) return -1.0;
  const double above = misfit.above_background(centre);
  return above >= 0.0 ? std::min(score, above) : score;
}

bool kzt_strip_profile(const GsDisplayedImage& im, float xps, float yps,
                       std::span<const float> xv, std::span<const float> yv,
                       StripProfile& strip, Status& status) {
  if (st_bad(status, "Subroutine KZT_PROJECTFIT V0.3")) return false;
  // The profile is the program's own work: it holds the whole line, also a
  // line longer than the image is wide (a vertical line on a narrow image),
  // rather than cutting it at the array's width.
  std::size_t n = static_cast<std::size_t>(std::max<Index>(im.xmaxdat, 1));
  if (xv.size() >= 2 && yv.size() >= 2) {
    const double length = std::hypot((static_cast<double>(xv[1]) - xv[0]) * xps,
                                     (static_cast<double>(yv[1]) - yv[0]) * yps);
    const double bins = std::floor(length / ((static_cast<double>(xps) + yps) * 0.5)) + 1.0;
    const double most = static_cast<double>(im.xmaxdat) + static_cast<double>(im.ymaxdat) + 2.0;
    if (std::isfinite(bins) && bins > static_cast<double>(n))
      n = static_cast<std::size_t>(std::min(bins, most));
  }
  const Index maxproj = static_cast<Index>(n);
  StripProfile p;
  p.positions.assign(n, 0.0f);
  p.smooth.assign(n, 0.0f);
  p.partial.assign(n, 0);
  std::vector<float> profile(n, 0.0f), weights(n, 0.0f);
  int truncated = 0;
  // Pixels that are not numbers, and masked ones when the mask is shown,
  // take no part.
  const std::span<const std::uint8_t> mask =
      im.mask_data && im.mask.size() >= im.data.size() ? im.mask : std::span<const std::uint8_t>{};
  ma_strip_projection(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm,
                      im.data, {}, mask, xps, yps, xv, yv, false, false, (xps + yps) * 0.5f,
                      maxproj, truncated, p.number, p.positions, profile, {}, weights,
                      p.pixels, status);
  if (status != kStatusGood || p.number < 1) return false;
  const auto number = static_cast<std::size_t>(p.number);
  // A point no pixel reached has no value: it is none, not 0, so that the
  // boxes holding it say so.
  for (std::size_t k = 0; k < number; ++k)
    if (!(weights[k] > 0.0f)) profile[k] = std::numeric_limits<float>::quiet_NaN();
  p.raw.assign(profile.begin(), profile.begin() + static_cast<std::ptrdiff_t>(number));
  p.weights.assign(weights.begin(), weights.begin() + static_cast<std::ptrdiff_t>(number));
  p.pixel_noise = strip_pixel_noise(im, mask, xv, yv);
  MA_TOPHATCON(maxproj, 1, profile, 1, 1, p.number, 1, kSmoothing, 1, true, maxproj, 1, p.smooth,
               status);
  if (status != kStatusGood) return false;
  const Index reach = kSmoothing / 2;
  for (Index i = 1; i <= p.number; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    p.partial[k] = i <= reach || i > p.number - reach || !std::isfinite(p.smooth[k]) ? 1 : 0;
  }
  strip = std::move(p);
  return std::any_of(weights.begin(), weights.begin() + static_cast<std::ptrdiff_t>(number),
                     [](float w) { return w > 0.0f; });
}

double kzt_strip_contrast(const StripProfile& strip, Index first, Index last,
                          std::span<const std::uint8_t> mask) {
  // The points' squared deviations from their mean, each over its own noise
  // (a point's pixels' noise over their number): for noise alone their sum
  // is about the number of points less one.
  const std::vector<float>& p = strip.raw;
  first = std::max<Index>(first, 1);
  last = std::min(last, static_cast<Index>(std::min(p.size(), strip.weights.size())));
  std::vector<std::size_t> points;
  double sum = 0.0, pixels = 0.0;
  for (Index i = first; i <= last; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    if ((k < mask.size() && mask[k] != 0) || !std::isfinite(p[k]) || !(strip.weights[k] > 0.0f))
      continue;
    points.push_back(k);
    // The mean weighted by the points' pixels.
    sum += p[k] * strip.weights[k];
    pixels += strip.weights[k];
  }
  if (points.size() < 2) return 0.0;
  const double mean = sum / pixels;
  double deviations = 0.0;
  for (const std::size_t k : points) {
    const double d = p[k] - mean;
    deviations += d * d * strip.weights[k];
  }
  const double dof = static_cast<double>(points.size() - 1);
  double noise = strip.pixel_noise * strip.pixel_noise;
  if (!(noise > 0.0)) {
    // A strip too narrow to tell its pixels' noise: a point's, from the
    // second differences along the projection.
    std::vector<double> second;
    for (std::size_t k = 2; k < p.size(); ++k) {
      const double d = static_cast<double>(p[k - 2]) - 2.0 * p[k - 1] + p[k];
      if (std::isfinite(d)) second.push_back(std::abs(d));
    }
    noise = noise_of(second, 6.0);
    noise *= noise;
    deviations = 0.0;
    for (const std::size_t k : points) deviations += (p[k] - mean) * (p[k] - mean);
  }
  if (!(noise > 0.0)) return deviations > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
  return deviations / noise / dof;
}

bool kzt_strip_symmetry(const StripProfile& strip, Index first, Index last,
                        std::span<const std::uint8_t> mask, StripCentre& found, Status& status) {
  if (st_bad(status, "Subroutine KZT_PROJECTFIT V0.3")) return false;
  const Index number = strip.number;
  if (number < 1 || first < 1 || last > number || first > last ||
      strip.smooth.size() < static_cast<std::size_t>(number) ||
      strip.partial.size() < static_cast<std::size_t>(number) ||
      mask.size() < static_cast<std::size_t>(number))
    return st_fail(status, kBaseApp + 5, "Subroutine KZT_PROJECTFIT V0.3"), false;
  // The points the smoothing did not average whole take no part, nor those
  // whose box holds a spike: the same image with the hot pixel masked has
  // no point there either. Nor does the spike count for the contrast.
  std::vector<std::uint8_t> used(strip.smooth.size(), 1);
  for (std::size_t k = 0; k < static_cast<std::size_t>(number); ++k)
    used[k] = mask[k] != 0 || strip.partial[k] != 0 ? 1 : 0;
  const std::vector<std::uint8_t> spikes = strip_spikes(strip);
  std::vector<std::uint8_t> contrast_mask(mask.begin(), mask.begin() + number);
  const Index reach = kSmoothing / 2;
  for (Index k = 0; k < static_cast<Index>(spikes.size()) && k < number; ++k) {
    if (spikes[static_cast<std::size_t>(k)] == 0) continue;
    contrast_mask[static_cast<std::size_t>(k)] = 1;
    for (Index j = std::max<Index>(0, k - reach); j <= std::min(number - 1, k + reach); ++j)
      used[static_cast<std::size_t>(j)] = 1;
  }
  float c = static_cast<float>(first + last - 1) * 0.5f;
  const double noise = smoothed_noise(strip);
  if (!KZT_LSQ1DSYMMETRY(static_cast<Index>(strip.smooth.size()), first, last, strip.smooth, used,
                         c, status, noise))
    return false;
  double verified = c;
  const MirrorCheck check = check_mirror(strip.smooth, used, first, last, noise, verified);
  c = static_cast<float>(verified);
  found.centre = c;
  found.rival = check.rival;
  found.rival_centre = static_cast<float>(check.rival_centre);
  found.misfit = kzt_symmetry_misfit(strip.smooth, used, first, last, c);
  found.contrast = kzt_strip_contrast(strip, first, last, contrast_mask);
  return true;
}

SymmetryDoubt kzt_symmetry_doubt(const StripCentre& found) {
  if (found.contrast < kNoiseContrast) return SymmetryDoubt::kNoise;
  if (found.misfit < 0.0) return SymmetryDoubt::kFewPoints;
  if (found.rival) return SymmetryDoubt::kRival;
  if (found.misfit > kPoorSymmetry) return SymmetryDoubt::kPoorSymmetry;
  return SymmetryDoubt::kNone;
}

void KZT_FUN1DSYMMETRY(bool mask_data, Index xmaxdat, Index, std::span<const float> data,
                       std::span<const std::uint8_t> mask, Index xstrelm, Index, Index xendelm,
                       Index, void*, void*, void*, void*, int, std::span<const float> params,
                       Index xmaxmod, Index, bool model_in_data_frame, int& terminate,
                       std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUN1DSYMMETRY V0.2")) return;
  terminate = 0;
  (void)xmaxdat;
  (void)xmaxmod;
  const Index offset = model_in_data_frame ? xstrelm - 1 : 0;
  std::vector<std::uint8_t> valid;
  symmetry_residuals(data, mask, mask_data, xstrelm, xendelm, params[0],
                     model.data() + offset, valid);
}

bool KZT_LSQ1DSYMMETRY(Index max_points, Index first, Index last, std::span<const float> profile,
                       std::span<const std::uint8_t> mask, float& centre, Status& status,
                       double noise) {
  constexpr const char* kName = "Subroutine KZT_LSQ1DSYMMETRY V0.3";
  if (st_bad(status, kName)) return false;
  if (max_points < 1) return st_fail(status, kBaseApp + 1, kName), false;
  const auto n = static_cast<std::size_t>(max_points);
  if (first < 1 || last > max_points || first > last || profile.size() < n ||
      (!mask.empty() && mask.size() < n))
    return st_fail(status, kBaseApp + 5, kName), false;
  // The least-squares step only finds the minimum nearest its start, and a
  // profile with rings has one beside each ring. So every centre on the
  // points and half-way between them that counts is first scored, and the
  // fit starts from the best.
  SymmetryMisfit misfit(profile, mask, first, last, noise);
  double start = 0.0, lowest = 0.0;
  if (!misfit.best(start, lowest)) return false;

  std::array<float, 1> params{static_cast<float>(start)};
  const std::array<bool, 1> constrained{false};
  const std::array<float, 1> scales{5.0f};
  std::vector<float> model(n, 0.0f);
  int end_code = 0, num_calls = 0;
  // The sum of squares of a profile of huge values (an image scaled to
  // 1e19 or more) passes what a single-precision value holds.
  double sum_squares = 0.0;
  MA_MODELFIT(0, KZT_FUN1DSYMMETRY, !mask.empty(), false, false, max_points, 1, profile, mask, {},
              first, 1, last, 1, 1, 300, 1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr,
              nullptr, 1, constrained, scales, max_points, 1, true, params, model, end_code,
              num_calls, sum_squares, status);
  if (status != kStatusGood) return false;
  // A fit that ends clearly worse than its best start has gone astray,
  // whatever its end code says. The fit's own sum weighs the points a
  // centre cannot mirror, so its minimum may lie a little off the best
  // score: only twice the best, or a score above a millionth of the
  // profile's variation, is clearly worse. One that ends where its centre
  // mirrors fewer points than a start must has not failed: the true centre
  // of a short line may lie so far off its middle, and how much the centre
  // mirrors is judged where it is proposed.
  bool counts = false;
  const double fitted = misfit.at(params[0], counts);
  if (end_code > 0 || (counts && fitted > 2.0 * lowest + 1.0e-6))
    IO_WRITE("WARNING: Problem fitting the symmetry centre", status);
  centre = params[0];
  return true;
}

void KZT_SUBPROJECTFIT(Index max_points, Index first, Index last, float centre,
                       std::span<float> mirrored, Status& status) {
  constexpr const char* kName = "Subroutine KZT_SUBPROJECTFIT V0.1";
  if (st_bad(status, kName)) return;
  if (max_points < 1) return st_fail(status, kBaseApp + 1, kName);
  if (first < 1 || last > max_points || mirrored.size() < static_cast<std::size_t>(max_points))
    return st_fail(status, kBaseApp + 5, kName);
  for (Index i = first; i <= last; ++i)
    mirrored[static_cast<std::size_t>(i - 1)] = 2.0f * centre - (static_cast<float>(i) - 0.5f);
}

void kzt_symmetry_point(float x1, float y1, float x2, float y2, float xps, float yps,
                        float bin_size, float centre, float& x, float& y) {
  const double dx = (static_cast<double>(x2) - x1) * xps, dy = (static_cast<double>(y2) - y1) * yps;
  const double length = std::hypot(dx, dy);
  if (!(length > 0.0)) {
    x = x1;
    y = y1;
    return;
  }
  const double along = static_cast<double>(centre) * bin_size;
  x = static_cast<float>(x1 + along * dx / length / xps);
  y = static_cast<float>(y1 + along * dy / length / yps);
}

bool KZT_PROJECTFIT(const GsDisplayedImage& im, float xps, float yps, float& x_beam,
                    float& y_beam, Status& status) {
  constexpr const char* kName = "Subroutine KZT_PROJECTFIT V0.3";
  if (st_bad(status, kName)) return false;
  if (im.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kName), false;
  if (im.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kName), false;
  std::array<float, 5> xv{}, yv{};
  KZT_INP_PROJECTION(true, false, 0.0f, 0.0f, im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm,
                     im.xendelm, im.yendelm, im.xaxis, im.yaxis, im.data, im.mask, im.title,
                     im.xlabel, im.ylabel, im.zlabel, xv, yv, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return false;
  }
  if (status != kStatusGood) return false;

  const std::array<float, 1> yaxis{0.5f};
  const float bin_size = (xps + yps) * 0.5f;
  GS_FPROMPT(1, 1, {"CALCULATING PROJECTION (this may take a while)"}, status);
  GS_UPDATE(status);
  StripProfile strip;
  const bool reached = kzt_strip_profile(im, xps, yps, xv, yv, strip, status);
  if (status != kStatusGood || strip.number < 1) return false;
  // A strip too thin to hold a pixel centre, or holding none that counts,
  // projects nothing: its profile is symmetric about any point.
  if (!reached) {
    gs_refusal({strip.pixels.inside == 0
                    ? "The strip holds no pixel centre: no centre is proposed"
                    : "The strip holds no pixel of a finite value: no centre is proposed"},
               status);
    return false;
  }
  const Index number = strip.number;
  const std::span<const float> positions = strip.positions, smooth = strip.smooth;
  const auto n = positions.size();
  const auto maxproj = static_cast<Index>(n);
  std::vector<float> mirrored(n);
  GS_XYSGRAPH(maxproj, 1, number, positions, smooth, im.title, "Pixels", "Projection", status);
  Index first = 1, ys = 1, last = number, ye = 1;
  std::vector<std::uint8_t> mask(n, 0);
  KZT_1DMASK(true, maxproj, 1, number, 1, smooth, positions, yaxis, im.title, "Pixels",
             "Projection", im.zlabel, xps, yps, first, ys, last, ye, mask, status,
             "MASK OUT POINTS TO IGNORE");
  if (status == kStatusEscape) {
    st_reset(status);
    return false;
  }
  if (status != kStatusGood) return false;
  first = std::clamp<Index>(first, 1, number);
  last = std::clamp<Index>(last, first, number);
  GS_FPROMPT(1, 1, {"OPTIMISING SYMMETRY POINT"}, status);
  GS_UPDATE(status);
  StripCentre found;
  const bool fitted = kzt_strip_symmetry(strip, first, last, mask, found, status);
  const float centre = found.centre;
  if (status != kStatusGood) return false;
  if (!fitted) {
    const bool none = std::all_of(mask.begin() + (first - 1), mask.begin() + last,
                                  [](std::uint8_t m) { return m != 0; });
    // A flat profile (a constant image) is symmetric about every point.
    bool flat = true;
    std::optional<float> level;
    for (Index i = first; i <= last && flat; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      if (mask[k] != 0 || !std::isfinite(smooth[k])) continue;
      if (!level) level = smooth[k];
      flat = smooth[k] == *level;
    }
    gs_refusal({none   ? "The profile holds no unmasked point: no centre is proposed"
                : flat ? "The profile is flat, symmetric about every point: no centre is proposed"
                       : "Too few unmasked points mirror each other: no centre is proposed"},
               status);
    return false;
  }

  // The fitted centre over the graph, and the profile mirrored about it:
  // inside the graph's frame, for the points of a centre near one end of
  // the line mirror beyond the graph's X range.
  GS_XYSGRAPH(maxproj, first, last, positions, smooth, im.title, "Pixels", "Projection", status);
  float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
  GS_INQ_DDDR(x1, y1, x2, y2, status);
  gs_clip_to_graph(true, status);
  GS_LINESTYLE(1, 1.0f, kGsRed, status);
  GS_LINE(centre, y1, centre, y2, status);
  KZT_SUBPROJECTFIT(maxproj, first, last, centre, mirrored, status);
  GS_MARKERS(2, maxproj, first, last, mirrored, smooth, status);
  Status local = kStatusGood;
  gs_clip_to_graph(false, local);
  GS_UPDATE(status);
  GS_CONTINUE(1, 1, {"CLICK TO CONTINUE"}, status);
  if (status == kStatusEscape) st_reset(status);
  GS_MPLOT(im.mask_data, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis,
           im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel,
           im.zlabel, status);
  if (status != kStatusGood) return false;

  // The line runs between the midpoints of the strip's two ends.
  float xc = 0.0f, yc = 0.0f;
  kzt_symmetry_point((xv[0] + xv[3]) * 0.5f, (yv[0] + yv[3]) * 0.5f, (xv[1] + xv[2]) * 0.5f,
                     (yv[1] + yv[2]) * 0.5f, xps, yps, bin_size, centre, xc, yc);
  IO_WRITE("INFO: Centre of symmetry (pixels) = (" + format_g(xc, 14, 7) + "," +
               format_g(yc, 14, 7) + ")",
           status);
  // Even the best centre may mirror the profile badly (a one-sided decay, a
  // streak that misses the centre), or mirror too little of it to be
  // trusted, or mirror noise alone by chance: the centre found is then no
  // centre of symmetry, and Return keeps the one stored.
  if (const SymmetryDoubt doubt = kzt_symmetry_doubt(found); doubt != SymmetryDoubt::kNone) {
    gs_refusal(
        {doubt_line(doubt, found), "the centre found is doubtful; the stored centre is offered"},
        status);
    if (status != kStatusGood) return false;
    xc = x_beam / xps;
    yc = y_beam / yps;
  }
  KZT_INP_BEAMCENTRE(true, xc, yc, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return false;
  }
  if (status != kStatusGood) return false;
  x_beam = xc * xps;
  y_beam = yc * yps;
  return true;
}

}  // namespace kesta
