#pragma once
// Contour maps and the perspective 3-D views of an image region: the contour
// tracer and plot, the 3-D primitives projected through the view of
// GS_SET_3DVIEW, the 3-D axes, the shaded surface painted into the raster
// and the stacked row profiles with hidden lines removed. Every routine takes
// STATUS last; its own failures are 140000 plus a code.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/types.hpp"
#include "graphics/system/state.hpp"

namespace kesta {

// The page position (U, V), in world coordinates of the current transform,
// of the 3-D point (X, Y, Z) seen through VIEW.
inline void gs_3d_project(const Gs3dView& view, float x, float y, float z, float& u, float& v) {
  const float px = x + view.x_offset;
  const float py = y + view.y_offset;
  const float pz = z + view.z_offset;
  const float depth = px * view.s1c2 + py * view.c1c2 - pz * view.s2;
  const float scale = view.distance / (depth + view.distance);
  u = (px * view.c1 - py * view.s1) * scale;
  v = (px * view.s1s2 + py * view.c1s2 + pz * view.c2) * scale;
}

// The part of the page a 3-D surface view draws in, in page units: the page
// below the band its title takes (when titles are drawn). The surface, its
// walls, box and axes are clipped to it and the axes' numbers kept inside
// it, so that a view zoomed past the page's edges or the title ends there.
GsRect gs_3d_frame(Status& status);

// ---- Contours ----
// Lines of LEVELS[0..NUMLEVELS-1] (MAXLEVELS declared) through the region.
void GS_2DCONTLINES(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                    std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, int maxlevels,
                    std::span<const float> levels, int numlevels, Status& status);
// The region as a contour map of ten levels in the image's page frame.
void GS_2DCONTOUR(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                  std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                  Status& status);

// ---- 3-D primitives (N points of X, Y, Z) ----
void GS_3POLYLINE(int n, std::span<const float> x, std::span<const float> y,
                  std::span<const float> z, Status& status);
void GS_3LINE(float x1, float y1, float z1, float x2, float y2, float z2, Status& status);
void GS_3FILLAREA(int n, std::span<const float> x, std::span<const float> y,
                  std::span<const float> z, Status& status);
void GS_3TEXT(float x, float y, float z, std::string_view text, Status& status);

// An axis along direction AXIS (1 X, 2 Y, 3 Z) from START to END at the other
// two coordinates P1, P2, numbered from VMIN to VMAX; ticks point along
// (DX, DY, DZ); numbers aligned HORIZONTAL, VERTICAL.
void GS_3LINAXIS(int axis, float start, float end, float vmin, float vmax, float p1, float p2,
                 float dx, float dy, float dz, bool enumerate, int horizontal, int vertical,
                 Status& status);
void GS_3LINTICKS(int axis, float start, float end, float p1, float p2, float first, float interval,
                  int nlarge, int nsmall, float dx, float dy, float dz, float large, float small,
                  Status& status);
// The numbers VALUE_FIRST + k VALUE_INTERVAL of the NUMBER large ticks at
// FIRST + k INTERVAL along the axis.
void GS_3LINAXENUM(int axis, float p1, float p2, float first, float interval, float value_first,
                   float value_interval, int number, float dx, float dy, float dz, int horizontal,
                   int vertical, Status& status);
// The page room beside a 3-D axis that its numbers take.
float gs_3d_number_room();
// TEXT over the end (X, Y, Z) of a height axis reaching to Z_OTHER and
// numbered outwards along (DX, DY), in the numbers' style, justified
// HORIZONTAL as they are, inside the view's frame, on their side of the
// axis line and clear of the X and Y numbers where a place higher up is.
// Gives the lowest world height it reaches (the largest float when nothing
// was drawn).
float gs_3d_axis_label(float x, float y, float z, float z_other, float dx, float dy,
                       int horizontal, std::string_view text, Status& status);
// While it lives, the texts of the 3-D axes stand below TOP (world units of
// the transform in force): a heading held under the frame's top edge, over
// an axis that runs past it, keeps its place clear of the numbers.
class Gs3dNumbersBelow {
 public:
  explicit Gs3dNumbersBelow(float top);
  ~Gs3dNumbersBelow();
  Gs3dNumbersBelow(const Gs3dNumbersBelow&) = delete;
  Gs3dNumbersBelow& operator=(const Gs3dNumbersBelow&) = delete;

 private:
  float before_;
};

// While it lives, the numbers of a view's X and Y axes (and their power of
// ten) keep clear of the plates of the height numbers, which are drawn over
// them: measured first (measure(true): the axes are placed, nothing drawn),
// the height numbers leave out any whose plate would cover one of them,
// keeping two where the Z axis shows a length; where no two can keep clear,
// the X or Y numbers under their plates are left out when drawn.
class Gs3dAxisNumbers {
 public:
  Gs3dAxisNumbers();
  ~Gs3dAxisNumbers();
  Gs3dAxisNumbers(const Gs3dAxisNumbers&) = delete;
  Gs3dAxisNumbers& operator=(const Gs3dAxisNumbers&) = delete;
  void measure(bool on) { measuring = on; }

  bool measuring = false;
  // Only the numbers of the axes are drawn (their lines and ticks were).
  bool numbers_only = false;
  // The room each X or Y number keeps clear, with its axis (1 or 2; 0 for
  // a power of ten).
  struct Room {
    int axis = 0;
    GsRect box;
    GsRect plate;  // the number's own plate
  };
  std::vector<Room> xy_room;
  std::vector<GsRect> z_plates;  // the plates of the height numbers measured

 private:
  Gs3dAxisNumbers* before_;
};

// The region as stacked row profiles, hidden parts removed; rows longer than
// MAXWORK points are refused.
void GS_3DHIDELINES(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, float zmin, float zmax,
                    float zdivisor, Index maxwork, Status& status);

// The region painted (through the raster) into the projection of the 3-D
// rectangle with corners 1 (first element), 2 (start of the last row) and 3
// (far corner), MINIMUM..MAXIMUM onto the image colours.
void GS_3DRMCELLARRAY(bool mask_on, float x1, float y1, float z1, float x2, float y2, float z2,
                      float x3, float y3, float z3, Index xmaxdat, Index ymaxdat, Index xstrelm,
                      Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                      std::span<const std::uint8_t> mask, float minimum, float maximum,
                      int mask_colour, Status& status);

// ---- Surface and line views ----
// The heights of a logarithmic surface over the intensity range MINIMUM to
// MAXIMUM, in powers of ten: LOW to HIGH. A minimum not above zero starts
// six decades below the maximum, at the latest at 1. False when the maximum
// is not above zero. The viewer scales its heights by the same range, so
// that the logarithmic box is as tall as the linear one.
bool gs_3d_log_heights(float minimum, float maximum, float& low, float& high);
// The range of heights a 3-D view of data from MINIMUM to MAXIMUM stands
// in: a flat range (a constant image) widened as its image's colour range
// is, so that the plane stands half way up a box whose Z axis gives its
// value; logarithmic heights in powers of ten (gs_3d_log_heights). False
// when logarithmic heights have no maximum above zero.
bool gs_3d_height_range(bool log, float& minimum, float& maximum);

// What a drawing of a region is made of: cells with four corners (a
// contour map; a 3-D surface, of the blocks its pixel limit averages), or
// pieces of line between neighbours of a row (3-D lines).
enum class GsDrawing { kContour, kSurface, kLines };
// Says "WARNING: Nothing can be drawn: ..." and gives true when no part of
// DRAWING has values at all its ends (bad pixels in a checkerboard hold a
// value beside none other): the drawing would be an empty frame.
bool gs_say_nothing_drawable(GsDrawing drawing, Index xmaxdat, Index ymaxdat,
                             std::span<const float> data, Index xstrelm, Index ystrelm,
                             Index xendelm, Index yendelm, Status& status);

// Says "WARNING: Logarithmic scaling demanded of data which is all below
// zero !" and gives true when a 3-D surface of the region under
// logarithmic heights would have no height above zero (GS_3SURFACE fails
// there): a choice of logarithmic heights the data cannot take.
bool gs_say_no_log_heights(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                           Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                           Status& status);

void GS_3DSURFACE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                  std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                  std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                  Status& status);
void GS_3SURFACE(float rotation, float elevation, float z_scale, Index xmaxdat, Index ymaxdat,
                 std::span<const float> data, std::span<const float> xaxis,
                 std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, Status& status);
// Cell (IX, IY) (1-based lower corner) of the XNUM x YNUM averaged HEIGHTS.
void GS_3DSUB(float z_scale, Index xnum, Index ynum, std::span<const float> heights,
              std::span<const float> xcells, std::span<const float> ycells, Index ix, Index iy,
              bool lines, bool z_colours, bool fill, float levels_per_unit, int first_colour,
              int last_colour, Status& status);
// The part of the triangle X, Y, Z whose height lies in Z_LOW..Z_HIGH.
void GS_3DSUB1(const float (&x)[3], const float (&y)[3], const float (&z)[3], float z_low,
               float z_high, Status& status);

void GS_3DLINES(bool hidden, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                Status& status);
void GS_3DYAXIS(float x1, float y1, float x2, float y2, float value_start, float value_end,
                int tick_side, bool enumerate, int number_side, std::string_view label,
                Status& status);

}  // namespace kesta
