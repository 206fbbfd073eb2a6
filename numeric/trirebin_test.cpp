#include "numeric/trirebin.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/status.hpp"

namespace kesta {
namespace {

// Independent reference: the area of the triangle clipped to the square
// [ix - 1, ix] x [iy - 1, iy], by clipping the polygon against all four edges.
double overlap_area(const double (&tx)[3], const double (&ty)[3], int ix, int iy) {
  std::vector<double> px(tx, tx + 3), py(ty, ty + 3);
  auto clip = [&](auto inside, auto cross) {
    std::vector<double> qx, qy;
    for (std::size_t i = 0; i < px.size(); ++i) {
      const std::size_t p = (i + px.size() - 1) % px.size();
      const bool in_i = inside(px[i], py[i]), in_p = inside(px[p], py[p]);
      if (in_i != in_p) {
        double x, y;
        cross(px[p], py[p], px[i], py[i], x, y);
        qx.push_back(x);
        qy.push_back(y);
      }
      if (in_i) {
        qx.push_back(px[i]);
        qy.push_back(py[i]);
      }
    }
    px = qx;
    py = qy;
  };
  auto at_x = [](double c) {
    return [c](double x0, double y0, double x1, double y1, double& x, double& y) {
      x = c;
      y = y0 + (y1 - y0) * (c - x0) / (x1 - x0);
    };
  };
  auto at_y = [](double c) {
    return [c](double x0, double y0, double x1, double y1, double& x, double& y) {
      y = c;
      x = x0 + (x1 - x0) * (c - y0) / (y1 - y0);
    };
  };
  clip([&](double x, double) { return x >= ix - 1; }, at_x(ix - 1));
  clip([&](double x, double) { return x <= ix; }, at_x(ix));
  clip([&](double, double y) { return y >= iy - 1; }, at_y(iy - 1));
  clip([&](double, double y) { return y <= iy; }, at_y(iy));
  double twice = 0;
  for (std::size_t i = 0; i < px.size(); ++i) {
    const std::size_t j = (i + 1) % px.size();
    twice += px[i] * py[j] - px[j] * py[i];
  }
  return std::fabs(twice) / 2;
}

struct Grid {
  static constexpr Index kSize = 8;
  std::vector<float> out = std::vector<float>(kSize * kSize, 0.0f);
  Index xskip = 0, yskip = 0;
  Status status = ST_GOOD();
  void add(float x1, float y1, float x2, float y2, float x3, float y3, float value, float area,
           Index xs = 1, Index ys = 1, Index xe = kSize, Index ye = kSize) {
    MA_TRIREBIN(x1, y1, x2, y2, x3, y3, value, area, kSize, kSize, xs, ys, xe, ye, xskip, yskip,
                out, status);
  }
  float at(Index x, Index y) const { return out[element(x, y, kSize)]; }
  double total() const {
    double s = 0;
    for (float v : out) s += v;
    return s;
  }
};

TEST(TriRebin, SharesEqualExactOverlapAreasOfRandomTriangles) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> corner(1.5, 4.0), spread(-1.4, 1.4);
  for (int trial = 0; trial < 400; ++trial) {
    const double cx = corner(rng), cy = corner(rng);
    const double tx[3] = {cx + spread(rng), cx + spread(rng), cx + spread(rng)};
    const double ty[3] = {cy + spread(rng), cy + spread(rng), cy + spread(rng)};
    const double area =
        std::fabs((tx[1] - tx[0]) * (ty[2] - ty[0]) - (tx[2] - tx[0]) * (ty[1] - ty[0])) / 2;
    // Float vertices as the routine sees them, so the reference uses them too.
    const double fx[3] = {float(tx[0]), float(tx[1]), float(tx[2])};
    const double fy[3] = {float(ty[0]), float(ty[1]), float(ty[2])};
    Grid g;
    g.add(fx[0], fy[0], fx[1], fy[1], fx[2], fy[2], 2.0f, float(area));
    ASSERT_EQ(g.status, ST_GOOD());
    if (g.xskip + g.yskip != 0) continue;  // spans four pixels: checked elsewhere
    for (int iy = 1; iy <= Grid::kSize; ++iy)
      for (int ix = 1; ix <= Grid::kSize; ++ix)
        ASSERT_NEAR(g.at(ix, iy), 2.0 * overlap_area(fx, fy, ix, iy), 2e-4)
            << "trial " << trial << " pixel " << ix << "," << iy;
    EXPECT_NEAR(g.total(), 2.0 * area, 1e-5);
  }
}

TEST(TriRebin, DocumentedShares) {
  Grid g;
  g.add(0.5f, 0.5f, 1.5f, 0.5f, 0.5f, 1.5f, 4.0f, 0.5f);
  EXPECT_FLOAT_EQ(g.at(1, 1), 1.0f);
  EXPECT_FLOAT_EQ(g.at(2, 1), 0.5f);
  EXPECT_FLOAT_EQ(g.at(1, 2), 0.5f);
  EXPECT_NEAR(g.at(2, 2), 0.0f, 1e-7);

  Grid inside;
  inside.add(2.1f, 3.1f, 2.9f, 3.2f, 2.5f, 3.9f, 3.0f, 0.25f);
  EXPECT_FLOAT_EQ(inside.at(3, 4), 0.75f);
  EXPECT_NEAR(inside.total(), 0.75, 1e-6);
}

TEST(TriRebin, FarEdgeToleranceAndTrianglesNearBoundaries) {
  struct Case {
    float xmin, xmax;
    Index last_pixel;
  };
  // The far edge may lie up to 0.005 beyond a boundary without reaching the
  // next pixel; a sliver just beyond a boundary still lands in its pixel.
  for (const Case c : {Case{2.5f, 3.003f, 3}, Case{2.5f, 3.006f, 4}, Case{2.001f, 2.004f, 3},
                       Case{3.0f, 3.004f, 4}}) {
    Grid g;
    g.add(c.xmin, 1.2f, c.xmax, 1.2f, c.xmin, 1.8f, 1.0f, 0.3f * (c.xmax - c.xmin));
    EXPECT_NEAR(g.total(), 0.3 * (c.xmax - c.xmin), 1e-6) << c.xmin << " " << c.xmax;
    double beyond = 0;
    for (Index x = c.last_pixel + 1; x <= Grid::kSize; ++x) beyond += g.at(x, 2);
    EXPECT_EQ(beyond, 0.0);
    EXPECT_GT(g.at(c.last_pixel, 2), 0.0f);
  }
}

TEST(TriRebin, WideTrianglesAreCountedNotShared) {
  Grid g;
  g.add(0.2f, 1.2f, 3.5f, 1.2f, 0.2f, 1.8f, 1.0f, 1.0f);
  EXPECT_EQ(g.xskip, 1);
  g.add(1.2f, 0.2f, 1.8f, 0.2f, 1.2f, 3.5f, 1.0f, 1.0f);
  EXPECT_EQ(g.yskip, 1);
  // A vertex that is not a number cannot be shared.
  g.add(1.2f, 1.2f, NAN, 1.2f, 1.8f, 1.8f, 1.0f, 0.2f);
  EXPECT_EQ(g.xskip, 2);
  // Wholly left of the region: neither shared nor counted.
  g.add(0.1f, 1.2f, 0.9f, 1.2f, 0.1f, 1.8f, 1.0f, 0.24f, 2, 1, 8, 8);
  EXPECT_EQ(g.xskip, 2);
  EXPECT_EQ(g.total(), 0.0);
  EXPECT_EQ(g.status, ST_GOOD());
}

TEST(TriRebin, CallersAreaDifferenceFallsOnTheSideWithTwoVertices) {
  // True area 0.5; the caller says 0.6. Cut at y = 1: one vertex below keeps
  // its exact corner (0.125), the two above get the rest; and mirrored.
  struct Case {
    float y1, y2, y3;
    Index corner_pixel, rest_pixel;
  };
  for (const Case c : {Case{0.5f, 1.5f, 1.5f, 1, 2}, Case{1.5f, 0.5f, 0.5f, 2, 1}}) {
    Grid g;
    g.add(1.5f, c.y1, 1.0f, c.y2, 2.0f, c.y3, 1.0f, 0.6f);
    EXPECT_NEAR(g.at(2, c.corner_pixel), 0.125, 1e-6);
    EXPECT_NEAR(g.at(2, c.rest_pixel), 0.475, 1e-6);
  }
}

TEST(TriRebin, SharesOutsideTheRegionAreLost) {
  Grid g;
  g.add(0.5f, 0.5f, 1.5f, 0.5f, 0.5f, 1.5f, 4.0f, 0.5f, 2, 1, 8, 8);
  EXPECT_FLOAT_EQ(g.at(1, 1), 0.0f);
  EXPECT_FLOAT_EQ(g.at(2, 1), 0.5f);
  EXPECT_NEAR(g.total(), 0.5, 1e-6);
}

TEST(TriRebin, BadOutputRegionAddsNothing) {
  struct Case {
    Index xmax, ymax, xs, ys, xe, ye;
    Status code;
  };
  for (const Case c : {Case{8, 8, 0, 1, 8, 8, 20005}, Case{8, 8, 1, 1, 8, 9, 20006}}) {
    Grid g;
    MA_TRIREBIN(1.2f, 1.2f, 1.8f, 1.2f, 1.2f, 1.8f, 1.0f, 0.18f, c.xmax, c.ymax, c.xs, c.ys, c.xe,
                c.ye, g.xskip, g.yskip, g.out, g.status);
    EXPECT_EQ(g.status, c.code);
    EXPECT_EQ(g.total(), 0.0);
  }
}

TEST(TriRebin, QuadrantsAboutAPointMatchExactAreas) {
  const double tx[3] = {0.25, 2.5, 1.0};
  const double ty[3] = {0.5, 1.25, 2.75};
  Status status = ST_GOOD();
  float ll, lr, ul, ur;
  MA_CAL_TRILINES(0.25f, 0.5f, 2.5f, 1.25f, 1.0f, 2.75f, 1.0f, 1.0f, 2.25f, ll, lr, ul, ur,
                  status);
  ASSERT_EQ(status, ST_GOOD());
  // The quadrants about (1, 1) are pixel (1, 1) and the unions of the pixels
  // right of and above it.
  EXPECT_NEAR(ll, overlap_area(tx, ty, 1, 1), 1e-6);
  EXPECT_NEAR(lr, overlap_area(tx, ty, 2, 1) + overlap_area(tx, ty, 3, 1), 1e-6);
  EXPECT_NEAR(ul, overlap_area(tx, ty, 1, 2) + overlap_area(tx, ty, 1, 3), 1e-6);
  EXPECT_NEAR(ll + lr + ul + ur, 2.25, 1e-6);
}

}  // namespace
}  // namespace kesta
