#pragma once

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "core/types.hpp"

namespace kesta {

// The processors this machine offers, at least one.
inline Index processor_count() {
  return std::max<Index>(1, static_cast<Index>(std::thread::hardware_concurrency()));
}

// Runs PART(k) for k = 0 .. PARTS-1 inside one computation: part 0 on the
// calling thread, each other part on a worker of its own, joined before this
// returns. A part whose thread cannot be started runs on the calling thread,
// so the work is done even where threads are scarce.
template <class Part>
void run_parts(Index parts, const Part& part) {
  if (parts < 1) return;
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(parts - 1));
  for (Index k = 1; k < parts; ++k) {
    try {
      workers.emplace_back([&part, k] { part(k); });
    } catch (const std::system_error&) {
      part(k);
    }
  }
  part(0);
}

}  // namespace kesta
