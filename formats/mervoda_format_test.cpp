#include "formats/mervoda_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

struct Curve {
  explicit Curve(Index n) : data(n, -7.0f), var(n, -7.0f), xaxis(n, -7.0f) {}
  std::vector<float> data, var, xaxis;
  std::string title = "old", xl = "x", zl = "z";
  float xps = 9.0f;
  Index num = 0;
};

class Mervoda : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    fio_reset_mervoda();
  }
  int read(Curve& c, std::string path) {
    int retstat = -9;
    FIO_IN_MERVODA(true, static_cast<Index>(c.data.size()), true, path, retstat, c.num, c.xaxis,
                   c.data, c.var, c.title, c.xl, c.zl, c.xps, status_);
    return retstat;
  }
  // Writes a 3 x 2 image's row or column through the keyboard road.
  int write(std::vector<std::string> answers, bool variances) {
    const std::vector<float> data = {1, 2, 3, 4, 5, 6}, var = {4, 9, -1, 16, 25, 36};
    const std::vector<float> xaxis = {0.5f, 1.5f, 2.5f}, yaxis = {10, 20};
    testing::ScriptedInput input(answers);
    int retstat = -9;
    std::string name;
    FIO_OUT_MERVODA(false, "", false, 3, 2, 1, 1, 3, 2, xaxis, yaxis, data, var, "Title  ", "Xl",
                    "Yl", "Zl", variances, name, retstat, status_);
    prompts_ = input.prompts;
    return retstat;
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
  std::vector<std::string> prompts_;
};

TEST_F(Mervoda, WritesRowsAndColumnsAndReadsThemBack) {
  const std::string path = dir_.file("a.mvd");
  ASSERT_EQ(write({path, "YES", "1"}, true), 0);
  EXPECT_EQ(testing::file_contents(path),
            "Title\nXl\nZl\n          3 Errors\n"
            " 5.0000000E-01  1.0000000E+00  0.0000000E+00  2.0000000E+00 \n"
            " 1.5000000E+00  2.0000000E+00  0.0000000E+00  3.0000000E+00 \n"
            " 2.5000000E+00  3.0000000E+00  0.0000000E+00  0.0000000E+00 \n");
  Curve c(10);
  ASSERT_EQ(read(c, path), 0);
  EXPECT_EQ(c.num, 3);
  EXPECT_EQ(c.xaxis[2], 2.5f);
  EXPECT_EQ(c.data[1], 2.0f);
  EXPECT_EQ(c.var[1], 2.0f);
  EXPECT_EQ(c.xps, 1.0f);
  EXPECT_EQ(c.title, "Title");
  EXPECT_EQ(c.zl, "Zl");

  // The next write proposes the next row; a column takes the Y axis.
  ASSERT_EQ(write({path, "", ""}, false), 0);
  EXPECT_NE(prompts_.at(2).find("[2]"), std::string::npos) << prompts_.at(2);
  ASSERT_EQ(write({path, "NO", "3"}, false), 0);
  EXPECT_EQ(testing::file_contents(path),
            "Title\nYl\nZl\n          2\n 1.0000000E+01  3.0000000E+00 \n"
            " 2.0000000E+01  6.0000000E+00 \n");
}

// Values that are not finite are written as "NaN", "Infinity" and
// "-Infinity" (or "Inf" where narrow), counted in one line, and read back as
// they were, not as zeros, and a negative zero keeps its sign; a token that
// is no number still warns and keeps its point.
TEST_F(Mervoda, NonFiniteValuesAndNegativeZeroReadBack) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::vector<float> data = {std::nanf(""), kInf, -kInf, -0.0f},
                           xaxis = {1, 2, 3, -0.0f}, yaxis = {1};
  const std::string path = dir_.file("n.mvd");
  testing::ScriptedInput input({path, "YES", "1"});
  int retstat = -9;
  std::string name;
  FIO_OUT_MERVODA(false, "", false, 4, 1, 1, 1, 4, 1, xaxis, yaxis, data, {}, "T", "X", "Y", "Z",
                  false, name, retstat, status_);
  ASSERT_EQ(retstat, 0);
  EXPECT_NE(terminal_.text().find("INFO: 3 values are not finite: 1 NaN written as NaN, "
                                  "1 +Infinity written as Infinity, 1 -Infinity written as "
                                  "-Infinity\n"),
            std::string::npos)
      << terminal_.text();
  EXPECT_NE(testing::file_contents(path).find("\n-0.0000000E+00 -0.0000000E+00 \n"),
            std::string::npos)
      << testing::file_contents(path);
  Curve c(5);
  ASSERT_EQ(read(c, path), 0);
  EXPECT_EQ(c.num, 4);
  EXPECT_TRUE(std::isnan(c.data[0]));
  EXPECT_EQ(c.data[1], kInf);
  EXPECT_EQ(c.data[2], -kInf);
  EXPECT_TRUE(std::signbit(c.data[3]));
  EXPECT_TRUE(std::signbit(c.xaxis[3]));
  EXPECT_EQ(terminal_.text().find("Problem inputting"), std::string::npos) << terminal_.text();

  std::ofstream(path) << "t\nx\ny\n3\n1 Inf\n-Inf nan\n3 Infinite\n";
  ASSERT_EQ(read(c, path), 0);
  EXPECT_EQ(c.data[0], kInf);
  EXPECT_EQ(c.xaxis[1], -kInf);
  EXPECT_TRUE(std::isnan(c.data[1]));
  EXPECT_EQ(c.data[2], 0.0f);
  EXPECT_NE(terminal_.text().find("WARNING: Problem inputting Y-coordinate value"),
            std::string::npos);

  // Fortran's D exponents beyond single precision, as E ones.
  std::ofstream(path) << "t\nx\ny\n2\n1.0D+39 1.0d-50\n2 -1.0D+39\n";
  const std::size_t before = terminal_.text().size();
  ASSERT_EQ(read(c, path), 0);
  EXPECT_EQ(c.xaxis[0], kInf);
  EXPECT_EQ(c.data[0], 0.0f);
  EXPECT_EQ(c.data[1], -kInf);
  EXPECT_EQ(terminal_.text().find("Problem inputting", before), std::string::npos);
}

TEST_F(Mervoda, CountLineAndShortFiles) {
  struct Case {
    std::string text;
    int retstat;
    Index num;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"t\nx\ny\n100 Errors\n1 2 0 1\n2 4 0 1\n", 0, 2,
       "WARNING: Only        2 X/Y coordinates have been found"},
      {"t\nx\ny\n1\n7 8\n", 0, 1, ""},
      {"t\nx\ny\n\n1 2\n", 1, 0, "Error reading in the number of data points"},
      {"t\nx\ny\nmany\n1 2\n", 1, 0, "Error converting number of data points"},
      {"t\nx\ny\n0\n1 2\n", 1, 0, "below 1"},
      {"t\nx\n", 1, 0, "Problem reading from input file"},
      {"t\nx\ny\n3\n", 1, 0, ""},
      // A line longer than the reader takes (1 MiB for arrays this narrow).
      {"t\nx\ny\n2\n1 2\n" + std::string((1 << 20) + 1, '5') + "\n", 1, 0,
       "has a line longer than 1048576 characters; the data are unchanged"},
      {std::string((1 << 20) + 1, 't') + "\nx\ny\n1\n1 2\n", 1, 0, "has a line longer than"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const std::string path = dir_.file("c.mvd");
    std::ofstream(path) << c.text;
    Curve curve(10);
    const std::size_t before = terminal_.text().size();
    EXPECT_EQ(read(curve, path), c.retstat);
    EXPECT_EQ(curve.num, c.num);
    EXPECT_NE(terminal_.text().find(c.message, before), std::string::npos);
    if (c.retstat != 0) {
      EXPECT_EQ(curve.title, "old");
    }
    EXPECT_EQ(curve.xps, c.num == 2 ? 1.0f : 9.0f) << "one point keeps the pixel size";
  }
}

}  // namespace
}  // namespace kesta
