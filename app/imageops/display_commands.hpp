#pragma once
// Commands that choose what part of the data is shown and how: the active
// data region (typed limits, the whole data, a zoom from two points), the
// intensity scaling of images, the pixel aspect switch, the display pixel
// limits and the axis scales. Each reads the current setting from the
// graphics system, asks, and stores the answer back; none draws.

#include <span>
#include <string>
#include <string_view>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// The active data region back to the whole defined data. A one-dimensional
// region (one row or column) follows the graph's automatic range switches.
void KZT_FULL(Index xnumdat, Index ynumdat, Index& xstrelm, Index& ystrelm, Index& xendelm,
              Index& yendelm, Status& status);

// Typed limits of the active data region, the current ones proposed.
void KZT_PIXELREGION(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat, Index& xstrelm,
                     Index& ystrelm, Index& xendelm, Index& yendelm, Status& status);

// The zoomed image region from two clicked points in pixel coordinates
// (either order): each point is in pixel INT(p) + 1; the region is kept
// inside 1..XNUMDAT by 1..YNUMDAT and at least two pixels wide where both
// points lie beyond one edge. Writes the "Zoom pixel region" line.
void kzt_zoom_region(float x1, float y1, float x2, float y2, Index xnumdat, Index ynumdat,
                     Index& xstrelm, Index& ystrelm, Index& xendelm, Index& yendelm,
                     Status& status);

// The graphical zoom: a new active data region from two points clicked on
// the displayed image, or from a range dragged on the graph of a single row
// or column. An escape leaves the region as it was.
void KZT_ZOOMIN(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                std::span<const float> xaxis, std::span<const float> yaxis,
                std::span<const float> data, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, std::string_view zlabel, Index& xstrelm, Index& ystrelm,
                Index& xendelm, Index& yendelm, Status& status);

// The graph page position from two clicked page corners.
void KZT_POSITION(Status& status);

// The value range of x/y graphs follows the image scaling MODE: 0 fully
// automatic, 1 the Y range fixed at MINIMUM..MAXIMUM, 2 the Y minimum fixed,
// 3 the Y maximum fixed, 4 left alone.
void kzt_graph_range_follows(int mode, float minimum, float maximum, Status& status);

// Keyboard image intensity scaling; stores the Z_SCALING keys.
void KZT_ZSCALE(Status& status);
void KZT_ASPECTRATIO(Status& status);
void KZT_DISPLAYLIMITS(Status& status);

// Axis start and increment per direction; the axes change only when every
// answer was given.
void KZT_AXESSCALES(bool gui, Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                    Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<float> xaxis, std::span<float> yaxis, Status& status);
// AXIS(i) = (i - 1) x INCREMENT + START for i = 1..NUMDAT.
void KZT_AXES(Index maxdat, Index numdat, float start, float increment, std::span<float> axis,
              Status& status);

// The keyboard branches (see KztCommand).
void kzt_command_pixelregion(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_zscale(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_aspectratio(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_displaylimits(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_axesscales(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
