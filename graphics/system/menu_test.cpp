#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "core/macro.hpp"
#include "core/reader.hpp"
#include "core/variables.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::file_contents;
using testing::TempDir;
using testing::WidgetFixture;

const std::vector<std::string> kSeven{"ONE", "TWO", "THREE", "FOUR", "FIVE", "SIX", "SEVEN"};
const std::vector<std::string> kTitle{"CHOOSE"};

struct Menus : WidgetFixture {
  void draw(int fill_order, int across, int num_title = 1, int num = 7) {
    Status s = kStatusGood;
    GS_SET_MENULAYOUT(fill_order, across, 20, 10, s);
    GS_MENU(1, num_title, kTitle, 7, num, kSeven, 0.1f, 0.2f, 0.7f, 0.6f, s);
    ASSERT_EQ(s, kStatusGood);
  }
};

TEST_F(Menus, ButtonsFillByRowsOrByColumns) {
  // 7 buttons 3 across: 3 rows under one title line, row height 0.1, column width 0.2.
  struct Case {
    int fill_order, button, row, column;
  } cases[] = {{0, 1, 0, 0}, {0, 3, 0, 2}, {0, 4, 1, 0}, {0, 7, 2, 0},
               {1, 1, 0, 0}, {1, 3, 2, 0}, {1, 4, 0, 1}, {1, 7, 0, 2}};
  for (const Case& c : cases) {
    draw(c.fill_order, 3);
    const GsRect& b = gs_drawn_menu.boxes[c.button - 1];
    const float x0 = 0.1f + 0.2f * static_cast<float>(c.column);
    const float y0 = 0.6f - 0.1f * static_cast<float>(c.row + 2);
    EXPECT_NEAR(b.xmin, x0 + 0.004f, 1e-5f) << c.fill_order << " " << c.button;
    EXPECT_NEAR(b.xmax, x0 + 0.196f, 1e-5f);
    EXPECT_NEAR(b.ymin, y0 + 0.005f, 1e-5f) << c.fill_order << " " << c.button;
    EXPECT_NEAR(b.ymax, y0 + 0.095f, 1e-5f);
  }
  EXPECT_EQ(gs_drawn_menu.num_buttons, 7);
  EXPECT_NEAR(gs_drawn_menu.edge, 0.01f, 1e-6f);
  ASSERT_NE(text("CHOOSE"), nullptr);
  EXPECT_NEAR(text("CHOOSE")->y[0], 0.6f - 0.08f, 1e-5f);
}

// A panel at the foot of the page: however many rows, the last row's
// bottom border lies on a pixel row of a 500 x 707 window (and of a taller
// one), not on the page edge just below the window.
TEST_F(Menus, LastRowKeepsItsBorderAtThePageFoot) {
  const std::vector<std::string> buttons(40, "B");
  for (const int across : {1, 4}) {
    for (int num = 1; num <= 40; num += 3) {
      Status s = kStatusGood;
      items.clear();
      GS_SET_MENULAYOUT(0, across, 12, 10, s);
      GS_FMENU(1, 0, kTitle, 40, num, buttons, s);
      ASSERT_EQ(s, kStatusGood);
      for (int i = 0; i < num; ++i)
        for (const float rows : {707.0f, 1024.0f})
          EXPECT_GE(static_cast<int>(gs_drawn_menu.boxes[i].ymin * rows), 1)
              << num << " buttons " << across << " across, button " << i + 1;
    }
  }
}

TEST_F(Menus, LimitsAndEmptyMenus) {
  std::vector<std::string> many(101, "X");
  std::vector<std::string> titles(11, "T");
  Status s = kStatusGood;
  GS_MENU(1, 0, titles, 101, 101, many, 0, 0, 1, 1, s);
  EXPECT_EQ(s, 140009);
  s = kStatusGood;
  GS_MENU(11, 11, titles, 1, 1, many, 0, 0, 1, 1, s);
  EXPECT_EQ(s, 140009);
  s = kStatusGood;
  GS_MENU(1, 2, titles, 1, 1, many, 0, 0, 1, 1, s);
  EXPECT_EQ(s, 140005);

  // No buttons and no title: only the frame, and every click misses.
  s = kStatusGood;
  items.clear();
  GS_MENU(1, 0, titles, 1, 0, many, 0.1f, 0.1f, 0.5f, 0.5f, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(gs_drawn_menu.num_buttons, 0);
  bool in_menu = false;
  int choice = -1;
  GS_CAL_MENUCHOICE(QG_PC2WC(true, 0.3f, s), QG_PC2WC(false, 0.3f, s), in_menu, choice, s);
  EXPECT_TRUE(in_menu);
  EXPECT_EQ(choice, 0);
}

TEST_F(Menus, SizeFactorFollowsTheReferenceWidth) {
  const std::pair<float, float> cases[] = {
      {0.05f, 1.5f}, {0.063f, 1.5f}, {0.083f, 1.4f}, {0.0831f, 1.25f}, {0.1f, 1.25f}, {0.2f, 1.1f}};
  for (const auto& [width, factor] : cases) {
    gs_state.reference_width = width;
    EXPECT_FLOAT_EQ(gs_menu_factor(), factor) << width;
  }
}

TEST_F(Menus, ClicksChooseButtonsOrPoints) {
  draw(0, 3);
  const GsRect frame_gap{0.1f, 0.2f, 0.101f, 0.201f};  // a corner of the frame
  Status s = kStatusGood;
  int type = 99;
  std::string command;
  float x = 0, y = 0;
  // MODE 0: a click beside the buttons is ignored.
  script({testing::click(frame_gap.xmin, frame_gap.ymin), on_button(5)});
  GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
  EXPECT_EQ(type, kGsChoiceButton);
  EXPECT_EQ(command, "FIVE");
  // The flash redrew the button sunk, then raised.
  const std::vector<std::string> drawn = texts();
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), "FIVE"), 3);

  // MODE 2 returns the point; MODE 1 a redraw request.
  script({testing::click(0.9f, 0.9f)});
  GS_INP_MENUCHOICE(7, 7, kSeven, 2, type, command, x, y, s);
  EXPECT_EQ(type, kGsChoicePoint);
  EXPECT_TRUE(command.empty());
  script({testing::redraw()});
  GS_INP_MENUCHOICE(7, 7, kSeven, 1, type, command, x, y, s);
  EXPECT_EQ(type, kGsChoiceRedraw);
  EXPECT_EQ(s, kStatusGood);

  // The data transform of the last graph is back after the menu and the flash.
  float x1, y1, x2, y2;
  QG_INQ_VIEWPORT(x1, y1, x2, y2, s);
  EXPECT_FLOAT_EQ(x1, gs_state.dgpp.xmin);
  EXPECT_FLOAT_EQ(y2, gs_state.dgpp.ymax);
}

// After a drawing whose data reach -3.4E+38 the data window's bottom is at
// the float range: a click on the menu below the frame has no float data
// coordinate, but the button under it is still found.
TEST_F(Menus, ButtonsFoundBelowADataWindowAtTheFloatRange) {
  gs_state.dddr = {0.0f, -std::numeric_limits<float>::max(), 7.0f, -2.5e38f};
  gs_state.dgpp = {0.1f, 0.65f, 0.9f, 0.95f};
  draw(0, 3);
  Status s = kStatusGood;
  int type = 0;
  std::string command;
  float x = 0, y = 0;
  script({on_button(6)});
  GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(type, kGsChoiceButton);
  EXPECT_EQ(command, "SIX");
  // A click on the data still gives its data coordinate, and one below the
  // frame beside the buttons gives a point at the float range.
  script({testing::click(0.5f, 0.8f), testing::click(0.8f, 0.1f)});
  GS_INP_MENUCHOICE(7, 7, kSeven, 2, type, command, x, y, s);
  EXPECT_EQ(type, kGsChoicePoint);
  EXPECT_NEAR(x, 3.5f, 1e-4f);
  EXPECT_NEAR(y, (-double{std::numeric_limits<float>::max()} - 2.5e38) / 2, 1e33);
  GS_INP_MENUCHOICE(7, 7, kSeven, 2, type, command, x, y, s);
  EXPECT_EQ(type, kGsChoicePoint);
  EXPECT_EQ(y, -std::numeric_limits<float>::max());
  EXPECT_FLOAT_EQ(qg_click_pc(false, y, s), 0.1f);
}

TEST_F(Menus, ClickBesideTheButtonsPrintsTheMenu) {
  TempDir dir;
  const std::string ps = dir.file("menu.ps");
  gs_state.menu_document = true;
  draw(0, 3);
  Status s = kStatusGood;
  int type = 0;
  std::string command;
  float x = 0, y = 0;
  // The file name is asked in the window's text box.
  script({testing::click(0.69f, 0.21f), testing::typed(ps)});
  GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(type, kGsChoiceRedraw);
  const std::string copy = file_contents(ps);
  EXPECT_NE(copy.find("SEVEN"), std::string::npos);
  EXPECT_NE(copy.find("CHOOSE"), std::string::npos);
  EXPECT_FALSE(gs_state.ps_file);
}

TEST_F(Menus, SessionRecordedInTheWindowReplaysWithoutIt) {
  TempDir dir;
  std::string macro = dir.file("session.mac");
  std::string log = dir.file("session.log");
  Status s = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, s);
  IO_OPEN_LOGFILE(false, log, s);
  draw(0, 3);
  int type = 0;
  std::string command;
  float x = 0, y = 0;
  script({on_button(2), on_button(7)});
  GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
  GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
  io_outmacro_record("EXIT", s);  // the command that stops the recording
  IO_CLOSE_OUTMACRO(s);
  IO_CLOSE_LOGFILE(s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_NE(file_contents(log).find("GRAPHICAL MENU: TWO\nGRAPHICAL MENU: SEVEN\n"),
            std::string::npos);

  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, s);
  const int waits = window->waits;
  std::vector<std::string> replayed;
  for (int i = 0; i < 3; ++i) {
    GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
    ASSERT_EQ(s, kStatusGood);
    replayed.push_back(std::to_string(type) + command);
  }
  EXPECT_EQ(replayed, (std::vector<std::string>{"1TWO", "1SEVEN", "-1"}));
  EXPECT_EQ(window->waits, waits);
  EXPECT_NE(terminal.text().find("INFO: Control returned to graphics window"), std::string::npos);
}

// Once the window has gone the questions are typed at the terminal, which
// then shows each one whole (its title and choices, or its prompt), and an
// answer names a choice as at the keyboard; a replaying macro shows nothing
// more than before.
TEST_F(Menus, AfterTheWindowHasGoneQuestionsAreShownAtTheTerminal) {
  window->lost = true;
  testing::TerminalCapture terminal;
  testing::ScriptedInput answers({"YE", "0.25 0.5"});
  Status s = kStatusGood;
  bool confirmed = false;
  GS_INPL(false, false, false, true, "CONFIRM EXIT", {"Help"}, {"Error"}, confirmed, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(confirmed);
  float x = 0.0f, y = 0.0f;
  GS_INP_PC(0.1f, 0.1f, 0.9f, 0.2f, "CLICK ON THE BEAM CENTRE", 1, {"Info"}, x, y, s);
  EXPECT_FLOAT_EQ(x, 0.25f);
  EXPECT_FLOAT_EQ(y, 0.5f);
  EXPECT_EQ(terminal.text(), "CONFIRM EXIT\nCHOICES: CANCEL, HELP, YES, NO\nCLICK ON THE BEAM CENTRE\n");
  testing::ScriptedInput file_answer({"out.dat"});
  int cancelled = -1;
  std::string name;
  GS_FILESELECTION(1, 1, {"NAME OF OUTPUT FILE"}, 1, 1, {"Info"}, 1, false, cancelled, name, s);
  EXPECT_EQ(cancelled, 0);
  EXPECT_EQ(name, "out.dat");
  EXPECT_NE(terminal.text().find("CLICK ON THE BEAM CENTRE\nNAME OF OUTPUT FILE\n"),
            std::string::npos)
      << terminal.text();

  TempDir dir;
  std::string macro = dir.file("answers.mac");
  std::ofstream(macro) << "TWO\nTILT\ntilt p\nalumina\n";
  IO_OPEN_INMACRO(false, macro, s);
  draw(0, 3);
  int type = 0;
  std::string command;
  GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
  EXPECT_EQ(command, "TWO");
  EXPECT_EQ(terminal.text().find("CHOOSE"), std::string::npos);
  // A replayed click names its whole button, even one whose name begins
  // another's, and the caller gets the button's own text, as a click gives it.
  const std::vector<std::string> items{"TILT PLANE", "TILT", "ALUMINA (Al2O3)"};
  for (const char* expected : {"TILT", "TILT PLANE", "ALUMINA (Al2O3)"}) {
    GS_INP_MENUCHOICE(3, 3, items, 0, type, command, x, y, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(type, kGsChoiceButton);
    EXPECT_EQ(command, expected);
  }
  EXPECT_EQ(terminal.text().find("ambiguous"), std::string::npos) << terminal.text();
  // The macro's end hands control to the terminal, where the questions are.
  GS_INP_MENUCHOICE(3, 3, items, 0, type, command, x, y, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(type, kGsChoiceNone);
  EXPECT_NE(terminal.text().find("INFO: Control returned to the terminal\n"), std::string::npos)
      << terminal.text();
  EXPECT_EQ(terminal.text().find("graphics window"), std::string::npos) << terminal.text();
}

// An assignment in a replayed macro is no answer and no end of the macro:
// the menu choice, the file selection, the page point and the value box each
// ask again and take the next line. The macro's own end inside a sequence
// ends the value box's question, which is not asked at the terminal.
TEST_F(Menus, AnAssignmentInAReplayedMacroIsAskedAgainByEveryWidget) {
  TempDir dir;
  std::string macro = dir.file("answers.mac");
  std::ofstream(macro) << "n = 1\nTWO\nn = 2\nout.dat\nn = 3\n0.25\nn = 4\n0.5\nn = 5\n7\n";
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  io_open_sequence_macro(macro, s);
  draw(0, 3);
  int type = 0;
  std::string command;
  float x = 0.0f, y = 0.0f;
  GS_INP_MENUCHOICE(7, 7, kSeven, 0, type, command, x, y, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(type, kGsChoiceButton);
  EXPECT_EQ(command, "TWO");
  int cancelled = -1;
  std::string name;
  GS_FILESELECTION(1, 1, {"NAME OF OUTPUT FILE"}, 1, 1, {"Info"}, 1, false, cancelled, name, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(cancelled, 0);
  EXPECT_EQ(name, "out.dat");
  GS_INP_PC(0.1f, 0.1f, 0.9f, 0.2f, "CLICK ON THE BEAM CENTRE", 1, {"Info"}, x, y, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(x, 0.25f);
  EXPECT_FLOAT_EQ(y, 0.5f);
  int value = 1;
  GS_INPI(true, 1, 10, true, "FILE INCREMENT", {"Help"}, {"Error"}, value, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(vosq_io_dbdb.input_macro);
  EXPECT_EQ(terminal.text().find("Control returned"), std::string::npos) << terminal.text();
  char vtype = ' ';
  int ivalue = 0, length = 0, retstat = -1;
  bool lvalue = false;
  float rvalue = 0.0f;
  std::string svalue;
  IO_INQ_VARIABLE("n", retstat, vtype, ivalue, lvalue, rvalue, length, svalue, s);
  EXPECT_EQ(ivalue, 5);

  vosq_io_dbdb.file_sequence = true;
  GS_INPI(true, 1, 10, true, "FILE INCREMENT", {"Help"}, {"Error"}, value, s);
  EXPECT_TRUE(io_macro_ended(s));
  EXPECT_FALSE(vosq_io_dbdb.input_macro);
  EXPECT_EQ(value, 7);
  vosq_io_dbdb.file_sequence = false;
}

}  // namespace
}  // namespace kesta
