#include "core/format.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace kesta {
namespace {

TEST(Format, IntegerFields) {
  EXPECT_EQ(format_i(42, 5), "   42");
  EXPECT_EQ(format_i(-45, 2), "**");
  EXPECT_EQ(format_i(-7, 5, 3), " -007");
  EXPECT_EQ(format_i(0, 3, 0), "   ");
  EXPECT_EQ(format_i(-1234, 0), "-1234");
  EXPECT_EQ(format_i(7, 0, 3), "007");
  EXPECT_EQ(format_i(std::numeric_limits<std::int64_t>::min(), 20), "-9223372036854775808");
  EXPECT_EQ(format_z(0xABC, 6, 5), " 00ABC");
  EXPECT_EQ(format_z(255, 1), "*");
}

TEST(Format, FixedRoundingCarryAndOptionalZero) {
  struct Case {
    double value;
    int width, decimals;
    const char* expected;
  };
  const Case cases[] = {
      {0.5, 8, 6, "0.500000"},  {0.5, 7, 6, ".500000"},  // no room for the optional zero
      {-0.5, 8, 6, "-.500000"}, {-0.5, 7, 6, "*******"},  {9.9996, 6, 3, "10.000"},  // carry
      {9.9996, 5, 3, "*****"},  {9.9994, 5, 3, "9.999"},  {2.6, 3, 0, " 3."},
      {-0.001, 5, 2, "-0.00"},  {-0.0, 5, 2, "-0.00"},  {1e10, 8, 2, "********"},
      {static_cast<double>(0.1f), 12, 10, "0.1000000015"},  // the exact binary value
      {std::numeric_limits<double>::infinity(), 10, 2, "  Infinity"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(format_f(c.value, c.width, c.decimals), c.expected) << c.value << " F" << c.width << "." << c.decimals;
}

TEST(Format, ExponentScaleFactorsAndExponentWidths) {
  struct Case {
    double value;
    int width, decimals, scale, exp_digits;
    const char* expected;
  };
  const Case cases[] = {
      {123456.0, 12, 6, 1, 0, "1.234560E+05"}, {-123456.0, 13, 6, 1, 0, "-1.234560E+05"},
      {0.0, 14, 7, 1, 0, " 0.0000000E+00"},     {-0.0, 14, 7, 1, 0, "-0.0000000E+00"},
      {123.456, 10, 4, 0, 0, "0.1235E+03"},
      {123.456, 9, 4, 0, 0, ".1235E+03"},       {123.456, 12, 4, -1, 0, "  0.0123E+04"},
      {9.99999999, 14, 7, 1, 0, " 1.0000000E+01"},  // carry moves the exponent
      {1e200, 14, 7, 1, 0, " 1.0000000+200"},       // a three-digit exponent drops the E
      {1e-100, 12, 4, 0, 0, "  0.1000E-99"},    {1e-101, 12, 4, 0, 0, "  0.1000-100"},
      {1.5, 11, 3, 0, 3, " 0.150E+001"},        {1e100, 11, 3, 0, 2, "***********"},
      {123456.0, 11, 6, 1, 0, "***********"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(format_e(c.value, c.width, c.decimals, c.scale, c.exp_digits), c.expected)
        << c.value << " " << c.scale << "PE" << c.width << "." << c.decimals;
}

TEST(Format, GeneralChoosesFixedOrExponentAfterRounding) {
  const std::pair<double, const char*> cases[] = {
      {0.5, " 0.5000000    "},         {-123.456, " -123.4560    "}, {0.0, "  0.000000    "},
      {0.0999999999, " 0.1000000    "},  // rounds up into the fixed range
      {0.01, " 0.1000000E-01"},        {9999999.6, " 0.1000000E+08"},  // rounds up out of it
      {9999999.4, "  9999999.    "}};
  for (const auto& [v, expected] : cases) EXPECT_EQ(format_g(v, 14, 7), expected) << v;
  EXPECT_EQ(format_g(1e7, 14, 7, 1), " 1.0000000E+07");
}

TEST(Format, ReadIntegerField) {
  const std::pair<const char*, std::int64_t> good[] = {
      {"  12", 12}, {"-7", -7}, {"1 2", 12}, {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()}};
  for (const auto& [field, expected] : good) {
    std::int64_t value = 0;
    EXPECT_TRUE(read_integer_field(field, value) && value == expected) << field;
  }
  for (const char* field : {"1.0", "", "   ", "+", "12a", "9223372036854775808"}) {
    std::int64_t value = 0;
    EXPECT_FALSE(read_integer_field(field, value)) << field;
  }
}

TEST(Format, ReadRealField) {
  struct Case {
    const char* field;
    int decimals;
    double value;
  };
  const Case good[] = {{"15e-1", 0, 1.5},  {"1.5D0", 0, 1.5}, {"1.5q2", 0, 150.0}, {"1.5-3", 0, 0.0015},
                       {".5", 0, 0.5},     {"5.", 0, 5.0},    {" - 2 . 5 ", 0, -2.5}, {"125", 2, 1.25},
                       {"5", 2, 0.05},     {"1.25", 1, 1.25}};
  for (const Case& c : good) {
    double value = 0;
    EXPECT_TRUE(read_real_field(c.field, value, c.decimals)) << c.field;
    EXPECT_DOUBLE_EQ(value, c.value) << c.field;
  }
  for (const char* field : {"1.5e", "1.5x", ".", "", "1e400", "1.2.3", "inf", "nan"}) {
    double value = 0;
    EXPECT_FALSE(read_real_field(field, value)) << field;
  }
  float single = 0;
  EXPECT_FALSE(read_real_field("1e39", single));
  ASSERT_TRUE(read_real_field("0.1", single));
  EXPECT_EQ(single, 0.1f);
}

}  // namespace
}  // namespace kesta
