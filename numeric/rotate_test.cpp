#include "numeric/rotate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"
#include "numeric/convolution.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/transform2d.hpp"

namespace kesta {
namespace {

constexpr double kHalfPi = 1.5707963267948966;

using Image = std::vector<float>;

Image filled(Index xmax, Index ymax, const std::function<double(Index, Index)>& f) {
  Image a(static_cast<std::size_t>(xmax * ymax));
  for (Index y = 1; y <= ymax; ++y)
    for (Index x = 1; x <= xmax; ++x) a[element(x, y, xmax)] = float(f(x, y));
  return a;
}

// A smooth blob inside a 16 x 16 image.
Image blob() {
  return filled(16, 16, [](Index x, Index y) {
    const double dx = x - 0.5 - 7.3, dy = y - 0.5 - 8.6;
    return std::exp(-(dx * dx + 2 * dy * dy + dx * dy) / 10.0);
  });
}

// Total intensity and centroid, with each element at its centre (x - 0.5, y - 0.5).
struct Moments {
  double sum = 0, x = 0, y = 0;
};
Moments moments(const Image& a, Index xmax) {
  Moments m;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double cx = double(i % xmax) + 0.5, cy = double(i / xmax) + 0.5;
    m.sum += a[i];
    m.x += a[i] * cx;
    m.y += a[i] * cy;
  }
  m.x /= m.sum;
  m.y /= m.sum;
  return m;
}

// Where a rotation about (xc, yc) by ANGLE and then the shift takes (x, y).
void rigid(double xc, double yc, double angle, double sx, double sy, double x, double y,
           double& ox, double& oy) {
  const double c = std::cos(angle), s = std::sin(angle);
  ox = c * (x - xc) - s * (y - yc) + xc + sx;
  oy = s * (x - xc) + c * (y - yc) + yc + sy;
}

// The routines that move a region by a rigid motion into the output region
// (1, 1)-(OXE, OYE) of a 24 x 24 output.
enum class Routine { k2DRotate, kRTransform, kRRotate, k2DTransform };
constexpr Routine kMovers[] = {Routine::k2DRotate, Routine::kRTransform, Routine::kRRotate,
                               Routine::k2DTransform};
const char* const kNames[] = {"MA_2DROTATE", "MA_RTRANSFORM", "MA_RROTATE", "MA_2DTRANSFORM"};

Status move(Routine r, const Image& in, Index xmax, Index xs, Index ys, Index xe, Index ye,
            float xc, float yc, float a, float sx, float sy, Image& out, Index oxe = 24,
            Index oye = 24) {
  Status st = ST_GOOD();
  const Index ymax = Index(in.size()) / xmax;
  switch (r) {
    case Routine::k2DRotate:
      MA_2DROTATE(xmax, ymax, in, xs, ys, xe, ye, xc, yc, a, sx, sy, 1, 1, 24, 24, 1, 1, oxe, oye,
                  out, st);
      break;
    case Routine::kRTransform:
      MA_RTRANSFORM(xmax, ymax, in, xs, ys, xe, ye, xc, yc, a, sx, sy, 1, 1, 24, 24, 1, 1, oxe,
                    oye, out, st);
      break;
    case Routine::kRRotate:
      MA_RROTATE(xmax, ymax, in, xs, ys, xe, ye, xc, yc, a, sx, sy, 8, 8, 24, 24, 1, 1, oxe, oye,
                 out, st);
      break;
    case Routine::k2DTransform:
      MA_2DTRANSFORM(xmax, ymax, in, xs, ys, xe, ye, xc, yc, a, sx, sy, 1, 1, 24, 24, 1, 1, oxe,
                     oye, out, st);
      break;
  }
  return st;
}

TEST(Rotation, ConservesIntensityAndMovesTheCentroid) {
  const Image in = blob();
  const Moments before = moments(in, 16);
  for (const double angle : {0.6, 2.2, -1.0}) {
    for (const Routine r : kMovers) {
      const char* name = kNames[int(r)];
      Image out(24 * 24, 5.0f);
      ASSERT_EQ(move(r, in, 16, 1, 1, 16, 16, 8.2f, 7.9f, float(angle), 3.5f, 2.7f, out),
                ST_GOOD())
          << name;
      const Moments after = moments(out, 24);
      double ex, ey;
      rigid(8.2, 7.9, angle, 3.5, 2.7, before.x, before.y, ex, ey);
      EXPECT_NEAR(after.sum, before.sum, 1e-4 * before.sum) << name << " " << angle;
      EXPECT_NEAR(after.x, ex, 0.02) << name << " " << angle;
      EXPECT_NEAR(after.y, ey, 0.02) << name << " " << angle;
    }
  }
}

TEST(Rotation, NarrowRegionsMoveLikeTheSameDataInAWideRegion) {
  // A region one or two elements wide or high gives the same result as its
  // elements alone inside a wider region of zeros.
  const Image in = filled(8, 8, [](Index x, Index y) { return x + 10 * y; });
  struct Region {
    Index xs, ys, xe, ye;
  };
  for (const Routine r : kMovers) {
    for (const Region g : {Region{4, 5, 5, 5}, Region{4, 5, 4, 6}, Region{4, 5, 5, 6}}) {
      Image only(in.size(), 0.0f);
      for (Index y = g.ys; y <= g.ye; ++y)
        for (Index x = g.xs; x <= g.xe; ++x) only[element(x, y, 8)] = in[element(x, y, 8)];
      Image narrow(24 * 24), wide(24 * 24);
      ASSERT_EQ(move(r, in, 8, g.xs, g.ys, g.xe, g.ye, 4, 5, 0.4f, 6, 6, narrow), ST_GOOD());
      ASSERT_EQ(move(r, only, 8, 2, 2, 7, 7, 4, 5, 0.4f, 6, 6, wide), ST_GOOD());
      for (std::size_t i = 0; i < wide.size(); ++i)
        ASSERT_NEAR(narrow[i], wide[i], 1e-3) << kNames[int(r)] << " element " << i;
    }
  }
}

TEST(Rotation, OutputRegionsBeyondTheArrayAreRefusedBeforeWriting) {
  const Image in = blob();
  for (const Routine r : kMovers) {
    for (const float angle : {0.3f, 0.0f, float(kHalfPi)}) {
      Image out(24 * 24, 7.0f);
      EXPECT_EQ(move(r, in, 16, 1, 1, 16, 16, 8, 8, angle, 1.5f, 0, out, 25, 24), 20005);
      EXPECT_EQ(move(r, in, 16, 1, 1, 16, 16, 8, 8, angle, 1.5f, 0, out, 24, 30), 20006);
      EXPECT_EQ(moments(out, 24).sum, 7.0 * 24 * 24) << kNames[int(r)];
    }
  }
}

TEST(QuarterTurn, WholeTurnsMoveElementsLikeArrayRotations) {
  // A 6 x 4 image turned about the middle of the region and shifted so that the
  // turned image fills the output from (1, 1): element (x, y) lands where the
  // index formula of the corresponding array rotation puts it.
  const Image in = filled(6, 4, [](Index x, Index y) { return 10 * y + x; });
  struct Case {
    int q;
    float sx, sy;
    Index w, h;
    std::function<void(Index, Index, Index&, Index&)> to;
  };
  const std::vector<Case> cases = {
      {1, -1, 1, 4, 6, [](Index x, Index y, Index& c, Index& l) { c = 5 - y, l = x; }},
      {2, 0, 0, 6, 4, [](Index x, Index y, Index& c, Index& l) { c = 7 - x, l = 5 - y; }},
      {3, -1, 1, 4, 6, [](Index x, Index y, Index& c, Index& l) { c = y, l = 7 - x; }},
  };
  for (const Case& k : cases) {
    for (const bool via_entry : {false, true}) {
      Image out(k.w * k.h, -1.0f);
      Status status = ST_GOOD();
      const float angle = float(k.q * kHalfPi);
      if (via_entry)
        MA_2DTRANSFORM(6, 4, in, 1, 1, 6, 4, 3, 2, angle, k.sx, k.sy, 1, 1, k.w, k.h, 1, 1, k.w,
                       k.h, out, status);
      else
        MA_2DROTATE90(6, 4, in, 1, 1, 6, 4, 3, 2, angle, k.sx, k.sy, 1, 1, k.w, k.h, 1, 1, k.w,
                      k.h, out, status);
      ASSERT_EQ(status, ST_GOOD());
      Image expected(out.size(), -2.0f);
      for (Index y = 1; y <= 4; ++y)
        for (Index x = 1; x <= 6; ++x) {
          Index c, l;
          k.to(x, y, c, l);
          expected[element(c, l, k.w)] = in[element(x, y, 6)];
        }
      EXPECT_EQ(out, expected) << "q = " << k.q;
    }
  }
}

TEST(QuarterTurn, ElementsTurnedBelowColumnOneAreDropped) {
  // A half turn about (1, 1) sends column 3 to column 0 and line 3 to line 0;
  // nothing of them may land in column or line 1.
  const Image ones(3 * 3, 1.0f);
  Image out(3 * 3, 0.0f);
  Status status = ST_GOOD();
  MA_2DROTATE90(3, 3, ones, 1, 1, 3, 3, 1, 1, float(2 * kHalfPi), 0, 0, 1, 1, 3, 3, 1, 1, 3, 3,
                out, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_EQ(out, (Image{1, 1, 0, 1, 1, 0, 0, 0, 0}));
}

TEST(Rotation, NoMotionReproducesTheRegion) {
  const Image in = filled(6, 5, [](Index x, Index y) { return x + 10 * y; });
  Image out(6 * 5, -1.0f);
  Status status = ST_GOOD();
  MA_RROTATE(6, 5, in, 2, 2, 5, 4, 3, 3, 0.0f, 0, 0, 1, 1, 6, 5, 1, 1, 6, 5, out, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index y = 1; y <= 5; ++y)
    for (Index x = 1; x <= 6; ++x) {
      const bool in_region = x >= 2 && x <= 5 && y >= 2 && y <= 4;
      EXPECT_EQ(out[element(x, y, 6)], in_region ? in[element(x, y, 6)] : 0.0f);
    }
}

TEST(QuarterTurn, FractionalOffsetsAreSharedBilinearly) {
  Image in(20 * 20, 0.0f);
  in[element(5, 7, 20)] = 1.0f;
  Image out(20 * 20, 0.0f);
  Status status = ST_GOOD();
  MA_2DROTATE90(20, 20, in, 1, 1, 20, 20, 10.3f, 10.3f, float(kHalfPi), 0, 0, 1, 1, 20, 20, 1, 1,
                20, 20, out, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_NEAR(out[element(14, 5, 20)], 0.4f, 1e-5);
  EXPECT_NEAR(out[element(15, 5, 20)], 0.6f, 1e-5);

  // With fractional centre and shift together, the shares still sit where the
  // turned element lies.
  const Image b = blob();
  const Moments before = moments(b, 16);
  for (int q = 1; q <= 3; ++q) {
    Image turned(24 * 24, 0.0f);
    MA_2DROTATE90(16, 16, b, 1, 1, 16, 16, 10.3f, 10.3f, float(q * kHalfPi), 0.5f, 0.75f, 1, 1, 24,
                  24, 1, 1, 24, 24, turned, status);
    ASSERT_EQ(status, ST_GOOD());
    const Moments after = moments(turned, 24);
    double ex, ey;
    rigid(10.3, 10.3, q * kHalfPi, 0.5, 0.75, before.x, before.y, ex, ey);
    EXPECT_NEAR(after.sum, before.sum, 1e-4 * before.sum);
    EXPECT_NEAR(after.x, ex, 1e-3) << q;
    EXPECT_NEAR(after.y, ey, 1e-3) << q;
  }
}

TEST(QuarterTurn, NoTurnIsAShift) {
  const Image in = filled(6, 6, [](Index x, Index y) { return x + 10 * y; });
  for (const float angle : {6.2831855f, 0.0005f, 1.0e-6f}) {
    for (const bool via_entry : {false, true}) {
      Image out(12 * 12, -1.0f);
      Status status = ST_GOOD();
      if (via_entry)
        MA_2DTRANSFORM(6, 6, in, 1, 1, 6, 6, 3, 3, angle, 3.0f, 2.0f, 1, 1, 12, 12, 1, 1, 12, 12,
                       out, status);
      else
        MA_2DROTATE90(6, 6, in, 1, 1, 6, 6, 3, 3, angle, 3.0f, 2.0f, 1, 1, 12, 12, 1, 1, 12, 12,
                      out, status);
      ASSERT_EQ(status, ST_GOOD());
      for (Index y = 1; y <= 12; ++y)
        for (Index x = 1; x <= 12; ++x) {
          const bool from = x > 3 && x <= 9 && y > 2 && y <= 8;
          ASSERT_EQ(out[element(x, y, 12)], from ? in[element(x - 3, y - 2, 6)] : 0.0f)
              << angle << " " << x << "," << y;
        }
    }
  }
}

TEST(Transform, EntryPicksQuarterTurnsOnlyJustAboveEachMultiple) {
  const Image in = blob();
  auto turned = [&](double angle, bool entry) {
    Image out(24 * 24, 0.0f);
    Status status = ST_GOOD();
    if (entry)
      MA_2DTRANSFORM(16, 16, in, 1, 1, 16, 16, 8, 8, float(angle), 4, 4, 1, 1, 24, 24, 1, 1, 24,
                     24, out, status);
    else
      MA_2DROTATE90(16, 16, in, 1, 1, 16, 16, 8, 8, float(angle), 4, 4, 1, 1, 24, 24, 1, 1, 24,
                    24, out, status);
    EXPECT_EQ(status, ST_GOOD());
    return out;
  };
  const Image exact = turned(kHalfPi, false);
  EXPECT_EQ(turned(kHalfPi + 0.0005, true), exact);
  const Image resampled = turned(kHalfPi - 0.0005, true);
  EXPECT_NE(resampled, exact);
  for (std::size_t i = 0; i < exact.size(); ++i) ASSERT_NEAR(resampled[i], exact[i], 0.02);
}

TEST(Translate, WholeAndFractionalShifts) {
  const Image in = filled(6, 6, [](Index x, Index y) { return x + 10 * y; });
  Status status = ST_GOOD();
  Image out(8 * 8, -1.0f);
  MA_2DTRANSLATE(6, 6, in, 1, 1, 6, 6, -2.0f, 1.0f, 1, 1, 8, 8, 1, 1, 8, 8, out, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index y = 1; y <= 8; ++y)
    for (Index x = 1; x <= 8; ++x) {
      const bool from = x + 2 <= 6 && y - 1 >= 1 && y - 1 <= 6;
      EXPECT_EQ(out[element(x, y, 8)], from ? in[element(x + 2, y - 1, 6)] : 0.0f);
    }

  const Moments before = moments(in, 6);
  Image moved(12 * 12, 0.0f);
  MA_2DTRANSLATE(6, 6, in, 1, 1, 6, 6, 2.3f, 3.6f, 1, 1, 12, 12, 1, 1, 12, 12, moved, status);
  const Moments after = moments(moved, 12);
  EXPECT_NEAR(after.sum, before.sum, 1e-4 * before.sum);
  EXPECT_NEAR(after.x, before.x + 2.3, 1e-4);
  EXPECT_NEAR(after.y, before.y + 3.6, 1e-4);
}

TEST(Reflection, MirrorsElementsOntoElements) {
  const Image in = filled(10, 3, [](Index x, Index y) { return x + 10 * y; });
  for (const Index sub : {0, 1, 2}) {
    Image out(10 * 3, -1.0f);
    Status status = ST_GOOD();
    // The vertical line x = 5 takes element 1 of a line onto element 10.
    MA_RREFLECT(10, 3, in, 1, 1, 10, 3, 5, 0, 5, 3, sub, sub, 10, 3, 1, 1, 10, 3, out, status);
    ASSERT_EQ(status, ST_GOOD());
    for (Index y = 1; y <= 3; ++y)
      for (Index x = 1; x <= 10; ++x)
        EXPECT_NEAR(out[element(x, y, 10)], in[element(11 - x, y, 10)], 1e-3) << sub;
  }
  // The diagonal line y = x transposes.
  const Image square = filled(4, 4, [](Index x, Index y) { return x + 10 * y; });
  Image out(16, -1.0f);
  Status status = ST_GOOD();
  MA_RREFLECT(4, 4, square, 1, 1, 4, 4, 0, 0, 1, 1, 0, 0, 4, 4, 1, 1, 4, 4, out, status);
  for (Index y = 1; y <= 4; ++y)
    for (Index x = 1; x <= 4; ++x)
      EXPECT_NEAR(out[element(x, y, 4)], square[element(y, x, 4)], 1e-3);

  float xo, yo;
  MA_REFLECT(1, 1, 1, 1, 3, 3, xo, yo, status);
  EXPECT_EQ(status, 20021);
}

TEST(Transform, PointFormulasAndTwoPointMotions) {
  Status status = ST_GOOD();
  float xo, yo;
  MA_TRANSFORM(10, 10, float(kHalfPi), 0, 0, 11, 10, xo, yo, status);
  EXPECT_NEAR(xo, 10.0f, 1e-5);
  EXPECT_NEAR(yo, 11.0f, 1e-5);

  struct Case {
    float x3, y3, x4, y4;
    float angle, sx, sy, mismatch;
  };
  for (const Case c : {Case{5, 5, 5, 7, float(kHalfPi), 4, 6, 0}, Case{5, 5, 5, 9, float(kHalfPi), 4, 7, 1},
                       Case{7, 0, 5, 0, float(2 * kHalfPi), 5, 0, 0}}) {
    float xc, yc, angle, sx, sy, mismatch;
    MA_CAL_2DTRANSFORMATION(0, 0, 2, 0, c.x3, c.y3, c.x4, c.y4, xc, yc, angle, sx, sy, mismatch,
                            status);
    EXPECT_FLOAT_EQ(xc, 1.0f);
    EXPECT_FLOAT_EQ(yc, 0.0f);
    EXPECT_NEAR(angle, c.angle, 1e-6);
    EXPECT_FLOAT_EQ(sx, c.sx);
    EXPECT_FLOAT_EQ(sy, c.sy);
    EXPECT_FLOAT_EQ(mismatch, c.mismatch);
  }
}

TEST(Rotation, NonSquarePixelsConserveIntensity) {
  const Image in = blob();
  const double total = moments(in, 16).sum;
  for (const float angle : {float(kHalfPi), float(2 * kHalfPi), float(3 * kHalfPi)}) {
    Image out(40 * 40, 0.0f);
    Status status = ST_GOOD();
    MA_2DROTATE90(16, 16, in, 1, 1, 16, 16, 8, 8, angle, 12, 12, 1.0f, 1.5f, 40, 40, 1, 1, 40, 40,
                  out, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_NEAR(moments(out, 40).sum, total, 1e-4 * total) << angle;
  }
}

TEST(Rotation, StretchedPixelsAreSplitNotDropped) {
  const Image in(40 * 40, 1.0f);
  for (const float ypixsize : {2.0f, 3.0f, 5.0f}) {
    Image out(300 * 300, 0.0f);
    Status status = ST_GOOD();
    testing::TerminalCapture terminal;
    MA_2DTRANSFORM(40, 40, in, 1, 1, 40, 40, 20, 20, 0.3f, 80, 130, 1.0f, ypixsize, 300, 300, 1, 1,
                   300, 300, out, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_NEAR(moments(out, 300).sum, 1600.0, 1e-3) << ypixsize;
    EXPECT_EQ(terminal.text(), "") << ypixsize;
  }
}

TEST(Rotation, SkippedElementsAreReported) {
  const Image in(6, 1.0f);
  Image out(24 * 24, 0.0f);
  Status status = ST_GOOD();
  testing::TerminalCapture terminal;
  MA_RTRANSFORM(3, 2, in, 1, 1, 3, 2, 1, 1, NAN, 0, 0, 1, 1, 24, 24, 1, 1, 24, 24, out, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(terminal.text(),
            "WARNING:         12 input pixels have been ignored, because they require\n"
            "         re-binning into more than three output pixels (X-direction).\n");
}

// Sub-pixel rotations stop at their own limit, far below the shared one that
// convolutions need; both refuse before touching the output.
TEST(WorkLimits, RotationHasItsOwnLimitBelowTheSharedOne) {
  const Image in(64, 1.0f);
  struct Case {
    Index xsub, ysub;
    Status expected;
  };
  // 8 x 8 elements: 6000 x 6000 parts are 2.3e9 samples; 2^26 x 1 parts 2^32.
  for (const Case& c : {Case{6000, 6000, 20018}, Case{Index{1} << 26, 1, 20017}}) {
    Image out(64, -5.0f);
    Status status = ST_GOOD();
    MA_RROTATE(8, 8, in, 1, 1, 8, 8, 4, 4, 0.3f, 0, 0, c.xsub, c.ysub, 8, 8, 1, 1, 8, 8, out,
               status);
    EXPECT_EQ(status, c.expected) << c.xsub;
    status = ST_GOOD();
    MA_RREFLECT(8, 8, in, 1, 1, 8, 8, 0, 0, 1, 1, c.xsub, c.ysub, 8, 8, 1, 1, 8, 8, out, status);
    EXPECT_EQ(status, c.expected) << c.xsub;
    EXPECT_EQ(out, Image(64, -5.0f));
  }
  EXPECT_EQ(kMaxRotationWork, Index{1} << 31);

  // The shared limit must keep admitting a 4096^2 convolution with a 15 x 15
  // kernel (3.8e9 steps) and still refuse 1024^2 elements with a 1025^2
  // kernel (1.1e12 steps).
  static_assert(work_fits({4096, 4096, 15, 15}, kMaxWork));
  static_assert(!work_fits({4096, 4096, 15, 15}, kMaxRotationWork));
  const Image data(1024 * 1024, 1.0f), kernel(1025 * 1025, 1.0f);
  Image out(1024 * 1024, -5.0f);
  Status status = ST_GOOD();
  MA_SCONVOLUTION(1024, 1024, data, 1, 1, 1024, 1024, 1025, 1025, 1025, 1025, kernel, 1024, 1024,
                  out, status);
  EXPECT_EQ(status, 20018);
  EXPECT_EQ(out[0], -5.0f);
}

}  // namespace
}  // namespace kesta
