// Tilt and beam centre from powder rings of unknown d-spacings (the fitting
// half of TILT/BEAM CENTRE): silicon's or ceria's rings on a 1024 x 1024
// detector (100 micron pixels, 120 mm, 0.5 Angstrom, beam centre (512.7,
// 498.3), sharp rings of 0.04 degree sigma), tilted by 0 to 10 degrees at
// several tilt plane rotations. The first ring is clicked, then three (or
// six) further rings, or none, at azimuths 0.6 + 1.1 k radians; the start
// is the true centre, or some pixels off it.
//
// tilt_sweep: one case a run, with the search half-width 8 pixels. It
// reports for the solution of the true tilt sign how far the beam centre
// ends from the truth (centre_px) and its tilt error (tilt_deg), the same
// for the other solution, the rms radial residual of the fit (rms_px), and
// whether its report carries a warning (warned), beside the time of the
// whole fit.
//
// tilt_warning_sweep: whether the warnings tell a wrong solution from a
// right one. For one calibrant, every tilt from 0 to 10 degrees by 1, tilt
// plane rotations 0, 40, 130 and 250 degrees, 3 and 6 further rings,
// search half-widths 8, 15 and 25 pixels, starts at the true centre and 4
// pixels off it (across the first click): 528 fits. The solution of the
// true tilt sign is right within 0.1 pixel and 0.05 degree of the truth and
// wrong beyond 0.3 pixel or 0.1 degree; the counters give the four cells
// (right or wrong, warned or silent), the solutions between, and fits that
// failed. With KESTA_TILT_SWEEP_LIST set to a file name every fit is
// added to it, one line each: calibrant, tilt, rotation, further rings,
// half-width, start offset, "w" when warned, the centre and tilt errors of
// the solution of the true tilt sign and of the other, the fit's rms
// residual (pixels), and of the rings searched again along its cones the
// sections where found and searched, and the centre change (pixels), tilt
// change (degrees) and rms offset left (pixels) their offsets ask for,
// then the sections of the first ring where found and searched.
//
// tilt_detector_sweep: the share of wrong fits by tilt on 2048 and 3000
// pixel detectors, and whether they were warned. tilt_distance_off: the
// distance typed 3 % long, held (as the window's road always holds it) or
// refined.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>
#include <vector>

#include "app/diffraction/calibrant.hpp"
#include "app/diffraction/ring_coordinates.hpp"
#include "app/diffraction/ring_test_support.hpp"
#include "app/diffraction/tilt_centre.hpp"
#include "bench/bench_files.hpp"
#include "core/status.hpp"

namespace {

constexpr double kDegree = M_PI / 180.0;
constexpr int kCeria = 1;
constexpr int kSilicon = 5;

kesta::testing::RingScene scene(int calibrant, double tilt_degrees, double rotation_degrees) {
  kesta::testing::RingScene s;
  s.xmax = s.ymax = 1024;
  s.pixel = 100.0e-6;
  s.x_centre = 512.7;
  s.y_centre = 498.3;
  s.distance = 0.12;
  s.wavelength = 0.5e-10;
  s.rotation = rotation_degrees * kDegree;
  s.tilt = tilt_degrees * kDegree;
  s.width = 0.04 * kDegree * s.distance / s.pixel;
  for (float d : kesta::kzt_calibrants()[static_cast<std::size_t>(calibrant)].d_spacings)
    s.d_spacings.push_back(d);
  return s;
}

const std::vector<float>& image(int calibrant, double tilt_degrees, double rotation_degrees) {
  static std::map<std::tuple<int, double, double>, std::vector<float>> images;
  std::vector<float>& a = images[{calibrant, tilt_degrees, rotation_degrees}];
  if (a.empty()) a = kesta::testing::ring_image(scene(calibrant, tilt_degrees, rotation_degrees));
  return a;
}

struct Case {
  int calibrant = kSilicon;
  double tilt = 0.0, rotation = 0.0;  // degrees
  int further_rings = 3;
  double half_width = 8.0;  // pixels
  double start_off = 0.0;   // pixels from the true centre
  double off_direction = 0.0;  // radians from the first click's azimuth
  bool clicks_inside = false;  // further rings only where their click is on the image
};

struct Outcome {
  bool fitted = false;
  double centre = 999.0, tilt = 999.0, other_centre = 0.0, other_tilt = 0.0;
  double rms = 0.0;
  bool warned = false;
  kesta::RingFollowing following;
  double distance = 0.0;  // relative error of the distance the fit ended at
  double tilt_vector = 999.0;  // the error of the tilt as a vector (degrees)
};

// The fit of case C on image A of scene S, started at the distance S's
// times DISTANCE_FACTOR, the distance refined when REFINE_DISTANCE.
Outcome fit_image(const kesta::testing::RingScene& s, const std::vector<float>& a, const Case& c,
                  double distance_factor = 1.0, bool refine_distance = false) {
  const kesta::bench::Quiet quiet;
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.xendelm = s.xmax;
  m.ymaxdat = m.yendelm = s.ymax;
  m.data = a;
  const float px = static_cast<float>(s.pixel);
  const double xs = (s.x_centre + c.start_off * std::cos(0.6 + c.off_direction)) * s.pixel;
  const double ys = (s.y_centre + c.start_off * std::sin(0.6 + c.off_direction)) * s.pixel;
  std::vector<float> radii;
  for (int k = 0; k <= c.further_rings; ++k) {
    const auto p = kesta::testing::ring_point(
        s, kesta::testing::scene_two_theta(s, s.d_spacings[static_cast<std::size_t>(k)]),
        0.6 + 1.1 * k);
    const bool inside = p[0] > 0.0 && p[1] > 0.0 && p[0] < s.xmax * s.pixel &&
                        p[1] < s.ymax * s.pixel;
    if (c.clicks_inside && !inside) continue;
    radii.push_back(static_cast<float>(std::hypot(p[0] - xs, p[1] - ys)));
  }
  float distance = static_cast<float>(s.distance * distance_factor);
  int num = 0;
  std::array<kesta::TiltSolution, 2> sol{};
  kesta::Status status = kesta::kStatusGood;
  const float half_width = static_cast<float>(c.half_width) * px;
  kesta::kzt_fit_tilt_solutions(m, px, px, false, 90, true, 4.0f, true, refine_distance, true,
                                distance, static_cast<float>(xs), static_cast<float>(ys), 0.0f,
                                0.0f, static_cast<int>(radii.size()), radii, half_width, radii[0],
                                radii[0], 0.0f, num, sol, status);
  Outcome o;
  if (status != kesta::kStatusGood || num < 1) return o;
  o.fitted = true;
  auto centre_error = [&](const kesta::TiltSolution& t) {
    return std::hypot(t.x_beam / s.pixel - s.x_centre, t.y_beam / s.pixel - s.y_centre);
  };
  // The tilt in the truth's tilt plane.
  auto tilt_error = [&](const kesta::TiltSolution& t) {
    const double tilt = std::cos(t.rotation - s.rotation) < 0.0 ? -t.tilt : t.tilt;
    return std::abs(tilt - s.tilt) / kDegree;
  };
  std::size_t best = 0;
  if (num == 2 && tilt_error(sol[1]) < tilt_error(sol[0])) best = 1;
  const kesta::TiltSolution& b = sol[best];
  o.centre = centre_error(b);
  o.tilt = tilt_error(b);
  if (num == 2) {
    o.other_centre = centre_error(sol[1 - best]);
    o.other_tilt = tilt_error(sol[1 - best]);
  }
  o.rms = b.fit.rms(s.pixel);
  o.tilt_vector = std::hypot(std::cos(b.rotation) * b.tilt - std::cos(s.rotation) * s.tilt,
                             std::sin(b.rotation) * b.tilt - std::sin(s.rotation) * s.tilt) /
                  kDegree;
  o.following = b.following;
  o.distance = std::abs(distance / s.distance - 1.0);
  o.warned = kesta::kzt_warn_poor_ring_fit(b.fit, px, status);
  o.warned = kesta::kzt_warn_rings_not_followed(b.following, px, "", status) || o.warned;
  return o;
}

Outcome fit(const Case& c) {
  return fit_image(scene(c.calibrant, c.tilt, c.rotation), image(c.calibrant, c.tilt, c.rotation),
                   c);
}

// Arguments: tilt (degrees), rotation (degrees), further rings, start
// offset (tenths of a pixel), direction of the offset from the first click
// (degrees).
void tilt_sweep(benchmark::State& state) {
  Case c;
  c.tilt = static_cast<double>(state.range(0));
  c.rotation = static_cast<double>(state.range(1));
  c.further_rings = static_cast<int>(state.range(2));
  c.start_off = static_cast<double>(state.range(3)) / 10.0;
  c.off_direction = static_cast<double>(state.range(4)) * kDegree;
  image(c.calibrant, c.tilt, c.rotation);
  Outcome o;
  for (auto _ : state) o = fit(c);
  state.counters["centre_px"] = o.centre;
  state.counters["tilt_deg"] = o.tilt;
  state.counters["other_px"] = o.other_centre;
  state.counters["other_deg"] = o.other_tilt;
  state.counters["rms_px"] = o.rms;
  state.counters["warned"] = o.warned ? 1.0 : 0.0;
}

void sweep_arguments(benchmark::internal::Benchmark* b) {
  for (int rotation : {0, 130, 250})
    for (int tilt = 0; tilt <= 10; ++tilt) b->Args({tilt, rotation, 3, 0, 0});
  for (int rotation : {0, 130, 250})
    for (int tilt : {0, 5, 10}) b->Args({tilt, rotation, 6, 0, 0});
  for (int tilt : {0, 5, 10})
    for (int direction : {0, 90, 180}) b->Args({tilt, 130, 3, 57, direction});
  for (int rotation : {0, 130, 250}) b->Args({5, rotation, 0, 0, 0});
}

BENCHMARK(tilt_sweep)->Apply(sweep_arguments)->Unit(benchmark::kMillisecond)->Iterations(3);

// Argument: the calibrant (its index in the calibrant menu).
void tilt_warning_sweep(benchmark::State& state) {
  const int calibrant = static_cast<int>(state.range(0));
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_TILT_SWEEP_LIST")) list = std::fopen(name, "a");
  double right_warned = 0, right_silent = 0, wrong_warned = 0, wrong_silent = 0, between = 0,
         failed = 0;
  for (auto _ : state) {
    for (int tilt = 0; tilt <= 10; ++tilt) {
      for (int rotation : {0, 40, 130, 250}) {
        for (int further : {3, 6}) {
          for (int half_width : {8, 15, 25}) {
            for (double off : {0.0, 4.0}) {
              Case c;
              c.calibrant = calibrant;
              c.tilt = tilt;
              c.rotation = rotation;
              c.further_rings = further;
              c.half_width = half_width;
              c.start_off = off;
              c.off_direction = 90.0 * kDegree;
              const Outcome o = fit(c);
              const bool right = o.fitted && o.centre <= 0.1 && o.tilt <= 0.05;
              const bool wrong = !o.fitted || o.centre > 0.3 || o.tilt > 0.1;
              if (!o.fitted) {
                ++failed;
              } else if (right) {
                ++(o.warned ? right_warned : right_silent);
              } else if (wrong) {
                ++(o.warned ? wrong_warned : wrong_silent);
              } else {
                ++between;
              }
              if (list != nullptr) {
                const kesta::RingFollowing& f = o.following;
                std::fprintf(list,
                             "%s %2d %3d %d %2d %.0f %s %7.3f %6.3f %7.3f %6.3f %6.3f %3d %3d "
                             "%7.3f %6.3f %6.3f %3d %3d\n",
                             calibrant == kSilicon ? "Si  " : "CeO2", tilt, rotation, further,
                             half_width, off, o.warned ? "w" : "-", o.centre, o.tilt,
                             o.other_centre, o.other_tilt, o.rms, f.found, f.searched,
                             f.centre_move / 1.0e-4, f.tilt_move / kDegree, f.scatter / 1.0e-4,
                             f.ring_found[0], f.ring_searched[0]);
              }
            }
          }
        }
      }
    }
  }
  if (list != nullptr) std::fclose(list);
  state.counters["right_warned"] = right_warned;
  state.counters["right_silent"] = right_silent;
  state.counters["wrong_warned"] = wrong_warned;
  state.counters["wrong_silent"] = wrong_silent;
  state.counters["between"] = between;
  state.counters["failed"] = failed;
}

BENCHMARK(tilt_warning_sweep)
    ->Arg(kSilicon)
    ->Arg(kCeria)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// ---- Larger detectors, and a distance typed wrong ----

// Detector DETECTOR (2048: 2048 x 2048 pixels of 100 microns; 3000: 3000 x
// 3000 of 75 microns), the beam centre near the middle, at DISTANCE
// (metres) and 0.5 Angstrom, rings of 0.04 degree sigma.
kesta::testing::RingScene large_scene(int detector, int calibrant, double distance,
                                      double tilt_degrees, double rotation_degrees) {
  kesta::testing::RingScene s = scene(calibrant, tilt_degrees, rotation_degrees);
  s.xmax = s.ymax = detector;
  s.pixel = detector == 2048 ? 100.0e-6 : 75.0e-6;
  s.x_centre = detector / 2.0 + 4.7;
  s.y_centre = detector / 2.0 - 9.3;
  s.distance = distance;
  s.width = 0.04 * kDegree * s.distance / s.pixel;
  return s;
}

// Argument: the detector (2048 or 3000). Silicon and ceria at two
// distances (2048: 150 and 250 mm; 3000: 203 and 300 mm), tilts 0 to 10
// degrees by 1, tilt plane rotations 0, 130 and 250 degrees, 3 and 6
// further rings, search half-widths 8 and 20 pixels, started at the true
// centre: 528 fits. Right, wrong and warned as in tilt_warning_sweep; a
// line a tilt on standard output gives the fits, the wrong ones (and how
// many of them were warned) and the right ones warned. The list (as in
// tilt_warning_sweep) gives a line a fit: detector, calibrant, distance
// (mm), tilt, rotation, further rings, half-width, "w" when warned, the
// centre and tilt errors (the tilt in the truth's tilt plane), the fit's
// rms residual, the sections where the rings were found again and
// searched, the centre and tilt changes and the rms left, and the error
// of the tilt as a vector (degrees).
void tilt_detector_sweep(benchmark::State& state) {
  const int detector = static_cast<int>(state.range(0));
  std::FILE* list = nullptr;
  if (const char* name = std::getenv("KESTA_TILT_SWEEP_LIST")) list = std::fopen(name, "a");
  std::array<int, 11> fits{}, wrong{}, wrong_warned{}, right_warned{}, between{};
  for (auto _ : state) {
    for (int calibrant : {kSilicon, kCeria}) {
      for (double distance : detector == 2048 ? std::array{0.15, 0.25} : std::array{0.203, 0.3}) {
        for (int tilt = 0; tilt <= 10; ++tilt) {
          for (int rotation : {0, 130, 250}) {
            const kesta::testing::RingScene s =
                large_scene(detector, calibrant, distance, tilt, rotation);
            const std::vector<float> a = kesta::testing::ring_image(s);
            for (int further : {3, 6}) {
              for (int half_width : {8, 20}) {
                const Case c{.calibrant = calibrant,
                             .tilt = static_cast<double>(tilt),
                             .rotation = static_cast<double>(rotation),
                             .further_rings = further,
                             .half_width = static_cast<double>(half_width),
                             .clicks_inside = true};
                const Outcome o = fit_image(s, a, c);
                const auto t = static_cast<std::size_t>(tilt);
                const bool is_wrong = !o.fitted || o.centre > 0.3 || o.tilt > 0.1;
                const bool is_right = o.fitted && o.centre <= 0.1 && o.tilt <= 0.05;
                ++fits[t];
                if (is_wrong) {
                  ++wrong[t];
                  if (o.warned) ++wrong_warned[t];
                } else if (is_right) {
                  if (o.warned) ++right_warned[t];
                } else {
                  ++between[t];
                }
                const kesta::RingFollowing& f = o.following;
                if (list != nullptr)
                  std::fprintf(list,
                               "%4d %s %5.0f %2d %3d %d %2d %s %7.3f %6.3f %6.3f %3d %3d %7.3f "
                               "%6.3f %6.3f %6.3f %3d %3d\n",
                               detector, calibrant == kSilicon ? "Si  " : "CeO2",
                               distance * 1000.0, tilt, rotation, further, half_width,
                               o.warned ? "w" : "-", o.centre, o.tilt, o.rms, f.found, f.searched,
                               f.centre_move / s.pixel, f.tilt_move / kDegree,
                               f.scatter / s.pixel, o.tilt_vector, f.ring_found[0],
                               f.ring_searched[0]);
              }
            }
          }
        }
      }
    }
  }
  if (list != nullptr) std::fclose(list);
  int all_wrong = 0, all_silent = 0, all_right_warned = 0;
  for (std::size_t t = 0; t < fits.size(); ++t) {
    std::printf("tilt_detector_sweep %d: tilt %2zu: %3d fits, wrong %3d (warned %3d), right "
                "warned %d, between %d\n",
                detector, t, fits[t], wrong[t], wrong_warned[t], right_warned[t], between[t]);
    all_wrong += wrong[t];
    all_silent += wrong[t] - wrong_warned[t];
    all_right_warned += right_warned[t];
  }
  state.counters["wrong"] = all_wrong;
  state.counters["wrong_silent"] = all_silent;
  state.counters["right_warned"] = all_right_warned;
}

BENCHMARK(tilt_detector_sweep)->Arg(2048)->Arg(3000)->Unit(benchmark::kSecond)->Iterations(1);

// The distance is held at the value typed unless it is refined: silicon
// on the 1024 x 1024 detector above, the distance typed 3 % long, tilts 1,
// 3, 5 and 8 degrees at rotations 0, 130 and 250, six further rings,
// half-width 25 pixels, started at the true centre. Argument: 1 to refine
// the distance. Reported: the largest centre and tilt errors of the
// solution of the true tilt sign, the largest relative distance error,
// the fits warned and those more than 0.1 degree off and silent.
void tilt_distance_off(benchmark::State& state) {
  const bool refine = state.range(0) != 0;
  double centre = 0.0, tilt_off = 0.0, distance = 0.0, warned = 0, silent_off = 0;
  for (auto _ : state) {
    for (int tilt : {1, 3, 5, 8}) {
      for (int rotation : {0, 130, 250}) {
        const Case c{.tilt = static_cast<double>(tilt),
                     .rotation = static_cast<double>(rotation),
                     .further_rings = 6,
                     .half_width = 25.0};
        const Outcome o =
            fit_image(scene(c.calibrant, c.tilt, c.rotation), image(c.calibrant, c.tilt, c.rotation),
                      c, 1.03, refine);
        centre = std::max(centre, o.centre);
        tilt_off = std::max(tilt_off, o.tilt);
        distance = std::max(distance, o.distance);
        if (o.warned) ++warned;
        if (!o.warned && (o.tilt > 0.1 || o.centre > 0.3)) ++silent_off;
        std::printf("tilt_distance_off %d: tilt %d rotation %3d: centre %.3f px, tilt %.3f deg, "
                    "distance %.4f%s\n",
                    refine ? 1 : 0, tilt, rotation, o.centre, o.tilt, o.distance,
                    o.warned ? " warned" : "");
      }
    }
  }
  state.counters["centre_px"] = centre;
  state.counters["tilt_deg"] = tilt_off;
  state.counters["distance_rel"] = distance;
  state.counters["warned"] = warned;
  state.counters["off_silent"] = silent_off;
}

BENCHMARK(tilt_distance_off)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
