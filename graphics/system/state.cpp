// The attribute groups of the graphics system: setters, inquiries, defaults.

#include "graphics/system/state.hpp"

#include <cmath>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/gs_internal.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;
using gs_detail::terminal_line;

GsState& s() { return gs_state; }

// Entry check and one failure code, recorded against POSITION.

// A rectangle whose minimum is below its maximum in X (13) and Y (14).
bool bad_rect(float xmin, float ymin, float xmax, float ymax, Status& status,
              std::string_view position) {
  if (!(xmin < xmax)) return refuse(status, 13, position);
  if (!(ymin < ymax)) return refuse(status, 14, position);
  return false;
}

bool positive(float v) { return v > 0.0f; }  // false for NaN too

// The entry check of the routines of one curve: a bad STATUS on entry, or
// curve N outside 1..kGsMaxCurves (17).
bool curve_refused(int n, Status& status, std::string_view position) {
  if (st_bad(status, position)) return true;
  if (n < 1 || n > kGsMaxCurves) return refuse(status, 17, position);
  return false;
}

// Text-like groups: a font outside 1..2 (17) or a scale not above 0 (21).
bool bad_text_style(int font, float height, float width, Status& status,
                    std::string_view position) {
  if (font < 1 || font > 2) return refuse(status, 17, position);
  if (!positive(height) || !positive(width)) return refuse(status, 21, position);
  return false;
}

void set_text_style(GsTextStyle& style, bool output, int font, int colour, float height,
                    float width, float spacing, Status& status, std::string_view position) {
  if (st_bad(status, position)) return;
  if (colour < 0 && refuse(status, 17, position)) return;
  if (bad_text_style(font, height, width, status, position)) return;
  style = {output, font, colour, height, width, spacing};
}

void set_axis_enum(GsAxisEnum& style, bool output, int font, int colour, float height, float width,
                   float spacing, int field, int fraction, bool shorten, bool constant_length,
                   Status& status, std::string_view position) {
  if (st_bad(status, position)) return;
  if (colour < 0 && refuse(status, 17, position)) return;
  if (bad_text_style(font, height, width, status, position)) return;
  if (field < 1 && refuse(status, 17, position)) return;
  if (fraction >= field && refuse(status, 13, position)) return;
  if (fraction < 0 && refuse(status, 17, position)) return;
  style = {
      {output, font, colour, height, width, spacing}, field, fraction, shorten, constant_length};
}

void set_axes_style(GsAxesStyle& style, int line_type, float width, int colour, float large_tick,
                    float small_tick, int num_small, Status& status, std::string_view position) {
  if (st_bad(status, position)) return;
  if ((line_type < 0 || line_type > 4 || colour < 0 || num_small < 0 || num_small > 100) &&
      refuse(status, 17, position))
    return;
  if ((!positive(width) || !(large_tick >= 0.0f) || !(small_tick >= 0.0f)) &&
      refuse(status, 21, position))
    return;
  style = {line_type, width, colour, large_tick, small_tick, num_small};
}

void set_grid_line(GsLine& line, int line_type, float width, int colour, Status& status,
                   std::string_view position) {
  if (st_bad(status, position)) return;
  if ((line_type < 1 || line_type > 4 || colour < 0) && refuse(status, 17, position)) return;
  // A grid width of 0 is taken: the grid is then drawn with the thinnest line.
  if (!(width >= 0.0f) && refuse(status, 21, position)) return;
  line = {line_type, width, colour};
}

void set_rect(GsRect& rect, float xmin, float ymin, float xmax, float ymax, Status& status,
              std::string_view position) {
  if (st_bad(status, position)) return;
  if (bad_rect(xmin, ymin, xmax, ymax, status, position)) return;
  rect = {xmin, ymin, xmax, ymax};
}

void get_rect(const GsRect& rect, float& xmin, float& ymin, float& xmax, float& ymax,
              Status& status, std::string_view position) {
  if (st_bad(status, position)) return;
  xmin = rect.xmin;
  ymin = rect.ymin;
  xmax = rect.xmax;
  ymax = rect.ymax;
}

template <typename T>
void get(const T& value, T& out, Status& status, std::string_view position) {
  if (st_bad(status, position)) return;
  out = value;
}

void def_curves() {
  GsState& g = s();
  for (int i = 0; i < kGsMaxCurves; ++i) {
    g.curve_styles[i] = {};
    g.curve_markers[i] = {i % 12 + 2, kGsBlack, 1.0f};
    g.curve_soft_markers[i] = {};
    g.curve_lines[i] = {};
    g.curve_errors[i] = {i % 3, 1, kGsBlack, 1.0f};
  }
}

constexpr std::array<std::string_view, kGsNumColours> kColourNames = {
    "BLACK",  "WHITE", "RED",   "GREEN",  "BLUE",      "YELLOW",    "MAGENTA", "CYAN",
    "ORANGE", "GREY",  "BROWN", "VIOLET", "(0 INDEX)", "(1 INDEX)", "INVERSE"};

}  // namespace

int gs_device_colour(int colour) {
  if (colour < 1 || colour > kGsNumColours) return s().colour_index[0];
  return s().colour_index[colour - 1];
}

int gs_device_fill_colour(int colour) {
  const int index = gs_device_colour(colour);
  return index < 0 ? s().colour_index[0] : index;
}

int gs_device_marker_colour(int colour) {
  const int index = gs_device_colour(colour);
  return index < 1 ? s().colour_index[0] : index;
}

// ---- Defaults ----

void GS_DEF_KEYLABELS(Status& status) {
  if (st_bad(status, "Subroutine GS_DEF_KEYLABELS V0.1")) return;
  for (int i = 0; i < kGsMaxCurves; ++i) s().key_labels[i] = "Curve " + format_i(i + 1, 3);
}

void GS_DEF_ATEXT(Status& status) {
  if (st_bad(status, "Subroutine GS_DEF_ATEXT V0.1")) return;
  s().atext.clear();
}

void GS_DEF_CURVESTYLES(Status& status) {
  if (st_bad(status, "Subroutine GS_DEF_CURVESTYLES V0.1")) return;
  def_curves();
}

void GS_DEF_ATTRIBUTES(Status& status) {
  if (st_bad(status, "Subroutine GS_DEF_ATTRIBUTES V0.2")) return;
  // Every style group goes back to its default; the window, message, menu,
  // PostScript, scaling, pixel-limit and mask-colour groups stay.
  GsState& g = s();
  const GsState fresh;
  g.background_fill = fresh.background_fill;
  g.background_colour = fresh.background_colour;
  g.layout = fresh.layout;
  g.auto_range = fresh.auto_range;
  g.x_error_bars = g.y_error_bars = true;
  g.x_data_linear = g.y_data_linear = true;
  g.title = g.xlabel = g.ylabel = GsTextStyle{};
  g.ylabel_orientation = 1;
  g.atext_style = fresh.atext_style;
  GS_DEF_ATEXT(status);
  GS_DEF_KEYLABELS(status);
  g.key = fresh.key;
  g.lut.bar = true;
  g.lut.bar_position = 0;
  g.key_style = fresh.key_style;
  g.num_labels = 0;
  g.labels = fresh.labels;
  g.label_styles = fresh.label_styles;
  g.num_arrows = 0;
  g.arrows = fresh.arrows;
  g.arrow_styles = fresh.arrow_styles;
  g.x_axis_linear = g.y_axis_linear = true;
  g.x_axes_code = g.y_axes_code = 0;
  g.frame = fresh.frame;
  g.haxes = g.vaxes = GsAxesStyle{};
  g.xticks = g.yticks = GsLargeTicks{};
  g.xenum = g.yenum = GsAxisEnum{};
  g.ddr = g.dddr = g.idr = GsRect{};
  g.iaspect = true;
  g.lut_drawn = false;
  g.dlutpc = fresh.dlutpc;
  g.gpp = g.dgpp = fresh.gpp;
  g.grid = {};
  g.hcoarse = g.vcoarse = GsLine{4};
  g.hfine = g.vfine = GsLine{3};
  def_curves();
  g.style3d = fresh.style3d;
  g.axes3d = fresh.axes3d;
  g.pixel_values = true;
}

void GS_DEF_GRAPHICS(Status& status) {
  if (st_bad(status, "Subroutine GS_DEF_GRAPHICS V0.3")) return;
  GS_DEF_ATTRIBUTES(status);
  if (status != kStatusGood) return;
  GsState& g = s();
  const GsState fresh;
  g.window_format = 0;
  g.gui_region = fresh.gui_region;
  g.message = fresh.message;
  g.message_style = fresh.message_style;
  g.menu_style = fresh.menu_style;
  g.menu_layout = fresh.menu_layout;
  g.ps_file = false;
  g.ps_colour = true;
  g.lut.scale_mode = 0;
  g.lut.user_minimum = 0.0f;
  g.lut.user_maximum = 1.0f;
  g.image_pixel_limit = 600;
  g.pixel_limit_3d = 200;
  g.mask_colour = kGsRed;
  g.view3d = fresh.view3d;
  g.progress = fresh.progress;
  g.progress_switch = 0;
  g.form_document = g.menu_document = false;
}

void GS_DEF_LUTCHOICE(Status& status) {
  if (st_bad(status, "Subroutine GS_DEF_LUTCHOICE V0.1")) return;
  int first = 0;
  int last = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  if (status != kStatusGood) return;
  s().lut.scheme = 2;
  s().lut.levels = std::max(1, last - first + 1);
}

// ---- Setters ----

void GS_SET_BACKGROUND(bool fill, int colour, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_BACKGROUND V0.1")) return;
  s().background_fill = fill;
  s().background_colour = colour;
}

void GS_SET_GRAPHLAYOUT(float y_enum_gap, float x_enum_gap, float y_label_gap, float x_label_gap,
                        float title_gap, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_GRAPHLAYOUT V0.1")) return;
  s().layout = {y_enum_gap, x_enum_gap, y_label_gap, x_label_gap, title_gap};
}

void GS_SET_AUTODDR(bool xmin_auto, bool ymin_auto, bool xmax_auto, bool ymax_auto,
                    Status& status) {
  if (st_bad(status, "Subroutine GS_SET_AUTODDR V0.1")) return;
  s().auto_range = {xmin_auto, ymin_auto, xmax_auto, ymax_auto};
}

void GS_SET_ERRORBARS(bool x_bars, bool y_bars, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_ERRORBARS V0.1")) return;
  s().x_error_bars = x_bars;
  s().y_error_bars = y_bars;
}

void GS_SET_DATALOGLIN(bool x_linear, bool y_linear, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_DATALOGLIN V0.1")) return;
  s().x_data_linear = x_linear;
  s().y_data_linear = y_linear;
}

void GS_SET_TITLESTYLE(bool output, int font, int colour, float height, float width, float spacing,
                       Status& status) {
  set_text_style(s().title, output, font, colour, height, width, spacing, status,
                 "Subroutine GS_SET_TITLESTYLE V0.1");
}

void GS_SET_XLABELSTYLE(bool output, int font, int colour, float height, float width, float spacing,
                        Status& status) {
  set_text_style(s().xlabel, output, font, colour, height, width, spacing, status,
                 "Subroutine GS_SET_XLABELSTYLE V0.1");
}

void GS_SET_YLABELSTYLE(bool output, int font, int colour, float height, float width, float spacing,
                        Status& status) {
  set_text_style(s().ylabel, output, font, colour, height, width, spacing, status,
                 "Subroutine GS_SET_YLABELSTYLE V0.1");
}

void GS_SET_YLABELORIENTATION(int orientation, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_YLABELORIENTATION V0.1";
  if (st_bad(status, position)) return;
  if ((orientation < 0 || orientation > 2) && refuse(status, 17, position)) return;
  s().ylabel_orientation = orientation;
}

void GS_SET_XAXISENUM(bool output, int font, int colour, float height, float width, float spacing,
                      int field, int fraction, bool shorten, bool constant_length, Status& status) {
  set_axis_enum(s().xenum, output, font, colour, height, width, spacing, field, fraction, shorten,
                constant_length, status, "Subroutine GS_SET_XAXISENUM V0.1");
}

void GS_SET_YAXISENUM(bool output, int font, int colour, float height, float width, float spacing,
                      int field, int fraction, bool shorten, bool constant_length, Status& status) {
  set_axis_enum(s().yenum, output, font, colour, height, width, spacing, field, fraction, shorten,
                constant_length, status, "Subroutine GS_SET_YAXISENUM V0.1");
}

void GS_SET_AXESLOGLIN(bool x_linear, bool y_linear, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_AXESLOGLIN V0.1")) return;
  s().x_axis_linear = x_linear;
  s().y_axis_linear = y_linear;
}

void GS_SET_AXESSTYLE(int x_code, int y_code, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_AXESSTYLE V0.1";
  if (st_bad(status, position)) return;
  if ((x_code < 0 || x_code > 2) && refuse(status, 17, position)) return;
  if ((y_code < 0 || y_code > 2) && refuse(status, 18, position)) return;
  s().x_axes_code = x_code;
  s().y_axes_code = y_code;
}

void GS_SET_FRAMESTYLE(bool x_first, bool x_second, bool y_first, bool y_second, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_FRAMESTYLE V0.1")) return;
  s().frame = {x_first, x_second, y_first, y_second};
}

void GS_SET_HAXESSTYLE(int line_type, float width, int colour, float large_tick, float small_tick,
                       int num_small, Status& status) {
  set_axes_style(s().haxes, line_type, width, colour, large_tick, small_tick, num_small, status,
                 "Subroutine GS_SET_HAXESSTYLE V0.1");
}

void GS_SET_VAXESSTYLE(int line_type, float width, int colour, float large_tick, float small_tick,
                       int num_small, Status& status) {
  set_axes_style(s().vaxes, line_type, width, colour, large_tick, small_tick, num_small, status,
                 "Subroutine GS_SET_VAXESSTYLE V0.1");
}

void GS_SET_XLTICKS(bool automatic, float first, float interval, int number, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_XLTICKS V0.1")) return;
  s().xticks = {automatic, first, interval, number};
}

void GS_SET_YLTICKS(bool automatic, float first, float interval, int number, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_YLTICKS V0.1")) return;
  s().yticks = {automatic, first, interval, number};
}

void GS_SET_GRID(bool h_coarse, bool v_coarse, bool h_fine, bool v_fine, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_GRID V0.1")) return;
  s().grid = {h_coarse, v_coarse, h_fine, v_fine};
}

void GS_SET_HCOARSEGRID(int line_type, float width, int colour, Status& status) {
  set_grid_line(s().hcoarse, line_type, width, colour, status,
                "Subroutine GS_SET_HCOARSEGRID V0.1");
}
void GS_SET_VCOARSEGRID(int line_type, float width, int colour, Status& status) {
  set_grid_line(s().vcoarse, line_type, width, colour, status,
                "Subroutine GS_SET_VCOARSEGRID V0.1");
}
void GS_SET_HFINEGRID(int line_type, float width, int colour, Status& status) {
  set_grid_line(s().hfine, line_type, width, colour, status, "Subroutine GS_SET_HFINEGRID V0.1");
}
void GS_SET_VFINEGRID(int line_type, float width, int colour, Status& status) {
  set_grid_line(s().vfine, line_type, width, colour, status, "Subroutine GS_SET_VFINEGRID V0.1");
}

void GS_SET_DDR(float xmin, float ymin, float xmax, float ymax, Status& status) {
  set_rect(s().ddr, xmin, ymin, xmax, ymax, status, "Subroutine GS_SET_DDR V0.1");
}

void GS_SET_DDDR(float xmin, float ymin, float xmax, float ymax, Status& status) {
  set_rect(s().dddr, xmin, ymin, xmax, ymax, status, "Subroutine GS_SET_DDDR V0.1");
}

void GS_SET_GPP(float xmin, float ymin, float xmax, float ymax, Status& status) {
  set_rect(s().gpp, xmin, ymin, xmax, ymax, status, "Subroutine GS_SET_GPP V0.1");
  if (status == kStatusGood) s().dgpp = s().gpp;
}

void GS_SET_DGPP(float xmin, float ymin, float xmax, float ymax, Status& status) {
  set_rect(s().dgpp, xmin, ymin, xmax, ymax, status, "Subroutine GS_SET_DGPP V0.1");
}

void GS_SET_IDR(float xmin, float ymin, float xmax, float ymax, Status& status) {
  set_rect(s().idr, xmin, ymin, xmax, ymax, status, "Subroutine GS_SET_IDR V0.2");
  if (status == kBaseGraphicsSystem + 13 || status == kBaseGraphicsSystem + 14) {
    terminal_line("GS_SET_IDR: Bad image data region");
    terminal_line("xminidr = " + format_g(xmin, 10, 3));
    terminal_line("yminidr = " + format_g(ymin, 10, 3));
    terminal_line("xmaxidr = " + format_g(xmax, 10, 3));
    terminal_line("ymaxidr = " + format_g(ymax, 10, 3));
  }
}

void GS_SET_IASPECT(bool keep_aspect, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_IASPECT V0.1")) return;
  s().iaspect = keep_aspect;
}

void GS_SET_DLUTPC(bool drawn, float xmin, float ymin, float xmax, float ymax, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_DLUTPC V0.1";
  if (st_bad(status, position)) return;
  if (drawn && bad_rect(xmin, ymin, xmax, ymax, status, position)) return;
  s().lut_drawn = drawn;
  s().dlutpc = {xmin, ymin, xmax, ymax};
}

void GS_SET_KEY(bool output, float xmin, float ymin, float xmax, float ymax, int frame,
                Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_KEY V0.1";
  if (st_bad(status, position)) return;
  if (bad_rect(xmin, ymin, xmax, ymax, status, position)) return;
  s().key = {output, {xmin, ymin, xmax, ymax}, frame};
}

void GS_SET_KEYSTYLE(int font, int text_colour, float height, float width, float spacing,
                     int line_type, float line_width, int line_colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_KEYSTYLE V0.1";
  if (st_bad(status, position)) return;
  if ((text_colour < 0 || line_colour < 0 || line_type < 1 || line_type > 4) &&
      refuse(status, 17, position))
    return;
  if (bad_text_style(font, height, width, status, position)) return;
  if (!positive(line_width) && refuse(status, 21, position)) return;
  s().key_style = {font, text_colour, height, width, spacing, line_type, line_width, line_colour};
}

void GS_SET_KEYLABEL(int curve, std::string_view text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_KEYLABEL V0.1";
  if (curve_refused(curve, status, position)) return;
  s().key_labels[curve - 1] = std::string(text.substr(0, 256));
}

void GS_SET_ATEXTSTYLE(bool output, float x, float y, int font, int colour, float height,
                       float width, float spacing, float line_spacing, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_ATEXTSTYLE V0.1";
  if (st_bad(status, position)) return;
  if (colour < 0 && refuse(status, 17, position)) return;
  if (bad_text_style(font, height, width, status, position)) return;
  if (!positive(line_spacing) && refuse(status, 21, position)) return;
  s().atext_style = {output, x, y, font, colour, height, width, spacing, line_spacing};
}

void GS_SET_ATEXT(const std::vector<std::string>& lines, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_ATEXT V0.1";
  if (st_bad(status, position)) return;
  if (lines.size() > static_cast<std::size_t>(kGsMaxTextLines) && refuse(status, 17, position))
    return;
  s().atext.clear();
  for (const std::string& line : lines) s().atext.push_back(line.substr(0, 256));
}

void GS_SET_ALABEL(int label, bool data_coordinates, float x, float y, std::string_view text,
                   int num_labels, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_ALABEL V0.1";
  if (st_bad(status, position)) return;
  if ((label < 1 || label > kGsMaxLabels || num_labels < 0 || num_labels > kGsMaxLabels) &&
      refuse(status, 17, position))
    return;
  s().num_labels = num_labels;
  s().labels[label - 1] = {data_coordinates, x, y, std::string(text.substr(0, 256))};
}

void GS_SET_ALABELSTYLE(int label, int font, int colour, float height, float width, float spacing,
                        float angle, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_ALABELSTYLE V0.1";
  if (st_bad(status, position)) return;
  if ((label < 1 || label > kGsMaxLabels || colour < 0) && refuse(status, 17, position)) return;
  if (bad_text_style(font, height, width, status, position)) return;
  s().label_styles[label - 1] = {font, colour, height, width, spacing, angle};
}

void GS_SET_ARROW(int arrow, bool data_coordinates, float head_x, float head_y, float tail_x,
                  float tail_y, int num_arrows, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_ARROW V0.1";
  if (st_bad(status, position)) return;
  if ((arrow < 1 || arrow > kGsMaxArrows || num_arrows < 0 || num_arrows > kGsMaxArrows) &&
      refuse(status, 17, position))
    return;
  s().num_arrows = num_arrows;
  s().arrows[arrow - 1] = {data_coordinates, head_x, head_y, tail_x, tail_y};
}

void GS_SET_ARROWSTYLE(int arrow, int line_type, float width, int colour, int head_style,
                       float head_length, float head_width, int fill_colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_ARROWSTYLE V0.1";
  if (st_bad(status, position)) return;
  if ((arrow < 1 || arrow > kGsMaxArrows || colour < 0 || fill_colour < 0 || line_type < 1 ||
       line_type > 4 || head_style < 0 || head_style > 1) &&
      refuse(status, 17, position))
    return;
  if (!positive(width) && refuse(status, 21, position)) return;
  s().arrow_styles[arrow - 1] = {line_type,   width,      colour,     head_style,
                                 head_length, head_width, fill_colour};
}

void GS_SET_CURVESTYLE(int curve, bool line, bool markers, bool errors, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_CURVESTYLE V0.1";
  if (curve_refused(curve, status, position)) return;
  s().curve_styles[curve - 1] = {line, markers, errors};
}

void GS_SET_CURVELINE(int curve, int line_type, int colour, float width, bool closed,
                      int interpolation, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_CURVELINE V0.1";
  if (curve_refused(curve, status, position)) return;
  if ((line_type < 1 || line_type > 4 || colour < 0 || interpolation < 0 || interpolation > 2) &&
      refuse(status, 17, position))
    return;
  if (!positive(width) && refuse(status, 21, position)) return;
  s().curve_lines[curve - 1] = {line_type, colour, width, closed, interpolation};
}

void GS_SET_CURVEMARKERS(int curve, int marker_type, int colour, float size, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_CURVEMARKERS V0.1";
  if (curve_refused(curve, status, position)) return;
  if ((marker_type < 1 || marker_type > 13 || colour < 0) && refuse(status, 17, position)) return;
  if (!positive(size) && refuse(status, 21, position)) return;
  s().curve_markers[curve - 1] = {marker_type, colour, size};
}

void GS_SET_CURVESOFTMARKERS(int curve, float line_width, bool filled, int fill_colour,
                             Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_CURVESOFTMARKERS V0.1";
  if (curve_refused(curve, status, position)) return;
  if (fill_colour < 0 && refuse(status, 17, position)) return;
  // Truncated toward zero, but at least 1, so a marker always has an outline.
  int width = 1;
  if (line_width >= 2.0f) width = line_width >= 1000.0f ? 1000 : static_cast<int>(line_width);
  s().curve_soft_markers[curve - 1] = {width, filled, fill_colour};
}

void GS_SET_CURVEERRORS(int curve, int box_type, int line_type, int colour, float width,
                        Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_CURVEERRORS V0.1";
  if (curve_refused(curve, status, position)) return;
  if ((box_type < 0 || box_type > 2 || line_type < 1 || line_type > 4 || colour < 0) &&
      refuse(status, 17, position))
    return;
  if (!positive(width) && refuse(status, 21, position)) return;
  s().curve_errors[curve - 1] = {box_type, line_type, colour, width};
}

void GS_SET_3DSTYLE(bool lines, int line_colour, float line_width, bool fill, bool z_colours,
                    int fill_colour, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_3DSTYLE V0.1")) return;
  Gs3dStyle& st = s().style3d;
  st.lines = lines;
  st.line_colour = line_colour;
  st.line_width = line_width;
  st.fill = fill;
  st.z_colours = z_colours;
  st.fill_colour = fill_colour;
}

void GS_SET_3DSIMAGE(int option, bool on, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_3DSIMAGE V0.1")) return;
  s().style3d.image_option = option;
  s().style3d.image_switch = on;
}

void GS_SET_3DAXES(bool box, bool walls, bool enumerate, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_3DAXES V0.1")) return;
  s().axes3d = {box, walls, enumerate};
}

void GS_SET_3DVIEW(float x_offset, float y_offset, float z_offset, float longitude, float latitude,
                   float distance, float wxmin, float wymin, float wxmax, float wymax,
                   float z_scale, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_3DVIEW V0.1")) return;
  Gs3dView& v = s().view3d;
  v.x_offset = x_offset;
  v.y_offset = y_offset;
  v.z_offset = z_offset;
  v.longitude = longitude;
  v.latitude = latitude;
  v.distance = distance;
  v.window = {wxmin, wymin, wxmax, wymax};
  v.z_scale = z_scale;
  v.c1 = std::cos(-longitude);
  v.s1 = std::sin(-longitude);
  v.c2 = std::cos(latitude);
  v.s2 = std::sin(latitude);
  v.c1c2 = v.c1 * v.c2;
  v.s1c2 = v.s1 * v.c2;
  v.c1s2 = v.c1 * v.s2;
  v.s1s2 = v.s1 * v.s2;
}

void GS_SET_LUTCHOICE(int scheme, int levels, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_LUTCHOICE V0.1";
  if (st_bad(status, position)) return;
  if ((scheme < 0 || scheme > 11 || levels < 1 || levels > kGsMaxLevels) &&
      refuse(status, 17, position))
    return;
  s().lut.scheme = scheme;
  s().lut.levels = levels;
}

void GS_SET_IMAGESCALE(int mode, float minimum, float maximum, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_IMAGESCALE V0.1";
  if (st_bad(status, position)) return;
  if ((mode < 0 || mode > 4) && refuse(status, 17, position)) return;
  if (mode == 1 && !(minimum < maximum) && refuse(status, 13, position)) return;
  s().lut.scale_mode = mode;
  s().lut.user_minimum = minimum;
  s().lut.user_maximum = maximum;
}

void GS_SET_LUT(bool bar, int position_code, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_LUT V0.1")) return;
  s().lut.bar = bar;
  s().lut.bar_position = position_code;
}

void GS_SET_MASKCOLOUR(int colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_MASKCOLOUR V0.1";
  if (st_bad(status, position)) return;
  if (colour < 0 && refuse(status, 17, position)) return;
  s().mask_colour = colour;
}

void GS_SET_PIXELLIMITS(int image_limit, int limit_3d, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_PIXELLIMITS V0.1";
  if (st_bad(status, position)) return;
  if ((image_limit < 1 || image_limit > kGsImagePixelLimit || limit_3d < 1 ||
       limit_3d > kGs3dPixelLimit) &&
      refuse(status, 17, position))
    return;
  s().image_pixel_limit = image_limit;
  s().pixel_limit_3d = limit_3d;
  QG_SET_RESOLUTION(image_limit, status);
}

void GS_SET_MENULAYOUT(int fill_order, int across, int title_length, int button_length,
                       Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_MENULAYOUT V0.1";
  if (st_bad(status, position)) return;
  if ((fill_order < 0 || fill_order > 1 || across < 1 || title_length < 1 || button_length < 1) &&
      refuse(status, 17, position))
    return;
  s().menu_layout = {fill_order, across, title_length, button_length};
}

void GS_SET_MESSAGE(float xmin, float ymin, float xmax, float ymax, Status& status) {
  set_rect(s().message, xmin, ymin, xmax, ymax, status, "Subroutine GS_SET_MESSAGE V0.1");
}

void GS_SET_GUIREGION(float xmin, float ymin, float xmax, float ymax, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_GUIREGION V0.1")) return;
  s().gui_region = {xmin, ymin, xmax, ymax};
}

void GS_SET_MESSAGESTYLE(const GsMessageStyle& style, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_MESSAGESTYLE V0.1";
  if (st_bad(status, position)) return;
  if ((style.font < 1 || style.font > 2) && refuse(status, 17, position)) return;
  s().message_style = style;
}

void GS_SET_POSTSCRIPT(bool colour, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_POSTSCRIPT V0.1")) return;
  s().ps_colour = colour;
}

void GS_SET_PSFILE(bool open, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_PSFILE V0.1")) return;
  s().ps_file = open;
}

void GS_SET_WINDOWFORMAT(int format, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_WINDOWFORMAT V0.1";
  if (st_bad(status, position)) return;
  if ((format < 0 || format > 3) && refuse(status, 17, position)) return;
  s().window_format = format;
}

void GS_SET_CHAR_SCALING(float width, float height, Status& status) {
  if (st_bad(status, "Subroutine GS_SET_CHAR_SCALING V0.1")) return;
  s().char_width_scale = width;
  s().char_height_scale = height;
}

void GS_SET_PROGRESS(float xmin, float ymin, float xmax, float ymax, int on_switch,
                     Status& status) {
  constexpr std::string_view position = "Subroutine GS_SET_PROGRESS V0.1";
  if (st_bad(status, position)) return;
  if (on_switch != 0 && refuse(status, 17, position)) return;
  if (bad_rect(xmin, ymin, xmax, ymax, status, position)) return;
  s().progress = {xmin, ymin, xmax, ymax};
  s().progress_switch = on_switch;
}

// ---- Setters of many groups ----

void GS_MSET_COLOURS(int colour, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MSET_COLOURS V0.1";
  if (st_bad(status, position)) return;
  if (colour < 0 && refuse(status, 17, position)) return;
  GsState& g = s();
  g.atext_style.colour = g.title.colour = g.xlabel.colour = g.ylabel.colour = colour;
  g.xenum.text.colour = g.yenum.text.colour = colour;
  g.key_style.text_colour = g.key_style.line_colour = colour;
  g.haxes.colour = g.vaxes.colour = colour;
  g.hcoarse.colour = g.vcoarse.colour = g.hfine.colour = g.vfine.colour = colour;
  for (int i = 0; i < kGsMaxCurves; ++i) {
    g.label_styles[i].colour = colour;
    g.arrow_styles[i].colour = g.arrow_styles[i].fill_colour = colour;
    g.curve_markers[i].colour = colour;
    g.curve_soft_markers[i].fill_colour = colour;
    g.curve_lines[i].colour = colour;
    g.curve_errors[i].colour = colour;
  }
}

void GS_MSET_FONT(int font, Status& status) {
  constexpr std::string_view position = "Subroutine GS_MSET_FONT V0.1";
  if (st_bad(status, position)) return;
  if ((font < 1 || font > 2) && refuse(status, 17, position)) return;
  GsState& g = s();
  g.atext_style.font = g.key_style.font = g.title.font = g.xlabel.font = g.ylabel.font = font;
  g.xenum.text.font = g.yenum.text.font = font;
  for (GsLabelStyle& style : g.label_styles) style.font = font;
}

void GS_MSET_PUBLICATION(Status& status) {
  if (st_bad(status, "Subroutine GS_MSET_PUBLICATION V0.1")) return;
  GS_MSET_FONT(1, status);
  GsState& g = s();
  g.haxes.width = g.vaxes.width = g.key_style.line_width = 2.0f;
  for (int i = 0; i < kGsMaxCurves; ++i) {
    g.curve_lines[i].width = 2.0f;
    g.curve_soft_markers[i].width = 2;
    g.curve_errors[i].width = 2.0f;
    g.arrow_styles[i].width = 2.0f;
  }
}

void GS_MSET_LANDSCAPE(Status& status) {
  if (st_bad(status, "Subroutine GS_MSET_LANDSCAPE V0.1")) return;
  GsState& g = s();
  g.window_format = 1;
  g.gpp = g.dgpp = {0.1f, 0.1f, 0.9f, 0.6071f};
  g.key.region = {0.7071f, 0.1f, 0.9f, 0.6071f};
  g.message = {0.0f, 0.0f, 1.0f, 0.7071f};
  g.gui_region = {0.0f, 0.0f, 1.0f, 0.1f};
}

void GS_GIVE_COLOUR(std::string_view name, bool& found, int& colour, Status& status) {
  if (st_bad(status, "Subroutine GS_GIVE_COLOUR V0.1")) return;
  const std::string upper = IO_UPPER(name.substr(0, 132));
  found = false;
  for (int i = 0; i < kGsNumColours; ++i) {
    if (upper == kColourNames[i]) {
      found = true;
      colour = i + 1;
      return;
    }
  }
}

void GS_GIVE_COLOURNAME(int colour, bool& found, std::string& name, Status& status) {
  if (st_bad(status, "Subroutine GS_GIVE_COLOURNAME V0.2")) return;
  found = colour >= 1 && colour <= kGsNumColours;
  if (found) name = kColourNames[colour - 1];
}

// ---- Inquiries ----

void GS_INQ_BACKGROUND(bool& fill, int& colour, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_BACKGROUND V0.1")) return;
  fill = s().background_fill;
  colour = s().background_colour;
}

void GS_INQ_GRAPHLAYOUT(float& y_enum_gap, float& x_enum_gap, float& y_label_gap,
                        float& x_label_gap, float& title_gap, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_GRAPHLAYOUT V0.1")) return;
  const GsGraphLayout& l = s().layout;
  y_enum_gap = l.y_enum_gap;
  x_enum_gap = l.x_enum_gap;
  y_label_gap = l.y_label_gap;
  x_label_gap = l.x_label_gap;
  title_gap = l.title_gap;
}

void GS_INQ_AUTODDR(bool& xmin_auto, bool& ymin_auto, bool& xmax_auto, bool& ymax_auto,
                    Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_AUTODDR V0.1")) return;
  xmin_auto = s().auto_range.xmin;
  ymin_auto = s().auto_range.ymin;
  xmax_auto = s().auto_range.xmax;
  ymax_auto = s().auto_range.ymax;
}

void GS_INQ_ERRORBARS(bool& x_bars, bool& y_bars, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_ERRORBARS V0.1")) return;
  x_bars = s().x_error_bars;
  y_bars = s().y_error_bars;
}

void GS_INQ_DATALOGLIN(bool& x_linear, bool& y_linear, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_DATALOGLIN V0.1")) return;
  x_linear = s().x_data_linear;
  y_linear = s().y_data_linear;
}

void GS_INQ_TITLESTYLE(GsTextStyle& style, Status& status) {
  get(s().title, style, status, "Subroutine GS_INQ_TITLESTYLE V0.1");
}
void GS_INQ_XLABELSTYLE(GsTextStyle& style, Status& status) {
  get(s().xlabel, style, status, "Subroutine GS_INQ_XLABELSTYLE V0.1");
}
void GS_INQ_YLABELSTYLE(GsTextStyle& style, Status& status) {
  get(s().ylabel, style, status, "Subroutine GS_INQ_YLABELSTYLE V0.1");
}
void GS_INQ_YLABELORIENTATION(int& orientation, Status& status) {
  get(s().ylabel_orientation, orientation, status, "Subroutine GS_INQ_YLABELORIENTATION V0.1");
}
void GS_INQ_XAXISENUM(GsAxisEnum& style, Status& status) {
  get(s().xenum, style, status, "Subroutine GS_INQ_XAXISENUM V0.1");
}
void GS_INQ_YAXISENUM(GsAxisEnum& style, Status& status) {
  get(s().yenum, style, status, "Subroutine GS_INQ_YAXISENUM V0.1");
}

void GS_INQ_AXESLOGLIN(bool& x_linear, bool& y_linear, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_AXESLOGLIN V0.1")) return;
  x_linear = s().x_axis_linear;
  y_linear = s().y_axis_linear;
}

void GS_INQ_AXESSTYLE(int& x_code, int& y_code, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_AXESSTYLE: V0.3")) return;
  x_code = s().x_axes_code;
  y_code = s().y_axes_code;
}

void GS_INQ_FRAMESTYLE(std::array<bool, 4>& frame, Status& status) {
  get(s().frame, frame, status, "Subroutine GS_INQ_FRAMESTYLE V0.1");
}
void GS_INQ_HAXESSTYLE(GsAxesStyle& style, Status& status) {
  get(s().haxes, style, status, "Subroutine GS_INQ_HAXESSTYLE V0.1");
}
void GS_INQ_VAXESSTYLE(GsAxesStyle& style, Status& status) {
  get(s().vaxes, style, status, "Subroutine GS_INQ_VAXESSTYLE V0.1");
}
void GS_INQ_XLTICKS(GsLargeTicks& ticks, Status& status) {
  get(s().xticks, ticks, status, "Subroutine GS_INQ_XLTICKS V0.1");
}
void GS_INQ_YLTICKS(GsLargeTicks& ticks, Status& status) {
  get(s().yticks, ticks, status, "Subroutine GS_INQ_YLTICKS V0.1");
}

void GS_INQ_GRID(bool& h_coarse, bool& v_coarse, bool& h_fine, bool& v_fine, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_GRID V0.1")) return;
  h_coarse = s().grid.h_coarse;
  v_coarse = s().grid.v_coarse;
  h_fine = s().grid.h_fine;
  v_fine = s().grid.v_fine;
}

void GS_INQ_HCOARSEGRID(GsLine& line, Status& status) {
  get(s().hcoarse, line, status, "Subroutine GS_INQ_HCOARSEGRID V0.1");
}
void GS_INQ_VCOARSEGRID(GsLine& line, Status& status) {
  get(s().vcoarse, line, status, "Subroutine GS_INQ_VCOARSEGRID V0.1");
}
void GS_INQ_HFINEGRID(GsLine& line, Status& status) {
  get(s().hfine, line, status, "Subroutine GS_INQ_HFINEGRID V0.1");
}
void GS_INQ_VFINEGRID(GsLine& line, Status& status) {
  get(s().vfine, line, status, "Subroutine GS_INQ_VFINEGRID V0.1");
}

void GS_INQ_DDR(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  get_rect(s().ddr, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_DDR V0.1");
}
void GS_INQ_DDDR(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  get_rect(s().dddr, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_DDDR V0.1");
}
void GS_INQ_GPP(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  get_rect(s().gpp, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_GPP V0.1");
}
void GS_INQ_DGPP(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  get_rect(s().dgpp, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_DGPP V0.1");
}
void GS_INQ_IDR(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  get_rect(s().idr, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_IDR V0.1");
}
void GS_INQ_IASPECT(bool& keep_aspect, Status& status) {
  get(s().iaspect, keep_aspect, status, "Subroutine GS_INQ_IASPECT V0.1");
}

void GS_INQ_DLUTPC(bool& drawn, float& xmin, float& ymin, float& xmax, float& ymax,
                   Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_DLUTPC V0.1")) return;
  drawn = s().lut_drawn;
  get_rect(s().dlutpc, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_DLUTPC V0.1");
}

void GS_INQ_KEY(bool& output, float& xmin, float& ymin, float& xmax, float& ymax, int& frame,
                Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_KEY V0.1")) return;
  output = s().key.output;
  frame = s().key.frame;
  get_rect(s().key.region, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_KEY V0.1");
}

void GS_INQ_KEYSTYLE(GsKeyStyle& style, Status& status) {
  get(s().key_style, style, status, "Subroutine GS_INQ_KEYSTYLE V0.1");
}

void GS_INQ_KEYLABEL(int curve, std::string& text, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_KEYLABEL V0.1";
  if (curve_refused(curve, status, position)) return;
  text = s().key_labels[curve - 1];
}

void GS_INQ_ATEXTSTYLE(GsAtextStyle& style, Status& status) {
  get(s().atext_style, style, status, "Subroutine GS_INQ_ATEXTSTYLE V0.1");
}

void GS_INQ_ATEXT(int max_lines, int& num_lines, std::vector<std::string>& lines, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_ATEXT V0.1";
  if (st_bad(status, position)) return;
  if (max_lines < 1 && refuse(status, 1, position)) return;
  const auto& stored = s().atext;
  num_lines = static_cast<int>(stored.size());
  const std::size_t n = std::min<std::size_t>(stored.size(), static_cast<std::size_t>(max_lines));
  lines.assign(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(n));
}

void GS_INQ_ALABEL(int label, bool& data_coordinates, float& x, float& y, std::string& text,
                   int& num_labels, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_ALABEL V0.1";
  if (st_bad(status, position)) return;
  if ((label < 1 || label > kGsMaxLabels) && refuse(status, 5, position)) return;
  const GsLabel& l = s().labels[label - 1];
  data_coordinates = l.data_coordinates;
  x = l.x;
  y = l.y;
  text = l.text;
  num_labels = s().num_labels;
}

void GS_INQ_ALABELSTYLE(int label, GsLabelStyle& style, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_ALABELSTYLE V0.1";
  if (st_bad(status, position)) return;
  if ((label < 1 || label > kGsMaxLabels) && refuse(status, 17, position)) return;
  style = s().label_styles[label - 1];
}

void GS_INQ_ARROW(int arrow, bool& data_coordinates, float& head_x, float& head_y, float& tail_x,
                  float& tail_y, int& num_arrows, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_ARROW V0.1";
  if (st_bad(status, position)) return;
  if ((arrow < 1 || arrow > kGsMaxArrows) && refuse(status, 17, position)) return;
  const GsArrow& a = s().arrows[arrow - 1];
  data_coordinates = a.data_coordinates;
  head_x = a.head_x;
  head_y = a.head_y;
  tail_x = a.tail_x;
  tail_y = a.tail_y;
  num_arrows = s().num_arrows;
}

void GS_INQ_ARROWSTYLE(int arrow, GsArrowStyle& style, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_ARROWSTYLE V0.1";
  if (st_bad(status, position)) return;
  if ((arrow < 1 || arrow > kGsMaxArrows) && refuse(status, 17, position)) return;
  style = s().arrow_styles[arrow - 1];
}

void GS_INQ_CURVESTYLE(int curve, bool& line, bool& markers, bool& errors, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_CURVESTYLE V0.1";
  if (curve_refused(curve, status, position)) return;
  line = s().curve_styles[curve - 1].line;
  markers = s().curve_styles[curve - 1].markers;
  errors = s().curve_styles[curve - 1].errors;
}

void GS_INQ_CURVELINE(int curve, GsCurveLine& line, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_CURVELINE V0.1";
  if (curve_refused(curve, status, position)) return;
  line = s().curve_lines[curve - 1];
}

void GS_INQ_CURVEMARKERS(int curve, int& marker_type, int& colour, float& size, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_CURVEMARKERS V0.1";
  if (curve_refused(curve, status, position)) return;
  marker_type = s().curve_markers[curve - 1].type;
  colour = s().curve_markers[curve - 1].colour;
  size = s().curve_markers[curve - 1].size;
}

void GS_INQ_CURVESOFTMARKERS(int curve, GsCurveSoftMarkers& style, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_CURVESOFTMARKERS V0.1";
  if (curve_refused(curve, status, position)) return;
  style = s().curve_soft_markers[curve - 1];
}

void GS_INQ_CURVEERRORS(int curve, GsCurveErrors& style, Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_CURVEERRORS V0.1";
  if (curve_refused(curve, status, position)) return;
  style = s().curve_errors[curve - 1];
}

void GS_INQ_3DSTYLE(Gs3dStyle& style, Status& status) {
  get(s().style3d, style, status, "Subroutine GS_INQ_3DSTYLE V0.1");
}

void GS_INQ_3DAXES(bool& box, bool& walls, bool& enumerate, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_3DAXES V0.1")) return;
  box = s().axes3d[0];
  walls = s().axes3d[1];
  enumerate = s().axes3d[2];
}

void GS_INQ_3DSIMAGE(bool& low_image, bool& top_image, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_3DSIMAGE V0.1")) return;
  low_image = s().style3d.image_option != 0;
  top_image = s().style3d.image_switch;
}

void GS_INQ_3DVIEW(Gs3dView& view, Status& status) {
  get(s().view3d, view, status, "Subroutine GS_INQ_3DVIEW V0.1");
}

void GS_INQ_LUTCHOICE(int& scheme, int& levels, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_LUTCHOICE V0.1")) return;
  scheme = s().lut.scheme;
  levels = s().lut.levels;
}

void GS_INQ_IMAGESCALE(int& mode, float& minimum, float& maximum, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_IMAGESCALE V0.1")) return;
  mode = s().lut.scale_mode;
  minimum = s().lut.user_minimum;
  maximum = s().lut.user_maximum;
}

void GS_INQ_LUT(bool& bar, int& position_code, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_LUT V0.1")) return;
  bar = s().lut.bar;
  position_code = s().lut.bar_position;
}

void GS_INQ_MASKCOLOUR(int& colour, Status& status) {
  get(s().mask_colour, colour, status, "Subroutine GS_INQ_MASKCOLOUR V0.1");
}

void GS_INQ_MAXCURVES(int& max_curves, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_MAXCURVES V0.1")) return;
  max_curves = kGsMaxCurves;
}

void GS_INQ_PIXELLIMITS(int& image_limit, int& limit_3d, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_PIXELLIMITS V0.1")) return;
  image_limit = s().image_pixel_limit;
  limit_3d = s().pixel_limit_3d;
}

void GS_INQ_MENULAYOUT(int& fill_order, int& across, int& title_length, int& button_length,
                       Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_MENULAYOUT V0.1")) return;
  fill_order = s().menu_layout.fill_order;
  across = s().menu_layout.across;
  title_length = s().menu_layout.title_length;
  button_length = s().menu_layout.button_length;
}

void GS_INQ_MENUSTYLE(GsMenuStyle& style, Status& status) {
  get(s().menu_style, style, status, "Subroutine GS_INQ_MENUSTYLE V0.1");
}
void GS_INQ_MESSAGE(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  get_rect(s().message, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_MESSAGE V0.1");
}
void GS_INQ_MESSAGESTYLE(GsMessageStyle& style, Status& status) {
  get(s().message_style, style, status, "Subroutine GS_INQ_MESSAGESTYLE V0.1");
}
void GS_INQ_GUIREGION(float& xmin, float& ymin, float& xmax, float& ymax, Status& status) {
  get_rect(s().gui_region, xmin, ymin, xmax, ymax, status, "Subroutine GS_INQ_GUIREGION V0.1");
}
void GS_INQ_PROGRESS(float& xmin, float& ymin, float& xmax, float& ymax, int& on_switch,
                     Status& status) {
  constexpr std::string_view position = "Subroutine GS_INQ_PROGRESS V0.1";
  if (st_bad(status, position)) return;
  get_rect(s().progress, xmin, ymin, xmax, ymax, status, position);
  on_switch = s().progress_switch;
}

void GS_INQ_POSTSCRIPT(bool& colour, int& second, int& third, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_POSTSCRIPT V0.1")) return;
  colour = s().ps_colour;
  second = 0;
  third = 0;
}

void GS_INQ_PSFILE(bool& open, Status& status) {
  get(s().ps_file, open, status, "Subroutine GS_INQ_PSFILE V0.1");
}
void GS_INQ_WINDOWFORMAT(int& format, Status& status) {
  get(s().window_format, format, status, "Subroutine GS_INQ_WINDOWFORMAT V0.1");
}

void GS_INQ_CHAR_SCALING(float& width, float& height, Status& status) {
  if (st_bad(status, "Subroutine GS_INQ_CHAR_SCALING V0.1")) return;
  width = s().char_width_scale;
  height = s().char_height_scale;
}

}  // namespace kesta
