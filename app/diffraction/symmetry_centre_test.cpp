// The centre of symmetry of a 1-D profile and the point it gives on the
// projection line.

#include "app/diffraction/symmetry_centre.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/imageops_graphics_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

// A smooth profile symmetric about CENTRE (point i centred at i - 0.5): a
// peak with a shoulder on both sides over a flat background.
std::vector<float> symmetric_profile(Index n, double centre) {
  std::vector<float> p(static_cast<std::size_t>(n));
  for (Index i = 1; i <= n; ++i) {
    const double x = (static_cast<double>(i) - 0.5) - centre;
    const double s = std::abs(x) - 10.0;
    p[static_cast<std::size_t>(i - 1)] =
        static_cast<float>(10.0 * std::exp(-x * x / 50.0) + 3.0 * std::exp(-s * s / 18.0) + 1.0);
  }
  return p;
}

TEST(SymmetryCentre, FitsTheKnownCentreToAHundredthOfAPoint) {
  testing::TerminalCapture quiet;
  for (const double centre : {20.0, 20.3, 27.75}) {
    SCOPED_TRACE(centre);
    const std::vector<float> p = symmetric_profile(50, centre);
    std::vector<std::uint8_t> mask(50, 0);
    float fitted = 0.0f;
    Status status = kStatusGood;
    KZT_LSQ1DSYMMETRY(50, 1, 50, p, mask, fitted, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_NEAR(fitted, centre, 0.01);
  }
}

TEST(SymmetryCentre, MaskedPointsAndARangeCutOnOneSideKeepTheCentre) {
  testing::TerminalCapture quiet;
  std::vector<float> p = symmetric_profile(60, 24.4);
  std::vector<std::uint8_t> mask(60, 0);
  // A spike that breaks the symmetry, masked out, and a range cut shorter
  // on one side.
  p[30] = 500.0f;
  mask[30] = 1;
  float fitted = 0.0f;
  Status status = kStatusGood;
  KZT_LSQ1DSYMMETRY(60, 3, 50, p, mask, fitted, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_NEAR(fitted, 24.4, 0.01);
}

TEST(SymmetryModel, PointsWithoutAValidMirrorCarryTheMeanMisfit) {
  // Linear values: the mirror of point i about C is interpolated between the
  // two points whose centres bracket it.
  std::vector<float> p{0, 1, 2, 3, 4, 5, 6, 7};
  std::vector<std::uint8_t> mask(8, 0);
  mask[6] = 1;  // point 7
  std::vector<float> model(8, -9.0f);
  const std::vector<float> params{4.25f};
  int terminate = 1;
  Status status = kStatusGood;
  KZT_FUN1DSYMMETRY(true, 8, 1, p, mask, 1, 1, 8, 1, nullptr, nullptr, nullptr, nullptr, 1,
                    params, 8, 1, true, terminate, model, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(terminate, 0);
  // Point 3 (centre 2.5) mirrors to 6.0: between points 6 and 7, and 7 is
  // masked; point 4 (3.5) mirrors to 5.0, between points 5 and 6: value 4.5.
  EXPECT_NEAR(model[3], 3.0f - 4.5f, 1e-6f);
  // Point 5 (4.5) mirrors to 4.0 (value 3.5); point 6 (5.5) to 3.0 (2.5).
  EXPECT_NEAR(model[4], 4.0f - 3.5f, 1e-6f);
  EXPECT_NEAR(model[5], 5.0f - 2.5f, 1e-6f);
  // Point 2 mirrors to 7.0, between points 7 and 8: masked. Valid: points
  // 4, 5, 6 (|r| 1.5, 0.5, 2.5) and point 8 (mirror 1.0, value 0.5: 6.5).
  const float mean = (1.5f + 0.5f + 2.5f + 6.5f) / 4.0f;
  for (const int invalid : {0, 1, 2, 6}) EXPECT_NEAR(model[invalid], mean, 1e-6f) << invalid;
  EXPECT_NEAR(model[7], 7.0f - 0.5f, 1e-6f);
}

TEST(SymmetryCentre, ProposedPointLiesCentreBinsAlongTheLine) {
  float x = 0.0f, y = 0.0f;
  // Bins of 100 microns along a line of 200-micron X pixels.
  kzt_symmetry_point(10.0f, 10.0f, 30.0f, 10.0f, 2.0e-4f, 1.0e-4f, 1.0e-4f, 5.5f, x, y);
  EXPECT_FLOAT_EQ(x, 12.75f);
  EXPECT_FLOAT_EQ(y, 10.0f);
  kzt_symmetry_point(0.0f, 0.0f, 0.0f, -8.0f, 1.0e-4f, 1.0e-4f, 1.0e-4f, 3.0f, x, y);
  EXPECT_FLOAT_EQ(x, 0.0f);
  EXPECT_FLOAT_EQ(y, -3.0f);
}

TEST(SymmetryCentre, BadArgumentsAreRefused) {
  const std::vector<float> p(10, 1.0f);
  float centre = 7.0f;
  Status status = kStatusGood;
  KZT_LSQ1DSYMMETRY(0, 1, 1, p, {}, centre, status);
  EXPECT_EQ(status, 110001);
  status = kStatusGood;
  KZT_LSQ1DSYMMETRY(10, 4, 11, p, {}, centre, status);
  EXPECT_EQ(status, 110005);
  EXPECT_EQ(centre, 7.0f);
}

struct ProjectFit : testing::NoWindowGraphics {};

TEST_F(ProjectFit, StripSymmetricAboutAColumnProposesItAsTheCentre) {
  // 40 x 8 pixels of 100 microns, symmetric about X = 17.3 in every row.
  constexpr Index kX = 40, kY = 8;
  std::vector<float> data(kX * kY), xaxis(kX), yaxis(kY);
  for (Index i = 1; i <= kX; ++i) xaxis[i - 1] = static_cast<float>(i) - 0.5f;
  for (Index j = 1; j <= kY; ++j) yaxis[j - 1] = static_cast<float>(j) - 0.5f;
  for (Index j = 1; j <= kY; ++j)
    for (Index i = 1; i <= kX; ++i) {
      const double x = (static_cast<double>(i) - 0.5) - 17.3;
      data[element(i, j, kX)] = static_cast<float>(10.0 * std::exp(-x * x / 50.0) + 1.0);
    }
  const GsDisplayedImage im = kzt_displayed_image(kX, kY, 1, 1, kX, kY, data, {}, xaxis, yaxis,
                                                  "Strip", "X", "Y", "Z");
  testing::TerminalCapture quiet;
  // The line along the middle row, the strip over the whole height, no
  // points masked, the proposed centre accepted.
  testing::ScriptedInput input({"2", "0.0", "4.0", "40.0", "4.0", "2", "20.0", "0.0", "20.0",
                                "8.0", "YES", "EXIT", "", ""});
  float x_beam = 0.0f, y_beam = 0.0f;
  Status status = kStatusGood;
  EXPECT_TRUE(KZT_PROJECTFIT(im, 1e-4f, 1e-4f, x_beam, y_beam, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_NEAR(x_beam / 1e-4f, 17.3f, 0.05f);
  EXPECT_NEAR(y_beam / 1e-4f, 4.0f, 1e-3f);

  // CANCEL at the first click changes nothing.
  testing::ScriptedInput cancel({"\\\\"});
  EXPECT_FALSE(KZT_PROJECTFIT(im, 1e-4f, 1e-4f, x_beam, y_beam, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(x_beam / 1e-4f, 17.3f, 0.05f);
}

}  // namespace
}  // namespace kesta
