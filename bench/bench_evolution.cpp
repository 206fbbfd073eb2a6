// The evolving multiple 1-D fit on rows of drifting, vanishing, crossing and
// jumping peaks: what each run costs and how many of the rows whose peaks are
// clear and apart it ends right, each peak judged by its own feature, so
// that features of one kind that changed places as they crossed count as
// swapped (the score of app/fitting's evolving rows).
// Arguments: the scene, the noise in tenths and which start row (a good row,
// one inside an empty stretch, the last row; rows about the crossing of the
// two scenes of a crossing alone).

#include <benchmark/benchmark.h>

#include <stdio.h>

#include <chrono>
#include <cstdlib>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "app/fitting/evolving_rows_test_support.hpp"
#include "bench/bench_files.hpp"
#include "core/io_output.hpp"

namespace kesta {
namespace {

using testing::EvolvingRows;
using testing::RowPeak;

RowPeak peak(int type, std::function<double(double)> pos, std::function<double(double)> height,
             double sd, double hwhm, std::function<bool(double)> present) {
  RowPeak p{type, std::move(pos), std::move(height)};
  p.sd = [sd](double) { return sd; };
  p.hwhm = [hwhm](double) { return hwhm; };
  p.present = std::move(present);
  return p;
}

// The rows of the issue: a Gaussian drifting 25 channels, away on rows
// 130-150; a Lorentzian swinging 8 channels and jumping 7 at row 240; a Voigt
// creeping; all away on rows 200-210; rows 100-102 of no numbers.
EvolvingRows drifting() {
  EvolvingRows r;
  r.nx = 300;
  r.ny = 320;
  const auto gap = [](double y) { return y < 200 || y > 210; };
  RowPeak g = peak(kOneDGaussian, [](double y) { return 70.0 + 25.5 * (y - 1) / 319; },
                   [](double y) { return 90.0 - 30.0 * (y - 1) / 319; }, 3.0, 0.0,
                   [gap](double y) { return gap(y) && (y < 130 || y > 150); });
  g.sd = [](double y) { return 3.0 + 0.6 * (y - 1) / 319; };
  r.peaks = {g,
             peak(kOneDLorentzian,
                  [](double y) { return 170.0 + 8.0 * std::sin(y / 25) + (y >= 240 ? 7.0 : 0.0); },
                  [](double) { return 55.0; }, 0.0, 4.5, gap),
             peak(kOneDVoigt, [](double y) { return 240.0 - 0.03 * y; },
                  [](double) { return 40.0; }, 2.5, 2.0, gap)};
  r.nan_row = [](Index y) { return y >= 100 && y <= 102; };
  return r;
}

// Two Gaussians crossing each other, a Lorentzian jumping 6 and 8 channels, a
// Voigt; all away on rows 120-130; a falling level.
EvolvingRows crossing() {
  EvolvingRows r;
  r.nx = 260;
  r.ny = 250;
  r.level = 30.0;
  r.slope = -0.05;
  const auto gap = [](double y) { return y < 120 || y > 130; };
  r.peaks = {
      peak(kOneDGaussian, [](double y) { return 60.0 + 80.0 * (y - 1) / 249; },
           [](double) { return 80.0; }, 2.5, 0.0, gap),
      peak(kOneDGaussian, [](double y) { return 140.0 - 80.0 * (y - 1) / 249; },
           [](double y) { return 50.0 + 10.0 * std::sin(y / 30); }, 4.0, 0.0, gap),
      peak(kOneDLorentzian,
           [](double y) { return 190.0 + (y >= 100 ? 6.0 : 0.0) + (y >= 180 ? 8.0 : 0.0) - 0.05 * y; },
           [](double y) { return 60.0 - 0.1 * y; }, 0.0, 3.5, gap),
      peak(kOneDVoigt, [](double y) { return 30.0 + 0.02 * y; }, [](double) { return 45.0; }, 2.0,
           1.5, gap)};
  return r;
}

// A Gaussian and a Lorentzian, the Lorentzian away on rows 170-178.
EvolvingRows pair() {
  EvolvingRows r;
  r.level = 10.0;
  r.slope = 0.02;
  r.nx = 200;
  r.ny = 200;
  r.peaks = {peak(kOneDGaussian, [](double y) { return 50.0 + 0.15 * y; },
                  [](double) { return 70.0; }, 3.0, 0.0, [](double) { return true; }),
             peak(kOneDLorentzian, [](double y) { return 120.0 + 10.0 * std::sin(y / 40); },
                  [](double) { return 40.0; }, 0.0, 4.0,
                  [](double y) { return y < 170 || y > 178; })};
  return r;
}

// 512 channels by 400 rows: a Gaussian swinging 15 channels and away on rows
// 150-175, a broad Gaussian away on 160-185, a Lorentzian fading to 5 counts
// about row 250 and back (away on 150-160, jumping 5 channels at row 300), a
// Voigt drifting 40 channels; two rows of no numbers.
EvolvingRows wide() {
  EvolvingRows r;
  r.nx = 512;
  r.ny = 400;
  r.level = 50.0;
  r.slope = -0.04;
  RowPeak g = peak(kOneDGaussian, [](double y) { return 100.0 + 15.0 * std::sin(y / 80); },
                   [](double y) { return 40.0 + 0.1 * y; }, 2.0, 0.0,
                   [](double y) { return y < 150 || y > 175; });
  g.sd = [](double y) { return 2.0 + y / 400; };
  r.peaks = {g,
             peak(kOneDGaussian, [](double y) { return 200.0 - 0.1 * y; },
                  [](double) { return 30.0; }, 5.0, 0.0,
                  [](double y) { return y < 160 || y > 185; }),
             peak(kOneDLorentzian, [](double y) { return 330.0 + 0.05 * y + (y >= 300 ? 5.0 : 0.0); },
                  [](double y) { return 25.0 + 20.0 * std::cos(y / 80); }, 0.0, 3.0,
                  [](double y) { return y < 150 || y > 160; }),
             peak(kOneDVoigt, [](double y) { return 420.0 - 40.0 * (y - 1) / 399; },
                  [](double) { return 35.0; }, 1.5, 2.5, [](double) { return true; })};
  r.nan_row = [](Index y) { return y == 50 || y == 250; };
  return r;
}

// A Lorentzian away while it drifts on, in a region with masked channels.
EvolvingRows away() { return testing::away_while_drifting(1.0); }

// Two Gaussians crossing at row 101 of 256 x 200, with nothing else to fit:
// unlike (120 high and SD 3 against 60 and SD 6) or nearly alike (100 and
// SD 3 against 90 and SD 3.3).
EvolvingRows two_crossing(double height_1, double sd_1, double height_2, double sd_2) {
  EvolvingRows r;
  r.nx = 256;
  r.ny = 200;
  const auto always = [](double) { return true; };
  r.peaks = {peak(kOneDGaussian, [](double y) { return 60.0 + 0.7 * (y - 1); },
                  [height_1](double) { return height_1; }, sd_1, 0.0, always),
             peak(kOneDGaussian, [](double y) { return 200.0 - 0.7 * (y - 1); },
                  [height_2](double) { return height_2; }, sd_2, 0.0, always)};
  return r;
}
EvolvingRows crossing_unlike() { return two_crossing(120.0, 3.0, 60.0, 6.0); }
EvolvingRows crossing_alike() { return two_crossing(100.0, 3.0, 90.0, 3.3); }

struct Scene {
  EvolvingRows (*make)();
  // A good row, one in an empty stretch, the last; for the two crossings
  // alone, rows a few before their crossing (where too few rows hold them
  // apart to draw their drift) and one a few after it.
  Index starts[3];
};
const Scene kScenes[] = {{drifting, {60, 205, 320}},     {crossing, {40, 125, 250}},
                         {pair, {80, 174, 200}},         {wide, {20, 170, 400}},
                         {away, {40, 120, 235}},         {crossing_unlike, {92, 96, 108}},
                         {crossing_alike, {92, 96, 108}}};

// How often WHAT appears in TEXT.
int occurrences(std::string_view text, std::string_view what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The fits of a run of ROWS rows from its lines: one a row, and one more for
// each further start a row's line names (only the fit that stands is told,
// and a fit that ran out of calls and went on counts once).
double fits_of(const std::string& said, Index rows) {
  double fits = static_cast<double>(rows);
  static constexpr std::string_view kAgain = " is fitted from ";
  for (std::size_t at = said.find(kAgain); at != std::string::npos;
       at = said.find(kAgain, at + 1)) {
    const std::size_t end = said.find(';', at);
    fits += occurrences(std::string_view(said).substr(at, end - at), " from ") - 1;
  }
  return fits;
}

void BM_OlmiEvolution(benchmark::State& state) {
  const Scene& scene = kScenes[state.range(0)];
  EvolvingRows rows = scene.make();
  rows.sigma = static_cast<double>(state.range(1)) / 10.0;
  rows.seed = 7 + static_cast<unsigned long long>(rows.sigma);
  const Index start = scene.starts[state.range(2)];
  const std::vector<float> data = rows.data();
  testing::EvolutionScore score;
  std::string said;
  double seconds = 0.0;
  for (auto _ : state) {
    // The run's lines are kept, to count its fits.
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* lines = open_memstream(&text, &length);
    io_set_stream(kStreamTerminal, lines);
    Status status = kStatusGood;
    const auto began = std::chrono::steady_clock::now();
    score = testing::evolve_and_score(rows, data, start, OlmiControls{}, status);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    io_set_stream(kStreamTerminal, nullptr);
    std::fclose(lines);
    said.assign(text, length);
    free(text);
    if (status != kStatusGood) state.SkipWithError("the run failed");
  }
  const Index fitted = (rows.y1 > 0 ? rows.y1 : rows.ny) - rows.y0 + 1;
  const double fits = fits_of(said, fitted);
  state.counters["counted"] = score.counted;
  state.counters["right"] = score.right;
  state.counters["far"] = score.far;
  state.counters["failed"] = score.failed;
  state.counters["invalid"] = score.invalid;
  state.counters["doubtful"] = score.doubtful;
  state.counters["silent_far"] = score.silent;
  state.counters["swapped"] = score.swapped;
  state.counters["silent_swapped"] = score.silent_swapped;
  state.counters["named_right"] = score.named_right;
  state.counters["unnamed_empty"] = score.unnamed;
  state.counters["fits_per_row"] = fits / static_cast<double>(fitted);
  state.counters["ms_per_row"] = 1000.0 * seconds / static_cast<double>(fitted);
}
BENCHMARK(BM_OlmiEvolution)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {10, 20, 50}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace kesta
