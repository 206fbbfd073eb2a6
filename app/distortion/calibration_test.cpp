// The CALIBRATION sub-menu over a real data set: first-entry defaults,
// preconditions with their warnings and proposals, and the typed road from a
// spline file to the fast correction.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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
  EXPECT_EQ(kzt_calibrate_help_text().size(), 74u);
  // Every command of the sub-menu is built: the help promises none that is not.
  EXPECT_FALSE(has(out, "not available"));
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

TEST_F(Calibration, LineariseAndFlatFieldFromTextTables) {
  make(8, 8, true, false);
  sets.x_pixel_size = sets.y_pixel_size = 1.0e-4f;
  // Linear = raw x (2 + 0.5 log10 raw) over raw 10 .. 10^4.
  const std::string table = dir.file("linear.txt");
  {
    std::FILE* f = std::fopen(table.c_str(), "w");
    for (const double raw : {10.0, 100.0, 1000.0, 10000.0, 31.6227766, 316.227766})
      std::fprintf(f, "%.6f %.6f\n", raw, raw * (2.0 + 0.5 * std::log10(raw)));
    std::fclose(f);
  }
  // A flood source of constant emission from 0 to 30 degrees.
  const std::string scan = dir.file("source.txt");
  {
    std::FILE* f = std::fopen(scan.c_str(), "w");
    for (int a = 0; a <= 30; a += 5) std::fprintf(f, "%d 5.0\n", a);
    std::fclose(f);
  }
  KztArrays& a = vosq_kzt_arrays;
  a.data[element(2, 2, 8)] = 100.0f;
  a.data[element(3, 2, 8)] = 1.0f;
  ScriptedInput input({"LINEARISE INTENSITIES", table, "", "", "", "0", "1", "2", "1", "YES",
                       "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_CALIBRATION(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_NEAR(at(a.data, 2, 2), 300.0f, 0.05f);
  EXPECT_NEAR(at(a.data, 3, 2), 1.0f - 10.0f + 25.0f, 0.01f);  // below the table

  // FLAT-FIELD over the region 5..8: the centre (6.5, 6.5), distance 1 mm,
  // pixels of 100 microns: a pixel 2 pixels off-centre is multiplied by
  // 1 / cos^3(atan(0.2)).
  std::fill(a.data, a.data + 64, 1.0f);
  region(5, 5, 8, 8);
  ScriptedInput flat({"FLAT-FIELD CORRECTION", scan, "", "", "", "0", "1", "2", "0", "YES", "",
                      "", "1", "", "", "", "EXIT", "NO"});
  KZT_CALIBRATION(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_FLOAT_EQ(at(a.data, 7, 7), 1.0f);
  const double c = std::cos(std::atan(0.2));
  EXPECT_NEAR(at(a.data, 7, 5), 1.0 / (c * c * c), 1e-5);
  EXPECT_FLOAT_EQ(at(a.data, 4, 4), 1.0f);  // outside the region
  EXPECT_TRUE(has(terminal.text(), "NOTE: Corrected flat-field is in the current data array"));

  // XRII FLAT-FIELD takes its answers and leaves the data alone.
  ScriptedInput xrii({"XRII FLAT-FIELD", "", "", "0", "", "", "0", "", "", "", "", "", "EXIT",
                      "NO"});
  KZT_CALIBRATION(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(has(terminal.text(), "NOTE: The current data have not been changed."));
  EXPECT_FLOAT_EQ(at(a.data, 7, 7), 1.0f);
}

TEST_F(Calibration, TransferDistortionAndResidualsIntoTheMemory) {
  make(12, 12, true, false);
  CalibrationState& st = kzt_calibration_state();
  st.first_entry = false;
  st.arrays_exist = true;
  st.peaks_exist = true;
  st.spatial_exist = true;
  ASSERT_TRUE(st.peaks.allocate(kMaxGridPeaks, kMaxGridPeaks));
  st.peaks.xnum = 3;
  st.peaks.ynum = 2;
  for (Index j = 1; j <= 2; ++j)
    for (Index i = 1; i <= 3; ++i) {
      const Index k = st.peaks.at(i, j);
      st.peaks.x[k] = 3.0f * static_cast<float>(i);
      st.peaks.y[k] = 4.0f * static_cast<float>(j);
      st.peaks.x_distortion[k] = 0.1f * static_cast<float>(i);
      st.peaks.y_distortion[k] = -0.2f;
    }
  st.peaks.x[st.peaks.at(2, 2)] = kMissingPeak;
  // X function 0.5 + 0.1 x: its residual at (x, y) is 0.5 + 0.1 x - 0.1 i.
  st.spline = testing::linear_set(12.0f, 12.0f, 0.5f, 0.1f, 0.0f, 0.0f);
  ScriptedInput input({"TRANSFER DISTORTION", "NO", "RESIDUALS OF FIT", "YES", "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_CALIBRATION(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(sets.mxendelm, 3);
  EXPECT_EQ(sets.myendelm, 2);
  EXPECT_EQ(sets.mtitle, "X-DISTORTION FIT RESIDUALS");
  EXPECT_NEAR(at(a.mdata, 3, 1), 0.5f + 0.1f * 9.0f - 0.3f, 1e-4f);
  EXPECT_EQ(at(a.mdata, 2, 2), 0.0f);  // missing peak
  EXPECT_EQ(a.mxaxis[2], 3.0f);
}

}  // namespace
}  // namespace kesta
