#include "formats/region_readers.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {
namespace {

// A file of HEADER bytes, then FX x FY pixels of type T (value of pixel
// (x, y) = 100 y + x, stored in the other byte order when SWAPPED).
template <typename T>
std::string pixel_file(Index fx, Index fy, std::size_t header, bool swapped) {
  std::string bytes(header, 'H');
  for (Index y = 1; y <= fy; ++y)
    for (Index x = 1; x <= fx; ++x) {
      T v = static_cast<T>(100 * y + x);
      if constexpr (sizeof(T) > 1) {
        if (swapped) v = byte_swapped(v);
      }
      bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
  return bytes;
}

class RegionReaders : public ::testing::Test {
 protected:
  void open(const std::string& bytes) {
    path_ = dir_.file("img.raw");
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    int retstat = 0, id = 0;
    FIO_FILEOPENC(path_, 1, retstat, id);
    ASSERT_EQ(retstat, 0);
  }
  void TearDown() override {
    int retstat = 0;
    FIO_FILECLOSEC(kFioInputStream, retstat);
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  std::string path_;
  Status status_ = ST_GOOD();
};

TEST_F(RegionReaders, RegionsWithAndWithoutReversal) {
  struct Case {
    bool rx, ry;
    Index xs, ys, xe, ye;
    // expected file pixel (x, y) of DATA(1,1) and DATA(2,1)
    Index x11, y11, x21;
  };
  const Index fx = 7, fy = 5;
  const std::vector<Case> cases = {
      {false, false, 1, 1, 7, 5, 1, 1, 2}, {false, false, 2, 3, 6, 5, 2, 3, 3},
      {false, true, 1, 1, 7, 2, 1, 5, 2},  {true, false, 1, 1, 3, 1, 7, 1, 6},
      {true, true, 2, 2, 4, 3, 6, 4, 5},
  };
  open(pixel_file<std::int16_t>(fx, fy, 10, true));
  std::vector<std::int16_t> buffer(3);  // smaller than a row: chunks cross rows
  for (const Case& c : cases) {
    std::vector<float> data(8 * 6, -1.0f);
    Index xn = 0, yn = 0;
    FIO_INP_2DI2(kFioInputStream, true, true, c.rx, c.ry, false, fx, fy, c.xs, c.ys, c.xe, c.ye,
                 1, 1, 11, 3, buffer, 8, 6, xn, yn, data, status_);
    ASSERT_EQ(status_, kStatusGood);
    EXPECT_EQ(xn, c.xe - c.xs + 1);
    EXPECT_EQ(yn, c.ye - c.ys + 1);
    EXPECT_EQ(data[element(1, 1, 8)], 100 * c.y11 + c.x11) << c.rx << c.ry << c.xs;
    if (xn > 1) {
      EXPECT_EQ(data[element(2, 1, 8)], 100 * c.y11 + c.x21);
    }
    EXPECT_EQ(data[element(xn + 1, 1, 8)], -1.0f) << "nothing beyond the region";
  }
  // Every pixel of the whole file once.
  std::vector<float> data(7 * 5);
  Index xn = 0, yn = 0;
  FIO_INP_2DI2(kFioInputStream, true, true, false, false, false, fx, fy, 1, 1, fx, fy, 1, 1, 11,
               3, buffer, 7, 5, xn, yn, data, status_);
  for (Index y = 1; y <= fy; ++y)
    for (Index x = 1; x <= fx; ++x) EXPECT_EQ(data[element(x, y, 7)], 100 * y + x);
}

TEST_F(RegionReaders, SignedAndUnsignedValuesOfEachType) {
  std::string bytes;
  const std::uint8_t b = 0xFF;
  const std::uint16_t s = 0xFFFF;
  const std::uint32_t w = 0xFFFFFFFEu;
  const float r = -2.5f;
  bytes.append(reinterpret_cast<const char*>(&b), 1);
  bytes.append(reinterpret_cast<const char*>(&s), 2);
  bytes.append(reinterpret_cast<const char*>(&w), 4);
  bytes.append(reinterpret_cast<const char*>(&r), 4);
  open(bytes);
  std::vector<float> d(1);
  Index xn = 0, yn = 0;
  std::vector<std::int8_t> b1(4);
  std::vector<std::int16_t> b2(4);
  std::vector<std::int32_t> b4(4);
  std::vector<float> br(4);
  FIO_INP_2DBYTE(kFioInputStream, false, false, false, false, 1, 1, 1, 1, 1, 1, 1, 1, 1, 4, b1, 1,
                 1, xn, yn, d, status_);
  EXPECT_EQ(d[0], 255.0f);
  FIO_INP_2DBYTE(kFioInputStream, true, false, false, false, 1, 1, 1, 1, 1, 1, 1, 1, 1, 4, b1, 1,
                 1, xn, yn, d, status_);
  EXPECT_EQ(d[0], -1.0f);
  FIO_INP_2DI2(kFioInputStream, false, false, false, false, false, 1, 1, 1, 1, 1, 1, 1, 1, 2, 4,
               b2, 1, 1, xn, yn, d, status_);
  EXPECT_EQ(d[0], 65535.0f);
  FIO_INP_2DI2(kFioInputStream, false, true, false, false, false, 1, 1, 1, 1, 1, 1, 1, 1, 2, 4,
               b2, 1, 1, xn, yn, d, status_);
  EXPECT_EQ(d[0], -1.0f);
  FIO_INP_2DI4(kFioInputStream, false, false, false, false, false, 1, 1, 1, 1, 1, 1, 1, 1, 4, 4,
               b4, 1, 1, xn, yn, d, status_);
  EXPECT_EQ(d[0], 4294967294.0f);
  FIO_INP_2DI4(kFioInputStream, false, true, false, false, false, 1, 1, 1, 1, 1, 1, 1, 1, 4, 4,
               b4, 1, 1, xn, yn, d, status_);
  EXPECT_EQ(d[0], -2.0f);
  FIO_INP_2DR4(kFioInputStream, false, false, false, false, 1, 1, 1, 1, 1, 1, 1, 1, 8, 4, br, 1,
               1, xn, yn, d, status_);
  EXPECT_EQ(d[0], -2.5f);
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(RegionReaders, ArgumentChecksInOrder) {
  open(pixel_file<std::int32_t>(4, 4, 0, false));
  struct Case {
    Index xmax, ymax, fx, fy, xs, ys, xe, ye, xbin, ybin, start;
    Status code;
  };
  // The checks that guard the reads: sizes from a header below 1, a region
  // beyond the file or reversed, a start byte before the file.
  const std::vector<Case> cases = {
      {4, 4, 0, 4, 1, 1, 4, 4, 1, 1, 1, 17}, {4, 4, 4, 4, 1, 1, 5, 4, 1, 1, 1, 5},
      {4, 4, 4, 4, 1, 3, 4, 2, 1, 1, 1, 6},  {4, 4, 4, 4, 1, 1, 4, 4, 1, 1, 0, 17},
  };

  std::vector<std::int32_t> buffer(8);
  for (const Case& c : cases) {
    std::vector<float> d(16);
    Index xn = 0, yn = 0;
    Status status = ST_GOOD();
    FIO_INP_2DI4(kFioInputStream, false, true, false, false, false, c.fx, c.fy, c.xs, c.ys, c.xe,
                 c.ye, c.xbin, c.ybin, c.start, 8, buffer, c.xmax, c.ymax, xn, yn, d, status);
    EXPECT_EQ(status, kBaseFormats + c.code);
  }
  Status status = ST_GOOD();
  std::vector<float> d(16);
  Index xn = 0, yn = 0;
  FIO_INP_2DI4(kFioInputStream, false, true, false, false, false, 4, 4, 1, 1, 4, 4, 2, 1, 1, 8,
               buffer, 4, 4, xn, yn, d, status);
  EXPECT_EQ(status, 9999);
  EXPECT_NE(terminal_.text().find("ERROR: Re-binning, transposing on input not yet implemented"),
            std::string::npos);
}

TEST_F(RegionReaders, ShortFilesAreReportedByEveryReader) {
  // Three rows claimed, two and a half present.
  open(pixel_file<std::int32_t>(4, 3, 0, false).substr(0, 40));
  std::vector<float> d(16, -1.0f);
  Index xn = 0, yn = 0;
  std::vector<std::int32_t> b4(4);
  FIO_INP_2DI4(kFioInputStream, false, true, false, false, false, 4, 3, 1, 1, 4, 3, 1, 1, 1, 4,
               b4, 4, 4, xn, yn, d, status_);
  EXPECT_EQ(status_, 11005);
  EXPECT_EQ(d[element(1, 2, 4)], 201.0f) << "rows read before the failure stay";
  status_ = ST_GOOD();
  std::vector<float> br(4);
  FIO_INP_2DR4(kFioInputStream, false, false, false, false, 4, 3, 1, 1, 4, 3, 1, 1, 1, 4, br, 4,
               4, xn, yn, d, status_);
  EXPECT_EQ(status_, 11005);
  status_ = ST_GOOD();
  std::vector<std::int8_t> b1(64);
  FIO_INP_2DBYTE(kFioInputStream, true, false, false, false, 16, 3, 1, 1, 16, 3, 1, 1, 1, 64, b1,
                 16, 4, xn, yn, std::span<float>(d.data(), 16), status_);
  EXPECT_EQ(status_, kBaseFormats + 1) << "DATA smaller than its dimensions";
  status_ = ST_GOOD();
  std::vector<float> wide(64);
  FIO_INP_2DBYTE(kFioInputStream, true, false, false, false, 16, 3, 1, 1, 16, 3, 1, 1, 1, 64, b1,
                 16, 4, xn, yn, wide, status_);
  EXPECT_EQ(status_, 11005);
}

TEST_F(RegionReaders, RegionLargerThanTheArrayIsClipped) {
  open(pixel_file<std::int8_t>(6, 6, 0, false));
  std::vector<std::int8_t> buffer(5);
  std::vector<float> d(3 * 2, -1.0f);
  Index xn = 0, yn = 0;
  FIO_INP_2DBYTE(kFioInputStream, true, false, false, false, 6, 6, 1, 1, 6, 6, 1, 1, 1, 5, buffer,
                 3, 2, xn, yn, d, status_);
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_EQ(xn, 3);
  EXPECT_EQ(yn, 2);
  EXPECT_EQ(d[element(3, 2, 3)], static_cast<float>(static_cast<std::int8_t>(203)));
}

}  // namespace
}  // namespace kesta
