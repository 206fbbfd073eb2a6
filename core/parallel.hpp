#pragma once

#include <pthread.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "core/types.hpp"

namespace kesta {

// The processors the calling thread may run on (its affinity set, which a
// process started under a narrowed set inherits), at least one; the
// machine's count when the set cannot be read. Asked of the system at every
// call.
Index affinity_processor_count();

// The processors for worker threads: the affinity set, asked of the system
// once (each asking reads a system file, a twentieth of a millisecond that
// computations of a few milliseconds paid every time).
inline Index processor_count() {
  static const Index count = affinity_processor_count();
  return count;
}

// Stacks for the workers of run_parts, kept for the life of the process and
// used again by the next computation. (A stack the thread library makes is
// given back to the system page by page when its thread ends: every
// processor running another thread of the process is then interrupted to
// forget those pages, and the next worker takes them again page by page.
// The library leaves a stack of the caller's alone.)
namespace worker_stack {
inline constexpr std::size_t kBytes = std::size_t{8} << 20;
// A stack of kBytes (its lowest address), or nullptr when none can be had.
void* take();
void give(void* stack);
// Stacks made so far (in use or waiting).
Index count();
}  // namespace worker_stack

// Runs PART(k) for k = 0 .. PARTS-1 inside one computation: part 0 on the
// calling thread, each other part on a worker of its own, joined before this
// returns (also when a part on the calling thread throws). A part whose
// thread cannot be started runs on the calling thread, so the work is done
// even where threads are scarce.
template <class Part>
void run_parts(Index parts, const Part& part) {
  if (parts < 1) return;
  struct Worker {
    const Part* part;
    Index k;
    void* stack;
    pthread_t thread;
    static void* run(void* self) {
      const auto* w = static_cast<const Worker*>(self);
      (*w->part)(w->k);
      return nullptr;
    }
  };
  // Never reallocated once filled: each worker reads its own element.
  std::vector<Worker> workers;
  workers.reserve(static_cast<std::size_t>(parts - 1));
  struct Joined {
    std::vector<Worker>& workers;
    ~Joined() {
      for (Worker& w : workers) {
        pthread_join(w.thread, nullptr);
        worker_stack::give(w.stack);
      }
    }
  } joined{workers};
  for (Index k = 1; k < parts; ++k) {
    void* const stack = worker_stack::take();
    bool started = false;
    if (stack != nullptr) {
      workers.push_back({&part, k, stack, pthread_t{}});
      pthread_attr_t attr;
      if (pthread_attr_init(&attr) == 0) {
        started = pthread_attr_setstack(&attr, stack, worker_stack::kBytes) == 0 &&
                  pthread_create(&workers.back().thread, &attr, &Worker::run,
                                 &workers.back()) == 0;
        pthread_attr_destroy(&attr);
      }
      if (!started) {
        workers.pop_back();
        worker_stack::give(stack);
      }
    }
    if (!started) part(k);
  }
  part(0);
}

}  // namespace kesta
