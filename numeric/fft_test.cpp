#include "numeric/fft.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "core/status.hpp"

namespace kesta {
namespace {

using cd = std::complex<double>;
constexpr double kTwoPi = 6.283185307179586;

std::vector<float> random_values(Index n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(static_cast<std::size_t>(n));
  for (float& x : v) x = dist(gen);
  return v;
}

std::vector<float> table_for(Index n) {
  std::vector<float> table(static_cast<std::size_t>(2 * n));
  Status status = ST_GOOD();
  MA_EXPNT(2 * n, 2 * n, 16, table, status);
  EXPECT_EQ(status, ST_GOOD());
  return table;
}

// F(k) = sum x(n) exp(+2 pi i n k / N), packed as the analysis packs it.
std::vector<double> direct_packed(const std::vector<float>& x) {
  const Index n = static_cast<Index>(x.size());
  std::vector<double> out(x.size());
  for (Index k = 0; k <= n / 2; ++k) {
    cd sum = 0;
    for (Index j = 0; j < n; ++j) sum += double(x[j]) * std::polar(1.0, kTwoPi * double((j * k) % n) / double(n));
    if (k == 0) {
      out[0] = sum.real();
    } else if (k == n / 2) {
      out[1] = sum.real();
    } else {
      out[2 * k] = sum.real();
      out[2 * k + 1] = sum.imag();
    }
  }
  if (n == 1) out[0] = x[0];
  return out;
}

double relative_l2(const std::vector<float>& got, const std::vector<double>& want) {
  double diff = 0, norm = 0;
  for (std::size_t i = 0; i < want.size(); ++i) {
    diff += (got[i] - want[i]) * (got[i] - want[i]);
    norm += want[i] * want[i];
  }
  return norm > 0 ? std::sqrt(diff / norm) : std::sqrt(diff);
}

TEST(RealTransform, FourPointsGiveTheDocumentedSums) {
  std::vector<float> table = table_for(4);
  std::vector<float> data{1, 0, 0, 0};
  Status status = ST_GOOD();
  MA_FFA8(4, 4, 8, table, true, data, status);
  EXPECT_EQ(data, (std::vector<float>{1, 1, 1, 0}));
  data = {3, 5, 7, 11};
  MA_FFA8(4, 4, 8, table, true, data, status);
  const float want[] = {26, -6, -4, -6};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(data[i], want[i], 1e-5);
  EXPECT_EQ(status, ST_GOOD());
}

TEST(RealTransform, MatchesDirectSumAndRoundTripsUpTo4096) {
  for (Index n = 1; n <= 4096; n *= 2) {
    std::vector<float> table = table_for(n);
    const std::vector<float> input = random_values(n, static_cast<unsigned>(n));
    std::vector<float> data = input;
    Status status = ST_GOOD();
    MA_FFA8(n, n, 2 * n, table, true, data, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_LE(relative_l2(data, direct_packed(input)), 1e-5) << "N = " << n;
    for (bool order : {true, false}) {
      data = input;
      MA_FFA8(n, n, 2 * n, table, order, data, status);
      MA_FFS8(n, n, 2 * n, table, order, data, status);
      std::vector<double> want(input.begin(), input.end());
      for (double& w : want) w *= double(n);
      EXPECT_LE(relative_l2(data, want), 1e-5) << "N = " << n;
    }
  }
}

TEST(RealTransform, RefusesBadSizesWithoutTouchingData) {
  struct Case {
    Index maxdat, n, maxtab;
    Status code;
  };
  const Case cases[] = {
      {0, 4, 8, 20001}, {8, 4, 1, 20001}, {8, 0, 16, 20005}, {8, -4, 16, 20005},
      {4, 8, 16, 20005}, {8, 8, 8, 20013}, {8, 6, 16, 20025},
  };
  std::vector<float> table(16, 0.0f);
  for (const Case& c : cases) {
    std::vector<float> data{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<float> before = data;
    Status status = ST_GOOD();
    MA_FFA8(c.maxdat, c.n, c.maxtab, table, true, data, status);
    EXPECT_EQ(status, c.code) << c.n;
    status = ST_GOOD();
    MA_FFS8(c.maxdat, c.n, c.maxtab, table, true, data, status);
    EXPECT_EQ(status, c.code) << c.n;
    EXPECT_EQ(data, before);
  }
}

// Unpacks the 2-D forward result at X frequency KX (0 .. NX/2) and Y frequency KY.
cd packed_2d(const std::vector<float>& d, Index xmax, Index nx, Index ny, Index kx, Index ky) {
  auto at = [&](Index x, Index y) { return double(d[element(x, y, xmax)]); };
  if (kx == 0 || kx == nx / 2) {
    if (ny == 1) return kx == 0 ? cd(at(1, 1), 0) : cd(at(2, 1), 0);
    if (kx == 0) {
      if (ky == 0) return {at(1, 1), 0};
      if (ky == ny / 2) return {at(2, 1), 0};
      if (ky < ny / 2) return {at(1, ky + 1), at(2, ky + 1)};
      return std::conj(cd(at(1, ny - ky + 1), at(2, ny - ky + 1)));
    }
    if (ky == 0) return {at(1, ny / 2 + 1), 0};
    if (ky == ny / 2) return {at(2, ny / 2 + 1), 0};
    if (ky < ny / 2) return {at(1, ny - ky + 1), at(2, ny - ky + 1)};
    return std::conj(cd(at(1, ky + 1), at(2, ky + 1)));
  }
  return {at(2 * kx + 1, ky + 1), at(2 * kx + 2, ky + 1)};
}

TEST(TwoDimensionalTransform, MatchesDirectSumAndInverts) {
  struct Case {
    Index nx, ny, nrows;
  };
  for (const Case c : {Case{8, 8, 8}, Case{16, 4, 4}, Case{4, 32, 32}, Case{8, 16, 5}, Case{2, 8, 8},
                       Case{8, 1, 1}, Case{8, 8, 0}}) {
    const Index xmax = c.nx + 3, ymax = c.ny + 2;
    std::vector<float> data = random_values(xmax * ymax, static_cast<unsigned>(c.nx * 100 + c.ny));
    for (Index y = c.nrows + 1; y <= c.ny; ++y)
      for (Index x = 1; x <= c.nx; ++x) data[element(x, y, xmax)] = 0;
    const std::vector<float> input = data;
    std::vector<float> xtable(2 * xmax), ytable(2 * ymax);
    bool done = false;
    Status status = ST_GOOD();
    MA_2DFRFFT(xmax, ymax, c.nx, c.ny, c.nrows, true, done, xtable, ytable, data, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_TRUE(done);
    double diff = 0, norm = 0;
    for (Index kx = 0; kx <= c.nx / 2; ++kx) {
      for (Index ky = 0; ky < c.ny; ++ky) {
        cd want = 0;
        for (Index y = 0; y < c.ny; ++y)
          for (Index x = 0; x < c.nx; ++x)
            want += double(input[element(x + 1, y + 1, xmax)]) *
                    std::polar(1.0, kTwoPi * (double(x * kx) / c.nx + double(y * ky) / c.ny));
        diff += std::norm(packed_2d(data, xmax, c.nx, c.ny, kx, ky) - want);
        norm += std::norm(want);
      }
    }
    EXPECT_LE(std::sqrt(diff / std::max(norm, 1e-30)), 1e-5) << c.nx << "x" << c.ny;
    // Elements outside the block are untouched.
    EXPECT_EQ(data[element(c.nx + 1, 1, xmax)], input[element(c.nx + 1, 1, xmax)]);
    MA_2DIHFFT(xmax, ymax, c.nx, c.ny, true, done, xtable, ytable, data, status);
    ASSERT_EQ(status, ST_GOOD());
    for (std::size_t i = 0; i < data.size(); ++i) EXPECT_NEAR(data[i], input[i], 1e-5);
  }
}

TEST(TwoDimensionalTransform, UnorderedPairRoundTripsWithFreshTables) {
  const Index nx = 32, ny = 64;
  const std::vector<float> input = random_values(nx * ny, 7);
  std::vector<float> data = input, xtable(2 * nx), ytable(2 * ny);
  bool forward_done = false, inverse_done = false;
  Status status = ST_GOOD();
  MA_2DFRFFT(nx, ny, nx, ny, ny, false, forward_done, xtable, ytable, data, status);
  // The inverse builds its own tables from scratch (Y first, X from Y).
  std::vector<float> xtable2(2 * nx), ytable2(2 * ny);
  MA_2DIHFFT(nx, ny, nx, ny, false, inverse_done, xtable2, ytable2, data, status);
  ASSERT_EQ(status, ST_GOOD());
  for (std::size_t i = 0; i < data.size(); ++i) EXPECT_NEAR(data[i], input[i], 1e-5);
}

TEST(TwoDimensionalTransform, RefusesBadArguments) {
  struct Case {
    Index xmax, ymax, nx, ny, nrows;
    Status code;
  };
  const Case cases[] = {
      {0, 8, 8, 8, 8, 20001}, {8, 0, 8, 8, 8, 20002}, {8, 8, 1, 8, 8, 20005},
      {8, 8, 16, 8, 8, 20005}, {8, 8, 8, 0, 0, 20006}, {8, 8, 8, 8, 9, 20006},
      {8, 8, 6, 8, 8, 20025}, {8, 8, 8, 6, 6, 20026}, {8, 8, 6, 6, 6, 20026},
  };
  for (const Case& c : cases) {
    std::vector<float> data(64, 1.0f), xtable(16), ytable(16);
    bool done = false;
    Status status = ST_GOOD();
    MA_2DFRFFT(c.xmax, c.ymax, c.nx, c.ny, c.nrows, true, done, xtable, ytable, data, status);
    EXPECT_EQ(status, c.code);
    EXPECT_FALSE(done);
    EXPECT_EQ(data, std::vector<float>(64, 1.0f));
    if (c.nrows <= c.ny) {
      status = ST_GOOD();
      MA_2DIHFFT(c.xmax, c.ymax, c.nx, c.ny, true, done, xtable, ytable, data, status);
      EXPECT_EQ(status, c.code);
    }
  }
}

}  // namespace
}  // namespace kesta
