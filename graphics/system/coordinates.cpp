// Positions from the user: clicked points on the displayed data, one page
// position, a pause for any input, the zoom by two corners and the un-zoom,
// the displayed region typed in data units, the click read-out and the
// interactive x/y graph.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
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

// Moves a click within 2 % of the region's extent outside an edge onto it.
float snapped(float v, float low, float high) {
  const float extent = high - low;
  if (v < low && (low - v) / extent <= 0.02f) return low;
  if (v > high && (v - high) / extent <= 0.02f) return high;
  return v;
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
  if (xmin >= xmax && refuse(status, 13, position)) return;
  if (ymin >= ymax && refuse(status, 14, position)) return;
  if (num_info < 1 && refuse(status, 17, position)) return;
  if ((num > max || static_cast<std::size_t>(std::max(max, 0)) > std::min(x.size(), y.size())) &&
      refuse(status, 5, position))
    return;

  if (gs_typed_answers()) {
    // The count is asked within 0..MAX: a damaged macro cannot write past
    // the point arrays.
    GS_UPDATE(status);
    int count = std::max(num, 0);
    IO_INPI(true, 0, max, true, "NUMBER OF COORDINATES (GRAPHICAL INPUT)",
            {"NUMBER COORDINATES (GRAPHICAL INPUT)"}, {"Enter valid integer value"}, count,
            status);
    for (int k = 0; k < count && status == kStatusGood; ++k) {
      IO_INPR(false, 0.0f, 0.0f, false, "X-COORDINATE (GRAPHICAL INPUT)",
              {"X-coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, x[k], status);
      IO_INPR(false, 0.0f, 0.0f, false, "Y-COORDINATE (GRAPHICAL INPUT)",
              {"Y-coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, y[k], status);
    }
    if (status == kStatusGood) num = count;
    return;
  }

  const bool any = num < 1;
  const int wanted = any ? max : num;
  const std::vector<std::string> lines{
      std::string(prompt), any ? std::string("(Click here to finish)")
                               : "(Enter " + format_i(wanted, 4) + " coordinates)"};
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
    wx = snapped(wx, std::min(d.xmin, d.xmax), std::max(d.xmin, d.xmax));
    wy = snapped(wy, std::min(d.ymin, d.ymax), std::max(d.ymin, d.ymax));
    const bool in_data = std::min(d.xmin, d.xmax) <= wx && wx <= std::max(d.xmin, d.xmax) &&
                         std::min(d.ymin, d.ymax) <= wy && wy <= std::max(d.ymin, d.ymax);
    if (!in_data) {
      const float px = QG_WC2PC(true, wx, status);
      const float py = QG_WC2PC(false, wy, status);
      if (xmin <= px && px <= xmax && ymin <= py && py <= ymax) break;
      continue;
    }
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
  Status local = kStatusGood;
  QG_SET_RUBBERBAND(1, 0, 0.0f, 0.0f, local);
  if (status != kStatusGood) return;
  num = given;
  if (vosq_io_dbdb.output_macro) {
    io_outmacro_record(format_i(given, 12), status);
    for (int k = 0; k < given; ++k) {
      io_outmacro_record(format_e(x[k], 14, 7, 1), status);
      io_outmacro_record(format_e(y[k], 14, 7, 1), status);
    }
  }
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
    IO_INPR(false, 0.0f, 0.0f, false, "X-PAGE COORDINATE (GRAPHICAL INPUT)",
            {"X-page coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, x, status);
    IO_INPR(false, 0.0f, 0.0f, false, "Y-PAGE COORDINATE (GRAPHICAL INPUT)",
            {"Y-page coordinate (GRAPHICAL INPUT)"}, {"Enter valid real value"}, y, status);
    return;
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
    x = QG_WC2PC(true, wx, status);
    y = QG_WC2PC(false, wy, status);
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
  GS_PROMPT(true, max, num, text, g.xmin, g.ymin, g.xmax, g.ymax, status);
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
  auto limits = [](std::span<const float> axis, Index n, float& low, float& high) {
    if (n == 1) {
      low = high = axis[0];
      return;
    }
    low = axis[0] - 0.5f * (axis[1] - axis[0]);
    high = axis[n - 1] + 0.5f * (axis[n - 1] - axis[n - 2]);
  };
  float xl, xh, yl, yh;
  limits(xaxis, xnumdat, xl, xh);
  limits(yaxis, ynumdat, yl, yh);
  auto at = [](std::span<const float> axis, Index n, Index i) {
    return axis[static_cast<std::size_t>(std::clamp<Index>(i, 1, n) - 1)];
  };
  float x1 = at(xaxis, xnumdat, xstrelm), y1 = at(yaxis, ynumdat, ystrelm);
  float x2 = at(xaxis, xnumdat, xendelm), y2 = at(yaxis, ynumdat, yendelm);
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
  xstrelm = xs;
  xendelm = xe;
  ystrelm = ys;
  yendelm = ye;
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
    if (graph) GS_XYEGRAPH(curves, title, xlabel, ylabel, status);
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
          GS_CLOSE_PS(status);
          GS_FPROMPT(1, 1, {"FINISHED WRITING FILE"}, status);
          GS_UPDATE(status);
        }
        menu = true;
      }
    }
    // A cancelled zoom or print leaves the display up.
    if (status == kStatusEscape) status = kStatusGood;
  }
  Status local = kStatusGood;
  GS_SET_AXESLOGLIN(x_linear, y_linear, local);
}

}  // namespace kesta
