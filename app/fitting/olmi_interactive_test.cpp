// The multiple 1-D model built by typed clicks, the constraint pages, the
// set-up form and the two-panel display, on a page that is not a window.

#include "app/fitting/olmi_interactive.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "app/fitting/fitting_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

struct OneDPage : testing::PageFixture {
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
  }
  void TearDown() override {
    testing::reset_dialogue();
    PageFixture::TearDown();
  }
};

// A Gaussian of height 100, SD 3 at 29.5 on a level of 10, over 80 channels.
std::vector<float> peak_row() {
  std::vector<float> row(80, 10.0f);
  for (std::size_t i = 0; i < row.size(); ++i) {
    const double d = (i + 0.5 - 29.5) / 3.0;
    row[i] += static_cast<float>(100.0 * std::exp(-0.5 * d * d));
  }
  return row;
}

TEST_F(OneDPage, ClicksBuildPeaksAndTheBackgroundThenTheFitTakesOver) {
  // A channel that is no number, far from the peak, is left out of the
  // background's start, and the user is told.
  std::vector<float> row = peak_row();
  row[70] = std::nanf("");
  const std::vector<float> axis = testing::centre_axis(80);
  FitModel model;
  Index xs = 1, xe = 80;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  {
    testing::ScriptedInput input({"GAUSSIAN", "1", "29.5", "110", "1", "33", "60", "POLYNOMIAL",
                                  "1", "0", "POLYNOMIAL", "EXIT"});
    KZT_1DINITIALISE(row, axis, "Scan", "x", "y", xs, xe, model, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status, kStatusGood);
  ASSERT_EQ(model.num_features, 2);
  ASSERT_EQ(model.num_parameters, 5);
  EXPECT_EQ(model.codes[0], 20010201);
  EXPECT_EQ(model.codes[3], 60010502);
  EXPECT_EQ(model.codes[4], 20502);
  EXPECT_EQ(model.names[2], "GAU 1  SD ");
  EXPECT_EQ(model.names[4], "POL    1  ");
  EXPECT_NEAR(model.params[0], 29.5f, 1e-4f);
  EXPECT_NEAR(model.params[1], 100.0f, 1e-3f);
  EXPECT_NEAR(model.params[2], 2 * 3.5f / 2.35482f, 1e-4f);
  EXPECT_EQ(model.params[4], 0.0f);  // above the initialisation order
  EXPECT_EQ(model.result_names[0], "GAU 1 INT ");
  EXPECT_NE(terminal.text().find("WARNING: The polynomial is already defined"), std::string::npos);
  EXPECT_NE(terminal.text().find("INFO: 1 channels that are not finite numbers are left out"),
            std::string::npos);
  EXPECT_NE(text("RESIDUALS OF INTITIAL FIT MODEL"), nullptr);

  // The built model fits the row.
  OlmiRowFit fit = KZT_LSQOLMI(0, row, {}, {}, axis, 1, 80, false, 20.0f, model, status);
  ASSERT_TRUE(fit.fitted);
  EXPECT_NEAR(fit.reported[0], 29.5f, 0.01f);
  EXPECT_NEAR(fit.reported[3], 10.0f, 0.05f);
  EXPECT_NEAR(fit.results[0], 100.0f * 3.0f * 2.506628f, 2.0f);

  // A single column is refused; the end of the input keeps the model.
  Index one = 5;
  KZT_1DINITIALISE(row, axis, "Scan", "x", "y", one, one, model, status);
  EXPECT_NE(terminal.text().find("The data is only 1 column wide !"), std::string::npos);
  {
    testing::ScriptedInput input({"GAUSSIAN", "1", "29.5"});
    KZT_1DINITIALISE(row, axis, "Scan", "x", "y", xs, xe, model, status);
  }
  EXPECT_EQ(model.num_parameters, 5);
}

TEST_F(OneDPage, RowsOfHugeOrTinyValuesAreFittedAsTheirScaledTwins) {
  // A row of 1e30, or of 1e-30, clicked as its twin of everyday size: the
  // change sizes of its height and level follow the values, and the fit
  // ends where the twin's does, its height and level scaled.
  const auto fit_at = [](double size) {
    std::vector<float> row = peak_row();
    for (std::size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<float>(size * (row[i] + std::sin(7.0 * static_cast<double>(i))));
    const auto value = [&](double v) {
      std::ostringstream text;
      text << std::setprecision(9) << v * size;
      return text.str();
    };
    const std::vector<float> axis = testing::centre_axis(80);
    FitModel model;
    Index xs = 1, xe = 80;
    Status status = kStatusGood;
    testing::TerminalCapture quiet;
    {
      testing::ScriptedInput input({"GAUSSIAN", "1", "29.5", value(110.0), "1", "33", value(60.0),
                                    "POLYNOMIAL", "1", "0", "EXIT"});
      KZT_1DINITIALISE(row, axis, "Scan", "x", "y", xs, xe, model, status);
    }
    const OlmiRowFit fit = KZT_LSQOLMI(0, row, {}, {}, axis, 1, 80, false, 20.0f, model, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_TRUE(fit.fitted && fit.valid) << size;
    return model;
  };
  const FitModel plain = fit_at(1.0);
  for (const double size : {1.0e-30, 1.0e30}) {
    const FitModel model = fit_at(size);
    ASSERT_EQ(model.num_parameters, plain.num_parameters);
    for (std::size_t k = 0; k < static_cast<std::size_t>(plain.num_parameters); ++k) {
      const double unit = k == 1 || k >= 3 ? size : 1.0;  // height and level
      EXPECT_NEAR(model.params[k] / unit, plain.params[k],
                  1.0e-3 * (1.0 + std::fabs(plain.params[k])))
          << size << " " << plain.names[k];
    }
  }
}

TEST_F(OneDPage, FormsPageTheConstraintsAndKeepControlsOnCancel) {
  FitModel model;
  model.num_parameters = 25;
  {
    testing::ScriptedInput input({"O.K.", "O.K.", "O.K."});
    Status status = kStatusGood;
    KZT_1DCONSTRAINTS(model, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u);
  }
  OlmiControls controls;
  {
    testing::ScriptedInput input({"DIS. FREQ.", "0", "O.K."});
    Status status = kStatusGood;
    KZT_OLMISETUP(false, controls, status);
    EXPECT_EQ(status, kStatusGood);
  }
  EXPECT_EQ(controls.display_frequency, 0);
  EXPECT_EQ(text("WEIGHTED FITTING"), nullptr);
  {
    testing::ScriptedInput input({"DIS. FREQ.", "7", "CANCEL"});
    Status status = kStatusGood;
    KZT_OLMISETUP(true, controls, status);
    EXPECT_EQ(status, kStatusEscape);
  }
  EXPECT_EQ(controls.display_frequency, 0);
  EXPECT_NE(text("WEIGHTED FITTING"), nullptr);
}

TEST_F(OneDPage, DisplayDrawsBothPanelsAndRestoresTheGraphPosition) {
  const std::vector<float> row = peak_row(), axis = testing::centre_axis(80);
  FitModel model;
  model.num_features = 1;
  model.num_parameters = 3;
  model.params = {29.5f, 100.0f, 3.0f};
  model.codes = {20010201, 20201, 10030201};
  std::vector<float> variances(80, 4.0f);
  variances[10] = -1.0f;
  std::vector<std::uint8_t> mask(80, 0);
  mask[3] = 1;
  float before[4], after[4];
  Status status = kStatusGood;
  GS_INQ_GPP(before[0], before[1], before[2], before[3], status);
  testing::TerminalCapture terminal;
  KZT_OLMIDISPLAY(model, row, variances, mask, axis, 80, 1, 80, "Scan: Row 3", status);
  EXPECT_EQ(status, kStatusGood);
  GS_INQ_GPP(after[0], after[1], after[2], after[3], status);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(before[i], after[i]);
  EXPECT_NE(text(" Residuals"), nullptr);
  EXPECT_NE(text("Scan: Row 3"), nullptr);
  EXPECT_NE(terminal.text().find("WARNING: Problem with variance values"), std::string::npos);
}

TEST_F(OneDPage, EachPanelKeepsItsTextsAndTheOtherPanelsClear) {
  // The upper panel's X numbers and label hang below its axes, the lower
  // panel's title stands above its axes: everything of the upper panel
  // (drawn up to its Y label) lies above everything of the lower one, with
  // the default text sizes and with larger ones.
  const std::vector<float> row = peak_row(), axis = testing::centre_axis(80);
  FitModel model;
  model.num_features = 1;
  model.num_parameters = 3;
  model.params = {29.5f, 100.0f, 3.0f};
  model.codes = {20010201, 20201, 10030201};
  // The vertical extent of an item: a text's from its alignment (a base
  // line leaves room for descenders), a line's from its points.
  const auto extent = [](const testing::PageItem& item, float& low, float& high) {
    if (item.kind == "text") {
      const float h = item.height, y = item.y[0];
      switch (item.vertical) {
        case 1:
        case 2: low = y - h, high = y; break;
        case 4: low = y - 0.3f * h, high = y + h; break;
        case 5: low = y, high = y + h; break;
        default: low = y - h, high = y + h; break;
      }
    } else {
      low = *std::min_element(item.y.begin(), item.y.end());
      high = *std::max_element(item.y.begin(), item.y.end());
    }
  };
  for (const float scale : {1.0f, 1.6f}) {
    gs_state.xenum.text.height = gs_state.xlabel.height = gs_state.title.height = scale;
    items.clear();
    Status status = kStatusGood;
    KZT_OLMIDISPLAY(model, row, {}, {}, axis, 80, 1, 80, "Scan: Row 3", status);
    ASSERT_EQ(status, kStatusGood);
    const testing::PageItem* split = text("Intensity");
    ASSERT_NE(split, nullptr);
    float upper_low = 1e9f, lower_high = -1e9f;
    bool upper = true;
    for (const testing::PageItem& item : items) {
      const bool beside = item.kind == "text" && item.angle != 0.0f;  // the Y labels
      if ((item.kind == "text" || item.kind == "polyline") && !beside) {
        float low = 0.0f, high = 0.0f;
        extent(item, low, high);
        if (upper) upper_low = std::min(upper_low, low);
        else lower_high = std::max(lower_high, high);
      }
      if (&item == split) upper = false;
    }
    ASSERT_FALSE(upper);
    EXPECT_GT(upper_low, lower_high) << "text scale " << scale;
  }
}

}  // namespace
}  // namespace kesta
