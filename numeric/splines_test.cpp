#include "numeric/splines.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

TEST(Cubic, ThroughTwoPointsWithGradients) {
  EXPECT_FLOAT_EQ(MA_CUBIC(1, -2, 3, 4, 2.0f), 8 - 8 + 6 + 4);
  struct Case {
    float x1, y1, g1, x2, y2, g2;
  };
  for (const Case& k : {Case{1, 2, 0.5f, 3, -1, 2}, Case{-2, 0, 1, 0.5f, 4, -3}, Case{10, 5, 0, 11, 5, 0}}) {
    bool ok = false;
    float a = 0, b = 0, c = 0, d = 0;
    Status status = ST_GOOD();
    MA_CUBSPLINE(k.x1, k.y1, k.g1, k.x2, k.y2, k.g2, ok, a, b, c, d, status);
    ASSERT_TRUE(ok);
    auto slope = [&](float x) { return 3 * a * x * x + 2 * b * x + c; };
    EXPECT_NEAR(MA_CUBIC(a, b, c, d, k.x1), k.y1, 1e-3f);
    EXPECT_NEAR(MA_CUBIC(a, b, c, d, k.x2), k.y2, 1e-3f);
    EXPECT_NEAR(slope(k.x1), k.g1, 1e-3f);
    EXPECT_NEAR(slope(k.x2), k.g2, 1e-3f);
  }
  bool ok = false;
  float a = 9, b = 9, c = 0, d = 0;
  Status status = ST_GOOD();
  MA_CUBSPLINE(1, 1, 2, 3, 5, 2, ok, a, b, c, d, status);  // gradients equal the chord
  EXPECT_EQ(a, 0.0f);
  EXPECT_EQ(b, 0.0f);
  EXPECT_FLOAT_EQ(c, 2.0f);
  EXPECT_FLOAT_EQ(d, -1.0f);
  MA_CUBSPLINE(1, 1, 2, 1, 5, 2, ok, a, b, c, d, status);
  EXPECT_EQ(status, 20013);
}

// A clamped cubic spline reproduces a linear function when each coefficient is
// the function at its knot average (Greville abscissa).
struct Surface {
  std::vector<float> tx{0, 0, 0, 0, 1.5f, 2, 4, 4, 4, 4};        // 10 knots, 6 coefficients
  std::vector<float> ty{-1, -1, -1, -1, 0, 0.5f, 3, 3, 3, 3};   // 10 knots
  std::vector<float> c;
  static float greville(const std::vector<float>& t, int i) { return (t[i + 1] + t[i + 2] + t[i + 3]) / 3; }
  static float plane(float x, float y) { return 1 + 2 * x - 3 * y; }
  Surface() {
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) c.push_back(plane(greville(tx, i), greville(ty, j)));
  }
  float at(float x, float y) const {
    float v = 0;
    Status status = ST_GOOD();
    MA_CAL_NBCUBSPLINE(10, 10, tx, 10, 10, ty, 36, c, x, y, v, status);
    EXPECT_EQ(status, ST_GOOD());
    return v;
  }
};

TEST(BicubicSurface, ReproducesAPlaneAndClampsOutside) {
  const Surface s;
  for (float x : {0.0f, 0.3f, 1.5f, 1.99f, 3.7f, 4.0f})
    for (float y : {-1.0f, -0.2f, 0.5f, 2.9f, 3.0f}) EXPECT_NEAR(s.at(x, y), Surface::plane(x, y), 1e-5f) << x << " " << y;
  EXPECT_NEAR(s.at(-5.0f, 10.0f), Surface::plane(0.0f, 3.0f), 1e-5f);
  EXPECT_NEAR(s.at(7.0f, -4.0f), Surface::plane(4.0f, -1.0f), 1e-5f);
  float v = 0;
  Status status = ST_GOOD();
  MA_CAL_NBCUBSPLINE(10, 10, s.tx, 10, 10, s.ty, 35, s.c, 0, 0, v, status);
  EXPECT_EQ(status, 20005);
}

TEST(BicubicSurface, ImageEvaluationMatchesPointEvaluation) {
  Surface s;
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> dist(-2, 2);
  for (float& v : s.c) v = dist(gen);  // an arbitrary surface
  const Index xm = 14, ym = 9;
  std::vector<float> xc(xm), yc(ym), image(xm * ym, -50.0f), xb(4 * xm), yb(4 * ym);
  std::vector<int> xi(xm), yi(ym);
  for (Index i = 0; i < xm; ++i) xc[i] = -0.5f + 0.35f * i;  // starts outside the domain
  for (Index j = 0; j < ym; ++j) yc[j] = -1.2f + 0.5f * j;
  Status status = ST_GOOD();
  MA_CAL_2DNCUBSPLINE(0, 10, 10, s.tx, 10, 10, s.ty, 36, s.c, xm, xc, ym, yc, 2, 1, 13, 9, 4 * xm,
                      4 * ym, image, xb, yb, xi, yi, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index y = 1; y <= ym; ++y)
    for (Index x = 1; x <= xm; ++x) {
      const float want = (x >= 2 && x <= 13) ? s.at(xc[x - 1], yc[y - 1]) : -50.0f;
      EXPECT_NEAR(image[element(x, y, xm)], want, 1e-5f) << x << " " << y;
    }
}

TEST(BicubicSurface, ImageEvaluationRefusals) {
  const Surface s;
  const Index xm = 6, ym = 4;
  std::vector<float> xc{0, 1, 2, 1.5f, 3, 4}, yc{0, 1, 2, 3}, image(xm * ym, 0.0f), xb(4 * xm), yb(4 * ym);
  std::vector<int> xi(xm), yi(ym);
  struct Case {
    int mode;
    Index nxk, nyk, max_coefficients, xe, xwork;
    const char* line;
    Status code;
  };
  // The coefficient count is checked before the Y knots, so a short
  // coefficient list is reported even when the Y knots are wrong too.
  for (const Case& k : {Case{2, 10, 10, 36, 6, 24, "", 20017},
                        Case{0, 7, 10, 36, 6, 24, "xnum_knots wrong\n", 20005},
                        Case{0, 10, 10, 35, 6, 24, "max_coefficients too small\n", 20005},
                        Case{0, 10, 7, 17, 6, 24, "max_coefficients too small\n", 20005},
                        Case{0, 10, 7, 36, 6, 24, "", 20005},
                        Case{0, 10, 10, 36, 7, 24, "xstrelm, xendelm problem\n", 20005},
                        Case{0, 10, 10, 36, 6, 23, "xmax_work too small\n", 20005},
                        Case{0, 10, 10, 36, 6, 24, "", 21012}, Case{1, 10, 10, 36, 6, 24, "", ST_GOOD()}}) {
    testing::TerminalCapture capture;
    Status status = ST_GOOD();
    MA_CAL_2DNCUBSPLINE(k.mode, 10, k.nxk, s.tx, 10, k.nyk, s.ty, k.max_coefficients, s.c, xm, xc, ym, yc, 1,
                        1, k.xe, 4, k.xwork, 4 * ym, image, xb, yb, xi, yi, status);
    EXPECT_EQ(status, k.code) << k.line;
    EXPECT_EQ(capture.text(), k.line);
  }
  // Out-of-order columns evaluated when trusted.
  EXPECT_NEAR(image[element(4, 2, xm)], Surface::plane(1.5f, 1.0f), 1e-5f);
}

}  // namespace
}  // namespace kesta
