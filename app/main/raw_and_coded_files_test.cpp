// End-to-end: damaged raw, keyword-header and compressed files through INPUT
// DATA of the real program leave it running with its data, and typed values
// written as compressed diffraction data read back in a later input.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "app/main/program_test_support.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

TEST(RawAndCodedFiles, DamagedFilesAreRefusedAndCodedFilesReadBack) {
  testing::TempDir dir;
  std::string header = "{\nDim_1 = 4;\nDim_2 = 4;\nDataType = FLOAT;\n";
  header.resize(1022, ' ');
  std::ofstream(dir.file("cut.wlt"), std::ios::binary) << header << "}\n" << std::string(10, 'x');
  std::ofstream(dir.file("bad.cdd"), std::ios::binary) << "CDD V01.00A X NUMBER =       9";
  std::ofstream(dir.file("bad.huf"), std::ios::binary) << std::string(30, '\x01');
  const testing::ProgramResult run = testing::run_program(
      dir, "-nogr -dim64x32",
      "INPUT DATA\nTULMA\ncut.wlt\n1\n"
      "INPUT DATA\nCOMPRESSED DIFFRACTION DATA\nbad.cdd\n"
      "INPUT DATA\nHUFFMAN\nbad.huf\n"
      "INPUT DATA\nUSER INTENSITIES\n5\n-7\n30000\n\\\\\n0\n"
      "OUTPUT DATA\nCOMPRESSED DIFFRACTION DATA\nout.cdd\n"
      "INPUT DATA\nCOMPRESSED DIFFRACTION DATA\nout.cdd\n"
      "OUTPUT DATA\nMERVODA\nout.mvd\nYES\n1\n"
      "EXIT\nYES\n");
  EXPECT_EQ(run.code, 0) << run.output;
  const std::string& out = run.output;
  EXPECT_NE(out.find("cut.wlt is too short for an image of 4 x 4 pixels of 4 bytes"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("bad.cdd is damaged"), std::string::npos) << out;
  EXPECT_NE(out.find("bad.huf is damaged"), std::string::npos) << out;
  EXPECT_NE(out.find("INFO: Size of image =        3 times        1 pixels"), std::string::npos);
  EXPECT_EQ(testing::file_contents(dir.file("out.cdd")).substr(0, 64),
            "CDD V01.00A X NUMBER =       3; Y NUMBER =       1; DATA (C1) = ");
  EXPECT_EQ(testing::file_contents(dir.file("out.mvd")),
            "out.cdd\nColumns\nIntensity\n          3\n"
            " 5.0000000E-01  5.0000000E+00 \n 1.5000000E+00 -7.0000000E+00 \n"
            " 2.5000000E+00  3.0000000E+04 \n");
}

// A writer's range question recorded at the keyboard, a refused pair and then
// a good one, replays as it went: the recorded lines answer the question
// asked again, and none of them reaches the main menu.
TEST(RawAndCodedFiles, RecordedRangeQuestionReplaysAsTyped) {
  testing::TempDir dir;
  const testing::ProgramResult run = testing::run_program(
      dir, "-nogr -dim10x10",
      "INPUT DATA\nUSER INTENSITIES\n5\n-7\n30000\n\\\\\n0\n"
      "START MACRO\nrec.mac\nOUTPUT DATA\nBINARY\nout.bin\n\n\n\n5\n5\n0\n10\nSTOP MACRO\n"
      "MACRO\nrec.mac\nEXIT\nYES\n");
  EXPECT_EQ(run.code, 0) << run.output;
  const std::string& out = run.output;
  const std::string replay = out.substr(std::min(out.find("FILE NAME [rec.mac]"), out.size()));
  const std::string asked_again =
      "UPPER LIMIT OF RANGE [65535.00]:5\nWARNING: The scaling range is invalid\n"
      "LOWER LIMIT OF RANGE [-7.000000]:0\nUPPER LIMIT OF RANGE [65535.00]:10\n";
  EXPECT_NE(replay.find(asked_again), std::string::npos) << out;
  EXPECT_EQ(replay.find("no file written"), std::string::npos) << out;
  EXPECT_EQ(out.find("does not correspond"), std::string::npos) << out;
  // 5, -7 and 30000 over 0 to 10, big-endian.
  EXPECT_EQ(testing::file_contents(dir.file("out.bin")),
            std::string("\x80\x00\x00\x00\xff\xff", 6));
}

}  // namespace
}  // namespace kesta
