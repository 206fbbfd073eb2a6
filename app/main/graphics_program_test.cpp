// End-to-end: the program with its graphics window on a private X server,
// driven on a pseudo-terminal; the window is found by its title and read
// back by screenshots.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/device_test_support.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::TempDir;

// Bounded waits, generous for a loaded machine and sanitised builds.
constexpr int kWait = 30000;

// An image file of the program's own format.
void write_image(const std::string& path, Index nx, Index ny, float (*value)(Index, Index)) {
  Status status = kStatusGood;
  std::vector<float> xaxis(nx), yaxis(ny), data(nx * ny), variances(nx * ny);
  for (Index i = 0; i < nx; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < ny; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  for (Index j = 1; j <= ny; ++j)
    for (Index i = 1; i <= nx; ++i) data[element(i, j, nx)] = value(i, j);
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  FIO_OUT_KESTA(false, "", nx, ny, 1, 1, nx, ny, xaxis, yaxis, data, variances, "Test image",
                "X pixels", "Y pixels", "Counts", false, 1e-4f, 1e-4f, retstat, status);
  ASSERT_EQ(retstat, 0);
}

float ramp(Index x, Index) { return static_cast<float>(x); }
float constant(Index, Index) { return 42.0f; }

// The program running in DIR (also its HOME) on a pseudo-terminal.
struct Running {
  testing::PtyChild child;
  Running(const TempDir& dir, const std::vector<std::string>& args)
      : child([&dir, args] {
          if (chdir(dir.path().c_str()) != 0) return 126;
          setenv("HOME", dir.path().c_str(), 1);
          setenv("ASAN_OPTIONS", "allocator_may_return_null=1", 1);
          std::vector<char*> argv;
          std::string name = "kesta";
          argv.push_back(name.data());
          std::vector<std::string> copies(args);
          for (std::string& a : copies) argv.push_back(a.data());
          argv.push_back(nullptr);
          execv(KESTA_PROGRAM, argv.data());
          return 127;
        }) {}
};

int brightness(const std::array<int, 3>& c) { return c[0] + c[1] + c[2]; }

struct GraphicsProgram : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
    write_image(dir.file("ramp.kzt"), 64, 32, ramp);
    write_image(dir.file("flat.kzt"), 64, 32, constant);
    write_image(dir.file("row.kzt"), 64, 1, ramp);
  }
  // Loads FILE and plots it; the screenshot of the window after it.
  testing::Screenshot plot(Running& run, const std::string& file) {
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\n" + file + "\nPLOT DATA\n");
    EXPECT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [Z-SCALE]", kWait));
    return testing::screenshot(testing::find_window("KESTA GRAPHICS WINDOW"), dir.path().string());
  }
  int finish(Running& run) {
    run.child.type("EXIT\nYES\n");
    return run.child.finish(kWait);
  }
};

TEST_F(GraphicsProgram, WindowSizeAndOptions) {
  struct Case {
    int depth;
    std::vector<std::string> args;
    int width, height;
  };
  const Case cases[] = {{24, {"-key", "-dim64x32"}, 500, 707},
                        {24, {"-key", "land", "-dim64x32"}, 707, 500},
                        {8, {"-key", "-col16", "-dim64x32"}, 500, 707}};
  for (const Case& c : cases) {
    testing::PrivateXServer server(c.depth);
    ASSERT_TRUE(server.ok());
    Running run(dir, c.args);
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait)) << c.args[1];
    const testing::Screenshot shot = plot(run, "ramp.kzt");
    EXPECT_EQ(shot.width, c.width) << c.args[1];
    EXPECT_EQ(shot.height, c.height) << c.args[1];
    // The ramp rises from left to right across the middle of the image.
    const int y = c.height == 707 ? 257 : 500 - static_cast<int>(0.39 * 707);
    const int left = brightness(shot.at(c.width * 16 / 100, y));
    const int right = brightness(shot.at(c.width * 84 / 100, y));
    EXPECT_LT(left + 150, right) << c.args[1];
    EXPECT_EQ(finish(run), 0);
  }
}

TEST_F(GraphicsProgram, PlotDataOfAConstantImageAndARow) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, {"-key", "-dim64x32"});
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
  testing::Screenshot shot = plot(run, "flat.kzt");
  ASSERT_GT(shot.width, 0);
  const auto middle = shot.at(250, 257);
  for (const int x : {80, 150, 350, 420})
    EXPECT_TRUE(testing::same_colour(shot.at(x, 257), middle, 0));

  // One row: a graph of the values, the frame drawn in black on white.
  shot = plot(run, "row.kzt");
  int dark = 0;
  for (int y = 50; y < 400; ++y)
    if (brightness(shot.at(250, y)) < 150) ++dark;
  EXPECT_GT(dark, 0);

  // Both commands run and propose their next commands.
  run.child.type("PUBLICATION QUALITY\n");
  EXPECT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PLOT DATA]", kWait));
  run.child.type("END GRAPHICS FILE\n");
  EXPECT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PRINT GRAPHICS]", kWait));
  EXPECT_EQ(finish(run), 0);
}

TEST_F(GraphicsProgram, SavedDisplaySettings) {
  testing::write_text_file(dir.file(".kesta.def"),
                           "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
                           "COLOUR_TABLE\nGREY-SCALE\nZ_SCALING_MODE\n7\nCURVE_STYLE_1\nxyz\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  // With -key and no -dim: the sizes are asked at the terminal, the window
  // stays open.
  Running run(dir, {"-key"});
  ASSERT_TRUE(run.child.wait_for("X DIMENSION FOR ARRAYS", kWait));
  run.child.type("64\n32\nNO\n");
  ASSERT_TRUE(
      run.child.wait_for("WARNING: The saved value of CURVE_STYLE_1 cannot be used", kWait));
  ASSERT_TRUE(
      run.child.wait_for("WARNING: The saved value of Z_SCALING_MODE cannot be used", kWait));
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
  const testing::Screenshot shot = plot(run, "ramp.kzt");
  for (const int x : {80, 250, 420}) {
    const auto c = shot.at(x, 257);
    EXPECT_EQ(c[0], c[1]) << x;
    EXPECT_EQ(c[1], c[2]) << x;
  }
  EXPECT_EQ(finish(run), 0);
}

TEST_F(GraphicsProgram, AMacroDrawsWhatTypedInputDraws) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::Screenshot typed;
  {
    Running run(dir, {"-key", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    typed = plot(run, "ramp.kzt");
    EXPECT_EQ(finish(run), 0);
  }
  testing::write_text_file(dir.file("draw.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nPLOT DATA\n");
  Running run(dir, {"-key", "-dim64x32", "-macdraw.mac"});
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [Z-SCALE]", kWait));
  const testing::Screenshot replayed =
      testing::screenshot(testing::find_window("KESTA GRAPHICS WINDOW"), dir.path().string());
  ASSERT_EQ(replayed.rgb.size(), typed.rgb.size());
  EXPECT_TRUE(replayed.rgb == typed.rgb);
  EXPECT_EQ(finish(run), 0);
}

// Dark runs along row Y between X1 and X2.
int dark_runs(const testing::Screenshot& shot, int y, int x1, int x2) {
  int runs = 0;
  bool in_run = false;
  for (int x = x1; x <= x2; ++x) {
    const bool dark = brightness(shot.at(x, y)) < 300;
    if (dark && !in_run) ++runs;
    in_run = dark;
  }
  return runs;
}

TEST_F(GraphicsProgram, ContourPlotOfARampShowsTenLines) {
  for (const int depth : {24, 8}) {
    testing::PrivateXServer server(depth);
    ASSERT_TRUE(server.ok());
    Running run(dir, {"-key", "-col16", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nCONTOUR PLOT\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PRINT GRAPHICS]", kWait));
    const testing::Screenshot shot =
        testing::screenshot(testing::find_window("KESTA GRAPHICS WINDOW"), dir.path().string());
    // Inside the frame, clear of its ticks: one vertical line per level.
    for (const int y : {230, 280}) EXPECT_EQ(dark_runs(shot, y, 66, 434), 10) << depth << " " << y;
    EXPECT_EQ(finish(run), 0);
  }
}

TEST_F(GraphicsProgram, StyleCommandsChangeTheNextPicture) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  {
    Running run(dir, {"-key", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("COLOUR TABLE\nGREY-SCALE\n4\nSET BACKGROUND STYLE\nYES\nRED\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [IMAGE]", kWait));
    const testing::Screenshot shot = plot(run, "ramp.kzt");
    std::vector<std::array<int, 3>> greys;
    for (int x = 90; x <= 410; ++x) {
      const auto c = shot.at(x, 257);
      EXPECT_TRUE(c[0] == c[1] && c[1] == c[2]) << x;
      if (std::find(greys.begin(), greys.end(), c) == greys.end()) greys.push_back(c);
    }
    EXPECT_EQ(greys.size(), 4u);
    const auto corner = shot.at(3, 3);
    EXPECT_GT(corner[0], 200);
    EXPECT_LT(corner[1] + corner[2], 100);
    EXPECT_EQ(finish(run), 0);
  }
  // The scheme is kept for the next start.
  EXPECT_NE(testing::read_file(dir.file(".kesta.def")).find("\nGREY-SCALE\n"), std::string::npos);
}

TEST_F(GraphicsProgram, WithoutGraphicsStylesAreKeptAndAMacroGoesOn) {
  testing::write_text_file(dir.file("draw.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nCONTOUR PLOT\n"
                           "SET TITLE STYLE\nNO\nCOLOUR TABLE\nTEMPERATURE\n4\nINFORMATION\n"
                           "EXIT\nYES\n");
  const testing::ProgramResult r =
      testing::run_program(dir, "-nogr -dim64x32 -macdraw.mac", "", "");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.output.find("INFO: Program arrays have"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
  EXPECT_NE(testing::read_file(dir.file(".kesta.def")).find("COLOUR_TABLE\nTEMPERATURE\n"),
            std::string::npos);
}

}  // namespace
}  // namespace kesta
