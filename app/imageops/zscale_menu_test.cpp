#include "app/imageops/zscale_menu.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

using namespace kesta;

namespace {

TEST(ZscaleBar, ValuesAlongTheBarLinearAndLogarithmic) {
  const struct {
    float x, minimum, maximum;
    bool log;
    float want;
  } cases[] = {
      {0.2f, -10.0f, 30.0f, false, -10.0f}, {0.4f, -10.0f, 30.0f, false, 30.0f},
      {0.3f, -10.0f, 30.0f, false, 10.0f},  {0.3f, 1.0f, 1000.0f, true, 31.622776f},
      {0.2f, 0.0f, 500.0f, true, 0.001f},   {0.4f, -5.0f, -1.0f, true, 1.0e-9f},
      {0.2f, 4.0f, 4.0f, true, 2.0f},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(kzt_zscale_bar_value(c.x, 0.2f, 0.4f, c.minimum, c.maximum, c.log), c.want,
                std::abs(c.want) * 1e-5f)
        << c.x << " " << c.minimum << " " << c.log;
}

TEST(ZscaleBar, NudgesMoveOneLimitByAShareOfTheRange) {
  float minimum = 0.0f, maximum = 90.0f;
  EXPECT_TRUE(kzt_zscale_nudge("+ MAXIMUM", minimum, maximum));
  EXPECT_FLOAT_EQ(maximum, 100.0f);
  EXPECT_TRUE(kzt_zscale_nudge("- MAXIMUM", minimum, maximum));
  EXPECT_FLOAT_EQ(maximum, 90.0f);  // back only because 1/9 up is 1/10 of the new range
  EXPECT_TRUE(kzt_zscale_nudge("- MINIMUM", minimum, maximum));
  EXPECT_FLOAT_EQ(minimum, -9.0f);
  EXPECT_TRUE(kzt_zscale_nudge("+ MINIMUM", minimum, maximum));
  EXPECT_FLOAT_EQ(minimum, 2.0f);
  EXPECT_FALSE(kzt_zscale_nudge("EXIT", minimum, maximum));
}

struct ZscaleMenu : kesta::testing::PageFixture {
  std::vector<float> data = std::vector<float>(40), xaxis = std::vector<float>(8),
                     yaxis = std::vector<float>(5);
  void SetUp() override {
    PageFixture::SetUp();
    // A page that is not a window: widgets take typed answers, as in a replay.
    qg_db_system.category[0] = kCategoryPostScript;
    kesta::testing::reset_dialogue();
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<float>(k);
    for (std::size_t k = 0; k < 8; ++k) xaxis[k] = static_cast<float>(k) + 0.5f;
    for (std::size_t k = 0; k < 5; ++k) yaxis[k] = static_cast<float>(k) + 0.5f;
  }
  void run(const std::vector<std::string>& answers, Status& status) {
    kesta::testing::ScriptedInput input(answers);
    KZT_GUI_ZSCALE(8, 5, data, {}, xaxis, yaxis, 1, 1, 8, 5, "t", "x", "y", "z", false, 0, 0,
                   status);
    EXPECT_EQ(input.remaining(), 0u) << status << ::testing::PrintToString(input.prompts);
  }
};

TEST_F(ZscaleMenu, UserLimitsAreCheckedStoredAndRedrawn) {
  kesta::testing::TerminalCapture terminal;
  Status status = kStatusGood;
  run({"?", "O.K.", "EXIT"}, status);
  EXPECT_TRUE(of("real_cell_array").empty());  // nothing changed, nothing redrawn

  run({"USER MIN/MAX", "5", "5", "2", "8", "LOG SCALE", "EXIT"}, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: The minimum of the range has been set greater than or "
                                 "equal to the\n         maximum of the display range."),
            std::string::npos);
  EXPECT_FALSE(of("real_cell_array").empty());
  int mode = -1, retstat = 0;
  float minimum = 0, maximum = 0;
  bool log = false;
  IO_INQ_IKEYVALUE("Z_SCALING_MODE", mode, retstat, status);
  IO_INQ_RKEYVALUE("Z_SCALING_MINIMUM", minimum, retstat, status);
  IO_INQ_RKEYVALUE("Z_SCALING_MAXIMUM", maximum, retstat, status);
  IO_INQ_LKEYVALUE("Z_SCALING_LOG", log, retstat, status);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(minimum, 2.0f);
  EXPECT_EQ(maximum, 8.0f);
  EXPECT_TRUE(log);
  bool x_linear = false, y_linear = true;
  GS_INQ_DATALOGLIN(x_linear, y_linear, status);
  EXPECT_FALSE(y_linear);

  // An escape in a question keeps the menu and the scaling.
  run({"USER MINIMUM", "\\\\", "WEAK PEAKS", "EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
  EXPECT_EQ(mode, 4);
}

}  // namespace
