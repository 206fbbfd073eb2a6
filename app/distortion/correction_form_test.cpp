// The correction form and the CORRECTION operation, answered by a replaying
// input macro on a scripted window.

#include "app/distortion/correction_form.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/distortion/distortion_test_support.hpp"
#include "app/distortion/spline_file.hpp"
#include "app/main/data_store.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

struct CorrectionReplay : testing::WidgetFixture {
  testing::TempDir dir;
  KztDataSets sets;
  static constexpr Index kN = 16;
  void SetUp() override {
    WidgetFixture::SetUp();
    io_clear_database();
    Status s = kStatusGood;
    kzt_allocate_arrays(kN, kN, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    KztArrays& a = vosq_kzt_arrays;
    a.xnumdat = a.ynumdat = kN;
    a.xstrelm = a.ystrelm = 1;
    a.xendelm = a.yendelm = kN;
    for (Index i = 0; i < kN; ++i) a.xaxis[i] = a.yaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index k = 0; k < kN * kN; ++k) a.data[k] = 12.0f;
    sets.title = "Raw";
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    io_clear_database();
    WidgetFixture::TearDown();
  }
  void replay(const std::string& lines) {
    testing::reset_dialogue();
    std::string name = dir.file("form.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, name, s);
    ASSERT_EQ(s, kStatusGood);
  }
  // A flat field of XNUM x YNUM pixels of VALUE.
  std::string flat_field(Index xnum, Index ynum, float value) {
    std::vector<float> axis(static_cast<std::size_t>(std::max(xnum, ynum)));
    for (std::size_t i = 0; i < axis.size(); ++i) axis[i] = static_cast<float>(i) + 0.5f;
    const std::vector<float> data(static_cast<std::size_t>(xnum * ynum), value);
    std::string name = dir.file("flat.kzt");
    testing::ScriptedInput answer({name});
    testing::TerminalCapture quiet;
    int retstat = -1;
    Status s = kStatusGood;
    FIO_OUT_KESTA(false, "", xnum, ynum, 1, 1, xnum, ynum, axis, axis, data, {}, "Flat", "X", "Y",
                  "Z", false, 1.0e-4f, 1.0e-4f, retstat, s);
    EXPECT_EQ(retstat, 0);
    return name;
  }
};

TEST_F(CorrectionReplay, FormAnswersAndCancel) {
  replay("FLAT-FIELD\nYES\nFF MULTIPLIER\n2.5\nSD FILE\nmy.spline\nO.K.\nFF SCALE\nYES\nCANCEL\n");
  bool ff = false, scale = false, sd = false;
  float scaler = 1000.0f;
  std::string ff_file = "flat_field.bin", sd_file = "spatial.spline";
  Status s = kStatusGood;
  KZT_INP_CORRECTION(ff, ff_file, scale, scaler, sd, sd_file, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_TRUE(ff);
  EXPECT_FLOAT_EQ(scaler, 2.5f);
  EXPECT_EQ(sd_file, "my.spline");
  EXPECT_FALSE(scale);
  KZT_INP_CORRECTION(ff, ff_file, scale, scaler, sd, sd_file, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_FALSE(scale);
  EXPECT_EQ(window->waits, 0);
}

TEST_F(CorrectionReplay, BothOffOnlyStoresTheKeys) {
  replay("FF MULTIPLIER\n7\nO.K.\n");
  Status s = kStatusGood;
  KZT_GUI_CORRECTION(sets, s);
  EXPECT_EQ(s, kStatusGood);
  float scaler = 0.0f;
  int retstat = 0;
  IO_INQ_RKEYVALUE("FF_SCALER", scaler, retstat, s);
  EXPECT_FLOAT_EQ(scaler, 7.0f);
  EXPECT_EQ(vosq_kzt_arrays.data[0], 12.0f);
}

TEST_F(CorrectionReplay, SmallerFlatFieldDividesOnlyItsExtentThenScales) {
  const std::string name = flat_field(4, 3, 3.0f);
  replay("FLAT-FIELD\nYES\nFF SCALE\nYES\nFF MULTIPLIER\n10\nO.K.\n" + name + "\n");
  Status s = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_GUI_CORRECTION(sets, s);
  ASSERT_EQ(s, kStatusGood) << terminal.text();
  const float* d = vosq_kzt_arrays.data;
  EXPECT_FLOAT_EQ(d[element(1, 1, kN)], 40.0f);
  EXPECT_FLOAT_EQ(d[element(4, 3, kN)], 40.0f);
  EXPECT_FLOAT_EQ(d[element(5, 3, kN)], 12.0f);
  EXPECT_FLOAT_EQ(d[element(4, 4, kN)], 12.0f);
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mxnumdat, 4);
}

TEST_F(CorrectionReplay, ZeroInTheFlatFieldStopsBeforeScaling) {
  const std::string name = flat_field(2, 2, 0.0f);
  replay("FLAT-FIELD\nYES\nFF SCALE\nYES\nO.K.\n" + name + "\n");
  Status s = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_GUI_CORRECTION(sets, s);
  EXPECT_NE(s, kStatusGood);
  EXPECT_FLOAT_EQ(vosq_kzt_arrays.data[0], -1.7014117e38f);
  EXPECT_FLOAT_EQ(vosq_kzt_arrays.data[element(3, 1, kN)], 12.0f);
}

TEST_F(CorrectionReplay, SplineCorrectionExchangesAndAMissingFileWarns) {
  const std::string spline = dir.file("shift.spline");
  {
    testing::ScriptedInput answer({spline});
    testing::TerminalCapture quiet;
    Status s = kStatusGood;
    KZT_OUT_SPATIAL(testing::linear_set(kN, kN, 1.0f, 0.0f, 0.0f, 0.0f), 100, 100, s);
    ASSERT_EQ(s, kStatusGood);
  }
  KztArrays& a = vosq_kzt_arrays;
  for (Index y = 1; y <= kN; ++y)
    for (Index x = 1; x <= kN; ++x) a.data[element(x, y, kN)] = static_cast<float>(x);
  replay("SPATIAL DIS.\nYES\nSD FILE\n" + spline + "\nO.K.\nSD FILE\nnone.spline\nO.K.\n");
  Status s = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_GUI_CORRECTION(sets, s);
  ASSERT_EQ(s, kStatusGood) << terminal.text();
  // The corrected image is the current data, moved one pixel right; the
  // uncorrected image is in the memory.
  EXPECT_NEAR(a.data[element(6, 5, kN)], 5.0f, 1e-4f);
  EXPECT_FLOAT_EQ(a.mdata[element(6, 5, kN)], 6.0f);
  EXPECT_EQ(sets.title, "Raw");
  const std::vector<float> before(a.data, a.data + kN * kN);
  KZT_GUI_CORRECTION(sets, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(std::vector<float>(a.data, a.data + kN * kN), before);
}

}  // namespace
}  // namespace kesta
