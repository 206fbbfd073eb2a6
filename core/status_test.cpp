#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

using testing::TerminalCapture;

TEST(Status, ErrorCodeKeepsSpecialValuesAndFoldsModules) {
  EXPECT_EQ(ST_ERRORCODE(11001), 1001);
  EXPECT_EQ(ST_ERRORCODE(-11001), 1001);
  EXPECT_EQ(ST_ERRORCODE(132001), 2001);
  EXPECT_EQ(ST_ERRORCODE(kStatusGood), kStatusGood);
  EXPECT_EQ(ST_ERRORCODE(kStatusEscape), kStatusEscape);
  EXPECT_EQ(ST_ERRORCODE(kStatusConsumed), kStatusConsumed);
  EXPECT_EQ(ST_ERRORCODE(static_cast<Status>(0x80000000)), 3648);  // no overflow on the extreme value
}

TEST(Status, FirstSaveAfterResetWins) {
  Status status;
  ST_DEF_SYSTEM(status);
  EXPECT_EQ(status, kStatusGood);
  ST_SAVE("Subroutine INNER V1.0");
  ST_SAVE("Subroutine OUTER V1.0");
  EXPECT_EQ(st_position(), "Subroutine INNER V1.0");
  ST_DEF_SYSTEM(status);
  EXPECT_EQ(st_position(), "");
}

TEST(Status, BadStatusUnwindsAndRecordsInnermost) {
  Status status;
  ST_DEF_SYSTEM(status);
  status = 11002;
  IO_WRITE("never written", status);
  EXPECT_EQ(status, 11002);
  EXPECT_EQ(st_position(), "Subroutine IO_WRITE V0.1");
  ST_DEF_SYSTEM(status);
}

TEST(Status, ReportTexts) {
  Status status;
  ST_DEF_SYSTEM(status);
  struct Case {
    Status value;
    std::string expected;
  } cases[] = {
      {10016,
       " \nSTATUS: The error was identified in module:\nIO: Input/Output and Status\n \n"
       "STATUS: Position where error condition was identified\n \n \n"
       "STATUS: The error condition has been classified as:\n"
       "Fourth of greater dimension: illegal relationship between two variables\n"},
      {90001,
       " \nSTATUS: The error was identified in module:\nUNKNOWN:\n \n"
       "STATUS: Position where error condition was identified\n \n \n"
       "STATUS: The error condition has been classified as:\nFirst array dimension illegally defined\n"},
      {kStatusConsumed,
       " \nSTATUS: The error was identified in module:\nUNKNOWN:\n \n"
       "STATUS: Position where error condition was identified\n \n"
       "WARNING: Unknown value for the status variable; value =    -2147483646\n \n"
       "STATUS: The error condition has been classified as:\nUndefined error value\n"},
      {kStatusEscape, " \nSTATUS: The \"status\" value is set to the user escape value\n"},
      {kStatusGood, ""},
      {132001,
       " \nSTATUS: The error was identified in module:\nQG: \"Qivo Graphics\"\n \n"
       "STATUS: Position where error condition was identified\n \n \n"
       "STATUS: The error condition has been classified as:\n"
       "Failed to open X-11 window (use \"xhost+\" on X-server ?)\n"},
  };
  for (const auto& c : cases) {
    TerminalCapture capture;
    ST_OUT(c.value);
    EXPECT_EQ(capture.text(), c.expected) << c.value;
  }
}

TEST(Status, GoodStatusWithStoredPositionIsReported) {
  Status status;
  ST_DEF_SYSTEM(status);
  ST_SAVE("Subroutine X V0.1");
  TerminalCapture capture;
  ST_OUT(kStatusGood);
  EXPECT_EQ(capture.text(),
            " \nSTATUS: The \"status\" value appears to be good, but an error position has\n"
            "been reported in:\nSubroutine X V0.1\nThis is probably due to incorrect calling arguments\n");
  ST_DEF_SYSTEM(status);
}

TEST(Output, LinesAreTrimmedAndBlankLinesKeepOneBlank) {
  Status status;
  ST_DEF_SYSTEM(status);
  std::FILE* log = std::tmpfile();
  io_set_stream(kStreamLog, log);
  vosq_io_dbdb.log_open = true;
  {
    TerminalCapture capture;
    IO_WRITE("abc   ", status);
    IO_WRITE(std::string(80, ' '), status);
    IO_WRITENA("   ", status);
    IO_WRITENA("PROMPT: ", status);
    EXPECT_EQ(capture.text(), "abc\n \nPROMPT:");
  }
  vosq_io_dbdb.log_open = false;
  io_set_stream(kStreamLog, nullptr);
  std::rewind(log);
  char buffer[64] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, log);
  EXPECT_EQ(std::string(buffer, n), "abc\n \nPROMPT:");
  std::fclose(log);
}

TEST(Output, SecondResetKeepsCoreState) {
  Status status;
  ST_DEF_SYSTEM(status);
  vosq_io_dbdb.output_macro = true;
  ST_DEF_SYSTEM(status);
  EXPECT_TRUE(vosq_io_dbdb.output_macro);
  vosq_io_dbdb.output_macro = false;
}

// IO_WRITE_FILE reports a failed write; for a file whose owner says its
// failures nothing is said on the way. Either keeps the system's reason for
// the stream.
TEST(Output, FailedFileWriteSetsWriteStatus) {
  for (const bool owner_says : {false, true}) {
    Status status;
    ST_DEF_SYSTEM(status);
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    io_set_stream(17, full);
    TerminalCapture capture;
    if (owner_says)
      io_write_file_owner_says(17, "data", status);
    else
      IO_WRITE_FILE(17, "data", status);
    EXPECT_EQ(status, 11010);
    EXPECT_EQ(io_stream_failure(17), ENOSPC);
    if (owner_says)
      EXPECT_EQ(capture.text(), "");
    else
      EXPECT_NE(capture.text().find("(IOSTAT) = "), std::string::npos);
    io_close_stream(17);
  }
  Status status;
  ST_DEF_SYSTEM(status);
}

}  // namespace
}  // namespace kesta
