// The interface IMAGE PROCESSING (GENERAL) and the FILE SERIES interface.

#include <string>

#include "app/diffraction/series_integration.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/display_menu.hpp"
#include "app/imageops/file_series.hpp"
#include "app/imageops/inspection.hpp"
#include "app/imageops/program_target.hpp"
#include "app/imageops/printing.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/status.hpp"
#include "formats/gui_input.hpp"
#include "formats/gui_output.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

KztArrays& arrays() { return vosq_kzt_arrays; }

constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;
constexpr MenuRedraw kMenuOnly = MenuRedraw::kMenu;
constexpr unsigned kData = kMenuNeedsData;

struct GeneralMenu {};

void run_exchange(MenuPass& pass, GeneralMenu&, Status& status) {
  KZT_EXCHANGE(pass.sets, status);
}

void run_display(MenuPass& pass, GeneralMenu&, Status& status) {
  KztMemoryProfile memory = kzt_memory_profile();
  KZT_DISPLAY(kzt_displayed(pass.sets), memory, pass.plot_type, status);
  if (status == kStatusGood) kzt_store_profile(memory, pass.sets);
}

void run_options(MenuPass& pass, GeneralMenu&, Status& status) {
  KZT_OPTIONS(pass.sets, pass.plot_type, status);
}

void run_output(MenuPass& pass, GeneralMenu&, Status& status) {
  const KztArrays& a = arrays();
  const KztDataSets& s = pass.sets;
  FIO_GUI_OUTPUT(s.input_file, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                 kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data),
                 kzt_image(a.variances), s.title, s.xlabel, s.ylabel, s.zlabel,
                 s.variances_exist, s.x_pixel_size, s.y_pixel_size, status);
}

void run_print(MenuPass& pass, GeneralMenu&, Status& status) {
  kzt_menu_print(pass.sets, pass.plot_type, true, status);
}

// ---- IMAGE PROCESSING (GENERAL) ----

const std::string kIpWelcome[] = {
    "", "WELCOME TO THE GENERAL", "", "IMAGE PROCESSING GUI", "", "PRESS \"INPUT\" TO", "",
    "SELECT A FILE", "", "",
};

// A sub-menu or series operation on the data sets.
template <void (*menu)(KztDataSets&, Status&)>
void run_sub_menu(MenuPass& pass, GeneralMenu&, Status& status) {
  menu(pass.sets, status);
}

void run_full(MenuPass&, GeneralMenu&, Status&) {
  KztArrays& a = arrays();
  a.xstrelm = 1;
  a.ystrelm = 1;
  a.xendelm = a.xnumdat;
  a.yendelm = a.ynumdat;
}

// INPUT: the graphical file input into the program arrays; a cancelled
// selection leaves the data unchanged but no longer defined for this menu.
void run_input(MenuPass& pass, GeneralMenu&, Status& status) {
  KztArrays& a = arrays();
  KztDataSets& s = pass.sets;
  const ProgramImageTarget target(s);
  FIO_GUI_INPUT({"SELECT FILE TO INPUT IMAGE DATA", "(click on \"HELP\" for list of formats)"},
                kFioSelectFile, target.target(), s.data_defined, s.input_file, status);
  if (status != kStatusGood) return;
  target.clear_unread_variances(status);
  a.xstrelm = 1;
  a.ystrelm = 1;
  a.xendelm = a.xnumdat;
  a.yendelm = a.ynumdat;
}

void run_movement(MenuPass& pass, GeneralMenu&, Status& status) {
  KZT_IMAGE(pass.sets, pass.plot_type, status);
}

void run_unzoom(MenuPass&, GeneralMenu&, Status& status) {
  KztArrays& a = arrays();
  GS_INP_UNZOOM(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm,
                a.yendelm, status);
}

void run_zoom_in(MenuPass& pass, GeneralMenu&, Status& status) {
  KztArrays& a = arrays();
  const KztDataSets& s = pass.sets;
  KZT_ZOOMIN(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
             kzt_image(a.data), s.title, s.xlabel, s.ylabel, s.zlabel, a.xstrelm, a.ystrelm,
             a.xendelm, a.yendelm, status);
}

void run_zscaling(MenuPass& pass, GeneralMenu&, Status& status) {
  const GsDisplayedImage im = menu_loop::current(pass.sets, false);
  KZT_GUI_ZSCALE(im.xmaxdat, im.ymaxdat, im.data, {}, im.xaxis, im.yaxis, im.xstrelm,
                 im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel,
                 false, 0.0f, 0.0f, status);
}

using Row = MenuRow<GeneralMenu>;

const Row kIpRows[] = {
    {"EXIT", "EXIT: Exit KESTA", 0, MenuRedraw::kNothing, menu_exit<GeneralMenu>},
    {"DISPLAY", "DISPLAY: Further graphical display possibilities", kData, kAll, run_display},
    {"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", kMenuNeedsMemory, kAll,
     run_exchange},
    {"FILTER", "FILTER: Filtering and smoothing operations", kData, kMenuOnly,
     run_sub_menu<KZT_GUI_FILTER>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<GeneralMenu>},
    {"FULL", "FULL: View image of full data", 0, kAll, run_full},
    {"GEOMETRIC", "GEOMETRIC: Geometrical operations on data", kData, kMenuOnly,
     run_sub_menu<KZT_GUI_GEOMETRIC>},
    {"INPUT", "INPUT: Input data from a file on disk", 0, kAll, run_input},
    {"HELP", "HELP: Help text on this grphical menu", 0, kAll, menu_help<GeneralMenu>},
    {"OPTIONS", "OPTIONS: Further display control menu", 0, kMenuOnly, run_options},
    {"OUTPUT", "OUTPUT: Save data in an output file", kData, kAll, run_output},
    {"MATHS", "MATHS: Maths operations, with scalars or element by element", kData, kMenuOnly,
     run_sub_menu<KZT_GUI_MATHS>},
    {"PRINT", "PRINT: Output current graphics to PostScript file", kData, kMenuOnly, run_print},
    {"MOVEMENT", "MOVEMENT: Easily controlled movement around an image", kData, kMenuOnly,
     run_movement},
    {"UN-ZOOM", "UN-ZOOM: Zoom out to see more of the data", 0, kAll, run_unzoom},
    {"ZOOM IN", "ZOOM IN: Graphical region definition", kData, kAll, run_zoom_in},
    {"Z-SCALING", "Z-SCALING: Automatic or user control of intensity display range", kData,
     kMenuOnly, run_zscaling},
};
static_assert(std::size(kIpRows) == 17);

// ---- FILE SERIES ----

const std::string kFsWelcome[] = {
    "", "WELCOME TO THE FILE", "", "SERIES PROCESSING GUI", "", "\"AVERAGE\" a file series", "",
    "or create a \"COMPOSITE\"", "", "image",
};

template <bool average>
void run_average(MenuPass& pass, GeneralMenu&, Status& status) {
  KZT_AVERAGE(average, pass.sets, status);
}

void run_composite(MenuPass& pass, GeneralMenu&, Status& status) {
  KZT_COMPOSITE(pass.sets, status);
}

const Row kFsRows[] = {
    {"EXIT", "EXIT: Exit KESTA", 0, MenuRedraw::kNothing, menu_exit<GeneralMenu>},
    {"AVERAGE", "AVERAGE: Create average from a series of files", 0, kAll, run_average<true>},
    {"COMPOSITE", "COMPOSITE: Create composite image from a file series", 0, kAll,
     run_composite},
    {"DISPLAY", "DISPLAY: Further graphical display possibilities", kData, kAll, run_display},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<GeneralMenu>},
    {"INPUT (1-D)", "INPUT (1-D): Input a series of 1-D data-sets", 0, kAll,
     run_sub_menu<KZT_FSINPUT>},
    {"INTEGRATE", "INTEGRATE: Integrate n * 2-D regions to choice of n * 1-D scans", 0, kAll,
     run_sub_menu<KZT_FSINTEGRATE>},
    {"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", kMenuNeedsMemory, kAll,
     run_exchange},
    {"HELP", "HELP: Help text on the \"FILE SERIES\" menu", 0, kAll, menu_help<GeneralMenu>},
    {"SUMMATION", "SUMMATION: Sum together a series of images from file", 0, kAll,
     run_average<false>},
    {"OPTIONS", "OPTIONS: Further display control menu", 0, kMenuOnly, run_options},
    {"OUTPUT", "OUTPUT: Save data in an output file", kData, kAll, run_output},
    {"PRINT", "PRINT: Output current graphics to PostScript file", kData, kMenuOnly, run_print},
};
static_assert(std::size(kFsRows) == 13);

}  // namespace

void KZT_GUI_IP(KztDataSets& sets, Status& status) {
  InterfaceTable<GeneralMenu> table;
  table.position = "Subroutine KZT_GUI_IP V0.14";
  table.rows = kIpRows;
  table.layout = {0, 4, 12, 9};
  table.welcome = kIpWelcome;
  table.welcome_place = WelcomePlace::kPage;
  table.escape_asks_again = true;
  table.help_text = KZT_GUI_IPHELP;
  GeneralMenu menu;
  kzt_interface(table, sets, menu, status);
}

void KZT_GUI_FS(KztDataSets& sets, Status& status) {
  InterfaceTable<GeneralMenu> table;
  table.position = "Subroutine KZT_GUI_FS V0.6";
  table.rows = kFsRows;
  table.layout = {0, 4, 12, 9};
  table.welcome = kFsWelcome;
  table.welcome_place = WelcomePlace::kMessageRegion;
  table.uses_mask = true;
  table.escape_asks_again = true;
  table.help_text = KZT_GUI_FSHELP;
  GeneralMenu menu;
  kzt_interface(table, sets, menu, status);
}

}  // namespace kesta
