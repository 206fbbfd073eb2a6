#include "app/imageops/peak_search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
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
  // The region searched (the whole image unless set).
  Index xs = 1, ys = 1, xe = kX, ye = kY;
  Status run() {
    Status status = kStatusGood;
    TerminalCapture quiet;
    KZT_PEAKSEARCH(1.0e-4f, 1.0e-4f, p, kX, kY, data, mask, xs, ys, xe, ye, work, peaks, status);
    terminal = quiet.text();
    return status;
  }
};

// Counting noise of about 100 +- 10 (twelve uniform steps make it near
// normal) from SEED over the whole image.
void counting_noise(Search& s, std::uint32_t seed) {
  for (float& v : s.data) {
    double sum = 0.0;
    for (int k = 0; k < 12; ++k) {
      seed = seed * 1664525u + 1013904223u;
      sum += static_cast<double>(seed >> 8) / 16777216.0;
    }
    v = static_cast<float>(100.0 + 10.0 * (sum - 6.0));
  }
}

// The on-line crystallography's controls with the smoothing BLUR (and
// fewer candidates asked under wide smoothing, as its users set them).
void crystallography_controls(Search& s, Index blur) {
  s.p.blur_size = blur;
  s.p.data_minimum = 1.0f;
  s.p.min_background = 16;
  s.p.box_size = 31;
  s.p.min_spacing = 12;
  s.p.peak_sigma = 3.5f;
  s.p.bad_sigma = 12.0f;
  s.p.num_pixels = blur > 3 ? 9 : 16;
  s.p.gain = 3.0f;
}

bool same_lists(const PeakList& a, const PeakList& b) {
  if (a.num_peaks != b.num_peaks) return false;
  for (Index k = 0; k < a.num_peaks; ++k) {
    const auto n = static_cast<std::size_t>(k);
    if (a.x[n] != b.x[n] || a.y[n] != b.y[n] || a.intensity[n] != b.intensity[n] ||
        a.sigma[n] != b.sigma[n] || a.flags[n] != b.flags[n])
      return false;
  }
  return true;
}

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

namespace {

// The search of N x N DATA with the on-line crystallography's controls (a
// box of 31 pixels, MIN. SPACING 12, smoothing 3); SAID, what it wrote.
Status crystallography_search(Index n, const std::vector<float>& data, PeakList& peaks,
                              std::string& said) {
  PeakSearchParameters p;
  p.mode = 1;
  p.blur_size = 3;
  p.data_minimum = 1.0f;
  p.min_background = 16;
  p.box_size = 31;
  p.min_spacing = 12;
  p.saturation = 65534.5f;
  p.peak_sigma = 3.5f;
  p.bad_sigma = 12.0f;
  p.num_pixels = 16;
  p.gain = 3.0f;
  std::vector<std::uint8_t> mask(data.size(), 0);
  std::vector<float> work(data.size());
  Status status = kStatusGood;
  TerminalCapture terminal;
  KZT_PEAKSEARCH(1.0e-4f, 1.0e-4f, p, n, n, data, mask, 1, 1, n, n, work, peaks, status);
  said = terminal.text();
  return status;
}

// Two spots of 21,915 and 53,020 counts (sigma 2 pixels) on a background of
// about 100, searched with the on-line crystallography's controls (a box of
// 31 pixels, MIN. SPACING 12). 17 pixels apart each is listed on its spot
// with its own counts, though each one's box reaches the other; nearer than
// MIN. SPACING they are one peak holding both, said as such, never a peak
// on the background between them, on a flank, or a spot counted twice.
TEST(PeakSearch, TwoNearSpotsAreListedApartOrSaidToBeOne) {
  constexpr Index n = 256;
  constexpr double kWeak = 21915.0, kStrong = 53020.0, kSigma = 2.0;
  for (const double apart : {8.0, 12.0, 17.0}) {
    SCOPED_TRACE(apart);
    const double ax = 175.3, ay = 199.3;
    const double bx = ax + apart * 15.4 / 16.6, by = ay + apart * 6.3 / 16.6;
    std::vector<float> data(static_cast<std::size_t>(n * n));
    std::uint32_t seed = 777;
    for (Index j = 1; j <= n; ++j)
      for (Index i = 1; i <= n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        double v = 100.0 + 20.0 * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5);
        for (const auto& [cx, cy, counts] : {std::tuple{ax, ay, kWeak}, std::tuple{bx, by, kStrong}}) {
          const double dx = static_cast<double>(i) - 0.5 - cx, dy = static_cast<double>(j) - 0.5 - cy;
          v += counts / (2.0 * M_PI * kSigma * kSigma) *
               std::exp(-(dx * dx + dy * dy) / (2.0 * kSigma * kSigma));
        }
        data[static_cast<std::size_t>(element(i, j, n))] = static_cast<float>(v);
      }
    PeakList peaks{50};
    std::string said;
    ASSERT_EQ(crystallography_search(n, data, peaks, said), kStatusGood);
    const bool one = apart < 12.5;
    ASSERT_EQ(peaks.num_peaks, one ? 1 : 2) << said;
    for (Index k = 0; k < peaks.num_peaks; ++k) EXPECT_EQ(peaks.flags[k], 0) << k;
    if (one) {
      EXPECT_NEAR(peaks.intensity[0], kWeak + kStrong, 0.03 * (kWeak + kStrong));
      // On the line between the two maxima, nearer the stronger.
      const double t = ((peaks.x[0] - ax) * (bx - ax) + (peaks.y[0] - ay) * (by - ay)) / (apart * apart);
      EXPECT_GT(t, 0.5);
      EXPECT_LT(t, 1.0);
      EXPECT_NE(said.find("nearer than MIN. SPACING: the two are integrated as one peak"),
                std::string::npos)
          << said;
    } else {
      EXPECT_NEAR(peaks.x[0], ax, 0.1);
      EXPECT_NEAR(peaks.y[0], ay, 0.1);
      EXPECT_NEAR(peaks.intensity[0], kWeak, 0.02 * kWeak);
      EXPECT_NEAR(peaks.x[1], bx, 0.1);
      EXPECT_NEAR(peaks.y[1], by, 0.1);
      EXPECT_NEAR(peaks.intensity[1], kStrong, 0.02 * kStrong);
      EXPECT_EQ(said.find("integrated as one"), std::string::npos) << said;
    }
  }
}

}  // namespace
namespace {

// Pairs that a strip's edge cuts (the strips are 31 rows, the box as tall):
// pixel-integrated spots of 21,915 and 53,020 counts on a chequered 100/102
// background. Each pair is two peaks on their spots with their own counts,
// or one peak said to hold both, with both counts; a lone spot near a strip
// edge keeps its counts.
TEST(PeakSearch, SpotsAcrossStripEdgesKeepTheirCounts) {
  constexpr Index n = 256;
  constexpr double kWeak = 21915.0, kStrong = 53020.0;
  struct Pair {
    double ax, ay, bx, by;
  };
  for (const Pair c : {Pair{64.0, 70.8, 70.6, 80.8}, Pair{120.3, 112.4, 131.56, 105.9},
                       Pair{178.9, 59.4, 178.8, 51.4}, Pair{159.4, 93.5, 169.2, 83.5},
                       Pair{30.0, 30.3, -100.0, -100.0}}) {
    const double apart = std::hypot(c.ax - c.bx, c.ay - c.by);
    SCOPED_TRACE(apart);
    std::vector<float> data(static_cast<std::size_t>(n * n));
    const auto cdf = [](double t) { return 0.5 * std::erfc(-t / (2.0 * std::sqrt(2.0))); };
    for (Index j = 1; j <= n; ++j)
      for (Index i = 1; i <= n; ++i) {
        double v = (i + j) % 2 != 0 ? 100.0 : 102.0;
        for (const auto& [cx, cy, counts] :
             {std::tuple{c.ax, c.ay, kWeak}, std::tuple{c.bx, c.by, kStrong}})
          v += counts * (cdf(static_cast<double>(i) - cx) - cdf(static_cast<double>(i - 1) - cx)) *
               (cdf(static_cast<double>(j) - cy) - cdf(static_cast<double>(j - 1) - cy));
        data[static_cast<std::size_t>(element(i, j, n))] = static_cast<float>(v);
      }
    PeakList peaks{50};
    std::string said;
    ASSERT_EQ(crystallography_search(n, data, peaks, said), kStatusGood);
    const bool merged = said.find("integrated as one peak") != std::string::npos;
    if (apart > 100.0) {
      ASSERT_EQ(peaks.num_peaks, 1);
      EXPECT_NEAR(peaks.x[0], c.ax, 0.1);
      EXPECT_NEAR(peaks.y[0], c.ay, 0.1);
      EXPECT_NEAR(peaks.intensity[0], kWeak, 0.02 * kWeak);
    } else if (merged) {
      ASSERT_EQ(peaks.num_peaks, 1) << said;
      EXPECT_NEAR(peaks.intensity[0], kWeak + kStrong, 0.03 * (kWeak + kStrong));
    } else {
      ASSERT_EQ(peaks.num_peaks, 2) << said;
      for (Index k = 0; k < 2; ++k) {
        const bool weak = std::hypot(peaks.x[k] - c.ax, peaks.y[k] - c.ay) < 1.0;
        EXPECT_NEAR(peaks.x[k], weak ? c.ax : c.bx, 0.1) << k;
        EXPECT_NEAR(peaks.y[k], weak ? c.ay : c.by, 0.1) << k;
        EXPECT_NEAR(peaks.intensity[k], weak ? kWeak : kStrong, 0.02 * (weak ? kWeak : kStrong));
      }
    }
  }
}

}  // namespace

// A pixel that is not a finite number (a detector gap, a dead pixel) is left
// out: the spot it lies in, and the other spots of its rows, are still found
// on their centres with their intensities.
TEST(PeakSearch, NonFinitePixelsLoseNoSpot) {
  const std::vector<std::tuple<Index, Index, float>> bad = {
      {35, 41, NAN},        // beside the maximum of the spot at (33.8, 40.4)
      {34, 41, NAN},        // on that maximum
      {50, 44, INFINITY},   // in the background between two spots of a strip
      {75, 46, -INFINITY}};
  // The whole image, and a region that starts past (1, 1).
  for (const auto& [xs, ys] : {std::pair<Index, Index>{1, 1}, {12, 7}})
  for (const Index blur : {1, 3}) {
    const auto region = [&](Search& s) {
      s.p.blur_size = blur;
      s.xs = xs;
      s.ys = ys;
      s.xe = kX - 9;
      s.ye = kY - 4;
    };
    Search clean;
    region(clean);
    ASSERT_EQ(clean.run(), kStatusGood);
    for (const auto& [i, j, value] : bad) {
      Search s;
      region(s);
      s.data[static_cast<std::size_t>(element(i, j, kX))] = value;
      ASSERT_EQ(s.run(), kStatusGood);
      const std::string where = std::to_string(i) + "," + std::to_string(j) + " blur " +
                                std::to_string(blur) + " from " + std::to_string(xs);
      EXPECT_NE(s.terminal.find("INFO: 1 pixel is not finite (NaN or infinite) and was left "
                                "out of the search\n"),
                std::string::npos)
          << where << "\n" << s.terminal;
      ASSERT_EQ(s.peaks.num_peaks, clean.peaks.num_peaks) << where;
      for (Index k = 0; k < s.peaks.num_peaks; ++k) {
        const auto n = static_cast<std::size_t>(k);
        EXPECT_NEAR(s.peaks.x[n], clean.peaks.x[n], 0.3f) << where;
        EXPECT_NEAR(s.peaks.y[n], clean.peaks.y[n], 0.3f) << where;
        EXPECT_TRUE(std::isfinite(s.peaks.intensity[n])) << where;
        // The spot holding the pixel loses at most that pixel's share.
        EXPECT_NEAR(s.peaks.intensity[n], clean.peaks.intensity[n],
                    0.2 * clean.peaks.intensity[n]) << where;
      }
    }
  }
}

// With wide smoothing, the smoothed pixels round such pixels are still means
// of their boxes (of the finite values): no false peak beside them, and a
// detector gap of NaN columns makes none either.
TEST(PeakSearch, NonFinitePixelsMakeNoPeakUnderWideSmoothing) {
  const auto configure = [](Search& s) {
    s.p.blur_size = 9;
    s.p.min_spacing = 10;
    s.p.num_pixels = 9;
  };
  Search clean;
  configure(clean);
  ASSERT_EQ(clean.run(), kStatusGood);
  ASSERT_GT(clean.peaks.num_peaks, 0);
  const auto far_from_spots = [](Index i, Index j) {
    for (const Spot& spot : kSpots)
      if (std::hypot(static_cast<double>(i) - spot.x, static_cast<double>(j) - spot.y) < 12.0)
        return false;
    return true;
  };
  for (const float value : {NAN, INFINITY, -INFINITY}) {
    Search s;
    configure(s);
    Index placed = 0;
    for (Index k = 0; placed < 30 && k < 1000; ++k) {
      const Index i = 6 + (k * 37) % (kX - 12), j = 6 + (k * 53) % (kY - 12);
      if (!far_from_spots(i, j)) continue;
      s.data[static_cast<std::size_t>(element(i, j, kX))] = value;
      ++placed;
    }
    // A gap two columns wide through the background.
    for (Index j = 1; j <= kY; ++j)
      for (const Index i : {47, 48}) s.data[static_cast<std::size_t>(element(i, j, kX))] = value;
    ASSERT_EQ(s.run(), kStatusGood);
    ASSERT_EQ(s.peaks.num_peaks, clean.peaks.num_peaks) << value;
    for (Index k = 0; k < s.peaks.num_peaks; ++k) {
      const auto n = static_cast<std::size_t>(k);
      EXPECT_NEAR(s.peaks.x[n], clean.peaks.x[n], 0.3f) << value;
      EXPECT_NEAR(s.peaks.y[n], clean.peaks.y[n], 0.3f) << value;
      EXPECT_EQ(s.peaks.flags[n], clean.peaks.flags[n]) << value;
    }
  }
  // A block of scattered dead pixels (four in five) over the background: too
  // few pixels are known round any of it to take noise there for a spot.
  for (const auto& [noise_seed, blur] : {std::pair<std::uint32_t, Index>{9, 5}, {14, 5}, {27, 3},
                                         {27, 5}}) {
    Search s;
    counting_noise(s, noise_seed);
    s.p.blur_size = blur;
    s.p.min_spacing = 12;
    s.p.num_pixels = 16;
    s.p.peak_sigma = 3.5f;
    for (Index j = 20; j < 80; ++j)
      for (Index i = 30; i < 90; ++i)
        if ((i * 7 + j * 13) % 5 != 0)
          s.data[static_cast<std::size_t>(element(i, j, kX))] = NAN;
    ASSERT_EQ(s.run(), kStatusGood);
    Index found = 0;
    for (Index k = 0; k < s.peaks.num_peaks; ++k) found += s.peaks.flags[static_cast<std::size_t>(k)] == 0;
    EXPECT_EQ(found, 0) << "noise " << noise_seed << " blur " << blur;
  }
}

// A spot just beside a detector gap is found, where the same columns masked
// put it: the gap's pixels cannot be candidates, so the least number of
// candidates is taken among the pixels known.
TEST(PeakSearch, SpotsBesideAGapAreFound) {
  for (const Index blur : {3, 9})
    for (const float beside : {1.0f, 1.5f, 2.5f, 3.5f}) {
      const std::vector<Spot> spots = {{60.0f - beside, 50.0f, 1000.0f}, {20.3f, 20.6f, 900.0f}};
      Search gap, masked;
      for (Search* s : {&gap, &masked}) {
        s->data = image_with(spots);
        s->p.blur_size = blur;
        s->p.min_spacing = 10;
        s->p.num_pixels = 16;
      }
      masked.p.use_mask = true;
      for (Index j = 1; j <= kY; ++j)
        for (Index i = 61; i <= 65; ++i) {
          const auto k = static_cast<std::size_t>(element(i, j, kX));
          gap.data[k] = NAN;
          masked.mask[k] = 1;
        }
      const std::string where = "blur " + std::to_string(blur) + " beside " + std::to_string(beside);
      ASSERT_EQ(gap.run(), kStatusGood);
      ASSERT_EQ(masked.run(), kStatusGood);
      ASSERT_EQ(gap.peaks.num_peaks, 2) << where;
      for (std::size_t n = 0; n < 2; ++n) {
        EXPECT_NEAR(gap.peaks.x[n], spots[1 - n].x, 1.0f) << where;
        EXPECT_NEAR(gap.peaks.y[n], spots[1 - n].y, 1.0f) << where;
      }
      // Where the masked search finds the spot, both agree.
      for (Index m = 0; m < masked.peaks.num_peaks; ++m) {
        const auto k = static_cast<std::size_t>(m);
        const bool near = std::fabs(masked.peaks.x[k] - gap.peaks.x[k]) < 1.0f &&
                          std::fabs(masked.peaks.y[k] - gap.peaks.y[k]) < 1.0f;
        EXPECT_TRUE(near) << where;
      }
    }
}

// A detector gap of zeros that the mask leaves out is to the search what the
// same gap of NaN is: left out of the smoothing, the climbs, the least number
// of candidates and the centroids, so the spots beside it (3 and 6 pixels
// from its edge, on both sides) are listed on their centres, to the last bit
// as beside the NaN gap. A mask that leaves nothing out changes nothing.
TEST(PeakSearch, MaskedGapIsLeftOutAsANonFiniteGapIs) {
  std::vector<Spot> spots;
  for (int k = 0; k < 4; ++k) {
    const float y = 10.3f + 22.0f * static_cast<float>(k);
    spots.push_back({48.0f + (k % 2 == 0 ? 3.0f : 6.0f) + 0.1f * static_cast<float>(k), y, 2200.0f});
    spots.push_back({40.0f - (k % 2 == 0 ? 6.0f : 3.0f) - 0.2f, y + 11.0f, 2200.0f});
  }
  for (const Index blur : {1, 3, 9}) {
    SCOPED_TRACE(blur);
    Search masked, nan, plain, unused;
    for (Search* s : {&masked, &nan, &plain, &unused}) {
      s->data = image_with(spots);
      crystallography_controls(*s, blur);
    }
    masked.p.use_mask = unused.p.use_mask = true;
    for (Index j = 1; j <= kY; ++j)
      for (Index i = 41; i <= 48; ++i) {
        const auto e = static_cast<std::size_t>(element(i, j, kX));
        masked.data[e] = 0.0f;
        masked.mask[e] = 1;
        nan.data[e] = NAN;
      }
    for (Search* s : {&masked, &nan, &plain, &unused}) ASSERT_EQ(s->run(), kStatusGood);
    ASSERT_EQ(nan.peaks.num_peaks, std::ssize(spots));
    EXPECT_TRUE(same_lists(masked.peaks, nan.peaks));
    for (Index k = 0; k < masked.peaks.num_peaks; ++k) {
      const auto n = static_cast<std::size_t>(k);
      double nearest = 1.0e9;
      for (const Spot& spot : spots)
        nearest = std::min(nearest, std::hypot(double{masked.peaks.x[n]} - spot.x,
                                               double{masked.peaks.y[n]} - spot.y));
      EXPECT_LT(nearest, 0.2) << masked.peaks.x[n] << ", " << masked.peaks.y[n];
    }
    EXPECT_TRUE(same_lists(unused.peaks, plain.peaks));
  }
}

// A masked hot pixel beside a spot's maximum (the reason pixels are masked)
// neither beats the maximum, so that the spot is lost, nor is climbed to, so
// that the centroid is drawn towards it.
TEST(PeakSearch, MaskedHotPixelBesideASpotTakesNoPart) {
  for (const Index blur : {1, 3}) {
    Search s;
    s.p.blur_size = blur;
    s.p.use_mask = true;
    for (const auto& [i, j] : {std::pair<Index, Index>{35, 41}, {34, 42}, {92, 48}}) {
      const auto e = static_cast<std::size_t>(element(i, j, kX));
      s.data[e] = 1.0e6f;
      s.mask[e] = 1;
    }
    ASSERT_EQ(s.run(), kStatusGood);
    ASSERT_EQ(s.peaks.num_peaks, std::ssize(kSpots)) << blur;
    for (const Spot& spot : kSpots) {
      bool found = false;
      for (Index k = 0; k < s.peaks.num_peaks; ++k)
        found = found || std::hypot(s.peaks.x[k] - spot.x, s.peaks.y[k] - spot.y) < 0.3;
      EXPECT_TRUE(found) << spot.x << ", " << spot.y << " blur " << blur;
    }
  }
}
// A masked pixel holding a huge value (a marker of 1e20, 1e30 or the float
// limit), 40 pixels before a spot on its row or 3 pixels after it, takes no
// more part than a NaN there: the smoothing's sums keep no trace of it in
// the boxes after it. An unmasked hot pixel is a candidate whatever its
// size: one of 1e12 leaves the background's sums and levels as one of 1e5,
// and one of 1e30 beside a NaN gap leaves the means of the gap's boxes, away
// from its own, as one of 1e5.
TEST(PeakSearch, HugeValuesLeaveNoTraceInOtherBoxes) {
  for (const Index blur : {1, 3, 9})
    for (const auto& [i, j] : {std::pair<Index, Index>{51, 48}, {38, 41}}) {
      SCOPED_TRACE(::testing::Message() << "blur " << blur << " at " << i << "," << j);
      const auto e = static_cast<std::size_t>(element(i, j, kX));
      Search nan;
      crystallography_controls(nan, blur);
      nan.data[e] = NAN;
      ASSERT_EQ(nan.run(), kStatusGood);
      ASSERT_EQ(nan.peaks.num_peaks, std::ssize(kSpots));
      for (const float huge : {1.0e20f, 1.0e30f, 3.4e38f}) {
        Search masked;
        crystallography_controls(masked, blur);
        masked.p.use_mask = true;
        masked.data[e] = huge;
        masked.mask[e] = 1;
        ASSERT_EQ(masked.run(), kStatusGood);
        EXPECT_TRUE(same_lists(masked.peaks, nan.peaks)) << huge;
      }
    }
  for (const Index blur : {1, 3})
    for (const auto& [i, j] : {std::pair<Index, Index>{21, 65}, {8, 30}, {3, 90}}) {
      Search hot, hotter;
      for (Search* s : {&hot, &hotter}) {
        crystallography_controls(*s, blur);
        counting_noise(*s, 7);
      }
      hot.data[static_cast<std::size_t>(element(i, j, kX))] = 1.0e5f;
      hotter.data[static_cast<std::size_t>(element(i, j, kX))] = 1.0e12f;
      ASSERT_EQ(hot.run(), kStatusGood);
      ASSERT_EQ(hotter.run(), kStatusGood);
      EXPECT_TRUE(same_lists(hot.peaks, hotter.peaks))
          << "blur " << blur << " at " << i << "," << j << ": " << hot.peaks.num_peaks << " and "
          << hotter.peaks.num_peaks << " peaks";
    }
  for (const Index blur : {3, 9})
    for (const auto& [i, j] : {std::pair<Index, Index>{21, 45}, {50, 20}}) {
      Search hot, hotter;
      for (Search* s : {&hot, &hotter}) {
        crystallography_controls(*s, blur);
        for (Index y = 1; y <= kY; ++y) s->data[static_cast<std::size_t>(element(60, y, kX))] = NAN;
      }
      hot.data[static_cast<std::size_t>(element(i, j, kX))] = 1.0e5f;
      hotter.data[static_cast<std::size_t>(element(i, j, kX))] = 1.0e30f;
      ASSERT_EQ(hot.run(), kStatusGood);
      ASSERT_EQ(hotter.run(), kStatusGood);
      for (Index y = 1; y <= kY; ++y)
        for (Index x = 60 - blur; x <= 60 + blur; ++x) {
          const auto e = static_cast<std::size_t>(element(x, y, kX));
          if (x == 60 || (std::abs(x - i) <= blur && std::abs(y - j) <= blur)) continue;
          ASSERT_NEAR(hot.work[e], hotter.work[e], 1e-3f) << "blur " << blur << " at " << x << ","
                                                           << y;
        }
    }
}

// Weak peaks in noise under wide smoothing have weights (value less the
// background) that nearly cancel over their spot: the centroid runs off,
// out of the image. A centroid outside the peak's box is no position of the
// spot, and the peak pixel's centre stands: every listed position lies in
// the region searched, which here does not start at (1, 1).
TEST(PeakSearch, CentroidsStayInsideThePeaksBox) {
  Index listed = 0;
  for (std::uint32_t noise_seed = 1; noise_seed <= 24; ++noise_seed)
    for (const Index blur : {5, 9}) {
      Search s;
      counting_noise(s, noise_seed);
      crystallography_controls(s, blur);
      s.p.peak_sigma = 2.5f;
      s.xs = 12;
      s.ys = 7;
      s.xe = kX - 9;
      s.ye = kY - 4;
      ASSERT_EQ(s.run(), kStatusGood);
      for (Index k = 0; k < s.peaks.num_peaks; ++k) {
        ++listed;
        EXPECT_TRUE(s.peaks.x[k] >= 11.0f && s.peaks.x[k] <= kX - 9 && s.peaks.y[k] >= 6.0f &&
                    s.peaks.y[k] <= kY - 4)
            << s.peaks.x[k] << ", " << s.peaks.y[k] << " noise " << noise_seed << " blur " << blur;
      }
    }
  EXPECT_GT(listed, 20);
}
