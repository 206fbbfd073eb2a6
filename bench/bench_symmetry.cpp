// FIT 1-D PROJECTION's centre of symmetry on a small-angle pattern of 256 x
// 256 pixels about (131.37, 127.6): a central peak over a slowly falling
// background, with rings at 40, 70 and 100 pixels (noiseless, and with
// Poisson noise of 1000, 100 and 10 counts where the pattern holds its
// background). Lines at 0, 30, 90 and 135 degrees, strips of half-width 2
// and 8 pixels; the strip is projected, smoothed and fitted as the menu
// does (kzt_strip_profile, kzt_strip_symmetry), without the clicks.
//
// symmetry_warning_sweep: whether the misfit of the centre found tells a
// right centre from a wrong one, the bound kPoorSymmetry was chosen on.
// Right set-ups hold the centre: lines of 60, 120 and 200 pixels with the
// centre at 0.3 to 0.7 of their length, short lines of 12 to 20 pixels with
// it 2 to 3 pixels off their middle, the same pattern without its rings and
// with a beam-stop shadow. Wrong set-ups hold none: a line from the centre
// outwards, one starting 5 pixels past it, one far to its side (each also
// on the pattern without rings, a plain decay), and a beam-stop arm on one
// side of the centre. A centre is right within 0.1 pixel of the truth
// (along the line) and wrong beyond 0.5; warned means a misfit above
// kPoorSymmetry or fewer than 4 points mirrored. The counters give the four
// cells, and "short_within" the short lines within 0.05 pixel (noiseless
// and at 1000 counts). KESTA_SYMMETRY_SWEEP_LIST=file lists every fit: kind,
// counts, line angle, its ends along the line, half-width, the offset of
// the centre found (pixels) and its misfit.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/diffraction/projection.hpp"
#include "app/diffraction/symmetry_centre.hpp"
#include "app/imageops/conventions.hpp"
#include "bench/bench_files.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;

constexpr Index kN = 256;
constexpr double kCx = 131.37, kCy = 127.6;

enum class Shape { kRings, kNoRings, kBeamStop, kArm };

// The pattern, background 1, with Poisson noise of COUNTS where it holds
// its background (0: none).
std::vector<float> pattern(Shape shape, double counts, unsigned seed) {
  std::vector<float> d(static_cast<std::size_t>(kN * kN));
  std::mt19937 rng(seed);
  for (Index j = 1; j <= kN; ++j)
    for (Index i = 1; i <= kN; ++i) {
      const double dx = static_cast<double>(i) - 0.5 - kCx, dy = static_cast<double>(j) - 0.5 - kCy;
      const double r2 = dx * dx + dy * dy, r = std::sqrt(r2);
      const auto ring = [r](double at, double h) { return h * std::exp(-(r - at) * (r - at) / 18.0); };
      double v = 1000.0 * std::exp(-r2 / 200.0) + 1.0e5 / (r2 + 100.0) + 10.0;
      if (shape != Shape::kNoRings) v += ring(40, 200) + ring(70, 120) + ring(100, 80);
      if (shape == Shape::kBeamStop && r < 12.0) v = 5.0;
      if (shape == Shape::kArm && dx > 0.0 && std::abs(dy) < 3.0) v *= 0.05;
      v /= 10.0;
      if (counts > 0.0) {
        std::poisson_distribution<long> poisson(v * counts);
        v = static_cast<double>(poisson(rng)) / counts;
      }
      d[static_cast<std::size_t>(kesta::element(i, j, kN))] = static_cast<float>(v);
    }
  return d;
}

struct Fit {
  bool found = false;
  double off = 0.0;  // along the line, pixels
  double misfit = 0.0;
};

// The line from T1 to T2 pixels along ANGLE from the true centre, in a
// strip of half-width W.
Fit fit(const std::vector<float>& data, double angle, double t1, double t2, double w) {
  std::vector<float> axis(kN);
  for (Index i = 0; i < kN; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  const kesta::GsDisplayedImage im = kesta::kzt_displayed_image(
      kN, kN, 1, 1, kN, kN, data, {}, axis, axis, "Pattern", "X", "Y", "Z");
  const double ux = std::cos(angle), uy = std::sin(angle);
  const double x1 = kCx + t1 * ux, y1 = kCy + t1 * uy, x2 = kCx + t2 * ux, y2 = kCy + t2 * uy;
  std::array<float, 5> xv{}, yv{};
  kesta::Status status = kesta::kStatusGood;
  kesta::kzt_strip_corners(static_cast<float>(x1), static_cast<float>(y1), static_cast<float>(x2),
                           static_cast<float>(y2), static_cast<float>(x1 - w * uy),
                           static_cast<float>(y1 + w * ux), static_cast<float>(x1 + w * uy),
                           static_cast<float>(y1 - w * ux), xv, yv, status);
  kesta::StripProfile strip;
  Fit f;
  if (!kesta::kzt_strip_profile(im, 1e-4f, 1e-4f, xv, yv, strip, status)) return f;
  const std::vector<std::uint8_t> none(strip.smooth.size(), 0);
  float centre = 0.0f;
  if (!kesta::kzt_strip_symmetry(strip, 1, strip.number, none, centre, f.misfit, status)) return f;
  float xc = 0.0f, yc = 0.0f;
  kesta::kzt_symmetry_point((xv[0] + xv[3]) * 0.5f, (yv[0] + yv[3]) * 0.5f,
                            (xv[1] + xv[2]) * 0.5f, (yv[1] + yv[2]) * 0.5f, 1e-4f, 1e-4f, 1e-4f,
                            centre, xc, yc);
  f.found = true;
  f.off = (xc - kCx) * ux + (yc - kCy) * uy;
  return f;
}

void symmetry_warning_sweep(benchmark::State& state) {
  const kesta::bench::Quiet quiet;
  const char* list_name = std::getenv("KESTA_SYMMETRY_SWEEP_LIST");
  std::FILE* list = list_name != nullptr ? std::fopen(list_name, "w") : nullptr;
  int right_warned = 0, right_silent = 0, wrong_warned = 0, wrong_silent = 0, between = 0;
  int failed = 0, short_lines = 0, short_within = 0;
  for (auto _ : state) {
    for (const double counts : {0.0, 1000.0, 100.0, 10.0}) {
      const std::vector<float> rings = pattern(Shape::kRings, counts, 1);
      const std::vector<float> plain = pattern(Shape::kNoRings, counts, 2);
      const std::vector<float> stop = pattern(Shape::kBeamStop, counts, 3);
      const std::vector<float> arm = pattern(Shape::kArm, counts, 4);
      for (const double degrees : {0.0, 30.0, 90.0, 135.0}) {
        const double angle = degrees * M_PI / 180.0;
        const auto line = [&](const char* kind, const std::vector<float>& image, double t1,
                              double t2, double w, bool holds_centre) {
          const Fit f = fit(image, angle, t1, t2, w);
          if (!f.found) {
            ++failed;
            return f;
          }
          const bool warned = f.misfit < 0.0 || f.misfit > kesta::kPoorSymmetry;
          const double off = std::abs(f.off);
          if (holds_centre && off <= 0.1)
            ++(warned ? right_warned : right_silent);
          else if (off > 0.5)
            ++(warned ? wrong_warned : wrong_silent);
          else
            ++between;
          if (list != nullptr)
            std::fprintf(list, "%s %g %g %g %g %g %s %.4f %.5f\n", kind, counts, degrees, t1, t2,
                         w, warned ? "w" : "-", f.off, f.misfit);
          return f;
        };
        for (const double w : {2.0, 8.0}) {
          for (const double length : {60.0, 120.0, 200.0})
            for (const double at : {0.3, 0.4, 0.5, 0.6, 0.7}) {
              line("long", rings, -at * length, (1.0 - at) * length, w, true);
              if (at == 0.4 || at == 0.6) continue;
              line("no_rings", plain, -at * length, (1.0 - at) * length, w, true);
              line("beam_stop", stop, -at * length, (1.0 - at) * length, w, true);
            }
          for (const double length : {12.0, 15.0, 17.0, 20.0})
            for (const double off : {-3.0, -2.0, 2.0, 2.5, 3.0}) {
              const Fit f = line("short", rings, -(length / 2.0 + off), length / 2.0 - off, w, true);
              if (counts == 0.0 || counts == 1000.0) {
                ++short_lines;
                short_within += f.found && std::abs(f.off) <= 0.05 ? 1 : 0;
              }
            }
          line("from_centre", rings, 0.0, 100.0, w, false);
          line("past_centre", rings, 5.0, 120.0, w, false);
          line("beside", rings, 40.0, 200.0, w, false);
          line("decay", plain, 0.0, 100.0, w, false);
          line("decay_past", plain, 5.0, 120.0, w, false);
          line("decay_beside", plain, 30.0, 120.0, w, false);
          line("arm", arm, -60.0, 60.0, w, false);
          line("arm", arm, -40.0, 100.0, w, false);
        }
      }
    }
  }
  if (list != nullptr) std::fclose(list);
  const auto per_run = [&state](int n) {
    return static_cast<double>(n) / static_cast<double>(state.iterations());
  };
  state.counters["right_warned"] = per_run(right_warned);
  state.counters["right_silent"] = per_run(right_silent);
  state.counters["wrong_warned"] = per_run(wrong_warned);
  state.counters["wrong_silent"] = per_run(wrong_silent);
  state.counters["between"] = per_run(between);
  state.counters["failed"] = per_run(failed);
  state.counters["short_lines"] = per_run(short_lines);
  state.counters["short_within"] = per_run(short_within);
}
BENCHMARK(symmetry_warning_sweep)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
