#include "numeric/polygon.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/test_support.hpp"

namespace kesta {
namespace {

// A prepared curve with the callers' table sizes.
struct Prepared {
  std::vector<float> x, y;
  std::vector<float> w = std::vector<float>(800, 0.0f);
  std::vector<std::int16_t> lnd = std::vector<std::int16_t>(400, 0);
  std::vector<float> t, xd, yd;
  int mode = 1;

  Prepared(std::vector<float> xs, std::vector<float> ys, int m = 1)
      : x(std::move(xs)), y(std::move(ys)), mode(m) {
    t.resize(x.size());
    xd.resize(x.size());
    yd.resize(x.size());
    MA_GA05A(static_cast<Index>(x.size()), mode, w, 800, lnd, 200, x, y, t, xd, yd);
  }
  float test(float xp, float yp) const {
    float r = 0;
    MA_GA05B(xp, yp, r, static_cast<Index>(x.size()), mode, w, 800, lnd, 200, x, y, t, xd, yd);
    return r;
  }
};

// Independent even-odd answer from every segment, lower end included.
float brute_force(const std::vector<float>& x, const std::vector<float>& y, double xp, double yp) {
  std::vector<double> xs;
  for (std::size_t i = 0; i + 1 < x.size(); ++i) {
    const double y0 = y[i], y1 = y[i + 1];
    if (std::min(y0, y1) <= yp && yp < std::max(y0, y1))
      xs.push_back(x[i] + (yp - y0) * (double{x[i + 1]} - x[i]) / (y1 - y0));
  }
  if (xs.empty()) return -1.0e38f;
  int left = 0;
  double nearest = 1e300;
  for (double c : xs) {
    left += c < xp;
    nearest = std::min(nearest, std::fabs(c - xp));
  }
  return static_cast<float>(left % 2 == 1 ? nearest : -nearest);
}

TEST(Polygon, Square) {
  const Prepared square({0, 10, 10, 0, 0}, {0, 0, 10, 10, 0});
  EXPECT_FLOAT_EQ(square.test(5, 5), 5.0f);
  EXPECT_FLOAT_EQ(square.test(8, 2), 2.0f);
  EXPECT_FLOAT_EQ(square.test(15, 5), -5.0f);
  EXPECT_FLOAT_EQ(square.test(-1, 5), -1.0f);
  EXPECT_FLOAT_EQ(square.test(5, 20), -1.0e38f);
  EXPECT_FLOAT_EQ(square.test(10, 5), 0.0f);
  float r = 0;
  MA_GA05C(5, 5, r);
  EXPECT_FLOAT_EQ(r, 5.0f);
}

TEST(Polygon, RandomPolygonsAgreeWithEverySegmentCounted) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int shape = 0; shape < 20; ++shape) {
    // A star-shaped polygon with jagged radii, sometimes clockwise, and some
    // vertices on integer rows so that test lines pass through them.
    const int n = 3 + shape * 4;
    std::vector<float> x, y;
    for (int i = 0; i < n; ++i) {
      const float a = 6.2831853f * static_cast<float>(i) / n * (shape % 2 ? 1.0f : -1.0f);
      const float radius = 5.0f + 20.0f * u(rng);
      x.push_back(std::round(30.0f + radius * std::cos(a)));
      y.push_back(shape % 3 == 0 ? std::round(30.0f + radius * std::sin(a))
                                 : 30.0f + radius * std::sin(a));
    }
    x.push_back(x[0]);
    y.push_back(y[0]);
    const Prepared p(x, y);
    ASSERT_LE(p.lnd[0], 0) << shape;
    for (int row = 0; row <= 60; ++row) {
      const float yp = static_cast<float>(row);
      for (float xp = 0.25f; xp < 60.0f; xp += 1.5f) {
        const float want = brute_force(x, y, xp, yp);
        const float got = p.test(xp, yp);
        ASSERT_EQ(got >= 0.0f, want >= 0.0f) << shape << " at " << xp << "," << yp;
        ASSERT_NEAR(got, want, 1e-3f * std::max(1.0f, std::fabs(want)));
      }
    }
  }
}

TEST(Polygon, TwoCurvesPreparedInTurnStayApart) {
  const Prepared small({0, 2, 2, 0, 0}, {0, 0, 2, 2, 0});
  const Prepared large({0, 20, 20, 0, 0}, {0, 0, 20, 20, 0});
  for (int i = 0; i < 3; ++i) {
    EXPECT_LT(small.test(5, 1), 0.0f);
    EXPECT_GT(large.test(5, 1), 0.0f);
  }
}

TEST(Polygon, SmoothCurveThroughTheVertices) {
  // A smooth curve through 16 points of a circle of radius 10 follows it.
  std::vector<float> x, y;
  for (int i = 0; i <= 16; ++i) {
    const double a = 2.0 * M_PI * (i % 16) / 16.0;
    x.push_back(static_cast<float>(10.0 * std::cos(a)));
    y.push_back(static_cast<float>(10.0 * std::sin(a)));
  }
  const Prepared smooth(x, y, 2);
  EXPECT_NEAR(smooth.test(0, 0), 10.0f, 0.05f);
  EXPECT_NEAR(smooth.test(6, 6), 10.0f * std::sqrt(1.0f - 0.36f) - 6.0f, 0.05f);
  EXPECT_NEAR(smooth.test(12, 0), -2.0f, 0.05f);
  EXPECT_FLOAT_EQ(smooth.test(0, 11), -1.0e38f);
  // The chord between vertices cuts inside the circle; the smooth curve does not.
  const Prepared straight(x, y, 1);
  const double a = M_PI / 16.0;  // between vertices 0 and 1
  const float px = static_cast<float>(9.95 * std::cos(a));
  const float py = static_cast<float>(9.95 * std::sin(a));
  EXPECT_LT(straight.test(px, py), 0.0f);
  EXPECT_GT(smooth.test(px, py), 0.0f);
}

TEST(Polygon, FailuresAreReportedAndNothingIsInside) {
  struct Case {
    std::vector<float> x, y;
    Index iw, lnd;
    std::string reason;
    std::int16_t number;
  };
  const std::vector<Case> cases = {
      {{0, 10, 10, 0, 1}, {0, 0, 10, 10, 0}, 800, 200, "THE DATA IS NOT PERIODIC", 3},
      {{0, 10, 10, 0, 0}, {0, 0, 10, 10, 0}, 7, 200, "iw IS TOO SMALL", 1},
      {{0, 10, 10, 0, 0}, {0, 0, 10, 10, 0}, 800, 2, "lnd IS TOO SMALL", 2},
  };
  for (const Case& c : cases) {
    testing::TerminalCapture capture;
    std::vector<float> w(800);
    std::vector<std::int16_t> lnd(400);
    const Index n = static_cast<Index>(c.x.size());
    MA_GA05A(n, 1, w, c.iw, lnd, c.lnd, c.x, c.y, {}, {}, {});
    EXPECT_EQ(capture.text(),
              " + ERROR RETURN FROM GA05 BECAUSE\n" + std::string(32, ' ') + c.reason + "\n");
    EXPECT_EQ(lnd[0], c.number);
    float r = 0;
    MA_GA05B(5, 5, r, n, 1, w, c.iw, lnd, c.lnd, c.x, c.y, {}, {}, {});
    EXPECT_FLOAT_EQ(r, -1.0e38f);
    MA_GA05C(5, 5, r);
    EXPECT_FLOAT_EQ(r, -1.0e38f);
  }
}

TEST(Polygon, ZeroFinderOutcomes) {
  double zero = 0;
  auto f = [](double v) { return v * v - 2.0; };
  EXPECT_EQ(NB01A(f, 0.0, 2.0, 1e-10, 100, zero), 2);
  EXPECT_NEAR(zero, std::sqrt(2.0), 1e-9);
  EXPECT_EQ(NB01A(f, 2.0, 3.0, 1e-10, 100, zero), 1);
  EXPECT_EQ(NB01A(f, 0.0, 2.0, 1e-10, 3, zero), 3);
  EXPECT_EQ(NB01A(f, 0.0, 4.0, 1e-10, 100, zero), 2);
}

}  // namespace
}  // namespace kesta
