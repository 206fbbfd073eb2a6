// The FIT sub-menu loop: geometry keys at entry and exit, a choice that only warns,
// the window choice without graphics and the status reset question.

#include "app/fitting/fit_menu.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "app/fitting/fit2d.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/fitting_test_support.hpp"
#include "app/main/program_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "formats/kesta_format.hpp"

namespace kesta {
namespace {

TEST(FitMenu, LoopStoresGeometryAndAnswersEveryKindOfChoice) {
  testing::reset_dialogue();
  io_clear_database();
  testing::TerminalCapture terminal;
  const KztArrays saved = vosq_kzt_arrays;
  vosq_kzt_arrays.xmaxdat = 100;
  vosq_kzt_arrays.ymaxdat = 60;
  vosq_kzt_arrays.xstrelm = 1;
  vosq_kzt_arrays.ystrelm = 1;
  vosq_kzt_arrays.xendelm = 100;
  vosq_kzt_arrays.yendelm = 60;
  KztDataSets sets;
  testing::ScriptedInput input(
      {"COVARIANCE", "MODEL", "CAKE", "SILICON CALIBRATION", "2-THETA TO RINGS", ""});
  Status status = kStatusGood;
  KZT_FIT(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  const std::string text = terminal.text();
  EXPECT_NE(text.find("WARNING: Not yet (re-)implemented"), std::string::npos);
  // Every command is built: MODEL without parameters only warns.
  EXPECT_EQ(text.find("not available yet"), std::string::npos) << text;
  EXPECT_NE(text.find("WARNING: No model parameters, they must be defined using \"INPUT PARAMETERS\""),
            std::string::npos);
  // The window commands ask nothing without the window.
  const auto warning = text.find("WARNING: Graphics system is turned off");
  ASSERT_NE(warning, std::string::npos);
  EXPECT_NE(text.find("WARNING: Graphics system is turned off", warning + 1), std::string::npos);
  // CAKE is one of them.
  EXPECT_NE(text.find("WARNING: Graphics system is turned off",
                      text.find("WARNING: Graphics system is turned off", warning + 1) + 1),
            std::string::npos);
  // After SILICON CALIBRATION the default is POWDER DIFFRACTION, after
  // 2-THETA TO RINGS EXIT.
  ASSERT_GE(input.prompts.size(), 6u);
  EXPECT_NE(input.prompts[4].find("POWDER DIFFRACTION"), std::string::npos) << input.prompts[4];
  EXPECT_NE(input.prompts[5].find("EXIT"), std::string::npos) << input.prompts[5];
  float x = 0, distance = 0;
  int retstat = 0;
  IO_INQ_RKEYVALUE("X_BEAM_CENTRE", x, retstat, status);
  IO_INQ_RKEYVALUE("SAMPLE_DISTANCE", distance, retstat, status);
  EXPECT_EQ(x, 50.5f);
  EXPECT_EQ(distance, 0.2f);
  vosq_kzt_arrays = saved;
  io_clear_database();
  testing::reset_dialogue();
}

// The powder commands work on an image: on a scan of one row each is
// refused in one line before any question, whether or not the window is
// open.
TEST(FitMenu, PowderCommandsRefuseAScan) {
  testing::reset_dialogue();
  io_clear_database();
  testing::TerminalCapture terminal;
  const KztArrays saved = vosq_kzt_arrays;
  KztArrays& a = vosq_kzt_arrays;
  a.xmaxdat = a.xnumdat = a.xendelm = 100;
  a.ymaxdat = 60;
  a.ynumdat = a.yendelm = 1;
  a.xstrelm = a.ystrelm = 1;
  KztDataSets sets;
  sets.data_defined = true;
  sets.graphics_on = true;
  const char* const commands[] = {"POWDER DIFFRACTION", "R/THETA RE-BINNING", "CAKE",
                                  "SILICON CALIBRATION", "TILT/BEAM CENTRE"};
  std::vector<std::string> answers(std::begin(commands), std::end(commands));
  answers.push_back("EXIT");
  testing::ScriptedInput input(answers);
  Status status = kStatusGood;
  KZT_FIT(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  EXPECT_EQ(input.prompts.size(), answers.size());  // the menu alone asked
  const std::string text = terminal.text();
  for (const char* command : commands)
    EXPECT_NE(text.find(std::string("WARNING: The data are 1-D (one row): \"") + command +
                        "\" needs an image"),
              std::string::npos)
        << command << "\n" << text;
  vosq_kzt_arrays = saved;
  io_clear_database();
  testing::reset_dialogue();
}

// A 16 x 16 native file of DATA, axes at the pixel centres.
void write_image(const std::string& path, const std::vector<float>& data) {
  std::vector<float> axis(16);
  for (int i = 0; i < 16; ++i) axis[i] = i + 0.5f;
  testing::ScriptedInput answer({path});
  testing::TerminalCapture quiet;
  int retstat = -1;
  Status status = kStatusGood;
  FIO_OUT_KESTA(false, "", 16, 16, 1, 1, 16, 16, axis, axis, data, {}, "Flat", "X", "Y",
                "Counts", false, 1.0e-4f, 1.0e-4f, retstat, status);
  ASSERT_EQ(status, kStatusGood);
}

// What the program wrote into a 16 x 16 native file.
struct Written {
  std::vector<float> xaxis = std::vector<float>(16), yaxis = std::vector<float>(16),
                     data = std::vector<float>(256, -1.0f);
  std::string title;
  Index xnum = 0, ynum = 0;
  int retstat = -1;
};
Written read_image(std::string name) {
  Written w;
  std::vector<float> variances(256);
  std::string xl, yl, zl;
  bool variances_exist = false;
  float xps = 0, yps = 0, overload = 0;
  Status status = kStatusGood;
  FIO_IN_KESTA(true, 16, 16, variances_exist, name, w.retstat, w.xnum, w.ynum, w.xaxis, w.yaxis,
               w.data, variances, w.title, xl, yl, zl, xps, yps, overload, status);
  return w;
}

TEST(FitMenu, ProgramLeavesThePowderScanInTheMemoryAndAFile) {
  testing::TempDir dir;
  write_image(dir.file("image.kzt"), std::vector<float>(256, 5.0f));
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim16x16",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nPOLARISATION EFFECT\nFIT\n"
      "POWDER DIFFRACTION\nNO\nNO\nNONE\nYES\n\nNO\nYES\n\nEXIT\nEXCHANGE\n"
      "OUTPUT DATA\nKESTA STANDARD FORMAT\nscan.kzt\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("WARNING: Graphics system is turned off"), std::string::npos);
  EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
  EXPECT_NE(testing::file_contents(dir.file("scan.pds")).find("Flat"), std::string::npos);
  // The exchanged scan, flat at 5, is what OUTPUT DATA wrote.
  const Written w = read_image(dir.file("scan.kzt"));
  ASSERT_EQ(w.retstat, 0);
  EXPECT_EQ(w.title, "Flat: Angular Profile");
  EXPECT_EQ(w.ynum, 1);
  ASSERT_GT(w.xnum, 1);
  EXPECT_NEAR(w.data[0], 5.0f, 1e-4f);
}

// RADIAL PROFILE through the program, before any mask exists and with one:
// the profile reaches the memory, NaN pixels and masked ones add nothing.
TEST(FitMenu, ProgramRadialProfileWithAndWithoutAMask) {
  testing::TempDir dir;
  std::vector<float> image(256, 5.0f);
  for (int y = 0; y < 16; ++y) image[y * 16] = 1.0f;
  image[5 * 16 + 9] = std::nanf("");
  write_image(dir.file("image.kzt"), image);
  for (const bool masked : {false, true}) {
    std::remove(dir.file("profile.kzt").c_str());
    const std::string mask = masked ? "THRESHOLD MASKING\nYES\n2\n" : "";
    const testing::ProgramResult r = testing::run_program(
        dir, "-nogr -dim16x16",
        "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\n" + mask +
            "RADIAL PROFILE\n1\n7.5\n7.5\nEXIT\nEXCHANGE\nOUTPUT DATA\nKESTA STANDARD FORMAT\n"
            "profile.kzt\nEXIT\nYES\n");
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("array limit"), std::string::npos) << r.output;
    const Written w = read_image(dir.file("profile.kzt"));
    ASSERT_EQ(w.retstat, 0) << r.output;
    EXPECT_EQ(w.title, "Radial Profile");
    // About the centre of pixel (8, 8), every bin out to the corners holds
    // some pixel.
    ASSERT_EQ(w.xnum, 12) << masked;
    float lowest = 5.0f;
    for (Index i = 0; i < w.xnum; ++i) {
      ASSERT_TRUE(std::isfinite(w.data[i])) << i << " masked " << masked;
      EXPECT_NEAR(w.xaxis[i], i + 0.5f, 1e-5f);
      lowest = std::min(lowest, w.data[i]);
    }
    // The column of 1s lowers the outer bins unless it is masked.
    if (masked)
      EXPECT_FLOAT_EQ(lowest, 5.0f);
    else
      EXPECT_LT(lowest, 4.9f);
  }
}

// A spacing not above 0 makes no bins: the question refuses it and asks
// again, rather than taking it and failing in the profile with a status
// error and the RESET question.
TEST(FitMenu, RadialProfileSpacingNotAboveZeroAskedAgain) {
  testing::TempDir dir;
  write_image(dir.file("image.kzt"), std::vector<float>(256, 5.0f));
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim16x16",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\nRADIAL PROFILE\n0\n-2\n1e-30\n2\n7.5\n"
      "7.5\nEXIT\nEXCHANGE\nOUTPUT DATA\nKESTA STANDARD FORMAT\nprofile.kzt\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output.find("STATUS"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("RESET"), std::string::npos) << r.output;
  int refusals = 0;
  for (auto at = r.output.find("Must be in set range"); at != std::string::npos;
       at = r.output.find("Must be in set range", at + 1))
    ++refusals;
  EXPECT_EQ(refusals, 3) << r.output;
  // The spacing accepted after the refusals made the profile.
  const Written w = read_image(dir.file("profile.kzt"));
  ASSERT_EQ(w.retstat, 0) << r.output;
  ASSERT_EQ(w.xnum, 6);
  EXPECT_FLOAT_EQ(w.xaxis[0], 1.0f);
  EXPECT_FLOAT_EQ(w.data[0], 5.0f);
}

TEST(FitMenu, MaskCommandsWorkOnTheProgramMask) {
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  const KztArrays saved = vosq_kzt_arrays;
  KztArrays& a = vosq_kzt_arrays;
  Status status = kStatusGood;
  kzt_allocate_arrays(4, 3, false, false, false, a, status);
  ASSERT_EQ(status, kStatusGood);
  a.xnumdat = a.xendelm = 4;
  a.ynumdat = a.yendelm = 3;
  a.xstrelm = a.ystrelm = 1;
  for (Index i = 0; i < 12; ++i) kzt_image(a.data)[static_cast<std::size_t>(i)] = float(i);
  KztDataSets sets;
  const auto masked = [] {
    int n = 0;
    for (std::uint8_t m : kzt_mask()) n += m != 0;
    return n;
  };
  {
    // Values below 5 masked, then the window commands refused without graphics.
    testing::ScriptedInput input(
        {"THRESHOLD MASKING", "YES", "5", "DEFINE MASK", "DISPLAY MASK", "EXIT"});
    KZT_FIT(sets, status);
    EXPECT_EQ(status, kStatusGood);
    ASSERT_TRUE(sets.mask_exist);
    EXPECT_EQ(masked(), 5);
  }
  {
    testing::ScriptedInput input({"CLEAR MASK", "EXIT"});
    KZT_FIT(sets, status);
    EXPECT_EQ(masked(), 0);
  }
  const std::string text = terminal.text();
  EXPECT_EQ(text.find("not available yet"), std::string::npos) << text;
  EXPECT_NE(text.find("WARNING: Graphics system is turned off"), std::string::npos);
  kzt_free_arrays(a, status);
  vosq_kzt_arrays = saved;
  testing::reset_dialogue();
}

// Results of a small image in large arrays touch the pages of that image,
// not the arrays: the model and the residuals of FIT, a polar Gaussian's
// integrated intensity and a 2-theta scan with variances, each raise this process's memory by far less than one of
// the 64 MB images of the arrays (the address sanitizer's own records of a
// freed block take an eighth of it).
TEST(FitMenu, ResultsOfASmallImageInLargeArraysTouchItsPagesOnly) {
  constexpr Index kSide = 4096, kImageBytes = kSide * kSide * 4;
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  const KztArrays saved = vosq_kzt_arrays;
  KztArrays& a = vosq_kzt_arrays;
  Status status = kStatusGood;
  kzt_allocate_arrays(kSide, kSide, true, true, false, a, status);
  ASSERT_EQ(status, kStatusGood);
  a.xnumdat = a.xendelm = a.ynumdat = a.yendelm = 16;
  a.xstrelm = a.ystrelm = 1;
  for (Index y = 1; y <= 16; ++y)
    for (Index x = 1; x <= 16; ++x) {
      a.data[element(x, y, kSide)] = 5.0f;
      a.variances[element(x, y, kSide)] = 5.0f;
    }
  for (Index i = 0; i < 16; ++i) a.xaxis[i] = a.yaxis[i] = static_cast<float>(i) + 0.5f;
  KztDataSets sets;
  sets.data_defined = true;
  sets.variances_exist = true;
  FitSession session;
  testing::add_feature(session.model, kGaussian, {8.0f, 8.0f, 10.0f, 2.0f, 2.0f, 0.0f});
  session.params_defined = true;
  {
    const testing::ResidentPeak peak;
    kzt_fit_model(sets, session, status);
    kzt_fit_residuals(sets, session.model, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_LT(peak.grown_bytes(), kImageBytes / 2) << "model and residuals";
    EXPECT_NEAR(a.mdata[element(9, 9, kSide)], -4.39f, 0.01f) << "5 less the peak's 9.39";
  }
  {
    // A polar Gaussian's integrated intensity, as in arrays of the image's size.
    FitModel polar;
    testing::add_feature(polar, kPolarCentre, {8.0f, 8.0f, 8.0f, 11.0f, 50.0f, 1.0f, 0.2f});
    FitModel alone = polar;
    const std::vector<float> axis = testing::centre_axis(16);
    kzt_fit_results(testing::frame_over(16, 16, axis, axis), 1, 1, 16, 16, alone, status);
    const testing::ResidentPeak peak;
    kzt_fit_results(kzt_program_frame(sets), 1, 1, 16, 16, polar, status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_LT(peak.grown_bytes(), kImageBytes / 2) << "a polar Gaussian's intensity";
    EXPECT_GT(alone.results[0], 100.0f);
    EXPECT_FLOAT_EQ(polar.results[0], alone.results[0]);
  }
  {
    const testing::ResidentPeak peak;
    testing::ScriptedInput input(
        {"POWDER DIFFRACTION", "NO", "NO", "NONE", "YES", "", "NO", "NO", "EXIT"});
    KZT_FIT(sets, status);
    ASSERT_EQ(status, kStatusGood) << terminal.text();
    EXPECT_EQ(input.remaining(), 0u) << terminal.text();
    EXPECT_LT(peak.grown_bytes(), kImageBytes / 2) << "2-theta scan with variances";
    // A scan of the flat 5 (bins that no pixel reaches hold 0).
    int fives = 0;
    for (Index i = 0; i < sets.mxnumdat; ++i) {
      fives += std::fabs(a.mdata[i] - 5.0f) < 1e-4f;
      EXPECT_TRUE(a.mdata[i] == 0.0f || std::fabs(a.mdata[i] - 5.0f) < 1e-4f) << i;
    }
    EXPECT_GT(fives, 0);
  }
  kzt_free_arrays(a, status);
  vosq_kzt_arrays = saved;
  testing::reset_dialogue();
}

}  // namespace
}  // namespace kesta
