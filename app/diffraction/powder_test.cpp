// The terminal powder commands: a tilted ring built in laboratory space found
// by POWDER DIFFRACTION with its memory scan and PDS file, the scan at
// distortion-corrected positions, and R/THETA.

#include "app/diffraction/powder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/distortion/distortion_test_support.hpp"
#include "app/distortion/spline_file.hpp"
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

// A radial scan of a ring of radius 1 mm (sigma 0.05 mm) on a 64 x 64 image
// of 100-micron pixels, beam centre 32.5, 32.5, whose pixel centres sit
// SHIFT pixels to the right of where the detector records them.
class DistortedPowder : public testing::DataSetFixture {
 protected:
  static constexpr Index kSide = 64;
  static constexpr double kRadius = 1.0, kSigma = 0.05;

  void ring(double shift) {
    make(kSide, kSide, true, false);
    KztArrays& a = vosq_kzt_arrays;
    for (Index j = 1; j <= kSide; ++j)
      for (Index i = 1; i <= kSide; ++i) {
        const double r = std::hypot(i - 0.5 + shift - 32.5, j - 0.5 - 32.5) * 0.1;
        a.data[(j - 1) * kSide + (i - 1)] =
            static_cast<float>(std::exp(-0.5 * std::pow((r - kRadius) / kSigma, 2)));
      }
  }
  // The radial scan, through the spline file SPLINE when given; the profile
  // (empty when none was produced).
  std::vector<float> scan(const std::string& spline, std::string* text = nullptr) {
    std::vector<std::string> answers = {"NO", "NO", "NONE", "NO", "100"};
    answers.push_back(spline.empty() ? "NO" : "YES");
    if (!spline.empty()) answers.insert(answers.end(), {spline, "99999.5", "16"});
    testing::TerminalCapture terminal;
    testing::ScriptedInput input(answers);
    KztDataSets sets;
    sets.data_defined = true;
    sets.title = "Ring";
    PowderSettings geometry;
    geometry.x_beam_centre = geometry.y_beam_centre = centre;
    geometry.sample_distance = 0.1f;
    PowderCommandSettings settings;
    Status status = kStatusGood;
    KZT_POWDERDIFFRACTION(sets, geometry, settings, status);
    EXPECT_EQ(status, kStatusGood) << terminal.text();
    EXPECT_EQ(input.remaining(), 0u) << terminal.text();
    if (text) *text = terminal.text();
    if (!sets.memory_defined) return {};
    const float* m = vosq_kzt_arrays.mdata;
    return {m, m + sets.mxnumdat};
  }
  std::string spline_file(float dx) {
    const std::string path = dir.file("shift.spline");
    Status status = kStatusGood;
    testing::ScriptedInput input({path});
    KZT_OUT_SPATIAL(testing::linear_set(64.0f, 64.0f, dx, 0.0f, 0.0f, 0.0f), kMaxSplineKnots,
                    kMaxSplineKnots, status);
    EXPECT_EQ(status, kStatusGood);
    return path;
  }
  // Centroid and spread (mm) of the profile near the ring.
  static void moments(const std::vector<float>& p, double& centre, double& spread) {
    double sum = 0, first = 0, second = 0;
    for (std::size_t k = 0; k < p.size(); ++k) {
      const double r = (static_cast<double>(k) + 0.5) * 0.1;
      if (std::abs(r - kRadius) > 0.45) continue;
      sum += p[k];
      first += p[k] * r;
      second += p[k] * r * r;
    }
    centre = first / sum;
    spread = std::sqrt(second / sum - centre * centre);
  }
  testing::TempDir dir;
  float centre = 32.5f;
};

TEST_F(DistortedPowder, ZeroDistortionGivesTheUndistortedScan) {
  ring(0.0);
  const std::vector<float> plain = scan("");
  std::string text;
  const std::vector<float> corrected = scan(spline_file(0.0f), &text);
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(corrected, plain);
  EXPECT_NE(text.find("INFO: The corrected pixel dimension in X is     100.0000 microns"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("with correction"), std::string::npos);
}

TEST_F(DistortedPowder, OnePixelShiftInXRestoresTheRing) {
  ring(1.0);
  double centre = 0, spread = 0, plain_spread = 0;
  moments(scan(""), centre, plain_spread);
  moments(scan(spline_file(1.0f)), centre, spread);
  EXPECT_NEAR(centre, kRadius, 0.01);
  // Seen without the correction the ring is off-centre by a pixel: wider.
  EXPECT_LT(spread, 0.85 * plain_spread);
}

// The same ring in arrays 4096 wide, the region its 64 x 64 pixels: the
// corrected scan is the one of arrays of its size, and the distortions are
// worked over the region only (not over two images of the arrays' 64 MB; the
// address sanitizer's own records of a freed block take an eighth).
TEST_F(DistortedPowder, CorrectedScanOfASmallImageInLargeArraysTouchesItsOwnPages) {
  ring(0.0);
  const std::string spline = spline_file(0.0f);
  const std::vector<float> expected = scan(spline);
  const std::vector<float> image(vosq_kzt_arrays.data, vosq_kzt_arrays.data + kSide * kSide);
  constexpr Index kLarge = 4096, kImageBytes = kLarge * kLarge * 4;
  Status status = kStatusGood;
  kzt_free_arrays(vosq_kzt_arrays, status);
  KztArrays& a = vosq_kzt_arrays;
  kzt_allocate_arrays(kLarge, kLarge, true, false, false, a, status);
  ASSERT_EQ(status, kStatusGood);
  a.xnumdat = a.xendelm = a.ynumdat = a.yendelm = kSide;
  for (Index k = 0; k < kSide; ++k) a.xaxis[k] = a.yaxis[k] = static_cast<float>(k) + 0.5f;
  for (Index j = 0; j < kSide; ++j)
    std::copy_n(image.begin() + j * kSide, kSide, a.data + j * kLarge);
  const testing::ResidentPeak peak;
  const std::vector<float> got = scan(spline);
  EXPECT_LT(peak.grown_bytes(), kImageBytes / 2);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got, expected);
}

TEST_F(DistortedPowder, UnreadableSplineLeavesNoProfile) {
  ring(0.0);
  const std::string bad = dir.file("bad.spline");
  std::ofstream(bad) << "NOT A SPLINE\n";
  std::vector<std::string> answers = {"NO", "NO", "NONE", "NO", "100", "YES", bad};
  testing::TerminalCapture terminal;
  testing::ScriptedInput input(answers);
  KztDataSets sets;
  sets.data_defined = true;
  PowderSettings geometry;
  PowderCommandSettings settings;
  Status status = kStatusGood;
  const float before = vosq_kzt_arrays.data[33 * kSide + 40];
  KZT_POWDERDIFFRACTION(sets, geometry, settings, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_EQ(vosq_kzt_arrays.data[33 * kSide + 40], before);
  EXPECT_NE(terminal.text().find("not a distortion spline"), std::string::npos) << terminal.text();
}

// NaN and infinite pixels add nothing, as masked ones, on both roads; a scan
// that no counted pixel reaches (a beam centre far off the image, every
// pixel masked) warns and leaves the memory as it was.
TEST_F(DistortedPowder, NonFiniteMaskedAndUnreachedPixels) {
  ring(0.0);
  KztArrays& a = vosq_kzt_arrays;
  bool mask_exist = false;
  Status status = kStatusGood;
  kzt_create_mask(mask_exist, status);
  ASSERT_EQ(status, kStatusGood);
  const std::span<std::uint8_t> mask = kzt_mask();
  const Index gaps[] = {element(40, 33, kSide), element(43, 30, kSide), element(1, 1, kSide)};
  const std::string spline = spline_file(0.0f);
  const std::vector<float> original(a.data, a.data + kSide * kSide);
  for (const std::string& road : {std::string(), spline}) {
    for (const Index e : gaps) mask[e] = 1;
    const std::vector<float> masked = scan(road);
    for (const Index e : gaps) mask[e] = 0;
    a.data[gaps[0]] = std::nanf("");
    a.data[gaps[1]] = INFINITY;
    a.data[gaps[2]] = -INFINITY;
    const std::vector<float> gapped = scan(road);
    ASSERT_FALSE(masked.empty()) << road;
    EXPECT_EQ(gapped, masked) << road;
    std::copy(original.begin(), original.end(), a.data);
  }
  const float before = a.mdata[5];
  std::string text;
  centre = 1.0e6f;
  EXPECT_TRUE(scan("", &text).empty());
  EXPECT_NE(text.find("WARNING: No unmasked pixel of the active data region falls within the "
                      "scan:\n         the memory is unchanged"),
            std::string::npos)
      << text;
  centre = 32.5f;
  std::fill(mask.begin(), mask.end(), 1);
  for (const std::string& road : {std::string(), spline}) {
    EXPECT_TRUE(scan(road, &text).empty()) << road;
    EXPECT_NE(text.find("WARNING: No unmasked pixel"), std::string::npos) << text;
  }
  EXPECT_EQ(a.mdata[5], before);
}

// Every 2-theta step the question takes gives a scan; a step of 90 degrees
// or more would put the first bin's outer edge at infinity.
TEST_F(PowderCommand, EveryAngularStepTheQuestionTakesGivesAScan) {
  struct Case {
    std::vector<std::string> steps;
    bool refused;
  };
  make(32, 32, true, false);
  std::fill_n(vosq_kzt_arrays.data, 32 * 32, 1.0f);
  for (const Case& c : {Case{{"0.001"}, false}, Case{{"89.9"}, false},
                        Case{{"90", "89.9"}, true}, Case{{"10000", "45"}, true}}) {
    std::vector<std::string> answers = {"NO", "NO", "NONE", "YES"};
    answers.insert(answers.end(), c.steps.begin(), c.steps.end());
    answers.insert(answers.end(), {"NO", "NO"});
    testing::TerminalCapture terminal;
    testing::ScriptedInput input(answers);
    KztDataSets sets;
    sets.data_defined = true;
    PowderSettings geometry;
    geometry.x_beam_centre = geometry.y_beam_centre = 16.0f;
    PowderCommandSettings settings;
    Status status = kStatusGood;
    KZT_POWDERDIFFRACTION(sets, geometry, settings, status);
    const std::string text = terminal.text();
    EXPECT_EQ(status, kStatusGood) << c.steps.front() << "\n" << text;
    EXPECT_TRUE(sets.memory_defined) << c.steps.front() << "\n" << text;
    EXPECT_EQ(input.remaining(), 0u) << c.steps.front() << "\n" << text;
    EXPECT_EQ(text.find("Must be within given range") != std::string::npos, c.refused)
        << c.steps.front() << "\n" << text;
  }
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

// A blank answer keeps the outer limit as it was asked: a second run of the
// same answers gives the same cake, in 2-theta (a limit that does not pass
// through radians and back unchanged) and in radius.
TEST_F(PowderCommand, RThetaRunAgainWithBlankLimitsGivesTheSameCake) {
  make(64, 64, true, false);
  KztArrays& a = vosq_kzt_arrays;
  for (Index j = 0; j < 64; ++j)
    for (Index i = 0; i < 64; ++i) {
      const double r = std::hypot(i + 0.5 - 30.3, j + 0.5 - 33.7);
      a.data[i + 64 * j] = static_cast<float>(100.0 + 1000.0 * std::exp(-(r - 20.0) * (r - 20.0) / 8.0));
    }
  KztDataSets sets;
  sets.data_defined = true;
  PowderSettings geometry;
  geometry.x_beam_centre = 30.3f;
  geometry.y_beam_centre = 33.7f;
  int lorentz = 0;
  for (const char* scan : {"YES", "NO"}) {
    RThetaSettings settings;
    std::vector<std::vector<float>> cakes;
    for (const char* limit : {"2.862405", "", ""}) {
      testing::TerminalCapture quiet;
      const std::string typed = std::string(scan) == "YES" || *limit == '\0' ? limit : "30.7";
      testing::ScriptedInput input({"NO", "NO", "NONE", scan, "36", "30", typed, "YES"});
      Status status = kStatusGood;
      KZT_RTHETA(sets, geometry, lorentz, settings, status);
      ASSERT_EQ(status, kStatusGood);
      cakes.emplace_back(a.mdata, a.mdata + 64 * 64);
    }
    EXPECT_EQ(cakes[1], cakes[0]) << scan;
    EXPECT_EQ(cakes[2], cakes[0]) << scan;
  }
}

// More radial bins than the array is wide: the output holds them.
TEST_F(PowderCommand, RThetaTakesMoreRadialBinsThanTheArrayIsWide) {
  make(40, 80, true, false);
  KztArrays& a = vosq_kzt_arrays;
  for (Index k = 0; k < 3200; ++k) a.data[k] = 1.0f;
  KztDataSets sets;
  sets.data_defined = true;
  PowderSettings geometry;
  geometry.x_beam_centre = 20.0f;
  geometry.y_beam_centre = 40.0f;
  int lorentz = 0;
  RThetaSettings settings;
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({"NO", "NO", "NONE", "NO", "36", "60", "60", "YES"});
  Status status = kStatusGood;
  KZT_RTHETA(sets, geometry, lorentz, settings, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(sets.mynumdat, 60);
  double total = 0;
  for (Index m = 1; m <= 60; ++m)
    for (Index k = 1; k <= 36; ++k) total += a.mdata[element(k, m, 40)];
  EXPECT_NEAR(total, 3200.0, 1e-2);
}

}  // namespace
}  // namespace kesta
