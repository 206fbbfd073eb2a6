#include "numeric/convolution.hpp"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "core/status.hpp"

namespace kesta {
namespace {

TEST(Autocorrelation, MatchesCyclicSumsAndCentres) {
  // A single row (NY = 1) is centred along X alone.
  for (const auto& [nx, ny] : {std::pair<Index, Index>{8, 4}, {8, 1}}) {
    const Index xmax = 10, ymax = 9;
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> data(xmax * ymax);
    for (float& v : data) v = dist(gen);
    const std::vector<float> input = data;
    for (bool centre : {false, true}) {
      data = input;
      Status status = ST_GOOD();
      MA_AUTOCORRELATION(centre, xmax, ymax, nx, ny, ny, data, status);
      ASSERT_EQ(status, ST_GOOD());
      for (Index v = 0; v < ny; ++v) {
        for (Index u = 0; u < nx; ++u) {
          double want = 0;
          for (Index y = 0; y < ny; ++y)
            for (Index x = 0; x < nx; ++x)
              want += double(input[element(x + 1, y + 1, xmax)]) *
                      input[element((x + u) % nx + 1, (y + v) % ny + 1, xmax)];
          const Index gx = centre ? (u + nx / 2) % nx : u, gy = centre ? (v + ny / 2) % ny : v;
          EXPECT_NEAR(data[element(gx + 1, gy + 1, xmax)], want, 1e-4) << u << " " << v;
        }
      }
      EXPECT_EQ(data[element(nx + 1, 1, xmax)], input[element(nx + 1, 1, xmax)]);
    }
  }
}

TEST(Autocorrelation, RefusesBadSizes) {
  struct Case {
    Index xmax, ymax, nx, ny;
    Status code;
  };
  for (const Case& c :
       {Case{0, 8, 8, 8, 20001}, Case{8, 0, 8, 8, 20002}, Case{8, 8, 1, 8, 20005},
        Case{8, 8, 8, 9, 20006}, Case{8, 8, 6, 8, 20025}, Case{8, 8, 6, 3, 20026}}) {
    std::vector<float> data(64, 1.0f);
    Status status = ST_GOOD();
    MA_AUTOCORRELATION(false, c.xmax, c.ymax, c.nx, c.ny, c.ny, data, status);
    EXPECT_EQ(status, c.code);
    EXPECT_EQ(data, std::vector<float>(64, 1.0f));
  }
}

TEST(SpatialConvolution, MatchesDirectSumsInsideTheRegion) {
  const Index xmax = 9, ymax = 8;
  std::vector<float> data(xmax * ymax);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = float(i % 7) - 2.5f;
  // A 4 x 3 kernel: offsets 1 and 1, not symmetric, so a reversal would show.
  const Index kx = 4, ky = 3, kxmax = 5;
  std::vector<float> kernel(kxmax * ky, 99.0f);
  for (Index j = 1; j <= ky; ++j)
    for (Index i = 1; i <= kx; ++i) kernel[element(i, j, kxmax)] = float(i * 10 + j);
  std::vector<float> out(xmax * ymax, -7.0f);
  Status status = ST_GOOD();
  MA_SCONVOLUTION(xmax, ymax, data, 2, 3, 8, 7, kxmax, ky, kx, ky, kernel, xmax, ymax, out, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index y = 1; y <= ymax; ++y) {
    for (Index x = 1; x <= xmax; ++x) {
      if (x < 2 || x > 8 || y < 3 || y > 7) {
        EXPECT_EQ(out[element(x, y, xmax)], -7.0f);
        continue;
      }
      double want = 0;
      for (Index j = 1; j <= ky; ++j)
        for (Index i = 1; i <= kx; ++i) {
          const Index dx = x + i - 2, dy = y + j - 2;
          if (dx >= 2 && dx <= 8 && dy >= 3 && dy <= 7)
            want += kernel[element(i, j, kxmax)] * data[element(dx, dy, xmax)];
        }
      EXPECT_NEAR(out[element(x, y, xmax)], want, 1e-3) << x << " " << y;
    }
  }
}

TEST(SpatialConvolution, SmallKernelsAndRefusals) {
  std::vector<float> data(16), out(16, 0.0f);
  for (std::size_t i = 0; i < 16; ++i) data[i] = float(i + 1);
  const std::vector<float> two{2.0f}, ones(9, 1.0f);
  Status status = ST_GOOD();
  MA_SCONVOLUTION(4, 4, data, 1, 1, 4, 4, 1, 1, 1, 1, two, 4, 4, out, status);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], 2.0f * data[i]);
  MA_SCONVOLUTION(4, 4, data, 1, 1, 4, 4, 3, 3, 3, 3, ones, 4, 4, out, status);
  EXPECT_EQ(out[0], 1.0f + 2.0f + 5.0f + 6.0f);
  EXPECT_EQ(status, ST_GOOD());
  struct Case {
    Index xs, ys, xe, ye, xmaxker, xnum, ynum, xmaxout;
    Status code;
  };
  for (const Case& c : {Case{1, 1, 4, 4, 0, 1, 1, 4, 20001}, Case{1, 1, 4, 4, 3, 1, 1, 0, 20001},
                        Case{0, 1, 4, 4, 3, 1, 1, 4, 20005}, Case{1, 1, 4, 4, 3, 1, 1, 3, 20005},
                        Case{1, 3, 4, 2, 3, 1, 1, 4, 20006}, Case{1, 1, 4, 4, 3, 0, 1, 4, 20017},
                        Case{1, 1, 4, 4, 3, 4, 1, 4, 20017}, Case{1, 1, 4, 4, 3, 1, 0, 4, 20018}}) {
    std::vector<float> o(16, 5.0f);
    status = ST_GOOD();
    MA_SCONVOLUTION(4, 4, data, c.xs, c.ys, c.xe, c.ye, c.xmaxker, 3, c.xnum, c.ynum, ones,
                    c.xmaxout, 4, o, status);
    EXPECT_EQ(status, c.code);
    EXPECT_EQ(o, std::vector<float>(16, 5.0f));
  }
}

}  // namespace
}  // namespace kesta
