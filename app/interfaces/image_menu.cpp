// The IMAGE menu (moving around the displayed region) and the OPTIONS menu
// of display settings.

#include "app/interfaces/image_menu.hpp"

#include <algorithm>
#include <string>

#include "app/imageops/colour_menus.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/display_menu.hpp"
#include "app/imageops/inspection.hpp"
#include "app/imageops/printing.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "app/interfaces/display_rows.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/status.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// How one axis of the region moves.
enum class Step { kKeep, kToFirst, kToLast, kBack, kForward, kCentre };

struct Move {
  std::string_view button;
  Step x, y;
};

constexpr Move kMoves[] = {
    {"FAR-LEFT", Step::kToFirst, Step::kKeep},   {"FAR-RIGHT", Step::kToLast, Step::kKeep},
    {"LEFT", Step::kBack, Step::kKeep},          {"RIGHT", Step::kForward, Step::kKeep},
    {"TOP", Step::kKeep, Step::kToLast},         {"BOTTOM", Step::kKeep, Step::kToFirst},
    {"UP", Step::kKeep, Step::kForward},         {"DOWN", Step::kKeep, Step::kBack},
    {"L-TOP", Step::kToFirst, Step::kToLast},    {"L-BOTTOM", Step::kToFirst, Step::kToFirst},
    {"R-TOP", Step::kToLast, Step::kToLast},     {"R-BOTTOM", Step::kToLast, Step::kToFirst},
    {"L-UP", Step::kBack, Step::kForward},       {"L-DOWN", Step::kBack, Step::kBack},
    {"R-UP", Step::kForward, Step::kForward},    {"R-DOWN", Step::kForward, Step::kBack},
    {"CENTRE", Step::kCentre, Step::kCentre},
};

void move_axis(Step step, Index num, Index& start, Index& end) {
  const Index width = end - start + 1;
  Index first = start;  // the new start of a move toward 1
  Index last = end;     // the new end of a move toward the far side
  bool toward_first = true;
  switch (step) {
    case Step::kKeep:
      return;
    case Step::kToFirst:
      first = 1;
      break;
    case Step::kBack:
      first = start - width / 2;
      break;
    case Step::kCentre:
      first = num / 2 - width / 2;
      break;
    case Step::kToLast:
      last = num;
      toward_first = false;
      break;
    case Step::kForward:
      last = end + width / 2;
      toward_first = false;
      break;
  }
  if (toward_first) {
    start = std::max<Index>(first, 1);
    end = std::min(start + width - 1, num);
  } else {
    end = std::min(last, num);
    start = std::max<Index>(end - width + 1, 1);
  }
}

// ---- IMAGE ----

struct ImageMenu {};

void run_move(MenuPass& pass, ImageMenu&, Status&) {
  KztArrays& a = vosq_kzt_arrays;
  kzt_image_move(pass.choice, a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm);
}

void run_print(MenuPass& pass, ImageMenu&, Status& status) {
  kzt_menu_print(pass.sets, pass.plot_type, true, status);
}

using ImageRow = MenuRow<ImageMenu>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;
constexpr unsigned kData = kMenuNeedsData;

const ImageRow kImageRows[] = {
    {"EXIT", "EXIT: Exit from menu", 0, MenuRedraw::kNothing, menu_exit<ImageMenu>},
    {"?", "?: Display list of commands with short description", 0, MenuRedraw::kMenu,
     menu_list<ImageMenu>},
    {"FAR-LEFT", "FAR-LEFT: Move to far left of data", kData, kAll, run_move},
    {"UN-ZOOM", "UN-ZOOM: Make display region bigger", kData, kAll, menu_unzoom<ImageMenu>},
    {"FULL", "FULL: Display all of the data", kData, kAll, menu_full<ImageMenu>},
    {"L-TOP", "L-TOP: Move to top left corner of data", kData, kAll, run_move},
    {"L-UP", "L-UP: Move left and up by half the region", kData, kAll, run_move},
    {"LEFT", "LEFT: Move left by half the region", kData, kAll, run_move},
    {"L-DOWN", "L-DOWN: Move left and down by half the region", kData, kAll, run_move},
    {"L-BOTTOM", "L-BOTTOM: Move to bottom left corner of data", kData, kAll, run_move},
    {"TOP", "TOP: Move to top of data", kData, kAll, run_move},
    {"UP", "UP: Move up by half the region", kData, kAll, run_move},
    {"CENTRE", "CENTRE: Move to centre of data", kData, kAll, run_move},
    {"DOWN", "DOWN: Move down by half the region", kData, kAll, run_move},
    {"BOTTOM", "BOTTOM: Move to bottom of data", kData, kAll, run_move},
    {"R-TOP", "R-TOP: Move to top right corner of data", kData, kAll, run_move},
    {"R-UP", "R-UP: Move right and up by half the region", kData, kAll, run_move},
    {"RIGHT", "RIGHT: Move right by half the region", kData, kAll, run_move},
    {"R-DOWN", "R-DOWN: Move right and down by half the region", kData, kAll, run_move},
    {"R-BOTTOM", "R-BOTTOM: Move to bottom right corner of data", kData, kAll, run_move},
    {"OPTIONS", "OPTIONS: Display control options", 0, MenuRedraw::kMenu,
     menu_options<ImageMenu>},
    {"ZOOM IN", "ZOOM IN: Graphical region definition", kData, kAll, menu_zoom_in<ImageMenu>},
    {"FAR-RIGHT", "FAR-RIGHT: Move to far right of data", kData, kAll, run_move},
    {"DISPLAY", "DISPLAY: Display sub-menu: slices, projections, 3-D views", kData, kAll,
     menu_display<ImageMenu>},
    {"PRINT", "PRINT: Output current graphics to PostScript file", kData, MenuRedraw::kMenu,
     run_print},
};
static_assert(std::size(kImageRows) == 25);

// ---- OPTIONS ----

struct OptionsMenu {};

// What the menu and its own menus draw again: the current data as the
// caller showed them, with the mask while that display was masked.
GsDisplayedImage shown_as_given(const MenuPass& pass, const OptionsMenu& = {}) {
  return menu_loop::current(pass.sets, pass.plot_type == "masked_image");
}

// The mask to draw the image with (empty: drawn without one).
std::span<const std::uint8_t> shown_mask(const GsDisplayedImage& im) {
  return im.mask_data ? im.mask : std::span<const std::uint8_t>{};
}

void run_colours(MenuPass& pass, OptionsMenu&, Status& status) {
  const GsDisplayedImage im = shown_as_given(pass);
  KZT_COLOURS(im.xmaxdat, im.ymaxdat, im.xaxis, im.yaxis, im.data, shown_mask(im), im.title,
              im.xlabel, im.ylabel, im.zlabel, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm,
              status);
}

void run_curve_styles(MenuPass&, OptionsMenu&, Status& status) {
  GS_INP_CURVESTYLES(true, status);
}

// The colour scale bar's button shows what a click would do.
void lut_button(MenuPass& pass, bool bar) {
  const int row = static_cast<int>(pass.buttons.size()) - 1;
  pass.buttons[row] = bar ? "NO LUT" : "DRAW LUT";
  pass.help[row] = bar ? "NO LUT: Don't add the look-up table to the image display"
                       : "DRAW LUT: Add a look-up table to the image display";
}

void run_lut(MenuPass& pass, OptionsMenu&, Status& status) {
  bool bar = false;
  int position = 0;
  GS_INQ_LUT(bar, position, status);
  GS_SET_LUT(!bar, position, status);
  if (status == kStatusGood) lut_button(pass, !bar);
}

void enter_options(MenuPass& pass, OptionsMenu&, Status& status) {
  bool bar = false;
  int position = 0;
  GS_INQ_LUT(bar, position, status);
  lut_button(pass, bar);
}

void run_grid(MenuPass& pass, OptionsMenu&, Status& status) {
  const GsDisplayedImage im = shown_as_given(pass);
  KZT_GUI_GRID(im.xmaxdat, im.ymaxdat, im.data, shown_mask(im), im.xaxis, im.yaxis, im.xstrelm,
               im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel,
               status);
}

void run_position(MenuPass&, OptionsMenu&, Status& status) { KZT_POSITION(status); }

void run_rotate_lut(MenuPass& pass, OptionsMenu&, Status& status) {
  const GsDisplayedImage im = shown_as_given(pass);
  KZT_ROTATELUT(im.xmaxdat, im.ymaxdat, im.xaxis, im.yaxis, im.data, shown_mask(im), im.title,
                im.xlabel, im.ylabel, im.zlabel, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm,
                status);
}

void run_text(MenuPass& pass, OptionsMenu&, Status& status) {
  KztDataSets& s = pass.sets;
  std::string* text = &s.title;
  std::string prompt = "ENTER TITLE FOR IMAGE";
  std::string help = "Enter new title";
  if (pass.choice != "TITLE") {
    const char axis = pass.choice.front();
    text = axis == 'X' ? &s.xlabel : axis == 'Y' ? &s.ylabel : &s.zlabel;
    prompt = std::string("ENTER TEXT FOR ") + axis + "-AXIS LABEL";
    help = std::string("Enter new ") + axis + "-axis label";
  }
  std::string answer = *text;
  GS_INPC(true, prompt, {help}, {"Enter valid characters"}, 1, answer, status);
  if (status != kStatusGood) return;
  if (answer.size() > kKztTextLength) answer.resize(kKztTextLength);
  *text = answer;
}

void run_zscaling(MenuPass& pass, OptionsMenu&, Status& status) {
  const GsDisplayedImage im = shown_as_given(pass);
  KZT_GUI_ZSCALE(im.xmaxdat, im.ymaxdat, im.data, shown_mask(im), im.xaxis, im.yaxis, im.xstrelm,
                 im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel,
                 false, 0.0f, 0.0f, status);
}

void run_aspect(MenuPass& pass, OptionsMenu&, Status& status) {
  bool keep = true;
  GS_INQ_IASPECT(keep, status);
  bool answer = keep;
  GS_INPL(false, false, false, true, "AUTOMATIC CORRECT ASPECT RATIO IMAGE DISPLAY",
          {"\"YES\": the image is drawn with square pixels,", "so its shape is correct;",
           "\"NO\": the image uses the whole display region,", "whatever its shape"},
          {"Enter \"YES\" on \"NO\""}, answer, status);
  if (status != kStatusGood) return;
  if (answer != keep)
    GS_SET_IASPECT(answer, status);
  else
    pass.redraw_image = false;
}

using OptionsRow = MenuRow<OptionsMenu>;
constexpr MenuRedraw kMenuOnly = MenuRedraw::kMenu;

const OptionsRow kOptionsRows[] = {
    {"EXIT", "EXIT: Exit from menu", 0, MenuRedraw::kNothing, menu_exit<OptionsMenu>},
    {"?", "?: Display list of commands with short description", 0, kMenuOnly,
     menu_list<OptionsMenu>},
    {"COLOURS", "COLOURS: Choice of colour table for images", 0, kMenuOnly, run_colours},
    {"CURVE STYLES", "CURVE STYLES: Set line types, markers, colours of curves", 0, kAll,
     run_curve_styles},
    {"GRID", "GRID: Add or remove grid lines", 0, kMenuOnly, run_grid},
    {"POSITION", "POSITION: Graphical definition of the graph position", 0, kAll, run_position},
    {"ROTATE LUT", "ROTATE LUT: Interactive rotation of the colour table", 0, kMenuOnly,
     run_rotate_lut},
    {"TITLE", "TITLE: Change title of image", 0, kAll, run_text},
    {"X-AXIS LABEL", "X-AXIS LABEL: Change X-axis label", 0, kAll, run_text},
    {"Y-AXIS LABEL", "Y-AXIS LABEL: Change Y-axis label", 0, kAll, run_text},
    {"Z-AXIS LABEL", "Z-AXIS LABEL: Change Z-axis (intensity) label", 0, kAll, run_text},
    {"Z-SCALING", "Z-SCALING: Control of image intensity display range", 0, kMenuOnly,
     run_zscaling},
    {"ASPECT RATIO", "ASPECT RATIO: Automatic correct aspect ratio display or not", 0, kAll,
     run_aspect},
    {"DRAW LUT", "DRAW LUT: Add a look-up table to the image display", 0, kAll, run_lut},
};
static_assert(std::size(kOptionsRows) == 14);

}  // namespace

bool kzt_image_move(std::string_view button, Index xnumdat, Index ynumdat, Index& xstrelm,
                    Index& ystrelm, Index& xendelm, Index& yendelm) {
  for (const Move& move : kMoves) {
    if (move.button != button) continue;
    move_axis(move.x, xnumdat, xstrelm, xendelm);
    move_axis(move.y, ynumdat, ystrelm, yendelm);
    return true;
  }
  return false;
}

namespace {

// The arrays and the active data region checked on entry (codes 1, 2, 5, 6).
bool region_refused(std::string_view position, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  return kzt_region_refused(position, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                            a.yendelm, status);
}

}  // namespace

void KZT_IMAGE(KztDataSets& sets, std::string& plot_type, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_IMAGE V0.7";
  if (region_refused(kPosition, status)) return;
  InterfaceTable<ImageMenu> table;
  table.position = kPosition;
  table.rows = kImageRows;
  table.layout = {1, 5, 30, 10};
  table.asks_reset = false;
  ImageMenu menu;
  kzt_interface(table, sets, menu, plot_type, status);
  Status local = kStatusGood;
  GS_FPROMPT(1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, local);
}

void KZT_OPTIONS(KztDataSets& sets, std::string& plot_type, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_OPTIONS V0.5";
  if (region_refused(kPosition, status)) return;
  InterfaceTable<OptionsMenu> table;
  table.position = kPosition;
  table.rows = kOptionsRows;
  table.layout = {0, 3, 30, 12};
  table.enter = enter_options;
  table.image = shown_as_given;
  OptionsMenu menu;
  kzt_interface(table, sets, menu, plot_type, status);
}

}  // namespace kesta
