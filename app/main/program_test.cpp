// End-to-end tests: the real program with a private HOME, answers on its
// standard input and macro files, compared with its transcript.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "app/interfaces/help_texts.hpp"
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

// The child's body of a run on a pseudo-terminal: the program without
// graphics, HOME its working folder.
int run_on_terminal(const std::string& home) {
  setenv("HOME", home.c_str(), 1);
  if (chdir(home.c_str()) != 0) return 2;
  execl(KESTA_PROGRAM, "kesta", "-nogr", "-dim10x10", static_cast<char*>(nullptr));
  return 3;
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

// The logo's lines as the terminal shows them (a blank line as one blank).
std::string logo_lines() {
  std::string out;
  for (const std::string& line : kesta::kzt_logo_text())
    out += (line.empty() ? " " : line) + "\n";
  return out;
}

// (A function: the logo's table is another file's static.)
std::string trailer() {
  return " \n" + logo_lines() +
    " \n" +
    kDashes +
    "\n"
    "INFO: BYE: KESTA V01.000 exited by user command\n"
    " \n"
    "INFO: (No commercial software is used within KESTA.)\n"
    "      Spline surface fitting uses the FITPACK library, with thanks to its author\n" +
    kDashes + "\n \n";
}

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
                trailer());
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
  kesta::testing::PtyChild child([&home] { return run_on_terminal(home); });
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
                                           OptionCase{"-dim12x", true, true, "         7"}),
    kesta::testing::CaseNumber{});

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

TEST(Program, HelpAndBadAnswersAtEveryStartUpQuestion) {
  TempDir dir;
  const Result r =
      run(dir, "-nogr -key", "?\nabc\n10\n?\n0\n20\n?\nmaybe\nYES\nINFORMATION\n");
  EXPECT_EQ(r.code, 0);
  const std::string size_help =
      "Here you are asked to define the size of the program arrays.  These will\n"
      "be used to store data \"inside\" KESTA.  Normally you will want the arrays\n"
      "to be at least as large as the image data to be input. If the dimensions\n"
      "are larger this does little harm,  but is wasteful of system  resources.\n"
      "If the arrays are smaller then not all of  an image can be input at full\n"
      "resolution.  Some input options allow an image to  be re-binned on input\n"
      "or for a sub-region of the image to be input.\n";
  const std::string variance_help =
      "Arrays to hold estimates of data value  variances may be created or not.\n";
  // Each question: "?" shows its help and asks again; a bad answer shows the
  // error line and the help, and asks again.
  const struct {
    std::string question, help, error;
  } questions[] = {
      {"X DIMENSION FOR ARRAYS (Range: 1 to 1000000) [512]:", size_help,
       "Must be an integer in the defined range\n"},
      {"Y DIMENSION FOR ARRAYS (Range: 1 to 1000000) [10]:", size_help,
       "Must be an integer in the defined range\n"},
      {"CREATE VARIANCE ARRAYS [NO]:", variance_help, "You must enter \"YES\" or \"NO\"\n"},
  };
  for (const auto& q : questions) {
    EXPECT_TRUE(has(r.output, q.question + "?\n" + q.help)) << q.question;
    EXPECT_TRUE(has(r.output, q.error + q.help)) << q.question;
  }
  EXPECT_TRUE(has(r.output, "INFO: Program arrays have         20 elements in the Y-direction"));
  EXPECT_TRUE(has(r.output, "INFO: Variance arrays exist"));
}

TEST(Program, PipedLinesAreAnswersAsTheyStand) {
  TempDir dir;
  // A line with a NUL byte is refused and asked again; a control byte is no
  // editing key, so the answer is not an integer.
  const Result r = run(dir, "-nogr -key",
                       std::string("1") + '\0' + "2\n\x1b" "34\n12\n\nNO\nINFORMATION\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "WARNING: The line holds a NUL byte and is ignored; enter it again\n"
                            "X DIMENSION FOR ARRAYS (Range: 1 to 1000000) [512]:\x1b" "34\n"
                            "Entered response cannot be converted to an integer\n"));
  EXPECT_TRUE(has(r.output, "INFO: Program arrays have         12 elements in the X-direction"));
}

// The program without graphics on a pipe that is fed INPUT and then ZEROS
// zero bytes (no line end), as far as it reads them: its exit code,
// transcript and peak resident memory (kB). Bounded to 30 s (code -1).
struct FedRun {
  int code = -1;
  long peak_kb = 0;
  std::string output;
};

FedRun run_fed(const TempDir& dir, const std::string& input, std::size_t zeros) {
  FedRun result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  const std::string out_path = dir.file("fed.txt");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    close(fds[1]);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    setenv("HOME", dir.path().c_str(), 1);
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    execl(KESTA_PROGRAM, "kesta", "-nogr", "-key", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[0]);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  const std::string block(std::size_t{1} << 16, '\0');
  std::size_t sent = 0;
  const std::size_t total = input.size() + zeros;
  while (sent < total && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fds[1], POLLOUT, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const std::size_t n = std::min(block.size(), total - sent);
    const char* from = sent < input.size() ? input.data() + sent : block.data();
    const ssize_t done =
        write(fds[1], from, sent < input.size() ? std::min(n, input.size() - sent) : n);
    if (done < 0 && errno != EAGAIN) break;  // the program stopped reading
    if (done > 0) sent += static_cast<std::size_t>(done);
  }
  close(fds[1]);
  std::signal(SIGPIPE, previous);
  int wstatus = 0;
  rusage usage{};
  while (wait4(pid, &wstatus, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &wstatus, 0, &usage);
      result.output = file_contents(out_path);
      return result;
    }
    usleep(20000);
  }
  result.code = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.peak_kb = usage.ru_maxrss;
  result.output = file_contents(out_path);
  return result;
}

// Standard input is read a response line at a time: the rest of a long line
// is read past, never kept nor echoed, and a line that runs on past 1 MiB
// (zero bytes without end) ends the input as its end would. Memory stays
// what a short run takes.
TEST(Program, LongAndEndlessInputLinesTakeNoMemory) {
  TempDir dir;
  const FedRun small = run_fed(dir, "12\n\nNO\nINFORMATION\n", 0);
  ASSERT_EQ(small.code, 0) << small.output;

  const FedRun endless = run_fed(dir, "", std::size_t{256} << 20);
  EXPECT_EQ(endless.code, 0);
  EXPECT_TRUE(has(endless.output, "WARNING: An input line is longer than 1048576 characters; "
                                  "the input is taken as ended"));
  EXPECT_TRUE(has(endless.output, "NOTE: \"User escape\" issued on start-up"));
  EXPECT_LT(endless.peak_kb, small.peak_kb + 32 * 1024);

  const FedRun long_line = run_fed(dir, std::string(900000, '7') + "x\n12\n\nNO\nINFORMATION\n", 0);
  EXPECT_EQ(long_line.code, 0);
  EXPECT_TRUE(has(long_line.output, "]:" + std::string(132, '7') + "\n"));
  EXPECT_TRUE(has(long_line.output, "INFO: Program arrays have         12 elements in the X-direction"));
  EXPECT_LT(long_line.output.size(), 20000u);
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

TEST(Program, ArraySizesNotSavedInAFullDefaultsDatabaseAreReported) {
  TempDir dir;
  std::string full = "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n";
  for (int i = 0; i < 200; ++i) full += "KEY" + std::to_string(i) + "\n1\n";
  write_file(dir.file(".kesta.def"), full);
  const Result r = run(dir, "-nogr -dim10x10", "INFORMATION\n");
  EXPECT_EQ(r.code, 0);
  const std::string warning =
      "WARNING: The defaults database is full (200 entries, 8,000 characters): DIM1_DATA and "
      "any later setting that does not fit are used in this session but not saved\n";
  EXPECT_NE(r.output.find(warning), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(warning, r.output.find(warning) + 1), std::string::npos);
  // The end of the session says which of its settings found no room.
  EXPECT_TRUE(has(r.output, "WARNING: 2 setting(s) of this session were not saved, as the "
                            "database is full (200 entries, 8,000 characters): DIM1_DATA, "
                            "DIM2_DATA\n"))
      << r.output;
  EXPECT_EQ(file_contents(dir.file(".kesta.def")), full);
}

// A defaults file holding more than the database takes would lose entries
// if saved: it is left as it is, and the user is told so at start and at exit.
TEST(Program, OverFullDefaultsFileIsLeftAndTheLossIsSaid) {
  const std::string header = "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n";
  std::string entries = header, characters = header;
  for (int i = 0; i < 201; ++i) entries += "KEY" + std::to_string(i) + "\n1\n";
  for (int i = 0; i < 40; ++i)
    characters += "KEY" + std::to_string(i) + "\n" + std::string(250, 'v') + "\n";
  for (const std::string& full : {entries, characters}) {
    TempDir dir;
    write_file(dir.file(".kesta.def"), full);
    const Result r = run(dir, "-nogr -dim10x10", "INFORMATION\nEXIT\nYES\n");
    EXPECT_EQ(r.code, 0);
    const std::string start = "WARNING: " + dir.file(".kesta.def") +
                              " holds more than the database takes (200 entries, 8,000 "
                              "characters): it will be left as it is\n";
    const std::string end = "WARNING: The settings of this session were not saved (" +
                            dir.file(".kesta.def") + " is over-full)\n";
    EXPECT_TRUE(has(r.output, start)) << r.output;
    EXPECT_FALSE(has(r.output, "Problem inputting internal database")) << r.output;
    EXPECT_LT(r.output.find(end), r.output.find("BYE: KESTA")) << r.output;
    EXPECT_EQ(file_contents(dir.file(".kesta.def")), full);
  }
}

TEST(Program, FailedMacroOptionStopsAndLeavesTheDefaults) {
  const std::string stored =
      "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\nDIM1_DATA\n64\n"
      "X_PIXEL_SIZE\n100\n";
  for (const bool populated : {true, false}) {
    for (const auto& [option, name] : {std::pair{"-macmissing.mac", "missing.mac"},
                                       std::pair{"-mac", "kesta.mac"},
                                       std::pair{"-mac/dev/zero", "/dev/zero"}}) {
      TempDir dir;
      if (populated) write_file(dir.file(".kesta.def"), stored);
      const Result r = run(dir, std::string("-nogr -key ") + option, "INFORMATION\n");
      EXPECT_EQ(r.code, 1) << option;
      EXPECT_TRUE(has(r.output,
                      "WARNING: Macro file as specified on command file could not be opened\n"
                      "         (\"" + std::string(name) + "\")\n"))
          << r.output;
      EXPECT_FALSE(has(r.output, "Main menu")) << option;
      EXPECT_EQ(file_contents(dir.file(".kesta.def")), populated ? stored : "") << option;
    }
  }
}

// A recording made in the window's menus, replayed where the keyboard loop
// reads it, would take its first EXIT as the keyboard's and a later YES as
// the confirmation: it is refused before any of its lines is read, by -mac
// as a file that does not open is (the run fails), by MACRO with the name
// asked again. Keyboard recordings and files without a header still run.
TEST(Program, AWindowRecordingIsRefusedByTheKeyboardLoop) {
  TempDir dir;
  const std::string stored = "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n";
  write_file(dir.file(".kesta.def"), stored);
  write_file(dir.file("window.mac"),
             "%!*\\ BEGINNING OF GUI MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n"
             "EXIT\nKEYBOARD INTERFACE\nSTART MACRO\nmade.mac\nEXIT\nEXIT KESTA\nYES\n"
             "%!*\\ END OF IO MACRO FILE\n");
  write_file(dir.file("keyboard.mac"),
             "%!*\\ BEGINNING OF IO MACRO FILE\n%!*\\\n%!*\\ This is a comment line\n%!*\\\n"
             "LIST VARIABLES\n%!*\\ END OF IO MACRO FILE\n");
  write_file(dir.file("plain.mac"), "LIST VARIABLES\n");
  const std::string refusal =
      "WARNING: Macro file \"window.mac\" was recorded in the graphics window and needs the "
      "window's menus to run\n";
  for (const char* options : {"-nogr -dim4x4 -macwindow.mac", "-nogr -key -dim4x4 -macwindow.mac"}) {
    const Result r = run(dir, options, "");
    EXPECT_EQ(r.code, 1) << options;
    EXPECT_TRUE(has(r.output, refusal + " \nSTATUS: The error was identified in module:\n"))
        << r.output;
    EXPECT_FALSE(has(r.output, "CONFIRM EXIT")) << r.output;
    EXPECT_FALSE(has(r.output, "BYE: KESTA")) << r.output;
    EXPECT_EQ(file_contents(dir.file(".kesta.def")), stored);
  }
  Result r = run(dir, "-nogr -dim4x4", "MACRO\nwindow.mac\nkeyboard.mac\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.output, "FILE NAME [kesta.mac]:window.mac\n" + refusal +
                                "FILE NAME [kesta.mac]:keyboard.mac\n"
                                "Main menu: ENTER COMMAND [IMAGE]:LIST VARIABLES\n"))
      << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir.file("made.mac")));
  for (const char* macro : {"-mackeyboard.mac", "-macplain.mac"}) {
    r = run(dir, std::string("-nogr -dim4x4 ") + macro, "EXIT\nYES\n");
    EXPECT_EQ(r.code, 0) << macro;
    EXPECT_TRUE(has(r.output, "ENTER COMMAND [INPUT DATA]:LIST VARIABLES\n")) << r.output;
  }
}

TEST(Program, RecordingAndLogOnAFullDiskStopAndTheAnswersGetThrough) {
  TempDir dir;
  const Result r = run(dir, "-nogr -dim10x10",
                       "START MACRO\n/dev/full\nOPEN LOG\n/dev/full\nINFORMATION\n"
                       "STOP MACRO\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  for (const std::string closed :
       {"WARNING: The output macro file is closed; no more answers are recorded\n",
        "WARNING: The log file is closed; nothing more is written to it\n"}) {
    EXPECT_NE(r.output.find(closed), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find(closed, r.output.find(closed) + 1), std::string::npos);
  }
  // The failure is reported once and leaves no bad status behind.
  EXPECT_FALSE(has(r.output, "RESET \"status\"")) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: Program arrays have         10 elements in the X-direction"));
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

// Named pipes nobody reads are refused at once for recording and the log,
// and a device is no macro: each question is asked again.
TEST(Program, SpecialFilesAreRefusedByMacroRecordingAndLog) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
  const Result r = run(dir, "-nogr -dim10x10",
                       "START MACRO\npipe\n\\\\\nYES\nOPEN LOG\npipe\n\\\\\nYES\n"
                       "MACRO\n/dev/zero\n\\\\\nYES\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  const std::string refused = "WARNING: \"pipe\" is a named pipe that nothing reads\n";
  const std::size_t first = r.output.find(refused);
  ASSERT_NE(first, std::string::npos) << r.output;
  EXPECT_NE(r.output.find(refused, first + 1), std::string::npos) << r.output;
  EXPECT_TRUE(has(r.output, "WARNING: \"/dev/zero\" is not a regular file\n")) << r.output;
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));

  // The program's own standard input, a file or a pipe, is neither
  // overwritten (by a recording, a log or a data file) nor fed the program's
  // own lines.
  const std::string answers =
      "CREATE DATA\n\n\nOUTPUT DATA\nKESTA STANDARD FORMAT\n/dev/stdin\n"
      "START MACRO\n/dev/stdin\n\\\\\nYES\nOPEN LOG\n/dev/stdin\n\\\\\nYES\nEXIT\nYES\n";
  const std::string own = "WARNING: \"/dev/stdin\" is the program's own standard input\n";
  const std::string written =
      "WARNING: Error in opening file /dev/stdin: it is the program's own standard input";
  const Result from_file = run(dir, "-nogr -dim10x10", answers);
  EXPECT_EQ(file_contents(dir.file("input.txt")), answers);
  write_file(dir.file("answers.txt"), answers);
  const std::string piped = "cd '" + dir.path().string() + "' && HOME='" + dir.path().string() +
                            "' cat answers.txt | timeout 30 '" KESTA_PROGRAM
                            "' -nogr -dim10x10 > piped.txt 2>&1";
  EXPECT_EQ(std::system(piped.c_str()), 0);
  for (const std::string& output : {from_file.output, file_contents(dir.file("piped.txt"))}) {
    const std::size_t first = output.find(own);
    ASSERT_NE(first, std::string::npos) << output;
    EXPECT_NE(output.find(own, first + 1), std::string::npos) << output;
    EXPECT_TRUE(has(output, written)) << output;
    EXPECT_TRUE(has(output, "BYE: KESTA")) << output;
  }
}

// The macro being replayed is not overwritten by a recording started from
// inside it, nor by a log: the name is refused and the macro goes on.
TEST(Program, TheRunningMacroIsNotRecordedOver) {
  TempDir dir;
  const std::string macro =
      "START MACRO\nself.mac\n\\\\\nYES\nOPEN LOG\n./self.mac\n\\\\\nYES\nINFORMATION\n";
  write_file(dir.file("self.mac"), macro);
  const Result r = run(dir, "-nogr -dim10x10", "MACRO\nself.mac\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(file_contents(dir.file("self.mac")), macro);
  EXPECT_TRUE(has(r.output, "WARNING: \"self.mac\" is the running macro\n")) << r.output;
  EXPECT_TRUE(has(r.output, "WARNING: \"./self.mac\" is the running macro\n")) << r.output;
  EXPECT_TRUE(has(r.output, "INFO: Program arrays have         10 elements in the X-direction"))
      << r.output;
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

// A log written to a named pipe whose reader goes away: the failed write is
// reported and the log closed; the program goes on (no broken-pipe signal).
TEST(Program, LogToAPipeWhoseReaderLeavesIsClosedAndTheProgramGoesOn) {
  TempDir dir;
  const std::string home = dir.path().string();
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
  const int reader = ::open(dir.file("pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  kesta::testing::PtyChild child([&home] { return run_on_terminal(home); });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.wait_for("Main menu: ENTER COMMAND [INPUT DATA]:"));
  child.type("OPEN LOG\rpipe\r");
  ASSERT_TRUE(child.wait_for("Main menu: ENTER COMMAND"));
  ::close(reader);
  child.type("INFORMATION\r");
  EXPECT_TRUE(child.wait_for("WARNING: The log file is closed; nothing more is written to it"));
  ASSERT_TRUE(child.wait_for("Main menu: ENTER COMMAND"));
  child.type("EXIT\rYES\r");
  EXPECT_EQ(child.finish(), 0);
  EXPECT_TRUE(has(child.output(), "INFO: BYE: KESTA V01.000 exited by user command"));
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
  const std::string stored =
      "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\nDIM1_DATA\n64\n"
      "DIM2_DATA\n32\n";
  write_file(dir.file(".kesta.def"), stored);
  const Result r = run(dir, "-nogr -key -dim1000000x1000000", "INFORMATION\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.output,
                  "ERROR: The program arrays of 1000000 by 1000000 elements could not be "
                  "allocated"));
  EXPECT_TRUE(has(r.output, "STATUS: The error was identified in module:"));
  EXPECT_FALSE(has(r.output, "Main menu"));
  EXPECT_FALSE(has(r.output, "BYE: KESTA"));
  // The refused sizes are not saved: the next start proposes the stored ones.
  EXPECT_EQ(file_contents(dir.file(".kesta.def")), stored);
}

// Sizes the question takes but the machine cannot give are said once, and the
// next line is the next command, not an answer to a RESET question.
TEST(Program, DimensionsTheMachineCannotGiveLeaveTheArraysWithoutAnError) {
  TempDir dir;
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string saved = asan ? asan : "";
  // 40 GB an array: refused by the sanitizer's allocator wherever it runs.
  setenv("ASAN_OPTIONS", (saved + ":max_allocation_size_mb=16384").c_str(), 1);
  const Result r = run(dir, "-nogr -dim100x50",
                       "DIMENSIONS\n100000\n100000\nYES\nYES\nINFORMATION\nEXIT\nYES\n");
  if (asan) setenv("ASAN_OPTIONS", saved.c_str(), 1);
  else unsetenv("ASAN_OPTIONS");
  if (!has(r.output, "could not be allocated")) GTEST_SKIP() << "the machine gave the arrays";
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(has(r.output, "STATUS:")) << r.output;
  EXPECT_FALSE(has(r.output, "RESET")) << r.output;
  EXPECT_TRUE(has(r.output,
                  "ERROR: The program arrays of 100000 by 100000 elements could not be allocated\n"
                  "WARNING: The program arrays have not been changed\n"
                  "Main menu: ENTER COMMAND [INPUT DATA]:INFORMATION\n"
                  "INFO: Program arrays have        100 elements in the X-direction\n"))
      << r.output;
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
}

TEST(Program, AnsweringNoToTheResetQuestionEndsWithTheReport) {
  TempDir dir;
  // An assignment at the question is no answer: it is asked again.
  const Result r =
      run(dir, "-nogr -dim10x10", "OPEN LOG\nrun.log\nTITLE\n\\\\\nn = 1\nNO\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.output, "RESET \"status\" [YES]:n = 1\nRESET \"status\" [YES]:NO\n"))
      << r.output;
  EXPECT_TRUE(has(r.output, "STATUS: The \"status\" value is set to the user escape value"));
  EXPECT_FALSE(has(r.output, "BYE: KESTA"));
  EXPECT_EQ(file_contents(dir.file(".kesta.def")), "");  // a failed run saves nothing
  // The log was closed with everything up to the end.
  EXPECT_TRUE(has(file_contents(dir.file("run.log")), "RESET \"status\" [YES]:NO"));
}

TEST(Program, AnswerOfTwoWordsAtTheResetQuestionIsRefusedOnce) {
  TempDir dir;
  const Result r = run(dir, "-nogr -dim10x10", "TITLE\n\\\\\nSTOP MACRO\nNO\n");
  EXPECT_EQ(r.code, 1);
  const auto count = [&r](std::string_view text) {
    int n = 0;
    for (std::size_t at = r.output.find(text); at != std::string::npos;
         at = r.output.find(text, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("Enter YES or NO\n"), 1) << r.output;
  EXPECT_EQ(count("YES: to reset \"status\" value, other exit program"), 1) << r.output;
  EXPECT_TRUE(has(r.output, "RESET \"status\" [YES]:NO\n")) << r.output;
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

  // A file that fills up (the file-size limit, which the program inherits,
  // stands in for a full disk; the transcript stays below it) is said once,
  // by the writers' line naming it, and kept as it was.
  std::string full = "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n";
  for (int i = 0; i < 40; ++i)
    full += "KEY" + std::to_string(i) + "\n" + std::string(140, 'v') + "\n";
  write_file(dir.file(".kesta.def"), full);
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit limit = before;
  limit.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  r = run(dir, "-nogr -dim5x5", "");
  setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_TRUE(has(r.output, "WARNING: Error in writing file " + dir.file(".kesta.def") +
                                ": writing failed: File too large, so the file was not changed\n"))
      << r.output;
  EXPECT_FALSE(has(r.output, "Problem saving default values")) << r.output;
  EXPECT_TRUE(has(r.output, "BYE: KESTA"));
  EXPECT_EQ(file_contents(dir.file(".kesta.def")), full);
}

// A stored pixel size that no detector has (a scan's step kept by an old
// read) is used as it stands, and said once at start-up with the way to set
// it; sizes within 1.0E-06 to 5.0E-03 m, both included, are not.
TEST(Program, StoredPixelSizesNoDetectorHasAreSaidAtStartUp) {
  for (const auto& [x, y, said] :
       {std::tuple{"9.99E-07", "1.0E-06", "X pixel size 9.990000E-07 m"},
        std::tuple{"5.0E-03", "5.01E-03", "Y pixel size 5.010000E-03 m"},
        std::tuple{"1.48E-03", "1.0E-02", "Y pixel size 1.000000E-02 m"},
        std::tuple{"1.0E-06", "5.0E-03", ""}}) {
    TempDir dir;
    write_file(dir.file(".kesta.def"),
               std::string("DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n") +
                   "X_PIXEL_SIZE\n" + x + "\nY_PIXEL_SIZE\n" + y + "\n");
    const Result r = run(dir, "-nogr -dim10x10", "EXIT\nYES\n");
    EXPECT_EQ(r.code, 0);
    std::size_t lines = 0;
    for (std::size_t at = r.output.find("WARNING: The stored"); at != std::string::npos;
         at = r.output.find("WARNING: The stored", at + 1))
      ++lines;
    EXPECT_EQ(lines, *said ? 1u : 0u) << r.output;
    if (*said) {
      EXPECT_TRUE(has(r.output, std::string("WARNING: The stored ") + said +
                                    " is no detector's: set it with GEOMETRY (EXPERIMENT)\n"))
          << r.output;
    }
    EXPECT_TRUE(has(file_contents(dir.file(".kesta.def")),
                    std::string("X_PIXEL_SIZE\n") + x + "\nY_PIXEL_SIZE\n" + y + "\n"));
  }
  // A stored size of 0 or below, or no number at all, is not used: said too.
  for (const char* x : {"0.0", "-2.0E-04", "nan", "inf", "1.0E+39"}) {
    TempDir dir;
    write_file(dir.file(".kesta.def"),
               std::string("DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n") +
                   "X_PIXEL_SIZE\n" + x + "\nY_PIXEL_SIZE\n1.0E-04\n");
    const Result r = run(dir, "-nogr -dim10x10", "EXIT\nYES\n");
    EXPECT_EQ(r.code, 0);
    const std::size_t at = r.output.find("WARNING: The stored X pixel size ");
    ASSERT_NE(at, std::string::npos) << x << r.output;
    EXPECT_NE(r.output.find(" m is used; set it with GEOMETRY (EXPERIMENT)\n", at), std::string::npos)
        << r.output;
  }
  // An empty value is said to be empty, not named as a blank.
  TempDir dir;
  write_file(dir.file(".kesta.def"),
             std::string("DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n") +
                 "X_PIXEL_SIZE\n\nY_PIXEL_SIZE\n1.0E-04\n");
  const Result r = run(dir, "-nogr -dim10x10", "EXIT\nYES\n");
  EXPECT_TRUE(has(r.output, "WARNING: The stored X pixel size is empty: 1.000000E-04 m is used; "
                            "set it with GEOMETRY (EXPERIMENT)\n"))
      << r.output;
}

// A full defaults file has no room for a geometry typed in the session: the
// session goes on with it all the same (the next GEOMETRY proposes it), and
// only saving it is refused.
TEST(Program, GeometryTypedIntoAFullDefaultsStoreStaysInEffect) {
  const std::string header = "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n";
  std::string entries = header;
  for (int i = 0; i < 200; ++i) entries += "KEY" + std::to_string(i) + "\n1\n";
  // Near the character limit, with a stored X size whose new text is longer.
  std::string characters = header + "X_PIXEL_SIZE\n7.5E-05\n";
  for (int i = 0; i < 31; ++i)
    characters += "K" + std::to_string(100 + i) + "\n" + std::string(250, 'v') + "\n";
  characters += "FILL\n" + std::string(68, 'v') + "\n";
  for (const std::string& full : {entries, characters}) {
    TempDir dir;
    write_file(dir.file(".kesta.def"), full);
    const std::string geometry = "GEOMETRY (EXPERIMENT)\nKEYBOARD\n";
    const Result r = run(dir, "-nogr -dim64x64",
                         "CREATE DATA\n\n\n\n\n\n\n\n\n\n" + geometry +
                             "100\n110\n0.5\n150\n50\n60\n0\n0\n0\n" + geometry +
                             "\n\n\n\n\n\n\n\n\nEXIT\nYES\n");
    EXPECT_EQ(r.code, 0);
    const std::size_t second = r.output.rfind("X-PIXEL COORDINATE OF BEAM CENTRE");
    ASSERT_NE(second, std::string::npos) << r.output;
    const std::string asked = r.output.substr(second);
    for (const char* proposed : {"[100.0000]", "[110.0000]", "[0.500000]", "[150.0000]",
                                 "[50.00000]", "[60.00000]"})
      EXPECT_TRUE(has(asked, proposed)) << proposed << "\n" << asked;
    EXPECT_TRUE(has(r.output, "are used in this session but not saved\n")) << r.output;
    EXPECT_TRUE(has(r.output, "setting(s) of this session were not saved")) << r.output;
    EXPECT_EQ(file_contents(dir.file(".kesta.def")), full);
  }
}

}  // namespace
