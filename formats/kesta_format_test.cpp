#include "formats/kesta_format.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <filesystem>
#include <numeric>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/raw_io.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "formats/format_menus.hpp"
#include "formats/formats_test_support.hpp"

namespace kesta {
namespace {

// A data set of the program's shape.
struct DataSet {
  DataSet(Index x, Index y)
      : xmax(x), ymax(y), data(x * y), variances(x * y), xaxis(x), yaxis(y) {}
  Index xmax, ymax;
  std::vector<float> data, variances, xaxis, yaxis;
  std::string title, xlabel, ylabel, zlabel;
  float xps = 0, yps = 0, overload = 0;
  Index xnum = 0, ynum = 0;
  bool variances_exist = true;
};

class KestaFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    io_clear_database();
  }
  void TearDown() override { io_clear_database(); }

  // Writes the region through the keyboard road, answering the file name.
  int write(const DataSet& d, Index xs, Index ys, Index xe, Index ye, const std::string& path,
            bool variances = true) {
    testing::ScriptedInput input({path});
    int retstat = -9;
    FIO_OUT_KESTA(false, "input.dat", d.xmax, d.ymax, xs, ys, xe, ye, d.xaxis, d.yaxis, d.data,
                  d.variances, d.title, d.xlabel, d.ylabel, d.zlabel, variances, d.xps, d.yps,
                  retstat, status_);
    return retstat;
  }
  int read(DataSet& d, std::string path) {
    int retstat = -9;
    FIO_IN_KESTA(true, d.xmax, d.ymax, d.variances_exist, path, retstat, d.xnum, d.ynum, d.xaxis,
                 d.yaxis, d.data, d.variances, d.title, d.xlabel, d.ylabel, d.zlabel, d.xps,
                 d.yps, d.overload, status_);
    return retstat;
  }

  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

std::string record(std::string fields) {
  fields.resize(511, ' ');
  return fields + "\n";
}

std::string data_record(std::initializer_list<float> values) {
  std::string out(512, '\0');
  std::size_t at = 0;
  for (float v : values) {
    std::memcpy(out.data() + at, &v, 4);
    at += 4;
  }
  return out;
}

TEST_F(KestaFormat, SmallFileHasTheExactBytes) {
  if (IO_BIG_ENDIAN()) GTEST_SKIP() << "golden bytes are little-endian";
  DataSet d(3, 3);
  std::iota(d.data.begin(), d.data.end(), 1.0f);
  std::iota(d.xaxis.begin(), d.xaxis.end(), 10.0f);
  std::iota(d.yaxis.begin(), d.yaxis.end(), 20.0f);
  d.title = "T";
  d.xlabel = "X";
  d.ylabel = "Y";
  d.zlabel = "Z";
  d.xps = 1.0e-4f;
  d.yps = -2.0f;
  const std::string path = dir_.file("small.kzt");
  ASSERT_EQ(write(d, 2, 1, 3, 2, path, false), 0);
  ASSERT_EQ(status_, kStatusGood);
  const std::string expected =
      record("\\$FFF_START:00000000s0000000fKESTA Data File") +
      record("\\$BIG_ENDIAN:00000000s00000005FALSE") +
      record("\\header:00000000s0000000aKESTA file") + record("\\title:00000000s00000001T") +
      record("\\x_axis_label:00000000s00000001X") + record("\\y_axis_label:00000000s00000001Y") +
      record("\\z_axis_label:00000000s00000001Z") + record("\\x_pixel_size:00000000r38d1b717") +
      record("\\y_pixel_size:00000000rc0000000") +
      record("\\overload_value:00000000s000000061.7e38") +
      record("\\data_array:00000001ar00000020000000020000000200000002") +
      data_record({2.0f, 3.0f, 5.0f, 6.0f}) +
      record("\\x_axis:00000001ar00000020000000020000000200000001") +
      data_record({11.0f, 12.0f}) +
      record("\\y_axis:00000001ar00000020000000020000000200000001") +
      data_record({20.0f, 21.0f}) + record("\\$FFF_END:00000000s00000011End of image data");
  EXPECT_EQ(testing::file_contents(path), expected);
}

TEST_F(KestaFormat, RegionWrittenAndReadBackIsIdentical) {
  DataSet d(6, 5);
  for (Index k = 0; k < 30; ++k) {
    d.data[k] = 1.5f * static_cast<float>(k) - 7.0f;
    d.variances[k] = 0.125f * static_cast<float>(k);
  }
  for (Index i = 0; i < 6; ++i) d.xaxis[i] = 100.0f + static_cast<float>(i);
  for (Index j = 0; j < 5; ++j) d.yaxis[j] = -3.0f * static_cast<float>(j);
  d.title = "Calibrant ring image, 12 keV";
  d.xlabel = "Columns";
  d.ylabel = "Rows";
  d.zlabel = "Counts";
  d.xps = 7.9e-5f;
  d.yps = 8.1e-5f;
  int stored = 0;
  IO_SET_KEYVALUE("#OVERLOAD_VALUE", 6, "1234.5", stored, status_);
  const std::string path = dir_.file("round.kzt");
  ASSERT_EQ(write(d, 2, 2, 5, 4, path), 0);

  DataSet back(6, 5);
  std::fill(back.data.begin(), back.data.end(), -99.0f);
  ASSERT_EQ(read(back, path), 0);
  ASSERT_EQ(status_, kStatusGood);
  EXPECT_EQ(back.xnum, 4);
  EXPECT_EQ(back.ynum, 3);
  for (Index j = 1; j <= 3; ++j)
    for (Index i = 1; i <= 4; ++i) {
      EXPECT_EQ(back.data[element(i, j, 6)], d.data[element(i + 1, j + 1, 6)]);
      EXPECT_EQ(back.variances[element(i, j, 6)], d.variances[element(i + 1, j + 1, 6)]);
    }
  EXPECT_EQ(back.data[element(5, 1, 6)], -99.0f) << "outside the read extent";
  for (Index i = 0; i < 4; ++i) EXPECT_EQ(back.xaxis[i], d.xaxis[i + 1]);
  for (Index j = 0; j < 3; ++j) EXPECT_EQ(back.yaxis[j], d.yaxis[j + 1]);
  EXPECT_EQ(back.title, d.title);
  EXPECT_EQ(back.xlabel, d.xlabel);
  EXPECT_EQ(back.ylabel, d.ylabel);
  EXPECT_EQ(back.zlabel, d.zlabel);
  EXPECT_EQ(back.xps, d.xps);
  EXPECT_EQ(back.yps, d.yps);
  EXPECT_EQ(back.overload, 1234.5f);
  EXPECT_TRUE(back.variances_exist);
}

TEST_F(KestaFormat, MissingItemsGetTheirDefaultsAndOtherByteOrderIsSwapped) {
  // A file of the other byte order, with nothing but the data array.
  const std::string path = dir_.file("sparse.kzt");
  std::vector<float> values = {1.0f, -2.0f, 3.5f, 1e20f};
  std::vector<float> swapped = values;
  swap_bytes(std::span<float>(swapped));
  ASSERT_TRUE(io_open_stream(33, path, "wb"));
  Index r = 1;
  IO_FWRITE_STRING(33, "$BIG_ENDIAN", IO_BIG_ENDIAN() ? "FALSE" : "TRUE", r, status_);
  IO_FWRITE_RARRAY(33, "data_array", 2, 2, 1, 1, 2, 2, swapped, r, status_);
  io_close_stream(33);

  DataSet d(4, 4);
  d.title = "kept";
  ASSERT_EQ(read(d, path), 0);
  EXPECT_EQ(d.data[element(1, 1, 4)], 1.0f);
  EXPECT_EQ(d.data[element(2, 1, 4)], -2.0f);
  EXPECT_EQ(d.data[element(1, 2, 4)], 3.5f);
  EXPECT_EQ(d.data[element(2, 2, 4)], 1e20f);
  EXPECT_EQ(d.xps, 1.0e-4f);
  EXPECT_EQ(d.yps, 1.0e-4f);
  EXPECT_EQ(d.overload, 65532.5f);
  EXPECT_EQ(d.xaxis[0], 0.5f);
  EXPECT_EQ(d.xaxis[1], 1.5f);
  EXPECT_EQ(d.yaxis[1], 1.5f);
  EXPECT_EQ(d.title, "kept");
  EXPECT_FALSE(d.variances_exist) << "the file has no variances";
}

// A file without pixel sizes gives no detector size: the whole read and the
// block-wise road (the file series) leave the stored sizes to the data set
// and give the database nothing to store.
TEST_F(KestaFormat, AbsentPixelSizesLeaveTheStoredDetectorSizes) {
  const std::string path = dir_.file("sizeless.kzt");
  std::vector<float> values = {1.0f, 2.0f, 3.0f, 4.0f};
  ASSERT_TRUE(io_open_stream(33, path, "wb"));
  Index r = 1;
  IO_FWRITE_RARRAY(33, "data_array", 2, 2, 1, 1, 2, 2, values, r, status_);
  io_close_stream(33);
  int stored = 1;
  IO_SET_RKEYVALUE("X_PIXEL_SIZE", 7.5e-5f, stored, status_);
  IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 1.72e-4f, stored, status_);

  DataSet d(4, 4);
  d.xps = d.yps = 3.0f;
  ASSERT_EQ(read(d, path), 0);
  EXPECT_FLOAT_EQ(d.xps, 7.5e-5f);
  EXPECT_FLOAT_EQ(d.yps, 1.72e-4f);
  const ImageRead whole = read_kesta_file(path, {4, 4, false}, status_);
  ASSERT_TRUE(whole.ok());
  ScratchImage described;
  ASSERT_NE(open_kesta_rows(path, described, status_), nullptr);
  for (const ScratchImage& image : {std::cref(whole.image), std::cref(described)}) {
    const FioFilePixelSizes sizes = fio_file_pixel_sizes(image);
    EXPECT_FALSE(sizes.x);
    EXPECT_FALSE(sizes.y);
  }
  EXPECT_EQ(status_, kStatusGood);
}

void put(const std::string& path, Index offset, const std::string& bytes);

TEST_F(KestaFormat, RowsInBlocksAreTheWholeReadsRows) {
  constexpr Index kX = 256, kY = 24, kN = kX * kY;
  DataSet d(kX, kY);
  for (std::size_t i = 0; i < d.data.size(); ++i) d.data[i] = 0.25f * static_cast<float>(i) - 3;
  const std::string path = dir_.file("rows.kzt");
  ASSERT_EQ(write(d, 1, 1, kX, kY, path, false), 0);
  // The same file in the other byte order: the flag and every value turned.
  const std::string turned = dir_.file("turned.kzt");
  std::filesystem::copy_file(path, turned);
  put(turned, 512 + 30, IO_BIG_ENDIAN() ? "FALSE" : "TRUE ");
  std::vector<float> swapped = d.data;
  swap_bytes(std::span<float>(swapped));
  put(turned, 512 * 11, std::string(reinterpret_cast<const char*>(swapped.data()), kN * 4));
  for (const std::string& file : {path, turned}) {
    ScratchImage image;
    const std::unique_ptr<RowSource> rows = open_kesta_rows(file, image, status_);
    ASSERT_NE(rows, nullptr) << terminal_.text();
    EXPECT_EQ(std::vector<Index>({rows->xnumdat(), rows->ynumdat(), image.xnumdat}),
              std::vector<Index>({kX, kY, kX}));
    EXPECT_EQ(image.xaxis, std::vector<float>(d.xaxis.begin(), d.xaxis.end()));
    std::vector<float> got(kN, -1.0f);
    for (const auto& [y, count] : {std::pair<Index, Index>{13, 12}, {1, 12}})
      ASSERT_TRUE(rows->rows(y, count, std::span<float>(got).subspan((y - 1) * kX), status_));
    EXPECT_EQ(got, d.data) << file;
  }
  // Refused when opened, as the whole read refuses it; cut after opening.
  std::filesystem::resize_file(path, 512 * 11 + 100);
  ScratchImage image;
  EXPECT_EQ(open_kesta_rows(path, image, status_), nullptr);
  const std::unique_ptr<RowSource> rows = open_kesta_rows(turned, image, status_);
  ASSERT_NE(rows, nullptr);
  std::filesystem::resize_file(turned, 512 * 11 + 100);
  std::vector<float> got(5 * kX);
  EXPECT_FALSE(rows->rows(20, 5, got, status_));
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_NE(terminal_.text().find("turned.kzt could not be read to its end"), std::string::npos);
}

TEST_F(KestaFormat, ImageLargerThanTheArraysIsReadInPart) {
  DataSet big(8, 6);
  std::iota(big.data.begin(), big.data.end(), 0.0f);
  const std::string path = dir_.file("big.kzt");
  ASSERT_EQ(write(big, 1, 1, 8, 6, path, false), 0);
  DataSet small(4, 4);
  small.variances_exist = false;
  ASSERT_EQ(read(small, path), 0);
  EXPECT_EQ(small.xnum, 4);
  EXPECT_EQ(small.ynum, 4);
  EXPECT_EQ(small.data[element(1, 2, 4)], big.data[element(1, 2, 8)]);
  EXPECT_NE(terminal_.text().find("WARNING: Not all of the data could be input"),
            std::string::npos);
}

// Files that must not change the data set.
struct BadFile {
  const char* what;
  std::function<void(const std::string&)> damage;
  const char* message;
};

class KestaFormatBadFile : public KestaFormat, public ::testing::WithParamInterface<BadFile> {};

TEST_P(KestaFormatBadFile, LeavesTheDataSetAsItWas) {
  DataSet d(5, 4);
  std::iota(d.data.begin(), d.data.end(), 1.0f);
  d.title = "good";
  const std::string path = dir_.file("bad.kzt");
  ASSERT_EQ(write(d, 1, 1, 5, 4, path), 0);
  GetParam().damage(path);

  DataSet current(5, 4);
  std::fill(current.data.begin(), current.data.end(), 42.0f);
  current.title = "current";
  current.xnum = 3;
  current.ynum = 2;
  current.xps = 5.0f;
  EXPECT_EQ(read(current, path), 1) << GetParam().what;
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_TRUE(std::all_of(current.data.begin(), current.data.end(),
                          [](float v) { return v == 42.0f; }));
  EXPECT_EQ(current.title, "current");
  EXPECT_EQ(current.xnum, 3);
  EXPECT_EQ(current.ynum, 2);
  EXPECT_EQ(current.xps, 5.0f);
  EXPECT_TRUE(current.variances_exist);
  const std::string out = terminal_.text();
  EXPECT_NE(out.find(GetParam().message), std::string::npos) << out;
  // One clear message, not a line for every item looked up in vain.
  std::size_t lookups = 0;
  for (auto at = out.find("File item not found"); at != std::string::npos;
       at = out.find("File item not found", at + 1))
    ++lookups;
  EXPECT_LE(lookups, 1u) << out;
}

void put(const std::string& path, Index offset, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  std::fseek(f, static_cast<long>(offset), SEEK_SET);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Records: 1-10 scalars and strings, 11 data_array header, 12 its data,
// 13 x_axis, 15 y_axis, 17 variances_array header, 18 its data, 19 end.
INSTANTIATE_TEST_SUITE_P(
    Cases, KestaFormatBadFile,
    ::testing::Values(
        BadFile{"truncated in the data",
                [](const std::string& p) { std::filesystem::resize_file(p, 512 * 11 + 100); },
                "is damaged or truncated"},
        BadFile{"data array renamed",
                [](const std::string& p) { put(p, 512 * 10 + 1, "DATA_ARRAY"); },
                "WARNING: Data array not found"},
        BadFile{"data array size beyond its records",
                [](const std::string& p) { put(p, 512 * 10 + 12 + 26, "00000100"); },
                "is damaged or truncated"},
        BadFile{"x axis shorter than the data",
                [](const std::string& p) { put(p, 512 * 12 + 8 + 26, "00000003"); },
                "\"x_axis\": 3 values for 5 data elements"},
        BadFile{"x axis of no values",
                [](const std::string& p) { put(p, 512 * 12 + 8 + 26, "00000000"); },
                "is damaged or truncated"},
        BadFile{"data array of no columns",
                [](const std::string& p) { put(p, 512 * 10 + 12 + 26, "00000000"); },
                "is damaged or truncated"},
        BadFile{"title with a negative record count",
                [](const std::string& p) { put(p, 512 * 3 + 7, "80000003"); },
                "is damaged (item \"title\" gives -3 records)"},
        BadFile{"title longer than its record",
                [](const std::string& p) { put(p, 512 * 3 + 16, "00000800"); },
                "runs past its header record"},
        BadFile{"variances of another size",
                [](const std::string& p) { put(p, 512 * 16 + 17 + 26, "00000003"); },
                "its size differs"},
        BadFile{"another format",
                [](const std::string& p) {
                  std::FILE* f = std::fopen(p.c_str(), "wb");
                  std::fputs("P5\n5 4\n255\n", f);
                  std::fclose(f);
                },
                "is not a \"KESTA STANDARD FORMAT\" file"},
        BadFile{"random bytes",
                [](const std::string& p) {
                  std::string bytes(3000, '\0');
                  for (std::size_t i = 0; i < bytes.size(); ++i)
                    bytes[i] = static_cast<char>((i * 7919 + 13) % 251);
                  put(p, 0, bytes);
                },
                "is not a \"KESTA STANDARD FORMAT\" file"},
        BadFile{"cut inside a header record",
                [](const std::string& p) { std::filesystem::resize_file(p, 512 * 3 + 100); },
                "ends inside its header"},
        BadFile{"cut after the axes",
                [](const std::string& p) { std::filesystem::resize_file(p, 512 * 16); },
                "is damaged or truncated"},
        BadFile{"a directory",
                [](const std::string& p) {
                  std::filesystem::remove(p);
                  std::filesystem::create_directory(p);
                },
                "is a directory"},
        BadFile{"a FIFO without a writer",
                [](const std::string& p) {
                  std::filesystem::remove(p);
                  ::mkfifo(p.c_str(), 0600);
                },
                "is not a regular file"}),
    kesta::testing::CaseNumber{});

TEST_F(KestaFormat, NamedPipeGetsTheFileAndStaysAPipe) {
  DataSet d(4, 3);
  std::iota(d.data.begin(), d.data.end(), 1.0f);
  const std::string pipe = dir_.file("out.kzt");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(write(d, 1, 1, 4, 3, pipe), 0) << terminal_.text();
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
  ::close(reader);
  struct stat st {};
  ASSERT_EQ(::lstat(pipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  const std::string copy = dir_.file("copy.kzt");
  { std::ofstream(copy, std::ios::binary) << bytes; }
  DataSet r(4, 3);
  ASSERT_EQ(read(r, copy), 0);
  EXPECT_EQ(r.data, d.data);
}

TEST_F(KestaFormat, FailedWriteLeavesTheOldFile) {
  const std::string path = dir_.file("old.kzt");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("previous contents", f);
    std::fclose(f);
  }
  DataSet d(64, 64);
  int retstat = 0;
  {
    const testing::FileSizeLimit limit(8192);
    retstat = write(d, 1, 1, 64, 64, path);
  }

  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(status_, 11010);
  EXPECT_NE(terminal_.text().find("WARNING: Error in writing file " + path +
                                  ": writing failed: File too large, so the file was not changed"),
            std::string::npos)
      << "said also after the item writer's failure: " << terminal_.text();
  EXPECT_EQ(testing::file_contents(path), "previous contents");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator{}),
            1)
      << "no temporary file left";
}

TEST_F(KestaFormat, EscapeAndBadPathsWriteNothing) {
  DataSet d(2, 2);
  testing::ScriptedInput input({"\\\\"});
  int retstat = 0;
  FIO_OUT_KESTA(false, "", 2, 2, 1, 1, 2, 2, d.xaxis, d.yaxis, d.data, d.variances, "", "", "",
                "", false, 1, 1, retstat, status_);
  EXPECT_EQ(status_, kStatusEscape);
  EXPECT_NE(retstat, 0);

  status_ = ST_GOOD();
  EXPECT_EQ(write(d, 1, 1, 2, 2, dir_.file("no/such/dir/x.kzt")), 1);
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_NE(terminal_.text().find("WARNING: Error in opening file " +
                                  dir_.file("no/such/dir/x.kzt") + ": cannot write in the folder \"" +
                                  dir_.file("no/such/dir") +
                                  "\": No such file or directory, so no file was written"),
            std::string::npos)
      << terminal_.text();

  DataSet r(2, 2);
  EXPECT_EQ(read(r, dir_.file("missing.kzt")), 1);
  EXPECT_EQ(status_, kStatusGood);

  // Region outside the array.
  write(d, 1, 1, 3, 2, dir_.file("y.kzt"));
  EXPECT_EQ(status_, kBaseFormats + 5);
}

}  // namespace
}  // namespace kesta
