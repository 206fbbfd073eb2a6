#include "numeric/profiles2d.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/status.hpp"
#include "numeric/profiles1d.hpp"

namespace kesta {
namespace {

std::vector<float> axis(Index n, float origin, float step) {
  std::vector<float> a(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) a[i] = origin + step * float(i);
  return a;
}

TEST(RotatedGaussian, AxisAndPixelFormsAgree) {
  const Index xm = 40, ym = 30;
  // Axes holding the pixel centres make the two routines the same peak.
  const std::vector<float> xa = axis(xm, 0.5f, 1.0f), ya = axis(ym, 0.5f, 1.0f);
  for (int mode : {0, 1, 9}) {
    std::vector<float> a(xm * ym, 0.0f), b(xm * ym, 0.0f);
    Status status = ST_GOOD();
    MA_2DGAUSSIAN(xm, ym, 1, 1, xm, ym, xa, ya, 3.0f, 17.2f, 12.9f, 2.5f, 1.2f, 0.6f, 3.0f, mode,
                  a, status);
    MA_2GAUSSIAN(xm, ym, 1, 1, xm, ym, 3.0f, 17.2f, 12.9f, 2.5f, 1.2f, 0.6f, 3.0f, mode, b, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_EQ(a, b);
    // Axes that run downwards (a d-spacing scale) hold the same peak, its
    // pixels mirrored.
    const std::vector<float> xd(xa.rbegin(), xa.rend()), yd(ya.rbegin(), ya.rend());
    std::vector<float> d(xm * ym, 0.0f);
    MA_2DGAUSSIAN(xm, ym, 1, 1, xm, ym, xd, yd, 3.0f, 17.2f, 12.9f, 2.5f, 1.2f, 0.6f, 3.0f, mode,
                  d, status);
    ASSERT_EQ(status, ST_GOOD());
    for (Index y = 1; y <= ym; ++y)
      for (Index x = 1; x <= xm; ++x)
        ASSERT_EQ(d[element(xm + 1 - x, ym + 1 - y, xm)], a[element(x, y, xm)]) << x << " " << y;
    // Exact mode against the closed form inside the cut-off.
    if (mode == 9) {
      const float c = std::cos(0.6f), s = std::sin(0.6f);
      for (Index y = 1; y <= ym; ++y)
        for (Index x = 1; x <= xm; ++x) {
          const float dx = x - 0.5f - 17.2f, dy = y - 0.5f - 12.9f;
          const float u = (c * dx + s * dy) / 2.5f, v = (-s * dx + c * dy) / 1.2f;
          const float want =
              std::max(std::fabs(u), std::fabs(v)) <= 3.0f ? 3.0f * std::exp(-0.5f * (u * u + v * v)) : 0.0f;
          EXPECT_NEAR(a[element(x, y, xm)], want, 1e-6f) << x << " " << y;
        }
    }
  }
}

TEST(RotatedGaussian, CutOffIsARectangleAndReachOutsideAddsNothing) {
  const Index n = 30;
  std::vector<float> a(n * n, 0.0f);
  Status status = ST_GOOD();
  MA_2GAUSSIAN(n, n, 1, 1, n, n, 1.0f, 10.5f, 10.5f, 1.0f, 2.0f, 0.0f, 3.0f, 1, a, status);
  EXPECT_FLOAT_EQ(a[element(14, 11, n)], MA_GAUSSIAN(3.0f, 1, status) * MA_GAUSSIAN(0.0f, 1, status));
  std::fill(a.begin(), a.end(), 0.0f);
  MA_2GAUSSIAN(n, n, 1, 1, n, n, 1.0f, 10.4f, 10.5f, 1.0f, 2.0f, 0.0f, 3.0f, 9, a, status);
  EXPECT_EQ(a[element(14, 11, n)], 0.0f);  // 3.1 widths along X
  EXPECT_GT(a[element(11, 17, n)], 0.0f);  // 3.0 of the wider width along Y (5.9 units)
  std::fill(a.begin(), a.end(), 0.0f);
  MA_2GAUSSIAN(n, n, 1, 1, 10, 10, 1.0f, 25.0f, 25.0f, 1.0f, 1.0f, 0.0f, 3.0f, 1, a, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(a, std::vector<float>(n * n, 0.0f));
  struct Case {
    Index xs, ys, xe, ye;
    float w1, cut;
    int mode;
    Status code;
  };
  for (const Case& c : {Case{0, 1, 5, 5, 1, 3, 1, 20005}, Case{1, 1, 31, 5, 1, 3, 1, 20005},
                        Case{1, 4, 5, 3, 1, 3, 1, 20006}, Case{1, 1, 5, 5, 0, 3, 1, 20021},
                        Case{1, 1, 5, 5, 1, 0, 1, 20021}, Case{1, 1, 5, 5, 1, 3, 2, 20017}}) {
    status = ST_GOOD();
    MA_2GAUSSIAN(n, n, c.xs, c.ys, c.xe, c.ye, 1.0f, 3.0f, 3.0f, c.w1, 1.0f, 0.0f, c.cut, c.mode, a, status);
    EXPECT_EQ(status, c.code);
  }
  EXPECT_EQ(a, std::vector<float>(n * n, 0.0f));
}

// The polar Gaussian evaluated at every pixel of the region, for comparison
// with the routine's box and hole. Pixels within 1e-3 of the cut-off are
// reported as -1 (rounding may decide them either way).
std::vector<float> polar_everywhere(Index xm, Index ym, const std::vector<float>& xa,
                                    const std::vector<float>& ya, float h, float xp, float yp,
                                    float xc, float yc, float rw, float aw, float cut) {
  cut = std::min(cut, 6.0f);
  const double r0 = std::hypot(double(xp - xc), double(yp - yc));
  double a0 = r0 > 0 ? std::atan2(double(yp - yc), double(xp - xc)) : 0.0;
  std::vector<float> out(xm * ym, 0.0f);
  for (Index y = 1; y <= ym; ++y)
    for (Index x = 1; x <= xm; ++x) {
      const double dx = xa[x - 1] - xc, dy = ya[y - 1] - yc, r = std::hypot(dx, dy);
      double da = (r > 0 ? std::atan2(dy, dx) : 0.0) - a0;
      da = std::remainder(da, 6.283185307179586);
      const double q = (da / aw) * (da / aw) + ((r - r0) / rw) * ((r - r0) / rw);
      if (std::fabs(q - double(cut) * cut) < 1e-3) {
        out[element(x, y, xm)] = -1.0f;
      } else if (q <= double(cut) * cut) {
        out[element(x, y, xm)] = float(h * std::exp(-q / 2));
      }
    }
  return out;
}

TEST(PolarGaussian, BoxAndHoleLoseNoPixel) {
  const Index xm = 64, ym = 48;
  struct Case {
    float xp, yp, xc, yc, rw, aw, cut;
  };
  const Case cases[] = {
      {10.0f, 0.2f, 0.0f, 0.0f, 1.0f, 0.3f, 3.0f},     // spans azimuth 0
      {0.0f, 14.0f, 0.0f, 0.0f, 1.5f, 0.2f, 4.0f},     // a ring segment with a large hole
      {1.0f, -9.0f, 0.0f, 0.0f, 1.0f, 0.25f, 3.0f},    // around 3 pi/2
      {11.76f, 2.38f, 0.0f, 0.0f, 1.0f, 0.8667f, 3.0f},  // from azimuth 0.2 down past -pi/2
      {-8.0f, 0.5f, 0.5f, 0.0f, 1.0f, 0.4f, 3.0f},     // around pi
      {5.0f, 5.0f, 0.0f, 0.0f, 0.8f, 2.0f, 10.0f},     // span beyond the full circle, cut-off 6
      {3.0f, 2.0f, 3.0f, 2.0f, 2.0f, 0.5f, 3.0f},      // peak at the polar centre
      {20.0f, 0.0f, -18.0f, -12.0f, 0.7f, 0.05f, 3.0f},  // centre near a corner
  };
  // Axes running upwards, and downwards (a d-spacing scale) in X, Y or both.
  for (const bool x_down : {false, true})
    for (const bool y_down : {false, true}) {
      const std::vector<float> xa = x_down ? axis(xm, 27.25f, -0.75f) : axis(xm, -20.0f, 0.75f);
      const std::vector<float> ya = y_down ? axis(ym, 22.6f, -0.8f) : axis(ym, -15.0f, 0.8f);
      for (const Case& c : cases) {
        std::vector<float> got(xm * ym, 0.0f);
        Status status = ST_GOOD();
        MA_2DPOLARGAU(xm, ym, 1, 1, xm, ym, xa, ya, 2.0f, c.xp, c.yp, c.xc, c.yc, c.rw, c.aw,
                      c.cut, 9, got, status);
        ASSERT_EQ(status, ST_GOOD());
        const std::vector<float> want =
            polar_everywhere(xm, ym, xa, ya, 2.0f, c.xp, c.yp, c.xc, c.yc, c.rw, c.aw, c.cut);
        int covered = 0, wrong = 0;
        for (std::size_t i = 0; i < want.size(); ++i) {
          if (want[i] < 0) continue;
          wrong += std::fabs(got[i] - want[i]) > 2e-5f;
          covered += want[i] > 0;
        }
        EXPECT_EQ(wrong, 0) << c.xp << "," << c.yp << " down " << x_down << y_down;
        EXPECT_GT(covered, 10);
      }
    }
}

TEST(PolarGaussian, TableModesAndTheEdgeOfTheTable) {
  const Index xm = 24, ym = 10;
  const std::vector<float> xa = axis(xm, 1.0f, 1.0f), ya = axis(ym, 1.0f, 1.0f);
  // Pixel (17, 5) lies on the peak's ray exactly 6 radial widths out: q = 36.
  for (int mode : {0, 1}) {
    std::vector<float> a(xm * ym, 0.0f);
    Status status = ST_GOOD();
    MA_2DPOLARGAU(xm, ym, 1, 1, xm, ym, xa, ya, 1.0f, 11.0f, 5.0f, 1.0f, 5.0f, 1.0f, 0.1f, 6.0f,
                  mode, a, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_FLOAT_EQ(a[element(11, 5, xm)], 1.0f);
    EXPECT_NEAR(a[element(17, 5, xm)], std::exp(-18.0f), 1e-9f);
    EXPECT_NEAR(a[element(13, 5, xm)], std::exp(-2.0f), 1e-3f);
  }
  std::vector<float> a(xm * ym, 0.0f);
  Status status = ST_GOOD();
  MA_2DPOLARGAU(xm, ym, 1, 1, xm, ym, xa, ya, 1.0f, 11.0f, 5.0f, 1.0f, 5.0f, 0.0f, 0.1f, 6.0f, 1,
                a, status);
  EXPECT_EQ(a, std::vector<float>(xm * ym, 0.0f));
  MA_2DPOLARGAU(xm, ym, 1, 1, xm, ym, xa, ya, 1.0f, 11.0f, 5.0f, 1.0f, 5.0f, -1.0f, 0.1f, 6.0f, 1,
                a, status);
  EXPECT_EQ(status, 20021);
}

}  // namespace
}  // namespace kesta
