// End-to-end tests: the real program with a private HOME, answers on its
// standard input and macro files, compared with its transcript.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"

namespace {

using kesta::testing::file_contents;
using kesta::testing::TempDir;

using Result = kesta::testing::ProgramResult;

void write_file(const std::string& path, const std::string& text) {
  kesta::testing::write_text_file(path, text);
}

Result run(const TempDir& dir, const std::string& args, const std::string& input,
           const std::string& home = "") {
  return kesta::testing::run_program(dir, args, input, home);
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::string kDashes(78, '-');

const std::string kStartup =
    " \n"
    "                      --------------------------------\n"
    "                      PROGRAM  KESTA  Version: V01.000\n"
    "                      ________________________________\n"
    " \n"
    "Reduction and analysis of 2-D X-ray detector images, by typed commands or menus.\n"
    " \n"
    "KESTA: 2-D Detector Calibration/Correction; File re-formatting; 2-D Fitting\n"
    " \n"
    "                      YOU CAN ALWAYS ENTER:   ?\n"
    "              FOR FURTHER EXPLANATION OF REQUIRED INPUT\n"
    " \n"
    "                    No commercial software used !\n"
    "See \"CHANGES\" (keyboard menu) for important changes\n"
    " \n"
    " \n"
    "!!! NOTE: \"SYMBOLS\" commands replaced with \"VARIABLES\"\n"
    "!!! commands in \"KEYBOARD\" menu\n";

const std::string kTrailer =
    " \n"
    " \n" +
    kDashes +
    "\n"
    "INFO: BYE: KESTA V01.000 exited by user command\n"
    " \n"
    "INFO: (No commercial software is used within KESTA.)\n"
    "      Spline surface fitting uses the FITPACK library, with thanks to its author\n" +
    kDashes + "\n \n";

TEST(Program, StartsRunsCommandsAndExitsSavingDefaults) {
  TempDir dir;
  const Result r = run(dir, "-nogr -dim100x50", "INFORMATION\nEXIT\nNO\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.output,
            kStartup + "INFO: The graphics system has been turned off by a command line option\n" +
                kDashes +
                "\n"
                "Main menu: ENTER COMMAND [INPUT DATA]:INFORMATION\n"
                "INFO: Program arrays have        100 elements in the X-direction\n"
                "INFO: Program arrays have         50 elements in the Y-direction\n"
                "INFO: No variance arrays exist, (no error propagation).\n"
                "INFO: No current data\n"
                "INFO: Memory is not defined\n"
                "Main menu: ENTER COMMAND [DIMENSIONS]:EXIT\n"
                "CONFIRM EXIT [NO]:NO\n"
                "Main menu: ENTER COMMAND [INPUT DATA]:EXIT\n"
                "CONFIRM EXIT [NO]:YES\n" +
                kTrailer);
  EXPECT_EQ(file_contents(dir.file(".kesta.def")),
            "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
            "DIM1_DATA\n100\nDIM2_DATA\n50\n");
}

TEST(Program, WithoutGraphicsAsksSizesAndEndOfInputExits) {
  TempDir dir;
  // No X display: the window cannot open.
  const char* display = std::getenv("DISPLAY");
  const std::string saved_display = display ? display : "";
  unsetenv("DISPLAY");
  Result r = run(dir, "", "2048\n\nYES\nINFORMATION\n");
  if (!saved_display.empty()) setenv("DISPLAY", saved_display.c_str(), 1);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output,
                  "         GRAPHICS OUTPUT and the \"GRAPHICS USER INTERFACE\" are UNAVAILABLE.\n"
                  " \n"
                  "X DIMENSION FOR ARRAYS (Range: 1 to 1000000) [512]:2048\n"
                  "Y DIMENSION FOR ARRAYS (Range: 1 to 1000000) [2464]:\n"
                  "CREATE VARIANCE ARRAYS [NO]:YES\n" +
                      kDashes + "\n"))
      << r.output;
  EXPECT_TRUE(has(r.output,
                  "INFO: Program arrays have       2464 elements in the Y-direction\n"
                  "INFO: Variance arrays exist, error propagation will be performed.\n"));
  // The end of the input is a confirmed exit: trailer, defaults saved.
  EXPECT_TRUE(has(r.output, "INFO: BYE: KESTA V01.000 exited by user command"));
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n2048\nDIM2_DATA\n2464\n"));

  // The next start proposes the saved sizes; X 1000 proposes Y 1000.
  r = run(dir, "-nogr", "1000\n\n\n");
  EXPECT_TRUE(has(r.output,
                  "X DIMENSION FOR ARRAYS (Range: 1 to 1000000) [2048]:1000\n"
                  "Y DIMENSION FOR ARRAYS (Range: 1 to 1000000) [1000]:\n"));
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n1000\nDIM2_DATA\n1000\n"));
}

TEST(Program, EndOfInputInsideACommandAlsoExits) {
  TempDir dir;
  const Result r = run(dir, "-nogr -dim10x10", "EXIT\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(has(r.output, "STATUS:"));
  EXPECT_FALSE(has(r.output, "RESET"));
  EXPECT_TRUE(has(r.output, "CONFIRM EXIT [NO]: \n"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

TEST(Program, EndOfInputAtTheTerminalLineEditorExits) {
  TempDir dir;
  const std::string home = dir.path().string();
  kesta::testing::PtyChild child([&home] {
    setenv("HOME", home.c_str(), 1);
    if (chdir(home.c_str()) != 0) return 2;
    execl(KESTA_PROGRAM, "kesta", "-nogr", "-dim10x10", static_cast<char*>(nullptr));
    return 3;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("Main menu: ENTER COMMAND [INPUT DATA]:"));
  child.type("info\r");
  ASSERT_TRUE(child.wait_for("INFO: No current data"));
  ASSERT_TRUE(child.wait_for("Main menu: ENTER COMMAND [DIMENSIONS]:"));
  child.type("\x04");  // Ctrl-D on an empty line
  EXPECT_EQ(child.finish(), 0);
  EXPECT_TRUE(has(child.output(), "INFO: BYE: KESTA V01.000 exited by user command"));
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n10\n"));
}

struct OptionCase {
  const char* args;
  bool questions;  // the size questions are asked
  bool warning;    // the -dim warning is written
  const char* x;   // elements reported in X
};

class Options : public ::testing::TestWithParam<OptionCase> {};

TEST_P(Options, ArraySizeOptions) {
  const OptionCase c = GetParam();
  TempDir dir;
  const std::string input = c.questions ? "7\n8\n\nINFORMATION\n" : "INFORMATION\n";
  const Result r = run(dir, std::string("-nogr ") + c.args, input);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(has(r.output, "X DIMENSION FOR ARRAYS"), c.questions) << r.output;
  EXPECT_EQ(has(r.output,
                "WARNING: Command line option to set program array sizes could not be\n"
                "         decoded successfully\n"),
            c.warning);
  EXPECT_TRUE(has(r.output,
                  std::string("INFO: Program arrays have ") + c.x + " elements in the X-direction"))
      << r.output;
}

INSTANTIATE_TEST_SUITE_P(Dim, Options,
                         ::testing::Values(OptionCase{"-dim2048x2048", false, false, "      2048"},
                                           OptionCase{"-dim2048X2048", false, false, "      2048"},
                                           OptionCase{"+DIM30x20", false, false, "        30"},
                                           OptionCase{"-dim2048", true, false, "         7"},
                                           OptionCase{"-dimx2048", true, false, "         7"},
                                           OptionCase{"-dim0x100", true, true, "         7"},
                                           OptionCase{"-dim12x", true, true, "         7"}));

TEST(Program, VarOptionSkipsTheVarianceQuestion) {
  TempDir dir;
  const Result r = run(dir, "+NOGR -var -dim10x10", "INFORMATION\n");
  EXPECT_TRUE(
      has(r.output, "INFO: The graphics system has been turned off by a command line option"));
  EXPECT_FALSE(has(r.output, "CREATE VARIANCE ARRAYS"));
  EXPECT_TRUE(has(r.output, "INFO: Variance arrays exist"));
}

TEST(Program, EscapeFromAStartUpQuestionStopsWithoutSaving) {
  TempDir dir;
  const Result r = run(dir, "-nogr", "\\\\\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output,
                  "NOTE: \"User escape\" issued on start-up\n"
                  "      Exit from KESTA: Bye !\n"));
  EXPECT_FALSE(has(r.output, "Main menu"));
  EXPECT_FALSE(has(r.output, "BYE: KESTA"));
  EXPECT_EQ(file_contents(dir.file(".kesta.def")), "");
}

TEST(Program, AssignmentAtAStartUpQuestionAsksItAgain) {
  TempDir dir;
  const Result r = run(dir, "-nogr", "side = 12\nside\n\nside = 1\n\nINFORMATION\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(has(r.output, "STATUS:")) << r.output;
  EXPECT_TRUE(has(r.output,
                  "X DIMENSION FOR ARRAYS (Range: 1 to 1000000) [512]:side = 12\n"
                  "X DIMENSION FOR ARRAYS (Range: 1 to 1000000) [512]:side\n"
                  "Y DIMENSION FOR ARRAYS (Range: 1 to 1000000) [12]:\n"
                  "CREATE VARIANCE ARRAYS [NO]:side = 1\n"
                  "CREATE VARIANCE ARRAYS [NO]:\n"))
      << r.output;
  EXPECT_TRUE(has(r.output, "INFO: Program arrays have         12 elements in the Y-direction"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

TEST(Program, MacroFromTheCommandLineSkipsTheSizeQuestions) {
  TempDir dir;
  write_file(dir.file(".kesta.def"),
             "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\nDIM1_DATA\n64\n"
             "DIM2_DATA\n32\n");
  write_file(dir.file("kesta.mac"), "INFORMATION\nEXIT\nYES\n");
  const Result r = run(dir, "-nogr -mackesta.mac", "");
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(has(r.output, "X DIMENSION FOR ARRAYS"));
  EXPECT_TRUE(has(r.output, "INFO: Program arrays have       1000 elements in the X-direction"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n64\nDIM2_DATA\n32\n"));
}

TEST(Program, PreconditionWarningEndsTheMacro) {
  TempDir dir;
  write_file(dir.file("kesta.mac"), "STORE\nINFORMATION\n");
  const Result r = run(dir, "-nogr -mackesta.mac", "EXIT\nYES\n");
  EXPECT_TRUE(has(r.output,
                  "WARNING: No data exists at the moment, you must \"INPUT DATA\" or "
                  "\"CREATE DATA\"\n"
                  "WARNING---WARNING---WARNING---WARNING---WARNING---WARNING---WARNING--WARNING\n"
                  " \n"
                  "ERROR: Bad \"WARNING: occured during a macro. Macro automatically "
                  "terminated.\n"))
      << r.output;
  EXPECT_FALSE(has(r.output, "INFO: Program arrays"));
  EXPECT_TRUE(has(r.output, "Main menu: ENTER COMMAND [INPUT DATA]:EXIT\n"));
}

TEST(Program, StopMacroThenMacroReplaysTheRecording) {
  TempDir dir;
  const Result r =
      run(dir, "-nogr -dim10x10", "START MACRO\nrec.mac\nINFORMATION\nSTOP MACRO\nMACRO\n\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "Main menu: ENTER COMMAND [SEQUENCE]:MACRO\nFILE NAME [rec.mac]:\n"))
      << r.output;
  const std::string recorded = file_contents(dir.file("rec.mac"));
  EXPECT_TRUE(has(recorded, "\nINFORMATION\n%!*\\ END OF IO MACRO FILE")) << recorded;
  // The replayed INFORMATION runs a second time.
  const std::size_t first = r.output.find("INFO: No current data");
  EXPECT_NE(r.output.find("INFO: No current data", first + 1), std::string::npos);
}

TEST(Program, PauseReadsTheTerminalWhileAMacroRuns) {
  TempDir dir;
  write_file(dir.file("kesta.mac"), "PAUSE\nINFORMATION\nEXIT\nYES\n");
  const Result r = run(dir, "-nogr -mackesta.mac", "go on\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "WAIT: Enter <RETURN> to continue:"));
  EXPECT_TRUE(has(r.output, "INFO: No current data"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

TEST(Program, EscapeInAMacroAfterTheTerminalEndedIsTheMacrosAnswer) {
  TempDir dir;
  // PAUSE meets the end of the terminal input; the macro still runs and its
  // own escape is reported and reset like a typed one.
  write_file(dir.file("kesta.mac"), "PAUSE\nTITLE\n\\\\\nYES\nINFORMATION\nEXIT\nYES\n");
  const Result r = run(dir, "-nogr -dim4x4 -mackesta.mac", "");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "RESET \"status\" [YES]:YES\n")) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: No current data"));
  EXPECT_TRUE(has(r.output, "CONFIRM EXIT [NO]:YES\n"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

TEST(Program, DimensionsChangeTheArraysButNotTheSavedSizes) {
  TempDir dir;
  const Result r =
      run(dir, "-nogr -dim100x50", "DIMENSIONS\n30\n20\nNO\nYES\nINFORMATION\nSTORE\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "ARRAY X DIMENSION (Range: 1 to 100000) [100]:30\n"));
  EXPECT_TRUE(has(r.output,
                  "INFO: Program arrays have         20 elements in the Y-direction\n"
                  "INFO: Variance arrays exist, error propagation will be performed.\n"));
  EXPECT_TRUE(has(r.output,
                  "Main menu: ENTER COMMAND [DIMENSIONS]:STORE\n"
                  "WARNING: No data exists at the moment"));
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n100\nDIM2_DATA\n50\n"));
}

TEST(Program, ArraysThatCannotBeAllocatedAreReported) {
  TempDir dir;
  const Result r = run(dir, "-nogr -dim1000000x1000000", "INFORMATION\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.output,
                  "ERROR: The program arrays of 1000000 by 1000000 elements could not be "
                  "allocated"));
  EXPECT_TRUE(has(r.output, "STATUS: The error was identified in module:"));
  EXPECT_FALSE(has(r.output, "Main menu"));
  EXPECT_FALSE(has(r.output, "BYE: KESTA"));
  // The defaults are saved all the same.
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n1000000\n"));
}

TEST(Program, AnsweringNoToTheResetQuestionEndsWithTheReport) {
  TempDir dir;
  const Result r = run(dir, "-nogr -dim10x10", "OPEN LOG\nrun.log\nTITLE\n\\\\\nNO\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.output, "RESET \"status\" [YES]:NO\n"));
  EXPECT_TRUE(has(r.output, "STATUS: The \"status\" value is set to the user escape value"));
  EXPECT_FALSE(has(r.output, "BYE: KESTA"));
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n10\n"));
  // The log was closed with everything up to the end.
  EXPECT_TRUE(has(file_contents(dir.file("run.log")), "RESET \"status\" [YES]:NO"));
}

TEST(Program, DefaultsFileProblemsOnlyWarn) {
  TempDir dir;
  write_file(dir.file(".kesta.def"), "NOT A DEFAULTS FILE\nDIM1_DATA\n");
  Result r = run(dir, "-nogr", "20\n\n\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "WARNING: Problem inputting internal database"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
  EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")), "DIM1_DATA\n20\n"));

  // A stored size out of range is not proposed.
  write_file(dir.file(".kesta.def"),
             "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\nDIM1_DATA\n-4\n");
  r = run(dir, "-nogr", "\n\n\n");
  EXPECT_TRUE(has(r.output, "X DIMENSION FOR ARRAYS (Range: 1 to 1000000) [512]:"));

  // A home that cannot be written.
  r = run(dir, "-nogr -dim5x5", "", dir.file("missing/home"));
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "WARNING: Problem saving default values"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

}  // namespace
