// The centre of symmetry of a 1-D profile and the point it gives on the
// projection line.

#include "app/diffraction/symmetry_centre.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/imageops_graphics_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/page_recorder_test_support.hpp"

namespace kesta {
namespace {

// A smooth profile symmetric about CENTRE (point i centred at i - 0.5): a
// peak with a shoulder on both sides over a flat background.
std::vector<float> symmetric_profile(Index n, double centre) {
  std::vector<float> p(static_cast<std::size_t>(n));
  for (Index i = 1; i <= n; ++i) {
    const double x = (static_cast<double>(i) - 0.5) - centre;
    const double s = std::abs(x) - 10.0;
    p[static_cast<std::size_t>(i - 1)] =
        static_cast<float>(10.0 * std::exp(-x * x / 50.0) + 3.0 * std::exp(-s * s / 18.0) + 1.0);
  }
  return p;
}

TEST(SymmetryCentre, FitsTheKnownCentreToAHundredthOfAPoint) {
  testing::TerminalCapture quiet;
  for (const double centre : {20.0, 20.3, 27.75}) {
    SCOPED_TRACE(centre);
    const std::vector<float> p = symmetric_profile(50, centre);
    std::vector<std::uint8_t> mask(50, 0);
    float fitted = 0.0f;
    Status status = kStatusGood;
    KZT_LSQ1DSYMMETRY(50, 1, 50, p, mask, fitted, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_NEAR(fitted, centre, 0.01);
  }
}

// A small-angle profile: a central peak and rings at 12, 25 and 40 points,
// each ring a local minimum of the misfit for a fit started beside it.
std::vector<float> ringed_profile(Index n, double centre) {
  std::vector<float> p(static_cast<std::size_t>(n));
  for (Index i = 1; i <= n; ++i) {
    const double d = std::abs((static_cast<double>(i) - 0.5) - centre);
    const auto ring = [d](double r, double h) { return h * std::exp(-(d - r) * (d - r) / 8.0); };
    p[static_cast<std::size_t>(i - 1)] = static_cast<float>(
        100.0 * std::exp(-d * d / 30.0) + ring(12.0, 40.0) + ring(25.0, 20.0) +
        ring(40.0, 10.0) + 2.0);
  }
  return p;
}

TEST(SymmetryCentre, FoundTwentyPointsFromTheMiddleOnEitherSide) {
  for (const double centre : {50.3, 89.7}) {
    SCOPED_TRACE(centre);
    testing::TerminalCapture terminal;
    const std::vector<float> p = ringed_profile(140, centre);
    float fitted = 0.0f;
    Status status = kStatusGood;
    KZT_LSQ1DSYMMETRY(140, 1, 140, p, {}, fitted, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_NEAR(fitted, centre, 0.05);
    EXPECT_EQ(terminal.text().find("Problem fitting"), std::string::npos) << terminal.text();
  }
}

// A short range (a few points chosen on the graph) still has its centre; a
// flat profile, symmetric about every point, has none.
TEST(SymmetryCentre, ShortProfilesFitAndFlatOnesDoNot) {
  testing::TerminalCapture quiet;
  for (const Index n : {12, 15, 16}) {
    SCOPED_TRACE(n);
    const double centre = static_cast<double>(n) / 2.0 + 0.3;
    std::vector<float> p(static_cast<std::size_t>(n));
    for (Index i = 1; i <= n; ++i) {
      const double x = static_cast<double>(i) - 0.5 - centre;
      p[static_cast<std::size_t>(i - 1)] = static_cast<float>(5.0 + std::exp(-x * x / 8.0));
    }
    float fitted = 0.0f;
    Status status = kStatusGood;
    EXPECT_TRUE(KZT_LSQ1DSYMMETRY(n, 1, n, p, {}, fitted, status));
    EXPECT_NEAR(fitted, centre, 0.01);
  }
  const std::vector<float> flat(40, 7.0f);
  float centre = 3.0f;
  Status status = kStatusGood;
  EXPECT_FALSE(KZT_LSQ1DSYMMETRY(40, 1, 40, flat, {}, centre, status));
  EXPECT_EQ(centre, 3.0f);
}

TEST(SymmetryCentre, NoCentreWhenNoPointsMirrorEachOther) {
  testing::TerminalCapture quiet;
  const std::vector<float> p = symmetric_profile(30, 14.0);
  std::vector<std::uint8_t> mask(30, 1);
  for (const Index open : {0, 1, 2}) {
    SCOPED_TRACE(open);
    // Every point masked, or one or two far apart left: nothing to fit.
    if (open >= 1) mask[3] = 0;
    if (open >= 2) mask[25] = 0;
    float centre = 7.0f;
    Status status = kStatusGood;
    EXPECT_FALSE(KZT_LSQ1DSYMMETRY(30, 1, 30, p, mask, centre, status));
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(centre, 7.0f);
  }
}

TEST(SymmetryCentre, MaskedPointsAndARangeCutOnOneSideKeepTheCentre) {
  testing::TerminalCapture quiet;
  std::vector<float> p = symmetric_profile(60, 24.4);
  std::vector<std::uint8_t> mask(60, 0);
  // A spike that breaks the symmetry, masked out, and a range cut shorter
  // on one side.
  p[30] = 500.0f;
  mask[30] = 1;
  float fitted = 0.0f;
  Status status = kStatusGood;
  KZT_LSQ1DSYMMETRY(60, 3, 50, p, mask, fitted, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_NEAR(fitted, 24.4, 0.01);
}

TEST(SymmetryModel, PointsWithoutAValidMirrorCarryTheMeanMisfit) {
  // Linear values: the mirror of point i about C is interpolated between the
  // two points whose centres bracket it.
  std::vector<float> p{0, 1, 2, 3, 4, 5, 6, 7};
  std::vector<std::uint8_t> mask(8, 0);
  mask[6] = 1;  // point 7
  std::vector<float> model(8, -9.0f);
  const std::vector<float> params{4.25f};
  int terminate = 1;
  Status status = kStatusGood;
  KZT_FUN1DSYMMETRY(true, 8, 1, p, mask, 1, 1, 8, 1, nullptr, nullptr, nullptr, nullptr, 1,
                    params, 8, 1, true, terminate, model, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(terminate, 0);
  // Point 3 (centre 2.5) mirrors to 6.0: between points 6 and 7, and 7 is
  // masked; point 4 (3.5) mirrors to 5.0, between points 5 and 6: value 4.5.
  EXPECT_NEAR(model[3], 3.0f - 4.5f, 1e-6f);
  // Point 5 (4.5) mirrors to 4.0 (value 3.5); point 6 (5.5) to 3.0 (2.5).
  EXPECT_NEAR(model[4], 4.0f - 3.5f, 1e-6f);
  EXPECT_NEAR(model[5], 5.0f - 2.5f, 1e-6f);
  // Point 2 mirrors to 7.0, between points 7 and 8: masked. Valid: points
  // 4, 5, 6 (|r| 1.5, 0.5, 2.5) and point 8 (mirror 1.0, value 0.5: 6.5).
  const float mean = (1.5f + 0.5f + 2.5f + 6.5f) / 4.0f;
  for (const int invalid : {0, 1, 2, 6}) EXPECT_NEAR(model[invalid], mean, 1e-6f) << invalid;
  EXPECT_NEAR(model[7], 7.0f - 0.5f, 1e-6f);
}

TEST(SymmetryCentre, ProposedPointLiesCentreBinsAlongTheLine) {
  float x = 0.0f, y = 0.0f;
  // Bins of 100 microns along a line of 200-micron X pixels.
  kzt_symmetry_point(10.0f, 10.0f, 30.0f, 10.0f, 2.0e-4f, 1.0e-4f, 1.0e-4f, 5.5f, x, y);
  EXPECT_FLOAT_EQ(x, 12.75f);
  EXPECT_FLOAT_EQ(y, 10.0f);
  kzt_symmetry_point(0.0f, 0.0f, 0.0f, -8.0f, 1.0e-4f, 1.0e-4f, 1.0e-4f, 3.0f, x, y);
  EXPECT_FLOAT_EQ(x, 0.0f);
  EXPECT_FLOAT_EQ(y, -3.0f);
}

TEST(SymmetryCentre, BadArgumentsAreRefused) {
  const std::vector<float> p(10, 1.0f);
  float centre = 7.0f;
  Status status = kStatusGood;
  KZT_LSQ1DSYMMETRY(0, 1, 1, p, {}, centre, status);
  EXPECT_EQ(status, 110001);
  status = kStatusGood;
  KZT_LSQ1DSYMMETRY(10, 4, 11, p, {}, centre, status);
  EXPECT_EQ(status, 110005);
  EXPECT_EQ(centre, 7.0f);
}

// FIT 1-D PROJECTION on a KX x KY image of 100 micron pixels whose rows are
// PROFILE(distance from X = CENTRE), drawn with pixel-centre axes.
struct ProjectFit : testing::NoWindowGraphics {
  std::vector<float> data, xaxis, yaxis;
  GsDisplayedImage image(Index kx, Index ky, double centre, double (*profile)(double)) {
    data.assign(static_cast<std::size_t>(kx * ky), 0.0f);
    xaxis.resize(static_cast<std::size_t>(kx));
    yaxis.resize(static_cast<std::size_t>(ky));
    for (Index i = 1; i <= kx; ++i) xaxis[i - 1] = static_cast<float>(i) - 0.5f;
    for (Index j = 1; j <= ky; ++j) yaxis[j - 1] = static_cast<float>(j) - 0.5f;
    for (Index j = 1; j <= ky; ++j)
      for (Index i = 1; i <= kx; ++i)
        data[element(i, j, kx)] =
            static_cast<float>(profile(std::abs((static_cast<double>(i) - 0.5) - centre)));
    return kzt_displayed_image(kx, ky, 1, 1, kx, ky, data, {}, xaxis, yaxis, "Strip", "X", "Y",
                               "Z");
  }
  // A blank KX x KY image of pixel-centre axes, its pixels to be filled.
  GsDisplayedImage blank(Index kx, Index ky, const char* title) {
    data.assign(static_cast<std::size_t>(kx * ky), 0.0f);
    xaxis.resize(static_cast<std::size_t>(kx));
    yaxis.resize(static_cast<std::size_t>(ky));
    for (Index i = 1; i <= kx; ++i) xaxis[i - 1] = static_cast<float>(i) - 0.5f;
    for (Index j = 1; j <= ky; ++j) yaxis[j - 1] = static_cast<float>(j) - 0.5f;
    return kzt_displayed_image(kx, ky, 1, 1, kx, ky, data, {}, xaxis, yaxis, title, "X", "Y", "Z");
  }
  // The fit answered by LINES; the centre proposed is accepted.
  bool fit(const GsDisplayedImage& im, std::vector<std::string> lines, float& x, float& y,
           Status& status) {
    lines.insert(lines.end(), {"", ""});
    testing::ScriptedInput input(lines);
    const bool done = KZT_PROJECTFIT(im, 1e-4f, 1e-4f, x, y, status);
    EXPECT_EQ(input.remaining(), 0u);
    return done;
  }
};

double peak(double d) { return 10.0 * std::exp(-d * d / 50.0) + 1.0; }

// A peak with rings, as a small-angle pattern has.
double rings(double d) {
  const auto ring = [d](double r, double h) { return h * std::exp(-(d - r) * (d - r) / 50.0); };
  return 100.0 * std::exp(-d * d / 200.0) + ring(40.0, 30.0) + ring(80.0, 10.0) + 1.0;
}

TEST_F(ProjectFit, CentreFoundOnLinesDrawnFarToEitherSideOfIt) {
  // Symmetric about X = 131.37; lines 190 pixels long whose middles lie 23.6
  // pixels right and left of the centre.
  const GsDisplayedImage im = image(256, 16, 131.37, rings);
  for (const char* start : {"60", "12.74"}) {
    SCOPED_TRACE(start);
    testing::TerminalCapture terminal;
    const std::string end = std::to_string(std::stof(start) + 190.0f);
    float x = 0.0f, y = 0.0f;
    Status status = kStatusGood;
    EXPECT_TRUE(fit(im, {"2", start, "8", end, "8", "2", "100", "0", "100", "16", "YES", "EXIT"},
                    x, y, status));
    EXPECT_EQ(status, kStatusGood);
    EXPECT_NEAR(x / 1e-4f, 131.37f, 0.05f);
    EXPECT_EQ(terminal.text().find("Problem fitting"), std::string::npos) << terminal.text();
  }
}

// A line along Y longer than the image is wide: its profile holds the whole
// line, not the first image-width points of it.
TEST_F(ProjectFit, ALineLongerThanTheImageIsWideIsProjectedWhole) {
  constexpr Index kX = 40, kY = 220;
  const GsDisplayedImage im = blank(kX, kY, "Narrow");
  for (Index j = 1; j <= kY; ++j)
    for (Index i = 1; i <= kX; ++i)
      data[element(i, j, kX)] =
          static_cast<float>(rings(std::abs((static_cast<double>(j) - 0.5) - 151.37)));
  testing::TerminalCapture terminal;
  float x = 0.0f, y = 0.0f;
  Status status = kStatusGood;
  EXPECT_TRUE(fit(im, {"2", "20", "40", "20", "210", "2", "0", "100", "40", "100", "YES", "EXIT"},
                  x, y, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(y / 1e-4f, 151.37f, 0.05f) << terminal.text();
  EXPECT_EQ(terminal.text().find("truncated"), std::string::npos) << terminal.text();
  EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
}

// The same pattern in units that make its values huge or tiny: the fit's
// sum of squares (values of 1e30 squared) still holds them, and the centre
// is found without a word of a failed fit.
TEST_F(ProjectFit, CentreFoundOnImagesOfHugeAndTinyValues) {
  for (const float scale : {1.0e19f, 1.0e30f, 1.0e-30f}) {
    GsDisplayedImage im = image(256, 16, 131.37, rings);
    for (float& v : data) v *= scale;
    SCOPED_TRACE(scale);
    testing::TerminalCapture terminal;
    float x = 0.0f, y = 0.0f;
    Status status = kStatusGood;
    EXPECT_TRUE(fit(im, {"2", "60", "8", "250", "8", "2", "100", "0", "100", "16", "YES", "EXIT"},
                    x, y, status));
    EXPECT_EQ(status, kStatusGood);
    EXPECT_NEAR(x / 1e-4f, 131.37f, 0.05f);
    EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
  }
}

// A small-angle pattern of 256 x 256 pixels about (131.37, 140): a central
// peak over a slowly falling background, with rings at 85, 95 and 120
// pixels, so that the part of a line beyond the mirrored stretch holds a ring.
GsDisplayedImage ring_pattern(std::vector<float>& data, std::vector<float>& xaxis,
                              std::vector<float>& yaxis) {
  constexpr Index kN = 256;
  data.assign(static_cast<std::size_t>(kN * kN), 0.0f);
  xaxis.resize(kN);
  yaxis.resize(kN);
  for (Index i = 1; i <= kN; ++i) xaxis[i - 1] = yaxis[i - 1] = static_cast<float>(i) - 0.5f;
  for (Index j = 1; j <= kN; ++j)
    for (Index i = 1; i <= kN; ++i) {
      const double dx = (static_cast<double>(i) - 0.5) - 131.37;
      const double dy = (static_cast<double>(j) - 0.5) - 140.0;
      const double r2 = dx * dx + dy * dy, r = std::sqrt(r2);
      const auto ring = [r](double at, double h) { return h * std::exp(-(r - at) * (r - at) / 18.0); };
      data[element(i, j, kN)] = static_cast<float>(1000.0 * std::exp(-r2 / 450.0) + ring(85.0, 200.0) +
                                                   ring(95.0, 120.0) + ring(120.0, 80.0) +
                                                   1.0e5 / (r2 + 100.0) + 10.0);
    }
  return kzt_displayed_image(kN, kN, 1, 1, kN, kN, data, {}, xaxis, yaxis, "Rings", "X", "Y",
                             "Z");
}

TEST_F(ProjectFit, CentreFoundWhenTheUnmirroredTailHoldsARing) {
  const GsDisplayedImage im = ring_pattern(data, xaxis, yaxis);
  struct Case {
    std::vector<std::string> clicks;  // line, then strip limits
    bool along_x;
  };
  const Case cases[] = {
      {{"99.97", "60", "249.97", "60", "155", "50", "155", "70"}, true},
      {{"13", "60", "163", "60", "100", "50", "100", "70"}, true},
      {{"79.97", "60", "269.97", "60", "155", "50", "155", "70"}, true},
      {{"0", "60", "182.77", "60", "100", "50", "100", "70"}, true},
      {{"90", "90", "90", "250", "80", "150", "100", "150"}, false},
      {{"60", "60", "250", "60", "155", "50", "155", "70"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clicks[0] + "," + c.clicks[1] + " to " + c.clicks[2] + "," + c.clicks[3]);
    testing::TerminalCapture terminal;
    std::vector<std::string> lines{"2"};
    lines.insert(lines.end(), c.clicks.begin(), c.clicks.begin() + 4);
    lines.push_back("2");
    lines.insert(lines.end(), c.clicks.begin() + 4, c.clicks.end());
    lines.insert(lines.end(), {"YES", "EXIT"});
    float x = 0.0f, y = 0.0f;
    Status status = kStatusGood;
    EXPECT_TRUE(fit(im, lines, x, y, status));
    EXPECT_EQ(status, kStatusGood);
    const std::string text = terminal.text();
    const bool warned = text.find("Problem fitting") != std::string::npos;
    const float off = c.along_x ? x / 1e-4f - 131.37f : y / 1e-4f - 140.0f;
    // Right, and then said without a warning, or else warned of.
    if (!warned)
      EXPECT_NEAR(off, 0.0f, 0.05f) << text;
    else
      EXPECT_GT(std::abs(off), 0.05f) << text;
  }
}

// The ring pattern above with Poisson noise of 1000 counts where it holds 10
// (SEED 0: none).
void add_noise(std::vector<float>& data, unsigned seed) {
  if (seed == 0) return;
  std::mt19937 rng(seed);
  for (float& v : data) {
    std::poisson_distribution<long> counts(v * 100.0);
    v = static_cast<float>(static_cast<double>(counts(rng)) / 100.0);
  }
}

// Lines of 13 to 20 points whose centre lies 2 or 3 points off their middle:
// the smoothing averages fewer points at either end, and those ends no longer
// pull the centre. Each centre proposed lies within 0.05 pixel of the truth,
// or is said to be doubtful (too few whole points mirror) and the stored one
// offered instead.
TEST_F(ProjectFit, ShortLinesOffTheCentreFindItOrSaySo) {
  const GsDisplayedImage clean = ring_pattern(data, xaxis, yaxis);
  const std::vector<float> noiseless = data;
  int right = 0, doubtful = 0;
  for (const unsigned seed : {0u, 7u}) {
    data = noiseless;
    add_noise(data, seed);
    for (const int length : {13, 16, 20})
      for (const double off : {-3.0, -2.0, 2.0, 3.0}) {
        const double start = 131.37 - (length / 2.0 + off);
        const std::string x1 = std::to_string(start), x2 = std::to_string(start + length);
        SCOPED_TRACE(std::to_string(seed) + ": " + x1 + " to " + x2);
        testing::TerminalCapture terminal;
        float x = 1.0e-2f, y = 1.4e-2f;  // the stored centre, (100, 140)
        Status status = kStatusGood;
        EXPECT_TRUE(fit(clean,
                        {"2", x1, "140", x2, "140", "2", x1, "136", x1, "144", "YES", "EXIT"}, x,
                        y, status));
        EXPECT_EQ(status, kStatusGood);
        const std::string text = terminal.text();
        if (text.find("the stored centre is offered") != std::string::npos) {
          EXPECT_FLOAT_EQ(x, 1.0e-2f);
          ++doubtful;
        } else {
          EXPECT_NEAR(x / 1e-4f, 131.37f, 0.05f) << text;
          ++right;
        }
      }
  }
  EXPECT_GE(right, 20) << doubtful;
}

// Profiles without a centre of symmetry within the line, where even the
// best centre mirrors badly or mirrors almost nothing: a decay from the
// centre outwards, a line starting past the centre, one far to its side.
// That is said, and Return keeps the stored centre; a right centre on the
// same pattern is not doubted.
TEST_F(ProjectFit, NoCentreOfSymmetryOffersTheStoredOne) {
  const GsDisplayedImage im =
      image(256, 16, 70.3, [](double d) { return 1.0e5 / (d * d + 100.0) + 10.0; });
  struct Case {
    const char* from;
    const char* to;
    bool right;
  };
  for (const Case& c : {Case{"70.3", "200", false}, Case{"76", "220", false},
                        Case{"120", "250", false}, Case{"10", "140", true}}) {
    SCOPED_TRACE(std::string(c.from) + " to " + c.to);
    testing::TerminalCapture terminal;
    float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
    Status status = kStatusGood;
    EXPECT_TRUE(fit(im, {"2", c.from, "8", c.to, "8", "2", "100", "4", "100", "12", "YES", "EXIT"},
                    x, y, status));
    EXPECT_EQ(status, kStatusGood);
    const std::string text = terminal.text();
    const bool doubted = text.find("the stored centre is offered") != std::string::npos;
    EXPECT_EQ(doubted, !c.right) << text;
    if (c.right) {
      EXPECT_NEAR(x / 1e-4f, 70.3f, 0.05f);
    } else {
      EXPECT_FLOAT_EQ(x, 5.0e-3f);
      EXPECT_FLOAT_EQ(y, 8.0e-4f);
    }
  }
}

// Replayed from a macro the doubt is one line at the terminal as well as its
// box, which waits for nothing: the transcript says why the stored centre
// was offered.
TEST_F(ProjectFit, ADoubtfulCentreIsALineInAReplayedMacro) {
  const GsDisplayedImage im =
      image(256, 16, 70.3, [](double d) { return 1.0e5 / (d * d + 100.0) + 10.0; });
  testing::TempDir dir;
  std::string macro = dir.file("fit.mac");
  std::ofstream(macro) << "2\n120\n8\n250\n8\n2\n100\n4\n100\n12\nYES\nEXIT\n\n\n";
  testing::TerminalCapture terminal;
  float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
  Status status = kStatusGood;
  IO_OPEN_INMACRO(false, macro, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(KZT_PROJECTFIT(im, 1e-4f, 1e-4f, x, y, status));
  EXPECT_EQ(status, kStatusGood);
  IO_CLOSE_INMACRO(status);
  EXPECT_FLOAT_EQ(x, 5.0e-3f);
  const std::string text = terminal.text();
  // The box's two lines are one sentence on one line.
  const std::size_t at = text.find(": the centre found is doubtful; the stored centre is offered\n");
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.rfind("WARNING: The ", at), text.rfind('\n', at) + 1) << text;
}

// Profiles that no centre mirrors but by chance: noise alone, on a flat
// image of 100 counts, in lines of 12 to 100 pixels. However well some
// centre happens to mirror the noise, that is said and Return keeps the
// stored centre.
TEST_F(ProjectFit, NoiseAloneOffersTheStoredCentre) {
  const GsDisplayedImage im = blank(128, 48, "Flat");
  for (const unsigned seed : {4u, 5u, 23u, 38u}) {
    std::mt19937 rng(seed);
    std::poisson_distribution<long> counts(100.0);
    for (float& v : data) v = static_cast<float>(counts(rng));
    for (const int length : {12, 14, 16, 100}) {
      const std::string x1 = "10.3", x2 = std::to_string(10.3 + length);
      SCOPED_TRACE(std::to_string(seed) + ": " + x1 + " to " + x2);
      testing::TerminalCapture terminal;
      float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
      Status status = kStatusGood;
      EXPECT_TRUE(fit(im, {"2", x1, "24", x2, "24", "2", x1, "19", x1, "29", "YES", "EXIT"}, x, y,
                      status));
      EXPECT_EQ(status, kStatusGood);
      EXPECT_NE(terminal.text().find("WARNING: The profile varies no more than its noise"),
                std::string::npos)
          << terminal.text();
      EXPECT_FLOAT_EQ(x, 5.0e-3f);
      EXPECT_FLOAT_EQ(y, 8.0e-4f);
    }
  }
}

// Noise alone at 0.05 to 0.2 counts a pixel, as a weak exposure gives: most
// pixels hold 0, a few 1, and most differences between pixels are 0. The
// profile is still said to vary no more than its noise.
TEST_F(ProjectFit, SparseCountsOfNoiseAloneOfferTheStoredCentre) {
  const GsDisplayedImage im = blank(200, 128, "Sparse");
  struct Case {
    double level;
    const char *from, *to, *low, *high;  // the line along row 64.5, the strip's rows
  };
  int profiles = 0, doubted = 0;
  for (const Case& c :
       {Case{0.1, "80.5", "120.5", "49", "79"}, Case{0.05, "70.5", "130.5", "54", "74"},
        Case{0.08, "88.5", "112.5", "44", "84"}, Case{0.2, "90.5", "110.5", "59", "69"}})
    for (unsigned seed = 1; seed <= 10; ++seed) {
      std::mt19937 rng(seed);
      std::poisson_distribution<long> counts(c.level);
      for (float& v : data) v = static_cast<float>(counts(rng));
      testing::TerminalCapture terminal;
      float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
      Status status = kStatusGood;
      EXPECT_TRUE(fit(
          im, {"2", c.from, "64.5", c.to, "64.5", "2", "100", c.low, "100", c.high, "YES", "EXIT"},
          x, y, status));
      ++profiles;
      if (terminal.text().find("WARNING: The profile varies no more than its noise") !=
          std::string::npos)
        ++doubted;
      EXPECT_FLOAT_EQ(x, 5.0e-3f) << c.level << " counts, seed " << seed << terminal.text();
    }
  EXPECT_EQ(doubted, profiles);
}

// Grazing-incidence rods across a line of 100 pixels about the specular rod
// at X = 128.37: each side rod, 37.2 pixels off, is symmetric in itself and
// the rods beside it mirror each other about it, as well as the specular
// rod mirrors the whole line. The centre found is the specular rod's, at
// 50 to 200 counts of Poisson noise, and not doubted.
TEST_F(ProjectFit, SideRodsDoNotDrawTheCentre) {
  constexpr Index kX = 256, kY = 64;
  constexpr double kSpecular = 128.37;
  const GsDisplayedImage im = blank(kX, kY, "Rods");
  const double heights[] = {0.5, 0.7, 1.0, 0.7, 0.5};
  for (const double peak : {50.0, 200.0})
    for (const unsigned seed : {1u, 2u, 3u, 7u}) {
      std::mt19937 rng(seed);
      for (Index j = 1; j <= kY; ++j)
        for (Index i = 1; i <= kX; ++i) {
          double v = 5.0;
          for (int k = -2; k <= 2; ++k) {
            const double u = (static_cast<double>(i) - 0.5 - (kSpecular + 37.2 * k)) / 1.5;
            v += peak * heights[k + 2] * std::exp(-0.5 * u * u - (j - 0.5) / 40.0);
          }
          std::poisson_distribution<long> counts(v);
          data[element(i, j, kX)] = static_cast<float>(counts(rng));
        }
      const std::string x1 = std::to_string(kSpecular - 50.0),
                        x2 = std::to_string(kSpecular + 50.0);
      SCOPED_TRACE(std::to_string(peak) + " counts, seed " + std::to_string(seed));
      testing::TerminalCapture terminal;
      float x = 0.0f, y = 0.0f;
      Status status = kStatusGood;
      EXPECT_TRUE(fit(im, {"2", x1, "20", x2, "20", "2", x1, "14", x1, "26", "YES", "EXIT"}, x, y,
                      status));
      EXPECT_EQ(status, kStatusGood);
      EXPECT_NEAR(x / 1e-4f, kSpecular, 0.5) << terminal.text();
      EXPECT_EQ(terminal.text().find("doubtful"), std::string::npos) << terminal.text();
    }
}

// A Gaussian band of section SIGMA at AT (a ring's radius, a rod's place).
double band(double r, double at, double sigma) {
  return std::exp(-0.5 * (r - at) * (r - at) / (sigma * sigma));
}

// Rods on a flat background that mirror part of the line about a point other
// than the specular rod: equal rods, where the point half-way between two of
// them mirrors more of the line than the specular rod does, and a strong
// side rod that mirrors only itself, as the weak specular rod does. Each
// centre found is the specular rod's, or is doubted and the stored centre
// offered, at 30 to 200 counts of Poisson noise.
TEST_F(ProjectFit, RodsThatMirrorAnotherPointAreNotTakenForTheCentre) {
  constexpr Index kX = 300, kY = 48;
  const GsDisplayedImage im = blank(kX, kY, "Rods");
  struct Case {
    const char* what;
    double specular, spacing, background;
    double heights[3];  // the specular rod, the first side rods, the second
    double from, to;     // the line along X
  };
  const Case cases[] = {
      {"equal rods", 148.73, 28.6, 31.0, {112.0, 113.0, 106.0}, 91.83, 232.23},
      {"a strong side rod", 149.13, 36.2, 33.0, {55.0, 172.0, 81.0}, 116.69, 218.16},
  };
  for (const Case& c : cases)
    for (const unsigned seed : {1u, 2u, 3u, 4u}) {
      std::mt19937 rng(seed);
      for (Index j = 1; j <= kY; ++j)
        for (Index i = 1; i <= kX; ++i) {
          double v = c.background;
          for (int k = -2; k <= 2; ++k)
            v += c.heights[std::abs(k)] *
                 band(static_cast<double>(i) - 0.5, c.specular + k * c.spacing, 2.0);
          std::poisson_distribution<long> counts(v);
          data[element(i, j, kX)] = static_cast<float>(counts(rng));
        }
      const std::string x1 = std::to_string(c.from), x2 = std::to_string(c.to);
      SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seed));
      testing::TerminalCapture terminal;
      float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
      Status status = kStatusGood;
      EXPECT_TRUE(fit(im, {"2", x1, "24", x2, "24", "2", x1, "18", x1, "30", "YES", "EXIT"}, x, y,
                      status));
      const bool doubted =
          terminal.text().find("the stored centre is offered") != std::string::npos;
      if (doubted)
        EXPECT_FLOAT_EQ(x, 5.0e-3f);
      else
        EXPECT_NEAR(x / 1e-4f, c.specular, 0.5) << terminal.text();
    }
}

// Grazing-incidence rods along X about the specular rod at X0 (row 150),
// SPACING apart, over a background that rises by SLOPE per pixel along the
// line, with Poisson noise: the specular rod, the first side rods and the
// second. DECAY adds a background falling from that height at DECAY_AT
// pixels from X0 by e over DECAY_LENGTH pixels (rising where it is negative).
void rod_image(std::vector<float>& data, Index kx, Index ky, double x0, double spacing,
               const double (&heights)[3], double sigma, double background, double slope,
               unsigned seed, double decay = 0.0, double decay_at = 0.0,
               double decay_length = 1.0) {
  std::mt19937 rng(seed);
  for (Index j = 1; j <= ky; ++j)
    for (Index i = 1; i <= kx; ++i) {
      const double t = static_cast<double>(i) - 0.5 - x0;
      double v = background + slope * t + decay * std::exp(-(t - decay_at) / decay_length);
      for (int k = -2; k <= 2; ++k) v += heights[std::abs(k)] * band(t, k * spacing, sigma);
      std::poisson_distribution<long> counts(std::max(v, 0.0));
      data[element(i, j, kx)] = static_cast<float>(counts(rng));
    }
}

// Clear profiles whose centre mirrors everything on the line: the specular
// rod at the middle of a 250-pixel line with side rods 45 and 90 pixels off
// (the outer ones 35 pixels from the ends, each symmetric in itself), and a
// lone spot over a flat background. An outer side rod, or a stretch of
// background, mirrors its own short stretch better than the strong
// centre's counts let its pairs agree, but mirrors nothing else: the
// centre is proposed without a doubt.
TEST_F(ProjectFit, AFeatureMirroringOnlyItselfDoesNotDoubtAClearCentre) {
  constexpr Index kX = 262, kY = 24;
  const GsDisplayedImage im = blank(kX, kY, "Rods");
  const double falling[3] = {500.0, 250.0, 125.0}, flat[3] = {500.0, 300.0, 250.0};
  const auto check = [&](const std::string& what, double truth) {
    SCOPED_TRACE(what);
    testing::TerminalCapture terminal;
    float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
    Status status = kStatusGood;
    EXPECT_TRUE(fit(im, {"2", "6", "12", "256", "12", "2", "131", "7", "131", "17", "YES", "EXIT"},
                    x, y, status));
    EXPECT_EQ(status, kStatusGood);
    EXPECT_NEAR(x / 1e-4f, truth, 0.1) << terminal.text();
    EXPECT_EQ(terminal.text().find("doubtful"), std::string::npos) << terminal.text();
  };
  for (const auto* heights : {&falling, &flat})
    for (unsigned seed = 1; seed <= 8; ++seed) {
      rod_image(data, kX, kY, 131.0, 45.0, *heights, 2.0, 2.0, 0.0, seed);
      check("rods " + std::to_string((*heights)[1]) + ", seed " + std::to_string(seed), 131.0);
    }
  for (unsigned seed = 1; seed <= 4; ++seed) {
    std::mt19937 rng(seed);
    const double at = 118.14;
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 1; i <= kX; ++i) {
        const double u = (static_cast<double>(i) - 0.5 - at) / 4.3;
        const double w = (static_cast<double>(j) - 0.5 - 12.0) / 4.3;
        std::poisson_distribution<long> counts(50.0 + 2000.0 * std::exp(-0.5 * (u * u + w * w)));
        data[element(i, j, kX)] = static_cast<float>(counts(rng));
      }
    check("spot, seed " + std::to_string(seed), at);
  }
}

// Rod set-ups where the specular rod mirrors only a part of the line: on a
// falling slope the points about it that mirror best lie a fraction of a
// pixel apart and are one centre, refined, not a rival (a side rod may
// still mirror as well); with the line
// reaching far past one side, the point half-way between two unequal rods
// mirrors more of it and must not be proposed silently, nor where it
// mirrors two unlike side rods and the specular rod lies near one end.
TEST_F(ProjectFit, RodsMirroringPartOfTheLineGiveTheSpecularRodOrADoubt) {
  constexpr Index kX = 300, kY = 300;
  const GsDisplayedImage im = blank(kX, kY, "Rods");
  struct Case {
    const char* what;
    double specular, spacing, heights[3], sigma, background, slope;
    double from, to, half;  // the line along Y = 147.95, the strip's half width
    bool may_doubt;
    double decay = 0.0, decay_at = 0.0, decay_length = 1.0;  // see rod_image
  };
  const Case cases[] = {
      {"rods on a falling slope", 148.57, 41.53, {69.0, 144.3, 110.3}, 2.38, 9.13, -0.36, 72.885,
       190.731, 6.0, false},
      {"a long stretch past the side rods", 152.02, 38.70, {51.5, 65.6, 110.3}, 3.17, 6.12, 0.0,
       84.72, 181.145, 2.0, true},
      // The point half-way between the two side rods beyond the specular
      // rod mirrors more of the line, but pairs unlike rods beyond the noise.
      {"unlike side rods beyond the specular rod", 150.31, 37.2, {30.0, 21.0, 15.0}, 2.0, 12.0,
       0.0, 134.51, 234.51, 6.0, true},
      {"unlike side rods, the line starting later", 150.31, 37.2, {30.0, 21.0, 15.0}, 2.0, 12.0,
       0.0, 132.11, 232.11, 6.0, true},
      // Over a long stretch of background, the pairs of two unlike rods
      // mirrored about the point half-way between them, or about a side rod,
      // lift the mean misfit little: where their own pairs differ beyond
      // what those of the specular rod do, the point is not proposed
      // silently.
      {"unlike side rods, the specular rod 18 points from the start", 150.31, 37.2,
       {45.0, 31.0, 22.0}, 1.6, 13.0, 0.0, 132.19, 232.19, 4.0, true},
      {"unlike rods, the specular rod 27 points from the start", 150.31, 37.2,
       {77.0, 54.0, 39.0}, 1.9, 13.0, 0.0, 123.16, 223.16, 4.0, true},
      // Rods up to a fifth off their usual heights: half-way between the
      // specular rod and a side rod nearly as high, or between two side rods.
      {"a side rod nearly as high as the specular rod", 150.31, 37.2, {58.0, 49.0, 32.0}, 2.3,
       12.0, 0.0, 66.19, 166.19, 4.0, true},
      {"side rods nearly as high as each other", 150.31, 37.2, {46.0, 33.0, 23.0}, 2.1, 14.0, 0.0,
       68.92, 168.92, 4.0, true},
      // On a strong decay a side rod mirrors itself, and the decay's pairs
      // about it differ little, but the pairs of the rods beside it do.
      {"a side rod on a decay rising towards the far end", 150.31, 37.2, {52.0, 37.0, 26.0}, 2.2,
       9.0, 0.0, 128.64, 228.64, 4.0, true, 49.0, 78.33, -21.0},
      {"a side rod on a decay falling from the start", 150.31, 37.2, {67.0, 47.0, 34.0}, 2.2,
       12.0, 0.0, 122.99, 222.99, 4.0, true, 30.0, -27.32, 43.0},
      // A weak specular rod 25 points from one end mirrors only itself; the
      // strong side rod nearer the middle mirrors it onto the weaker rod
      // cut by the other end as well, over more of the line.
      {"a weak specular rod 25 points from the end", 150.31, 37.2, {36.0, 60.0, 30.0}, 1.9, 9.0,
       0.0, 75.31, 175.31, 6.0, true},
      {"a weak specular rod 25 points from the start", 150.31, 37.2, {36.0, 60.0, 30.0}, 1.9,
       9.0, 0.0, 125.31, 225.31, 6.0, true},
      // Rods 50 points apart: the specular rod near one end mirrors only
      // itself, the side rod nearer the middle only itself too, over more
      // pairs; the count of pairs does not tell which is the centre.
      {"the specular rod 10 points from the start", 150.31, 50.0, {60.0, 42.0, 30.0}, 1.8, 9.0,
       0.0, 140.31, 240.31, 6.0, true},
      {"a weak specular rod 10 points from the start", 150.31, 50.0, {36.0, 60.0, 30.0}, 1.8,
       9.0, 0.0, 140.31, 240.31, 6.0, true},
      {"a weak specular rod 20 points from the end", 150.31, 50.0, {36.0, 60.0, 30.0}, 1.8, 9.0,
       0.0, 70.31, 170.31, 6.0, true},
  };
  for (const Case& c : cases)
    for (const unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
      rod_image(data, kX, kY, c.specular, c.spacing, c.heights, c.sigma, c.background, c.slope,
                seed, c.decay, c.decay_at, c.decay_length);
      const std::string x1 = std::to_string(c.from), x2 = std::to_string(c.to);
      const std::string ya = std::to_string(147.95 - c.half), yb = std::to_string(147.95 + c.half);
      SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seed));
      testing::TerminalCapture terminal;
      float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
      Status status = kStatusGood;
      EXPECT_TRUE(fit(im, {"2", x1, "147.95", x2, "147.95", "2", "131.8", ya, "131.8", yb, "YES",
                           "EXIT"},
                      x, y, status));
      const std::string text = terminal.text();
      const bool doubted = text.find("the stored centre is offered") != std::string::npos;
      // A rival is a second centre, never the same rod a pixel away.
      const std::size_t rival = text.find("mirrors as well about a point ");
      if (rival != std::string::npos) {
        EXPECT_GT(std::stod(text.substr(rival + 30)), 2.0) << text;
      }
      EXPECT_TRUE(c.may_doubt || !doubted || rival != std::string::npos) << text;
      if (doubted) {
        EXPECT_FLOAT_EQ(x, 5.0e-3f);
      }
      if (!doubted || !c.may_doubt) {
        const std::size_t found = text.find("Centre of symmetry (pixels) = (");
        ASSERT_NE(found, std::string::npos) << text;
        EXPECT_NEAR(std::stod(text.substr(found + 31)), c.specular, 0.3) << text;
      }
    }
}

// The specular rod cut by the start of a line of 60 pixels, or 4 to 6
// pixels into it: it mirrors too few points about itself to be judged,
// while the side rod 37.2 pixels on mirrors only itself as well, over more
// of the line, and on a line of 100 pixels so does the weaker rod beyond
// it. Nothing on the line tells which is the centre: the specular rod is
// found, or the centre is doubted, never a side rod proposed silently.
TEST_F(ProjectFit, ARodCutByTheLinesEndIsTheCentreOrADoubt) {
  constexpr Index kX = 300, kY = 300;
  const GsDisplayedImage im = blank(kX, kY, "Rods");
  constexpr double kSpecular = 150.31;
  struct Line {
    double into, length;
  };
  for (const Line line : {Line{0.3, 60.0}, Line{6.0, 60.0}, Line{4.0, 100.0}})
    for (const double direction : {1.0, -1.0})
      for (const unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
        rod_image(data, kX, kY, kSpecular, 37.2, {100.0, 70.0, 45.0}, 2.0, 8.0, 0.0, seed);
        const double into = line.into;
        const double from = kSpecular - direction * into, to = from + direction * line.length;
        SCOPED_TRACE("the specular rod " + std::to_string(into) + " points in, seed " +
                     std::to_string(seed) + (direction < 0.0 ? ", the line reversed" : ""));
        testing::TerminalCapture terminal;
        float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
        Status status = kStatusGood;
        EXPECT_TRUE(fit(im, {"2", std::to_string(from), "147.95", std::to_string(to), "147.95",
                             "2", "131.8", "143.95", "131.8", "151.95", "YES", "EXIT"},
                        x, y, status));
        const std::string text = terminal.text();
        if (text.find("the stored centre is offered") != std::string::npos) {
          EXPECT_FLOAT_EQ(x, 5.0e-3f);
          continue;
        }
        const std::size_t found = text.find("Centre of symmetry (pixels) = (");
        ASSERT_NE(found, std::string::npos) << text;
        EXPECT_NEAR(std::stod(text.substr(found + 31)), kSpecular, 0.5) << text;
      }
}

// Short lines whose specular rod lies 4 to 8 pixels from one end, its side
// rods falling to 0.6 and 0.3 of it, the weaker one a few pixels from the
// other end: that rod mirrors only itself, over more of the line than the
// specular rod, and must not be proposed silently.
TEST_F(ProjectFit, ShortLinesNeverProposeTheWeakRodFarFromTheSpecularOneSilently) {
  constexpr Index kX = 300, kY = 300;
  const GsDisplayedImage im = blank(kX, kY, "Rods");
  constexpr double kSpecular = 150.31;
  struct Line {
    double into, length, spacing, sigma, peak, background;
  };
  for (const Line line : {Line{4.65, 60.0, 23.61, 1.88, 2000.0, 0.0},
                          Line{7.65, 40.0, 11.96, 1.07, 500.0, 2.0},
                          Line{7.1, 60.0, 19.29, 1.89, 2000.0, 10.0}})
    for (const double direction : {1.0, -1.0})
      for (const unsigned seed : {1u, 2u, 3u}) {
        rod_image(data, kX, kY, kSpecular, line.spacing,
                  {line.peak, 0.6 * line.peak, 0.3 * line.peak}, line.sigma, line.background, 0.0,
                  seed);
        const double from = kSpecular - direction * line.into,
                     to = from + direction * line.length;
        SCOPED_TRACE("the specular rod " + std::to_string(line.into) + " points into " +
                     std::to_string(line.length) + ", seed " + std::to_string(seed) +
                     (direction < 0.0 ? ", the line reversed" : ""));
        testing::TerminalCapture terminal;
        float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
        Status status = kStatusGood;
        EXPECT_TRUE(fit(im, {"2", std::to_string(from), "147.95", std::to_string(to), "147.95",
                             "2", "131.8", "142.95", "131.8", "152.95", "YES", "EXIT"},
                        x, y, status));
        const std::string text = terminal.text();
        if (text.find("the stored centre is offered") != std::string::npos) {
          EXPECT_FLOAT_EQ(x, 5.0e-3f);
          continue;
        }
        EXPECT_NEAR(x / 1e-4f, kSpecular, 0.5) << text;
      }
}

// A row of rods of equal heights 37.2 pixels apart, across lines of 200 and
// 400 pixels with the specular rod 4 % to 40 % along them: each rod
// mirrors its neighbours alike, as do the points half-way between them, and
// symmetry alone does not tell which rod is the centre. The rod nearest the
// line's middle must not be proposed silently: the specular rod is found,
// or the profile is said to mirror as well about another point and the
// stored centre is offered.
TEST_F(ProjectFit, EqualRodsGiveTheSpecularRodOrSayTheCentreIsAmbiguous) {
  constexpr Index kX = 800, kY = 24;
  constexpr double kSpecular = 400.5;
  const GsDisplayedImage im = blank(kX, kY, "Rods");
  for (const unsigned seed : {1u, 2u}) {
    std::mt19937 rng(seed);
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 1; i <= kX; ++i) {
        const double t = static_cast<double>(i) - 0.5 - kSpecular;
        const double nearest = 37.2 * std::round(t / 37.2);
        std::poisson_distribution<long> counts(30.0 + 500.0 * band(t, nearest, 1.0));
        data[element(i, j, kX)] = static_cast<float>(counts(rng));
      }
    for (const double length : {200.0, 400.0})
      for (const double along : {0.04, 0.25, 0.4}) {
        const double from = kSpecular - along * length + 0.21;
        const std::string x1 = std::to_string(from), x2 = std::to_string(from + length);
        SCOPED_TRACE(std::to_string(length) + " pixels, the rod " + std::to_string(along) +
                     " along, seed " + std::to_string(seed));
        testing::TerminalCapture terminal;
        float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
        Status status = kStatusGood;
        EXPECT_TRUE(fit(im, {"2", x1, "12.1", x2, "12.1", "2", x1, "9.1", x1, "15.1", "YES",
                             "EXIT"},
                        x, y, status));
        const std::string text = terminal.text();
        if (text.find("the stored centre is offered") != std::string::npos) {
          EXPECT_NE(text.find("mirrors as well about a point"), std::string::npos) << text;
          EXPECT_FLOAT_EQ(x, 5.0e-3f);
        } else {
          EXPECT_NEAR(x / 1e-4f, kSpecular, 0.5) << text;
        }
      }
  }
}

// A spot of 1.5 and 4 pixels over a flat background, a fifth to a half of
// the way along lines of 12 to 400 pixels. The least-squares step may run
// from the best start towards an end of the line, where the points without
// a mirror carry the others' mean; it has then gone astray, and the start
// is the centre: a centre found on the spot is never said to be a failed
// fit.
TEST_F(ProjectFit, ASpotFoundIsNotAFailedFit) {
  constexpr Index kX = 800, kY = 24;
  constexpr double kSpot = 400.63;
  const GsDisplayedImage im = blank(kX, kY, "Spot");
  for (const double sigma : {1.5, 4.0})
    for (const double peak : {100.0, 2000.0}) {
      std::mt19937 rng(static_cast<unsigned>(peak + sigma));
      for (Index j = 1; j <= kY; ++j)
        for (Index i = 1; i <= kX; ++i) {
          std::poisson_distribution<long> counts(
              5.0 + 0.05 * peak + peak * band(static_cast<double>(i) - 0.5, kSpot, sigma));
          data[element(i, j, kX)] = static_cast<float>(counts(rng));
        }
      for (const double length : {12.0, 16.0, 30.0, 100.0, 400.0})
        for (const double along : {0.2, 0.35, 0.5}) {
          const double from = kSpot - along * length + 0.21;
          const std::string x1 = std::to_string(from), x2 = std::to_string(from + length);
          SCOPED_TRACE(std::to_string(sigma) + " pixels, " + std::to_string(peak) + " counts, " +
                       std::to_string(length) + " pixels, " + std::to_string(along) + " along");
          testing::TerminalCapture terminal;
          float x = 5.0e-3f, y = 8.0e-4f;
          Status status = kStatusGood;
          EXPECT_TRUE(fit(im, {"2", x1, "12.1", x2, "12.1", "2", x1, "9.1", x1, "15.1", "YES",
                               "EXIT"},
                          x, y, status));
          const std::string text = terminal.text();
          const std::size_t found = text.find("Centre of symmetry (pixels) = (");
          ASSERT_NE(found, std::string::npos) << text;
          if (std::abs(std::stod(text.substr(found + 31)) - kSpot) <= 0.5) {
            EXPECT_EQ(text.find("Problem fitting"), std::string::npos) << text;
          }
        }
    }
}

// A single sharp spot a quarter of the way along the line (25 to 31 pixels
// of 99 to 101): the centres of the candidates tried lie half a point
// apart, and the one nearest the spot must not lose to a long stretch of
// background for lying a fraction of a point off it. Found, and not
// doubted, wherever the line starts, without noise and at 50 counts of
// background.
TEST_F(ProjectFit, ASpotNearOneEndOfTheLineIsItsCentre) {
  constexpr Index kX = 200, kY = 160;
  const GsDisplayedImage im = blank(kX, kY, "Spot");
  struct Case {
    double at, height, sigma, background;
    unsigned seed;  // 0: no noise
  };
  for (const Case& c : {Case{80.3, 1000.0, 1.2, 20.0, 0}, Case{76.1, 300.0, 2.5, 50.0, 1}}) {
    std::mt19937 rng(c.seed);
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 1; i <= kX; ++i) {
        const double v = c.background +
                         c.height * band(static_cast<double>(i) - 0.5, c.at, c.sigma) *
                             band(static_cast<double>(j) - 0.5, 80.0, c.sigma);
        std::poisson_distribution<long> counts(v);
        data[element(i, j, kX)] =
            static_cast<float>(c.seed == 0 ? std::round(v) : static_cast<double>(counts(rng)));
      }
    for (const double start : {49.0, 49.25, 49.5, 49.75, 50.0, 51.0, 51.5}) {
      const std::string x1 = std::to_string(start);
      SCOPED_TRACE(std::to_string(c.at) + " from " + x1);
      testing::TerminalCapture terminal;
      float x = 5.0e-3f, y = 8.0e-4f;
      Status status = kStatusGood;
      EXPECT_TRUE(fit(im,
                      {"2", x1, "80", "150", "80", "2", "100", "75", "100", "85", "YES", "EXIT"},
                      x, y, status));
      EXPECT_NEAR(x / 1e-4f, c.at, 0.3) << terminal.text();
      EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
    }
  }
}

// A clear spot a fifth to a third of the way along a line of 100 points,
// on a flat background and on one that falls away from the near end: about
// a point of the long stretch beyond the spot, alike pairs of background
// lie below the profile's mean, lifted by the spot, and must not outweigh
// the spot's own pairs. Found, and not doubted.
TEST_F(ProjectFit, ASpotAFifthToAThirdAlongTheLineIsItsCentre) {
  constexpr Index kX = 160, kY = 60;
  const GsDisplayedImage im = blank(kX, kY, "Spot");
  struct Case {
    double at, slope;  // the spot along the line, the background's fall per pixel
  };
  std::mt19937 rng(5);
  for (const Case& c : {Case{20.5, 0.0}, Case{23.9, 0.0}, Case{30.5, 0.6}, Case{33.8, 0.4}}) {
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 1; i <= kX; ++i) {
        const double x = static_cast<double>(i) - 0.5, y = static_cast<double>(j) - 0.5;
        const double v = 15.0 + c.slope * std::max(0.0, 130.0 - x) +
                         400.0 * band(x, 30.0 + c.at, 1.8) * band(y, 30.0, 1.8);
        std::poisson_distribution<long> counts(v);
        data[element(i, j, kX)] = static_cast<float>(counts(rng));
      }
    SCOPED_TRACE(std::to_string(c.at) + " along, fall " + std::to_string(c.slope));
    testing::TerminalCapture terminal;
    float x = 5.0e-3f, y = 8.0e-4f;
    Status status = kStatusGood;
    EXPECT_TRUE(
        fit(im, {"2", "30", "30", "130", "30", "2", "30", "24", "30", "36", "YES", "EXIT"}, x, y,
            status));
    EXPECT_NEAR(x / 1e-4f, 30.0 + c.at, 0.3) << terminal.text();
    EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
  }
}

// Features about (127.6, 129.4) on a background that rises or falls along
// the line, with Poisson noise: about the true centre each pair of
// background points differs by as much as the background changes between
// them, and a ring or a rod crossed on one side mirrors a short stretch
// better. The centre found is still the features', and not doubted; a
// slope alone holds no centre, and is doubted.
TEST_F(ProjectFit, SmoothBackgroundsDoNotDrawTheCentre) {
  constexpr Index kN = 256;
  constexpr double kX0 = 127.6, kY0 = 129.4;
  const GsDisplayedImage im = blank(kN, kN, "Background");
  struct Case {
    const char* what;
    double (*model)(double dx, double r);
    double from, to;  // the line along X about the centre
  };
  const Case cases[] = {
      {"rings on a slope",
       [](double dx, double r) {
         return 40.0 + 250.0 * band(r, 30.0, 2.2) + 150.0 * band(r, 52.0, 2.5) + 0.45 * dx;
       },
       -68.0, 62.0},
      {"rings on a decay",
       [](double dx, double r) {
         return 20.0 + 300.0 * band(r, 35.0, 2.0) + 80.0 * band(r, 60.0, 3.0) +
                80.0 * std::exp(-(dx + 70.0) / 40.0);
       },
       -60.0, 70.0},
      {"rods on a decay",
       [](double dx, double) {
         double v = 30.0 + 80.0 * std::exp(-(dx + 70.0) / 40.0) + 120.0 * band(dx, 0.0, 2.2);
         for (const double at : {29.3, -29.3})
           v += 150.0 * band(dx, at, 2.2) + 60.0 * band(dx, 2.0 * at, 2.2);
         return v;
       },
       -45.7, 54.3},
      {"slope alone", [](double dx, double) { return 40.0 + 0.3 * dx; }, -68.0, 62.0},
  };
  std::mt19937 rng(1);
  for (const Case& c : cases) {
    for (Index j = 1; j <= kN; ++j)
      for (Index i = 1; i <= kN; ++i) {
        const double dx = static_cast<double>(i) - 0.5 - kX0,
                     dy = static_cast<double>(j) - 0.5 - kY0;
        std::poisson_distribution<long> counts(std::max(c.model(dx, std::hypot(dx, dy)), 0.0));
        data[element(i, j, kN)] = static_cast<float>(counts(rng));
      }
    const std::string x1 = std::to_string(kX0 + c.from), x2 = std::to_string(kX0 + c.to);
    SCOPED_TRACE(c.what);
    testing::TerminalCapture terminal;
    float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
    Status status = kStatusGood;
    EXPECT_TRUE(fit(im,
                    {"2", x1, "129.4", x2, "129.4", "2", x1, "121.4", x1, "137.4", "YES", "EXIT"},
                    x, y, status));
    const bool doubted = terminal.text().find("the stored centre is offered") != std::string::npos;
    const bool holds_centre = std::string(c.what) != "slope alone";
    EXPECT_EQ(doubted, !holds_centre) << terminal.text();
    if (holds_centre) {
      EXPECT_NEAR(x / 1e-4f, kX0, 0.5) << terminal.text();
    }
  }
}

// Pixels that are not numbers take no part in the projection: a strip half
// of whose rows are NaN still has the other half's profile and its centre.
TEST_F(ProjectFit, PixelsThatAreNotNumbersAreLeftOut) {
  const GsDisplayedImage im = ring_pattern(data, xaxis, yaxis);
  for (Index j = 141; j <= 150; ++j)
    for (Index i = 1; i <= 256; ++i)
      data[element(i, j, 256)] = std::numeric_limits<float>::quiet_NaN();
  for (Index i = 120; i <= 126; ++i)
    data[element(i, 135, 256)] = std::numeric_limits<float>::infinity();
  testing::TerminalCapture terminal;
  float x = 0.0f, y = 0.0f;
  Status status = kStatusGood;
  EXPECT_TRUE(fit(im,
                  {"2", "40", "140", "230", "140", "2", "100", "130", "100", "150", "YES", "EXIT"},
                  x, y, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(x / 1e-4f, 131.37f, 0.05f) << terminal.text();
}

// One hot pixel left unmasked in the strip, 13 to 17 pixels beside the
// specular rod of a rod pattern at 30 to 400 counts: its box of the
// smoothed profile is symmetric in itself and swamps every other centre's
// misfit, but it is no feature. The centre is the specular rod's, as with
// the pixel masked, and not doubted; over noise alone the profile still
// varies no more than its noise and the stored centre is offered.
TEST_F(ProjectFit, AHotPixelInTheStripIsNoCentre) {
  constexpr Index kX = 220, kY = 60;
  constexpr double kSpecular = 110.37;
  const GsDisplayedImage im = blank(kX, kY, "Hot");
  const std::string x1 = std::to_string(kSpecular - 50.0), x2 = std::to_string(kSpecular + 50.0),
                    at = std::to_string(kSpecular);
  const std::vector<std::string> clicks{"2", x1, "30.1", x2, "30.1", "2", at, "25.1", at, "35.1",
                                        "YES", "EXIT"};
  for (const bool rods : {true, false})
    for (const float hot : {1.0e30f, 1.0e6f})
      for (const unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        for (Index j = 1; j <= kY; ++j)
          for (Index i = 1; i <= kX; ++i) {
            const double d = std::abs(static_cast<double>(i) - 0.5 - kSpecular);
            const double v = rods ? 30.0 + 400.0 * band(d, 0.0, 2.0) + 150.0 * band(d, 25.0, 2.0) +
                                        80.0 * band(d, 50.0, 2.5)
                                  : 100.0;
            std::poisson_distribution<long> counts(v);
            data[element(i, j, kX)] = static_cast<float>(counts(rng));
          }
        data[element(static_cast<Index>(kSpecular) + 13 + static_cast<Index>(seed) * 2, 31, kX)] =
            hot;
        SCOPED_TRACE(std::string(rods ? "rods" : "noise") + (hot > 1.0e20f ? ", 1e30" : ", 1e6") +
                     ", seed " + std::to_string(seed));
        testing::TerminalCapture terminal;
        float x = 5.0e-3f, y = 8.0e-4f;  // the stored centre, (50, 8)
        Status status = kStatusGood;
        EXPECT_TRUE(fit(im, clicks, x, y, status));
        EXPECT_EQ(status, kStatusGood);
        if (rods) {
          EXPECT_NEAR(x / 1e-4f, kSpecular, 0.5) << terminal.text();
          EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
        } else {
          EXPECT_NE(terminal.text().find("WARNING: The profile varies no more than its noise"),
                    std::string::npos)
              << terminal.text();
          EXPECT_FLOAT_EQ(x, 5.0e-3f);
        }
      }
}

// Two hot pixels fill more points than one and together set what the
// profile varies; one spread over the strip's width may stand lower than the
// specular rod. Neither is taken for the centre, nor the point between them.
TEST_F(ProjectFit, TwoHotPixelsInTheStripAreNoCentre) {
  constexpr Index kX = 220, kY = 60;
  constexpr double kSpecular = 110.37;
  const GsDisplayedImage im = blank(kX, kY, "Hot");
  const std::string x1 = std::to_string(kSpecular - 50.0), x2 = std::to_string(kSpecular + 50.0),
                    at = std::to_string(kSpecular);
  const std::vector<std::string> clicks{"2", x1, "30.1", x2, "30.1", "2", at, "25.1", at, "35.1",
                                        "YES", "EXIT"};
  for (const float hot : {2.0e3f, 1.0e30f})
    for (const unsigned seed : {1u, 2u, 3u}) {
      std::mt19937 rng(seed);
      for (Index j = 1; j <= kY; ++j)
        for (Index i = 1; i <= kX; ++i) {
          const double d = std::abs(static_cast<double>(i) - 0.5 - kSpecular);
          std::poisson_distribution<long> counts(30.0 + 400.0 * band(d, 0.0, 2.0) +
                                                 150.0 * band(d, 25.0, 2.0));
          data[element(i, j, kX)] = static_cast<float>(counts(rng));
        }
      const auto column = static_cast<Index>(kSpecular);
      data[element(column + 13 + static_cast<Index>(seed) * 2, 31, kX)] = hot;
      data[element(column - 33 - static_cast<Index>(seed), 33, kX)] = hot;
      SCOPED_TRACE(std::to_string(hot) + ", seed " + std::to_string(seed));
      testing::TerminalCapture terminal;
      float x = 5.0e-3f, y = 8.0e-4f;
      Status status = kStatusGood;
      EXPECT_TRUE(fit(im, clicks, x, y, status));
      EXPECT_EQ(status, kStatusGood);
      EXPECT_NEAR(x / 1e-4f, kSpecular, 0.5) << terminal.text();
      EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos) << terminal.text();
    }
}

// The graph of the fit: the profile and its mirror image about the centre
// found. A centre near one end of the line mirrors the far points beyond
// the graph's X range; they are not drawn over the axes' numbers. Every
// line of the graph (its frame, ticks, curve, the centre and the markers
// of the mirrored profile) lies inside the frame once clipped.
TEST_F(ProjectFit, MirroredProfileStaysInsideTheGraph) {
  const GsDisplayedImage im = image(256, 16, 131.37, rings);
  std::vector<testing::PageItem> items;
  testing::open_page_recorder(1, &items, kCategoryPostScript);
  testing::TerminalCapture terminal;
  float x = 0.0f, y = 0.0f;
  Status status = kStatusGood;
  EXPECT_TRUE(fit(im, {"2", "100", "8", "250", "8", "2", "100", "0", "100", "16", "YES", "EXIT"}, x,
                  y, status));
  EXPECT_NEAR(x / 1e-4f, 131.37f, 0.05f);
  // The graph of the fit is the last page before the image is drawn again:
  // from its clear to the box that asks for a click.
  std::vector<std::size_t> clears;
  for (std::size_t k = 0; k < items.size(); ++k)
    if (items[k].kind == "clear") clears.push_back(k);
  ASSERT_GE(clears.size(), 2u);
  const std::size_t from = clears[clears.size() - 2], to = clears.back();
  std::vector<float> frame;  // the curve's clip: the frame
  for (std::size_t k = from; k < to && frame.empty(); ++k) frame = items[k].clip;
  ASSERT_EQ(frame.size(), 4u);
  int outside = 0, lines = 0;
  for (std::size_t k = from; k < to; ++k) {
    const testing::PageItem& item = items[k];
    if (item.kind != "polyline" && item.kind != "polymarker") continue;
    if (item.kind == "polyline" && item.y.front() < frame[1] - 1e-4f) break;  // the click box
    ++lines;
    for (std::size_t p = 0; p < item.x.size(); ++p) {
      const bool clipped =
          item.clip.size() == 4 && (item.x[p] < item.clip[0] || item.x[p] > item.clip[2] ||
                                    item.y[p] < item.clip[1] || item.y[p] > item.clip[3]);
      if (!clipped && (item.x[p] < frame[0] - 1e-4f || item.x[p] > frame[2] + 1e-4f ||
                       item.y[p] < frame[1] - 1e-4f || item.y[p] > frame[3] + 1e-4f)) {
        ++outside;
        break;
      }
    }
  }
  EXPECT_GT(lines, 100);
  EXPECT_EQ(outside, 0) << lines;
}

TEST_F(ProjectFit, ALineOfNoLengthIsClickedAgain) {
  const GsDisplayedImage im = image(40, 8, 17.3, peak);
  testing::TerminalCapture terminal;
  float x = 0.0f, y = 0.0f;
  Status status = kStatusGood;
  EXPECT_TRUE(fit(im,
                  {"2", "20", "4", "20", "4", "2", "0", "4", "40", "4", "2", "20", "0", "20", "8",
                   "YES", "EXIT"},
                  x, y, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(x / 1e-4f, 17.3f, 0.05f);
  const std::string text = terminal.text();
  EXPECT_NE(text.find("The line has no length"), std::string::npos) << text;
  EXPECT_EQ(text.find("PANIC"), std::string::npos) << text;
}

TEST_F(ProjectFit, NothingToFitProposesNoCentre) {
  const GsDisplayedImage im = image(40, 8, 17.3, peak);
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    const char* said;
  };
  const Case cases[] = {
      // The strip between two row centres holds no pixel centre.
      {"empty strip", {"2", "0", "4", "40", "4", "2", "20", "3.9", "20", "4.1", "YES"},
       "The strip holds no pixel centre"},
      // Every point of the profile masked.
      {"all masked",
       {"2", "0", "4", "40", "4", "2", "20", "0", "20", "8", "YES", "MASK REGION", "2", "-1000",
        "-1e6", "1000", "1e6", "EXIT"},
       "The profile holds no unmasked point"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TerminalCapture terminal;
    testing::ScriptedInput input(c.lines);
    float x = 1.5e-3f, y = 2.5e-4f;
    Status status = kStatusGood;
    EXPECT_FALSE(KZT_PROJECTFIT(im, 1e-4f, 1e-4f, x, y, status));
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u);
    EXPECT_EQ(x, 1.5e-3f);
    EXPECT_EQ(y, 2.5e-4f);
    EXPECT_NE(terminal.text().find(c.said), std::string::npos) << terminal.text();
  }
}

TEST_F(ProjectFit, StripSymmetricAboutAColumnProposesItAsTheCentre) {
  // 40 x 8 pixels of 100 microns, symmetric about X = 17.3 in every row.
  constexpr Index kX = 40, kY = 8;
  std::vector<float> data(kX * kY), xaxis(kX), yaxis(kY);
  for (Index i = 1; i <= kX; ++i) xaxis[i - 1] = static_cast<float>(i) - 0.5f;
  for (Index j = 1; j <= kY; ++j) yaxis[j - 1] = static_cast<float>(j) - 0.5f;
  for (Index j = 1; j <= kY; ++j)
    for (Index i = 1; i <= kX; ++i) {
      const double x = (static_cast<double>(i) - 0.5) - 17.3;
      data[element(i, j, kX)] = static_cast<float>(10.0 * std::exp(-x * x / 50.0) + 1.0);
    }
  const GsDisplayedImage im = kzt_displayed_image(kX, kY, 1, 1, kX, kY, data, {}, xaxis, yaxis,
                                                  "Strip", "X", "Y", "Z");
  testing::TerminalCapture quiet;
  // The line along the middle row, the strip over the whole height, no
  // points masked, the proposed centre accepted.
  testing::ScriptedInput input({"2", "0.0", "4.0", "40.0", "4.0", "2", "20.0", "0.0", "20.0",
                                "8.0", "YES", "EXIT", "", ""});
  float x_beam = 0.0f, y_beam = 0.0f;
  Status status = kStatusGood;
  EXPECT_TRUE(KZT_PROJECTFIT(im, 1e-4f, 1e-4f, x_beam, y_beam, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_NEAR(x_beam / 1e-4f, 17.3f, 0.05f);
  EXPECT_NEAR(y_beam / 1e-4f, 4.0f, 1e-3f);

  // CANCEL at the first click changes nothing.
  testing::ScriptedInput cancel({"\\\\"});
  EXPECT_FALSE(KZT_PROJECTFIT(im, 1e-4f, 1e-4f, x_beam, y_beam, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NEAR(x_beam / 1e-4f, 17.3f, 0.05f);
}

}  // namespace
}  // namespace kesta
