#include "formats/bsl_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

class Bsl : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  void put(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen(dir_.file(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ImageRead read(Index set, Index image) {
    return read_bsl_file(dir_.file("X01000.BSL"), {4, 4, false}, set, image, status_);
  }
  static float at(const ImageRead& r, Index x, Index y) {
    return r.image.pixels()[static_cast<std::size_t>(element(x, y, r.image.xmaxdat))];
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

// 2-byte values in the given order.
std::string shorts(std::initializer_list<int> values, bool big) {
  std::string out;
  for (const int v : values) {
    out.push_back(static_cast<char>(big ? (v >> 8) & 0xff : v & 0xff));
    out.push_back(static_cast<char>(big ? v & 0xff : (v >> 8) & 0xff));
  }
  return out;
}

TEST_F(Bsl, WrittenRegionHasTheLayoutAndReadsBack) {
  std::vector<float> data(12);
  for (int k = 0; k < 12; ++k) data[static_cast<std::size_t>(k)] = 0.5f * k - 1.0f;
  const std::string header = dir_.file("B07000.BSL");
  testing::ScriptedInput input({header});
  std::string name = "A99000.BSL";
  int retstat = 1;
  // The 3 x 2 region from (2, 1) of a 4 x 3 array.
  FIO_OUT_BSL(false, "", 4, 3, 2, 1, 4, 2, data, "Scan", name, retstat, status_);
  ASSERT_EQ(retstat, 0) << terminal_.text();
  const std::string flag = IO_BIG_ENDIAN() ? "0" : "1";
  EXPECT_EQ(testing::file_contents(header),
            "Scan\n \n       3       2       1       " + flag +
                "       0       0       0       0       0       0\nB07001.BSL\n");
  EXPECT_EQ(testing::file_contents(dir_.file("B07001.BSL")).size(), 24u);
  const ImageRead r = read_bsl_file(header, {4, 4, false}, 1, 1, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(r.image.xnumdat, 3);
  EXPECT_EQ(r.image.ynumdat, 2);
  EXPECT_EQ(at(r, 1, 1), data[1]);
  EXPECT_EQ(at(r, 3, 2), data[7]);
}

// A name the writer refuses is not the one offered next time.
TEST_F(Bsl, RefusedNameIsNotOfferedAgain) {
  const std::vector<float> data(4, 1.0f);
  for (const std::string& refused :
       {dir_.file("none/B07000.BSL"), dir_.file("header.bsl"), std::string("~nobody-here/x")}) {
    SCOPED_TRACE(refused);
    testing::ScriptedInput input({refused});
    std::string name = "A99000.BSL";
    int retstat = 0;
    FIO_OUT_BSL(false, "", 2, 2, 1, 1, 2, 2, data, "Scan", name, retstat, status_);
    EXPECT_EQ(status_, kStatusGood);
    EXPECT_NE(retstat, 0);
    EXPECT_EQ(name, "A99000.BSL");
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.file("header.bsl")));
}

TEST_F(Bsl, SecondDataSetSecondImageOfSixteenBitsInTheOtherOrder) {
  put("X01000.BSL",
      "title\nline 2\n       2       1       1       1       0       0       0       0       0"
      "       0\nX01001.BSL\n       2       2       2       0       3       0       0       0"
      "       0       0\nX01002.BSL\n");
  put("X01002.BSL", shorts({1, 2, 3, 4, -5, 6, 7, 8}, true));
  const ImageRead r = read(2, 2);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(at(r, 1, 1), -5.0f) << "frame 2 starts 8 bytes in";
  EXPECT_EQ(at(r, 2, 2), 8.0f);
  EXPECT_NE(terminal_.text().find("INFO: Data-set (\"memory\") 2 contains  2 image(s) of      2 x      2 pixels"),
            std::string::npos)
      << terminal_.text();
}

// The keyboard road reads the header once: each data set is described once,
// then the data set and the image are asked.
TEST_F(Bsl, KeyboardRoadDescribesEachDataSetOnce) {
  put("X01000.BSL",
      "title\nline 2\n       2       1       1       1       0       0       0       0       0"
      "       0\nX01001.BSL\n       2       2       2       0       3       0       0       0"
      "       0       0\nX01002.BSL\n");
  put("X01002.BSL", shorts({1, 2, 3, 4, -5, 6, 7, 8}, true));
  testing::ScriptedInput input({dir_.file("X01000.BSL"), "2", "2"});
  std::string name;
  const ImageRead r = bsl_keyboard_read({4, 4, false}, name, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(input.prompts.size(), 3u);
  EXPECT_EQ(at(r, 1, 1), -5.0f);
  const std::string out = terminal_.text();
  for (const char* set : {"1 contains  1", "2 contains  2"}) {
    const std::string line = std::string("INFO: Data-set (\"memory\") ") + set;
    const std::size_t first = out.find(line);
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find(line, first + 1), std::string::npos) << "said twice:\n" << out;
  }
}

TEST_F(Bsl, MissingHeaderShowsTheEscapeThatLeaves) {
  const std::string escape = "\\\\";  // the two characters typed
  testing::ScriptedInput input({dir_.file("none.bsl"), escape});
  std::string name;
  EXPECT_FALSE(bsl_keyboard_read({4, 4, false}, name, status_).ok());
  EXPECT_EQ(status_, kStatusEscape);
  // The hint shows exactly the line that was typed to leave.
  EXPECT_NE(terminal_.text().find("(You can enter user escape (" + escape +
                                  ") to exit this command.)"),
            std::string::npos)
      << terminal_.text();
}

TEST_F(Bsl, BadHeadersAndDataAreRefused) {
  const std::string sizes = "       2       2       2       1       4       0\nX01001.BSL\n";
  put("X01001.BSL", shorts({1, 2, 3, 4}, false));
  struct Case {
    std::string header;
    Index set, image;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"t\nt\n", 1, 1, "Could not input header file information."},
      {"t\nt\n       2       2\nX01001.BSL\n", 1, 1, "Could not input frame number"},
      {"t\nt\n" + sizes, 2, 1, "has no data set 2"},
      {"t\nt\n" + sizes, 1, 3, "has no image 3"},
      {"t\nt\n" + sizes, 1, 2, "too short for its image"},
      {"t\nt\n       2       2       1       1       1\nX01001.BSL\n", 1, 1,
       "File data type not presently supported"},
      {"t\nt\n       2       2       1       1       4\nX01009.BSL\n", 1, 1,
       "Error in opening binary image file"},
  };
  for (const Case& c : cases) {
    put("X01000.BSL", c.header);
    testing::TerminalCapture terminal;
    const ImageRead r = read(c.set, c.image);
    EXPECT_NE(r.retstat, 0) << c.message;
    EXPECT_NE(terminal.text().find(c.message), std::string::npos) << c.message << terminal.text();
  }
  // A data file named with a directory is looked for beside the header only.
  std::filesystem::create_directory(dir_.file("sub"));
  put("sub/Y01001.BSL", shorts({1, 2, 3, 4}, false));
  put("X01000.BSL", "t\nt\n       2       2       1       1       4\nsub/Y01001.BSL\n");
  testing::TerminalCapture terminal;
  EXPECT_NE(read(1, 1).retstat, 0);
  EXPECT_NE(terminal.text().find("Error in opening binary image file:\n       " +
                                 dir_.file("Y01001.BSL")),
            std::string::npos)
      << terminal.text();
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
