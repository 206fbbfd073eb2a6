#include "formats/pck_decoder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/test_support.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {
namespace {

// Bits appended least significant first.
class BitWriter {
 public:
  void put(std::uint64_t value, int n) {
    for (int i = 0; i < n; ++i) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() = static_cast<char>(bytes_.back() | (1 << used_));
      used_ = (used_ + 1) % 8;
    }
  }
  // One block: 2^K residuals of the width with index W.
  void block(int k, int w, const std::vector<std::int64_t>& residuals) {
    static constexpr int kWidths[8] = {0, 4, 5, 6, 7, 8, 16, 32};
    put(static_cast<std::uint64_t>(k) | (static_cast<std::uint64_t>(w) << 3), 6);
    for (std::int64_t r : residuals) put(static_cast<std::uint64_t>(r), kWidths[w]);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  int used_ = 0;
};

std::string header(int x, int y) {
  char line[64];
  std::snprintf(line, sizeof line, "CCP4 packed image, X: %04d, Y: %04d\n", x, y);
  return line;
}

// Encodes pixels (row order, 16-bit) one residual per block at the smallest
// width that holds it.
std::string encode(int x, int y, const std::vector<std::int16_t>& v) {
  BitWriter bits;
  const Index n = static_cast<Index>(x) * y;
  for (Index p = 0; p < n; ++p) {
    std::int32_t pred = 0;
    if (p == 0)
      pred = 0;
    else if (p <= x)
      pred = v[p - 1];
    else
      pred = (v[p - 1] + v[p - x + 1] + v[p - x] + v[p - x - 1] + 2) / 4;
    const std::int16_t r = static_cast<std::int16_t>(static_cast<std::uint16_t>(v[p] - pred));
    static constexpr int kWidths[7] = {0, 4, 5, 6, 7, 8, 16};
    int w = r == 0 ? 0 : 1;
    while (w > 0 && w < 6 && !(r >= -(1 << (kWidths[w] - 1)) && r < (1 << (kWidths[w] - 1))))
      ++w;
    bits.block(0, w, {r});
  }
  return header(x, y) + bits.bytes();
}

class PackedDecoder : public ::testing::Test {
 protected:
  int decode(const std::string& bytes, Index xmax, Index ymax, std::vector<float>& data) {
    const std::string path = dir_.file("img.pck");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    int retstat = 0, id = 0;
    FIO_FILEOPENC(path, 1, retstat, id);
    EXPECT_EQ(retstat, 0);
    retstat = -1;
    FIO_IN_PCKC(id, xmax, ymax, retstat, xnum_, ynum_, data);
    int closed = 0;
    FIO_FILECLOSEC(id, closed);
    return retstat;
  }
  testing::TempDir dir_;
  Index xnum_ = 0, ynum_ = 0;
};

TEST_F(PackedDecoder, EncodedImageDecodesToItsUnsignedValues) {
  const int x = 7, y = 5;
  std::vector<std::int16_t> v(x * y);
  for (int p = 0; p < x * y; ++p)
    v[p] = static_cast<std::int16_t>((p * 977) % 3000 - 200 + (p % 4 == 0 ? 20000 : 0));
  v[3] = -1;
  v[10] = v[9];  // residuals of zero too
  std::vector<float> data(x * y, -5.0f);
  EXPECT_EQ(decode("mar header text\n\n" + encode(x, y, v), x, y, data), 0);
  EXPECT_EQ(xnum_, x);
  EXPECT_EQ(ynum_, y);
  for (int p = 0; p < x * y; ++p)
    EXPECT_EQ(data[p], static_cast<float>(static_cast<std::uint16_t>(v[p]))) << p;
  EXPECT_EQ(data[3], 65535.0f);
}

TEST_F(PackedDecoder, PredictionAcrossTheRowStartAndWideResiduals) {
  // Row 1: 32-bit residuals, then 16-bit ones; row 2 by prediction only.
  BitWriter bits;
  bits.block(1, 7, {70000, -70001});  // 4464, then 4464 - 70001 wraps to -1
  bits.block(1, 6, {1000, -1000});    // 64535 + 1000 wraps to 999, then -1
  bits.block(3, 0, {0, 0, 0, 0, 0, 0, 0, 0});
  std::vector<float> data(8, 0.0f);
  EXPECT_EQ(decode(header(4, 2) + bits.bytes(), 4, 2, data), 0);
  EXPECT_EQ(data[0], 4464.0f);
  EXPECT_EQ(data[1], 65535.0f);
  EXPECT_EQ(data[2], 999.0f);
  EXPECT_EQ(data[3], 65535.0f);
  EXPECT_EQ(data[4], 65535.0f) << "first pixel of row 2 is the last of row 1";
  // (v4 + v2 + v1 + v0 + 2) / 4 with v = 4464, -1, 999, -1, -1: truncating
  EXPECT_EQ(data[5], static_cast<float>((-1 + 999 + -1 + 4464 + 2) / 4));
}

TEST_F(PackedDecoder, ImageWiderAndTallerThanTheArray) {
  const int x = 6, y = 4;
  std::vector<std::int16_t> v(x * y);
  for (int p = 0; p < x * y; ++p) v[p] = static_cast<std::int16_t>(p * 11);
  std::vector<float> data(4 * 3, -5.0f);
  EXPECT_EQ(decode(encode(x, y, v), 4, 3, data), 0);
  EXPECT_EQ(xnum_, 4);
  EXPECT_EQ(ynum_, 3);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 4; ++i) EXPECT_EQ(data[j * 4 + i], v[j * x + i]);
}

TEST_F(PackedDecoder, DamagedStreamsAreReported) {
  std::vector<std::int16_t> v(5 * 4, 300);
  const std::string whole = encode(5, 4, v);
  std::vector<float> data(20, -5.0f);
  // Cut inside row 3: two rows stored, the rest untouched.
  EXPECT_EQ(decode(whole.substr(0, header(5, 4).size() + 12), 5, 4, data), 3);
  EXPECT_EQ(ynum_, 2);
  EXPECT_EQ(data[element(5, 2, 5)], 300.0f);
  EXPECT_EQ(data[element(1, 3, 5)], -5.0f);
  // No header line, a header with a zero or negative size: nothing decoded.
  for (const std::string& bad : {std::string("no header here\n\x01\x02"),
                                 header(0, 4) + "\x01", std::string("CCP4 packed image, X: -005, Y: 0004\n")}) {
    std::vector<float> untouched(20, -5.0f);
    EXPECT_EQ(decode(bad, 5, 4, untouched), 1);
    EXPECT_EQ(untouched[0], -5.0f);
  }
  std::vector<float> small(3);
  EXPECT_EQ(decode(whole, 5, 4, small), 4) << "data smaller than its dimensions";
}

}  // namespace
}  // namespace kesta
