#pragma once
// Test fixture of the data-store and dispatcher tests: a small allocated data
// set with known values, and a clean dialogue state.

#include <gtest/gtest.h>

#include "app/main/data_store.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"

namespace kesta::testing {

class DataSetFixture : public ::testing::Test {
 protected:
  void SetUp() override { reset_dialogue(); }
  void TearDown() override {
    Status status = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, status);
    vosq_kzt_arrays = KztArrays{};
    kzt_internal_stores = KztInternalStores{};
    reset_dialogue();
  }

  // Arrays of XMAX x YMAX; DATA(x, y) = 10 x + y, VARIANCES(x, y) = x + y,
  // MDATA(x, y) = 100 x + y, MVARIANCES(x, y) = 1; axes i - 0.5; the extent
  // and the region the whole array; current data defined.
  void make(Index xmax, Index ymax, bool memory, bool variances) {
    Status status = kStatusGood;
    kzt_allocate_arrays(xmax, ymax, memory, variances, false, vosq_kzt_arrays, status);
    ASSERT_EQ(status, kStatusGood);
    KztArrays& a = vosq_kzt_arrays;
    for (Index y = 1; y <= ymax; ++y)
      for (Index x = 1; x <= xmax; ++x) {
        const std::size_t e = static_cast<std::size_t>(element(x, y, xmax));
        a.data[e] = static_cast<float>(10 * x + y);
        if (variances) a.variances[e] = static_cast<float>(x + y);
        if (memory) a.mdata[e] = static_cast<float>(100 * x + y);
        if (memory && variances) a.mvariances[e] = 1.0f;
      }
    for (Index x = 1; x <= xmax; ++x) a.xaxis[x - 1] = static_cast<float>(x) - 0.5f;
    for (Index y = 1; y <= ymax; ++y) a.yaxis[y - 1] = static_cast<float>(y) - 0.5f;
    a.xnumdat = xmax;
    a.ynumdat = ymax;
    region(1, 1, xmax, ymax);
    sets = KztDataSets{};
    sets.memory_exist = memory;
    sets.variances_exist = variances;
    sets.data_defined = true;
    sets.title = "CURRENT";
  }

  void region(Index xs, Index ys, Index xe, Index ye) {
    vosq_kzt_arrays.xstrelm = xs;
    vosq_kzt_arrays.ystrelm = ys;
    vosq_kzt_arrays.xendelm = xe;
    vosq_kzt_arrays.yendelm = ye;
  }

  static float at(const float* array, Index x, Index y) {
    return array[element(x, y, vosq_kzt_arrays.xmaxdat)];
  }

  KztDataSets sets;
};

}  // namespace kesta::testing
