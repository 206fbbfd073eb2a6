// The top menu of scientific interfaces.

#include <string>

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/interfaces/fitting_interfaces.hpp"
#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/help_texts.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/interfaces.hpp"
#include "app/interfaces/powder_interface.hpp"
#include "app/interfaces/test_interface.hpp"
#include "app/interfaces/xtal_interface.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

struct TopMenu {
  bool start_mode = true;
};

// Cleared once any image interface or the keyboard interface has run: the
// on-line crystallography interface, entered first, starts with the display
// scaled from the mean and standard deviation of the region. Kept for the
// run (a new run, or a test, starts again with kzt_forget_answers).
struct FirstUse {
  bool first = true;
};
bool& first_use() { return remembered<FirstUse>().first; }

const std::string kWelcome[] = {
    "",
    "WELCOME TO KESTA GUI",
    "",
    "SELECT SCIENTIFIC INTERFACE",
    "",
    "FROM GIVEN CHOICES",
    "",
    "(OR CLICK ON \"HELP\" FOR INFORMATION)",
    "",
};

const std::string kTitle[] = {"KESTA: SCIENTIFIC INTERFACES"};

const std::string kKeyboardNote[] = {
    "",
    "NOTE: WITHIN THE KEYBOARD MENU MANY",
    "OPERATIONS PRODUCE OUTPUT IN THE MEMORY",
    "AND \"EXCHANGE\" MUST BE USED TO RECOVER",
    "THE RESULT. (THIS IS DONE AUTOMATICALLY",
    "WITHIN THE \"GRAPHICAL USER INTERFACE\").",
    "\"EXCHANGE\" IS USUALLY THE DEFAULT",
    "COMMAND AFTER SUCH OPERATIONS. HOWEVER",
    "\"SIMPLE\" COMMANDS PRODUCE OUTPUT IN THE",
    "CURRENT DATA ARRAY. \"PLOT\" OR \"IMAGE\"",
    "IS OFTEN THE DEFAULT COMMAND.  THE",
    "TABLES AT THE END OF THE REFERENCE MANUAL",
    "DESCRIBE THE OUTPUT OF ALL COMMANDS AND",
    "SHOULD BE USED WHEN THIS NOT CLEAR.",
    "",
};

void message_region(bool lower_half, float& xmin, float& ymin, float& xmax, float& ymax,
                    Status& status) {
  GS_INQ_MESSAGE(xmin, ymin, xmax, ymax, status);
  if (lower_half) ymax = (ymin + ymax) / 2.0f;
}

void run_keyboard(MenuPass& pass, TopMenu&, Status& status) {
  // Above the box that says where control went.
  float xmin = 0.0f, ymin = 0.0f, xmax = 1.0f, ymax = 1.0f;
  menu_loop::message_above_menu(xmin, ymin, xmax, ymax, status);
  GS_PROMPT(false, 15, 15, kKeyboardNote, xmin, ymin, xmax, ymax, status);
  GS_FPROMPT(1, 1, {"CONTROL TRANSFERRED TO TERMINAL WINDOW"}, status);
  GS_UPDATE(status);
  first_use() = false;
  // The menus the keyboard opens are named after their own commands.
  const menu_loop::RunningChoice keyboard("");
  kzt_upcall(imageops_upcalls.keyboard, "KEYBOARD INTERFACE", status, true, pass.sets);
}

void run_exit(MenuPass& pass, TopMenu& menu, Status& status) {
  float xmin = 0.0f, ymin = 0.0f, xmax = 1.0f, ymax = 1.0f;
  if (!menu.start_mode) {
    message_region(false, xmin, ymin, xmax, ymax, status);
    GS_PROMPT(false, 7, 7, {"", "", "CONTROL RETURNED TO", "", "KEYBOARD MENU", "", ""}, xmin,
              ymin, xmax, ymax, status);
    GS_UPDATE(status);
    menu_exit(pass, menu, status);
    return;
  }
  message_region(true, xmin, ymin, xmax, ymax, status);
  const std::string marks(43, '!');
  GS_PROMPT(false, 7, 7,
            {marks, "!!! REQUEST TO EXIT KESTA !!!", "!!!  ARE YOU REALLY SURE  !!!", marks, "", "",
             ""},
            xmin, ymin, xmax, ymax, status);
  bool confirmed = false;
  GS_INPL(false, false, false, true, "CONFIRM EXIT", {"Enter \"YES\" to finish KESTA session"},
          {"Click on \"YES\" or \"NO\""}, confirmed, status);
  if (status == kStatusGood && confirmed) menu_exit(pass, menu, status);
}

void run_macros(MenuPass& pass, TopMenu&, Status& status) { KZT_GUI_MACROS(pass.sets, status); }

// The image interfaces and the keyboard interface clear the first-use flag;
// those not built here give the one "not available yet" line.
using Row = MenuRow<TopMenu>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;

// An image interface: clears the first-use flag, then runs.
template <void (*interface)(KztDataSets&, Status&)>
void run_interface(MenuPass& pass, TopMenu&, Status& status) {
  first_use() = false;
  interface(pass.sets, status);
}

// On-line crystallography: the first interface of the run starts with image
// intensity scaling mode 4 (limits from the mean and standard deviation).
void run_xtallography(MenuPass& pass, TopMenu& menu, Status& status) {
  if (first_use()) {
    int mode = 0;
    float minimum = 0.0f, maximum = 1.0f;
    GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
    GS_SET_IMAGESCALE(4, minimum, maximum, status);
  }
  run_interface<KZT_GUI_XTALLOGRAPHY>(pass, menu, status);
}

// The table; entered from the keyboard command its last entry becomes "EXIT
// MENU", for the rest of the run.
std::span<const Row> top_rows(bool start_mode) {
  static Row rows[] = {
      {"?", "?: This help text, describing the menu choices", 0, kAll, menu_list<TopMenu>},
      {"HELP", "HELP: Help text on this graphical menu", 0, kAll, menu_help<TopMenu>},
      {"2-D FITTING", "2-D FITTING: Versatile fitting of 2-D functions to data", 0, kAll,
       run_interface<KZT_GUI_2DFIT>},
      {"FILE SERIES", "FILE SERIES: Operations on a whole series of files", 0, kAll,
       run_interface<KZT_GUI_FS>},
      {"IMAGE PROCESSING (GENERAL)",
       "IMAGE PROCESSING (GENERAL): Image I/O, display and manipulation", 0, kAll,
       run_interface<KZT_GUI_IP>},
      {"KEYBOARD INTERFACE", "KEYBOARD INTERFACE: Classic KESTA command line interface", 0, kAll,
       run_keyboard},
      {"MACROS / LOG FILE", "MACROS / LOG FILE: Create and run macros, and create log files", 0,
       kAll, run_macros},
      {"OLMI (MULTIPLE 1-D FITTING)",
       "OLMI (MULTIPLE 1-D FITTING): The functionality of OLMI program", 0, kAll,
       run_interface<KZT_GUI_OLMI>},
      {"ON-LINE CRYSTALLOGRAPHY", "ON-LINE CRYSTALLOGRAPHY: Live input, display, and statistics",
       0, kAll, run_xtallography},
      {"POWDER DIFFRACTION (2-D)", "POWDER DIFFRACTION (2-D): Tilt determination and integration",
       0, kAll, run_interface<KZT_GUI_PD>},
      {"SAXS / GISAXS", "SAXS / GISAXS: Small Angle X-ray Scattering / Grazing Incidence", 0,
       kAll, run_interface<KZT_GUI_SAXS>},
      {"TEST", "TEST: Testing and simulation interface", 0, kAll, run_interface<KZT_GUI_TEST>},
      {"EXIT KESTA", "EXIT KESTA: Finish KESTA session (au revoir)", 0, kAll, run_exit},
  };
  static_assert(std::size(rows) == 13);
  // (The program starts in one mode only; tests enter both.)
  rows[12] = start_mode ? Row{"EXIT KESTA", "EXIT KESTA: Finish KESTA session (au revoir)", 0,
                              kAll, run_exit}
                        : Row{"EXIT MENU", "EXIT MENU: Return to keyboard menu", 0, kAll, run_exit};
  return rows;
}

// A keyboard sequence's macro that ended at a question inside an interface
// goes on from the keyboard loop that entered this menu, which it is left
// for. Started here, no keyboard loop lies below: that sequence ends.
std::string_view sequence_moves_on(const TopMenu& menu) {
  if (menu.start_mode) io_end_sequence("its macro ended outside the keyboard interface");
  return "";
}

// A recording made in the window starts in MACROS / LOG FILE, where it was
// begun: replayed from the start of the run it is entered there too, so
// that its first line (often the EXIT that left that menu) means what it
// meant, as when it is replayed from that menu.
bool start_window_recording(MenuPass&, TopMenu&, int, int&, std::string& command, Status&) {
  if (!io_window_recording_at_start()) return false;
  command = "MACROS / LOG FILE";
  return true;
}

InterfaceTable<TopMenu> top_menu(bool start_mode) {
  InterfaceTable<TopMenu> table;
  table.position = "Subroutine KZT_GUI V0.21";
  table.rows = top_rows(start_mode);
  table.layout = {1, 1, 20, 30};
  table.titles = kTitle;
  table.welcome = kWelcome;
  table.welcome_place = WelcomePlace::kUpperMessageHalf;
  table.menu_place = MenuPlace::kLowerMessageHalf;
  table.shows_data = false;
  table.asks_reset = true;
  table.escape_asks_again = true;
  table.help_text = KZT_GUIHELP;
  table.sequence_moves_on = sequence_moves_on;
  table.poll = start_window_recording;
  return table;
}

}  // namespace

void KZT_GUI(bool start_mode, KztDataSets& sets, Status& status) {
  TopMenu menu{start_mode};
  kzt_interface(top_menu(start_mode), sets, menu, status);
}

void kzt_command_gui(KztDataSets& sets, std::string& next, Status& status) {
  KZT_GUI(false, sets, status);
  next = "EXIT";
}

}  // namespace kesta
