#pragma once
// The widget toolkit of the graphics system: button menus and the choice
// reader, message, warning and prompt boxes and the scroll bar. Boxes are
// given in page coordinates; a widget draws with the unit transform and then
// restores the data transform of the last graph (drawn data display region
// and graph page position), so later clicks map into that graph.
//
// Every widget that answers (a choice, a text) takes its answer from the
// running input macro without drawing a wait, otherwise from the window, and
// records a window answer once: the output macro gets the answer itself, the
// log a line with the widget's prefix. Without a window the typed prompts
// answer, as while a macro replays.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/reader.hpp"
#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "graphics/system/state.hpp"

namespace kesta {

inline constexpr int kGsMaxMenuButtons = 100;
inline constexpr int kGsMaxMenuTitles = 10;
inline constexpr std::size_t kGsMenuTitleLength = 80;

// The last drawn menu: written by GS_MENU, read to locate clicks.
struct GsDrawnMenu {
  GsRect region{};  // page coordinates
  int num_buttons = 0;
  int fill_order = 0;
  std::array<GsRect, kGsMaxMenuButtons> boxes{};
  float edge = 0.0f;
  float text_height = 0.0f;
  int num_titles = 0;
  std::array<std::string, kGsMaxMenuTitles> titles;
  // A menu drawn without a title is named by this line where it is asked
  // at the terminal (the window gone); see gs_name_drawn_menu.
  std::string name;
};
inline GsDrawnMenu gs_drawn_menu;
// Names the menu drawn last, when it has no title, for the terminal.
void gs_name_drawn_menu(std::string_view name);

// The last drawn scroll bar: region and the boxes of its 6 parts (page).
struct GsDrawnScrollbar {
  GsRect region{};
  int num_parts = 0;
  std::array<GsRect, 6> parts{};
};
inline GsDrawnScrollbar gs_drawn_scrollbar;

// Menu choice input types.
inline constexpr int kGsChoiceButton = 1;
inline constexpr int kGsChoicePoint = 0;
inline constexpr int kGsChoiceRedraw = 2;
inline constexpr int kGsChoiceNone = -1;
inline constexpr int kGsChoiceMotion = -2;
// Scroll-bar input: a part was clicked.
inline constexpr int kGsScrollPart = 3;

// ---- Menus ----
void GS_BUTTON(float xmin, float ymin, float xmax, float ymax, float edge, Status& status);
void GS_STRINGBUTTON(float xmin, float ymin, float xmax, float ymax, float edge,
                     std::string_view text, Status& status);
// Draws and records a menu in the page rectangle; returns at once.
void GS_MENU(int max_title, int num_title, TextLines title, int max_menu, int num_menu,
             TextLines menu, float xmin, float ymin, float xmax, float ymax, Status& status);
// Locates world point X, Y in the last drawn menu.
void GS_CAL_MENUCHOICE(float x, float y, bool& in_menu, int& choice, Status& status);
// The menu in the GUI region.
void GS_FMENU(int max_title, int num_title, TextLines title, int max_menu, int num_menu,
              TextLines menu, Status& status);
// MODE 0 waits for a button, 2 also returns clicks beside the buttons, 10
// polls, others wait for a button or a redraw request. INPUT_TYPE is one of
// the kGsChoice values; COMMAND the chosen button's text. A window that can
// no longer be read answers with the user escape.
void GS_INP_MENUCHOICE(int max, int num, TextLines menu, int mode, int& input_type,
                       std::string& command, float& x, float& y, Status& status);
// While alive, a replayed macro that ends at GS_INP_MENUCHOICE is handed on
// by its caller (the interfaces' menu loop moves a file sequence on, or ends
// it). At any other menu (one inside a choice: the output formats, a form, a
// yes/no box) a running file sequence whose macro ends there has no next
// count: it ends at once and says so.
class GsMacroEndHandedOn {
 public:
  GsMacroEndHandedOn();
  ~GsMacroEndHandedOn();
  GsMacroEndHandedOn(const GsMacroEndHandedOn&) = delete;
  GsMacroEndHandedOn& operator=(const GsMacroEndHandedOn&) = delete;

 private:
  bool before_;
};
// A list of the caller's choices with CANCEL, "?" and HELP.
void GS_INP_CHOICE(int max_title, int num_title, TextLines title, int max_info, int num_info,
                   TextLines info, int max_help, int num_help, TextLines help, int max_choices,
                   int num_choices, TextLines choices, bool& cancelled, std::string& choice,
                   Status& status);
// Pick lists drawn over a form (the form's buttons are found again after).
void GS_INP_DATATYPE(std::string_view title, TextLines help, std::string& choice, Status& status);
void GS_INP_SCANTYPE(std::string_view title, TextLines help, int& scan_type, Status& status);
// The choice list of a form item of type 10 (at most kGsMaxFormChoices
// entries): CHOICE keeps its value when the list is empty or too long.
inline constexpr std::size_t kGsMaxFormChoices = 16;
void GS_INP_FORMMENU(std::span<const std::string> choices, std::string_view title,
                     std::string& choice, Status& status);
// The 15 drawing colours by name; COLOUR keeps its value without a choice.
void GS_GUI_COLOUR(std::string_view title, int& colour, Status& status);

// ---- Text boxes ----
// FRAME: a raised button (yellow, blue text) instead of a plain white box.
void GS_PROMPT(bool frame, int max, int num, TextLines text, float xmin, float ymin, float xmax,
               float ymax, Status& status);
void GS_PPROMPT(int max, int num, TextLines text, Status& status);
// STRING broken into at most LINES lines of WIDTH characters: MODE 0 cut,
// 1 word wrap, 2 a file name (directory lines first).
void GS_SPROMPT(bool frame, int lines, int width, int mode, std::string_view string, float xmin,
                float ymin, float xmax, float ymax, Status& status);
void GS_FPROMPT(int max, int num, TextLines text, Status& status);
struct GsMessageBoxes {
  GsRect text, ok, save;
  int shown = 0;
};
void GS_DRAW_MESSAGE(int max, int num, TextLines text, int first, float xmin, float ymin,
                     float xmax, float ymax, GsMessageBoxes& boxes, Status& status);
// Shows the lines in the message region until "O.K."; "SAVE" writes them to
// a file.
void GS_MESSAGE(int max, int num, TextLines text, Status& status);
// GS_MESSAGE in the fixed-width font (tables and help texts line up); the
// message style is restored afterwards whatever happened.
void gs_fixed_width_message(TextLines text, Status& status);
void GS_DRAW_WARNING(int flag, float xmin, float ymin, float xmax, float ymax, int max, int num,
                     TextLines text, GsRect& ok, Status& status);
void GS_WARNING(int flag, float xmin, float ymin, float xmax, float ymax, int max, int num,
                TextLines text, Status& status);
void GS_FWARNING(int max, int num, TextLines text, Status& status);
// A refusal told in the GUI region's warning box: its text is written as one
// line at the terminal and in the log too ("WARNING: " before it unless it
// says so), so that the reason stays in the transcript while the box waits
// for nothing (a replayed macro, whose next lines a menu may then refuse) or
// is clicked away. Without a window that line is all.
void gs_refusal(TextLines text, Status& status);
// gs_refusal for a command refused before it did its work: a replaying macro
// (and its sequence) ends, framed as after a failed input, since its later
// lines were written for the work that was not done and would only meet the
// menus.
void gs_command_refused(TextLines text, Status& status);
// A replayed macro ended at the menu that followed a warning box: the box,
// which waited for nothing while the macro replayed, is shown again and
// waits for the user's O.K. (only in a window, with no answer read since it
// was drawn and no file sequence running). Called once the macro is closed.
void gs_warning_left_by_macro();
// A warning box that later drawings have covered (a run that went on past it
// to show other results) is not shown again when the macro ends.
void gs_warning_covered();
void GS_SCROLLBAR(float xmin, float ymin, float xmax, float ymax, bool vertical, Status& status);
// X, Y in page coordinates.
void GS_CAL_SCROLLBAR(float x, float y, bool& in_bar, int& part, Status& status);
// INPUT_TYPE kGsScrollPart (PART set), 0 a click (X, Y page) with MODE 2,
// kGsChoiceRedraw a redraw request with MODE above 0.
void GS_INP_SCROLLBAR(int mode, int& input_type, int& part, float& x, float& y, Status& status);

// ---- Value boxes ----
// A text, integer, real or YES/NO answer from a box in the GUI region. HELP1
// is shown on HELP, HELP2 after a refused number. CANCEL gives the user
// escape. OPTIONS is the typed prompt's mode while a macro replays.
void GS_INPS(bool defaulted, std::string_view prompt, TextLines help1, TextLines help2,
             int options, int& length, std::string& string, Status& status);
void GS_INPC(bool defaulted, std::string_view prompt, TextLines help1, TextLines help2,
             int options, std::string& string, Status& status);
void GS_INPI(bool ranged, int lower, int upper, bool defaulted, std::string_view prompt,
             TextLines help1, TextLines help2, int& value, Status& status);
void GS_INPR(bool ranged, float lower, float upper, bool defaulted, std::string_view prompt,
             TextLines help1, TextLines help2, float& value, Status& status);
void GS_INPL(bool ranged, bool lower, bool upper, bool defaulted, std::string_view prompt,
             TextLines help1, TextLines help2, bool& value, Status& status);
// The one or two lines a value box shows its prompt in.
std::vector<std::string> gs_split_prompt(std::string_view prompt);

// ---- Forms ----
// One value of a form: TYPE 1 integer, 2 YES/NO, 3 real, 4 text, 5 drawing
// colour, 6 data type, 7 input file, 8 output file, 9 scan type, 10 choice.
struct GsFormItem {
  std::string label;        // its CHANGE button
  int type = 1;
  std::string description;  // DESCRIPTIONS column
  std::string prompt;       // the question of its box, and its "?" line
  bool ranged = false;
  int int_lower = 0, int_upper = 0;
  float real_lower = 0.0f, real_upper = 0.0f;
  int int_value = 0;
  bool logical_value = false;
  float real_value = 0.0f;
  std::string string_value;
  std::vector<std::string> choices;  // type 10: the list string_value is chosen from
};
// Where the last form was drawn (page coordinates).
struct GsDbForm {
  GsRect region, title, controls, change, values, descriptions, prompt;
  float mx = 0.0f, my = 0.0f;
};
inline GsDbForm gs_db_form;
// The VALUES column's text of an item.
std::string gs_form_value_text(const GsFormItem& item);
// Draws the form of ITEMS in gs_db_form.region; the menu record then holds
// the items' buttons followed by O.K., CANCEL, ?, HELP and INFO.
void GS_DRAW_FORM(int button_width, int max_title, int num_title, TextLines title,
                  std::span<const GsFormItem> items, Status& status);
// The form in the message region until O.K. (RETURN_CODE 0) or CANCEL (-1).
// MAX_ITEMS must leave room for the five control buttons.
void GS_FORM(int max_title, int num_title, TextLines title, int max_info, int num_info,
             TextLines info, int max_items, std::vector<GsFormItem>& items, int& return_code,
             Status& status);
// The general help on forms: a message box when GUI, else the terminal.
void GS_HELPFORM(bool gui, Status& status);
// The progress bar in the progress region.
void GS_PROGRESS(std::string_view text, float fraction, Status& status);

// ---- File selection ----
// MODE 0 an existing file, 1 an input file in the (filtered) list, 2 an
// existing input file, 3 an output file, 4 a new output file. CANCELLED 1
// after CANCEL. FILE_NAME in: the proposed name; out: the full name chosen.
void GS_FILESELECTION(int max_title, int num_title, TextLines title, int max_info, int num_info,
                      TextLines info, int mode, bool confirm, int& cancelled,
                      std::string& file_name, Status& status);
// NAME becomes the longest common beginning of the flagged names of both
// packed stores (a blank when they share nothing).
void GS_SUBFILE(int max_files, int num_files, const std::vector<Index>& file_pointers,
                const std::string& files, const std::vector<bool>& files_ok, int max_dirs,
                int num_dirs, const std::vector<Index>& dir_pointers, const std::string& dirs,
                const std::vector<bool>& dirs_ok, std::string& name, Status& status);
void GS_HELPFILESELECT(bool gui, Status& status);

// ---- Positions ----
// Shows X, Y (data units) at the top left of the message region.
void GS_XYCLICK(float x, float y, Status& status);
// Points clicked on the drawn data (world coordinates): NUM on entry the
// number wanted (below 1: up to MAX, ended by a click on the prompt in the
// page rectangle), on return the number given. JOIN joins them by lines.
void GS_INP_COORDINATES(float xmin, float ymin, float xmax, float ymax, std::string_view prompt,
                        int num_info, TextLines info, bool join, int max, int& num,
                        std::span<float> x, std::span<float> y, Status& status);
// One page position by a click.
void GS_INP_PC(float xmin, float ymin, float xmax, float ymax, std::string_view prompt,
               int num_info, TextLines info, float& x, float& y, Status& status);
// The lines as a prompt in the GUI region, then a wait for any input.
void GS_CONTINUE(int max, int num, TextLines text, Status& status);
// Zoom: two clicked corners become the requested data display region.
void GS_INP_XYREGION(Status& status);
// Widens a pixel region (at least 50 pixels each side) within the defined
// XNUMDAT x YNUMDAT data.
void GS_INP_UNZOOM(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat, Index& xstrelm,
                   Index& ystrelm, Index& xendelm, Index& yendelm, Status& status);
// The displayed region typed in data units, made the nearest pixels.
void GS_INP_2DREGION(Index xmaxdat, Index xnumdat, std::span<const float> xaxis, Index ymaxdat,
                     Index ynumdat, std::span<const float> yaxis, Index& xstrelm, Index& ystrelm,
                     Index& xendelm, Index& yendelm, Status& status);
// The x/y graph under its menu (zoom, un-zoom, print) until EXIT.
struct GsCurves;
void GS_INT_XYEGRAPH(const GsCurves& curves, std::string_view title, std::string_view xlabel,
                     std::string_view ylabel, Status& status);

// The displayed image that point input draws over: the arguments of
// GS_MPLOT, passed on unchanged for every redraw.
struct GsDisplayedImage {
  bool mask_data = false;
  Index xmaxdat = 1, ymaxdat = 1;
  Index xstrelm = 1, ystrelm = 1, xendelm = 1, yendelm = 1;
  std::span<const float> data;
  std::span<const std::uint8_t> mask;
  std::span<const float> xaxis, yaxis;
  std::string_view title, xlabel, ylabel, zlabel;
};
// Points on displayed data with CANCEL, HELP, KEYBOARD and the one/two-click
// switch in the page rectangle, and a spy glass when SPY_GLASS. CANCEL gives
// the user escape.
void GS_INPS_COORDINATES(bool spy_glass, const GsDisplayedImage& image, float xmin, float ymin,
                         float xmax, float ymax, std::string_view prompt, int num_help,
                         TextLines help, bool join, int max, int& num, std::span<float> x,
                         std::span<float> y, Status& status);
// The same in the GUI region.
void GS_INPS_FCOORDINATES(bool spy_glass, const GsDisplayedImage& image, std::string_view prompt,
                          int num_help, TextLines help, bool join, int max, int& num,
                          std::span<float> x, std::span<float> y, Status& status);
// The spy glass on or off for the displayed region, its square at the page
// rectangle.
void GS_SPYGLASS(bool on, const GsDisplayedImage& image, float xmin, float ymin, float xmax,
                 float ymax, Status& status);
// The second click of a two-click point, in an enlarged copy of the pixels
// about the first click (FIRST_X, FIRST_Y); appends the refined point (in
// the data units of the axes) or gives the user escape after CANCEL.
void GS_INP_TWOCLICK(const GsDisplayedImage& image, bool spy_glass, float xmin, float ymin,
                     float xmax, float ymax, int num_help, TextLines help, bool join,
                     int rubber_mode, float first_x, float first_y, int max, int& num,
                     std::span<float> x, std::span<float> y, Status& status);
// The pixels of the two-click window about PIXEL within FIRST..LAST.
void gs_two_click_window(Index pixel, Index first, Index last, Index& start, Index& end);

// ---- Curve styles ----
// How a block of curves is drawn: forms in the window (GUI) or typed
// questions. CANCEL in a form gives the user escape.
void GS_INP_CURVESTYLES(bool gui, Status& status);

// ---- Shared by the widgets ----
// Character-size factor of a widget from the measured reference width: the
// first for widths up to 0.063, then up to 0.083, up to 0.1, and above.
float gs_size_factor(const std::array<float, 4>& factors);
float gs_menu_factor();
// The unit transform (page coordinates) for a widget's drawing; returns the
// transform it replaced, for gs_restore_transform. Nesting is safe.
struct GsTransform {
  float wx1 = 0, wy1 = 0, wx2 = 1, wy2 = 1, vx1 = 0, vy1 = 0, vx2 = 1, vy2 = 1;
};
GsTransform gs_unit_on(Status& status);
void gs_restore_transform(const GsTransform& saved, Status& status);
// The data transform of the last graph back.
void gs_restore_graph_transform(Status& status);
// Records an answer given in the window: the output macro line and the log
// line LOG_PREFIX + ANSWER (none for an empty prefix).
void gs_record_answer(std::string_view log_prefix, std::string_view answer, Status& status);
// True while the answers come from an input macro or there is no window to
// wait on: the widget then asks through the typed prompts.
bool gs_typed_answers();
// How the questions move to the window's menus: handed back once a replayed
// macro has ended, or passed on from the terminal's own questions.
enum class GsControlMove { kReturned, kTransferred, kPassed };
// Says where the questions go now: "INFO: Control returned to graphics
// window" where the window is open. Without one (closed, or never opened)
// the window's questions are asked at the terminal: a macro's end says
// "INFO: Control returned to the terminal", and control passed from the
// terminal stays there, unsaid.
void gs_say_control(GsControlMove move, Status& status);
// A box drawn in the window whose typed question a macro may end at: while
// alive (only as a macro replays with a window, outside a file sequence or
// in one of the window's RUN SEQUENCE), the macro's end hands the question
// back (io_macro_ended) for the window to answer, and ended() then says so
// at the terminal. A window sequence whose macro ends there has no next file
// (its member stopped short): it ends as at a graphical menu, and its note
// names QUESTION.
class GsMacroEndToWindow {
 public:
  explicit GsMacroEndToWindow(std::string_view question = {});
  // True (the status reset, control said returned to the window) when the
  // macro ended at the question.
  bool ended(Status& status);

 private:
  std::optional<IoMacroEndToWindow> scope_;
  std::string question_;
};
// A widget that records its answer whole when it ends (the file selection's
// chosen name, the points given) holds the recording off while it waits, so
// that the boxes it asks through record nothing of their own; the recording
// is on again when it is released (or the holder goes), unless a failed
// write closed it meanwhile.
class GsRecordingHeld {
 public:
  GsRecordingHeld();
  ~GsRecordingHeld();
  GsRecordingHeld(const GsRecordingHeld&) = delete;
  GsRecordingHeld& operator=(const GsRecordingHeld&) = delete;
  // True when a recording was open as the outermost holding widget began.
  bool recording() const { return recording_; }
  void release();

 private:
  bool was_on_;      // the recording switch as this widget began
  bool recording_;
  bool held_ = true;
  GsRecordingHeld* outer_;
};
// Records an assignment typed in a window box: it acts on replay too, so it
// goes into an open recording also while a widget holds it (the file
// selection's name field, the KEYBOARD boxes of the points).
void gs_record_assignment(std::string_view typed, Status& status);
// Text typed into a window box passes the translation an answer typed at the
// terminal passes. An assignment sets its variable, is recorded
// (gs_record_assignment), and answers nothing (none, the status good);
// otherwise the translated answer (a variable's name gives its value).
std::optional<std::string> gs_translated_answer(std::string_view typed, Status& status);
// Writes LINES at the terminal when a question is typed there because its
// window has gone (not while a macro replays): nothing else shows the
// question any more.
void gs_question_on_terminal(std::span<const std::string> lines, Status& status);
// True when a warning box would be written at the terminal, as there is no
// window to draw it in (no graphics open, or the window gone; a replayed
// macro too): lines the terminal has had already need not go into such a
// box again.
bool gs_warnings_on_terminal();

}  // namespace kesta
