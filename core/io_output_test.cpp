#include "core/io_output.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "core/raw_io.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// Everything read of FILE from where it stands.
std::string rest_of(std::FILE* file) {
  std::string text;
  for (int c = std::getc(file); c != EOF; c = std::getc(file)) text.push_back(static_cast<char>(c));
  return text;
}

// A file opened for reading reads no further than the size it had when it
// was opened, whatever it holds later or says of itself: a file that grows
// meanwhile stops at its old end, a system file that says it is empty (and
// /proc/self/pagemap reads without end) reads as empty. The program's own
// reads of such files name their bound.
TEST(OpenInputFile, ReadsNoFurtherThanTheSizeWhenOpened) {
  testing::TempDir dir;
  const std::string path = dir.file("growing.txt");
  std::ofstream(path) << "first\n";
  std::string problem;
  const InputFile in = open_input_file(path, problem);
  ASSERT_TRUE(in) << problem;
  std::ofstream(path, std::ios::app) << "second\n";
  EXPECT_EQ(io_file_size(in.get()), 6);
  EXPECT_EQ(rest_of(in.get()), "first\n");
  ASSERT_EQ(std::fseek(in.get(), -3, SEEK_END), 0);
  EXPECT_EQ(std::ftell(in.get()), 3);
  EXPECT_EQ(rest_of(in.get()), "st\n");
  std::rewind(in.get());
  bool cut = false;
  std::string line;
  EXPECT_TRUE(io_read_bounded_line(in.get(), 100, line, cut));
  EXPECT_FALSE(io_read_bounded_line(in.get(), 100, line, cut));
  // Reads at an offset go to the file itself, within the size.
  char byte = 0;
  ASSERT_GE(io_file_descriptor(in.get()), 0);
  EXPECT_EQ(::pread(io_file_descriptor(in.get()), &byte, 1, 1), 1);
  EXPECT_EQ(byte, 'i');

  for (const char* system_file : {"/proc/self/status", "/proc/self/pagemap"}) {
    const InputFile proc = open_input_file(system_file, problem);
    ASSERT_TRUE(proc) << system_file;
    EXPECT_EQ(io_file_size(proc.get()), 0) << system_file;
    char buffer[64];
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, proc.get()), 0u) << system_file;
    EXPECT_TRUE(std::feof(proc.get())) << system_file;
  }
  const InputFile status = open_system_file("/proc/self/status", 1 << 20, problem);
  ASSERT_TRUE(status);
  EXPECT_EQ(rest_of(status.get()).rfind("Name:", 0), 0u);
  const InputFile cut_short = open_system_file("/proc/self/status", 4, problem);
  EXPECT_EQ(rest_of(cut_short.get()), "Name");

  // A file opened for writing is the system's own stream.
  std::FILE* out = io_open_file(dir.file("out.txt"), "w", problem);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(io_file_descriptor(out), ::fileno(out));
  EXPECT_GE(std::fputs("abc", out), 0);
  EXPECT_EQ(std::fclose(out), 0);
  EXPECT_EQ(testing::file_contents(dir.file("out.txt")), "abc");
}

// Image-sized blocks are read straight into place: the same bytes as the
// stream would give, from where the stream stands (after buffered small
// reads), stopping at the bound with the stream's end set, and leaving the
// stream just past the block.
TEST(OpenInputFile, LargeBlocksReadAsTheStreamWouldWithinTheBound) {
  testing::TempDir dir;
  const std::string path = dir.file("block.bin");
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  std::ofstream(path, std::ios::binary) << bytes;
  std::string problem;
  const InputFile in = open_input_file(path, problem);
  ASSERT_TRUE(in) << problem;
  std::ofstream(path, std::ios::app) << "grown";
  char head[10];
  ASSERT_EQ(std::fread(head, 1, sizeof head, in.get()), sizeof head);
  std::string block(100000, '\0');
  ASSERT_EQ(io_read_bytes(in.get(), block.data(), block.size()), block.size());
  EXPECT_EQ(block, bytes.substr(10, 100000));
  EXPECT_EQ(std::ftell(in.get()), 100010);
  EXPECT_EQ(std::getc(in.get()), static_cast<unsigned char>(bytes[100010]));
  std::string rest(200000, '\0');
  EXPECT_EQ(io_read_bytes(in.get(), rest.data(), rest.size()), bytes.size() - 100011);
  EXPECT_EQ(rest.substr(0, bytes.size() - 100011), bytes.substr(100011));
  EXPECT_TRUE(std::feof(in.get()));
}

}  // namespace
}  // namespace kesta

namespace kesta {
namespace {

// Lines held back reach neither the terminal nor the log until written; the
// innermost hold keeps them, and without a hold lines pass as before.
TEST(HeldLines, KeepTheLinesOfIoWriteFromTerminalAndLog) {
  testing::TerminalCapture terminal;
  std::FILE* log = std::tmpfile();
  io_set_stream(kStreamLog, log);
  vosq_io_dbdb.log_open = true;
  Status status = kStatusGood;
  std::vector<std::string> outer_lines, inner_lines;
  {
    IoHeldLines outer;
    IO_WRITE("first", status);
    {
      IoHeldLines inner;
      IO_WRITE("second", status);
      IO_WRITE("", status);
      inner_lines = inner.lines();
    }
    IO_WRITE("third", status);
    outer_lines = outer.lines();
  }
  EXPECT_EQ(outer_lines, (std::vector<std::string>{"first", "third"}));
  EXPECT_EQ(inner_lines, (std::vector<std::string>{"second", " "}));
  EXPECT_EQ(terminal.text(), "");
  io_write_lines(inner_lines, status);
  IO_WRITE("fourth", status);
  EXPECT_EQ(terminal.text(), "second\n \nfourth\n");
  std::fflush(log);
  std::rewind(log);
  EXPECT_EQ(rest_of(log), "second\n \nfourth\n");
  vosq_io_dbdb.log_open = false;
  io_set_stream(kStreamLog, nullptr);
  std::fclose(log);
  EXPECT_EQ(status, kStatusGood);
}

}  // namespace
}  // namespace kesta
