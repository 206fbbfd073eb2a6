// Flood field to flat field: the radial profile of the source's emission,
// the geometric fall-off of a flat detector and the off-axis absorption; the
// two-sphere geometry of an image-intensifier detector; and a flat field
// folded into the distortion look-up table.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/distortion/response.hpp"
#include "app/imageops/conventions.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "formats/ascii_formats.hpp"
#include "numeric/geometry.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

constexpr double kPiSingle = 3.1415925;
// More radii than any detector has pixels: a centre typed far away.
constexpr Index kMostRadii = 100000000;

struct FlatFieldAnswers {
  float absorption = 0.0f;
  bool sizes_set = false;
  float x_pixel_size = 1.0e-4f, y_pixel_size = 1.0e-4f;
  std::string scan = "source.scan";
};

struct XriiAnswers {
  bool centre_set = false;
  float x_centre = 0.0f, y_centre = 0.0f;
  float detection_radius = 0.4f, detection_thickness = 0.0005f, detection_absorption = 0.0f;
  float vacuum_radius = 0.45f, vacuum_thickness = 0.0008f, vacuum_absorption = 0.0f;
  float source_distance = 0.3f;
};

void write_lines(std::initializer_list<const char*> lines, Status& status) {
  for (const char* line : lines) IO_WRITE(line, status);
}

}  // namespace

Index kzt_profile_radii(float x_centre, float y_centre, float x_pixel_size, float y_pixel_size,
                        Index xstrelm, Index ystrelm, Index xendelm, Index yendelm) {
  // In X-pixel sizes, as the profile is looked up: Y distances scale by the
  // ratio of the sizes (1 for square pixels, which then count plain pixels).
  const double ratio = x_pixel_size > 0.0f && y_pixel_size > 0.0f
                           ? static_cast<double>(y_pixel_size) / x_pixel_size
                           : 1.0;
  double r_max = 0.0;
  for (const Index x : {xstrelm, xendelm})
    for (const Index y : {ystrelm, yendelm})
      r_max = std::max(r_max, std::hypot(static_cast<double>(x) - x_centre,
                                         (static_cast<double>(y) - y_centre) * ratio));
  if (!(r_max < static_cast<double>(kMostRadii))) return -1;
  return static_cast<Index>(r_max) + 1;
}

bool KZT_CALPROFILE(const PolynomialFit& fit, float distance, float pixel_size, float absorption,
                    Index n, std::span<float> profile, Status& status) {
  if (st_bad(status, "Subroutine KZT_CALPROFILE V0.2")) return false;
  if (n < 0 || std::ssize(profile) < n + 1) {
    st_fail(status, kBaseApp + 1, "Subroutine KZT_CALPROFILE V0.2");
    return false;
  }
  const double e0 = fit.value(0.0f);
  if (!(e0 > 0.0)) return false;
  for (Index i = 0; i <= n; ++i) {
    const double angle = std::atan2(static_cast<double>(i) * pixel_size, distance);
    const double s = 1.0 / std::cos(angle);
    const double f =
        absorption <= 1.0e-6f ? 1.0 : (1.0 - std::pow(1.0 - absorption, s)) / absorption;
    const double e = fit.value(static_cast<float>(angle * 180.0 / kPiSingle));
    if (!(e > 0.0)) return false;
    profile[i] = static_cast<float>(s * s * s * f / (e / e0));
  }
  return true;
}

void KZT_CALFLATFIELD(Index n, std::span<const float> profile, float x_centre, float y_centre,
                      float x_pixel_size, float y_pixel_size, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                      std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CALFLATFIELD V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (n < 0 || std::ssize(profile) < n + 1 || !(x_pixel_size > 0.0f))
    return st_fail(status, kBaseApp + 1, kPosition);
  // Entry k holds radius k - 1: radius r uses entry NINT(r) + 1, within the
  // table.
  const double ratio = static_cast<double>(y_pixel_size) / x_pixel_size;
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index y, Index len) {
    const double dy = (static_cast<double>(y) - y_centre - 0.5) * ratio;
    float* row = data.data() + offset;
    for (Index i = 0; i < len; ++i) {
      const double dx = static_cast<double>(xstrelm + i) - x_centre - 0.5;
      const double r = std::sqrt(dx * dx + dy * dy);
      const Index k = r < static_cast<double>(n) ? std::llround(r) : n;
      row[i] *= profile[static_cast<std::size_t>(std::clamp<Index>(k, 0, n))];
    }
  });
}

void KZT_FLATFIELD(bool graphics, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, float& x_pixel_size, float& y_pixel_size,
                   std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_FLATFIELD V0.5";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  FlatFieldAnswers a = remembered<FlatFieldAnswers>();
  if (!a.sizes_set) {
    a.x_pixel_size = x_pixel_size;
    a.y_pixel_size = y_pixel_size;
  }
  write_lines(
      {"INFO: You are required to input  a  file which contains a list of angles",
       "      and intensities, which describe the emission of the flood-field",
       "      source against angle. The angles are in degrees from the direction",
       "      normal to the detector through the source; the intensities are in",
       "      any consistent units. Normally the angles cover from just above 0",
       "      degrees to about 30 degrees. Points behind the beam-stop, or",
       "      otherwise affected, should be left out of the list.",
       "      The list is fitted by a polynomial, which is combined with the",
       "      geometric fall-off of intensity on a flat detector and an",
       "      optional off-axis absorption correction, to convert the flood-field",
       "      image in the current data into a flat-field image. The result",
       "      replaces the current data.",
       "      (Use a two column text file: angle, intensity.)"},
      status);
  constexpr Index kMaxScan = 3000;
  std::vector<float> x(kMaxScan), y(kMaxScan);
  Index n = 0;
  FIO_IN_FREEFORMAT("Enter name of file containing 1-D 2-theta scan of source", kMaxScan, n, x, y,
                    a.scan, status);
  if (status != kStatusGood || n < 1) return;
  MA_SORT(kMaxScan, n, x, y, status);
  PolynomialFit fit;
  KZT_POLYNOMIAL(graphics, 0, kMaxScan, n, x, y, 200, fit, status);
  if (status != kStatusGood || fit.coefficients.empty()) return;
  float xc = static_cast<float>(xendelm + xstrelm) / 2.0f;
  float yc = static_cast<float>(yendelm + ystrelm) / 2.0f;
  IO_INPR(false, 0.0f, 0.0f, true, "FLAT-FIELD CENTRE X-COORDINATE",
          {"Enter X-pixel coordinate of the centre of the flood-field source"},
          {"Must be valid real number"}, xc, status);
  IO_INPR(false, 0.0f, 0.0f, true, "FLAT-FIELD CENTRE Y-COORDINATE",
          {"Enter Y-pixel coordinate of the centre of the flood-field source"},
          {"Must be valid real number"}, yc, status);
  if (status != kStatusGood) return;
  write_lines({"NOTE: !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!! !!!!!!",
               "NOTE: UNITS OF SAMPLE DETECTOR DISTANCE HAVE CHANGED TO MILLIMETRES",
               "NOTE: !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!! !!!!!!"},
              status);
  float millimetres = 250.0f;
  IO_INPR(true, 0.001f, 1000000.0f, true, "SAMPLE: DETECTOR DISTANCE (MILLIMETRES)",
          {"Enter distance from the flood-field source to the detector in millimetres"},
          {"Value must be within given range"}, millimetres, status);
  float x_microns = std::clamp(a.x_pixel_size * 1.0e6f, 0.001f, 10000.0f);
  float y_microns = std::clamp(a.y_pixel_size * 1.0e6f, 0.001f, 10000.0f);
  IO_INPR(true, 0.001f, 10000.0f, true, "PIXEL X-SIZE (MICRONS)",
          {"Enter size of a pixel in the X-direction in microns"},
          {"Value must be within given range"}, x_microns, status);
  IO_INPR(true, 0.001f, 10000.0f, true, "PIXEL Y-SIZE (MICRONS)",
          {"Enter size of a pixel in the Y-direction in microns"},
          {"Value must be within given range"}, y_microns, status);
  IO_INPR(true, 0.0f, 1.0f, true, "ON-AXIS ABSORPTION (FOR OFF-AXIS CORRECTION)",
          {"Enter the on-axis absorption of the detection layer as a fraction,",
           "e.g. 0.2 for 80% transmission, or 0.0 for no off-axis correction"},
          {"Value must be within given range"}, a.absorption, status);
  if (status != kStatusGood) return;
  a.x_pixel_size = x_microns * 1.0e-6f;
  a.y_pixel_size = y_microns * 1.0e-6f;
  a.sizes_set = true;
  remembered<FlatFieldAnswers>() = a;
  x_pixel_size = a.x_pixel_size;
  y_pixel_size = a.y_pixel_size;
  const Index radii = kzt_profile_radii(xc, yc, a.x_pixel_size, a.y_pixel_size, xstrelm, ystrelm,
                                        xendelm, yendelm);
  if (radii < 0) {
    IO_WRITE("WARNING: The flat-field centre lies too far from the data; nothing is changed",
             status);
    return;
  }
  std::vector<float> profile(static_cast<std::size_t>(radii + 1));
  if (!KZT_CALPROFILE(fit, millimetres / 1000.0f, a.x_pixel_size, a.absorption, radii, profile,
                      status)) {
    if (status == kStatusGood)
      IO_WRITE("WARNING: The fitted source emission is not positive at every angle needed;"
               " the data are unchanged",
               status);
    return;
  }
  KZT_CALFLATFIELD(radii, profile, xc, yc, a.x_pixel_size, a.y_pixel_size, xmaxdat, ymaxdat,
                   xstrelm, ystrelm, xendelm, yendelm, data, status);
  if (status == kStatusGood)
    IO_WRITE("NOTE: Corrected flat-field is in the current data array (don't EXCHANGE)", status);
}

bool KZT_CALABSORPTION(float detection_radius, float detection_thickness, float,
                       float vacuum_radius, float, float, float source_distance, float pixel_size,
                       Index n, std::span<float> profile, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_CALABSORPTION V0.1";
  if (st_bad(status, kPosition)) return false;
  if (n < 1 || std::ssize(profile) < n + 1 || !(pixel_size > 0.0f) || !(detection_radius > 0.0f)) {
    st_fail(status, kBaseApp + 1, kPosition);
    return false;
  }
  const float sx = vacuum_radius + source_distance;
  const double step = static_cast<double>(pixel_size) / detection_radius;
  const Index last = std::min<Index>(n, static_cast<Index>(std::min(kPiSingle / step, 1.0e15)));
  for (Index i = 0; i <= last; ++i) {
    const double arc = static_cast<double>(i) * step;
    const auto px = static_cast<float>(detection_radius * std::cos(arc));
    const auto py = static_cast<float>(detection_radius * std::sin(arc));
    int defined = 0, points = 0;
    float slope = 0.0f, intercept = 0.0f, x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
    MA_SLOPE(px, py, sx, 0.0f, defined, slope, intercept, status);
    if (status != kStatusGood) return false;
    if (defined == 0) {
      IO_WRITE("ERROR: The source/detector geometry is impossible, the source cannot", status);
      IO_WRITE("       be on the surface of the detection sphere", status);
      return false;
    }
    MA_LINECIRCLE(slope, intercept, detection_radius - detection_thickness, points, x1, y1, x2, y2,
                  status);
    if (status != kStatusGood) return false;
    if (points == 0) {
      IO_WRITE("ERROR: The detector cannot be hit by the X-ray !", status);
      return false;
    }
    if (points == 2 && x1 < 0.0f) {
      x1 = x2;
      y1 = y2;
    }
    profile[i] = static_cast<float>(std::hypot(static_cast<double>(x1) - px,
                                               static_cast<double>(y1) - py));
  }
  return true;
}

void KZT_XRIIFLATFIELD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, float& x_pixel_size, float& y_pixel_size,
                       std::span<const float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_XRIIFLATFIELD V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  XriiAnswers a = remembered<XriiAnswers>();
  if (!a.centre_set) {
    a.x_centre = static_cast<float>(xendelm + xstrelm) / 2.0f;
    a.y_centre = static_cast<float>(yendelm + ystrelm) / 2.0f;
    a.centre_set = true;
  }
  float xps = x_pixel_size, yps = y_pixel_size;
  if (xps == 0.0f && yps == 0.0f) xps = yps = 1.5e-4f;
  write_lines({"INFO: The detector system is modelled by two spheres of finite thicknesses:",
               "      an inner sphere where the X-rays are detected, and an outer sphere",
               "      (vacuum vessel or the detector) which attenuates the X-ray prior",
               "      to possible detection. The source position is assumed to be on-axis. ",
               " "},
              status);
  const auto real = [&](float lower, float upper, std::string_view prompt, TextLines help,
                        float& value) {
    float v = std::clamp(value, lower, upper);
    IO_INPR(true, lower, upper, true, prompt, help.view(),
            {"Must be valid real number within given range"}, v, status);
    if (status == kStatusGood) value = v;
  };
  real(0.001f, 10.0f, "RADIUS OF DETECTION LAYER (OUTER SURFACE: METRES)",
       {"Enter radius of the outer surface of the detection layer in metres"},
       a.detection_radius);
  real(1.0e-9f, 0.1f, "RADIAL THICKNESS OF DETECTION LAYER (METRES)",
       {"Enter radial thickness of the detection layer in metres"}, a.detection_thickness);
  real(0.0f, 0.1f, "DETECTION LAYER ABSORPTION COEFFICIENT (PER METRE)",
       {"Enter absorption coefficient in units per metre (multiply a value per",
        "centimetre by 100)"},
       a.detection_absorption);
  real(0.001f, 10.0f, "RADIUS OF VACUUM LAYER (OUTER SURFACE: METRES)",
       {"Enter radius of the outer surface of the vacuum vessel in metres"}, a.vacuum_radius);
  real(1.0e-9f, 0.1f, "RADIAL THICKNESS OF VACCUM/PROTECTION LAYER (METRES)",
       {"Enter radial thickness of the vacuum/protection layer in metres"}, a.vacuum_thickness);
  real(0.0f, 0.1f, "VACUUM/PROTECTION LAYER ABSORPTION COEFFICIENT (PER METRE)",
       {"Enter absorption coefficient in units per metre (multiply a value per",
        "centimetre by 100)"},
       a.vacuum_absorption);
  if (status != kStatusGood) return;
  IO_INPR(false, 0.0f, 0.0f, true, "FLAT FIELD CENTRE X-COORDINATE",
          {"Enter X-pixel coordinate of the centre of the flat field"},
          {"Must be valid real number"}, a.x_centre, status);
  IO_INPR(false, 0.0f, 0.0f, true, "FLAT FIELD CENTRE Y-COORDINATE",
          {"Enter Y-pixel coordinate of the centre of the flat field"},
          {"Must be valid real number"}, a.y_centre, status);
  real(1.0e-4f, 100000.0f, "SAMPLE TO DETECTOR (OUTER VACUUM VESSEL) DISTANCE (METRES)",
       {"Enter distance from the centre of the sample to the outer edge of the",
        "vacuum vessel in metres"},
       a.source_distance);
  float x_microns = std::clamp(xps * 1.0e6f, 0.001f, 10000.0f);
  float y_microns = std::clamp(yps * 1.0e6f, 0.001f, 10000.0f);
  real(0.001f, 10000.0f, "RAW PIXEL X-SIZE (MICRONS)", {"Enter X-size of a raw pixel in microns"},
       x_microns);
  real(0.001f, 10000.0f, "RAW PIXEL Y-SIZE (MICRONS)", {"Enter Y-size of a raw pixel in microns"},
       y_microns);
  if (status != kStatusGood) return;
  remembered<XriiAnswers>() = a;
  x_pixel_size = x_microns * 1.0e-6f;
  y_pixel_size = y_microns * 1.0e-6f;
  const Index radii =
      kzt_profile_radii(a.x_centre, a.y_centre, x_pixel_size, y_pixel_size, xstrelm, ystrelm,
                        xendelm, yendelm);
  if (radii >= 1) {
    std::vector<float> profile(static_cast<std::size_t>(radii + 1), 0.0f);
    KZT_CALABSORPTION(a.detection_radius, a.detection_thickness, a.detection_absorption,
                      a.vacuum_radius, a.vacuum_thickness, a.vacuum_absorption, a.source_distance,
                      x_pixel_size, radii, profile, status);
  }
  if (status == kStatusGood) IO_WRITE("NOTE: The current data have not been changed.", status);
}

void KZT_FFDCLUTC(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                  std::span<const float> flat_field, DistortionTable& t, int& retstat) {
  retstat = 1;
  if (xnumdat != t.xnumlut || ynumdat != t.ynumlut || xnumdat < 1 || ynumdat < 1 ||
      xnumdat > xmaxdat || ynumdat > ymaxdat || std::ssize(flat_field) < xmaxdat * ymaxdat ||
      t.xnumlut > t.xmaxlut || t.ynumlut > t.ymaxlut)
    return;
  retstat = 0;
  for (Index y = 0; y < t.ynumlut; ++y)
    for (Index x = 0; x < t.xnumlut; ++x) {
      const Index k = y * t.xmaxlut + x;
      const Index tx = x + t.x_shifts[k], ty = y + t.y_shifts[k];
      std::uint8_t* w = t.fractions.data() + 9 * k;
      for (Index r = 0; r < 3; ++r)
        for (Index c = 0; c < 3; ++c) {
          std::uint8_t& f = w[3 * r + c];
          const Index cx = tx + c, cy = ty + r;
          if (f == 0 || cx < 0 || cx >= t.xnumlut || cy < 0 || cy >= t.ynumlut) continue;
          const double v = static_cast<double>(flat_field[cy * xmaxdat + cx]) * f + 0.49999;
          if (v > 255.0 || std::isnan(v)) {
            f = 255;
            retstat = -1;
          } else {
            f = static_cast<std::uint8_t>(v > 0.0 ? static_cast<int>(v) : 0);
          }
        }
    }
}

}  // namespace kesta
