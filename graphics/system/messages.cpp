// Text boxes of the graphics window: plain and framed prompts, the scrolled
// message box with O.K. and SAVE, the warning box and the scroll bar.

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
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

std::string_view used_part(std::string_view line) {
  return line.substr(0, static_cast<std::size_t>(SLEN(line)));
}

int longest(int num, std::span<const std::string> text) {
  int l = 0;
  for (int k = 0; k < num; ++k) l = std::max(l, SLEN(text[k]));
  return l;
}

// The window's fonts come in steps, most wider than the size factor allows
// for, so a long line could lose its end to the clip. The widest of the NUM
// lines is measured in the device font of HEIGHT and the height lowered
// until it fits WIDTH (a few steps: each may change the font). Without a
// window nothing is measured and HEIGHT stays.
float fitting_height(int num, std::span<const std::string> text, float width, float height,
                     int font, Status& status) {
  for (int step = 0; step < 6 && num > 0 && status == kStatusGood; ++step) {
    GS_TEXTSTYLE(font, 1, height, 1.0f, 0.0f, 0, 1, 1, 0.0f, 1.0f, status);
    float widest = 0.0f;
    for (int k = 0; k < num && status == kStatusGood; ++k) {
      const std::string_view line = used_part(text[k]);
      float w = 0.0f;
      QG_INQ_TEXTWIDTH(static_cast<int>(line.size()), line, w, status);
      widest = std::max(widest, w);
    }
    if (!(widest > width)) break;
    height *= 0.98f * width / widest;
  }
  return height;
}

bool counts_bad(int max, int num, std::span<const std::string> text) {
  return num < 0 || num > max || static_cast<std::size_t>(num) > text.size();
}

// The name SAVE proposes: the one used last.
std::string save_name = "help.txt";

}  // namespace

void GS_PROMPT(bool frame, int max, int num, TextLines text, float xmin, float ymin, float xmax,
               float ymax, Status& status) {
  constexpr std::string_view position = "Subroutine GS_PROMPT V0.5";
  if (st_bad(status, position)) return;
  if (max <= 0 && refuse(status, 1, position)) return;
  if (counts_bad(max, num, text.view()) && refuse(status, 5, position)) return;
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymin >= ymax && refuse(status, 14, position)) return;
  const GsTransform saved = gs_unit_on(status);
  GS_LINESTYLE(1, 1.0f, frame ? kGsBlack : kGsBlue, status);
  GS_FILLSTYLE(1, frame ? kGsYellow : kGsWhite, status);
  GsRect area{xmin, ymin, xmax, ymax};
  if (frame) {
    const float e = std::min((xmax - xmin) / 12.0f, (ymax - ymin) / 12.0f);
    GS_BUTTON(xmin, ymin, xmax, ymax, e, status);
    area.xmax -= e;
    area.ymax -= e;
  } else {
    GS_RECTANGLE(xmin, ymin, xmax, ymax, true, true, status);
  }
  // No lines: the empty box.
  if (num > 0) {
    const float pitch = (area.ymax - area.ymin) / static_cast<float>(num);
    const float factor = gs_size_factor({1.7f, 1.6f, 1.4f, 1.2f});
    const float width = area.xmax - area.xmin;
    const float height = fitting_height(
        num, text.view(), width,
        std::min(0.8f * pitch,
                 factor * width / static_cast<float>(std::max(longest(num, text.view()) + 2, 3))),
        1, status);
    GS_TEXTSTYLE(1, frame ? kGsBlue : kGsBlack, height, 1.0f, 0.0f, 0, 2, 3, 0.0f, 1.0f, status);
    const float centre = (area.xmin + area.xmax) / 2.0f;
    for (int k = 0; k < num && status == kStatusGood; ++k) {
      const std::string_view line = used_part(text[k]);
      if (!line.empty())
        QG_TEXT(centre, area.ymax - pitch / 2.0f - static_cast<float>(k) * pitch, line, status);
    }
  }
  gs_restore_transform(saved, status);
}

void GS_PPROMPT(int max, int num, TextLines text, Status& status) {
  if (st_bad(status, "Subroutine GS_PPROMPT V0.1")) return;
  float xmax = 1.0f, ymax = 1.0f;
  QG_INQ_MAXPC(1, xmax, ymax, status);
  GS_PROMPT(false, max, num, text.view(), 0.0f, 0.0f, xmax, ymax, status);
}

namespace {

// LENGTH characters of S from FROM, in chunks of WIDTH; at most PIECES, the
// last taking the rest.
void chunks(std::string_view s, int width, int pieces, std::vector<std::string>& lines) {
  const auto w = static_cast<std::size_t>(width);
  for (int k = 0; k < pieces && !s.empty(); ++k) {
    const bool last = k == pieces - 1;
    const std::size_t n = last ? s.size() : std::min(w, s.size());
    lines.emplace_back(s.substr(0, n));
    s.remove_prefix(n);
  }
}

// A file-name part in 1 line up to WIDTH characters, else 2, 3 or 4.
void name_part(std::string_view part, int width, std::vector<std::string>& lines) {
  if (SLEN(part) == 0) return;
  const auto w = static_cast<std::size_t>(width);
  const int pieces = part.size() <= w ? 1 : part.size() <= 2 * w ? 2 : part.size() <= 3 * w ? 3 : 4;
  chunks(part, width, pieces, lines);
}

}  // namespace

void GS_SPROMPT(bool frame, int lines, int width, int mode, std::string_view string, float xmin,
                float ymin, float xmax, float ymax, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SPROMPT V0.1";
  if (st_bad(status, position)) return;
  if ((lines < 1 || lines > 5 || width < 1 || width > 80) && refuse(status, 17, position)) return;
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymax <= ymin && refuse(status, 14, position)) return;
  const std::string_view s = used_part(string);
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::string> out;
  if (mode == 0) {
    chunks(s, width, 5, out);
  } else if (mode == 1) {
    std::size_t from = 0;
    while (from < s.size()) {
      const std::string_view rest = s.substr(from);
      if (rest.size() <= w || out.size() == 3) {
        out.emplace_back(rest);
        break;
      }
      // The line ends at its last blank among characters 5..WIDTH.
      const std::size_t blank = rest.substr(0, w).find_last_of(' ');
      if (blank != std::string_view::npos && blank >= 4) {
        out.emplace_back(rest.substr(0, blank));
        from += blank + 1;
      } else {
        out.emplace_back(rest.substr(0, w));
        from += w;
      }
    }
  } else if (mode == 2) {
    const std::size_t slash = s.find_last_of('/');
    if (slash == std::string_view::npos) {
      name_part(s, width, out);
    } else {
      name_part(s.substr(0, slash + 1), width, out);
      name_part(s.substr(slash + 1), width, out);
    }
  } else {
    return;
  }
  // Never more lines than asked for nor than 5: the last takes the rest; no
  // line is longer than 80 characters.
  const std::size_t keep = static_cast<std::size_t>(std::min(lines, 5));
  if (out.size() > keep) {
    for (std::size_t k = keep; k < out.size(); ++k) out[keep - 1] += out[k];
    out.resize(keep);
  }
  for (std::string& line : out) line = line.substr(0, 80);
  const int n = static_cast<int>(out.size());
  GS_PROMPT(frame, std::max(n, 1), n, out, xmin, ymin, xmax, ymax, status);
}

void GS_FPROMPT(int max, int num, TextLines text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_FPROMPT V0.2";
  if (st_bad(status, position)) return;
  if (max < 1 && refuse(status, 1, position)) return;
  if (counts_bad(max, num, text.view()) && refuse(status, 5, position)) return;
  const GsRect& gui = gs_state.gui_region;
  GS_PROMPT(false, max, num, text.view(), gui.xmin, gui.ymin, gui.xmax, gui.ymax, status);
  GS_UPDATE(status);
}

// ---- Scroll bar ----

void GS_SCROLLBAR(float xmin, float ymin, float xmax, float ymax, bool vertical, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SCROLLBAR V0.3";
  if (st_bad(status, position)) return;
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymin >= ymax && refuse(status, 14, position)) return;
  // Coordinates along the bar (a) and across it (c).
  const float a0 = vertical ? ymin : xmin;
  const float length = vertical ? ymax - ymin : xmax - xmin;
  const float c0 = vertical ? xmin : ymin;
  const float across = vertical ? xmax - xmin : ymax - ymin;
  const float e = length / 150.0f;
  const float step = (length + e) / 6.0f;
  const float s = std::min((step - 4.0f * e) / 4.0f, (across - 2.0f * e) / 2.0f);
  auto point = [&](float a, float c, float& x, float& y) {
    x = vertical ? c : a;
    y = vertical ? a : c;
  };
  GsDrawnScrollbar& record = gs_drawn_scrollbar;
  record.region = {xmin, ymin, xmax, ymax};
  record.num_parts = 6;
  GS_LINESTYLE(1, 1.0f, kGsBlack, status);
  for (int i = 0; i < 6 && status == kStatusGood; ++i) {
    const float from = a0 + static_cast<float>(i) * step;
    const float to = from + step - e;
    GsRect& box = record.parts[i];
    point(from, c0, box.xmin, box.ymin);
    point(to, c0 + across, box.xmax, box.ymax);
    GS_FILLSTYLE(1, kGsYellow, status);
    GS_BUTTON(box.xmin, box.ymin, box.xmax, box.ymax, e, status);
    GS_FILLSTYLE(1, kGsBlue, status);
    // The face's centre, and the symbols about it: parts 1-3 point back
    // along the bar (down, left), 4-6 forward.
    const float ca = (from + to - e) / 2.0f;
    const float cc = c0 + (across - e) / 2.0f;
    const float dir = i < 3 ? -1.0f : 1.0f;
    auto triangle = [&](float a) {
      float x1, y1, x2, y2, x3, y3;
      point(a + dir * s, cc, x1, y1);
      point(a - dir * s, cc - s, x2, y2);
      point(a - dir * s, cc + s, x3, y3);
      GS_TRIANGLE(x1, y1, x2, y2, x3, y3, false, true, status);
    };
    auto bar = [&](float a) {
      float x1, y1, x2, y2;
      point(a - s / 4.0f, cc - s, x1, y1);
      point(a + s / 4.0f, cc + s, x2, y2);
      GS_RECTANGLE(x1, y1, x2, y2, false, true, status);
    };
    switch (i + 1) {
      case 1:  // to the end: the triangle, then the bar it stops at
        triangle(ca + s / 2.0f);
        bar(ca - s);
        break;
      case 6:
        triangle(ca - s / 2.0f);
        bar(ca + s);
        break;
      case 2:
      case 5:
        triangle(ca - s / 2.0f);
        triangle(ca + s / 2.0f);
        break;
      default:
        triangle(ca);
    }
  }
}

void GS_CAL_SCROLLBAR(float x, float y, bool& in_bar, int& part, Status& status) {
  if (st_bad(status, "Subroutine GS_CAL_SCROLLBAR V0.1")) return;
  const GsDrawnScrollbar& record = gs_drawn_scrollbar;
  in_bar = record.num_parts > 0 && inside(record.region, x, y);
  part = 0;
  if (!in_bar) return;
  for (int i = 0; i < record.num_parts; ++i)
    if (inside(record.parts[i], x, y)) {
      part = i + 1;
      return;
    }
}

void GS_INP_SCROLLBAR(int mode, int& input_type, int& part, float& x, float& y, Status& status) {
  if (st_bad(status, "Subroutine GS_INP_SCROLLBAR V0.2")) return;
  while (status == kStatusGood) {
    int type = kInputNothing - 10;
    float wx = 0.0f, wy = 0.0f;
    QG_INP_COORDINATE(1, mode != 0 ? 1 : 0, type, wx, wy, status);
    if (status != kStatusGood) return;
    if (type == kInputButton) {
      const float px = qg_click_pc(true, wx, status);
      const float py = qg_click_pc(false, wy, status);
      bool in_bar = false;
      GS_CAL_SCROLLBAR(px, py, in_bar, part, status);
      if (part > 0 || mode == 2) {
        input_type = part > 0 ? kGsScrollPart : kGsChoicePoint;
        x = px;
        y = py;
        return;
      }
    } else if (type == kInputRedraw && mode > 0) {
      part = 0;
      input_type = kGsChoiceRedraw;
      return;
    } else if (type == kInputNothing - 10) {
      input_type = kGsChoiceNone;
      status = kStatusEscape;
      return;
    }
  }
}

// ---- Message box ----

void GS_DRAW_MESSAGE(int max, int num, TextLines text, int first, float xmin, float ymin,
                     float xmax, float ymax, GsMessageBoxes& boxes, Status& status) {
  constexpr std::string_view position = "Subroutine GS_DRAW_MESSAGE V0.7";
  if (st_bad(status, position)) return;
  if (max < 1 && refuse(status, 1, position)) return;
  if (counts_bad(max, num, text.view()) && refuse(status, 5, position)) return;
  const float w = xmax - xmin;
  const float h = ymax - ymin;
  const float mx = w / 100.0f, my = h / 100.0f;
  const float bw = std::max(w / 8.0f, 0.07f);
  const float bh = std::max(h / 20.0f, 0.025f);
  const float g = std::min(w / 100.0f, h / 100.0f);
  const float sw = std::max(w / 20.0f, 0.025f);
  GsRect& tb = boxes.text;
  tb = {xmin + mx, ymin + my + g + bh, xmax - mx - sw - g, ymax - my};
  const float tw = tb.xmax - tb.xmin;
  const float th = tb.ymax - tb.ymin;

  const GsMessageStyle& style = gs_state.message_style;
  float height = style.height;
  float pitch = style.height * style.line_spacing;
  if (style.automatic_size) {
    const float f = style.font == 2 ? gs_size_factor({1.5f, 1.4f, 1.4f, 1.4f})
                                    : gs_size_factor({2.6f, 2.4f, 1.9f, 1.85f});
    height = std::min(tw * f / static_cast<float>(std::max(longest(num, text.view()) + 2, 3)), th / 3.0f);
    pitch = 1.2f * height;
  }

  const GsTransform saved = gs_unit_on(status);
  if (style.automatic_size) {
    height = fitting_height(num, text.view(), tw, height, style.font, status);
    pitch = 1.2f * height;
  }
  GS_LINESTYLE(1, 2.0f, style.frame_line, status);
  GS_FILLSTYLE(1, style.frame_fill, status);
  GS_RECTANGLE(xmin, ymin, xmax, ymax, true, true, status);
  GS_FILLSTYLE(1, style.text_background, status);
  GS_RECTANGLE(tb.xmin - mx / 2.0f, tb.ymin - my / 2.0f, tb.xmax + mx / 2.0f, tb.ymax + my / 2.0f,
               true, true, status);
  boxes.shown = pitch > 0.0f ? static_cast<int>(th / pitch) : 0;
  if (num > 0 && status == kStatusGood) {
    QG_CLIPWINDOW(tb.xmin, tb.ymin, tb.xmax, tb.ymax, status);
    QG_CLIP(true, status);
    GS_TEXTSTYLE(style.font, style.text_colour, height, style.width, style.spacing, 0, 1, 1, 0.0f,
                 1.0f, status);
    const int last = std::min(first + boxes.shown, num);
    for (int k = std::max(first, 1); k <= last && status == kStatusGood; ++k) {
      const std::string_view line = used_part(text[k - 1]);
      if (!line.empty())
        QG_TEXT(tb.xmin, tb.ymax - static_cast<float>(k - first) * pitch, line, status);
    }
    QG_CLIP(false, status);
  }
  boxes.ok = {xmax - bw - g, ymin + g, xmax - g, ymin + g + bh};
  boxes.save = {boxes.ok.xmin - g - bw, ymin + g, boxes.ok.xmin - g, ymin + g + bh};
  GS_PROMPT(true, 1, 1, {"O.K."}, boxes.ok.xmin, boxes.ok.ymin, boxes.ok.xmax, boxes.ok.ymax,
            status);
  GS_PROMPT(true, 1, 1, {"SAVE"}, boxes.save.xmin, boxes.save.ymin, boxes.save.xmax,
            boxes.save.ymax, status);
  if (num > boxes.shown)
    GS_SCROLLBAR(tb.xmax + mx, tb.ymin, xmax - g, tb.ymax, true, status);
  gs_restore_transform(saved, status);
}

namespace {

// The first line shown after a click on scroll-bar PART.
int scrolled(int part, int first, int shown, int num) {
  const int last_first = std::max(num - shown + 1, 1);
  switch (part) {
    case 1: return last_first;
    case 2: return std::min(first + shown - 2, last_first);
    case 3: return std::min(first + 1, last_first);
    case 4: return std::max(first - 1, 1);
    case 5: return std::max(first - shown + 2, 1);
    case 6: return 1;
    default: return first;
  }
}

// Asks for a file name and writes all NUM lines into it (through a temporary
// file). A failed write is reported and the box stays.
void save_lines(int num, std::span<const std::string> text, Status& status) {
  std::string name = save_name;
  if (gs_typed_answers())
    io_input_file_name(true, "TEXT FILE NAME", {"Enter name of file to contain text"},
                       {"Enter valid file name"}, 1, name, status);
  else
    GS_INPC(true, "TEXT FILE NAME", {"Enter name of file to contain text"},
            {"Enter valid file name"}, 1, name, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood || SLEN(name) == 0) return;
  save_name = name;
  AtomicFile out(std::string(used_part(name)));
  for (int k = 0; k < num && out.ok(); ++k) out.write_line(used_part(text[k]));
  if (!out.ok() || !out.commit())
    IO_WRITE("WARNING: Error in writing file " + std::string(used_part(name)) + ": " + out.error(),
             status);
}

}  // namespace

void GS_MESSAGE(int max, int num, TextLines text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MESSAGE V0.7";
  if (st_bad(status, position)) return;
  if (max <= 0 && refuse(status, 1, position)) return;
  if (counts_bad(max, num, text.view()) && refuse(status, 5, position)) return;
  if (vosq_io_dbdb.log_open) {
    IO_WRITE_FILE(kStreamLog,
                  "(NOTE: Graphical user interface controlled text output of the following text)",
                  status);
    for (int k = 0; k < num; ++k) IO_WRITE_FILE(kStreamLog, used_part(text[k]), status);
    IO_WRITE_FILE(kStreamLog, "(NOTE: End of GUI controlled text output)", status);
  }
  const GsRect& region = gs_state.message;
  int first = 1;
  GsMessageBoxes boxes;
  auto draw = [&] {
    GS_DRAW_MESSAGE(max, num, text.view(), first, region.xmin, region.ymin, region.xmax, region.ymax,
                    boxes, status);
  };
  draw();
  // A macro that ends at the box leaves it in the window for the user's
  // click, as it leaves a menu; should the window go while it waits there,
  // the box is asked at the terminal.
  bool left_by_macro = false;
  bool typed = gs_typed_answers();
  while (status == kStatusGood) {
    if (typed) {
      // The whole box reaches the window before the terminal waits.
      GS_UPDATE(status);
      // Without a window the lines are shown at the terminal.
      if (qg_x11_driver() == nullptr && !vosq_io_dbdb.input_macro)
        for (int k = 0; k < num; ++k) IO_WRITE(used_part(text[k]), status);
      GsMacroEndToWindow to_window("ENTER COMMAND: O.K. OR SAVE");
      // The prompt names the two answers; an empty line is O.K.
      static const std::string kHelp[] = {
          "Enter O.K. to go on, or SAVE to write the text to a file"};
      while (status == kStatusGood) {
        std::string answer = "O.K.";
        IO_INPC(true, "ENTER COMMAND: O.K. OR SAVE", kHelp, kHelp, 2, answer, status);
        if (io_ask_again(status)) continue;
        if (status != kStatusGood) break;
        const std::string answered = IO_UPPER(used_part(answer));
        if (answered == "O.K." || answered == "OK") break;
        if (answered == "SAVE")
          save_lines(num, text.view(), status);
        else
          IO_WRITE("WARNING: Enter O.K. or SAVE", status);
      }
      if (!to_window.ended(status)) break;
      left_by_macro = true;
      typed = false;
      draw();
      GS_UPDATE(status);
      continue;
    }
    (void)gs_unit_on(status);
    while (status == kStatusGood) {
      int type = 0, part = 0;
      float x = 0.0f, y = 0.0f;
      GS_INP_SCROLLBAR(2, type, part, x, y, status);
      if (status != kStatusGood) break;
      if (type == kGsScrollPart && num > boxes.shown) {
        first = scrolled(part, first, boxes.shown, num);
      } else if (type == kGsChoicePoint && inside(boxes.ok, x, y)) {
        gs_record_answer("", "O.K.", status);
        break;
      } else if (type == kGsChoicePoint && inside(boxes.save, x, y)) {
        gs_record_answer("", "SAVE", status);
        save_lines(num, text.view(), status);
      }
      draw();
    }
    if (!left_by_macro || status != kStatusEscape || qg_x11_driver() != nullptr) break;
    st_reset(status);
    typed = true;
  }
  gs_restore_graph_transform(status);
}

void gs_fixed_width_message(TextLines text, Status& status) {
  if (st_bad(status, "Subroutine GS_FIXED_WIDTH_MESSAGE V0.1")) return;
  GsMessageStyle saved;
  GS_INQ_MESSAGESTYLE(saved, status);
  GsMessageStyle fixed = saved;
  fixed.font = 2;
  GS_SET_MESSAGESTYLE(fixed, status);
  const int num = static_cast<int>(text.size());
  GS_MESSAGE(std::max(num, 1), num, text.view(), status);
  Status local = kStatusGood;
  GS_SET_MESSAGESTYLE(saved, local);
}

// ---- Warning box ----

namespace {

// The lines of TEXT broken at spaces into lines of at most CHARS characters
// (a word longer than that is cut).
std::vector<std::string> broken_at_spaces(std::span<const std::string> text, std::size_t chars) {
  std::vector<std::string> out;
  for (const std::string& full : text) {
    std::string_view rest = used_part(full);
    if (rest.size() <= chars) {
      out.emplace_back(rest);
      continue;
    }
    while (!rest.empty()) {
      std::size_t n = std::min(chars, rest.size());
      if (n < rest.size()) {
        const std::size_t space = rest.substr(0, n + 1).rfind(' ');
        if (space != std::string_view::npos && space > 0) n = space;
      }
      out.emplace_back(rest.substr(0, n));
      rest.remove_prefix(n);
      while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    }
  }
  return out;
}

// Where a warning box of NUM lines puts its text and its O.K. button.
struct WarningLayout {
  float pitch = 0.0f;
  GsRect area, ok;
};

WarningLayout warning_layout(float xmin, float ymin, float xmax, float ymax, int num) {
  const float w = xmax - xmin;
  const float h = ymax - ymin;
  const float mx = w / 50.0f, my = h / 30.0f;
  const float lines = static_cast<float>(num + 1);
  WarningLayout l;
  if (w / h <= 3.0f) {
    l.pitch = 0.9f * (h - my) / lines;
    l.area = {xmin + mx, ymin + my + h / 10.0f, xmax - mx, ymax - my - l.pitch};
    l.ok = {l.area.xmax - w / 6.0f, ymin + my, xmax - mx, ymin + h / 10.0f};
  } else {
    // A wide strip: the button at the right beside the text. Half a line
    // is kept free under the text, so a box full of lines does not set its
    // last line on the thick frame.
    l.pitch = (h - my) / (lines + 0.5f);
    l.area = {xmin + mx, ymin + my + l.pitch / 2.0f, xmax - mx - w / 8.0f, ymax - my - l.pitch};
    l.ok = {l.area.xmax + mx, ymin + my, xmax - mx,
            ymin + my + std::min(l.area.ymax - l.area.ymin, w / 12.0f)};
  }
  return l;
}

}  // namespace

void GS_DRAW_WARNING(int /*flag*/, float xmin, float ymin, float xmax, float ymax, int max,
                     int num, TextLines text, GsRect& ok, Status& status) {
  constexpr std::string_view position = "Subroutine GS_DRAW_WARNING V0.1";
  if (st_bad(status, position)) return;
  if (max < 1 && refuse(status, 1, position)) return;
  if (counts_bad(max, num, text.view()) && refuse(status, 5, position)) return;
  const GsTransform saved = gs_unit_on(status);
  std::vector<std::string> lines(text.view().begin(), text.view().begin() + num);
  WarningLayout l = warning_layout(xmin, ymin, xmax, ymax, num);
  // A line too long for the smallest font the window has would run over the
  // frame: such lines are broken at spaces, as often as the window's font
  // needs (without a window nothing is measured and the lines stay).
  for (int pass = 0; pass < 3 && !lines.empty() && status == kStatusGood; ++pass) {
    const int n = static_cast<int>(lines.size());
    const float width = l.area.xmax - l.area.xmin;
    const auto longest_chars = static_cast<std::size_t>(longest(n, lines));
    const float factor = gs_size_factor({1.7f, 1.6f, 1.4f, 1.2f});
    const float start = std::min(0.8f * (l.area.ymax - l.area.ymin) / static_cast<float>(n),
                                 factor * width / static_cast<float>(std::max<std::size_t>(longest_chars + 2, 3)));
    (void)fitting_height(n, lines, width, start, 1, status);
    float widest = 0.0f;
    for (const std::string& line : lines) {
      float lw = 0.0f;
      QG_INQ_TEXTWIDTH(SLEN(line), line, lw, status);
      widest = std::max(widest, lw);
    }
    if (!(widest > width) || longest_chars < 2) break;
    const auto chars = std::max<std::size_t>(
        1, static_cast<std::size_t>(static_cast<float>(longest_chars) * 0.97f * width / widest));
    lines = broken_at_spaces(lines, chars);
    l = warning_layout(xmin, ymin, xmax, ymax, static_cast<int>(lines.size()));
  }
  ok = l.ok;
  const int drawn = static_cast<int>(lines.size());
  GS_LINESTYLE(1, 4.0f, kGsYellow, status);
  GS_FILLSTYLE(1, kGsRed, status);
  GS_RECTANGLE(xmin, ymin, xmax, ymax, true, true, status);
  GS_TEXTSTYLE(1, kGsWhite, 0.8f * l.pitch, 1.0f, 0.0f, 0, 2, 3, 0.0f, 1.0f, status);
  if (status == kStatusGood) QG_TEXT((xmin + xmax) / 2.0f, ymax - l.pitch / 2.0f, "!!! WARNING !!!", status);
  GS_PROMPT(false, std::max(drawn, 1), drawn, lines, l.area.xmin, l.area.ymin, l.area.xmax, l.area.ymax,
            status);
  GS_PROMPT(true, 1, 1, {"O.K."}, ok.xmin, ok.ymin, ok.xmax, ok.ymax, status);
  gs_restore_transform(saved, status);
}

namespace {

// A warning box drawn while a macro replayed waited for nothing. When the
// macro ends at the menu after it, nothing else is to be answered there: the
// box was the last thing the macro left, and is the user's to read.
struct BoxLeftByMacro {
  bool shown = false;
  int flag = 0;
  GsRect area;
  std::vector<std::string> text;
  unsigned long responses = 0;  // the answers read when it was drawn
};
BoxLeftByMacro box_left_by_macro;
// The warning drawn is a refusal whose line the terminal has had already.
bool refusal_said = false;

// Waits for a click on the O.K. of a drawn warning box (redrawing it when the
// window asks); true when it was drawn again.
bool wait_for_ok(int flag, const GsRect& area, int max, std::span<const std::string> text,
                 GsRect& ok, Status& status) {
  bool redrawn = false;
  (void)gs_unit_on(status);
  while (status == kStatusGood) {
    int type = kInputNothing - 10;
    float x = 0.0f, y = 0.0f;
    QG_INP_COORDINATE(1, 1, type, x, y, status);
    if (type == kInputButton) {
      if (ok.xmin < x && x < ok.xmax && ok.ymin < y && y < ok.ymax) break;
    } else if (type == kInputRedraw) {
      GS_DRAW_WARNING(flag, area.xmin, area.ymin, area.xmax, area.ymax, max,
                      static_cast<int>(text.size()), text, ok, status);
      redrawn = true;
    } else if (type == kInputNothing - 10) {
      status = kStatusEscape;
    }
  }
  return redrawn;
}

// No window to draw a warning box in (no graphics open, or the window gone),
// typed or replayed: its text is written at the terminal, each line saying
// it is a warning (unless a refusal has said it there already), and nothing
// waits. A line ending in a colon ends its sentence with the next (a file
// name under "FAILED TO FIND NEW \"SEQUENCE\" FILE:"): they make one line.
void warning_at_terminal(std::span<const std::string> text, Status& status) {
  if (refusal_said) return;
  std::string line;
  for (const std::string& part : text) {
    const std::string_view used = used_part(part);
    if (!line.empty()) line.push_back(' ');
    line += used;
    if (used.ends_with(':')) continue;
    IO_WRITE(line.starts_with("WARNING") ? line : "WARNING: " + line, status);
    line.clear();
  }
  if (!line.empty()) IO_WRITE(line.starts_with("WARNING") ? line : "WARNING: " + line, status);
}

void redraw_requested(bool redrawn) {
  if (!redrawn) return;
  Status local = kStatusGood;
  QG_SET_UPDATE(1, local);
}

}  // namespace

void gs_warning_left_by_macro() {
  const BoxLeftByMacro box = std::move(box_left_by_macro);
  box_left_by_macro = BoxLeftByMacro{};
  // Not when an answer was read after it, nor while automatic input goes on
  // (nobody may be waited for), nor without a window to click in.
  if (!box.shown || box.responses != io_response_count() || vosq_io_dbdb.input_macro ||
      vosq_io_dbdb.file_sequence || qg_x11_driver() == nullptr)
    return;
  // A wait the window cannot answer any more leaves the box: the menu that
  // follows deals with it.
  Status local = kStatusGood;
  const int num = static_cast<int>(box.text.size());
  GsRect ok;
  GS_DRAW_WARNING(box.flag, box.area.xmin, box.area.ymin, box.area.xmax, box.area.ymax,
                  std::max(num, 1), num, box.text, ok, local);
  GS_UPDATE(local);
  const bool redrawn = wait_for_ok(box.flag, box.area, std::max(num, 1), box.text, ok, local);
  local = kStatusGood;
  gs_restore_graph_transform(local);
  redraw_requested(redrawn);
}

void gs_warning_covered() { box_left_by_macro = BoxLeftByMacro{}; }

void GS_WARNING(int flag, float xmin, float ymin, float xmax, float ymax, int max, int num,
                TextLines text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_WARNING V0.5";
  if (st_bad(status, position)) return;
  if (max <= 0 && refuse(status, 1, position)) return;
  if (counts_bad(max, num, text.view()) && refuse(status, 5, position)) return;
  if (xmax <= xmin && refuse(status, 13, position)) return;
  if (ymax <= ymin && refuse(status, 14, position)) return;
  if (vosq_io_dbdb.log_open) {
    IO_WRITE_FILE(kStreamLog, " ", status);
    IO_WRITE_FILE(kStreamLog, "WARNING: GUI WARNING MESSAGE", status);
    for (int k = 0; k < num; ++k) IO_WRITE_FILE(kStreamLog, used_part(text[k]), status);
    IO_WRITE_FILE(kStreamLog, "WARNING: END OF GUI WARNING MESSAGE", status);
    IO_WRITE_FILE(kStreamLog, " ", status);
  }
  box_left_by_macro = BoxLeftByMacro{};
  if (gs_warnings_on_terminal()) {
    warning_at_terminal(text.view().first(static_cast<std::size_t>(num)), status);
    return;
  }
  GsRect ok;
  GS_DRAW_WARNING(flag, xmin, ymin, xmax, ymax, max, num, text.view(), ok, status);
  GS_UPDATE(status);
  bool redrawn = false;
  if (vosq_io_dbdb.input_macro) {
    // A replayed session does not stop here: the macro holds no answer.
    const std::span<const std::string> lines = text.view();
    box_left_by_macro = {true, flag, GsRect{xmin, ymin, xmax, ymax},
                         std::vector<std::string>(lines.begin(), lines.begin() + num),
                         io_response_count()};
  } else {
    redrawn = wait_for_ok(flag, GsRect{xmin, ymin, xmax, ymax}, max,
                          text.view().first(static_cast<std::size_t>(num)), ok, status);
  }
  gs_restore_graph_transform(status);
  redraw_requested(redrawn);
}

bool gs_warnings_on_terminal() { return qg_x11_driver() == nullptr; }

void gs_refusal(TextLines text, Status& status) {
  if (st_bad(status, "Subroutine GS_FWARNING V0.1")) return;
  // The box's lines are one sentence broken for the box: one line here.
  std::string line;
  for (const std::string& part : text) {
    std::string_view t = used_text(part);
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    if (t.empty()) continue;
    if (!line.empty()) line.push_back(' ');
    line += t;
  }
  IO_WRITE(line.starts_with("WARNING") ? line : "WARNING: " + line, status);
  const int num = static_cast<int>(text.size());
  refusal_said = true;
  GS_FWARNING(std::max(num, 1), num, text.view(), status);
  refusal_said = false;
}

void gs_command_refused(TextLines text, Status& status) {
  gs_refusal(text.view(), status);
  io_end_automatic_input(
      "WARNING: A command was refused during a macro. Macro automatically terminated.",
      "WARNING: A command was refused during a sequence. Sequence terminated.");
}

void GS_FWARNING(int max, int num, TextLines text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_FWARNING V0.1";
  if (st_bad(status, position)) return;
  if (max < 1 && refuse(status, 1, position)) return;
  if (counts_bad(max, num, text.view()) && refuse(status, 5, position)) return;
  const GsRect& gui = gs_state.gui_region;
  GS_WARNING(0, gui.xmin, gui.ymin, gui.xmax, gui.ymax, max, num, text.view(), status);
}

}  // namespace kesta
