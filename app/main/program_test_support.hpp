#pragma once
// Runs the real program for end-to-end tests: a private folder as working
// directory and HOME, answers on standard input, the transcript returned.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/test_support.hpp"

namespace kesta::testing {

struct ProgramResult {
  int code = -1;
  std::string output;
};

inline void write_text_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// Runs the program in DIR with HOME (DIR unless given), ARGS and INPUT on its
// standard input; the end of INPUT is the end of the input.
inline ProgramResult run_program(const TempDir& dir, const std::string& args,
                                 const std::string& input, const std::string& home = "") {
  write_text_file(dir.file("input.txt"), input);
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string command =
      "cd '" + dir.path().string() + "' && HOME='" + (home.empty() ? dir.path().string() : home) +
      "' ASAN_OPTIONS='allocator_may_return_null=1:" + (asan ? asan : "") + "' timeout 30 '" +
      KESTA_PROGRAM + "' " + args + " < input.txt > output.txt 2>&1";
  const int rc = std::system(command.c_str());
  ProgramResult result;
  result.code = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  result.output = file_contents(dir.file("output.txt"));
  return result;
}

}  // namespace kesta::testing
