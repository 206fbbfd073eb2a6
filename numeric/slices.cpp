#include "numeric/slices.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "numeric/geometry.hpp"
#include "numeric/resample_internal.hpp"

namespace kesta {
namespace {

using resample::floor_index;

constexpr double kPi = 3.1415925;
constexpr double kTwoPi = 6.283185;

// The element holding pixel coordinate P along an axis of MAX elements.
Index holding_element(double p, Index max) { return std::clamp(floor_index(p) + 1, Index{1}, max); }

// Checks shared by the two slices: sizes, the image's extent within the
// arrays, the profile arrays and the spans.
Status slice_error(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat, Index maxslice,
                   std::size_t data, std::size_t variances, bool variances_exist,
                   std::size_t positions, std::size_t profile, std::size_t errors) {
  const ArrayShape image{xmaxdat, ymaxdat, data};
  if (const Status e = dimensions_error({image, {maxslice, 1, profile}}, kBaseMath); e != 0)
    return e;
  if (const Status e = region_error(xmaxdat, ymaxdat, 1, 1, xnumdat, ynumdat, kBaseMath); e != 0)
    return e;
  if (const Status e = span_error({image, {maxslice, 1, positions}, {maxslice, 1, profile}}); e != 0)
    return e;
  return variances_exist ? span_error({{xmaxdat, ymaxdat, variances}, {maxslice, 1, errors}}) : 0;
}

// The one line of a profile cut short: KEPT values cover it to KEPT_TO
// (pixels, or world units for the radial profile), the whole would have
// reached REACHED. Without an EDGE the arrays had no more room; with one the
// profile left the image through that edge.
void profile_cut(std::string_view what, Index kept, double kept_to, double reached,
                 Status& status, std::string_view edge = {}) {
  auto number = [](double v) { return std::string(trimmed_text(format_g(v, 14, 5))); };
  const std::string range = ", to " + number(kept_to) + " of " + number(reached);
  IO_WRITE("WARNING: Only the first " + format_i(kept, 0) + " " + std::string(what) +
               (edge.empty() ? " fit in the arrays" + range + "; the rest is left out"
                             : " lie inside the image" + range + ": the arc leaves it through its " +
                                   std::string(edge)),
           status);
}

bool inside(double v, Index max) { return v >= 0.0 && v <= static_cast<double>(max); }

// Where a sample lies along one axis of the image.
enum class Side { kIn, kLow, kHigh };

// The edges through which a path leaves the image, from the sides of its
// first point outside ("low X edge", "high X and low Y edges").
std::string edges_left(Side x, Side y) {
  const auto name = [](Side s) { return s == Side::kLow ? "low" : "high"; };
  if (y == Side::kIn) return std::string(name(x)) + " X edge";
  if (x == Side::kIn) return std::string(name(y)) + " Y edge";
  if (x == y) return std::string(name(x)) + " X and Y edges";
  return std::string(name(x)) + " X and " + name(y) + " Y edges";
}

// One sample: the value of the image element (of XNUMDAT x YNUMDAT) holding
// (px, py), with its error.
void take_sample(Index xmaxdat, Index xnumdat, Index ynumdat, std::span<const float> data,
                 std::span<const float> variances, bool variances_exist, double px, double py,
                 Index i, std::span<float> positions, std::span<float> profile,
                 std::span<float> errors) {
  const Index at = element(holding_element(px, xnumdat), holding_element(py, ynumdat), xmaxdat);
  profile[i] = data[at];
  if (variances_exist) errors[i] = std::sqrt(std::max(variances[at], 0.0f));
  positions[i] = static_cast<float>(i) + 0.5f;
}

}  // namespace

void MA_SLICE(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
              std::span<const float> data, std::span<const float> variances, float xstart,
              float ystart, float xend, float yend, bool /*spare_flag*/, bool variances_exist,
              Index maxslice, int& truncated, Index& number, std::span<float> positions,
              std::span<float> profile, std::span<float> errors, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_SLICE V0.1";
  if (st_bad(status, kPosition)) return;
  Status e = slice_error(xmaxdat, ymaxdat, xnumdat, ynumdat, maxslice, data.size(),
                         variances.size(), variances_exist, positions.size(), profile.size(),
                         errors.size());
  // A line between two points of the image stays in it.
  if (e == 0 && !(inside(xstart, xnumdat) && inside(xend, xnumdat))) e = kBaseMath + 21;
  if (e == 0 && !(inside(ystart, ynumdat) && inside(yend, ynumdat))) e = kBaseMath + 22;
  if (e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  const double dx = static_cast<double>(xend) - xstart;
  const double dy = static_cast<double>(yend) - ystart;
  const double length = std::hypot(dx, dy);
  const Index whole = static_cast<Index>(length);
  truncated = whole > maxslice ? 1 : 0;
  number = std::min(whole, maxslice);
  if (truncated != 0)
    profile_cut("points of the slice", number, static_cast<double>(number), length, status);
  const double ux = length > 0.0 ? dx / length : 0.0;
  const double uy = length > 0.0 ? dy / length : 0.0;
  for (Index i = 0; i < number; ++i) {
    const double t = static_cast<double>(i) + 0.5;
    take_sample(xmaxdat, xnumdat, ynumdat, data, variances, variances_exist, xstart + t * ux,
                ystart + t * uy, i, positions, profile, errors);
  }
}

void MA_ARCSLICE(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                 std::span<const float> data, std::span<const float> variances, float x1,
                 float y1, float x2, float y2, float x3, float y3, float xcentre, float ycentre,
                 bool /*spare_flag*/, bool variances_exist, Index maxslice, int& truncated,
                 Index& number, std::span<float> positions, std::span<float> profile,
                 std::span<float> errors, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_ARCSLICE V0.1";
  if (st_bad(status, kPosition)) return;
  const double r1 = std::hypot(static_cast<double>(x1) - xcentre, static_cast<double>(y1) - ycentre);
  const double r3 = std::hypot(static_cast<double>(x3) - xcentre, static_cast<double>(y3) - ycentre);
  Status e = slice_error(xmaxdat, ymaxdat, xnumdat, ynumdat, maxslice, data.size(),
                         variances.size(), variances_exist, positions.size(), profile.size(),
                         errors.size());
  if (e == 0 && !(inside(x1, xnumdat) && inside(x3, xnumdat))) e = kBaseMath + 21;
  if (e == 0 && !(inside(y1, ynumdat) && inside(y3, ynumdat))) e = kBaseMath + 22;
  if (e == 0 && !(r1 >= 1.0e-36 && r3 >= 1.0e-36)) e = kBaseMath + 9999;
  if (e != 0) {
    st_fail(status, e, kPosition);
    return;
  }

  // Angles about the centre; the arc from point 1 to point 3 runs the way that
  // passes point 2.
  auto angle = [&](float x, float y) {
    return std::atan2(static_cast<double>(y) - ycentre, static_cast<double>(x) - xcentre) + kPi;
  };
  const double a1 = angle(x1, y1);
  double d2 = angle(x2, y2) - a1;
  double d3 = angle(x3, y3) - a1;
  if (d2 < 0.0) d2 += kTwoPi;
  if (d3 <= 0.0) d3 += kTwoPi;
  const bool anticlockwise = d3 > d2;
  const double arc = anticlockwise ? d3 : kTwoPi - d3;
  // Nearest integer with halves away from zero.
  const double wanted = std::round(r1 * arc) + 1.0;
  const bool cut = wanted > static_cast<double>(maxslice);
  const Index count = cut ? maxslice : static_cast<Index>(wanted);

  // Unit steps along the chords of the arc: the first step leaves the radius
  // direction turned by a quarter turn plus half a step's angle; each later
  // step turns by one step's angle.
  const double turn_step = (anticlockwise ? 1.0 : -1.0) / r1;
  const double first_turn = (anticlockwise ? 1.0 : -1.0) * (kPi - (kPi - 1.0 / r1) * 0.5);
  const double rx = (static_cast<double>(x1) - xcentre) / r1;
  const double ry = (static_cast<double>(y1) - ycentre) / r1;
  const double c0 = std::cos(first_turn);
  const double s0 = std::sin(first_turn);
  const double cs = std::cos(turn_step);
  const double ss = std::sin(turn_step);
  // The image covers 0 to NUM in pixel-edge coordinates; a sample beyond an
  // edge, however near, has no element of its own, and the profile ends
  // before it, whatever the arrays hold beyond the image.
  const auto side = [](double p, Index num) {
    if (inside(p, num)) return Side::kIn;
    return p > static_cast<double>(num) ? Side::kHigh : Side::kLow;  // NaN low
  };
  double px = x1;
  double py = y1;
  double sx = c0 * rx - s0 * ry;
  double sy = s0 * rx + c0 * ry;
  Index kept = 0;
  for (; kept < count && side(px, xnumdat) == Side::kIn && side(py, ynumdat) == Side::kIn;
       ++kept) {
    take_sample(xmaxdat, xnumdat, ynumdat, data, variances, variances_exist, px, py, kept,
                positions, profile, errors);
    px += sx;
    py += sy;
    const double nx = cs * sx - ss * sy;
    sy = ss * sx + cs * sy;
    sx = nx;
  }
  truncated = kept < count || cut ? 1 : 0;
  number = kept;
  if (truncated == 0) return;
  profile_cut("points of the arc slice", kept, static_cast<double>(kept - 1), r1 * arc, status,
              kept == count ? "" : edges_left(side(px, xnumdat), side(py, ynumdat)));
}

void MA_PROJECTION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, std::span<const float> variances,
                   float xpixsize, float ypixsize, std::span<const float> xvertices,
                   std::span<const float> yvertices, bool spare_flag, bool variances_wanted,
                   float bin_size, Index maxproj, int& truncated, Index& number,
                   std::span<float> positions, std::span<float> profile,
                   std::span<float> profile_variances, std::span<float> weights, Status& status) {
  StripPixels pixels;
  ma_strip_projection(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, variances, {},
                      xpixsize, ypixsize, xvertices, yvertices, spare_flag, variances_wanted,
                      bin_size, maxproj, truncated, number, positions, profile, profile_variances,
                      weights, pixels, status);
}

void ma_strip_projection(Index xmaxdat, Index ymaxdat, Index xstrelm, Index /*ystrelm*/,
                         Index xendelm, Index yendelm, std::span<const float> data,
                         std::span<const float> /*variances*/, std::span<const std::uint8_t> mask,
                         float xpixsize, float ypixsize, std::span<const float> xvertices,
                         std::span<const float> yvertices, bool /*spare_flag*/,
                         bool variances_wanted, float bin_size, Index maxproj, int& truncated,
                         Index& number, std::span<float> positions, std::span<float> profile,
                         std::span<float> profile_variances, std::span<float> weights,
                         StripPixels& pixels, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_PROJECTION V0.4";
  if (st_bad(status, kPosition)) return;
  const ArrayShape image{xmaxdat, ymaxdat, data.size()};
  Status e = dimensions_error({image, {maxproj, 1, profile.size()}}, kBaseMath);
  // Lines are taken from 1 up, so only the X limits and the last line matter.
  if (e == 0) e = region_error(xmaxdat, ymaxdat, xstrelm, 1, xendelm, yendelm, kBaseMath);
  if (e == 0)
    e = span_error({image, {mask.empty() ? 0 : xmaxdat, ymaxdat, mask.size()},
                    {5, 1, xvertices.size()}, {5, 1, yvertices.size()},
                    {maxproj, 1, positions.size()}, {maxproj, 1, profile.size()},
                    {maxproj, 1, weights.size()},
                    {variances_wanted ? maxproj : 0, 1, profile_variances.size()}});
  const double length =
      e == 0 ? std::hypot((static_cast<double>(xvertices[1]) - xvertices[0]) * xpixsize,
                          (static_cast<double>(yvertices[1]) - yvertices[0]) * ypixsize)
             : 0.0;
  if (e == 0 && !(bin_size > 0.0f && xpixsize > 0.0f && ypixsize > 0.0f && std::isfinite(length)))
    e = kBaseMath + 21;
  if (e == 0 && !(length > 0.0)) e = kBaseMath + 22;
  if (e != 0) {
    st_fail(status, e, kPosition);
    return;
  }

  const double wanted = std::floor(length / bin_size) + 1.0;
  truncated = wanted > static_cast<double>(maxproj) ? 1 : 0;
  number = truncated != 0 ? maxproj : static_cast<Index>(wanted);
  if (truncated != 0) {
    IO_WRITE("WARNING: There is not enough room for the whole of the required", status);
    IO_WRITE("         projection. The end of the projection will be truncated.", status);
  }

  // Each element counts as a disc of the mean pixel area.
  const double radius =
      std::sqrt(static_cast<double>(xpixsize) * ypixsize / 3.14159265358979);
  const double diameter = 2.0 * radius / bin_size;
  std::vector<double> sum(static_cast<std::size_t>(number), 0.0);
  std::vector<double> sum_sq(static_cast<std::size_t>(number), 0.0);
  std::vector<double> weight(static_cast<std::size_t>(number), 0.0);
  pixels = StripPixels{};

  const float vx1 = xvertices[0];
  const float vy1 = yvertices[0];
  const float vx2 = xvertices[1];
  const float vy2 = yvertices[1];
  double ymin = yvertices[0];
  double ymax = yvertices[0];
  for (int i = 1; i < 4; ++i) {
    ymin = std::min(ymin, static_cast<double>(yvertices[i]));
    ymax = std::max(ymax, static_cast<double>(yvertices[i]));
  }
  const Index first_line = std::max(Index{1}, floor_index(ymin));
  const Index last_line = std::min(yendelm, floor_index(ymax) + 1);
  const Index lines = std::max(Index{0}, last_line - first_line + 1);
  constexpr double kFlat = 1.0e-4;
  Index treated = 0;
  for (Index line = first_line; line <= last_line; ++line) {
    // The X extent of the strip at the line's centre.
    const double yc = static_cast<double>(line) - 0.5;
    double xlo = static_cast<double>(xendelm + 1);
    double xhi = -1.0;
    auto widen = [&](double x) {
      xlo = std::min(xlo, x);
      xhi = std::max(xhi, x);
    };
    for (int i = 0; i < 4; ++i) {
      const double xa = xvertices[i], ya = yvertices[i];
      const double xb = xvertices[i + 1], yb = yvertices[i + 1];
      const double dx = xb - xa, dy = yb - ya;
      if (dx == 0.0 && dy == 0.0) continue;
      if (dx == 0.0) {
        if (yc >= std::min(ya, yb) && yc <= std::max(ya, yb)) widen(xa);
        continue;
      }
      const double slope = dy / dx;
      if (std::fabs(slope) <= kFlat) {
        if (std::fabs(ya - yc) <= kFlat) {
          widen(xa);
          widen(xb);
        }
        continue;
      }
      const double x = xa + (yc - ya) / slope;
      if (x >= std::min(xa, xb) && x <= std::max(xa, xb)) widen(x);
    }
    if (xlo <= xhi) {
      const Index first = std::max(xstrelm, floor_index(xlo + 0.5) + 1);
      const Index last = std::min(xendelm, floor_index(xhi + 0.5) + 1);
      const float* row = data.data() + element(1, line, xmaxdat);
      const std::uint8_t* masked = mask.empty() ? nullptr : mask.data() + element(1, line, xmaxdat);
      for (Index x = first; x <= last; ++x) {
        ++pixels.inside;
        // A value that is not a number, or a masked one, adds neither value
        // nor weight: the bins keep the mean of the others.
        const double value = row[x - 1];
        if (!std::isfinite(value) || (masked != nullptr && masked[x - 1] != 0)) continue;
        ++pixels.used;
        float fx = 0.0f;
        float fy = 0.0f;
        MA_PERINTERSECT(vx1, vy1, vx2, vy2, static_cast<float>(x) - 0.5f,
                        static_cast<float>(line) - 0.5f, fx, fy, status);
        if (status != kStatusGood) return;
        const double d = std::hypot((static_cast<double>(fx) - vx1) * xpixsize,
                                    (static_cast<double>(fy) - vy1) * ypixsize);
        const double lo = (d - radius) / bin_size;
        const double hi = (d + radius) / bin_size;
        const Index kfirst = std::max(floor_index(lo) + 1, Index{1});
        const Index klast = std::min(number, floor_index(hi) + 1);
        for (Index k = kfirst; k <= klast; ++k) {
          // The part of the disc's extent that falls in bin k.
          const double overlap = std::min(hi, static_cast<double>(k)) -
                                 std::max(lo, static_cast<double>(k - 1));
          const double w = std::min(overlap / diameter, 1.0);
          if (w <= 0.0) continue;
          const auto b = static_cast<std::size_t>(k - 1);
          sum[b] += w * value;
          weight[b] += w;
          sum_sq[b] += w * value * value;
        }
      }
    }
    ++treated;
    if (treated % 200 == 0) {
      const auto percent =
          static_cast<std::int64_t>(std::round(100.0 * static_cast<double>(treated) /
                                                   static_cast<double>(lines)));
      IO_WRITE("INFO: Number of rows treated = " + format_i(treated, 6) + " (" +
                   format_i(percent, 3) + "%)",
               status);
    }
  }

  for (Index i = 0; i < number; ++i) {
    const auto b = static_cast<std::size_t>(i);
    profile[b] = static_cast<float>(weight[b] > 0.0 ? sum[b] / weight[b] : sum[b]);
    weights[b] = static_cast<float>(weight[b]);
    if (variances_wanted) profile_variances[b] += static_cast<float>(sum_sq[b]);
    positions[b] = static_cast<float>(i) + 0.5f;
  }
}

void MA_RADIAL(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::span<const std::uint8_t> mask,
               bool variances_wanted, float xcentre, float ycentre, float bin_width, int mode,
               Index maxbins, std::span<float> radii, std::span<float> profile,
               std::span<float> profile_variances, std::span<float> weights, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_RADIAL V0.5";
  if (st_bad(status, kPosition)) return;
  const ArrayShape image{xmaxdat, ymaxdat, data.size()};
  Status e = dimensions_error({image, {maxbins, 1, profile.size()}}, kBaseMath);
  if (e == 0) e = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseMath);
  if (e == 0 && mode != 0 && mode != 1) e = kBaseMath + 17;
  if (e == 0 && !(bin_width > 0.0f)) e = kBaseMath + 21;
  if (e == 0)
    e = span_error({image, {mask.empty() ? 0 : xmaxdat, ymaxdat, mask.size()},
                    {xendelm, 1, xaxis.size()},
                    {yendelm, 1, yaxis.size()}, {maxbins, 1, radii.size()},
                    {maxbins, 1, profile.size()}, {maxbins, 1, weights.size()},
                    {variances_wanted ? maxbins : 0, 1, profile_variances.size()}});
  if (e != 0) {
    st_fail(status, e, kPosition);
    return;
  }

  const auto bins = static_cast<std::size_t>(maxbins);
  std::vector<double> sum(bins, 0.0), sum_sq(bins, 0.0), weight(bins, 0.0);
  auto add = [&](Index k, double w, double value) {
    const auto b = static_cast<std::size_t>(k - 1);
    sum[b] += w * value;
    weight[b] += w;
    sum_sq[b] += w * value * value;
  };
  // Bin k holds the radii from (k - 1) to k widths, whose middle is its
  // label: mode 0 takes the bin a radius lies in, mode 1 shares it between
  // the two bins whose middles lie either side of it.
  const double limit = static_cast<double>(maxbins) - (mode == 0 ? 0.0 : 0.5);
  double reached = -1.0;  // the largest radius left out, in bins
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const double dy = static_cast<double>(yaxis[y - 1]) - ycentre;
    const float* row = data.data() + element(1, y, xmaxdat);
    const std::uint8_t* masked = mask.empty() ? nullptr : mask.data() + element(1, y, xmaxdat);
    for (Index x = xstrelm; x <= xendelm; ++x) {
      if (masked != nullptr && masked[x - 1] != 0) continue;
      const double value = row[x - 1];
      if (!std::isfinite(value)) continue;
      const double r = std::hypot(static_cast<double>(xaxis[x - 1]) - xcentre, dy) / bin_width;
      if (!(r < limit)) {
        if (r > reached) reached = r;
        continue;
      }
      if (mode == 0) {
        add(static_cast<Index>(r) + 1, 1.0, value);
      } else {
        // Shared between the two bins whose centres lie either side of r.
        const Index k = static_cast<Index>(r + 0.5) + 1;
        const double f = r + 1.5 - static_cast<double>(k);
        if (k > 1) add(k - 1, 1.0 - f, value);
        add(k, f, value);
      }
    }
  }

  for (std::size_t b = 0; b < bins; ++b) {
    const double w = weight[b];
    double mean = 0.0;
    double variance = 0.0;
    if (w > 1.0) {
      mean = sum[b] / w;
      variance = std::max((sum_sq[b] - mean * mean * w) / (w - 1.0), 0.0);
    } else if (w > 0.01) {
      mean = sum[b] / w;
      variance = mean;
    }
    profile[b] = static_cast<float>(mean);
    weights[b] = static_cast<float>(w);
    if (variances_wanted) profile_variances[b] = static_cast<float>(variance);
    radii[b] = static_cast<float>(static_cast<double>(b + 1) * bin_width - bin_width * 0.5);
  }
  if (reached >= limit)
    profile_cut("bins of the radial profile", maxbins, limit * bin_width, reached * bin_width,
                status);
}

}  // namespace kesta
