// The interface loop and the top menu, driven by typed answers on a page
// that is not a window (the widgets then read the terminal, as in a replay).

#include "app/interfaces/interface_loop.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"

namespace kesta {
namespace {

using testing::ScriptedInput;
using testing::TerminalCapture;

struct Counts {
  int runs = 0;
  int entered = 0;
  int stored = 0;
};

int help_shown = 0;
void test_help(bool gui, Status&) { help_shown += gui ? 1 : 100; }

void run_count(MenuPass&, Counts& c, Status&) { ++c.runs; }
void run_escape(MenuPass&, Counts&, Status& status) { status = kStatusEscape; }
void run_fail(MenuPass&, Counts&, Status& status) { st_fail(status, kBaseApp + 9, "Test"); }
void run_toggle(MenuPass& pass, Counts&, Status&) {
  pass.buttons[pass.row] = pass.choice == "TOGGLE" ? "UNTOGGLE" : "TOGGLE";
}
void enter_counts(MenuPass&, Counts& c, Status&) { ++c.entered; }
void store_counts(const Counts& c, Status&) { const_cast<Counts&>(c).stored++; }

const MenuRow<Counts> kRows[] = {
    {"EXIT", "EXIT: Leave", 0, MenuRedraw::kNothing, menu_exit<Counts>},
    {"?", "?: The list", 0, MenuRedraw::kMenu, menu_list<Counts>},
    {"HELP", "HELP: The text", 0, MenuRedraw::kMenu, menu_help<Counts>},
    {"COUNT", "COUNT: Needs data", kMenuNeedsData, MenuRedraw::kImageAndMenu, run_count},
    {"MEMORY", "MEMORY: Needs memory arrays", kMenuNeedsMemory, MenuRedraw::kMenu, run_count},
    {"ESCAPE", "ESCAPE: A cancelled form", 0, MenuRedraw::kMenu, run_escape},
    {"FAIL", "FAIL: A failure", 0, MenuRedraw::kMenu, run_fail},
    {"TOGGLE", "TOGGLE: Swaps its text", 0, MenuRedraw::kMenu, run_toggle},
    {"LATER", "LATER: Not built", 0, MenuRedraw::kMenu, nullptr},
};
const std::string kWelcome[] = {"", "WELCOME TO THE TEST MENU", ""};

struct InterfaceLoop : testing::PageFixture {
  KztDataSets sets;
  Counts counts;
  InterfaceTable<Counts> table;
  std::vector<std::string> prompts;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    Status s = kStatusGood;
    kzt_allocate_arrays(6, 5, true, false, false, vosq_kzt_arrays, s);
    kzt_undefined_extent(vosq_kzt_arrays);
    ASSERT_EQ(s, kStatusGood);
    const KztArrays& a = vosq_kzt_arrays;
    for (Index k = 0; k < 6; ++k) kzt_xline(a.xaxis)[k] = static_cast<float>(k) + 0.5f;
    for (Index k = 0; k < 5; ++k) kzt_yline(a.yaxis)[k] = static_cast<float>(k) + 0.5f;
    sets.graphics_on = true;
    table.position = "Subroutine KZT_TEST V0.1";
    table.rows = kRows;
    table.welcome = kWelcome;
    table.help_text = test_help;
    table.enter = enter_counts;
    table.store = store_counts;
    help_shown = 0;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    PageFixture::TearDown();
  }
  Status run(const std::vector<std::string>& answers) {
    ScriptedInput input(answers);
    Status status = kStatusGood;
    kzt_interface(table, sets, counts, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    prompts = input.prompts;
    return status;
  }
};

TEST_F(InterfaceLoop, ChoicesNeedsHelpAndToggles) {
  TerminalCapture terminal;
  // Without data the choice is refused with the warning; the not-built choice
  // gives its line; the toggle answers to its new text only.
  EXPECT_EQ(run({"COUNT", "LATER", "TOGGLE", "UNTOGGLE", "?", "O.K.", "HELP", "EXIT"}),
            kStatusGood);
  EXPECT_EQ(counts.runs, 0);
  EXPECT_NE(terminal.text().find("WARNING: DATA NEEDED, BUT NONE IS DEFINED"), std::string::npos);
  EXPECT_NE(terminal.text().find("\"LATER\" is not available yet"), std::string::npos);
  EXPECT_EQ(help_shown, 1);
  EXPECT_EQ(counts.entered, 1);
  EXPECT_EQ(counts.stored, 1);
  EXPECT_NE(text("WELCOME TO THE TEST MENU"), nullptr);

  sets.data_defined = true;
  items.clear();
  EXPECT_EQ(run({"COUNT", "COUNT", "EXIT"}), kStatusGood);
  EXPECT_EQ(counts.runs, 2);
  EXPECT_FALSE(of("real_cell_array").empty());  // the data drawn instead of the welcome
  EXPECT_EQ(text("WELCOME TO THE TEST MENU"), nullptr);

  sets.memory_exist = false;
  EXPECT_EQ(run({"MEMORY", "EXIT"}), kStatusGood);
  EXPECT_EQ(counts.runs, 2);
  EXPECT_NE(terminal.text().find("WARNING: MEMORY DOES NOT EXIST"), std::string::npos);
}

TEST_F(InterfaceLoop, EscapesFailuresAndTheEndOfTheInput) {
  TerminalCapture terminal;
  // An escape inside a choice returns to the menu.
  EXPECT_EQ(run({"ESCAPE", "EXIT"}), kStatusGood);
  // Any other failure leaves the interface with it; the state is still stored.
  EXPECT_EQ(run({"FAIL"}), kBaseApp + 9);
  EXPECT_EQ(counts.stored, 2);
  // The end of the input at the menu leaves it: nothing waits for ever.
  EXPECT_EQ(run({}), kStatusGood);
  EXPECT_EQ(counts.stored, 3);

  // The top-menu kind asks to reset a failure: YES goes on, NO leaves.
  table.asks_reset = true;
  EXPECT_EQ(run({"FAIL", "YES", "FAIL", "NO"}), kBaseApp + 9);
  // Leaving it would end the run: the escape at its wait asks again, the
  // end of the input still leaves.
  table.escape_asks_again = true;
  EXPECT_EQ(run({"\\\\", "EXIT"}), kStatusGood);
  EXPECT_EQ(run({"\\\\"}), kStatusGood);
}

TEST_F(InterfaceLoop, BadArraysAreRefusedBeforeAnythingIsDrawn) {
  vosq_kzt_arrays.xmaxdat = 0;
  Status status = kStatusGood;
  kzt_interface(table, sets, counts, status);
  EXPECT_EQ(status, kBaseApp + 1);
  EXPECT_EQ(counts.entered, 0);
  EXPECT_TRUE(items.empty());
  vosq_kzt_arrays.xmaxdat = 6;
}

TEST_F(InterfaceLoop, TheMaskIsMadeOnFirstNeed) {
  table.uses_mask = true;
  EXPECT_FALSE(sets.mask_exist);
  EXPECT_EQ(run({"EXIT"}), kStatusGood);
  EXPECT_TRUE(sets.mask_exist);
  ASSERT_NE(vosq_kzt_arrays.mask, nullptr);
  for (const std::uint8_t m : kzt_mask()) EXPECT_EQ(m, 0);
}

// A macro that ends at the menu hands the choice back to the user (at the
// terminal here, where there is no window), and the menu is drawn again for
// it. An assignment in it is no end: the macro goes
// on with the next choice. A file sequence whose macro ends here, where
// nothing runs its next count, ends and says so.
TEST_F(InterfaceLoop, AMacroEndingAtTheMenuHandsBack) {
  TerminalCapture terminal;
  testing::TempDir dir;
  const std::string file = dir.file("m.mac");
  std::ofstream(file) << "%!*\\ BEGINNING OF IO MACRO FILE\nn = 5\nTOGGLE\n";
  vosq_io_dbdb.file_sequence = true;
  std::string name = file;
  Status status = kStatusGood;
  io_open_sequence_macro(name, status);
  ASSERT_EQ(status, kStatusGood);
  const auto menus = [this] {
    int n = 0;
    for (const std::string& t : texts()) n += t == "LATER";
    return n;
  };
  EXPECT_EQ(run({"UNTOGGLE", "EXIT"}), kStatusGood);
  const std::string out = terminal.text();
  const std::size_t returned = out.find("INFO: Control returned to the terminal");
  ASSERT_NE(returned, std::string::npos) << out;
  EXPECT_EQ(out.find("INFO: Control returned", returned + 1), std::string::npos) << out;
  EXPECT_LT(out.find("(GRAPHICAL INPUT):TOGGLE"), returned) << out;
  EXPECT_EQ(menus(), 4);  // on entry, after each toggle and after the hand-back
  EXPECT_FALSE(vosq_io_dbdb.file_sequence);
  EXPECT_NE(out.find(" \nNOTE: Sequence terminated: its macro ended at a graphical menu\n \n"),
            std::string::npos)
      << out;
}

int keyboard_runs = 0;
void fake_keyboard(bool from_gui, KztDataSets&, Status&) { keyboard_runs += from_gui ? 1 : 100; }

TEST_F(InterfaceLoop, TopMenuExitsAndTheKeyboardInterface) {
  TerminalCapture terminal;
  UpcallsOverride upcalls{ImageopsUpcalls{.keyboard = fake_keyboard}};
  Status status = kStatusGood;
  {
    // NO keeps the menu; the interfaces not built give their line; YES ends.
    ScriptedInput input({"EXIT KESTA", "NO", "2-D FITTING", "EXIT", "KEYBOARD INTERFACE",
                         "EXIT KESTA", "YES"});
    KZT_GUI(true, sets, status);
    EXPECT_EQ(input.remaining(), 0u);
  }
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(keyboard_runs, 1);
  EXPECT_NE(text("WELCOME TO THE 2-D"), nullptr);  // its interface entered and left
  EXPECT_NE(text("KESTA: SCIENTIFIC INTERFACES"), nullptr);
  EXPECT_NE(text("!!! REQUEST TO EXIT KESTA !!!"), nullptr);
  {
    // From the keyboard command: EXIT MENU returns without a question, and
    // "EXIT KESTA" is no longer a choice.
    items.clear();
    ScriptedInput input({"EXIT KESTA", "EXIT MENU"});
    std::string next;
    kzt_command_gui(sets, next, status);
    EXPECT_EQ(input.remaining(), 0u);
    EXPECT_EQ(next, "EXIT");
  }
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(text("CONTROL RETURNED TO"), nullptr);
  EXPECT_EQ(text("!!! REQUEST TO EXIT KESTA !!!"), nullptr);
}

// The first interface of the run decides the display scaling: on-line
// crystallography entered before any image interface (the macro menu does
// not count) starts with scaling mode 4; after another interface, or on a
// second visit, the mode stays as it was.
TEST_F(InterfaceLoop, OnlineCrystallographyFirstScalesFromTheStatistics) {
  TerminalCapture terminal;
  UpcallsOverride upcalls{ImageopsUpcalls{.keyboard = fake_keyboard}};
  // The scaling mode after a visit to the top menu that starts in MODE.
  const auto mode_after = [&](int mode, std::vector<std::string> answers) {
    Status status = kStatusGood;
    GS_SET_IMAGESCALE(mode, 2.0f, 3.0f, status);
    answers.insert(answers.end(), {"EXIT KESTA", "YES"});
    ScriptedInput input(answers);
    KZT_GUI(true, sets, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    float minimum = 0.0f, maximum = 0.0f;
    GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
    EXPECT_EQ(status, kStatusGood);
    return mode;
  };
  const std::string xtal = "ON-LINE CRYSTALLOGRAPHY";
  const std::vector<std::vector<std::string>> runs = {
      {xtal, "EXIT"},
      {"MACROS / LOG FILE", "EXIT", xtal, "EXIT"},
      {"2-D FITTING", "EXIT", xtal, "EXIT"},
      {"KEYBOARD INTERFACE", xtal, "EXIT"},
  };
  const int expected[] = {4, 4, 1, 1};
  for (std::size_t k = 0; k < runs.size(); ++k) {
    kzt_forget_answers();  // a new run
    EXPECT_EQ(mode_after(1, runs[k]), expected[k]) << runs[k][0];
  }
  // A second visit in the same run leaves the mode chosen in between.
  EXPECT_EQ(mode_after(0, {xtal, "EXIT"}), 0);
}

// Texts drawn before a menu or a box over the button panel stay above it:
// the file-series welcome and the keyboard interface's note.
TEST_F(InterfaceLoop, WelcomeAndNoteStayAboveTheButtonPanel) {
  TerminalCapture terminal;
  UpcallsOverride upcalls{ImageopsUpcalls{.keyboard = fake_keyboard}};
  const float panel_top = gs_state.gui_region.ymax;
  const auto above_panel = [&](const char* line) {
    const testing::PageItem* t = text(line);
    if (t == nullptr) return ::testing::AssertionFailure() << line << " not drawn";
    if (t->y[0] - t->height / 2.0f < panel_top)
      return ::testing::AssertionFailure() << line << " at " << t->y[0];
    return ::testing::AssertionSuccess();
  };
  Status status = kStatusGood;
  {
    ScriptedInput input({"EXIT"});
    KZT_GUI_FS(sets, status);
  }
  EXPECT_TRUE(above_panel("image"));
  items.clear();
  {
    ScriptedInput input({"KEYBOARD INTERFACE", "EXIT KESTA", "YES"});
    KZT_GUI(true, sets, status);
  }
  EXPECT_EQ(status, kStatusGood);
  for (const char* line : {"NOTE: WITHIN THE KEYBOARD MENU MANY",
                           "TABLES AT THE END OF THE REFERENCE MANUAL",
                           "DESCRIBE THE OUTPUT OF ALL COMMANDS AND",
                           "SHOULD BE USED WHEN THIS NOT CLEAR."})
    EXPECT_TRUE(above_panel(line));
  EXPECT_NE(text("CONTROL TRANSFERRED TO TERMINAL WINDOW"), nullptr);
}

}  // namespace
}  // namespace kesta
