#include "numeric/profiles1d.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/status.hpp"

namespace kesta {
namespace {

TEST(Werf, MatchesReferenceValues) {
  // w(x + iy) from a Taylor series (small |z|) and a 2000-term continued
  // fraction (large |z|), evaluated separately.
  struct Case {
    double x, y, re, im;
  };
  const Case cases[] = {
      {0, 0.5, 0.615690344193, 0.0},           {1, 1, 0.304744205257, 0.208218938203},
      {2.5, 0.3, 0.038226506261, 0.243042008531}, {0.2, 3, 0.178367727863, 0.010838720006},
      {4, 0.1, 0.003921752253, 0.145843166932},   {1.2, 0, 0.236927758682, 0.572396845366},
      {-1.5, 0.7, 0.207989895475, -0.290846793837}, {6, 1, 0.015885128156, 0.092628746300},
      {3, 5, 0.082987737977, 0.048389365203},     {0.5, 4.5, 0.121145221528, 0.012871240829},
      {10, 0.5, 0.002856953699, 0.056560328935},
  };
  for (const Case& c : cases) {
    double re = 0, im = 0;
    MA_WERF(c.x, c.y, re, im);
    EXPECT_NEAR(re, c.re, 1e-7) << c.x << " " << c.y;
    EXPECT_NEAR(im, c.im, 1e-7) << c.x << " " << c.y;
  }
}

TEST(Gaussian, TableModesAndExactMode) {
  Status status = ST_GOOD();
  EXPECT_EQ(MA_GAUSSIAN(0.0f, 0, status), 1.0f);
  EXPECT_EQ(MA_GAUSSIAN(5.0f, 0, status), 0.0f);
  EXPECT_EQ(MA_GAUSSIAN(5.0f, 1, status), 0.0f);
  EXPECT_FLOAT_EQ(MA_GAUSSIAN(5.0f, 9, status), std::exp(-12.5f));
  for (float x = 0.0f; x < 4.99f; x += 0.013f) {
    const float exact = std::exp(-0.5f * x * x);
    EXPECT_NEAR(MA_GAUSSIAN(x, 1, status), exact, 1e-4f) << x;
    EXPECT_NEAR(MA_GAUSSIAN(x, 0, status), exact, 0.02f) << x;
  }
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(MA_GAUSSIAN(-0.1f, 9, status), -1.0f);
  EXPECT_EQ(status, 20021);
  status = ST_GOOD();
  MA_GAUSSIAN(1.0f, 3, status);
  EXPECT_EQ(status, 20017);
}

TEST(Profiles1D, GaussianTouchesOnlyItsReach) {
  std::vector<float> a(30, 0.0f);
  Status status = ST_GOOD();
  MA_1DGAUSSIAN(30, 1, 30, 2.0f, 10.0f, 1.0f, 5.0f, 9, a, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index x = 1; x <= 30; ++x) EXPECT_EQ(a[x - 1] != 0.0f, x >= 5 && x <= 16) << x;
  std::fill(a.begin(), a.end(), 0.0f);
  MA_1DGAUSSIAN(30, 12, 30, 3.0f, 9.5f, 1.0f, 5.0f, 1, a, status);
  EXPECT_EQ(a[10], 0.0f);  // clipped to the region
  MA_1DGAUSSIAN(30, 1, 30, 3.0f, 9.5f, 1.0f, 5.0f, 1, a, status);
  EXPECT_EQ(a[9], 3.0f);  // channel 10's centre is the peak
}

TEST(Profiles1D, LorentzianModes) {
  std::vector<float> exact(40, 0.0f), table(40, 0.0f);
  Status status = ST_GOOD();
  MA_1DLORENTZIAN(40, 1, 40, 4.0f, 20.0f, 1.0f, 9, exact, status);
  MA_1DLORENTZIAN(40, 1, 40, 4.0f, 20.0f, 1.0f, 1, table, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index x = 1; x <= 40; ++x) {
    const float d = float(x) - 0.5f - 20.0f;
    EXPECT_FLOAT_EQ(exact[x - 1], 4.0f / (d * d + 1.0f));
    if (std::fabs(d) >= 15.0f) {
      EXPECT_EQ(table[x - 1], 0.0f) << x;
    } else {
      EXPECT_NEAR(table[x - 1], exact[x - 1], 2e-4f) << x;
    }
  }
}

TEST(Profiles1D, VoigtLimitsAndShape) {
  Status status = ST_GOOD();
  std::vector<float> v(40, 0.0f), ref(40, 0.0f);
  MA_1DVOIGTIAN(40, 1, 40, 2.0f, 17.3f, 0.0f, 1.5f, 0, v, status);
  MA_1DLORENTZIAN(40, 1, 40, 2.0f, 17.3f, 1.5f, 9, ref, status);
  EXPECT_EQ(v, ref);
  // No jump as the Gaussian width goes to 0: the tails beyond 15 half
  // widths stay (a fit driving the width to 0 ended above its minimum).
  std::fill(v.begin(), v.end(), 0.0f);
  std::vector<float> near(40, 0.0f);
  MA_1DVOIGTIAN(40, 1, 40, 2.0f, 3.3f, 0.0f, 1.0f, 0, v, status);
  MA_1DVOIGTIAN(40, 1, 40, 2.0f, 3.3f, 1.0e-6f, 1.0f, 0, near, status);
  for (Index x = 1; x <= 40; ++x) EXPECT_NEAR(v[x - 1], near[x - 1], 1e-4f * near[x - 1]) << x;
  EXPECT_GT(v[39], 0.001f);
  std::fill(ref.begin(), ref.end(), 0.0f);
  std::fill(v.begin(), v.end(), 0.0f);
  MA_1DVOIGTIAN(40, 1, 40, 2.0f, 17.3f, 1.5f, 0.0f, 0, v, status);
  MA_1DGAUSSIAN(40, 1, 40, 2.0f, 17.3f, 1.5f, 5.0f, 1, ref, status);
  EXPECT_EQ(v, ref);
  ASSERT_EQ(status, ST_GOOD());

  // Against a numerical convolution of the Gaussian and the Lorentzian,
  // normalised to the peak.
  const double sigma = 1.3, gamma = 0.8, centre = 19.5;
  auto convolved = [&](double d) {
    double sum = 0;
    const double h = 0.001;
    for (double t = -60; t <= 60; t += h)
      sum += std::exp(-0.5 * t * t / (sigma * sigma)) * gamma / ((d - t) * (d - t) + gamma * gamma);
    return sum * h;
  };
  std::fill(v.begin(), v.end(), 0.0f);
  MA_1DVOIGTIAN(40, 1, 40, 5.0f, float(centre), float(sigma), float(gamma), 0, v, status);
  const double peak = convolved(0.0);
  for (Index x : {20, 21, 23, 26, 32}) {
    EXPECT_NEAR(v[x - 1], 5.0 * convolved(double(x) - 0.5 - centre) / peak, 2e-5) << x;
  }
  EXPECT_FLOAT_EQ(v[19], 5.0f);

  status = ST_GOOD();
  MA_1DVOIGTIAN(40, 1, 40, 2.0f, 17.3f, 0.0f, 0.0f, 0, v, status);
  EXPECT_EQ(status, 20021);
}

TEST(Profiles1D, BackgroundShapes) {
  Status status = ST_GOOD();
  std::vector<float> a(8, 1.0f);
  MA_1DEXPDECAY(8, 1, 8, 4.0f, 2.5f, 2.0f, 0, a, status);
  EXPECT_FLOAT_EQ(a[2], 5.0f);   // channel 3: at the start
  EXPECT_FLOAT_EQ(a[4], 3.0f);   // one half-life later
  EXPECT_FLOAT_EQ(a[0], 9.0f);   // before the start: above the amplitude
  std::fill(a.begin(), a.end(), 0.0f);
  MA_1DSINUSOIDAL(8, 1, 8, 2.0f, 0.5f, 4.0f, 0, a, status);
  EXPECT_NEAR(a[0], 2.0f, 1e-5f);
  EXPECT_NEAR(a[1], 0.0f, 1e-5f);
  EXPECT_NEAR(a[2], -2.0f, 1e-5f);
  std::fill(a.begin(), a.end(), 2.0f);
  const std::vector<float> axis{0, 1, 2, 3, 4, 5, 6, 7};
  MA_1DINTERCORR(8, 2, 5, 1.0f, 3.0f, 3.0f, axis, a, status);
  EXPECT_EQ(a, (std::vector<float>{2, 2, 4, 6, 8, 2, 2, 2}));
  EXPECT_EQ(status, ST_GOOD());
}

TEST(Profiles1D, RefusedArgumentsAddNothing) {
  struct Case {
    Index xmax, xs, xe;
    float width, cutoff;
    int mode;
    Status code;
  };
  const Case cases[] = {
      {0, 1, 1, 1, 5, 1, 20001},  {10, 0, 5, 1, 5, 1, 20005},  {10, 6, 5, 1, 5, 1, 20005},
      {10, 1, 11, 1, 5, 1, 20005}, {10, 1, 10, 0, 5, 1, 20021}, {10, 1, 10, 1, -1, 1, 20021},
      {10, 1, 10, 1, 5, 2, 20017},
  };
  for (const Case& c : cases) {
    std::vector<float> a(10, 0.0f);
    Status status = ST_GOOD();
    MA_1DGAUSSIAN(c.xmax, c.xs, c.xe, 1.0f, 5.0f, c.width, c.cutoff, c.mode, a, status);
    EXPECT_EQ(status, c.code);
    EXPECT_EQ(a, std::vector<float>(10, 0.0f));
  }
}

}  // namespace
}  // namespace kesta
