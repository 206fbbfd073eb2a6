// Forms: up to 20 values of mixed kinds on one page, each with its
// description, its value and a button that changes it, left with O.K. or
// CANCEL; and the progress bar.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;

std::string_view used_part(std::string_view line) {
  return line.substr(0, static_cast<std::size_t>(SLEN(line)));
}

const std::vector<std::string> kControls{"O.K.", "CANCEL", "?", "HELP", "INFO"};
const std::vector<std::string> kControlHelp{
    "O.K.: Return with new values", "CANCEL: Interrupt operation: No values changed",
    "?: Description of button commands",
    "HELP: Specific help information on required form input",
    "INFO: General information on using the form"};

const std::vector<std::string> kFormHelp{
    "INTERACTIVE VARIABLE UPDATING FORM",
    "----------------------------------",
    "",
    "A form shows several values at once, so that you can",
    "change those that need changing and leave the others.",
    "",
    "The text at the top says what the values are for; the",
    "HELP button gives more about this particular form.",
    "",
    "Below it is a line of yellow buttons with blue text:",
    "  O.K.:   leave the form, keeping the values shown",
    "  CANCEL: leave the form and abandon the operation",
    "  ?:      describe every button of the form",
    "  INFO:   this text",
    "  HELP:   help on the values this form asks for",
    "",
    "Under the headings DESCRIPTIONS, VALUES and CHANGE are",
    "three columns: what each value means, its current",
    "value, and the button that changes it. Texts too long",
    "for their column are shortened, shown by three dots.",
    "",
    "The input region at the bottom first shows the line",
    "\"Click on variable to change, or 'O.K.'\". A click on a",
    "CHANGE button opens a yellow prompt with blue text",
    "showing the variable, its range and its current value.",
    "Edit it with the arrow and delete keys: the down arrow",
    "clears the value, up and down recall earlier input.",
    "RETURN or ENTER accepts it; \"?\" shows the HELP text.",
    "",
    "A YES/NO value changes at a click on its button.",
    "",
    "The VALUES column follows every change. Leave the form",
    "with O.K. or CANCEL.",
    "",
    "---------------------------------------------------------",
    "END OF HELP TEXT",
    "---------------------------------------------------------"};

std::string scan_name(int type) {
  switch (type) {
    case 0: return "RADIAL";
    case 1: return "2-THETA";
    case 2: return "Q-SPACE";
    case 3: return "D-SPACINGS";
    default: return "UNKNOWN";
  }
}

}  // namespace

// The text shown in the VALUES column for ITEM.
std::string gs_form_value_text(const GsFormItem& item) {
  const std::string_view text = used_part(item.string_value);
  switch (item.type) {
    case 1: return IO_ITOC(item.int_value);
    case 2: return item.logical_value ? "YES" : "NO";
    case 3: return IO_RTOC(item.real_value);
    case 5: {
      bool found = false;
      std::string name;
      Status local = kStatusGood;
      GS_GIVE_COLOURNAME(item.int_value, found, name, local);
      return found ? name : IO_ITOC(item.int_value);
    }
    case 7:
    case 8: return std::string(text.size() > 45 ? text.substr(text.size() - 45) : text);
    case 9: return scan_name(item.int_value);
    default:
      return text.size() > 45 ? std::string(text.substr(0, 42)) + "..." : std::string(text);
  }
}

void GS_DRAW_FORM(int button_width, int max_title, int num_title, TextLines title,
                  std::span<const GsFormItem> items, Status& status) {
  constexpr std::string_view position = "Subroutine GS_DRAW_FORM V0.8";
  if (st_bad(status, position)) return;
  if (max_title < 1 && refuse(status, 1, position)) return;
  if ((num_title < 0 || num_title > max_title ||
       static_cast<std::size_t>(num_title) > title.size()) &&
      refuse(status, 5, position))
    return;
  const int n = static_cast<int>(items.size());
  GsDbForm& f = gs_db_form;
  const GsRect r = f.region;
  const float w = r.xmax - r.xmin;
  const float h = r.ymax - r.ymin;
  const float mx = w / 150.0f, my = h / 150.0f;
  f.mx = mx;
  f.my = my;
  f.title = {r.xmin + mx, r.ymin + 0.85f * h, r.xmax - mx, r.ymax - my};
  f.controls = {r.xmin + mx, r.ymin + 0.8f * h, r.xmax - mx, r.ymin + 0.85f * h - my};
  const float top = r.ymin + 0.75f * h - my;
  const float bottom = r.ymin + 0.15f * h + my;
  f.descriptions = {r.xmin + mx, bottom, r.xmin + 0.5f * w - mx, top};
  f.values = {r.xmin + 0.5f * w, bottom, r.xmin + 0.75f * w, top};
  f.change = {r.xmin + 0.75f * w + mx, bottom, r.xmax - mx, top};
  f.prompt = {r.xmin + mx, r.ymin + my, r.xmax - mx, r.ymin + 0.15f * h};
  // The value prompts of the form appear inside it.
  GS_SET_GUIREGION(f.prompt.xmin, f.prompt.ymin, f.prompt.xmax, f.prompt.ymax, status);

  const GsTransform saved = gs_unit_on(status);
  GS_FILLSTYLE(1, kGsBlue, status);
  GS_RECTANGLE(r.xmin, r.ymin, r.xmax, r.ymax, false, true, status);
  GS_PROMPT(false, std::max(num_title, 1), num_title, title.view(), f.title.xmin, f.title.ymin,
            f.title.xmax, f.title.ymax, status);

  std::vector<std::string> labels;
  for (const GsFormItem& item : items) labels.push_back(item.label);
  GS_SET_MENULAYOUT(0, 5, 6, 6, status);
  GS_MENU(1, 0, {"NO TITLE"}, 5, 5, kControls, f.controls.xmin, f.controls.ymin, f.controls.xmax,
          f.controls.ymax, status);
  const std::array<GsRect, kGsMaxMenuButtons> control_boxes = gs_drawn_menu.boxes;

  const std::array<std::pair<const char*, const GsRect*>, 3> heads{
      {{"DESCRIPTIONS", &f.descriptions}, {"VALUES", &f.values}, {"CHANGE", &f.change}}};
  for (const auto& [head, column] : heads)
    GS_PROMPT(false, 1, 1, {head}, column->xmin, column->ymax + my, column->xmax,
              f.controls.ymin - my, status);

  const bool portrait = gs_state.window_format == 0 || gs_state.window_format == 2;
  const float pitch = n > 0 ? (top - bottom) / static_cast<float>(n) : 0.0f;
  for (int i = 0; i < n && status == kStatusGood; ++i) {
    const float y1 = top - static_cast<float>(i + 1) * pitch + my / 3.0f;
    const float y2 = top - static_cast<float>(i) * pitch - my / 3.0f;
    const std::string_view description = used_part(items[i].description);
    if (description.size() > 24 && portrait)
      GS_SPROMPT(false, 3, 24, 1, description, f.descriptions.xmin, y1, f.descriptions.xmax, y2,
                 status);
    else
      GS_PROMPT(false, 1, 1, {std::string(description)}, f.descriptions.xmin, y1,
                f.descriptions.xmax, y2, status);
    const bool file = items[i].type == 7 || items[i].type == 8;
    GS_SPROMPT(false, 4, 15, file ? 2 : 1, gs_form_value_text(items[i]), f.values.xmin, y1,
               f.values.xmax, y2, status);
  }

  // No items: no rows and no change buttons.
  GS_SET_MENULAYOUT(1, 1, 12, std::max(button_width, 1), status);
  GS_MENU(1, 0, {"NO TITLE"}, std::max(n, 1), n, labels, f.change.xmin, f.change.ymin,
          f.change.xmax, f.change.ymax, status);
  // One record for the whole page: the item buttons, then the controls.
  GsDrawnMenu& record = gs_drawn_menu;
  for (int k = 0; k < 5 && n + k < kGsMaxMenuButtons; ++k) record.boxes[n + k] = control_boxes[k];
  record.region = {0.0f, 0.0f, 1.0f, 1.0f};
  record.num_buttons = n + 5;

  GS_PROMPT(false, 1, 1, {"Click on variable to change, or 'O.K.'"}, f.prompt.xmin, f.prompt.ymin,
            f.prompt.xmax, f.prompt.ymax, status);
  gs_restore_transform(saved, status);
}

void GS_HELPFORM(bool gui, Status& status) {
  if (st_bad(status, "Subroutine GS_HELPFORM V0.2")) return;
  const int n = static_cast<int>(kFormHelp.size());
  if (!gui) {
    IO_TEXT(kFormHelp, status);
    return;
  }
  const int font = gs_state.message_style.font;
  gs_state.message_style.font = 2;
  GS_MESSAGE(n, n, kFormHelp, status);
  gs_state.message_style.font = font;
}

namespace {

// A form asked at the terminal because its window has gone: its title and
// each item's label and value are written before its choices, since nothing
// shows them any more.
void show_form_on_terminal(int num_title, std::span<const std::string> title,
                           std::span<const GsFormItem> items, Status& status) {
  if (!qg_window_lost()) return;
  std::vector<std::string> lines(title.begin(), title.begin() + num_title);
  for (const GsFormItem& item : items)
    lines.push_back(std::string(used_part(item.label)) + ": " + gs_form_value_text(item));
  gs_question_on_terminal(lines, status);
}

}  // namespace

void GS_FORM(int max_title, int num_title, TextLines title, int max_info, int num_info,
             TextLines info, int max_items, std::vector<GsFormItem>& items, int& return_code,
             Status& status) {
  constexpr std::string_view position = "Subroutine GS_FORM V0.24";
  if (st_bad(status, position)) return;
  const int n = static_cast<int>(items.size());
  if (n < 1 && refuse(status, 17, position)) return;
  if (n > 20 && refuse(status, 9, position)) return;
  if (max_items < n + 5 && refuse(status, 5, position)) return;
  if ((max_title < 1 || max_info < 1 || num_title < 0 || num_title > max_title ||
       num_info < 0 || num_info > max_info || static_cast<std::size_t>(num_title) > title.size() ||
       static_cast<std::size_t>(num_info) > info.size()) &&
      refuse(status, 5, position))
    return;
  const std::span<const std::string> help = info.view().first(static_cast<std::size_t>(num_info));

  // World coordinates are page coordinates while the form is up.
  const GsRect dddr = gs_state.dddr, dgpp = gs_state.dgpp, gui = gs_state.gui_region;
  gs_state.dddr = gs_state.dgpp = GsRect{0.0f, 0.0f, 1.0f, 1.0f};
  gs_restore_graph_transform(status);
  gs_db_form.region = gs_state.message;

  int longest = 1;
  std::vector<std::string> buttons;
  std::vector<std::string> questions;
  for (const GsFormItem& item : items) {
    longest = std::max(longest, SLEN(item.label));
    buttons.push_back(IO_UPPER(used_part(item.label)));
    questions.push_back(item.prompt);
  }
  buttons.insert(buttons.end(), kControls.begin(), kControls.end());
  questions.insert(questions.end(), kControlHelp.begin(), kControlHelp.end());
  auto draw = [&] { GS_DRAW_FORM(longest + 1, max_title, num_title, title.view(), items, status); };
  auto show = [&](std::span<const std::string> lines) {
    const int k = static_cast<int>(lines.size());
    GS_MESSAGE(std::max(k, 1), k, lines, status);
  };
  // A cancel inside a value's box keeps the value; the form stays.
  auto absorb_escape = [&] {
    if (status == kStatusEscape) st_reset(status);
  };

  draw();
  bool done = false;
  while (!done && status == kStatusGood) {
    int type = 0;
    std::string command = "null";
    float x = 0.0f, y = 0.0f;
    show_form_on_terminal(num_title, title.view(), items, status);
    GS_INP_MENUCHOICE(n + 5, n + 5, buttons, 2, type, command, x, y, status);
    if (status != kStatusGood) break;
    command = IO_UPPER(used_part(command));
    bool redraw = type == kGsChoiceRedraw;
    if (type == kGsChoiceNone && gs_state.form_document) {
      bool opened = false;
      GS_ON_PRINT(true, opened, status);
      if (opened && status == kStatusGood) {
        draw();
        GS_OFF_PRINT(status);
        gs_end_graphics_file(status);
      }
      redraw = true;
    } else if (type == kGsChoiceNone) {
      redraw = true;  // a replayed macro ended here
    }
    if (type == kGsChoiceButton && !command.empty() && command != "NULL") {
      redraw = true;
      if (command == "O.K.") {
        return_code = 0;
        done = true;
      } else if (command == "CANCEL") {
        return_code = -1;
        done = true;
      } else if (command == "?") {
        show(questions);
      } else if (command == "HELP") {
        show(help);
      } else if (command == "INFO") {
        GS_HELPFORM(true, status);
      }
      for (int i = 0; i < n && !done && status == kStatusGood; ++i) {
        GsFormItem& item = items[static_cast<std::size_t>(i)];
        if (buttons[static_cast<std::size_t>(i)] != command) continue;
        switch (item.type) {
          case 1:
            GS_INPI(item.ranged, item.int_lower, item.int_upper, true, item.prompt, help,
                    {item.ranged ? "Enter integer value within given range"
                                 : "Enter valid integer value"},
                    item.int_value, status);
            break;
          case 2:
            if (!vosq_io_dbdb.output_macro && !vosq_io_dbdb.input_macro)
              item.logical_value = !item.logical_value;
            else
              GS_INPL(false, false, false, true, item.prompt, help, {}, item.logical_value,
                      status);
            break;
          case 3:
            GS_INPR(item.ranged, item.real_lower, item.real_upper, true, item.prompt, help,
                    {item.ranged ? "Enter real value within given range" : "Enter valid real value"},
                    item.real_value, status);
            break;
          case 4:
            GS_INPC(true, item.prompt, help, {"Enter character string"}, 1, item.string_value,
                    status);
            break;
          case 5: GS_GUI_COLOUR("SELECT REQUIRED COLOUR", item.int_value, status); break;
          case 6: GS_INP_DATATYPE(item.prompt, help, item.string_value, status); break;
          case 7:
          case 8: {
            int cancelled = 0;
            GS_FILESELECTION(1, 1, {item.prompt}, std::max(num_info, 1), num_info, help,
                             item.type == 7 ? 1 : 3, false, cancelled, item.string_value, status);
            return_code = -cancelled;
            break;
          }
          case 9: GS_INP_SCANTYPE(item.prompt, help, item.int_value, status); break;
          case 10:
            if (i + 1 > 12)
              gs_refusal({"MENU ONLY POSSILE FOR FIRST 12 CHOICES"}, status);
            else
              GS_INP_FORMMENU(item.choices, item.prompt, item.string_value, status);
            break;
          default: break;
        }
        absorb_escape();
      }
    }
    if (status != kStatusGood) break;
    if (redraw && !done) draw();
  }
  // The user escape at the form's wait (a window that went away, the end of
  // the input) leaves it as CANCEL does: no fault to report. Nor is the end
  // of a sequence's macro met in one of its boxes: it goes to the caller.
  if (status != kStatusGood && status != kStatusEscape && !io_macro_ended(status)) {
    Status local = kStatusGood;
    IO_WRITE("WARNING: Problem in form widget, bad internal error status", local);
    ST_OUT(status);
  }
  gs_state.dddr = dddr;
  gs_state.dgpp = dgpp;
  gs_state.gui_region = gui;
  gs_restore_graph_transform(status);
  Status local = kStatusGood;
  QG_SET_UPDATE(1, local);
}

// ---- Progress bar ----

void GS_PROGRESS(std::string_view text, float fraction, Status& status) {
  if (st_bad(status, "Subroutine GS_PROGRESS V0.1")) return;
  const GsRect r = gs_state.progress;
  const float w = r.xmax - r.xmin;
  const float h = r.ymax - r.ymin;
  const GsTransform saved = gs_unit_on(status);
  GS_LINESTYLE(1, 1.0f, kGsBlack, status);
  GS_FILLSTYLE(1, kGsCyan, status);
  GS_RECTANGLE(r.xmin, r.ymin, r.xmax, r.ymax, true, true, status);
  const GsRect bar{r.xmin + 0.05f * w, r.ymin + 0.4f * h, r.xmin + 0.95f * w, r.ymin + 0.7f * h};
  const float bw = bar.xmax - bar.xmin;
  const float bh = bar.ymax - bar.ymin;
  const std::string_view t = used_part(text);
  const float height =
      std::min(0.25f * h, bw * gs_size_factor({1.7f, 1.6f, 1.4f, 1.2f}) /
                              static_cast<float>(std::max<std::size_t>(t.size(), 15)));
  GS_TEXTSTYLE(1, kGsBlack, height, 1.0f, 0.0f, 0, 2, 4, 0.0f, 1.0f, status);
  if (!t.empty() && status == kStatusGood) QG_TEXT((r.xmin + r.xmax) / 2.0f, r.ymin + 0.71f * h, t, status);
  GS_FILLSTYLE(1, kGsWhite, status);
  GS_RECTANGLE(bar.xmin, bar.ymin, bar.xmax, bar.ymax, true, true, status);
  GS_LINTICKS(true, bar.xmin, bar.xmax, bar.ymin, bar.xmin, bw, 2, 9, true, true, bh / 3.0f,
              bh / 4.0f, status);
  const float part = std::clamp(fraction, 0.0f, 1.0f);
  if (part > 0.0f) {
    GS_FILLSTYLE(1, kGsRed, status);
    GS_RECTANGLE(bar.xmin, bar.ymin, bar.xmin + part * bw, bar.ymax, true, true, status);
  }
  const int percent = std::min(static_cast<int>(std::lround(100.0 * static_cast<double>(fraction))), 99);
  GS_TEXTSTYLE(1, kGsBlack, height, 1.0f, 0.0f, 0, 2, 4, 0.0f, 1.0f, status);
  if (status == kStatusGood) {
    QG_TEXT((r.xmin + r.xmax) / 2.0f, r.ymin + 0.01f * h, format_i(percent, 2) + " %  COMPLETE",
            status);
    QG_TEXT(bar.xmin, r.ymin + 0.01f * h, "0 %", status);
    QG_TEXT(bar.xmax, r.ymin + 0.01f * h, "100 %", status);
  }
  GS_UPDATE(status);
  gs_restore_transform(saved, status);
}

}  // namespace kesta
