// The GRID sub-menu of the display options and the REGION OF INTEREST menu.

#include <algorithm>
#include <array>
#include <string>

#include "app/imageops/colour_menus.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/interfaces/help_texts.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/status.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// The menus draw the image they were given; the loop needs a data set only
// for what it says about the data: here they are defined.
KztDataSets shown_data(std::string_view title, std::string_view xlabel, std::string_view ylabel,
                       std::string_view zlabel) {
  KztDataSets sets;
  sets.graphics_on = true;
  sets.data_defined = true;
  sets.title = title;
  sets.xlabel = xlabel;
  sets.ylabel = ylabel;
  sets.zlabel = zlabel;
  return sets;
}

// ---- GRID ----

struct GridMenu {
  GsDisplayedImage image;
  std::array<bool, 4> on{};  // horizontal coarse, vertical coarse, horizontal fine, vertical fine
};

constexpr std::string_view kGridKinds[] = {"HORIZONTAL COARSE", "VERTICAL COARSE",
                                           "HORIZONTAL FINE", "VERTICAL FINE"};
constexpr int kFirstToggle = 4;

// A toggle shows what a click would do.
void grid_button(MenuPass& pass, int kind, bool on) {
  const std::string name(kGridKinds[kind]);
  std::string lines = name.substr(0, name.find(' ')) == "HORIZONTAL" ? "horizontal" : "vertical";
  lines += name.find("COARSE") != std::string::npos ? " coarse grid lines" : " fine grid lines";
  pass.buttons[kFirstToggle + kind] = on ? "NO " + name : name;
  pass.help[kFirstToggle + kind] =
      on ? "NO " + name + ": Remove " + lines : name + ": Add " + lines;
}

void enter_grid(MenuPass& pass, GridMenu& grid, Status& status) {
  GS_INQ_GRID(grid.on[0], grid.on[1], grid.on[2], grid.on[3], status);
  for (int kind = 0; kind < 4; ++kind) grid_button(pass, kind, grid.on[kind]);
}

void store_grid(const GridMenu& grid, Status& status) {
  GS_SET_GRID(grid.on[0], grid.on[1], grid.on[2], grid.on[3], status);
}

GsDisplayedImage grid_image(const MenuPass&, const GridMenu& grid) { return grid.image; }

void run_toggle(MenuPass& pass, GridMenu& grid, Status&) {
  const int kind = pass.row - kFirstToggle;
  grid.on[kind] = !grid.on[kind];
  grid_button(pass, kind, grid.on[kind]);
}

void run_update(MenuPass&, GridMenu& grid, Status& status) { store_grid(grid, status); }

const std::string kGridHelp[] = {
    "The grid option allows the addition or removal of grid lines",
    "on graphs and images. \"Coarse\" grid lines are drawn at the",
    "large axis tick marks, \"fine\" grid lines at the small tick",
    "marks, horizontally and vertically. Each button switches one",
    "kind; \"UPDATE\" draws the graphics again with the chosen lines.",
    "The line style, colour and width of the grid are set with the",
    "keyboard command \"SET GRID STYLE\".",
};

void run_grid_list(MenuPass& pass, GridMenu& grid, Status& status) {
  menu_list_lines(pass, status);
  store_grid(grid, status);
}

void run_grid_help(MenuPass&, GridMenu& grid, Status& status) {
  kzt_help_page(true, kGridHelp, status);
  store_grid(grid, status);
}

using GridRow = MenuRow<GridMenu>;
const GridRow kGridRows[] = {
    {"EXIT", "EXIT: Exit from this sub-menu", 0, MenuRedraw::kNothing, menu_exit<GridMenu>},
    {"?", "?: Display list of commands with short description", 0, MenuRedraw::kImageAndMenu,
     run_grid_list},
    {"HELP", "HELP: Further help information on grid options", 0, MenuRedraw::kImageAndMenu,
     run_grid_help},
    {"UPDATE", "UPDATE: Re-draw graphics with current grid requirements", 0,
     MenuRedraw::kImageAndMenu, run_update},
    {"HORIZONTAL COARSE", "", 0, MenuRedraw::kMenu, run_toggle},
    {"VERTICAL COARSE", "", 0, MenuRedraw::kMenu, run_toggle},
    {"HORIZONTAL FINE", "", 0, MenuRedraw::kMenu, run_toggle},
    {"VERTICAL FINE", "", 0, MenuRedraw::kMenu, run_toggle},
};
const std::string kGridTitle[] = {"KESTA: IMAGE: OPTIONS: GRID"};

// ---- REGION OF INTEREST ----

struct RoiMenu {
  GsDisplayedImage image;  // its region is the region chosen
  Index xnumdat = 1, ynumdat = 1;
};

GsDisplayedImage roi_image(const MenuPass&, const RoiMenu& roi) { return roi.image; }

void run_roi_unzoom(MenuPass&, RoiMenu& roi, Status& status) {
  GsDisplayedImage& im = roi.image;
  GS_INP_UNZOOM(im.xmaxdat, im.ymaxdat, roi.xnumdat, roi.ynumdat, im.xstrelm, im.ystrelm,
                im.xendelm, im.yendelm, status);
}

void run_roi_full(MenuPass&, RoiMenu& roi, Status& status) {
  GsDisplayedImage& im = roi.image;
  KZT_FULL(roi.xnumdat, roi.ynumdat, im.xstrelm, im.ystrelm, im.xendelm, im.yendelm, status);
}

void run_roi_zoom(MenuPass&, RoiMenu& roi, Status& status) {
  GsDisplayedImage& im = roi.image;
  KZT_ZOOMIN(im.xmaxdat, im.ymaxdat, roi.xnumdat, roi.ynumdat, im.xaxis, im.yaxis, im.data,
             im.title, im.xlabel, im.ylabel, im.zlabel, im.xstrelm, im.ystrelm, im.xendelm,
             im.yendelm, status);
}

using RoiRow = MenuRow<RoiMenu>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;
const RoiRow kRoiRows[] = {
    {"EXIT", "EXIT: Exit from sub-menu", 0, MenuRedraw::kNothing, menu_exit<RoiMenu>},
    {"?", "?: Display list of commands with short description", 0, MenuRedraw::kMenu,
     menu_list<RoiMenu>},
    {"HELP", "HELP: Help text on menu and available choices", 0, MenuRedraw::kMenu,
     menu_help<RoiMenu>},
    {"UN-ZOOM", "UN-ZOOM: Make display region bigger", 0, kAll, run_roi_unzoom},
    {"FULL", "FULL: Make display region cover all defined data", 0, kAll, run_roi_full},
    {"ZOOM IN", "ZOOM IN: Graphical region definition", 0, kAll, run_roi_zoom},
};
const std::string kRoiTitle[] = {"KESTA: REGION OF INTEREST MENU"};

}  // namespace

void KZT_GUI_GRID(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                  std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::string_view title, std::string_view xlabel,
                  std::string_view ylabel, std::string_view zlabel, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_GRID V0.2";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  GridMenu grid;
  grid.image = kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                                   mask, xaxis, yaxis, title, xlabel, ylabel, zlabel);
  InterfaceTable<GridMenu> table;
  table.position = kPosition;
  table.rows = kGridRows;
  table.layout = {1, 2, 30, 20};
  table.titles = kGridTitle;
  table.image = grid_image;
  table.enter = enter_grid;
  table.store = store_grid;
  KztDataSets sets = shown_data(title, xlabel, ylabel, zlabel);
  kzt_interface(table, sets, grid, status);
}

void KZT_GUI_ROI(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                 std::span<const float> xaxis, std::span<const float> yaxis,
                 std::span<const float> data, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, std::string_view zlabel, Index& xstrelm, Index& ystrelm,
                 Index& xendelm, Index& yendelm, std::string& plot_type, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_ROI V0.3";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  RoiMenu roi;
  roi.xnumdat = std::clamp<Index>(xnumdat, 1, xmaxdat);
  roi.ynumdat = std::clamp<Index>(ynumdat, 1, ymaxdat);
  roi.image = kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, {},
                                  xaxis, yaxis, title, xlabel, ylabel, zlabel);
  InterfaceTable<RoiMenu> table;
  table.position = kPosition;
  table.rows = kRoiRows;
  table.layout = {1, 2, 30, 10};
  table.titles = kRoiTitle;
  table.image = roi_image;
  table.help_text = KZT_GUI_ROIHELP;
  KztDataSets sets = shown_data(title, xlabel, ylabel, zlabel);
  plot_type = "image";
  kzt_interface(table, sets, roi, plot_type, status);
  // The region chosen, also when the menu ended on a failure.
  xstrelm = roi.image.xstrelm;
  ystrelm = roi.image.ystrelm;
  xendelm = roi.image.xendelm;
  yendelm = roi.image.yendelm;
}

}  // namespace kesta
