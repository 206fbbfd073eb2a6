#pragma once
// For tests of the input roads: the files that are no regular files, which
// a road must refuse by name without waiting for a writer or reading without
// end, and the memory the process has taken at most.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>

namespace kesta::testing {

struct SpecialFile {
  const char* kind;    // "pipe": a named pipe nothing writes; "zero": a link to
                       // /dev/zero; "folder": a directory; "proc": a link to
                       // /proc/self/pagemap, a regular file of size 0 that
                       // reads without end
  const char* reason;  // how a refusal of it ends; "" when it is refused as
                       // each road refuses an empty file
};
inline constexpr SpecialFile kSpecialFiles[] = {
    {"pipe", "is not a regular file"},
    {"zero", "is not a regular file"},
    {"folder", "is a directory"},
    {"proc", ""},
};

// Makes the special file KIND at PATH; false when it could not be made.
inline bool make_special_file(const SpecialFile& special, const std::string& path) {
  const std::string kind = special.kind;
  std::error_code ec;
  if (kind == "pipe") return ::mkfifo(path.c_str(), 0600) == 0;
  if (kind == "zero") std::filesystem::create_symlink("/dev/zero", path, ec);
  if (kind == "proc") std::filesystem::create_symlink("/proc/self/pagemap", path, ec);
  if (kind == "folder") std::filesystem::create_directory(path, ec);
  return !ec;
}

// A regular file that has a size and opens, but whose every read fails (the
// loopback interface has no link speed); "" with a note on the error output
// when this machine has none, and the case that needs it is left out.
inline std::string failing_read_file() {
  const char* const path = "/sys/class/net/lo/speed";
  struct stat info {};
  bool fails = false;
  if (::stat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    if (const int fd = ::open(path, O_RDONLY); fd >= 0) {
      char byte = 0;
      fails = ::read(fd, &byte, 1) < 0;
      ::close(fd);
    }
  }
  if (fails) return path;
  std::cerr << "[  NOTE    ] " << path << " is not a file of a size whose reads fail here: "
            << "the case of a read that fails is left out\n";
  return {};
}

// The most memory the process has held so far, in megabytes.
inline long peak_megabytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace kesta::testing
