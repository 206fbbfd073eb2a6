#pragma once
// Helpers for tests only: capture the terminal stream, make a private folder,
// give the process a memory limit of its own, measure its peak memory.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/io_output.hpp"
#include "core/system.hpp"

namespace kesta::testing {

// Gives io_memory_limit the routine LIMIT while alive.
class MemoryLimitOverride {
 public:
  explicit MemoryLimitOverride(IoMemoryLimit limit) : saved_(io_memory_limit()) {
    io_memory_limit() = limit;
  }
  ~MemoryLimitOverride() { io_memory_limit() = saved_; }
  MemoryLimitOverride(const MemoryLimitOverride&) = delete;
  MemoryLimitOverride& operator=(const MemoryLimitOverride&) = delete;

 private:
  IoMemoryLimit saved_;
};

// How far this process's resident memory rose at its peak while alive (the
// kernel's peak is reset at the start), for tests that an operation touches
// only the pages it must; unknown (-1) where the kernel does not tell.
class ResidentPeak {
 public:
  ResidentPeak() {
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    reset_ = f != nullptr && std::fputs("5", f) >= 0;
    if (f != nullptr && std::fclose(f) != 0) reset_ = false;
    start_ = kilobytes("VmRSS:");
  }
  long long grown_bytes() const {
    const long long peak = kilobytes("VmHWM:");
    return reset_ && peak >= 0 && start_ >= 0 ? (peak - start_) * 1024 : -1;
  }

 private:
  static long long kilobytes(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long long value = -1;
    const std::string name(field);
    while (std::fgets(line, sizeof line, f) != nullptr)
      if (std::string(line).starts_with(name)) value = std::atoll(line + name.size());
    std::fclose(f);
    return value;
  }
  bool reset_ = false;
  long long start_ = -1;
};

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

// Runs BODY, which returns a text, in a child process and gives back that
// text, followed by "<child failed>" when the child did not end by itself.
// A test may then drop its privileges or change its mounts without doing so
// to the whole test program. BODY reports through its text only (a failed
// EXPECT in the child is not seen).
template <class Body>
std::string in_child_process(Body&& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "<no pipe>";
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return "<no child>";
  }
  if (child == 0) {
    ::close(fds[0]);
    const std::string text = body();
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) ::_exit(3);
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int wstatus = 0;
  if (::waitpid(child, &wstatus, 0) != child || !WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0)
    text += "<child failed>";
  return text;
}

// The ordinary user a test acts as where the superuser would be let through
// (file permissions do not bind the superuser).
constexpr uid_t kOrdinaryUser = 65534;

// Makes the process that ordinary user when it runs as the superuser; false
// when that failed. Meant for a child of in_child_process.
inline bool become_ordinary_user() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kOrdinaryUser) == 0 &&
         ::setuid(kOrdinaryUser) == 0;
}

}  // namespace kesta::testing
