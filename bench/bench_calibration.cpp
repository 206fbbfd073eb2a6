// Grid calibration and detector response: the grid search of 101 x 101
// holes on a 2048 x 2048 image (from the three starting peaks), and one pass
// of flat field, linearisation (order 10), decay and normalisation on
// 2048 x 2048 and 4096 x 4096 images.
//
// Calibration from powder rings: centre-of-gravity coordinates on 15 rings
// of 90 sections (beside a plain read pass of the same image), the
// least-squares refinement over 15 x 360 coordinates, and a whole calibrant
// refinement from six clicks on the inner ring, on one thread. How close the
// whole refinement comes to the truth with the form's defaults, by the
// width of the rings (calibrant_ring_width), and whether its warnings tell
// a result that is off from one that is right over set-ups of several
// detectors, distances, wavelengths, calibrants, tilts, ring widths and
// noise (calibrant_warning_sweep), on set-ups the warning was not shaped on
// (calibrant_warning_check), and on set-ups drawn at random from a fixed
// seed (calibrant_warning_blind; TILT/BEAM CENTRE on the same images,
// tilt_warning_blind), and on images with module gaps, low counts and
// rings of another phase (calibrant_check_sweep). TILT/BEAM CENTRE with
// search half-widths below how far a tilted detector's rings leave a
// circle (tilt_narrow_sweep). Both commands' checks on set-ups with one
// ring of the list on the detector, on coarse powders' rings of
// crystallites and on others (ring_check_sweep).

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "app/diffraction/calibrant.hpp"
#include "app/diffraction/ring_coordinates.hpp"
#include "app/diffraction/ring_test_support.hpp"
#include "app/diffraction/tilt_centre.hpp"
#include "app/distortion/grid_peaks.hpp"
#include "app/distortion/grid_test_support.hpp"
#include "app/distortion/response.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;

struct Quiet {
  Quiet() : null(std::fopen("/dev/null", "w")) { kesta::io_set_stream(kesta::kStreamTerminal, null); }
  std::FILE* null;
};
const Quiet quiet;

// Silicon's 15 rings on an N x N detector, tilted by 3 degrees, the outer
// ring near the edge.
kesta::testing::RingScene scene(Index n) {
  kesta::testing::RingScene s;
  s.xmax = s.ymax = n;
  s.pixel = 100.0e-6 * 2048.0 / static_cast<double>(n);
  s.x_centre = static_cast<double>(n) / 2.0 + 3.3;
  s.y_centre = static_cast<double>(n) / 2.0 - 5.6;
  s.distance = 0.2;
  s.wavelength = 0.3e-10;
  s.rotation = 0.5;
  s.tilt = 3.0 * M_PI / 180.0;
  for (float d : kesta::kzt_calibrants()[5].d_spacings) s.d_spacings.push_back(d);
  return s;
}

const std::vector<float>& image(Index n) {
  static std::vector<float> images[2];
  std::vector<float>& a = images[n > 2048 ? 1 : 0];
  if (a.empty()) a = kesta::testing::ring_image(scene(n));
  return a;
}

void read_pass(benchmark::State& state) {
  const std::vector<float>& a = image(state.range(0));
  for (auto _ : state) {
    double sum = std::accumulate(a.begin(), a.end(), 0.0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<Index>(a.size()));
}

void find_rings(benchmark::State& state) {
  const Index n = state.range(0);
  const kesta::testing::RingScene s = scene(n);
  const std::vector<float>& a = image(n);
  for (std::size_t k = 0; k < 15; ++k)
    kesta::vosq_kzt_comrings.radii[k] = static_cast<float>(
        s.distance * std::tan(kesta::testing::scene_two_theta(s, s.d_spacings[k])));
  const kesta::RingTilt tilt{s.distance, s.rotation, s.tilt};
  Index found = 0;
  for (auto _ : state) {
    kesta::Status status = kesta::kStatusGood;
    kesta::kzt_find_store_rings(false, n, n, 1, 1, n, n, a, {}, static_cast<float>(s.pixel),
                                static_cast<float>(s.pixel),
                                static_cast<float>(s.x_centre * s.pixel),
                                static_cast<float>(s.y_centre * s.pixel), 15, 0.0012f, 90, false,
                                state.range(1) != 0 ? &tilt : nullptr, status);
    found = std::accumulate(kesta::vosq_kzt_comrings.num_coordinates.begin(),
                            kesta::vosq_kzt_comrings.num_coordinates.end(), Index{0});
  }
  state.counters["coordinates"] = static_cast<double>(found);
  state.SetItemsProcessed(state.iterations() * n * n);
}

void lsq_calibrant(benchmark::State& state) {
  const kesta::testing::RingScene s = scene(2048);
  std::vector<float> d;
  for (int k = 0; k < 15; ++k) {
    d.push_back(static_cast<float>(s.d_spacings[static_cast<std::size_t>(k)]));
    kesta::vosq_kzt_comrings.num_coordinates[static_cast<std::size_t>(k)] = 360;
    for (int j = 0; j < 360; ++j) {
      const auto p = kesta::testing::ring_point(
          s, kesta::testing::scene_two_theta(s, s.d_spacings[static_cast<std::size_t>(k)]),
          (j + 0.5) * 6.283185 / 360.0);
      const std::size_t at = static_cast<std::size_t>(k * 360 + j);
      kesta::vosq_kzt_comrings.x_coordinates[at] = p[0];
      kesta::vosq_kzt_comrings.y_coordinates[at] = p[1];
    }
  }
  for (auto _ : state) {
    float distance = 0.203f, wavelength = static_cast<float>(s.wavelength);
    float x = static_cast<float>((s.x_centre + 2.0) * s.pixel);
    float y = static_cast<float>((s.y_centre - 2.0) * s.pixel);
    float rotation = 0.0f, tilt = 0.0f, sigma = 0.0f;
    kesta::Status status = kesta::kStatusGood;
    kesta::KZT_LSQCALIBRANT(false, 15, 15, d, false, 1.0f, true, true, false, true, distance,
                            wavelength, x, y, rotation, tilt, sigma, status);
    benchmark::DoNotOptimize(distance);
  }
}

// The scene's d-spacings (D) and six clicks on its first ring (X, Y).
void first_ring_clicks(const kesta::testing::RingScene& s, std::vector<float>& d,
                       std::vector<float>& x, std::vector<float>& y) {
  for (double v : s.d_spacings) d.push_back(static_cast<float>(v));
  for (int k = 0; k < 6; ++k) {
    const auto p = kesta::testing::ring_point(s, kesta::testing::scene_two_theta(s, d[0]),
                                              0.3 + k * 1.047);
    x.push_back(p[0]);
    y.push_back(p[1]);
  }
}

void whole_refinement(benchmark::State& state) {
  const kesta::testing::RingScene s = scene(2048);
  const std::vector<float>& a = image(2048);
  std::vector<float> d, x, y;
  first_ring_clicks(s, d, x, y);
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.ymaxdat = m.xendelm = m.yendelm = 2048;
  m.data = a;
  kesta::CalibrantOptions o;
  o.refine_wavelength = false;
  o.full_info = false;
  for (auto _ : state) {
    kesta::CalibrantGeometry g;
    g.x_pixel_size = g.y_pixel_size = static_cast<float>(s.pixel);
    g.sample_distance = 0.206f;
    g.wavelength = static_cast<float>(s.wavelength);
    kesta::Status status = kesta::kStatusGood;
    const bool done = kesta::kzt_calibrant_refine(m, nullptr, o, d, false, x, y, g, status);
    benchmark::DoNotOptimize(done);
  }
}

// ---- Warnings of the calibrant refinement (calibrant_warning_sweep) ----

struct SetUp {
  const char* name;
  int calibrant;  // index in the calibrant menu
  Index pixels;   // square detector
  double pixel, distance, wavelength, rotation;  // metres, radians
};

// Detector sizes, pixel sizes, distances, wavelengths and calibrants as
// users meet them; the beam centre a few pixels off the middle.
const SetUp kSetUps[] = {
    {"Si 1024/100um 100mm 0.5A", 5, 1024, 100.0e-6, 0.100, 0.5e-10, 0.6},
    {"Si 1024/100um 60mm 0.7A", 5, 1024, 100.0e-6, 0.060, 0.7e-10, 2.2},
    {"CeO2 2048/100um 150mm 0.5A", 1, 2048, 100.0e-6, 0.150, 0.5e-10, -2.0},
    {"Si 2048/100um 93mm 0.5A", 5, 2048, 100.0e-6, 0.093, 0.5e-10, 1.0},
    {"LaB6 1536/172um 300mm 1.0A", 2, 1536, 172.0e-6, 0.300, 1.0e-10, -0.8},
    {"Al2O3 3000/75um 203mm 0.7A", 0, 3000, 75.0e-6, 0.203, 0.7e-10, 2.5},
    {"CeO2 3000/75um 400mm 0.3A", 1, 3000, 75.0e-6, 0.400, 0.3e-10, 0.3},
};

kesta::testing::RingScene setup_scene(const SetUp& u, double tilt_degrees, double width,
                                      double rotation_shift) {
  kesta::testing::RingScene s;
  s.xmax = s.ymax = u.pixels;
  s.pixel = u.pixel;
  s.x_centre = static_cast<double>(u.pixels) / 2.0 + 3.3;
  s.y_centre = static_cast<double>(u.pixels) / 2.0 - 5.6;
  s.distance = u.distance;
  s.wavelength = u.wavelength;
  s.rotation = u.rotation + rotation_shift;
  s.tilt = tilt_degrees * M_PI / 180.0;
  s.width = width;
  for (float d : kesta::kzt_calibrants()[static_cast<std::size_t>(u.calibrant)].d_spacings)
    s.d_spacings.push_back(d);
  return s;
}

// The largest distance (pixels, along the radius) between a ring of
// LISTED on scene S and the same ring of geometry G, over the azimuths
// where the true ring lies on the detector; 999 where G puts a ring
// nowhere.
double rings_off_cones(const kesta::testing::RingScene& s, std::span<const float> listed,
                       const kesta::CalibrantGeometry& g) {
  kesta::testing::RingScene fitted = s;
  fitted.x_centre = g.x_beam / s.pixel;
  fitted.y_centre = g.y_beam / s.pixel;
  fitted.distance = g.sample_distance;
  fitted.wavelength = g.wavelength;
  fitted.rotation = g.tilt_rotation;
  fitted.tilt = g.tilt_angle;
  double worst = 0.0;
  for (float d : listed) {
    const double t = kesta::testing::scene_two_theta(s, d);
    if (!std::isfinite(t) || t >= 0.45 * M_PI) continue;
    const double tf = kesta::testing::scene_two_theta(fitted, d);
    bool on_detector = false;
    for (int k = 0; k < 180; ++k) {
      const auto p = kesta::testing::ring_point(s, t, (k + 0.5) * M_PI / 90.0);
      if (p[0] <= 0.0f || p[1] <= 0.0f || p[0] >= s.xmax * s.pixel || p[1] >= s.ymax * s.pixel)
        continue;
      on_detector = true;
      const double off = kesta::testing::ring_offset_pixels(fitted, p[0], p[1], tf);
      worst = std::max(worst, std::isfinite(off) ? std::abs(off) : 999.0);
    }
    if (on_detector && !std::isfinite(tf)) worst = 999.0;
  }
  return worst;
}

struct CalibrantOutcome {
  bool done = false;
  double centre = 999.0, tilt = 999.0;  // pixels, degrees (the tilt vector)
  double distance = 0.0, wavelength = 0.0;  // relative errors
  // The largest error of the radius of a ring on the detector (pixels, as
  // if untilted), and the largest distance of a ring from the true one
  // wherever it lies on the detector (rings_off_cones).
  double ring_off = 0.0, cones = 999.0;
  bool warned = false, advised = false, poor = false, not_followed = false, unchecked = false;
  std::string text;
  // The refined geometry's rings searched again with the last pass's
  // half-width times 1, 1.5, 2 and 3: the centre (pixels) and tilt
  // (degrees) changes asked for and the rms left (pixels).
  std::array<std::array<double, 3>, 4> checks{};
  // At 1.5 times: the largest mean offset of a ring from its cone and the
  // rms offset from the cones (pixels).
  double ring_check = 0.0, off_cones = 0.0;
};

// Where a user's start lies: the distance typed (a factor of the true
// one), the beam centre typed (pixels off the truth), the parameters held
// and the wavelength typed (a factor of the true one).
struct Start {
  double distance = 1.03, x = 3.0, y = -2.0;
  bool refine_distance = true, refine_tilt = true;
  double wavelength = 1.0;
  bool refine_wavelength = true;
};

// The refinement with the form's proposals (EXTRA ITERATIONS as asked),
// started as a user would type (by default the distance 3 % long, the
// centre (3, -2) pixels off), six clicks on the first ring.
CalibrantOutcome refine_scene(const kesta::testing::RingScene& s, const std::vector<float>& a,
                              bool extra, const Start& start = {}) {
  std::vector<float> d, x, y;
  first_ring_clicks(s, d, x, y);
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.xendelm = s.xmax;
  m.ymaxdat = m.yendelm = s.ymax;
  m.data = a;
  kesta::CalibrantOptions o;
  o.extra_iterations = extra;
  o.refine_distance = start.refine_distance;
  o.refine_tilt = start.refine_tilt;
  o.refine_wavelength = start.refine_wavelength;
  kesta::CalibrantGeometry g;
  g.x_pixel_size = g.y_pixel_size = static_cast<float>(s.pixel);
  g.sample_distance = static_cast<float>(start.distance * s.distance);
  g.wavelength = static_cast<float>(start.wavelength * s.wavelength);
  g.x_beam = static_cast<float>((s.x_centre + start.x) * s.pixel);
  g.y_beam = static_cast<float>((s.y_centre + start.y) * s.pixel);
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  kesta::io_set_stream(kesta::kStreamTerminal, out);
  kesta::Status status = kesta::kStatusGood;
  CalibrantOutcome r;
  r.done = kesta::kzt_calibrant_refine(m, nullptr, o, d, false, x, y, g, status) &&
           status == kesta::kStatusGood;
  kesta::io_set_stream(kesta::kStreamTerminal, quiet.null);
  std::fclose(out);
  r.text.assign(text, length);
  std::free(text);
  r.warned = r.text.find("WARNING: The refined geometry does not fit") != std::string::npos ||
             r.text.find("WARNING: The fitted rings do not follow") != std::string::npos ||
             r.text.find("WARNING: The image's rings") != std::string::npos;
  r.unchecked = r.text.find("could not be checked") != std::string::npos;
  r.advised = r.text.find("EXTRA ITERATIONS") != std::string::npos;
  const double dx = g.x_beam / s.pixel - s.x_centre, dy = g.y_beam / s.pixel - s.y_centre;
  r.centre = std::hypot(dx, dy);
  r.distance = std::abs(g.sample_distance / s.distance - 1.0);
  r.wavelength = std::abs(g.wavelength / s.wavelength - 1.0);
  // (Of the rings on the detector.)
  const double reach = 0.5 * std::hypot(s.xmax, s.ymax) * s.pixel;
  for (std::size_t k = 0; k < d.size() && k < 15; ++k) {
    const double t = kesta::testing::scene_two_theta(s, d[k]);
    if (!std::isfinite(t) || t >= 0.5 * M_PI || s.distance * std::tan(t) > reach) continue;
    const double fitted = g.sample_distance * std::tan(2.0 * std::asin(g.wavelength / (2.0 * d[k])));
    r.ring_off = std::max(r.ring_off, std::abs(fitted - s.distance * std::tan(t)) / s.pixel);
  }
  r.tilt = std::hypot(std::cos(g.tilt_rotation) * g.tilt_angle - std::cos(s.rotation) * s.tilt,
                      std::sin(g.tilt_rotation) * g.tilt_angle - std::sin(s.rotation) * s.tilt) *
           180.0 / M_PI;
  if (r.done) r.cones = rings_off_cones(s, d, g);
  if (!r.done) r.warned = true;  // a stopped refinement says so
  r.poor = r.text.find("WARNING: The refined geometry does not fit") != std::string::npos;
  r.not_followed = r.text.find("WARNING: The fitted rings do not follow") != std::string::npos;
  if (r.done) {
    kesta::TiltSolution t;
    t.x_beam = g.x_beam;
    t.y_beam = g.y_beam;
    t.distance = g.sample_distance;
    t.rotation = g.tilt_rotation;
    t.tilt = g.tilt_angle;
    int n = 0;
    std::vector<float> others;
    for (float v : d)
      if (g.wavelength / (2.0 * v) < 0.7071) {
        others.push_back(static_cast<float>(2.0 * std::asin(g.wavelength / (2.0 * v))));
        if (n < 15) t.two_theta[static_cast<std::size_t>(n++)] = others.back();
      }
    // The last pass's half-width: an eighth of the first ring's radius,
    // halved.
    const double last = 0.0625 * s.distance * std::tan(kesta::testing::scene_two_theta(s, d[0]));
    const double factors[] = {1.0, 1.5, 2.0, 3.0};
    const kesta::RingNeighbours neighbours{others};
    for (std::size_t k = 0; k < 4; ++k) {
      kesta::Status st = kesta::kStatusGood;
      const kesta::RingFollowing f =
          kesta::kzt_follow_rings(m, t, g.x_pixel_size, g.y_pixel_size, n,
                                  static_cast<float>(last * factors[k]), 90, st, &neighbours);
      r.checks[k] = {f.determined ? f.centre_move / s.pixel : 99.0,
                     f.determined ? f.tilt_move * 180.0 / M_PI : 99.0,
                     f.determined ? f.scatter / s.pixel : 99.0};
      if (k == 1) {
        for (double v : f.ring_offsets)
          r.ring_check = std::max(r.ring_check, std::abs(v) / s.pixel);
        r.off_cones = f.off_cones / s.pixel;
      }
    }
  }
  return r;
}

// The cells of a warning sweep: right warned, right silent, wrong warned,
// wrong silent, between warned, between silent, advised though not wrong,
// wrong; one row without EXTRA ITERATIONS, one with them.
using SweepCells = double[2][8];

void tally(double* c, const CalibrantOutcome& r, bool right, bool wrong) {
  if (right) {
    ++c[r.warned ? 0 : 1];
  } else if (wrong) {
    ++c[r.warned ? 2 : 3];
    ++c[7];
  } else {
    ++c[r.warned ? 4 : 5];
  }
  if (r.advised && !wrong) ++c[6];
}

void set_cell_counters(benchmark::State& state, const SweepCells& cells) {
  static const char* const kNames[] = {"right_warned", "right_silent",   "wrong_warned",
                                       "wrong_silent", "between_warned", "between_silent",
                                       "advised_not_wrong", "wrong"};
  for (int extra : {0, 1})
    for (int k = 0; k < 8; ++k)
      state.counters[std::string(kNames[k]) + (extra != 0 ? "_x" : "")] = cells[extra][k];
}

// Ceria's rings on a 2048 x 2048 detector of 100 micron pixels at 250 mm
// and 0.7 Angstrom, tilted by 0 to 9 degrees (tilt plane at 0.6 radians),
// the rings' sigma from a quarter of a pixel to 3 pixels (at the beam's
// distance). The refinement runs with the form's defaults (everything
// refined, rejection at 4 standard deviations, 90 sections), with or
// without EXTRA ITERATIONS, from what a user would type: the distance 3 %
// off, the centre (3, -2) pixels off, six clicks on the first ring.
// Reported: the beam centre's distance from the truth (centre_px), the
// tilt vector's error (tilt_deg), the distance's relative error, and
// whether the result carried a warning.
// Arguments: ring sigma (hundredths of a pixel), tilt (degrees), extra
// iterations (0 or 1), counting noise (0, or 1: each pixel a Poisson draw
// of its value, the rings' peak 1000 over a background of 10).
void calibrant_ring_width(benchmark::State& state) {
  kesta::testing::RingScene s;
  s.xmax = s.ymax = 2048;
  s.x_centre = 1027.3;
  s.y_centre = 1018.4;
  s.distance = 0.25;
  s.wavelength = 0.7e-10;
  s.rotation = 0.6;
  s.tilt = static_cast<double>(state.range(1)) * M_PI / 180.0;
  s.width = static_cast<double>(state.range(0)) / 100.0;
  for (float d : kesta::kzt_calibrants()[1].d_spacings) s.d_spacings.push_back(d);
  const std::vector<float> a = kesta::testing::ring_image(s, state.range(3) != 0);
  CalibrantOutcome r;
  for (auto _ : state) r = refine_scene(s, a, state.range(2) != 0);
  state.counters["centre_px"] = r.centre;
  state.counters["tilt_deg"] = r.tilt;
  state.counters["distance_rel"] = r.distance;
  state.counters["warned"] = r.warned ? 1.0 : 0.0;
}

void ring_width_arguments(benchmark::internal::Benchmark* b) {
  for (int noise : {0, 1})
    for (int width : {5, 10, 25, 50, 150})
      for (int tilt : {0, 5, 9})
        for (int extra : {0, 1}) b->Args({width, tilt, extra, noise});
}

BENCHMARK(calibrant_ring_width)
    ->Apply(ring_width_arguments)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The sweep of one set-up: each tilt (degrees, and the shift of the tilt
// plane from the set-up's rotation), ring sigma (pixels at the beam's
// distance) and noise, each image refined without and with EXTRA
// ITERATIONS from START. Right means within 0.5 pixel and 0.2 degree of
// the truth with every ring radius (from distance and wavelength) within
// half a pixel, wrong more than 1 pixel or 0.3 degree off or with a ring
// radius more than a pixel off; warned any
// warning of the result (or a stop); advised the advice of EXTRA
// ITERATIONS. The counters give the cells by EXTRA ITERATIONS (_x); with
// KESTA_CALIBRANT_SWEEP_LIST set to a file name every refinement is added
// to it, one line each: set-up, tilt, shift of the tilt plane, ring sigma,
// noise, extra iterations, flags (w warned, p the residual line, f the
// rings-not-followed line, a advised), centre and tilt errors, the
// relative errors of distance and wavelength and the largest error of a
// ring's radius (pixels, as if untilted), then for
// the rings searched again (the neighbours kept out of each annulus) with
// the last pass's half-width times 1, 1.5, 2 and 3 the centre and tilt
// changes asked for and the rms left, and last the largest distance of a
// ring of the list from the true one wherever that lies on the detector
// (pixels).
struct SweepTilt {
  double degrees, shift;
};
void warning_sweep(benchmark::State& state, const SetUp& u, std::span<const SweepTilt> tilts,
                   std::span<const double> widths, unsigned seed, const Start& start) {
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_CALIBRANT_SWEEP_LIST")) list = std::fopen(name, "a");
  // [extra][right warned, right silent, wrong warned, wrong silent, between
  // warned, between silent, advised not wrong, wrong]
  SweepCells cells = {};
  double worst[2][2] = {};
  for (auto _ : state) {
    for (const SweepTilt t : tilts) {
      for (double width : widths) {
        for (int noise : {0, 1}) {
          kesta::testing::RingScene s = setup_scene(u, t.degrees, width, t.shift);
          s.seed = seed;
          const std::vector<float> a = kesta::testing::ring_image(s, noise != 0);
          for (int extra : {0, 1}) {
            const CalibrantOutcome r = refine_scene(s, a, extra != 0, start);
            // A distance and wavelength that put a ring more than a pixel
            // from the image's are wrong too.
            const bool right = r.done && r.centre <= 0.5 && r.tilt <= 0.2 && r.ring_off <= 0.5;
            const bool wrong = !r.done || r.centre > 1.0 || r.tilt > 0.3 || r.ring_off > 1.0;
            tally(cells[extra], r, right, wrong);
            worst[extra][0] = std::max(worst[extra][0], r.centre);
            worst[extra][1] = std::max(worst[extra][1], r.tilt);
            if (list != nullptr) {
              std::fprintf(list, "%-28s %3.1f %3.1f %3.1f %d %d %s%s%s%s %8.3f %7.3f", u.name,
                           t.degrees, t.shift, width, noise, extra, r.warned ? "w" : "-",
                           r.poor ? "p" : "-", r.not_followed ? "f" : "-",
                           r.advised ? "a" : "-", r.centre, r.tilt);
              std::fprintf(list, " %7.4f %7.4f %6.2f", r.distance, r.wavelength, r.ring_off);
              for (const auto& c : r.checks) std::fprintf(list, " | %6.3f %6.3f %6.3f", c[0], c[1], c[2]);
              std::fprintf(list, " | %6.3f %6.3f | %8.3f\n", r.ring_check, r.off_cones, r.cones);
            }
          }
        }
      }
    }
  }
  if (list != nullptr) std::fclose(list);
  set_cell_counters(state, cells);
  for (int extra : {0, 1}) {
    state.counters[extra != 0 ? "worst_px_x" : "worst_px"] = worst[extra][0];
    state.counters[extra != 0 ? "worst_deg_x" : "worst_deg"] = worst[extra][1];
  }
}

// Argument: the set-up (index in kSetUps). Tilts 0, 3, 6 and 9 degrees (the
// tilt plane at the set-up's rotation, and 1.3 radians on at 6 degrees),
// ring sigmas 0.5, 1.5 and 3 pixels (at the beam's distance), without and
// with counting noise (each pixel a Poisson draw, the rings' peak 1000
// over 10), each refined without and with EXTRA ITERATIONS: 60 refinements,
// started with the distance 3 % long and the centre (3, -2) pixels off.
void calibrant_warning_sweep(benchmark::State& state) {
  static constexpr SweepTilt kTilts[] = {{0, 0}, {3, 0}, {6, 0}, {6, 1.3}, {9, 0}};
  static constexpr double kWidths[] = {0.5, 1.5, 3.0};
  warning_sweep(state, kSetUps[state.range(0)], kTilts, kWidths, 12345, Start{});
}

BENCHMARK(calibrant_warning_sweep)
    ->DenseRange(0, static_cast<int>(std::size(kSetUps)) - 1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// Set-ups that the check of the warnings was not shaped on: other
// detectors, distances, wavelengths, a further calibrant (salt).
const SetUp kCheckSetUps[] = {
    {"Si 1024/100um 120mm 0.6A", 5, 1024, 100.0e-6, 0.120, 0.6e-10, 1.7},
    {"CeO2 1024/100um 90mm 0.4A", 1, 1024, 100.0e-6, 0.090, 0.4e-10, -1.1},
    {"LaB6 2048/100um 200mm 0.7A", 2, 2048, 100.0e-6, 0.200, 0.7e-10, 0.9},
    {"Al2O3 2048/100um 180mm 0.6A", 0, 2048, 100.0e-6, 0.180, 0.6e-10, -2.6},
    {"CeO2 2048/100um 220mm 0.6A", 1, 2048, 100.0e-6, 0.220, 0.6e-10, 2.9},
    {"NaCl 1536/172um 250mm 0.9A", 3, 1536, 172.0e-6, 0.250, 0.9e-10, 0.2},
    {"Si 2880/75um 170mm 0.45A", 5, 2880, 75.0e-6, 0.170, 0.45e-10, -0.4},
};

// Argument: the set-up (index in kCheckSetUps). The same sweep on other
// tilts (1.5, 4.5 and 7.5 degrees, and 4.5 with the tilt plane 2.1 radians
// on), ring sigmas 0.8 and 2.2 pixels, another noise seed, and another
// start (the distance 2 % short, the centre (-2, 2.5) pixels off): 32
// refinements.
void calibrant_warning_check(benchmark::State& state) {
  static constexpr SweepTilt kTilts[] = {{1.5, 0}, {4.5, 0}, {4.5, 2.1}, {7.5, 0}};
  static constexpr double kWidths[] = {0.8, 2.2};
  warning_sweep(state, kCheckSetUps[state.range(0)], kTilts, kWidths, 4711,
                Start{0.98, -2.0, 2.5});
}

BENCHMARK(calibrant_warning_check)
    ->DenseRange(0, static_cast<int>(std::size(kCheckSetUps)) - 1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// ---- Set-ups drawn at random (calibrant_warning_blind) ----

// Chromium oxide (eskolaite, a = 4.959, c = 13.594 Angstroms) and gold
// (a = 4.0782 Angstroms), as a user's file of d-spacings would give them.
const std::vector<float> kChromiumOxide = {
    3.6306e-10f, 2.665e-10f,  2.4795e-10f, 2.2657e-10f, 2.1752e-10f,
    2.0476e-10f, 1.8153e-10f, 1.6726e-10f, 1.6118e-10f, 1.5801e-10f,
    1.5788e-10f, 1.4647e-10f, 1.4315e-10f, 1.3937e-10f, 1.3325e-10f};
const std::vector<float> kGold = {
    2.3546e-10f, 2.0391e-10f, 1.4419e-10f, 1.2296e-10f, 1.1773e-10f,
    1.0196e-10f, 0.9356e-10f, 0.9120e-10f, 0.8325e-10f, 0.7849e-10f,
    0.7209e-10f, 0.6893e-10f, 0.6797e-10f, 0.6448e-10f, 0.6220e-10f};

// Draws from a fixed seed, as the sweeps' set-ups are drawn.
struct Draws {
  explicit Draws(std::uint64_t seed) : random(seed) {}
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(random);
  }
  double log_uniform(double lo, double hi) { return std::exp(uniform(std::log(lo), std::log(hi))); }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
  std::mt19937_64 random;
};

struct Detector {
  Index pixels;
  double pixel;
};

// The calibrants the drawn set-ups choose among (five of the menu's, gold
// and chromium oxide) and the d-spacings of each.
const char* const kDrawnCalibrants[] = {"Al2O3", "CeO2", "LaB6", "NaCl", "Si", "Au", "Cr2O3"};
std::vector<float> drawn_calibrant(int calibrant) {
  if (calibrant == 5) return kGold;
  if (calibrant == 6) return kChromiumOxide;
  static constexpr int kMenu[] = {0, 1, 2, 3, 5};
  return kesta::kzt_calibrants()[static_cast<std::size_t>(kMenu[calibrant])].d_spacings;
}

// A set-up drawn at random: the scene (without its image), what shades it
// (a beam stop on an arm, gaps between modules), where the user starts and
// which parameter, if any, is held.
struct BlindSetUp {
  std::string name;
  kesta::testing::RingScene scene;
  bool noise = false;
  double stop_radius = 0.0, arm_angle = 0.0;  // pixels, radians; 0: no beam stop
  bool gaps = false;
  Start start;
  enum Held { kNothing, kTilt, kDistance } held = kNothing;
};

// The set-ups of calibrant_warning_blind, drawn once from a fixed seed
// before the check they measure was written: detectors of 1024 to 4096
// pixels, distances of 60 to 600 mm, wavelengths of 0.2 to 1.5 Angstroms
// (dense calibrants half the time at 0.2 to 0.4), tilts to 10 degrees
// about any plane, rings of 0.5 to 3 pixels' sigma, counting noise, beam
// stops and module gaps, the start a few per cent and pixels off, the
// tilt or the distance held on a quarter each. A draw whose first ring
// the user could not click round (in the beam stop's shadow or off the
// image) or with fewer than five rings on the detector is drawn again.
const std::vector<BlindSetUp>& blind_set_ups() {
  static const std::vector<BlindSetUp> set_ups = [] {
    std::vector<BlindSetUp> out;
    Draws draw(20261208);
    static constexpr Detector kDetectors[] = {{1024, 100e-6}, {1024, 79e-6},  {1024, 172e-6},
                                              {1536, 172e-6}, {2048, 100e-6}, {2048, 79e-6},
                                              {2880, 75e-6},  {3072, 100e-6}, {4096, 75e-6},
                                              {4096, 50e-6}};
    while (out.size() < 48) {
      BlindSetUp u;
      kesta::testing::RingScene& s = u.scene;
      const bool dense = draw.pick(2) == 0;
      // Dense: alumina, ceria, gold, chromium oxide; any: all seven.
      static constexpr int kDense[] = {0, 1, 5, 6};
      const int calibrant = dense ? kDense[draw.pick(4)] : draw.pick(7);
      const std::vector<float> d = drawn_calibrant(calibrant);
      const Detector det = kDetectors[draw.pick(static_cast<int>(std::size(kDetectors)))];
      s.xmax = s.ymax = det.pixels;
      s.pixel = det.pixel;
      s.distance = std::exp(draw.uniform(std::log(0.06), std::log(0.6)));
      s.wavelength = dense ? draw.uniform(0.2e-10, 0.4e-10)
                           : std::exp(draw.uniform(std::log(0.2e-10), std::log(1.5e-10)));
      s.tilt = draw.uniform(0.0, 10.0) * M_PI / 180.0;
      s.rotation = draw.uniform(-M_PI, M_PI);
      s.width = draw.uniform(0.5, 3.0);
      const double half = static_cast<double>(det.pixels) / 2.0;
      s.x_centre = half + draw.uniform(-0.08, 0.08) * det.pixels;
      s.y_centre = half + draw.uniform(-0.08, 0.08) * det.pixels;
      s.seed = static_cast<unsigned>(draw.random() & 0xffffffu);
      for (float v : d) s.d_spacings.push_back(v);
      u.noise = draw.pick(2) == 0;
      if (draw.pick(10) < 7) {
        u.stop_radius = draw.uniform(8.0, 40.0);
        u.arm_angle = draw.uniform(-M_PI, M_PI);
      }
      u.gaps = draw.pick(10) < 3;
      u.start.distance = draw.uniform(0.97, 1.03);
      u.start.x = draw.uniform(-3.0, 3.0);
      u.start.y = draw.uniform(-3.0, 3.0);
      const int held = draw.pick(4);
      u.held = held == 0 ? BlindSetUp::kTilt : held == 1 ? BlindSetUp::kDistance
                                                         : BlindSetUp::kNothing;
      // The first ring clickable, five rings or more on the detector.
      const double first = kesta::testing::scene_two_theta(s, d[0]);
      if (!std::isfinite(first) || first >= 0.45 * M_PI) continue;
      bool clickable = true;
      for (int k = 0; k < 6; ++k) {
        const auto p = kesta::testing::ring_point(s, first, 0.3 + k * 1.047);
        const double px = p[0] / s.pixel, py = p[1] / s.pixel;
        const double from_centre = std::hypot(px - s.x_centre, py - s.y_centre);
        if (px < 5.0 || py < 5.0 || px > det.pixels - 5.0 || py > det.pixels - 5.0 ||
            from_centre < u.stop_radius + 15.0 || from_centre < 25.0)
          clickable = false;
      }
      int on_detector = 0;
      for (float v : d) {
        const double t = kesta::testing::scene_two_theta(s, v);
        if (std::isfinite(t) && t < 0.5 * M_PI &&
            s.distance * std::tan(t) / s.pixel < 0.5 * half)
          ++on_detector;
      }
      if (!clickable || on_detector < 5) continue;
      char name[96];
      std::snprintf(name, sizeof name, "%s %lld/%.0fum %.0fmm %.3fA", kDrawnCalibrants[calibrant],
                    static_cast<long long>(det.pixels), det.pixel * 1e6, s.distance * 1e3,
                    s.wavelength * 1e10);
      u.name = name;
      out.push_back(std::move(u));
    }
    return out;
  }();
  return set_ups;
}

// The image of scene S (counted with NOISE): the rings, a beam stop's
// shadow (its disc of STOP_RADIUS pixels and an arm 12 pixels wide out to
// the edge at ARM_ANGLE, a fiftieth of the light left) and, with GAPS, two
// rows of 12 pixels between modules left at 0; that of a drawn set-up.
std::vector<float> shaded_image(const kesta::testing::RingScene& s, bool noise,
                                double stop_radius, double arm_angle, bool gaps) {
  std::vector<float> a = kesta::testing::ring_image(s, noise);
  const double ca = std::cos(arm_angle), sa = std::sin(arm_angle);
  for (Index j = 0; j < s.ymax; ++j) {
    for (Index i = 0; i < s.xmax; ++i) {
      float& v = a[static_cast<std::size_t>(i + j * s.xmax)];
      if (gaps && (std::abs(j - s.ymax / 3) < 6 || std::abs(j - 2 * s.ymax / 3) < 6)) {
        v = 0.0f;
        continue;
      }
      if (stop_radius <= 0.0) continue;
      const double x = static_cast<double>(i) + 0.5 - s.x_centre;
      const double y = static_cast<double>(j) + 0.5 - s.y_centre;
      const double along = x * ca + y * sa, across = std::abs(y * ca - x * sa);
      if (std::hypot(x, y) < stop_radius || (along > 0.0 && across < 6.0)) v *= 0.02f;
    }
  }
  return a;
}

std::vector<float> blind_image(const BlindSetUp& u) {
  return shaded_image(u.scene, u.noise, u.stop_radius, u.arm_angle, u.gaps);
}

// Argument: the set-up (index in blind_set_ups()). Its image refined with
// the form's proposals and with EXTRA ITERATIONS, each with the held
// parameter of the set-up (if any). Right means within 0.5 pixel and 0.2
// degree of the truth with every ring of the list on the detector within
// half a pixel (as if untilted), wrong more than 1 pixel or 0.3 degree
// off or a ring more than a pixel off; warned any warning of the result.
// Counters as calibrant_warning_sweep's; advised_held counts the advice
// of EXTRA ITERATIONS where a parameter was held. KESTA_CALIBRANT_SWEEP_LIST
// lists every refinement as there, with the held parameter (t, d or -),
// and last the largest distance of a ring from the true one on the
// detector (pixels).
void calibrant_warning_blind(benchmark::State& state) {
  const BlindSetUp& u = blind_set_ups()[static_cast<std::size_t>(state.range(0))];
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_CALIBRANT_SWEEP_LIST")) list = std::fopen(name, "a");
  SweepCells cells = {};
  double advised_held = 0.0;
  for (auto _ : state) {
    const std::vector<float> a = blind_image(u);
    Start start = u.start;
    start.refine_tilt = u.held != BlindSetUp::kTilt;
    start.refine_distance = u.held != BlindSetUp::kDistance;
    for (int extra : {0, 1}) {
      const CalibrantOutcome r = refine_scene(u.scene, a, extra != 0, start);
      const bool right = r.done && r.centre <= 0.5 && r.tilt <= 0.2 && r.ring_off <= 0.5;
      const bool wrong = !r.done || r.centre > 1.0 || r.tilt > 0.3 || r.ring_off > 1.0;
      tally(cells[extra], r, right, wrong);
      if (r.advised && u.held != BlindSetUp::kNothing) ++advised_held;
      if (list != nullptr) {
        const char held = u.held == BlindSetUp::kTilt ? 't' : u.held == BlindSetUp::kDistance
                                                                  ? 'd' : '-';
        std::fprintf(list,
                     "%2lld %-30s %4.1f %5.2f %3.1f %d %c%c %c %d %s%s%s%s%s %8.3f %7.3f %7.4f "
                     "%7.4f %7.2f | %6.3f %6.3f %6.3f | %6.3f %6.3f | %8.3f\n",
                     static_cast<long long>(state.range(0)), u.name.c_str(),
                     u.scene.tilt * 180.0 / M_PI, u.scene.rotation, u.scene.width,
                     u.noise ? 1 : 0, u.stop_radius > 0.0 ? 's' : '-', u.gaps ? 'g' : '-', held,
                     extra, r.warned ? "w" : "-", r.poor ? "p" : "-", r.not_followed ? "f" : "-",
                     r.advised ? "a" : "-", r.unchecked ? "u" : "-", r.centre, r.tilt,
                     r.distance, r.wavelength, r.ring_off, r.checks[1][0], r.checks[1][1],
                     r.checks[1][2], r.ring_check, r.off_cones, r.cones);
      }
    }
  }
  if (list != nullptr) std::fclose(list);
  set_cell_counters(state, cells);
  state.counters["advised_held"] = advised_held;
}

BENCHMARK(calibrant_warning_blind)
    ->DenseRange(0, 47)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// TILT/BEAM CENTRE on image A of scene S from the start (XS, YS, metres)
// with the clicked RADII and HALF_WIDTH (pixels), the distance held at
// the true one: for the solution of the true tilt sign, how far its
// centre (pixels) and tilt (degrees, as a vector) are off, whether its
// report carries a warning (WARNED: any, as the sweeps below count; one
// ring always does: the fit's own), which (NOT_FOLLOWED, POOR, or the
// line that centre and tilt could not be checked, UNCHECKED), and its
// rings searched again. No result: 999 off and warned.
struct JudgedTilt {
  double centre = 999.0, tilt = 999.0;
  bool warned = true, not_followed = true, poor = false, unchecked = false;
  kesta::RingFollowing following;
  bool right() const { return centre <= 0.5 && tilt <= 0.2; }
  bool wrong() const { return centre > 1.0 || tilt > 0.3; }
};
JudgedTilt judged_tilt_fit(const kesta::testing::RingScene& s, const std::vector<float>& a,
                           double xs, double ys, const std::vector<float>& radii,
                           double half_width) {
  JudgedTilt j;
  if (radii.empty()) return j;
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.xendelm = s.xmax;
  m.ymaxdat = m.yendelm = s.ymax;
  m.data = a;
  const auto px = static_cast<float>(s.pixel);
  float distance = static_cast<float>(s.distance);
  int num = 0;
  std::array<kesta::TiltSolution, 2> sol{};
  kesta::Status status = kesta::kStatusGood;
  kesta::kzt_fit_tilt_solutions(m, px, px, false, 90, true, 4.0f, true, false, true, distance,
                                static_cast<float>(xs), static_cast<float>(ys), 0.0f, 0.0f,
                                static_cast<int>(radii.size()), radii,
                                static_cast<float>(half_width) * px, radii[0], radii[0], 0.0f, num,
                                sol, status);
  if (status != kesta::kStatusGood || num < 1) return j;
  auto tilt_error = [&](const kesta::TiltSolution& t) {
    return kesta::testing::tilt_error_degrees(s, t.rotation, t.tilt);
  };
  std::size_t best = 0;
  if (num == 2 && tilt_error(sol[1]) < tilt_error(sol[0])) best = 1;
  const kesta::TiltSolution& b = sol[best];
  j.centre = std::hypot(b.x_beam / s.pixel - s.x_centre, b.y_beam / s.pixel - s.y_centre);
  j.tilt = tilt_error(b);
  j.following = b.following;
  j.poor = !kesta::kzt_poor_ring_fit_warning(b.fit, px).empty();
  const std::vector<std::string> lines = kesta::kzt_rings_not_followed_warning(b.following, px);
  j.not_followed = !lines.empty() && lines[0].find("do not follow") != std::string::npos;
  j.unchecked = !lines.empty() && lines[0].find("could not be checked") != std::string::npos;
  j.warned = j.poor || !lines.empty() || radii.size() < 2;
  return j;
}

// The rings a user clicks on image A of scene S for TILT/BEAM CENTRE,
// started at (XS, YS) metres: the first ring at 0.6 radians, each further
// one 1.1 radians on where that click lies on the image (2 pixels in
// from its edges) and more than CLEAR pixels from the beam (a beam
// stop's shadow); rings of the list before LAST, at most COUNT of them,
// none at 81 degrees of 2-theta or beyond. Their radii from the start
// (metres) and their places in the list.
struct TiltClicks {
  std::vector<float> radii;
  std::vector<std::size_t> rings;
};
TiltClicks tilt_clicks(const kesta::testing::RingScene& s, double xs, double ys, double clear,
                       std::size_t last, std::size_t count) {
  TiltClicks c;
  for (std::size_t k = 0; k < std::min(last, s.d_spacings.size()) && c.radii.size() < count;
       ++k) {
    const double t = kesta::testing::scene_two_theta(s, s.d_spacings[k]);
    if (!std::isfinite(t) || t >= 0.45 * M_PI) break;
    const auto p = kesta::testing::ring_point(s, t, 0.6 + 1.1 * static_cast<double>(k));
    const double cx = p[0] / s.pixel, cy = p[1] / s.pixel;
    const bool inside = cx > 2.0 && cy > 2.0 && cx < s.xmax - 2.0 && cy < s.ymax - 2.0 &&
                        std::hypot(cx - s.x_centre, cy - s.y_centre) > clear;
    if (k > 0 && !inside) continue;
    c.radii.push_back(static_cast<float>(std::hypot(p[0] - xs, p[1] - ys)));
    c.rings.push_back(k);
  }
  return c;
}

// Argument: the set-up (index in blind_set_ups()). TILT/BEAM CENTRE on the
// same image (the d-spacings unknown to it): the first ring and the next
// three clicked (each where its click lies on the image outside the beam
// stop's disc), search half-widths of 8 and 20 pixels, started at the
// typed centre with the distance held at the true one. For the solution
// of the true tilt sign, wrong means more than 1 pixel or 0.3 degree
// (the tilt as a vector) off, right within 0.5 pixel and 0.2 degree;
// warned any warning of the fit. Counters by half-width (_8, _20); the
// gap is the least distance (pixels, along the radius at the beam's
// distance) between a clicked ring and another ring of the list, and with
// KESTA_TILT_SWEEP_LIST every fit is listed: set-up, tilt, half-width,
// rings clicked, gap, flags (w warned), centre and tilt errors, the
// sections where the rings were found again and searched, and those of
// the first ring.
void tilt_warning_blind(benchmark::State& state) {
  const BlindSetUp& u = blind_set_ups()[static_cast<std::size_t>(state.range(0))];
  const kesta::testing::RingScene& s = u.scene;
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_TILT_SWEEP_LIST")) list = std::fopen(name, "a");
  for (auto _ : state) {
    const std::vector<float> a = blind_image(u);
    const double xs = (s.x_centre + u.start.x) * s.pixel, ys = (s.y_centre + u.start.y) * s.pixel;
    const TiltClicks clicks = tilt_clicks(s, xs, ys, u.stop_radius + 10.0, 4, 4);
    const std::vector<float>& radii = clicks.radii;
    double gap = 1e9;
    for (const std::size_t k : clicks.rings) {
      const double t = kesta::testing::scene_two_theta(s, s.d_spacings[k]);
      for (std::size_t j = 0; j < s.d_spacings.size(); ++j) {
        const double o = kesta::testing::scene_two_theta(s, s.d_spacings[j]);
        if (j == k || !std::isfinite(o) || s.d_spacings[j] == s.d_spacings[k]) continue;
        gap = std::min(gap, std::abs(std::tan(o) - std::tan(t)) * s.distance / s.pixel);
      }
    }
    if (radii.empty()) continue;  // the first ring left out: nothing to start from
    for (double half : {8.0, 20.0}) {
      const JudgedTilt j = judged_tilt_fit(s, a, xs, ys, radii, half);
      const double centre = j.centre, tilt = j.tilt;
      const bool warned = j.warned, wrong = j.wrong(), right = j.right();
      const kesta::RingFollowing& f = j.following;
      const std::string suffix = half < 10.0 ? "_8" : "_20";
      state.counters["wrong" + suffix] += wrong ? 1.0 : 0.0;
      state.counters["wrong_silent" + suffix] += wrong && !warned ? 1.0 : 0.0;
      state.counters["right_warned" + suffix] += right && warned ? 1.0 : 0.0;
      if (list != nullptr)
        std::fprintf(list, "%2lld %-30s %4.1f %4.1f %zu %7.1f %s %8.3f %7.3f %4d %4d %3d %3d\n",
                     static_cast<long long>(state.range(0)), u.name.c_str(),
                     s.tilt * 180.0 / M_PI, half, radii.size(), gap, warned ? "w" : "-", centre,
                     tilt, f.found, f.searched, f.ring_found[0], f.ring_searched[0]);
    }
  }
  if (list != nullptr) std::fclose(list);
}

BENCHMARK(tilt_warning_blind)->DenseRange(0, 47)->Unit(benchmark::kSecond)->Iterations(1);

// ---- TILT/BEAM CENTRE with narrow search half-widths (tilt_narrow_sweep) ----

// A set-up of tilt_narrow_sweep: the image's rings, whether they are
// counted, the search half-width the user clicks (pixels), how many rings
// after the first are clicked, and where the start lies (pixels from the
// true centre).
struct NarrowSetUp {
  std::string name;
  kesta::testing::RingScene scene;
  bool noise = false;
  double half_width = 3.0;
  int further = 2;
  double start_x = 0.0, start_y = 0.0;
};

// The set-ups, drawn once from a fixed seed before the check they measure
// was changed: detectors of 1024 to 4096 pixels, distances of 50 to 400
// mm, any of seven calibrants at 0.3 to 1.2 Angstrom, tilts of 1 to 12
// degrees about any plane, rings of 0.5 to 2.5 pixels' sigma, counting
// noise on half (a peak of 300 to 3000 over 5 to 50), the first ring and
// 0 to 3 further rings clicked (where their clicks lie on the image), a
// search half-width of 1.5 to 5 pixels, the start up to 3 pixels off the
// true centre. A draw whose first ring lies within 25 pixels of the beam
// or reaches beyond nine tenths of the detector's half-width is drawn
// again.
const std::vector<NarrowSetUp>& narrow_set_ups() {
  static const std::vector<NarrowSetUp> set_ups = [] {
    std::vector<NarrowSetUp> out;
    Draws draw(20270207);
    static constexpr Detector kDetectors[] = {{1024, 100e-6}, {1024, 79e-6},  {1475, 172e-6},
                                              {2048, 100e-6}, {2048, 79e-6},  {2880, 75e-6},
                                              {3072, 100e-6}, {4096, 75e-6},  {4096, 62e-6}};
    while (out.size() < 150) {
      NarrowSetUp u;
      kesta::testing::RingScene& s = u.scene;
      const int calibrant = draw.pick(7);
      const std::vector<float> d = drawn_calibrant(calibrant);
      const Detector det = kDetectors[draw.pick(static_cast<int>(std::size(kDetectors)))];
      s.xmax = s.ymax = det.pixels;
      s.pixel = det.pixel;
      s.distance = draw.log_uniform(0.05, 0.4);
      s.wavelength = draw.log_uniform(0.3e-10, 1.2e-10);
      s.tilt = draw.uniform(1.0, 12.0) * M_PI / 180.0;
      s.rotation = draw.uniform(-M_PI, M_PI);
      s.width = draw.uniform(0.5, 2.5);
      const double half = static_cast<double>(det.pixels) / 2.0;
      s.x_centre = half + draw.uniform(-0.08, 0.08) * det.pixels;
      s.y_centre = half + draw.uniform(-0.08, 0.08) * det.pixels;
      s.seed = static_cast<unsigned>(draw.random() & 0xffffffu);
      u.noise = draw.pick(2) == 0;
      if (u.noise) {
        s.peak = draw.log_uniform(300.0, 3000.0);
        s.background = draw.log_uniform(5.0, 50.0);
      }
      for (float v : d) s.d_spacings.push_back(v);
      u.half_width = draw.uniform(1.5, 5.0);
      u.further = draw.pick(4);
      u.start_x = draw.uniform(-3.0, 3.0);
      u.start_y = draw.uniform(-3.0, 3.0);
      const double first = kesta::testing::scene_two_theta(s, d[0]);
      if (!std::isfinite(first) || first >= 0.45 * M_PI) continue;
      const double r = s.distance * std::tan(first) / s.pixel;
      if (r < 25.0 || r > 0.9 * half) continue;
      char name[96];
      std::snprintf(name, sizeof name, "%s %lld/%.0fum %.0fmm %.3fA", kDrawnCalibrants[calibrant],
                    static_cast<long long>(det.pixels), det.pixel * 1e6, s.distance * 1e3,
                    s.wavelength * 1e10);
      u.name = name;
      out.push_back(std::move(u));
    }
    return out;
  }();
  return set_ups;
}

// Argument: the set-up (index in narrow_set_ups()). TILT/BEAM CENTRE as in
// tilt_warning_blind (right, wrong and warned as there), with the set-up's
// half-width and start, the further rings clicked at 0.6 + 1.1 k radians.
// The departure is how far the clicked rings leave the circles the search
// starts on: half the spread of each ring's radius about the start
// (pixels, the largest of the rings). KESTA_TILT_SWEEP_LIST lists every
// fit: set-up, tilt, ring sigma, noise, half-width, rings clicked,
// departure, flags (w warned), centre and tilt errors, and of the rings
// searched again the sections where found and searched, those of the
// first ring, and the centre change (pixels), tilt change (degrees) and
// rms left (pixels) their offsets ask for; then what following an advice
// made of a warned fit: one ring more clicked, and the calibrant
// refinement (r right, b between, x wrong, - not tried; the counters
// more_* and calibrant_*).
void tilt_narrow_sweep(benchmark::State& state) {
  const NarrowSetUp& u = narrow_set_ups()[static_cast<std::size_t>(state.range(0))];
  const kesta::testing::RingScene& s = u.scene;
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_TILT_SWEEP_LIST")) list = std::fopen(name, "a");
  for (auto _ : state) {
    const std::vector<float> a = kesta::testing::ring_image(s, u.noise);
    const double xs = (s.x_centre + u.start_x) * s.pixel, ys = (s.y_centre + u.start_y) * s.pixel;
    const auto clicked = static_cast<std::size_t>(u.further) + 1;
    const TiltClicks clicks = tilt_clicks(s, xs, ys, 0.0, s.d_spacings.size(), clicked);
    const std::vector<float>& radii = clicks.radii;
    double departure = 0.0;
    for (const std::size_t k : clicks.rings) {
      const double t = kesta::testing::scene_two_theta(s, s.d_spacings[k]);
      double lo = 1e30, hi = 0.0;
      for (int j = 0; j < 72; ++j) {
        const auto q = kesta::testing::ring_point(s, t, j * M_PI / 36.0);
        const double r = std::hypot(q[0] - xs, q[1] - ys) / s.pixel;
        lo = std::min(lo, r);
        hi = std::max(hi, r);
      }
      departure = std::max(departure, 0.5 * (hi - lo));
    }
    const JudgedTilt j = judged_tilt_fit(s, a, xs, ys, radii, u.half_width);
    const double centre = j.centre, tilt = j.tilt;
    const bool warned = j.warned, wrong = j.wrong(), right = j.right();
    const kesta::RingFollowing& f = j.following;
    const bool below = u.half_width < departure;
    // What the advice a warning might give would have made of it: one
    // further ring clicked (the next one whose click lies on the image),
    // or the calibrant refinement with the form's proposals (the sample's
    // d-spacings known, started where TILT was). r right, b between, x
    // wrong, - not tried.
    char more = '-', calibrant = '-';
    if (warned && centre < 999.0) {
      const std::vector<float> more_radii =
          tilt_clicks(s, xs, ys, 0.0, s.d_spacings.size(), clicked + 1).radii;
      if (more_radii.size() > radii.size()) {
        const JudgedTilt again = judged_tilt_fit(s, a, xs, ys, more_radii, u.half_width);
        more = again.right() ? 'r' : again.wrong() ? 'x' : 'b';
        state.counters["more_tried"] += 1.0;
        state.counters["more_right"] += more == 'r' ? 1.0 : 0.0;
      }
      const CalibrantOutcome c = refine_scene(s, a, false, Start{1.0, u.start_x, u.start_y});
      const bool c_right = c.done && c.centre <= 0.5 && c.tilt <= 0.2 && c.cones <= 0.25;
      const bool c_wrong = !c.done || c.cones > 0.5;
      calibrant = c_right ? 'r' : c_wrong ? 'x' : 'b';
      state.counters["calibrant_tried"] += 1.0;
      state.counters["calibrant_right"] += c_right ? 1.0 : 0.0;
    }
    state.counters["wrong"] += wrong ? 1.0 : 0.0;
    state.counters["wrong_silent"] += wrong && !warned ? 1.0 : 0.0;
    state.counters["right"] += right ? 1.0 : 0.0;
    state.counters["right_warned"] += right && warned ? 1.0 : 0.0;
    state.counters["below_departure"] += below ? 1.0 : 0.0;
    if (list != nullptr)
      std::fprintf(list,
                   "%3lld %-30s %4.1f %3.1f %d %3.1f %zu %6.1f %s %8.3f %7.3f %4d %4d %3d %3d "
                   "%7.3f %6.3f %6.3f %c%c\n",
                   static_cast<long long>(state.range(0)), u.name.c_str(), s.tilt * 180.0 / M_PI,
                   s.width, u.noise ? 1 : 0, u.half_width, radii.size(), departure,
                   warned ? "w" : "-", centre, tilt, f.found, f.searched, f.ring_found[0],
                   f.ring_searched[0], f.centre_move / s.pixel, f.tilt_move * 180.0 / M_PI,
                   f.scatter / s.pixel, more, calibrant);
  }
  if (list != nullptr) std::fclose(list);
}

BENCHMARK(tilt_narrow_sweep)->DenseRange(0, 149)->Unit(benchmark::kSecond)->Iterations(1);

// ---- Gaps, low counts and rings of another phase (calibrant_check_sweep) ----

// A set-up of calibrant_check_sweep: the image's rings (the calibrant's,
// each of its own strength, and those of another phase the user's list
// does not hold), the d-spacings the user gives, what shades the detector
// (module gaps left at 0, masked or not a number; a beam stop on an arm,
// masked or not), the counts, where the user starts and which parameter,
// if any, is held (the wavelength at the true one, the tilt at 0, the
// distance at the one typed).
struct CheckSetUp {
  std::string name;
  kesta::testing::RingScene scene;
  std::vector<float> listed;
  int foreign = 0;       // rings of another phase on the image
  bool truncated = false;  // the list leaves out the calibrant's further rings
  bool salt = false;     // the second ring clicked, the annuli halved
  enum Counts { kNoiseless, kCounted, kLow } counts = kNoiseless;
  enum Gaps { kNoGaps, kZeroGaps, kMaskedGaps, kNaNGaps } gaps = kNoGaps;
  Index module = 0, gap_x = 0, gap_y = 0;  // module pitch and gap widths (pixels)
  double stop_radius = 0.0, arm_angle = 0.0;  // pixels, radians; 0: no beam stop
  bool stop_masked = false;
  double typed_wavelength = 1.0;  // a factor of the true one, where refined
  Start start;
  enum Held { kNothing, kWavelength, kTilt, kDistance } held = kNothing;
  double click_scatter = 0.7;  // pixels, each axis
  unsigned click_seed = 1;
};

bool in_gap(const CheckSetUp& u, Index i, Index j) {  // 0-based pixel
  if (u.gaps == CheckSetUp::kNoGaps) return false;
  const Index pitch_x = u.module + u.gap_x, pitch_y = u.module + u.gap_y;
  return i % pitch_x >= u.module || j % pitch_y >= u.module;
}

bool in_stop(const CheckSetUp& u, double x, double y) {  // pixels from the beam
  if (u.stop_radius <= 0.0) return false;
  const double ca = std::cos(u.arm_angle), sa = std::sin(u.arm_angle);
  const double along = x * ca + y * sa, across = std::abs(y * ca - x * sa);
  return std::hypot(x, y) < u.stop_radius || (along > 0.0 && across < 6.0);
}

// The set-ups, drawn once from a fixed seed before the check they measure
// was changed: detectors of 1024 to 4096 pixels, distances of 60 to 600
// mm, any of seven calibrants at 0.2 to 1.5 Angstrom (dense ones at 0.2
// to 0.4 a third of the time), each ring of its own strength (0.15 to 1.5 of
// the peak), tilts to 12 degrees about any plane, rings of 0.5 to 3
// pixels' sigma; noiseless on a fifth, counted at a peak of 300 to 3000
// over 5 to 50 on two fifths, at low counts (a peak of 10 to 100 over 0.3
// to 4) on the others; module gaps of 3 to 20 pixels left at 0 on 30 %,
// masked on 15 %, not a number on 10 %; a beam stop on an arm on 60 %
// (masked on a third of them); one to three rings of another phase (0.1
// to 1 of the peak) on 40 %, a list of only the first 5 to 9 d-spacings
// on 15 %; the wavelength held at the true one on a quarter, the tilt
// at 0 on 15 % (of tilts to 3 degrees), the distance at the one typed on
// 15 %; the start 3 % and 3 pixels off, the wavelength typed within half a
// per cent, six clicks on the first ring (the second for salt) scattered
// by 0.7 pixel and kept off gaps and the beam stop. A draw whose first
// ring cannot be clicked round, or with fewer than five listed rings
// within nine tenths of the detector's half-width of the beam, is drawn
// again.
const std::vector<CheckSetUp>& check_set_ups() {
  static const std::vector<CheckSetUp> set_ups = [] {
    std::vector<CheckSetUp> out;
    Draws draw(20270131);
    static constexpr Detector kDetectors[] = {{1024, 100e-6}, {1024, 79e-6},  {1024, 172e-6},
                                              {1475, 172e-6}, {1536, 172e-6}, {2048, 100e-6},
                                              {2048, 79e-6},  {2880, 75e-6},  {3072, 100e-6},
                                              {4096, 75e-6},  {4096, 62e-6}};
    while (out.size() < 300) {
      CheckSetUp u;
      kesta::testing::RingScene& s = u.scene;
      const bool dense = draw.pick(3) == 0;
      static constexpr int kDense[] = {0, 1, 5, 6};
      const int calibrant = dense ? kDense[draw.pick(4)] : draw.pick(7);
      const std::vector<float> d = drawn_calibrant(calibrant);
      u.salt = calibrant == 3;
      const Detector det = kDetectors[draw.pick(static_cast<int>(std::size(kDetectors)))];
      s.xmax = s.ymax = det.pixels;
      s.pixel = det.pixel;
      s.distance = draw.log_uniform(0.06, 0.6);
      s.wavelength = dense ? draw.uniform(0.2e-10, 0.4e-10) : draw.log_uniform(0.2e-10, 1.5e-10);
      s.tilt = draw.uniform(0.0, 12.0) * M_PI / 180.0;
      s.rotation = draw.uniform(-M_PI, M_PI);
      s.width = draw.uniform(0.5, 3.0);
      const double half = static_cast<double>(det.pixels) / 2.0;
      s.x_centre = half + draw.uniform(-0.08, 0.08) * det.pixels;
      s.y_centre = half + draw.uniform(-0.08, 0.08) * det.pixels;
      s.seed = static_cast<unsigned>(draw.random() & 0xffffffu);
      const int counts = draw.pick(5);
      u.counts = counts == 0 ? CheckSetUp::kNoiseless
                 : counts < 3 ? CheckSetUp::kCounted
                              : CheckSetUp::kLow;
      if (u.counts == CheckSetUp::kLow) {
        s.peak = draw.log_uniform(10.0, 100.0);
        s.background = draw.log_uniform(0.3, 4.0);
      } else {
        s.peak = draw.log_uniform(300.0, 3000.0);
        s.background = draw.log_uniform(5.0, 50.0);
      }
      for (float v : d) {
        s.d_spacings.push_back(v);
        s.peaks.push_back(s.peak * draw.uniform(0.15, 1.5));
      }
      u.listed = d;
      if (draw.pick(100) < 15) {
        u.truncated = true;
        u.listed.resize(static_cast<std::size_t>(5 + draw.pick(5)));
      }
      if (draw.pick(100) < 40) {
        u.foreign = 1 + draw.pick(3);
        for (int k = 0; k < u.foreign; ++k) {
          s.d_spacings.push_back(draw.uniform(0.8 * d.back(), 1.3 * d.front()));
          s.peaks.push_back(s.peak * draw.uniform(0.1, 1.0));
        }
      }
      const int gaps = draw.pick(100);
      u.gaps = gaps < 30   ? CheckSetUp::kZeroGaps
               : gaps < 45 ? CheckSetUp::kMaskedGaps
               : gaps < 55 ? CheckSetUp::kNaNGaps
                           : CheckSetUp::kNoGaps;
      u.module = det.pixels / (2 + draw.pick(4)) - 10;
      u.gap_x = 3 + draw.pick(18);
      u.gap_y = 3 + draw.pick(18);
      if (draw.pick(10) < 6) {
        u.stop_radius = draw.uniform(8.0, 40.0);
        u.arm_angle = draw.uniform(-M_PI, M_PI);
        u.stop_masked = draw.pick(3) == 0;
      }
      u.start.distance = draw.uniform(0.97, 1.03);
      u.start.x = draw.uniform(-3.0, 3.0);
      u.start.y = draw.uniform(-3.0, 3.0);
      u.typed_wavelength = draw.uniform(0.995, 1.005);
      const int held = draw.pick(100);
      u.held = held < 25                                      ? CheckSetUp::kWavelength
               : held < 40 && s.tilt < 3.0 * M_PI / 180.0     ? CheckSetUp::kTilt
               : held >= 40 && held < 55                      ? CheckSetUp::kDistance
                                                              : CheckSetUp::kNothing;
      u.click_seed = static_cast<unsigned>(draw.random() & 0xffffffu);
      // The clicked ring on the image, outside the beam stop's disc; five
      // listed rings or more on the detector.
      const double first = kesta::testing::scene_two_theta(s, d[0]);
      if (!std::isfinite(first) || first >= 0.45 * M_PI) continue;
      const auto p = kesta::testing::ring_point(s, first, 0.3);
      const double r = std::hypot(p[0] / s.pixel - s.x_centre, p[1] / s.pixel - s.y_centre);
      if (r < u.stop_radius + 15.0 || r < 25.0 || r > 0.9 * half) continue;
      int on_detector = 0;
      for (float v : u.listed) {
        const double t = kesta::testing::scene_two_theta(s, v);
        if (std::isfinite(t) && t < 0.45 * M_PI && s.distance * std::tan(t) / s.pixel < 0.9 * half)
          ++on_detector;
      }
      if (on_detector < 5) continue;
      char name[96];
      std::snprintf(name, sizeof name, "%s %lld/%.0fum %.0fmm %.3fA", kDrawnCalibrants[calibrant],
                    static_cast<long long>(det.pixels), det.pixel * 1e6, s.distance * 1e3,
                    s.wavelength * 1e10);
      u.name = name;
      out.push_back(std::move(u));
    }
    return out;
  }();
  return set_ups;
}

// The image of a check set-up and its mask (empty when nothing is masked).
struct CheckImage {
  std::vector<float> data;
  std::vector<std::uint8_t> mask;
};

CheckImage check_image(const CheckSetUp& u) {
  const kesta::testing::RingScene& s = u.scene;
  CheckImage im;
  im.data = kesta::testing::ring_image(s);
  const bool masked = u.gaps == CheckSetUp::kMaskedGaps || (u.stop_masked && u.stop_radius > 0.0);
  if (masked) im.mask.assign(im.data.size(), 0);
  std::mt19937 random(s.seed);
  for (Index j = 0; j < s.ymax; ++j) {
    for (Index i = 0; i < s.xmax; ++i) {
      const auto at = static_cast<std::size_t>(i + j * s.xmax);
      float& v = im.data[at];
      if (in_stop(u, static_cast<double>(i) + 0.5 - s.x_centre,
                  static_cast<double>(j) + 0.5 - s.y_centre)) {
        v *= 0.02f;
        if (u.stop_masked) im.mask[at] = 1;
      }
      if (u.counts != CheckSetUp::kNoiseless)
        v = static_cast<float>(std::poisson_distribution<long>(v)(random));
      if (in_gap(u, i, j)) {
        v = u.gaps == CheckSetUp::kNaNGaps ? std::nanf("") : 0.0f;
        if (u.gaps == CheckSetUp::kMaskedGaps) im.mask[at] = 1;
      }
    }
  }
  return im;
}

// Six clicks on the clicked ring, each scattered as a hand would, kept off
// the gaps, the beam stop and the edges.
void check_clicks(const CheckSetUp& u, std::vector<float>& x, std::vector<float>& y) {
  const kesta::testing::RingScene& s = u.scene;
  const double t = kesta::testing::scene_two_theta(s, u.listed[0]);
  std::mt19937 random(u.click_seed);
  std::normal_distribution<double> scatter(0.0, u.click_scatter);
  for (int m = 0; m < 24 && x.size() < 6; ++m) {
    const double azimuth = 0.3 + (m % 6) * 1.047 + (m / 6) * 0.26;
    const auto p = kesta::testing::ring_point(s, t, azimuth);
    const double px = p[0] / s.pixel, py = p[1] / s.pixel;
    if (px < 5.0 || py < 5.0 || px > s.xmax - 5.0 || py > s.ymax - 5.0 ||
        in_gap(u, static_cast<Index>(px), static_cast<Index>(py)) ||
        in_stop(u, px - s.x_centre, py - s.y_centre))
      continue;
    x.push_back(static_cast<float>((px + scatter(random)) * s.pixel));
    y.push_back(static_cast<float>((py + scatter(random)) * s.pixel));
  }
}

// What one refinement of a check set-up ended with.
struct CheckOutcome {
  bool done = false, warned = false, unchecked = false;
  bool advised_extra = false, advised_wavelength = false;
  double centre = 999.0, tilt = 999.0, rings = 999.0;  // pixels, degrees, pixels
  bool right() const { return done && centre <= 0.5 && tilt <= 0.2 && rings <= 0.25; }
  bool wrong() const { return !done || rings > 0.6 || centre > 1.0 || tilt > 0.3; }
};

// The refinement of set-up U with the form's proposals but for the held
// parameter, with EXTRA ITERATIONS when EXTRA, the wavelength held at the
// true one when HOLD_WAVELENGTH.
CheckOutcome check_refine(const CheckSetUp& u, const CheckImage& im, bool extra,
                          bool hold_wavelength) {
  const kesta::testing::RingScene& s = u.scene;
  std::vector<float> x, y;
  check_clicks(u, x, y);
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.xendelm = s.xmax;
  m.ymaxdat = m.yendelm = s.ymax;
  m.data = im.data;
  m.mask_data = !im.mask.empty();
  m.mask = im.mask;
  kesta::CalibrantOptions o;
  o.extra_iterations = extra;
  hold_wavelength = hold_wavelength || u.held == CheckSetUp::kWavelength;
  o.refine_wavelength = !hold_wavelength;
  o.refine_tilt = u.held != CheckSetUp::kTilt;
  o.refine_distance = u.held != CheckSetUp::kDistance;
  kesta::CalibrantGeometry g;
  g.x_pixel_size = g.y_pixel_size = static_cast<float>(s.pixel);
  g.sample_distance = static_cast<float>(u.start.distance * s.distance);
  g.wavelength = static_cast<float>(s.wavelength * (hold_wavelength ? 1.0 : u.typed_wavelength));
  g.x_beam = static_cast<float>((s.x_centre + u.start.x) * s.pixel);
  g.y_beam = static_cast<float>((s.y_centre + u.start.y) * s.pixel);
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  kesta::io_set_stream(kesta::kStreamTerminal, out);
  kesta::Status status = kesta::kStatusGood;
  CheckOutcome r;
  r.done = kesta::kzt_calibrant_refine(m, nullptr, o, u.listed, u.salt, x, y, g, status) &&
           status == kesta::kStatusGood;
  kesta::io_set_stream(kesta::kStreamTerminal, quiet.null);
  std::fclose(out);
  const std::string said(text, length);
  std::free(text);
  r.warned = !r.done || said.find("WARNING: The refined geometry does not fit") != std::string::npos ||
             said.find("WARNING: The fitted rings do not follow") != std::string::npos;
  r.unchecked = said.find("could not be checked") != std::string::npos;
  r.advised_extra = said.find("EXTRA ITERATIONS") != std::string::npos;
  r.advised_wavelength = said.find("REFINE WAVELENGTH") != std::string::npos;
  if (r.done) {
    r.centre = std::hypot(g.x_beam / s.pixel - s.x_centre, g.y_beam / s.pixel - s.y_centre);
    r.tilt = std::hypot(std::cos(g.tilt_rotation) * g.tilt_angle - std::cos(s.rotation) * s.tilt,
                        std::sin(g.tilt_rotation) * g.tilt_angle - std::sin(s.rotation) * s.tilt) *
             180.0 / M_PI;
    r.rings = rings_off_cones(s, u.listed, g);
  }
  return r;
}

// Argument: the set-up (index in check_set_ups()). Its image refined with
// the form's proposals and with EXTRA ITERATIONS, each with the set-up's
// held parameter. Right means within 0.5 pixel and 0.2 degree of the
// truth with every listed ring within a quarter of a pixel of the true
// one wherever it lies on the detector, wrong a ring more than 0.6 pixel
// off, the centre more than a pixel or the tilt more than 0.3 degree off
// (or no result); warned any warning of the result (or a stop),
// unchecked the line that it could not be checked. Each warned result is
// refined again as the remedies would have it, whether advised or not:
// with EXTRA ITERATIONS (where they were not used) and with the wavelength
// held at the true one (where it was refined); the counters say how many
// of those ended right, in all and where the remedy was advised.
// KESTA_CALIBRANT_CHECK_LIST lists every refinement: set-up, tilt, ring
// sigma, counts (n, c, l), gaps (z, m, n), beam stop (s, or S masked),
// foreign rings, a truncated list (t), held parameter (w, t, d), extra
// iterations, flags (w warned, u unchecked, a and h the advice of EXTRA
// ITERATIONS and of holding the wavelength), centre, tilt and ring errors,
// and the remedies' outcomes (r right, b between, x wrong, - not run).
void calibrant_check_sweep(benchmark::State& state) {
  const CheckSetUp& u = check_set_ups()[static_cast<std::size_t>(state.range(0))];
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_CALIBRANT_CHECK_LIST")) list = std::fopen(name, "a");
  static const char* const kCells[] = {"right_warned", "right_silent",   "wrong_warned",
                                       "wrong_silent", "between_warned", "between_silent",
                                       "unchecked"};
  double cells[2][7] = {};
  // [extra][remedy][tried, ended right, advised, advised and ended right]
  double remedies[2][2][4] = {};
  for (auto _ : state) {
    const CheckImage im = check_image(u);
    for (int extra : {0, 1}) {
      const CheckOutcome r = check_refine(u, im, extra != 0, false);
      const bool right = r.right(), wrong = r.wrong();
      double* c = cells[extra];
      ++c[(right ? 0 : wrong ? 2 : 4) + (r.warned ? 0 : 1)];
      if (r.unchecked) ++c[6];
      char outcome[2] = {'-', '-'};
      if (r.warned) {
        const bool tries[2] = {extra == 0, u.held != CheckSetUp::kWavelength};
        const bool advised[2] = {r.advised_extra, r.advised_wavelength};
        for (int k = 0; k < 2; ++k) {
          if (!tries[k]) continue;
          const CheckOutcome again = check_refine(u, im, extra != 0 || k == 0, k == 1);
          outcome[k] = again.right() ? 'r' : again.wrong() ? 'x' : 'b';
          double* m = remedies[extra][k];
          ++m[0];
          if (again.right()) ++m[1];
          if (advised[k]) ++m[2];
          if (advised[k] && again.right()) ++m[3];
        }
      }
      if (list != nullptr) {
        static const char kCounts[] = {'n', 'c', 'l'};
        static const char kGaps[] = {'-', 'z', 'm', 'n'};
        static const char kHeld[] = {'-', 'w', 't', 'd'};
        std::fprintf(list,
                     "%3lld %-30s %4.1f %3.1f %c%c%c%d%c %c %d %s%s%s%s %8.3f %7.3f %8.3f %c%c\n",
                     static_cast<long long>(state.range(0)), u.name.c_str(),
                     u.scene.tilt * 180.0 / M_PI, u.scene.width, kCounts[u.counts],
                     kGaps[u.gaps], u.stop_radius <= 0.0 ? '-' : u.stop_masked ? 'S' : 's',
                     u.foreign, u.truncated ? 't' : '-', kHeld[u.held], extra,
                     r.warned ? "w" : "-", r.unchecked ? "u" : "-", r.advised_extra ? "a" : "-",
                     r.advised_wavelength ? "h" : "-", r.centre, r.tilt, r.rings, outcome[0],
                     outcome[1]);
      }
    }
  }
  if (list != nullptr) std::fclose(list);
  for (int extra : {0, 1}) {
    const std::string x = extra != 0 ? "_x" : "";
    for (int k = 0; k < 7; ++k) state.counters[kCells[k] + x] = cells[extra][k];
    static const char* const kRemedies[] = {"extra", "hold_wavelength"};
    for (int k = 0; k < 2; ++k) {
      const double* m = remedies[extra][k];
      state.counters[std::string(kRemedies[k]) + "_tried" + x] = m[0];
      state.counters[std::string(kRemedies[k]) + "_right" + x] = m[1];
      state.counters[std::string(kRemedies[k]) + "_advised" + x] = m[2];
      state.counters[std::string(kRemedies[k]) + "_advised_right" + x] = m[3];
    }
  }
}

BENCHMARK(calibrant_check_sweep)->DenseRange(0, 299)->Unit(benchmark::kSecond)->Iterations(1);

// ---- One ring on the detector, coarse powders and others (ring_check_sweep) ----

// A set-up of ring_check_sweep: the image's rings (a coarse powder's made
// of crystallites), what shades the detector (a beam stop on an arm, module
// gaps left at 0), whether it is counted, where the user starts and what
// is held (Start), and the search half-width clicked for TILT/BEAM CENTRE
// (pixels).
struct VarietySetUp {
  std::string name;
  enum Kind { kOneRing, kCoarse, kOther } kind = kOther;
  kesta::testing::RingScene scene;
  bool noise = false;
  double stop_radius = 0.0, arm_angle = 0.0;  // pixels, radians; 0: no beam stop
  bool gaps = false;
  Start start;
  double half_width = 8.0;
};

// Radius (pixels) of ring D of scene S at the beam's distance; NaN where
// its cone reaches 81 degrees.
double ring_pixels(const kesta::testing::RingScene& s, double d) {
  const double t = kesta::testing::scene_two_theta(s, d);
  return std::isfinite(t) && t < 0.45 * M_PI ? s.distance * std::tan(t) / s.pixel : std::nan("");
}

// One set-up of KIND drawn (false: drawn again): PLAIN ones as a careful
// user calibrates, SPARSE coarse powders of fewer crystallites (see
// variety_set_ups).
bool draw_variety(Draws& draw, VarietySetUp::Kind kind, bool plain, VarietySetUp& u,
                  bool sparse = false) {
  static constexpr Detector kDetectors[] = {{1024, 100e-6}, {1024, 79e-6},  {1024, 172e-6},
                                            {1475, 172e-6}, {1536, 172e-6}, {2048, 100e-6},
                                            {2048, 79e-6},  {2880, 75e-6},  {3072, 100e-6},
                                            {4096, 75e-6}};
  u.kind = kind;
  kesta::testing::RingScene& s = u.scene;
  static constexpr int kOneRing[] = {0, 2, 3, 4};
  static constexpr int kDense[] = {0, 1, 5, 6};
  static constexpr int kApart[] = {2, 3, 4};  // LaB6, salt, silicon
  const bool dense = !plain && kind == VarietySetUp::kOther && draw.pick(2) == 0;
  const int calibrant = kind == VarietySetUp::kOneRing ? (plain ? 4 : kOneRing[draw.pick(4)])
                        : plain                       ? kApart[draw.pick(3)]
                        : dense                       ? kDense[draw.pick(4)]
                                                      : draw.pick(7);
  const std::vector<float> d = drawn_calibrant(calibrant);
  for (float v : d) s.d_spacings.push_back(v);
  const Detector det = kDetectors[draw.pick(static_cast<int>(std::size(kDetectors)))];
  s.xmax = s.ymax = det.pixels;
  s.pixel = det.pixel;
  const double half = static_cast<double>(det.pixels) / 2.0;
  s.x_centre = half + draw.uniform(-0.06, 0.06) * det.pixels;
  s.y_centre = half + draw.uniform(-0.06, 0.06) * det.pixels;
  s.rotation = draw.uniform(-M_PI, M_PI);
  s.width = plain ? draw.uniform(1.0, 3.0) : draw.uniform(0.5, 3.0);
  s.seed = static_cast<unsigned>(draw.random() & 0xffffffu);
  switch (kind) {
    case VarietySetUp::kOneRing: {
      s.wavelength = plain ? draw.log_uniform(0.6e-10, 1.2e-10) : draw.log_uniform(0.5e-10, 1.5e-10);
      const double t = kesta::testing::scene_two_theta(s, d[0]);
      s.distance = draw.uniform(0.2, 0.45) * det.pixels * s.pixel / std::tan(t);
      s.tilt = draw.uniform(0.0, plain ? 0.3 : 3.0) * M_PI / 180.0;
      u.noise = draw.pick(2) == 0;
      break;
    }
    case VarietySetUp::kCoarse:
      s.wavelength = plain ? draw.log_uniform(0.5e-10, 1.0e-10) : draw.log_uniform(0.3e-10, 1.2e-10);
      s.distance = plain ? draw.log_uniform(0.08, 0.3) : draw.log_uniform(0.06, 0.6);
      s.tilt = draw.uniform(0.0, sparse ? 1.0 : plain ? 2.0 : 8.0) * M_PI / 180.0;
      s.spots = sparse ? 60 + draw.pick(61) : plain ? 150 + draw.pick(251) : 40 + draw.pick(261);
      s.spot_width = plain ? draw.uniform(2.0, 4.0) : draw.uniform(1.5, 4.0);
      s.peak = draw.log_uniform(plain ? 1000.0 : 500.0, 5000.0);
      s.background = plain ? draw.log_uniform(2.0, 10.0) : draw.log_uniform(2.0, 30.0);
      u.noise = true;
      break;
    case VarietySetUp::kOther:
      s.wavelength = plain ? draw.log_uniform(0.4e-10, 1.0e-10)
                     : dense ? draw.uniform(0.2e-10, 0.4e-10)
                             : draw.log_uniform(0.2e-10, 1.5e-10);
      s.distance = plain ? draw.log_uniform(0.08, 0.4) : draw.log_uniform(0.06, 0.6);
      s.tilt = draw.uniform(0.0, plain ? 3.0 : 10.0) * M_PI / 180.0;
      u.noise = draw.pick(2) == 0;
      break;
  }
  if (u.noise && kind != VarietySetUp::kCoarse) {
    s.peak = plain ? draw.log_uniform(1000.0, 5000.0) : draw.log_uniform(300.0, 3000.0);
    s.background = plain ? draw.log_uniform(5.0, 20.0) : draw.log_uniform(5.0, 50.0);
  }
  if (draw.pick(2) == 0) {
    u.stop_radius = draw.uniform(8.0, 40.0);
    u.arm_angle = draw.uniform(-M_PI, M_PI);
  }
  u.gaps = draw.pick(4) == 0;
  const double off = plain ? 0.01 : 0.03, pixels = plain ? 2.0 : 3.0;
  u.start.distance = draw.uniform(1.0 - off, 1.0 + off);
  u.start.x = draw.uniform(-pixels, pixels);
  u.start.y = draw.uniform(-pixels, pixels);
  u.start.wavelength = draw.uniform(plain ? 0.999 : 0.995, plain ? 1.001 : 1.005);
  const int held = draw.pick(100);
  if (plain) {
    // One ring: the tilt held at 0 on half; the others: the wavelength
    // held at the true one on a quarter.
    u.start.refine_tilt = kind != VarietySetUp::kOneRing || held >= 50;
    u.start.refine_wavelength = kind == VarietySetUp::kOneRing || held >= 25;
  } else {
    u.start.refine_tilt = held >= 20;
    u.start.refine_distance = held < 20 || held >= 35;
    u.start.refine_wavelength = held < 35 || held >= 45;
  }
  if (!u.start.refine_wavelength) u.start.wavelength = 1.0;
  const double first = ring_pixels(s, d[0]);
  const double second = d.size() > 1 ? ring_pixels(s, d[1]) : std::nan("");
  // The first ring clicked round, on the image and outside the shadow.
  bool clickable = std::isfinite(first) && s.distance > 0.04 && s.distance < 1.0;
  for (int k = 0; k < 6 && clickable; ++k) {
    const auto p = kesta::testing::ring_point(s, kesta::testing::scene_two_theta(s, d[0]),
                                              0.3 + k * 1.047);
    const double px = p[0] / s.pixel, py = p[1] / s.pixel;
    clickable = px > 5.0 && py > 5.0 && px < det.pixels - 5.0 && py < det.pixels - 5.0 &&
                first > u.stop_radius + 15.0 && first > 25.0;
  }
  int on_detector = 0;
  for (float v : d) on_detector += ring_pixels(s, v) < 0.9 * half ? 1 : 0;
  const double corner = std::hypot(std::max(s.x_centre, det.pixels - s.x_centre),
                                   std::max(s.y_centre, det.pixels - s.y_centre));
  const bool fits = kind == VarietySetUp::kOneRing
                        ? !(second < corner + 5.0) && first < 0.45 * det.pixels
                        : on_detector >= 3;
  if (!clickable || !fits) return false;
  // TILT's half-width, below half the way to the next ring.
  const double gap = std::isfinite(second) ? second - first : first;
  u.half_width = std::min(draw.uniform(5.0, 15.0), 0.45 * gap);
  static const char* const kKinds[] = {"one ring", "coarse", "other"};
  char name[112];
  std::snprintf(name, sizeof name, "%s%s %s %lld/%.0fum %.0fmm %.3fA",
                sparse ? "sparse " : plain ? "plain " : "",
                kKinds[kind], kDrawnCalibrants[calibrant], static_cast<long long>(det.pixels),
                det.pixel * 1e6, s.distance * 1e3, s.wavelength * 1e10);
  u.name = name;
  return true;
}

// The set-ups, drawn once from fixed seeds, their rules written before any
// of their figures was read: 30 with one ring of the list on the detector (silicon,
// salt, LaB6 or alumina at 0.5 to 1.5 Angstrom, the first ring 0.2 to 0.45
// of the detector's width out and the second beyond every corner; tilts
// to 3 degrees), 30 coarse powders (each ring made of 40 to 300
// crystallites of 1.5 to 4 pixels along it, counted at a peak of 500 to
// 5000 over 2 to 30; any of the seven calibrants at 0.3 to 1.2 Angstrom,
// tilts to 8 degrees, three rings or more on the detector) and 60 others
// (as the drawn set-ups above: dense calibrants at 0.2 to 0.4 Angstrom
// half the time, tilts to 10 degrees, counted on half). Detectors of 1024
// to 4096 pixels, rings of 0.5 to 3 pixels' sigma, a beam stop on an arm
// on half, module gaps on a quarter; the start 3 % and 3 pixels off with
// the wavelength typed within half a per cent; the tilt held at 0 on a
// fifth, the distance at the one typed on 15 %, the wavelength at the true
// one on 10 %; TILT's half-width 5 to 15 pixels, below half the way to the
// next ring. A draw whose first ring cannot be clicked round (off the
// image or in the beam stop's shadow) is drawn again. Of these the
// calibrant refinement ends right on 4 of 120, too few to measure false
// warnings by, so 80 more are drawn (from another seed) as a careful user
// calibrates: silicon, LaB6 or salt at 0.4 to 1.0 Angstrom (silicon at
// 0.6 to 1.2 for one ring), tilts to 3 degrees (0.3 for one ring, the
// tilt held at 0 on half of them), rings of 1 to 3 pixels' sigma, counted
// at a peak of 1000 to 5000 (coarse powders of 150 to 400 crystallites of
// 2 to 4 pixels), the start 1 % and 2 pixels off, the wavelength typed
// within a thousandth or held at the true one on a quarter: 20 with one
// ring, 20 coarse powders and 40 others. Where TILT ended right on the
// coarse powders of both draws it found the first ring again in two thirds
// of its sections or more: 20 more coarse powders are drawn (from a third
// seed) of 60 to 120 crystallites a ring, tilted by 1 degree at most, on
// which a right solution finds it in fewer.
const std::vector<VarietySetUp>& variety_set_ups() {
  static const std::vector<VarietySetUp> set_ups = [] {
    std::vector<VarietySetUp> out;
    Draws draw(20270322);
    while (out.size() < 120) {
      VarietySetUp u;
      const VarietySetUp::Kind kind = out.size() < 30   ? VarietySetUp::kOneRing
                                      : out.size() < 60 ? VarietySetUp::kCoarse
                                                        : VarietySetUp::kOther;
      if (draw_variety(draw, kind, false, u)) out.push_back(std::move(u));
    }
    Draws plain(20270323);
    while (out.size() < 200) {
      VarietySetUp u;
      const VarietySetUp::Kind kind = out.size() < 140   ? VarietySetUp::kOneRing
                                      : out.size() < 160 ? VarietySetUp::kCoarse
                                                         : VarietySetUp::kOther;
      if (draw_variety(plain, kind, true, u)) out.push_back(std::move(u));
    }
    Draws sparse(20270324);
    while (out.size() < 220) {
      VarietySetUp u;
      if (draw_variety(sparse, VarietySetUp::kCoarse, true, u, true)) out.push_back(std::move(u));
    }
    return out;
  }();
  return set_ups;
}

// Argument: the set-up (index in variety_set_ups()). Its image refined by
// the calibrant refinement with the form's proposals (but for what the
// set-up holds), and TILT/BEAM CENTRE on it (the first ring and the next
// three clicked where their clicks lie on the image outside the beam
// stop's shadow, the set-up's half-width, the distance held at the true
// one). Right and wrong of the calibrant's result as calibrant_check_sweep
// counts them (right: within 0.5 pixel and 0.2 degree with every listed
// ring within a quarter of a pixel of the true one wherever it lies on the
// detector), wrong a ring more than 0.6 pixel, the centre more than a pixel
// or the tilt more than 0.3 degree off; of TILT's
// as tilt_warning_blind. Warned: a warning that the result is off (the
// rings do not follow, the geometry does not fit them, a stop); unchecked:
// only the line that it could not be checked. Counters c_* (calibrant)
// and t_* (TILT): right, right_warned, right_unchecked, wrong,
// wrong_warned, wrong_unchecked, wrong_silent, between. With
// KESTA_RING_CHECK_LIST every set-up is listed: index, kind, name, tilt,
// ring sigma, crystallites, counted, beam stop, gaps, held (t, d, w or -);
// the calibrant's flags (w warned, u unchecked), centre, tilt and ring
// errors; TILT's rings clicked and half-width, flags, centre and tilt
// errors, the first ring's sections found and searched, its runs and
// longest run between finds.
void ring_check_sweep(benchmark::State& state) {
  const VarietySetUp& u = variety_set_ups()[static_cast<std::size_t>(state.range(0))];
  const kesta::testing::RingScene& s = u.scene;
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_RING_CHECK_LIST")) list = std::fopen(name, "a");
  auto tally = [&](const std::string& road, bool right, bool wrong, bool warned, bool unchecked) {
    const char* cell = right ? (warned ? "right_warned" : unchecked ? "right_unchecked" : nullptr)
                       : wrong ? (warned ? "wrong_warned" : unchecked ? "wrong_unchecked"
                                                                      : "wrong_silent")
                               : nullptr;
    state.counters[road + (right ? "right" : wrong ? "wrong" : "between")] += 1.0;
    if (cell != nullptr) state.counters[road + cell] += 1.0;
  };
  for (auto _ : state) {
    const std::vector<float> a = shaded_image(s, u.noise, u.stop_radius, u.arm_angle, u.gaps);
    const CalibrantOutcome c = refine_scene(s, a, false, u.start);
    const bool c_right = c.done && c.centre <= 0.5 && c.tilt <= 0.2 && c.cones <= 0.25;
    const bool c_wrong = !c.done || c.cones > 0.6 || c.centre > 1.0 || c.tilt > 0.3;
    tally("c_", c_right, c_wrong, c.warned, c.unchecked);
    const double xs = (s.x_centre + u.start.x) * s.pixel, ys = (s.y_centre + u.start.y) * s.pixel;
    const TiltClicks clicks = tilt_clicks(s, xs, ys, u.stop_radius + 10.0, s.d_spacings.size(), 4);
    const JudgedTilt t = judged_tilt_fit(s, a, xs, ys, clicks.radii, u.half_width);
    tally("t_", t.right(), t.wrong(), t.poor || t.not_followed, t.unchecked);
    if (list != nullptr) {
      const char held = !u.start.refine_tilt       ? 't'
                        : !u.start.refine_distance ? 'd'
                        : !u.start.refine_wavelength ? 'w'
                                                     : '-';
      const kesta::RingFollowing& f = t.following;
      std::fprintf(list,
                   "%3lld %c %-36s %4.1f %3.1f %3d %d%c%c %c | %s%s %8.3f %7.3f %8.3f | %zu %4.1f "
                   "%s%s %8.3f %7.3f %3d %3d %3d %3d\n",
                   static_cast<long long>(state.range(0)), "ocx"[u.kind], u.name.c_str(),
                   s.tilt * 180.0 / M_PI, s.width, s.spots, u.noise ? 1 : 0,
                   u.stop_radius > 0.0 ? 's' : '-', u.gaps ? 'g' : '-', held,
                   c.warned ? "w" : "-", c.unchecked ? "u" : "-", c.centre, c.tilt, c.cones,
                   clicks.radii.size(), u.half_width, t.poor || t.not_followed ? "w" : "-",
                   t.unchecked ? "u" : "-", t.centre, t.tilt, f.ring_found[0],
                   f.ring_searched[0], f.first_runs, f.first_gap);
    }
  }
  if (list != nullptr) std::fclose(list);
}

BENCHMARK(ring_check_sweep)->DenseRange(0, 219)->Unit(benchmark::kSecond)->Iterations(1);

BENCHMARK(read_pass)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(find_rings)
    ->Args({2048, 0})
    ->Args({2048, 1})
    ->Args({4096, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(lsq_calibrant)->Unit(benchmark::kMillisecond);
BENCHMARK(whole_refinement)->Unit(benchmark::kMillisecond);

// ---- Grid calibration and detector response ----

// 101 x 101 Gaussian holes 20 pixels apart, gently distorted.
const kesta::testing::GridScene& grid_scene() {
  static const kesta::testing::GridScene s = [] {
    kesta::testing::GridScene g;
    g.side = 2048;
    g.x0 = g.y0 = 24.5f;
    g.spacing = 20.0f;
    g.columns = g.rows = 101;
    g.sigma = 2.0f;
    g.distortion = [](float x, float y, float& dx, float& dy) {
      const float u = (x - 1024.0f) / 1024.0f, v = (y - 1024.0f) / 1024.0f;
      dx = 3.0f * u * u - v;
      dy = 2.0f * u * v;
    };
    return g;
  }();
  return s;
}

void grid_search(benchmark::State& state) {
  const kesta::testing::GridScene& s = grid_scene();
  static const std::vector<float> data = s.image();
  const int sub = 5;
  const Index side = kesta::kzt_template_side(s.sigma, 1);
  const Index sub_side = kesta::kzt_template_side(s.sigma, sub);
  std::vector<float> t(side * side), st(sub_side * sub_side);
  kesta::Status status = kesta::kStatusGood;
  kesta::KZT_CALTEMPLATE(side, side, side, side, s.sigma, 1, t, status);
  kesta::KZT_CALTEMPLATE(sub_side, sub_side, sub_side, sub_side, s.sigma, sub, st, status);
  const kesta::GridImage im{2048, 2048, 1, 1, 2048, 2048, data, side, t, sub_side, st, sub};
  float x[3], y[3];
  s.centre(51, 51, x[0], y[0]);
  s.centre(52, 51, x[1], y[1]);
  s.centre(51, 52, x[2], y[2]);
  float correlation = 0.0f;
  for (int k = 0; k < 3; ++k) {
    bool found = false;
    kesta::KZT_FINDCENTRE(im, 5, x[k], y[k], found, correlation, status);
  }
  Index peaks = 0;
  for (auto _ : state) {
    kesta::GridPeaks p;
    p.allocate(kesta::kGridPeaksMax, kesta::kGridPeaksMax);
    int retstat = -1;
    Index nl = 0, nd = 0;
    kesta::KZT_FIND2DGRID(im, 3, 0.3f, x[0], y[0], x[1], y[1], x[2], y[2], 1000000, correlation,
                          retstat, nl, nd, p, status);
    peaks = p.num;
    benchmark::DoNotOptimize(retstat);
  }
  state.counters["peaks"] = static_cast<double>(peaks);
  state.SetItemsProcessed(state.iterations() * peaks);
}

std::vector<float>& response_image(Index n) {
  static std::vector<float> images[2];
  std::vector<float>& a = images[n > 2048 ? 1 : 0];
  if (a.empty()) {
    a.resize(static_cast<std::size_t>(n * n));
    for (std::size_t i = 0; i < a.size(); ++i)
      a[i] = 1.0f + static_cast<float>((i * 2654435761u) % 60000);
  }
  return a;
}

void flat_field(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float>& a = response_image(n);
  const Index radii = kesta::kzt_profile_radii(n / 2.0f, n / 2.0f, 1.0e-4f, 1.0e-4f, 1, 1, n, n);
  std::vector<float> profile(radii + 1);
  for (Index i = 0; i <= radii; ++i) profile[i] = 1.0f + 1.0e-7f * static_cast<float>(i * i);
  kesta::Status status = kesta::kStatusGood;
  for (auto _ : state) {
    kesta::KZT_CALFLATFIELD(radii, profile, n / 2.0f, n / 2.0f, 1.0e-4f, 1.0e-4f, n, n, 1, 1, n,
                            n, a, status);
    benchmark::DoNotOptimize(a.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void linearise(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float>& a = response_image(n);
  kesta::PolynomialFit fit;
  fit.x_min = 0.0f;
  fit.x_max = 5.0f;
  fit.order = 10;
  for (int c = 0; c <= 10; ++c) fit.coefficients.push_back(c == 0 ? 2.0f : 0.01f / (c + 1));
  std::vector<double> work;
  for (auto _ : state) {
    for (Index y = 0; y < n; ++y) kesta::kzt_linearise_row(fit, a.data() + y * n, n, work);
    benchmark::DoNotOptimize(a.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void decay(benchmark::State& state) {
  const Index n = state.range(0);
  std::vector<float>& a = response_image(n);
  kesta::DecayModel m;
  m.line_time = 120.0 / static_cast<double>(n);
  for (auto _ : state) {
    const double f = kesta::kzt_decay_correct(m, n, n, 1, 1, n, n, false, a, {});
    benchmark::DoNotOptimize(f);
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

void normalise(benchmark::State& state) {
  const Index n = state.range(0);
  const std::vector<float>& a = response_image(n);
  std::vector<float> out(a.size());
  std::vector<std::uint8_t> mask(a.size(), 0);
  kesta::Status status = kesta::kStatusGood;
  for (auto _ : state) {
    const bool done = kesta::kzt_normalise(true, n, 1, 1, n, n, false, a, mask, {}, out, {},
                                           status);
    benchmark::DoNotOptimize(done);
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}

BENCHMARK(grid_search)->Unit(benchmark::kMillisecond);
BENCHMARK(flat_field)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(linearise)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(decay)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(normalise)->Arg(2048)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
