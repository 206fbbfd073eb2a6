// Start-up and shut-down of the program: options, defaults, array sizes,
// allocation, the interface, and the exit messages.

#include <unistd.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/interfaces/help_texts.hpp"
#include "app/interfaces/interfaces.hpp"
#include "app/main/data_store.hpp"
#include "app/main/kzt_common.hpp"
#include "app/program/graphics_steps.hpp"
#include "app/program/program.hpp"
#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {
namespace {

constexpr std::string_view kDefaultsFile = "~/.kesta.def";
constexpr int kMaxArraySize = 1000000;

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this_host";
  return name;
}

// The advice written when the graphics window cannot be opened.
void graphics_advice() {
  const std::string host = host_name();
  Status local = kStatusGood;
  io_write_lines({
      "WARNING: There was a problem opening the graphics output window. This may be a",
      "        problem of the X-terminal not accepting graphics output from the host",
      "        running KESTA. If this is the case it can be cured by using the xhost",
      "         command e.g.  xhost +" + host,
      "         (to allow graphics output from \"" + host + "\")",
      "         on the local machine which is being used as an X-terminal. ",
      " ",
      "         If the problem does not seem to be linked to 'xhost' then check that",
      "         the \"DISPLAY\" variable is properly defined. You can enter:",
      "         printenv DISPLAY",
      "         (for users of the \"C\"-shell or \"T\"-shell) to check the current",
      "         output destination.",
      " ",
      "         To send the output to an X-terminal called \"xterm1\" you can enter:",
      "         setenv DISPLAY xterm1:0",
      "         (for users of the \"C\"-shell or \"T\"-shell).",
      " ",
      "         GRAPHICS OUTPUT and the \"GRAPHICS USER INTERFACE\" are UNAVAILABLE.",
      " ",
  }, local);
}

std::vector<std::string> startup_text(std::string_view version) {
  const std::string indent22(22, ' ');
  return {
      indent22 + std::string(32, '-'),
      indent22 + "PROGRAM  KESTA  Version: " + std::string(version),
      indent22 + std::string(32, '_'),
      "",
      "Reduction and analysis of 2-D X-ray detector images, by typed commands or menus.",
      "",
      "KESTA: 2-D Detector Calibration/Correction; File re-formatting; 2-D Fitting",
      "",
      indent22 + "YOU CAN ALWAYS ENTER:   ? ",
      std::string(14, ' ') + "FOR FURTHER EXPLANATION OF REQUIRED INPUT",
      "",
      std::string(20, ' ') + "No commercial software used ! ",
      "See \"CHANGES\" (keyboard menu) for important changes",
      "",
      "",
      "!!! NOTE: \"SYMBOLS\" commands replaced with \"VARIABLES\" ",
      "!!! commands in \"KEYBOARD\" menu",
  };
}

bool starts_with_any(std::string_view argument, std::initializer_list<std::string_view> words) {
  for (const std::string_view word : words)
    if (argument.substr(0, word.size()) == word) return true;
  return false;
}

// "-dim" followed by the X and Y sizes joined by "x" (or "X"). Returns
// true when the sizes were taken.
bool dimension_option(std::string_view argument, Index& xmaxdat, Index& ymaxdat, Status& status) {
  const std::string_view rest = argument.substr(4);
  std::size_t separator = rest.find('x');
  if (separator == std::string_view::npos) separator = rest.find('X');
  if (separator == std::string_view::npos || separator == 0) return false;
  const std::string_view xtext = rest.substr(0, std::min<std::size_t>(separator, 20));
  const std::string_view ytext = rest.substr(separator + 1, 20);
  bool xok = false;
  bool yok = false;
  int xsize = 0;
  int ysize = 0;
  IO_TOKTI(xtext, xok, xsize, status);
  IO_TOKTI(ytext, yok, ysize, status);
  if (xok && yok && xsize >= 1 && ysize >= 1) {
    xmaxdat = xsize;
    ymaxdat = ysize;
    return true;
  }
  Status local = kStatusGood;
  io_write_lines({"WARNING: Command line option to set program array sizes could not be",
                  "         decoded successfully"},
                 local);
  return false;
}

// The Y size proposed for a given X size (the shapes of common detectors).
int y_default(int x) {
  switch (x) {
    case 1152:
      return 1482;
    case 1200:
      return 1200;
    case 1242:
      return 1152;
    case 2048:
      return 2464;
    case 2304:
      return 2964;
    case 2816:
      return 2052;
    default:
      return x;
  }
}

// Asks one start-up question; an assignment typed as the answer (the core
// services report it consumed) defines its variable and the question is asked
// again, instead of ending the program with an undefined error.
template <typename Ask>
void ask_start_up(Ask ask, Status& status) {
  do {
    if (status == kStatusConsumed) ST_DEF_SYSTEM(status);
    ask();
  } while (status == kStatusConsumed);
}

// The defaults file's name with "~" expanded into PATH; false when it
// cannot be (PATH is then the name as given).
bool defaults_path(std::string& path) {
  Status local = kStatusGood;
  int translation = 0;
  IO_TRANS_PATH(kDefaultsFile, translation, path, local);
  if (translation == 0 && local == kStatusGood) return true;
  path = kDefaultsFile;
  return false;
}

static_assert(kDatabaseMaxEntries == 200 && kDatabaseCharacters == 8000);

// The refused keys for the exit line: the first five, then how many more.
std::string join_keys(const std::vector<std::string>& keys) {
  std::string text;
  for (std::size_t i = 0; i < keys.size() && i < 5; ++i) text += (i ? ", " : "") + keys[i];
  if (keys.size() > 5) text += " and " + IO_ITOC(static_cast<int>(keys.size() - 5)) + " more";
  return text;
}

// Whether the defaults may be saved at exit, given how the load went: only
// over a file that was read (a damaged one keeps its entries read whole), or
// where there was no file (a first run creates it). A start that failed before
// the load, or a file that could not be read or held more than fits, would
// otherwise be replaced by fewer settings than it holds.
bool defaults_may_be_saved(int retstat, Status status) {
  if (status != kStatusGood) return false;
  if (retstat == 0 || retstat == 4) return true;
  if (retstat != -1) return false;
  std::string path;
  if (!defaults_path(path)) return true;  // saving reports the problem
  Status local = kStatusGood;
  bool exists = false;
  int kind = 0;
  int found = 0;
  IO_FILEEXIST(path, exists, kind, found, local);
  return local == kStatusGood && !exists;
}

}  // namespace

void KZT_MSET_OPTIONS(std::string_view /*version*/, Index& xmaxdat, Index& ymaxdat,
                      bool& memory_exist, bool& variances_exist, bool& graphics_on, bool& gui_mode,
                      Status& status) {
  if (st_bad(status, "Subroutine KZT_MSET_OPTIONS V0.6")) return;
  xmaxdat = 1000;
  ymaxdat = 1000;
  variances_exist = false;
  graphics_on = true;
  gui_mode = true;
  bool ask_sizes = true;
  bool ask_variances = true;

  int num_args = 0;
  std::vector<std::string> args;
  IO_GETARGS(30, num_args, args, status);
  if (status != kStatusGood) return;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view argument = args[i];
    if (starts_with_any(argument, {"-dim", "+dim", "-DIM", "+DIM"})) {
      if (dimension_option(argument, xmaxdat, ymaxdat, status)) ask_sizes = false;
    } else if (starts_with_any(argument, {"-var", "+var", "-VAR", "+VAR"})) {
      variances_exist = true;
      ask_variances = false;
    } else if (starts_with_any(argument, {"-nogr", "+nogr", "-NOGR", "+NOGR"})) {
      graphics_on = false;
      gui_mode = false;
    } else if (starts_with_any(argument, {"-key", "+key", "-KEY", "+KEY"})) {
      gui_mode = false;
    }
  }

  const bool graphics_wanted = graphics_on;
  graphics_on = kzt_open_graphics(graphics_wanted, status);
  if (!graphics_wanted) {
    IO_WRITE("INFO: The graphics system has been turned off by a command line option", status);
  } else if (!graphics_on) {
    gui_mode = false;
    graphics_advice();
  }

  bool in_macro = false;
  IO_INQ_INMACRO(in_macro, status);
  if (status != kStatusGood || in_macro) return;

  if (ask_sizes && gui_mode) {
    // The form offers a stored size above its range at the end of it.
    Index xsize = 512;
    Index ysize = 512;
    for (auto [key, size] : {std::pair{"DIM1_DATA", &xsize}, std::pair{"DIM2_DATA", &ysize}}) {
      int stored = 0;
      int retstat = 0;
      IO_INQ_IKEYVALUE(key, stored, retstat, status);
      if (retstat == 0 && stored >= 1) *size = stored;
    }
    KZT_GUI_SIZES(xsize, ysize, memory_exist, variances_exist, status);
    if (status != kStatusGood) return;
    xmaxdat = xsize;
    ymaxdat = ysize;
  } else if (ask_sizes) {
    int xsize = 512;
    int ysize = 512;
    // A stored size outside the range of the question is not used.
    for (auto [key, size] : {std::pair{"DIM1_DATA", &xsize}, std::pair{"DIM2_DATA", &ysize}}) {
      int stored = 0;
      int retstat = 0;
      IO_INQ_IKEYVALUE(key, stored, retstat, status);
      if (retstat == 0 && stored >= 1 && stored <= kMaxArraySize) *size = stored;
    }
    static const std::string kSizeHelp[] = {
        "Here you are asked to define the size of the program arrays.  These will",
        "be used to store data \"inside\" KESTA.  Normally you will want the arrays",
        "to be at least as large as the image data to be input. If the dimensions",
        "are larger this does little harm,  but is wasteful of system  resources.",
        "If the arrays are smaller then not all of  an image can be input at full",
        "resolution.  Some input options allow an image to  be re-binned on input",
        "or for a sub-region of the image to be input."};
    ask_start_up(
        [&] {
          IO_INPI(true, 1, kMaxArraySize, true, "X DIMENSION FOR ARRAYS", kSizeHelp,
                  {"Must be an integer in the defined range"}, xsize, status);
        },
        status);
    if (status != kStatusGood) return;
    ysize = y_default(xsize);
    ask_start_up(
        [&] {
          IO_INPI(true, 1, kMaxArraySize, true, "Y DIMENSION FOR ARRAYS", kSizeHelp,
                  {"Must be an integer in the defined range"}, ysize, status);
        },
        status);
    if (status != kStatusGood) return;
    xmaxdat = xsize;
    ymaxdat = ysize;
    if (ask_variances) {
      ask_start_up(
          [&] {
            IO_INPL(
                false, false, false, true, "CREATE VARIANCE ARRAYS",
                {"Arrays to hold estimates of data value  variances may be created or not.",
                 "If error propagation is to be carried out these will be needed, but they",
                 "double the program array requirements and  will  make  many  operations",
                 "slower.  Unless you are going to need error progation  e.g. for weighted",
                 "fitting, it is best to reply \"NO\"."},
                {"You must enter \"YES\" or \"NO\""}, variances_exist, status);
          },
          status);
      if (status != kStatusGood) return;
    }
  }
  int retstat = 0;
  IO_SET_IKEYVALUE("DIM1_DATA", static_cast<int>(xmaxdat), retstat, status);
  // A full database says so itself, at its first refusal.
  IO_SET_IKEYVALUE("DIM2_DATA", static_cast<int>(ymaxdat), retstat, status);
}

void KZT_INP_DATASTORE(bool graphics_on, float& x_pixel_size, float& y_pixel_size, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_DATASTORE V0.3")) return;
  if (graphics_on) kzt_restore_display(status);
  // A size not above 0 or no number at all (kept by a defaults file from
  // before sizes were checked, or edited by hand) is no detector's: the data
  // set keeps its own. Not used, but said: the detector's size would
  // otherwise be lost without a word.
  for (auto [key, axis, target] : {std::tuple{"X_PIXEL_SIZE", "X", &x_pixel_size},
                                   std::tuple{"Y_PIXEL_SIZE", "Y", &y_pixel_size}}) {
    const auto unused = [&, axis = axis, target = target](const std::string& stored) {
      const std::string what = stored.empty() ? " is empty: "
                                              : " " + stored + " m is no detector's: ";
      IO_WRITE("WARNING: The stored " + std::string(axis) + " pixel size" + what +
                   IO_RTOC(*target) + " m is used; set it with GEOMETRY (EXPERIMENT)",
               status);
    };
    int retstat = 0;
    float size = *target;
    IO_INQ_RKEYVALUE(key, size, retstat, status);
    if (retstat == 3) {
      // Stored, but not a number (nan, inf, a value beyond single precision).
      int length = 0;
      std::string text;
      IO_INQ_KEYVALUE(key, length, text, retstat, status);
      unused(std::string(trimmed_text(text)));
      continue;
    }
    if (retstat != 0) continue;
    if (!(size > 0.0f)) {
      unused(IO_RTOC(size));
      continue;
    }
    *target = size;
    // A size no detector has (a scan's step stored by an old read) would
    // leave every integration empty without a word: it is used, but said.
    if (!detector_pixel_size(size))
      IO_WRITE("WARNING: The stored " + std::string(axis) + " pixel size " + IO_RTOC(size) +
                   " m is no detector's: set it with GEOMETRY (EXPERIMENT)",
               status);
  }
}

void KZT_TRAILER(std::string_view version, Status& status) {
  if (st_bad(status, "Subroutine KZT_TRAILER V0.2")) return;
  IO_WRITE(" ", status);
  KZT_LOGO(false, status);
  IO_WRITE(" ", status);
  IO_WRITE(std::string(78, '-'), status);
  IO_WRITE("INFO: BYE: KESTA " + std::string(version) + " exited by user command", status);
  IO_WRITE(" ", status);
  IO_WRITE("INFO: (No commercial software is used within KESTA.)", status);
  IO_WRITE("      Spline surface fitting uses the FITPACK library, with thanks to its author",
           status);
  IO_WRITE(std::string(78, '-'), status);
  IO_WRITE(" ", status);
}

namespace {

// A macro given with -mac that was recorded for the other command loop (a
// window recording when the keyboard loop runs: -key, -nogr, no display) is
// refused before any of its lines is read, as one that cannot be opened is:
// read line by line it would answer the wrong questions, and a recorded YES
// could end the run as a success having done nothing.
void refuse_foreign_recording(bool gui_mode, Status& status) {
  if (status != kStatusGood) return;
  if (io_macro_refused_for(gui_mode ? MacroLoop::kWindow : MacroLoop::kKeyboard))
    st_fail(status, 11000, "Subroutine IO_OPEN_INMACRO V0.3");
}

}  // namespace

int MAIN__() {
  Status status = kStatusGood;
  ST_DEF_SYSTEM(status);
  kzt_install_terminal_reader();
  kzt_fill_upcalls();
  IO_MSET_OPTIONS(status);

  int retstat = 0;
  IO_LOAD_DATABASE(kDefaultsFile, retstat, status);
  // A damaged file is reported by the loader itself, an over-full one below.
  if (retstat > 0 && retstat != 1 && retstat != 4)
    IO_WRITE("WARNING: Problem inputting internal database", status);
  // Saving an over-full file would drop the entries that did not fit, so it
  // is kept; the session's settings are then lost, and the user is told so.
  const bool over_full = retstat == 1;
  std::string defaults_file;
  defaults_path(defaults_file);
  if (over_full)
    IO_WRITE("WARNING: " + defaults_file + " holds more than the database takes " +
                 std::string(kDatabaseLimitsText) + ": it will be left as it is",
             status);
  const bool save_defaults = defaults_may_be_saved(retstat, status);

  KztDataSets sets;
  sets.version = std::string(kKestaVersion);
  IO_WRITE(" ", status);
  IO_TEXT(startup_text(sets.version), status);

  KztArrays& a = vosq_kzt_arrays;
  Index xmaxdat = 0;
  Index ymaxdat = 0;
  bool gui_mode = false;
  KZT_MSET_OPTIONS(sets.version, xmaxdat, ymaxdat, sets.memory_exist, sets.variances_exist,
                   sets.graphics_on, gui_mode, status);
  refuse_foreign_recording(gui_mode, status);
  KZT_INP_DATASTORE(sets.graphics_on, sets.x_pixel_size, sets.y_pixel_size, status);
  if (sets.graphics_on) kzt_title_graphics(status);

  if (status == kStatusEscape) {
    ST_DEF_SYSTEM(status);
    IO_WRITE("NOTE: \"User escape\" issued on start-up", status);
    IO_WRITE("      Exit from KESTA: Bye !", status);
    return 0;
  }

  sets.data_defined = false;
  sets.memory_defined = false;
  sets.mask_exist = false;
  kzt_allocate_arrays(xmaxdat, ymaxdat, sets.memory_exist, sets.variances_exist, false, a, status);
  kzt_undefined_extent(a);
  kzt_allocate_vectors(sets.vectors, status);
  IO_WRITE(std::string(78, '-'), status);

  if (gui_mode)
    KZT_GUI(true, sets, status);
  else
    KZT_KEYBOARD(false, sets, status);

  // Shut-down: the log is closed even after a failure, so that the
  // transcript is not lost. The defaults are saved only after a good end:
  // a run that failed (arrays that could not be allocated, NO to the reset
  // question) would otherwise store what failed (the refused array sizes)
  // for every later start; defaults that were never loaded are not saved
  // over the stored ones either.
  // Each step has a status of its own: a PostScript copy that could not be
  // written must not keep the arrays from being freed.
  Status local = kStatusGood;
  IO_CLOSE_LOGFILE(local);
  sets.log_file_open = false;
  {
    // Open until now also after the window was lost.
    Status graphics = kStatusGood;
    kzt_close_graphics(graphics);
  }
  Status freeing = kStatusGood;
  kzt_free_arrays(a, freeing);
  freeing = kStatusGood;
  kzt_free_vectors(sets.vectors, freeing);
  if (save_defaults && status == kStatusGood) {
    Status save_status = kStatusGood;
    retstat = 0;
    IO_SAVE_DATABASE(kDefaultsFile, retstat, save_status);
    // A failed write has been said in its one line, naming the file and the
    // reason.
    if (retstat == -1) {
      IO_WRITE("WARNING: Problem saving default values", save_status);
    } else if (const auto refused = io_database_refused_keys(); retstat == 0 && !refused.empty()) {
      // A file at the database's limit leaves no room for a setting first
      // made in this session: saying so keeps the loss from passing unseen.
      IO_WRITE("WARNING: " + IO_ITOC(static_cast<int>(refused.size())) +
                   " setting(s) of this session were not saved, as the database is full " +
                   std::string(kDatabaseLimitsText) + ": " + join_keys(refused),
               save_status);
    }
  }
  if (over_full && status == kStatusGood) {
    Status local_write = kStatusGood;
    IO_WRITE("WARNING: The settings of this session were not saved (" + defaults_file +
                 " is over-full)",
             local_write);
  }
  if (status == kStatusGood) {
    KZT_TRAILER(sets.version, status);
    return 0;
  }
  ST_OUT(status);
  return 1;
}

}  // namespace kesta
