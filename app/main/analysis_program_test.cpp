// End-to-end: synthetic data, linearisation, predictors, histograms, entropy
// and the Fourier operations in the real program, results brought into view
// by EXCHANGE and written by OUTPUT DATA, compared with direct computations.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"

namespace kesta {
namespace {

using testing::TempDir;

constexpr Index kX = 6, kY = 4, kDim = 8;

float input(Index x, Index y) { return static_cast<float>(10 * x + y); }

// DATA(x, y) = 10 x + y as the native file PATH.
void write_input(const std::string& path) {
  Status status;
  ST_DEF_SYSTEM(status);
  std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY), variances(kX * kY);
  for (Index x = 1; x <= kX; ++x) xaxis[x - 1] = static_cast<float>(x) - 0.5f;
  for (Index y = 1; y <= kY; ++y) yaxis[y - 1] = static_cast<float>(y) - 0.5f;
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) data[element(x, y, kX)] = input(x, y);
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  FIO_OUT_KESTA(false, "", kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, variances, "Ramp", "Columns",
                "Rows", "Counts", false, 1.0e-4f, 1.0e-4f, retstat, status);
  EXPECT_EQ(retstat, 0);
}

struct Written {
  Index xnum = 0, ynum = 0;
  std::vector<float> data = std::vector<float>(kDim * kDim);
  std::string title;
};

Written read_output(const std::string& path) {
  Status status = kStatusGood;
  int retstat = -1;
  std::string name = path;
  bool variances_exist = false;
  std::vector<float> xaxis(kDim), yaxis(kDim), variances(kDim * kDim);
  std::string xlabel, ylabel, zlabel;
  float xps = 0, yps = 0, overload = 0;
  Written w;
  FIO_IN_KESTA(true, kDim, kDim, variances_exist, name, retstat, w.xnum, w.ynum, xaxis, yaxis,
               w.data, variances, w.title, xlabel, ylabel, zlabel, xps, yps, overload, status);
  EXPECT_EQ(retstat, 0);
  return w;
}

TEST(AnalysisCommands, ResultsReadBackThroughOutputData) {
  using Expect = std::function<double(Index x, Index y)>;
  // Histogram of 11..64: NINT(64) - NINT(11) = 53 bins proposed, held at 8.
  const auto histogram = [](Index k, Index) {
    int n = 0;
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) {
        const double v = input(x, y);
        if (v < 64.0 && std::floor((v - 11.0) / (53.0 / 8.0)) == static_cast<double>(k - 1)) ++n;
      }
    return static_cast<double>(n);
  };
  const struct {
    const char* commands;
    Index xnum, ynum;
    const char* title;
    Expect value;
  } cases[] = {
      {"CREATE DATA\n5\n\n", 5, kDim, "Simulated Data", [](Index, Index) { return 0.0; }},
      {"FUJI LINEARISATION\n10000\n5\n8\n", kX, kY, "Ramp",
       [](Index x, Index y) { return 40.0 * std::pow(10.0, 5.0 * (input(x, y) / 256.0 - 0.5)); }},
      {"PREDICTOR\n1\nEXCHANGE\n", kX, kY, "Ramp",
       [](Index x, Index y) { return y == 1   ? (x == 1 ? 11.0 : 10.0)
                                     : x == 1 ? 1.0
                                              : 10.0; }},
      {"HISTOGRAM\n\n\n\nEXCHANGE\n", kDim, 1, "Ramp: Frequency Histogram", histogram},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_input(dir.file("in.kzt"));
    const testing::ProgramResult r = testing::run_program(
        dir, "-nogr -dim8x8",
        std::string("INPUT DATA\nKESTA STANDARD FORMAT\nin.kzt\n") + c.commands +
            "OUTPUT DATA\nKESTA STANDARD FORMAT\nout.kzt\nEXIT\nYES\n");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output.find("not available"), std::string::npos) << r.output;
    const Written w = read_output(dir.file("out.kzt"));
    ASSERT_EQ(w.xnum, c.xnum) << c.commands << r.output;
    ASSERT_EQ(w.ynum, c.ynum) << c.commands;
    EXPECT_EQ(w.title, c.title);
    for (Index y = 1; y <= c.ynum; ++y)
      for (Index x = 1; x <= c.xnum; ++x)
        EXPECT_NEAR(w.data[element(x, y, kDim)], c.value(x, y), 1e-4 * (1 + c.value(x, y)))
            << c.commands << " at " << x << "," << y;
  }
}

TEST(AnalysisCommands, FourierWarningsAndEntropyReport) {
  TempDir dir;
  write_input(dir.file("in.kzt"));
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim8x8",
      "INPUT DATA\nKESTA STANDARD FORMAT\nin.kzt\nPOWER SPECTRUM\nAUTOCORRELATION\nENTROPY\n"
      "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  for (const char* part :
       {"WARNING: The number of elements in the ADR in the X-direction\n"
        "         is not a power of two, which is a requirement of the\n",
        "WARNING: The array sizes must be powers of two in size.\n"
        "INFO: Number of elements in the ADR =          6,          4\n",
        "INFO: Entropy of image (bits per pixel) =      4.58496\n", "Huffman code efficiency = "})
    EXPECT_NE(r.output.find(part), std::string::npos) << part << "\n" << r.output;
}

}  // namespace
}  // namespace kesta
