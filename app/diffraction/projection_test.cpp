// Strip projection onto a line through the beam centre, the strip's corners
// from the clicks, and the meridian modulation.

#include "app/diffraction/projection.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/diffraction/cake.hpp"
#include "app/imageops/conventions.hpp"
#include "core/defaults_db.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

constexpr float kPixel = 1.0e-4f;

// A 20 x 5 image whose value is the column number, projected onto the
// horizontal line through the beam centre (10, 2.5) over the whole height.
struct Strip {
  static constexpr Index kX = 20, kY = 5, kBins = 20;
  std::vector<float> data = std::vector<float>(kX * kY);
  std::vector<std::uint8_t> mask = std::vector<std::uint8_t>(kX * kY, 0);
  std::array<float, 5> xc{0.0f, 20.0f, 20.0f, 0.0f, 0.0f};
  std::array<float, 5> yc{0.0f, 0.0f, 5.0f, 5.0f, 0.0f};
  std::vector<float> axis = std::vector<float>(kBins, -1.0f), scan = axis, vars = axis,
                     weights = axis;
  int scan_type = kScanRadial;
  float tilt_rotation = 0.0f, tilt_angle = 0.0f, bin = kPixel;
  bool correction = false, variances = true, use_mask = false;
  Index maxbins = kBins, nbins = kBins;
  Strip() {
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 1; i <= kX; ++i) data[element(i, j, kX)] = static_cast<float>(i);
  }
  void run(Status& status) {
    KZT_CAL_GISAXS(use_mask, scan_type, 10.0f, 2.5f, 0.1f, 1.0e-10f, tilt_rotation, tilt_angle,
                   correction, kX, kY, 1, 1, kX, kY, data, mask, kPixel, kPixel, xc, yc,
                   variances, bin, maxbins, nbins, axis, scan, vars, weights, status);
  }
};

TEST(CalGisaxs, EachPixelFallsInTheBinOfItsDistanceFromTheCentre) {
  Strip s;
  Status status = kStatusGood;
  s.run(status);
  ASSERT_EQ(status, kStatusGood);
  // Bin c + 1 (c = 10) holds the column just right of the centre, bin c the
  // one just left, each pixel whole; each bin has the five rows.
  for (Index b = 1; b <= Strip::kBins; ++b) {
    SCOPED_TRACE(b);
    EXPECT_FLOAT_EQ(s.scan[b - 1], static_cast<float>(b));
    EXPECT_NEAR(s.weights[b - 1], 5.0f, 1e-4f);
    EXPECT_NEAR(s.axis[b - 1], (static_cast<float>(b) - 10.5f) * 0.1f, 1e-5f);
    EXPECT_NEAR(s.vars[b - 1], 0.0f, 1e-3f);  // the same value in every row
  }
}

TEST(CalGisaxs, TiltAcrossTheLineChangesNothingAndAlongItDoes) {
  Strip flat;
  Status status = kStatusGood;
  flat.run(status);
  Strip across;
  across.tilt_rotation = static_cast<float>(M_PI / 2);
  across.tilt_angle = 0.4f;
  across.run(status);
  Strip along;
  along.tilt_angle = 0.4f;
  along.run(status);
  ASSERT_EQ(status, kStatusGood);
  double moved = 0.0;
  for (Index b = 0; b < Strip::kBins; ++b) {
    EXPECT_NEAR(across.scan[b], flat.scan[b], 1e-4f) << b;
    moved += std::abs(along.scan[b] - flat.scan[b]);
  }
  EXPECT_GT(moved, 0.1);
}

TEST(CalGisaxs, MaskedAndNonFiniteAndUnreachablePixelsAreLeftOut) {
  Strip s;
  s.use_mask = true;
  for (Index j = 1; j <= Strip::kY; ++j) s.mask[element(3, j, Strip::kX)] = 1;
  s.data[element(5, 2, Strip::kX)] = std::numeric_limits<float>::quiet_NaN();
  s.data[element(6, 2, Strip::kX)] = std::numeric_limits<float>::infinity();
  Status status = kStatusGood;
  s.run(status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(s.scan[2], 0.0f);  // no pixel reached it
  EXPECT_EQ(s.weights[2], 0.0f);
  EXPECT_FLOAT_EQ(s.scan[4], 5.0f);
  EXPECT_NEAR(s.weights[4], 4.0f, 1e-4f);
  EXPECT_NEAR(s.weights[5], 4.0f, 1e-4f);
  for (float v : s.scan) EXPECT_TRUE(std::isfinite(v));

  // A d-spacing scan has no bin for the pixels whose span reaches the
  // centre, and ignores the geometrical correction.
  Strip d;
  d.scan_type = kScanD;
  d.bin = 10.0f;
  d.correction = true;
  d.run(status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(d.weights[9], 0.0f);
  EXPECT_EQ(d.weights[10], 0.0f);
  for (float v : d.scan) EXPECT_TRUE(std::isfinite(v));
}

TEST(CalGisaxs, GeometricalCorrectionDividesByCosineCubed) {
  Strip plain, corrected;
  plain.scan_type = corrected.scan_type = kScanTwoTheta;
  plain.bin = corrected.bin = 0.05f;
  corrected.correction = true;
  Status status = kStatusGood;
  plain.run(status);
  corrected.run(status);
  ASSERT_EQ(status, kStatusGood);
  for (Index b = 1; b <= Strip::kBins; ++b) {
    const double c = std::cos(corrected.axis[b - 1] * M_PI / 180.0);
    EXPECT_NEAR(corrected.scan[b - 1], plain.scan[b - 1] / (c * c * c), 1e-3);
  }
}

TEST(CalGisaxs, BadArgumentsAreRefusedAndWriteNothing) {
  struct Case {
    const char* what;
    void (*spoil)(Strip&);
    Status code;
  };
  const Case cases[] = {
      {"no bins allowed", [](Strip& s) { s.maxbins = 0; }, 110001},
      {"more bins than allowed", [](Strip& s) { s.nbins = 21; }, 110001},
      {"unknown scan type", [](Strip& s) { s.scan_type = 4; }, 110017},
      {"zero bin size", [](Strip& s) { s.bin = 0.0f; }, 110003},
      {"non-finite corner", [](Strip& s) { s.xc[2] = std::numeric_limits<float>::infinity(); },
       110003},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Strip s;
    c.spoil(s);
    Status status = kStatusGood;
    s.run(status);
    EXPECT_EQ(status, c.code);
    for (float v : s.scan) EXPECT_EQ(v, -1.0f);
  }
}

TEST(StripCorners, EdgesPassThroughTheExtentClicks) {
  std::array<float, 5> x{}, y{};
  Status status = kStatusGood;
  // A line at 45 degrees; the extent clicks on either side of it.
  kzt_strip_corners(0.0f, 0.0f, 10.0f, 10.0f, 5.0f, 3.0f, 2.0f, 4.0f, x, y, status);
  ASSERT_EQ(status, kStatusGood);
  const std::array<float, 5> ex{1.0f, 11.0f, 9.0f, -1.0f, 1.0f};
  const std::array<float, 5> ey{-1.0f, 9.0f, 11.0f, 1.0f, -1.0f};
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_NEAR(x[k], ex[k], 1e-5f) << k;
    EXPECT_NEAR(y[k], ey[k], 1e-5f) << k;
  }
}

TEST(MeridianModulation, WeightsBySineOfTheAzimuthFromTheMeridian) {
  constexpr Index kN = 5;
  std::vector<float> data(kN * kN, 2.0f);
  // Beam centre on the centre of pixel (3, 3); meridian along +X.
  EXPECT_TRUE(kzt_meridian_modulation(kN, 1, 1, kN, kN, 2.5f, 2.5f, 4.0f, 2.5f, data));
  EXPECT_NEAR(data[element(5, 3, kN)], 0.0f, 1e-6f);  // on the meridian
  EXPECT_NEAR(data[element(1, 3, kN)], 0.0f, 1e-6f);
  EXPECT_NEAR(data[element(3, 5, kN)], 2.0f, 1e-6f);  // perpendicular to it
  EXPECT_NEAR(data[element(4, 4, kN)], 2.0f * std::sqrt(0.5f), 1e-6f);
  EXPECT_EQ(data[element(3, 3, kN)], 2.0f);  // the centre pixel keeps its value

  std::vector<float> untouched(kN * kN, 2.0f);
  EXPECT_FALSE(kzt_meridian_modulation(kN, 1, 1, kN, kN, 2.5f, 2.5f, 2.5f, 2.5f, untouched));
  EXPECT_EQ(untouched, std::vector<float>(kN * kN, 2.0f));
}

// PROJECTION answered by a replaying input macro: the line from the beam
// centre, the strip, the geometry, control and bin-size forms.
struct ProjectionReplay : testing::WidgetFixture {
  testing::TempDir dir;
  KztDataSets sets;
  float distance = 0.1f, wavelength = 1e-10f, xc = 10.0f, yc = 2.5f, rotation = 0, tilt = 0;
  void SetUp() override {
    WidgetFixture::SetUp();
    io_clear_database();
    kzt_forget_answers();
    Status s = kStatusGood;
    kzt_allocate_arrays(20, 5, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    KztArrays& a = vosq_kzt_arrays;
    for (Index i = 1; i <= 20; ++i) a.xaxis[i - 1] = static_cast<float>(i) - 0.5f;
    for (Index j = 1; j <= 5; ++j) a.yaxis[j - 1] = static_cast<float>(j) - 0.5f;
    for (Index j = 1; j <= 5; ++j)
      for (Index i = 1; i <= 20; ++i) a.data[element(i, j, 20)] = static_cast<float>(i);
    a.xnumdat = a.xendelm = 20;
    a.ynumdat = a.yendelm = 5;
    a.xstrelm = a.ystrelm = 1;
    sets.data_defined = true;
    sets.title = "Strip";
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    io_clear_database();
    WidgetFixture::TearDown();
  }
  void replay(const std::string& lines, Status& status) {
    IO_CLOSE_INMACRO(status);  // what an earlier case left unread
    std::string name = dir.file("projection.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    IO_OPEN_INMACRO(false, name, status);
  }
  void run(const std::string& lines, Status& status) {
    replay(lines, status);
    ASSERT_EQ(status, kStatusGood);
    KZT_GUI_PROJECTION(sets, true, distance, wavelength, xc, yc, rotation, tilt, status);
  }
  std::vector<float> memory() const {
    return std::vector<float>(vosq_kzt_arrays.mdata, vosq_kzt_arrays.mdata + 100);
  }
};

TEST_F(ProjectionReplay, ALineOfNoLengthIsSaidAndClickedAgain) {
  const KztArrays& a = vosq_kzt_arrays;
  // From the beam centre: the end clicked on the centre itself; from two
  // clicks: both on one point. Then the line from X 5 to 15.
  const std::string strip = "2\n10.0\n0.0\n10.0\n5.0\nYES\n";
  const struct {
    bool start_given;
    std::string lines;
    const char* said;
  } cases[] = {
      {true, "1\n10.0\n2.5\n1\n15.0\n2.5\n" + strip,
       "The line has no length: click its end away from the beam centre"},
      {false, "2\n4.0\n2.5\n4.0\n2.5\n2\n5.0\n2.5\n15.0\n2.5\n" + strip,
       "The line has no length: click two different points"},
      // Ends a small fraction of a pixel apart (the centre's printed value
      // typed for the end) make no line either.
      {true, "1\n10.00001\n2.5\n1\n15.0\n2.5\n" + strip,
       "The line has no length: click its end away from the beam centre"},
      {false, "2\n4.0\n2.5\n4.3\n2.6\n2\n5.0\n2.5\n15.0\n2.5\n" + strip,
       "The line has no length: click two different points"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    testing::TerminalCapture terminal;
    items.clear();
    Status status = kStatusGood;
    replay(c.lines, status);
    std::array<float, 5> x{}, y{};
    KZT_INP_PROJECTION(true, c.start_given, 10.0f, 2.5f, 20, 5, 1, 1, 20, 5,
                       std::span<const float>(a.xaxis, 20), std::span<const float>(a.yaxis, 5),
                       std::span<const float>(a.data, 100), {}, "Strip", "X", "Y", "Z", x, y,
                       status);
    ASSERT_EQ(status, kStatusGood) << terminal.text();
    EXPECT_EQ(x, (std::array<float, 5>{5.0f, 15.0f, 15.0f, 5.0f, 5.0f}));
    EXPECT_EQ(y, (std::array<float, 5>{0.0f, 0.0f, 5.0f, 5.0f, 0.0f}));
    EXPECT_NE(text(c.said), nullptr);
    EXPECT_EQ(terminal.text().find("PANIC"), std::string::npos) << terminal.text();
  }
}

TEST_F(ProjectionReplay, NothingToProjectLeavesTheMemoryAsItWas) {
  const std::string forms = "DISTANCE\n100\nO.K.\nO.K.\nO.K.\n";
  const struct {
    const char* what;
    std::string lines;
    bool masked;
    const char* said;
  } cases[] = {
      // Both extent clicks on one line between row centres.
      {"no pixel", "1\n15.0\n2.5\n2\n10.0\n1.7\n12.0\n1.7\nYES\n" + forms, false,
       "The strip holds no pixel centre: the memory is unchanged"},
      {"all masked", "1\n15.0\n2.5\n2\n10.0\n0.0\n10.0\n5.0\nYES\n" + forms, true,
       "The strip holds no unmasked pixel: the memory is unchanged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TerminalCapture quiet;
    items.clear();
    sets.memory_defined = false;
    if (c.masked) {
      Status s = kStatusGood;
      kzt_create_mask(sets.mask_exist, s);
      ASSERT_EQ(s, kStatusGood);
      std::fill_n(vosq_kzt_arrays.mask, 100, std::uint8_t{1});
    }
    std::fill_n(vosq_kzt_arrays.mdata, 100, 7.0f);
    const std::vector<float> before = memory();
    Status status = kStatusGood;
    run(c.lines, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_FALSE(sets.memory_defined);
    EXPECT_EQ(memory(), before);
    EXPECT_NE(text(c.said), nullptr);
  }
}

TEST_F(ProjectionReplay, AScanIsRefused) {
  // The current data one row of an earlier projection.
  KztArrays& a = vosq_kzt_arrays;
  a.ynumdat = a.yendelm = 1;
  testing::TerminalCapture quiet;
  std::fill_n(a.mdata, 100, 7.0f);
  const std::vector<float> before = memory();
  Status status = kStatusGood;
  run("1\n15.0\n0.5\n2\n10.0\n0.0\n10.0\n1.0\nYES\nDISTANCE\n100\nO.K.\nO.K.\nO.K.\n",
      status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_EQ(memory(), before);
  EXPECT_NE(text("THE DATA IS 1-D: PROJECTION NEEDS AN IMAGE"), nullptr);
}

TEST_F(ProjectionReplay, ScanOfTheStripBecomesTheMemory) {
  testing::TerminalCapture quiet;
  Status status = kStatusGood;
  // The end of the line 5 pixels right of the centre: the line runs from
  // X 5 to 15; the strip covers the whole height.
  run("1\n15.0\n2.5\n2\n10.0\n0.0\n10.0\n5.0\nYES\n"
      "DISTANCE\n100\nO.K.\n"
      "SCAN TYPE\nRADIAL\nGEOM. CORR.\nNO\nO.K.\nO.K.\n",
      status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(sets.memory_defined);
  ASSERT_EQ(sets.mxendelm, 12);
  EXPECT_EQ(sets.myendelm, 1);
  EXPECT_EQ(sets.mtitle, "Strip: Distance Projection");
  EXPECT_EQ(sets.mxlabel, "Distance (mm)");
  const KztArrays& a = vosq_kzt_arrays;
  // Bin 7 (c + 1) holds column 11, just right of the centre; the strip holds
  // columns 6 to 15 only.
  EXPECT_FLOAT_EQ(a.mdata[6], 11.0f);
  EXPECT_FLOAT_EQ(a.mdata[5], 10.0f);
  EXPECT_EQ(a.mdata[0], 0.0f);
  EXPECT_EQ(a.mdata[11], 0.0f);
  EXPECT_NEAR(a.mxaxis[6], 0.05f, 1e-6f);
  int type = -1, retstat = 0;
  IO_INQ_IKEYVALUE("SCAN_TYPE", type, retstat, status);
  EXPECT_EQ(type, 0);
}

// Both strip limits on the centre of row 3: a strip of no width. Summed, its
// scan would be zeros (the row's mean times no width): that is said and
// nothing is stored; its mean, the row's profile, stands.
TEST_F(ProjectionReplay, AStripOfNoWidthIsSummedOverNothing) {
  const std::string strip = "1\n15.0\n2.5\n2\n10.0\n2.5\n12.0\n2.5\nYES\nDISTANCE\n100\nO.K.\n";
  for (const bool summed : {true, false}) {
    SCOPED_TRACE(summed);
    testing::TerminalCapture quiet;
    items.clear();
    sets.memory_defined = false;
    std::fill_n(vosq_kzt_arrays.mdata, 100, 7.0f);
    const std::vector<float> before = memory();
    Status status = kStatusGood;
    run(strip + "SCAN TYPE\nRADIAL\nSUMMATION\n" + (summed ? "YES" : "NO") +
            "\nGEOM. CORR.\nNO\nO.K.\n" + (summed ? "" : "O.K.\n"),
        status);
    EXPECT_EQ(status, kStatusGood);
    if (summed) {
      EXPECT_FALSE(sets.memory_defined);
      EXPECT_EQ(memory(), before);
      EXPECT_NE(text("The strip has no width to sum over: the memory is unchanged"), nullptr);
    } else {
      ASSERT_TRUE(sets.memory_defined);
      // Row 3 holds its column numbers: bin 7 is column 11.
      EXPECT_FLOAT_EQ(vosq_kzt_arrays.mdata[6], 11.0f);
    }
  }
}

TEST_F(ProjectionReplay, CancelledFormLeavesTheMemoryAsItWas) {
  testing::TerminalCapture quiet;
  const std::vector<float> before(vosq_kzt_arrays.mdata, vosq_kzt_arrays.mdata + 100);
  Status status = kStatusGood;
  run("1\n15.0\n2.5\n2\n10.0\n0.0\n10.0\n5.0\nYES\nCANCEL\n", status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_EQ(std::vector<float>(vosq_kzt_arrays.mdata, vosq_kzt_arrays.mdata + 100), before);
}

}  // namespace
}  // namespace kesta
