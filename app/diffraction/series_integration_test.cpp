// File series in the diffraction road: the name pattern for macros, the
// scan file names, the integration of a series into one scan per row (its
// questions answered as typed lines) and the stacking of one row per file.

#include "app/diffraction/series_integration.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/diffraction/cake.hpp"
#include "app/diffraction/diffraction_test_support.hpp"
#include "app/diffraction/integrate.hpp"
#include "app/distortion/correction_form.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/file_series.hpp"
#include "app/imageops/imageops_graphics_test_support.hpp"
#include "app/imageops/program_target.hpp"
#include "core/defaults_db.hpp"
#include "core/macro.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "core/variables.hpp"
#include "formats/gui_input.hpp"
#include "formats/kesta_format.hpp"
#include "formats/tulma_format.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

TEST(DeduceFileSequence, FirstValuesDescribeADescendingSeries) {
  testing::reset_dialogue();
  kzt_forget_answers();
  testing::TerminalCapture quiet;
  testing::ScriptedInput input({"", ""});
  Status status = kStatusGood;
  KZT_FILESEQUENCE(status);
  ASSERT_EQ(status, kStatusGood);
  auto integer = [&](const char* name) {
    int retstat = 1, i = -7;
    char type = ' ';
    bool l = false;
    float r = 0.0f;
    int length = 0;
    std::string s;
    IO_INQ_VARIABLE(name, retstat, type, i, l, r, length, s, status);
    EXPECT_EQ(retstat, 0) << name;
    return i;
  };
  EXPECT_EQ(integer("##START"), 999);
  EXPECT_EQ(integer("##END"), 1);
  EXPECT_EQ(integer("##STEP"), -1);
  EXPECT_EQ(integer("##NUM_CHARS"), 3);
  int retstat = 1, i = 0, length = 0;
  char type = ' ';
  bool variable = true;
  float r = 0.0f;
  std::string prefix;
  IO_INQ_VARIABLE("##PREFIX", retstat, type, i, variable, r, length, prefix, status);
  EXPECT_EQ(prefix, "kesta_");
  IO_INQ_VARIABLE("##VARIABLE", retstat, type, i, variable, r, length, prefix, status);
  EXPECT_FALSE(variable);

  // Names that share no number: the error line, and the variables stay.
  testing::TerminalCapture terminal;
  testing::ScriptedInput bad({"alpha.kzt", "beta.kzt"});
  KZT_FILESEQUENCE(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("ERROR: Could not deduce required file sequence"),
            std::string::npos);
  EXPECT_EQ(integer("##START"), 999);
  testing::reset_dialogue();
}

TEST(ScanFileName, ReplacesOnlyTheExtensionOfTheNameItself) {
  EXPECT_EQ(kzt_scan_file_name("run_007.tif", "int"), "run_007.int");
  EXPECT_EQ(kzt_scan_file_name("run_007.tif", ".int"), "run_007.int");
  EXPECT_EQ(kzt_scan_file_name("/data/a_001.tif", "chi"), "/data/a_001.chi");
  EXPECT_EQ(kzt_scan_file_name("7.tif", "int"), "7.int");
  EXPECT_EQ(kzt_scan_file_name("/data.v2/run7", "int"), "/data.v2/run7.int");
  EXPECT_EQ(kzt_scan_file_name("/data/.hidden", "int"), "/data/.hidden.int");
}

struct TestCorrections {
  bool flat_field = false;
  std::string flat_file;
};

// Real native files member_NNN.kzt of 16 x 16 pixels, member k holding k
// everywhere; the integration's forms answered by the test.
struct SeriesIntegration : testing::NoWindowGraphics {
  static constexpr Index kN = 16;
  testing::TempDir dir;
  KztDataSets sets;
  static inline std::string first;  // what the file selection picks
  static inline int reads = 0;
  static inline TestCorrections corrections{};

  static void read_given(TextLines, int sequence, const ImageTarget& target, bool& read,
                         std::string& file_name, Status& status) {
    if (sequence == kFioSelectFile) file_name = first;
    ++reads;
    int retstat = 1;
    float overload = 0.0f;
    FIO_IN_KESTA(true, target, file_name, retstat, overload, status);
    read = retstat == 0;
  }
  static void correction_form(bool& ff, std::string& ff_file, bool& scale, float& scaler,
                              bool& sd, std::string&, Status&) {
    ff = corrections.flat_field;
    ff_file = corrections.flat_file;
    scale = false;
    scaler = 1.0f;
    sd = false;
  }
  static void geometry_form(float&, float&, float& distance, float& wavelength, float& xc,
                            float& yc, float& rotation, float& tilt, Status&) {
    distance = 0.1f;
    wavelength = 1.0e-10f;
    xc = 8.0f;
    yc = 8.0f;
    rotation = tilt = 0.0f;
  }
  static void control_form(Index, IntegrateControl& c, Status&) {
    c.scan_type = 0;
    c.conserve_intensity = false;
    c.correct_polarisation = false;
    c.geometry = false;
    c.num_bins = 6;
    c.max_2theta = std::atan2(6.0e-4f, 0.1f);
  }

  void SetUp() override {
    NoWindowGraphics::SetUp();
    kzt_forget_answers();
    io_clear_database();
    Status s = kStatusGood;
    kzt_allocate_arrays(32, 32, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    kzt_series_reader() = read_given;
    kzt_series_correction_form() = correction_form;
    kzt_integrate_forms() = {geometry_form, control_form};
    reads = 0;
    corrections = {};
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    kzt_series_reader() = FIO_GUI_INPUT;
    kzt_integrate_forms() = {};
    io_clear_database();
    NoWindowGraphics::TearDown();
  }
  std::string member(int k) const {
    char name[32];
    std::snprintf(name, sizeof name, "member_%03d.kzt", k);
    return dir.file(name);
  }
  void write_image(const std::string& path, const std::vector<float>& data,
                   float pixel_size = 1e-4f) {
    std::vector<float> axis(kN);
    for (Index i = 0; i < kN; ++i) axis[i] = static_cast<float>(i) + 0.5f;
    testing::ScriptedInput input({path});
    int retstat = 1;
    Status s = kStatusGood;
    FIO_OUT_KESTA(false, "", kN, kN, 1, 1, kN, kN, axis, axis, data, {}, "t", "x", "y", "z",
                  false, pixel_size, pixel_size, retstat, s);
    ASSERT_EQ(retstat, 0);
  }
  void write_members(int count, float pixel_size = 1e-4f) {
    for (int k = 1; k <= count; ++k)
      write_image(member(k), std::vector<float>(kN * kN, static_cast<float>(k)), pixel_size);
  }
  float at(Index x, Index y) const {
    return vosq_kzt_arrays.data[element(x, y, vosq_kzt_arrays.xmaxdat)];
  }
  // The series from FIRST to LAST with INCREMENT typed, no scans saved.
  void integrate(int from, int to, const std::string& increment, Status& status,
                 std::vector<std::string> more = {}) {
    first = member(from);
    std::vector<std::string> lines{"YES", member(to), increment};
    lines.insert(lines.end(), more.begin(), more.end());
    lines.insert(lines.end(), {"EXIT", "NO"});
    testing::ScriptedInput input(lines);
    KZT_FSINTEGRATE(sets, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
};

// A little-endian 16-bit TIFF of N x N pixels in one strip, growing away
// from the middle: pixel (x, y) (from 0) holds VALUE x (1 + (x - 8)^2 + (y - 8)^2).
// With ROWS_PER_STRIP below N it says it has more strips than the one it
// gives an offset for.
void write_tiff(const std::string& path, int n, unsigned value, int rows_per_strip = 0) {
  std::string out = "II";
  auto put = [&](std::uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xff));
  };
  put(42, 2);
  put(8, 4);
  put(6, 2);
  for (const auto& [tag, value] : {std::pair<unsigned, unsigned>{256, n}, {257, n}, {258, 16},
                                  {259, 1}, {273, 8 + 2 + 6 * 12 + 4},
                                  {278, rows_per_strip > 0 ? rows_per_strip : n}}) {
    put(tag, 2);
    put(4, 2);  // LONG
    put(1, 4);
    put(value, 4);
  }
  put(0, 4);
  for (int k = 0; k < n * n; ++k) {
    const int x = k % n - 8, y = k / n - 8;
    put(value * static_cast<unsigned>(1 + x * x + y * y), 2);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(out.data(), 1, out.size(), f);
  std::fclose(f);
}

// A TIFF series runs unattended once its loop has started: the region is
// asked for the first member only, a smaller member in the middle is refused
// without changing how the members after it are read, and each scan is saved
// under the name made from its member's, whatever the format would ask.
TEST_F(SeriesIntegration, TiffSeriesAsksNothingOnceStartedAndSavesUnderTheMadeNames) {
  kzt_series_reader() = FIO_GUI_INPUT;
  auto tif = [&](int k) { return dir.file("run_00" + std::to_string(k) + ".tif"); };
  auto scan = [&](int k) { return dir.file("run_00" + std::to_string(k) + ".int"); };
  // (Not the native members' size, whose cake table the other tests count.)
  write_tiff(tif(1), 20, 1);
  write_tiff(tif(2), 12, 2);
  write_tiff(tif(3), 20, 3);
  // BSL/OTOKO would name its data file with the next number, the next
  // member's scan file: it saves nothing rather than one scan over another.
  for (const char* format : {"KESTA FORMAT", "TIFF 16 BIT", "BINARY", "DENZO MAR", "BSL/OTOKO"}) {
    const bool saved = std::string_view(format) != "BSL/OTOKO";
    for (int k = 1; k <= 3; ++k) std::filesystem::remove(scan(k));
    testing::TerminalCapture terminal;
    const std::vector<std::string> lines{tif(1), "O.K.", "YES", tif(3), "",
                                         "EXIT", "YES", format, "int"};
    testing::ScriptedInput input(lines);
    Status status = kStatusGood;
    KZT_FSINTEGRATE(sets, status);
    ASSERT_EQ(status, kStatusGood) << format << terminal.text();
    EXPECT_EQ(input.prompts.size(), lines.size()) << format << ": asked after the loop started";
    ASSERT_EQ(vosq_kzt_arrays.ynumdat, 3) << format;
    for (Index i = 1; i <= 6; ++i) {
      EXPECT_GT(at(i, 1), 1.0f) << format << " " << i;
      EXPECT_EQ(at(i, 2), 0.0f) << format << " " << i;
      EXPECT_NEAR(at(i, 3), 3.0f * at(i, 1), 1e-4f * at(i, 3)) << format << " " << i;
    }
    const std::string said = terminal.text();
    EXPECT_NE(said.find("WARNING: File not the size of the first file: " + tif(2)),
              std::string::npos);
    EXPECT_EQ(std::filesystem::exists(scan(1)), saved) << format;
    EXPECT_EQ(std::filesystem::exists(scan(3)), saved) << format;
    EXPECT_FALSE(std::filesystem::exists(scan(2))) << format;
    EXPECT_EQ(said.find("not saved: " + scan(3)) != std::string::npos, !saved) << format;
    for (const char* asked : {"run_001.kzt", "kesta.tif", "kesta.bin", "kesta.cor"})
      EXPECT_FALSE(std::filesystem::exists(dir.file(asked))) << format << " " << asked;
    if (std::string_view(format) == "KESTA FORMAT") {
      const ImageRead saved_scan = read_kesta_file(scan(3), {32, 32, false}, status);
      ASSERT_TRUE(saved_scan.ok()) << said;
      EXPECT_EQ(saved_scan.image.pixels()[2], at(3, 3));
    }
  }
}

// A member the reader refuses is said by the reader's own reason and one
// line that it was not input, not by a pile of lines saying it again.
TEST_F(SeriesIntegration, RefusedMemberIsSaidByItsReasonAndOneNotInputLine) {
  kzt_series_reader() = FIO_GUI_INPUT;
  auto tif = [&](int k) { return dir.file("cut_00" + std::to_string(k) + ".tif"); };
  write_tiff(tif(1), 20, 1);
  write_tiff(tif(2), 20, 2, 4);
  write_tiff(tif(3), 20, 3);
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({tif(1), "O.K.", "YES", tif(3), "", "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_FSINTEGRATE(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  const std::string said = terminal.text();
  const auto count = [&said](const std::string& text) {
    int n = 0;
    for (auto at = said.find(text); at != std::string::npos; at = said.find(text, at + 1)) ++n;
    return n;
  };
  const std::string reason_line = "WARNING: File " + tif(2) +
                                  " gives 1 strip offsets for the 5 strips of its image of 20 x "
                                  "20 pixels; the data are unchanged\n";
  const std::size_t reason = said.find(reason_line);
  ASSERT_NE(reason, std::string::npos) << said;
  EXPECT_EQ(said.find("WARNING: File not input: " + tif(2) + "\n"), reason + reason_line.size())
      << said;
  EXPECT_EQ(count("not input"), 1) << said;
  EXPECT_EQ(count("Cannot decode image"), 0) << said;
  EXPECT_EQ(vosq_kzt_arrays.ynumdat, 3);
}

// A member that is no TIFF file at all (a text file, an empty one) is said
// by one line of the reader and one that it was not input, as any other.
TEST_F(SeriesIntegration, MembersThatAreNoTiffFilesAreSaidInOneLineEach) {
  kzt_series_reader() = FIO_GUI_INPUT;
  auto tif = [&](int k) { return dir.file("odd_00" + std::to_string(k) + ".tif"); };
  write_tiff(tif(1), 20, 1);
  for (const auto& [k, text] : {std::pair{2, "This is a text file\n"}, std::pair{3, ""}}) {
    std::FILE* f = std::fopen(tif(k).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  }
  write_tiff(tif(4), 20, 4);
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({tif(1), "O.K.", "YES", tif(4), "", "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_FSINTEGRATE(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  const std::string said = terminal.text();
  for (const auto& [k, reason] :
       {std::pair{2, unread_file_line(tif(2), "does not start with II nor with MM, as a TIFF "
                                              "file does")},
        std::pair{3, unread_file_line(tif(3), "holds 0 bytes, fewer than the 8 of a TIFF "
                                              "header")}}) {
    const std::string lines = reason + "\nWARNING: File not input: " + tif(k) + "\n";
    const std::size_t at = said.find(lines);
    ASSERT_NE(at, std::string::npos) << said;
    // Nothing else is said of the member before.
    EXPECT_EQ(said.rfind("WARNING", at - 1), said.rfind("WARNING: File not input", at - 1))
        << k << said;
  }
  for (const char* more : {"II nor with MM. It is not a", "Bad TIFF file", "first two bytes",
                           "Image size not returned", "Cannot decode image", "was not input"})
    EXPECT_EQ(said.find(more), std::string::npos) << more << "\n" << said;
  ASSERT_EQ(vosq_kzt_arrays.ynumdat, 4);
  EXPECT_EQ(at(1, 2), 0.0f);
  EXPECT_GT(at(1, 4), 0.0f);
}

// A scan is never saved over an image of its series: an extension that
// names the members' own files (their extension, or a member's number in a
// series without one) saves no scan, says so for each, and every member is
// read as it was.
TEST_F(SeriesIntegration, ScansAreNotSavedOverTheImagesOfTheSeries) {
  kzt_series_reader() = FIO_GUI_INPUT;
  auto tif = [&](int k) { return dir.file("run_00" + std::to_string(k) + ".tif"); };
  auto shot = [&](int k) { return dir.file("shot." + std::to_string(k)); };
  std::vector<std::string> images;
  for (int k = 1; k <= 3; ++k) {
    write_tiff(tif(k), 20, static_cast<unsigned>(k));
    write_image(shot(k), std::vector<float>(kN * kN, static_cast<float>(k)));
    images.push_back(testing::file_contents(tif(k)));
    images.push_back(testing::file_contents(shot(k)));
  }
  for (const bool numbered : {false, true}) {
    testing::TerminalCapture terminal;
    Status status = kStatusGood;
    if (numbered) {
      kzt_series_reader() = read_given;
      first = shot(1);
      testing::ScriptedInput input({"YES", shot(3), "", "EXIT", "YES", "KESTA FORMAT", "3"});
      KZT_FSINTEGRATE(sets, status);
    } else {
      testing::ScriptedInput input(
          {tif(1), "O.K.", "YES", tif(3), "", "EXIT", "YES", "KESTA FORMAT", "tif"});
      KZT_FSINTEGRATE(sets, status);
    }
    ASSERT_EQ(status, kStatusGood) << terminal.text();
    ASSERT_EQ(vosq_kzt_arrays.ynumdat, 3) << numbered;
    EXPECT_NEAR(at(3, 3), 3.0f * at(3, 1), 1e-4f * at(3, 3)) << numbered;
    const std::string said = terminal.text();
    for (int k = 1; k <= 3; ++k) {
      const std::string member = numbered ? shot(k) : tif(k);
      EXPECT_TRUE(testing::file_contents(member) ==
                  images[static_cast<std::size_t>(2 * k - 2 + numbered)])
          << member;
      EXPECT_NE(said.find("WARNING: Scan not saved: it would replace an image of the series: " +
                          (numbered ? shot(3) : member)),
                std::string::npos)
          << said;
    }
  }
}

// Members are compared with the first by their own size: one larger than
// the arrays is not cut to the first one's size and integrated, nor is a
// smaller one; their rows are 0.0 and no scan of theirs is saved. So for the
// native format and for TULMA, whose reader cuts without a word of its own.
TEST_F(SeriesIntegration, NativeMembersOfAnotherSizeAreNotIntegrated) {
  kzt_series_reader() = FIO_GUI_INPUT;
  Status status = kStatusGood;
  kzt_free_arrays(vosq_kzt_arrays, status);
  kzt_allocate_arrays(kN, kN, true, false, false, vosq_kzt_arrays, status);
  ASSERT_EQ(status, kStatusGood);
  const Index sides[] = {kN, kN + 8, kN - 4, kN};
  for (const bool tulma : {false, true}) {
    auto name = [&](int k) {
      const std::string native = member(k);
      return tulma ? native.substr(0, native.size() - 3) + "wlt" : native;
    };
    for (int k = 1; k <= 4; ++k) {
      const Index n = sides[k - 1];
      std::vector<float> axis(static_cast<std::size_t>(n)),
          data(static_cast<std::size_t>(n * n), static_cast<float>(k));
      for (Index i = 0; i < n; ++i)
        axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
      int retstat = 1;
      if (tulma) {
        FIO_OUT_TULMA(name(k), n, n, 1, 1, n, n, data, retstat, status);
      } else {
        testing::ScriptedInput answer({name(k)});
        FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, axis, axis, data, {}, "t", "x", "y", "z",
                      false, 1e-4f, 1e-4f, retstat, status);
      }
      ASSERT_EQ(retstat, 0);
    }
    auto scan = [&](int k) { return kzt_scan_file_name(name(k), "int"); };
    testing::TerminalCapture terminal;
    const std::vector<std::string> lines{name(1), "YES", name(4), "",
                                         "EXIT",  "YES", "KESTA FORMAT", "int"};
    testing::ScriptedInput input(lines);
    KZT_FSINTEGRATE(sets, status);
    ASSERT_EQ(status, kStatusGood) << terminal.text();
    EXPECT_EQ(input.remaining(), 0u) << tulma;
    ASSERT_EQ(vosq_kzt_arrays.ynumdat, 4);
    for (Index i = 1; i <= 6; ++i) {
      EXPECT_NEAR(at(i, 1), 1.0f, 1e-5f) << i;
      EXPECT_EQ(at(i, 2), 0.0f) << tulma << " " << i;
      EXPECT_EQ(at(i, 3), 0.0f) << tulma << " " << i;
      EXPECT_NEAR(at(i, 4), 4.0f, 1e-5f) << i;
    }
    const std::string said = terminal.text();
    for (int k : {2, 3}) {
      EXPECT_NE(said.find("WARNING: File not the size of the first file: " + name(k)),
                std::string::npos)
          << said;
      EXPECT_FALSE(std::filesystem::exists(scan(k))) << tulma << " " << k;
    }
    EXPECT_TRUE(std::filesystem::exists(scan(1)));
    EXPECT_TRUE(std::filesystem::exists(scan(4)));
    EXPECT_EQ(said.find("Not all of the data could be input"), std::string::npos) << said;
    EXPECT_EQ(said.find("bigger than the presently defined"), std::string::npos) << said;
  }
}

// Members larger than the arrays are each read in part; the cut is said
// once, for the first member, not again for each member of the same size.
TEST_F(SeriesIntegration, MembersLargerThanTheArraysSayTheCutOnce) {
  kzt_series_reader() = FIO_GUI_INPUT;
  constexpr Index n = 40;  // the arrays hold 32 x 32
  for (const char* format : {"kzt", "wlt", "img"}) {
    auto name = [&](int k) {
      const std::string native = member(k);
      return native.substr(0, native.size() - 3) + format;
    };
    for (int k = 1; k <= 4; ++k) {
      std::vector<float> axis(static_cast<std::size_t>(n)),
          data(static_cast<std::size_t>(n * n), static_cast<float>(k));
      for (Index i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
      int retstat = 1;
      Status status = kStatusGood;
      if (std::string_view(format) == "wlt") {
        FIO_OUT_TULMA(name(k), n, n, 1, 1, n, n, data, retstat, status);
      } else if (std::string_view(format) == "kzt") {
        testing::ScriptedInput answer({name(k)});
        FIO_OUT_KESTA(false, "", n, n, 1, 1, n, n, axis, axis, data, {}, "t", "x", "y", "z",
                      false, 1e-4f, 1e-4f, retstat, status);
      } else {
        std::string bytes = "{\nHEADER_BYTES=512;\nDIM=2;\nBYTE_ORDER=little_endian;\n"
                            "TYPE=unsigned_short;\nSIZE1=40;\nSIZE2=40;\n}\n";
        bytes.resize(512, ' ');
        for (Index i = 0; i < n * n; ++i) bytes += std::string{static_cast<char>(k), '\0'};
        std::FILE* f = std::fopen(name(k).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        retstat = std::fclose(f);
      }
      ASSERT_EQ(retstat, 0) << format;
      ASSERT_EQ(status, kStatusGood) << format;
    }
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({name(1), "YES", name(4), "", "EXIT", "NO"});
    Status status = kStatusGood;
    KZT_FSINTEGRATE(sets, status);
    ASSERT_EQ(status, kStatusGood) << terminal.text();
    const std::string said = terminal.text();
    const auto count = [&said](const std::string& text) {
      int times = 0;
      for (auto at = said.find(text); at != std::string::npos; at = said.find(text, at + 1))
        ++times;
      return times;
    };
    const bool native = std::string_view(format) == "kzt";
    EXPECT_EQ(count("File array size"), native ? 3 : 0) << format << said;
    EXPECT_EQ(count("Not all of the data could be input"), native ? 1 : 0) << format << said;
    EXPECT_EQ(count("bigger than the presently defined"), native ? 0 : 1) << format << said;
    EXPECT_EQ(count("only a part of the image will be input"), native ? 0 : 1) << format << said;
    ASSERT_EQ(vosq_kzt_arrays.ynumdat, 4) << format;
    for (Index k = 1; k <= 4; ++k)
      EXPECT_NEAR(at(1, k), static_cast<float>(k), 1e-4f) << format << " " << k;
  }
}

// A member's scan that cannot be saved (its made name is taken by a
// directory) is said on the terminal; nothing waits for a click, and the
// members after it are still integrated and saved.
TEST_F(SeriesIntegration, ScanThatCannotBeSavedIsSaidAndTheSeriesGoesOn) {
  kzt_series_reader() = FIO_GUI_INPUT;
  auto tif = [&](int k) { return dir.file("run_00" + std::to_string(k) + ".tif"); };
  auto scan = [&](int k) { return dir.file("run_00" + std::to_string(k) + ".int"); };
  for (int k = 1; k <= 3; ++k) write_tiff(tif(k), 20, k);
  for (const char* format : {"KESTA FORMAT", "SPREAD SHEET"}) {
    for (int k = 1; k <= 3; ++k) std::filesystem::remove_all(scan(k));
    std::filesystem::create_directory(scan(2));
    testing::TerminalCapture terminal;
    const std::vector<std::string> lines{tif(1), "O.K.", "YES", tif(3), "",
                                         "EXIT", "YES", format, "int"};
    testing::ScriptedInput input(lines);
    Status status = kStatusGood;
    KZT_FSINTEGRATE(sets, status);
    EXPECT_EQ(input.prompts.size(), lines.size())
        << format << ": asked after the loop started\n" << terminal.text();
    EXPECT_TRUE(std::filesystem::is_regular_file(scan(1))) << format;
    EXPECT_TRUE(std::filesystem::is_regular_file(scan(3))) << format << terminal.text();
    EXPECT_NE(terminal.text().find(scan(2)), std::string::npos) << format << terminal.text();
  }
}

TEST_F(SeriesIntegration, MissingMemberLeavesAZeroRowAndTheTableIsBuiltOnce) {
  write_members(3);
  std::filesystem::remove(member(2));
  testing::TerminalCapture terminal;
  const std::int64_t builds = kzt_cake_table_builds();
  Status status = kStatusGood;
  integrate(1, 3, "", status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(kzt_cake_table_builds() - builds, 1);
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(a.xnumdat, 6);
  EXPECT_EQ(a.ynumdat, 3);
  for (Index i = 1; i <= 6; ++i) {
    EXPECT_NEAR(at(i, 1), 1.0f, 1e-5f) << i;
    EXPECT_EQ(at(i, 2), 0.0f) << i;
    EXPECT_NEAR(at(i, 3), 3.0f, 1e-5f) << i;
  }
  EXPECT_NE(terminal.text().find("WARNING: File not input: " + member(2)), std::string::npos);
  EXPECT_EQ(sets.title, "member_001.kzt to member_003.kzt");
  EXPECT_EQ(sets.ylabel, "Scan Number");
  EXPECT_EQ(sets.xlabel, "Radial Distance (mm)");
  EXPECT_NEAR(a.xaxis[0], 0.05f, 1e-5f);  // bin centres in millimetres
  EXPECT_EQ(a.yaxis[2], 2.5f);
}

// The members' headers give sizes of their own; the series is integrated
// with the sizes typed in its form, and those are what later commands
// propose.
TEST_F(SeriesIntegration, TheFormsPixelSizesAreTheOnesStoredAfterTheSeries) {
  write_members(3, 1.72e-4f);
  kzt_series_reader() = FIO_GUI_INPUT;
  kzt_integrate_forms().geometry = [](float& x_pixel_size, float& y_pixel_size, float& distance,
                                      float& wavelength, float& xc, float& yc, float& rotation,
                                      float& tilt, Status& status) {
    geometry_form(x_pixel_size, y_pixel_size, distance, wavelength, xc, yc, rotation, tilt,
                  status);
    x_pixel_size = y_pixel_size = 1e-4f;
  };
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({member(1), "O.K.", "YES", member(3), "", "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_FSINTEGRATE(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(vosq_kzt_arrays.ynumdat, 3) << terminal.text();
  for (const char* key : {"X_PIXEL_SIZE", "Y_PIXEL_SIZE"}) {
    float stored = 0.0f;
    int retstat = 1;
    IO_INQ_RKEYVALUE(key, stored, retstat, status);
    EXPECT_EQ(retstat, 0) << key;
    EXPECT_FLOAT_EQ(stored, 1e-4f) << key;
  }
  EXPECT_FLOAT_EQ(sets.x_pixel_size, 1e-4f);
}

TEST_F(SeriesIntegration, IncrementAndDescendingSeriesReadTheirMembersInOrder) {
  write_members(10);
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  integrate(1, 10, "2", status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(vosq_kzt_arrays.ynumdat, 5);
  for (Index k = 1; k <= 5; ++k) EXPECT_NEAR(at(3, k), 2.0f * k - 1.0f, 1e-5f) << k;
  EXPECT_EQ(reads, 5);

  // Down from 4 to 1: the increment counts in the series' own direction.
  reads = 0;
  integrate(4, 1, "1", status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(vosq_kzt_arrays.ynumdat, 4);
  for (Index k = 1; k <= 4; ++k) EXPECT_NEAR(at(2, k), 5.0f - k, 1e-5f) << k;
  EXPECT_EQ(sets.title, "member_004.kzt to member_001.kzt");
}

TEST_F(SeriesIntegration, TooManyFilesAreRefusedBeforeTheSecondIsRead) {
  // 40 files for arrays of 32 rows; only the first needs to exist.
  write_members(1);
  testing::TerminalCapture terminal;
  first = member(1);
  testing::ScriptedInput input({"YES", member(40), ""});
  Status status = kStatusGood;
  KZT_FSINTEGRATE(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_NE(terminal.text().find("MORE FILES THAN THE DATA"), std::string::npos);

  // From a macro the box waits for nothing: its reason is a line all the
  // same, and the macro, whose later lines were for the integration, ends
  // rather than meet the menus with them.
  testing::TerminalCapture replayed;
  std::string macro = dir.file("series.mac");
  std::ofstream(macro) << "YES\n" + member(40) + "\n\nO.K.\nEXIT\n";
  IO_OPEN_INMACRO(false, macro, status);
  KZT_FSINTEGRATE(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(replayed.text().find("WARNING: THE SERIES HAS MORE FILES THAN THE DATA ARRAYS HAVE "
                                 "ROWS (USE \"DIMENSIONS\")\n"),
            std::string::npos)
      << replayed.text();
  EXPECT_NE(replayed.text().find("Macro automatically terminated."), std::string::npos);
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
}

TEST_F(SeriesIntegration, FlatFieldWithZerosAsksTheLargestMultiplier) {
  write_members(2);
  std::vector<float> flat(kN * kN, 2.0f);
  flat[element(8, 8, kN)] = 0.0f;
  corrections.flat_field = true;
  corrections.flat_file = dir.file("flat.kzt");
  write_image(corrections.flat_file, flat);
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  integrate(1, 2, "", status, {"4.0"});
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_NE(terminal.text().find("THE FLAT-FIELD CONTAINED ONE OR MORE ZEROS"), std::string::npos);
  // Every pixel halved, but the one over the zero multiplied by 4 at most.
  EXPECT_NEAR(at(6, 1), 0.5f, 1e-5f);
  EXPECT_NEAR(at(6, 2), 1.0f, 1e-5f);
  EXPECT_GT(at(1, 2), 1.0f);

  // A flat field that cannot be read stops the series before the loop.
  corrections.flat_file = dir.file("absent.kzt");
  reads = 0;
  first = member(1);
  testing::ScriptedInput input({"YES", member(2), ""});
  KZT_FSINTEGRATE(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(reads, 2);  // the first member and the flat field only
}

// A series of small images integrated in large arrays, with a flat field,
// touches the pages of its images, not the arrays (64 MB an image of them;
// the address sanitizer's own records of a freed block take an eighth).
TEST_F(SeriesIntegration, SmallImagesInLargeArraysAreIntegratedOverTheirOwnPages) {
  constexpr Index kLarge = 4096, kImageBytes = kLarge * kLarge * 4;
  Status status = kStatusGood;
  kzt_free_arrays(vosq_kzt_arrays, status);
  kzt_allocate_arrays(kLarge, kLarge, true, false, false, vosq_kzt_arrays, status);
  ASSERT_EQ(status, kStatusGood);
  write_members(2);
  corrections.flat_field = true;
  corrections.flat_file = dir.file("flat.kzt");
  write_image(corrections.flat_file, std::vector<float>(kN * kN, 2.0f));
  testing::TerminalCapture terminal;
  const testing::ResidentPeak peak;
  integrate(1, 2, "", status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_LT(peak.grown_bytes(), kImageBytes / 2);
  EXPECT_NEAR(at(6, 1), 0.5f, 1e-5f) << "member 1 halved by the flat field";
  EXPECT_NEAR(at(6, 2), 1.0f, 1e-5f);
}

TEST_F(SeriesIntegration, InputStacksTheChosenRowOfEveryFile) {
  for (int k = 1; k <= 3; ++k) {
    std::vector<float> data(kN * kN);
    for (Index j = 1; j <= kN; ++j)
      for (Index i = 1; i <= kN; ++i) data[element(i, j, kN)] = 100.0f * k + j;
    write_image(member(k), data);
  }
  testing::TerminalCapture terminal;
  first = member(1);
  testing::ScriptedInput input({"YES", member(3), "", "5"});
  Status status = kStatusGood;
  KZT_FSINPUT(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(input.remaining(), 0u);
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(a.xnumdat, kN);
  EXPECT_EQ(a.ynumdat, 3);
  for (Index k = 1; k <= 3; ++k) EXPECT_EQ(at(kN, k), 100.0f * k + 5.0f) << k;
  EXPECT_EQ(sets.ylabel, "Scan Number");
}

// A series of one row a file carries the first member's pixel sizes, and
// the detector's stored sizes stay the first one's, whatever a later
// member's header gives; members whose headers differ are said in one line,
// by the integration too (whose scans take the geometry form's sizes).
TEST_F(SeriesIntegration, MembersOfOtherPixelSizesAreSaidAndTheFirstsKept) {
  for (int k = 1; k <= 3; ++k)
    write_image(member(k), std::vector<float>(kN * kN, static_cast<float>(k)),
                k == 3 ? 1.72e-4f : 7.5e-5f);
  kzt_series_reader() = FIO_GUI_INPUT;
  const std::string line = "WARNING: Pixel sizes other than the first file's (7.500000E-05 x "
                           "7.500000E-05 m) in 1 member: " +
                           member(3) + " (1.720000E-04 x 1.720000E-04 m); ";
  {
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({member(1), "O.K.", "YES", member(3), "", "5"});
    Status status = kStatusGood;
    KZT_FSINPUT(sets, status);
    ASSERT_EQ(status, kStatusGood) << terminal.text();
    EXPECT_EQ(input.remaining(), 0u);
    EXPECT_EQ(vosq_kzt_arrays.ynumdat, 3);
    EXPECT_FLOAT_EQ(sets.x_pixel_size, 7.5e-5f);
    EXPECT_FLOAT_EQ(testing::stored_key("X_PIXEL_SIZE"), 7.5e-5f);
    EXPECT_FLOAT_EQ(testing::stored_key("Y_PIXEL_SIZE"), 7.5e-5f);
    EXPECT_NE(terminal.text().find(line + "the result has the first file's\n"), std::string::npos)
        << terminal.text();
  }
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({member(1), "O.K.", "YES", member(3), "", "EXIT", "NO"});
  Status status = kStatusGood;
  KZT_FSINTEGRATE(sets, status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(vosq_kzt_arrays.ynumdat, 3);
  EXPECT_NE(terminal.text().find(line + "every member was integrated with the geometry form's\n"),
            std::string::npos)
      << terminal.text();
}

TEST_F(SeriesIntegration, TheCorrectionFormIsAskedAndItsChoicesStored) {
  kzt_series_correction_form() = KZT_INP_CORRECTION;
  write_members(2);
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  integrate(1, 2, "", status, {"O.K."});
  kzt_series_correction_form() = correction_form;
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_EQ(vosq_kzt_arrays.ynumdat, 2);
  EXPECT_NEAR(at(1, 2), 2.0f, 1e-5f);
  bool flat = true;
  int retstat = 1;
  IO_INQ_LKEYVALUE("FF_CORRECTION", flat, retstat, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_FALSE(flat);
}

TEST_F(SeriesIntegration, DirectoryAndPipeMembersAreNotInputAndNothingWaits) {
  write_members(4);
  std::filesystem::remove(member(2));
  std::filesystem::create_directory(member(2));
  std::filesystem::remove(member(3));
  ASSERT_EQ(::mkfifo(member(3).c_str(), 0600), 0);
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  integrate(1, 4, "", status);
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(vosq_kzt_arrays.ynumdat, 4);
  for (const int k : {2, 3}) {
    EXPECT_EQ(at(1, k), 0.0f) << k;
    EXPECT_NE(terminal.text().find("WARNING: File not input: " + member(k)), std::string::npos);
  }
  EXPECT_NEAR(at(1, 4), 4.0f, 1e-5f);
}

// The series chosen in the window: after the first file, the last one's
// selection starts in the first one's folder with an empty name field, so
// that a name typed there is not added to the first one's.
class YesToEveryBox : public testing::ScriptedWindow {
 public:
  using ScriptedWindow::ScriptedWindow;
  int input_coordinate(int, int& type, float& x, float& y) override {
    const GsDrawnMenu& m = gs_drawn_menu;
    if (++waits > 20 || m.num_buttons != 4) return 1;
    const GsRect& yes = m.boxes[2];  // CANCEL, HELP, YES, NO
    type = kInputButton;
    x = (yes.xmin + yes.xmax) / 2;
    y = (yes.ymin + yes.ymax) / 2;
    return 0;
  }
};

struct SeriesInTheWindow : testing::WidgetFixture {
  testing::TempDir dir;
  KztDataSets sets;
  static inline std::string first;
  static void read_first(TextLines, int, const ImageTarget& target, bool& read,
                         std::string& file_name, Status& status) {
    file_name = first;
    int retstat = 1;
    float overload = 0.0f;
    FIO_IN_KESTA(true, target, file_name, retstat, overload, status);
    read = retstat == 0;
  }
  void SetUp() override {
    WidgetFixture::SetUp();
    auto driver = std::make_unique<YesToEveryBox>(&items);
    window = driver.get();
    qg_db_system.driver[0] = std::move(driver);
    const QgDbTransform& t = qg_db_transform;
    Status s = kStatusGood;
    window->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
    kzt_allocate_arrays(8, 8, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    kzt_series_reader() = read_first;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    kzt_series_reader() = FIO_GUI_INPUT;
    WidgetFixture::TearDown();
  }
};

TEST_F(SeriesInTheWindow, TheLastFileIsChosenWithAnEmptyNameField) {
  first = dir.file("member_001.kzt");
  std::vector<float> data(16, 1.0f), axis{0.5f, 1.5f, 2.5f, 3.5f};
  {
    testing::ScriptedInput input({first});
    int retstat = 1;
    Status s = kStatusGood;
    FIO_OUT_KESTA(false, "", 4, 4, 1, 1, 4, 4, axis, axis, data, {}, "t", "x", "y", "z", false,
                  1e-4f, 1e-4f, retstat, s);
    ASSERT_EQ(retstat, 0);
  }
  const ProgramImageTarget target(sets);
  Index xs = 0, ys = 0, xe = 0, ye = 0;
  int retstat = 0;
  KztFileSeries series;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_DEF_FS(false, target.target(), xs, ys, xe, ye, retstat, series, status);
  const auto field = std::find(window->prompts.begin(), window->prompts.end(),
                               "File Name (Optional)");
  ASSERT_NE(field, window->prompts.end()) << terminal.text();
  EXPECT_EQ(window->initial[static_cast<std::size_t>(field - window->prompts.begin())], "");
}

// A first name given from the working folder (by a macro, or typed): the
// last file's selection opens in the first one's folder, where a name typed
// is found, and the last file is named as the first one is, so the two give
// the series.
TEST_F(SeriesInTheWindow, TheLastFileIsChosenInTheFolderOfARelativeFirstName) {
  const std::filesystem::path working = std::filesystem::current_path();
  std::filesystem::create_directory(dir.path() / "ser");
  std::vector<float> data(16, 1.0f), axis{0.5f, 1.5f, 2.5f, 3.5f};
  for (const char* name : {"ser/m_001.kzt", "ser/m_005.kzt"}) {
    testing::ScriptedInput input({dir.file(name)});
    int retstat = 1;
    Status s = kStatusGood;
    FIO_OUT_KESTA(false, "", 4, 4, 1, 1, 4, 4, axis, axis, data, {}, "t", "x", "y", "z", false,
                  1e-4f, 1e-4f, retstat, s);
    ASSERT_EQ(retstat, 0);
  }
  std::filesystem::current_path(dir.path());
  first = "ser/m_001.kzt";
  window->events.push_back(testing::typed("m_005.kzt"));
  const ProgramImageTarget target(sets);
  Index xs = 0, ys = 0, xe = 0, ye = 0;
  int retstat = 1;
  KztFileSeries series;
  Status status = kStatusGood;
  testing::TerminalCapture terminal;
  KZT_DEF_FS(false, target.target(), xs, ys, xe, ye, retstat, series, status);
  std::filesystem::current_path(working);
  EXPECT_EQ(status, kStatusGood) << terminal.text();
  ASSERT_EQ(retstat, 0) << terminal.text();
  EXPECT_EQ(series.last_file, "ser/m_005.kzt");
  EXPECT_EQ(series.start, 1);
  EXPECT_EQ(series.end, 5);
  EXPECT_EQ(series.prefix, "ser/m_");
}

}  // namespace
}  // namespace kesta
