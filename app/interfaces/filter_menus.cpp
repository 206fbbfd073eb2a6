// The filter and geometric sub-menus of the image processing interface.
// Operations that write the memory hand their result back: the memory is
// described and exchanged with the current data, so the result is shown and
// the input stays in the memory.

#include <string>

#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/geometric_transforms.hpp"
#include "app/imageops/image_filters.hpp"
#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "core/status.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/rebin.hpp"

namespace kesta {
namespace {

KztArrays& arrays() { return vosq_kzt_arrays; }

constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;
constexpr unsigned kData = kMenuNeedsData;
constexpr unsigned kDataMemory = kMenuNeedsData | kMenuNeedsMemory;

struct SubMenu {};

void run_exchange(MenuPass& pass, SubMenu&, Status& status) { KZT_EXCHANGE(pass.sets, status); }

void run_full(MenuPass&, SubMenu&, Status& status) {
  KztArrays& a = arrays();
  KZT_FULL(a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, status);
}

void run_zoom_in(MenuPass& pass, SubMenu&, Status& status) {
  KztArrays& a = arrays();
  const KztDataSets& s = pass.sets;
  KZT_ZOOMIN(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
             kzt_image(a.data), s.title, s.xlabel, s.ylabel, s.zlabel, a.xstrelm, a.ystrelm,
             a.xendelm, a.yendelm, status);
}

// The result written into the memory over the active data region becomes
// the current data.
void hand_back_region(KztDataSets& sets, Status& status) {
  if (status != kStatusGood) return;
  kzt_memory_result(sets, status);
  KZT_EXCHANGE(sets, status);
}

// The memory a geometric operation wrote (its extent in M) becomes the
// current data.
void hand_back_extent(KztDataSets& sets, const KztMemoryExtent& m, Status& status) {
  if (status != kStatusGood || !m.written()) return;
  kzt_describe_memory(sets, m);
  KZT_EXCHANGE(sets, status);
}

// ---- FILTER ----

void run_median(MenuPass& pass, SubMenu&, Status& status) {
  const KztArrays& a = arrays();
  KZT_MEDIANFILTER(true, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                   kzt_image(a.data), kzt_image(a.mdata), status);
  hand_back_region(pass.sets, status);
}

void run_smooth(MenuPass& pass, SubMenu&, Status& status) {
  const KztArrays& a = arrays();
  KZT_BLUR(true, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
           pass.sets.variances_exist, kzt_image(a.data), kzt_image(a.variances),
           kzt_image(a.mdata), kzt_image(a.mvariances), status);
  hand_back_region(pass.sets, status);
}

void run_filter_help(MenuPass&, SubMenu&, Status& status) {
  GS_MESSAGE(3, 3,
             {"     Welcome to the KESTA  Filteral operations menu.", "",
              "The commands here allow you to perform filter operations."},
             status);
}

using Row = MenuRow<SubMenu>;

const Row kFilterRows[] = {
    {"EXIT", "EXIT: Exit from filter menu", 0, MenuRedraw::kNothing, menu_exit<SubMenu>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<SubMenu>},
    {"HELP", "HELP: Help text on this graphical menu", 0, kAll, run_filter_help},
    {"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", kMenuNeedsMemory, kAll,
     run_exchange},
    {"FULL", "FULL: View image of full data", kData, kAll, run_full},
    {"MEDIAN", "MEDIAN: Apply median filter of specified size", kDataMemory, kAll, run_median},
    {"SMOOTH", "SMOOTH: (Blur) using top-hat convolution of specified size", kDataMemory, kAll,
     run_smooth},
    {"ZOOM IN", "ZOOM IN: Define smaller graphical display region", kData, kAll, run_zoom_in},
};
static_assert(std::size(kFilterRows) == 8);

// ---- GEOMETRIC ----

// Kept for the run: the two answers of the last FLIP.
struct FlipAnswers {
  bool left_right = true;
  bool top_bottom = true;
};

void run_flip(MenuPass& pass, SubMenu&, Status& status) {
  FlipAnswers answers = remembered<FlipAnswers>();
  GS_INPL(false, false, false, true, "FLIP LEFT / RIGHT",
          {"Click \"YES\" to reverse the elements horizontally"}, {"\"YES\" or \"NO\""},
          answers.left_right, status);
  GS_INPL(false, false, false, true, "FLIP TOP / BOTTOM",
          {"Click \"YES\" to reverse the elements vertically"}, {"\"YES\" or \"NO\""},
          answers.top_bottom, status);
  if (status != kStatusGood) return;
  remembered<FlipAnswers>() = answers;
  const KztArrays& a = arrays();
  for (const bool left_right : {true, false}) {
    if (!(left_right ? answers.left_right : answers.top_bottom)) continue;
    MA_RFLIP(left_right, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
             kzt_image(a.data), status);
    if (pass.sets.variances_exist)
      MA_RFLIP(left_right, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
               kzt_image(a.variances), status);
  }
}

void run_extend(MenuPass& pass, SubMenu&, Status& status) {
  KztArrays& a = arrays();
  KZT_EXTEND(true, a.xmaxdat, a.ymaxdat, pass.sets.variances_exist, a.xnumdat, a.ynumdat,
             a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
             kzt_image(a.data), kzt_image(a.variances), status);
}

void run_rebin(MenuPass& pass, SubMenu&, Status& status) {
  const KztArrays& a = arrays();
  KztDataSets& s = pass.sets;
  KztMemoryExtent m;
  bool written = false;
  float mx_pixel_size = s.mx_pixel_size, my_pixel_size = s.my_pixel_size;
  KZT_REBIN(true, s.x_pixel_size, s.y_pixel_size, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis),
            kzt_yline(a.yaxis), kzt_image(a.data), kzt_image(a.variances), a.xstrelm, a.ystrelm,
            a.xendelm, a.yendelm, s.variances_exist, written, kzt_xline(a.mxaxis),
            kzt_yline(a.myaxis), kzt_image(a.mdata), kzt_image(a.mvariances), m, mx_pixel_size,
            my_pixel_size, status);
  if (status != kStatusGood || !written) return;
  s.mx_pixel_size = mx_pixel_size;
  s.my_pixel_size = my_pixel_size;
  hand_back_extent(s, m, status);
}

void run_reflect(MenuPass& pass, SubMenu&, Status& status) {
  const KztArrays& a = arrays();
  KztDataSets& s = pass.sets;
  KztMemoryExtent m;
  KZT_REFLECT(true, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
              kzt_image(a.data), kzt_image(a.variances), a.xstrelm, a.ystrelm, a.xendelm,
              a.yendelm, s.variances_exist, kzt_xline(a.mxaxis), kzt_yline(a.myaxis),
              kzt_image(a.mdata), kzt_image(a.mvariances), m, status);
  if (status != kStatusGood || !m.written()) return;
  s.mx_pixel_size = s.x_pixel_size;
  s.my_pixel_size = s.y_pixel_size;
  hand_back_extent(s, m, status);
}

void run_transform(MenuPass& pass, SubMenu&, Status& status) {
  const KztArrays& a = arrays();
  KztDataSets& s = pass.sets;
  KztMemoryExtent m;
  float x_pixel_size = s.x_pixel_size, y_pixel_size = s.y_pixel_size;
  KZT_TRANSFORM(kzt_transform_form, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis),
                kzt_yline(a.yaxis), kzt_image(a.data), a.xstrelm, a.ystrelm, a.xendelm,
                a.yendelm, x_pixel_size, y_pixel_size, kzt_xline(a.mxaxis), kzt_yline(a.myaxis),
                kzt_image(a.mdata), m, status);
  if (status != kStatusGood || !m.written()) return;
  s.mx_pixel_size = x_pixel_size;
  s.my_pixel_size = y_pixel_size;
  hand_back_extent(s, m, status);
}

void run_transpose(MenuPass& pass, SubMenu&, Status& status) {
  if (kzt_transpose_to_memory(true, pass.sets, status)) KZT_EXCHANGE(pass.sets, status);
}

void run_geometric_help(MenuPass&, SubMenu&, Status& status) {
  GS_MESSAGE(3, 3,
             {"     Welcome to the KESTA  Geometrical operations menu.", "",
              "The commands here allow you to perform geometric operations."},
             status);
}

const std::string kGeometricWelcome[] = {
    "", "WELCOME TO THE GENERAL", "", "IMAGE PROCESSING GUI", "", "GEOMETRIC SUB-MENU", "",
};

const Row kGeometricRows[] = {
    {"EXIT", "EXIT: Exit from geometric menu", 0, MenuRedraw::kNothing, menu_exit<SubMenu>},
    {"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", kMenuNeedsMemory, kAll,
     run_exchange},
    {"EXTEND", "EXTEND: Make the defined data region larger", kData, kAll, run_extend},
    {"FLIP", "FLIP: Top to bottom, and/or left to right element exchange", kData, kAll,
     run_flip},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<SubMenu>},
    {"FULL", "FULL: View image of full data", kData, kAll, run_full},
    {"REFLECT", "REFLECT: Mirror Reflection about line defined by 2 points", kDataMemory, kAll,
     run_reflect},
    {"TRANSPOSE", "TRANSPOSE: Active data region element tranposition", kDataMemory, kAll,
     run_transpose},
    {"HELP", "HELP: Help text on this graphical menu", 0, kAll, run_geometric_help},
    {"RE-BIN", "RE-BIN: Re-bin pixels by integer or non-integer factors", kDataMemory, kAll,
     run_rebin},
    {"TRANSFORM", "TRANSFORM: Rotate about a fixed point and translate", kDataMemory, kAll,
     run_transform},
    {"ZOOM IN", "ZOOM IN: Graphical region definition", kData, kAll, run_zoom_in},
};
static_assert(std::size(kGeometricRows) == 12);

bool sub_menu_refused(std::string_view position, Status& status) {
  if (st_bad(status, position)) return true;
  const KztArrays& a = arrays();
  return kzt_region_refused(position, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                            a.yendelm, status, {});
}

}  // namespace

void KZT_GUI_FILTER(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_FILTER V0.2";
  if (sub_menu_refused(kPosition, status)) return;
  InterfaceTable<SubMenu> table;
  table.position = kPosition;
  table.rows = kFilterRows;
  table.layout = {1, 3, 20, 9};
  SubMenu menu;
  kzt_interface(table, sets, menu, status);
}

void KZT_GUI_GEOMETRIC(KztDataSets& sets, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_GEOMETRIC V0.3";
  if (sub_menu_refused(kPosition, status)) return;
  InterfaceTable<SubMenu> table;
  table.position = kPosition;
  table.rows = kGeometricRows;
  table.layout = {0, 4, 20, 9};
  table.welcome = kGeometricWelcome;
  SubMenu menu;
  kzt_interface(table, sets, menu, status);
}

}  // namespace kesta
