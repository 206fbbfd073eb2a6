#include "formats/scan_formats.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

class ScanFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    io_clear_database();
    fio_reset_scan_formats();
  }
  void TearDown() override { io_clear_database(); }

  // A one-row image of N points: X = 10 + i, value 1000 + i.
  void row(Index n) {
    x_.resize(static_cast<std::size_t>(n));
    y_ = {0.5f};
    data_.resize(static_cast<std::size_t>(n));
    for (Index i = 0; i < n; ++i) {
      x_[static_cast<std::size_t>(i)] = 10.0f + static_cast<float>(i);
      data_[static_cast<std::size_t>(i)] = 1000.0f + static_cast<float>(i);
    }
  }
  int gsas(const std::string& path) {
    testing::ScriptedInput input({path, "", ""});
    int retstat = -9;
    std::string name;
    const auto n = static_cast<Index>(data_.size());
    FIO_OUT_GSAS(false, "", false, n, 1, 1, 1, n, 1, x_, y_, data_, {}, "Scan", "", "", "", false,
                 name, retstat, status_);
    return retstat;
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
  std::vector<float> x_, y_, data_;
};

TEST_F(ScanFormats, GsasRecords) {
  for (Index n : {20, 25, 1}) {
    SCOPED_TRACE(n);
    row(n);
    const std::string path = dir_.file("s.gsas");
    ASSERT_EQ(gsas(path), 0);
    const std::string bytes = testing::file_contents(path);
    const Index records = (n + 9) / 10;
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(80 * (2 + records)));
    EXPECT_EQ(bytes.substr(0, 80), "Scan" + std::string(76, ' '));
    const std::string step = n == 1 ? "   0.00000" : " 100.00000";
    std::string bank = "BANK    1" + format_i(n, 5) + format_i(records, 5) + " CONST" +
                       (n == 1 ? "  50.00000" : "1000.00000") + step + "   0.00000   0.00000 STD";
    bank.resize(80, ' ');
    EXPECT_EQ(bytes.substr(80, 80), bank);
    // (A region one pixel wide is written as its column, X from the Y axis.)
    EXPECT_EQ(bytes.substr(160, 16), n == 1 ? " 1 1000.        " : " 1 1000. 1 1001.");
    // The last record holds the remaining points, then blanks.
    const std::size_t last = 80 * static_cast<std::size_t>(1 + records);
    const std::size_t left = static_cast<std::size_t>(n - (records - 1) * 10);
    EXPECT_EQ(bytes.substr(last + 8 * left), std::string(80 - 8 * left, ' '));
  }
  // A value too wide for F6.0 refuses the write and keeps the old file; the
  // line names the first such value, its point and how many there are.
  const std::string path = dir_.file("s.gsas");
  const std::string old = testing::file_contents(path);
  data_[0] = 1.0e7f;
  EXPECT_EQ(gsas(path), 2);
  EXPECT_EQ(testing::file_contents(path), old);
  EXPECT_EQ(terminal_.text().find("not finite"), std::string::npos);
  EXPECT_NE(terminal_.text().find("WARNING: A value is too large for its field in " + path +
                                  " (1.000000E+07 at point 1); nothing has been written\n"),
            std::string::npos)
      << terminal_.text();
  row(3);
  data_[1] = -2.5e6f;
  data_[2] = 1.0e9f;
  EXPECT_EQ(gsas(path), 2);
  EXPECT_EQ(testing::file_contents(path), old);
  EXPECT_NE(terminal_.text().find("WARNING: 2 values are too large for their fields in " + path +
                                  " (the first -2.500000E+06 at point 2); nothing has been "
                                  "written\n"),
            std::string::npos)
      << terminal_.text();
  // Values that are not finite are written as their texts, which GSAS does
  // not read, and counted in one line.
  row(2);
  data_[0] = std::numeric_limits<float>::quiet_NaN();
  data_[1] = std::numeric_limits<float>::infinity();
  ASSERT_EQ(gsas(path), 0);
  EXPECT_EQ(testing::file_contents(path).substr(160, 16), " 1   NaN 1   Inf");
  EXPECT_NE(terminal_.text().find(
                "INFO: 2 values are not finite: 1 NaN written as NaN, 1 +Infinity written as Inf\n"),
            std::string::npos)
      << terminal_.text();
}

TEST_F(ScanFormats, PdsWritesCloseAnglesAndReadsBack) {
  struct Case {
    double start, step;  // degrees
    Index n;
  };
  for (const Case& c : {Case{1.0, 0.1, 11}, Case{0.0075, 0.0125, 23}, Case{5.0, 0.02, 10}}) {
    SCOPED_TRACE(c.step);
    const double radians = 3.1415925 / 180.0;
    std::vector<float> intensity(static_cast<std::size_t>(c.n)), second(intensity.size(), 0.0f);
    std::iota(intensity.begin(), intensity.end(), 1.0f);
    const std::string path = dir_.file("a.pds");
    {
      testing::ScriptedInput input({path});
      FIO_OUT_PDS(1.0f, "Powder", static_cast<float>(c.start * radians),
                  static_cast<float>(c.step * radians), c.n, c.n, intensity, second, status_);
    }
    ASSERT_EQ(status_, kStatusGood);
    std::vector<float> xaxis(40), data(40);
    Index n = 0;
    int retstat = -9;
    bool variances = true;
    std::string name = path, title, xl, zl;
    float xps = 0;
    FIO_IN_PDS(true, 40, variances, name, retstat, n, xaxis, data, title, xl, zl, xps, status_);
    ASSERT_EQ(retstat, 0);
    EXPECT_EQ(n, c.n);
    EXPECT_FALSE(variances);
    EXPECT_EQ(title, "Powder");
    EXPECT_NEAR(xps, c.step, 0.01 * c.step);
    EXPECT_NEAR(xaxis[0], c.start, 0.01 * c.step);
    EXPECT_EQ(data[static_cast<std::size_t>(n - 1)], 100.0f * static_cast<float>(c.n));
  }
  const std::string text = testing::file_contents(dir_.file("a.pds"));
  EXPECT_NE(text.find("\n    5.000    0.020    5.180        1.0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n   -1000\n  -10000\n"), std::string::npos);
}

TEST_F(ScanFormats, PdsMaskedAndInfiniteBinsReadBackAsWritten) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> intensity = {1.0f, nan, inf, -inf, 5.0f, 6.0f};
  const std::vector<float> second(intensity.size(), 0.0f);
  const std::string path = dir_.file("masked.pds");
  {
    testing::ScriptedInput input({path});
    FIO_OUT_PDS(1.0f, "Masked", 0.01f, 0.001f, 6, 6, intensity, second, status_);
  }
  ASSERT_EQ(status_, kStatusGood);
  std::vector<float> xaxis(10), data(10, -7.0f);
  Index n = 0;
  int retstat = -9;
  bool variances = true;
  std::string name = path, title, xl, zl;
  float xps = 0;
  FIO_IN_PDS(true, 10, variances, name, retstat, n, xaxis, data, title, xl, zl, xps, status_);
  ASSERT_EQ(retstat, 0);
  ASSERT_EQ(n, 6);
  EXPECT_EQ(data[0], 100.0f);
  EXPECT_TRUE(std::isnan(data[1]));
  EXPECT_EQ(data[2], inf);
  EXPECT_EQ(data[3], -inf);
  EXPECT_EQ(data[5], 600.0f);
}

TEST_F(ScanFormats, PdsReaderRefusesNoPoints) {
  // No points, and a line longer than the readers take (1 MiB for arrays
  // this narrow), in the header or among the values.
  const std::string endless((1 << 20) + 1, '5');
  const std::pair<std::string, std::string> cases[] = {
      {"t\nh\n 1.0 0.0 2.0 1.0\n", ""},
      {"t\n" + endless + "\n 1.0 1.0 2.0 1.0\n\n       1       2\n",
       "has a line longer than 1048576"},
      {"t\nh\n 1.0 1.0 2.0 1.0\n\n" + endless + "\n", "has a line longer than 1048576"},
  };
  for (const auto& [text, message] : cases) {
    const std::string path = dir_.file("b.pds");
    std::ofstream(path) << text;
    std::vector<float> xaxis(4, -1), data(4, -1);
    Index n = 0;
    int retstat = -9;
    bool variances = true;
    std::string name = path, title = "old", xl, zl;
    float xps = 0;
    const std::size_t said = terminal_.text().size();
    FIO_IN_PDS(true, 4, variances, name, retstat, n, xaxis, data, title, xl, zl, xps, status_);
    EXPECT_EQ(retstat, 1) << message;
    EXPECT_EQ(title, "old");
    EXPECT_EQ(data[0], -1.0f);
    EXPECT_NE(terminal_.text().find(path + " " + message, said), std::string::npos) << message;
  }
}

TEST_F(ScanFormats, CifSpreadAndCam) {
  row(2);
  const std::string cif = dir_.file("p.cif");
  {
    testing::ScriptedInput input({cif, "", ""});
    int retstat = -9;
    std::string name;
    FIO_OUT_POWDERCIF(false, "/d/run7.tif", false, 2, 1, 1, 1, 2, 1, x_, y_, data_, {}, "", "",
                      "", "", false, name, retstat, status_);
    ASSERT_EQ(retstat, 0);
  }
  const std::string text = testing::file_contents(cif);
  EXPECT_NE(text.find("\n\ndata_run7\n\n"), std::string::npos);
  EXPECT_NE(text.find("_diffrn_radiation_wavelength  ?\n"), std::string::npos);
  EXPECT_NE(text.find("_pd_meas_2theta_range_inc    1.000000\n"), std::string::npos);
  EXPECT_NE(text.find("\n    1.0010000E+03\n_pd_meas_number_of_points      2\n"),
            std::string::npos);

  const std::vector<float> image = {1, -2.5f, 3, 4};
  const std::string spr = dir_.file("s.spr");
  {
    testing::ScriptedInput input({"", spr});
    int retstat = -9;
    std::string name;
    FIO_OUT_SPREAD(false, "", false, 2, 2, 1, 1, 2, 2, image, name, retstat, status_);
  }
  EXPECT_EQ(testing::file_contents(spr),
            "       2       2 Start pixel = (       1       1)\n"
            " 1.00000E+00 -2.50000E+00\n 3.00000E+00  4.00000E+00\n");

  // A negative zero keeps its sign.
  {
    const std::vector<float> zeros = {-0.0f, 0.0f};
    testing::ScriptedInput input({"", spr, cif, "", ""});
    int retstat = -9;
    std::string name;
    FIO_OUT_SPREAD(false, "", false, 2, 1, 1, 1, 2, 1, zeros, name, retstat, status_);
    FIO_OUT_POWDERCIF(false, "/d/run7.tif", false, 2, 1, 1, 1, 2, 1, x_, y_, zeros, {}, "", "",
                      "", "", false, name, retstat, status_);
  }
  EXPECT_EQ(testing::file_contents(spr),
            "       2       1 Start pixel = (       1       1)\n-0.00000E+00  0.00000E+00\n");
  EXPECT_NE(testing::file_contents(cif).find("\n   -0.0000000E+00\n    0.0000000E+00\n"),
            std::string::npos)
      << testing::file_contents(cif);

  const std::string cam = dir_.file("c.3cam");
  {
    testing::ScriptedInput input({cam, "NO", "1"});
    const std::vector<float> xa = {0.5f, 1.5f}, ya = {2.0f, 4.0f};
    FIO_OUT_3CAM(2, 2, 1, 1, 2, 2, xa, ya, image, "T", status_);
  }
  EXPECT_EQ(testing::file_contents(cam),
            "T\n\n  2.0000000      4.0000000      2.0000000    \n           1\n           3\n");
  {
    testing::TerminalCapture said;
    testing::ScriptedInput input({cam, "NO", "2"});
    const std::vector<float> xa = {0.5f, 1.5f}, ya = {2.0f, 4.0f};
    const std::vector<float> bad = {1, -std::numeric_limits<float>::infinity(), 3, 4};
    FIO_OUT_3CAM(2, 2, 1, 1, 2, 2, xa, ya, bad, "T", status_);
    EXPECT_NE(said.text().find("INFO: 1 value is not finite: 1 -Infinity written as -Infinity\n"),
              std::string::npos)
        << said.text();
  }

  // A refused constant is not offered again: Enter takes the one offered before.
  const std::string mca = dir_.file("m.mca");
  {
    testing::ScriptedInput input({mca, "0", ""});
    FIO_OUT_MCA(2, 2, 1, 1, 2, 2, image, status_);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status_, kStatusGood) << terminal_.text();
  EXPECT_EQ(testing::file_contents(mca), "     1.000    -2.500     3.000     4.000\n");
  // So is a name that did not open: Enter takes the name offered before.
  std::filesystem::remove(mca);
  {
    testing::ScriptedInput input({dir_.file("none/m.mca"), "", ""});
    FIO_OUT_MCA(2, 2, 1, 1, 2, 2, image, status_);
    EXPECT_EQ(input.remaining(), 0u);
  }
  ASSERT_EQ(status_, kStatusGood) << terminal_.text();
  EXPECT_EQ(testing::file_contents(mca), "     1.000    -2.500     3.000     4.000\n");
}

// Every text writer that writes values that are not finite as texts says
// how many it wrote (as they were written: MCA divides first), and 3CAM and
// MCA name the first value too wide for its field.
TEST_F(ScanFormats, TextWritersCountNonValuesAndNameTooWideOnes) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::vector<float> odd = {std::nanf(""), kInf, -kInf, 4};
  row(4);
  data_ = odd;
  const std::string cif = dir_.file("p.cif"), spr = dir_.file("s.spr"), mca = dir_.file("m.mca"),
                    cam = dir_.file("c.3cam");
  const auto said_after = [&](std::size_t before, const std::string& line) {
    EXPECT_NE(terminal_.text().find(line, before), std::string::npos) << terminal_.text();
  };
  std::size_t before = terminal_.text().size();
  {
    testing::ScriptedInput input({cif, "", ""});
    int retstat = -9;
    std::string name;
    FIO_OUT_POWDERCIF(false, "", false, 4, 1, 1, 1, 4, 1, x_, y_, data_, {}, "", "", "", "",
                      false, name, retstat, status_);
    ASSERT_EQ(retstat, 0);
  }
  said_after(before, "INFO: 3 values are not finite: 1 NaN written as NaN, 1 +Infinity written "
                     "as Infinity, 1 -Infinity written as -Infinity\n");
  before = terminal_.text().size();
  {
    testing::ScriptedInput input({"", spr});
    int retstat = -9;
    std::string name;
    FIO_OUT_SPREAD(false, "", false, 2, 2, 1, 1, 2, 2, odd, name, retstat, status_);
    ASSERT_EQ(retstat, 0);
  }
  said_after(before, "INFO: 3 pixels are not finite: 1 NaN written as NaN, 1 +Infinity written "
                     "as Infinity, 1 -Infinity written as -Infinity\n");
  before = terminal_.text().size();
  {
    testing::ScriptedInput input({mca, "-2"});
    FIO_OUT_MCA(2, 2, 1, 1, 2, 2, odd, status_);
  }
  ASSERT_EQ(status_, kStatusGood);
  EXPECT_EQ(testing::file_contents(mca), "       NaN -Infinity  Infinity    -2.000\n");
  said_after(before, "INFO: 3 pixels are not finite: 1 NaN written as NaN, 1 +Infinity written "
                     "as Infinity, 1 -Infinity written as -Infinity\n");

  // Too wide: nothing written, the first named with its place.
  before = terminal_.text().size();
  {
    testing::ScriptedInput input({mca, "1"});
    FIO_OUT_MCA(2, 2, 1, 1, 2, 2, std::vector<float>{1, 2.0e6f, 3, -3.0e6f}, status_);
  }
  EXPECT_EQ(testing::file_contents(mca), "       NaN -Infinity  Infinity    -2.000\n");
  said_after(before, "WARNING: 2 values are too large for their fields in " + mca +
                         " (the first 2.000000E+06 at pixel (2, 1)); nothing has been written\n");
  before = terminal_.text().size();
  {
    testing::ScriptedInput input({cam, "NO", "1"});
    const std::vector<float> xa = {0.5f, 1.5f}, ya = {2.0f, 4.0f};
    FIO_OUT_3CAM(2, 2, 1, 1, 2, 2, xa, ya, std::vector<float>{1, 2, 1.0e19f, 4}, "T", status_);
  }
  EXPECT_FALSE(std::filesystem::exists(cam));
  said_after(before, "WARNING: A value is too large for its field in " + cam +
                         " (1.000000E+19 at point 2); nothing has been written\n");
  // PDS writes a hundred times the intensity in 8 columns.
  const std::string pds = dir_.file("o.pds");
  before = terminal_.text().size();
  {
    testing::ScriptedInput input({pds});
    FIO_OUT_PDS(1.0f, "T", 0.01f, 0.001f, 4, 4, std::vector<float>{1, 2.0e6f, 3, 4.0e6f},
                std::vector<float>(4, 0.0f), status_);
  }
  EXPECT_FALSE(std::filesystem::exists(pds));
  said_after(before, "WARNING: 2 values are too large for their fields in " + pds +
                         " (the first 2.000000E+06 at point 2); nothing has been written\n");
}

TEST_F(ScanFormats, TypedValues) {
  std::vector<float> data(5, -1), xaxis(5), yaxis(1);
  Index xn = 0, yn = 0;
  std::string title, xl, yl, zl;
  int retstat = -9;
  {
    // Three values, the escape, change point 2 to 9, then 0.
    testing::ScriptedInput input({"1", "2", "3", "\\\\", "2", "9", "0"});
    FIO_IN_USER(5, 1, xn, yn, xaxis, yaxis, data, title, xl, yl, zl, retstat, status_);
  }
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(xn, 3);
  EXPECT_EQ(yn, 1);
  EXPECT_EQ(data, (std::vector<float>{1, 9, 3, -1, -1}));
  EXPECT_EQ(title, "User Entered Data");
  {
    testing::ScriptedInput input({"\\\\"});
    FIO_IN_USER(5, 1, xn, yn, xaxis, yaxis, data, title, xl, yl, zl, retstat, status_);
  }
  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(xn, 3);
}

}  // namespace
}  // namespace kesta
