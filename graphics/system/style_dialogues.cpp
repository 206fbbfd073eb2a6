// The keyboard dialogues of the graph styles.

#include "graphics/system/style_dialogues.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"

namespace kesta {
namespace {

// The label angle is shown in degrees with this value of pi.
constexpr float kPi = 3.1415925f;

void ask_yes(std::string_view prompt, std::string_view help, bool& value, Status& status) {
  IO_INPL(true, false, true, true, prompt, {std::string(help)}, {"Enter YES or NO"}, value, status);
}

// The proposal lies within the range: an earlier answer of the same dialogue
// (a shorter field, a higher minimum) can move the range past the current
// value, which Return would then not take.
template <typename T>
T proposed(T value, T lower, T upper) {
  return lower <= upper ? std::clamp(value, lower, upper) : value;
}

void ask_int(int lower, int upper, std::string_view prompt, std::string_view help, int& value,
             Status& status) {
  int answer = proposed(value, lower, upper);
  IO_INPI(true, lower, upper, true, prompt, {std::string(help)},
          {"Enter an integer value within the given range"}, answer, status);
  if (status == kStatusGood) value = answer;
}

void ask_real(float lower, float upper, std::string_view prompt, std::string_view help,
              float& value, Status& status) {
  float answer = proposed(value, lower, upper);
  IO_INPR(true, lower, upper, true, prompt, {std::string(help)},
          {"Enter a real value within the given range"}, answer, status);
  if (status == kStatusGood) value = answer;
}

void ask_coordinate(std::string_view prompt, std::string_view help, float& value, Status& status) {
  IO_INPR(false, 0.0f, 0.0f, true, prompt, {std::string(help)}, {"Enter a real value"}, value,
          status);
}

void ask_line_type(std::string_view prompt, int& type, Status& status) {
  ask_int(1, 4, prompt, "1 = solid, 2 = dashed, 3 = dotted, 4 = dot-dash", type, status);
}

// The ranges of the style questions are what the setters and the devices
// take: text is drawn in fonts 1 and 2 only, and a scale factor of a text or
// of a drawn line must be above 0 (the smallest offered is 0.01).
constexpr int kFirstFont = 1;
constexpr int kLastFont = 2;

void ask_font(std::string_view prompt, std::string_view help, int& font, Status& status) {
  ask_int(kFirstFont, kLastFont, prompt, std::string(help) + " (1 or 2)", font, status);
}

void ask_scale(float upper, std::string_view prompt, std::string_view help, float& value,
               Status& status) {
  ask_real(kGsSmallestScale, upper, prompt, std::string(help) + " (at least 0.01)", value, status);
}

void ask_width(std::string_view prompt, float& width, Status& status) {
  ask_scale(100.0f, prompt, "Enter scale factor for line width", width, status);
}

// The questions of a title or axis label: NAME is "TITLE", "X-AXIS LABEL"
// or "Y-AXIS LABEL", WHAT the same in the help texts. Nothing after a NO.
void ask_text_style(std::string_view name, std::string_view what, GsTextStyle& style,
                    void (*orientation)(Status&), Status& status) {
  const std::string n(name);
  const std::string w(what);
  ask_yes("OUTPUT " + n, "Enter YES for " + w + " on graph, NO for no " + w, style.output, status);
  if (status != kStatusGood || !style.output) return;
  if (orientation != nullptr) orientation(status);
  ask_font(n + " FONT INDICE", "Enter indice for text font for " + w, style.font, status);
  GS_INP_COLOUR(n + " COLOUR", true, style.colour, status);
  ask_scale(100.0f, n + " CHARACTER HEIGHT SCALE FACTOR",
            "Enter scale factor for " + w + " character height", style.height, status);
  ask_scale(10.0f, n + " CHARACTER WIDTH SCALE FACTOR",
            "Enter scale factor for " + w + " character width", style.width, status);
  ask_real(-5.0f, 10.0f, n + " CHARACTER SPACING",
           "Enter scale factor for " + w + " character spacing", style.spacing, status);
}

void ask_ylabel_orientation(Status& status) {
  int orientation = 1;
  GS_INQ_YLABELORIENTATION(orientation, status);
  ask_int(1, 2, "Y-AXIS LABEL ORIENTATION", "1 = rotated vertical, 2 = horizontal", orientation,
          status);
  GS_SET_YLABELORIENTATION(orientation, status);
}

void ask_enumeration(char axis, GsAxisEnum& e, Status& status) {
  const std::string n = std::string(1, axis) + "-AXES ENUMERATION";
  ask_yes("OUTPUT " + n, "Enter YES for numbers on the " + std::string(1, axis) + "-axes",
          e.text.output, status);
  if (status != kStatusGood || !e.text.output) return;
  ask_font(n + " FONT INDICE", "Enter indice for text font for axis numbers", e.text.font, status);
  GS_INP_COLOUR(n + " COLOUR INDEX", true, e.text.colour, status);
  ask_scale(100.0f, n + " CHARACTER HEIGHT SCALE FACTOR",
            "Enter scale factor for axis number character height", e.text.height, status);
  ask_int(1, 20, n + " FIELD LENGTH", "Maximum number of characters for each enumeration number",
          e.field, status);
  // The decimals take part of the field: at least one character is left
  // for the number before them.
  ask_int(0, e.field - 1, n + " FRACTION LENGTH",
          "Number of characters after the decimal point (less than the field length)", e.fraction,
          status);
  ask_yes(n + " AUTOMATIC SHORTENING", "YES to shorten numbers to the digits they need", e.shorten,
          status);
  ask_yes(n + " CONSTANT LENGTH", "YES for the same number of decimals on every number",
          e.constant_length, status);
}

void ask_axes(std::string_view name, GsAxesStyle& a, Status& status) {
  const std::string n(name);
  ask_line_type(n + " LINE TYPE", a.line_type, status);
  GS_INP_COLOUR(n + " LINE COLOUR", true, a.colour, status);
  ask_width(n + " LINE WIDTH SCALE FACTOR", a.width, status);
  ask_real(0.0f, 1.0f, n + " LARGE TICK SIZE", "Size in page dimensions of large tick marks",
           a.large_tick, status);
  ask_real(0.0f, 1.0f, n + " SMALL TICK SIZE", "Size in page dimensions of small tick marks",
           a.small_tick, status);
  ask_int(0, 100, n + " NUMBER OF SMALL TICKS",
          "Number of small tick marks between each pair of large ticks", a.num_small, status);
}

void ask_ticks(char axis, float lo, float hi, GsLargeTicks& t, Status& status) {
  const std::string a(1, axis);
  const std::string name = a + "-AXES";
  IO_INPL(true, false, true, true, name + " LARGE TICK POSITIONS AUTOMATIC",
          {"\"YES\" if the positions of large tick marks are to be automatically calculated",
           "\"NO\" if user start, interval, and number of tick mark values are to be used"},
          {"Enter YES or NO"}, t.automatic, status);
  if (status != kStatusGood || t.automatic) return;
  const GsLargeTicks current = t;
  float first = 0.0f, interval = 1.0f;
  int number = 0;
  GS_CAL_TICKS(lo, hi, first, interval, number, status);
  if (status != kStatusGood) return;
  // User settings that still fit the range stay the defaults.
  if (current.first >= lo && current.first <= hi) first = current.first;
  if (current.interval >= 0.000001f && current.interval <= hi - lo) interval = current.interval;
  const std::string drawn = "drawn on the " + a + "-axes";
  IO_INPR(true, lo, hi, true, name + " FIRST LARGE TICK MARK POSITION",
          {"Enter position (in data coordinates) for first large tick mark to be", drawn},
          {"Enter a real value within the given range"}, first, status);
  IO_INPR(true, 0.000001f, hi - lo, true, name + " LARGE TICK MARK INTERVAL",
          {"Enter interval (in data coordinates) between large tick marks to be", drawn},
          {"Enter a real value within the given range"}, interval, status);
  if (status != kStatusGood) return;
  number = static_cast<int>(std::clamp((hi - first) / interval, -1.0f, 99.0f)) + 1;
  if (first == current.first && interval == current.interval) number = current.number;
  ask_int(0, 100, name + " NUMBER OF LARGE TICK MARKS",
          "Enter number of large tick marks to be drawn on the " + a + "-axes", number, status);
  t.first = first;
  t.interval = interval;
  t.number = number;
}

void ask_grid(std::string_view name, GsLine& line, Status& status) {
  const std::string n(name);
  ask_line_type(n + " LINE TYPE", line.type, status);
  GS_INP_COLOUR(n + " LINE COLOUR", true, line.colour, status);
  // A grid line takes any width from 0 (the devices' thinnest line) up.
  ask_real(0.0f, 100.0f, n + " LINE WIDTH SCALE FACTOR",
           "Enter scale factor for line width (0 for the thinnest line)", line.width, status);
}

// The next number to propose after NUMBER, 1 after the last.
int next_number(int number) { return number % kGsMaxCurves + 1; }

// The style of the title or an axis label: inquired by INQUIRE, asked as by
// ask_text_style, then set by SET.
void edit_text_style(std::string_view name, std::string_view what,
                     void (*inquire)(GsTextStyle&, Status&),
                     void (*set)(bool, int, int, float, float, float, Status&),
                     void (*orientation)(Status&), Status& status) {
  GsTextStyle t;
  inquire(t, status);
  ask_text_style(name, what, t, orientation, status);
  set(t.output, t.font, t.colour, t.height, t.width, t.spacing, status);
}

}  // namespace

void GS_INP_COLOUR(std::string_view prompt, bool show_default, int& colour, Status& status) {
  if (st_bad(status, "Subroutine GS_INP_COLOUR V0.1")) return;
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (int c = 1; c <= kGsNumColours; ++c) {
      bool found = false;
      std::string name;
      Status local = kStatusGood;
      GS_GIVE_COLOURNAME(c, found, name, local);
      out.push_back(name);
    }
    return out;
  }();
  std::string answer;
  bool found = false;
  if (show_default) GS_GIVE_COLOURNAME(colour, found, answer, status);
  IO_MENU(found, prompt,
          {"Enter one of the following available colours:",
           "BLACK BLUE BROWN CYAN GREEN GREY MAGENTA ORANGE RED VIOLET WHITE YELLOW",
           "(0 INDEX) (1 INDEX)"},
          {"Enter one of the given colours"}, kGsNumColours, names, answer, status);
  if (status != kStatusGood) return;
  int chosen = colour;
  GS_GIVE_COLOUR(answer, found, chosen, status);
  if (found) colour = chosen;
}

void GS_INP_ACOLOURS(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_ACOLOURS V0.1")) return;
  int colour = gs_inp_memory.colour;
  GS_INP_COLOUR("GENERAL LINE/TEXT COLOUR", true, colour, status);
  if (status != kStatusGood) return;
  gs_inp_memory.colour = colour;
  GS_MSET_COLOURS(colour, status);
}

void GS_INP_FONT(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_FONT V0.1")) return;
  int font = 1;
  ask_font("TEXT FONT INDICE", "Enter indice for text font for all text in diagram", font, status);
  GS_MSET_FONT(font, status);
}

void GS_INP_BACKGROUND(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_BACKGROUND V0.1")) return;
  bool fill = true;
  int colour = kGsWhite;
  GS_INQ_BACKGROUND(fill, colour, status);
  ask_yes("FILL BACKGROUND", "Enter YES for filled background", fill, status);
  if (status == kStatusGood && fill) GS_INP_COLOUR("BACKGROUND COLOUR", true, colour, status);
  GS_SET_BACKGROUND(fill, colour, status);
}

void GS_INP_TITLESTYLE(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_TITLESTYLE V0.1")) return;
  edit_text_style("TITLE", "title", GS_INQ_TITLESTYLE, GS_SET_TITLESTYLE, nullptr, status);
}

void GS_INP_XLABELSTYLE(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_XLABELSTYLE V0.1")) return;
  edit_text_style("X-AXIS LABEL", "X-axis label", GS_INQ_XLABELSTYLE, GS_SET_XLABELSTYLE, nullptr,
                  status);
}

void GS_INP_YLABELSTYLE(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_YLABELSTYLE V0.1")) return;
  edit_text_style("Y-AXIS LABEL", "Y-axis label", GS_INQ_YLABELSTYLE, GS_SET_YLABELSTYLE,
                  ask_ylabel_orientation, status);
}

void GS_INP_ENUMERATIONSTYLE(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_ENUMERATIONSTYLE V0.1")) return;
  GsAxisEnum e;
  GS_INQ_XAXISENUM(e, status);
  ask_enumeration('X', e, status);
  GS_SET_XAXISENUM(e.text.output, e.text.font, e.text.colour, e.text.height, e.text.width,
                   e.text.spacing, e.field, e.fraction, e.shorten, e.constant_length, status);
  GS_INQ_YAXISENUM(e, status);
  ask_enumeration('Y', e, status);
  GS_SET_YAXISENUM(e.text.output, e.text.font, e.text.colour, e.text.height, e.text.width,
                   e.text.spacing, e.field, e.fraction, e.shorten, e.constant_length, status);
}

void GS_INP_AXESSTYLES(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_AXESSTYLES V0.1")) return;
  GsAxesStyle a;
  GS_INQ_HAXESSTYLE(a, status);
  ask_axes("HORIZONTAL AXES", a, status);
  GS_SET_HAXESSTYLE(a.line_type, a.width, a.colour, a.large_tick, a.small_tick, a.num_small,
                    status);
  GS_INQ_VAXESSTYLE(a, status);
  ask_axes("VERTICAL AXES", a, status);
  GS_SET_VAXESSTYLE(a.line_type, a.width, a.colour, a.large_tick, a.small_tick, a.num_small,
                    status);
}

void GS_INP_GRID(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_GRID V0.1")) return;
  bool hc = false, vc = false, hf = false, vf = false;
  GS_INQ_GRID(hc, vc, hf, vf, status);
  ask_yes("HORIZONTAL COARSE GRID", "Is a horizontal coarse grid required", hc, status);
  ask_yes("VERTICAL COARSE GRID", "Is a vertical coarse grid required", vc, status);
  ask_yes("HORIZONTAL FINE GRID", "Is a horizontal fine grid required", hf, status);
  ask_yes("VERTICAL FINE GRID", "Is a vertical fine grid required", vf, status);
  GS_SET_GRID(hc, vc, hf, vf, status);
}

void GS_INP_GRIDSTYLE(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_GRIDSTYLE V0.1")) return;
  struct Grid {
    const char* name;
    void (*inquire)(GsLine&, Status&);
    void (*set)(int, float, int, Status&);
  };
  static constexpr Grid grids[] = {
      {"HORIZONTAL COARSE GRID", GS_INQ_HCOARSEGRID, GS_SET_HCOARSEGRID},
      {"VERTICAL COARSE GRID", GS_INQ_VCOARSEGRID, GS_SET_VCOARSEGRID},
      {"HORIZONTAL FINE GRID", GS_INQ_HFINEGRID, GS_SET_HFINEGRID},
      {"VERTICAL FINE GRID", GS_INQ_VFINEGRID, GS_SET_VFINEGRID}};
  for (const Grid& g : grids) {
    GsLine line;
    g.inquire(line, status);
    ask_grid(g.name, line, status);
    g.set(line.type, line.width, line.colour, status);
  }
}

void GS_INP_GPP(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_GPP V0.1")) return;
  GsRect r;
  GS_INQ_GPP(r.xmin, r.ymin, r.xmax, r.ymax, status);
  // The position is a rectangle: each maximum lies at least 0.01 above its
  // minimum.
  ask_real(0.0f, 0.99f, "X-MINIMUM VALUE", "Enter minimum X-value for graph page position", r.xmin,
           status);
  ask_real(0.0f, 0.99f, "Y-MINIMUM VALUE", "Enter minimum Y-value for graph page position", r.ymin,
           status);
  ask_real(r.xmin + 0.01f, 1.0f, "X-MAXIMUM VALUE",
           "Enter maximum X-value for graph page position (above the minimum)", r.xmax, status);
  ask_real(r.ymin + 0.01f, 1.0f, "Y-MAXIMUM VALUE",
           "Enter maximum Y-value for graph page position (above the minimum)", r.ymax, status);
  GS_SET_GPP(r.xmin, r.ymin, r.xmax, r.ymax, status);
}

void GS_INP_LAYOUT(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_LAYOUT V0.1")) return;
  GsGraphLayout l;
  GS_INQ_GRAPHLAYOUT(l.y_enum_gap, l.x_enum_gap, l.y_label_gap, l.x_label_gap, l.title_gap, status);
  constexpr std::string_view vertical = "Enter vertical distance in page coordinates";
  constexpr std::string_view horizontal = "Enter horizontal distance in page coordinates";
  ask_real(-1.0f, 1.0f, "TITLE TO AXIS GAP", vertical, l.title_gap, status);
  ask_real(-1.0f, 1.0f, "X-LABEL TO AXIS GAP", vertical, l.x_label_gap, status);
  ask_real(-1.0f, 1.0f, "Y-LABEL TO AXIS GAP", horizontal, l.y_label_gap, status);
  ask_real(-1.0f, 1.0f, "X-AXIS ENUMERATION TO AXIS GAP", vertical, l.x_enum_gap, status);
  ask_real(-1.0f, 1.0f, "Y-AXIS ENUMERATION TO AXIS GAP", horizontal, l.y_enum_gap, status);
  GS_SET_GRAPHLAYOUT(l.y_enum_gap, l.x_enum_gap, l.y_label_gap, l.x_label_gap, l.title_gap, status);
}

void GS_INP_LTICKS(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_LTICKS V0.1")) return;
  GsRect r;
  GS_INQ_DDDR(r.xmin, r.ymin, r.xmax, r.ymax, status);
  GsLargeTicks t;
  GS_INQ_XLTICKS(t, status);
  ask_ticks('X', r.xmin, r.xmax, t, status);
  GS_SET_XLTICKS(t.automatic, t.first, t.interval, t.number, status);
  GS_INQ_YLTICKS(t, status);
  ask_ticks('Y', r.ymin, r.ymax, t, status);
  GS_SET_YLTICKS(t.automatic, t.first, t.interval, t.number, status);
}

void GS_INP_LUT(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_LUT V0.1")) return;
  // Without graphics the choice is kept for later drawing: every number of
  // levels the state holds is offered.
  const bool graphics = qg_db_system.system_open != 0;
  int first = 0, last = kGsMaxLevels - 1;
  if (graphics) QG_INQ_IMAGERANGE(first, last, status);
  const int available = std::clamp(last - first + 1, 1, kGsMaxLevels);
  int scheme = 0, levels = 1;
  GS_INQ_LUTCHOICE(scheme, levels, status);
  static const std::array<std::string, 11> help = {
      "COLOUR WHEEL (magenta-red-yellow-green-cyan-blue)",
      "GEOGRAPHICAL (black-blue-green-grey-yellow-brown-magenta-white)",
      "GREY-SCALE (black-white)",
      "INVERSE GREY-SCALE (white-black)",
      "ORIGINAL: (black-magenta-red-yellow-green-cyan-blue-white)",
      "PSYCHOLOGIAL (\"cold\" colours = low intensity)",
      "REPEATING (as default, but goes black between every colour)",
      "TEMPERATURE (black-red-yellow-white)",
      "TRIAL: Experimental for developing new colour tables",
      "UPSIDE DOWN (white-magenta-brown-yellow-grey-green-blue-black)",
      "BLACK-PURPLE-WHITE: Black-Purple-Magenta-Red-Orange-Yellow-White"};
  static const std::array<std::string, 11> names = [] {
    std::array<std::string, 11> out;
    for (int k = 1; k <= 11; ++k) out[static_cast<std::size_t>(k - 1)] = gs_scheme_name(k);
    return out;
  }();
  std::string answer(gs_scheme_name(scheme));
  IO_MENU(!answer.empty(), "COLOUR SCHEME", help, {"Enter one of the given colour schemes"}, 11,
          names, answer, status);
  if (status != kStatusGood) return;
  for (int k = 1; k <= 11; ++k)
    if (answer == names[static_cast<std::size_t>(k - 1)]) scheme = k;
  levels = std::clamp(levels, 1, available);
  ask_int(1, available, "NUMBER OF LEVELS",
          "Enter number of separate colour levels required in colour table", levels, status);
  GS_SET_LUTCHOICE(scheme, levels, status);
  if (!graphics) return;
  GS_COLOURS(status);
  GS_UPDATE(status);
}

void GS_INP_ALABELS(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_ALABELS V0.1")) return;
  int max_labels = kGsMaxCurves;
  GS_INQ_MAXCURVES(max_labels, status);
  bool data = true;
  float x = 0.0f, y = 0.0f;
  std::string text;
  int count = 0;
  GS_INQ_ALABEL(1, data, x, y, text, count, status);
  count = std::min(count + 1, max_labels);
  ask_int(0, max_labels, "NUMBER OF ANNOTATION LABELS",
          "Enter total number of annotation labels to output", count, status);
  if (status != kStatusGood) return;
  if (count == 0) {
    GS_SET_ALABEL(1, data, x, y, text, 0, status);
    return;
  }
  int label = count;
  ask_int(1, max_labels, "ANNOTATION LABEL NUMBER", "Enter number of annotation label to define",
          label, status);
  if (status != kStatusGood) return;
  int ignored = 0;
  GS_INQ_ALABEL(label, data, x, y, text, ignored, status);
  ask_yes("DATA COORDINATES", "YES if label position is in data coordinates, NO page coordinates",
          data, status);
  ask_coordinate("X-COORDINATE", "Enter X-coordinate of the start of the label", x, status);
  ask_coordinate("Y-COORDINATE", "Enter Y-coordinate of the start of the label", y, status);
  IO_INPC(true, "ANNOTATION LABEL TEXT", {"Enter text for annotation label"},
          {"Enter text or return"}, 11, text, status);
  GS_SET_ALABEL(label, data, x, y, text, count, status);

  GsArrow a;
  int arrows = 0;
  GS_INQ_ARROW(label, a.data_coordinates, a.head_x, a.head_y, a.tail_x, a.tail_y, arrows, status);
  bool output = a.head_x != a.tail_x || a.head_y != a.tail_y;
  ask_yes("OUTPUT ARROW", "YES to draw an arrow with this label", output, status);
  if (status != kStatusGood) return;
  if (output) {
    ask_yes("DATA COORDINATES", "YES if arrow position is in data coordinates, NO page coordinates",
            a.data_coordinates, status);
    ask_coordinate("ARROW HEAD X-COORDINATE", "Enter X-coordinate of the arrow head", a.head_x,
                   status);
    ask_coordinate("ARROW HEAD Y-COORDINATE", "Enter Y-coordinate of the arrow head", a.head_y,
                   status);
    ask_coordinate("ARROW TAIL X-COORDINATE", "Enter X-coordinate of the arrow tail", a.tail_x,
                   status);
    ask_coordinate("ARROW TAIL Y-COORDINATE", "Enter Y-coordinate of the arrow tail", a.tail_y,
                   status);
  } else {
    a.head_x = a.head_y = a.tail_x = a.tail_y = 0.0f;
  }
  GS_SET_ARROW(label, a.data_coordinates, a.head_x, a.head_y, a.tail_x, a.tail_y,
               std::max(label, arrows), status);
}

void GS_INP_ALABELSTYLES(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_ALABELSTYLES V0.1")) return;
  int label = std::clamp(gs_inp_memory.label, 1, kGsMaxCurves);
  ask_int(1, kGsMaxCurves, "NUMBER OF ANNOTATION LABEL", "Enter number of label to style", label,
          status);
  if (status != kStatusGood) return;
  gs_inp_memory.label = next_number(label);
  GsLabelStyle l;
  GS_INQ_ALABELSTYLE(label, l, status);
  float degrees = l.angle * 180.0f / kPi;
  ask_font("LABEL FONT INDICE", "Enter indice for text font for the label", l.font, status);
  GS_INP_COLOUR("ANNOTATION LABEL COLOUR", true, l.colour, status);
  ask_scale(100.0f, "ANNOTATION LABEL CHARACTER HEIGHT SCALE FACTOR",
            "Enter scale factor for label character height", l.height, status);
  ask_scale(10.0f, "ANNOTATION LABEL CHARACTER WIDTH SCALE FACTOR",
            "Enter scale factor for label character width", l.width, status);
  ask_real(-5.0f, 10.0f, "LABEL CHARACTER SPACING",
           "Enter scale factor for label character spacing", l.spacing, status);
  const float shown = degrees;
  ask_real(-360.0f, 360.0f, "ANGLE (degrees)", "Enter label direction angle (anti-clockwise)",
           degrees, status);
  // An unchanged answer keeps the stored radians exactly.
  if (degrees != shown) l.angle = degrees * kPi / 180.0f;
  GS_SET_ALABELSTYLE(label, l.font, l.colour, l.height, l.width, l.spacing, l.angle, status);
}

void GS_INP_ARROWSTYLES(Status& status) {
  if (st_bad(status, "Subroutine GS_INP_ARROWSTYLES V0.1")) return;
  int arrow = std::clamp(gs_inp_memory.arrow, 1, kGsMaxCurves);
  ask_int(1, kGsMaxCurves, "NUMBER OF ARROW", "Enter number of arrow to style", arrow, status);
  if (status != kStatusGood) return;
  gs_inp_memory.arrow = next_number(arrow);
  GsArrowStyle a;
  GS_INQ_ARROWSTYLE(arrow, a, status);
  ask_line_type("ARROW LINE TYPE", a.line_type, status);
  GS_INP_COLOUR("ARROW LINE COLOUR", true, a.colour, status);
  ask_width("LINE WIDTH SCALE FACTOR", a.width, status);
  ask_int(0, 1, "ARROW HEAD STYLE", "0 = two straight lines, 1 = filled triangle", a.head_style,
          status);
  ask_real(0.0f, 100.0f, "HEAD LENGTH SCALE FACTOR", "Enter scale factor for arrow head length",
           a.head_length, status);
  ask_real(0.0f, 100.0f, "HEAD WIDTH SCALE FACTOR", "Enter scale factor for arrow head width",
           a.head_width, status);
  GS_INP_COLOUR("ARROW HEAD FILL COLOUR", true, a.fill_colour, status);
  GS_SET_ARROWSTYLE(arrow, a.line_type, a.width, a.colour, a.head_style, a.head_length,
                    a.head_width, a.fill_colour, status);
}

}  // namespace kesta
