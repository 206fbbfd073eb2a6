// End-to-end: the program with its graphics window on a private X server,
// driven on a pseudo-terminal; the window is found by its title and read
// back by screenshots.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/device_test_support.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

// Xlib last: its Status and Bool macros would rename the program's own.
#include <X11/Xlib.h>
#undef Status
#undef Bool

namespace kesta {
namespace {

using testing::TempDir;

// Bounded waits, generous for a loaded machine and sanitised builds.
constexpr int kWait = 30000;

// An image file of the program's own format.
void write_image(const std::string& path, Index nx, Index ny, float (*value)(Index, Index)) {
  Status status = kStatusGood;
  std::vector<float> xaxis(nx), yaxis(ny), data(nx * ny), variances(nx * ny);
  for (Index i = 0; i < nx; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < ny; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  for (Index j = 1; j <= ny; ++j)
    for (Index i = 1; i <= nx; ++i) data[element(i, j, nx)] = value(i, j);
  testing::TerminalCapture quiet;
  testing::ScriptedInput answer({path});
  int retstat = -1;
  FIO_OUT_KESTA(false, "", nx, ny, 1, 1, nx, ny, xaxis, yaxis, data, variances, "Test image",
                "X pixels", "Y pixels", "Counts", false, 1e-4f, 1e-4f, retstat, status);
  ASSERT_EQ(retstat, 0);
}

float ramp(Index x, Index) { return static_cast<float>(x); }
float constant(Index, Index) { return 42.0f; }

// Where a program run on a pseudo-terminal reads its lines from: the
// terminal, or a file or a pipe (its writer gone) holding the given lines.
enum class Input { kTerminal, kFile, kPipe };

// Makes LINES the standard input as INPUT says; false on failure.
bool feed_input(const TempDir& dir, Input input, const std::string& lines) {
  if (input == Input::kTerminal) return true;
  int fd = -1;
  if (input == Input::kFile) {
    testing::write_text_file(dir.file("typed_ahead.txt"), lines);
    fd = open(dir.file("typed_ahead.txt").c_str(), O_RDONLY);
  } else {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const bool written = write(fds[1], lines.data(), lines.size()) == std::ssize(lines);
    close(fds[1]);
    fd = written ? fds[0] : -1;
  }
  return fd >= 0 && dup2(fd, STDIN_FILENO) == STDIN_FILENO;
}

// The program running in DIR (also its HOME) on a pseudo-terminal, of type
// TERM when one is given, with its input from the terminal or LINES.
struct Running {
  testing::PtyChild child;
  Running(const TempDir& dir, const std::vector<std::string>& args, const char* term = nullptr,
          Input input = Input::kTerminal, const std::string& lines = "")
      : child([&dir, args, term, input, lines] {
          if (chdir(dir.path().c_str()) != 0) return 126;
          if (!feed_input(dir, input, lines)) return 125;
          setenv("HOME", dir.path().c_str(), 1);
          if (term != nullptr) setenv("TERM", term, 1);
          // Whole stacks: a leak in the line editor (no frame pointers) then
          // names its frames.
          setenv("ASAN_OPTIONS", "allocator_may_return_null=1:fast_unwind_on_malloc=0", 1);
          std::vector<char*> argv;
          std::string name = "kesta";
          argv.push_back(name.data());
          std::vector<std::string> copies(args);
          for (std::string& a : copies) argv.push_back(a.data());
          argv.push_back(nullptr);
          execv(KESTA_PROGRAM, argv.data());
          return 127;
        }) {}
};

int brightness(const std::array<int, 3>& c) { return c[0] + c[1] + c[2]; }

// Asks window WINDOW to close, as a window manager's close button does.
bool send_close_request(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(display, window, False, NoEventMask, &e) != 0;
  XCloseDisplay(display);
  return sent;
}

struct GraphicsProgram : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
    write_image(dir.file("ramp.kzt"), 64, 32, ramp);
    write_image(dir.file("flat.kzt"), 64, 32, constant);
    write_image(dir.file("row.kzt"), 64, 1, ramp);
  }
  // Loads FILE and plots it; the screenshot of the window after it.
  testing::Screenshot plot(Running& run, const std::string& file) {
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\n" + file + "\nPLOT DATA\n");
    EXPECT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [Z-SCALE]", kWait));
    return window_shot();
  }
  // The program's window as it stands.
  testing::Screenshot window_shot() const {
    return testing::screenshot(testing::find_window("KESTA GRAPHICS WINDOW"), dir.path().string());
  }
  int finish(Running& run) {
    run.child.type("EXIT\nYES\n");
    return run.child.finish(kWait);
  }
};

TEST_F(GraphicsProgram, WindowSizeAndOptions) {
  struct Case {
    int depth;
    std::vector<std::string> args;
    int width, height;
  };
  const Case cases[] = {{24, {"-key", "-dim64x32"}, 500, 707},
                        {24, {"-key", "land", "-dim64x32"}, 707, 500},
                        {8, {"-key", "-col16", "-dim64x32"}, 500, 707}};
  for (const Case& c : cases) {
    testing::PrivateXServer server(c.depth);
    ASSERT_TRUE(server.ok());
    Running run(dir, c.args);
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait)) << c.args[1];
    const testing::Screenshot shot = plot(run, "ramp.kzt");
    EXPECT_EQ(shot.width, c.width) << c.args[1];
    EXPECT_EQ(shot.height, c.height) << c.args[1];
    // The ramp rises from left to right across the middle of the image.
    const int y = c.height == 707 ? 257 : 500 - static_cast<int>(0.39 * 707);
    const int left = brightness(shot.at(c.width * 16 / 100, y));
    const int right = brightness(shot.at(c.width * 84 / 100, y));
    EXPECT_LT(left + 150, right) << c.args[1];
    if (c.height == 500) {
      // Landscape: the colour bar's numbers and label stand clear of the
      // window's bottom edge.
      auto dark_in_rows = [&shot](int from, int to) {
        int dark = 0;
        for (int y = from; y <= to; ++y)
          for (int x = 40; x < 667; ++x) dark += brightness(shot.at(x, y)) < 300 ? 1 : 0;
        return dark;
      };
      EXPECT_EQ(dark_in_rows(490, 499), 0);
      EXPECT_GT(dark_in_rows(455, 489), 0);
    }
    EXPECT_EQ(finish(run), 0);
  }
}

TEST_F(GraphicsProgram, PlotDataOfAConstantImageAndARow) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, {"-key", "-dim64x32"});
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
  testing::Screenshot shot = plot(run, "flat.kzt");
  ASSERT_GT(shot.width, 0);
  const auto middle = shot.at(250, 257);
  for (const int x : {80, 150, 350, 420})
    EXPECT_TRUE(testing::same_colour(shot.at(x, 257), middle, 0));

  // One row: a graph of the values, the frame drawn in black on white.
  shot = plot(run, "row.kzt");
  int dark = 0;
  for (int y = 50; y < 400; ++y)
    if (brightness(shot.at(250, y)) < 150) ++dark;
  EXPECT_GT(dark, 0);

  // Both commands run and propose their next commands.
  run.child.type("PUBLICATION QUALITY\n");
  EXPECT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PLOT DATA]", kWait));
  run.child.type("END GRAPHICS FILE\n");
  EXPECT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PRINT GRAPHICS]", kWait));
  EXPECT_EQ(finish(run), 0);
}

TEST_F(GraphicsProgram, SavedDisplaySettings) {
  testing::write_text_file(dir.file(".kesta.def"),
                           "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
                           "COLOUR_TABLE\nGREY-SCALE\nZ_SCALING_MODE\n7\nCURVE_STYLE_1\nxyz\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  // With -key and no -dim: the sizes are asked at the terminal, the window
  // stays open.
  Running run(dir, {"-key"});
  ASSERT_TRUE(run.child.wait_for("X DIMENSION FOR ARRAYS", kWait));
  run.child.type("64\n32\nNO\n");
  ASSERT_TRUE(
      run.child.wait_for("WARNING: The saved value of CURVE_STYLE_1 cannot be used", kWait));
  ASSERT_TRUE(
      run.child.wait_for("WARNING: The saved value of Z_SCALING_MODE cannot be used", kWait));
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
  const testing::Screenshot shot = plot(run, "ramp.kzt");
  for (const int x : {80, 250, 420}) {
    const auto c = shot.at(x, 257);
    EXPECT_EQ(c[0], c[1]) << x;
    EXPECT_EQ(c[1], c[2]) << x;
  }
  EXPECT_EQ(finish(run), 0);
}

TEST_F(GraphicsProgram, AMacroDrawsWhatTypedInputDraws) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::Screenshot typed;
  {
    Running run(dir, {"-key", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    typed = plot(run, "ramp.kzt");
    EXPECT_EQ(finish(run), 0);
  }
  testing::write_text_file(dir.file("draw.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nPLOT DATA\n");
  Running run(dir, {"-key", "-dim64x32", "-macdraw.mac"});
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [Z-SCALE]", kWait));
  const testing::Screenshot replayed = window_shot();
  ASSERT_EQ(replayed.rgb.size(), typed.rgb.size());
  EXPECT_TRUE(replayed.rgb == typed.rgb);
  EXPECT_EQ(finish(run), 0);
}

// Dark runs along row Y between X1 and X2.
int dark_runs(const testing::Screenshot& shot, int y, int x1, int x2) {
  int runs = 0;
  bool in_run = false;
  for (int x = x1; x <= x2; ++x) {
    const bool dark = brightness(shot.at(x, y)) < 300;
    if (dark && !in_run) ++runs;
    in_run = dark;
  }
  return runs;
}

TEST_F(GraphicsProgram, ContourPlotOfARampShowsTenLines) {
  for (const int depth : {24, 8}) {
    testing::PrivateXServer server(depth);
    ASSERT_TRUE(server.ok());
    Running run(dir, {"-key", "-col16", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nCONTOUR PLOT\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PRINT GRAPHICS]", kWait));
    const testing::Screenshot shot = window_shot();
    // Inside the frame, clear of its ticks: one vertical line per level.
    for (const int y : {230, 280}) EXPECT_EQ(dark_runs(shot, y, 66, 434), 10) << depth << " " << y;
    EXPECT_EQ(finish(run), 0);
  }
}

// Replayed from a macro: a ramp holding one infinite pixel still gets its
// ten contour lines, and the masked image of FIT's DISPLAY MASK is what
// PRINT GRAPHICS writes.
TEST_F(GraphicsProgram, InfinitePixelContoursAndAMaskedImagePrint) {
  write_image(dir.file("inf.kzt"), 64, 32,
              [](Index x, Index y) { return x == 40 && y == 30 ? INFINITY : ramp(x, y); });
  testing::write_text_file(dir.file("draw.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\ninf.kzt\nCONTOUR PLOT\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, {"-key", "-dim64x32", "-macdraw.mac"});
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PRINT GRAPHICS]", kWait));
  const testing::Screenshot shot =
      testing::screenshot(testing::find_window("KESTA GRAPHICS WINDOW"), dir.path().string());
  for (const int y : {230, 280}) EXPECT_EQ(dark_runs(shot, y, 66, 434), 10) << y;

  testing::write_text_file(dir.file("mask.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nFIT\n"
                           "THRESHOLD MASKING\nYES\n20\nDISPLAY MASK\nEXIT\n"
                           "PRINT GRAPHICS\nmasked.ps\n");
  run.child.type("MACRO\nmask.mac\n");
  ASSERT_TRUE(run.child.wait_for("INFO: Page 1 added to the graphics file", kWait));
  EXPECT_EQ(finish(run), 0);
  const std::string output = run.child.output();
  EXPECT_EQ(output.find("Unknown type of graphics"), std::string::npos) << output;
  // Columns 1..19 masked: the left of the printed image takes the mask
  // colour (red), the right keeps the ramp's colours.
  const testing::Rendered page = testing::gs_render(dir.file("masked.ps"));
  ASSERT_TRUE(page.ok);
  const auto left = page.at(122, 300);
  const auto right = page.at(424, 300);
  EXPECT_GT(left[0], 200);
  EXPECT_LT(left[1] + left[2], 60);
  EXPECT_FALSE(right[0] > 200 && right[1] + right[2] < 60);
}

// The keyboard's IMAGE hands its graphics kind back to the dispatcher:
// PRINT GRAPHICS after it draws the image (the ramp rises from left to
// right across the printed page), never a blank page. IMAGE is then the
// display command a later INPUT DATA proposes, after PLOT DATA too.
TEST_F(GraphicsProgram, PrintGraphicsAfterImageDrawsTheImage) {
  testing::write_text_file(dir.file("image.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nIMAGE\nEXIT\n"
                           "PRINT GRAPHICS\nimage.ps\nEND GRAPHICS FILE\nPLOT DATA\nIMAGE\n"
                           "EXIT\nINPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n");
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, {"-key", "-dim64x32", "-macimage.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Page 1 added to the graphics file", kWait))
      << run.child.output();
  ASSERT_TRUE(run.child.wait_for("*** END OF MACRO FILE ***", kWait));
  std::string output = run.child.output();
  const std::size_t last = output.rfind("Main menu: ENTER COMMAND [");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(output.substr(last, 33), "Main menu: ENTER COMMAND [IMAGE]:") << output;
  EXPECT_EQ(finish(run), 0);
  output = run.child.output();
  EXPECT_EQ(output.find("Unknown type of graphics"), std::string::npos) << output;
  const testing::Rendered page = testing::gs_render(dir.file("image.ps"));
  ASSERT_TRUE(page.ok);
  EXPECT_LT(brightness(page.at(122, 300)) + 150, brightness(page.at(424, 300)));
}

// A PostScript copy refused by its device: the reason is given at the page
// it refused, never after "Finished writing graphics file", and the
// shut-down still frees everything and exits well.
TEST_F(GraphicsProgram, APostScriptCopyRefusedAtItsPageStillEndsCleanly) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, {"-key", "-dim64x32"});
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
  plot(run, "ramp.kzt");
  run.child.type("PRINT GRAPHICS\n/dev/full\n");
  ASSERT_TRUE(run.child.wait_for("ERROR: The PostScript file \"/dev/full\" could not be written: "
                                 "writing to it failed: No space left on device",
                                 kWait));
  ASSERT_TRUE(run.child.wait_for("RESET \"status\"", kWait));
  run.child.type("YES\n");
  EXPECT_EQ(finish(run), 0);
  const std::string output = run.child.output();
  EXPECT_EQ(output.find("Finished writing graphics file"), std::string::npos) << output;
  EXPECT_EQ(output.find("LeakSanitizer"), std::string::npos) << output;
}

TEST_F(GraphicsProgram, StyleCommandsChangeTheNextPicture) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  {
    Running run(dir, {"-key", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("COLOUR TABLE\nGREY-SCALE\n4\nSET BACKGROUND STYLE\nYES\nRED\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [IMAGE]", kWait));
    const testing::Screenshot shot = plot(run, "ramp.kzt");
    std::vector<std::array<int, 3>> greys;
    for (int x = 90; x <= 410; ++x) {
      const auto c = shot.at(x, 257);
      EXPECT_TRUE(c[0] == c[1] && c[1] == c[2]) << x;
      if (std::find(greys.begin(), greys.end(), c) == greys.end()) greys.push_back(c);
    }
    EXPECT_EQ(greys.size(), 4u);
    const auto corner = shot.at(3, 3);
    EXPECT_GT(corner[0], 200);
    EXPECT_LT(corner[1] + corner[2], 100);
    EXPECT_EQ(finish(run), 0);
  }
  // The scheme is kept for the next start.
  EXPECT_NE(testing::read_file(dir.file(".kesta.def")).find("\nGREY-SCALE\n"), std::string::npos);
}

// A value out of range replayed at a question of the 3-D viewer: the help is
// shown, the question takes the macro's next line and the macro goes on to
// its end; a macro that ends there leaves the viewer with the end of the
// input instead of waiting on the window.
TEST_F(GraphicsProgram, OutOfRangeAnswerInAMacroAsksAgainAndTheMacroGoesOn) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  const std::string start = "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n3-D SURFACE PLOT\nANGLE\n400\n";
  testing::write_text_file(dir.file("angle.mac"), start + "30\n45\nEXIT\nINFORMATION\nEXIT\nYES\n");
  testing::write_text_file(dir.file("ends.mac"), start);
  for (const char* macro : {"-macangle.mac", "-macends.mac"}) {
    const testing::ProgramResult r = testing::run_program(dir, std::string("-key -dim64x32 ") + macro, "");
    EXPECT_EQ(r.code, 0) << macro << r.output;
    EXPECT_NE(r.output.find("Enter valid real\nEnter view rotation angle, around image\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("ENTER COMMAND:"), std::string::npos) << r.output;
    if (macro[4] == 'a') {
      EXPECT_NE(r.output.find("INFO: Program arrays have"), std::string::npos);
    }
  }
}

// A replayed question that ends the macro is left to the window, as a menu
// is: its box waits there (not the terminal); the window closed under it,
// the question is typed at the terminal, where the end of the input leaves
// the viewer and exits.
TEST_F(GraphicsProgram, AQuestionTheMacroEndsAtIsLeftToTheWindow) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("angle.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n3-D SURFACE PLOT\nANGLE\n400\n");
  Running run(dir, {"-key", "-dim64x32", "-macangle.mac"});
  ASSERT_TRUE(run.child.wait_for("*** END OF MACRO FILE ***", kWait));
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
      << run.child.output();
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(send_close_request(window));
  EXPECT_TRUE(run.child.wait_for("WARNING: The graphics window was closed", kWait))
      << run.child.output();
  run.child.type("\x04");
  EXPECT_EQ(finish(run), 0) << run.child.output();
}

// The window closed through the window manager, destroyed, or its client
// connection cut while the 3-D viewer waits on it: the wait ends, the program
// says so and goes on without graphics, as if started with -nogr.
TEST_F(GraphicsProgram, ClosedWindowEndsTheWaitAndTheProgramGoesOnWithoutGraphics) {
  for (const std::string way : {"close", "destroy", "kill"}) {
    testing::PrivateXServer server(24);
    ASSERT_TRUE(server.ok());
    Running run(dir, {"-key", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [", kWait));
    run.child.type("3-D SURFACE PLOT\n");
    ASSERT_TRUE(run.child.wait_for("3-D SURFACE PLOT", kWait));
    const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
    ASSERT_NE(window, 0u);
    if (way == "close")
      ASSERT_TRUE(send_close_request(window));
    else
      ASSERT_TRUE(testing::run_bounded("xdotool " + std::string(way == "kill" ? "windowkill " : "windowclose ") +
                                       std::to_string(window)));
    EXPECT_TRUE(run.child.wait_for("WARNING: The graphics window was closed", kWait)) << way;
    EXPECT_TRUE(run.child.wait_for("INFO: KESTA goes on without graphics", kWait)) << way;
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait)) << way;
    run.child.type("3-D SURFACE PLOT\n");
    EXPECT_TRUE(run.child.wait_for("WARNING: Graphics system is turned off", kWait)) << way;
    EXPECT_EQ(finish(run), 0) << way;
  }
}

// Rings over counting noise: a contour map of many short lines, seconds of
// drawing at 1024 x 1024.
float noisy_rings(Index x, Index y) {
  const double r = std::hypot(static_cast<double>(x) - 512.0, static_cast<double>(y) - 512.0);
  const double ring = 1000.0 * std::exp(-0.5 * std::pow(std::remainder(r, 30.0) / 3.0, 2.0));
  const std::uint32_t h = static_cast<std::uint32_t>(x * 73856093) ^ static_cast<std::uint32_t>(y * 19349663);
  return static_cast<float>(100.0 + ring + 40.0 * ((h % 1000) / 1000.0 - 0.5));
}

// The window killed (as a window manager's kill or a dropped connection
// does) while a contour map is being drawn: the drawing stops sending to the
// broken connection, and the program says so and goes on without graphics.
TEST_F(GraphicsProgram, AWindowKilledDuringADrawingLeavesTheProgramGoing) {
  write_image(dir.file("rings.kzt"), 1024, 1024, noisy_rings);
  for (const int delay_ms : {200, 700}) {
    testing::PrivateXServer server(24);
    ASSERT_TRUE(server.ok());
    Running run(dir, {"-key", "-dim1024x1024"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\nrings.kzt\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [", kWait));
    const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
    ASSERT_NE(window, 0u);
    run.child.type("CONTOUR PLOT\n");
    ASSERT_TRUE(run.child.wait_for("CONTOUR PLOT", kWait));
    usleep(static_cast<useconds_t>(delay_ms) * 1000);
    ASSERT_TRUE(testing::run_bounded("xdotool windowkill " + std::to_string(window)));
    EXPECT_TRUE(run.child.wait_for("WARNING: The graphics window was closed", kWait))
        << delay_ms << run.child.output();
    EXPECT_TRUE(run.child.wait_for("INFO: KESTA goes on without graphics", kWait)) << delay_ms;
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [PRINT GRAPHICS]", kWait))
        << delay_ms << run.child.output();
    EXPECT_EQ(finish(run), 0) << delay_ms << run.child.output();
    EXPECT_EQ(run.child.output().find("Xlib:"), std::string::npos) << run.child.output();
  }
}

// The graphics system stays open after the window closed: the keyboard's
// PRINT GRAPHICS still prints. Under -nogr, where it was never opened, it is
// refused.
TEST_F(GraphicsProgram, PrintGraphicsAfterTheWindowClosedStillPrints) {
  {
    testing::PrivateXServer server(24);
    ASSERT_TRUE(server.ok());
    Running run(dir, {"-key", "-dim64x32"});
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [", kWait));
    run.child.type("3-D SURFACE PLOT\n");
    ASSERT_TRUE(run.child.wait_for("3-D SURFACE PLOT", kWait));
    const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(send_close_request(window));
    ASSERT_TRUE(run.child.wait_for("INFO: KESTA goes on without graphics", kWait));
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("PRINT GRAPHICS\nafter.ps\n");
    ASSERT_TRUE(run.child.wait_for("INFO: Page 1 added to the graphics file", kWait))
        << run.child.output();
    run.child.type("END GRAPHICS FILE\n");
    EXPECT_EQ(finish(run), 0);
    EXPECT_EQ(run.child.output().find("Graphics system is turned off"), std::string::npos)
        << run.child.output();
    EXPECT_TRUE(testing::gs_render(dir.file("after.ps")).ok);
    EXPECT_NE(testing::read_file(dir.file("after.ps")).find("% End of PostScript file"),
              std::string::npos);
  }
  testing::write_text_file(dir.file("print.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nPRINT GRAPHICS\n"
                           "nogr.ps\nEXIT\nYES\n");
  const testing::ProgramResult r =
      testing::run_program(dir, "-nogr -dim64x32 -macprint.mac", "", "");
  EXPECT_NE(r.output.find("WARNING: Graphics system is turned off"), std::string::npos)
      << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir.file("nogr.ps")));
}

// A run answering at the terminal whose input ends while the 3-D viewer
// waits for clicks: the wait ends as at the user escape and the program ends
// within seconds. Lines typed ahead (a file, a pipe whose writer has gone)
// are answers of later prompts: the viewer waits for the window until EXIT
// is clicked, and the next command then runs.
TEST_F(GraphicsProgram, EndOfTheTerminalInputEndsAWindowWait) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  {
    // Ctrl-D at a terminal read plainly (no line editor between, so the
    // key is the end of the input whenever it comes).
    Running run(dir, {"-key", "-dim64x32"}, "dumb");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
    run.child.type("INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n");
    ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [", kWait));
    run.child.type("3-D SURFACE PLOT\n\x04");
    EXPECT_EQ(run.child.finish(15000), 0) << run.child.output();
  }
  for (const Input input : {Input::kFile, Input::kPipe}) {
    Running run(dir, {"-key", "-dim64x32"}, nullptr, input,
                "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n3-D SURFACE PLOT\nINFORMATION\n"
                "EXIT\nYES\n");
    ASSERT_TRUE(run.child.wait_for("3-D SURFACE PLOT", kWait)) << run.child.output();
    EXPECT_FALSE(run.child.wait_for("INFORMATION", 3000)) << run.child.output();
    const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
    ASSERT_NE(window, 0u);
    // EXIT is the viewer's first button, at the left of its top row.
    ASSERT_TRUE(testing::run_bounded("xdotool mousemove --window " + std::to_string(window) +
                                     " 35 641 click 1"));
    EXPECT_TRUE(run.child.wait_for("INFO: Program arrays have", kWait)) << run.child.output();
    EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
    EXPECT_EQ(run.child.output().find("RESET"), std::string::npos) << run.child.output();
  }
}

// At a terminal the line editor drives, Ctrl-D ends one window wait; the
// person typing on is still there, so the next command's window waits again
// (and Ctrl-D ends that one too).
TEST_F(GraphicsProgram, CtrlDEndsOneWindowWaitNotTheLaterOnes) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, {"-key", "-dim64x32"}, "xterm");
  const std::string prompt = "Main menu: ENTER COMMAND [";
  ASSERT_TRUE(run.child.wait_for(prompt, kWait));
  run.child.type("INPUT DATA\rKESTA STANDARD FORMAT\rramp.kzt\r");
  ASSERT_TRUE(run.child.wait_for(prompt, kWait));
  for (int k = 0; k < 2; ++k) {
    run.child.type("IMAGE\r");
    EXPECT_FALSE(run.child.wait_for(prompt, 3000)) << k << run.child.output();
    run.child.type("\x04");
    ASSERT_TRUE(run.child.wait_for(prompt, kWait)) << k << run.child.output();
  }
  run.child.type("EXIT\r");
  ASSERT_TRUE(run.child.wait_for("CONFIRM EXIT", kWait));
  run.child.type("YES\r");
  EXPECT_EQ(run.child.finish(15000), 0) << run.child.output();
}

TEST_F(GraphicsProgram, WithoutGraphicsStylesAreKeptAndAMacroGoesOn) {
  testing::write_text_file(dir.file("draw.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nCONTOUR PLOT\n"
                           "SET TITLE STYLE\nNO\nCOLOUR TABLE\nTEMPERATURE\n4\nINFORMATION\n"
                           "EXIT\nYES\n");
  const testing::ProgramResult r =
      testing::run_program(dir, "-nogr -dim64x32 -macdraw.mac", "", "");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.output.find("INFO: Program arrays have"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
  EXPECT_NE(testing::read_file(dir.file(".kesta.def")).find("COLOUR_TABLE\nTEMPERATURE\n"),
            std::string::npos);
}

}  // namespace
}  // namespace kesta
