#include "numeric/filters.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/status.hpp"

namespace kesta {
namespace {

constexpr float kUntouched = -777.0f;

struct Region {
  Index xs, ys, xe, ye;
};

// The box of (x, y) clipped to the region, by the box rule: (size - 1) / 2
// before and size / 2 after.
Region box(Index x, Index y, Index xsize, Index ysize, const Region& r) {
  return {std::max(r.xs, x - (xsize - 1) / 2), std::max(r.ys, y - (ysize - 1) / 2),
          std::min(r.xe, x + xsize / 2), std::min(r.ye, y + ysize / 2)};
}

std::vector<float> random_image(Index xmax, Index ymax, unsigned seed, bool integers) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-50.0f, 50.0f);
  std::vector<float> a(xmax * ymax);
  for (float& v : a) v = integers ? std::round(u(rng) / 10.0f) : u(rng);
  return a;
}

// The filter's order: NaN above +Inf.
bool below(float a, float b) { return a < b || (std::isnan(b) && !std::isnan(a)); }

// The plain sliding-list median filter (one column's entries dropped and one
// insertion-sorted column merged per step), kept as the bit-for-bit model of
// MA_MEDFILTER: equal values keep its order, which decides the sign of a zero.
void reference_median(Index xmax, const std::vector<float>& data, const Region& r, Index xsize,
                      Index ysize, Index xmaxout, std::vector<float>& output) {
  const Index before_x = (xsize - 1) / 2, after_x = xsize / 2;
  const Index before_y = (ysize - 1) / 2, after_y = ysize / 2;
  std::vector<float> col(ysize), list(xsize * ysize);
  std::vector<Index> from(list.size());
  for (Index y = r.ys; y <= r.ye; ++y) {
    const Index y0 = std::max(r.ys, y - before_y), y1 = std::min(r.ye, y + after_y);
    const Index n = y1 - y0 + 1;
    Index m = 0;
    auto enter = [&](Index x) {
      for (Index i = 0; i < n; ++i) {
        const float v = data[element(x, y0 + i, xmax)];
        Index j = i;
        for (; j > 0 && below(v, col[j - 1]); --j) col[j] = col[j - 1];
        col[j] = v;
      }
      Index i = m - 1, j = n - 1;
      for (Index k = m + n - 1; j >= 0; --k) {
        if (i >= 0 && !below(list[i], col[j])) {
          list[k] = list[i];
          from[k] = from[i];
          --i;
        } else {
          list[k] = col[j];
          from[k] = x;
          --j;
        }
      }
      m += n;
    };
    for (Index x = r.xs; x <= std::min(r.xe, r.xs + after_x - 1); ++x) enter(x);
    for (Index x = r.xs; x <= r.xe; ++x) {
      const Index leaving = x - before_x - 1;
      if (leaving >= r.xs) {
        Index w = 0;
        for (Index k = 0; k < m; ++k) {
          if (from[k] == leaving) continue;
          list[w] = list[k];
          from[w] = from[k];
          ++w;
        }
        m = w;
      }
      if (x + after_x <= r.xe) enter(x + after_x);
      output[element(x, y, xmaxout)] =
          (m % 2 == 1) ? list[m / 2] : (list[m / 2 - 1] + list[m / 2]) * 0.5f;
    }
  }
}

std::vector<float> median_filter(Index xmax, Index ymax, const std::vector<float>& data,
                                 const Region& r, Index xsize, Index ysize, Status& status,
                                 Index xmaxout = 0) {
  if (xmaxout == 0) xmaxout = xmax;
  std::vector<float> out(xmaxout * ymax, kUntouched);
  const Index maxsorted = xsize * ysize;
  std::vector<float> column(ysize), sorted(maxsorted);
  std::vector<Index> source(maxsorted);
  MA_MEDFILTER(xmax, ymax, data, r.xs, r.ys, r.xe, r.ye, xsize, ysize, maxsorted, ysize, xmaxout,
               ymax, column, sorted, source, out, status);
  return out;
}

TEST(MedianFilter, AgreesWithSortingEveryBox) {
  const Index xmax = 23, ymax = 17;
  const Region region{3, 2, 20, 16};
  struct Size {
    Index x, y;
  };
  for (const bool integers : {false, true}) {
    const std::vector<float> data = random_image(xmax, ymax, 5, integers);
    for (const Size s : {Size{1, 1}, Size{3, 3}, Size{4, 4}, Size{9, 3}, Size{2, 5}, Size{30, 2}}) {
      Status status = ST_GOOD();
      const std::vector<float> out = median_filter(xmax, ymax, data, region, s.x, s.y, status);
      ASSERT_EQ(status, ST_GOOD());
      for (Index y = 1; y <= ymax; ++y)
        for (Index x = 1; x <= xmax; ++x) {
          const float got = out[element(x, y, xmax)];
          if (x < region.xs || x > region.xe || y < region.ys || y > region.ye) {
            ASSERT_EQ(got, kUntouched);
            continue;
          }
          const Region b = box(x, y, s.x, s.y, region);
          std::vector<float> v;
          for (Index yy = b.ys; yy <= b.ye; ++yy)
            for (Index xx = b.xs; xx <= b.xe; ++xx) v.push_back(data[element(xx, yy, xmax)]);
          std::sort(v.begin(), v.end());
          const std::size_t m = v.size();
          const float want = m % 2 ? v[m / 2] : (v[m / 2 - 1] + v[m / 2]) * 0.5f;
          ASSERT_EQ(got, want) << s.x << "x" << s.y << " at " << x << "," << y;
        }
    }
  }
}

// Random images of few distinct values, zeros of both signs among them, so
// that ties and the order of equal values decide many outputs, and noise with
// a single -0.0 or NaN; every pixel must match the model bit for bit.
TEST(MedianFilter, MatchesTheSlidingListBitForBit) {
  std::mt19937 rng(11);
  const float levels[] = {-0.0f, 0.0f, 1.0f, -1.0f, 2.5f, -3.0f, 7.0f, 1.0e-40f, -1.0e30f};
  struct Shape {
    Index xmax, ymax;
  };
  struct Size {
    Index x, y;
  };
  const Shape shapes[] = {{1, 1}, {1, 17}, {23, 1}, {2, 3}, {40, 33}, {67, 21}};
  const Size sizes[] = {{1, 1}, {3, 3}, {3, 5}, {9, 9}, {2, 2}, {4, 1}, {1, 6}, {5, 3}, {12, 7}};
  for (const Shape sh : shapes) {
    for (int kind = 0; kind < 4; ++kind) {
      std::vector<float> data(sh.xmax * sh.ymax);
      std::uniform_int_distribution<int> pick(0, kind == 0 ? 1 : 8);
      std::uniform_real_distribution<float> u(-5.0f, 5.0f);
      for (float& v : data) v = kind == 2 ? u(rng) : levels[pick(rng)];
      if (kind == 2) data[data.size() / 2] = -0.0f;
      if (kind == 3) data[data.size() / 3] = std::nanf("");
      for (const Size s : sizes) {
        for (int trial = 0; trial < 2; ++trial) {
          Region r{1, 1, sh.xmax, sh.ymax};
          if (trial == 1) {
            std::uniform_int_distribution<Index> xs(1, sh.xmax), ys(1, sh.ymax);
            r.xs = xs(rng);
            r.ys = ys(rng);
            r.xe = std::uniform_int_distribution<Index>(r.xs, sh.xmax)(rng);
            r.ye = std::uniform_int_distribution<Index>(r.ys, sh.ymax)(rng);
          }
          const Index xmaxout = sh.xmax + trial;
          std::vector<float> want(xmaxout * sh.ymax, kUntouched);
          reference_median(sh.xmax, data, r, s.x, s.y, xmaxout, want);
          Status status = ST_GOOD();
          const std::vector<float> got =
              median_filter(sh.xmax, sh.ymax, data, r, s.x, s.y, status, xmaxout);
          ASSERT_EQ(status, ST_GOOD());
          for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(got[i]), std::bit_cast<std::uint32_t>(want[i]))
                << sh.xmax << "x" << sh.ymax << " kind " << kind << " box " << s.x << "x" << s.y
                << " region " << r.xs << "," << r.ys << "-" << r.xe << "," << r.ye << " at " << i;
        }
      }
    }
  }
}

// The obviously correct route: every clipped box listed newest column first
// and top to bottom, sorted stably in the filter's order (equal values keep
// that order, which decides the sign of a zero), its middle taken. Images of
// few levels (ties everywhere, both zeros, both infinities, NaN) and of
// noise with a few NaN, under boxes small and large, thin either way, even
// and odd, up to larger than the region.
TEST(MedianFilter, EveryBoxSortedWithTiesAndValuesThatAreNotNumbers) {
  std::mt19937 rng(23);
  const float levels[] = {-0.0f, 0.0f, 1.0f, -1.0f, INFINITY, -INFINITY, NAN, 2.5f};
  const Index xmax = 37, ymax = 29;
  struct Size {
    Index x, y;
  };
  const Size sizes[] = {{3, 3}, {5, 4}, {10, 10}, {11, 13}, {40, 3}, {2, 60}, {25, 7},
                        {9, 30}, {74, 58}, {36, 28}, {1, 120}, {120, 1}};
  for (int kind = 0; kind < 3; ++kind) {
    std::vector<float> data(xmax * ymax);
    std::uniform_int_distribution<int> pick(0, kind == 0 ? 2 : 7);
    std::uniform_real_distribution<float> u(-5.0f, 5.0f);
    for (float& v : data) v = kind == 2 ? u(rng) : levels[pick(rng)];
    if (kind == 2)
      for (int k = 0; k < 12; ++k) data[rng() % data.size()] = k % 3 == 0 ? INFINITY : NAN;
    for (const Size s : sizes) {
      for (const Region r : {Region{1, 1, xmax, ymax}, Region{4, 3, 30, 27}}) {
        Status status = ST_GOOD();
        const std::vector<float> got = median_filter(xmax, ymax, data, r, s.x, s.y, status);
        ASSERT_EQ(status, ST_GOOD());
        for (Index y = r.ys; y <= r.ye; ++y)
          for (Index x = r.xs; x <= r.xe; ++x) {
            const Region b = box(x, y, s.x, s.y, r);
            std::vector<float> v;
            for (Index xx = b.xe; xx >= b.xs; --xx)
              for (Index yy = b.ys; yy <= b.ye; ++yy) v.push_back(data[element(xx, yy, xmax)]);
            std::stable_sort(v.begin(), v.end(), below);
            const std::size_t m = v.size();
            const float want = m % 2 ? v[m / 2] : (v[m / 2 - 1] + v[m / 2]) * 0.5f;
            const float g = got[element(x, y, xmax)];
            ASSERT_TRUE(std::isnan(want) ? std::isnan(g)
                                         : std::bit_cast<std::uint32_t>(g) ==
                                               std::bit_cast<std::uint32_t>(want))
                << "kind " << kind << " box " << s.x << "x" << s.y << " region " << r.xs
                << " at " << x << "," << y << ": " << g << " not " << want;
          }
      }
    }
  }
}

TEST(MedianFilter, ArgumentChecks) {
  const std::vector<float> data(100, 1.0f);
  std::vector<float> out(100), column(10), sorted(100);
  std::vector<Index> source(100);
  struct Case {
    Index xs, xe, xsize, ysize, maxsorted, maxcolumn, xmaxout;
    Status code;
  };
  const Case cases[] = {
      {1, 10, 3, 3, 9, 3, 0, 20001},  {0, 10, 3, 3, 9, 3, 10, 20005},
      {1, 10, 3, 3, 9, 3, 9, 20005},  {1, 10, 0, 3, 9, 3, 10, 20017},
      {1, 10, 3, 0, 9, 3, 10, 20018}, {1, 10, 3, 3, 8, 3, 10, 20005},
      {1, 10, 3, 3, 9, 2, 10, 20037}, {1, 10, 3, 3, 200, 3, 10, 20037},
  };
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    std::fill(out.begin(), out.end(), kUntouched);
    MA_MEDFILTER(10, 10, data, c.xs, 1, c.xe, 10, c.xsize, c.ysize, c.maxsorted, c.maxcolumn,
                 c.xmaxout, 10, column, sorted, source, out, status);
    EXPECT_EQ(status, c.code) << c.xs << " " << c.xmaxout << " " << c.maxsorted;
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == kUntouched; }));
  }
}

TEST(BoxFilter, SumsAndMeansAgreeWithEveryBoxAdded) {
  const Index xmax = 31, ymax = 19;
  std::vector<float> data = random_image(xmax, ymax, 9, false);
  struct Case {
    Region r;
    Index xsize, ysize;
  };
  const Case cases[] = {{{1, 1, 31, 19}, 3, 3}, {{2, 3, 29, 18}, 4, 4}, {{1, 1, 31, 19}, 1, 7},
                        {{5, 5, 8, 9}, 9, 9},   {{1, 2, 31, 2}, 5, 3},  {{4, 1, 30, 19}, 12, 1}};
  // Then with values that are not finite numbers: each stays in the boxes
  // that hold it (+Inf meeting -Inf in a box gives NaN there).
  for (const bool specials : {false, true})
  for (const Case& c : cases) {
    if (specials) {
      data[element(6, 6, xmax)] = NAN;
      data[element(20, 2, xmax)] = INFINITY;
      data[element(23, 3, xmax)] = -INFINITY;
      data[element(12, 15, xmax)] = INFINITY;
    }
    for (const bool average : {false, true}) {
      std::vector<float> out(xmax * ymax, kUntouched);
      Status status = ST_GOOD();
      MA_TOPHATCON(xmax, ymax, data, c.r.xs, c.r.ys, c.r.xe, c.r.ye, c.xsize, c.ysize, average,
                   xmax, ymax, out, status);
      ASSERT_EQ(status, ST_GOOD());
      for (Index y = 1; y <= ymax; ++y)
        for (Index x = 1; x <= xmax; ++x) {
          const float got = out[element(x, y, xmax)];
          if (x < c.r.xs || x > c.r.xe || y < c.r.ys || y > c.r.ye) {
            ASSERT_EQ(got, kUntouched);
            continue;
          }
          const Region b = box(x, y, c.xsize, c.ysize, c.r);
          double sum = 0;
          for (Index yy = b.ys; yy <= b.ye; ++yy)
            for (Index xx = b.xs; xx <= b.xe; ++xx) sum += data[element(xx, yy, xmax)];
          const double count = static_cast<double>((b.xe - b.xs + 1) * (b.ye - b.ys + 1));
          const double want = average ? sum / count : sum;
          if (std::isfinite(want))
            ASSERT_NEAR(got, want, 1e-4) << c.xsize << "x" << c.ysize << " at " << x << "," << y;
          else
            ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(float(want)))
                << c.xsize << "x" << c.ysize << " at " << x << "," << y;
        }
    }
  }
}

// Values far larger than the rest (marker values of 1e20, 1e30 and the float
// limit, of either sign, some of them in one column or line) or every value
// large: each box, whether it holds such a value or not, gives the sum of its
// own values, as does the work line of column sums.
TEST(BoxFilter, HugeValuesStayInTheBoxesThatHoldThem) {
  const Index xmax = 40, ymax = 33;
  const Region r{2, 1, 39, 33};
  for (const bool all_large : {false, true}) {
    std::vector<float> data = random_image(xmax, ymax, 4, false);
    if (all_large) {
      for (float& v : data) v = 1.0e15f + v * 1.0e13f;
      data[element(9, 9, xmax)] = 3.4e38f;
    } else {
      data[element(20, 5, xmax)] = 3.4e38f;
      data[element(20, 9, xmax)] = 1.0e20f;  // below it in its column
      data[element(16, 9, xmax)] = -1.0e30f;  // before that in its line
      data[element(27, 9, xmax)] = 4294967296.0f;
      data[element(6, 20, xmax)] = 3.4e38f;
      data[element(6, 30, xmax)] = NAN;
      data[element(12, 26, xmax)] = -1.0e25f;
    }
    for (const Index size : {1, 3, 4, 9}) {
      std::vector<float> out(xmax * ymax, kUntouched), work(xmax, kUntouched);
      Status status = ST_GOOD();
      MA_TOPHAT2CON(xmax, ymax, data, r.xs, r.ys, r.xe, r.ye, size, size, false, xmax, xmax, ymax,
                    work, out, status);
      ASSERT_EQ(status, ST_GOOD());
      // A direct sum of a box or column: in double, so exact to the float's
      // last bit for these values.
      const auto direct = [&](const Region& b) {
        double sum = 0;
        for (Index yy = b.ys; yy <= b.ye; ++yy)
          for (Index xx = b.xs; xx <= b.xe; ++xx) sum += data[element(xx, yy, xmax)];
        return static_cast<float>(sum);
      };
      const auto same = [](float got, float want) {
        return std::isnan(want) ? std::isnan(got)
                                : std::fabs(got - want) <= 1e-6f * std::fabs(want) + 1e-4f;
      };
      for (Index y = r.ys; y <= r.ye; ++y)
        for (Index x = r.xs; x <= r.xe; ++x) {
          const float want = direct(box(x, y, size, size, r));
          ASSERT_PRED2(same, out[element(x, y, xmax)], want)
              << size << " x " << size << " at " << x << "," << y << (all_large ? " large" : "");
        }
      const Index y0 = std::max(r.ys, r.ye - (size - 1) / 2);
      for (Index x = r.xs; x <= r.xe; ++x)
        ASSERT_PRED2(same, work[x - 1], direct({x, y0, x, r.ye})) << size << " column " << x;
    }
  }
}

// The means of the values not left out (a gap column, scattered pixels, a
// left-out 1e30) are given exactly where a box holds a value left out and
// the element itself is not; an unmasked 1e30 counts in its own boxes only;
// every other element keeps what it held.
TEST(BoxFilter, KnownMeansWhereABoxHoldsAValueLeftOut) {
  const Index xmax = 30, ymax = 24;
  const Region r{2, 2, 29, 23};
  std::vector<float> data = random_image(xmax, ymax, 6, false);
  std::vector<std::uint8_t> out(xmax * ymax, 0);
  for (Index y = 1; y <= ymax; ++y) out[element(14, y, xmax)] = 1;
  for (const auto& [x, y] : {std::pair<Index, Index>{5, 5}, {22, 18}, {8, 20}})
    out[element(x, y, xmax)] = 1;
  data[element(22, 18, xmax)] = 1.0e30f;  // left out
  data[element(6, 8, xmax)] = 1.0e30f;    // used
  data[element(8, 20, xmax)] = NAN;       // left out
  for (const Index size : {3, 4}) {
    std::vector<float> got(xmax * ymax, kUntouched);
    ASSERT_TRUE(
        ma_known_box_means(xmax, ymax, data, out, r.xs, r.ys, r.xe, r.ye, size, size, got));
    for (Index y = 1; y <= ymax; ++y)
      for (Index x = 1; x <= xmax; ++x) {
        const Region b = box(x, y, size, size, r);
        double sum = 0.0;
        Index n = 0, left = 0;
        for (Index yy = b.ys; yy <= b.ye; ++yy)
          for (Index xx = b.xs; xx <= b.xe; ++xx) {
            const auto e = element(xx, yy, xmax);
            if (out[e] != 0) {
              ++left;
            } else {
              sum += data[e];
              ++n;
            }
          }
        const float g = got[element(x, y, xmax)];
        const bool inside = x >= r.xs && x <= r.xe && y >= r.ys && y <= r.ye;
        if (!inside || left == 0 || out[element(x, y, xmax)] != 0) {
          ASSERT_EQ(g, kUntouched) << size << " at " << x << "," << y;
          continue;
        }
        const double want = sum / static_cast<double>(n);
        ASSERT_NEAR(g, want, 1e-6 * std::fabs(want) + 1e-5) << size << " at " << x << "," << y;
      }
  }
  std::vector<float> got(xmax * ymax, kUntouched);
  EXPECT_FALSE(ma_known_box_means(xmax, ymax, data, std::span(out).first(10), 1, 1, xmax, ymax, 3,
                                  3, got));
  EXPECT_FALSE(ma_known_box_means(xmax, ymax, data, out, 1, 1, xmax, ymax, 0, 3, got));
  EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](float v) { return v == kUntouched; }));
}

TEST(BoxFilter, ConstantStaysConstantAndLongImagesDoNotDrift) {
  const Index xmax = 600, ymax = 1500;
  std::vector<float> data(xmax * ymax, 3.0f);
  // Large values passing through the running sums, far from the last lines.
  for (Index x = 1; x <= xmax; ++x) data[element(x, 2, xmax)] = 1.0e7f + 0.1f * x;
  std::vector<float> out(xmax * ymax);
  Status status = ST_GOOD();
  MA_TOPHATCON(xmax, ymax, data, 1, 1, xmax, ymax, 5, 5, true, xmax, ymax, out, status);
  ASSERT_EQ(status, ST_GOOD());
  for (Index y = 10; y <= ymax; ++y)
    for (Index x = 1; x <= xmax; x += 37)
      ASSERT_EQ(out[element(x, y, xmax)], 3.0f) << x << "," << y;

  std::vector<float> work(xmax - 1);
  MA_TOPHAT2CON(xmax, ymax, data, 1, 1, xmax, ymax, 5, 5, true, xmax - 1, xmax, ymax, work, out,
                status);
  EXPECT_EQ(status, 20037);
  status = ST_GOOD();
  MA_TOPHATCON(xmax, ymax, data, 1, 1, xmax, ymax, 5, 5, true, xmax - 1, ymax, out, status);
  EXPECT_EQ(status, 20005);
}

TEST(SymmetricFunction, NearestAndLinearBins) {
  const std::vector<float> f = {1.0f, 10.0f, 100.0f, 1000.0f};
  // Centre at pixel coordinate (2.5, 2.5), the centre of element (3, 3).
  const Index n = 9;
  for (const int mode : {0, 1}) {
    std::vector<float> a(n * n, 0.5f);
    Status status = ST_GOOD();
    MA_SYMFUN(1.0f, 4, 4, f, 2.5f, 2.5f, mode, 1.0f, 1.0f, n, n, 1, 1, n, n, a, status);
    ASSERT_EQ(status, ST_GOOD());
    EXPECT_FLOAT_EQ(a[element(3, 3, n)], 1.5f);  // r = 0: FUNCTION(1)
    for (Index y = 1; y <= n; ++y)
      for (Index x = 1; x <= n; ++x) {
        const double r = std::hypot(x - 3.0, y - 3.0);
        double want;
        if (mode == 0) {
          const long k = std::lround(r) + 1;
          want = f[std::clamp<long>(k, 1, 4) - 1];
        } else {
          // Linear between neighbouring bins, bin k centred on r = k - 0.5.
          const double pos = std::clamp(r - 0.5, 0.0, 3.0);
          const long lo = static_cast<long>(std::floor(pos));
          const double frac = pos - lo;
          want = lo >= 3 ? f[3] : (1 - frac) * f[lo] + frac * f[lo + 1];
        }
        ASSERT_NEAR(a[element(x, y, n)], want + 0.5, 1e-3 * want) << mode << " " << x << "," << y;
      }
  }
  // r = 2.3 bins: 0.8 FUNCTION(3) + 0.2 FUNCTION(2).
  std::vector<float> one(1, 0.0f);
  Status status = ST_GOOD();
  MA_SYMFUN(1.0f, 4, 4, f, 0.5f + 2.3f, 0.5f, 1, 1.0f, 1.0f, 1, 1, 1, 1, 1, 1, one, status);
  EXPECT_NEAR(one[0], 0.8f * 100.0f + 0.2f * 10.0f, 1e-3);

  struct Bad {
    float width;
    Index numfunc;
    int mode;
    Status code;
  };
  for (const Bad b :
       {Bad{1, 4, 2, 20017}, Bad{1, 0, 0, 20017}, Bad{1, 5, 0, 20017}, Bad{0, 4, 0, 20021}}) {
    Status s = ST_GOOD();
    one[0] = 0.0f;
    MA_SYMFUN(b.width, 4, b.numfunc, f, 0.5f, 0.5f, b.mode, 1, 1, 1, 1, 1, 1, 1, 1, one, s);
    EXPECT_EQ(s, b.code);
    EXPECT_EQ(one[0], 0.0f);
  }
}

TEST(DisplayRange, LargeRegionSamplesItsCorners) {
  const Index n = 300;
  std::vector<float> a(n * n, 10.0f);
  // A patch only the upper-left corner box sees.
  for (Index y = 271; y <= 300; ++y)
    for (Index x = 1; x <= 29; ++x) a[element(x, y, n)] = 500.0f;
  float zmin = 0, zmax = 0;
  Status status = ST_GOOD();
  MA_DIFZSCALE(n, n, a, 1, 1, n, n, zmin, zmax, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(zmin, 10.0f);
  EXPECT_GT(zmax, 100.0f);
}

TEST(DisplayRange, ValuesThatAreNotFiniteTakeNoPart) {
  // One infinite pixel and a NaN row in the one box of a small region: the
  // range is that of the finite values, not an infinite end.
  const Index n = 40;
  std::vector<float> a(n * n);
  for (Index k = 0; k < n * n; ++k) a[static_cast<std::size_t>(k)] = static_cast<float>(k % 7);
  a[element(5, 5, n)] = INFINITY;
  for (Index x = 1; x <= n; ++x) a[element(x, 9, n)] = NAN;
  float zmin = -1, zmax = -1;
  Status status = ST_GOOD();
  MA_DIFZSCALE(n, n, a, 1, 1, n, n, zmin, zmax, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(zmin, 0.0f);
  EXPECT_EQ(zmax, 6.0f);
  // Nothing finite at all: no range is made up, the given one stays.
  const std::vector<float> none(n * n, NAN);
  zmin = 2.0f;
  zmax = 3.0f;
  MA_DIFZSCALE(n, n, none, 1, 1, n, n, zmin, zmax, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(zmin, 2.0f);
  EXPECT_EQ(zmax, 3.0f);
}

}  // namespace
}  // namespace kesta
