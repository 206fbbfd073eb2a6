#pragma once
// The main program's own routines: start-up options and questions, the
// display settings restored from the defaults, the exit trailer, the keyboard
// command loop and its dispatcher with the command table.

#include <string>
#include <string_view>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// The program version: a capital V, the major number, a point and the minor
// number, 7 characters.
inline constexpr std::string_view kKestaVersion = "V01.000";

// The program entry: start-up, one interface, shut-down. Returns the exit code.
int MAIN__();

// Fills the tables of calls from the operation libraries into the
// subsystems above them (app/imageops/upcalls.hpp), once at start-up.
void kzt_fill_upcalls();

// Sets the array sizes and the three flags from the command line, opens the
// graphics, and asks the array sizes (and whether to create variances).
// MEMORY_EXIST is changed only by the graphical size form.
void KZT_MSET_OPTIONS(std::string_view version, Index& xmaxdat, Index& ymaxdat, bool& memory_exist,
                      bool& variances_exist, bool& graphics_on, bool& gui_mode, Status& status);

// Display settings and pixel sizes restored from the defaults database.
void KZT_INP_DATASTORE(bool graphics_on, float& x_pixel_size, float& y_pixel_size, Status& status);

// The exit messages.
void KZT_TRAILER(std::string_view version, Status& status);

// The typed command interface; returns when the user exits.
void KZT_KEYBOARD(bool from_gui, KztDataSets& sets, Status& status);

// Precondition codes of the dispatcher.
enum KztPrecondition : int {
  kNoPrecondition = 0,
  kNeedsData = 1,
  kNeedsMemoryData = 2,
  kNeedsMemoryOverRegion = 3,
  kNeedsMemoryArrays = 4,
  kNeedsGraphics = 5,
  kNeedsVariances = 6,
};

// Runs COMMAND (the chosen command; on return the next default).
void KZT_KEYSUB(bool from_gui, std::string& command, std::string& display_command,
                std::string& graphics_kind, KztDataSets& sets, int& precondition,
                bool& continue_flag, Status& status);

// The command table: names and one-line help texts ("NAME: help"), in order.
const std::vector<std::string>& kzt_command_names();
const std::vector<std::string>& kzt_command_help();

}  // namespace kesta
