#include "app/imageops/value_arithmetic.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "numeric/region_ops.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

constexpr Index kX = 4;
constexpr Index kY = 3;
const std::string kEscape = "\\\\";

// Data 1..12 (X fastest), variances 2, memory 2, memory variances 1; the
// region is 2..3 by 2..3.
struct Images {
  std::vector<float> data, variances, mdata, mvariances;
  Images()
      : data(kX * kY), variances(kX * kY, 2.0f), mdata(kX * kY, 2.0f), mvariances(kX * kY, 1.0f) {
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i + 1);
  }
  float& at(std::vector<float>& a, Index x, Index y) { return a[element(x, y, kX)]; }
};

bool inside(Index x, Index y) { return x >= 2 && x <= 3 && y >= 2 && y <= 3; }

class ValueArithmetic : public ::testing::Test {
 protected:
  void SetUp() override {
    kesta::testing::reset_dialogue();
    kzt_forget_answers();
  }
  void TearDown() override { kesta::testing::reset_dialogue(); }
};

using Operation = std::function<void(Images&, Status&)>;

const struct Named {
  const char* name;
  Operation run;
} kOperations[] = {
    {"CADD", [](Images& m, Status& s) { KZT_CADD(kX, kY, 2, 2, 3, 3, m.data, s); }},
    {"CMULT",
     [](Images& m, Status& s) { KZT_CMULT(kX, kY, 2, 2, 3, 3, true, m.data, m.variances, s); }},
    {"CDIV",
     [](Images& m, Status& s) { KZT_CDIV(kX, kY, 2, 2, 3, 3, true, m.data, m.variances, s); }},
    {"LOGARITHM",
     [](Images& m, Status& s) {
       KZT_LOGARITHM(false, kX, kY, 2, 2, 3, 3, true, m.data, m.variances, s);
     }},
    {"POWER",
     [](Images& m, Status& s) {
       KZT_POWER(false, kX, kY, 2, 2, 3, 3, true, m.data, m.variances, s);
     }},
    {"THRESHOLD",
     [](Images& m, Status& s) { KZT_THRESHOLD(false, kX, kY, 2, 2, 3, 3, m.data, s); }},
    {"SELECTPIXEL", [](Images& m, Status& s) { KZT_SELECTPIXEL(kX, kY, 2, 2, 3, 3, m.data, s); }},
    {"OFFSET", [](Images& m, Status& s) { KZT_OFFSET(kX, kY, 2, 2, 3, 3, m.data, m.mdata, s); }},
};

// Element-wise results: the answers, then the expected data and variance of
// a region element from its old value (outside the region nothing changes).
TEST_F(ValueArithmetic, ElementWiseResultsAndVariances) {
  const struct {
    const char* name;
    std::vector<std::string> answers;
    std::function<float(float)> data;
    std::function<float(float)> variance;
  } cases[] = {
      {"CADD", {"2.5"}, [](float v) { return v + 2.5f; }, [](float) { return 2.0f; }},
      {"CADD", {"0"}, [](float v) { return v; }, [](float) { return 2.0f; }},
      {"CMULT", {"3"}, [](float v) { return v * 3.0f; }, [](float) { return 18.0f; }},
      {"CMULT", {"1"}, [](float v) { return v; }, [](float) { return 2.0f; }},
      {"CDIV", {"4"}, [](float v) { return v * 0.25f; }, [](float) { return 0.125f; }},
      {"CDIV", {"1"}, [](float v) { return v; }, [](float) { return 2.0f; }},
      {"LOGARITHM",
       {},
       [](float v) { return std::log10(v); },
       [](float v) { return 2.0f / (v * v) * kLog10VarianceFactor; }},
      {"POWER", {"3"}, [](float v) { return v * v * v; }, [](float) { return 2.0f; }},
      {"THRESHOLD",
       {"7", "10"},
       [](float v) { return std::clamp(v, 7.0f, 10.0f); },
       [](float) { return 2.0f; }},
      // Equal values are never selected.
      {"SELECTPIXEL",
       {"YES", "7", "NO", "100"},
       [](float v) { return v > 7.0f ? v + 100 : v; },
       [](float) { return 2.0f; }},
      {"SELECTPIXEL",
       {"NO", "7", "YES", "-1"},
       [](float v) { return v < 7.0f ? -v : v; },
       [](float) { return 2.0f; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + (c.answers.empty() ? "" : c.answers[0]));
    kzt_forget_answers();
    Images before, m;
    ScriptedInput input(c.answers);
    TerminalCapture terminal;
    Status status = kStatusGood;
    for (const auto& op : kOperations)
      if (std::string(op.name) == c.name) op.run(m, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u);
    EXPECT_EQ(terminal.text().find("WARNING"), std::string::npos);
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) {
        const float was = before.at(before.data, x, y);
        EXPECT_FLOAT_EQ(m.at(m.data, x, y), inside(x, y) ? c.data(was) : was) << x << "," << y;
        EXPECT_FLOAT_EQ(m.at(m.variances, x, y), inside(x, y) ? c.variance(was) : 2.0f);
      }
  }
}

TEST_F(ValueArithmetic, AnEscapeAtAnyQuestionChangesNothing) {
  const std::vector<std::vector<std::string>> scripts = {{kEscape},
                                                         {"YES", kEscape},
                                                         {"YES", "1", kEscape},
                                                         {"NO", "1", "YES", kEscape},
                                                         {"YES", "2", "0", kEscape}};
  for (const auto& op : kOperations)
    for (const auto& script : scripts) {
      SCOPED_TRACE(std::string(op.name) + " " + std::to_string(script.size()));
      Images before, m;
      m.at(m.data, 2, 2) = 0.0f;  // LOGARITHM asks its threshold first
      before.at(before.data, 2, 2) = 0.0f;
      ScriptedInput input(script);
      TerminalCapture terminal;
      Status status = kStatusGood;
      op.run(m, status);
      if (status == kStatusGood) continue;  // fewer questions than the script
      EXPECT_EQ(status, kStatusEscape);
      EXPECT_EQ(m.data, before.data);
      EXPECT_EQ(m.variances, before.variances);
    }
}

TEST_F(ValueArithmetic, CdivideOffersTheReciprocalAndRefusesZero) {
  Images m;
  {
    ScriptedInput input({"4"});
    Status status = kStatusGood;
    KZT_CDIV(kX, kY, 1, 1, kX, kY, false, m.data, m.variances, status);
  }
  ScriptedInput input({"", "0"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_CDIV(kX, kY, 1, 1, kX, kY, false, m.data, m.variances, status);
  EXPECT_EQ(input.prompts.at(0), "DIVISION CONSTANT [0.250000]:");
  EXPECT_EQ(m.data, Images().data);
  KZT_CDIV(kX, kY, 1, 1, kX, kY, false, m.data, m.variances, status);
  EXPECT_EQ(terminal.text(), "WARNING: Not possible to divide by zero\n");
  EXPECT_EQ(m.data, Images().data);
}

TEST_F(ValueArithmetic, DivideByZeroMarksTheElementsAndReportsIt) {
  Images m;
  m.at(m.mdata, 2, 3) = 0.0f;
  Status status = kStatusGood;
  KZT_DIVIDE(kX, kY, 2, 2, 3, 3, true, m.mdata, m.mvariances, m.data, m.variances, status);
  EXPECT_EQ(ST_ERRORCODE(status), 1003);
  EXPECT_EQ(m.at(m.data, 2, 3), kDivideByZero);
  EXPECT_EQ(m.at(m.variances, 2, 3), kDivideByZero);
  // 7 / 2 with variances 2 and 1: (3.5^2 x 1 + 2) / 4.
  EXPECT_FLOAT_EQ(m.at(m.data, 3, 2), 3.5f);
  EXPECT_FLOAT_EQ(m.at(m.variances, 3, 2), (3.5f * 3.5f + 2.0f) / 4.0f);
  EXPECT_EQ(m.at(m.data, 1, 1), 1.0f);
  Images plain;
  plain.at(plain.mdata, 2, 3) = 0.0f;
  status = kStatusGood;
  KZT_DIVIDE(kX, kY, 2, 2, 3, 3, false, plain.mdata, plain.mvariances, plain.data, plain.variances,
             status);
  EXPECT_EQ(ST_ERRORCODE(status), 1003);
  EXPECT_EQ(plain.variances, Images().variances);
}

// The report of a division by zero names the routine that met it: not
// MA_LOGARITHM, whose log(0) an earlier LOGARITHM foresaw and cleared with its
// threshold, and with variances KZT_DIVIDE itself, in the application module.
TEST_F(ValueArithmetic, DivideByZeroIsReportedWhereItWasMet) {
  for (const bool variances : {false, true}) {
    SCOPED_TRACE(variances);
    Status status = kStatusGood;
    st_reset(status);
    Images m;
    m.at(m.data, 2, 2) = 0.0f;
    ScriptedInput input({"-5"});
    KZT_LOGARITHM(false, kX, kY, 2, 2, 3, 3, variances, m.data, m.variances, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(input.prompts.size(), 1u);
    EXPECT_EQ(st_position(), "");
    m.at(m.mdata, 3, 3) = 0.0f;
    KZT_DIVIDE(kX, kY, 2, 2, 3, 3, variances, m.mdata, m.mvariances, m.data, m.variances, status);
    EXPECT_EQ(ST_ERRORCODE(status), 1003);
    EXPECT_EQ(st_position(),
              variances ? "Subroutine KZT_DIVIDE V0.1" : "Subroutine MA_RDIVIDE V0.1");
    EXPECT_EQ(st_module_text(status),
              variances ? "KESTA (KZT): 2-D fitting module" : "MA: Mathematics");
    st_reset(status);
  }
}

TEST_F(ValueArithmetic, LogarithmOfZeroAsksOneThresholdAndBoundsTheVariances) {
  Images m;
  m.at(m.data, 2, 2) = 0.0f;
  m.at(m.data, 3, 2) = -5.0f;
  m.at(m.data, 3, 3) = 1.0e-20f;  // x squared underflows a float
  ScriptedInput input({""});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_LOGARITHM(false, kX, kY, 2, 2, 3, 3, true, m.data, m.variances, status);
  EXPECT_EQ(status, kStatusGood);
  ASSERT_EQ(input.prompts.size(), 1u);
  EXPECT_EQ(input.prompts[0], "LOWER THRESHOLD [-10.00000]:");
  EXPECT_EQ(m.at(m.data, 2, 2), -10.0f);
  EXPECT_EQ(m.at(m.data, 3, 2), -10.0f);
  EXPECT_FLOAT_EQ(m.at(m.data, 3, 3), -10.0f);
  EXPECT_FLOAT_EQ(m.at(m.variances, 2, 2), 10.0f * kLog10VarianceFactor);
  EXPECT_FLOAT_EQ(m.at(m.variances, 3, 3), 10.0f * kLog10VarianceFactor);
  EXPECT_FLOAT_EQ(m.at(m.data, 2, 3), std::log10(10.0f));
}

// A NaN pixel is no log(0): it asks no threshold and stays NaN, with and
// without variances.
TEST_F(ValueArithmetic, LogarithmOfANaNAsksNothingAndLeavesItNaN) {
  for (const bool variances : {false, true}) {
    Images m;
    m.at(m.data, 2, 2) = std::nanf("");
    ScriptedInput input({});
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_LOGARITHM(false, kX, kY, 2, 2, 3, 3, variances, m.data, m.variances, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_TRUE(input.prompts.empty()) << variances;
    EXPECT_TRUE(std::isnan(m.at(m.data, 2, 2))) << variances;
    EXPECT_FLOAT_EQ(m.at(m.data, 3, 3), std::log10(11.0f));
  }
}

TEST_F(ValueArithmetic, NormaliseDividesByTheMaximumOrRefusesATinyOne) {
  Images m;
  Status status = kStatusGood;
  KZT_NORMALISE(kX, kY, 2, 2, 3, 3, true, m.data, m.variances, status);
  EXPECT_FLOAT_EQ(m.at(m.data, 3, 3), 1.0f);
  EXPECT_FLOAT_EQ(m.at(m.data, 2, 2), 6.0f / 11.0f);
  EXPECT_FLOAT_EQ(m.at(m.variances, 2, 2), 2.0f / 121.0f);
  for (float& v : m.data) v = -v;
  const std::vector<float> before = m.data;
  TerminalCapture terminal;
  KZT_NORMALISE(kX, kY, 2, 2, 3, 3, true, m.data, m.variances, status);
  EXPECT_EQ(terminal.text(),
            "WARNING: The maximum value in ADR is too small (<1.0e-19) or\n"
            "         negative to be used for normalisation\n"
            "         Maximum element value = -5.45455E-01\n");
  EXPECT_EQ(m.data, before);
}

// An infinite pixel stays out of the maximum; data without a finite value
// are refused with a message that says so.
TEST_F(ValueArithmetic, NormaliseUsesTheFiniteMaximum) {
  Images m;
  m.at(m.data, 2, 2) = INFINITY;
  m.at(m.data, 3, 2) = 4.0f;
  m.at(m.data, 2, 3) = 2.0f;
  m.at(m.data, 3, 3) = NAN;
  Status status = kStatusGood;
  KZT_NORMALISE(kX, kY, 2, 2, 3, 3, false, m.data, m.variances, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(m.at(m.data, 3, 2), 1.0f);
  EXPECT_EQ(m.at(m.data, 2, 3), 0.5f);
  EXPECT_EQ(m.at(m.data, 2, 2), INFINITY);

  m.at(m.data, 2, 2) = NAN;
  m.at(m.data, 3, 2) = INFINITY;
  m.at(m.data, 2, 3) = -INFINITY;
  const std::vector<float> before = m.data;
  TerminalCapture terminal;
  KZT_NORMALISE(kX, kY, 2, 2, 3, 3, true, m.data, m.variances, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(terminal.text(),
            "WARNING: No finite value was found in ADR to be used for normalisation\n");
  EXPECT_EQ(std::memcmp(m.data.data(), before.data(), before.size() * sizeof(float)), 0);
}

TEST_F(ValueArithmetic, PowerWarnsOfNegativeRootsAndZeroDivision) {
  Images m;
  m.at(m.data, 2, 2) = -4.0f;
  m.at(m.data, 3, 2) = 0.0f;
  ScriptedInput input({"-0.5"});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_POWER(false, kX, kY, 2, 2, 3, 3, true, m.data, m.variances, status);
  EXPECT_EQ(terminal.text(),
            "WARNING: Attempt to take square root on one or more\n"
            "         negative numbers. values set to 0.0\n"
            "WARNING: Attempt to divide by zero.\n"
            "         Values set to 1.7e38\n");
  EXPECT_EQ(m.at(m.data, 2, 2), 0.0f);
  EXPECT_EQ(m.at(m.data, 3, 2), kVeryLarge);
}

TEST_F(ValueArithmetic, ThresholdMaximumFollowsAMinimumAboveIt) {
  Images m;
  {
    ScriptedInput input({"0", "5"});
    Status status = kStatusGood;
    KZT_THRESHOLD(false, kX, kY, 1, 1, kX, kY, m.data, status);
  }
  ScriptedInput input({"8", "7", ""});
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_THRESHOLD(false, kX, kY, 1, 1, kX, kY, m.data, status);
  ASSERT_EQ(input.prompts.size(), 3u);
  EXPECT_NE(input.prompts[1].find("[9.000000]"), std::string::npos) << input.prompts[1];
  EXPECT_NE(terminal.text().find("Must be greater of equal to the lower threshold"),
            std::string::npos);
  for (float v : m.data) EXPECT_GE(v, 8.0f);
}

TEST_F(ValueArithmetic, SelectPixelOffersTheOverloadValue) {
  int retstat = 0;
  Status status = kStatusGood;
  IO_SET_RKEYVALUE("#OVERLOAD_VALUE", 9.0f, retstat, status);
  Images m;
  ScriptedInput input({"YES", "", "YES", "0"});
  KZT_SELECTPIXEL(kX, kY, 1, 1, kX, kY, m.data, status);
  EXPECT_EQ(input.prompts.at(1), "DECISION PIXEL VALUE [9.000000]:");
  EXPECT_EQ(m.at(m.data, 1, 3), 9.0f);
  EXPECT_EQ(m.at(m.data, 2, 3), 0.0f);
}

// A = s (B - o) + o with s = 2, o = 50 inside the limits; one pixel beyond a
// limit must be ignored by both paths.
TEST_F(ValueArithmetic, OffsetAndScaleOfTwoImages) {
  Images m;
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) {
      const float b = 100.0f + 10.0f * static_cast<float>(element(x, y, kX));
      m.at(m.mdata, x, y) = b;
      m.at(m.data, x, y) = 2.0f * (b - 50.0f) + 50.0f;
    }
  m.at(m.data, 4, 3) = 5000.0f;
  const struct {
    std::vector<std::string> answers;
    const char* text;
  } cases[] = {
      {{"YES", "2", "0", "1000", "0", "1000"},
       "INFO: Scaling factor =     2.0000\nINFO: Offset =     50.000\n"},
      {{"NO", "260", "0", "1000", "0", "1000"},
       "INFO: Scaling factor =     2.0000\nINFO: Offset =     50.000\n"},
      {{"YES", "1", "0", "1000", "0", "1000"},
       "WARNING: The offset is undefined for a scale factor of 1.0\n"},
      {{"NO", "260", "0", "1000", "0", "100"},
       "WARNING: Not possible, try different separation value\n"},
      {{"YES", "2", "0", "1", "0", "1000"}, "WARNING: Range contains no values\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers[0] + " " + c.answers[1] + " " + c.answers[5]);
    ScriptedInput input(c.answers);
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_OFFSET(kX, kY, 1, 1, kX, kY, m.data, m.mdata, status);
    EXPECT_EQ(status, kStatusGood);
    const std::string text = terminal.text();
    EXPECT_TRUE(text.ends_with("(Range: 0.0 to 1.700000E+38)\n" + std::string(c.text))) << text;
  }
}

TEST_F(ValueArithmetic, RegionBeyondTheArraysIsRefused) {
  Images m;
  const Images before;
  ScriptedInput input({});
  const struct {
    std::function<void(Status&)> run;
    Status code;
  } cases[] = {
      {[&](Status& s) { KZT_CADD(kX, kY, 1, 1, kX, kY + 1, m.data, s); }, 110006},
      {[&](Status& s) { KZT_NORMALISE(kX, kY, 2, 1, 1, kY, true, m.data, m.variances, s); },
       110005},
      {[&](Status& s) {
         KZT_DIVIDE(0, kY, 1, 1, 1, 1, false, m.mdata, m.mvariances, m.data, m.variances, s);
       },
       110001},
      {[&](Status& s) { KZT_THRESHOLD(false, kX, 0, 1, 1, 1, 1, m.data, s); }, 110002},
  };
  for (const auto& c : cases) {
    Status status = kStatusGood;
    c.run(status);
    EXPECT_EQ(status, c.code);
    EXPECT_EQ(m.data, before.data);
  }
  EXPECT_TRUE(input.prompts.empty());
}

}  // namespace
