// Every writer says the same when its output file cannot be opened or
// written: the file, the system's reason and what became of it.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/binary_format.hpp"
#include "formats/bsl_format.hpp"
#include "formats/cdd_codec.hpp"
#include "formats/format_menus.hpp"
#include "formats/huffman_codec.hpp"
#include "formats/scan_formats.hpp"
#include "formats/tiff_format.hpp"
#include "formats/tulma_format.hpp"

namespace kesta {
namespace {

struct Writer {
  const char* name;
  const char* file;  // the name of the pipe written to
  std::function<void(const std::string& path, Status&)> write;
};

TEST(OutputOpenFailure, EveryWriterNamesTheFileAndTheReasonOnce) {
  std::vector<float> data = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
  std::vector<float> x = {1.0f, 2.0f, 3.0f}, y = {0.5f, 1.5f};
  const std::vector<Writer> writers = {
      {"TIFF", "out.tif",
       [&](const std::string& path, Status& status) {
         testing::ScriptedInput input({path, "2 BYTE UNSIGNED INTEGERS", "0", "65535"});
         std::string file = "kesta.tif";
         int bits = 16;
         FIO_OUT_TIFF(false, "", 3, 2, 1, 1, 3, 2, data, "t", 1.0e-4f, 1.0e-4f, file, bits,
                      status);
       }},
      {"CDD", "out.cdd",
       [&](const std::string& path, Status& status) {
         testing::ScriptedInput input({path});
         int retstat = 0;
         FIO_OUT_CDD(3, 2, 1, 1, 3, 2, data, retstat, status);
       }},
      {"Huffman", "out.huf",
       [&](const std::string& path, Status& status) {
         fio_reset_huffman();
         testing::ScriptedInput input({path, "1", "0"});
         int retstat = 0;
         FIO_OUT_HUFFMAN(false, "", 3, 2, 1, 1, 3, 2, data, retstat, status);
       }},
      {"GSAS", "out.gsas",
       [&](const std::string& path, Status& status) {
         testing::ScriptedInput input({path, "", ""});
         int retstat = 0;
         std::string name;
         FIO_OUT_GSAS(false, "", false, 3, 1, 1, 1, 3, 1, x, y, data, {}, "Scan", "", "", "",
                      false, name, retstat, status);
       }},
      {"BSL", "A01000.BSL",
       [&](const std::string& path, Status& status) {
         testing::ScriptedInput input({path});
         std::string name;
         int retstat = 0;
         FIO_OUT_BSL(false, "", 3, 2, 1, 1, 3, 2, data, "t", name, retstat, status);
       }},
      {"TULMA", "out.wlt",
       [&](const std::string& path, Status& status) {
         int retstat = 0;
         FIO_OUT_TULMA(path, 3, 2, 1, 1, 3, 2, data, retstat, status);
       }},
  };
  for (const Writer& w : writers) {
    testing::reset_dialogue();
    testing::TempDir dir;
    // A named pipe nobody reads: the open fails at once, and the pipe stays.
    const std::string path = dir.file(w.file);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    testing::TerminalCapture terminal;
    Status status = ST_GOOD();
    w.write(path, status);
    const std::string out = terminal.text();
    EXPECT_NE(out.find("WARNING: Error in opening file " + path +
                       ": no program is reading from the named pipe"),
              std::string::npos)
        << w.name << "\n" << out;
    std::size_t lines = 0;
    for (auto at = out.find("Error in opening"); at != std::string::npos;
         at = out.find("Error in opening", at + 1))
      ++lines;
    EXPECT_EQ(lines, 1u) << w.name << "\n" << out;
    struct stat info {};
    EXPECT_TRUE(::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) << w.name;
  }
}

// A file the user may not open for writing is refused with the reason and
// kept as it was, whether another user owns it or it is the user's own file
// made read-only, though the folder is the user's. OUTPUT DATA runs as an
// ordinary user, since the superuser may write any file.
TEST(OutputOpenFailure, AFileTheUserMayNotWriteIsRefusedAndKept) {
  testing::TempDir dir;
  const bool as_root = ::geteuid() == 0;
  const uid_t user = as_root ? testing::kOrdinaryUser : ::geteuid();
  ASSERT_EQ(::chown(dir.path().c_str(), user, user), 0);
  std::vector<float> data = {1, 2, 3, 4, 5, 6}, x = {0.5f, 1.5f, 2.5f}, y = {0.5f, 1.5f};
  const std::string path = dir.file("prot.kzt");
  // The spreadsheet asks a question before the file name.
  const std::vector<std::string> roads[] = {{"KESTA STANDARD FORMAT", path},
                                            {"SPREAD SHEET", "YES", path}};
  for (const std::vector<std::string>& answers : roads) {
    for (const uid_t owner : {uid_t{0}, user}) {
      SCOPED_TRACE(answers.front() + " owned by " + std::to_string(owner));
      { std::FILE* f = std::fopen(path.c_str(), "wb"); std::fputs("OLD", f); std::fclose(f); }
      ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
      if (as_root) {
        ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
      }
      const std::string out = testing::in_child_process([&] {
        if (!testing::become_ordinary_user()) return std::string("<no ordinary user>");
        testing::reset_dialogue();
        fio_reset_format_menus();
        testing::TerminalCapture terminal;
        testing::ScriptedInput input(answers);
        Status status = ST_GOOD();
        FIO_OUTPUT("in.dat", 3, 2, 1, 1, 3, 2, x, y, data, {}, "t", "x", "y", "z", false, 1e-4f,
                   1e-4f, status);
        return terminal.text();
      });
      EXPECT_NE(out.find("WARNING: Error in opening file " + path +
                         ": cannot open it for writing: Permission denied, so the file was not "
                         "changed"),
                std::string::npos)
          << out;
      EXPECT_EQ(testing::file_contents(path), "OLD");
      struct stat info {};
      ASSERT_EQ(::stat(path.c_str(), &info), 0);
      EXPECT_EQ(info.st_uid, as_root ? owner : user);
      EXPECT_EQ(info.st_mode & 07777, 0444u);
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
      std::filesystem::remove(path);
    }
  }
  // A file of the kernel's (whose folder takes no new file, "No such file
  // or directory") is refused for its own reason too.
  for (const char* format : {"KESTA STANDARD FORMAT", "TIFF INTEGERS"}) {
    const std::string out = testing::in_child_process([&] {
      if (!testing::become_ordinary_user()) return std::string("<no ordinary user>");
      testing::reset_dialogue();
      fio_reset_format_menus();
      testing::TerminalCapture terminal;
      testing::ScriptedInput input({format, "/proc/version", "", "", ""});
      Status status = ST_GOOD();
      FIO_OUTPUT("in.dat", 3, 2, 1, 1, 3, 2, x, y, data, {}, "t", "x", "y", "z", false, 1e-4f,
                 1e-4f, status);
      return terminal.text();
    });
    EXPECT_NE(out.find("WARNING: Error in opening file /proc/version: cannot open it for writing: "
                       "Permission denied, so the file was not changed"),
              std::string::npos)
        << out;
  }
}

// A writer whose files are all symbolic links to /dev/full: everything is
// gathered, and the device refuses it at the commit. RETSTAT stays -9 for a
// writer without one.
struct FullWriter {
  const char* name;
  std::vector<const char*> files;  // the first is the name given
  std::function<void(const std::string& path, int& retstat, Status&)> write;
};

// The whole NX by NY image as a 16-bit TIFF to PATH.
void write_tiff(std::span<const float> data, Index nx, Index ny, const std::string& path,
                Status& status) {
  testing::ScriptedInput input({path, "2 BYTE UNSIGNED INTEGERS", "0", "65535"});
  std::string file = "kesta.tif";
  int bits = 16;
  FIO_OUT_TIFF(false, "", nx, ny, 1, 1, nx, ny, data, "t", 1.0e-4f, 1.0e-4f, file, bits, status);
}

// A name a writer could not use (its folder missing, a "~" that names no
// one) is not kept: the next OUTPUT DATA offers the name offered before.
TEST(OutputOpenFailure, ARefusedNameIsNotOfferedNextTime) {
  struct Row {
    const char* format;
    const char* file;
    std::vector<std::string> after_name;
  };
  const Row rows[] = {
      {"KESTA STANDARD FORMAT", "a.kzt", {}},
      {"COMPRESSED DIFFRACTION DATA", "a.cdd", {}},
      {"HUFFMAN", "a.huf", {"1", "0"}},
      {"TIFF INTEGERS", "a.tif", {"2 BYTE UNSIGNED INTEGERS", "", ""}},
      {"BINARY (UNFORMATTED)", "a.bin", {"", "", "", "", ""}},
      {"DENZO MAR FORMAT", "a.mar", {"", "", "", ""}},
      {"BSL FORMAT", "B07000.BSL", {}},
      {"\"TULMA\" FORMAT", "a.wlt", {}},
  };
  testing::TempDir dir;
  testing::TerminalCapture terminal;
  std::vector<float> data = {1, 2, 3, 4, 5, 6}, x = {0.5f, 1.5f, 2.5f}, y = {0.5f, 1.5f};
  fio_reset_format_menus();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.format);
    const std::string good = dir.file(r.file);
    auto output = [&](const std::string& name) {
      std::vector<std::string> answers = {r.format, name};
      answers.insert(answers.end(), r.after_name.begin(), r.after_name.end());
      testing::ScriptedInput input(answers);
      Status status = ST_GOOD();
      FIO_OUTPUT("in.dat", 3, 2, 1, 1, 3, 2, x, y, data, {}, "t", "x", "y", "z", false, 1e-4f,
                 1e-4f, status);
      EXPECT_EQ(status, kStatusGood);
    };
    output(good);
    ASSERT_TRUE(std::filesystem::exists(good)) << terminal.text();
    std::filesystem::remove(good);
    output(dir.file(std::string("none/") + r.file));
    output("~kesta-no-such-user/" + std::string(r.file));
    EXPECT_FALSE(std::filesystem::exists(good));
    output("");
    EXPECT_TRUE(std::filesystem::exists(good));
  }
  fio_reset_format_menus();
}

TEST(OutputWriteFailure, EveryWriterGivesTheReasonAndABadStatus) {
  std::vector<float> data = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
  std::vector<float> x = {1.0f, 2.0f, 3.0f}, y = {0.5f, 1.5f};
  const std::vector<FullWriter> writers = {
      {"TIFF", {"out.tif"},
       [&](const std::string& path, int&, Status& status) { write_tiff(data, 3, 2, path, status); }},
      {"CDD", {"out.cdd"},
       [&](const std::string& path, int& retstat, Status& status) {
         testing::ScriptedInput input({path});
         FIO_OUT_CDD(3, 2, 1, 1, 3, 2, data, retstat, status);
       }},
      {"Huffman", {"out.huf"},
       [&](const std::string& path, int& retstat, Status& status) {
         fio_reset_huffman();
         testing::ScriptedInput input({path, "1", "0"});
         FIO_OUT_HUFFMAN(false, "", 3, 2, 1, 1, 3, 2, data, retstat, status);
       }},
      {"GSAS (a text file)", {"out.gsas"},
       [&](const std::string& path, int& retstat, Status& status) {
         testing::ScriptedInput input({path, "", ""});
         std::string name;
         FIO_OUT_GSAS(false, "", false, 3, 1, 1, 1, 3, 1, x, y, data, {}, "Scan", "", "", "",
                      false, name, retstat, status);
       }},
      {"BSL", {"A01000.BSL", "A01001.BSL"},
       [&](const std::string& path, int& retstat, Status& status) {
         testing::ScriptedInput input({path});
         std::string name;
         FIO_OUT_BSL(false, "", 3, 2, 1, 1, 3, 2, data, "t", name, retstat, status);
       }},
      {"binary", {"out.bin"},
       [&](const std::string& path, int& retstat, Status& status) {
         fio_reset_binary();
         testing::ScriptedInput input({path, "6", "1", "NO", "0", "65535"});
         FIO_OUT_BINARY(false, "", 3, 2, 1, 1, 3, 2, data, "t", "x", "y", "z", 1.0e-4f, 1.0e-4f,
                        false, 2, retstat, status);
       }},
      {"binary's header file", {"out.bin.info"},
       [&](const std::string& path, int& retstat, Status& status) {
         fio_reset_binary();
         const std::string bin = path.substr(0, path.size() - 5);
         testing::ScriptedInput input({bin, "6", "1", "NO", "0", "65535"});
         FIO_OUT_BINARY(false, "", 3, 2, 1, 1, 3, 2, data, "t", "x", "y", "z", 1.0e-4f, 1.0e-4f,
                        true, 2, retstat, status);
       }},
      {"TULMA", {"out.wlt"},
       [&](const std::string& path, int& retstat, Status& status) {
         FIO_OUT_TULMA(path, 3, 2, 1, 1, 3, 2, data, retstat, status);
       }},
  };
  for (const FullWriter& w : writers) {
    testing::reset_dialogue();
    testing::TempDir dir;
    for (const char* f : w.files) ASSERT_EQ(::symlink("/dev/full", dir.file(f).c_str()), 0);
    testing::TerminalCapture terminal;
    Status status = ST_GOOD();
    int retstat = -9;
    w.write(dir.file(w.files.front()), retstat, status);
    const std::string out = terminal.text();
    std::size_t lines = 0;
    for (auto at = out.find("Error in writing file"); at != std::string::npos;
         at = out.find("Error in writing file", at + 1))
      ++lines;
    EXPECT_EQ(lines, 1u) << w.name << "\n" << out;
    EXPECT_NE(out.find(": writing to it failed: No space left on device"), std::string::npos)
        << w.name << "\n" << out;
    EXPECT_EQ(status, kBaseCore + 1010) << w.name;
    EXPECT_NE(retstat, 0) << w.name;
    EXPECT_EQ(out.find("INFO: Time for output"), std::string::npos) << w.name;
  }
}

// A regular file that fills up part-way through the data (the file size
// limit stands in for a full disk): the writers that pass their data through
// the core's array writer, and those writing as they go, give the system's
// reason in their one line, and the old file stays as it was.
TEST(OutputWriteFailure, AFileThatFillsUpGivesTheReasonAndKeepsTheOldFile) {
  std::vector<float> data(64 * 64);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i % 1000);
  const std::vector<FullWriter> writers = {
      {"TIFF", {"out.tif"},
       [&](const std::string& path, int&, Status& status) {
         write_tiff(data, 64, 64, path, status);
       }},
      {"binary", {"out.bin"},
       [&](const std::string& path, int& retstat, Status& status) {
         fio_reset_binary();
         testing::ScriptedInput input({path, "128", "1", "NO", "0", "65535"});
         FIO_OUT_BINARY(false, "", 64, 64, 1, 1, 64, 64, data, "t", "x", "y", "z", 1.0e-4f,
                        1.0e-4f, false, 2, retstat, status);
       }},
      {"4-byte binary", {"out.bin"},
       [&](const std::string& path, int& retstat, Status& status) {
         fio_reset_binary();
         testing::ScriptedInput input({path, "256", "1", "NO", "", ""});
         FIO_OUT_BINARY(false, "", 64, 64, 1, 1, 64, 64, data, "t", "x", "y", "z", 1.0e-4f,
                        1.0e-4f, false, 4, retstat, status);
       }},
      {"DENZO MAR", {"out.cor"},
       [&](const std::string& path, int& retstat, Status& status) {
         fio_reset_binary();
         testing::ScriptedInput input({path, "128", "NO", "", ""});
         FIO_OUT_MAR(false, "", 64, 64, 1, 1, 64, 64, data, retstat, status);
       }},
      {"TULMA", {"out.wlt"},
       [&](const std::string& path, int& retstat, Status& status) {
         FIO_OUT_TULMA(path, 64, 64, 1, 1, 64, 64, data, retstat, status);
       }},
  };
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_signal = std::signal(SIGXFSZ, SIG_IGN);
  for (const FullWriter& w : writers) {
    testing::reset_dialogue();
    testing::TempDir dir;
    const std::string path = dir.file(w.files.front());
    { std::FILE* f = std::fopen(path.c_str(), "wb"); std::fputs("OLD", f); std::fclose(f); }
    testing::TerminalCapture terminal;
    Status status = ST_GOOD();
    int retstat = -9;
    rlimit limit = old_limit;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    w.write(path, retstat, status);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const std::string out = terminal.text();
    EXPECT_NE(out.find("WARNING: Error in writing file " + path +
                       ": writing failed: File too large, so the file was not changed"),
              std::string::npos)
        << w.name << "\n" << out;
    EXPECT_EQ(status, kBaseCore + 1010) << w.name;
    EXPECT_EQ(testing::file_contents(path), "OLD") << w.name;
    // No second report of the same failure, from the layers below.
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << w.name << "\n" << out;
    EXPECT_EQ(out.find("errno"), std::string::npos) << w.name << "\n" << out;
  }
  std::signal(SIGXFSZ, old_signal);
}

}  // namespace
}  // namespace kesta
