#include "formats/mar_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// Bytes of 4-byte and 2-byte values in either byte order, written from the
// layouts alone.
struct Bytes {
  bool big = false;
  std::string out;
  void put(std::uint64_t v, int n) {
    for (int k = 0; k < n; ++k) out.push_back(static_cast<char>(v >> (8 * (big ? n - 1 - k : k))));
  }
  void real(float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    put(v, 4);
  }
  void pad_to(std::size_t size) { out.resize(size, '\0'); }
};

// An older-format image 1200 pixels wide and 2 rows high, pixel (x, y) = x + 10 y,
// then the overflow pairs.
std::string old_mar(bool big, const std::vector<std::pair<std::int32_t, std::int32_t>>& pairs) {
  Bytes b{big, {}};
  b.put(1200, 4);
  b.put(2, 4);
  b.pad_to(16);
  b.put(pairs.size(), 4);
  b.pad_to(76);
  b.real(1.5418f);
  b.real(120.5f);
  b.real(10.0f);
  b.real(11.0f);
  b.pad_to(100);
  b.out += "06-DEC-2026 20:00:00    ";
  b.pad_to(2400);
  for (int y = 1; y <= 2; ++y)
    for (int x = 1; x <= 1200; ++x) b.put(static_cast<std::uint64_t>(x + 10 * y), 2);
  for (const auto& [p, v] : pairs) {
    b.put(static_cast<std::uint32_t>(p), 4);
    b.put(static_cast<std::uint32_t>(v), 4);
  }
  return b.out;
}

// A mar345 image of 4 x 3 pixels with NH high-intensity pairs and plain or
// packed (all zero) pixels.
std::string mar345(bool big, std::int32_t storage,
                   const std::vector<std::pair<std::int32_t, std::int32_t>>& pairs) {
  Bytes b{big, {}};
  for (std::int64_t v : {1234, 4, static_cast<int>(pairs.size()), storage, 0, 12, 100, 150,
                         1541800, 250000, 1000, 2000})
    b.put(static_cast<std::uint32_t>(v), 4);
  b.pad_to(64);
  b.out += "DATE Sun Dec  6 20:00:00 2026";
  b.pad_to(128);
  b.out += "END OF HEADER";
  b.pad_to(4096);
  for (const auto& [p, v] : pairs) {
    b.put(static_cast<std::uint32_t>(p), 4);
    b.put(static_cast<std::uint32_t>(v), 4);
  }
  b.pad_to(4096 + 64 * ((pairs.size() + 7) / 8));
  if (storage == 1) {
    // Six blocks of two zero residuals: header bits k = 1, width index 0.
    b.out += "CCP4 packed image, X: 0004, Y: 0003\n";
    b.out += std::string("\x41\x10\x04\x41\x10\x04", 6);
  } else {
    for (int k = 1; k <= 12; ++k) b.put(static_cast<std::uint64_t>(k), 2);
  }
  return b.out;
}

class Mar : public ::testing::Test {
 protected:
  std::string write(const std::string& bytes) {
    const std::string path = dir_.file("image.mar");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }
  ImageRead read(const std::string& bytes, bool packed = false) {
    return read_mar_file(write(bytes), {8, 4, false}, packed, status_);
  }
  static float at(const ImageRead& r, Index x, Index y) {
    return r.image.pixels()[static_cast<std::size_t>(element(x, y, r.image.xmaxdat))];
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Mar, OlderFormatInBothByteOrdersWithOverflowsInsideOnly) {
  const std::vector<std::pair<std::int32_t, std::int32_t>> pairs = {
      {3, 70000}, {1205, 80000}, {0, 1}, {-5, 1}, {2401, 1}, {1199, 1}};
  for (const bool big : {false, true}) {
    const ImageRead r = read(old_mar(big, pairs));
    ASSERT_EQ(r.retstat, 0) << big << terminal_.text();
    EXPECT_EQ(r.image.xnumdat, 8);
    EXPECT_EQ(r.image.ynumdat, 2);
    EXPECT_EQ(at(r, 1, 1), 11.0f);
    EXPECT_EQ(at(r, 8, 2), 28.0f);
    EXPECT_EQ(at(r, 3, 1), 70000.0f);
    EXPECT_EQ(at(r, 5, 2), 80000.0f);
    EXPECT_EQ(*r.image.x_pixel_size, 1.5e-4f);
    EXPECT_FLOAT_EQ(*r.image.sample_distance, 0.1205f);
    EXPECT_NE(r.image.title->find("06-DEC-2026"), std::string::npos);
  }
  const std::string out = terminal_.text();
  EXPECT_NE(out.find("INFO: Image size =   1200     2 Number of overloaded pixels =        6"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("only a part of the image will be input"), std::string::npos);
  EXPECT_NE(out.find("      Sample to detector distance =  120.50 mm"), std::string::npos) << out;
}

TEST_F(Mar, Mar345PlainAndPackedGetTheirHighIntensityPixels) {
  // Nine pairs: two 64-byte lines, so the plain pixels start at byte 4224.
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs(8, {0, 5});
  pairs.push_back({12, 99999});
  for (const bool big : {false, true}) {
    ImageRead r = read(mar345(big, 0, pairs));
    ASSERT_EQ(r.retstat, 0) << terminal_.text();
    EXPECT_EQ(r.image.xnumdat, 4);
    EXPECT_EQ(r.image.ynumdat, 3);
    EXPECT_EQ(at(r, 1, 1), 1.0f);
    EXPECT_EQ(at(r, 3, 3), 11.0f);
    EXPECT_EQ(at(r, 4, 3), 99999.0f);
    EXPECT_FLOAT_EQ(*r.image.x_pixel_size, 1.0e-4f);
    EXPECT_FLOAT_EQ(*r.image.y_pixel_size, 1.5e-4f);
    EXPECT_FLOAT_EQ(*r.image.sample_distance, 0.25f);
    r = read(mar345(big, 1, pairs));
    ASSERT_EQ(r.retstat, 0) << terminal_.text();
    EXPECT_EQ(at(r, 3, 3), 0.0f);
    EXPECT_EQ(at(r, 4, 3), 99999.0f);
  }
}

TEST_F(Mar, Mar345LargerThanTheArraysIsSaidForEveryStorage) {
  for (const int storage : {0, 1}) {
    testing::TerminalCapture terminal;
    const ImageRead r = read_mar_file(write(mar345(false, storage, {})), {2, 2, false}, false,
                                      status_);
    ASSERT_EQ(r.retstat, 0) << storage << terminal.text();
    EXPECT_EQ(r.image.xnumdat, 2);
    EXPECT_EQ(r.image.ynumdat, 2);
    const std::string out = terminal.text();
    EXPECT_NE(out.find("WARNING: The image is bigger than the presently defined program arrays\n"
                       "         only a part of the image will be input."),
              std::string::npos)
        << storage << out;
  }
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(Mar, DamagedFilesAreRefused) {
  struct Bad {
    const char* what;
    std::function<std::string()> bytes;
    const char* message;
  };
  const std::vector<Bad> cases = {
      {"another kind", [] { return std::string(64, 'x'); }, "is not a MAR image file"},
      {"cut inside the first integer", [] { return std::string("\xb0\x04", 2); },
       "ends inside its header"},
      {"cut inside the header record", [] { return old_mar(false, {}).substr(0, 1000); },
       "ends inside its header"},
      {"no rows",
       [] {
         std::string b = old_mar(false, {});
         b[4] = 0;
         return b;
       },
       "gives image sizes 1200 x 0"},
      {"cut inside the pixels", [] { return old_mar(false, {}).substr(0, 4000); },
       "too short for its image"},
      {"cut inside the overflows", [] { return old_mar(false, {{3, 7}}).substr(0, 2400 + 4800 + 4); },
       "ends inside its overflow records"},
      {"spiral read-out", [] { return mar345(false, 2, {}); }, "spiral read-out"},
      {"packed total beyond its data",
       [] {
         std::string b = mar345(false, 1, {});
         b.replace(20, 4, std::string("\xff\xff\xff\x7f", 4));
         return b;
       },
       "more than its packed data can hold"},
      {"packed image missing", [] { return mar345(false, 1, {}).substr(0, 4100); },
       "no packed image"},
  };
  for (const Bad& c : cases) {
    testing::TerminalCapture terminal;
    const ImageRead r = read(c.bytes());
    EXPECT_EQ(r.retstat, 1) << c.what;
    EXPECT_FALSE(r.image.data) << c.what;
    EXPECT_NE(terminal.text().find(c.message), std::string::npos) << c.what << terminal.text();
  }
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
