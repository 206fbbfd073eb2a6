// The curve-style dialogue: how a block of curves is drawn (line, markers,
// error boxes), through forms in the window or typed questions.

#include <algorithm>
#include <string>
#include <vector>

#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/style_dialogues.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// The block of curves last set (1-based, kept for the run).
int block_first = 1;
int block_last = 1;

GsFormItem form_item(std::string label, int type, std::string description, std::string prompt) {
  GsFormItem i;
  i.label = std::move(label);
  i.type = type;
  i.description = std::move(description);
  i.prompt = std::move(prompt);
  return i;
}
GsFormItem integer_item(std::string label, int lower, int upper, int value,
                        std::string description, std::string prompt) {
  GsFormItem i = form_item(std::move(label), 1, std::move(description), std::move(prompt));
  i.ranged = true;
  i.int_lower = lower;
  i.int_upper = upper;
  i.int_value = value;
  return i;
}
GsFormItem real_item(std::string label, float value, std::string description,
                     std::string prompt) {
  GsFormItem i = form_item(std::move(label), 3, std::move(description), std::move(prompt));
  i.ranged = true;
  i.real_lower = kGsSmallestScale;
  i.real_upper = 100.0f;
  i.real_value = value;
  return i;
}
GsFormItem logical_item(std::string label, bool value, std::string description,
                        std::string prompt) {
  GsFormItem i = form_item(std::move(label), 2, std::move(description), std::move(prompt));
  i.logical_value = value;
  return i;
}
GsFormItem colour_item(int value, std::string description, std::string prompt) {
  GsFormItem i = form_item("COLOUR", 5, std::move(description), std::move(prompt));
  i.int_value = value;
  return i;
}

// One form; false after CANCEL (STATUS the user escape) or a failure.
bool ask_form(const std::vector<std::string>& title, const std::vector<std::string>& help,
              std::vector<GsFormItem>& items, Status& status) {
  int code = 0;
  GS_FORM(2, 2, title, static_cast<int>(help.size()), static_cast<int>(help.size()), help,
          static_cast<int>(items.size()) + 5, items, code, status);
  if (status == kStatusGood && code == -1) status = kStatusEscape;
  return status == kStatusGood;
}

// The current styles of curve N.
struct CurveStyles {
  bool line = true, markers = true, errors = true;
  GsCurveLine line_style;
  int marker_type = 1, marker_colour = 1;
  float marker_size = 1.0f;
  GsCurveSoftMarkers soft;
  GsCurveErrors error_style;
};
CurveStyles styles_of(int curve, Status& status) {
  CurveStyles c;
  GS_INQ_CURVESTYLE(curve, c.line, c.markers, c.errors, status);
  GS_INQ_CURVELINE(curve, c.line_style, status);
  GS_INQ_CURVEMARKERS(curve, c.marker_type, c.marker_colour, c.marker_size, status);
  GS_INQ_CURVESOFTMARKERS(curve, c.soft, status);
  GS_INQ_CURVEERRORS(curve, c.error_style, status);
  return c;
}

void store_line(const GsCurveLine& l, Status& status) {
  for (int k = block_first; k <= block_last && status == kStatusGood; ++k)
    GS_SET_CURVELINE(k, l.type, l.colour, l.width, l.closed, l.interpolation, status);
}
void store_markers(int type, int colour, float size, float width, bool filled, int fill,
                   Status& status) {
  for (int k = block_first; k <= block_last && status == kStatusGood; ++k) {
    GS_SET_CURVEMARKERS(k, type, colour, size, status);
    GS_SET_CURVESOFTMARKERS(k, width, filled, fill, status);
  }
}
void store_errors(const GsCurveErrors& e, Status& status) {
  for (int k = block_first; k <= block_last && status == kStatusGood; ++k)
    GS_SET_CURVEERRORS(k, e.box_type, e.line_type, e.colour, e.width, status);
}
void store_flags(bool line, bool markers, bool errors, Status& status) {
  for (int k = block_first; k <= block_last && status == kStatusGood; ++k)
    GS_SET_CURVESTYLE(k, line, markers, errors, status);
}

void graphical(int max_curves, Status& status) {
  const std::vector<std::string> control_help{
      "Curve Output Styles", "", "Output styles for many different curves",
      "may be set individually or together in a", "block. The range of curves for which the",
      "styles will be set are defined with the", "\"FIRST CURVE\" and \"LAST CURVE\" buttons.",
      "For each curve the output of a line", "through the data coordinates, markers",
      "drawn at the data coordinates, and", "error boxes centred on the data points",
      "may be selected."};
  CurveStyles c = styles_of(block_first, status);
  std::vector<GsFormItem> control;
  while (status == kStatusGood) {
    control = {
        integer_item("FIRST CURVE", 1, max_curves, block_first, "FIRST CURVE TO SET OUTPUT STYLE",
                     "Enter number of first curve in range of curves to set output style"),
        integer_item("LAST CURVE", 1, max_curves, block_last, "LAST CURVE TO SET OUTPUT STYLE",
                     "Enter number of last curve in range of curves to set output style"),
        logical_item("DRAW LINE", c.line, "OUTPUT LINE THROUGH COORDINATES",
                     "Enter \"YES\" to set output of lines through coordinates"),
        logical_item("DRAW MARKERS", c.markers, "DRAW MARKERS AT COORDINATE POINTS",
                     "Enter \"YES\" to set output of markers at coordinates"),
        logical_item("DRAW ERRORS", c.errors, "DRAW ERRORS BOXES (IF ERRORS DEFINED)",
                     "Enter \"YES\" to set output of error boxes coordinates")};
    if (!ask_form({"CURVES OUTPUT STYLES", "CONTROL FORM"}, control_help, control, status)) return;
    if (control[1].int_value >= control[0].int_value) break;
    gs_refusal({"\"LAST CURVE\" CANNOT BE SMALLER", "THAN \"FIRST CURVE\""}, status);
  }
  if (status != kStatusGood) return;
  block_first = control[0].int_value;
  block_last = control[1].int_value;
  const bool line = control[2].logical_value, markers = control[3].logical_value,
             errors = control[4].logical_value;
  c = styles_of(block_first, status);

  if (line) {
    std::vector<GsFormItem> items{
        integer_item("LINE TYPE", 1, 4, c.line_style.type, "LINE TYPE FOR DRAWING THROUGH POINTS",
                     "Enter style used for drawing lines(1 = solid, 2 = dashed, 3 = dotted, 4 = "
                     "dot-dash)"),
        colour_item(c.line_style.colour, "COLOUR OF LINES TO DRAW", "Enter colour to draw lines"),
        real_item("WIDTH", c.line_style.width, "SCALE FACTOR FOR LINE WIDTHS",
                  "Enter scale factor for line widths e.g. 2 = double thickness lines"),
        logical_item("CLOSE", c.line_style.closed, "CLOSE LOOPS FROM LAST POINT TO FIRST",
                     "Enter \"YES\" to close figures by drawing at line from the last to first "
                     "point"),
        integer_item("INTERPOLATION", 0, 2, c.line_style.interpolation,
                     "TYPE OF INTERPOLATION METHOD",
                     "Enter interpolation type: 0 = Linear, 1 = Cubic Spline, 2 = Piecewise "
                     "monotonic")};
    if (!ask_form({"LINE OUTPUT STYLE", "CONTROL FORM"},
                  {"Control of style of line output", "",
                   "The type of line (solid, dashed, dotted,",
                   "dash-dot) may be selected, together with", "the colour, and the width.", "",
                   "Optionally, curves may be closed by", "drawing a line from the last data point",
                   "to the first, and a choice of interpolation",
                   "methods are available allowing smooth lines", "to be drawn between the data points"},
                  items, status))
      return;
    store_line({items[0].int_value, items[1].int_value, items[2].real_value,
                items[3].logical_value, items[4].int_value},
               status);
  }
  if (markers && status == kStatusGood) {
    std::vector<GsFormItem> items{
        integer_item("MARKER", 1, 13, c.marker_type, "MARKER TYPE FOR DRAWING COORDINATES",
                     "1 = ., 2 = X, 3 = *, 4 = o, 5 = +, 6 = square, 7 = kite, 8 = triangle, 9 = "
                     "upside down triangle, 10 = star, 11 = Convolu"),
        colour_item(c.marker_colour, "COLOUR OF MARKERS TO DRAW", "Enter colour to draw markers"),
        real_item("SIZE", c.marker_size, "SCALE FACTOR FOR MARKER SIZES",
                  "Enter scale factor for marker sizese.g. 2 = twice as large as default"),
        real_item("WIDTH", static_cast<float>(c.soft.width), "LINE WIDTH FOR DRAWING MARKERS",
                  "Enter scale factor for width of lines used to draw the markers"),
        logical_item("FILLED", c.soft.filled, "FILL INTERIOR OF MARKERS",
                     "Enter \"YES\", if the interior of markers (when existent) is to be filled"),
        colour_item(c.soft.fill_colour, "FILL COLOUR FOR MARKER INTERIORS",
                    "Enter colour used to fill interior of markers (when existent)")};
    items[5].label = "FILL COLOUR";
    if (!ask_form({"MARKERS OUTPUT STYLE", "CONTROL FORM"},
                  {"Control of style of marker output", "",
                   "The type of marker (dot, cross, circle,", "etc.) may be selected, together with",
                   "the colour, size, and the line width.", "",
                   "Optionally, markers defining interiors", "may be filled with a specified colour.",
                   "", "The following choice of markers is", "available:",
                   "1 = . (not scaled), 2 = X, 3 = *,", "4 = o, 5 = +, 6 = square",
                   "7 = Rotated square (kite),", "8 = triangle, 9 = upside down triangle,",
                   "10 = six-pointed star,", "11 = Convolution sign",
                   "     (circle with diagonal cross),", "12 = Circle with horizontal cross,",
                   "13 = * (Two coloured cross)"},
                  items, status))
      return;
    store_markers(items[0].int_value, items[1].int_value, items[2].real_value, items[3].real_value,
                  items[4].logical_value, items[5].int_value, status);
  }
  if (errors && status == kStatusGood) {
    std::vector<GsFormItem> items{
        integer_item("BOX TYPE", 0, 2, c.error_style.box_type, "ERROR BOX TYPE FOR COORDINATES",
                     "Error box type: 0 = Cross hair, 1 = Kite, 2 = Rectangle"),
        integer_item("LINE TYPE", 1, 4, c.error_style.line_type, "LINE TYPE FOR DRAWING ERROR BOXES",
                     "Error box line type: 1 = solid, 2 = dashed, 3 = dotted, 4 = dot-dash"),
        colour_item(c.error_style.colour, "COLOUR OF ERROR BOXES TO DRAW",
                    "Enter colour to draw error boxes"),
        real_item("WIDTH", c.error_style.width, "LINE WIDTH FOR DRAWING ERROR BOXES",
                  "Enter scale factor for width of lines used to draw the error boxes")};
    if (!ask_form({"ERROR BOXES OUTPUT", "STYLE CONTROL FORM"},
                  {"Control of style of error box output", "",
                   "The type of error boxes (cross-hair, kite,",
                   "rectangle) may be selected, together with", "the colour, line type and width."},
                  items, status))
      return;
    store_errors({items[0].int_value, items[1].int_value, items[2].int_value, items[3].real_value},
                 status);
  }
  store_flags(line, markers, errors, status);
}

void typed(int max_curves, Status& status) {
  static const std::string kIntegerError[] = {"Enter valid integer value within given range"};
  static const std::string kRealError[] = {"Enter valid real value within given range"};
  static const std::string kYesNoError[] = {"Enter YES or NO"};
  int first = block_first;
  IO_INPI(true, 1, max_curves, true, "NUMBER OF FIRST CURVE",
          {"Enter first curve in range to set style of curves"}, kIntegerError, first, status);
  if (status != kStatusGood) return;
  int last = first;
  IO_INPI(true, first, max_curves, true, "NUMBER OF LAST CURVE",
          {"Enter last curve in range to set style of curves"}, kIntegerError, last, status);
  if (status != kStatusGood) return;
  block_first = first;
  block_last = last;
  CurveStyles c = styles_of(first, status);

  bool line = c.line;
  IO_INPL(false, false, true, true, "DRAW LINE", {"Enter YES for a line drawn between data values"},
          kYesNoError, line, status);
  if (line && status == kStatusGood) {
    GsCurveLine& l = c.line_style;
    IO_INPI(true, 1, 4, true, "LINE TYPE", {"1 = solid, 2 = dashed, 3 = dotted, 4 = dot-dash"},
            kIntegerError, l.type, status);
    GS_INP_COLOUR("LINE COLOUR", true, l.colour, status);
    IO_INPR(true, kGsSmallestScale, 100.0f, true, "LINE WIDTH SCALE FACTOR",
            {"Scale factor for thickness of line (at least 0.01)"}, kRealError, l.width, status);
    IO_INPL(false, false, true, true, "LINE CLOSED", {"YES: if the end points are to be joined"},
            kYesNoError, l.closed, status);
    IO_INPI(true, 0, 2, true, "INTERPOLATION METHOD",
            {"0 = Straight line, 1 = Cubic Spline, 2 = Piecewise monotonic"}, kIntegerError,
            l.interpolation, status);
    store_line(l, status);
  }
  if (status != kStatusGood) return;

  bool markers = c.markers;
  IO_INPL(false, false, true, true, "DRAW MARKERS", {"Enter YES to draw markers at data values"},
          kYesNoError, markers, status);
  if (markers && status == kStatusGood) {
    IO_INPI(true, 1, 13, true, "MARKER TYPE",
            {"Marker types are:", "1 = . (not scaled), 2 = X, 3 = *, 4 = o, 5 = +, 6 = square",
             "7 = Rotated square (kite), 8 = triangle, 9 = upside down triangle,",
             "10 = six-pointed star, 11 = Convolution sign (circle with diagonal cross),",
             "12 = Circle with horizontal cross, 13 = * (Two coloured)"},
            kIntegerError, c.marker_type, status);
    GS_INP_COLOUR("MARKER COLOUR", true, c.marker_colour, status);
    IO_INPR(true, kGsSmallestScale, 100.0f, true, "MARKER SCALE FACTOR",
            {"Scale factor for size of marker (at least 0.01)"}, kRealError, c.marker_size,
            status);
    float width = static_cast<float>(c.soft.width);
    IO_INPR(true, 0.0f, 100.0f, true, "MARKER LINE WIDTH SCALE FACTOR",
            {"Scale factor for line width used to draw marker"}, kRealError, width, status);
    IO_INPL(false, false, true, true, "MARKER FILL AREA",
            {"YES if area enclosing markers are to be filled"}, kYesNoError, c.soft.filled,
            status);
    if (c.soft.filled) GS_INP_COLOUR("MARKER FILL COLOUR", true, c.soft.fill_colour, status);
    if (status == kStatusGood)
      store_markers(c.marker_type, c.marker_colour, c.marker_size, width, c.soft.filled,
                    c.soft.fill_colour, status);
  }
  if (status != kStatusGood) return;

  bool errors = c.errors;
  IO_INPL(false, false, true, true, "DRAW ERROR BOXES",
          {"Enter YES to draw error boxes around data values"}, kYesNoError, errors, status);
  if (errors && status == kStatusGood) {
    GsCurveErrors& e = c.error_style;
    IO_INPI(true, 0, 2, true, "ERROR BOX TYPE", {"0 = Cross hair, 1 = Kite, 2 = Rectangle"},
            kIntegerError, e.box_type, status);
    IO_INPI(true, 1, 4, true, "ERROR BOX LINE TYPE",
            {"1 = solid, 2 = dashed, 3 = dotted, 4 = dot-dash"}, kIntegerError, e.line_type,
            status);
    GS_INP_COLOUR("ERROR BOX COLOUR", true, e.colour, status);
    IO_INPR(true, kGsSmallestScale, 100.0f, true, "ERROR BOX LINE WIDTH SCALE FACTOR",
            {"Scale factor for thickness of line for error boxes (at least 0.01)"}, kRealError,
            e.width, status);
    store_errors(e, status);
  }
  store_flags(line, markers, errors, status);
}

}  // namespace

void GS_INP_CURVESTYLES(bool gui, Status& status) {
  if (st_bad(status, "Subroutine GS_INP_CURVESTYLES V0.4")) return;
  int max_curves = 40;
  GS_INQ_MAXCURVES(max_curves, status);
  block_first = std::clamp(block_first, 1, max_curves);
  block_last = std::clamp(block_last, block_first, max_curves);
  if (gui)
    graphical(max_curves, status);
  else
    typed(max_curves, status);
}

}  // namespace kesta
