#include "core/parallel.hpp"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

namespace kesta {

Index affinity_processor_count() {
  struct Free {
    void operator()(cpu_set_t* set) const { CPU_FREE(set); }
  };
  // A set too small for the system's processor numbers is refused (EINVAL):
  // a larger one is tried.
  for (int processors = 1024; processors <= (1 << 20); processors *= 2) {
    const std::unique_ptr<cpu_set_t, Free> set(CPU_ALLOC(processors));
    if (set == nullptr) break;
    const std::size_t size = CPU_ALLOC_SIZE(processors);
    CPU_ZERO_S(size, set.get());
    if (::sched_getaffinity(0, size, set.get()) == 0) {
      const int count = CPU_COUNT_S(size, set.get());
      if (count > 0) return count;
      break;
    }
    if (errno != EINVAL) break;
  }
  return std::max<Index>(1, static_cast<Index>(std::thread::hardware_concurrency()));
}

}  // namespace kesta

namespace kesta::worker_stack {

namespace {

struct Pool {
  std::mutex mutex;
  std::vector<void*> waiting;
  Index made = 0;
};

// Never destroyed: a computation may still run while statics are destroyed.
Pool& pool() {
  static Pool* const p = new Pool;
  return *p;
}

std::size_t page_size() {
  const long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

}  // namespace

void* take() {
  Pool& p = pool();
  {
    const std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.waiting.empty()) {
      void* const stack = p.waiting.back();
      p.waiting.pop_back();
      return stack;
    }
  }
  // Reserved, not committed: only the pages a worker touches are memory.
  // A page below it that cannot be touched stops a stack that overflows.
  const std::size_t guard = page_size();
  void* const block = ::mmap(nullptr, kBytes + guard, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  if (::mprotect(block, guard, PROT_NONE) != 0) {
    ::munmap(block, kBytes + guard);
    return nullptr;
  }
  try {
    const std::lock_guard<std::mutex> lock(p.mutex);
    p.waiting.reserve(static_cast<std::size_t>(p.made) + 1);  // give() never allocates
    ++p.made;
  } catch (...) {
    ::munmap(block, kBytes + guard);
    return nullptr;
  }
  return static_cast<char*>(block) + guard;
}

void give(void* stack) {
  Pool& p = pool();
  const std::lock_guard<std::mutex> lock(p.mutex);
  p.waiting.push_back(stack);
}

Index count() {
  Pool& p = pool();
  const std::lock_guard<std::mutex> lock(p.mutex);
  return p.made;
}

}  // namespace kesta::worker_stack
