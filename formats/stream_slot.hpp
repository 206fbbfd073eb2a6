#pragma once
// A C stream registered on one of the program's stream numbers for as long
// as the object lives, for writers that hand a stream number to the core's
// array and item writers.

#include <cstdio>

#include "core/io_output.hpp"

namespace kesta {

class StreamSlot {
 public:
  StreamSlot(int unit, std::FILE* file) : unit_(unit) { io_set_stream(unit, file); }
  ~StreamSlot() { io_set_stream(unit_, nullptr); }
  StreamSlot(const StreamSlot&) = delete;
  StreamSlot& operator=(const StreamSlot&) = delete;

 private:
  int unit_;
};

}  // namespace kesta
