#include "formats/huffman_codec.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// Pixel prediction written from the format's table, for the reference coders.
int reference_prediction(const std::vector<int>& v, int w, int x, int y, int predictor) {
  auto at = [&](int xx, int yy) { return v[static_cast<std::size_t>(yy * w + xx)]; };
  if (x == 0 && y == 0) return 0;
  if (y == 0) return at(x - 1, 0);
  if (x == 0) return predictor == 4 && w > 1 ? (at(0, y - 1) + at(1, y - 1)) / 2 : at(0, y - 1);
  const int a = at(x - 1, y), b = at(x, y - 1), c = at(x - 1, y - 1);
  if (predictor == 1) return a;
  if (predictor == 2) return (a + b) / 2;
  if (predictor == 3 || x == w - 1) return (a + b + c) / 3;
  return (a + b + c + at(x + 1, y - 1)) / 4;
}

std::string int_bytes(std::int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// A file coded with a fixed code of its own: every symbol -127..127 and the
// escape 8 bits long, the code being the symbol's index.
std::string reference_file(const std::vector<int>& v, int w, int h, int predictor) {
  std::string out;
  for (int i : {w, h, 16, predictor, -127, 127}) out += int_bytes(i);
  out += std::string(256, '\x08');
  for (int i = 0; i < 256; ++i) out += int_bytes(i);
  std::vector<int> bits;
  auto put = [&](std::uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) bits.push_back(static_cast<int>((value >> i) & 1u));
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int r = v[static_cast<std::size_t>(y * w + x)] - reference_prediction(v, w, x, y, predictor);
      if (r >= -127 && r <= 127) {
        put(static_cast<std::uint32_t>(r + 128), 8);
      } else if (r >= -32767 && r <= 32767) {
        put(0, 8);
        put(static_cast<std::uint16_t>(r), 16);
      } else {
        put(0, 8);
        put(0x8000u, 16);
        put(static_cast<std::uint32_t>(r), 32);
      }
    }
  while (bits.size() % 8 != 0) bits.push_back(0);
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    int byte = 0;
    for (int k = 0; k < 8; ++k) byte = byte * 2 + bits[i + static_cast<std::size_t>(k)];
    out += static_cast<char>(byte);
  }
  return out;
}

// Decodes a file with a plain map of (length, code) to symbol.
std::vector<int> reference_decode(const std::string& file) {
  auto int_at = [&](std::size_t at) {
    std::int32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return v;
  };
  const int w = int_at(0), h = int_at(4), predictor = int_at(12), lo = int_at(16), hi = int_at(20);
  const int n = hi - lo + 2;
  std::map<std::pair<int, std::uint32_t>, int> codes;
  for (int i = 0; i < n; ++i) {
    const int length = static_cast<unsigned char>(file[24 + static_cast<std::size_t>(i)]);
    if (length > 0) codes[{length, static_cast<std::uint32_t>(int_at(24 + static_cast<std::size_t>(n + 4 * i)))}] = i;
  }
  std::size_t bit = 8 * static_cast<std::size_t>(24 + 5 * n);
  auto get = [&](int count) {
    std::uint32_t v = 0;
    for (int i = 0; i < count; ++i, ++bit)
      v = v * 2 + ((static_cast<unsigned char>(file[bit / 8]) >> (7 - bit % 8)) & 1u);
    return v;
  };
  std::vector<int> v(static_cast<std::size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint32_t c = 0;
      int length = 0, symbol = -1;
      while (symbol < 0) {
        c = c * 2 + get(1);
        auto hit = codes.find({++length, c});
        if (hit != codes.end()) symbol = hit->second;
      }
      int r = symbol - 1 + lo;
      if (symbol == 0) {
        const std::uint32_t word = get(16);
        r = word == 0x8000u ? static_cast<std::int32_t>(get(32)) : static_cast<std::int16_t>(word);
      }
      v[static_cast<std::size_t>(y * w + x)] = (reference_prediction(v, w, x, y, predictor) + r) & 0xFFFF;
    }
  return v;
}

class Huffman : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    fio_reset_huffman();
  }
  int write(const std::vector<float>& data, Index w, Index h, int predictor, int mode) {
    testing::ScriptedInput input({path_, std::to_string(predictor), std::to_string(mode)});
    int retstat = -9;
    FIO_OUT_HUFFMAN(false, "", w, h, 1, 1, w, h, data, retstat, status_);
    return retstat;
  }
  ImageRead read(Index xmax, Index ymax) {
    return read_huffman_file(path_, {xmax, ymax, false}, status_);
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
  std::string path_ = dir_.file("t.huf");
};

TEST_F(Huffman, ConstantImageHasTwoOneBitCodes) {
  ASSERT_EQ(write(std::vector<float>(16, 1000.0f), 4, 4, 1, 0), 0);
  const std::string bytes = testing::file_contents(path_);
  ASSERT_EQ(bytes.size(), 1308u);
  EXPECT_EQ(bytes[24], '\x01');          // the escape
  EXPECT_EQ(bytes[24 + 128], '\x01');    // residual 0
  EXPECT_EQ(bytes.substr(1304), std::string("\x81\xF4\x00\x00", 4)) << "escape, 1000, 15 zeros";
  // A single used symbol (all zero) still gets a one-bit code.
  ASSERT_EQ(write(std::vector<float>(16, 0.0f), 4, 4, 2, 0), 0);
  EXPECT_EQ(testing::file_contents(path_)[24 + 128], '\x01');
  ImageRead back = read(4, 4);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back.image.pixels()[15], 0.0f);
}

// Pixels written as other values are counted in one line a kind: those
// that are not finite, and finite ones outside 16 bits; values that round
// into the range are neither.
TEST_F(Huffman, PixelsTheFileCannotHoldAreSaidWithWhatWasWritten) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::vector<float> data{std::numeric_limits<float>::quiet_NaN(), -kInf, kInf, -3.0f,
                                70000.0f, -0.4f, 65535.4f, -1.0f};
  ASSERT_EQ(write(data, 4, 2, 1, 0), 0);
  const ImageRead back = read(4, 2);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(std::vector<float>(back.image.pixels().begin(), back.image.pixels().end()),
            (std::vector<float>{0, 0, 65535, 0, 65535, 0, 65535, 0}));
  const std::string out = terminal_.text();
  EXPECT_NE(out.find("INFO: 3 pixels are not finite: 1 NaN written as 0, 1 +Infinity written "
                     "as 65535, 1 -Infinity written as 0\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("INFO: 3 pixels are outside what the file holds (0 to 65535): 2 below "
                     "written as 0, 1 above written as 65535\n"),
            std::string::npos)
      << out;
  testing::TerminalCapture clean;
  ASSERT_EQ(write({0.0f, -0.4f, 65535.4f, 7.0f}, 2, 2, 1, 0), 0);
  EXPECT_EQ(clean.text().find("INFO: 1"), std::string::npos) << clean.text();
  EXPECT_EQ(clean.text().find("pixels are"), std::string::npos) << clean.text();
}

TEST_F(Huffman, EveryPredictorAndModeRoundTripsAgainstReferenceCoders) {
  std::mt19937 random(11);
  for (const auto& [w, h] : {std::pair<int, int>{9, 7}, {1, 5}, {6, 1}}) {
    std::vector<int> v(static_cast<std::size_t>(w * h));
    for (int i = 0; i < w * h; ++i)
      v[static_cast<std::size_t>(i)] = i % 5 == 0 ? static_cast<int>(random() % 65536)
                                                  : 30000 + static_cast<int>(random() % 200);
    v[0] = 40000;  // the first pixel's escape takes 32 bits
    const std::vector<float> data(v.begin(), v.end());
    for (int predictor = 1; predictor <= 4; ++predictor) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " predictor " +
                   std::to_string(predictor));
      for (int mode : {0, 1}) {
        ASSERT_EQ(write(data, w, h, predictor, mode), 0);
        EXPECT_EQ(reference_decode(testing::file_contents(path_)), v);
        ImageRead back = read(w, h);
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(std::vector<float>(back.image.pixels().begin(), back.image.pixels().end()), data);
      }
      std::ofstream(path_, std::ios::binary) << reference_file(v, w, h, predictor);
      ImageRead back = read(w, h);
      ASSERT_TRUE(back.ok());
      EXPECT_EQ(std::vector<float>(back.image.pixels().begin(), back.image.pixels().end()), data);
    }
  }
}

TEST_F(Huffman, RefusedWritesKeepTheOldFile) {
  std::ofstream(path_) << "old";
  EXPECT_EQ(write({1, 2, 3, 4}, 2, 2, 1, 1), 1) << "mode 1 without a code";
  ASSERT_EQ(write(std::vector<float>(4, 5.0f), 2, 2, 1, 0), 0);
  const std::string written = testing::file_contents(path_);
  EXPECT_EQ(write({5, 9, 5, 5}, 2, 2, 1, 1), 1) << "residual 4 has no code";
  EXPECT_EQ(testing::file_contents(path_), written);
  EXPECT_NE(terminal_.text().find("cannot code this image"), std::string::npos);
}

TEST_F(Huffman, DamagedFilesAreRefused) {
  const std::vector<int> v = {1, 2, 3, 4};
  const std::string good = reference_file(v, 2, 2, 1);
  auto with = [&](std::size_t at, const std::string& bytes) {
    std::string f = good;
    f.replace(at, bytes.size(), bytes);
    return f;
  };
  for (const std::string& file :
       {good.substr(0, 20), good.substr(0, good.size() - 1), with(0, int_bytes(3)),
        with(4, int_bytes(0)), with(12, int_bytes(5)), with(20, int_bytes(-200)),
        with(24, "\x21"), with(24 + 256, int_bytes(256)), with(24 + 256 + 4 * 129, int_bytes(200))}) {
    std::ofstream(path_, std::ios::binary) << file;
    EXPECT_FALSE(read(2, 2).ok());
  }
  std::ofstream(path_, std::ios::binary) << with(20, int_bytes(2000));
  EXPECT_FALSE(read(2, 2).ok());
  EXPECT_NE(terminal_.text().find("symbol range too wide"), std::string::npos);
}

}  // namespace
}  // namespace kesta
