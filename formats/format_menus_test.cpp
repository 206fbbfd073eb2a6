#include "formats/format_menus.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <tuple>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/test_support.hpp"
#include "formats/scan_formats.hpp"
#include "formats/special_files_test_support.hpp"
#include "formats/tulma_format.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

struct DataSet {
  DataSet(Index x, Index y) : xmax(x), ymax(y), data(x * y, 42.0f), variances(x * y), xaxis(x), yaxis(y) {}
  Index xmax, ymax;
  std::vector<float> data, variances, xaxis, yaxis;
  std::string file = "last.dat", title = "current", xlabel, ylabel, zlabel;
  float xps = 3.0f, yps = 3.0f;
  Index xnum = 2, ynum = 2;
  bool variances_exist = false, defined = true;
};

class FormatMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    vosq_io_dbdb.paging_on = false;
    io_clear_database();
    fio_reset_format_menus();
  }
  void TearDown() override {
    io_clear_database();
    fio_reset_format_menus();
  }
  void input(DataSet& d, std::vector<std::string> answers) {
    testing::ScriptedInput script(std::move(answers));
    FIO_INPUT(d.xmax, d.ymax, d.file, d.variances_exist, d.defined, d.xnum, d.ynum, d.xaxis,
              d.yaxis, d.data, d.variances, d.title, d.xlabel, d.ylabel, d.zlabel, d.xps, d.yps,
              status_);
    prompts_ = script.prompts;
  }
  void output(const DataSet& d, std::vector<std::string> answers) {
    testing::ScriptedInput script(std::move(answers));
    FIO_OUTPUT(d.file, d.xmax, d.ymax, 1, 1, d.xmax, d.ymax, d.xaxis, d.yaxis, d.data,
               d.variances, d.title, d.xlabel, d.ylabel, d.zlabel, d.variances_exist, d.xps,
               d.yps, status_);
    prompts_ = script.prompts;
  }
  std::string key(const std::string& k) {
    int length = 0, retstat = 0;
    std::string value;
    IO_INQ_KEYVALUE(k, length, value, retstat, status_);
    return retstat == 0 ? value.substr(0, static_cast<std::size_t>(length)) : "<absent>";
  }

  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
  std::vector<std::string> prompts_;
};

TEST_F(FormatMenus, FirstInputProposesAFormatByArraySizeThenTheLastChoice) {
  struct Case {
    Index x, y;
    const char* format;
  };
  for (const Case& c : {Case{512, 1, "GAS 2-D DETECTOR (OZWA)"}, Case{3000, 2, "RIGAKU R-AXIS"},
                        Case{2304, 5, "IMAGEQUANT"}, Case{1200, 5, "NEW MAR CODE"},
                        Case{100, 1, "1-D ASCII FREE FORMAT"}, Case{100, 3, "WESS FORMAT"}}) {
    fio_reset_format_menus();
    DataSet d(c.x, c.y);
    // An empty answer takes the proposed format.
    const bool typed = c.x == 100 && c.y == 3;
    input(d, {typed ? "WESS" : ""});
    // Typed: the WESS reader's first question follows.
    EXPECT_NE(prompts_.at(typed ? 1 : 0).find(typed ? "INPUT DATA X-SIZE" : c.format),
              std::string::npos)
        << c.format;
    // A reader's question met the end of the input: a fresh dialogue.
    status_ = ST_GOOD();
    testing::reset_dialogue();
  }
  DataSet d(100, 3);
  input(d, {""});
  EXPECT_NE(prompts_.at(0).find("WESS FORMAT"), std::string::npos) << "the last choice";
  status_ = ST_GOOD();
  testing::reset_dialogue();
  fio_reset_format_menus();
  input(d, {""});
  EXPECT_NE(prompts_.at(0).find("KESTA STANDARD FORMAT"), std::string::npos);
  EXPECT_NE(prompts_.at(1).find("INPUT FILE NAME"), std::string::npos);
}

TEST_F(FormatMenus, RemovedFormatChangesNothing) {
  DataSet d(8, 8);
  input(d, {"PMC"});
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_TRUE(d.defined);
  EXPECT_EQ(d.title, "current");
  EXPECT_EQ(d.xnum, 2);
  EXPECT_EQ(d.data[0], 42.0f);
  EXPECT_NE(terminal_.text().find("WARNING: Format support removed"), std::string::npos);
  EXPECT_EQ(key("#INPUT_FORMAT"), "<absent>");
}

TEST_F(FormatMenus, QuestionMarkListsTheFormatsAndTulmaNoteShowsOnce) {
  DataSet d(8, 8);
  input(d, {"?", "TULMA"});  // the end of the input escapes from the file name
  status_ = ST_GOOD();
  std::string out = terminal_.text();
  EXPECT_NE(out.find("WESS FORMAT: Simple byte format"), std::string::npos);
  EXPECT_NE(out.find("?: List of available formats and commands"), std::string::npos);
  EXPECT_NE(out.find("imgCIF/CBF"), std::string::npos);
  input(d, {"OZWA DATA"});
  status_ = ST_GOOD();
  out = terminal_.text();
  EXPECT_EQ(out.find("imgCIF/CBF"), out.rfind("imgCIF/CBF")) << "the note only once per run";

  // The list is no choice: the question comes again with the default it had.
  fio_reset_format_menus();
  input(d, {"?", "", "\\\\"});
  ASSERT_GE(prompts_.size(), 3u);
  EXPECT_NE(prompts_[1].find("KESTA STANDARD FORMAT"), std::string::npos) << prompts_[1];
  EXPECT_NE(prompts_[2].find("INPUT FILE NAME"), std::string::npos) << prompts_[2];
  status_ = ST_GOOD();
  input(d, {""});
  EXPECT_NE(prompts_.at(0).find("KESTA STANDARD FORMAT"), std::string::npos) << prompts_[0];
}

TEST_F(FormatMenus, NativeFileReadThroughTheMenuStoresTheKeys) {
  DataSet source(4, 3);
  std::iota(source.data.begin(), source.data.end(), 1.0f);
  source.xps = 5e-5f;
  source.yps = 6e-5f;
  const std::string path = dir_.file("image.kzt");
  output(source, {"", path});  // the first output proposes the native format
  ASSERT_EQ(status_, kStatusGood);

  DataSet d(4, 3);
  d.defined = false;
  input(d, {"KESTA", path});
  ASSERT_EQ(status_, kStatusGood);
  EXPECT_TRUE(d.defined);
  EXPECT_EQ(d.data, source.data);
  EXPECT_EQ(d.xnum, 4);
  EXPECT_EQ(d.ynum, 3);
  EXPECT_EQ(d.file, path);
  EXPECT_EQ(key("#INPUT_FORMAT"), "KESTA STANDARD FORMAT");
  float overload = 0, xps = 0;
  int retstat = 0;
  IO_INQ_RKEYVALUE("#OVERLOAD_VALUE", overload, retstat, status_);
  IO_INQ_RKEYVALUE("X_PIXEL_SIZE", xps, retstat, status_);
  EXPECT_EQ(retstat, 0);
  EXPECT_FLOAT_EQ(overload, 1.7e38f);
  EXPECT_FLOAT_EQ(xps, 5e-5f);

  // A failed read keeps the data set and stores nothing new.
  io_clear_database();
  input(d, {"KESTA", dir_.file("missing.kzt")});
  EXPECT_TRUE(d.defined);
  EXPECT_EQ(d.data, source.data);
  EXPECT_EQ(key("#INPUT_FORMAT"), "<absent>");
}

// The step of a scan is no detector pixel size: a scan takes its file's
// step as its own X size and the stored detector size where its file gives
// none, never the data set's before (3.0 here); the stored sizes stay.
TEST_F(FormatMenus, ScansKeepTheirStepsAndStoreNoSize) {
  const std::string curve = dir_.file("curve.mvd"), powder = dir_.file("powder.pds");
  {
    std::FILE* f = std::fopen(curve.c_str(), "w");
    std::fputs("title\nx\nz\n3\n1.0 4\n1.05 5\n1.1 6\n", f);
    std::fclose(f);
    std::vector<float> intensity{1.0f, 2.0f, 3.0f}, second(3, 0.0f);
    testing::ScriptedInput name({powder});
    FIO_OUT_PDS(1.0f, "Powder", 0.02f, 0.001f, 3, 3, intensity, second, status_);
    ASSERT_EQ(status_, kStatusGood);
  }
  for (const auto& [format, path, step] :
       {std::tuple{"MERVODA", curve, 0.05f}, std::tuple{"PDS", powder, 0.057f}}) {
    io_clear_database();
    int stored = 1;
    IO_SET_RKEYVALUE("X_PIXEL_SIZE", 7.5e-5f, stored, status_);
    IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 6.5e-5f, stored, status_);
    DataSet d(8, 8);
    input(d, {format, path});
    ASSERT_EQ(status_, kStatusGood) << format;
    EXPECT_EQ(d.xnum, 3) << format;
    EXPECT_EQ(d.ynum, 1) << format;
    EXPECT_NEAR(d.xps, step, 1e-6f) << format;
    EXPECT_FLOAT_EQ(d.yps, 6.5e-5f) << format;
    float xps = 0, yps = 0;
    int retstat = 1;
    IO_INQ_RKEYVALUE("X_PIXEL_SIZE", xps, retstat, status_);
    EXPECT_EQ(retstat, 0) << format;
    IO_INQ_RKEYVALUE("Y_PIXEL_SIZE", yps, retstat, status_);
    EXPECT_FLOAT_EQ(xps, 7.5e-5f) << format;
    EXPECT_FLOAT_EQ(yps, 6.5e-5f) << format;
    EXPECT_EQ(key("#INPUT_FORMAT"), std::string(format) + " FORMAT") << format;
  }
}

// Only the pixel sizes a reader gave from its file are stored: a TULMA file
// gives none, and a scan saved in the native format carries its bin widths
// as pixel sizes, which the data set takes and the database does not. An
// image whose file gives no size above 0 takes the stored detector sizes,
// never the data set's before (3.0 here) or a reader's default.
TEST_F(FormatMenus, OnlyPixelSizesOfADetectorFileAreStored) {
  DataSet scan(5, 1);
  scan.xps = 2.9089e-3f;
  scan.yps = 360.0f;
  const std::string native = dir_.file("scan.kzt"), tulma = dir_.file("frame.wlt"),
                    raw = dir_.file("frame.bin");
  output(scan, {"", native});
  ASSERT_EQ(status_, kStatusGood);
  int retstat = 1;
  const DataSet frame(4, 3);
  FIO_OUT_TULMA(tulma, 4, 3, 1, 1, 4, 3, frame.data, retstat, status_);
  ASSERT_EQ(retstat, 0);
  // Without its ".info" file a BINARY image's pixel sizes are the reader's
  // default, no size of the file.
  std::ofstream(raw, std::ios::binary) << std::string(24, '\1');
  // An image saved by a session whose database held zeros carries them: a
  // size of 0.0 is no detector's.
  DataSet zero(4, 3);
  zero.xps = zero.yps = 0.0f;
  const std::string zeroed = dir_.file("zeroed.kzt");
  output(zero, {"", zeroed});
  ASSERT_EQ(status_, kStatusGood);
  for (const auto& [answers, ynum, xps, format] :
       {std::tuple{std::vector<std::string>{"KESTA", native}, 1, 2.9089e-3f,
                   "KESTA STANDARD FORMAT"},
        std::tuple{std::vector<std::string>{"TULMA", tulma, "1"}, 3, 7.5e-5f, "TULMA"},
        std::tuple{std::vector<std::string>{"BINARY", raw, "4", "3", "", "", ""}, 3, 7.5e-5f,
                   "BINARY (UNFORMATTED)"},
        std::tuple{std::vector<std::string>{"KESTA", zeroed}, 3, 7.5e-5f,
                   "KESTA STANDARD FORMAT"}}) {
    int stored = 1;
    IO_SET_RKEYVALUE("X_PIXEL_SIZE", 7.5e-5f, stored, status_);
    IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 7.5e-5f, stored, status_);
    DataSet d(8, 8);
    input(d, answers);
    ASSERT_EQ(status_, kStatusGood) << format;
    EXPECT_EQ(d.ynum, ynum) << format;
    EXPECT_FLOAT_EQ(d.xps, xps) << format;
    EXPECT_FLOAT_EQ(d.yps, ynum == 1 ? 360.0f : 7.5e-5f) << format;
    EXPECT_EQ(key("#INPUT_FORMAT"), format);
    float x = 0, y = 0;
    IO_INQ_RKEYVALUE("X_PIXEL_SIZE", x, retstat, status_);
    IO_INQ_RKEYVALUE("Y_PIXEL_SIZE", y, retstat, status_);
    EXPECT_EQ(retstat, 0);
    EXPECT_FLOAT_EQ(x, 7.5e-5f) << format;
    EXPECT_FLOAT_EQ(y, 7.5e-5f) << format;
  }

  // Sizes above 0 that no detector has (a damaged header, files saved while
  // a scan's step was stored): the image keeps them, the database does not
  // take them, and one line says so.
  for (const auto& [xsize, ysize, said] :
       {std::tuple{1e-20f, 1e-20f, "X pixel size 1.000000E-20 m and Y pixel size "
                                   "1.000000E-20 m are"},
        std::tuple{1.0f, 5e-5f, "X pixel size 1.000000 m is"}}) {
    DataSet odd(4, 3);
    odd.xps = xsize;
    odd.yps = ysize;
    const std::string path = dir_.file("odd.kzt");
    output(odd, {"", path});
    ASSERT_EQ(status_, kStatusGood);
    int stored = 1;
    IO_SET_RKEYVALUE("X_PIXEL_SIZE", 7.5e-5f, stored, status_);
    IO_SET_RKEYVALUE("Y_PIXEL_SIZE", 7.5e-5f, stored, status_);
    const std::size_t before = terminal_.text().size();
    DataSet d(8, 8);
    input(d, {"KESTA", path});
    ASSERT_EQ(status_, kStatusGood);
    EXPECT_FLOAT_EQ(d.xps, xsize);
    EXPECT_FLOAT_EQ(d.yps, ysize);
    EXPECT_EQ(key("X_PIXEL_SIZE"), "7.500000E-05");
    EXPECT_EQ(key("Y_PIXEL_SIZE"), ysize == 5e-5f ? "5.000000E-05" : "7.500000E-05");
    EXPECT_NE(terminal_.text().find("WARNING: The file's " + std::string(said) +
                                        " no detector's: kept for this image, but not stored "
                                        "as the detector's\n",
                                    before),
              std::string::npos)
        << terminal_.text().substr(before);
  }
}

// A header's distance is the experiment's only when it is one: 0, negative,
// no number or one no experiment has leaves the stored distance, and says so.
TEST_F(FormatMenus, OnlyAnExperimentsDistanceIsStored) {
  for (const float distance :
       {0.0f, -0.12f, std::numeric_limits<float>::quiet_NaN(), 1e-33f, 1e6f, 0.25f}) {
    int stored = 1;
    IO_SET_RKEYVALUE("SAMPLE_DISTANCE", 0.3f, stored, status_);
    const std::size_t before = terminal_.text().size();
    FioFilePixelSizes read;
    read.sample_distance = distance;
    fio_store_input_keys(1.0f, "MAR", read, status_);
    float kept = 0.0f;
    IO_INQ_RKEYVALUE("SAMPLE_DISTANCE", kept, stored, status_);
    EXPECT_FLOAT_EQ(kept, distance == 0.25f ? 0.25f : 0.3f) << distance;
    EXPECT_EQ(terminal_.text().find("m is no experiment's: the stored one is kept", before) !=
                  std::string::npos,
              distance != 0.25f)
        << distance;
  }
}

TEST_F(FormatMenus, FailedInputEndsAMacroAndASequence) {
  const std::string macro = dir_.file("run.mac");
  {
    std::FILE* f = std::fopen(macro.c_str(), "w");
    std::fputs("HELP\nEXIT\n", f);
    std::fclose(f);
  }
  std::string name = macro;
  IO_OPEN_INMACRO(false, name, status_);
  ASSERT_TRUE(vosq_io_dbdb.input_macro);
  DataSet d(8, 8);
  input(d, {});
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
  std::string out = terminal_.text();
  EXPECT_NE(out.find("END OF FILE INPUT HELP TEXT"), std::string::npos);
  const std::string frame =
      "WARNING---WARNING---WARNING---WARNING---WARNING---WARNING---WARNING--WARNING\n \n"
      "WARNING: File input failed during a macro. Macro automatically terminated.\n \n"
      "WARNING---WARNING---WARNING---WARNING---WARNING---WARNING---WARNING--WARNING\n";
  EXPECT_NE(out.find(frame), std::string::npos) << out;
  EXPECT_TRUE(d.defined);

  vosq_io_dbdb.file_sequence = true;
  input(d, {"WESS"});
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
  EXPECT_NE(terminal_.text().find(
                "WARNING: File input failed during a sequence. Sequence terminated."),
            std::string::npos);
}

// Every road of the keyboard input, given a named pipe, a link to /dev/zero
// or a directory, as the file named or as the file beside it that the road
// reads, refuses it by name: it neither waits for a writer (the watchdog ends
// a wait) nor reads without end, and the data stay as they were. A link to a
// system file that says it is empty but reads without end reads as empty.
TEST_F(FormatMenus, EveryRoadRefusesPipesDevicesAndDirectories) {
  testing::Watchdog watchdog(120);
  struct Road {
    std::string format;
    std::string special;  // the file made special
    std::vector<std::pair<std::string, std::string>> beside;  // regular files
    std::vector<std::string> answers;  // after the format ("@" the special file)
  };
  std::vector<Road> roads;
  for (const char* format :
       {"1-D ASCII FREE FORMAT", "2-D ASCII FREE FORMAT", "ADSC DETECTOR FORMAT",
        "BRUKER FORMAT", "BSL FORMAT", "MERVODA FORMAT", "COMPRESSED DIFFRACTION DATA",
        "DIP-2000 (MAC SCIENCE)", "OZWA DATA FORMAT", "KESTA STANDARD FORMAT", "FUJI BAS-2000",
        "GAS 2-D DETECTOR (OZWA)", "HAMAMATSU PHOTONICS", "HUFFMAN", "IMAGEQUANT", "TULMA",
        "MAR RESEARCH FORMAT", "MAR-PCK FORMAT", "NEW MAR CODE", "PDS FORMAT",
        "PHOTOMETRICS CCD FORMAT", "PRINCETON CCD FORMAT", "RIGAKU R-AXIS", "TIFF", "UNKNOWN"})
    roads.push_back({format, "image.xyz", {}, {"@", "@"}});
  const std::string inf = "BAS2000\nplate\n\n\n100\n50\n16\n3\n1\n4000\n4\n";
  const std::string bsl = "t\n \n3 1 1 0 3 0 0 0 0 0\nDATA.000\n";
  const std::string gas = "r\n-1\nx\n3\n16\n3\n1\n1\n";
  const std::vector<std::string> layout(8, "");  // the binary layout's questions
  std::vector<std::string> binary{"@"};
  binary.insert(binary.end(), layout.begin(), layout.end());
  roads.insert(roads.end(), {
      {"WESS FORMAT", "image.xyz", {}, {"3", "1", "@", "@"}},
      {"BINARY (UNFORMATTED)", "image.xyz", {}, binary},
      {"FUJI BAS-2000", "plate.img", {{"plate.inf", inf}}, {"%plate.inf", "@"}},
      {"BINARY (UNFORMATTED)", "data.bin.info", {{"data.bin", std::string(12, '\1')}}, {"%data.bin"}},
      {"BSL FORMAT", "DATA.000", {{"h.bsl", bsl}}, {"%h.bsl"}},
      {"GAS 2-D DETECTOR (OZWA)", "gashm", {{"gas", gas}}, {"%gas", "NO", "NO", "NO"}},
  });
  const long peak = testing::peak_megabytes();
  for (const testing::SpecialFile& special : testing::kSpecialFiles)
    for (const Road& road : roads) {
      testing::TempDir here;
      for (const auto& [name, bytes] : road.beside) {
        std::FILE* f = std::fopen(here.file(name).c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
      }
      const std::string path = here.file(road.special);
      ASSERT_TRUE(testing::make_special_file(special, path));
      std::vector<std::string> answers{road.format};
      for (const std::string& a : road.answers)
        answers.push_back(a == "@" ? path : a.starts_with('%') ? here.file(a.substr(1)) : a);
      DataSet d(32, 32);
      const std::size_t said = terminal_.text().size();
      const std::string what = road.format + " " + road.special + " " + special.kind;
      input(d, answers);
      status_ = kStatusGood;
      // Named with the reason, the name quoted or not.
      const std::string said_now = terminal_.text().substr(said);
      EXPECT_TRUE(*special.reason == '\0' ||
                  said_now.find(path + " " + special.reason) != std::string::npos ||
                  said_now.find(path + "\" " + special.reason) != std::string::npos)
          << what << said_now;
      EXPECT_EQ(d.data, DataSet(32, 32).data) << what;
    }
  EXPECT_LT(testing::peak_megabytes() - peak, 64) << "megabytes more";
}

TEST_F(FormatMenus, OutputMenuSwitchesAndUnavailableWriters) {
  DataSet d(3, 3);
  EXPECT_TRUE(fio_output_header_files());
  output(d, {"NO HEADER"});
  EXPECT_FALSE(fio_output_header_files());
  output(d, {"HEADER FILES"});
  EXPECT_TRUE(fio_output_header_files());
  EXPECT_EQ(fio_output_tiff_bits(), 16);
  output(d, {"CBF"});
  EXPECT_NE(terminal_.text().find("WARNING: NOT PRESENTLY AVAILABLE"), std::string::npos);
  output(d, {"powder", "\\\\"});  // escapes from the file name: nothing written
  EXPECT_NE(prompts_.at(1).find("FILE NAME"), std::string::npos);
  status_ = ST_GOOD();
  output(d, {""});
  EXPECT_NE(prompts_.at(0).find("PowderCIF"), std::string::npos) << "the last choice";
  status_ = ST_GOOD();
  output(d, {"?", "\\\\"});
  EXPECT_NE(terminal_.text().find("TIFF INTEGERS: Simple 1 or 2-byte output"), std::string::npos);
  EXPECT_EQ(status_, kStatusEscape);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));

  status_ = ST_GOOD();
  FIO_OUTPUT("", 0, 3, 1, 1, 1, 1, d.xaxis, d.yaxis, d.data, d.variances, "", "", "", "", false,
             1, 1, status_);
  EXPECT_EQ(status_, kBaseFormats + 1);
}

// On every keyboard road that asks again for a file that did not open (here
// a directory), the question asked again offers the name it offered before,
// so that Enter takes that name rather than the refused one.
TEST_F(FormatMenus, NameAskedAgainOffersTheEarlierProposal) {
  const std::string folder = dir_.file("folder");
  std::filesystem::create_directory(folder);
  for (const char* format :
       {"1-D ASCII FREE FORMAT", "2-D ASCII FREE FORMAT", "ADSC DETECTOR FORMAT",
        "BRUKER FORMAT", "BSL FORMAT", "MERVODA FORMAT", "COMPRESSED DIFFRACTION DATA",
        "DIP-2000 (MAC SCIENCE)", "OZWA DATA FORMAT", "FUJI BAS-2000",
        "GAS 2-D DETECTOR (OZWA)", "HAMAMATSU PHOTONICS", "HUFFMAN", "IMAGEQUANT", "TULMA",
        "PDS FORMAT", "PHOTOMETRICS CCD FORMAT", "PRINCETON CCD FORMAT", "RIGAKU R-AXIS", "TIFF",
        "UNKNOWN"}) {
    DataSet d(32, 32);
    d.file = dir_.file("gone.dat");
    const std::size_t before = terminal_.text().size();
    input(d, {format, folder, ""});  // then the input ends
    status_ = kStatusGood;
    const std::string said = terminal_.text().substr(before);
    ASSERT_EQ(prompts_.size(), 4u) << format;
    EXPECT_EQ(prompts_[2], prompts_[1]) << format;
    EXPECT_EQ(prompts_[3], prompts_[1]) << format;
    // The folder refused once, by name and why; then the name Enter took.
    const std::size_t refused = said.find(folder + " is a directory");
    const std::size_t quoted = said.find(folder + "\" is a directory");
    EXPECT_TRUE(refused != std::string::npos || quoted != std::string::npos) << format << said;
    EXPECT_EQ(said.find(folder, said.find(folder) + folder.size()), std::string::npos)
        << format << said;
    if (prompts_[1].find("gone.dat") != std::string::npos) {
      EXPECT_NE(said.find("gone.dat", said.find(folder)), std::string::npos) << format << said;
    }
  }
}

}  // namespace
}  // namespace kesta
