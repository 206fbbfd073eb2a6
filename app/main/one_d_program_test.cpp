// End-to-end: 1-D INTERPOLATION through the real program's command loop on a
// row of a native image; the result read back from the file it writes.

#include <gtest/gtest.h>

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

TEST(OneDProgram, InterpolationRescalesTheRowOfTheRegion) {
  TempDir dir;
  {
    Status status = kStatusGood;
    std::vector<float> axis = {0.5f, 1.5f, 2.5f, 3.5f};
    std::vector<float> data(16), variances(16);
    for (int k = 0; k < 16; ++k) data[static_cast<std::size_t>(k)] = static_cast<float>(k + 1);
    testing::TerminalCapture quiet;
    testing::ScriptedInput answer({dir.file("ramp.kzt")});
    int retstat = -1;
    FIO_OUT_KESTA(false, "", 4, 4, 1, 1, 4, 4, axis, axis, data, variances, "Ramp", "X", "Y", "Z",
                  false, 1.0e-4f, 1.0e-4f, retstat, status);
    ASSERT_EQ(status, kStatusGood);
  }
  // The whole image is refused (two or more rows) in one line, before the
  // command's questions; row 2 is rescaled from 1.0 at x = 0.5 to 2.0 at
  // x = 3.5.
  const testing::ProgramResult result = testing::run_program(
      dir, "-nogr -dim4x4",
      "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n1-D INTERPOLATION\n"
      "ROI\n1\n2\n4\n2\n1-D INTERPOLATION\n0.5\n3.5\n2.0\nFULL REGION\n"
      "OUTPUT DATA\nKESTA STANDARD FORMAT\nout.kzt\nEXIT\nYES\n");
  const std::string& out = result.output;
  EXPECT_EQ(result.code, 0) << out;
  EXPECT_EQ(out.find("KZT_1DINTERPOLATE"), std::string::npos) << out;
  EXPECT_EQ(out.find("RESET"), std::string::npos) << out;
  EXPECT_NE(out.find("THE DATA IS NOT 1-D !"), std::string::npos) << out;
  // On a row the command warns before anything else.
  const std::string warning =
      "1-D INTERPOLATION\n"
      "WARNING: This option has been added as a quick fix. In the future it\n"
      "         will be thought out more properly and the user questions and\n"
      "         the action will change.\n";
  const std::size_t first = out.find(warning);
  EXPECT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find(warning, first + 1), std::string::npos) << out;
  EXPECT_NE(out.find("RELATIVE SCALING VALUE AT SCALING COORDINATE"), std::string::npos) << out;
  EXPECT_EQ(out.find("not available"), std::string::npos) << out;

  std::vector<float> xaxis(4), yaxis(4), data(16), variances(16);
  std::string title, xl, yl, zl, name = dir.file("out.kzt");
  float xps = 0, yps = 0, overload = 0;
  Index xnum = 0, ynum = 0;
  int retstat = -1;
  bool variances_exist = false;
  Status status = kStatusGood;
  FIO_IN_KESTA(true, 4, 4, variances_exist, name, retstat, xnum, ynum, xaxis, yaxis, data,
               variances, title, xl, yl, zl, xps, yps, overload, status);
  ASSERT_EQ(retstat, 0) << out;
  const std::vector<float> row(data.begin() + 4, data.begin() + 8);
  EXPECT_FLOAT_EQ(row[0], 5.0f);
  EXPECT_FLOAT_EQ(row[1], 6.0f * (1.0f + 1.0f / 3.0f));
  EXPECT_FLOAT_EQ(row[3], 16.0f);
  EXPECT_EQ(data[0], 1.0f);
  EXPECT_EQ(data[15], 16.0f);
}

}  // namespace
}  // namespace kesta
