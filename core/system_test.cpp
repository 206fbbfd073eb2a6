#include "core/system.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <termios.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <fstream>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// Makes FD the process's standard input while alive.
class StdinSwap {
 public:
  explicit StdinSwap(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
  ~StdinSwap() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

// A pseudo-terminal pair; the slave plays the user's terminal.
struct Pty {
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
      slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  }
  ~Pty() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
  void type(std::string_view keys) const {
    ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  int master = -1;
  int slave = -1;
};

TEST(Memory, AllocationSizesAndFailures) {
  Status status = ST_GOOD();
  void* block = nullptr;
  for (const Index bytes : {Index{0}, Index{-8}}) {
    status = ST_GOOD();
    IO_MALLOC(bytes, block, status);
    EXPECT_EQ(status, 10017) << bytes;
    EXPECT_EQ(block, nullptr);
  }

  status = ST_GOOD();
  IO_MALLOC(64, block, status);
  ASSERT_NE(block, nullptr);
  static_cast<char*>(block)[63] = 1;
  IO_FREE(block, status);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(status, ST_GOOD());

  std::size_t bytes = 0;
  EXPECT_TRUE(io_array_bytes(1000, sizeof(float), bytes));
  EXPECT_EQ(bytes, 4000u);
  EXPECT_FALSE(io_array_bytes(std::numeric_limits<Index>::max(), sizeof(float), bytes));
  EXPECT_FALSE(io_array_bytes(-1, 1, bytes));

  // Products past the size_t range, and past the signed byte count, fail as
  // allocations, not as bad arguments.
  const std::pair<Index, std::size_t> huge[] = {{std::numeric_limits<Index>::max(), 8},
                                                 {Index{1} << 62, 2}};
  for (const auto& [count, size] : huge) {
    status = ST_GOOD();
    io_malloc_array(count, size, block, status);
    EXPECT_EQ(status, 11002) << count;
    EXPECT_EQ(block, nullptr);
  }
  status = ST_GOOD();
  io_malloc_array(0, sizeof(double), block, status);
  EXPECT_EQ(status, 10017);
  status = ST_GOOD();
  io_malloc_array(10, sizeof(double), block, status);
  ASSERT_NE(block, nullptr);
  IO_FREE(block, status);
}

TEST(Memory, LargeArraysAreWholeLargePages) {
  // Usable to the last element, large-page aligned from a large page on, and
  // a size that cannot be had is an allocation failure, not a smaller block.
  for (const Index count : {Index{1}, Index{1000}, Index{1} << 18, Index{3} << 20}) {
    LargeArray<double> array = large_array<double>(count);
    ASSERT_NE(array.get(), nullptr);
    if (count >= Index{1} << 18) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(array.get()) % (std::uintptr_t{2} << 20), 0u);
    }
    array[0] = 1.0;
    array[count - 1] = 2.0;
  }
  for (const Index count : {Index{-1}, std::numeric_limits<Index>::max()})
    EXPECT_THROW(large_array<double>(count), std::bad_alloc) << count;
  LargeArray<char> empty = large_array<char>(0);
  EXPECT_NE(empty.get(), nullptr);
}

TEST(SystemServices, TimesShellAndByteOrder) {
  Status status = ST_GOOD();
  double elapsed1 = -1, cpu1 = -1, elapsed2 = -1, cpu2 = -1;
  IO_TIMES(elapsed1, cpu1, status);
  IO_TIMES(elapsed2, cpu2, status);
  EXPECT_GE(cpu1, 0);
  EXPECT_GE(elapsed2, elapsed1);
  EXPECT_GE(cpu2, cpu1);
  int code = -1;
  IO_SYSTEM("exit 3   ", code, status);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(IO_BIG_ENDIAN(), std::endian::native == std::endian::big);
}

TEST(SystemServices, CommandLineArguments) {
  const char* argv[] = {"kesta", "-mac", "run.mac", "-var"};
  io_set_args(4, argv);
  Status status = ST_GOOD();
  int num = 0;
  std::vector<std::string> args;
  IO_GETARGS(2, num, args, status);
  EXPECT_EQ(num, 4);
  EXPECT_EQ(args, (std::vector<std::string>{"kesta", "-mac"}));
  IO_GETARGS(10, num, args, status);
  EXPECT_EQ(args.size(), 4u);
  IO_GETARGS(0, num, args, status);
  EXPECT_EQ(status, 10001);
}

TEST(SystemServices, LoginNameAndHomeDirectories) {
  Status status = ST_GOOD();
  std::string name;
  int uid = -2;
  IO_LOGINNAME(name, uid, status);
  const passwd* entry = getpwuid(getuid());
  if (entry == nullptr) {
    EXPECT_EQ(name, "*** UNKNOWN ***");
    EXPECT_EQ(uid, -1);
    return;
  }
  EXPECT_EQ(name, entry->pw_name);
  const std::string password_home = entry->pw_dir;

  int retstat = -1;
  std::string dir;
  IO_HOMEDIR(name, retstat, dir, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(dir, password_home);
  IO_HOMEDIR("nosuchuser_kesta", retstat, dir, status);
  EXPECT_EQ(retstat, 1);

  testing::TempDir home;
  {
    testing::ScopedHome set(home.path().c_str());
    IO_USERPATH("~", retstat, dir, status);
    EXPECT_EQ(retstat, 0);
    EXPECT_EQ(dir, home.path().string());
  }
  {
    testing::ScopedHome unset(nullptr);
    IO_USERPATH("~", retstat, dir, status);
    EXPECT_EQ(dir, password_home);
  }
  IO_USERPATH("~" + name, retstat, dir, status);
  EXPECT_EQ(dir, password_home);
  IO_USERPATH("~/x", retstat, dir, status);
  EXPECT_EQ(retstat, 3);
  IO_USERPATH("x", retstat, dir, status);
  EXPECT_EQ(retstat, 4);
  IO_USERPATH("~nosuchuser_kesta", retstat, dir, status);
  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(status, ST_GOOD());
}

TEST(TerminalInput, SingleKeysAndCursorSequences) {
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  StdinSwap swap(pty.slave);
  Status status = ST_GOOD();
  pty.type("\x1b[A");
  EXPECT_EQ(IO_INPUT_KEY(status), "\x1b[A");  // the whole sequence in one call
  pty.type("q");
  EXPECT_EQ(IO_INPUT_KEY(status), "q");
  termios after{};
  ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
  EXPECT_NE(after.c_lflag & ICANON, 0u);
  EXPECT_NE(after.c_lflag & ECHO, 0u);
}

TEST(TerminalInput, NoTerminalGivesNoKey) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  StdinSwap swap(fds[0]);
  Status status = ST_GOOD();
  EXPECT_EQ(IO_INPUT_KEY(status), "");
  close(fds[0]);
  close(fds[1]);
}

// Runs IO_READC with readline reading from IN and writing to nowhere.
class ReadlineStreams {
 public:
  explicit ReadlineStreams(std::FILE* in) : out_(std::fopen("/dev/null", "w")) {
    rl_instream = in;
    rl_outstream = out_;
  }
  ~ReadlineStreams() {
    rl_instream = nullptr;
    rl_outstream = nullptr;
    std::fclose(out_);
  }

 private:
  std::FILE* out_;
};

TEST(TerminalInput, LinesOffATerminalAreTakenAsTheyStand) {
  // Bytes that are editing keys at a terminal (Ctrl-R searches the history,
  // ESC and a digit repeat) are ordinary characters here; a line holding a
  // NUL byte is refused; a long line gives a response line's characters.
  const std::string long_line(100000, 'a');
  const std::string text = std::string("hello\tworld\n\n\x12" "DEF\x1b" "3x\nbad") + '\0' +
                           "line\n" + long_line + "\nlast";
  testing::TempDir dir;
  std::ofstream(dir.file("in"), std::ios::binary) << text;
  std::FILE* in = std::fopen(dir.file("in").c_str(), "r");
  ASSERT_NE(in, nullptr);
  ReadlineStreams streams(in);
  testing::TerminalCapture terminal;
  clear_history();
  const std::vector<std::string> expected = {"hello\tworld", "", "\x12" "DEF\x1b" "3x",
                                             long_line.substr(0, 132), "last"};
  for (const std::string& want : expected) {
    int length = 0;
    std::string line;
    IO_READC("> ", length, line);
    EXPECT_EQ(line, want);
    EXPECT_EQ(length, static_cast<int>(want.size()));
  }
  int length = 0;
  std::string line;
  IO_READC("> ", length, line);
  EXPECT_EQ(length, -1);  // end of input
  EXPECT_EQ(history_length, 0);
  EXPECT_NE(terminal.text().find("NUL byte"), std::string::npos);
  std::fclose(in);
}

// Input that never ends a line (a stream of zero bytes, say) is given up
// after 1 MiB with a warning, and the input counts as ended from then on
// even where more would follow.
TEST(TerminalInput, AnEndlessLineEndsTheInput) {
  testing::TempDir dir;
  {
    std::ofstream file(dir.file("in"), std::ios::binary);
    file << std::string(std::size_t{3} << 20, '\0') << "\nnext\n";
  }
  std::FILE* in = std::fopen(dir.file("in").c_str(), "r");
  ASSERT_NE(in, nullptr);
  ReadlineStreams streams(in);
  testing::TerminalCapture terminal;
  for (int k = 0; k < 2; ++k) {
    int length = 0;
    std::string line = "old";
    IO_READC("> ", length, line);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(line, "");
  }
  EXPECT_LT(std::ftell(in), 2L << 20);
  EXPECT_NE(terminal.text().find("WARNING: An input line is longer than 1048576 characters"),
            std::string::npos);
  std::fclose(in);
}

// The watch of an input beside a wait reads nothing: the input has ended
// only when no line waits, neither behind the descriptor nor in what the
// stream has buffered, and a watch that found a line waiting stops.
TEST(TerminalInput, WatchingAnInputTellsItsEndOnlyWhenNoLineWaits) {
  // The watch's verdict after one poll.
  const auto ended = [](InputWatch& watch) {
    pollfd p{watch.fd, watch.events, 0};
    EXPECT_EQ(poll(&p, 1, 1000), 1);
    return io_input_watch_ended(watch, p.revents);
  };
  char buffer[8] = {};
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* in = fdopen(fds[0], "r");
  InputWatch watch = io_input_watch(in);
  ASSERT_EQ(watch.fd, fds[0]);
  ASSERT_EQ(write(fds[1], "one\ntwo\n", 8), 8);
  EXPECT_FALSE(ended(watch));
  EXPECT_EQ(watch.fd, -1);  // stopped for the rest of the wait
  // The writer gone, the lines are still answers to come.
  close(fds[1]);
  watch = io_input_watch(in);
  EXPECT_FALSE(ended(watch));
  EXPECT_EQ(watch.fd, -1);
  // Read ahead into the stream's buffer, the second line still waits.
  watch = io_input_watch(in);
  ASSERT_NE(std::fgets(buffer, sizeof buffer, in), nullptr);
  EXPECT_STREQ(buffer, "one\n");
  EXPECT_FALSE(ended(watch));
  EXPECT_EQ(io_input_watch(in).fd, -1);
  ASSERT_NE(std::fgets(buffer, sizeof buffer, in), nullptr);
  watch = io_input_watch(in);
  EXPECT_TRUE(ended(watch));
  std::fclose(in);

  // A file the stream has buffered whole: ended only after its last line.
  testing::TempDir dir;
  std::ofstream(dir.file("lines.txt")) << "one\ntwo\n";
  in = std::fopen(dir.file("lines.txt").c_str(), "r");
  ASSERT_NE(in, nullptr);
  watch = io_input_watch(in);
  ASSERT_NE(std::fgets(buffer, sizeof buffer, in), nullptr);
  EXPECT_FALSE(ended(watch));
  ASSERT_NE(std::fgets(buffer, sizeof buffer, in), nullptr);
  EXPECT_STREQ(buffer, "two\n");
  watch = io_input_watch(in);
  EXPECT_TRUE(ended(watch));
  std::fclose(in);

  // Of /dev/null nothing can be told without reading it: it is not watched.
  std::FILE* null = std::fopen("/dev/null", "r");
  EXPECT_EQ(io_input_watch(null).fd, -1);
  std::fclose(null);
}

TEST(TerminalInput, TabCompletesFileNamesAtATerminal) {
  testing::TempDir dir;
  std::ofstream(dir.file("uniquename.txt")) << "x";
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  std::FILE* in = fdopen(dup(pty.slave), "r");
  ReadlineStreams streams(in);
  pty.type(dir.path().string() + "/uniq\t\r");
  int length = 0;
  std::string line;
  IO_READC("", length, line);
  EXPECT_EQ(line, dir.file("uniquename.txt") + " ");
  std::fclose(in);
}

}  // namespace
}  // namespace kesta
