#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::click;
using testing::file_contents;
using testing::TempDir;
using testing::WidgetFixture;

struct Boxes : WidgetFixture {
  std::vector<std::string> lines;
  GsMessageBoxes boxes;

  // 100 lines of which exactly 20 fit the default message region.
  void hundred_lines() {
    for (int k = 1; k <= 100; ++k) lines.push_back("L" + std::to_string(k));
    GsMessageStyle& style = gs_state.message_style;
    style.automatic_size = false;
    style.line_spacing = 1.8f;
    style.height = (1.0f - 0.02f - 0.007071f - 0.05f) / 20.5f / style.line_spacing;
    Status s = kStatusGood;
    const GsRect& r = gs_state.message;
    GS_DRAW_MESSAGE(100, 100, lines, 1, r.xmin, r.ymin, r.xmax, r.ymax, boxes, s);
    ASSERT_EQ(boxes.shown, 20);
    items.clear();
  }
  static testing::WindowEvent part(int i) {
    const GsRect& b = gs_drawn_scrollbar.parts[i - 1];
    return click((b.xmin + b.xmax) / 2, (b.ymin + b.ymax) / 2);
  }
  static testing::WindowEvent centre(const GsRect& b) {
    return click((b.xmin + b.xmax) / 2, (b.ymin + b.ymax) / 2);
  }
  // The first line of every drawing of the message box.
  std::vector<std::string> first_lines() const {
    std::vector<std::string> out;
    bool next = true;
    for (const std::string& t : texts()) {
      if (next && t[0] == 'L') out.push_back(t);
      next = t == "SAVE";
    }
    return out;
  }
};

TEST_F(Boxes, MessageScrollsAndEndsOnOk) {
  hundred_lines();
  script({part(2), part(1), part(3), part(6), click(0.01f, 0.01f), centre(boxes.ok)});
  Status s = kStatusGood;
  GS_MESSAGE(100, 100, lines, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(first_lines(), (std::vector<std::string>{"L1", "L19", "L81", "L81", "L1", "L1"}));
  EXPECT_TRUE(window->events.empty());
}

TEST_F(Boxes, SavedMessageSessionReplaysWithoutTheWindow) {
  hundred_lines();
  TempDir dir;
  std::string macro = dir.file("m.mac");
  const std::string saved = dir.file("text.txt");
  Status s = kStatusGood;
  IO_OPEN_OUTMACRO(true, false, macro, s);
  {
    // A name in a missing folder fails and the box stays; the second is written.
    testing::TerminalCapture shown;
    script({centre(boxes.save), testing::typed(dir.file("none/x.txt")), centre(boxes.save),
            testing::typed(saved), centre(boxes.ok)});
    GS_MESSAGE(100, 100, lines, s);
    EXPECT_NE(shown.text().find("WARNING: Error in writing file"), std::string::npos);
  }
  ASSERT_EQ(s, kStatusGood);
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  EXPECT_EQ(file_contents(saved), all);
  io_outmacro_record("EXIT", s);
  IO_CLOSE_OUTMACRO(s);

  testing::reset_dialogue();
  std::filesystem::remove(saved);
  testing::TerminalCapture terminal;
  IO_OPEN_INMACRO(false, macro, s);
  const int waits = window->waits;
  GS_MESSAGE(100, 100, lines, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(window->waits, waits);
  EXPECT_EQ(file_contents(saved), all);
}

// Typed answers at a message box: the prompt names what to type, an empty
// line is O.K., anything else is refused with a line saying so.
TEST_F(Boxes, TypedAnswersNameTheirChoices) {
  qg_db_system.category[0] = kCategoryPostScript;  // no window: typed answers
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({"EXIT", ""});
  Status s = kStatusGood;
  GS_MESSAGE(1, 1, {"Some text"}, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  ASSERT_EQ(input.prompts.size(), 2u);
  EXPECT_NE(input.prompts[0].find("O.K. OR SAVE"), std::string::npos) << input.prompts[0];
  EXPECT_NE(terminal.text().find("WARNING: Enter O.K. or SAVE"), std::string::npos);
  // The end of the input leaves the box with the user escape.
  testing::ScriptedInput none({});
  GS_MESSAGE(1, 1, {"Some text"}, s);
  EXPECT_EQ(s, kStatusEscape);
}

TEST_F(Boxes, WarningLayoutAndWait) {
  const std::vector<std::string> disk{"Disk full"};
  GsRect ok;
  Status s = kStatusGood;
  // A wide strip puts O.K. beside the text; a tall box under it.
  GS_DRAW_WARNING(0, 0.0f, 0.0f, 0.7071f, 0.15f, 1, 1, disk, ok, s);
  EXPECT_NEAR(ok.xmin, 0.7071f - 0.7071f / 50 - 0.7071f / 8 + 0.7071f / 50, 1e-5f);
  EXPECT_NEAR(ok.xmax, 0.7071f - 0.7071f / 50, 1e-5f);
  GS_DRAW_WARNING(0, 0.0f, 0.0f, 0.6f, 0.6f, 1, 1, disk, ok, s);
  EXPECT_NEAR(ok.ymax, 0.06f, 1e-6f);
  EXPECT_NEAR(ok.xmin, 0.6f - 0.012f - 0.1f, 1e-6f);
  ASSERT_NE(text("!!! WARNING !!!"), nullptr);

  // A strip full of lines keeps its last line clear of the thick frame:
  // the glyphs end at least two thirds of a line's pitch above its edge.
  std::vector<std::string> many;
  for (int k = 1; k <= 10; ++k) many.push_back("Line " + std::to_string(k));
  items.clear();
  GS_DRAW_WARNING(0, 0.0f, 0.0f, 0.7071f, 0.15f, 10, 10, many, ok, s);
  const auto* last = text("Line 10");
  ASSERT_NE(last, nullptr);
  const float pitch = 0.15f / 12.0f;
  EXPECT_GT(last->y[0] - last->height / 2.0f, 2.0f * pitch / 3.0f) << last->y[0] << " " << last->height;

  // Clicks beside O.K. are ignored, a redraw draws again.
  items.clear();
  script({click(0.3f, 0.3f), testing::redraw(), click(0.55f, 0.04f)});
  GS_WARNING(0, 0.0f, 0.0f, 0.6f, 0.6f, 1, 1, disk, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(window->events.empty());
  const std::vector<std::string> drawn = texts();
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), "Disk full"), 2);
}

// A refusal's box is a line at the terminal too, once, its box lines joined;
// the box still waits for its O.K.
TEST_F(Boxes, ARefusalIsALineAtTheTerminalAsWellAsItsBox) {
  const std::vector<std::string> text{"THE SERIES HAS MORE FILES THAN THE DATA",
                                      "ARRAYS HAVE ROWS (USE \"DIMENSIONS\")"};
  const GsRect& gui = gs_state.gui_region;
  GsRect ok;
  Status s = kStatusGood;
  GS_DRAW_WARNING(0, gui.xmin, gui.ymin, gui.xmax, gui.ymax, 2, 2, text, ok, s);
  items.clear();
  testing::TerminalCapture terminal;
  script({centre(ok)});
  gs_refusal(text, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(window->events.empty());
  EXPECT_NE(this->text("ARRAYS HAVE ROWS (USE \"DIMENSIONS\")"), nullptr);
  EXPECT_EQ(terminal.text(),
            "WARNING: THE SERIES HAS MORE FILES THAN THE DATA ARRAYS HAVE ROWS (USE "
            "\"DIMENSIONS\")\n");
}

// A replayed macro ended by a refusal (its later lines were for the refused
// work) hands the next menu back as a macro that runs out there does: once,
// said, and with the refusal's box drawn again for its O.K. Not when an
// answer has been read since (the keyboard's next command).
TEST_F(Boxes, AMacroEndedByARefusalLeavesItsBoxForTheUser) {
  TempDir dir;
  std::string macro = dir.file("m.mac");
  std::ofstream(macro) << "NEXT FILE\nMORE\n";
  const std::vector<std::string> refusal{"CAN'T INPUT ANOTHER FILE IN AN UNDEFINED SEQUENCE"};
  const std::vector<std::string> buttons{"EXIT", "NEXT FILE"};
  const GsRect& gui = gs_state.gui_region;
  GsRect ok;
  Status s = kStatusGood;
  GS_DRAW_WARNING(0, gui.xmin, gui.ymin, gui.xmax, gui.ymax, 1, 1, refusal, ok, s);
  const auto refused_in_macro = [&] {
    IO_OPEN_INMACRO(false, macro, s);
    gs_refusal(refusal, s);
    io_end_automatic_input("WARNING: Macro automatically terminated.", "");
    GS_SET_MENULAYOUT(0, 2, 12, 10, s);
    GS_MENU(1, 0, {}, 2, 2, buttons, 0.0f, 0.9f, 0.7f, 1.0f, s);
  };
  int type = 0;
  std::string command;
  float x = 0.0f, y = 0.0f;
  for (const bool answer_read : {false, true}) {
    testing::TerminalCapture terminal;
    items.clear();
    refused_in_macro();
    const testing::WindowEvent exit = testing::WidgetFixture::on_button(1);
    if (answer_read) {
      testing::ScriptedInput typed({"LIST VARIABLES"});
      std::string next;
      IO_INPC(false, "ENTER COMMAND", {"?"}, {"?"}, 1, next, s);
      script({exit});
    } else {
      script({click(0.01f, 0.5f), centre(ok), exit, exit});
    }
    GS_INP_MENUCHOICE(2, 2, buttons, 1, type, command, x, y, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(command, "EXIT");
    const std::vector<std::string> drawn = texts();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), refusal[0]), answer_read ? 1 : 2);
    const std::string out = terminal.text();
    EXPECT_EQ(out.find("INFO: Control returned to graphics window\n") != std::string::npos,
              !answer_read)
        << out;
    if (answer_read) continue;
    EXPECT_LT(out.find("Macro automatically terminated."),
              out.find("INFO: Control returned to graphics window"));
    // Once only: the next wait is the menu's own.
    GS_INP_MENUCHOICE(2, 2, buttons, 1, type, command, x, y, s);
    EXPECT_TRUE(window->events.empty());
    EXPECT_EQ(out, terminal.text());
  }
}

// With no graphics open (a run without graphics), a refusal is its one line
// and nothing is drawn, typed or replayed; a warning box's text is its line
// there too, as nothing else would show it.
TEST_F(Boxes, WithNoGraphicsOpenARefusalIsItsOneLine) {
  for (auto& d : qg_db_system.driver) d.reset();
  qg_db_system = QgDbSystem{};
  window = nullptr;
  const std::vector<std::string> text{"THE DATA IS NOT", "1-D !"};
  Status s = kStatusGood;
  {
    testing::TerminalCapture terminal;
    gs_refusal(text, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(terminal.text(), "WARNING: THE DATA IS NOT 1-D !\n");
  }
  TempDir dir;
  std::string macro = dir.file("m.mac");
  std::ofstream(macro) << "EXIT\n";
  IO_OPEN_INMACRO(false, macro, s);
  ASSERT_EQ(s, kStatusGood);
  testing::TerminalCapture terminal;
  gs_refusal(text, s);
  GS_FWARNING(1, 1, {"NO PEAKS FOUND"}, s);
  // A line ending in a colon and the file name it announces are one line.
  GS_FWARNING(3, 3, {"FAILED TO FIND NEW \"SEQUENCE\" FILE:", "/data/scan_002.tif", "NEXT"}, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(terminal.text(),
            "WARNING: THE DATA IS NOT 1-D !\nWARNING: NO PEAKS FOUND\n"
            "WARNING: FAILED TO FIND NEW \"SEQUENCE\" FILE: /data/scan_002.tif\nWARNING: NEXT\n");
}

TEST_F(Boxes, PromptsAndBrokenStrings) {
  Status s = kStatusGood;
  GS_PROMPT(true, 1, 1, {"GO"}, 0.1f, 0.1f, 0.3f, 0.15f, s);
  const auto polylines = of("polyline");
  ASSERT_FALSE(polylines.empty());
  EXPECT_NEAR(polylines[0]->x[2] - polylines[0]->x[1], 0.05f / 12, 1e-6f);
  // No lines: an empty box.
  items.clear();
  GS_PROMPT(false, 1, 0, {}, 0.1f, 0.1f, 0.3f, 0.15f, s);
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(of("fill_area").size(), 1u);

  const std::string thirty(30, 'x');
  const std::string long_name = "/data/run/" + std::string(100, 'd') + "/image_0001.tif";
  struct Case {
    int lines, width, mode;
    std::string string;
    std::vector<std::string> expected;
  } cases[] = {
      {5, 20, 1, thirty, {std::string(20, 'x'), std::string(10, 'x')}},
      {5, 10, 1, "Click on the image", {"Click on", "the image"}},
      {5, 20, 2, "/data/run/image.tif", {"/data/run/", "image.tif"}},
      {5, 20, 2, "image.tif", {"image.tif"}},
      {3, 24, 1, "one two three four five six seven eight nine ten eleven twelve",
       {"one two three four five", "six seven eight nine", "ten eleven twelve"}},
      {5, 80, 0, std::string(500, 'y'),
       {std::string(80, 'y'), std::string(80, 'y'), std::string(80, 'y'), std::string(80, 'y'),
        std::string(80, 'y')}},
      {5, 30, 2, long_name, {}},
      {5, 20, 7, "anything", {}},
  };
  for (const Case& c : cases) {
    items.clear();
    GS_SPROMPT(false, c.lines, c.width, c.mode, c.string, 0.1f, 0.1f, 0.6f, 0.3f, s);
    ASSERT_EQ(s, kStatusGood);
    const std::vector<std::string> drawn = texts();
    if (!c.expected.empty() || c.mode == 7) {
      EXPECT_EQ(drawn, c.expected) << c.string;
    }
    EXPECT_LE(drawn.size(), 5u);
    for (const std::string& line : drawn) EXPECT_LE(line.size(), 80u);
  }
  GS_SPROMPT(false, 6, 20, 1, "x", 0.1f, 0.1f, 0.6f, 0.3f, s);
  EXPECT_EQ(s, 140017);
}

TEST_F(Boxes, ChoiceListLayoutHelpAndCancel) {
  const std::vector<std::string> choices{"ALPHA", "BETA", "GAMMA"};
  const std::vector<std::string> info{"Three letters"};
  Status s = kStatusGood;
  bool cancelled = true;
  std::string choice;
  // "?" shows the information until O.K.; then a choice.
  const GsRect& m = gs_state.message;
  auto run = [&] {
    GS_INP_CHOICE(1, 1, {"PICK"}, 1, 1, info, 1, 0, {}, 3, 3, choices, cancelled, choice, s);
  };
  // Laid out once to find its buttons: a window with nothing to read
  // answers with the escape.
  script({});
  run();
  EXPECT_EQ(s, kStatusEscape);
  s = kStatusGood;
  const std::vector<std::string> drawn = texts();
  const std::vector<std::string> order(drawn.begin() + 1, drawn.begin() + 7);
  EXPECT_EQ(order,
            (std::vector<std::string>{"CANCEL", "ALPHA", "?", "BETA", "HELP", "GAMMA"}));
  GsMessageBoxes boxes;
  GS_DRAW_MESSAGE(1, 1, info, 1, m.xmin, m.ymin, m.xmax, m.ymax, boxes, s);
  const auto two = on_button(4);
  script({on_button(3), centre(boxes.ok), two});
  run();
  EXPECT_EQ(s, kStatusGood);
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(choice, "BETA");
  script({on_button(1)});
  run();
  EXPECT_TRUE(cancelled);

  std::vector<std::string> many(28, "X");
  GS_INP_CHOICE(1, 0, {}, 1, 0, {}, 1, 0, {}, 28, 28, many, cancelled, choice, s);
  EXPECT_EQ(s, 140009);
}

TEST_F(Boxes, ColourMenuLeavesTheFormRecord) {
  Status s = kStatusGood;
  const std::vector<std::string> form{"A", "B"};
  GS_MENU(1, 0, {}, 2, 2, form, 0.0f, 0.5f, 0.7f, 1.0f, s);
  const GsDrawnMenu before = gs_drawn_menu;
  int colour = 1;
  GS_SET_MENULAYOUT(0, 5, 12, 8, s);
  const GsRect& gui = gs_state.gui_region;
  GS_MENU(1, 1, {"COLOUR"}, 15, 15,
          {"BLACK", "BLUE", "BROWN", "CYAN", "GREEN", "GREY", "MAGENTA", "ORANGE", "RED",
           "VIOLET", "WHITE", "YELLOW", "(0 INDEX)", "(1 INDEX)", "INVERSE"},
          gui.xmin, gui.ymin, gui.xmax, gui.ymax, s);
  script({on_button(9)});
  gs_drawn_menu = before;
  GS_GUI_COLOUR("COLOUR", colour, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(colour, kGsRed);
  EXPECT_EQ(gs_drawn_menu.num_buttons, 2);
  EXPECT_EQ(gs_drawn_menu.boxes[1].xmin, before.boxes[1].xmin);
}

}  // namespace
}  // namespace kesta
