#pragma once
// Neighbourhood filters of an image region (median and box sum or mean),
// filling a region from a circularly symmetric radial profile, and the
// choice of a display range from the statistics of a few sample boxes.
//
// A filter box of XSIZE x YSIZE around (x, y) reaches (XSIZE - 1) / 2
// elements before x and XSIZE / 2 after it (likewise in Y) and is clipped to
// the region; the filters read DATA and write OUTPUT at the same positions,
// nothing outside the region.

#include <cstdint>
#include <span>

#include "core/types.hpp"

namespace kesta {

// Median over the clipped box. COLUMN (MAXCOLUMN reals, at least YSIZE),
// SORTED (MAXSORTED reals, at least XSIZE x YSIZE) and SOURCE (MAXSORTED)
// are the caller's work arrays. An even count gives the mean of the two
// middle values. Values are ordered as they compare, NaN above +Inf; of
// equal values the one of the rightmost column, then the topmost line, is
// taken (which decides the sign of a zero). The time does not grow with the
// box: a large box costs about the square root of the region's count a pixel.
void MA_MEDFILTER(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                  Index maxsorted, Index maxcolumn, Index xmaxout, Index ymaxout,
                  std::span<float> column, std::span<float> sorted, std::span<Index> source,
                  std::span<float> output, Status& status);

// Box sum (AVERAGE false) or box mean (AVERAGE true) over the clipped box,
// with a work line of its own.
void MA_TOPHATCON(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                  bool average, Index xmaxout, Index ymaxout, std::span<float> output,
                  Status& status);

// The same with the caller's work line WORK of MAXWORK reals (at least
// XENDELM), which receives the column sums of the last line. Running column
// sums and a line of partial sums make each output cost a constant number of
// additions whatever the box size; the sums are carried in double precision
// so that long images gather no drift from the running updates. Values that
// are not finite numbers, and values huge beside the others (1e30 among
// counts), are counted apart from the running sums: every box gives the sum
// of its own values, and a box holding none of them bears no trace of them.
void MA_TOPHAT2CON(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, Index xsize, Index ysize,
                   bool average, Index maxwork, Index xmaxout, Index ymaxout, std::span<float> work,
                   std::span<float> output, Status& status);

// The box means of the values that are not LEFT_OUT (1 in a mask of the
// data's shape: masked off, or not to be used), over the clipped box of
// XSIZE x YSIZE, given only where a box holds a value left out and the
// element itself is not left out; every other element of OUTPUT is left as
// it was. Huge values are kept apart as by MA_TOPHAT2CON. False, OUTPUT
// untouched, for arguments MA_TOPHAT2CON would refuse or when memory runs
// short.
bool ma_known_box_means(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                        std::span<const std::uint8_t> left_out, Index xstrelm, Index ystrelm,
                        Index xendelm, Index yendelm, Index xsize, Index ysize,
                        std::span<float> output);

// Adds the radial profile FUNCTION(1..NUMFUNC), sampled every BIN_WIDTH, to
// every element of the region; the radius is measured from (XCENTRE,
// YCENTRE) in pixel coordinates, scaled by XSCALE and YSCALE. MODE 0 takes
// the nearest bin, MODE 1 interpolates linearly.
void MA_SYMFUN(float bin_width, Index maxfunc, Index numfunc, std::span<const float> function,
               float xcentre, float ycentre, int mode, float xscale, float yscale, Index xmaxdat,
               Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
               std::span<float> array, Status& status);

// A display range ZMIN..ZMAX from the statistics of a central box and, for
// larger regions, quadrant and corner boxes, of their finite values; a region
// whose boxes hold none leaves ZMIN and ZMAX as they were.
void MA_DIFZSCALE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                  Index ystrelm, Index xendelm, Index yendelm, float& zmin, float& zmax,
                  Status& status);

}  // namespace kesta
