#pragma once
// Where the harnesses write each input as a file: $TMPDIR when set (a memory
// file system such as /dev/shm runs many times faster), else /tmp.

#include <cstdlib>
#include <string>

inline std::string fuzz_scratch_dir() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string("/tmp");
}
