// Response corrections against closed forms: the fitted polynomial, the
// linearisation beyond the table, decay factors, normalisation, the
// flat-field profile and its look-up, the two-sphere paths and the flat
// field folded into the look-up table.

#include "app/distortion/response.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"
#include "numeric/chebyshev.hpp"

namespace kesta {
namespace {

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The fit of Y = 2 + 0.5 X over X = 1..4 (order 1 chosen and accepted).
PolynomialFit line_fit(std::string& out) {
  std::vector<float> x{1.0f, 1.5f, 2.0f, 2.5f, 3.0f, 3.5f, 4.0f}, y;
  for (const float v : x) y.push_back(2.0f + 0.5f * v);
  PolynomialFit fit;
  testing::ScriptedInput input({"1", "NO", "1", "YES"});
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  KZT_POLYNOMIAL(false, 0, 10, 7, x, y, 50, fit, s);
  out = terminal.text();
  EXPECT_EQ(s, kStatusGood);
  return fit;
}

TEST(Polynomial, FitEvaluatesAsTheLibraryAndOrdersAreLimited) {
  std::string out;
  const PolynomialFit fit = line_fit(out);
  ASSERT_EQ(fit.order, 1);
  EXPECT_TRUE(has(out, "Order =   0 residual = ")) << out;
  EXPECT_TRUE(has(out, "Order =   5 residual = "));
  EXPECT_FALSE(has(out, "Order =   6 residual = "));  // 7 points allow orders 0..5
  std::vector<float> at{0.0f, 1.0f, 2.2f, 4.0f, 9.0f}, library(at.size());
  Status s = kStatusGood;
  MA_CAL_POLYNOMIAL(false, fit.x_min, fit.x_max, static_cast<Index>(fit.coefficients.size()),
                    fit.order, fit.coefficients, 5, 5, at, library, s);
  for (std::size_t k = 0; k < at.size(); ++k)
    EXPECT_NEAR(fit.value(at[k]), library[k], 1e-5) << at[k];
  EXPECT_NEAR(fit.value(2.2f), 3.1, 1e-5);

  // Two points: order 0 only; an order beyond it is refused and asked again.
  std::vector<float> x{1.0f, 2.0f}, y{3.0f, 5.0f};
  PolynomialFit two;
  testing::ScriptedInput input({"1", "0", "YES"});
  testing::TerminalCapture terminal;
  KZT_POLYNOMIAL(false, 0, 10, 2, x, y, 50, two, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(two.order, 0);
  EXPECT_NEAR(two.value(1.7f), 4.0, 1e-5);
  // An escape at the acceptance keeps the fit given before.
  testing::ScriptedInput escape({"0", "\\\\"});
  PolynomialFit kept = two;
  kept.order = 7;
  KZT_POLYNOMIAL(false, 0, 10, 2, x, y, 50, kept, s);
  EXPECT_EQ(kept.order, 7);
}

TEST(Linearise, RatioInsideAndUnitSlopeOutsideTheTable) {
  std::string out;
  const PolynomialFit fit = line_fit(out);  // R(L) = 2 + 0.5 L over L = 1..4
  EXPECT_NEAR(kzt_linearise_value(fit, 100.0f), 300.0f, 1e-2f);
  // Below 10: continues from the value at 10 (25) with unit slope.
  EXPECT_NEAR(kzt_linearise_value(fit, 1.0f), 1.0f - 10.0f + 25.0f, 1e-3f);
  EXPECT_NEAR(kzt_linearise_value(fit, -5.0f), -5.0f - 10.0f + 25.0f, 1e-3f);
  // Above 10^4: from 4 x 10^4.
  EXPECT_NEAR(kzt_linearise_value(fit, 1.0e5f), 1.0e5f - 1.0e4f + 4.0e4f, 1.0f);
  EXPECT_TRUE(std::isnan(kzt_linearise_value(fit, std::nanf(""))));
  // The row form gives the same values.
  std::vector<float> row{100.0f, 1.0f, -5.0f, 1.0e5f, 10.0f, 10000.0f, 3.7f, std::nanf(""), 555.0f};
  std::vector<double> work;
  std::vector<float> one = row;
  kzt_linearise_row(fit, row.data(), std::ssize(row), work);
  for (std::size_t k = 0; k < row.size(); ++k) {
    if (std::isnan(one[k])) {
      EXPECT_TRUE(std::isnan(row[k]));
      continue;
    }
    EXPECT_NEAR(row[k], kzt_linearise_value(fit, one[k]), 1e-3f * std::abs(row[k])) << one[k];
  }
}

TEST(Decay, FactorsFollowTheModel) {
  DecayModel m;
  constexpr Index kRows = 10;
  std::vector<float> data(3 * kRows, 100.0f), variances(data.size(), 4.0f);
  const double first =
      kzt_decay_correct(m, 3, kRows, 1, 2, 3, 9, true, data, variances);
  const auto remaining = [&](Index y) {
    const double ts = 60.0 + 36.0 + 0.1 * static_cast<double>(kRows - y), tl = ts + 10.0;
    return (0.134264 * 179.411 * (std::exp(-ts / 179.411) - std::exp(-tl / 179.411)) +
            0.865736 * 6631.4 * (std::exp(-ts / 6631.4) - std::exp(-tl / 6631.4))) /
           10.0;
  };
  EXPECT_NEAR(data[element(1, 9, 3)], 100.0f, 1e-4f);           // the first row read
  EXPECT_NEAR(first, remaining(9) / remaining(2), 1e-9);
  EXPECT_GT(data[element(2, 2, 3)], data[element(2, 5, 3)]);   // read last, most decayed
  EXPECT_FLOAT_EQ(data[element(1, 10, 3)], 100.0f);            // outside the region
  EXPECT_NEAR(variances[element(3, 2, 3)], 4.0 * first * first, 1e-3);

  // No exposure: the decay at the read-out time; a time constant of 0
  // leaves nothing of its part after the start.
  m.exposure = 0.0;
  m.t_fast = 0.0;
  EXPECT_NEAR(kzt_decay_remaining(m, 4, 4), 0.865736 * std::exp(-96.0 / 6631.4), 1e-9);
  m.elapsed = m.start_up = 0.0;
  EXPECT_NEAR(kzt_decay_remaining(m, 4, 4), 1.0, 1e-12);
  m.exposure = 5.0;
  EXPECT_TRUE(std::isfinite(kzt_decay_remaining(m, 4, 4)));
}

TEST(Decay, ModelWithoutSignalLeavesTheData) {
  std::vector<float> data(16, 3.0f);
  testing::ScriptedInput input({"YES", "1", "0", "", "", "", "", "", "0", ""});
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  KZT_DECAY(4, 4, 4, 1, 1, 4, 4, false, data, {}, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(has(terminal.text(), "leaves no signal")) << terminal.text();
  for (const float v : data) EXPECT_EQ(v, 3.0f);
}

TEST(Normalisation, ColumnsToTheLargestMeanAndTheirEdgeCases) {
  constexpr Index kX = 4, kY = 3;
  std::vector<float> data(kX * kY), mdata(kX * kY, -1.0f), var(kX * kY, 1.0f), mvar(kX * kY);
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) data[element(x, y, kX)] = static_cast<float>(x);
  std::vector<std::uint8_t> mask(kX * kY, 0);
  for (Index y = 1; y <= kY; ++y) mask[element(2, y, kX)] = 1;  // column 2 wholly masked
  data[element(3, 1, kX)] = 99.0f;
  mask[element(3, 1, kX)] = 1;  // a masked pixel does not count, but is scaled
  Status s = kStatusGood;
  ASSERT_TRUE(kzt_normalise(true, kX, 1, 1, kX, kY, true, data, mask, var, mdata, mvar, s));
  for (Index y = 1; y <= kY; ++y) {
    EXPECT_FLOAT_EQ(mdata[element(1, y, kX)], 4.0f);
    EXPECT_FLOAT_EQ(mdata[element(2, y, kX)], 2.0f);  // kept
    EXPECT_FLOAT_EQ(mdata[element(4, y, kX)], 4.0f);
    EXPECT_FLOAT_EQ(mvar[element(1, y, kX)], 16.0f);
  }
  EXPECT_FLOAT_EQ(mdata[element(3, 1, kX)], 99.0f * 4.0f / 3.0f);
  // Rows: all rows have the same mean, so nothing changes.
  ASSERT_TRUE(kzt_normalise(false, kX, 1, 2, kX, kY, false, data, {}, {}, mdata, {}, s));
  EXPECT_FLOAT_EQ(mdata[element(4, 3, kX)], 4.0f);
  // A region of zeros: nothing is written.
  std::vector<float> zeros(kX * kY, 0.0f);
  std::fill(mdata.begin(), mdata.end(), -1.0f);
  testing::TerminalCapture terminal;
  EXPECT_FALSE(kzt_normalise(true, kX, 1, 1, kX, kY, false, zeros, {}, {}, mdata, {}, s));
  EXPECT_EQ(mdata[0], -1.0f);
  // A column of mean 0 beside others keeps its values.
  zeros[element(1, 1, kX)] = 8.0f;
  EXPECT_TRUE(kzt_normalise(true, kX, 1, 1, kX, kY, false, zeros, {}, {}, mdata, {}, s));
  EXPECT_EQ(mdata[element(2, 2, kX)], 0.0f);
}

TEST(FlatField, ProfileOfAConstantSourceAndItsLookUpAtBothEnds) {
  PolynomialFit flat;
  flat.x_min = 0.0f;
  flat.x_max = 30.0f;
  flat.coefficients = {2.0f};  // emission 1.0 at every angle
  std::vector<float> profile(11);
  Status s = kStatusGood;
  ASSERT_TRUE(KZT_CALPROFILE(flat, 0.1f, 0.001f, 0.0f, 10, profile, s));
  for (Index i = 0; i <= 10; ++i) {
    const double c = std::cos(std::atan2(0.001 * static_cast<double>(i), 0.1));
    EXPECT_NEAR(profile[i], 1.0 / (c * c * c), 1e-5) << i;
  }
  EXPECT_FLOAT_EQ(profile[0], 1.0f);
  // Off-axis absorption: f = (1 - 0.8^s) / 0.2 at the last radius.
  ASSERT_TRUE(KZT_CALPROFILE(flat, 0.1f, 0.001f, 0.2f, 10, profile, s));
  const double s10 = 1.0 / std::cos(std::atan2(0.01, 0.1));
  EXPECT_NEAR(profile[10], s10 * s10 * s10 * (1.0 - std::pow(0.8, s10)) / 0.2, 1e-5);
  // An emission falling to 0 inside the profile is refused.
  PolynomialFit falling = flat;
  falling.order = 1;
  falling.coefficients = {2.0f, -1.1f};
  EXPECT_FALSE(KZT_CALPROFILE(falling, 0.1f, 0.01f, 0.0f, 10, profile, s));

  // Entry k holds radius k - 1: the pixel on the centre takes entry 1, one
  // 2 pixels away entry 3, and everything beyond the table entry n + 1.
  std::vector<float> table{1.0f, 2.0f, 3.0f, 4.0f};  // n = 3
  constexpr Index kN = 12;
  std::vector<float> data(kN * kN, 1.0f);
  KZT_CALFLATFIELD(3, table, 4.5f, 4.5f, 1.0e-4f, 2.0e-4f, kN, kN, 1, 1, kN, kN, data, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(data[element(5, 5, kN)], 1.0f);
  EXPECT_EQ(data[element(6, 5, kN)], 2.0f);
  EXPECT_EQ(data[element(7, 5, kN)], 3.0f);
  EXPECT_EQ(data[element(8, 5, kN)], 4.0f);
  EXPECT_EQ(data[element(5, 6, kN)], 3.0f);  // Y pixels twice the X size
  EXPECT_EQ(data[element(12, 12, kN)], 4.0f);
  EXPECT_EQ(kzt_profile_radii(4.5f, 4.5f, 1.0e-4f, 1.0e-4f, 1, 1, kN, kN), 11);
  EXPECT_EQ(kzt_profile_radii(1.0e30f, 0.0f, 1.0e-4f, 1.0e-4f, 1, 1, kN, kN), -1);
  // In X-pixel sizes: Y distances count twice with pixels twice as high.
  EXPECT_EQ(kzt_profile_radii(4.5f, 4.5f, 1.0e-4f, 2.0e-4f, 1, 1, kN, kN), 17);
}

TEST(FlatField, NonSquarePixelsFollowTheClosedFormToTheFarCorner) {
  // A source of even emission, 100 mm from the detector, centred on the
  // corner of 100 x 200-micron pixels: every pixel is multiplied by
  // 1 / cos^3 of its angle, the far corner as well as the near one.
  testing::TempDir dir;
  const std::string scan = dir.file("source.txt");
  {
    std::FILE* f = std::fopen(scan.c_str(), "w");
    for (int a = 0; a <= 30; a += 5) std::fprintf(f, "%d 5.0\n", a);
    std::fclose(f);
  }
  kzt_forget_answers();
  constexpr Index kX = 64, kY = 48;
  std::vector<float> data(kX * kY, 1.0f);
  float xps = 1.0e-4f, yps = 1.0e-4f;
  Status s = kStatusGood;
  {
    testing::ScriptedInput input(
        {scan, "", "", "", "0", "1", "2", "0", "YES", "0", "0", "100", "100", "200", "0"});
    testing::TerminalCapture terminal;
    KZT_FLATFIELD(false, kX, kY, 1, 1, kX, kY, xps, yps, data, s);
    ASSERT_EQ(s, kStatusGood) << terminal.text();
  }
  EXPECT_FLOAT_EQ(yps, 2.0e-4f);
  // The look-up takes the nearest whole X-pixel radius: within half a step.
  Index off = 0;
  double worst = 0.0;
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) {
      const double r = std::hypot((x - 0.5) * 1.0e-4, (y - 0.5) * 2.0e-4);
      const double c = std::cos(std::atan2(r, 0.1));
      const double error = std::abs(data[element(x, y, kX)] * c * c * c - 1.0);
      off += error > 2.5e-4;
      worst = std::max(worst, error);
    }
  EXPECT_EQ(off, 0) << "worst relative error " << worst;
  kzt_forget_answers();
}

TEST(FlatField, TwoSpherePathsAndTheImpossibleGeometry) {
  std::vector<float> path(11, -1.0f);
  Status s = kStatusGood;
  // On axis the path crosses the layer straight: its thickness.
  ASSERT_TRUE(KZT_CALABSORPTION(0.4f, 0.0005f, 0, 0.45f, 0.0008f, 0, 0.3f, 1.5e-4f, 10, path, s));
  EXPECT_NEAR(path[0], 0.0005f, 1e-6f);
  EXPECT_GT(path[10], path[0]);  // off axis the path is longer
  testing::TerminalCapture terminal;
  // The source on the detection sphere itself.
  EXPECT_FALSE(KZT_CALABSORPTION(0.4f, 0.0005f, 0, 0.1f, 0.0008f, 0, 0.3f, 1.5e-4f, 10, path, s));
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(has(terminal.text(), "ERROR: The source/detector geometry is impossible"));
}

TEST(FlatFieldTable, FractionsScaledAndCut) {
  DistortionTable t;
  ASSERT_TRUE(t.allocate(3, 2));
  std::fill(t.x_shifts.begin(), t.x_shifts.end(), 0);
  std::fill(t.y_shifts.begin(), t.y_shifts.end(), 0);
  std::fill(t.fractions.begin(), t.fractions.end(), 0);
  t.fractions[0] = 200;  // pixel (1, 1) to cell (1, 1)
  t.fractions[1] = 55;   // and to cell (2, 1)
  t.fractions[9 * 2 + 4] = 255;  // pixel (3, 1) to cell (4, 2): outside, kept
  std::vector<float> ff{0.5f, 2.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  const DistortionTable before = t;
  int retstat = 0;
  KZT_FFDCLUTC(3, 2, 3, 1, ff, t, retstat);
  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(t.fractions, before.fractions);
  KZT_FFDCLUTC(3, 2, 3, 2, ff, t, retstat);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(t.fractions[0], 100);
  EXPECT_EQ(t.fractions[1], 110);
  EXPECT_EQ(t.fractions[9 * 2 + 4], 255);
  ff[0] = 2.0f;
  KZT_FFDCLUTC(3, 2, 3, 2, ff, t, retstat);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(t.fractions[0], 200);
  EXPECT_EQ(t.fractions[1], 220);
  KZT_FFDCLUTC(3, 2, 3, 2, ff, t, retstat);
  EXPECT_EQ(retstat, -1);
  EXPECT_EQ(t.fractions[0], 255);
  EXPECT_EQ(t.fractions[1], 255);
}

}  // namespace
}  // namespace kesta
