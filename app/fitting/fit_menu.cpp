#include "app/fitting/fit_menu.hpp"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/cake_menu.hpp"
#include "app/diffraction/calibrant.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/tilt_centre.hpp"
#include "app/distortion/response.hpp"
#include "app/fitting/fit_commands.hpp"
#include "app/fitting/parameter_file.hpp"
#include "app/fitting/setup.hpp"
#include "app/fitting/surface.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/masks.hpp"
#include "app/main/kzt_common.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/reader.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

FitMenuState fit_state;

struct FitCall {
  KztDataSets& sets;
  FitMenuState& state;
  std::string& graphics_kind;  // what PRINT GRAPHICS draws again
  std::string_view name;
  std::string next;
  bool leave = false;
};

using FitHandler = void (*)(FitCall&, Status&);

struct FitCommand {
  std::string_view name;
  std::string_view help;
  std::string_view next;  // empty: the command itself
  FitHandler run;         // nullptr: not built yet
};

void run_leave(FitCall& c, Status&) { c.leave = true; }

void run_covariance(FitCall&, Status& status) {
  IO_WRITE("WARNING: Not yet (re-)implemented", status);
}

// The commands that work in the graphics window ask nothing without it.
bool graphics_refused(FitCall& c, Status& status) {
  if (c.sets.graphics_on) return false;
  IO_WRITE("WARNING: Graphics system is turned off. You must \"EXIT\" and restart KESTA", status);
  return true;
}

// The powder commands integrate or fit rings on an image: a scan of one row
// is refused before anything is asked.
bool scan_refused(FitCall& c, Status& status) {
  return kzt_scan_refused(false, vosq_kzt_arrays.ynumdat, c.name, status);
}

void run_two_theta_to_rings(FitCall& c, Status& status) {
  if (graphics_refused(c, status)) return;
  gs_say_control(GsControlMove::kPassed, status);
  KZT_2THETATORINGS(c.sets, c.state.geometry, status);
}

void run_powder_diffraction(FitCall& c, Status& status) {
  if (scan_refused(c, status)) return;
  KZT_POWDERDIFFRACTION(c.sets, c.state.geometry, c.state.powder, status);
}

void run_rtheta(FitCall& c, Status& status) {
  if (scan_refused(c, status)) return;
  KZT_RTHETA(c.sets, c.state.geometry, c.state.powder.lorentz_geometry, c.state.rtheta, status);
}

void run_cake(FitCall& c, Status& status) {
  if (graphics_refused(c, status) || scan_refused(c, status)) return;
  gs_say_control(GsControlMove::kPassed, status);
  // The keyboard keeps no mask flags: inside the menu the cake result is
  // shown without the image's mask all the same.
  bool mask_data = true, mask_memory = false;
  KZT_CAKE(false, c.sets, c.state.geometry, c.state.powder.lorentz_geometry, mask_data,
           mask_memory, status);
  c.graphics_kind = mask_data && c.sets.mask_exist ? "masked_image" : "image";
}

void run_radial_profile(FitCall& c, Status& status) { KZT_RADIAL(c.sets, status); }

// The window commands start by drawing the current image with its mask
// (when there is one): what PRINT GRAPHICS draws again.
void image_drawn(FitCall& c) { c.graphics_kind = c.sets.mask_exist ? "masked_image" : "image"; }

void run_tilt_centre(FitCall& c, Status& status) {
  if (graphics_refused(c, status) || scan_refused(c, status)) return;
  PowderSettings& g = c.state.geometry;
  DetectorPixelSizes pixels = kzt_detector_pixel_sizes(
      vosq_kzt_arrays.ynumdat, c.sets.x_pixel_size, c.sets.y_pixel_size);
  KZT_TILTCENTRE(false, kzt_current_image(c.sets), pixels.x, pixels.y, 1.0f, g.sample_distance,
                 g.wavelength, g.x_beam_centre, g.y_beam_centre, g.tilt_rotation, g.tilt_angle,
                 status);
  kzt_keep_pixel_sizes(pixels, c.sets.x_pixel_size, c.sets.y_pixel_size);
  image_drawn(c);
}

void run_silicon_calibration(FitCall& c, Status& status) {
  if (graphics_refused(c, status) || scan_refused(c, status)) return;
  KztDataSets& sets = c.sets;
  PowderSettings& g = c.state.geometry;
  // The calibration works in metres; the sub-menu keeps the centre in pixels.
  float x_beam = g.x_beam_centre * sets.x_pixel_size;
  float y_beam = g.y_beam_centre * sets.y_pixel_size;
  KZT_CALIBRANT(false, kzt_current_image(sets), sets.x_pixel_size, sets.y_pixel_size, 1.0f,
                g.sample_distance, g.polarisation, x_beam, y_beam, g.wavelength, g.tilt_rotation,
                g.tilt_angle, status);
  g.x_beam_centre = x_beam / sets.x_pixel_size;
  g.y_beam_centre = y_beam / sets.y_pixel_size;
  image_drawn(c);
}

// The mask commands work on the mask of the program arrays, made (nothing
// masked) on first use.
bool mask_ready(FitCall& c, Status& status) {
  kzt_create_mask(c.sets.mask_exist, status);
  return status == kStatusGood && c.sets.mask_exist;
}

void run_clear_mask(FitCall& c, Status& status) {
  if (!c.sets.mask_exist) return;  // no mask yet: nothing is masked
  const KztArrays& a = vosq_kzt_arrays;
  MA_L1VALUE(a.xmaxdat, a.ymaxdat, 1, 1, a.xmaxdat, a.ymaxdat, 0, kzt_mask(), status);
}

void run_define_mask(FitCall& c, Status& status) {
  if (graphics_refused(c, status) || !mask_ready(c, status)) return;
  gs_say_control(GsControlMove::kPassed, status);
  KztArrays& a = vosq_kzt_arrays;
  const KztDataSets& s = c.sets;
  KZT_MASK(false, a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_image(a.data),
           kzt_xline(a.xaxis), kzt_yline(a.yaxis), s.title, s.xlabel, s.ylabel, s.zlabel,
           s.x_pixel_size, s.y_pixel_size, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_mask(),
           status);
  // The editor leaves the image drawn with its mask.
  if (status == kStatusGood) c.graphics_kind = "masked_image";
}

void run_display_mask(FitCall& c, Status& status) {
  if (graphics_refused(c, status) || !mask_ready(c, status)) return;
  const GsDisplayedImage im = kzt_current_image(c.sets);
  GS_MPLOT(true, im.xmaxdat, im.ymaxdat, im.data, im.mask, im.xaxis, im.yaxis, im.xstrelm,
           im.ystrelm, im.xendelm, im.yendelm, im.title, im.xlabel, im.ylabel, im.zlabel, status);
  if (status == kStatusGood) c.graphics_kind = "masked_image";
}

void run_threshold_masking(FitCall& c, Status& status) {
  if (!mask_ready(c, status)) return;
  const KztArrays& a = vosq_kzt_arrays;
  KZT_MASKTHRESHOLD(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                    kzt_image(a.data), kzt_mask(), status);
}

// The model-fitting commands work on the kept fit session.
bool parameters_missing(FitCall& c, const char* warning, Status& status) {
  if (c.state.fit.params_defined) return false;
  IO_WRITE(warning, status);
  return true;
}

void run_change_scale(FitCall& c, Status& status) {
  if (parameters_missing(c, "WARNING: No fit parameters have been defined, define using INPUT PARAMETERS",
                         status))
    return;
  KZT_SCALE(c.state.fit.model, status);
}

void run_constrain(FitCall& c, Status& status) {
  if (parameters_missing(c, "WARNING: No parameters; parameters must be input using INPUT PARAMETERS",
                         status))
    return;
  KZT_CONSTRAIN(c.state.fit.model, status);
}

void run_input_parameters(FitCall& c, Status& status) {
  kzt_fit_input_parameters(c.sets, c.state.fit, status);
}

void run_mask_statistics(FitCall& c, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  const std::span<const std::uint8_t> mask =
      c.sets.mask_exist ? std::span<const std::uint8_t>(kzt_mask()) : std::span<const std::uint8_t>();
  KZT_MASKSTATS(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, mask, status);
}

void run_optimise(FitCall& c, Status& status) { kzt_fit_optimise(c.sets, c.state.fit, status); }

void run_model(FitCall& c, Status& status) { kzt_fit_model(c.sets, c.state.fit, status); }

void run_output_parameters(FitCall& c, Status& status) {
  if (parameters_missing(c, "WARNING: Parameters must be defined using \"INPUT PARAMETERS\"",
                         status))
    return;
  KZT_OUT_PARAMETERS(c.sets.mask_exist, c.state.fit, status);
}

void run_results(FitCall& c, Status& status) { kzt_fit_show_results(c.state.fit, status); }

void run_mask_colour(FitCall& c, Status& status) {
  if (graphics_refused(c, status)) return;
  KZT_MASKCOLOUR(status);
}

void run_setup(FitCall& c, Status& status) {
  KZT_SETUP(c.sets.variances_exist, c.state.fit.controls, status);
}

void run_surface(FitCall& c, Status& status) { kzt_fit_surface(c.sets, status); }

void run_mask_memory(FitCall& c, Status& status) { KZT_MASKMEMORY(c.sets, status); }

void run_normalisation(FitCall& c, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  if (a.mdata == nullptr) {
    IO_WRITE("WARNING: Memory arrays do not exist you must create them with \"DIMENSIONS\"",
             status);
    return;
  }
  const bool variances = c.sets.variances_exist && a.variances != nullptr && a.mvariances != nullptr;
  const auto mask = c.sets.mask_exist ? kzt_mask() : std::span<std::uint8_t>{};
  if (KZT_UNINORMALISE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                       variances, kzt_image(a.data), mask,
                       variances ? kzt_image(a.variances) : std::span<float>{},
                       std::max(a.xmaxdat, a.ymaxdat), kzt_image(a.mdata),
                       variances ? kzt_image(a.mvariances) : std::span<float>{}, status) &&
      status == kStatusGood)
    kzt_memory_result(c.sets, status);
}

const FitCommand kCommands[] = {
    {"2-THETA TO RINGS", "Calculate powder pattern from 2-theta scan", "EXIT",
     run_two_theta_to_rings},
    {"CAKE", "Interactive azimuthal/radial integration of \"CAKE\" region", "EXIT", run_cake},
    {"CHANGE SCALE", "Change the typical parameter change sizes", "", run_change_scale},
    {"CLEAR MASK", "Eliminate all previously defined dead zones", "INPUT PARAMETERS",
     run_clear_mask},
    {"CONSTRAIN", "Constrain the fit parameters", "", run_constrain},
    {"COVARIANCE", "Output Covariance Matrix", "", run_covariance},
    {"DEFINE MASK", "Redefine masking of data", "OPTIMISE", run_define_mask},
    {"DISPLAY MASK", "Display presently defined masking dead zones", "OPTIMISE",
     run_display_mask},
    {"EXIT", "Exit fit sub-menu", "", run_leave},
    {"INPUT PARAMETERS", "Input fit parameters", "OPTIMISE", run_input_parameters},
    {"MASK STATISTICS", "Statistics of mask", "DISPLAY MASK", run_mask_statistics},
    {"MINIMISE", "(same as \"OPTIMISE\")", "", run_optimise},
    {"MODEL", "Create model from parameter values, in memory", "", run_model},
    {"NORMALISATION", "Uni-directional flat-field normalisation", "", run_normalisation},
    {"OPTIMISE", "Optimise fit model to data by iterative method", "", run_optimise},
    {"OUTPUT PARAMETERS", "Output fit parameters to a file", "", run_output_parameters},
    {"POWDER DIFFRACTION", "Fit beam centre and tilt angle to rings", "",
     run_powder_diffraction},
    {"QUIT", "Exit fit sub-menu", "", run_leave},
    {"R/THETA RE-BINNING", "Radial/Angular (polar) re-binning of ADR", "", run_rtheta},
    {"RADIAL PROFILE", "Calculate 1-D radial profile in memory", "", run_radial_profile},
    {"RESULTS", "Results of fitting", "", run_results},
    {"SILICON CALIBRATION", "Refine distance/wavelength/centre etc.", "POWDER DIFFRACTION",
     run_silicon_calibration},
    {"SET MASK COLOUR", "User choice of colour to draw masked pixels", "", run_mask_colour},
    {"SET UP", "Alter set up parameters for the Least Squares Fit", "", run_setup},
    {"SURFACE POLYNOMIAL", "Fit 2-D Chebyshev polynomial", "", run_surface},
    {"THRESHOLD MASKING", "Mask elements depending on ADR data values", "",
     run_threshold_masking},
    {"TILT/BEAM CENTRE", "Determine from a powder ring", "POWDER DIFFRACTION",
     run_tilt_centre},
    {"TRANSFER MASK TO MEMORY", "Set masked elements to 1.0 in memory", "", run_mask_memory},
};

const std::vector<std::string>& command_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const FitCommand& c : kCommands) out.emplace_back(c.name);
    return out;
  }();
  return names;
}

const std::vector<std::string>& command_help() {
  static const std::vector<std::string> help = [] {
    std::vector<std::string> out{"Enter one of available commands"};
    for (const FitCommand& c : kCommands)
      out.push_back(std::string(c.name) + ": " + std::string(c.help));
    return out;
  }();
  return help;
}

void store_geometry(const PowderSettings& g, Status& status) {
  KZT_SET_GEOMETRY(true, g.x_beam_centre, g.y_beam_centre, g.sample_distance, g.wavelength,
                   g.tilt_rotation, g.tilt_angle, g.detector_rotation, status);
}

}  // namespace

FitMenuState& kzt_fit_state() { return fit_state; }

void KZT_FIT(KztDataSets& sets, Status& status) {
  std::string graphics_kind;
  KZT_FIT(sets, graphics_kind, status);
}

void KZT_FIT(KztDataSets& sets, std::string& graphics_kind, Status& status) {
  constexpr const char* kName = "Subroutine KZT_FIT V0.1";
  if (st_bad(status, kName)) return;
  const KztArrays& a = vosq_kzt_arrays;
  if (const Status e = region_error(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm,
                                    a.yendelm, kBaseApp))
    return st_fail(status, e, kName);
  FitMenuState& st = fit_state;
  PowderSettings& g = st.geometry;
  if (st.first_entry) {
    // Where a key is absent the geometry's own defaults hold.
    g.x_beam_centre = static_cast<float>(a.xstrelm + a.xendelm) * 0.5f;
    g.y_beam_centre = static_cast<float>(a.ystrelm + a.yendelm) * 0.5f;
    g.sample_distance = kDefaultSampleDistance;
    g.wavelength = kDefaultWavelength;
    st.first_entry = false;
  }
  bool defined = false;
  KZT_INQ_GEOMETRY(defined, g.x_beam_centre, g.y_beam_centre, g.sample_distance, g.wavelength,
                   g.tilt_rotation, g.tilt_angle, g.detector_rotation, status);
  store_geometry(g, status);
  if (status != kStatusGood) return;
  if (st.fit.controls.weighted && kzt_weights_refused(sets.variances_exist, status))
    st.fit.controls.weighted = false;

  const std::vector<std::string>& names = command_names();
  std::string command = "INPUT PARAMETERS";
  for (;;) {
    const std::string proposed = command;
    IO_MENU(true, "Fit sub-menu: ENTER COMMAND", command_help(),
            {"Enter one of available commands"}, static_cast<int>(names.size()), names, command,
            status);
    if (kzt_escape_at_end(status)) break;
    // Any other escape at the menu leaves the sub-menu.
    if (status == kStatusEscape) {
      ST_DEF_SYSTEM(status);
      break;
    }
    // An assignment asks again; the end of the sequence's macro is handed on.
    if (io_ask_again(status)) continue;
    if (io_macro_ended(status)) break;
    if (status == kStatusGood && command == "null") {
      command = proposed;
      continue;
    }
    FitCall c{sets, st, graphics_kind, {}, {}};
    if (status == kStatusGood) {
      const auto found =
          std::find_if(std::begin(kCommands), std::end(kCommands),
                       [&command](const FitCommand& f) { return f.name == command; });
      if (found == std::end(kCommands)) {
        IO_WRITE("WARNING: Unknown command, please enter new command", status);
        command = proposed;
        continue;
      }
      c.name = found->name;
      c.next = std::string(found->next.empty() ? found->name : found->next);
      if (found->run != nullptr) {
        found->run(c, status);
      } else {
        kzt_not_available(found->name, status);
        c.next = std::string(found->name);
      }
      if (c.leave) break;
      command = c.next;
    }
    if (kzt_escape_at_end(status)) break;
    // A question answered with the escape or an assignment is no failure.
    if (status == kStatusEscape) ST_DEF_SYSTEM(status);
    if (status != kStatusGood && !kzt_reset_status(status)) break;
  }
  Status local = kStatusGood;
  store_geometry(g, local);
}

}  // namespace kesta
