// The CALIBRATION sub-menu over a real data set: first-entry defaults,
// preconditions with their warnings and proposals, and the typed road from a
// spline file to the fast correction.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/distortion/calibration.hpp"
#include "app/distortion/distortion_test_support.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

using testing::ScriptedInput;

class Calibration : public testing::DataSetFixture {
 protected:
  void SetUp() override {
    DataSetFixture::SetUp();
    kzt_calibration_state() = CalibrationState{};
    io_clear_database();
  }
  void TearDown() override {
    kzt_calibration_state() = CalibrationState{};
    DataSetFixture::TearDown();
  }
  testing::TempDir dir;
  testing::TerminalCapture terminal;
};

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(Calibration, FirstEntryDefaultsAndPreconditions) {
  make(8, 8, true, false);
  ScriptedInput input({"FAST CORRECTION", "STORE LOOK-UP TABLE", "CALCULATE FITTED DISTORTION",
                       "SPATIAL", "FIT GRID PEAKS", "FIND PEAKS", "?", "HELP", "QUIT", "NO"});
  Status status = kStatusGood;
  KZT_CALIBRATION(sets, status);
  EXPECT_EQ(status, kStatusGood);
  const CalibrationState& st = kzt_calibration_state();
  EXPECT_EQ(st.grid_spacing, 5000.0f);
  EXPECT_EQ(st.display_size, 600);
  ASSERT_GE(input.prompts.size(), 7u);
  EXPECT_EQ(input.prompts[0], "Calibration sub-menu: ENTER COMMAND [FIND PEAKS]:");
  EXPECT_EQ(input.prompts[1], " [LOOK-UP TABLE (SPATIAL DISTORTION)]:");
  EXPECT_EQ(input.prompts[3], "Calibration sub-menu: ENTER COMMAND [FIT GRID PEAKS]:");
  EXPECT_EQ(input.prompts[5], "Calibration sub-menu: ENTER COMMAND [FIND PEAKS]:");
  EXPECT_EQ(input.prompts[6], "Calibration sub-menu: ENTER COMMAND [FIND PEAKS]:");
  const std::string out = terminal.text();
  EXPECT_TRUE(has(out,
                  "WARNING: No spatial distortion look-up table is defined, you must use\n"
                  "         \"LOOK-UP TABLE (SPATIAL DISTORTION)\" or\n"
                  "         \"LOAD LOOK-UP TABLE\"\n"));
  EXPECT_TRUE(has(out,
                  "WARNING: No spatial distortion look-up table is defined, you must use\n"
                  "         \"LOOK-UP TABLE(SPATIAL DISTORTION)\"\n"));
  EXPECT_TRUE(has(out,
                  "WARNING: No spatial calibration function exists present, you must \"FIT GRID "
                  "PEAKS\"\nWARNING: to create a function.\n"));
  EXPECT_TRUE(has(out,
                  "WARNING: No spatial calibration function exists present, you must \"FIT "
                  "GRID\"\nWARNING: to create a function.\n"));
  EXPECT_TRUE(has(out, "WARNING: No peak centres have been found you must \"FIND PEAKS\"\n"));
  // Without graphics and without a macro there is nothing to click.
  EXPECT_TRUE(has(out, "WARNING: Graphics system is turned off; the points cannot be clicked"));
  EXPECT_TRUE(has(out, "XRII FLAT-FIELD: Theoretical flat-field calculation\n"));
  EXPECT_TRUE(has(out, "End of help text for the \"CALIBRATION\" sub-menu"));
  for (const std::string& line : kzt_calibrate_help_text()) EXPECT_LE(line.size(), 79u);
  EXPECT_EQ(kzt_calibrate_help_text().size(), 77u);
}

TEST_F(Calibration, FromSplineFileToFastCorrection) {
  make(16, 16, true, false);
  const std::string spline = dir.file("grid.spline");
  const std::string saved = dir.file("spatial.spline");
  const std::string table = dir.file("t.dclt");
  {
    ScriptedInput input({spline});
    Status status = kStatusGood;
    KZT_OUT_SPATIAL(testing::linear_set(16.0f, 16.0f, 1.0f, 0.0f, 0.0f, 0.0f), kMaxSplineKnots,
                    kMaxSplineKnots, status);
  }
  ScriptedInput input({"INPUT SPATIAL FUNCTION", spline, "", "", "", "CALCULATE FITTED DISTORTION",
                       "YES", "OUTPUT SPATIAL FUNCTION", saved, "LOOK-UP TABLE (SPATIAL DISTORTION)",
                       "STORE LOOK-UP TABLE", table, "NO", "LOAD LOOK-UP TABLE", table, "", "",
                       "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_CALIBRATION(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  const std::string out = terminal.text();
  auto proposed = [&input](const std::string& command) {
    return std::count(input.prompts.begin(), input.prompts.end(),
                      "Calibration sub-menu: ENTER COMMAND [" + command + "]:");
  };
  EXPECT_EQ(proposed("SPATIAL CORRECTION"), 1);
  EXPECT_EQ(proposed("FAST CORRECTION"), 1);
  EXPECT_EQ(testing::file_contents(saved), testing::file_contents(spline));
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mtitle, "CURRENT");
  EXPECT_EQ(sets.mxnumdat, 16);
  const KztArrays& a = vosq_kzt_arrays;
  // Shifted one pixel right: the fast correction reproduces the spline's.
  for (Index x = 2; x <= 16; ++x)
    EXPECT_NEAR(at(a.mdata, x, 5), at(a.data, x - 1, 5), 1.0e-3f) << x;
  EXPECT_EQ(at(a.mdata, 1, 5), 0.0f);
  // The table file had no flat field: the current data is unchanged.
  EXPECT_EQ(sets.title, "CURRENT");
  int length = 0, db = 0;
  std::string value;
  IO_INQ_KEYVALUE(kDclutFileKey, length, value, db, status);
  EXPECT_EQ(value, table);
  EXPECT_TRUE(kzt_calibration_state().table_defined);
  EXPECT_FLOAT_EQ(sets.mx_pixel_size, 1.0e-4f);
  EXPECT_FLOAT_EQ(sets.my_pixel_size, 1.5e-4f);
}

TEST_F(Calibration, FitGridPeaksFromHeldPeaks) {
  make(240, 240, true, false);
  sets.x_pixel_size = 5.0e-5f;
  CalibrationState& st = kzt_calibration_state();
  st.first_entry = false;
  st.arrays_exist = true;
  st.peaks_exist = true;
  ASSERT_TRUE(st.peaks.allocate(kMaxGridPeaks, kMaxGridPeaks));
  st.peaks.xnum = st.peaks.ynum = 15;
  for (Index j = 1; j <= 15; ++j)
    for (Index i = 1; i <= 15; ++i) {
      const Index k = element(i, j, kMaxGridPeaks);
      st.peaks.x[k] = 16.0f * static_cast<float>(i) - 8.0f;
      st.peaks.y[k] = 16.0f * static_cast<float>(j) - 8.0f;
      st.peaks.x_distortion[k] = 0.25f;
      st.peaks.y_distortion[k] = -0.5f;
    }
  ScriptedInput input({"FIT GRID PEAKS", "0.01", "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_CALIBRATION(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(st.spatial_exist);
  EXPECT_EQ(st.spline.x_minimum, 0.0f);
  EXPECT_EQ(st.spline.y_maximum, 240.0f);
  EXPECT_EQ(st.spline.grid_spacing, 2000.0f);
  EXPECT_FLOAT_EQ(st.spline.x_pixel_size, 5.0e-5f);
  ASSERT_GE(input.prompts.size(), 3u);
  EXPECT_EQ(input.prompts[2], " [OUTPUT SPATIAL FUNCTION]:");
}

}  // namespace
}  // namespace kesta
