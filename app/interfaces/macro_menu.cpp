// The interface MACROS / LOG FILE: recording and replaying macros, the log
// file, and RUN SEQUENCE, which replays a macro once for every file of a
// numbered series. A sequence goes on from one file to the next through the
// menu: when the replayed macro ends at the menu's wait, the menu chooses
// RUN SEQUENCE itself while the sequence runs. A macro that ends anywhere
// else (another menu, a question) stopped its member short, and would stop
// every later one: the sequence ends there with its note.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>

#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/main/utility_commands.hpp"
#include "core/directories.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// The file names offered, kept for the run.
struct MacroFiles {
  std::string inmacro_file = kDefaultMacroFile;
  std::string outmacro_file = kDefaultMacroFile;
  std::string log_file = kDefaultLogFile;
};
MacroFiles& files() {
  static MacroFiles f;
  return f;
}

// The sequence being run, kept between its macro replays.
struct Sequence {
  std::string first_file_name, last_file_name;
  std::string prefix, postfix, extension, out_extension;
  int num_characters = 0;
  bool variable_characters = false;
  int start = 1, end_value = 1, increment = 1;
  long long count = 1;
  // The macro run for every file: its own copy, so that a STOP MACRO in it
  // (which offers the recorded file as the next macro to run) cannot change
  // what the later files run.
  std::string macro_file;
  // Set up here (not by the keyboard's SEQUENCE, which shares the running
  // flag): only then does a macro's end at this menu run the next file.
  bool own = false;
};
Sequence sequence;

// Chooses a file in the file selection tool; false when cancelled or failed.
bool select_file(const TextLines& title, const TextLines& info, int mode, std::string& file_name,
                 Status& status) {
  int cancelled = 0;
  std::string chosen = file_name;
  GS_FILESELECTION(static_cast<int>(title.view().size()), static_cast<int>(title.view().size()),
                   title.view(), static_cast<int>(info.view().size()),
                   static_cast<int>(info.view().size()), info.view(), mode, false, cancelled, chosen,
                   status);
  if (status != kStatusGood || cancelled != 0) return false;
  file_name = chosen;
  return true;
}

// The default file proposed, or another chosen; false when nothing is to
// be opened.
bool confirm_or_select(std::string_view prompt, std::string_view default_line,
                       const TextLines& title, const TextLines& info, std::string& file_name,
                       Status& status) {
  bool keep = true;
  GS_INPL(false, false, false, true, std::string(prompt) + file_name,
          {file_name, std::string(default_line),
           "If this file is appropriate enter \"YES\". If you want",
           "to use a different file, enter \"NO\"."},
          {"Enter \"YES\" or \"NO\""}, keep, status);
  if (status != kStatusGood) return false;
  if (keep) return true;
  return select_file(title, info, 3, file_name, status);
}

void opening_failed(std::string_view warning, Status& status) {
  ST_DEF_SYSTEM(status);
  gs_refusal({std::string(warning)}, status);
}

const std::string kInmacroTitle[] = {"SELECT MACRO FILE", "TO RUN"};
const std::string kInmacroInfo[] = {"Use the file selection tool to select a directory",
                                    "and a macro file to run.",
                                    "Normally macro files end with theextension \".mac\"."};

// A macro named while another replays is not run: macros do not nest, and
// the running macro's lines stay its own.
// Only a regular file is replayed: a named pipe would wait for a writer that
// may never come, and a device or a folder holds no macro.
bool replayable(const std::string& file_name) {
  std::error_code error;
  return std::filesystem::is_regular_file(file_name, error);
}

bool nested_macro_refused(std::string_view file_name, Status& status) {
  if (!vosq_io_dbdb.input_macro) return false;
  IO_WRITE("WARNING: A macro cannot be run from within a running macro: \"" +
               std::string(file_name) + "\" is not run",
           status);
  return true;
}

}  // namespace

void KZT_OPEN_OUTMACRO(std::string& file_name, Status& status) {
  if (st_bad(status, "Subroutine KZT_OPEN_OUTMACRO V0.2")) return;
  // A recording already open is refused before any file is asked for.
  if (vosq_io_dbdb.output_macro) {
    IO_OPEN_OUTMACRO(true, false, file_name, status);
    return;
  }
  std::string name = file_name;
  if (!confirm_or_select("STORE MACRO IN: ", "is the default file for storing the macro.",
                         {"SELECT OUTPUT FILE FOR", "STORING THE MACRO"},
                         {"Use the file selection tool to select a directory",
                          "and an output file to contain the macro.",
                          "Normally such a file ends with theextension \".mac\"."},
                         name, status))
    return;
  IO_OPEN_OUTMACRO(true, false, name, status);
  if (status != kStatusGood) {
    opening_failed("PROBLEM OPENING FILE FOR THE MACRO", status);
    return;
  }
  file_name = name;
}

void KZT_OPEN_LOG(bool& log_file_open, Status& status) {
  if (st_bad(status, "Subroutine KZT_OPEN_LOG V0.2")) return;
  std::string name = files().log_file;
  if (!confirm_or_select("SAVE LOG IN: ", "is the default file for saving the log.",
                         {"SELECT OUTPUT FILE FOR", "SAVING THE LOG RECORD"},
                         {"Use the file selection tool to select a directory",
                          "and an output file to contain the log record.",
                          "Normally such a file ends with theextension \".log\"."},
                         name, status))
    return;
  // A log already open is closed first, so its record ends complete.
  if (vosq_io_dbdb.log_open) IO_CLOSE_LOGFILE(status);
  IO_OPEN_LOGFILE(false, name, status);
  if (status != kStatusGood) {
    log_file_open = false;
    opening_failed("PROBLEM OPENING FILE FOR THE LOG", status);
    return;
  }
  log_file_open = true;
  files().log_file = name;
}

void KZT_OPEN_INMACRO(std::string& file_name, Status& status) {
  if (st_bad(status, "Subroutine KZT_OPEN_INMACRO V0.2")) return;
  std::string name = file_name;
  if (!select_file(kInmacroTitle, kInmacroInfo, 1, name, status)) return;
  if (nested_macro_refused(name, status)) return;
  if (replayable(name)) IO_OPEN_INMACRO(false, name, status);
  if (status != kStatusGood || !replayable(name)) {
    opening_failed("PROBLEM OPENING MACRO FILE", status);
    return;
  }
  file_name = name;
}

namespace {

void say(const std::string& line, Status& status) { IO_WRITE(line, status); }

// Sets a sequence up; false when none is to run.
bool set_up(std::string& macro_file, Status& status) {
  if (vosq_io_dbdb.output_macro) {
    say("WARNING: The \"SEQUENCE\" command cannot be used within a macro. (It is", status);
    say("         used to repeately run a defined macro.)", status);
    io_refuse_command();
    return false;
  }
  GS_FWARNING(1, 1, {"AT PRESENT ONLY WORKS WITH #IN AND #OUT MACROS"}, status);
  Sequence s = sequence;
  std::string macro = macro_file;
  if (!select_file(kInmacroTitle, kInmacroInfo, 1, macro, status) ||
      !select_file({"SELECT FIRST INPUT", "FILE IN THE SEQUENCE"},
                   {"Use the file selection tool to select a directory",
                    "and the first file in the sequence."},
                   1, s.first_file_name, status) ||
      !select_file({"SELECT LAST INPUT", "FILE IN THE SEQUENCE"},
                   {"Use the file selection tool to select", "the last file in the sequence."},
                   1, s.last_file_name, status))
    return false;
  int retstat = 0;
  int step = 1;
  IO_FILESEQUENCE(s.first_file_name, s.last_file_name, retstat, s.start, s.end_value, step,
                  s.prefix, s.variable_characters, s.num_characters, s.postfix, s.extension,
                  status);
  if (status != kStatusGood) return false;
  if (retstat != 0) {
    // A replaying macro's later lines were for the sequence: it ends here.
    gs_command_refused({"COULD NOT DEDUCE REQUIRED FILE SEQUENCE"}, status);
    return false;
  }
  if (!s.postfix.empty()) s.extension = s.postfix + s.extension;
  GS_BACKGROUND(status);
  // The size of the step is asked; a descending series steps down.
  const long long span = std::llabs(static_cast<long long>(s.end_value) - s.start);
  const int upper = static_cast<int>(std::clamp<long long>(span, 1, 2147483647));
  int increment = std::clamp(std::abs(s.increment), 1, upper);
  GS_INPI(true, 1, upper, true, "FILE INCREMENT", {"Enter the step between input files"},
          {"Enter an integer number"}, increment, status);
  std::string out_extension = s.out_extension;
  GS_INPC(true, "OUTPUT FILES EXTENSION", {"Enter the extension for output files"},
          {"Enter valid text string"}, 1, out_extension, status);
  if (status != kStatusGood) {
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
    return false;
  }
  s.increment = s.end_value < s.start ? -increment : increment;
  s.out_extension = out_extension.substr(0, 40);
  s.count = s.start;
  s.macro_file = macro;
  sequence = s;
  macro_file = macro;
  return true;
}

// Starts the macro for the next file, or ends the sequence.
void next_member(Status& status) {
  Sequence& s = sequence;
  // Whichever way it ends here, the sequence is no longer this menu's.
  s.own = false;
  if ((s.increment > 0 && s.count > s.end_value) || (s.increment < 0 && s.count < s.end_value)) {
    io_leave_macro_for_sequence(true);
    vosq_io_dbdb.file_sequence = false;
    say("INFO: *** END OF SEQUENCE ***", status);
    say(" ", status);
    return;
  }
  say(" ", status);
  say("INFO: Sequence counter value = " + format_i(s.count, 8), status);
  const auto stop = [&] {
    vosq_io_dbdb.file_sequence = false;
    if (status == kStatusGood) say("WARNING: The sequence is stopped", status);
  };
  kzt_set_variable("##COUNT", 'i', static_cast<int>(s.count), false, 0.0f, "", status);
  int retstat = 0;
  std::string in_file;
  IO_FILENAME(s.prefix, static_cast<int>(s.count), !s.variable_characters, s.num_characters,
              s.extension, retstat, in_file, status);
  if (status != kStatusGood || retstat != 0) {
    say("WARNING: The input file name could not be made", status);
    return stop();
  }
  kzt_set_variable("#IN", 's', 0, false, 0.0f, in_file, status);
  say("      Input file = " + in_file, status);
  std::string out_file;
  IO_FILEEXTENSION(in_file, s.out_extension, retstat, out_file, status);
  if (status != kStatusGood || retstat != 0) return stop();
  kzt_set_variable("#OUT", 's', 0, false, 0.0f, out_file, status);
  say("      Output file = " + out_file, status);
  if (status != kStatusGood) return stop();
  std::string macro = s.macro_file;
  // RUN SEQUENCE on a line of a member's macro: the next member takes over.
  io_leave_macro_for_sequence(false);
  if (replayable(macro)) io_open_sequence_macro(macro, status);
  if (status != kStatusGood || !replayable(macro)) {
    io_end_sequence("its macro file could not be opened");
    opening_failed("PROBLEM OPENING MACRO FILE", status);
    return;
  }
  s.count += s.increment;
  s.own = true;
}

}  // namespace

void KZT_GUI_SEQUENCE(std::string& macro_file, Status& status) {
  if (st_bad(status, "Subroutine KZT_GUI_SEQUENCE V0.3")) return;
  // The keyboard's sequence is no series of this menu: RUN SEQUENCE sets a
  // new one up, and the keyboard's ends once it is defined.
  if (io_sequence_driver() != SequenceDriver::kWindow) {
    if (!set_up(macro_file, status)) return;
    io_end_sequence("another sequence was set up");
    io_start_sequence(SequenceDriver::kWindow);
    sequence.own = true;
    // Set up from a replaying macro: the first file starts when that macro
    // ends at the menu, so none of its lines is taken by the sequence.
    if (vosq_io_dbdb.input_macro) {
      io_adopt_sequence_macro();
      return;
    }
  }
  next_member(status);
}

namespace {

struct MacroMenu {};

const std::string kMacroWelcome[] = {
    "", "WELCOME TO THE MACRO /", "", "LOG FILE GUI", "", "Macros can be created", "",
    "with \"CREATE MACRO\" and", "", "\"STOP MACRO\" and run", "", "with \"RUN SEQUENCE\".", "",
    "A log of the session", "", "can be created with", "", "\"OPEN LOG\" and \"CLOSE LOG\"", "",
    "", "", "",
};
const std::string kMacroTitle[] = {"KESTA: MACROS / LOG FILE MENU"};

void run_create(MenuPass&, MacroMenu&, Status& status) {
  KZT_OPEN_OUTMACRO(files().outmacro_file, status);
}

void run_stop(MenuPass&, MacroMenu&, Status& status) {
  IO_CLOSE_OUTMACRO(status);
  files().inmacro_file = files().outmacro_file;
}

void run_macro(MenuPass&, MacroMenu&, Status& status) {
  KZT_OPEN_INMACRO(files().inmacro_file, status);
}

void run_sequence(MenuPass&, MacroMenu&, Status& status) {
  KZT_GUI_SEQUENCE(files().inmacro_file, status);
}

void run_open_log(MenuPass& pass, MacroMenu&, Status& status) {
  KZT_OPEN_LOG(pass.sets.log_file_open, status);
}

void run_close_log(MenuPass& pass, MacroMenu&, Status& status) {
  IO_CLOSE_LOGFILE(status);
  pass.sets.log_file_open = false;
}

// The welcome text and the menu are drawn together.
void draw_welcome(MenuPass&, MacroMenu&, Status& status) {
  GS_PPROMPT(22, 22, kMacroWelcome, status);
}

std::string_view hand_off(const MacroMenu&) {
  if (io_sequence_driver() != SequenceDriver::kWindow) sequence.own = false;
  return sequence.own && io_sequence_macro() ? "RUN SEQUENCE" : "";
}

using Row = MenuRow<MacroMenu>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;

const Row kMacroRows[] = {
    {"EXIT", "EXIT: Exit KESTA", 0, MenuRedraw::kNothing, menu_exit<MacroMenu>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<MacroMenu>},
    {"HELP", "HELP: Help text on the \"MACROS / LOG FILE\" menu", 0, kAll,
     menu_help<MacroMenu>},
    {"CREATE MACRO", "CREATE MACRO: Start recording a macro in a named file", 0, kAll,
     run_create},
    {"STOP MACRO", "STOP MACRO: Stop recording a macro", 0, kAll, run_stop},
    {"RUN MACRO", "RUN MACRO: Run a macro once", 0, kAll, run_macro},
    {"RUN SEQUENCE", "RUN SEQUENCE: Run a macro repeatedly e.g. on a file sequence", 0, kAll,
     run_sequence},
    {"OPEN LOG FILE", "OPEN LOG FILE: Open and starting recording a session log", 0, kAll,
     run_open_log},
    {"CLOSE LOG FILE", "CLOSE LOG FILE: Stop recording a session log", 0, kAll, run_close_log},
};
static_assert(std::size(kMacroRows) == 9);

}  // namespace

void KZT_GUI_MACROS(KztDataSets& sets, Status& status) {
  InterfaceTable<MacroMenu> table;
  table.position = "Subroutine KZT_GUI_MACROS V0.2";
  table.rows = kMacroRows;
  table.layout = {1, 3, 20, 9};
  table.titles = kMacroTitle;
  table.shows_data = false;
  table.draw = draw_welcome;
  table.escape_asks_again = true;
  table.help_text = KZT_GUI_MACROSHELP;
  table.macro_ended = hand_off;
  MacroMenu menu;
  kzt_interface(table, sets, menu, status);
}

}  // namespace kesta
