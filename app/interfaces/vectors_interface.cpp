#include "app/interfaces/vectors_interface.hpp"

#include <algorithm>
#include <vector>

#include "app/imageops/display_commands.hpp"
#include "app/imageops/printing.hpp"
#include "app/interfaces/help_texts.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/status.hpp"
#include "formats/gui_input.hpp"
#include "formats/gui_output.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// Kept for the run: the vector shown last and the input file proposed.
int vec_num = 0;
std::string input_file = "vector.dat";

struct VectorsMenu {
  KztVectors& v;
  std::vector<float> xaxis;  // 1, 2, 3, ...
  bool defined = true;       // the shown vector
  std::span<float> values() const {
    return {v.vectors + static_cast<std::size_t>(vec_num - 1) * v.max_vec_values,
            static_cast<std::size_t>(v.max_vec_values)};
  }
  Index first() const { return v.str_vectors[static_cast<std::size_t>(vec_num - 1)]; }
  Index last() const { return v.end_vectors[static_cast<std::size_t>(vec_num - 1)]; }
};

bool refused_without_vector(const VectorsMenu& menu, Status& status) {
  if (menu.defined) return false;
  gs_refusal({"DATA NEEDED, BUT NONE IS DEFINED"}, status);
  return true;
}

void draw(MenuPass&, VectorsMenu& menu, Status& status) {
  const std::string& title = menu.v.titles[static_cast<std::size_t>(vec_num - 1)];
  const Index first = std::clamp<Index>(menu.first(), 1, menu.v.max_vec_values);
  const Index last = std::clamp<Index>(menu.last(), first, menu.v.max_vec_values);
  GS_XYSGRAPH(menu.v.max_vec_values, first, last, menu.xaxis, menu.values(), title, "Samples",
              "Values", status);
}

// A click on the graph shows its coordinates; nothing is drawn again.
void on_click(MenuPass& pass, VectorsMenu& menu, float x, float y, Status& status) {
  pass.redraw_image = pass.redraw_menu = false;
  if (!refused_without_vector(menu, status)) GS_XYCLICK(x, y, status);
}

void run_zoom(MenuPass&, VectorsMenu& menu, Status& status) {
  if (!refused_without_vector(menu, status)) GS_INP_XYREGION(status);
}

void run_full(MenuPass&, VectorsMenu&, Status& status) {
  GS_SET_AUTODDR(true, true, true, true, status);
}

void run_input(MenuPass&, VectorsMenu& menu, Status& status) {
  bool variances = false;
  Index xnum = 0, ynum = 0;
  std::vector<float> yaxis(1), xaxis(static_cast<std::size_t>(menu.v.max_vec_values));
  std::string title, xlabel, ylabel, zlabel;
  float xps = 1.0f, yps = 1.0f;
  std::string& vector_title = menu.v.titles[static_cast<std::size_t>(vec_num - 1)];
  title = vector_title;
  const ImageTarget target{menu.v.max_vec_values, 1,   variances, xnum,  ynum,
                           xaxis,                 yaxis, menu.values(), {}, title,
                           xlabel,                ylabel, zlabel,    xps,   yps};
  bool defined = false;
  FIO_GUI_INPUT({"SELECT FILE TO INPUT (1-D vector)", "(click on \"HELP\" for list of formats)"},
                kFioSelectFile, target, defined, input_file, status);
  if (status != kStatusGood || !defined) return;
  menu.defined = true;
  vector_title = title;
  menu.v.str_vectors[static_cast<std::size_t>(vec_num - 1)] = 1;
  menu.v.end_vectors[static_cast<std::size_t>(vec_num - 1)] = static_cast<int>(xnum);
}

void run_output(MenuPass&, VectorsMenu& menu, Status& status) {
  if (refused_without_vector(menu, status)) return;
  const std::vector<float> yaxis{1.0f};
  const std::span<const float> values = menu.values();
  FIO_GUI_OUTPUT(input_file, menu.v.max_vec_values, 1, menu.first(), 1, menu.last(), 1,
                 menu.xaxis, yaxis, values, {},
                 menu.v.titles[static_cast<std::size_t>(vec_num - 1)], "Samples", "N.A.",
                 "Value", false, 1.0f, 1.0f, status);
}

void run_print(MenuPass&, VectorsMenu& menu, Status& status) {
  if (refused_without_vector(menu, status)) return;
  const std::vector<float> yaxis{0.5f};
  KZT_PRINT(true, "x/y graph", false, menu.v.max_vec_values, 1, menu.xaxis, yaxis, menu.values(),
            {}, {}, menu.v.titles[static_cast<std::size_t>(vec_num - 1)], "Samples", "N.A.",
            "Value", false, menu.first(), 1, menu.last(), 1, status);
}

void run_options(MenuPass& pass, VectorsMenu&, Status& status) {
  KZT_OPTIONS(pass.sets, pass.plot_type, status);
}

using Row = MenuRow<VectorsMenu>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;

const Row kRows[] = {
    {"EXIT", "EXIT: Exit menu", 0, MenuRedraw::kNothing, menu_exit<VectorsMenu>},
    {"ZOOM IN", "ZOOM IN: Define smaller graphical display region", 0, kAll, run_zoom},
    {"INPUT", "INPUT: Input data from a file on disk", 0, kAll, run_input},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<VectorsMenu>},
    {"FULL", "FULL: View image of full data", 0, kAll, run_full},
    {"OUTPUT", "OUTPUT: Save data in an output file", 0, kAll, run_output},
    {"HELP", "HELP: Help text on this graphical menu", 0, kAll, menu_help<VectorsMenu>},
    {"PRINT", "PRINT: Output current graphics to PostScript file", 0, kAll, run_print},
    {"OPTIONS", "OPTIONS: Graphics display control menu", 0, kAll, run_options},
};

const std::string kTitle[] = {"VECTORS MENU"};

}  // namespace

void KZT_GUI_VECTORS(KztDataSets& sets, Status& status) {
  KztVectors& vectors = sets.vectors;
  constexpr std::string_view kPosition = "Subroutine KZT_GUI_VECTORS V0.3";
  if (st_bad(status, kPosition)) return;
  if (vectors.max_vec_values < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (vectors.max_vectors < 1) return st_fail(status, kBaseApp + 2, kPosition);
  const int num = std::min(vectors.num_vectors, vectors.max_vectors);
  if (num < 1 || vectors.vectors == nullptr) {
    gs_refusal({"No vectors have been defined"}, status);
    return;
  }
  vec_num = vec_num + 1 > num ? 1 : vec_num + 1;
  GS_INPI(true, 1, num, true, "NUMBER OF VECTOR", {"Enter number of vector to view, output, etc."},
          {"Enter integer within given range"}, vec_num, status);
  if (status != kStatusGood) return;
  VectorsMenu menu{vectors, std::vector<float>(static_cast<std::size_t>(vectors.max_vec_values))};
  KZT_AXES(vectors.max_vec_values, vectors.max_vec_values, 1.0f, 1.0f, menu.xaxis, status);
  InterfaceTable<VectorsMenu> table;
  table.position = kPosition;
  table.rows = kRows;
  table.layout = {0, 3, 14, 9};
  table.titles = kTitle;
  table.shows_data = false;
  table.help_text = KZT_GUI_VECHELP;
  table.draw = draw;
  table.click = on_click;
  std::string plot_type = "x/y graph";
  kzt_interface(table, sets, menu, plot_type, status);
}

}  // namespace kesta
