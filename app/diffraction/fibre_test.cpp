// Fibre pattern prediction: the detector position of a reflection, the spot
// lists, and DIFFRACTION PATTERN's PostScript copy rendered by Ghostscript.

#include "app/diffraction/fibre.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/imageops_graphics_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/device_test_support.hpp"

namespace kesta {
namespace {

FibreDetector detector() {
  FibreDetector d;
  d.x_beam_centre = 100.0f;
  d.y_beam_centre = 80.0f;
  d.sample_distance = 0.1f;
  d.wavelength = 1.0f;
  return d;
}

// a* across the fibre along the beam, c* along the fibre.
FibreCell cell() {
  FibreCell c;
  c.a_star = 0.1f;
  c.theta_a = static_cast<float>(M_PI / 2);
  c.b_star = 0.1f;
  c.theta_b = static_cast<float>(M_PI / 2);
  c.phi_b = static_cast<float>(M_PI / 2);
  c.c_star = 0.05f;
  return c;
}

TEST(FibreSpots, OriginOnTheCentreEquatorAtItsAngleAndAxialReflectionsMissed) {
  Status status = kStatusGood;
  for (const bool second : {false, true}) {
    bool found = false;
    float x = 0, y = 0;
    KZT_PEAKXY(detector(), cell(), 0, 0, 0, second, found, x, y, status);
    ASSERT_TRUE(found);
    EXPECT_NEAR(x, 100.0f, 1e-4f);
    EXPECT_NEAR(y, 80.0f, 1e-4f);
  }
  // 100 lies on the equator at 2-theta = 2 asin(0.05): along the film's X
  // axis, the second solution mirrored through the centre.
  const double two_theta = 2.0 * std::asin(0.05);
  const double offset = 0.1 * std::tan(two_theta) / 1.0e-4;
  bool found = false;
  float x = 0, y = 0;
  KZT_PEAKXY(detector(), cell(), 1, 0, 0, false, found, x, y, status);
  ASSERT_TRUE(found);
  EXPECT_NEAR(x, 100.0 + offset, 1e-2);
  EXPECT_NEAR(y, 80.0f, 1e-3f);
  KZT_PEAKXY(detector(), cell(), 1, 0, 0, true, found, x, y, status);
  ASSERT_TRUE(found);
  EXPECT_NEAR(x, 100.0 - offset, 1e-2);
  // 001 lies on the fibre axis (R = 0) with Z not 0: no solution.
  for (const bool second : {false, true}) {
    KZT_PEAKXY(detector(), cell(), 0, 0, 1, second, found, x, y, status);
    EXPECT_FALSE(found);
  }
  EXPECT_EQ(status, kStatusGood);
}

TEST(FibreSpots, EquatorialSpotsAppearInBothListsAndTheWindowLimitsThem) {
  FibreRanges r;
  r.hmin = -1, r.hmax = 1, r.kmin = 0, r.kmax = 0, r.lmin = -1, r.lmax = 1;
  const Index maxspots = kzt_fibre_spot_count(r);
  ASSERT_EQ(maxspots, 18);
  std::vector<float> x(2 * maxspots), y(2 * maxspots);
  Index nspots = 0, nequator = 0;
  Status status = kStatusGood;
  KZT_DIFFRACTION(detector(), cell(), r, -1000.0f, -1000.0f, 1000.0f, 1000.0f, maxspots, nspots,
                  nequator, x, y, status);
  ASSERT_EQ(status, kStatusGood);
  // h = -1, 0, 1 with l = 0: two spots each; 001 and 00-1 none.
  EXPECT_EQ(nequator, 6);
  EXPECT_EQ(nspots, 6 + 8);
  for (Index e = 0; e < nequator; ++e) {
    bool listed = false;
    for (Index k = 0; k < nspots; ++k)
      listed = listed || (x[k] == x[maxspots + e] && y[k] == y[maxspots + e]);
    EXPECT_TRUE(listed) << e;
  }
  // A window round the centre alone keeps 000 twice.
  KZT_DIFFRACTION(detector(), cell(), r, 99.0f, 79.0f, 101.0f, 81.0f, maxspots, nspots, nequator,
                  x, y, status);
  EXPECT_EQ(nspots, 2);
  EXPECT_EQ(nequator, 2);
}

TEST(FibreSpots, SpotCountIsCheckedIn64Bits) {
  FibreRanges r;
  r.hmin = r.kmin = r.lmin = -1000;
  r.hmax = r.kmax = r.lmax = 1000;
  EXPECT_EQ(kzt_fibre_spot_count(r), 2LL * 2001 * 2001 * 2001);
}

struct Pattern : testing::NoWindowGraphics {
  testing::TempDir dir;
  KztDataSets sets;
  void SetUp() override {
    NoWindowGraphics::SetUp();
    kzt_forget_answers();
    io_clear_database();
    Status s = kStatusGood;
    kzt_allocate_arrays(256, 256, false, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    KztArrays& a = vosq_kzt_arrays;
    for (Index i = 0; i < 256; ++i) a.xaxis[i] = a.yaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index k = 0; k < 256 * 256; ++k) a.data[k] = static_cast<float>(k % 251);
    a.xnumdat = a.ynumdat = a.xendelm = a.yendelm = 256;
    a.xstrelm = a.ystrelm = 1;
    sets.data_defined = true;
    sets.title = "Fibre";
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    io_clear_database();
    NoWindowGraphics::TearDown();
  }
};

TEST_F(Pattern, PrintsTheReciprocalAnglesAndWritesAPostScriptCopy) {
  const std::string ps = dir.file("pattern.ps");
  testing::TerminalCapture terminal;
  // The cell and ranges as first offered, an x/y plot, a hardcopy.
  std::vector<std::string> lines(15, "");
  lines.insert(lines.end(), {"NO", "YES", ps});
  testing::ScriptedInput input(lines);
  Status status = kStatusGood;
  KZT_DIFPATTERN(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(input.remaining(), 0u);
  const std::string text = terminal.text();
  EXPECT_NE(text.find("INFO: alpha star = "), std::string::npos);
  EXPECT_NE(text.find("INFO: gamma star = "), std::string::npos);
  EXPECT_NE(text.find("INFO: Finished writing graphics file"), std::string::npos);
  // Finished means whole under its name, with no temporary file beside it:
  // nothing is left to close.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename(), "pattern.ps");
  ASSERT_TRUE(testing::gs_syntax_ok(ps));
  const testing::Rendered page = testing::gs_render(ps);
  ASSERT_TRUE(page.ok);
  Index marked = 0;
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) marked += page.at(x, y) != std::array<int, 3>{255, 255, 255};
  EXPECT_GT(marked, 500);
}

TEST_F(Pattern, AFileOpenForMorePagesTakesThePatternAndStaysOpen) {
  const std::string ps = dir.file("pages.ps");
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  GS_OPEN_PS(ps, status);
  ASSERT_EQ(status, kStatusGood);
  // No file name is asked for: the page goes to the open file.
  std::vector<std::string> lines(15, "");
  lines.insert(lines.end(), {"NO", "YES"});
  testing::ScriptedInput input(lines);
  KZT_DIFPATTERN(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(input.remaining(), 0u);
  bool open = false;
  GS_INQ_PSFILE(open, status);
  EXPECT_TRUE(open);
  // The page is said to be added: the file is not there until it is closed.
  EXPECT_NE(terminal.text().find("INFO: Page 1 added to the graphics file \"" + ps + "\""),
            std::string::npos)
      << terminal.text();
  EXPECT_EQ(terminal.text().find("Finished"), std::string::npos) << terminal.text();
  EXPECT_FALSE(std::filesystem::exists(ps));
  GS_CLOSE_PS(status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(testing::gs_syntax_ok(ps));
}

TEST_F(Pattern, IndexRangesTooLargeAreRefusedWithAMessage) {
  testing::TerminalCapture terminal;
  std::vector<std::string> lines(9, "");
  lines.insert(lines.end(), {"-1000", "1000", "-1000", "1000", "-1000", "1000"});
  testing::ScriptedInput input(lines);
  Status status = kStatusGood;
  KZT_DIFPATTERN(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("too many reflections"), std::string::npos) << terminal.text();
}

}  // namespace
}  // namespace kesta
