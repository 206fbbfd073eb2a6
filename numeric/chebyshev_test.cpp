#include "numeric/chebyshev.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

std::vector<float> evaluate(const std::vector<float>& c, float lo, float hi, const std::vector<float>& x) {
  std::vector<float> y(x.size(), 0.0f);
  Status status = ST_GOOD();
  MA_CAL_POLYNOMIAL(false, lo, hi, static_cast<Index>(c.size()), static_cast<int>(c.size()) - 1, c,
                    static_cast<Index>(x.size()), static_cast<Index>(x.size()), x, y, status);
  EXPECT_EQ(status, ST_GOOD());
  return y;
}

TEST(ChebyshevSeries, EvaluatesAndClampsToTheRange) {
  // 1 + 3t + (2t^2 - 1) with t = x - 1 over 0..2.
  const std::vector<float> c{2.0f, 3.0f, 1.0f};
  const std::vector<float> x{0.0f, 0.5f, 1.0f, 2.0f, -3.0f, 9.0f};
  const std::vector<float> y = evaluate(c, 0.0f, 2.0f, x);
  const float want[] = {-1.0f, -1.0f, 0.0f, 5.0f, -1.0f, 5.0f};
  for (std::size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(y[i], want[i], 1e-6f) << x[i];
  EXPECT_EQ(evaluate({4.0f}, -1.0f, 1.0f, {-7.0f, 0.3f}), (std::vector<float>{2.0f, 2.0f}));

  std::vector<float> acc{1.0f, 1.0f};
  Status status = ST_GOOD();
  MA_CAL_POLYNOMIAL(true, -1.0f, 1.0f, 1, 0, std::vector<float>{4.0f}, 2, 2, std::vector<float>{0, 0}, acc, status);
  EXPECT_EQ(acc, (std::vector<float>{3.0f, 3.0f}));
}

TEST(ChebyshevSeries, RefusedArguments) {
  const std::vector<float> c{1.0f, 2.0f}, x{0.0f};
  std::vector<float> y{7.0f};
  struct Case {
    float lo, hi;
    Index max_coeffs;
    int order;
    Index max_coords, num;
    Status code;
  };
  for (const Case& k : {Case{0, 1, 0, 1, 1, 1, 20001}, Case{0, 1, 2, 1, 0, 1, 20001},
                        Case{0, 1, 2, 1, 1, 2, 20005}, Case{1, 1, 2, 1, 1, 1, 20021},
                        Case{0, 1, 2, -1, 1, 1, 20017}, Case{0, 1, 2, 2, 1, 1, 20017}}) {
    Status status = ST_GOOD();
    MA_CAL_POLYNOMIAL(false, k.lo, k.hi, k.max_coeffs, k.order, c, k.max_coords, k.num, x, y, status);
    EXPECT_EQ(status, k.code);
  }
  testing::TerminalCapture capture;
  Status status = ST_GOOD();
  MA_CAL_POLYNOMIAL(false, 0, 1, 2, 1, c, 1, 0, x, y, status);
  EXPECT_EQ(status, 20005);
  EXPECT_EQ(capture.text(), "num_coordinates, max_coordinates =      0     1\n");
  EXPECT_EQ(y[0], 7.0f);
}

struct PolyFit {
  std::vector<float> x, y, w, table, residuals;
  float lo = 0, hi = 0;
  int retstat = -1;

  Status run(int degree, bool weighted, bool auto_range = true) {
    const Index m = static_cast<Index>(x.size());
    if (w.empty()) w.assign(x.size(), 1.0f);
    const Index rows = degree + 2;  // one spare row and column
    table.assign(static_cast<std::size_t>(rows * rows), -99.0f);
    residuals.assign(static_cast<std::size_t>(degree + 1), -99.0f);
    std::vector<float> d1(x.size()), d2(x.size()), d3(x.size()), c1(degree + 1), c2(degree + 1);
    Status status = ST_GOOD();
    MA_POLYNOMIAL(weighted, auto_range, false, m, m, x, y, w, rows, rows, degree, m, degree + 1, lo, hi,
                  retstat, table, residuals, d1, d2, d3, c1, c2, status);
    return status;
  }
  std::vector<float> row(int degree) const {
    const std::size_t rows = static_cast<std::size_t>(std::sqrt(double(table.size())));
    std::vector<float> c;
    for (int k = 0; k <= degree; ++k) c.push_back(table[degree + k * rows]);
    return c;
  }
};

TEST(PolynomialFit, RecoversACubicAndTheBestLine) {
  PolyFit fit;
  for (int i = 0; i < 21; ++i) {
    const float x = -1.0f + 0.2f * i;
    fit.x.push_back(x);
    fit.y.push_back(1.0f - 2.0f * x + 0.5f * x * x * x);
  }
  ASSERT_EQ(fit.run(3, false), ST_GOOD());
  EXPECT_EQ(fit.retstat, 0);
  EXPECT_EQ(fit.lo, -1.0f);
  EXPECT_EQ(fit.hi, 3.0f);
  EXPECT_LT(fit.residuals[3], 1e-5f);
  const std::vector<float> y3 = evaluate(fit.row(3), fit.lo, fit.hi, fit.x);
  for (std::size_t i = 0; i < fit.x.size(); ++i) EXPECT_NEAR(y3[i], fit.y[i], 1e-4f);
  // Row 2 is the least-squares line; compare with the normal equations.
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = double(fit.x.size());
  for (std::size_t i = 0; i < fit.x.size(); ++i) {
    sx += fit.x[i], sy += fit.y[i], sxx += fit.x[i] * fit.x[i], sxy += fit.x[i] * fit.y[i];
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx), icpt = (sy - slope * sx) / n;
  const std::vector<float> y1 = evaluate(fit.row(1), fit.lo, fit.hi, fit.x);
  double ss = 0;
  for (std::size_t i = 0; i < fit.x.size(); ++i) {
    EXPECT_NEAR(y1[i], icpt + slope * fit.x[i], 1e-4);
    ss += std::pow(fit.y[i] - (icpt + slope * fit.x[i]), 2);
  }
  EXPECT_NEAR(fit.residuals[1], std::sqrt(ss / (n - 2)), 1e-4);
  // Nothing written beyond the degree's coefficients in each row.
  EXPECT_EQ(fit.table[1 + 2 * 5], -99.0f);
}

TEST(PolynomialFit, WeightsAndDistinctValues) {
  PolyFit outlier;
  outlier.x = {0, 1, 2, 3, 4};
  outlier.y = {1, 3, 500, 7, 9};
  outlier.w = {1, 1, 0, 1, 1};
  ASSERT_EQ(outlier.run(1, true), ST_GOOD());
  const std::vector<float> y = evaluate(outlier.row(1), outlier.lo, outlier.hi, {2.0f});
  EXPECT_NEAR(y[0], 5.0f, 1e-5f);

  PolyFit three;
  three.x = {0, 1, 1, 2};
  three.y = {1, 2, 2, 5};
  ASSERT_EQ(three.run(2, false), ST_GOOD());
  EXPECT_NEAR(three.residuals[2], 0.0f, 1e-5f);

  PolyFit two;
  two.x = {0, 0, 1, 1};
  two.y = {1, 1, 2, 2};
  EXPECT_EQ(two.run(2, false), 21014);

  // A zero-weight point is no distinct value: refused rather than inf/NaN.
  PolyFit weightless;
  weightless.x = {0, 1, 2};
  weightless.y = {1, 2, 5};
  weightless.w = {1, 1, 0};
  EXPECT_EQ(weightless.run(2, true), 21014);
}

TEST(PolynomialFit, RefusedArguments) {
  struct Case {
    std::vector<float> x, w;
    bool auto_range;
    Status code;
  };
  const Case cases[] = {
      {{0}, {1}, true, 20017},
      {{0, 2, 1}, {1, 1, 1}, true, 20021},
      {{0, 1, 2}, {1, -1, 1}, true, 20021},
      {{0, 1, 2}, {1, 1, 1}, false, 20013},
  };
  for (const Case& c : cases) {
    PolyFit fit;
    fit.x = c.x;
    fit.w = c.w;
    fit.y.assign(c.x.size(), 1.0f);
    EXPECT_EQ(fit.run(0, true, c.auto_range), c.code);
  }
}

TEST(ChebyshevFit1D, WritesOnlyItsCoefficients) {
  const std::vector<float> x{1, 2, 3, 4, 5, 6}, y{3, 5, 7, 9, 11, 13}, w(6, 1.0f);
  std::vector<float> coeffs(5, -7.0f);
  float lo = 0, hi = 0, residual = -1;
  int retstat = -1;
  Status status = ST_GOOD();
  MA_1DCHEBYSHEV(false, true, false, 6, 6, x, y, w, 5, 1, lo, hi, retstat, coeffs, residual, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_NEAR(coeffs[0], 16.0f, 1e-4f);  // mean 8, halved
  EXPECT_NEAR(coeffs[1], 5.0f, 1e-4f);   // slope 2 over a half-range of 2.5
  EXPECT_EQ(coeffs[2], -7.0f);
  EXPECT_NEAR(residual, 0.0f, 1e-5f);
  status = ST_GOOD();
  MA_1DCHEBYSHEV(false, true, false, 6, 6, x, y, w, 2, 2, lo, hi, retstat, coeffs, residual, status);
  EXPECT_EQ(status, 20005);
}

TEST(ChebyshevFit2D, FitsAndEvaluatesASurface) {
  // z = 1 + 2x + 3y - 0.5xy + 0.25x^2 on 5 lines of uneven lengths.
  auto surface = [](float x, float y) { return 1 + 2 * x + 3 * y - 0.5f * x * y + 0.25f * x * x; };
  std::vector<Index> counts;
  std::vector<float> ly, px, pz, pw;
  for (int l = 0; l < 5; ++l) {
    ly.push_back(2.0f * l);
    counts.push_back(6 + l);
    for (int i = 0; i < 6 + l; ++i) {
      px.push_back(1.5f * i);
      pz.push_back(surface(1.5f * i, 2.0f * l));
      pw.push_back(1.0f);
    }
  }
  const Index total = static_cast<Index>(px.size());
  std::vector<float> coeffs(4 * 4, 0.0f);
  float x_min = 0, y_min = 0, x_max = 0, y_max = 0;
  int retstat = -1;
  Status status = ST_GOOD();
  MA_2DCHEBYSHEV(false, false, 5, 5, counts, ly, total, px, pz, pw, 4, 4, 2, 1, retstat, x_min, y_min,
                 x_max, y_max, coeffs, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(x_min, 0.0f);
  EXPECT_EQ(x_max, 13.5f);
  EXPECT_EQ(y_max, 8.0f);

  const Index xm = 12, ym = 7;
  std::vector<float> xc(xm), yc(ym), image(xm * ym, 100.0f), row_values(ym), row_coeffs(3 * ym);
  for (Index i = 0; i < xm; ++i) xc[i] = 1.2f * i;
  for (Index j = 0; j < ym; ++j) yc[j] = 1.3f * j;
  MA_CAL_2DCHEBYSHEV(false, x_min, y_min, x_max, y_max, 4, 4, coeffs, 2, 1, xm, ym, 2, 2, 11, 6, 3, ym,
                     xc, yc, row_values, row_coeffs, image, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index y = 1; y <= ym; ++y)
    for (Index x = 1; x <= xm; ++x) {
      const float want = (x >= 2 && x <= 11 && y >= 2 && y <= 6) ? surface(xc[x - 1], yc[y - 1]) : 100.0f;
      EXPECT_NEAR(image[element(x, y, xm)], want, 2e-3f * (1 + std::fabs(want))) << x << " " << y;
    }

  // Fewer lines than the Y order needs: the fit across the lines fails.
  status = ST_GOOD();
  MA_2DCHEBYSHEV(false, false, 5, 2, counts, ly, total, px, pz, pw, 4, 4, 1, 2, retstat, x_min, y_min,
                 x_max, y_max, coeffs, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(retstat, 2);

  // One line: its X series with the first Y coefficient doubled.
  MA_2DCHEBYSHEV(false, false, 5, 1, counts, ly, total, px, pz, pw, 4, 4, 1, 0, retstat, x_min, y_min,
                 x_max, y_max, coeffs, status);
  ASSERT_EQ(status, ST_GOOD());
  std::vector<float> line(2);
  float lo = 0, hi = 0, res = 0;
  MA_1DCHEBYSHEV(false, true, false, 6, 6, px, pz, pw, 2, 1, lo, hi, retstat, line, res, status);
  EXPECT_NEAR(coeffs[0], 2 * line[0], 1e-4f);
  EXPECT_NEAR(coeffs[1], 2 * line[1], 1e-4f);
}

}  // namespace
}  // namespace kesta
