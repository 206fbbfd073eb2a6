#pragma once
// What the file-format benchmarks share: a private scratch file name and a
// terminal sent to /dev/null while they run.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/io_output.hpp"

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

}  // namespace kesta::bench
