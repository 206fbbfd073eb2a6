#pragma once
// The one loop every graphical menu runs on. A menu is a table of rows
// (button text, help line, what the choice needs, what is redrawn after it,
// handler), a few layout words, and a state struct that the interface keeps
// between visits (read from the defaults on entry, stored on leaving). The
// loop alone draws the welcome prompt or the data, draws the menu, waits for
// a choice, shows "?" and HELP, refuses a choice that needs data with
// "DATA NEEDED, BUT NONE IS DEFINED" (and one that needs an image, on a
// scan of one row, with "THE DATA IS 1-D: ... NEEDS AN IMAGE"), gives the
// click read-out, redraws, makes the mask on first need, and deals with a
// bad status.
//
// Handlers are plain functions `void run(MenuPass&, State&, Status&)`. They
// may swap button texts (toggles), clear the redraw flags to keep their own
// drawing on the screen, and set `leave`. A user escape inside a handler
// returns to the menu; an escape at the menu wait itself (the end of the
// input, a window that can no longer be read) leaves the menu, so nothing
// waits forever.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/macro.hpp"
#include "core/reader.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// What a choice needs before its handler runs (bits).
enum MenuNeed : unsigned {
  kMenuNeedsNothing = 0,
  kMenuNeedsData = 1,      // current data defined, else "DATA NEEDED, BUT NONE IS DEFINED"
  kMenuNeedsMemory = 2,    // memory arrays exist, else "MEMORY DOES NOT EXIST"
  kMenuNeedsGraphics = 4,  // the graphics window is open
  kMenuNeedsImage = 8,     // the current data are an image, not a scan of one row
};

// What is drawn again after a choice (the handler may clear more).
enum class MenuRedraw {
  kImageAndMenu,  // the data (or the welcome prompt) and the menu
  kMenu,          // the menu only: the choice's own drawing stays
  kNothing,       // neither
};

// Where the welcome prompt goes while no data are shown.
enum class WelcomePlace { kMessageRegion, kPage, kUpperMessageHalf };
// Where the menu goes.
enum class MenuPlace { kGuiRegion, kLowerMessageHalf };

// What a handler sees of the loop; the flags start from the row's redraw rule.
struct MenuPass {
  KztDataSets& sets;
  std::vector<std::string>& buttons;  // current texts, in table order
  std::vector<std::string>& help;     // their help lines
  std::string& plot_type;             // the display-kind name of what is shown
  std::string choice;                 // the button chosen
  int row = 0;                        // its index in the table
  bool redraw_image = true;
  bool redraw_menu = true;
  bool leave = false;
  void (*help_text)(bool gui, Status& status) = nullptr;  // the interface's HELP
};

template <typename State>
using MenuHandler = void (*)(MenuPass&, State&, Status&);

template <typename State>
struct MenuRow {
  std::string_view button;
  std::string_view help;
  unsigned needs = kMenuNeedsNothing;
  MenuRedraw redraw = MenuRedraw::kImageAndMenu;
  MenuHandler<State> run = nullptr;  // nullptr: the one "not available yet" line
};

struct MenuLayout {
  int fill_order = 0;  // 0 row by row, 1 column by column (GS_SET_MENULAYOUT)
  int across = 3;
  int title_width = 30;
  int button_width = 12;
};

template <typename State>
struct InterfaceTable {
  std::string_view position;  // "Subroutine KZT_GUI_X Vn.m"
  std::span<const MenuRow<State>> rows;
  MenuLayout layout;
  std::span<const std::string> titles;   // menu title lines (often none)
  std::span<const std::string> welcome;  // shown while no data are drawn
  WelcomePlace welcome_place = WelcomePlace::kMessageRegion;
  MenuPlace menu_place = MenuPlace::kGuiRegion;
  bool uses_mask = false;   // the mask is made on entry and images drawn with it
  bool shows_data = true;   // the data are drawn when defined (else the welcome)
  bool asks_reset = false;  // a bad status asks "RESET" (top menu) instead of leaving
  // A user escape at the wait asks again instead of leaving (the top menu and
  // each interface: a closed window moves the menu to the terminal, it does
  // not leave it); the end of the input still leaves. Sub-menus leave.
  bool escape_asks_again = false;
  void (*help_text)(bool gui, Status& status) = nullptr;
  // The interface's own drawing instead of the data or welcome (nullable).
  void (*draw)(MenuPass&, State&, Status&) = nullptr;
  // The image drawn and clicked on, when it is not the current data of the
  // program arrays (nullable).
  GsDisplayedImage (*image)(const MenuPass&, const State&) = nullptr;
  // A click on the interface's own drawing (nullable: the click read-out on
  // the data); it sets the redraw flags in PASS.
  void (*click)(MenuPass&, State&, float x, float y, Status&) = nullptr;
  // On entry: the state read from the defaults, toggle texts set (nullable).
  void (*enter)(MenuPass&, State&, Status&) = nullptr;
  // On leaving, whatever the status: the state stored (nullable).
  void (*store)(const State&, Status&) = nullptr;
  // A polling interface (nullable), asked at the start of each pass with the
  // input type of the last wait: it sets the input mode of the wait (2, or
  // 10 to return at once without an event), and returns true when the pass
  // needs no wait: COMMAND is then run as a chosen button ("null": nothing,
  // with the redraw flags it left in PASS).
  bool (*poll)(MenuPass&, State&, int last_input_type, int& input_mode, std::string& command,
               Status&) = nullptr;
  // When a replaying macro ended at the menu wait: the button chosen in its
  // place, or empty (nullable).
  std::string_view (*macro_ended)(const State&) = nullptr;
  // When a keyboard sequence's macro ended at a question of a choice: the
  // button that leads to the sequence's next count, or empty (nullable),
  // when the interface is left with the macro's end for its caller to hand on.
  std::string_view (*sequence_moves_on)(const State&) = nullptr;
};

// Handlers that every table uses.
template <typename State>
void menu_exit(MenuPass& pass, State&, Status&) {
  pass.leave = true;
  pass.redraw_image = pass.redraw_menu = false;
}
void menu_list_lines(MenuPass& pass, Status& status);
template <typename State>
void menu_list(MenuPass& pass, State&, Status& status) {
  menu_list_lines(pass, status);
}
template <typename State>
void menu_help(MenuPass& pass, State&, Status& status) {
  if (pass.help_text != nullptr) pass.help_text(true, status);
}

// The pieces of the loop that do not depend on the state type.
namespace menu_loop {
bool entry_refused(std::string_view position, bool uses_mask, KztDataSets& sets, Status& status);
// The current data of the program arrays as the loop draws them.
GsDisplayedImage current(const KztDataSets& sets, bool uses_mask);
void draw_data_or_welcome(const GsDisplayedImage& image, bool shows_data,
                          std::span<const std::string> welcome, WelcomePlace place,
                          MenuPass& pass, Status& status);
// The message region less the button panel across its bottom, where texts
// drawn before the menu would be covered by it.
void message_above_menu(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
// A menu without titles is named NAME where it is asked at the terminal.
void draw_menu(const MenuLayout& layout, std::span<const std::string> titles, MenuPlace place,
               const std::vector<std::string>& buttons, std::string_view name, Status& status);
// Waits for a choice; false when the wait itself gave the user escape or
// failed (the menu is left). With ESCAPE_ASKS_AGAIN a user escape (the
// window closed, the escape typed) asks again, as a redraw, when the next
// answer is typed and the input has not ended.
// MACRO_ENDED (when given) tells that a replaying macro ended at the wait.
bool wait(const std::vector<std::string>& buttons, int& input_type, std::string& command,
          float& x, float& y, Status& status, int input_mode = 2,
          bool escape_asks_again = false, bool* macro_ended = nullptr);
void click(const GsDisplayedImage& image, MenuPass& pass, bool shows_data, float x, float y,
           Status& status);
// A choice refused for what it needs (the warning shown); false to run it.
bool refused(unsigned needs, std::string_view button, const KztDataSets& sets, Status& status);
// Undefined current data whose region lies outside the arrays (the memory's
// description before anything was written there, brought in by EXCHANGE)
// get the whole arrays as extent, as at start-up, so that the choices that
// run without data find a region they can use.
void usable_extent(const KztDataSets& sets);
void not_available(std::string_view button, Status& status);
// The status after a pass: true to go on.
bool status_goes_on(bool asks_reset, Status& status);
// A replayed macro ended at the wait of the menu named MENU: CHOSEN is what
// the table hands control to. Nothing chosen while a file sequence runs
// leaves the sequence without its next count (a graphical menu ends it): it
// ends, and the note names the menu.
void macro_ended_here(std::string_view chosen, std::string_view menu);
// A keyboard sequence's macro ended at a question of a choice, which is no
// menu: its sequence moves on. CHOSEN is what the table hands control to;
// true when nothing here runs the next count and the menu is to be left with
// the macro's end, for its caller to hand on.
bool macro_ended_in_choice(std::string_view chosen);
// A window sequence's macro ended at a question of the choice BUTTON where no
// window took the answer: the sequence ends (its member stopped short, and so
// would every later one), the status is reset and the menu goes on.
void macro_ended_at_question(std::string_view button, Status& status);
// The name of a menu in the notes: the button whose choice opened it, else
// its first title line.
std::string menu_name(std::span<const std::string> titles);
// While a choice runs, the menus it opens are named after its button.
class RunningChoice {
 public:
  explicit RunningChoice(std::string_view button);
  ~RunningChoice();
  RunningChoice(const RunningChoice&) = delete;
  RunningChoice& operator=(const RunningChoice&) = delete;

 private:
  std::string before_;
};
}  // namespace menu_loop

// Runs the interface until EXIT (or a bad status, which is returned).
// PLOT_TYPE receives the display-kind name of what was last drawn.
template <typename State>
void kzt_interface(const InterfaceTable<State>& table, KztDataSets& sets, State& state,
                   std::string& plot_type, Status& status) {
  if (menu_loop::entry_refused(table.position, table.uses_mask, sets, status)) return;
  std::vector<std::string> buttons, help;
  for (const MenuRow<State>& row : table.rows) {
    buttons.emplace_back(row.button);
    help.emplace_back(row.help);
  }
  MenuPass pass{sets, buttons, help, plot_type, "", 0, true, true, false, table.help_text};
  if (table.enter != nullptr) table.enter(pass, state, status);
  if (status != kStatusGood) return;
  const auto shown = [&] {
    return table.image != nullptr ? table.image(pass, state)
                                  : menu_loop::current(sets, table.uses_mask);
  };
  // The entry hook may keep the caller's display (no first image drawing).
  bool redraw_image = pass.redraw_image, redraw_menu = pass.redraw_menu;
  int input_type = kGsChoiceRedraw;
  // The choice a macro's end handed control to, run without a wait.
  std::string handed_to;
  const std::string name = menu_loop::menu_name(table.titles);
  const auto chosen_at_end = [&] {
    return table.macro_ended != nullptr ? table.macro_ended(state) : std::string_view();
  };
  const auto hand_off = [&] {
    const std::string_view chosen = chosen_at_end();
    menu_loop::macro_ended_here(chosen, name);
    return std::string(chosen);
  };
  for (;;) {
    if (redraw_image) {
      if (table.draw != nullptr)
        table.draw(pass, state, status);
      else
        menu_loop::draw_data_or_welcome(shown(), table.shows_data, table.welcome,
                                        table.welcome_place, pass, status);
    }
    if (redraw_menu)
      menu_loop::draw_menu(table.layout, table.titles, table.menu_place, buttons, name, status);
    std::string command = "null";
    float x = 0.0f, y = 0.0f;
    int input_mode = 2;
    pass.redraw_image = pass.redraw_menu = true;
    pass.leave = false;
    // A choice refused without doing anything is taken back off a recording.
    const OutmacroMark recorded = io_outmacro_mark();
    const bool polled = table.poll != nullptr &&
                        table.poll(pass, state, input_type, input_mode, command, status);
    if (polled) {
      input_type = kGsChoiceButton;
    } else if (!handed_to.empty()) {
      input_type = kGsChoiceButton;
      command = std::move(handed_to);
      handed_to.clear();
    } else {
      bool macro_ended = false;
      if (!menu_loop::wait(buttons, input_type, command, x, y, status, input_mode,
                           table.escape_asks_again, &macro_ended))
        break;
      pass.redraw_image = pass.redraw_menu = true;
      // A macro that ends at the wait answers "nothing chosen" (or, on some
      // roads, the consumed status that the wait turns into a redraw).
      if (macro_ended || (input_type == kGsChoiceNone && input_mode != 10)) {
        if (std::string chosen = hand_off(); !chosen.empty()) {
          input_type = kGsChoiceButton;
          command = std::move(chosen);
        }
      }
    }
    if (polled && command == "null") {
      // (The poll did its work; its redraw flags stand.)
    } else if (input_type == kGsChoicePoint) {
      if (table.click != nullptr)
        table.click(pass, state, x, y, status);
      else
        menu_loop::click(shown(), pass, table.shows_data, x, y, status);
    } else if (input_type == kGsChoiceMotion ||
               (input_type == kGsChoiceNone && input_mode == 10) ||
               (input_type == kGsChoiceButton && command == "null")) {
      // (In mode 10 "no event" is the idle return of a polling interface.)
      pass.redraw_image = pass.redraw_menu = false;
    } else if (input_type == kGsChoiceButton) {
      // (A redraw request, or a macro that ended at the menu and handed
      // control back to the window, draws everything again.)
      std::size_t i = 0;
      while (i < buttons.size() && buttons[i] != command) ++i;
      if (i < buttons.size()) {
        const MenuRow<State>& row = table.rows[i];
        pass.choice = command;
        pass.row = static_cast<int>(i);
        pass.redraw_image = row.redraw == MenuRedraw::kImageAndMenu;
        pass.redraw_menu = row.redraw != MenuRedraw::kNothing;
        if (menu_loop::refused(row.needs, row.button, sets, status)) {
          io_refuse_command();
          pass.redraw_image = false;
          pass.redraw_menu = true;
        } else if (row.run == nullptr) {
          menu_loop::not_available(row.button, status);
        } else {
          menu_loop::usable_extent(sets);
          const menu_loop::RunningChoice running(row.button);
          row.run(pass, state, status);
        }
      }
    }
    if (io_command_refused()) io_outmacro_take_back(recorded);
    // The macro ended at a question of the choice. The window's sequence
    // stops there, as at a graphical menu, and the menu goes on with the
    // user; the keyboard's moves on from its own loop, for which the menu is
    // left.
    if (io_macro_ended(status)) {
      if (io_sequence_driver() == SequenceDriver::kWindow) {
        menu_loop::macro_ended_at_question(pass.choice, status);
      } else {
        const std::string_view chosen =
            table.sequence_moves_on != nullptr ? table.sequence_moves_on(state) : "";
        if (menu_loop::macro_ended_in_choice(chosen)) break;
        handed_to = std::string(chosen);
      }
    }
    redraw_image = pass.redraw_image;
    redraw_menu = pass.redraw_menu;
    if (!menu_loop::status_goes_on(table.asks_reset, status) || pass.leave) break;
  }
  if (table.store != nullptr) {
    Status local = kStatusGood;
    table.store(state, local);
  }
}

template <typename State>
void kzt_interface(const InterfaceTable<State>& table, KztDataSets& sets, State& state,
                   Status& status) {
  std::string plot_type = "image";
  kzt_interface(table, sets, state, plot_type, status);
}

}  // namespace kesta
