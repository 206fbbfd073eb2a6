#include "app/imageops/display_menu.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "app/imageops/imageops_graphics_test_support.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

struct DisplayMenu : kesta::testing::NoWindowGraphics {
  static constexpr Index kX = 8, kY = 6;
  std::vector<float> data = std::vector<float>(kX * kY), xaxis = std::vector<float>(kX),
                     yaxis = std::vector<float>(kY), mxaxis = std::vector<float>(kX),
                     mdata = std::vector<float>(kX * kY);
  kesta::testing::TempDir dir;
  void SetUp() override {
    NoWindowGraphics::SetUp();
    for (Index i = 0; i < kX * kY; ++i) data[i] = static_cast<float>(i);
    for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  }
  KztDisplayed shown(Index ye) const {
    KztDisplayed d;
    d.xmaxdat = d.xnumdat = kX;
    d.ymaxdat = d.ynumdat = kY;
    d.xendelm = kX;
    d.yendelm = ye;
    d.xaxis = xaxis;
    d.yaxis = yaxis;
    d.data = data;
    d.title = "Data";
    return d;
  }
};

TEST_F(DisplayMenu, ContourOfTwoRowsIsAGraphThatTheWaitMenuPrints) {
  const std::string path = dir.file("graph.ps");
  ScriptedInput input({"NUMBERS", "1", "3.5", "0.5", "0", "CONTOUR PLOT", "?", "O.K.", "PRINT",
                       path, "NO", "EXIT", "SLICE", "\\\\", "EXIT"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KztMemoryProfile memory;
  memory.mxaxis = mxaxis;
  memory.mdata = mdata;
  std::string kind;
  KZT_DISPLAY(shown(2), memory, kind, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(kind, "image");  // drawn again after the slice
  EXPECT_NE(terminal.text().find("      Pixel = (    4,    1)"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_GT(std::filesystem::file_size(path), 1000u);
  EXPECT_FALSE(memory.extent.written());
}

TEST_F(DisplayMenu, EndOfInputLeavesBothMenus) {
  for (const std::vector<std::string>& answers :
       {std::vector<std::string>{}, std::vector<std::string>{"CONTOUR PLOT"}}) {
    ScriptedInput input(answers);
    TerminalCapture terminal;
    Status status = kStatusGood;
    KztMemoryProfile memory;
    std::string kind;
    KZT_DISPLAY(shown(kY), memory, kind, status);
    EXPECT_NE(status, kStatusGood);  // the escape of the ended input
  }
}

// Data without a finite value: each drawing says so in one line, before
// anything else, and draws nothing; no wait menu waits under an empty
// frame (the EXIT reaches the display menu), and the image is not drawn
// again to repeat its own line.
TEST_F(DisplayMenu, DataWithoutAFiniteValueAreSaidOnceAndNothingIsDrawn) {
  std::fill(data.begin(), data.end(), std::numeric_limits<float>::quiet_NaN());
  for (const Index rows : {Index{2}, Index{3}, kY}) {
    ScriptedInput input({"CONTOUR PLOT", "3-D LINES", "3-D SURFACE", "EXIT"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KztMemoryProfile memory;
    std::string kind;
    KZT_DISPLAY(shown(rows), memory, kind, status);
    EXPECT_EQ(status, kStatusGood) << rows;
    EXPECT_EQ(input.remaining(), 0u) << rows;
    std::string said;
    std::istringstream lines(terminal.text());
    for (std::string line; std::getline(lines, line);)
      if (line.find("WARNING") != std::string::npos) said += line + "\n";
    const std::string w = "WARNING: No finite data value in the region to ";
    EXPECT_EQ(said, w + (rows == 2 ? "plot\n" : "contour\n") + w + "draw\n" + w +
                        "draw as a 3-D surface\n")
        << rows << terminal.text();
  }
  // Values in the second of two rows only: the region has some, the graph
  // of its first row none, which is what is said.
  std::fill(data.begin() + kX, data.begin() + 2 * kX, 1.0f);
  ScriptedInput input({"CONTOUR PLOT", "3-D SURFACE", "EXIT"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KztMemoryProfile memory;
  std::string kind;
  KZT_DISPLAY(shown(2), memory, kind, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  std::string said;
  std::istringstream lines(terminal.text());
  for (std::string line; std::getline(lines, line);)
    if (line.find("WARNING") != std::string::npos) said += line + "\n";
  EXPECT_EQ(said, "WARNING: No finite data value in row 1 to plot\n"
                  "WARNING: No finite data value in row 1 to plot\n")
      << terminal.text();
}

// Bad pixels in a checkerboard: no cell of a contour map or a surface, no
// piece of a 3-D line can be drawn. Each drawing says so in one line, with
// no wait menu or viewer under an empty frame.
TEST_F(DisplayMenu, DataOfWhichNothingCanBeDrawnAreSaidOnce) {
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x)
      if ((x + y) % 2 == 1) data[element(x, y, kX)] = std::numeric_limits<float>::quiet_NaN();
  ScriptedInput input({"CONTOUR PLOT", "3-D LINES", "3-D SURFACE", "EXIT"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KztMemoryProfile memory;
  std::string kind;
  KZT_DISPLAY(shown(kY), memory, kind, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_EQ(kind, "image");
  std::string said;
  std::istringstream lines(terminal.text());
  for (std::string line; std::getline(lines, line);)
    if (line.find("WARNING") != std::string::npos) said += line + "\n";
  const std::string cells =
      "WARNING: Nothing can be drawn: no cell of the region has finite values at its four "
      "corners\n";
  EXPECT_EQ(said, cells +
                      "WARNING: Nothing can be drawn: no row of the region has two neighbouring "
                      "finite values\n" +
                      cells)
      << terminal.text();
}

}  // namespace
