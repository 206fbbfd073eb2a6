// Circle and ellipse fits through points: exact figures come back, normal
// form of the ellipse, error estimates, refused point sets.

#include "app/diffraction/circle_fits.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

struct Points {
  std::vector<float> x, y;
};

// N points on an ellipse (angles spread over SPAN radians).
Points on_ellipse(int n, double xc, double yc, double r1, double r2, double angle,
                  double span = 6.283185) {
  Points p;
  for (int k = 0; k < n; ++k) {
    const double t = span * k / n + 0.3;
    const double u = r1 * std::cos(t), v = r2 * std::sin(t);
    p.x.push_back(static_cast<float>(xc + u * std::cos(angle) - v * std::sin(angle)));
    p.y.push_back(static_cast<float>(yc + u * std::sin(angle) + v * std::cos(angle)));
  }
  return p;
}

TEST(CircleFit, RecoversCircleFromThreeOrMorePoints) {
  for (int n : {3, 4, 30}) {
    const Points p = on_ellipse(n, 0.051, 0.047, 0.031, 0.031, 0.0, 2.0);
    float xc = 0, yc = 0, r = 0, err = -1;
    Status status = kStatusGood;
    KZT_LSQCIRCLE(720, n, p.x, p.y, xc, yc, r, err, status);
    ASSERT_EQ(status, kStatusGood) << n;
    EXPECT_NEAR(xc, 0.051, 2e-7) << n;
    EXPECT_NEAR(yc, 0.047, 2e-7) << n;
    EXPECT_NEAR(r, 0.031, 2e-7) << n;
    EXPECT_NEAR(err, 0.0, 1e-7) << n;
  }
}

TEST(EllipseFit, NormalFormAndErrorEstimate) {
  struct Case {
    double r1, r2, angle;  // the generating ellipse
    double want_r1, want_r2, want_angle;
  };
  const Case cases[] = {
      {0.04, 0.03, 0.4, 0.04, 0.03, 0.4},
      // Axis 1 the shorter: swapped, turned by 90 degrees, back within range.
      {0.03, 0.04, 0.4, 0.04, 0.03, 0.4 - 1.5707963},
      {0.04, 0.035, 2.0, 0.04, 0.035, 2.0 - 3.1415925},
  };
  for (const Case& c : cases) {
    const Points p = on_ellipse(40, 0.1, 0.09, c.r1, c.r2, c.angle);
    float xc = 0, yc = 0, r1 = 0, r2 = 0, angle = 0, err = -1;
    Status status = kStatusGood;
    KZT_LSQELLIPSE(720, 40, p.x, p.y, xc, yc, r1, r2, angle, err, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_NEAR(xc, 0.1, 1e-6);
    EXPECT_NEAR(yc, 0.09, 1e-6);
    EXPECT_NEAR(r1, c.want_r1, 1e-6);
    EXPECT_NEAR(r2, c.want_r2, 1e-6);
    EXPECT_NEAR(angle, c.want_angle, 1e-3) << c.angle;
    EXPECT_GE(angle, -1.5707964f);
    EXPECT_LE(angle, 1.5707964f);
    EXPECT_GE(err, 0.0f);
    EXPECT_LT(err, 1e-6);
  }
  // Five points determine the ellipse: no error estimate is possible.
  const Points five = on_ellipse(5, 0.1, 0.09, 0.04, 0.03, 0.4);
  float xc = 0, yc = 0, r1 = 0, r2 = 0, angle = 0, err = 0;
  Status status = kStatusGood;
  KZT_LSQELLIPSE(720, 5, five.x, five.y, xc, yc, r1, r2, angle, err, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(err == -1.7e38f || err == 0.0f) << err;
}

TEST(CircleAndEllipseFits, RefuseBadPointSets) {
  const Points six = on_ellipse(6, 0.1, 0.1, 0.04, 0.03, 0.0);
  const std::vector<float> same(6, 0.05f);
  std::vector<float> many(721, 0.0f);
  for (std::size_t k = 0; k < many.size(); ++k) many[k] = std::sin(0.01f * k);
  struct Case {
    bool ellipse;
    Index max, num;
    const std::vector<float>& x;
    const std::vector<float>& y;
    Status code;
  };
  const Case cases[] = {
      {false, 0, 6, six.x, six.y, 110001},  {false, 720, 2, six.x, six.y, 110005},
      {false, 5, 6, six.x, six.y, 110005},  {false, 721, 721, many, many, 110005},
      {false, 720, 6, same, same, 111005},  {true, 720, 4, six.x, six.y, 110017},
      {true, 721, 721, many, many, 110017}, {true, 720, 6, same, same, 111005},
  };
  for (const Case& c : cases) {
    testing::TerminalCapture quiet;
    float xc = 7, yc = 7, r1 = 7, r2 = 7, angle = 7, err = 7;
    Status status = kStatusGood;
    if (c.ellipse) {
      KZT_LSQELLIPSE(c.max, c.num, c.x, c.y, xc, yc, r1, r2, angle, err, status);
    } else {
      KZT_LSQCIRCLE(c.max, c.num, c.x, c.y, xc, yc, r1, err, status);
    }
    EXPECT_EQ(status, c.code) << c.ellipse << " " << c.num;
    EXPECT_EQ(xc, 7.0f);
    EXPECT_EQ(r1, 7.0f);
  }
}

}  // namespace
}  // namespace kesta
