// End-to-end: images through INPUT DATA and OUTPUT DATA of the real program,
// read back by a second run, with the values checked through the file itself.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"

namespace kesta {
namespace {

using testing::file_contents;
using testing::TempDir;

// Runs the program in DIR (also its HOME) with INPUT on standard input.
std::string run_program(const TempDir& dir, const std::string& input, int& code,
                        const std::string& args = "-nogr -dim64x32") {
  const testing::ProgramResult result = testing::run_program(dir, args, input);
  code = result.code;
  return result.output;
}

struct Image {
  Index xmax, ymax;
  std::vector<float> xaxis, yaxis, data, variances;
  std::string title, xlabel, ylabel, zlabel;
  float xps = 0, yps = 0, overload = 0;
  bool variances_exist = false;
  Image(Index x, Index y)
      : xmax(x), ymax(y), xaxis(x), yaxis(y), data(x * y), variances(x * y) {}
};

bool read_image(const std::string& path, Image& image, Index& xnum, Index& ynum) {
  Status status = kStatusGood;
  int retstat = -1;
  std::string name = path;
  FIO_IN_KESTA(true, image.xmax, image.ymax, image.variances_exist, name, retstat, xnum, ynum,
               image.xaxis, image.yaxis, image.data, image.variances, image.title, image.xlabel,
               image.ylabel, image.zlabel, image.xps, image.yps, image.overload, status);
  return status == kStatusGood && retstat == 0;
}

// A 7 x 5 image with its own axes, texts and pixel sizes, written as PATH.
Image write_source(const std::string& path) {
  Status status;
  ST_DEF_SYSTEM(status);
  Image source(7, 5);
  for (Index i = 0; i < 7; ++i) source.xaxis[i] = 0.25f * static_cast<float>(i) - 1.0f;
  for (Index j = 0; j < 5; ++j) source.yaxis[j] = 10.0f + static_cast<float>(j);
  for (Index k = 0; k < 35; ++k) source.data[k] = 1.5f * static_cast<float>(k) - 7.0f;
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  FIO_OUT_KESTA(false, "", 7, 5, 1, 1, 7, 5, source.xaxis, source.yaxis, source.data,
                source.variances, "Calibrant ring", "Pixels X", "Pixels Y", "Counts", false,
                7.5e-5f, 8.0e-5f, retstat, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(status, kStatusGood);
  return source;
}

TEST(ImageFiles, NativeFileSurvivesTwoRunsOfTheProgram) {
  TempDir dir;
  const Image source = write_source(dir.file("first.kzt"));

  // First run: read the file, write it out again under another name.
  int code = -1;
  std::string out = run_program(dir,
                                "INPUT DATA\nKESTA STANDARD FORMAT\nfirst.kzt\n"
                                "INFORMATION\nOUTPUT DATA\nKESTA STANDARD FORMAT\nsecond.kzt\n"
                                "EXIT\nYES\n",
                                code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("INFO: Program arrays have         64 elements in the X-direction"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("not available"), std::string::npos) << out;
  // The format and the pixel sizes reached the defaults database.
  const std::string defaults = file_contents(dir.file(".kesta.def"));
  EXPECT_NE(defaults.find("X_PIXEL_SIZE"), std::string::npos) << defaults;

  // Second run: the written file is read back and shown by INFORMATION.
  out = run_program(dir, "INPUT DATA\nKESTA STANDARD FORMAT\nsecond.kzt\nINFORMATION\nEXIT\nYES\n",
                    code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;

  // With variance arrays, a file without variances leaves them in place
  // (cleared), so variance commands stay available.
  out = run_program(dir, "INPUT DATA\nKESTA STANDARD FORMAT\nsecond.kzt\nINFORMATION\nEXIT\nYES\n",
                    code, "-nogr -var -dim64x32");
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(out.find("No variance arrays exist"), std::string::npos) << out;

  // The file the program wrote holds exactly the image it read.
  Image back(7, 5);
  Index xnum = 0, ynum = 0;
  ASSERT_TRUE(read_image(dir.file("second.kzt"), back, xnum, ynum));
  EXPECT_EQ(xnum, 7);
  EXPECT_EQ(ynum, 5);
  EXPECT_EQ(back.data, source.data);
  EXPECT_EQ(back.xaxis, source.xaxis);
  EXPECT_EQ(back.yaxis, source.yaxis);
  EXPECT_EQ(back.title, "Calibrant ring");
  EXPECT_EQ(back.xlabel, "Pixels X");
  EXPECT_EQ(back.zlabel, "Counts");
  EXPECT_FLOAT_EQ(back.xps, 7.5e-5f);
  EXPECT_FLOAT_EQ(back.yps, 8.0e-5f);
}

// A native file without pixel sizes gives the detector none: the data set
// takes the stored sizes, and the defaults file keeps them.
TEST(ImageFiles, NativeFileWithoutPixelSizesKeepsTheStoredOnes) {
  TempDir dir;
  testing::write_text_file(dir.file(".kesta.def"),
                           "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
                           "X_PIXEL_SIZE\n7.5E-05\nY_PIXEL_SIZE\n1.72E-04\n");
  ASSERT_TRUE(testing::write_sizeless_native_image(dir.file("old.kzt"), 7, 5,
                                                   std::vector<float>(35, 1.0f)));
  int code = -1;
  const std::string out = run_program(dir,
                                      "INPUT DATA\nKESTA STANDARD FORMAT\nold.kzt\n"
                                      "OUTPUT DATA\nKESTA STANDARD FORMAT\nback.kzt\nEXIT\nYES\n",
                                      code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("INFO: File item not found: x_pixel_size"), std::string::npos) << out;
  const std::string defaults = file_contents(dir.file(".kesta.def"));
  EXPECT_NE(defaults.find("\nX_PIXEL_SIZE\n7.5E-05\n"), std::string::npos) << defaults;
  EXPECT_NE(defaults.find("\nY_PIXEL_SIZE\n1.72E-04\n"), std::string::npos) << defaults;
  Image back(7, 5);
  Index xnum = 0, ynum = 0;
  ASSERT_TRUE(read_image(dir.file("back.kzt"), back, xnum, ynum));
  EXPECT_FLOAT_EQ(back.xps, 7.5e-5f);
  EXPECT_FLOAT_EQ(back.yps, 1.72e-4f);
}

TEST(ImageFiles, DataStoreCommandsOnALoadedImage) {
  TempDir dir;
  const Image source = write_source(dir.file("first.kzt"));
  int code = -1;
  // STORE keeps the image in the memory, CLEAR DATA zeroes the current data,
  // EXCHANGE brings the image back: written out, each file shows which data
  // set held what.
  const std::string out = run_program(
      dir,
      "INPUT DATA\nKESTA STANDARD FORMAT\nfirst.kzt\nSTORE\nCLEAR DATA\n"
      "OUTPUT DATA\nKESTA STANDARD FORMAT\ncleared.kzt\nEXCHANGE\nINFORMATION\n"
      "OUTPUT DATA\nKESTA STANDARD FORMAT\nexchanged.kzt\n"
      "INTERNAL MEMORY\nYES\n\nINTERNAL MEMORY\nNO\n\nEXIT\nYES\n",
      code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
  EXPECT_NE(out.find("Main menu: ENTER COMMAND [IMAGE]:STORE"), std::string::npos) << out;
  EXPECT_NE(out.find("Main menu: ENTER COMMAND [SYMMETRIC FUNCTION]:OUTPUT DATA"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("INFO: Memory defined\n"
                     "INFO: Memory; number of defined elements in the X-direction          7\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("INFO: There are currently  0 active data regions stored internally"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("INFO: There are currently  1 active data regions stored internally"),
            std::string::npos)
      << out;

  Image cleared(7, 5), exchanged(7, 5);
  Index xnum = 0, ynum = 0;
  ASSERT_TRUE(read_image(dir.file("cleared.kzt"), cleared, xnum, ynum));
  EXPECT_EQ(cleared.data, std::vector<float>(35, 0.0f));
  ASSERT_TRUE(read_image(dir.file("exchanged.kzt"), exchanged, xnum, ynum));
  EXPECT_EQ(exchanged.data, source.data);
  EXPECT_EQ(exchanged.title, "Calibrant ring");
}

// An assignment (as a macro makes a file name with) given at a file-name
// question is no name: the question is asked again and the next line names
// the file, for a writer of text, a writer of images and a reader alike.
TEST(ImageFiles, AnAssignmentAtAFileNameQuestionAsksItAgain) {
  TempDir dir;
  const Image source = write_source(dir.file("first.kzt"));
  int code = -1;
  const std::string out = run_program(
      dir,
      "INPUT DATA\nKESTA STANDARD FORMAT\nv = 1\nfirst.kzt\n"
      "OUTPUT DATA\nSPREAD SHEET\nYES\nw = 2\nss.txt\n"
      "OUTPUT DATA\nKESTA STANDARD FORMAT\nw = 3\nsecond.kzt\n"
      "OUTPUT DATA\nTIFF INTEGERS\nw = 4\nthird.tif\n2 BYTE UNSIGNED INTEGERS\n\n\n"
      "EXIT\nYES\n",
      code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(out.find("does not correspond"), std::string::npos) << out;
  EXPECT_NE(out.find("INPUT FILE NAME [no_data.dat]:v = 1\nINPUT FILE NAME [no_data.dat]:"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("FILE NAME [spread.spr]:w = 2\nFILE NAME [spread.spr]:ss.txt\n"),
            std::string::npos)
      << out;
  EXPECT_TRUE(std::filesystem::exists(dir.file("ss.txt"))) << out;
  EXPECT_TRUE(std::filesystem::exists(dir.file("third.tif"))) << out;
  Image second(7, 5);
  Index xnum = 0, ynum = 0;
  ASSERT_TRUE(read_image(dir.file("second.kzt"), second, xnum, ynum)) << out;
  EXPECT_EQ(second.data, source.data);
}

// A write beyond the file size limit fails like a full disk: said, the old
// file left as it was and no temporary file left behind; the program goes on
// with its data instead of being ended by the system's signal.
TEST(ImageFiles, WriteBeyondTheFileSizeLimitKeepsTheOldFileAndTheSession) {
  TempDir dir;
  {
    constexpr Index kN = 256;
    std::vector<float> axis(kN), data(kN * kN, 3.0f);
    testing::TerminalCapture quiet;
    testing::ScriptedInput answer({dir.file("big.kzt")});
    int retstat = -1;
    Status status = kStatusGood;
    FIO_OUT_KESTA(false, "", kN, kN, 1, 1, kN, kN, axis, axis, data, {}, "Big", "X", "Y", "Z",
                  false, 1e-4f, 1e-4f, retstat, status);
    ASSERT_EQ(retstat, 0);
  }
  testing::write_text_file(dir.file("old.kzt"), "old");
  // The limit is inherited by the shell and the program; the transcript
  // stays well below it.
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit limit = before;
  limit.rlim_cur = 128 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  int code = -1;
  const std::string out = run_program(
      dir,
      "INPUT DATA\nKESTA STANDARD FORMAT\nbig.kzt\nOUTPUT DATA\nKESTA STANDARD FORMAT\n"
      "old.kzt\nYES\nINFORMATION\nEXIT\nYES\n",
      code, "-nogr -dim256x256");
  setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("WARNING: Error in writing file old.kzt: writing failed: File too large"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Write to output file failed\nRESET \"status\" [YES]:YES"),
            std::string::npos);
  EXPECT_NE(out.find("number of defined elements in the X-direction        256"),
            std::string::npos)
      << out;
  EXPECT_EQ(file_contents(dir.file("old.kzt")), "old");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().find("old.kzt") != std::string::npos) ++files;
  EXPECT_EQ(files, 1u);
}

TEST(ImageFiles, DamagedFileLeavesTheProgramsDataAsItWas) {
  TempDir dir;
  testing::write_text_file(dir.file("broken.kzt"), "\\not an item file at all");
  int code = -1;
  const std::string out = run_program(
      dir, "INPUT DATA\nKESTA STANDARD FORMAT\nbroken.kzt\nINFORMATION\nEXIT\nYES\n", code);
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("broken.kzt is not a \"KESTA STANDARD FORMAT\" file"), std::string::npos)
      << out;
  EXPECT_NE(out.find("INFO: No current data"), std::string::npos) << out;
  EXPECT_EQ(file_contents(dir.file(".kesta.def")).find("#INPUT_FORMAT"), std::string::npos);
}

// A little-endian 16-bit TIFF image of 3 x 2 pixels in one strip, cut to
// KEEP bytes.
std::string small_tiff(std::size_t keep = 1000) {
  std::string b = std::string("II\x2a\0\x08\0\0\0\x04\0", 10);
  auto entry = [&](int tag, int type, int value) {
    const unsigned char e[12] = {static_cast<unsigned char>(tag & 0xff),
                                 static_cast<unsigned char>(tag >> 8),
                                 static_cast<unsigned char>(type), 0, 1, 0, 0, 0,
                                 static_cast<unsigned char>(value), 0, 0, 0};
    b.append(reinterpret_cast<const char*>(e), 12);
  };
  entry(256, 3, 3);
  entry(257, 3, 2);
  entry(258, 3, 16);
  entry(273, 4, 62);
  b.append(4, '\0');
  for (int v = 1; v <= 6; ++v) b += std::string{static_cast<char>(v * 10), '\0'};
  return b.substr(0, keep);
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

TEST(ImageFiles, DamagedDetectorFilesLeaveTheImageRead) {
  TempDir dir;
  write_bytes(dir.file("good.tif"), small_tiff());
  write_bytes(dir.file("cut.tif"), small_tiff(66));
  std::string bruker = "FORMAT :86";
  bruker.resize(80, ' ');
  write_bytes(dir.file("bad.001"), bruker + "\x1a");
  write_bytes(dir.file("random.mar"), std::string(200, '\x5a'));
  const std::string region = "\n\n\n\n\n\n";
  int code = -1;
  const std::string out = run_program(
      dir,
      "INPUT DATA\nTIFF\ngood.tif\n" + region + "INPUT DATA\nTIFF\ncut.tif\n" +
          "INPUT DATA\nBRUKER FORMAT\nbad.001\nINPUT DATA\nMAR RESEARCH FORMAT\nrandom.mar\n"
          "INFORMATION\nEXIT\nYES\n",
      code);
  EXPECT_EQ(code, 0) << out;
  for (const char* message :
       {"cut.tif is too short for its image of 3 x 2 pixels; the data are unchanged",
        "bad.001 gives NCOLS -1",
        "random.mar is not a MAR image file",
        "INFO: Current data; number of defined elements in the X-direction          3"})
    EXPECT_NE(out.find(message), std::string::npos) << message << "\n" << out;
  // The file cut short is refused before the region questions.
  EXPECT_EQ(out.find("X REBIN NUMBER", out.find("cut.tif")), std::string::npos) << out;
}

}  // namespace
}  // namespace kesta
