#include "app/imageops/inspection.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/state.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

// A 12 x 10 image with value x + 100 y, axes at the pixel centres.
struct Image {
  static constexpr Index kX = 12, kY = 10;
  std::vector<float> data = std::vector<float>(kX * kY), variances = std::vector<float>(kX * kY),
                     xaxis = std::vector<float>(kX), yaxis = std::vector<float>(kY);
  std::vector<float> mxaxis = std::vector<float>(kX), mdata = std::vector<float>(kX * kY),
                     mvariances = std::vector<float>(kX * kY);
  Image() {
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) {
        data[element(x, y, kX)] = static_cast<float>(x + 100 * y);
        variances[element(x, y, kX)] = 4.0f;
      }
    for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  }
  KztDisplayed shown(bool variances_exist = true) const {
    KztDisplayed d;
    d.xmaxdat = d.xnumdat = kX;
    d.ymaxdat = d.ynumdat = kY;
    d.xendelm = kX;
    d.yendelm = kY;
    d.xaxis = xaxis;
    d.yaxis = yaxis;
    d.data = data;
    d.variances = variances;
    d.variances_exist = variances_exist;
    d.title = "Ramp";
    d.zlabel = "Counts";
    return d;
  }
  KztMemoryProfile memory() {
    KztMemoryProfile m;
    m.mxaxis = mxaxis;
    m.mdata = mdata;
    m.mvariances = mvariances;
    return m;
  }
};

class Inspection : public ::testing::Test {
 protected:
  void SetUp() override {
    kesta::testing::reset_dialogue();
    kzt_forget_answers();
    Status status = kStatusGood;
    GS_DEF_ATTRIBUTES(status);
  }
  void TearDown() override { kesta::testing::reset_dialogue(); }
};

TEST_F(Inspection, PixelLinesAverageInsideBlocksAndGiveDSpacingsAwayFromTheBeam) {
  const Image im;
  KztReadoutGeometry g;
  // Corner pixel (1, 1): the 3*3 block holds 4 pixels, the 5*5 block 9.
  auto lines = kzt_pixel_lines(im.shown(), 0.5f, 0.5f, 0.5f, 0.5f, g);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Data coordinate = ( 0.50000    , 0.50000    )",
                       "Pixel = (    1,    1)", "Pixel intensity =   101.00    ",
                       "Average 3*3 intensity =   151.50    ",
                       "Average 5*5 intensity =   202.00    "}));
  // A click beyond the edge reads the edge pixel.
  lines = kzt_pixel_lines(im.shown(), 12.0f, 2.5f, 12.0f, 2.5f, g);
  EXPECT_EQ(lines[1], "Pixel = (   12,    3)");

  g = {true, 2.0f, 2.0f, 0.1f, 1.0e-10f};
  lines = kzt_pixel_lines(im.shown(), 2.0f, 2.0f, 2.0f, 2.0f, g);
  EXPECT_EQ(lines.size(), 5u);  // at the beam centre
  lines = kzt_pixel_lines(im.shown(), 12.0f, 2.0f, 12.0f, 2.0f, g);
  ASSERT_EQ(lines.size(), 8u);
  // 10 pixels of 0.1 mm at 100 mm: d = 1 A / (2 sin(atan(0.01) / 2)) = 100.0 A.
  EXPECT_EQ(lines[5], "d spacing (order = 1) = 100.00     Angstroms");
  EXPECT_EQ(lines[7], "d spacing (order = 3) = 300.01     Angstroms");
}

TEST_F(Inspection, NumbersTableInIntegerAndExponentForms) {
  Image im;
  auto lines = kzt_numbers_lines(im.shown(), 1.5f, 9.5f, 2, 10);
  ASSERT_EQ(lines.size(), 2u + 21u);
  EXPECT_EQ(lines[1], "      Pixel = (    2,   10)");
  // Rows 15..11 lie above the image: dots; row 10 starts with 3 columns
  // outside on the left.
  std::string dots;
  for (int k = 0; k < 11; ++k) dots += "      .";
  EXPECT_EQ(lines[2], dots);
  EXPECT_EQ(lines[3], " ");
  EXPECT_EQ(lines[12], "      .      .      .      .   1001   1002   1003   1004   1005   1006"
                       "   1007");
  EXPECT_EQ(lines.back(), "      .      .      .      .    501    502    503    504    505"
                          "    506    507");

  // Values spanning less than 1.0: mantissas over exponents.
  for (float& v : im.data) v = 0.5f;
  lines = kzt_numbers_lines(im.shown(), 0.5f, 0.5f, 1, 1);
  ASSERT_EQ(lines.size(), 2u + 22u);
  EXPECT_EQ(lines[2 + 2 * 4],
            "      .      .      .      .      .  5.000  5.000  5.000  5.000  5.000  5.000");
  EXPECT_EQ(lines[3 + 2 * 4],
            "      .      .      .      .      .   E-01   E-01   E-01   E-01   E-01   E-01");
}

TEST_F(Inspection, DistanceInPixelsAndMillimetres) {
  EXPECT_EQ(kzt_distance_lines(1.0f, 1.0f, 4.0f, 5.0f, 1.0e-4f, 2.0e-4f),
            (std::vector<std::string>{
                "INFO: Distance between coordinates =      5.00 pixels",
                "INFO: Distance between coordinates =  0.8544004     millimetres", ""}));
}

TEST_F(Inspection, ProfilesStoreVariancesAndDescriptors) {
  Image im;
  TerminalCapture terminal;
  Status status = kStatusGood;
  KztMemoryProfile m = im.memory();
  kzt_slice_profile(im.shown(), 0.0f, 2.5f, 6.0f, 2.5f, m, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(m.extent.xnumdat, 6);
  EXPECT_EQ(m.extent.ynumdat, 1);
  EXPECT_EQ(m.mtitle, "1-D Slice: Ramp");
  EXPECT_EQ(m.mxlabel, "Pixels");
  EXPECT_EQ(m.mylabel, "Not defined");
  EXPECT_EQ(m.mzlabel, "Counts");
  EXPECT_EQ(std::vector<float>(im.mdata.begin(), im.mdata.begin() + 6),
            (std::vector<float>{301, 302, 303, 304, 305, 306}));
  EXPECT_FLOAT_EQ(im.mvariances[3], 4.0f);  // variances, not their roots

  // An arc and its reverse give reversed profiles; collinear points none.
  const std::array<float, 3> ax{2.0f, 5.0f, 8.0f}, ay{5.0f, 8.0f, 5.0f};
  const std::array<float, 3> rx{8.0f, 5.0f, 2.0f};
  KztMemoryProfile forward = im.memory();
  kzt_arc_profile(im.shown(false), ax, ay, forward, status);
  const std::vector<float> one(im.mdata.begin(), im.mdata.begin() + forward.extent.xnumdat);
  KztMemoryProfile backward = im.memory();
  kzt_arc_profile(im.shown(false), rx, ay, backward, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(forward.extent.xnumdat, backward.extent.xnumdat);
  EXPECT_EQ(backward.mtitle, "Arc Slice: Ramp");
  // Each runs from its own start point (pixels (3, 6) and (9, 6)).
  EXPECT_EQ(one.front(), 603.0f);
  EXPECT_EQ(im.mdata[0], 609.0f);
  KztMemoryProfile none = im.memory();
  const std::array<float, 3> lx{1.0f, 2.0f, 3.0f}, ly{1.0f, 2.0f, 3.0f};
  kzt_arc_profile(im.shown(), lx, ly, none, status);
  EXPECT_FALSE(none.extent.written());
  EXPECT_NE(terminal.text().find("WARNING: Arc centre cannot be calculated"), std::string::npos);

  // A projection of a band of constant rows onto the X direction: each bin
  // holds the row's values, the spread of a constant column is zero.
  for (Index y = 1; y <= Image::kY; ++y)
    for (Index x = 1; x <= Image::kX; ++x) im.data[element(x, y, Image::kX)] = 7.0f;
  KztDisplayed d = im.shown();
  d.x_pixel_size = d.y_pixel_size = 1.0f;
  const std::array<float, 5> xv{0.0f, 12.0f, 12.0f, 0.0f, 0.0f}, yv{3.0f, 3.0f, 6.0f, 6.0f, 3.0f};
  KztMemoryProfile p = im.memory();
  kzt_projection_profile(d, xv, yv, p, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_GE(p.extent.xnumdat, 10);
  EXPECT_EQ(p.mtitle, "1-D Projection: Ramp");
  EXPECT_FLOAT_EQ(im.mdata[4], 7.0f);
  EXPECT_NEAR(im.mvariances[4], 0.0f, 1e-3f);
}

// A projection with nothing to project leaves the memory as it was: a strip
// of no width between two pixel centres, and a scan, which has no strip.
TEST_F(Inspection, ProjectionOfNothingLeavesTheMemory) {
  Image im;
  std::fill(im.mdata.begin(), im.mdata.end(), 5.0f);
  std::fill(im.mxaxis.begin(), im.mxaxis.end(), 3.0f);
  TerminalCapture terminal;
  Status status = kStatusGood;
  KztDisplayed d = im.shown();
  d.x_pixel_size = d.y_pixel_size = 1.0f;
  const std::array<float, 5> xv{0.0f, 12.0f, 12.0f, 0.0f, 0.0f}, yv{3.7f, 3.7f, 3.7f, 3.7f, 3.7f};
  KztMemoryProfile p = im.memory();
  kzt_projection_profile(d, xv, yv, p, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(p.extent.written());
  EXPECT_EQ(std::count(im.mdata.begin(), im.mdata.end(), 5.0f),
            static_cast<std::ptrdiff_t>(im.mdata.size()));
  EXPECT_EQ(std::count(im.mxaxis.begin(), im.mxaxis.end(), 3.0f),
            static_cast<std::ptrdiff_t>(im.mxaxis.size()));
  EXPECT_NE(terminal.text().find("The strip holds no pixel centre: the memory is unchanged"),
            std::string::npos)
      << terminal.text();

  // A one-row data set is refused before the line is asked for.
  UpcallsOverride table(ImageopsUpcalls{});
  d.ynumdat = 1;
  KztMemoryProfile m = im.memory();
  KZT_PROJECTION(d, m, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(m.extent.written());
  EXPECT_NE(terminal.text().find("THE DATA IS 1-D: PROJECTION NEEDS AN IMAGE"), std::string::npos);
  EXPECT_EQ(terminal.text().find("not available yet"), std::string::npos) << terminal.text();
}

// Pixels that are not numbers take no part in a projection: a NaN or an
// infinity in the band leaves every bin the rows' value; a band of NaN
// alone is refused and the memory kept.
TEST_F(Inspection, ProjectionLeavesOutPixelsThatAreNotNumbers) {
  Image im;
  for (Index y = 1; y <= Image::kY; ++y)
    for (Index x = 1; x <= Image::kX; ++x) im.data[element(x, y, Image::kX)] = 7.0f;
  im.data[element(3, 4, Image::kX)] = std::numeric_limits<float>::quiet_NaN();
  im.data[element(8, 5, Image::kX)] = -std::numeric_limits<float>::infinity();
  KztDisplayed d = im.shown();
  d.x_pixel_size = d.y_pixel_size = 1.0f;
  const std::array<float, 5> xv{0.0f, 12.0f, 12.0f, 0.0f, 0.0f}, yv{3.0f, 3.0f, 6.0f, 6.0f, 3.0f};
  TerminalCapture terminal;
  Status status = kStatusGood;
  KztMemoryProfile p = im.memory();
  kzt_projection_profile(d, xv, yv, p, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_GE(p.extent.xnumdat, 10);
  for (Index k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(im.mdata[k], 7.0f) << k;

  for (Index y = 3; y <= 7; ++y)
    for (Index x = 1; x <= Image::kX; ++x)
      im.data[element(x, y, Image::kX)] = std::numeric_limits<float>::quiet_NaN();
  std::fill(im.mdata.begin(), im.mdata.end(), 5.0f);
  KztMemoryProfile none = im.memory();
  kzt_projection_profile(im.shown(), xv, yv, none, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(none.extent.written());
  EXPECT_EQ(std::count(im.mdata.begin(), im.mdata.end(), 5.0f),
            static_cast<std::ptrdiff_t>(im.mdata.size()));
  EXPECT_NE(terminal.text().find("The strip holds no pixel of a finite value: the memory is "
                                 "unchanged"),
            std::string::npos)
      << terminal.text();

  // While a macro replays, the box waits for nothing: the refusal is a line
  // at the terminal all the same.
  kesta::testing::TempDir dir;
  std::string macro = dir.file("replay.mac");
  std::ofstream(macro) << "\n";
  IO_OPEN_INMACRO(false, macro, status);
  TerminalCapture replayed;
  kzt_projection_profile(im.shown(), xv, yv, none, status);
  IO_CLOSE_INMACRO(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(none.extent.written());
  EXPECT_NE(replayed.text().find("WARNING: The strip holds no pixel of a finite value: the memory "
                                 "is unchanged\n"),
            std::string::npos)
      << replayed.text();
}

TEST_F(Inspection, PeepAndDistanceTakeReplayedPointsUntilTheFinishingClick) {
  Image im;
  gs_state.gui_region = GsRect{0.0f, 0.0f, 1.0f, 0.2f};
  {
    // One point, then none (the click in the prompt box).
    ScriptedInput input({"1", "3.5", "4.5", "0"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_PEEP(im.shown(), status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_NE(terminal.text().find("Pixel = (    4,    5)"), std::string::npos);
    EXPECT_NE(terminal.text().find("Pixel intensity =   504.00"), std::string::npos);
  }
  {
    ScriptedInput input({"2", "0.5", "0.5", "3.5", "4.5"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_DISTANCE(im.shown(), status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_NE(terminal.text().find("=      5.00 pixels"), std::string::npos);
  }
  {
    // An escape ends SLICE with nothing stored and a good status.
    ScriptedInput input({"\\\\"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KztMemoryProfile m = im.memory();
    KZT_SLICE(im.shown(), m, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_FALSE(m.extent.written());
  }
  {
    // PROJECTION waits for its line input.
    UpcallsOverride table(ImageopsUpcalls{});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KztMemoryProfile m = im.memory();
    KZT_PROJECTION(im.shown(), m, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_NE(terminal.text().find("not available yet"), std::string::npos);
  }
}


// An arc typed through the command ending a fraction of a pixel from the low
// edges of an image narrower than its arrays is sampled whole, as it is in
// arrays of the image's own size.
TEST(ArcSliceCommand, EndingNearTheLowEdgesInWiderArrays) {
  for (const Index xmax : {Index{53}, Index{106}}) {
    SCOPED_TRACE(xmax);
    constexpr Index kY = 37;
    std::vector<float> data(static_cast<std::size_t>(xmax * kY), 1.0f), variances(data.size()),
        xaxis(static_cast<std::size_t>(xmax)), yaxis(kY), mxaxis(xaxis.size()),
        mdata(data.size()), mvariances(data.size());
    for (Index i = 0; i < xmax; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
    KztDisplayed d;
    d.xmaxdat = xmax;
    d.ymaxdat = d.ynumdat = kY;
    d.xnumdat = d.xendelm = 53;
    d.yendelm = kY;
    d.xaxis = xaxis;
    d.yaxis = yaxis;
    d.data = data;
    d.variances = variances;
    KztMemoryProfile m;
    m.mxaxis = mxaxis;
    m.mdata = mdata;
    m.mvariances = mvariances;
    ScriptedInput input({"3", "0.06", "37.0", "29.8", "20.1", "52.68", "0.28"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    // The profile is stored before it is shown; showing it needs a window,
    // so what follows the store is not looked at here.
    KZT_ARCSLICE(d, m, status);
    const std::string said = terminal.text();
    EXPECT_NE(said.find("INFO: The \"Arc-Slice\" is stored in the memory"), std::string::npos)
        << said;
    EXPECT_EQ(said.find("out of acceptable range"), std::string::npos) << said;
    // Arrays of the image's width hold only their width of the 66 samples.
    EXPECT_EQ(said.find("WARNING: Only the first 53 points") != std::string::npos, xmax == 53);
  }
}

// The displayed data are the image the program holds, not its arrays: an
// arc clicked on a 40 x 30 image read into 64 x 48 arrays ends where it
// passes the image's high X edge, and says so, instead of taking the zeros
// of the arrays beyond it or the edge column's values for points outside.
class ArcSliceOfTheProgramData : public kesta::testing::DataSetFixture {};

TEST_F(ArcSliceOfTheProgramData, EndsAtTheHighEdgeOfTheImage) {
  make(64, 48, true, false);
  KztArrays& a = vosq_kzt_arrays;
  a.xnumdat = 40;
  a.ynumdat = 30;
  region(1, 1, 40, 30);
  // x + 1000 y in the image, 0.0 in the arrays beyond it.
  for (Index y = 1; y <= 48; ++y)
    for (Index x = 1; x <= 64; ++x)
      a.data[element(x, y, 64)] = x <= 40 && y <= 30 ? static_cast<float>(x + 1000 * y) : 0.0f;
  ScriptedInput input({"3", "37.0", "25.39", "39.49", "23.49", "37.0", "4.61"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KztMemoryProfile m = kzt_memory_profile();
  KZT_ARCSLICE(kzt_displayed(sets), m, status);
  const std::string said = terminal.text();
  // Samples 5 and 6 lie 0.08 and 0.70 pixel past the edge: none of the image.
  EXPECT_NE(said.find("WARNING: Only the first 4 points of the arc slice lie inside the image, "
                      "to 3.0000 of 25.155: the arc leaves it through its high X edge"),
            std::string::npos)
      << said;
  ASSERT_EQ(m.extent.xnumdat, 4) << said;
  for (Index i = 0; i < 4; ++i) EXPECT_GT(m.mdata[static_cast<std::size_t>(i)], 0.0f) << i;
  EXPECT_EQ(static_cast<int>(m.mdata[3]) % 1000, 40);  // the last takes column 40
}

// Points that make no circle (two of them one point) have no arc: after an
// earlier profile in the memory, the arc slice says so and nothing else,
// not that the earlier profile is stored.
TEST_F(ArcSliceOfTheProgramData, PointsWithoutACircleAfterAProfileStoreNothing) {
  make(40, 30, true, false);
  KztMemoryProfile m = kzt_memory_profile();
  {
    ScriptedInput input({"2", "5.0", "5.0", "30.0", "20.0"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_SLICE(kzt_displayed(sets), m, status);
    ASSERT_TRUE(m.extent.written()) << terminal.text();
  }
  const std::vector<float> kept(m.mdata.begin(), m.mdata.begin() + m.extent.xnumdat);
  ScriptedInput input({"3", "10.0", "10.0", "10.0", "10.0", "35.0", "20.0"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_ARCSLICE(kzt_displayed(sets), m, status);
  const std::string said = terminal.text();
  EXPECT_NE(said.find("WARNING: Arc centre cannot be calculated"), std::string::npos) << said;
  EXPECT_EQ(said.find("is stored in the memory"), std::string::npos) << said;
  EXPECT_EQ(std::vector<float>(m.mdata.begin(), m.mdata.begin() + m.extent.xnumdat), kept);
}

}  // namespace
