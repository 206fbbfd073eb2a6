#pragma once
// Rotation, reflection and rigid motion of an image region into an output
// region, conserving the intensity that lands inside the output region. Three
// techniques: sub-pixel sampling (each element cut into XSUB x YSUB parts
// placed one by one), triangle rebinning (each element's mapped square cut into
// two triangles shared out by exact area, see numeric/trirebin.hpp), and
// quarter turns moved exactly or shared bilinearly for fractional offsets.
//
// Element x covers x - 1 to x (centre x - 0.5), likewise in Y. Every image
// routine checks both arrays' sizes (20001, 20002), the input region and the
// output region (20005, 20006) and the spans (20037) before it clears the
// output region and adds into it.

#include <span>

#include "core/types.hpp"

namespace kesta {

// The most sub-pixel samples one sub-pixel rotation or reflection may place
// (width x height x XSUB x YSUB): some seconds of work. The shared limit of
// the numerical library is far higher, for convolutions; a rotation asking
// for more than this is refused with the count's own code (17 X, 18 Y).
inline constexpr Index kMaxRotationWork = Index{1} << 31;

// Mirror image of (X, Y) in the line through (X1, Y1) and (X2, Y2); two equal
// points give 20021.
void MA_REFLECT(float x1, float y1, float x2, float y2, float x, float y, float& xout,
                float& yout, Status& status);

// Rotation by ANGLE radians about (XCENTRE, YCENTRE), then the shift, by
// sub-pixel sampling; XSUB < 1 gives 20017, YSUB < 1 20018.
void MA_RROTATE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                float angle, float xshift, float yshift, Index xsub, Index ysub, Index xmaxout,
                Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm, Index oyendelm,
                std::span<float> output, Status& status);

// Reflection in the line through (X1, Y1), (X2, Y2): sub-pixel sampling when
// XSUB and YSUB are both above 0, triangle rebinning when either is 0; a
// negative XSUB gives 20017, YSUB 20018.
void MA_RREFLECT(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, float x1, float y1, float x2,
                 float y2, Index xsub, Index ysub, Index xmaxout, Index ymaxout, Index oxstrelm,
                 Index oystrelm, Index oxendelm, Index oyendelm, std::span<float> output,
                 Status& status);

// Rotation and shift of MA_TRANSFORM by triangle rebinning; elements too large
// to share are reported in warning lines. XSUB and YSUB are not read.
void MA_RTRANSFORM(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                   float angle, float xshift, float yshift, Index xsub, Index ysub, Index xmaxout,
                   Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm, Index oyendelm,
                   std::span<float> output, Status& status);

// General rotation by triangle rebinning; Y offsets from the centre are scaled
// by YPIXSIZE / XPIXSIZE. Pixel sizes not above 0 give 20021.
void MA_2DROTATE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                 float angle, float xshift, float yshift, float xpixsize, float ypixsize,
                 Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                 Index oyendelm, std::span<float> output, Status& status);

// Rotation by the nearest whole number of quarter turns to ANGLE: an exact
// move when centre and shifts are whole, else bilinear sharing of the
// fractional offsets. A count of 0 (mod 4) is the pure shift of
// MA_2DTRANSLATE. Non-square pixels go to MA_SUB2DROT90.
void MA_2DROTATE90(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                   float angle, float xshift, float yshift, float xpixsize, float ypixsize,
                   Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                   Index oyendelm, std::span<float> output, Status& status);

// Quarter turns (QUARTER_TURNS 1, 2 or 3, else 20017) for non-square pixels:
// each element becomes a band of output elements YPIXSIZE / XPIXSIZE wide and
// XPIXSIZE / YPIXSIZE high, shared by overlap. Adds into the output region
// without clearing it.
void MA_SUB2DROT90(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                   int quarter_turns, float xshift, float yshift, float xpixsize, float ypixsize,
                   Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                   Index oyendelm, std::span<float> output, Status& status);

}  // namespace kesta
