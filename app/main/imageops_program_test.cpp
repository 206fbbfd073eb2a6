// End-to-end: the image operations through the real program's command loop,
// on an image written as a native file; results checked in the transcript
// and in the file the program writes back.

#include <gtest/gtest.h>

#include <algorithm>
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

// A 4 x 4 image holding 1..16 (X fastest), written as PATH.
void write_ramp(const std::string& path) {
  Status status = kStatusGood;
  std::vector<float> axis = {0.5f, 1.5f, 2.5f, 3.5f};
  std::vector<float> data(16), variances(16);
  for (int k = 0; k < 16; ++k) data[static_cast<std::size_t>(k)] = static_cast<float>(k + 1);
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  FIO_OUT_KESTA(false, "", 4, 4, 1, 1, 4, 4, axis, axis, data, variances, "Ramp", "X", "Y", "Z",
                false, 1.0e-4f, 1.0e-4f, retstat, status);
  ASSERT_EQ(status, kStatusGood);
}

TEST(ImageOperationsProgram, StatisticsConstantDivisionAndItsNextDefault) {
  TempDir dir;
  write_ramp(dir.file("ramp.kzt"));
  const testing::ProgramResult result = testing::run_program(
      dir, "-nogr -dim4x4",
      "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nSTATISTICS\nCDIVIDE\n4.0\nCDIVIDE\n0\n"
      "STATISTICS\nROI\n2\n2\n3\n3\nTHRESHOLD\n7\n9\nFULL REGION\n"
      "OUTPUT DATA\nKESTA STANDARD FORMAT\nout.kzt\nEXIT\nYES\n");
  const std::string& out = result.output;
  EXPECT_EQ(result.code, 0) << out;
  for (const char* line :
       {"INFO:  Average (mean) data value =   8.5000", "INFO:  Sum of data values =   136.00",
        "INFO:  Root mean square (RMS) value =   9.6695",
        "INFO:  Standard deviation value =   4.7610", "DIVISION CONSTANT [0.250000]",
        "WARNING: Not possible to divide by zero", "INFO:  Average (mean) data value =   2.1250",
        "X-UPPER LIMIT (Range: 2 to 4) [4]"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_EQ(out.find("not available"), std::string::npos) << out;

  // Divided by 4, then the middle 2 x 2 clipped to 7..9 (ROI leaves the rest).
  std::vector<float> axis(4), data(16), variances(16);
  std::string title, xl, yl, zl, name = dir.file("out.kzt");
  float xps = 0, yps = 0, overload = 0;
  Index xnum = 0, ynum = 0;
  int retstat = -1;
  bool variances_exist = false;
  Status status = kStatusGood;
  std::vector<float> yaxis(4);
  FIO_IN_KESTA(true, 4, 4, variances_exist, name, retstat, xnum, ynum, axis, yaxis, data, variances,
               title, xl, yl, zl, xps, yps, overload, status);
  ASSERT_EQ(retstat, 0);
  std::vector<float> expected(16);
  for (int k = 0; k < 16; ++k) expected[static_cast<std::size_t>(k)] = (k + 1) / 4.0f;
  for (int k : {5, 6, 9, 10})
    expected[static_cast<std::size_t>(k)] =
        std::clamp(expected[static_cast<std::size_t>(k)], 7.0f, 9.0f);
  EXPECT_EQ(data, expected);
}

}  // namespace
}  // namespace kesta
