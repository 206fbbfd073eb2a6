// Building the model by clicks: the parameters, codes, names and scales of
// each feature kind, the full-array refusal, and the menu driven by typed
// answers as a replayed macro drives it.

#include "app/fitting/model_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "app/fitting/fit2d.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/fitting_test_support.hpp"
#include "app/fitting/surface.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

TEST(ModelInput, FeaturesBecomeParametersInOrder) {
  InputFeatures f;
  f.surface = true;
  f.x_order = 1;
  f.y_order = 0;
  f.coeffs[0] = 16.0f;
  f.coeffs[1] = -0.01f;
  f.centre_defined = true;
  f.x_centre = 50.0f;
  f.y_centre = 50.0f;
  f.peaks.push_back({1, 20.0f, 30.0f, 23.0f, 30.0f, 20.0f, 32.0f, 100.0f, 0.0f});
  f.peaks.push_back({3, 60.0f, 50.0f, 62.0f, 50.0f, 60.0f, 51.0f, 9.0f, 0.0f});
  f.peaks.push_back({4, 50.0f, 70.0f, 50.0f, 71.0f, 51.0f, 70.0f, 400.0f, 300.0f});
  f.rowline = true;
  f.row.low = -1;
  f.row.high = 1;
  f.row.intensities = {5.0f, 6.0f, 7.0f};
  FitModel m;
  Status status = kStatusGood;
  kzt_features_to_model(f, m, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(m.num_features, 5);
  EXPECT_EQ(m.num_parameters, 2 + 6 + 7 + 6 + 15);
  // Surface: codes f + 2000 + 10000 k, names PCH, scale max(4 sqrt|c|, 0.2).
  EXPECT_EQ(m.codes[1], 1 + 2000 + 20000);
  EXPECT_EQ(m.names[1], "PCH 1X 0Y ");
  EXPECT_EQ(m.scales[0], 16.0f);
  EXPECT_EQ(m.scales[1], 0.4f);
  // Gaussian: SDs from the half-height clicks, angle of the first.
  EXPECT_EQ(m.codes[2], 10602);
  EXPECT_EQ(m.names[4], "GAU 2 MAX ");
  EXPECT_NEAR(m.params[5], 2 * 3.0f / 2.354f, 1e-5f);
  EXPECT_NEAR(m.params[6], 2 * 2.0f / 2.354f, 1e-5f);
  EXPECT_NEAR(m.params[7], 0.0f, 1e-6f);
  EXPECT_EQ(m.scales[4], 5.0f);
  // The first polar peak carries the centre (type 7), the twin after it does not (type 11).
  EXPECT_EQ(code_type(m.codes[8]), kPolarCentre);
  EXPECT_EQ(m.names[8], "X-CEN SYM ");
  EXPECT_NEAR(m.params[14], 2 * 1.0f / 2.354f / 10.0f, 1e-6f);
  EXPECT_EQ(code_type(m.codes[15]), kTwin);
  EXPECT_EQ(m.names[20], "TPG 4 MX2 ");
  // Row-line: LOW and HIG constrained, unit classes in digit 8.
  EXPECT_EQ(m.codes[21], 1015005);
  EXPECT_TRUE(m.constraints[21] && m.constraints[22] && !m.constraints[23]);
  EXPECT_EQ(m.codes[23], 20035005);
  EXPECT_EQ(m.codes[27], 50075005);
  EXPECT_EQ(m.codes[28], 10085005);
  EXPECT_EQ(m.codes[33], 5005 + 10000 * 13);
  EXPECT_EQ(m.names[35], "ROW 5I  1 ");
  ASSERT_EQ(m.num_results, 4);
  EXPECT_EQ(m.result_names[1], "PGa 3 INT ");
  EXPECT_EQ(m.result_names[3], "TPG 4 In2 ");
}

TEST(ModelInput, FeaturesThatDoNotFitAreSkippedWithTheWarning) {
  InputFeatures f;
  for (int i = 0; i < 40; ++i) f.peaks.push_back({1, float(i), 1, float(i) + 1, 1, float(i), 2, 5, 0});
  FitModel m;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  kzt_features_to_model(f, m, status);
  EXPECT_EQ(m.num_parameters, 198);
  EXPECT_EQ(m.num_features, 33);
  EXPECT_NE(terminal.text().find(
                "WARNING: Parameter array full, not enough room to store feature parameters"),
            std::string::npos);
}

// The menu on a page that is not a window: choices and points typed.
struct ClickMenu : testing::PageFixture {
  KztArrays saved = vosq_kzt_arrays;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    io_clear_database();
    // A Gaussian of height 100 at (20.5, 15.5) on a level of 10.
    Status status = kStatusGood;
    testing::gaussian_program_arrays(10.0f, status);
  }
  void TearDown() override {
    Status status = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, status);
    vosq_kzt_arrays = saved;
    testing::reset_dialogue();
    PageFixture::TearDown();
  }
};

TEST_F(ClickMenu, TypedClicksBuildTheModelOnTheResidual) {
  KztDataSets sets;
  FitModel model;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  // A pixel that is no number, far from the peak, is left out of the level's
  // fit, and the user is told.
  vosq_kzt_arrays.data[3 * vosq_kzt_arrays.xmaxdat + 2] = std::nanf("");
  {
    // A level first (orders 0), then the Gaussian, whose height is read from
    // the data minus the level; a polar peak added and removed again.
    testing::ScriptedInput input(
        {"2-D POLYNOMIAL", "0", "0", "0", "0", "2-D POLYNOMIAL", "GAUSSIAN", "1", "20.5", "15.5",
         "1", "24.0", "15.5", "1", "20.5", "17.85", "POLAR GAUSSIAN", "1", "40", "30", "1", "50",
         "30", "1", "52", "30", "1", "50", "31", "REMOVE LAST PEAK", "EXIT"});
    KZT_GUI_PARAMETERS(true, sets, model, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(model.num_features, 2);
  ASSERT_EQ(model.num_parameters, 7);
  // The level (the first coefficient halved in X and in Y) lies a little above 10.
  EXPECT_GT(model.params[0] / 4.0f, 10.0f);
  EXPECT_LT(model.params[0] / 4.0f, 13.0f);
  // Height: data minus that level at the centre.
  EXPECT_NEAR(model.params[3], 110.0f - model.params[0] / 4.0f, 0.5f);
  EXPECT_NEAR(model.params[4], 2 * 3.5f / 2.354f, 1e-4f);
  EXPECT_EQ(model.num_results, 1);
  const std::string said = terminal.text();
  EXPECT_NE(said.find("WARNING: The 2-D polynomial is already defined"), std::string::npos);
  EXPECT_NE(said.find("INFO: 1 elements that are not finite numbers are left out of the fit"),
            std::string::npos);
  // No window (a page recorded here): the clicks are typed at the terminal,
  // and no line says the questions went to a window.
  EXPECT_EQ(said.find("Control passed to graphics window"), std::string::npos);
  EXPECT_NE(text("CONTROL RETURNED TO TERMINAL WINDOW"), nullptr);

  // A peak clicked on a pixel that is no number is not entered, and the
  // residual stays a number for the peak entered after it.
  KztArrays& a = vosq_kzt_arrays;
  a.data[30 * a.xmaxdat + 40] = std::nanf("");
  {
    testing::ScriptedInput input({"GAUSSIAN", "1", "40.5", "30.5", "1", "42", "30.5", "1", "40.5",
                                  "32", "GAUSSIAN", "1", "20.5", "15.5", "1", "24.0", "15.5", "1",
                                  "20.5", "17.85", "EXIT"});
    KZT_GUI_PARAMETERS(true, sets, model, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: The residual at the peak centre is not a finite number"),
            std::string::npos);
  ASSERT_EQ(model.num_features, 1);
  EXPECT_NEAR(model.params[2], 110.0f, 0.5f);

  // Leaving at once gives no features; the end of the input changes nothing.
  {
    testing::ScriptedInput input({"EXIT"});
    KZT_GUI_PARAMETERS(true, sets, model, status);
  }
  EXPECT_EQ(model.num_parameters, 0);
  model.num_parameters = 5;
  {
    testing::ScriptedInput input({"GAUSSIAN", "1", "20.5", "15.5"});
    KZT_GUI_PARAMETERS(true, sets, model, status);
  }
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(model.num_parameters, 5);
}

TEST_F(ClickMenu, GaussianOnOneRowTakesItsYFromTheRowAndFits) {
  // A scan of 80 channels: a Gaussian of height 100, SD 3 at 29.5 on a level
  // of 10, drawn as a graph whose vertical axis is the intensity.
  KztArrays& a = vosq_kzt_arrays;
  Status status = kStatusGood;
  kzt_free_arrays(a, status);
  kzt_allocate_arrays(80, 1, true, false, false, a, status);
  ASSERT_EQ(status, kStatusGood);
  a.xnumdat = a.xendelm = 80;
  a.ynumdat = a.yendelm = 1;
  a.xstrelm = a.ystrelm = 1;
  const std::vector<float> ax = testing::centre_axis(80), ay = testing::centre_axis(1);
  std::copy(ax.begin(), ax.end(), a.xaxis);
  a.yaxis[0] = ay[0];
  for (Index x = 1; x <= 80; ++x) {
    const double d = (static_cast<double>(x) - 0.5 - 29.5) / 3.0;
    a.data[x - 1] = static_cast<float>(10.0 + 100.0 * std::exp(-0.5 * d * d));
  }
  KztDataSets sets;
  FitModel model;
  testing::TerminalCapture terminal;
  {
    // The peak's top and its half height on the graph: two clicks.
    testing::ScriptedInput input({"GAUSSIAN", "1", "29.5", "110", "1", "33.0", "60", "EXIT"});
    KZT_GUI_PARAMETERS(true, sets, model, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(model.num_parameters, 6);
  EXPECT_NEAR(model.params[0], 29.5f, 1e-4f);
  // The row's centre, one row tall, unrotated: held.
  EXPECT_EQ(model.params[1], 0.5f);
  EXPECT_NEAR(model.params[2], 110.0f, 0.01f);
  EXPECT_NEAR(model.params[3], 2.0f * 3.5f / 2.354f, 1e-4f);
  EXPECT_EQ(model.params[4], 1.0f);
  EXPECT_EQ(model.params[5], 0.0f);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(model.constraints[i], i == 1 || i >= 4) << i;
  // The fit from it finds the peak, a valid one.
  const ModelFrame frame = testing::frame_over(80, 1, ax, ay);
  std::vector<float> fitted(80, 0.0f);
  FitModel fit = model;
  testing::add_feature(fit, kSurface, {40.0f});
  fit.x_order = fit.y_order = 0;
  fit.x_min_poly = 0.0f, fit.x_max_poly = 80.0f, fit.y_min_poly = 0.0f, fit.y_max_poly = 1.0f;
  const Fit2dOutcome outcome =
      KZT_LSQKESTA(frame, std::span<const float>(a.data, 80), {}, {}, 1, 1, 80, 1, false, 20.0f,
                   fit, fitted, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(outcome.fitted);
  EXPECT_TRUE(outcome.valid) << terminal.text();
  EXPECT_NEAR(fit.params[0], 29.5f, 0.01f);
  EXPECT_EQ(fit.params[1], 0.5f);
  EXPECT_NEAR(fit.params[2], 100.0f, 0.1f);
  EXPECT_NEAR(fit.params[3], 3.0f, 0.01f);
}

TEST_F(ClickMenu, PolarPeaksAndRowLinesAreRefusedOnOneRowOrColumn) {
  // Drawn as a graph of intensity, one row or column has no symmetry centre
  // to click: each choice is refused in one line and reads no clicks.
  for (const bool column : {false, true}) {
    KztArrays& a = vosq_kzt_arrays;
    Status status = kStatusGood;
    kzt_free_arrays(a, status);
    const Index nx = column ? 1 : 80, ny = column ? 80 : 1;
    kzt_allocate_arrays(nx, ny, true, false, false, a, status);
    ASSERT_EQ(status, kStatusGood);
    a.xnumdat = a.xendelm = nx;
    a.ynumdat = a.yendelm = ny;
    a.xstrelm = a.ystrelm = 1;
    const std::vector<float> ax = testing::centre_axis(nx), ay = testing::centre_axis(ny);
    std::copy(ax.begin(), ax.end(), a.xaxis);
    std::copy(ay.begin(), ay.end(), a.yaxis);
    std::fill_n(a.data, 80, 10.0f);
    KztDataSets sets;
    FitModel model;
    testing::TerminalCapture terminal;
    {
      testing::ScriptedInput input(
          {"POLAR GAUSSIAN", "TWIN POLAR GAUSSIAN", "ROW-LINE", "EXIT"});
      KZT_GUI_PARAMETERS(true, sets, model, status);
      EXPECT_EQ(input.remaining(), 0u) << column;
    }
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(model.num_parameters, 0);
    const std::string said = terminal.text();
    const std::string line =
        std::string(" needs an image: on one ") + (column ? "column" : "row") +
        " a symmetry centre and an angular width mean nothing";
    for (const char* choice : {"WARNING: POLAR GAUSSIAN", "WARNING: TWIN POLAR GAUSSIAN",
                               "WARNING: ROW-LINE"})
      EXPECT_NE(said.find(choice + line), std::string::npos) << said;
  }
}

TEST_F(ClickMenu, GaussianOnOneColumnTakesItsXFromTheColumnAndFits) {
  // The same peak down one column of 80 rows, drawn as a graph whose
  // horizontal axis is Y.
  KztArrays& a = vosq_kzt_arrays;
  Status status = kStatusGood;
  kzt_free_arrays(a, status);
  kzt_allocate_arrays(1, 80, true, false, false, a, status);
  ASSERT_EQ(status, kStatusGood);
  a.xnumdat = a.xendelm = 1;
  a.ynumdat = a.yendelm = 80;
  a.xstrelm = a.ystrelm = 1;
  const std::vector<float> ax = testing::centre_axis(1), ay = testing::centre_axis(80);
  a.xaxis[0] = ax[0];
  std::copy(ay.begin(), ay.end(), a.yaxis);
  for (Index y = 1; y <= 80; ++y) {
    const double d = (static_cast<double>(y) - 0.5 - 29.5) / 3.0;
    a.data[y - 1] = static_cast<float>(10.0 + 100.0 * std::exp(-0.5 * d * d));
  }
  KztDataSets sets;
  FitModel model;
  testing::TerminalCapture terminal;
  {
    testing::ScriptedInput input({"GAUSSIAN", "1", "29.5", "110", "1", "33.0", "60", "EXIT"});
    KZT_GUI_PARAMETERS(true, sets, model, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(model.num_parameters, 6);
  // The column's centre, one column wide, unrotated: held.
  EXPECT_EQ(model.params[0], 0.5f);
  EXPECT_NEAR(model.params[1], 29.5f, 1e-4f);
  EXPECT_NEAR(model.params[2], 110.0f, 0.01f);
  EXPECT_EQ(model.params[3], 1.0f);
  EXPECT_NEAR(model.params[4], 2.0f * 3.5f / 2.354f, 1e-4f);
  EXPECT_EQ(model.params[5], 0.0f);
  for (std::size_t i = 0; i < 6; ++i)
    EXPECT_EQ(model.constraints[i], i == 0 || i == 3 || i == 5) << i;
  const ModelFrame frame = testing::frame_over(1, 80, ax, ay);
  std::vector<float> fitted(80, 0.0f);
  FitModel fit = model;
  testing::add_feature(fit, kSurface, {40.0f});
  fit.x_order = fit.y_order = 0;
  fit.x_min_poly = 0.0f, fit.x_max_poly = 1.0f, fit.y_min_poly = 0.0f, fit.y_max_poly = 80.0f;
  const Fit2dOutcome outcome =
      KZT_LSQKESTA(frame, std::span<const float>(a.data, 80), {}, {}, 1, 1, 1, 80, false, 20.0f,
                   fit, fitted, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(outcome.valid) << terminal.text();
  EXPECT_EQ(fit.params[0], 0.5f);
  EXPECT_NEAR(fit.params[1], 29.5f, 0.01f);
  EXPECT_NEAR(fit.params[2], 100.0f, 0.1f);
  EXPECT_NEAR(fit.params[4], 3.0f, 0.01f);
}

// The program arrays as NX x NY with the axes and data given.
void program_arrays(Index nx, Index ny, const std::vector<float>& ax, const std::vector<float>& ay,
                    const std::vector<float>& data, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  kzt_free_arrays(a, status);
  kzt_allocate_arrays(nx, ny, true, false, false, a, status);
  if (status != kStatusGood) return;
  a.xnumdat = a.xendelm = nx;
  a.ynumdat = a.yendelm = ny;
  a.xstrelm = a.ystrelm = 1;
  std::copy(ax.begin(), ax.end(), a.xaxis);
  std::copy(ay.begin(), ay.end(), a.yaxis);
  std::copy(data.begin(), data.end(), a.data);
}

std::string number(double v) {
  std::ostringstream text;
  text << std::setprecision(9) << v;
  return text.str();
}

double bell(double d) { return std::exp(-0.5 * d * d); }

// A data set, the clicks that enter its model and the least-squares minimum
// of that model (scipy's least_squares in double precision, started from the
// fits' results, on the same data).
struct ClickedSetUp {
  std::string what;
  Index nx = 0, ny = 0;
  std::vector<float> ax, ay, data;
  std::vector<std::string> clicks;
  double minimum = 0.0;
};

// Three Gaussians of 0.7, 2 and 5 channels on a line, on a 2-theta axis of
// 0.01 degree steps.
ClickedSetUp two_theta_scan() {
  ClickedSetUp s;
  s.what = "2-theta scan";
  s.nx = 500;
  s.ny = 1;
  s.ay = {0.5f};
  testing::Noise noise(12345, 3.0);
  const auto two_theta = [](double channel) { return 5.0 + 0.01 * channel; };
  for (Index i = 0; i < s.nx; ++i) {
    const double c = static_cast<double>(i) + 0.5;
    s.ax.push_back(static_cast<float>(two_theta(c)));
    s.data.push_back(static_cast<float>(20.0 + 0.02 * c + 300.0 * bell((c - 100.3) / 0.7) +
                                        200.0 * bell((c - 250.6) / 2.0) +
                                        150.0 * bell((c - 380.2) / 5.0)) +
                     noise.next());
  }
  const auto x = [&](double c) { return number(two_theta(c)); };
  s.clicks = {"2-D POLYNOMIAL", "1", "0", "1", "0", "GAUSSIAN", "1", x(100.3), "300", "1",
              x(101.2), "150", "GAUSSIAN", "1", x(250.5), "200", "1", x(253.0), "100",
              "GAUSSIAN", "1", x(380.0), "150", "1", x(386.0), "75"};
  s.minimum = 4187.50;
  return s;
}

// A Gaussian of SDs 0.8 and 2.5 pixels, turned by 30 degrees, on axes of 0.1
// a pixel.
ClickedSetUp fine_axes() {
  ClickedSetUp s;
  s.what = "axes of step 0.1";
  s.nx = 64;
  s.ny = 64;
  testing::Noise noise(99, 1.0);
  for (Index i = 0; i < 64; ++i) s.ax.push_back(0.1f * (static_cast<float>(i) + 0.5f));
  s.ay = s.ax;
  const double c = std::cos(0.5236), sn = std::sin(0.5236);
  for (Index y = 0; y < 64; ++y)
    for (Index x = 0; x < 64; ++x) {
      const double dx = x + 0.5 - 32.3, dy = y + 0.5 - 28.7;
      s.data.push_back(static_cast<float>(10.0 + 3000.0 * bell((c * dx + sn * dy) / 0.8) *
                                                     bell((c * dy - sn * dx) / 2.5)) +
                       noise.next());
    }
  s.clicks = {"2-D POLYNOMIAL", "0", "0", "0", "0", "GAUSSIAN", "1", "3.24", "2.86", "1",
              "3.33", "2.91", "1", "3.10", "3.10"};
  s.minimum = 3948.87;
  return s;
}

// A polar Gaussian 800 pixels from its symmetry centre, of angular SD 2
// pixels there.
ClickedSetUp polar_peak() {
  ClickedSetUp s;
  s.what = "polar Gaussian at r = 800";
  s.nx = 64;
  s.ny = 64;
  testing::Noise noise(400, 1.0);
  for (Index i = 0; i < 64; ++i) s.ax.push_back(static_cast<float>(i) + 0.5f);
  s.ay = s.ax;
  const double xc = 32.3, yc = 31.6 - 800.0, azimuth = std::atan2(32.0 - yc, 33.0 - xc);
  for (Index y = 0; y < 64; ++y)
    for (Index x = 0; x < 64; ++x) {
      const double dx = x + 0.5 - xc, dy = y + 0.5 - yc;
      s.data.push_back(static_cast<float>(5.0 + 3000.0 * bell((std::hypot(dx, dy) - 800.0) / 1.5) *
                                                    bell((std::atan2(dy, dx) - azimuth) * 400.0)) +
                       noise.next());
    }
  s.clicks = {"2-D POLYNOMIAL", "0", "0", "0", "0", "POLAR GAUSSIAN", "1", number(xc), number(yc),
              "1", "33.0", "32.0", "1", "33.0", "33.8", "1", "35.3", "32.0"};
  s.minimum = 3978.08;
  return s;
}

// The clicks of set-up S entered on its data in the program arrays, and the
// fit from the model they build: the start, the fitted model, the fit's end
// and what the terminal was told.
struct ClickedFit {
  FitModel start, model;
  Fit2dOutcome outcome;
  std::string said;
};

ClickedFit click_and_fit(const ClickedSetUp& s) {
  ClickedFit r;
  Status status = kStatusGood;
  program_arrays(s.nx, s.ny, s.ax, s.ay, s.data, status);
  KztDataSets sets;
  testing::TerminalCapture terminal;
  {
    std::vector<std::string> clicks = s.clicks;
    clicks.push_back("EXIT");
    testing::ScriptedInput input(clicks);
    KZT_GUI_PARAMETERS(true, sets, r.start, status);
    EXPECT_EQ(input.remaining(), 0u) << s.what;
  }
  r.model = r.start;
  std::vector<float> fitted(s.data.size(), 0.0f);
  if (status == kStatusGood)
    r.outcome = KZT_LSQKESTA(kzt_program_frame(sets), s.data, {}, {}, 1, 1, s.nx, s.ny, false,
                             11.5f, r.model, fitted, status);
  r.said = terminal.text();
  EXPECT_EQ(status, kStatusGood) << s.what << r.said;
  return r;
}

TEST_F(ClickMenu, ClickedPeaksAreFittedToTheLeastSquaresMinimum) {
  // Peaks narrower than an axis unit, or than the angle the fit once
  // stepped by: one OPTIMISE ends at the minimum, not short of it.
  for (const ClickedSetUp& s : {two_theta_scan(), fine_axes(), polar_peak()}) {
    const ClickedFit r = click_and_fit(s);
    EXPECT_LE(r.outcome.end_code, 0) << s.what;
    EXPECT_LT(r.outcome.sum_squares, 1.001 * s.minimum) << s.what;
  }
}

// Three Gaussians on a d-spacing axis (0.7 Angstrom, 2-theta 5 to 40
// degrees in steps of 0.05): it runs downwards, its steps shrinking from
// 0.08 to 0.0012 Angstrom, on a sloping level.
ClickedSetUp d_spacing_scan() {
  ClickedSetUp s;
  s.what = "d-spacing scan";
  s.nx = 700;
  s.ny = 1;
  s.ay = {0.5f};
  testing::Noise noise(4242, 2.0);
  for (Index i = 0; i < s.nx; ++i) {
    const double two_theta = 5.0 + 0.05 * (static_cast<double>(i) + 0.5);
    const double theta = two_theta / 2.0 * 3.141592653589793 / 180.0;
    const float d = static_cast<float>(0.7 / (2.0 * std::sin(theta)));
    s.ax.push_back(d);
    s.data.push_back(static_cast<float>(30.0 + 2.0 * d + 400.0 * bell((d - 5.0) / 0.03) +
                                        250.0 * bell((d - 2.5) / 0.008) +
                                        180.0 * bell((d - 1.3) / 0.003)) +
                     noise.next());
  }
  s.clicks = {"2-D POLYNOMIAL", "1", "0", "1", "0", "GAUSSIAN", "1", "5.0", "400", "1", "5.035",
              "200", "GAUSSIAN", "1", "2.5", "250", "1", "2.509", "125", "GAUSSIAN", "1", "1.3",
              "180", "1", "1.3035", "90"};
  s.minimum = 2921.35;
  return s;
}

// The set-up with its axis and points in the other order, the clicks the same.
ClickedSetUp reversed(ClickedSetUp s) {
  std::reverse(s.ax.begin(), s.ax.end());
  std::reverse(s.data.begin(), s.data.end());
  return s;
}

TEST_F(ClickMenu, ScansRunningDownwardsAreFittedAsTheirAscendingTwins) {
  // A 2-theta scan read from its end and a d-spacing scan (downwards by
  // nature, and uneven): the peaks start from the heights clicked on and
  // the fit ends at the minimum, as on the same points in ascending order.
  for (const ClickedSetUp& s : {two_theta_scan(), d_spacing_scan()}) {
    const ClickedFit upright = click_and_fit(s), down = click_and_fit(reversed(s));
    for (const ClickedFit* r : {&upright, &down}) {
      const std::string what = r == &down ? s.what + " reversed" : s.what;
      for (int f = 2; f <= r->start.num_features; ++f) {
        const float height = kzt_feature_parameters(r->start, f).p[2];
        EXPECT_GT(height, 100.0f) << what << " peak " << f;
        EXPECT_NEAR(height, kzt_feature_parameters(upright.start, f).p[2], 0.01f) << what;
      }
      EXPECT_TRUE(r->outcome.valid) << what << r->said;
      EXPECT_LT(r->outcome.sum_squares, 1.001 * s.minimum) << what;
    }
  }
}

// A Gaussian of 100 and 5 points at 1.0 on a level of 10, with noise of 1,
// over 200 points from 0.01 to 2.00, all times SCALE.
ClickedSetUp scaled_scan(double scale) {
  ClickedSetUp s;
  s.what = "scan times " + number(scale);
  s.nx = 200;
  s.ny = 1;
  s.ay = {0.5f};
  testing::Noise noise(1618, 1.0);
  for (Index i = 0; i < s.nx; ++i) {
    const double x = 0.01 * static_cast<double>(i + 1);
    s.ax.push_back(static_cast<float>(x));
    s.data.push_back(
        static_cast<float>(scale * (10.0 + 100.0 * bell((x - 1.0) / 0.05) + noise.next())));
  }
  s.clicks = {"2-D POLYNOMIAL", "0", "0", "0", "0",         "GAUSSIAN",
              "1",              "1", number(110.0 * scale), "1", "1.06",
              number(60.0 * scale)};
  return s;
}

TEST_F(ClickMenu, ScansOfHugeOrTinyValuesAreFittedAsTheirScaledTwins) {
  // Values of 1e30, whose squares only double precision holds, up to the
  // largest single-precision value, and values of 1e-30: the fit ends where
  // it ends on the same points of everyday size, its heights and sum of
  // squares scaled, in either order of the axis.
  const ClickedFit plain = click_and_fit(scaled_scan(1.0));
  ASSERT_TRUE(plain.outcome.valid) << plain.said;
  const FeatureParameters gauss = kzt_feature_parameters(plain.model, 2);
  for (const double scale : {1.0e-30, 1.0e30, 3.0e36}) {
    const ClickedSetUp s = scaled_scan(scale);
    const std::vector<ClickedSetUp> twins = {s, reversed(s)};
    for (std::size_t t = 0; t < twins.size(); ++t) {
      const ClickedFit r = click_and_fit(twins[t]);
      const std::string what = s.what + (t == 0 ? "" : " reversed");
      EXPECT_LE(r.outcome.end_code, 0) << what << r.said;
      EXPECT_TRUE(r.outcome.valid) << what << r.said;
      EXPECT_NEAR(r.outcome.sum_squares / (scale * scale), plain.outcome.sum_squares,
                  1.0e-3 * plain.outcome.sum_squares)
          << what;
      const FeatureParameters g = kzt_feature_parameters(r.model, 2);
      EXPECT_NEAR(g.p[0], gauss.p[0], 1.0e-4f) << what;
      EXPECT_NEAR(g.p[2] / scale, gauss.p[2], 1.0e-3 * gauss.p[2]) << what;
      EXPECT_NEAR(g.p[3], gauss.p[3], 1.0e-3 * gauss.p[3]) << what;
    }
  }
}

// Set-up S with each peak's width clicks placed on its top, as where the
// peak is narrower than the screen pixel it is clicked in: the peak starts
// with no width, and TOPS (click index, value) move its top clicks off it.
ClickedSetUp clicked_on_top(ClickedSetUp s, std::vector<std::pair<std::size_t, std::string>> tops) {
  for (const auto& [at, value] : tops) s.clicks[at] = value;
  for (std::size_t i = 0; i + 4 < s.clicks.size(); ++i) {
    const bool gaussian = s.clicks[i] == "GAUSSIAN";
    if (!gaussian && s.clicks[i] != "POLAR GAUSSIAN") continue;
    // A polar peak's clicks follow its symmetry centre's.
    const std::size_t top = gaussian ? i + 2 : i + 5;
    for (std::size_t w = top + 3; w < (gaussian ? top + 6 : top + 9); w += 3) {
      s.clicks[w] = s.clicks[top];
      s.clicks[w + 1] = s.clicks[top + 1];
    }
  }
  s.what += " clicked on the tops";
  return s;
}

TEST_F(ClickMenu, PeaksClickedWithNoWidthAreFittedToTheMinimum) {
  // A width that starts at 0, or too narrow for the pixels beside the peak
  // to show it, ends where the data show the peak: not at a fraction of a
  // pixel, a valid model far above the minimum (or out of calls, or no valid
  // model at all), scans in either order alike. The d-spacing scan's
  // narrowest peak is clicked two of its pixels off its top, on the screen
  // pixel that holds it.
  // The 2-theta scan's peaks are clicked also with an eighth of a channel's
  // width, on their tops and 0.4 channels beside them.
  std::vector<ClickedSetUp> narrow;
  for (const double beside : {0.0, 0.4}) {
    ClickedSetUp s = two_theta_scan();
    const auto x = [&](double c) { return number(5.0 + 0.01 * (c + beside)); };
    s.clicks = {"2-D POLYNOMIAL", "1", "0", "1", "0", "GAUSSIAN", "1", x(100.3), "300", "1",
                x(100.45), "150", "GAUSSIAN", "1", x(250.5), "200", "1", x(250.65), "100",
                "GAUSSIAN", "1", x(380.0), "150", "1", x(380.15), "75"};
    s.what += " clicked narrow" + std::string(beside > 0.0 ? " beside the tops" : "");
    narrow.push_back(s);
  }
  for (const ClickedSetUp& s :
       {clicked_on_top(two_theta_scan(), {}), clicked_on_top(d_spacing_scan(), {{21, "1.304"}}),
        clicked_on_top(fine_axes(), {}), clicked_on_top(polar_peak(), {}), narrow[0], narrow[1]}) {
    const bool scan = s.ny == 1;
    const std::vector<ClickedSetUp> twins = scan ? std::vector{s, reversed(s)} : std::vector{s};
    for (std::size_t t = 0; t < twins.size(); ++t) {
      const ClickedFit r = click_and_fit(twins[t]);
      const std::string what = s.what + (t == 0 ? "" : " reversed");
      EXPECT_TRUE(r.outcome.valid) << what << r.said;
      EXPECT_LT(r.outcome.sum_squares, 1.001 * s.minimum) << what;
    }
  }
}

// A long scan (4000 points of 0.02 from 80 down to 0, as read from a file
// written in that order): a Gaussian of height 200 and 1.25 points at 50.0
// on a level of 80 with noise of 5; shown whole, one screen pixel holds
// about eight points. Its peak is clicked with no width (the half height
// on the top) OFF points beside the top, at the top's height.
ClickedSetUp long_scan(double off) {
  ClickedSetUp s;
  s.what = "long scan clicked " + number(off) + " points off";
  s.nx = 4000;
  s.ny = 1;
  s.ay = {0.5f};
  testing::Noise noise(2718, 5.0);
  for (Index i = 0; i < s.nx; ++i) {
    const double x = 80.0 - 0.02 * static_cast<double>(i);
    s.ax.push_back(static_cast<float>(x));
    s.data.push_back(static_cast<float>(80.0 + 200.0 * bell((x - 50.0) / 0.025)) + noise.next());
  }
  const std::string at = number(50.0 + 0.02 * off);
  s.clicks = {"2-D POLYNOMIAL", "1", "0", "1", "0", "GAUSSIAN", "1", at, "280", "1", at, "280"};
  return s;
}

TEST_F(ClickMenu, ANarrowPeakClickedScreenPixelsOffItsTopIsFittedToTheMinimum) {
  // The width restarts where the data show the peak: a click two or three
  // screen pixels off a peak of a long scan finds its top, not a bump of
  // the noise beside the click; the scan in either order alike.
  ClickedSetUp right = long_scan(0.0);
  right.clicks[11] = "180";
  right.clicks[10] = number(50.0 + 0.02 * 1.47);
  const double minimum = click_and_fit(right).outcome.sum_squares;
  for (const double off : {-30.0, -17.0, -10.0, 0.0, 10.0, 17.0, 30.0}) {
    const ClickedSetUp s = long_scan(off);
    for (const ClickedSetUp& twin : {s, reversed(s)}) {
      const ClickedFit r = click_and_fit(twin);
      EXPECT_TRUE(r.outcome.valid) << twin.what << r.said;
      EXPECT_LT(r.outcome.sum_squares, 1.001 * minimum) << twin.what;
      EXPECT_NEAR(kzt_feature_parameters(r.model, 2).p[0], 50.0f, 0.002f) << twin.what;
    }
  }
  // Clicked on a point the noise puts below the level, some 33 points off:
  // the peak starts with no height, and the top beside it gives it one.
  ClickedSetUp low = long_scan(0.0);
  const auto below =
      std::find_if(low.data.begin() + 1532, low.data.end(), [](float v) { return v < 76.0f; });
  const std::size_t at = static_cast<std::size_t>(below - low.data.begin());
  low.clicks[7] = low.clicks[10] = number(low.ax[at]);
  const ClickedFit r = click_and_fit(low);
  EXPECT_TRUE(r.outcome.valid) << r.said;
  EXPECT_LT(r.outcome.sum_squares, 1.001 * minimum);
}

TEST_F(ClickMenu, APeakFittedToTheNoiseIsNoValidModel) {
  // A peak clicked with no width where the data have none ends on a bump of
  // the noise, a fraction of a point wide or standing out of the noise of
  // the points it covers no more than the noise itself allows: the fit says
  // it is no valid feature. A peak that is there, clicked on its
  // top, is valid.
  ClickedSetUp s = long_scan(0.0);
  for (std::size_t k = 0; k < s.data.size(); ++k) s.data[k] = s.data[k] > 120.0f ? 80.0f : s.data[k];
  s.what = "long scan with no peak";
  // Clicked on the first point past 52 that the noise lifts a sigma.
  const auto bump =
      std::find_if(s.data.begin() + 1400, s.data.end(), [](float v) { return v > 85.0f; });
  const std::size_t at = static_cast<std::size_t>(bump - s.data.begin());
  s.clicks[7] = s.clicks[10] = number(s.ax[at]);
  s.clicks[8] = s.clicks[11] = number(*bump);
  for (const ClickedSetUp& twin : {s, reversed(s)}) {
    const ClickedFit r = click_and_fit(twin);
    EXPECT_FALSE(r.outcome.valid) << twin.what << r.said;
    EXPECT_NE(r.said.find("WARNING: Feature 2 is not valid: GAU 2"), std::string::npos) << r.said;
  }
  // The noise alone, clicked on its highest point: of 4000 points some stand
  // four noises high, and the bump fitted there is no more than the noise.
  ClickedSetUp noise = long_scan(0.0);
  for (std::size_t k = 0; k < noise.data.size(); ++k)
    noise.data[k] -= static_cast<float>(200.0 * bell((noise.ax[k] - 50.0) / 0.025));
  noise.what = "long scan of noise clicked on its highest point";
  const auto highest = std::max_element(noise.data.begin(), noise.data.end());
  const std::size_t top = static_cast<std::size_t>(highest - noise.data.begin());
  noise.clicks[7] = noise.clicks[10] = number(noise.ax[top]);
  noise.clicks[8] = noise.clicks[11] = number(*highest);
  for (const ClickedSetUp& twin : {noise, reversed(noise)}) {
    const ClickedFit r = click_and_fit(twin);
    EXPECT_FALSE(r.outcome.valid) << twin.what << r.said;
    EXPECT_NE(r.said.find("WARNING: Feature 2 is not valid: GAU 2 MAX"), std::string::npos)
        << r.said;
  }
  // A peak that is there, one no higher than the noise but 40 points wide,
  // which that many points show, and one a little over a point wide and
  // under five noises high between two points, which the two points under
  // it show well clear of what the noise gives; the scan in either order.
  ClickedSetUp faint = long_scan(0.0);
  for (std::size_t k = 0; k < faint.data.size(); ++k)
    faint.data[k] += static_cast<float>(8.0 * bell((faint.ax[k] - 30.0) / 0.8) +
                                        24.0 * bell((faint.ax[k] - 20.01) / 0.024));
  faint.clicks.insert(faint.clicks.end(), {"GAUSSIAN", "1", "30", "88", "1", "30.94", "84",
                                           "GAUSSIAN", "1", "20.01", "104", "1", "20.038", "92"});
  for (const ClickedSetUp& twin : {faint, reversed(faint)}) {
    const ClickedFit there = click_and_fit(twin);
    EXPECT_TRUE(there.outcome.valid) << there.said;
    EXPECT_EQ(there.said.find("is not valid"), std::string::npos) << there.said;
    EXPECT_NEAR(kzt_feature_parameters(there.model, 3).p[3], 0.8f, 0.2f) << there.said;
    EXPECT_NEAR(kzt_feature_parameters(there.model, 4).p[2], 24.0f, 6.0f) << there.said;
  }
}

TEST_F(ClickMenu, APeakWhoseWidthEndsBelowZeroIsSaidNotValidOnce) {
  // Twelve points of noise, a Gaussian clicked on the highest with half a
  // step of width: its width ends below 0, the one fault said of it (a peak
  // of no width stands out of nothing, which is not said besides); the scan
  // in either order.
  ClickedSetUp s;
  s.what = "12 points of noise";
  s.nx = 12;
  s.ny = 1;
  s.ay = {0.5f};
  s.data = {39.0102828f, 42.3373304f, 41.4017979f, 40.0000438f, 42.0865221f, 40.119136f,
            35.4745109f, 38.525247f,  41.5204206f, 42.8421625f, 38.6752859f, 37.8220203f};
  for (Index i = 0; i < s.nx; ++i) s.ax.push_back(1.0f + 0.5f * static_cast<float>(i));
  s.clicks = {"2-D POLYNOMIAL", "0", "0", "0", "0", "GAUSSIAN", "1", "5.5", "42.8421625", "1",
              "6.0887", "42.8421625"};
  for (const ClickedSetUp& twin : {s, reversed(s)}) {
    const ClickedFit r = click_and_fit(twin);
    EXPECT_FALSE(r.outcome.valid) << r.said;
    EXPECT_LT(kzt_feature_parameters(r.model, 2).p[3], 0.0f) << r.said;
    const std::string fault = "WARNING: Feature 2 is not valid: GAU 2 1SD = -";
    const std::size_t first = r.said.find(fault);
    ASSERT_NE(first, std::string::npos) << r.said;
    EXPECT_EQ(r.said.find("Feature 2 is not valid", first + fault.size()), std::string::npos)
        << r.said;
  }
}

TEST_F(ClickMenu, ImagesWhoseAxesRunDownwardsAreFittedAsTheirTwins) {
  // A polar Gaussian, a twin pair and a row-line on a level, and the same
  // points with the X axis, the Y axis or both running downwards: every start
  // value and the fit's end are the same, the row-line's primary and
  // reflected lines too: a mirrored image (one axis running downwards) is
  // the same pattern on the axes, not its mirror image.
  constexpr Index nx = 64, ny = 48;
  const std::vector<float> ax = testing::centre_axis(nx), ay = testing::centre_axis(ny);
  FitModel truth;
  testing::add_feature(truth, kPolarCentre, {32.0f, 20.0f, 12.0f, 14.0f, 300.0f, 1.5f, 0.12f});
  testing::add_feature(truth, kTwin, {44.0f, 30.0f, 200.0f, 1.2f, 0.1f, 150.0f});
  testing::add_feature(truth, kRowLine, {-2, 2, 32.0f, 20.0f, 32.0f, 40.0f, 0.0f, 0.006f, 0.002f,
                                         0.5f, 1.2f, 0.05f, 50, 80, 120, 80, 50});
  std::vector<float> data(nx * ny, 0.0f);
  Status status = kStatusGood;
  kzt_model_image(testing::frame_over(nx, ny, ax, ay), truth, 1, 1, nx, ny, data, status);
  ASSERT_EQ(status, kStatusGood);
  testing::Noise noise(777, 1.0);
  for (float& v : data) v += 10.0f + noise.next();
  // The row-line's orders are typed 1.6 pixels off their peaks (SHIFT 0.4),
  // where the box they are read in decides their start, or on them (2).
  const auto clicks = [](const char* shift) {
    return std::vector<std::string>{
        "2-D POLYNOMIAL", "0", "0", "0", "0", "POLAR GAUSSIAN", "1", "32", "20", "1", "12", "14",
        "1", "10.31", "13.49", "1", "12.85", "11.18", "TWIN POLAR GAUSSIAN", "1", "44", "30", "1",
        "45.09", "30.9", "1", "42.82", "31.41", "1", "20", "10", "ROW-LINE", "100", "1.0", "-2",
        "2", "32", "40", "0", "6", shift, "0.5", "1.2", "2.865", "EXIT"};
  };
  FitModel upright, upright_fit;
  double upright_sum = 0.0;
  for (const int mirror : {0, 1, 2, 3}) {
    const bool flip_x = (mirror & 1) != 0, flip_y = (mirror & 2) != 0;
    std::vector<float> x = ax, y = ay, twin(data.size());
    if (flip_x) std::reverse(x.begin(), x.end());
    if (flip_y) std::reverse(y.begin(), y.end());
    for (Index j = 0; j < ny; ++j)
      for (Index i = 0; i < nx; ++i) {
        const Index from = (flip_y ? ny - 1 - j : j) * nx + (flip_x ? nx - 1 - i : i);
        twin[static_cast<std::size_t>(j * nx + i)] = data[static_cast<std::size_t>(from)];
      }
    program_arrays(nx, ny, x, y, twin, status);
    ASSERT_EQ(status, kStatusGood);
    KztDataSets sets;
    testing::TerminalCapture terminal;
    const auto entered = [&](const char* shift) {
      io_clear_database();
      FitModel model;
      testing::ScriptedInput input(clicks(shift));
      KZT_GUI_PARAMETERS(true, sets, model, status);
      EXPECT_EQ(input.remaining(), 0u) << mirror;
      EXPECT_EQ(status, kStatusGood) << mirror << terminal.text();
      EXPECT_EQ(model.num_parameters, 1 + 7 + 6 + 17) << mirror;
      return model;
    };
    const FitModel start = entered("0.4");
    if (mirror == 0) upright = start;
    for (int i = 0; i < start.num_parameters; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      EXPECT_NEAR(start.params[k], upright.params[k], 1e-3f * (1.0f + std::fabs(upright.params[k])))
          << mirror << " " << start.names[k];
    }
    FitModel model = entered("2");
    std::vector<float> fitted(twin.size(), 0.0f);
    const Fit2dOutcome outcome = KZT_LSQKESTA(kzt_program_frame(sets), twin, {}, {}, 1, 1, nx, ny,
                                              false, 11.5f, model, fitted, status);
    ASSERT_EQ(status, kStatusGood) << mirror;
    EXPECT_TRUE(outcome.valid) << mirror << terminal.text();
    if (mirror == 0) upright_sum = outcome.sum_squares, upright_fit = model;
    EXPECT_NEAR(outcome.sum_squares, upright_sum, 1e-4 * upright_sum) << mirror;
    // The reflected line's ratio and the orders' intensities.
    for (int i = 0; i < model.num_parameters; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      if (code_type(model.codes[k]) != kRowLine || code_parameter(model.codes[k]) < 10) continue;
      EXPECT_NEAR(model.params[k], upright_fit.params[k], 2e-3f * std::fabs(upright_fit.params[k]))
          << mirror << " " << model.names[k];
    }
    for (int i = 0; i < model.num_results; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      EXPECT_NEAR(model.results[k], upright_fit.results[k], 2e-3f * std::fabs(upright_fit.results[k]))
          << mirror << " " << model.result_names[k];
    }
    // The noise's own misfit, not a peak's.
    EXPECT_LT(outcome.sum_squares, 1.05 * nx * ny) << mirror;
  }
}

TEST_F(ClickMenu, APeakClickedBelowTheLevelStartsAtNoHeightAndIsFitted) {
  // A level entered first, as the menu advises, then a Gaussian clicked on
  // a pixel the counts put below that level (a low-count spot): the
  // residual there is negative, which is no valid peak to start from.
  KztArrays& a = vosq_kzt_arrays;
  a.data[15 * a.xmaxdat + 20] = 0.0f;
  KztDataSets sets;
  FitModel model;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  {
    testing::ScriptedInput input({"2-D POLYNOMIAL", "0", "0", "0", "0", "GAUSSIAN", "1", "20.5",
                                  "15.5", "1", "24.0", "15.5", "1", "20.5", "17.85", "EXIT"});
    KZT_GUI_PARAMETERS(true, sets, model, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(model.num_features, 2);
  EXPECT_GE(model.params[3], 0.0f);
  const std::span<const float> data = kzt_image(a.data);
  std::vector<float> fitted(data.size(), 0.0f);
  const Fit2dOutcome outcome = KZT_LSQKESTA(kzt_program_frame(sets), data, {}, {}, 1, 1, 64, 48,
                                            false, 11.5f, model, fitted, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_LE(outcome.end_code, 0);
  EXPECT_NEAR(model.params[1], 20.5f, 0.1f);
  EXPECT_GT(model.params[3], 80.0f);
}

TEST_F(ClickMenu, MaskColourIsAskedAndSet) {
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  {
    testing::ScriptedInput input({"BLUE"});
    KZT_MASKCOLOUR(status);
  }
  EXPECT_EQ(status, kStatusGood);
  int colour = 0;
  GS_INQ_MASKCOLOUR(colour, status);
  EXPECT_EQ(colour, kGsBlue);
}

}  // namespace
}  // namespace kesta
