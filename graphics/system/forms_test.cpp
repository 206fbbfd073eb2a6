#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/macro.hpp"
#include "core/variables.hpp"
#include "graphics/system/file_selection.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::click;
using testing::file_contents;
using testing::TempDir;
using testing::typed;
using testing::WidgetFixture;

GsFormItem item(std::string label, int type) {
  GsFormItem i;
  i.label = label;
  i.type = type;
  i.description = "The " + label;
  i.prompt = "ENTER " + label;
  return i;
}

struct Forms : WidgetFixture {
  std::vector<GsFormItem> items_;
  // Draws the form as GS_FORM will, so that its buttons can be found.
  void lay_out() {
    Status s = kStatusGood;
    gs_db_form.region = gs_state.message;
    int longest = 1;
    for (const auto& i : items_) longest = std::max(longest, static_cast<int>(i.label.size()));
    GS_DRAW_FORM(longest + 1, 1, 1, {"A FORM"}, items_, s);
    ASSERT_EQ(s, kStatusGood);
  }
  int run(Status& s) {
    int code = 99;
    GS_FORM(1, 1, {"A FORM"}, 1, 1, {"Form help"}, static_cast<int>(items_.size()) + 5, items_,
            code, s);
    return code;
  }
};

TEST_F(Forms, LimitsAndRecord) {
  items_.assign(20, item("X", 1));
  lay_out();
  EXPECT_EQ(gs_drawn_menu.num_buttons, 25);
  EXPECT_FLOAT_EQ(gs_drawn_menu.region.xmax, 1.0f);
  // The control buttons follow the items in the record.
  EXPECT_GT(gs_drawn_menu.boxes[20].ymin, gs_drawn_menu.boxes[0].ymax);
  // The GUI region is the form's prompt box while the form is up.
  EXPECT_FLOAT_EQ(gs_state.gui_region.ymax, gs_db_form.prompt.ymax);

  Status s = kStatusGood;
  int code = 0;
  GS_FORM(1, 0, {}, 1, 0, {}, 24, items_, code, s);
  EXPECT_EQ(s, 140005);
  s = kStatusGood;
  std::vector<GsFormItem> none;
  GS_FORM(1, 0, {}, 1, 0, {}, 24, none, code, s);
  EXPECT_EQ(s, 140017);
  s = kStatusGood;
  std::vector<GsFormItem> many(21, item("X", 1));
  GS_FORM(1, 0, {}, 1, 0, {}, 26, many, code, s);
  EXPECT_EQ(s, 140009);
}

TEST_F(Forms, ValueTexts) {
  const std::string fifty(50, 'a');
  struct Case {
    int type;
    int int_value;
    std::string string_value;
    std::string expected;
  } cases[] = {{7, 0, "/x/" + fifty, fifty.substr(5)},
               {4, 0, fifty, fifty.substr(0, 42) + "..."},
               {4, 0, "short", "short"},
               {9, 2, "", "Q-SPACE"},
               {5, kGsRed, "", "RED"},
               {1, -12, "", "-12"}};
  for (const Case& c : cases) {
    GsFormItem i = item("V", c.type);
    i.int_value = c.int_value;
    i.string_value = c.string_value;
    EXPECT_EQ(gs_form_value_text(i), c.expected) << c.type;
  }
}

TEST_F(Forms, ChangesRecordedAndReplayed) {
  items_ = {item("COUNT", 1), item("FLAG", 2), item("NAME", 4), item("NAME", 4)};
  items_[0].ranged = true;
  items_[0].int_lower = 1;
  items_[0].int_upper = 9;
  lay_out();
  const auto count = on_button(1), flag = on_button(2), name = on_button(3), ok = on_button(5);
  const auto cancel = on_button(6);

  // Without a macro a YES/NO value toggles at the click; the two NAME items
  // are asked one after the other.
  script({count, typed("4"), flag, name, typed("a"), typed("b"), ok});
  Status s = kStatusGood;
  EXPECT_EQ(run(s), 0);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(items_[0].int_value, 4);
  EXPECT_TRUE(items_[1].logical_value);
  EXPECT_EQ(items_[2].string_value, "a");
  EXPECT_EQ(items_[3].string_value, "b");
  EXPECT_TRUE(window->events.empty());

  // While recording, the YES/NO value is asked so that the answer replays.
  TempDir dir;
  std::string macro = dir.file("form.mac");
  IO_OPEN_OUTMACRO(true, false, macro, s);
  GS_SET_MENULAYOUT(0, 2, 40, 6, s);
  const GsRect& g = gs_state.gui_region;
  GS_MENU(1, 1, {"ENTER FLAG"}, 4, 4, {"CANCEL", "HELP", "YES", "NO"}, g.xmin, g.ymin, g.xmax,
          g.ymax, s);
  const auto no = on_button(4);
  script({flag, no, count, typed("7"), cancel});
  EXPECT_EQ(run(s), -1);
  EXPECT_FALSE(items_[1].logical_value);
  EXPECT_EQ(items_[0].int_value, 7);
  io_outmacro_record("EXIT", s);
  IO_CLOSE_OUTMACRO(s);
  ASSERT_EQ(s, kStatusGood);

  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  items_[1].logical_value = true;
  items_[0].int_value = 1;
  IO_OPEN_INMACRO(false, macro, s);
  const int waits = window->waits;
  EXPECT_EQ(run(s), -1);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FALSE(items_[1].logical_value);
  EXPECT_EQ(items_[0].int_value, 7);
  EXPECT_EQ(window->waits, waits);
}

// Once the window has gone the form is asked at the terminal: its title and
// each item's value are shown with the choices, and answers name them.
TEST_F(Forms, AfterTheWindowHasGoneTheFormIsShownAtTheTerminal) {
  items_ = {item("COUNT", 1), item("NAME", 4)};
  items_[0].int_value = 3;
  items_[1].string_value = "old";
  window->lost = true;
  testing::TerminalCapture terminal;
  testing::ScriptedInput answers({"COUNT", "5", "O.K."});
  Status s = kStatusGood;
  EXPECT_EQ(run(s), 0);
  EXPECT_EQ(items_[0].int_value, 5);
  const std::string shown = terminal.text();
  EXPECT_EQ(shown.find("A FORM\nCOUNT: 3\nNAME: old\nCHOICES: COUNT, NAME,"), 0u) << shown;
  EXPECT_NE(shown.find("A FORM\nCOUNT: 5\nNAME: old\n"), std::string::npos) << shown;

  // An answer equal to one item's name chooses it, even when it begins
  // another's.
  items_ = {item("TILT PLANE", 3), item("TILT", 3)};
  testing::ScriptedInput tilt({"TILT", "2.5", "tilt p", "30", "O.K."});
  EXPECT_EQ(run(s), 0);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(items_[1].real_value, 2.5f);
  EXPECT_EQ(items_[0].real_value, 30.0f);
  EXPECT_EQ(terminal.text().find("ambiguous"), std::string::npos) << terminal.text();
}

TEST_F(Forms, ChoiceItemsPickFromTheirList) {
  items_ = {item("KIND", 10), item("OTHER", 10)};
  items_[0].choices = {"ALPHA", "BETA", "GAMMA"};
  items_[0].string_value = "ALPHA";
  items_[1].string_value = "KEEP";  // no list: the value stays
  lay_out();
  const auto kind = on_button(1), other = on_button(2), ok = on_button(3);
  Status s = kStatusGood;
  GS_SET_MENULAYOUT(0, 2, 30, 12, s);
  GS_FMENU(1, 1, {"ENTER KIND"}, 3, 3, items_[0].choices, s);
  const auto beta = on_button(2);
  script({kind, testing::redraw(), beta, other, ok});
  EXPECT_EQ(run(s), 0);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(items_[0].string_value, "BETA");
  EXPECT_EQ(items_[1].string_value, "KEEP");
  EXPECT_TRUE(window->events.empty());
  // A list longer than the menu can show leaves the value as it was.
  std::vector<std::string> long_list(17, "X");
  std::string value = "BETA";
  GS_INP_FORMMENU(long_list, "TOO MANY", value, s);
  EXPECT_EQ(value, "BETA");
}

TEST_F(Forms, ClickBesideTheButtonsPrintsTheForm) {
  items_ = {item("COUNT", 1)};
  lay_out();
  const auto ok = on_button(2);
  TempDir dir;
  const std::string ps = dir.file("form.ps");
  gs_state.form_document = true;
  script({click(0.01f, 0.5f), typed(ps), ok});
  Status s = kStatusGood;
  EXPECT_EQ(run(s), 0);
  EXPECT_EQ(s, kStatusGood);
  const std::string copy = file_contents(ps);
  EXPECT_NE(copy.find("DESCRIPTIONS"), std::string::npos);
  EXPECT_NE(copy.find("COUNT"), std::string::npos);
}

TEST_F(Forms, ProgressShowsWholePercentCappedAt99) {
  const std::pair<float, std::string> cases[] = {
      {0.999f, "99 %  COMPLETE"}, {1.0f, "99 %  COMPLETE"}, {0.004f, " 0 %  COMPLETE"},
      {0.625f, "63 %  COMPLETE"}};
  for (const auto& [fraction, line] : cases) {
    items.clear();
    Status s = kStatusGood;
    GS_PROGRESS("Reading", fraction, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_NE(text(line), nullptr) << fraction;
  }
}

struct FileSelection : WidgetFixture {
  TempDir tree;
  void SetUp() override {
    WidgetFixture::SetUp();
    gs_forget_file_selection();
    for (const char* f : {"data1.img", "data2.img", "notes.txt"})
      std::ofstream(tree.file(f)) << "x\n";
    std::filesystem::create_directory(tree.file("darks"));
  }
  int choose(int mode, std::string& name, Status& s) {
    int cancelled = -1;
    GS_FILESELECTION(1, 1, {"CHOOSE A FILE"}, 1, 1, {"Any file"}, mode, false, cancelled, name,
                     s);
    return cancelled;
  }
  // Lays the dialogue out as the chooser will, for the places of its parts.
  GsSelectionLayout lay_out() {
    GsNameList files, dirs;
    Status s = kStatusGood;
    gs_list_files(tree.path().string(), "", "", files, s);
    gs_list_directories(tree.path().string(), dirs, s);
    GsSelectionLayout layout;
    GS_DRAW_SELECTION(gs_state.message, {"CHOOSE A FILE"}, tree.path().string(), dirs, files, {"i"}, layout,
                      s);
    return layout;
  }
};

TEST_F(FileSelection, CompletionChoiceCancelAndReplay) {
  TempDir dir;
  std::string macro = dir.file("files.mac");
  Status s = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, s);
  std::string name = tree.file("x");
  // "da" is shared by two files and a directory; "data1" completes.
  script({testing::tab("da"), testing::tab("data1"), typed("data1.img")});
  EXPECT_EQ(choose(1, name, s), 0);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(name, tree.file("data1.img"));
  ASSERT_GE(window->initial.size(), 3u);
  EXPECT_EQ(window->initial[1], "da");
  EXPECT_EQ(window->initial[2], "data1.img");

  lay_out();
  script({on_button(1)});
  EXPECT_EQ(choose(3, name, s), 1);
  EXPECT_EQ(name, tree.file("data1.img"));
  io_outmacro_record("EXIT", s);
  IO_CLOSE_OUTMACRO(s);

  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, s);
  const int waits = window->waits;
  std::string replayed;
  EXPECT_EQ(choose(1, replayed, s), 0);
  EXPECT_EQ(replayed, tree.file("data1.img"));
  EXPECT_EQ(choose(3, replayed, s), 1);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(window->waits, waits);
}

// An assignment typed in the name field sets its variable, the name is
// asked again, and the recording keeps the assignment before the name: its
// replay sets the variable too, and the later lines that use it fit.
TEST_F(FileSelection, AnAssignmentTypedForTheNameIsRecordedBeforeIt) {
  TempDir dir;
  std::string macro = dir.file("files.mac");
  Status s = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, s);
  std::string name = tree.file("x");
  script({typed("k5 = 5"), typed("data2.img")});
  EXPECT_EQ(choose(1, name, s), 0);
  EXPECT_EQ(name, tree.file("data2.img"));
  io_outmacro_record("EXIT", s);
  IO_CLOSE_OUTMACRO(s);
  EXPECT_NE(file_contents(macro).find("\nk5 = 5\n" + tree.file("data2.img") + "\n"),
            std::string::npos)
      << file_contents(macro);

  testing::reset_dialogue();
  int retstat = 0, ivalue = 0, length = 0;
  char type = ' ';
  bool lvalue = false;
  float rvalue = 0.0f;
  std::string svalue;
  IO_UNSET_VARIABLE("k5", retstat, s);
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, s);
  std::string replayed;
  EXPECT_EQ(choose(1, replayed, s), 0);
  EXPECT_EQ(replayed, tree.file("data2.img"));
  IO_INQ_VARIABLE("k5", retstat, type, ivalue, lvalue, rvalue, length, svalue, s);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(ivalue, 5);
}

TEST_F(FileSelection, NewOutputNameMustNotExistEvenWhenFilteredOut) {
  lay_out();
  const auto types = on_button(5);
  GsRect ok;
  Status s = kStatusGood;
  const GsRect& g = gs_state.gui_region;
  GS_DRAW_WARNING(0, g.xmin, g.ymin, g.xmax, g.ymax, 1, 1, {"x"}, ok, s);
  const auto warning_ok = click((ok.xmin + ok.xmax) / 2, (ok.ymin + ok.ymax) / 2);
  // Only .img files listed; notes.txt still exists and is refused.
  script({types, typed("img"), typed("notes.txt"), warning_ok, typed("new.txt")});
  std::string name = tree.file("x");
  EXPECT_EQ(choose(4, name, s), 0);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(name, tree.file("new.txt"));
  EXPECT_TRUE(window->events.empty());

  // An input file must be in the list: a name that is not gets a warning.
  script({typed("missing.img"), warning_ok, typed("data2.img")});
  EXPECT_EQ(choose(1, name, s), 0);
  EXPECT_EQ(name, tree.file("data2.img"));
}

}  // namespace
}  // namespace kesta
