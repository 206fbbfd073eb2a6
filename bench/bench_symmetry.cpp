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

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
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
  double contrast = 0.0;
  kesta::SymmetryDoubt doubt = kesta::SymmetryDoubt::kNone;
};

// An image of NX x NY pixels and the point about which it is symmetric
// (along the lines fitted).
struct Image {
  std::vector<float> data;
  Index nx = kN, ny = kN;
  double cx = kCx, cy = kCy;
};

// The line from T1 to T2 pixels along ANGLE from the image's centre, in a
// strip of half-width W.
Fit fit(const Image& image, double angle, double t1, double t2, double w) {
  std::vector<float> xaxis(static_cast<std::size_t>(image.nx)),
      yaxis(static_cast<std::size_t>(image.ny));
  for (std::size_t i = 0; i < xaxis.size(); ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (std::size_t j = 0; j < yaxis.size(); ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  const kesta::GsDisplayedImage im =
      kesta::kzt_displayed_image(image.nx, image.ny, 1, 1, image.nx, image.ny, image.data, {},
                                 xaxis, yaxis, "Pattern", "X", "Y", "Z");
  const double ux = std::cos(angle), uy = std::sin(angle);
  const double cx = image.cx, cy = image.cy;
  const double x1 = cx + t1 * ux, y1 = cy + t1 * uy, x2 = cx + t2 * ux, y2 = cy + t2 * uy;
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
  kesta::StripCentre found;
  if (!kesta::kzt_strip_symmetry(strip, 1, strip.number, none, found, status)) return f;
  f.misfit = found.misfit;
  f.contrast = found.contrast;
  f.doubt = kesta::kzt_symmetry_doubt(found);
  const float centre = found.centre;
  float xc = 0.0f, yc = 0.0f;
  kesta::kzt_symmetry_point((xv[0] + xv[3]) * 0.5f, (yv[0] + yv[3]) * 0.5f,
                            (xv[1] + xv[2]) * 0.5f, (yv[1] + yv[2]) * 0.5f, 1e-4f, 1e-4f, 1e-4f,
                            centre, xc, yc);
  f.found = true;
  f.off = (xc - cx) * ux + (yc - cy) * uy;
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
      const Image rings{pattern(Shape::kRings, counts, 1)};
      const Image plain{pattern(Shape::kNoRings, counts, 2)};
      const Image stop{pattern(Shape::kBeamStop, counts, 3)};
      const Image arm{pattern(Shape::kArm, counts, 4)};
      for (const double degrees : {0.0, 30.0, 90.0, 135.0}) {
        const double angle = degrees * M_PI / 180.0;
        const auto line = [&](const char* kind, const Image& image, double t1,
                              double t2, double w, bool holds_centre) {
          const Fit f = fit(image, angle, t1, t2, w);
          if (!f.found) {
            ++failed;
            return f;
          }
          const bool warned = f.doubt != kesta::SymmetryDoubt::kNone;
          const double off = std::abs(f.off);
          if (holds_centre && off <= 0.1)
            ++(warned ? right_warned : right_silent);
          else if (off > 0.5)
            ++(warned ? wrong_warned : wrong_silent);
          else
            ++between;
          if (list != nullptr)
            std::fprintf(list, "%s %g %g %g %g %g %s %.4f %.5f %.3f\n", kind, counts, degrees, t1,
                         t2, w, warned ? "w" : "-", f.off, f.misfit, f.contrast);
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

// A flat image of LEVEL counts with Poisson noise, 256 x 64 pixels.
Image flat(double level, unsigned seed) {
  Image im{std::vector<float>(256 * 64), 256, 64, 128.0, 32.0};
  std::mt19937 rng(seed);
  std::poisson_distribution<long> poisson(level);
  for (float& v : im.data) v = static_cast<float>(poisson(rng));
  return im;
}

// noise_contrast_sweep: profiles of noise alone, which no centre mirrors
// but by chance, and the contrast kNoiseContrast judges them by: flat
// images of 10, 100 and 1000 counts, lines of 8 to 200 pixels at 0, 30 and
// 90 degrees in strips of half-width 0.5 to 10, 40 seeds each.
// "warned" counts the profiles said to be doubtful (for any reason), "by
// noise" those said to vary no more than their noise; "worst" is the largest
// contrast met, per length in the list. KESTA_SYMMETRY_SWEEP_LIST=file lists
// every fit: counts, length, angle, half-width, seed, warned, contrast.
// sparse_noise_sweep: the same at 0.05 to 1 count a pixel, where most
// pixels hold 0 or 1 and the differences that tell the noise are mostly 0.
void noise_sweep(benchmark::State& state, std::initializer_list<double> levels) {
  const kesta::bench::Quiet quiet;
  const char* list_name = std::getenv("KESTA_SYMMETRY_SWEEP_LIST");
  std::FILE* list = list_name != nullptr ? std::fopen(list_name, "w") : nullptr;
  int profiles = 0, warned = 0, by_noise = 0, short_profiles = 0, short_warned = 0;
  double worst = 0.0;
  for (auto _ : state) {
    for (const double level : levels)
      for (unsigned seed = 1; seed <= 40; ++seed) {
        const Image im = flat(level, seed);
        for (const double length : {8.0, 12.0, 14.0, 16.0, 30.0, 100.0, 200.0})
          for (const double degrees : {0.0, 30.0, 90.0})
            for (const double w : {0.5, 2.0, 5.0, 10.0}) {
              // Lines about the image's middle, a little off the pixels.
              const double angle = degrees * M_PI / 180.0;
              const double reach = degrees == 90.0 ? 28.0 : 120.0;
              if (length / 2.0 > reach) continue;
              const double shift = 0.13 * (seed % 7);
              const Fit f = fit(im, angle, -length / 2.0 + shift, length / 2.0 + shift, w);
              ++profiles;
              const bool doubted = !f.found || f.doubt != kesta::SymmetryDoubt::kNone;
              warned += doubted ? 1 : 0;
              by_noise += f.found && f.doubt == kesta::SymmetryDoubt::kNoise ? 1 : 0;
              if (length <= 16.0) {
                ++short_profiles;
                short_warned += doubted ? 1 : 0;
              }
              worst = std::max(worst, f.contrast);
              if (list != nullptr)
                std::fprintf(list, "%g %g %g %g %u %s %.4f\n", level, length, degrees, w, seed,
                             doubted ? "w" : "-", f.contrast);
            }
      }
  }
  if (list != nullptr) std::fclose(list);
  state.counters["profiles"] = profiles;
  state.counters["warned"] = warned;
  state.counters["by_noise"] = by_noise;
  state.counters["short_profiles"] = short_profiles;
  state.counters["short_warned"] = short_warned;
  state.counters["worst"] = worst;
}
void noise_contrast_sweep(benchmark::State& state) { noise_sweep(state, {10.0, 100.0, 1000.0}); }
void sparse_noise_sweep(benchmark::State& state) { noise_sweep(state, {0.05, 0.1, 0.2, 0.5, 1.0}); }
BENCHMARK(noise_contrast_sweep)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(sparse_noise_sweep)->Unit(benchmark::kSecond)->Iterations(1);

// Grazing-incidence rods: vertical rods of Gaussian section SIGMA at the
// specular position CX and SPACING and twice that to either side (heights
// 1, 0.7 and 0.5 of PEAK counts), fading upwards over 40 rows, over a
// background of 5 counts, with Poisson noise (SEED 0: none); 256 x 64
// pixels.
Image rods(double cx, double spacing, double sigma, double peak, unsigned seed) {
  Image im{std::vector<float>(256 * 64), 256, 64, cx, 20.0};
  std::mt19937 rng(seed);
  const double heights[] = {0.5, 0.7, 1.0, 0.7, 0.5};
  for (Index j = 1; j <= im.ny; ++j)
    for (Index i = 1; i <= im.nx; ++i) {
      double v = 5.0;
      for (int k = -2; k <= 2; ++k) {
        const double u = (static_cast<double>(i) - 0.5 - (cx + spacing * k)) / sigma;
        v += peak * heights[k + 2] * std::exp(-0.5 * u * u - (static_cast<double>(j) - 0.5) / 40.0);
      }
      if (seed != 0) {
        std::poisson_distribution<long> poisson(v);
        v = static_cast<double>(poisson(rng));
      }
      im.data[static_cast<std::size_t>(kesta::element(i, j, im.nx))] = static_cast<float>(v);
    }
  return im;
}

// rod_sweep/SPACING (pixels, tenths): a line across grazing-incidence rods,
// where each side rod is symmetric in itself and the rods beside it mirror
// each other about it: lines of 100 and 160 pixels about the specular rod
// (their middle 0, 7.3, -13.1 and 20 pixels off it), rods of section 1, 1.5
// and 3 pixels, peaks of 20 to 200 counts, 24 seeds, strips of half-width 3
// and 8 along row 20 and 3 degrees off it. Right within 0.5 pixel of the
// specular rod (the mirror over the whole line), wrong beyond it; "centred"
// counts the lines whose middle is 0 or 7.3 pixels off it at peaks of 50 to
// 200 counts.
void rod_sweep(benchmark::State& state) {
  const kesta::bench::Quiet quiet;
  const double spacing = static_cast<double>(state.range(0)) / 10.0;
  int right_silent = 0, right_warned = 0, wrong_silent = 0, wrong_warned = 0;
  int centred = 0, centred_wrong = 0;
  double farthest = 0.0;  // of the right ones
  for (auto _ : state) {
    for (unsigned seed = 1; seed <= 24; ++seed)
      for (const double sigma : {1.0, 1.5, 3.0})
        for (const double peak : {20.0, 50.0, 100.0, 200.0}) {
          const Image im = rods(128.37 + 0.1 * (seed % 5), spacing, sigma, peak, seed);
          for (const double length : {100.0, 160.0})
            for (const double off : {0.0, 7.3, -13.1, 20.0})
              for (const double degrees : {0.0, 3.0}) {
                const double w = seed % 2 == 0 ? 3.0 : 8.0;
                const Fit f = fit(im, degrees * M_PI / 180.0, -length / 2.0 + off,
                                  length / 2.0 + off, w);
                const bool doubted = !f.found || f.doubt != kesta::SymmetryDoubt::kNone;
                // Along a tilted line the rods' centre lies 1 / cos off.
                const double miss = std::abs(f.off * std::cos(degrees * M_PI / 180.0));
                const bool right = f.found && miss <= 0.5;
                if (right) {
                  ++(doubted ? right_warned : right_silent);
                  farthest = std::max(farthest, miss);
                } else {
                  ++(doubted ? wrong_warned : wrong_silent);
                }
                if ((off == 0.0 || off == 7.3) && peak >= 50.0) {
                  ++centred;
                  centred_wrong += right ? 0 : 1;
                }
              }
        }
  }
  state.counters["right_silent"] = right_silent;
  state.counters["right_warned"] = right_warned;
  state.counters["wrong_silent"] = wrong_silent;
  state.counters["wrong_warned"] = wrong_warned;
  state.counters["centred"] = centred;
  state.counters["centred_wrong"] = centred_wrong;
  state.counters["farthest_right"] = farthest;
}
BENCHMARK(rod_sweep)->Arg(250)->Arg(372)->Arg(500)->Unit(benchmark::kSecond)->Iterations(1);

// Patterns on a background that is not flat: a small-angle pattern's
// features about (CX, CY) over a background that rises or falls along X
// (256 x 256 pixels, Poisson noise), as a sample's own scattering or a
// tilted detector leaves it.
enum class Feature { kTwoRings, kRingPair, kSaxs, kPeak, kNone, kSidePeak };
enum class Slope { kLinear, kExponential };
struct Background {
  Slope slope = Slope::kLinear;
  double size = 0.0;    // counts a pixel along X, or the decay's height
  double length = 0.0;  // the decay's length (pixels)
};

double feature(Feature f, double r, double dx) {
  const auto g = [r](double at, double sigma) {
    return std::exp(-0.5 * (r - at) * (r - at) / (sigma * sigma));
  };
  switch (f) {
    case Feature::kTwoRings:
      return 40.0 + 250.0 * g(30.0, 2.2) + 150.0 * g(52.0, 2.5);
    case Feature::kRingPair:
      return 20.0 + 300.0 * g(35.0, 2.0) + 80.0 * g(60.0, 3.0);
    case Feature::kSaxs:
      return 30.0 + 2000.0 / (1.0 + r * r / 225.0) + 300.0 * g(40.0, 2.0);
    case Feature::kPeak:
      return 50.0 + 500.0 * g(0.0, 3.0);
    case Feature::kNone:
      return 40.0;
    case Feature::kSidePeak:
      return 30.0 + 200.0 * std::exp(-0.5 * (dx - 50.0) * (dx - 50.0) / 9.0);
  }
  return 0.0;
}

Image sloping(Feature f, const Background& b, double cx, double cy, unsigned seed) {
  Image im{std::vector<float>(static_cast<std::size_t>(kN * kN)), kN, kN, cx, cy};
  std::mt19937 rng(seed);
  for (Index j = 1; j <= kN; ++j)
    for (Index i = 1; i <= kN; ++i) {
      const double dx = static_cast<double>(i) - 0.5 - cx, dy = static_cast<double>(j) - 0.5 - cy;
      double v =
          feature(f, std::hypot(dx, dy), dx) +
          (b.slope == Slope::kLinear ? b.size * dx : b.size * std::exp(-(dx + 70.0) / b.length));
      std::poisson_distribution<long> poisson(std::max(v, 0.0));
      im.data[static_cast<std::size_t>(kesta::element(i, j, kN))] =
          static_cast<float>(poisson(rng));
    }
  return im;
}

// Grazing-incidence rods 29.3 pixels apart about CX (specular 120 counts,
// the first rods 150, the second 60, section 2.2 pixels) over 30 counts and
// a background along X, 256 x 160 pixels.
Image sloping_rods(const Background& b, double cx, unsigned seed) {
  Image im{std::vector<float>(256 * 160), 256, 160, cx, 80.2};
  std::mt19937 rng(seed);
  const double heights[] = {60.0, 150.0, 120.0, 150.0, 60.0};
  for (Index j = 1; j <= im.ny; ++j)
    for (Index i = 1; i <= im.nx; ++i) {
      const double x = static_cast<double>(i) - 0.5, t = x - cx;
      double v = 30.0 + (b.slope == Slope::kLinear ? b.size * t
                                                   : b.size * std::exp(-(x - 60.0) / b.length));
      for (int k = -2; k <= 2; ++k) {
        const double u = (t - 29.3 * k) / 2.2;
        v += heights[k + 2] * std::exp(-0.5 * u * u);
      }
      std::poisson_distribution<long> poisson(std::max(v, 0.0));
      im.data[static_cast<std::size_t>(kesta::element(i, j, im.nx))] =
          static_cast<float>(poisson(rng));
    }
  return im;
}

// Right and wrong centres of a sweep, warned or silent: right within 0.5
// pixel of the centre. "farthest" is the farthest right one.
struct Tally {
  int right_silent = 0, right_warned = 0, wrong_silent = 0, wrong_warned = 0;
  double farthest = 0.0;
  // Whether F was warned.
  bool add(const Fit& f) {
    const bool warned = !f.found || f.doubt != kesta::SymmetryDoubt::kNone;
    if (f.found && std::abs(f.off) <= 0.5) {
      ++(warned ? right_warned : right_silent);
      farthest = std::max(farthest, std::abs(f.off));
    } else {
      ++(warned ? wrong_warned : wrong_silent);
    }
    return warned;
  }
  void report(benchmark::State& state, const std::string& prefix) const {
    state.counters[prefix + "right_silent"] = right_silent;
    state.counters[prefix + "right_warned"] = right_warned;
    state.counters[prefix + "wrong_silent"] = wrong_silent;
    state.counters[prefix + "wrong_warned"] = wrong_warned;
    state.counters[prefix + "farthest_right"] = farthest;
  }
};

// background_sweep: centres on backgrounds that rise or fall along X. Two
// rings, a ring pair, a small-angle peak with a ring and a single peak, on
// linear backgrounds rising by 0 to 0.6 counts a pixel or falling by 1, and
// on decays of 60 to 150 counts over 30 to 80 pixels, lines of 130 pixels
// whose middle lies 3 and 7 pixels off the centre at 0 and 25 degrees to
// X, 6 seeds; rods ("rods_") on linear backgrounds of 0.1 to 0.3 counts a
// pixel and decays over 25 and 40 pixels, lines of 100 pixels 4.3 and 7
// pixels off the specular rod, 24 seeds. "featureless" profiles hold no
// centre, a slope alone or a decay alone, and should be warned; "streak"
// is a lone peak 50 pixels beside the centre on a slope or a decay, the
// only feature of its profile, on lines whose middle lies 3 pixels off the
// centre (where it mirrors little) and 30 (where a mirror over the line
// finds it): "streak_found" counts the centres found on it, silently.
// KESTA_SYMMETRY_SWEEP_LIST=file lists every fit: kind, background, angle,
// offset, seed, warned, the offset of the centre found, its misfit and
// contrast.
void background_sweep(benchmark::State& state) {
  const kesta::bench::Quiet quiet;
  const char* list_name = std::getenv("KESTA_SYMMETRY_SWEEP_LIST");
  std::FILE* list = list_name != nullptr ? std::fopen(list_name, "w") : nullptr;
  Tally features, rods;
  int featureless = 0, featureless_warned = 0, streak = 0, streak_found = 0, streak_warned = 0;
  const Background backgrounds[] = {
      {Slope::kLinear, 0.0, 0.0},        {Slope::kLinear, 0.15, 0.0},
      {Slope::kLinear, 0.3, 0.0},        {Slope::kLinear, 0.45, 0.0},
      {Slope::kLinear, 0.6, 0.0},        {Slope::kLinear, -1.0, 0.0},
      {Slope::kExponential, 60.0, 80.0}, {Slope::kExponential, 80.0, 40.0},
      {Slope::kExponential, 150.0, 30.0}};
  const auto listed = [list](const char* kind, int f, const Background& b, double degrees,
                             double off, unsigned seed, bool warned, const Fit& fitted) {
    if (list != nullptr)
      std::fprintf(list, "%s%d %s %g %g %g %g %u %s %.3f %.4f %.2f\n", kind, f,
                   b.slope == Slope::kLinear ? "linear" : "exp", b.size, b.length, degrees, off,
                   seed, warned ? "w" : "-", fitted.off, fitted.misfit, fitted.contrast);
  };
  for (auto _ : state) {
    for (const Feature f : {Feature::kTwoRings, Feature::kRingPair, Feature::kSaxs, Feature::kPeak})
      for (const Background& b : backgrounds)
        for (unsigned seed = 1; seed <= 6; ++seed) {
          const Image im = sloping(f, b, 127.6 + 0.1 * (seed % 5), 129.4, seed);
          for (const double degrees : {0.0, 25.0})
            for (const double off : {-3.0, 7.0}) {
              const Fit fitted = fit(im, degrees * M_PI / 180.0, off - 65.0, off + 65.0, 8.0);
              listed("feature", static_cast<int>(f), b, degrees, off, seed, features.add(fitted),
                     fitted);
            }
        }
    for (const Background& b :
         {Background{Slope::kLinear, 0.1, 0.0}, Background{Slope::kLinear, 0.2, 0.0},
          Background{Slope::kLinear, 0.3, 0.0}, Background{Slope::kExponential, 80.0, 40.0},
          Background{Slope::kExponential, 80.0, 25.0}})
      for (unsigned seed = 1; seed <= 24; ++seed) {
        const Image im = sloping_rods(b, 131.3 + 0.1 * (seed % 5), seed);
        for (const double off : {4.3, -7.0}) {
          const Fit fitted = fit(im, 0.0, off - 50.0, off + 50.0, 6.0);
          listed("rods", 0, b, 0.0, off, seed, rods.add(fitted), fitted);
        }
      }
    for (const Feature f : {Feature::kNone, Feature::kSidePeak})
      for (const Background& b :
           {Background{Slope::kLinear, 0.3, 0.0}, Background{Slope::kLinear, 0.2, 0.0},
            Background{Slope::kExponential, 300.0, 30.0}})
        for (unsigned seed = 1; seed <= 6; ++seed) {
          const Image im = sloping(f, b, 127.6, 129.4, seed);
          for (const double off : {-3.0, 30.0}) {
            const Fit fitted = fit(im, 0.0, off - 65.0, off + 65.0, 8.0);
            const bool warned = !fitted.found || fitted.doubt != kesta::SymmetryDoubt::kNone;
            if (f == Feature::kNone) {
              ++featureless;
              featureless_warned += warned ? 1 : 0;
            } else {
              ++streak;
              streak_warned += warned ? 1 : 0;
              streak_found += !warned && std::abs(fitted.off - 50.0) <= 0.5 ? 1 : 0;
            }
            listed("featureless", static_cast<int>(f), b, 0.0, off, seed, warned, fitted);
          }
        }
  }
  if (list != nullptr) std::fclose(list);
  features.report(state, "");
  rods.report(state, "rods_");
  state.counters["featureless"] = featureless;
  state.counters["featureless_warned"] = featureless_warned;
  state.counters["streak"] = streak;
  state.counters["streak_found"] = streak_found;
  state.counters["streak_warned"] = streak_warned;
}
BENCHMARK(background_sweep)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

namespace {

// Rod layouts across lines of every length: vertical rods of section SIGMA
// at the specular position CX and every SPACING to either side, the
// specular rod's height HEIGHTS[0] of PEAK counts and the K-th side rods'
// HEIGHTS[K] (falling on beyond the third as from the second), over a
// background of 5 counts and a twentieth of the peak, with Poisson noise;
// 800 x 24 pixels.
Image rod_layout(double cx, double spacing, double sigma, double peak,
                 const std::array<double, 4>& heights, unsigned seed) {
  Image im{std::vector<float>(800 * 24), 800, 24, cx, 12.0};
  std::mt19937 rng(seed);
  std::vector<double> row(static_cast<std::size_t>(im.nx));
  for (Index i = 1; i <= im.nx; ++i) {
    const double x = static_cast<double>(i) - 0.5;
    double v = 5.0 + 0.05 * peak;
    for (int k = -40; k <= 40; ++k) {
      const double u = (x - (cx + spacing * k)) / sigma;
      if (std::abs(u) > 8.0) continue;
      // Beyond the third rod each falls as the third fell from the second.
      const int a = std::abs(k);
      const double h = a <= 3 ? heights[static_cast<std::size_t>(a)]
                              : heights[3] * std::pow(heights[3] / heights[2], a - 3);
      v += peak * h * std::exp(-0.5 * u * u);
    }
    row[static_cast<std::size_t>(i - 1)] = v;
  }
  for (Index j = 1; j <= im.ny; ++j)
    for (Index i = 1; i <= im.nx; ++i) {
      std::poisson_distribution<long> poisson(row[static_cast<std::size_t>(i - 1)]);
      im.data[static_cast<std::size_t>(kesta::element(i, j, im.nx))] =
          static_cast<float>(poisson(rng));
    }
  return im;
}

// A spot of section SIGMA and PEAK counts at CX over 5 counts and a
// twentieth of the peak, rising by SLOPE of the peak a pixel, with Poisson
// noise; 800 x 24 pixels.
Image spot_layout(double cx, double sigma, double peak, double slope, unsigned seed) {
  Image im{std::vector<float>(800 * 24), 800, 24, cx, 12.0};
  std::mt19937 rng(seed);
  for (Index j = 1; j <= im.ny; ++j)
    for (Index i = 1; i <= im.nx; ++i) {
      const double u = (static_cast<double>(i) - 0.5 - cx) / sigma;
      const double v =
          std::max(0.0, 5.0 + 0.05 * peak + slope * peak * (static_cast<double>(i) - cx) +
                            peak * std::exp(-0.5 * u * u));
      std::poisson_distribution<long> poisson(v);
      im.data[static_cast<std::size_t>(kesta::element(i, j, im.nx))] =
          static_cast<float>(poisson(rng));
    }
  return im;
}

// rod_layout_sweep: rods falling away from the specular rod (1, 0.7, 0.5,
// 0.35), a weak specular rod between stronger side rods (0.4, 1, 0.7, 0.5)
// and rods of equal height, 15 to 60 pixels apart, of section 1 and 2.5
// pixels, peaks of 20 to 2000 counts, 2 seeds, along lines of 12 to 400
// pixels with the specular rod 4 % to half-way along them, strips of
// half-width 3; and single spots ("spot_") of section 1.5 and 4 pixels on
// flat and sloping backgrounds, a fifth to four fifths along lines of 12 to
// 400 pixels. Right within 0.5 pixel of the specular rod or the spot.
// Equal rods ("equal_") hold several centres that mirror alike, where a
// centre found silently is right only by chance. "fit_problems" counts the
// fits that said the least-squares step failed ("_right": of the right
// centres). KESTA_SYMMETRY_SWEEP_LIST=file lists every fit: kind, spacing
// (spots: section), section (slope), peak, seed, length, fraction, warned,
// doubt, offset found, and "failed" after a fit said to have failed.
void rod_layout_sweep(benchmark::State& state) {
  // The terminal into a scratch file, to tell the fits that warned of
  // themselves.
  std::FILE* terminal = std::tmpfile();
  kesta::io_set_stream(kesta::kStreamTerminal, terminal);
  long said = 0;
  int problems = 0, problems_right = 0;
  const auto problem = [&](const Fit& f) -> bool {
    std::fflush(terminal);
    const long now = std::ftell(terminal);
    std::string text(static_cast<std::size_t>(now - said), '\0');
    std::fseek(terminal, said, SEEK_SET);
    const std::size_t got = std::fread(text.data(), 1, text.size(), terminal);
    text.resize(got);
    std::fseek(terminal, 0, SEEK_END);
    said = std::ftell(terminal);
    if (text.find("Problem fitting the symmetry centre") == std::string::npos) return false;
    ++problems;
    problems_right += f.found && std::abs(f.off) <= 0.5 ? 1 : 0;
    return true;
  };
  const char* list_name = std::getenv("KESTA_SYMMETRY_SWEEP_LIST");
  std::FILE* list = list_name != nullptr ? std::fopen(list_name, "w") : nullptr;
  Tally falling, weak, equal, spots;
  const std::array<std::array<double, 4>, 3> kinds{{{1.0, 0.7, 0.5, 0.35},
                                                    {0.4, 1.0, 0.7, 0.5},
                                                    {1.0, 1.0, 1.0, 1.0}}};
  const double lengths[] = {12.0, 30.0, 60.0, 100.0, 200.0, 400.0};
  for (auto _ : state) {
    for (std::size_t kind = 0; kind < kinds.size(); ++kind)
      for (const double spacing : {15.0, 25.0, 37.2, 60.0})
        for (const double sigma : {1.0, 2.5})
          for (const double peak : {20.0, 100.0, 500.0, 2000.0})
            for (unsigned seed = 1; seed <= 2; ++seed) {
              const double cx = 400.37 + 0.13 * seed;
              const Image im = rod_layout(cx, spacing, sigma, peak, kinds[kind], seed);
              for (const double length : lengths)
                for (const double at : {0.04, 0.12, 0.25, 0.4, 0.5}) {
                  const Fit f = fit(im, 0.0, -at * length + 0.21, (1.0 - at) * length + 0.21, 3.0);
                  Tally& t = kind == 0 ? falling : kind == 1 ? weak : equal;
                  const bool warned = t.add(f);
                  const bool failed = problem(f);
                  if (list != nullptr)
                    std::fprintf(list, "rods%zu %g %g %g %u %g %g %s %d %.3f%s\n", kind, spacing,
                                 sigma, peak, seed, length, at, warned ? "w" : "-",
                                 static_cast<int>(f.doubt), f.off, failed ? " failed" : "");
                }
            }
    for (const double sigma : {1.5, 4.0})
      for (const double slope : {0.0, 0.002, -0.004})
        for (const double peak : {20.0, 100.0, 500.0, 2000.0})
          for (unsigned seed = 1; seed <= 2; ++seed) {
            const double cx = 400.37 + 0.13 * seed;
            const Image im = spot_layout(cx, sigma, peak, slope, seed);
            for (const double length : lengths)
              for (const double at : {0.2, 0.35, 0.5, 0.65, 0.8}) {
                const Fit f = fit(im, 0.0, -at * length + 0.21, (1.0 - at) * length + 0.21, 3.0);
                const bool warned = spots.add(f);
                const bool failed = problem(f);
                if (list != nullptr)
                  std::fprintf(list, "spot %g %g %g %u %g %g %s %d %.3f%s\n", sigma, slope, peak,
                               seed, length, at, warned ? "w" : "-", static_cast<int>(f.doubt),
                               f.off, failed ? " failed" : "");
              }
          }
  }
  if (list != nullptr) std::fclose(list);
  kesta::io_set_stream(kesta::kStreamTerminal, nullptr);
  std::fclose(terminal);
  state.counters["fit_problems"] = problems;
  state.counters["fit_problems_right"] = problems_right;
  falling.report(state, "falling_");
  weak.report(state, "weak_");
  equal.report(state, "equal_");
  spots.report(state, "spot_");
}
BENCHMARK(rod_layout_sweep)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
