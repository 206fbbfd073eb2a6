#pragma once
// Helpers for tests only: capture the terminal stream, make a private folder.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/io_output.hpp"

namespace kesta::testing {

// Redirects stream 6 (the terminal) into a temporary file while alive.
class TerminalCapture {
 public:
  TerminalCapture() : file_(std::tmpfile()) { io_set_stream(kStreamTerminal, file_); }
  ~TerminalCapture() {
    io_set_stream(kStreamTerminal, nullptr);
    std::fclose(file_);
  }
  TerminalCapture(const TerminalCapture&) = delete;
  TerminalCapture& operator=(const TerminalCapture&) = delete;

  // Everything written so far.
  std::string text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    int c;
    while ((c = std::fgetc(file_)) != EOF) out.push_back(static_cast<char>(c));
    std::fseek(file_, 0, SEEK_END);
    return out;
  }

 private:
  std::FILE* file_;
};

// A fresh folder under the system's temporary folder, removed when destroyed.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kesta-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made != nullptr ? std::filesystem::path(made) : std::filesystem::path();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The whole contents of a file, as bytes; empty when it cannot be read.
inline std::string file_contents(const std::string& path) {
  std::string out;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    std::fclose(f);
  }
  return out;
}

// HOME set to PATH (unset for nullptr) while alive, so that tests never touch
// the user's real home.
class ScopedHome {
 public:
  explicit ScopedHome(const char* path) {
    if (const char* old = std::getenv("HOME")) {
      had_ = true;
      old_ = old;
    }
    if (path != nullptr)
      setenv("HOME", path, 1);
    else
      unsetenv("HOME");
  }
  ~ScopedHome() {
    if (had_)
      setenv("HOME", old_.c_str(), 1);
    else
      unsetenv("HOME");
  }
  ScopedHome(const ScopedHome&) = delete;
  ScopedHome& operator=(const ScopedHome&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

// Names a case of a parameterised test by its place in the list of cases:
// the same from build to build (a case that is a struct would otherwise be
// named by its bytes, addresses among them).
struct CaseNumber {
  template <class Info>
  std::string operator()(const Info& info) const {
    return "Case" + std::to_string(info.index);
  }
};

}  // namespace kesta::testing
