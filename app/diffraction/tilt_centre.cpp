#include "app/diffraction/tilt_centre.hpp"

#include <algorithm>
#include <limits>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/circle_fits.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/diffraction/ring_coordinates.hpp"
#include "app/imageops/conventions.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/modelfit.hpp"

namespace kesta {

namespace {

constexpr float kHalfTurn = 3.1415925f;
constexpr float kTiltStartLimit = 0.17453292f;  // 10 degrees
constexpr float kUndetermined = -1.7e38f;
constexpr int kMaxParameters = 20;
// How much wider than the fit's own annuli a solution's rings are searched
// again.
constexpr float kWider = 1.5f;
// Said where the first ring gives too few points for an ellipse.
constexpr std::string_view kFewOnFirstRing =
    "WARNING: Fewer than 5 coordinates found on the first ring: nothing was fitted";
// Said where no ring gives a point to fit.
constexpr std::string_view kNoneOnRings =
    "WARNING: No coordinates found on the rings: nothing was fitted";

// The options of the command, kept for the run.
struct TiltOptions {
  int num_sections = 90;
  bool reject_outliers = true;
  float reject_limit = 4.0f;
  bool full_info = true;
  bool refine_beam = true;
  bool refine_distance = false;
  bool refine_tilt = true;
};
TiltOptions tilt_options;

std::string g14(double v) { return format_g(v, 14, 7); }

void show_image(const GsDisplayedImage& im, Status& status) {
  GS_2DMIMAGE(im.mask_data, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis,
              im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel,
              im.zlabel, status);
}

// One click on the displayed image (pixel coordinates); false after CANCEL.
bool one_click(const GsDisplayedImage& im, std::string_view prompt,
               std::span<const std::string> info, float& x, float& y, Status& status) {
  std::array<float, 1> cx{}, cy{};
  int num = 1;
  GS_INPS_FCOORDINATES(false, im, prompt, static_cast<int>(info.size()), info, false, 1, num, cx,
                       cy, status);
  if (status != kStatusGood || num < 1) return false;
  x = cx[0];
  y = cy[0];
  return true;
}

// The normal equations of a change that meets radial offsets: NORMAL
// CHANGE = RIGHT, with SQUARES the sum of the squared offsets (metres
// squared) over POINTS points.
template <std::size_t N>
struct NormalEquations {
  std::array<std::array<double, N>, N> normal{};
  std::array<double, N> right{};
  double squares = 0.0;
  Index points = 0;
};

// A change is told from the others where one as large as the judgement's
// limit moves the points found by at least this (pixels, root sum of
// squares): a tenth of a pixel, the points' own scatter on clear rings.
constexpr double kLeastTold = 0.1;
// The scale of a change the check measures: a change of centre, tilt or a
// ring's place on the image is told from the others where one of this size
// moves the points found by kLeastTold, and a change of centre and tilt
// this small is one a distance held off can make up for. It is not the
// verdict's limits (FollowingLimits): a coarser scale leaves changes that
// the points do tell untold, and a right result's change unmeasured.
struct ChangeScale {
  double centre = 0.2;  // pixels
  double tilt = 0.065;  // degrees
  double ring = 0.4;    // pixels
};
constexpr ChangeScale kChangeScale{};
// A change not so told is still made where the points ask for it clearly:
// by this many times their scatter (at least kLeastTold) along it.
constexpr double kClearlyAsked = 5.0;

// The points' own scatter (metres): from the residuals RESIDUALS of POINTS
// (those KEPT, all where KEPT is empty), half the mean square difference
// of successive points found on one ring, which lie in the order of their
// sections, at most three and a half of NUM_SECTIONS sections apart (not
// across a stretch of the ring off the image). A misfit of the cones'
// shape varies smoothly round a ring and leaves the differences; a coarse
// powder's crystallites, or an outlier, raise them as they raise the
// offsets. Infinite (nothing can be told) where the rings give fewer than
// four such pairs, or pairs for fewer than a quarter of the points: a
// spotty ring's points lie sections apart, and its few pairs are mostly
// one crystallite seen in two neighbouring sections, which says nothing
// of how far one crystallite lies from the next.
double successive_scatter(const std::vector<FollowedPoint>& points,
                          std::span<const double> residuals, std::span<const char> kept,
                          int num_sections) {
  constexpr Index kLeastPairs = 4;
  const double apart = 3.5 * 2.0 * M_PI / std::max(num_sections, 1);
  double sum = 0.0;
  Index pairs = 0, used = 0;
  const FollowedPoint* last = nullptr;
  double last_residual = 0.0;
  for (std::size_t n = 0; n < points.size() && n < residuals.size(); ++n) {
    if (!kept.empty() && kept[n] == 0) continue;
    ++used;
    if (last != nullptr && last->ring == points[n].ring &&
        std::abs(points[n].azimuth - last->azimuth) <= apart) {
      const double step = residuals[n] - last_residual;
      sum += step * step;
      ++pairs;
    }
    last = &points[n];
    last_residual = residuals[n];
  }
  if (pairs < kLeastPairs || 4 * pairs < used) return std::numeric_limits<double>::infinity();
  return std::sqrt(sum / (2.0 * static_cast<double>(pairs)));
}

// The change that best meets the offsets of E, each parameter measured in
// UNIT (a change as large as the judgement's limit for it) and told from
// those before it in ORDER: a parameter whose change of one unit moves the
// points found by less than LEAST (metres, root sum of squares) beyond
// what the parameters before it do cannot be told from them by the rings
// found. It is held (its change 0, SEEN false), so that what the points'
// noise makes of a change they do not show reaches no verdict, unless the
// points ask for it kClearlyAsked times their scatter (a tilt held far
// off shows however little a limit's worth of tilt moves them). False
// when no parameter is seen.
template <std::size_t N>
bool solve_seen(const NormalEquations<N>& e, const std::array<double, N>& unit,
                const std::array<std::size_t, N>& order, double least,
                std::array<double, N>& change, std::array<bool, N>& seen) {
  // The Cholesky factor L of the scaled normal matrix over the parameters
  // seen (KEPT), and the offsets' share along each (Y: L Y = RIGHT).
  std::array<std::array<double, N>, N> l{};
  std::array<std::size_t, N> kept{};
  std::array<double, N> y{};
  std::size_t n = 0;
  change.fill(0.0);
  seen.fill(false);
  // Parameter K after those kept: how far a unit of it moves the points
  // beyond them (root sum of squares) and the offsets' share along that.
  auto beyond = [&](std::size_t k, std::array<double, N>& row, double& share) {
    double d = unit[k] * unit[k] * e.normal[k][k];
    share = unit[k] * e.right[k];
    for (std::size_t j = 0; j < n; ++j) {
      double v = unit[k] * unit[kept[j]] * e.normal[k][kept[j]];
      for (std::size_t m = 0; m < j; ++m) v -= row[m] * l[j][m];
      row[j] = v / l[j][j];
      d -= row[j] * row[j];
      share -= row[j] * y[j];
    }
    const double move = d > 0.0 ? std::sqrt(d) : 0.0;
    share = move > 0.0 ? share / move : 0.0;
    return move;
  };
  auto keep = [&](std::size_t k, std::array<double, N>& row, double move, double share) {
    row[n] = move;
    l[n] = row;
    y[n] = share;
    kept[n++] = k;
    seen[k] = true;
  };
  for (const std::size_t k : order) {
    std::array<double, N> row{};
    double share = 0.0;
    const double move = beyond(k, row, share);
    if (move >= least && std::isfinite(move) && std::isfinite(share)) keep(k, row, move, share);
  }
  // The points' scatter about the change told so far.
  double left = e.squares;
  for (std::size_t i = 0; i < n; ++i) left -= y[i] * y[i];
  const double scatter = std::max(
      least, std::sqrt(std::max(left, 0.0) / static_cast<double>(std::max<Index>(e.points - n, 1))));
  for (const std::size_t k : order) {
    if (seen[k]) continue;
    std::array<double, N> row{};
    double share = 0.0;
    const double move = beyond(k, row, share);
    if (move >= 0.01 * least && std::isfinite(share) && std::abs(share) >= kClearlyAsked * scatter)
      keep(k, row, move, share);
  }
  if (n == 0) return false;
  std::array<double, N> x{};
  for (std::size_t i = n; i-- > 0;) {
    double v = y[i];
    for (std::size_t m = i + 1; m < n; ++m) v -= l[m][i] * x[m];
    x[i] = v / l[i][i];
  }
  for (std::size_t i = 0; i < n; ++i) change[kept[i]] = unit[kept[i]] * x[i];
  return true;
}

// How far a change of parameter K as large as UNIT[K] moves the points
// (root sum of squares, metres) beyond what the parameters FREE (other than
// K) can take up together, whether or not the rings tell them apart. The
// change solve_seen makes tells its parameters one after the other and
// holds one it cannot tell: that is how it should be made, but not how to
// judge what the rings fix. On one ring the distance and the wavelength
// (or a cone angle) trade with each other, and on a tilted detector the
// centre slides with them: the centre is told beyond the distance, the
// wavelength is not told beyond both and held, yet a result along that
// trade still meets the ring.
template <std::size_t N>
double move_beyond_free(const NormalEquations<N>& e, const std::array<double, N>& unit,
                        const std::array<bool, N>& free, std::size_t k) {
  // The normal matrix scaled to a unit diagonal (where a column moves
  // nothing it is left out); a column that adds nothing to those before it
  // (to rounding) is dropped.
  constexpr double kDependent = 1.0e-12;
  std::array<double, N> scale{};
  for (std::size_t i = 0; i < N; ++i)
    scale[i] = e.normal[i][i] > 0.0 ? 1.0 / std::sqrt(e.normal[i][i]) : 0.0;
  if (scale[k] == 0.0) return 0.0;
  std::array<std::array<double, N>, N> l{};
  std::array<std::size_t, N> kept{};
  std::size_t n = 0;
  auto beyond = [&](std::size_t i, std::array<double, N>& row) {
    double d = 1.0;
    for (std::size_t j = 0; j < n; ++j) {
      double v = e.normal[i][kept[j]] * scale[i] * scale[kept[j]];
      for (std::size_t m = 0; m < j; ++m) v -= row[m] * l[j][m];
      row[j] = v / l[j][j];
      d -= row[j] * row[j];
    }
    return d;
  };
  for (std::size_t i = 0; i < N; ++i) {
    if (i == k || !free[i] || scale[i] == 0.0) continue;
    std::array<double, N> row{};
    const double d = beyond(i, row);
    if (!(d > kDependent)) continue;
    row[n] = std::sqrt(d);
    l[n] = row;
    kept[n++] = i;
  }
  std::array<double, N> row{};
  const double d = beyond(k, row);
  return unit[k] * std::sqrt(std::max(d, 0.0) * e.normal[k][k]);
}

// The centre and tilt (the change's first four parameters) seen by
// solve_seen that the rings found still do not fix: a change of one as
// large as its UNIT that the parameters FREE (those the result refined)
// make up for to within LEAST (metres, root sum of squares) is not seen.
template <std::size_t N>
void unsee_traded(const NormalEquations<N>& e, const std::array<double, N>& unit,
                  const std::array<bool, N>& free, double least, std::array<bool, N>& seen) {
  for (std::size_t k = 0; k < 4; ++k)
    if (seen[k] && !(move_beyond_free(e, unit, free, k) >= least)) seen[k] = false;
}

// The order in which a change's parameters are told from each other: those
// refined in the order PREFERRED, then those HELD, so that where the rings
// found cannot tell a held parameter from a refined one the change goes to
// the refined one and the held one is taken as the user gave it.
template <std::size_t N>
std::array<std::size_t, N> telling_order(const std::array<std::size_t, N>& preferred,
                                         const std::array<bool, N>& held) {
  std::array<std::size_t, N> order{};
  std::size_t n = 0;
  for (const bool later : {false, true})
    for (const std::size_t k : preferred)
      if (held[k] == later) order[n++] = k;
  return order;
}

std::string fixed_text(double v, int decimals) {
  return std::string(trimmed_text(format_f(v, 14, decimals)));
}

// VALUE, over LIMIT, with the digits (two at least) that show it over: a
// ring 0.5004 pixel off is not said as 0.50 pixel over 0.5.
std::string over_limit_text(double value, double limit) {
  std::string text = fixed_text(value, 2);
  for (int decimals = 3; decimals <= 6 && !(std::stod(text) > limit); ++decimals)
    text = fixed_text(value, decimals);
  return text;
}

// The distance (metres) along the detector from the beam centre at which
// the cone of TAN_TWO_THETA of solution S meets the direction (CA, SA);
// NaN where it does not (or not once).
double cone_radius_along(const TiltSolution& s, double tan_two_theta, double ca, double sa) {
  // TiltedCone's residual is 0 where A rho^2 - B rho = (D tan 2-theta)^2.
  const double st = std::sin(s.tilt), ct = std::cos(s.tilt);
  const double t2 = tan_two_theta * tan_two_theta;
  const double cr = std::cos(s.rotation), sr = std::sin(s.rotation);
  const double u = cr * ca + sr * sa, v = cr * sa - sr * ca;
  const double a = (st * st * t2 - ct * ct), b = 2.0 * s.distance * st * t2;
  const double big_a = v * v - a * u * u, big_b = b * u;
  const double target = s.distance * tan_two_theta;
  if (!(big_a > 0.0)) return std::nan("");
  return (big_b + std::sqrt(big_b * big_b + 4.0 * big_a * target * target)) / (2.0 * big_a);
}

// The half-width of each of the first NUM_RINGS rings of S: HALF_WIDTH,
// or less where another ring (of S, or of the cone angles OTHERS) lies
// nearer along any section's central direction than twice that. An
// annulus that reaches into a neighbouring ring finds a profile with a
// second peak or a sloping background: its centre of gravity leaves the
// fitted ring on a right solution. Kept to half the distance, neighbouring
// annuli meet but do not overlap.
std::vector<float> apart_widths(const TiltSolution& s, int num_rings, float half_width,
                                int num_sections, std::span<const float> others) {
  std::vector<float> angles(s.two_theta.begin(), s.two_theta.begin() + num_rings);
  angles.insert(angles.end(), others.begin(), others.end());
  std::vector<double> tans;
  for (float t : angles) tans.push_back(std::tan(static_cast<double>(t)));
  std::vector<float> widths(static_cast<std::size_t>(num_rings), half_width);
  std::vector<double> radii(tans.size());
  for (int n = 0; n < num_sections; ++n) {
    const double azimuth = (n + 0.5) * 2.0 * M_PI / num_sections;
    const double ca = std::cos(azimuth), sa = std::sin(azimuth);
    for (std::size_t j = 0; j < tans.size(); ++j) radii[j] = cone_radius_along(s, tans[j], ca, sa);
    for (std::size_t k = 0; k < widths.size(); ++k) {
      if (!std::isfinite(radii[k])) continue;
      for (std::size_t j = 0; j < radii.size(); ++j) {
        const double gap = std::abs(radii[j] - radii[k]);
        // (The same ring given twice is no neighbour.)
        if (angles[j] != angles[k] && std::isfinite(gap))
          widths[k] = std::min(widths[k], static_cast<float>(0.5 * gap));
      }
    }
  }
  return widths;
}

// The offset (metres) of (X, Y) from ring K of S and its derivatives
// along a change of the X and Y beam centre, of the tilt vector's two
// components, of the ring's cone angle and of the distance. Steps: a
// thousandth of a pixel, about 0.2 millidegrees.
FollowedPoint cone_offset(const TiltSolution& s, int k, double x, double y) {
  constexpr double kStepCentre = 1.0e-7, kStepAngle = 1.0e-6;
  const double two_theta = s.two_theta[static_cast<std::size_t>(k)];
  const double tx = s.tilt * std::cos(s.rotation), ty = s.tilt * std::sin(s.rotation);
  auto cone = [&](double dx, double dy, double dtx, double dty, double dt, double dd) {
    return TiltedCone(s.x_beam + dx, s.y_beam + dy, s.distance + dd,
                      std::atan2(ty + dty, tx + dtx), std::hypot(tx + dtx, ty + dty),
                      std::tan(two_theta + dt));
  };
  FollowedPoint p{k, cone(0, 0, 0, 0, 0, 0).residual(x, y), {}};
  const std::array<TiltedCone, 6> moved = {
      cone(kStepCentre, 0, 0, 0, 0, 0), cone(0, kStepCentre, 0, 0, 0, 0),
      cone(0, 0, kStepAngle, 0, 0, 0),  cone(0, 0, 0, kStepAngle, 0, 0),
      cone(0, 0, 0, 0, kStepAngle, 0),  cone(0, 0, 0, 0, 0, kStepCentre)};
  const std::array<double, 6> steps = {kStepCentre, kStepCentre, kStepAngle,
                                       kStepAngle,  kStepAngle,  kStepCentre};
  for (std::size_t j = 0; j < 6; ++j) p.d[j] = (moved[j].residual(x, y) - p.offset) / steps[j];
  return p;
}

// A calibrant's cone angles follow from its d-spacings and the wavelength,
// so a geometry that is off moves its rings together: the offsets of what
// was found are fitted by one change of centre, tilt, distance and
// wavelength (a relative change of the wavelength turns each cone by
// twice the tangent of its half-angle), columns in that order.
std::array<double, 6> calibrant_columns(const TiltSolution& s, const FollowedPoint& p) {
  const double half = 0.5 * s.two_theta[static_cast<std::size_t>(p.ring)];
  return {p.d[0], p.d[1], p.d[2], p.d[3], p.d[5], p.d[4] * 2.0 * std::tan(half)};
}

// The change of centre, tilt, distance and wavelength that the offsets of
// POINTS ask for (told as solve_seen tells it, each in units of the
// judgement's LIMITS: a ring moved by as much as its limit by the
// distance or the wavelength alone). Points that disagree with the rest
// by more than four times their spread (at least a quarter of a pixel)
// are left out and the change fitted again, twice: a ring of another
// phase, or a neighbour, taken for a ring in some sections pulls nothing.
// KEPT receives the points used, RESIDUALS each point's offset after the
// change; false when no change could be told.
bool calibrant_change(const TiltSolution& s, const std::vector<FollowedPoint>& points,
                      double pixel, const ChangeScale& limits, const RefinedParameters& refined,
                      std::array<double, 6>& change, std::array<bool, 6>& seen,
                      std::vector<char>& kept, std::vector<double>& residuals) {
  std::array<double, 6> unit = {limits.centre * pixel, limits.centre * pixel,
                                limits.tilt / kDegreesPerRadian, limits.tilt / kDegreesPerRadian,
                                0.0, 0.0};
  for (const FollowedPoint& p : points) {
    const std::array<double, 6> c = calibrant_columns(s, p);
    for (std::size_t i = 4; i < 6; ++i) unit[i] = std::max(unit[i], std::abs(c[i]));
  }
  for (std::size_t i = 4; i < 6; ++i) unit[i] = unit[i] > 0.0 ? limits.ring * pixel / unit[i] : 1.0;
  const std::array<std::size_t, 6> order = telling_order<6>(
      {0, 1, 4, 2, 3, 5},
      {!refined.beam, !refined.beam, !refined.tilt, !refined.tilt, !refined.distance,
       !refined.wavelength});
  kept.assign(points.size(), 1);
  residuals.assign(points.size(), 0.0);
  const double floor = 0.25 * pixel;
  bool solved = false;
  for (int pass = 0; pass < 3; ++pass) {
    NormalEquations<6> e;
    for (std::size_t n = 0; n < points.size(); ++n) {
      if (kept[n] == 0) continue;
      const std::array<double, 6> c = calibrant_columns(s, points[n]);
      for (std::size_t i = 0; i < 6; ++i) {
        for (std::size_t j = 0; j < 6; ++j) e.normal[i][j] += c[i] * c[j];
        e.right[i] -= c[i] * points[n].offset;
      }
      e.squares += points[n].offset * points[n].offset;
      ++e.points;
    }
    if (!solve_seen(e, unit, order, kLeastTold * pixel, change, seen)) break;
    unsee_traded(e, unit,
                 {refined.beam, refined.beam, refined.tilt, refined.tilt, refined.distance,
                  refined.wavelength},
                 kLeastTold * pixel, seen);
    solved = true;
    std::vector<double> spread;
    for (std::size_t n = 0; n < points.size(); ++n) {
      const std::array<double, 6> c = calibrant_columns(s, points[n]);
      double r = points[n].offset;
      for (std::size_t i = 0; i < 6; ++i) r += c[i] * change[i];
      residuals[n] = r;
      if (kept[n] != 0) spread.push_back(std::abs(r));
    }
    if (pass == 2 || spread.empty()) break;
    const auto middle = spread.begin() + static_cast<std::ptrdiff_t>(spread.size() / 2);
    std::nth_element(spread.begin(), middle, spread.end());
    const double limit = std::max(4.0 * 1.4826 * *middle, floor);
    for (std::size_t n = 0; n < points.size(); ++n) kept[n] = std::abs(residuals[n]) <= limit;
  }
  return solved;
}

// The largest of OFFSET (metres) over the directions of 90 sections where
// ring K of S lies on the image, OFFSET giving a point's distance from the
// ring's place (metres) from its FollowedPoint at the ring.
template <typename Offset>
double largest_along_ring(const GsDisplayedImage& im, const TiltSolution& s, int k, float xps,
                          float yps, Offset offset) {
  const double xlo = static_cast<double>(im.xstrelm - 1) * xps;
  const double xhi = static_cast<double>(im.xendelm) * xps;
  const double ylo = static_cast<double>(im.ystrelm - 1) * yps;
  const double yhi = static_cast<double>(im.yendelm) * yps;
  const double t = std::tan(static_cast<double>(s.two_theta[static_cast<std::size_t>(k)]));
  double largest = 0.0;
  for (int j = 0; j < 90; ++j) {
    const double azimuth = (j + 0.5) * 2.0 * M_PI / 90.0;
    const double ca = std::cos(azimuth), sa = std::sin(azimuth);
    const double r = cone_radius_along(s, t, ca, sa);
    if (!std::isfinite(r)) continue;
    const double x = s.x_beam + r * ca, y = s.y_beam + r * sa;
    if (x < xlo || x > xhi || y < ylo || y > yhi) continue;
    largest = std::max(largest, std::abs(offset(cone_offset(s, k, x, y))));
  }
  return largest;
}

// The largest distance (metres) that CHANGE puts between each of the first
// NUM_RINGS rings of S and where it lies now, over the directions of 90
// sections where the ring lies on the image.
double largest_ring_offset(const GsDisplayedImage& im, const TiltSolution& s, int num_rings,
                           const std::array<double, 6>& change, float xps, float yps) {
  double largest = 0.0;
  for (int k = 0; k < num_rings; ++k)
    largest = std::max(largest, largest_along_ring(im, s, k, xps, yps, [&](const FollowedPoint& p) {
                         const std::array<double, 6> c = calibrant_columns(s, p);
                         double at = 0.0;
                         for (std::size_t i = 0; i < 6; ++i) at += c[i] * change[i];
                         return at;
                       }));
  return largest;
}

// Whether the points found fix the centre and tilt of a result, as told
// by the change's parameters SEEN (centre X, Y, tilt X, Y first): each
// must be seen, held or refined (a tilt held where it cannot be told from
// the centre is not checked either). Where both were refined (REFINED) by
// a FIT on one ring, its ellipse is met as well by a centre on either side
// of its own with the tilt on that side (the two solutions of TILT/BEAM
// CENTRE), which no change about one of them shows.
template <std::size_t N>
bool centre_tilt_fixed(const RingFitResidual& fit, const std::array<bool, N>& seen,
                       const RefinedParameters& refined) {
  const bool one_ring = refined.beam && refined.tilt && fit.points > 0 && fit.rings < 2;
  return seen[0] && seen[1] && seen[2] && seen[3] && !one_ring;
}

// The calibrant's judgement of solution S (RingFollowing's cones_*): the
// change calibrant_change fits, how many points it kept and the rms they
// leave, and how far it moves each ring on the image, the largest of which
// is the result's error on the detector.
void judge_calibrant(const GsDisplayedImage& im, const TiltSolution& s, int num_rings,
                     const std::vector<FollowedPoint>& points, float xps, float yps,
                     int num_sections, const RefinedParameters& refined, RingFollowing& f) {
  const double pixel = 0.5 * (static_cast<double>(xps) + yps);
  std::array<double, 6> change{};
  std::array<bool, 6> seen{};
  std::vector<char> kept;
  std::vector<double> residuals;
  if (!calibrant_change(s, points, pixel, kChangeScale, refined, change, seen, kept,
                        residuals))
    return;
  double squares = 0.0;
  Index used = 0;
  for (std::size_t n = 0; n < points.size(); ++n) {
    if (kept[n] == 0) continue;
    squares += residuals[n] * residuals[n];
    ++used;
  }
  f.cones_determined = used > 0;
  f.cones_centre_tilt_fixed = centre_tilt_fixed(s.fit, seen, refined);
  f.cones_change = change;
  f.cones_used = static_cast<int>(used);
  f.cones_scatter = used > 0 ? std::sqrt(squares / static_cast<double>(used)) : 0.0;
  f.cones_noise = successive_scatter(points, residuals, kept, num_sections);
  f.largest_offset = largest_ring_offset(im, s, num_rings, change, xps, yps);
}

// Each ring of solution S searched again along its cone into AGAIN, with
// HALF_WIDTH or, with NEIGHBOURS, kept apart from the others (a ring left
// too little room for a profile, three radial bins, is not searched).
// False when a search failed (STATUS bad) or the cones cannot be drawn.
bool search_again(const GsDisplayedImage& im, const TiltSolution& s, float xps, float yps,
                  int num_rings, float half_width, int num_sections,
                  const RingNeighbours* neighbours, KztComRings& again, Status& status) {
  // A solution whose cones cannot be drawn on the detector is found
  // nowhere.
  if (!std::isfinite(s.x_beam) || !std::isfinite(s.y_beam) || !std::isfinite(s.rotation) ||
      !std::isfinite(s.tilt) || !(s.distance > 0.0f))
    return false;
  for (int k = 0; k < num_rings; ++k) {
    const auto ku = static_cast<std::size_t>(k);
    again.radii[ku] = s.distance * std::tan(s.two_theta[ku]);
    if (!(again.radii[ku] > 0.0f) || !std::isfinite(again.radii[ku])) return false;
  }
  const RingTilt tilt{s.distance, s.rotation, s.tilt};
  const std::span<const std::uint8_t> mask =
      im.mask_data ? im.mask : std::span<const std::uint8_t>{};
  if (neighbours == nullptr) {
    kzt_find_store_rings(false, im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                         im.yendelm, im.data, mask, xps, yps, s.x_beam, s.y_beam, num_rings,
                         half_width, num_sections, false, &tilt, status, again, true);
    return status == kStatusGood;
  }
  // Kept apart, each ring has its own half-width.
  const std::vector<float> widths =
      apart_widths(s, num_rings, half_width, num_sections, neighbours->two_theta);
  const auto one = std::make_unique<KztComRings>();
  for (std::size_t ku = 0; ku < widths.size(); ++ku) {
    if (kzt_ring_bins(widths[ku], xps, yps) < 3) continue;
    one->radii[0] = again.radii[ku];
    kzt_find_store_rings(false, im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                         im.yendelm, im.data, mask, xps, yps, s.x_beam, s.y_beam, 1, widths[ku],
                         num_sections, false, &tilt, status, *one, true);
    if (status != kStatusGood) return false;
    const auto column = static_cast<std::ptrdiff_t>(ku * kMaxRingCoordinates);
    again.num_coordinates[ku] = one->num_coordinates[0];
    again.num_searched[ku] = one->num_searched[0];
    std::copy_n(one->x_coordinates.begin(), kMaxRingCoordinates,
                again.x_coordinates.begin() + column);
    std::copy_n(one->y_coordinates.begin(), kMaxRingCoordinates,
                again.y_coordinates.begin() + column);
    std::copy_n(one->azimuths.begin(), kMaxRingCoordinates, again.azimuths.begin() + column);
    std::copy_n(one->sections_searched.begin(), kMaxRingCoordinates,
                again.sections_searched.begin() + column);
  }
  return true;
}

// How strongly ring K of S shows in the sections of it that AGAIN searched,
// its annulus HALF_WIDTH (metres) either side of the cone: over each such
// section, the mean of the pixels of the annulus's middle third less the
// mean of its outer thirds (a flat or evenly sloping background gives 0),
// sampled at half a pixel along and across the ring; the mean of those
// excesses and its standard error. The error is infinite where fewer than
// six sections give both thirds.
struct RingStrength {
  double excess = 0.0, error = std::numeric_limits<double>::infinity();
};
RingStrength ring_strength(const GsDisplayedImage& im, const TiltSolution& s, int k,
                           double half_width, int num_sections, const KztComRings& again, float xps,
                           float yps) {
  const double pixel = 0.5 * (static_cast<double>(xps) + yps);
  const double tan_cone = std::tan(static_cast<double>(s.two_theta[static_cast<std::size_t>(k)]));
  const auto column = static_cast<std::size_t>(k) * static_cast<std::size_t>(kMaxRingCoordinates);
  const int steps_across = std::max(3, static_cast<int>(std::lround(half_width / (0.5 * pixel))));
  const double section = 2.0 * M_PI / num_sections;
  std::vector<double> excesses;
  for (int n = 0; n < num_sections && n < kMaxRingCoordinates; ++n) {
    if (again.sections_searched[column + static_cast<std::size_t>(n)] == 0) continue;
    const double middle_radius = cone_radius_along(s, tan_cone, std::cos((n + 0.5) * section),
                                                   std::sin((n + 0.5) * section));
    if (!std::isfinite(middle_radius)) continue;
    const int steps_along =
        std::clamp(static_cast<int>(std::ceil(middle_radius * section / (0.5 * pixel))), 1, 512);
    double sums[2] = {0.0, 0.0};
    Index counts[2] = {0, 0};
    for (int a = 0; a < steps_along; ++a) {
      const double azimuth = (n + (a + 0.5) / steps_along) * section;
      const double ca = std::cos(azimuth), sa = std::sin(azimuth);
      const double radius = cone_radius_along(s, tan_cone, ca, sa);
      if (!std::isfinite(radius)) continue;
      for (int b = -steps_across; b <= steps_across; ++b) {
        const double across = static_cast<double>(std::abs(b)) / steps_across;
        const int band = across <= 1.0 / 3.0 ? 0 : across >= 2.0 / 3.0 ? 1 : -1;
        if (band < 0) continue;
        const double r = radius + b * half_width / steps_across;
        const auto i = static_cast<Index>(std::floor((s.x_beam + r * ca) / xps)) + 1;
        const auto j = static_cast<Index>(std::floor((s.y_beam + r * sa) / yps)) + 1;
        if (i < im.xstrelm || i > im.xendelm || j < im.ystrelm || j > im.yendelm) continue;
        const auto at = static_cast<std::size_t>((j - 1) * im.xmaxdat + (i - 1));
        if (im.mask_data && !im.mask.empty() && im.mask[at] != 0) continue;
        const double value = im.data[at];
        if (!std::isfinite(value)) continue;
        sums[band] += value;
        ++counts[band];
      }
    }
    if (counts[0] >= 3 && counts[1] >= 3)
      excesses.push_back(sums[0] / static_cast<double>(counts[0]) -
                         sums[1] / static_cast<double>(counts[1]));
  }
  RingStrength strength;
  const auto m = static_cast<double>(excesses.size());
  if (excesses.size() < 6) return strength;
  double sum = 0.0;
  for (double e : excesses) sum += e;
  strength.excess = sum / m;
  double squares = 0.0;
  for (double e : excesses) squares += (e - strength.excess) * (e - strength.excess);
  strength.error = std::sqrt(squares / (m - 1.0) / m);
  return strength;
}

// The rings of S (cone angles known) that the image does not hold
// (RingFollowing's ring_missing): found in at most a third of their
// sections searched, and showing less than a hundredth of the excess of
// the weaker of the nearest rings found in two thirds of theirs, one on
// each side (where there are), even at three standard errors above what
// they show. A weak ring of a right calibrant shows well above that; a
// ring of another calibrant's list shows the background.
void find_missing_rings(const GsDisplayedImage& im, const TiltSolution& s, int num_rings,
                        std::span<const float> widths, int num_sections, const KztComRings& again,
                        float xps, float yps, RingFollowing& f) {
  constexpr double kShare = 0.01, kErrors = 3.0;
  const int rings = std::min<int>(num_rings, static_cast<int>(f.ring_missing.size()));
  auto found_in = [&](int k, int parts, int of) {
    const auto ku = static_cast<std::size_t>(k);
    return f.ring_searched[ku] >= 6 && of * f.ring_found[ku] >= parts * f.ring_searched[ku];
  };
  std::vector<RingStrength> strengths(static_cast<std::size_t>(rings));
  std::vector<char> measured(static_cast<std::size_t>(rings), 0);
  auto strength = [&](int k) {
    const auto ku = static_cast<std::size_t>(k);
    if (measured[ku] == 0)
      strengths[ku] = ring_strength(im, s, k, widths[ku], num_sections, again, xps, yps);
    measured[ku] = 1;
    return strengths[ku];
  };
  for (int k = 0; k < rings; ++k) {
    const auto ku = static_cast<std::size_t>(k);
    if (!(f.ring_searched[ku] >= 6 && 3 * f.ring_found[ku] <= f.ring_searched[ku])) continue;
    double reference = std::numeric_limits<double>::infinity();
    for (const int step : {-1, 1}) {
      int j = k + step;
      while (j >= 0 && j < rings && !found_in(j, 2, 3)) j += step;
      if (j < 0 || j >= rings) continue;
      const RingStrength r = strength(j);
      if (r.excess - kErrors * r.error > 0.0) reference = std::min(reference, r.excess);
    }
    if (!std::isfinite(reference)) continue;
    const RingStrength here = strength(k);
    f.ring_missing[ku] = here.excess + kErrors * here.error < kShare * reference;
  }
}

// How the first ring's finds in AGAIN lie among its sections searched, in
// their circular order (RingFollowing's first_runs and first_gap).
void first_ring_pattern(const KztComRings& again, int num_sections, RingFollowing& f) {
  const auto nsec = static_cast<std::size_t>(std::clamp<Index>(num_sections, 1, kMaxRingCoordinates));
  std::vector<char> found(nsec, 0);
  const double section = 2.0 * M_PI / static_cast<double>(nsec);
  const Index count = std::clamp<Index>(again.num_coordinates[0], 0, kMaxRingCoordinates);
  for (Index n = 0; n < count; ++n)
    found[std::min(static_cast<std::size_t>(std::max(
                       again.azimuths[static_cast<std::size_t>(n)] / section, 0.0)),
                   nsec - 1)] = 1;
  std::vector<char> order;  // found or not, section by section searched
  for (std::size_t k = 0; k < nsec; ++k)
    if (again.sections_searched[k] != 0) order.push_back(found[k]);
  const auto start = std::find(order.begin(), order.end(), 0);
  if (start == order.end()) {
    f.first_runs = order.empty() ? 0 : 1;
    return;
  }
  // From a section where the ring was not found, once round.
  std::rotate(order.begin(), start, order.end());
  int gap = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (order[k] != 0) {
      if (k > 0 && order[k - 1] == 0) ++f.first_runs;
      gap = 0;
    } else {
      f.first_gap = std::max(f.first_gap, ++gap);
    }
  }
}

// The sums of the offsets of the points found in AGAIN from the rings of S
// (metres) and of their derivatives: the normal equations of a change of
// centre and tilt, each ring's cone angle eliminated, each ring's sums for
// its mean offset after the change, and the points themselves.
struct FollowingSums {
  NormalEquations<4> e;  // squares less what each ring's cone angle takes
  // The same with a change of the distance as a fifth parameter: what a
  // refined distance can take up of a change of centre or tilt.
  NormalEquations<5> with_distance;
  double raw_squares = 0.0;
  std::array<double, 15> ring_sums{};
  std::array<std::array<double, 4>, 15> ring_derivatives{};
  std::array<int, 15> ring_counts{};
  std::vector<FollowedPoint> found;
};

FollowingSums following_sums(const TiltSolution& s, int num_rings, const KztComRings& again,
                             RingFollowing& f) {
  FollowingSums m;
  for (int k = 0; k < num_rings; ++k) {
    const auto ku = static_cast<std::size_t>(k);
    const std::size_t column = ku * static_cast<std::size_t>(kMaxRingCoordinates);
    const int count = std::clamp<int>(again.num_coordinates[ku], 0, kMaxRingCoordinates);
    f.found += count;
    f.searched += again.num_searched[ku];
    if (ku < f.ring_found.size()) {
      f.ring_found[ku] = count;
      f.ring_searched[ku] = again.num_searched[ku];
    }
    // Sums with the derivative along the cone angle, G; columns: centre,
    // tilt, distance.
    NormalEquations<5>& e = m.with_distance;
    double gg = 0.0, go = 0.0;
    std::array<double, 5> gd{};
    for (int n = 0; n < count; ++n) {
      const std::size_t at = column + static_cast<std::size_t>(n);
      FollowedPoint p = cone_offset(s, k, again.x_coordinates[at], again.y_coordinates[at]);
      p.azimuth = again.azimuths[at];
      const double offset = p.offset;
      const std::array<double, 5> d = {p.d[0], p.d[1], p.d[2], p.d[3], p.d[5]};
      // The change wanted makes OFFSET + D . CHANGE small.
      for (std::size_t i = 0; i < 5; ++i) {
        for (std::size_t j = 0; j < 5; ++j) e.normal[i][j] += d[i] * d[j];
        e.right[i] -= d[i] * offset;
        gd[i] += p.d[4] * d[i];
      }
      gg += p.d[4] * p.d[4];
      go -= p.d[4] * offset;
      m.found.push_back(p);
      e.squares += offset * offset;
      m.raw_squares += offset * offset;
      if (ku < m.ring_sums.size()) {
        m.ring_sums[ku] += offset;
        for (std::size_t i = 0; i < 4; ++i) m.ring_derivatives[ku][i] += d[i];
      }
    }
    if (ku < m.ring_counts.size()) m.ring_counts[ku] = count;
    e.points += count;
    if (gg > 0.0) {
      e.squares -= go * go / gg;
      for (std::size_t i = 0; i < 5; ++i) {
        for (std::size_t j = 0; j < 5; ++j) e.normal[i][j] -= gd[i] * gd[j] / gg;
        e.right[i] -= gd[i] * go / gg;
      }
    }
  }
  // The change of centre and tilt alone: the distance's column left out.
  const NormalEquations<5>& e = m.with_distance;
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::size_t j = 0; j < 4; ++j) m.e.normal[i][j] = e.normal[i][j];
    m.e.right[i] = e.right[i];
  }
  m.e.squares = e.squares;
  m.e.points = e.points;
  return m;
}

// The offset of P once CHANGE of centre, tilt and distance (in the order
// of FollowingSums::with_distance) is made.
double offset_after(const FollowedPoint& p, const std::array<double, 5>& change) {
  double r = p.offset;
  for (std::size_t i = 0; i < 4; ++i) r += p.d[i] * change[i];
  return r + p.d[5] * change[4];
}

// The offsets of POINTS (ring after ring) once CHANGE of centre, tilt and
// distance is made and each ring's cone angle then meets its points KEPT
// (all where KEPT is empty) best.
std::vector<double> residuals_after(const std::vector<FollowedPoint>& points,
                                    const std::array<double, 5>& change,
                                    std::span<const char> kept = {}) {
  std::vector<double> r(points.size());
  for (std::size_t n = 0; n < points.size(); ++n) r[n] = offset_after(points[n], change);
  for (std::size_t first = 0; first < points.size();) {
    std::size_t end = first;
    double gg = 0.0, gr = 0.0;
    for (; end < points.size() && points[end].ring == points[first].ring; ++end) {
      if (!kept.empty() && kept[end] == 0) continue;
      gg += points[end].d[4] * points[end].d[4];
      gr += points[end].d[4] * r[end];
    }
    const double turn = gg > 0.0 ? -gr / gg : 0.0;
    for (std::size_t n = first; n < end; ++n) r[n] += points[n].d[4] * turn;
    first = end;
  }
  return r;
}

// The rings whose points KEPT lie off their fitted cone once CHANGE of
// centre and tilt is made (RingFollowing's ring_off, ring_off_by): by more
// than LIMITS' ring_off (in PIXEL units) on the mean and by more than three
// standard errors of that mean. The change fits each cone's angle to what
// was found, so a cone that the fit put off its ring (on a few points cut
// by the detector's edge, say) leaves nothing in the rms the other checks
// judge; its mean offset tells it. A ring found in fewer than five
// sections is not judged.
void mark_rings_off_cones(const std::vector<FollowedPoint>& points, std::span<const char> kept,
                          const std::array<double, 5>& change, double pixel,
                          const FollowingLimits& limits, RingFollowing& f) {
  for (std::size_t first = 0; first < points.size();) {
    std::size_t end = first;
    double sum = 0.0, squares = 0.0;
    int count = 0;
    for (; end < points.size() && points[end].ring == points[first].ring; ++end) {
      if (kept[end] == 0) continue;
      const double r = offset_after(points[end], change);
      sum += r;
      squares += r * r;
      ++count;
    }
    const auto k = static_cast<std::size_t>(points[first].ring);
    first = end;
    if (count < 5 || k >= f.ring_off.size()) continue;
    const double mean = sum / count;
    const double spread = std::sqrt(std::max(squares / count - mean * mean, 0.0) / (count - 1));
    f.ring_off_by[k] = mean;
    f.ring_off[k] = std::abs(mean) > limits.ring_off * pixel && std::abs(mean) > 3.0 * spread;
  }
}

// The rms offset (metres) from its fitted cone of the points KEPT on ring
// RING, as found (no change made); 0 for a ring of fewer than five.
double ring_rms_offset(const std::vector<FollowedPoint>& points, std::span<const char> kept,
                       int ring) {
  double squares = 0.0;
  int count = 0;
  for (std::size_t n = 0; n < points.size(); ++n) {
    if (kept[n] == 0 || points[n].ring != ring) continue;
    squares += points[n].offset * points[n].offset;
    ++count;
  }
  return count >= 5 ? std::sqrt(squares / count) : 0.0;
}

// The normal equations of FollowingSums::with_distance from the points KEPT
// alone.
NormalEquations<5> kept_equations(const std::vector<FollowedPoint>& points,
                                  std::span<const char> kept) {
  NormalEquations<5> e;
  for (std::size_t first = 0; first < points.size();) {
    std::size_t end = first;
    double gg = 0.0, go = 0.0;
    std::array<double, 5> gd{};
    for (; end < points.size() && points[end].ring == points[first].ring; ++end) {
      if (kept[end] == 0) continue;
      const FollowedPoint& p = points[end];
      const std::array<double, 5> d = {p.d[0], p.d[1], p.d[2], p.d[3], p.d[5]};
      for (std::size_t i = 0; i < 5; ++i) {
        for (std::size_t j = 0; j < 5; ++j) e.normal[i][j] += d[i] * d[j];
        e.right[i] -= d[i] * p.offset;
        gd[i] += p.d[4] * d[i];
      }
      gg += p.d[4] * p.d[4];
      go -= p.d[4] * p.offset;
      e.squares += p.offset * p.offset;
      ++e.points;
    }
    if (gg > 0.0) {
      e.squares -= go * go / gg;
      for (std::size_t i = 0; i < 5; ++i) {
        for (std::size_t j = 0; j < 5; ++j) e.normal[i][j] -= gd[i] * gd[j] / gg;
        e.right[i] -= gd[i] * go / gg;
      }
    }
    first = end;
  }
  return e;
}

// The change of centre and tilt alone: E's distance column left out.
NormalEquations<4> without_distance(const NormalEquations<5>& e) {
  NormalEquations<4> four;
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::size_t j = 0; j < 4; ++j) four.normal[i][j] = e.normal[i][j];
    four.right[i] = e.right[i];
  }
  four.squares = e.squares;
  four.points = e.points;
  return four;
}

// The points of POINTS kept after CHANGE: those within four times the
// spread of the residuals RESIDUALS of the points KEPT before (at least a
// quarter of a pixel, PIXEL). A spotty ring's annulus that holds a
// crystallite of a neighbouring ring in one section pulls the change by
// pixels; a few such points are left out, as the calibrant's check leaves
// them out. False when the points kept are as they were.
bool keep_agreeing(std::span<const double> residuals, double pixel, std::vector<char>& kept) {
  std::vector<double> spread;
  for (std::size_t n = 0; n < residuals.size(); ++n)
    if (kept[n] != 0) spread.push_back(std::abs(residuals[n]));
  if (spread.empty()) return false;
  const auto middle = spread.begin() + static_cast<std::ptrdiff_t>(spread.size() / 2);
  std::nth_element(spread.begin(), middle, spread.end());
  const double limit = std::max(4.0 * 1.4826 * *middle, 0.25 * pixel);
  bool changed = false;
  for (std::size_t n = 0; n < residuals.size(); ++n) {
    const char keep = std::abs(residuals[n]) <= limit ? 1 : 0;
    changed = changed || keep != kept[n];
    kept[n] = keep;
  }
  return changed;
}

// The rings of POINTS with at least LEAST points KEPT.
int rings_with_points(const std::vector<FollowedPoint>& points, std::span<const char> kept,
                      int least) {
  std::array<int, kMaxRings> counts{};
  for (std::size_t n = 0; n < points.size(); ++n)
    if (kept[n] != 0 && points[n].ring >= 0 && points[n].ring < kMaxRings)
      ++counts[static_cast<std::size_t>(points[n].ring)];
  return static_cast<int>(
      std::count_if(counts.begin(), counts.end(), [&](int c) { return c >= least; }));
}

}  // namespace

// Each ring of solution S searched again, its annulus following the fitted
// cone about the fitted centre, into a store of its own (the fit's points
// stay as they are). The radial offsets of what was found from the fitted
// rings are then fitted, linearised, by a change of the centre, of the
// tilt (as a vector, so that no tilt is no special case) and of each
// ring's cone angle: the change of centre and tilt they ask for, and the
// rms offset that change leaves.
RingFollowing kzt_follow_rings(const GsDisplayedImage& im, const TiltSolution& s, float xps,
                               float yps, int num_rings, float half_width, int num_sections,
                               Status& status, const RingNeighbours* neighbours,
                               const RefinedParameters& refined) {
  RingFollowing f;
  const auto again = std::make_unique<KztComRings>();
  if (!search_again(im, s, xps, yps, num_rings, half_width, num_sections, neighbours, *again,
                    status))
    return f;
  first_ring_pattern(*again, num_sections, f);
  const FollowingSums m = following_sums(s, num_rings, *again, f);
  if (m.e.points > 0) f.off_cones = std::sqrt(m.raw_squares / static_cast<double>(m.e.points));
  const FollowingLimits limits;
  const ChangeScale& scale = kChangeScale;
  const double pixel = 0.5 * (static_cast<double>(xps) + yps);
  const double centre_unit = scale.centre * pixel, tilt_unit = scale.tilt / kDegreesPerRadian;
  const std::array<bool, 4> held = {!refined.beam, !refined.beam, !refined.tilt, !refined.tilt};
  std::array<double, 4> change{};
  std::array<bool, 4> seen{};
  NormalEquations<5> with_distance = m.with_distance;
  NormalEquations<4> e = m.e;
  std::vector<char> kept(m.found.size(), 1);
  // Where the points found tell no change of centre and tilt (a ring
  // found only along a short stretch, or nowhere), none is made: the rings
  // are still judged by their own offsets from the fitted cones below.
  bool solved = false;
  for (int pass = 0; pass < 3; ++pass) {
    solved = e.points > 0 && solve_seen(e, {centre_unit, centre_unit, tilt_unit, tilt_unit},
                                        telling_order<4>({0, 1, 2, 3}, held),
                                        kLeastTold * pixel, change, seen);
    if (!solved) {
      change.fill(0.0);
      seen.fill(false);
      break;
    }
    if (pass == 2 ||
        !keep_agreeing(residuals_after(m.found, {change[0], change[1], change[2], change[3], 0.0},
                                       kept),
                       pixel, kept))
      break;
    with_distance = kept_equations(m.found, kept);
    e = without_distance(with_distance);
  }
  // A distance that is off (held by the fit, or reached along with a
  // wrong tilt) bends each ring's conic as a tilt does, and the fit takes
  // a tilt and centre off to meet the rings; with each cone's angle free a
  // change of centre and tilt alone then asks for nothing. Two rings or
  // more tell the distance from the cone angles: where the change alone
  // stays within the check's scale but their shapes ask for another
  // distance clearly (as solve_seen takes a parameter it cannot tell by its
  // scale), the change is the one made with it. (A change already beyond
  // the scale is told as it is: far off, the distance the linearised change
  // asks for says little. A ring off its cone is judged at the solution's
  // distance: a change of distance moves each ring as its cone angle
  // would.)
  const std::array<double, 5> at_distance = {change[0], change[1], change[2], change[3], 0.0};
  std::array<double, 5> change5 = at_distance;
  NormalEquations<4> judged = e;
  const bool within = std::hypot(change[0], change[1]) / xps <= scale.centre &&
                      std::hypot(change[2], change[3]) * kDegreesPerRadian <= scale.tilt;
  if (solved && within && rings_with_points(m.found, kept, 5) >= 2) {
    constexpr double kDistanceUnit = 1.0e-3;  // of the distance
    std::array<double, 5> with{};
    std::array<bool, 5> told{};
    if (solve_seen(with_distance,
                   {centre_unit, centre_unit, tilt_unit, tilt_unit, kDistanceUnit * s.distance},
                   telling_order<5>({0, 1, 2, 3, 4}, {held[0], held[1], held[2], held[3], true}),
                   kLeastTold * pixel, with, told) &&
        told[4]) {
      change5 = with;
      std::copy_n(with.begin(), 4, change.begin());
      std::copy_n(told.begin(), 4, seen.begin());
      f.distance_move = with[4];
      judged.squares = with_distance.squares - with_distance.right[4] * with[4];
    }
  }
  // The distance is in the change only as what it can take up.
  std::array<bool, 5> traded = {seen[0], seen[1], seen[2], seen[3], false};
  unsee_traded(with_distance, {centre_unit, centre_unit, tilt_unit, tilt_unit, 1.0},
               {refined.beam, refined.beam, refined.tilt, refined.tilt, refined.distance},
               kLeastTold * pixel, traded);
  std::copy_n(traded.begin(), 4, seen.begin());
  for (std::size_t k = 0; k < m.ring_sums.size(); ++k) {
    if (m.ring_counts[k] < 5) continue;
    double sum = m.ring_sums[k];
    for (std::size_t i = 0; i < 4; ++i) sum += m.ring_derivatives[k][i] * change[i];
    f.ring_offsets[k] = sum / m.ring_counts[k];
  }
  mark_rings_off_cones(m.found, kept, at_distance, pixel, limits, f);
  double squares = judged.squares;
  for (std::size_t i = 0; i < 4; ++i) squares -= judged.right[i] * change[i];
  f.noise =
      successive_scatter(m.found, residuals_after(m.found, change5, kept), kept, num_sections);
  if (neighbours != nullptr && neighbours->cones_known) {
    judge_calibrant(im, s, num_rings, m.found, xps, yps, num_sections, refined, f);
    find_missing_rings(im, s, num_rings,
                       apart_widths(s, num_rings, half_width, num_sections, neighbours->two_theta),
                       num_sections, *again, xps, yps, f);
  }
  f.determined = solved;
  f.centre_tilt_fixed = solved && centre_tilt_fixed(s.fit, seen, refined);
  // A ring is off where it lies more than a calibrant's ring may from
  // where the image shows it somewhere on the image (its cone's mean offset
  // and the change of centre and tilt the rings ask for, together), whether
  // or not the rings fix that change: a centre held off, or rings too few,
  // leave the change unjudged, not the ring. A ring cut by the detector's
  // edge may be off along that stretch alone, which its mean offset does
  // not say. Where the rings fix the centre and tilt, a cone off its ring
  // may have taken up part of their error (within their limits): the
  // solution then puts the ring nearer the image's ring than its mean
  // offset says, and that distance alone judges it. Where they do not, the
  // change the points tell misses what they cannot tell, and the mean
  // offset still judges the ring.
  const std::vector<char> all(m.found.size(), 1);
  for (std::size_t k = 0; k < f.ring_off.size() && k < static_cast<std::size_t>(num_rings); ++k) {
    // A ring whose points the change left out, most of them (each far
    // from its cone, as a whole ring off its cone lies beside the rings
    // that fix the change), is judged by its points as found: they are
    // the ring, not a neighbour's crystallites.
    const int ring = static_cast<int>(k);
    const auto found_on = static_cast<int>(std::count_if(
        m.found.begin(), m.found.end(), [&](const FollowedPoint& p) { return p.ring == ring; }));
    int kept_on = 0;
    for (std::size_t n = 0; n < m.found.size(); ++n)
      if (kept[n] != 0 && m.found[n].ring == ring) ++kept_on;
    if (found_on >= 5 && 2 * kept_on < found_on) {
      const double as_found = ring_rms_offset(m.found, all, ring);
      if (as_found > limits.ring * pixel && as_found > 3.0 * f.noise) {
        f.ring_off[k] = true;
        f.ring_apart[k] = as_found;
        continue;
      }
    }
    if (f.ring_off_by[k] == 0.0) continue;
    f.ring_apart[k] = largest_along_ring(im, s, static_cast<int>(k), xps, yps,
                                         [&](const FollowedPoint& p) {
                                           double at = f.ring_off_by[k];
                                           for (std::size_t i = 0; i < 4; ++i)
                                             at -= p.d[i] * at_distance[i];
                                           return at;
                                         });
    bool apart = solved && f.ring_apart[k] > limits.ring * pixel;
    // The ring's mean offset judges it where it stands clear of the
    // points' scatter; a cone that crosses the ring along the stretch
    // found (or, its shape off, round it) leaves that mean near 0, but its
    // points lie off the cone on either side, far beyond their own
    // scatter, whatever change of centre and tilt they tell.
    const double rms = ring_rms_offset(m.found, kept, ring);
    if (rms > limits.ring * pixel && rms > 3.0 * f.noise) {
      apart = true;
      f.ring_apart[k] = std::max(f.ring_apart[k], rms);
    }
    f.ring_off[k] = apart || (f.ring_off[k] && !f.centre_tilt_fixed);
  }
  f.centre_move = std::hypot(change[0], change[1]);
  f.tilt_move = std::hypot(change[2], change[3]);
  f.scatter = e.points > 0
                  ? std::sqrt(std::max(squares, 0.0) / static_cast<double>(e.points))
                  : 0.0;
  return f;
}

namespace {

// Whether the first ring was met round the ring (see kzt_rings_followed):
// in two thirds of its sections searched or more, or, for the crystallites
// of a coarse powder, in fewer but spread round them as finds placed by
// chance would be: in at least half as many separate runs as chance
// gives (and at least five), with no run of sections between finds
// longer than chance leaves in one such ring of a hundred. A ring the
// solution misses is found only where its cone crosses it: in one or two
// runs, with half the ring between.
bool first_ring_met(const RingFollowing& f) {
  const int n = f.ring_searched[0], m = f.ring_found[0];
  if (n == 0 || 3 * m >= 2 * n) return true;
  if (m < 5) return false;
  const double found = static_cast<double>(m) / n;
  const double runs = static_cast<double>(m) * (n - m) / std::max(n - 1, 1);
  const double gap = std::log(100.0 * m) / -std::log(1.0 - found);
  return f.first_runs >= std::max(5.0, 0.5 * runs) && f.first_gap <= gap;
}

}  // namespace



bool kzt_first_ring_met(const RingFollowing& f) { return first_ring_met(f); }

bool kzt_rings_lie_off_cones(double rms, double noise, float xps) {
  // Over the checkers' sets and the sweeps, right results leave offsets
  // within five times the points' own scatter, and all below a tenth of a
  // pixel, the scatter of clear rings.
  constexpr double kAboveNoise = 5.0;
  return rms > kLeastTold * xps && rms > kAboveNoise * noise;
}

std::string off_cones_line(double rms, double noise, float xps) {
  return "         (the rings found lie off the fitted cones: " + fixed_text(rms / xps, 2) +
         " pixels rms, " +
         format_i(static_cast<int>(std::lround(std::min(rms / noise, 1.0e6))), 0) +
         " times their own scatter)";
}

bool kzt_centre_tilt_move_told(bool centre_tilt_fixed, double off_cones, float xps) {
  // (A NaN offset tells.)
  return centre_tilt_fixed || !(off_cones <= kLeastTold * xps);
}

namespace {

bool centre_tilt_move_told(const RingFollowing& f, float xps) {
  return kzt_centre_tilt_move_told(f.centre_tilt_fixed, f.off_cones, xps);
}

bool ring_off_cone(const RingFollowing& f) {
  return std::any_of(f.ring_off.begin(), f.ring_off.end(), [](bool off) { return off; });
}

}  // namespace

bool kzt_points_on_usable_pixels(const GsDisplayedImage& im, std::span<const float> x,
                                 std::span<const float> y, float xps, float yps) {
  const std::size_t n = std::min(x.size(), y.size());
  if (n == 0 || !(xps > 0.0f) || !(yps > 0.0f)) return false;
  std::size_t usable = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double fi = std::floor(static_cast<double>(x[k]) / xps) + 1.0;
    const double fj = std::floor(static_cast<double>(y[k]) / yps) + 1.0;
    if (!(fi >= static_cast<double>(im.xstrelm) && fi <= static_cast<double>(im.xendelm) &&
          fj >= static_cast<double>(im.ystrelm) && fj <= static_cast<double>(im.yendelm)))
      continue;
    const auto at = static_cast<std::size_t>(
        element(static_cast<Index>(fi), static_cast<Index>(fj), im.xmaxdat));
    if (at >= im.data.size()) continue;
    if (im.mask_data && at < im.mask.size() && im.mask[at] != 0) continue;
    const float value = im.data[at];
    if (std::isfinite(value) && value != 0.0f) ++usable;
  }
  return 2 * usable > n;
}

bool kzt_rings_followed(const RingFollowing& f, float xps, const FollowingLimits& limits) {
  // The rings taken at their maxima give the change closely (a solution
  // 0.077 degree off asks for 0.070); the default limits say which change
  // makes a solution wrong (see FollowingLimits). What the change leaves
  // is held to the ring fit's own limit.
  const double centre = f.centre_move / xps;
  const double tilt = f.tilt_move * kDegreesPerRadian;
  const double scatter = f.scatter / xps;
  // Rings searched and found nowhere are not followed. Where no change can
  // be told from another, none is judged (said as a result that could not
  // be checked), but the rings found still lie on their fitted cones or
  // off them.
  if (f.searched > 0 && f.found == 0) return false;
  if (f.searched == 0 && f.first_ring_on_image) return false;
  if (!first_ring_met(f)) return false;
  // (A NaN is a change too.)
  const bool moved = f.determined && centre_tilt_move_told(f, xps) &&
                     !(centre <= limits.centre && tilt <= limits.tilt);
  return !moved && scatter <= limits.scatter &&
         !kzt_rings_lie_off_cones(f.scatter, f.noise, xps) && !ring_off_cone(f);
}

std::vector<std::string> kzt_rings_not_followed_warning(const RingFollowing& f, float xps,
                                                        const FollowingLimits& limits) {
  if (f.searched == 0 && f.first_ring_on_image)
    return {"WARNING: The fitted rings do not follow the image's rings: no section of them",
            "         lies whole on the image's usable pixels, though the first ring lies there"};
  if (f.searched == 0)
    return {"WARNING: The fitted rings could not be checked: no section of them lies",
            "         whole on the image's usable pixels"};
  if (kzt_rings_followed(f, xps, limits)) {
    if (f.determined && f.centre_tilt_fixed) return {};
    return {std::string(kCentreTiltUnchecked)};
  }
  // The change the offsets ask for is linearised about the fitted rings and
  // only sees rings found inside their annuli: far from the truth it falls
  // short of the error by any factor, so it is not given as one.
  std::vector<std::string> lines = {
      "WARNING: The fitted rings do not follow the image's rings: searched",
      "         along them, the rings were found in " + format_i(f.found, 0) + " of " +
          format_i(f.searched, 0) + " sections" + (f.found > 0 ? ", with" : "")};
  if (f.found == 0) return lines;
  lines.push_back("         " + fixed_text(f.scatter / xps, 2) + " pixels rms left");
  // Which of the checks failed, so that a warning with few pixels left does
  // not read as a contradiction.
  if (!first_ring_met(f))
    lines.push_back("         (the first ring was found in only " + format_i(f.ring_found[0], 0) +
                    " of its " + format_i(f.ring_searched[0], 0) + " sections)");
  else if (centre_tilt_move_told(f, xps) && (!(f.centre_move / xps <= limits.centre) ||
                                              !(f.tilt_move * kDegreesPerRadian <= limits.tilt)))
    lines.push_back(f.distance_move != 0.0
                        ? "         (the rings' shapes ask for another distance, centre or tilt)"
                        : "         (the rings found lie where another beam centre or tilt puts "
                          "them)");
  if (kzt_rings_lie_off_cones(f.scatter, f.noise, xps))
    lines.push_back(off_cones_line(f.scatter, f.noise, xps));
  // Each ring off by name, with its own distance: the rms left beside it
  // (0 where every cone's angle met its ring's points) does not tell it.
  // (With the limit that judged it: the largest distance, or the mean.)
  for (std::size_t k = 0; k < f.ring_off.size(); ++k) {
    if (!f.ring_off[k]) continue;
    const bool apart = f.ring_apart[k] / xps > limits.ring;
    const double limit = apart ? limits.ring : limits.ring_off;
    lines.push_back("         (ring " + format_i(static_cast<int>(k) + 1, 0) + " lies " +
                    over_limit_text((apart ? f.ring_apart[k] : std::abs(f.ring_off_by[k])) / xps,
                                    limit) +
                    " pixels from where the image shows it, over " + fixed_text(limit, 1) + ")");
  }
  return lines;
}

std::vector<std::string> kzt_tilt_solution_warning(const TiltSolution& s, float xps) {
  std::vector<std::string> lines = kzt_rings_not_followed_warning(s.following, xps);
  // The fit's residual counts a point in every section, also where a
  // coarse powder's ring holds no crystallite and the point lies on noise
  // anywhere in the annulus. Where the rings searched again (taken only
  // at a clear maximum) lie within a pixel rms of the fitted cones, a
  // residual above a pixel tells of those points, not of the geometry.
  const RingFollowing& f = s.following;
  const bool rings_met = f.found > 0 && f.off_cones <= static_cast<double>(xps);
  const std::string poor = rings_met ? std::string() : kzt_poor_ring_fit_warning(s.fit, xps);
  if (!poor.empty()) lines.insert(lines.begin(), poor);
  return lines;
}

bool kzt_warn_rings_not_followed(const RingFollowing& f, float xps, Status& status,
                                 const FollowingLimits& limits) {
  const std::vector<std::string> lines = kzt_rings_not_followed_warning(f, xps, limits);
  for (const std::string& line : lines) IO_WRITE(line, status);
  return !lines.empty();
}

// ---- The ring fit ----

void KZT_FUNPOWDER(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>, Index,
                   Index, Index, Index, void*, void*, void*, void*, int,
                   std::span<const float> params, Index, Index, bool, int& terminate,
                   std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUNPOWDER V0.1")) return;
  const KztComRings& r = vosq_kzt_comrings;
  std::size_t out = 0;
  for (int k = 0; k < vosq_kzt_controlpowder.num_rings; ++k) {
    const TiltedCone cone(params[0], params[1], params[2], params[3], params[4],
                          std::tan(static_cast<double>(params[5 + k])));
    const auto column = static_cast<std::size_t>(k) * kMaxRingCoordinates;
    for (int n = 0; n < r.num_coordinates[static_cast<std::size_t>(k)]; ++n) {
      model[out++] = static_cast<float>(
          cone.residual(r.x_coordinates[column + n], r.y_coordinates[column + n]));
    }
  }
  terminate = 0;
}

void KZT_LSQPOWDER(bool info, int max_rings, int num_rings, bool refine_beam, bool refine_distance,
                   bool refine_tilt, float& sample_distance, float& x_beam, float& y_beam,
                   std::span<float> two_theta, float& tilt_rotation, float& tilt_angle,
                   float& sigma, Status& status, RingFitResidual* fit) {
  constexpr const char* kName = "Subroutine KZT_LSQPOWDER V0.1";
  if (st_bad(status, kName)) return;
  if (max_rings < 1) return st_fail(status, kBaseApp + 1, kName);
  if (num_rings < 1 || num_rings > std::min(max_rings, kMaxRings) ||
      two_theta.size() < static_cast<std::size_t>(num_rings))
    return st_fail(status, kBaseApp + 5, kName);
  vosq_kzt_controlpowder.num_rings = num_rings;
  vosq_kzt_controlpowder.weighted = false;
  Index num_points = 0;
  for (int k = 0; k < num_rings; ++k)
    num_points += vosq_kzt_comrings.num_coordinates[static_cast<std::size_t>(k)];
  if (num_points == 0) {
    IO_WRITE("ERROR: There are no coordinates to fit !", status);
    return st_fail(status, kBaseApp + 9999, kName);
  }
  const int num_parameters = num_rings + 5;
  std::array<float, kMaxParameters> p{};
  std::array<bool, kMaxParameters> fixed{};
  std::array<float, kMaxParameters> scales{};
  p[0] = x_beam;
  p[1] = y_beam;
  p[2] = sample_distance;
  p[3] = tilt_rotation;
  p[4] = tilt_angle;
  const float base_scales[5] = {0.0005f, 0.0005f, 0.001f, 0.35f, 0.01f};
  for (int k = 0; k < 5; ++k) scales[static_cast<std::size_t>(k)] = base_scales[k];
  for (int k = 0; k < num_rings; ++k) {
    p[static_cast<std::size_t>(5 + k)] = two_theta[static_cast<std::size_t>(k)];
    scales[static_cast<std::size_t>(5 + k)] = 0.005f;
  }
  fixed[0] = fixed[1] = !refine_beam;
  fixed[2] = !refine_distance;
  fixed[3] = fixed[4] = !refine_tilt;
  const std::vector<float> data(static_cast<std::size_t>(num_points), 0.0f);
  std::vector<float> model(static_cast<std::size_t>(num_points), 0.0f);
  const auto n = static_cast<std::size_t>(num_parameters);
  int end_code = 0, calls = 0, total_calls = 0;
  float sum_squares = 0.0f;
  for (int pass = 0; pass < 2 && status == kStatusGood; ++pass) {
    MA_MODELFIT(info ? 2 : 0, KZT_FUNPOWDER, false, false, false, num_points, 1, data, {}, {}, 1, 1,
                num_points, 1, 1, 300, 1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr,
                num_parameters, std::span<const bool>(fixed.data(), n),
                std::span<const float>(scales.data(), n), num_points, 1, false,
                std::span<float>(p.data(), n), model, end_code, calls, sum_squares, status);
    total_calls += calls;
    if (end_code > 0 && status == kStatusGood)
      IO_WRITE("WARNING: Problem fitting the powder pattern", status);
  }
  if (status != kStatusGood) return;
  x_beam = p[0];
  y_beam = p[1];
  sample_distance = p[2];
  tilt_rotation = p[3];
  tilt_angle = p[4];
  for (int k = 0; k < num_rings; ++k)
    two_theta[static_cast<std::size_t>(k)] = p[static_cast<std::size_t>(5 + k)];
  if (fit != nullptr)
    *fit = {static_cast<double>(sum_squares), num_points, kzt_store_rings_held(num_rings)};
  IO_WRITE("INFO: Number of function calls = " + format_i(total_calls, 8), status);
  IO_WRITE("INFO: Sum of squares = " + format_g(sum_squares, 14, 5), status);
  if (!(sum_squares > 0.0f)) {
    sigma = 0.0f;
  } else if (num_points <= num_parameters) {
    sigma = kUndetermined;
  } else {
    sigma = std::sqrt(sum_squares / static_cast<float>(num_points - num_parameters));
  }
}

void kzt_wrap_whole_turns(float& tilt_rotation) {
  if (!std::isfinite(tilt_rotation)) return;
  tilt_rotation = static_cast<float>(std::fmod(static_cast<double>(tilt_rotation), 6.283185));
  while (std::fabs(tilt_rotation) > kHalfTurn)
    tilt_rotation += tilt_rotation <= kHalfTurn ? 6.283185f : -6.283185f;
}

void kzt_wrap_half_turns(float& tilt_rotation, float& tilt_angle) {
  if (!std::isfinite(tilt_rotation)) return;
  // However many half turns are needed, each one reverses the tilt.
  double rotation = tilt_rotation;
  double turns = 0.0;
  if (rotation > kHalfTurn) turns = -std::ceil((rotation - kHalfTurn) / kHalfTurn);
  if (rotation < -kHalfTurn) turns = std::ceil((-kHalfTurn - rotation) / kHalfTurn);
  tilt_rotation = static_cast<float>(rotation + turns * kHalfTurn);
  if (std::fmod(std::fabs(turns), 2.0) == 1.0) tilt_angle = -tilt_angle;
}

void KZT_FITPOWDER(bool info, int max_rings, int num_rings, bool reject_outliers,
                   float reject_limit, bool refine_beam, bool refine_distance, bool refine_tilt,
                   float& sample_distance, float& x_beam, float& y_beam, std::span<float> two_theta,
                   float& tilt_rotation, float& tilt_angle, float& sigma, Status& status,
                   RingFitResidual* fit) {
  constexpr const char* kName = "Subroutine KZT_FITPOWDER V0.1";
  if (st_bad(status, kName)) return;
  if (max_rings < 1) return st_fail(status, kBaseApp + 1, kName);
  KZT_LSQPOWDER(info, max_rings, num_rings, refine_beam, refine_distance, refine_tilt,
                sample_distance, x_beam, y_beam, two_theta, tilt_rotation, tilt_angle, sigma,
                status, fit);
  if (!reject_outliers || status != kStatusGood) return;
  KZT_RINGOUTLIERS(info, max_rings, num_rings, sample_distance, x_beam, y_beam, two_theta,
                   tilt_rotation, tilt_angle, sigma, reject_limit, status);
  KZT_LSQPOWDER(info, max_rings, num_rings, refine_beam, refine_distance, refine_tilt,
                sample_distance, x_beam, y_beam, two_theta, tilt_rotation, tilt_angle, sigma,
                status, fit);
  kzt_wrap_whole_turns(tilt_rotation);
}

// ---- Reports ----

void KZT_TILTINFO(float xps, float yps, Index num_coordinates, float x_centre, float y_centre,
                  float radius_1, float radius_2, float angle, float error, Status& status) {
  if (st_bad(status, "Subroutine KZT_TILTINFO V0.1")) return;
  IO_WRITE("INFO: Number of coordinates = " + format_i(num_coordinates, 3), status);
  IO_WRITE(
      "INFO: Best fit ellipse centre (X/Y mm) = " + g14(x_centre * 1000.0) + g14(y_centre * 1000.0),
      status);
  IO_WRITE(
      "INFO: Best fit ellipse centre (X/Y pixels) = " + g14(x_centre / xps) + g14(y_centre / yps),
      status);
  IO_WRITE(
      "INFO: Best fit radius 1, radius 2 (mm) = " + g14(radius_1 * 1000.0) + g14(radius_2 * 1000.0),
      status);
  IO_WRITE("INFO: Best fit radius 1 (X pixels) = " + g14(radius_1 / xps), status);
  IO_WRITE("INFO: Best fit radius 2 (Y pixels) = " + g14(radius_2 / yps), status);
  IO_WRITE("INFO: Best fit angle of axis 1 (degrees) = " + g14(angle * kDegreesPerRadian), status);
  kzt_radial_error_lines(num_coordinates, 6, error, xps, status);
}

void KZT_TILT2INFO(float xps, float yps, int num_rings, float x_beam, float y_beam,
                   std::span<const float> two_theta, float tilt_rotation, float tilt_angle,
                   float error, Status& status) {
  if (st_bad(status, "Subroutine KZT_TILT2INFO V0.1")) return;
  IO_WRITE("INFO: Best fit beam centre (X/Y mm) = " + g14(x_beam * 1000.0) + g14(y_beam * 1000.0),
           status);
  IO_WRITE("INFO: Best fit beam centre (X/Y pixels) = " + g14(x_beam / xps) + g14(y_beam / yps),
           status);
  for (int k = 0; k < num_rings && static_cast<std::size_t>(k) < two_theta.size(); ++k) {
    IO_WRITE("INFO: Cone " + format_i(k + 1, 2) + " best fit 2 theta angle (degrees) = " +
                 g14(two_theta[static_cast<std::size_t>(k)] * kDegreesPerRadian),
             status);
  }
  IO_WRITE("INFO: Best fit angle of tilt plane rotation (degrees) = " +
               g14(tilt_rotation * kDegreesPerRadian),
           status);
  IO_WRITE("INFO: Best fit angle of tilt (degrees) = " + g14(tilt_angle * kDegreesPerRadian),
           status);
  kzt_radial_error_lines(1, 0, error, xps, status);
}

// ---- Clicked rings ----

void KZT_INP_ELLIPSE(bool info, const GsDisplayedImage& im, float xps, float yps, int& cancelled,
                     float& x_centre, float& y_centre, float& radius_1, float& radius_2,
                     float& angle, float& half_width, Status& status) {
  constexpr const char* kName = "Subroutine KZT_INP_ELLIPSE V0.1";
  if (st_bad(status, kName)) return;
  if (const Status code = region_error(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                                       im.yendelm, kBaseApp))
    return st_fail(status, code, kName);
  show_image(im, status);
  cancelled = 0;
  int method = 0;
  float r1 = 0.0f, r2 = 0.0f, a = 0.0f, error = 0.0f;
  KZT_BEAMCENTRE(true, im, xps, yps, info, method, x_centre, y_centre, r1, r2, a, error, status);
  if (status != kStatusGood || method == kBeamGaussianFailed) {
    cancelled = -1;
    return;
  }
  if (method == kBeamNoChange || method == kBeamKeyboard) show_image(im, status);
  if (method == kBeamCircle) {
    radius_1 = radius_2 = r1;
    angle = 0.0f;
  } else if (method == kBeamEllipse) {
    radius_1 = r1;
    radius_2 = r2;
    angle = a;
  } else {
    float cx = 0.0f, cy = 0.0f;
    if (!one_click(im, "CLICK ON POWDER RING TO FIT",
                   std::vector<std::string>{"Click on initial powder ring to be used for",
                                            "determining the tilt/ beam centre."},
                   cx, cy, status))
      return;
    radius_1 = radius_2 = std::hypot(cx * xps - x_centre, cy * yps - y_centre);
    angle = 0.0f;
  }
  KZT_ELLIPSE(xps, yps, x_centre, y_centre, radius_1, radius_2, angle, 3, status);
  static const std::string kLimitInfo[] = {"Click on a coordinate to define one side of",
                                           "theprofile search limit. The search limit will",
                                           "be symmetric either side of ring positions.",
                                           "Ideally the whole of the choosen powder rings",
                                           "should lie within the search annuli. Similarly",
                                           "other rings should not enter the search region.",
                                           "However a double ring which lies completely",
                                           "within the search region may be fitted",
                                           "successfully provided that the intensities of",
                                           "the two components are constant around the",
                                           "azimuth or vary together."};
  float cx = 0.0f, cy = 0.0f;
  if (!one_click(im, "CLICK ON RING PROFILE SEARCH LIMIT ", kLimitInfo, cx, cy, status)) return;
  half_width = std::fabs(std::hypot(cx * xps - x_centre, cy * yps - y_centre) - radius_1);
  if (info) {
    IO_WRITE(" ", status);
    IO_WRITE("INFO: The search distance either side of the powder rings (mm) = " +
                 format_f(half_width * 1000.0, 7, 3),
             status);
    IO_WRITE("INFO: The search distance either side of the powder rings (X-pixels) = " +
                 format_f(half_width / xps, 7, 2),
             status);
  }
}

void KZT_INPRADIA(const GsDisplayedImage& im, bool info, float xps, float yps, float x_centre,
                  float y_centre, float radius_1, float radius_2, float angle, float half_width,
                  int max_rings, int& num_rings, std::span<float> radii, Status& status) {
  constexpr const char* kName = "Subroutine KZT_INPRADIA V0.1";
  if (st_bad(status, kName)) return;
  if (max_rings < 1 || radii.size() < static_cast<std::size_t>(max_rings))
    return st_fail(status, kBaseApp + 1, kName);
  if (!(radius_1 > 0.0f)) return st_fail(status, kBaseApp + 21, kName);
  KZT_ELLIPSE(xps, yps, x_centre, y_centre, radius_1, radius_2, angle, 3, status);
  if (radius_1 - half_width > 0.0f && radius_2 - half_width > 0.0f)
    KZT_ELLIPSE(xps, yps, x_centre, y_centre, radius_1 - half_width, radius_2 - half_width, angle,
                2, status);
  KZT_ELLIPSE(xps, yps, x_centre, y_centre, radius_1 + half_width, radius_2 + half_width, angle, 2,
              status);
  const int max_clicks = std::min(max_rings, kMaxRings) - 1;
  std::array<float, kMaxRings> cx{}, cy{};
  int num = 0;
  if (max_clicks > 0) {
    GS_INPS_FCOORDINATES(
        false, im, "CLICK ON OTHER RINGS TO USE IN FITTING TILT ", 4,
        {"Click on any other rings to be used in fitting",
         "the tilt / beam centre.  It is possible to",
         "continue without further rings, but generally", "it is better to use several rings."},
        false, max_clicks, num, cx, cy, status);
    if (status != kStatusGood) return;
  }
  radii[0] = radius_1;
  for (int k = 0; k < num; ++k)
    radii[static_cast<std::size_t>(k + 1)] =
        std::hypot(cx[static_cast<std::size_t>(k)] * xps - x_centre,
                   cy[static_cast<std::size_t>(k)] * yps - y_centre);
  num_rings = num + 1;
  if (info) {
    IO_WRITE(" ", status);
    for (int k = 0; k < num_rings; ++k)
      IO_WRITE("INFO: Radius of powder ring " + format_i(k + 1, 2) +
                   " (mm) = " + format_f(radii[static_cast<std::size_t>(k)] * 1000.0, 10, 3),
               status);
    for (int k = 0; k < num_rings; ++k)
      IO_WRITE("INFO: Radius of powder ring " + format_i(k + 1, 2) +
                   " (X-pixels) = " + format_f(radii[static_cast<std::size_t>(k)] / xps, 10, 3),
               status);
  }
}

// ---- The two solutions ----

void kzt_fit_tilt_solutions(const GsDisplayedImage& im, float xps, float yps, bool full_info,
                            int num_sections, bool reject_outliers, float reject_limit,
                            bool refine_beam, bool refine_distance, bool refine_tilt,
                            float& sample_distance, float x_beam, float y_beam, float tilt_rotation,
                            float tilt_angle, int num_rings, std::span<const float> radii,
                            float half_width, float radius_1, float radius_2, float angle,
                            int& num_solutions, std::array<TiltSolution, 2>& solutions,
                            Status& status) {
  constexpr const char* kName = "Subroutine KZT_TILTCENTRE V0.1";
  if (st_bad(status, kName)) return;
  if (num_rings < 1 || num_rings > kMaxRings || radii.size() < static_cast<std::size_t>(num_rings))
    return st_fail(status, kBaseApp + 5, kName);
  const bool window = qg_x11_driver() != nullptr;
  KztComRings& store = vosq_kzt_comrings;
  for (int k = 0; k < num_rings; ++k)
    store.radii[static_cast<std::size_t>(k)] = radii[static_cast<std::size_t>(k)];
  float a = radius_1, b = radius_2, ellipse_angle = angle;
  if (refine_beam) {
    kzt_find_store_rings(full_info, im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                         im.yendelm, im.data,
                         im.mask_data ? im.mask : std::span<const std::uint8_t>{}, xps, yps, x_beam,
                         y_beam, 1, half_width, num_sections, false, nullptr, status);
    if (status != kStatusGood) return;
    const int found = store.num_coordinates[0];
    if (full_info)
      IO_WRITE("INFO: Number of acceptable coordinates on first ring = " + format_i(found, 3),
               status);
    if (window) kzt_display_store_rings(xps, yps, 1, status);
    if (found < 5) {
      // An ellipse needs five points: the first ring lies mostly off the
      // image's usable pixels, or the clicks were not on a ring.
      IO_WRITE(std::string(kFewOnFirstRing), status);
      num_solutions = 0;
      return;
    }
    if (full_info) IO_WRITE("INFO: Fitting ellipse to centre of gravity coordinates", status);
    float error = 0.0f;
    KZT_LSQELLIPSE(kMaxRingCoordinates, found, std::span<const float>(store.x_coordinates),
                   std::span<const float>(store.y_coordinates), x_beam, y_beam, a, b, ellipse_angle,
                   error, status);
    if (status != kStatusGood) return;
    if (full_info)
      KZT_TILTINFO(xps, yps, found, x_beam, y_beam, a, b, ellipse_angle, error, status);
  }
  kzt_find_store_rings(full_info, im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                       im.yendelm, im.data,
                       im.mask_data ? im.mask : std::span<const std::uint8_t>{}, xps, yps, x_beam,
                       y_beam, num_rings, half_width, num_sections, false, nullptr, status);
  if (status != kStatusGood) return;
  if (window) kzt_display_store_rings(xps, yps, num_rings, status);
  if (std::all_of(store.num_coordinates.begin(), store.num_coordinates.begin() + num_rings,
                  [](auto n) { return n <= 0; })) {
    IO_WRITE(std::string(kNoneOnRings), status);
    num_solutions = 0;
    return;
  }

  const float ratio = a > 0.0f ? std::clamp(b / a, -1.0f, 1.0f) : 1.0f;
  const float tilt_start = std::min(std::acos(ratio), kTiltStartLimit);
  // One start: TILT_SIGN picks the side of the tilt; the centre moves away
  // from the ellipse centre along the tilt plane.
  auto start = [&](TiltSolution& s, float tilt_sign) {
    for (int k = 0; k < num_rings; ++k)
      s.two_theta[static_cast<std::size_t>(k)] =
          std::atan2(radii[static_cast<std::size_t>(k)], sample_distance);
    s.rotation = refine_tilt ? ellipse_angle : tilt_rotation;
    s.tilt = refine_tilt ? tilt_sign * tilt_start : tilt_angle;
    s.x_beam = x_beam;
    s.y_beam = y_beam;
    if (refine_beam) {
      s.x_beam -= std::cos(s.rotation) * 2.0f * (a - b);
      s.y_beam -= std::sin(s.rotation) * 2.0f * (a - b);
    }
  };
  auto fit = [&](TiltSolution& s) {
    KZT_FITPOWDER(full_info, kMaxRings, num_rings, reject_outliers, reject_limit, refine_beam,
                  refine_distance, refine_tilt, sample_distance, s.x_beam, s.y_beam,
                  std::span<float>(s.two_theta.data(), static_cast<std::size_t>(num_rings)),
                  s.rotation, s.tilt, s.sigma, status, &s.fit);
    s.distance = sample_distance;
    // Searched half as wide again as the fit's rings were (the rings kept
    // apart from each other), the annuli see a ring the solution misses
    // by more than the half-width.
    const RingNeighbours apart{};
    const RefinedParameters refined{refine_beam, refine_tilt, refine_distance, false};
    if (status == kStatusGood) {
      s.following = kzt_follow_rings(im, s, xps, yps, num_rings, kWider * half_width,
                                     num_sections, status, &apart, refined);
      const KztComRings& store = vosq_kzt_comrings;
      const auto first = static_cast<std::size_t>(
          std::clamp<Index>(store.num_coordinates[0], 0, kMaxRingCoordinates));
      s.following.first_ring_on_image = kzt_points_on_usable_pixels(
          im, std::span<const float>(store.x_coordinates.data(), first),
          std::span<const float>(store.y_coordinates.data(), first), xps, yps);
    }
    if (status == kStatusGood && full_info) {
      IO_WRITE("INFO: Fit of powder ring to inclined detector", status);
      KZT_TILT2INFO(xps, yps, num_rings, s.x_beam, s.y_beam, s.two_theta, s.rotation, s.tilt,
                    s.sigma, status);
    }
  };
  start(solutions[0], 1.0f);
  if (full_info) {
    IO_WRITE(" ", status);
    IO_WRITE("INFO: Fitting powder rings to centre of gravity coordinates", status);
  }
  fit(solutions[0]);
  if (status != kStatusGood) return;
  num_solutions = 1;
  if (refine_beam && refine_tilt) {
    start(solutions[1], -1.0f);
    if (full_info) {
      IO_WRITE(" ", status);
      IO_WRITE("INFO: Alternative fit of powder rings to centre of gravity coordinates", status);
    }
    fit(solutions[1]);
    if (status != kStatusGood) return;
    num_solutions = 2;
  }
  for (int k = 0; k < num_solutions; ++k)
    kzt_wrap_half_turns(solutions[static_cast<std::size_t>(k)].rotation,
                        solutions[static_cast<std::size_t>(k)].tilt);
  // One ring's ellipse tells the tilt only through its slight
  // eccentricity: a centre moved along the tilt plane with a smaller tilt
  // meets it almost as well. Rings of different cone angles, whose
  // ellipses are moved by different amounts, tell the two apart.
  if (num_rings == 1 && refine_beam && refine_tilt)
    IO_WRITE("WARNING: One ring cannot fix beam centre and tilt together", status);
}

namespace {

const std::string kSectionsHelp[] = {
    "The powder ring is divided into a number of equal angle sections for",
    "calculating the radial centre of each section. From the radial centre",
    "and the average angle two cartesian coordinates are calculated. These",
    "coordinates are used to fit optimum beam centre and detector plane tilt",
    "angles. Enter required number of sections for calculations."};
const std::string kRejectHelp[] = {
    "Outlying coordinate positions which are more than an input number of",
    "standard deviations radially from the fitted ring positions may be",
    "rejected from the coordinate lists. The beam centre/tilt can then be",
    "re-fitted without these coordinates. If erroneous coordinate positions",
    "are infuencing the fit, this option may allow them to be removed."};
const std::string kLimitHelp[] = {
    "Enter the limit of number of standard deviations after which coordinate",
    "positions are to be rejected from the coordinate lists. A three sigma",
    "limit should be reasonable for less than about 200 coordinates (assuming",
    "they are normally distributed.)"};
const std::string kRefineBeamHelp[] = {
    "The entered beam centre position may be kept fixed or may be refined",
    "along with the tilt and powder ring opening angles. If the beam centre",
    "is well known e.g. by using a semi-transparant beam-stop then it is",
    "probably better not to refine the position.",
    "   Enter \"YES\" for the beam centre position to be refined, and \"NO\" if",
    "the present values are to be kept fixed."};
const std::string kRefineTiltHelp[] = {
    "The non-orthogonality of the detector plane to the beam may be",
    "refined using the shape of the powder rings. If you want to",
    "refine this non-orthogonality or \"detector tilt\" angles, enter \"YES\".",
    "Entering \"NO\" uses the existing tilt angles as constant in any",
    "refinement of the beam centre."};
const std::string kRefineDistanceHelp[] = {
    "Enter \"YES\" to refine the sample to detector distance. Normally it is",
    "probably best initially to keep this fixed, so answer \"NO\". Having",
    "refined all other parameters, on a second iteration the distance can",
    "also be simultaneously refined."};
const std::string kTiltFormHelp[] = {
    "                TILT Command Form Help",
    "",
    "The command determines the non-orthogonality of the detector",
    "to the direct beam (the \"tilt\") and the beam centre from the",
    "shape of powder rings. It works on the active data region and",
    "ignores masked data: mask problem regions and try again.",
    "A starting beam centre is given by one of several methods; it",
    "defines a search region around one strong, well-defined ring,",
    "which must lie wholly inside it. Other rings may be added: two",
    "or more are better, and complete high-angle rings count most.",
    "A circle and then an ellipse are fitted, the section centres",
    "are recalculated for all rings and the beam centre and tilt",
    "refined to them, with optional rejection and re-fit.",
    "Two beam centre / tilt combinations are indistinguishable",
    "unless the centre or the tilt is fixed, so you are asked to",
    "choose; both give the same two-theta values.",
    "",
    "ANGULAR SECTIONS: azimuthal sections of each ring.",
    "REJECT OUTLIERS: reject badly fitting positions and re-fit.",
    "REJECT LIMIT: standard deviations before rejection.",
    "FULL INFO: full diagnostics in the terminal window.",
    "REFINE BEAM: refine the beam centre.",
    "REFINE TILT: refine the detector tilt angles."};

// The options form of the window; false after CANCEL.
bool tilt_form(TiltOptions& o, Status& status) {
  std::vector<GsFormItem> items;
  items.push_back(
      kzt_form_item("ANGULAR SECTIONS", 1, "NUMBER OF AZIMUTHAL SECTIONS",
                    "Enter number of azimuthal divisions to find average ring positions"));
  items.back().ranged = true;
  items.back().int_lower = 10;
  items.back().int_upper = 360;
  items.back().int_value = std::clamp(o.num_sections, 10, 360);
  items.push_back(
      kzt_form_item("REJECT OUTLIERS", 2, "REJECT OUT-LYING POSITIONS AND RE-REFINE",
                    "Enter \"YES\" to reject badly fittingpositions and re-fit without them"));
  items.back().logical_value = o.reject_outliers;
  items.push_back(kzt_form_item("REJECT LIMIT", 3, "REJECT LIMIT FROM IDEAL (STANDARD DEVIATIONS)",
                                "Enter number of standard deviations from ideal before rejection"));
  items.back().ranged = true;
  items.back().real_lower = 2.0f;
  items.back().real_upper = 100.0f;
  items.back().real_value = std::clamp(o.reject_limit, 2.0f, 100.0f);
  items.push_back(
      kzt_form_item("FULL INFO", 2, "OUTPUT FULL INFORMATION",
                    "Enter \"YES\" to output full diagnostics information in terminal window"));
  items.back().logical_value = o.full_info;
  items.push_back(kzt_form_item("REFINE BEAM", 2, "FIND BEST FIT BEAM CENTRE",
                                "Enter \"YES\" to refine beam centre position"));
  items.back().logical_value = o.refine_beam;
  items.push_back(kzt_form_item("REFINE TILT", 2, "FIND BEST DETECTOR TILT ANGLES",
                                "Enter \"YES\" to refine angle of detector tilt"));
  items.back().logical_value = o.refine_tilt;
  int return_code = 0;
  GS_FORM(2, 2, {"TILT / BEAM CENTRE REFINEMENT", "(FITTING TO POWDER RINGS)"},
          static_cast<int>(std::size(kTiltFormHelp)), static_cast<int>(std::size(kTiltFormHelp)),
          kTiltFormHelp, 11, items, return_code, status);
  if (status != kStatusGood || return_code != 0) return false;
  o.num_sections = items[0].int_value;
  o.reject_outliers = items[1].logical_value;
  o.reject_limit = items[2].real_value;
  o.full_info = items[3].logical_value;
  o.refine_beam = items[4].logical_value;
  o.refine_tilt = items[5].logical_value;
  return true;
}

// Typed options of the keyboard road.
void ask_options(TiltOptions& o, Status& status) {
  IO_INPI(true, 10, 360, true, "NUMBER OF ANGULAR SECTIONS", kSectionsHelp,
          {"Enter an integer within the given range"}, o.num_sections, status);
  IO_INPL(true, false, true, true, "REJECT OUTLYING COORDINATES", kRejectHelp,
          {"Enter \"YES\" or \"NO\""}, o.reject_outliers, status);
  if (o.reject_outliers && status == kStatusGood) {
    o.reject_limit = std::clamp(o.reject_limit, 1.0f, 10.0f);
    IO_INPR(true, 1.0f, 10.0f, true, "REJECT LIMIT (NUMBER OF STANDARD DEVIATIONS)", kLimitHelp,
            {"Enter a real value within the given range"}, o.reject_limit, status);
  }
  IO_INPL(true, false, true, true, "FULL ALGORITHM INFORMATION",
          {"YES: if you want step by step diagnostics information"}, {"Enter \"YES\" or \"NO\""},
          o.full_info, status);
}

}  // namespace

void KZT_TILTCENTRE(bool gui, const GsDisplayedImage& im, float& x_pixel_size, float& y_pixel_size,
                    float, float& sample_distance, float& wavelength, float& x_beam_centre,
                    float& y_beam_centre, float& tilt_rotation, float& tilt_angle,
                    Status& status) {
  constexpr const char* kName = "Subroutine KZT_TILTCENTRE V0.1";
  if (st_bad(status, kName)) return;
  if (const Status code = region_error(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm,
                                       im.yendelm, kBaseApp))
    return st_fail(status, code, kName);
  // The rings are clicked: nothing is asked without the window.
  if (qg_x11_driver() == nullptr) {
    IO_WRITE("WARNING: Graphics system is turned off. You must \"EXIT\" and restart KESTA", status);
    return;
  }
  if (!gui) {
    IO_WRITE(" ", status);
    IO_WRITE("WARNING: This is a development routine, user prompts are likely to change", status);
    IO_WRITE(" ", status);
  }
  const float x_start = x_beam_centre * x_pixel_size;
  const float y_start = y_beam_centre * y_pixel_size;
  TiltOptions o = tilt_options;
  float xps = x_pixel_size, yps = y_pixel_size, distance = sample_distance;
  if (!gui) {
    KZT_INP_SAMPLEDISTANCE(false, distance, status);
    KZT_INP_PIXELSIZES(false, xps, yps, status);
    ask_options(o, status);
    if (status != kStatusGood) return;
    gs_say_control(GsControlMove::kPassed, status);
  } else {
    float form_wavelength = wavelength, xc = x_beam_centre, yc = y_beam_centre;
    float rotation = tilt_rotation, tilt = tilt_angle;
    KZT_GUI_GEOMETRY(xps, yps, distance, form_wavelength, xc, yc, rotation, tilt, status);
    if (status == kStatusEscape) {
      st_reset(status);
      show_image(im, status);
      return;
    }
    if (status != kStatusGood) return;
    // What the form returned is the geometry now, whatever follows.
    x_pixel_size = xps;
    y_pixel_size = yps;
    sample_distance = distance;
    wavelength = form_wavelength;
    x_beam_centre = xc;
    y_beam_centre = yc;
    tilt_rotation = rotation;
    tilt_angle = tilt;
    if (!tilt_form(o, status)) {
      if (status == kStatusGood || status == kStatusEscape) {
        st_reset(status);
        show_image(im, status);
      }
      return;
    }
  }
  tilt_options = o;
  x_pixel_size = xps;
  y_pixel_size = yps;
  sample_distance = distance;

  int cancelled = 0;
  float x_beam = x_start, y_beam = y_start;
  float radius_1 = 0.0f, radius_2 = 0.0f, angle = 0.0f, half_width = 0.0f;
  KZT_INP_ELLIPSE(o.full_info, im, xps, yps, cancelled, x_beam, y_beam, radius_1, radius_2, angle,
                  half_width, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood || cancelled != 0) return;
  std::array<float, kMaxRings> radii{};
  int num_rings = 1;
  KZT_INPRADIA(im, o.full_info, xps, yps, x_beam, y_beam, radius_1, radius_2, angle, half_width,
               kMaxRings, num_rings, radii, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  GS_FPROMPT(1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, status);
  GS_UPDATE(status);
  bool refine_distance = false;
  if (!gui) {
    IO_INPL(true, false, true, true, "REFINE BEAM CENTRE", kRefineBeamHelp,
            {"Enter \"YES\" or \"NO\""}, o.refine_beam, status);
    IO_INPL(true, false, true, true, "REFINE DETECTOR TILT", kRefineTiltHelp,
            {"Enter \"YES\" or \"NO\""}, o.refine_tilt, status);
    IO_INPL(true, false, true, true, "REFINE SAMPLE DISTANCE", kRefineDistanceHelp,
            {"Enter \"YES\" or \"NO\""}, o.refine_distance, status);
    if (status != kStatusGood) return;
    tilt_options = o;
    refine_distance = o.refine_distance;
  }
  if (!o.refine_beam && !o.refine_tilt && !refine_distance) {
    IO_WRITE("WARNING: There is nothing left to refine !!!", status);
    if (gui) GS_FWARNING(1, 1, {"NOTHING LEFT TO REFINE !!!"}, status);
    return;
  }
  int num_solutions = 0;
  std::array<TiltSolution, 2> solutions{};
  kzt_fit_tilt_solutions(im, xps, yps, o.full_info, o.num_sections, o.reject_outliers,
                         o.reject_limit, o.refine_beam, refine_distance, o.refine_tilt, distance,
                         x_beam, y_beam, tilt_rotation, tilt_angle, num_rings, radii, half_width,
                         radius_1, radius_2, angle, num_solutions, solutions, status);
  if (status != kStatusGood) return;
  if (num_solutions == 0) {
    // (The line written says why.)
    if (gui) GS_FWARNING(1, 1, {"NOTHING WAS FITTED: TOO FEW RING COORDINATES FOUND"}, status);
    return;
  }
  // The warnings, also for the window, where the interface shows its
  // others.
  std::vector<std::vector<std::string>> warnings;
  auto report = [&](const TiltSolution& s, std::string_view solution) {
    KZT_TILT2INFO(xps, yps, num_rings, s.x_beam, s.y_beam, s.two_theta, s.rotation, s.tilt, s.sigma,
                  status);
    // Each solution is judged where it is reported, before one is chosen.
    std::vector<std::string> lines = kzt_tilt_solution_warning(s, xps);
    for (const std::string& line : lines) IO_WRITE(line, status);
    if (lines.empty()) return;
    if (!solution.empty()) lines.insert(lines.begin(), std::string(solution));
    warnings.push_back(std::move(lines));
  };
  // A box for each solution warned of: both solutions' warnings in one
  // box are more lines than the window's smallest font fits.
  auto show_warnings = [&] {
    for (const std::vector<std::string>& box : warnings)
      if (gui) GS_FWARNING(static_cast<int>(box.size()), static_cast<int>(box.size()), box, status);
  };
  int choice = 1;
  IO_WRITE(" ", status);
  if (num_solutions == 1) {
    IO_WRITE("INFO: SOLUTION", status);
    report(solutions[0], "");
    show_warnings();
  } else {
    IO_WRITE("INFO: In the absence of any other information, there are two equally", status);
    IO_WRITE("      valid solutions to the tilt angle and beam centre which could", status);
    IO_WRITE("      have formed a powder ring on an inclined detector. Theoretically", status);
    IO_WRITE("      these should both give the same goodness of fit, so both solutions", status);
    IO_WRITE("      are output. If the position of the beam-stop is known, then the", status);
    IO_WRITE("      \"correct\" solution may be selected.", status);
    IO_WRITE(" ", status);
    IO_WRITE("INFO: SOLUTION 1", status);
    report(solutions[0], "SOLUTION 1:");
    IO_WRITE(" ", status);
    IO_WRITE("INFO: SOLUTION 2", status);
    report(solutions[1], "SOLUTION 2:");
    show_warnings();
    choice = solutions[0].sigma <= solutions[1].sigma ? 1 : 2;
    if (gui) {
      GS_INPI(true, 1, 2, true, "WHICH SOLUTION (SEE TERMINAL WINDOW)",
              {"Enter \"1\" or \"2\" to choose the solution to save"},
              {"You can only input \"1\" or \"2\""}, choice, status);
    } else {
      IO_INPI(true, 1, 2, true, "WHICH SOLUTION",
              {"Enter \"1\" or \"2\" to chose the solution to save"},
              {"You can only input \"1\" or \"2\""}, choice, status);
    }
    if (status != kStatusGood) return;
  }
  const TiltSolution& s = solutions[static_cast<std::size_t>(choice - 1)];
  sample_distance = distance;
  x_beam_centre = s.x_beam / x_pixel_size;
  y_beam_centre = s.y_beam / y_pixel_size;
  tilt_rotation = s.rotation;
  tilt_angle = s.tilt;
}

}  // namespace kesta
