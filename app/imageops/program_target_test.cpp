// A read into the program arrays from a file without variances leaves zeros
// in the variance arrays over the new image, never the last image's values.

#include "app/imageops/program_target.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/status.hpp"

namespace kesta {
namespace {

struct ProgramTarget : ::testing::Test {
  KztDataSets sets;
  void SetUp() override {
    Status s = kStatusGood;
    kzt_allocate_arrays(5, 4, false, true, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    sets.variances_exist = true;
    KztArrays& a = vosq_kzt_arrays;
    a.xnumdat = 5;
    a.ynumdat = 4;
    std::ranges::fill(kzt_image(a.variances), 7.0f);
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
  }
  float variance(Index x, Index y) const {
    return kzt_image(vosq_kzt_arrays.variances)[static_cast<std::size_t>((y - 1) * 5 + x - 1)];
  }
};

TEST_F(ProgramTarget, FileWithoutVariancesClearsThemOverTheNewImageOnly) {
  const ProgramImageTarget target(sets);
  // The reader read a 3 x 2 image and said it held no variances.
  target.target().variances_exist = false;
  vosq_kzt_arrays.xnumdat = 3;
  vosq_kzt_arrays.ynumdat = 2;
  Status s = kStatusGood;
  target.clear_unread_variances(s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(variance(3, 2), 0.0f);
  EXPECT_EQ(variance(4, 2), 7.0f);
  EXPECT_EQ(variance(1, 3), 7.0f);
}

TEST_F(ProgramTarget, VariancesReadOrAFailedReadAreLeftAlone) {
  {
    const ProgramImageTarget target(sets);
    Status s = kStatusGood;
    target.clear_unread_variances(s);  // the file held variances
    EXPECT_EQ(variance(1, 1), 7.0f);
  }
  const ProgramImageTarget target(sets);
  target.target().variances_exist = false;
  Status s = kStatusEscape;  // the read was cancelled
  target.clear_unread_variances(s);
  EXPECT_EQ(variance(1, 1), 7.0f);
}

}  // namespace
}  // namespace kesta
