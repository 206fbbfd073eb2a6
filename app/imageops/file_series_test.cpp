#include "app/imageops/file_series.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/main/data_store.hpp"
#include "core/defaults_db.hpp"
#include "core/macro.hpp"
#include "formats/gui_input.hpp"
#include "formats/kesta_format.hpp"
#include "formats/row_blocks.hpp"
#include "formats/tiff_format.hpp"
#include "formats/tulma_format.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

TEST(Montage, GeometryDefaultsAndTiles) {
  const struct {
    Index members, per_row, rebin;
  } defaults[] = {{8, 2, 2}, {1, 1, 1}, {10, 3, 3}, {200, 10, 8}};
  for (const auto& d : defaults) {
    Index p = 0, r = 0;
    kzt_montage_defaults(d.members, p, r);
    EXPECT_EQ(std::vector<Index>({p, r}), std::vector<Index>({d.per_row, d.rebin})) << d.members;
  }
  const MontageGeometry g = kzt_montage_geometry(8, 101, 60, 2, 2);
  EXPECT_EQ(std::vector<Index>({g.width, g.height, g.rows, g.xsize, g.ysize}),
            std::vector<Index>({50, 30, 4, 100, 120}));
  const struct { Index k, x, y; } tiles[] = {{0, 1, 91}, {1, 51, 91}, {2, 1, 61}, {7, 51, 1}};
  for (const auto& t : tiles) {
    Index x = 0, y = 0;
    kzt_montage_tile(g, t.k, x, y);
    EXPECT_EQ(std::vector<Index>({x, y}), std::vector<Index>({t.x, t.y})) << t.k;
  }
}

TEST(FileSeries, NumbersStepInTheSeriesDirection) {
  KztFileSeries s;
  s.start = 3;
  s.end = 9;
  s.increment = 3;
  EXPECT_EQ(kzt_series_numbers(s), (std::vector<int>{3, 6, 9}));
  s.start = 9;
  s.end = 4;
  s.increment = 2;
  EXPECT_EQ(kzt_series_numbers(s), (std::vector<int>{9, 7, 5}));
  s.increment = 0;
  EXPECT_TRUE(kzt_series_numbers(s).empty());
  s.prefix = "run_";
  s.digits = 3;
  s.postfix = "a ";
  s.extension = ".kzt";
  std::string name;
  Status status = kStatusGood;
  ASSERT_TRUE(kzt_series_name(s, 7, name, status));
  EXPECT_EQ(name, "run_007a.kzt");
  EXPECT_FALSE(kzt_series_name(s, 12345, name, status));
}

// Real native files member_001.kzt ... of 8 x 6 pixels, member k holding k
// everywhere; the series definition reads the first into the current data.
struct SeriesFiles : testing::WidgetFixture {
  testing::TempDir dir;
  KztArrays saved = vosq_kzt_arrays;
  KztDataSets sets;
  static inline KztFileSeries defined;
  static constexpr Index kX = 8, kY = 6;

  static inline std::string background;  // what the file selection picks
  static void read_given(TextLines, int sequence, const ImageTarget& target, bool& read,
                         std::string& file_name, Status& status) {
    if (sequence == kFioSelectFile) file_name = background;
    int retstat = 1;
    float overload = 0.0f;
    FIO_IN_KESTA(true, target, file_name, retstat, overload, status);
    read = retstat == 0;
  }
  // The block-wise road of the same reader, and none (every member whole).
  static std::unique_ptr<RowSource> rows_given(std::string& file_name, bool& whole,
                                               Status& status) {
    whole = false;
    ScratchImage image;
    return open_kesta_rows(file_name, image, status);
  }
  static std::unique_ptr<RowSource> whole_only(std::string&, bool& whole, Status&) {
    whole = true;
    return nullptr;
  }
  static constexpr KztSeriesRowReader kRoads[] = {rows_given, whole_only};
  static void def_fs(bool, const ImageTarget& target, Index& xs, Index& ys, Index& xe, Index& ye,
                     int& retstat, KztFileSeries& series, Status& status) {
    bool read = false;
    std::string name = defined.first_file;
    read_given({}, kFioGivenName, target, read, name, status);
    retstat = read ? 0 : 1;
    const int increment = series.increment;
    series = defined;
    series.increment = increment;
    xs = ys = 1;
    xe = target.xnumdat;
    ye = target.ynumdat;
  }

  // The series definition's first read on the graphical road, the file
  // selection answered with the first file's name.
  static void def_fs_gui(bool, const ImageTarget& target, Index& xs, Index& ys, Index& xe,
                         Index& ye, int& retstat, KztFileSeries& series, Status& status) {
    bool read = false;
    std::string name = defined.first_file;
    FIO_GUI_INPUT({"SELECT FIRST FILE IN SERIES"}, kFioSelectFile, target, read, name, status);
    retstat = read ? 0 : 1;
    const int increment = series.increment;
    series = defined;
    series.increment = increment;
    xs = ys = 1;
    xe = target.xnumdat;
    ye = target.ynumdat;
  }

  void SetUp() override {
    WidgetFixture::SetUp();
    kzt_forget_answers();
    fio_reset_gui_input();
    vosq_kzt_arrays = KztArrays{};
    Status s = kStatusGood;
    kzt_allocate_arrays(16, 16, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    defined = KztFileSeries{};
    defined.prefix = dir.file("member_");
    defined.digits = 3;
    defined.extension = ".kzt";
    defined.start = 1;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = saved;
    kzt_series_reader() = FIO_GUI_INPUT;
    kzt_series_row_reader() = fio_gui_rows_input;
    WidgetFixture::TearDown();
  }
  // Member k holds k everywhere, or (IRREGULAR) values whose sums depend on
  // the order of the additions.
  void write_members(int count, bool irregular = false) {
    for (int k = 1; k <= count; ++k) write_member(k, kX, kY, irregular);
    defined.end = count;
    Status s = kStatusGood;
    kzt_series_name(defined, 1, defined.first_file, s);
    kzt_series_name(defined, count, defined.last_file, s);
  }
  void write_member(int k, Index nx, Index ny, bool irregular = false, float xps = 1e-4f,
                    float yps = 1e-4f) {
    std::vector<float> data(nx * ny), xaxis(nx), yaxis(ny);
    for (Index i = 0; i < nx; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < ny; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = irregular ? static_cast<float>((i * 7919 + k * 104729) % 9973) *
                                (k % 2 == 0 ? 3.1e5f : 1.7e-3f)
                          : static_cast<float>(k);
    std::string name;
    Status s = kStatusGood;
    ASSERT_TRUE(kzt_series_name(defined, k, name, s));
    testing::ScriptedInput input({name});
    int retstat = 1;
    FIO_OUT_KESTA(false, "", nx, ny, 1, 1, nx, ny, xaxis, yaxis, data, {}, "t", "x", "y", "z",
                  false, xps, yps, retstat, s);
    ASSERT_EQ(retstat, 0);
  }
  // Member K of NX x NY in the native format or TULMA, pixel (x, y) holding
  // 100 K + x + 30 y.
  void write_graded_member(int k, Index nx, Index ny, bool tulma) {
    std::vector<float> data(static_cast<std::size_t>(nx * ny)), xaxis(nx), yaxis(ny);
    for (Index y = 1; y <= ny; ++y)
      for (Index x = 1; x <= nx; ++x)
        data[static_cast<std::size_t>(element(x, y, nx))] =
            static_cast<float>(100 * k + x + 30 * y);
    std::string name;
    Status s = kStatusGood;
    ASSERT_TRUE(kzt_series_name(defined, k, name, s));
    int retstat = 1;
    if (tulma) {
      FIO_OUT_TULMA(name, nx, ny, 1, 1, nx, ny, data, retstat, s);
    } else {
      testing::ScriptedInput input({name});
      FIO_OUT_KESTA(false, "", nx, ny, 1, 1, nx, ny, xaxis, yaxis, data, {}, "t", "x", "y", "z",
                    false, 1e-4f, 1e-4f, retstat, s);
    }
    ASSERT_EQ(retstat, 0);
  }
  void replay(const std::string& lines) {
    testing::reset_dialogue();  // a macro not read to its end is closed
    std::string name = dir.file("series.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, name, s);
    ASSERT_EQ(s, kStatusGood);
  }
  float at(Index x, Index y) const {
    return vosq_kzt_arrays.data[element(x, y, vosq_kzt_arrays.xmaxdat)];
  }
};

TEST_F(SeriesFiles, AverageOfTenWithOneMissingAndOneOfAnotherSize) {
  write_members(10);
  write_member(6, kX + 1, kY);  // one column more: refused before it is added
  std::string missing, other;
  Status s = kStatusGood;
  kzt_series_name(defined, 4, missing, s);
  kzt_series_name(defined, 6, other, s);
  std::filesystem::remove(missing);
  ImageopsUpcalls table;
  table.def_fs = def_fs;
  UpcallsOverride with(table);
  kzt_series_reader() = read_given;
  for (const KztSeriesRowReader road : kRoads) {
    kzt_series_row_reader() = road;
    testing::TerminalCapture terminal;
    s = kStatusGood;
    KZT_AVERAGE(true, sets, s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_NEAR(at(1, 1), 45.0f / 8.0f, 1e-5f);
    EXPECT_NEAR(at(kX, kY), 45.0f / 8.0f, 1e-5f);
    EXPECT_EQ(at(kX + 1, 1), 0.0f);  // outside the image: untouched
    for (const std::string& name : {missing, other})
      EXPECT_NE(terminal.text().find("WARNING: File not input: " + name), std::string::npos);
    // The members' lines in their order, the refusals among them.
    std::string before;
    kzt_series_name(defined, 5, before, s);
    EXPECT_LT(terminal.text().find("INFO: Input " + before),
              terminal.text().find("WARNING: File not input: " + other))
        << terminal.text();
    EXPECT_NE(terminal.text().find("INFO: Number of correctly input images =      8"),
              std::string::npos);
    EXPECT_TRUE(sets.data_defined);
    EXPECT_EQ(sets.title, "member_001.kzt to member_010.kzt");
  }
}

// A first member larger than the arrays is read in part; the members of its
// size in their files are read cut to the same part and summed, or placed,
// while one of another size is refused with the reason the graphical input
// gives (whether or not the arrays would keep the same part of it), as are a
// member cut short and a directory. So on the native format's block road,
// read whole, and for TULMA.
TEST_F(SeriesFiles, MembersLargerThanTheArraysAreCutAsTheFirst) {
  ImageopsUpcalls table;
  table.def_fs = def_fs_gui;
  UpcallsOverride with(table);
  kzt_series_reader() = FIO_GUI_INPUT;
  const struct {
    bool tulma;
    KztSeriesRowReader road;
  } cases[] = {{false, fio_gui_rows_input}, {false, whole_only}, {true, fio_gui_rows_input}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tulma ? "TULMA" : c.road == whole_only ? "native, whole" : "native");
    kzt_series_row_reader() = c.road;
    testing::reset_dialogue();  // the last case's macro
    defined.extension = c.tulma ? ".wlt" : ".kzt";
    // The arrays are 16 x 16: members 1, 2 and 5 are cut to their first 16
    // columns; 3 has that size in its file, 4 another one larger than it.
    const Index widths[] = {20, 20, 16, 18, 20, 20};
    for (int k = 1; k <= 6; ++k) write_graded_member(k, widths[k - 1], 6, c.tulma);
    std::string names[8];
    Status s = kStatusGood;
    for (int k = 1; k <= 7; ++k) kzt_series_name(defined, k, names[k], s);
    std::filesystem::resize_file(names[6], std::filesystem::file_size(names[6]) - 40);
    std::filesystem::remove_all(names[7]);
    std::filesystem::create_directory(names[7]);
    defined.end = 7;
    defined.first_file = names[1];
    defined.last_file = names[7];
    for (const bool composite : {false, true}) {
      SCOPED_TRACE(composite ? "composite" : "average");
      fio_reset_gui_input();
      kzt_forget_answers();
      Status freed = kStatusGood;
      kzt_free_arrays(vosq_kzt_arrays, freed);
      kzt_allocate_arrays(16, 16, true, false, false, vosq_kzt_arrays, freed);
      ASSERT_EQ(freed, kStatusGood);
      testing::TerminalCapture terminal;
      s = kStatusGood;
      if (composite) {
        // Four tiles of 16 x 6 a row, in arrays made bigger.
        replay(names[1] + "\nSUBTRACT\nNO\nROI\nNO\nNO. PER ROW\n4\nRE-BIN NO.\n1\nO.K.\nYES\n");
        KZT_COMPOSITE(sets, s);
      } else {
        replay(names[1] + "\n");
        KZT_AVERAGE(true, sets, s);
      }
      ASSERT_EQ(s, kStatusGood) << terminal.text();
      const std::string said = terminal.text();
      for (int k : {3, 4})
        EXPECT_NE(said.find("WARNING: File not the size of the first file: " + names[k]),
                  std::string::npos)
            << k << said;
      for (int k : {3, 4, 6, 7})
        EXPECT_NE(said.find("WARNING: File not input: " + names[k]), std::string::npos)
            << k << said;
      for (int k : {2, 5})
        EXPECT_NE(said.find("INFO: Input " + names[k]), std::string::npos) << k << said;
      // One reason a member, whichever road read it.
      EXPECT_EQ(said.find("PROBLEM INPUTTING"), std::string::npos) << said;
      if (composite) {
        ASSERT_EQ(vosq_kzt_arrays.xnumdat, 64);
        ASSERT_EQ(vosq_kzt_arrays.ynumdat, 12);
        // Member k's tile from (16 (k - 1 mod 4) + 1, 7 or 1).
        EXPECT_EQ(at(1, 7), 131.0f);
        EXPECT_EQ(at(32, 12), 200.0f + 16 + 180);
        EXPECT_EQ(at(33, 7), 0.0f);
        EXPECT_EQ(at(64, 12), 0.0f);
        EXPECT_EQ(at(16, 6), 500.0f + 16 + 180);
        EXPECT_EQ(at(17, 1), 0.0f);
      } else {
        EXPECT_NE(said.find("INFO: Number of correctly input images =      3"),
                  std::string::npos)
            << said;
        for (const auto& [x, y] : {std::pair<Index, Index>{1, 1}, {16, 1}, {16, 6}, {7, 4}})
          EXPECT_NEAR(at(x, y), 800.0f / 3 + static_cast<float>(x + 30 * y), 1e-3f) << x << y;
        EXPECT_EQ(vosq_kzt_arrays.xnumdat, 16);
      }
    }
    std::filesystem::remove_all(names[7]);
  }
}

// TIFF members give no pixel sizes: the sum leaves the stored ones as they
// were, so that a later integration still knows the detector's.
TEST_F(SeriesFiles, TiffSumKeepsTheStoredPixelSizes) {
  ImageopsUpcalls table;
  table.def_fs = def_fs_gui;
  UpcallsOverride with(table);
  kzt_series_reader() = FIO_GUI_INPUT;
  kzt_series_row_reader() = fio_gui_rows_input;
  defined.extension = ".tif";
  defined.end = 2;
  Status s = kStatusGood;
  const std::vector<float> ones(12 * 10, 1.0f);
  for (int k = 1; k <= 2; ++k) {
    std::string name;
    ASSERT_TRUE(kzt_series_name(defined, k, name, s));
    testing::ScriptedInput answers({name, "2 BYTE UNSIGNED INTEGERS", "0", "65535"});
    int bits = 16;
    FIO_OUT_TIFF(false, "", 12, 10, 1, 1, 12, 10, ones, "t", 0.0f, 0.0f, name, bits, s);
    ASSERT_EQ(s, kStatusGood);
  }
  kzt_series_name(defined, 1, defined.first_file, s);
  kzt_series_name(defined, 2, defined.last_file, s);
  int stored = 1;
  IO_SET_RKEYVALUE("X_PIXEL_SIZE", 1.0e-4f, stored, s);
  IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 1.0e-4f, stored, s);
  replay(defined.first_file + "\nO.K.\n");
  testing::TerminalCapture terminal;
  KZT_AVERAGE(false, sets, s);
  ASSERT_EQ(s, kStatusGood) << terminal.text();
  EXPECT_NE(terminal.text().find("INFO: Number of correctly input images =      2"),
            std::string::npos)
      << terminal.text();
  EXPECT_EQ(at(12, 10), 2.0f);
  float xps = 0, yps = 0;
  int retstat = 1;
  IO_INQ_RKEYVALUE("X_PIXEL_SIZE", xps, retstat, s);
  IO_INQ_RKEYVALUE("Y_PIXEL_SIZE", yps, retstat, s);
  EXPECT_EQ(retstat, 0);
  EXPECT_FLOAT_EQ(xps, 1.0e-4f);
  EXPECT_FLOAT_EQ(yps, 1.0e-4f);
}

// The sum, the average and the montage carry the first member's pixel
// sizes, and so do the detector's stored sizes afterwards, whatever a later
// member's header (or a montage's background) gives; members whose headers
// differ are said in one line, on either road of their reading. A series
// whose members agree says nothing of them.
TEST_F(SeriesFiles, TheResultsPixelSizesAreTheFirstMembersAndStoredSo) {
  ImageopsUpcalls table;
  table.def_fs = def_fs_gui;
  UpcallsOverride with(table);
  kzt_series_reader() = FIO_GUI_INPUT;
  defined.end = 4;
  Status s = kStatusGood;
  kzt_series_name(defined, 1, defined.first_file, s);
  kzt_series_name(defined, 4, defined.last_file, s);
  kzt_series_name(defined, 9, background, s);
  write_member(9, kX, kY, false, 1e-4f, 1e-4f);
  const auto stored = [](const char* key) {
    float v = 0.0f;
    int retstat = 1;
    Status local = kStatusGood;
    IO_INQ_RKEYVALUE(key, v, retstat, local);
    return v;
  };
  for (const bool differ : {true, false}) {
    for (int k = 1; k <= 4; ++k)
      write_member(k, kX, kY, false, differ && k >= 3 ? 1.72e-4f : 7.5e-5f,
                   differ && k >= 3 ? 1.72e-4f : 8.5e-5f);
    for (const KztSeriesRowReader road : {fio_gui_rows_input, whole_only}) {
      kzt_series_row_reader() = road;
      for (const int operation : {0, 1, 2}) {
        SCOPED_TRACE(std::string(differ ? "differing, " : "alike, ") +
                     (road == whole_only ? "whole, " : "rows, ") + std::to_string(operation));
        fio_reset_gui_input();
        kzt_forget_answers();
        testing::TerminalCapture terminal;
        s = kStatusGood;
        if (operation == 2) {
          // Tiles of 8 x 6 two a row, the background of 100 microns.
          replay(defined.first_file + "\nROI\nNO\nRE-BIN NO.\n1\nO.K.\n" + background +
                 "\nYES\n");
          KZT_COMPOSITE(sets, s);
        } else {
          replay(defined.first_file + "\n");
          KZT_AVERAGE(operation == 1, sets, s);
        }
        ASSERT_EQ(s, kStatusGood) << terminal.text();
        EXPECT_FLOAT_EQ(sets.x_pixel_size, 7.5e-5f);
        EXPECT_FLOAT_EQ(sets.y_pixel_size, 8.5e-5f);
        EXPECT_FLOAT_EQ(stored("X_PIXEL_SIZE"), 7.5e-5f);
        EXPECT_FLOAT_EQ(stored("Y_PIXEL_SIZE"), 8.5e-5f);
        std::string third;
        kzt_series_name(defined, 3, third, s);
        const std::string said = terminal.text();
        const std::size_t line = said.find("WARNING: Pixel sizes other than the first file's");
        if (differ) {
          EXPECT_NE(said.find("WARNING: Pixel sizes other than the first file's (7.500000E-05 x "
                              "8.500000E-05 m) in 2 members, the first " +
                              third + " (1.720000E-04 x 1.720000E-04 m); the result has the "
                                      "first file's\n"),
                    std::string::npos)
              << said;
          EXPECT_EQ(said.find("WARNING: Pixel sizes", line + 1), std::string::npos) << said;
        } else {
          EXPECT_EQ(line, std::string::npos) << said;
        }
      }
    }
  }
}

// Members whose rows are far longer than the part kept are read whole, cut
// as they are read, not through buffers of their whole rows.
TEST_F(SeriesFiles, MembersOfRowsLongerThanABlockAreCutAsTheFirst) {
  ImageopsUpcalls table;
  table.def_fs = def_fs_gui;
  UpcallsOverride with(table);
  kzt_series_reader() = FIO_GUI_INPUT;
  for (int k = 1; k <= 3; ++k) write_graded_member(k, 70000, 2, false);
  defined.end = 3;
  Status s = kStatusGood;
  kzt_series_name(defined, 1, defined.first_file, s);
  kzt_series_name(defined, 3, defined.last_file, s);
  replay(defined.first_file + "\n");
  testing::TerminalCapture terminal;
  KZT_AVERAGE(false, sets, s);
  ASSERT_EQ(s, kStatusGood) << terminal.text();
  EXPECT_NE(terminal.text().find("INFO: Number of correctly input images =      3"),
            std::string::npos)
      << terminal.text();
  EXPECT_EQ(at(16, 2), 600.0f + 3 * (16 + 60));
  EXPECT_EQ(at(1, 1), 600.0f + 3 * 31);
  // The native reader's line of a cut read, once: for the first of them,
  // the others having its size.
  const std::string said = terminal.text();
  std::size_t cut = 0;
  for (std::size_t pos = said.find("Not all of the data"); pos != std::string::npos;
       pos = said.find("Not all of the data", pos + 1))
    ++cut;
  EXPECT_EQ(cut, 1u) << said;
}

// A background of another format than the series' does not change the
// format the later members are read in, on either road.
TEST_F(SeriesFiles, CompositeBackgroundOfAnotherFormat) {
  ImageopsUpcalls table;
  table.def_fs = def_fs_gui;
  UpcallsOverride with(table);
  kzt_series_reader() = FIO_GUI_INPUT;
  for (int k = 1; k <= 3; ++k) write_graded_member(k, kX, kY, false);
  defined.end = 3;
  Status s = kStatusGood;
  kzt_series_name(defined, 1, defined.first_file, s);
  kzt_series_name(defined, 3, defined.last_file, s);
  const std::string flat = dir.file("background.wlt");
  const std::vector<float> ones(kX * kY, 1.0f);
  int retstat = 1;
  FIO_OUT_TULMA(flat, kX, kY, 1, 1, kX, kY, ones, retstat, s);
  ASSERT_EQ(retstat, 0);
  for (const KztSeriesRowReader road : {fio_gui_rows_input, whole_only}) {
    kzt_series_row_reader() = road;
    fio_reset_gui_input();
    kzt_forget_answers();
    // Tiles of 8 x 6, two a row; SUBTRACT is on at first.
    replay(defined.first_file + "\nROI\nNO\nRE-BIN NO.\n1\nO.K.\n" + flat + "\nYES\n");
    testing::TerminalCapture terminal;
    KZT_COMPOSITE(sets, s);
    ASSERT_EQ(s, kStatusGood) << terminal.text();
    EXPECT_EQ(terminal.text().find("File not input"), std::string::npos) << terminal.text();
    EXPECT_EQ(std::vector<float>({at(1, 7), at(9, 7), at(8, 6)}),
              std::vector<float>({130, 230, 487}));
  }
}

TEST_F(SeriesFiles, CompositeOfEightWithOneMissing) {
  write_members(8);
  std::string missing;
  Status s = kStatusGood;
  kzt_series_name(defined, 3, missing, s);
  std::filesystem::remove(missing);
  ImageopsUpcalls table;
  table.def_fs = def_fs;
  UpcallsOverride with(table);
  kzt_series_reader() = read_given;
  for (const KztSeriesRowReader road : kRoads) {
    kzt_series_row_reader() = road;
    kzt_forget_answers();
    replay("SUBTRACT\nNO\nROI\nNO\nO.K.\n");
    testing::TerminalCapture terminal;
    s = kStatusGood;
    KZT_COMPOSITE(sets, s);
    ASSERT_EQ(s, kStatusGood);
    // 2 per row, re-binned by 2: tiles of 4 x 3 in 4 rows, from the top.
    const KztArrays& a = vosq_kzt_arrays;
    EXPECT_EQ(std::vector<Index>({a.xnumdat, a.ynumdat, a.xendelm, a.yendelm}),
              std::vector<Index>({8, 12, 8, 12}));
    const struct {
      Index x, y;
      float value;
    } cells[] = {{1, 12, 1}, {4, 10, 1}, {5, 12, 2}, {1, 9, 0}, {8, 7, 4}, {1, 1, 7}, {8, 3, 8}};
    for (const auto& c : cells) EXPECT_EQ(at(c.x, c.y), c.value) << c.x << "," << c.y;
    EXPECT_FLOAT_EQ(a.xaxis[2], 1.0f);  // steps of 1 / 2 from 0
    EXPECT_NE(terminal.text().find("WARNING: File not input: " + missing), std::string::npos);
    EXPECT_EQ(sets.title, "member_001.kzt to member_008.kzt");
  }
}

TEST_F(SeriesFiles, CompositeSubtractsTheBackgroundFromEveryMember) {
  write_members(4);
  Status s = kStatusGood;
  kzt_series_name(defined, 2, background, s);
  ImageopsUpcalls table;
  table.def_fs = def_fs;
  UpcallsOverride with(table);
  kzt_series_reader() = read_given;
  replay("ROI\nNO\nRE-BIN NO.\n1\nO.K.\nYES\n");  // SUBTRACT is on at first
  KZT_COMPOSITE(sets, s);
  ASSERT_EQ(s, kStatusGood);
  // Member k less member 2 in tiles of 8 x 6, two per row.
  EXPECT_EQ(std::vector<float>({at(1, 12), at(9, 12), at(1, 1), at(16, 6)}),
            std::vector<float>({-1, 0, 1, 2}));
}

// A background smaller than the region is refused in a line, so that a
// replayed macro (whose next line is then asked as the file again) says why;
// nothing is made of the series.
TEST_F(SeriesFiles, CompositeRefusesASmallBackgroundInALine) {
  write_members(3);
  write_member(9, kX / 2, kY / 2);
  Status s = kStatusGood;
  kzt_series_name(defined, 9, background, s);
  ImageopsUpcalls table;
  table.def_fs = def_fs;
  UpcallsOverride with(table);
  kzt_series_reader() = read_given;
  replay("ROI\nNO\nRE-BIN NO.\n1\nO.K.\nYES\n");  // SUBTRACT is on at first
  testing::TerminalCapture terminal;
  KZT_COMPOSITE(sets, s);
  EXPECT_NE(terminal.text().find("WARNING: Background image smaller than the region: " +
                                 background + " (4 x 3 pixels, the region ends at 8, 6)"),
            std::string::npos)
      << terminal.text();
  const KztArrays& a = vosq_kzt_arrays;
  EXPECT_EQ(std::vector<Index>({a.xnumdat, a.ynumdat}), std::vector<Index>({kX, kY}));
}

// Both operations give the same bits whether members are read whole or in
// blocks of rows.
TEST_F(SeriesFiles, BlockwiseReadingGivesTheWholeReadingsBits) {
  write_members(5, true);
  Status s = kStatusGood;
  kzt_series_name(defined, 2, background, s);
  ImageopsUpcalls table;
  table.def_fs = def_fs;
  UpcallsOverride with(table);
  kzt_series_reader() = read_given;
  const KztArrays& a = vosq_kzt_arrays;
  const auto image = [&] { return std::vector<float>(a.data, a.data + a.xmaxdat * a.ymaxdat); };
  const char* composites[] = {"ROI\nNO\nNO. PER ROW\n3\nRE-BIN NO.\n2\nO.K.\nYES\n",
                              "SUBTRACT\nNO\nROI\nNO\nNO. PER ROW\n3\nRE-BIN NO.\n3\nO.K.\n"};
  for (int operation = 0; operation < 3; ++operation) {
    std::vector<float> results[2];
    for (int road = 0; road < 2; ++road) {
      kzt_series_row_reader() = kRoads[road];
      kzt_forget_answers();
      s = kStatusGood;
      if (operation == 0) {
        KZT_AVERAGE(true, sets, s);
      } else {
        replay(composites[operation - 1]);
        KZT_COMPOSITE(sets, s);
      }
      ASSERT_EQ(s, kStatusGood) << operation;
      results[road] = image();
    }
    EXPECT_EQ(results[0], results[1]) << operation;
  }
}

// A member that cannot be read to its end after its first rows were added:
// the sum is lost and said to be, not reported as an average.
TEST_F(SeriesFiles, AverageStopsOnAMemberCutWhileAdded) {
  write_members(3);
  ImageopsUpcalls table;
  table.def_fs = def_fs;
  UpcallsOverride with(table);
  kzt_series_reader() = read_given;
  // Member 3 fails its first block, after member 2's was added.
  struct Failing final : RowSource {
    Failing() : RowSource(kX, kY) {}
    bool rows(Index, Index, std::span<float>, Status& status) override {
      IO_WRITE("WARNING: File member_003.kzt could not be read to its end", status);
      return false;
    }
  };
  kzt_series_row_reader() = [](std::string& name, bool& whole,
                               Status& status) -> std::unique_ptr<RowSource> {
    if (name.ends_with("member_003.kzt")) return std::make_unique<Failing>();
    return rows_given(name, whole, status);
  };
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  KZT_AVERAGE(true, sets, s);
  EXPECT_EQ(s, kBaseApp + 20);
  EXPECT_NE(terminal.text().find("member_003.kzt; the sum is incomplete"), std::string::npos);
  EXPECT_EQ(terminal.text().find("INFO: Number of correctly input images"), std::string::npos);
}

TEST_F(SeriesFiles, CompositeBiggerThanTheArraysAsksFirst) {
  write_members(3);
  ImageopsUpcalls table;
  table.def_fs = def_fs;
  UpcallsOverride with(table);
  kzt_series_reader() = read_given;
  // 3 per row, no re-binning: 24 x 6 does not fit 16 x 16.
  for (const char* answer : {"NO", "YES"}) {
    replay(std::string("SUBTRACT\nNO\nROI\nNO\nNO. PER ROW\n3\nRE-BIN NO.\n1\nO.K.\n") + answer +
           "\n");
    sets.memory_defined = true;
    Status s = kStatusGood;
    testing::TerminalCapture terminal;
    KZT_COMPOSITE(sets, s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_NE(terminal.text().find("INFO: Required size for internal arrays =     24 *      6 "
                                   "pixels"),
              std::string::npos);
    const KztArrays& a = vosq_kzt_arrays;
    if (answer == std::string("NO")) {
      EXPECT_EQ(a.xmaxdat, 16);
      EXPECT_TRUE(sets.memory_defined);
      EXPECT_EQ(at(1, 1), 1.0f);  // the first file as the definition read it
    } else {
      EXPECT_EQ(std::vector<Index>({a.xmaxdat, a.ymaxdat, a.xnumdat}),
                std::vector<Index>({24, 6, 24}));
      EXPECT_FALSE(sets.memory_defined);
      EXPECT_NE(a.mdata, nullptr);
      EXPECT_EQ(std::vector<float>({at(1, 1), at(9, 6), at(24, 1)}), std::vector<float>({1, 2, 3}));
    }
  }
}

}  // namespace
}  // namespace kesta
