// The CALIBRATION sub-menu in the real program: from a loaded image and a
// spline file through the look-up table to the corrected image written out.

#include <gtest/gtest.h>

#include "app/distortion/distortion_test_support.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "formats/kesta_format.hpp"

namespace kesta {
namespace {

using testing::TempDir;

constexpr Index kSize = 16;

class CalibrationProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    testing::TerminalCapture quiet;
    for (Index i = 0; i < kSize; ++i) axis[i] = static_cast<float>(i) + 0.5f;
    for (Index k = 0; k < kSize * kSize; ++k) data[k] = static_cast<float>(k % 23);
    Status status = kStatusGood;
    {
      testing::ScriptedInput answer({dir.file("image.kzt")});
      int retstat = -1;
      FIO_OUT_KESTA(false, "", kSize, kSize, 1, 1, kSize, kSize, axis, axis, data, {}, "Grid",
                    "X", "Y", "Counts", false, 1.0e-4f, 1.0e-4f, retstat, status);
    }
    testing::ScriptedInput answer({dir.file("grid.spline")});
    KZT_OUT_SPATIAL(testing::linear_set(kSize, kSize, 1.0f, 0.0f, 2.0f, 0.0f), kMaxSplineKnots,
                    kMaxSplineKnots, status);
    ASSERT_EQ(status, kStatusGood);
  }
  std::vector<float> axis = std::vector<float>(kSize);
  std::vector<float> data = std::vector<float>(kSize * kSize);
  TempDir dir;
};

TEST_F(CalibrationProgram, LookUpTableRoadToACorrectedFile) {
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim32x32",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nCALIBRATION\n"
      "INPUT SPATIAL FUNCTION\ngrid.spline\n\n\n\n"
      "LOOK-UP TABLE (SPATIAL DISTORTION)\nSTORE LOOK-UP TABLE\ntable.dclt\nNO\n"
      "LOAD LOOK-UP TABLE\n\n\n\nEXIT\nNO\n"
      "CALIBRATION\nINPUT SPATIAL FUNCTION\nnone.spline\n\\\\\nQUIT\nYES\nEXCHANGE\nOUTPUT DATA\nKESTA STANDARD FORMAT\ncorrected.kzt\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("Calibration sub-menu: ENTER COMMAND [FIND PEAKS]:INPUT SPATIAL"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Calibration sub-menu: ENTER COMMAND [FAST CORRECTION]:"),
            std::string::npos);
  EXPECT_EQ(testing::file_contents(dir.file("table.dclt")).size(), 248u + 2u + 255u + 256u);

  std::vector<float> back(32 * 32), xb(32), yb(32), vb;
  Index xnum = 0, ynum = 0;
  bool variances = false;
  std::string name = dir.file("corrected.kzt"), title, xl, yl, zl;
  float xps = 0, yps = 0, overload = 0;
  int retstat = -1;
  Status status = kStatusGood;
  FIO_IN_KESTA(true, 32, 32, variances, name, retstat, xnum, ynum, xb, yb, back, vb, title, xl, yl,
               zl, xps, yps, overload, status);
  ASSERT_EQ(retstat, 0);
  EXPECT_EQ(title, "Grid");
  // Every pixel moved one to the right and two up.
  for (Index y = 3; y <= kSize; ++y)
    for (Index x = 2; x <= kSize; ++x)
      EXPECT_NEAR(back[element(x, y, xnum)], data[element(x - 1, y - 2, kSize)], 1.0e-4f)
          << x << "," << y;
}

TEST_F(CalibrationProgram, EndOfInputInsideTheSubMenuEndsTheProgram) {
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim32x32", "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nCALIBRATION\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("exited by user command"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kesta
