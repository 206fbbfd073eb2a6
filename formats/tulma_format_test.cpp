#include "formats/tulma_format.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/raw_io.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

void spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A header of ENTRIES in the layout the writer uses.
std::string header(const std::string& entries) {
  std::string h = "{\n" + entries;
  h.resize(1022, ' ');
  return h + "}\n";
}

template <typename T>
std::string pixels(std::initializer_list<T> values, bool big_endian) {
  std::string out;
  for (T v : values) {
    if (big_endian != IO_BIG_ENDIAN()) v = byte_swapped(v);
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  return out;
}

struct Image {
  Index xmax = 4, ymax = 3;
  std::vector<float> data = std::vector<float>(12, -7.0f), var = std::vector<float>(12, -7.0f);
  std::vector<float> xaxis = std::vector<float>(4), yaxis = std::vector<float>(3);
  std::string title = "old", xl, yl, zl;
  float overload = 0, xps = 1, yps = 1;
  Index xnum = 0, ynum = 0;
  bool variances = true;
  ImageTarget target() {
    return {xmax, ymax, variances, xnum, ynum, xaxis, yaxis, data, var, title, xl, yl, zl, xps, yps};
  }
};

class Tulma : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  int read(Image& im, std::string path) {
    int retstat = -9;
    FIO_IN_TULMA(true, im.target(), path, retstat, im.overload, status_);
    return retstat;
  }
  // The terminal output since the last call.
  std::string take() {
    std::string all = terminal_.text();
    std::string out = all.substr(seen_);
    seen_ = all.size();
    return out;
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  std::size_t seen_ = 0;
  Status status_ = ST_GOOD();
};

TEST_F(Tulma, WriterGivesTheExactLayoutAndReadsBack) {
  Image im;
  for (int i = 0; i < 12; ++i) im.data[static_cast<std::size_t>(i)] = 1.5f * i - 4.0f;
  const std::string path = dir_.file("a.wlt");
  int retstat = -9;
  FIO_OUT_TULMA(path, 4, 3, 1, 1, 4, 3, im.data, retstat, status_);
  ASSERT_EQ(retstat, 0);
  const std::string bytes = testing::file_contents(path);
  ASSERT_EQ(bytes.size(), 1072u);
  const std::string order = IO_BIG_ENDIAN() ? "HighByteFirst" : "LowByteFirst";
  EXPECT_EQ(bytes.substr(0, 1024),
            header("HeaderID = EH:000001:000000:000000;\nImage = 1;\nByteOrder = " + order +
                   ";\nDataType = FLOAT;\nDim_1 = 4;\nDim_2 = 3;\n"));
  EXPECT_EQ(0, std::memcmp(bytes.data() + 1024, im.data.data(), 48));

  // A 2 x 2 region starting at (2, 2) reads back at (1, 1).
  FIO_OUT_TULMA(path, 4, 3, 2, 2, 3, 3, im.data, retstat, status_);
  Image back;
  ASSERT_EQ(read(back, path), 0);
  EXPECT_EQ(back.xnum, 2);
  EXPECT_EQ(back.ynum, 2);
  EXPECT_EQ(back.data[0], im.data[5]);
  EXPECT_EQ(back.data[1], im.data[6]);
  EXPECT_EQ(back.data[4], im.data[9]);
  EXPECT_EQ(back.overload, 1.7e38f);
  EXPECT_EQ(back.title, path);
  EXPECT_EQ(back.xaxis[1], 1.5f);
  EXPECT_EQ(back.var[4], im.data[9]);
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(Tulma, ReaderTakesEitherByteOrderTypeAndCaseOfKeys) {
  struct Case {
    std::string entries, data;
    float overload;
    std::vector<float> first_row;
    bool cut = false;  // the file's image is wider than the arrays
  };
  const std::vector<Case> cases = {
      {"dim_1 =2;\nDIM_2= 1;\nDataType = SignedShort ! two bytes;\nByteOrder = HighByteFirst;\n",
       pixels<std::int16_t>({-2, 300}, true), 32767.0f, {-2, 300}},
      {"Dim_1 = 2;\nDim_2 = 1;\nDataType = UnsignedShort;\nByteOrder = LowByteFirst;\n",
       pixels<std::int16_t>({-1, 7}, false), 65535.0f, {65535, 7}},
      {"Dim_1 = 2;\nDim_2 = 1;\nDataType = SignedInteger;\nByteOrder = HighByteFirst;\n"
       "Compression = None;\n",
       pixels<std::int32_t>({-100000, 5}, true), 2147483648.0f, {-100000, 5}},
      {"Dim_1 = 2;\nDim_2 = 1;\nDataType = FloatValue;\nByteOrder = LowByteFirst;\n",
       pixels<float>({0.25f, -3.0f}, false), 1.7e38f, {0.25f, -3.0f}},
      // Wider than the arrays: the first four columns of each row.
      {"Dim_1 = 5;\nDim_2 = 1;\nDataType = REAL;\nByteOrder = HighByteFirst;\n",
       pixels<float>({1, 2, 3, 4, 5}, true), 1.7e38f, {1, 2, 3, 4}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries);
    const std::string path = dir_.file("b.wlt");
    spit(path, header(c.entries) + c.data);
    Image im;
    take();
    ASSERT_EQ(read(im, path), 0) << take();
    // Read in part only after the warning.
    const std::string said = take();
    EXPECT_EQ(said.find("WARNING: The image is bigger than the presently defined program arrays\n"
                        "         only a part of the image will be input.") != std::string::npos,
              c.cut)
        << said;
    EXPECT_EQ(im.overload, c.overload);
    EXPECT_EQ(im.xnum, static_cast<Index>(c.first_row.size()));
    for (std::size_t i = 0; i < c.first_row.size(); ++i) EXPECT_EQ(im.data[i], c.first_row[i]);
  }
}

TEST_F(Tulma, RefusedFilesLeaveTheDataAsTheyWere) {
  const std::string good = "Dim_1 = 1;\nDim_2 = 1;\nDataType = FLOAT;\n";
  struct Case {
    std::string bytes, message;
  };
  const std::vector<Case> cases = {
      {header(good + "Compression = Packed;\n") + pixels<float>({1}, false), "compression"},
      {header("Dim_1 = 1;\nDim_2 = 1;\nDataType = Complex;\n"), "unsupported"},
      {header("Dim_2 = 1;\nDataType = FLOAT;\n") + pixels<float>({1}, false), "no valid Dim_1"},
      {header("Dim_1 = 1;\nDim_2 = 1;\n") + pixels<float>({1}, false), "DataType"},
      {header("Dim_1 = 9;\nDim_2 = 9;\nDataType = FLOAT;\n") + pixels<float>({1}, false),
       "is too short"},
      {header("Dim_1 = 9999999999;\nDim_2 = 9999999999;\nDataType = FLOAT;\n"), "is too short"},
      {"{\nDim_1", "keyword"},
      {"{\nDim_1 = 1", "key value"},
      {"no header at all", "start of header"},
      // Image 1 is wanted; the only section is image 2 and says no Size.
      {header("Image = 2;\n" + good) + pixels<float>({1}, false), "has not been found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string path = dir_.file("c.wlt");
    spit(path, c.bytes);
    Image im;
    take();
    EXPECT_EQ(read(im, path), 1);
    EXPECT_EQ(status_, kStatusGood);
    const std::string said = take();
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
    EXPECT_EQ(im.data[0], -7.0f);
    EXPECT_EQ(im.title, "old");
    EXPECT_EQ(im.xnum, 0);
  }
}

TEST_F(Tulma, SecondImageIsFoundAfterASectionWithSize) {
  const std::string path = dir_.file("d.wlt");
  const std::string one = "Dim_1 = 1;\nDim_2 = 1;\nDataType = FLOAT;\nByteOrder = LowByteFirst;\n";
  // The first section's data holds a "{", skipped by its Size.
  spit(path, header("Image = 1;\nSize = 4;\n" + one) + "{{{{" +
                 header("Image = 2;\nTitle = second;\n" + one) + pixels<float>({2}, false));
  testing::ScriptedInput input({path, "2"});
  Image im;
  int retstat = -9;
  std::string name = "x";
  FIO_IN_TULMA(false, im.target(), name, retstat, im.overload, status_);
  ASSERT_EQ(retstat, 0);
  EXPECT_EQ(im.data[0], 2.0f);
  EXPECT_EQ(im.title, "second");
  EXPECT_NE(take().find("INFO: \"Image\" number        1 has been found"),
            std::string::npos);
}

TEST_F(Tulma, SnifferLooksAtTheFirstKilobyte) {
  const std::string path = dir_.file("s.wlt");
  for (const auto& [bytes, expected] : {std::pair{header("") , 0}, std::pair{"x" + header("").substr(1), 1},
                                        std::pair{std::string("{\n"), -3}}) {
    spit(path, bytes);
    int retstat = -9;
    FIO_IS_TULMA(path, retstat, status_);
    EXPECT_EQ(retstat, expected);
  }
  int retstat = -9;
  FIO_IS_TULMA(dir_.file("none"), retstat, status_);
  EXPECT_GT(retstat, 0);
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(Tulma, HeaderBuilderRefusesWhatDoesNotFit) {
  FIO_OPEN_TULMAHEADER();
  FIO_ADD_TULMASTRING(0, "", "x", status_);
  EXPECT_EQ(status_, 180033);
  status_ = ST_GOOD();
  const std::string long_value(500, 'v');
  FIO_ADD_TULMASTRING(0, "A", long_value, status_);
  FIO_ADD_TULMASTRING(0, "B", long_value, status_);
  EXPECT_EQ(status_, kStatusGood);
  FIO_ADD_TULMASTRING(0, "C", long_value, status_);
  EXPECT_EQ(status_, 180003);
}

}  // namespace
}  // namespace kesta
