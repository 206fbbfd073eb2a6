// Simulated effects: polarisation, powder rings and the pattern of a scan,
// against angles computed from laboratory vectors.

#include "app/diffraction/simulation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

using testing::lab_two_theta;

constexpr Index kSide = 64;
constexpr float kPixel = 1.0e-4f;
constexpr float kCentre = 30.5f;

double offset(Index i, float centre) { return (i - 0.5 - centre) * kPixel; }

TEST(Polarisation, EffectFollowsDirectionAndScalesVariancesBySquare) {
  for (const float p : {0.0f, 0.96f, -0.5f}) {
    std::vector<float> data(kSide * kSide, 2.0f), variances(kSide * kSide, 3.0f);
    Status status = kStatusGood;
    kzt_apply_polarisation(kSide, kSide, 1, 1, kSide, kSide, kPixel, kPixel, 0.01f, kCentre,
                           kCentre, p, true, data, variances, status);
    ASSERT_EQ(status, kStatusGood);
    for (Index j = 1; j <= kSide; j += 7) {
      for (Index i = 1; i <= kSide; i += 5) {
        const double x = offset(i, kCentre), y = offset(j, kCentre);
        const double t = std::atan2(std::hypot(x, y), 0.01);
        const double a = std::atan2(y, x);
        const double f = (1 + std::cos(t) * std::cos(t)) / 2 -
                         p / 2 * std::cos(2 * a) * std::sin(t) * std::sin(t);
        const std::size_t k = static_cast<std::size_t>((j - 1) * kSide + i - 1);
        EXPECT_NEAR(data[k], 2 * f, 1e-5);
        EXPECT_NEAR(variances[k], 3 * f * f, 1e-5);
      }
    }
    // The pixel centred on the beam keeps its value.
    EXPECT_EQ(data[30 * kSide + 30], 2.0f);
  }
}

// The ring lies on the tilted cone (its peak where the laboratory 2-theta is
// the ring's), shaped by the pseudo-radius of the tilted conic.
TEST(PowderRing, GaussianAboutTheTiltedConeOfTheRing) {
  struct Case {
    float rotation, tilt, two_theta;
  };
  const Case cases[] = {{0.0f, 0.0f, 0.2f}, {0.6f, 0.15f, 0.2f}, {-2.0f, -0.3f, 0.25f},
                        {1.0f, 0.105f, 0.3f}};
  const float d = 0.01f, sigma = 1.5f * kPixel;
  for (const Case& c : cases) {
    std::vector<float> data(kSide * kSide, 7.0f);
    Status status = kStatusGood;
    KZT_ADDPOWDERRING(kSide, kSide, 1, 1, kSide, kSide, kPixel, kPixel, kCentre, kCentre, d,
                      c.two_theta, 100.0f, sigma, c.rotation, c.tilt, data, status);
    ASSERT_EQ(status, kStatusGood);
    const double tan2 = std::pow(std::tan(c.two_theta), 2), st = std::sin(c.tilt);
    const double ring = d * std::tan(c.two_theta);
    int on_ring = 0;
    for (Index j = 1; j <= kSide; ++j) {
      for (Index i = 1; i <= kSide; ++i) {
        const double x = offset(i, kCentre), y = offset(j, kCentre);
        const double u = x * std::cos(c.rotation) + y * std::sin(c.rotation);
        const double v = -x * std::sin(c.rotation) + y * std::cos(c.rotation);
        const double rho = std::sqrt(std::abs(2 * d * st * tan2 * u +
                                              (st * st * tan2 - std::pow(std::cos(c.tilt), 2)) * u * u -
                                              v * v));
        const double s = std::abs(rho - ring) / sigma;
        const double expected = 7.0 + (s <= 5.0 ? 100.0 * std::exp(-s * s / 2) : 0.0);
        const float got = data[static_cast<std::size_t>((j - 1) * kSide + i - 1)];
        EXPECT_NEAR(got, expected, 0.01) << i << " " << j;
        // A pixel whose laboratory 2-theta is the ring's is on the peak.
        const double t = lab_two_theta(x, y, d, c.rotation, c.tilt);
        if (std::abs(d * std::tan(t) - ring) < 0.05 * sigma) {
          EXPECT_GT(got, 7.0 + 99.0) << i << " " << j << " tilt " << c.tilt;
          ++on_ring;
        }
      }
    }
    EXPECT_GT(on_ring, 3);
  }
  std::vector<float> data(kSide * kSide, 0.0f);
  Status status = kStatusGood;
  KZT_ADDPOWDERRING(kSide, kSide, 1, 1, kSide, kSide, kPixel, kPixel, kCentre, kCentre, d, 0.2f,
                    1.0f, 0.0f, 0, 0, data, status);
  EXPECT_EQ(status, 20021);
}

TEST(ScanToRings, PatternIsTheScanAtEachPixelsTwoTheta) {
  // Scan: 2-theta 0 .. 40 degrees, value 1 + angle, ending with a flat top.
  std::vector<float> angles, values;
  for (int k = 0; k <= 40; ++k) {
    angles.push_back(static_cast<float>(k));
    values.push_back(1.0f + static_cast<float>(std::min(k, 30)));
  }
  struct Case {
    bool polarisation;
    float rotation, tilt;
  };
  for (const Case& c : {Case{false, 0.0f, 0.0f}, Case{true, 0.4f, 0.2f}}) {
    PowderSettings g;
    g.x_beam_centre = 10.0f;
    g.y_beam_centre = 20.0f;
    g.sample_distance = 0.004f;
    g.tilt_rotation = c.rotation;
    g.tilt_angle = c.tilt;
    g.correct_polarisation = c.polarisation;
    g.polarisation = 0.9f;
    std::vector<float> out(kSide * kSide, -5.0f);
    Status status = kStatusGood;
    ASSERT_TRUE(kzt_rings_from_scan(angles, values, kSide, kSide, 2, 3, kSide - 1, kSide - 2,
                                    kPixel, kPixel, g, out, status));
    EXPECT_EQ(out[0], -5.0f);
    for (Index j = 3; j <= kSide - 2; j += 3) {
      for (Index i = 2; i <= kSide - 1; i += 3) {
        const double x = offset(i, 10.0f), y = offset(j, 20.0f);
        const double t = lab_two_theta(x, y, 0.004, c.rotation, c.tilt);
        const double deg = t * 180.0 / M_PI;
        double v = (1.0 + std::min(deg, 30.0)) * std::pow(std::cos(t), 3);
        if (c.polarisation)
          v *= polarisation_factor(std::pow(std::cos(t), 2), std::cos(2 * std::atan2(y, x)), 0.9);
        EXPECT_NEAR(out[static_cast<std::size_t>((j - 1) * kSide + i - 1)], v, 1e-4 * v)
            << i << " " << j;
      }
    }
  }
}

TEST(ScanToRings, RefusesAxesThatDoNotIncreaseAndReportsProgress) {
  testing::TerminalCapture terminal;
  PowderSettings g;
  g.correct_polarisation = false;
  std::vector<float> out(2 * 1000, 0.0f);
  const std::vector<float> flat{1.0f, 1.0f, 1.0f};
  Status status = kStatusGood;
  EXPECT_FALSE(kzt_rings_from_scan(std::vector<float>{0.0f, 2.0f, 1.0f}, flat, 2, 1000, 1, 1, 2,
                                   1000, kPixel, kPixel, g, out, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: The 2-theta axis"), std::string::npos);
  g.x_beam_centre = 1.0f;
  g.y_beam_centre = 1.0f;
  EXPECT_TRUE(kzt_rings_from_scan(std::vector<float>{0.0f, 1.0f, 2.0f}, flat, 2, 1000, 1, 1, 2,
                                  1000, kPixel, kPixel, g, out, status));
  EXPECT_FLOAT_EQ(out[0], std::pow(std::cos(std::atan(std::sqrt(0.5) * kPixel / 0.2)), 3));
  const std::string text = terminal.text();
  EXPECT_NE(text.find("INFO: Number of rows treated =    500 ( 50%)"), std::string::npos) << text;
  EXPECT_NE(text.find("INFO: Number of rows treated =   1000 (100%)"), std::string::npos);
}

}  // namespace
}  // namespace kesta
