#include "app/diffraction/geometry.hpp"

#include <cstdint>
#include <string>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "formats/scratch_image.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {

namespace {

constexpr Status kAppBase = 110000;

// Keys in the order the geometry is read and stored.
struct GeometryKeys {
  float* value;
  const char* key;
};

void read_key(const char* key, float& value, Status& status) {
  int retstat = 0;
  IO_INQ_RKEYVALUE(key, value, retstat, status);
}

void store_key(const char* key, float value, Status& status) {
  int retstat = 0;
  IO_SET_RKEYVALUE(key, value, retstat, status);
}

// A proposed answer inside the range the prompt accepts.
float offered(float value, float lower, float upper) {
  if (!(value >= lower)) return lower;
  return value > upper ? upper : value;
}

const std::string kTiltHelp[] = {
    "The detector is ideally orthogonal to the direct beam. Its tilt is",
    "defined by two angles: the rotation angle within the ideal orthogonal",
    "plane, anti-clockwise from the X-axis (horizontal rightwards, looking",
    "from the sample to the detector), which defines the \"tilt plane\";",
    "and the tilt angle, anti-clockwise from the ideal orthogonal detector",
    "plane to the actual tilted plane, within the tilt plane.",
    "The direct beam lies in the tilt plane.",
    "Both angles are entered in degrees.",
    "(Zero tilt angle: the detector is orthogonal to the beam.)"};

}  // namespace

void KZT_INQ_GEOMETRY(bool& experiment_defined, float& x_beam_centre, float& y_beam_centre,
                      float& sample_distance, float& wavelength, float& tilt_rotation,
                      float& tilt_angle, float& detector_rotation, Status& status) {
  if (st_bad(status, "Subroutine KZT_INQ_GEOMETRY V0.1")) return;
  experiment_defined = true;
  const GeometryKeys keys[] = {{&wavelength, "WAVELENGTH"},
                               {&sample_distance, "SAMPLE_DISTANCE"},
                               {&tilt_rotation, "TILT_ROTATION"},
                               {&tilt_angle, "TILT_ANGLE"},
                               {&detector_rotation, "DETECTOR_ROTATION"},
                               {&x_beam_centre, "X_BEAM_CENTRE"},
                               {&y_beam_centre, "Y_BEAM_CENTRE"}};
  for (const GeometryKeys& k : keys) read_key(k.key, *k.value, status);
}

void KZT_SET_GEOMETRY(bool, float x_beam_centre, float y_beam_centre, float sample_distance,
                      float wavelength, float tilt_rotation, float tilt_angle,
                      float detector_rotation, Status& status) {
  if (st_bad(status, "Subroutine KZT_SET_GEOMETRY V0.1")) return;
  store_key("WAVELENGTH", wavelength, status);
  store_key("SAMPLE_DISTANCE", sample_distance, status);
  store_key("TILT_ROTATION", tilt_rotation, status);
  store_key("TILT_ANGLE", tilt_angle, status);
  store_key("DETECTOR_ROTATION", detector_rotation, status);
  store_key("X_BEAM_CENTRE", x_beam_centre, status);
  store_key("Y_BEAM_CENTRE", y_beam_centre, status);
}

void kzt_store_beam_centre(float x_beam_centre, float y_beam_centre, Status& status) {
  store_key("X_BEAM_CENTRE", x_beam_centre, status);
  store_key("Y_BEAM_CENTRE", y_beam_centre, status);
}

void kzt_store_pixel_sizes(float x_pixel_size, float y_pixel_size, Status& status) {
  store_key("X_PIXEL_SIZE", x_pixel_size, status);
  store_key("Y_PIXEL_SIZE", y_pixel_size, status);
}

DetectorPixelSizes kzt_detector_pixel_sizes(Index ynumdat, float x_pixel_size,
                                            float y_pixel_size) {
  DetectorPixelSizes sizes{x_pixel_size, y_pixel_size, ynumdat == 1};
  // An image's sizes no detector has (a damaged header's, kept by the image
  // itself) are not proposed either: the form would clamp them and store the
  // clamp.
  if (sizes.scan || !detector_pixel_size(x_pixel_size) || !detector_pixel_size(y_pixel_size))
    stored_detector_pixel_sizes(sizes.x, sizes.y);
  return sizes;
}

void kzt_keep_pixel_sizes(const DetectorPixelSizes& sizes, float& x_pixel_size,
                          float& y_pixel_size) {
  if (sizes.scan) return;
  x_pixel_size = sizes.x;
  y_pixel_size = sizes.y;
}

void KZT_INP_BEAMCENTRE(bool, float& x_beam_centre, float& y_beam_centre, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_BEAMCENTRE V0.1")) return;
  IO_INPR(false, 0.0f, 0.0f, true, "X-PIXEL COORDINATE OF BEAM CENTRE",
          {"Enter X-pixel coordinate of beam centre"}, {"Must be valid real number"},
          x_beam_centre, status);
  IO_INPR(false, 0.0f, 0.0f, true, "Y-PIXEL COORDINATE OF BEAM CENTRE",
          {"Enter Y-pixel coordinate of beam centre"}, {"Must be valid real number"},
          y_beam_centre, status);
}

void KZT_INP_DETECTORTILT(bool, float& tilt_rotation, float& tilt_angle, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_DETECTORTILT V0.1")) return;
  float rotation = offered(tilt_rotation * kDegreesPerRadian, -180.0f, 180.0f);
  float angle = offered(tilt_angle * kDegreesPerRadian, -180.0f, 180.0f);
  IO_INPR(true, -180.0f, 180.0f, true, "TILT PLANE ROTATION ANGLE (DEGREES)", kTiltHelp,
          {"Must be valid real number within given range"}, rotation, status);
  IO_INPR(true, -180.0f, 180.0f, true, "DETECTOR TILT ANGLE (DEGREES)", kTiltHelp,
          {"Must be valid real number within given range"}, angle, status);
  if (status != kStatusGood) return;
  tilt_rotation = rotation * kRadiansPerDegree;
  tilt_angle = angle * kRadiansPerDegree;
}

void KZT_INP_PIXELSIZES(bool, float& x_pixel_size, float& y_pixel_size, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_PIXELSIZES V0.1")) return;
  float x_microns = offered(x_pixel_size * 1.0e6f, 0.001f, 10000.0f);
  float y_microns = offered(y_pixel_size * 1.0e6f, 0.001f, 10000.0f);
  IO_INPR(true, 0.001f, 10000.0f, true, "X-DIRECTION PIXEL SIZE (MICRONS)",
          {"Enter X-dimension size of one raw pixel in microns "}, {"Must be valid real number"},
          x_microns, status);
  IO_INPR(true, 0.001f, 10000.0f, true, "Y-DIRECTION PIXEL SIZE (MICRONS)",
          {"Enter Y-dimension size of one raw pixel in microns "}, {"Must be valid real number"},
          y_microns, status);
  if (status != kStatusGood) return;
  x_pixel_size = x_microns * 1.0e-6f;
  y_pixel_size = y_microns * 1.0e-6f;
  kzt_store_pixel_sizes(x_pixel_size, y_pixel_size, status);
}

void KZT_INP_SAMPLEDISTANCE(bool, float& sample_distance, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_SAMPLEDISTANCE V0.1")) return;
  float millimetres = offered(sample_distance * 1000.0f, 0.1f, 100000.0f);
  IO_INPR(true, 0.1f, 100000.0f, true, "SAMPLE TO DETECTOR DISTANCE (MILLIMETRES)",
          {"Enter the distance from the centre of the sample to the point where",
           "the direct beam meets the detector, in millimetres. For an image",
           "that has been corrected for spatial distortion this is the distance",
           "to the grid mask."},
          {"Must be valid real number within given range"}, millimetres, status);
  if (status == kStatusGood) sample_distance = millimetres / 1000.0f;
}

void KZT_INP_WAVELENGTH(bool, float& wavelength, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_WAVELENGTH V0.1")) return;
  const float previous = wavelength * 1.0e10f;
  float angstroms = offered(previous, 0.0f, 100000.0f);
  IO_INPR(true, 0.0f, 100000.0f, true, "WAVELENGTH (Angstroms) (0.0 for keV )",
          {"Enter the wavelength of the X-ray radiation in Angstroms",
           "(1 Angstrom = 0.1 nm). Typical values:", "Cu K alpha 1 = 1.540614 (8.04778 keV)",
           "Mo K alpha 1 = 0.7093243 (17.47934 keV)"},
          {"Must be valid real number"}, angstroms, status);
  if (status != kStatusGood) return;
  if (angstroms != 0.0f) {
    wavelength = angstroms * 1.0e-10f;
    IO_WRITE("INFO: Energy = " + format_g(kKevAngstrom / angstroms, 14, 5) + " keV", status);
    return;
  }
  // A wavelength that is not positive has no energy to propose.
  float kev = previous > 0.0f ? offered(kKevAngstrom / previous, 0.001f, 10000.0f) : kKevAngstrom;
  IO_INPR(true, 0.001f, 10000.0f, true, "ENERGY OF RADIATION (keV)",
          {"Enter energy of X-rays in keV (an average will do)"},
          {"Must be valid real number within given range"}, kev, status);
  if (status != kStatusGood) return;
  const float result = kKevAngstrom / kev;
  IO_WRITE("INFO: Wavelength = " + format_g(result, 14, 5) + " Angstroms", status);
  wavelength = result * 1.0e-10f;
}

void KZT_GEOMETRY(bool gui, const GsDisplayedImage& image, float& x_pixel_size,
                  float& y_pixel_size, Status& status) {
  constexpr std::string_view kName = "Subroutine KZT_GEOMETRY V0.1";
  if (st_bad(status, kName)) return;
  const Index xstrelm = image.xstrelm, ystrelm = image.ystrelm;
  const Index xendelm = image.xendelm, yendelm = image.yendelm;
  if (const Status code = region_error(image.xmaxdat, image.ymaxdat, xstrelm, ystrelm, xendelm,
                                       yendelm, kAppBase)) {
    st_fail(status, code, kName);
    return;
  }
  float x_beam_centre = static_cast<float>(xstrelm + xendelm) * 0.5f;
  float y_beam_centre = static_cast<float>(ystrelm + yendelm) * 0.5f;
  float sample_distance = kDefaultSampleDistance;
  float wavelength = kDefaultWavelength;
  float tilt_rotation = 0.0f;
  float tilt_angle = 0.0f;
  float detector_rotation = 0.0f;
  bool defined = false;
  KZT_INQ_GEOMETRY(defined, x_beam_centre, y_beam_centre, sample_distance, wavelength,
                   tilt_rotation, tilt_angle, detector_rotation, status);
  {
    int method = 0;
    float x_beam = x_beam_centre * x_pixel_size, y_beam = y_beam_centre * y_pixel_size;
    float radius_1 = 0.0f, radius_2 = 0.0f, angle = 0.0f, error = 0.0f;
    KZT_BEAMCENTRE(gui, image, x_pixel_size, y_pixel_size, true, method, x_beam, y_beam,
                   radius_1, radius_2, angle, error, status);
    x_beam_centre = x_beam / x_pixel_size;
    y_beam_centre = y_beam / y_pixel_size;
  }
  if (gui) {
    // The window's road asks the rest in the geometry form, which has no
    // detector rotation: that keeps its value.
    KZT_GUI_GEOMETRY(x_pixel_size, y_pixel_size, sample_distance, wavelength, x_beam_centre,
                     y_beam_centre, tilt_rotation, tilt_angle, status);
    if (status != kStatusGood) return;
  } else {
    KZT_INP_WAVELENGTH(gui, wavelength, status);
    KZT_INP_SAMPLEDISTANCE(gui, sample_distance, status);
    KZT_INP_PIXELSIZES(gui, x_pixel_size, y_pixel_size, status);
    KZT_INP_DETECTORTILT(gui, tilt_rotation, tilt_angle, status);
    float rotation = offered(detector_rotation * kDegreesPerRadian, -360.0f, 360.0f);
    IO_INPR(true, -360.0f, 360.0f, true, "ROTATION OFFSET ANGLE OF DETECTOR (DEGREES)",
            {"Rotation angle FROM ideal X-axis (synchrotron plane) TO actual detector X-axis"},
            {"Must be within given range"}, rotation, status);
    if (status != kStatusGood) return;
    detector_rotation = rotation * kRadiansPerDegree;
  }
  KZT_SET_GEOMETRY(true, x_beam_centre, y_beam_centre, sample_distance, wavelength,
                   tilt_rotation, tilt_angle, detector_rotation, status);
}

DiffractionGeometry::DiffractionGeometry(float x_pixel_size, float y_pixel_size,
                                         float sample_distance, float wavelength,
                                         float x_beam_centre, float y_beam_centre,
                                         float tilt_rotation, float tilt_angle)
    : xps_(x_pixel_size),
      yps_(y_pixel_size),
      d_(sample_distance),
      wavelength_(wavelength),
      xc_(x_beam_centre),
      yc_(y_beam_centre),
      cr_(std::cos(-static_cast<double>(tilt_rotation))),
      sr_(std::sin(-static_cast<double>(tilt_rotation))),
      c2_(std::cos(static_cast<double>(tilt_angle)) * std::cos(static_cast<double>(tilt_angle))),
      st_(std::sin(static_cast<double>(tilt_angle))) {}

KESTA_WIDEST_VECTORS
void DiffractionGeometry::radius_row(Index j, Index xs, Index xe, std::span<double> out) const {
  // radius() for every pixel of the row with its branch as a select, so the
  // loop vectorises; the row's share of the rotation is worked out once.
  const double y = y_offset(j);
  const double xr_y = -sr_ * y, yr_y = cr_ * y;
  const std::size_t n = static_cast<std::size_t>(xe - xs + 1);
  double* o = out.data();
  if (xe > INT32_MAX) {
    for (Index i = xs; i <= xe; ++i) o[i - xs] = radius(x_offset(i), y);
    return;
  }
  const std::int32_t first = static_cast<std::int32_t>(xs);
  const double xc = xc_, xps = xps_, cr = cr_, sr = sr_, st = st_, c2 = c2_, d = d_;
  for (std::size_t k = 0; k < n; ++k) {
    // x_offset() with a 32-bit column, which converts in vector registers.
    const double x = (static_cast<double>(first + static_cast<std::int32_t>(k)) - 0.5 - xc) * xps;
    const double xr = cr * x + xr_y;
    const double yr = yr_y + sr * x;
    const double depth = xr * st + d;
    const double r = d * std::sqrt(yr * yr + xr * xr * c2) / (depth > 0.0 ? depth : 1.0);
    o[k] = depth > 0.0 ? r : -1.0;
  }
}

void DiffractionGeometry::two_theta_row(Index j, Index xs, Index xe, std::span<double> out) const {
  radius_row(j, xs, xe, out);
  for (double& v : out.first(static_cast<std::size_t>(xe - xs + 1)))
    v = v < 0.0 ? -1.0 : two_theta_of_radius(v);
}

void DiffractionGeometry::azimuth_row(Index j, Index xs, Index xe, std::span<double> out) const {
  const double y = y_offset(j);
  for (Index i = xs; i <= xe; ++i) out[static_cast<std::size_t>(i - xs)] = azimuth(x_offset(i), y);
}

void DiffractionGeometry::q_row(Index j, Index xs, Index xe, std::span<double> out) const {
  two_theta_row(j, xs, xe, out);
  for (double& v : out.first(static_cast<std::size_t>(xe - xs + 1)))
    v = v < 0.0 ? -1.0 : q_of_two_theta(v);
}

void DiffractionGeometry::d_row(Index j, Index xs, Index xe, std::span<double> out) const {
  two_theta_row(j, xs, xe, out);
  // The direct beam (2-theta 0) has no finite d-spacing: reported as -1.
  for (double& v : out.first(static_cast<std::size_t>(xe - xs + 1)))
    v = v <= 0.0 ? -1.0 : d_of_two_theta(v);
}

}  // namespace kesta
