// The beam centre: the 2-D Gaussian of a direct-beam mark, the terminal
// menu's keyboard road and what it stores.

#include "app/diffraction/beam_centre.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// A rotated elliptical Gaussian (pixel coordinates) on a flat background,
// sampled at the pixel centres.
std::vector<float> beam_mark(Index n, double xc, double yc, double height, double s1, double s2,
                             double angle, double background) {
  std::vector<float> data(static_cast<std::size_t>(n * n));
  for (Index j = 1; j <= n; ++j) {
    for (Index i = 1; i <= n; ++i) {
      const double dx = i - 0.5 - xc, dy = j - 0.5 - yc;
      const double u = (std::cos(angle) * dx + std::sin(angle) * dy) / s1;
      const double v = (-std::sin(angle) * dx + std::cos(angle) * dy) / s2;
      data[static_cast<std::size_t>((j - 1) * n + i - 1)] =
          static_cast<float>(height * std::exp(-0.5 * (u * u + v * v)) + background);
    }
  }
  return data;
}

// A fit that ran away leaves an error that is no number to print: said
// plainly, never as "-Infinity" or "NaN" pixels.
TEST(RadialErrorLines, AnErrorThatIsNoFiniteNumberIsSaidPlainly) {
  for (float error : {-std::numeric_limits<float>::infinity(),
                      std::numeric_limits<float>::infinity(), std::nanf(""), -1.0e-5f}) {
    testing::TerminalCapture terminal;
    Status status = kStatusGood;
    kzt_radial_error_lines(10, 6, error, 1.0e-4f, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(terminal.text(),
              "INFO: The coordinate radial position error could not be estimated: the fit gives "
              "no finite error\n");
  }
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  kzt_radial_error_lines(10, 6, 2.0e-5f, 1.0e-4f, status);
  EXPECT_NE(terminal.text().find("error (X pixels) = "), std::string::npos) << terminal.text();
  EXPECT_NE(terminal.text().find("0.2"), std::string::npos) << terminal.text();
}

TEST(BeamGaussian, FindsTheCentreOfTheMark) {
  struct Case {
    double xc, yc, s1, s2, angle, background;
    Index click_x, click_y;
  };
  const Case cases[] = {{60.3, 47.8, 3.0, 2.2, 0.4, 20.0, 58, 50},
                        {20.7, 70.15, 2.5, 2.5, 0.0, 0.0, 21, 71},
                        {90.55, 12.4, 4.0, 2.0, -1.0, 100.0, 88, 14}};
  for (const Case& c : cases) {
    const Index n = 100;
    const std::vector<float> data =
        beam_mark(n, c.xc, c.yc, 5000.0, c.s1, c.s2, c.angle, c.background);
    testing::TerminalCapture terminal;
    int retstat = -1;
    float xc = 0.0f, yc = 0.0f;
    Status status = kStatusGood;
    KZT_BEAMGAUSSIAN(n, n, data, 1, 1, n, n, c.click_x, c.click_y, retstat, xc, yc, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(retstat, 0) << terminal.text();
    EXPECT_NEAR(xc, c.xc, 0.01) << c.xc;
    EXPECT_NEAR(yc, c.yc, 0.01) << c.yc;
    EXPECT_NE(terminal.text().find("INFO: X-centre = "), std::string::npos);
  }
}

TEST(BeamGaussian, FindsTheSameCentreWhateverTheDataSize) {
  // A noisy mark (deviations of the square root of the counts) in counts
  // and in thousands of counts, and the same data scaled: the fit must not
  // depend on the unit in which the detector's values are given.
  struct Mark {
    double xc, yc, s1, s2, angle, height, background;
    Index click_x, click_y;
  };
  const Mark marks[] = {{40.3, 37.8, 3.0, 2.2, 0.4, 5000.0, 100.0, 41, 38},
                        {52.6, 44.45, 4.8, 4.2, -0.7, 800.0, 0.0, 50, 45}};
  std::mt19937 engine(17);
  std::normal_distribution<double> normal;
  for (const Mark& m : marks) {
    std::vector<float> counts = beam_mark(80, m.xc, m.yc, m.height, m.s1, m.s2, m.angle,
                                          m.background);
    for (float& v : counts) v = static_cast<float>(v + normal(engine) * std::sqrt(v + 1.0));
    for (const double unit : {1.0, 1.0e-3}) {
      std::vector<float> twin(counts);
      for (float& v : twin) v = static_cast<float>(v * unit);
      const auto fit = [&](double scale, float& xc, float& yc) {
        std::vector<float> data(twin);
        for (float& v : data) v = static_cast<float>(v * scale);
        testing::TerminalCapture terminal;
        int retstat = -1;
        Status status = kStatusGood;
        KZT_BEAMGAUSSIAN(80, 80, data, 1, 1, 80, 80, m.click_x, m.click_y, retstat, xc, yc, status);
        EXPECT_EQ(status, kStatusGood);
        EXPECT_EQ(retstat, 0) << scale;
        EXPECT_EQ(terminal.text().find("Problem fitting"), std::string::npos) << terminal.text();
      };
      float x0 = 0.0f, y0 = 0.0f;
      fit(1.0, x0, y0);
      EXPECT_NEAR(x0, m.xc, 0.1);
      EXPECT_NEAR(y0, m.yc, 0.1);
      for (const double scale : {1.0e20, 1.0e30, 3.0e37, 1.0e-20, 1.0e-30}) {
        if (m.height * 1.5 * unit * scale > 3.0e38) continue;
        float xc = 0.0f, yc = 0.0f;
        fit(scale, xc, yc);
        EXPECT_NEAR(xc, x0, 0.01) << m.xc << " " << unit << " " << scale;
        EXPECT_NEAR(yc, y0, 0.01) << m.xc << " " << unit << " " << scale;
      }
    }
  }
}

TEST(BeamGaussian, NoMarkStandsOutOrRegionIsBad) {
  // A gentle slope: nowhere is the maximum 1.5 times the box edges.
  std::vector<float> data(40 * 40);
  for (std::size_t k = 0; k < data.size(); ++k) data[k] = 100.0f + static_cast<float>(k % 40);
  testing::TerminalCapture terminal;
  int retstat = 0;
  float xc = 7.0f, yc = 7.0f;
  Status status = kStatusGood;
  KZT_BEAMGAUSSIAN(40, 40, data, 5, 5, 35, 35, 20, 20, retstat, xc, yc, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(xc, 7.0f);
  EXPECT_NE(
      terminal.text().find("ERROR: Problem with finding initial parameters for the Gaussian fit"),
      std::string::npos);
  KZT_BEAMGAUSSIAN(40, 40, data, 5, 5, 41, 35, 20, 20, retstat, xc, yc, status);
  EXPECT_EQ(status, 110005);
}

TEST(GaussianModel, IsTheBackgroundBeyondFourAndAHalfSigma) {
  const float params[7] = {10.0f, 10.0f, 100.0f, 1.0f, 2.0f, 0.0f, 5.0f};
  std::vector<float> model(20 * 20);
  int terminate = 1;
  Status status = kStatusGood;
  KZT_FUNGAUSSIAN(false, 20, 20, {}, {}, 1, 1, 20, 20, nullptr, nullptr, nullptr, nullptr, 7,
                  params, 20, 20, false, terminate, model, status);
  EXPECT_EQ(terminate, 0);
  EXPECT_NEAR(model[9 * 20 + 10], 5.0f + 100.0f * std::exp(-0.5f * 0.25f * 1.25f), 0.5f);
  EXPECT_EQ(model[9 * 20 + 15], 5.0f);   // u = 5 sigma
  EXPECT_GT(model[14 * 20 + 10], 5.0f);  // v = 2.5 sigma 2
}

class BeamCentreMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    io_clear_database();
    image.xmaxdat = image.ymaxdat = 100;
    image.xendelm = image.yendelm = 100;
  }
  void TearDown() override {
    io_clear_database();
    testing::reset_dialogue();
  }
  static float key(const char* name) { return testing::stored_key(name); }
  int run(float& x_beam, float& y_beam, Status& status) {
    int method = -5;
    float r1 = 0, r2 = 0, angle = 0, error = 0;
    KZT_BEAMCENTRE(false, image, 1.0e-4f, 2.0e-4f, true, method, x_beam, y_beam, r1, r2, angle,
                   error, status);
    return method;
  }
  GsDisplayedImage image;
  testing::TerminalCapture terminal;
};

TEST_F(BeamCentreMenu, KeyboardStoresAndNoChangeLeavesAlone) {
  {
    testing::ScriptedInput input({"?", "NO CHANGE"});
    float x = 0.005f, y = 0.004f;
    Status status = kStatusGood;
    EXPECT_EQ(run(x, y, status), 0);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(x, 0.005f);
    EXPECT_EQ(key("X_BEAM_CENTRE"), -999.0f);
    EXPECT_NE(terminal.text().find("NO CHANGE: Use existing beam centre"), std::string::npos);
  }
  {
    // Without a window a graphical method declines and the menu is asked
    // again, proposing what it proposed before, never the refused choice.
    testing::ScriptedInput input({"GRAPHICAL COORDINATE", "KEY", "", "40.5"});
    float x = 0.005f, y = 0.004f;
    Status status = kStatusGood;
    EXPECT_EQ(run(x, y, status), 1);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.prompts[1].find("[GRAPHICAL COORDINATE]"), std::string::npos)
        << input.prompts[1];
    EXPECT_NE(input.prompts[2].find("50.0"), std::string::npos) << input.prompts[2];
    EXPECT_NEAR(y, 40.5f * 2.0e-4f, 1e-9f);
    EXPECT_EQ(key("X_BEAM_CENTRE"), 50.0f);
    EXPECT_EQ(key("Y_BEAM_CENTRE"), 40.5f);
  }
  {
    // Enter at the menu takes the proposal, which without the window is
    // KEYBOARD; the refused choice is proposed neither then nor next time.
    for (const char* refused : {"CIRCLE COORDINATES", "2-D GAUSSIAN FIT"}) {
      testing::ScriptedInput input({refused, "", "", "30.5"});
      float x = 0.005f, y = 0.004f;
      Status status = kStatusGood;
      EXPECT_EQ(run(x, y, status), 1) << refused;
      EXPECT_EQ(status, kStatusGood);
      ASSERT_GE(input.prompts.size(), 2u);
      EXPECT_NE(input.prompts[0].find("[KEYBOARD]"), std::string::npos) << input.prompts[0];
      EXPECT_NE(input.prompts[1].find("[KEYBOARD]"), std::string::npos) << input.prompts[1];
      EXPECT_NEAR(y, 30.5f * 2.0e-4f, 1e-9f) << refused;
    }
  }
  {
    // The end of the input leaves everything as it was.
    testing::ScriptedInput input({});
    float x = 0.005f, y = 0.004f;
    Status status = kStatusGood;
    run(x, y, status);
    EXPECT_EQ(status, kStatusEscape);
    EXPECT_EQ(x, 0.005f);
  }
}

}  // namespace
}  // namespace kesta
