// Grid peak search, editing, saving and distortions on synthetic grid images
// whose hole positions are known.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/distortion/calibration.hpp"
#include "app/distortion/grid_peaks.hpp"
#include "app/distortion/grid_test_support.hpp"
#include "app/imageops/conventions.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/macro.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::GridScene;

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Answers from a replaying input macro; no window is drawn in.
struct GridReplay : testing::WidgetFixture {
  testing::TempDir dir;
  void SetUp() override {
    WidgetFixture::SetUp();
    kzt_forget_answers();
    kzt_grid_search_settings() = GridSearchSettings{};
    io_clear_database();
  }
  void replay(const std::string& lines) {
    testing::reset_dialogue();
    std::string name = dir.file("grid.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, name, s);
    ASSERT_EQ(s, kStatusGood);
  }
  static std::string point(float x, float y) {
    return "1\n" + std::to_string(x) + "\n" + std::to_string(y) + "\n";
  }
  // Clicks on the centres of hole (I, J), the one right of it and the one
  // above it.
  static std::string start_clicks(const GridScene& s, Index i, Index j) {
    std::string text;
    for (const auto& [ci, cj] : {std::pair{i, j}, std::pair{i + 1, j}, std::pair{i, j + 1}}) {
      float x = 0, y = 0;
      s.centre(ci, cj, x, y);
      text += point(x, y);
    }
    return text;
  }
  // Clicks on holes (6, 6), (7, 6), (6, 7); search settings with the peak
  // width answers WIDTHS; spacing 1000.
  static std::string find_peaks_answers(const GridScene& s, const std::string& widths = "1.5\n") {
    float x = 0, y = 0, xr = 0, yr = 0, xu = 0, yu = 0;
    s.centre(6, 6, x, y);
    s.centre(7, 6, xr, yr);
    s.centre(6, 7, xu, yu);
    return point(x + 0.3f, y - 0.4f) + point(xr, yr) + point(xu - 0.2f, yu) +
           "3\n0.3\n" + widths + "9\n200\n1000\nNO\n";
  }
  struct Result {
    int retstat = -1;
    Status status = kStatusGood;
    float spacing = 2000.0f, xps = 1.0e-4f, yps = 1.0e-4f;
    GridPeaks peaks;
    std::string out;
  };
  // The search over columns XSTRELM onwards, holding a grid of HELD_XNUM
  // columns before it.
  Result search(const GridScene& s, const std::vector<float>& data, Index xstrelm = 1,
                Index held_xnum = 0) {
    std::vector<float> axis(static_cast<std::size_t>(s.side));
    for (Index i = 0; i < s.side; ++i) axis[i] = static_cast<float>(i) + 0.5f;
    Result r;
    r.peaks.xnum = held_xnum;
    testing::TerminalCapture terminal;
    KZT_CALIBRATE2DGRID(false, s.side, s.side, xstrelm, 1, s.side, s.side, data, axis, axis,
                        "Grid", "X", "Y", "Z", 400, r.spacing, r.xps, r.yps, r.retstat, r.peaks,
                        r.status);
    r.out = terminal.text();
    return r;
  }
};

TEST_F(GridReplay, FindsEveryHoleOfADistortedGridWithinTheSubPixelStep) {
  GridScene s;
  s.distortion = [](float x, float y, float& dx, float& dy) {
    const float u = (x - 64.0f) / 64.0f, v = (y - 64.0f) / 64.0f;
    dx = 1.6f * u * u - 0.5f * v;
    dy = 1.2f * u * v + 0.4f;
  };
  replay(find_peaks_answers(s) + "100\n100\n0\n6\n6\n");
  const Result r = search(s, s.image());
  ASSERT_EQ(r.status, kStatusGood) << r.out;
  ASSERT_EQ(r.retstat, 0) << r.out;
  EXPECT_TRUE(has(r.out, "INFO: Starting peaks found O.K.")) << r.out;
  EXPECT_TRUE(has(r.out, "INFO: Number of grid peaks (X/Y) =     12    12 (     144)")) << r.out;
  EXPECT_EQ(r.peaks.num, 144);
  EXPECT_FLOAT_EQ(r.spacing, 1000.0f);
  EXPECT_FLOAT_EQ(r.xps, 1.0e-4f);
  for (Index j = 1; j <= 12; ++j)
    for (Index i = 1; i <= 12; ++i) {
      float x = 0, y = 0;
      s.centre(i, j, x, y);
      const Index k = r.peaks.at(i, j);
      EXPECT_NEAR(r.peaks.x[k], x, 1.0f / 9.0f) << i << "," << j;
      EXPECT_NEAR(r.peaks.y[k], y, 1.0f / 9.0f) << i << "," << j;
      // Ideal minus measured, with hole (6, 6) undistorted and steps of 10.
      const Index k0 = r.peaks.at(6, 6);
      EXPECT_NEAR(r.peaks.x_distortion[k],
                  r.peaks.x[k0] + 10.0f * static_cast<float>(i - 6) - r.peaks.x[k], 1e-3f);
    }
}

TEST_F(GridReplay, AMissingCrossHoleKeepsTheHeldPeaks) {
  GridScene s;
  s.missing = {{6, 9}};
  replay(find_peaks_answers(s));
  Result r;
  r.peaks.xnum = 7;  // the peaks held before
  const std::vector<float> data = s.image();
  std::vector<float> axis(static_cast<std::size_t>(s.side));
  for (Index i = 0; i < s.side; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  testing::TerminalCapture terminal;
  KZT_CALIBRATE2DGRID(false, s.side, s.side, 1, 1, s.side, s.side, data, axis, axis, "Grid", "X",
                      "Y", "Z", 400, r.spacing, r.xps, r.yps, r.retstat, r.peaks, r.status);
  EXPECT_EQ(r.status, kStatusGood);
  EXPECT_EQ(r.retstat, 2);
  EXPECT_TRUE(has(terminal.text(), "ERROR: Peaks are missing from central cross"));
  // Both later questions were still asked, and nothing was replaced.
  EXPECT_TRUE(has(terminal.text(), "CORRECT OFF-AXIS MASK VIGNETTING")) << terminal.text();
  EXPECT_EQ(r.peaks.xnum, 7);
  EXPECT_FLOAT_EQ(r.spacing, 2000.0f);
}

TEST_F(GridReplay, NoPeakBelowTheStartRowAndABackwardClick) {
  GridScene s;
  s.y0 = -44.5f;  // rows 1 to 5 lie below the image: the start row is the lowest
  float x = 0, y = 0, xr = 0, yr = 0, xu = 0, yu = 0;
  s.centre(6, 6, x, y);
  s.centre(5, 6, xr, yr);  // left of the start: refused, asked again
  s.centre(6, 5, xu, yu);
  const std::string answers = point(x, y) + point(xr, yr) + point(xu, yu) +
                              find_peaks_answers(s) + "100\n100\n0\n3\n3\n";
  s.centre(6, 6, x, y);
  replay(answers);
  const Result r = search(s, s.image());
  ASSERT_EQ(r.retstat, 0) << r.out;
  EXPECT_TRUE(has(r.out, "WARNING: The horizontal peak search vector must point to the right"));
  EXPECT_EQ(r.peaks.ynum, 7);
  EXPECT_EQ(r.peaks.xnum, 12);
  // Row 1 of the result is the start row, since nothing lies below it.
  float x1 = 0, y1 = 0;
  s.centre(1, 6, x1, y1);
  EXPECT_NEAR(r.peaks.y[r.peaks.at(1, 1)], y1, 0.12f);
}

TEST_F(GridReplay, NonFinitePixelsLoseOnlyTheirHole) {
  GridScene s;
  std::vector<float> data = s.image();
  float x = 0, y = 0;
  s.centre(3, 3, x, y);
  data[element(static_cast<Index>(x) + 1, static_cast<Index>(y) + 1, s.side)] = std::nanf("");
  s.centre(10, 9, x, y);
  data[element(static_cast<Index>(x) + 1, static_cast<Index>(y) + 1, s.side)] = INFINITY;
  replay(find_peaks_answers(s) + "100\n100\n0\n6\n6\n");
  const Result r = search(s, data);
  ASSERT_EQ(r.retstat, 0) << r.out;
  EXPECT_FALSE(r.peaks.present(3, 3));
  EXPECT_EQ(r.peaks.xnum, 12);
  EXPECT_GE(r.peaks.num, 142);
  for (Index k = 0; k < std::ssize(r.peaks.x); ++k) {
    if (r.peaks.x[k] <= kMissingPeak) continue;
    ASSERT_TRUE(std::isfinite(r.peaks.x_distortion[k])) << k;
  }
}

TEST_F(GridReplay, AMacroEndingInsideTheQuestionsChangesNothing) {
  GridScene s;
  float x = 0, y = 0;
  s.centre(6, 6, x, y);
  // Clicks, then an answer that is no number, then the end of the macro.
  replay(point(x, y) + point(x + 10, y) + point(x, y + 10) + "3\nwide\n");
  Result r;
  r.peaks.xnum = 5;
  const std::vector<float> data = s.image();
  std::vector<float> axis(static_cast<std::size_t>(s.side));
  for (Index i = 0; i < s.side; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  testing::TerminalCapture terminal;
  KZT_CALIBRATE2DGRID(false, s.side, s.side, 1, 1, s.side, s.side, data, axis, axis, "Grid", "X",
                      "Y", "Z", 400, r.spacing, r.xps, r.yps, r.retstat, r.peaks, r.status);
  EXPECT_NE(r.retstat, 0);
  EXPECT_EQ(r.peaks.xnum, 5);
  EXPECT_FLOAT_EQ(r.spacing, 2000.0f);
  EXPECT_EQ(kzt_grid_search_settings().search_limit, 6);  // nothing remembered
}

TEST_F(GridReplay, ClicksOffTheRegionAndUnusablePeakWidthsAreAskedAgain) {
  GridScene s;
  // Clicks off the image (clamped onto its corners) are no starting peaks;
  // then a width of 0 and one far wider than the image are refused before
  // anything is computed, and the search runs with the third.
  replay(point(-50.0f, -40.0f) + point(400.0f, -40.0f) + point(-50.0f, 900.0f) +
         "3\n0.3\n1.5\n9\n" + find_peaks_answers(s, "0.0\n100000\n1.5\n") +
         "100\n100\n0\n6\n6\n");
  const Result r = search(s, s.image());
  ASSERT_EQ(r.status, kStatusGood) << r.out;
  ASSERT_EQ(r.retstat, 0) << r.out;
  const std::size_t refused =
      r.out.find("WARNING: Problem finding the starting peaks, please re-enter");
  ASSERT_NE(refused, std::string::npos) << r.out;
  EXPECT_LT(refused, r.out.find("INFO: Starting peaks found O.K."));
  EXPECT_EQ(r.out.find("INFO: Starting peaks found O.K."),
            r.out.rfind("INFO: Starting peaks found O.K."));
  const std::size_t width = r.out.find("WARNING: The peak width must be above 0.0");
  ASSERT_NE(width, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("WARNING: The peak width must be above 0.0", width + 1), std::string::npos);
  EXPECT_EQ(r.peaks.num, 144);
  EXPECT_FLOAT_EQ(kzt_grid_search_settings().sigma, 1.5f);

  // Clicks beside a hole just off the active region climb onto the
  // region's border pixel: no start either, and the held peaks stay.
  float x = 0, y = 0;
  s.centre(5, 6, x, y);  // in pixel 46, left of the region's first column
  replay(point(x + 0.7f, y) + point(x + 10.0f, y) + point(x + 0.7f, y + 10.0f) +
         "3\n0.3\n1.5\n9\n");
  const Result held = search(s, s.image(), 47, 7);
  EXPECT_EQ(held.status, kStatusGood);
  EXPECT_TRUE(has(held.out, "WARNING: Problem finding the starting peaks")) << held.out;
  EXPECT_FALSE(has(held.out, "INFO: Starting peaks found O.K.")) << held.out;
  EXPECT_EQ(held.peaks.xnum, 7);
}

// Grids finer than the start peaks' search box (a 1 mm grid on 200 micron
// pixels is 5 pixels): clicks on three adjacent holes must find those holes,
// and the search every hole once, at the clicked spacing.
TEST_F(GridReplay, FineGridsAreFoundAtTheirOwnSpacing) {
  for (const float spacing : {4.0f, 4.5f, 5.0f, 6.0f}) {
    SCOPED_TRACE(spacing);
    GridScene s;
    s.side = 96;
    s.sigma = 0.9f;
    s.spacing = spacing;
    s.x0 = s.y0 = 4.0f;
    s.columns = s.rows = static_cast<Index>((static_cast<float>(s.side) - 8.0f) / spacing) + 1;
    const Index c = s.columns / 2;
    float x = 0, y = 0, xr = 0, yr = 0, xu = 0, yu = 0;
    s.centre(c, c, x, y);
    s.centre(c + 1, c, xr, yr);
    s.centre(c, c + 1, xu, yu);
    const std::string microns = std::to_string(spacing * 100.0f);
    replay(point(x, y) + point(xr, yr) + point(xu, yu) + "2\n0.3\n0.9\n9\n200\n" + microns +
           "\nNO\n100\n100\n0\n6\n6\n");
    const Result r = search(s, s.image());
    ASSERT_EQ(r.status, kStatusGood) << r.out;
    ASSERT_EQ(r.retstat, 0) << r.out;
    EXPECT_EQ(r.peaks.xnum, s.columns) << r.out;
    EXPECT_EQ(r.peaks.ynum, s.rows) << r.out;
    EXPECT_EQ(r.peaks.num, s.columns * s.rows) << r.out;
    float x1 = 0, y1 = 0, xn = 0, yn = 0;
    s.centre(1, 1, x1, y1);
    s.centre(s.columns, s.rows, xn, yn);
    const Index first = r.peaks.at(1, 1), last = r.peaks.at(s.columns, s.rows);
    EXPECT_NEAR(r.peaks.x[first], x1, 0.15f);
    EXPECT_NEAR(r.peaks.y[first], y1, 0.15f);
    EXPECT_NEAR(r.peaks.x[last], xn, 0.15f);
    EXPECT_NEAR(r.peaks.y[last], yn, 0.15f);
    EXPECT_NEAR(r.xps, 1.0e-4f, 1.0e-6f) << r.out;
  }
}

// Two clicks on one hole, or a click where a hole is missing, give no
// starting peaks: the clicks are asked again, and the search runs only from
// three peaks that each kept their own hole.
TEST_F(GridReplay, StartPeaksThatLeaveTheirClicksAreAskedAgain) {
  GridScene s;
  s.side = 48;
  s.sigma = 0.9f;
  s.spacing = 4.5f;
  s.x0 = s.y0 = 3.5f;
  s.columns = s.rows = 10;
  float x = 0, y = 0, xr = 0, yr = 0, xu = 0, yu = 0;
  s.centre(5, 5, x, y);
  s.centre(6, 5, xr, yr);
  s.centre(5, 6, xu, yu);
  const std::string settings = "2\n0.3\n0.9\n9\n";
  const std::string clicks = point(x, y) + point(xr, yr) + point(xu, yu) + settings;
  const auto refusals = [](const std::string& out) {
    int count = 0;
    for (std::size_t at = 0;
         (at = out.find("WARNING: Problem finding the starting peaks", at)) != std::string::npos;
         ++at)
      ++count;
    return count;
  };

  // The right click 2 pixels from the start: both refine onto one hole.
  replay(point(x, y) + point(x + 2.0f, y + 0.3f) + point(xu, yu) + settings + clicks +
         "200\n450\nNO\n100\n100\n0\n6\n6\n");
  const Result r = search(s, s.image());
  ASSERT_EQ(r.status, kStatusGood) << r.out;
  EXPECT_EQ(refusals(r.out), 1) << r.out;
  EXPECT_EQ(r.retstat, 0) << r.out;
  EXPECT_EQ(r.peaks.num, 100) << r.out;

  // The third click on the diagonal neighbour: the grid would be sheared.
  float xd = 0, yd = 0;
  s.centre(6, 6, xd, yd);
  replay(point(x, y) + point(xr, yr) + point(xd, yd) + settings + clicks +
         "200\n450\nNO\n100\n100\n0\n6\n6\n");
  const Result diagonal = search(s, s.image());
  ASSERT_EQ(diagonal.status, kStatusGood) << diagonal.out;
  EXPECT_TRUE(has(diagonal.out, "WARNING: The two grid axes lie 45 degrees apart")) << diagonal.out;
  EXPECT_EQ(refusals(diagonal.out), 1) << diagonal.out;
  EXPECT_EQ(diagonal.peaks.num, 100) << diagonal.out;

  // The hole above the start is missing: the climb runs to a neighbour.
  s.missing = {{5, 6}};
  replay(clicks);
  const Result gap = search(s, s.image());
  EXPECT_EQ(gap.status, kStatusGood) << gap.out;
  EXPECT_EQ(refusals(gap.out), 1) << gap.out;
  EXPECT_FALSE(has(gap.out, "INFO: Starting peaks found O.K.")) << gap.out;
  EXPECT_NE(gap.retstat, 0);
}

// A grid of SPACING pixels along X turned by DEGREES on pixels ASPECT times
// as tall as wide (Y steps SPACING / ASPECT), covering a SIDE x SIDE image,
// hole (C, C) at the image's centre; round holes of SIGMA pixels.
struct TurnedGrid {
  GridScene scene;
  Index c = 0;
  TurnedGrid(float spacing, float degrees, float aspect, Index side, float sigma) {
    scene.side = side;
    scene.sigma = sigma;
    scene.spacing = spacing;
    scene.x0 = scene.y0 = 0.0f;
    c = static_cast<Index>(1.5f * static_cast<float>(side) * aspect / spacing) + 2;
    scene.columns = scene.rows = 2 * c;
    const double a = degrees * M_PI / 180.0;
    const double centre_x = 0.5 * static_cast<double>(side) + 0.31;
    const double centre_y = 0.5 * static_cast<double>(side) + 0.17;
    const double at = spacing * static_cast<double>(c - 1);
    scene.distortion = [=](float x, float y, float& dx, float& dy) {
      const double u = x - at, v = y - at;
      dx = static_cast<float>(centre_x + std::cos(a) * u - std::sin(a) * v - x);
      dy = static_cast<float>(centre_y + (std::sin(a) * u + std::cos(a) * v) / aspect - y);
    };
  }
  // The clicks on hole (C, C), its right neighbour and the one above.
  std::string clicks(Index right = 1, Index up = 1) const {
    std::string text;
    for (const auto& [i, j] : {std::pair{c, c}, std::pair{c + right, c}, std::pair{c, c + up}}) {
      float x = 0, y = 0;
      scene.centre(i, j, x, y);
      text += GridReplay::point(x, y);
    }
    return text;
  }
  // Every present peak lies within TOLERANCE of a hole, and all of them at
  // one offset between grid slot and hole index: no hole given twice or
  // skipped. Returns the number of peaks checked.
  Index check_peaks(const GridPeaks& p, float tolerance) const {
    Index checked = 0, di = 0, dj = 0;
    for (Index j = 1; j <= p.ynum; ++j)
      for (Index i = 1; i <= p.xnum; ++i) {
        if (!p.present(i, j)) continue;
        const float x = p.x[p.at(i, j)], y = p.y[p.at(i, j)];
        float best = 1.0e30f;
        Index hi = 0, hj = 0;
        for (Index n = 1; n <= scene.rows; ++n)
          for (Index m = 1; m <= scene.columns; ++m) {
            float hx = 0, hy = 0;
            scene.centre(m, n, hx, hy);
            if (const float d = std::hypot(hx - x, hy - y); d < best) {
              best = d;
              hi = m;
              hj = n;
            }
          }
        EXPECT_LT(best, tolerance) << "slot " << i << "," << j << " at " << x << "," << y;
        if (checked++ == 0) {
          di = hi - i;
          dj = hj - j;
        }
        EXPECT_EQ(hi - i, di) << "slot " << i << "," << j;
        EXPECT_EQ(hj - j, dj) << "slot " << i << "," << j;
      }
    return checked;
  }
};

// The number after KEY in TEXT, NaN without it.
double reported(const std::string& text, const std::string& key) {
  const std::size_t at = text.find(key);
  return at == std::string::npos ? std::nan("") : std::strtod(text.c_str() + at + key.size(), nullptr);
}

// Turned fine grids with exact clicks, on square pixels and on pixels 1.2
// times as tall: the starting peaks are found at once, every hole is given
// one peak (no climb takes a neighbour's hole, in the arms or the
// quadrants), holes cut by the image's edge are left out rather than listed
// pulled inwards, and the pixel sizes are the detector's.
TEST_F(GridReplay, TurnedFineGridsGiveEachHoleOnePeakAndTheirSizes) {
  struct Case {
    float spacing, degrees, aspect;
    int limit;
  };
  for (const Case k : {Case{4.5f, 30.0f, 1.0f, 2}, Case{4.5f, 40.0f, 1.2f, 1},
                       Case{3.5f, 20.0f, 1.0f, 4}, Case{7.0f, 40.0f, 1.2f, 3}}) {
    SCOPED_TRACE(::testing::Message() << k.spacing << " px, " << k.degrees << " degrees, aspect "
                                      << k.aspect << ", limit " << k.limit);
    const float sigma = std::max(0.8f, k.spacing / 5.0f);
    const TurnedGrid g(k.spacing, k.degrees, k.aspect, 96, sigma);
    replay(g.clicks() + std::to_string(k.limit) + "\n0.3\n" + std::to_string(sigma) +
           "\n9\n200\n" + std::to_string(100.0f * k.spacing) + "\nNO\n\n\n\n\n\n");
    const Result r = search(g.scene, g.scene.image());
    ASSERT_EQ(r.status, kStatusGood) << r.out;
    ASSERT_EQ(r.retstat, 0) << r.out;
    EXPECT_FALSE(has(r.out, "Problem finding the starting peaks")) << r.out;
    EXPECT_FALSE(has(r.out, "WARNING: The grid's pixel sizes")) << r.out;
    EXPECT_GT(g.check_peaks(r.peaks, 0.25f), 100);
    EXPECT_NEAR(r.xps, 1.0e-4f, 0.5e-6f) << r.out;
    EXPECT_NEAR(r.yps, k.aspect * 1.0e-4f, k.aspect * 0.5e-6f) << r.out;
    EXPECT_NEAR(reported(r.out, "INFO: Average pixel size in X-direction = "), 100.0, 0.5);
    EXPECT_NEAR(reported(r.out, "INFO: Average pixel size in Y-direction = "), 100.0 * k.aspect,
                0.5 * k.aspect);
  }
}

// A start axis that skips a hole (the third click two rows up, or the
// second two columns on) has a grid peak half way along it: on square
// pixels and on pixels 1.3 times as tall, where its length alone could be a
// pixel aspect, the clicks are refused and asked again.
TEST_F(GridReplay, AStartAxisThatSkipsAHoleIsClickedAgain) {
  for (const float aspect : {1.0f, 1.3f})
    for (const bool up : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "aspect " << aspect << (up ? " up" : " right"));
      const TurnedGrid g(7.0f, 0.0f, aspect, 96, 1.4f);
      const std::string settings = "2\n0.3\n1.4\n9\n";
      replay(g.clicks(up ? 1 : 2, up ? 2 : 1) + settings + g.clicks() + settings +
             "200\n700\nNO\n\n\n\n\n\n");
      const Result r = search(g.scene, g.scene.image());
      ASSERT_EQ(r.status, kStatusGood) << r.out;
      ASSERT_EQ(r.retstat, 0) << r.out;
      EXPECT_TRUE(has(r.out, std::string("WARNING: A grid peak lies half way to the peak clicked ") +
                                 (up ? "up" : "right") + ": click the next peak, not one beyond it"))
          << r.out;
      EXPECT_EQ(r.out.find("WARNING: Problem finding the starting peaks"),
                r.out.rfind("WARNING: Problem finding the starting peaks"));
      EXPECT_NEAR(r.xps, 1.0e-4f, 0.5e-6f) << r.out;
      EXPECT_NEAR(r.yps, aspect * 1.0e-4f, aspect * 0.5e-6f) << r.out;
    }
}

// Holes whose centres lie about a pixel inside the image's edge are cut by
// it, and their correlation with the template is pulled inwards: they are
// left missing, and every peak listed lies on its hole.
TEST_F(GridReplay, HolesCutByTheImagesEdgeAreLeftMissing) {
  GridScene s;
  s.x0 = 1.1f;
  s.y0 = 0.9f;
  s.sigma = 2.0f;
  replay(start_clicks(s, 6, 6) + "3\n0.3\n2.0\n9\n200\n1000\nNO\n\n\n\n\n\n");
  const Result r = search(s, s.image());
  ASSERT_EQ(r.retstat, 0) << r.out;
  EXPECT_EQ(r.peaks.num, 121) << r.out;  // columns and rows 2 to 12
  for (Index j = 1; j <= r.peaks.ynum; ++j)
    for (Index i = 1; i <= r.peaks.xnum; ++i) {
      if (!r.peaks.present(i, j)) continue;
      const float px = r.peaks.x[r.peaks.at(i, j)], py = r.peaks.y[r.peaks.at(i, j)];
      const float hx = s.x0 + 10.0f * std::round((px - s.x0) / 10.0f);
      const float hy = s.y0 + 10.0f * std::round((py - s.y0) / 10.0f);
      EXPECT_NEAR(px, hx, 0.12f) << i << "," << j;
      EXPECT_NEAR(py, hy, 0.12f) << i << "," << j;
    }
}

// A grid whose spacing grows away from the start (a strong distortion, or
// holes taken twice or missed further out) gives pixel sizes that are not
// those of the holes round the starting peaks: a warning names each size
// that disagrees, and none the size that agrees.
TEST_F(GridReplay, SizesUnlikeTheSpacingAtTheStartAreWarned) {
  GridScene s;
  s.side = 200;
  s.spacing = 8.0f;
  s.x0 = s.y0 = 4.3f;
  s.columns = s.rows = 25;
  // Holes 4 pixels further out at the ends of the rows than round the start
  // (13, 13).
  s.distortion = [](float hx, float, float& dx, float& dy) {
    const float u = hx - 100.3f;
    dx = 4.5e-6f * u * u * u;
    dy = 0.0f;
  };
  replay(start_clicks(s, 13, 13) + "3\n0.3\n1.5\n9\n200\n800\nNO\n\n\n\n\n\n");
  const Result r = search(s, s.image());
  ASSERT_EQ(r.retstat, 0) << r.out;
  EXPECT_TRUE(has(r.out, "WARNING: The grid's pixel sizes disagree with its spacing round the "
                         "starting peaks:\n         X (average): ")) << r.out;
  EXPECT_TRUE(has(r.out, "\n         X (RMS): ")) << r.out;
  EXPECT_FALSE(has(r.out, "Y (average)")) << r.out;
  EXPECT_FALSE(has(r.out, "Y (RMS)")) << r.out;
  // The warning comes before the grid spacing is asked.
  EXPECT_LT(r.out.find("WARNING: The grid's pixel sizes"), r.out.find("GRID SPACING"));
}

// A fine turned grid of wide holes in counting noise (holes 1.6 pixels wide
// on a 4.5 pixel grid, peaks of 1000 counts over 100): the correlation of
// such holes is noisy, holes are missed along the rows, and a prediction
// carried past them took the next hole and every hole after it. Every peak
// lies on its own hole, and the sizes are the detector's.
TEST_F(GridReplay, NoisyWideHolesKeepEachPeakInItsHole) {
  const TurnedGrid g(4.5f, 30.0f, 1.0f, 256, 1.6f);
  GridScene scene = g.scene;
  scene.background = 100.0f;
  std::vector<float> data = scene.image();
  std::mt19937 draws(4);
  for (float& v : data) v = static_cast<float>(std::poisson_distribution<int>(v)(draws));
  replay(g.clicks() + "3\n0.3\n1.6\n5\n100000\n450\nNO\n\n\n\n\n\n");
  const Result r = search(scene, data);
  ASSERT_EQ(r.status, kStatusGood) << r.out;
  ASSERT_EQ(r.retstat, 0) << r.out;
  // Each peak's hole, from the grid's turn and the start peak.
  const float a = 30.0f * static_cast<float>(M_PI) / 180.0f;
  float sx = 0, sy = 0;
  scene.centre(g.c, g.c, sx, sy);
  Index wrong = 0, checked = 0, slot_i = 0, slot_j = 0;
  bool first = true;
  for (Index j = 1; j <= r.peaks.ynum; ++j)
    for (Index i = 1; i <= r.peaks.xnum; ++i) {
      if (!r.peaks.present(i, j)) continue;
      const float dx = r.peaks.x[r.peaks.at(i, j)] - sx, dy = r.peaks.y[r.peaks.at(i, j)] - sy;
      const float u = (std::cos(a) * dx + std::sin(a) * dy) / 4.5f;
      const float v = (-std::sin(a) * dx + std::cos(a) * dy) / 4.5f;
      const Index hi = static_cast<Index>(std::lround(u)), hj = static_cast<Index>(std::lround(v));
      if (first) {
        slot_i = i - hi;
        slot_j = j - hj;
        first = false;
      }
      ++checked;
      if (i - hi != slot_i || j - hj != slot_j ||
          std::hypot(u - static_cast<float>(hi), v - static_cast<float>(hj)) > 0.25f)
        ++wrong;
    }
  EXPECT_GT(checked, 2000) << r.out;
  EXPECT_EQ(wrong, 0) << r.out;
  for (const char* key : {"INFO: Average pixel size in X-direction = ",
                          "INFO: Average pixel size in Y-direction = ",
                          "INFO: RMS pixel size in X-direction = ",
                          "INFO: RMS pixel size in Y-direction = "})
    EXPECT_NEAR(reported(r.out, key), 100.0, 0.5) << key << r.out;
  EXPECT_FALSE(has(r.out, "WARNING: The grid's pixel sizes")) << r.out;
}

// A hole missing beside the start (up and right of it, or one further up)
// no longer ends the quadrants it starts: the rows go on past it and the
// rest of the grid is found.
TEST_F(GridReplay, AMissingHoleBesideTheStartLosesOnlyItself) {
  TurnedGrid g(7.0f, 0.0f, 1.0f, 128, 1.4f);
  const std::string answers = g.clicks() + "2\n0.3\n1.4\n9\n200\n700\nNO\n\n\n\n\n\n";
  replay(answers);
  const Index whole = search(g.scene, g.scene.image()).peaks.num;
  for (const Index up : {1, 2}) {
    SCOPED_TRACE(::testing::Message() << "hole (1, " << up << ") from the start");
    g.scene.missing = {{g.c + 1, g.c + up}};
    replay(answers);
    const Result r = search(g.scene, g.scene.image());
    ASSERT_EQ(r.retstat, 0) << r.out;
    EXPECT_EQ(g.check_peaks(r.peaks, 0.25f), r.peaks.num);
    EXPECT_EQ(r.peaks.num, whole - 1) << r.out;
    EXPECT_FALSE(has(r.out, "starting cross contains missing peak")) << r.out;
  }
}

// Wide holes (a spacing of 2.8 widths) in counting noise: the correlation's
// ridge half way between two holes is no hole, and the right clicks are
// taken at once.
TEST_F(GridReplay, WideHolesAreNoHolesHalfWayAlongTheAxes) {
  TurnedGrid g(7.0f, 0.0f, 1.0f, 128, 2.5f);
  g.scene.background = 100.0f;
  std::vector<float> data = g.scene.image();
  std::mt19937 draws(1);
  for (float& v : data) v = static_cast<float>(std::poisson_distribution<int>(v)(draws));
  replay(g.clicks() + "2\n0.3\n2.5\n5\n200\n700\nNO\n\n\n\n\n\n");
  const Result r = search(g.scene, data);
  EXPECT_FALSE(has(r.out, "WARNING: A grid peak lies half way")) << r.out;
  EXPECT_TRUE(has(r.out, "INFO: Starting peaks found O.K.")) << r.out;
}

// A spot off the grid (a hole's image moved 0.45 of the spacing from where
// its hole is missing) beside the right click: the start peak settled
// between the spot and the hole clicked, half the spacing from each, and
// the grid followed from it took thousands of holes at the wrong places.
// Such a start is refused with its reason, and a start clear of the spot is
// taken.
TEST_F(GridReplay, AStartPeakBetweenTwoSpotsIsClickedAgain) {
  TurnedGrid g(4.5f, 30.0f, 1.0f, 160, 0.9f);
  const double a = 30.0 * M_PI / 180.0, at = 4.5 * static_cast<double>(g.c - 1);
  g.scene.distortion = [=](float x, float y, float& dx, float& dy) {
    const double u = x - at, v = y - at;
    dx = static_cast<float>(80.23 + std::cos(a) * u - std::sin(a) * v - x);
    dy = static_cast<float>(79.83 + std::sin(a) * u + std::cos(a) * v - y);
  };
  g.scene.missing = {{g.c + 1, g.c - 1}};
  std::vector<float> data = g.scene.image();
  float hx = 0, hy = 0;
  g.scene.centre(g.c + 1, g.c - 1, hx, hy);
  const float sx = hx + 0.45f * 4.5f * std::cos(2.0f), sy = hy + 0.45f * 4.5f * std::sin(2.0f);
  for (Index y = 1; y <= g.scene.side; ++y)
    for (Index x = 1; x <= g.scene.side; ++x) {
      const double dx = static_cast<double>(x) - 0.5 - sx, dy = static_cast<double>(y) - 0.5 - sy;
      data[static_cast<std::size_t>((y - 1) * g.scene.side + (x - 1))] +=
          static_cast<float>(1000.0 * std::exp(-(dx * dx + dy * dy) / (2.0 * 0.9 * 0.9)));
    }
  // Clicked again on the holes 3 up and 3 left, clear of the spot.
  std::string again;
  for (const auto& [i, j] : {std::pair{g.c - 3, g.c + 3}, std::pair{g.c - 2, g.c + 3},
                             std::pair{g.c - 3, g.c + 4}}) {
    float x = 0, y = 0;
    g.scene.centre(i, j, x, y);
    again += point(x, y);
  }
  const std::string settings = "3\n0.3\n0.9\n5\n";
  replay(g.clicks() + settings + again + settings + "100000\n450\nNO\n\n\n\n\n\n");
  const Result r = search(g.scene, data);
  ASSERT_EQ(r.status, kStatusGood) << r.out;
  EXPECT_TRUE(has(r.out, "WARNING: Problem finding the starting peaks, please re-enter\n"
                         "         (the peak near the right click lies ")) << r.out;
  EXPECT_TRUE(has(r.out, "where a starting peak must lie within 1.12 of its click)")) << r.out;
  ASSERT_EQ(r.retstat, 0) << r.out;
  EXPECT_GT(r.peaks.num, 500) << r.out;
  // Each slot holds the hole the start's offset gives it, but for the spot
  // itself, taken where its hole is missing.
  float x0 = 0, y0 = 0;
  g.scene.centre(g.c - 3, g.c + 3, x0, y0);
  Index si = 0, sj = 0;
  float nearest = 1.0e30f;
  for (Index j = 1; j <= r.peaks.ynum; ++j)
    for (Index i = 1; i <= r.peaks.xnum; ++i)
      if (r.peaks.present(i, j))
        if (const float d = std::hypot(r.peaks.x[r.peaks.at(i, j)] - x0,
                                       r.peaks.y[r.peaks.at(i, j)] - y0);
            d < nearest) {
          nearest = d;
          si = i;
          sj = j;
        }
  Index wrong = 0;
  for (Index j = 1; j <= r.peaks.ynum; ++j)
    for (Index i = 1; i <= r.peaks.xnum; ++i) {
      if (!r.peaks.present(i, j)) continue;
      float x = 0, y = 0;
      g.scene.centre(i - si + g.c - 3, j - sj + g.c + 3, x, y);
      if (std::hypot(r.peaks.x[r.peaks.at(i, j)] - x, r.peaks.y[r.peaks.at(i, j)] - y) > 0.25f)
        ++wrong;
    }
  EXPECT_LE(wrong, 1) << r.out;
}

// Every size that disagrees is named, not only those beyond the bound that
// raised the warning; on a grid of too few lines to give a typical step,
// the sizes are said to be unchecked.
TEST_F(GridReplay, EverySizeThatDisagreesIsNamed) {
  GridScene s;
  s.side = 200;
  s.spacing = 20.0f;
  s.sigma = 2.0f;
  s.x0 = s.y0 = 10.3f;
  s.columns = s.rows = 9;
  float x = 0, y = 0;
  s.centre(5, 5, x, y);
  // The right click 4.5 pixels beyond its hole, the up click 1.5: the
  // clicks' spacing is 24.5 by 21.5, X 18 % and Y 7 % off.
  replay(point(x, y) + point(x + 24.5f, y) + point(x, y + 21.5f) +
         "3\n0.3\n2\n9\n200\n2000\nNO\n\n\n\n\n\n");
  const Result r = search(s, s.image());
  ASSERT_EQ(r.retstat, 0) << r.out;
  EXPECT_TRUE(has(r.out, "WARNING: The grid's pixel sizes disagree with the spacing of the "
                         "clicks:\n         X (average): ")) << r.out;
  for (const char* size : {"\n         Y (average): ", "\n         X (RMS): ",
                           "\n         Y (RMS): "})
    EXPECT_TRUE(has(r.out, size)) << size << r.out;
  EXPECT_FALSE(has(r.out, "could not be checked")) << r.out;

  // Three columns: X is the step of those lines alone.
  s.columns = 3;
  s.centre(2, 5, x, y);
  replay(point(x, y) + point(x + 20.0f, y) + point(x, y + 20.0f) +
         "3\n0.3\n2\n9\n200\n2000\nNO\n\n\n\n\n\n");
  const Result few = search(s, s.image());
  ASSERT_EQ(few.retstat, 0) << few.out;
  EXPECT_TRUE(has(few.out, "WARNING: The grid has fewer than 5 lines in X or in Y: its pixel "
                           "sizes could not be checked")) << few.out;
}

TEST(GridTemplates, SidesAndZeroMean) {
  EXPECT_EQ(kzt_template_side(1.3f, 1), 7);
  EXPECT_EQ(kzt_template_side(1.3f, 9), 71);
  EXPECT_EQ(kzt_template_side(0.1f, 1), 3);
  EXPECT_EQ(kzt_template_side(1.0e30f, 9), 1000000001);
  std::vector<float> t(49);
  Status s = kStatusGood;
  KZT_CALTEMPLATE(7, 7, 7, 7, 1.3f, 1, t, s);
  ASSERT_EQ(s, kStatusGood);
  double sum = 0;
  for (const float v : t) sum += v;
  EXPECT_NEAR(sum, 0.0, 1e-5);
  EXPECT_GT(t[24], t[23]);  // the middle element is the peak
}

// Three starting peaks on one hole (a search started without the clicks'
// check) give arms of no length: no arm takes that hole again and again,
// and the search ends as too large for the arrays, with nothing counted.
TEST(GridSearch, NoArmTakesAHoleItHolds) {
  GridScene s;
  s.side = 48;
  s.sigma = 0.9f;
  s.spacing = 4.5f;
  s.x0 = s.y0 = 3.5f;
  s.columns = s.rows = 10;
  const std::vector<float> data = s.image();
  const Index side = kzt_template_side(0.9f, 1), sub_side = kzt_template_side(0.9f, 9);
  std::vector<float> templ(static_cast<std::size_t>(side * side)),
      sub(static_cast<std::size_t>(sub_side * sub_side));
  Status status = kStatusGood;
  KZT_CALTEMPLATE(side, side, side, side, 0.9f, 1, templ, status);
  KZT_CALTEMPLATE(sub_side, sub_side, sub_side, sub_side, 0.9f, 9, sub, status);
  const GridImage im{48, 48, 1, 1, 48, 48, data, side, templ, sub_side, sub, 9};
  float x = 0, y = 0;
  s.centre(5, 5, x, y);
  GridPeaks p;
  ASSERT_TRUE(p.allocate(64, 64));
  int retstat = -1;
  Index left = 0, down = 0;
  testing::TerminalCapture terminal;
  KZT_FIND2DGRID(im, 2, 0.3f, x, y, x, y, x, y, 200, 1.0f, retstat, left, down, p, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(p.num, 3);
  EXPECT_NE(retstat, 0);
}

// A perfect cartesian grid of peaks, spacing 10 pixels.
GridPeaks perfect_grid(Index columns, Index rows) {
  GridPeaks p;
  p.allocate(kGridPeaksMax, kGridPeaksMax);
  p.xnum = columns;
  p.ynum = rows;
  for (Index j = 1; j <= rows; ++j)
    for (Index i = 1; i <= columns; ++i) {
      p.x[p.at(i, j)] = 10.0f * static_cast<float>(i) + 3.0f;
      p.y[p.at(i, j)] = 10.0f * static_cast<float>(j) + 7.0f;
      ++p.num;
    }
  return p;
}

// KZT_2DDISTORTION of P for a grid spacing of 1000 microns, every question
// answered with its default; what it wrote.
std::string distortion_by_default(GridPeaks& p, float& xps, float& yps) {
  testing::ScriptedInput input({"", "", "", "", ""});
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  KZT_2DDISTORTION(p, 1000.0f, xps, yps, s);
  EXPECT_EQ(s, kStatusGood);
  return terminal.text();
}

TEST(GridDistortion, PerfectGridStatisticsAndZeroDistortion) {
  kzt_forget_answers();
  GridPeaks p = perfect_grid(9, 7);
  p.x[p.at(1, 4)] = kMissingPeak;  // rows with a missing first peak still count
  p.x[p.at(2, 4)] = kMissingPeak;
  p.x[p.at(8, 4)] = kMissingPeak;
  p.x[p.at(9, 4)] = kMissingPeak;  // this row cannot be measured
  float xps = 0, yps = 0;
  const std::string out = distortion_by_default(p, xps, yps);
  EXPECT_TRUE(has(out, "INFO: Average pixel size in X-direction =     100.0000 +-     0.0000 microns"))
      << out;
  EXPECT_TRUE(has(out, "INFO: RMS pixel size in X-direction =     100.0000")) << out;
  EXPECT_TRUE(has(out, "INFO: Average rotation based on rows =     0.000000")) << out;
  EXPECT_FLOAT_EQ(xps, 1.0e-4f);
  EXPECT_FLOAT_EQ(yps, 1.0e-4f);
  for (Index j = 1; j <= 7; ++j)
    for (Index i = 1; i <= 9; ++i) {
      EXPECT_NEAR(p.x_distortion[p.at(i, j)], 0.0f, 1e-4f);
      EXPECT_NEAR(p.y_distortion[p.at(i, j)], 0.0f, 1e-4f);
    }
  // The default ideal hole is (5, 4), missing here? No: (5, 4) is present.
  EXPECT_TRUE(p.present(5, 4));
}

TEST(GridDistortion, MissingIdealHoleIsAskedAgainAndInversionTwiceRestores) {
  kzt_forget_answers();
  GridPeaks p = perfect_grid(5, 5);
  p.x[p.at(3, 3)] = kMissingPeak;
  // A rotated ideal grid of 9-pixel steps: distortions are non-zero.
  testing::ScriptedInput input({"111.111", "111.111", "2", "3", "3", "2", "2"});
  testing::TerminalCapture terminal;
  float xps = 0, yps = 0;
  Status s = kStatusGood;
  KZT_2DDISTORTION(p, 1000.0f, xps, yps, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_TRUE(has(terminal.text(),
                  "WARNING: Specified grid position is missing from data image, please"));
  EXPECT_EQ(p.x_distortion[p.at(2, 2)], 0.0f);
  EXPECT_EQ(p.x_distortion[p.at(3, 3)], 0.0f);  // missing
  const GridPeaks before = p;
  KZT_IDEALSPACE(p, s);
  // Every present peak now sits at its ideal position.
  const float theta = 2.0f * 3.1415925f / 180.0f;
  const float x0 = before.x[before.at(2, 2)], y0 = before.y[before.at(2, 2)];
  EXPECT_NEAR(p.x[p.at(5, 4)], x0 + (std::cos(theta) * 3 - std::sin(theta) * 2) * 9.0f, 2e-3f);
  EXPECT_NEAR(p.y[p.at(5, 4)], y0 + (std::cos(theta) * 2 + std::sin(theta) * 3) * 9.0f, 2e-3f);
  KZT_IDEALSPACE(p, s);
  for (Index j = 1; j <= 5; ++j)
    for (Index i = 1; i <= 5; ++i) {
      const Index k = p.at(i, j);
      EXPECT_NEAR(p.x[k], before.x[k], 1e-4f);
      EXPECT_FLOAT_EQ(p.x_distortion[k], before.x_distortion[k]);
    }

  // Asked again, the hole offered is the one offered before, not the missing one.
  kzt_forget_answers();
  GridPeaks q = perfect_grid(5, 5);
  q.x[q.at(2, 2)] = kMissingPeak;
  testing::ScriptedInput again({"", "", "", "2", "2", "", ""});
  KZT_2DDISTORTION(q, 1000.0f, xps, yps, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(again.remaining(), 0u);
  EXPECT_EQ(q.x_distortion[q.at(3, 3)], 0.0f);
}

// A perfect grid turned by 40 degrees on pixels of 100 x 120 microns: each
// direction has its own size (a line's whole length mixes the two: 107 and
// 110 microns), the rotation is the grid's, and no hole is distorted.
// A grid of one complete column (and one row): no spread of the column
// sizes or angles can be estimated, and none is shown as one.
TEST(GridDistortion, OneLineGivesNoSpread) {
  kzt_forget_answers();
  GridPeaks p = perfect_grid(3, 5);
  for (Index j = 2; j <= 5; ++j)
    for (const Index i : {Index{1}, Index{3}}) p.x[p.at(i, j)] = kMissingPeak;
  float xps = 0, yps = 0;
  const std::string out = distortion_by_default(p, xps, yps);
  EXPECT_TRUE(has(out, "INFO: Average pixel size in X-direction =     100.0000 microns (one line "
                       "only: no spread can be estimated)")) << out;
  EXPECT_TRUE(has(out, "INFO: Average pixel size in Y-direction =     100.0000 microns (one line "
                       "only: no spread can be estimated)")) << out;
  EXPECT_TRUE(has(out, "INFO: Average rotation based on columns =     0.000000 degrees (one line "
                       "only: no spread can be estimated)")) << out;
  EXPECT_FALSE(has(out, "+-   100.0000")) << out;
}

TEST(GridDistortion, TurnedGridOnPixelsThatAreNotSquare) {
  kzt_forget_answers();
  GridPeaks p;
  p.allocate(kGridPeaksMax, kGridPeaksMax);
  p.xnum = 15;
  p.ynum = 13;
  const double a = 40.0 * M_PI / 180.0, grid = 1000.0;  // microns
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      const double u = grid * static_cast<double>(i - 1), v = grid * static_cast<double>(j - 1);
      p.x[p.at(i, j)] = static_cast<float>(200.0 + (std::cos(a) * u - std::sin(a) * v) / 100.0);
      p.y[p.at(i, j)] = static_cast<float>(20.0 + (std::sin(a) * u + std::cos(a) * v) / 120.0);
      ++p.num;
    }
  float xps = 0, yps = 0;
  const std::string out = distortion_by_default(p, xps, yps);
  EXPECT_NEAR(xps, 100.0e-6f, 1.0e-9f) << out;
  EXPECT_NEAR(yps, 120.0e-6f, 1.0e-9f) << out;
  EXPECT_TRUE(has(out, "INFO: Average pixel size in X-direction =     100.0000")) << out;
  EXPECT_TRUE(has(out, "INFO: Average pixel size in Y-direction =     120.0000")) << out;
  EXPECT_TRUE(has(out, "INFO: Average rotation based on rows =    40.0000")) << out;
  EXPECT_TRUE(has(out, "INFO: Average rotation based on columns =    40.0000")) << out;
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      EXPECT_NEAR(p.x_distortion[p.at(i, j)], 0.0f, 2e-3f) << i << "," << j;
      EXPECT_NEAR(p.y_distortion[p.at(i, j)], 0.0f, 2e-3f) << i << "," << j;
    }
}

TEST(GridEditing, VignettingMovesPeaksTowardsTheBeam) {
  GridPeaks p = perfect_grid(3, 1);
  // Beam on peak (1, 1); peak (3, 1) 100 pixels to its right.
  p.x[p.at(2, 1)] = 63.0f;
  p.x[p.at(3, 1)] = 113.0f;
  Status s = kStatusGood;
  kzt_vignetting_shift(0.000255f, 0.14f, 13.0f, 17.0f, p, s);
  EXPECT_FLOAT_EQ(p.x[p.at(1, 1)], 13.0f);
  EXPECT_NEAR(p.x[p.at(3, 1)], 113.0f - 0.0911f, 1e-4f);
  EXPECT_FLOAT_EQ(p.y[p.at(3, 1)], 17.0f);  // on the beam's row: no Y shift
  // With the beam off every peak, its nearest peak still stays.
  GridPeaks q = perfect_grid(2, 2);
  kzt_vignetting_shift(0.0005f, 0.1f, 14.0f, 18.0f, q, s);
  EXPECT_FLOAT_EQ(q.x[q.at(1, 1)], 13.0f);
  EXPECT_LT(q.x[q.at(2, 2)], 23.0f);
}

TEST(GridEditing, PeakListOfA3x2GridAndAFailedWrite) {
  GridPeaks p = perfect_grid(3, 2);
  p.x[p.at(2, 2)] = kMissingPeak;
  testing::TempDir dir;
  const std::string name = dir.file("peaks.dat");
  kzt_forget_answers();
  {
    testing::ScriptedInput input({name});
    testing::TerminalCapture terminal;
    Status s = kStatusGood;
    KZT_SAVE2DPEAKS(p, s);
    ASSERT_EQ(s, kStatusGood) << terminal.text();
  }
  const std::string text = testing::file_contents(name);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "Peaks positions and estimated distortions for a      3 times      2 grid");
  for (std::size_t k = 2; k < 8; ++k) EXPECT_EQ(lines[k].size(), 77u) << lines[k];
  EXPECT_EQ(lines[2].substr(0, 16), "       1       1");
  EXPECT_EQ(lines[3].substr(0, 16), "       2       1");
  EXPECT_EQ(lines[5].substr(0, 16), "       1       2");
  EXPECT_EQ(lines[6].substr(17, 14), "-1.7000000E+38");
  EXPECT_EQ(lines[2].substr(17, 14), " 1.3000000E+01");

  // A folder in the way of the file: reported, the folder stays.
  const std::string blocked = dir.file("sub");
  std::filesystem::create_directory(blocked);
  // Asked again, the name offered is the one offered before.
  std::filesystem::remove(name);
  testing::ScriptedInput input({blocked, ""});
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  KZT_SAVE2DPEAKS(p, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_TRUE(std::filesystem::is_directory(blocked));
  EXPECT_NE(terminal.text().find("WARNING: Error in opening file " + blocked + ": "),
            std::string::npos)
      << terminal.text();
  EXPECT_EQ(testing::file_contents(name), text);

  // A device that refuses the list: the reason, and a failure.
  const std::string full = dir.file("full.dat");
  std::filesystem::create_symlink("/dev/full", full);
  testing::ScriptedInput again({full});
  Status refused = kStatusGood;
  KZT_SAVE2DPEAKS(p, refused);
  EXPECT_EQ(refused, kBaseCore + 1010);
  EXPECT_NE(terminal.text().find(
                "WARNING: Error in writing file /dev/full: writing to it failed: No space left"),
            std::string::npos)
      << terminal.text();
}

TEST(GridEditing, DestroyLeavesYAndViewListsARow) {
  GridPeaks p = perfect_grid(3, 2);
  testing::ScriptedInput input({"2", "1", "YES", "0", "0", "YES", "YES", "1", "NO"});
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  KZT_DESTROYPEAKS(p, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FALSE(p.present(2, 1));
  EXPECT_EQ(p.y[p.at(2, 1)], 17.0f);
  KZT_VIEW2DPEAKS(p, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(has(terminal.text(), "     2     1  missing")) << terminal.text();
  EXPECT_TRUE(has(terminal.text(), "     3     1     33.0000     17.0000")) << terminal.text();
}

TEST(GridEditing, FalsePeakCopiesTheNeighbourAndReadsOnlyTheRegion) {
  constexpr Index kN = 40;
  GridScene s;
  s.side = kN;
  s.columns = 3;
  s.rows = 3;
  s.missing = {{3, 2}};
  std::vector<float> data = s.image();
  std::vector<float> axis(kN);
  for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  Status st = kStatusGood;
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  s.centre(2, 2, x1, y1);
  s.centre(1, 2, x2, y2);
  kzt_false_peak(kN, kN, 1, 1, kN, kN, axis, axis, x1, y1, x2, y2, 35.5f, 35.5f, data, st);
  ASSERT_EQ(st, kStatusGood);
  GridScene whole = s;
  whole.missing.clear();
  const std::vector<float> full = whole.image();
  // The painted hole matches a real one at (3, 2).
  EXPECT_NEAR(data[element(26, 16, kN)], full[element(26, 16, kN)], 1.0f);
  // A source point just inside the region's last column would interpolate
  // with the column beyond it: that column is never read.
  constexpr Index kW = 48;
  std::vector<float> wide(kW), edge(kW * kW, 5.0f);
  for (Index i = 0; i < kW; ++i) wide[i] = static_cast<float>(i) + 0.5f;
  edge[element(40, 20, kW)] = 1.0e30f;  // outside the region, X 1..39
  kzt_false_peak(kW, kW, 1, 1, 39, kW, wide, wide, 36.0f, 20.5f, 44.99995f, 20.5f, 1.5f, 1.5f,
                 edge, st);
  ASSERT_EQ(st, kStatusGood);
  for (Index y = 1; y <= kW; ++y)
    for (Index x = 1; x <= 39; ++x) EXPECT_LT(std::abs(edge[element(x, y, kW)]), 1.0e20f) << x;
}

TEST(GridEditing, LearnProfileAveragesPresentPeaks) {
  kzt_forget_answers();
  constexpr Index kN = 64;
  GridScene s;
  s.side = kN;
  s.columns = 5;
  s.rows = 5;
  const std::vector<float> data = s.image();
  std::vector<float> axis(kN), maxis(kN), mdata(kN * kN, -1.0f);
  for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
  GridPeaks p;
  p.allocate(10, 10);
  p.xnum = p.ynum = 5;
  for (Index j = 1; j <= 5; ++j)
    for (Index i = 1; i <= 5; ++i) s.centre(i, j, p.x[p.at(i, j)], p.y[p.at(i, j)]);
  Index mx = 0, my = 0, ms = 0, mys = 0, me = 0, mye = 0;
  std::string t, xl, yl, zl;
  bool defined = false;
  const MemoryOut m{kN, kN, maxis, maxis, mdata, mx, my, ms, mys, me, mye, t, xl, yl, zl, defined};
  testing::ScriptedInput input({"11", "5", "", ""});
  testing::TerminalCapture terminal;
  Status st = kStatusGood;
  KZT_LEARNPROFILE(kN, kN, 1, 1, kN, kN, axis, axis, data, p, m, st);
  ASSERT_EQ(st, kStatusGood);
  ASSERT_TRUE(defined);
  EXPECT_EQ(mx, 55);
  EXPECT_EQ(t, "Average Peak Profile");
  // The profile's middle holds the hole's top, its corners the background.
  EXPECT_GT(mdata[element(28, 28, kN)], 500.0f);
  EXPECT_NEAR(mdata[element(1, 1, kN)], 10.0f, 1.0f);
  // Without a present peak the memory stays.
  GridPeaks none;
  none.allocate(4, 4);
  none.xnum = none.ynum = 2;
  defined = false;
  KZT_LEARNPROFILE(kN, kN, 1, 1, kN, kN, axis, axis, data, none, m, st);
  EXPECT_FALSE(defined);
  EXPECT_TRUE(has(terminal.text(), "WARNING: No grid peak is present"));
}

}  // namespace
}  // namespace kesta
