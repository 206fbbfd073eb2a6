#pragma once
// The attribute state of the graphics system: one block per attribute group,
// changed only through its validating GS_SET_ routine, read through its
// GS_INQ_ routine and reset by GS_DEF_ATTRIBUTES / GS_DEF_GRAPHICS.
//
// Failed checks give 140000 plus: 13 an X minimum not below its maximum, 14
// the same for Y (tested only when X passed), 17 an integer or index out of
// range, 18 the second axes style, 21 a scale, width or size not above 0.
// A failed check leaves the whole group unchanged.
//
// Page coordinates: portrait page 0.7071 wide and 1.0 high, landscape 1.0 by
// 0.7071. Colours are drawing-colour numbers 1..15. Label angles are radians.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kGsMaxCurves = 40;
inline constexpr int kGsMaxLabels = 40;
inline constexpr int kGsMaxArrows = 40;
inline constexpr int kGsMaxTextLines = 256;
inline constexpr int kGsNumColours = 15;
inline constexpr int kGsMaxLevels = 256;
// The largest display: an image of 4000 pixels and a 3-D plot of 2000 each
// way (GS_SET_PIXELLIMITS refuses more).
inline constexpr int kGsImagePixelLimit = 4000;
inline constexpr int kGs3dPixelLimit = 2000;

// Drawing-colour numbers.
enum GsColour : int {
  kGsBlack = 1,
  kGsWhite,
  kGsRed,
  kGsGreen,
  kGsBlue,
  kGsYellow,
  kGsMagenta,
  kGsCyan,
  kGsOrange,
  kGsGrey,
  kGsBrown,
  kGsViolet,
  kGsIndex0,
  kGsIndex1,
  kGsInverse
};

// A rectangle, page or world units by use.
struct GsRect {
  float xmin = 0, ymin = 0, xmax = 1, ymax = 1;
};

// Title, axis labels and axis numbers share this shape.
struct GsTextStyle {
  bool output = true;
  int font = 1;
  int colour = kGsBlack;
  float height = 1.0f;  // character height scale
  float width = 1.0f;   // character width scale
  float spacing = 0.0f;
};

struct GsAxisEnum {
  GsTextStyle text;
  int field = 5;     // characters of each number
  int fraction = 2;  // characters of the fractional part
  bool shorten = true;
  bool constant_length = true;
};

struct GsGraphLayout {
  float y_enum_gap = 0.015f;  // vertical axis to its numbers
  float x_enum_gap = 0.015f;  // horizontal axis to its numbers
  float y_label_gap = 0.05f;
  float x_label_gap = 0.05f;
  float title_gap = 0.05f;
};

struct GsAutoRange {
  bool xmin = true, ymin = true, xmax = true, ymax = true;
};

struct GsAxesStyle {
  int line_type = 1;  // 0..4
  float width = 1.0f;
  int colour = kGsBlack;
  float large_tick = 0.01f;  // page units
  float small_tick = 0.005f;
  int num_small = 9;  // small ticks between two large ticks
};

struct GsLargeTicks {
  bool automatic = true;
  float first = 0.0f;
  float interval = 1.0f;
  int number = 10;
};

struct GsLine {
  int type = 1;
  float width = 1.0f;
  int colour = kGsBlack;
};

struct GsGridSwitches {
  bool h_coarse = false, v_coarse = false, h_fine = false, v_fine = false;
};

struct GsKey {
  bool output = false;
  GsRect region{0.1f, 0.05f, 0.6071f, 0.2929f};
  int frame = 1;  // not 0 outlines the key
};

struct GsKeyStyle {
  int font = 1;
  int text_colour = kGsBlack;
  float height = 1.0f, width = 1.0f, spacing = 0.0f;
  int line_type = 1;
  float line_width = 1.0f;
  int line_colour = kGsBlack;
};

struct GsAtextStyle {
  bool output = true;
  float x = 0.1f, y = 0.2929f;  // start, page units
  int font = 1;
  int colour = kGsBlack;
  float height = 1.0f, width = 1.0f, spacing = 0.0f;
  float line_spacing = 1.8f;
};

struct GsLabel {
  bool data_coordinates = true;
  float x = 0.0f, y = 0.0f;
  std::string text;
};

struct GsLabelStyle {
  int font = 1;
  int colour = kGsBlack;
  float height = 1.0f, width = 1.0f, spacing = 0.0f;
  float angle = 0.0f;  // radians, anticlockwise
};

struct GsArrow {
  bool data_coordinates = true;
  float head_x = 0, head_y = 0, tail_x = 0, tail_y = 0;
};

struct GsArrowStyle {
  int line_type = 1;
  float width = 1.0f;
  int colour = kGsBlack;
  int head_style = 0;  // 0 two lines, 1 filled triangle
  float head_length = 1.0f, head_width = 1.0f;
  int fill_colour = kGsBlack;
};

// Per-curve styles.
struct GsCurveStyle {
  bool line = true, markers = true, errors = true;
};
struct GsCurveLine {
  int type = 1;
  int colour = kGsBlack;
  float width = 1.0f;
  bool closed = false;
  int interpolation = 0;  // 0 straight, 1 cubic spline, 2 smoothed monotone
};
struct GsCurveMarkers {
  int type = 2;  // 1..13
  int colour = kGsBlack;
  float size = 1.0f;
};
struct GsCurveSoftMarkers {
  int width = 1;
  bool filled = false;
  int fill_colour = kGsWhite;
};
struct GsCurveErrors {
  int box_type = 0;  // 0 bars, 1 diamond, 2 box
  int line_type = 1;
  int colour = kGsBlack;
  float width = 1.0f;
};

struct Gs3dStyle {
  bool lines = false;
  int line_colour = 5;
  float line_width = 1.0f;
  bool fill = true;
  bool z_colours = true;
  int fill_colour = 1;
  int image_option = 0;
  bool image_switch = false;
};

struct Gs3dView {
  float x_offset = 0, y_offset = 0, z_offset = 0;
  float longitude = 0, latitude = 0;
  float distance = 10000.0f;
  GsRect window{-1.0f, -1.0f, 1.0f, 1.0f};
  float z_scale = 1.0f;
  float c1 = 1, s1 = 0, c2 = 1, s2 = 0, c1c2 = 1, s1c2 = 0, c1s2 = 0, s1s2 = 0;
};

// GS_COM_LUT: image colours and scaling.
struct GsComLut {
  int scheme = 2;      // 0..11
  int levels = 202;    // colour levels
  int scale_mode = 0;  // 0 region range, 1 user, 2 user min, 3 user max, 4 automatic
  float user_minimum = 0.0f;
  float user_maximum = 1.0f;
  bool bar = true;
  int bar_position = 0;
};

struct GsMenuLayout {
  int fill_order = 0;
  int across = 1;
  int title_length = 40;
  int button_length = 20;
};

struct GsMenuStyle {
  int frame_line = 1, frame_fill = 5, button_edge = 1, button_fill = 6, title_text = 2,
      title_font = 1, button_text = 5, button_font = 1;
};

struct GsMessageStyle {
  int frame_line = 2, frame_fill = 5, text_background = 2, font = 1, text_colour = 1;
  bool automatic_size = true;
  float height = 0.016667f, width = 1.0f, spacing = 0.0f, line_spacing = 1.8f;
};

// The whole attribute state. Each member is one of the program's attribute
// groups; the one instance below is the graphics system's module state.
struct GsState {
  bool background_fill = true;
  int background_colour = kGsWhite;
  GsGraphLayout layout;
  GsAutoRange auto_range;
  bool x_error_bars = true, y_error_bars = true;
  bool x_data_linear = true, y_data_linear = true;
  GsTextStyle title, xlabel, ylabel;
  int ylabel_orientation = 1;  // 1 rotated vertical, 2 horizontal
  GsAxisEnum xenum, yenum;
  bool x_axis_linear = true, y_axis_linear = true;
  int x_axes_code = 0, y_axes_code = 0;  // 0 opposite axis numbered, 1 none, 2 without numbers
  std::array<bool, 4> frame{false, true, false, true};
  GsAxesStyle haxes, vaxes;
  GsLargeTicks xticks, yticks;
  GsGridSwitches grid;
  GsLine hcoarse{4}, vcoarse{4}, hfine{3}, vfine{3};
  GsRect ddr, dddr;
  // Data units of one world unit along X and Y while a graph or a colour bar
  // is drawn: a power of two above 1 for data near 3.4E+38, which are drawn
  // scaled down so that the page round them has float world coordinates;
  // the axis numbers give the data's own values.
  double x_axis_unit = 1.0, y_axis_unit = 1.0;
  GsRect gpp{0.1f, 0.3929f, 0.6071f, 0.9f}, dgpp{0.1f, 0.3929f, 0.6071f, 0.9f};
  GsRect idr;
  bool iaspect = true;
  bool lut_drawn = false;
  GsRect dlutpc{1.0f, 1.0f, -1.0f, -1.0f};
  GsKey key;
  GsKeyStyle key_style;
  std::array<std::string, kGsMaxCurves> key_labels;
  GsAtextStyle atext_style;
  std::vector<std::string> atext;
  int num_labels = 0;
  std::array<GsLabel, kGsMaxLabels> labels;
  std::array<GsLabelStyle, kGsMaxLabels> label_styles;
  int num_arrows = 0;
  std::array<GsArrow, kGsMaxArrows> arrows;
  std::array<GsArrowStyle, kGsMaxArrows> arrow_styles;
  std::array<GsCurveStyle, kGsMaxCurves> curve_styles;
  std::array<GsCurveLine, kGsMaxCurves> curve_lines;
  std::array<GsCurveMarkers, kGsMaxCurves> curve_markers;
  std::array<GsCurveSoftMarkers, kGsMaxCurves> curve_soft_markers;
  std::array<GsCurveErrors, kGsMaxCurves> curve_errors;
  Gs3dStyle style3d;
  std::array<bool, 3> axes3d{false, false, false};
  Gs3dView view3d;
  GsComLut lut;
  int mask_colour = kGsRed;
  bool pixel_values = true;
  int image_pixel_limit = 600;  // 1..kGsImagePixelLimit
  int pixel_limit_3d = 200;     // 1..kGs3dPixelLimit
  GsMenuLayout menu_layout;
  GsMenuStyle menu_style;
  GsRect message{0.0f, 0.0f, 0.7071f, 1.0f};
  GsMessageStyle message_style;
  GsRect gui_region{0.0f, 0.0f, 0.7071f, 0.15f};
  bool ps_colour = true;
  bool ps_file = false;
  int window_format = 0;  // 0, 2 portrait; 1, 3 landscape
  float char_width_scale = 1.0f, char_height_scale = 1.0f;
  bool form_document = false, menu_document = false;
  float reference_width = 0.0f;  // page width of "iiii..MMWW"
  int colour_cells = 108, max_colour_cells = 210;
  // The progress bar's region; its switch is always 0 (off).
  GsRect progress{0.0f, 0.0f, 0.7071f, 0.29f};
  int progress_switch = 0;
  // GS_DB_COLOURS: the definitions of the drawing colours and the device
  // index each one got.
  std::array<std::array<float, 3>, kGsNumColours> colour_rgb{};
  std::array<int, kGsNumColours> colour_index{1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 1, -1};
};
inline GsState gs_state;

// The device colour index of drawing colour COLOUR. A colour the device can
// not take for the use (0 and -1 for markers, -1 for fills and text) and an
// undefined number draw BLACK.
int gs_device_colour(int colour);
int gs_device_fill_colour(int colour);
int gs_device_marker_colour(int colour);

// ---- Defaults ----
void GS_DEF_ATTRIBUTES(Status& status);
void GS_DEF_GRAPHICS(Status& status);
void GS_DEF_LUTCHOICE(Status& status);
void GS_DEF_COLOURS(Status& status);
void GS_DEF_KEYLABELS(Status& status);
void GS_DEF_ATEXT(Status& status);
void GS_DEF_CURVESTYLES(Status& status);

// ---- Setters (fields in table order, STATUS last) ----
void GS_SET_BACKGROUND(bool fill, int colour, Status& status);
void GS_SET_GRAPHLAYOUT(float y_enum_gap, float x_enum_gap, float y_label_gap, float x_label_gap,
                        float title_gap, Status& status);
void GS_SET_AUTODDR(bool xmin_auto, bool ymin_auto, bool xmax_auto, bool ymax_auto, Status& status);
void GS_SET_ERRORBARS(bool x_bars, bool y_bars, Status& status);
void GS_SET_DATALOGLIN(bool x_linear, bool y_linear, Status& status);
void GS_SET_TITLESTYLE(bool output, int font, int colour, float height, float width, float spacing,
                       Status& status);
void GS_SET_XLABELSTYLE(bool output, int font, int colour, float height, float width, float spacing,
                        Status& status);
void GS_SET_YLABELSTYLE(bool output, int font, int colour, float height, float width, float spacing,
                        Status& status);
void GS_SET_YLABELORIENTATION(int orientation, Status& status);
void GS_SET_XAXISENUM(bool output, int font, int colour, float height, float width, float spacing,
                      int field, int fraction, bool shorten, bool constant_length, Status& status);
void GS_SET_YAXISENUM(bool output, int font, int colour, float height, float width, float spacing,
                      int field, int fraction, bool shorten, bool constant_length, Status& status);
void GS_SET_AXESLOGLIN(bool x_linear, bool y_linear, Status& status);
void GS_SET_AXESSTYLE(int x_code, int y_code, Status& status);
void GS_SET_FRAMESTYLE(bool x_first, bool x_second, bool y_first, bool y_second, Status& status);
void GS_SET_HAXESSTYLE(int line_type, float width, int colour, float large_tick, float small_tick,
                       int num_small, Status& status);
void GS_SET_VAXESSTYLE(int line_type, float width, int colour, float large_tick, float small_tick,
                       int num_small, Status& status);
void GS_SET_XLTICKS(bool automatic, float first, float interval, int number, Status& status);
void GS_SET_YLTICKS(bool automatic, float first, float interval, int number, Status& status);
void GS_SET_GRID(bool h_coarse, bool v_coarse, bool h_fine, bool v_fine, Status& status);
void GS_SET_HCOARSEGRID(int line_type, float width, int colour, Status& status);
void GS_SET_VCOARSEGRID(int line_type, float width, int colour, Status& status);
void GS_SET_HFINEGRID(int line_type, float width, int colour, Status& status);
void GS_SET_VFINEGRID(int line_type, float width, int colour, Status& status);
void GS_SET_DDR(float xmin, float ymin, float xmax, float ymax, Status& status);
void GS_SET_DDDR(float xmin, float ymin, float xmax, float ymax, Status& status);
void GS_SET_GPP(float xmin, float ymin, float xmax, float ymax, Status& status);
void GS_SET_DGPP(float xmin, float ymin, float xmax, float ymax, Status& status);
void GS_SET_IDR(float xmin, float ymin, float xmax, float ymax, Status& status);
void GS_SET_IASPECT(bool keep_aspect, Status& status);
void GS_SET_DLUTPC(bool drawn, float xmin, float ymin, float xmax, float ymax, Status& status);
void GS_SET_KEY(bool output, float xmin, float ymin, float xmax, float ymax, int frame,
                Status& status);
void GS_SET_KEYSTYLE(int font, int text_colour, float height, float width, float spacing,
                     int line_type, float line_width, int line_colour, Status& status);
void GS_SET_KEYLABEL(int curve, std::string_view text, Status& status);
void GS_SET_ATEXTSTYLE(bool output, float x, float y, int font, int colour, float height,
                       float width, float spacing, float line_spacing, Status& status);
void GS_SET_ATEXT(const std::vector<std::string>& lines, Status& status);
void GS_SET_ALABEL(int label, bool data_coordinates, float x, float y, std::string_view text,
                   int num_labels, Status& status);
void GS_SET_ALABELSTYLE(int label, int font, int colour, float height, float width, float spacing,
                        float angle, Status& status);
void GS_SET_ARROW(int arrow, bool data_coordinates, float head_x, float head_y, float tail_x,
                  float tail_y, int num_arrows, Status& status);
void GS_SET_ARROWSTYLE(int arrow, int line_type, float width, int colour, int head_style,
                       float head_length, float head_width, int fill_colour, Status& status);
void GS_SET_CURVESTYLE(int curve, bool line, bool markers, bool errors, Status& status);
void GS_SET_CURVELINE(int curve, int line_type, int colour, float width, bool closed,
                      int interpolation, Status& status);
void GS_SET_CURVEMARKERS(int curve, int marker_type, int colour, float size, Status& status);
void GS_SET_CURVESOFTMARKERS(int curve, float line_width, bool filled, int fill_colour,
                             Status& status);
void GS_SET_CURVEERRORS(int curve, int box_type, int line_type, int colour, float width,
                        Status& status);
void GS_SET_3DSTYLE(bool lines, int line_colour, float line_width, bool fill, bool z_colours,
                    int fill_colour, Status& status);
void GS_SET_3DSIMAGE(int option, bool on, Status& status);
void GS_SET_3DAXES(bool box, bool walls, bool enumerate, Status& status);
void GS_SET_3DVIEW(float x_offset, float y_offset, float z_offset, float longitude, float latitude,
                   float distance, float wxmin, float wymin, float wxmax, float wymax,
                   float z_scale, Status& status);
void GS_SET_LUTCHOICE(int scheme, int levels, Status& status);
void GS_SET_IMAGESCALE(int mode, float minimum, float maximum, Status& status);
void GS_SET_LUT(bool bar, int position, Status& status);
void GS_SET_MASKCOLOUR(int colour, Status& status);
void GS_SET_PIXELLIMITS(int image_limit, int limit_3d, Status& status);
void GS_SET_MENULAYOUT(int fill_order, int across, int title_length, int button_length,
                       Status& status);
void GS_SET_MESSAGE(float xmin, float ymin, float xmax, float ymax, Status& status);
// The style of message boxes (font 1 proportional, 2 fixed width).
void GS_SET_MESSAGESTYLE(const GsMessageStyle& style, Status& status);
void GS_SET_GUIREGION(float xmin, float ymin, float xmax, float ymax, Status& status);
void GS_SET_POSTSCRIPT(bool colour, Status& status);
void GS_SET_PSFILE(bool open, Status& status);
void GS_SET_WINDOWFORMAT(int format, Status& status);
void GS_SET_CHAR_SCALING(float width, float height, Status& status);
// The progress bar's region (page) and its switch, which must be 0.
void GS_SET_PROGRESS(float xmin, float ymin, float xmax, float ymax, int on_switch,
                     Status& status);

// ---- Setters of many groups ----
void GS_MSET_COLOURS(int colour, Status& status);
void GS_MSET_FONT(int font, Status& status);
void GS_MSET_PUBLICATION(Status& status);
void GS_MSET_LANDSCAPE(Status& status);

// The drawing-colour number of NAME (compared upper-case, whole).
void GS_GIVE_COLOUR(std::string_view name, bool& found, int& colour, Status& status);
// The name of a drawing colour; NAME is written only when FOUND.
void GS_GIVE_COLOURNAME(int colour, bool& found, std::string& name, Status& status);

// ---- Inquiries (values in setter order) ----
void GS_INQ_BACKGROUND(bool& fill, int& colour, Status& status);
void GS_INQ_GRAPHLAYOUT(float& y_enum_gap, float& x_enum_gap, float& y_label_gap,
                        float& x_label_gap, float& title_gap, Status& status);
void GS_INQ_AUTODDR(bool& xmin_auto, bool& ymin_auto, bool& xmax_auto, bool& ymax_auto,
                    Status& status);
void GS_INQ_ERRORBARS(bool& x_bars, bool& y_bars, Status& status);
void GS_INQ_DATALOGLIN(bool& x_linear, bool& y_linear, Status& status);
void GS_INQ_TITLESTYLE(GsTextStyle& style, Status& status);
void GS_INQ_XLABELSTYLE(GsTextStyle& style, Status& status);
void GS_INQ_YLABELSTYLE(GsTextStyle& style, Status& status);
void GS_INQ_YLABELORIENTATION(int& orientation, Status& status);
void GS_INQ_XAXISENUM(GsAxisEnum& style, Status& status);
void GS_INQ_YAXISENUM(GsAxisEnum& style, Status& status);
void GS_INQ_AXESLOGLIN(bool& x_linear, bool& y_linear, Status& status);
void GS_INQ_AXESSTYLE(int& x_code, int& y_code, Status& status);
void GS_INQ_FRAMESTYLE(std::array<bool, 4>& frame, Status& status);
void GS_INQ_HAXESSTYLE(GsAxesStyle& style, Status& status);
void GS_INQ_VAXESSTYLE(GsAxesStyle& style, Status& status);
void GS_INQ_XLTICKS(GsLargeTicks& ticks, Status& status);
void GS_INQ_YLTICKS(GsLargeTicks& ticks, Status& status);
void GS_INQ_GRID(bool& h_coarse, bool& v_coarse, bool& h_fine, bool& v_fine, Status& status);
void GS_INQ_HCOARSEGRID(GsLine& line, Status& status);
void GS_INQ_VCOARSEGRID(GsLine& line, Status& status);
void GS_INQ_HFINEGRID(GsLine& line, Status& status);
void GS_INQ_VFINEGRID(GsLine& line, Status& status);
void GS_INQ_DDR(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_DDDR(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_GPP(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_DGPP(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_IDR(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_IASPECT(bool& keep_aspect, Status& status);
void GS_INQ_DLUTPC(bool& drawn, float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_KEY(bool& output, float& xmin, float& ymin, float& xmax, float& ymax, int& frame,
                Status& status);
void GS_INQ_KEYSTYLE(GsKeyStyle& style, Status& status);
void GS_INQ_KEYLABEL(int curve, std::string& text, Status& status);
void GS_INQ_ATEXTSTYLE(GsAtextStyle& style, Status& status);
void GS_INQ_ATEXT(int max_lines, int& num_lines, std::vector<std::string>& lines, Status& status);
void GS_INQ_ALABEL(int label, bool& data_coordinates, float& x, float& y, std::string& text,
                   int& num_labels, Status& status);
void GS_INQ_ALABELSTYLE(int label, GsLabelStyle& style, Status& status);
void GS_INQ_ARROW(int arrow, bool& data_coordinates, float& head_x, float& head_y, float& tail_x,
                  float& tail_y, int& num_arrows, Status& status);
void GS_INQ_ARROWSTYLE(int arrow, GsArrowStyle& style, Status& status);
void GS_INQ_CURVESTYLE(int curve, bool& line, bool& markers, bool& errors, Status& status);
void GS_INQ_CURVELINE(int curve, GsCurveLine& line, Status& status);
void GS_INQ_CURVEMARKERS(int curve, int& marker_type, int& colour, float& size, Status& status);
void GS_INQ_CURVESOFTMARKERS(int curve, GsCurveSoftMarkers& style, Status& status);
void GS_INQ_CURVEERRORS(int curve, GsCurveErrors& style, Status& status);
void GS_INQ_3DSTYLE(Gs3dStyle& style, Status& status);
void GS_INQ_3DAXES(bool& box, bool& walls, bool& enumerate, Status& status);
// The two surface-image options as switches: low image, top image.
void GS_INQ_3DSIMAGE(bool& low_image, bool& top_image, Status& status);
void GS_INQ_3DVIEW(Gs3dView& view, Status& status);
void GS_INQ_LUTCHOICE(int& scheme, int& levels, Status& status);
void GS_INQ_IMAGESCALE(int& mode, float& minimum, float& maximum, Status& status);
void GS_INQ_LUT(bool& bar, int& position, Status& status);
void GS_INQ_MASKCOLOUR(int& colour, Status& status);
void GS_INQ_MAXCURVES(int& max_curves, Status& status);
void GS_INQ_PIXELLIMITS(int& image_limit, int& limit_3d, Status& status);
void GS_INQ_MENULAYOUT(int& fill_order, int& across, int& title_length, int& button_length,
                       Status& status);
void GS_INQ_MENUSTYLE(GsMenuStyle& style, Status& status);
void GS_INQ_MESSAGE(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_MESSAGESTYLE(GsMessageStyle& style, Status& status);
void GS_INQ_GUIREGION(float& xmin, float& ymin, float& xmax, float& ymax, Status& status);
void GS_INQ_PROGRESS(float& xmin, float& ymin, float& xmax, float& ymax, int& on_switch,
                     Status& status);
void GS_INQ_POSTSCRIPT(bool& colour, int& second, int& third, Status& status);
void GS_INQ_PSFILE(bool& open, Status& status);
void GS_INQ_WINDOWFORMAT(int& format, Status& status);
void GS_INQ_CHAR_SCALING(float& width, float& height, Status& status);

}  // namespace kesta
