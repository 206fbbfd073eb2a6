// Button menus: the bevelled button, the menu grid and its record, and the
// choice reader that answers from the input macro or from a click.

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/menu.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;

bool inside(const GsRect& box, float x, float y) {
  return box.xmin <= x && x <= box.xmax && box.ymin <= y && y <= box.ymax;
}

}  // namespace

float gs_size_factor(const std::array<float, 4>& factors) {
  const float w = gs_state.reference_width;
  if (w <= 0.063f) return factors[0];
  if (w <= 0.083f) return factors[1];
  if (w <= 0.1f) return factors[2];
  return factors[3];
}

float gs_menu_factor() { return gs_size_factor({1.5f, 1.4f, 1.25f, 1.1f}); }

GsTransform gs_unit_on(Status& status) {
  GsTransform t;
  QG_INQ_DATAWINDOW(t.wx1, t.wy1, t.wx2, t.wy2, status);
  QG_INQ_VIEWPORT(t.vx1, t.vy1, t.vx2, t.vy2, status);
  QG_DATAWINDOW(0.0f, 0.0f, 1.0f, 1.0f, status);
  QG_VIEWPORT(0.0f, 0.0f, 1.0f, 1.0f, status);
  return t;
}

void gs_restore_transform(const GsTransform& t, Status& status) {
  // Put back even after a failure: later clicks must map as before.
  Status local = kStatusGood;
  QG_DATAWINDOW(t.wx1, t.wy1, t.wx2, t.wy2, local);
  QG_VIEWPORT(t.vx1, t.vy1, t.vx2, t.vy2, local);
  if (status == kStatusGood) status = local;
}

void gs_restore_graph_transform(Status& status) {
  const GsRect& w = gs_state.dddr;
  const GsRect& v = gs_state.dgpp;
  gs_restore_transform({w.xmin, w.ymin, w.xmax, w.ymax, v.xmin, v.ymin, v.xmax, v.ymax}, status);
}

void gs_record_answer(std::string_view log_prefix, std::string_view answer, Status& status) {
  const std::string_view used = answer.substr(0, static_cast<std::size_t>(SLEN(answer)));
  if (vosq_io_dbdb.output_macro) io_outmacro_record(used, status);
  if (vosq_io_dbdb.log_open && !log_prefix.empty())
    IO_WRITE_FILE(kStreamLog, std::string(log_prefix) + std::string(used), status);
}

void gs_say_control(GsControlMove move, Status& status) {
  // A window closed while a macro ran is noticed here, before control is
  // said to go back to it.
  const bool window = qg_window_still_there();
  switch (move) {
    case GsControlMove::kReturned:
      IO_WRITE(window ? "INFO: Control returned to graphics window"
                      : "INFO: Control returned to the terminal",
               status);
      return;
    case GsControlMove::kTransferred:
      if (window) IO_WRITE("INFO: Control transferred to graphics window", status);
      return;
    case GsControlMove::kPassed:
      if (window) IO_WRITE("INFO: Control passed to graphics window", status);
      return;
  }
}

namespace {
// The innermost widget holding the recording (none: nullptr).
GsRecordingHeld* recording_holder = nullptr;
}  // namespace

GsRecordingHeld::GsRecordingHeld()
    : was_on_(vosq_io_dbdb.output_macro),
      recording_(was_on_ || (recording_holder != nullptr && recording_holder->recording())),
      outer_(recording_holder) {
  vosq_io_dbdb.output_macro = false;
  recording_holder = this;
}

GsRecordingHeld::~GsRecordingHeld() { release(); }

void GsRecordingHeld::release() {
  if (!held_) return;
  held_ = false;
  recording_holder = outer_;
  vosq_io_dbdb.output_macro = was_on_ && io_stream(kStreamOutputMacro) != nullptr;
}

void gs_record_assignment(std::string_view typed, Status& status) {
  const std::string_view used = typed.substr(0, static_cast<std::size_t>(SLEN(typed)));
  if (vosq_io_dbdb.output_macro || recording_holder == nullptr) {
    io_outmacro_record(used, status);
    return;
  }
  // Held by a widget whose own answer comes later: the recording open when
  // that widget began takes the line now, before the answer.
  if (!recording_holder->recording() || io_stream(kStreamOutputMacro) == nullptr) return;
  vosq_io_dbdb.output_macro = true;
  io_outmacro_record(used, status);
  vosq_io_dbdb.output_macro = false;
}

bool gs_typed_answers() { return vosq_io_dbdb.input_macro || qg_x11_driver() == nullptr; }

void gs_name_drawn_menu(std::string_view name) {
  if (gs_drawn_menu.num_titles < 1) gs_drawn_menu.name = used_text(name);
}

GsMacroEndToWindow::GsMacroEndToWindow(std::string_view question)
    : question_(used_text(question)) {
  if (vosq_io_dbdb.input_macro && qg_x11_driver() != nullptr &&
      (!vosq_io_dbdb.file_sequence || io_sequence_driver() == SequenceDriver::kWindow))
    scope_.emplace();
}

bool GsMacroEndToWindow::ended(Status& status) {
  if (!scope_ || !io_macro_ended(status)) return false;
  st_reset(status);
  gs_say_control(GsControlMove::kReturned, status);
  io_end_sequence(question_.empty() ? std::string("its macro ended at a question in the window")
                                    : "its macro ended at the question " + question_);
  return true;
}

void gs_question_on_terminal(std::span<const std::string> lines, Status& status) {
  if (!qg_window_lost() || vosq_io_dbdb.input_macro) return;
  // A question asked at the terminal has met the window's loss.
  qg_answer_window_loss();
  for (const std::string& line : lines)
    if (const std::string_view text = used_text(line); !text.empty()) IO_WRITE(text, status);
}

void GS_BUTTON(float xmin, float ymin, float xmax, float ymax, float edge, Status& status) {
  constexpr std::string_view position = "Subroutine GS_BUTTON V0.2";
  if (st_bad(status, position)) return;
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymin >= ymax && refuse(status, 14, position)) return;
  const float e = std::abs(edge);
  const std::array<float, 7> x{xmin, xmin, xmin + e, xmax, xmax, xmax - e, xmin};
  const std::array<float, 7> y{ymin, ymax - e, ymax, ymax, ymin + e, ymin, ymin};
  QG_FILLAREA(6, std::span<const float>(x).first(6), std::span<const float>(y).first(6), status);
  QG_POLYLINE(7, x, y, status);
  if (edge > 0.0f) {
    const std::array<float, 3> lx{xmin, xmax - edge, xmax - edge};
    const std::array<float, 3> ly{ymax - edge, ymax - edge, ymin};
    QG_POLYLINE(3, lx, ly, status);
    GS_LINE(xmax - edge, ymax - edge, xmax, ymax, status);
  } else {
    const std::array<float, 3> lx{xmin - edge, xmin - edge, xmax};
    const std::array<float, 3> ly{ymax, ymin - edge, ymin - edge};
    QG_POLYLINE(3, lx, ly, status);
    GS_LINE(xmin, ymin, xmin - edge, ymin - edge, status);
  }
}

void GS_STRINGBUTTON(float xmin, float ymin, float xmax, float ymax, float edge,
                     std::string_view text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_STRINGBUTTON V0.2";
  if (st_bad(status, position)) return;
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymin >= ymax && refuse(status, 14, position)) return;
  GS_BUTTON(xmin, ymin, xmax, ymax, edge, status);
  const int used = SLEN(text);
  if (used > 0)
    QG_TEXT((xmin + xmax - edge) / 2.0f, (ymin + ymax - edge) / 2.0f,
            text.substr(0, static_cast<std::size_t>(used)), status);
}

void GS_MENU(int max_title, int num_title, TextLines title, int max_menu, int num_menu,
             TextLines menu, float xmin, float ymin, float xmax, float ymax, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MENU V0.7";
  if (st_bad(status, position)) return;
  if ((max_title < 1 || max_menu < 1) && refuse(status, 1, position)) return;
  if ((num_title < 0 || num_title > max_title || num_menu < 0 || num_menu > max_menu ||
       static_cast<std::size_t>(num_title) > title.size() ||
       static_cast<std::size_t>(num_menu) > menu.size()) &&
      refuse(status, 5, position))
    return;
  // The record holds 100 buttons and 10 title lines.
  if ((num_menu > kGsMaxMenuButtons || num_title > kGsMaxMenuTitles) &&
      refuse(status, 9, position))
    return;
  if (xmin > xmax && refuse(status, 13, position)) return;
  if (ymax < ymin && refuse(status, 14, position)) return;

  (void)gs_unit_on(status);
  const GsMenuStyle& style = gs_state.menu_style;
  const GsMenuLayout& layout = gs_state.menu_layout;
  const int across = std::max(layout.across, 1);
  const int rows = static_cast<int>(static_cast<float>(num_menu) / static_cast<float>(across) + 0.999f);
  const int lines = rows + num_title;
  // The page's bottom edge maps just below a window's last pixel row: the
  // buttons keep clear of it, so that the last row keeps its bottom border
  // in any window of 500 rows or more.
  constexpr float kPageEdgeClearance = 0.002f;
  const float bottom = std::min(std::max(ymin, kPageEdgeClearance), ymax);
  // No buttons and no title: the frame alone, with a row height that draws nothing.
  const float h = lines > 0 ? (ymax - bottom) / static_cast<float>(lines) : 0.0f;
  const float w = (xmax - xmin) / static_cast<float>(across);

  GsDrawnMenu& record = gs_drawn_menu;
  record.region = {xmin, ymin, xmax, ymax};
  record.num_buttons = num_menu;
  record.fill_order = layout.fill_order;
  record.num_titles = num_title;
  for (int k = 0; k < num_title; ++k) record.titles[k] = title[k].substr(0, kGsMenuTitleLength);
  record.name.clear();

  const float factor = gs_menu_factor();
  GS_LINESTYLE(1, 1.0f, style.frame_line, status);
  GS_FILLSTYLE(1, style.frame_fill, status);
  GS_RECTANGLE(xmin, ymin, xmax, ymax, true, true, status);
  const float separator = ymax - h * static_cast<float>(num_title);
  GS_LINE(xmin, separator, xmax, separator, status);

  if (num_title > 0) {
    const float height = std::min(0.8f * h, (xmax - xmin) * factor /
                                                static_cast<float>(layout.title_length + 1));
    GS_TEXTSTYLE(style.title_font, style.title_text, height, 1.0f, 0.0f, 0, 2, 4, 0.0f, 1.0f,
                 status);
    for (int k = 0; k < num_title; ++k) {
      const std::string_view line = record.titles[k];
      const int used = SLEN(line);
      if (used > 0)
        QG_TEXT((xmin + xmax) / 2.0f, ymax - 0.8f * h - static_cast<float>(k) * h,
                line.substr(0, static_cast<std::size_t>(used)), status);
    }
  }

  record.text_height = std::min(0.7f * h, w * factor / static_cast<float>(layout.button_length + 1));
  record.edge = std::min(0.1f * w, 0.1f * h);
  if (num_menu > 0) {
    GS_TEXTSTYLE(style.button_font, style.button_text, record.text_height, 1.0f, 0.0f, 0, 2, 3,
                 0.0f, 1.0f, status);
    GS_LINESTYLE(1, 1.0f, style.button_edge, status);
    GS_FILLSTYLE(1, style.button_fill, status);
  }
  for (int i = 0; i < num_menu && status == kStatusGood; ++i) {
    const int row = layout.fill_order == 1 ? i % rows : i / across;
    const int column = layout.fill_order == 1 ? i / rows : i % across;
    const float x0 = xmin + w * static_cast<float>(column);
    const float y0 = ymax - h * static_cast<float>(row + 1 + num_title);
    GsRect& box = record.boxes[i];
    box = {x0 + 0.02f * w, y0 + 0.05f * h, x0 + 0.98f * w, y0 + 0.95f * h};
    GS_STRINGBUTTON(box.xmin, box.ymin, box.xmax, box.ymax, record.edge, menu[i], status);
  }
  gs_restore_graph_transform(status);
}

void GS_CAL_MENUCHOICE(float x, float y, bool& in_menu, int& choice, Status& status) {
  if (st_bad(status, "Subroutine GS_CAL_MENUCHOICE V0.2")) return;
  const float px = qg_click_pc(true, x, status);
  const float py = qg_click_pc(false, y, status);
  const GsDrawnMenu& record = gs_drawn_menu;
  in_menu = inside(record.region, px, py);
  choice = 0;
  if (!in_menu) return;
  for (int i = 0; i < record.num_buttons; ++i)
    if (inside(record.boxes[i], px, py)) {
      choice = i + 1;
      return;
    }
}

void GS_FMENU(int max_title, int num_title, TextLines title, int max_menu, int num_menu,
              TextLines menu, Status& status) {
  constexpr std::string_view position = "Subroutine GS_FMENU V0.1";
  if (st_bad(status, position)) return;
  if ((max_title < 1 || max_menu < 1) && refuse(status, 1, position)) return;
  if ((num_title < 0 || num_title > max_title || num_menu < 0 || num_menu > max_menu) &&
      refuse(status, 5, position))
    return;
  const GsRect& gui = gs_state.gui_region;
  GS_MENU(max_title, num_title, title.view(), max_menu, num_menu, menu.view(), gui.xmin, gui.ymin,
          gui.xmax, gui.ymax, status);
}

namespace {

// A menu asked at the terminal because its window has gone: the question
// (the drawn menu's title) and the choices are written first, since nothing
// shows them any more.
void show_menu_on_terminal(int num, std::span<const std::string> menu, Status& status) {
  qg_answer_window_loss();
  const GsDrawnMenu& record = gs_drawn_menu;
  if (record.num_buttons == num && record.num_titles < 1 && !record.name.empty())
    gs_question_on_terminal({{record.name}}, status);
  else if (record.num_buttons == num)
    gs_question_on_terminal(std::span(record.titles).first(static_cast<std::size_t>(
                                std::clamp(record.num_titles, 0, kGsMaxMenuTitles))),
                            status);
  const auto width = static_cast<std::size_t>(std::max(io_terminal_width(), 40));
  std::string line = "CHOICES:";
  for (int k = 0; k < num; ++k) {
    const std::string_view choice = used_text(menu[k]);
    if (line.size() + choice.size() + 2 > width && line.size() > 2) {
      IO_WRITE(line, status);
      line = "        ";
    }
    line += ' ';
    line += choice;
    if (k + 1 < num) line += ',';
  }
  IO_WRITE(line, status);
}

// The chosen button sinks and rises again.
void flash_button(int choice, std::string_view text, Status& status) {
  const GsDrawnMenu& record = gs_drawn_menu;
  const GsRect& box = record.boxes[choice - 1];
  (void)gs_unit_on(status);
  GS_LINESTYLE(1, 1.0f, kGsBlack, status);
  GS_FILLSTYLE(1, kGsYellow, status);
  if (record.text_height > 0.0f)
    GS_TEXTSTYLE(1, kGsBlue, record.text_height, 1.0f, 0.0f, 0, 2, 3, 0.0f, 1.0f, status);
  GS_STRINGBUTTON(box.xmin, box.ymin, box.xmax, box.ymax, -record.edge, text, status);
  GS_UPDATE(status);
  GS_STRINGBUTTON(box.xmin, box.ymin, box.xmax, box.ymax, record.edge, text, status);
  gs_restore_graph_transform(status);
}

// The drawn menu copied into the PostScript file ("print the menu").
void print_menu(int num, std::span<const std::string> menu, Status& status) {
  bool opened = false;
  GS_ON_PRINT(true, opened, status);
  if (!opened || status != kStatusGood) return;
  const GsDrawnMenu record = gs_drawn_menu;
  const std::vector<std::string> titles(record.titles.begin(),
                                        record.titles.begin() + std::max(record.num_titles, 1));
  GS_MENU(static_cast<int>(titles.size()), record.num_titles, titles, std::max(num, 1),
          std::min(num, record.num_buttons), menu, record.region.xmin, record.region.ymin,
          record.region.xmax, record.region.ymax, status);
  GS_OFF_PRINT(status);
  gs_end_graphics_file(status);
}

}  // namespace

namespace {
bool macro_end_handed_on = false;
}  // namespace

GsMacroEndHandedOn::GsMacroEndHandedOn() : before_(macro_end_handed_on) {
  macro_end_handed_on = true;
}
GsMacroEndHandedOn::~GsMacroEndHandedOn() { macro_end_handed_on = before_; }

void GS_INP_MENUCHOICE(int max, int num, TextLines menu, int mode, int& input_type,
                       std::string& command, float& x, float& y, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INP_MENUCHOICE V0.10";
  if (st_bad(status, position)) return;
  if (max < 1 && refuse(status, 1, position)) return;
  if ((num < 0 || num > max || static_cast<std::size_t>(num) > menu.size()) &&
      refuse(status, 5, position))
    return;
  command.clear();

  // A window lost while it was being drawn answers the first wait after it
  // as a window lost during the wait does, unless a question was asked at
  // the terminal since.
  if (!vosq_io_dbdb.input_macro && qg_window_loss_unanswered()) {
    qg_answer_window_loss();
    input_type = kGsChoiceNone;
    status = kStatusEscape;
    return;
  }
  if (gs_typed_answers()) {
    // The typed reader matches the line against the menu and records it.
    GS_UPDATE(status);
    if (num == 0) {
      input_type = kGsChoiceNone;
      return;
    }
    if (qg_window_lost() && !vosq_io_dbdb.input_macro) show_menu_on_terminal(num, menu.view(), status);
    // The line stands for a click: it names a whole button, even one whose
    // name begins another's.
    // An assignment in the macro is no choice: the status is reset and the
    // macro goes on with the choice. Only the macro's own end hands control
    // back to the window.
    do {
      io_menu(MenuMatch::kWholeName, false, "MENU CHOICE (GRAPHICAL INPUT)", {"Command not known"},
              {"Command not known"}, num, menu.view(), command, status);
    } while (io_ask_again(status));
    if (status == kStatusConsumed) {
      st_reset(status);
      gs_say_control(GsControlMove::kReturned, status);
      // The menus inside a choice hand the macro's end on to nobody: the
      // note names the menu by its title, as drawn.
      if (!macro_end_handed_on) {
        const GsDrawnMenu& drawn = gs_drawn_menu;
        const std::string_view title =
            drawn.num_titles > 0 ? used_text(drawn.titles[0]) : std::string_view();
        io_end_sequence(title.empty() ? std::string("its macro ended at a graphical menu")
                                      : "its macro ended at the graphical menu " +
                                            std::string(title));
      }
      gs_warning_left_by_macro();
      input_type = kGsChoiceNone;
      command.clear();
      return;
    }
    // The caller gets the button's own text, as a click gives it: the
    // matched name is upper case, and a caller looks it up in its own list.
    if (status == kStatusGood) {
      for (int k = 0; k < num; ++k) {
        if (IO_UPPER(menu[k]) == command) {
          command = menu[k];
          break;
        }
      }
    }
    input_type = kGsChoiceButton;
    return;
  }

  // A macro the program closed before its end (a failure, a refusal, the end
  // of its sequence) hands the choice back as one that ran out here does:
  // said, and the box that told why left up for its O.K.
  if (io_macro_just_closed()) {
    gs_say_control(GsControlMove::kReturned, status);
    gs_warning_left_by_macro();
  }
  const int wait_mode = (mode == 0 || mode == 10) ? mode : 1;
  while (status == kStatusGood) {
    int type = kInputNothing - 10;  // left alone by a wait that failed
    float wx = 0.0f, wy = 0.0f;
    QG_INP_COORDINATE(1, wait_mode, type, wx, wy, status);
    if (status != kStatusGood) return;
    if (type == kInputButton) {
      bool in_menu = false;
      int choice = 0;
      GS_CAL_MENUCHOICE(wx, wy, in_menu, choice, status);
      if (choice == 0 && gs_state.form_document) {
        input_type = kGsChoiceNone;
        return;
      }
      if (choice == 0 && in_menu && gs_state.menu_document) {
        print_menu(num, menu.view(), status);
        input_type = kGsChoiceRedraw;
        return;
      }
      if (choice > 0) {
        input_type = kGsChoiceButton;
        command = menu[choice - 1];
        flash_button(choice, command, status);
        gs_record_answer("GRAPHICAL MENU: ", command, status);
        return;
      }
      if (mode == 2) {
        input_type = kGsChoicePoint;
        x = wx;
        y = wy;
        return;
      }
    } else if (type == kInputRedraw) {
      if (mode > 0) {
        input_type = kGsChoiceRedraw;
        return;
      }
    } else if (type == kInputNothing || type == kInputMotion) {
      if (wait_mode == 10) {
        input_type = type;
        return;
      }
    } else if (type == kInputNothing - 10) {
      // The window could not be read: nothing more will come from it, which
      // answers as the end of the input does.
      input_type = kGsChoiceNone;
      status = kStatusEscape;
      return;
    }
  }
}

}  // namespace kesta
