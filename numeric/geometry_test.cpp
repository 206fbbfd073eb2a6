#include "numeric/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "core/status.hpp"

namespace kesta {
namespace {

TEST(AxisConversion, DataToPixelAndBack) {
  const std::vector<float> axis = {10.0f, 20.0f, 30.0f};
  struct Case {
    float data, pixel;
  };
  for (const Case c : {Case{10, 0.5f}, Case{25, 2.0f}, Case{5, 0.0f}, Case{40, 3.0f},
                       Case{7.5f, 0.25f}, Case{32.5f, 2.75f}}) {
    Status status = ST_GOOD();
    float p = -1;
    MA_DC2PIXC(3, 3, axis, c.data, p, status);
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_FLOAT_EQ(p, c.pixel) << c.data;
  }
  for (const Case c : {Case{10, 0.5f}, Case{15, 1.0f}, Case{10, -3.0f}, Case{30, 7.0f},
                       Case{30, 2.5f}, Case{10, 1e30f}}) {
    Status status = ST_GOOD();
    float d = -1;
    // Case{10, 1e30}: a huge coordinate lies beyond the last centre.
    MA_PC2DC(3, 3, axis, c.pixel, d, status);
    EXPECT_FLOAT_EQ(d, c.pixel > 100 ? 30.0f : c.data) << c.pixel;
  }
  // Round trip inside the axis, on uneven spacing, increasing and decreasing.
  const std::vector<float> uneven = {-4.0f, -1.0f, 0.0f, 2.5f, 9.0f, 10.0f};
  const std::vector<float> falling(uneven.rbegin(), uneven.rend());
  for (const std::vector<float>* a : {&uneven, &falling})
    for (float d = -4.0f; d <= 10.0f; d += 0.37f) {
      Status status = ST_GOOD();
      float p = 0, back = 0;
      MA_DC2PIXC(6, 6, *a, d, p, status);
      MA_PC2DC(6, 6, *a, p, back, status);
      EXPECT_NEAR(back, d, 1e-4) << d;
    }
  // A decreasing axis (a d-spacing scale) counts its pixels from its first
  // value down, with the same half pixel beyond either end.
  const std::vector<float> down = {30.0f, 20.0f, 10.0f};
  for (const Case c : {Case{30, 0.5f}, Case{25, 1.0f}, Case{35, 0.0f}, Case{5, 3.0f},
                       Case{32.5f, 0.25f}, Case{7.5f, 2.75f}}) {
    Status status = ST_GOOD();
    float p = -1;
    MA_DC2PIXC(3, 3, down, c.data, p, status);
    EXPECT_FLOAT_EQ(p, c.pixel) << c.data;
  }
  // A coordinate or a one-value axis that is not a number has no pixel (the
  // axis is read no further than its value).
  for (const auto& [axis_value, coordinate] :
       {std::pair{5.0f, NAN}, std::pair{NAN, 5.0f}, std::pair{NAN, NAN}}) {
    const std::vector<float> one = {axis_value};
    Status status = ST_GOOD();
    float p = 0;
    MA_DC2PIXC(1, 1, one, coordinate, p, status);
    EXPECT_EQ(status, ST_GOOD());
    EXPECT_TRUE(std::isnan(p)) << axis_value << " " << coordinate << ": " << p;
  }
  // A count beyond the declared size or the axis is refused.
  Status status = ST_GOOD();
  float p = 0;
  MA_DC2PIXC(3, 4, axis, 1.0f, p, status);
  EXPECT_EQ(status, 20017);
}

TEST(Lines, IntersectionCases) {
  struct Case {
    float l[8];
    int result;
    float x, y;
  };
  const Case cases[] = {
      {{0, 0, 1, 1, 0, 1, 1, 0}, 0, 0.5f, 0.5f},
      {{2, 0, 2, 5, 0, 1, 4, 3}, 0, 2.0f, 2.0f},  // first vertical
      {{0, 1, 4, 3, 2, 0, 2, 5}, 0, 2.0f, 2.0f},  // second vertical
      {{1, 1, 1, 1, 0, 0, 1, 0}, -1, 0, 0},       // undefined line
      {{2, 0, 2, 1, 2, 5, 2, 9}, 1, 0, 0},        // same vertical
      {{2, 0, 2, 1, 3, 5, 3, 9}, 2, 0, 0},        // parallel verticals
      {{0, 0, 1, 1, 2, 2, 5, 5}, 1, 0, 0},        // coincide
      {{0, 0, 1, 1, 0, 1, 1, 2}, 2, 0, 0},        // parallel
  };
  for (const Case& c : cases) {
    int result = 99;
    float x = 0, y = 0;
    Status status = ST_GOOD();
    MA_INTERSECT(c.l[0], c.l[1], c.l[2], c.l[3], c.l[4], c.l[5], c.l[6], c.l[7], result, x, y,
                 status);
    EXPECT_EQ(result, c.result) << c.l[0] << " " << c.l[4];
    if (c.result == 0) {
      EXPECT_NEAR(x, c.x, 1e-5);
      EXPECT_NEAR(y, c.y, 1e-5);
    }
  }
  float x = 0, y = 0;
  Status status = ST_GOOD();
  MA_PERINTERSECT(0, 1, 4, 3, 3, -1, x, y, status);  // foot of (3, -1) on y = x/2 + 1
  EXPECT_NEAR(x, 1.6f, 1e-5);
  EXPECT_NEAR(y, 1.8f, 1e-5);
}

TEST(Lines, SideOfADirectedLine) {
  struct Case {
    float l[4];
    float px, py;
    int side;
  };
  const Case cases[] = {
      {{0, 0, 1, 0}, 0.5f, 1, -1},  {{0, 0, 1, 0}, 0.5f, -1, 1}, {{1, 0, 0, 0}, 0.5f, 1, 1},
      {{0, 0, 0, 1}, -1, 0.5f, -1}, {{0, 0, 0, 1}, 1, 0.5f, 1},  {{0, 1, 0, 0}, 1, 0.5f, -1},
      {{0, 0, 1, 1}, 3, 3, 0},      {{0, 0, 0, 1}, 0, 9, 0},     {{1, 1, 1, 1}, 0, 0, -999},
  };
  for (const Case& c : cases) {
    int side = 7;
    Status status = ST_GOOD();
    MA_POINTVECTOR(c.l[0], c.l[1], c.l[2], c.l[3], c.px, c.py, side, status);
    EXPECT_EQ(side, c.side) << c.l[0] << c.l[1] << c.l[2] << c.l[3] << " " << c.px << "," << c.py;
  }
}

TEST(Circles, LineCircleAnglesAndTurns) {
  // Both crossings lie on the line and on the circle; a tangent gives one.
  Status status = ST_GOOD();
  int n = -1;
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  MA_LINECIRCLE(1, 0, 1, n, x1, y1, x2, y2, status);
  EXPECT_EQ(n, 2);
  EXPECT_NEAR(x1, -0.70711f, 1e-5);
  EXPECT_NEAR(y2, 0.70711f, 1e-5);
  MA_LINECIRCLE(0, 1, 1, n, x1, y1, x2, y2, status);
  EXPECT_EQ(n, 1);
  EXPECT_FLOAT_EQ(y1, 1.0f);
  MA_LINECIRCLE(0, 2, 1, n, x1, y1, x2, y2, status);
  EXPECT_EQ(n, 0);

  int result = -1;
  float angle = 0;
  MA_CAL_ANGVECTORS(1, 1, -2, -2, result, angle, status);
  EXPECT_NEAR(angle, 3.1415927f, 1e-6);  // rounding must not push acos past -1
  MA_CAL_ANGVECTORS(0, 0, 1, 0, result, angle, status);
  EXPECT_EQ(result, 1);

  struct Turn {
    float p[6];
    int clockwise;
    bool degenerate;
  };
  const Turn turns[] = {
      {{0, 0, 1, 0, 1, 1}, -1, false}, {{0, 0, 1, 0, 1, -1}, 1, false},
      {{0, 0, 1, 0, 2, 0}, 0, false},  {{0, 0, 1, 0, 0, 0}, 0, false},
      {{0, 0, 0, 0, 1, 1}, 0, true},   {{5, 5, 4, 5, 4, 4}, -1, false},
  };
  for (const Turn& t : turns) {
    bool degenerate = !t.degenerate;
    int clockwise = 9;
    MA_CLOCKWISE(t.p[0], t.p[1], t.p[2], t.p[3], t.p[4], t.p[5], degenerate, clockwise, status);
    EXPECT_EQ(clockwise, t.clockwise) << t.p[4] << "," << t.p[5];
    EXPECT_EQ(degenerate, t.degenerate);
  }
  EXPECT_EQ(status, ST_GOOD());
}

TEST(Circles, CircleThroughThreePoints) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-50.0f, 50.0f);
  for (int i = 0; i < 200; ++i) {
    const float p[6] = {u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
    int result = -1;
    float xc = 0, yc = 0, r = 0;
    Status status = ST_GOOD();
    MA_CAL_CIRCENTRE(p[0], p[1], p[2], p[3], p[4], p[5], result, xc, yc, r, status);
    if (result != 0) continue;
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(std::hypot(p[2 * k] - xc, p[2 * k + 1] - yc), r, 1e-3f * std::max(1.0f, r));
  }
  int result = -1;
  float xc = 0, yc = 0, r = 0;
  Status status = ST_GOOD();
  MA_CAL_CIRCENTRE(0, 0, 1, 1, 3, 3, result, xc, yc, r, status);
  EXPECT_EQ(result, 2);
  MA_CAL_CIRCENTRE(0, 0, 3, 3, 1, 1, result, xc, yc, r, status);
  EXPECT_EQ(result, 2);
  MA_CAL_CIRCENTRE(1, 2, 1, 2, 3, 3, result, xc, yc, r, status);
  EXPECT_EQ(result, 1);
}

// An image holding a 2-D Gaussian peak at (px, py) over a gentle slope.
std::vector<float> peak_image(Index xmax, Index ymax, double px, double py) {
  std::vector<float> a(xmax * ymax);
  for (Index y = 1; y <= ymax; ++y)
    for (Index x = 1; x <= xmax; ++x)
      a[element(x, y, xmax)] = static_cast<float>(
          100.0 * std::exp(-((x - px) * (x - px) + (y - py) * (y - py)) / 8.0) + 0.01 * x);
  return a;
}

std::vector<float> gaussian_template(Index n, double width) {
  std::vector<float> t(n * n);
  const double c = (n + 1) / 2.0;
  for (Index y = 1; y <= n; ++y)
    for (Index x = 1; x <= n; ++x)
      t[element(x, y, n)] =
          static_cast<float>(std::exp(-((x - c) * (x - c) + (y - c) * (y - c)) / width));
  return t;
}

TEST(TemplateSearch, ExhaustiveAndHillClimbingFindThePeak) {
  const Index xmax = 40, ymax = 36;
  const std::vector<float> image = peak_image(xmax, ymax, 17, 23);
  const std::vector<float> templ = gaussian_template(5, 8.0);
  Status status = ST_GOOD();
  Index xb = 0, yb = 0;
  MA_CENTRE(xmax, ymax, 1, 1, xmax, ymax, image, 5, 5, 5, 5, templ, 1, 1, xmax, ymax, xb, yb,
            status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(xb, 17);
  EXPECT_EQ(yb, 23);

  Index xp = 12, yp = 19;
  bool found = false;
  float best = 0;
  MA_BESTCENTRE(xmax, ymax, 1, 1, xmax, ymax, image, 5, 5, 5, 5, 1, 1, templ, 10, 10, xp, yp, found,
                best, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_TRUE(found);
  EXPECT_EQ(xp, 17);
  EXPECT_EQ(yp, 23);
  EXPECT_GT(best, 100.0f);

  // Two sub-pixels a pixel: pixel 17 covers fine positions 33 and 34.
  const std::vector<float> fine = gaussian_template(10, 32.0);
  xp = 30;
  yp = 42;
  MA_BESTCENTRE(xmax, ymax, 1, 1, xmax, ymax, image, 10, 10, 10, 10, 2, 2, fine, 10, 10, xp, yp,
                found, best, status);
  EXPECT_TRUE(found);
  EXPECT_NEAR(static_cast<double>(xp), 34.0, 1.0);
  EXPECT_NEAR(static_cast<double>(yp), 46.0, 1.0);

  // Too far from the start.
  xp = 12;
  yp = 19;
  MA_BESTCENTRE(xmax, ymax, 1, 1, xmax, ymax, image, 5, 5, 5, 5, 1, 1, templ, 2, 2, xp, yp, found,
                best, status);
  EXPECT_FALSE(found);
  EXPECT_EQ(status, ST_GOOD());

  struct Bad {
    Index xnumtem, xsub, ysub;
    Status code;
  };
  for (const Bad b : {Bad{6, 1, 1, 20005}, Bad{5, 0, 1, 20017}, Bad{5, 1, 0, 20018}}) {
    Status s = ST_GOOD();
    MA_BESTCENTRE(xmax, ymax, 1, 1, xmax, ymax, image, 5, 5, b.xnumtem, 5, b.xsub, b.ysub, templ, 2,
                  2, xp, yp, found, best, s);
    EXPECT_EQ(s, b.code);
  }
  Status s = ST_GOOD();
  MA_CENTRE(xmax, ymax, 0, 1, xmax, ymax, image, 5, 5, 5, 5, templ, 1, 1, 2, 2, xb, yb, s);
  EXPECT_EQ(s, 20005);
}

}  // namespace
}  // namespace kesta
