// The 2-D FITTING and OLMI interfaces driven by typed answers on a page that
// is not a window: fits on synthetic data, the result text and memory, the
// warning boxes, SUBTRACT and ADD, the kept keys and the row choice.

#include "app/interfaces/fitting_interfaces.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/fitting/fit_commands.hpp"
#include "app/fitting/fitting_test_support.hpp"
#include "app/fitting/setup.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/text.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::ScriptedInput;
using testing::TerminalCapture;

float at(float* image, Index x, Index y) {
  return image[static_cast<std::size_t>((y - 1) * vosq_kzt_arrays.xmaxdat + (x - 1))];
}

struct FittingInterfaces : testing::PageFixture {
  KztDataSets sets;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    kzt_fit2d_interface_state() = Fit2dInterfaceState{};
    kzt_olmi_interface_state() = OlmiInterfaceState{};
    io_clear_database();
    sets.graphics_on = true;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_vectors(sets.vectors, s);
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    testing::reset_dialogue();
    PageFixture::TearDown();
  }
  // A Gaussian of height 100 at (20.5, 15.5), SDs 3 and 2, on a level of 5,
  // over 64 x 48 pixels, with variance arrays.
  void gaussian_data() {
    Status s = kStatusGood;
    KztArrays& a = vosq_kzt_arrays;
    kzt_allocate_arrays(64, 48, true, true, false, a, s);
    ASSERT_EQ(s, kStatusGood);
    a.xnumdat = a.xendelm = 64;
    a.ynumdat = a.yendelm = 48;
    const std::vector<float> ax = testing::centre_axis(64), ay = testing::centre_axis(48);
    std::copy(ax.begin(), ax.end(), a.xaxis);
    std::copy(ay.begin(), ay.end(), a.yaxis);
    FitModel truth;
    testing::add_feature(truth, kGaussian, {20.5f, 15.5f, 100.0f, 3.0f, 2.0f, 0.0f});
    kzt_model_image(testing::frame_over(64, 48, ax, ay), truth, 1, 1, 64, 48, kzt_image(a.data),
                    s);
    for (float& v : kzt_image(a.data)) v += 5.0f;
    sets.data_defined = true;
    sets.title = "Peak";
  }
  Status run(void (*gui)(KztDataSets&, Status&), const std::vector<std::string>& answers) {
    ScriptedInput input(answers);
    Status status = kStatusGood;
    gui(sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    return status;
  }
};

FitModel start_gaussian() {
  FitModel m;
  testing::add_feature(m, kGaussian, {21.5f, 15.0f, 80.0f, 3.5f, 2.5f, 0.0f});
  testing::add_feature(m, kSurface, {4.0f});
  m.num_results = 0;
  return m;
}

TEST_F(FittingInterfaces, Fit2dOptimiseResultsSubtractAndAdd) {
  gaussian_data();
  KztArrays& a = vosq_kzt_arrays;
  TerminalCapture terminal;
  // Without a model: the warning, nothing fitted; no results yet either.
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "RESULTS", "CONSTRAINTS", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("NO FIT MODEL: USE \"INITIALSE\""), std::string::npos);
  EXPECT_NE(terminal.text().find("NO RESULTS DEFINE: USE \"OPTIMISE\""), std::string::npos);
  EXPECT_NE(terminal.text().find("WARNING: No parameters; parameters must be input using"),
            std::string::npos);
  EXPECT_FALSE(sets.memory_defined);
  // SUBTRACT without a memory changes nothing.
  const float peak = at(a.data, 21, 16);
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"SUBTRACT", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("MEMORY NOT DEFINED"), std::string::npos);
  EXPECT_EQ(at(a.data, 21, 16), peak);

  Fit2dInterfaceState& state = kzt_fit2d_interface_state();
  state.model = start_gaussian();
  state.params_exist = true;
  for (float& v : kzt_image(a.variances)) v = 1.0f;
  for (float& v : kzt_image(a.mvariances)) v = 7.0f;
  // A pixel that is not finite is left out of the fit and stays so.
  a.data[39 * 64 + 49] = NAN;  // stale: must not come back
  sets.variances_exist = true;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "RESULTS", "O.K.", "SUBTRACT", "EXIT"}), kStatusGood);
  ASSERT_TRUE(state.results_exist);
  EXPECT_NEAR(state.model.params[0], 20.5f, 0.01f);
  EXPECT_NEAR(state.model.params[2], 100.0f, 0.1f);
  // 5 heading lines, 7 parameters, 1 integrated intensity.
  ASSERT_EQ(state.text.size(), 13u);
  EXPECT_EQ(state.text[3], "No Quantity  Value      Error");
  EXPECT_EQ(sets.mtitle, "FIT MODEL");
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_NE(terminal.text().find("INFO: The fit model is stored in the \"memory\", use "
                                 "\"EXCHANGE\"\n      to view the fit model."),
            std::string::npos);
  // The residuals: near 0 everywhere; the variances only the data's.
  EXPECT_NEAR(at(a.data, 21, 16), 0.0f, 0.05f);
  EXPECT_NEAR(at(a.data, 2, 2), 0.0f, 0.05f);
  EXPECT_FLOAT_EQ(at(a.variances, 21, 16), 1.0f);
  EXPECT_TRUE(std::isnan(at(a.data, 50, 40)));
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"ADD", "EXIT"}), kStatusGood);
  EXPECT_NEAR(at(a.data, 21, 16), peak, 0.01f);

  // A region beyond the memory's extent: the warning, nothing changed.
  sets.mxnumdat = 30;
  const float before = at(a.data, 21, 16);
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"SUBTRACT", "EXIT"}), kStatusGood);
  EXPECT_NE(terminal.text().find("MEMORY DEFINED, BUT NOT IN WHOLE OF ADR"), std::string::npos);
  EXPECT_EQ(at(a.data, 21, 16), before);
}

TEST_F(FittingInterfaces, Fit2dFitWithNoValidModelSaysSoInTheWindowAndResults) {
  gaussian_data();
  Fit2dInterfaceState& state = kzt_fit2d_interface_state();
  // The peak's centre held far outside the data region: the fit runs, but
  // what it ends on is no model of the data.
  state.model = start_gaussian();
  state.model.params[0] = 500.0f;
  state.model.constraints[0] = state.model.constraints[1] = true;
  state.params_exist = true;
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "EXIT"}), kStatusGood) << terminal.text();
  EXPECT_NE(terminal.text().find("WARNING: Feature 1 is not valid"), std::string::npos);
  EXPECT_NE(terminal.text().find("THE FIT HAS NOT FOUND A VALID MODEL"), std::string::npos);
  ASSERT_TRUE(state.results_exist);
  ASSERT_EQ(state.text.size(), 13u);
  EXPECT_EQ(state.text[2], "WARNING: NOT A VALID MODEL (SEE THE WARNINGS)");
  // A good fit's text has no such line.
  state.model = start_gaussian();
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "EXIT"}), kStatusGood) << terminal.text();
  EXPECT_EQ(state.text[2], "");
  // Nor does it after a fit stopped at its call budget, which says that.
  state.model = start_gaussian();
  int retstat = 0;
  Status s = kStatusGood;
  IO_SET_RKEYVALUE("2DFIT_ITERATIONS", 0.2f, retstat, s);
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "EXIT"}), kStatusGood) << terminal.text();
  ASSERT_TRUE(state.results_exist);
  ASSERT_EQ(state.text.size(), 13u);
  EXPECT_EQ(state.text[0], "PARAMETERS OF FIT");
  EXPECT_EQ(state.text[2], kFitNotConverged);
}

TEST_F(FittingInterfaces, Fit2dPeakClickedOnAPixelOfZeroIsFitted) {
  // A spot of 3 counts at most: the pixel clicked as its centre holds 0,
  // the start height the residual gives. The model evaluates it as 1e-37,
  // and the fit runs from there to the spot without a status error.
  Status s = kStatusGood;
  KztArrays& a = vosq_kzt_arrays;
  kzt_allocate_arrays(40, 32, true, false, false, a, s);
  ASSERT_EQ(s, kStatusGood);
  a.xnumdat = a.xendelm = 40;
  a.ynumdat = a.yendelm = 32;
  const std::vector<float> ax = testing::centre_axis(40), ay = testing::centre_axis(32);
  std::copy(ax.begin(), ax.end(), a.xaxis);
  std::copy(ay.begin(), ay.end(), a.yaxis);
  testing::Noise noise(3);
  for (Index y = 1; y <= 32; ++y)
    for (Index x = 1; x <= 40; ++x) {
      const double dx = (x - 0.5 - 20.2) / 2.0, dy = (y - 0.5 - 15.7) / 1.5;
      a.data[(y - 1) * 40 + x - 1] = static_cast<float>(
          std::floor(3.0 * std::exp(-0.5 * (dx * dx + dy * dy)) + noise.uniform()));
    }
  a.data[15 * 40 + 20] = 0.0f;
  sets.data_defined = true;
  Fit2dInterfaceState& state = kzt_fit2d_interface_state();
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"INITIALISE", "GAUSSIAN", "1", "20.5", "15.5", "1", "22.9", "15.5",
                                "1", "20.5", "17.3", "EXIT", "OPTIMISE", "OPTIMISE", "EXIT"}),
            kStatusGood)
      << terminal.text();
  ASSERT_TRUE(state.results_exist) << terminal.text();
  EXPECT_EQ(terminal.text().find("is not valid"), std::string::npos) << terminal.text();
  EXPECT_NEAR(state.model.params[0], 20.2f, 0.5f);
  EXPECT_NEAR(state.model.params[2], 3.0f, 1.0f);
}

// A model entered and fitted on a small image in large arrays touches the
// pages of the image, not the arrays (64 MB an image of them; the address
// sanitizer's own records of a freed block take an eighth of one).
TEST_F(FittingInterfaces, Fit2dOfASmallImageInLargeArraysTouchesItsOwnPages) {
  constexpr Index kLarge = 4096, kImageBytes = kLarge * kLarge * 4;
  Status s = kStatusGood;
  KztArrays& a = vosq_kzt_arrays;
  kzt_allocate_arrays(kLarge, kLarge, true, false, false, a, s);
  ASSERT_EQ(s, kStatusGood);
  a.xnumdat = a.xendelm = 40;
  a.ynumdat = a.yendelm = 32;
  for (Index k = 0; k < 40; ++k) a.xaxis[k] = a.yaxis[k] = static_cast<float>(k) + 0.5f;
  for (Index y = 1; y <= 32; ++y)
    for (Index x = 1; x <= 40; ++x) {
      const double dx = (x - 0.5 - 20.2) / 2.0, dy = (y - 0.5 - 15.7) / 1.5;
      a.data[element(x, y, kLarge)] =
          static_cast<float>(5.0 + 100.0 * std::exp(-0.5 * (dx * dx + dy * dy)));
    }
  sets.data_defined = true;
  TerminalCapture terminal;
  const testing::ResidentPeak peak;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"INITIALISE", "GAUSSIAN", "1", "20.5", "15.5", "1", "22.9", "15.5",
                                "1", "20.5", "17.3", "EXIT", "OPTIMISE", "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_LT(peak.grown_bytes(), kImageBytes / 2);
  const Fit2dInterfaceState& state = kzt_fit2d_interface_state();
  ASSERT_TRUE(state.results_exist) << terminal.text();
  EXPECT_NEAR(state.model.params[0], 20.2f, 0.05f);
}

TEST_F(FittingInterfaces, Fit2dFitThatCannotRunLeavesTheResult) {
  gaussian_data();
  KztArrays& a = vosq_kzt_arrays;
  Fit2dInterfaceState& state = kzt_fit2d_interface_state();
  state.model = start_gaussian();
  state.params_exist = true;
  state.text = {"OLD"};
  state.results_exist = true;
  // Every element masked: no data to fit.
  Status s = kStatusGood;
  kzt_create_mask(sets.mask_exist, s);
  for (auto& m : kzt_mask()) m = 1;
  for (float& v : kzt_image(a.mdata)) v = -3.0f;
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "EXIT"}), kStatusGood);
  EXPECT_EQ(state.text, std::vector<std::string>{"OLD"});
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_EQ(at(a.mdata, 5, 5), -3.0f);
}

TEST_F(FittingInterfaces, KeysAreReadOnEntryAndStoredOnExit) {
  Status s = kStatusGood;
  kzt_allocate_arrays(8, 8, true, false, false, vosq_kzt_arrays, s);
  kzt_undefined_extent(vosq_kzt_arrays);
  int retstat = 0;
  TerminalCapture terminal;
  IO_SET_RKEYVALUE("2DFIT_ITERATIONS", 33.0f, retstat, s);
  IO_SET_RKEYVALUE("X_BEAM_CENTRE", 12.5f, retstat, s);
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"EXIT"}), kStatusGood);
  EXPECT_EQ(kzt_fit2d_interface_state().itsperpar, 33.0f);
  EXPECT_EQ(kzt_fit2d_interface_state().x_beam, 12.5f);
  // An iteration count no fit can use is replaced; the limits stay.
  for (const auto& [stored, taken] :
       {std::pair{0.5f, 11.5f}, {20000.0f, 11.5f}, {0.9f, 0.9f}, {10000.0f, 10000.0f}}) {
    IO_SET_RKEYVALUE("OLMI_ITERATIONS", stored, retstat, s);
    EXPECT_EQ(run(KZT_GUI_OLMI, {"EXIT"}), kStatusGood);
    EXPECT_EQ(kzt_olmi_interface_state().controls.iterations, taken) << stored;
    float kept = 0.0f;
    IO_INQ_RKEYVALUE("OLMI_ITERATIONS", kept, retstat, s);
    EXPECT_EQ(kept, taken);  // stored on leaving
  }
  // The row-order note once a run.
  const std::string text = terminal.text();
  const auto first = text.find("NOTE: This menu is designed to work on data stored in horizontal");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("NOTE: This menu", first + 1), std::string::npos);
  IO_SET_IKEYVALUE("OLMI_DIS_FREQUENCY", 3, retstat, s);
  IO_SET_LKEYVALUE("OLMI_MODEL_EVOLUTION", false, retstat, s);
  EXPECT_EQ(run(KZT_GUI_OLMI, {"EXIT"}), kStatusGood);
  EXPECT_FALSE(kzt_olmi_interface_state().controls.evolve);
  EXPECT_EQ(kzt_olmi_interface_state().controls.display_frequency, 3);
}

// 20 rows of a Gaussian drifting by 0.5 channel a row on a level of 10.
void drifting_rows(KztDataSets& sets, Status& s) {
  KztArrays& a = vosq_kzt_arrays;
  kzt_allocate_arrays(80, 20, true, false, false, a, s);
  a.xnumdat = a.xendelm = 80;
  a.ynumdat = a.yendelm = 20;
  const std::vector<float> ax = testing::centre_axis(80), ay = testing::centre_axis(20);
  std::copy(ax.begin(), ax.end(), a.xaxis);
  std::copy(ay.begin(), ay.end(), a.yaxis);
  for (Index y = 1; y <= 20; ++y)
    for (Index x = 1; x <= 80; ++x) {
      const double d = (x - 0.5 - (25.0 + 0.5 * (y - 1))) / 3.0;
      a.data[(y - 1) * 80 + (x - 1)] = static_cast<float>(10.0 + 100.0 * std::exp(-0.5 * d * d));
    }
  sets.data_defined = true;
  sets.title = "Scan";
}

TEST_F(FittingInterfaces, OlmiInitialisesOnAClickedRowAndFitsEveryRow) {
  Status s = kStatusGood;
  drifting_rows(sets, s);
  ASSERT_EQ(s, kStatusGood);
  TerminalCapture terminal;
  // A click at Y 5.2 picks row 6: the model is entered there.
  EXPECT_EQ(run(KZT_GUI_OLMI, {"OPTIMISE", "INITIALISE", "1", "10", "5.2", "GAUSSIAN", "1",
                               "27.5", "110", "1", "31", "60", "POLYNOMIAL", "1", "0",
                               "POLYNOMIAL", "EXIT", "OPTIMISE", "VECTORS", "1", "EXIT",
                               "EXIT"}),
            kStatusGood)
      << terminal.text();
  EXPECT_NE(terminal.text().find("NO FIT MODEL: USE \"INITIALSE\""), std::string::npos);
  // VECTORS opens the result vectors' own menu.
  EXPECT_EQ(terminal.text().find("not available yet"), std::string::npos) << terminal.text();
  const OlmiInterfaceState& state = kzt_olmi_interface_state();
  EXPECT_EQ(state.model_row, 6);
  ASSERT_TRUE(state.results_exist);
  EXPECT_EQ(sets.mtitle, "Fitted Model");
  // Vector 1 holds the centre of every row.
  const KztVectors& v = sets.vectors;
  ASSERT_NE(v.vectors, nullptr);
  ASSERT_GE(v.num_vectors, 3);
  EXPECT_EQ(v.str_vectors[0], 1);
  EXPECT_EQ(v.end_vectors[0], 20);
  for (int y = 1; y <= 20; ++y) EXPECT_NEAR(v.vectors[y - 1], 25.0 + 0.5 * (y - 1), 0.02) << y;
  // The memory holds each row's model.
  EXPECT_NEAR(at(vosq_kzt_arrays.mdata, 30, 11), at(vosq_kzt_arrays.data, 30, 11), 0.05f);
  EXPECT_NEAR(at(vosq_kzt_arrays.mdata, 60, 1), 10.0f, 0.05f);
}

// A Gaussian on a constant (its first coefficient reported halved),
// entered on row 6, as the start model of the interface.
void start_on_row_six(OlmiInterfaceState& state) {
  FitModel& m = state.model;
  m.num_features = 2;
  m.num_parameters = 4;
  m.params = {27.5f, 90.0f, 3.5f, 20.0f};
  m.codes = {20010201, 20201, 10030201, 60010502};
  m.scales = {1.0f, 5.0f, 0.5f, 1.0f};
  m.names = {"GAU 1 POS ", "GAU 1 MAX ", "GAU 1  SD ", "POL    0  "};
  m.x_max_poly = 80.0f;
  state.model_row = 6;
  state.params_exist = true;
}

TEST_F(FittingInterfaces, OlmiSecondOptimiseShowsItsOwnRunOnly) {
  Status s = kStatusGood;
  drifting_rows(sets, s);
  ASSERT_EQ(s, kStatusGood);
  KztArrays& a = vosq_kzt_arrays;
  OlmiInterfaceState& state = kzt_olmi_interface_state();
  start_on_row_six(state);
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_OLMI, {"OPTIMISE", "EXIT"}), kStatusGood) << terminal.text();
  ASSERT_TRUE(state.results_exist);
  ASSERT_FALSE(state.text.empty());
  EXPECT_EQ(state.text[0], "FITTED PARAMETERS (ROW 6)");
  const KztVectors& v = sets.vectors;
  ASSERT_NE(v.vectors, nullptr);
  EXPECT_NEAR(v.vectors[5], 27.5f, 0.02f);
  // Rows 5 to 7 masked off: the start row and its neighbours cannot be
  // fitted. The warning boxes take no answer of the session.
  kzt_create_mask(sets.mask_exist, s);
  std::fill(kzt_mask().begin() + 4 * 80, kzt_mask().begin() + 7 * 80, 1);
  std::fill(a.mdata, a.mdata + 80 * 20, -3.0f);
  EXPECT_EQ(run(KZT_GUI_OLMI, {"OPTIMISE", "EXIT"}), kStatusGood) << terminal.text();
  EXPECT_NE(terminal.text().find("WARNING: Problem fitting the model to the data (row 6)"),
            std::string::npos);
  // No value of the first run is left as this run's.
  for (int y = 5; y <= 7; ++y)
    for (int k = 0; k < 5; ++k) EXPECT_EQ(v.vectors[k * v.max_vec_values + y - 1], 0.0f) << y;
  EXPECT_NEAR(v.vectors[7], 28.5f, 0.02f);
  ASSERT_TRUE(state.results_exist);
  EXPECT_NE(std::find(state.text.begin(), state.text.end(), "NONE FOR THE START ROW (ROW 6):"),
            state.text.end());
  EXPECT_EQ(state.text.back(), "5-7");
  // The memory holds this run's model.
  EXPECT_NEAR(at(a.mdata, 30, 11), at(a.data, 30, 11), 0.05f);
  EXPECT_EQ(sets.mtitle, "Fitted Model");
}

// The fitted rows go into the memory over its new extent (1 to the region's
// ends) and nothing beyond it is written: a fit of a small region in large
// arrays costs that region.
TEST_F(FittingInterfaces, OlmiResultWritesTheMemoryOverItsOwnExtentOnly) {
  Status s = kStatusGood;
  drifting_rows(sets, s);
  ASSERT_EQ(s, kStatusGood);
  KztArrays& a = vosq_kzt_arrays;
  a.xnumdat = a.xendelm = 70;
  a.ynumdat = a.yendelm = 15;
  a.xstrelm = 5;
  a.ystrelm = 3;
  std::fill(a.mdata, a.mdata + 80 * 20, 42.0f);
  start_on_row_six(kzt_olmi_interface_state());
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_OLMI, {"OPTIMISE", "EXIT"}), kStatusGood) << terminal.text();
  EXPECT_NEAR(at(a.mdata, 30, 11), at(a.data, 30, 11), 0.05f);
  EXPECT_EQ(at(a.mdata, 4, 11), 0.0f) << "in the memory's extent, beside the rows fitted";
  EXPECT_EQ(at(a.mdata, 30, 2), 0.0f);
  EXPECT_EQ(at(a.mdata, 71, 11), 42.0f) << "beyond the memory's extent";
  EXPECT_EQ(at(a.mdata, 30, 16), 42.0f);
  EXPECT_EQ(at(a.mdata, 80, 20), 42.0f);
}

TEST_F(FittingInterfaces, OlmiSavedResultsNameTheRowsOfNoValidModelAndTheFailedOnes) {
  Status s = kStatusGood;
  drifting_rows(sets, s);
  ASSERT_EQ(s, kStatusGood);
  KztArrays& a = vosq_kzt_arrays;
  // Rows 19 and 20 hold a dip, fitted to a height below 0; row 3 is masked.
  for (Index y = 19; y <= 20; ++y)
    for (Index x = 1; x <= 80; ++x) {
      float& v = a.data[(y - 1) * 80 + (x - 1)];
      v = 20.0f - v;
    }
  kzt_create_mask(sets.mask_exist, s);
  std::fill(kzt_mask().begin() + 2 * 80, kzt_mask().begin() + 3 * 80, 1);
  OlmiInterfaceState& state = kzt_olmi_interface_state();
  start_on_row_six(state);
  testing::TempDir dir;
  const std::string saved = dir.file("results.txt");
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_OLMI, {"OPTIMISE", "RESULTS", "SAVE", saved, "O.K.", "EXIT"}),
            kStatusGood)
      << terminal.text();
  const std::string text = testing::file_contents(saved);
  EXPECT_EQ(text.rfind("FITTED PARAMETERS (ROW 6)\n", 0), 0u) << text;
  EXPECT_NE(text.find("WARNING: 1 of 20 rows did not fit (their parameters\n"
                      "and results are 0.0 in the vectors): rows\n3\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("WARNING: 2 of 20 rows ended as no valid\n"
                      "model (their values are kept in the vectors): rows\n19-20\n"),
            std::string::npos)
      << text;
}

TEST_F(FittingInterfaces, NewModelClearsTheResultsOfTheFitBefore) {
  gaussian_data();
  Fit2dInterfaceState& state = kzt_fit2d_interface_state();
  state.model = start_gaussian();
  state.params_exist = true;
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "EXIT"}), kStatusGood);
  ASSERT_TRUE(state.results_exist);
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"INITIALISE", "GAUSSIAN", "1", "20.5", "15.5", "1", "24.0",
                                "15.5", "1", "20.5", "17.85", "EXIT", "RESULTS", "EXIT"}),
            kStatusGood);
  EXPECT_EQ(state.model.num_parameters, 6);
  EXPECT_FALSE(state.results_exist);
  EXPECT_TRUE(state.text.empty());
  EXPECT_NE(terminal.text().find("NO RESULTS DEFINE: USE \"OPTIMISE\""), std::string::npos);
  // The multiple 1-D fit's model entered anew on a row.
  Status s = kStatusGood;
  kzt_free_arrays(vosq_kzt_arrays, s);
  drifting_rows(sets, s);
  OlmiInterfaceState& olmi = kzt_olmi_interface_state();
  start_on_row_six(olmi);
  EXPECT_EQ(run(KZT_GUI_OLMI, {"OPTIMISE", "EXIT"}), kStatusGood);
  ASSERT_TRUE(olmi.results_exist);
  EXPECT_EQ(run(KZT_GUI_OLMI, {"INITIALISE", "1", "10", "5.2", "POLYNOMIAL", "1", "0",
                               "POLYNOMIAL", "EXIT", "EXIT"}),
            kStatusGood);
  EXPECT_EQ(olmi.model.num_features, 1);
  EXPECT_FALSE(olmi.results_exist);
  EXPECT_TRUE(olmi.text.empty());
}

TEST_F(FittingInterfaces, SetUpWithoutVarianceArraysLeavesTheFitUnweightedAndSaysWhy) {
  Status s = kStatusGood;
  kzt_allocate_arrays(8, 8, true, false, false, vosq_kzt_arrays, s);
  kzt_undefined_extent(vosq_kzt_arrays);
  // Weights asked for while the arrays had variances.
  kzt_fit2d_interface_state().weighted_fit = true;
  kzt_olmi_interface_state().controls.weighted = true;
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"SET-UP", "O.K.", "EXIT"}), kStatusGood);
  EXPECT_FALSE(kzt_fit2d_interface_state().weighted_fit);
  EXPECT_EQ(run(KZT_GUI_OLMI, {"SET-UP", "O.K.", "EXIT"}), kStatusGood);
  EXPECT_FALSE(kzt_olmi_interface_state().controls.weighted);
  const std::string text = terminal.text();
  const std::size_t said = text.find(kNoVariancesForWeights);
  ASSERT_NE(said, std::string::npos) << text;
  EXPECT_NE(text.find(kNoVariancesForWeights, said + 1), std::string::npos) << text;
}

TEST_F(FittingInterfaces, OptimiseWithoutVarianceArraysDropsKeptWeightsWithAWord) {
  // Weights asked for while the arrays had variances; DIMENSIONS then
  // removed them (2-D), or the run never had any (multiple 1-D).
  gaussian_data();
  sets.variances_exist = false;
  vosq_kzt_arrays.variances_removed = true;
  Fit2dInterfaceState& fit2d = kzt_fit2d_interface_state();
  fit2d.model = start_gaussian();
  fit2d.params_exist = true;
  fit2d.weighted_fit = true;
  TerminalCapture terminal;
  EXPECT_EQ(run(KZT_GUI_2DFIT, {"OPTIMISE", "EXIT"}), kStatusGood);
  EXPECT_TRUE(fit2d.results_exist);
  EXPECT_FALSE(fit2d.weighted_fit);
  Status s = kStatusGood;
  kzt_free_arrays(vosq_kzt_arrays, s);
  vosq_kzt_arrays = KztArrays{};
  drifting_rows(sets, s);
  OlmiInterfaceState& olmi = kzt_olmi_interface_state();
  start_on_row_six(olmi);
  olmi.controls.weighted = true;
  EXPECT_EQ(run(KZT_GUI_OLMI, {"OPTIMISE", "EXIT"}), kStatusGood);
  EXPECT_TRUE(olmi.results_exist);
  EXPECT_FALSE(olmi.controls.weighted);
  const std::string text = terminal.text();
  const std::size_t removed = text.find(kVariancesRemovedForWeights);
  ASSERT_NE(removed, std::string::npos) << text;
  EXPECT_NE(text.find(kNoVariancesForWeights, removed), std::string::npos) << text;
  EXPECT_EQ(text.find(kNoVariancesForWeights), text.rfind(kNoVariancesForWeights)) << text;
}

TEST_F(FittingInterfaces, OlmiRowChoiceKeepsToTheRegion) {
  Status s = kStatusGood;
  drifting_rows(sets, s);
  KztArrays& a = vosq_kzt_arrays;
  a.ystrelm = 4;
  a.yendelm = 9;
  TerminalCapture terminal;
  // Below the region: its first row. The model row becomes the one-row memory.
  EXPECT_EQ(run(KZT_GUI_OLMI, {"INITIALISE", "1", "10", "0.5", "POLYNOMIAL", "1", "0",
                               "POLYNOMIAL", "EXIT", "EXIT"}),
            kStatusGood);
  EXPECT_EQ(kzt_olmi_interface_state().model_row, 4);
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mynumdat, 1);
  EXPECT_EQ(a.myaxis[0], 0.5f);
  // Above it: its last row; a one-row region asks for no click.
  EXPECT_EQ(run(KZT_GUI_OLMI, {"INITIALISE", "1", "10", "19.5", "EXIT", "EXIT"}), kStatusGood);
  EXPECT_EQ(kzt_olmi_interface_state().model_row, 9);
  a.ystrelm = a.yendelm = 7;
  EXPECT_EQ(run(KZT_GUI_OLMI, {"INITIALISE", "EXIT", "EXIT"}), kStatusGood);
  EXPECT_EQ(kzt_olmi_interface_state().model_row, 7);
  // An escape from the click leaves the model row.
  a.ystrelm = 1;
  a.yendelm = 20;
  EXPECT_EQ(run(KZT_GUI_OLMI, {"INITIALISE", "\\\\", "EXIT"}), kStatusGood);
  EXPECT_EQ(kzt_olmi_interface_state().model_row, 7);
}

TEST_F(FittingInterfaces, OlmiTransposeOnlyWhenItFits) {
  Status s = kStatusGood;
  drifting_rows(sets, s);
  KztArrays& a = vosq_kzt_arrays;
  const std::vector<float> before(a.data, a.data + 80 * 20);
  TerminalCapture terminal;
  // 80 columns cannot become 80 rows of 20-row arrays: nothing changes, and
  // the transposition's own box says why.
  EXPECT_EQ(run(KZT_GUI_OLMI, {"TRANSPOSE", "EXIT"}), kStatusGood);
  EXPECT_EQ(std::vector<float>(a.data, a.data + 80 * 20), before);
  EXPECT_EQ(a.xnumdat, 80);
  EXPECT_NE(terminal.text().find("WARNING: The operation is not possible because the first "
                                 "dimension of the work arrays is not large enough to contain "
                                 "the transposed data\n"),
            std::string::npos)
      << terminal.text();
  // A 20 x 20 region is turned and becomes the current data.
  a.xendelm = 20;
  EXPECT_EQ(run(KZT_GUI_OLMI, {"TRANSPOSE", "EXIT"}), kStatusGood);
  EXPECT_EQ(at(a.data, 3, 7), before[2 * 80 + 6]);
  EXPECT_EQ(at(a.data, 12, 5), before[11 * 80 + 4]);
  // Before any input there is nothing to turn: the arrays' unwritten
  // contents never become current data (whose display failed on them). The
  // choice needs no data: the transposition refuses for itself.
  sets.data_defined = sets.memory_defined = false;
  const std::vector<float> kept(a.data, a.data + 80 * 20);
  const std::size_t from = terminal.text().size();
  EXPECT_EQ(run(KZT_GUI_OLMI, {"TRANSPOSE", "EXIT"}), kStatusGood);
  EXPECT_FALSE(sets.data_defined);
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_EQ(std::vector<float>(a.data, a.data + 80 * 20), kept);
  const std::string said = terminal.text().substr(from);
  EXPECT_EQ(said.find("DATA NEEDED"), std::string::npos) << said;
  EXPECT_NE(said.find("WARNING: The operation is not possible because there is no data to "
                      "transpose\n"),
            std::string::npos)
      << said;
}

// The multiple 1-D fit in a window whose waits are answered from a script:
// what the page holds at each wait is kept.
struct SnapshotWindow : testing::ScriptedWindow {
  using ScriptedWindow::ScriptedWindow;
  const std::vector<testing::PageItem>* page = nullptr;
  std::vector<std::size_t> drawn;  // the page's items at each wait
  int input_coordinate(int mode, int& type, float& x, float& y) override {
    drawn.push_back(page->size());
    // A click on button N of the menu drawn by then.
    if (!events.empty() && events.front().type == kInputButton && !events.front().text.empty())
      events.front() = testing::WidgetFixture::on_button(std::stoi(events.front().text));
    return ScriptedWindow::input_coordinate(mode, type, x, y);
  }
  int input_event(int mode, bool echo, std::string_view prompt, bool init_flag, float x1,
                  float y1, float x2, float y2, int& type, std::string& text, float& x,
                  float& y) override {
    drawn.push_back(page->size());
    return ScriptedWindow::input_event(mode, echo, prompt, init_flag, x1, y1, x2, y2, type, text,
                                       x, y);
  }
};

// A click on button N (1-based) of the menu the wait shows.
testing::WindowEvent button(int n) { return {kInputButton, 0.0f, 0.0f, std::to_string(n)}; }
constexpr int kExit = 1, kInitialise = 6, kOptimise = 16, kCancel = 1;

struct OlmiWindow : testing::WidgetFixture {
  KztDataSets sets;
  SnapshotWindow* snapshots = nullptr;
  void SetUp() override {
    WidgetFixture::SetUp();
    auto driver = std::make_unique<SnapshotWindow>(&items);
    driver->page = &items;
    snapshots = driver.get();
    window = driver.get();
    qg_db_system.driver[0] = std::move(driver);
    const QgDbTransform& t = qg_db_transform;
    Status s = kStatusGood;
    window->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
    kzt_olmi_interface_state() = OlmiInterfaceState{};
    io_clear_database();
    sets.graphics_on = true;
    // 160 channels by 120 rows: a peak at 60.5 whose height grows with the
    // row, on a level of 5; the model entered on row 100.
    KztArrays& a = vosq_kzt_arrays;
    kzt_allocate_arrays(160, 120, true, false, false, a, s);
    ASSERT_EQ(s, kStatusGood);
    a.xnumdat = a.xendelm = 160;
    a.ynumdat = a.yendelm = 120;
    const std::vector<float> ax = testing::centre_axis(160), ay = testing::centre_axis(120);
    std::copy(ax.begin(), ax.end(), a.xaxis);
    std::copy(ay.begin(), ay.end(), a.yaxis);
    for (Index y = 1; y <= 120; ++y)
      for (Index x = 1; x <= 160; ++x) {
        const double d = (x - 0.5 - 60.5) / 4.0;
        a.data[(y - 1) * 160 + (x - 1)] =
            static_cast<float>(5.0 + (20.0 + y) * std::exp(-0.5 * d * d));
      }
    sets.data_defined = true;
    sets.title = "Scan";
    OlmiInterfaceState& state = kzt_olmi_interface_state();
    start_on_row_six(state);
    state.model.params = {61.0f, 100.0f, 3.5f, 10.0f};
    state.model.x_max_poly = 160.0f;
    state.model_row = 100;
    state.controls.display_frequency = 0;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_vectors(sets.vectors, s);
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    WidgetFixture::TearDown();
  }
  // The text of the first item drawn from START on that begins with BEGIN.
  std::string drawn_text(std::string_view begin, std::size_t start = 0) const {
    for (std::size_t k = start; k < items.size(); ++k)
      if (items[k].kind == "text" && items[k].text.rfind(begin, 0) == 0) return items[k].text;
    return "";
  }
};

TEST_F(OlmiWindow, AClickOnTheCompositeDisplayReadsTheRowItShows) {
  script({button(kOptimise), testing::click(0.35f, 0.7f), button(kExit)});
  Status status = kStatusGood;
  TerminalCapture quiet;
  KZT_GUI_OLMI(sets, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(kzt_olmi_interface_state().results_exist);
  ASSERT_EQ(snapshots->drawn.size(), 3u);
  const std::size_t clicked = snapshots->drawn[1];
  const std::string x = drawn_text(" X = ", clicked);
  ASSERT_FALSE(x.empty()) << ::testing::PrintToString(texts());
  const Index column = std::stoll(x.substr(5));
  EXPECT_GT(column, 1);
  EXPECT_LT(column, 160);
  EXPECT_EQ(drawn_text(" Y = ", clicked), " Y = 100");
  EXPECT_EQ(drawn_text("  I = ", clicked),
            "  I = " + IO_RTOC(vosq_kzt_arrays.data[99 * 160 + column - 1]));
}

TEST_F(OlmiWindow, InitialiseShowsTheRowsWhileItWaitsForTheClick) {
  // The row is chosen on the image of the rows, which no prompt covers:
  // from the image, and after OPTIMISE from its composite display.
  script({button(kInitialise), button(kCancel), button(kOptimise), button(kInitialise),
          button(kCancel), button(kExit)});
  Status status = kStatusGood;
  TerminalCapture quiet;
  KZT_GUI_OLMI(sets, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_EQ(snapshots->drawn.size(), 6u);
  for (const std::size_t waiting : {snapshots->drawn[1], snapshots->drawn[4]}) {
    std::size_t page = 0;
    for (std::size_t k = 0; k < waiting; ++k)
      if (items[k].kind == "clear") page = k;
    std::size_t image = waiting;
    for (std::size_t k = page; k < waiting && image == waiting; ++k)
      if (items[k].kind.find("cell_array") != std::string::npos) image = k;
    ASSERT_LT(image, waiting) << "no image of the rows on the page at item " << waiting;
    const float image_bottom = std::min(items[image].y[0], items[image].y[1]);
    for (std::size_t k = image + 1; k < waiting; ++k) {
      if (items[k].kind != "fill_area") continue;
      EXPECT_LE(*std::max_element(items[k].y.begin(), items[k].y.end()), image_bottom + 1e-4f)
          << "item " << k << " covers the image";
    }
    EXPECT_EQ(drawn_text("Choose row to be used", image),
              "Choose row to be used to enter the initial fitting");
  }
  // Without a row chosen the composite display comes back.
  EXPECT_EQ(drawn_text("Choose row", snapshots->drawn[4]), "");
  EXPECT_FALSE(drawn_text("Scan: Row 100", snapshots->drawn[4]).empty());
}

}  // namespace
}  // namespace kesta
