#include "app/imageops/statistics_commands.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/main/variables_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;
using kesta::testing::variable_value;

namespace {

// A 4 x 4 image holding 1..16 (X fastest) with axes i - 0.5.
struct Ramp {
  std::vector<float> data = std::vector<float>(16);
  std::vector<float> axis = {0.5f, 1.5f, 2.5f, 3.5f};
  Ramp() {
    for (int i = 0; i < 16; ++i) data[static_cast<std::size_t>(i)] = static_cast<float>(i + 1);
  }
};

class Statistics : public ::testing::Test {
 protected:
  void SetUp() override {
    kesta::testing::reset_dialogue();
    kzt_forget_polygon_mean();
  }
  void TearDown() override { kesta::testing::reset_dialogue(); }
};

TEST_F(Statistics, RegionReportAndVariables) {
  Ramp ramp;
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_STATISTICS(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, ramp.data, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(terminal.text(),
            "INFO: Statistics of Active Data Region (ADR):\n"
            "INFO:  Data Coordinate limits: Min (   0.50     ,   0.50    )\n"
            "INFO:  Data Coordinate limits: Max (    3.5     ,    3.5    )\n"
            "INFO:  Pixel number limits: Min (     1 ,     1) Max (    4 ,     4)\n"
            "INFO:  Total number of data values =      4 *      4 =         16\n"
            "INFO:  Minimum data value =   1.0000\n"
            "INFO:  Maximum data value =   16.000\n"
            "INFO:  Average (mean) data value =   8.5000\n"
            "INFO:  Sum of data values =   136.00\n"
            "INFO:  Root mean square (RMS) value =   9.6695\n"
            "INFO:  Standard deviation value =   4.7610\n"
            "INFO:  Skewness parameter =   0.0000\n");
  const struct {
    const char* name;
    float value;
  } expected[] = {{"##MINIMUM", 1.0f}, {"##MAXIMUM", 16.0f}, {"##MEAN", 8.5f},
                  {"##TOTAL", 136.0f}, {"##RMS", 9.66954f},  {"##SIGMA", 4.76095f},
                  {"##SKEWNESS", 0.0f}};
  for (const auto& e : expected)
    EXPECT_NEAR(variable_value(e.name).rvalue, e.value, 1e-4) << e.name;
}

// The figures a region without a finite value has none of.
constexpr const char* kFigures[] = {"##MINIMUM", "##MAXIMUM", "##MEAN",  "##RMS",
                                    "##SIGMA",   "##SKEWNESS", "##TOTAL"};

// A NaN and an infinite pixel take no part in any figure or variable and
// are counted in one line; a region without a finite pixel says so, and
// leaves no figure: neither the search's start values, nor means of
// nothing, nor the figures of the region before.
TEST_F(Statistics, RegionLeavesOutValuesThatAreNotFinite) {
  Ramp ramp;
  ramp.data[4] = NAN;        // 5
  ramp.data[15] = INFINITY;  // 16
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_STATISTICS(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, ramp.data, status);
  EXPECT_EQ(status, kStatusGood);
  const std::string text = terminal.text();
  EXPECT_NE(text.find("INFO:  Total number of data values =      4 *      4 =         16\n"
                      "INFO:  2 values are not finite (NaN or infinite) and were left out\n"
                      "INFO:  Minimum data value =   1.0000\n"
                      "INFO:  Maximum data value =   15.000\n"),
            std::string::npos)
      << text;
  // 1..15 without 5: 115 over 14 values.
  EXPECT_NE(text.find("INFO:  Sum of data values =   115.00\n"), std::string::npos) << text;
  EXPECT_NEAR(variable_value("##TOTAL").rvalue, 115.0f, 1e-4);
  EXPECT_NEAR(variable_value("##MEAN").rvalue, 115.0f / 14.0f, 1e-4);
  EXPECT_EQ(variable_value("##MAXIMUM").rvalue, 15.0f);

  const std::vector<float> none = {NAN, NAN, INFINITY, NAN};
  TerminalCapture again;
  KZT_STATISTICS(2, 2, 1, 1, 2, 2, ramp.axis, ramp.axis, none, status);
  EXPECT_EQ(status, kStatusGood);
  const std::string empty = again.text();
  EXPECT_NE(empty.find("INFO:  4 values are not finite (NaN or infinite) and were left out\n"
                       "INFO:  The region holds no finite data value\n"),
            std::string::npos)
      << empty;
  EXPECT_EQ(empty.find("data value ="), std::string::npos) << empty;
  EXPECT_EQ(empty.find("e+38"), std::string::npos) << empty;
  for (const char* name : kFigures) EXPECT_FALSE(variable_value(name).defined) << name;

  // A macro's answer naming one is then no number: its prompt refuses it.
  ScriptedInput input({"##MEAN", "2.5"});
  float value = 0.0f;
  IO_INPR(false, 0.0f, 0.0f, true, "VALUE", {"Enter a value"}, {"Enter real number"}, value,
          status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.prompts.size(), 2u);
  EXPECT_EQ(value, 2.5f);
}

// Finite values whose sum passes single precision: the mean is still a
// figure, the sum is said to lie beyond the output's range (an "Infinity"
// would read as an infinite pixel summed after those left out), and its
// variable holds no infinity.
TEST_F(Statistics, ASumBeyondSinglePrecisionIsSaidSo) {
  Ramp ramp;
  std::vector<float> huge(16, 1.7e38f);
  huge[3] = NAN;
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_STATISTICS(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, huge, status);
  EXPECT_EQ(status, kStatusGood);
  const std::string text = terminal.text();
  EXPECT_NE(text.find("INFO:  Average (mean) data value =  0.17000E+39\n"
                      "INFO:  Sum of data values lies above 3.4E+38, beyond the output's range\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("Infinity"), std::string::npos) << text;
  EXPECT_FALSE(variable_value("##TOTAL").defined);
  EXPECT_NEAR(variable_value("##MEAN").rvalue, 1.7e38f, 1e32f);
  for (float& v : huge) v = -1.7e38f;
  TerminalCapture below;
  KZT_STATISTICS(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, huge, status);
  EXPECT_NE(below.text().find("Sum of data values lies below -3.4E+38"), std::string::npos)
      << below.text();
  // Two values of both signs near the limit: the spread passes it too.
  for (std::size_t k = 0; k < huge.size(); ++k) huge[k] = k % 2 == 0 ? 3.0e38f : -3.0e38f;
  TerminalCapture spread;
  KZT_STATISTICS(4, 4, 1, 1, 2, 1, ramp.axis, ramp.axis, huge, status);
  EXPECT_NE(spread.text().find("INFO:  Standard deviation value lies above 3.4E+38, beyond the "
                               "output's range\n"),
            std::string::npos)
      << spread.text();
  EXPECT_EQ(spread.text().find("Infinity"), std::string::npos) << spread.text();
  EXPECT_FALSE(variable_value("##SIGMA").defined);
  // Values beyond the search's start values are their own extremes.
  for (const float v : {3.4e38f, -3.4e38f}) {
    std::fill(huge.begin(), huge.end(), v);
    TerminalCapture extremes;
    KZT_STATISTICS(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, huge, status);
    const std::string said = v > 0.0f ? " 0.34000E+39\n" : "-0.34000E+39\n";
    EXPECT_NE(extremes.text().find("INFO:  Minimum data value = " + said +
                                   "INFO:  Maximum data value = " + said),
              std::string::npos)
        << extremes.text();
    EXPECT_EQ(variable_value("##MINIMUM").rvalue, v);
    EXPECT_EQ(variable_value("##MAXIMUM").rvalue, v);
  }
}

// VALUES each right-justified in 10 characters with two decimals.
std::string fixed_fields(std::initializer_list<float> values) {
  std::string out;
  for (const float v : values) {
    char field[32];
    std::snprintf(field, sizeof field, "%10.2f", static_cast<double>(v));
    out += field;
  }
  return out;
}

TEST_F(Statistics, PolygonsCountPixelCentresInsideAndSubtractThePreviousMean) {
  Ramp ramp;
  const std::vector<float> uniform(16, 3.0f);
  const struct {
    std::vector<float> x, y;
    const std::vector<float>* data;
    Index n;
    std::size_t lines;
    float minus_back;
  } cases[] = {
      // Two corners: a rectangle holding the centres of columns 1..2, rows 1..3.
      {{0.0f, 2.0f}, {3.0f, 0.0f}, &ramp.data, 6, 9, 1 + 2 + 5 + 6 + 9 + 10},
      // A triangle below the diagonal x = y (boundary included): 10 centres.
      {{0.0f, 4.0f, 4.0f}, {0.0f, 0.0f, 4.0f}, &uniform, 10, 9, 30.0f - 10.0f * 5.5f},
      // The same area again on uniform data: nothing above the background.
      {{0.0f, 4.0f, 4.0f}, {0.0f, 0.0f, 4.0f}, &uniform, 10, 9, 0.0f},
      // No pixel centre inside: only the first two lines, no figures.
      {{0.1f, 0.4f}, {0.1f, 0.4f}, &uniform, 0, 2, 0.0f},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines;
    Status status = kStatusGood;
    kzt_polygon_statistics(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, *c.data, c.x, c.y, lines,
                           status);
    EXPECT_EQ(status, kStatusGood);
    ASSERT_EQ(lines.size(), c.lines);
    // All four extremes, the largest Y last, whatever the line's length.
    EXPECT_EQ(lines[0], "INFO: Extremes of polygon (X/Y min, X/Y max) = " +
                            fixed_fields({*std::min_element(c.x.begin(), c.x.end()),
                                          *std::min_element(c.y.begin(), c.y.end()),
                                          *std::max_element(c.x.begin(), c.x.end()),
                                          *std::max_element(c.y.begin(), c.y.end())}));
    EXPECT_EQ(lines[1], "      Number of pixels inside polygon = " +
                            std::to_string(c.n).insert(0, 8 - std::to_string(c.n).size(), ' '));
    if (c.n > 0) {
      EXPECT_FLOAT_EQ(variable_value("##INTEG_MINUS_BACK").rvalue, c.minus_back);
    } else {
      // Nothing inside measures nothing.
      for (const char* name : kFigures) EXPECT_FALSE(variable_value(name).defined) << name;
      EXPECT_FALSE(variable_value("##INTEG_MINUS_BACK").defined);
    }
  }
}

TEST_F(Statistics, PolygonsLeaveOutValuesThatAreNotFinite) {
  Ramp ramp;
  // The rectangle over columns 1..2, rows 1..3 holds 1 2 5 6 9 10.
  ramp.data[4] = NAN;
  ramp.data[9] = -INFINITY;
  const std::vector<float> x = {0.0f, 2.0f}, y = {3.0f, 0.0f};
  std::vector<std::string> lines;
  Status status = kStatusGood;
  kzt_polygon_statistics(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, ramp.data, x, y, lines, status);
  EXPECT_EQ(status, kStatusGood);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[1], "      Number of pixels inside polygon =        6");
  EXPECT_EQ(lines[2], "      2 pixels inside are not finite (NaN or infinite) and were left out");
  EXPECT_FLOAT_EQ(variable_value("##TOTAL").rvalue, 1 + 2 + 6 + 9);
  EXPECT_FLOAT_EQ(variable_value("##MEAN").rvalue, 18.0f / 4.0f);
  EXPECT_FLOAT_EQ(variable_value("##MAXIMUM").rvalue, 9.0f);

  // Nothing finite inside: said, and no extremes or mean of nothing.
  const std::vector<float> none(16, NAN);
  kzt_polygon_statistics(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, none, x, y, lines, status);
  EXPECT_EQ(status, kStatusGood);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "      6 pixels inside are not finite (NaN or infinite) and were left out");
  EXPECT_EQ(lines[3], "      No finite value inside the polygon");
  for (const char* name : kFigures) EXPECT_FALSE(variable_value(name).defined) << name;
  EXPECT_FALSE(variable_value("##INTEG_MINUS_BACK").defined);
  // Nor is that mean of nothing the background of the next polygon: the last
  // average measured, 18 / 4, still is.
  kzt_polygon_statistics(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, ramp.data, x, y, lines, status);
  EXPECT_FLOAT_EQ(variable_value("##INTEG_MINUS_BACK").rvalue, 18.0f - 4.0f * (18.0f / 4.0f));
}

TEST_F(Statistics, GraphicalPolygonFromReplayedPoints) {
  Ramp ramp;
  for (const bool escape : {false, true}) {
    ScriptedInput input(escape
                            ? std::vector<std::string>{"\\\\"}
                            : std::vector<std::string>{"2", "0.0", "3.0", "2.0", "0.0", "O.K."});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_GSTATISTICS(4, 4, 1, 1, 4, 4, ramp.axis, ramp.axis, ramp.data, "t", "x", "y", "z",
                    status);
    EXPECT_EQ(status, kStatusGood);
    // The escape leaves the first polygon's results.
    EXPECT_FLOAT_EQ(variable_value("##TOTAL").rvalue, 33.0f) << terminal.text();
    EXPECT_EQ(terminal.text().find("Number of pixels inside polygon =        6") !=
                  std::string::npos,
              !escape);
  }
}

}  // namespace
