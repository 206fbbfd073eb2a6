#include "numeric/statistics.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/status.hpp"
#include "numeric/rebin.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

struct Moments {
  float maximum = 0, minimum = 0, mean = 0, total = 0, rms = 0, sigma = 0, skewness = 0;
  float f1 = -1, f2 = -1, f3 = -1, f4 = -1;
};

Moments statistics(Index xmax, Index ymax, const std::vector<float>& a, Index xs, Index ys,
                   Index xe, Index ye, Status& status) {
  Moments m;
  Index left_out = -1;
  MA_STATISTICS(xmax, ymax, a, xs, ys, xe, ye, m.maximum, m.minimum, m.mean, m.total, m.rms,
                m.sigma, m.skewness, m.f1, m.f2, m.f3, m.f4, left_out, status);
  EXPECT_EQ(left_out, 0);
  return m;
}

TEST(Statistics, AgreesWithATwoPassComputation) {
  const Index xmax = 40, ymax = 30;
  std::mt19937 rng(7);
  std::gamma_distribution<float> skewed(2.0f, 3.0f);
  std::vector<float> a(xmax * ymax);
  for (float& v : a) v = skewed(rng) - 4.0f;
  const Index xs = 3, ys = 5, xe = 37, ye = 22;

  // Two passes in long double over the region.
  long double sum = 0, sum2 = 0;
  float hi = -3e38f, lo = 3e38f;
  Index n = 0;
  for (Index y = ys; y <= ye; ++y)
    for (Index x = xs; x <= xe; ++x) {
      const float v = a[element(x, y, xmax)];
      sum += v;
      sum2 += static_cast<long double>(v) * v;
      hi = std::max(hi, v);
      lo = std::min(lo, v);
      ++n;
    }
  const long double mean = sum / n;
  long double m2 = 0, m3 = 0;
  for (Index y = ys; y <= ye; ++y)
    for (Index x = xs; x <= xe; ++x) {
      const long double d = a[element(x, y, xmax)] - mean;
      m2 += d * d;
      m3 += d * d * d;
    }
  const long double sd = std::sqrt(m2 / (n - 1));

  Status status = ST_GOOD();
  const Moments m = statistics(xmax, ymax, a, xs, ys, xe, ye, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(m.maximum, hi);
  EXPECT_EQ(m.minimum, lo);
  EXPECT_NEAR(m.mean, static_cast<double>(mean), 1e-5);
  EXPECT_NEAR(m.total, static_cast<double>(sum), 1e-2);
  EXPECT_NEAR(m.rms, std::sqrt(static_cast<double>(sum2 / n)), 1e-5);
  EXPECT_NEAR(m.sigma, static_cast<double>(sd), 1e-5);
  EXPECT_NEAR(m.skewness, static_cast<double>(m3 / (n * sd * sd * sd)), 1e-4);
  EXPECT_EQ(m.f1, 0.0f);
  EXPECT_EQ(m.f4, 0.0f);

  float value = 0;
  MA_RMEAN(xmax, ymax, a, xs, ys, xe, ye, value, status);
  EXPECT_NEAR(value, static_cast<double>(mean), 1e-5);
  float mn = 0, mx = 0;
  MA_RMINMAX(xmax, ymax, a, xs, ys, xe, ye, mn, mx, status);
  EXPECT_EQ(mn, lo);
  EXPECT_EQ(mx, hi);
  MA_RMAX(xmax, ymax, a, xs, ys, xe, ye, value, status);
  EXPECT_EQ(value, hi);
  MA_RMIN(xmax, ymax, a, xs, ys, xe, ye, value, status);
  EXPECT_EQ(value, lo);
  EXPECT_EQ(status, ST_GOOD());
}

TEST(Statistics, ConstantAndSingleElementRegionsHaveNoSpread) {
  // 0.7 summed 100 times leaves the sum of squares a hair below n mean^2.
  std::vector<float> a(100, 0.7f);
  Status status = ST_GOOD();
  Moments m = statistics(10, 10, a, 1, 1, 10, 10, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(m.sigma, 0.0f);
  EXPECT_EQ(m.skewness, 0.0f);
  EXPECT_FLOAT_EQ(m.rms, 0.7f);

  std::vector<float> neg(9, -3.0f);
  m = statistics(3, 3, neg, 2, 2, 2, 2, status);
  EXPECT_EQ(m.sigma, 0.0f);
  EXPECT_EQ(m.skewness, 0.0f);
  EXPECT_FLOAT_EQ(m.rms, 3.0f);
  EXPECT_FLOAT_EQ(m.mean, -3.0f);
}

// A value that is not finite takes no part: every figure is that of the
// finite elements alone, and the elements left out are counted.
TEST(Statistics, ValuesThatAreNotFiniteAreLeftOutAndCounted) {
  std::vector<float> finite = {2.0f, 5.0f, 3.0f, 9.0f, 1.0f, 4.0f};
  Status status = ST_GOOD();
  const Moments expected = statistics(6, 1, finite, 1, 1, 6, 1, status);
  for (const float special : {NAN, INFINITY, -INFINITY}) {
    // The finite values in a 4 x 4 region with ten of the special value: a
    // whole finite row, then rows holding both.
    std::vector<float> a(16, special);
    const std::size_t at[] = {0, 1, 2, 3, 5, 7};
    for (std::size_t k = 0; k < finite.size(); ++k) a[at[k]] = finite[k];
    Moments m;
    Index left_out = -1;
    MA_STATISTICS(4, 4, a, 1, 1, 4, 4, m.maximum, m.minimum, m.mean, m.total, m.rms, m.sigma,
                  m.skewness, m.f1, m.f2, m.f3, m.f4, left_out, status);
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_EQ(left_out, 10) << special;
    EXPECT_EQ(m.maximum, 9.0f) << special;
    EXPECT_EQ(m.minimum, 1.0f) << special;
    EXPECT_FLOAT_EQ(m.total, 24.0f) << special;
    EXPECT_FLOAT_EQ(m.mean, expected.mean) << special;
    EXPECT_FLOAT_EQ(m.rms, expected.rms) << special;
    EXPECT_FLOAT_EQ(m.sigma, expected.sigma) << special;
    EXPECT_FLOAT_EQ(m.skewness, expected.skewness) << special;
  }
  // No finite element: the extremes keep their start values (none found) and
  // the moments of nothing are 0, never NaN.
  std::vector<float> none = {NAN, INFINITY, NAN, -INFINITY};
  Moments m;
  Index left_out = -1;
  MA_STATISTICS(2, 2, none, 1, 1, 2, 2, m.maximum, m.minimum, m.mean, m.total, m.rms, m.sigma,
                m.skewness, m.f1, m.f2, m.f3, m.f4, left_out, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(left_out, 4);
  EXPECT_EQ(m.maximum, kVerySmall);
  EXPECT_EQ(m.minimum, kVeryLarge);
  for (const float v : {m.mean, m.total, m.rms, m.sigma, m.skewness}) EXPECT_EQ(v, 0.0f);
}

TEST(Statistics, ExtremesStartFromTheFirstValueAndSaturatedCountsEqual) {
  // A maximum below the start value -1.7e38 is still the region's own.
  std::vector<float> a(4, -2.0e38f);
  Status status = ST_GOOD();
  float v = 0;
  MA_RMAX(2, 2, a, 1, 1, 2, 2, v, status);
  EXPECT_EQ(v, -2.0e38f);
  std::vector<float> b = {1.0f, 5.0f, 5.0f, 6.0f};
  Index count = 0;
  MA_SATURATED(2, 2, b, 1, 1, 2, 2, 5.0f, count, status);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(status, ST_GOOD());
  MA_SATURATED(2, 2, b, 0, 1, 2, 2, 5.0f, count, status);
  EXPECT_EQ(status, 20005);
}

// Every extreme search starts from the first finite value met: a region of
// values beyond the start values 1.7e38 and -1.7e38 has its own extremes.
TEST(Statistics, ExtremesBeyondTheStartValuesAreTheRegionsOwn) {
  for (const float v : {3.4e38f, -3.4e38f, 2.0e38f}) {
    std::vector<float> a(64, v);
    a[9] = std::numeric_limits<float>::quiet_NaN();
    Status status = ST_GOOD();
    float lo = 0, hi = 0, min1 = 0, max1 = 0;
    MA_RMIN(8, 8, a, 1, 1, 8, 8, min1, status);
    MA_RMAX(8, 8, a, 1, 1, 8, 8, max1, status);
    MA_RMINMAX(8, 8, a, 1, 1, 8, 8, lo, hi, status);
    for (const float got : {lo, hi, min1, max1}) EXPECT_EQ(got, v);
    Moments m;
    Index left_out = 0;
    MA_STATISTICS(8, 8, a, 1, 1, 8, 8, m.maximum, m.minimum, m.mean, m.total, m.rms, m.sigma,
                  m.skewness, m.f1, m.f2, m.f3, m.f4, left_out, status);
    EXPECT_EQ(m.minimum, v);
    EXPECT_EQ(m.maximum, v);
    // The block means, as the binned 3-D view ranges them.
    MA_REBINMINMAX(8, 8, a, 1, 1, 8, 8, 2, 2, lo, hi, status);
    EXPECT_EQ(lo, v);
    EXPECT_EQ(hi, v);
    EXPECT_EQ(status, ST_GOOD());
  }
}

// NaN and the infinities never become an extreme: a region without a finite
// element leaves the start values, which callers read as "none".
TEST(Statistics, ExtremesLeaveOutValuesThatAreNotFinite) {
  const float inf = INFINITY;
  struct Case {
    std::vector<float> data;
    float minimum, maximum;
  };
  const Case cases[] = {
      {{1, inf, -2, 3}, -2, 3},
      {{-inf, 4, NAN, 0.5f}, 0.5f, 4},
      {{inf, -inf, 3.0e38f, -3.0e38f}, -3.0e38f, 3.0e38f},
      {{NAN, NAN, NAN, NAN}, kVeryLarge, kVerySmall},
      {{inf, -inf, NAN, inf}, kVeryLarge, kVerySmall},
  };
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    float lo = 0, hi = 0, minimum = 0, maximum = 0;
    MA_RMINMAX(2, 2, c.data, 1, 1, 2, 2, lo, hi, status);
    MA_RMIN(2, 2, c.data, 1, 1, 2, 2, minimum, status);
    MA_RMAX(2, 2, c.data, 1, 1, 2, 2, maximum, status);
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_EQ(lo, c.minimum) << c.data[0] << " " << c.data[1];
    EXPECT_EQ(hi, c.maximum) << c.data[0] << " " << c.data[1];
    EXPECT_EQ(minimum, c.minimum);
    EXPECT_EQ(maximum, c.maximum);
  }
  // A long run takes the vectorised path.
  std::vector<float> row(1000, 1.0f);
  row[17] = inf;
  row[500] = -inf;
  row[900] = 7.0f;
  Status status = ST_GOOD();
  float lo = 0, hi = 0;
  MA_RMINMAX(1000, 1, row, 1, 1, 1000, 1, lo, hi, status);
  EXPECT_EQ(lo, 1.0f);
  EXPECT_EQ(hi, 7.0f);
}

TEST(Sort, SortsWithTheCompanion) {
  std::vector<float> values = {3.0f, 1.0f, 2.0f, 1.0f, -5.0f, 9.0f};
  std::vector<float> companion = {0, 1, 2, 3, 4, 5};
  Status status = ST_GOOD();
  MA_SORT(6, 6, values, companion, status);
  EXPECT_EQ(values, (std::vector<float>{-5, 1, 1, 2, 3, 9}));
  // Every companion still travels with its value.
  const std::vector<float> original = {3.0f, 1.0f, 2.0f, 1.0f, -5.0f, 9.0f};
  for (std::size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(original[static_cast<std::size_t>(companion[i])], values[i]);
  std::vector<float> one = {4.0f};
  std::vector<float> c1 = {7.0f};
  MA_SORT(1, 1, one, c1, status);
  EXPECT_EQ(one[0], 4.0f);
  EXPECT_EQ(c1[0], 7.0f);
}

TEST(SmallRoutines, SlopesAndGradients) {
  EXPECT_EQ(MA_GRAD(1, 1, 1, 1), 0.0f);
  EXPECT_EQ(MA_GRAD(1, 1, 1, 2), kVeryLarge);
  EXPECT_EQ(MA_GRAD(1, 1, 1, 0), kVerySmall);
  EXPECT_FLOAT_EQ(MA_GRAD(0, 1, 2, 5), 2.0f);
  // Symmetric points on y = x^2: the tangent at the vertex is level.
  EXPECT_NEAR(MA_DIFFER(-1, 1, 0, 0, 1, 1), 0.0f, 1e-6);
  // Uneven spacing: the far point is pulled in to the near point's distance
  // (3 -> 1 along (0.6, 0.8)), giving the chord (0, 0)-(1.6, 0.8).
  EXPECT_NEAR(MA_DIFFER(0, 0, 1, 0, 2.8f, 2.4f), 0.5f, 1e-6);
  EXPECT_FLOAT_EQ(MA_DIFFER(0, 0, 0, 0, 1, 3), 3.0f);
  EXPECT_FLOAT_EQ(MA_DIFFER(0, 0, 1, 2, 1, 2), 2.0f);

  int defined = -1;
  float slope = 0, intercept = 0;
  Status status = ST_GOOD();
  MA_SLOPE(1, 1, 1, 5, defined, slope, intercept, status);
  EXPECT_EQ(defined, 1);
  EXPECT_EQ(slope, kVeryLarge);
  EXPECT_EQ(intercept, 1.0f);
  MA_SLOPE(2, 2, 2, 2, defined, slope, intercept, status);
  EXPECT_EQ(defined, 0);
  MA_SLOPE(0, 1, 2, 5, defined, slope, intercept, status);
  EXPECT_EQ(defined, 1);
  EXPECT_FLOAT_EQ(slope, 2.0f);
  EXPECT_FLOAT_EQ(intercept, 1.0f);
}

TEST(SmallRoutines, DigitsAndPowersOfTen) {
  Status status = ST_GOOD();
  EXPECT_EQ(MA_EXDIGIT(-4071, 2, status), 7);
  EXPECT_EQ(MA_EXDIGIT(-4071, 4, status), 4);
  EXPECT_EQ(MA_EXDIGIT(-2147483647 - 1, 10, status), 2);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(MA_EXDIGIT(5, 11, status), -1);
  EXPECT_EQ(status, 20017);
  EXPECT_EQ(MA_EXDIGIT(5, 1, status), -1);  // bad status on entry

  const struct {
    double value, power;
  } cases[] = {{250.0, 100.0}, {0.05, 0.01}, {1.0, 1.0}, {10.0, 10.0}, {-9.99, 1.0}, {0.0, 1.0}};
  for (const auto& c : cases) EXPECT_NEAR(MA_DMULTIPLIER(c.value), c.power, c.power * 1e-12);
}

}  // namespace
}  // namespace kesta
