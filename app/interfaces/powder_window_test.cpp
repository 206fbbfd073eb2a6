// The powder diffraction interface in the real program, reached from the top
// menu with its graphics window on a private X server, driven by an input
// macro of menu choices and form answers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

using testing::TempDir;

constexpr int kWait = 60000;

struct Running {
  testing::PtyChild child;
  Running(const TempDir& dir, const std::string& macro)
      : child([&dir, macro] {
          if (chdir(dir.path().c_str()) != 0) return 126;
          setenv("HOME", dir.path().c_str(), 1);
          std::vector<std::string> args{"kesta", "-dim200x200", "-mac" + macro};
          std::vector<char*> argv;
          for (std::string& a : args) argv.push_back(a.data());
          argv.push_back(nullptr);
          execv(KESTA_PROGRAM, argv.data());
          return 127;
        }) {}
};

float saved_key(const TempDir& dir, const std::string& key) {
  const std::string text = testing::file_contents(dir.file(".kesta.def"));
  const std::size_t at = text.find("\n" + key + "\n");
  if (at == std::string::npos) return -999.0f;
  return std::strtof(text.c_str() + at + key.size() + 2, nullptr);
}

TEST(PowderWindow, TopMenuToIntegrationAndTheGeometryStoredOnLeaving) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  TempDir dir;
  // A ring at 5 degrees about (100, 100), 100-micron pixels at 100 mm.
  const Index n = 200;
  std::vector<float> axis(n), data(static_cast<std::size_t>(n * n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < n; ++j)
    for (Index i = 0; i < n; ++i) {
      const double r = std::hypot((i + 0.5 - 100.0) * 1e-4, (j + 0.5 - 100.0) * 1e-4);
      const double u = (std::atan(r / 0.1) * 180.0 / 3.14159265358979 - 5.0) / 0.15;
      data[static_cast<std::size_t>(i + j * n)] = static_cast<float>(std::exp(-0.5 * u * u));
    }
  {
    testing::ScriptedInput answer({dir.file("ring.kzt")});
    testing::TerminalCapture quiet;
    int retstat = -1;
    Status s = kStatusGood;
    FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, axis, axis, data, {}, "Ring", "X", "Y", "Z", false,
                  1.0e-4f, 1.0e-4f, retstat, s);
    ASSERT_EQ(retstat, 0);
  }
  // The geometry form takes the distance and the centre; the control form
  // its offered bins; the interface stores the geometry when it is left.
  testing::write_text_file(
      dir.file("pd.mac"),
      "POWDER DIFFRACTION (2-D)\nINPUT\nring.kzt\nO.K.\nINTEGRATE\nDISTANCE\n100\n"
      "X-BEAM CENTRE\n100\nY-BEAM CENTRE\n100\nO.K.\nO.K.\nEXCHANGE\nEXIT\nEXIT KESTA\nYES\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, "pd.mac");
  ASSERT_TRUE(run.child.wait_for("decrease owing to polarisation", kWait)) << run.child.output();
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  EXPECT_NEAR(saved_key(dir, "SAMPLE_DISTANCE"), 0.1f, 1e-6f);
  EXPECT_NEAR(saved_key(dir, "X_BEAM_CENTRE"), 100.0f, 1e-4f);
  EXPECT_NEAR(saved_key(dir, "WAVELENGTH"), 1.54e-10f, 1e-15f);
}

// A wavelength typed in TILT's geometry form is the interface's wavelength
// afterwards, even when the options form that follows is cancelled, and is
// stored when the interface is left.
TEST(PowderWindow, TiltKeepsTheWavelengthOfItsGeometryForm) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  TempDir dir;
  ASSERT_TRUE(
      testing::write_square_image(dir.file("flat.kzt"), 200, std::vector<float>(200 * 200, 1.0f)));
  testing::write_text_file(dir.file("tilt.mac"),
                           "POWDER DIFFRACTION (2-D)\nINPUT\nflat.kzt\nO.K.\nTILT\n"
                           "WAVELENGTH\n0.7\nO.K.\nCANCEL\nEXIT\nEXIT KESTA\nYES\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, "tilt.mac");
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  EXPECT_NEAR(saved_key(dir, "WAVELENGTH"), 0.7e-10f, 1e-16f) << run.child.output();
}

// INTEGRATE with the forms' proposals stores the detector's pixel sizes as
// they were: after an image saved with pixel sizes of 0.0, after a scan
// (whose bin widths are its own) followed by a TIFF, which gives none, and
// after a native image without size items.
TEST(PowderWindow, IntegrationWithTheProposalsKeepsTheStoredPixelSizes) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  for (const char* inputs :
       {"INPUT\nzero.kzt\nO.K.\n", "INPUT\nscan.kzt\nO.K.\nINPUT\nframe.tif\nO.K.\nO.K.\n",
        "INPUT\nsizeless.kzt\nO.K.\n"}) {
    TempDir dir;
    testing::write_detector_defaults(dir);
    ASSERT_TRUE(testing::write_native_image(dir.file("zero.kzt"), 40, 40,
                                            std::vector<float>(1600, 1.0f), 0.0f, 0.0f));
    ASSERT_TRUE(testing::write_native_image(dir.file("scan.kzt"), 5, 1,
                                            std::vector<float>(5, 1.0f), 1.482524e-3f, 1.0e-2f));
    ASSERT_TRUE(testing::write_tiff_image(dir.file("frame.tif"), 40));
    ASSERT_TRUE(testing::write_sizeless_native_image(dir.file("sizeless.kzt"), 40, 40,
                                                     std::vector<float>(1600, 1.0f)));
    testing::write_text_file(dir.file("pd.mac"), std::string("POWDER DIFFRACTION (2-D)\n") +
                                                     inputs +
                                                     "INTEGRATE\nO.K.\nO.K.\nEXIT\nEXIT KESTA\nYES\n");
    const testing::ProgramResult r = testing::run_program(dir, "-dim64x64 -macpd.mac", "");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("INFO: Starting to transform"), std::string::npos) << inputs
                                                                               << r.output;
    EXPECT_FLOAT_EQ(saved_key(dir, "X_PIXEL_SIZE"), 7.5e-5f) << inputs << r.output;
    EXPECT_FLOAT_EQ(saved_key(dir, "Y_PIXEL_SIZE"), 7.5e-5f) << inputs;
  }
}

// A refusal told in the window's warning box is a line at the terminal too:
// replayed by -mac the box waits for nothing, and the transcript still says
// why the macro's next lines met the menu (a summed strip of no width, a
// scan where PROJECTION needs an image).
TEST(PowderWindow, ReplayedRefusalsAreLinesAtTheTerminal) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  TempDir dir;
  ASSERT_TRUE(
      testing::write_square_image(dir.file("flat.kzt"), 40, std::vector<float>(40 * 40, 1.0f)));
  ASSERT_TRUE(testing::write_native_image(dir.file("scan.kzt"), 5, 1, std::vector<float>(5, 1.0f),
                                          1.0e-4f, 1.0e-4f));
  // A line along row 21's centre from the stored beam centre, both extent
  // clicks on it: the strip has no width.
  testing::write_text_file(dir.file(".kesta.def"),
                           "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
                           "X_BEAM_CENTRE\n20.0\nY_BEAM_CENTRE\n20.5\n");
  testing::write_text_file(dir.file("saxs.mac"),
                           "SAXS / GISAXS\nINPUT\nflat.kzt\nPROJECTION\n1\n30\n20.5\n"
                           "2\n25\n20.5\n25\n20.5\nYES\nO.K.\nSUMMATION\nYES\nO.K.\n"
                           "INPUT\nscan.kzt\nPROJECTION\nEXIT\nEXIT KESTA\nYES\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  const testing::ProgramResult r = testing::run_program(dir, "-dim64x64 -macsaxs.mac", "");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("WARNING: The strip has no width to sum over: the memory is unchanged\n"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("WARNING: THE DATA IS 1-D: PROJECTION NEEDS AN IMAGE\n"),
            std::string::npos)
      << r.output;
}

}  // namespace
}  // namespace kesta
