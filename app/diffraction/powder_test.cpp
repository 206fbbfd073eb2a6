// The terminal powder commands: a tilted ring built in laboratory space found
// by POWDER DIFFRACTION with its memory scan and PDS file, and R/THETA.

#include "app/diffraction/powder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

class PowderCommand : public testing::DataSetFixture {};

TEST_F(PowderCommand, TiltedRingIsFoundWithItsHeightAndWidth) {
  constexpr Index kSide = 256;
  make(kSide, kSide, true, true);
  KztArrays& a = vosq_kzt_arrays;
  const double d = 0.1, rotation = 0.5, tilt = 0.12, peak = 5.0, sigma = 0.1;
  for (Index j = 1; j <= kSide; ++j)
    for (Index i = 1; i <= kSide; ++i) {
      const double t = testing::lab_two_theta((i - 0.5 - 128.0) * 1e-4, (j - 0.5 - 128.0) * 1e-4,
                                              d, rotation, tilt) * 180.0 / M_PI;
      a.data[(j - 1) * kSide + (i - 1)] = static_cast<float>(std::exp(-0.5 * std::pow((t - peak) / sigma, 2)));
    }
  testing::TempDir dir;
  const std::string pds = dir.file("ring.pds");
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({"YES", "128", "128", "100", "100", "100",
                                std::to_string(rotation * 180 / M_PI),
                                std::to_string(tilt * 180 / M_PI), "NO", "NONE", "YES", "0.05",
                                "NO", "YES", pds});
  KztDataSets sets;
  sets.data_defined = true;
  sets.variances_exist = true;
  sets.title = "Ring";
  PowderSettings geometry;
  PowderCommandSettings settings;
  Status status = kStatusGood;
  KZT_POWDERDIFFRACTION(sets, geometry, settings, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(input.remaining(), 0u);
  ASSERT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mtitle, "Ring: Angular Profile");
  EXPECT_EQ(sets.mxlabel, "Two-Theta Angle (degrees)");
  const Index num = sets.mxnumdat;
  ASSERT_GT(num, 200);
  double sum = 0, first = 0, second = 0, top = 0;
  for (Index k = 0; k < num; ++k) {
    const double x = a.mxaxis[k], y = a.mdata[k];
    EXPECT_GE(a.mvariances[k], 0.0f);
    if (std::abs(x - peak) > 0.6) continue;
    sum += y;
    first += y * x;
    top = std::max(top, y);
  }
  const double centre = first / sum;
  for (Index k = 0; k < num; ++k)
    if (std::abs(a.mxaxis[k] - peak) <= 0.6) second += a.mdata[k] * std::pow(a.mxaxis[k] - centre, 2);
  EXPECT_NEAR(centre, peak, 0.001);
  EXPECT_NEAR(top, 1.0, 0.1);
  EXPECT_NEAR(std::sqrt(second / sum), sigma, 0.02);
  EXPECT_NEAR(geometry.tilt_angle, tilt, 1e-6);
  // The PDS file's first point is the first bin's centre.
  const std::string text = testing::file_contents(pds);
  EXPECT_NE(text.find("0.025"), std::string::npos) << text.substr(0, 400);
}

TEST_F(PowderCommand, RThetaConservesOrAveragesOverTheWholeCircle) {
  make(40, 40, true, false);
  KztArrays& a = vosq_kzt_arrays;
  for (Index k = 0; k < 1600; ++k) a.data[k] = 1.0f;
  KztDataSets sets;
  sets.data_defined = true;
  sets.title = "Flat";
  PowderSettings geometry;
  geometry.x_beam_centre = 20.0f;
  geometry.y_beam_centre = 20.0f;
  int lorentz = 0;
  RThetaSettings settings;
  for (const bool conserve : {true, false}) {
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({"NO", "NO", "NONE", "NO", "36", "20", "40",
                                  conserve ? "YES" : "NO"});
    Status status = kStatusGood;
    KZT_RTHETA(sets, geometry, lorentz, settings, status);
    ASSERT_EQ(status, kStatusGood) << terminal.text();
    EXPECT_EQ(input.remaining(), 0u);
    if (conserve) {
      // First call: 180 azimuth bins (within the array's 40) and the
      // half-diagonal in radial bins.
      EXPECT_NE(input.prompts[4].find("[40]"), std::string::npos) << input.prompts[4];
      EXPECT_NE(input.prompts[5].find("[28]"), std::string::npos) << input.prompts[5];
    }
    EXPECT_EQ(sets.mxnumdat, 36);
    EXPECT_EQ(sets.mynumdat, 20);
    EXPECT_EQ(sets.mylabel, "Radial Distance (mm)");
    EXPECT_FLOAT_EQ(a.mxaxis[0], 5.0f);
    EXPECT_NEAR(a.myaxis[0], 0.1f, 1e-6f);
    double total = 0;
    for (Index m = 1; m <= 20; ++m)
      for (Index k = 1; k <= 36; ++k) {
        const float v = a.mdata[element(k, m, 40)];
        total += v;
        if (!conserve && m > 1 && m < 10) {
          EXPECT_NEAR(v, 1.0f, 1e-5f) << k << " " << m;
        }
      }
    if (conserve) {
      EXPECT_NEAR(total, 1600.0, 1e-2);
    }
  }
}

}  // namespace
}  // namespace kesta
