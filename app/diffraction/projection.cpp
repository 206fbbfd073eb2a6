#include "app/diffraction/projection.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/cake.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/imageops/conventions.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/input.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"
#include "numeric/slices.hpp"

namespace kesta {
namespace {

constexpr float kFourPi = 12.56637f;

// Data coordinates of the displayed image to pixel coordinates and back.
void to_pixels(const GsDisplayedImage& im, float x, float y, float& px, float& py,
               Status& status) {
  MA_DC2PIXC(im.xmaxdat, im.xendelm, im.xaxis, x, px, status);
  MA_DC2PIXC(im.ymaxdat, im.yendelm, im.yaxis, y, py, status);
}
void to_data(const GsDisplayedImage& im, float px, float py, float& x, float& y,
             Status& status) {
  MA_PC2DC(im.xmaxdat, im.xendelm, im.xaxis, px, x, status);
  MA_PC2DC(im.ymaxdat, im.yendelm, im.yaxis, py, y, status);
}

void show_image(const GsDisplayedImage& im, Status& status) {
  GS_MPLOT(im.mask_data, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
           im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel, status);
}

// NUM clicks on the displayed image (data coordinates); false after CANCEL
// (STATUS the user escape), a failure, or fewer points than asked.
bool clicks_on(const GsDisplayedImage& im, std::string_view prompt, TextLines help, int wanted,
               std::span<float> x, std::span<float> y, Status& status) {
  int num = wanted;
  GS_INPS_FCOORDINATES(false, im, prompt, static_cast<int>(help.size()), help.view(), false,
                       wanted, num, x, y, status);
  if (status == kStatusGood && num < wanted) status = kStatusEscape;
  return status == kStatusGood;
}

// The span of a pixel at signed distance R (metres along the line, tilt
// corrected) in units of the bin size; false when it has none (d-spacing
// spans reaching the centre).
bool bin_span(int scan_type, double r, double h, double distance, double wavelength,
              double bin_size, double& lo, double& hi) {
  double a = r - h, b = r + h;
  switch (scan_type) {
    case kScanRadial:
      break;
    case kScanTwoTheta:
      a = std::atan2(a, distance) * (180.0 / kPi);
      b = std::atan2(b, distance) * (180.0 / kPi);
      break;
    case kScanQ:
      a = std::sin(std::atan2(a, distance) * 0.5) * kFourPi / (wavelength * 1.0e9);
      b = std::sin(std::atan2(b, distance) * 0.5) * kFourPi / (wavelength * 1.0e9);
      break;
    default: {
      if (a * b <= 0.0) return false;
      a = wavelength * 1.0e10 / (2.0 * std::sin(std::atan2(a, distance) * 0.5));
      b = wavelength * 1.0e10 / (2.0 * std::sin(std::atan2(b, distance) * 0.5));
      break;
    }
  }
  lo = std::min(a, b) / bin_size;
  hi = std::max(a, b) / bin_size;
  return std::isfinite(lo) && std::isfinite(hi) && hi > lo;
}



Status gisaxs_arguments_error(int scan_type, float sample_distance, float wavelength,
                              float x_pixel_size, float y_pixel_size, float bin_size) {
  if (scan_type < kScanRadial || scan_type > kScanD) return kBaseApp + 17;
  const bool needs_wavelength = scan_type == kScanQ || scan_type == kScanD;
  if (!(bin_size > 0.0f) || !(sample_distance > 0.0f) || !(x_pixel_size > 0.0f) ||
      !(y_pixel_size > 0.0f) || (needs_wavelength && !(wavelength > 0.0f)) ||
      !std::isfinite(bin_size) || !std::isfinite(sample_distance))
    return kBaseApp + 3;
  return 0;
}

// How many pixel centres of the region lie inside the strip XC, YC, and how
// many of them a projection can use (finite, and not masked with USE_MASK).
StripPixels strip_pixels(bool use_mask, Index xmaxdat, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, std::span<const float> data,
                         std::span<const std::uint8_t> mask, std::span<const float> xc,
                         std::span<const float> yc) {
  StripPixels n;
  kzt_for_strip_rows(xc, yc, xstrelm, ystrelm, xendelm, yendelm, [&](Index j, Index i1, Index i2) {
    for (Index i = i1; i <= i2; ++i) {
      const auto e = static_cast<std::size_t>(element(i, j, xmaxdat));
      ++n.inside;
      if (std::isfinite(data[e]) && !(use_mask && mask[e] != 0)) ++n.used;
    }
  });
  return n;
}

// Whether a line (pixel coordinates) is too short to carry a projection: a
// line of less than half a pixel, such as one ending on the beam centre typed
// as printed, has no direction worth the name.
bool no_length(float x1, float y1, float x2, float y2) {
  return !(std::hypot(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1) >= 0.5);
}

}  // namespace

// The leftmost and rightmost crossings of the row centre Y0 with the four
// edges of the strip; false when the row misses it.
// How near an edge must lie to a row's centre to lie on it (pixels); a
// strip no wider has no width.
constexpr double kOnRow = 1.0e-4;

bool kzt_strip_row_crossings(std::span<const float> x, std::span<const float> y, double y0,
                             double& left, double& right) {
  bool any = false;
  left = 0.0;
  right = 0.0;
  auto take = [&](double v) {
    left = any ? std::min(left, v) : v;
    right = any ? std::max(right, v) : v;
    any = true;
  };
  for (std::size_t k = 0; k < 4; ++k) {
    const double x1 = x[k], y1 = y[k], x2 = x[k + 1], y2 = y[k + 1];
    if (std::abs(y2 - y1) <= kOnRow) {
      // An edge along the row counts when it lies on it.
      if (std::abs(y1 - y0) <= kOnRow) {
        take(x1);
        take(x2);
      }
      continue;
    }
    if (y0 < std::min(y1, y2) - kOnRow || y0 > std::max(y1, y2) + kOnRow) continue;
    take(x1 + (y0 - y1) * (x2 - x1) / (y2 - y1));
  }
  return any;
}

void kzt_strip_corners(float x1, float y1, float x2, float y2, float xa, float ya, float xb,
                       float yb, std::span<float> xv, std::span<float> yv, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_PROJECTION V0.3")) return;
  float fx = 0.0f, fy = 0.0f;
  MA_PERINTERSECT(x1, y1, x2, y2, xa, ya, fx, fy, status);
  const float dxa = xa - fx, dya = ya - fy;
  MA_PERINTERSECT(x1, y1, x2, y2, xb, yb, fx, fy, status);
  const float dxb = xb - fx, dyb = yb - fy;
  if (status != kStatusGood) return;
  xv[0] = x1 + dxa, yv[0] = y1 + dya;
  xv[1] = x2 + dxa, yv[1] = y2 + dya;
  xv[2] = x2 + dxb, yv[2] = y2 + dyb;
  xv[3] = x1 + dxb, yv[3] = y1 + dyb;
  xv[4] = xv[0], yv[4] = yv[0];
}

void KZT_INP_PROJECTION(bool /*gui*/, bool start_given, float x_start, float y_start,
                        Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                        Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                        std::span<const float> data, std::span<const std::uint8_t> mask,
                        std::string_view title, std::string_view xlabel, std::string_view ylabel,
                        std::string_view zlabel, std::span<float> xvertices,
                        std::span<float> yvertices, Status& status) {
  constexpr const char* kName = "Subroutine KZT_INP_PROJECTION V0.3";
  if (kzt_region_refused(kName, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (xaxis.size() < static_cast<std::size_t>(xmaxdat) ||
      yaxis.size() < static_cast<std::size_t>(ymaxdat) || xvertices.size() < 5 ||
      yvertices.size() < 5)
    return st_fail(status, kBaseApp + 1, kName);
  const GsDisplayedImage im =
      kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mask, xaxis,
                          yaxis, title, xlabel, ylabel, zlabel);
  for (;;) {
    std::array<float, 2> x{}, y{};
    float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;  // the line (pixel coordinates)
    if (start_given) {
      float wx = 0.0f, wy = 0.0f;
      to_data(im, x_start, y_start, wx, wy, status);
      GS_MARK(wx, wy, 1.0f, status);
      QG_SET_RUBBERBAND(1, 1, wx, wy, status);
      const bool clicked =
          clicks_on(im, "ENTER END OF PROJECTION LINE (ONE COORDINATE)",
                    {"Click on a coordinates to define the end of the",
                     "projection line of the 1-D scan."},
                    1, x, y, status);
      Status local = kStatusGood;
      QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, local);
      if (!clicked) return;
      to_pixels(im, x[0], y[0], x2, y2, status);
      x1 = 2.0f * x_start - x2;
      y1 = 2.0f * y_start - y2;
      if (status != kStatusGood) return;
      if (no_length(x1, y1, x2, y2)) {
        gs_refusal({"The line has no length: click its end away from the beam centre"}, status);
        if (status != kStatusGood) return;
        continue;
      }
      float sx = 0.0f, sy = 0.0f;
      to_data(im, x1, y1, sx, sy, status);
      GS_LINESTYLE(1, 1.0f, kGsRed, status);
      GS_LINE(sx, sy, x[0], y[0], status);
    } else {
      if (!clicks_on(im, "ENTER ENDS OF PROJECTION LINE (TWO COORDINATES)",
                     {"Click on two coordinates to define the projection",
                      "line i.e. the line to form the X-axis of the", "1-D output."},
                     2, x, y, status))
        return;
      to_pixels(im, x[0], y[0], x1, y1, status);
      to_pixels(im, x[1], y[1], x2, y2, status);
      if (status != kStatusGood) return;
      if (no_length(x1, y1, x2, y2)) {
        gs_refusal({"The line has no length: click two different points"}, status);
        if (status != kStatusGood) return;
        continue;
      }
      GS_LINESTYLE(1, 1.0f, kGsRed, status);
      GS_LINE(x[0], y[0], x[1], y[1], status);
    }
    GS_UPDATE(status);
    if (!clicks_on(im, "ENTER LIMITS OF PROJECTION REGION",
                   {"Click on two coordinates to define the extent",
                    "of the region to be projected onto the line.",
                    "These two coordinates should normally define",
                    "a line roughly perpendicular to the projection", "line."},
                   2, x, y, status))
      return;
    float xa = 0.0f, ya = 0.0f, xb = 0.0f, yb = 0.0f;
    to_pixels(im, x[0], y[0], xa, ya, status);
    to_pixels(im, x[1], y[1], xb, yb, status);
    std::array<float, 5> xv{}, yv{};
    kzt_strip_corners(x1, y1, x2, y2, xa, ya, xb, yb, xv, yv, status);
    if (status != kStatusGood) return;
    std::array<float, 5> xd{}, yd{};
    for (std::size_t k = 0; k < 5; ++k) to_data(im, xv[k], yv[k], xd[k], yd[k], status);
    GS_LINESTYLE(1, 1.0f, kGsRed, status);
    for (std::size_t k = 0; k < 4; ++k) GS_LINE(xd[k], yd[k], xd[k + 1], yd[k + 1], status);
    GS_UPDATE(status);
    bool ok = true;
    GS_INPL(true, false, true, true, "IS THE DEFINED PROJECTION REGION O.K.",
            {"A rectangle has been drawn around the region to be",
             "projected. Enter \"YES\" to proceed, or \"NO\" to",
             "re-define the projection region."},
            {"Enter \"YES\" or \"NO\" only"}, ok, status);
    if (status != kStatusGood) return;
    if (ok) {
      std::copy(xv.begin(), xv.end(), xvertices.begin());
      std::copy(yv.begin(), yv.end(), yvertices.begin());
      return;
    }
    show_image(im, status);
  }
}

void KZT_CAL_GISAXS(bool mask_in_use, int scan_type, float x_beam_centre, float y_beam_centre,
                    float sample_distance, float wavelength, float tilt_rotation,
                    float tilt_angle, bool geometrical_correction, Index xmaxdat, Index ymaxdat,
                    Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, std::span<const std::uint8_t> mask,
                    float x_pixel_size, float y_pixel_size, std::span<const float> xc,
                    std::span<const float> yc, bool variances_exist, float bin_size,
                    Index maxbins, Index nbins, std::span<float> axis, std::span<float> scan,
                    std::span<float> scan_variances, std::span<float> weights, Status& status) {
  constexpr const char* kName = "Subroutine KZT_CAL_GISAXS V0.4";
  if (st_bad(status, kName)) return;
  if (maxbins < 1) return st_fail(status, kBaseApp + 1, kName);
  if (kzt_region_refused(kName, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  const auto bins = static_cast<std::size_t>(std::max<Index>(nbins, 0));
  const bool use_mask = mask_in_use && !mask.empty();
  if (nbins < 1 || nbins > maxbins || axis.size() < bins || scan.size() < bins ||
      weights.size() < bins || (variances_exist && scan_variances.size() < bins) ||
      (use_mask && mask.size() < data.size()) || xc.size() < 5 || yc.size() < 5)
    return st_fail(status, kBaseApp + 1, kName);
  if (const Status code = gisaxs_arguments_error(scan_type, sample_distance, wavelength,
                                                 x_pixel_size, y_pixel_size, bin_size))
    return st_fail(status, code, kName);
  for (std::size_t k = 0; k < 5; ++k)
    if (!std::isfinite(xc[k]) || !std::isfinite(yc[k]))
      return st_fail(status, kBaseApp + 3, kName);

  // The line's direction; the tilt is taken in the plane of the line.
  const double xps = x_pixel_size, yps = y_pixel_size;
  const double phi = std::atan2((yc[1] - yc[0]) * yps, (xc[1] - xc[0]) * xps);
  double folded = phi;
  if (folded > M_PI / 2.0) folded -= M_PI;
  if (folded < -M_PI / 2.0) folded += M_PI;
  const double t = std::cos(folded - tilt_rotation) * tilt_angle;
  const double cp = std::cos(phi), sp = std::sin(phi), ct = std::cos(t), st = std::sin(t);
  // Half the mean pixel size: a pixel's span is one pixel wide.
  const double dist = sample_distance, h = (xps + yps) * 0.25;
  const double c = static_cast<double>(nbins / 2);

  // Sums in double: weights, weighted values and weighted squares.
  std::vector<double> sum(bins, 0.0), sum_w(bins, 0.0), sum_sq(variances_exist ? bins : 0, 0.0);
  kzt_for_strip_rows(xc, yc, xstrelm, ystrelm, xendelm, yendelm, [&](Index j, Index i1, Index i2) {
    const double dy = ((static_cast<double>(j) - 0.5) - y_beam_centre) * yps * sp;
    for (Index i = i1; i <= i2; ++i) {
      const std::size_t e = static_cast<std::size_t>(element(i, j, xmaxdat));
      if (use_mask && mask[e] != 0) continue;
      const double value = data[e];
      if (!std::isfinite(value)) continue;
      const double d = ((static_cast<double>(i) - 0.5) - x_beam_centre) * xps * cp + dy;
      const double depth = d * st + dist;
      if (depth <= 0.0) continue;
      const double r = d * dist * ct / depth;
      double lo = 0.0, hi = 0.0;
      if (!bin_span(scan_type, r, h, dist, wavelength, bin_size, lo, hi)) continue;
      lo += c;
      hi += c;
      // Bin b (1-based) covers lo-space b - 1 .. b.
      const double width = hi - lo;
      const double first = std::max(std::floor(lo), 0.0);
      const double last = std::min(std::ceil(hi), static_cast<double>(nbins));
      for (double b = first; b < last; b += 1.0) {
        const double f = (std::min(hi, b + 1.0) - std::max(lo, b)) / width;
        if (f <= 0.0) continue;
        const auto k = static_cast<std::size_t>(b);
        sum[k] += f * value;
        sum_w[k] += f;
        if (variances_exist) sum_sq[k] += f * value * value;
      }
    }
  });

  const double factor = scan_type == kScanRadial ? 1000.0 : 1.0;
  for (std::size_t k = 0; k < bins; ++k) {
    const double w = sum_w[k];
    const double mean = w > 0.0 ? sum[k] / w : 0.0;
    scan[k] = static_cast<float>(mean);
    weights[k] = static_cast<float>(w);
    if (variances_exist) {
      // The spread of the contributing values; less than one pixel reports
      // its mean, as the powder profiles do.
      double v = 0.0;
      if (w > 1.0)
        v = std::max(0.0, (sum_sq[k] - mean * mean * w) / (w - 1.0));
      else if (w > 0.01)
        v = mean;
      scan_variances[k] = static_cast<float>(v);
    }
    axis[k] = static_cast<float>(((static_cast<double>(k + 1) - c) - 0.5) * bin_size * factor);
  }
  if (!geometrical_correction || scan_type == kScanD) return;
  for (std::size_t k = 0; k < bins; ++k) {
    double two_theta = 0.0;
    if (scan_type == kScanRadial)
      two_theta = std::atan2(axis[k] / 1000.0, dist);
    else if (scan_type == kScanTwoTheta)
      two_theta = axis[k] * M_PI / 180.0;
    else
      two_theta = 2.0 * std::asin(std::clamp(axis[k] * wavelength * 1.0e9 / kFourPi, -1.0, 1.0));
    const double cc = std::cos(two_theta);
    const double g = 1.0 / (cc * cc * cc);
    if (!std::isfinite(g)) continue;
    scan[k] = static_cast<float>(scan[k] * g);
    if (variances_exist) scan_variances[k] = static_cast<float>(scan_variances[k] * g * g);
  }
}

ProjectionSettings& kzt_projection_settings() { return remembered<ProjectionSettings>(); }

namespace {

const char* const kScanTitles[] = {": Distance Projection", ": 2-theta Projection",
                                   ": Q-Space Projection", ": D-Spacings Projection"};
const char* const kScanLabels[] = {"Distance (mm)", "2-Theta Angle (Degrees)",
                                   "Q (Inverse Nanometres)", "D-spacing (Angstroms)"};

// The control form; false after CANCEL (STATUS the user escape).
bool projection_form(ProjectionSettings& s, Status& status) {
  std::vector<GsFormItem> items;
  GsFormItem type = kzt_form_item("SCAN TYPE", 9, "SCAN TYPE (D, RADIAL, 2-THETA, Q-SPACE)",
                                  "Select type of output 1-D scan");
  type.int_value = s.scan_type;
  items.push_back(type);
  items.push_back(kzt_form_logical("SUMMATION", "OUTPUT SUMMATION (NO NORMALISATION)",
                                   "Enter \"YES\" to output the sum over the strip's width",
                                   s.summation));
  items.push_back(kzt_form_logical(
      "GEOM. CORR.", "CORRECT FOR GEOMETRICAL 1/Cos**3(o) EFFECT",
      "Enter \"YES\" to correct intensities to flat plate geometry", s.geometrical_correction));
  items.push_back(kzt_form_real("MAX. D-SPACING", "MAXIMUM FOR D-SPACINGS SCANS (ANGSTROMS)",
                                "Enter maximum of the range of D-spacing scans (Angstroms)",
                                s.maximum_d, true, 1.0f, 10000.0f));
  kzt_form_clamp(items);
  int code = 0;
  GS_FORM(2, 2, {"PROJECTION 1-D SCAN", "CONTROL FORM"}, 2, 2,
          {"PROJECTION RE-BINNING CONTROL FORM", "(under development)"}, 9, items, code, status);
  if (status == kStatusGood && code == -1) status = kStatusEscape;
  if (status != kStatusGood) return false;
  s.scan_type = std::clamp(items[0].int_value, 0, 3);
  s.summation = items[1].logical_value;
  s.geometrical_correction = items[2].logical_value;
  s.maximum_d = items[3].real_value;
  return true;
}

// The bin-size form (the size in the scan's units, microns for distance).
bool bin_form(int scan_type, Index xmaxdat, float& bin_size, Index& nbins, Status& status) {
  static const char* const kPrompts[] = {
      "SIZE OF OUTPUT BINS (microns)", "SIZE OF OUTPUT BINS (degrees)",
      "SIZE OF OUTPUT BINS (Inverse nanometres)", "SIZE OF OUTPUT BINS (Angstroms)"};
  static const char* const kHelps[] = {
      "Enter size of output pixels in microns for a distance scan",
      "Enter size of output pixels in degrees for a 2-theta scan",
      "Enter size of output pixels in inverse nanometres for a Q-space scan",
      "Enter size of output pixels in Angstroms for a D-spacings scan"};
  const float scale = scan_type == kScanRadial ? 1.0e6f : 1.0f;
  std::vector<GsFormItem> items;
  items.push_back(kzt_form_real("BIN SIZE", kPrompts[scan_type], kHelps[scan_type],
                                bin_size * scale, true, 1.0e-5f, 10000.0f));
  const int most = static_cast<int>(std::clamp<Index>(xmaxdat, 2, 1 << 30));
  items.push_back(kzt_form_integer("NO. BINS", "NUMBER OF OUTPUT SCAN BINS",
                                   "NUMBER OF OUTPUT SCAN BINS",
                                   static_cast<int>(std::clamp<Index>(nbins, 2, most)), 2, most));
  kzt_form_clamp(items);
  int code = 0;
  GS_FORM(2, 2, {"OUTPUT BIN SIZE", "CONTROL FORM"}, 2, 2,
          {"OUTPUT BIN SIZE CONTROL FORM", "(under development)"}, 7, items, code, status);
  if (status == kStatusGood && code == -1) status = kStatusEscape;
  if (status != kStatusGood) return false;
  bin_size = items[0].real_value / scale;
  nbins = items[1].int_value;
  return true;
}

}  // namespace

void KZT_GUI_PROJECTION(KztDataSets& sets, bool mask_data, float& sample_distance,
                        float& wavelength, float& x_beam_centre, float& y_beam_centre,
                        float& tilt_rotation, float& tilt_angle, Status& status) {
  constexpr const char* kName = "Subroutine KZT_GUI_PROJECTION V0.4";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kName);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kName);
  if (a.data == nullptr || a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr) {
    IO_WRITE("WARNING: There are no memory arrays to hold the scan (use \"DIMENSIONS\")",
             status);
    return;
  }
  // A scan has no strip to project: its projection would be zeros.
  if (kzt_scan_refused(true, a.ynumdat, "PROJECTION", status)) return;
  ProjectionSettings s = kzt_projection_settings();
  int retstat = 0;
  IO_INQ_IKEYVALUE("SCAN_TYPE", s.scan_type, retstat, status);
  IO_INQ_RKEYVALUE("MAXIMUM_D", s.maximum_d, retstat, status);
  IO_INQ_LKEYVALUE("SCAN_SUMMATION", s.summation, retstat, status);
  IO_INQ_LKEYVALUE("GEOMETRICAL_CORRECTION", s.geometrical_correction, retstat, status);
  s.scan_type = std::clamp(s.scan_type, 0, 3);

  std::array<float, 5> xv{}, yv{};
  const std::span<const std::uint8_t> mask = kzt_current_image(sets, mask_data).mask;
  KZT_INP_PROJECTION(true, true, x_beam_centre, y_beam_centre, a.xmaxdat, a.ymaxdat, a.xstrelm,
                     a.ystrelm, a.xendelm, a.yendelm, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                     kzt_image(a.data), mask, sets.title, sets.xlabel, sets.ylabel, sets.zlabel,
                     xv, yv, status);
  if (status != kStatusGood) return;
  const StripPixels held =
      strip_pixels(!mask.empty(), a.xmaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                   a.yendelm, kzt_image(a.data), mask, xv, yv);
  if (held.used == 0) {
    gs_refusal({held.inside == 0 ? "The strip holds no pixel centre: the memory is unchanged"
                                 : "The strip holds no unmasked pixel: the memory is unchanged"},
               status);
    return;
  }

  // Copies changed by the forms, kept only when every form was confirmed.
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, sets.x_pixel_size, sets.y_pixel_size);
  float& xps = pixels.x;
  float& yps = pixels.y;
  float d = sample_distance, w = wavelength,
        xb = x_beam_centre, yb = y_beam_centre, tr = tilt_rotation, ta = tilt_angle;
  KZT_GUI_GEOMETRY(xps, yps, d, w, xb, yb, tr, ta, status);
  if (status != kStatusGood) return;
  if (!projection_form(s, status)) return;
  // A summed scan is the mean across the strip times its width: a strip of
  // no width (both limits on one row's centre) holds that row, whose sum
  // over no width is zero everywhere. Its mean, without summation, stands.
  const float width = std::hypot(xv[2] - xv[1], yv[2] - yv[1]);
  if (s.summation && !(width > kOnRow)) {
    gs_refusal({"The strip has no width to sum over: the memory is unchanged"}, status);
    return;
  }
  IO_SET_IKEYVALUE("SCAN_TYPE", s.scan_type, retstat, status);
  IO_SET_RKEYVALUE("MAXIMUM_D", s.maximum_d, retstat, status);
  IO_SET_LKEYVALUE("SCAN_SUMMATION", s.summation, retstat, status);
  IO_SET_LKEYVALUE("GEOMETRICAL_CORRECTION", s.geometrical_correction, retstat, status);
  kzt_projection_settings() = s;

  const double length = std::hypot((xv[1] - xv[0]) * static_cast<double>(xps),
                                   (yv[1] - yv[0]) * static_cast<double>(yps));
  const double p = (xps + yps) * 0.5;
  double n = std::min(std::trunc(length / p) + 2.0, static_cast<double>(a.xmaxdat));
  Index nbins = static_cast<Index>(n) / 2 * 2;
  float bin_size = static_cast<float>(p);
  if (s.scan_type == kScanTwoTheta)
    bin_size = static_cast<float>(std::atan2(p, static_cast<double>(d)) * 180.0 / kPi);
  else if (s.scan_type == kScanQ)
    bin_size = static_cast<float>(kFourPi / (w * 1.0e9) * std::sin(std::atan2(p, double(d)) / 2));
  else if (s.scan_type == kScanD)
    bin_size = s.maximum_d / static_cast<float>(std::max<Index>(nbins, 1));
  if (!bin_form(s.scan_type, a.xmaxdat, bin_size, nbins, status)) return;

  const bool variances = sets.variances_exist && a.mvariances != nullptr;
  std::vector<float> scan(static_cast<std::size_t>(nbins)), vars(variances ? scan.size() : 0),
      axis(scan.size()), weights(scan.size());
  KZT_CAL_GISAXS(!mask.empty(), s.scan_type, xb, yb, d, w, tr, ta, s.geometrical_correction,
                 a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                 kzt_image(a.data), mask, xps, yps, xv, yv, variances, bin_size, a.xmaxdat, nbins,
                 axis, scan, vars, weights, status);
  if (status != kStatusGood) return;
  if (std::none_of(weights.begin(), weights.end(), [](float w) { return w > 0.0f; })) {
    gs_refusal({"No pixel of the strip falls within the scan: the memory is unchanged"}, status);
    return;
  }
  if (s.summation) {
    for (float& v : scan) v *= width;
    for (float& v : vars) v *= width * width;
  }
  // The scan replaces the memory only now that it is complete.
  std::copy(scan.begin(), scan.end(), kzt_image(a.mdata).begin());
  std::copy(axis.begin(), axis.end(), kzt_xline(a.mxaxis).begin());
  if (variances) std::copy(vars.begin(), vars.end(), kzt_image(a.mvariances).begin());
  kzt_yline(a.myaxis)[0] = 0.5f;
  kzt_keep_pixel_sizes(pixels, sets.x_pixel_size, sets.y_pixel_size);
  sample_distance = d;
  wavelength = w;
  x_beam_centre = xb;
  y_beam_centre = yb;
  tilt_rotation = tr;
  tilt_angle = ta;
  sets.memory_defined = true;
  sets.mxnumdat = nbins;
  sets.mynumdat = 1;
  sets.mxstrelm = 1;
  sets.mystrelm = 1;
  sets.mxendelm = nbins;
  sets.myendelm = 1;
  sets.mtitle = (sets.title + kScanTitles[s.scan_type]).substr(0, kKztTextLength);
  sets.mxlabel = kScanLabels[s.scan_type];
  sets.mylabel = sets.ylabel;
  sets.mzlabel = sets.zlabel;
}

bool kzt_meridian_modulation(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                             Index yendelm, float x_beam_centre, float y_beam_centre,
                             float x_meridian, float y_meridian, std::span<float> data) {
  if (std::abs(x_meridian - x_beam_centre) <= 1.0e-12f &&
      std::abs(y_meridian - y_beam_centre) <= 1.0e-12f)
    return false;
  const double m = std::atan2(static_cast<double>(y_meridian) - y_beam_centre,
                              static_cast<double>(x_meridian) - x_beam_centre);
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index j, Index n) {
    float* row = data.data() + offset;
    const double dy = (static_cast<double>(j) - 0.5) - y_beam_centre;
    for (Index k = 0; k < n; ++k) {
      const double dx = (static_cast<double>(xstrelm + k) - 0.5) - x_beam_centre;
      // A pixel on the centre has no azimuth: it keeps its value.
      if (dx == 0.0 && dy == 0.0) continue;
      row[k] = static_cast<float>(std::abs(std::sin(std::atan2(dy, dx) - m)) * row[k]);
    }
  });
  return true;
}

void KZT_SPHERICAL_MOD(Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
                       std::span<const float> yaxis, std::string_view title,
                       std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                       Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       float x_beam_centre, float y_beam_centre, std::span<float> data,
                       Status& status) {
  constexpr const char* kName = "Subroutine KZT_SPHERICAL_MOD V0.2";
  if (kzt_region_refused(kName, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (xaxis.size() < static_cast<std::size_t>(xmaxdat) ||
      yaxis.size() < static_cast<std::size_t>(ymaxdat))
    return st_fail(status, kBaseApp + 1, kName);
  const GsDisplayedImage im =
      kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, {}, xaxis,
                          yaxis, title, xlabel, ylabel, zlabel);
  float cx = 0.0f, cy = 0.0f;
  to_data(im, x_beam_centre, y_beam_centre, cx, cy, status);
  GS_MARK(cx, cy, 1.0f, status);
  QG_SET_RUBBERBAND(1, 1, cx, cy, status);
  std::array<float, 1> x{}, y{};
  const bool clicked = clicks_on(im, "CLICK ON MERIDIAN", {"Click on meridian"}, 1, x, y, status);
  Status local = kStatusGood;
  QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, local);
  if (!clicked) {
    if (status == kStatusEscape) st_reset(status);
    return;
  }
  GS_LINESTYLE(1, 1.0f, kGsRed, status);
  GS_LINE(cx, cy, x[0], y[0], status);
  GS_UPDATE(status);
  float mx = 0.0f, my = 0.0f;
  to_pixels(im, x[0], y[0], mx, my, status);
  if (status != kStatusGood) return;
  if (!kzt_meridian_modulation(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, x_beam_centre,
                               y_beam_centre, mx, my, data)) {
    IO_WRITE("WARNING: Meridian point must not be on beam centre", status);
    return;
  }
  const double m = std::atan2(static_cast<double>(my) - y_beam_centre,
                              static_cast<double>(mx) - x_beam_centre);
  IO_WRITE("Meridian angle (degrees) = " + format_f(static_cast<float>(m * 180.0 / kPi), 12, 5),
           status);
}

}  // namespace kesta
