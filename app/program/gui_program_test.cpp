// End-to-end: the program started in graphical mode on a private X server,
// driven by macros of menu choices and by clicks on buttons found in
// screenshots of its window.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"
#include "graphics/device/x11_test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::TempDir;

constexpr int kWait = 30000;

struct Running {
  testing::PtyChild child;
  Running(const TempDir& dir, const std::vector<std::string>& args)
      : child([&dir, args] {
          if (chdir(dir.path().c_str()) != 0) return 126;
          setenv("HOME", dir.path().c_str(), 1);
          std::vector<std::string> copies{"kesta"};
          copies.insert(copies.end(), args.begin(), args.end());
          std::vector<char*> argv;
          for (std::string& a : copies) argv.push_back(a.data());
          argv.push_back(nullptr);
          execv(KESTA_PROGRAM, argv.data());
          return 127;
        }) {}
};

// The window closed as through the window manager.
bool close_the_window() {
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  return window != 0 && testing::run_bounded("xdotool windowclose " + std::to_string(window));
}

struct GuiProgram : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
    std::vector<float> ramp(64 * 64);
    for (std::size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<float>(k % 64);
    ASSERT_TRUE(testing::write_square_image(dir.file("ramp.kzt"), 64, ramp));
  }
};

// A macro of menu choices: help boxes closed with O.K., the powder interface
// entered and left, the keyboard interface (whose EXIT returns to the menu),
// and the exit refused once, then confirmed.
TEST_F(GuiProgram, MacroOfMenuChoices) {
  for (const int depth : {24, 8}) {
    testing::PrivateXServer server(depth);
    ASSERT_TRUE(server.ok());
    testing::write_text_file(dir.file("gui.mac"),
                             "?\nO.K.\nHELP\nO.K.\nNO SUCH INTERFACE\n"
                             "POWDER DIFFRACTION (2-D)\nEXIT\nKEYBOARD INTERFACE\nINPUT DATA\n"
                             "KESTA STANDARD FORMAT\nramp.kzt\n"
                             "INFORMATION\nEXIT\nEXIT KESTA\nNO\nEXIT KESTA\nYES\n");
    Running run(dir, {"-dim64x64", "-macgui.mac"});
    ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT)", kWait)) << depth;
    EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
    const std::string out = run.child.output();
    EXPECT_NE(out.find("POWDER DIFFRACTION (2-D)\r\nMENU CHOICE (GRAPHICAL INPUT):EXIT\r\n"),
              std::string::npos);
    EXPECT_NE(out.find("INFO: Control transferred to graphics window"), std::string::npos);
    EXPECT_NE(out.find("number of defined elements in the X-direction         64"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("does not correspond to any of the available choices"),
              std::string::npos);
    EXPECT_NE(out.find("INFO: BYE: KESTA"), std::string::npos);
    EXPECT_NE(out.find("KK     KK"), std::string::npos);
    EXPECT_EQ(out.find("not available yet in this version of KESTA\r\nWARNING: The graphical"),
              std::string::npos);
  }
}

// A keyboard recording given by -mac to the window's menus would have each
// of its lines refused there, then wait in the window: it is refused before
// any of them is read, naming the option that replays it, and the run fails.
// A recording made in the window runs from -mac.
TEST_F(GuiProgram, AKeyboardRecordingIsRefusedByTheWindowsMenus) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  const std::string comments = "%!*\\\n%!*\\ This is a comment line\n%!*\\\n";
  testing::write_text_file(dir.file("keyboard.mac"),
                           "%!*\\ BEGINNING OF IO MACRO FILE\n" + comments +
                               "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nEXIT\nYES\n");
  testing::write_text_file(dir.file("window.mac"), "%!*\\ BEGINNING OF GUI MACRO FILE\n" +
                                                       comments + "EXIT\nEXIT KESTA\nYES\n");
  testing::ProgramResult r = testing::run_program(dir, "-dim64x64 -mackeyboard.mac", "");
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_NE(r.output.find("WARNING: Macro file \"keyboard.mac\" was recorded at the keyboard and "
                          "needs the keyboard interface (-key) to run\n \nSTATUS:"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("MENU CHOICE"), std::string::npos) << r.output;
  r = testing::run_program(dir, "-dim64x64 -macwindow.mac", "");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("MENU CHOICE (GRAPHICAL INPUT):EXIT KESTA\n"), std::string::npos)
      << r.output;
}

// The window closed while a menu waits for it, in an interface or at the top
// menu: the menus that follow are asked at the terminal with their question
// and choices, and are answered by name there; the work in memory is not
// lost unasked. An interface closed at its own menu stays in it, as after
// any escape there: its menu is asked at the terminal, its title (or the
// button that opened it) first. The end of the
// terminal input then ends the run. The keyboard interface, entered and left
// after the close, leaves the menus as they were: asked whole, with no
// graphics error.
TEST_F(GuiProgram, AfterTheWindowClosedMenusAreAskedWholeAtTheTerminal) {
  struct Case {
    const char* macro;  // where the window is closed
    bool typed_exit;    // EXIT KESTA and YES typed, or Ctrl-D
    bool keyboard;      // the keyboard interface entered and left first
    bool in_form;       // closed while a form waits: its menu comes back
    const char* menu = nullptr;  // the interface's menu asked again, left with EXIT
  };
  for (const Case c :
       {Case{"2-D FITTING\n", true, false, false,
             "\n2-D FITTING\r\nCHOICES: EXIT, INPUT, OUTPUT, ZOOM IN,"},
        Case{"FILE SERIES\n", true, false, false,
             "\nFILE SERIES\r\nCHOICES: EXIT, AVERAGE, COMPOSITE,"},
        Case{"IMAGE PROCESSING (GENERAL)\n", true, false, false,
             "\nIMAGE PROCESSING (GENERAL)\r\nCHOICES: EXIT, DISPLAY, EXCHANGE, FILTER,"},
        Case{"MACROS / LOG FILE\n", true, false, false,
             "\nKESTA: MACROS / LOG FILE MENU\r\nCHOICES: EXIT, ?, HELP, CREATE MACRO,"},
        Case{"OLMI (MULTIPLE 1-D FITTING)\n", true, false, false,
             "\nOLMI (MULTIPLE 1-D FITTING)\r\nCHOICES: EXIT, FULL, OUTPUT,"},
        Case{"ON-LINE CRYSTALLOGRAPHY\n", true, false, false,
             "\nON-LINE CRYSTALLOGRAPHY\r\nCHOICES: EXIT, ?, HELP, AUTO INPUT,"},
        Case{"POWDER DIFFRACTION (2-D)\n", true, false, false,
             "\nPOWDER DIFFRACTION (2-D)\r\nCHOICES: EXIT, BEAM CENTRE, FULL, OUTPUT, ?, CAKE, "
             "INPUT, TILT,"},
        Case{"SAXS / GISAXS\n", true, false, false,
             "\nSAXS / GISAXS\r\nCHOICES: EXIT, BEAM CENTRE, FULL, OUTPUT, ?, CAKE, INPUT, "
             "NORMALISE,"},
        Case{"TEST\n", true, false, false, "\nTEST\r\nCHOICES: EXIT, ?, GAUSSIAN,"},
        Case{"", true, false, false}, Case{"", false, false, false}, Case{"", true, true, false},
        Case{"POWDER DIFFRACTION (2-D)\nINPUT\nramp.kzt\n", true, false, true}}) {
    testing::PrivateXServer server(24);
    ASSERT_TRUE(server.ok());
    testing::write_text_file(dir.file("gui.mac"), c.macro);
    Running run(dir, {"-dim64x64", "-macgui.mac"});
    ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait)) << c.macro;
    ASSERT_TRUE(close_the_window());
    ASSERT_TRUE(run.child.wait_for("WARNING: The graphics window was closed", kWait)) << c.macro;
    if (c.menu != nullptr) {
      ASSERT_TRUE(run.child.wait_for(c.menu, kWait)) << run.child.output();
      ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
      run.child.type("EXIT\n");
    }
    if (c.in_form) {
      ASSERT_TRUE(run.child.wait_for("POWDER DIFFRACTION (2-D)\r\nCHOICES: EXIT, BEAM CENTRE,",
                                     kWait))
          << run.child.output();
      ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
      run.child.type("EXIT\n");
    }
    ASSERT_TRUE(run.child.wait_for("KEYBOARD INTERFACE", kWait)) << run.child.output();
    ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
    if (c.keyboard) {
      run.child.type("KEYBOARD INTERFACE\n");
      ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait)) << run.child.output();
      run.child.type("EXIT\n");
      // The menus go on at the terminal: no word of a window.
      ASSERT_TRUE(run.child.wait_for("as if started with \"-nogr\"\r\n"
                                     "KESTA: SCIENTIFIC INTERFACES\r\nCHOICES: ?, HELP,",
                                     kWait))
          << run.child.output();
      ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
      run.child.type("POWDER DIFFRACTION (2-D)\n");
      ASSERT_TRUE(run.child.wait_for("CHOICES: EXIT, BEAM CENTRE,", kWait)) << run.child.output();
      ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
      run.child.type("EXIT\n");
      ASSERT_TRUE(run.child.wait_for("KESTA: SCIENTIFIC INTERFACES\r\nCHOICES:", kWait))
          << run.child.output();
      ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
    }
    if (c.typed_exit) {
      run.child.type("EXIT KESTA\n");
      ASSERT_TRUE(run.child.wait_for("CONFIRM EXIT\r\nCHOICES: CANCEL, HELP, YES, NO\r\n", kWait))
          << run.child.output();
      ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
      run.child.type("YES\n");
    } else {
      run.child.type("\x04");
    }
    EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
    const std::string out = run.child.output();
    EXPECT_NE(out.find("INFO: BYE: KESTA"), std::string::npos);
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
    EXPECT_EQ(out.find("Problem in form widget"), std::string::npos) << out;
  }
}

// A PostScript file left open by the keyboard's PRINT GRAPHICS when the
// window is closed is still finished under its name at the end of the run.
TEST_F(GuiProgram, AfterTheWindowClosedAnOpenGraphicsFileIsFinished) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  Running run(dir, {"-key", "-dim64x64"});
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
  run.child.type(
      "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nPLOT DATA\nPRINT GRAPHICS\np.ps\n");
  ASSERT_TRUE(run.child.wait_for("INFO: Page 1 added to the graphics file", kWait))
      << run.child.output();
  ASSERT_TRUE(close_the_window());
  run.child.type("INFORMATION\n");
  ASSERT_TRUE(run.child.wait_for("INFO: KESTA goes on without graphics", kWait))
      << run.child.output();
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND", kWait));
  run.child.type("EXIT\nYES\n");
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  const std::string ps = testing::file_contents(dir.file("p.ps"));
  EXPECT_NE(ps.find("%!PS"), std::string::npos) << run.child.output();
  EXPECT_NE(ps.find("End of PostScript file"), std::string::npos);
  // The window closed by the user is said once, as no protocol error.
  EXPECT_EQ(run.child.output().find("X-11 Error"), std::string::npos) << run.child.output();
}

// A failed read after the window was closed: the refusal is one line at the
// terminal after the reader's own lines (a damaged file, a description
// without its values), each said once and with one "WARNING:".
TEST_F(GuiProgram, AfterTheWindowClosedAFailedReadSaysEachLineOnce) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("gui.mac"), "");
  testing::write_text_file(dir.file("bad.kzt"), std::string(300, 'x'));
  testing::write_text_file(dir.file("plate.img"), std::string("\x80\x00\x00\x00\xff\xff", 6));
  testing::write_text_file(dir.file("plate.inf"), "BAS2000\nplate\n\n\n100\n50\n16\n3\n1\nS\nL\n");
  Running run(dir, {"-dim64x64", "-macgui.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait));
  ASSERT_TRUE(close_the_window());
  ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
  run.child.type("IMAGE PROCESSING (GENERAL)\n");
  for (const char* file : {"bad.kzt", "plate.inf"}) {
    ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
    run.child.type("INPUT\n");
    ASSERT_TRUE(run.child.wait_for("FILE NAME:", kWait)) << run.child.output();
    run.child.type(std::string(file) + "\n");
    ASSERT_TRUE(run.child.wait_for("WARNING: PROBLEM INPUTTING DATA FROM FILE: " +
                                       std::string(file) + "\r\n",
                                   kWait))
        << run.child.output();
  }
  ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
  run.child.type("\x04");
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  const std::string out = run.child.output();
  const auto count = [&out](const std::string& text) {
    int n = 0;
    for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("WARNING: WARNING"), 0) << out;
  EXPECT_EQ(count("is not a \"KESTA STANDARD FORMAT\" file"), 1) << out;
  EXPECT_EQ(count("Sensitivity undefined") + count("SENSITIVITY UNDEFINED"), 1) << out;
  EXPECT_EQ(count("Latitude undefined") + count("LATITUDE UNDEFINED"), 1) << out;
  // Each refusal is its one line: no box written line by line, no line
  // that is a file name alone.
  EXPECT_EQ(count("WARNING: PROBLEM INPUTTING DATA FROM FILE: "), 2) << out;
  EXPECT_EQ(count("DATA NOT DEFINED CORRECTLY"), 0) << out;
  EXPECT_EQ(count("WARNING: bad.kzt\r\n") + count("WARNING: plate.inf\r\n"), 0) << out;
}

// The window closed while a message box asks at the terminal (the macro
// ended at it): what is drawn after the answer goes nowhere, and the close is
// said once, with no protocol error for each request the server refused.
TEST_F(GuiProgram, AWindowClosedDuringATerminalQuestionIsSaidOnce) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("gui.mac"), "IMAGE PROCESSING (GENERAL)\nINPUT\nramp.kzt\n?\n");
  Running run(dir, {"-dim64x64", "-macgui.mac"});
  ASSERT_TRUE(run.child.wait_for("ENTER COMMAND: O.K. OR SAVE", kWait)) << run.child.output();
  ASSERT_TRUE(close_the_window());
  run.child.type("O.K.\n");
  ASSERT_TRUE(run.child.wait_for("CHOICES: EXIT, DISPLAY,", kWait)) << run.child.output();
  ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
  run.child.type("EXIT\n");
  ASSERT_TRUE(run.child.wait_for("KESTA: SCIENTIFIC INTERFACES\r\nCHOICES:", kWait))
      << run.child.output();
  ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
  run.child.type("EXIT KESTA\n");
  ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT):", kWait));
  run.child.type("YES\n");
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  const std::string out = run.child.output();
  EXPECT_EQ(out.find("X-11 Error"), std::string::npos) << out;
  EXPECT_EQ(out.find("Problem obtaining copy"), std::string::npos) << out;
  const std::string closed = "WARNING: The graphics window was closed";
  EXPECT_NE(out.find(closed), std::string::npos) << out;
  EXPECT_EQ(out.find(closed, out.find(closed) + 1), std::string::npos) << out;
}

// PRINT in a window menu finishes its file at once, under its own name: the
// window has no END GRAPHICS FILE, and a run that ends unexpectedly (killed
// here, waiting in the window) must not lose the page.
TEST_F(GuiProgram, MenuPrintFinishesItsFile) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("print.mac"),
                           "IMAGE PROCESSING (GENERAL)\nINPUT\nramp.kzt\nPRINT\nip.ps\n"
                           "MOVEMENT\nPRINT\nmovement.ps\nEXIT\nEXIT\n"
                           "FILE SERIES\nPRINT\nseries.ps\nEXIT\n"
                           "ON-LINE CRYSTALLOGRAPHY\nPRINT\nxtal.ps\n"
                           "MOVEMENT\nRIGHT\nPRINT\nimage.ps\n");
  Running run(dir, {"-dim64x64", "-macprint.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
      << run.child.output();
  for (const char* name : {"ip.ps", "movement.ps", "series.ps", "xtal.ps", "image.ps"}) {
    const std::string ps = testing::file_contents(dir.file(name));
    EXPECT_NE(ps.find("%!PS"), std::string::npos) << name << run.child.output();
    EXPECT_NE(ps.find("showpage"), std::string::npos) << name;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
        << entry.path();
}

// The keyboard commands GUI (its last button returns at once and EXIT is
// proposed) and IMAGE (the region moved by its buttons).
TEST_F(GuiProgram, KeyboardCommandsGuiAndImage) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("key.mac"),
                           "GUI\nEXIT MENU\nINPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\n"
                           "ROI\n1\n1\n10\n64\nIMAGE\nRIGHT\nFAR-RIGHT\nLEFT\nEXIT\n"
                           "INFORMATION\nEXIT\nYES\n");
  Running run(dir, {"-key", "-dim64x64", "-mackey.mac"});
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  const std::string out = run.child.output();
  EXPECT_NE(out.find("Main menu: ENTER COMMAND [EXIT]:INPUT DATA"), std::string::npos) << out;
  // FAR-RIGHT puts the 10 columns at 55..64, LEFT moves them back by 5.
  EXPECT_NE(out.find("Start element of ADR in the X-direction is         50"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("End element of ADR in the X-direction is           59"),
            std::string::npos);
}

// The yellow faces of the buttons on the screen, as pixel boxes.
struct Box {
  int x0, y0, x1, y1;
  int cx() const { return (x0 + x1) / 2; }
  int cy() const { return (y0 + y1) / 2; }
};

std::vector<Box> buttons(const testing::Screenshot& shot) {
  std::vector<Box> out;
  if (!shot.ok) return out;
  const auto yellow = [&shot](int x, int y) {
    const auto c = shot.at(x, y);
    return c[0] > 200 && c[1] > 200 && c[2] < 80;
  };
  std::vector<char> seen(static_cast<std::size_t>(shot.width) * shot.height, 0);
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      if (seen[y * shot.width + x] || !yellow(x, y)) continue;
      Box b{x, y, x, y};
      int area = 0;
      std::vector<std::pair<int, int>> stack{{x, y}};
      seen[y * shot.width + x] = 1;
      while (!stack.empty()) {
        const auto [px, py] = stack.back();
        stack.pop_back();
        ++area;
        b = {std::min(b.x0, px), std::min(b.y0, py), std::max(b.x1, px), std::max(b.y1, py)};
        for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
          const int nx = px + dx, ny = py + dy;
          if (nx < 0 || ny < 0 || nx >= shot.width || ny >= shot.height) continue;
          if (seen[ny * shot.width + nx] || !yellow(nx, ny)) continue;
          seen[ny * shot.width + nx] = 1;
          stack.push_back({nx, ny});
        }
      }
      if (area >= 40 && b.x1 - b.x0 >= 8 && b.y1 - b.y0 >= 4) out.push_back(b);
    }
  return out;
}

// Waits (bounded) until the window shows buttons that PICK accepts.
template <typename Pick>
std::vector<Box> wait_for_buttons(unsigned long window, const TempDir& dir, Pick pick) {
  for (int k = 0; k < 100; ++k) {
    const std::vector<Box> found = buttons(testing::screenshot(window, dir.path().string()));
    if (pick(found)) return found;
    usleep(200000);
  }
  return {};
}

bool click(unsigned long window, const Box& b) {
  return testing::run_bounded("xdotool mousemove --window " + std::to_string(window) + " " +
                              std::to_string(b.cx()) + " " + std::to_string(b.cy()) + " click 1");
}

// The IMAGE menu's layout: 25 buttons, five columns filled one after the
// other (EXIT at the top left); a macro that ends in it hands the choice to
// the window, where EXIT is clicked.
TEST_F(GuiProgram, ImageMenuLayoutAndAClickAfterTheMacro) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("img.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nramp.kzt\nIMAGE\nRIGHT\n");
  Running run(dir, {"-key", "-dim64x64", "-macimg.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
      << run.child.output();
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  ASSERT_NE(window, 0u);
  std::vector<Box> found =
      wait_for_buttons(window, dir, [](const std::vector<Box>& f) { return f.size() == 25; });
  ASSERT_EQ(found.size(), 25u);
  std::vector<int> columns, rows;
  for (const Box& b : found) {
    const auto near_x = [&](int x) { return std::abs(x - b.x0) <= 2; };
    if (std::none_of(columns.begin(), columns.end(), near_x))
      columns.push_back(b.x0);
    if (std::none_of(rows.begin(), rows.end(), [&](int y) { return std::abs(y - b.y0) <= 2; }))
      rows.push_back(b.y0);
  }
  EXPECT_EQ(columns.size(), 5u);
  EXPECT_EQ(rows.size(), 5u);
  const Box exit = *std::min_element(found.begin(), found.end(), [](const Box& a, const Box& b) {
    return a.x0 + a.y0 < b.x0 + b.y0;
  });
  ASSERT_TRUE(click(window, exit));
  ASSERT_TRUE(run.child.wait_for("Main menu: ENTER COMMAND [EXIT]", kWait)) << run.child.output();
  run.child.type("EXIT\nYES\n");
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
}

// Pixels of the warning boxes' red face on the screen.
int red_pixels(const testing::Screenshot& shot) {
  int n = 0;
  if (!shot.ok) return n;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      const auto c = shot.at(x, y);
      if (c[0] > 200 && c[1] < 80 && c[2] < 80) ++n;
    }
  return n;
}

// A replayed macro that ends at a warning box (a choice refused for want of
// data) leaves the box up for the user, who reads it and clicks its O.K.;
// the menu is then shown again.
TEST_F(GuiProgram, AMacroEndingAtAWarningBoxLeavesItForTheClick) {
  for (const char* macro : {"IMAGE PROCESSING (GENERAL)\nDISPLAY\n",
                            "POWDER DIFFRACTION (2-D)\nBEAM CENTRE\n"}) {
    testing::PrivateXServer server(24);
    ASSERT_TRUE(server.ok());
    testing::write_text_file(dir.file("gui.mac"), macro);
    Running run(dir, {"-dim64x64", "-macgui.mac"});
    ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
        << run.child.output();
    const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
    ASSERT_NE(window, 0u);
    // The box's O.K. is the smallest yellow face (its frame is yellow too).
    const std::vector<Box> found = wait_for_buttons(window, dir, [&](const std::vector<Box>&) {
      return red_pixels(testing::screenshot(window, dir.path().string())) > 1000;
    });
    ASSERT_FALSE(found.empty()) << macro << run.child.output();
    const Box ok = *std::min_element(found.begin(), found.end(), [](const Box& a, const Box& b) {
      return (a.x1 - a.x0) * (a.y1 - a.y0) < (b.x1 - b.x0) * (b.y1 - b.y0);
    });
    ASSERT_TRUE(click(window, ok));
    EXPECT_FALSE(wait_for_buttons(window, dir, [&](const std::vector<Box>& f) {
                   return f.size() > 4 &&
                          red_pixels(testing::screenshot(window, dir.path().string())) == 0;
                 }).empty())
        << macro;
  }
}

// A replayed OPTIMISE of the multiple 1-D fit whose rows of no numbers did
// not fit ends at the composite display of its start row with the menu: the
// boxes of those rows, covered by the rows fitted after them, are not shown
// again over it.
TEST_F(GuiProgram, AMacroEndingAfterTheMultipleRowFitLeavesNoRowsBoxOverItsDisplay) {
  std::vector<float> rows(64 * 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const double d = (x + 0.5 - 20.0 - 0.3 * y) / 2.0;
      rows[static_cast<std::size_t>(y * 64 + x)] =
          y >= 39 && y <= 41 ? std::nanf("") : static_cast<float>(10.0 + 100.0 * std::exp(-0.5 * d * d));
    }
  ASSERT_TRUE(testing::write_square_image(dir.file("rows.kzt"), 64, rows));
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("gui.mac"),
                           "OLMI (MULTIPLE 1-D FITTING)\nINPUT\nrows.kzt\nINITIALISE\n1\n10\n9.5\n"
                           "GAUSSIAN\n1\n22.7\n110\n1\n25\n60\nPOLYNOMIAL\n0\n0\nEXIT\nOPTIMISE\n");
  Running run(dir, {"-dim64x64", "-macgui.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
      << run.child.output();
  EXPECT_NE(run.child.output().find("(row 41)"), std::string::npos) << run.child.output();
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  ASSERT_NE(window, 0u);
  // Either the interface's twenty buttons or a warning box.
  const std::vector<Box> found = wait_for_buttons(window, dir, [&](const std::vector<Box>& f) {
    return f.size() >= 20 || red_pixels(testing::screenshot(window, dir.path().string())) > 1000;
  });
  ASSERT_FALSE(found.empty()) << run.child.output();
  EXPECT_GE(found.size(), 20u);
  EXPECT_EQ(red_pixels(testing::screenshot(window, dir.path().string())), 0);
}

// A macro ending at a message box (the help text, from HELP or "?") leaves
// it in the window for the click on its O.K., not asked at the terminal.
TEST_F(GuiProgram, AMacroEndingAtAMessageBoxLeavesItForTheClick) {
  for (const char* macro : {"IMAGE PROCESSING (GENERAL)\nHELP\n", "IMAGE PROCESSING (GENERAL)\n?\n",
                            "POWDER DIFFRACTION (2-D)\nHELP\n"}) {
    testing::PrivateXServer server(24);
    ASSERT_TRUE(server.ok());
    testing::write_text_file(dir.file("gui.mac"), macro);
    Running run(dir, {"-dim64x64", "-macgui.mac"});
    ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
        << macro << run.child.output();
    const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
    ASSERT_NE(window, 0u);
    // The box covers the menu: its six scroll arrows, SAVE and, lowest on
    // the right, O.K.
    const std::vector<Box> found = wait_for_buttons(
        window, dir, [](const std::vector<Box>& f) { return f.size() == 8 || f.size() == 2; });
    ASSERT_FALSE(found.empty()) << macro << run.child.output();
    const Box ok = *std::max_element(found.begin(), found.end(), [](const Box& a, const Box& b) {
      return a.cy() + a.cx() < b.cy() + b.cx();
    });
    ASSERT_TRUE(click(window, ok));
    EXPECT_FALSE(wait_for_buttons(window, dir, [](const std::vector<Box>& f) {
                   return f.size() > 8;
                 }).empty())
        << macro << run.child.output();
    EXPECT_EQ(run.child.output().find("ENTER COMMAND: O.K. OR SAVE", 0),
              run.child.output().rfind("ENTER COMMAND: O.K. OR SAVE"))
        << macro << run.child.output();
  }
}

// A macro ending at a file name (INPUT) leaves the file selection in the
// window: its CANCEL, the top one of the small buttons at the left edge,
// brings the menu back.
TEST_F(GuiProgram, AMacroEndingAtAFileNameLeavesTheSelectionForTheClick) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("gui.mac"), "IMAGE PROCESSING (GENERAL)\nINPUT\n");
  Running run(dir, {"-dim64x64", "-macgui.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
      << run.child.output();
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  ASSERT_NE(window, 0u);
  const auto menu_only = [](const std::vector<Box>& f) {
    int bottom = 0;
    for (const Box& b : f) bottom = std::max(bottom, b.y1);
    return f.size() >= 17 && std::all_of(f.begin(), f.end(), [bottom](const Box& b) {
             return b.y0 > bottom * 4 / 5;
           });
  };
  Box cancel{};
  const auto selection = [&](const std::vector<Box>& f) {
    std::vector<Box> column;
    for (const Box& b : f)
      if (b.x0 < 10 && b.x1 - b.x0 < 100) column.push_back(b);
    if (column.size() < 6) return false;
    cancel = *std::min_element(column.begin(), column.end(),
                               [](const Box& a, const Box& b) { return a.cy() < b.cy(); });
    return true;
  };
  ASSERT_FALSE(wait_for_buttons(window, dir, selection).empty()) << run.child.output();
  ASSERT_TRUE(click(window, cancel));
  EXPECT_FALSE(wait_for_buttons(window, dir, menu_only).empty()) << run.child.output();
  EXPECT_EQ(run.child.output().find("FILE NAME:", run.child.output().find("END OF MACRO FILE")),
            std::string::npos)
      << run.child.output();
}

// A macro ending at a value box (the title of the image, asked as text)
// leaves the box in the window: its O.K. takes the field and the menu comes
// back; the terminal does not ask for the title.
TEST_F(GuiProgram, AMacroEndingAtAValueBoxLeavesItForTheClick) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("gui.mac"), "IMAGE PROCESSING (GENERAL)\nOPTIONS\nTITLE\n");
  Running run(dir, {"-dim64x64", "-macgui.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
      << run.child.output();
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  ASSERT_NE(window, 0u);
  // The box replaces the menu: its field and, in a column at its right,
  // CANCEL, HELP and, lowest, O.K.
  const std::vector<Box> found =
      wait_for_buttons(window, dir, [](const std::vector<Box>& f) { return f.size() == 4; });
  ASSERT_EQ(found.size(), 4u) << run.child.output();
  const Box ok = *std::max_element(found.begin(), found.end(), [](const Box& a, const Box& b) {
    return a.cy() + a.cx() < b.cy() + b.cx();
  });
  ASSERT_TRUE(click(window, ok));
  EXPECT_FALSE(wait_for_buttons(window, dir, [](const std::vector<Box>& f) {
                 return f.size() > 4;
               }).empty())
      << run.child.output();
  EXPECT_EQ(run.child.output().find("ENTER TITLE FOR IMAGE",
                                    run.child.output().find("END OF MACRO FILE")),
            std::string::npos)
      << run.child.output();
}

// A macro ending at a click (the corners of the graph's position) leaves
// the question to the window: two clicks answer it and the menu comes back;
// the terminal does not ask for the coordinates.
TEST_F(GuiProgram, AMacroEndingAtAClickLeavesItToTheWindow) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file("gui.mac"), "IMAGE PROCESSING (GENERAL)\nOPTIONS\nPOSITION\n");
  Running run(dir, {"-dim64x64", "-macgui.mac"});
  ASSERT_TRUE(run.child.wait_for("INFO: Control returned to graphics window", kWait))
      << run.child.output();
  const unsigned long window = testing::find_window("KESTA GRAPHICS WINDOW");
  ASSERT_NE(window, 0u);
  // The prompt covers the menu while the corners are awaited.
  for (int k = 0; k < 100 && buttons(testing::screenshot(window, dir.path().string())).size() >= 14;
       ++k)
    usleep(200000);
  ASSERT_LT(buttons(testing::screenshot(window, dir.path().string())).size(), 14u)
      << run.child.output();
  ASSERT_TRUE(click(window, Box{100, 100, 100, 100}));
  usleep(300000);
  ASSERT_TRUE(click(window, Box{400, 300, 400, 300}));
  EXPECT_FALSE(wait_for_buttons(window, dir, [](const std::vector<Box>& f) {
                 return f.size() >= 14;
               }).empty())
      << run.child.output();
  EXPECT_EQ(run.child.output().find("COORDINATE (GRAPHICAL INPUT)",
                                    run.child.output().find("END OF MACRO FILE")),
            std::string::npos)
      << run.child.output();
}

// The size form, the top menu and the exit question answered with clicks.
TEST_F(GuiProgram, ClicksOnTheSizeFormTopMenuAndExit) {
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(dir.file(".kesta.def"),
                           "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
                           "DIM1_DATA\n300000\nDIM2_DATA\n40\n");
  // The form's controls are one row of five buttons, O.K. first, CANCEL second.
  const auto controls = [](const std::vector<Box>& found, std::vector<Box>& row) {
    for (const Box& b : found) {
      row.clear();
      for (const Box& o : found)
        if (std::abs(o.cy() - b.cy()) <= 2) row.push_back(o);
      if (row.size() == 5) {
        std::sort(row.begin(), row.end(), [](const Box& a, const Box& c) { return a.x0 < c.x0; });
        return true;
      }
    }
    return false;
  };
  const auto start = [&](int button) {
    auto run = std::make_unique<Running>(dir, std::vector<std::string>{});
    unsigned long window = 0;
    for (int k = 0; k < 300 && window == 0; ++k) {
      window = testing::find_window("Window");  // titled only after the sizes
      if (window == 0) usleep(200000);
    }
    std::vector<Box> row;
    if (window != 0 && !wait_for_buttons(window, dir, [&](const std::vector<Box>& f) {
                          return controls(f, row);
                        }).empty())
      EXPECT_TRUE(click(window, row[static_cast<std::size_t>(button)]));
    else
      ADD_FAILURE() << "no size form";
    return std::pair{std::move(run), window};
  };
  {
    // CANCEL is the escape of the start-up: nothing saved.
    auto [cancelled, ignored] = start(1);
    EXPECT_EQ(cancelled->child.finish(kWait), 0);
    EXPECT_NE(cancelled->child.output().find("\"User escape\" issued on start-up"),
              std::string::npos);
    EXPECT_NE(testing::file_contents(dir.file(".kesta.def")).find("DIM1_DATA\n300000\n"),
              std::string::npos);
  }
  auto [running, window] = start(0);
  ASSERT_NE(window, 0u);
  Running& run = *running;

  // The top menu: 13 buttons one above the other; EXIT KESTA the lowest.
  const auto menu = [](const std::vector<Box>& f) { return f.size() == 13; };
  std::vector<Box> top = wait_for_buttons(window, dir, menu);
  ASSERT_EQ(top.size(), 13u);
  std::sort(top.begin(), top.end(), [](const Box& a, const Box& b) { return a.y0 < b.y0; });
  EXPECT_LT(top[0].y1, top[1].y0);
  ASSERT_TRUE(click(window, top[12]));
  // CONFIRM EXIT: CANCEL, HELP above YES, NO.
  const auto question = [](const std::vector<Box>& f) { return f.size() == 4; };
  std::vector<Box> yes_no = wait_for_buttons(window, dir, question);
  ASSERT_EQ(yes_no.size(), 4u);
  std::sort(yes_no.begin(), yes_no.end(), [](const Box& a, const Box& b) {
    return a.y0 + 3 < b.y0 || (std::abs(a.y0 - b.y0) <= 3 && a.x0 < b.x0);
  });
  ASSERT_TRUE(click(window, yes_no[3]));  // NO: the menu again
  top = wait_for_buttons(window, dir, menu);
  ASSERT_EQ(top.size(), 13u);
  std::sort(top.begin(), top.end(), [](const Box& a, const Box& b) { return a.y0 < b.y0; });
  ASSERT_TRUE(click(window, top[12]));
  yes_no = wait_for_buttons(window, dir, question);
  ASSERT_EQ(yes_no.size(), 4u);
  std::sort(yes_no.begin(), yes_no.end(), [](const Box& a, const Box& b) {
    return a.y0 + 3 < b.y0 || (std::abs(a.y0 - b.y0) <= 3 && a.x0 < b.x0);
  });
  ASSERT_TRUE(click(window, yes_no[2]));  // YES
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  EXPECT_NE(run.child.output().find("INFO: BYE: KESTA"), std::string::npos);
  // The saved X size above the form's range was offered at its end.
  const std::string saved = testing::file_contents(dir.file(".kesta.def"));
  EXPECT_NE(saved.find("DIM1_DATA\n100000\nDIM2_DATA\n40\n"), std::string::npos) << saved;
}

}  // namespace
}  // namespace kesta
