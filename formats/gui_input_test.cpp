#include "formats/gui_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "formats/format_menus.hpp"
#include "formats/gas_format.hpp"
#include "formats/gui_output.hpp"
#include "formats/kesta_format.hpp"
#include "formats/special_files_test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/drawing.hpp"

namespace kesta {
namespace {

using testing::file_contents;

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A little-endian 16-bit TIFF of NX x NY pixels in one strip: pixel (x, y)
// (from 0, rows from the top) holds BASE + x + 10 y. STRIP_AT moves the strip
// (a damaged file: past its end).
std::string tiff_bytes(int nx, int ny, int base, std::uint32_t strip_at = 0) {
  std::string out;
  auto u16 = [&](unsigned v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xffff);
    u16(v >> 16);
  };
  const std::uint32_t data_at = 8 + 2 + 6 * 12 + 4;
  out = "II";
  u16(42);
  u32(8);
  u16(6);
  auto entry = [&](unsigned tag, unsigned type, std::uint32_t value) {
    u16(tag);
    u16(type);
    u32(1);
    if (type == 3) {
      u16(value);
      u16(0);
    } else {
      u32(value);
    }
  };
  entry(256, 3, nx);
  entry(257, 3, ny);
  entry(258, 3, 16);
  entry(259, 3, 1);
  entry(273, 4, strip_at != 0 ? strip_at : data_at);
  entry(278, 4, ny);
  u32(0);
  for (int y = 0; y < ny; ++y)
    for (int x = 0; x < nx; ++x) u16(static_cast<unsigned>(base + x + 10 * y));
  return out;
}

// The extension table: the format found and the file then read.
TEST(FormatByExtension, EveryRowInBothCases) {
  testing::TempDir dir;
  testing::TerminalCapture quiet;
  const std::string brace(1024, '{');
  std::string bruker = "FORMAT :        86";
  bruker.resize(80, ' ');
  struct Row {
    std::string extension, format;
  };
  const Row plain[] = {{"_dk", "BRUKER"},        {"_ff", "BRUKER"},     {"gel", "IMAGEQUANT"},
                       {"bin", "BINARY"},        {"cor", "BINARY"},     {"cor2", "BINARY"},
                       {"corr", "BINARY"},       {"final", "BINARY"},   {"bsl", "BSL/OTOKO"},
                       {"mvd", "MERVODA"},       {"image", "MAR FORMAT"},
                       {"mar1200", "MAR FORMAT"}, {"mar1600", "MAR FORMAT"},
                       {"mar2000", "MAR FORMAT"}, {"mar2300", "MAR FORMAT"},
                       {"mar3450", "MAR FORMAT"}, {"inf", "FUJI BAS-2000"},
                       {"kzt", "KESTA STANDARD FORMAT"}, {"osc", "RIGAKU R-AXIS"},
                       {"pck", "MAR-PCK"},       {"pmi", "PHOTOMETRICS CCD FORMAT"},
                       {"spe", "PRINCETON CCD FORMAT"}, {"tif", "TIFF"},
                       {"tiff", "TIFF"},         {"mccd", "TIFF"},      {"xyz", ""}};
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  Status s = kStatusGood;
  for (const Row& r : plain)
    for (const std::string& e : {r.extension, upper(r.extension)}) {
      std::string name = dir.file("a." + e);
      EXPECT_EQ(fio_format_by_extension(name, s), r.format) << e;
      EXPECT_EQ(name, dir.file("a." + e));
    }

  // Rows that look at the file or the files beside it: the files present,
  // the name asked, the format and the name then read.
  struct Content {
    std::vector<std::pair<std::string, std::string>> files;
    std::string name, format, reads;
  };
  const Content content[] = {
      {{{"run12", "h"}, {"run12hm", "d"}}, "run12", "GAS 2-D DETECTOR (OZWA)", "run12"},
      {{{"run12", "h"}, {"run12hm", "d"}}, "run12hm", "GAS 2-D DETECTOR (OZWA)", "run12"},
      {{{"lone", "h"}}, "lone", "", "lone"},
      {{{"frame.001", bruker}}, "frame.001", "BRUKER", "frame.001"},
      {{{"other.002", std::string(80, 'x')}}, "other.002", "", "other.002"},
      {{{"data.wlt", brace}}, "data.wlt", "TULMA", "data.wlt"},
      {{{"data.WLT", "x"}}, "data.WLT", "BINARY", "data.WLT"},
      {{{"d.bin", "x"}, {"d.bin.info", "x"}}, "d.bin.info", "BINARY", "d.bin"},
      {{{"e.bin.INFO", "x"}}, "e.bin.INFO", "", "e.bin.INFO"},
      {{{"p.img", "x"}, {"p.inf", "x"}}, "p.img", "FUJI BAS-2000", "p.inf"},
      {{{"image.IMG", "x"}, {"image.INF", "x"}}, "image.IMG", "FUJI BAS-2000", "image.INF"},
      {{{"q.img", brace}}, "q.img", "ADSC", "q.img"},
      {{{"r.IMG", std::string(1024, 'x')}}, "r.IMG", "HAMAMATSU PHOTONICS", "r.IMG"},
  };
  for (const Content& c : content) {
    testing::TempDir here;
    for (const auto& [file, bytes] : c.files) write_bytes(here.file(file), bytes);
    std::string name = here.file(c.name);
    EXPECT_EQ(fio_format_by_extension(name, s), c.format) << c.name;
    EXPECT_EQ(name, here.file(c.reads)) << c.name;
  }
  EXPECT_EQ(s, kStatusGood);
}

struct DataSet {
  Index xmax = 8, ymax = 6;
  std::vector<float> data = std::vector<float>(48, -1.0f), variances, xaxis = std::vector<float>(8),
                     yaxis = std::vector<float>(6);
  std::string title = "before", xlabel, ylabel, zlabel;
  float xps = 1.0f, yps = 1.0f;
  Index xnum = 1, ynum = 1;
  bool variances_exist = false;
  ImageTarget target() {
    return ImageTarget{xmax, ymax, variances_exist, xnum, ynum, xaxis, yaxis, data, variances,
                       title, xlabel, ylabel, zlabel, xps, yps};
  }
};

// The graphical input in a window of the test's X server, its answers
// replayed from an input macro.
class GuiInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X server (DISPLAY not set)";
    testing::reset_dialogue();
    io_clear_database();
    fio_reset_format_menus();
    const char* argv[] = {"kesta"};
    io_set_args(1, argv);
    gs_state = GsState{};
    GS_OPEN_GRAPHICS(s_);
    ASSERT_EQ(s_, kStatusGood);
    open_ = true;
    log_ = dir_.file("session.log");
    IO_OPEN_LOGFILE(false, log_, s_);
    ASSERT_EQ(s_, kStatusGood);
  }
  void TearDown() override {
    Status local = kStatusGood;
    if (vosq_io_dbdb.log_open) IO_CLOSE_LOGFILE(local);
    if (open_) GS_CLOSE_GRAPHICS(local);
    io_clear_database();
    fio_reset_format_menus();
    testing::reset_dialogue();
  }
  // The answers of the next questions (a macro stays open until a question
  // finds it at its end, so that warning boxes never wait for a click).
  void replay(const std::string& lines) {
    IO_CLOSE_INMACRO(s_);
    std::string name = dir_.file("answers.mac");
    write_bytes(name, lines);
    IO_OPEN_INMACRO(false, name, s_);
    ASSERT_EQ(s_, kStatusGood);
  }
  bool input(int sequence) {
    bool defined = false;
    FIO_GUI_INPUT({"INPUT FILE"}, sequence, d_.target(), defined, file_, s_);
    return defined;
  }
  std::string key(const std::string& k) {
    int length = 0, retstat = 0;
    std::string value;
    IO_INQ_KEYVALUE(k, length, value, retstat, s_);
    return retstat == 0 ? value.substr(0, static_cast<std::size_t>(length)) : "<absent>";
  }
  // The warning boxes shown since the last call, as the log records them.
  std::string warnings() {
    const std::string all = file_contents(log_);
    std::string out;
    for (std::size_t at = all.find("WARNING: GUI WARNING MESSAGE", seen_);
         at != std::string::npos; at = all.find("WARNING: GUI WARNING MESSAGE", at + 1)) {
      const std::size_t end = all.find("WARNING: END OF GUI WARNING MESSAGE", at);
      out += all.substr(at + 29, end - at - 29);
    }
    seen_ = all.size();
    return out;
  }
  float pixel(Index x, Index y) const { return d_.data[element(x, y, d_.xmax)]; }

  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  std::string log_, file_;
  std::size_t seen_ = 0;
  bool open_ = false;
  testing::Watchdog watchdog_{120};
  DataSet d_;
  Status s_ = kStatusGood;
};

TEST_F(GuiInput, SeriesStepsOverAGapAndTheGivenName) {
  for (int n : {5, 6, 8}) write_bytes(dir_.file("scan_00" + std::to_string(n) + ".tif"), tiff_bytes(4, 3, 100 * n));
  // Before any input there is no series to step in.
  file_ = dir_.file("scan_005.tif");
  replay("");
  EXPECT_FALSE(input(kFioNextFile));
  EXPECT_EQ(warnings(), "CAN'T INPUT ANOTHER FILE IN AN UNDEFINED SEQUENCE\n");
  EXPECT_EQ(pixel(1, 1), -1.0f);

  // The chosen file, then each step: the region form is answered each time.
  replay(dir_.file("scan_005.tif") + "\nO.K.\nO.K.\nO.K.\nO.K.\nO.K.\n");
  ASSERT_TRUE(input(kFioSelectFile));
  EXPECT_EQ(s_, kStatusGood);
  EXPECT_EQ(d_.xnum, 4);
  EXPECT_EQ(d_.ynum, 3);
  EXPECT_EQ(pixel(1, 3), 500.0f);  // the file's first row is the top
  EXPECT_EQ(pixel(4, 1), 523.0f);
  EXPECT_EQ(key("#INPUT_FORMAT"), "TIFF");
  EXPECT_EQ(key("#OVERLOAD_VALUE"), "65334.50");

  struct Step {
    int sequence;
    std::string file;
    float top_left;  // -1: not found, the data as they were
  };
  const Step steps[] = {{kFioNextFile, "scan_006.tif", 600.0f},
                        {kFioNextFile, "scan_007.tif", -1.0f},
                        {kFioNextFile, "scan_008.tif", 800.0f},
                        {kFioPreviousFile, "scan_007.tif", -1.0f},
                        {kFioPreviousFile, "scan_006.tif", 600.0f}};
  float shown = 500.0f;
  for (const Step& step : steps) {
    const bool read = input(step.sequence);
    EXPECT_EQ(s_, kStatusGood) << step.file;
    EXPECT_EQ(file_, dir_.file(step.file));
    EXPECT_EQ(read, step.top_left > 0) << step.file;
    if (step.top_left > 0) {
      shown = step.top_left;
      EXPECT_EQ(warnings(), "") << step.file;
    } else {
      EXPECT_EQ(warnings(), "FAILED TO FIND NEW \"SEQUENCE\" FILE:\n" + dir_.file(step.file) + "\n");
      // Said at the terminal too: the box a macro ending here leaves up is
      // not all that tells why.
      EXPECT_NE(terminal_.text().find("WARNING: FAILED TO FIND NEW \"SEQUENCE\" FILE: " +
                                      dir_.file(step.file) + "\n"),
                std::string::npos)
          << step.file;
      // A failed input ends the macro that answers: the rest is replayed anew.
      EXPECT_FALSE(vosq_io_dbdb.input_macro) << step.file;
      replay("O.K.\nO.K.\nO.K.\nO.K.\n");
    }
    EXPECT_EQ(pixel(1, 3), shown) << step.file;
  }

  // In a folder of a long name the missing file is still named, the box's
  // line keeping the name's end.
  const std::string deep = dir_.file(std::string(90, 'd'));
  std::filesystem::create_directory(deep);
  write_bytes(deep + "/scan_001.tif", tiff_bytes(4, 3, 100));
  replay(deep + "/scan_001.tif\nO.K.\nO.K.\nO.K.\nO.K.\nO.K.\n");
  ASSERT_TRUE(input(kFioSelectFile));
  EXPECT_FALSE(input(kFioNextFile));
  EXPECT_NE(terminal_.text().find(std::string(60, 'd') + "/scan_002.tif\n"), std::string::npos)
      << terminal_.text();

  // The given name is read in the format used last, whatever its extension.
  write_bytes(dir_.file("copy.dat"), tiff_bytes(2, 2, 900));
  file_ = dir_.file("copy.dat");
  replay("O.K.\n");
  ASSERT_TRUE(input(kFioGivenName));
  EXPECT_EQ(d_.xnum, 2);
  EXPECT_EQ(pixel(1, 2), 900.0f);
}

// Once a series runs, its members are read with the answers its first member
// was read with: no question, no warning box, and a member of another size
// is refused without changing what later reads are offered.
TEST_F(GuiInput, SeriesMembersTakeTheFirstMembersAnswers) {
  const int sizes[] = {4, 3, 4, 4};
  for (int n = 1; n <= 4; ++n)
    write_bytes(dir_.file("run_00" + std::to_string(n) + ".tif"),
                tiff_bytes(sizes[n - 1], 3, 100 * n));
  // The first member's region: columns 2 to 4, every row.
  replay(dir_.file("run_001.tif") +
         "\nX-START\n2\nY-START\n1\nX-END\n4\nY-END\n3\nX RE-BIN\n1\nY RE-BIN\n1\nO.K.\n");
  ASSERT_TRUE(input(kFioSelectFile));
  ASSERT_EQ(d_.xnum, 3);
  {
    const FioSeriesMembers members(fio_read_answers());
    replay("");
    testing::ScriptedInput nothing({});
    EXPECT_FALSE(input(kFioNextFile));
    EXPECT_EQ(file_, dir_.file("run_002.tif"));
    EXPECT_NE(terminal_.text().find("WARNING: File not the size of the first file: " + file_),
              std::string::npos);
    EXPECT_EQ(pixel(1, 3), 101.0f) << "the data as they were";
    EXPECT_TRUE(input(kFioNextFile));
    EXPECT_EQ(d_.xnum, 3);
    EXPECT_EQ(pixel(1, 1), 321.0f);
    EXPECT_EQ(pixel(3, 1), 323.0f);
    EXPECT_EQ(warnings(), "");
    EXPECT_TRUE(nothing.prompts.empty());
    EXPECT_EQ(s_, kStatusGood);
  }
  // Outside the series the form is asked again, offering the first region.
  replay("O.K.\n");
  ASSERT_TRUE(input(kFioNextFile));
  EXPECT_EQ(d_.xnum, 3);
  EXPECT_EQ(pixel(3, 1), 423.0f);
  // (The whole width again, as the other tests expect to be offered.)
  replay("X-START\n1\nO.K.\n");
  ASSERT_TRUE(input(kFioGivenName));
  EXPECT_EQ(d_.xnum, 4);
}

// A member is compared with the first by the size of the image in its file,
// whatever the arrays kept of it: a native member larger than the arrays is
// refused, not cut to the first one's size, as is a smaller one, and its
// reader's lines are not shown; a BINARY member takes the first one's layout
// unless its own ".info" file gives another size. A member that is not there
// is said in one line naming it.
TEST_F(GuiInput, SeriesMembersAreComparedByTheSizeInTheirFile) {
  auto native = [&](const std::string& name, Index nx, Index ny) {
    std::vector<float> data(static_cast<std::size_t>(nx * ny), static_cast<float>(nx * ny)),
        xaxis(static_cast<std::size_t>(nx)), yaxis(static_cast<std::size_t>(ny));
    replay(dir_.file(name) + "\n");
    int retstat = 1;
    FIO_OUT_KESTA(false, "", nx, ny, 1, 1, nx, ny, xaxis, yaxis, data, {}, "t", "x", "y", "z",
                  false, 1e-4f, 1e-4f, retstat, s_);
    ASSERT_EQ(retstat, 0);
  };
  auto binary = [&](const std::string& name, int nx, int info_nx) {
    write_bytes(dir_.file(name), std::string(static_cast<std::size_t>(2 * nx * 3), '\1'));
    if (info_nx > 0)
      write_bytes(dir_.file(name + ".info"),
                  "Name of binary file containing image data = " + name +
                      "\nNumber of pixels (horizontal/vertical) = " + std::to_string(info_nx) +
                      " 3\nInteger data: Number of bytes per pixel =  2 (unsigned)\n"
                      "The data has been written in \"little endian\" format.\n"
                      "Nominal horizontal pixel size = 50.0 (microns)\n"
                      "Nominal vertical pixel size = 50.0 (microns)\n");
  };
  // The arrays are 8 x 6 pixels; the native members hold their pixel count.
  native("a_001.kzt", 8, 6);
  native("a_002.kzt", 10, 6);
  native("a_003.kzt", 8, 5);
  native("a_004.kzt", 8, 6);
  native("b_001.kzt", 10, 7);
  native("b_002.kzt", 10, 7);
  native("b_003.kzt", 8, 6);
  binary("c_001.bin", 4, 0);
  binary("c_002.bin", 4, 0);
  binary("c_003.bin", 5, 5);
  binary("c_004.bin", 4, 4);
  write_bytes(dir_.file("t_001.tif"), tiff_bytes(4, 3, 100));
  struct Member {
    std::string name;
    float value;  // pixel (1, 1) once read; 0: not read
  };
  struct Series {
    std::string first, answers;
    std::vector<Member> later;
  };
  const Series series[] = {
      {"a_001.kzt", "", {{"a_002.kzt", 0}, {"a_003.kzt", 0}, {"a_004.kzt", 48}}},
      {"b_001.kzt", "", {{"b_002.kzt", 70}, {"b_003.kzt", 0}}},
      {"c_001.bin",
       "X-PIXELS\n4\nY-PIXELS\n3\nO.K.\n",
       {{"c_002.bin", 257}, {"c_003.bin", 0}, {"c_004.bin", 257}, {"c_005.bin", 0}}},
      {"t_001.tif", "O.K.\n", {{"t_002.tif", 0}}},
  };
  for (const Series& one : series) {
    replay(dir_.file(one.first) + "\n" + one.answers);
    ASSERT_TRUE(input(kFioSelectFile)) << one.first << terminal_.text();
    const float first = pixel(1, 1);
    const FioSeriesMembers members(fio_read_answers());
    replay("");
    testing::ScriptedInput nothing({});
    for (const Member& m : one.later) {
      file_ = dir_.file(m.name);
      const std::size_t before = terminal_.text().size();
      const float shown = pixel(1, 1);
      EXPECT_EQ(input(kFioGivenName), m.value != 0) << m.name << terminal_.text();
      const std::string said = terminal_.text().substr(before);
      if (m.value != 0) {
        EXPECT_EQ(pixel(1, 1), m.value) << m.name;
        EXPECT_EQ(said.find("size of the first"), std::string::npos) << m.name << said;
        EXPECT_EQ(said.find("No '.info'"), std::string::npos) << m.name << said;
        continue;
      }
      EXPECT_EQ(pixel(1, 1), shown) << m.name << ": the data as they were";
      std::size_t lines = 0;
      for (std::size_t at = said.find("WARNING"); at != std::string::npos;
           at = said.find("WARNING", at + 1))
        ++lines;
      EXPECT_EQ(lines, 1u) << m.name << said;
      if (std::filesystem::exists(file_)) {
        EXPECT_TRUE(said.ends_with("WARNING: File not the size of the first file: " + file_ + "\n"))
            << m.name << said;
      } else {
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << m.name << said;
        EXPECT_NE(said.find(file_), std::string::npos) << m.name << said;
      }
    }
    EXPECT_NE(first, 0.0f);
    EXPECT_TRUE(nothing.prompts.empty()) << one.first;
    EXPECT_EQ(warnings(), "") << one.first;
    EXPECT_EQ(s_, kStatusGood);
  }

  // Every format a series reads: the arrays' size first, then members one
  // column wider and one row taller than the arrays (cut, they would pass for
  // the first one's size), then the first one's size again. A 1-D scan is
  // one point longer.
  struct Format {
    std::string stem, extension, answers;
    std::function<void(const std::string& name, int nx, int ny)> write;
  };
  auto le = [](std::string& out, std::uint64_t v, int n, bool big = false) {
    for (int k = 0; k < n; ++k)
      out.push_back(static_cast<char>(v >> (8 * (big ? n - 1 - k : k))));
  };
  auto at = [](std::string& out, std::size_t where, std::uint64_t v, int n, bool big = false) {
    for (int k = 0; k < n; ++k)
      out[where + static_cast<std::size_t>(k)] =
          static_cast<char>(v >> (8 * (big ? n - 1 - k : k)));
  };
  auto shorts = [](int count) { return std::string(static_cast<std::size_t>(2 * count), '\3'); };
  auto file = [&](const std::string& name, const std::string& bytes) {
    write_bytes(dir_.file(name), bytes);
  };
  auto braces = [](std::string items, std::size_t size) {
    std::string out = "{\n" + items;
    out.resize(size - 2, ' ');
    return out + "}\n";
  };
  const std::string order = IO_BIG_ENDIAN() ? "HighByteFirst" : "LowByteFirst";
  const std::string whole = "X-START\n1\nY-START\n1\nX-END\n8\nY-END\n6\nO.K.\n";
  const std::vector<Format> formats = {
      {"adsc", "img", "", [&](const std::string& n, int nx, int ny) {
         std::string out = "{\nHEADER_BYTES= 1024;\nSIZE1=" + std::to_string(nx) + ";\nSIZE2=" +
                           std::to_string(ny) + ";\nDIM=2;\n}\n";
         out.resize(1024, ' ');
         file(n, out + shorts(nx * ny));
       }},
      {"bin", "bin", "X-PIXELS\n8\nY-PIXELS\n6\nO.K.\n", [&](const std::string& n, int nx, int ny) {
         file(n, shorts(nx * ny));
         if (nx != 8 || ny != 6)
           file(n + ".info", "Name of binary file containing image data = " + n +
                                 "\nNumber of pixels (horizontal/vertical) = " +
                                 std::to_string(nx) + " " + std::to_string(ny) +
                                 "\nInteger data: Number of bytes per pixel =  2 (unsigned)\n"
                                 "The data has been written in \"little endian\" format.\n");
       }},
      {"bruker", "001", "", [&](const std::string& n, int nx, int ny) {
         std::string out;
         for (const auto& [key, value] :
              std::vector<std::pair<std::string, std::string>>{{"FORMAT", "86"}, {"HDRBLKS", "5"},
                   {"NOVERFL", "0"}, {"NPIXELB", "2"}, {"NROWS", std::to_string(ny)},
                   {"NCOLS", std::to_string(nx)}}) {
           std::string line = key;
           line.resize(7, ' ');
           line += ":" + value;
           line.resize(80, ' ');
           out += line;
         }
         out += '\x1a';
         out.resize(5 * 512, ' ');
         file(n, out + shorts(nx * ny));
       }},
      {"bsl", "bsl", "", [&](const std::string& n, int nx, int ny) {
         char numbers[81];
         std::snprintf(numbers, sizeof numbers, "%8d%8d%8d%8d%8d%8d%8d%8d%8d%8d", nx, ny, 1,
                       IO_BIG_ENDIAN() ? 0 : 1, 0, 0, 0, 0, 0, 0);
         file(n, "title\n \n" + std::string(numbers) + "\nd" + n + "\n");
         file("d" + n, std::string(static_cast<std::size_t>(4 * nx * ny), '\0'));
       }},
      {"curve", "mvd", "", [&](const std::string& n, int nx, int) {
         std::string out = "title\nx\nz\n" + std::to_string(nx) + "\n";
         for (int k = 0; k < nx; ++k) out += std::to_string(k) + " 5\n";
         file(n, out);
       }},
      {"fuji", "inf", "", [&](const std::string& n, int nx, int ny) {
         file(n, "BAS2000\nplate\n\n\n100\n  100 um\n16\n" + std::to_string(nx) + "\n" +
                     std::to_string(ny) + "\n4000\n4\n");
         file(n.substr(0, n.size() - 3) + "img", shorts(nx * ny));
       }},
      {"ham", "img", "", [&](const std::string& n, int nx, int ny) {
         std::string out(64, '\0');
         out[0] = 'I';
         out[1] = 'M';
         at(out, 4, static_cast<std::uint64_t>(nx), 2);
         at(out, 6, static_cast<std::uint64_t>(ny), 2);
         at(out, 12, 2, 2);
         file(n, out + shorts(std::max(nx * ny, 64)));
       }},
      {"gel", "gel", whole, [&](const std::string& n, int nx, int ny) {
         file(n, tiff_bytes(nx, ny, 100));
       }},
      {"tulma", "wlt", "", [&](const std::string& n, int nx, int ny) {
         file(n, braces("HeaderID = EH:000001:000000:000000;\nImage = 1;\nByteOrder = " + order +
                            ";\nDataType = FLOAT;\nDim_1 = " + std::to_string(nx) +
                            ";\nDim_2 = " + std::to_string(ny) + ";\n",
                        1024) +
                     std::string(static_cast<std::size_t>(4 * nx * ny), '\0'));
       }},
      {"mar", "image", "", [&](const std::string& n, int nx, int ny) {
         std::string out;
         for (std::int64_t v : {1234, nx, 0, 0, 0, nx * ny, 100, 150, 1541800, 250000, 1000, 2000})
           le(out, static_cast<std::uint64_t>(v), 4);
         out.resize(4096, '\0');
         file(n, out + shorts(nx * ny));
       }},
      {"pck", "pck", "", [&](const std::string& n, int nx, int ny) {
         std::string out;
         for (std::int64_t v : {1234, nx, 0, 1, 0, nx * ny, 100, 150, 1541800, 250000, 1000, 2000})
           le(out, static_cast<std::uint64_t>(v), 4);
         out.resize(4096, '\0');
         char line[64];
         std::snprintf(line, sizeof line, "CCP4 packed image, X: %04d, Y: %04d\n", nx, ny);
         out += line;
         // Blocks of two zero residuals, twelve pixels a repeat.
         for (int k = 0; k < nx * ny; k += 12) out += std::string("\x41\x10\x04\x41\x10\x04", 6);
         file(n, out);
       }},
      {"pmi", "pmi", "", [&](const std::string& n, int nx, int ny) {
         std::string out(172, '\0');
         at(out, 4, 172, 2);
         at(out, 12, static_cast<std::uint64_t>(nx), 2);
         at(out, 14, static_cast<std::uint64_t>(ny), 2);
         at(out, 170, 1, 2);
         file(n, out + shorts(nx * ny));
       }},
      {"spe", "spe", "", [&](const std::string& n, int nx, int ny) {
         std::string out(4100, '\0');
         at(out, 42, static_cast<std::uint64_t>(nx), 2);
         at(out, 108, 3, 2);
         at(out, 656, static_cast<std::uint64_t>(ny), 2);
         at(out, 1446, 1, 4);
         file(n, out + shorts(nx * ny));
       }},
      {"osc", "osc", "", [&](const std::string& n, int nx, int ny) {
         std::string out(2048, '\0');
         at(out, 768, static_cast<std::uint64_t>(nx), 4, true);
         at(out, 772, static_cast<std::uint64_t>(ny), 4, true);
         at(out, 784, 2048, 4, true);
         at(out, 800, 0x41000000, 4, true);
         file(n, out + shorts(nx * ny));
       }},
      {"tiff", "tif", whole, [&](const std::string& n, int nx, int ny) {
         file(n, tiff_bytes(nx, ny, 100));
       }},
      {"gas", "", "NO\nNO\nNO\n", [&](const std::string& n, int nx, int ny) {
         file(n, "run\n-1\nsection\n3\n16\n" + std::to_string(nx) + "\n" + std::to_string(ny) +
                     "\n1\n-1\n");
         file(n + "hm", shorts(nx * ny));
       }},
  };
  for (const Format& f : formats) {
    const bool scan = f.extension == "mvd";
    auto name = [&](int k) {
      return f.stem + "_00" + std::to_string(k) + (f.extension.empty() ? "" : "." + f.extension);
    };
    f.write(name(1), 8, 6);
    f.write(name(2), 9, 6);
    f.write(name(3), 8, scan ? 6 : 7);
    f.write(name(4), 8, 6);
    if (scan) f.write(name(3), 9, 1);
    replay(dir_.file(name(1)) + "\n" + f.answers);
    ASSERT_TRUE(input(kFioSelectFile)) << name(1) << terminal_.text();
    ASSERT_EQ(d_.xnum, 8) << name(1);
    const FioSeriesMembers members(fio_read_answers());
    replay("");
    testing::ScriptedInput nothing({});
    for (int k = 2; k <= 4; ++k) {
      file_ = dir_.file(name(k));
      d_.data[0] = -5.0f;
      const std::size_t before = terminal_.text().size();
      EXPECT_EQ(input(kFioGivenName), k == 4) << name(k) << terminal_.text().substr(before);
      if (k == 4) continue;
      const std::string said = terminal_.text().substr(before);
      EXPECT_EQ(d_.data[0], -5.0f) << name(k) << ": the data as they were";
      // The gas detector's reader refuses any image larger than the arrays.
      if (f.stem != "gas") {
        EXPECT_TRUE(said.ends_with("WARNING: File not the size of the first file: " + file_ + "\n"))
            << name(k) << said;
      }
      EXPECT_EQ(said.find("bigger than the presently defined"), std::string::npos)
          << name(k) << said;
    }
    EXPECT_TRUE(nothing.prompts.empty()) << name(1);
    EXPECT_EQ(warnings(), "") << name(1);
    EXPECT_EQ(s_, kStatusGood) << name(1);
  }

  // A first member whose size is not known leaves nothing to compare with:
  // members are refused, unless the series takes members of any size.
  FioReadAnswers unknown = fio_read_answers();
  unknown.size = {};
  for (const bool any : {false, true}) {
    unknown.any_size = any;
    const FioSeriesMembers members(unknown);
    file_ = dir_.file("gas_004");  // in the format read last
    d_.data[0] = -5.0f;
    const std::size_t before = terminal_.text().size();
    EXPECT_EQ(input(kFioGivenName), any) << terminal_.text().substr(before);
    EXPECT_EQ(terminal_.text().find("it cannot be compared with the first file", before) !=
                  std::string::npos,
              !any);
  }
  EXPECT_EQ(s_, kStatusGood);
}

// The step of a scan is no detector pixel size: the scan takes it as its own
// X size, and the stored detector size where its file gives none, never the
// data set's before; the stored sizes stay as they were.
TEST_F(GuiInput, ScanKeepsItsStepAndStoresNoSize) {
  write_bytes(dir_.file("curve.mvd"), "title\nx\nz\n3\n1.0 4\n1.05 5\n1.1 6\n");
  int stored = 1;
  IO_SET_RKEYVALUE("X_PIXEL_SIZE", 7.5e-5f, stored, s_);
  IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 6.5e-5f, stored, s_);
  d_.xps = 1.0e-4f;
  d_.yps = 2.0e-4f;
  replay(dir_.file("curve.mvd") + "\n");
  ASSERT_TRUE(input(kFioSelectFile)) << terminal_.text();
  EXPECT_EQ(d_.xnum, 3);
  EXPECT_EQ(pixel(2, 1), 5.0f);
  EXPECT_NEAR(d_.xps, 0.05f, 1e-6f);
  EXPECT_FLOAT_EQ(d_.yps, 6.5e-5f);
  float xps = 0, yps = 0;
  int retstat = 1;
  IO_INQ_RKEYVALUE("X_PIXEL_SIZE", xps, retstat, s_);
  EXPECT_EQ(retstat, 0);
  IO_INQ_RKEYVALUE("Y_PIXEL_SIZE", yps, retstat, s_);
  EXPECT_FLOAT_EQ(xps, 7.5e-5f);
  EXPECT_FLOAT_EQ(yps, 6.5e-5f);
  EXPECT_EQ(s_, kStatusGood);
}

// A scan saved in the native format carries its bin widths as pixel sizes,
// and a TIFF image none, nor a BINARY one without its ".info" file (the
// reader's default of 100 microns): the scan keeps its widths, the images
// take the stored detector sizes (never the data set's before, 3.0
// here), and the database keeps the detector's after each read.
TEST_F(GuiInput, OnlyPixelSizesOfADetectorFileAreStored) {
  const std::vector<float> row{1, 2, 3, 4, 5}, axis{0.5f, 1.5f, 2.5f, 3.5f, 4.5f}, y{0.5f};
  replay(dir_.file("scan.kzt") + "\n");
  int retstat = 1;
  FIO_OUT_KESTA(false, "", 5, 1, 1, 1, 5, 1, axis, y, row, {}, "t", "x", "y", "z", false,
                2.9089e-3f, 360.0f, retstat, s_);
  ASSERT_EQ(retstat, 0);
  write_bytes(dir_.file("frame.tif"), tiff_bytes(4, 3, 100));
  write_bytes(dir_.file("frame.bin"), std::string(24, '\1'));
  // A header whose sizes no detector has: the image keeps them, the
  // database does not.
  const std::vector<float> image(12, 1.0f), xaxis{0.5f, 1.5f, 2.5f, 3.5f},
      yaxis{0.5f, 1.5f, 2.5f};
  replay(dir_.file("odd.kzt") + "\n");
  FIO_OUT_KESTA(false, "", 4, 3, 1, 1, 4, 3, xaxis, yaxis, image, {}, "t", "x", "y", "z", false,
                1e-20f, 1e-20f, retstat, s_);
  ASSERT_EQ(retstat, 0);
  for (const auto& [name, lines, xps] :
       {std::tuple{"scan.kzt", "", 2.9089e-3f}, std::tuple{"frame.tif", "O.K.\n", 7.5e-5f},
        std::tuple{"frame.bin", "X-PIXELS\n4\nY-PIXELS\n3\nO.K.\n", 7.5e-5f},
        std::tuple{"odd.kzt", "", 1e-20f}}) {
    int stored = 1;
    IO_SET_RKEYVALUE("X_PIXEL_SIZE", 7.5e-5f, stored, s_);
    IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 6.5e-5f, stored, s_);
    d_.xps = d_.yps = 3.0f;
    replay(dir_.file(name) + "\n" + lines);
    ASSERT_TRUE(input(kFioSelectFile)) << terminal_.text();
    EXPECT_FLOAT_EQ(d_.xps, xps) << name;
    float x = 0, yps = 0;
    IO_INQ_RKEYVALUE("X_PIXEL_SIZE", x, retstat, s_);
    IO_INQ_RKEYVALUE("Y_PIXEL_SIZE", yps, retstat, s_);
    EXPECT_EQ(retstat, 0);
    EXPECT_FLOAT_EQ(x, 7.5e-5f) << name;
    EXPECT_FLOAT_EQ(yps, 6.5e-5f) << name;
  }
  EXPECT_EQ(s_, kStatusGood);
}

// The other readers that ask take the first member's answers as well: a
// BINARY member is read with the first one's layout, a gas detector member
// with its header, frame, byte order and sign (one that fails says why on the
// terminal instead of in a box), a BSL/OTOKO member with its image number.
// A header read to ask the questions is not read again: each read describes
// the file once.
TEST_F(GuiInput, SeriesMembersOfOtherAskingFormatsAskNothing) {
  for (int n = 1; n <= 2; ++n) {
    std::string raw;
    for (int v = 0; v < 12; ++v) raw += {static_cast<char>(10 * n + v), 0};
    write_bytes(dir_.file("d_00" + std::to_string(n) + ".bin"), raw);
  }
  std::string frames(512, '\0');
  for (int v = 1; v <= 12; ++v) frames += {static_cast<char>(v >> 8), static_cast<char>(v & 255)};
  for (const char* name : {"run7", "run8"}) {
    write_bytes(dir_.file(name), "run\n-1\nsection\n3\n16\n3\n2\n2\n-1\n");
    write_bytes(dir_.file(std::string(name) + "hm"), frames);
  }
  write_bytes(dir_.file("run9"), "r\n-1\nx\n3\n16\n30\n2\n1\n");
  write_bytes(dir_.file("run9hm"), frames);
  // BSL/OTOKO pairs of two 4 x 3 images of reals, image F of member N
  // holding 1000 N + F first.
  for (int n = 1; n <= 2; ++n) {
    const std::string data = "m0" + std::to_string(n) + "001.bsl";
    char numbers[81];
    std::snprintf(numbers, sizeof numbers, "%8d%8d%8d%8d%8d%8d%8d%8d%8d%8d", 4, 3, 2,
                  IO_BIG_ENDIAN() ? 0 : 1, 0, 0, 0, 0, 0, 0);
    write_bytes(dir_.file("m0" + std::to_string(n) + "000.bsl"),
                "title\n \n" + std::string(numbers) + "\n" + data + "\n");
    std::vector<float> reals(24, 0.0f);
    reals[0] = 1000.0f * n + 1;
    reals[12] = 1000.0f * n + 2;
    write_bytes(dir_.file(data), std::string(reinterpret_cast<const char*>(reals.data()), 96));
  }
  struct Series {
    std::string first, answers, later;
    std::string described;  // the line that describes the file, once a read
  };
  const Series series[] = {
      {"d_001.bin", "X-PIXELS\n4\nY-PIXELS\n3\nO.K.\n", "d_002.bin", ""},
      {"run7", "YES\n2\nYES\nNO\n", "run8", "INFO: The file contains    2 images (frames)"},
      {"m01000.bsl", "2\n", "m02000.bsl", "INFO: Data-set (\"memory\") 1 contains"},
  };
  // How often ONE's description was said since the last call.
  std::size_t said_from = 0;
  const auto described = [&](const Series& one) {
    const std::string out = terminal_.text();
    int times = 0;
    for (std::size_t at = out.find(one.described, said_from); at != std::string::npos;
         at = out.find(one.described, at + 1))
      ++times;
    said_from = out.size();
    return one.described.empty() ? 1 : times;
  };
  for (const Series& one : series) {
    replay(dir_.file(one.first) + "\n" + one.answers);
    described(one);
    ASSERT_TRUE(input(kFioSelectFile)) << one.first;
    EXPECT_EQ(described(one), 1) << one.first << terminal_.text();
    d_.data[0] = -5.0f;
    warnings();
    const FioSeriesMembers members(fio_read_answers());
    replay("");
    testing::ScriptedInput nothing({});
    file_ = dir_.file(one.later);
    EXPECT_TRUE(input(kFioGivenName)) << one.later << terminal_.text();
    EXPECT_EQ(described(one), 1) << one.later << terminal_.text();
    if (one.first == "run7") {
      EXPECT_EQ(pixel(1, 1), 7.0f);  // frame 2, swapped
      file_ = dir_.file("run9");
      EXPECT_FALSE(input(kFioGivenName));
      EXPECT_EQ(pixel(1, 1), 7.0f) << "the data as they were";
      EXPECT_NE(terminal_.text().find("WARNING: IMAGE TOO BIG FOR PROGRAMS ARRAYS"),
                std::string::npos);
    } else if (one.first == "m01000.bsl") {
      EXPECT_EQ(d_.data[0] + d_.data[d_.xmax * 2], 2002.0f) << "image 2, whichever row is first";
    } else {
      EXPECT_EQ(d_.xnum, 4);
      EXPECT_EQ(pixel(4, 3), 31.0f);
    }
    EXPECT_TRUE(nothing.prompts.empty()) << one.later;
    EXPECT_EQ(warnings(), "") << one.later;
    EXPECT_EQ(s_, kStatusGood);
  }
}

// The block-wise road reads in the format read last, as the given name does.
TEST_F(GuiInput, RowsRoadFollowsTheFormatReadLast) {
  write_bytes(dir_.file("scan.tif"), tiff_bytes(4, 3, 100));
  std::vector<float> data(12), xaxis(4), yaxis(3);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i);
  for (const char* name : {"a.kzt", "b.kzt"}) {
    replay(dir_.file(name) + "\n");
    int retstat = 1;
    FIO_OUT_KESTA(false, "", 4, 3, 1, 1, 4, 3, xaxis, yaxis, data, {}, "t", "x", "y", "z", false,
                  2e-4f, 3e-4f, retstat, s_);
    ASSERT_EQ(retstat, 0);
  }
  replay(dir_.file("scan.tif") + "\nO.K.\n" + dir_.file("a.kzt") + "\n");
  ASSERT_TRUE(input(kFioSelectFile));
  bool whole = false;
  std::string name = dir_.file("b.kzt");
  EXPECT_EQ(fio_gui_rows_input(name, whole, s_), nullptr);
  EXPECT_TRUE(whole) << "TIFF has no block-wise road";

  ASSERT_TRUE(input(kFioSelectFile));
  io_clear_database();
  const std::unique_ptr<RowSource> rows = fio_gui_rows_input(name, whole, s_);
  ASSERT_NE(rows, nullptr);
  EXPECT_FALSE(whole);
  EXPECT_EQ(std::vector<Index>({rows->xnumdat(), rows->ynumdat()}), std::vector<Index>({4, 3}));
  std::vector<float> got(12);
  ASSERT_TRUE(rows->rows(1, 3, got, s_));
  EXPECT_EQ(got, data);
  EXPECT_EQ(key("#INPUT_FORMAT"), "KESTA STANDARD FORMAT");
  EXPECT_NE(key("X_PIXEL_SIZE"), "<absent>");

  name = dir_.file("missing.kzt");
  replay("");
  EXPECT_EQ(fio_gui_rows_input(name, whole, s_), nullptr);
  EXPECT_FALSE(whole);
  EXPECT_EQ(s_, kStatusGood);
  EXPECT_NE(warnings().find("WARNING: PROBLEM INPUTTING DATA FROM FILE:"), std::string::npos);
}

TEST_F(GuiInput, UnknownExtensionMenuCancelAndDamagedFile) {
  write_bytes(dir_.file("frame.dat"), tiff_bytes(3, 2, 40));
  write_bytes(dir_.file("broken.tif"), tiff_bytes(3, 2, 40, 5000));
  // "?" lists the buttons in a message box; then a format button.
  replay(dir_.file("frame.dat") + "\n?\nO.K.\nTIFF\nO.K.\n");
  ASSERT_TRUE(input(kFioSelectFile));
  EXPECT_EQ(pixel(1, 2), 40.0f);
  EXPECT_EQ(key("#INPUT_FORMAT"), "TIFF");
  const std::string log = file_contents(log_);
  EXPECT_NE(log.find("RIGAKU R-AXIS: Riguka image plate scanner format"), std::string::npos);

  // CANCEL in the menu: nothing read; a cancelled file selection clears the flag.
  const DataSet before = d_;
  replay(dir_.file("frame.dat") + "\nCANCEL\n\\\\\n");
  bool defined = true;
  FIO_GUI_INPUT({"INPUT FILE"}, kFioSelectFile, d_.target(), defined, file_, s_);
  EXPECT_TRUE(defined);
  FIO_GUI_INPUT({"INPUT FILE"}, kFioSelectFile, d_.target(), defined, file_, s_);
  EXPECT_FALSE(defined);
  EXPECT_EQ(s_, kStatusGood);
  EXPECT_EQ(d_.data, before.data);

  // A ".info" name without its data file is an unknown extension.
  write_bytes(dir_.file("lost.bin.info"), "x");
  replay(dir_.file("lost.bin.info") + "\nCANCEL\n");
  EXPECT_FALSE(input(kFioSelectFile));
  EXPECT_NE(terminal_.text().rfind("MENU CHOICE (GRAPHICAL INPUT)"), std::string::npos);

  // A folder or a missing name has no format to choose: refused with its
  // reason in the box, no menu of formats asked, the data as they were.
  std::filesystem::create_directory(dir_.file("scans.d"));
  for (const std::string& name : {dir_.file("scans.d"), dir_.file("missing.xyz")}) {
    SCOPED_TRACE(name);
    warnings();
    const std::size_t asked = terminal_.text().size();
    replay(name + "\nO.K.\n");
    EXPECT_FALSE(input(kFioSelectFile));
    EXPECT_EQ(s_, kStatusGood);
    const std::string shown = warnings();
    EXPECT_EQ(shown.find("WARNING: PROBLEM INPUTTING DATA FROM FILE:\n" + name + "\nWARNING: File " +
                         name),
              0u)
        << shown;
    EXPECT_EQ(terminal_.text().find("UNKNOWN EXTENSION", asked), std::string::npos);
    EXPECT_EQ(d_.data, before.data);
  }

  // A damaged file: the reader's message in the box, the data as they were.
  warnings();
  replay(dir_.file("broken.tif") + "\nO.K.\n");
  EXPECT_FALSE(input(kFioSelectFile));
  EXPECT_EQ(s_, kStatusGood);
  const std::string shown = warnings();
  EXPECT_EQ(shown.find("WARNING: PROBLEM INPUTTING DATA FROM FILE:\n" + dir_.file("broken.tif") +
                       "\nWARNING"),
            0u)
      << shown;
  EXPECT_NE(shown.find("WARNING: DATA NOT DEFINED CORRECTLY"), std::string::npos);
  EXPECT_EQ(d_.data, before.data);
  EXPECT_EQ(d_.title, before.title);
  EXPECT_EQ(key("#INPUT_FORMAT"), "TIFF");

  // An image in tiles, a BigTIFF file and one cut short by a byte are
  // refused before the region form, in the reader's lines alone.
  std::string tiled = tiff_bytes(3, 2, 40);
  tiled[10 + 12 * 4] = static_cast<char>(324 & 0xff);  // tile offsets
  tiled[10 + 12 * 5] = static_cast<char>(322 & 0xff);  // tile width
  std::string big("II\x2b\x00\x08\x00\x00\x00\x10\x00\x00\x00\x00\x00\x00\x00", 16);
  big += std::string(64, '\0');
  std::string cut = tiff_bytes(3, 2, 40);
  cut.pop_back();
  for (const auto& [name, bytes, line] :
       {std::tuple{"tiled.tif", tiled,
                   "WARNING: Un-supported tiled image: only images stored in strips are read\n" +
                       unread_file_line(dir_.file("tiled.tif"), "was not input")},
        std::tuple{"big.tif", big,
                   "WARNING: Un-supported BigTIFF file (version 43): only classic TIFF files "
                   "(version 42) are read\n" +
                       unread_file_line(dir_.file("big.tif"), "was not input")},
        std::tuple{"cut.tif", cut,
                   unread_file_line(dir_.file("cut.tif"), "is too short for its image of 3 x 2 "
                                                          "pixels")}}) {
    SCOPED_TRACE(name);
    write_bytes(dir_.file(name), bytes);
    const std::size_t asked = terminal_.text().size();
    replay(dir_.file(name) + "\nO.K.\n");
    EXPECT_FALSE(input(kFioSelectFile));
    EXPECT_EQ(s_, kStatusGood);
    const std::string box = warnings();
    EXPECT_EQ(box, "WARNING: PROBLEM INPUTTING DATA FROM FILE:\n" + dir_.file(name) + "\n" + line +
                       "\nWARNING: DATA NOT DEFINED CORRECTLY\n" + dir_.file(name) + "\n");
    EXPECT_EQ(terminal_.text().find("RE-BIN", asked), std::string::npos) << terminal_.text();
    EXPECT_EQ(d_.data, before.data);
  }
}

// Without a window (gone, or never opened) a read refused is its one line
// after the reader's own: no box is written as lines, none of them a file
// name alone; the data stay as they were.
TEST_F(GuiInput, WithoutAWindowARefusedReadIsItsOneLine) {
  GS_CLOSE_GRAPHICS(s_);
  open_ = false;
  QG_OPEN(0, s_);
  GS_DEF_GRAPHICS(s_);
  GS_DEF_COLOURS(s_);
  ASSERT_EQ(s_, kStatusGood);
  write_bytes(dir_.file("broken.tif"), tiff_bytes(3, 2, 40, 5000));
  const DataSet before = d_;
  for (const std::string& name :
       {dir_.file("nonexist.tif"), dir_.file("broken.tif"), dir_.file("missing.xyz")}) {
    SCOPED_TRACE(name);
    const std::size_t asked = terminal_.text().size();
    replay(name + "\n");
    EXPECT_FALSE(input(kFioSelectFile));
    EXPECT_EQ(s_, kStatusGood);
    std::istringstream said(terminal_.text().substr(asked));
    std::vector<std::string> warnings;
    // Up to the frame that ends the macro of answers.
    for (std::string line; std::getline(said, line) && !line.starts_with("WARNING---");)
      if (line.starts_with("WARNING")) warnings.push_back(line);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings.back(), "WARNING: PROBLEM INPUTTING DATA FROM FILE: " + name);
    for (const std::string& line : warnings) {
      EXPECT_NE(line, "WARNING: " + name);
      EXPECT_EQ(line.find("DATA NOT DEFINED"), std::string::npos) << line;
    }
    EXPECT_LE(warnings.size(), 2u) << terminal_.text().substr(asked);
    EXPECT_EQ(d_.data, before.data);
  }
  for (auto& driver : qg_db_system.driver) driver.reset();
  qg_db_system = QgDbSystem{};
}

TEST_F(GuiInput, BinaryLayoutFormAndItsCancel) {
  std::string raw;
  for (int v = 0; v < 12; ++v) raw += {static_cast<char>(v + 1), 0};
  write_bytes(dir_.file("d.bin"), raw);
  replay(dir_.file("d.bin") + "\nX-PIXELS\n4\nY-PIXELS\n3\nO.K.\n");
  ASSERT_TRUE(input(kFioSelectFile));
  EXPECT_EQ(d_.xnum, 4);
  EXPECT_EQ(pixel(4, 3), 12.0f);
  EXPECT_EQ(key("#INPUT_FORMAT"), "BINARY");
  // CANCEL in the form reads nothing and shows no warning.
  warnings();
  d_.data[0] = -5.0f;
  replay(dir_.file("d.bin") + "\nCANCEL\n");
  bool defined = true;
  FIO_GUI_INPUT({"INPUT FILE"}, kFioSelectFile, d_.target(), defined, file_, s_);
  EXPECT_EQ(s_, kStatusGood);
  EXPECT_TRUE(defined);
  EXPECT_EQ(pixel(1, 1), -5.0f);
  EXPECT_EQ(warnings(), "");
}

// The gas detector pair: the header record, the frame, the byte order and the
// signedness are asked in value boxes; an escape reads nothing and keeps the
// answers offered next time.
TEST_F(GuiInput, GasDetectorQuestions) {
  write_bytes(dir_.file("run7"), "run 7\n-1\nsection\n3\n16\n3\n2\n2\n-1\n");
  std::string frames(512, '\0');
  for (int v = 1; v <= 12; ++v) frames += {static_cast<char>(v >> 8), static_cast<char>(v & 255)};
  write_bytes(dir_.file("run7hm"), frames);
  replay(dir_.file("run7") + "\nYES\n2\nYES\nNO\n");
  ASSERT_TRUE(input(kFioSelectFile)) << terminal_.text();
  EXPECT_EQ(d_.xnum, 3);
  EXPECT_EQ(pixel(1, 1), 7.0f);  // frame 2, big-endian values swapped
  EXPECT_EQ(pixel(3, 2), 12.0f);
  d_.data[0] = -5.0f;
  replay(dir_.file("run7") + "\nYES\n1\n\\\\\n");
  bool defined = true;
  FIO_GUI_INPUT({"INPUT FILE"}, kFioSelectFile, d_.target(), defined, file_, s_);
  EXPECT_EQ(pixel(1, 1), -5.0f);
  // The answers offered again are the last complete ones.
  const GasChoice& kept = gas_answers();
  EXPECT_TRUE(kept.header_record);
  EXPECT_EQ(kept.image, 2);
  EXPECT_TRUE(kept.swap);
  EXPECT_FALSE(kept.is_signed);
}

// The gas detector reader's own box comes before the boxes of every failed
// read; a header that cannot be read is not one that ends too soon.
TEST_F(GuiInput, GasDetectorFailureBoxes) {
  const std::string frames(24, '\0');
  write_bytes(dir_.file("runhm"), frames);
  struct Case {
    std::string header;  // "" a link to a file that opens but cannot be read
    std::string answers;
    std::string box;
  };
  const std::string questions = "NO\nNO\nNO\n";
  const Case cases[] = {
      {"run\n-1\n3\n16\n3\n2\n1\n", "", "PROBLEM WITH HEADER FILE:\nEOF, NO IMAGE HEADER SECTION\n"},
      {"", "", "PROBLEM WITH HEADER FILE:\nBAD DATA BEFORE IMAGE HEADER SECTION\n"},
      {"run\n-1\nx\n3\n16\n3\n", "", "PROBLEM WITH HEADER FILE:\nIMAGE HEADER SECTION NOT FOUND\n"},
      {"r\n-1\nx\n3\n16\n30\n2\n1\n", "", "IMAGE TOO BIG FOR PROGRAMS ARRAYS\n"},  // nothing asked
      {"r\n-1\nx\n3\n8\n3\n2\n1\n", questions, "UNKNOWN IMAGE HEADER FILE TYPE\n"},
  };
  const std::string run = dir_.file("run");
  const std::string unreadable = testing::failing_read_file();
  for (const Case& c : cases) {
    std::filesystem::remove(run);
    if (c.header.empty()) {
      if (unreadable.empty()) continue;
      std::filesystem::create_symlink(unreadable, run);  // every read fails
    } else {
      write_bytes(run, c.header);
    }
    replay(run + "\n" + c.answers);
    EXPECT_FALSE(input(kFioSelectFile)) << c.box;
    EXPECT_EQ(s_, kStatusGood);
    const std::string shown = warnings();
    EXPECT_EQ(shown.find(c.box + "WARNING: PROBLEM INPUTTING DATA FROM FILE:\n" + run + "\n"), 0u)
        << shown;
    EXPECT_NE(shown.find("WARNING: DATA NOT DEFINED CORRECTLY"), std::string::npos) << shown;
    EXPECT_EQ(pixel(1, 1), -1.0f);
  }

  // The data file is looked for when the header has been read: a header
  // given by name, read as the gas detector's last time, without its pair.
  write_bytes(run, "r\n-1\nx\n3\n16\n3\n2\n1\n");
  replay(run + "\n" + questions);
  ASSERT_TRUE(input(kFioSelectFile)) << terminal_.text();
  warnings();
  file_ = dir_.file("alone");
  write_bytes(file_, "r\n-1\nx\n3\n16\n3\n2\n1\n");
  replay(questions);
  EXPECT_FALSE(input(kFioGivenName));
  EXPECT_EQ(warnings().find("PROBLEM WITH HISTOGRAM MEMORY FILE:\nFILE NOT OPENED\n"
                            "WARNING: PROBLEM INPUTTING DATA FROM FILE:"),
            0u);
}

// An image wider than the arrays is read in part after the reader's warning
// (TIFF: with its size, before the region form; BINARY: its own line after
// the layout form); samples no read decodes are refused before the form.
TEST_F(GuiInput, ImagesTheArraysCannotHoldOrTheReadCannotDecode) {
  const std::string cut =
      "WARNING: The image is bigger than the presently defined program arrays\n"
      "         only a part of the image will be input.\n";
  write_bytes(dir_.file("wide.tif"), tiff_bytes(10, 3, 100));
  replay(dir_.file("wide.tif") +
         "\nX-START\n1\nY-START\n1\nX-END\n8\nY-END\n3\nX RE-BIN\n1\nY RE-BIN\n1\nO.K.\n");
  std::size_t said = terminal_.text().size();
  ASSERT_TRUE(input(kFioSelectFile)) << terminal_.text();
  EXPECT_EQ(d_.xnum, 8);
  EXPECT_EQ(pixel(8, 3), 107.0f);
  EXPECT_NE(terminal_.text().find("INFO: Full image size =        10 *         3 pixels\n" + cut,
                                  said),
            std::string::npos)
      << terminal_.text().substr(said);

  std::string raw;
  for (int v = 0; v < 30; ++v) raw += {static_cast<char>(v + 1), 0};
  write_bytes(dir_.file("wide.bin"), raw);
  replay(dir_.file("wide.bin") + "\nX-PIXELS\n10\nY-PIXELS\n3\nO.K.\n");
  said = terminal_.text().size();
  ASSERT_TRUE(input(kFioSelectFile)) << terminal_.text();
  EXPECT_EQ(d_.xnum, 8);
  EXPECT_EQ(pixel(8, 3), 28.0f);
  EXPECT_NE(terminal_.text().find(
                "WARNING: Internal dimensions are too small to input all of the data", said),
            std::string::npos)
      << terminal_.text().substr(said);
  // A later member read with the first one's layout says it again.
  {
    const FioSeriesMembers members(fio_read_answers());
    replay("");
    said = terminal_.text().size();
    file_ = dir_.file("wide.bin");
    EXPECT_TRUE(input(kFioGivenName));
    EXPECT_NE(terminal_.text().find("Internal dimensions are too small", said), std::string::npos);
  }

  // 16-bit floating-point samples (the compression entry made the sample
  // format entry): refused with the read's own lines, no form shown.
  std::string floats = tiff_bytes(3, 1, 0);
  floats[46] = static_cast<char>(339 & 0xff);
  floats[47] = static_cast<char>(339 >> 8);
  floats[54] = 3;
  write_bytes(dir_.file("float.tif"), floats);
  warnings();
  d_.data[0] = -5.0f;
  replay(dir_.file("float.tif") + "\n");
  testing::ScriptedInput nothing({});
  EXPECT_FALSE(input(kFioSelectFile));
  EXPECT_EQ(s_, kStatusGood);
  const std::string shown = warnings();
  EXPECT_EQ(shown.find("WARNING: PROBLEM INPUTTING DATA FROM FILE:\n" + dir_.file("float.tif") +
                       "\nWARNING: Un-supported sample format (3, 16 bits)"),
            0u)
      << shown;
  EXPECT_EQ(shown.find("IMAGE SIZE NOT RETURNED"), std::string::npos) << shown;
  EXPECT_TRUE(nothing.prompts.empty());
  EXPECT_EQ(pixel(1, 1), -5.0f);

  EXPECT_EQ(s_, kStatusGood);
}

// Samples of a width no read decodes, and compressed images, are refused
// with the read's own line before the region form, and a file too short for
// its image says that alone: its size was read.
TEST_F(GuiInput, TiffSampleWidthsAndShortFilesRefusedBeforeTheForm) {
  d_.data[0] = -5.0f;
  std::string wide = tiff_bytes(3, 1, 0);
  wide[42] = 64;
  write_bytes(dir_.file("bits.tif"), wide);
  write_bytes(dir_.file("short.tif"), tiff_bytes(30, 20, 0).substr(0, 200));
  std::string lzw = tiff_bytes(3, 1, 0);
  lzw[54] = 5;  // the compression entry's value
  write_bytes(dir_.file("lzw.tif"), lzw);
  for (const auto& [name, line] :
       {std::pair<std::string, std::string>{"bits.tif",
                                            "Un-supported number of bits per pixel (64)"},
        {"short.tif", "is too short for its image of 30 x 20 pixels"},
        {"lzw.tif", "Un-supported compression (5)"}}) {
    replay(dir_.file(name) + "\n");
    testing::ScriptedInput nothing({});
    EXPECT_FALSE(input(kFioSelectFile)) << name;
    const std::string box = warnings();
    EXPECT_NE(box.find(line), std::string::npos) << box;
    EXPECT_EQ(box.find("IMAGE SIZE NOT RETURNED"), std::string::npos) << box;
    EXPECT_TRUE(nothing.prompts.empty()) << name;
    EXPECT_EQ(pixel(1, 1), -5.0f) << name;
  }
  EXPECT_EQ(s_, kStatusGood);
}

// A Fuji scan's description warnings are shown in boxes of their own: the
// pixel sizes' before the scan is read, the others before the read fails.
TEST_F(GuiInput, FujiDescriptionWarningsInBoxes) {
  write_bytes(dir_.file("plate.img"), std::string("\x80\x00\x00\x00\xff\xff", 6));
  write_bytes(dir_.file("plate.inf"), "BAS2000\nplate\n\n\n?\n50\n16\n3\n1\n4000\n4\n");
  warnings();
  replay(dir_.file("plate.inf") + "\n");
  ASSERT_TRUE(input(kFioSelectFile)) << terminal_.text();
  EXPECT_EQ(pixel(1, 1), 100.0f);
  EXPECT_EQ(warnings(), "X PIXEL SIZE NOT PROPERLY DEFINED\n");

  write_bytes(dir_.file("plate.inf"), "BAS2000\nplate\n\n\n100\n50\n16\n3\n1\nS\nL\n");
  replay(dir_.file("plate.inf") + "\n");
  EXPECT_FALSE(input(kFioSelectFile));
  const std::string shown = warnings();
  EXPECT_EQ(shown.find("SENSITIVITY UNDEFINED\nLATITUDE UNDEFINED\n"
                       "WARNING: PROBLEM INPUTTING DATA FROM FILE:"),
            0u)
      << shown;
  EXPECT_EQ(pixel(1, 1), 100.0f) << "the data as they were";
  EXPECT_EQ(s_, kStatusGood);
}

// Every road of the graphical input, given a named pipe, a link to /dev/zero
// or a directory, as the file chosen or as the file beside it that the road
// reads, refuses it by name: it neither waits for a writer (the watchdog
// ends a wait) nor reads without end, and the data stay as they were. A link
// to a system file that says it is empty but reads without end reads as
// empty.
TEST_F(GuiInput, EveryRoadRefusesPipesDevicesAndDirectories) {
  struct Road {
    std::string button;  // in the unknown-extension menu; "" found by its name
    std::string chosen;  // the file chosen
    std::string special; // the file made special
    std::vector<std::pair<std::string, std::string>> beside;  // regular files
    std::string answers;  // after the choice ("@" the special file)
  };
  std::vector<Road> roads;
  for (const char* button :
       {"ADSC", "BINARY", "BRUKER", "BSL/OTOKO", "MERVODA", "KESTA", "HAMAMATSU", "IMAGEQUANT",
        "TULMA", "MAR-PCK", "PHOTOMETRICS", "PRINCETON", "RIGAKU R-AXIS", "TIFF"})
    roads.push_back({button, "image.xyz", "image.xyz", {}, "O.K.\n"});
  // (The menu takes "MAR" for the start of "MAR-PCK" as well.)
  roads.push_back({"", "image.mar2000", "image.mar2000", {}, ""});
  const std::string inf = "BAS2000\nplate\n\n\n100\n50\n16\n3\n1\n4000\n4\n";
  const std::string bsl = "t\n \n3 1 1 0 3 0 0 0 0 0\nDATA.000\n";
  const std::string gas = "r\n-1\nx\n3\n16\n3\n1\n1\n";
  roads.insert(roads.end(), {
      {"FUJI (BAS)", "plate.xyz", "plate.xyz", {}, "@\n"},
      {"", "plate.inf", "plate.img", {{"plate.inf", inf}}, "@\n"},
      {"", "data.bin", "data.bin.info", {{"data.bin", std::string(12, '\1')}}, "CANCEL\n"},
      {"", "h.bsl", "DATA.000", {{"h.bsl", bsl}}, ""},
      {"", "gas", "gas", {{"gashm", std::string(12, '\0')}}, ""},
  });
  const long peak = testing::peak_megabytes();
  for (const testing::SpecialFile& special : testing::kSpecialFiles)
    for (const Road& road : roads) {
      testing::TempDir here;
      for (const auto& [name, bytes] : road.beside) write_bytes(here.file(name), bytes);
      const std::string path = here.file(road.special);
      ASSERT_TRUE(testing::make_special_file(special, path));
      std::string answers = here.file(road.chosen) + "\n";
      if (!road.button.empty()) answers += road.button + "\n";
      for (const char c : road.answers) answers += c == '@' ? path : std::string(1, c);
      replay(answers);
      const std::size_t said = terminal_.text().size();
      const std::string what = road.button + " " + road.special + " " + special.kind;
      EXPECT_FALSE(input(kFioSelectFile)) << what;
      EXPECT_EQ(s_, kStatusGood) << what;
      s_ = kStatusGood;
      if (*special.reason != '\0') {
        EXPECT_NE(terminal_.text().find(path + " " + special.reason, said), std::string::npos)
            << what << terminal_.text().substr(said);
      }
      EXPECT_EQ(pixel(1, 1), -1.0f) << what;
    }
  EXPECT_LT(testing::peak_megabytes() - peak, 64) << "megabytes more";
}

// A proposed output name that is the input file is said in a box before the
// question that would replace it; the box takes no answer of its own, and
// "YES" still writes. A proposal beside the input file shows none.
TEST_F(GuiInput, ProposingTheInputFileWarnsFirst) {
  constexpr Index kX = 3, kY = 2;
  const std::vector<float> data{1, 2, 3, 4, 5, 6}, xaxis{0.5f, 1.5f, 2.5f}, yaxis{0.5f, 1.5f};
  struct Here {
    std::filesystem::path before = std::filesystem::current_path();
    ~Here() { std::filesystem::current_path(before); }
  } here;
  std::filesystem::current_path(dir_.path());
  const std::string ring = dir_.file("ring.kzt"), curve = dir_.file("curve.mvd"),
                    bsl = dir_.file("r01000.bsl"), table = dir_.file("table.spr");
  for (const std::string& input : {ring, curve, bsl, table}) write_bytes(input, "raw");
  const struct {
    std::string input, button, answers, box;
  } cases[] = {
      {ring, "KESTA FORMAT", "YES\n", "ring.kzt IS THE INPUT FILE: \"YES\" REPLACES IT"},
      {curve, "MERVODA", "O.K.\n", "curve.mvd IS THE INPUT FILE: \"O.K.\" REPLACES IT"},
      // Proposed in the file selection, whose O.K. takes the name.
      {bsl, "BSL/OTOKO", "r01000.bsl\n", "r01000.bsl IS THE INPUT FILE: \"O.K.\" REPLACES IT"},
      {table, "SPREAD SHEET", "YES\ntable.spr\n",
       "table.spr IS THE INPUT FILE: \"O.K.\" REPLACES IT"},
      {dir_.file("ring.tif"), "KESTA FORMAT", "YES\n", ""},
  };
  for (const auto& c : cases) {
    warnings();
    replay(c.answers);
    std::string output_file;
    int retstat = -1;
    FIO_GUI_OUT(c.input, c.button, false, kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, {},
                "A title", "X", "Y", "Z", false, 1e-4f, 1e-4f, output_file, retstat, s_);
    EXPECT_EQ(s_, kStatusGood) << c.button;
    EXPECT_EQ(retstat, 0) << c.button;
    const std::string shown = warnings();
    if (c.box.empty()) {
      EXPECT_EQ(shown.find("INPUT FILE"), std::string::npos) << shown;
    } else {
      EXPECT_NE(shown.find(c.box), std::string::npos) << shown;
      EXPECT_NE(file_contents(c.input), "raw") << c.button << ": the answer replaced it";
    }
  }
}

// Each button of the graphical output menu writes the bytes its keyboard
// choice writes.
TEST_F(GuiInput, OutputMenuWritesAsTheKeyboardMenu) {
  constexpr Index kX = 6, kY = 4;
  std::vector<float> data(kX * kY), xaxis(kX), yaxis(kY), variances;
  for (Index y = 1; y <= kY; ++y)
    for (Index x = 1; x <= kX; ++x) data[element(x, y, kX)] = static_cast<float>(x + 10 * y);
  for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  testing::TempDir keyboard, window;
  struct Case {
    std::string button;
    std::vector<std::string> typed;  // the keyboard menu's answers; "@" the file
    std::string replayed;            // the graphical answers; "@" the file
    std::vector<std::string> files;  // written, the first the one named
  };
  const Case cases[] = {
      {"BINARY", {"BINARY (UNFORMATTED)", "@", "", "", "NO", "0", "65535"},
       "FILE NAME\n@\nBIG ENDIAN\nNO\nLOWER RANGE\n0\nUPPER RANGE\n65535\nO.K.\n",
       {"a.bin", "a.bin.info"}},
      {"BSL/OTOKO", {"BSL FORMAT", "@"}, "@\n", {"A01000.BSL", "A01001.BSL"}},
      {"MERVODA", {"MERVODA", "@", "YES", "2"}, "FILE NAME\n@\nROW NUMBER\n2\nO.K.\n", {"c.mvd"}},
      {"DENZO MAR", {"DENZO MAR FORMAT", "@", "", "NO", "0", "65535"},
       "FILE NAME\n@\nBIG ENDIAN\nNO\nLOWER RANGE\n0\nUPPER RANGE\n65535\nO.K.\n", {"d.cor"}},
      {"KESTA FORMAT", {"KESTA STANDARD FORMAT", "@"}, "NO\n@\n", {"e.kzt"}},
      {"GSAS", {"GSAS", "@", "YES", "3"}, "FILE NAME\n@\nROW NUMBER\n3\nO.K.\n", {"f.gsas"}},
      {"PowderCIF", {"PowderCIF", "@", "NO", "2"},
       "FILE NAME\n@\nOUTPUT ROWS\nNO\nCOLUMN NUMBER\n2\nO.K.\n", {"g.cif"}},
      {"SPREAD SHEET", {"SPREAD SHEET", "YES", "@"}, "YES\n@\n", {"h.spr"}},
      // Limits the wrong way round are refused in the window too, and asked
      // again.
      {"TIFF 8 BIT", {"TIFF INTEGERS", "@", "1 BYTE UNSIGNED INTEGERS", "0", "100"},
       "NO\n@\n100\n0\n0\n100\n", {"i.tif"}},
      {"TIFF 16 BIT", {"TIFF INTEGERS", "@", "2 BYTE UNSIGNED INTEGERS", "0", "100"},
       "NO\n@\n0\n100\n", {"j.tif"}},
  };
  auto with_file = [](std::string text, const std::string& file) {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + file.size()))
      text.replace(at, 1, file);
    return text;
  };
  const std::string input = dir_.file("frame.tif");
  for (const Case& c : cases) {
    IO_CLOSE_INMACRO(s_);
    std::vector<std::string> typed;
    for (const auto& t : c.typed) typed.push_back(with_file(t, keyboard.file(c.files[0])));
    {
      testing::ScriptedInput script(typed);
      FIO_OUTPUT(input, kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, variances, "A title", "X", "Y",
                 "Z", false, 1e-4f, 1e-4f, s_);
    }
    replay(with_file(c.button + "\n" + c.replayed, window.file(c.files[0])));
    FIO_GUI_OUTPUT(input, kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, variances, "A title", "X",
                   "Y", "Z", false, 1e-4f, 1e-4f, s_);
    EXPECT_EQ(s_, kStatusGood) << c.button;
    s_ = kStatusGood;
    for (const std::string& f : c.files) {
      const std::string written = file_contents(keyboard.file(f));
      EXPECT_FALSE(written.empty()) << c.button << " " << f;
      EXPECT_EQ(file_contents(window.file(f)), written) << c.button << " " << f;
    }
  }
  // A cancelled menu is no error and writes nothing.
  replay("CANCEL\n");
  FIO_GUI_OUTPUT(input, kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, variances, "A title", "X", "Y",
                 "Z", false, 1e-4f, 1e-4f, s_);
  EXPECT_EQ(s_, kStatusGood);
  // In a file series BSL/OTOKO writes nothing, and its code says so.
  std::string series_file = window.file("k.bsl");
  int retstat = 0;
  FIO_GUI_OUT(input, "BSL/OTOKO", true, kX, kY, 1, 1, kX, kY, xaxis, yaxis, data, variances,
              "A title", "X", "Y", "Z", false, 1e-4f, 1e-4f, series_file, retstat, s_);
  EXPECT_EQ(s_, kStatusGood);
  EXPECT_NE(retstat, 0);
  EXPECT_FALSE(std::filesystem::exists(series_file));
  // The scaled writers take their proposed limits as they stand there: an
  // image with infinite pixels, or of one value, is written all the same.
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> infinite = data, constant(data.size(), 0.0f);
  infinite[3] = inf;
  infinite[7] = -inf;
  int n = 0;
  for (const auto* image : {&infinite, &constant})
    for (const char* button : {"BINARY", "DENZO MAR", "TIFF 8 BIT", "TIFF 16 BIT"}) {
      series_file = window.file("series" + std::to_string(++n));
      retstat = -1;
      FIO_GUI_OUT(input, button, true, kX, kY, 1, 1, kX, kY, xaxis, yaxis, *image, variances,
                  "A title", "X", "Y", "Z", false, 1e-4f, 1e-4f, series_file, retstat, s_);
      EXPECT_EQ(s_, kStatusGood) << button << " " << n;
      s_ = kStatusGood;
      EXPECT_EQ(retstat, 0) << button << " " << n;
      EXPECT_TRUE(std::filesystem::exists(series_file)) << button << " " << n;
    }
}

}  // namespace
}  // namespace kesta
