#include "numeric/slices.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"
#include "numeric/geometry.hpp"

namespace kesta {
namespace {

// An XMAX x YMAX image whose element (x, y) holds F of its centre.
std::vector<float> image(Index xmax, Index ymax, const std::function<double(double, double)>& f) {
  std::vector<float> a(static_cast<std::size_t>(xmax * ymax));
  for (Index y = 1; y <= ymax; ++y)
    for (Index x = 1; x <= xmax; ++x) a[element(x, y, xmax)] = float(f(x - 0.5, y - 0.5));
  return a;
}

struct Profile {
  explicit Profile(Index n) : positions(n, -1), values(n, -1), errors(n, -1), extra(n, 0), weights(n, -1) {}
  std::vector<float> positions, values, errors, extra, weights;
  int truncated = -1;
  Index number = -1;
  Status status = ST_GOOD();
};

TEST(Slice, SamplesElementsAlongTheLine) {
  const std::vector<float> data = image(12, 3, [](double x, double y) { return x + 100 * y; });
  const std::vector<float> var(data.size(), 4.0f);
  Profile p(20);
  MA_SLICE(12, 3, 12, 3, data, var, 0.0f, 0.5f, 10.0f, 0.5f, false, true, 20, p.truncated, p.number,
           p.positions, p.values, p.errors, p.status);
  ASSERT_EQ(p.status, ST_GOOD());
  EXPECT_EQ(p.number, 10);
  EXPECT_EQ(p.truncated, 0);
  for (Index i = 0; i < 10; ++i) {
    EXPECT_FLOAT_EQ(p.values[i], float(i + 0.5 + 50));
    EXPECT_FLOAT_EQ(p.errors[i], 2.0f);
    EXPECT_FLOAT_EQ(p.positions[i], float(i + 0.5));
  }

  // A line longer than the room is cut, and says so in one line.
  testing::TerminalCapture terminal;
  Profile cut(4);
  MA_SLICE(12, 3, 12, 3, data, var, 0.0f, 0.5f, 10.0f, 0.5f, false, false, 4, cut.truncated,
           cut.number, cut.positions, cut.values, cut.errors, cut.status);
  EXPECT_EQ(cut.number, 4);
  EXPECT_EQ(cut.truncated, 1);
  EXPECT_EQ(terminal.text(),
            "WARNING: Only the first 4 points of the slice fit in the arrays, to 4.0000 of "
            "10.000; the rest is left out\n");
}

TEST(Slice, PointsOutsideTheImageAreRefused) {
  const std::vector<float> data(12 * 3, 1.0f);
  struct Case {
    float xs, ys, xe, ye;
    Status code;
  };
  for (const Case c : {Case{0, 0, 12.5f, 1, 20021}, Case{0, 0, 5, -0.1f, 20022},
                       Case{NAN, 0, 5, 1, 20021}}) {
    Profile p(20);
    MA_SLICE(12, 3, 12, 3, data, {}, c.xs, c.ys, c.xe, c.ye, false, false, 20, p.truncated,
             p.number, p.positions, p.values, p.errors, p.status);
    EXPECT_EQ(p.status, c.code);
    EXPECT_EQ(p.number, -1);
  }
  // An end past the image in wider arrays is as far outside.
  Profile p(20);
  MA_SLICE(12, 3, 10, 3, data, {}, 0, 0.5f, 10.5f, 0.5f, false, false, 20, p.truncated, p.number,
           p.positions, p.values, p.errors, p.status);
  EXPECT_EQ(p.status, 20021);
  EXPECT_EQ(p.number, -1);
}

TEST(ArcSlice, WalksTheArcThroughTheMiddlePoint) {
  // Element values are the X coordinates of their centres.
  const std::vector<float> data = image(20, 20, [](double x, double) { return x; });
  const float d = 5.0f * std::sqrt(0.5f);
  struct Case {
    float x2, y2;
    Index number;
    float lowest_x;
  };
  // Centre (10, 10), radius 5, from (15, 10) to (10, 15): the short way round
  // through the upper right, or the long way through the left side.
  for (const Case c : {Case{10 + d, 10 + d, 9, 9.5f}, Case{5.0f, 10.0f, 25, 5.5f}}) {
    Profile p(40);
    MA_ARCSLICE(20, 20, 20, 20, data, {}, 15, 10, c.x2, c.y2, 10, 15, 10, 10, false, false, 40,
                p.truncated, p.number, p.positions, p.values, p.errors, p.status);
    ASSERT_EQ(p.status, ST_GOOD());
    EXPECT_EQ(p.number, c.number);
    EXPECT_FLOAT_EQ(p.values[0], 15.5f);  // the start point itself
    const float lowest = *std::min_element(p.values.begin(), p.values.begin() + p.number);
    EXPECT_NEAR(lowest, c.lowest_x, 1.01f);
  }
}

TEST(ArcSlice, RefusedArcs) {
  const std::vector<float> data(20 * 20, 1.0f);
  struct Case {
    float x1, y1, x2, y2, x3, y3, xc, yc;
    Status code;
  };
  // About (3, 10) from (3, 5) to (3, 15) through (8, 10) the arc stays in
  // the image.
  for (const Case c : {Case{3, 5, 8, 10, 3, 15, 3, 10, ST_GOOD()},
                       Case{10, 10, 12, 12, 15, 10, 10, 10, 29999},
                       Case{21, 10, 12, 12, 15, 10, 10, 10, 20021}}) {
    // Room for 12 of the 17 samples of the half circles: enough to reach the
    // far side of the circle, yet every arc here would be truncated.
    Profile p(12);
    testing::TerminalCapture terminal;
    MA_ARCSLICE(20, 20, 20, 20, data, {}, c.x1, c.y1, c.x2, c.y2, c.x3, c.y3, c.xc, c.yc, false,
                false, 12, p.truncated, p.number, p.positions, p.values, p.errors, p.status);
    EXPECT_EQ(p.status, c.code) << c.x2 << "," << c.y2;
    if (c.code != ST_GOOD()) {
      // A refused arc leaves every output as it was.
      EXPECT_EQ(p.values[0], -1.0f);
      EXPECT_EQ(p.truncated, -1);
      EXPECT_EQ(p.number, -1);
      EXPECT_EQ(terminal.text(), "");
    } else {
      EXPECT_EQ(p.truncated, 1);
      EXPECT_EQ(p.number, 12);
      // The half circle of radius 5 is 15.708 long; 12 unit steps reach 11.
      EXPECT_EQ(terminal.text(),
                "WARNING: Only the first 12 points of the arc slice fit in the arrays, to 11.000 "
                "of 15.708; the rest is left out\n");
    }
  }
}

TEST(ArcSlice, EndsWhereItLeavesTheLowEdges) {
  // Element values are X + 100 Y of their centres.
  const std::vector<float> data = image(20, 20, [](double x, double y) { return x + 100 * y; });
  struct Case {
    float x1, y1, x2, y2, x3, y3, xc, yc;
    float last;  // the value of the last sample kept
    const char* edge;
  };
  // About (3, 10) from (3, 5) through (-2, 10) to (3, 15) the arc leaves on
  // the left; mirrored, through the bottom. The sample 0.17 pixel inside
  // takes the edge element; the next, 0.59 outside, has none, though the
  // arrays would hold an element there. The arrays had room for all 17: the
  // line names the edge, not the arrays.
  for (const Case c : {Case{3, 5, -2, 10, 3, 15, 3, 10, 0.5f + 100 * 5.5f, "X"},
                       Case{5, 3, 10, -2, 15, 3, 10, 3, 5.5f + 100 * 0.5f, "Y"}}) {
    Profile p(40);
    testing::TerminalCapture terminal;
    MA_ARCSLICE(20, 20, 20, 20, data, {}, c.x1, c.y1, c.x2, c.y2, c.x3, c.y3, c.xc, c.yc, false,
                false, 40, p.truncated, p.number, p.positions, p.values, p.errors, p.status);
    ASSERT_EQ(p.status, ST_GOOD());
    EXPECT_EQ(p.number, 4);
    EXPECT_EQ(p.truncated, 1);
    EXPECT_FLOAT_EQ(p.values[3], c.last);
    EXPECT_EQ(p.values[4], -1.0f);
    EXPECT_EQ(terminal.text(),
              std::string("WARNING: Only the first 4 points of the arc slice lie inside the "
                          "image, to 3.0000 of 15.708: the arc leaves it through its low ") +
                  c.edge + " edge\n");
  }
}

TEST(ArcSlice, EndsAtTheLowEdgesEvenWithinAPixelOfThem) {
  // A 53 x 37 image in 106 x 37 arrays; the arc's last unit step passes its
  // end point and lies 0.02 pixel below the bottom edge: outside the image,
  // so the profile ends before it, and says so.
  const Index xmax = 106;
  const Index ymax = 37;
  const std::vector<float> data = image(xmax, ymax, [](double x, double y) { return x + 100 * y; });
  const float px[3] = {0.06f, 29.8f, 52.68f};
  const float py[3] = {37.0f, 20.1f, 0.28f};
  int result = -1;
  float xc = 0.0f, yc = 0.0f, radius = 0.0f;
  Status status = ST_GOOD();
  MA_CAL_CIRCENTRE(px[0], py[0], px[1], py[1], px[2], py[2], result, xc, yc, radius, status);
  ASSERT_EQ(result, 0);
  Profile p(xmax);
  testing::TerminalCapture terminal;
  MA_ARCSLICE(xmax, ymax, 53, ymax, data, {}, px[0], py[0], px[1], py[1], px[2], py[2], xc, yc,
              false, false, xmax, p.truncated, p.number, p.positions, p.values, p.errors, p.status);
  ASSERT_EQ(p.status, ST_GOOD());
  EXPECT_EQ(p.truncated, 1);
  EXPECT_EQ(p.number, 65);
  EXPECT_FLOAT_EQ(p.values[0], 0.5f + 100 * 36.5f);
  EXPECT_FLOAT_EQ(p.values[64], 52.5f + 100 * 0.5f);
  EXPECT_FLOAT_EQ(p.positions[64], 64.5f);
  EXPECT_EQ(p.values[65], -1.0f);
  EXPECT_NE(terminal.text().find("WARNING: Only the first 65 points of the arc slice lie inside "
                                 "the image"),
            std::string::npos)
      << terminal.text();
  EXPECT_NE(terminal.text().find("through its low Y edge"), std::string::npos) << terminal.text();
}

// The image is its defined extent, not the arrays that hold it: an arc that
// leaves it through a high edge ends there, as at the low edges, and never
// reads the arrays beyond it. A 40 x 30 ramp in 64 x 48 arrays gives the
// profile it gives in arrays of its own size; its transpose leaves through
// the high Y edge.
TEST(ArcSlice, EndsWhereItLeavesTheHighEdges) {
  struct Case {
    Index nx, ny;
    float px[3], py[3];
    const char* edge;
  };
  for (const Case c : {Case{40, 30, {37.0f, 39.49f, 37.0f}, {25.39f, 23.49f, 4.61f}, "X"},
                       Case{30, 40, {25.39f, 23.49f, 4.61f}, {37.0f, 39.49f, 37.0f}, "Y"}}) {
    SCOPED_TRACE(c.edge);
    int result = -1;
    float xc = 0.0f, yc = 0.0f, radius = 0.0f;
    Status status = ST_GOOD();
    MA_CAL_CIRCENTRE(c.px[0], c.py[0], c.px[1], c.py[1], c.px[2], c.py[2], result, xc, yc, radius,
                     status);
    ASSERT_EQ(result, 0);
    std::vector<std::vector<float>> profiles;
    for (const Index xmax : {Index{64}, c.nx}) {
      const Index ymax = xmax == 64 ? 48 : c.ny;
      // Element (x, y) of the image holds x + 1000 y; the arrays beyond it 0.0.
      std::vector<float> data(static_cast<std::size_t>(xmax * ymax), 0.0f);
      for (Index y = 1; y <= c.ny; ++y)
        for (Index x = 1; x <= c.nx; ++x) data[element(x, y, xmax)] = float(x + 1000 * y);
      Profile p(xmax);
      testing::TerminalCapture terminal;
      MA_ARCSLICE(xmax, ymax, c.nx, c.ny, data, {}, c.px[0], c.py[0], c.px[1], c.py[1], c.px[2],
                  c.py[2], xc, yc, false, false, xmax, p.truncated, p.number, p.positions, p.values,
                  p.errors, p.status);
      ASSERT_EQ(p.status, ST_GOOD());
      EXPECT_EQ(p.truncated, 1);
      // Samples 5 and 6 lie 0.08 and 0.70 pixel past the edge: outside.
      ASSERT_EQ(p.number, 4);
      for (Index i = 0; i < p.number; ++i) EXPECT_GT(p.values[i], 0.0f) << i;
      // The last sample, 0.61 pixel inside the edge, takes the edge element.
      const float last = p.values[3];
      EXPECT_EQ(*c.edge == 'X' ? std::fmod(last, 1000.0f) : std::floor(last / 1000.0f), 40.0f);
      EXPECT_EQ(p.values[4], -1.0f);
      EXPECT_EQ(terminal.text(),
                std::string("WARNING: Only the first 4 points of the arc slice lie inside the "
                            "image, to 3.0000 of 25.155: the arc leaves it through its high ") +
                    c.edge + " edge\n");
      profiles.emplace_back(p.values.begin(), p.values.begin() + p.number);
    }
    EXPECT_EQ(profiles[0], profiles[1]);
  }
}

// An arc through (30, 20), (38.5, 25) and (30, 29.5) on a 40 x 30 image
// rises past the top edge (samples 20 to 23 at y = 30.11 to 30.33) before
// it ends: the profile ends at the edge and says so, taking no sample from
// the row below the edge for one beyond it.
TEST(ArcSlice, EndsWhereItRisesPastTheTopEdge) {
  const std::vector<float> data = image(40, 30, [](double x, double y) { return x + 100 * y; });
  int result = -1;
  float xc = 0.0f, yc = 0.0f, radius = 0.0f;
  Status status = ST_GOOD();
  MA_CAL_CIRCENTRE(30.0f, 20.0f, 38.5f, 25.0f, 30.0f, 29.5f, result, xc, yc, radius, status);
  ASSERT_EQ(result, 0);
  Profile p(40);
  testing::TerminalCapture terminal;
  MA_ARCSLICE(40, 30, 40, 30, data, {}, 30.0f, 20.0f, 38.5f, 25.0f, 30.0f, 29.5f, xc, yc, false,
              false, 40, p.truncated, p.number, p.positions, p.values, p.errors, p.status);
  ASSERT_EQ(p.status, ST_GOOD());
  EXPECT_EQ(p.truncated, 1);
  EXPECT_EQ(p.number, 19);
  EXPECT_NE(terminal.text().find("through its high Y edge"), std::string::npos)
      << terminal.text();
}

struct Strip {
  std::vector<float> xv, yv;
};

void project(const std::vector<float>& data, const Strip& s, float bin, Profile& p, Index maxproj) {
  MA_PROJECTION(12, 12, 1, 1, 12, 12, data, {}, 1.0f, 1.0f, s.xv, s.yv, false, true, bin, maxproj,
                p.truncated, p.number, p.positions, p.values, p.extra, p.weights, p.status);
}

TEST(Projection, ProfileDoesNotDependOnTheUnitOfThePixels) {
  // The same strip in pixels of 1 and of 100 microns, bins of one pixel: an
  // element's footprint scales with the pixel.
  const std::vector<float> data = image(12, 12, [](double x, double) { return x; });
  const Strip s{{1, 9, 9, 1, 1}, {2, 2, 5, 5, 2}};
  Profile unit(20), metres(20);
  project(data, s, 1.0f, unit, 20);
  MA_PROJECTION(12, 12, 1, 1, 12, 12, data, {}, 1.0e-4f, 1.0e-4f, s.xv, s.yv, false, true,
                1.0e-4f, 20, metres.truncated, metres.number, metres.positions, metres.values,
                metres.extra, metres.weights, metres.status);
  ASSERT_EQ(metres.status, ST_GOOD());
  ASSERT_EQ(metres.number, unit.number);
  for (Index k = 1; k <= unit.number; ++k)
    EXPECT_NEAR(metres.values[k - 1], unit.values[k - 1], 1e-3) << k;
}

TEST(Projection, BinsFollowTheAxisInEitherOrientation) {
  struct Case {
    Strip strip;
    bool along_x;
  };
  for (const Case& c : {Case{{{1, 9, 9, 1, 1}, {2, 2, 5, 5, 2}}, true},
                        Case{{{3, 3, 6, 6, 3}, {1, 9, 9, 1, 1}}, false}}) {
    // Elements hold the coordinate along the axis of their centres, which lie
    // one unit beyond vertex 1 at the middle of each bin.
    const bool along_x = c.along_x;
    const std::vector<float> data =
        image(12, 12, [along_x](double x, double y) { return along_x ? x : y; });
    Profile p(20);
    project(data, c.strip, 1.0f, p, 20);
    ASSERT_EQ(p.status, ST_GOOD());
    EXPECT_EQ(p.number, 9);
    for (Index k = 2; k <= 7; ++k) {
      EXPECT_NEAR(p.values[k - 1], k + 0.5, 1e-4) << k;
      EXPECT_GT(p.weights[k - 1], 0.0f);
      // The squares come with the same weights as the values.
      EXPECT_GT(p.extra[k - 1], p.values[k - 1] * p.values[k - 1] * p.weights[k - 1] * 0.99f);
    }
  }
}

TEST(Projection, LengthsAndRefusals) {
  const std::vector<float> data(12 * 12, 3.0f);
  Profile shorter(20);
  project(data, {{1, 1.5f, 1.5f, 1, 1}, {2, 2, 5, 5, 2}}, 1.0f, shorter, 20);
  EXPECT_EQ(shorter.status, ST_GOOD());
  EXPECT_EQ(shorter.number, 1);
  EXPECT_FLOAT_EQ(shorter.values[0], 3.0f);

  testing::TerminalCapture terminal;
  Profile cut(5);
  project(data, {{1, 9, 9, 1, 1}, {2, 2, 5, 5, 2}}, 1.0f, cut, 5);
  EXPECT_EQ(cut.number, 5);
  EXPECT_EQ(cut.truncated, 1);
  EXPECT_EQ(terminal.text(),
            "WARNING: There is not enough room for the whole of the required\n"
            "         projection. The end of the projection will be truncated.\n");

  struct Case {
    Strip strip;
    float bin;
    Status code;
  };
  for (const Case& c : {Case{{{4, 4, 6, 6, 4}, {2, 2, 5, 5, 2}}, 1.0f, 20022},
                        Case{{{1, 9, 9, 1, 1}, {2, 2, 5, 5, 2}}, 0.0f, 20021}}) {
    Profile p(20);
    project(data, c.strip, c.bin, p, 20);
    EXPECT_EQ(p.status, c.code);
    EXPECT_EQ(p.values[0], -1.0f);
  }
  // The X limits index the data, so they must lie inside the image.
  Profile p(20);
  MA_PROJECTION(12, 12, 0, 1, 12, 12, data, {}, 1.0f, 1.0f, std::vector<float>{1, 9, 9, 1, 1},
                std::vector<float>{2, 2, 5, 5, 2}, false, false, 1.0f, 20, p.truncated, p.number,
                p.positions, p.values, p.extra, p.weights, p.status);
  EXPECT_EQ(p.status, 20005);
}

// Pixels that are not numbers add neither value nor weight: each bin keeps
// the mean of the others, and a bin none reached has weight 0.
TEST(Projection, PixelsThatAreNotNumbersAreLeftOut) {
  std::vector<float> data = image(12, 12, [](double x, double) { return x; });
  const Strip strip{{1, 9, 9, 1, 1}, {2, 2, 6, 6, 2}};  // columns 2..10, rows 3..6
  data[element(4, 4, 12)] = std::numeric_limits<float>::quiet_NaN();
  data[element(6, 5, 12)] = std::numeric_limits<float>::infinity();
  for (Index y = 3; y <= 6; ++y) data[element(8, y, 12)] = std::numeric_limits<float>::quiet_NaN();
  Profile p(20);
  project(data, strip, 1.0f, p, 20);
  ASSERT_EQ(p.status, ST_GOOD());
  for (Index k = 1; k <= p.number; ++k) {
    const auto b = static_cast<std::size_t>(k - 1);
    EXPECT_TRUE(std::isfinite(p.values[b])) << k;
    // Bins of column 8 hold parts of its neighbours' discs only.
    if (p.weights[b] > 0.0f) {
      EXPECT_NEAR(p.values[b], k + 0.5, 0.51) << k;
    }
  }
  const std::vector<float> none(12 * 12, std::numeric_limits<float>::quiet_NaN());
  Profile empty(20);
  project(none, strip, 1.0f, empty, 20);
  EXPECT_TRUE(std::all_of(empty.weights.begin(), empty.weights.begin() + empty.number,
                          [](float w) { return w == 0.0f; }));
}

// The strip's pixel centres are counted, those used apart; masked pixels
// are left out as those that are not numbers.
TEST(Projection, StripCountsItsPixelsAndLeavesOutMaskedOnes) {
  std::vector<float> data = image(12, 12, [](double x, double) { return x; });
  const Strip strip{{1, 9, 9, 1, 1}, {2, 2, 6, 6, 2}};
  data[element(4, 4, 12)] = std::numeric_limits<float>::quiet_NaN();
  std::vector<std::uint8_t> mask(12 * 12, 0);
  mask[element(2, 5, 12)] = 1;
  mask[element(3, 3, 12)] = 1;
  data[element(3, 3, 12)] = 1000.0f;
  for (const bool masked : {false, true}) {
    Profile p(20);
    StripPixels pixels;
    ma_strip_projection(12, 12, 1, 1, 12, 12, data, {}, masked ? mask : std::vector<std::uint8_t>{},
                        1.0f, 1.0f, strip.xv, strip.yv, false, false, 1.0f, 20, p.truncated,
                        p.number, p.positions, p.values, p.extra, p.weights, pixels, p.status);
    ASSERT_EQ(p.status, ST_GOOD());
    EXPECT_EQ(pixels.inside, 36);
    EXPECT_EQ(pixels.used, masked ? 33 : 35);
    EXPECT_EQ(p.values[1] < 100.0f, masked);  // the bin of column 3
  }
  const std::vector<float> none(12 * 12, std::numeric_limits<float>::quiet_NaN());
  Profile p(20);
  StripPixels pixels;
  ma_strip_projection(12, 12, 1, 1, 12, 12, none, {}, {}, 1.0f, 1.0f, strip.xv, strip.yv, false,
                      false, 1.0f, 20, p.truncated, p.number, p.positions, p.values, p.extra,
                      p.weights, pixels, p.status);
  EXPECT_EQ(pixels.inside, 36);
  EXPECT_EQ(pixels.used, 0);
}

TEST(Radial, SharesMasksAndVariances) {
  // Axis coordinates equal to the element numbers; element (1, 1) lies 2.3
  // from the centre, element (3, 1) 4.3, element (3, 2) sqrt(4.3^2 + 1).
  const std::vector<float> axis = {1, 2, 3, 4};
  std::vector<float> data(4 * 2, 0.0f);
  std::vector<std::uint8_t> mask(4 * 2, 1);
  data[element(1, 1, 4)] = 10.0f;
  mask[element(1, 1, 4)] = 0;
  data[element(2, 2, 4)] = 1000.0f;  // masked off
  for (const int mode : {1, 0}) {
    Profile p(6);
    MA_RADIAL(4, 2, 1, 1, 4, 2, axis, axis, data, mask, true, -1.3f, 1.0f, 1.0f, mode, 6,
              p.positions, p.values, p.extra, p.weights, p.status);
    ASSERT_EQ(p.status, ST_GOOD());
    const std::vector<float> w = mode == 1 ? std::vector<float>{0, 0.2f, 0.8f, 0, 0, 0}
                                           : std::vector<float>{0, 0, 1, 0, 0, 0};
    for (std::size_t b = 0; b < 6; ++b) {
      EXPECT_NEAR(p.weights[b], w[b], 1e-6) << mode << " " << b;
      EXPECT_FLOAT_EQ(p.values[b], w[b] > 0 ? 10.0f : 0.0f);
      EXPECT_FLOAT_EQ(p.extra[b], w[b] > 0 ? 10.0f : 0.0f);
      EXPECT_FLOAT_EQ(p.positions[b], b + 0.5f);
    }
  }
  // Two elements in one bin (0.5 from the centre, inside the first):
  // mean and sample variance.
  data[element(1, 1, 4)] = 4.0f;
  data[element(1, 2, 4)] = 6.0f;
  mask[element(1, 2, 4)] = 0;
  Profile p(6);
  MA_RADIAL(4, 2, 1, 1, 4, 2, axis, axis, data, mask, true, 1.0f, 1.5f, 1.0f, 0, 6, p.positions,
            p.values, p.extra, p.weights, p.status);
  EXPECT_FLOAT_EQ(p.values[0], 5.0f);
  EXPECT_FLOAT_EQ(p.extra[0], 2.0f);

  // Radii beyond the last bin are left out, and that is said once; a profile
  // whose bins reach every element says nothing. The farthest element,
  // (4, 2), lies sqrt(5.3^2 + 1) from the centre.
  std::vector<std::uint8_t> none(8, 0);
  for (const auto& [bins, said] :
       {std::pair<Index, std::string>{3, "WARNING: Only the first 3 bins of the radial profile "
                                         "fit in the arrays, to 3.0000 of 5.3935; the rest is "
                                         "left out\n"},
        std::pair<Index, std::string>{6, ""}}) {
    testing::TerminalCapture terminal;
    Profile cut(6);
    MA_RADIAL(4, 2, 1, 1, 4, 2, axis, axis, data, none, false, -1.3f, 1.0f, 1.0f, 0, bins,
              cut.positions, cut.values, cut.extra, cut.weights, cut.status);
    EXPECT_EQ(cut.status, ST_GOOD());
    EXPECT_EQ(terminal.text(), said) << bins;
  }

  for (const auto& [mode, width, code] : {std::tuple{2, 1.0f, 20017}, std::tuple{0, 0.0f, 20021}}) {
    Profile bad(6);
    MA_RADIAL(4, 2, 1, 1, 4, 2, axis, axis, data, mask, false, 1.0f, 1.0f, width, mode, 6,
              bad.positions, bad.values, bad.extra, bad.weights, bad.status);
    EXPECT_EQ(bad.status, code);
    EXPECT_EQ(bad.values[0], -1.0f);
  }
}

// The profile of 100 + 10 r about a corner of a 50 x 40 image: each point's
// value is the mean over the radii of its bin, whose middle is its label.
TEST(Radial, ValuesLieAtTheRadiiTheirAxisNames) {
  const std::vector<float> data =
      image(50, 40, [](double x, double y) { return 100.0 + 10.0 * std::hypot(x, y); });
  std::vector<float> axis(50);
  for (Index i = 1; i <= 50; ++i) axis[i - 1] = static_cast<float>(i) - 0.5f;
  for (const int mode : {0, 1}) {
    Profile p(64);
    MA_RADIAL(50, 40, 1, 1, 50, 40, axis, axis, data, {}, false, 0.0f, 0.0f, 1.0f, mode, 64,
              p.positions, p.values, p.extra, p.weights, p.status);
    ASSERT_EQ(p.status, ST_GOOD());
    double offset = 0.0;
    int n = 0;
    for (std::size_t b = 0; b < 64; ++b) {
      if (p.positions[b] < 5.0f || p.positions[b] > 35.0f) continue;
      offset += (p.values[b] - 100.0) / 10.0 - p.positions[b];
      ++n;
    }
    EXPECT_NEAR(offset / n, 0.0, 0.25) << "mode " << mode;
  }
  // The pixel nearest the corner (0.71 away) is in the first bin.
  Profile p(64);
  MA_RADIAL(50, 40, 1, 1, 50, 40, axis, axis, data, {}, false, 0.0f, 0.0f, 1.0f, 0, 64,
            p.positions, p.values, p.extra, p.weights, p.status);
  EXPECT_FLOAT_EQ(p.weights[0], 1.0f);
  EXPECT_NEAR(p.values[0], 100.0 + 10.0 * std::sqrt(0.5), 1e-3);
}

}  // namespace
}  // namespace kesta
