#include "app/diffraction/integrate.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/cake.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/main/kzt_common.hpp"
#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {

namespace {

constexpr Status kAppBase = 110000;
// The largest angle whose tangent is taken: 90 degrees has none.
constexpr float kLargestAngle = 89.999f * kRadiansPerDegree;

struct ScanText {
  const char* title;
  const char* xlabel;
};
constexpr ScanText kScanTexts[] = {{": Radial Scan", "Radial Distance (mm)"},
                                   {": 2-theta Scan", "2-Theta Angle (Degrees)"},
                                   {": Q-Space Scan", "Q (Inverse Nanometres)"},
                                   {": D-Spacing Scan", "D-spacing (Angstroms)"}};

// Kept between integrations.
struct IntegrateSaved {
  int scan_type = kScanTwoTheta;
  bool conserve_intensity = false;
  float maximum_d = 20.0f;
} integrate_saved;

IntegrateForms integrate_forms;

}  // namespace

IntegrateForms& kzt_integrate_forms() { return integrate_forms; }

void KZT_INQ_INTEGRATE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, float& x_pixel_size, float& y_pixel_size,
                       float& sample_distance, float& wavelength, float& x_beam_centre,
                       float& y_beam_centre, float& tilt_rotation, float& tilt_angle,
                       float& outer_limit, int& scan_type, float& maximum_d,
                       bool& conserve_intensity, bool& correct_polarisation, float& polarisation,
                       bool& geometry, float& max_2theta, Index& num_bins, int& lorentz_geometry,
                       float& step, float& qmax, Status& status) {
  constexpr std::string_view kName = "Subroutine KZT_INQ_INTEGRATE V0.1";
  if (st_bad(status, kName)) return;
  if (const Status code = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                       kAppBase))
    return st_fail(status, code, kName);
  if (integrate_forms.geometry == nullptr || integrate_forms.control == nullptr) {
    kzt_not_available("INTEGRATE", status);
    status = kStatusEscape;
    return;
  }
  integrate_forms.geometry(x_pixel_size, y_pixel_size, sample_distance, wavelength,
                           x_beam_centre, y_beam_centre, tilt_rotation, tilt_angle, status);
  if (status != kStatusGood) return;

  double outer = 0.0;
  for (const Index x : {xstrelm, xendelm})
    for (const Index y : {ystrelm, yendelm})
      outer = std::max(outer, std::hypot((x - static_cast<double>(x_beam_centre)) * x_pixel_size,
                                         (y - static_cast<double>(y_beam_centre)) * y_pixel_size));
  outer_limit = static_cast<float>(outer);
  const double smallest = std::min(x_pixel_size, y_pixel_size);
  num_bins = std::clamp<Index>(std::llround(outer / smallest), 1, xmaxdat);
  max_2theta = std::atan2(outer_limit, sample_distance);

  geometry = lorentz_geometry == 1;
  if (lorentz_geometry != 0 && lorentz_geometry != 1)
    IO_WRITE("PANIC: The type of Lorentz/geometrical correction is unknown", status);

  // Offered values inside the ranges the form accepts.
  IntegrateControl form;
  form.scan_type = std::clamp(scan_type, 0, 3);
  form.conserve_intensity = conserve_intensity;
  form.correct_polarisation = correct_polarisation;
  form.polarisation = std::clamp(polarisation, -1.0f, 1.0f);
  form.geometry = geometry;
  form.max_2theta = std::clamp(max_2theta, 0.001f * kRadiansPerDegree, 90.0f * kRadiansPerDegree);
  form.num_bins = std::clamp<Index>(num_bins, 2, std::max<Index>(xmaxdat, 2));
  form.maximum_d = std::clamp(maximum_d, 1.0f, 10000.0f);
  integrate_forms.control(xmaxdat, form, status);
  if (status != kStatusGood) return;

  scan_type = form.scan_type;
  conserve_intensity = form.conserve_intensity;
  correct_polarisation = form.correct_polarisation;
  polarisation = form.polarisation;
  geometry = form.geometry;
  num_bins = std::clamp<Index>(form.num_bins, 1, xmaxdat);
  maximum_d = form.maximum_d;
  lorentz_geometry = geometry ? 1 : 0;
  int retstat = 0;
  IO_SET_IKEYVALUE("SCAN_TYPE", scan_type, retstat, status);
  const float angle = std::clamp(form.max_2theta, 0.0f, kLargestAngle);
  outer_limit = std::tan(angle) * sample_distance;
  max_2theta = std::atan2(outer_limit, sample_distance);
  step = 0.0f;
  qmax = 0.0f;
  if (scan_type == kScanTwoTheta) {
    // Rounded to a thousandth of a degree, never to nothing.
    const float degrees = max_2theta * kDegreesPerRadian / static_cast<float>(num_bins);
    step = std::max(std::round(degrees * 1000.0f) / 1000.0f, 0.001f) * kRadiansPerDegree;
    max_2theta = static_cast<float>(num_bins) * step;
  } else if (scan_type == kScanQ && wavelength > 0.0f) {
    qmax = std::sin(max_2theta / 2.0f) * 12.56637f / (wavelength * 1.0e10f);
    step = qmax / static_cast<float>(num_bins);
  }
}

void KZT_INTEGRATE(KztDataSets& sets, bool mask_data, float& x_pixel_size,
                   float& y_pixel_size, float& sample_distance, float& wavelength,
                   bool& correct_polarisation, float& polarisation, int& lorentz_geometry,
                   float& x_beam_centre, float& y_beam_centre, float& tilt_rotation,
                   float& tilt_angle, Status& status) {
  constexpr std::string_view kName = "Subroutine KZT_INTEGRATE V0.1";
  if (st_bad(status, kName)) return;
  KztArrays& a = vosq_kzt_arrays;
  if (a.xmaxdat < 1) return st_fail(status, kAppBase + 1, kName);
  if (a.ymaxdat < 1) return st_fail(status, kAppBase + 2, kName);
  IntegrateSaved& saved = integrate_saved;
  int retstat = 0;
  IO_INQ_IKEYVALUE("SCAN_TYPE", saved.scan_type, retstat, status);
  IO_INQ_RKEYVALUE("MAXIMUM_D", saved.maximum_d, retstat, status);

  float outer_limit = 0, max_2theta = 0, step = 0, qmax = 0;
  Index num_bins = 1;
  bool geometry = false;
  DetectorPixelSizes pixels = kzt_detector_pixel_sizes(a.ynumdat, x_pixel_size, y_pixel_size);
  KZT_INQ_INTEGRATE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, pixels.x,
                    pixels.y, sample_distance, wavelength, x_beam_centre, y_beam_centre,
                    tilt_rotation, tilt_angle, outer_limit, saved.scan_type, saved.maximum_d,
                    saved.conserve_intensity, correct_polarisation, polarisation, geometry,
                    max_2theta, num_bins, lorentz_geometry, step, qmax, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  kzt_keep_pixel_sizes(pixels, x_pixel_size, y_pixel_size);
  IO_SET_IKEYVALUE("SCAN_TYPE", saved.scan_type, retstat, status);
  IO_SET_RKEYVALUE("MAXIMUM_D", saved.maximum_d, retstat, status);
  if (a.mdata == nullptr || a.mxaxis == nullptr || a.myaxis == nullptr) {
    IO_WRITE("WARNING: There are no memory arrays to hold the scan", status);
    return;
  }

  std::vector<float> weights(static_cast<std::size_t>(num_bins));
  float azimuth_step = 0, radial_step = 0, radial_start = 0;
  KZT_CAL2_CAKE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_image(a.data), kzt_current_image(sets, mask_data).mask,
                saved.conserve_intensity, saved.scan_type, saved.maximum_d, pixels.x, pixels.y,
                sample_distance, wavelength, x_beam_centre, y_beam_centre, 0.0f,
                360.0f, 0.0f, outer_limit, tilt_rotation, tilt_angle, num_bins, 1,
                correct_polarisation, polarisation, lorentz_geometry, a.xmaxdat, a.ymaxdat,
                num_bins, 1, azimuth_step, radial_step, radial_start, weights, kzt_image(a.mdata),
                status);
  if (status != kStatusGood) return;

  const std::span<float> axis = kzt_xline(a.mxaxis);
  for (Index i = 1; i <= num_bins; ++i) {
    const double centre = (static_cast<double>(i) - 0.5) * radial_step;
    double value = centre + radial_start;
    if (saved.scan_type == kScanRadial) value = centre * 1000.0;
    if (saved.scan_type == kScanTwoTheta) value *= kDegreesPerRadian;
    axis[static_cast<std::size_t>(i - 1)] = static_cast<float>(value);
  }
  a.myaxis[0] = 0.5f;
  const ScanText& text = kScanTexts[saved.scan_type];
  sets.mtitle = (sets.title.substr(0, static_cast<std::size_t>(SLEN(sets.title))) + text.title)
                    .substr(0, kKztTextLength);
  sets.mxlabel = text.xlabel;
  sets.mylabel = "N.A.";
  sets.mzlabel = sets.zlabel;
  sets.mxnumdat = num_bins;
  sets.mynumdat = 1;
  sets.mxstrelm = 1;
  sets.mystrelm = 1;
  sets.mxendelm = num_bins;
  sets.myendelm = 1;
  sets.memory_defined = true;
  KZT_EXCHANGE(sets, status);
}

void KZT_INP_POLARISATION(bool& correct_polarisation, float& polarisation,
                          int& lorentz_geometry, Status& status) {
  constexpr std::string_view kName = "Subroutine KZT_INP_POLARISATION V0.1";
  if (st_bad(status, kName)) return;
  if (lorentz_geometry >= 2) return st_fail(status, kAppBase + 17, kName);
  IO_INPL(true, false, true, true, "CORRECT FOR X-RAY BEAM POLARISATION",
          {"KESTA takes the polarisation of the beam into account as a function",
           "of both 2-theta and azimuth, which a 1-D scan cannot do afterwards.",
           "Enter \"YES\" to divide the intensities by the polarisation factor.",
           "Data corrected here must not be corrected again by later software",
           "(e.g. a Rietveld refinement program)."},
          {"Enter \"YES\" or \"NO\""}, correct_polarisation, status);
  if (status != kStatusGood) return;
  if (correct_polarisation) {
    polarisation = std::clamp(polarisation, -1.0f, 1.0f);
    IO_INPR(true, -1.0f, 1.0f, true, "BEAM POLARISATION (AT SAMPLE)",
            {"Enter the polarisation of the main beam at the sample:",
             "(I_h - I_v) / (I_h + I_v), horizontal corresponding to the",
             "X-direction of the image. For a synchrotron it is normally positive",
             "and approaches 1.0; it depends on the source, the mirrors and the",
             "monochromator."},
            {"Must be valid real number within given range"}, polarisation, status);
    if (status != kStatusGood) return;
  }
  static const std::string kChoices[] = {"NONE", "PARTIAL POWDER (2-THETA SCAN)"};
  IO_WRITE("Ready for input of Lorentz Geometry", status);
  std::string choice = kChoices[lorentz_geometry == 1 ? 1 : 0];
  do {
    IO_MENU(true, "TYPE OF LORENTZIAN CORRECTION TO APPLY",
            {"NONE: No correction factors are applied",
             "PARTIAL POWDER (2-THETA SCAN): The intensities of the flat detector",
             "are corrected by 1 / cos^3(2-theta) to those of a 2-theta scan",
             "with a single counter, so that powder diffraction software can",
             "apply its own Lorentz corrections.",
             "(Use \"PARTIAL POWDER\" for scans that go to Rietveld refinement",
             "programs.)"},
            {"ENTER ONE OF AVAILABLE CHOICES"}, 2, kChoices, choice, status);
    if (status != kStatusGood) return;
  } while (choice == "null");
  if (choice == kChoices[0]) {
    lorentz_geometry = 0;
  } else if (choice == kChoices[1]) {
    lorentz_geometry = 1;
  } else {
    IO_WRITE("ERROR: Unknown user choice", status);
  }
}

void KZT_LORENTZ(int lorentz_geometry, bool variances_exist, Index xmaxdat, Index num,
                 std::span<const float> axis, std::span<float> data, std::span<float> variances,
                 Status& status) {
  constexpr std::string_view kName = "Subroutine KZT_LORENTZ V0.1";
  if (st_bad(status, kName)) return;
  if (xmaxdat < 1) return st_fail(status, kAppBase + 1, kName);
  const auto count = static_cast<std::size_t>(num);
  if (num < 1 || num > xmaxdat || axis.size() < count || data.size() < count ||
      (variances_exist && variances.size() < count))
    return st_fail(status, kAppBase + 5, kName);
  if (lorentz_geometry != 1) return;
  for (std::size_t i = 0; i < count; ++i) {
    // A flat detector sees no 2-theta of 90 degrees or more: left alone.
    if (!(std::abs(axis[i]) < 90.0f)) continue;
    const double c = std::cos(static_cast<double>(axis[i]) * kRadiansPerDegree);
    const double f = 1.0 / (c * c * c);
    data[i] = static_cast<float>(data[i] * f);
    if (variances_exist) variances[i] = static_cast<float>(variances[i] * f * f);
  }
}

}  // namespace kesta
