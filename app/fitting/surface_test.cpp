// The surface polynomial fitted to unmasked pixels, its failures, and the
// mask statistics.

#include "app/fitting/surface.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "app/fitting/fitting_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr Index kX = 30;
constexpr Index kY = 20;

TEST(Surface, FitsAPlaneUnderMaskedRubbishAndRefusesTooFewPoints) {
  const std::vector<float> ax = testing::centre_axis(kX), ay = testing::centre_axis(kY);
  std::vector<float> data(kX * kY);
  std::vector<std::uint8_t> mask(kX * kY, 0);
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) {
      const std::size_t k = static_cast<std::size_t>(element(x, y, kX));
      data[k] = 3.0f + 0.5f * (x - 0.5f) - 0.25f * (y - 0.5f) + 0.01f * (x - 0.5f) * (y - 0.5f);
      if (x > 20 && y < 5) {
        mask[k] = 1;
        data[k] = 1.0e6f;
      }
    }
  data[static_cast<std::size_t>(element(3, 3, kX))] = std::nanf("");
  SurfaceFit fit;
  int failure = -1;
  Status status = kStatusGood;
  KZT_FITCHEBYSHEV(kX, kY, 1, 1, kX, kY, data, ax, ay, mask, 1, 1, fit, failure, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_EQ(failure, 0);
  std::vector<float> surface(kX * kY, 0.0f);
  kzt_surface_image(false, fit, 1, 1, kX, kY, 1, 1, kX, kY, ax, ay, surface, status);
  for (Index y : {1, 10, 20})
    for (Index x : {1, 15, 30}) {
      const double expected = 3.0 + 0.5 * (x - 0.5) - 0.25 * (y - 0.5) + 0.01 * (x - 0.5) * (y - 0.5);
      EXPECT_NEAR(surface[static_cast<std::size_t>(element(x, y, kX))], expected, 1e-3);
    }
  // Everything masked: X fails; a single usable row cannot give a Y order 1.
  std::vector<std::uint8_t> all(kX * kY, 1);
  const SurfaceFit before = fit;
  KZT_FITCHEBYSHEV(kX, kY, 1, 1, kX, kY, data, ax, ay, all, 1, 1, fit, failure, status);
  EXPECT_EQ(failure, 1);
  for (Index x = 1; x <= kX; ++x) all[static_cast<std::size_t>(element(x, 7, kX))] = 0;
  KZT_FITCHEBYSHEV(kX, kY, 1, 1, kX, kY, data, ax, ay, all, 1, 1, fit, failure, status);
  EXPECT_EQ(failure, 2);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(fit.coeffs, before.coeffs);
}

TEST(Surface, OneColumnTakesTheBackgroundOfTheSameValuesAsARow) {
  // The same 40 values (a curved level, one masked, one no number) as a row
  // and as a column: each order the row takes in X, the column takes in Y,
  // and the surfaces agree pixel for pixel.
  constexpr Index kN = 40;
  const std::vector<float> axis = testing::centre_axis(kN), one = testing::centre_axis(1);
  std::vector<float> values(kN);
  std::vector<std::uint8_t> mask(kN, 0);
  for (Index i = 0; i < kN; ++i) {
    const float t = static_cast<float>(i) + 0.5f;
    values[static_cast<std::size_t>(i)] = 12.0f + 0.3f * t - 0.004f * t * t;
  }
  mask[9] = 1;
  values[9] = 1.0e6f;
  values[20] = std::nanf("");
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  for (const int order : {0, 1, 2}) {
    SurfaceFit row, column;
    int row_failure = -1, column_failure = -1;
    KZT_FITCHEBYSHEV(kN, 1, 1, 1, kN, 1, values, axis, one, mask, order, 0, row, row_failure,
                     status);
    KZT_FITCHEBYSHEV(1, kN, 1, 1, 1, kN, values, one, axis, mask, 0, order, column,
                     column_failure, status);
    ASSERT_EQ(status, kStatusGood);
    ASSERT_EQ(row_failure, 0) << order;
    ASSERT_EQ(column_failure, 0) << order;
    std::vector<float> along_row(kN), along_column(kN);
    kzt_surface_image(false, row, order, 0, kN, 1, 1, 1, kN, 1, axis, one, along_row, status);
    kzt_surface_image(false, column, 0, order, 1, kN, 1, 1, 1, kN, one, axis, along_column,
                      status);
    for (Index i = 0; i < kN; ++i) {
      EXPECT_NEAR(along_column[static_cast<std::size_t>(i)], along_row[static_cast<std::size_t>(i)],
                  1e-3f)
          << order << ", " << i;
    }
    if (order == 2) {
      EXPECT_NEAR(along_column[30], values[30], 1e-3f);
    }
  }
  // Across the column there is nothing to fit an order to, as across a row.
  SurfaceFit fit;
  int failure = -1;
  KZT_FITCHEBYSHEV(1, kN, 1, 1, 1, kN, values, one, axis, mask, 1, 0, fit, failure, status);
  EXPECT_EQ(failure, 1);
  KZT_FITCHEBYSHEV(kN, 1, 1, 1, kN, 1, values, axis, one, mask, 0, 1, fit, failure, status);
  EXPECT_EQ(failure, 2);
}

TEST(Surface, SurfaceCommandWarnsAndLeavesTheMemoryWhenItCannotFit) {
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  const KztArrays saved = vosq_kzt_arrays;
  KztArrays& a = vosq_kzt_arrays;
  Status status = kStatusGood;
  kzt_allocate_arrays(kX, kY, true, false, true, a, status);
  ASSERT_EQ(status, kStatusGood);
  a.xnumdat = a.xendelm = kX;
  a.ynumdat = a.yendelm = kY;
  for (Index i = 0; i < kX; ++i) a.xaxis[i] = i + 0.5f;
  for (Index i = 0; i < kY; ++i) a.yaxis[i] = i + 0.5f;
  KztDataSets sets;
  sets.mask_exist = true;
  std::fill_n(a.mask, kX * kY, 1);
  std::fill_n(a.mdata, kX * kY, -3.0f);
  bool written = true;
  {
    testing::ScriptedInput input({"1", "1"});
    KZT_CHEBYSHEV(sets, written, status);
  }
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FALSE(written);
  EXPECT_EQ(a.mdata[0], -3.0f);
  EXPECT_NE(terminal.text().find("WARNING: The polynomial could not be fitted in the X-direction owing"),
            std::string::npos);
  // One usable row: the Y direction is named.
  for (Index x = 0; x < kX; ++x) a.mask[x + kX * 4] = 0;
  {
    testing::ScriptedInput input({"1", "1"});
    KZT_CHEBYSHEV(sets, written, status);
  }
  EXPECT_NE(terminal.text().find("fitted in the Y-direction owing"), std::string::npos);
  // Non-finite pixels outside the mask are left out of the fit and counted.
  a.data[kX * 4 + 3] = std::nanf("");
  a.data[kX * 4 + 7] = INFINITY;
  a.data[kX * 6] = std::nanf("");  // masked: not counted
  {
    testing::ScriptedInput input({"1", "0"});
    KZT_CHEBYSHEV(sets, written, status);
  }
  EXPECT_TRUE(written);
  EXPECT_TRUE(terminal.text().find(
                  "INFO: 2 elements that are not finite numbers are left out of the fit") !=
              std::string::npos)
      << terminal.text();
  // Statistics of the wholly masked region and of an unmasked one.
  std::fill_n(a.mask, kX * kY, 1);
  KZT_MASKSTATS(kX, kY, 1, 1, kX, kY, kzt_mask(), status);
  EXPECT_NE(terminal.text().find("      Percentage of masked elements = 100.0000000"),
            std::string::npos);
  KZT_MASKSTATS(kX, kY, 1, 1, kX, kY, {}, status);
  EXPECT_NE(terminal.text().find("      Percentage of masked elements =  0.00000000"),
            std::string::npos);
  EXPECT_EQ(status, kStatusGood);
  kzt_free_arrays(a, status);
  vosq_kzt_arrays = saved;
  testing::reset_dialogue();
}

}  // namespace
}  // namespace kesta
