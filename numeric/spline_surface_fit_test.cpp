#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"
#include "numeric/splines.hpp"

namespace kesta {
namespace {

struct Scatter {
  std::vector<float> x, y, z, w;
  Scatter(int n, unsigned seed, float lo, float hi, float (*f)(float, float), float noise = 0.0f) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> pos(lo, hi), err(-noise, noise);
    for (int i = 0; i < n; ++i) {
      x.push_back(pos(gen));
      y.push_back(pos(gen));
      z.push_back(f(x.back(), y.back()) + (noise > 0 ? err(gen) : 0.0f));
    }
    w.assign(x.size(), 0.0f);
  }
};

// Pixel centres 0.5, 1.5, ... as coordinates.
std::vector<float> centres(Index n) {
  std::vector<float> c(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) c[i] = float(i) + 0.5f;
  return c;
}

TEST(SurfaceFit, APlaneIsItsOwnLeastSquaresPolynomial) {
  Scatter data(60, 1, 0.0f, 10.0f, [](float x, float y) { return 1 + 2 * x - y; });
  const Index n = 10;
  std::vector<float> image(n * n, -1.0f);
  int failed = -1;
  float fp = -1;
  Status status = ST_GOOD();
  MA_SINTERPOLATE(0, false, 0.01f, 60, 60, data.x, data.y, data.z, n, n, 3, 3, 8, 8, centres(n),
                  centres(n), data.w, failed, fp, image, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(data.w, std::vector<float>(60, 1.0f));
  EXPECT_LT(fp, 60 * 0.01f * 0.01f);
  for (Index y = 1; y <= n; ++y)
    for (Index x = 1; x <= n; ++x) {
      const bool inside = x >= 3 && x <= 8 && y >= 3 && y <= 8;
      const float want = inside ? 1 + 2 * (x - 0.5f) - (y - 0.5f) : -1.0f;
      EXPECT_NEAR(image[element(x, y, n)], want, 2e-3f) << x << " " << y;
    }
}

TEST(SurfaceFit, SmoothsToTheRequestedResidual) {
  auto f = [](float x, float y) { return std::sin(x) * std::cos(0.7f * y); };
  Scatter data(500, 2, 0.0f, 6.0f, f, 0.02f);
  const Index m = 500;
  const float s = m * 0.012f * 0.012f;
  data.w.assign(data.x.size(), 1.0f);
  // Unequal knot estimates with the smallest work lengths the routine
  // documents, whose band is the narrower of the two orientations.
  for (const auto& [nxest, nyest] : {std::pair<Index, Index>{30, 30}, {18, 30}, {30, 18}}) {
    const Index u = nxest - 4, v = nyest - 4, ne = std::max(nxest, nyest);
    const Index bx = 3 * v + 4, by = 3 * u + 4;
    const Index b1 = std::min(bx, by), b2 = b1 + (bx <= by ? v : u) - 3;
    const Index lwrk1 = u * v * (2 + b1 + b2) + 2 * (u + v + 4 * (m + ne) + ne - 6) + b2 + 1;
    const Index lwrk2 = u * v * (b2 + 1) + b2, kwrk = m + (nxest - 7) * (nyest - 7);
    std::vector<float> tx(nxest), ty(nyest), c(u * v), wrk1(lwrk1), wrk2(1);
    std::vector<int> iwrk(kwrk);
    Index nx = 0, ny = 0;
    float fp = 0;
    int ier = 99;
    testing::TerminalCapture capture;
    SURFIT(0, m, data.x, data.y, data.z, data.w, 0.0f, 6.0f, 0.0f, 6.0f, 3, 3, s, nxest, nyest, ne,
           1e-6f, nx, tx, ny, ty, c, fp, wrk1, lwrk1, wrk2, lwrk2, iwrk, kwrk, ier);
    ASSERT_LE(ier, 0) << nxest << " " << nyest << " " << capture.text();
    EXPECT_GT(nx, 8);  // knots were added
    EXPECT_NEAR(fp, s, 0.002f * s);
    for (float x = 0.5f; x < 5.6f; x += 0.7f)
      for (float y = 0.5f; y < 5.6f; y += 0.7f) {
        float value = 0;
        Status status = ST_GOOD();
        MA_CAL_NBCUBSPLINE(nxest, nx, tx, nyest, ny, ty, u * v, c, x, y, value, status);
        EXPECT_NEAR(value, f(x, y), 0.05f) << x << " " << y << " " << nxest << " " << nyest;
      }
  }
}

TEST(SurfaceFit, FailuresLeaveTheImageAndSayWhy) {
  const Index n = 6;
  struct Case {
    int points;
    float sigma;
    const char* line;
  };
  for (const Case& k : {Case{15, 0.1f, "SURFIT ERROR: m is too small wrt kx and ky\n"
                                        "WARNING: Problem fitting coordinates: SURFIT Error status =     10\n"},
                        Case{40, 1e-7f, "WARNING: "}}) {
    Scatter data(k.points, 3, 0.0f, 6.0f, [](float x, float y) { return x * y; }, 1.0f);
    std::vector<float> image(n * n, 7.0f);
    int failed = -1;
    float fp = 0;
    testing::TerminalCapture capture;
    Status status = ST_GOOD();
    MA_SINTERPOLATE(0, false, k.sigma, k.points, k.points, data.x, data.y, data.z, n, n, 1, 1, n, n,
                    centres(n), centres(n), data.w, failed, fp, image, status);
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(image, std::vector<float>(n * n, 7.0f));
    EXPECT_EQ(capture.text().rfind(k.line, 0), 0u) << capture.text();
  }
  std::vector<float> image(n * n), w(4);
  int failed = 0;
  float fp = 0;
  Status status = ST_GOOD();
  MA_SINTERPOLATE(1, false, 0.1f, 4, 4, w, w, w, n, n, 1, 1, n, n, centres(n), centres(n), w,
                  failed, fp, image, status);
  EXPECT_EQ(status, 20017);
  status = ST_GOOD();
  MA_SINTERPOLATE(0, false, 0.1f, 4, 4, w, w, w, n, n, 1, 2, n, 1, centres(n), centres(n), w,
                  failed, fp, image, status);
  EXPECT_EQ(status, 20006);
}

}  // namespace
}  // namespace kesta

namespace kesta {
namespace {

TEST(SurfaceFit, EmptyPanelsGiveAMinimumNormSurface) {
  // Two clusters with nothing between them: the panels in the gap have no
  // data, so the observation matrix is rank deficient.
  std::vector<float> x, y, z, w;
  std::mt19937 gen(9);
  std::uniform_real_distribution<float> pos(0.0f, 1.0f);
  auto f = [](float a, float b) { return std::sin(a) + 0.3f * b * b; };
  for (int i = 0; i < 300; ++i) {
    const bool left = i % 2 == 0;
    const float a = left ? 2.0f * pos(gen) : 8.0f + 2.0f * pos(gen);
    const float b = 10.0f * pos(gen);
    x.push_back(a);
    y.push_back(b);
    z.push_back(f(a, b));
    w.push_back(1.0f);
  }
  const Index m = 300, nest = 26;
  const Index u = nest - 4, b1 = 3 * nest - 8, b2 = b1 + u - 3;
  const Index lwrk1 = u * u * (2 + b1 + b2) + 2 * (u + u + 4 * (m + nest) + nest - 6) + b2 + 1;
  const Index lwrk2 = u * u * (b2 + 1) + b2, kwrk = m + (nest - 7) * (nest - 7);
  std::vector<float> tx(nest), ty(nest), c(u * u), wrk1(lwrk1), wrk2(1);
  std::vector<int> iwrk(kwrk);
  // Given knots with five interior X knots inside the gap: the B-spline on
  // knots 3 .. 7 has no data under it.
  Index nx = 13, ny = 10;
  for (int i = 0; i < 5; ++i) tx[4 + i] = 3.0f + i;
  ty[4] = 3.3f, ty[5] = 6.6f;
  float fp = 0;
  int ier = 99;
  const float s = 0.0f;
  SURFIT(-1, m, x, y, z, w, 0.0f, 10.0f, 0.0f, 10.0f, 3, 3, s, nest, nest, nest, 1e-6f, nx, tx, ny,
         ty, c, fp, wrk1, lwrk1, wrk2, lwrk2, iwrk, kwrk, ier);
  EXPECT_EQ(ier, -48);  // minus the rank: one of 9 X B-splines times 6 in Y lost
  for (Index i = 0; i < m; i += 17) {
    float v = 0;
    Status status = ST_GOOD();
    MA_CAL_NBCUBSPLINE(nest, nx, tx, nest, ny, ty, u * u, c, x[i], y[i], v, status);
    EXPECT_NEAR(v, z[i], 0.02f);
  }
  for (float c0 : c) ASSERT_TRUE(std::isfinite(c0));

  // An exact fit (fp 0) on data that cannot fix the surface between two
  // lines of constant Y still reports its rank, not merely -1.
  std::vector<float> x2, y2, z2(20, 0.0f), w2(20, 1.0f);
  for (int i = 0; i < 20; ++i) {
    x2.push_back(float(i % 10));
    y2.push_back(i < 10 ? 0.0f : 1.0f);
  }
  nx = ny = 0;
  ier = 99;
  SURFIT(0, 20, x2, y2, z2, w2, 0.0f, 9.0f, 0.0f, 1.0f, 3, 3, 0.0f, nest, nest, nest, 1e-6f, nx, tx,
         ny, ty, c, fp, wrk1, lwrk1, wrk2, lwrk2, iwrk, kwrk, ier);
  EXPECT_EQ(fp, 0.0f);
  EXPECT_EQ(nx, 8);
  EXPECT_EQ(ier, -8);  // 4 X B-splines times the 2 Y B-splines with data
}

}  // namespace
}  // namespace kesta

namespace kesta {
namespace {

// Rank-deficient fits: the reported residual is a number, and where the fit
// is not a failed one (or is merely short of points) it is the residual of the
// surface returned, recomputed at the points.
TEST(SurfaceFit, RankDeficientFitsReportTheirTrueResidual) {
  struct Case {
    int points;
    unsigned seed;
    float s;
    Index nxest, nyest;
    bool residual_checked;
  };
  for (const Case& k : {Case{551, 1, 0.06f, 64, 48, false}, Case{551, 2, 0.06f, 64, 48, false},
                        Case{551, 3, 0.06f, 64, 48, true}, Case{551, 4, 0.06f, 64, 48, true},
                        Case{159, 12, 159 * 1e-8f, 30, 30, true}}) {
    Scatter data(k.points, k.seed, 0.0f, 1.0f,
                 [](float x, float y) { return std::sin(6 * x) * std::cos(4 * y); }, 0.05f);
    data.w.assign(data.x.size(), 1.0f);
    const Index m = k.points, u = k.nxest - 4, v = k.nyest - 4, ne = std::max(k.nxest, k.nyest);
    const Index bx = 3 * v + 4, by = 3 * u + 4;
    const Index b1 = std::min(bx, by), b2 = b1 + (bx <= by ? v : u) - 3;
    const Index lwrk1 = u * v * (2 + b1 + b2) + 2 * (u + v + 4 * (m + ne) + ne - 6) + b2 + 1;
    const Index lwrk2 = u * v * (b2 + 1) + b2, kwrk = m + (k.nxest - 7) * (k.nyest - 7);
    std::vector<float> tx(k.nxest), ty(k.nyest), c(u * v), wrk1(lwrk1), wrk2(lwrk2);
    std::vector<int> iwrk(kwrk);
    Index nx = 0, ny = 0;
    float fp = 0;
    int ier = 99;
    testing::TerminalCapture capture;
    SURFIT(0, m, data.x, data.y, data.z, data.w, 0.0f, 1.0f, 0.0f, 1.0f, 3, 3, k.s, k.nxest,
           k.nyest, ne, 1e-6f, nx, tx, ny, ty, c, fp, wrk1, lwrk1, wrk2, lwrk2, iwrk, kwrk, ier);
    ASSERT_LE(ier, 5) << k.seed << " " << capture.text();
    ASSERT_TRUE(std::isfinite(fp)) << k.seed << " ier " << ier;
    if (ier <= 0) {
      EXPECT_NEAR(fp, k.s, 0.002f * k.s) << k.seed;
    }
    if (!k.residual_checked) continue;
    double sum = 0;
    for (Index i = 0; i < m; ++i) {
      float value = 0;
      Status status = ST_GOOD();
      MA_CAL_NBCUBSPLINE(k.nxest, nx, tx, k.nyest, ny, ty, u * v, c, data.x[i], data.y[i], value,
                         status);
      sum += double(value - data.z[i]) * (value - data.z[i]);
    }
    // Coefficients in single precision limit the agreement of an almost
    // singular fit.
    EXPECT_NEAR(fp, sum, 0.2 * sum + 1e-5) << k.seed << " ier " << ier;
  }
}

}  // namespace
}  // namespace kesta
