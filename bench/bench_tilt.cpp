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
// change (degrees) and rms offset left (pixels) their offsets ask for.

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
};

struct Outcome {
  bool fitted = false;
  double centre = 999.0, tilt = 999.0, other_centre = 0.0, other_tilt = 0.0;
  double rms = 0.0;
  bool warned = false;
  kesta::RingFollowing following;
};

Outcome fit(const Case& c) {
  const kesta::bench::Quiet quiet;
  const kesta::testing::RingScene s = scene(c.calibrant, c.tilt, c.rotation);
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.ymaxdat = m.xendelm = m.yendelm = s.xmax;
  m.data = image(c.calibrant, c.tilt, c.rotation);
  const float px = static_cast<float>(s.pixel);
  const double xs = (s.x_centre + c.start_off * std::cos(0.6 + c.off_direction)) * s.pixel;
  const double ys = (s.y_centre + c.start_off * std::sin(0.6 + c.off_direction)) * s.pixel;
  std::vector<float> radii;
  for (int k = 0; k <= c.further_rings; ++k) {
    const auto p = kesta::testing::ring_point(
        s, kesta::testing::scene_two_theta(s, s.d_spacings[static_cast<std::size_t>(k)]),
        0.6 + 1.1 * k);
    radii.push_back(static_cast<float>(std::hypot(p[0] - xs, p[1] - ys)));
  }
  float distance = static_cast<float>(s.distance);
  int num = 0;
  std::array<kesta::TiltSolution, 2> sol{};
  kesta::Status status = kesta::kStatusGood;
  const float half_width = static_cast<float>(c.half_width) * px;
  kesta::kzt_fit_tilt_solutions(m, px, px, false, 90, true, 4.0f, true, false, true, distance,
                                static_cast<float>(xs), static_cast<float>(ys), 0.0f, 0.0f,
                                static_cast<int>(radii.size()), radii, half_width, radii[0],
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
  o.following = b.following;
  o.warned = kesta::kzt_warn_poor_ring_fit(b.fit, px, status);
  o.warned = kesta::kzt_warn_rings_not_followed(b, px, status) || o.warned;
  return o;
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
                             "%7.3f %6.3f %6.3f\n",
                             calibrant == kSilicon ? "Si  " : "CeO2", tilt, rotation, further,
                             half_width, off, o.warned ? "w" : "-", o.centre, o.tilt,
                             o.other_centre, o.other_tilt, o.rms, f.found, f.searched,
                             f.centre_move / 1.0e-4, f.tilt_move / kDegree, f.scatter / 1.0e-4);
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

}  // namespace
