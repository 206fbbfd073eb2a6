#include "formats/ascii_formats.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/test_support.hpp"
#include "formats/text_files.hpp"

namespace kesta {
namespace {

class Ascii : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    vosq_io_dbdb.paging_on = false;
    fio_reset_ascii();
  }
  std::string file(const std::string& text) {
    const std::string path = dir_.file("f.txt");
    std::ofstream(path) << text;
    return path;
  }
  // TEXT read as a 3 x 2 image into DATA; the reader's RETSTAT.
  int read_3x2(const std::string& text, std::vector<float>& data) {
    std::vector<float> var(6), xaxis(3), yaxis(2);
    std::string name = file(text), title, xl, yl, zl;
    Index xn = 0, yn = 0;
    int retstat = -9;
    bool variances = false;
    float xps = 1, yps = 1;
    testing::ScriptedInput input({name, "3", "2", "0"});
    FIO_IN_2DASCII({3, 2, variances, xn, yn, xaxis, yaxis, data, var, title, xl, yl, zl, xps, yps},
                   name, retstat, status_);
    return retstat;
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Ascii, FreeFormatColumns) {
  struct Case {
    std::string text;
    std::vector<std::string> answers;  // after the file name
    std::vector<float> x, y;
    const char* message;
  };
  const std::vector<Case> cases = {
      // Type, lines to ignore, characters, coordinates, X column, Y column.
      {"head\n1 10\n2 20\n\n3 30\n", {"", "1", "0", "0", "0", "2"}, {1, 2, 3}, {10, 20, 30},
       "INFO:    3 X/Y coordinates per data-set have been found"},
      {"1,5,6\n2,7\n", {"", "0", "0", "0", "1", "3"}, {1, 2}, {6, 0},
       "Line:     2 of file, column of numbers:  3 could not be found (set to zero)"},
      {"xx1 5\nxx2 b\n", {"", "0", "2", "0", "1", "2"}, {1, 2}, {5, 0}, "Token =b"},
      {"1 2\n3 4\n5 6\n", {"", "0", "0", "2", "", ""}, {1, 3}, {2, 4}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> answers = {file(c.text)};
    answers.insert(answers.end(), c.answers.begin(), c.answers.end());
    testing::ScriptedInput input(answers);
    std::vector<float> x(5, -1), y(5, -1);
    Index n = 0;
    std::string name;
    const std::size_t before = terminal_.text().size();
    FIO_IN_FREEFORMAT("Enter name of file", 5, n, x, y, name, status_);
    ASSERT_EQ(status_, kStatusGood);
    ASSERT_EQ(n, static_cast<Index>(c.x.size()));
    EXPECT_EQ(std::vector<float>(x.begin(), x.begin() + n), c.x);
    EXPECT_EQ(std::vector<float>(y.begin(), y.begin() + n), c.y);
    EXPECT_NE(terminal_.text().find(c.message, before), std::string::npos);
    fio_reset_ascii();
  }
}

TEST_F(Ascii, OneValuePerLine) {
  std::vector<float> v(3, -1);
  Index n = 0;
  int retstat = -9;
  FIO_IN_1DASCII(file("1.5 x\n\n2e1\nbad\n9\n"), 3, retstat, n, v, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(v, (std::vector<float>{1.5f, 0.0f, 20.0f}));
  EXPECT_NE(terminal_.text().find("WARNING: Data items missing from file"), std::string::npos);
  FIO_IN_1DASCII(dir_.file("none"), 3, retstat, n, v, status_);
  EXPECT_NE(retstat, 0);
  EXPECT_EQ(v[0], 1.5f);
}

TEST_F(Ascii, TwoDimensionalImage) {
  struct Case {
    std::string text;
    int retstat;
  };
  std::string long_line;
  for (int i = 1; i <= 6; ++i) long_line += std::string(3000, ' ') + std::to_string(i);
  const std::vector<Case> cases = {
      {"1 2 3\n4 5 6\n", 0},
      {"1 2 3 4 5 6\n", 0},
      {"1,2\n3 oops\n4\n5 6", 0},
      {long_line + "\n", 0},
      {"1 2 3\n4 5\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    std::vector<float> data(4, -7.0f), var(4), xaxis(2), yaxis(2);
    std::string name = file(c.text), title = "old", xl, yl, zl;
    Index xn = 0, yn = 0;
    int retstat = -9;
    bool variances = true;
    float xps = 1, yps = 1;
    // Three columns into arrays two wide: the third value of each row is dropped.
    testing::ScriptedInput input({name, "3", "2", "0"});
    FIO_IN_2DASCII({2, 2, variances, xn, yn, xaxis, yaxis, data, var, title, xl, yl, zl, xps, yps},
                   name, retstat, status_);
    EXPECT_EQ(status_, kStatusGood);
    EXPECT_EQ(retstat, c.retstat);
    // The file routine without the questions reads it alike.
    const ImageRead direct = read_ascii_2d_file(name, {2, 2, true}, 3, 2, 0, status_);
    EXPECT_EQ(direct.retstat, c.retstat);
    if (c.retstat == 0) {
      EXPECT_EQ(data, (std::vector<float>{1, 2, 4, 5}));
      EXPECT_EQ(var, data);
      EXPECT_EQ(xn, 2);
      EXPECT_EQ(title, name);
      EXPECT_EQ(std::vector<float>(direct.image.pixels().begin(), direct.image.pixels().end()),
                data);
    } else {
      EXPECT_EQ(data, std::vector<float>(4, -7.0f));
      EXPECT_EQ(title, "old");
    }
  }
  // The sample of a file whose first line is a whole long row fits the screen.
  std::istringstream lines(terminal_.text());
  const auto width = static_cast<std::size_t>(io_terminal_width());
  for (std::string line; std::getline(lines, line);)
    if (line.find("f.txt") == std::string::npos) {
      EXPECT_LE(line.size(), width);
    }
}

// Other programs write the signed forms of the non-finite values and numbers
// beyond single precision; each is one value, read as an IEEE reader reads
// it, so no pixel takes the next token and the image does not move.
TEST_F(Ascii, SignedNonFiniteAndOutOfRangeValuesAreOneValueEach) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* token;
    float value;  // NaN where the value is no number
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<Case> cases = {
      {"-nan", nan},       {"+nan", nan},   {"+NaN", nan},       {"+inf", kInf},
      {"+Infinity", kInf}, {"-inf", -kInf}, {"-Infinity", -kInf}, {"1e39", kInf},
      {"-1e39", -kInf},    {"1e-50", 0.0f}, {"-1e-50", -0.0f},   {"1e-40", 1e-40f},
      {"+2.5", 2.5f},      {"-2.5", -2.5f}, {"3.4028235e38", std::numeric_limits<float>::max()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    float v = 7.0f;
    ASSERT_TRUE(fio_to_real(c.token, v));
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(v));
    } else {
      EXPECT_EQ(v, c.value);
      EXPECT_EQ(std::signbit(v), std::signbit(c.value));
    }
  }
  for (const char* bad : {"+-1", "--1", "+", "nan(", "1e39x", "++inf"}) {
    float v = 7.0f;
    EXPECT_FALSE(fio_to_real(bad, v)) << bad;
  }

  std::vector<float> data(6, -7.0f);
  ASSERT_EQ(read_3x2("-nan +inf 1e39\n1e-50 +2 -Infinity\n", data), 0);
  EXPECT_TRUE(std::isnan(data[0]));
  EXPECT_EQ(std::vector<float>(data.begin() + 1, data.end()),
            (std::vector<float>{kInf, kInf, 0.0f, 2.0f, -kInf}));
}

// Fortran writes double precision values with a D exponent, and drops the
// letter when the exponent has three digits; beyond single precision they
// are the nearest single value, as the E form is, never refused (a refused
// token would shift the rest of a 2-D image by one pixel).
TEST_F(Ascii, FortranExponentsBeyondSinglePrecisionReadAsTheEForm) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const struct {
    const char* token;
    float value;
  } cases[] = {
      {"1.0D+39", kInf},    {"-1.0d39", -kInf},  {"1.0d-50", 0.0f},  {"-1.0D-50", -0.0f},
      {"1D-40", 1e-40f},    {"2.5D+03", 2500.0f}, {"+.5d1", 5.0f},    {"0.1000-119", 0.0f},
      {"0.1+101", kInf},    {"-1.5-2", -0.015f}, {"1.0E+039", kInf},
  };
  for (const auto& c : cases) {
    float v = 7.0f;
    EXPECT_TRUE(fio_to_real(c.token, v)) << c.token;
    EXPECT_EQ(v, c.value) << c.token;
    EXPECT_EQ(std::signbit(v), std::signbit(c.value)) << c.token;
  }
  // A letter without exponent digits is no number, nor a sign with no point
  // before it (a date, a range).
  for (const char* bad : {"1D", "D5", "1.0D+", "1.0Dx5", "1D1D1", "2020-01", "1.0+-5", "1.0+"}) {
    float v = 7.0f;
    EXPECT_FALSE(fio_to_real(bad, v)) << bad;
  }

  std::vector<float> data(6, -7.0f);
  ASSERT_EQ(read_3x2("1 1.0D+39 3\n4 1.0d-50 6\n", data), 0);
  EXPECT_EQ(data, (std::vector<float>{1, kInf, 3, 4, 0, 6}));
  EXPECT_EQ(terminal_.text().find("Failed to convert"), std::string::npos);

  std::vector<float> v(2, -1);
  Index n = 0;
  int retstat = -9;
  FIO_IN_1DASCII(file("-1.0D+39\n1.0d-50\n"), 2, retstat, n, v, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(v, (std::vector<float>{-kInf, 0.0f}));
  EXPECT_EQ(terminal_.text().find("Problem inputting"), std::string::npos);
}

// A line is read whole up to 64 characters a value of the arrays' width, and
// never less than 1 MiB; a longer one (a file without line ends) refuses the
// file by name and leaves the data alone.
TEST_F(Ascii, LinesLongerThanTheLimitAreRefused) {
  constexpr std::size_t kLeast = 1 << 20;
  const std::string at_limit = "1" + std::string(kLeast - 2, ' ') + "2";
  const std::string over = at_limit + "3", wide = "1" + std::string(64 * 30000 - 2, ' ') + "2";
  const std::string said = "has a line longer than ";
  struct Case {
    std::string text;
    Index width;          // of the arrays
    const char* refusal;  // "" when read
  };
  const Case cases[] = {
      {"5\n" + at_limit + "\n", 3, ""},
      {"5\n" + over + "\n", 3, "1048576"},
      {over, 3, "1048576"},
      {"5\n" + wide + "\n", 30000, ""},
      {"5\n" + wide + "3\n", 30000, "1920000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.text.size()) + " " + c.refusal);
    const std::string path = file(c.text);
    const bool refused = *c.refusal != '\0';
    const std::string refusal = path + " " + said + c.refusal + " characters";

    std::vector<float> v(static_cast<std::size_t>(c.width), -1);
    Index n = -1;
    int retstat = -9;
    std::size_t before = terminal_.text().size();
    FIO_IN_1DASCII(path, c.width, retstat, n, v, status_);
    EXPECT_EQ(retstat, refused ? 1 : 0);
    EXPECT_EQ(n, refused ? -1 : 2);
    EXPECT_EQ(v[0], refused ? -1.0f : c.text[0] - '0');
    EXPECT_EQ(terminal_.text().find(refusal, before) != std::string::npos, refused);

    // Free format: the sample, the lines skipped or the values meet the line.
    for (const char* skipped : {"0", "1"}) {
      testing::ScriptedInput input({path, "", skipped, "0", "0", "0", "1"});
      std::vector<float> x(static_cast<std::size_t>(c.width), -1), y = x;
      n = -1;
      std::string name;
      before = terminal_.text().size();
      FIO_IN_FREEFORMAT("", c.width, n, x, y, name, status_);
      EXPECT_EQ(status_, kStatusGood);
      EXPECT_EQ(n == -1, refused);
      EXPECT_EQ(terminal_.text().find(refusal, before) != std::string::npos, refused);
      fio_reset_ascii();
    }

    // 2-D: one value a row, two rows.
    std::vector<float> data(static_cast<std::size_t>(2 * c.width), -7.0f), var = data;
    std::vector<float> xaxis(static_cast<std::size_t>(c.width)), yaxis(2);
    std::string name = path, title = "old", xl, yl, zl;
    Index xn = 0, yn = 0;
    bool variances = true;
    float xps = 1, yps = 1;
    testing::ScriptedInput input({name, "1", "2", "0"});
    before = terminal_.text().size();
    FIO_IN_2DASCII({c.width, 2, variances, xn, yn, xaxis, yaxis, data, var, title, xl, yl, zl, xps,
                    yps},
                   name, retstat, status_);
    EXPECT_EQ(status_, kStatusGood);
    EXPECT_EQ(title == "old", refused);
    EXPECT_EQ(terminal_.text().find(refusal, before) != std::string::npos, refused);
    if (refused) {
      EXPECT_EQ(retstat, 1);
      EXPECT_EQ(data[0], -7.0f);
    }
    fio_reset_ascii();
  }
}

}  // namespace
}  // namespace kesta
