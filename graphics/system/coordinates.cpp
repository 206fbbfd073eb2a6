// Positions from the user: clicked points on the displayed data, one page
// position, a pause for any input, the zoom by two corners and the un-zoom,
// the displayed region typed in data units, the click read-out and the
// interactive x/y graph.

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/format.hpp"
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

// One axis of snapped_into: the click at page P and data W, the region's
// edges at page A and B with data DA and DB. A click within 2 % of the
// region's extent outside an edge is moved onto it.
bool snapped_axis(float p, float a, float b, float da, float db, float& w) {
  if (b < a) {
    std::swap(a, b);
    std::swap(da, db);
  }
  const double near = 0.02 * (double{b} - a);
  if (p < a) {
    if (double{a} - p > near) return false;
    w = da;
  } else if (p > b) {
    if (double{p} - b > near) return false;
    w = db;
  }
  return true;
}

// Snaps a click (WX, WY as the wait gave them) near the data display region
// D onto its edge; true when the click then lies within D. Judged on the
// page: a click beyond a data window at the float range has its data
// coordinate stopped at the range, on the region's edge.
bool snapped_into(const GsRect& d, float& wx, float& wy, Status& status) {
  const float px = qg_click_pc(true, wx, status), py = qg_click_pc(false, wy, status);
  float sx = wx, sy = wy;
  const bool in = snapped_axis(px, QG_WC2PC(true, d.xmin, status), QG_WC2PC(true, d.xmax, status),
                               d.xmin, d.xmax, sx) &&
                  snapped_axis(py, QG_WC2PC(false, d.ymin, status),
                               QG_WC2PC(false, d.ymax, status), d.ymin, d.ymax, sy);
  if (!in || status != kStatusGood) return false;
  wx = sx;
  wy = sy;
  return true;
}

// The argument checks of the routines that input up to MAX points (NUM of
// them asked for, or any number when NUM < 1) into X and Y; true when refused.
bool points_refused(std::string_view position, float xmin, float ymin, float xmax, float ymax,
                    int num_info, int max, int num, std::span<float> x, std::span<float> y,
                    Status& status) {
  if (xmin >= xmax && refuse(status, 13, position)) return true;
  if (ymin >= ymax && refuse(status, 14, position)) return true;
  if (num_info < 1 && refuse(status, 17, position)) return true;
  return (num > max || static_cast<std::size_t>(std::max(max, 0)) > std::min(x.size(), y.size())) &&
         refuse(status, 5, position);
}

// The two prompt lines of those routines: PROMPT and how to finish.
std::vector<std::string> points_prompt(std::string_view prompt, bool any, int wanted) {
  return {std::string(prompt), any ? std::string("(Click here to finish)")
                                   : "(Enter " + format_i(wanted, 4) + " coordinates)"};
}

// Stores the clicked point (WX, WY) as point GIVEN (then counted), reports
// it and marks it; with JOIN the line from the point before is drawn. The
// rubber band follows from it (a box when two points are WANTED).
void add_point(float wx, float wy, bool join, int wanted, int& given, std::span<float> x,
               std::span<float> y, Status& status) {
  x[given] = wx;
  y[given] = wy;
  ++given;
  IO_WRITE("INFO: Graphical coordinate = " + format_g(wx, 14, 7) + format_g(wy, 14, 7), status);
  QG_SET_RUBBERBAND(1, join ? 1 : (wanted == 2 ? 2 : 0), wx, wy, status);
  if (join && given > 1) {
    GS_LINESTYLE(1, 0.5f, kGsRed, status);
    GS_LINE(x[given - 2], y[given - 2], wx, wy, status);
  }
  GS_MARK(wx, wy, 1.0f, status);
  GS_UPDATE(status);
}

// The points as typed answers (while a macro replays). The count is asked
// within 0..MAX: a damaged macro cannot write past the point arrays.
void typed_points(int max, int& num, std::span<float> x, std::span<float> y, Status& status) {
  GS_UPDATE(status);
  int count = std::clamp(num, 0, max);
  // An assignment among the answers is asked again.
  do {
    IO_INPI(true, 0, max, true, "NUMBER OF COORDINATES (GRAPHICAL INPUT)",
            {"NUMBER COORDINATES (GRAPHICAL INPUT)"}, {"Enter valid integer value"}, count, status);
  } while (io_ask_again(status));
  for (int k = 0; k < count && status == kStatusGood; ++k) {
    do {
      IO_INPR(false, 0.0f, 0.0f, false, "X-COORDINATE (GRAPHICAL INPUT)",
              {"X-coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, x[k], status);
    } while (io_ask_again(status));
    do {
      IO_INPR(false, 0.0f, 0.0f, false, "Y-COORDINATE (GRAPHICAL INPUT)",
              {"Y-coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, y[k], status);
    } while (io_ask_again(status));
  }
  if (status == kStatusGood) num = count;
}

// The points given in the window into the output macro: the count, then
// each value on its own line.
void record_points(int num, std::span<const float> x, std::span<const float> y, Status& status) {
  if (!vosq_io_dbdb.output_macro) return;
  io_outmacro_record(format_i(num, 12), status);
  for (int k = 0; k < num; ++k) {
    io_outmacro_record(format_e(x[k], 14, 7, 1), status);
    io_outmacro_record(format_e(y[k], 14, 7, 1), status);
  }
}

}  // namespace

void GS_XYCLICK(float x, float y, Status& status) {
  if (st_bad(status, "Subroutine GS_XYCLICK V0.1")) return;
  const float top = gs_state.message.ymax;
  (void)gs_unit_on(status);
  GS_FILLSTYLE(1, kGsWhite, status);
  GS_RECTANGLE(0.0f, top - 0.05f, 0.12f, top, false, true, status);
  GS_TEXTSTYLE(1, kGsBlue, 0.018f, 1.0f, 0.0f, 0, 1, 3, 0.0f, 1.0f, status);
  if (status == kStatusGood) {
    QG_TEXT(0.0f, top - 0.02f, " X = " + IO_RTOC(x), status);
    QG_TEXT(0.0f, top - 0.04f, " Y = " + IO_RTOC(y), status);
  }
  GS_UPDATE(status);
  gs_restore_graph_transform(status);
}

void GS_INP_COORDINATES(float xmin, float ymin, float xmax, float ymax, std::string_view prompt,
                        int num_info, TextLines /*info*/, bool join, int max, int& num,
                        std::span<float> x, std::span<float> y, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INP_COORDINATES V0.9";
  if (st_bad(status, position)) return;
  if (points_refused(position, xmin, ymin, xmax, ymax, num_info, max, num, x, y, status)) return;

  if (gs_typed_answers()) {
    gs_question_on_terminal({{std::string(prompt)}}, status);
    // A macro that ends at the points leaves them to be clicked.
    GsMacroEndToWindow to_window(prompt);
    typed_points(max, num, x, y, status);
    if (!to_window.ended(status)) return;
  }

  const bool any = num < 1;
  const int wanted = any ? max : num;
  const std::vector<std::string> lines = points_prompt(prompt, any, wanted);
  auto draw_prompt = [&] { GS_PROMPT(any, 2, 2, lines, xmin, ymin, xmax, ymax, status); };
  draw_prompt();
  const GsRect& d = gs_state.dddr;
  int given = 0;
  while (given < wanted && status == kStatusGood) {
    int type = kInputNothing - 10;
    float wx = 0.0f, wy = 0.0f;
    QG_INP_COORDINATE(1, 1, type, wx, wy, status);
    if (status != kStatusGood) break;
    if (type == kInputNothing - 10) {
      status = kStatusEscape;
      break;
    }
    if (type == kInputRedraw) {
      draw_prompt();
      continue;
    }
    if (type != kInputButton) continue;
    if (!snapped_into(d, wx, wy, status)) {
      const float px = qg_click_pc(true, wx, status);
      const float py = qg_click_pc(false, wy, status);
      if (xmin <= px && px <= xmax && ymin <= py && py <= ymax) break;
      continue;
    }
    add_point(wx, wy, join, wanted, given, x, y, status);
  }
  Status local = kStatusGood;
  QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, local);
  if (status != kStatusGood) return;
  num = given;
  record_points(given, x, y, status);
  if (vosq_io_dbdb.log_open)
    for (int k = 0; k < given; ++k)
      IO_WRITE_FILE(kStreamLog,
                    "GRAPHICAL INPUT:" + format_e(x[k], 14, 7, 1) + format_e(y[k], 14, 7, 1),
                    status);
}

void GS_INP_PC(float xmin, float ymin, float xmax, float ymax, std::string_view prompt,
               int num_info, TextLines /*info*/, float& x, float& y, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INP_PC V0.3";
  if (st_bad(status, position)) return;
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymin >= ymax && refuse(status, 14, position)) return;
  if (num_info < 1 && refuse(status, 17, position)) return;
  if (gs_typed_answers()) {
    gs_question_on_terminal({{std::string(prompt)}}, status);
    GsMacroEndToWindow to_window(prompt);
    do {
      IO_INPR(false, 0.0f, 0.0f, false, "X-PAGE COORDINATE (GRAPHICAL INPUT)",
              {"X-page coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, x, status);
    } while (io_ask_again(status));
    do {
      IO_INPR(false, 0.0f, 0.0f, false, "Y-PAGE COORDINATE (GRAPHICAL INPUT)",
              {"Y-page coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, y, status);
    } while (io_ask_again(status));
    if (!to_window.ended(status)) return;
  }
  const std::vector<std::string> lines{std::string(prompt)};
  GS_PROMPT(false, 1, 1, lines, xmin, ymin, xmax, ymax, status);
  while (status == kStatusGood) {
    int type = kInputNothing - 10;
    float wx = 0.0f, wy = 0.0f;
    QG_INP_COORDINATE(1, 1, type, wx, wy, status);
    if (type == kInputNothing - 10) {
      status = kStatusEscape;
      return;
    }
    if (type == kInputRedraw) {
      GS_PROMPT(false, 1, 1, lines, xmin, ymin, xmax, ymax, status);
      continue;
    }
    if (type != kInputButton) continue;
    GS_MARK(wx, wy, 1.0f, status);
    GS_UPDATE(status);
    x = qg_click_pc(true, wx, status);
    y = qg_click_pc(false, wy, status);
    gs_record_answer("", format_e(x, 14, 7, 1), status);
    gs_record_answer("", format_e(y, 14, 7, 1), status);
    if (vosq_io_dbdb.log_open)
      IO_WRITE_FILE(kStreamLog, "GRAPHICAL INPUT:" + format_e(x, 14, 7, 1) + format_e(y, 14, 7, 1),
                    status);
    return;
  }
}

void GS_CONTINUE(int max, int num, TextLines text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_CONTINUE V0.2";
  if (st_bad(status, position)) return;
  if (max < 1 && refuse(status, 1, position)) return;
  if ((num < 0 || num > max || static_cast<std::size_t>(num) > text.size()) &&
      refuse(status, 5, position))
    return;
  const GsRect& g = gs_state.gui_region;
  GS_PROMPT(true, max, num, text.view(), g.xmin, g.ymin, g.xmax, g.ymax, status);
  GS_UPDATE(status);
  if (gs_typed_answers() || status != kStatusGood) return;
  int type = 0, workstation = 0;
  float x = 0.0f, y = 0.0f;
  std::string line;
  QG_INP_EVENT(1, 1, false, "", false, 0.0f, 0.0f, 1.0f, 1.0f, type, workstation, line, x, y,
               status);
}

void GS_INP_XYREGION(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_XYREGION V0.4")) return;
  std::array<float, 2> x{}, y{};
  int num = 2;
  const GsRect& g = gs_state.gui_region;
  GS_INP_COORDINATES(g.xmin, g.ymin, g.xmax, g.ymax, "CLICK ON OPPOSITE CORNERS OF NEW REGION", 1,
                     {"Click on 2 X/Y coordinates, to define new region"}, false, 2, num, x, y,
                     status);
  if (status != kStatusGood || num < 2) return;
  auto order = [](float a, float b, float& low, float& high) {
    low = std::min(a, b);
    high = std::max(a, b);
    if (low == high) {
      if (low <= 0.0f) {
        low = 1.01f * a;
        high = 0.99f * a;
      } else {
        low = 0.99f * a;
        high = 1.01f * a;
      }
      if (low == high) {
        low -= 0.01f;
        high += 0.01f;
      }
    }
  };
  float x1, x2, y1, y2;
  order(x[0], x[1], x1, x2);
  order(y[0], y[1], y1, y2);
  bool x_linear = true, y_linear = true;
  GS_INQ_DATALOGLIN(x_linear, y_linear, status);
  if (!x_linear) {
    x1 = std::pow(10.0f, x1);
    x2 = std::pow(10.0f, x2);
  }
  if (!y_linear) {
    y1 = std::pow(10.0f, std::max(y1, -31.0f));
    y2 = std::pow(10.0f, std::max(y2, -29.0f));
  }
  GS_SET_AUTODDR(false, false, false, false, status);
  GS_SET_DDR(x1, y1, x2, y2, status);
}

void GS_INP_UNZOOM(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat, Index& xstrelm,
                   Index& ystrelm, Index& xendelm, Index& yendelm, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INP_UNZOOM V0.3";
  if (st_bad(status, position)) return;
  auto fail = [&](Status code) {
    st_fail(status, 110000 + code, position);
    return true;
  };
  if (xmaxdat < 1 && fail(1)) return;
  if (ymaxdat < 1 && fail(2)) return;
  if ((xendelm > xmaxdat || xendelm < xstrelm) && fail(5)) return;
  if ((yendelm > ymaxdat || yendelm < ystrelm) && fail(6)) return;
  const GsAutoRange& a = gs_state.auto_range;
  if ((xstrelm == xendelm || ystrelm == yendelm) && !(a.xmin && a.ymin && a.ymax)) {
    GS_SET_AUTODDR(true, true, true, true, status);
    return;
  }
  // Widened by half the width each side, at least 50 pixels, within the
  // defined data.
  const Index xlimit = std::clamp<Index>(xnumdat, 1, xmaxdat);
  const Index ylimit = std::clamp<Index>(ynumdat, 1, ymaxdat);
  const Index hx = std::max<Index>(50, (xendelm - xstrelm + 1) / 2);
  const Index hy = std::max<Index>(50, (yendelm - ystrelm + 1) / 2);
  xstrelm = std::max<Index>(1, xstrelm - hx);
  xendelm = std::min(xlimit, xendelm + hx);
  ystrelm = std::max<Index>(1, ystrelm - hy);
  yendelm = std::min(ylimit, yendelm + hy);
}

void GS_INP_2DREGION(Index xmaxdat, Index xnumdat, std::span<const float> xaxis, Index ymaxdat,
                     Index ynumdat, std::span<const float> yaxis, Index& xstrelm, Index& ystrelm,
                     Index& xendelm, Index& yendelm, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INP_2DREGION V0.2";
  if (st_bad(status, position)) return;
  if ((xnumdat < 1 || xnumdat > xmaxdat || static_cast<Index>(xaxis.size()) < xnumdat ||
       ynumdat < 1 || ynumdat > ymaxdat || static_cast<Index>(yaxis.size()) < ynumdat) &&
      refuse(status, 5, position))
    return;
  // The outer edges of the first and last pixels, and the values of the
  // region's ends, each pair lower first: an axis that runs downwards (a
  // d-spacing scan) starts at its highest value.
  auto limits = [](std::span<const float> axis, Index n, float& low, float& high) {
    if (n == 1) {
      low = high = axis[0];
      return;
    }
    low = axis[0] - 0.5f * (axis[1] - axis[0]);
    high = axis[n - 1] + 0.5f * (axis[n - 1] - axis[n - 2]);
    if (high < low) std::swap(low, high);
  };
  float xl, xh, yl, yh;
  limits(xaxis, xnumdat, xl, xh);
  limits(yaxis, ynumdat, yl, yh);
  auto at = [](std::span<const float> axis, Index n, Index i) {
    return axis[static_cast<std::size_t>(std::clamp<Index>(i, 1, n) - 1)];
  };
  float x1 = at(xaxis, xnumdat, xstrelm), y1 = at(yaxis, ynumdat, ystrelm);
  float x2 = at(xaxis, xnumdat, xendelm), y2 = at(yaxis, ynumdat, yendelm);
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  IO_INPR(true, xl, xh, true, "X-MINIMUM VALUE", {"Enter minimum X-value for displayed region"},
          {"Enter minimum X-value for displayed region"}, x1, status);
  IO_INPR(true, yl, yh, true, "Y-MINIMUM VALUE", {"Enter minimum Y-value for displayed region"},
          {"Enter minimum Y-value for displayed region"}, y1, status);
  x2 = std::max(x2, x1);
  y2 = std::max(y2, y1);
  IO_INPR(true, x1, xh, true, "X-MAXIMUM VALUE", {"Enter maximum X-value for displayed region"},
          {"Enter maximum X-value for displayed region"}, x2, status);
  IO_INPR(true, y1, yh, true, "Y-MAXIMUM VALUE", {"Enter maximum Y-value for displayed region"},
          {"Enter maximum Y-value for displayed region"}, y2, status);
  if (status != kStatusGood) return;
  Index xs = 1, xe = 1, ys = 1, ye = 1;
  GS_CAL_WCTOPIX(xmaxdat, xnumdat, xaxis, x1, xs, status);
  GS_CAL_WCTOPIX(xmaxdat, xnumdat, xaxis, x2, xe, status);
  GS_CAL_WCTOPIX(ymaxdat, ynumdat, yaxis, y1, ys, status);
  GS_CAL_WCTOPIX(ymaxdat, ynumdat, yaxis, y2, ye, status);
  if (status != kStatusGood) return;
  xstrelm = std::min(xs, xe);
  xendelm = std::max(xs, xe);
  ystrelm = std::min(ys, ye);
  yendelm = std::max(ys, ye);
}

void GS_INT_XYEGRAPH(const GsCurves& curves, std::string_view title, std::string_view xlabel,
                     std::string_view ylabel, Status& status) {
  if (st_bad(status, "Subroutine GS_INT_XYEGRAPH V0.5")) return;
  static const std::vector<std::string> choices{"EXIT", "?", "PRINT", "ZOOM IN", "FULL UN-ZOOM"};
  static const std::vector<std::string> help{
      "EXIT: Exit from current display and continue",
      "?: Display list of commands with short description",
      "PRINT: Output current graphics to PostScript file",
      "ZOOM IN: 2 clicks to define a sub-region of the graph",
      "FULL UN-ZOOM: Automatic full region data display"};
  bool x_linear = true, y_linear = true;
  GS_INQ_AXESLOGLIN(x_linear, y_linear, status);
  if (!qg_db_colours.log_scaling) GS_SET_AXESLOGLIN(x_linear, true, status);
  bool graph = true, menu = true;
  while (status == kStatusGood) {
    if (graph) {
      GS_XYEGRAPH(curves, title, xlabel, ylabel, status);
      // Curves without a finite point are said and not drawn: no menu
      // waits under a graph that is not there.
      if (status == kStatusGood && curves.numcurves > 0 && !gs_detail::any_finite_point(curves))
        break;
    }
    if (menu || graph) {
      GS_SET_MENULAYOUT(0, 3, 30, 12, status);
      GS_FMENU(1, 1, {"X/Y GRAPH DISPLAY MENU"}, 5, 5, choices, status);
    }
    graph = menu = false;
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(5, 5, choices, 2, type, command, x, y, status);
    // No more input (end of the input, a lost window) ends the display.
    if (status != kStatusGood) break;
    {
      if (type == kGsChoiceRedraw || type == kGsChoiceNone) {
        graph = true;
      } else if (type == kGsChoicePoint) {
        GS_XYCLICK(x, y, status);
      } else if (command == "EXIT") {
        break;
      } else if (command == "?") {
        GS_MESSAGE(5, 5, help, status);
        graph = true;
      } else if (command == "ZOOM IN") {
        GS_INP_XYREGION(status);
        graph = true;
      } else if (command == "FULL UN-ZOOM") {
        GS_SET_AUTODDR(true, true, true, true, status);
        graph = true;
      } else if (command == "PRINT") {
        bool opened = false;
        GS_ON_PRINT(true, opened, status);
        if (opened && status == kStatusGood) {
          GS_XYEGRAPH(curves, title, xlabel, ylabel, status);
          GS_OFF_PRINT(status);
          gs_end_graphics_file(status);
          GS_FPROMPT(1, 1, {"FINISHED WRITING FILE"}, status);
          GS_UPDATE(status);
        }
        menu = true;
      }
    }
    // A cancelled zoom or print leaves the display up.
    if (status == kStatusEscape) st_reset(status);
  }
  Status local = kStatusGood;
  GS_SET_AXESLOGLIN(x_linear, y_linear, local);
}

}  // namespace kesta

// ---- Points on displayed data: spy glass and two clicks ----

namespace kesta {
namespace {

constexpr int kPatch = 21;  // pixels of the spy glass and of the two-click window

// The points given so far drawn again over the redrawn data.
void draw_points(bool join, int num, std::span<const float> x, std::span<const float> y,
                 Status& status) {
  if (join && num >= 2) {
    GS_LINESTYLE(1, 0.5f, kGsRed, status);
    QG_POLYLINE(num, x.first(static_cast<std::size_t>(num)), y.first(static_cast<std::size_t>(num)),
                status);
  }
  for (int k = 0; k < num; ++k) GS_MARK(x[k], y[k], 1.0f, status);
}

void redraw_image(const GsDisplayedImage& im, Status& status) {
  GS_MPLOT(im.mask_data, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
           im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel, status);
}

// Pixel coordinate C (pixel I spans I-1..I) in the data units of AXIS.
float pixel_to_world(std::span<const float> axis, Index first, Index last, float c) {
  const Index i = std::clamp<Index>(static_cast<Index>(std::ceil(c)), first, last);
  const float centre = axis[static_cast<std::size_t>(i - 1)];
  float width = 1.0f;
  if (i < last)
    width = axis[static_cast<std::size_t>(i)] - centre;
  else if (i > first)
    width = centre - axis[static_cast<std::size_t>(i - 2)];
  return centre + (c - (static_cast<float>(i) - 0.5f)) * width;
}

bool two_click_mode = false;

}  // namespace

// The first and last pixel of the two-click window about PIXEL within
// FIRST..LAST: 21 pixels, or the whole range when it is shorter.
void gs_two_click_window(Index pixel, Index first, Index last, Index& start, Index& end) {
  const Index width = std::min<Index>(kPatch, last - first + 1);
  start = std::clamp<Index>(pixel - width / 2, first, last - width + 1);
  end = start + width - 1;
}

void GS_SPYGLASS(bool on, const GsDisplayedImage& im, float xmin, float ymin, float xmax,
                 float ymax, Status& status) {
  if (st_bad(status, "Subroutine GS_SPYGLASS V0.2")) return;
  const GsRect g = gs_state.dgpp;
  const float x1 = QG_PC2WC(true, xmin, status), x2 = QG_PC2WC(true, xmax, status);
  const float y1 = QG_PC2WC(false, ymin, status), y2 = QG_PC2WC(false, ymax, status);
  if (on) {
    GS_LINESTYLE(1, 1.0f, kGsBlue, status);
    GS_FILLSTYLE(1, kGsWhite, status);
    GS_RECTANGLE(x1, y1, x2, y2, true, true, status);
    GS_TEXTSTYLE(1, kGsBlack, 0.012f, 1.0f, 0.0f, 0, 1, 1, 0.0f, 1.0f, status);
  }
  QG_SPYGLASS(on ? 1 : 0, im.xmaxdat, im.ymaxdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm,
              im.data, g.xmin, g.ymin, g.xmax, g.ymax, x1, y1, x2, y2, kPatch, kPatch, status);
}

void GS_INP_TWOCLICK(const GsDisplayedImage& im, bool spy_glass, float xmin, float ymin,
                     float xmax, float ymax, int num_help, TextLines help, bool join,
                     int rubber_mode, float first_x, float first_y, int max, int& num,
                     std::span<float> x, std::span<float> y, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INP_TWOCLICK V0.3";
  if (st_bad(status, position)) return;
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymin >= ymax && refuse(status, 14, position)) return;
  if (num_help < 1 && refuse(status, 17, position)) return;
  if ((num < 0 || num >= max || static_cast<std::size_t>(max) > std::min(x.size(), y.size())) &&
      refuse(status, 5, position))
    return;
  const float s = std::min(0.25f * (xmax - xmin), ymax - ymin);
  const GsRect zoom{xmin, ymin, xmin + s, ymax};
  if (spy_glass) GS_SPYGLASS(false, im, xmin, ymin, xmin + s, ymin + s, status);
  QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, status);
  const GsRect dddr = gs_state.dddr, dgpp = gs_state.dgpp, idr = gs_state.idr;

  Index px = 1, py = 1;
  GS_CAL_WCTOPIX(im.xmaxdat, im.xendelm, im.xaxis, first_x, px, status);
  GS_CAL_WCTOPIX(im.ymaxdat, im.yendelm, im.yaxis, first_y, py, status);
  Index xs = 1, xe = 1, ys = 1, ye = 1;
  gs_two_click_window(px, im.xstrelm, im.xendelm, xs, xe);
  gs_two_click_window(py, im.ystrelm, im.yendelm, ys, ye);
  static const std::vector<std::string> buttons{"HELP", "CANCEL"};

  auto draw = [&] {
    (void)gs_unit_on(status);
    GS_LINESTYLE(1, 2.0f, kGsBlue, status);
    GS_FILLSTYLE(1, kGsBlack, status);
    GS_RECTANGLE(zoom.xmin, zoom.ymin, zoom.xmax, zoom.ymax, true, true, status);
    gs_state.dgpp = zoom;
    gs_state.idr = zoom;
    const bool values = gs_state.pixel_values;
    gs_state.pixel_values = false;
    float zmin = 0.0f, zmax = 0.0f;
    gs_detail::image_cells(im.mask_data, im.xmaxdat, im.ymaxdat, im.data, im.mask, xs, ys, xe, ye,
                           gs_detail::image_directions(im.xaxis, im.yaxis, im.xstrelm,
                                                       im.ystrelm, im.xendelm, im.yendelm),
                           0, zmin, zmax, status);
    gs_state.pixel_values = values;
    GS_PROMPT(false, 1, 1, {"SECOND CLICK WITHIN \"SPY-GLASS\""}, zoom.xmax, ymin,
              zoom.xmax + 0.55f * (xmax - zoom.xmax), ymax, status);
    GS_SET_MENULAYOUT(1, 1, 12, 6, status);
    GS_MENU(1, 0, {"NO TITLE"}, 2, 2, buttons, zoom.xmax + 0.55f * (xmax - zoom.xmax), ymin, xmax,
            ymax, status);
  };
  auto restore = [&] {
    gs_state.dddr = dddr;
    gs_state.dgpp = dgpp;
    gs_state.idr = idr;
    gs_restore_graph_transform(status);
  };
  draw();
  while (status == kStatusGood) {
    int type = 0;
    std::string command;
    float wx = 0.0f, wy = 0.0f;
    GS_INP_MENUCHOICE(2, 2, buttons, 2, type, command, wx, wy, status);
    if (status != kStatusGood) break;
    if (type == kGsChoiceButton && command == "CANCEL") {
      status = kStatusEscape;
      break;
    }
    if ((type == kGsChoiceButton && command == "HELP") || type == kGsChoiceRedraw) {
      if (command == "HELP") GS_MESSAGE(num_help, num_help, help.view(), status);
      restore();
      redraw_image(im, status);
      draw_points(join, num, x, y, status);
      draw();
      continue;
    }
    if (type != kGsChoicePoint) continue;
    const float ppx = qg_click_pc(true, wx, status);
    const float ppy = qg_click_pc(false, wy, status);
    if (!(zoom.xmin <= ppx && ppx <= zoom.xmax && zoom.ymin <= ppy && ppy <= zoom.ymax)) continue;
    // Through the window's true width, which is below 21 on a short axis.
    const float cx = static_cast<float>(xs - 1) +
                     static_cast<float>(xe - xs + 1) * (ppx - zoom.xmin) / (zoom.xmax - zoom.xmin);
    const float cy = static_cast<float>(ys - 1) +
                     static_cast<float>(ye - ys + 1) * (ppy - zoom.ymin) / (zoom.ymax - zoom.ymin);
    x[num] = pixel_to_world(im.xaxis, 1, im.xendelm, cx);
    y[num] = pixel_to_world(im.yaxis, 1, im.yendelm, cy);
    ++num;
    break;
  }
  const Status kept = status;
  status = kStatusGood;
  restore();
  if (spy_glass) GS_SPYGLASS(true, im, xmin, ymin, xmin + s, ymin + s, status);
  if (num > 0) {
    const int mode = join ? 1 : (rubber_mode == 2 ? 2 : 0);
    QG_SET_RUBBERBAND(1, mode, x[num - 1], y[num - 1], status);
  }
  if (kept != kStatusGood) status = kept;
}

void GS_INPS_COORDINATES(bool spy_glass, const GsDisplayedImage& im, float xmin, float ymin,
                         float xmax, float ymax, std::string_view prompt, int num_help,
                         TextLines help, bool join, int max, int& num, std::span<float> x,
                         std::span<float> y, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INPS_COORDINATES V0.12";
  if (st_bad(status, position)) return;
  if (points_refused(position, xmin, ymin, xmax, ymax, num_help, max, num, x, y, status)) return;
  if (gs_typed_answers()) {
    gs_question_on_terminal({{std::string(prompt)}}, status);
    // A macro that ends at the points leaves them to be clicked.
    GsMacroEndToWindow to_window(prompt);
    typed_points(max, num, x, y, status);
    if (!to_window.ended(status)) return;
  }
  const std::span<const std::string> helps = help.view().first(static_cast<std::size_t>(std::min<std::size_t>(
      static_cast<std::size_t>(num_help), help.size())));
  const bool line = im.xstrelm == im.xendelm || im.ystrelm == im.yendelm;
  const bool spy = spy_glass && !line;
  const float s = std::min(ymax - ymin, 0.25f * (xmax - xmin));
  GsRecordingHeld held;
  const bool recording = held.recording();

  const bool any = num < 1;
  const int wanted = any ? max : num;
  const std::vector<std::string> lines = points_prompt(prompt, any, wanted);
  const float prompt_xmin = spy ? xmin + s : xmin;
  auto buttons = [&] {
    std::vector<std::string> b{"CANCEL", "HELP", "KEYBOARD"};
    if (!line) b.push_back(two_click_mode ? "ONE CLICK" : "TWO CLICK");
    return b;
  };
  std::vector<std::string> menu = buttons();
  auto draw_widget = [&] {
    menu = buttons();
    GS_SET_MENULAYOUT(1, 1, 12, 9, status);
    const int n = static_cast<int>(menu.size());
    GS_MENU(1, 0, {"NO TITLE"}, n, n, menu, xmax - s, ymin, xmax, ymax, status);
    GS_PROMPT(any, 2, 2, lines, prompt_xmin, ymin, xmax - s, ymax, status);
    if (spy) {
      const GsTransform saved = gs_unit_on(status);
      GS_LINESTYLE(1, 2.0f, kGsBlue, status);
      GS_RECTANGLE(xmin, ymin, xmin + s, ymin + s, true, false, status);
      gs_restore_transform(saved, status);
      GS_SPYGLASS(true, im, xmin, ymin, xmin + s, ymin + s, status);
    }
  };
  draw_widget();
  const GsRect& d = gs_state.dddr;
  int given = 0;
  bool cancelled = false;
  auto add = [&](float wx, float wy) { add_point(wx, wy, join, wanted, given, x, y, status); };
  auto redraw_all = [&] {
    redraw_image(im, status);
    draw_points(join, given, x, y, status);
    draw_widget();
  };
  while (given < wanted && status == kStatusGood) {
    int type = 0;
    std::string command;
    float wx = 0.0f, wy = 0.0f;
    const int n = static_cast<int>(menu.size());
    GS_INP_MENUCHOICE(n, n, menu, 2, type, command, wx, wy, status);
    if (status != kStatusGood) break;
    if (type == kGsChoiceRedraw || type == kGsChoiceNone) {
      redraw_all();
    } else if (type == kGsChoiceButton) {
      if (command == "CANCEL") {
        cancelled = true;
        break;
      }
      if (command == "HELP") {
        QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, status);
        if (spy) GS_SPYGLASS(false, im, xmin, ymin, xmin + s, ymin + s, status);
        GS_MESSAGE(std::max(num_help, 1), static_cast<int>(helps.size()), helps, status);
        if (given > 0) QG_SET_RUBBERBAND(1, join ? 1 : (wanted == 2 ? 2 : 0), x[given - 1], y[given - 1], status);
        redraw_all();
      } else if (command == "KEYBOARD") {
        std::vector<std::string> keyboard_help(helps.begin(), helps.end());
        keyboard_help.emplace_back("Enter valid floating point number");
        float kx = 0.0f, ky = 0.0f;
        GS_INPR(false, 0.0f, 0.0f, false, "X-COMPONENT OF COORDINATE TO DEFINE", keyboard_help,
                keyboard_help, kx, status);
        GS_INPR(false, 0.0f, 0.0f, false, "Y-COMPONENT OF COORDINATE TO DEFINE", keyboard_help,
                keyboard_help, ky, status);
        if (status == kStatusGood) add(kx, ky);
        if (status == kStatusEscape) st_reset(status);
        redraw_all();
      } else if (command == "TWO CLICK" || command == "ONE CLICK") {
        two_click_mode = command == "TWO CLICK";
        draw_widget();
      }
    } else if (type == kGsChoicePoint) {
      if (!snapped_into(d, wx, wy, status)) {
        const float px = qg_click_pc(true, wx, status);
        const float py = qg_click_pc(false, wy, status);
        if (prompt_xmin <= px && px <= xmax && ymin <= py && py <= ymax) break;
        continue;
      }
      if (two_click_mode && !line) {
        const int before = given;
        GS_INP_TWOCLICK(im, spy, xmin, ymin, xmax, ymax, std::max(num_help, 1), helps, join,
                        wanted == 2 ? 2 : 0, wx, wy, max, given, x, y, status);
        if (status == kStatusEscape) st_reset(status);
        if (given > before) {
          const float ax = x[given - 1], ay = y[given - 1];
          --given;
          add(ax, ay);
        }
        redraw_all();
      } else {
        add(wx, wy);
      }
    }
  }
  Status local = kStatusGood;
  if (!cancelled && status == kStatusGood && join && given > 2) {
    GS_LINESTYLE(1, 0.5f, kGsRed, local);
    GS_LINE(x[0], y[0], x[given - 1], y[given - 1], local);
  }
  QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, local);
  if (spy) GS_SPYGLASS(false, im, xmin, ymin, xmin + s, ymin + s, local);
  held.release();
  if (status != kStatusGood) return;
  if (vosq_io_dbdb.log_open) {
    IO_WRITE_FILE(kStreamLog, " ", status);
    IO_WRITE_FILE(kStreamLog, prompt, status);
  }
  if (cancelled) {
    if (recording) io_outmacro_record("\\\\", status);
    if (vosq_io_dbdb.log_open) IO_WRITE_FILE(kStreamLog, "<CANCEL>", status);
    status = kStatusEscape;
    return;
  }
  num = given;
  record_points(given, x, y, status);
  if (vosq_io_dbdb.log_open)
    for (int k = 0; k < given; ++k)
      IO_WRITE_FILE(kStreamLog,
                    "GRAPHICAL INPUT: " + format_e(x[k], 14, 7, 1) + format_e(y[k], 14, 7, 1),
                    status);
}

void GS_INPS_FCOORDINATES(bool spy_glass, const GsDisplayedImage& im, std::string_view prompt,
                          int num_help, TextLines help, bool join, int max, int& num,
                          std::span<float> x, std::span<float> y, Status& status) {
  if (st_bad(status, "Subroutine GS_INPS_FCOORDINATES V0.1")) return;
  const GsRect& g = gs_state.gui_region;
  GS_INPS_COORDINATES(spy_glass, im, g.xmin, g.ymin, g.xmax, g.ymax, prompt, num_help, help.view(),
                      join, max, num, x, y, status);
}

}  // namespace kesta
