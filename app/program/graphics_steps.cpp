// The main program's graphics steps and graphics commands.

#include "app/program/graphics_steps.hpp"

#include <array>
#include <optional>

#include "app/imageops/display_commands.hpp"
#include "app/imageops/surface_viewer.hpp"
#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/style_dialogues.hpp"
#include "graphics/system/views3d.hpp"

namespace kesta {
namespace {

void saved_setting_refused(std::string_view key) {
  Status local = kStatusGood;
  IO_WRITE(
      "WARNING: The saved value of " + std::string(key) + " cannot be used; the default is kept",
      local);
}

// Three logicals of two characters each, as a saved curve style holds them;
// nothing when a field is not a logical.
std::optional<std::array<bool, 3>> three_logicals(std::string text) {
  text.resize(6, ' ');
  std::array<bool, 3> out{};
  for (std::size_t i = 0; i < 3; ++i) {
    std::string_view field = std::string_view(text).substr(2 * i, 2);
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    if (!field.empty() && field.front() == '.') field.remove_prefix(1);
    if (field.empty()) {
      out[i] = false;
    } else if (field.front() == 'T' || field.front() == 't') {
      out[i] = true;
    } else if (field.front() == 'F' || field.front() == 'f') {
      out[i] = false;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// Closes whatever the graphics kernel has open, failures and all.
void close_graphics_kernel() {
  Status local = kStatusGood;
  if (qg_db_system.system_open != 0) {
    for (int id = 2; id >= 1; --id)
      if (qg_find_workstation(id) >= 0) QG_CLOSE_WK(id, local);
    ST_DEF_SYSTEM(local);
    QG_CLOSE(local);
  }
}

}  // namespace

bool kzt_open_graphics(bool graphics_on, Status& status) {
  if (st_bad(status, "Subroutine KZT_OPEN_GRAPHICS V0.1")) return false;
  if (!graphics_on) {
    // The defaults hold without a window too.
    GS_DEF_GRAPHICS(status);
    return false;
  }
  Status local = kStatusGood;
  GS_OPEN_GRAPHICS(local);
  if (local == kStatusGood) return true;
  // Whatever failed, the program goes on without graphics.
  close_graphics_kernel();
  return false;
}

bool kzt_window_closed(Status& status) {
  if (!qg_window_lost()) return false;
  // The kernel stays open: a lost window draws nothing, and the window
  // menus still asked later (the graphical menu after the keyboard
  // interface) need it to ask at the terminal. A PostScript file being
  // written stays open as well.
  Status local = kStatusGood;
  IO_WRITE("INFO: KESTA goes on without graphics, as if started with \"-nogr\"", local);
  if (status == kStatusEscape) ST_DEF_SYSTEM(status);
  return true;
}

bool kzt_graphics_system_open() { return qg_db_system.system_open != 0; }

void kzt_close_graphics(Status& status) {
  if (!kzt_graphics_system_open()) return;
  GS_CLOSE_GRAPHICS(status);
}

void kzt_restore_display(Status& status) {
  if (st_bad(status, "Subroutine KZT_RESTORE_DISPLAY V0.1")) return;
  int length = 0;
  int retstat = 0;
  std::string table;
  IO_INQ_KEYVALUE("COLOUR_TABLE", length, table, retstat, status);
  if (retstat == 0) {
    for (int scheme = 1; scheme <= 11; ++scheme) {
      if (table.substr(0, SLEN(table)) != gs_scheme_name(scheme)) continue;
      int current = 0;
      int levels = 0;
      GS_INQ_LUTCHOICE(current, levels, status);
      Status local = kStatusGood;
      GS_SET_LUTCHOICE(scheme, levels, local);
      GS_COLOURS(local);
      if (local != kStatusGood) saved_setting_refused("COLOUR_TABLE");
    }
  }

  bool mode_found = false;
  int mode = 0;
  float minimum = 0.0f;
  float maximum = 1.0f;
  bool log = false;
  IO_INQ_IKEYVALUE("Z_SCALING_MODE", mode, retstat, status);
  mode_found = retstat == 0;
  IO_INQ_RKEYVALUE("Z_SCALING_MINIMUM", minimum, retstat, status);
  IO_INQ_RKEYVALUE("Z_SCALING_MAXIMUM", maximum, retstat, status);
  IO_INQ_LKEYVALUE("Z_SCALING_LOG", log, retstat, status);

  std::string style;
  IO_INQ_KEYVALUE("CURVE_STYLE_1", length, style, retstat, status);
  if (retstat == 0) {
    const auto switches = three_logicals(style);
    Status local = kStatusGood;
    if (switches) GS_SET_CURVESTYLE(1, (*switches)[0], (*switches)[1], (*switches)[2], local);
    if (!switches || local != kStatusGood) saved_setting_refused("CURVE_STYLE_1");
  }
  if (!mode_found || status != kStatusGood) return;

  Status local = kStatusGood;
  GS_SET_IMAGESCALE(mode, minimum, maximum, local);
  if (local != kStatusGood) {
    saved_setting_refused("Z_SCALING_MODE");
    return;
  }
  kzt_graph_range_follows(mode, minimum, maximum, status);
  QG_SET_LOGZSCALING(log, status);
  GS_SET_DATALOGLIN(gs_state.x_data_linear, !log, status);
}

void kzt_title_graphics(Status& status) {
  if (st_bad(status, "Subroutine KZT_TITLE_GRAPHICS V0.1")) return;
  QG_WINDOW_TITLE("KESTA GRAPHICS WINDOW", status);
  int format = 0;
  GS_INQ_WINDOWFORMAT(format, status);
  if (format == 1 || format == 3)
    GS_SET_GPP(0.08f, 0.15f, 0.92f, 0.6271f, status);
  else
    GS_SET_GPP(0.08f, 0.3529f, 0.6271f, 0.92f, status);
}

void kzt_poll_graphics(Status& status) {
  if (st_bad(status, "Subroutine KZT_POLL_GRAPHICS V0.1")) return;
  bool pending = false;
  QG_INP_RESIZE(1, pending, status);
}

void kzt_set_image_region(Index xnumdat, Index ynumdat) {
  if (xnumdat < 1 || ynumdat < 1) return;
  Status local = kStatusGood;
  GS_SET_IDR(0.0f, 0.0f, static_cast<float>(xnumdat), static_cast<float>(ynumdat), local);
}

void kzt_plot_data(KztDataSets& sets, std::string& display_command, std::string& graphics_kind,
                   Status& status) {
  if (st_bad(status, "Subroutine KZT_PLOT_DATA V0.1")) return;
  const KztArrays& a = vosq_kzt_arrays;
  // A row or a column is drawn as a graph, of which none is drawn without a
  // finite value: said, and nothing left for PRINT GRAPHICS to print (not
  // even the drawing before).
  graphics_kind.clear();
  const bool graph = a.xendelm == a.xstrelm || a.yendelm == a.ystrelm;
  if (graph && (kzt_no_finite_value(a.xmaxdat, a.ymaxdat, kzt_image(a.data), a.xstrelm,
                                    a.ystrelm, a.xendelm, a.yendelm, "plot", status) ||
                status != kStatusGood))
    return;
  GS_PLOT(a.xmaxdat, a.ymaxdat, kzt_image(a.data), kzt_xline(a.xaxis), kzt_yline(a.yaxis),
          a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.title, sets.xlabel, sets.ylabel,
          sets.zlabel, status);
  graphics_kind = "image";
  GS_UPDATE(status);
  display_command = "PLOT DATA";
}

void kzt_contour_plot(KztDataSets& sets, std::string& graphics_kind, Status& status) {
  if (st_bad(status, "Subroutine KZT_CONTOUR_PLOT V0.1")) return;
  // What PRINT GRAPHICS draws again is what this draws, if anything: a
  // command that draws nothing leaves nothing to print.
  graphics_kind.clear();
  // Without graphics there is nothing to draw on: said as the other
  // drawing commands say it, though a running macro goes on.
  if (!sets.graphics_on) {
    IO_WRITE("WARNING: Graphics system is turned off. You must \"EXIT\" and restart KESTA",
             status);
    return;
  }
  const KztArrays& a = vosq_kzt_arrays;
  const std::span<const float> data = kzt_image(a.data);
  // Data without a finite value are said in one line, with nothing drawn
  // (no empty frame or graph that PRINT GRAPHICS would print).
  const auto none = [&](Index yend, std::string_view purpose) {
    return kzt_no_finite_value(a.xmaxdat, a.ymaxdat, data, a.xstrelm, a.ystrelm, a.xendelm, yend,
                               purpose, status) ||
           status != kStatusGood;
  };
  if (a.yendelm - a.ystrelm > 1) {
    if (none(a.yendelm, "contour") ||
        gs_say_nothing_drawable(GsDrawing::kContour, a.xmaxdat, a.ymaxdat, data, a.xstrelm,
                                a.ystrelm, a.xendelm, a.yendelm, status))
      return;
    GS_2DCONTOUR(a.xmaxdat, a.ymaxdat, data, kzt_xline(a.xaxis), kzt_yline(a.yaxis), a.xstrelm,
                 a.ystrelm, a.xendelm, a.yendelm, sets.title, sets.xlabel, sets.ylabel, sets.zlabel,
                 status);
    graphics_kind = "contour";
  } else if (a.ystrelm == 1) {
    if (kzt_no_first_row_graph(a.xmaxdat, a.ymaxdat, data, a.xstrelm, a.ystrelm, a.xendelm,
                               a.yendelm, status))
      return;
    GS_XYSGRAPH(a.xmaxdat, a.xstrelm, a.xendelm, kzt_xline(a.xaxis),
                data.first(static_cast<std::size_t>(a.xmaxdat)), sets.title, sets.xlabel,
                sets.zlabel, status);
    graphics_kind = "x/y graph";
  } else {
    kzt_say_rows_not_drawn(status);
    return;
  }
  GS_UPDATE(status);
}

void kzt_colour_table(Status& status) {
  if (st_bad(status, "Subroutine KZT_COLOUR_TABLE V0.1")) return;
  GS_INP_LUT(status);
  int scheme = 0;
  int levels = 0;
  GS_INQ_LUTCHOICE(scheme, levels, status);
  if (status != kStatusGood) return;
  const std::string_view name = gs_scheme_name(scheme);
  int retstat = 0;
  IO_SET_KEYVALUE("COLOUR_TABLE", static_cast<int>(name.size()), name, retstat, status);
}

}  // namespace kesta
