#include "formats/detector_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "core/parallel.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// (The parts follow the processors the process may run on, fewer under a
// narrowed affinity set.)
TEST(RowRanges, EveryRowOnceInConsecutiveParts) {
  const Index processors = processor_count();
  struct Case {
    Index rows, bytes, parts;
  };
  const Case cases[] = {
      {0, 0, 0},
      {5, 1 << 20, 1},
      {3000, 18000000, std::min<Index>(4, processors)},
      {3, Index{1} << 30, std::min<Index>(3, processors)},
  };
  for (const Case& c : cases) {
    std::mutex guard;
    std::vector<std::pair<Index, Index>> ranges;
    EXPECT_TRUE(for_row_ranges(c.rows, c.bytes, [&](Index first, Index end) {
      const std::lock_guard<std::mutex> hold(guard);
      ranges.emplace_back(first, end);
      return true;
    }));
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(static_cast<Index>(ranges.size()), c.parts) << c.rows;
    Index next = 0;
    for (const auto& [first, end] : ranges) {
      EXPECT_EQ(first, next) << c.rows;
      EXPECT_LT(first, end) << c.rows;
      next = end;
    }
    EXPECT_EQ(next, c.rows);
  }
}

TEST(RowRanges, OneFailedPartFailsTheWhole) {
  for (const Index failing : {Index{0}, Index{2999}})
    EXPECT_FALSE(for_row_ranges(3000, 18000000, [&](Index first, Index end) {
      return !(first <= failing && failing < end);
    })) << failing;
}

TEST(StreamInputReadAt, ReadsInsideTheFileOnly) {
  testing::TempDir dir;
  const std::string path = dir.file("bytes.bin");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fputs("0123456789", f);
  std::fclose(f);
  StreamInput input(path);
  ASSERT_TRUE(input.ok());
  char got[4] = {};
  EXPECT_TRUE(input.read_at(6, got, 4));
  EXPECT_EQ(std::string(got, 4), "6789");
  EXPECT_TRUE(input.read(2, got, 2));
  EXPECT_EQ(std::string(got, 2), "23");
  EXPECT_FALSE(input.read_at(7, got, 4));
  EXPECT_FALSE(input.read_at(-1, got, 1));
}

}  // namespace
}  // namespace kesta
