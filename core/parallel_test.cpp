#include "core/parallel.hpp"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace kesta {
namespace {

TEST(RunParts, EveryPartOnceAndTheStacksUsedAgain) {
  // Many computations one after another, as a long session makes them:
  // each part runs once, and the workers' stacks are those of the first.
  std::vector<std::atomic<int>> runs(9);
  for (int call = 0; call < 200; ++call) run_parts(9, [&](Index k) { ++runs[k]; });
  for (const auto& r : runs) EXPECT_EQ(r.load(), 200);
  const Index stacks = worker_stack::count();
  EXPECT_LE(stacks, 8);
  for (int call = 0; call < 50; ++call) run_parts(9, [](Index) {});
  EXPECT_EQ(worker_stack::count(), stacks);
}

TEST(RunParts, DeepStacksNestedPartsAndAThrowingPart) {
  // A worker may use a large frame, and may run parts of its own.
  std::atomic<int> inner{0};
  std::atomic<long> total{0};
  run_parts(3, [&](Index k) {
    char frame[1 << 20];
    std::memset(frame, static_cast<int>(k) + 1, sizeof frame);
    total += frame[sizeof frame - 1];
    run_parts(3, [&](Index) { ++inner; });
  });
  EXPECT_EQ(total.load(), 1 + 2 + 3);
  EXPECT_EQ(inner.load(), 9);
  // The calling thread's part throws: the workers still finish and are
  // joined before the exception leaves, and the next computation runs.
  std::atomic<int> done{0};
  EXPECT_THROW(run_parts(4,
                         [&](Index k) {
                           if (k == 0) throw std::runtime_error("part 0");
                           ++done;
                         }),
               std::runtime_error);
  EXPECT_EQ(done.load(), 3);
  run_parts(4, [&](Index) { ++done; });
  EXPECT_EQ(done.load(), 7);
}

// A process started on fewer processors than the machine has (taskset, a
// container's share) counts only those: narrowed to one, then restored.
TEST(ProcessorCount, FollowsTheAffinitySet) {
  cpu_set_t original;
  CPU_ZERO(&original);
  ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
  EXPECT_EQ(affinity_processor_count(), CPU_COUNT(&original));
  int first = 0;
  while (!CPU_ISSET(first, &original)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const Index narrowed = affinity_processor_count();
  ASSERT_EQ(sched_setaffinity(0, sizeof original, &original), 0);
  EXPECT_EQ(narrowed, 1);
}

}  // namespace
}  // namespace kesta
