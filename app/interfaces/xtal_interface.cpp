#include "app/interfaces/xtal_interface.hpp"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/display_menu.hpp"
#include "app/imageops/inspection.hpp"
#include "app/imageops/masks.hpp"
#include "app/imageops/program_target.hpp"
#include "app/imageops/printing.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "app/interfaces/help_texts.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/interfaces.hpp"
#include "app/interfaces/peak_interface.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/gui_input.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

constexpr int kAutoRow = 3;  // the AUTO INPUT / STOP INPUT entry
constexpr std::string_view kAutoHelp = "AUTO INPUT: Automatically input files from a sequence";
constexpr std::string_view kStopHelp =
    "STOP INPUT: Cancel automatic input of files from a file sequence";

double steady_now() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  return duration<double>(steady_clock::now() - start).count();
}
void steady_sleep(float seconds) {
  std::this_thread::sleep_for(std::chrono::duration<float>(seconds));
}
double now() {
  const XtalClock& c = kzt_xtal_clock();
  return c.now != nullptr ? c.now() : steady_now();
}

const std::string kWelcome[] = {"",          "WELCOME TO ON-LINE",   "", "CRYSTALLOGRAPHY GUI", "",
                                "PRESS \"INPUT\" TO", "", "SELECT A FILE", "", ""};

void auto_off(XtalState& state, std::string& button, std::string& help) {
  state.auto_input = false;
  state.input_mode = 2;
  button = "AUTO INPUT";
  help = std::string(kAutoHelp);
}

void draw_peaks(XtalState& state, Status& status) {
  if (state.peaks.num_peaks > 0)
    KZT_DRAW_PEAKS(kzt_xtal_alarm().draw_bad_weak, state.peaks.max_peaks, state.peaks.num_peaks,
                   state.peaks.flags, state.peaks.x, state.peaks.y, status);
}

void draw(MenuPass& pass, XtalState& state, Status& status) {
  menu_loop::draw_data_or_welcome(menu_loop::current(pass.sets, true), true, kWelcome,
                                  WelcomePlace::kPage, pass, status);
  if (pass.sets.data_defined) draw_peaks(state, status);
}

void full_region() {
  KztArrays& a = vosq_kzt_arrays;
  a.xstrelm = a.ystrelm = 1;
  a.xendelm = a.xnumdat;
  a.yendelm = a.ynumdat;
}

// Reads a file of the series (SEQUENCE: choose, next or previous) into the
// current data; the whole image becomes the region and the peaks go.
void input(int sequence, MenuPass& pass, XtalState& state, Status& status) {
  KztDataSets& s = pass.sets;
  const ProgramImageTarget target(s);
  FIO_GUI_INPUT({"SELECT FILE TO INPUT IMAGE DATA", "(click on \"HELP\" for list of formats)"},
                sequence, target.target(), s.data_defined, s.input_file, status);
  if (status != kStatusGood) return;
  // A file without variances leaves zeros, not the last image's variances.
  target.clear_unread_variances(status);
  if (status != kStatusGood) return;
  full_region();
  state.peaks.num_peaks = 0;
}

void run_input(MenuPass& pass, XtalState& state, Status& status) {
  input(kFioSelectFile, pass, state, status);
}

// The stamp of a regular file; false for anything else.
bool file_stamp(const std::string& name, XtalFileStamp& stamp) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec) || ec) return false;
  stamp.size = std::filesystem::file_size(name, ec);
  if (ec) return false;
  const auto changed = std::filesystem::last_write_time(name, ec);
  if (ec) return false;
  stamp.changed = std::chrono::duration_cast<std::chrono::nanoseconds>(changed.time_since_epoch())
                      .count();
  return true;
}

// AUTO INPUT's read of the next file of the series. Nobody is there to
// click, so nothing waits: a file that cannot be read (most often one still
// being written) is said once and left as the next file, to be tried again;
// the data, the peaks and the series stay as they were.
bool auto_next(MenuPass& pass, XtalState& state, Status& status) {
  KztDataSets& s = pass.sets;
  int retstat = 0;
  std::string name;
  IO_NEWFILENAME(s.input_file, 1, 0, retstat, name, status);
  if (status != kStatusGood || retstat != 0) return false;
  const std::string next = name;
  const ProgramImageTarget target(s);
  std::vector<std::string> messages;
  if (!fio_gui_unattended_input(target.target(), s.data_defined, name, messages, status)) {
    if (status != kStatusGood) return false;
    if (next != state.failed_file) {
      for (const std::string& line : messages) IO_WRITE(line, status);
      IO_WRITE("INFO: It is read again when it has changed", status);
    }
    state.failed_file = next;
    file_stamp(next, state.failed_stamp);
    return false;
  }
  target.clear_unread_variances(status);
  if (status != kStatusGood) return false;
  s.input_file = name;
  // The log of a long unattended run names the frame each result is of.
  IO_WRITE("INFO: Input " + name, status);
  full_region();
  state.peaks.num_peaks = 0;
  state.failed_file.clear();
  return true;
}

void run_next(MenuPass& pass, XtalState& state, Status& status) {
  state.polled_file.clear();
  if (!state.auto_input) {
    input(kFioNextFile, pass, state, status);
    state.timeout_reference = now();
    return;
  }
  bool read = false;
  {
    // Automatic input asks nothing: each file is read as a member of the
    // series begun by the file read last with questions.
    const FioSeriesMembers members(fio_read_answers());
    read = auto_next(pass, state, status);
  }
  if (!read) {
    pass.redraw_image = pass.redraw_menu = false;
    return;
  }
  if (state.auto_peaks && pass.sets.data_defined) {
    draw(pass, state, status);
    bool draw_bad = kzt_xtal_alarm().draw_bad_weak;
    KZT_GUI_PEAKSEARCH(false, false, pass.sets, state.peaks, draw_bad, status);
  }
  state.timeout_reference = now();
}

void run_prev(MenuPass& pass, XtalState& state, Status& status) {
  input(kFioPreviousFile, pass, state, status);
}

void run_auto(MenuPass& pass, XtalState& state, Status& status) {
  std::string& button = pass.buttons[kAutoRow];
  std::string& help = pass.help[kAutoRow];
  if (state.auto_input) {
    auto_off(state, button, help);
    pass.redraw_image = false;
    return;
  }
  if (!pass.sets.data_defined) {
    gs_refusal({"NO FILES DEFINED: USE \"INPUT\" TO SELECT A FILE"}, status);
    pass.redraw_image = false;
    return;
  }
  state.auto_input = true;
  state.input_mode = 10;
  button = "STOP INPUT";
  help = std::string(kStopHelp);
  XtalAlarm& alarm = kzt_xtal_alarm();
  GS_INPL(false, false, false, true, "SET TIME-OUT ALARM",
          {"You may choose to set a time-out alarm, so that if there is not a",
           "new file after a set number of seconds the alarm will notify you.",
           "This is to help spot failures in data collection.", "",
           "Enter \"YES\" to set the alarm, and the number of seconds will be", "requested."},
          {"Enter \"YES\" or \"NO\""}, alarm.on, status);
  if (status == kStatusGood && alarm.on) {
    GS_INPI(true, 5, 3600, true, "ALARM TIME-OUT (SECONDS)",
            {"Enter number of seconds between data input, prior to", "issuing a warning alarm."},
            {"Enter number of seconds"}, alarm.seconds, status);
    state.timeout_reference = now();
  }
  if (status == kStatusGood)
    GS_INPL(false, false, false, true, "AUTO PEAK SEARCH",
            {"The peak search algorithm may be applied automatically to each",
             "image on input. Enter \"YES\" to have automatic peak searching.",
             "Normal peaks are displayed as red crosses, and saturated peaks",
             "are displayed with yellow crosses. Yellow asterisks denoted",
             "\"bad\" saturated peaks."},
            {"Enter \"YES\" or \"NO\""}, state.auto_peaks, status);
  // An escape from the questions leaves automatic input off.
  if (status != kStatusGood) {
    alarm.on = false;
    auto_off(state, button, help);
  }
  state.last_poll = state.last_event = now();
}

void run_display(MenuPass& pass, XtalState&, Status& status) {
  KztMemoryProfile memory = kzt_memory_profile();
  KZT_DISPLAY(kzt_displayed(pass.sets), memory, pass.plot_type, status);
  if (status == kStatusGood) kzt_store_profile(memory, pass.sets);
}
void run_exchange(MenuPass& pass, XtalState&, Status& status) { KZT_EXCHANGE(pass.sets, status); }
void run_full(MenuPass& pass, XtalState&, Status&) {
  if (pass.sets.data_defined) full_region();
}
void run_options(MenuPass& pass, XtalState&, Status& status) {
  KZT_OPTIONS(pass.sets, pass.plot_type, status);
}
void run_movement(MenuPass& pass, XtalState&, Status& status) {
  KZT_IMAGE(pass.sets, pass.plot_type, status);
}
void run_print(MenuPass& pass, XtalState&, Status& status) {
  kzt_menu_print(pass.sets, "masked_image", true, status);
}
void run_unzoom(MenuPass&, XtalState&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  GS_INP_UNZOOM(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm,
                a.yendelm, status);
}
void run_zoom(MenuPass& pass, XtalState&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  const KztDataSets& s = pass.sets;
  KZT_ZOOMIN(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
             kzt_image(a.data), s.title, s.xlabel, s.ylabel, s.zlabel, a.xstrelm, a.ystrelm,
             a.xendelm, a.yendelm, status);
}
void run_zscale(MenuPass& pass, XtalState& state, Status& status) {
  const GsDisplayedImage im = menu_loop::current(pass.sets, true);
  KZT_GUI_ZSCALE(im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
                 im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel,
                 false, 0.0f, 0.0f, status);
  draw_peaks(state, status);
  pass.redraw_image = false;
}
void run_geometry(MenuPass& pass, XtalState&, Status& status) {
  KztDataSets& s = pass.sets;
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(vosq_kzt_arrays.ynumdat, s.x_pixel_size, s.y_pixel_size);
  KZT_GEOMETRY(true, kzt_current_image(s), pixels.x, pixels.y, status);
  kzt_keep_pixel_sizes(pixels, s.x_pixel_size, s.y_pixel_size);
}
void run_peaks(MenuPass& pass, XtalState& state, Status& status) {
  bool draw_bad = kzt_xtal_alarm().draw_bad_weak;
  KZT_GUI_PEAKSEARCH(false, true, pass.sets, state.peaks, draw_bad, status);
  kzt_xtal_alarm().draw_bad_weak = draw_bad;
  pass.redraw_image = false;
}
void run_spy_glass(MenuPass& pass, XtalState&, Status& status) {
  GS_FPROMPT(5, 5,
             {"Move the cursor into the displayed image.", "The \"spy-glass\" will show a zoomed in",
              "region of the image centred around the", "coursor position. As the cursor moves so",
              "should the spy-glass image."},
             status);
  std::vector<float> x(1), y(1);
  int num = 0;
  GS_INPS_FCOORDINATES(true, menu_loop::current(pass.sets, true), "CLICK HERE TO END", 1,
                       {"Move the cursor over the image; click here to end"}, false, 1, num, x, y,
                       status);
  // Ending the spy glass is the user escape: back to the menu.
  if (status == kStatusEscape) ST_DEF_SYSTEM(status);
  else if (status != kStatusGood) pass.leave = true;
}
void run_mask(MenuPass& pass, XtalState& state, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  const KztDataSets& s = pass.sets;
  KZT_MASK(true, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_image(a.data), kzt_xline(a.xaxis),
           kzt_yline(a.yaxis), s.title, s.xlabel, s.ylabel, s.zlabel, s.x_pixel_size,
           s.y_pixel_size, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_mask(), status);
  draw_peaks(state, status);
  pass.redraw_image = false;
}

bool poll(MenuPass& pass, XtalState& state, int last_input_type, int& input_mode,
          std::string& command, Status& status) {
  const bool was_on = state.auto_input;
  const bool decided = kzt_xtal_poll(pass.sets, state, last_input_type, input_mode, command,
                                     pass.buttons[kAutoRow], pass.help[kAutoRow], status);
  // A poll that found nothing redraws nothing; the alarm redraws the menu.
  if (decided && command == "null") {
    pass.redraw_image = false;
    pass.redraw_menu = was_on && !state.auto_input;
  }
  return decided;
}

void enter(MenuPass&, XtalState& state, Status&) {
  state.last_poll = state.last_event = state.timeout_reference = now();
}

using Row = MenuRow<XtalState>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;
constexpr unsigned kData = kMenuNeedsData;

// The help lines keep their stored order, where INPUT and FULL are the
// other way round from the buttons.
const Row kRows[] = {
    {"EXIT", "EXIT: Exit Interface and return to main interfaces menu", 0, MenuRedraw::kNothing,
     menu_exit<XtalState>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<XtalState>},
    {"HELP", "HELP: Help text on this grphical menu", 0, kAll, menu_help<XtalState>},
    {"AUTO INPUT", kAutoHelp, 0, MenuRedraw::kMenu, run_auto},
    {"DISPLAY", "DISPLAY: Further graphical display possibilities", kData, kAll, run_display},
    {"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", 0, kAll, run_exchange},
    {"FULL", "INPUT: Input data from a file on disk", 0, kAll, run_full},
    {"INPUT", "FULL: View image of full data", 0, kAll, run_input},
    {"OPTIONS", "OPTIONS: Further display control menu", 0, kAll, run_options},
    {"MOVEMENT", "MOVEMENT: Easily controlled movement around an image", kData, kAll,
     run_movement},
    {"PRINT", "PRINT: Output current graphics to PostScript file", kData, kAll, run_print},
    {"UN-ZOOM", "UN-ZOOM: Zoom out to see more of the data", 0, kAll, run_unzoom},
    {"ZOOM IN", "ZOOM IN: Graphical region definition", kData, kAll, run_zoom},
    {"Z-SCALING", "Z-SCALING: Automatic or user control of intensity display range", kData, kAll,
     run_zscale},
    {"NEXT FILE", "NEXT FILE: Input \"next\" file in a file sequence", 0, kAll, run_next},
    {"PREV FILE", "PREV FILE: Input \"previous\" file in a file sequence", 0, kAll, run_prev},
    {"SET GEOMETRY", "SET GEOMETRY: Define diffraction geometry", kData, kAll, run_geometry},
    {"PEAK SEARCH", "PEAK SEARCH: Find, display, and calculate statistics on peaks",
     kData | kMenuNeedsImage, MenuRedraw::kMenu, run_peaks},
    {"SPY-GLASS", "SPY-GLASS: Cursor controlled \"real-time\" zoom window", kData, kAll,
     run_spy_glass},
    {"MASK", "MASK: Defined regions to be ignored in the peak search, etc.", kData, kAll,
     run_mask},
};
static_assert(std::size(kRows) == 20);

}  // namespace

XtalAlarm& kzt_xtal_alarm() {
  static XtalAlarm alarm;
  return alarm;
}

XtalClock& kzt_xtal_clock() {
  static XtalClock clock;
  return clock;
}

namespace {

// NEXT, a file that is not read, left out when the file after it exists (the
// writer has gone on): said with WHY, and the series moves past it. True when
// left out.
bool left_out(KztDataSets& sets, const std::string& next, std::string_view why,
              Status& status) {
  int retstat = 0;
  std::string later;
  XtalFileStamp later_stamp;
  IO_NEWFILENAME(next, 1, 0, retstat, later, status);
  if (status != kStatusGood || retstat != 0 || !file_stamp(later, later_stamp)) return false;
  IO_WRITE("WARNING: " + next + " " + std::string(why) +
               " and is left out: the series has gone on to " + later,
           status);
  sets.input_file = next;
  return true;
}

}  // namespace

bool kzt_xtal_poll(KztDataSets& sets, XtalState& state, int last_input_type, int& input_mode,
                   std::string& command, std::string& button, std::string& help,
                   Status& status) {
  command = "null";
  input_mode = state.input_mode;
  if (!state.auto_input || status != kStatusGood) return false;
  const double t = now();
  XtalAlarm& alarm = kzt_xtal_alarm();
  // (A pass that polled read no input: the pass after it reads.)
  const bool read_before = !state.just_polled;
  state.just_polled = false;
  const bool idle = read_before && last_input_type == kGsChoiceNone;
  if (read_before && !idle) state.last_event = t;
  if (alarm.on && idle && std::trunc(t - state.timeout_reference) > alarm.seconds) {
    for (int i = 0; i < 20; ++i) IO_WRITE("\a", status);
    gs_refusal({"TIME-OUT ALARM: NEW FILE DOESN'T EXIST YET"}, status);
    alarm.on = false;
    auto_off(state, button, help);
    input_mode = state.input_mode;
    state.just_polled = true;
    return true;
  }
  if (idle && t - state.last_poll > 1.0) {
    state.last_poll = t;
    int retstat = 0;
    std::string next;
    IO_NEWFILENAME(sets.input_file, 1, 1, retstat, next, status);
    if (status != kStatusGood) return false;
    XtalFileStamp stamp;
    const bool regular = retstat == 0 && file_stamp(next, stamp);
    const bool held = regular && next == state.polled_file && stamp == state.polled_stamp;
    if (regular && next == state.failed_file && stamp == state.failed_stamp) {
      // Unchanged since it failed: given up once a later file shows that
      // the writer has gone on.
      if (left_out(sets, next, "could not be read", status)) state.failed_file.clear();
      state.polled_file.clear();
    } else if (held && stamp.size > 0) {
      command = "NEXT FILE";
    } else if (held && left_out(sets, next, "is empty", status)) {
      // Left empty by a writer that has gone on.
      state.polled_file.clear();
    } else {
      state.polled_file = regular ? next : "";
      state.polled_stamp = stamp;
    }
    if (status != kStatusGood) return false;
    state.just_polled = true;
    return true;
  }
  // Idle for more than a second: the processor is given up for a second.
  if (idle && t - state.last_event > 1.0) {
    const XtalClock& c = kzt_xtal_clock();
    (c.sleep != nullptr ? c.sleep : steady_sleep)(1.0f);
  }
  return false;
}

void KZT_GUI_XTALLOGRAPHY(KztDataSets& sets, Status& status) {
  InterfaceTable<XtalState> table;
  table.position = "Subroutine KZT_GUI_XTALLOGRAPHY V0.28";
  table.rows = kRows;
  table.layout = {1, 4, 12, 9};
  table.welcome = kWelcome;
  table.welcome_place = WelcomePlace::kPage;
  table.uses_mask = true;
  table.escape_asks_again = true;
  table.help_text = KZT_GUI_XTALHELP;
  table.draw = draw;
  table.enter = enter;
  table.poll = poll;
  XtalState state;
  std::string plot_type = "masked_image";
  kzt_interface(table, sets, state, plot_type, status);
}

}  // namespace kesta
