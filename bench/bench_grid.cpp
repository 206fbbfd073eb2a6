// FIND PEAKS over a sweep of calibration grids (grid_size_sweep, and
// grid_size_check on set-ups it was not shaped on): grids of
// 3.5 to 12 pixels, turned by 0 to 45 degrees, on pixels whose Y size is 1
// to 1.5 times their X size, searched with limits of 1 to 3 pixels, without
// noise and with counting noise on a background of 100 counts. Each search
// is the whole command as typed at the keyboard (three clicks on the exact
// hole centres, the settings, the grid spacing, the distortion's defaults);
// a result is right when every pixel size it reports (the averages and the
// RMS sizes kept) lies within 0.5 % of the truth, and warned when it says
// that its sizes disagree with the clicked spacing.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/distortion/grid_peaks.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"

namespace {

using kesta::Index;

struct GridSetUp {
  double spacing;  // pixels along the finer direction (Y)
  double degrees;  // rotation of the grid
  double aspect;   // Y pixel size over X pixel size
  int limit;       // MAXIMUM PEAK SEARCH DISTANCE
  bool noisy;
  unsigned seed;
  Index side = 256;     // of the square image
  double hole = 0.2;    // hole width (sigma) over the spacing, at least 0.8 pixel
  double off_x = 0.0, off_y = 0.0;  // the clicks' offsets from the holes (pixels)
  double background = 100.0;        // counts under the noise
};

// The truth of a set-up: X pixels of 100 microns, Y pixels ASPECT times
// that, the grid spacing in microns, the row and column steps and the hole
// widths in pixels, and the start hole.
struct GridTruth {
  double x_size = 100.0, y_size = 100.0, grid = 0.0;
  double rx = 0.0, ry = 0.0, cx = 0.0, cy = 0.0;
  double sigma_x = 0.0, sigma_y = 0.0;
  double x0 = 0.0, y0 = 0.0;
};

GridTruth truth_of(const GridSetUp& u) {
  GridTruth t;
  t.y_size = 100.0 * u.aspect;
  t.grid = u.spacing * t.y_size;
  const double a = u.degrees * M_PI / 180.0;
  t.rx = t.grid * std::cos(a) / t.x_size;
  t.ry = t.grid * std::sin(a) / t.y_size;
  t.cx = -t.grid * std::sin(a) / t.x_size;
  t.cy = t.grid * std::cos(a) / t.y_size;
  // Round holes, at least 0.8 pixel wide in Y.
  const double sigma = std::max(0.8, u.spacing * u.hole) * t.y_size;
  t.sigma_x = sigma / t.x_size;
  t.sigma_y = sigma / t.y_size;
  t.x0 = 0.5 * static_cast<double>(u.side) + 0.31 + 0.17 * std::fmod(u.degrees, 3.0);
  t.y0 = 0.5 * static_cast<double>(u.side) + 0.23 - 0.13 * u.aspect;
  return t;
}

// The grid's image: pixel-integrated Gaussian holes of peak 1000 over 10,
// or over the set-up's background with each pixel a Poisson draw.
std::vector<float> grid_image(const GridSetUp& u, const GridTruth& t) {
  const Index side = u.side;
  std::vector<double> v(static_cast<std::size_t>(side * side), u.noisy ? u.background : 10.0);
  const auto share = [](double lo, double hi, double centre, double sigma) {
    return 0.5 * (std::erf((hi - centre) / (M_SQRT2 * sigma)) -
                  std::erf((lo - centre) / (M_SQRT2 * sigma)));
  };
  const double height = 1000.0 * 2.0 * M_PI * t.sigma_x * t.sigma_y;
  const Index reach =
      static_cast<Index>(2.0 * static_cast<double>(side) / std::min(u.spacing, u.spacing * u.aspect)) + 2;
  for (Index j = -reach; j <= reach; ++j)
    for (Index i = -reach; i <= reach; ++i) {
      const double hx = t.x0 + static_cast<double>(i) * t.rx + static_cast<double>(j) * t.cx;
      const double hy = t.y0 + static_cast<double>(i) * t.ry + static_cast<double>(j) * t.cy;
      if (hx < -6.0 * t.sigma_x || hx > side + 6.0 * t.sigma_x || hy < -6.0 * t.sigma_y ||
          hy > side + 6.0 * t.sigma_y)
        continue;
      const Index x1 = std::max<Index>(1, static_cast<Index>(hx - 5.0 * t.sigma_x));
      const Index x2 = std::min<Index>(side, static_cast<Index>(hx + 5.0 * t.sigma_x) + 2);
      const Index y1 = std::max<Index>(1, static_cast<Index>(hy - 5.0 * t.sigma_y));
      const Index y2 = std::min<Index>(side, static_cast<Index>(hy + 5.0 * t.sigma_y) + 2);
      for (Index y = y1; y <= y2; ++y) {
        const double fy = share(static_cast<double>(y - 1), static_cast<double>(y), hy, t.sigma_y);
        for (Index x = x1; x <= x2; ++x)
          v[static_cast<std::size_t>((y - 1) * side + (x - 1))] +=
              height * fy *
              share(static_cast<double>(x - 1), static_cast<double>(x), hx, t.sigma_x);
      }
    }
  std::vector<float> data(v.size());
  std::mt19937 rng(u.seed);
  for (std::size_t k = 0; k < v.size(); ++k) {
    if (u.noisy) {
      std::poisson_distribution<int> draw(v[k]);
      data[k] = static_cast<float>(draw(rng));
    } else {
      data[k] = static_cast<float>(v[k]);
    }
  }
  return data;
}

struct GridOutcome {
  bool done = false;  // the grid was found and its sizes given
  bool warned = false;
  double worst = 0.0;  // the largest relative error of a reported size
  double errors[4] = {};  // of the average X and Y sizes, then the RMS ones
  std::string text;
};

// The value after TEXT's line starting with KEY, NaN when there is none.
double reported(const std::string& text, const std::string& key) {
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return std::nan("");
  return std::strtod(text.c_str() + at + key.size(), nullptr);
}

GridOutcome find_grid(const GridSetUp& u) {
  const Index side = u.side;
  const GridTruth t = truth_of(u);
  const std::vector<float> data = grid_image(u, t);
  std::vector<float> axis(static_cast<std::size_t>(side));
  for (Index i = 0; i < side; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  const auto text = [](double v) { return std::to_string(v); };
  std::vector<std::string> answers;
  for (const auto& [i, j] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}}) {
    answers.push_back("1");
    answers.push_back(text(t.x0 + i * t.rx + j * t.cx + u.off_x));
    answers.push_back(text(t.y0 + i * t.ry + j * t.cy + u.off_y));
  }
  const double sigma = std::sqrt(t.sigma_x * t.sigma_y);
  for (const std::string& a : {std::to_string(u.limit), std::string("0.3"), text(sigma),
                               std::string("9"), std::string("100000"), text(t.grid),
                               std::string("NO"), std::string(""), std::string(""),
                               std::string(""), std::string(""), std::string("")})
    answers.push_back(a);
  char* said = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&said, &length);
  kesta::io_set_stream(kesta::kStreamTerminal, out);
  GridOutcome r;
  {
    kesta::testing::ScriptedInput input(answers);
    kesta::GridPeaks peaks;
    float spacing = 2000.0f, x_size = 1.0e-4f, y_size = 1.0e-4f;
    int retstat = -1;
    kesta::Status status = kesta::kStatusGood;
    kesta::KZT_CALIBRATE2DGRID(false, side, side, 1, 1, side, side, data, axis, axis, "Grid",
                               "X", "Y", "Counts", 400, spacing, x_size, y_size, retstat, peaks,
                               status);
    r.done = status == kesta::kStatusGood && retstat == 0 && peaks.allocated();
    if (r.done) {
      r.errors[2] = x_size * 1.0e6 / t.x_size - 1.0;
      r.errors[3] = y_size * 1.0e6 / t.y_size - 1.0;
    }
  }
  kesta::io_set_stream(kesta::kStreamTerminal, nullptr);
  std::fclose(out);
  r.text.assign(said, length);
  std::free(said);
  if (r.done) {
    for (const bool x : {true, false}) {
      const double v = reported(r.text, std::string("INFO: Average pixel size in ") +
                                            (x ? "X" : "Y") + "-direction = ");
      r.errors[x ? 0 : 1] = std::isfinite(v) ? v / (x ? t.x_size : t.y_size) - 1.0 : 1.0;
    }
    for (const double e : r.errors) r.worst = std::max(r.worst, std::abs(e));
  }
  r.warned = r.text.find("WARNING: The grid's pixel sizes") != std::string::npos;
  return r;
}

// The outcomes of a sweep: right (every size within 0.5 %), right but
// warned, wrong and warned, wrong and silent, not found (no sizes given),
// and the largest error of a silent result. With KESTA_GRID_SWEEP_LIST set
// to a file name each search adds a line to it: spacing, rotation, aspect,
// limit, noise, outcome (r right, w warned, s silent wrong, - not found) and
// the relative errors of the average X and Y sizes and the RMS ones.
class Tally {
 public:
  Tally() {
    if (const char* name = std::getenv("KESTA_GRID_SWEEP_LIST")) list_ = std::fopen(name, "a");
  }
  ~Tally() {
    if (list_ != nullptr) std::fclose(list_);
  }
  Tally(const Tally&) = delete;
  Tally& operator=(const Tally&) = delete;
  void add(const GridSetUp& u, const GridOutcome& r) {
    char code = '-';
    if (!r.done) {
      ++none_;
    } else if (r.worst <= 0.005) {
      ++right_;
      right_warned_ += r.warned ? 1 : 0;
      code = 'r';
    } else if (r.warned) {
      ++wrong_warned_;
      code = 'w';
    } else {
      ++wrong_silent_;
      worst_ = std::max(worst_, r.worst);
      code = 's';
    }
    if (list_ != nullptr)
      std::fprintf(list_, "%5.1f %4.1f %4.2f %d %d %c %8.4f %8.4f %8.4f %8.4f\n", u.spacing,
                   u.degrees, u.aspect, u.limit, u.noisy ? 1 : 0, code, r.errors[0], r.errors[1],
                   r.errors[2], r.errors[3]);
  }
  void report(benchmark::State& state) const {
    state.counters["right"] = right_;
    state.counters["right_warned"] = right_warned_;
    state.counters["wrong_warned"] = wrong_warned_;
    state.counters["wrong_silent"] = wrong_silent_;
    state.counters["not_found"] = none_;
    state.counters["worst_silent"] = worst_;
  }

 private:
  std::FILE* list_ = nullptr;
  double right_ = 0, right_warned_ = 0, wrong_warned_ = 0, wrong_silent_ = 0, none_ = 0;
  double worst_ = 0;
};

// Argument: the grid spacing (index in kSpacings). Rotations 0, 15, 30, 40
// and 45 degrees, aspects 1, 1.2 and 1.5, search limits 1, 2 and 3, without
// and with noise: 90 searches on 256 x 256 images, holes a fifth of the
// spacing wide, clicks on the holes' centres.
constexpr double kSpacings[] = {3.5, 4.5, 7.0, 12.0};

void grid_size_sweep(benchmark::State& state) {
  const double spacing = kSpacings[state.range(0)];
  Tally tally;
  unsigned seed = 1000u + static_cast<unsigned>(state.range(0));
  for (auto _ : state)
    for (const double degrees : {0.0, 15.0, 30.0, 40.0, 45.0})
      for (const double aspect : {1.0, 1.2, 1.5})
        for (const int limit : {1, 2, 3})
          for (const bool noisy : {false, true}) {
            const GridSetUp u{spacing, degrees, aspect, limit, noisy, ++seed};
            tally.add(u, find_grid(u));
          }
  tally.report(state);
}

BENCHMARK(grid_size_sweep)
    ->DenseRange(0, static_cast<int>(std::size(kSpacings)) - 1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// Set-ups the search was not shaped on (grid_size_check), argument the
// grid spacing (index in kCheckSpacings): 384 x 384 images, rotations 5, 22
// and 37 degrees, aspects 1.1 and 1.35, limits 1, 2, 4 and 6, holes a
// quarter or a seventh of the spacing wide, clicks 0.3 and 0.4 pixel off
// the holes' centres, noise on backgrounds of 100 and of 20 counts: 48
// searches each.
constexpr double kCheckSpacings[] = {3.8, 5.2, 9.0, 15.0};

void grid_size_check(benchmark::State& state) {
  const double spacing = kCheckSpacings[state.range(0)];
  Tally tally;
  unsigned seed = 2000u + static_cast<unsigned>(state.range(0));
  for (auto _ : state)
    for (const double degrees : {5.0, 22.0, 37.0})
      for (const double aspect : {1.1, 1.35})
        for (const int limit : {1, 2, 4, 6})
          for (const double hole : {0.25, 1.0 / 7.0}) {
            GridSetUp u{spacing, degrees, aspect, limit, true, ++seed};
            u.side = 384;
            u.hole = hole;
            u.off_x = 0.3;
            u.off_y = -0.4;
            u.background = limit % 4 == 2 ? 20.0 : 100.0;
            tally.add(u, find_grid(u));
          }
  tally.report(state);
}

BENCHMARK(grid_size_check)
    ->DenseRange(0, static_cast<int>(std::size(kCheckSpacings)) - 1)
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
