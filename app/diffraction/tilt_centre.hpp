#pragma once
// The beam centre and detector tilt (and, from the keyboard, the sample
// distance) from powder rings of any sample: each ring's cone angle is a
// fitted parameter of its own, so no d-spacings are needed. An ellipse on the
// detector comes from two tilt and centre combinations; both are fitted and
// the user chooses. Also the report lines the calibrant refinement shares.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/diffraction/ring_coordinates.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// The ring fit over the rings of the ring store: parameters X beam, Y beam,
// distance (metres), tilt rotation, tilt angle, then one cone angle per ring
// (radians), all in and out; SIGMA out (metres): 0 for a perfect fit,
// -1.7e38 when there are no more points than parameters. Fixed are the centre
// unless REFINE_BEAM, the distance unless REFINE_DISTANCE, both tilt angles
// unless REFINE_TILT. Codes (+110000): 1 MAX_RINGS < 1, 5 NUM_RINGS outside
// 1 .. MAX_RINGS (or 15) or TWO_THETA too short; 9999 with "ERROR: There are
// no coordinates to fit !". FIT (when given) receives the fit's sum of
// squares and number of points.
void KZT_LSQPOWDER(bool info, int max_rings, int num_rings, bool refine_beam, bool refine_distance,
                   bool refine_tilt, float& sample_distance, float& x_beam, float& y_beam,
                   std::span<float> two_theta, float& tilt_rotation, float& tilt_angle,
                   float& sigma, Status& status, RingFitResidual* fit = nullptr);

// KZT_LSQPOWDER, then with REJECT_OUTLIERS the coordinates beyond
// REJECT_LIMIT standard deviations outside their cone are dropped, the fit is
// repeated and the tilt rotation brought into -pi .. pi by whole turns. FIT
// (when given) receives the last fit's sum of squares and number of points.
void KZT_FITPOWDER(bool info, int max_rings, int num_rings, bool reject_outliers,
                   float reject_limit, bool refine_beam, bool refine_distance, bool refine_tilt,
                   float& sample_distance, float& x_beam, float& y_beam, std::span<float> two_theta,
                   float& tilt_rotation, float& tilt_angle, float& sigma, Status& status,
                   RingFitResidual* fit = nullptr);

// Its model function (argument list of MA_MODELFIT's callback): the
// tilted-cone residual (metres) of every coordinate of the rings in the fit,
// ring after ring.
void KZT_FUNPOWDER(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                   std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                   int num_parameters, std::span<const float> params, Index xmaxmod, Index ymaxmod,
                   bool model_in_data_frame, int& terminate, std::span<float> model,
                   Status& status);

// Tilt rotations into -pi .. pi however many turns off: by whole turns, or
// by half turns each of which reverses the sign of the tilt angle.
void kzt_wrap_whole_turns(float& tilt_rotation);
void kzt_wrap_half_turns(float& tilt_rotation, float& tilt_angle);

// Report lines of an ellipse fit and of a ring fit (metres and radians in,
// millimetres, pixels and degrees out).
void KZT_TILTINFO(float x_pixel_size, float y_pixel_size, Index num_coordinates, float x_centre,
                  float y_centre, float radius_1, float radius_2, float angle, float error,
                  Status& status);
void KZT_TILT2INFO(float x_pixel_size, float y_pixel_size, int num_rings, float x_beam,
                   float y_beam, std::span<const float> two_theta, float tilt_rotation,
                   float tilt_angle, float error, Status& status);

// The starting beam centre (beam-centre menu in the window), the first ring
// and the search half-width (metres, radians), from clicks on the displayed
// IMAGE. CANCELLED -1 when the menu failed or the Gaussian start failed.
void KZT_INP_ELLIPSE(bool info, const GsDisplayedImage& image, float x_pixel_size,
                     float y_pixel_size, int& cancelled, float& x_centre, float& y_centre,
                     float& radius_1, float& radius_2, float& angle, float& half_width,
                     Status& status);

// Further rings by clicks (at most MAX_RINGS - 1 of them): RADII(1) is
// RADIUS_1, the others the clicks' distances from the centre (metres).
// Codes (+110000): 1 MAX_RINGS < 1, 21 RADIUS_1 not above 0.
void KZT_INPRADIA(const GsDisplayedImage& image, bool info, float x_pixel_size, float y_pixel_size,
                  float x_centre, float y_centre, float radius_1, float radius_2, float angle,
                  float half_width, int max_rings, int& num_rings, std::span<float> radii,
                  Status& status);

// How a solution's rings were met when each was searched again along its
// fitted cone: the sections searched (those lying whole on the usable
// image) and those in which the ring was found; how the first ring's
// finds lie among its sections searched, in their circular order (the
// runs of sections where it was found, and the longest run of sections
// where it was not); the change of beam centre (metres) and of tilt
// (radians, the change of the tilt as a vector in the detector plane)
// that the radial offsets of what was found from the fitted rings ask
// for, with each ring's cone angle free; and the rms offset (metres) that
// change leaves. A change the rings found cannot tell from the others (of
// the centre against the tilt on one ring) is held at 0: not
// CENTRE_TILT_FIXED when the centre or the tilt is so held, when the
// parameters the solution refined can make up for a change of either
// (with a refined distance, one ring's cone angle and the distance trade,
// and on a tilted detector the centre slides with them), or when both
// were refined by a fit on one ring (the solution's fit: it fits as well
// with the tilt on the other side of the centre), not DETERMINED when no
// change can be told at all (no ring found anywhere, or found along too
// short a stretch of it): the change is then 0, and the rings are judged
// by their points' offsets from the fitted cones alone (ring_off, the rms
// left). Where the cone angles are known (a calibrant's), how far the
// rings found lie from the fitted cones themselves: the rms of the
// offsets (metres), and each ring's mean offset once the change of centre
// and tilt is made (metres; 0 for a ring found in fewer than five
// sections); and the change of centre, tilt, distance and wavelength
// that puts the rings where they were found (cones_*), held as above.
struct RingFollowing {
  int searched = 0, found = 0;
  std::array<int, 15> ring_searched{}, ring_found{};
  int first_runs = 0, first_gap = 0;
  bool determined = false, centre_tilt_fixed = true;
  double centre_move = 0.0, tilt_move = 0.0, scatter = 0.0;
  double off_cones = 0.0;
  std::array<double, 15> ring_offsets{};
  bool cones_determined = false, cones_centre_tilt_fixed = true;
  int cones_used = 0;
  double cones_scatter = 0.0, largest_offset = 0.0;
  std::array<double, 6> cones_change{};
  // The points' own scatter (metres), as told by successive points found
  // on one ring, about the change of centre and tilt (noise) and about the
  // calibrant's change (cones_noise): a ring whose shape the fitted cones
  // miss leaves offsets that vary smoothly round it, far above that.
  double noise = 0.0, cones_noise = 0.0;
  // Where the cone angles are known: each ring found in at most a third of
  // its sections whose annulus shows nothing where the ring should lie,
  // though the nearest rings found round the ring show clearly there.
  std::array<bool, 15> ring_missing{};
  // Each ring that lies more than FollowingLimits' ring from where the
  // image shows it somewhere on the image (ring_apart), whether or not the
  // rings fix the centre and tilt, or, where they do not, off its fitted
  // cone by more than its ring_off on the mean; also each ring whose
  // points lie more than FollowingLimits' ring rms off its fitted cone,
  // far beyond their own scatter (those the change left out too, where it
  // left out most of the ring's).
  std::array<bool, 15> ring_off{};
  // Each ring's mean offset from its fitted cone once that change is made
  // (metres, over the points ring_off judges; 0 for a ring not judged).
  std::array<double, 15> ring_off_by{};
  // Each ring's largest distance (metres) on the image from where the image
  // shows it, as its mean offset and the change of centre and tilt put it
  // (0 for a ring not judged).
  std::array<double, 15> ring_apart{};
  // The change of distance (metres) the rings' shapes ask for clearly
  // where two rings or more were found (0 where they do not): the change
  // of centre and tilt is then the one made with it.
  double distance_move = 0.0;
  // The first ring's points (those the user clicked, or found about the
  // clicks) lie on usable pixels: a solution none of whose sections lies
  // whole on usable pixels then puts that ring where it is not, which is a
  // wrong result, not an unchecked one.
  bool first_ring_on_image = false;
};

// Whether most of the points X, Y (metres) lie on usable pixels of IM:
// inside its region, unmasked, holding a number other than 0 (the value
// of a module gap).
bool kzt_points_on_usable_pixels(const GsDisplayedImage& im, std::span<const float> x,
                                 std::span<const float> y, float x_pixel_size,
                                 float y_pixel_size);

// The parameters a result refined; the others were held at what the user
// gave. Where the rings found cannot tell a change of one parameter from a
// change of another, a check takes a held one as given.
struct RefinedParameters {
  bool beam = true, tilt = true, distance = true, wavelength = true;
};

// One position found on a ring searched again: the ring (0-based), its
// offset from the fitted ring (metres), the offset's derivatives along
// a change of the X and Y beam centre, of the tilt vector's two
// components, of the ring's cone angle and of the distance, and its
// azimuth.
struct FollowedPoint {
  int ring = 0;
  double offset = 0.0;
  std::array<double, 6> d{};
  double azimuth = 0.0;  // radians, 0 .. 2 pi, about the fitted centre
};

// One fitted combination of beam centre (metres), distance, tilt and cone
// angles, with the standard deviation of its fit, how well the fit met the
// points, and how its rings were met when searched again along its cones.
struct TiltSolution {
  float x_beam = 0.0f, y_beam = 0.0f, distance = 0.0f, rotation = 0.0f, tilt = 0.0f;
  std::array<float, 15> two_theta{};
  float sigma = 0.0f;
  RingFitResidual fit;
  RingFollowing following;
};

// The rings known to lie on the image (cone angles, radians), those
// judged among them or not: a ring's neighbours. CONES_KNOWN: the cone
// angles of the rings judged are a calibrant's (its d-spacings at the
// wavelength), which a geometry that is off moves together.
struct RingNeighbours {
  std::span<const float> two_theta;
  bool cones_known = false;
};

// Each ring of SOLUTION (its first NUM_RINGS cone angles) searched again,
// its annulus of HALF_WIDTH (metres) following the fitted cone about the
// fitted centre, into a store of its own (the ring store stays as it is);
// the radial offsets of what was found from the fitted rings are fitted,
// linearised, by a change of the centre, of the tilt and of each ring's
// cone angle. The search is a check's (kzt_find_store_rings): sections in
// gaps, or holding values that are not numbers, are left out, and a ring
// is taken only at a profile's one clear maximum. With NEIGHBOURS each
// annulus reaches at most half the least distance, along any section's
// direction, to another of the rings or of the neighbours, so that none
// holds part of a neighbouring ring, and a ring left less than three
// radial bins is not searched; where their cones are known the offsets
// are also fitted by one change of centre, tilt, distance and wavelength,
// which gives each ring's largest distance from the result's ring on the
// image (cones_*, largest_offset). Where the change of centre and tilt
// stays within the limits but two rings or more found ask clearly for
// another distance (a distance held off bends the conics as a tilt does,
// and the fit meets the rings with a tilt and centre off), the change is
// the one made with the distance (distance_move). A change that moves the
// points found by less than a tenth of a pixel (root sum of squares) for
// one as large as the judgement's limit is not told: it is held, a
// parameter the solution held (REFINED) before one it refined; a centre or
// tilt that moves them less than that beyond what every parameter refined
// can take up is not judged either. Not determined for a solution whose
// cones cannot be drawn.
RingFollowing kzt_follow_rings(const GsDisplayedImage& image, const TiltSolution& solution,
                               float x_pixel_size, float y_pixel_size, int num_rings,
                               float half_width, int num_sections, Status& status,
                               const RingNeighbours* neighbours = nullptr,
                               const RefinedParameters& refined = {});

// A fit follows the rings it was given, and those may have been searched
// where the rings are not (on circles about one centre, which on a tilted
// detector they leave, or along the cones of a geometry still off): what
// was found near the edge of a search annulus is pulled inwards, and the
// fit with it, to a small residual. Searched again along the fit's own
// cones, rings that it meets give offsets that ask for no change. False
// for rings that ask for a change of the beam centre above 0.6 pixel or
// of the tilt above 0.25 degree (or LIMITS'), leave offsets of more than
// a pixel rms, or were found nowhere, for rings that lie off the fitted
// cones' shape (kzt_rings_lie_off_cones: a mirror solution on close
// rings, whose centre and tilt they may not fix), and where the first
// ring (the one the search starts from) was found in fewer than two thirds of the
// sections searched, all in a few runs or with a long run of sections
// between: a ring the solution misses is found only where its cone
// crosses it, where a coarse powder's ring is found where its
// crystallites happen to lie, round the whole ring.
// The limits say what a user would call a wrong result: a centre about a
// pixel off, a tilt more than a quarter of a degree off, or a ring more
// than half a pixel from where the image shows it. The check measures a
// result's error closely (within about 0.03 pixel and 0.015 degree); the
// limits lie between the largest change right results asked for (0.51
// pixel, 0.24 degree, on coarse powders, whose centre and tilt are found
// less closely) and the smallest by which a wrong one was told alone (0.83
// pixel). Tighter ones (0.2 pixel, 0.065 degree) warned a third of the
// right TILT solutions on coarse powders.
struct FollowingLimits {
  double centre = 0.6;   // pixels
  double tilt = 0.25;    // degrees
  double scatter = 1.0;  // pixels
  // A ring: how far (pixels) it may lie from the image's ring anywhere on
  // the image, as the change moves a calibrant's ring
  // (kzt_check_calibrant_result) or as TILT/BEAM CENTRE's cone lies off
  // its ring (RingFollowing's ring_off).
  double ring = 0.5;
  // A ring of TILT/BEAM CENTRE off its own cone on the mean over the ring
  // (pixels), where the rings do not fix the centre and tilt: the change
  // they tell then misses what they cannot tell, and the largest distance
  // with it may fall short (0.43 pixel on the mean, 0.58 the largest).
  double ring_off = 0.4;
};
bool kzt_rings_followed(const RingFollowing& following, float x_pixel_size,
                        const FollowingLimits& limits = {});

// Whether the first ring was met round its sections searched: in two thirds
// of them, or spread round them as a coarse powder's crystallites are.
bool kzt_first_ring_met(const RingFollowing& following);

// Whether the change of centre and tilt that rings searched again ask for
// tells another centre or tilt: where the rings found cannot fix them
// together (not CENTRE_TILT_FIXED: one ring), a change that the fitted
// cones already meet within a tenth of a pixel (OFF_CONES, metres rms,
// before it is made) is one the ring trades along its own shape: the
// result is unchecked, not off.
bool kzt_centre_tilt_move_told(bool centre_tilt_fixed, double off_cones, float x_pixel_size);

// Whether points found RMS (metres) off the fitted cones, once every change
// the check allows is made, lie off them beyond what their own scatter
// NOISE (metres) leaves: by more than a tenth of a pixel and five times
// that scatter.
bool kzt_rings_lie_off_cones(double rms, double noise, float x_pixel_size);
// The line of a warning that names that check.
std::string off_cones_line(double rms, double noise, float x_pixel_size);

// When not kzt_rings_followed: a warning that the fitted rings do not
// follow the image's rings, with the sections where they were found, the
// rms offset left and the check that failed. No remedy is advised: on the
// sweeps none turned half of the warned results right. Where they follow
// but not CENTRE_TILT_FIXED (kCentreTiltUnchecked, which the calibrant
// refinement's check says too), or nothing was searched, a line that the
// result could not be checked. True when written.
bool kzt_warn_rings_not_followed(const RingFollowing& following, float x_pixel_size,
                                 Status& status, const FollowingLimits& limits = {});
// The lines of that warning, or none.
std::vector<std::string> kzt_rings_not_followed_warning(const RingFollowing& following,
                                                        float x_pixel_size,
                                                        const FollowingLimits& limits = {});
// The warnings of solution S as its report gives them: the ring fit's
// residual above a pixel (kzt_poor_ring_fit_warning), unless the rings
// searched again along its cones were found within a pixel rms of them
// (points in sections holding no ring, as a coarse powder leaves, make
// that residual), then kzt_rings_not_followed_warning's lines.
std::vector<std::string> kzt_tilt_solution_warning(const TiltSolution& s, float x_pixel_size);
inline constexpr std::string_view kCentreTiltUnchecked =
    "WARNING: The beam centre and tilt could not be checked: the rings found cannot fix them "
    "together";

// The fitting half of TILT/BEAM CENTRE, after the rings were given: ring
// coordinates around RADII (metres) of the first NUM_RINGS rings with one
// HALF_WIDTH, with the beam centre refined an ellipse through the first
// ring's coordinates, then one fit, or two (the tilt on either side) when
// both centre and tilt are refined (none, after a line that says so, when
// the first ring gives fewer than five points for the ellipse or no ring
// gives any). Tilt
// rotations come back within -pi .. pi. SAMPLE_DISTANCE is refined in place when asked. One ring fits
// centre and tilt together to a small residual without fixing them: that
// is said in a warning, and the solutions stand. Each solution's rings are
// then searched again along its cones, the ring store left as its fit
// left it, for kzt_warn_rings_not_followed.
void kzt_fit_tilt_solutions(const GsDisplayedImage& image, float x_pixel_size, float y_pixel_size,
                            bool full_info, int num_sections, bool reject_outliers,
                            float reject_limit, bool refine_beam, bool refine_distance,
                            bool refine_tilt, float& sample_distance, float x_beam, float y_beam,
                            float tilt_rotation, float tilt_angle, int num_rings,
                            std::span<const float> radii, float half_width, float radius_1,
                            float radius_2, float angle, int& num_solutions,
                            std::array<TiltSolution, 2>& solutions, Status& status);

// TILT/BEAM CENTRE: GUI selects the window's forms, else terminal questions
// (the clicks are on the window in both). The beam centre in pixels, the
// distance and wavelength in metres and the angles in radians, in and out;
// the pixel sizes are asked from the keyboard and updated. In the window
// the geometry form shows these values and what it returns is kept in them
// (the fit still starts from the centre given on entry), also when the
// command is left later. DETECTOR_GAIN has no effect: the ring fit is
// unweighted. The caller stores the geometry. A solution whose fit leaves
// an rms radial residual above a pixel is reported with a warning that it
// does not fit the rings (not where its rings searched again lie within a
// pixel rms of its cones: kzt_tilt_solution_warning), one whose rings
// searched again along its cones show that it does not follow them with a
// warning of that, which names
// the calibrant refinement of the road: CALIBRANT in the window (GUI),
// SILICON CALIBRATION at the keyboard's FIT sub-menu. With GUI the
// warnings of the solutions are shown in the window too, a box for each
// solution warned of, before the choice of solution.
void KZT_TILTCENTRE(bool gui, const GsDisplayedImage& image, float& x_pixel_size,
                    float& y_pixel_size, float detector_gain, float& sample_distance,
                    float& wavelength, float& x_beam_centre, float& y_beam_centre,
                    float& tilt_rotation, float& tilt_angle, Status& status);

}  // namespace kesta
