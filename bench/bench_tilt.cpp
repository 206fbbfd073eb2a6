// Tilt and beam centre from powder rings of unknown d-spacings (the fitting
// half of TILT/BEAM CENTRE): silicon's rings on a 1024 x 1024 detector (100
// micron pixels, 120 mm, 0.5 Angstrom, beam centre (512.7, 498.3), sharp
// rings of 0.04 degree sigma), tilted by 0 to 10 degrees at tilt plane
// rotations of 0, 130 and 250 degrees. The first ring is clicked with an 8
// pixel search half-width, then three (or six) further rings, or none; the
// start is the true centre, or 5.7 pixels off it. Each case reports for the
// solution of the true tilt sign how far the beam centre ends from the
// truth (centre_px) and its tilt error (tilt_deg), the same for the other
// solution, the rms radial residual of the fit (rms_px), how far its rings
// stray from the circles they were searched on (stray_px), and whether its
// report carries a warning (warned), beside the time of the whole fit.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "app/diffraction/calibrant.hpp"
#include "app/diffraction/ring_coordinates.hpp"
#include "app/diffraction/ring_test_support.hpp"
#include "app/diffraction/tilt_centre.hpp"
#include "bench/bench_files.hpp"
#include "core/status.hpp"

namespace {

constexpr double kDegree = M_PI / 180.0;
constexpr int kSilicon = 5;

kesta::testing::RingScene scene(double tilt_degrees, double rotation_degrees) {
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
  for (float d : kesta::kzt_calibrants()[kSilicon].d_spacings) s.d_spacings.push_back(d);
  return s;
}

const std::vector<float>& image(double tilt_degrees, double rotation_degrees) {
  static std::map<std::pair<double, double>, std::vector<float>> images;
  std::vector<float>& a = images[{tilt_degrees, rotation_degrees}];
  if (a.empty()) a = kesta::testing::ring_image(scene(tilt_degrees, rotation_degrees));
  return a;
}

struct Outcome {
  double centre = 999.0, tilt = 999.0, other_centre = 0.0, other_tilt = 0.0;
  double rms = 0.0, stray = 0.0;
  bool warned = false;
};

// One fit: clicks on the rings at azimuths 0.6 + 1.1 k radians, the start
// START_OFF pixels from the true centre towards azimuth 0.6 + OFF_DIRECTION.
Outcome fit(double tilt_degrees, double rotation_degrees, int further_rings, double start_off,
            double off_direction) {
  const kesta::bench::Quiet quiet;
  const kesta::testing::RingScene s = scene(tilt_degrees, rotation_degrees);
  kesta::GsDisplayedImage m;
  m.xmaxdat = m.ymaxdat = m.xendelm = m.yendelm = s.xmax;
  m.data = image(tilt_degrees, rotation_degrees);
  const float px = static_cast<float>(s.pixel);
  const double xs = (s.x_centre + start_off * std::cos(0.6 + off_direction)) * s.pixel;
  const double ys = (s.y_centre + start_off * std::sin(0.6 + off_direction)) * s.pixel;
  std::vector<float> radii;
  for (int k = 0; k <= further_rings; ++k) {
    const auto p = kesta::testing::ring_point(
        s, kesta::testing::scene_two_theta(s, s.d_spacings[static_cast<std::size_t>(k)]),
        0.6 + 1.1 * k);
    radii.push_back(static_cast<float>(std::hypot(p[0] - xs, p[1] - ys)));
  }
  float distance = static_cast<float>(s.distance);
  int num = 0;
  std::array<kesta::TiltSolution, 2> sol{};
  kesta::Status status = kesta::kStatusGood;
  kesta::kzt_fit_tilt_solutions(m, px, px, false, 90, true, 4.0f, true, false, true, distance,
                                static_cast<float>(xs), static_cast<float>(ys), 0.0f, 0.0f,
                                static_cast<int>(radii.size()), radii, 8.0f * px, radii[0],
                                radii[0], 0.0f, num, sol, status);
  Outcome o;
  if (status != kesta::kStatusGood || num < 1) return o;
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
  o.stray = b.stray / s.pixel;
  o.warned = kesta::kzt_warn_poor_ring_fit(b.fit, px, status);
  o.warned = kesta::kzt_warn_stray_rings(b, 8.0f * px, px, status) || o.warned;
  return o;
}

// Arguments: tilt (degrees), rotation (degrees), further rings, start
// offset (tenths of a pixel), direction of the offset from the first click
// (degrees).
void tilt_sweep(benchmark::State& state) {
  const auto tilt = static_cast<double>(state.range(0));
  const auto rotation = static_cast<double>(state.range(1));
  const auto further = static_cast<int>(state.range(2));
  const double off = static_cast<double>(state.range(3)) / 10.0;
  const double direction = static_cast<double>(state.range(4)) * kDegree;
  image(tilt, rotation);
  Outcome o;
  for (auto _ : state) o = fit(tilt, rotation, further, off, direction);
  state.counters["centre_px"] = o.centre;
  state.counters["tilt_deg"] = o.tilt;
  state.counters["other_px"] = o.other_centre;
  state.counters["other_deg"] = o.other_tilt;
  state.counters["rms_px"] = o.rms;
  state.counters["stray_px"] = o.stray;
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

}  // namespace
