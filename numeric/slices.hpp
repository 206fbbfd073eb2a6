#pragma once
// One-dimensional profiles from images: straight and circular-arc slices, the
// projection of a rotated strip onto its long axis, and azimuthally averaged
// radial profiles.
//
// Point coordinates are pixel coordinates: element x covers x - 1 to x, so a
// point p falls in element (integer part of p) + 1. Each profile comes with
// POSITIONS(i) = i - 0.5 (in steps or bins). A profile cut to the length of
// its arrays sets TRUNCATED to 1 (0 otherwise); that is not a failure.
// Refused arguments leave the outputs unchanged: 20001/20002 bad size,
// 20005/20006 bad region, 20017 bad mode, 20021/20022 a point outside the
// image or a degenerate length, 20037 an array span shorter than its declared
// size needs, 29999 an arc whose end lies on its centre.

#include <cstdint>
#include <span>

#include "core/types.hpp"

namespace kesta {

// Both slices sample the image of XNUMDAT x YNUMDAT elements held in the
// XMAXDAT x YMAXDAT arrays (an extent beyond the arrays gives 20005/20006),
// never the arrays beyond it.
//
// Samples at unit spacing from (XSTART, YSTART) towards (XEND, YEND), the
// first half a step from the start; no interpolation. With VARIANCES_EXIST
// ERRORS holds the square roots of the sampled variances. SPARE_FLAG has no
// effect. An end outside the image is refused (20021 in X, 20022 in Y).
void MA_SLICE(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
              std::span<const float> data, std::span<const float> variances, float xstart,
              float ystart, float xend, float yend, bool spare_flag, bool variances_exist,
              Index maxslice, int& truncated, Index& number, std::span<float> positions,
              std::span<float> profile, std::span<float> errors, Status& status);

// Samples at unit spacing along the arc of the circle about (XCENTRE,
// YCENTRE) from point 1 through point 2 to point 3, starting at point 1. A
// first or last point outside the image is refused (20021 in X, 20022 in Y);
// an arc that leaves the image by a pixel or more ends there, with one line
// naming the edge it left through.
void MA_ARCSLICE(Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                 std::span<const float> data, std::span<const float> variances, float x1,
                 float y1, float x2, float y2, float x3, float y3, float xcentre, float ycentre,
                 bool spare_flag, bool variances_exist, Index maxslice, int& truncated,
                 Index& number, std::span<float> positions, std::span<float> profile,
                 std::span<float> errors, Status& status);

// Projection of the strip bounded by the quadrilateral XVERTICES(1..4),
// YVERTICES(1..4) (the fifth vertex repeats the first) onto the axis from
// vertex 1 to vertex 2, in bins of BIN_SIZE physical units; each element counts
// as a disc of the mean pixel area. XSTRELM..XENDELM and lines up to YENDELM
// limit the elements taken (YSTRELM, VARIANCES and SPARE_FLAG are not read).
// Each bin holds the weighted mean of the values; PROFILE_VARIANCES gains the
// weighted sum of their squares (the caller clears it). Elements that are
// not finite numbers add neither value nor weight (a bin none reached holds
// 0 with weight 0). A non-positive bin or pixel size gives 20021, an axis of
// zero length 20022.
void MA_PROJECTION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, std::span<const float> variances,
                   float xpixsize, float ypixsize, std::span<const float> xvertices,
                   std::span<const float> yvertices, bool spare_flag, bool variances_wanted,
                   float bin_size, Index maxproj, int& truncated, Index& number,
                   std::span<float> positions, std::span<float> profile,
                   std::span<float> profile_variances, std::span<float> weights, Status& status);

// The element centres of a strip: those inside it, and those a projection
// used (finite and not masked).
struct StripPixels {
  Index inside = 0;
  Index used = 0;
};

// MA_PROJECTION leaving out the elements MASK marks as well (an empty MASK,
// or one of XMAXDAT x YMAXDAT bytes), and counting the strip's element
// centres into PIXELS.
void ma_strip_projection(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, std::span<const float> data,
                         std::span<const float> variances, std::span<const std::uint8_t> mask,
                         float xpixsize, float ypixsize, std::span<const float> xvertices,
                         std::span<const float> yvertices, bool spare_flag, bool variances_wanted,
                         float bin_size, Index maxproj, int& truncated, Index& number,
                         std::span<float> positions, std::span<float> profile,
                         std::span<float> profile_variances, std::span<float> weights,
                         StripPixels& pixels, Status& status);

// Azimuthal average of the unmasked elements of the region about (XCENTRE,
// YCENTRE), in bins of BIN_WIDTH (units of XAXIS, YAXIS). An empty MASK masks
// nothing; NaN and infinite elements are left out as masked ones are. Bin i
// holds the radii from (i - 1) to i BIN_WIDTH and RADII(i) = (i - 0.5)
// BIN_WIDTH is their middle: MODE 0 puts each element into the bin its radius
// lies in (integer part of r / BIN_WIDTH, plus 1), MODE 1 shares it between
// the two bins whose middles lie either side of it. Elements beyond the last
// bin (MODE 0) or its middle (MODE 1) are left out and said once. A
// non-positive BIN_WIDTH gives 20021.
void MA_RADIAL(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::span<const std::uint8_t> mask,
               bool variances_wanted, float xcentre, float ycentre, float bin_width, int mode,
               Index maxbins, std::span<float> radii, std::span<float> profile,
               std::span<float> profile_variances, std::span<float> weights, Status& status);

}  // namespace kesta
