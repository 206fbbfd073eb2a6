#pragma once
// Test helpers of the dialogue tests: scripted terminal lines in place of the
// line editor, a clean dialogue state, and a child process on a
// pseudo-terminal for the real line editor and the single-key pager.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"

namespace kesta::testing {

// Clears the dialogue state between tests (flags, cursor, last line, streams).
inline void reset_dialogue() {
  for (int stream : {kStreamLog, kStreamOutputMacro, kStreamInputMacro}) io_close_stream(stream);
  vosq_io_dbdb = IoDbdb{};
  vosq_io_dbinteractive.clear();
  io_cseparators = " ,\t";
  io_clear_variables();
  Status status = kStatusGood;
  ST_DEF_SYSTEM(status);
}

// Terminal lines answered from a script; the prompts asked are kept. When the
// script is used up the input has ended.
class ScriptedInput {
 public:
  explicit ScriptedInput(std::vector<std::string> lines) : lines_(lines.begin(), lines.end()) {
    io_set_line_source([this](std::string_view prompt, std::string& line) {
      prompts.emplace_back(prompt);
      if (lines_.empty()) return false;
      line = lines_.front();
      lines_.pop_front();
      return true;
    });
  }
  ~ScriptedInput() { io_set_line_source({}); }
  ScriptedInput(const ScriptedInput&) = delete;
  ScriptedInput& operator=(const ScriptedInput&) = delete;

  std::size_t remaining() const { return lines_.size(); }
  std::vector<std::string> prompts;

 private:
  std::deque<std::string> lines_;
};

// A child process whose standard input and output are a pseudo-terminal; the
// test types into it and reads what it shows. Every wait is bounded.
class PtyChild {
 public:
  // Runs BODY in the child, which then exits with the code it returns.
  explicit PtyChild(const std::function<int()>& body) {
    struct winsize size {};
    size.ws_row = 24;
    size.ws_col = 200;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      const int code = body();
      std::fflush(nullptr);
      _exit(code);
    }
  }
  ~PtyChild() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  PtyChild(const PtyChild&) = delete;
  PtyChild& operator=(const PtyChild&) = delete;

  bool started() const { return pid_ > 0 && master_ >= 0; }

  void type(std::string_view keys) {
    std::size_t done = 0;
    while (done < keys.size()) {
      const ssize_t n = write(master_, keys.data() + done, keys.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads until TEXT has appeared in the output since the last successful
  // wait (true), or until the time-out or the end of the output (false).
  bool wait_for(std::string_view text, int timeout_ms = 8000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
      const std::size_t at = output_.find(text, consumed_);
      if (at != std::string::npos) {
        consumed_ = at + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      struct pollfd p {master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Waits (bounded) for the child's exit; its exit code, or -1.
  int finish(int timeout_ms = 8000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      int wstatus = 0;
      // Keep draining the output so the child never blocks on a full terminal.
      struct pollfd p {master_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) output_.append(buffer, static_cast<std::size_t>(n));
      }
      if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
      }
    }
    return -1;
  }

  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  bool reaped_ = false;
  std::string output_;
  std::size_t consumed_ = 0;
};

}  // namespace kesta::testing
