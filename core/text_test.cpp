#include "core/text.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <limits>

#include "core/status.hpp"

namespace kesta {
namespace {

TEST(Text, UsedLengthStartAndCase) {
  EXPECT_EQ(SLEN(std::string_view("AB\t\0", 4)), 2);
  EXPECT_EQ(SLEN("    "), 0);
  // The blank-only trim keeps what the used length drops.
  EXPECT_EQ(without_trailing_blanks("AB\t  "), "AB\t");
  EXPECT_EQ(without_trailing_blanks(" A "), " A");
  EXPECT_EQ(without_trailing_blanks("   "), "");
  EXPECT_EQ(IO_START(" \t x"), 4);
  EXPECT_EQ(IO_START(" \t "), -1);
  EXPECT_EQ(IO_UPPER("abc Zz1;\t"), "ABC ZZ1;");
  EXPECT_EQ(IO_LASTOCCURENCE('/', "abc"), -1);
}

TEST(Tokens, SplitAtTheCurrentSeparators) {
  Status status = ST_GOOD();
  IO_DEF_SEPARATORS(status);
  bool all_found = false;
  int num = 0;
  std::vector<std::string> tokens;
  IO_TOKENS(" a,,b\tc ", 5, all_found, num, tokens, status);
  EXPECT_TRUE(all_found);
  EXPECT_EQ(tokens, (std::vector<std::string>{"a", "b", "c"}));
  IO_TOKENS(" a,,b\tc ", 2, all_found, num, tokens, status);
  EXPECT_FALSE(all_found);
  EXPECT_EQ(num, 2);
  IO_TOKENS(" a,,b\tc ", 3, all_found, num, tokens, status);
  EXPECT_TRUE(all_found);
  IO_TOKENS(std::string(140, 'x'), 1, all_found, num, tokens, status);
  EXPECT_EQ(tokens.at(0).size(), 132u);

  bool found = false;
  std::string token;
  int end = 0;
  IO_TOKEN("ab  cde  ", 3, found, token, end, status);
  EXPECT_EQ(token, "cde");
  EXPECT_EQ(end, 7);
  IO_TOKEN("ab  cde  ", 8, found, token, end, status);
  EXPECT_FALSE(found);
  io_cseparators = ";";
  IO_TOKEN("a b;c", 1, found, token, end, status);
  EXPECT_EQ(token, "a b");
  IO_DEF_SEPARATORS(status);
  EXPECT_EQ(status, ST_GOOD());
  IO_TOKENS("a", 0, all_found, num, tokens, status);
  EXPECT_EQ(status, 10001);
}

TEST(TokenConversion, IntegersAndLogicals) {
  const std::pair<const char*, int> good[] = {{"12", 12}, {"-45", -45}, {"-2147483648", INT32_MIN}};
  for (const char* bad : {"1.0", "   ", "12x", "2147483648"}) {
    Status status = ST_GOOD();
    bool ok = true;
    int value = 777;
    IO_TOKTI(bad, ok, value, status);
    EXPECT_FALSE(ok) << bad;
    EXPECT_EQ(value, 777) << bad;  // untouched
  }
  for (const auto& [token, expected] : good) {
    Status status = ST_GOOD();
    bool ok = false;
    int value = 0;
    IO_TOKTI(token, ok, value, status);
    EXPECT_TRUE(ok && value == expected) << token;
  }
  const std::pair<const char*, int> words[] = {
      {"yes", 1}, {"Oui", 1}, {".true.", 1}, {"\"YES\"", 1}, {"1", 1}, {"NEIN", 0}, {"n", 0},
      {".FALSE.", 0}, {"maybe", -1}, {"yes sir", -1}, {"  yes", -1}};
  for (const auto& [token, expected] : words) {
    Status status = ST_GOOD();
    bool ok = false;
    bool value = false;
    IO_TOKTL(token, ok, value, status);
    EXPECT_EQ(ok ? int(value) : -1, expected) << token;
  }
}

TEST(TokenConversion, RealForms) {
  const std::pair<const char*, float> good[] = {
      {"1.5", 1.5f},     {"15E-1", 1.5f},        {"15d-1", 1.5f},  {"15*10^-1", 1.5f},
      {"15*10**-1", 1.5f}, {"150%", 1.5f},       {"pi", 3.1415926f}, {"1.5%", 0.015f},
      {"-2.5e3", -2500.0f}, {"1.5-3", 0.0015f}};
  for (const auto& [token, expected] : good) {
    Status status = ST_GOOD();
    bool ok = false;
    float value = 0;
    IO_TOKTR(token, ok, value, status);
    EXPECT_TRUE(ok) << token;
    EXPECT_FLOAT_EQ(value, expected) << token;
  }
  for (const char* bad : {"2*3", "abc", "", "1e50", "15E", "nan", "inf"}) {
    Status status = ST_GOOD();
    bool ok = true;
    float value = 777.0f;
    IO_TOKTR(bad, ok, value, status);
    EXPECT_FALSE(ok) << bad;
    EXPECT_EQ(value, 777.0f) << bad;
  }
  Status status = ST_GOOD();
  bool ok = false;
  double value = 0;
  IO_TOKTD("0.1", ok, value, status);
  EXPECT_EQ(value, 0.1);  // read to double precision, not widened from single
  IO_TOKTD("1d50", ok, value, status);
  EXPECT_EQ(value, 1e50);
}

TEST(NumberText, RealsAndDoublesByRange) {
  const std::pair<float, const char*> reals[] = {
      {0.0f, "0.0"},           {0.5f, "0.500000"},          {0.05f, "5.000000E-02"},
      {12.5f, "12.50000"},     {999.5f, "999.5000"},        {1234.5f, "1234.500"},
      {12345.6f, "12345.60"},  {123456.0f, "1.234560E+05"}, {-0.05f, "-5.000000E-02"},
      {-0.5f, "-0.500000"},    {-50.25f, "-50.25000"},      {-500.25f, "-500.2500"},
      {-5000.25f, "-5000.250"}, {-50000.25f, "-50000.25"},  {-123456.0f, "-1.234560E+05"},
      {0.0999999f, "0.100000"}};
  for (const auto& [v, expected] : reals) EXPECT_EQ(IO_RTOC(v), expected) << v;
  const std::pair<double, const char*> doubles[] = {
      {0.5, "0.500000000"},    {12.5, "12.50000000"},       {123.25, "123.2500000"},
      {1234.5, "1.2345000E+03"}, {0.05, "5.0000000E-02"},   {-0.05, "-5.0000000E-02"},
      {-0.5, "-0.500000000"},  {-5.5, "-5.50000000"},       {-50.5, "-50.5000000"},
      {-500.5, "-500.5000000"}, {-5000.5, "-5.0005000E+03"},
      // Values that round up out of their fixed field use the exponent form.
      {9.9999999999, "1.0000000E+01"}, {999.99999999, "1.0000000E+03"}};
  for (const auto& [v, expected] : doubles) EXPECT_EQ(IO_DTOC(v), expected) << v;
  EXPECT_EQ(IO_ITOC(-45), "-45");
}

TEST(NumberText, AxisLabels) {
  struct Case {
    float value;
    int max_chars, decimals;
    bool keep_point, remove_zeros, allow_exponent;
    const char* expected;  // nullptr: does not fit
  };
  const Case cases[] = {
      {1.5f, 6, 2, true, false, true, "1.50"},     {1.5f, 6, 2, true, true, true, "1.5"},
      {2.0f, 6, 2, false, true, true, "2"},        {0.5f, 4, 2, true, false, true, "0.50"},
      {0.5f, 3, 2, true, false, false, ".50"},     {0.5f, 3, 2, true, false, true, nullptr},
      {-0.5f, 5, 2, true, false, true, "-0.50"},   {0.0f, 5, 2, false, true, true, "0"},
      {-0.001f, 6, 2, true, false, false, "0.00"},  // never "-0.00"
      {-0.001f, 6, 2, true, false, true, nullptr}, {12345.0f, 4, 0, false, false, true, "1E4"},
      {0.00025f, 8, 1, true, false, true, "2.5E-4"}, {1.25e-6f, 9, 2, false, false, true, "1.25E-6"},
      // The float nearest 0.01 lies just below 0.01 and is still a fixed 0.01.
      {0.01f, 5, 2, false, false, true, "0.01"},
  };
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    bool fits = false;
    std::string text;
    IO_VTOC(c.value, c.max_chars, c.decimals, c.keep_point, c.remove_zeros, c.allow_exponent, fits,
            text, status);
    EXPECT_EQ(fits, c.expected != nullptr) << c.value << " " << c.max_chars << "," << c.decimals;
    if (fits) {
      EXPECT_EQ(text, c.expected) << c.value << " " << c.max_chars << "," << c.decimals;
    }
  }
  Status status = ST_GOOD();
  bool fits = false;
  std::string text;
  IO_VTOC(1.0f, 0, 0, true, false, true, fits, text, status);
  EXPECT_EQ(status, 10017);
  status = ST_GOOD();
  IO_VTOC(1.0f, 2, 3, true, false, true, fits, text, status);
  EXPECT_EQ(status, 10013);
}

TEST(HexText, EncodingAndInverse) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {0, "00000000"}, {255, "000000ff"}, {-1, "80000001"}, {INT32_MAX, "7fffffff"}, {-INT32_MAX, "ffffffff"}};
  for (const auto& [value, hex] : cases) {
    EXPECT_EQ(IO_ITOHEX(value), hex);
    EXPECT_EQ(IO_HEXTOI(hex), value) << hex;
  }
  // The most negative value has no magnitude of its own: written as the sign
  // bit alone, it reads back as 0.
  EXPECT_EQ(IO_ITOHEX(INT32_MIN), "80000000");
  EXPECT_EQ(IO_HEXTOI("80000000"), 0);
  EXPECT_EQ(IO_HEXTOI("ff  "), 255);
  EXPECT_EQ(IO_HEXTOI("8f"), 143);          // short texts are never negative
  EXPECT_EQ(IO_HEXTOI("g1"), 1);            // characters above "f" count as 0
  EXPECT_EQ(IO_HEXTOI("000000ff99"), 255);  // at most 8 characters
  for (float v : {0.0f, 1.5f, -2.25f, FLT_MAX, -FLT_MIN, 1e-42f}) EXPECT_EQ(IO_HEXTOR(IO_RTOHEX(v)), v) << v;
  EXPECT_EQ(IO_RTOHEX(-1.0f), "c0800000");
}

TEST(Wildcards, MatchAndErrors) {
  struct Case {
    const char* string;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"image_001.tif", "*.tif", true}, {"image_001.tif", "image*", true}, {"image_001.tif", "*001*", true},
      {"image_001.tif", "*.TIF", false}, {"abc", "a*b*c", true},         {"abc", "ab", false},
      {"ab", "ab*b", false},  // the tail may not reuse matched characters
      {"abcbc", "a*bc*bc", true},       {"abcbd", "a*bc*bc", false}};
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    bool match = !c.match;
    IO_STRINGMATCH(c.string, c.pattern, match, status);
    EXPECT_EQ(match, c.match) << c.string << " " << c.pattern;
  }
  Status status = ST_GOOD();
  bool match = false;
  IO_STRINGMATCH("   ", "*", match, status);
  EXPECT_EQ(status, 10033);
}

TEST(QuotedString, RemovesOuterQuotesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"'it''s'", "it's"}, {"'a b'", "a b"}, {"''", ""}, {"'", "'"}, {"abc", "abc"}, {"'abc", "'abc"}};
  for (const auto& [in, out] : cases) {
    Status status = ST_GOOD();
    std::string s = in;
    int length = static_cast<int>(s.size());
    IO_QUOTEDSTRING(length, s, status);
    EXPECT_EQ(s, out) << in;
    EXPECT_EQ(length, static_cast<int>(s.size())) << in;
  }
}

}  // namespace
}  // namespace kesta
