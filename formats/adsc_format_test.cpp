#include "formats/adsc_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// A 512-byte header of ITEMS in braces, then 4 x 3 pixels k + 1 (k row-major
// from the file's first row) in the given byte order.
std::string adsc(const std::string& items, bool big) {
  std::string out = "{\n" + items + "}\n";
  out.resize(512, ' ');
  for (int k = 0; k < 12; ++k) {
    const int v = 1000 * k + 1;
    out.push_back(static_cast<char>(big ? v >> 8 : v & 0xff));
    out.push_back(static_cast<char>(big ? v & 0xff : v >> 8));
  }
  return out;
}

const std::string kSizes = "HEADER_BYTES=  512;\nSIZE1=4;\nSIZE2=3;\nDIM=2;\n";

class Adsc : public ::testing::Test {
 protected:
  ImageRead read(const std::string& bytes) {
    const std::string path = dir_.file("image.img");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return read_adsc_file(path, {8, 8, false}, status_);
  }
  static float at(const ImageRead& r, Index x, Index y) {
    return r.image.pixels()[static_cast<std::size_t>(element(x, y, r.image.xmaxdat))];
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Adsc, BothByteOrdersLowerCaseKeysAndDefaults) {
  struct Case {
    std::string items;
    bool big;
  };
  const bool machine_big = IO_BIG_ENDIAN();
  for (const Case& c :
       {Case{kSizes + "BYTE_ORDER=little_endian;\nTYPE=unsigned_short;\n", false},
        Case{kSizes + "byte_order = big_endian;\ntype = unsigned_short;\n", true},
        Case{"header_bytes=512;size1=4;size2=3;", machine_big}}) {
    const ImageRead r = read(adsc(c.items, c.big));
    ASSERT_EQ(r.retstat, 0) << c.items << terminal_.text();
    EXPECT_EQ(r.image.xnumdat, 4);
    EXPECT_EQ(r.image.ynumdat, 3);
    EXPECT_EQ(at(r, 1, 1), 1.0f) << "the file's first row is data row 1";
    EXPECT_EQ(at(r, 4, 3), 11001.0f);
    EXPECT_EQ(*r.image.overload, 65535.0f);
    EXPECT_FALSE(r.image.x_pixel_size) << "pixel sizes stay as they were";
  }
  EXPECT_NE(terminal_.text().find("INFO: No TYPE in the header"), std::string::npos);
}

TEST_F(Adsc, DamagedHeadersAreRefused) {
  const std::vector<std::pair<std::string, const char*>> cases = {
      {"no header at all", "Error in reading start of header"},
      {"{HEADER_BYTES=512;SIZE1", "Error in reading keyword"},
      {"{HEADER_BYTES=512;SIZE1=4", "Error in reading key value"},
      {adsc(kSizes + "TYPE=float;", false), "unsupported"},
      {adsc("HEADER_BYTES=512;SIZE1=4;SIZE2=3;DIM=3;", false), "Only 2-dimensional"},
      {adsc("SIZE1=4;SIZE2=3;", false), "size of header was not found"},
      {adsc("HEADER_BYTES=512;SIZE1=4;", false), "size of the image was not found"},
      {adsc("HEADER_BYTES=512;SIZE1=four;SIZE2=3;", false), "Problem of converting key value"},
      {adsc("HEADER_BYTES=512;SIZE1=4;SIZE2=300;", false), "too short for its image"},
      {adsc("HEADER_BYTES=-5;SIZE1=4;SIZE2=3;", false), "size of header was not found"},
  };
  for (const auto& [bytes, message] : cases) {
    testing::TerminalCapture terminal;
    const ImageRead r = read(bytes);
    EXPECT_NE(r.retstat, 0) << message;
    EXPECT_FALSE(r.image.data) << message;
    EXPECT_NE(terminal.text().find(message), std::string::npos) << message << terminal.text();
  }
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
