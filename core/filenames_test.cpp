#include "core/filenames.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

TEST(TransPath, ExpandsHomeAndKeepsUnknownUsers) {
  testing::TempDir home;
  testing::ScopedHome scoped(home.path().c_str());
  testing::TerminalCapture terminal;
  Status status = ST_GOOD();
  int retstat = -1;
  std::string out;
  IO_TRANS_PATH("  ~/data/a.tif", retstat, out, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(out, home.file("data/a.tif"));
  IO_TRANS_PATH("~", retstat, out, status);
  EXPECT_EQ(out, home.path().string());
  IO_TRANS_PATH("plain/name", retstat, out, status);
  EXPECT_EQ(out, "plain/name");

  IO_TRANS_PATH("~nosuchuser_kesta/x", retstat, out, status);
  EXPECT_NE(retstat, 0);
  EXPECT_EQ(out, "~nosuchuser_kesta/x");
  EXPECT_NE(terminal.text().find("WARNING: Problem obtaining home directory information"), std::string::npos);

  out = "unchanged";
  IO_TRANS_PATH("   ", retstat, out, status);
  EXPECT_EQ(out, "unchanged");
  EXPECT_EQ(status, ST_GOOD());
}

TEST(NameParts, DirectoryExtensionAndBase) {
  struct Case {
    const char* file;
    const char* dirpath;
    const char* nodirpath;
    const char* extension;
    const char* noextension;
    const char* basename;
  };
  const Case cases[] = {
      {"/data/run/img_01.tif", "/data/run/", "img_01.tif", "tif", "/data/run/img_01", "img_01"},
      {"dir.old/file", "dir.old/", "file", "old/file", "dir", ""},
      {"name", "", "name", "", "", ""},
      {"name.", "", "name.", "", "name", "name"},
      {".hidden", "", ".hidden", "hidden", "", ""},
      {"dir/", "dir/", "", "", "", ""},
  };
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    std::string out;
    IO_DIRPATH(c.file, out, status);
    EXPECT_EQ(out, c.dirpath) << c.file;
    IO_NODIRPATH(c.file, out, status);
    EXPECT_EQ(out, c.nodirpath) << c.file;
    IO_EXTENSION(c.file, out, status);
    EXPECT_EQ(out, c.extension) << c.file;
    IO_NOEXTENSION(c.file, out, status);
    EXPECT_EQ(out, c.noextension) << c.file;
    IO_BASENAME(c.file, out, status);
    EXPECT_EQ(out, c.basename) << c.file;
  }
}

TEST(NameParts, ReplacedExtensionAndDefaultOutputName) {
  Status status = ST_GOOD();
  int retstat = -1;
  std::string out;
  IO_FILEEXTENSION("a.txt", "dat", retstat, out, status);
  EXPECT_EQ(out, "a.dat");
  IO_FILEEXTENSION("a.txt", ".dat", retstat, out, status);
  EXPECT_EQ(out, "a.dat");
  IO_FILEEXTENSION("noext", "dat", retstat, out, status);
  EXPECT_EQ(out, "noext.dat");
  IO_FILEEXTENSION("a.txt", "", retstat, out, status);
  EXPECT_EQ(out, "a.");

  IO_OUTFILE(1, "/d/in.tif", ".chi", "out.chi", out, status);
  EXPECT_EQ(out, "/d/in.chi");
  IO_OUTFILE(0, "/d/in.tif", ".chi", "out.chi", out, status);
  EXPECT_EQ(out, "in.chi");
  IO_OUTFILE(0, "/d/noext", ".chi", "out.chi", out, status);
  EXPECT_EQ(out, "out.chi");
}

TEST(NewFileName, NextNameOfASeries) {
  struct Case {
    const char* file;
    int increment;
    int retstat;
    const char* expected;
  };
  const Case cases[] = {
      {"scan009.tif", 1, 0, "scan010.tif"},
      {"scan9.tif", 1, 0, "scan10.tif"},
      {"scan099_a.tif", 1, 0, "scan100_a.tif"},
      {"run12b3.dat", 1, 0, "run12b4.dat"},
      {"scan010.tif", -1, 0, "scan009.tif"},
      {"data/scan1.tif", 2, 0, "data/scan3.tif"},
      {"s1234567.tif", 1, 0, "s1234568.tif"},
      {"scan.tif", 1, 3, ""},
      {"12ab.tif", 1, 3, ""},       // a run at the first character does not count
      {"scan009", 1, 2, ""},        // no extension: the base name is blank
      {"x99999999999.tif", 1, 4, ""},
  };
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    int retstat = -9;
    std::string out;
    IO_NEWFILENAME(c.file, c.increment, 0, retstat, out, status);
    EXPECT_EQ(retstat, c.retstat) << c.file;
    if (c.retstat == 0) {
      EXPECT_EQ(out, c.expected) << c.file;
    }
  }
}

TEST(NewFileName, ExistenceModes) {
  testing::TempDir dir;
  std::ofstream(dir.file("f002.dat")) << "x";
  Status status = ST_GOOD();
  int retstat = -1;
  std::string out;
  const std::string first = dir.file("f001.dat");
  IO_NEWFILENAME(first, 1, 1, retstat, out, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(out, dir.file("f002.dat"));
  IO_NEWFILENAME(first, 2, 2, retstat, out, status);
  EXPECT_EQ(retstat, 7);
  EXPECT_EQ(out, dir.file("f003.dat"));  // the missing name, for the caller's message
  IO_NEWFILENAME(first, 1, 4, retstat, out, status);
  EXPECT_EQ(retstat, 7);
  EXPECT_EQ(out, dir.file("f002.dat"));
  IO_NEWFILENAME(first, 2, 4, retstat, out, status);
  EXPECT_EQ(retstat, 0);
}

TEST(NumberedName, PaddingAndLimits) {
  Status status = ST_GOOD();
  int retstat = -9;
  std::string out;
  IO_FILENAME("img", 7, true, 3, ".tif", retstat, out, status);
  EXPECT_EQ(out, "img007.tif");
  IO_FILENAME("img", 7, true, 0, ".tif", retstat, out, status);
  EXPECT_EQ(out, "img.tif");
  IO_FILENAME("img", 7, false, 3, "", retstat, out, status);
  EXPECT_EQ(out, "img7");
  IO_FILENAME("img", 1234, true, 3, ".tif", retstat, out, status);
  EXPECT_EQ(retstat, -1);
  EXPECT_EQ(status, ST_GOOD());
  IO_FILENAME("img", 1, true, -1, ".tif", retstat, out, status);
  EXPECT_EQ(status, 10017);
}

TEST(FileTests, ExistenceKindAndSize) {
  testing::TempDir dir;
  std::ofstream(dir.file("five")) << "12345";
  Status status = ST_GOOD();
  bool exists = false;
  int kind = -1;
  int retstat = -1;
  IO_FILEEXIST("  " + dir.file("five"), exists, kind, retstat, status);
  EXPECT_TRUE(exists);
  EXPECT_EQ(kind, 1);
  IO_FILEEXIST(dir.path().string(), exists, kind, retstat, status);
  EXPECT_EQ(kind, 2);
  IO_FILEEXIST(dir.file("none"), exists, kind, retstat, status);
  EXPECT_FALSE(exists);
  Index size = 0;
  IO_FILESIZE(dir.file("five"), size, status);
  EXPECT_EQ(size, 5);
  IO_FILESIZE(dir.file("none"), size, status);
  EXPECT_EQ(size, -1);
  EXPECT_EQ(status, ST_GOOD());
  IO_FILESIZE("  ", size, status);
  EXPECT_EQ(status, 10033);
}

TEST(OpenAsciiFile, ModesAndUnits) {
  testing::TempDir home;
  testing::ScopedHome scoped(home.path().c_str());
  std::ofstream(home.file("in.txt")) << "line\n";
  Status status = ST_GOOD();
  int retstat = -1;
  std::string file = "~/in.txt";
  IO_OPEN_ASCIIFILE(false, "READ", 50, file, retstat, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(file, "~/in.txt");  // kept as typed
  ASSERT_NE(io_stream(50), nullptr);
  io_close_stream(50);

  file = "~/missing.txt";
  IO_OPEN_ASCIIFILE(false, "READ", 50, file, retstat, status);
  EXPECT_EQ(retstat, 1);
  IO_OPEN_ASCIIFILE(false, "WRITE", 50, file, retstat, status);
  EXPECT_EQ(retstat, 0);
  io_close_stream(50);
  EXPECT_TRUE(std::ifstream(home.file("missing.txt")).good());
  EXPECT_EQ(status, ST_GOOD());

  // Asked for: a name that did not open is named with the reason and asked
  // for again offering the name offered before, which Enter takes.
  file = "~/in.txt";
  {
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({"~/gone.txt", ""});
    IO_OPEN_ASCIIFILE(true, "READ", 50, file, retstat, status);
    EXPECT_EQ(input.remaining(), 0u);
    ASSERT_EQ(input.prompts.size(), 2u);
    EXPECT_EQ(input.prompts[1], input.prompts[0]);
    EXPECT_NE(terminal.text().find(home.file("gone.txt")), std::string::npos) << terminal.text();
    EXPECT_NE(terminal.text().find("WARNING: Error in opening file, Please retype name"),
              std::string::npos);
  }
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(file, "~/in.txt");
  io_close_stream(50);
  EXPECT_EQ(status, ST_GOOD());

  IO_OPEN_ASCIIFILE(false, "READ", 100, file, retstat, status);
  EXPECT_EQ(status, 10017);
}

// A replayed macro answers the question asked again with its next lines, an
// assignment among them: Enter takes the name offered before, and the line
// after it is left for the next question.
TEST(OpenAsciiFile, AReplayedMacroAnswersTheQuestionAskedAgain) {
  testing::reset_dialogue();
  testing::TempDir home;
  testing::ScopedHome scoped(home.path().c_str());
  testing::TerminalCapture terminal;
  std::ofstream(home.file("in.txt")) << "line\n";
  std::ofstream(home.file("answers.mac"))
      << "%!*\\ BEGINNING OF IO MACRO FILE\n~/gone.txt\nz = 1\n\nNEXT\n";
  Status status = ST_GOOD();
  std::string macro = home.file("answers.mac");
  IO_OPEN_INMACRO(false, macro, status);
  ASSERT_EQ(status, ST_GOOD());
  int retstat = -1;
  std::string file = "~/in.txt";
  IO_OPEN_ASCIIFILE(true, "READ", 50, file, retstat, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(file, "~/in.txt");
  io_close_stream(50);
  std::string next;
  IO_INPC(false, "NEXT", {"help"}, {"error"}, 1, next, status);
  EXPECT_EQ(next, "NEXT");
  EXPECT_EQ(status, ST_GOOD());
  testing::reset_dialogue();
}

}  // namespace
}  // namespace kesta
