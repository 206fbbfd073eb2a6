// The CALIBRATION sub-menu in the real program: from a loaded image and a
// spline file through the look-up table to the corrected image written out.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/distortion/distortion_test_support.hpp"
#include "app/distortion/grid_test_support.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

using testing::TempDir;

constexpr Index kSize = 16;

// The image of a KESTA file of at most N x N pixels; empty when unread.
std::vector<float> read_back(const std::string& path, Index n) {
  std::vector<float> back(static_cast<std::size_t>(n * n)), xb(n), yb(n), vb;
  Index xnum = 0, ynum = 0;
  bool variances = false;
  std::string name = path, title, xl, yl, zl;
  float xps = 0, yps = 0, overload = 0;
  int retstat = -1;
  Status status = kStatusGood;
  FIO_IN_KESTA(true, n, n, variances, name, retstat, xnum, ynum, xb, yb, back, vb, title, xl, yl,
               zl, xps, yps, overload, status);
  if (retstat != 0) back.clear();
  return back;
}


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

TEST_F(CalibrationProgram, FitNormalisationScalesColumnsToTheLargestMean) {
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim16x16",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\nNORMALISATION\nYES\nEXIT\nEXCHANGE\n"
      "OUTPUT DATA\nKESTA STANDARD FORMAT\nnorm.kzt\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  const std::vector<float> back = read_back(dir.file("norm.kzt"), kSize);
  ASSERT_FALSE(back.empty()) << r.output;
  std::vector<double> means(kSize, 0.0);
  for (Index x = 1; x <= kSize; ++x)
    for (Index y = 1; y <= kSize; ++y) means[x - 1] += data[element(x, y, kSize)] / kSize;
  const double largest = *std::max_element(means.begin(), means.end());
  for (Index x = 1; x <= kSize; ++x) {
    double mean = 0.0;
    for (Index y = 1; y <= kSize; ++y) mean += back[element(x, y, kSize)] / kSize;
    EXPECT_NEAR(mean, largest, 1e-3) << x;
    EXPECT_NEAR(back[element(x, 5, kSize)], data[element(x, 5, kSize)] * largest / means[x - 1],
                1e-3);
  }
}

// The distorted grid scene of the program tests, written as "grid.kzt"; the
// answers that click its holes (6, 6), (7, 6) and (6, 7).
testing::GridScene grid_scene() {
  testing::GridScene s;
  s.distortion = [](float x, float y, float& dx, float& dy) {
    const float u = (x - 64.0f) / 64.0f, v = (y - 64.0f) / 64.0f;
    dx = 1.6f * u * u - 0.5f * v;
    dy = 1.2f * u * v + 0.4f;
  };
  return s;
}

std::string write_grid(const TempDir& dir, const testing::GridScene& s) {
  const std::vector<float> data = s.image();
  std::vector<float> axis(128);
  for (Index i = 0; i < 128; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({dir.file("grid.kzt")});
  int retstat = -1;
  Status status = kStatusGood;
  FIO_OUT_KESTA(false, "", 128, 128, 1, 1, 128, 128, axis, axis, data, {}, "Grid", "X", "Y",
                "Counts", false, 1.0e-4f, 1.0e-4f, retstat, status);
  EXPECT_EQ(retstat, 0);
  std::string clicks;
  for (const auto& [i, j] : {std::pair{6, 6}, std::pair{7, 6}, std::pair{6, 7}}) {
    float x = 0, y = 0;
    s.centre(i, j, x, y);
    clicks += "1\n" + std::to_string(x) + "\n" + std::to_string(y) + "\n";
  }
  return clicks;
}

TEST(GridProgram, FoundFittedAndCorrectedGridLiesOnTheIdealGrid) {
  TempDir dir;
  const testing::GridScene s = grid_scene();
  const std::string clicks = write_grid(dir, s);
  testing::write_text_file(
      dir.file("grid.mac"),
      "INPUT DATA\nKESTA STANDARD FORMAT\ngrid.kzt\nCALIBRATION\nFIND PEAKS\n" + clicks +
          "3\n0.3\n1.5\n9\n200\n1000\nNO\n100\n100\n0\n6\n6\n"
          "FIT GRID PEAKS\n0.05\nSPATIAL CORRECTION\n1e30\n40\nEXIT\nNO\nEXCHANGE\n"
          "OUTPUT DATA\nKESTA STANDARD FORMAT\ncorrected.kzt\n");
  const testing::ProgramResult r =
      testing::run_program(dir, "-nogr -dim128x128 -macgrid.mac", "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("INFO: Number of grid peaks (X/Y) =     12    12"), std::string::npos)
      << r.output;

  const std::vector<float> back = read_back(dir.file("corrected.kzt"), 128);
  ASSERT_FALSE(back.empty()) << r.output;
  // Each inner hole's centroid sits on the ideal grid through hole (6, 6)
  // with steps of 10 pixels.
  float x0 = 0, y0 = 0;
  s.centre(6, 6, x0, y0);
  for (Index j = 2; j <= 11; ++j)
    for (Index i = 2; i <= 11; ++i) {
      const double ix = x0 + 10.0 * static_cast<double>(i - 6);
      const double iy = y0 + 10.0 * static_cast<double>(j - 6);
      double sum = 0, sx = 0, sy = 0;
      for (Index y = static_cast<Index>(iy) - 3; y <= static_cast<Index>(iy) + 5; ++y)
        for (Index x = static_cast<Index>(ix) - 3; x <= static_cast<Index>(ix) + 5; ++x) {
          const double w = std::max(0.0, static_cast<double>(back[element(x, y, 128)]) - 20.0);
          sum += w;
          sx += w * (static_cast<double>(x) - 0.5);
          sy += w * (static_cast<double>(y) - 0.5);
        }
      ASSERT_GT(sum, 0.0) << i << "," << j;
      EXPECT_NEAR(sx / sum, ix, 0.15) << i << "," << j;
      EXPECT_NEAR(sy / sum, iy, 0.15) << i << "," << j;
    }
}

// The same search in the program's window: the image, marks and arrows are
// drawn, the distortion is displayed and the linearisation fit is shown, the
// clicks and answers replayed by the macro.
TEST(GridProgram, FindPeaksAndDisplayInTheWindow) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  TempDir dir;
  const std::string clicks = write_grid(dir, grid_scene());
  testing::write_text_file(dir.file("linear.txt"), "10 20\n100 250\n1000 3000\n10000 40000\n");
  testing::write_text_file(
      dir.file("grid.mac"),
      "INPUT DATA\nKESTA STANDARD FORMAT\ngrid.kzt\nCALIBRATION\nFIND PEAKS\n" + clicks +
          "3\n0.3\n1.5\n9\n200\n1000\nNO\n100\n100\n0\n6\n6\n"
          "DISPLAY DISTORTION\nNO\nLINEARISE INTENSITIES\nlinear.txt\n\n\n\n0\n1\n2\n1\nNO\n"
          "2\nYES\nEXIT\nNO\n");
  const testing::ProgramResult r =
      testing::run_program(dir, "-key -dim128x128 -macgrid.mac", "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("INFO: Number of grid peaks (X/Y) =     12    12"), std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("WARNING"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kesta

