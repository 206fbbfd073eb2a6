// End-to-end: the general interfaces of the program started in graphical
// mode on a private X server, driven by a macro of menu choices; the result
// written by the keyboard interface is compared with the arithmetic here.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

using testing::TempDir;

constexpr Index kX = 7, kY = 5;  // odd sizes
constexpr int kWait = 30000;

float input(Index x, Index y) { return static_cast<float>(10 * x + y); }

void write_input(const std::string& path) {
  Status status = kStatusGood;
  std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY);
  for (Index x = 1; x <= kX; ++x) xaxis[x - 1] = static_cast<float>(x) - 0.5f;
  for (Index y = 1; y <= kY; ++y) yaxis[y - 1] = static_cast<float>(y) - 0.5f;
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) data[element(x, y, kX)] = input(x, y);
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  FIO_OUT_KESTA(false, "", kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, {}, "Ramp", "Columns",
                "Rows", "Counts", false, 1.0e-4f, 1.0e-4f, retstat, status);
  ASSERT_EQ(retstat, 0);
}

std::vector<float> read_output(const std::string& path, Index& xnum, Index& ynum) {
  Status status = kStatusGood;
  int retstat = -1;
  std::string name = path;
  bool variances_exist = false;
  std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY), variances(kX * kY);
  std::string title, xlabel, ylabel, zlabel;
  float xps = 0, yps = 0, overload = 0;
  testing::TerminalCapture quiet;
  FIO_IN_KESTA(true, kX, kY, variances_exist, name, retstat, xnum, ynum, xaxis, yaxis, data,
               variances, title, xlabel, ylabel, zlabel, xps, yps, overload, status);
  if (retstat != 0) xnum = ynum = 0;
  return data;
}

struct Running {
  testing::PtyChild child;
  Running(const TempDir& dir, const std::vector<std::string>& args)
      : child([&dir, args] {
          if (chdir(dir.path().c_str()) != 0) return 126;
          setenv("HOME", dir.path().c_str(), 1);
          std::vector<std::string> copies{"kesta"};
          copies.insert(copies.end(), args.begin(), args.end());
          std::vector<char*> argv;
          for (std::string& a : copies) argv.push_back(a.data());
          argv.push_back(nullptr);
          execv(KESTA_PROGRAM, argv.data());
          return 127;
        }) {}
};

// Image processing: MATHS before any data (refused in a warning box), input, the memory loaded by EXCHANGE, scalar and memory
// maths, a scaled subtraction whose steps cancel, a flip; the keyboard
// interface writes the result.
TEST(GeneralMenusProgram, ImageProcessingMathsAndFlip) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  TempDir dir;
  write_input(dir.file("in.kzt"));
  for (const int depth : {24, 8}) {
    testing::PrivateXServer server(depth);
    ASSERT_TRUE(server.ok());
    testing::write_text_file(
        dir.file("ip.mac"),
        "IMAGE PROCESSING (GENERAL)\nMATHS\nINPUT\nin.kzt\nEXCHANGE\nINPUT\nin.kzt\n"
        "MATHS\nSCALAR *\n3\nSUBTRACT\nSCALED SUB\n0.5\nINCREASE 10%\nDECREASE 9%\nO.K.\n"
        "EXIT\nGEOMETRIC\nFLIP\nYES\nNO\nEXIT\nEXIT\nKEYBOARD INTERFACE\nOUTPUT DATA\n"
        "KESTA STANDARD FORMAT\nout.kzt\nEXIT\nEXIT KESTA\nYES\n");
    std::remove(dir.file("out.kzt").c_str());
    Running run(dir, {"-dim7x5", "-macip.mac"});
    ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT)", kWait)) << depth;
    EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
    const std::string out = run.child.output();
    EXPECT_EQ(out.find("not available"), std::string::npos) << out;
    Index xnum = 0, ynum = 0;
    const std::vector<float> data = read_output(dir.file("out.kzt"), xnum, ynum);
    ASSERT_EQ(xnum, kX) << out;
    ASSERT_EQ(ynum, kY);
    // 3 d - d - 0.5 d, mirrored left to right.
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x)
        EXPECT_NEAR(data[element(x, y, kX)], 1.5f * input(kX + 1 - x, y), 1e-4f) << x << y;
  }
}

}  // namespace
}  // namespace kesta
