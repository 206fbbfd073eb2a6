// The command table and the dispatcher of the keyboard interface.

#include <algorithm>
#include <new>
#include <utility>

#include "app/diffraction/beam_centre.hpp"
#include "app/diffraction/calculators.hpp"
#include "app/diffraction/fibre.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/series_integration.hpp"
#include "app/diffraction/simulation.hpp"
#include "app/distortion/calibration.hpp"
#include "app/fitting/fit_menu.hpp"
#include "app/imageops/colour_menus.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/fourier.hpp"
#include "app/imageops/geometric_transforms.hpp"
#include "app/imageops/histogram.hpp"
#include "app/imageops/image_filters.hpp"
#include "app/imageops/inspection.hpp"
#include "app/imageops/memory_arithmetic.hpp"
#include "app/imageops/one_d_transforms.hpp"
#include "app/imageops/predictor.hpp"
#include "app/imageops/program_target.hpp"
#include "app/imageops/printing.hpp"
#include "app/imageops/statistics_commands.hpp"
#include "app/imageops/surface_interpolation.hpp"
#include "app/imageops/surface_viewer.hpp"
#include "app/imageops/synthetic.hpp"
#include "app/imageops/value_arithmetic.hpp"
#include "app/imageops/variable_commands.hpp"
#include "app/interfaces/help_texts.hpp"
#include "app/interfaces/interfaces.hpp"
#include "app/main/calculator.hpp"
#include "app/main/data_store.hpp"
#include "app/main/kzt_common.hpp"
#include "app/main/macro_commands.hpp"
#include "app/program/graphics_steps.hpp"
#include "app/program/program.hpp"
#include "app/main/utility_commands.hpp"
#include "core/ask_again.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/variables.hpp"
#include "formats/format_menus.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/style_dialogues.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/random.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

// Next default markers of the table: the display command, or the command itself.
constexpr std::string_view kDisplay = "\x01";
constexpr std::string_view kSame = "\x02";

// What a command's branch works on.
struct Dispatch {
  bool from_gui;
  std::string_view name;
  KztDataSets& sets;
  std::string& display_command;
  std::string& graphics_kind;
  bool& continue_flag;
  std::string next;  // the next default, preset from the table
};

using Handler = void (*)(Dispatch&, Status&);

struct Command {
  std::string_view name;
  std::string_view help;
  // Requirements, tested in this order: D current data, M memory holds data,
  // R memory defined over the active data region, A memory arrays exist,
  // G graphics on, P the graphics system open (PostScript output, which a
  // closed window leaves), V variance arrays exist.
  std::string_view needs;
  std::string_view next;
  Handler run;  // nullptr: the operation is not built yet
};

// The proposed names of the input and the output macro, kept for the run.
std::string inmacro_file = kDefaultMacroFile;
std::string outmacro_file = kDefaultMacroFile;

KztArrays& arrays() { return vosq_kzt_arrays; }

// The branch of an image operation's command (a row holds image<F>).
template <KztCommand F>
void image(Dispatch& d, Status& status) {
  F(d.sets, d.next, status);
}

void run_list(Dispatch&, Status& status) { IO_TEXT(kzt_command_help(), status); }

void run_add(Dispatch& d, Status& status) {
  kzt_combine_memory(MemoryOperation::kAdd, d.sets.variances_exist, status);
}

void run_subtract(Dispatch& d, Status& status) {
  kzt_combine_memory(MemoryOperation::kSubtract, d.sets.variances_exist, status);
}

void run_multiply(Dispatch& d, Status& status) {
  kzt_combine_memory(MemoryOperation::kMultiply, d.sets.variances_exist, status);
}

void run_weighted_average(Dispatch&, Status& status) {
  const KztArrays& a = arrays();
  MA_WAVERAGE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_image(a.mdata),
              kzt_image(a.mvariances), a.xmaxdat, a.ymaxdat, kzt_image(a.data),
              kzt_image(a.variances), status);
}

void run_clear(Dispatch& d, Status& status) {
  const KztArrays& a = arrays();
  MA_RVALUE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, 0.0f,
            kzt_image(a.data), status);
  if (d.sets.variances_exist)
    MA_RVALUE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, 0.0f,
              kzt_image(a.variances), status);
}

void run_poisson(Dispatch& d, Status& status) {
  const KztArrays& a = arrays();
  MA_2DPOISSON(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, -1.0f,
               kzt_image(a.data), status);
  if (d.sets.variances_exist)
    MA_RCOPY(a.xmaxdat, a.ymaxdat, kzt_image(a.data), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
             a.xmaxdat, a.ymaxdat, kzt_image(a.variances), status);
}

void run_full_region(Dispatch&, Status&) {
  KztArrays& a = arrays();
  a.xstrelm = 1;
  a.ystrelm = 1;
  a.xendelm = a.xnumdat;
  a.yendelm = a.ynumdat;
}

// REGION: the active data region asked in data units and taken to the
// nearest pixels.
void run_region(Dispatch&, Status& status) {
  KztArrays& a = arrays();
  GS_INP_2DREGION(a.xmaxdat, a.xnumdat, kzt_xline(a.xaxis), a.ymaxdat, a.ynumdat,
                  kzt_yline(a.yaxis), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, status);
}

// INPUT DATA: the chosen reader fills the current data; the whole image then
// becomes the active data region, whatever the reader returned (a failed read
// leaves the extent as it was).
void run_input_data(Dispatch& d, Status& status) {
  KztArrays& a = arrays();
  // The reader may report that the file held no variances; the program's
  // variance arrays still exist, so they are cleared over the new image
  // instead of the program forgetting that it has them.
  // The image read replaces the program arrays it was read into (no copy).
  const ProgramImageTarget target(d.sets);
  FIO_INPUT(target.target(), d.sets.input_file, d.sets.data_defined, status);
  target.clear_unread_variances(status);
  a.xstrelm = 1;
  a.ystrelm = 1;
  a.xendelm = a.xnumdat;
  a.yendelm = a.ynumdat;
  kzt_set_image_region(a.xnumdat, a.ynumdat);
}

// OUTPUT DATA: the active data region through the chosen writer, with the
// last input file proposed as the name.
void run_output_data(Dispatch& d, Status& status) {
  const KztArrays& a = arrays();
  FIO_OUTPUT(d.sets.input_file, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
             kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), kzt_image(a.variances),
             d.sets.title, d.sets.xlabel, d.sets.ylabel, d.sets.zlabel, d.sets.variances_exist,
             d.sets.x_pixel_size, d.sets.y_pixel_size, status);
}

void run_v2c(Dispatch&, Status&) { std::swap(arrays().data, arrays().variances); }

void run_store(Dispatch& d, Status& status) { kzt_store(d.sets, status); }

void run_recall(Dispatch& d, Status& status) { kzt_recall(d.sets, status); }

void run_exchange(Dispatch& d, Status& status) { KZT_EXCHANGE(d.sets, status); }

void run_calibration(Dispatch& d, Status& status) { KZT_CALIBRATION(d.sets, status); }

void run_geometry(Dispatch& d, Status& status) {
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(arrays().ynumdat, d.sets.x_pixel_size, d.sets.y_pixel_size);
  KZT_GEOMETRY(false, kzt_current_image(d.sets), pixels.x, pixels.y, status);
  kzt_keep_pixel_sizes(pixels, d.sets.x_pixel_size, d.sets.y_pixel_size);
}

void run_information(Dispatch& d, Status& status) { KZT_INFORMATION(d.sets, status); }

void run_internal_memory(Dispatch& d, Status& status) { KZT_INTERNALMEMORY(d.sets, status); }

void run_variable(Dispatch&, Status& status) { IO_VARIABLE(status); }

void run_dimensions(Dispatch& d, Status& status) {
  KztArrays& a = arrays();
  // Every question is asked before anything changes, so an escape or a size
  // that cannot be allocated leaves the arrays and their data as they were.
  int xmaxdat = static_cast<int>(std::min<Index>(a.xmaxdat, 100000));
  int ymaxdat = static_cast<int>(std::min<Index>(a.ymaxdat, 100000));
  IO_INPI(true, 1, 100000, true, "ARRAY X DIMENSION",
          {"Enter X dimension for internal data arrays"}, {"Must be within specified bounds"},
          xmaxdat, status);
  IO_INPI(true, 1, 100000, true, "ARRAY Y DIMENSION",
          {"Enter Y dimension for internal data arrays"}, {"Must be within specified bounds"},
          ymaxdat, status);
  bool memory_exist = d.sets.memory_exist;
  bool variances_exist = d.sets.variances_exist;
  IO_INPL(false, false, false, true, "CREATE MEMORY",
          {"YES is required for many operations, NO saves memory"}, {"Must enter YES or NO"},
          memory_exist, status);
  IO_INPL(false, false, false, true, "CREATE VARIANCE ARRAYS",
          {"YES if error analysis is required, NO saves memory"}, {"Must enter YES or NO"},
          variances_exist, status);
  if (status != kStatusGood) return;

  KztArrays fresh = a;
  fresh.variances_removed = !variances_exist && (d.sets.variances_exist || a.variances_removed);
  kzt_allocate_arrays(xmaxdat, ymaxdat, memory_exist, variances_exist, d.sets.mask_exist, fresh,
                      status);
  if (status != kStatusGood) {
    // Sizes within the question's range that the machine cannot give: the
    // failure has been said and nothing has changed, so there is nothing to
    // reset (typed-ahead lines stay commands, not answers to RESET).
    st_reset(status);
    IO_WRITE("WARNING: The program arrays have not been changed", status);
    return;
  }
  KztArrays old = a;
  a = fresh;
  kzt_free_arrays(old, status);
  d.sets.memory_exist = memory_exist;
  d.sets.variances_exist = variances_exist;
  d.sets.data_defined = false;
  d.sets.memory_defined = false;
  kzt_undefined_extent(a);
}

void run_exit(Dispatch& d, Status& status) {
  bool confirmed = d.from_gui;
  if (!d.from_gui)
    IO_INPL(false, false, false, true, "CONFIRM EXIT", {"YES: to exit program, NO: to continue"},
            {"Enter YES or NO"}, confirmed, status);
  if (status != kStatusGood) return;
  if (confirmed) d.continue_flag = false;
}

void run_fast_image(Dispatch&, Status& status) {
  IO_WRITE("WARNING: The command \"FAST IMAGE\" has been removed as the normal PostScript", status);
  IO_WRITE("         printing is now much faster.  You should not  use this command and", status);
  IO_WRITE("         remove it from any macros.", status);
}

void run_filter(Dispatch&, Status& status) { IO_WRITE("WARNING: Not yet implemented", status); }

// A log whose writing failed has been closed by the core services.
void sync_log_flag(Dispatch& d) {
  d.sets.log_file_open = d.sets.log_file_open && vosq_io_dbdb.log_open;
}

void run_open_log(Dispatch& d, Status& status) {
  sync_log_flag(d);
  if (d.sets.log_file_open) {
    IO_WRITE("WARNING: Log file is already open", status);
    return;
  }
  std::string file = kDefaultLogFile;
  IO_OPEN_LOGFILE(true, file, status);
  if (status == kStatusGood) d.sets.log_file_open = true;
}

void run_close_log(Dispatch& d, Status& status) {
  sync_log_flag(d);
  if (d.sets.log_file_open) {
    IO_CLOSE_LOGFILE(status);
    d.sets.log_file_open = false;
    d.next = "EXIT";
  } else {
    IO_WRITE("WARNING: Log file is not open", status);
    d.next = "OPEN LOG";
  }
}

// A recording made in the window's menus is refused as a file that does not
// open is, and the name asked again: read here it would answer the wrong
// questions.
void run_macro(Dispatch&, Status& status) {
  io_ask_until_accepted(
      inmacro_file, [](std::string& name, Status& s) { IO_OPEN_INMACRO(true, name, s); },
      [](const std::string&) { return !io_macro_refused_for(MacroLoop::kKeyboard); },
      [](Status&) {}, status);
}

void run_start_macro(Dispatch&, Status& status) {
  IO_OPEN_OUTMACRO(false, true, outmacro_file, status);
}

void run_stop_macro(Dispatch&, Status& status) {
  IO_CLOSE_OUTMACRO(status);
  inmacro_file = outmacro_file;
}

void run_pause(Dispatch&, Status& status) {
  IO_WRITENA("WAIT: Enter <RETURN> to continue:", status);
  // Straight from the terminal, so that a running macro pauses too; the
  // answer's contents do not matter, nor does the end of the input.
  std::string ignored;
  kzt_read_terminal_line("", ignored);
}

void run_title(Dispatch& d, Status& status) {
  std::string title = d.sets.title;
  IO_INPC(true, "NEW TITLE", {"Enter new title"}, {"Enter valid characters"}, 11, title, status);
  if (status != kStatusGood) return;
  if (title.size() > kKztTextLength) title.resize(kKztTextLength);
  d.sets.title = title;
}

void run_label(Dispatch& d, Status& status) {
  std::string* label = &d.sets.xlabel;
  std::string help = "Enter X-axis label text for graphics";
  if (d.name.front() == 'Y') {
    label = &d.sets.ylabel;
    help = "Enter Y-axis label text for graphics";
  } else if (d.name.front() == 'Z') {
    label = &d.sets.zlabel;
    help = "Enter Z-axis (intensity) label text for graphics";
  }
  std::string text = *label;
  IO_INPC(true, "LABEL TEXT", {help}, {"Enter text or return"}, 11, text, status);
  if (status != kStatusGood) return;
  if (text.size() > kKztTextLength) text.resize(kKztTextLength);
  *label = text;
}

// A coordinate question is clicked on the current data, when there are any.
void run_question(Dispatch& d, Status& status) {
  const GsDisplayedImage shown = kzt_current_image(d.sets);
  KZT_QUESTION(d.sets.graphics_on, d.sets.data_defined ? &shown : nullptr, status);
}

void run_sequence(Dispatch&, Status& status) {
  KZT_SEQUENCE(inmacro_file, KZT_INP_DATATYPE, status);
}

void run_calculator(Dispatch&, Status& status) { KZT_CALCULATOR(status); }

void run_i2c(Dispatch&, Status& status) { KZT_I2C(status); }

void run_list_variables(Dispatch&, Status& status) { KZT_LISTVARIABLES(status); }

void run_undefine(Dispatch&, Status& status) { KZT_UNDEFINE(status); }

void run_concatenation(Dispatch&, Status& status) { KZT_CONCATENATION(status); }

void run_message(Dispatch& d, Status& status) { KZT_MESSAGE(d.sets.graphics_on, status); }

void run_sleep(Dispatch&, Status& status) { KZT_SLEEP(status); }

// The keyboard interface pages the history on the terminal.
void run_changes(Dispatch& d, Status& status) { KZT_CHANGES(d.sets.graphics_on, status); }

// CURVE STYLES: the typed curve-style dialogue.
void run_curve_styles(Dispatch&, Status& status) { GS_INP_CURVESTYLES(false, status); }

// A style command: its dialogue alone.
template <void (*dialogue)(Status&)>
void run_style(Dispatch&, Status& status) {
  dialogue(status);
}

void run_help(Dispatch&, Status& status) { KZT_HELP(false, status); }

void run_bragg(Dispatch&, Status& status) { KZT_BRAGG(status); }

void run_reciprocal(Dispatch&, Status& status) { KZT_RECIPROCAL(status); }

void run_fit(Dispatch& d, Status& status) { KZT_FIT(d.sets, d.graphics_kind, status); }

void run_polarisation(Dispatch& d, Status& status) {
  const KztArrays& a = arrays();
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, d.sets.x_pixel_size, d.sets.y_pixel_size);
  KZT_POLARISATION(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, pixels.x,
                   pixels.y, d.sets.variances_exist, kzt_image(a.data), kzt_image(a.variances),
                   status);
  kzt_keep_pixel_sizes(pixels, d.sets.x_pixel_size, d.sets.y_pixel_size);
}

void run_powder_ring(Dispatch& d, Status& status) {
  const KztArrays& a = arrays();
  DetectorPixelSizes pixels =
      kzt_detector_pixel_sizes(a.ynumdat, d.sets.x_pixel_size, d.sets.y_pixel_size);
  KZT_POWDERRING(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, pixels.x,
                 pixels.y, kzt_image(a.data), status);
  kzt_keep_pixel_sizes(pixels, d.sets.x_pixel_size, d.sets.y_pixel_size);
}

// The table: name, help text, requirements, next default, branch. Commands
// that need the graphics window require graphics (G), as PLOT DATA does.
const Command kCommands[] = {
    {"?", "List of available commands and functions", "", "HELP", run_list},
    {"ADD", "Add active data region of memory to current data", "DMR", "FIT", run_add},
    {"ANNOTATION LABEL", "Define annotation labels for graphics", "", kDisplay,
     run_style<GS_INP_ALABELS>},
    {"ASPECT RATIO", "Control automatic aspect ratio display or not", "", kDisplay,
     image<kzt_command_aspectratio>},
    {"AUTOCORRELATION", "Calculate autocorrelation function of ADR", "DA", "EXCHANGE",
     image<kzt_command_autocorrelation>},
    {"AXES SCALES", "Change X and Y axis scales (start and increment)", "D", kDisplay,
     image<kzt_command_axesscales>},
    {"BLUR", "Blur data by a top hat convolution", "DA", "EXCHANGE", image<kzt_blur_command>},
    {"BRAGGS' EQUATION", "Variety of uses of Braggs equation", "", "GEOMETRY (EXPERIMENT)",
     run_bragg},
    {"CADD", "Add constant to active data region", "D", "CMULTIPLY", image<kzt_command_cadd>},
    {"CALCULATOR", "Reverse Polish notation calculator", "", "CALIBRATION", run_calculator},
    {"CALIBRATION", "Calculate or apply calibration functions", "D", "EXCHANGE", run_calibration},
    {"CDIVIDE", "Divide by a constant value the active data region", "D", kDisplay,
     image<kzt_command_cdivide>},
    {"CHANGES", "Details of important changes in KESTA versions", "", kSame, run_changes},
    {"CLEAR DATA", "Set active data region (and variances) to zero", "D", "SYMMETRIC FUNCTION",
     run_clear},
    {"CLOSE LOG", "Close log file", "", "EXIT", run_close_log},
    {"CMULTIPLY", "Multiply active data region by a constant", "D", "CADD",
     image<kzt_command_cmultiply>},
    {"COLOUR TABLE", "Choice of colour table and index range", "", kDisplay,
     [](Dispatch&, Status& status) { kzt_colour_table(status); }},
    {"CONCATENATION", "Concatenate two strings and save in a variable", "", "DEFINE VARIABLE",
     run_concatenation},
    {"CONTOUR PLOT", "Graphic display of active data region", "D", "PRINT GRAPHICS",
     [](Dispatch& d, Status& status) { kzt_contour_plot(d.sets, d.graphics_kind, status); }},
    {"CREATE DATA", "Define blank data region (for simulation)", "", "GAUSSIAN",
     image<kzt_command_createdata>},
    {"CURVE STYLES", "Set attributes for curve representations", "", kDisplay,
     run_curve_styles},
    {"DEDUCE FILE SEQUENCE", "Deduce components of file sequence", "", "CONCATENATION",
     [](Dispatch&, Status& status) { KZT_FILESEQUENCE(status); }},
    {"DEFINE VARIABLE", "Define variable and its corresponding value", "", "MACRO", run_variable},
    {"DIFFRACTION PATTERN", "Predict part of diffraction pattern", "G", "PRINT GRAPHICS",
     [](Dispatch& d, Status& status) { KZT_DIFPATTERN(d.sets, status); }},
    {"DIMENSIONS", "Change dynamic array dimensions", "", "INPUT DATA", run_dimensions},
    {"DISPLAY LIMITS", "Set maximum number of displayable pixels", "", kDisplay,
     image<kzt_command_displaylimits>},
    {"DIVIDE", "DIVIDE ADR of current data by the memory", "DMR", "FIT", image<kzt_command_divide>},
    {"END GRAPHICS FILE", "Close previously opened PostScript file", "", "PRINT GRAPHICS",
     [](Dispatch&, Status& status) { gs_end_graphics_file(status); }},
    {"ENTROPY", "Calculate image entropy and frequency statistics", "D", "INPUT DATA",
     image<kzt_command_entropy>},
    {"EXCHANGE", "Exchange current data with the memory contents", "DA", kDisplay, run_exchange},
    {"EXIT", "Exit from program", "", "INPUT DATA", run_exit},
    {"EXTEND", "Extend defined data region by user defined size", "", kDisplay,
     image<kzt_extend_command>},
    {"FAST IMAGE", "Fast output of an image to PostScript", "", kSame, run_fast_image},
    {"FILTER", "Fourier Filtering of data with sharp cutoff filter", "", kSame, run_filter},
    {"FIT", "Model fitting, also detector tilt, and powder integration", "DA", "EXCHANGE",
     run_fit},
    {"FLIP", "Reflect data through horizontal or vertical middle", "D", kDisplay,
     image<kzt_flip_command>},
    {"FONT", "Select text font to be used for all roman text", "", kDisplay,
     run_style<GS_INP_FONT>},
    {"FUJI LINEARISATION", "Convert intensities to linear scale", "D", kDisplay,
     image<kzt_command_fuji>},
    {"FULL REGION", "Set active data region to full data region", "D", "OUTPUT DATA",
     run_full_region},
    {"GAUSSIAN", "Add 2-D Gaussian to data", "D", kDisplay, image<kzt_command_gaussian>},
    {"GEOMETRY (EXPERIMENT)", "Define experimental geometry", "D", "DIFFRACTION PATTERN",
     run_geometry},
    {"GRID", "Define graphics grid requirements", "", kDisplay, run_style<GS_INP_GRID>},
    {"GUI", "\"Graphical user interface\" scientific interfaces menu", "G", "EXIT",
     image<kzt_command_gui>},
    {"HELP", "User help and information", "", kSame, run_help},
    {"HISTOGRAM", "Calculate pixel value frequency histogram", "DA", "EXCHANGE",
     image<kzt_command_histogram>},
    {"I2C", "Convert integer to character representation (for macros)", "", "CONCATENATION",
     run_i2c},
    {"IMAGE", "Interactive control of image display", "GD", "EXIT",
     [](Dispatch& d, Status& status) {
       // The menu draws the image and says which kind it drew, for PRINT
       // GRAPHICS to draw again.
       KZT_IMAGE(d.sets, d.graphics_kind, status);
       d.display_command = "IMAGE";
     }},
    {"INFORMATION", "Information on the internal state of KESTA", "", "DIMENSIONS",
     run_information},
    {"INPUT DATA", "Input data from data file", "", kDisplay, run_input_data},
    {"INTERNAL MEMORY", "Store current ADR in special program memory", "", kDisplay,
     run_internal_memory},
    {"LINEARISE FILM", "Non-linearity corrections to film data", "D", kDisplay,
     image<kzt_command_linearise>},
    {"LIST VARIABLES", "List defined variables, types, and values", "", "DEFINE VARIABLE",
     run_list_variables},
    {"LOGARITHM", "Take logarithm base 10 of all elements in ADR", "D", kDisplay,
     image<kzt_command_logarithm>},
    {"MACRO", "Run previously saved macro definition file", "", kDisplay, run_macro},
    {"MEDIAN FILTER", "Filter by taking median value within window", "DA", "EXCHANGE",
     image<kzt_medianfilter_command>},
    {"MESSAGE", "Define a message for output during a macro", "", "SLEEP", run_message},
    {"MOVE/ROTATE", "Move and or rotate image, output in memory", "DA", "EXCHANGE",
     image<kzt_move_command>},
    {"MULTIPLY", "Multiply ADR of memory to the current data", "DMR", "FIT", run_multiply},
    {"NORMALISE", "Normalise ADR; divide by maximum value within ADR", "D", "OUTPUT DATA",
     image<kzt_command_normalise>},
    {"OFFSET/SCALE", "Calculate offset and scale between two images", "DMR", "CMULTIPLY",
     image<kzt_command_offset>},
    {"OPEN LOG", "Open log file for record of input and output", "", "INPUT DATA", run_open_log},
    {"OUTPUT DATA", "Output data to named data file", "D", "INPUT DATA", run_output_data},
    {"PAGE POSITION", "Set position of data display region on page", "", kDisplay,
     run_style<GS_INP_GPP>},
    {"PAUSE", "Wait for a user return (including within macros)", "", kDisplay, run_pause},
    {"PEEP", "Look at pixel coordinates and value", "GD", kDisplay, image<kzt_command_peep>},
    {"PIXEL REGION", "Change active data region using pixel limits", "D", kDisplay,
     image<kzt_command_pixelregion>},
    {"PLOT DATA", "Plot data as 2-D image (or X-Y graph if 1-D)", "GD", "Z-SCALE",
     [](Dispatch& d, Status& status) {
       kzt_plot_data(d.sets, d.display_command, d.graphics_kind, status);
     }},
    {"POISSONIAN NOISE", "Add Poissonian noise to data", "D", kDisplay, run_poisson},
    {"POLARISATION EFFECT", "Apply polarisation effect to intensities", "GD", kDisplay,
     run_polarisation},
    {"POSTSCRIPT OPTIONS", "Controls options affecting PostScript", "", "PRINT GRAPHICS",
     image<kzt_command_postscript>},
    {"POWER SPECTRUM", "Calculate power spectrum of ADR", "DA", "EXCHANGE",
     image<kzt_command_powerspec>},
    {"PREDICTOR", "Applied a predictor algorithm to image", "DA", "EXCHANGE",
     image<kzt_command_predictor>},
    {"PRINT GRAPHICS", "Output graphics to a file for printing", "P", "EXIT",
     [](Dispatch& d, Status& status) { kzt_command_print(d.sets, d.graphics_kind, status); }},
    {"PUBLICATION QUALITY", "Set attributes for high quality output", "", kDisplay,
     [](Dispatch&, Status& status) { GS_MSET_PUBLICATION(status); }},
    {"QUESTION", "Ask an interactive question during a macro", "", kSame, run_question},
    {"QUIT", "Exit from program", "", "INPUT DATA", run_exit},
    {"RAISE TO A POWER", "Raise elements in ADR to specified power", "D", kDisplay,
     image<kzt_command_power>},
    {"REBIN", "Rebin data, output in memory (same as \"RE-BIN\")", "DA", "EXCHANGE",
     image<kzt_rebin_command>},
    {"RE-BIN", "Re-bin data, output in memory", "DA", "EXCHANGE", image<kzt_rebin_command>},
    {"RECALL", "Recall data set from internal memory", "M", "FIT", run_recall},
    {"REFLECT", "Reflect data about input line, output in memory", "DA", "EXCHANGE",
     image<kzt_reflect_command>},
    {"REGION", "Change active data region", "D", kDisplay, run_region},
    {"RING (ADD POWDER RING)", "Add powder diffraction ring to data", "D", kDisplay,
     run_powder_ring},
    {"ROI", "Defined Region Of Interest (Active Data Region) (pixels)", "D", kDisplay,
     image<kzt_command_pixelregion>},
    {"ROTATE LUT", "Interactive rotation of the colour table", "G", kSame,
     image<kzt_command_rotatelut>},
    {"RUN MACRO", "Run previously saved macro definition file", "", kDisplay, run_macro},
    {"SELECT PIXEL OPERATION", "Operation on defined pixel value range", "D", kDisplay,
     image<kzt_command_selectpixel>},
    {"SEQUENCE", "Run macro for a sequence of files (or not)", "", "EXIT", run_sequence},
    {"SET ANNOTATION STYLE", "Set style of annotation label text", "", kDisplay,
     run_style<GS_INP_ALABELSTYLES>},
    {"SET ARROW STYLE", "Set style of an arrow; style, colour, etc.", "", kDisplay,
     run_style<GS_INP_ARROWSTYLES>},
    {"SET AXES STYLE", "Set style of axes, line width colour", "", kDisplay,
     run_style<GS_INP_AXESSTYLES>},
    {"SET BACKGROUND STYLE", "Define background colour", "", kDisplay,
     run_style<GS_INP_BACKGROUND>},
    {"SET COLOURS", "Set colour of graph lines, text, and markers", "", kDisplay,
     run_style<GS_INP_ACOLOURS>},
    {"SET CURVE STYLES", "Set attributes for curve representations", "", kDisplay,
     run_curve_styles},
    {"SET ENUMERATION STYLE", "Set style for axis numbering", "", kDisplay,
     run_style<GS_INP_ENUMERATIONSTYLE>},
    {"SET FONT", "Select text font to be used for all roman text", "", kDisplay,
     run_style<GS_INP_FONT>},
    {"SET GRID STYLE", "line type, colour, and width for grid", "", kDisplay,
     run_style<GS_INP_GRIDSTYLE>},
    {"SET LAYOUT STYLE", "Graphics title, and axis label distances", "", kDisplay,
     run_style<GS_INP_LAYOUT>},
    {"SET TICK POSITIONS", "Positions of axes large tick marks", "", kDisplay,
     run_style<GS_INP_LTICKS>},
    {"SET TITLE STYLE", "text font, colour, character width, etc.", "", kDisplay,
     run_style<GS_INP_TITLESTYLE>},
    {"SET X-LABEL STYLE", "text font, colour, character width, etc.", "", kDisplay,
     run_style<GS_INP_XLABELSTYLE>},
    {"SET Y-LABEL STYLE", "text font, colour, character width, etc.", "", kDisplay,
     run_style<GS_INP_YLABELSTYLE>},
    {"SLEEP", "Pause for a defined number of seconds", "", "MESSAGE", run_sleep},
    {"SMOOTH", "Top-hat convolution smoothing of user input size", "DA", "EXCHANGE",
     image<kzt_blur_command>},
    {"SPATIAL FILTERING", "Filtering in Spatial domain", "DA", "EXCHANGE",
     image<kzt_spatialfilter_command>},
    {"START MACRO", "Save commands in macro definition file", "", "INPUT DATA", run_start_macro},
    {"STATISTICS", "Calculate parameters of a region of the data", "D", "CLOSE LOG",
     image<kzt_command_statistics>},
    {"STOP MACRO", "Close previously opened macro definition file", "", "SEQUENCE", run_stop_macro},
    {"STORE", "Store present data set in internal memory", "DA", "INPUT DATA", run_store},
    {"SUBTRACT", "Subtract active data region of memory from data", "DMR", kDisplay, run_subtract},
    {"SURFACE INTERPOLATION", "User defined surface in memory", "DAG", "EXCHANGE",
     image<kzt_command_surface>},
    {"SYMBOL", "Same as \"VARIABLE\"", "", "MACRO", run_variable},
    {"SYMMETRIC FUNCTION", "Add circularly symmetric function to data", "DM", kDisplay,
     image<kzt_command_symfun>},
    {"TITLE", "Input new text for title", "", kDisplay, run_title},
    {"THRESHOLD", "Set minimum and/or maximum values in ADR", "D", kDisplay,
     image<kzt_command_threshold>},
    {"TRANSPOSE", "Transpose data arrays and variance arrays", "DA", "EXCHANGE",
     image<kzt_transpose_command>},
    {"UN-DEFINE VARIABLE", "Remove variable from translation table", "", "MACRO", run_undefine},
    {"UNIT CELL PARAMETERS", "Convert between real and reciprocal", "", kSame, run_reciprocal},
    {"VARIABLE", "Define a named variable its type and value", "", "MACRO", run_variable},
    {"VARIANCES DEFINITION", "Define variances from current data", "DV", "OUTPUT DATA",
     image<kzt_command_variances>},
    {"V2C", "Variance to current and vice versa (special command)", "DV", kDisplay, run_v2c},
    {"WAIT", "Wait for a user return (including within macros)", "", kDisplay, run_pause},
    {"WEIGHTED AVERAGE", "data and memory weighted by variances", "DMV", "OUTPUT DATA",
     run_weighted_average},
    {"X-AXIS LABEL", "Enter X-axis for graphics", "", kDisplay, run_label},
    {"Y-AXIS LABEL", "Enter Y-axis label for graphics", "", kDisplay, run_label},
    {"Z-AXIS LABEL", "Enter Z-axis label (intensity) for graphics", "", kDisplay, run_label},
    {"Z-SCALE", "Image scaling mode, automatic, minimum/ maximum", "", kDisplay,
     image<kzt_command_zscale>},
    {"1-D INTERPOLATION", "Correct 1-D values by interpolation", "D", kDisplay,
     image<kzt_command_1dinterpolate>},
    {"3-D SURFACE PLOT", "Graphics view of active data region", "GD", "PRINT GRAPHICS",
     [](Dispatch& d, Status& status) { kzt_command_3dsurface(d.sets, d.graphics_kind, status); }},
};

constexpr int kNumCommands = static_cast<int>(std::size(kCommands));
static_assert(kNumCommands == 129);

// The first requirement of COMMAND that the data set does not meet, or 0.
int failed_requirement(const Command& command, const KztDataSets& sets) {
  const KztArrays& a = vosq_kzt_arrays;
  for (const char letter : command.needs) {
    switch (letter) {
      case 'D':
        if (!sets.data_defined) return kNeedsData;
        break;
      case 'M':
        if (!sets.memory_defined) return kNeedsMemoryData;
        break;
      case 'R':
        if (a.xendelm > sets.mxnumdat || a.yendelm > sets.mynumdat) return kNeedsMemoryOverRegion;
        break;
      case 'A':
        if (!sets.memory_exist) return kNeedsMemoryArrays;
        break;
      case 'G':
        if (!sets.graphics_on) return kNeedsGraphics;
        break;
      case 'P':
        if (!kzt_graphics_system_open()) return kNeedsGraphics;
        break;
      case 'V':
        if (!sets.variances_exist) return kNeedsVariances;
        break;
      default:
        break;
    }
  }
  return kNoPrecondition;
}

}  // namespace

const std::vector<std::string>& kzt_command_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const Command& command : kCommands) out.emplace_back(command.name);
    return out;
  }();
  return names;
}

const std::vector<std::string>& kzt_command_help() {
  static const std::vector<std::string> help = [] {
    std::vector<std::string> out;
    for (const Command& command : kCommands)
      out.push_back(std::string(command.name) + ": " + std::string(command.help));
    return out;
  }();
  return help;
}

void KZT_KEYSUB(bool from_gui, std::string& command, std::string& display_command,
                std::string& graphics_kind, KztDataSets& sets, int& precondition,
                bool& continue_flag, Status& status) {
  if (status == kStatusEscape || status == kStatusConsumed) {
    ST_DEF_SYSTEM(status);
    return;
  }
  if (st_bad(status, "Subroutine KZT_KEYSUB V0.9")) return;
  precondition = kNoPrecondition;
  const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&command](const Command& c) { return c.name == command; });
  if (found == std::end(kCommands)) {
    if (command == "null") return;
    IO_WRITE("WARNING: Illegal command, please re-enter", status);
    command = "INPUT DATA";
    return;
  }
  const Command& entry = *found;
  precondition = failed_requirement(entry, sets);
  if (precondition != kNoPrecondition) return;

  Dispatch dispatch{from_gui, entry.name, sets, display_command, graphics_kind, continue_flag, {}};
  if (entry.next == kDisplay)
    dispatch.next = display_command;
  else if (entry.next == kSame)
    dispatch.next = std::string(entry.name);
  else
    dispatch.next = std::string(entry.next);
  if (entry.run != nullptr) {
    // Memory that cannot be had ends the command, never the session: the
    // operations change the data last, after every allocation.
    try {
      entry.run(dispatch, status);
    } catch (const std::bad_alloc&) {
      Status local = ST_GOOD();
      IO_WRITE("WARNING: Not enough memory for \"" + std::string(entry.name) +
                   "\"; the command was not completed",
               local);
      if (status == kStatusGood || status == kStatusConsumed)
        st_fail(status, kBaseCore + 1002, "Subroutine KZT_KEYSUB V0.9");
    }
  } else {
    kzt_not_available(entry.name, status);
    dispatch.next = std::string(entry.name);
  }
  command = dispatch.next;
}

}  // namespace kesta
