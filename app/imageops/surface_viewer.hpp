#pragma once
// The interactive 3-D surface viewer: the active data region as a shaded
// surface that the user turns, tilts, moves, zooms and stretches from a
// menu; its drawing-style menu; and the rows of a region drawn one after
// the other as x/y graphs. The graphics system draws the view; this module
// owns the viewing parameters and their steps.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

struct KztDataSets;

// Where the viewer looks from. Angles in radians.
struct Kzt3dView {
  float cx = 0.0f, cy = 0.0f, cz = 0.0f;  // offsets that centre the region
  float d = 1.0f;                         // half size of the window
  float zs = 1.0f;                        // Z scale
  float longitude = 0.5236f, latitude = 1.047197f;
};

// Z scale D / (ZMAX - ZMIN), or with LOG over the decades of
// max(ZMAX, 1.0) and max(ZMIN, 0.1); an empty range gives D.
float kzt_3d_zscale(float d, float zmin, float zmax, bool log);
// Centre, half size and Z scale of the region (the angles left alone).
void kzt_3d_frame(std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, float zmin, float zmax, bool log,
                  Kzt3dView& view);
// The step of one viewer button (+ROT., -ROT., +ELEV., -ELEV., +ZOOM,
// -ZOOM, LEFT, RIGHT, UP, DOWN, STEEPER, FLATTER); false for any other.
bool kzt_3d_step(std::string_view button, Kzt3dView& view);
// Log scaling switched on (TO_LOG) or off, keeping the steepness relative
// to the scale of the new mode.
void kzt_3d_switch_log(bool to_log, float zmin, float zmax, Kzt3dView& view);

// Says "WARNING: No finite data value in the region to PURPOSE" and gives
// true when the region holds no finite value: nothing is drawn for it then
// (no empty frame or graph, no menu waiting under one).
bool kzt_no_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                         Index ystrelm, Index xendelm, Index yendelm, std::string_view purpose,
                         Status& status);
// The same for the viewer and the graph of its rows ("draw as a 3-D surface").
bool kzt_3d_no_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                            Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                            Status& status);
// Says "WARNING: No finite data value in row Y to plot" and gives true when
// row Y holds no finite value from XSTRELM to XENDELM: a graph drawn a row at
// a time leaves out that row alone (the region's own check comes first).
bool kzt_row_without_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                                  Index xstrelm, Index xendelm, Index y, Status& status);
// For the graph of the region's first row: true (said) when the region has
// no finite value ("... in the region to plot") or else that row has none.
bool kzt_no_first_row_graph(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                            Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                            Status& status);
// The viewer on the active data region; sets GRAPHICS_KIND to "3-d surface".
void KZT_3DSURFACE(std::string& graphics_kind, Index xmaxdat, Index ymaxdat,
                   std::span<const float> data, std::span<const float> xaxis,
                   std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::string_view title, std::string_view xlabel,
                   std::string_view ylabel, std::string_view zlabel, Status& status);
// The style menu; limits apply only with NORMAL_UPDATING.
void KZT_3DSTYLE(bool normal_updating, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                 std::span<const float> xaxis, std::span<const float> yaxis, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, std::string_view title,
                 std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                 Status& status);
// Each row of the region as an x/y graph, interactively or plainly, asking
// "CONTINUE" before each further row that is drawn.
void KZT_XYGRAPH(bool interactive, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, std::span<const float> data,
                 std::span<const float> variances, std::span<const float> xaxis,
                 std::span<const float> yaxis, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, std::string_view zlabel, Status& status);

// Says "WARNING: Nothing drawn: ..." for a region of one or two rows that
// does not start at row 1, of which no graph is drawn.
void kzt_say_rows_not_drawn(Status& status);

// 3-D SURFACE PLOT: the viewer for a region of three rows or more, the row
// graphs for a lower one starting at row 1, otherwise nothing.
void kzt_command_3dsurface(KztDataSets& sets, std::string& graphics_kind, Status& status);

}  // namespace kesta
