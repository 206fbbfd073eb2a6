#include "formats/cdd_codec.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// The code of one difference written straight from the format's level table.
std::vector<int> reference_code(long d) {
  const long m = std::labs(d);
  const int sign = d < 0 ? 8 : 0;
  if (m <= 7) return {m == 0 ? 0 : static_cast<int>(m) + sign};
  if (m <= 14) return {8, static_cast<int>(m - 7) + sign};
  if (m <= 21) return {8, 8, static_cast<int>(m - 14) + sign};
  if (m <= 148) {
    const int b = static_cast<int>(m - 21) | (d < 0 ? 0x80 : 0);
    return {8, 8, 8, b & 15, b >> 4};
  }
  const int w = static_cast<int>(m - 148) | (d < 0 ? 0x8000 : 0);
  return {8, 8, 8, 0, 8, w & 15, (w >> 4) & 15, (w >> 8) & 15, w >> 12};
}

// A whole file from the table, for the decoder.
std::string reference_file(const std::vector<long>& values, int nx, int ny) {
  char text[65];
  std::snprintf(text, sizeof text, "CDD V01.00A X NUMBER =%8d; Y NUMBER =%8d; DATA (C1) = ", nx, ny);
  std::string out(text, 64);
  const auto c1 = static_cast<std::uint32_t>(values[0]);
  for (int i = 0; i < 4; ++i) out += static_cast<char>((c1 >> (8 * i)) & 255u);
  std::vector<int> nibbles;
  long p = values[0];
  for (int y = 0; y < ny; ++y) {
    for (int x = 0; x < nx; ++x) {
      const long v = values[static_cast<std::size_t>(y * nx + x)];
      for (int n : reference_code(v - p)) nibbles.push_back(n);
      p = v;
    }
    p = values[static_cast<std::size_t>(y * nx)];
  }
  if (nibbles.size() % 2 != 0) nibbles.push_back(0);
  for (std::size_t i = 0; i < nibbles.size(); i += 2)
    out += static_cast<char>(nibbles[i] | (nibbles[i + 1] << 4));
  out.resize((out.size() + 511) / 512 * 512, '\0');
  return out;
}

class Cdd : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  int write(const std::vector<float>& data, Index nx, Index ny, const std::string& path) {
    testing::ScriptedInput input({path});
    int retstat = -9;
    FIO_OUT_CDD(nx, ny, 1, 1, nx, ny, data, retstat, status_);
    return retstat;
  }
  int read(std::vector<float>& data, Index xmax, Index ymax, const std::string& path,
           Index& xn, Index& yn) {
    testing::ScriptedInput input({path});
    std::vector<float> xaxis(static_cast<std::size_t>(xmax)), yaxis(static_cast<std::size_t>(ymax));
    std::string title, xl, yl, zl;
    int retstat = -9;
    bool variances = false;
    float xps = 1, yps = 1;
    FIO_IN_CDD({xmax, ymax, variances, xn, yn, xaxis, yaxis, data, {}, title, xl, yl, zl, xps, yps},
               retstat, status_);
    return retstat;
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Cdd, EncoderMatchesTheTableAndRoundTrips) {
  // Row 1 walks through every level; row 2 starts from pixel (1,1).
  const std::vector<long> values = {1000, 1008, 1000, 1022, 1000, 1149, 1149 - 32915,
                                    1000, 1003, 2,    -3,   -25,  7,    -200};
  std::vector<float> data(values.begin(), values.end());
  data[2] = 999.5f;  // rounds to 1000
  const std::string path = dir_.file("a.cdd");
  ASSERT_EQ(write(data, 7, 2, path), 0);
  const std::vector<long>& padded = values;
  EXPECT_EQ(testing::file_contents(path), reference_file(padded, 7, 2));

  // The reference file (an odd number of nibbles) decodes to the values.
  std::ofstream(path, std::ios::binary) << reference_file(padded, 7, 2);
  std::vector<float> back(16, -1.0f);
  Index xn = 0, yn = 0;
  ASSERT_EQ(read(back, 8, 2, path, xn, yn), 0);
  EXPECT_EQ(xn, 7);
  for (std::size_t i = 0; i < 14; ++i)
    EXPECT_EQ(back[i + (i / 7)], static_cast<float>(padded[i])) << i;
}

TEST_F(Cdd, ConstantImageLayout) {
  const std::vector<float> data(100 * 100, 1000.0f);
  const std::string path = dir_.file("c.cdd");
  ASSERT_EQ(write(data, 100, 100, path), 0);
  const std::string bytes = testing::file_contents(path);
  ASSERT_EQ(bytes.size(), 5120u);
  EXPECT_EQ(bytes.substr(0, 64),
            "CDD V01.00A X NUMBER =     100; Y NUMBER =     100; DATA (C1) = ");
  EXPECT_EQ(bytes.substr(64, 4), std::string("\xe8\x03\x00\x00", 4));
  EXPECT_EQ(bytes.substr(68), std::string(5052, '\0'));
}

TEST_F(Cdd, RandomImagesRoundTripAndWiderFilesAreCut) {
  std::mt19937 random(7);
  // Values within 0..30000 keep every difference codable; jumps reach level 5.
  std::uniform_int_distribution<int> jump(0, 30000), small(-30, 30);
  std::vector<float> data(37 * 5);
  float v = 0;
  for (auto& d : data)
    d = v = random() % 8 == 0 ? static_cast<float>(jump(random))
                              : std::clamp(v + static_cast<float>(small(random)), 0.0f, 30000.0f);
  const std::string path = dir_.file("r.cdd");
  ASSERT_EQ(write(data, 37, 5, path), 0);
  std::vector<float> back(37 * 5);
  Index xn = 0, yn = 0;
  const std::string warning =
      "WARNING: The image is bigger than the presently defined program arrays\n"
      "         only a part of the image will be input.";
  ASSERT_EQ(read(back, 37, 5, path, xn, yn), 0);
  EXPECT_EQ(back, data);
  EXPECT_EQ(terminal_.text().find(warning), std::string::npos);
  std::vector<float> cut(10 * 3);
  ASSERT_EQ(read(cut, 10, 3, path, xn, yn), 0);
  EXPECT_NE(terminal_.text().find(warning), std::string::npos) << "read in part after a warning";
  EXPECT_EQ(xn, 10);
  EXPECT_EQ(yn, 3);
  EXPECT_EQ(cut[10], data[37]);
}

TEST_F(Cdd, RefusalsAndDamage) {
  const std::string path = dir_.file("d.cdd");
  std::ofstream(path) << "old";
  // Each refusal names the pixel and why; a value that is no number is not
  // called one beyond the integers.
  const struct {
    std::vector<float> values;
    const char* said;
  } refused[] = {
      {{0, 32916}, "(2, 1) differs by more than 32915"},
      {{0, 3.0e9f}, "(2, 1) lies outside 32-bit integers"},
      {{0, std::nanf("")}, "(2, 1) is NaN, not a finite number, and cannot be stored"},
      {{-std::numeric_limits<float>::infinity(), 0}, "(1, 1) is -Infinity, not a finite number"},
  };
  for (const auto& r : refused) {
    const std::size_t before = terminal_.text().size();
    EXPECT_EQ(write(r.values, 2, 1, path), 1);
    EXPECT_EQ(testing::file_contents(path), "old");
    EXPECT_NE(terminal_.text().find(r.said, before), std::string::npos) << terminal_.text();
  }
  std::string good = reference_file({5, 6, 7, 8}, 2, 2);
  struct Case {
    std::string bytes, message;
  };
  std::string no_code = reference_file({5, 5}, 2, 1);
  no_code[68] = '\x88';  // 8, 8
  no_code[69] = '\x08';  // 8, 0
  no_code[70] = '\x08';  // 8, q1 = 0
  no_code[71] = '\x00';
  no_code[72] = '\x08';  // q4 = 8: the word 0x8000
  const std::vector<Case> cases = {
      {"not a compressed file", "is not a \"Compressed Diffraction Data\" file"},
      {good.substr(0, 40), "header"},
      {good.substr(0, 68), "ends before"},
      {no_code, "NOT IMPLEMENTED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::ofstream(path, std::ios::binary) << c.bytes;
    std::vector<float> data(4, -7.0f);
    Index xn = 0, yn = 0;
    const std::size_t before = terminal_.text().size();
    EXPECT_EQ(read(data, 2, 2, path, xn, yn), 1);
    EXPECT_EQ(data, std::vector<float>(4, -7.0f));
    EXPECT_NE(terminal_.text().find(c.message, before), std::string::npos);
  }
}

}  // namespace
}  // namespace kesta
