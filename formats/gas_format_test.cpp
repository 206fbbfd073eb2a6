#include "formats/gas_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/special_files_test_support.hpp"

namespace kesta {
namespace {

class Gas : public ::testing::Test {
 protected:
  void put(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen(dir_.file(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ImageRead read(const GasChoice& choice) {
    return read_gas_file(dir_.file("run1"), {4, 4, false}, choice, status_);
  }
  static float at(const ImageRead& r, Index x, Index y) {
    return r.image.pixels()[static_cast<std::size_t>(element(x, y, r.image.xmaxdat))];
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

std::string header(const std::string& bits, const std::string& frames = "2") {
  return "run 1\n-1\nsection\n3\n" + bits + "\n3\n2\n" + frames + "\n-1\n";
}

TEST_F(Gas, FramesOfBothWidthsWithAndWithoutTheHeaderRecord) {
  // 32-bit: a 512-byte header record, two frames of 3 x 2, frame 2 from byte 536.
  std::vector<std::int32_t> values(12);
  for (int k = 0; k < 12; ++k) values[static_cast<std::size_t>(k)] = k - 7;
  std::string bytes(512, '\0');
  bytes.append(reinterpret_cast<const char*>(values.data()), 48);
  put("run1", header("32"));
  put("run1hm", bytes);
  ImageRead r = read({true, 2, false, true});
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(r.image.xnumdat, 3);
  EXPECT_EQ(at(r, 1, 1), -1.0f);
  EXPECT_EQ(at(r, 3, 2), 4.0f);
  r = read({true, 1, false, false});
  ASSERT_EQ(r.retstat, 0);
  EXPECT_EQ(at(r, 1, 1), 4294967289.0f) << "unsigned";

  // 16-bit, no header record, swapped.
  put("run1", header("16"));
  put("run1hm", std::string("\0\1\0\2\0\3\0\4\0\5\0\6\0\7\0\10\0\11\0\12\0\13\0\14", 24));
  r = read({false, 2, true, false});
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(at(r, 1, 1), 7.0f);
  EXPECT_EQ(at(r, 3, 2), 12.0f);
}

// The keyboard road scans the header once to ask its questions: the file's
// description is said once, and the frame asked for is read.
TEST_F(Gas, KeyboardRoadDescribesTheHeaderOnce) {
  put("run1", header("16"));
  put("run1hm", std::string("\0\1\0\2\0\3\0\4\0\5\0\6\0\7\0\10\0\11\0\12\0\13\0\14", 24));
  testing::ScriptedInput input({dir_.file("run1"), "NO", "2", "YES", "NO"});
  std::string name;
  const ImageRead r = gas_keyboard_read({4, 4, false}, name, status_);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  EXPECT_EQ(at(r, 1, 1), 7.0f);
  const std::string out = terminal_.text();
  for (const std::string line : {"INFO: The file contains    2 images (frames) of      3 *      2",
                                 "      Each pixel is stored using 16 bits."}) {
    const std::size_t first = out.find(line);
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find(line, first + 1), std::string::npos) << "said twice:\n" << out;
  }

  // An image larger than the arrays is refused before anything is asked.
  put("run1", "r\n-1\nx\n3\n16\n30\n2\n1\n");
  testing::ScriptedInput too_big({dir_.file("run1")});
  testing::TerminalCapture refused;
  EXPECT_FALSE(gas_keyboard_read({4, 4, false}, name, status_).ok());
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_NE(refused.text().find("not big enough to input an image"), std::string::npos)
      << refused.text();
  EXPECT_EQ(refused.text().find("BINARY \"HM\" FILE HEADER"), std::string::npos) << refused.text();
}

// Each refusal has its message and its code, which the graphical road turns
// into a box of its own; a read error is not the end of the file.
TEST_F(Gas, BadHeadersAndFramesAreRefused) {
  put("run1hm", std::string(40, '\0'));
  struct Case {
    std::string text;  // the header file; "" a link to a file that cannot be read
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"run\n-1\n3\n16\n3\n2\n1\n", kGasEndOfFile, "End of file found, before image header section"},
      {"", kGasBadInput, "Bad input, before image header section"},
      {"run\n-1\nx\n3\n16\n3\n", kGasNoSection, "No image header section"},
      {header("8"), kGasUnknownBits, "Unknown number of bits per pixel"},
      {"r\n-1\nx\n3\n16\n30\n2\n1\n", kGasTooBig, "not big enough to input an image"},
      {header("16", "1"), kGasRefused, "has no frame 2"},
      {header("32"), kGasRefused, "too short for its image"},
  };
  const std::string unreadable = testing::failing_read_file();
  for (const Case& c : cases) {
    std::filesystem::remove(dir_.file("run1"));
    if (c.text.empty()) {
      // Opens as a regular file that has a size, and every read fails.
      if (unreadable.empty()) continue;
      std::filesystem::create_symlink(unreadable, dir_.file("run1"));
    } else {
      put("run1", c.text);
    }
    testing::TerminalCapture terminal;
    const ImageRead r = read({false, 2, false, false});
    EXPECT_EQ(r.retstat, c.code) << c.message;
    EXPECT_NE(terminal.text().find(c.message), std::string::npos) << c.message << terminal.text();
  }
  // The data file is opened only as a regular file.
  put("run1", header("16"));
  std::filesystem::remove(dir_.file("run1hm"));
  std::filesystem::create_directory(dir_.file("run1hm"));
  testing::TerminalCapture terminal;
  EXPECT_EQ(read({false, 2, false, false}).retstat, kGasNoMemoryFile);
  EXPECT_NE(terminal.text().find("Error in opening histogram memory file"), std::string::npos);
  EXPECT_EQ(status_, kStatusGood);
}

}  // namespace
}  // namespace kesta
