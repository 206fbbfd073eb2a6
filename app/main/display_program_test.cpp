// End-to-end: the interactive display commands in the program's window on
// a private X server, their menus, clicks and prompts answered by an input
// macro; the printed pages measured by Ghostscript.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

// Drawn area of each page (points; all 0 for a blank page).
std::vector<std::array<int, 4>> page_boxes(const std::string& path) {
  const std::string command =
      "timeout 60 gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox \"" + path + "\" 2>&1";
  std::vector<std::array<int, 4>> boxes;
  std::FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return boxes;
  char line[256];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    std::array<int, 4> b{};
    if (std::sscanf(line, "%%%%BoundingBox: %d %d %d %d", &b[0], &b[1], &b[2], &b[3]) == 4)
      boxes.push_back(b);
  }
  pclose(out);
  return boxes;
}

TEST(DisplayProgram, PeepViewerRotationAndTwoPrintedPagesFromAMacro) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::TempDir dir;
  {
    constexpr Index kX = 64, kY = 32;
    std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY), variances(kX * kY);
    for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 1; i <= kX; ++i) data[element(i, j, kX)] = static_cast<float>(i + 100 * j);
    testing::TerminalCapture quiet;
    testing::ScriptedInput answer({dir.file("ramp.kzt")});
    Status status = kStatusGood;
    int retstat = -1;
    FIO_OUT_KESTA(false, "", kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, variances, "Ramp", "X",
                  "Y", "Counts", false, 1e-4f, 1e-4f, retstat, status);
    ASSERT_EQ(retstat, 0);
  }
  testing::write_text_file(dir.file("view.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nPLOT DATA\n"
                           "PEEP\n1\n10.5\n5.5\n0\n"
                           "PRINT GRAPHICS\npages.ps\n"
                           "3-D SURFACE PLOT\n+ROT.\nSTEEPER\nEXIT\n"
                           "PRINT GRAPHICS\nEND GRAPHICS FILE\n"
                           "ROTATE LUT\n+ 10\nDEFAULT\nEXIT\n"
                           "POSTSCRIPT OPTIONS\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  const testing::ProgramResult run =
      testing::run_program(dir, "-key -dim64x32 -macview.mac", "EXIT\nYES\n");
  EXPECT_EQ(run.code, 0) << run.output;
  for (const char* line :
       {"Data coordinate = (", "Pixel = (   11,    6)", "Pixel intensity =   611.00",
        "Average 3*3 intensity =", "Average 5*5 intensity =",
        "INFO: Page 2 added to the graphics file"})
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  EXPECT_EQ(run.output.find("not available yet"), std::string::npos);
  const auto boxes = page_boxes(dir.file("pages.ps"));
  ASSERT_EQ(boxes.size(), 2u) << run.output;
  for (const auto& b : boxes) EXPECT_GT((b[2] - b[0]) * (b[3] - b[1]), 1000);
}

}  // namespace
}  // namespace kesta
