#include "formats/fio_stream.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"
#include "formats/formats_test_support.hpp"

namespace kesta {
namespace {

void make_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string counting(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

class FioStream : public ::testing::Test {
 protected:
  void TearDown() override {
    int r = 0;
    FIO_FILECLOSEC(kFioInputStream, r);
    FIO_FILECLOSEC(kFioOutputStream, r);
  }
  int open(const std::string& path, int mode) {
    int retstat = -1, id = 0;
    FIO_FILEOPENC(path, mode, retstat, id);
    return retstat;
  }
  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
};

TEST_F(FioStream, ReadsReportShortReadsAndTheEndOfTheFile) {
  const std::string a = dir_.file("a.bin"), b = dir_.file("b.bin");
  make_file(a, counting(1000));
  make_file(b, "other");
  ASSERT_EQ(open(a, 1), 0);
  EXPECT_EQ(open(b, 3), 2) << "one input stream at a time";
  EXPECT_EQ(open(a, 7), 1);

  std::vector<std::byte> buffer(2048);
  int retstat = 0;
  Index got = 0;
  FIO_FILEREADC(kFioInputStream, 2048, 4096, 0, retstat, got, buffer);
  EXPECT_EQ(retstat, 1) << "count beyond the buffer";
  FIO_FILEREADC(kFioOutputStream, 2048, 10, 0, retstat, got, buffer);
  EXPECT_EQ(retstat, 1) << "not the input id";
  FIO_FILEREADC(kFioInputStream, 2048, 1024, 0, retstat, got, buffer);
  EXPECT_EQ(retstat, 5);
  EXPECT_EQ(got, 1000);
  EXPECT_EQ(static_cast<int>(buffer[999]), 999 % 251);
  FIO_FILEREADC(kFioInputStream, 2048, 10, 0, retstat, got, buffer);
  EXPECT_EQ(retstat, 3);
  EXPECT_EQ(got, 0);
  const std::string out = terminal_.text();
  EXPECT_NE(out.find("WARNING: 1000 bytes input instead of 1024 requested"), std::string::npos);
  EXPECT_NE(out.find("WARNING: End of file encoutered"), std::string::npos);

  // Positioned reads, 64-bit positions included.
  FIO_FILEPREADC(kFioInputStream, 500, 2048, 0, 0, retstat, got, buffer);
  EXPECT_EQ(retstat, 0);
  FIO_FILEREADC(kFioInputStream, 2048, 1, 0, retstat, got, buffer);
  EXPECT_EQ(static_cast<int>(buffer[0]), 500 % 251);
  FIO_FILEPREADC(kFioInputStream, Index{5} << 32, 2048, 4, 0, retstat, got, buffer);
  EXPECT_EQ(retstat, 3);

  FIO_FILECLOSEC(kFioInputStream, retstat);
  EXPECT_EQ(retstat, 0);
  FIO_FILECLOSEC(kFioInputStream, retstat);
  EXPECT_EQ(retstat, 2);
  FIO_FILECLOSEC(99, retstat);
  EXPECT_EQ(retstat, 1);
  FIO_FILEREADC(kFioInputStream, 2048, 1, 0, retstat, got, buffer);
  EXPECT_EQ(retstat, 2);
}

TEST_F(FioStream, SwapCodesOnReadAndWrite) {
  struct Case {
    int swap;
    Index n;
    std::vector<int> expected;
  };
  const std::vector<Case> cases = {
      {0, 5, {0, 1, 2, 3, 4}}, {1, 5, {1, 0, 3, 2, 4}}, {2, 6, {3, 2, 1, 0, 4, 5}},
      {1, 1, {0}},             {2, 3, {0, 1, 2}},       {9, 4, {0, 1, 2, 3}}};
  const std::string path = dir_.file("s.bin");
  make_file(path, counting(8));
  for (const Case& c : cases) {
    ASSERT_EQ(open(path, 1), 0);
    std::vector<std::byte> buffer(8);
    int retstat = 0;
    Index got = 0;
    FIO_FILEREADC(kFioInputStream, 8, c.n, c.swap, retstat, got, buffer);
    for (std::size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(static_cast<int>(buffer[i]), c.expected[i]) << "swap " << c.swap << " n " << c.n;
    FIO_FILECLOSEC(kFioInputStream, retstat);
  }

  // A write swaps the caller's buffer and leaves it swapped.
  const std::string out = dir_.file("w.bin");
  ASSERT_EQ(open(out, 2), 0);
  std::vector<std::byte> data(8);
  for (int i = 0; i < 8; ++i) data[i] = static_cast<std::byte>(i);
  int retstat = 0;
  Index written = 0;
  FIO_FILEWRITEC(kFioOutputStream, 8, 8, 2, data, retstat, written);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(static_cast<int>(data[0]), 3);
  FIO_FILECLOSEC(kFioOutputStream, retstat);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(testing::file_contents(out), std::string("\3\2\1\0\7\6\5\4", 8));
}

TEST_F(FioStream, OutputReplacesTheTargetOnlyAfterACleanClose) {
  const std::string path = dir_.file("target.bin");
  make_file(path, "old");
  ASSERT_EQ(open(path, 2), 0);
  std::vector<float> values(4, 1.0f);
  int retstat = 0;
  Index written = 0;
  FIO_FILEWREALC(kFioOutputStream, 4, 4, values, retstat, written);
  EXPECT_EQ(written, 4);
  EXPECT_EQ(testing::file_contents(path), "old") << "not replaced before the close";
  FIO_FILECLOSEC(kFioOutputStream, retstat);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(testing::file_contents(path).size(), 16u);

  // A write that fails part-way leaves the old file.
  make_file(path, "old");
  int first = 0;
  {
    const testing::FileSizeLimit limit(4096);
    ASSERT_EQ(open(path, 2), 0);
    std::vector<std::byte> big(100000);
    FIO_FILEWRITEC(kFioOutputStream, 100000, 100000, 0, big, retstat, written);
    first = retstat;
    FIO_FILECLOSEC(kFioOutputStream, retstat);
  }
  EXPECT_TRUE(first == 3 || retstat == 3) << first << " " << retstat;
  EXPECT_EQ(retstat, 3);
  EXPECT_EQ(testing::file_contents(path), "old");
}

TEST_F(FioStream, TextLines) {
  const std::string path = dir_.file("t.txt");
  make_file(path, "first line\n\nabcdefghij\nlast");
  ASSERT_EQ(open(path, 3), 0);
  int retstat = 0;
  std::string line;
  FIO_ASCIIREADC(kFioInputStream, 80, retstat, line);
  EXPECT_EQ(line, "first line\n");
  FIO_ASCIIREADC(kFioInputStream, 80, retstat, line);
  EXPECT_EQ(line, " ");
  FIO_ASCIIREADC(kFioInputStream, 5, retstat, line);
  EXPECT_EQ(line, "abcd");
  FIO_ASCIIREADC(kFioInputStream, 80, retstat, line);
  EXPECT_EQ(line, "efghij\n");
  FIO_ASCIIREADC(kFioInputStream, 80, retstat, line);
  EXPECT_EQ(line, "last");
  EXPECT_EQ(retstat, 0);
  FIO_ASCIIREADC(kFioInputStream, 80, retstat, line);
  EXPECT_EQ(retstat, 3);
}

TEST_F(FioStream, OpenByModeWordAndByPrompt) {
  testing::reset_dialogue();
  Status status = ST_GOOD();
  int retstat = -1, id = 0;
  FIO_FILEOPEN(dir_.file("x"), "APPEND", retstat, id, status);
  EXPECT_EQ(status, kBaseFormats + 17);
  status = ST_GOOD();
  FIO_FILEOPEN("   ", "READ", retstat, id, status);
  EXPECT_EQ(status, kBaseFormats + 33);

  status = ST_GOOD();
  std::string name = dir_.file("missing");
  FIO_OPENFILE(false, "READ", name, retstat, id, status);
  EXPECT_EQ(retstat, 3);
  EXPECT_EQ(status, kStatusGood);

  const std::string good = dir_.file("good.dat");
  make_file(good, "x");
  {
    testing::ScriptedInput input({dir_.file("nope"), good});
    FIO_OPENFILE(true, "READ", name, retstat, id, status);
  }
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(id, kFioInputStream);
  EXPECT_EQ(name, good);
  EXPECT_NE(terminal_.text().find("Error in opening file, Please retype name"),
            std::string::npos);
  FIO_FILECLOSEC(id, retstat);

  // Asked again offering the name offered before, which Enter takes.
  {
    testing::ScriptedInput input({dir_.file("nope"), ""});
    FIO_OPENFILE(true, "READ", name, retstat, id, status);
    ASSERT_EQ(input.prompts.size(), 2u);
    EXPECT_EQ(input.prompts[1], input.prompts[0]);
  }
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(name, good);
  FIO_FILECLOSEC(id, retstat);

  {
    testing::ScriptedInput input({dir_.file("nope")});  // then the input ends
    FIO_OPENFILE(true, "READ", name, retstat, id, status);
  }
  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(name, good);  // the escape keeps the name offered
}

}  // namespace
}  // namespace kesta
