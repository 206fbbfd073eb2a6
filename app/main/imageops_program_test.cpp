// End-to-end: the image operations through the real program's command loop,
// on an image written as a native file; results checked in the transcript
// and in the file the program writes back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

// An environment variable set for the programs a test runs, restored after.
class EnvironmentSetting {
 public:
  EnvironmentSetting(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvironmentSetting() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }
  EnvironmentSetting(const EnvironmentSetting&) = delete;
  EnvironmentSetting& operator=(const EnvironmentSetting&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// An operation whose memory result covers only the active region leaves the
// memory's cells before the region as the arrays were allocated: 0.0, not
// whatever the allocator left there. The allocator's fill is turned on for
// the program (AddressSanitizer's own and the C library's) so that memory
// never written shows.
TEST(ImageOperationsProgram, MemoryResultOfAnOffsetRegionLeavesTheRestZero) {
  constexpr Index kX = 16, kY = 12, kXs = 5, kYs = 4, kXe = 12, kYe = 10;
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string options = std::string(asan != nullptr ? asan : "") +
                              (asan != nullptr && *asan != '\0' ? ":" : "") +
                              "malloc_fill_byte=90:max_malloc_fill_size=16777216";
  const EnvironmentSetting sanitizer("ASAN_OPTIONS", options);
  const EnvironmentSetting library("MALLOC_PERTURB_", "165");
  const struct {
    const char* command;
    const char* answers;
  } kCases[] = {
      {"MEDIAN FILTER", "3\n3\n"},
      {"BLUR", "3\n3\n"},
      {"SMOOTH", "5\n1\n"},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    {
      Status status = kStatusGood;
      std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY);
      for (Index i = 0; i < kX; ++i) xaxis[static_cast<std::size_t>(i)] = i + 0.5f;
      for (Index j = 0; j < kY; ++j) yaxis[static_cast<std::size_t>(j)] = j + 0.5f;
      for (Index k = 0; k < kX * kY; ++k) data[static_cast<std::size_t>(k)] = 1.0f + k % 7;
      testing::TerminalCapture quiet;
      testing::ScriptedInput answer({dir.file("in.kzt")});
      int retstat = -1;
      FIO_OUT_KESTA(false, "", kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, {}, "In", "X", "Y", "Z",
                    false, 1.0e-4f, 1.0e-4f, retstat, status);
      ASSERT_EQ(retstat, 0);
    }
    const testing::ProgramResult result = testing::run_program(
        dir, "-nogr -dim16x12",
        "INPUT DATA\nKESTA STANDARD FORMAT\nin.kzt\nPIXEL REGION\n5\n4\n12\n10\n" +
            std::string(c.command) + "\n" + c.answers +
            "EXCHANGE\nFULL REGION\nOUTPUT DATA\nKESTA STANDARD FORMAT\nout.kzt\nEXIT\nYES\n");
    ASSERT_EQ(result.code, 0) << c.command << "\n" << result.output;
    std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY), variances(kX * kY);
    std::string title, xl, yl, zl, name = dir.file("out.kzt");
    float xps = 0, yps = 0, overload = 0;
    Index xnum = 0, ynum = 0;
    int retstat = -1;
    bool variances_exist = false;
    Status status = kStatusGood;
    FIO_IN_KESTA(true, kX, kY, variances_exist, name, retstat, xnum, ynum, xaxis, yaxis, data,
                 variances, title, xl, yl, zl, xps, yps, overload, status);
    ASSERT_EQ(retstat, 0) << c.command << "\n" << result.output;
    ASSERT_EQ(xnum, kXe) << c.command;
    ASSERT_EQ(ynum, kYe) << c.command;
    for (Index y = 1; y <= kYe; ++y)
      for (Index x = 1; x <= kXe; ++x) {
        const float v = data[static_cast<std::size_t>(element(x, y, kX))];
        if (x < kXs || y < kYs)
          EXPECT_EQ(v, 0.0f) << c.command << " (" << x << ", " << y << ")";
        else
          EXPECT_TRUE(v >= 1.0f && v <= 7.0f) << c.command << " (" << x << ", " << y << ") " << v;
      }
  }
}

// The report of a division by zero names the routine that met it: after a
// LOGARITHM whose log(0) was cleared by its threshold, the library's
// division; with variance arrays, KZT_DIVIDE in the application's module.
TEST(ImageOperationsProgram, DivideByZeroReportNamesTheRoutineThatMetIt) {
  const struct {
    const char* options;
    const char* input;
    const char* report;
  } cases[] = {
      {"-nogr -dim4x4", "CREATE DATA\n4\n4\nSTORE\nLOGARITHM\n-5\nDIVIDE\nYES\nEXIT\nYES\n",
       "STATUS: The error was identified in module:\nMA: Mathematics\n \n"
       "STATUS: Position where error condition was identified\nSubroutine MA_RDIVIDE V0.1\n"},
      {"-nogr -dim4x4 -var", "CREATE DATA\n4\n4\nSTORE\nDIVIDE\nYES\nEXIT\nYES\n",
       "STATUS: The error was identified in module:\nKESTA (KZT): 2-D fitting module\n \n"
       "STATUS: Position where error condition was identified\nSubroutine KZT_DIVIDE V0.1\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const testing::ProgramResult result = testing::run_program(dir, c.options, c.input);
    EXPECT_EQ(result.code, 0) << result.output;
    EXPECT_NE(result.output.find(c.report), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("Divide by zero encountered"), std::string::npos)
        << result.output;
  }
}

}  // namespace
}  // namespace kesta
