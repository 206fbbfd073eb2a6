// The maths, scaled-subtraction, filter and geometric menus driven by typed
// answers, their results compared with the arithmetic done here.

#include "app/interfaces/general_menus.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/main/data_store.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/state.hpp"

namespace kesta {
namespace {

constexpr Index kX = 7, kY = 5;  // odd sizes

float data_at(Index x, Index y) { return static_cast<float>(10 * y + x); }
float memory_at(Index x, Index y) { return static_cast<float>(x * y) * 0.5f + 1.0f; }

struct GeneralMenus : testing::PageFixture {
  KztDataSets sets;
  testing::TempDir dir;
  std::string old_home;

  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    kzt_forget_answers();
    setenv("HOME", dir.path().c_str(), 1);
    Status s = kStatusGood;
    kzt_allocate_arrays(kX, kY, true, true, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    KztArrays& a = vosq_kzt_arrays;
    a.xnumdat = kX;
    a.ynumdat = kY;
    region(1, 1, kX, kY);
    for (Index k = 0; k < kX; ++k) kzt_xline(a.xaxis)[k] = static_cast<float>(k) + 0.5f;
    for (Index k = 0; k < kY; ++k) kzt_yline(a.yaxis)[k] = static_cast<float>(k) + 0.5f;
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) {
        at(a.data, x, y) = data_at(x, y);
        at(a.variances, x, y) = 2.0f;
        at(a.mdata, x, y) = memory_at(x, y);
        at(a.mvariances, x, y) = 3.0f;
      }
    sets.graphics_on = true;
    sets.data_defined = true;
    sets.variances_exist = true;
    sets.memory_defined = true;
    sets.mxnumdat = kX;
    sets.mynumdat = kY;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    PageFixture::TearDown();
  }
  static float& at(float* array, Index x, Index y) { return array[(y - 1) * kX + (x - 1)]; }
  static void region(Index xs, Index ys, Index xe, Index ye) {
    KztArrays& a = vosq_kzt_arrays;
    a.xstrelm = xs;
    a.ystrelm = ys;
    a.xendelm = xe;
    a.yendelm = ye;
  }
  bool inside(Index x, Index y) const {
    const KztArrays& a = vosq_kzt_arrays;
    return x >= a.xstrelm && x <= a.xendelm && y >= a.ystrelm && y <= a.yendelm;
  }
  // Runs MENU on the typed LINES; every line must be used.
  template <typename Menu>
  Status run(Menu menu, std::vector<std::string> lines) {
    Status status = kStatusGood;
    testing::ScriptedInput input(std::move(lines));
    menu(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    return status;
  }
  // Every element: inside the region EXPECT(x, y), outside the start values.
  template <typename Data, typename Variance>
  void expect_elements(Data expected_data, Variance expected_variance) {
    const KztArrays& a = vosq_kzt_arrays;
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) {
        const bool in = inside(x, y);
        EXPECT_FLOAT_EQ(at(a.data, x, y), in ? expected_data(x, y) : data_at(x, y)) << x << y;
        EXPECT_FLOAT_EQ(at(a.variances, x, y), in ? expected_variance(x, y) : 2.0f) << x << y;
      }
  }
};

TEST_F(GeneralMenus, ScalarMathsWithVariances) {
  testing::TerminalCapture terminal;
  region(2, 2, 6, 4);
  // "+ 0" and "/ 1" change nothing; "/ 0" warns; "* 3" multiplies the
  // variances by 9; "/ 4" divides them by 16; "+ 2.5" leaves them.
  ASSERT_EQ(run(KZT_GUI_MATHS, {"SCALAR +", "0", "SCALAR /", "1", "SCALAR /", "0", "SCALAR *",
                                "3", "SCALAR /", "4", "SCALAR +", "2.5", "SCALAR +", "\\\\",
                                "EXIT"}),
            kStatusGood);
  expect_elements([](Index x, Index y) { return data_at(x, y) * 3.0f * 0.25f + 2.5f; },
                  [](Index, Index) { return 2.0f * 9.0f / 16.0f; });
  EXPECT_NE(terminal.text().find("WARNING: NOT POSSIBLE TO DIVIDE BY ZERO"), std::string::npos);
  // The constants entered are offered next time (an escape kept them).
  ASSERT_EQ(run(KZT_GUI_MATHS, {"SCALAR +", "", "EXIT"}), kStatusGood);
  expect_elements([](Index x, Index y) { return data_at(x, y) * 0.75f + 5.0f; },
                  [](Index, Index) { return 1.125f; });
}

TEST_F(GeneralMenus, BinaryMathsWithTheMemory) {
  region(1, 2, 7, 5);
  ASSERT_EQ(run(KZT_GUI_MATHS, {"ADD", "SUBTRACT", "SUBTRACT", "EXIT"}), kStatusGood);
  expect_elements([](Index x, Index y) { return data_at(x, y) - memory_at(x, y); },
                  [](Index, Index) { return 2.0f + 9.0f; });
  // MULTIPLY: var(a b) = b^2 var(a) + a^2 var(b), from the factors before.
  ASSERT_EQ(run(KZT_GUI_MATHS, {"MULTIPLY", "EXIT"}), kStatusGood);
  expect_elements(
      [](Index x, Index y) { return (data_at(x, y) - memory_at(x, y)) * memory_at(x, y); },
      [](Index x, Index y) {
        const float a = data_at(x, y) - memory_at(x, y), b = memory_at(x, y);
        return b * b * 11.0f + a * a * 3.0f;
      });
}

TEST_F(GeneralMenus, MemoryChecksChangeNothing) {
  testing::TerminalCapture terminal;
  sets.mxnumdat = 5;  // the memory ends before the region
  ASSERT_EQ(run(KZT_GUI_MATHS, {"ADD", "MULTIPLY", "SCALED SUB", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: MEMORY DEFINED, BUT NOT IN WHOLE OF ADR"),
            std::string::npos);
  sets.memory_defined = false;
  ASSERT_EQ(run(KZT_GUI_MATHS, {"SUBTRACT", "DIVIDE", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: MEMORY NOT DEFINED"), std::string::npos);
  expect_elements(data_at, [](Index, Index) { return 2.0f; });
  // The end of the input at the menu leaves it; nothing waits.
  ASSERT_EQ(run(KZT_GUI_MATHS, {}), kStatusGood);
}

// A cancelled INPUT leaves the data as they were but no longer defined:
// the welcome text is shown again and data choices warn.
TEST_F(GeneralMenus, CancelledInputInImageProcessing) {
  const std::string needed = "WARNING: DATA NEEDED, BUT NONE IS DEFINED";
  items.clear();
  {
    testing::TerminalCapture terminal;
    ASSERT_EQ(run(KZT_GUI_IP, {"FULL", "INPUT", "\\\\", "MATHS", "EXIT"}), kStatusGood);
    EXPECT_NE(terminal.text().find(needed), std::string::npos);
  }
  EXPECT_FALSE(sets.data_defined);
  EXPECT_NE(text("WELCOME TO THE GENERAL"), nullptr);
  expect_elements(data_at, [](Index, Index) { return 2.0f; });
  // FILE SERIES: DISPLAY without data warns, and the end of the input
  // leaves the menu.
  items.clear();
  testing::TerminalCapture terminal;
  ASSERT_EQ(run(KZT_GUI_FS, {"DISPLAY"}), kStatusGood);
  EXPECT_NE(terminal.text().find(needed), std::string::npos);
  EXPECT_NE(text("SERIES PROCESSING GUI"), nullptr);
}

TEST(ScaledSubtraction, WorkImageAndSteps) {
  // A 5 x 4 array, region (2..4, 2..3); the work image is 3 x 2.
  std::vector<float> data(20), mdata(20);
  for (int k = 0; k < 20; ++k) {
    data[k] = static_cast<float>(k);
    mdata[k] = static_cast<float>(k % 3);
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  data[6] = nan;
  std::vector<float> work(6, -1.0f);
  KZT_SCALEDBIS(5, 4, 2, 2, 4, 3, 2.0f, data, mdata, 3, 2, work);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 3; ++i) {
      const int k = (1 + j) * 5 + 1 + i;
      if (k == 6)
        EXPECT_TRUE(std::isnan(work[j * 3 + i]));
      else
        EXPECT_FLOAT_EQ(work[j * 3 + i], data[k] - 2.0f * mdata[k]);
    }
  // An empty region leaves the work image as it was.
  std::vector<float> untouched(6, 7.0f);
  KZT_SCALEDBIS(5, 4, 2, 3, 4, 2, 2.0f, data, mdata, 3, 2, untouched);
  EXPECT_EQ(untouched, std::vector<float>(6, 7.0f));

  // Each decrease undoes its increase ("DECREASE 9%" is 1/1.1).
  for (const auto& [up, down] : {std::pair{"INCREASE 1%", "DECREASE 1%"},
                                 {"INCREASE 10%", "DECREASE 9%"},
                                 {"INCREASE 50%", "DECREASE 33%"}}) {
    float factor = 0.8f;
    ASSERT_TRUE(kzt_scaled_step(up, factor));
    EXPECT_GT(factor, 0.8f);
    ASSERT_TRUE(kzt_scaled_step(down, factor));
    EXPECT_NEAR(factor, 0.8f, 1e-7f) << up;
  }
  float factor = 1.0f;
  EXPECT_TRUE(kzt_scaled_step("DECREASE 9%", factor));
  EXPECT_FLOAT_EQ(factor, 1.0f / 1.1f);
  EXPECT_FALSE(kzt_scaled_step("FACTOR", factor));
}

TEST_F(GeneralMenus, ScaledSubtractionCancelAndApply) {
  region(2, 1, 6, 3);
  // CANCEL after steps: the data and the stored factor stay.
  ASSERT_EQ(run(KZT_GUI_MATHS,
                {"SCALED SUB", "2", "INCREASE 50%", "DECREASE 1%", "CANCEL", "EXIT"}),
            kStatusGood);
  expect_elements(data_at, [](Index, Index) { return 2.0f; });
  Status status = kStatusGood;
  float stored = -1.0f;
  int retstat = 0;
  IO_INQ_RKEYVALUE("MATHS_SUB_SCALE_FACTOR", stored, retstat, status);
  EXPECT_NE(retstat, 0);
  // O.K.: DATA - factor MDATA over the region, variances unchanged; the
  // factor is stored and offered next time.
  ASSERT_EQ(run(KZT_GUI_MATHS, {"SCALED SUB", "2", "INCREASE 10%", "DECREASE 9%",
                                "INCREASE 50%", "O.K.", "EXIT"}),
            kStatusGood);
  expect_elements([](Index x, Index y) { return data_at(x, y) - 3.0f * memory_at(x, y); },
                  [](Index, Index) { return 2.0f; });
  IO_INQ_RKEYVALUE("MATHS_SUB_SCALE_FACTOR", stored, retstat, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_NEAR(stored, 3.0f, 1e-5f);
  bool titled = false;
  for (const std::string& t : texts())
    titled = titled || (t.starts_with("SCALE FACTOR = ") && t.find(" 3.00000") != t.npos);
  EXPECT_TRUE(titled) << ::testing::PrintToString(texts());
  // An escape at the first question changes nothing.
  ASSERT_EQ(run(KZT_GUI_MATHS, {"SCALED SUB", "\\\\", "EXIT"}), kStatusGood);
}

TEST_F(GeneralMenus, FlipAndTransposeOnOddSizes) {
  region(2, 1, 6, 4);
  // FLIP with both NO changes nothing; then left/right only.
  ASSERT_EQ(run(KZT_GUI_GEOMETRIC, {"FLIP", "NO", "NO", "FLIP", "YES", "NO", "EXIT"}),
            kStatusGood);
  expect_elements([](Index x, Index y) { return data_at(8 - x, y); },
                  [](Index, Index) { return 2.0f; });
  // Top/bottom with the answers of last time offered: Y, then Y.
  ASSERT_EQ(run(KZT_GUI_GEOMETRIC, {"FLIP", "NO", "YES", "EXIT"}), kStatusGood);
  expect_elements([](Index x, Index y) { return data_at(8 - x, 5 - y); },
                  [](Index, Index) { return 2.0f; });

  // TRANSPOSE: the 5 x 4 region becomes the current data, 4 x 5; the input
  // goes to the memory. EXCHANGE twice gives it back.
  KztArrays& a = vosq_kzt_arrays;
  std::vector<float> before(a.data, a.data + kX * kY);
  region(1, 1, 5, 3);
  ASSERT_EQ(run(KZT_GUI_GEOMETRIC, {"TRANSPOSE", "EXIT"}), kStatusGood);
  EXPECT_TRUE(sets.memory_defined);
  ASSERT_EQ(a.xendelm - a.xstrelm + 1, 3);
  ASSERT_EQ(a.yendelm - a.ystrelm + 1, 5);
  for (Index y = 1; y <= 5; ++y)
    for (Index x = 1; x <= 3; ++x)
      EXPECT_FLOAT_EQ(at(a.data, a.xstrelm + x - 1, a.ystrelm + y - 1),
                      before[(x - 1) * kX + (y - 1)])
          << x << y;
  ASSERT_EQ(run(KZT_GUI_GEOMETRIC, {"EXCHANGE", "EXCHANGE", "EXCHANGE", "EXIT"}), kStatusGood);
  EXPECT_EQ(std::vector<float>(a.data, a.data + kX * kY), before);
}

TEST_F(GeneralMenus, FilterResultComesBackAsTheData) {
  region(1, 1, kX, kY);
  // A median of 1 x 1 gives the data back; the input stays in the memory.
  KztArrays& a = vosq_kzt_arrays;
  at(a.data, 4, 3) = std::numeric_limits<float>::infinity();
  std::vector<float> before(a.data, a.data + kX * kY);
  ASSERT_EQ(run(KZT_GUI_FILTER, {"MEDIAN", "1", "1", "EXIT"}), kStatusGood);
  EXPECT_EQ(std::vector<float>(a.mdata, a.mdata + kX * kY), before);
  EXPECT_EQ(std::vector<float>(a.data, a.data + kX * kY), before);
  EXPECT_EQ(sets.mxnumdat, kX);
  // Without data, operations that need them warn and nothing runs.
  sets.data_defined = false;
  testing::TerminalCapture terminal;
  ASSERT_EQ(run(KZT_GUI_FILTER, {"SMOOTH", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: DATA NEEDED, BUT NONE IS DEFINED"), std::string::npos);
}

}  // namespace
}  // namespace kesta

namespace kesta {
namespace {

TEST(GeneralHelpTexts, SizesAndFrames) {
  struct Case {
    std::span<const std::string> (*text)();
    std::size_t lines, width;
  };
  for (const Case& c : {Case{kzt_iphelp_text, 134, 49}, Case{kzt_fshelp_text, 72, 55},
                        Case{kzt_macroshelp_text, 79, 48},
                        Case{kzt_scaledsubhelp_text, 68, 48}}) {
    const std::span<const std::string> t = c.text();
    ASSERT_EQ(t.size(), c.lines);
    bool ends = false;
    for (const std::string& line : t) {
      EXPECT_LE(line.size(), c.width) << line;
      // No web address or outside document: the keyboard HELP is the reference.
      EXPECT_EQ(line.find("http"), std::string::npos) << line;
      ends = ends || line.find("END OF HELP TEXT") != std::string::npos;
    }
    EXPECT_TRUE(ends);
    EXPECT_EQ(t.front(), std::string(c.width, '-'));
  }
}

}  // namespace
}  // namespace kesta
