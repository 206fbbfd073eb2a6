#include "app/imageops/surface_viewer.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/printing.hpp"
#include "app/main/data_store.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/views3d.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

constexpr float kAngleStep = 0.1745329f;  // 10 degrees
constexpr float kFullTurn = 6.283185f;
constexpr float kRightAngle = 1.5707963f;
constexpr float kDegrees = 180.0f / 3.1415925f;

// What the viewer keeps between calls.
struct ViewerKept {
  float longitude = 0.5236f;
  float latitude = 1.047197f;
  bool normal_updating = true;
  int normal_limit = 0;  // the 3-D pixel limit before FAST (0: none kept)
};

// The image colour range FIRST..FIRST + N - 1 (within LAST) with at most N
// of SCHEME's levels, loaded.
void limit_colours(int first, int last, int scheme, int levels, int n, Status& status) {
  QG_SET_IMAGERANGE(first, std::min(first + n - 1, last), status);
  GS_SET_LUTCHOICE(scheme, std::min(levels, n), status);
  GS_COLOURS(status);
}

// A user escape inside a menu choice leaves the menu up.
void escape_is_nothing(Status& status) {
  if (status == kStatusEscape) st_reset(status);
}

}  // namespace

float kzt_3d_zscale(float d, float zmin, float zmax, bool log) {
  // The box stands as tall as the window is wide over the range of heights
  // the surface itself draws: logarithmic heights span their decades, a
  // flat range is widened.
  const double range = gs_3d_height_range(log, zmin, zmax) ? double{zmax} - zmin : 0.0;
  return range > 0.0 ? static_cast<float>(d / range) : d;
}

void kzt_3d_frame(std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, float zmin, float zmax, bool log,
                  Kzt3dView& view) {
  const float x1 = xaxis[static_cast<std::size_t>(xstrelm - 1)];
  const float x2 = xaxis[static_cast<std::size_t>(xendelm - 1)];
  const float y1 = yaxis[static_cast<std::size_t>(ystrelm - 1)];
  const float y2 = yaxis[static_cast<std::size_t>(yendelm - 1)];
  view.cx = -(x1 + x2) / 2.0f;
  view.cy = -(y1 + y2) / 2.0f;
  view.cz = 0.0f;
  view.d = std::max((x2 - x1) / 2.0f, (y2 - y1) / 2.0f);
  if (!(view.d > 0.0f)) view.d = 1.0f;  // a single point still has a window
  view.zs = kzt_3d_zscale(view.d, zmin, zmax, log);
}

bool kzt_3d_step(std::string_view button, Kzt3dView& v) {
  if (button == "+ROT.") {
    v.longitude += kAngleStep;
    if (v.longitude >= kFullTurn) v.longitude -= kFullTurn;
  } else if (button == "-ROT.") {
    v.longitude -= kAngleStep;
    if (v.longitude < 0.0f) v.longitude += kFullTurn;
  } else if (button == "+ELEV.") {
    v.latitude = std::min(v.latitude + kAngleStep, kRightAngle);
  } else if (button == "-ELEV.") {
    v.latitude = std::max(v.latitude - kAngleStep, -kRightAngle);
  } else if (button == "+ZOOM") {
    v.d /= 1.2f;
  } else if (button == "-ZOOM") {
    v.d *= 1.2f;
  } else if (button == "LEFT") {
    v.cx += 0.2f * v.d;
  } else if (button == "RIGHT") {
    v.cx -= 0.2f * v.d;
  } else if (button == "UP") {
    v.cz -= 0.2f * v.d;
  } else if (button == "DOWN") {
    v.cz += 0.2f * v.d;
  } else if (button == "STEEPER") {
    v.zs *= 1.414214f;
  } else if (button == "FLATTER") {
    v.zs /= 1.414214f;
  } else {
    return false;
  }
  return true;
}

void kzt_3d_switch_log(bool to_log, float zmin, float zmax, Kzt3dView& view) {
  const float factor = view.zs / kzt_3d_zscale(view.d, zmin, zmax, !to_log);
  view.zs = factor * kzt_3d_zscale(view.d, zmin, zmax, to_log);
}

bool kzt_no_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                         Index ystrelm, Index xendelm, Index yendelm, std::string_view purpose,
                         Status& status) {
  Index non_finite = 0;
  ma_nonfinite_count(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, non_finite,
                     status);
  if (status != kStatusGood || non_finite != (xendelm - xstrelm + 1) * (yendelm - ystrelm + 1))
    return false;
  IO_WRITE("WARNING: No finite data value in the region to " + std::string(purpose), status);
  return true;
}

bool kzt_3d_no_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                            Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                            Status& status) {
  return kzt_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm,
                             "draw as a 3-D surface", status);
}

bool kzt_row_without_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                                  Index xstrelm, Index xendelm, Index y, Status& status) {
  Index non_finite = 0;
  ma_nonfinite_count(xmaxdat, ymaxdat, data, xstrelm, y, xendelm, y, non_finite, status);
  if (status != kStatusGood || non_finite != xendelm - xstrelm + 1) return false;
  IO_WRITE("WARNING: No finite data value in row " + std::to_string(y) + " to plot", status);
  return true;
}

bool kzt_no_first_row_graph(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                            Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                            Status& status) {
  // Of one row, the region's line says it all.
  return kzt_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, "plot",
                             status) ||
         status != kStatusGood ||
         (yendelm > ystrelm &&
          kzt_row_without_finite_value(xmaxdat, ymaxdat, data, xstrelm, xendelm, ystrelm, status)) ||
         status != kStatusGood;
}

void kzt_say_rows_not_drawn(Status& status) {
  // A graph is drawn only of a region from the first row: said, rather
  // than a command that ends without a word.
  IO_WRITE("WARNING: Nothing drawn: a region of one or two rows is drawn (as a graph) only "
           "when it starts at row 1",
           status);
}

void KZT_3DSURFACE(std::string& graphics_kind, Index xmaxdat, Index ymaxdat,
                   std::span<const float> data, std::span<const float> xaxis,
                   std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::string_view title, std::string_view xlabel,
                   std::string_view ylabel, std::string_view zlabel, Status& status) {
  if (kzt_region_refused("Subroutine KZT_3DSURFACE V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  if (std::ssize(xaxis) < xendelm || std::ssize(yaxis) < yendelm)
    return st_fail(status, kBaseApp + 1, "Subroutine KZT_3DSURFACE V0.1");
  // A region without a finite value has no surface: said once, rather
  // than an empty frame under the menu, and nothing left to print (not the
  // drawing before either).
  graphics_kind.clear();
  if (kzt_3d_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, status) ||
      gs_say_nothing_drawable(GsDrawing::kSurface, xmaxdat, ymaxdat, data, xstrelm, ystrelm,
                              xendelm, yendelm, status) ||
      status != kStatusGood)
    return;
  ViewerKept& kept = remembered<ViewerKept>();
  bool log = false;
  QG_INQ_LOGZSCALING(log, status);
  // Logarithmic scaling chosen before, over heights all below zero: said
  // in one line, as the viewer's own LOG is, and nothing drawn.
  if (log && gs_say_no_log_heights(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm,
                                   status))
    return;
  int first = 0, last = 0, scheme = 0, levels = 0, image_limit = 0, limit_3d = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  GS_INQ_LUTCHOICE(scheme, levels, status);
  GS_INQ_PIXELLIMITS(image_limit, limit_3d, status);
  limit_colours(first, last, scheme, levels, 30, status);

  int mode = 0;
  float minimum = 0.0f, maximum = 0.0f;
  GS_INQ_IMAGESCALE(mode, minimum, maximum, status);
  const Index side = std::max(xendelm - xstrelm + 1, yendelm - ystrelm + 1);
  const Index binning = (side - 1) / std::max(limit_3d, 1) + 1;
  // The user's limits stand for the ends their mode keeps (both in mode 1,
  // the minimum in mode 2, the maximum in mode 3).
  float zmin = minimum, zmax = maximum;
  GS_CAL_ZRANGE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, binning, mode, zmin,
                zmax, status);
  if (status != kStatusGood) return;

  Kzt3dView view;
  view.longitude = kept.longitude;
  view.latitude = kept.latitude;
  kzt_3d_frame(xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, zmin, zmax, log, view);

  auto draw = [&] {
    GS_SET_3DVIEW(view.cx, view.cy, view.cz, view.longitude, view.latitude, 30.0f * view.d,
                  -view.d, -view.d, view.d, view.d, view.zs, status);
    GS_3DSURFACE(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, title,
                 xlabel, ylabel, zlabel, status);
    GS_UPDATE(status);
    graphics_kind = "3-d surface";
  };
  std::vector<std::string> buttons{"EXIT",    "+ROT.",  "+ELEV.", "+ZOOM",   "LEFT",  "UP",
                                   "STEEPER", "?",      "-ROT.",  "-ELEV.",  "-ZOOM", "RIGHT",
                                   "DOWN",    "FLATTER", "PRINT", "ANGLE",   "DEFAULT", "LOG",
                                   "FAST",    "STYLE",  "360"};
  std::vector<std::string> lines{
      "EXIT: Exit 3-D surface viewing graphical menu",
      "+ROT.: Increase longitude angle of viewer",
      "+ELEV.: Increase elevation angle of viewer",
      "+ZOOM: Increase size of object",
      "LEFT: View further to the left of the object",
      "UP: View further above the object",
      "STEEPER: Increase importance of Z-dimension",
      "?: View this help text (explanation of options)",
      "-ROT.: Decrease longitude angle of viewer",
      "-ELEV.: Decrease elevation angle of viewer",
      "-ZOOM: Decrease size of object",
      "RIGHT: View further to the right of the object",
      "DOWN: View further below the object",
      "FLATTER: Decrease importance of Z-dimension",
      "PRINT: Output displayed 3-D surface to graphics file",
      "ANGLE: Keyboard entry of arbitrary viewing angle",
      "DEFAULT: Re-set default view",
      "",
      "",
      "STYLE: Control of 3-D surface display diagram style",
      "360: 360 degree rotation in longitude, in 10 degree steps"};
  constexpr int kButtons = 21;
  auto draw_menu = [&] {
    buttons[17] = log ? "LINEAR" : "LOG";
    lines[17] = log ? "LINEAR: Linear (or logarithmic) image intensity scaling"
                    : "LOG: Logarithmic (or linear) image intensity scaling";
    buttons[18] = kept.normal_updating ? "FAST" : "NORMAL";
    lines[18] = kept.normal_updating
                    ? "FAST: Fast mode updating, low resolution, few colours"
                    : "NORMAL: Normal updating, resolution, and number of colours";
    GS_SET_MENULAYOUT(0, 7, 30, 7, status);
    GS_FMENU(1, 1, {"INTERACTIVE 3-D VIEWER"}, kButtons, kButtons, buttons, status);
  };

  draw();
  draw_menu();
  while (status == kStatusGood) {
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(kButtons, kButtons, buttons, 2, type, command, x, y, status);
    if (status != kStatusGood) break;
    bool redraw = true;
    if (type == kGsChoiceRedraw) {
      // drawn again below
    } else if (type != kGsChoiceButton || command == "null") {
      continue;
    } else if (command == "EXIT") {
      break;
    } else if (kzt_3d_step(command, view)) {
      // a step of the view
    } else if (command == "?") {
      GS_MESSAGE(kButtons, kButtons, lines, status);
    } else if (command == "ANGLE") {
      float rotation = view.longitude * kDegrees;
      float elevation = view.latitude * kDegrees;
      GS_INPR(true, -360.0f, 360.0f, true, "VIEW ROTATION ANGLE",
              {"Enter view rotation angle, around image"}, {"Enter valid real"}, rotation, status);
      GS_INPR(true, -90.0f, 90.0f, true, "VIEW ELEVATION ANGLE", {"Enter view elevation angle"},
              {"Enter valid real"}, elevation, status);
      if (status == kStatusGood) {
        view.longitude = rotation / kDegrees;
        view.latitude = elevation / kDegrees;
      }
    } else if (command == "DEFAULT") {
      // The default view of the heights as they are scaled now: a linear
      // frame over logarithmic heights would flatten the surface.
      kzt_3d_frame(xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, zmin, zmax, log, view);
      view.longitude = 0.52359873f;
      view.latitude = 1.0471975f;
    } else if (command == "LOG" &&
               gs_say_no_log_heights(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm,
                                     status)) {
      // Not taken: the view stays as it was.
    } else if (command == "LOG" || command == "LINEAR") {
      log = command == "LOG";
      QG_SET_LOGZSCALING(log, status);
      kzt_3d_switch_log(log, zmin, zmax, view);
    } else if (command == "FAST") {
      kept.normal_updating = false;
      kept.normal_limit = limit_3d;
      GS_SET_PIXELLIMITS(image_limit, 50, status);
      limit_colours(first, last, scheme, levels, 10, status);
    } else if (command == "NORMAL") {
      kept.normal_updating = true;
      if (kept.normal_limit > 0) limit_3d = kept.normal_limit;
      GS_SET_PIXELLIMITS(image_limit, limit_3d, status);
      limit_colours(first, last, scheme, levels, 30, status);
      GS_CAL_COLOURS(status);
    } else if (command == "PRINT") {
      KZT_PRINT(true, "3-d surface", false, xmaxdat, ymaxdat, xaxis, yaxis, data, {}, {}, title,
                xlabel, ylabel, zlabel, false, xstrelm, ystrelm, xendelm, yendelm, status);
      redraw = false;
    } else if (command == "STYLE") {
      KZT_3DSTYLE(kept.normal_updating, xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm,
                  xendelm, yendelm, title, xlabel, ylabel, zlabel, status);
      redraw = false;
    } else if (command == "360") {
      for (int k = 0; k < 36 && status == kStatusGood; ++k) {
        kzt_3d_step("+ROT.", view);
        draw();
      }
    }
    escape_is_nothing(status);
    if (redraw) draw();
    draw_menu();
    if (status != kStatusGood) ST_OUT(status);
  }
  kept.longitude = view.longitude;
  kept.latitude = view.latitude;
  Status local = kStatusGood;
  QG_SET_IMAGERANGE(first, last, local);
  GS_SET_LUTCHOICE(scheme, levels, local);
  GS_COLOURS(local);
  GS_CAL_COLOURS(local);
}

void KZT_3DSTYLE(bool normal_updating, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                 std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                 std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                 Status& status) {
  if (st_bad(status, "Subroutine KZT_3DSTYLE V0.1")) return;
  Gs3dStyle style;
  GS_INQ_3DSTYLE(style, status);
  bool box = false, walls = false, enumerate = false, low = false, top = false;
  GS_INQ_3DAXES(box, walls, enumerate, status);
  GS_INQ_3DSIMAGE(low, top, status);
  bool axes = box || walls || enumerate;
  int first = 0, last = 0, scheme = 0, levels = 0, image_limit = 0, limit_3d = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  GS_INQ_LUTCHOICE(scheme, levels, status);
  GS_INQ_PIXELLIMITS(image_limit, limit_3d, status);

  struct Toggle {
    std::string on, on_line, off, off_line;
  };
  static const std::array<Toggle, 5> kToggles{
      Toggle{"LINES", "LINES: Draw lines around the re-binned pixels", "NO LINES",
             "NO LINES: No lines drawn around the re-binned pixels"},
      Toggle{"FILL", "FILL: Fill areas of surface with colour or Z-colours", "NO FILL",
             "NO FILL: No area filling of coloured polygons"},
      Toggle{"AXES", "AXES: Draw enumerated axis around the surface", "NO AXES",
             "NO AXES: Don't draw enumerated axes around the surface"},
      Toggle{"TOP IMAGE", "TOP IMAGE: Add 3-D projected image above 3-D surface", "NO TOP",
             "NO TOP: Don't display upper 3-D projected image"},
      Toggle{"LOW IMAGE", "LOW IMAGE: Add 3-D projected image below 3-D surface", "NO LOWER",
             "NO LOWER: Don't display lower 3-D projected image"}};
  std::array<bool*, 5> switches{&style.lines, &style.fill, &axes, &top, &low};
  std::vector<std::string> buttons(9), lines(9);
  buttons[0] = "EXIT";
  lines[0] = "EXIT: Exit 3-D surface viewing graphical menu";
  buttons[1] = "?";
  lines[1] = "?: View this help text (explanation of options)";
  buttons[2] = "HELP";
  lines[2] = "HELP: Help text";
  buttons[3] = "LIMITS";
  lines[3] = "LIMITS: Set output pixel resolution limit and number of colours";
  auto label = [&] {
    // Each toggle shows what a press would do next.
    for (std::size_t k = 0; k < kToggles.size(); ++k) {
      buttons[4 + k] = *switches[k] ? kToggles[k].off : kToggles[k].on;
      lines[4 + k] = *switches[k] ? kToggles[k].off_line : kToggles[k].on_line;
    }
  };
  auto draw_menu = [&] {
    label();
    GS_SET_MENULAYOUT(1, 3, 30, 7, status);
    GS_FMENU(1, 1, {"3-D SURFACE STYLE"}, 9, 9, buttons, status);
  };
  auto draw_surface = [&] {
    GS_3DSURFACE(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, title,
                 xlabel, ylabel, zlabel, status);
    GS_UPDATE(status);
  };

  draw_menu();
  while (status == kStatusGood) {
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(9, 9, buttons, 2, type, command, x, y, status);
    if (status != kStatusGood) break;
    if (type == kGsChoiceRedraw) {
      draw_surface();
      draw_menu();
      continue;
    }
    if (type != kGsChoiceButton) continue;
    if (command == "EXIT") break;
    if (command == "?" || command == "HELP") {
      GS_MESSAGE(9, 9, lines, status);
    } else if (command == "LIMITS") {
      int limit = limit_3d;
      int wanted = levels;
      GS_INPI(true, 10, 1000, true, "MAXIMUM OUTPUT DIMENSION", {"Enter maximum number of pixels"},
              {"Enter valid integer"}, limit, status);
      GS_INPI(true, 1, std::max(last - first + 1, 1), true, "COLOUR LEVELS",
              {"Enter number of colour levels"}, {"Enter valid integer"}, wanted, status);
      if (status == kStatusGood && normal_updating) {
        limit_3d = limit;
        GS_SET_PIXELLIMITS(image_limit, limit_3d, status);
        limit_colours(first, last, scheme, levels, wanted, status);
        GS_INQ_LUTCHOICE(scheme, levels, status);
      }
    } else {
      for (std::size_t k = 0; k < kToggles.size(); ++k) {
        if (command == kToggles[k].on) *switches[k] = true;
        else if (command == kToggles[k].off) *switches[k] = false;
        else continue;
        if (k < 2)
          GS_SET_3DSTYLE(style.lines, style.line_colour, style.line_width, style.fill,
                         style.z_colours, style.fill_colour, status);
        else if (k == 2)
          GS_SET_3DAXES(axes, axes, axes, status);
        else
          GS_SET_3DSIMAGE(low ? 1 : 0, top, status);
      }
    }
    escape_is_nothing(status);
    draw_surface();
    draw_menu();
    if (status != kStatusGood) ST_OUT(status);
  }
}

void KZT_XYGRAPH(bool interactive, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, std::span<const float> data,
                 std::span<const float> /*variances*/, std::span<const float> xaxis,
                 std::span<const float> /*yaxis*/, std::string_view title,
                 std::string_view xlabel, std::string_view /*ylabel*/, std::string_view zlabel,
                 Status& status) {
  if (kzt_region_refused("Subroutine KZT_XYGRAPH V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  bool x_bars = false, y_bars = false;
  GS_INQ_ERRORBARS(x_bars, y_bars, status);
  GS_SET_ERRORBARS(false, false, status);
  const auto row_length = static_cast<std::size_t>(xmaxdat);
  // A row without a finite value is said and left out: no empty graph, no
  // menu or page of one.
  bool drawn = false;
  for (Index y = ystrelm; y <= yendelm && status == kStatusGood; ++y) {
    // The row is checked before the question, which asks for a graph that
    // is then drawn.
    if (kzt_row_without_finite_value(xmaxdat, ymaxdat, data, xstrelm, xendelm, y, status) ||
        status != kStatusGood)
      continue;
    if (drawn) {
      bool more = true;
      IO_INPL(false, false, false, true, "CONTINUE",
              {"\"YES\" for further 1-D graphs, \"NO\" to exit"}, {"Enter \"YES\" or \"NO\""}, more,
              status);
      if (status != kStatusGood || !more) break;
    }
    const std::span<const float> row =
        data.subspan(static_cast<std::size_t>(element(1, y, xmaxdat)), row_length);
    if (interactive) {
      const std::array<Index, 1> starts{xstrelm}, ends{xendelm};
      GsCurves curves;
      curves.maxpts = xmaxdat;
      curves.maxcurves = 1;
      curves.numcurves = 1;
      curves.starts = starts;
      curves.ends = ends;
      curves.x = xaxis;
      curves.y = row;
      GS_INT_XYEGRAPH(curves, title, xlabel, zlabel, status);
    } else {
      // Printed, each row is a page of its own, as the window shows them
      // one at a time: drawn on one page, each would cover the one before.
      if (drawn) gs_print_page_break(status);
      GS_XYSGRAPH(xmaxdat, xstrelm, xendelm, xaxis, row, title, xlabel, zlabel, status);
      GS_UPDATE(status);
    }
    drawn = true;
  }
  escape_is_nothing(status);
  Status local = kStatusGood;
  GS_SET_ERRORBARS(x_bars, y_bars, local);
}

void kzt_command_3dsurface(KztDataSets& sets, std::string& graphics_kind, Status& status) {
  if (st_bad(status, "Subroutine KZT_3DSURFACE_COMMAND V0.1")) return;
  const KztArrays& a = vosq_kzt_arrays;
  // A command that draws nothing leaves nothing for PRINT GRAPHICS.
  graphics_kind.clear();
  if (kzt_region_refused("Subroutine KZT_3DSURFACE_COMMAND V0.1", a.xmaxdat, a.ymaxdat, a.xstrelm,
                         a.ystrelm, a.xendelm, a.yendelm, status, {kzt_image(a.data).size()}) ||
      kzt_3d_no_finite_value(a.xmaxdat, a.ymaxdat, kzt_image(a.data), a.xstrelm, a.ystrelm,
                             a.xendelm, a.yendelm, status))
    return;
  if (a.yendelm - a.ystrelm > 1) {
    KZT_3DSURFACE(graphics_kind, a.xmaxdat, a.ymaxdat, kzt_image(a.data), kzt_xline(a.xaxis),
                  kzt_yline(a.yaxis), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.title,
                  sets.xlabel, sets.ylabel, sets.zlabel, status);
  } else if (a.ystrelm == 1) {
    KZT_XYGRAPH(true, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_image(a.data), kzt_image(a.variances), kzt_xline(a.xaxis), kzt_yline(a.yaxis),
                sets.title, sets.xlabel, sets.ylabel, sets.zlabel, status);
    graphics_kind = "x/y graph";
  } else {
    kzt_say_rows_not_drawn(status);
  }
}

}  // namespace kesta
