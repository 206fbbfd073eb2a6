#include "app/diffraction/simulation.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/profiles1d.hpp"

namespace kesta {

namespace {

// A proposed answer inside the range the prompt accepts.
float offered(float value, float lower, float upper) {
  if (!(value >= lower)) return lower;
  return value > upper ? upper : value;
}

std::size_t at(Index i, Index j, Index xmaxdat) {
  return static_cast<std::size_t>((j - 1) * xmaxdat + (i - 1));
}

// The geometry stored by the last command, over the defaults where a key is
// absent: the region's centre, the given distance and wavelength, no tilt.
PowderSettings stored_geometry(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                               float sample_distance, float wavelength, Status& status) {
  PowderSettings g;
  g.x_beam_centre = static_cast<float>(xstrelm + xendelm) * 0.5f;
  g.y_beam_centre = static_cast<float>(ystrelm + yendelm) * 0.5f;
  g.sample_distance = sample_distance;
  g.wavelength = wavelength;
  bool defined = false;
  KZT_INQ_GEOMETRY(defined, g.x_beam_centre, g.y_beam_centre, g.sample_distance, g.wavelength,
                   g.tilt_rotation, g.tilt_angle, g.detector_rotation, status);
  return g;
}

// Remembered by POLARISATION EFFECT and RING (ADD POWDER RING).
struct SimulationState {
  float polarisation = 0.96f;
  float ring_two_theta = 5.0f * kRadiansPerDegree;
  float ring_intensity = 500.0f;
  float ring_sigma_pixels = 2.0f;
  float sample_distance = kDefaultSampleDistance;
  float wavelength = kDefaultWavelength;
};
SimulationState simulation_state;

}  // namespace

void kzt_apply_polarisation(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                            Index xendelm, Index yendelm, float x_pixel_size, float y_pixel_size,
                            float sample_distance, float x_beam_centre, float y_beam_centre,
                            float polarisation, bool variances_exist, std::span<float> data,
                            std::span<float> variances, Status& status) {
  constexpr const char* kName = "Subroutine kzt_apply_polarisation V0.1";
  if (st_bad(status, kName)) return;
  const std::size_t vsize = variances_exist ? variances.size() : data.size();
  if (const Status e = arrays_region_error({{xmaxdat, ymaxdat, data.size()},
                                            {xmaxdat, ymaxdat, vsize}},
                                           xstrelm, ystrelm, xendelm, yendelm, kBaseApp))
    return st_fail(status, e, kName);
  const DiffractionGeometry g(x_pixel_size, y_pixel_size, sample_distance, kDefaultWavelength,
                              x_beam_centre, y_beam_centre, 0.0f, 0.0f);
  const auto width = static_cast<std::size_t>(xendelm - xstrelm + 1);
  const double dd = static_cast<double>(sample_distance) * sample_distance;
  std::vector<double> radius(width);
  for (Index j = ystrelm; j <= yendelm; ++j) {
    g.radius_row(j, xstrelm, xendelm, radius);
    const double y = g.y_offset(j);
    float* row = data.data() + at(xstrelm, j, xmaxdat);
    float* vrow = variances_exist ? variances.data() + at(xstrelm, j, xmaxdat) : nullptr;
    for (std::size_t k = 0; k < width; ++k) {
      const double c = dd / (radius[k] * radius[k] + dd);
      const double f = polarisation_factor(
          c, DiffractionGeometry::cos_twice_azimuth(g.x_offset(xstrelm + static_cast<Index>(k)), y),
          polarisation);
      row[k] = static_cast<float>(f * row[k]);
      if (vrow != nullptr) vrow[k] = static_cast<float>(f * f * vrow[k]);
    }
  }
}

void KZT_POLARISATION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, float& x_pixel_size, float& y_pixel_size,
                      bool variances_exist, std::span<float> data, std::span<float> variances,
                      Status& status) {
  constexpr const char* kName = "Subroutine KZT_POLARISATION V0.1";
  if (st_bad(status, kName)) return;
  if (const Status e = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseApp))
    return st_fail(status, e, kName);
  SimulationState& st = simulation_state;
  PowderSettings g = stored_geometry(xstrelm, ystrelm, xendelm, yendelm, kDefaultSampleDistance,
                                     kDefaultWavelength, status);
  float polarisation = st.polarisation;
  float xps = x_pixel_size, yps = y_pixel_size;
  kzt_polarisation_form(polarisation, xps, yps, g.sample_distance, g.x_beam_centre,
                        g.y_beam_centre, status);
  if (status != kStatusGood) return;
  st.polarisation = polarisation;
  x_pixel_size = xps;
  y_pixel_size = yps;
  GS_FPROMPT(2, 2, {"WORKING: CALCULATING POLARISATION", "EFFECT ON INTENSITY VALUES"}, status);
  kzt_apply_polarisation(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, x_pixel_size,
                         y_pixel_size, g.sample_distance, g.x_beam_centre, g.y_beam_centre,
                         polarisation, variances_exist, data, variances, status);
}

void KZT_POWDERRING(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, float& x_pixel_size, float& y_pixel_size,
                    std::span<float> data, Status& status) {
  constexpr const char* kName = "Subroutine KZT_POWDERRING V0.1";
  if (st_bad(status, kName)) return;
  if (const Status e = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseApp))
    return st_fail(status, e, kName);
  SimulationState& st = simulation_state;
  PowderSettings g = stored_geometry(xstrelm, ystrelm, xendelm, yendelm, st.sample_distance,
                                     st.wavelength, status);
  float xps = x_pixel_size, yps = y_pixel_size;
  KZT_INP_PIXELSIZES(false, xps, yps, status);
  KZT_INP_BEAMCENTRE(false, g.x_beam_centre, g.y_beam_centre, status);
  KZT_INP_SAMPLEDISTANCE(false, g.sample_distance, status);
  KZT_INP_DETECTORTILT(false, g.tilt_rotation, g.tilt_angle, status);
  float degrees = offered(st.ring_two_theta * kDegreesPerRadian, 0.0f, 90.0f);
  float intensity = st.ring_intensity;
  // A width of 0 would divide by zero: the smallest width is a thousandth of a pixel.
  float sigma = offered(st.ring_sigma_pixels, 0.001f, 1.7e38f);
  IO_INPR(true, 0.0f, 90.0f, true, "OPENING ANGLE OF DIFFRACTION RING (DEGREES)",
          {"Enter 2 theta angle of diffraction ring (degrees)"}, {"Must be valid real number"},
          degrees, status);
  IO_INPR(false, 0.0f, 0.0f, true, "PEAK MAXIMUM INTENSITY",
          {"Enter maximum intensity of powder diffraction ring"}, {"Must be valid real number"},
          intensity, status);
  IO_INPR(true, 0.001f, 1.7e38f, true, "STANDARD DEVIATION WIDTH (X-PIXELS) OF RADIAL PROFILE",
          {"Radial peak width of diffraction ring in pixel units"}, {"Must be valid real number"},
          sigma, status);
  if (status != kStatusGood) return;
  x_pixel_size = xps;
  y_pixel_size = yps;
  st.ring_two_theta = degrees * kRadiansPerDegree;
  st.ring_intensity = intensity;
  st.ring_sigma_pixels = sigma;
  st.sample_distance = g.sample_distance;
  KZT_ADDPOWDERRING(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xps, yps,
                    g.x_beam_centre, g.y_beam_centre, g.sample_distance, st.ring_two_theta,
                    intensity, sigma * xps, g.tilt_rotation, g.tilt_angle, data, status);
  KZT_SET_GEOMETRY(true, g.x_beam_centre, g.y_beam_centre, g.sample_distance, g.wavelength,
                   g.tilt_rotation, g.tilt_angle, g.detector_rotation, status);
}

void KZT_ADDPOWDERRING(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, float x_pixel_size, float y_pixel_size, float x_beam_centre,
                       float y_beam_centre, float sample_distance, float two_theta,
                       float intensity, float sigma, float tilt_rotation, float tilt_angle,
                       std::span<float> data, Status& status) {
  constexpr const char* kName = "Subroutine KZT_ADDPOWDERRING V0.1";
  if (st_bad(status, kName)) return;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseMath))
    return st_fail(status, e, kName);
  if (!(sigma > 0.0f) || !(x_pixel_size > 0.0f) || !(y_pixel_size > 0.0f))
    return st_fail(status, kBaseMath + 21, kName);
  // A ring at 90 degrees or beyond never meets the detector plane.
  const double d = sample_distance, t = two_theta;
  const double ring = d * std::tan(t);
  if (!(std::cos(t) > 0.0) || !std::isfinite(ring)) return;
  // The cone of the ring cut by the tilted plane, in the tilt plane's frame
  // (u along it, v across): rho is D tan t exactly on the ring, and s the
  // distance from it in standard deviations.
  const double cr = std::cos(static_cast<double>(tilt_rotation));
  const double sr = std::sin(static_cast<double>(tilt_rotation));
  const double st = std::sin(static_cast<double>(tilt_angle));
  const double ct = std::cos(static_cast<double>(tilt_angle));
  const double tan2 = std::tan(t) * std::tan(t);
  const double linear = 2.0 * d * st * tan2, square = st * st * tan2 - ct * ct;
  const double reach = 5.0;
  for (Index j = ystrelm; j <= yendelm; ++j) {
    const double y = ((static_cast<double>(j) - 0.5) - y_beam_centre) * y_pixel_size;
    float* row = data.data() + at(xstrelm, j, xmaxdat);
    for (Index i = xstrelm; i <= xendelm; ++i) {
      const double x = ((static_cast<double>(i) - 0.5) - x_beam_centre) * x_pixel_size;
      const double u = x * cr + y * sr, v = -x * sr + y * cr;
      const double rho = std::sqrt(std::abs(linear * u + square * u * u - v * v));
      const double off = std::abs(rho - ring) / sigma;
      if (off <= reach) row[i - xstrelm] += intensity * gaussian_value(static_cast<float>(off), 1);
    }
  }
}

bool kzt_rings_from_scan(std::span<const float> angles, std::span<const float> values,
                         Index xmaxdat, Index ymaxdat, Index mxstrelm, Index mystrelm,
                         Index mxendelm, Index myendelm, float x_pixel_size, float y_pixel_size,
                         const PowderSettings& s, std::span<float> mdata, Status& status) {
  constexpr const char* kName = "Subroutine KZT_2THETATORINGS V0.1";
  if (st_bad(status, kName)) return false;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, mxstrelm, mystrelm, mxendelm,
                                          myendelm, mdata.size(), kBaseApp)) {
    st_fail(status, e, kName);
    return false;
  }
  const std::size_t n = std::min(angles.size(), values.size());
  if (n < 2 || !std::is_sorted(angles.begin(), angles.begin() + static_cast<std::ptrdiff_t>(n),
                               std::less_equal<float>())) {
    IO_WRITE("WARNING: The 2-theta axis of the scan must increase from point to point", status);
    return false;
  }
  const DiffractionGeometry g(x_pixel_size, y_pixel_size, s.sample_distance, kDefaultWavelength,
                              s.x_beam_centre, s.y_beam_centre, s.tilt_rotation, s.tilt_angle);
  const auto width = static_cast<std::size_t>(mxendelm - mxstrelm + 1);
  std::vector<double> radius(width);
  const double dd = static_cast<double>(s.sample_distance) * s.sample_distance;
  const double first = angles[0], last = angles[n - 1];
  std::size_t k = 0;  // the bracketing pair k, k + 1 of the previous pixel
  const Index rows = myendelm - mystrelm + 1;
  for (Index j = mystrelm; j <= myendelm; ++j) {
    g.radius_row(j, mxstrelm, mxendelm, radius);
    const double y = g.y_offset(j);
    float* row = mdata.data() + at(mxstrelm, j, xmaxdat);
    for (std::size_t i = 0; i < width; ++i) {
      // Behind the sample plane there is no 2-theta and no intensity.
      if (radius[i] < 0.0) {
        row[i] = 0.0f;
        continue;
      }
      const double degrees = g.two_theta_of_radius(radius[i]) * (180.0 / M_PI);
      double value;
      if (degrees <= first) {
        value = values[0];
      } else if (degrees >= last) {
        value = values[n - 1];
      } else {
        while (k > 0 && angles[k] > degrees) --k;
        while (k + 2 < n && angles[k + 1] < degrees) ++k;
        const double f = (degrees - angles[k]) / (static_cast<double>(angles[k + 1]) - angles[k]);
        value = values[k] + f * (static_cast<double>(values[k + 1]) - values[k]);
      }
      // cos^2(2-theta), and the flat detector's cos^3.
      const double c = dd / (radius[i] * radius[i] + dd);
      value *= c * std::sqrt(c);
      if (s.correct_polarisation)
        value *= polarisation_factor(
            c,
            DiffractionGeometry::cos_twice_azimuth(g.x_offset(mxstrelm + static_cast<Index>(i)), y),
            s.polarisation);
      row[i] = static_cast<float>(value);
    }
    const Index done = j - mystrelm + 1;
    if (done % 500 == 0)
      IO_WRITE("INFO: Number of rows treated = " + format_i(done, 6) + " (" +
                   format_i(done * 100 / rows, 3) + "%)",
               status);
  }
  return status == kStatusGood;
}

void KZT_2THETATORINGS(KztDataSets& sets, PowderSettings& s, Status& status) {
  constexpr const char* kName = "Subroutine KZT_2THETATORINGS V0.1";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (const Status e = dimension_error(a.xmaxdat, a.ymaxdat, kBaseApp))
    return st_fail(status, e, kName);
  if (a.xendelm - a.xstrelm < 2 || a.yendelm - a.ystrelm > 1) {
    io_write_lines({"WARNING: The 2-theta scan needs to be defined in the X-direction",
                    "         whereas the input data appears to be defined in the",
                    "         Y-direction. Maybe you need to use the \"TRANSPOSE\" command",
                    "         in the keyboard interface main menu."},
                   status);
    return;
  }
  std::array<int, 4> region = {
      1, 1, static_cast<int>(std::min<Index>(a.xmaxdat, std::numeric_limits<int>::max())),
      static_cast<int>(std::min<Index>(a.ymaxdat, std::numeric_limits<int>::max()))};
  PowderSettings g = s;
  // The output image is the detector's: a scan's bin widths are no pixel
  // sizes to propose for it.
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, sets.x_pixel_size, sets.y_pixel_size);
  kzt_rings_form(a.xmaxdat, a.ymaxdat, region, pixels.x, pixels.y, g, status);
  if (status != kStatusGood) return;
  if (region[0] > region[2] || region[1] > region[3]) {
    IO_WRITE("WARNING: The output region ends before it starts; nothing has been changed",
             status);
    return;
  }
  s = g;
  kzt_keep_pixel_sizes(pixels, sets.x_pixel_size, sets.y_pixel_size);
  GS_FPROMPT(1, 1, {"WORKING: SIMULATING PATTERN"}, status);
  const std::span<const float> image = kzt_image(a.data);
  const std::span<const float> axis = kzt_xline(a.xaxis);
  const auto first = static_cast<std::size_t>(a.xstrelm - 1);
  const auto count = static_cast<std::size_t>(a.xendelm - a.xstrelm + 1);
  if (!kzt_rings_from_scan(axis.subspan(first, count),
                      image.subspan(at(a.xstrelm, a.ystrelm, a.xmaxdat), count), a.xmaxdat,
                      a.ymaxdat, region[0], region[1], region[2], region[3], pixels.x,
                      pixels.y, g, kzt_image(a.mdata), status))
    return;
  sets.mxnumdat = region[2];
  sets.mynumdat = region[3];
  sets.mxstrelm = region[0];
  sets.mystrelm = region[1];
  sets.mxendelm = region[2];
  sets.myendelm = region[3];
  const std::span<float> mx = kzt_xline(a.mxaxis), my = kzt_yline(a.myaxis);
  for (Index i = 1; i <= sets.mxnumdat; ++i) mx[static_cast<std::size_t>(i - 1)] = i - 0.5f;
  for (Index j = 1; j <= sets.mynumdat; ++j) my[static_cast<std::size_t>(j - 1)] = j - 0.5f;
  sets.mtitle = sets.title;
  sets.mxlabel = "X-direction";
  sets.mylabel = "Y-direction";
  sets.mzlabel = sets.zlabel;
  sets.mx_pixel_size = pixels.x;
  sets.my_pixel_size = pixels.y;
  sets.memory_defined = true;
}

}  // namespace kesta
