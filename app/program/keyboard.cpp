// The keyboard command loop.

#include "app/main/data_store.hpp"
#include "app/main/kzt_common.hpp"
#include "app/program/graphics_steps.hpp"
#include "app/program/program.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// The display command, kept for the whole run.
std::string display_command = "IMAGE";

// The warning of a failed precondition and the command proposed instead.
void precondition_warning(int code, std::string& command) {
  Status local = kStatusGood;
  switch (code) {
    case kNeedsData:
      io_write_lines(
          {"WARNING: No data exists at the moment, you must \"INPUT DATA\" or \"CREATE DATA\""},
          local);
      command = "INPUT DATA";
      break;
    case kNeedsMemoryData:
      io_write_lines({"WARNING: No data is stored in the memory at present, you must use \"STORE\"",
                      "         or use \"EXCHANGE\" to put data into the memory"},
                     local);
      command = "STORE";
      break;
    case kNeedsMemoryOverRegion:
      io_write_lines({"WARNING: Memory is not defined throughout active data region (ADR)",
                      "         you can use \"REGION\" or \"ROI\" to re-define the ADR"},
                     local);
      command = "REGION";
      break;
    case kNeedsMemoryArrays:
      io_write_lines({"WARNING: Memory arrays do not exist you must create them with",
                      "         \"DIMENSIONS\" (but this will destroy any stored data)"},
                     local);
      command = "DIMENSIONS";
      break;
    case kNeedsGraphics:
      io_write_lines(
          {"WARNING: Graphics system is turned off. You must \"EXIT\" and restart KESTA"}, local);
      command = "EXIT";
      break;
    case kNeedsVariances:
      io_write_lines({"WARNING: No variance arrays exist at the moment, you must \"EXIT\" and",
                      "         restart with error arrays  defined"},
                     local);
      command = "EXIT";
      break;
    default:
      break;
  }
}

// A failed precondition ends automatic input: the running macro, then a
// running file sequence.
void end_automatic_input() {
  io_end_automatic_input(
      "ERROR: Bad \"WARNING: occured during a macro. Macro automatically terminated.",
      "ERROR: Bad \"WARNING\" occured during a sequence. Sequence terminated.");
}

// The running macro of a file sequence has ended: the sequence goes on with
// its next count.
// The window's sequence moves on only at the window's menu: its macro
// ending here leaves it without its next count, and it ends.
bool sequence_macro_ended(Status status) {
  if (!vosq_io_dbdb.file_sequence || !io_macro_ended(status)) return false;
  if (io_sequence_driver() == SequenceDriver::kKeyboard) return true;
  io_end_sequence("its macro ended in the keyboard interface");
  return false;
}

}  // namespace

void KZT_KEYBOARD(bool from_gui, KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_KEYBOARD V0.9";
  if (st_bad(status, kPosition)) return;
  if (const Status code =
          dimension_error(vosq_kzt_arrays.xmaxdat, vosq_kzt_arrays.ymaxdat, kBaseApp);
      code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  // Answers come from the terminal now: its end also ends a wait for the
  // window, which would otherwise wait for ever.
  io_watch_terminal();
  const std::vector<std::string>& names = kzt_command_names();
  std::string command = "INPUT DATA";
  std::string graphics_kind;
  bool continue_flag = true;
  // The sequence's macro ended inside a command: its next count runs
  // without asking.
  bool sequence_next = false;
  while (continue_flag) {
    int precondition = kNoPrecondition;
    if (command == "null") command = display_command;
    // Only the end of its macro moves a sequence on: a macro closed with
    // lines still unread or left in the graphics window leaves the sequence
    // without its next count, and no other macro is taken for it.
    if (!sequence_next && vosq_io_dbdb.file_sequence && !vosq_io_dbdb.input_macro)
      io_end_sequence("its macro was left before its end");
    // A command refused without doing anything is taken back off a recording.
    const OutmacroMark recorded = io_outmacro_mark();
    const std::string proposed = command;
    if (sequence_next) {
      sequence_next = false;
      command = "SEQUENCE";
    } else {
      IO_MENU(true, "Main menu: ENTER COMMAND",
              {"Please enter one of the available menu choices",
               "Enter ? for list of menu choices"},
              {"Please enter one of the available menu choices"}, static_cast<int>(names.size()),
              names, command, status);
    }
    // The end of the input can answer nothing more: it counts as a
    // confirmed exit.
    if (kzt_escape_at_end(status)) {
      ST_DEF_SYSTEM(status);
      break;
    }
    if (sets.graphics_on) kzt_poll_graphics(status);
    if (sets.graphics_on && kzt_window_closed(status)) sets.graphics_on = false;
    // Only the end of the macro moves the sequence on.
    if (sequence_macro_ended(status)) {
      ST_DEF_SYSTEM(status);
      command = "SEQUENCE";
    }
    const bool drawing = command == "3-D SURFACE PLOT" || command == "CONTOUR PLOT";
    KZT_KEYSUB(from_gui, command, display_command, graphics_kind, sets, precondition, continue_flag,
               status);
    // A drawing that drew nothing (data it refused) leaves nothing to
    // print: the proposal stays the one that stood before it.
    if (drawing && graphics_kind.empty() && precondition == kNoPrecondition) command = proposed;
    // A window closed under the command answered its wait with the user
    // escape; the program goes on without graphics.
    if (sets.graphics_on && kzt_window_closed(status)) sets.graphics_on = false;
    // A question of the command met the end of the input: exit as well.
    if (kzt_escape_at_end(status)) {
      ST_DEF_SYSTEM(status);
      break;
    }
    // A failure asks whether to go on. The end of the sequence's macro, met
    // by the command or at that question, is no failure and is handed on.
    if (status != kStatusGood && status != kStatusConsumed && !kzt_reset_status(status) &&
        !io_macro_ended(status))
      continue_flag = false;
    // The macro's end, in the command or at the RESET question, is no
    // failure to report: it moves the sequence on.
    if (sequence_macro_ended(status)) sequence_next = true;
    if (status == kStatusConsumed) ST_DEF_SYSTEM(status);
    if (io_command_refused() || precondition != kNoPrecondition)
      io_outmacro_take_back(recorded);
    if (precondition != kNoPrecondition) {
      precondition_warning(precondition, command);
      if (precondition != kNeedsVariances) end_automatic_input();
    }
  }
  // The window's menus come next: in the window, or at the terminal where
  // it has gone.
  if (from_gui) {
    Status local = kStatusGood;
    gs_say_control(GsControlMove::kTransferred, local);
  }
}

}  // namespace kesta
