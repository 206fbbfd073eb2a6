#include "app/imageops/predictor.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

using Whole = std::int64_t;

std::vector<float> predict(int choice, int iterations, const std::vector<float>& row) {
  std::vector<float> out(row.size(), 0.0f);
  kzt_predict(choice, iterations, static_cast<Index>(row.size()), 1, 1,
              static_cast<Index>(row.size()), 1, row, out);
  return out;
}

TEST(Predictor, RoundingAndTruncationOfSingleRows) {
  const struct {
    int choice;
    std::vector<float> row, expected;
  } cases[] = {
      {1, {10, 12, 15}, {10, 2, 3}},
      {1, {0.4f, 2.5f, -2.5f}, {0.4f, 3, -6}},  // the first value is kept unrounded
      {8, {4, 6, 9, 9}, {5, -2, 4, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(predict(c.choice, 1, c.row), c.expected) << c.choice;
  // Negative sums divide toward zero: a = -3, b = 0 predicts -1 (x = 0 gives
  // 1).
  std::vector<float> block = {5, 0, -3, 0}, out(4);
  kzt_predict(2, 1, 2, 1, 1, 2, 2, block, out);
  EXPECT_EQ(out[3], 1.0f);
}

// The decoder: pixels in raster order from residuals and what is decoded.
std::vector<Whole> invert(int choice, Index nx, Index ny, const std::vector<float>& r) {
  std::vector<Whole> x(r.size());
  auto at = [&](Index i, Index j) -> Whole& { return x[static_cast<std::size_t>(i + j * nx)]; };
  auto res = [&](Index i, Index j) {
    return static_cast<Whole>(r[static_cast<std::size_t>(i + j * nx)]);
  };
  const bool uses_d = choice == 4 || choice == 11;
  for (Index j = 0; j < ny; ++j)
    for (Index i = 0; i < nx; ++i) {
      if (j == 0) {
        at(i, j) = i == 0 ? res(i, j) : res(i, j) + at(i - 1, j);
        continue;
      }
      const Whole b = at(i, j - 1);
      Whole p = b;
      if (i == 0) {
        if (uses_d && nx > 1) p = (b + at(1, j - 1)) / 2;
      } else {
        const Whole a = at(i - 1, j), c = at(i - 1, j - 1);
        const Whole d = i + 1 < nx ? at(i + 1, j - 1) : 0;
        const bool last = uses_d && i == nx - 1;
        switch (choice) {
          case 1:
            p = a;
            break;
          case 2:
            p = (a + b) / 2;
            break;
          case 3:
            p = (a + b + c) / 3;
            break;
          case 4:
            p = last ? (a + b + c) / 3 : (a + b + c + d) / 4;
            break;
          case 5:
            p = a + b - c;
            break;
          case 6:
            p = (3 * a + 3 * b - 2 * c) / 4;
            break;
          case 7:
            p = (2 * a + 2 * b - c) / 3;
            break;
          case 9:
            p = (a + b + 1) / 2;
            break;
          case 10:
            p = (a + b + c + 1) / 3;
            break;
          case 11:
            p = last ? (a + b + c + 1) / 3 : (a + b + c + d + 1) / 4;
            break;
        }
      }
      at(i, j) = res(i, j) + p;
    }
  return x;
}

// Undoes the pyramid of N passes (values not negative, so that P + Q is
// 2 a' or 2 a' + 1 by the parity of P - Q).
std::vector<Whole> invert_pyramid(int n, Index nx, Index ny, const std::vector<float>& r) {
  std::vector<Whole> m(r.begin(), r.end());
  auto at = [&](Index i, Index j) -> Whole& { return m[static_cast<std::size_t>(i + j * nx)]; };
  std::vector<std::pair<Index, Index>> steps;
  Index sx = 1, sy = 1;
  for (int k = 1; k <= n; ++k) {
    steps.emplace_back(sx, sy);
    if (k % 2 == 0) sx *= 2, sy *= 2;
  }
  if (n % 2 == 1) sx *= 2;
  Whole previous = 0;
  for (Index j = 0; j < ny; j += sy)
    for (Index i = 0; i < nx; i += sx) previous = at(i, j) += previous;
  auto unpair = [](Whole& first, Whole& second) {
    const Whole odd = second % 2 != 0 ? 1 : 0;
    const Whole s = first < 0 ? 2 * first - odd : 2 * first + odd;
    const Whole p = (s + second) / 2;
    second = p - second;
    first = p;
  };
  for (int k = n; k >= 1; --k) {
    const auto [px, py] = steps[static_cast<std::size_t>(k - 1)];
    if (k % 2 == 1) {
      for (Index j = 0; j < ny; j += py)
        for (Index i = 0; i + px < nx; i += 2 * px) unpair(at(i, j), at(i + px, j));
    } else {
      for (Index i = 0; i < nx; i += px)
        for (Index j = 0; j + py < ny; j += 2 * py) unpair(at(i, j), at(i, j + py));
    }
  }
  return m;
}

TEST(Predictor, EveryChoiceInvertsOnEveryWidth) {
  for (const auto& [nx, ny] : {std::pair<Index, Index>{1, 5}, {2, 4}, {7, 6}, {16, 9}}) {
    std::vector<float> image(static_cast<std::size_t>(nx * ny));
    unsigned seed = 11;
    for (float& v : image) {
      seed = seed * 1664525u + 1013904223u;
      v = static_cast<float>((seed >> 20) % 300);
    }
    const std::vector<Whole> expected(image.begin(), image.end());
    for (int choice = 1; choice <= 11; ++choice)
      for (int passes :
           choice == kPyramidPredictor ? std::vector<int>{1, 2, 3, 6} : std::vector<int>{1}) {
        SCOPED_TRACE(std::to_string(nx) + "x" + std::to_string(ny) + " choice " +
                     std::to_string(choice) + " passes " + std::to_string(passes));
        std::vector<float> residuals(image.size());
        kzt_predict(choice, passes, nx, 1, 1, nx, ny, image, residuals);
        EXPECT_EQ(choice == kPyramidPredictor ? invert_pyramid(passes, nx, ny, residuals)
                                              : invert(choice, nx, ny, residuals),
                  expected);
      }
  }
}

TEST(Predictor, QuestionsEscapeAndTheMemoryRegion) {
  constexpr Index kX = 6, kY = 4;
  std::vector<float> data(kX * kY, 3.0f), mdata(kX * kY, -1.0f), axis(kX, 0.5f), maxis(kX, 0.0f);
  Index ms = 0, mys = 0, me = 0, mye = 0;
  TerminalCapture terminal;
  for (const std::vector<std::string>& script :
       {std::vector<std::string>{"\\\\"}, {"8", "\\\\"}, {"12", "4", "1"}}) {
    kzt_forget_answers();
    ScriptedInput input(script);
    Status status = kStatusGood;
    KZT_PREDICTOR(false, kX, kY, 2, 2, 4, 3, axis, axis, data, ms, mys, me, mye, maxis, maxis,
                  mdata, status);
    EXPECT_EQ(status, kStatusGood);
  }
  // Only the last script, predictor 4 after a refused 12, changed the memory.
  EXPECT_EQ(me, 4);
  EXPECT_EQ(mye, 3);
  EXPECT_EQ(mdata[element(2, 2, kX)], 3.0f);
  EXPECT_EQ(mdata[element(3, 3, kX)], 0.0f);
  EXPECT_EQ(mdata[element(1, 1, kX)], -1.0f);
  EXPECT_EQ(mdata[element(5, 3, kX)], -1.0f);
  EXPECT_NE(terminal.text().find("Enter integer value within given range"), std::string::npos);
}

}  // namespace
