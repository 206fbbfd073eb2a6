#pragma once
// For tests of the input roads: the files that are no regular files, which
// a road must refuse by name without waiting for a writer or reading without
// end, and the memory the process has taken at most.

#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
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

// The most memory the process has held so far, in megabytes.
inline long peak_megabytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace kesta::testing
