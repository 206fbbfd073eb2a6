#pragma once
// The in-memory raster renderer of raster mode: lines, convex polygons and
// masked image patches painted into a byte raster of colour indices, in
// drawing order (later paint covers earlier paint), plus the integer
// triangle scan routines that triangle rebinning also uses.
//
// The raster is RXDIM cells by RYDIM rows, one byte a cell, row by row;
// cell (i, j) is 1-based. Its stored row is j, or RYDIM - j + 1 when the
// kernel's device flag asks for the top row first. The world-to-cell scaling,
// the line colour and the fill byte come from the kernel's state.

#include <cstdint>
#include <span>

#include "core/types.hpp"

namespace kesta {

// Rows a triangle may span in the scan routines.
inline constexpr int kTriangleRows = 4096;

// Polyline of N world points in the current line colour; N < 2: 130017.
void QG_RAS_PL(int n, std::span<const float> x, std::span<const float> y, Index rxdim, Index rydim,
               std::span<std::uint8_t> raster, Status& status);
// Convex polygon of N world vertices in the fill byte; N < 3: 130017,
// N > kMaxFillPoints: 130009.
void QG_RAS_FA(int n, std::span<const float> x, std::span<const float> y, Index rxdim, Index rydim,
               std::span<std::uint8_t> raster, Status& status);
// Data region XSTART..XEND x YSTART..YEND painted into the quadrilateral of
// world corners 1 (first element), 2 (end of first row), 3 (far corner),
// 4 (start of last row), linearly between MIN and MAX onto the image range.
void QG_RAS_3DMIMAGE(bool masked, float minimum, float maximum, float x1, float y1, float x2,
                     float y2, float x3, float y3, float x4, float y4, Index xdim, Index ydim,
                     Index xstart, Index ystart, Index xend, Index yend,
                     std::span<const float> data, std::span<const std::uint8_t> mask,
                     int mask_colour, Index rxdim, Index rydim, std::span<std::uint8_t> raster,
                     Status& status);

// Integer vertices reordered by increasing Y; equal Y keep their order.
void QG_RAS_ORDERY(int x1, int y1, int x2, int y2, int x3, int y3, int& xa, int& ya, int& xb,
                   int& yb, int& xc, int& yc);
// Leftmost and rightmost cell of each row YA..YC of a Y-ordered triangle into
// XMIN(k), XMAX(k) (0-based k = row - YA). More rows than MAXROWS (or than
// the arrays hold): STATUS 37.
void QG_RAS_TRIXLIMITS(int xa, int ya, int xb, int yb, int xc, int yc, int maxrows,
                       std::span<int> xmin, std::span<int> xmax, Status& status);
// One edge traced into LIMITS (row y into entry y - YBASE, 0-based).
void QG_RAS_TRILINE(int x1, int y1, int x2, int y2, bool left, int ybase, int maxrows,
                    std::span<int> limits);
// X at which y = SLOPE x + INTERCEPT meets height Y (vertical lines carry
// their X as the intercept).
float QG_RAS_XINTER(float slope, float intercept, float y);

}  // namespace kesta
