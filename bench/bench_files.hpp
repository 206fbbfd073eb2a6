#pragma once
// What the benchmarks share: a private scratch file name, a terminal sent to
// /dev/null while they run, and a square test image.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/types.hpp"

namespace kesta::bench {

inline std::string scratch(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("kesta-bench-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

struct Quiet {
  Quiet() : null_(std::fopen("/dev/null", "w")) { io_set_stream(kStreamTerminal, null_); }
  ~Quiet() {
    io_set_stream(kStreamTerminal, nullptr);
    std::fclose(null_);
  }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
  std::FILE* null_;
};

// N x N values spread over 0 .. 999 without a pattern the loops could use.
inline std::vector<float> test_image(Index n) {
  std::vector<float> a(static_cast<std::size_t>(n * n));
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<float>((i * 2654435761u) % 1000);
  return a;
}

}  // namespace kesta::bench
