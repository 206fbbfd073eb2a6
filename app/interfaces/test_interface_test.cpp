// The simulated data of the TEST interface, driven by typed menu choices.

#include "app/interfaces/test_interface.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

struct TestInterface : testing::PageFixture {
  KztDataSets sets;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    Status s = kStatusGood;
    kzt_allocate_arrays(1000, 500, true, true, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    sets.graphics_on = true;
    sets.variances_exist = true;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    PageFixture::TearDown();
  }
  Status run(std::vector<std::string> lines) {
    testing::ScriptedInput input(std::move(lines));
    Status status = kStatusGood;
    KZT_GUI_TEST(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    return status;
  }
};

TEST_F(TestInterface, GaussianOnNewDataThenPoissonNoiseWithVariances) {
  testing::TerminalCapture terminal;
  // POISSON needs data; GAUSSIAN makes them.
  EXPECT_EQ(run({"POISSON", "GAUSSIAN", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: DATA NEEDED, BUT NONE IS DEFINED"), std::string::npos);
  const KztArrays& a = vosq_kzt_arrays;
  ASSERT_TRUE(sets.data_defined);
  EXPECT_EQ(sets.title, "Simulated Data");
  EXPECT_EQ((std::array<Index, 6>{a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm,
                                  a.yendelm}),
            (std::array<Index, 6>{1000, 500, 1, 1, 1000, 500}));
  EXPECT_FLOAT_EQ(kzt_xline(a.xaxis)[0], 0.5f);
  const std::span<const float> data = kzt_image(a.data);
  // The peak lies between the pixels centred at 499.5 / 500.5 and 249.5 / 250.5.
  const auto peak = std::max_element(data.begin(), data.end()) - data.begin();
  EXPECT_EQ(peak % 1000, 499);
  EXPECT_EQ(peak / 1000, 249);
  EXPECT_NEAR(data[static_cast<std::size_t>(peak)], 1000.0f, 0.2f);
  // Widths 75 and 50: pixel centres 75.5 and 49.5 from the centre against
  // the one 0.5 from it.
  const float top = data[249 * 1000 + 499];
  EXPECT_NEAR(data[249 * 1000 + 575] / top, std::exp(-(75.5f * 75.5f - 0.25f) / 11250.0f), 1e-3f);
  EXPECT_EQ(data[249 * 1000 + 575], data[249 * 1000 + 424]);
  EXPECT_NEAR(data[299 * 1000 + 499] / top, std::exp(-(49.5f * 49.5f - 0.25f) / 5000.0f), 1e-3f);
  const double sum = std::accumulate(data.begin(), data.end(), 0.0);
  EXPECT_NEAR(sum, 2.3562e7, 2.3562e7 * 1e-3);

  // A second GAUSSIAN adds to the data; POISSON gives integers whose
  // variances are the values.
  EXPECT_EQ(run({"GAUSSIAN", "POISSON", "EXIT"}), kStatusGood);
  EXPECT_NEAR(data[static_cast<std::size_t>(peak)], 2000.0f, 200.0f);
  const std::span<const float> variances = kzt_image(a.variances);
  for (std::size_t k : {std::size_t{0}, static_cast<std::size_t>(peak), std::size_t{123456}}) {
    EXPECT_EQ(data[k], std::round(data[k]));
    EXPECT_EQ(variances[k], data[k]);
  }
}

// DISPLAY before any data: its drawings say that data are needed, and
// both menus stay (GAUSSIAN then runs in this one).
TEST_F(TestInterface, DisplayWithoutDataSaysSoAndStays) {
  testing::TerminalCapture terminal;
  EXPECT_EQ(run({"DISPLAY", "CONTOUR PLOT", "3-D SURFACE", "3-D LINES", "EXIT", "GAUSSIAN",
                 "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_NE(terminal.text().find("WARNING: DATA NEEDED, BUT NONE IS DEFINED"), std::string::npos);
  EXPECT_EQ(terminal.text().find("GS_SET_IDR"), std::string::npos) << terminal.text();
  EXPECT_TRUE(sets.data_defined);
}

}  // namespace
}  // namespace kesta
