#include "formats/item_reader.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <filesystem>
#include <functional>
#include <numeric>
#include <vector>

#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

constexpr int kWriteUnit = 31;
constexpr int kReadUnit = 32;

// Writes an item file through the core writer.
void write_items(const std::string& path, const std::function<void(int, Index&, Status&)>& body) {
  ASSERT_TRUE(io_open_stream(kWriteUnit, path, "wb"));
  Index record = 1;
  Status status = ST_GOOD();
  body(kWriteUnit, record, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(io_close_stream(kWriteUnit));
}

// Rewrites bytes of a file in place.
void patch(const std::string& path, Index offset, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::fseek(f, static_cast<long>(offset), SEEK_SET);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

class ItemReader : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_.file("items.fff"); }
  void TearDown() override { io_close_stream(kReadUnit); }
  void open() { ASSERT_TRUE(io_open_stream(kReadUnit, path_, "rb")); }

  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  std::string path_;
  Status status_ = ST_GOOD();
};

TEST_F(ItemReader, ScalarsAndStringsReadBackExactly) {
  write_items(path_, [](int u, Index& r, Status& s) {
    IO_FWRITE_INTEGER(u, "count", -123456, r, s);
    IO_FWRITE_INTEGER(u, "big", 2147483647, r, s);
    IO_FWRITE_REAL(u, "wavelength", 1.5418e-10f, r, s);
    IO_FWRITE_REAL(u, "negative", -2.75f, r, s);
    // Values whose sign-and-magnitude field is "80000000".
    IO_FWRITE_INTEGER(u, "lowest", std::numeric_limits<std::int32_t>::min(), r, s);
    IO_FWRITE_REAL(u, "minus_zero", -0.0f, r, s);
    IO_FWRITE_STRING(u, "title", "Lysozyme  test image", r, s);
    IO_FWRITE_STRING(u, "empty", "", r, s);
  });
  open();
  int retstat = 0;
  std::int32_t i = 0, big = 0;
  float wl = 0, neg = 0;
  FIO_FREAD_INTEGER(kReadUnit, "count", retstat, i, status_);
  FIO_FREAD_INTEGER(kReadUnit, "big", retstat, big, status_);
  FIO_FREAD_REAL(kReadUnit, "wavelength", retstat, wl, status_);
  FIO_FREAD_REAL(kReadUnit, "negative", retstat, neg, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(i, -123456);
  EXPECT_EQ(big, 2147483647);
  EXPECT_EQ(wl, 1.5418e-10f);
  EXPECT_EQ(neg, -2.75f);
  std::int32_t lowest = 0;
  float minus_zero = 1.0f;
  FIO_FREAD_INTEGER(kReadUnit, "lowest", retstat, lowest, status_);
  FIO_FREAD_REAL(kReadUnit, "minus_zero", retstat, minus_zero, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(lowest, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(minus_zero, 0.0f);
  EXPECT_TRUE(std::signbit(minus_zero));

  std::string text = "old";
  FIO_FREAD_STRING(kReadUnit, "title", 80, retstat, text, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(text, "Lysozyme  test image");
  FIO_FREAD_STRING(kReadUnit, "title", 8, retstat, text, status_);
  EXPECT_EQ(retstat, -1);
  EXPECT_EQ(text, "Lysozyme");
  FIO_FREAD_STRING(kReadUnit, "empty", 80, retstat, text, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(ItemReader, ReturnCodesForMissingAndWrongTypeKeepEarlierCodes) {
  write_items(path_, [](int u, Index& r, Status& s) {
    IO_FWRITE_REAL(u, "x_pixel_size", 1e-4f, r, s);
    IO_FWRITE_INTEGER(u, "n", 7, r, s);
  });
  open();
  int retstat = 0;
  std::int32_t n = 0;
  FIO_FREAD_INTEGER(kReadUnit, "x_pixel_size", retstat, n, status_);
  EXPECT_EQ(retstat, 2);
  retstat = 0;
  FIO_FREAD_INTEGER(kReadUnit, "absent", retstat, n, status_);
  EXPECT_EQ(retstat, 1);
  EXPECT_NE(terminal_.text().find("INFO: File item not found: absent"), std::string::npos);
  FIO_FREAD_INTEGER(kReadUnit, "n", retstat, n, status_);
  EXPECT_EQ(retstat, 1) << "a success leaves an earlier code";
  EXPECT_EQ(n, 7);
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(ItemReader, NamesMatchExactlyNotByPrefix) {
  write_items(path_, [](int u, Index& r, Status& s) {
    IO_FWRITE_STRING(u, "x_axis_label", "long name", r, s);
    IO_FWRITE_STRING(u, "X_AXIS", "upper", r, s);
    IO_FWRITE_STRING(u, "x_axis", "short name", r, s);
  });
  open();
  int retstat = 0;
  std::string text;
  FIO_FREAD_STRING(kReadUnit, "x_axis", 80, retstat, text, status_);
  EXPECT_EQ(text, "short name");
  FIO_FREAD_STRING(kReadUnit, "x_axis_label", 80, retstat, text, status_);
  EXPECT_EQ(text, "long name");
  retstat = 0;
  FIO_FREAD_STRING(kReadUnit, "x_axis_lab", 80, retstat, text, status_);
  EXPECT_EQ(retstat, 1);
}

TEST_F(ItemReader, SearchSkipsDataRecordsByCountEvenWhenTheyLookLikeHeaders) {
  // An array whose data records begin with bytes that read as a header of
  // the wanted name: only the record counts lead the search past them.
  std::string fake = "\\target:00000000s00000004FAKE";
  fake.resize(512 * 2, ' ');
  std::vector<float> values(256);
  std::memcpy(values.data(), fake.data(), 1024);
  write_items(path_, [&](int u, Index& r, Status& s) {
    IO_FWRITE_RARRAY(u, "blob", 256, 1, 1, 1, 256, 1, values, r, s);
    IO_FWRITE_STRING(u, "target", "REAL", r, s);
  });
  open();
  bool found = false;
  char type = ' ';
  Index record = 0;
  int position = 0;
  FIO_FREAD_SEARCHITEM(kReadUnit, "target", 1, found, type, record, position, status_);
  EXPECT_TRUE(found);
  EXPECT_EQ(type, 's');
  EXPECT_EQ(record, 4);
  EXPECT_EQ(position, 6 + 11);
  int retstat = 0;
  std::string text;
  FIO_FREAD_STRING(kReadUnit, "target", 80, retstat, text, status_);
  EXPECT_EQ(text, "REAL");
}

TEST_F(ItemReader, ItemsBeyondTwoGibibytesAreFound) {
  // A sparse file: an array item of 2 GiB of data records, then a string.
  const Index records = Index{1} << 22;  // 4M records of 512 bytes
  std::string big = "\\big:00400000ar00000020000000020010000000000200";
  big.resize(511, ' ');
  big += '\n';
  std::string tail;
  Status s = ST_GOOD();
  IO_ENCODE_STRING("after", "far away", 512, tail, s);
  {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(big.data(), 1, 512, f);
    std::fclose(f);
  }
  std::filesystem::resize_file(path_, static_cast<std::uintmax_t>((records + 1) * 512));
  {
    std::FILE* f = std::fopen(path_.c_str(), "ab");
    std::fwrite(tail.data(), 1, 512, f);
    std::fclose(f);
  }
  open();
  int retstat = 0;
  std::string text;
  FIO_FREAD_STRING(kReadUnit, "after", 80, retstat, text, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(text, "far away");
  std::filesystem::remove(path_);
}

TEST_F(ItemReader, ArraysOfEveryKindReadBackElementForElement) {
  const Index nx = 37, ny = 11;  // rows that do not align with records
  std::vector<float> reals(nx * ny);
  std::vector<std::int32_t> ints(nx * ny);
  std::vector<std::uint8_t> flags(nx * ny);
  for (Index k = 0; k < nx * ny; ++k) {
    reals[k] = 0.25f * static_cast<float>(k) - 30.0f;
    ints[k] = static_cast<std::int32_t>(k * 7919 - 50000);
    flags[k] = (k % 3 == 0 || k % 31 == 30) ? 1 : 0;
  }
  const std::vector<std::string> texts = {"alpha", "be", "", "gamma ray"};
  write_items(path_, [&](int u, Index& r, Status& s) {
    IO_FWRITE_RARRAY(u, "reals", nx, ny, 1, 1, nx, ny, reals, r, s);
    IO_FWRITE_IARRAY(u, "ints", nx, ny, 1, 1, nx, ny, ints, r, s);
    IO_FWRITE_L1ARRAY(u, "mask", nx, ny, 1, 1, nx, ny, flags, r, s);
    IO_FWRITE_CARRAY(u, "names", 4, 1, 4, texts, r, s);
  });
  open();
  int retstat = 5;
  Index xn = 0, yn = 0;
  std::vector<float> r(nx * ny, -1.0f);
  FIO_FREAD_RARRAY(kReadUnit, false, "reals", nx, ny, retstat, xn, yn, r, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(xn, nx);
  EXPECT_EQ(yn, ny);
  EXPECT_EQ(r, reals);
  std::vector<std::int32_t> i(nx * ny);
  FIO_FREAD_IARRAY(kReadUnit, false, "ints", nx, ny, retstat, xn, yn, i, status_);
  EXPECT_EQ(i, ints);
  std::vector<std::uint8_t> m(nx * ny, 9);
  FIO_FREAD_L1ARRAY(kReadUnit, "mask", nx, ny, retstat, xn, yn, m, status_);
  EXPECT_EQ(m, flags);
  std::vector<std::string> c(4);
  Index num = 0;
  FIO_FREAD_CARRAY(kReadUnit, "names", 20, retstat, num, c, status_);
  EXPECT_EQ(num, 4);
  EXPECT_EQ(c, texts);
  // Elements shorter than the file's keep their characters beyond it; an
  // array of fewer elements is filled in part.
  std::vector<std::string> shorter(3, "xxxxxx");
  FIO_FREAD_CARRAY(kReadUnit, "names", 3, retstat, num, shorter, status_);
  EXPECT_EQ(retstat, -1);
  EXPECT_EQ(num, 3);
  EXPECT_NE(terminal_.text().find("File array size =          9         4"), std::string::npos);
  EXPECT_EQ(shorter, (std::vector<std::string>{"alpxxx", "be xxx", "   xxx"}));

  // Swapped reading reverses every value.
  FIO_FREAD_IARRAY(kReadUnit, true, "ints", nx, ny, retstat, xn, yn, i, status_);
  EXPECT_EQ(i[5], byte_swapped(ints[5]));
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(ItemReader, LargerArrayIsReadInPartRowByRow) {
  const Index nx = 20, ny = 16;
  std::vector<float> file(nx * ny);
  std::iota(file.begin(), file.end(), 1.0f);
  write_items(path_, [&](int u, Index& r, Status& s) {
    IO_FWRITE_RARRAY(u, "data", nx, ny, 1, 1, nx, ny, file, r, s);
  });
  open();
  const Index room = 8;
  std::vector<float> a(room * room, -7.0f);
  int retstat = 0;
  Index xn = 0, yn = 0;
  FIO_FREAD_RARRAY(kReadUnit, false, "data", room, room, retstat, xn, yn, a, status_);
  EXPECT_EQ(retstat, -1);
  EXPECT_EQ(xn, 8);
  EXPECT_EQ(yn, 8);
  EXPECT_NE(terminal_.text().find("File array size =         20        16"), std::string::npos);
  EXPECT_EQ(a[element(1, 2, room)], file[element(1, 2, nx)]);
  EXPECT_EQ(a[element(8, 8, room)], file[element(8, 8, nx)]);

  // A 1-D item into a wider array keeps the elements beyond it.
  std::vector<float> wide(30 * 2, -7.0f);
  FIO_FREAD_RARRAY(kReadUnit, false, "data", 30, 2, retstat, xn, yn, wide, status_);
  EXPECT_EQ(xn, 20);
  EXPECT_EQ(yn, 2);
  EXPECT_EQ(wide[element(1, 2, 30)], file[element(1, 2, nx)]);
  EXPECT_EQ(wide[element(21, 1, 30)], -7.0f);
  EXPECT_EQ(status_, kStatusGood);
}

// Rows of another stride than the array's, over several blocks of the read
// buffer: every element of the extent from its place in the file, the gaps
// untouched, byte-swapped too.
TEST_F(ItemReader, RowsOfAnotherStrideOverManyBlocks) {
  const Index nx = 300, ny = 500;
  std::vector<float> file(nx * ny);
  std::iota(file.begin(), file.end(), 1.0f);
  write_items(path_, [&](int u, Index& r, Status& s) {
    IO_FWRITE_RARRAY(u, "data", nx, ny, 1, 1, nx, ny, file, r, s);
  });
  struct Case {
    Index xmax, ymax, xn, yn;
    bool swap;
  };
  for (const Case& c : {Case{301, 501, 300, 500, false}, Case{200, 499, 200, 499, false},
                        Case{305, 500, 300, 500, true}}) {
    open();
    std::vector<float> a(c.xmax * c.ymax, -7.0f);
    int retstat = 0;
    Index xn = 0, yn = 0;
    FIO_FREAD_RARRAY(kReadUnit, c.swap, "data", c.xmax, c.ymax, retstat, xn, yn, a, status_);
    ASSERT_EQ(status_, kStatusGood);
    EXPECT_EQ(xn, c.xn);
    EXPECT_EQ(yn, c.yn);
    Index wrong = 0;
    for (Index y = 1; y <= c.ymax; ++y)
      for (Index x = 1; x <= c.xmax; ++x) {
        const auto bits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
        std::uint32_t want = bits(-7.0f);
        if (x <= xn && y <= yn) {
          want = bits(file[element(x, y, nx)]);
          if (c.swap) want = byte_swapped(want);
        }
        wrong += bits(a[element(x, y, c.xmax)]) != want;
      }
    EXPECT_EQ(wrong, 0) << c.xmax << " x " << c.ymax;
    io_close_stream(kReadUnit);
  }
}

// Damaged files: each check of a size, count or length read from the file.
struct Damage {
  const char* what;
  Index offset;        // bytes patched, or -1 to cut the file at TRUNCATE bytes
  const char* bytes;
  Index truncate;
  const char* item;    // the item read
  const char* message; // part of the line written
};

class ItemReaderDamage : public ItemReader, public ::testing::WithParamInterface<Damage> {};

TEST_P(ItemReaderDamage, IsReportedAndLeavesTheCallerUnchanged) {
  const Damage& d = GetParam();
  const Index nx = 40, ny = 40;  // 13 data records
  std::vector<float> values(nx * ny, 3.0f);
  write_items(path_, [&](int u, Index& r, Status& s) {
    IO_FWRITE_RARRAY(u, "data", nx, ny, 1, 1, nx, ny, values, r, s);
    IO_FWRITE_STRING(u, "s", "text", r, s);
  });
  if (d.offset >= 0) {
    patch(path_, d.offset, d.bytes);
  } else {
    std::filesystem::resize_file(path_, static_cast<std::uintmax_t>(d.truncate));
  }
  open();
  int retstat = 0;
  if (std::string(d.item) == "s") {
    std::string text = "unchanged";
    FIO_FREAD_STRING(kReadUnit, "s", 80, retstat, text, status_);
    EXPECT_EQ(text, "unchanged");
  } else {
    std::vector<float> a(nx * ny, -1.0f);
    Index xn = -5, yn = -5;
    FIO_FREAD_RARRAY(kReadUnit, false, "data", nx, ny, retstat, xn, yn, a, status_);
    EXPECT_EQ(xn, -5);
    EXPECT_EQ(a[0], -1.0f);
  }
  EXPECT_EQ(retstat, 3) << d.what;
  EXPECT_EQ(status_, kStatusGood);
  const std::string out = terminal_.text();
  EXPECT_NE(out.find("Damaged file item"), std::string::npos) << out;
  EXPECT_NE(out.find(d.message), std::string::npos) << out;
}

// Header of "data": count at byte 6, NX at 32, NY at 40; the string item "s"
// is record 15 (byte 7168), its length at byte 7168 + 12.
INSTANTIATE_TEST_SUITE_P(
    Cases, ItemReaderDamage,
    ::testing::Values(
        Damage{"string past its record", 7168 + 12, "000001f0", 0, "s", "runs past"},
        Damage{"string length not hex", 7168 + 12, "0000004G", 0, "s", "not a hexadecimal"},
        Damage{"negative size", 32, "80000028", 0, "data", "negative array size"},
        Damage{"overflowing size", 32, "7fffffff7fffffff", 0, "data", "overflows"},
        Damage{"no columns", 32, "00000000", 0, "data", "empty array size 0 x 40"},
        Damage{"no rows", 40, "00000000", 0, "data", "empty array size 40 x 0"},
        Damage{"size beyond the records", 40, "00000fff", 0, "data", "needs"},
        Damage{"count too small", 6, "00000002", 0, "data", "the header gives 2"},
        Damage{"size not hex", 40, "00-00028", 0, "data", "not a hexadecimal"},
        Damage{"truncated data", -1, "", 512 * 8, "data", "truncated"}),
    kesta::testing::CaseNumber{});

}  // namespace
}  // namespace kesta
