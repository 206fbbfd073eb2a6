// POWDER DIFFRACTION (2-D) and SAXS / GISAXS: two tables on the common
// interface loop sharing their handlers and their kind of state.

#include "app/interfaces/powder_interface.hpp"

#include <string>
#include <utility>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/cake_menu.hpp"
#include "app/diffraction/calibrant.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/integrate.hpp"
#include "app/diffraction/projection.hpp"
#include "app/diffraction/tilt_centre.hpp"
#include "app/distortion/correction_form.hpp"
#include "app/imageops/masks.hpp"
#include "app/imageops/one_d_transforms.hpp"
#include "app/imageops/program_target.hpp"
#include "app/imageops/printing.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "app/interfaces/display_rows.hpp"
#include "app/interfaces/general_menus.hpp"
#include "app/interfaces/interface_loop.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/gui_input.hpp"
#include "formats/gui_output.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

PowderInterfaceState& kzt_pd_state() {
  static PowderInterfaceState state;
  return state;
}
PowderInterfaceState& kzt_saxs_state() {
  static PowderInterfaceState state;
  return state;
}

namespace {

using State = PowderInterfaceState;
using Row = MenuRow<State>;
constexpr MenuRedraw kAll = MenuRedraw::kImageAndMenu;
constexpr MenuRedraw kMenuOnly = MenuRedraw::kMenu;
constexpr MenuRedraw kNone = MenuRedraw::kNothing;
constexpr unsigned kData = kMenuNeedsData;
// Commands that work on an image only: a scan of one row is refused.
constexpr unsigned kImage = kMenuNeedsData | kMenuNeedsImage;

// The current data as shown: with the mask while MASK_DATA.
GsDisplayedImage shown(const MenuPass& pass, const State& state) {
  return menu_loop::current(pass.sets, state.mask_data);
}

// ---- entry and leaving ----

void store_geometry(const State& s, Status& status) {
  KZT_SET_GEOMETRY(true, s.x_beam, s.y_beam, s.sample_distance, s.wavelength, s.tilt_rotation,
                   s.tilt_angle, s.detector_rotation, status);
}

void read_geometry(State& s, Status& status) {
  bool known = false;
  KZT_INQ_GEOMETRY(known, s.x_beam, s.y_beam, s.sample_distance, s.wavelength, s.tilt_rotation,
                   s.tilt_angle, s.detector_rotation, status);
  store_geometry(s, status);
}

void enter_pd(MenuPass&, State& s, Status& status) {
  s.mask_data = true;
  s.mask_memory = false;
  read_geometry(s, status);
}

// The last row of the SAXS table is the remember-ROI toggle.
void roi_button(MenuPass& pass, bool remember) {
  const std::size_t row = pass.buttons.size() - 1;
  pass.buttons[row] = remember ? "FORGET ROI" : "REMEMBER ROI";
  pass.help[row] = remember
                       ? "FORGET ROI: Don't remember region of interest between input images"
                       : "REMEMBER ROI: Remember region of interest between input images";
}

void enter_saxs(MenuPass& pass, State& s, Status& status) {
  enter_pd(pass, s, status);
  bool remember = false;
  int retstat = 0;
  IO_INQ_LKEYVALUE("REMEMBER_ROI", remember, retstat, status);
  s.remember_roi = remember;
  roi_button(pass, s.remember_roi);
}

// ---- the shared display choices ----

void run_zscale(MenuPass& pass, State& state, Status& status) {
  const GsDisplayedImage im = shown(pass, state);  // (no mask while not MASK_DATA)
  KZT_GUI_ZSCALE(im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
                 im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel,
                 false, 0.0f, 0.0f, status);
}

void run_print(MenuPass& pass, State& state, Status& status) {
  kzt_menu_print(pass.sets, pass.plot_type, state.mask_data, status);
}

void run_exchange(MenuPass& pass, State& state, Status& status) {
  KZT_EXCHANGE(pass.sets, status);
  if (status == kStatusGood) std::swap(state.mask_data, state.mask_memory);
}

void run_mask(MenuPass& pass, State& state, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KztDataSets& s = pass.sets;
  kzt_create_mask(s.mask_exist, status);
  if (status != kStatusGood) return;
  KZT_MASK(true, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_image(a.data),
           kzt_xline(a.xaxis), kzt_yline(a.yaxis), s.title, s.xlabel, s.ylabel, s.zlabel,
           s.x_pixel_size, s.y_pixel_size, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
           kzt_mask(), status);
  state.mask_data = true;
  // The image is not drawn again here, but from now on it is shown with the
  // mask: the display, options and print choices must draw it so.
  pass.plot_type = "masked_image";
}

void run_output(MenuPass& pass, State&, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  const KztDataSets& s = pass.sets;
  FIO_GUI_OUTPUT(s.input_file, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                 kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data),
                 kzt_image(a.variances), s.title, s.xlabel, s.ylabel, s.zlabel,
                 s.variances_exist, s.x_pixel_size, s.y_pixel_size, status);
}

// ---- input ----

// The file selection into the current data; true when data were read
// (DATA_DEFINED then true; a cancelled selection or a failed read leaves the
// earlier data, its region and DATA_DEFINED as they were).
bool input_image(KztDataSets& sets, Status& status) {
  const ProgramImageTarget target(sets);
  bool read = false;
  FIO_GUI_INPUT({"SELECT FILE TO INPUT OF IMAGE DATA", "(click on \"HELP\" for list of formats)"},
                kFioSelectFile, target.target(), read, sets.input_file, status);
  if (status != kStatusGood || !read) return false;
  target.clear_unread_variances(status);
  if (status != kStatusGood) return false;
  sets.data_defined = true;
  return true;
}

void whole_region() {
  KztArrays& a = vosq_kzt_arrays;
  a.xstrelm = a.ystrelm = 1;
  a.xendelm = a.xnumdat;
  a.yendelm = a.ynumdat;
}

void run_pd_input(MenuPass& pass, State& state, Status& status) {
  if (!input_image(pass.sets, status)) return;
  whole_region();
  state.mask_data = true;
  state.mask_memory = false;
  if (pass.sets.memory_exist) KZT_GUI_CORRECTION(pass.sets, status);
}

void run_saxs_input(MenuPass& pass, State& state, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  if (!input_image(pass.sets, status)) return;
  state.mask_data = true;
  state.mask_memory = false;
  if (state.remember_roi && a.xendelm <= a.xnumdat && a.yendelm <= a.ynumdat) return;
  whole_region();
}

// ---- geometry ----

void run_beam_centre(MenuPass& pass, State& state, Status& status) {
  const KztDataSets& s = pass.sets;
  float x = state.x_beam * s.x_pixel_size;
  float y = state.y_beam * s.y_pixel_size;
  int method = 0;
  float radius_1 = 0, radius_2 = 0, angle = 0, error = 0;
  KZT_BEAMCENTRE(true, shown(pass, state), s.x_pixel_size, s.y_pixel_size, true, method, x, y,
                 radius_1, radius_2, angle, error, status);
  if (status != kStatusGood) return;
  state.x_beam = x / s.x_pixel_size;
  state.y_beam = y / s.y_pixel_size;
}

void run_calibrant(MenuPass& pass, State& state, Status& status) {
  KztDataSets& s = pass.sets;
  float x = state.x_beam * s.x_pixel_size;
  float y = state.y_beam * s.y_pixel_size;
  State refined = state;
  KZT_CALIBRANT(true, shown(pass, state), s.x_pixel_size, s.y_pixel_size, state.detector_gain,
                refined.sample_distance, refined.polarisation, x, y, refined.wavelength,
                refined.tilt_rotation, refined.tilt_angle, status);
  if (status != kStatusGood) return;
  refined.x_beam = x / s.x_pixel_size;
  refined.y_beam = y / s.y_pixel_size;
  state = refined;
}

void run_tilt(MenuPass& pass, State& state, Status& status) {
  KztDataSets& s = pass.sets;
  State refined = state;
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(vosq_kzt_arrays.ynumdat, s.x_pixel_size, s.y_pixel_size);
  KZT_TILTCENTRE(true, shown(pass, state), pixels.x, pixels.y, state.detector_gain,
                 refined.sample_distance, refined.wavelength, refined.x_beam, refined.y_beam,
                 refined.tilt_rotation, refined.tilt_angle, status);
  kzt_keep_pixel_sizes(pixels, s.x_pixel_size, s.y_pixel_size);
  if (status == kStatusGood) state = refined;
}

PowderSettings settings_of(const State& s) {
  PowderSettings g;
  g.x_beam_centre = s.x_beam;
  g.y_beam_centre = s.y_beam;
  g.sample_distance = s.sample_distance;
  g.wavelength = s.wavelength;
  g.tilt_rotation = s.tilt_rotation;
  g.tilt_angle = s.tilt_angle;
  g.detector_rotation = s.detector_rotation;
  g.correct_polarisation = s.correct_polarisation;
  g.polarisation = s.polarisation;
  return g;
}

void run_cake(MenuPass& pass, State& state, Status& status) {
  PowderSettings g = settings_of(state);
  // The mask flags follow the exchanges inside the cake menu: its result
  // is shown and used without the image's mask.
  KZT_CAKE(true, pass.sets, g, state.lorentz_geometry, state.mask_data, state.mask_memory,
           status);
  pass.plot_type = state.mask_data ? "masked_image" : "image";
  // The forms of the cake may have changed the geometry before any escape.
  state.x_beam = g.x_beam_centre;
  state.y_beam = g.y_beam_centre;
  state.sample_distance = g.sample_distance;
  state.wavelength = g.wavelength;
  state.tilt_rotation = g.tilt_rotation;
  state.tilt_angle = g.tilt_angle;
  state.correct_polarisation = g.correct_polarisation;
  state.polarisation = g.polarisation;
}

// After a scan became the current data: automatic ranges, curve 1 visible,
// and the mask goes with the image into the memory. The scan replaced what
// the memory held, so it has no mask, whatever that held.
void scan_shown(State& state, Status& status) {
  GS_SET_AUTODDR(true, true, true, true, status);
  bool line = false, markers = false, errors = false;
  GS_INQ_CURVESTYLE(1, line, markers, errors, status);
  if (!line && !markers) GS_SET_CURVESTYLE(1, true, markers, errors, status);
  state.mask_memory = state.mask_data;
  state.mask_data = false;
}

void run_integrate(MenuPass& pass, State& state, Status& status) {
  KztDataSets& s = pass.sets;
  // The scan replaces the image by an exchange of the arrays: an escape from
  // the forms leaves them, and the mask flags, as they were.
  const float* before = vosq_kzt_arrays.data;
  KZT_INTEGRATE(s, state.mask_data, s.x_pixel_size, s.y_pixel_size, state.sample_distance, state.wavelength,
                state.correct_polarisation, state.polarisation, state.lorentz_geometry,
                state.x_beam, state.y_beam, state.tilt_rotation, state.tilt_angle, status);
  if (status == kStatusGood && vosq_kzt_arrays.data != before) scan_shown(state, status);
}

void run_projection(MenuPass& pass, State& state, Status& status) {
  KztDataSets& s = pass.sets;
  const bool was_defined = s.memory_defined;
  s.memory_defined = false;
  KZT_GUI_PROJECTION(s, state.mask_data, state.sample_distance, state.wavelength, state.x_beam, state.y_beam,
                     state.tilt_rotation, state.tilt_angle, status);
  if (status != kStatusGood || !s.memory_defined) {
    // Nothing projected: the memory keeps what it held.
    s.memory_defined = s.memory_defined || was_defined;
    return;
  }
  KZT_EXCHANGE(s, status);
  if (status == kStatusGood) scan_shown(state, status);
}

void run_correction(MenuPass& pass, State&, Status& status) {
  KZT_GUI_CORRECTION(pass.sets, status);
}

// ---- SAXS / GISAXS only ----

void run_normalise(MenuPass&, State&, Status& status) {
  gs_refusal({"NOT YET IMPLEMENTED"}, status);
}

void run_transforms(MenuPass&, State&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  if (KZT_1DTRANSFORMS(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                       kzt_xline(a.xaxis), kzt_image(a.data), status))
    IO_WRITE("Transformation completed", status);
}

void run_maths(MenuPass& pass, State&, Status& status) { KZT_GUI_MATHS(pass.sets, status); }

void run_spherical(MenuPass& pass, State& state, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  const KztDataSets& s = pass.sets;
  KZT_SPHERICAL_MOD(a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis), s.title,
                    s.xlabel, s.ylabel, s.zlabel, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                    state.x_beam, state.y_beam, kzt_image(a.data), status);
}

void run_roi_toggle(MenuPass& pass, State& state, Status&) {
  state.remember_roi = !state.remember_roi;
  roi_button(pass, state.remember_roi);
}

// ---- the tables ----

// The rows both tables have.
constexpr Row kExit{"EXIT", "EXIT: Exit menu", 0, kNone, menu_exit<State>};
constexpr Row kBeamCentre{"BEAM CENTRE",
                          "BEAM CENTRE: Determine beam centre by a choice of methods", kImage,
                          kMenuOnly, run_beam_centre};
constexpr Row kFull{"FULL", "FULL: View image of full data", 0, kAll, menu_full<State>};
constexpr Row kOutput{"OUTPUT", "OUTPUT: Save data in an output file", kData, kAll, run_output};
constexpr Row kList{"?", "?: This help on the menu choices", 0, kAll, menu_list<State>};
constexpr Row kCake{"CAKE", "CAKE: Versatile multiple 2-theta scans integration", kImage,
                    kMenuOnly, run_cake};
constexpr Row kIntegrate{"INTEGRATE", "INTEGRATE: 2-D to 1-D 2-theta integration", kImage, kAll,
                         run_integrate};
constexpr Row kZscale{"Z-SCALING",
                      "Z-SCALING: Automatic or user control of intensity display range", kData,
                      kMenuOnly, run_zscale};
constexpr Row kPrint{"PRINT", "PRINT: Output current graphics to PostScript file", kData,
                     kMenuOnly, run_print};
constexpr Row kExchange{"EXCHANGE", "EXCHANGE: Swap current data with the \"memory\"", 0, kAll,
                        run_exchange};
constexpr Row kMask{"MASK", "MASK: Defined masked-off regions of the image", kData, kMenuOnly,
                    run_mask};
constexpr Row kZoomIn{"ZOOM IN", "ZOOM IN: Define smaller graphical display region", kData, kAll,
                      menu_zoom_in<State>};
constexpr Row kDisplay{"DISPLAY", "DISPLAY: Further graphical display possibilities", 0, kAll,
                       menu_display<State>};
constexpr Row kOptions{"OPTIONS", "OPTIONS: Graphics display control menu", 0, kMenuOnly,
                       menu_options<State>};
constexpr Row kUnzoom{"UN-ZOOM", "UN-ZOOM: Zoom out to see more of the data", 0, kAll,
                      menu_unzoom<State>};

const Row kPdRows[] = {
    kExit,
    kBeamCentre,
    kFull,
    kOutput,
    kList,
    kCake,
    {"INPUT", "INPUT: Input data from a file on disk", 0, kAll, run_pd_input},
    {"TILT", "TILT: Fit tilt and beam centre to powder rings", kImage, kMenuOnly, run_tilt},
    {"HELP", "HELP: Help text on this graphical menu", 0, kAll, menu_help<State>},
    {"CORRECTION", "CORRECTION: Spatial distortion correction", kImage | kMenuNeedsMemory, kAll,
     run_correction},
    kIntegrate,
    kZscale,
    kPrint,
    kExchange,
    kMask,
    kZoomIn,
    {"CALIBRANT", "CALIBRANT: Refine wavelength, distance, tilt, etc from powder", kImage,
     kMenuOnly, run_calibrant},
    kDisplay,
    kOptions,
    kUnzoom,
};
static_assert(std::size(kPdRows) == 20);

const Row kSaxsRows[] = {
    kExit,
    kBeamCentre,
    kFull,
    kOutput,
    kList,
    kCake,
    {"INPUT", "INPUT: Input data from a file on disk", 0, kAll, run_saxs_input},
    {"NORMALISE", "NORMALISE: Apply intensity normalisation corrections", 0, kAll,
     run_normalise},
    {"HELP", "HELP: Help text on this grphical menu", 0, kAll, menu_help<State>},
    {"PROJECTION", "PROJECTION: Integrate rectangular region to 1-D scan", kImage, kAll,
     run_projection},
    kIntegrate,
    kZscale,
    kPrint,
    kExchange,
    kMask,
    kZoomIn,
    kDisplay,
    kOptions,
    {"1-D TRANSFORMS", "1-D TRANSFORMS: Choice of conversion of intensity and Q scales", kData,
     kAll, run_transforms},
    kUnzoom,
    {"SPHERICAL MOD", "SPHERICAL MOD: I' = I * ABS(SIN(angle)) starting from Meridian", kImage,
     kAll, run_spherical},
    {"MATHS", "MATHS: Maths operations, with scalars or element by element", kData, kMenuOnly,
     run_maths},
    {"REMEMBER ROI", "REMEMBER ROI: Remember region of interest between input images", 0, kAll,
     run_roi_toggle},
};
static_assert(std::size(kSaxsRows) == 23);

const std::string kWelcomePd[] = {
    "", "WELCOME TO THE POWDER", "", "DIFFRACTION GUI", "", "PRESS \"INPUT\" TO", "",
    "SELECT A DATA FILE", "", "",
};
const std::string kWelcomeSaxs[] = {
    "", "WELCOME TO THE SAXS", "", "AND GISAXS GUI", "", "PRESS \"INPUT\" TO", "",
    "SELECT A DATA FILE", "", "",
};

template <std::size_t N>
InterfaceTable<State> table_of(std::string_view position, const Row (&rows)[N],
                               MenuLayout layout, std::span<const std::string> welcome,
                               void (*help)(bool, Status&),
                               void (*enter)(MenuPass&, State&, Status&)) {
  InterfaceTable<State> t;
  t.position = position;
  t.rows = rows;
  t.layout = layout;
  t.welcome = welcome;
  t.welcome_place = WelcomePlace::kMessageRegion;
  t.uses_mask = true;
  t.escape_asks_again = true;
  t.help_text = help;
  t.image = shown;
  t.enter = enter;
  t.store = store_geometry;
  return t;
}

}  // namespace

void KZT_GUI_PD(KztDataSets& sets, Status& status) {
  static const InterfaceTable<State> table =
      table_of("Subroutine KZT_GUI_PD V0.29", kPdRows, {0, 4, 12, 10}, kWelcomePd,
               KZT_GUI_PDHELP, enter_pd);
  kzt_interface(table, sets, kzt_pd_state(), status);
}

void KZT_GUI_SAXS(KztDataSets& sets, Status& status) {
  static const InterfaceTable<State> table =
      table_of("Subroutine KZT_GUI_SAXS V0.11", kSaxsRows, {0, 4, 15, 14}, kWelcomeSaxs,
               KZT_GUI_SAXSHELP, enter_saxs);
  kzt_interface(table, sets, kzt_saxs_state(), status);
}

}  // namespace kesta
