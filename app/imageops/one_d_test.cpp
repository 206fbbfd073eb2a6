#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/masks.hpp"
#include "app/imageops/one_d_mask.hpp"
#include "app/imageops/one_d_transforms.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

TEST(OneDTransform, PowersAndLogarithms) {
  const struct {
    OneDTransform t;
    float q, i, want_x, want_y;
  } cases[] = {
      {{1, 0, 1, false, false}, 0.3f, 7.0f, 0.3f, 7.0f},
      {{2, 1, 2, false, false}, 3.0f, 2.0f, 9.0f, 12.0f},
      {{1, 0, 1, true, true}, 100.0f, 0.0f, 2.0f, -30.0f},
      {{1, 2, 1, true, true}, 0.0f, 5.0f, -10.0f, -30.0f},
      {{-1, -2, -1, false, false}, 2.0f, 0.5f, 0.5f, 0.5f},
      {{-1, 0, 1, false, false}, 2.0f, 0.0f, 2.0f, 1.7e38f},
  };
  for (const auto& c : cases) {
    std::vector<float> q{c.q}, i{c.i};
    kzt_1d_transform(c.t, q, i);
    EXPECT_FLOAT_EQ(q[0], c.want_x) << c.t.a << c.t.b << c.t.c;
    EXPECT_FLOAT_EQ(i[0], c.want_y) << c.t.a << c.t.b << c.t.c;
  }
}

TEST(OneDTransform, ANonValueIsNoValueAfterwards) {
  const float nan = std::nanf(""), inf = INFINITY;
  const struct {
    OneDTransform t;
    float i;
    float want;  // NaN where the result must stay NaN
  } cases[] = {
      {{1, 0, 1, false, false}, nan, nan},    {{-1, 0, 1, false, false}, nan, nan},
      {{2, 1, 1, true, false}, nan, nan},     {{1, 0, 1, false, false}, inf, inf},
      {{-1, 0, 1, false, false}, inf, 0.0f},  {{-2, 0, 1, false, false}, 0.0f, 1.7e38f},
  };
  for (const auto& c : cases) {
    std::vector<float> q{2.0f}, i{c.i};
    kzt_1d_transform(c.t, q, i);
    if (std::isnan(c.want))
      EXPECT_TRUE(std::isnan(i[0])) << c.t.a << " " << i[0];
    else
      EXPECT_EQ(i[0], c.want) << c.t.a << " " << c.i;
  }
}

struct OneD : ::testing::Test {
  void SetUp() override {
    kesta::testing::reset_dialogue();
    kzt_forget_answers();
  }
};

TEST_F(OneD, InterpolationRescalesLinearlyAlongX) {
  std::vector<float> axis(101), data(202, 2.0f), yaxis(2, 0.5f);
  for (int k = 0; k < 101; ++k) axis[k] = static_cast<float>(k);
  {
    ScriptedInput input({"1", "100", "1.1"});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_1DINTERPOLATE(101, 2, 1, 2, 101, 2, axis, yaxis, data, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_FLOAT_EQ(data[101 + 1], 2.0f);    // x = 1
    EXPECT_FLOAT_EQ(data[101 + 100], 2.2f);  // x = 100
    EXPECT_FLOAT_EQ(data[101 + 50], 2.0f * (1.0f + 0.1f * 49.0f / 99.0f));
    EXPECT_FLOAT_EQ(data[0], 2.0f);  // another row
  }
  const std::vector<float> kept = data;
  for (const auto& answers : {std::vector<std::string>{"5", "5", "1.2"},  // refused
                              std::vector<std::string>{"1", "50", "1.0"},  // no change
                              std::vector<std::string>{"1", "\\\\"}}) {
    ScriptedInput input(answers);
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_1DINTERPOLATE(101, 2, 1, 2, 101, 2, axis, yaxis, data, status);
    EXPECT_EQ(data, kept) << answers[1];
  }
  Status status = kStatusGood;
  KZT_1DINTERPOLATE(101, 2, 1, 1, 101, 2, axis, yaxis, data, status);
  EXPECT_EQ(status, 110017);
}

// 1-D INTERPOLATION of an image is refused in one line before its questions,
// with the data left alone, not ended by a STATUS error. The keyboard
// command shows no box, with a window open too: nothing is drawn, nothing
// waits for a click while the terminal's lines queue.
class OneDCommand : public kesta::testing::DataSetFixture {};

TEST_F(OneDCommand, InterpolationRefusesAnImageBeforeAsking) {
  make(6, 4, false, false);
  const std::vector<float> kept(vosq_kzt_arrays.data, vosq_kzt_arrays.data + 24);
  std::vector<kesta::testing::PageItem> drawn;
  for (const bool window : {false, true}) {
    Status status = kStatusGood;
    if (window) {
      QG_OPEN(0, status);
      kesta::testing::open_page_recorder(1, &drawn);
    }
    ScriptedInput input({"1", "5", "1.1"});
    TerminalCapture terminal;
    std::string next;
    kzt_command_1dinterpolate(sets, next, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(terminal.text(), "WARNING: THE DATA IS NOT 1-D !\n");
    EXPECT_EQ(input.prompts.size(), 0u);
    EXPECT_EQ(std::vector<float>(vosq_kzt_arrays.data, vosq_kzt_arrays.data + 24), kept);
  }
  EXPECT_TRUE(drawn.empty());
  for (auto& d : qg_db_system.driver) d.reset();
  qg_db_system = QgDbSystem{};
}

TEST(OneDMaskRegion, RectanglesOnALineInLinearAndLogScale) {
  // A column of a 3 x 6 array: values 1, 10, 100, ... along Y.
  std::vector<float> data(18), axis(6);
  for (Index j = 1; j <= 6; ++j) {
    axis[j - 1] = static_cast<float>(j);
    data[element(2, j, 3)] = std::pow(10.0f, static_cast<float>(j - 1));
  }
  std::vector<std::uint8_t> mask(18);
  kzt_1d_mask_region(axis, 1, 6, data, mask, element(2, 1, 3), 3, 5.5f, 0.5f, 1.5f, 3.5f, true,
                     true);
  // X 2..5 with log values 0.5..3.5: j = 2, 3, 4.
  const std::vector<std::uint8_t> want{0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(mask, want);
  kzt_1d_mask_region(axis, 1, 6, data, mask, element(2, 1, 3), 3, 0.0f, 5.0f, 10.0f, 50.0f, false,
                     false);  // un-masks j = 2 (value 10)
  EXPECT_EQ(mask[element(2, 2, 3)], 0);
  EXPECT_EQ(mask[element(2, 3, 3)], 1);
}

struct OneDMenu : kesta::testing::PageFixture {
  void SetUp() override {
    PageFixture::SetUp();
    // A page that is not a window: widgets take typed answers, as in a replay.
    qg_db_system.category[0] = kCategoryPostScript;
    kesta::testing::reset_dialogue();
  }
};

TEST_F(OneDMenu, TheMaskMenuOfARowMasksRectangles) {
  constexpr Index kX = 20, kY = 3;
  std::vector<float> data(kX * kY, 5.0f), xaxis(kX), yaxis(kY);
  for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  std::vector<std::uint8_t> mask(kX * kY);
  Index xs = 1, ys = 2, xe = kX, ye = 2;
  ScriptedInput input({"MASK REGION", "2", "3.0", "0", "6.2", "10", "HELP", "O.K.", "EXIT"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_MASK(false, kX, kY, kX, kY, data, xaxis, yaxis, "t", "x", "y", "z", 0, 0, xs, ys, xe, ye,
           mask, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  for (Index i = 1; i <= kX; ++i)
    EXPECT_EQ(mask[element(i, 2, kX)], i >= 4 && i <= 6 ? 1 : 0) << i;
  EXPECT_NE(text("CONTROL RETURNED TO TERMINAL WINDOW"), nullptr);
  EXPECT_EQ(std::vector<Index>({xs, xe}), std::vector<Index>({1, kX}));
}

TEST_F(OneDMenu, TransformFormAppliesToTheRowOrIsCancelled) {
  std::vector<float> xaxis{1.0f, 10.0f, 100.0f}, data(6, 10.0f);
  for (const bool cancel : {true, false}) {
    ScriptedInput input(cancel ? std::vector<std::string>{"COEFF. A", "3", "CANCEL"}
                               : std::vector<std::string>{"COEFF. A", "2", "LOG I", "LOG X",
                                                          "O.K."});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_1DTRANSFORMS(3, 2, 1, 2, 3, 2, xaxis, data, status);
    EXPECT_EQ(status, cancel ? kStatusEscape : kStatusGood);
    EXPECT_EQ(input.remaining(), 0u);
    const std::vector<float> want_x = cancel ? std::vector<float>{1, 10, 100}
                                             : std::vector<float>{0, 1, 2};
    const std::vector<float> want_data =
        cancel ? std::vector<float>(6, 10.0f) : std::vector<float>{10, 10, 10, 2, 2, 2};
    EXPECT_EQ(xaxis, want_x);
    EXPECT_EQ(data, want_data);
  }
}

}  // namespace
