#include "app/main/data_store.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/main/data_store_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::DataSetFixture;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

// Sizes that cannot be allocated must come back as a refusal, also in a
// build with the address sanitizer.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

struct AllocationCase {
  bool memory;
  bool variances;
  bool mask;
};

class Allocation : public DataSetFixture, public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(Allocation, AllocatesExactlyTheArraysAsked) {
  const AllocationCase c = GetParam();
  KztArrays arrays;
  arrays.xnumdat = 7;  // words other than sizes and addresses are left alone
  Status status = kStatusGood;
  kzt_allocate_arrays(6, 5, c.memory, c.variances, c.mask, arrays, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(arrays.xmaxdat, 6);
  EXPECT_EQ(arrays.ymaxdat, 5);
  EXPECT_EQ(arrays.xnumdat, 7);
  EXPECT_NE(arrays.data, nullptr);
  EXPECT_NE(arrays.xaxis, nullptr);
  EXPECT_NE(arrays.yaxis, nullptr);
  EXPECT_EQ(arrays.mdata != nullptr, c.memory);
  EXPECT_EQ(arrays.mxaxis != nullptr, c.memory);
  EXPECT_EQ(arrays.myaxis != nullptr, c.memory);
  EXPECT_EQ(arrays.variances != nullptr, c.variances);
  EXPECT_EQ(arrays.mvariances != nullptr, c.variances && c.memory);
  EXPECT_EQ(arrays.mask != nullptr, c.mask);
  if (c.mask) {
    for (int i = 0; i < 30; ++i) EXPECT_EQ(arrays.mask[i], 0);
  }
  kzt_free_arrays(arrays, status);
  EXPECT_EQ(arrays.data, nullptr);
  EXPECT_EQ(arrays.mask, nullptr);
  EXPECT_EQ(arrays.mvariances, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Flags, Allocation,
                         ::testing::Values(AllocationCase{false, false, false},
                                           AllocationCase{true, false, false},
                                           AllocationCase{false, true, true},
                                           AllocationCase{true, true, true}),
    kesta::testing::CaseNumber{});

// Resident bytes of this process, from the kernel's page count.
long long resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

// Large arrays read as zeros everywhere but are not written at allocation:
// a 4096 x 4096 set with memory and variances stays nearly all unresident.
TEST_F(DataSetFixture, LargeArraysAreZeroWithoutBeingWritten) {
  constexpr Index kN = 4096;
  KztArrays arrays;
  Status status = kStatusGood;
  const long long before = resident_bytes();
  kzt_allocate_arrays(kN, kN, true, true, true, arrays, status);
  ASSERT_EQ(status, kStatusGood);
  const long long grown = resident_bytes() - before;
  const long long allocated = 4 * kN * kN * static_cast<long long>(sizeof(float)) + kN * kN;
  EXPECT_LT(grown, allocated / 8) << grown << " of " << allocated << " bytes resident";
  for (Index i = 0; i < kN * kN; i += 4099) {
    EXPECT_EQ(arrays.data[i], 0.0f);
    EXPECT_EQ(arrays.mvariances[i], 0.0f);
    EXPECT_EQ(arrays.mask[i], 0);
  }
  kzt_free_arrays(arrays, status);
}

TEST_F(DataSetFixture, RefusedSizesLeaveTheOldArrays) {
  make(4, 3, true, false);
  const KztArrays before = vosq_kzt_arrays;
  struct Case {
    Index x, y;
    Status code;
  };
  const Index huge = std::numeric_limits<Index>::max() / 2;
  for (const Case c : {Case{0, 5, kBaseApp + 1}, Case{5, -1, kBaseApp + 2},
                       Case{huge, 3, kBaseCore + 1002}, Case{1 << 30, 1 << 30, kBaseCore + 1002}}) {
    TerminalCapture terminal;
    Status status = kStatusGood;
    kzt_allocate_arrays(c.x, c.y, true, true, true, vosq_kzt_arrays, status);
    EXPECT_EQ(status, c.code) << c.x << " x " << c.y;
    EXPECT_EQ(vosq_kzt_arrays.data, before.data);
    EXPECT_EQ(vosq_kzt_arrays.xmaxdat, 4);
    EXPECT_EQ(vosq_kzt_arrays.mdata, before.mdata);
    EXPECT_EQ(vosq_kzt_arrays.variances, nullptr);
    if (c.code == kBaseCore + 1002) {
      EXPECT_NE(terminal.text().find("could not be allocated"), std::string::npos);
    }
  }
  EXPECT_EQ(at(vosq_kzt_arrays.data, 4, 3), 43.0f);
}

// Arrays the process cannot hold are refused before any is allocated,
// whatever the allocator would promise (it gives untouched memory freely and
// the machine fails when it is written): the memory's arrays, the variances,
// the mask to come and the copy a read is staged in all count.
TEST_F(DataSetFixture, SizesBeyondWhatTheProcessCanHoldAreRefused) {
  const kesta::testing::MemoryLimitOverride limit(+[] { return std::uint64_t{1} << 20; });
  make(4, 3, true, false);
  const KztArrays before = vosq_kzt_arrays;
  struct Case {
    Index x, y;
    bool memory, variances, held;
  };
  // An image of floats of 200 x 200 takes 160,000 bytes, of 300 x 300 360,000.
  for (const Case c : {Case{200, 200, true, true, true}, Case{300, 300, false, false, true},
                       Case{300, 300, true, false, false}, Case{300, 300, false, true, false},
                       Case{1 << 20, 1 << 20, false, false, false}}) {
    TerminalCapture terminal;
    KztArrays arrays;
    Status status = kStatusGood;
    kzt_allocate_arrays(c.x, c.y, c.memory, c.variances, false, c.held ? arrays : vosq_kzt_arrays,
                        status);
    EXPECT_EQ(status == kStatusGood, c.held) << c.x << " x " << c.y;
    if (c.held) {
      kzt_free_arrays(arrays, status);
      continue;
    }
    EXPECT_EQ(status, kBaseCore + 1002);
    EXPECT_EQ(vosq_kzt_arrays.data, before.data);
    EXPECT_EQ(vosq_kzt_arrays.xmaxdat, 4);
    EXPECT_NE(terminal.text().find("could not be allocated"), std::string::npos);
  }
}

TEST_F(DataSetFixture, MaskIsCreatedClearedOnFirstUseOnly) {
  make(3, 2, false, false);
  Status status = kStatusGood;
  bool mask_exist = false;
  kzt_create_mask(mask_exist, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_TRUE(mask_exist);
  ASSERT_EQ(kzt_mask().size(), 6u);
  for (const std::uint8_t m : kzt_mask()) EXPECT_EQ(m, 0);
  vosq_kzt_arrays.mask[2] = 1;
  std::uint8_t* const first = vosq_kzt_arrays.mask;
  kzt_create_mask(mask_exist, status);
  EXPECT_EQ(vosq_kzt_arrays.mask, first);
  EXPECT_EQ(vosq_kzt_arrays.mask[2], 1);
}

TEST_F(DataSetFixture, ExchangeSwapsAddressesAndDescriptionsOnly) {
  make(4, 3, true, true);
  bool mask_exist = false;
  Status status = kStatusGood;
  kzt_create_mask(mask_exist, status);
  sets.memory_defined = false;
  sets.xlabel = "X";
  sets.mzlabel = "MZ";
  sets.x_pixel_size = 2.0f;
  sets.mxnumdat = 2;
  sets.myendelm = 1;
  const KztArrays a0 = vosq_kzt_arrays;
  const KztDataSets s0 = sets;

  KZT_EXCHANGE(sets, status);
  ASSERT_EQ(status, kStatusGood);
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(a.data, a0.mdata);
  EXPECT_EQ(a.mdata, a0.data);
  EXPECT_EQ(a.xaxis, a0.mxaxis);
  EXPECT_EQ(a.myaxis, a0.yaxis);
  EXPECT_EQ(a.variances, a0.mvariances);
  EXPECT_EQ(a.mask, a0.mask);
  EXPECT_EQ(a.xnumdat, 2);
  EXPECT_EQ(sets.mxnumdat, 4);
  EXPECT_EQ(a.yendelm, 1);
  EXPECT_EQ(sets.myendelm, 3);
  EXPECT_EQ(sets.mtitle, "CURRENT");
  EXPECT_EQ(sets.mxlabel, "X");
  EXPECT_EQ(sets.zlabel, "MZ");
  EXPECT_EQ(sets.mx_pixel_size, 2.0f);
  EXPECT_FALSE(sets.data_defined);
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_TRUE(sets.variances_exist);

  KZT_EXCHANGE(sets, status);
  EXPECT_EQ(vosq_kzt_arrays.data, a0.data);
  EXPECT_EQ(vosq_kzt_arrays.mvariances, a0.mvariances);
  EXPECT_EQ(vosq_kzt_arrays.xnumdat, 4);
  EXPECT_EQ(sets.title, s0.title);
  EXPECT_EQ(sets.mzlabel, "MZ");
  EXPECT_TRUE(sets.data_defined);
  EXPECT_FALSE(sets.memory_defined);

  vosq_kzt_arrays.xmaxdat = 0;
  KZT_EXCHANGE(sets, status);
  EXPECT_EQ(status, kBaseApp + 1);
  vosq_kzt_arrays.xmaxdat = 4;
}

TEST_F(DataSetFixture, StoreAndRecallCopyTheDefinedExtent) {
  make(4, 3, true, true);
  vosq_kzt_arrays.xnumdat = 3;
  vosq_kzt_arrays.ynumdat = 2;
  region(2, 1, 3, 2);
  sets.x_pixel_size = 5.0e-5f;
  Status status = kStatusGood;
  kzt_store(sets, status);
  ASSERT_EQ(status, kStatusGood);
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mxnumdat, 3);
  EXPECT_EQ(sets.mxstrelm, 2);
  EXPECT_EQ(sets.myendelm, 2);
  EXPECT_EQ(sets.mtitle, "CURRENT");
  EXPECT_EQ(sets.mx_pixel_size, 5.0e-5f);
  EXPECT_EQ(at(a.mdata, 3, 2), 32.0f);
  EXPECT_EQ(at(a.mdata, 4, 3), 403.0f);  // outside the extent: untouched
  EXPECT_EQ(at(a.mvariances, 3, 2), 5.0f);
  EXPECT_EQ(a.mxaxis[2], 2.5f);

  // Change the current data, then bring the stored set back.
  a.data[0] = -1.0f;
  a.variances[0] = -1.0f;
  vosq_kzt_arrays.xnumdat = 1;
  region(1, 1, 1, 1);
  sets.title = "OTHER";
  sets.data_defined = false;
  kzt_recall(sets, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(sets.data_defined);
  EXPECT_EQ(at(a.data, 1, 1), 11.0f);
  EXPECT_EQ(at(a.variances, 1, 1), 2.0f);
  EXPECT_EQ(a.xnumdat, 3);
  EXPECT_EQ(a.xstrelm, 2);
  EXPECT_EQ(a.xendelm, 3);
  EXPECT_EQ(sets.title, "CURRENT");
}

TEST_F(DataSetFixture, MemoryResultDescribesTheActiveRegion) {
  make(4, 3, true, false);
  region(2, 2, 3, 3);
  sets.zlabel = "Counts";
  Status status = kStatusGood;
  kzt_memory_result(sets, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(sets.mxnumdat, 3);
  EXPECT_EQ(sets.mynumdat, 3);
  EXPECT_EQ(sets.mxstrelm, 2);
  EXPECT_EQ(sets.mzlabel, "Counts");
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(vosq_kzt_arrays.myaxis[2], 2.5f);
}

// Internal stores.

// Saves the active data region into store NUMBER ("" takes the proposal).
void save(KztDataSets& sets, const std::string& number, Status& status) {
  ScriptedInput input({"YES", number});
  KZT_INTERNALMEMORY(sets, status);
}

void recover(KztDataSets& sets, const std::string& number, Status& status) {
  ScriptedInput input({"NO", number});
  KZT_INTERNALMEMORY(sets, status);
}

TEST_F(DataSetFixture, SavedRegionComesBackWithItsTitleAndRegion) {
  make(5, 4, false, true);
  region(2, 2, 4, 3);
  TerminalCapture terminal;
  Status status = kStatusGood;
  save(sets, "", status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(kzt_internal_stores.num_store, 1);

  KztArrays& a = vosq_kzt_arrays;
  for (std::size_t i = 0; i < 20; ++i) a.data[i] = a.variances[i] = 0.0f;
  region(1, 1, 5, 4);
  sets.title = "LATER";
  sets.data_defined = false;
  recover(sets, "1", status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_TRUE(sets.data_defined);
  EXPECT_EQ(sets.title, "CURRENT");
  EXPECT_EQ(a.xstrelm, 2);
  EXPECT_EQ(a.yendelm, 3);
  EXPECT_EQ(at(a.data, 2, 2), 22.0f);
  EXPECT_EQ(at(a.data, 4, 3), 43.0f);
  EXPECT_EQ(at(a.variances, 4, 3), 7.0f);
  EXPECT_EQ(at(a.data, 1, 1), 0.0f);
  EXPECT_EQ(at(a.data, 5, 3), 0.0f);
  EXPECT_NE(
      terminal.text().find(
          "INFO: There are currently  1 active data regions stored internally\n      1: CURRENT\n"),
      std::string::npos);
}

TEST_F(DataSetFixture, RecoveryExtendsTheAxesBeyondTheExtent) {
  make(8, 4, false, false);
  Status status = kStatusGood;
  TerminalCapture terminal;
  save(sets, "", status);  // region 1..8 x 1..4
  KztArrays& a = vosq_kzt_arrays;

  a.xnumdat = 5;  // axis step 1.0 up to element 5
  a.ynumdat = 1;  // fewer than two values: rebuilt as pixel centres
  a.yaxis[0] = 42.0f;
  recover(sets, "1", status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(a.xnumdat, 8);
  EXPECT_EQ(a.ynumdat, 4);
  EXPECT_EQ(a.xaxis[7], 7.5f);
  EXPECT_EQ(a.yaxis[0], 0.5f);
  EXPECT_EQ(a.yaxis[3], 3.5f);

  a.xaxis[4] = 10.0f;
  a.xaxis[3] = 8.0f;  // step 2.0 from the last two defined values
  a.xnumdat = 5;
  recover(sets, "1", status);
  EXPECT_EQ(a.xaxis[5], 12.0f);
  EXPECT_EQ(a.xaxis[7], 16.0f);
}

TEST_F(DataSetFixture, EleventhSaveReplacesStoreTen) {
  make(2, 2, false, false);
  TerminalCapture terminal;
  Status status = kStatusGood;
  for (int i = 1; i <= 10; ++i) {
    sets.title = "T" + std::to_string(i);
    save(sets, "", status);
  }
  ASSERT_EQ(kzt_internal_stores.num_store, 10);
  sets.title = "ELEVENTH";
  ScriptedInput input({"YES", ""});
  KZT_INTERNALMEMORY(sets, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(input.prompts.back(), "INTERNAL STORE NUMBER (Range: 1 to 10) [10]:");
  EXPECT_EQ(kzt_internal_stores.num_store, 10);
  EXPECT_EQ(kzt_internal_stores.stores[9].title, "ELEVENTH");
  EXPECT_EQ(kzt_internal_stores.stores[8].title, "T9");
}

TEST_F(DataSetFixture, StoredRegionThatNoLongerFitsIsRefused) {
  make(6, 6, false, false);
  Status status = kStatusGood;
  TerminalCapture terminal;
  region(3, 3, 6, 6);
  save(sets, "", status);
  // Smaller arrays, as DIMENSIONS leaves them.
  kzt_free_arrays(vosq_kzt_arrays, status);
  make(4, 4, false, false);
  recover(sets, "1", status);
  EXPECT_EQ(status, kBaseApp + 5);
  EXPECT_EQ(at(vosq_kzt_arrays.data, 4, 4), 44.0f);
  EXPECT_EQ(vosq_kzt_arrays.xendelm, 4);
}

TEST_F(DataSetFixture, StoreWithoutVarianceBlockLeavesVariancesAlone) {
  make(3, 3, false, false);
  Status status = kStatusGood;
  TerminalCapture terminal;
  save(sets, "", status);
  EXPECT_FALSE(kzt_internal_stores.stores[0].variances);
  kzt_free_arrays(vosq_kzt_arrays, status);
  make(3, 3, false, true);
  recover(sets, "1", status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(at(vosq_kzt_arrays.variances, 2, 2), 4.0f);
}

TEST_F(DataSetFixture, NothingToSaveOrRecoverOnlyWarns) {
  make(3, 3, false, false);
  TerminalCapture terminal;
  Status status = kStatusGood;
  recover(sets, "1", status);
  EXPECT_NE(terminal.text().find("WARNING: No active data regions are presently stored internally"),
            std::string::npos);
  sets.data_defined = false;
  save(sets, "", status);
  EXPECT_NE(terminal.text().find("WARNING: No data exists in the program array at present"),
            std::string::npos);
  // A store that lost its blocks to a failed allocation counts as empty.
  kzt_internal_stores.num_store = 1;
  recover(sets, "1", status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: Internal store 1 holds no data"), std::string::npos);
  EXPECT_FALSE(sets.data_defined);
}

TEST_F(DataSetFixture, EscapeChangesNothing) {
  make(3, 3, false, false);
  TerminalCapture terminal;
  Status status = kStatusGood;
  ScriptedInput input({"YES", "\\\\"});
  KZT_INTERNALMEMORY(sets, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(kzt_internal_stores.num_store, 0);
}

TEST_F(DataSetFixture, InformationReportsSizesExtentsAndRegions) {
  make(1000, 20, true, false);
  sets.data_defined = false;
  {
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_INFORMATION(sets, status);
    EXPECT_EQ(terminal.text(),
              "INFO: Program arrays have       1000 elements in the X-direction\n"
              "INFO: Program arrays have         20 elements in the Y-direction\n"
              "INFO: No variance arrays exist, (no error propagation).\n"
              "INFO: No current data\n"
              "INFO: Memory is not defined\n");
  }
  sets.data_defined = true;
  sets.memory_defined = true;
  sets.variances_exist = true;
  region(3, 4, 50, 6);
  sets.mxnumdat = 7;
  sets.mynumdat = 8;
  sets.mxstrelm = 1;
  sets.mystrelm = 2;
  sets.mxendelm = 5;
  sets.myendelm = 6;
  TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_INFORMATION(sets, status);
  EXPECT_EQ(terminal.text(),
            "INFO: Program arrays have       1000 elements in the X-direction\n"
            "INFO: Program arrays have         20 elements in the Y-direction\n"
            "INFO: Variance arrays exist, error propagation will be performed.\n"
            "INFO: Current data is defined\n"
            "INFO: Current data; number of defined elements in the X-direction       1000\n"
            "INFO: Current data; number of defined elements in the Y-direction         20\n"
            "INFO: Start element of ADR in the X-direction is          3\n"
            "INFO: Start element of ADR in the Y-direction is          4\n"
            "INFO: End element of ADR in the X-direction is           50\n"
            "INFO: End element of ADR in the Y-direction is            6\n"
            "INFO: Memory defined\n"
            "INFO: Memory; number of defined elements in the X-direction          7\n"
            "INFO: Memory; number of defined elements in the Y-direction          8\n"
            "INFO: Start element of memory ADR in the X-direction is          1\n"
            "INFO: Start element of memory ADR in the Y-direction is          2\n"
            "INFO: End element of memory ADR in the X-direction is            5\n"
            "INFO: End element of memory ADR in the Y-direction is            6\n");
}

}  // namespace
