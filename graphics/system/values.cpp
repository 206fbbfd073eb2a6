// Value input boxes: a text field with CANCEL, HELP and O.K. in the GUI
// region, the integer and real questions asked through it, and YES or NO
// through a menu. While a macro replays (or without a window) the typed
// prompts answer instead.

#include <algorithm>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "core/translate.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

std::string_view used_part(std::string_view line) {
  return line.substr(0, static_cast<std::size_t>(SLEN(line)));
}

// Puts back what a box changed of the menu record, the layout and the
// recording switch, whatever way the box ends.
struct SavedWidgetState {
  GsDrawnMenu menu = gs_drawn_menu;
  GsMenuLayout layout = gs_state.menu_layout;
  bool recording = vosq_io_dbdb.output_macro;
  ~SavedWidgetState() {
    gs_drawn_menu = menu;
    gs_state.menu_layout = layout;
    vosq_io_dbdb.output_macro = recording;
  }
};

void request_redraw() {
  Status local = kStatusGood;
  QG_SET_UPDATE(1, local);
}

// A help or warning box of a question: its O.K. is not an answer, so it is
// not recorded (a replay goes straight to the accepted answer). With typed
// answers the box therefore waits for nothing: its lines are written (and
// drawn, when a window shows the replay) and the question is asked again.
void show(std::span<const std::string> lines, Status& status) {
  const int n = static_cast<int>(lines.size());
  if (gs_typed_answers()) {
    if (qg_x11_driver() != nullptr) {
      const GsRect& r = gs_state.message;
      GsMessageBoxes boxes;
      GS_DRAW_MESSAGE(std::max(n, 1), n, lines, 1, r.xmin, r.ymin, r.xmax, r.ymax, boxes, status);
      GS_UPDATE(status);  // shown whole before the terminal waits
    }
    for (const std::string& line : lines) IO_WRITE(line, status);
    return;
  }
  const bool recording = vosq_io_dbdb.output_macro;
  vosq_io_dbdb.output_macro = false;
  GS_MESSAGE(std::max(n, 1), n, lines, status);
  vosq_io_dbdb.output_macro = recording;
}

}  // namespace

// A prompt longer than 50 characters is split at its first blank from
// character 40 on (when that is not the last character).
std::vector<std::string> gs_split_prompt(std::string_view prompt) {
  const std::string_view p = used_part(prompt);
  if (p.size() > 50) {
    const std::size_t blank = p.find(' ', 39);
    if (blank != std::string_view::npos && blank + 1 < p.size())
      return {std::string(p.substr(0, blank)), std::string(p.substr(blank + 1))};
  }
  return {std::string(p)};
}

namespace {

enum class Answer { typed, window, cancelled };

// The value box drawn and waited on; STRING holds the field's text.
Answer window_box(bool defaulted, std::string_view prompt, std::span<const std::string> help,
                  std::string& string,
                  bool& drawn_over, Status& status) {
  static const std::vector<std::string> buttons{"CANCEL", "HELP", "O.K."};
  const GsRect r = gs_state.gui_region;
  const float w = r.xmax - r.xmin;
  const float h = r.ymax - r.ymin;
  const std::vector<std::string> lines = gs_split_prompt(prompt);
  std::size_t longest = 1;
  for (const std::string& l : lines) longest = std::max(longest, l.size());
  const float height =
      std::min({0.25f * h, 0.85f * 1.7f * w / static_cast<float>(longest), 0.03f});
  const GsRect field{r.xmin + 0.02f * w, r.ymin, r.xmin + 0.85f * w, r.ymin + 0.3125f * h};
  bool have_text = defaulted;
  while (status == kStatusGood) {
    (void)gs_unit_on(status);
    GS_LINESTYLE(1, 1.0f, kGsBlack, status);
    GS_FILLSTYLE(1, kGsWhite, status);
    GS_RECTANGLE(r.xmin, r.ymin, r.xmax, r.ymax, true, true, status);
    GS_SET_MENULAYOUT(1, 1, 12, 7, status);
    GS_MENU(1, 0, {}, 3, 3, buttons, r.xmin + 0.85f * w, r.ymin, r.xmax, r.ymax, status);
    (void)gs_unit_on(status);
    GS_TEXTSTYLE(1, kGsBlack, height, 1.0f, 0.0f, 0, 1, 1, 0.0f, 1.0f, status);
    for (std::size_t k = 0; k < lines.size() && status == kStatusGood; ++k)
      QG_TEXT(r.xmin + 0.02f * w, r.ymax - 0.0625f * h - static_cast<float>(k) * 0.3125f * h,
              lines[k], status);
    GS_FILLSTYLE(1, kGsYellow, status);
    GS_TEXTSTYLE(1, kGsBlue, height, 1.0f, 0.0f, 0, 1, 1, 0.0f, 1.0f, status);
    if (status != kStatusGood) break;

    int type = kInputNothing - 10;
    int workstation = 0;
    float x = 0.0f, y = 0.0f;
    std::string text = have_text ? std::string(used_part(string)) : std::string();
    QG_INP_EVENT(1, 1, true, "", have_text, field.xmin, field.ymin, field.xmax, field.ymax, type,
                 workstation, text, x, y, status);
    if (status != kStatusGood) break;
    if (type == kInputNothing - 10) {
      status = kStatusEscape;  // the window can no longer be read
      break;
    }
    if (type == kInputLine) {
      string = text;
      return Answer::window;
    }
    if (type == kInputRedraw) {
      drawn_over = true;
      continue;
    }
    if (type != kInputButton) continue;
    // A click keeps what was typed so far in the field.
    string = text;
    have_text = true;
    bool in_menu = false;
    int choice = 0;
    GS_CAL_MENUCHOICE(x, y, in_menu, choice, status);
    if (choice == 1) return Answer::cancelled;
    if (choice == 3) return Answer::window;
    if (choice == 2) {
      show(help, status);
      drawn_over = true;
    }
  }
  return Answer::cancelled;
}

// One answer of the value box. The window's answer goes to the log and, with
// RECORD, to the output macro; an assignment is always recorded (it acts on
// replay too) and the box asks again. Returns how the answer came.
Answer ask_text(bool defaulted, std::string_view prompt, std::span<const std::string> help, int options,
                int& length,
                std::string& string, bool record, Status& status) {
  // A macro that ends at the question leaves the box in the window for the
  // user's answer, as it leaves a menu.
  bool typed = gs_typed_answers();
  while (status == kStatusGood) {
    if (typed) {
      GS_UPDATE(status);  // what the window shows is complete before the terminal waits
      GsMacroEndToWindow to_window(prompt);
      IO_INPS(defaulted, prompt, help, {"Error in macro input of a character string"}, options,
              length, string, status);
      if (to_window.ended(status)) {
        typed = false;
        continue;
      }
      // An assignment is asked again; the macro's end ends the question.
      if (!io_ask_again(status)) return Answer::typed;
      continue;
    }
    Answer answer = Answer::cancelled;
    bool drawn_over = false;
    std::string text = string;
    {
      const SavedWidgetState saved;
      vosq_io_dbdb.output_macro = false;
      answer = window_box(defaulted, prompt, help, text, drawn_over, status);
      gs_restore_graph_transform(status);
    }
    if (drawn_over) request_redraw();
    if (status != kStatusGood && status != kStatusEscape) return answer;
    if (vosq_io_dbdb.log_open)
      IO_WRITE_FILE(kStreamLog, "GRAPHICAL PROMPT: " + std::string(used_part(prompt)), status);
    if (answer == Answer::cancelled) {
      Status local = kStatusGood;
      if (vosq_io_dbdb.log_open) IO_WRITE_FILE(kStreamLog, "GRAPHICAL INPUT: <CANCEL>", local);
      if (vosq_io_dbdb.output_macro) io_outmacro_record("\\\\", local);
      status = kStatusEscape;
      return answer;
    }
    if (vosq_io_dbdb.log_open)
      IO_WRITE_FILE(kStreamLog, "GRAPHICAL INPUT: " + std::string(used_part(text)), status);
    // An assignment is recorded, and the question is asked again.
    const std::optional<std::string> translated =
        gs_translated_answer(text, status);
    if (!translated) continue;
    if (record && vosq_io_dbdb.output_macro) io_outmacro_record(used_part(text), status);
    if (status != kStatusGood) return answer;
    string = *translated;
    length = SLEN(string);
    return answer;
  }
  return Answer::cancelled;
}

// The integer and real questions.
template <typename T>
void ask_number(bool ranged, T lower, T upper, bool defaulted, std::string_view prompt,
                std::span<const std::string> help1, std::span<const std::string> help2, T& value,
                Status& status) {
  // The box starts with the default as text, which O.K. takes as typed: a
  // real is shown with the digits that give it back.
  auto text_of = [](T v) {
    if constexpr (std::is_same_v<T, int>)
      return IO_ITOC(v);
    else
      return io_rtoc_exact(v);
  };
  std::string full(prompt.substr(0, std::min<std::size_t>(prompt.size(), 100)));
  if (ranged) full += " (Range: " + text_of(lower) + " to " + text_of(upper) + ")";
  bool first_help = false;
  while (status == kStatusGood) {
    bool shown = first_help;
    if (first_help) show(help1, status);
    first_help = true;
    std::string answer = defaulted ? text_of(value) : std::string();
    int length = 0;
    const Answer how = ask_text(defaulted, full, help1, 2, length, answer, false, status);
    if (status != kStatusGood) return;
    const std::string_view a = used_part(answer);
    T candidate{};
    bool have = false;
    if (a.empty()) {
      have = defaulted;
      candidate = value;
    } else if (a == "?" || a == "HELP") {
      continue;
    } else {
      bool ok = false;
      if constexpr (std::is_same_v<T, int>)
        IO_TOKTI(a, ok, candidate, status);
      else
        IO_TOKTR(a, ok, candidate, status);
      if (status != kStatusGood) return;
      have = ok;
      if (!ok) {
        static const std::string kNotNumber[] = {
            std::is_same_v<T, int> ? "WARNING: Input value: cannot convert to a integer number"
                                   : "WARNING: Input value: cannot convert to a real number"};
        show(kNotNumber, status);
        shown = true;
      }
    }
    if (have && (!ranged || (lower <= candidate && candidate <= upper))) {
      value = candidate;
      // Only the accepted answer is recorded from the window.
      if (how == Answer::window) gs_record_answer("", a, status);
      if (shown) request_redraw();
      return;
    }
    if (!have) {
      show(help2, status);
      continue;
    }
    // A number outside the range: the box says which range, over the
    // caller's own line.
    std::vector<std::string> lines{"WARNING: " + (a.empty() ? text_of(candidate) : std::string(a)) +
                                   " is outside the range " + text_of(lower) + " to " +
                                   text_of(upper)};
    lines.insert(lines.end(), help2.begin(), help2.end());
    show(lines, status);
  }
}

}  // namespace

void GS_INPS(bool defaulted, std::string_view prompt, TextLines help1, TextLines /*help2*/,
             int options, int& length, std::string& string, Status& status) {
  if (st_bad(status, "Subroutine GS_INPS V0.2")) return;
  (void)ask_text(defaulted, prompt, help1.view(), options, length, string, true, status);
}

void GS_INPC(bool defaulted, std::string_view prompt, TextLines help1, TextLines help2,
             int options, std::string& string, Status& status) {
  if (st_bad(status, "Subroutine GS_INPC V0.11")) return;
  int length = 0;
  GS_INPS(defaulted, prompt, help1.view(), help2.view(), options, length, string, status);
}

void GS_INPI(bool ranged, int lower, int upper, bool defaulted, std::string_view prompt,
             TextLines help1, TextLines help2, int& value, Status& status) {
  if (st_bad(status, "Subroutine GS_INPI V0.4")) return;
  ask_number(ranged, lower, upper, defaulted, prompt, help1.view(), help2.view(), value, status);
}

void GS_INPR(bool ranged, float lower, float upper, bool defaulted, std::string_view prompt,
             TextLines help1, TextLines help2, float& value, Status& status) {
  if (st_bad(status, "Subroutine GS_INPR V0.7")) return;
  ask_number(ranged, lower, upper, defaulted, prompt, help1.view(), help2.view(), value, status);
}

void GS_INPL(bool /*ranged*/, bool /*lower*/, bool /*upper*/, bool /*defaulted*/,
             std::string_view prompt, TextLines help1, TextLines /*help2*/, bool& value,
             Status& status) {
  if (st_bad(status, "Subroutine GS_INPL V0.5")) return;
  static const std::vector<std::string> buttons{"CANCEL", "HELP", "YES", "NO"};
  const SavedWidgetState saved;
  const std::vector<std::string> title{std::string(used_part(prompt)).substr(0, kGsMenuTitleLength)};
  // Answered by a line (a replaying macro, no window), the question is said
  // before it: the menu's prompt alone does not tell what a YES answers. A
  // lost window's menu is shown whole at the terminal already.
  if (gs_typed_answers() && !(qg_window_lost() && !vosq_io_dbdb.input_macro))
    IO_WRITE(used_part(prompt), status);
  const GsRect& r = gs_state.gui_region;
  bool drawn_over = false;
  while (status == kStatusGood) {
    GS_SET_MENULAYOUT(0, 2, 40, 6, status);
    GS_MENU(1, 1, title, 4, 4, buttons, r.xmin, r.ymin, r.xmax, r.ymax, status);
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(4, 4, buttons, 1, type, command, x, y, status);
    if (status != kStatusGood) break;
    if (type == kGsChoiceNone && gs_state.form_document) {
      // A click beside the buttons prints the question.
      bool opened = false;
      GS_ON_PRINT(true, opened, status);
      if (opened && status == kStatusGood) {
        GS_MENU(1, 1, title, 4, 4, buttons, r.xmin, r.ymin, r.xmax, r.ymax, status);
        GS_OFF_PRINT(status);
        gs_end_graphics_file(status);
      }
    }
    if (type != kGsChoiceButton) {
      drawn_over = true;
      continue;
    }
    if (command == "CANCEL") {
      status = kStatusEscape;
      break;
    }
    if (command == "YES" || command == "NO") {
      value = command == "YES";
      break;
    }
    show(help1.view(), status);
    drawn_over = true;
  }
  if (drawn_over) request_redraw();
}

std::optional<std::string> gs_translated_answer(std::string_view typed, Status& status) {
  // Assignments and variables as at the terminal, but no continuation line
  // (a trailing "&" would wait at the terminal for one while the window
  // waits for the user) and no comment: the box's text is taken as typed.
  std::string text(used_part(typed));
  int translated = SLEN(text);
  int retstat = 0;
  if (translated > 0) IO_TR_PARSE(translated, text, retstat, status);
  if (status == kStatusConsumed) {
    st_reset(status);
    gs_record_assignment(typed, status);
    return std::nullopt;
  }
  text.resize(std::min(text.size(), static_cast<std::size_t>(std::max(translated, 0))));
  io_cut_response(text);
  return text;
}

}  // namespace kesta
