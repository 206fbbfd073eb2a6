#include "core/parallel.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

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
