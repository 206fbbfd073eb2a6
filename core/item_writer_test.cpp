#include "core/item_writer.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "core/io_output.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr int kStream = 33;

// An item file on kStream in a private folder; bytes() closes and reads it.
class ItemFile {
 public:
  ItemFile() : path_(dir_.file("items.fff")) { EXPECT_TRUE(io_open_stream(kStream, path_, "wb")); }
  ~ItemFile() { io_close_stream(kStream); }
  std::string bytes() {
    io_close_stream(kStream);
    return testing::file_contents(path_);
  }

 private:
  testing::TempDir dir_;
  std::string path_;
};

// A header record: FIELDS, blanks to byte 511, line feed.
std::string header(const std::string& fields) {
  std::string record = fields;
  record.resize(511, ' ');
  return record + '\n';
}

template <typename T>
std::string raw(const std::vector<T>& values) {
  return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

TEST(ItemWriter, ScalarAndStringHeaders) {
  ItemFile file;
  Index record = 1;
  Status status = kStatusGood;
  IO_FWRITE_STRING(kStream, "$FFF_START", "KESTA IMAGE   ", record, status);
  IO_FWRITE_INTEGER(kStream, "NX", 1024, record, status);
  IO_FWRITE_INTEGER(kStream, "Neg", -255, record, status);
  IO_FWRITE_REAL(kStream, "SCALE", -1.0f, record, status);
  IO_FWRITE_STRING(kStream, "EMPTY", "", record, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(record, 6);
  EXPECT_EQ(file.bytes(), header("\\$FFF_START:00000000s0000000bKESTA IMAGE") +
                              header("\\NX:00000000i00000400") +
                              header("\\Neg:00000000i800000ff") +
                              header("\\SCALE:00000000rc0800000") +
                              header("\\EMPTY:00000000s00000000"));
}

TEST(ItemWriter, ArrayRegionsRowByRowZeroPadded) {
  // A 12 x 11 array; the real region 2..11 x 2..11 is 10 x 10 (one record
  // with 28 zero words), the integer column 12 x 1..11 is 11 values.
  std::vector<float> reals(12 * 11);
  std::vector<std::int32_t> ints(12 * 11);
  for (Index i = 0; i < 12 * 11; ++i) {
    reals[i] = static_cast<float>(i) + 0.25f;
    ints[i] = static_cast<std::int32_t>(-i);
  }
  ItemFile file;
  Index record = 1;
  Status status = kStatusGood;
  IO_FWRITE_RARRAY(kStream, "DATA", 12, 11, 2, 2, 11, 11, reals, record, status);
  IO_FWRITE_IARRAY(kStream, "ROW", 128, 1, 1, 1, 128, 1, std::vector<std::int32_t>(128, 7),
                   record, status);  // exactly one record
  IO_FWRITE_IARRAY(kStream, "I", 12, 11, 12, 1, 12, 11, ints, record, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(record, 7);

  std::vector<float> region;
  for (Index y = 2; y <= 11; ++y)
    for (Index x = 2; x <= 11; ++x) region.push_back(reals[element(x, y, 12)]);
  std::vector<std::int32_t> column;
  for (Index y = 1; y <= 11; ++y) column.push_back(ints[element(12, y, 12)]);
  EXPECT_EQ(file.bytes(),
            header("\\DATA:00000001ar00000020000000020000000a0000000a") + raw(region) +
                std::string(28 * 4, '\0') +
                header("\\ROW:00000001ai00000020000000020000008000000001") +
                raw(std::vector<std::int32_t>(128, 7)) +
                header("\\I:00000001ai0000002000000002000000010000000b") + raw(column) +
                std::string(512 - 11 * 4, '\0'));
}

TEST(ItemWriter, LogicalFlagsPack31ToAnIntegerAcrossRows) {
  // A 31 x 2 region of a 32 x 2 array: 62 flags, two packed integers.
  std::vector<std::uint8_t> flags(32 * 2, 0);
  flags[element(1, 1, 32)] = 1;   // bit 0 of the first integer
  flags[element(31, 1, 32)] = 5;  // any non-zero byte is true: bit 30
  flags[element(32, 1, 32)] = 1;  // outside the region
  flags[element(2, 2, 32)] = 1;   // bit 1 of the second integer
  ItemFile file;
  Index record = 1;
  Status status = kStatusGood;
  IO_FWRITE_L1ARRAY(kStream, "MASK", 32, 2, 1, 1, 31, 2, flags, record, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(record, 3);
  EXPECT_EQ(file.bytes(), header("\\MASK:00000001al00000001000000020000001f00000002") +
                              raw(std::vector<std::int32_t>{1 + (1 << 30), 2}) +
                              std::string(504, '\0'));
}

TEST(ItemWriter, CharacterArrayAtTheGivenRecord) {
  const std::vector<std::string> texts = {"skip", "AB", "CDE  ", "   ", "skip too"};
  ItemFile file;
  Index record = 4;
  Status status = kStatusGood;
  IO_FWRITE_CARRAY(kStream, "LABELS", 5, 2, 4, texts, record, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(record, 6);
  EXPECT_EQ(file.bytes(), std::string(3 * 512, '\0') +
                              header("\\LABELS:00000001as00000008000000020000000300000003") +
                              "AB CDE   " + std::string(503, '\0'));
}

TEST(ItemWriter, RefusesWhatDoesNotFitAndWritesNothing) {
  static const std::vector<float> data(16, 1.0f);
  using Write = void (*)(Index&, Status&);
  const std::pair<Write, Status> cases[] = {
      {[](Index& r, Status& s) { IO_FWRITE_INTEGER(kStream, std::string(493, 'n'), 1, r, s); },
       10033},
      {[](Index& r, Status& s) { IO_FWRITE_STRING(kStream, "NAME", std::string(489, 'v'), r, s); },
       10034},
      {[](Index& r, Status& s) {
         IO_FWRITE_RARRAY(kStream, std::string(468, 'n'), 4, 4, 1, 1, 4, 4, data, r, s);
       },
       10033},
      {[](Index& r, Status& s) { IO_FWRITE_RARRAY(kStream, "A", 4, 5, 1, 1, 4, 4, data, r, s); },
       10001},
  };
  {
    ItemFile file;
    for (const auto& [write, expected] : cases) {
      Index record = 1;
      Status status = kStatusGood;
      write(record, status);
      EXPECT_EQ(status, expected);
      EXPECT_EQ(record, 1);
    }
    EXPECT_EQ(file.bytes(), "");
  }
  // The longest names and strings that fit.
  ItemFile file;
  Index record = 1;
  Status status = kStatusGood;
  IO_FWRITE_INTEGER(kStream, std::string(492, 'n'), 1, record, status);
  IO_FWRITE_STRING(kStream, "NAME", std::string(488, 'v'), record, status);
  IO_FWRITE_RARRAY(kStream, std::string(467, 'n'), 4, 4, 1, 1, 4, 4, data, record, status);
  EXPECT_EQ(status, kStatusGood);
  const std::string bytes = file.bytes();
  ASSERT_EQ(bytes.size(), 4u * 512);
  EXPECT_EQ(bytes.substr(502, 10), "i00000001\n");
  EXPECT_EQ(bytes.substr(512 + 14, 9), "s000001e8");
  EXPECT_EQ(bytes.substr(1024 - 2, 2), "v\n");
}

TEST(ItemWriter, FullDiskGivesBadStatus) {
  ASSERT_TRUE(io_open_stream(kStream, "/dev/full", "wb"));
  Index record = 1;
  Status status = kStatusGood;
  IO_FWRITE_INTEGER(kStream, "NX", 1, record, status);
  EXPECT_EQ(status, 11010);
  status = kStatusGood;
  const std::vector<float> big(256 * 256, 2.0f);
  IO_FWRITE_RARRAY(kStream, "DATA", 256, 256, 1, 1, 256, 256, big, record, status);
  EXPECT_EQ(status, 11010);
  EXPECT_EQ(record, 1);
  io_close_stream(kStream);
}

}  // namespace
}  // namespace kesta
