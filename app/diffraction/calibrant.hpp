#pragma once
// Calibration of the experiment geometry from the powder rings of a known
// calibrant: the user picks the calibrant, confirms the starting values and
// clicks on the inner ring; the program then finds ring coordinates and
// refines beam centre, distance, wavelength and detector tilt by least
// squares over more and more rings, rejecting out-lying coordinates.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/diffraction/ring_coordinates.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

struct RingFollowing;

// The options of the refinement, kept for the run and stored under their
// CALI_* keys after each O.K. of the form.
struct CalibrantOptions {
  int sections = 90;
  bool reject_outliers = true;
  float reject_limit = 4.0f;
  bool full_info = true;
  bool refine_beam = true;
  bool refine_distance = true;
  bool refine_wavelength = true;
  bool refine_tilt = true;
  bool extra_iterations = false;
  bool refine_polarisation = false;  // only through its key
};

// What KZT_CALIBRANT remembers for the run (tests may reset it).
struct CalibrantState {
  bool first_call = true;
  CalibrantOptions options;
  std::string user_file = "sample.Ds";
};
CalibrantState& kzt_calibrant_state();

// The built-in calibrants, in menu order; the last entry is "USER DEFINED".
struct CalibrantTable {
  std::string_view choice;
  std::string_view help;
  std::vector<float> d_spacings;  // metres, innermost ring first
};
std::span<const CalibrantTable> kzt_calibrants();

// The geometry the refinement works on: metres and radians.
struct CalibrantGeometry {
  float x_pixel_size = 1.0e-4f, y_pixel_size = 1.0e-4f;
  float sample_distance = 0.1f, wavelength = 1.0e-10f;
  float x_beam = 0.0f, y_beam = 0.0f;
  float tilt_rotation = 0.0f, tilt_angle = 0.0f;
  float polarisation = 0.0f;
};

// The refinement after the clicks: circle or ellipse through the clicked
// points (metres), coordinates on the first ring, the distance estimate and
// the passes over 4, (7, 11,) and up to 15 rings, then the polarisation on
// request. DISPLAY (or nullptr: nothing is drawn) is the image to redraw.
// NARROW halves the search annulus (rings close together). Returns true when
// the passes ran and GEOMETRY holds their result (checked by
// kzt_check_calibrant_result, whose warning leaves it standing and is
// shown in the window too when DISPLAY is given); false
// after a warning that stopped it, GEOMETRY then as it was given.
bool kzt_calibrant_refine(const GsDisplayedImage& image, const GsDisplayedImage* display,
                          const CalibrantOptions& options, std::span<const float> d_spacings,
                          bool narrow, std::span<const float> click_x,
                          std::span<const float> click_y, CalibrantGeometry& geometry,
                          Status& status);

// The check of a refined geometry G against the image's rings: each ring
// of RINGS (d-spacings, metres) searched again along the cone that G puts
// its d-spacing on, in annuli of 1.5 LAST_WIDTH (metres) kept apart from
// the other rings of D_SPACINGS, where the image shows it plainly (no gap,
// no value that is not a number, one clear maximum). A result is warned of
// where one change of centre, tilt, distance and wavelength that the
// offsets ask for puts a ring more than 0.5 pixel from G's somewhere on
// the image, moves the centre or the tilt beyond TILT/BEAM CENTRE's
// limits, leaves more than a pixel rms, or where no ring was found; also,
// whether or not the centre and tilt can be told, where the first ring
// was found in a few sections only (not spread round it as a coarse
// powder's are), where the offsets the change leaves lie off the cones'
// shape far beyond the points' own scatter, or where a ring of the list
// found in few sections shows nothing at its cone though its neighbours
// show plainly (a calibrant of another list), or, where the rings found
// tell no change of centre and tilt at all (a ring seen along a short
// stretch), where a ring's points lie off its cone (RingFollowing's
// ring_off): with the rms offset from the cones and the largest distance, each check that
// failed, and LAST's residual when that exceeds a pixel. Nothing is
// advised. A part of the change that the rings found cannot tell from the
// rest (one ring: the distance from the wavelength, the centre from the
// tilt) is held, a parameter O held before one refined; where that leaves
// the centre or the tilt unjudged, where what O refined can make up for a
// change of either (one ring on a tilted detector: the centre slides
// with the distance and the wavelength), or both were refined and LAST's
// fit held one ring alone, one line (kCentreTiltUnchecked) says that
// they could not be checked. Where O refined the distance and the
// wavelength and LAST's fit held one ring alone, the line
// kDistanceWavelengthUnchecked says that they could not be told apart
// (in place of kCentreTiltUnchecked when O held both the centre and the
// tilt). A ring whose cone reaches 90 degrees at G's wavelength is left
// out; with none left, or with no section of the rings on the image's
// usable pixels, a line says that the result could not be checked, unless
// FIRST_RING_ON_IMAGE (the points clicked on the first ring lie on usable
// pixels): G then puts that ring where it is not, and the warning says
// that its rings do not follow the image's. Returns
// the warning's lines, also written to the terminal (none for a result
// that passes).
inline constexpr std::string_view kDistanceWavelengthUnchecked =
    "WARNING: One ring cannot tell the distance from the wavelength: the refined distance and "
    "wavelength could not be checked";
std::vector<std::string> kzt_check_calibrant_result(const GsDisplayedImage& image,
                                                     const CalibrantOptions& o,
                                                     const CalibrantGeometry& g,
                                                     std::span<const float> rings,
                                                     std::span<const float> d_spacings,
                                                     float last_width, const RingFitResidual& last,
                                                     Status& status,
                                                     bool first_ring_on_image = false);
// Its verdict on rings searched again as FOLLOWING tells (X_PIXEL_SIZE in
// metres): no line, the line kCentreTiltUnchecked, or the warning's lines.
std::vector<std::string> kzt_calibrant_check_lines(const RingFollowing& following,
                                                   float x_pixel_size,
                                                   const RingFitResidual& last);

// The whole command: calibrant menu, form, clicks, refinement; the refined
// distance and wavelength are stored in the geometry keys with the centre
// and angles read at the start, the refined centre and tilt return in the
// arguments (metres, radians), which the caller stores. GUI is not used:
// the command always works in the window. DETECTOR_GAIN has no effect.
// Failures (+ 110000): 1, 2 dimensions, 5, 6 the region.
void KZT_CALIBRANT(bool gui, const GsDisplayedImage& image, float& x_pixel_size,
                   float& y_pixel_size, float detector_gain, float& sample_distance,
                   float& polarisation, float& x_beam, float& y_beam, float& wavelength,
                   float& tilt_rotation, float& tilt_angle, Status& status);

// Asks for a file of d-spacings (Angstroms, one a line) and reads up to
// MAX_DSPACINGS of them, in metres. A file with a blank or unreadable line,
// a value not above 0, or no value at all is refused, naming the file and
// the line; nothing changes then. CANCELLED after a cancel.
void KZT_CALIBRANT_USER(int max_dspacings, bool& cancelled, int& num_dspacings,
                        std::span<float> d_spacings, Status& status);

// One least-squares refinement of (X beam, Y beam, distance, wavelength,
// tilt rotation, tilt angle) over the coordinates of the ring store, rings
// 1 .. NUM_RINGS of d-spacings D_SPACINGS (metres). SIGMA out in mm: 0 after
// a perfect fit, -1.7e38 with fewer than 7 points. No coordinates:
// "ERROR: There are no coordinates to fit !" and 119999. FIT (when given)
// receives the fit's sum of squares and number of points.
void KZT_LSQCALIBRANT(bool info, int max_rings, int num_rings, std::span<const float> d_spacings,
                      bool weighted, float normaliser, bool refine_beam, bool refine_distance,
                      bool refine_wavelength, bool refine_tilt, float& sample_distance,
                      float& wavelength, float& x_beam, float& y_beam, float& tilt_rotation,
                      float& tilt_angle, float& sigma, Status& status,
                      RingFitResidual* fit = nullptr);

// KZT_LSQCALIBRANT, with REJECT_OUTLIERS one rejection of coordinates beyond
// REJECT_LIMIT standard deviations and a second fit; the tilt rotation
// comes back in -pi .. pi. FIT (when given) receives the last fit's sum of
// squares and number of points.
void KZT_FITCALIBRANT(bool info, int max_rings, int num_rings, std::span<const float> d_spacings,
                      bool weighted, float normaliser, bool reject_outliers, float reject_limit,
                      bool refine_beam, bool refine_distance, bool refine_wavelength,
                      bool refine_tilt, float& sample_distance, float& wavelength, float& x_beam,
                      float& y_beam, float& tilt_rotation, float& tilt_angle, float& sigma,
                      Status& status, RingFitResidual* fit = nullptr);

// The model function (argument list of MA_MODELFIT's callback): the
// residuals (mm) of every coordinate of the ring store against the cone of
// its ring for PARAMS (X beam, Y beam, distance, wavelength, tilt rotation,
// tilt angle), ring after ring. Never NaN: the arcsine's argument is
// limited to 1.
void KZT_FUNCALIBRANT(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                      std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm,
                      Index xendelm, Index yendelm, void* pass_1, void* pass_2, void* pass_3,
                      void* pass_4, int num_parameters, std::span<const float> params,
                      Index xmaxmod, Index ymaxmod, bool model_in_data_frame, int& terminate,
                      std::span<float> model, Status& status);

}  // namespace kesta
