#pragma once
// The drawing half of the graphics system: primitives and their styles,
// axes, grids and annotation, x/y graphs, image display with colour schemes
// and the colour scale bar, and opening, closing and PostScript copies.
// Every routine takes STATUS last; its own failures are 140000 plus a code.
// Coordinates are world coordinates of the current transform unless named
// page coordinates.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"
#include "graphics/device/driver.hpp"
#include "graphics/system/state.hpp"

namespace kesta {

// ---- Primitives and styles ----
void GS_LINESTYLE(int type, float width, int colour, Status& status);
void GS_MARKERSTYLE(int type, float size, int colour, Status& status);
void GS_TEXTSTYLE(int font, int colour, float height, float width_scale, float spacing, int path,
                  int horizontal, int vertical, float up_x, float up_y, Status& status);
void GS_FILLSTYLE(int style, int colour, Status& status);
void GS_LINE(float x1, float y1, float x2, float y2, Status& status);
void GS_RECTANGLE(float x1, float y1, float x2, float y2, bool outline, bool fill, Status& status);
void GS_TRIANGLE(float x1, float y1, float x2, float y2, float x3, float y3, bool outline,
                 bool fill, Status& status);
void GS_KITE(float xc, float yc, float x1, float y1, float x2, float y2, bool outline, bool fill,
             Status& status);
void GS_ELLIPSE(float xc, float yc, float rx, float ry, bool outline, bool fill, int segments,
                Status& status);
void GS_RELLIPSE(float xc, float yc, float r1, float r2, float angle, bool outline, bool fill,
                 int segments, Status& status);
void GS_ARCELLIPSE(float xc, float yc, float rx, float ry, float start_angle, float end_angle,
                   bool outline, bool fill, int segments, Status& status);
void GS_MARK(float x, float y, float size, Status& status);
// While ON, what is drawn in data coordinates stays inside the drawn data
// display region (the last graph or image), as overlays on an image must.
void gs_clip_to_graph(bool on, Status& status);
// Lines of text fitted into a page rectangle.
void GS_TEXT(int max_lines, int num_lines, std::span<const std::string> text, float xmin,
             float ymin, float xmax, float ymax, Status& status);
void GS_ARROW(float head_x, float head_y, float tail_x, float tail_y, int head_style,
              float head_length, float head_width, Status& status);

// ---- Annotation ----
void GS_ATEXT(Status& status);
void GS_ALABELS(Status& status);
void GS_ARROWS(Status& status);

// ---- Axes, ticks, grids ----
void GS_BACKGROUND(Status& status);
void GS_CAL_TICKS(float minimum, float maximum, float& first, float& interval, int& number,
                  Status& status);
void GS_CAL_ENUMFIELD(float value1, float value2, int digits, int& fraction, Status& status);
void GS_AXISFRAME(Status& status);
// The page area that the numbers of the drawn image's top axis take (from the
// drawn graph page position and the axis styles, as GS_AXISFRAME numbers
// it); empty (XMIN = XMAX) when the top axis is not numbered.
GsRect gs_top_axis_numbers();
void GS_GRID(Status& status);
void GS_LINTICKS(bool x_axis, float start, float end, float position, float first, float interval,
                 int num_large, int num_small, bool minus, bool plus, float large_size,
                 float small_size, Status& status);
void GS_LINAXIS(bool x_axis, float start, float end, float position, float first, float interval,
                int num_large, bool minus, bool plus, bool enumerate, bool side, Status& status);
void GS_LINAXENUM(bool x_axis, float first, float interval, int num_large, float position,
                  bool side, Status& status);
void GS_LINGRID(bool x_axis, float start, float end, float first, float interval, int num_large,
                int num_small, float from, float to, Status& status);
void GS_ALOGTICKS(bool x_axis, float start, float end, float position, bool minus, bool plus,
                  float large_size, float small_size, Status& status);
void GS_ALOGAXIS(bool x_axis, int style, float start, float end, float position, bool minus,
                 bool plus, bool enumerate, bool side, Status& status);
void GS_ALOGAXENUM(bool x_axis, int style, float start, float end, float position, bool side,
                   Status& status);
void GS_ALOGGRID(bool x_axis, float xmin, float ymin, float xmax, float ymax, bool fine,
                 Status& status);
void GS_EXPONT(float x, float y, int style, int horizontal, int vertical, bool prefix, float value,
               int font, int colour, float angle, float height, Status& status);

// ---- x/y graphs ----
// Curves: X and Y are MAXPTS x MAXCURVES column-major arrays; curve i uses
// points STARTS[i]..ENDS[i] (1-based). The error arrays hold distances.
struct GsCurves {
  Index maxpts = 0;
  Index maxcurves = 0;
  Index numcurves = 0;
  std::span<const Index> starts;
  std::span<const Index> ends;
  std::span<const float> x, y;
  std::span<const float> xlow, xhigh, ylow, yhigh;  // empty without error bars
};
void GS_XYEGRAPH(const GsCurves& curves, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, Status& status);
void GS_XYGRAPH(const GsCurves& curves, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, Status& status);
void GS_XYSGRAPH(Index maxpts, Index start, Index end, std::span<const float> x,
                 std::span<const float> y, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, Status& status);
void GS_CAL_DDR(const GsCurves& curves, Status& status);
void GS_XYCURVES(const GsCurves& curves, Status& status);
// Curve CURVE (0-based slot) of CURVES in style STYLE (1..40).
void GS_XYCURVE(const GsCurves& curves, Index curve, int style, Status& status);
void GS_CSLINE(Index maxpts, Index start, Index end, std::span<const float> x,
               std::span<const float> y, bool closed, Status& status);
void GS_PMLINE(Index maxpts, Index start, Index end, std::span<const float> x,
               std::span<const float> y, bool closed, Status& status);
void GS_SPLINE(float x1, float y1, float g1, float x2, float y2, float g2, int npoints,
               Status& status);
void GS_MARKERS(int style, Index maxpts, Index start, Index end, std::span<const float> x,
                std::span<const float> y, Status& status);
void GS_XYERRORBARS(Index start, Index end, std::span<const float> x, std::span<const float> y,
                    std::span<const float> xlow, std::span<const float> xhigh,
                    std::span<const float> ylow, std::span<const float> yhigh, bool x_on, bool y_on,
                    int style, Status& status);
void GS_KEY(Index numcurves, Status& status);
void GS_TITLE(std::string_view text, Status& status);
void GS_XLABEL(std::string_view text, Status& status);
void GS_YLABEL(std::string_view text, Status& status);
// The page room an x/y graph's texts take outside its axes rectangle:
// BELOW the X axis its numbers and label, ABOVE the frame its title, each
// with a small margin. Graphs stacked on one page are set apart by these.
void gs_xy_text_room(float& below, float& above);

// ---- Images ----
void GS_PLOT(Index xmaxdat, Index ymaxdat, std::span<const float> data,
             std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
             Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
             std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
             Status& status);
void GS_MPLOT(bool mask_on, Index xmaxdat, Index ymaxdat, std::span<const float> data,
              std::span<const std::uint8_t> mask, std::span<const float> xaxis,
              std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, std::string_view title, std::string_view xlabel,
              std::string_view ylabel, std::string_view zlabel, Status& status);
void GS_2DIMAGE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                Status& status);
void GS_2DMIMAGE(bool mask_data, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                 std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                 std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, std::string_view zlabel, Status& status);
void GS_2DCELLARRAY(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, int mode, float& minimum,
                    float& maximum, Status& status);
void GS_2DMCELLARRAY(bool mask_on, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                     std::span<const std::uint8_t> mask, Index xstrelm, Index ystrelm,
                     Index xendelm, Index yendelm, int mode, float& minimum, float& maximum,
                     Status& status);
void GS_CAL_ZRANGE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, Index binning, int mode,
                   float& zmin, float& zmax, Status& status);
void GS_CAL_WCTOPIX(Index maxdim, Index num, std::span<const float> axis, float coordinate,
                    Index& pixel, Status& status);
void GS_LUTSCALE(float minimum, float maximum, bool vertical, std::string_view zlabel,
                 Status& status);

// ---- Colours ----
// Fills TABLE entries FIRST..LAST (of TABLE_SIZE) from NUM_POINTS control
// points spread evenly over them, quantised to LEVELS steps.
void GS_CAL_COLOURTABLE(int max_points, int num_points, std::span<const Rgb> points, int first,
                        int last, int levels, int table_size, std::span<Rgb> table, Status& status);
void GS_CAL_COLOURS(Status& status);
void GS_COLOURS(Status& status);
// The control points of scheme 1..11 (empty for any other).
std::vector<Rgb> gs_scheme_points(int scheme);
// Scheme names as the menus show them, index 1..11 (0 is blank).
std::string_view gs_scheme_name(int scheme);

// ---- Opening, closing, PostScript copies ----
// The PostScript copy's own stream.
inline constexpr int kStreamPostScript = 18;
void GS_OPEN_GRAPHICS(Status& status);
void GS_OPEN_NOTERM(Status& status);
void GS_MSET_OPTIONS(Status& status);
void GS_UPDATE(Status& status);
void GS_ON_PRINT(bool graphical, bool& opened, Status& status);
void GS_OFF_PRINT(Status& status);
// While a print draws into the PostScript copy: the page drawn so far is
// ended (as GS_OFF_PRINT ends it) and the drawing goes on on a new page of
// the copy. Drawing to the window, nothing is done.
void gs_print_page_break(Status& status);
// The line that ends a keyboard print whose page was written into the copy
// left open for more pages: that the page was added and what writes the
// file (what closes it).
void gs_say_print_written(Status& status);
// Ends what GS_ON_PRINT began when nothing was drawn: the drawing goes back
// to the window and no page is added; a copy that holds no page yet is
// given up (no new file is left, an old one stays as it was), one with
// pages stays open for more.
void gs_off_print_without_page();
void GS_OPEN_PS(std::string_view file, Status& status);
void GS_CLOSE_PS(Status& status);
// Closes the graphics file, when one is open, and says it is finished once
// it is whole, in one line naming it and its pages: END GRAPHICS FILE, the
// end of the session and every window print (which closes the file the
// keyboard's prints left open as well as its own).
void gs_end_graphics_file(Status& status);
void GS_CLOSE_GRAPHICS(Status& status);

}  // namespace kesta
