#include "app/diffraction/symmetry_centre.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/projection.hpp"
#include "app/imageops/one_d_mask.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
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

}  // namespace

void KZT_FUN1DSYMMETRY(bool mask_data, Index xmaxdat, Index, std::span<const float> data,
                       std::span<const std::uint8_t> mask, Index xstrelm, Index, Index xendelm,
                       Index, void*, void*, void*, void*, int, std::span<const float> params,
                       Index xmaxmod, Index, bool model_in_data_frame, int& terminate,
                       std::span<float> model, Status& status) {
  if (st_bad(status, "Subroutine KZT_FUN1DSYMMETRY V0.2")) return;
  terminate = 0;
  const double c = params[0];
  const Index offset = model_in_data_frame ? 0 : xstrelm - 1;
  (void)xmaxdat;
  (void)xmaxmod;
  std::vector<std::uint8_t> valid(static_cast<std::size_t>(xendelm - xstrelm + 1), 0);
  double sum_abs = 0.0;
  Index num_valid = 0;
  for (Index i = xstrelm; i <= xendelm; ++i) {
    const auto e = static_cast<std::size_t>(i - 1);
    float& out = model[static_cast<std::size_t>(i - 1 - offset)];
    out = 0.0f;
    if (mask_data && !mask.empty() && mask[e] != 0) continue;
    double mirror = 0.0;
    if (!mirrored_value(data, mask, mask_data, xstrelm, xendelm,
                        2.0 * c - (static_cast<double>(i) - 0.5), mirror))
      continue;
    const double r = data[e] - mirror;
    if (!std::isfinite(r)) continue;
    out = static_cast<float>(r);
    valid[static_cast<std::size_t>(i - xstrelm)] = 1;
    sum_abs += std::abs(r);
    ++num_valid;
  }
  // Points without a valid mirror carry the mean misfit, so that moving the
  // centre cannot lower the sum by pushing points out of the range.
  const float mean = num_valid > 0 ? static_cast<float>(sum_abs / num_valid) : 0.0f;
  for (Index i = xstrelm; i <= xendelm; ++i)
    if (valid[static_cast<std::size_t>(i - xstrelm)] == 0)
      model[static_cast<std::size_t>(i - 1 - offset)] = mean;
}

void KZT_LSQ1DSYMMETRY(Index max_points, Index first, Index last, std::span<const float> profile,
                       std::span<const std::uint8_t> mask, float& centre, Status& status) {
  constexpr const char* kName = "Subroutine KZT_LSQ1DSYMMETRY V0.2";
  if (st_bad(status, kName)) return;
  if (max_points < 1) return st_fail(status, kBaseApp + 1, kName);
  const auto n = static_cast<std::size_t>(max_points);
  if (first < 1 || last > max_points || first > last || profile.size() < n ||
      (!mask.empty() && mask.size() < n))
    return st_fail(status, kBaseApp + 5, kName);
  std::array<float, 1> params{static_cast<float>(first + last - 1) * 0.5f};
  const std::array<bool, 1> constrained{false};
  const std::array<float, 1> scales{5.0f};
  std::vector<float> model(n, 0.0f);
  int end_code = 0, num_calls = 0;
  float sum_squares = 0.0f;
  MA_MODELFIT(0, KZT_FUN1DSYMMETRY, !mask.empty(), false, false, max_points, 1, profile, mask, {},
              first, 1, last, 1, 1, 300, 1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr,
              nullptr, 1, constrained, scales, max_points, 1, true, params, model, end_code,
              num_calls, sum_squares, status);
  if (status != kStatusGood) return;
  if (end_code > 0) IO_WRITE("WARNING: Problem fitting the symmetry centre", status);
  centre = params[0];
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

  const Index maxproj = im.xmaxdat;
  const auto n = static_cast<std::size_t>(maxproj);
  std::vector<float> positions(n), profile(n), smooth(n), weights(n), mirrored(n);
  std::vector<std::uint8_t> mask(n, 0);
  const std::array<float, 1> yaxis{0.5f};
  const float bin_size = (xps + yps) * 0.5f;
  GS_FPROMPT(1, 1, {"CALCULATING PROJECTION (this may take a while)"}, status);
  GS_UPDATE(status);
  int truncated = 0;
  Index number = 0;
  MA_PROJECTION(im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, im.data,
                {}, xps, yps, xv, yv, false, false, bin_size, maxproj, truncated, number,
                positions, profile, {}, weights, status);
  if (status != kStatusGood || number < 1) return false;
  MA_TOPHATCON(maxproj, 1, profile, 1, 1, number, 1, 5, 1, true, maxproj, 1, smooth, status);
  GS_XYSGRAPH(maxproj, 1, number, positions, smooth, im.title, "Pixels", "Projection", status);
  Index first = 1, ys = 1, last = number, ye = 1;
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
  float centre = static_cast<float>(first + last - 1) * 0.5f;
  KZT_LSQ1DSYMMETRY(maxproj, first, last, smooth, mask, centre, status);
  if (status != kStatusGood) return false;

  // The fitted centre over the graph, and the profile mirrored about it.
  GS_XYSGRAPH(maxproj, first, last, positions, smooth, im.title, "Pixels", "Projection", status);
  float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
  GS_INQ_DDDR(x1, y1, x2, y2, status);
  GS_LINESTYLE(1, 1.0f, kGsRed, status);
  GS_LINE(centre, y1, centre, y2, status);
  KZT_SUBPROJECTFIT(maxproj, first, last, centre, mirrored, status);
  GS_MARKERS(2, maxproj, first, last, mirrored, smooth, status);
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
