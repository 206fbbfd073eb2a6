#include "formats/fixed_header_formats.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// Little-endian bytes of a header or pixels.
struct Le {
  std::string out;
  void at(std::size_t offset, std::int64_t v, int n) {
    if (out.size() < offset + n) out.resize(offset + n, '\0');
    for (int k = 0; k < n; ++k) out[offset + k] = static_cast<char>((v >> (8 * k)) & 0xff);
  }
  void append(std::initializer_list<std::int64_t> values, int n) {
    for (const auto v : values) at(out.size(), v, n);
  }
};

class FixedHeader : public ::testing::Test {
 protected:
  std::string put(const std::string& bytes) {
    const std::string path = dir_.file("image.dat");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }
  static float at(const ImageRead& r, Index x, Index y) {
    return r.image.pixels()[static_cast<std::size_t>(element(x, y, r.image.xmaxdat))];
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(FixedHeader, HamamatsuFirstPixelIsTheTopRight) {
  Le b;
  b.out = "IM";
  b.at(2, 10, 2);  // comment length: pixels from byte 74
  b.at(4, 8, 2);
  b.at(6, 4, 2);
  b.at(12, 2, 2);
  b.out.resize(74, '\0');
  for (int k = 1; k <= 32; ++k) b.append({k}, 2);
  const ImageRead r = read_hamamatsu_file(put(b.out), {8, 4, false}, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(at(r, 8, 4), 1.0f);
  EXPECT_EQ(at(r, 1, 4), 8.0f);
  EXPECT_EQ(at(r, 1, 1), 32.0f);
}

TEST_F(FixedHeader, StacksOfPhotometricsAndPrincetonImages) {
  Le p;
  p.at(4, 172, 2);
  p.at(12, 2, 2);
  p.at(14, 2, 2);
  p.at(170, 2, 2);
  p.append({1, 2, 3, 4, 10, 20, 30, 40}, 2);
  std::string path = put(p.out);
  EXPECT_EQ(photometrics_images(path, status_), 2);
  ImageRead r = read_photometrics_file(path, {4, 4, false}, 2, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(at(r, 1, 2), 10.0f) << "top row first";
  EXPECT_EQ(at(r, 2, 1), 40.0f);
  EXPECT_NE(read_photometrics_file(path, {4, 4, false}, 3, status_).retstat, 0);

  // 0 frames, -1 at 34, 2048 rows at 656 and 512 rows an image: 4 frames of 1 x 512.
  Le s;
  s.at(34, -1, 2);
  s.at(42, 1, 2);
  s.at(656, 2048, 2);
  s.at(664, 512, 4);
  s.out.resize(4100, '\0');
  for (int k = 0; k < 2048; ++k) s.append({k}, 2);
  path = put(s.out);
  EXPECT_EQ(princeton_images(path, status_), 4);
  r = read_princeton_file(path, {2, 600, false}, 4, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(r.image.ynumdat, 512);
  EXPECT_EQ(at(r, 1, 512), 1536.0f);
  s.at(664, 0, 4);
  EXPECT_EQ(princeton_images(put(s.out), status_), 0) << "not divisible into frames";
  EXPECT_NE(terminal_.text().find("cannot be divided into frames"), std::string::npos);
}

TEST_F(FixedHeader, Dip2000UnfoldsAndWessSumsBins) {
  Le d;
  d.append({-1, 32767, 5}, 2);
  d.out.resize(2500 * 5000, '\0');
  ImageRead r = read_dip2000_file(put(d.out), {3, 2, false}, false, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(at(r, 1, 1), 33024.0f);
  EXPECT_EQ(at(r, 2, 1), 32767.0f);
  EXPECT_EQ(at(r, 3, 1), 5.0f);

  const std::string path = put(std::string("\x01\x02\x04\x08\x10\x20\x40\x80", 8));
  r = read_wess_file(path, {4, 4, false}, 4, 2, {1, 1, 4, 2, 2, 1}, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(r.image.xnumdat, 2);
  EXPECT_EQ(at(r, 1, 1), 3.0f);
  EXPECT_EQ(at(r, 2, 2), 192.0f);
  EXPECT_EQ(*r.image.title, "Collagen");
  EXPECT_EQ(read_wess_file(path, {4, 4, false}, 4, 3, {1, 1, 4, 3, 1, 1}, status_).retstat, 1)
      << "the file holds two rows";
}

// The WESS region, refused (bins larger than it), is asked for again
// offering the region offered before, not the refused one.
TEST_F(FixedHeader, RefusedWessRegionIsAskedAgainOfferingTheOneBefore) {
  const std::string path = put(std::string("\x01\x02\x04\x08\x10\x20\x40\x80", 8));
  testing::ScriptedInput input(
      {"4", "2", path, "1", "1", "2", "2", "4", "1", "", "", "", "", "", ""});
  std::string name;
  const ImageRead r = wess_keyboard_read({4, 2, false}, name, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(r.image.xnumdat, 4);
  EXPECT_EQ(at(r, 4, 2), 128.0f);
  EXPECT_EQ(input.remaining(), 0u);
  ASSERT_EQ(input.prompts.size(), 15u) << terminal_.text();
  EXPECT_NE(input.prompts[11].find("X-END ELEMENT (Range: 1 to 4) [4]"), std::string::npos)
      << input.prompts[11];
  EXPECT_NE(input.prompts[13].find("X REBIN NUMBER (Range: 1 to 4) [1]"), std::string::npos)
      << input.prompts[13];
  EXPECT_NE(terminal_.text().find("WARNING: A re-bin factor is larger than the region"),
            std::string::npos);
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(FixedHeader, ShortFilesAreRefused) {
  const std::string path = put(std::string(100, '\0'));
  EXPECT_EQ(read_hamamatsu_file(path, {4, 4, false}, status_).retstat, 1);
  EXPECT_EQ(read_photometrics_file(path, {4, 4, false}, 1, status_).retstat, 1);
  EXPECT_EQ(read_princeton_file(path, {4, 4, false}, 1, status_).retstat, 1);
  EXPECT_EQ(read_dip2000_file(path, {4, 4, false}, false, status_).retstat, 1);
  EXPECT_NE(terminal_.text().find("Problem reading in file header"), std::string::npos);
  EXPECT_NE(terminal_.text().find("too short for its image"), std::string::npos);
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
