// The beam-centre menu and TILT/BEAM CENTRE in the real program with its
// graphics window on a private X server, the clicks typed by an input macro.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/diffraction/ring_test_support.hpp"
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

void write_image(const std::string& path, Index n, const std::vector<float>& data) {
  std::vector<float> axis(static_cast<std::size_t>(n));
  for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  Status status = kStatusGood;
  FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, axis, axis, data, {}, "Calibration", "X pixels",
                "Y pixels", "Counts", false, 1e-4f, 1e-4f, retstat, status);
  ASSERT_EQ(retstat, 0);
}

// The program in DIR (also its HOME) on a pseudo-terminal, replaying MACRO.
struct Running {
  testing::PtyChild child;
  Running(const TempDir& dir, const std::string& dim, const std::string& macro)
      : child([&dir, dim, macro] {
          if (chdir(dir.path().c_str()) != 0) return 126;
          setenv("HOME", dir.path().c_str(), 1);
          std::vector<std::string> args{"kesta", "-key", dim, "-mac" + macro};
          std::vector<char*> argv;
          for (std::string& a : args) argv.push_back(a.data());
          argv.push_back(nullptr);
          execv(KESTA_PROGRAM, argv.data());
          return 127;
        }) {}
};

// The value saved under KEY in the defaults file.
float saved_key(const TempDir& dir, const std::string& key) {
  const std::string text = testing::file_contents(dir.file(".kesta.def"));
  const std::size_t at = text.find("\n" + key + "\n");
  if (at == std::string::npos) return -999.0f;
  return std::strtof(text.c_str() + at + key.size() + 2, nullptr);
}

struct CalibrationWindow : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  }
};

TEST_F(CalibrationWindow, GaussianBeamCentreFromAClick) {
  const Index n = 128;
  std::vector<float> data(static_cast<std::size_t>(n * n));
  for (Index j = 1; j <= n; ++j)
    for (Index i = 1; i <= n; ++i) {
      const double dx = i - 0.5 - 60.3, dy = j - 0.5 - 47.8;
      data[static_cast<std::size_t>((j - 1) * n + i - 1)] =
          static_cast<float>(10.0 + 4000.0 * std::exp(-0.5 * (dx * dx / 9.0 + dy * dy / 5.0)));
    }
  write_image(dir.file("mark.kzt"), n, data);
  testing::write_text_file(dir.file("beam.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nmark.kzt\nGEOMETRY (EXPERIMENT)\n"
                           "2-D GAUSSIAN FIT\n1\n58.0\n50.0\n\n\n\n\n\n\n\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, "-dim128x128", "beam.mac");
  ASSERT_TRUE(run.child.wait_for("INPUT METHOD FOR BEAM CENTRE", kWait));
  ASSERT_TRUE(run.child.wait_for("INFO: Beam/symmetry centre (pixels) = (", kWait))
      << run.child.output();
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait)) << run.child.output();
  run.child.type("EXIT\nYES\n");
  EXPECT_EQ(run.child.finish(kWait), 0);
  EXPECT_NEAR(saved_key(dir, "X_BEAM_CENTRE"), 60.3f, 0.01f);
  EXPECT_NEAR(saved_key(dir, "Y_BEAM_CENTRE"), 47.8f, 0.01f);
}

TEST_F(CalibrationWindow, TiltFromClickedRingsOffersTwoSolutions) {
  testing::RingScene scene;
  scene.xmax = scene.ymax = 512;
  scene.x_centre = 250.3;
  scene.y_centre = 261.7;
  scene.rotation = 0.5;
  scene.tilt = 0.03;
  scene.d_spacings = {8.34e-10, 5.02e-10, 3.36e-10};
  write_image(dir.file("rings.kzt"), 512, testing::ring_image(scene));
  testing::write_text_file(
      dir.file("tilt.mac"),
      "INPUT DATA\nKESTA STANDARD FORMAT\nrings.kzt\nFIT\nTILT/BEAM CENTRE\n"
      "100\n\n\n90\nYES\n4.0\nYES\n"   // distance, pixel sizes, options
      "KEYBOARD\n251.0\n261.0\n"       // the starting centre
      "1\n311.0\n261.0\n1\n321.0\n261.0\n"  // first ring and search limit
      "2\n351.0\n261.0\n401.0\n261.0\n"     // further rings
      "YES\nYES\nNO\n\nEXIT\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, "-dim512x512", "tilt.mac");
  ASSERT_TRUE(run.child.wait_for("INFO: SOLUTION 1", kWait)) << run.child.output();
  ASSERT_TRUE(run.child.wait_for("INFO: SOLUTION 2", kWait));
  ASSERT_TRUE(run.child.wait_for("WHICH SOLUTION", kWait));
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait)) << run.child.output();
  run.child.type("EXIT\nYES\n");
  EXPECT_EQ(run.child.finish(kWait), 0);
  EXPECT_NEAR(saved_key(dir, "X_BEAM_CENTRE"), 250.3f, 0.2f) << run.child.output();
  EXPECT_NEAR(saved_key(dir, "Y_BEAM_CENTRE"), 261.7f, 0.2f);
  EXPECT_NEAR(std::abs(saved_key(dir, "TILT_ANGLE")), 0.03f, 0.002f);
}

}  // namespace
}  // namespace kesta
