#include "numeric/region_ops.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr Index kX = 7;
constexpr Index kY = 5;

// A 7 x 5 image whose element (x, y) holds x + 10 y (never zero).
std::vector<float> ramp() {
  std::vector<float> a(kX * kY);
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) a[element(x, y, kX)] = static_cast<float>(x + 10 * y);
  return a;
}

bool inside(Index x, Index y, Index xs, Index ys, Index xe, Index ye) {
  return x >= xs && x <= xe && y >= ys && y <= ye;
}

// Each in-place routine changes exactly the region, by its formula.
TEST(RegionOps, InPlaceRoutinesTouchOnlyTheRegion) {
  struct Case {
    const char* name;
    std::function<void(std::vector<float>&, Status&)> run;
    std::function<float(float)> expect;
  };
  const Index xs = 2, ys = 3, xe = 5, ye = 4;
  const std::vector<Case> cases = {
      {"RVALUE", [&](auto& a, Status& s) { MA_RVALUE(kX, kY, xs, ys, xe, ye, 3.5f, a, s); },
       [](float) { return 3.5f; }},
      {"RCADD", [&](auto& a, Status& s) { MA_RCADD(kX, kY, xs, ys, xe, ye, -2.0f, a, s); },
       [](float v) { return v - 2.0f; }},
      {"RCMULT", [&](auto& a, Status& s) { MA_RCMULT(kX, kY, xs, ys, xe, ye, 0.5f, a, s); },
       [](float v) { return v * 0.5f; }},
      {"LOGARITHM", [&](auto& a, Status& s) { MA_LOGARITHM(kX, kY, xs, ys, xe, ye, a, s); },
       [](float v) { return std::log10(v); }},
      {"THRESHOLD",
       [&](auto& a, Status& s) {
         MA_THRESHOLD(kX, kY, xs, ys, xe, ye, true, true, 33.0f, 43.0f, a, s);
       },
       [](float v) { return std::min(std::max(v, 33.0f), 43.0f); }},
      {"POWER 3",
       [&](auto& a, Status& s) {
         int rc = -1;
         MA_POWER(kX, kY, xs, ys, xe, ye, 3.0f, a, rc, s);
         if (s == ST_GOOD()) {
           EXPECT_EQ(rc, 0);
         }
       },
       [](float v) { return static_cast<float>(std::pow(double{v}, 3.0)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<float> before = ramp();
    std::vector<float> a = before;
    Status status = ST_GOOD();
    c.run(a, status);
    EXPECT_EQ(status, ST_GOOD());
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) {
        const float was = before[element(x, y, kX)];
        EXPECT_FLOAT_EQ(a[element(x, y, kX)], inside(x, y, xs, ys, xe, ye) ? c.expect(was) : was)
            << x << "," << y;
      }
    // Entered with a bad status: nothing changes, the status stays.
    std::vector<float> b = before;
    Status bad = 20005;
    c.run(b, bad);
    EXPECT_EQ(bad, 20005);
    EXPECT_EQ(b, before);
  }
}

TEST(RegionOps, TwoArrayRoutinesUseTheirOwnDeclaredWidths) {
  // ARRAY1 is 7 wide, ARRAY2 9 wide: the same region lies at different offsets.
  const std::vector<float> a1 = ramp();
  const Index x2 = 9;
  std::vector<float> base(x2 * kY);
  for (std::size_t i = 0; i < base.size(); ++i) base[i] = 100.0f + static_cast<float>(i);
  struct Case {
    const char* name;
    void (*run)(Index, Index, Index, Index, Index, Index, std::span<const float>, Index, Index,
                std::span<float>, Status&);
    float (*expect)(float b, float a);
  };
  const Case cases[] = {
      {"RADD", MA_RADD, [](float b, float a) { return b + a; }},
      {"RSUBTRACT", MA_RSUBTRACT, [](float b, float a) { return b - a; }},
      {"RMULTIPLY", MA_RMULTIPLY, [](float b, float a) { return b * a; }},
      {"RDIVIDE", MA_RDIVIDE, [](float b, float a) { return b / a; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> a2 = base;
    Status status = ST_GOOD();
    c.run(kX, kY, 1, 2, 6, 5, a1, x2, kY, a2, status);
    EXPECT_EQ(status, ST_GOOD());
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= x2; ++x) {
        const float was = base[element(x, y, x2)];
        const float want = inside(x, y, 1, 2, 6, 5) ? c.expect(was, a1[element(x, y, kX)]) : was;
        EXPECT_FLOAT_EQ(a2[element(x, y, x2)], want);
      }
  }
}

TEST(RegionOps, DivisionByZeroStillDividesEverythingElse) {
  std::vector<float> divisor = {2.0f, 0.0f, 4.0f, 5.0f};
  std::vector<float> a = {8.0f, 9.0f, 8.0f, 10.0f};
  Status status = ST_GOOD();
  MA_RDIVIDE(2, 2, 1, 1, 2, 2, divisor, 2, 2, a, status);
  EXPECT_EQ(status, 21003);
  EXPECT_EQ(a, (std::vector<float>{4.0f, kDivideByZero, 2.0f, 2.0f}));
  EXPECT_NE(kDivideByZero, kVerySmall);
  // Sign set, exponent 2^126, every mantissa bit set.
  EXPECT_EQ(std::bit_cast<std::uint32_t>(kDivideByZero), 0xFEFFFFFFu);
}

TEST(RegionOps, LogarithmAndPowerSpecialCases) {
  std::vector<float> a = {1.0e-37f, 1.0f, -3.0f, 1000.0f};
  Status status = ST_GOOD();
  MA_LOGARITHM(4, 1, 1, 1, 4, 1, a, status);
  EXPECT_EQ(status, 21004);
  EXPECT_EQ(a, (std::vector<float>{-38.0f, 0.0f, -38.0f, 3.0f}));

  // Every 4099th float above the limit (whatever the vector width takes),
  // infinity and NaN: within one unit in the last place of log10 in double.
  std::vector<float> in;
  for (std::uint32_t b = std::bit_cast<std::uint32_t>(1.0e-37f) + 1; b < 0x7f800000u; b += 4099)
    in.push_back(std::bit_cast<float>(b));
  in.push_back(std::numeric_limits<float>::infinity());
  in.push_back(std::numeric_limits<float>::quiet_NaN());
  std::vector<float> out = in;
  EXPECT_FALSE(ma_log10_row(out.data(), std::ssize(out)));
  for (std::size_t k = 0; k + 2 < in.size(); ++k) {
    const auto exact = static_cast<float>(std::log10(double{in[k]}));
    const auto ulps = std::bit_cast<std::int32_t>(out[k]) - std::bit_cast<std::int32_t>(exact);
    ASSERT_LE(std::abs(ulps), exact == 0.0f ? 0 : 1) << in[k];
  }
  EXPECT_EQ(out[in.size() - 2], std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(out.back()));
  // A NaN beside a zero: only the zero is the special case.
  std::vector<float> b = {std::numeric_limits<float>::quiet_NaN(), 0.0f,
                          -std::numeric_limits<float>::infinity()};
  status = ST_GOOD();
  MA_LOGARITHM(3, 1, 1, 1, 3, 1, b, status);
  EXPECT_EQ(status, 21004);
  EXPECT_TRUE(std::isnan(b[0]));
  EXPECT_EQ(b[1], -38.0f);
  EXPECT_EQ(b[2], -38.0f);
  std::vector<float> c = {std::numeric_limits<float>::quiet_NaN(), 100.0f};
  status = ST_GOOD();
  MA_LOGARITHM(2, 1, 1, 1, 2, 1, c, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_TRUE(std::isnan(c[0]));
  EXPECT_EQ(c[1], 2.0f);

  struct Case {
    float power;
    float in;
    float out;
    int code;
  };
  const Case cases[] = {{1.0f, -7.0f, -7.0f, 0}, {2.0f, -3.0f, 9.0f, 0},
                        {0.5f, -4.0f, 0.0f, 1},  {0.5f, 16.0f, 4.0f, 0},
                        {0.0f, 0.0f, 1.0f, 0},   {-1.0f, 0.0f, kVeryLarge, 2},
                        {-1.0f, 4.0f, 0.25f, 0}, {1.5f, 4.0f, 8.0f, 0},
                        // Nothing outside the finite floats enters the data.
                        {1.5f, -4.0f, 0.0f, 1},  {3.0f, -2.0f, -8.0f, 0},
                        {-2.5f, 0.0f, kVeryLarge, 2},    {-2.0f, -0.0f, kVeryLarge, 2},
                        {2.0f, 1.0e20f, kVeryLarge, 2},  {3.0f, -1.0e20f, -kVeryLarge, 2},
                        {-1.0f, 1.0e-45f, kVeryLarge, 2}};
  for (const Case& c : cases) {
    std::vector<float> v = {c.in};
    int code = -1;
    Status s = ST_GOOD();
    MA_POWER(1, 1, 1, 1, 1, 1, c.power, v, code, s);
    EXPECT_EQ(s, ST_GOOD());
    EXPECT_FLOAT_EQ(v[0], c.out) << c.power << " of " << c.in;
    EXPECT_EQ(code, c.code) << c.power << " of " << c.in;
  }
  // Both kinds in one region give both codes.
  std::vector<float> both = {-1.0f, 0.0f};
  int code = 0;
  status = ST_GOOD();
  MA_POWER(2, 1, 1, 1, 2, 1, -0.5f, both, code, status);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(both, (std::vector<float>{0.0f, kVeryLarge}));
}

TEST(RegionOps, PowerOfANonValueIsTheIeeeResult) {
  // A NaN or infinite element is no division by zero and no overflow: it
  // keeps the IEEE result beside a finite element that is still clipped, and
  // -inf under a root is a negative element like any other.
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float power;
    std::vector<float> out;  // of {NaN, +inf, -inf, 4.0, 1.0e20}
    int code;
  };
  const Case cases[] = {{0.5f, {nan, kInf, 0.0f, 2.0f, 1.0e10f}, 1},
                        {-1.0f, {nan, 0.0f, -0.0f, 0.25f, 1.0e-20f}, 0},
                        {1.5f, {nan, kInf, 0.0f, 8.0f, 1.0e30f}, 1},
                        {2.0f, {nan, kInf, kInf, 16.0f, kVeryLarge}, 2},
                        {3.0f, {nan, kInf, -kInf, 64.0f, kVeryLarge}, 2},
                        {0.0f, {1.0f, 1.0f, 1.0f, 1.0f, 1.0f}, 0}};
  for (const Case& c : cases) {
    std::vector<float> v = {nan, kInf, -kInf, 4.0f, 1.0e20f};
    int code = -1;
    Status s = ST_GOOD();
    MA_POWER(5, 1, 1, 1, 5, 1, c.power, v, code, s);
    EXPECT_EQ(s, ST_GOOD());
    EXPECT_EQ(code, c.code) << c.power;
    EXPECT_TRUE(std::isnan(v[0]) == std::isnan(c.out[0])) << c.power << ": " << v[0];
    for (std::size_t k = 1; k < v.size(); ++k)
      EXPECT_FLOAT_EQ(v[k], c.out[k]) << c.power << ", element " << k;
  }
}

TEST(RegionOps, MoveToATarget) {
  // A 10 x 10 region to X target 91 of a 100-wide output just fits (95 does
  // not: see the argument checks); the block may also move within one array.
  std::vector<float> big(100 * 100, 1.0f);
  std::vector<float> wide(100 * 10, 0.0f);
  Status status = ST_GOOD();
  MA_RMOVE(100, 100, big, 1, 1, 10, 10, 100, 10, 91, 1, wide, status);
  EXPECT_EQ(wide[element(91, 1, 100)], 1.0f);
  EXPECT_EQ(wide[element(100, 10, 100)], 1.0f);
  EXPECT_EQ(wide[element(90, 10, 100)], 0.0f);
  std::vector<float> same = ramp();
  MA_RMOVE(kX, kY, same, 1, 1, 3, 2, kX, kY, 2, 1, same, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(same[element(2, 1, kX)], ramp()[element(1, 1, kX)]);
  EXPECT_EQ(same[element(4, 2, kX)], ramp()[element(3, 2, kX)]);

  // Overlapping moves within one array, up and down, forwards and backwards:
  // every moved element holds what its source held before the move.
  struct Shift {
    Index xt, yt;
  };
  for (const Shift t : {Shift{3, 3}, Shift{1, 1}, Shift{2, 2}, Shift{4, 1}}) {
    std::vector<float> a = ramp();
    MA_RMOVE(kX, kY, a, 2, 2, 5, 4, kX, kY, t.xt, t.yt, a, status);
    ASSERT_EQ(status, ST_GOOD());
    for (Index j = 0; j <= 2; ++j)
      for (Index i = 0; i <= 3; ++i)
        EXPECT_EQ(a[element(t.xt + i, t.yt + j, kX)], ramp()[element(2 + i, 2 + j, kX)])
            << "target " << t.xt << "," << t.yt << " element " << i << "," << j;
  }
}

TEST(RegionOps, ArgumentChecks) {
  struct Case {
    const char* name;
    std::function<void(std::vector<float>&, Status&)> run;
    Status code;
  };
  const std::vector<float> other = ramp();
  const std::vector<Case> cases = {
      {"X size 0", [](auto& a, Status& s) { MA_RCADD(0, kY, 1, 1, 1, 1, 1.0f, a, s); }, 20001},
      {"Y size 0", [](auto& a, Status& s) { MA_RCADD(kX, 0, 1, 1, 1, 1, 1.0f, a, s); }, 20002},
      {"X end beyond", [](auto& a, Status& s) { MA_RCADD(kX, kY, 1, 1, 8, 1, 1.0f, a, s); }, 20005},
      {"Y reversed", [](auto& a, Status& s) { MA_RCADD(kX, kY, 1, 3, 1, 2, 1.0f, a, s); }, 20006},
      {"span short", [](auto& a, Status& s) { MA_RCADD(kX, kY + 1, 1, 1, kX, kY + 1, 1.0f, a, s); },
       20037},
      // The declared sizes promise more than the span holds, even where the
      // region itself would fit.
      {"span short of its declared size",
       [](auto& a, Status& s) { MA_RCADD(kX, kY + 1, 1, 1, 2, 2, 1.0f, a, s); }, 20037},
      {"two-array span short of its declared size",
       [&](auto& a, Status& s) { MA_RADD(kX, kY + 1, 1, 1, 2, 2, other, kX, kY, a, s); }, 20037},
      {"declared sizes whose product overflows",
       [](auto& a, Status& s) {
         const Index huge = Index{1} << 40;
         MA_RCADD(huge, huge, 1, 1, 1, huge, 1.0f, a, s);
       },
       20037},
      {"two-array X start 0",
       [&](auto& a, Status& s) { MA_RADD(kX, kY, 0, 1, 3, 3, other, kX, kY, a, s); }, 20005},
      {"two-array Y start 0",
       [&](auto& a, Status& s) { MA_RSUBTRACT(kX, kY, 1, 0, 3, 3, other, kX, kY, a, s); }, 20006},
      {"two-array second narrower",
       [&](auto& a, Status& s) { MA_RCOPY(kX, kY, other, 1, 1, kX, 1, kX - 1, kY, a, s); }, 20005},
      {"threshold start 0",
       [](auto& a, Status& s) { MA_THRESHOLD(kX, kY, 0, 1, 2, 2, true, false, 0, 0, a, s); },
       20005},
      {"move target X 0",
       [&](auto& a, Status& s) { MA_RMOVE(kX, kY, other, 1, 1, 2, 2, kX, kY, 0, 1, a, s); }, 20009},
      {"move target X beyond",
       [&](auto& a, Status& s) { MA_RMOVE(kX, kY, other, 1, 1, 4, 2, kX, kY, 5, 1, a, s); }, 20009},
      {"move target X at the largest index",
       [&](auto& a, Status& s) {
         MA_RMOVE(kX, kY, other, 1, 1, 4, 2, kX, kY, std::numeric_limits<Index>::max(), 1, a, s);
       },
       20009},
      {"threshold limits crossed",
       [](auto& a, Status& s) { MA_THRESHOLD(kX, kY, 1, 1, 2, 2, true, true, 5, 4, a, s); }, 20013},
      {"move target Y beyond",
       [&](auto& a, Status& s) { MA_RMOVE(kX, kY, other, 1, 1, 2, 2, kX, kY, 1, 5, a, s); }, 20010},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> a = ramp();
    Status status = ST_GOOD();
    c.run(a, status);
    EXPECT_EQ(status, c.code);
    EXPECT_EQ(a, ramp());
  }
}

TEST(RegionOps, ValueReportsABadRegionOnTheTerminal) {
  testing::TerminalCapture capture;
  std::vector<float> a(kX * kY, 0.0f);
  Status status = ST_GOOD();
  MA_RVALUE(kX, kY, 3, 1, 9, 1, 1.0f, a, status);
  EXPECT_EQ(status, 20005);
  EXPECT_EQ(capture.text(), "x_start_element, x_end_element, x_max =        3       9       7\n");
}

}  // namespace
}  // namespace kesta
