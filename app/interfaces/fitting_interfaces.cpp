// The 2-D FITTING and OLMI (MULTIPLE 1-D FITTING) interfaces: their tables,
// handlers and kept state on the one interface loop.

#include "app/interfaces/fitting_interfaces.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "app/diffraction/beam_centre.hpp"
#include "app/fitting/fit2d.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/model_input.hpp"
#include "app/fitting/olmi_interactive.hpp"
#include "app/fitting/setup.hpp"
#include "app/imageops/click_readout.hpp"
#include "app/imageops/colour_menus.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/display_menu.hpp"
#include "app/imageops/geometric_transforms.hpp"
#include "app/imageops/inspection.hpp"
#include "app/imageops/masks.hpp"
#include "app/imageops/program_target.hpp"
#include "app/imageops/printing.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "app/interfaces/display_rows.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/vectors_interface.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/gui_input.hpp"
#include "formats/gui_output.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

Fit2dInterfaceState& kzt_fit2d_interface_state() {
  static Fit2dInterfaceState state;
  return state;
}

OlmiInterfaceState& kzt_olmi_interface_state() {
  static OlmiInterfaceState state;
  return state;
}

bool kzt_memory_combine(bool add, KztDataSets& sets, Status& status) {
  if (st_bad(status, "Subroutine KZT_MEMORY_COMBINE V0.1")) return false;
  const KztArrays& a = vosq_kzt_arrays;
  if (!sets.memory_defined || a.mdata == nullptr) {
    gs_refusal({"MEMORY NOT DEFINED"}, status);
    return false;
  }
  if (a.xendelm > sets.mxnumdat || a.yendelm > sets.mynumdat) {
    gs_refusal({"MEMORY DEFINED, BUT NOT IN WHOLE OF ADR"}, status);
    return false;
  }
  if (add)
    MA_RADD(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_image(a.mdata),
            a.xmaxdat, a.ymaxdat, kzt_image(a.data), status);
  else
    MA_RSUBTRACT(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                 kzt_image(a.mdata), a.xmaxdat, a.ymaxdat, kzt_image(a.data), status);
  // Both ways the uncertainties add.
  if (status == kStatusGood && sets.variances_exist && a.variances != nullptr &&
      a.mvariances != nullptr)
    MA_RADD(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
            kzt_image(a.mvariances), a.xmaxdat, a.ymaxdat, kzt_image(a.variances), status);
  return status == kStatusGood;
}

namespace {

constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;
constexpr MenuRedraw kMenuOnly = MenuRedraw::kMenu;
constexpr unsigned kData = kMenuNeedsData;

// ---- Choices both interfaces share (the state's two mask flags) ----

template <typename State>
GsDisplayedImage shown_image(const MenuPass& pass, const State& state) {
  return menu_loop::current(pass.sets, state.mask_data);
}

// INPUT: the file selection; a cancelled selection leaves no data defined.
template <typename State>
void run_input(MenuPass& pass, State&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KztDataSets& s = pass.sets;
  const ProgramImageTarget target(s);
  FIO_GUI_INPUT({"SELECT FILE TO INPUT (for fitting)", "(click on \"HELP\" for list of formats)"},
                kFioSelectFile, target.target(), s.data_defined, s.input_file, status);
  target.clear_unread_variances(status);
  if (a.xnumdat >= 1 && a.ynumdat >= 1) {
    a.xstrelm = a.ystrelm = 1;
    a.xendelm = a.xnumdat;
    a.yendelm = a.ynumdat;
  }
}

template <typename State>
void run_output(MenuPass& pass, State&, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  const KztDataSets& s = pass.sets;
  FIO_GUI_OUTPUT(s.input_file, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                 kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data),
                 kzt_image(a.variances), s.title, s.xlabel, s.ylabel, s.zlabel,
                 s.variances_exist, s.x_pixel_size, s.y_pixel_size, status);
}

template <typename State>
void run_mask(MenuPass& pass, State& state, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KztDataSets& s = pass.sets;
  kzt_create_mask(s.mask_exist, status);
  if (status != kStatusGood) return;
  KZT_MASK(true, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_image(a.data),
           kzt_xline(a.xaxis), kzt_yline(a.yaxis), s.title, s.xlabel, s.ylabel, s.zlabel,
           s.x_pixel_size, s.y_pixel_size, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_mask(),
           status);
  state.mask_data = true;
}

template <typename State>
void run_exchange(MenuPass& pass, State& state, Status& status) {
  KZT_EXCHANGE(pass.sets, status);
  if (status != kStatusGood) return;
  std::swap(state.mask_data, state.mask_memory);
  pass.plot_type = "image";
}

template <typename State>
void run_zscale(MenuPass& pass, State& state, Status& status) {
  const GsDisplayedImage im = shown_image(pass, state);
  KZT_GUI_ZSCALE(im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
                 im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel,
                 false, 0.0f, 0.0f, status);
}

template <typename State>
void run_print_image(MenuPass& pass, State& state, Status& status) {
  kzt_menu_print(pass.sets, pass.plot_type, state.mask_data, status);
}

template <typename State>
void run_combine(MenuPass& pass, State&, Status& status) {
  kzt_memory_combine(pass.choice == "ADD", pass.sets, status);
}

template <typename State>
void show_results(const State& state, Status& status) {
  if (!state.results_exist) {
    gs_refusal({"NO RESULTS DEFINE: USE \"OPTIMISE\""}, status);
    return;
  }
  const int n = static_cast<int>(state.text.size());
  GS_MESSAGE(n, n, state.text, status);
}

template <typename State>
void run_results(MenuPass&, State& state, Status& status) {
  show_results(state, status);
}

template <typename State>
void run_constraints(MenuPass&, State& state, Status& status) {
  if (!state.params_exist) {
    IO_WRITE("WARNING: No parameters; parameters must be input using \"INITIALISE\"", status);
    return;
  }
  KZT_1DCONSTRAINTS(state.model, status);
}

void no_model(Status& status) { gs_refusal({"NO FIT MODEL: USE \"INITIALSE\""}, status); }

// The iteration count kept by a key; a value no fit could use gives 11.5.
float checked_iterations(float value) {
  return value >= 0.9f && value <= 10000.0f ? value : 11.5f;
}

// ---- 2-D FITTING ----

using Fit2dRow = MenuRow<Fit2dInterfaceState>;

void fit2d_initialise(MenuPass& pass, Fit2dInterfaceState& state, Status& status) {
  FitModel model;
  KZT_GUI_PARAMETERS(false, pass.sets, model, status);
  if (status != kStatusGood) return;
  kzt_new_model(model, state.model, state.results_exist, state.text);
  state.params_exist = model.num_parameters > 0;
}

void fit2d_optimise(MenuPass& pass, Fit2dInterfaceState& state, Status& status) {
  if (!state.params_exist) return no_model(status);
  KztDataSets& s = pass.sets;
  const KztArrays& a = vosq_kzt_arrays;
  if (a.mdata == nullptr) {
    gs_refusal({"MEMORY DOES NOT EXIST"}, status);
    return;
  }
  // The fit's frame (pixel sizes, surface range, features) is this model's
  // own, whatever the keyboard FIT sub-menu set last.
  const ModelFrame frame = kzt_program_frame(s);
  const std::span<const std::uint8_t> mask =
      s.mask_exist && state.mask_data ? std::span<const std::uint8_t>(kzt_mask())
                                      : std::span<const std::uint8_t>();
  const bool variances = s.variances_exist && a.variances != nullptr;
  // Weights kept from arrays that had variances are dropped with a word, as
  // the keyboard's FIT drops them.
  if (state.weighted_fit && kzt_weights_refused(variances, status)) state.weighted_fit = false;
  FitModel model = state.model;
  const Fit2dOutcome outcome = KZT_LSQKESTA(
      frame, kzt_image(a.data), variances ? kzt_image(a.variances) : std::span<const float>(),
      mask, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, state.weighted_fit,
      state.itsperpar, model, kzt_image(a.mdata), status);
  // A fit that did not run is no result: text, memory and flags stay.
  if (!outcome.fitted) return;
  // A fit that ran keeps its result even when the status went bad after it;
  // the bad status then ends the interface.
  Status fit_status = status;
  status = kStatusGood;
  state.model = model;
  state.text = kzt_fit_result_text(model, outcome);
  if (a.mvariances != nullptr)
    MA_RVALUE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, 0.0f,
              kzt_image(a.mvariances), status);
  kzt_memory_result(s, status);
  s.mtitle = "FIT MODEL";
  state.results_exist = true;
  IO_WRITE("", status);
  IO_WRITE("INFO: The fit model is stored in the \"memory\", use \"EXCHANGE\"", status);
  IO_WRITE("      to view the fit model.", status);
  // The features' warnings went to the terminal; the window says so too.
  if (!outcome.valid)
    GS_FWARNING(2, 2, {"THE FIT HAS NOT FOUND A VALID MODEL", "(SEE THE WARNINGS IN THE TERMINAL)"},
                status);
  if (fit_status != kStatusGood) status = fit_status;
}

void fit2d_setup(MenuPass& pass, Fit2dInterfaceState& state, Status& status) {
  OlmiControls controls{state.fitting_info, state.itsperpar, state.display_frequency,
                        state.model_evolution, state.weighted_fit};
  KZT_OLMISETUP(pass.sets.variances_exist, controls, status);
  if (status != kStatusGood) return;
  state.fitting_info = controls.info_level;
  state.itsperpar = controls.iterations;
  state.display_frequency = controls.display_frequency;
  state.model_evolution = controls.evolve;
  state.weighted_fit = controls.weighted;
}

void fit2d_enter(MenuPass& pass, Fit2dInterfaceState& state, Status& status) {
  int retstat = 0;
  IO_INQ_RKEYVALUE("2DFIT_ITERATIONS", state.itsperpar, retstat, status);
  IO_INQ_RKEYVALUE("X_BEAM_CENTRE", state.x_beam, retstat, status);
  IO_INQ_RKEYVALUE("Y_BEAM_CENTRE", state.y_beam, retstat, status);
  state.mask_data = true;
  state.mask_memory = false;
  pass.plot_type = "image";
}

void fit2d_store(const Fit2dInterfaceState& state, Status& status) {
  int retstat = 0;
  IO_SET_RKEYVALUE("2DFIT_ITERATIONS", state.itsperpar, retstat, status);
  IO_SET_RKEYVALUE("X_BEAM_CENTRE", state.x_beam, retstat, status);
  IO_SET_RKEYVALUE("Y_BEAM_CENTRE", state.y_beam, retstat, status);
}

using F2 = Fit2dInterfaceState;

const Fit2dRow kFit2dRows[] = {
    {"EXIT", "EXIT: Exit menu", 0, MenuRedraw::kNothing, menu_exit<F2>},
    {"INPUT", "INPUT: Input data from a file on disk", 0, kAll, run_input<F2>},
    {"OUTPUT", "OUTPUT: Save data in an output file", kData, kAll, run_output<F2>},
    {"ZOOM IN", "ZOOM IN: Define smaller graphical display region", kData, kAll,
     menu_zoom_in<F2>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<F2>},
    {"MASK", "MASK: Defined masked-off regions of the image", kData, kMenuOnly, run_mask<F2>},
    {"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", kMenuNeedsMemory, kAll,
     run_exchange<F2>},
    {"FULL", "FULL: View image of full data", 0, kAll, menu_full<F2>},
    {"HELP", "HELP: Help text on this graphical menu", 0, kAll, menu_help<F2>},
    {"INITIALISE", "INITIALISE: Enter fitting model; peaks and other functions", kData, kAll,
     fit2d_initialise},
    {"CONSTRAINTS", "CONSTRAINTS: Constrain or set the fit parameters", 0, kAll,
     run_constraints<F2>},
    {"Z-SCALING", "Z-SCALING: Automatic or user control of intensity display range", kData,
     kMenuOnly, run_zscale<F2>},
    {"PRINT", "PRINT: Output current graphics to PostScript file", kData, kMenuOnly,
     run_print_image<F2>},
    {"OPTIMISE", "OPTIMISE: Optimise fit model to the data values", kData, kMenuOnly,
     fit2d_optimise},
    {"SET-UP", "SET-UP: Alter set-up of fitting control variables", 0, kAll, fit2d_setup},
    {"DISPLAY", "DISPLAY: Further graphical display possibilities", kData, kAll,
     menu_display<F2>},
    {"OPTIONS", "OPTIONS: Graphics display control menu", 0, MenuRedraw::kNothing,
     menu_options<F2>},
    {"RESULTS", "RESULTS: Results of model fitting", 0, kAll, run_results<F2>},
    {"SUBTRACT", "SUBTRACT: Subtract the \"memory\" (create residuals)", kData, kAll,
     run_combine<F2>},
    {"ADD", "ADD: Add the \"memory\" to the data", kData, kAll, run_combine<F2>},
};
static_assert(std::size(kFit2dRows) == 20);

const std::string kFit2dWelcome[] = {"", "WELCOME TO THE 2-D", "", "FITTING INTERFACE", "",
                                     "PRESS \"INPUT\" TO", "", "SELECT A DATA FILE", "", ""};

const std::string kFit2dHelp[] = {
    "  ---------------------------------------------  ",
    "  !  2-D FITTING GRAPHICAL MENU: HELP TEXT   !  ",
    "  ---------------------------------------------  ",
    "",
    "This interface is still being developed; not",
    "all choices may behave as in the keyboard FIT",
    "menu.",
    "",
    "First \"INPUT\" the image to be fitted. The",
    "\"IMAGE PROCESSING (GENERAL)\" interface may be",
    "used beforehand to prepare the data (masking,",
    "cutting, subtracting a dark image, ...).",
    "",
    "\"INITIALISE\" builds the fit model by clicking",
    "on the image: peak functions (Gaussian, and",
    "polar and twin polar Gaussians) and background",
    "functions (a 2-D Chebyshev polynomial surface,",
    "a row-line of fibre peaks).",
    "",
    "\"OPTIMISE\" fits the model to the data by",
    "least squares over the current region, leaving",
    "out masked elements. It may be repeated; the",
    "number of iterations and the other controls",
    "are changed with \"SET-UP\", the parameters",
    "fixed or set with \"CONSTRAINTS\". The fitted",
    "model goes to the \"memory\": \"EXCHANGE\" shows",
    "it, \"SUBTRACT\" leaves the residuals and \"ADD\"",
    "puts the model back. \"RESULTS\" lists the",
    "fitted parameters and integrated intensities.",
    "",
    "\"Z-SCALING\" controls the intensity display",
    "range. \"ZOOM IN\" and \"FULL\" change the",
    "displayed region: all operations work on the",
    "current region only.",
    "",
    "\"PRINT\" writes the current graphics to a",
    "PostScript file.",
    "",
};

}  // namespace

void KZT_GUI_2DFITHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_GUI_2DFITHELP V0.1")) return;
  kzt_help_page(gui, kFit2dHelp, status);
}

void KZT_GUI_2DFIT(KztDataSets& sets, Status& status) {
  InterfaceTable<Fit2dInterfaceState> table;
  table.position = "Subroutine KZT_GUI_2DFIT V0.1";
  table.rows = kFit2dRows;
  table.layout = {0, 4, 12, 10};
  table.welcome = kFit2dWelcome;
  table.welcome_place = WelcomePlace::kPage;
  table.uses_mask = true;
  table.escape_asks_again = true;
  table.help_text = KZT_GUI_2DFITHELP;
  table.image = shown_image<Fit2dInterfaceState>;
  table.enter = fit2d_enter;
  table.store = fit2d_store;
  kzt_interface(table, sets, kzt_fit2d_interface_state(), status);
}

// ---- OLMI (MULTIPLE 1-D FITTING) ----

namespace {

using Olmi = OlmiInterfaceState;
using OlmiRow = MenuRow<Olmi>;

const std::string kRowOrderNote[] = {
    "",
    "NOTE: This menu is designed to work on data stored in horizontal",
    "      rows. The \"POWDER DIFFRACTION\" menu NOW PRODUCES 2-THETA,",
    "      RADIAL, Q-SPACE DATA IN THE X-DIRECTION. Azimuthal data",
    "      is now in the Y-direction. If fitting azimuthal data the",
    "      \"TRANSPOSE\" command should be used to convert the data to",
    "      row order.",
    "",
};

std::span<const float> data_row(std::span<const float> image, Index xmaxdat, Index y) {
  if (image.empty()) return {};
  return image.subspan(static_cast<std::size_t>(xmaxdat) * static_cast<std::size_t>(y - 1),
                       static_cast<std::size_t>(xmaxdat));
}

// Whether the page shows the composite display of the fitted start row.
bool composite_shown(const MenuPass& pass, const Olmi& state) {
  return pass.sets.data_defined && pass.plot_type == "optimise" && state.results_exist;
}

// The row the composite display shows.
Index composite_row(const Olmi& state) {
  return std::clamp<Index>(state.model_row, 1, std::max<Index>(vosq_kzt_arrays.ymaxdat, 1));
}

// The composite display of the fitted start row.
void olmi_composite(const MenuPass& pass, const Olmi& state, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  const KztDataSets& s = pass.sets;
  const Index y = composite_row(state);
  const std::span<const std::uint8_t> mask =
      s.mask_exist ? std::span<const std::uint8_t>(kzt_mask()).subspan(
                         static_cast<std::size_t>(a.xmaxdat) * static_cast<std::size_t>(y - 1),
                         static_cast<std::size_t>(a.xmaxdat))
                   : std::span<const std::uint8_t>();
  const Index xs = std::clamp<Index>(state.str_optimised, 1, a.xmaxdat);
  const Index xe = std::clamp<Index>(state.end_optimised, xs, a.xmaxdat);
  KZT_OLMIDISPLAY(state.fitted, data_row(kzt_image(a.data), a.xmaxdat, y),
                  s.variances_exist ? data_row(kzt_image(a.variances), a.xmaxdat, y)
                                    : std::span<const float>(),
                  mask, kzt_xline(a.xaxis), a.xmaxdat, xs, xe,
                  s.title + ": Row " + std::to_string(y), status);
}

void olmi_draw(MenuPass& pass, Olmi& state, Status& status) {
  if (composite_shown(pass, state)) {
    olmi_composite(pass, state, status);
    return;
  }
  static const std::string kWelcome[] = {"", "WELCOME TO THE OLMI", "", "(MULTIPLE 1-D FITTING)",
                                         "", "GUI PRESS \"INPUT\" TO", "", "SELECT A DATA FILE",
                                         "", ""};
  menu_loop::draw_data_or_welcome(shown_image(pass, state), true, kWelcome, WelcomePlace::kPage,
                                  pass, status);
  if (pass.sets.data_defined) pass.plot_type = "image";
}

void olmi_input(MenuPass& pass, Olmi& state, Status& status) {
  run_input(pass, state, status);
  pass.plot_type = "";
}

// A click on the composite display reads out the row it shows at the
// clicked channel (the X axis of both its panels); elsewhere the read-out is
// on the image.
void olmi_click(MenuPass& pass, Olmi& state, float x, float y, Status& status) {
  if (!composite_shown(pass, state)) {
    menu_loop::click(shown_image(pass, state), pass, true, x, y, status);
    return;
  }
  pass.redraw_image = pass.redraw_menu = false;
  const KztArrays& a = vosq_kzt_arrays;
  float dx1 = 0.0f, dy1 = 0.0f, dx2 = 0.0f, dy2 = 0.0f;
  GS_INQ_DDDR(dx1, dy1, dx2, dy2, status);
  float gx1 = 0.0f, gy1 = 0.0f, gx2 = 0.0f, gy2 = 0.0f;
  GS_INQ_GPP(gx1, gy1, gx2, gy2, status);
  const float py = qg_click_pc(false, y, status);
  if (status != kStatusGood || !(x >= std::min(dx1, dx2) && x <= std::max(dx1, dx2)) ||
      !(py >= gy1 && py <= gy2))
    return;
  const Index xs = std::clamp<Index>(state.str_optimised, 1, a.xmaxdat);
  const Index xe = std::clamp<Index>(state.end_optimised, xs, a.xmaxdat);
  float pixel = 0.0f;
  MA_DC2PIXC(a.xmaxdat, xe, kzt_xline(a.xaxis), x, pixel, status);
  if (status != kStatusGood || !std::isfinite(pixel)) return;
  const Index column = std::clamp<Index>(static_cast<Index>(std::floor(pixel)) + 1, xs, xe);
  const Index row = composite_row(state);
  const std::string lines[] = {" X = " + IO_ITOC(column), " Y = " + IO_ITOC(row),
                               "  I = " + IO_RTOC(a.data[element(column, row, a.xmaxdat)])};
  kzt_show_click_lines(lines, true, 3, status);
}

// The prompt of the row choice, in the band below the image of the rows (its
// X label) and above its colour bar or else the button panel, so that the
// rows stay in view; none where the image leaves no room there.
void olmi_row_prompt(Status& status) {
  float mx1 = 0.0f, my1 = 0.0f, mx2 = 1.0f, my2 = 1.0f;
  GS_INQ_MESSAGE(mx1, my1, mx2, my2, status);
  float gx1 = 0.0f, gy1 = 0.0f, gx2 = 0.0f, gy2 = 0.0f;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  bool bar = false;
  float bx1 = 0.0f, by1 = 0.0f, bx2 = 0.0f, by2 = 0.0f;
  GS_INQ_DLUTPC(bar, bx1, by1, bx2, by2, status);
  if (status != kStatusGood) return;
  const GsState& g = gs_state;
  // (A label's height is 1/60 of the page at scale 1.)
  const float label = g.xlabel.output ? g.xlabel.height / 60.0f : 0.0f;
  const float top = std::min(my2, g.dgpp.ymin - g.layout.x_label_gap - label - 0.01f);
  float bottom = std::max(my1, gy2);
  if (bar && by2 < top) bottom = std::max(bottom, by2 + 0.01f);
  if (top - bottom < 0.04f) return;
  GS_PROMPT(false, 2, 2,
            {"Choose row to be used to enter the initial fitting",
             "model parameters, by clicking on it."},
            mx1, bottom, mx2, top, status);
}

// The row the model is entered on: the one row of the region, or a click on
// the image of the rows.
bool olmi_model_row(MenuPass& pass, Olmi& state, Index& row, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  if (a.yendelm <= a.ystrelm) {
    row = a.ystrelm;
    return true;
  }
  const std::string shown = pass.plot_type;
  if (composite_shown(pass, state)) {
    pass.plot_type = "image";
    olmi_draw(pass, state, status);
  }
  olmi_row_prompt(status);
  float x[1] = {0.0f}, y[1] = {0.0f};
  int num = 0;
  GS_INPS_FCOORDINATES(false, shown_image(pass, state),
                       "CLICK ON ROW TO USE FOR MODEL INITIALISATION", 1,
                       {"Click on the row to use for the model"}, false, 1, num, x, y, status);
  if (status != kStatusGood || num < 1) {
    pass.plot_type = shown;  // without a row the display is what it was
    return false;
  }
  float pixel = 0.0f;
  MA_DC2PIXC(a.ymaxdat, a.ynumdat, kzt_yline(a.yaxis), y[0], pixel, status);
  if (status != kStatusGood || !std::isfinite(pixel)) return false;
  const double candidate = std::floor(static_cast<double>(pixel)) + 1.0;
  row = candidate < static_cast<double>(a.ystrelm)   ? a.ystrelm
        : candidate > static_cast<double>(a.yendelm) ? a.yendelm
                                                     : static_cast<Index>(candidate);
  return true;
}

void olmi_initialise(MenuPass& pass, Olmi& state, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KztDataSets& s = pass.sets;
  Index row = a.ystrelm;
  if (!olmi_model_row(pass, state, row, status)) return;
  FitModel model = state.model;
  Index xs = a.xstrelm, xe = a.xendelm;
  // The menu sees the defined channels only.
  const std::span<const float> data = data_row(kzt_image(a.data), a.xmaxdat, row);
  const std::span<const float> axis = kzt_xline(a.xaxis);
  const std::size_t defined = std::min({data.size(), axis.size(),
                                        static_cast<std::size_t>(std::max<Index>(a.xnumdat, 0))});
  KZT_1DINITIALISE(data.first(defined), axis.first(defined), s.title, s.xlabel, s.zlabel, xs, xe,
                   model, status);
  if (status != kStatusGood) return;
  a.xstrelm = xs;
  a.xendelm = xe;
  kzt_new_model(model, state.model, state.results_exist, state.text);
  state.model_row = row;
  state.params_exist = model.num_parameters > 0;
  pass.plot_type = "image";
  if (a.mdata == nullptr) return;
  // The model of the chosen row becomes a one-row memory of the data's
  // width (the rest of the arrays' row is not part of it).
  const auto width = static_cast<std::size_t>(a.xnumdat);
  const std::span<float> first = kzt_image(a.mdata).first(static_cast<std::size_t>(a.xmaxdat));
  std::fill_n(first.begin(), width, 0.0f);
  kzt_olmi_row_model(model, a.xmaxdat, a.xstrelm, a.xendelm, first, status);
  if (status != kStatusGood) return;
  if (a.mvariances != nullptr) std::fill_n(a.mvariances, width, 0.0f);
  std::copy_n(kzt_xline(a.xaxis).begin(), width, a.mxaxis);
  a.myaxis[0] = 0.5f;
  s.mxnumdat = a.xnumdat;
  s.mxstrelm = a.xstrelm;
  s.mxendelm = a.xendelm;
  s.mynumdat = s.mystrelm = s.myendelm = 1;
  s.mtitle = s.title;
  s.mxlabel = s.xlabel;
  s.mylabel = s.ylabel;
  s.mzlabel = s.zlabel;
  s.mx_pixel_size = s.x_pixel_size;
  s.my_pixel_size = s.y_pixel_size;
  s.memory_defined = true;
}

// The fitted rows (the active data region of FITTED) into the memory, whose
// extent becomes 1..XENDELM by 1..YENDELM: what lies outside the rows in it
// is cleared, and its variances are 0 over it.
void fitted_rows_into_memory(std::span<const float> fitted, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  const std::span<float> memory = kzt_image(a.mdata);
  MA_RVALUE(a.xmaxdat, a.ymaxdat, 1, 1, a.xendelm, a.yendelm, 0.0f, memory, status);
  if (status != kStatusGood) return;
  for_region_rows(a.xmaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                  [&](Index offset, Index, Index n) {
                    std::copy_n(fitted.begin() + offset, n, memory.begin() + offset);
                  });
  if (a.mvariances != nullptr)
    MA_RVALUE(a.xmaxdat, a.ymaxdat, 1, 1, a.xendelm, a.yendelm, 0.0f, kzt_image(a.mvariances),
              status);
}

void olmi_optimise(MenuPass& pass, Olmi& state, Status& status) {
  if (!state.params_exist) return no_model(status);
  KztArrays& a = vosq_kzt_arrays;
  KztDataSets& s = pass.sets;
  if (a.mdata == nullptr) {
    gs_refusal({"MEMORY DOES NOT EXIST"}, status);
    return;
  }
  if (s.vectors.vectors == nullptr) {
    kzt_allocate_vectors(s.vectors, status);
    if (status != kStatusGood) return;
  }
  const bool variances = s.variances_exist && a.variances != nullptr;
  if (state.controls.weighted && kzt_weights_refused(variances, status))
    state.controls.weighted = false;
  const std::span<const std::uint8_t> mask =
      s.mask_exist && state.mask_data ? std::span<const std::uint8_t>(kzt_mask())
                                      : std::span<const std::uint8_t>();
  // The fitted rows are made over the active data region only.
  const KztWorkImage fitted(a.xmaxdat, a.ymaxdat);
  MA_RVALUE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, 0.0f,
            fitted.pixels(), status);
  OlmiOutput output;
  output.model = fitted.pixels();
  OlmiControls controls = state.controls;
  controls.warning_boxes = true;
  KZT_OLMIOPTIMISE(a.xmaxdat, a.ymaxdat, kzt_image(a.data),
                   variances ? kzt_image(a.variances) : std::span<const float>(), mask,
                   kzt_xline(a.xaxis), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                   std::clamp(state.model_row, a.ystrelm, a.yendelm), s.title, controls,
                   state.model, s.vectors, KZT_OLMIDISPLAY, &output, status);
  // A run that went through is this run's result, its start row's failure
  // included (the text says so): the vectors already hold it.
  if (status != kStatusGood) return;
  fitted_rows_into_memory(fitted.pixels(), status);
  kzt_memory_result(s, status);
  if (status != kStatusGood) return;
  s.mtitle = "Fitted Model";
  state.fitted = output.start_fit;
  state.text = output.text;
  state.model_row = std::clamp(state.model_row, a.ystrelm, a.yendelm);
  state.str_optimised = s.mxstrelm;
  state.end_optimised = s.mxendelm;
  state.results_exist = true;
  // The rows' warning boxes were covered by the rows fitted after them, and
  // the composite display of the start row covers the last: none of them is
  // shown again over it when a replayed macro ends here (the result text
  // names the rows that failed).
  gs_warning_covered();
  pass.plot_type = "optimise";
  pass.redraw_image = true;
}

void olmi_print(MenuPass& pass, Olmi& state, Status& status) {
  if (pass.plot_type != "optimise" || !state.results_exist)
    return run_print_image(pass, state, status);
  bool opened = false;
  GS_ON_PRINT(true, opened, status);
  if (status != kStatusGood || !opened) return;
  olmi_composite(pass, state, status);
  Status local = kStatusGood;
  GS_OFF_PRINT(local);
  gs_end_graphics_file(local);
  if (status == kStatusGood) status = local;
  if (status != kStatusGood) return;
  GS_FPROMPT(1, 1, {"FINISHED WRITING FILE"}, status);
}

void olmi_setup(MenuPass& pass, Olmi& state, Status& status) {
  OlmiControls controls = state.controls;
  KZT_OLMISETUP(pass.sets.variances_exist, controls, status);
  if (status == kStatusGood) state.controls = controls;
}

void olmi_exchange(MenuPass& pass, Olmi& state, Status& status) {
  run_exchange(pass, state, status);
}

void olmi_options(MenuPass& pass, Olmi& state, Status& status) {
  menu_options(pass, state, status);
  pass.plot_type = "image";
}

void olmi_transpose(MenuPass& pass, Olmi& state, Status& status) {
  if (kzt_transpose_to_memory(true, pass.sets, status)) run_exchange(pass, state, status);
}

void olmi_vectors(MenuPass& pass, Olmi&, Status& status) { KZT_GUI_VECTORS(pass.sets, status); }

void olmi_enter(MenuPass& pass, Olmi& state, Status& status) {
  int retstat = 0;
  float iterations = state.controls.iterations;
  IO_INQ_RKEYVALUE("OLMI_ITERATIONS", iterations, retstat, status);
  state.controls.iterations = checked_iterations(iterations);
  IO_INQ_IKEYVALUE("OLMI_DIS_FREQUENCY", state.controls.display_frequency, retstat, status);
  IO_INQ_LKEYVALUE("OLMI_MODEL_EVOLUTION", state.controls.evolve, retstat, status);
  state.mask_data = true;
  state.mask_memory = false;
  if (state.first) {
    state.first = false;
    for (const std::string& line : kRowOrderNote) IO_WRITE(line, status);
  }
  if (pass.plot_type.empty()) pass.plot_type = "image";
}

void olmi_store(const Olmi& state, Status& status) {
  int retstat = 0;
  IO_SET_RKEYVALUE("OLMI_ITERATIONS", state.controls.iterations, retstat, status);
  IO_SET_IKEYVALUE("OLMI_DIS_FREQUENCY", state.controls.display_frequency, retstat, status);
  IO_SET_LKEYVALUE("OLMI_MODEL_EVOLUTION", state.controls.evolve, retstat, status);
}

const OlmiRow kOlmiRows[] = {
    {"EXIT", "EXIT: Exit menu", 0, MenuRedraw::kNothing, menu_exit<Olmi>},
    {"FULL", "FULL: View image of full data", 0, kAll, menu_full<Olmi>},
    {"OUTPUT", "OUTPUT: Save data in an output file", kData, kAll, run_output<Olmi>},
    {"?", "?: This help on the menu choices", 0, kAll, menu_list<Olmi>},
    {"CONSTRAINTS", "CONSTRAINTS: Constrain or set the fit parameters", 0, kAll,
     run_constraints<Olmi>},
    {"INITIALISE", "INITIALISE: Enter fitting model; peaks and other functions", kData, kAll,
     olmi_initialise},
    {"INPUT", "INPUT: Input data from a file on disk", 0, kAll, olmi_input},
    {"HELP", "HELP: Help text on this graphical menu", 0, kAll, menu_help<Olmi>},
    {"Z-SCALING", "Z-SCALING: Automatic or user control of intensity display range", kData,
     kMenuOnly, run_zscale<Olmi>},
    {"PRINT", "PRINT: Output current graphics to PostScript file", kData, kMenuOnly, olmi_print},
    {"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", kMenuNeedsMemory, kAll,
     olmi_exchange},
    {"MASK", "MASK: Defined masked-off regions of the image", kData, kMenuOnly, run_mask<Olmi>},
    {"ZOOM IN", "ZOOM IN: Define smaller graphical display region", kData, kAll,
     menu_zoom_in<Olmi>},
    {"DISPLAY", "DISPLAY: Further graphical display possibilities", kData, kAll,
     menu_display<Olmi>},
    {"OPTIONS", "OPTIONS: Graphics display control menu", 0, MenuRedraw::kNothing, olmi_options},
    {"OPTIMISE", "OPTIMISE: Optimise fit model to the data values", kData, kMenuOnly,
     olmi_optimise},
    {"RESULTS", "RESULTS: Results of model fitting", 0, kAll, run_results<Olmi>},
    {"SET-UP", "SET-UP: Alter set-up of fitting control variables", 0, kAll, olmi_setup},
    // (The transposition refuses for itself, also without data.)
    {"TRANSPOSE", "TRANSPOSE: Active data region element tranposition", kMenuNeedsMemory, kAll,
     olmi_transpose},
    {"VECTORS", "VECTORS: Interactive viewing of results vectors", 0, kAll, olmi_vectors},
};
static_assert(std::size(kOlmiRows) == 20);

const std::string kOlmiHelp[] = {
    "  -----------------------------------------  ",
    "  !  OLMI (MULTIPLE 1-D FITTING) GRAPHICAL  ! ",
    "  !          MENU: HELP TEXT               ! ",
    "  -----------------------------------------  ",
    "",
    "This interface is still being developed.",
    "",
    "SUMMARY: \"INPUT\" the data (one spectrum per",
    "row), \"INITIALISE\" a model on one row and",
    "\"MASK\" bad points, then \"OPTIMISE\" fits the",
    "one model to every row of the region in turn;",
    "\"RESULTS\" shows the fit of the model row.",
    "",
    "\"IMAGE PROCESSING\" may be used to prepare the",
    "data first. \"Z-SCALING\" controls the display",
    "range, \"ZOOM IN\" and \"FULL\" the region: all",
    "operations work on the current region only.",
    "",
    "\"INITIALISE\" and \"MASK\" may be used in either",
    "order; each has its own help. \"OPTIMISE\" may",
    "be repeated until the fit has converged.",
    "",
    "After \"OPTIMISE\" a composite display shows the",
    "data with error bars, the total model as a",
    "solid line and each feature dotted, and below",
    "it the residuals on their own scale. \"PRINT\"",
    "saves this display to a PostScript file.",
    "",
    "The model values are stored in the \"memory\":",
    "\"EXCHANGE\" shows them. The fitted parameters",
    "of every row are stored as result vectors.",
    "",
    "\"SET-UP\" changes the iterations per parameter",
    "and, when variances exist, weighted fitting.",
    "\"CONSTRAINTS\" fixes or sets parameters.",
    "\"TRANSPOSE\" turns columns into rows.",
    "",
    "See the reference manual for the details.",
};

}  // namespace

void KZT_GUI_OLMIHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine KZT_GUI_OLMIHELP V0.1")) return;
  kzt_help_page(gui, kOlmiHelp, status);
}

void KZT_GUI_OLMI(KztDataSets& sets, Status& status) {
  InterfaceTable<Olmi> table;
  table.position = "Subroutine KZT_GUI_OLMI V0.19";
  table.rows = kOlmiRows;
  table.layout = {0, 4, 12, 10};
  table.uses_mask = true;
  table.escape_asks_again = true;
  table.help_text = KZT_GUI_OLMIHELP;
  table.draw = olmi_draw;
  table.image = shown_image<Olmi>;
  table.click = olmi_click;
  table.enter = olmi_enter;
  table.store = olmi_store;
  std::string plot_type = "image";
  kzt_interface(table, sets, kzt_olmi_interface_state(), plot_type, status);
}

}  // namespace kesta
