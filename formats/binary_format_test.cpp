#include "formats/binary_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/raw_io.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "formats/format_menus.hpp"

namespace kesta {
namespace {

struct Image {
  Image(Index x, Index y)
      : xmax(x), ymax(y), data(x * y, -7.0f), var(x * y), xaxis(x), yaxis(y) {}
  Index xmax, ymax;
  std::vector<float> data, var, xaxis, yaxis;
  std::string title = "old", xl = "x", yl = "y", zl = "z";
  float xps = 1, yps = 1, overload = 0;
  Index xnum = 0, ynum = 0;
  bool variances = true;
};

template <typename T>
T from_bytes(const std::string& bytes, std::size_t at, bool big_endian) {
  T v;
  std::memcpy(&v, bytes.data() + at, sizeof v);
  return big_endian != IO_BIG_ENDIAN() ? byte_swapped(v) : v;
}

class Binary : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    io_clear_database();
    fio_reset_binary();
  }
  void TearDown() override { io_clear_database(); }

  int write(const Image& im, std::vector<std::string> answers, int bytes, bool header = true) {
    testing::ScriptedInput input(answers);
    int retstat = -9;
    FIO_OUT_BINARY(false, "in.dat", im.xmax, im.ymax, 1, 1, im.xmax, im.ymax, im.data, "A title",
                   "X lab", "Y lab", "Z lab", 50e-6f, 75e-6f, header, bytes, retstat, status_);
    return retstat;
  }
  int read(Image& im, std::vector<std::string> answers) {
    testing::ScriptedInput input(answers);
    int retstat = -9;
    std::string name = "none";
    const ImageTarget target{im.xmax,  im.ymax, im.variances, im.xnum, im.ynum, im.xaxis,
                             im.yaxis, im.data, im.var,       im.title, im.xl,   im.yl,
                             im.zl,    im.xps,  im.yps};
    FIO_IN_BINARY(false, true, target, name, retstat, im.overload, status_);
    return retstat;
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Binary, WritesScaledIntegersAndTheInfoFile) {
  Image im(3, 2);
  im.data = {0, 1, 2, 300, 65535, 7};
  const std::string path = dir_.file("a.bin");
  // Name, record length 8 (padded), pad, first record 2, big endian, limits.
  ASSERT_EQ(write(im, {path, "8", "YES", "2", "YES", "0", "65535"}, 2), 0);
  const std::string bytes = testing::file_contents(path);
  ASSERT_EQ(bytes.size(), 24u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(bytes[i], '\0');
  const std::vector<std::uint16_t> expected = {0, 1, 2, 0, 300, 65535, 7, 0};
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(from_bytes<std::uint16_t>(bytes, 8 + 2 * i, true), expected[i]) << i;
  EXPECT_EQ(testing::file_contents(path + ".info"),
            "Name of binary file containing image data = a.bin\n"
            "Number of pixels (horizontal/vertical) =          3         2\n"
            "Integer data: Number of bytes per pixel =  2 (unsigned)\n"
            "The data has been written in \"big endian\" format. (Normal for HP/SUN/SG)\n"
            "Nominal horizontal pixel size =       50.000 (microns)\n"
            "Nominal vertical pixel size   =       75.000 (microns)\n"
            "Pixel number of first output pixel (pixel offsets) =          1         1\n"
            "Title = A title\n"
            "X-axis label = X lab\n"
            "Y-axis label = Y lab\n"
            "Z-axis label = Z lab\n"
            "Input data value scaled to lowest file value  =  0.0000000E+00\n"
            "Input data value scaled to highest file value =  6.5535000E+04\n"
            "Record length =        8 (bytes); First output record =        2\n"
            "Records have been padded out. \n");
}

TEST_F(Binary, RoundTripsInEitherByteOrderWithTheInfoDefaults) {
  struct Case {
    int bytes;
    const char* big_endian;
    std::vector<float> values;
  };
  const std::vector<Case> cases = {
      {2, "YES", {0, 1, 65535, 1234, 9, 40000}},
      {2, "NO", {0, 1, 65535, 1234, 9, 40000}},
      {4, "YES", {-5, 0, 1000000, -1000000, 3, 7}},
      {4, "NO", {-5, 0, 1000000, -1000000, 3, 7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bytes) + c.big_endian);
    Image im(3, 2);
    im.data = c.values;
    const std::string path = dir_.file("r.bin");
    const std::string range = c.bytes == 2 ? "65535" : "2147483648";
    const std::string low = c.bytes == 2 ? "0" : "-2147483648";
    ASSERT_EQ(write(im, {path, "", "1", c.big_endian, low, range}, c.bytes), 0);
    // Sizes, data type, swap and sign all default from the ".info" file.
    Image back(4, 4);
    ASSERT_EQ(read(back, {path, "", "", "", "", ""}), 0);
    EXPECT_EQ(back.xnum, 3);
    EXPECT_EQ(back.ynum, 2);
    for (Index y = 1; y <= 2; ++y)
      for (Index x = 1; x <= 3; ++x)
        EXPECT_EQ(back.data[element(x, y, 4)], c.values[element(x, y, 3)]);
    EXPECT_FLOAT_EQ(back.xps, 50e-6f);
    EXPECT_FLOAT_EQ(back.yps, 75e-6f);
    EXPECT_FALSE(back.variances);
    EXPECT_EQ(back.overload, c.bytes == 2 ? 65534.5f : 2147483648.0f);
  }
}

TEST_F(Binary, ShortFileOrMissingInfoLeavesTheDataAlone) {
  const std::string path = dir_.file("s.bin");
  std::ofstream(path, std::ios::binary) << std::string(5, 'x');
  Image im(4, 4);
  // No ".info": the two-line warning, the remembered sizes 4 x 4, bytes.
  EXPECT_EQ(read(im, {path, "", "", "BYTE VALUES"}), 5);
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_EQ(im.data[0], -7.0f);
  EXPECT_EQ(im.title, "old");
  EXPECT_NE(terminal_.text().find("(The detector's stored pixel sizes are used.)"),
            std::string::npos);
  // A wider file than the arrays: the first XMAXDAT pixels of each row.
  std::ofstream(path, std::ios::binary) << std::string("\x01\x02\x03\x04\x05\x06", 6);
  Image small(2, 2);
  EXPECT_EQ(read(small, {path, "3", "2", "BYTE VALUES"}), 0);
  EXPECT_EQ(small.data, (std::vector<float>{1, 2, 4, 5}));
  EXPECT_EQ(small.overload, 255.5f);
  EXPECT_EQ(read(small, {path, "\\\\"}), -1);
}

TEST_F(Binary, DenzoMarHeaderRecordAndColumnOrder) {
  Image im(100, 50);
  for (Index i = 0; i < 5000; ++i) im.data[static_cast<std::size_t>(i)] = static_cast<float>(i % 1000);
  const std::string path = dir_.file("d.corr");
  testing::ScriptedInput input({path, "200", "NO", "", ""});
  int retstat = -9;
  FIO_OUT_MAR(false, "in", 100, 50, 1, 1, 100, 50, im.data, retstat, status_);
  ASSERT_EQ(retstat, 0);
  const std::string bytes = testing::file_contents(path);
  ASSERT_EQ(bytes.size(), 10200u);
  EXPECT_EQ(from_bytes<std::int32_t>(bytes, 0, IO_BIG_ENDIAN()), 100);
  EXPECT_EQ(from_bytes<std::int32_t>(bytes, 4, IO_BIG_ENDIAN()), 50);
  EXPECT_EQ(bytes.substr(100, 24), "**-***-*** **:**:**.**  ");
  EXPECT_EQ(bytes.substr(124, 76), std::string(76, '\0'));
  // Column 1 first: pixels (1,1), (1,2), ... little-endian.
  EXPECT_EQ(from_bytes<std::uint16_t>(bytes, 200, false), 0);
  EXPECT_EQ(from_bytes<std::uint16_t>(bytes, 202, false), 100);
  EXPECT_EQ(from_bytes<std::uint16_t>(bytes, 200 + 2 * 50, false), 1);
}

TEST_F(Binary, DumpAndBinaryGiveTheSameFilesAndNoHeaderFilesDropsTheInfo) {
  Image im(3, 2);
  im.data = {0, 1, 2, 300, 65535, 7};
  auto output = [&](std::vector<std::string> answers) {
    testing::ScriptedInput input(answers);
    FIO_OUTPUT("in.dat", 3, 2, 1, 1, 3, 2, im.xaxis, im.yaxis, im.data, im.var, "t", "x", "y",
               "z", false, 1e-4f, 1e-4f, status_);
  };
  fio_reset_format_menus();
  const std::string a = dir_.file("a.bin"), b = dir_.file("b.bin");
  output({"BINARY (UNFORMATTED)", a, "", "", "", "", ""});
  output({"DUMP", b, "", "", "", "", ""});
  ASSERT_EQ(status_, kStatusGood);
  EXPECT_EQ(testing::file_contents(a).size(), 12u);
  EXPECT_EQ(testing::file_contents(a), testing::file_contents(b));
  output({"NO HEADER FILES"});
  output({"BINARY (UNFORMATTED)", dir_.file("c.bin"), "", "", "", "", ""});
  EXPECT_TRUE(std::filesystem::exists(a + ".info"));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("c.bin.info")));
  fio_reset_format_menus();
}

// Every writer that scales the region onto integers offers limits it can
// write with (from the finite values, the upper one above the lower), so
// images with infinite pixels or of one value (beyond 2^53, where one more
// is the value itself in double precision too, and the largest single value,
// which has no finite value above it) are written with the defaults.
// Equal typed limits, and limits the wrong way round (which would write the
// image inverted), are asked for again, offering the limits offered before,
// from a macro as at the keyboard.
TEST_F(Binary, ScaledWritersOfferLimitsTheyCanWriteWith) {
  struct Row {
    const char* format;
    std::vector<std::string> before_limits;
    std::size_t size;
  };
  const Row rows[] = {
      {"BINARY (UNFORMATTED)", {"", "", ""}, 12},
      {"DUMP", {"", "", ""}, 12},
      {"4-BYTE INTEGERS", {"", "", ""}, 24},
      {"DENZO MAR FORMAT", {"", ""}, 248},
      {"TIFF INTEGERS", {"1 BYTE UNSIGNED INTEGERS"}, 1024},
      {"TIFF INTEGERS", {"2 BYTE UNSIGNED INTEGERS"}, 1024},
  };
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> images[] = {{0, 1, inf, 65535, std::nanf(""), 7},
                                       {0, 0, 0, 0, 0, 0},
                                       {-inf, -inf, -inf, inf, inf, inf},
                                       std::vector<float>(6, 1.0e16f),
                                       std::vector<float>(6, std::numeric_limits<float>::max())};
  Image im(3, 2);
  auto output = [&](const std::vector<float>& data) {
    im.data = data;
    FIO_OUTPUT("in.dat", 3, 2, 1, 1, 3, 2, im.xaxis, im.yaxis, im.data, im.var, "t", "x", "y",
               "z", false, 1e-4f, 1e-4f, status_);
  };
  fio_reset_format_menus();
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.format) + " " + r.before_limits[0]);
    auto answers = [&](const std::string& path, std::vector<std::string> limits) {
      std::vector<std::string> all = {r.format, path};
      all.insert(all.end(), r.before_limits.begin(), r.before_limits.end());
      all.insert(all.end(), limits.begin(), limits.end());
      return all;
    };
    for (const auto& data : images) {
      const std::string path = dir_.file("f" + std::to_string(++n));
      {
        testing::ScriptedInput input(answers(path, {"", ""}));
        output(data);
      }
      ASSERT_EQ(status_, kStatusGood) << terminal_.text();
      EXPECT_EQ(testing::file_contents(path).size(), r.size);
    }
    const std::string again = dir_.file("f" + std::to_string(++n));
    {
      testing::ScriptedInput input(answers(again, {"3", "3", "10", "1", "0", "10"}));
      output(images[0]);
      EXPECT_EQ(input.remaining(), 0u);
    }
    ASSERT_EQ(status_, kStatusGood);
    EXPECT_EQ(testing::file_contents(again).size(), r.size);

    // Enter after a refused range takes the limits offered before.
    const std::string offered = dir_.file("f" + std::to_string(++n));
    {
      testing::ScriptedInput input(answers(offered, {"3", "3", "", ""}));
      output(images[0]);
      EXPECT_EQ(input.remaining(), 0u);
    }
    ASSERT_EQ(status_, kStatusGood);
    EXPECT_EQ(testing::file_contents(offered).size(), r.size);

    // A recorded session replays as it went: the range is asked again and
    // the macro's next lines answer it; when they run out, the terminal does.
    for (const bool short_macro : {false, true}) {
      SCOPED_TRACE(short_macro ? "macro ends" : "whole macro");
      const std::string replayed = dir_.file("f" + std::to_string(++n));
      std::string macro = dir_.file("limits.mac"), text;
      for (const std::string& a :
           answers(replayed, short_macro ? std::vector<std::string>{"3", "3"}
                                         : std::vector<std::string>{"3", "3", "0", "10", "NEXT"}))
        text += a + "\n";
      { std::ofstream(macro) << text; }
      IO_OPEN_INMACRO(false, macro, status_);
      {
        testing::ScriptedInput input(short_macro ? std::vector<std::string>{"0", "10"}
                                                 : std::vector<std::string>{});
        output(images[0]);
        EXPECT_EQ(input.remaining(), 0u);
      }
      EXPECT_EQ(status_, kStatusGood);
      EXPECT_EQ(testing::file_contents(replayed).size(), r.size);
      if (!short_macro) {
        std::string next;
        IO_READ_MACRO(kStreamInputMacro, next, status_);
        EXPECT_EQ(next, "NEXT");
      }
      IO_CLOSE_INMACRO(status_);
      status_ = ST_GOOD();
    }
  }
  // The window's form replays the same way: shown again after the warning,
  // it takes the macro's next lines, and offers the limits offered before.
  for (const bool denzo : {false, true}) {
    SCOPED_TRACE(denzo ? "DENZO MAR form" : "BINARY form");
    const std::string written = dir_.file("f" + std::to_string(++n));
    std::string macro = dir_.file("form.mac");
    {
      std::ofstream(macro) << "FILE NAME\n"
                           << written << "\nLOWER RANGE\n3\nUPPER RANGE\n3\nO.K.\nO.K.\nNEXT\n";
    }
    const std::size_t before = terminal_.text().size();
    IO_OPEN_INMACRO(false, macro, status_);
    im.data = images[0];
    int retstat = -9;
    if (denzo)
      FIO_OUT_MAR(true, "in.dat", 3, 2, 1, 1, 3, 2, im.data, retstat, status_);
    else
      FIO_OUT_BINARY(true, "in.dat", 3, 2, 1, 1, 3, 2, im.data, "t", "x", "y", "z", 1e-4f, 1e-4f,
                     true, 2, retstat, status_);
    EXPECT_EQ(status_, kStatusGood);
    EXPECT_EQ(retstat, 0) << terminal_.text().substr(before);
    EXPECT_TRUE(std::filesystem::exists(written));
    std::string next;
    IO_READ_MACRO(kStreamInputMacro, next, status_);
    EXPECT_EQ(next, "NEXT");
    IO_CLOSE_INMACRO(status_);
    status_ = ST_GOOD();
  }
  fio_reset_format_menus();
}

}  // namespace
}  // namespace kesta
