#include "app/imageops/fourier.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

constexpr Index kX = 20;
constexpr Index kY = 18;

// Current data with pseudo-random values and a memory that records what an
// operation wrote.
struct Sets {
  std::vector<float> data = std::vector<float>(kX * kY), mdata = std::vector<float>(kX * kY, -9.0f);
  std::vector<float> xaxis = std::vector<float>(kX), yaxis = std::vector<float>(kY);
  std::vector<float> mxaxis = std::vector<float>(kX), myaxis = std::vector<float>(kY);
  bool defined = false;
  Index mx = 0, my = 0, ms = 0, mys = 0, me = 0, mye = 0;
  std::string title, xlabel, ylabel, zlabel;
  Sets() {
    unsigned seed = 7;
    for (float& v : data) {
      seed = seed * 1103515245u + 12345u;
      v = static_cast<float>((seed >> 16) % 100) - 30.0f;
    }
  }
  KztMemoryOut memory() {
    return {defined, mx,     my,    ms,    mys,    me,     mye,
            mxaxis,  myaxis, mdata, title, xlabel, ylabel, zlabel};
  }
  float in(Index x, Index y) const { return data[element(x, y, kX)]; }
  float out(Index x, Index y) const { return mdata[element(x, y, kX)]; }
};

// Every power-of-two block, including single rows and columns: element
// (u + 1, v + 1) is |F(u, v)|^2 of a direct transform.
TEST(PowerSpectrum, EqualsADirectTransformForEveryFrequency) {
  const struct {
    Index xs, ys, nx, ny;
  } cases[] = {{3, 2, 1, 1}, {3, 2, 1, 8},  {2, 5, 8, 1},   {1, 1, 2, 2},
               {4, 3, 8, 4}, {2, 1, 4, 16}, {3, 2, 16, 16}, {5, 9, 2, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.nx) + "x" + std::to_string(c.ny));
    Sets s;
    Status status = kStatusGood;
    KZT_POWERSPEC(kX, kY, c.xs, c.ys, c.xs + c.nx - 1, c.ys + c.ny - 1, s.xaxis, s.yaxis, s.data,
                  s.memory(), status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_TRUE(s.defined);
    EXPECT_EQ(s.mx, c.nx);
    EXPECT_EQ(s.mye, c.ny);
    EXPECT_EQ(s.title, "Power Spectrum");
    EXPECT_EQ(s.mxaxis[0], 0.5f);
    double total = 0.0;
    for (Index v = 0; v < c.ny; ++v)
      for (Index u = 0; u < c.nx; ++u) {
        double re = 0.0, im = 0.0;
        for (Index y = 0; y < c.ny; ++y)
          for (Index x = 0; x < c.nx; ++x) {
            const double phase =
                2.0 * std::numbers::pi * (double(u * x) / c.nx + double(v * y) / c.ny);
            re += s.in(c.xs + x, c.ys + y) * std::cos(phase);
            im += s.in(c.xs + x, c.ys + y) * std::sin(phase);
          }
        const double expected = re * re + im * im;
        total += expected;
        EXPECT_NEAR(s.out(u + 1, v + 1), expected, 1.0e-4 * (expected + 1.0e4)) << u << "," << v;
      }
    EXPECT_GT(total, 0.0);
  }
}

TEST(PowerSpectrum, SidesNotPowersOfTwoAreWarnedAndLeaveTheMemory) {
  Sets s;
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_POWERSPEC(kX, kY, 1, 1, 16, 12, s.xaxis, s.yaxis, s.data, s.memory(), status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(terminal.text(),
            "WARNING: The number of elements in the ADR in the Y-direction\n"
            "         is not a power of two, which is a requirement of the\n"
            "         Radix-2 FFT\n"
            "INFO: Number of elements in the ADR =         16,         12\n");
  EXPECT_FALSE(s.defined);
  EXPECT_EQ(s.mx, 0);
  EXPECT_EQ(s.mdata, std::vector<float>(kX * kY, -9.0f));
}

// The power spectrum or the autocorrelation of the 16 x 16 region at (3, 2).
Status transform(bool autocorrelation, Sets& s) {
  Status status = kStatusGood;
  (autocorrelation ? KZT_AUTOCORRELATION : KZT_POWERSPEC)(kX, kY, 3, 2, 18, 17, s.xaxis, s.yaxis,
                                                          s.data, s.memory(), status);
  return status;
}

// One NaN would make every output NaN: both transforms refuse the region
// before anything is asked or moved, saying how many elements are the cause.
TEST(PowerSpectrum, ValuesThatAreNotFiniteAreRefusedAndLeaveTheMemory) {
  for (const bool autocorrelation : {false, true}) {
    SCOPED_TRACE(autocorrelation ? "autocorrelation" : "power spectrum");
    Sets s;
    s.data[element(5, 4, kX)] = NAN;
    s.data[element(7, 9, kX)] = -INFINITY;
    s.data[element(19, 18, kX)] = NAN;  // outside the region
    ScriptedInput input({"YES"});
    TerminalCapture terminal;
    EXPECT_EQ(transform(autocorrelation, s), kStatusGood);
    EXPECT_NE(terminal.text().find(
                  "WARNING: 2 elements of the ADR are not finite (NaN or infinite): they would\n"
                  "         make every output of the transform NaN. The memory is unchanged.\n"),
              std::string::npos)
        << terminal.text();
    EXPECT_TRUE(input.prompts.empty());
    EXPECT_FALSE(s.defined);
    EXPECT_EQ(s.mx, 0);
    EXPECT_EQ(s.mdata, std::vector<float>(kX * kY, -9.0f));
  }
}

// A finite region whose result overflows (one element near the float
// maximum squares beyond it): the result is kept, and both transforms say how
// much of it is not finite.
TEST(PowerSpectrum, AResultThatOverflowsIsKeptAndCounted) {
  for (const bool autocorrelation : {false, true}) {
    SCOPED_TRACE(autocorrelation ? "autocorrelation" : "power spectrum");
    Sets s;
    s.data[element(5, 4, kX)] = 3.4e38f;
    ScriptedInput input({"NO"});
    TerminalCapture terminal;
    EXPECT_EQ(transform(autocorrelation, s), kStatusGood);
    EXPECT_TRUE(s.defined);
    Index count = 0;
    for (Index y = 1; y <= 16; ++y)
      for (Index x = 1; x <= 16; ++x) count += std::isfinite(s.out(x, y)) ? 0 : 1;
    EXPECT_EQ(count, 256);
    const std::string what = autocorrelation ? "autocorrelation" : "power spectrum";
    EXPECT_NE(terminal.text().find("WARNING: 256 of the 256 elements of the " + what +
                                   " are not finite\n"
                                   "         (NaN or infinite): the result exceeds the range of "
                                   "real values\n"),
              std::string::npos)
        << terminal.text();
  }
  // Nothing to say of a finite result.
  Sets s;
  TerminalCapture terminal;
  EXPECT_EQ(transform(false, s), kStatusGood);
  EXPECT_EQ(terminal.text(), "");
}

// Cyclic autocorrelation sum over x of f(x) f(x + shift), the zero shift at
// (1, 1) or, centred, at (nx/2 + 1, ny/2 + 1).
TEST(Autocorrelation, EqualsTheCyclicSumCentredOrNot) {
  const struct {
    Index nx, ny;
    const char* centre;
  } cases[] = {{4, 8, "NO"}, {8, 4, "YES"}, {1, 8, "YES"}, {1, 1, "NO"}, {2, 1, "NO"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.nx) + "x" + std::to_string(c.ny) + c.centre);
    kzt_forget_answers();
    Sets s;
    ScriptedInput input({c.centre});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_AUTOCORRELATION(kX, kY, 2, 3, 1 + c.nx, 2 + c.ny, s.xaxis, s.yaxis, s.data, s.memory(),
                        status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(s.title, "Autocorrelation Function");
    const bool centred = std::string(c.centre) == "YES";
    for (Index v = 0; v < c.ny; ++v)
      for (Index u = 0; u < c.nx; ++u) {
        double sum = 0.0;
        for (Index y = 0; y < c.ny; ++y)
          for (Index x = 0; x < c.nx; ++x)
            sum += double{s.in(2 + x, 3 + y)} * s.in(2 + (x + u) % c.nx, 3 + (y + v) % c.ny);
        const Index ox = centred ? (u + c.nx / 2) % c.nx : u;
        const Index oy = centred ? (v + c.ny / 2) % c.ny : v;
        EXPECT_NEAR(s.out(ox + 1, oy + 1), sum, 1.0e-3 * (std::fabs(sum) + 100.0)) << u << "," << v;
      }
  }
}

}  // namespace
