#pragma once
// Plane geometry in single precision (points, lines, circles, axis arrays)
// and the two template searches that locate a peak by correlation.
//
// Pixel coordinates: element k of an axis covers pixel coordinates k - 1 to
// k, its centre is at k - 0.5; an axis array holds the data coordinate of
// each pixel centre and must increase.

#include <span>

#include "core/types.hpp"

namespace kesta {

// Data coordinate to continuous pixel coordinate along AXIS(1..NUM), with
// half a pixel of extrapolation beyond either end (clamped to 0 .. NUM).
// NUM outside 1 .. MAXDIM (or beyond the axis span) gives 20017.
void MA_DC2PIXC(Index maxdim, Index num, std::span<const float> axis, float data_coordinate,
                float& pixel_coordinate, Status& status);

// Pixel coordinate to data coordinate by linear interpolation between pixel
// centres; no extrapolation beyond AXIS(1) and AXIS(NUM).
void MA_PC2DC(Index maxdim, Index num, std::span<const float> axis, float pixel_coordinate,
              float& data_coordinate, Status& status);

// Intersection of the line through (x1, y1), (x2, y2) with the line through
// (x3, y3), (x4, y4). RESULT -1 a line is undefined, 1 the lines coincide,
// 2 parallel, 0 (x, y) is the intersection.
void MA_INTERSECT(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                  int& result, float& x, float& y, Status& status);

// Foot (x, y) of the perpendicular from (xp, yp) onto the line through
// (x1, y1), (x2, y2).
void MA_PERINTERSECT(float x1, float y1, float x2, float y2, float xp, float yp, float& x, float& y,
                     Status& status);

// Side of (x, y) relative to the directed line from point 1 to point 2:
// -999 undefined line, 0 on the line, -1 left, +1 right.
void MA_POINTVECTOR(float x1, float y1, float x2, float y2, float x, float y, int& side,
                    Status& status);

// Where the line y = slope x + intercept meets the circle of RADIUS about the
// origin: NUM_POINTS 0, 1 (x1, y1) or 2 (x1 < x2).
void MA_LINECIRCLE(float slope, float intercept, float radius, int& num_points, float& x1,
                   float& y1, float& x2, float& y2, Status& status);

// Angle 0 .. pi between two vectors; RESULT 1 (2) when the first (second)
// vector is shorter than 1.0e-36, 0 otherwise.
void MA_CAL_ANGVECTORS(float vx1, float vy1, float vx2, float vy2, int& result, float& angle,
                       Status& status);

// Turn from direction 1->2 to direction 2->3: -1 anticlockwise, 1 clockwise,
// 0 straight on or reversed; DEGENERATE when that happens because one of the
// segments has (almost) no length.
void MA_CLOCKWISE(float x1, float y1, float x2, float y2, float x3, float y3, bool& degenerate,
                  int& clockwise, Status& status);

// Circle through three points. RESULT 1 two points coincide, 2 collinear,
// 0 the centre and radius are set.
void MA_CAL_CIRCENTRE(float x1, float y1, float x2, float y2, float x3, float y3, int& result,
                      float& x_centre, float& y_centre, float& radius, Status& status);

// Exhaustive template search: for every candidate position (x, y) with
// x_first..x_last, y_first..y_last the template, centred there and clipped to
// the region, is correlated with the data; the first largest sum wins.
void MA_CENTRE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, std::span<const float> data, Index xmaxtem, Index ymaxtem,
               Index xnumtem, Index ynumtem, std::span<const float> templ, Index x_first,
               Index y_first, Index x_last, Index y_last, Index& x_best, Index& y_best,
               Status& status);

// Hill-climbing template search on a grid that splits every data pixel into
// XSUB x YSUB sub-pixels. X_POSITION, Y_POSITION (fine-grid units) are the
// start and the result; FOUND is false when the search went further than
// MAX_XSHIFT or MAX_YSHIFT fine steps from the start. BEST_VALUE is the best
// correlation met.
void MA_BESTCENTRE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, Index xmaxtem, Index ymaxtem,
                   Index xnumtem, Index ynumtem, Index xsub, Index ysub,
                   std::span<const float> templ, Index max_xshift, Index max_yshift,
                   Index& x_position, Index& y_position, bool& found, float& best_value,
                   Status& status);

}  // namespace kesta
