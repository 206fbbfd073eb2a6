// The multiple 1-D fit: drifting peaks over rows with the model evolving or
// not, the Voigt results, and the vectors the rows are stored in.

#include "app/fitting/olmi.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/fitting/evolving_rows_test_support.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/fitting_test_support.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr Index kX = 100;
constexpr Index kY = 30;

// A Gaussian (feature 1) on a constant (feature 2).
FitModel gaussian_on_level(float pos, float max, float sd, float level) {
  FitModel m;
  m.num_features = 2;
  m.num_parameters = 4;
  m.params = {pos, max, sd, 2.0f * level};
  m.codes = {20010201, 20201, 10030201, 60010502};
  m.scales = {1.0f, 5.0f, 0.5f, 1.0f};
  m.names = {"GAU 1 POS ", "GAU 1 MAX ", "GAU 1  SD ", "POL    0  "};
  m.x_order = 0;
  m.x_min_poly = 0.0f;
  m.x_max_poly = 100.0f;
  return m;
}

struct Rows {
  std::vector<float> data = std::vector<float>(kX * kY);
  std::vector<float> axis = testing::centre_axis(kX);
  std::vector<float> store = std::vector<float>(kMaxVecValues * kMaxVectors, 0.0f);
  KztVectors vectors;
  Rows() {
    for (Index y = 1; y <= kY; ++y) {
      std::span<float> row(data.data() + (y - 1) * kX, kX);
      Status status = kStatusGood;
      kzt_olmi_row_model(gaussian_on_level(20.0f + 1.5f * y, 100.0f, 2.0f, 10.0f), kX, 1, kX, row,
                         status);
    }
    vectors.vectors = store.data();
    vectors.str_vectors.fill(kMaxVecValues + 1);
    vectors.end_vectors.fill(0);
  }
  float value(int vector, Index row) const {
    return store[static_cast<std::size_t>((vector - 1) * kMaxVecValues + row - 1)];
  }
};

// 256 channels by 260 rows: a Gaussian, a Lorentzian and a Voigt (SD 1.45,
// HWHM 2.14), drifting slowly on a sloped level, noise 2.
testing::EvolvingRows three_peaks_with_a_voigt() {
  testing::EvolvingRows r;
  r.nx = 256;
  r.ny = 260;
  r.level = 20.0;
  r.slope = 0.02;
  r.seed = 3;
  testing::RowPeak g{kOneDGaussian, [](double y) { return 50.0 + 0.05 * y; },
                     [](double) { return 60.0; }};
  g.sd = [](double) { return 2.5; };
  testing::RowPeak l{kOneDLorentzian, [](double y) { return 120.0 - 0.03 * y; },
                     [](double) { return 45.0; }};
  l.hwhm = [](double) { return 3.0; };
  testing::RowPeak v{kOneDVoigt, [](double y) { return 190.0 + 0.04 * y; },
                     [](double) { return 40.0; }};
  v.sd = [](double) { return 1.45; };
  v.hwhm = [](double) { return 2.14; };
  r.peaks = {g, l, v};
  return r;
}

TEST(Olmi, DriftingPeakIsFollowedOnlyWhenTheModelEvolves) {
  OlmiControls controls;
  controls.iterations = 30.0f;
  const FitModel start = gaussian_on_level(20.0f + 1.5f * 15, 80.0f, 2.5f, 8.0f);
  Rows evolving;
  Status status = kStatusGood;
  std::string quiet_text;
  {
    testing::TerminalCapture quiet;
    KZT_OLMIOPTIMISE(kX, kY, evolving.data, {}, {}, evolving.axis, 1, 1, kX, kY, 15, "Scan",
                     controls, start, evolving.vectors, nullptr, status);
    quiet_text = quiet.text();
  }
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(quiet_text.find("is not valid"), std::string::npos) << quiet_text;
  for (Index y : {1, 10, 15, 16, 30}) {
    EXPECT_NEAR(evolving.value(1, y), 20.0f + 1.5f * y, 0.01f) << y;
    EXPECT_NEAR(evolving.value(2, y), 100.0f, 0.1f) << y;
    // The result INT = MAX SD sqrt(2 pi).
    EXPECT_NEAR(evolving.value(5, y), evolving.value(2, y) * evolving.value(3, y) * 2.506628f,
                0.01f);
  }
  EXPECT_EQ(evolving.vectors.num_vectors, 5);
  EXPECT_EQ(evolving.vectors.titles[4], "GAU 1 INT ");
  EXPECT_EQ(evolving.vectors.str_vectors[0], 1);
  EXPECT_EQ(evolving.vectors.end_vectors[0], kY);
  // The constant is reported halved (the first coefficient's unit class).
  EXPECT_NEAR(evolving.value(4, 7), 10.0f, 0.01f);

  // Without evolution the far rows start from the start row's model, whose
  // peak lies beyond reach of theirs: the fit cannot follow them.
  controls.evolve = false;
  Rows fixed;
  {
    testing::TerminalCapture quiet;
    KZT_OLMIOPTIMISE(kX, kY, fixed.data, {}, {}, fixed.axis, 1, 1, kX, kY, 15, "Scan", controls,
                     start, fixed.vectors, nullptr, status);
  }
  EXPECT_NEAR(fixed.value(1, 16), 44.0f, 0.01f);
  EXPECT_GT(std::fabs(fixed.value(1, 1) - 21.5f), 5.0f);
  EXPECT_GT(std::fabs(fixed.value(1, 30) - 65.0f), 5.0f);
}

TEST(Olmi, EvolvingRowsStartFromTheLastValidRowNotFromOneWithoutThePeak) {
  // A peak (height 100, SD 2 on a level of 10) drifting 0.3 channel a row,
  // absent from rows 12 to 16, where the level has a shallow dip instead.
  // The run starts on row 14, whose fit ends on a height below 0: no valid
  // model, from which no later row could find the peak again.
  Rows r;
  const auto centre = [](Index y) { return 30.0f + 0.3f * static_cast<float>(y); };
  for (Index y = 1; y <= kY; ++y) {
    const bool peak = y < 12 || y > 16;
    for (Index x = 1; x <= kX; ++x) {
      const double d = (static_cast<double>(x) - 0.5 - centre(y)) / 2.0;
      r.data[static_cast<std::size_t>((y - 1) * kX + x - 1)] =
          static_cast<float>(10.0 + (peak ? 100.0 : -5.0) * std::exp(-0.5 * d * d));
    }
  }
  OlmiControls controls;
  controls.iterations = 30.0f;
  controls.evolve = true;
  OlmiOutput output;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_OLMIOPTIMISE(kX, kY, r.data, {}, {}, r.axis, 1, 1, kX, kY, 14, "Scan", controls,
                   gaussian_on_level(centre(14), 80.0f, 2.5f, 8.0f), r.vectors, nullptr, &output,
                   status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_FALSE(output.invalid_rows.empty());
  // Every row that holds the peak fits it, on both sides of the stretch.
  for (Index y = 1; y <= kY; ++y) {
    if (y >= 12 && y <= 16) continue;
    EXPECT_NEAR(r.value(1, y), centre(y), 0.01f) << "row " << y;
    EXPECT_NEAR(r.value(2, y), 100.0f, 0.1f) << "row " << y;
  }
  for (const std::vector<Index>* bad : {&output.failed_rows, &output.invalid_rows})
    for (Index y : *bad) EXPECT_TRUE(y >= 12 && y <= 16) << "row " << y;
}

TEST(Olmi, EvolutionCarriesOnThroughAStretchOfPureNoise) {
  // 60 rows of 200 channels: a Gaussian (height 60 rising to 100, SD 3,
  // drifting 0.1 channel a row) and a Lorentzian (height 50, HWHM 4) on a
  // sloped level, with noise; rows 20 to 35 hold no Gaussian. Those rows fit
  // a small valid peak in the noise, which seeds the next row, and from
  // such a seed the Gaussian, back again, runs away. Started before the
  // stretch and inside it, with three noises, every row holding both peaks
  // ends valid on them.
  constexpr Index kWide = 200, kRows = 60;
  const auto centre = [](Index y) { return 60.0f + 0.1f * static_cast<float>(y - 1); };
  const auto height = [](Index y) {
    return 60.0f + 40.0f * static_cast<float>(y - 1) / (kRows - 1);
  };
  const auto noise_only = [](Index y) { return y >= 20 && y <= 35; };
  const std::vector<float> axis = testing::centre_axis(kWide);
  for (const std::uint64_t seed : {1u, 2u, 3u}) {
    std::vector<float> data(static_cast<std::size_t>(kWide * kRows));
    testing::Noise noise(seed, 1.5);
    for (Index y = 1; y <= kRows; ++y)
      for (Index x = 1; x <= kWide; ++x) {
        const double c = static_cast<double>(x) - 0.5;
        const double g = (c - centre(y)) / 3.0, l = (c - 140.0 + 0.06 * (y - 1)) / 4.0;
        data[static_cast<std::size_t>((y - 1) * kWide + x - 1)] =
            static_cast<float>(20.0 + 0.05 * c + 50.0 / (1.0 + l * l) +
                               (noise_only(y) ? 0.0 : height(y) * std::exp(-0.5 * g * g))) +
            noise.next();
      }
    for (const Index start_row : {Index{10}, Index{27}}) {
      // The start model as clicked: near the peaks, not on them.
      FitModel start = gaussian_on_level(centre(start_row) + 0.7f, 70.0f, 3.6f, 26.0f);
      start.num_features = 3;
      start.num_parameters = 8;
      start.params = {centre(start_row) + 0.7f, 70.0f, 3.6f, 140.5f - 0.06f * (start_row - 1),
                      45.0f, 4.8f, 52.0f, 4.0f};
      start.codes = {20010201, 20201, 10030201, 20010302, 20302, 10030302, 60010503, 20503};
      start.scales = {1.0f, 8.0f, 0.5f, 1.0f, 7.0f, 0.5f, 1.0f, 0.1f};
      start.x_order = 1;
      start.x_max_poly = 200.0f;
      std::vector<float> store(kMaxVecValues * kMaxVectors, 0.0f);
      KztVectors vectors;
      vectors.vectors = store.data();
      OlmiControls controls;
      controls.evolve = true;
      OlmiOutput output;
      Status status = kStatusGood;
      {
        testing::TerminalCapture quiet;
        KZT_OLMIOPTIMISE(kWide, kRows, data, {}, {}, axis, 1, 1, kWide, kRows, start_row, "Scan",
                         controls, start, vectors, nullptr, &output, status);
      }
      ASSERT_EQ(status, kStatusGood);
      const auto value = [&](int vector, Index y) {
        return store[static_cast<std::size_t>((vector - 1) * kMaxVecValues + y - 1)];
      };
      for (const std::vector<Index>* bad : {&output.failed_rows, &output.invalid_rows})
        for (Index y : *bad)
          EXPECT_TRUE(noise_only(y)) << "row " << y << ", noise " << seed << ", from " << start_row;
      for (Index y = 1; y <= kRows; ++y) {
        if (noise_only(y)) continue;
        EXPECT_NEAR(value(1, y), centre(y), 0.2f) << y << " " << seed << " " << start_row;
        EXPECT_NEAR(value(2, y), height(y), 4.0f) << y << " " << seed << " " << start_row;
        EXPECT_NEAR(value(4, y), 140.0f - 0.06f * (y - 1), 0.3f) << y;
      }
    }
  }
}

TEST(Olmi, EvolvingFitFromAnEmptyRowAndAfterADriftedGap) {
  // A Gaussian drifting 25 channels and away on rows 65-75, a Lorentzian
  // swinging and jumping 7 channels, a Voigt creeping; all three away on
  // rows 100-105, rows 50-51 of no numbers. Rows of noise fit a valid
  // spike, a valid peak where the data have none: such a row seeds the next
  // no more than a fit that went wrong, and the rows after a gap, whose
  // peaks have left the start model, are fitted from the last row held well.
  testing::EvolvingRows rows;
  rows.nx = 300;
  rows.ny = 160;
  const auto gap = [](double y) { return y < 100 || y > 105; };
  testing::RowPeak g{kOneDGaussian, [](double y) { return 70.0 + 25.5 * (y - 1) / 159; },
                     [](double y) { return 90.0 - 30.0 * (y - 1) / 159; }};
  g.sd = [](double y) { return 3.0 + 0.6 * (y - 1) / 159; };
  g.present = [gap](double y) { return gap(y) && (y < 65 || y > 75); };
  testing::RowPeak l{
      kOneDLorentzian,
      [](double y) { return 170.0 + 8.0 * std::sin(y / 12) + (y >= 120 ? 7.0 : 0.0); },
      [](double) { return 55.0; }};
  l.hwhm = [](double) { return 4.5; };
  l.present = gap;
  testing::RowPeak v{kOneDVoigt, [](double y) { return 240.0 - 0.06 * y; },
                     [](double) { return 40.0; }};
  v.sd = [](double) { return 2.5; };
  v.hwhm = [](double) { return 2.0; };
  v.present = gap;
  rows.peaks = {g, l, v};
  rows.nan_row = [](Index y) { return y == 50 || y == 51; };
  const std::vector<float> data = rows.data();
  testing::TerminalCapture quiet;
  // From a row inside the gap (its peaks clicked where they would be) and
  // from a good row.
  for (const Index start : {102, 30}) {
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(rows, data, start, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_GT(score.counted, 130) << start;
    EXPECT_EQ(score.right, score.counted) << start << ": " << ::testing::PrintToString(score.wrong);
    EXPECT_EQ(score.far, 0) << start;
    // The rows whose data miss a peak of the model are named.
    EXPECT_EQ(score.unnamed, 0) << start << ": " << ::testing::PrintToString(score.unnamed_rows);
  }
}

TEST(Olmi, EvolvingFitFindsAPeakThatDriftedWhileAway) {
  // A Lorentzian away on rows 100-130 while it drifts 12 channels on, a
  // narrow Gaussian drifting, a Voigt jumping 3 channels; the region starts
  // at channel 21 and row 11, six channels are masked. Fitted down from row
  // 190 the Lorentzian comes back at row 99 where neither the last row that
  // held it (131) nor the start model has it; its drift before the gap says
  // where. On the way a row of noise fits it beside the Voigt now and then.
  testing::EvolvingRows rows = testing::away_while_drifting(3.0);
  rows.seed = 129;
  const std::vector<float> data = rows.data();
  testing::TerminalCapture quiet;
  Status status = kStatusGood;
  const testing::EvolutionScore score =
      testing::evolve_and_score(rows, data, 190, OlmiControls{}, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(score.counted, 194);
  EXPECT_EQ(score.right, score.counted) << ::testing::PrintToString(score.wrong);
  EXPECT_EQ(score.silent, 0) << ::testing::PrintToString(score.silent_rows);
  EXPECT_EQ(score.unnamed, 0) << ::testing::PrintToString(score.unnamed_rows);
}

// Every row the fit named, for whatever reason.
std::vector<Index> every_named_row(const OlmiOutput& output) {
  std::vector<Index> named = output.doubtful_rows;
  named.insert(named.end(), output.invalid_rows.begin(), output.invalid_rows.end());
  named.insert(named.end(), output.failed_rows.begin(), output.failed_rows.end());
  return named;
}

// The multiple 1-D fit of rows FIRST..LAST of ROWS (DATA, AXIS) from the
// model clicked on row START: its vectors, model image, output and status.
struct RowsFit {
  std::vector<float> store = std::vector<float>(static_cast<std::size_t>(kMaxVecValues * kMaxVectors));
  std::vector<float> model;
  OlmiOutput output;
  Status status = kStatusGood;

  RowsFit(const testing::EvolvingRows& rows, const std::vector<float>& data,
          const std::vector<float>& axis, bool evolve, Index start, Index first, Index last,
          const std::string& title = "")
      : model(data.size(), 0.0f) {
    KztVectors vectors;
    vectors.vectors = store.data();
    output.model = model;
    OlmiControls controls;
    controls.evolve = evolve;
    KZT_OLMIOPTIMISE(rows.nx, rows.ny, data, {}, {}, axis, 1, first, rows.nx, last, start, title,
                     controls, rows.start_model(start), vectors, nullptr, &output, status);
  }
};

TEST(Olmi, RowsHoldingAPeakTheDataLackAreNamedAsDoubtful) {
  // Rows 9-14 lack the Lorentzian: their fits, valid, hold it as a spike of
  // the noise, a trace lower than the noise, or a hump as wide as the row.
  // With or without evolution such rows are named, and only they.
  testing::EvolvingRows rows;
  rows.nx = 120;
  rows.ny = 20;
  testing::RowPeak g{kOneDGaussian, [](double) { return 40.0; }, [](double) { return 60.0; }};
  g.sd = [](double) { return 2.5; };
  testing::RowPeak l{kOneDLorentzian, [](double) { return 80.0; }, [](double) { return 40.0; }};
  l.hwhm = [](double) { return 3.0; };
  l.present = [](double y) { return y < 9 || y > 14; };
  rows.peaks = {g, l};
  const std::vector<float> data = rows.data();
  const std::vector<float> axis = testing::centre_axis(rows.nx);
  for (const bool evolve : {false, true}) {
    testing::TerminalCapture terminal;
    const RowsFit fit(rows, data, axis, evolve, 3, 1, rows.ny, "Scan");
    ASSERT_EQ(fit.status, kStatusGood);
    const OlmiOutput& output = fit.output;
    std::vector<Index> named = every_named_row(output);
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named, (std::vector<Index>{9, 10, 11, 12, 13, 14})) << evolve;
    ASSERT_FALSE(output.doubtful_rows.empty()) << evolve;
    const std::vector<std::string> lines = kzt_olmi_doubtful_text(output.doubts, rows.ny);
    EXPECT_NE(terminal.text().find(lines[1]), std::string::npos) << evolve;
    EXPECT_NE(std::find(output.text.begin(), output.text.end(), lines.back()), output.text.end());
  }
  // Each row is named under the rule that fired, once in the count.
  std::array<std::vector<Index>, kOlmiDoubts> doubts;
  doubts[2] = {3, 4, 5, 9};
  doubts[5] = {9, 12};
  EXPECT_EQ(kzt_olmi_doubtful_text(doubts, 20),
            (std::vector<std::string>{"", "WARNING: 5 of 20 rows hold a feature badly:",
                                      "- a feature lower than three times the typical",
                                      "  mis-fit: rows", "3-5, 9",
                                      "- two peaks closer than the wider one's half",
                                      "  width (their shares are in doubt): rows", "9, 12"}));
}

TEST(Olmi, RowsAreNamedOnlyForWhatIsWrongWithThem) {
  // One channel of row 15 holds 800 counts more, away from the peaks: its
  // fit holds every peak as well as the rows beside it, but the outlier lifts
  // the rms mis-fit above a third of the peaks' heights, and the row was
  // named as holding a feature that may not be there. The low-peak rule
  // judges a peak against a mis-fit one channel does not lift.
  testing::EvolvingRows rows = three_peaks_with_a_voigt();
  rows.ny = 30;
  rows.seed = 5;
  std::vector<float> data = rows.data();
  data[static_cast<std::size_t>(14 * rows.nx + 150)] += 800.0f;
  const std::vector<float> axis = testing::centre_axis(rows.nx);
  testing::TerminalCapture terminal;
  for (const bool evolve : {true, false}) {
    const RowsFit fit(rows, data, axis, evolve, 10, 1, rows.ny);
    ASSERT_EQ(fit.status, kStatusGood);
    const OlmiOutput& output = fit.output;
    const std::vector<float>& store = fit.store;
    EXPECT_TRUE(output.doubtful_rows.empty()) << ::testing::PrintToString(output.doubtful_rows);
    EXPECT_TRUE(output.invalid_rows.empty() && output.failed_rows.empty());
    // Its peaks where the truth has them.
    EXPECT_NEAR(store[static_cast<std::size_t>(14)], rows.peaks[0].pos(15), 0.2);
    EXPECT_NEAR(store[static_cast<std::size_t>(3 * kMaxVecValues + 14)], rows.peaks[1].pos(15), 0.2);
    EXPECT_NEAR(store[static_cast<std::size_t>(6 * kMaxVecValues + 14)], rows.peaks[2].pos(15), 0.2);
  }
  // Two Gaussians (80 and 60 high, SD 1.5) 4 channels apart all the way,
  // further than their half widths together, clicked 4.6 apart: against
  // the clicks' gap they seemed to draw together, and every row from the
  // start on was named as two peaks crossing until their drift was known
  // (their widths clicked wide, as half heights are clicked roughly).
  testing::EvolvingRows parallel;
  parallel.nx = 256;
  parallel.ny = 150;
  parallel.y0 = 120;
  parallel.level = 20.0;
  parallel.slope = 0.02;
  parallel.seed = 9;
  const auto drifting = [](double at, double height) {
    testing::RowPeak p{kOneDGaussian, [at](double y) { return at + 0.05 * y; },
                       [height](double) { return height; }};
    p.sd = [](double) { return 1.5; };
    return p;
  };
  parallel.peaks = {drifting(40.0, 60.0), drifting(110.0, 80.0), drifting(114.0, 60.0)};
  parallel.click_offsets = {0.3, -0.3, 0.3};
  parallel.click_width = 1.15;
  Status status = kStatusGood;
  const testing::EvolutionScore score =
      testing::evolve_and_score(parallel, parallel.data(), 130, OlmiControls{}, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(score.right, score.counted);
  EXPECT_EQ(score.doubtful, 0);
}

TEST(Olmi, RowsWhosePeakHasLeftThroughTheEndAreNamed) {
  // A Voigt (50 high, SD 1.5, HWHM 1) drifting out through the first
  // channel, beside a Gaussian, noise 1: once it had gone, the fit held
  // its tail as a peak just inside the end, valid, clear of the noise and
  // more than 3 channels off, unnamed. A top nearer the end than twice the
  // standard error of its position is named; a peak a few channels in is
  // not.
  testing::EvolvingRows rows;
  rows.nx = 150;
  rows.ny = 160;
  rows.sigma = 1.0;
  testing::RowPeak voigt{kOneDVoigt, [](double y) { return 50.0 - 0.4 * y; },
                         [](double) { return 50.0; }};
  voigt.sd = [](double) { return 1.5; };
  voigt.hwhm = [](double) { return 1.0; };
  testing::RowPeak gaussian{kOneDGaussian, [](double) { return 100.0; },
                            [](double) { return 40.0; }};
  gaussian.sd = [](double) { return 2.5; };
  rows.peaks = {voigt, gaussian};
  testing::TerminalCapture quiet;
  for (const unsigned long long seed : {1ull, 2ull}) {
    rows.seed = seed;
    const std::vector<float> data = rows.data();
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(rows, data, 20, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(score.silent, 0) << seed << ": " << ::testing::PrintToString(score.silent_rows);
    // Only rows whose top lies within a channel of the end.
    EXPECT_LE(score.named_right, 3) << seed;
  }
}

TEST(Olmi, TheNarrowPeakRuleSaysWhatItJudges) {
  // The rule judges a peak's half width at half maximum against a channel:
  // a right Gaussian of SD 0.8, 1.9 channels wide at half its height, was
  // named in every row as "narrower than a channel". The rule's line says
  // what it judges; a peak of SD 0.9 (2.1 channels) is not named.
  OlmiRowFit fit;
  fit.fitted = fit.valid = true;
  fit.typical_misfit = 1.0f;
  EXPECT_EQ(kzt_olmi_doubts(gaussian_on_level(50.0f, 100.0f, 0.8f, 10.0f), fit, 1, kX),
            kDoubtNarrow);
  EXPECT_EQ(kzt_olmi_doubts(gaussian_on_level(50.0f, 100.0f, 0.9f, 10.0f), fit, 1, kX), 0u);
  std::array<std::vector<Index>, kOlmiDoubts> doubts;
  doubts[1] = {7};
  std::string text;
  for (const std::string& line : kzt_olmi_doubtful_text(doubts, 30)) text += line + " ";
  EXPECT_NE(text.find("narrower than two channels at half"), std::string::npos) << text;
}

TEST(Olmi, TheNarrowPeakRuleJudgesAWidthAgainstItsUncertainty) {
  // A Lorentzian of half width 1.3 channels, 40 high at noise 3, is fitted
  // a little narrower than a channel now and then by the noise alone (0.95
  // here): 10 of 720 rows were named as holding a peak narrower than two
  // channels at half its height. A width within twice its standard error
  // of a channel is not named; the same width held ten times better, and a
  // spike of the noise whose width the channels cannot tell, are.
  testing::EvolvingRows rows;
  rows.nx = 256;
  testing::RowPeak lorentzian{kOneDLorentzian, [](double) { return 100.0; },
                              [](double) { return 40.0; }};
  lorentzian.hwhm = [](double) { return 0.95; };
  rows.peaks = {lorentzian};
  OlmiRowFit fit;
  fit.fitted = fit.valid = true;
  fit.typical_misfit = 3.0f;
  EXPECT_EQ(kzt_olmi_doubts(rows.start_model(1), fit, 1, rows.nx), 0u);
  fit.typical_misfit = 0.3f;
  EXPECT_EQ(kzt_olmi_doubts(rows.start_model(1), fit, 1, rows.nx), kDoubtNarrow);
  rows.peaks[0].height = [](double) { return 12.0; };
  rows.peaks[0].hwhm = [](double) { return 0.35; };
  fit.typical_misfit = 3.0f;
  EXPECT_EQ(kzt_olmi_doubts(rows.start_model(1), fit, 1, rows.nx), kDoubtNarrow);
}

TEST(Olmi, AWeakPeakBesideASpikeIsHeldAndAFaintOneNamed) {
  // A Gaussian and a Lorentzian 7 times the noise high; one channel of row
  // 12, far from both, holds 800 counts more. Its fit is at its minimum,
  // but the spike draws the background up at its end, the mis-fits' median
  // rose with it, and the row was named for a feature lower than three
  // times the typical mis-fit. The Lorentzian fades to half the noise on
  // rows 31-36 (row 33 spiked too): those rows are named.
  testing::EvolvingRows rows;
  rows.nx = 256;
  rows.ny = 40;
  rows.seed = 9;
  testing::RowPeak g{kOneDGaussian, [](double y) { return 80.0 + 0.05 * y; },
                     [](double) { return 100.0; }};
  g.sd = [](double) { return 3.0; };
  testing::RowPeak l{kOneDLorentzian, [](double) { return 170.0; },
                     [](double y) { return y >= 31 && y <= 36 ? 1.0 : 14.0; }};
  l.hwhm = [](double) { return 4.0; };
  rows.peaks = {g, l};
  std::vector<float> data = rows.data();
  for (const Index y : {12, 33}) data[static_cast<std::size_t>((y - 1) * rows.nx + 29)] += 800.0f;
  const std::vector<float> axis = testing::centre_axis(rows.nx);
  testing::TerminalCapture quiet;
  for (const bool evolve : {true, false}) {
    const RowsFit fit(rows, data, axis, evolve, 20, 1, rows.ny);
    ASSERT_EQ(fit.status, kStatusGood);
    const OlmiOutput& output = fit.output;
    const std::vector<float>& store = fit.store;
    std::vector<Index> named = every_named_row(output);
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named, (std::vector<Index>{31, 32, 33, 34, 35, 36})) << evolve;
    EXPECT_NEAR(store[static_cast<std::size_t>(3 * kMaxVecValues + 11)], 170.0f, 1.0f) << evolve;
  }
}

TEST(Olmi, PeaksOfOneKindKeepTheirIdentityThroughACrossing) {
  // Two Gaussians, 80 high and SD 2, 40 high and SD 3, cross at row 100
  // beside a Lorentzian. Fitted up from row 11 the fit followed them by
  // position, and where they overlap each took the other's: from row 106 on
  // GAU 1 held the low broad peak, 3 to 30 channels off its own, and no row
  // was named. Each feature keeps its own peak by its height and width, and
  // the rows where the two lie on one another are named for that.
  testing::EvolvingRows rows;
  rows.nx = 220;
  rows.ny = 150;
  rows.level = 20.0;
  rows.slope = 0.02;
  rows.seed = 1;
  testing::RowPeak high{kOneDGaussian, [](double y) { return 90.0 + 0.35 * (y - 100); },
                        [](double) { return 80.0; }};
  high.sd = [](double) { return 2.0; };
  testing::RowPeak low{kOneDGaussian, [](double y) { return 90.0 - 0.35 * (y - 100); },
                       [](double) { return 40.0; }};
  low.sd = [](double) { return 3.0; };
  testing::RowPeak lorentzian{kOneDLorentzian, [](double y) { return 170.0 + 0.02 * y; },
                              [](double) { return 50.0; }};
  lorentzian.hwhm = [](double) { return 3.0; };
  rows.peaks = {high, low, lorentzian};
  const std::vector<float> data = rows.data();
  const std::vector<float> axis = testing::centre_axis(rows.nx);
  testing::TerminalCapture terminal;
  // Up from row 11, and down from row 150 (where GAU 1 is the one on the
  // right).
  for (const Index start : {11, 150}) {
    const RowsFit fit(rows, data, axis, OlmiControls{}.evolve, start, 11, rows.ny);
    ASSERT_EQ(fit.status, kStatusGood);
    const OlmiOutput& output = fit.output;
    const std::vector<float>& store = fit.store;
    const auto named = [&](Index y) {
      return std::count(output.doubtful_rows.begin(), output.doubtful_rows.end(), y) > 0;
    };
    // A row not named holds each Gaussian within 3 channels of its own
    // peak, and within 1 where the two lie apart (further than their half
    // widths), GAU 1 the high narrow one.
    for (Index y = 11; y <= rows.ny; ++y) {
      if (named(y)) continue;
      const bool apart =
          std::fabs(high.pos(y) - low.pos(y)) > high.half_width(y) + low.half_width(y);
      for (int peak = 0; peak < 2; ++peak) {
        const std::size_t k = static_cast<std::size_t>(3 * peak * kMaxVecValues + y - 1);
        EXPECT_NEAR(store[k], rows.peaks[static_cast<std::size_t>(peak)].pos(y), apart ? 1.0 : 3.0)
            << "GAU " << peak + 1 << " row " << y << " from " << start;
      }
    }
    for (const Index y : {20, 140}) {
      EXPECT_NEAR(store[static_cast<std::size_t>(kMaxVecValues + y - 1)], 80.0f, 3.0f) << start;
      EXPECT_NEAR(store[static_cast<std::size_t>(4 * kMaxVecValues + y - 1)], 40.0f, 3.0f) << start;
    }
    // Only the rows about the crossing are named, and for the crossing.
    ASSERT_FALSE(output.doubtful_rows.empty()) << start;
    EXPECT_GE(output.doubtful_rows.front(), 90) << start;
    EXPECT_LE(output.doubtful_rows.back(), 110) << start;
    for (int rule = 0; rule < kOlmiDoubts; ++rule) {
      if ((1u << rule) != kDoubtOnAnother && (1u << rule) != kDoubtIdentity) {
        EXPECT_TRUE(output.doubts[static_cast<std::size_t>(rule)].empty()) << rule;
      }
    }
  }
  // Down from row 150 the fit carried the two through the crossing on each
  // other's peaks: they were given back, or the rows after it were fitted
  // also with the two exchanged, which found them right.
  EXPECT_TRUE(terminal.text().find("are given back their own parameters") != std::string::npos ||
              terminal.text().find("from two peaks that met exchanged") != std::string::npos);
}

TEST(Olmi, PeaksClickedJustBeforeACrossingKeepTheirIdentity) {
  // Two Gaussians, 120 high and SD 3, 60 high and SD 6, cross at row 101;
  // the model clicked a few rows before it, where they lie 11 to 7 channels
  // apart. Too few rows held them apart to draw their drift: each was
  // judged by where it was last held, and the fit that came out of the
  // crossing with each on the other's peak was kept, silently, from there
  // to the last row; the downward pass then judged the two, 44 channels
  // apart, by those rows and gave each the other's parameters. Two peaks
  // nearly alike (100 and 90 high, SD 3 and 3.3) are told apart by the
  // drift of the few rows that held them apart (clicked 13 channels apart);
  // clicked 7 apart, which is which cannot be told after the crossing, and
  // those rows are named. Two alike (60 and 55 high, SD 2.5) at noise 5,
  // clicked 7 apart: the fit carries two of one kind through a crossing in
  // their order, yet that order was taken as telling which is which where
  // the heights and widths said so by a little, and every row on both sides
  // of the crossing held each on the other's peak, unnamed.
  const auto gaussian = [](std::function<double(double)> pos, double height, double sd) {
    testing::RowPeak p{kOneDGaussian, std::move(pos), [height](double) { return height; }};
    p.sd = [sd](double) { return sd; };
    return p;
  };
  testing::EvolvingRows unlike;
  unlike.nx = 256;
  unlike.ny = 200;
  unlike.seed = 3;
  unlike.peaks = {gaussian([](double y) { return 70.0 + 0.7 * (y - 1); }, 120.0, 3.0),
                  gaussian([](double y) { return 190.0 - 0.5 * (y - 1); }, 60.0, 6.0)};
  testing::EvolvingRows alike = unlike;
  alike.peaks = {gaussian([](double y) { return 60.0 + 0.7 * (y - 1); }, 100.0, 3.0),
                 gaussian([](double y) { return 200.0 - 0.7 * (y - 1); }, 90.0, 3.3)};
  testing::EvolvingRows same = unlike;
  same.sigma = 5.0;
  same.seed = 7;
  same.y0 = 80;
  same.y1 = 130;
  same.peaks = {gaussian([](double y) { return 60.0 + 0.7 * (y - 1); }, 60.0, 2.5),
                gaussian([](double y) { return 200.0 - 0.7 * (y - 1); }, 55.0, 2.5)};
  testing::TerminalCapture quiet;
  for (const auto& [rows, start] : {std::pair{&unlike, Index{92}}, std::pair{&unlike, Index{95}},
                                    std::pair{&alike, Index{92}}, std::pair{&alike, Index{96}},
                                    std::pair{&same, Index{96}}}) {
    const std::vector<float> data = rows->data();
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(*rows, data, start, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(score.silent, 0) << start << ": " << ::testing::PrintToString(score.silent_rows);
    EXPECT_EQ(score.silent_swapped, 0) << start;
    if (rows == &unlike || start == 92) {
      EXPECT_EQ(score.right, score.counted)
          << start << ": " << ::testing::PrintToString(score.wrong);
      EXPECT_EQ(score.named_right, 0) << start;
    }
  }
}

TEST(Olmi, CrossingPeaksOfTwoKindsOrClickedCloseAreFollowedOrNamed) {
  // A Voigt (60 high, SD and HWHM 1.5) and a Gaussian (70 high, SD 2.5)
  // crossing at row 60: out of the crossing the fit carried on from the
  // Voigt holding both peaks, and from row 67 on the Voigt followed the
  // Gaussian's line with its Lorentzian width 0 and the Gaussian the
  // Voigt's, a higher minimum than the right one, and no row was named.
  // Two Gaussians alike clicked 6 channels apart, 10 rows before they
  // cross, at noise 5: the start row's fit shares their heights out as the
  // noise has it, those shares were taken for which is which, and rows on
  // both sides came out swapped, unnamed. Two Gaussians crossing slowly:
  // one held both peaks and the other a trace beside it, unnamed. Each row
  // ends with each peak on its own line, or is named.
  const auto peak = [](int type, double at, double drift, double height, double sd,
                       double hwhm, double cross) {
    testing::RowPeak p{type, [=](double y) { return at + drift * (y - cross); },
                       [height](double) { return height; }};
    p.sd = [sd](double) { return sd; };
    p.hwhm = [hwhm](double) { return hwhm; };
    return p;
  };
  testing::EvolvingRows kinds;
  kinds.nx = 200;
  kinds.ny = 120;
  kinds.sigma = 1.0;
  kinds.peaks = {peak(kOneDVoigt, 100.0, 0.3, 60.0, 1.5, 1.5, 60.0),
                 peak(kOneDGaussian, 100.0, -0.3, 70.0, 2.5, 0.0, 60.0)};
  testing::EvolvingRows alike;
  alike.nx = 240;
  alike.ny = 160;
  alike.sigma = 5.0;
  alike.peaks = {peak(kOneDGaussian, 120.0, 0.3, 60.0, 3.0, 0.0, 80.0),
                 peak(kOneDGaussian, 120.0, -0.3, 60.0, 3.0, 0.0, 80.0)};
  testing::EvolvingRows slow = alike;
  slow.sigma = 1.0;
  slow.peaks = {peak(kOneDGaussian, 120.0, 0.08, 80.0, 3.0, 0.0, 80.0),
                peak(kOneDGaussian, 120.0, -0.08, 45.0, 5.0, 0.0, 80.0)};
  testing::TerminalCapture quiet;
  for (const auto& [rows, start, seed] :
       {std::tuple{&kinds, Index{50}, 1ull}, std::tuple{&kinds, Index{10}, 2ull},
        std::tuple{&alike, Index{70}, 1ull}, std::tuple{&alike, Index{70}, 2ull},
        std::tuple{&alike, Index{74}, 3ull}, std::tuple{&slow, Index{40}, 1ull},
        std::tuple{&slow, Index{40}, 2ull}, std::tuple{&slow, Index{150}, 3ull}}) {
    testing::EvolvingRows scene = *rows;
    scene.seed = seed;
    const std::vector<float> data = scene.data();
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(scene, data, start, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(score.silent, 0) << scene.ny << " rows from " << start << ", seed " << seed << ": "
                               << ::testing::PrintToString(score.silent_rows);
    // Two peaks alike cannot be told apart on the far side of their
    // crossing from the rows before it: those rows are named, not right.
    EXPECT_GT(score.right, score.counted * (rows == &alike ? 4 : 9) / 10)
        << scene.ny << " rows from " << start << ", seed " << seed;
  }
}

TEST(Olmi, PeaksThatMeetAndTurnBackKeepTheirIdentity) {
  // Two peaks come within 4 channels of one another and turn back without
  // crossing. After the meeting each was judged by its straight line of
  // drift, which for peaks that turn back points across to the other peak
  // and outweighed their clearly different heights and widths: two
  // Gaussians (60 high SD 2, 45 high SD 3) came out of it swapped, and a
  // Lorentzian and a Voigt each on the other's peak, unnamed to the end.
  // Two Gaussians of unlike shape turning back were named as crossing far
  // apart, their lines meeting after the turn. Each row ends with each peak on its own line, or is named; the
  // rows well apart are right and not named.
  const auto peak = [](int type, double side, double height, double sd, double hwhm,
                       double meet, double at, double curve, double gap) {
    testing::RowPeak p{type,
                       [=](double y) { return at + side * (curve * (y - meet) * (y - meet) + gap); },
                       [height](double) { return height; }};
    p.sd = [sd](double) { return sd; };
    p.hwhm = [hwhm](double) { return hwhm; };
    return p;
  };
  testing::EvolvingRows touch;
  touch.nx = 200;
  touch.ny = 140;
  touch.sigma = 1.0;
  touch.peaks = {peak(kOneDGaussian, -1.0, 60.0, 2.0, 0.0, 70.0, 100.0, 0.004, 2.0),
                 peak(kOneDGaussian, 1.0, 45.0, 3.0, 0.0, 70.0, 100.0, 0.004, 2.0)};
  testing::EvolvingRows unlike = touch;
  unlike.ny = 120;
  unlike.peaks = {peak(kOneDGaussian, -1.0, 100.0, 1.5, 0.0, 60.0, 100.0, 0.005, 2.0),
                  peak(kOneDGaussian, 1.0, 30.0, 4.0, 0.0, 60.0, 100.0, 0.005, 2.0)};
  // Two Gaussians nearly alike (55 high SD 2.5, 50 high SD 2.7): their lines
  // of drift through the turn cross each other, and each peak lay near the
  // other's line; which is which cannot be told, and those rows are named.
  testing::EvolvingRows alike = touch;
  alike.ny = 120;
  alike.peaks = {peak(kOneDGaussian, -1.0, 55.0, 2.5, 0.0, 60.0, 100.0, 0.004, 2.5),
                 peak(kOneDGaussian, 1.0, 50.0, 2.7, 0.0, 60.0, 100.0, 0.004, 2.5)};
  testing::EvolvingRows kinds = touch;
  kinds.nx = 220;
  kinds.sigma = 3.0;
  kinds.peaks = {peak(kOneDLorentzian, -1.0, 50.0, 0.0, 2.0, 70.0, 110.0, 0.006, 2.0),
                 peak(kOneDVoigt, 1.0, 70.0, 1.5, 1.5, 70.0, 110.0, 0.006, 2.0)};
  testing::TerminalCapture quiet;
  for (const auto& [rows, start, seed] :
       {std::tuple{&touch, Index{10}, 1ull}, std::tuple{&touch, Index{130}, 2ull},
        std::tuple{&unlike, Index{10}, 1ull}, std::tuple{&alike, Index{10}, 1ull},
        std::tuple{&alike, Index{120}, 2ull}, std::tuple{&kinds, Index{10}, 1ull},
        std::tuple{&kinds, Index{130}, 2ull}}) {
    testing::EvolvingRows scene = *rows;
    scene.seed = seed;
    const std::vector<float> data = scene.data();
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(scene, data, start, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(score.silent, 0) << scene.ny << " rows from " << start << ", seed " << seed << ": "
                               << ::testing::PrintToString(score.silent_rows);
    EXPECT_GT(score.right, score.counted * 8 / 10)
        << scene.ny << " rows from " << start << ", seed " << seed << ": "
        << ::testing::PrintToString(score.wrong);
    if (rows != &alike) {
      EXPECT_EQ(score.named_right, 0) << scene.ny << " rows from " << start << ", seed " << seed;
    }
  }
}

TEST(Olmi, PeaksSideBySideThatNeverCrossAreNotNamedAsCrossing) {
  // Two Gaussians alike (60 and 55 high, SD 2.5) side by side 6 channels
  // apart, drifting together, noise 5: the fit of the row after the one
  // clicked held one as a trace beside the other; as alike peaks their
  // heights and widths never told which was which again, and every later
  // row was named as two peaks crossing. Each comes out on the line through
  // its own positions, which points back to where it was clicked.
  testing::EvolvingRows rows;
  rows.nx = 220;
  rows.ny = 150;
  rows.y0 = 70;
  rows.y1 = 115;
  rows.sigma = 5.0;
  rows.seed = 1;
  testing::RowPeak left{kOneDGaussian, [](double y) { return 80.0 + 0.2 * y; },
                        [](double) { return 60.0; }};
  left.sd = [](double) { return 2.5; };
  testing::RowPeak right{kOneDGaussian, [](double y) { return 86.0 + 0.2 * y; },
                         [](double) { return 55.0; }};
  right.sd = [](double) { return 2.5; };
  rows.peaks = {left, right};
  const std::vector<float> data = rows.data();
  testing::TerminalCapture quiet;
  Status status = kStatusGood;
  const testing::EvolutionScore score =
      testing::evolve_and_score(rows, data, 75, OlmiControls{}, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(score.silent, 0) << ::testing::PrintToString(score.silent_rows);
  // The rows about the one that held a trace stay named until the lines
  // tell.
  EXPECT_GT(score.right, score.counted * 8 / 10) << ::testing::PrintToString(score.wrong);
  EXPECT_LE(score.named_right, 6);
}

TEST(Olmi, PeaksClickedNearACrossingAreToldApartOrNamed) {
  // Three Gaussians, two crossing, at noise 2.8-3. Clicked a few rows
  // before the crossing, where the two lie on one another (76 and 92 high,
  // half widths 3.5 and 4.2): no row held them apart to draw their drift,
  // and one row's heights and widths never told them apart by the margin
  // it needs; from the crossing to the last row each held the other's
  // peak, named. Clicked on one another 8 rows after a crossing (60 and 62
  // high, 4.5 and 5.2 wide), the rows drawing apart in the order clicked
  // were named to the end, right. Two (80 and 37 high) met in rows whose
  // fit was no valid model, one holding both: that fit was kept as the
  // peak's own height, and every later row was judged against it, named.
  const auto gaussian = [](double cross, double at, double drift, double height,
                           double half_width) {
    testing::RowPeak p{kOneDGaussian, [=](double y) { return at + drift * (y - cross); },
                       [height](double) { return height; }};
    p.sd = [half_width](double) { return half_width / 1.1774; };
    return p;
  };
  testing::EvolvingRows before;
  before.nx = 256;
  before.ny = 260;
  before.level = 25.0;
  before.slope = 0.02;
  before.sigma = 2.8;
  before.peaks = {gaussian(80.0, 110.0, 0.46, 76.0, 3.5), gaussian(80.0, 110.0, -0.18, 92.0, 4.2),
                  gaussian(80.0, 230.0, 0.0, 60.0, 3.0)};
  testing::EvolvingRows after = before;
  after.sigma = 2.9;
  after.peaks = {gaussian(80.0, 110.0, 0.3, 60.0, 4.5), gaussian(80.0, 110.0, -0.3, 62.0, 5.2),
                 gaussian(80.0, 230.0, 0.0, 60.0, 3.0)};
  testing::EvolvingRows invalid = before;
  invalid.level = 27.4121;
  invalid.slope = 0.0365;
  invalid.sigma = 2.121;
  invalid.seed = 98;
  invalid.peaks = {gaussian(96.1168, 101.8052, 0.5294, 79.7014, 5.5349),
                   gaussian(96.1168, 101.8052, -0.1526, 36.5568, 5.5293),
                   gaussian(96.1168, 220.8693, -0.0228, 39.0788, 3.7796)};
  // Two clicked 5.5 channels apart, 8 rows before they cross (94 and 51
  // high): before any row held them apart the fit gave the low one a third
  // of its height and put it 3 channels off, and as only a height and width
  // rows had held were judged, the two were not taken to be meeting and
  // the row was silently off; the same 15 rows after the start of two
  // others (61 and 45 high, 5.4 and 5.8 wide).
  testing::EvolvingRows clicked = before;
  clicked.level = 30.934;
  clicked.slope = -0.0138;
  clicked.sigma = 2.7886;
  clicked.seed = 130;
  clicked.peaks = {gaussian(85.148, 92.2894, 0.266, 93.7724, 3.9017),
                   gaussian(85.148, 92.2894, -0.4053, 51.2647, 4.4277),
                   gaussian(85.148, 215.4815, 0.0114, 88.5296, 3.8858)};
  testing::EvolvingRows wide = before;
  wide.level = 32.6801;
  wide.slope = 0.0329;
  wide.sigma = 2.2449;
  wide.seed = 150;
  wide.peaks = {gaussian(152.4104, 75.9138, 0.2988, 60.7933, 5.3918),
                gaussian(152.4104, 75.9138, -0.3799, 45.2588, 5.8154),
                gaussian(152.4104, 221.675, -0.0112, 32.3191, 5.4191)};
  testing::TerminalCapture quiet;
  for (const auto& [rows, start] :
       {std::pair{&before, Index{74}}, std::pair{&after, Index{88}}, std::pair{&after, Index{72}},
        std::pair{&invalid, Index{82}}, std::pair{&clicked, Index{77}},
        std::pair{&wide, Index{143}}}) {
    const std::vector<float> data = rows->data();
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(*rows, data, start, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(score.silent, 0) << start << ": " << ::testing::PrintToString(score.silent_rows);
    EXPECT_EQ(score.silent_swapped, 0) << start;
    EXPECT_GE(score.right, score.counted - 5)
        << start << ": " << ::testing::PrintToString(score.wrong);
    // A row or two about the crossing may be named while the shapes are
    // read.
    EXPECT_LE(score.named_right, 3) << start;
  }
  // Two alike (70 and 66 high, SD 2.5 and 2.7) clicked on the row where
  // they cross, the clicks 0.6 channels apart the wrong way round: the
  // order clicked (the heights and widths clicked a little high, as they
  // are) was taken as which is which, and every row beyond the
  // crossing held each on the other's track, not named. Where neither the
  // clicks' order nor the shapes tell, the rows are named.
  testing::EvolvingRows alike = before;
  alike.level = 20.0;
  alike.sigma = 2.0;
  alike.seed = 13;
  alike.y0 = 95;
  alike.y1 = 150;
  alike.peaks = {gaussian(120.0, 130.0, 0.15, 70.0, 2.5 * 1.1774),
                 gaussian(120.0, 130.0, -0.15, 66.0, 2.7 * 1.1774),
                 gaussian(120.0, 215.0, -0.03, 50.0, 3.0)};
  alike.click_offsets = {-0.3, 0.3};
  alike.click_height = 1.05;
  alike.click_width = 1.15;
  // Two the same (50 high, SD 2.5) clicked 1.5 channels apart the row
  // before they cross: the fit holds them as one peak and a trace for a few
  // rows and parts them as they were, in the order and gap clicked, so they
  // were taken to have drawn apart, not crossed, and every row beyond held
  // each on the other's track, not named.
  testing::EvolvingRows same = alike;
  same.y0 = 90;
  same.y1 = 150;
  same.peaks = {gaussian(120.0, 130.0, 0.45, 50.0, 2.5 * 1.1774),
                gaussian(120.0, 130.0, -0.45, 50.0, 2.5 * 1.1774),
                gaussian(120.0, 215.0, -0.03, 50.0, 3.0)};
  for (const auto& [rows, start] : {std::pair{&alike, Index{120}}, std::pair{&same, Index{119}}}) {
    const std::vector<float> data = rows->data();
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(*rows, data, start, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(score.silent, 0) << start << ": " << ::testing::PrintToString(score.silent_rows);
    EXPECT_EQ(score.silent_swapped, 0) << start;
  }
  // The two alike ones clicked 6 rows after they cross, 1.8 channels apart,
  // drawing apart: the two rows after the clicked one held them within what
  // the fit resolves, and every row beyond was named as a possible
  // crossing, though the heights and widths kept saying the order clicked.
  testing::EvolvingRows apart = alike;
  apart.y0 = 121;
  apart.y1 = 210;
  apart.seed = 3;
  apart.peaks[0] = gaussian(120.0, 130.0, 0.15, 70.0, 2.5 * 1.1774);
  apart.peaks[1] = gaussian(120.0, 130.0, -0.15, 66.0, 2.7 * 1.1774);
  const std::vector<float> data = apart.data();
  Status status = kStatusGood;
  const testing::EvolutionScore score =
      testing::evolve_and_score(apart, data, 126, OlmiControls{}, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(score.silent, 0) << ::testing::PrintToString(score.silent_rows);
  EXPECT_GE(score.right, score.counted - 5) << ::testing::PrintToString(score.wrong);
  EXPECT_LE(score.named_right, 10);
}

TEST(Olmi, EvolvingFitKeepsNoValidRowThatGaveUpAClearPeak) {
  // A Lorentzian fading into the noise and back while a Gaussian beside it
  // drifts. Where the faded peak dips below 0 the fit that follows the
  // Gaussian is no valid model, and one from an older model can be valid
  // by leaving the Gaussian as a spike elsewhere: that is no better, and
  // no valid row has a clear peak more than 3 channels off.
  testing::EvolvingRows rows;
  rows.nx = 300;
  rows.ny = 200;
  rows.sigma = 5.0;
  rows.seed = 12;
  testing::RowPeak g{kOneDGaussian, [](double y) { return 100.0 + 15.0 * std::sin(y / 40); },
                     [](double y) { return 40.0 + 0.2 * y; }};
  g.sd = [](double) { return 2.5; };
  testing::RowPeak l{kOneDLorentzian, [](double y) { return 200.0 + 0.05 * y; },
                     [](double y) { return 25.0 + 20.0 * std::cos(y / 40); }};
  l.hwhm = [](double) { return 3.0; };
  rows.peaks = {g, l};
  const std::vector<float> data = rows.data();
  testing::TerminalCapture quiet;
  for (const Index start : {10, 200}) {
    Status status = kStatusGood;
    const testing::EvolutionScore score =
        testing::evolve_and_score(rows, data, start, OlmiControls{}, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(score.far, 0) << start << ": " << ::testing::PrintToString(score.far_rows);
  }
}

TEST(Olmi, VoigtResultsAndWidthsOfZero) {
  FitModel m;
  m.num_features = 1;
  m.num_parameters = 4;
  m.params = {50.0f, 1000.0f, 1.0f, 1.0f};
  m.codes = {20010401, 20401, 10030401, 10040401};
  std::vector<float> results;
  std::vector<std::string> names;
  const std::vector<float> axis = testing::centre_axis(kX);
  kzt_olmi_results(m, axis, 1, results, names);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_NEAR(results[0], 4791.35f, 0.05f);
  EXPECT_EQ(names[0], "VOI 1 INT ");
  EXPECT_EQ(names[1], "VOI 1FWHM ");
  // FWHM between the Gaussian's 2.354 and their sum.
  EXPECT_GT(results[1], 2.354f);
  EXPECT_LT(results[1], 4.354f);
  m.params[3] = 0.0f;
  kzt_olmi_results(m, axis, 1, results, names);
  EXPECT_NEAR(results[0], 1000.0f * 2.506628f, 1e-2f);
  m.params[3] = 2.0f;
  m.params[2] = 0.0f;
  kzt_olmi_results(m, axis, 1, results, names);
  EXPECT_NEAR(results[0], 1000.0f * 2.0f * 3.1415925f, 1e-2f);
  // Channel width and axis position through the unit classes.
  std::vector<float> wide(kX);
  for (Index i = 0; i < kX; ++i) wide[static_cast<std::size_t>(i)] = 100.0f + 0.5f * i;
  m.params[2] = 1.0f;
  EXPECT_NEAR(kzt_olmi_reported(m, 0, wide, 1), 100.0f + 0.5f * 49.5f, 1e-4f);
  EXPECT_NEAR(kzt_olmi_reported(m, 2, wide, 1), 0.5f, 1e-6f);
}

TEST(Olmi, RowsOnADescendingAxisReportWidthsAndIntensitiesAsOnAnAscendingOne) {
  // One scan as 2-theta 40 down by 0.02 a channel and as 10 up by 0.02: the
  // model lives in channels, so both fit alike and must say so alike.
  std::vector<float> row(kX);
  Status status = kStatusGood;
  kzt_olmi_row_model(gaussian_on_level(45.3f, 400.0f, 4.0f, 100.0f), kX, 1, kX, row, status);
  testing::Noise noise(3, 5.0);
  for (float& v : row) v += noise.next();
  std::vector<float> up(kX), down(kX);
  for (Index i = 0; i < kX; ++i) {
    up[static_cast<std::size_t>(i)] = 10.0f + 0.02f * static_cast<float>(i);
    down[static_cast<std::size_t>(i)] = 40.0f - 0.02f * static_cast<float>(i);
  }
  std::vector<OlmiRowFit> fits;
  for (const auto* axis : {&up, &down}) {
    FitModel model = gaussian_on_level(44.0f, 300.0f, 3.0f, 90.0f);
    testing::TerminalCapture terminal;
    fits.push_back(KZT_LSQOLMI(0, row, {}, {}, *axis, 1, kX, false, 11.5f, model, status));
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(terminal.text().find(kNotValidModel), std::string::npos) << terminal.text();
  }
  const OlmiRowFit &a = fits[0], &d = fits[1];
  ASSERT_TRUE(d.fitted);
  EXPECT_TRUE(d.valid);
  EXPECT_DOUBLE_EQ(d.sum_squares, a.sum_squares);
  ASSERT_EQ(d.reported.size(), 4u);
  EXPECT_NEAR(d.reported[2], 0.02f * 4.0f, 0.004f);
  EXPECT_FLOAT_EQ(d.reported[2], a.reported[2]);
  // The position reads off the descending axis.
  EXPECT_NEAR(d.reported[0], 40.0f - 0.02f * 44.8f, 0.01f);
  ASSERT_EQ(d.results.size(), 1u);
  EXPECT_GT(d.results[0], 0.0f);
  EXPECT_FLOAT_EQ(d.results[0], a.results[0]);
  // The text shows the width as it is kept.
  ASSERT_GE(d.text.size(), 4u);
  EXPECT_EQ(d.text[3], a.text[3]);
  EXPECT_EQ(d.text[3].find(" -"), std::string::npos) << d.text[3];
  // A Voigt's widths, intensity and full width likewise.
  FitModel v;
  v.num_features = 1;
  v.num_parameters = 4;
  v.params = {50.0f, 1000.0f, 1.0f, 1.0f};
  v.codes = {20010401, 20401, 10030401, 10040401};
  std::vector<float> results_up, results_down;
  std::vector<std::string> names;
  kzt_olmi_results(v, up, 1, results_up, names);
  kzt_olmi_results(v, down, 1, results_down, names);
  ASSERT_EQ(results_down.size(), 2u);
  EXPECT_NEAR(results_down[0], 0.02f * 4791.35f, 0.01f);
  EXPECT_FLOAT_EQ(results_down[0], results_up[0]);
  EXPECT_FLOAT_EQ(results_down[1], results_up[1]);
  EXPECT_GT(results_down[1], 0.0f);
}

TEST(Olmi, ASlopeLeftAtZeroUnderAHugePeakIsFitted) {
  // A Gaussian of 1e8 on a level of 1e4 sloping by 1e3 either way, noise
  // 1e4, with the polynomial's slope left at 0 by an initialisation of
  // order 0 (its scale a tenth of the row's unit): the row ends where the
  // same fit started with the slope at its value ends.
  constexpr Index kWide = 500;
  std::vector<float> row(kWide);
  testing::Noise noise(11, 1.0e4);
  for (Index x = 1; x <= kWide; ++x) {
    const double c = static_cast<double>(x) - 0.5, u = (c - 180.3) / 4.0;
    row[static_cast<std::size_t>(x - 1)] = static_cast<float>(
        1.0e4 + 1.0e3 * (c - 250.0) / 250.0 + 1.0e8 * std::exp(-0.5 * u * u) + noise.next());
  }
  const std::vector<float> axis = testing::centre_axis(kWide);
  const auto fit = [&](float slope, float slope_scale) {
    FitModel model = gaussian_on_level(180.9f, 0.8e8f, 4.8f, 1.0e4f);
    model.scales = {1.0f, 1.0e4f, 0.5f, 400.0f, slope_scale};
    model.params[4] = slope;
    model.codes[4] = 20502;
    model.names[4] = "POL    1  ";
    model.num_parameters = 5;
    model.x_order = 1;
    model.x_max_poly = static_cast<float>(kWide);
    Status status = kStatusGood;
    testing::TerminalCapture terminal;
    const OlmiRowFit out = KZT_LSQOLMI(0, row, {}, {}, axis, 1, kWide, false, 11.5f, model, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_TRUE(out.valid) << terminal.text();
    return std::pair{out.sum_squares, model.params[4]};
  };
  const auto [from_zero, zero_slope] = fit(0.0f, 0.1f);
  const auto [from_slope, slope] = fit(1.0e3f, 20.0f);
  EXPECT_LT(from_zero, 1.0002 * from_slope);
  // Within a fifth of the slope's standard error (775).
  EXPECT_NEAR(zero_slope, slope, 150.0f);
  EXPECT_GT(zero_slope, 150.0f);
}


// 300 channels by 320 rows: a Gaussian drifting 25 channels, a Lorentzian
// swinging 8, and a Voigt (SD 2.5, HWHM 2) creeping, noise 1.
testing::EvolvingRows gaussian_swinging_lorentzian_and_voigt() {
  testing::EvolvingRows r;
  r.nx = 300;
  r.ny = 320;
  r.sigma = 1.0;
  r.seed = 8;
  testing::RowPeak g{kOneDGaussian, [](double y) { return 70.0 + 25.5 * (y - 1) / 319; },
                     [](double y) { return 90.0 - 30.0 * (y - 1) / 319; }};
  g.sd = [](double y) { return 3.0 + 0.6 * (y - 1) / 319; };
  testing::RowPeak l{kOneDLorentzian, [](double y) { return 170.0 + 8.0 * std::sin(y / 25); },
                     [](double) { return 55.0; }};
  l.hwhm = [](double) { return 4.5; };
  testing::RowPeak v{kOneDVoigt, [](double y) { return 240.0 - 0.03 * y; },
                     [](double) { return 40.0; }};
  v.sd = [](double) { return 2.5; };
  v.hwhm = [](double) { return 2.0; };
  r.peaks = {g, l, v};
  return r;
}

TEST(Olmi, VoigtRowsEndAtTheirMinimumNotWithAWidthLeftAtTheFloor) {
  // A Voigt's two widths trade against each other. A step that takes one
  // below 0 finds the model flat there (widths are evaluated at 1e-37 at
  // least), and the fit stayed, a few per cent above the minimum, a valid
  // row named nowhere. With the model clicked on row 154, with and without
  // evolution, every row ends within 0.5 % of its minimum (the lower of its
  // own and a fit from the truth) or is named. Along the widths' valley the
  // fit's differences of the usual step are mostly rounding: row 58 of the
  // second rows stopped 1 % above its minimum, unnamed.
  const testing::EvolvingRows three = three_peaks_with_a_voigt();
  const testing::EvolvingRows swinging = gaussian_swinging_lorentzian_and_voigt();
  testing::TerminalCapture quiet;
  for (const auto& [rows, evolve, start, first, last] :
       {std::tuple{&three, false, Index{154}, Index{244}, Index{260}},
        std::tuple{&three, true, Index{154}, Index{150}, Index{165}},
        std::tuple{&swinging, true, Index{60}, Index{56}, Index{60}}}) {
    const std::vector<float> data = rows->data();
    const std::vector<float> axis = testing::centre_axis(rows->nx);
    Status status = kStatusGood;
    const RowsFit run(*rows, data, axis, evolve, start, first, last);
    ASSERT_EQ(run.status, kStatusGood);
    const std::vector<float>& model = run.model;
    const OlmiOutput& output = run.output;
    for (Index y = first; y <= last; ++y) {
      const std::span<const float> row(data.data() + (y - 1) * rows->nx,
                                       static_cast<std::size_t>(rows->nx));
      double sum = 0.0;
      for (Index x = 0; x < rows->nx; ++x) {
        const double d = row[x] - model[static_cast<std::size_t>((y - 1) * rows->nx + x)];
        sum += d * d;
      }
      FitModel truth = rows->start_model(y);
      const FeatureParameters voigt = kzt_feature_parameters(truth, 3);
      truth.params[static_cast<std::size_t>(voigt.index[2])] =
          static_cast<float>(rows->peaks[2].sd(static_cast<double>(y)));
      truth.params[static_cast<std::size_t>(voigt.index[3])] =
          static_cast<float>(rows->peaks[2].hwhm(static_cast<double>(y)));
      const OlmiRowFit from_truth =
          KZT_LSQOLMI(0, row, {}, {}, axis, 1, rows->nx, false, 40.0f, truth, status);
      const double minimum = std::min<double>(sum, from_truth.sum_squares);
      std::vector<Index> named = every_named_row(output);
      EXPECT_TRUE(sum <= 1.005 * minimum || std::count(named.begin(), named.end(), y) > 0)
          << "row " << y << (evolve ? " evolving" : "") << ": " << sum << " against " << minimum;
    }
  }
}

TEST(Olmi, RowsThatRunOutOfCallsGoOnAndAreKeptWithoutEvolution) {
  // Eleven parameters: rows that reach their minimum only just after the
  // calls their size allows were named as not fitted, their vectors 0. Each
  // goes on once from where it stopped, as under evolution, and ends with
  // its results.
  const testing::EvolvingRows rows = three_peaks_with_a_voigt();
  const std::vector<float> data = rows.data();
  const std::vector<float> axis = testing::centre_axis(rows.nx);
  testing::TerminalCapture quiet;
  const RowsFit run(rows, data, axis, false, 154, 200, 252);
  ASSERT_EQ(run.status, kStatusGood);
  const OlmiOutput& output = run.output;
  const std::vector<float>& store = run.store;
  EXPECT_TRUE(output.failed_rows.empty()) << output.failed_rows.front();
  for (Index y = 200; y <= 252; ++y) {
    if (std::count(output.invalid_rows.begin(), output.invalid_rows.end(), y) > 0) continue;
    // The first vector: the first peak's position, near channel 60.
    EXPECT_GT(store[static_cast<std::size_t>(y - 1)], 50.0f) << "row " << y;
  }
}

TEST(Olmi, VoigtWhoseMinimumHasNoLorentzianWidthEndsThere) {
  // A Gaussian row fitted by a Voigt: its half width goes to the floor,
  // is freed, and comes back, and the fit ends on the Gaussian.
  std::vector<float> row(kX);
  for (Index x = 1; x <= kX; ++x) {
    const double d = (x - 0.5 - 40.0) / 2.0;
    row[static_cast<std::size_t>(x - 1)] = static_cast<float>(10.0 + 50.0 * std::exp(-0.5 * d * d));
  }
  FitModel voigt;
  voigt.num_features = 2;
  voigt.num_parameters = 5;
  voigt.params = {40.5f, 45.0f, 1.5f, 1.0f, 18.0f};
  voigt.codes = {20010401, 20401, 10030401, 10040401, 60010502};
  voigt.scales = {1.0f, 5.0f, 0.5f, 0.5f, 1.0f};
  voigt.x_max_poly = static_cast<float>(kX);
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  const OlmiRowFit fit = KZT_LSQOLMI(0, row, {}, {}, testing::centre_axis(kX), 1, kX, false, 20.0f,
                                     voigt, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(fit.fitted && fit.valid);
  EXPECT_EQ(voigt.params[3], 0.0f);
  EXPECT_NEAR(voigt.params[2], 2.0f, 0.01f);
  EXPECT_NEAR(voigt.params[0], 40.0f, 0.01f);
  EXPECT_LT(fit.sum_squares, 0.01f);
}

TEST(Olmi, RowWithoutUsableChannelsAndTheVectorLimits) {
  Rows r;
  OlmiControls controls;
  std::vector<std::uint8_t> mask(kX * kY, 1);
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  // Everything masked: the fit cannot run; R_p and RMS print 0.00.
  FitModel model = gaussian_on_level(50.0f, 80.0f, 2.5f, 8.0f);
  const FitModel before = model;
  const OlmiRowFit fit = KZT_LSQOLMI(0, std::span<const float>(r.data.data(), kX), {},
                                     std::span<const std::uint8_t>(mask.data(), kX), r.axis, 1,
                                     kX, false, 10.0f, model, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(fit.fitted);
  EXPECT_EQ(model.params, before.params);
  EXPECT_NE(terminal.text().find("      R_p =    0.00%"), std::string::npos) << terminal.text();
  // Weighted: channels without a usable variance are left out and counted.
  std::vector<float> variances(kX, 1.0f);
  variances[40] = 0.0f;
  variances[41] = std::nanf("");
  const OlmiRowFit weighted =
      KZT_LSQOLMI(0, std::span<const float>(r.data.data(), kX), variances, {}, r.axis, 1, kX,
                  true, 10.0f, model, status);
  EXPECT_TRUE(weighted.fitted);
  EXPECT_NE(terminal.text().find("INFO: 2 channels whose variance is not above 0"),
            std::string::npos);
  // Channels that are no numbers are left out and counted (a masked one is
  // the mask's); the fit is a number.
  std::vector<float> holed(r.data.begin(), r.data.begin() + kX);
  holed[10] = std::nanf("");
  holed[11] = INFINITY;
  holed[12] = std::nanf("");
  std::vector<std::uint8_t> one(kX, 0);
  one[12] = 1;
  const OlmiRowFit left = KZT_LSQOLMI(0, holed, {}, one, r.axis, 1, kX, false, 10.0f, model, status);
  EXPECT_TRUE(left.fitted);
  EXPECT_TRUE(std::isfinite(left.sum_squares));
  EXPECT_NE(terminal.text().find("INFO: 2 channels that are not finite numbers are left out"),
            std::string::npos);
  // A region of one row fits only that row; rows past the vectors' length warn once.
  KztVectors small = r.vectors;
  small.max_vec_values = 5;
  KZT_OLMIOPTIMISE(kX, kY, r.data, {}, {}, r.axis, 1, 4, kX, 7, 4, "", controls,
                   gaussian_on_level(26.0f, 80.0f, 2.5f, 8.0f), small, nullptr, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(r.value(1, 4), 26.0f, 0.01f);
  EXPECT_NEAR(r.value(1, 5), 27.5f, 0.01f);
  EXPECT_EQ(r.value(1, 6), 0.0f);
  const std::string text = terminal.text();
  const std::size_t first = text.find("WARNING: Only vectors 1 to 50 and rows 1 to 5");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("WARNING: Only vectors", first + 1), std::string::npos);
}

TEST(Olmi, EveryParameterHeldFitsNothingAndGivesTheHeldModelsMisfit) {
  Rows r;
  // Row 1 holds the Gaussian at 21.5 on a level of 10; the held model's
  // level is 2 too high.
  FitModel model = gaussian_on_level(21.5f, 100.0f, 2.0f, 12.0f);
  model.constraints.fill(true);
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  const OlmiRowFit fit = KZT_LSQOLMI(0, std::span<const float>(r.data.data(), kX), {}, {},
                                     r.axis, 1, kX, false, 10.0f, model, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(fit.fitted);
  EXPECT_NEAR(fit.sum_squares, 4.0f * kX, 0.01f);
  const std::string said = terminal.text();
  EXPECT_NE(said.find(kNothingFitted), std::string::npos) << said;
  EXPECT_EQ(said.find("Number of function calls"), std::string::npos) << said;
  ASSERT_FALSE(fit.text.empty());
  EXPECT_EQ(fit.text[0].rfind(kNothingFittedText, 0), 0u) << fit.text[0];

  // The same row and model at 1e20 times the size: the misfit's squares pass
  // single precision, the sum of squares and the RMS misfit stay numbers.
  std::vector<float> huge(r.data.begin(), r.data.begin() + kX);
  for (float& v : huge) v *= 1.0e20f;
  FitModel big = gaussian_on_level(21.5f, 1.0e22f, 2.0f, 1.2e21f);
  big.constraints.fill(true);
  testing::TerminalCapture scaled;
  const OlmiRowFit large = KZT_LSQOLMI(0, huge, {}, {}, r.axis, 1, kX, false, 10.0f, big, status);
  EXPECT_TRUE(large.fitted);
  EXPECT_NEAR(large.sum_squares / (4.0e40 * kX), 1.0, 1.0e-3);
  EXPECT_EQ(scaled.text().find("Inf"), std::string::npos) << scaled.text();
}

TEST(Olmi, RowFitEndingOnNoPossiblePeakSaysSoAndKeepsItsValues) {
  // Rows of one Gaussian (height 100 on 10, SD 3) at 60, the fit started at
  // 200: the peak is not found and the fit ends on one of no height.
  constexpr Index kWide = 256;
  constexpr Index kRows = 3;
  std::vector<float> data(kWide * kRows);
  const std::vector<float> axis = testing::centre_axis(kWide);
  Status status = kStatusGood;
  for (Index y = 1; y <= kRows; ++y)
    kzt_olmi_row_model(gaussian_on_level(60.0f, 100.0f, 3.0f, 10.0f), kWide, 1, kWide,
                       std::span<float>(data.data() + (y - 1) * kWide, kWide), status);
  std::vector<float> store(kMaxVecValues * kMaxVectors, 0.0f);
  KztVectors vectors;
  vectors.vectors = store.data();
  OlmiControls controls;
  controls.evolve = true;
  OlmiOutput output;
  const FitModel start = gaussian_on_level(200.0f, 100.0f, 3.0f, 10.0f);
  testing::TerminalCapture terminal;
  KZT_OLMIOPTIMISE(kWide, kRows, data, {}, {}, axis, 1, 1, kWide, kRows, 2, "Scan", controls,
                   start, vectors, nullptr, &output, status);
  ASSERT_EQ(status, kStatusGood);
  const std::string text = terminal.text();
  // Every row says which feature is wanting, with its values, and that its
  // model is not valid; no row is reported as a plain fit.
  Index rows = 0;
  for (std::size_t at = 0; (at = text.find(kNotValidModel, at)) != std::string::npos; ++at) ++rows;
  EXPECT_EQ(rows, kRows) << text;
  // The start row's text says so too; its values are kept, in the text, the
  // vectors and the model the next row starts from.
  ASSERT_TRUE(output.start_fitted);
  const std::vector<std::string>& lines = output.start_text;
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), kNotValidModel);
  EXPECT_EQ(lines[lines.size() - 2].rfind("WARNING: Feature 1 is not valid: GAU 1 MAX = -", 0), 0u)
      << lines[lines.size() - 2];
  EXPECT_NE(lines[lines.size() - 2].find("; GAU 1 INT = -"), std::string::npos);
  EXPECT_LT(output.start_fit.params[1], 0.0f);
  EXPECT_EQ(store[kMaxVecValues + 1], output.start_fit.params[1]);
}

TEST(Olmi, EachRunClearsTheRowsItFailsAndNamesThem) {
  // Rows 1 to 8 fitted from row 4, first whole, then with rows 3 to 5
  // masked off, the start row among them: they cannot be fitted.
  Rows r;
  OlmiControls controls;
  controls.warning_boxes = true;
  const FitModel start = gaussian_on_level(26.0f, 80.0f, 2.5f, 8.0f);
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  OlmiOutput first;
  KZT_OLMIOPTIMISE(kX, kY, r.data, {}, {}, r.axis, 1, 1, kX, 8, 4, "Scan", controls, start,
                   r.vectors, nullptr, &first, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(first.start_fitted);
  EXPECT_TRUE(first.failed_rows.empty());
  EXPECT_EQ(first.text, first.start_text);
  EXPECT_NEAR(r.value(1, 4), 26.0f, 0.01f);
  std::vector<std::uint8_t> mask(kX * kY, 0);
  std::fill(mask.begin() + 2 * kX, mask.begin() + 5 * kX, 1);
  OlmiOutput second;
  KZT_OLMIOPTIMISE(kX, kY, r.data, {}, mask, r.axis, 1, 1, kX, 8, 4, "Scan", controls, start,
                   r.vectors, nullptr, &second, status);
  ASSERT_EQ(status, kStatusGood);
  // The failed rows hold 0.0 in every vector, no value of the first run.
  for (Index y = 3; y <= 5; ++y)
    for (int v = 1; v <= 5; ++v) EXPECT_EQ(r.value(v, y), 0.0f) << v << " " << y;
  EXPECT_NEAR(r.value(1, 6), 29.0f, 0.01f);
  EXPECT_NEAR(r.value(1, 2), 23.0f, 0.01f);
  EXPECT_EQ(r.vectors.num_vectors, 5);
  EXPECT_EQ(r.vectors.titles[4], "GAU 1 INT ");
  // The start row's failure and the failed rows are the run's text; each
  // failed row was also shown in a warning box (at the terminal here).
  EXPECT_FALSE(second.start_fitted);
  EXPECT_EQ(second.failed_rows, (std::vector<Index>{3, 4, 5}));
  const std::vector<std::string>& text = second.text;
  EXPECT_NE(std::find(text.begin(), text.end(), "NONE FOR THE START ROW (ROW 4):"), text.end());
  EXPECT_NE(std::find(text.begin(), text.end(),
                      "WARNING: 3 of 8 rows did not fit (their parameters"),
            text.end());
  EXPECT_EQ(text.back(), "3-5");
  EXPECT_NE(terminal.text().find("WARNING: Problem fitting the model to the data (row 4)"),
            std::string::npos);
  // Rows named by their runs, in lines that fit a message box.
  const std::vector<Index> rows = {1, 2, 3, 5, 7, 8, 10, 100, 101, 102, 104, 106, 108, 110, 112};
  const std::vector<std::string> lines = kzt_olmi_failed_text(rows, 120);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "1-3, 5, 7-8, 10, 100-102, 104, 106, 108, 110,");
  EXPECT_EQ(lines[4], "112");
  EXPECT_TRUE(kzt_olmi_failed_text({}, 120).empty());
}

TEST(Olmi, ResultTextNamesTheStartRowAndBothKindsOfBadRow) {
  // Ten rows of a peak at 50 fitted from row 5 without evolution: rows 3, 4
  // and 8 hold a dip, whose fit ends on a height not above 0 (no valid
  // model; any such height draws the same model, so where it stops is the
  // fit's path); rows 6 and 7 are masked off (no fit).
  Rows r;
  for (Index y = 1; y <= 10; ++y) {
    const float height = y == 3 || y == 4 || y == 8 ? -100.0f : 100.0f;
    Status status = kStatusGood;
    kzt_olmi_row_model(gaussian_on_level(50.0f, height, 2.0f, 10.0f), kX, 1, kX,
                       std::span<float>(r.data.data() + (y - 1) * kX, kX), status);
  }
  std::vector<std::uint8_t> mask(kX * kY, 0);
  std::fill(mask.begin() + 5 * kX, mask.begin() + 7 * kX, 1);
  OlmiControls controls;
  controls.evolve = false;
  OlmiOutput output;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_OLMIOPTIMISE(kX, kY, r.data, {}, mask, r.axis, 1, 1, kX, 10, 5, "Scan", controls,
                   gaussian_on_level(50.5f, 80.0f, 2.5f, 8.0f), r.vectors, nullptr, &output,
                   status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(output.failed_rows, (std::vector<Index>{6, 7}));
  EXPECT_EQ(output.invalid_rows, (std::vector<Index>{3, 4, 8}));
  // The invalid rows keep their values, the failed ones hold 0.0.
  EXPECT_LE(r.value(2, 3), 0.0f);
  EXPECT_NE(r.value(4, 3), 0.0f);
  EXPECT_EQ(r.value(2, 6), 0.0f);
  EXPECT_EQ(r.value(4, 6), 0.0f);
  EXPECT_NEAR(r.value(2, 9), 100.0f, 0.1f);
  const std::vector<std::string>& text = output.text;
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text[0], "FITTED PARAMETERS (ROW 5)");
  EXPECT_EQ(output.start_text, std::vector<std::string>(text.begin(), text.begin() +
                                                            static_cast<std::ptrdiff_t>(
                                                                output.start_text.size())));
  const auto line = [&](const std::string& wanted) {
    return std::find(text.begin(), text.end(), wanted) - text.begin();
  };
  const auto failed = line("WARNING: 2 of 10 rows did not fit (their parameters");
  const auto invalid = line("WARNING: 3 of 10 rows ended as no valid");
  ASSERT_LT(failed + 2, static_cast<std::ptrdiff_t>(text.size()));
  EXPECT_EQ(text[static_cast<std::size_t>(failed + 2)], "6-7");
  ASSERT_LT(invalid + 2, static_cast<std::ptrdiff_t>(text.size()));
  EXPECT_EQ(text[static_cast<std::size_t>(invalid + 1)],
            "model (their values are kept in the vectors): rows");
  EXPECT_EQ(text.back(), "3-4, 8");
  EXPECT_TRUE(kzt_olmi_invalid_text({}, 10).empty());
  // The terminal names each bad row at its warning, and ends with both
  // lists of rows.
  const std::string said = terminal.text();
  for (Index y : {3, 4, 8}) {
    const std::string warning =
        "WARNING: Feature 1 is not valid in row " + std::to_string(y) + ": GAU 1 MAX = ";
    const std::size_t at = said.find(warning);
    ASSERT_NE(at, std::string::npos) << y << "\n" << said;
    const std::string rest = said.substr(at + warning.size(), said.find('\n', at) - at);
    EXPECT_TRUE(rest[0] == '-' || rest.rfind("0.0000E+00", 0) == 0) << rest;
    EXPECT_NE(rest.find(" is not above 0"), std::string::npos) << rest;
  }
  for (Index y : {6, 7})
    EXPECT_NE(said.find("WARNING: Problem fitting the model to the data\n         (row " +
                        std::to_string(y) + ")\n"),
              std::string::npos)
        << y << "\n" << said;
  const std::size_t summary = said.find("WARNING: 2 of 10 rows did not fit (their parameters\n"
                                        "and results are 0.0 in the vectors): rows\n6-7\n");
  ASSERT_NE(summary, std::string::npos) << said;
  EXPECT_EQ(said.substr(said.find("WARNING: 3 of 10 rows ended as no valid", summary)),
            "WARNING: 3 of 10 rows ended as no valid\n"
            "model (their values are kept in the vectors): rows\n3-4, 8\n");
}

// The number after LABEL in TEXT.
double number_after(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  return at == std::string::npos ? -1.0 : std::stod(text.substr(at + label.size()));
}

TEST(Olmi, RowEndingAtTheCallBudgetReportsAndKeepsOneSetOfParameters) {
  // Row 4 fitted alone from a start far off, with two model calls allowed.
  Rows r;
  OlmiControls controls;
  controls.iterations = 0.5f;
  std::vector<float> model(kX * kY, 0.0f);
  OlmiOutput output;
  output.model = model;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_OLMIOPTIMISE(kX, kY, r.data, {}, {}, r.axis, 1, 4, kX, 4, 4, "Scan", controls,
                   gaussian_on_level(30.0f, 60.0f, 3.5f, 5.0f), r.vectors, nullptr, &output,
                   status);
  ASSERT_EQ(status, kStatusGood);
  const std::string text = terminal.text();
  ASSERT_NE(text.find("WARNING: Problem fitting the model to the data"), std::string::npos) << text;
  EXPECT_FALSE(output.start_fitted);
  // The row of the model image holds a model, and the printed sum of squares,
  // RMS mis-fit and R_p all belong to it.
  double sum = 0.0, abs_diff = 0.0, abs_data = 0.0;
  for (Index x = 1; x <= kX; ++x) {
    const std::size_t k = static_cast<std::size_t>(element(x, 4, kX));
    sum += (r.data[k] - model[k]) * (r.data[k] - model[k]);
    abs_diff += std::fabs(r.data[k] - model[k]);
    abs_data += std::fabs(r.data[k]);
  }
  EXPECT_GT(*std::max_element(model.begin() + 3 * kX, model.begin() + 4 * kX), 5.0f);
  EXPECT_NEAR(number_after(text, "Sum of squares ="), sum, 1e-3 * sum) << text;
  EXPECT_NEAR(number_after(text, "RMS mis-fit per data element ="), std::sqrt(sum / kX),
              1e-3 * std::sqrt(sum / kX))
      << text;
  EXPECT_NEAR(number_after(text, "R_p ="), 100.0 * abs_diff / abs_data, 0.01) << text;
  // A failed row gives no results.
  EXPECT_EQ(r.value(1, 4), 0.0f);
}

}  // namespace
}  // namespace kesta
