#include "formats/raxis_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// A 3 x 2 image with a header record of 2048 bytes: pixels 1, 2, -1, 4, 5,
// -32768 in the given byte order, S = 8.
std::string raxis(bool big, std::int32_t nx = 3, std::int32_t ny = 2) {
  std::string out(2048, '\0');
  auto put = [&](std::size_t at, std::uint32_t v, int n) {
    for (int k = 0; k < n; ++k) out[at + k] = static_cast<char>(v >> (8 * (big ? n - 1 - k : k)));
  };
  put(768, static_cast<std::uint32_t>(nx), 4);
  put(772, static_cast<std::uint32_t>(ny), 4);
  put(784, 2048, 4);
  float s = 8.0f;
  std::uint32_t bits;
  std::memcpy(&bits, &s, 4);
  put(800, bits, 4);
  for (const std::int16_t v : {1, 2, -1, 4, 5, -32768}) {
    out.append(2, '\0');
    put(out.size() - 2, static_cast<std::uint16_t>(v), 2);
  }
  return out;
}

class Raxis : public ::testing::Test {
 protected:
  ImageRead read(const std::string& bytes) {
    const std::string path = dir_.file("image.osc");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return read_raxis_file(path, {4, 4, false}, status_);
  }
  static float at(const ImageRead& r, Index x, Index y) {
    return r.image.pixels()[static_cast<std::size_t>(element(x, y, r.image.xmaxdat))];
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Raxis, BothByteOrdersUnfoldLargeValues) {
  for (const bool big : {false, true}) {
    const ImageRead r = read(raxis(big));
    ASSERT_EQ(r.retstat, 0) << terminal_.text();
    EXPECT_EQ(r.image.xnumdat, 3);
    EXPECT_EQ(r.image.ynumdat, 2);
    EXPECT_EQ(at(r, 1, 1), 1.0f);
    EXPECT_EQ(at(r, 3, 1), 262136.0f) << "-1 with S 8";
    EXPECT_EQ(at(r, 3, 2), 0.0f);
    EXPECT_EQ(at(r, 2, 2), 5.0f);
  }
}

// Images large enough to be read by several threads at once, whole and
// clipped to smaller arrays: every pixel where a plain decoding puts it.
TEST_F(Raxis, LargeImagesKeepEveryPixel) {
  constexpr std::int32_t kN = 1500;
  for (const bool big : {false, true}) {
    std::string bytes = raxis(big, kN, kN).substr(0, 2048);
    bytes.reserve(2048 + 2 * kN * kN);
    for (std::int32_t k = 0; k < kN * kN; ++k) {
      const auto v = static_cast<std::uint16_t>(k * 7 + 1);
      bytes.push_back(static_cast<char>(big ? v >> 8 : v & 0xff));
      bytes.push_back(static_cast<char>(big ? v & 0xff : v >> 8));
    }
    const std::string path = dir_.file("large.osc");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    for (const Index xmax : {Index{kN}, Index{1400}}) {
      const ImageRead r = read_raxis_file(path, {xmax, 1450, false}, status_);
      ASSERT_EQ(r.retstat, 0) << terminal_.text();
      ASSERT_EQ(r.image.xnumdat, std::min<Index>(xmax, kN));
      ASSERT_EQ(r.image.ynumdat, 1450);
      Index wrong = 0;
      for (Index y = 1; y <= r.image.ynumdat; ++y)
        for (Index x = 1; x <= r.image.xnumdat; ++x) {
          const auto stored = static_cast<std::int16_t>((x - 1 + (y - 1) * kN) * 7 + 1);
          const float want = stored < 0 ? (static_cast<float>(stored) + 32768.0f) * 8.0f
                                        : static_cast<float>(stored);
          wrong += at(r, x, y) != want;
        }
      EXPECT_EQ(wrong, 0) << big << " " << xmax;
    }
  }
}

TEST_F(Raxis, DamagedFilesAreRefused) {
  const std::vector<std::pair<std::string, const char*>> cases = {
      {raxis(false).substr(0, 1000), "ends inside its header"},
      {raxis(false, 20000, 20000), "is not an R-AXIS image file"},
      {raxis(false, 3, 0), "image size of 3 x 0"},
      {raxis(false, 3, 9), "too short for its image"},
  };
  for (const auto& [bytes, message] : cases) {
    testing::TerminalCapture terminal;
    const ImageRead r = read(bytes);
    EXPECT_NE(r.retstat, 0) << message;
    EXPECT_NE(terminal.text().find(message), std::string::npos) << message << terminal.text();
  }
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
