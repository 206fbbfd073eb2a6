// The 2-D feature model against formulas written here, and the fit
// recovering synthetic images from perturbed starts.

#include "app/fitting/model.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/fitting/fit2d.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/fitting_test_support.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

using testing::add_feature;
using testing::centre_axis;
using testing::frame_over;

constexpr Index kX = 64;
constexpr Index kY = 48;

struct Scene {
  std::vector<float> xaxis = centre_axis(kX);
  std::vector<float> yaxis = centre_axis(kY);
  ModelFrame frame = frame_over(kX, kY, xaxis, yaxis);
  std::vector<float> image = std::vector<float>(kX * kY, -7.0f);
  float at(Index x, Index y) const { return image[static_cast<std::size_t>(element(x, y, kX))]; }
  void draw(const FitModel& m, Status& status) {
    kzt_model_image(frame, m, 1, 1, kX, kY, image, status);
  }
};

TEST(FeatureModel, RotatedGaussianAndChebyshevTermsMatchTheirFormulas) {
  Scene s;
  FitModel m;
  add_feature(m, kGaussian, {30.0f, 20.0f, 100.0f, 4.0f, 2.0f, 0.5f});
  Status status = kStatusGood;
  s.draw(m, status);
  ASSERT_EQ(status, kStatusGood);
  for (Index y = 10; y <= 30; y += 3)
    for (Index x = 20; x <= 40; x += 3) {
      const double dx = x - 0.5 - 30.0, dy = y - 0.5 - 20.0;
      const double u = dx * std::cos(0.5) + dy * std::sin(0.5);
      const double v = -dx * std::sin(0.5) + dy * std::cos(0.5);
      const double expected = 100.0 * std::exp(-0.5 * (u * u / 16.0 + v * v / 4.0));
      EXPECT_NEAR(s.at(x, y), expected, 0.2) << x << "," << y;
    }
  // A zero height and zero widths still evaluate (raised to 1e-37).
  FitModel flat;
  add_feature(flat, kGaussian, {30.0f, 20.0f, 0.0f, 0.0f, 0.0f, 0.0f});
  s.draw(flat, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(s.at(31, 21), 0.0f, 1e-30f);

  // Surface terms: coefficient (1, 1) is c tx ty; (2, 0) is c T2(tx) / 2.
  FitModel surface;
  surface.x_order = 2;
  surface.y_order = 1;
  surface.x_min_poly = 0.5f;
  surface.x_max_poly = 63.5f;
  surface.y_min_poly = 0.5f;
  surface.y_max_poly = 47.5f;
  std::vector<float> c(6, 0.0f);
  c[1 + 3 * 1] = 3.0f;
  c[2] = 5.0f;
  add_feature(surface, kSurface, {c[0], c[1], c[2], c[3], c[4], c[5]});
  s.draw(surface, status);
  ASSERT_EQ(status, kStatusGood);
  for (Index y : {1, 17, 48})
    for (Index x : {1, 40, 64}) {
      const double tx = (2.0 * (x - 0.5) - 64.0) / 63.0, ty = (2.0 * (y - 0.5) - 48.0) / 47.0;
      EXPECT_NEAR(s.at(x, y), 3.0 * tx * ty + 5.0 * (2 * tx * tx - 1) / 2.0, 1e-4);
    }
  // Orders beyond the table are refused with their own codes.
  surface.x_order = 40;
  s.draw(surface, status);
  EXPECT_EQ(status, kBaseApp + 10009);
  status = kStatusGood;
  surface.x_order = 2;
  surface.y_order = 40;
  s.draw(surface, status);
  EXPECT_EQ(status, kBaseApp + 10010);
}

TEST(FeatureModel, PolarAndTwinPeaksAndTheSavedCentre) {
  Scene s;
  Status status = kStatusGood;
  // A twin about (32, 24): the second peak mirrored with its own height.
  FitModel twin;
  add_feature(twin, kTwinCentre, {32.0f, 24.0f, 44.0f, 24.0f, 50.0f, 1.5f, 0.1f, 20.0f});
  s.draw(twin, status);
  ASSERT_EQ(status, kStatusGood);
  // Gaussian in radius (SD 1.5 about 12) times Gaussian in azimuth (SD 0.1).
  const auto polar = [](double h, double x, double y, double azimuth) {
    const double r = std::hypot(x - 32.0, y - 24.0);
    const double a = std::remainder(std::atan2(y - 24.0, x - 32.0) - azimuth, 2 * M_PI);
    return h * std::exp(-0.5 * (r - 12.0) * (r - 12.0) / 2.25) * std::exp(-0.5 * a * a / 0.01);
  };
  for (Index x : {43, 45, 47})
    for (Index y : {23, 25, 26}) {
      EXPECT_NEAR(s.at(x, y), polar(50.0, x - 0.5, y - 0.5, 0.0), 0.5) << x << "," << y;
      EXPECT_NEAR(s.at(65 - x, 49 - y), polar(20.0, 64.5 - x, 48.5 - y, M_PI), 0.5);
    }
  // Far from both peaks nothing is drawn.
  EXPECT_EQ(s.at(32, 5), 0.0f);

  // A type 8 peak alone uses the centre (0, 0); after a type 7 peak, that one's centre.
  FitModel alone;
  add_feature(alone, kPolar, {20.0f, 0.0f, 10.0f, 1.0f, 0.5f});
  s.draw(alone, status);
  EXPECT_NEAR(s.at(21, 1), 10.0f * std::exp(-0.5 * 0.25), 0.3f);
  FitModel pair;
  add_feature(pair, kPolarCentre, {32.0f, 24.0f, 32.0f, 34.0f, 10.0f, 1.0f, 0.1f});
  add_feature(pair, kPolar, {32.0f, 14.0f, 30.0f, 1.0f, 0.1f});
  s.draw(pair, status);
  EXPECT_NEAR(s.at(33, 15), 30.0f * std::exp(-0.5 * 0.25 * 2), 2.0f);
}

TEST(FeatureModel, RowLinePositionsWorkedOutByHand) {
  Scene s;
  // Symmetry centre (50, 50) pixels, row-line centre 30 pixels along +X, no
  // rotation: order n lies at X = 50 + 30 / cos(s), Y = 50 + D tan(s) / p,
  // s = -(n PPa + PSh).
  std::vector<float> ax = centre_axis(200);
  ModelFrame f = frame_over(200, 200, ax, ax);
  f.sample_distance = 0.1f;
  f.x_pixel_size = f.y_pixel_size = 1.0e-4f;
  const float ppa = 0.01f, psh = 0.004f;
  std::vector<float> p = {-2, 2, 49.5f, 49.5f, 79.5f, 49.5f, 0.0f, ppa, psh, 1.0f, 2.0f, 0.01f,
                          1, 1, 1, 1, 1};
  std::vector<RowLinePeak> peaks;
  ASSERT_TRUE(kzt_rowline_positions(f, p, -2, 2, false, peaks));
  ASSERT_EQ(peaks.size(), 5u);
  for (int n = -2; n <= 2; ++n) {
    const double sa = -(n * ppa + psh);
    const RowLinePeak& pk = peaks[static_cast<std::size_t>(n + 2)];
    EXPECT_NEAR(pk.x, 49.5 + 30.0 / std::cos(sa), 1e-3) << n;
    EXPECT_NEAR(pk.y, 49.5 + 0.1 * std::tan(sa) / 1.0e-4, 1e-2) << n;
  }
  // The reflected pass mirrors Y about the row-line's own line.
  ASSERT_TRUE(kzt_rowline_positions(f, p, -2, 2, true, peaks));
  EXPECT_NEAR(peaks[0].y, 49.5 - 0.1 * std::tan(-(-2 * ppa + psh)) / 1.0e-4, 1e-2);
  // Centred on the symmetry centre: direction +X, no division by zero.
  p[4] = 49.5f;
  ASSERT_TRUE(kzt_rowline_positions(f, p, -2, 2, false, peaks));
  for (const RowLinePeak& pk : peaks) EXPECT_TRUE(std::isfinite(pk.x) && std::isfinite(pk.y));
  // Without geometry the model refuses the row-line.
  f.geometry_known = false;
  std::vector<float> image(200 * 200);
  Status status = kStatusGood;
  KZT_ROWLINE(f, p, 1, 1, 200, 200, image, status);
  EXPECT_EQ(status, kBaseApp + 11007);
  // Orders reversed are refused.
  status = kStatusGood;
  f.geometry_known = true;
  p[0] = 3;
  KZT_ROWLINE(f, p, 1, 1, 200, 200, image, status);
  EXPECT_EQ(status, kBaseApp + 13);
}

TEST(FeatureModel, FunTypeAndProjectionChecks) {
  FitModel m;
  add_feature(m, kGaussian, {1, 2, 3, 4, 5, 6});
  add_feature(m, kPolarCentre, {1, 2, 3, 4, 5, 6, 7});
  int type = -1, index = -1;
  Status status = kStatusGood;
  KZT_FUNTYPE(kMaxFitParameters, m.codes, m.num_parameters, 2, type, index, status);
  EXPECT_EQ(type, kPolarCentre);
  EXPECT_EQ(index, 7);
  KZT_FUNTYPE(kMaxFitParameters, m.codes, m.num_parameters, 3, type, index, status);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(index, 0);
  KZT_FUNTYPE(kMaxFitParameters, m.codes, 0, 1, type, index, status);
  EXPECT_EQ(status, kBaseApp + 5);
  status = kStatusGood;
  float x = 7, y = 7;
  KZT_CAL_PROJECTION(0.1f, 1e-4f, 1e-4f, 0, 0, 1, 0, 1.6f, 0.0f, x, y, status);
  EXPECT_EQ(status, kBaseApp + 22);
  status = kStatusGood;
  KZT_CAL_PROJECTION(0.0f, 1e-4f, 1e-4f, 0, 0, 1, 0, 0.1f, 0.0f, x, y, status);
  EXPECT_EQ(status, kBaseApp + 21);
  EXPECT_EQ(x, 7.0f);
  EXPECT_EQ(code_digit(-4071, 2), 7);
  EXPECT_EQ(make_code(3, 6, 1), 10603);
}

TEST(FeatureModel, AxisConversionsFollowAnUnevenAxisEitherWay) {
  // A d-spacing axis (uneven, downwards), the same upwards, and an axis that
  // runs no one way (taken as the line through its ends).
  std::vector<float> down;
  for (int i = 0; i < 50; ++i) down.push_back(0.7f / (2.0f * std::sin(0.05f + 0.004f * i)));
  const std::vector<float> up(down.rbegin(), down.rend());
  for (const std::vector<float>& axis : {down, up}) {
    for (std::size_t i = 0; i < axis.size(); ++i) {
      EXPECT_NEAR(axis_to_pixel(axis, 50, axis[i]), i + 0.5, 1e-3) << i;
      EXPECT_NEAR(pixel_to_axis(axis, 50, i + 0.5f), axis[i], 1e-5f * std::fabs(axis[i])) << i;
    }
    // Half way between two values is the edge of their pixels; beyond the
    // ends the end steps go on.
    EXPECT_NEAR(axis_to_pixel(axis, 50, (axis[9] + axis[10]) / 2.0f), 10.0, 1e-3);
    EXPECT_NEAR(axis_to_pixel(axis, 50, axis[0] - (axis[1] - axis[0])), -0.5, 1e-3);
    EXPECT_NEAR(pixel_to_axis(axis, 50, 50.5f), 2.0f * axis[49] - axis[48], 1e-4f);
  }
  // The defined count bounds what is read: beyond it the array holds no axis.
  std::vector<float> longer = up;
  longer.resize(80, -5.0f);
  EXPECT_NEAR(axis_to_pixel(longer, 50, up[20]), 20.5, 1e-3);
  const std::vector<float> unordered = {0.0f, 3.0f, 1.0f, 4.0f};
  EXPECT_NEAR(axis_to_pixel(unordered, 4, 2.0f), 2.0, 1e-6);
}

// Holds the parameters FIRST.. of M in another order: place FIRST + k takes
// what was at FIRST + ORDER[k], code, name, scale and constraint with it.
void reorder(FitModel& m, int first, std::initializer_list<int> order) {
  const FitModel was = m;
  int k = first;
  for (const int from : order) {
    const std::size_t to = static_cast<std::size_t>(k++);
    const std::size_t at = static_cast<std::size_t>(first + from);
    m.params[to] = was.params[at];
    m.codes[to] = was.codes[at];
    m.names[to] = was.names[at];
    m.scales[to] = was.scales[at];
    m.constraints[to] = was.constraints[at];
  }
}

// Synthetic data from MODEL (plus a constant), fitted from START.
FitModel fit_back(const FitModel& truth, FitModel start, std::vector<std::uint8_t> mask = {},
                  float rubbish = 0.0f) {
  Scene s;
  Status status = kStatusGood;
  s.draw(truth, status);
  EXPECT_EQ(status, kStatusGood);
  for (std::size_t i = 0; i < mask.size(); ++i)
    if (mask[i] != 0) s.image[i] = rubbish;
  std::vector<float> model_out(s.image.size(), -1.0f);
  testing::TerminalCapture quiet;
  const Fit2dOutcome o = KZT_LSQKESTA(s.frame, s.image, {}, mask, 1, 1, kX, kY, false, 40.0f,
                                      start, model_out, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(o.fitted);
  EXPECT_TRUE(o.valid);
  return start;
}

TEST(Fit2d, RecoversTwoGaussiansOnASurfaceWithAConstrainedValueAndMaskedRubbish) {
  FitModel truth;
  truth.x_order = truth.y_order = 1;
  truth.x_min_poly = 0.5f;
  truth.x_max_poly = 63.5f;
  truth.y_min_poly = 0.5f;
  truth.y_max_poly = 47.5f;
  add_feature(truth, kSurface, {20.0f, 2.0f, 1.0f, 0.5f});
  add_feature(truth, kGaussian, {20.0f, 15.0f, 200.0f, 3.0f, 2.0f, 0.3f});
  add_feature(truth, kGaussian, {45.0f, 30.0f, 150.0f, 2.5f, 4.0f, -0.4f});
  FitModel start = truth;
  const float perturb[] = {2, 1, 0.5f, 0.5f, 1.5f, -1.0f, 30, 0.5f, -0.3f, 0.1f,
                           -1.5f, 1.0f, -20, 0.3f, 0.6f, 0.1f};
  for (int i = 0; i < 16; ++i) start.params[static_cast<std::size_t>(i)] += perturb[i];
  // The first Gaussian's rotation is held at a wrong value.
  start.constraints[9] = true;
  const float held = start.params[9];
  // The second Gaussian's parameters are held height first: read by their
  // codes, the fit, its check and its result are the same.
  reorder(start, 10, {2, 0, 1, 3, 4, 5});
  std::vector<std::uint8_t> mask(kX * kY, 0);
  for (Index y = 40; y <= 44; ++y)
    for (Index x = 5; x <= 15; ++x) mask[static_cast<std::size_t>(element(x, y, kX))] = 1;
  const FitModel fitted = fit_back(truth, start, mask, 1.0e6f);
  EXPECT_EQ(std::memcmp(&fitted.params[9], &held, sizeof held), 0);
  EXPECT_NEAR(fitted.params[11], 45.0f, 0.05f);
  EXPECT_NEAR(fitted.params[12], 30.0f, 0.05f);
  EXPECT_NEAR(fitted.params[10], 150.0f, 2.0f);
  EXPECT_NEAR(fitted.params[0], 20.0f, 0.5f);
  // The integrated intensity of each Gaussian: MAX 2 pi SD1 SD2.
  ASSERT_EQ(fitted.num_results, 2);
  EXPECT_NEAR(fitted.results[1], fitted.params[10] * 6.283185f * fitted.params[13] *
                                     fitted.params[14], 1e-2f);
}

TEST(Fit2d, RecoversATwinPolarPairAndReportsItsIntensities) {
  FitModel truth;
  add_feature(truth, kTwinCentre, {32.0f, 24.0f, 46.0f, 26.0f, 80.0f, 1.5f, 0.12f, 40.0f});
  FitModel start = truth;
  start.params[2] += 0.8f;
  start.params[3] -= 0.6f;
  start.params[4] = 60.0f;
  start.params[7] = 55.0f;
  start.params[5] = 2.0f;
  const FitModel fitted = fit_back(truth, start);
  EXPECT_NEAR(fitted.params[2], 46.0f, 0.05f);
  EXPECT_NEAR(fitted.params[3], 26.0f, 0.05f);
  EXPECT_NEAR(fitted.params[4], 80.0f, 1.0f);
  EXPECT_NEAR(fitted.params[7], 40.0f, 1.0f);
  ASSERT_EQ(fitted.num_results, 2);
  // The two integrals scale with the heights.
  EXPECT_NEAR(fitted.results[0] / fitted.results[1], fitted.params[4] / fitted.params[7], 1e-3);
  // Summed over the peak's reach only: the whole image holds the same total.
  Scene s;
  Status status = kStatusGood;
  FitModel one = fitted;
  one.params[7] = 0.0f;
  s.draw(one, status);
  double total = 0.0;
  for (float v : s.image) total += v;
  EXPECT_NEAR(fitted.results[0], total, 1e-3 * total);
}

TEST(Fit2d, RecoversAFiveOrderRowLine) {
  std::vector<float> ax = centre_axis(kX), ay = centre_axis(kY);
  FitModel truth;
  add_feature(truth, kRowLine,
              {-2, 2, 32.0f, 2.0f, 32.0f, 24.0f, 0.0f, 0.006f, 0.002f, 0.5f, 1.2f, 0.05f, 50, 80,
               120, 80, 50});
  truth.constraints[0] = truth.constraints[1] = true;
  FitModel start = truth;
  for (int i = 12; i < 17; ++i) start.params[static_cast<std::size_t>(i)] *= 0.7f;
  start.params[7] = 0.0062f;
  const float scales[] = {0, 0, 1, 1, 1, 1, 0.017f, 0.0001f, 0.0001f, 0.1f, 1, 0.0017f};
  std::copy(std::begin(scales), std::end(scales), start.scales.begin());
  const FitModel fitted = fit_back(truth, start);
  EXPECT_NEAR(fitted.params[7], 0.006f, 2e-5f);
  for (int i = 12; i < 17; ++i)
    EXPECT_NEAR(fitted.params[static_cast<std::size_t>(i)], truth.params[static_cast<std::size_t>(i)],
                2.0f);
  ASSERT_EQ(fitted.num_results, 5);
  EXPECT_EQ(fitted.result_names[0], "ROW 1I -2");
  EXPECT_EQ(fitted.result_names[4], "ROW 1I  2");
}

TEST(Fit2d, FitEndingOnNoPossiblePeakSaysSoFeatureByFeature) {
  struct Case {
    const char* what;
    Index xmax, ymax;
    std::vector<std::vector<float>> truth, start;
    const char* warning;
    bool height_first = false;  // the last feature's parameters held height first
  };
  const float nan = std::nanf("");
  const Case cases[] = {
      {"a start width of 0.3 pixel", 32, 24, {{16, 12, 100, 3, 2, 0}},
       {{20.6f, 9.7f, 50, 0.3f, 0.3f, 0}},
       "WARNING: Feature 1 is not valid: G1 XCe, G1 YCe = ("},
      {"a centre that is not a number", 32, 24, {{16, 12, 100, 3, 2, 0}},
       {{nan, 12, 100, 3, 2, 0}}, "WARNING: Feature 1 is not valid: G1 XCe is not a finite number"},
      {"two peaks 4 pixels apart", 64, 48, {{30, 24, 100, 2.5f, 2.5f, 0}, {34, 24, 60, 2.5f, 2.5f, 0}},
       {{31, 24, 100, 6, 2.5f, 0}, {32, 24, 60, 6, 2.5f, 0}},
       "WARNING: Feature 2 is not valid: G2 MAX = -"},
      {"two peaks 4 pixels apart, held height first", 64, 48,
       {{30, 24, 100, 2.5f, 2.5f, 0}, {34, 24, 60, 2.5f, 2.5f, 0}},
       {{31, 24, 100, 6, 2.5f, 0}, {32, 24, 60, 6, 2.5f, 0}},
       "WARNING: Feature 2 is not valid: G2 MAX = -", true},
  };
  for (const Case& c : cases) {
    const std::vector<float> ax = centre_axis(c.xmax), ay = centre_axis(c.ymax);
    const ModelFrame frame = frame_over(c.xmax, c.ymax, ax, ay);
    const auto model_of = [](const std::vector<std::vector<float>>& features) {
      FitModel m;
      const char* tags[] = {" XCe", " YCe", " MAX", " 1SD", " 2SD", " ANG"};
      for (const std::vector<float>& f : features) {
        add_feature(m, kGaussian, {f[0], f[1], f[2], f[3], f[4], f[5]});
        for (int k = 0; k < 6; ++k) {
          std::string name = "G" + std::to_string(m.num_features) + tags[k];
          name.resize(10, ' ');
          m.names[static_cast<std::size_t>(m.num_parameters - 6 + k)] = name;
        }
      }
      return m;
    };
    std::vector<float> data(static_cast<std::size_t>(c.xmax * c.ymax));
    std::vector<float> out(data.size());
    Status status = kStatusGood;
    kzt_model_image(frame, model_of(c.truth), 1, 1, c.xmax, c.ymax, data, status);
    FitModel fitted = model_of(c.start);
    if (c.height_first) reorder(fitted, fitted.num_parameters - 6, {2, 0, 1, 3, 4, 5});
    const FitModel start = fitted;
    testing::TerminalCapture terminal;
    const Fit2dOutcome o = KZT_LSQKESTA(frame, data, {}, {}, 1, 1, c.xmax, c.ymax, false, 11.5f,
                                        fitted, out, status);
    EXPECT_EQ(status, kStatusGood) << c.what;
    // The fit ran and keeps its values to be looked at, but says they are no model.
    EXPECT_TRUE(o.fitted) << c.what;
    EXPECT_FALSE(o.valid) << c.what;
    EXPECT_NE(fitted.params, start.params) << c.what;
    EXPECT_NE(terminal.text().find(c.warning), std::string::npos) << c.what << terminal.text();
    EXPECT_NE(terminal.text().find("WARNING: The fit has not found a valid model"),
              std::string::npos)
        << c.what;
  }
}

TEST(Fit2d, FitEndingOnAFailureIsNoValidModel) {
  // On a sum of squares that is not a finite number (two peaks of 3e38 on
  // one another) the fit stopped wherever it was: its peaks may all be
  // possible ones, but no model was found, and the result text says so as
  // well as that the fit did not converge. Out of calls it says only that it
  // did not converge: it may stand at the minimum.
  FitModel truth;
  add_feature(truth, kGaussian, {20.5f, 15.5f, 100.0f, 3.0f, 2.0f, 0.0f});
  FitModel short_of_calls;
  add_feature(short_of_calls, kGaussian, {22.0f, 14.0f, 60.0f, 4.0f, 3.0f, 0.2f});
  FitModel overflowing;
  add_feature(overflowing, kGaussian, {20.5f, 15.5f, 3.0e38f, 0.3f, 0.3f, 0.0f}, 1.0e37f);
  add_feature(overflowing, kGaussian, {20.5f, 15.5f, 3.0e38f, 0.3f, 0.3f, 0.0f}, 1.0e37f);
  const struct {
    const char* what;
    FitModel start;
    float iterations;
    int end_code;
    bool valid;
  } cases[] = {{"out of calls", short_of_calls, 0.5f, 4, true},
               {"overflowing", overflowing, 11.5f, 8, false}};
  for (const auto& c : cases) {
    Scene s;
    Status status = kStatusGood;
    s.draw(truth, status);
    FitModel fitted = c.start;
    std::vector<float> out(s.image.size());
    testing::TerminalCapture terminal;
    const Fit2dOutcome o = KZT_LSQKESTA(s.frame, s.image, {}, {}, 1, 1, kX, kY, false,
                                        c.iterations, fitted, out, status);
    EXPECT_EQ(status, kStatusGood) << c.what;
    EXPECT_TRUE(o.fitted) << c.what;
    EXPECT_EQ(o.end_code, c.end_code) << c.what << terminal.text();
    EXPECT_EQ(o.valid, c.valid) << c.what << terminal.text();
    EXPECT_NE(terminal.text().find("WARNING: Problem fitting the model to the data\n"),
              std::string::npos)
        << c.what;
    EXPECT_EQ(terminal.text().find(kNotValidModel) == std::string::npos, c.valid) << c.what;
    const std::vector<std::string> text = kzt_fit_result_text(fitted, o);
    EXPECT_EQ(std::find(text.begin(), text.end(), "WARNING: NOT A VALID MODEL (SEE THE WARNINGS)") ==
                  text.end(),
              c.valid)
        << c.what;
  }
}

TEST(Fit2d, OneRowPeakWhoseWidthWentBelowZeroEndsAtTheMinimum) {
  // FIT on a scan (one row): a Gaussian of height 60 and SD 3 on 20, noise
  // 2, started four times too wide and a third as high. The first steps
  // take the width (or the height) below 0, where the model evaluates it at
  // 1e-37 and no longer changes with it: the fit ended there, no valid
  // model. Freed, it ends where a fit from the truth does.
  constexpr Index kRow = 200;
  const std::vector<float> ax = centre_axis(kRow), ay = centre_axis(1);
  const ModelFrame frame = frame_over(kRow, 1, ax, ay);
  const auto gaussian_on_level = [](float x, float height, float sd) {
    FitModel m;
    add_feature(m, kGaussian, {x, 0.5f, height, sd, 1.0f, 0.0f});
    m.scales = {1.0f, 1.0f, 5.0f, 0.5f, 0.5f, 0.1f, 1.0f};
    m.constraints[1] = m.constraints[4] = m.constraints[5] = true;
    add_feature(m, kSurface, {40.0f});
    m.x_max_poly = static_cast<float>(kRow);
    return m;
  };
  std::vector<float> out(kRow);
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  for (const std::uint64_t seed : {1u, 3u, 6u}) {
    std::vector<float> data(kRow);
    testing::Noise noise(seed, 2.0);
    for (Index x = 0; x < kRow; ++x) {
      const double d = (x + 0.5 - 80.0) / 3.0;
      data[static_cast<std::size_t>(x)] =
          static_cast<float>(20.0 + 60.0 * std::exp(-0.5 * d * d)) + noise.next();
    }
    FitModel truth = gaussian_on_level(80.0f, 60.0f, 3.0f);
    const Fit2dOutcome best =
        KZT_LSQKESTA(frame, data, {}, {}, 1, 1, kRow, 1, false, 30.0f, truth, out, status);
    FitModel model = gaussian_on_level(80.0f, 20.0f, 12.0f);
    const Fit2dOutcome o =
        KZT_LSQKESTA(frame, data, {}, {}, 1, 1, kRow, 1, false, 30.0f, model, out, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_TRUE(o.valid) << seed;
    EXPECT_LE(o.sum_squares, 1.005f * best.sum_squares) << seed;
    EXPECT_NEAR(model.params[3], truth.params[3], 0.01f) << seed;
  }
}

// A count drawn from the Poisson distribution of MEAN (a Gaussian of its
// spread, rounded, for a large mean).
float poisson_count(testing::Noise& noise, double mean) {
  if (mean > 50.0) return static_cast<float>(std::round(mean + std::sqrt(mean) * noise.next()));
  const double limit = std::exp(-mean);
  int count = 0;
  for (double product = noise.uniform(); product > limit; product *= noise.uniform()) ++count;
  return static_cast<float>(count);
}

TEST(Fit2d, APeakFittedToCoarseSharedOrGrowingNoiseIsNoValidFeature) {
  // FIT on scans of noise alone, a Gaussian started a point wide on the
  // point that stands out most: noise rounded to whole counts (most
  // neighbours equal, and most misfits), noise averaged over 3 neighbours
  // (neighbours share it) and counts rising from 20 to 4000 (the noise where
  // the peak is, in the last fifth, not the scan's). The bump fitted is no
  // feature. With a peak of 8 noises and 2 points wide added and started
  // there, the model is valid; so it is on counts of 0.3 on average (only
  // the peak: the Poisson tail puts a count of 4, 7 of its deviations, in
  // some 4000 points).
  struct Scan {
    const char* what;
    double sd;  // of the noise where the peak is put
    std::vector<float> level, data;
  };
  testing::Noise noise(2026, 1.0), counts(14, 1.0);
  Scan rounded{"noise rounded to whole counts", 0.53, std::vector(1000, 100.0f), {}};
  for (int k = 0; k < 1000; ++k) rounded.data.push_back(std::round(100.0f + 0.45f * noise.next()));
  Scan sparse{"counts of 0.3", std::sqrt(0.3), std::vector(1000, 0.3f), {}};
  for (int k = 0; k < 1000; ++k) sparse.data.push_back(poisson_count(noise, 0.3));
  Scan averaged{"noise averaged over 3 neighbours", 5.0 / std::sqrt(3.0), std::vector(500, 100.0f),
                {}};
  std::vector<float> raw(502);
  for (float& v : raw) v = 5.0f * noise.next();
  for (std::size_t k = 0; k < 500; ++k)
    averaged.data.push_back(100.0f + (raw[k] + raw[k + 1] + raw[k + 2]) / 3.0f);
  Scan rising{"counts rising from 20 to 4000", 60.0, {}, {}};
  for (int k = 0; k < 2000; ++k) {
    rising.level.push_back(20.0f + 3980.0f * static_cast<float>(k) / 1999.0f);
    rising.data.push_back(poisson_count(counts, rising.level.back()));
  }
  for (const Scan* c : {&rounded, &averaged, &rising, &sparse}) {
    const Index n = static_cast<Index>(c->data.size());
    const std::vector<float> ax = centre_axis(n), ay = centre_axis(1);
    const ModelFrame frame = frame_over(n, 1, ax, ay);
    const float slope = c->level.back() - c->level.front();
    const auto gaussian_on = [&](float x, float height) {
      FitModel m;
      add_feature(m, kGaussian, {x, 0.5f, height, 1.0f, 1.0f, 0.0f});
      m.names[2] = "G1 MAX    ";
      m.constraints[1] = m.constraints[4] = m.constraints[5] = true;
      m.x_order = slope > 0.0f ? 1 : 0;
      m.x_max_poly = static_cast<float>(n);
      const float constant = 2.0f * (c->level.front() + c->level.back());
      if (slope > 0.0f)
        add_feature(m, kSurface, {constant, slope});
      else
        add_feature(m, kSurface, {constant});
      return m;
    };
    std::vector<float> out(c->data.size());
    Status status = kStatusGood;
    std::size_t top = slope > 0.0f ? c->data.size() * 4 / 5 : 0;
    for (std::size_t k = top; k < c->data.size(); ++k)
      if (c->data[k] - c->level[k] > c->data[top] - c->level[top]) top = k;
    if (c != &sparse) {
      FitModel model = gaussian_on(ax[top], c->data[top] - c->level[top]);
      testing::TerminalCapture terminal;
      const Fit2dOutcome o =
          KZT_LSQKESTA(frame, c->data, {}, {}, 1, 1, n, 1, false, 30.0f, model, out, status);
      EXPECT_FALSE(o.valid) << c->what << terminal.text();
      EXPECT_NE(terminal.text().find("G1 MAX = "), std::string::npos) << c->what;
      EXPECT_NE(terminal.text().find("standard deviations, fewer than 5"), std::string::npos)
          << c->what << terminal.text();
    }
    if (c == &rounded) {
      // Started 20 points wide anywhere: most misfits then step by the
      // model's own small steps alone, which are no measure of the noise.
      FitModel model = gaussian_on(ax[300], 0.5f);
      model.params[3] = 20.0f;
      testing::TerminalCapture terminal;
      const Fit2dOutcome o =
          KZT_LSQKESTA(frame, c->data, {}, {}, 1, 1, n, 1, false, 30.0f, model, out, status);
      EXPECT_FALSE(o.valid) << c->what << terminal.text();
      const std::string said = "stands out of the noise (";
      const std::size_t at = terminal.text().find(said);
      ASSERT_NE(at, std::string::npos) << terminal.text();
      EXPECT_NEAR(std::stod(terminal.text().substr(at + said.size())), c->sd, 0.3 * c->sd)
          << terminal.text();
    }
    // The peak a third of the way along (two thirds for the rising counts).
    const float at = ax[c->data.size() * (slope > 0.0f ? 2 : 1) / 3] + 0.3f;
    const float height = static_cast<float>(8.0 * c->sd);
    std::vector<float> peaked = c->data;
    for (std::size_t k = 0; k < peaked.size(); ++k)
      peaked[k] += height * std::exp(-0.125f * (ax[k] - at) * (ax[k] - at));
    FitModel model = gaussian_on(at, height);
    testing::TerminalCapture terminal;
    const Fit2dOutcome o =
        KZT_LSQKESTA(frame, peaked, {}, {}, 1, 1, n, 1, false, 30.0f, model, out, status);
    ASSERT_EQ(status, kStatusGood) << c->what;
    EXPECT_TRUE(o.valid) << c->what << terminal.text();
    EXPECT_NEAR(model.params[2], height, 0.25f * height) << c->what;
  }
}

TEST(Fit2d, ABumpOfAFewCountsIsJudgedByTheirOwnTail) {
  // FIT of a Gaussian (started 2 points wide) on the highest bump of counts
  // of 0.3 or 1 on average along a scan, and of 1 over an image: a count of
  // 4 or 5 where a few tenths are expected stands out of their noise by
  // many of a normal deviate's standard deviations, yet is common enough
  // among a few hundred points. Such a bump is no feature; a peak whose
  // height's estimate stands 14 normal deviations out of the same counts
  // (some 8 by their own tail) is one.
  struct Case {
    double mean;
    Index nx, ny;
    std::uint64_t seed;
  };
  for (const Case c : {Case{0.3, 600, 1, 5034}, Case{0.3, 600, 1, 5051}, Case{1.0, 600, 1, 5221},
                       Case{1.0, 90, 70, 5119}, Case{1.0, 90, 70, 5238}}) {
    const bool scan = c.ny == 1;
    const std::vector<float> ax = centre_axis(c.nx), ay = centre_axis(c.ny);
    const ModelFrame frame = frame_over(c.nx, c.ny, ax, ay);
    const double power = scan ? std::sqrt(M_PI) * 2.0 : M_PI * 4.0;
    for (const double deviations : {0.0, 14.0}) {
      testing::Noise noise(c.seed, 1.0);
      const double height = deviations * std::sqrt(c.mean / power);
      std::vector<float> data(static_cast<std::size_t>(c.nx * c.ny));
      for (Index y = 0; y < c.ny; ++y)
        for (Index x = 0; x < c.nx; ++x) {
          const double a = (x + 0.5 - c.nx / 2 - 0.3) / 2.0,
                       b = scan ? 0.0 : (y + 0.5 - c.ny / 2 - 0.2) / 2.0;
          data[static_cast<std::size_t>(y * c.nx + x)] =
              poisson_count(noise, c.mean + height * std::exp(-0.5 * (a * a + b * b)));
        }
      // The bump: the most counts over 5 points (5 x 5 of an image).
      std::size_t top = static_cast<std::size_t>((scan ? 0 : c.ny / 2) * c.nx + c.nx / 2);
      double most = -1.0;
      for (Index y = scan ? 0 : 10; deviations == 0.0 && y < (scan ? 1 : c.ny - 10); ++y)
        for (Index x = 10; x < c.nx - 10; ++x) {
          double sum = 0.0;
          for (Index j = scan ? 0 : -2; j <= (scan ? 0 : 2); ++j)
            for (Index i = -2; i <= 2; ++i) sum += data[static_cast<std::size_t>((y + j) * c.nx + x + i)];
          if (sum > most) {
            most = sum;
            top = static_cast<std::size_t>(y * c.nx + x);
          }
        }
      const std::size_t nx = static_cast<std::size_t>(c.nx);
      FitModel model;
      add_feature(model, kGaussian,
                  {ax[top % nx], ay[top / nx],
                   std::max(data[top] - static_cast<float>(c.mean), 0.5f), 2.0f,
                   scan ? 1.0f : 2.0f, 0.0f});
      model.names[2] = "G1 MAX    ";
      model.constraints[5] = true;
      if (scan) model.constraints[1] = model.constraints[4] = true;
      add_feature(model, kSurface, {static_cast<float>(4.0 * c.mean)});
      std::vector<float> out(data.size());
      Status status = kStatusGood;
      testing::TerminalCapture terminal;
      const Fit2dOutcome o = KZT_LSQKESTA(frame, data, {}, {}, 1, 1, c.nx, c.ny, false, 30.0f,
                                          model, out, status);
      ASSERT_EQ(status, kStatusGood);
      EXPECT_EQ(o.valid, deviations > 0.0) << c.seed << ' ' << deviations << terminal.text();
      EXPECT_EQ(terminal.text().find("stands out of the noise") == std::string::npos,
                deviations > 0.0)
          << c.seed << ' ' << deviations << terminal.text();
    }
  }
}

TEST(Fit2d, AStrongPeakBesideOneLeftOutOfTheModelStandsOutOfTheNoise) {
  // FIT on a scan of noise 5 on 200 with a peak of 40 noises (SD 3) and,
  // 45 points off, one of 900 noises (SD 5) that the model leaves out, as
  // in a powder scan where only some peaks are fitted: the misfits about the
  // fitted peak hold the other's whole side, which is no noise. The fitted
  // peak is valid; the scan in either order.
  constexpr Index kRow = 400;
  const std::vector<float> ax = centre_axis(kRow), ay = centre_axis(1);
  const ModelFrame frame = frame_over(kRow, 1, ax, ay);
  testing::Noise noise(11, 5.0);
  std::vector<float> data(kRow);
  for (Index x = 0; x < kRow; ++x) {
    const double a = (x + 0.5 - 200.3) / 3.0, b = (x + 0.5 - 245.0) / 5.0;
    data[static_cast<std::size_t>(x)] = static_cast<float>(
        200.0 + 200.0 * std::exp(-0.5 * a * a) + 4500.0 * std::exp(-0.5 * b * b) + noise.next());
  }
  std::vector<float> reversed(data.rbegin(), data.rend());
  std::vector<float> out(kRow);
  for (const bool flipped : {false, true}) {
    FitModel model;
    add_feature(model, kGaussian, {flipped ? 199.7f : 200.5f, 0.5f, 190.0f, 3.3f, 1.0f, 0.0f});
    model.names[2] = "G1 MAX    ";
    model.constraints[1] = model.constraints[4] = model.constraints[5] = true;
    // The level held: free, it rises under the other peak.
    add_feature(model, kSurface, {800.0f});
    model.constraints[6] = true;
    model.x_max_poly = static_cast<float>(kRow);
    Status status = kStatusGood;
    testing::TerminalCapture terminal;
    const Fit2dOutcome o = KZT_LSQKESTA(frame, flipped ? reversed : data, {}, {}, 1, 1, kRow, 1,
                                        false, 30.0f, model, out, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_TRUE(o.valid) << flipped << terminal.text();
    EXPECT_EQ(terminal.text().find("stands out of the noise"), std::string::npos)
        << flipped << terminal.text();
    EXPECT_NEAR(model.params[2], 200.0f, 20.0f) << flipped;
  }
}

TEST(Fit2d, AScansPeakIsJudgedByTheNoiseNearItWhateverTheAxisStep) {
  // A scan of 4000 points 0.01 apart whose noise rises from 10 to 40 at
  // its middle, a Gaussian of 3 points that fits some 4 deviations of the
  // louder noise out of it, 300 points into the loud half (read with the
  // quiet half, about 5). Its noise is read near
  // it, along the scan, whatever the axis's step: the width across a scan
  // of one row means nothing in the axis's units and widens nothing.
  constexpr Index kSize = 4000;
  std::vector<float> ax(kSize);
  for (Index k = 0; k < kSize; ++k) ax[static_cast<std::size_t>(k)] = 0.01f * (k + 0.5f);
  const std::vector<float> ay = centre_axis(1);
  const ModelFrame frame = frame_over(kSize, 1, ax, ay);
  const float at = ax[2300], width = 0.03f;
  const float height = 5.2f * 40.0f / std::sqrt(3.0f * 1.7725f);
  testing::Noise noise(5, 1.0);
  std::vector<float> data(static_cast<std::size_t>(kSize));
  for (std::size_t k = 0; k < data.size(); ++k) {
    const float u = (ax[k] - at) / width;
    data[k] = static_cast<float>(1000.0 + (k < 2000 ? 10.0 : 40.0) * noise.next() +
                                 height * std::exp(-0.5f * u * u));
  }
  FitModel model;
  add_feature(model, kGaussian, {at, 0.5f, height, width, 1.0f, 0.0f});
  model.names[2] = "G1 MAX    ";
  model.constraints[1] = model.constraints[4] = model.constraints[5] = true;
  add_feature(model, kSurface, {4000.0f});
  model.constraints[6] = true;
  model.x_max_poly = ax.back();
  std::vector<float> out(data.size());
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  const Fit2dOutcome o =
      KZT_LSQKESTA(frame, data, {}, {}, 1, 1, kSize, 1, false, 30.0f, model, out, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_FALSE(o.valid) << terminal.text();
  EXPECT_NE(terminal.text().find("stands out of the noise"), std::string::npos) << terminal.text();
}

TEST(Fit2d, APeakAmongLeftOutNeighboursOrOnCoarseCountsIsJudgedByTheirNoise) {
  // FIT of one Gaussian on scans where other strong peaks stand near it,
  // left out of the model as in a powder scan where only some are fitted:
  // noise 5 on 200 with three of 240-500 noises 20-45 points off (their
  // sides hold many of the nearby misfits), and values rounded to whole
  // numbers, noise 0.3, with one of 30 times the height 30 points off (most
  // misfits equal, the other's side the most of the rest), and noise 1 on
  // 200 with seven of 600-1500 noises 50-75 points apart. The fitted peak
  // (some 20 noises, where it is measured) is valid.
  struct Scan {
    const char* what;
    Index size;
    float level, sd, width;
    std::vector<std::array<float, 3>> others;  // offset, height, SD
    bool rounded;
  };
  const Scan scans[] = {
      {"three neighbours", 1500, 200.0f, 5.0f, 1.9f,
       {{-44.0f, 1900.0f, 1.8f}, {-24.0f, 1200.0f, 2.5f}, {21.0f, 2500.0f, 1.6f}},
       false},
      {"rounded counts", 400, 50.0f, 0.3f, 1.7f, {{-30.0f, 100.0f, 3.0f}}, true},
      // A dense powder scan: the others' sides fill most of the points about
      // the fitted peak, far more than the trimming of the differences drops.
      {"a dense scan",
       1500,
       200.0f,
       1.0f,
       2.2f,
       {{-187.0f, 900.0f, 4.5f},
        {-133.0f, 600.0f, 5.5f},
        {-77.0f, 1500.0f, 6.0f},
        {-24.0f, 800.0f, 1.5f},
        {52.0f, 1200.0f, 5.0f},
        {109.0f, 700.0f, 4.0f},
        {166.0f, 1000.0f, 2.5f}},
       false},
  };
  testing::Noise noise(77, 1.0);
  for (const Scan& c : scans) {
    const std::vector<float> ax = centre_axis(c.size), ay = centre_axis(1);
    const ModelFrame frame = frame_over(c.size, 1, ax, ay);
    const float at = ax[static_cast<std::size_t>(c.size / 2)] + 0.3f;
    const float height = 20.0f * c.sd / std::sqrt(c.width * 1.7725f);
    std::vector<float> data(static_cast<std::size_t>(c.size));
    for (std::size_t k = 0; k < data.size(); ++k) {
      const auto bump = [&](float centre, float h, float sd) {
        const float u = (ax[k] - centre) / sd;
        return h * std::exp(-0.5f * u * u);
      };
      double v = c.level + c.sd * noise.next() + bump(at, height, c.width);
      for (const auto& o : c.others) v += bump(at + o[0], o[1], o[2]);
      data[k] = static_cast<float>(c.rounded ? std::round(v) : v);
    }
    FitModel model;
    add_feature(model, kGaussian, {at + 0.4f, 0.5f, 0.9f * height, 1.2f * c.width, 1.0f, 0.0f});
    model.names[2] = "G1 MAX    ";
    model.constraints[1] = model.constraints[4] = model.constraints[5] = true;
    // The level held: free, it rises under the others.
    add_feature(model, kSurface, {4.0f * c.level});
    model.constraints[6] = true;
    model.x_max_poly = static_cast<float>(c.size);
    std::vector<float> out(data.size());
    Status status = kStatusGood;
    testing::TerminalCapture terminal;
    const Fit2dOutcome o =
        KZT_LSQKESTA(frame, data, {}, {}, 1, 1, c.size, 1, false, 30.0f, model, out, status);
    ASSERT_EQ(status, kStatusGood) << c.what;
    EXPECT_TRUE(o.valid) << c.what << terminal.text();
    EXPECT_EQ(terminal.text().find("stands out of the noise"), std::string::npos)
        << c.what << terminal.text();
    EXPECT_NEAR(model.params[0], at, 0.3f * c.width) << c.what;
  }
  // An image of counts of 2 on average, a Gaussian started 2 pixels wide
  // where they stand highest over 9 x 9 pixels: the bump it ends on is no
  // feature, judged by the counts' own noise (differences of whole numbers
  // are 1 or 0 most often, which is no measure of it).
  constexpr Index kSide = 96;
  const std::vector<float> ax = centre_axis(kSide);
  const ModelFrame frame = frame_over(kSide, kSide, ax, ax);
  std::vector<float> counts(static_cast<std::size_t>(kSide * kSide));
  for (float& v : counts) v = poisson_count(noise, 2.0);
  Index top_x = 0, top_y = 0;
  float best = -1.0f;
  for (Index y = 10; y + 10 < kSide; ++y)
    for (Index x = 10; x + 10 < kSide; ++x) {
      float sum = 0.0f;
      for (Index j = -4; j <= 4; ++j)
        for (Index i = -4; i <= 4; ++i)
          sum += counts[static_cast<std::size_t>((y + j) * kSide + x + i)];
      if (sum > best) {
        best = sum;
        top_x = x;
        top_y = y;
      }
    }
  FitModel model;
  add_feature(model, kGaussian,
              {ax[static_cast<std::size_t>(top_x)], ax[static_cast<std::size_t>(top_y)], 1.0f,
               2.0f, 2.0f, 0.0f});
  model.names[2] = "G1 MAX    ";
  model.constraints[5] = true;
  add_feature(model, kSurface, {8.0f});
  model.constraints[6] = true;
  model.x_max_poly = model.y_max_poly = static_cast<float>(kSide);
  std::vector<float> out(counts.size());
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  const Fit2dOutcome o =
      KZT_LSQKESTA(frame, counts, {}, {}, 1, 1, kSide, kSide, false, 30.0f, model, out, status);
  EXPECT_FALSE(o.valid) << terminal.text();
  const std::string said = "stands out of the noise (";
  const std::size_t at = terminal.text().find(said);
  ASSERT_NE(at, std::string::npos) << terminal.text();
  EXPECT_NEAR(std::stod(terminal.text().substr(at + said.size())), std::sqrt(2.0), 0.15)
      << terminal.text();
  // A scan of counts of 1.3 on average, where a quarter or so of the pairs
  // of points hold equal counts: its bump is judged by the counts' own noise
  // too, their steps of 4 and more (a few in a hundred) among it.
  constexpr Index kLength = 4000;
  const std::vector<float> along = centre_axis(kLength), across = centre_axis(1);
  const ModelFrame scan = frame_over(kLength, 1, along, across);
  std::vector<float> sparse(static_cast<std::size_t>(kLength));
  for (float& v : sparse) v = poisson_count(noise, 1.3);
  std::size_t top = 0;
  float highest = -1.0f;
  for (std::size_t k = 30; k + 30 < sparse.size(); ++k) {
    float sum = 0.0f;
    for (std::size_t i = k - 2; i <= k + 2; ++i) sum += sparse[i];
    if (sum > highest) {
      highest = sum;
      top = k;
    }
  }
  FitModel bump;
  add_feature(bump, kGaussian, {along[top], 0.5f, 1.0f, 1.5f, 1.0f, 0.0f});
  bump.names[2] = "G1 MAX    ";
  bump.constraints[1] = bump.constraints[4] = bump.constraints[5] = true;
  add_feature(bump, kSurface, {4.0f * 1.3f});
  bump.constraints[6] = true;
  bump.x_max_poly = static_cast<float>(kLength);
  std::vector<float> fitted(sparse.size());
  status = kStatusGood;
  testing::TerminalCapture sparse_terminal;
  const Fit2dOutcome on_sparse = KZT_LSQKESTA(scan, sparse, {}, {}, 1, 1, kLength, 1, false, 30.0f,
                                              bump, fitted, status);
  EXPECT_FALSE(on_sparse.valid) << sparse_terminal.text();
  const std::size_t quoted = sparse_terminal.text().find(said);
  ASSERT_NE(quoted, std::string::npos) << sparse_terminal.text();
  EXPECT_NEAR(std::stod(sparse_terminal.text().substr(quoted + said.size())), std::sqrt(1.3),
              0.05 * std::sqrt(1.3))
      << sparse_terminal.text();
}

TEST(Fit2d, APeakAmongNeighboursFillingEveryStretchIsJudgedByTheNoiseInEitherOrder) {
  // FIT of one Gaussian (60 high, SD 2.5 points, some 30 noises) on a scan
  // of noise 4 on 300 where peaks the model leaves out, 2-3.5 points wide
  // and 40-300 high, stand every 13-21 points: their sides fill nearly
  // every stretch about the fitted one, and the further apart the points
  // compared the more they differ. The fitted peak at the scan's start, and
  // in its middle with them on both sides, is valid, read either way; a
  // bump of the noise 80 points past the last of them is not, and is judged
  // by the same noise either way.
  constexpr Index kSize = 4000;
  const std::vector<float> ax = centre_axis(kSize), ay = centre_axis(1);
  const ModelFrame frame = frame_over(kSize, 1, ax, ay);
  // Offset, SD and height of each.
  constexpr std::array<std::array<float, 3>, 11> others{
      {{20, 2, 80}, {33, 3, 250}, {47, 2.5f, 40}, {61, 2, 150}, {80, 3.5f, 300}, {95, 2, 60},
       {110, 3, 200}, {131, 2.5f, 90}, {150, 2, 120}, {170, 3, 250}, {190, 2, 70}}};
  testing::Noise noise(31, 4.0);
  const auto bump = [&](std::size_t k, float centre, float h, float sd) {
    const float u = (ax[k] - centre) / sd;
    return std::fabs(u) > 5.0f ? 0.0f : h * std::exp(-0.5f * u * u);
  };
  struct Case {
    float at, height, from;  // the peak, and where the others start
    bool both_sides;
  };
  for (const Case c : {Case{4.3f, 60.0f, 4.3f, false}, Case{2000.3f, 60.0f, 2000.3f, true},
                       Case{1270.3f, 0.0f, 1000.3f, false}}) {
    std::vector<float> data(static_cast<std::size_t>(kSize));
    for (std::size_t k = 0; k < data.size(); ++k) {
      double v = 300.0 + noise.next() + bump(k, c.at, c.height, 2.5f);
      for (const auto& o : others)
        v += bump(k, c.from + o[0], o[2], o[1]) +
             (c.both_sides ? bump(k, c.from - o[0], o[2], o[1]) : 0.0f);
      data[k] = static_cast<float>(v);
    }
    const std::vector<float> reversed(data.rbegin(), data.rend());
    double quoted[2] = {0.0, 0.0};
    for (const bool flipped : {false, true}) {
      const float centre = flipped ? static_cast<float>(kSize) - c.at : c.at;
      FitModel model;
      add_feature(model, kGaussian, {centre + 0.2f, 0.5f, 55.0f, 2.8f, 1.0f, 0.0f});
      model.names[2] = "G1 MAX    ";
      model.constraints[1] = model.constraints[4] = model.constraints[5] = true;
      // The noise's bump where it is: free, the centre wanders off to a side.
      if (c.height == 0.0f) model.params[0] = centre;
      model.constraints[0] = c.height == 0.0f;
      add_feature(model, kSurface, {1200.0f});
      model.constraints[6] = true;
      model.x_max_poly = static_cast<float>(kSize);
      std::vector<float> out(data.size());
      Status status = kStatusGood;
      testing::TerminalCapture terminal;
      const Fit2dOutcome o = KZT_LSQKESTA(frame, flipped ? reversed : data, {}, {}, 1, 1, kSize,
                                          1, false, 30.0f, model, out, status);
      ASSERT_EQ(status, kStatusGood) << c.at << flipped;
      EXPECT_EQ(o.valid, c.height > 0.0f) << c.at << flipped << terminal.text();
      EXPECT_NEAR(model.params[0], centre, 0.3f) << c.at << flipped;
      const std::string said = "stands out of the noise (";
      const std::size_t from = terminal.text().find(said);
      if (from != std::string::npos)
        quoted[flipped] = std::stod(terminal.text().substr(from + said.size()));
    }
    EXPECT_NEAR(quoted[0], quoted[1], 0.002 * quoted[0]) << c.at;
  }
}

TEST(Fit2d, APeakFittedToBlurredNoiseIsNoValidFeature) {
  // FIT of a Gaussian on the highest bump of noise 3 blurred by a Gaussian
  // of 1.5, 2, 3 and 4 points (a detector's point spread), along a scan and
  // over an image: neighbours share most of the noise, so neighbouring
  // misfits differ by a small part of it and the further apart the more,
  // as across the sides of peaks, and over an image elements apart along
  // both axes share it too. The bump is no feature, and is judged by about
  // the noise's own level.
  constexpr double kLevel = 3.0;
  struct Case {
    double blur;
    Index nx, ny;
    std::uint64_t seed = 77;
  };
  // Noise blurred over 4 points still shares a tenth of itself 8 apart.
  for (const Case c : {Case{1.5, 600, 1}, Case{2.0, 600, 1}, Case{3.0, 600, 1}, Case{1.5, 90, 70},
                       Case{2.0, 90, 70}, Case{3.0, 120, 90}, Case{4.0, 120, 90, 1},
                       Case{4.0, 120, 90, 2}}) {
    const std::size_t nx = static_cast<std::size_t>(c.nx), ny = static_cast<std::size_t>(c.ny);
    const int reach = static_cast<int>(std::ceil(4.0 * c.blur));
    const std::size_t wx = nx + 2 * static_cast<std::size_t>(reach),
                      wy = ny == 1 ? 1 : ny + 2 * static_cast<std::size_t>(reach);
    testing::Noise noise(c.seed, 1.0);
    std::vector<double> raw(wx * wy);
    for (double& v : raw) v = noise.next();
    std::vector<double> kernel;
    for (int k = -reach; k <= reach; ++k)
      kernel.push_back(std::exp(-0.5 * k * k / (c.blur * c.blur)));
    // Blurred along the rows, then (an image) along the columns.
    std::vector<double> rows(nx * wy, 0.0), blurred(nx * ny, 0.0);
    for (std::size_t j = 0; j < wy; ++j)
      for (std::size_t i = 0; i < nx; ++i)
        for (std::size_t m = 0; m < kernel.size(); ++m)
          rows[j * nx + i] += kernel[m] * raw[j * wx + i + m];
    for (std::size_t j = 0; j < ny; ++j)
      for (std::size_t i = 0; i < nx; ++i)
        for (std::size_t m = 0; m < (ny == 1 ? 1 : kernel.size()); ++m)
          blurred[j * nx + i] += (ny == 1 ? 1.0 : kernel[m]) * rows[(j + m) * nx + i];
    double squares = 0.0;
    for (const double v : blurred) squares += v * v;
    const double scale = kLevel / std::sqrt(squares / static_cast<double>(blurred.size()));
    std::vector<float> data(blurred.size());
    std::size_t top = 0;
    for (std::size_t k = 0; k < data.size(); ++k) {
      data[k] = static_cast<float>(100.0 + scale * blurred[k]);
      const std::size_t i = k % nx, j = k / nx;
      const bool inside = i >= 10 && i + 10 < nx && (ny == 1 || (j >= 10 && j + 10 < ny));
      if (inside && data[k] > data[top]) top = k;
    }
    const std::vector<float> ax = centre_axis(c.nx), ay = centre_axis(c.ny);
    const ModelFrame frame = frame_over(c.nx, c.ny, ax, ay);
    FitModel model;
    const float width = static_cast<float>(1.5 * c.blur);
    const float across = ny == 1 ? 1.0f : width;
    add_feature(model, kGaussian,
                {ax[top % nx], ay[top / nx], data[top] - 100.0f, width, across, 0.0f});
    model.names[2] = "G1 MAX    ";
    model.constraints[5] = true;
    if (ny == 1) model.constraints[1] = model.constraints[4] = true;
    add_feature(model, kSurface, {400.0f});
    std::vector<float> out(data.size());
    Status status = kStatusGood;
    testing::TerminalCapture terminal;
    const Fit2dOutcome o = KZT_LSQKESTA(frame, data, {}, {}, 1, 1, c.nx, c.ny, false, 30.0f, model,
                                        out, status);
    ASSERT_EQ(status, kStatusGood) << c.blur;
    EXPECT_FALSE(o.valid) << c.blur << ' ' << c.ny << terminal.text();
    const std::string said = "stands out of the noise (";
    const std::size_t at = terminal.text().find(said);
    ASSERT_NE(at, std::string::npos) << c.blur << ' ' << c.ny << terminal.text();
    EXPECT_NEAR(std::stod(terminal.text().substr(at + said.size())), kLevel, 0.4 * kLevel)
        << c.blur << ' ' << c.ny << terminal.text();
  }
}

TEST(Fit2d, APeakFittedToNoiseSharedAlongADiagonalIsNoValidFeature) {
  // FIT of a Gaussian over an image of noise 3 blurred along one diagonal
  // (or the other) by a Gaussian of 2 elements: no two elements of a row or
  // column share any of it, elements apart along that diagonal share most.
  // The highest bump is no feature; a peak of 10 deviations of its
  // height's estimate in that noise (its profile's overlaps along the
  // diagonal counted) is valid.
  constexpr Index kNx = 90, kNy = 70;
  constexpr double kBlur = 2.0, kWidth = 3.0;
  constexpr int kReach = 8;
  const std::vector<float> ax = centre_axis(kNx), ay = centre_axis(kNy);
  const ModelFrame frame = frame_over(kNx, kNy, ax, ay);
  std::vector<double> kernel;
  double norm = 0.0;
  for (int k = -kReach; k <= kReach; ++k) {
    kernel.push_back(std::exp(-0.5 * k * k / (kBlur * kBlur)));
    norm += kernel.back() * kernel.back();
  }
  // The height of 10 deviations: the profile's squares and, along the
  // diagonal, its overlaps times the noise's correlation there.
  const auto profile = [&](double x, double y, double cx, double cy) {
    const double a = (x - cx) / kWidth, b = (y - cy) / kWidth;
    return std::exp(-0.5 * (a * a + b * b));
  };
  double power = 0.0, spread = 0.0;
  for (int j = -15; j <= 15; ++j)
    for (int i = -15; i <= 15; ++i) {
      const double p = profile(i, j, 0.0, 0.0);
      power += p * p;
      for (int k = -2 * kReach; k <= 2 * kReach; ++k)
        spread += p * profile(i + k, j + k, 0.0, 0.0) * std::exp(-0.25 * k * k / (kBlur * kBlur));
    }
  const double right = 10.0 * 3.0 * std::sqrt(spread) / power;
  for (const int slant : {1, -1})
    for (const std::uint64_t seed : {5u, 9u}) {
      testing::Noise noise(seed, 1.0);
      const std::size_t wx = kNx + 2 * kReach, wy = kNy + 2 * kReach;
      std::vector<double> raw(wx * wy);
      for (double& v : raw) v = noise.next();
      for (const double height : {0.0, right}) {
        std::vector<float> data(static_cast<std::size_t>(kNx * kNy));
        std::size_t top = 0;
        for (Index y = 0; y < kNy; ++y)
          for (Index x = 0; x < kNx; ++x) {
            double v = 0.0;
            for (int m = 0; m <= 2 * kReach; ++m)
              v += kernel[static_cast<std::size_t>(m)] *
                   raw[static_cast<std::size_t>(y + m) * wx +
                       static_cast<std::size_t>(slant > 0 ? x + m : x + 2 * kReach - m)];
            const std::size_t k = static_cast<std::size_t>(y * kNx + x);
            data[k] = static_cast<float>(100.0 + 3.0 * v / std::sqrt(norm) +
                                         height * profile(x + 0.5, y + 0.5, 45.3, 35.2));
            const bool inside = x >= 10 && x + 10 < kNx && y >= 10 && y + 10 < kNy;
            if (inside && data[k] > data[top]) top = k;
          }
        if (height > 0.0) top = 35 * kNx + 45;
        FitModel model;
        add_feature(model, kGaussian,
                    {ax[top % kNx], ay[top / kNx], data[top] - 100.0f, 3.0f, 3.0f, 0.0f});
        model.names[2] = "G1 MAX    ";
        model.constraints[5] = true;
        add_feature(model, kSurface, {400.0f});
        std::vector<float> out(data.size());
        Status status = kStatusGood;
        testing::TerminalCapture terminal;
        const Fit2dOutcome o = KZT_LSQKESTA(frame, data, {}, {}, 1, 1, kNx, kNy, false, 30.0f,
                                            model, out, status);
        ASSERT_EQ(status, kStatusGood);
        EXPECT_EQ(o.valid, height > 0.0) << slant << ' ' << seed << terminal.text();
        EXPECT_EQ(terminal.text().find("stands out of the noise") == std::string::npos,
                  height > 0.0)
            << slant << ' ' << seed << terminal.text();
      }
    }
}

TEST(Fit2d, APeakOnAHugeLevelEndsAtTheLeastSquaresMinimum) {
  // FIT of a Gaussian of 300 (SD 3 points) on a level of 3e6 with noise of
  // 30, along a scan and over an image, with the scales clicks give such
  // data (the level's some 2e6, the data's unit 3e4): the fit ends within a
  // thousandth of the sum of squares its twin on the same data less the
  // level reaches, from its own end again.
  struct Case {
    Index nx, ny;
  };
  for (const Case c : {Case{200, 1}, Case{64, 48}}) {
    const std::vector<float> ax = centre_axis(c.nx), ay = centre_axis(c.ny);
    const ModelFrame frame = frame_over(c.nx, c.ny, ax, ay);
    const bool scan = c.ny == 1;
    const float cy = scan ? 0.5f : 23.8f;
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
      testing::Noise noise(seed, 30.0);
      std::vector<float> data(static_cast<std::size_t>(c.nx * c.ny)), less(data.size());
      for (Index y = 0; y < c.ny; ++y)
        for (Index x = 0; x < c.nx; ++x) {
          const double a = (x + 0.5 - c.nx / 2 - 0.3) / 3.0, b = scan ? 0.0 : (y + 0.5 - cy) / 3.0;
          const double v = 300.0 * std::exp(-0.5 * (a * a + b * b)) + noise.next();
          const std::size_t k = static_cast<std::size_t>(y * c.nx + x);
          data[k] = static_cast<float>(3.0e6 + v);
          less[k] = data[k] - 3.0e6f;
        }
      const auto model_on = [&](float level, float level_scale) {
        FitModel m;
        add_feature(m, kGaussian,
                    {c.nx / 2 + 1.1f, cy + (scan ? 0.0f : 0.6f), 240.0f, 3.6f, scan ? 1.0f : 2.6f,
                     0.0f});
        m.scales = {0.3f, 0.3f, 6.0e4f, 0.3f, 0.3f, 0.1f, level_scale};
        m.constraints[5] = true;
        if (scan) m.constraints[1] = m.constraints[4] = true;
        add_feature(m, kSurface, {4.0f * level});
        m.scales[6] = level_scale;
        return m;
      };
      std::vector<float> out(data.size());
      Status status = kStatusGood;
      testing::TerminalCapture quiet;
      FitModel huge = model_on(3.0e6f + 10.0f, 2.4e6f), twin = model_on(10.0f, 30.0f);
      const Fit2dOutcome o =
          KZT_LSQKESTA(frame, data, {}, {}, 1, 1, c.nx, c.ny, false, 30.0f, huge, out, status);
      KZT_LSQKESTA(frame, less, {}, {}, 1, 1, c.nx, c.ny, false, 30.0f, twin, out, status);
      const Fit2dOutcome best =
          KZT_LSQKESTA(frame, less, {}, {}, 1, 1, c.nx, c.ny, false, 30.0f, twin, out, status);
      ASSERT_EQ(status, kStatusGood);
      EXPECT_TRUE(o.valid) << c.ny << ' ' << seed;
      EXPECT_LT(o.sum_squares, 1.001 * best.sum_squares) << c.ny << ' ' << seed;
      EXPECT_NEAR(huge.params[0], twin.params[0], 0.02f) << c.ny << ' ' << seed;
    }
  }
}

TEST(Fit2d, APeakNearTheLargestSingleValueIsFittedAsItsTwin) {
  // FIT on a scan of a peak of height 1 and SD 3 on a level of 1 with noise
  // 0.01, and on the same scan times 8e37 (its top near 1.6e38): the fit
  // ends where its twin's does, scaled, and is valid; only the intensity,
  // the height times the widths and 2 pi, is beyond single precision, which
  // is said.
  constexpr Index kRow = 200;
  const std::vector<float> ax = centre_axis(kRow), ay = centre_axis(1);
  const ModelFrame frame = frame_over(kRow, 1, ax, ay);
  testing::Noise noise(3, 0.01);
  std::vector<double> base(kRow);
  for (Index x = 0; x < kRow; ++x) {
    const double a = (x + 0.5 - 100.3) / 3.0;
    base[static_cast<std::size_t>(x)] = 1.0 + std::exp(-0.5 * a * a) + noise.next();
  }
  std::vector<float> out(kRow);
  std::vector<FitModel> fitted;
  for (const double scale : {1.0, 8.0e37}) {
    std::vector<float> data(kRow);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<float>(scale * base[k]);
    FitModel model;
    add_feature(model, kGaussian,
                {100.8f, 0.5f, static_cast<float>(0.9 * scale), 3.5f, 1.0f, 0.0f});
    model.scales = {0.1f, 1.0f, static_cast<float>(0.1 * scale), 0.1f, 1.0f, 0.1f,
                    static_cast<float>(0.1 * scale)};
    model.constraints[1] = model.constraints[4] = model.constraints[5] = true;
    add_feature(model, kSurface, {static_cast<float>(4.0 * scale)});
    model.x_max_poly = static_cast<float>(kRow);
    Status status = kStatusGood;
    testing::TerminalCapture terminal;
    const Fit2dOutcome o =
        KZT_LSQKESTA(frame, data, {}, {}, 1, 1, kRow, 1, false, 30.0f, model, out, status);
    ASSERT_EQ(status, kStatusGood) << scale;
    EXPECT_TRUE(o.valid) << scale << terminal.text();
    EXPECT_EQ(terminal.text().find("not a finite number"), std::string::npos) << terminal.text();
    EXPECT_EQ(terminal.text().find("too large to be held") == std::string::npos, scale == 1.0)
        << terminal.text();
    fitted.push_back(model);
  }
  EXPECT_NEAR(fitted[1].params[0], fitted[0].params[0], 0.01f);
  EXPECT_NEAR(fitted[1].params[2] / 8.0e37, fitted[0].params[2], 0.001);
  EXPECT_NEAR(fitted[1].params[3], fitted[0].params[3], 0.01f);
}

TEST(Fit2d, RowLineOrderIntensityBelowZeroIsNoValidModel) {
  Scene s;
  FitModel m;
  add_feature(m, kRowLine,
              {-1, 1, 32.0f, 2.0f, 32.0f, 24.0f, 0.0f, 0.006f, 0.002f, 0.5f, 1.2f, 0.05f, 50, -1411,
               0});
  m.names[13] = "ROW 1I  0 ";
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  EXPECT_FALSE(kzt_fit_validity(s.frame, 1, 1, kX, kY, m, {}, status));
  EXPECT_NE(terminal.text().find("WARNING: Feature 1 is not valid: ROW 1I  0 = -1.4110E+03 is "
                                 "below 0\n"),
            std::string::npos)
      << terminal.text();
  // An order of no intensity is an absent one, no fault.
  m.params[13] = 0.0f;
  EXPECT_TRUE(kzt_fit_validity(s.frame, 1, 1, kX, kY, m, {}, status)) << terminal.text();
  EXPECT_EQ(status, kStatusGood);
}

TEST(Fit2d, FitThatCannotRunChangesNothing) {
  // More free parameters than unmasked data: END_CODE 1, no result.
  Scene s;
  FitModel m;
  add_feature(m, kGaussian, {20.0f, 15.0f, 200.0f, 3.0f, 2.0f, 0.3f});
  const FitModel before = m;
  std::vector<std::uint8_t> mask(kX * kY, 1);
  mask[0] = 0;
  std::vector<float> out(s.image.size(), -1.0f);
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  // Non-finite data are left out, not a failure.
  s.image[5] = std::nanf("");
  const Fit2dOutcome o =
      KZT_LSQKESTA(s.frame, s.image, {}, mask, 1, 1, kX, kY, false, 11.5f, m, out, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(o.fitted);
  EXPECT_EQ(o.end_code, 1);
  EXPECT_EQ(out[0], -1.0f);
  EXPECT_EQ(m.params, before.params);
  EXPECT_NE(terminal.text().find("WARNING: Problem fitting the model to the data"),
            std::string::npos);
  EXPECT_EQ(kzt_max_calls(4, 11.5f), 46);
  EXPECT_EQ(kzt_max_calls(0, 11.5f), 1);
}

TEST(Fit2d, EveryParameterHeldFitsNothingAndGivesTheHeldModelsMisfit) {
  Scene s;
  FitModel truth;
  add_feature(truth, kGaussian, {20.0f, 15.0f, 200.0f, 3.0f, 2.0f, 0.3f});
  Status status = kStatusGood;
  s.draw(truth, status);
  // Held 10 counts too high, one element masked.
  FitModel held = truth;
  held.params[2] = 210.0f;
  held.constraints.fill(true);
  std::vector<std::uint8_t> mask(kX * kY, 0);
  mask[static_cast<std::size_t>(element(20, 15, kX))] = 1;
  double expected = 0.0;
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) {
      if (x == 20 && y == 15) continue;
      const double d = 0.05 * s.at(x, y);  // the model's excess: a twentieth of the peak
      expected += d * d;
    }
  std::vector<float> out(s.image.size());
  testing::TerminalCapture terminal;
  const Fit2dOutcome o =
      KZT_LSQKESTA(s.frame, s.image, {}, mask, 1, 1, kX, kY, false, 11.5f, held, out, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(o.fitted && o.held);
  EXPECT_NEAR(o.sum_squares, expected, 1e-3 * expected);
  const std::string said = terminal.text();
  EXPECT_NE(said.find(kNothingFitted), std::string::npos) << said;
  EXPECT_EQ(said.find("Number of function calls"), std::string::npos) << said;
  const std::vector<std::string> text = kzt_fit_result_text(held, o);
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text[2].rfind(kNothingFittedText, 0), 0u) << text[2];
}

TEST(Fit2d, WeightedFitLeavesOutElementsWithoutVariance) {
  Scene s;
  FitModel truth;
  add_feature(truth, kGaussian, {20.0f, 15.0f, 200.0f, 3.0f, 2.0f, 0.3f});
  Status status = kStatusGood;
  s.draw(truth, status);
  std::vector<float> variances(s.image.size(), 4.0f);
  variances[3] = 0.0f;
  variances[4] = -1.0f;
  FitModel start = truth;
  start.params[0] += 1.0f;
  std::vector<float> out(s.image.size());
  testing::TerminalCapture terminal;
  const Fit2dOutcome o =
      KZT_LSQKESTA(s.frame, s.image, variances, {}, 1, 1, kX, kY, true, 20.0f, start, out, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(o.fitted);
  EXPECT_NEAR(start.params[0], 20.0f, 0.01f);
  EXPECT_NE(terminal.text().find("INFO: 2 elements whose variance is not above 0"),
            std::string::npos)
      << terminal.text();
}

}  // namespace
}  // namespace kesta
