// End-to-end: filters and transforms of the real program on an image read by
// INPUT DATA, their results brought into view by EXCHANGE and written by
// OUTPUT DATA, compared with independent computations.

#include <gtest/gtest.h>

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

constexpr Index kX = 6, kY = 4;

// DATA(x, y) = 10 x + y, written as the native file PATH.
std::vector<float> write_image(const std::string& path) {
  Status status;
  ST_DEF_SYSTEM(status);
  std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY), variances(kX * kY);
  for (Index x = 1; x <= kX; ++x) xaxis[x - 1] = static_cast<float>(x) - 0.5f;
  for (Index y = 1; y <= kY; ++y) yaxis[y - 1] = static_cast<float>(y) - 0.5f;
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) data[element(x, y, kX)] = static_cast<float>(10 * x + y);
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  FIO_OUT_KESTA(false, "", kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, variances, "Spots", "Columns",
                "Rows", "Counts", false, 1.0e-4f, 1.0e-4f, retstat, status);
  EXPECT_EQ(retstat, 0);
  return data;
}

struct Written {
  Index xnum = 0, ynum = 0;
  std::vector<float> data;
};

Written read_image(const std::string& path) {
  Status status = kStatusGood;
  int retstat = -1;
  std::string name = path;
  bool variances_exist = false;
  std::vector<float> xaxis(8), yaxis(8), variances(64), data(64);
  std::string title, xlabel, ylabel, zlabel;
  float xps = 0, yps = 0, overload = 0;
  Written w;
  FIO_IN_KESTA(true, 8, 8, variances_exist, name, retstat, w.xnum, w.ynum, xaxis, yaxis, data,
               variances, title, xlabel, ylabel, zlabel, xps, yps, overload, status);
  EXPECT_EQ(retstat, 0);
  for (Index y = 1; y <= w.ynum; ++y)
    for (Index x = 1; x <= w.xnum; ++x) w.data.push_back(data[element(x, y, 8)]);
  return w;
}

TEST(TransformCommands, ResultsReadBackThroughExchangeAndOutputData) {
  using Expect = std::function<float(Index x, Index y)>;
  const auto in = [](Index x, Index y) { return static_cast<float>(10 * x + y); };
  const struct {
    const char* commands;
    Index xnum, ynum;
    Expect value;
  } cases[] = {
      {"TRANSPOSE\nEXCHANGE\n", kY, kX, [&](Index x, Index y) { return in(y, x); }},
      {"RE-BIN\n2\n2\n1\n1\nEXCHANGE\n", 3, 2,
       [&](Index x, Index y) {
         return in(2 * x - 1, 2 * y - 1) + in(2 * x, 2 * y - 1) + in(2 * x - 1, 2 * y) +
                in(2 * x, 2 * y);
       }},
      {"FLIP\nNO\n", kX, kY, [&](Index x, Index y) { return in(x, kY + 1 - y); }},
      {"SMOOTH\n1\n1\nEXCHANGE\n", kX, kY, in},
      {"MOVE/ROTATE\nYES\n0\n1\n0\n0\n\n\n\n\nEXCHANGE\n", 8, 8,
       [&](Index x, Index y) { return x >= 2 && x <= kX + 1 && y <= kY ? in(x - 1, y) : 0.0f; }},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_image(dir.file("in.kzt"));
    const testing::ProgramResult r = testing::run_program(
        dir, "-nogr -dim8x8",
        std::string("INPUT DATA\nKESTA STANDARD FORMAT\nin.kzt\n") + c.commands +
            "OUTPUT DATA\nKESTA STANDARD FORMAT\nout.kzt\nEXIT\nYES\n");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output.find("not available"), std::string::npos) << r.output;
    const Written w = read_image(dir.file("out.kzt"));
    ASSERT_EQ(w.xnum, c.xnum) << c.commands << r.output;
    ASSERT_EQ(w.ynum, c.ynum) << c.commands;
    for (Index y = 1; y <= c.ynum; ++y)
      for (Index x = 1; x <= c.xnum; ++x)
        EXPECT_NEAR(w.data[element(x, y, c.xnum)], c.value(x, y), 1e-3)
            << c.commands << " at " << x << "," << y;
  }
}

TEST(TransformCommands, TransposeOfATooLargeRegionWarnsAndProposesRoi) {
  TempDir dir;
  write_image(dir.file("in.kzt"));
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim6x4", "INPUT DATA\nKESTA STANDARD FORMAT\nin.kzt\nTRANSPOSE\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.output.find("WARNING: The operation is not possible because the first dimension of\n"
                          "         the work arrays is not large enough to contain the transposed\n"
                          "         Y-limit of the ADR\n"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("[ROI]"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kesta
