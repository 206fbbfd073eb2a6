// The cake: bin counts offered, a tilted ring re-binned into azimuth against
// 2-theta, the menu driven by typed answers, and the inverse-colour outline
// that a second drawing removes.

#include "app/diffraction/cake_menu.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/cake.hpp"
#include "app/diffraction/diffraction_test_support.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/imageops/imageops_graphics_test_support.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "graphics/device/x11_driver.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/drawing.hpp"

namespace kesta {
namespace {

TEST(CakeBins, OneBinPerDegreeAndPerPixelCappedAtTheArrays) {
  CakeLimits l;
  l.start_azimuth = 0.0f;
  l.end_azimuth = 90.0f * kRadiansPerDegree;
  l.inner_limit = 100 * 1e-4f;
  l.outer_limit = 400 * 1e-4f;
  Index radial = 0, azimuthal = 0;
  kzt_cake_bins(l, 1e-4f, 1e-4f, 1000, 1000, radial, azimuthal);
  EXPECT_EQ(azimuthal, 90);
  EXPECT_EQ(radial, 300);
  kzt_cake_bins(l, 1e-4f, 1e-4f, 200, 50, radial, azimuthal);
  EXPECT_EQ(azimuthal, 50);
  EXPECT_EQ(radial, 200);
  // An end at or before the start goes once round.
  l.end_azimuth = -90.0f * kRadiansPerDegree;
  kzt_cake_bins(l, 1e-4f, 1e-4f, 1000, 1000, radial, azimuthal);
  EXPECT_EQ(azimuthal, 270);
}

class CakeTransform : public testing::DataSetFixture {
 protected:
  void TearDown() override {
    io_clear_database();
    DataSetFixture::TearDown();
  }
};

TEST_F(CakeTransform, TiltedRingLiesAtItsTwoThetaInEveryAzimuth) {
  constexpr Index kN = 200;
  make(kN, kN, true, false);
  KztArrays& a = vosq_kzt_arrays;
  PowderSettings g;
  g.x_beam_centre = 100.0f;
  g.y_beam_centre = 103.0f;
  g.sample_distance = 0.05f;
  g.wavelength = 1.0e-10f;
  g.tilt_rotation = 0.5f;
  g.tilt_angle = 0.15f;
  g.correct_polarisation = false;
  const double ring = 8.0 * M_PI / 180.0, width = 0.15 * M_PI / 180.0;
  for (Index j = 1; j <= kN; ++j)
    for (Index i = 1; i <= kN; ++i) {
      const double t = testing::lab_two_theta((i - 0.5 - g.x_beam_centre) * 1e-4,
                                              (j - 0.5 - g.y_beam_centre) * 1e-4, 0.05,
                                              g.tilt_rotation, g.tilt_angle);
      const double u = (t - ring) / width;
      a.data[element(i, j, kN)] = static_cast<float>(std::exp(-0.5 * u * u));
    }
  CakeLimits l;
  l.start_azimuth = 0.0f;
  l.end_azimuth = 6.283185f;
  l.inner_limit = 0.0f;
  l.outer_limit = 0.0095f;
  CakeControl c;
  c.num_2theta = 120;
  c.num_azimuthal = 24;
  c.scan_type = kScanTwoTheta;
  testing::TerminalCapture quiet;
  Status status = kStatusGood;
  kzt_cake_transform(sets, true, g, l, c, 0, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mxendelm, 120);
  EXPECT_EQ(sets.myendelm, 24);
  EXPECT_EQ(sets.mtitle, "CURRENT: Azimuth/2-theta");
  EXPECT_EQ(sets.mxlabel, "2-Theta Angle (Degrees)");
  EXPECT_EQ(sets.mylabel, "Azimuth (Degrees)");
  EXPECT_NEAR(a.myaxis[0], 7.5f, 1e-3f);
  for (Index k = 1; k <= 24; ++k) {
    SCOPED_TRACE(k);
    // The centroid of the row's peak, in degrees of the X axis.
    double sum = 0.0, moment = 0.0;
    for (Index i = 1; i <= 120; ++i) {
      const double v = a.mdata[element(i, k, kN)];
      if (v < 0.2) continue;
      sum += v;
      moment += v * a.mxaxis[i - 1];
    }
    ASSERT_GT(sum, 0.0);
    EXPECT_NEAR(moment / sum, 8.0, 0.03);
  }
}

TEST_F(CakeTransform, BinCountsBeyondTheArraysAreRefused) {
  make(20, 10, true, false);
  const std::vector<float> before(vosq_kzt_arrays.mdata, vosq_kzt_arrays.mdata + 200);
  PowderSettings g;
  CakeLimits l;
  l.outer_limit = 1e-3f;
  CakeControl c;
  c.num_2theta = 21;
  c.num_azimuthal = 5;
  Status status = kStatusGood;
  kzt_cake_transform(sets, true, g, l, c, 0, status);
  EXPECT_EQ(status, 110005);
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_EQ(std::vector<float>(vosq_kzt_arrays.mdata, vosq_kzt_arrays.mdata + 200), before);
}

// The menu without a window: its questions become typed answers.
class CakeMenu : public testing::NoWindowGraphics {
 protected:
  void SetUp() override {
    NoWindowGraphics::SetUp();
    Status status = kStatusGood;
    kzt_allocate_arrays(40, 40, true, false, false, vosq_kzt_arrays, status);
    KztArrays& a = vosq_kzt_arrays;
    for (Index i = 0; i < 40; ++i) a.xaxis[i] = a.yaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index k = 0; k < 1600; ++k) a.data[k] = static_cast<float>(k % 40);
    a.xnumdat = a.ynumdat = a.xendelm = a.yendelm = 40;
    a.xstrelm = a.ystrelm = 1;
    sets.data_defined = true;
    sets.title = "Ring";
    kzt_cake_state() = CakeState{};
    io_clear_database();
  }
  void TearDown() override {
    Status status = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, status);
    vosq_kzt_arrays = KztArrays{};
    kzt_cake_state() = CakeState{};
    io_clear_database();
    NoWindowGraphics::TearDown();
  }
  KztDataSets sets;
  PowderSettings g;
  int lorentz = 1;
  bool mask_data = true, mask_memory = false;
};

TEST_F(CakeMenu, FirstEntryDefinesTheSectorFromClicksAndPromptBoxes) {
  g.x_beam_centre = 20.0f;
  g.y_beam_centre = 20.0f;
  testing::TerminalCapture quiet;
  // Beam centre kept; start azimuth and inner radius from their prompt
  // boxes (no point); the end azimuth clicked straight up; the outer radius
  // 10 pixels out; then EXIT.
  testing::ScriptedInput input({"NO CHANGE", "0", "1", "20.0", "30.0", "0", "1", "30.0", "20.0",
                                "EXIT"});
  Status status = kStatusGood;
  KZT_CAKE(false, sets, g, lorentz, mask_data, mask_memory, status);
  EXPECT_EQ(status, kStatusGood);
  const CakeLimits& l = kzt_cake_state().limits;
  EXPECT_FALSE(l.first);
  EXPECT_EQ(l.start_azimuth, 0.0f);
  EXPECT_NEAR(l.end_azimuth, M_PI / 2, 1e-5);
  EXPECT_EQ(l.inner_limit, 0.0f);
  EXPECT_NEAR(l.outer_limit, 10 * 1e-4f, 1e-7f);
  EXPECT_EQ(input.remaining(), 0u);

  // A second entry keeps the sector; an escape inside a click leaves it.
  testing::ScriptedInput again({"END AZIMUTH", "\\\\", "EXIT"});
  KZT_CAKE(false, sets, g, lorentz, mask_data, mask_memory, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(kzt_cake_state().limits.end_azimuth, M_PI / 2, 1e-5);
}

TEST_F(CakeMenu, EndOfInputAtTheFirstQuestionLeavesQuietly) {
  testing::TerminalCapture quiet;
  testing::ScriptedInput input({});
  Status status = kStatusGood;
  KZT_CAKE(false, sets, g, lorentz, mask_data, mask_memory, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(kzt_cake_state().limits.first);
}

// A d-spacing cake: its axis decreases from the maximum d; after INTEGRATE
// the cake is shown and the menu goes on.
TEST_F(CakeMenu, DSpacingCakeIsShownAfterIntegrate) {
  g.x_beam_centre = g.y_beam_centre = 20.0f;
  g.sample_distance = 0.01f;  // d from 20 down to 8.4 Angstroms at the outer limit
  CakeLimits& l = kzt_cake_state().limits;
  l.first = false;
  l.inner_limit = 0.0f;
  l.outer_limit = 18 * 1e-4f;
  int retstat = 0;
  Status status = kStatusGood;
  IO_SET_IKEYVALUE("SCAN_TYPE", 3, retstat, status);
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({"INTEGRATE", "O.K.", "O.K.", "FULL", "EXIT"});
  KZT_CAKE(false, sets, g, lorentz, mask_data, mask_memory, status);
  EXPECT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
  const KztArrays& a = vosq_kzt_arrays;
  ASSERT_TRUE(sets.data_defined);
  ASSERT_GT(a.xnumdat, 2);
  EXPECT_LT(a.xaxis[1], a.xaxis[0]);
  EXPECT_NEAR(gs_state.dddr.xmax, 20.0f, 1e-3f);  // the decreasing axis drawn increasing
  EXPECT_LT(gs_state.dddr.xmin, a.xaxis[a.xnumdat - 1]);
  // The image, and whether it is shown with the mask, went to the memory.
  EXPECT_FALSE(mask_data);
  EXPECT_TRUE(mask_memory);

  // A cake of the cake overwrites the image in the memory: neither result
  // takes the image's mask.
  testing::ScriptedInput again({"INTEGRATE", "O.K.", "O.K.", "EXIT"});
  KZT_CAKE(false, sets, g, lorentz, mask_data, mask_memory, status);
  EXPECT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(again.remaining(), 0u) << ::testing::PrintToString(again.prompts);
  EXPECT_FALSE(mask_data);
  EXPECT_FALSE(mask_memory);
}

TEST(CakeOutline, DrawnTwiceLeavesTheWindowAsItWas) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::reset_dialogue();
  testing::TerminalCapture quiet;
  testing::TempDir dir;
  const char* argv[] = {"kesta"};
  io_set_args(1, argv);
  gs_state = GsState{};
  Status status = kStatusGood;
  GS_OPEN_GRAPHICS(status);
  ASSERT_EQ(status, kStatusGood);
  const unsigned long window = x11_window_id();
  constexpr Index kN = 64;
  std::vector<float> data(kN * kN), axis(kN);
  for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  for (Index k = 0; k < kN * kN; ++k) data[k] = static_cast<float>((k * 7) % 97);
  GS_PLOT(kN, kN, data, axis, axis, 1, 1, kN, kN, "Cake", "X", "Y", "Z", status);
  GS_UPDATE(status);
  ASSERT_EQ(status, kStatusGood);
  const testing::Screenshot before = testing::screenshot(window, dir.path().string());
  ASSERT_TRUE(before.ok);
  KZT_DRAW_CAKE(false, 1e-4f, 1e-4f, 32.0f, 32.0f, 0.3f, 2.0f, 10e-4f, 25e-4f, status);
  const testing::Screenshot once = testing::screenshot(window, dir.path().string());
  KZT_DRAW_CAKE(false, 1e-4f, 1e-4f, 32.0f, 32.0f, 0.3f, 2.0f, 10e-4f, 25e-4f, status);
  const testing::Screenshot twice = testing::screenshot(window, dir.path().string());
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(once.ok && twice.ok);
  EXPECT_NE(once.rgb, before.rgb);
  EXPECT_EQ(twice.rgb, before.rgb);
  GS_CLOSE_GRAPHICS(status);
}

// The outline (centre cross, azimuth lines, arcs) reaches past the image
// here; every piece of it is clipped to the image, off the title, axes and
// colour bar.
struct CakeOutlineOnPage : testing::PageFixture {};

TEST_F(CakeOutlineOnPage, IsClippedToTheImage) {
  constexpr Index kN = 64;
  std::vector<float> data(kN * kN), axis(kN);
  for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  for (Index k = 0; k < kN * kN; ++k) data[k] = static_cast<float>(k % 13);
  Status status = kStatusGood;
  GS_PLOT(kN, kN, data, axis, axis, 1, 1, kN, kN, "Cake", "X", "Y", "Z", status);
  std::size_t image = items.size();
  for (std::size_t k = 0; k < items.size(); ++k)
    if (items[k].kind == "real_cell_array") image = k;
  ASSERT_LT(image, items.size());
  const std::vector<float> frame = {items[image].x[0], items[image].y[0], items[image].x[1],
                                    items[image].y[1]};
  const std::size_t first = items.size();
  KZT_DRAW_CAKE(false, 1e-4f, 1e-4f, 50.0f, 20.0f, 0.3f, 4.0f, 10e-4f, 45e-4f, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_GT(items.size(), first + 4);
  for (std::size_t k = first; k < items.size(); ++k) {
    ASSERT_EQ(items[k].clip.size(), 4u) << k << " " << items[k].kind;
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(items[k].clip[c], frame[c], 1e-4f) << k;
  }
  // Drawing goes on unclipped afterwards (the menu, the prompts).
  GS_LINE(0.0f, 0.0f, 1.0f, 1.0f, status);
  EXPECT_TRUE(items.back().clip.empty());
}

}  // namespace
}  // namespace kesta
