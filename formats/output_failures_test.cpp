// Every writer says the same when its output file cannot be opened: the
// file, the system's reason and what became of it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/bsl_format.hpp"
#include "formats/cdd_codec.hpp"
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

}  // namespace
}  // namespace kesta
