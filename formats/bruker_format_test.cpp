#include "formats/bruker_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// A frame of NCOLS x NROWS pixels of NPIXELB bytes (little-endian), pixel k
// of the file (row-major from the top) = k + 1, with OVERFLOWS (value,
// offset) after the pixels. HEADER lines replace the standard ones.
std::string line(const std::string& key, const std::string& value) {
  std::string l = key;
  l.resize(7, ' ');
  l += ":" + value;
  l.resize(80, ' ');
  return l;
}

std::string frame(Index ncols, Index nrows, Index npixelb,
                  const std::vector<std::pair<Index, Index>>& overflows,
                  std::vector<std::string> header = {}) {
  if (header.empty())
    header = {line("FORMAT", "86"), line("HDRBLKS", "5"),
              line("NOVERFL", std::to_string(overflows.size())),
              line("NPIXELB", std::to_string(npixelb)), line("NROWS", std::to_string(nrows)),
              line("NCOLS", std::to_string(ncols))};
  std::string out;
  for (const auto& l : header) out += l;
  out += std::string(1, '\x1a');
  out.resize(5 * 512, ' ');
  for (Index k = 0; k < ncols * nrows; ++k)
    for (Index b = 0; b < npixelb; ++b) out.push_back(static_cast<char>(((k + 1) >> (8 * b)) & 0xff));
  for (const auto& [value, offset] : overflows) {
    char entry[17];
    std::snprintf(entry, sizeof entry, "%9lld%7lld", static_cast<long long>(value),
                  static_cast<long long>(offset));
    out += entry;
  }
  return out;
}

class Bruker : public ::testing::Test {
 protected:
  ImageRead read(const std::string& bytes) {
    const std::string path = dir_.file("frame.001");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return read_bruker_file(path, {6, 4, true}, status_);
  }
  static float at(const ImageRead& r, Index x, Index y) {
    return r.image.pixels()[static_cast<std::size_t>(element(x, y, r.image.xmaxdat))];
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Bruker, EveryPixelSizeTopRowLastWithOverflows) {
  for (const Index npixelb : {1, 2, 4}) {
    // 5 x 3 pixels; overflow at offset 0 is the image's top-left pixel.
    const ImageRead r = read(frame(5, 3, npixelb, {{123456, 0}, {99, 14}, {7, 15}, {8, -1}}));
    ASSERT_EQ(r.retstat, 0) << npixelb << terminal_.text();
    EXPECT_EQ(r.image.xnumdat, 5);
    EXPECT_EQ(r.image.ynumdat, 3);
    EXPECT_EQ(at(r, 1, 3), 123456.0f);
    EXPECT_EQ(at(r, 2, 3), 2.0f);
    EXPECT_EQ(at(r, 1, 1), 11.0f) << "the file's last row is data row 1";
    EXPECT_EQ(at(r, 5, 1), 99.0f);
    EXPECT_EQ(*r.image.overload, 80000.0f);
    EXPECT_EQ(r.image.variance_pixels()[0], 11.0f);
  }
}

TEST_F(Bruker, DamagedFramesAreRefused) {
  struct Bad {
    const char* what;
    std::function<std::string()> bytes;
    const char* message;
  };
  const std::vector<Bad> cases = {
      {"cut inside the header", [] { return frame(5, 3, 2, {}).substr(0, 200); },
       "Error in inputting header line"},
      {"no NCOLS", [] { return frame(5, 3, 2, {}, {std::string("FORMAT :86").append(70, ' ')}); },
       "NCOLS -1"},
      {"NPIXELB 3", [] { return frame(5, 3, 3, {}); }, "NPIXELB 3"},
      {"cut inside the pixels", [] { return frame(5, 3, 2, {}).substr(0, 2560 + 20); },
       "too short for its image"},
      // A count no file of this size can hold is refused before room is made for it.
      {"NOVERFL beyond the file",
       [] {
         return frame(5, 3, 2, {},
                      {line("HDRBLKS", "5"), line("NOVERFL", "100000000000"), line("NPIXELB", "2"),
                       line("NROWS", "3"), line("NCOLS", "5")});
       },
       "NOVERFL 100000000000"},
      {"cut inside the overflows", [] { return frame(5, 3, 2, {{1, 1}}).substr(0, 2560 + 30 + 8); },
       "Error in inputting overflow pixel value"},
  };
  for (const Bad& c : cases) {
    testing::TerminalCapture terminal;
    const ImageRead r = read(c.bytes());
    EXPECT_NE(r.retstat, 0) << c.what;
    EXPECT_FALSE(r.image.data) << c.what;
    EXPECT_NE(terminal.text().find(c.message), std::string::npos) << c.what << terminal.text();
  }
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
