#include "app/imageops/geometric_transforms.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

class Transforms : public kesta::testing::DataSetFixture {
 protected:
  void SetUp() override {
    DataSetFixture::SetUp();
    kzt_forget_answers();
  }
  // A new data set; the arrays of the last one are freed.
  void fresh(Index xmax, Index ymax, bool memory, bool variances) {
    Status status = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, status);
    make(xmax, ymax, memory, variances);
  }
  // Runs a keyboard branch with ANSWERS; returns the proposed next command.
  std::string run(void (*command)(KztDataSets&, std::string&, Status&),
                  std::vector<std::string> answers, Status expected = kStatusGood) {
    ScriptedInput input(std::move(answers));
    std::string next = "IMAGE";
    Status status = kStatusGood;
    command(sets, next, status);
    EXPECT_EQ(status, expected);
    EXPECT_EQ(input.remaining(), 0u);
    prompts = input.prompts;
    return next;
  }
  std::vector<float> image(const float* array) const {
    const KztArrays& a = vosq_kzt_arrays;
    return std::vector<float>(array, array + a.xmaxdat * a.ymaxdat);
  }
  static double sum(const float* array, Index xs, Index ys, Index xe, Index ye) {
    double s = 0.0;
    for (Index y = ys; y <= ye; ++y)
      for (Index x = xs; x <= xe; ++x) s += at(array, x, y);
    return s;
  }

  std::vector<std::string> prompts;
  TerminalCapture terminal;
};

TEST_F(Transforms, RebinByWholeFactorsSumsBlocksIntoTheMemory) {
  fresh(4, 4, true, true);
  EXPECT_EQ(run(kzt_rebin_command, {"2", "2", "1", "1"}), "EXCHANGE");
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(at(a.mdata, 1, 1), 11 + 12 + 21 + 22);
  EXPECT_EQ(at(a.mdata, 2, 2), 33 + 34 + 43 + 44);
  EXPECT_EQ(at(a.mvariances, 2, 1), 4 + 5 + 5 + 6);
  EXPECT_EQ(a.mxaxis[0], 1.0f);
  EXPECT_EQ(a.myaxis[1], 3.0f);
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mxnumdat, 2);
  EXPECT_EQ(sets.myendelm, 2);
  EXPECT_FLOAT_EQ(sets.mx_pixel_size, 2.0e-4f);
  EXPECT_EQ(sets.mtitle, "CURRENT");
}

TEST_F(Transforms, RebinByARealFactorRescalesAboutTheReferenceAndConserves) {
  fresh(6, 6, true, false);
  run(kzt_rebin_command, {"1.5", "1.5", "0", "0", "1", "1", "6", "6"});
  EXPECT_EQ(prompts[2], "X-REFERENCE POSITION FOR SCALING [0.0]:");
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_NEAR(sum(a.mdata, 1, 1, 6, 6), sum(a.data, 1, 1, 6, 6), 1e-2);
  EXPECT_EQ(at(a.mdata, 5, 5), 0.0f);  // the image now ends at pixel 4
  EXPECT_EQ(a.mxaxis[5], 5.5f);
  EXPECT_FLOAT_EQ(sets.my_pixel_size, 1.5e-4f);
}

TEST_F(Transforms, RebinRefusalsAndEscapesLeaveTheMemoryAlone) {
  fresh(4, 4, true, true);
  const std::vector<float> before = image(vosq_kzt_arrays.mdata);
  // Escape: STATUS good again; an output beyond the arrays: refused.
  run(kzt_rebin_command, {"2", "\\\\"}, kStatusGood);
  run(kzt_rebin_command, {"1", "1", "3", "1"});
  EXPECT_NE(terminal.text().find("WARNING: The re-binned region does not fit"), std::string::npos);
  EXPECT_EQ(image(vosq_kzt_arrays.mdata), before);
  EXPECT_FALSE(sets.memory_defined);
}

TEST_F(Transforms, TransposeRefusesRegionsThatDoNotFitAndSwapsOtherwise) {
  const struct {
    Index xmax, ymax, xe, ye;
    const char* first_line;  // nullptr: transposed
  } cases[] = {
      {8, 16, 8, 12,
       "WARNING: The operation is not possible because the second dimension of\n"
       "         the work arrays is not large enough to contain the transposed\n"
       "         X-limit of the ADR\n"},
      {16, 8, 12, 8,
       "WARNING: The operation is not possible because the first dimension of\n"
       "         the work arrays is not large enough to contain the transposed\n"
       "         Y-limit of the ADR\n"},
      {8, 16, 8, 6, nullptr},
  };
  for (const auto& c : cases) {
    fresh(c.xmax, c.ymax, true, true);
    region(1, 1, c.xe, c.ye);
    sets.xlabel = "Columns";
    sets.ylabel = "Rows";
    const std::vector<float> before = image(vosq_kzt_arrays.mdata);
    const std::string next = run(kzt_transpose_command, {});
    const KztArrays& a = vosq_kzt_arrays;
    if (c.first_line != nullptr) {
      EXPECT_EQ(next, "ROI");
      EXPECT_NE(terminal.text().find(c.first_line), std::string::npos) << terminal.text();
      EXPECT_EQ(image(a.mdata), before);
      EXPECT_FALSE(sets.memory_defined);
      continue;
    }
    EXPECT_EQ(next, "EXCHANGE");
    for (Index y = 1; y <= c.ye; ++y)
      for (Index x = 1; x <= c.xe; ++x) {
        EXPECT_EQ(at(a.mdata, y, x), at(a.data, x, y));
        EXPECT_EQ(at(a.mvariances, y, x), at(a.variances, x, y));
      }
    EXPECT_EQ(sets.mxnumdat, c.ye);
    EXPECT_EQ(sets.mynumdat, c.xe);
    EXPECT_EQ(sets.mxlabel, "Rows");
    EXPECT_EQ(sets.mylabel, "Columns");
    EXPECT_EQ(a.mxaxis[5], a.yaxis[5]);
  }
}

TEST_F(Transforms, ExtendClearsTheNewElementsAndContinuesTheAxes) {
  const struct {
    Index xnum, ynum;
    const char* nx;
    const char* ny;
    float xaxis_last;  // value of the new last X axis element
  } cases[] = {{4, 3, "5", "6", 12.0f}, {1, 3, "", "", 5.0f}, {4, 3, "4", "3", 9.0f}};
  for (const auto& c : cases) {
    fresh(6, 6, true, true);
    KztArrays& a = vosq_kzt_arrays;
    for (int i = 0; i < 6; ++i) a.xaxis[i] = 3.0f * static_cast<float>(i);
    a.xnumdat = c.xnum;
    a.ynumdat = c.ynum;
    region(1, 1, c.xnum, c.ynum);
    const std::vector<float> data = image(a.data);
    run(kzt_extend_command, {c.nx, c.ny});
    EXPECT_EQ(a.xaxis[a.xnumdat - 1], c.xaxis_last);
    EXPECT_EQ(a.xendelm, a.xnumdat);
    EXPECT_EQ(a.yendelm, a.ynumdat);
    for (Index y = 1; y <= 6; ++y)
      for (Index x = 1; x <= 6; ++x) {
        const bool old = x <= c.xnum && y <= c.ynum;
        const bool added = !old && x <= a.xnumdat && y <= a.ynumdat;
        EXPECT_EQ(at(a.data, x, y), added ? 0.0f : data[element(x, y, 6)]) << x << "," << y;
        if (added) {
          EXPECT_EQ(at(a.variances, x, y), 0.0f);
        }
      }
  }
  // Without data only the proposed command changes.
  fresh(3, 3, true, false);
  sets.data_defined = false;
  EXPECT_EQ(run(kzt_extend_command, {}), "IMAGE");
}

TEST_F(Transforms, MoveTranslatesByWholePixelsInAxisUnits) {
  const struct {
    float step;
    const char* xshift;
    const char* yshift;
    const char* subpixels;
    Index dx, dy;
  } cases[] = {
      {1.0f, "2", "1", "0", 2, 1}, {2.0f, "4", "-2", "0", 2, -1}, {1.0f, "-1", "3", "1", -1, 3}};
  for (const auto& c : cases) {
    fresh(6, 6, true, true);
    KztArrays& a = vosq_kzt_arrays;
    for (int i = 0; i < 6; ++i) a.xaxis[i] = a.yaxis[i] = c.step * (static_cast<float>(i) + 0.5f);
    EXPECT_EQ(run(kzt_move_command, {"", "0", c.xshift, c.yshift, c.subpixels, "", "", "", ""}),
              "EXCHANGE");
    for (Index y = 1; y <= 6; ++y)
      for (Index x = 1; x <= 6; ++x) {
        const Index xi = x - c.dx, yi = y - c.dy;
        const bool inside = xi >= 1 && xi <= 6 && yi >= 1 && yi <= 6;
        EXPECT_NEAR(at(a.mdata, x, y), inside ? at(a.data, xi, yi) : 0.0f, 1e-3) << x << "," << y;
        EXPECT_NEAR(at(a.mvariances, x, y), inside ? at(a.variances, xi, yi) : 0.0f, 1e-3);
      }
    EXPECT_EQ(a.mxaxis[5], a.xaxis[5]);
    EXPECT_EQ(sets.mxnumdat, 6);
    EXPECT_TRUE(sets.memory_defined);
  }
}

TEST_F(Transforms, MoveRotatesAboutTheRegionMiddleOrThroughTwoPointPairs) {
  // A quarter turn about (3, 3): pixel (x, y) lands on (7 - y, x).
  fresh(6, 6, true, false);
  const KztArrays& a = vosq_kzt_arrays;
  run(kzt_move_command, {"YES", "90", "", "", "0", "0", "", "", "", "", ""});
  EXPECT_EQ(prompts[2], "X CENTRE ROTATION [3.000000]:");
  for (Index y = 1; y <= 6; ++y)
    for (Index x = 1; x <= 6; ++x) EXPECT_NEAR(at(a.mdata, 7 - y, x), at(a.data, x, y), 1e-3);
  // (1, 1)-(3, 1) onto (2, 2)-(2, 4): a quarter turn about (2, 1), then (0, 2).
  run(kzt_move_command, {"NO", "1", "1", "3", "1", "2", "2", "2", "4", "0", "", "", "", ""});
  EXPECT_NE(terminal.text().find(
                "INFO: Estimated distance error at transformation coordinates =   0.0000\n"),
            std::string::npos);
  EXPECT_NEAR(at(a.mdata, 3, 2), at(a.data, 1, 1), 1e-3);
  EXPECT_NEAR(at(a.mdata, 2, 4), at(a.data, 3, 2), 1e-3);
}

TEST_F(Transforms, ReflectInAVerticalLineMirrorsTheRegionWhateverTheSubPixels) {
  for (const char* subpixels : {"", "7", "1"}) {
    fresh(6, 6, true, true);
    const KztArrays& a = vosq_kzt_arrays;
    run(kzt_reflect_command, {"3", "0", "3", "6", subpixels});
    EXPECT_EQ(prompts.back(), "SUB-PIXELS (Range: 0 to 100) [2]:");
    for (Index y = 1; y <= 6; ++y)
      for (Index x = 1; x <= 6; ++x) {
        EXPECT_NEAR(at(a.mdata, x, y), at(a.data, 7 - x, y), 1e-3) << subpixels;
        EXPECT_NEAR(at(a.mvariances, x, y), at(a.variances, 7 - x, y), 1e-3);
      }
    EXPECT_TRUE(sets.memory_defined);
    EXPECT_EQ(sets.mynumdat, 6);
  }
  EXPECT_NE(terminal.text().find("      Elapse time (seconds) for transformation = "),
            std::string::npos);
}

TEST_F(Transforms, EscapesAndRefusalsInTheMemoryWritersLeaveTheMemoryAlone) {
  using Command = void (*)(KztDataSets&, std::string&, Status&);
  const struct {
    Command command;
    std::vector<std::string> answers;
    Status status;
  } cases[] = {
      {kzt_move_command, {"", "10", "", "", "", "", "\\\\"}, kStatusEscape},
      {kzt_reflect_command, {"1", "1", "\\\\"}, kStatusEscape},
      // Two equal points define no line.
      {kzt_reflect_command, {"1", "1", "1", "1", ""}, kStatusGood},
  };
  for (const auto& c : cases) {
    fresh(4, 4, true, true);
    const std::vector<float> before = image(vosq_kzt_arrays.mdata);
    run(c.command, c.answers, c.status);
    EXPECT_EQ(image(vosq_kzt_arrays.mdata), before);
    EXPECT_FALSE(sets.memory_defined);
  }
}

// The control form as the graphical interface would fill it in: records
// what it was offered and answers with a quarter turn, or cancels.
KztTransformForm offered;
bool cancel_form = false;
void quarter_turn_form(KztTransformForm& fields, Status& status) {
  offered = fields;
  if (cancel_form) {
    status = kStatusEscape;
    return;
  }
  fields.angle = 90.0f;
  fields.x_pixel_size = fields.y_pixel_size = 5.0e-5f;
}

TEST_F(Transforms, TransformTakesTheFormsAnswersAndEscapesChangeNothing) {
  fresh(6, 6, true, false);
  KztArrays& a = vosq_kzt_arrays;
  for (int i = 0; i < 6; ++i) a.xaxis[i] = 10.0f + 2.0f * static_cast<float>(i);
  const std::vector<float> before = image(a.mdata);
  for (const bool cancel : {true, false}) {
    cancel_form = cancel;
    KztMemoryExtent m;
    Status status = kStatusGood;
    KZT_TRANSFORM(quarter_turn_form, 6, 6, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                  kzt_image(a.data), 1, 1, 6, 6, sets.x_pixel_size, sets.y_pixel_size,
                  kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata), m, status);
    EXPECT_EQ(offered.xcentre, 3.0f);
    EXPECT_EQ(offered.oxendelm, 6);
    if (cancel) {
      EXPECT_EQ(status, kStatusEscape);
      EXPECT_EQ(image(a.mdata), before);
      continue;
    }
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(m.xnumdat, 6);
    EXPECT_FLOAT_EQ(sets.x_pixel_size, 5.0e-5f);
    EXPECT_EQ(a.mxaxis[5], 20.0f);
    for (Index y = 1; y <= 6; ++y)
      for (Index x = 1; x <= 6; ++x) EXPECT_NEAR(at(a.mdata, 7 - y, x), at(a.data, x, y), 1e-3);
  }
}

TEST(AxisConversions, StepsAndPixelCoordinates) {
  const std::vector<float> axis = {1.0f, 3.0f, 5.0f, 7.0f};
  EXPECT_EQ(kzt_axis_step(axis, 2, 4), 2.0f);
  EXPECT_EQ(kzt_axis_step(axis, 4, 4), 2.0f);
  EXPECT_EQ(kzt_axis_step(axis, 1, 1), 1.0f);
  EXPECT_FLOAT_EQ(kzt_pixel_coordinate(axis, 4, 3.0f), 1.5f);
  EXPECT_FLOAT_EQ(kzt_pixel_coordinate(axis, 4, -3.0f), -1.5f);  // beyond the data, not clamped
  EXPECT_FLOAT_EQ(kzt_pixel_coordinate(axis, 4, 11.0f), 5.5f);
}

}  // namespace
