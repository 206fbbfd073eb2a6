#include "app/imageops/peak_search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/imageops/upcalls.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::TerminalCapture;

namespace {

constexpr Index kX = 120;
constexpr Index kY = 100;

struct Spot {
  float x, y, height;
};

// A background of 100 with a deterministic spread of about 3, plus Gaussian
// spots (sigma 1.2 pixels) centred at pixel coordinates.
std::vector<float> image_with(const std::vector<Spot>& spots) {
  std::vector<float> data(kX * kY);
  std::uint32_t seed = 12345;
  for (Index j = 1; j <= kY; ++j)
    for (Index i = 1; i <= kX; ++i) {
      seed = seed * 1664525u + 1013904223u;
      double v = 100.0 + 6.0 * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5);
      for (const Spot& s : spots) {
        const double dx = static_cast<double>(i) - 0.5 - s.x;
        const double dy = static_cast<double>(j) - 0.5 - s.y;
        v += s.height * std::exp(-(dx * dx + dy * dy) / (2.0 * 1.44));
      }
      data[static_cast<std::size_t>(element(i, j, kX))] = static_cast<float>(v);
    }
  return data;
}

const std::vector<Spot> kSpots = {{15.3f, 12.6f, 900.0f},  {60.5f, 14.2f, 700.0f},
                                  {33.8f, 40.4f, 1200.0f}, {90.1f, 47.7f, 800.0f},
                                  {20.6f, 75.3f, 1000.0f}, {70.2f, 80.9f, 600.0f},
                                  {104.4f, 88.1f, 950.0f}};

struct Search {
  PeakSearchParameters p;
  std::vector<float> data = image_with(kSpots);
  std::vector<std::uint8_t> mask = std::vector<std::uint8_t>(kX * kY, 0);
  std::vector<float> work = std::vector<float>(kX * kY);
  PeakList peaks{50};
  Search() {
    p.mode = 1;
    p.box_size = 9;
    p.min_background = 20;
    p.peak_sigma = 4.0f;
    p.bad_sigma = 5.0f;
    p.num_pixels = 3;
    p.min_spacing = 6;
  }
  std::string terminal;
  Status run() {
    Status status = kStatusGood;
    TerminalCapture quiet;
    KZT_PEAKSEARCH(1.0e-4f, 1.0e-4f, p, kX, kY, data, mask, 1, 1, kX, kY, work, peaks, status);
    terminal = quiet.text();
    return status;
  }
};

// Each spot is found once, within half a pixel, with its integrated
// intensity near 2 pi sigma^2 height.
TEST(PeakSearch, FindsEverySpotAtItsCentre) {
  for (const Index blur : {1, 3}) {
    Search s;
    s.p.blur_size = blur;
    ASSERT_EQ(s.run(), kStatusGood);
    ASSERT_EQ(s.peaks.num_peaks, std::ssize(kSpots)) << "blur " << blur;
    for (const Spot& spot : kSpots) {
      bool found = false;
      for (Index k = 0; k < s.peaks.num_peaks; ++k) {
        const std::size_t n = static_cast<std::size_t>(k);
        if (std::fabs(s.peaks.x[n] - spot.x) < 0.5f && std::fabs(s.peaks.y[n] - spot.y) < 0.5f) {
          found = true;
          EXPECT_EQ(s.peaks.flags[n], 0);
          EXPECT_NEAR(s.peaks.intensity[n], 2.0 * M_PI * 1.44 * spot.height,
                      0.1 * 9.05 * spot.height);
          EXPECT_GT(s.peaks.sigma[n], 0.0f);
          EXPECT_EQ(s.peaks.d_spacing[n], -1.0f);
        }
      }
      EXPECT_TRUE(found) << spot.x << "," << spot.y << " blur " << blur;
    }
  }
}

TEST(PeakSearch, FlagsSpacingFullListAndMask) {
  {
    Search s;  // a peak equal to SATURATION is saturated
    s.p.saturation = s.data[static_cast<std::size_t>(element(34, 41, kX))];
    ASSERT_EQ(s.run(), kStatusGood);
    EXPECT_EQ(s.peaks.saturated, 1);
  }
  {
    Search s;  // two maxima closer than MIN. SPACING: the first in the scan
    s.data = image_with({{40.5f, 40.5f, 900.0f}, {44.5f, 40.5f, 1000.0f}});
    s.p.min_spacing = 8;
    s.p.mode = 0;
    ASSERT_EQ(s.run(), kStatusGood);
    EXPECT_EQ(s.peaks.num_peaks, 1);
  }
  {
    Search s;
    s.peaks = PeakList(3);
    ASSERT_EQ(s.run(), kStatusGood);
    EXPECT_TRUE(s.peaks.full);
    EXPECT_EQ(s.peaks.num_peaks, 3);
  }
  {
    Search s;  // a perfectly flat background: no spread
    s.data.assign(s.data.size(), 100.0f);
    for (Index j = 49; j <= 51; ++j)
      for (Index i = 59; i <= 61; ++i) s.data[static_cast<std::size_t>(element(i, j, kX))] = 150.0f;
    s.data[static_cast<std::size_t>(element(60, 50, kX))] = 300.0f;
    ASSERT_EQ(s.run(), kStatusGood);
    EXPECT_EQ(s.peaks.num_peaks, 1);
    EXPECT_EQ(s.peaks.x[0], 59.5f);
  }
  {
    Search s;
    s.p.use_mask = true;
    s.mask.assign(s.mask.size(), 1);
    ASSERT_EQ(s.run(), kStatusGood);
    EXPECT_EQ(s.peaks.num_peaks, 0);
  }
}

// A flat background of 777.7 whose column sums round to a little less than
// n times the mean squared (windows of 20 columns of 20 or of 19 pixels):
// the level keeps the thresholds of the noisy columns before it, so a bump
// of 50 in the flat part is no peak. Without a walk down the columns the
// levels are worked out beforehand; a row below the bad level makes every
// column's walk leave a pixel out, so the levels follow column by column.
TEST(PeakSearch, NegativeRemainderKeepsThePreviousThresholds) {
  for (const bool walked : {false, true}) {
    Search s;
    s.p.mode = 0;
    s.p.box_size = 20;
    s.p.min_spacing = 6;  // strips of 20 rows
    s.p.num_pixels = 1;
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 1; i <= kX; ++i) {
        const float noise = j % 2 == 0 ? 100.0f : -100.0f;
        const float v = i <= 20 ? 777.7f + noise : walked && j == 63 ? 0.0f : 777.7f;
        s.data[static_cast<std::size_t>(element(i, j, kX))] = v;
      }
    s.data[static_cast<std::size_t>(element(70, 58, kX))] = 827.7f;
    ASSERT_EQ(s.run(), kStatusGood);
    EXPECT_EQ(s.peaks.num_peaks, 0) << (walked ? "walked" : "plain");
    const std::string line = walked ? "PANIC: SQRT OF NEGATIVE TO CALCULATE SIGMA !\n"
                                      "sum, sum_squared, term num_pixels =    2.95526E+05"
                                      "   2.29831E+08  -8.94070E-08   380\n"
                                    : "PANIC: SQRT OF NEGATIVE TO CALCULATE SIGMA !\n"
                                      "sum, sum_squared, term num_pixels =    3.11080E+05"
                                      "   2.41927E+08  -1.19209E-07   400\n";
    EXPECT_NE(s.terminal.find(line), std::string::npos) << s.terminal.substr(0, 400);
  }
}

void geometry(bool& known, float& xb, float& yb, float& distance, float& wavelength, float&, float&,
              float&, Status&) {
  known = true;
  xb = 33.8f;
  yb = 10.4f;
  distance = 0.1f;
  wavelength = 1.0e-10f;
}

TEST(PeakSearch, DSpacingsFromTheGeometry) {
  UpcallsOverride filled{ImageopsUpcalls{.inq_geometry = geometry}};
  Search s;
  s.p.mode = 0;
  ASSERT_EQ(s.run(), kStatusGood);
  for (Index k = 0; k < s.peaks.num_peaks; ++k) {
    const std::size_t n = static_cast<std::size_t>(k);
    const double r = std::hypot(s.peaks.x[n] - 33.8, s.peaks.y[n] - 10.4) * 1.0e-4;
    EXPECT_NEAR(s.peaks.d_spacing[n], 1.0 / (2.0 * std::sin(std::atan(r / 0.1) / 2.0)), 1e-2);
  }
}

TEST(PeakSearch, BadArgumentsChangeNothing) {
  const struct {
    int mode;
    Index blur, spacing, max_peaks;
    Status code;
  } cases[] = {
      {2, 1, 6, 50, 110017}, {0, 0, 6, 50, 110017}, {0, 6, 6, 50, 110013}, {0, 1, 6, 0, 110001}};
  for (const auto& c : cases) {
    Search s;
    s.p.mode = c.mode;
    s.p.blur_size = c.blur;
    s.p.min_spacing = c.spacing;
    s.peaks = PeakList(c.max_peaks);
    EXPECT_EQ(s.run(), c.code);
    EXPECT_EQ(s.peaks.num_peaks, 0);
  }
}

}  // namespace
