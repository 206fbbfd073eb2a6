#include "formats/fuji_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

class Fuji : public ::testing::Test {
 protected:
  void put(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen(dir_.file(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // A description of 3 x 1 pixels of BITS, sensitivity 4000, latitude LATITUDE.
  std::string inf(const std::string& bits, const std::string& latitude,
                  const std::string& sensitivity = "4000") {
    return "BAS2000\nplate\n\n\n100\n  50 um\n" + bits + "\n3\n1\n" + sensitivity + "\n" +
           latitude + "\n";
  }
  ImageRead read() {
    return read_fuji_file(dir_.file("scan.inf"), dir_.file("scan.img"), {4, 2, false}, status_);
  }
  static float at(const ImageRead& r, Index x) { return r.image.pixels()[static_cast<std::size_t>(x - 1)]; }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

TEST_F(Fuji, SixteenAndEightBitScansAreLinearised) {
  put("scan.inf", inf("16", "4"));
  put("scan.img", std::string("\x80\x00\x00\x00\xff\xff", 6));  // 32768, 0, 65535 big-endian
  ImageRead r = read();
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_FLOAT_EQ(at(r, 1), 100.0f);
  EXPECT_FLOAT_EQ(at(r, 2), 1.0f);
  EXPECT_NEAR(at(r, 3), 9998.6f, 0.1f);
  EXPECT_FLOAT_EQ(*r.image.x_pixel_size, 1.0e-4f);
  EXPECT_FLOAT_EQ(*r.image.y_pixel_size, 5.0e-5f);
  EXPECT_EQ(*r.image.title, "scan.inf");

  put("scan.inf", inf("8", "4"));
  put("scan.img", std::string("\x80\x00\xff", 3));
  r = read();
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_FLOAT_EQ(at(r, 1), 100.0f);
  EXPECT_FLOAT_EQ(at(r, 2), 1.0f);

  // Each description has its own table: another latitude, then 12 bits stored
  // in 16, where a value beyond 4095 takes the last entry.
  put("scan.inf", inf("16", "2"));
  put("scan.img", std::string("\x80\x00\x00\x00\xff\xff", 6));
  r = read();
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_FLOAT_EQ(at(r, 2), 10.0f);
  put("scan.inf", inf("12", "4"));
  r = read();
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_NEAR(at(r, 3), 9977.54f, 0.01f);
}

TEST_F(Fuji, TheImageFileBesideTheDescriptionIsFound) {
  put("a.inf", "");
  EXPECT_EQ(fuji_image_file(dir_.file("a.inf")), "");
  put("a.IMG", "");
  EXPECT_EQ(fuji_image_file(dir_.file("a.inf")), dir_.file("a.IMG"));
  put("a.img", "");
  EXPECT_EQ(fuji_image_file(dir_.file("a.inf")), dir_.file("a.img"));
}

// What the window was shown, a warning marked with "!".
std::vector<std::string> shown;
void record(std::string_view text, bool warning, Status&) {
  shown.push_back((warning ? "!" : "") + std::string(text));
}

// The window shows each warning of the description in its own form, then
// the two steps of a read.
TEST_F(Fuji, WindowShowsTheWarningsAndTheSteps) {
  put("scan.img", std::string("\x80\x00\x00\x00\xff\xff", 6));
  put("scan.inf", "BAS2000\nplate\n\n\nx\ny\nb\nnx\nny\ns\nl\n");
  shown.clear();
  ImageRead r = read_fuji_file(dir_.file("scan.inf"), dir_.file("scan.img"), {4, 2, false}, record,
                               status_);
  EXPECT_NE(r.retstat, 0);
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "!X PIXEL SIZE NOT PROPERLY DEFINED", "!Y PIXEL SIZE NOT PROPERLY DEFINED",
                       "!NUMBER OF BITS IS NOT PROPERLY DEFINED",
                       "!NUMBER OF PIXELS IN X-DIRECTION UNDEFINED",
                       "!NUMBER OF PIXELS IN Y-DIRECTION UNDEFINED", "!SENSITIVITY UNDEFINED",
                       "!LATITUDE UNDEFINED"}));
  EXPECT_NE(terminal_.text().find("WARNING: Latitude undefined"), std::string::npos);

  // Pixel sizes missing only warn: the scan is read.
  put("scan.inf", inf("16", "4").replace(inf("16", "4").find("100"), 3, "?"));
  shown.clear();
  r = read_fuji_file(dir_.file("scan.inf"), dir_.file("scan.img"), {4, 2, false}, record, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_FLOAT_EQ(at(r, 1), 100.0f);
  EXPECT_EQ(shown, (std::vector<std::string>{"!X PIXEL SIZE NOT PROPERLY DEFINED",
                                             "INPUTTING DATA FROM FILE", "LINEARISING DATA"}));
  EXPECT_EQ(status_, kStatusGood);

  // A scan wider than the arrays is said to be read in part once, before
  // the read starts.
  testing::TerminalCapture narrow;
  r = read_fuji_file(dir_.file("scan.inf"), dir_.file("scan.img"), {2, 1, false}, status_);
  ASSERT_EQ(r.retstat, 0) << narrow.text();
  const std::string said = narrow.text();
  const std::string warning = "WARNING: The image is bigger than the presently defined";
  const std::size_t warned = said.find(warning);
  EXPECT_LT(warned, said.find("INFO: Inputting data from file")) << said;
  EXPECT_EQ(said.find(warning, warned + 1), std::string::npos) << said;
}

TEST_F(Fuji, BadDescriptionsAreRefused) {
  put("scan.img", std::string(6, '\0'));
  const std::vector<std::pair<std::string, const char*>> cases = {
      {inf("16", "none"), "WARNING: Latitude undefined"},
      {inf("17", "4"), "gives 17 bits per pixel"},
      {inf("16", "4", "0"), "sensitivity 0"},
      {"", "Problem reading from .inf file"},
      {inf("16", "4").replace(inf("16", "4").find("\n3\n"), 3, "\n30\n"), "too short for its image"},
  };
  for (const auto& [text, message] : cases) {
    put("scan.inf", text);
    testing::TerminalCapture terminal;
    const ImageRead r = read();
    EXPECT_NE(r.retstat, 0) << message;
    EXPECT_NE(terminal.text().find(message), std::string::npos) << message << terminal.text();
  }
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
