#pragma once
// Helpers for the window driver's tests only: a private X server per test,
// screenshots read from xwd files, xdotool runs and a watchdog for waits.
//
// ctest runs the tests in parallel, and pointer clicks and screenshots must
// not meet other tests' windows, so each window test starts its own Xvfb
// (when Xvfb exists; otherwise it uses the DISPLAY it was given).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/test_support.hpp"

namespace kesta::testing {

// An Xvfb of its own on a free display, made the DISPLAY of this process
// while alive, stopped at the end.
class PrivateXServer {
 public:
  explicit PrivateXServer(int depth) {
    if (const char* old = std::getenv("DISPLAY")) {
      had_display_ = true;
      old_display_ = old;
    }
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, 1);
        dup2(null, 2);
      }
      const std::string fd = std::to_string(fds[1]);
      const std::string screen = "1280x1024x" + std::to_string(depth);
      // Without -noreset the server resets when its last client leaves, and a
      // program started right after another (a second run in one test) can
      // find no server and fall back to the terminal.
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
             "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
      ::close(fds[0]);
      return;
    }
    // The server writes its display number when it accepts clients.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      char c;
      if (::read(fds[0], &c, 1) != 1) break;
      if (c == '\n') break;
      number.push_back(c);
    }
    ::close(fds[0]);
    if (number.empty()) return;
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
  }
  ~PrivateXServer() {
    if (had_display_)
      setenv("DISPLAY", old_display_.c_str(), 1);
    else
      unsetenv("DISPLAY");
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int k = 0; k < 50; ++k) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      usleep(100000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  bool ok() const { return !name_.empty(); }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
  bool had_display_ = false;
  std::string old_display_;
};

inline bool xvfb_available() { return std::system("command -v Xvfb >/dev/null 2>&1") == 0; }

// Runs a shell command with a time limit; true when it succeeded.
inline bool run_bounded(const std::string& command, int seconds = 10) {
  const std::string line =
      "timeout " + std::to_string(seconds) + " " + command + " >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

// Ends the process when a wait of the test does not return in time.
class Watchdog {
 public:
  explicit Watchdog(int seconds)
      : thread_([this, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "a wait of the test did not end within %d s\n", seconds);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// A window's contents read back from an xwd file.
struct Screenshot {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<std::array<int, 3>> rgb;  // 8 bits a component, row 0 at the top
  std::array<int, 3> at(int x, int y) const {
    return rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x)];
  }
};

inline std::uint32_t big_endian_32(const std::string& d, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(d[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 2])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 3]));
}

// Parses an xwd file (Z format, 8, 24 or 32 bits a pixel, TrueColor or a
// colour map).
inline Screenshot parse_xwd(const std::string& d) {
  Screenshot s;
  if (d.size() < 100) return s;
  auto field = [&d](int k) { return big_endian_32(d, static_cast<std::size_t>(k) * 4); };
  const std::uint32_t header_size = field(0), version = field(1), format = field(2);
  const std::uint32_t width = field(4), height = field(5), byte_order = field(7);
  const std::uint32_t bits = field(11), bytes_per_line = field(12), visual_class = field(13);
  const std::uint32_t masks[3] = {field(14), field(15), field(16)};
  const std::uint32_t ncolours = field(19);
  if (version != 7 || format != 2 || width == 0 || height == 0 || width > 10000 ||
      height > 10000 || (bits != 8 && bits != 24 && bits != 32) || ncolours > 65536)
    return s;
  const std::size_t colours_at = header_size;
  const std::size_t pixels_at = colours_at + static_cast<std::size_t>(ncolours) * 12;
  if (d.size() < pixels_at + static_cast<std::size_t>(bytes_per_line) * height) return s;
  std::vector<std::array<int, 3>> map(256, {0, 0, 0});
  for (std::uint32_t k = 0; k < ncolours; ++k) {
    const std::size_t at = colours_at + k * 12;
    const std::uint32_t pixel = big_endian_32(d, at);
    auto c16 = [&d, at](int j) {
      return (static_cast<unsigned char>(d[at + 4 + 2 * j]) << 8 |
              static_cast<unsigned char>(d[at + 5 + 2 * j])) >> 8;
    };
    if (pixel < 256) map[pixel] = {c16(0), c16(1), c16(2)};
  }
  s.width = static_cast<int>(width);
  s.height = static_cast<int>(height);
  s.rgb.resize(static_cast<std::size_t>(width) * height);
  const std::size_t step = bits / 8;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t at = pixels_at + static_cast<std::size_t>(y) * bytes_per_line + x * step;
      std::uint32_t v = 0;
      for (std::size_t k = 0; k < step; ++k) {
        const std::uint32_t b = static_cast<unsigned char>(d[at + k]);
        v |= byte_order == 0 ? b << (8 * k) : b << (8 * (step - 1 - k));
      }
      std::array<int, 3>& out = s.rgb[static_cast<std::size_t>(y) * width + x];
      if (visual_class == 4 || visual_class == 5) {
        for (int c = 0; c < 3; ++c) {
          std::uint32_t m = masks[c];
          int shift = 0;
          while (m != 0 && (m & 1u) == 0) {
            m >>= 1;
            ++shift;
          }
          out[static_cast<std::size_t>(c)] = static_cast<int>((v & masks[c]) >> shift);
        }
      } else {
        out = map[v & 0xFF];
      }
    }
  }
  s.ok = true;
  return s;
}

// The contents of window WINDOW (without its border) on the current DISPLAY.
inline Screenshot screenshot(unsigned long window, const std::string& folder) {
  const std::string path = folder + "/shot.xwd";
  if (!run_bounded("xwd -silent -nobdrs -id " + std::to_string(window) + " -out " + path))
    return {};
  return parse_xwd(file_contents(path));
}

// True when two colours agree within TOLERANCE in every component.
inline bool same_colour(const std::array<int, 3>& a, const std::array<int, 3>& b,
                        int tolerance = 3) {
  for (std::size_t c = 0; c < 3; ++c)
    if (std::abs(a[c] - b[c]) > tolerance) return false;
  return true;
}

}  // namespace kesta::testing
