#pragma once
// Geometric operations that keep the pixel grid aligned with the axes: block
// rebinning by whole factors, the extremes a block rebinning would give,
// mirror flips in place, transposition, and flux-conserving magnification.
//
// Element x covers pixel coordinates x - 1 to x (centre x - 0.5), likewise in
// Y. Every routine takes STATUS last, returns at once when it is bad, and
// changes nothing when it refuses its arguments: 20001/20002 bad declared
// size, 20005/20006 region outside an array (start below 1 included),
// 20009/20010 rebinned output does not fit, 20017/20018 bad bin factor,
// 20021/20022 scale out of range, 20037 an array span shorter than its
// declared size needs, 20038 transposed output does not fit.

#include <span>

#include "core/types.hpp"

namespace kesta {

// Block sums (or means when AVERAGE) of XBIN x YBIN elements of the region,
// written from (OXSTRELM, OYSTRELM) on. The output ends are returned even when
// the output does not fit. Elements left over at the high ends of the region
// (less than a whole block) are ignored; a region narrower than one block
// leaves an empty output region, which is refused (20005/20006).
void MA_RREBIN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
               Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin, bool average,
               Index oxstrelm, Index oystrelm, Index xmaxout, Index ymaxout,
               std::span<float> output, Index& oxendelm, Index& oyendelm, Status& status);

// Block means of XBIN x YBIN elements of the region over each block's finite
// elements, written from (1, 1) on (the binned 3-D view): a NaN or infinite
// element takes no part, so one bad pixel does not spoil its block. A block
// without a finite element keeps its plain mean (NaN, or an infinity when
// it holds infinities of one sign only). Checks and codes as MA_RREBIN.
void ma_finite_block_means(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                           Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, Index xbin,
                           Index ybin, Index xmaxout, Index ymaxout, std::span<float> output,
                           Index& oxendelm, Index& oyendelm, Status& status);

// Largest / smallest / both block means over the whole blocks of the region,
// each the mean of its block's finite elements as ma_finite_block_means
// gives it. A block without a finite element takes no part; without a
// finite block the start values stay (MAXIMUM -1.7e38 < MINIMUM 1.7e38).
// A bin factor below 1 or above the region's size gives 20017 (X), 20018 (Y).
void MA_REBINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin,
                 float& maximum, Status& status);
void MA_REBINMIN(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin,
                 float& minimum, Status& status);
void MA_REBINMINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, Index xbin, Index ybin,
                    float& minimum, float& maximum, Status& status);

// Mirrors the region in place: left to right when LEFT_RIGHT, else top to
// bottom.
void MA_RFLIP(bool left_right, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, std::span<float> array, Status& status);

// OUT(y, x) = IN(x, y) over the region; the output region (YSTRELM, XSTRELM)
// to (YENDELM, XENDELM) is returned.
void MA_RTRANSPOSE(Index xmaxin, Index ymaxin, std::span<const float> in, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, Index xmaxout, Index ymaxout,
                   std::span<float> out, Index& oxstrelm, Index& oystrelm, Index& oxendelm,
                   Index& oyendelm, Status& status);

// The region magnified by XSCALE, YSCALE (1.0e-5 .. 10) about (XCENTRE,
// YCENTRE) into the cleared output region; each input element is shared over
// the output elements it overlaps by area, so the intensity that lands inside
// the output region is conserved.
void MA_RSCALE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
               Index ystrelm, Index xendelm, Index yendelm, float xscale, float yscale,
               float xcentre, float ycentre, Index oxstrelm, Index oystrelm, Index oxendelm,
               Index oyendelm, Index xmaxout, Index ymaxout, std::span<float> output,
               Status& status);

}  // namespace kesta
