#include "app/imageops/display_menu.hpp"

#include "app/imageops/click_readout.hpp"
#include "app/imageops/colour_menus.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/printing.hpp"
#include "app/imageops/statistics_commands.hpp"
#include "app/imageops/surface_viewer.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/views3d.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

const std::string kDisplayButtons[] = {
    "EXIT",       "ARC SLICE", "CONTOUR PLOT", "DISTANCE",   "?",
    "NUMBERS",    "PIXEL (X/Y)", "PROJECTION", "HELP",       "SATURATED",
    "SLICE",      "STATISTICS", "PRINT",       "3-D SURFACE", "3-D LINES"};

const std::string kDisplayLines[] = {
    "EXIT: Exit from sub-menu",
    "ARC SLICE: 1-D slice through a curved arc",
    "CONTOUR PLOT: Data displayed with contour lines",
    "DISTANCE: Measure distance between two points",
    "?: Display list of commands with short description",
    "NUMBERS: Print intensity values around a clicked coordinate",
    "PIXEL (X/Y): Details of cursor defined coordinate",
    "PROJECTION: Re-binning of a region onto an arbitrary line",
    "HELP: Text explaining menu choices",
    "SATURATED: Number of pixels equal or above a threshold value",
    "SLICE: 1-D slice of line between two cursor input points",
    "STATISTICS: Integration statistics, average, sigma etc.",
    "PRINT: Output current graphics to PostScript file",
    "3-D SURFACE: Data displayed as 3-D surface",
    "3-D LINES: Simple 3-d line plot of data"};

const std::string kDisplayHelp[] = {
    "-------------------------------------------------------",
    "             Welcome to the KESTA DISPLAY",
    "                    Graphical Menu",
    "-------------------------------------------------------",
    "",
    "This menu shows the current data in other forms and",
    "inspects them. Each button is described below.",
    "",
    "EXIT: Returns to the menu from which this one was",
    "called.",
    "",
    "ARC SLICE: Three clicks define an arc (start, a point",
    "on the arc, end); the values along it are stored in",
    "the memory as a 1-D data set and drawn as a graph.",
    "",
    "CONTOUR PLOT: The data drawn as contour lines. There",
    "is no control of the number of lines or their values.",
    "",
    "DISTANCE: Two clicks; the distance between them is",
    "written in pixels and in millimetres.",
    "",
    "?: Lists the buttons with a short description.",
    "",
    "NUMBERS: Writes the values of the 11 by 11 pixels",
    "round the clicked pixel to the terminal window.",
    "",
    "PIXEL (X/Y): Position and value of clicked pixels,",
    "with d-spacings when the geometry is defined.",
    "",
    "PROJECTION: Re-bins a strip of the data onto a line;",
    "the profile is stored in the memory.",
    "",
    "HELP: Shows this text.",
    "",
    "SATURATED: Counts the pixels equal to or above an",
    "entered threshold value.",
    "",
    "SLICE: Two clicks define a line; the values along it",
    "are stored in the memory and drawn as a graph.",
    "",
    "PRINT: Writes the current graphics to a PostScript",
    "file.",
    "",
    "STATISTICS: Integrated intensity, average, standard",
    "deviation and more of a clicked polygon.",
    "",
    "3-D SURFACE: The data as a shaded surface that can be",
    "turned, tilted, zoomed and printed.",
    "",
    "3-D LINES: A simple plot of the rows as lines in",
    "three dimensions.",
    "",
    "A click on the image beside the buttons shows the",
    "position and value of the clicked pixel.",
    "",
    "-------------------------------------------------------",
    "                   END OF HELP TEXT",
    "-------------------------------------------------------"};

const std::string kWaitButtons[] = {"EXIT", "?", "PRINT"};
const std::string kWaitLines[] = {"EXIT: Exit from current display and continue",
                                  "?: Display list of commands with short description",
                                  "PRINT: Output current graphics to PostScript file"};

// The graph of the region's first row; false (said) when the region, or
// else that row, has no finite value, of which no graph is drawn.
bool first_row_graph(const KztDisplayed& d, std::string& graphics_kind, Status& status) {
  if (kzt_no_first_row_graph(d.xmaxdat, d.ymaxdat, d.data, d.xstrelm, d.ystrelm, d.xendelm,
                             d.yendelm, status))
    return false;
  GS_XYSGRAPH(d.xmaxdat, d.xstrelm, d.xendelm, d.xaxis,
              d.data.subspan(static_cast<std::size_t>(element(1, d.ystrelm, d.xmaxdat)),
                             static_cast<std::size_t>(d.xmaxdat)),
              d.title, d.xlabel, d.zlabel, status);
  GS_UPDATE(status);
  graphics_kind = "x/y graph";
  return true;
}

}  // namespace

void KZT_DISPLAYHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_DISPLAYHELP V0.1")) return;
  kzt_help_page(gui, kDisplayHelp, status);
}

void KZT_CONTINUE(std::string_view graphics_kind, const KztDisplayed& d, Status& status) {
  if (st_bad(status, "Subroutine KZT_CONTINUE V0.1")) return;
  bool first = true;
  while (status == kStatusGood) {
    GS_SET_MENULAYOUT(0, 3, 30, 8, status);
    GS_FMENU(1, 1, {first ? "KESTA: DISPLAY WAIT MENU" : "DISPLAY WAIT MENU"}, 3, 3, kWaitButtons,
             status);
    first = false;
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(3, 3, kWaitButtons, 1, type, command, x, y, status);
    if (status != kStatusGood || (type == kGsChoiceButton && command == "EXIT")) break;
    if (type != kGsChoiceButton) continue;
    if (command == "?") {
      GS_MESSAGE(3, 3, kWaitLines, status);
    } else if (command == "PRINT") {
      KZT_PRINT(true, graphics_kind, false, d.xmaxdat, d.ymaxdat, d.xaxis, d.yaxis, d.data,
                d.variances, {}, d.title, d.xlabel, d.ylabel, d.zlabel, d.variances_exist,
                d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, status);
    }
  }
}

void KZT_DISPLAY(const KztDisplayed& d, KztMemoryProfile& memory, std::string& graphics_kind,
                 Status& status) {
  if (kzt_region_refused("Subroutine KZT_DISPLAY V0.1", d.xmaxdat, d.ymaxdat, d.xstrelm,
                         d.ystrelm, d.xendelm, d.yendelm, status, {d.data.size()}))
    return;
  graphics_kind = "image";
  constexpr int kButtons = static_cast<int>(std::size(kDisplayButtons));
  bool image = false, menu = true;
  // Entered before any data, the menu offers its help and its exit; every
  // other choice says that data are needed and the menu stays.
  const auto needs_data = [](std::string_view command) {
    return command != "EXIT" && command != "?" && command != "HELP" && command != "null";
  };
  while (status == kStatusGood) {
    if (image && !d.data_defined) {
      GS_BACKGROUND(status);
      menu = true;
    } else if (image) {
      GS_PLOT(d.xmaxdat, d.ymaxdat, d.data, d.xaxis, d.yaxis, d.xstrelm, d.ystrelm, d.xendelm,
              d.yendelm, d.title, d.xlabel, d.ylabel, d.zlabel, status);
      GS_UPDATE(status);
      graphics_kind = "image";
      menu = true;
    }
    if (menu) {
      GS_SET_MENULAYOUT(0, 4, 30, 12, status);
      GS_FMENU(1, 1, {"KESTA: IMAGE: DISPLAY MENU"}, kButtons, kButtons, kDisplayButtons, status);
    }
    image = menu = true;
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(kButtons, kButtons, kDisplayButtons, 2, type, command, x, y, status);
    // No more answers (end of the input, a lost window) leave the menu.
    if (status != kStatusGood) break;
    const bool one_row = d.yendelm - d.ystrelm < 2;
    if (!d.data_defined && type == kGsChoicePoint) {
      image = menu = false;  // nothing shown to click on
    } else if (!d.data_defined && type == kGsChoiceButton && needs_data(command)) {
      gs_refusal({"DATA NEEDED, BUT NONE IS DEFINED"}, status);
    } else if (type == kGsChoicePoint) {
      KZT_CLICK(d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.xaxis,
                d.yaxis, d.data, d.title, d.xlabel, d.ylabel, d.zlabel, x, y, d.x_pixel_size,
                d.y_pixel_size, image, menu, status);
    } else if (type != kGsChoiceButton) {
      image = type == kGsChoiceRedraw;
    } else if (command == "null") {
      image = menu = false;
    } else if (command == "EXIT") {
      break;
    } else if (command == "ARC SLICE") {
      KZT_ARCSLICE(d, memory, status);
    } else if (command == "CONTOUR PLOT") {
      // Data without a finite value are said once: no empty frame or graph,
      // no wait under it, and the image left as it is.
      bool drawn = false;
      if (one_row) {
        drawn = first_row_graph(d, graphics_kind, status);
      } else if (!kzt_no_finite_value(d.xmaxdat, d.ymaxdat, d.data, d.xstrelm, d.ystrelm,
                                      d.xendelm, d.yendelm, "contour", status) &&
                 !gs_say_nothing_drawable(GsDrawing::kContour, d.xmaxdat, d.ymaxdat, d.data,
                                          d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, status)) {
        GS_2DCONTOUR(d.xmaxdat, d.ymaxdat, d.data, d.xaxis, d.yaxis, d.xstrelm, d.ystrelm,
                     d.xendelm, d.yendelm, d.title, d.xlabel, d.ylabel, d.zlabel, status);
        GS_UPDATE(status);
        graphics_kind = "contour";
        drawn = true;
      }
      if (drawn)
        KZT_CONTINUE(graphics_kind, d, status);
      else
        image = false;
    } else if (command == "DISTANCE") {
      KZT_DISTANCE(d, status);
    } else if (command == "?") {
      GS_MESSAGE(kButtons, kButtons, kDisplayLines, status);
    } else if (command == "NUMBERS") {
      KZT_NUMBERS(d, status);
      image = false;
    } else if (command == "PIXEL (X/Y)") {
      KZT_PIXELXY(d, status);
      image = false;
    } else if (command == "PROJECTION") {
      KZT_PROJECTION(d, memory, status);
    } else if (command == "HELP") {
      KZT_DISPLAYHELP(true, status);
    } else if (command == "SATURATED") {
      KZT_SATURATED(d, status);
      image = false;
    } else if (command == "SLICE") {
      KZT_SLICE(d, memory, status);
    } else if (command == "STATISTICS") {
      KZT_GSTATISTICS(d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.xaxis,
                      d.yaxis, d.data, d.title, d.xlabel, d.ylabel, d.zlabel, status);
    } else if (command == "PRINT") {
      KZT_PRINT(true, graphics_kind, false, d.xmaxdat, d.ymaxdat, d.xaxis, d.yaxis, d.data,
                d.variances, {}, d.title, d.xlabel, d.ylabel, d.zlabel, d.variances_exist,
                d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, status);
      image = false;
    } else if (command == "3-D SURFACE") {
      if (kzt_3d_no_finite_value(d.xmaxdat, d.ymaxdat, d.data, d.xstrelm, d.ystrelm, d.xendelm,
                                 d.yendelm, status)) {
        // said once; no graph of rows without a value, no wait under it, and
        // the image (unchanged) not drawn again to say it twice
        image = false;
      } else if (one_row) {
        // The graph stays up until the wait menu's EXIT.
        if (first_row_graph(d, graphics_kind, status))
          KZT_CONTINUE(graphics_kind, d, status);
        else
          image = false;
      } else {
        KZT_3DSURFACE(graphics_kind, d.xmaxdat, d.ymaxdat, d.data, d.xaxis, d.yaxis, d.xstrelm,
                      d.ystrelm, d.xendelm, d.yendelm, d.title, d.xlabel, d.ylabel, d.zlabel,
                      status);
      }
    } else if (command == "3-D LINES") {
      if (d.yendelm <= d.ystrelm) {
        first_row_graph(d, graphics_kind, status);
      } else if (kzt_no_finite_value(d.xmaxdat, d.ymaxdat, d.data, d.xstrelm, d.ystrelm,
                                     d.xendelm, d.yendelm, "draw", status) ||
                 gs_say_nothing_drawable(GsDrawing::kLines, d.xmaxdat, d.ymaxdat, d.data,
                                         d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, status)) {
        // said before any warning about lines, and nothing drawn
      } else {
        GS_3DLINES(true, d.xmaxdat, d.ymaxdat, d.data, d.xaxis, d.yaxis, d.xstrelm, d.ystrelm,
                   d.xendelm, d.yendelm, d.title, d.xlabel, d.ylabel, d.zlabel, status);
        GS_UPDATE(status);
        graphics_kind = "3-d lines";
      }
      image = false;
    }
    // An escape inside an operation leaves the menu up.
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
  }
}

}  // namespace kesta
