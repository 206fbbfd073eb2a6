#include "app/imageops/synthetic.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

const std::string kEscape = "\\\\";

class Synthetic : public ::testing::Test {
 protected:
  void SetUp() override {
    kesta::testing::reset_dialogue();
    kzt_forget_answers();
  }
};

TEST_F(Synthetic, CreateDataDefaultsAndEscape) {
  constexpr Index kX = 5, kY = 3;
  for (const bool escape : {false, true}) {
    std::vector<float> data(kX * kY, 4.0f), variances(kX * kY, 2.0f), xaxis(kX, 9.0f),
        yaxis(kY, 9.0f);
    Index xn = 2, yn = 2, xs = 2, ys = 2, xe = 2, ye = 2;
    std::string title = "t", xl = "x", yl = "y", zl = "z";
    ScriptedInput input(escape ? std::vector<std::string>{"3", kEscape}
                               : std::vector<std::string>{"", ""});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_CREATEDATA(true, kX, kY, xn, yn, xs, ys, xe, ye, xaxis, yaxis, data, variances, title, xl,
                   yl, zl, status);
    if (escape) {
      EXPECT_EQ(status, kStatusEscape);
      EXPECT_EQ(xn, 2);
      EXPECT_EQ(title, "t");
      EXPECT_EQ(data, std::vector<float>(kX * kY, 4.0f));
      continue;
    }
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(std::vector<Index>({xn, yn, xs, ys, xe, ye}), std::vector<Index>({5, 3, 1, 1, 5, 3}));
    EXPECT_EQ(data, std::vector<float>(kX * kY, 0.0f));
    EXPECT_EQ(variances, std::vector<float>(kX * kY, 0.0f));
    EXPECT_EQ(xaxis, (std::vector<float>{0.5f, 1.5f, 2.5f, 3.5f, 4.5f}));
    EXPECT_EQ(std::vector<std::string>({title, xl, yl, zl}),
              std::vector<std::string>({"Simulated Data", "Columns", "Rows", "Intensity"}));
  }
}

// A Gaussian of width 0 cannot be drawn: the width questions refuse it
// rather than the routine behind them, and the data stay as they were.
TEST_F(Synthetic, GaussianWidthsMustBeAboveZero) {
  constexpr Index kN = 5;
  std::vector<float> data(kN * kN, 1.0f), axis{0.5f, 1.5f, 2.5f, 3.5f, 4.5f};
  ScriptedInput input({"", "", "10", "", "0", "0.5", "0", "0.5"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_GAUSSIAN(kN, kN, 1, 1, kN, kN, axis, axis, data, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_GT(data[12], 5.0f);  // the centre pixel holds the peak
  // Refused until the input ends: an escape, the data untouched.
  std::vector<float> untouched(kN * kN, 1.0f);
  ScriptedInput refused({"", "", "10", "", "0"});
  KZT_GAUSSIAN(kN, kN, 1, 1, kN, kN, axis, axis, untouched, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(untouched, std::vector<float>(kN * kN, 1.0f));
}

TEST_F(Synthetic, ImagePlateResponseAndClamping) {
  const double bottom = 40.0 * std::pow(10.0, -2.5);
  const struct {
    int bits;
    float in;
    double out;
  } cases[] = {{8, 128.0f, 40.0},
               {8, 0.0f, bottom},
               {8, -7.0f, bottom},
               {8, 127.5f, 40.0},
               {8, 1e30f, 40.0 * std::pow(10.0, 5.0 * (255.0 / 256 - 0.5))},
               {20, 524288.0f, 40.0},
               {20, NAN, bottom},
               {16, 40000.4f, 40.0 * std::pow(10.0, 5.0 * (40000.0 / 65536 - 0.5))}};
  for (const auto& c : cases) {
    std::vector<float> data = {c.in};
    kzt_fuji_linearise(1, 1, 1, 1, 1, 10000, 5.0f, c.bits, data);
    EXPECT_NEAR(data[0], c.out, 1.0e-5 * c.out) << c.bits << " " << c.in;
  }
}

TEST_F(Synthetic, FilmLinearisationAndGranularityVariances) {
  // D1 100, G 2, fog 0.1 OD (10 in data), saturation 200, P 0.5, A 1, C 0.05.
  std::vector<float> data = {200.0f, 200.5f, 5.0f, 50.0f}, variances(4, 1.0f);
  ScriptedInput input({"100", "2", "0.1", "200", "0.5", "1", "0.05"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_LINEARISE(4, 1, 1, 1, 4, 1, true, data, variances, status);
  ASSERT_EQ(status, kStatusGood);
  const auto linear = [](double v) { return (v / 100 + 0.05 * (v / 100) * (v / 100)) * 100; };
  const auto variance = [](double v) {
    return 4.0 * 1e4 * (v / 100) / 2.0 * std::pow(2 * 0.0005 * v + 1, 2);
  };
  const std::vector<double> expected_data = {linear(200), linear(200.5), linear(5), linear(50)};
  const std::vector<double> expected_variances = {variance(200), 1e10, 1e10, variance(50)};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(data[i], expected_data[i], 1e-4 * expected_data[i]) << i;
    EXPECT_NEAR(variances[i], expected_variances[i], 1e-5 * expected_variances[i]) << i;
  }
}

TEST_F(Synthetic, VariancesFromAnEstimatedGain) {
  constexpr Index kX = 6, kY = 5;
  std::vector<float> data(kX * kY);
  unsigned seed = 3;
  for (float& v : data) {
    seed = seed * 1103515245u + 12345u;
    v = static_cast<float>((seed >> 16) % 50) + 20.0f;
  }
  data[element(3, 3, kX)] = 0.0f;    // not above zero: no part of the gain
  data[element(4, 3, kX)] = 500.0f;  // saturated
  auto at = [&](Index x, Index y) { return double{data[element(x, y, kX)]}; };
  // Region 1..5 by 1..5; maximum 100, fog -1.
  double sum = 0.0;
  int count = 0;
  for (Index y = 2; y <= 4; ++y)
    for (Index x = 2; x <= 4; ++x) {
      const double v = at(x, y);
      if (!(v > 0.0 && v < 100.0)) continue;
      double m = -v;
      for (Index j = -1; j <= 1; ++j)
        for (Index i = -1; i <= 1; ++i) m += at(x + i, y + j);
      sum += (v - m / 8) * (v - m / 8) / v;
      ++count;
    }
  const double gain = 0.8888888 * sum / count;
  std::vector<float> variances(kX * kY, -3.0f);
  {
    ScriptedInput input({"100", "-1"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_VARIANCES(kX, kY, 1, 1, 5, 5, data, variances, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_NE(terminal.text().find("Scaling constant = "), std::string::npos);
  }
  auto var = [&](Index x, Index y) { return double{variances[element(x, y, kX)]}; };
  EXPECT_NEAR(var(1, 1), gain * at(1, 1), 1e-4 * gain * at(1, 1));  // border
  EXPECT_NEAR(var(5, 3), gain * at(5, 3), 1e-4 * gain * at(5, 3));
  double block = 0.0;
  for (Index j = 1; j <= 3; ++j)
    for (Index i = 1; i <= 3; ++i) block += at(i, j);
  EXPECT_NEAR(var(2, 2), gain * block / 9, 1e-4 * gain * block);  // interior
  EXPECT_EQ(variances[element(4, 3, kX)], 1.0e20f);
  EXPECT_EQ(var(6, 3), -3.0);  // outside the region

  // A region one pixel wide has no interior: nothing changes.
  std::vector<float> untouched(kX * kY, -3.0f);
  ScriptedInput input({"100", "-1"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_VARIANCES(kX, kY, 2, 1, 2, 5, data, untouched, status);
  EXPECT_EQ(terminal.text().find("Scaling constant can not be calculated"), 0u);
  EXPECT_EQ(untouched, std::vector<float>(kX * kY, -3.0f));
}

TEST_F(Synthetic, SymmetricFunctionFromTheProfile) {
  constexpr Index kX = 4, kY = 4;
  const std::vector<float> profile = {10.0f, 20.0f, 30.0f, 40.0f};
  for (const float size : {0.0f, 2.0f}) {
    std::vector<float> data(kX * kY, 1.0f);
    ScriptedInput input({"0", "0"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_SYMFUN(size, 4, 3, profile, 1.0f, 1.0f, kX, kY, 1, 1, kX, kY, data, status);
    EXPECT_EQ(status, kStatusGood);
    if (size == 0.0f) {
      EXPECT_EQ(data, std::vector<float>(kX * kY, 1.0f));
      EXPECT_NE(terminal.text().find("WARNING"), std::string::npos);
      continue;
    }
    // Pixel (2, 1): r = sqrt(1.5^2 + 0.5^2) / 2; K = 2, F = r + 1.5 - 2.
    const double r = std::sqrt(2.5) / 2, f = r - 0.5;
    EXPECT_NEAR(data[element(2, 1, kX)], 1 + f * 20 + (1 - f) * 10, 1e-5);
  }
}

}  // namespace

namespace {

TEST_F(Synthetic, TriangleAddsToVerticesAndRows) {
  constexpr Index kN = 5;
  for (const bool escape : {false, true}) {
    std::vector<float> data(kN * kN, 0.0f);
    ScriptedInput input(escape ? std::vector<std::string>{"1", "1", kEscape}
                               : std::vector<std::string>{"1", "1", "5", "1", "1", "5", "2.0"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_TRIANGLE(kN, kN, 1, 1, kN, kN, data, status);
    if (escape) {
      EXPECT_EQ(status, kStatusEscape);
      EXPECT_EQ(data, std::vector<float>(kN * kN, 0.0f));
      continue;
    }
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(terminal.text().find("y_min, y_max =      1     5"), 0u) << terminal.text();
    const auto at = [&](Index x, Index y) { return data[element(x, y, kN)]; };
    // The vertices receive the constant twice, inner pixels once.
    EXPECT_EQ(at(1, 1), 4.0f);
    EXPECT_EQ(at(5, 1), 4.0f);
    EXPECT_EQ(at(1, 5), 4.0f);
    EXPECT_EQ(at(2, 2), 2.0f);
    EXPECT_EQ(at(5, 5), 0.0f);
  }
}

}  // namespace
