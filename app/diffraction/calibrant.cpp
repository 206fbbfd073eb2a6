#include "app/diffraction/calibrant.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/circle_fits.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate_forms.hpp"
#include "app/diffraction/polarisation_fit.hpp"
#include "app/diffraction/ring_coordinates.hpp"
#include "app/diffraction/tilt_centre.hpp"
#include "app/imageops/conventions.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/ascii_formats.hpp"
#include "graphics/system/drawing.hpp"
#include "numeric/modelfit.hpp"

namespace kesta {

namespace {

constexpr float kMissing = -1.7e38f;
constexpr double kHalfTurn = 3.1415925;
constexpr int kMaxClicks = 60;
constexpr int kRed = 3;
constexpr int kWhite = 2;

CalibrantState calibrant_state;

const CalibrantTable kCalibrants[] = {
    {"ALUMINA (Al2O3)", "ALUMINA (Al2O3): Al_2O_3 powder sample",
     {3.479e-10f, 2.55e-10f, 2.378e-10f, 2.165e-10f, 2.084e-10f, 1.963e-10f, 1.739e-10f,
      1.601e-10f, 1.546e-10f, 1.514e-10f, 1.511e-10f, 1.404e-10f, 1.373e-10f, 1.335e-10f,
      1.275e-10f}},
    {"CERIUM DIOXIDE", "CERIUM DIOXIDE: Ceria powder sample e.g. NIST standard",
     {3.124101e-10f, 2.705551e-10f, 1.913113e-10f, 1.631509e-10f, 1.562051e-10f, 1.352775e-10f,
      1.241392e-10f, 1.209959e-10f, 1.104537e-10f, 1.041367e-10f, 9.56557e-11f, 9.14643e-11f,
      9.0185e-11f, 9.0185e-11f, 8.5557e-11f}},
    {"LANTHANUM HEXABORIDE", "LANTHANUM HEXABORIDE: LaB_6 powder sample e.g. NIST standard",
     {4.15695e-10f, 2.939408e-10f, 2.400016e-10f, 2.078475e-10f, 1.859045e-10f, 1.697068e-10f,
      1.469704e-10f, 1.38565e-10f, 1.314543e-10f, 1.253368e-10f, 1.200008e-10f, 1.110992e-10f,
      1.039237e-10f, 1.008209e-10f, 9.798025e-11f}},
    {"SODIUM CHLORIDE", "SODIUM CHLORIDE: NaCl Common salt (beware of moisture)",
     {2.821e-10f, 1.994e-10f, 1.701e-10f, 1.628e-10f, 1.41e-10f, 1.294e-10f, 1.261e-10f,
      1.1515e-10f, 1.0855e-10f, 9.969e-11f, 9.533e-11f, 9.401e-11f, 8.917e-11f, 8.601e-11f,
      8.503e-11f}},
    {"PARAFFIN WAX", "PARAFFIN WAX: MM Xtallographers \"standard\" calibration wax",
     {4.14e-10f, 3.72e-10f}},
    {"SILICON", "SILICON: Silicon powder sample e.g. NIST standard",
     {3.1355e-10f, 1.9201e-10f, 1.6375e-10f, 1.3577e-10f, 1.2459e-10f, 1.1086e-10f, 1.0452e-10f,
      9.6e-11f, 9.18e-11f, 8.587e-11f, 8.282e-11f, 7.839e-11f, 7.605e-11f, 7.257e-11f, 7.07e-11f}},
    {"USER DEFINED", "USER DEFINED: User input of D-spacings for arbitrary sample", {}},
};
enum CalibrantIndex { kAlumina, kCeria, kLab6, kSalt, kWax, kSilicon, kUser };

// sin(2-theta / 2) of a ring: above 1 the wavelength cannot be diffracted by
// it, and at 2-theta of 90 degrees or more its cone misses a flat detector.
bool ring_reachable(float wavelength, float d_spacing) {
  const double s = static_cast<double>(wavelength) / (2.0 * d_spacing);
  return d_spacing > 0.0f && s < 0.7071067811865476;
}

double two_theta_of(double wavelength, double d_spacing) {
  return 2.0 * std::asin(std::min(wavelength / (2.0 * d_spacing), 1.0));
}

// The 2-theta at which a trial geometry of the fit puts a ring's cone. A
// trial step of an undetermined fit (one ring: the distance trades with
// the wavelength) can take the wavelength to 0 or below, or so long that
// the cone reaches 90 degrees: such a ring has no place on the detector,
// and its points must count as far off (the step refused), not as the
// root of a negative number or an infinity that would end the fit. The
// cone is taken at the nearest angle that still meets the detector.
double fitted_two_theta(double wavelength, double d_spacing) {
  constexpr double kSteepest = 1.5690509975429023;  // 89.9 degrees
  const double s = wavelength / (2.0 * d_spacing);
  if (!(s > 0.0)) return 0.0;
  return std::min(2.0 * std::asin(std::min(s, 1.0)), kSteepest);
}

// Brings an angle into -pi .. pi (a whole number of turns off).
float within_half_turn(float angle) {
  if (!std::isfinite(angle) || std::abs(angle) <= kHalfTurn) return angle;
  return static_cast<float>(std::remainder(static_cast<double>(angle), 2.0 * kHalfTurn));
}

void write_g2(std::string_view text, double a, double b, Status& status) {
  IO_WRITE(std::string(text) + format_g(a, 14, 7) + format_g(b, 14, 7), status);
}

// Options from their keys (a missing key keeps the value).
void read_option_keys(CalibrantOptions& o, Status& status) {
  int r = 0;
  IO_INQ_IKEYVALUE("CALI_NUMBER_SECTIONS", o.sections, r, status);
  IO_INQ_LKEYVALUE("CALI_REJECT_OUTLIERS", o.reject_outliers, r, status);
  IO_INQ_RKEYVALUE("CALI_REJECT_LIMIT", o.reject_limit, r, status);
  IO_INQ_LKEYVALUE("CALI_FULL_INFO", o.full_info, r, status);
  IO_INQ_LKEYVALUE("CALI_REFINE_BEAM", o.refine_beam, r, status);
  IO_INQ_LKEYVALUE("CALI_REFINE_DISTANCE", o.refine_distance, r, status);
  IO_INQ_LKEYVALUE("CALI_REFINE_WAVELENGTH", o.refine_wavelength, r, status);
  IO_INQ_LKEYVALUE("CALI_REFINE_TILT", o.refine_tilt, r, status);
  IO_INQ_LKEYVALUE("CALI_EXTRA_ITERATIONS", o.extra_iterations, r, status);
  IO_INQ_LKEYVALUE("CALI_REFINE_POLARISATION", o.refine_polarisation, r, status);
  // A key outside the form's ranges would give sections the ring store
  // cannot hold.
  o.sections = std::clamp(o.sections, 10, 360);
}

void store_option_keys(const CalibrantOptions& o, Status& status) {
  int r = 0;
  IO_SET_IKEYVALUE("CALI_NUMBER_SECTIONS", o.sections, r, status);
  IO_SET_LKEYVALUE("CALI_REJECT_OUTLIERS", o.reject_outliers, r, status);
  IO_SET_RKEYVALUE("CALI_REJECT_LIMIT", o.reject_limit, r, status);
  IO_SET_LKEYVALUE("CALI_FULL_INFO", o.full_info, r, status);
  IO_SET_LKEYVALUE("CALI_REFINE_BEAM", o.refine_beam, r, status);
  IO_SET_LKEYVALUE("CALI_REFINE_DISTANCE", o.refine_distance, r, status);
  IO_SET_LKEYVALUE("CALI_REFINE_WAVELENGTH", o.refine_wavelength, r, status);
  IO_SET_LKEYVALUE("CALI_REFINE_TILT", o.refine_tilt, r, status);
  IO_SET_LKEYVALUE("CALI_EXTRA_ITERATIONS", o.extra_iterations, r, status);
  IO_SET_LKEYVALUE("CALI_REFINE_POLARISATION", o.refine_polarisation, r, status);
}

GsFormItem real_item(std::string label, std::string description, std::string prompt, float lower,
                     float upper, float value) {
  GsFormItem i = kzt_form_item(std::move(label), 3, std::move(description), std::move(prompt));
  i.ranged = true;
  i.real_lower = lower;
  i.real_upper = upper;
  i.real_value = value;
  return i;
}

GsFormItem yes_no(std::string label, std::string description, std::string prompt, bool value) {
  GsFormItem i = kzt_form_item(std::move(label), 2, std::move(description), std::move(prompt));
  i.logical_value = value;
  return i;
}

// The form of starting values and options; false after CANCEL.
bool ask_form(CalibrantOptions& o, CalibrantGeometry& g, Status& status) {
  std::vector<GsFormItem> items = {
      // A distance of 0 would divide the first ring's estimate.
      real_item("DISTANCE", "SAMPLE TO DETECTOR DISTANCE (MM) (STARTING)",
                "Enter approximate sample to detector distance (mm)", 0.1f, 10000.0f,
                g.sample_distance * 1000.0f),
      real_item("WAVELENGTH", "WAVELENGTH (ANGSTROMS) (STARTING)",
                "Enter approximate X-ray wavelength (Angstroms)", 0.01f, 10000.0f,
                g.wavelength * 1.0e10f),
      real_item("X-PIXEL SIZE", "SIZE OF HORIZONTAL PIXELS (MICRONS)",
                "Enter dimension of pixels horizontally, as displayed (mm)", 0.01f, 10000.0f,
                g.x_pixel_size * 1.0e6f),
      real_item("Y-PIXEL SIZE", "SIZE OF VERTICAL PIXELS (MICRONS)",
                "Enter dimension of pixels vertically, as displayed (mm)", 0.01f, 10000.0f,
                g.y_pixel_size * 1.0e6f),
      kzt_form_item("ANGULAR SECTIONS", 1, "NUMBER OF AZIMUTHAL SECTIONS",
           "Enter number of azimuthal divisions to find average ring positions"),
      yes_no("REJECT OUTLIERS", "REJECT OUT-LYING POSITIONS AND RE-REFINE",
             "Enter \"YES\" to reject badly fittingpositions and re-fit without them",
             o.reject_outliers),
      real_item("REJECT LIMIT", "REJECT LIMIT FROM IDEAL (STANDARD DEVIATIONS)",
                "Enter number of standard deviations from ideal before rejection", 2.0f, 100.0f,
                o.reject_limit),
      yes_no("FULL INFO", "OUTPUT FULL INFORMATION",
             "Enter \"YES\" to output full diagnostics information in terminal window",
             o.full_info),
      yes_no("REFINE BEAM X/Y", "REFINE X/Y BEAM CENTRE", "Refine x/y beam centre",
             o.refine_beam),
      yes_no("REFINE DISTANCE", "REFINE SAMPLE TO DETECTOR DISTANCE",
             "Refine sample to detector distance", o.refine_distance),
      yes_no("REFINE WAVELENGTH", "REFINE X-RAY WAVELENGTH", "Refine x-ray wavelength",
             o.refine_wavelength),
      yes_no("REFINE TILT", "REFINE DETECTOR NON-ORTHOGONALITY",
             "Refine detector non-orthogonality", o.refine_tilt),
      yes_no("EXTRA ITERATIONS", "FIT INTERMEDIATE NUMBER OF RINGS",
             "Enter \"YES\" to add extra partialfitting iterations for difficult probl",
             o.extra_iterations),
  };
  items[4].ranged = true;
  items[4].int_lower = 10;
  items[4].int_upper = 360;
  items[4].int_value = std::clamp(o.sections, 10, 360);
  // Distances below the form's range (an unset geometry) start at its floor.
  items[0].real_value = std::clamp(items[0].real_value, 0.1f, 10000.0f);
  items[1].real_value = std::clamp(items[1].real_value, 0.01f, 10000.0f);
  int code = 0;
  GS_FORM(2, 2, {"CALIBRANT PATTERN REFINEMENT", "OF DISTANCE WAVELENGTH ETC."}, 2, 2,
          {"HELP TEXT TO BE ADDED WHEN OPTION COMPLETE", "(PRESENTLY UNDER DEVELOPMENT)"}, 18,
          items, code, status);
  if (status != kStatusGood || code == -1) return false;
  g.sample_distance = items[0].real_value / 1000.0f;
  g.wavelength = items[1].real_value / 1.0e10f;
  g.x_pixel_size = items[2].real_value / 1.0e6f;
  g.y_pixel_size = items[3].real_value / 1.0e6f;
  o.sections = items[4].int_value;
  o.reject_outliers = items[5].logical_value;
  o.reject_limit = items[6].real_value;
  o.full_info = items[7].logical_value;
  o.refine_beam = items[8].logical_value;
  o.refine_distance = items[9].logical_value;
  o.refine_wavelength = items[10].logical_value;
  o.refine_tilt = items[11].logical_value;
  o.extra_iterations = items[12].logical_value;
  return true;
}

// The refinement's run: the image, what is drawn and the options.
struct Refinement {
  const GsDisplayedImage& image;
  const GsDisplayedImage* display;
  const CalibrantOptions& o;
  CalibrantGeometry& g;
};

void redisplay(const Refinement& r, int rings, Status& status) {
  if (r.display == nullptr) return;
  const GsDisplayedImage& d = *r.display;
  GS_2DMIMAGE(d.mask_data, d.xmaxdat, d.ymaxdat, d.data, d.mask, d.xaxis, d.yaxis, d.xstrelm,
              d.ystrelm, d.xendelm, d.yendelm, d.title, d.xlabel, d.ylabel, d.zlabel, status);
  if (rings > 0) kzt_display_store_rings(r.g.x_pixel_size, r.g.y_pixel_size, rings, status);
}

// A ring at RADIUS about the beam, with its search limits.
void draw_ring(const Refinement& r, float radius, float half_width, Status& status) {
  if (r.display == nullptr) return;
  gs_clip_to_graph(true, status);
  KZT_ELLIPSE(r.g.x_pixel_size, r.g.y_pixel_size, r.g.x_beam, r.g.y_beam, radius, radius, 0.0f,
              kRed, status);
  for (float w : {-half_width, half_width})
    KZT_ELLIPSE(r.g.x_pixel_size, r.g.y_pixel_size, r.g.x_beam, r.g.y_beam, radius + w,
                radius + w, 0.0f, kWhite, status);
  Status local = kStatusGood;
  gs_clip_to_graph(false, local);
}

// The rings of the store; a pass searches along the rings its geometry
// predicts (FOLLOW), the first ring around its fitted ellipse's circle.
void find_rings(const Refinement& r, int rings, float half_width, bool integrated, bool follow,
                Status& status) {
  const GsDisplayedImage& m = r.image;
  const RingTilt tilt{r.g.sample_distance, r.g.tilt_rotation, r.g.tilt_angle};
  kzt_find_store_rings(r.o.full_info, m.xmaxdat, m.ymaxdat, m.xstrelm, m.ystrelm, m.xendelm,
                       m.yendelm, m.data,
                       m.mask_data ? m.mask : std::span<const std::uint8_t>{}, r.g.x_pixel_size,
                       r.g.y_pixel_size,
                       r.g.x_beam, r.g.y_beam, rings, half_width, r.o.sections, integrated,
                       follow ? &tilt : nullptr, status);
}

// The rings of the list that a flat detector can see at WAVELENGTH, of
// the first COUNT; the others leave the list with an INFO line.
std::vector<float> reachable_rings(std::span<const float> d_spacings, int count,
                                   float wavelength, Status& status) {
  std::vector<float> out;
  for (int k = 0; k < count && k < static_cast<int>(d_spacings.size()); ++k) {
    const float d = d_spacings[static_cast<std::size_t>(k)];
    if (ring_reachable(wavelength, d)) {
      out.push_back(d);
    } else {
      IO_WRITE("INFO: Ring " + format_i(k + 1, 2) + " (D-spacing " +
                   format_f(d * 1.0e10, 10, 5) +
                   " Angstroms) cannot lie on a flat detector at this wavelength; left out",
               status);
    }
  }
  return out;
}

void write_refined(const Refinement& r, bool energy, Status& status) {
  const CalibrantGeometry& g = r.g;
  IO_WRITE("INFO: Refined Beam centre = " + format_f(g.x_beam / g.x_pixel_size, 12, 3) +
               format_f(g.y_beam / g.y_pixel_size, 12, 3) + " (pixels)",
           status);
  IO_WRITE("INFO: Refined Beam centre = " + format_f(g.x_beam * 1000.0, 12, 3) +
               format_f(g.y_beam * 1000.0, 12, 3) + " (mm)",
           status);
  IO_WRITE("INFO: Refined sample to detector distance = " +
               format_f(g.sample_distance * 1000.0, 12, 3) + " mm",
           status);
  IO_WRITE("INFO: Refined wavelength = " + format_f(g.wavelength * 1.0e10, 12, 5) + " Angstroms",
           status);
  if (energy)
    IO_WRITE("      Energy (keV) = " + format_f(kKevAngstrom / (g.wavelength * 1.0e10), 12, 5),
             status);
  const double degrees = 180.0 / kHalfTurn;
  IO_WRITE("INFO: Refined tilt plane rotation angle = " +
               format_f(g.tilt_rotation * degrees, 12, 3) + " degrees",
           status);
  IO_WRITE("INFO: Refined tilt angle = " + format_f(g.tilt_angle * degrees, 12, 3) + " degrees",
           status);
  IO_WRITE("INFO: ROT X = " + format_f(std::cos(g.tilt_rotation) * g.tilt_angle * degrees, 12, 3) +
               "   ROT Y = " + format_f(std::sin(g.tilt_rotation) * g.tilt_angle * degrees, 12, 3) +
               " degrees",
           status);
}

// One pass: every ring of RINGS searched at its predicted radius, found
// and fitted; returns how well the fit met the points. None (STATUS good)
// where no ring shows a coordinate where the geometry puts it: a held distance or wavelength far off moves
// the rings out of their narrowed annuli, which is the user's start to
// mend, not a failure of the command.
std::optional<RingFitResidual> pass(const Refinement& r, const std::vector<float>& rings,
                                    float half_width, Status& status) {
  const int n = static_cast<int>(rings.size());
  for (int k = 0; k < n; ++k) {
    const double t = two_theta_of(r.g.wavelength, rings[static_cast<std::size_t>(k)]);
    vosq_kzt_comrings.radii[static_cast<std::size_t>(k)] =
        static_cast<float>(std::tan(t) * r.g.sample_distance);
    draw_ring(r, vosq_kzt_comrings.radii[static_cast<std::size_t>(k)], half_width, status);
  }
  if (r.display != nullptr) GS_UPDATE(status);
  find_rings(r, n, half_width, false, true, status);
  if (r.display != nullptr) kzt_display_store_rings(r.g.x_pixel_size, r.g.y_pixel_size, n, status);
  if (status != kStatusGood) return std::nullopt;
  const auto& counts = vosq_kzt_comrings.num_coordinates;
  if (std::all_of(counts.begin(), counts.begin() + n, [](int c) { return c <= 0; })) {
    IO_WRITE("WARNING: No coordinates were found on the rings where this geometry puts them; "
             "the refinement stops, nothing is stored",
             status);
    if (r.display != nullptr)
      GS_FWARNING(1, 1, {"WARNING: No coordinates found on the predicted rings"}, status);
    return std::nullopt;
  }
  float sigma = 0.0f;
  RingFitResidual fit;
  KZT_FITCALIBRANT(r.o.full_info, kMaxRings, n, rings, false, 1.0f, r.o.reject_outliers,
                   r.o.reject_limit, r.o.refine_beam, r.o.refine_distance, r.o.refine_wavelength,
                   r.o.refine_tilt, r.g.sample_distance, r.g.wavelength, r.g.x_beam, r.g.y_beam,
                   r.g.tilt_rotation, r.g.tilt_angle, sigma, status, &fit);
  return fit;
}

// The rings of the refined geometry searched again along its cones. The
// passes search each ring where the geometry they start from puts it, so
// what they find of a ring off its annulus's middle is pulled towards it
// (the profile cut by the edge) and the fit moves only part of the way: a
// search again with the last pass's half-width would see the same short
// offsets. Half as wide again (each annulus kept to half the distance to
// the nearest ring of the list), the check's search takes each ring at its
// profile's one clear maximum, where an edge cutting a broad ring, a gap
// or a ring the list does not hold does not move it.
// The verdict: where the image's rings lie from the result's rings,
// section by section on the image, as one change of centre, tilt,
// distance and wavelength has them (a ring of another phase, or a
// neighbour, taken for a ring left out). Measured so, the largest distance
// follows the true one within a few hundredths of a pixel over the sweeps
// of bench_calibration; the limit is where a result turns wrong (a ring
// more than half a pixel off): FollowingLimits' ring, 0.5 pixel. The
// change of centre and tilt is held to the limits of TILT/BEAM CENTRE's
// check.
// Where the rings found cannot tell a change of one parameter from a
// change of another (one ring: the centre from the tilt, the distance
// from the wavelength), the change goes to the one refined and a held one
// is taken as given; a centre or tilt left so unjudged, held or refined,
// one that the refined parameters together can make up for (one ring on
// a tilted detector, where the centre slides with the distance and the
// wavelength), or both refined on one ring (which fits as well with the
// tilt on the other side of the centre) is said in one line.

// The circle or ellipse through the clicks, with its messages. False
// (STATUS bad) when the fit refused the points.
bool fit_clicks(const Refinement& r, std::span<const float> x, std::span<const float> y,
                float& a, float& b, float& angle, Status& status) {
  const auto n = static_cast<Index>(x.size());
  CalibrantGeometry& g = r.g;
  float error = 0.0f;
  angle = 0.0f;
  if (n <= 4) {
    KZT_LSQCIRCLE(n, n, x, y, g.x_beam, g.y_beam, a, error, status);
    b = a;
  } else {
    KZT_LSQELLIPSE(n, n, x, y, g.x_beam, g.y_beam, a, b, angle, error, status);
  }
  if (status != kStatusGood) return false;
  write_g2("INFO: Best fit centre X / Y (mm) = ", g.x_beam * 1000.0, g.y_beam * 1000.0, status);
  write_g2("INFO: Best fit centre X / Y (pixels) = ", g.x_beam / g.x_pixel_size,
           g.y_beam / g.y_pixel_size, status);
  write_g2("INFO: Best fit radius 1, radius 2 (mm) = ", a * 1000.0, b * 1000.0, status);
  if (n <= 4) {
    IO_WRITE("INFO: Best fit radius (X-pixels) = " + format_g(a / g.x_pixel_size, 14, 7),
             status);
  } else {
    write_g2("INFO: Best fit radius 1, radius 2 (X-pixels) = ", a / g.x_pixel_size,
             b / g.x_pixel_size, status);
    IO_WRITE("INFO: Best fit angle of axis 1 (degrees) = " +
                 format_g(angle * 180.0 / 3.1415925, 14, 7),
             status);
  }
  // More points than fitted values give an estimate of the error.
  if (n == 4 || n > 5) kzt_radial_error_lines(n, 0, error, g.x_pixel_size, status);
  return true;
}

// The rings of RINGS that the refined wavelength still puts below 90
// degrees (a cone that reaches 90 degrees meets a flat detector nowhere,
// or along a line of no use), searched again. Empty (nothing searched)
// when none is left.
std::optional<RingFollowing> rings_searched_again(const GsDisplayedImage& image,
                                                  const CalibrantOptions& o,
                                                  const CalibrantGeometry& g,
                                                  std::span<const float> rings,
                                                  std::span<const float> d_spacings,
                                                  float last_width, const RingFitResidual& last,
                                                  Status& status) {
  TiltSolution s;
  s.fit = last;
  s.x_beam = g.x_beam;
  s.y_beam = g.y_beam;
  s.distance = g.sample_distance;
  s.rotation = g.tilt_rotation;
  s.tilt = g.tilt_angle;
  std::size_t n = 0;
  for (float d : rings)
    if (n < s.two_theta.size() && ring_reachable(g.wavelength, d))
      s.two_theta[n++] = static_cast<float>(two_theta_of(g.wavelength, d));
  if (n == 0) return std::nullopt;
  // The list's further rings are neighbours too (those the refinement
  // used come again and count once).
  std::vector<float> others;
  for (float d : d_spacings)
    if (ring_reachable(g.wavelength, d))
      others.push_back(static_cast<float>(two_theta_of(g.wavelength, d)));
  const RingNeighbours neighbours{others, true};
  const RefinedParameters refined{o.refine_beam, o.refine_tilt, o.refine_distance,
                                  o.refine_wavelength};
  return kzt_follow_rings(image, s, g.x_pixel_size, g.y_pixel_size, static_cast<int>(n),
                          1.5f * last_width, o.sections, status, &neighbours, refined);
}

}  // namespace

std::vector<std::string> kzt_calibrant_check_lines(const RingFollowing& f, float xps,
                                                   const RingFitResidual& last) {
  const FollowingLimits limits;
  const double largest = f.largest_offset / xps;
  // (A NaN is a change too.) Where the rings found tell no change of
  // centre and tilt, the change fitted over the calibrant's cones holds
  // them, and may meet a ring cut short by the image with the distance or
  // wavelength alone: a ring whose points lie off its cone is off.
  const bool ring_off = std::any_of(f.ring_off.begin(), f.ring_off.end(), [](bool b) { return b; });
  const bool ring_met = largest <= limits.ring && (f.determined || !ring_off);
  // One ring's own trade of centre and tilt, which its cone already meets,
  // is not a change asked for (the result is said unchecked).
  const bool centre_met =
      !kzt_centre_tilt_move_told(f.cones_centre_tilt_fixed, f.off_cones, xps) ||
      (std::hypot(f.cones_change[0], f.cones_change[1]) / xps <= limits.centre &&
       std::hypot(f.cones_change[2], f.cones_change[3]) * kDegreesPerRadian <= limits.tilt);
  const bool scatter_met = f.cones_scatter / xps <= limits.scatter;
  // Rings found in a few sections only, or off the cones' shape, do not
  // follow them, whether or not the centre and tilt can be told.
  const bool found_round = f.found > 0 && kzt_first_ring_met(f);
  const bool off_shape = kzt_rings_lie_off_cones(f.cones_scatter, f.cones_noise, xps);
  std::string missing;
  int num_missing = 0;
  for (std::size_t k = 0; k < f.ring_missing.size(); ++k) {
    if (!f.ring_missing[k]) continue;
    missing += (missing.empty() ? "" : ", ") + format_i(static_cast<int>(k) + 1, 0);
    ++num_missing;
  }
  if (found_round && !off_shape && num_missing == 0 &&
      (!f.cones_determined || (ring_met && centre_met && scatter_met))) {
    if (f.cones_determined && f.cones_centre_tilt_fixed) return {};
    return {std::string(kCentreTiltUnchecked)};
  }
  std::vector<std::string> lines;
  const std::string poor = kzt_poor_ring_fit_warning(last, xps);
  if (!poor.empty()) lines.push_back(poor);
  lines.emplace_back("WARNING: The fitted rings do not follow the image's rings: searched");
  lines.push_back("         along them, the rings were found in " + format_i(f.found, 0) + " of " +
                  format_i(f.searched, 0) + " sections" + (f.found > 0 ? "," : ""));
  if (f.found == 0) return lines;
  lines.push_back("         " + std::string(trimmed_text(format_f(f.off_cones / xps, 14, 2))) +
                  " pixels rms off the calibrant's cones, up to " +
                  std::string(trimmed_text(format_f(largest, 14, 2))) + " pixels");
  // Which of the checks failed, so that few pixels off do not read as a
  // contradiction.
  if (!ring_met)
    lines.push_back("         (a ring lies more than " +
                    std::string(trimmed_text(format_f(limits.ring, 14, 1))) +
                    " pixel from where the image shows it)");
  if (!centre_met)
    lines.push_back("         (the rings found lie where another beam centre or tilt puts them)");
  if (!scatter_met)
    lines.push_back("         (the rings found lie " +
                    std::string(trimmed_text(format_f(f.cones_scatter / xps, 14, 2))) +
                    " pixels rms from any one geometry)");
  else if (off_shape)
    lines.push_back(off_cones_line(f.cones_scatter, f.cones_noise, xps));
  if (!found_round)
    lines.push_back("         (the first ring was found in only " + format_i(f.ring_found[0], 0) +
                    " of its " + format_i(f.ring_searched[0], 0) + " sections)");
  if (num_missing > 0)
    lines.push_back("         (" + std::string(num_missing > 1 ? "rings " : "ring ") + missing +
                    " of the calibrant " + (num_missing > 1 ? "lie" : "lies") +
                    " where the image shows no ring)");
  return lines;
}

std::vector<std::string> kzt_check_calibrant_result(const GsDisplayedImage& image,
                                                     const CalibrantOptions& o,
                                                     const CalibrantGeometry& g,
                                                     std::span<const float> rings,
                                                     std::span<const float> d_spacings,
                                                     float last_width, const RingFitResidual& last,
                                                     Status& status, bool first_ring_on_image) {
  if (status != kStatusGood) return {};
  const std::optional<RingFollowing> checked =
      rings_searched_again(image, o, g, rings, d_spacings, last_width, last, status);
  if (status != kStatusGood) return {};
  std::vector<std::string> lines;
  const float xps = g.x_pixel_size;
  if (!checked) {
    lines.emplace_back(
        "WARNING: The result could not be checked: every ring's cone reaches 90 degrees");
  } else if (checked->searched == 0 && first_ring_on_image) {
    // The ring clicked lies on usable pixels; a geometry whose cones have
    // no section there puts it elsewhere.
    lines = {"WARNING: The fitted rings do not follow the image's rings: no section of them",
             "         lies whole on the image's usable pixels, though the first ring lies there"};
  } else if (checked->searched == 0) {
    // Every section lies off the image, is masked, lies in a gap or holds
    // values that are not numbers.
    lines.emplace_back(
        "WARNING: The result could not be checked: no section of its rings lies whole on the "
        "image's usable pixels");
  } else {
    lines = kzt_calibrant_check_lines(*checked, xps, last);
    // No remedy is advised: over the sweeps of bench_calibration none
    // turned half the results warned of into right ones (EXTRA
    // ITERATIONS 7 to 47 %, the wavelength held at the true one 4 to 6 %).
  }
  // One ring's cone fixes only the ratio of its radius to the distance:
  // a longer distance with a longer wavelength meets it as well, so the
  // pair the refinement reached (it may be far from the true one) is no
  // checked result. A centre and tilt that were both held are not what
  // went unchecked then.
  if (o.refine_distance && o.refine_wavelength && last.points > 0 && last.rings < 2) {
    if (!o.refine_beam && !o.refine_tilt)
      std::erase(lines, std::string(kCentreTiltUnchecked));
    lines.emplace_back(kDistanceWavelengthUnchecked);
  }
  for (const std::string& line : lines) IO_WRITE(line, status);
  return lines;
}

CalibrantState& kzt_calibrant_state() { return calibrant_state; }

std::span<const CalibrantTable> kzt_calibrants() { return kCalibrants; }

void KZT_FUNCALIBRANT(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                      Index, Index, Index, Index, void*, void*, void*, void*, int,
                      std::span<const float> params, Index, Index, bool, int& terminate,
                      std::span<float> model, Status&) {
  const KztComRings& r = vosq_kzt_comrings;
  // Whole turns of the angles change nothing; they are taken off first.
  const double phi = std::remainder(static_cast<double>(params[4]), 6.2831855);
  const double tau = std::remainder(static_cast<double>(params[5]), 6.2831855);
  const double wavelength = params[3];
  std::size_t out = 0;
  const int rings = std::clamp(vosq_kzt_controlpowder.num_rings, 0, kMaxRings);
  for (int k = 0; k < rings; ++k) {
    const auto ku = static_cast<std::size_t>(k);
    const double t = fitted_two_theta(wavelength, r.d_spacings[ku]);
    const TiltedCone cone(params[0], params[1], params[2], phi, tau, std::tan(t));
    const std::size_t base = ku * static_cast<std::size_t>(kMaxRingCoordinates);
    const int count = std::clamp<int>(r.num_coordinates[ku], 0, kMaxRingCoordinates);
    for (int n = 0; n < count && out < model.size(); ++n) {
      const std::size_t at = base + static_cast<std::size_t>(n);
      model[out++] =
          static_cast<float>(cone.residual(r.x_coordinates[at], r.y_coordinates[at]) * 1000.0);
    }
  }
  terminate = 0;
}

void KZT_LSQCALIBRANT(bool info, int max_rings, int num_rings, std::span<const float> d_spacings,
                      bool weighted, float normaliser, bool refine_beam, bool refine_distance,
                      bool refine_wavelength, bool refine_tilt, float& sample_distance,
                      float& wavelength, float& x_beam, float& y_beam, float& tilt_rotation,
                      float& tilt_angle, float& sigma, Status& status, RingFitResidual* fit) {
  constexpr const char* kName = "Subroutine KZT_LSQCALIBRANT V0.1";
  if (st_bad(status, kName)) return;
  if (max_rings < 1) return st_fail(status, kBaseApp + 1, kName);
  const int rings = std::clamp(num_rings, 0, std::min(max_rings, kMaxRings));
  if (d_spacings.size() < static_cast<std::size_t>(rings))
    return st_fail(status, kBaseApp + 1, kName);
  KztComRings& r = vosq_kzt_comrings;
  vosq_kzt_controlpowder = {rings, weighted, normaliser};
  Index points = 0;
  for (int k = 0; k < rings; ++k) {
    r.d_spacings[static_cast<std::size_t>(k)] = d_spacings[static_cast<std::size_t>(k)];
    points += std::clamp<int>(r.num_coordinates[static_cast<std::size_t>(k)], 0,
                              kMaxRingCoordinates);
  }
  if (points == 0) {
    IO_WRITE("ERROR: There are no coordinates to fit !", status);
    return st_fail(status, kBaseApp + 9999, kName);
  }
  std::vector<float> model(static_cast<std::size_t>(points));
  const std::vector<float> data(static_cast<std::size_t>(points), 0.0f);
  const bool fixed[6] = {!refine_beam,       !refine_beam, !refine_distance,
                         !refine_wavelength, !refine_tilt, !refine_tilt};
  const float scales[6] = {0.0005f, 0.0005f, 0.001f, 5.0e-13f, 0.35f, 0.01f};
  float params[6] = {x_beam, y_beam, sample_distance, wavelength, tilt_rotation, tilt_angle};
  const ModelFunction model_function = KZT_FUNCALIBRANT;
  int calls = 0;
  float sum_squares = 0.0f;
  for (int fit = 0; fit < 2 && status == kStatusGood; ++fit) {
    int end_code = 0;
    int these_calls = 0;
    MA_MODELFIT(0, model_function, false, false, false, points, 1, data, {}, {}, 1, 1, points, 1,
                1, 300, 1.0e-5f, 100.0f, 5.0e-7f, nullptr, nullptr, nullptr, nullptr, 6, fixed,
                scales, points, 1, false, params, model, end_code, these_calls, sum_squares,
                status);
    calls += these_calls;
    if (status == kStatusGood && end_code > 0)
      IO_WRITE("WARNING: Problem fitting the powder pattern", status);
  }
  if (status != kStatusGood) return;
  x_beam = params[0];
  y_beam = params[1];
  sample_distance = params[2];
  wavelength = params[3];
  tilt_rotation = params[4];
  tilt_angle = params[5];
  // (The residuals are millimetres.)
  if (fit != nullptr)
    *fit = {static_cast<double>(sum_squares) * 1.0e-6, points, kzt_store_rings_held(rings)};
  if (info) {
    IO_WRITE("INFO: Number of function calls = " + format_i(calls, 7), status);
    IO_WRITE("INFO: Sum of squares = " + format_g(sum_squares, 14, 5), status);
  }
  if (!(sum_squares > 0.0f))
    sigma = 0.0f;
  else if (points < 7)
    sigma = kMissing;
  else
    sigma = static_cast<float>(std::sqrt(static_cast<double>(sum_squares) /
                                         static_cast<double>(points - 6)));
}

void KZT_FITCALIBRANT(bool info, int max_rings, int num_rings, std::span<const float> d_spacings,
                      bool weighted, float normaliser, bool reject_outliers, float reject_limit,
                      bool refine_beam, bool refine_distance, bool refine_wavelength,
                      bool refine_tilt, float& sample_distance, float& wavelength, float& x_beam,
                      float& y_beam, float& tilt_rotation, float& tilt_angle, float& sigma,
                      Status& status, RingFitResidual* residual) {
  constexpr const char* kName = "Subroutine KZT_FITCALIBRANT V0.1";
  if (st_bad(status, kName)) return;
  if (max_rings < 1) return st_fail(status, kBaseApp + 1, kName);
  auto fit = [&] {
    KZT_LSQCALIBRANT(info, max_rings, num_rings, d_spacings, weighted, normaliser, refine_beam,
                     refine_distance, refine_wavelength, refine_tilt, sample_distance,
                     wavelength, x_beam, y_beam, tilt_rotation, tilt_angle, sigma, status,
                     residual);
  };
  fit();
  if (status != kStatusGood) return;
  // Rejection needs a measured spread: without one every coordinate (or
  // half of them) would go.
  if (reject_outliers && sigma > 0.0f) {
    const int rings = std::clamp(num_rings, 0, std::min(max_rings, kMaxRings));
    std::vector<float> two_theta(static_cast<std::size_t>(rings));
    for (int k = 0; k < rings; ++k)
      two_theta[static_cast<std::size_t>(k)] =
          static_cast<float>(two_theta_of(wavelength, d_spacings[static_cast<std::size_t>(k)]));
    KZT_RINGOUTLIERS(info, max_rings, rings, sample_distance, x_beam, y_beam, two_theta,
                     tilt_rotation, tilt_angle, sigma / 1000.0f, reject_limit, status);
    fit();
  }
  tilt_rotation = within_half_turn(tilt_rotation);
}

namespace {

bool refine_from_clicks(const GsDisplayedImage& image, const GsDisplayedImage* display,
                        const CalibrantOptions& options, std::span<const float> d_spacings,
                        bool narrow, std::span<const float> click_x,
                        std::span<const float> click_y, CalibrantGeometry& g, Status& status) {
  const Refinement r{image, display, options, g};
  const bool full = options.full_info;
  const auto nd = static_cast<int>(std::min<std::size_t>(d_spacings.size(), kMaxRings));
  if (nd < 1) {
    IO_WRITE("WARNING: There are no D-spacings to calibrate with", status);
    return false;
  }
  const float kept_x = g.x_beam;
  const float kept_y = g.y_beam;
  const std::size_t clicks = std::min(click_x.size(), click_y.size());
  float a = 0.0f, b = 0.0f, angle = 0.0f;
  if (!fit_clicks(r, click_x.first(clicks), click_y.first(clicks), a, b, angle, status))
    return false;

  float half_width = std::max(a, b) * 0.125f;
  if (narrow) half_width *= 0.5f;
  vosq_kzt_comrings.radii[0] = (a + b) / 2.0f;
  if (display != nullptr) {
    KZT_ELLIPSE(g.x_pixel_size, g.y_pixel_size, g.x_beam, g.y_beam, a, b, angle, kRed, status);
    for (float w : {-half_width, half_width})
      KZT_ELLIPSE(g.x_pixel_size, g.y_pixel_size, g.x_beam, g.y_beam, a + w, b + w, angle,
                  kWhite, status);
    GS_FPROMPT(1, 1, {"CALCULATING COORDINATES ON INNER RING"}, status);
    GS_UPDATE(status);
  }
  find_rings(r, 1, half_width, false, false, status);
  if (status != kStatusGood) return false;
  const int found = vosq_kzt_comrings.num_coordinates[0];
  if (full)
    IO_WRITE("INFO: Number of acceptable coordinates on ring = " + format_i(found, 3), status);
  if (display != nullptr) kzt_display_store_rings(g.x_pixel_size, g.y_pixel_size, 1, status);
  if (found < 5) {
    // An ellipse needs five points; the clicks were not on a usable ring.
    IO_WRITE("WARNING: Fewer than 5 coordinates found on the inner ring", status);
    return false;
  }
  if (full) IO_WRITE("INFO: Fitting ellipse to centre of gravity coordinates", status);
  float error = 0.0f;
  KZT_LSQELLIPSE(kMaxRingCoordinates, found,
                 std::span<const float>(vosq_kzt_comrings.x_coordinates).first(
                     static_cast<std::size_t>(found)),
                 std::span<const float>(vosq_kzt_comrings.y_coordinates).first(
                     static_cast<std::size_t>(found)),
                 g.x_beam, g.y_beam, a, b, angle, error, status);
  if (status != kStatusGood) return false;
  if (full)
    KZT_TILTINFO(g.x_pixel_size, g.y_pixel_size, found, g.x_beam, g.y_beam, a, b, angle, error,
                 status);

  const float d1 = d_spacings[0];
  if (!ring_reachable(g.wavelength, d1)) {
    IO_WRITE("WARNING: The first ring cannot lie on a flat detector at this wavelength", status);
    if (display != nullptr)
      GS_FWARNING(1, 1, {"WARNING: First ring unreachable at this wavelength"}, status);
    return false;
  }
  const double first_two_theta = two_theta_of(g.wavelength, d1);
  double estimate = std::min(a, b) / std::tan(first_two_theta);
  if (full)
    IO_WRITE("INFO: Estimated sample to detector distance = " + format_f(estimate * 1000.0, 12, 3) +
                 " mm",
             status);
  const double ratio = estimate / g.sample_distance;
  if (!(ratio >= 0.8 && ratio <= 1.2)) {
    static const std::string kTooPoor[] = {
        "WARNING: The calculated sample to detector distance (given the initial",
        "         estimate of the wavelength)  is  too different from  the user",
        "   estimate of  the wavelength.  Please check the initial values",
        "         of  both the distance and the wavelength and alter them using",
        "         the graphical entry form. Also check that you are using the",
        "         correct ring."};
    for (const std::string& line : kTooPoor) IO_WRITE(line, status);
    if (display != nullptr)
      GS_FWARNING(1, 1, {"WARNING: Too poor initial values for distance and wavelength"},
                  status);
    return false;
  }
  if (!options.refine_distance) {
    estimate = g.sample_distance;
    if (options.refine_wavelength) {
      g.wavelength = static_cast<float>(
          2.0 * d1 * std::sin(std::atan2(std::min(a, b), g.sample_distance) / 2.0));
      IO_WRITE("INFO: Initial wavelength, based on fixed distance = " +
                   format_f(g.wavelength * 1.0e10, 8, 5) + " Angstroms",
               status);
    }
  }

  // First pass on up to 4 rings, predicted from the first ring's distance.
  if (!options.refine_beam) {
    g.x_beam = kept_x;
    g.y_beam = kept_y;
  }
  g.sample_distance = static_cast<float>(estimate);
  std::vector<float> rings = reachable_rings(d_spacings, std::min(nd, 4), g.wavelength, status);
  std::optional<RingFitResidual> fitted = pass(r, rings, half_width, status);
  if (status != kStatusGood) return false;
  if (!fitted) return false;
  RingFitResidual last = *fitted;
  if (full || nd < 5) write_refined(r, false, status);
  redisplay(r, static_cast<int>(rings.size()), status);
  float last_width = half_width;
  half_width *= 0.5f;
  if (nd >= 5) {
    std::vector<int> counts;
    if (options.extra_iterations) counts = {7, 11};
    counts.push_back(15);
    for (int count : counts) {
      rings = reachable_rings(d_spacings, std::min(nd, count), g.wavelength, status);
      fitted = pass(r, rings, half_width, status);
      if (status != kStatusGood) return false;
      if (!fitted) return false;
      last = *fitted;
      last_width = half_width;
    }
    write_refined(r, true, status);
    IO_WRITE("INFO: Stability indicator (proportional to D-spacing; Angstroms) = " +
                 format_f(g.wavelength * 1.0e10 /
                              (2.0 * std::sin(std::atan2(0.1, g.sample_distance) / 2.0)),
                          10, 5),
             status);
    redisplay(r, static_cast<int>(rings.size()), status);
  }
  // The parameters reached stand, but a geometry that its rings do not
  // follow is not let pass as a good one (with its residual when that
  // exceeds a pixel). A residual above a pixel alone says nothing: broad
  // rings and rings sharing an annulus leave it on a right geometry.
  const std::vector<std::string> warnings =
      kzt_check_calibrant_result(image, options, g, rings, d_spacings, last_width, last, status,
                                 kzt_points_on_usable_pixels(image, click_x.first(clicks),
                                                             click_y.first(clicks),
                                                             g.x_pixel_size, g.y_pixel_size));
  if (display != nullptr && !warnings.empty())
    GS_FWARNING(static_cast<int>(warnings.size()), static_cast<int>(warnings.size()), warnings,
                status);
  if (status != kStatusGood) return false;
  for (std::size_t k = 0; k < rings.size(); ++k)
    draw_ring(r,
              static_cast<float>(std::tan(two_theta_of(g.wavelength, rings[k])) *
                                 g.sample_distance),
              half_width, status);
  if (display != nullptr) GS_UPDATE(status);

  if (options.refine_polarisation) {
    if (display != nullptr) {
      GS_FPROMPT(1, 1, {"CALCULATING INTEGRATED INTENSITES"}, status);
      GS_UPDATE(status);
    }
    const int n = static_cast<int>(rings.size());
    find_rings(r, n, half_width, true, true, status);
    const KztComRings& store = vosq_kzt_comrings;
    const PolarisationRings pr{kMaxRingCoordinates, store.num_coordinates, store.intensities,
                               store.azimuths, store.radii};
    KZT_LSQPOLARISATION(g.sample_distance, kMaxRings, n, pr, g.polarisation, status);
    if (status != kStatusGood) return false;
    IO_WRITE("INFO: Refined polarisation factor = " + format_f(g.polarisation, 8, 5), status);
  }
  return status == kStatusGood;
}

}  // namespace

bool kzt_calibrant_refine(const GsDisplayedImage& image, const GsDisplayedImage* display,
                          const CalibrantOptions& options, std::span<const float> d_spacings,
                          bool narrow, std::span<const float> click_x,
                          std::span<const float> click_y, CalibrantGeometry& g,
                          Status& status) {
  if (status != kStatusGood) return false;
  // A refinement that stops leaves the geometry as the user gave it: the
  // ellipse's centre, a first distance or wavelength are only its steps,
  // and its lines say that nothing is stored.
  const CalibrantGeometry given = g;
  const bool done = refine_from_clicks(image, display, options, d_spacings, narrow, click_x,
                                       click_y, g, status);
  if (!done) g = given;
  return done;
}

void KZT_CALIBRANT_USER(int max_dspacings, bool& cancelled, int& num_dspacings,
                        std::span<float> d_spacings, Status& status) {
  constexpr const char* kName = "Subroutine KZT_CALIBRANT_USER V0.1";
  if (st_bad(status, kName)) return;
  cancelled = false;
  if (max_dspacings < 1 || d_spacings.size() < static_cast<std::size_t>(max_dspacings))
    return st_fail(status, kBaseApp + 1, kName);
  CalibrantState& st = calibrant_state;
  int length = 0;
  int retstat = 0;
  std::string name = st.user_file;
  IO_INQ_KEYVALUE("CALIBRANT_USER_FILE", length, name, retstat, status);
  if (retstat != 0) name = st.user_file;
  int cancel = 0;
  GS_FILESELECTION(2, 2,
                   {"Select file containing list of D-spacings",
                    "(In Angstroms, and in decreasing order)"},
                   10, 10,
                   {"Select ASCII file with D-spacings to be used",
                    "for calibration. One value per line, in units",
                    "of Angstroms. e.g. The first 6 D-spacings for", "Silicon would be defined:",
                    "3.1355", "1.9201", "1.6375", "1.3577", "1.2459", "1.1086"},
                   1, false, cancel, name, status);
  if (status == kStatusEscape || (status == kStatusGood && cancel != 0)) {
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
    cancelled = true;
    return;
  }
  if (status != kStatusGood) return;
  std::vector<float> values(static_cast<std::size_t>(max_dspacings), 0.0f);
  Index count = 0;
  FIO_IN_1DASCII(name, max_dspacings, retstat, count, values, status);
  if (status != kStatusGood) return;
  if (retstat != 0) {
    cancelled = true;
    return;
  }
  // A blank or unreadable line reads as 0; no ring has a d-spacing of 0 or
  // less, so such a line refuses the file rather than leaving a ring
  // undefined.
  std::string refusal;
  if (count == 0) refusal = "holds no D-spacing";
  for (Index k = 0; k < count && refusal.empty(); ++k)
    if (!(values[static_cast<std::size_t>(k)] > 0.0f))
      refusal = "line " + std::to_string(k + 1) + " holds no D-spacing above 0";
  if (!refusal.empty()) {
    IO_WRITE("WARNING: Calibrant file " + name + " " + refusal + "; file not used", status);
    cancelled = true;
    return;
  }
  for (Index k = 0; k < count; ++k)
    d_spacings[static_cast<std::size_t>(k)] = values[static_cast<std::size_t>(k)] * 1.0e-10f;
  num_dspacings = static_cast<int>(count);
  st.user_file = name;
  IO_SET_KEYVALUE("CALIBRANT_USER_FILE", static_cast<int>(name.size()), name, retstat, status);
}

void KZT_CALIBRANT(bool, const GsDisplayedImage& image, float& x_pixel_size, float& y_pixel_size,
                   float, float& sample_distance, float& polarisation, float& x_beam,
                   float& y_beam, float& wavelength, float& tilt_rotation, float& tilt_angle,
                   Status& status) {
  constexpr const char* kName = "Subroutine KZT_CALIBRANT V0.1";
  if (st_bad(status, kName)) return;
  if (const Status e = array_region_error(image.xmaxdat, image.ymaxdat, image.xstrelm,
                                          image.ystrelm, image.xendelm, image.yendelm,
                                          image.data.size(), kBaseApp))
    return st_fail(status, e, kName);
  // The geometry keys' centre (pixels) and angles are stored back with the
  // refined distance and wavelength.
  bool defined = false;
  float key_x = 0.0f, key_y = 0.0f, key_distance = sample_distance, key_wavelength = wavelength;
  float key_rotation = 0.0f, key_tilt = 0.0f, detector_rotation = 0.0f;
  KZT_INQ_GEOMETRY(defined, key_x, key_y, key_distance, key_wavelength, key_rotation, key_tilt,
                   detector_rotation, status);
  if (status != kStatusGood) return;

  const std::span<const CalibrantTable> table = kzt_calibrants();
  std::vector<std::string> choices, helps;
  for (const CalibrantTable& c : table) {
    choices.emplace_back(c.choice);
    helps.emplace_back(c.help);
  }
  bool cancelled = false;
  std::string choice;
  GS_INP_CHOICE(1, 1, {"SELECT CALIBRATION SAMPLE"}, static_cast<int>(helps.size()),
                static_cast<int>(helps.size()), helps, 10, 10,
                {"Select the type of calibrant sample you have",
                 "used. The choice includes the commonly used",
                 "samples from the American National Institute of", "Standards and Technology.", "",
                 " \"PARAFFIN WAX\" is included since many xtall-",
                 " use this for distance calibration. However", "don't expect high accuracy, and if only",
                 "low angle data is available don't try to",
                 "refine both wavelength and distance together."},
                static_cast<int>(choices.size()), static_cast<int>(choices.size()), choices,
                cancelled, choice, status);
  if (status == kStatusEscape) {
    ST_DEF_SYSTEM(status);
    return;
  }
  if (status != kStatusGood || cancelled) return;
  const auto found = std::find(choices.begin(), choices.end(), choice);
  if (found == choices.end()) return;
  const auto kind = static_cast<int>(found - choices.begin());
  std::vector<float> d_spacings = table[static_cast<std::size_t>(kind)].d_spacings;
  if (kind == kUser) {
    std::vector<float> user(kMaxRings);
    int count = 0;
    KZT_CALIBRANT_USER(kMaxRings, cancelled, count, user, status);
    if (status != kStatusGood || cancelled) return;
    d_spacings.assign(user.begin(), user.begin() + count);
  }

  CalibrantState& st = calibrant_state;
  if (st.first_call) {
    read_option_keys(st.options, status);
    st.first_call = false;
  }
  CalibrantOptions options = st.options;
  CalibrantGeometry g{x_pixel_size, y_pixel_size, sample_distance, wavelength, x_beam,
                      y_beam,       tilt_rotation, tilt_angle,     polarisation};
  const auto redraw = [&image, &status] {
    GS_2DMIMAGE(image.mask_data, image.xmaxdat, image.ymaxdat, image.data, image.mask,
                image.xaxis, image.yaxis, image.xstrelm, image.ystrelm, image.xendelm,
                image.yendelm, image.title, image.xlabel, image.ylabel, image.zlabel, status);
  };
  if (!ask_form(options, g, status)) {
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
    if (status == kStatusGood) redraw();
    return;
  }
  st.options = options;
  store_option_keys(options, status);
  redraw();
  if (status != kStatusGood) return;

  const bool salt = kind == kSalt;
  const std::string_view ring_name = kind == kAlumina ? "1 0 -2"
                                     : kind == kLab6  ? "100"
                                     : kind == kWax   ? "first"
                                     : salt           ? "200"
                                                      : "111";
  const std::string first_line = "Click on three or more coordinates on the " + std::string(ring_name);
  std::vector<float> x(kMaxClicks), y(kMaxClicks);
  int num = 0;
  GS_INPS_FCOORDINATES(false, image,
                       salt ? "CLICK ON THE 200 (SECOND) SAMPLE RING (>=3)"
                            : "INPUT COORDINATES ON INNER SAMPLE RING (>=3)",
                       7,
                       {first_line,
                        salt ? "reflection ring (the second from the centre)."
                             : "reflection ring (the closest to the centre).",
                        "If 3 or 4 coordinates are entered a circle",
                        "will fitted, otherwise an ellipse will be",
                        "fitted. If there are more coordinates than",
                        "fitted variables, then an estimate of the",
                        "positional error will be produced."},
                       false, kMaxClicks, num, x, y, status);
  if (status == kStatusEscape) {
    ST_DEF_SYSTEM(status);
    return;
  }
  if (status != kStatusGood) return;
  if (num < 3) {
    gs_refusal({"WARNING: Less than three coordinates input"}, status);
    return;
  }
  x.resize(static_cast<std::size_t>(num));
  y.resize(static_cast<std::size_t>(num));
  for (int k = 0; k < num; ++k) {
    x[static_cast<std::size_t>(k)] *= g.x_pixel_size;
    y[static_cast<std::size_t>(k)] *= g.y_pixel_size;
  }
  const bool done = kzt_calibrant_refine(image, &image, options, d_spacings,
                                         salt || kind == kWax, x, y, g, status);
  if (!done || status != kStatusGood) return;
  x_beam = g.x_beam;
  y_beam = g.y_beam;
  x_pixel_size = g.x_pixel_size;
  y_pixel_size = g.y_pixel_size;
  sample_distance = g.sample_distance;
  wavelength = g.wavelength;
  tilt_rotation = g.tilt_rotation;
  tilt_angle = g.tilt_angle;
  polarisation = g.polarisation;
  KZT_SET_GEOMETRY(true, key_x, key_y, sample_distance, wavelength, key_rotation, key_tilt,
                   detector_rotation, status);
}

}  // namespace kesta
