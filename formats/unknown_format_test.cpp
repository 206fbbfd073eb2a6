#include "formats/unknown_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

class Unknown : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  ImageRead read(std::vector<std::string> answers, Index xmax, Index ymax) {
    testing::ScriptedInput input(std::move(answers));
    std::string name = "test.dat";
    return unknown_keyboard_read({xmax, ymax, false}, name, status_);
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Unknown, DeducesAHeaderAndASixteenBitImage) {
  // A smooth 1024 x 1024 image of 16-bit values behind a 1000-byte header.
  const std::string path = dir_.file("smooth.raw");
  {
    std::vector<std::uint16_t> image(1024 * 1024);
    for (int y = 0; y < 1024; ++y)
      for (int x = 0; x < 1024; ++x)
        image[static_cast<std::size_t>(y * 1024 + x)] = static_cast<std::uint16_t>(
            2000 + 1000 * std::sin(x * 0.05) + 300 * std::cos(y * 0.01));
    std::ofstream out(path, std::ios::binary);
    out << std::string(1000, 'h');
    out.write(reinterpret_cast<const char*>(image.data()), 2 * 1024 * 1024);
  }
  ImageRead got = read({path, "200", "YES"}, 2048, 2048);
  ASSERT_TRUE(got.ok()) << terminal_.text();
  const std::string said = terminal_.text();
  EXPECT_NE(said.find("INFO: There appears to be 2 bytes per pixel"), std::string::npos) << said;
  EXPECT_NE(said.find("INFO: There appears to be   1024 pixels per row"), std::string::npos)
      << said;
  EXPECT_NE(said.find("INFO: The file is a maximum of   1024 rows, with at least      1000"),
            std::string::npos);
  EXPECT_EQ(got.image.xnumdat, 1024);
  EXPECT_EQ(got.image.ynumdat, 1024);
  EXPECT_EQ(got.image.pixels()[1], static_cast<float>(static_cast<std::uint16_t>(
                                       2000 + 1000 * std::sin(0.05) + 300)));

  EXPECT_EQ(said.find("WARNING: The image is bigger"), std::string::npos);
  // The file routine without the questions reads the same image.
  const ImageRead direct = read_unknown_file(path, {2048, 2048, false}, 200, status_);
  ASSERT_TRUE(direct.ok()) << terminal_.text();
  EXPECT_EQ(direct.image.xnumdat, 1024);
  EXPECT_EQ(direct.image.ynumdat, 1024);
  Index differ = 0;
  for (Index y = 0; y < 1024; ++y)
    for (Index x = 0; x < 1024; ++x)
      differ += got.image.pixels()[static_cast<std::size_t>(y * 2048 + x)] !=
                direct.image.pixels()[static_cast<std::size_t>(y * 2048 + x)];
  EXPECT_EQ(differ, 0);

  // Arrays of fewer rows than the image: the rows that fit, after a warning.
  got = read({path, "200", "YES"}, 2048, 700);
  ASSERT_TRUE(got.ok()) << terminal_.text();
  EXPECT_EQ(got.image.ynumdat, 700);
  EXPECT_NE(terminal_.text().find(
                "WARNING: The image is bigger than the presently defined program arrays\n"
                "         only a part of the image will be input."),
            std::string::npos);

  // NO leaves the autocorrelation as the data.
  got = read({path, "200", "NO"}, 2048, 2048);
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(got.image.xnumdat, 2048);
  EXPECT_EQ(got.image.ynumdat, 64);
}

TEST_F(Unknown, RefusesWhatCannotBeAnalysed) {
  const std::string empty = dir_.file("empty"), small = dir_.file("small");
  std::ofstream(empty) << "";
  std::ofstream(small) << std::string(100, 'x');
  struct Case {
    std::vector<std::string> answers;
    Index xmax;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{empty}, 64, "exists, but is empty"},
      {{small}, 64, "too small to deduce its type"},
      {{dir_.file("none"), small}, 64, "doesn't exist"},
      {{dir_.file("gone"), small}, 64, "gone cannot be opened: No such file or directory"},
      {{small}, 31, "at least 1024 values"},
  };
  for (const auto& c : cases) {
    const std::size_t before = terminal_.text().size();
    EXPECT_FALSE(read(c.answers, c.xmax, 32).ok());
    EXPECT_NE(terminal_.text().find(c.message, before), std::string::npos) << c.message;
    status_ = ST_GOOD();
  }
}

}  // namespace
}  // namespace kesta
