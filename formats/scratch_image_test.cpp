#include "formats/scratch_image.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/item_writer.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "formats/mervoda_format.hpp"

namespace kesta {
namespace {

// The program arrays of a 4 x 3 data set with variances, from IO_MALLOC.
struct ProgramArrays {
  ProgramArrays() {
    Status status = ST_GOOD();
    for (float** block : {&data, &variances}) {
      void* address = nullptr;
      io_malloc_array(12, sizeof(float), address, status);
      *block = static_cast<float*>(address);
      std::fill_n(*block, 12, 42.0f);
    }
  }
  ~ProgramArrays() {
    Status status = ST_GOOD();
    for (float* block : {data, variances}) {
      void* address = block;
      IO_FREE(address, status);
    }
  }
  float* data = nullptr;
  float* variances = nullptr;
  std::vector<float> xaxis = std::vector<float>(4), yaxis = std::vector<float>(3);
  bool variances_exist = true;
  Index xnum = 4, ynum = 3;
  std::string title = "old", xlabel = "x", ylabel = "y", zlabel = "z";
  float xps = 5, yps = 6;

  ImageTarget target(bool blocks) {
    return ImageTarget{4, 3, variances_exist, xnum, ynum, xaxis, yaxis,
                       std::span<float>(data, 12), std::span<float>(variances, 12), title,
                       xlabel, ylabel, zlabel, xps, yps, blocks ? &data : nullptr,
                       blocks ? &variances : nullptr};
  }
};

// A 3 x 2 image read for the 4 x 3 arrays, without variances, with a title.
ScratchImage small_image() {
  ScratchImage image;
  Status status = ST_GOOD();
  EXPECT_TRUE(scratch_allocate({4, 3, false}, false, "f", image, status));
  std::iota(image.pixels().begin(), image.pixels().end(), 1.0f);
  image.xnumdat = 3;
  image.ynumdat = 2;
  image.title = "new";
  image.y_pixel_size = 7;
  return image;
}

TEST(CommitImage, SwapsTheProgramArrayInOrCopiesTheExtent) {
  for (const bool blocks : {true, false}) {
    ProgramArrays arrays;
    ScratchImage image = small_image();
    const float* scratch = image.data.get();
    const float* old = arrays.data;
    commit_image(image, arrays.target(blocks));
    EXPECT_EQ(arrays.data == scratch, blocks) << "the scratch array taken, not copied";
    EXPECT_EQ(arrays.data != old, blocks);
    EXPECT_FALSE(image.data) << "the scratch image gives everything up";
    const std::vector<float> got(arrays.data, arrays.data + 12);
    const float outside = blocks ? 0.0f : 42.0f;
    EXPECT_EQ(got, (std::vector<float>{1, 2, 3, outside, 5, 6, 7, outside, outside, outside,
                                       outside, outside}))
        << blocks;
    EXPECT_EQ(arrays.xnum, 3);
    EXPECT_EQ(arrays.ynum, 2);
    EXPECT_EQ(arrays.xaxis[2], 2.5f) << "pixel centres for a file without axes";
    EXPECT_EQ(arrays.title, "new");
    EXPECT_EQ(arrays.xlabel, "x") << "what the file does not give is kept";
    EXPECT_EQ(arrays.xps, 1.0e-4f) << "no stored detector size: the start value";
    EXPECT_EQ(arrays.yps, 7.0f);
    EXPECT_FALSE(arrays.variances_exist) << "the file held no variances";
    EXPECT_EQ(arrays.variances[0], 42.0f);
  }
}

// An image filling less than half of the arrays is copied over its extent:
// the program arrays keep their blocks and nothing outside the extent is
// written, so that a small read into large arrays touches its own pages only.
TEST(CommitImage, SmallImageIsCopiedLeavingTheRestOfTheArraysAsTheyWere) {
  ProgramArrays arrays;
  ScratchImage image;
  Status status = ST_GOOD();
  ASSERT_TRUE(scratch_allocate({4, 3, true}, true, "f", image, status));
  std::iota(image.pixels().begin(), image.pixels().end(), 1.0f);
  std::ranges::fill(image.variance_pixels(), 9.0f);
  image.xnumdat = 2;
  image.ynumdat = 2;
  float* const data = arrays.data;
  float* const variances = arrays.variances;
  commit_image(image, arrays.target(true));
  EXPECT_EQ(arrays.data, data);
  EXPECT_EQ(arrays.variances, variances);
  EXPECT_EQ(std::vector<float>(data, data + 12),
            (std::vector<float>{1, 2, 42, 42, 5, 6, 42, 42, 42, 42, 42, 42}));
  EXPECT_EQ(std::vector<float>(variances, variances + 12),
            (std::vector<float>{9, 9, 42, 42, 9, 9, 42, 42, 42, 42, 42, 42}));
  EXPECT_TRUE(arrays.variances_exist);
  EXPECT_EQ(arrays.xnum, 2);
}

// A short scan and a small native image read for arrays 20,000,000 wide touch
// the pages of their values, not axes of the arrays' width (80 MB each; the
// address sanitizer's own records of a freed block take an eighth), and give
// what a read for arrays of their own size gives.
TEST(ReadIntoLargeArrays, ShortScanAndSmallImageTouchTheirOwnPages) {
  testing::TempDir dir;
  const std::string scan = dir.file("scan.mvd");
  std::ofstream(scan) << "\nX-axis\nIntensity\n          2\n 1.0 5.0\n 2.0 7.0\n";
  const std::string image = dir.file("image.kzt");
  ASSERT_TRUE(io_open_stream(33, image, "wb"));
  Status status = ST_GOOD();
  Index record = 1;
  const std::vector<float> values = {1, 2, 3, 4}, axis = {0.25f, 0.75f};
  IO_FWRITE_RARRAY(33, "data_array", 2, 2, 1, 1, 2, 2, values, record, status);
  IO_FWRITE_RARRAY(33, "x_axis", 2, 1, 1, 1, 2, 1, axis, record, status);
  IO_FWRITE_RARRAY(33, "y_axis", 2, 1, 1, 1, 2, 1, axis, record, status);
  io_close_stream(33);
  ASSERT_EQ(status, ST_GOOD());
  constexpr Index kWide = 20000000;
  const ReadRequest wide{kWide, 2, false}, own{2, 2, false};
  testing::TerminalCapture quiet;
  const auto axis_read = [&](const ReadRequest& request, bool native) {
    const testing::ResidentPeak peak;
    const ImageRead read =
        native ? read_kesta_file(image, request, status) : read_mervoda_file(scan, request, status);
    EXPECT_TRUE(read.ok());
    EXPECT_LT(peak.grown_bytes(), kWide * 4 / 2) << native << " " << request.xmaxdat;
    return read.image.xaxis;
  };
  EXPECT_EQ(axis_read(wide, false), axis_read(own, false));
  EXPECT_EQ(axis_read(wide, false), (std::vector<float>{1.0f, 2.0f}));
  EXPECT_EQ(axis_read(wide, true), axis_read(own, true));
  EXPECT_EQ(axis_read(wide, true), axis);
}

// A data set's pixel sizes are the detector's: each one the file gave above
// 0 and finite, else the stored detector size (a stored zero is none: the
// start value), never the data set's before or a reader's default.
TEST(CommitImage, PixelSizesAreTheFilesOrTheStoredDetectors) {
  struct Case {
    std::optional<float> x, y;
    bool x_defaulted;
    std::optional<float> stored_x;
    float want_x, want_y;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {2.0e-4f, 3.0e-4f, false, 7.5e-5f, 2.0e-4f, 3.0e-4f},
      {0.0f, 0.0f, false, 7.5e-5f, 7.5e-5f, 6.5e-5f},
      {-1.0e-4f, nan, false, 7.5e-5f, 7.5e-5f, 6.5e-5f},
      {inf, std::nullopt, false, 7.5e-5f, 7.5e-5f, 6.5e-5f},
      {1.0e-4f, 2.0e-4f, true, 7.5e-5f, 7.5e-5f, 2.0e-4f},
      {std::nullopt, std::nullopt, false, 0.0f, 1.0e-4f, 6.5e-5f},
      {std::nullopt, std::nullopt, false, std::nullopt, 1.0e-4f, 6.5e-5f},
  };
  for (const Case& c : cases) {
    io_clear_database();
    Status status = ST_GOOD();
    int stored = 1;
    if (c.stored_x) IO_SET_RKEYVALUE("X_PIXEL_SIZE", *c.stored_x, stored, status);
    IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 6.5e-5f, stored, status);
    ProgramArrays arrays;
    ScratchImage image = small_image();
    image.x_pixel_size = c.x;
    image.y_pixel_size = c.y;
    image.x_pixel_size_defaulted = c.x_defaulted;
    commit_image(image, arrays.target(true));
    EXPECT_EQ(arrays.xps, c.want_x) << c.x.value_or(-1) << " " << c.stored_x.value_or(-1);
    EXPECT_EQ(arrays.yps, c.want_y) << c.y.value_or(-1);
  }
  io_clear_database();
}

}  // namespace
}  // namespace kesta
