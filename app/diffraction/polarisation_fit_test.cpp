// The polarisation fit: a known factor comes back from ring intensities that
// follow its divisor, in whatever unit they are given; flat rings give 0;
// missing coordinates are refused.

#include "app/diffraction/polarisation_fit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr int kMaxCoordinates = 360;
constexpr int kMaxRings = 15;

struct Rings {
  std::vector<int> counts = std::vector<int>(kMaxRings, 0);
  std::vector<float> intensities = std::vector<float>(kMaxCoordinates * kMaxRings, 0.0f);
  std::vector<float> azimuths = std::vector<float>(kMaxCoordinates * kMaxRings, 0.0f);
  std::vector<float> radii = std::vector<float>(kMaxRings, 0.0f);
  PolarisationRings view() const { return {kMaxCoordinates, counts, intensities, azimuths, radii}; }
  // Ring K of N coordinates at radius R whose intensities STRENGTH x the
  // divisor of factor P at distance D.
  void add(int k, int n, float r, float strength, double p, double d) {
    counts[k] = n;
    radii[k] = r;
    const double c = d * d / (r * r + d * d);
    for (int i = 0; i < n; ++i) {
      const double az = 6.283185 * (i + 0.5) / n;
      azimuths[k * kMaxCoordinates + i] = static_cast<float>(az);
      intensities[k * kMaxCoordinates + i] =
          static_cast<float>(strength * 0.5 * ((1 + c) - (1 - c) * std::cos(2 * az) * p));
    }
  }
};

TEST(PolarisationFit, RecoversTheFactorOfTheIntensities) {
  struct Case {
    double truth;
    float start;
  };
  for (const Case c : {Case{0.5, 0.0f}, Case{0.0, 0.3f}, Case{-0.8, 0.1f}}) {
    Rings rings;
    rings.add(0, 90, 0.05f, 1000.0f, c.truth, 0.1);
    rings.add(1, 72, 0.09f, 50.0f, c.truth, 0.1);
    rings.add(2, 1, 0.12f, 7.0f, 0.9, 0.1);  // one coordinate: no influence
    testing::TerminalCapture terminal;
    float p = c.start;
    Status status = kStatusGood;
    KZT_LSQPOLARISATION(0.1f, kMaxRings, 3, rings.view(), p, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_NEAR(p, c.truth, 1e-4) << c.truth;
    EXPECT_NE(terminal.text().find("ring, azimuth, intensity =   3"), std::string::npos);
  }
}

TEST(PolarisationFit, GivesTheSameFactorWhateverTheIntensityUnit) {
  // Noisy rings, and the same rings scaled: the factor is a ratio of
  // intensities and must not depend on the unit they are given in.
  Rings twin;
  twin.add(0, 90, 0.05f, 1.0f, 0.6, 0.1);
  twin.add(1, 72, 0.09f, 0.05f, 0.6, 0.1);
  std::mt19937 engine(5);
  std::normal_distribution<double> normal(1.0, 0.02);
  for (float& v : twin.intensities) v = static_cast<float>(v * normal(engine));
  const auto fit = [&](double scale) {
    Rings rings(twin);
    for (float& v : rings.intensities) v = static_cast<float>(v * scale);
    testing::TerminalCapture terminal;
    float p = 0.0f;
    Status status = kStatusGood;
    KZT_LSQPOLARISATION(0.1f, kMaxRings, 2, rings.view(), p, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(terminal.text().find("Problem fitting"), std::string::npos) << scale;
    return p;
  };
  const float p0 = fit(1.0);
  EXPECT_NEAR(p0, 0.6, 0.1);
  for (const double scale : {1.0e3, 1.0e20, 1.0e30, 3.0e37, 1.0e-20, 1.0e-30})
    EXPECT_NEAR(fit(scale), p0, 1.0e-5) << scale;
}

TEST(PolarisationFit, RefusesMissingOrBadRings) {
  Rings rings;
  rings.add(0, 10, 0.05f, 10.0f, 0.0, 0.1);
  struct Case {
    int max_rings, num_rings, first_count;
    Status code;
  };
  const Case cases[] = {{0, 1, 10, 110001},
                        {15, 16, 10, 110005},
                        {15, 1, 361, 110005},
                        {15, 1, 0, 119999},
                        {15, 0, 10, 119999}};
  for (const Case& c : cases) {
    rings.counts[0] = c.first_count;
    testing::TerminalCapture terminal;
    float p = 0.25f;
    Status status = kStatusGood;
    KZT_LSQPOLARISATION(0.1f, c.max_rings, c.num_rings, rings.view(), p, status);
    EXPECT_EQ(status, c.code) << c.num_rings << " " << c.first_count;
    EXPECT_EQ(p, 0.25f);
    if (c.code == 119999) {
      EXPECT_NE(terminal.text().find("ERROR: There are no coordinates to fit !"),
                std::string::npos);
    }
  }
}

}  // namespace
}  // namespace kesta
