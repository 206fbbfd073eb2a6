// The spline file and the look-up table file: exact layouts, round trips and
// the refusals that leave the held data as they were.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/distortion/distortion_test_support.hpp"
#include "app/distortion/lut.hpp"
#include "app/distortion/spline_file.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

using testing::file_contents;
using testing::linear_set;
using testing::ScriptedInput;
using testing::TempDir;

class DistortionFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    io_clear_database();
  }
  void TearDown() override { testing::reset_dialogue(); }
  void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.file(name), std::ios::binary) << bytes;
  }
  // BYTES as a table file loaded over a held 2 x 2 table: refused, naming
  // the file, with the table, its flag and the data as they were; what was
  // said.
  std::string refused_load(const std::string& bytes);
  TempDir dir;
  testing::TerminalCapture terminal;
};

std::string repeat(const std::string& field, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += field;
  return out;
}

TEST_F(DistortionFiles, SplineFileLayoutAndRoundTrip) {
  SplineSet set = linear_set(64.0f, 64.0f, 0.5f, 0.0f, 0.25f, 0.0f);
  const std::string path = dir.file("grid.spline");
  Status status = kStatusGood;
  {
    ScriptedInput input({path});
    KZT_OUT_SPATIAL(set, kMaxSplineKnots, kMaxSplineKnots, status);
  }
  ASSERT_EQ(status, kStatusGood);
  const std::string zero = " 0.0000000E+00", edge = " 0.6400000E+02";
  const std::string knots = repeat(zero, 4) + edge + "\n" + repeat(edge, 3) + "\n";
  auto coefficients = [&](const std::string& v) {
    return repeat(v, 5) + "\n" + repeat(v, 5) + "\n" + repeat(v, 5) + "\n" + v + "\n";
  };
  const std::string expected =
      "SPATIAL DISTORTION SPLINE INTERPOLATION COEFFICIENTS\n\n  VALID REGION\n" +
      repeat(zero, 2) + repeat(edge, 2) +
      "\n\n  GRID SPACING, X-PIXEL SIZE, Y-PIXEL SIZE\n"
      " 0.5000000E+04 0.1000000E+03 0.1500000E+03\n\n  X-DISTORTION\n     8     8\n" +
      knots + knots + coefficients(" 0.5000000E+00") + "\n  Y-DISTORTION\n     8     8\n" +
      knots + knots + coefficients(" 0.2500000E+00");
  EXPECT_EQ(file_contents(path), expected);

  SplineSet back;
  std::string name = "grid.spline";
  int retstat = -1;
  ScriptedInput input({path});
  KZT_IN_SPATIAL(false, kMaxSplineKnots, kMaxSplineKnots, name, retstat, back, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(name, path);
  EXPECT_EQ(back.x.coeffs, set.x.coeffs);
  EXPECT_EQ(back.y.lambda, set.y.lambda);
  EXPECT_FLOAT_EQ(back.x_pixel_size, 1.0e-4f);
  EXPECT_FLOAT_EQ(back.y_pixel_size, 1.5e-4f);
  EXPECT_EQ(back.x_maximum, 64.0f);
}

TEST_F(DistortionFiles, SplineReaderRefusalsKeepTheHeldSet) {
  SplineSet set = linear_set(64.0f, 64.0f, 0.5f, 0.0f, 0.25f, 0.0f);
  const std::string good = dir.file("good.spline");
  Status status = kStatusGood;
  {
    ScriptedInput input({good});
    KZT_OUT_SPATIAL(set, kMaxSplineKnots, kMaxSplineKnots, status);
  }
  const std::string text = file_contents(good);
  auto replace = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  struct Case {
    std::string contents;
    int retstat;
    Status status;
  };
  const Case cases[] = {
      {"DISTORTION FUNCTION FROM IDEAL TO DISTORTED GRID, MEASURED ON IDEAL\n" + text, 2,
       kStatusGood},
      {"ANOTHER FILE\n", 2, kStatusGood},
      {replace("     8     8", "     8   201"), 1, kStatusGood},
      {replace("     8     8", "     7     8"), 1, kStatusGood},
      {text.substr(0, text.size() - 15), 3, kStatusGood},
      {replace(" 0.5000000E+04", " 0.50000X0E+04"), 0, kBaseApp + 1008},
      {replace(" 0.6400000E+02 0.6400000E+02\n\n", " 0.6400000E+02 0.0000000E+00\n\n"), 2,
       kStatusGood},
      {replace(repeat(" 0.0000000E+00", 4) + " 0.6400000E+02",
               repeat(" 0.0000000E+00", 3) + " 0.6500000E+02 0.6400000E+02"),
       2, kStatusGood},
  };
  for (const Case& c : cases) {
    write_file("bad.spline", c.contents);
    SplineSet held = set;
    std::string name = dir.file("bad.spline");
    int retstat = -1;
    Status s = kStatusGood;
    KZT_IN_SPATIAL(true, kMaxSplineKnots, kMaxSplineKnots, name, retstat, held, s);
    EXPECT_EQ(retstat, c.retstat) << c.contents.substr(0, 80);
    EXPECT_EQ(s, c.status);
    EXPECT_EQ(held.x.coeffs, set.x.coeffs);
    EXPECT_EQ(held.grid_spacing, set.grid_spacing);
  }
}

// A table of W x H pixels, every pixel's fractions 1 = 255 and shifts 0.
DistortionTable identity_table(Index w, Index h) {
  DistortionTable t;
  t.allocate(w, h);
  std::fill(t.x_shifts.begin(), t.x_shifts.end(), 0);
  std::fill(t.y_shifts.begin(), t.y_shifts.end(), 0);
  std::fill(t.fractions.begin(), t.fractions.end(), 0);
  for (std::size_t k = 0; k < t.fractions.size(); k += 9) t.fractions[k] = 255;
  return t;
}

std::string DistortionFiles::refused_load(const std::string& bytes) {
  write_file("bad.dclt", bytes);
  DistortionTable held = identity_table(2, 2);
  std::vector<float> data(16, 3.0f);
  bool defined = true, stored = false;
  int retstat = 0;
  Status status = kStatusGood;
  const std::size_t before = terminal.text().size();
  KZT_IN2DCLUT(dir.file("bad.dclt"), retstat, held, 4, 4, data, defined, stored, status);
  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(defined);
  EXPECT_EQ(held.xnumlut, 2);
  EXPECT_EQ(data[0], 3.0f);
  const std::string text = terminal.text().substr(before);
  EXPECT_NE(text.find(dir.file("bad.dclt")), std::string::npos) << text;
  return text;
}

const std::string kHeader =
    "DISTORTION CORRECTION LOOK-UP TABLE V02.00\r\n"
    "X_PIXEL_SIZE =  9.9999997E-05\r\n"
    "Y_PIXEL_SIZE =  9.9999997E-05\r\n"
    "X_NUMBER =           64\r\n"
    "Y_NUMBER =           64\r\n"
    "BYTES_PER_PIXEL_LUT =            1\r\n"
    "FLAT_FIELD_STORED = F\r\n"
    "!!! END OF HEADER SECTION !!!\r\n\x04\x1a";

TEST_F(DistortionFiles, TableFileBytesAndRoundTrip) {
  DistortionTable t = identity_table(64, 64);
  std::string bytes;
  ASSERT_TRUE(encode_dclut(t, false, {}, 64, bytes));
  ASSERT_EQ(bytes.size(), 8441u);
  EXPECT_EQ(bytes.substr(0, 248), kHeader);
  EXPECT_EQ(bytes.substr(248, 3), std::string("\0\0\x77", 3));
  EXPECT_EQ(bytes.substr(8441 - 4096), std::string(4096, '\0'));

  // Shifts: +7 along a row, a row start against the previous row's first
  // pixel; fractions with flags 128 and 129.
  t.x_shifts[1] = 7;
  t.y_shifts[64] = -7;
  t.y_shifts[65] = -7;
  std::fill_n(t.fractions.begin() + 9, 9, 0);
  t.fractions[9 + 8] = 255;
  std::fill_n(t.fractions.begin() + 18, 9, 0);
  t.fractions[18] = 100, t.fractions[19] = 50, t.fractions[26] = 105;
  ASSERT_TRUE(encode_dclut(t, false, {}, 64, bytes));
  EXPECT_EQ(static_cast<unsigned char>(bytes[248 + 2]), 0xE7u);      // (7+7, 0+7)
  EXPECT_EQ(static_cast<unsigned char>(bytes[248 + 3]), 0x07u);      // back by 7
  EXPECT_EQ(static_cast<unsigned char>(bytes[248 + 1 + 64]), 0x70u);  // row 2 from (1, 1)
  const std::size_t f = 248 + 4097;
  EXPECT_EQ(bytes.substr(f, 6), std::string("\0\x80\0\x81\x64\x32", 6));

  write_file("t.dclt", bytes);
  DistortionTable back;
  std::vector<float> flat(64 * 64, 7.0f);
  bool defined = false, stored = true;
  int retstat = -1;
  Status status = kStatusGood;
  KZT_IN2DCLUT(dir.file("t.dclt"), retstat, back, 64, 64, flat, defined, stored, status);
  ASSERT_EQ(retstat, 0);
  EXPECT_TRUE(defined);
  EXPECT_FALSE(stored);
  EXPECT_EQ(back.x_shifts, t.x_shifts);
  EXPECT_EQ(back.y_shifts, t.y_shifts);
  EXPECT_EQ(back.fractions, t.fractions);
  EXPECT_EQ(flat[0], 7.0f);

  t.x_shifts[2] = 15;  // +8 from its neighbour: the store stops
  EXPECT_FALSE(encode_dclut(t, false, {}, 64, bytes));
}

TEST_F(DistortionFiles, TableFileWithFlatField) {
  DistortionTable t = identity_table(3, 2);
  std::vector<float> field = {1.0f, 2.0f, 3.0f, 0.0f, 1.0f, 2.0f, 3.0f, 0.0f};  // 4 wide
  std::string bytes;
  ASSERT_TRUE(encode_dclut(t, true, field, 4, bytes));
  EXPECT_EQ(bytes.substr(215, 28), "FF_OFFSET =  1.0000000E+00\r\n");
  EXPECT_EQ(bytes.substr(243, 29), "FF_SCALING =  3.2767500E+04\r\n");
  EXPECT_EQ(bytes[305], '\0');
  EXPECT_EQ(bytes.substr(306, 4), std::string("\0\0\x80\0", 4));  // 0 and 32768
  // An infinite pixel neither sets the scaling nor escapes the 16-bit range.
  std::vector<float> with_inf = field;
  with_inf[0] = INFINITY;
  std::string inf_bytes;
  ASSERT_TRUE(encode_dclut(t, true, with_inf, 4, inf_bytes));
  EXPECT_EQ(inf_bytes.substr(215, 57), bytes.substr(215, 57));
  EXPECT_EQ(inf_bytes.substr(306, 2), "\xff\xff");
  write_file("f.dclt", bytes);
  DistortionTable back;
  std::vector<float> data(4 * 3, -1.0f);
  bool defined = false, stored = false;
  int retstat = -1;
  Status status = kStatusGood;
  KZT_IN2DCLUT(dir.file("f.dclt"), retstat, back, 4, 3, data, defined, stored, status);
  ASSERT_EQ(retstat, 0);
  EXPECT_TRUE(stored);
  for (int i : {0, 1, 2, 4, 5, 6}) EXPECT_NEAR(data[i], field[i], 1.0e-4f) << i;
  EXPECT_EQ(data[3], -1.0f);
}

TEST_F(DistortionFiles, TableReaderRefusalsChangeNothing) {
  DistortionTable t = identity_table(4, 4);
  t.fractions[9] = 200, t.fractions[10] = 55;
  std::string good;
  ASSERT_TRUE(encode_dclut(t, false, {}, 4, good));
  auto at = [&](std::size_t offset, const std::string& part) {
    std::string b = good;
    b.replace(offset, part.size(), part);
    return b;
  };
  const std::string cases[] = {
      good.substr(0, 90),                        // no whole header
      good.substr(0, good.size() - 1),           // data cut short
      at(44, "Y"),                               // key
      at(117, "          -4"),                   // X_NUMBER < 1
      at(117, "          x4"),                   // not a number
      at(178, "           2"),                   // two bytes a pixel
      at(215, "!!! END OF HEADER SECTION !!?"),  // terminator
      at(248 + 2, "\xF7"),                       // nibble 15
      at(248, "\x80"),                           // shift -128
      at(248 + 17 + 1, "\x03\xC8\xC8"),          // fractions above 255
  };
  std::vector<std::string> all(std::begin(cases), std::end(cases));
  // A flat field whose scaling is not positive.
  std::vector<float> field(16, 2.0f);
  std::string with_field;
  ASSERT_TRUE(encode_dclut(t, true, field, 4, with_field));
  all.push_back(with_field.replace(256, 14, "-6.5535000E+09"));
  for (const std::string& bytes : all) refused_load(bytes);
}

// The last fraction of a pixel is implied, so a damaged flag byte or bytes
// past the data keep every sum right. A file whose fraction pass does not end
// at its end (a flag 128 of a pixel holding only fraction 9 made 0: the stream
// runs one byte short of the end; bytes added; the file cut), or that gives a
// fraction of 0 where its flag byte says it is not (flag 13 made 0: its three
// fraction bytes are read as the next pixels' flags and the stream ends where
// it should), is refused in one line naming it.
TEST_F(DistortionFiles, TableFileThatItsFlagsDoNotFitIsRefused) {
  DistortionTable t = identity_table(4, 4);
  const auto pixel = [&](Index k, std::initializer_list<std::pair<int, int>> fractions) {
    std::fill_n(t.fractions.begin() + 9 * k, 9, 0);
    for (const auto& [at, v] : fractions) t.fractions[9 * k + at] = static_cast<std::uint8_t>(v);
  };
  pixel(1, {{8, 255}});                              // flag 128, fraction 1 stored as 0
  pixel(2, {{0, 100}, {1, 55}, {3, 40}, {4, 60}});   // flag 13
  pixel(5, {{0, 200}, {2, 55}});                     // flag 2
  pixel(9, {{1, 128}, {8, 127}});                    // flag 129
  std::string good;
  ASSERT_TRUE(encode_dclut(t, false, {}, 4, good));
  const std::size_t flag = 248 + 2 + 15 + 1;  // the second pixel's flag
  ASSERT_EQ(good.substr(flag, 3), std::string("\x80\0\x0D", 3));
  {
    write_file("good.dclt", good);
    DistortionTable back;
    std::vector<float> data(16);
    bool defined = false, stored = false;
    int retstat = 1;
    Status status = kStatusGood;
    KZT_IN2DCLUT(dir.file("good.dclt"), retstat, back, 4, 4, data, defined, stored, status);
    ASSERT_EQ(retstat, 0);
    EXPECT_EQ(back.fractions, t.fractions);
  }
  std::string flag_lost = good, flag_cleared = good;
  flag_lost[flag] = '\0';
  flag_cleared[flag + 2] = '\0';
  for (const std::string& bytes : {flag_lost, flag_cleared, good + std::string(100, '\0'),
                                   good + "x", good.substr(0, good.size() - 1)}) {
    const std::string text = refused_load(bytes);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  }
}

// The spline file and the table written to a device that refuses them: the
// file and the system's reason, and a failure; a spline file that cannot be
// opened is named, with the reason, before its name is asked again.
TEST_F(DistortionFiles, FailedWritesGiveTheReasonAndAFailure) {
  const std::string full = dir.file("full");
  std::filesystem::create_symlink("/dev/full", full);
  // The message names the device the link leads to.
  const std::string reason =
      "WARNING: Error in writing file /dev/full: writing to it failed: No space left on device";
  Status status = kStatusGood;
  {
    ScriptedInput input({full});
    KZT_OUT_SPATIAL(linear_set(64.0f, 64.0f, 0.5f, 0.0f, 0.25f, 0.0f), kMaxSplineKnots,
                    kMaxSplineKnots, status);
  }
  EXPECT_EQ(status, kBaseCore + 1010);
  EXPECT_NE(terminal.text().find(reason), std::string::npos) << terminal.text();

  status = kStatusGood;
  const DistortionTable t = identity_table(2, 2);
  std::vector<float> data(4, 1.0f);
  int retstat = -1;
  {
    ScriptedInput input({full, "NO"});
    KZT_OUT_DCLUT(false, "image.kzt", t, 2, 2, 2, 2, data, retstat, status);
  }
  EXPECT_EQ(status, kBaseCore + 1010);
  EXPECT_NE(terminal.text().rfind(reason), terminal.text().find(reason)) << terminal.text();

  const std::string pipe = dir.file("pipe.spline");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  status = kStatusGood;
  ScriptedInput input({pipe, "\\\\"});
  KZT_OUT_SPATIAL(linear_set(64.0f, 64.0f, 0.5f, 0.0f, 0.25f, 0.0f), kMaxSplineKnots,
                  kMaxSplineKnots, status);
  EXPECT_NE(terminal.text().find("WARNING: Error in opening file " + pipe +
                                 ": no program is reading from the named pipe"),
            std::string::npos)
      << terminal.text();
}

TEST_F(DistortionFiles, StoreStoppedByAFractionSumLeavesNoFile) {
  DistortionTable t = identity_table(2, 2);
  t.fractions[9] = 254;
  std::vector<float> data(4, 1.0f);
  const std::string path = dir.file("table.dclt");
  write_file("table.dclt", "old table");
  int retstat = -1;
  Status status = kStatusGood;
  ScriptedInput input({path, "NO"});
  KZT_OUT_DCLUT(false, "image.kzt", t, 2, 2, 2, 2, data, retstat, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(file_contents(path), "old table");
  int length = 0, db = 0;
  std::string value;
  IO_INQ_KEYVALUE(kDclutFileKey, length, value, db, status);
  EXPECT_EQ(db, 2);
  EXPECT_NE(terminal.text().find("ERROR: The sum of the fractions is not 255 at pixel      2     1"),
            std::string::npos);
}

}  // namespace
}  // namespace kesta
