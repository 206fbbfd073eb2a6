#pragma once
// Rigid motions of the plane (rotation by ANGLE radians, anticlockwise, about
// a centre, then a shift): the point formula, the motion that best maps two
// input points onto two output points, and the image entry that sends each
// case to the cheapest exact method (pure shift, quarter turn, or general
// rotation by triangle rebinning).

#include <span>

#include "core/types.hpp"

namespace kesta {

// The image of (X, Y): rotated about (XCENTRE, YCENTRE), then shifted.
void MA_TRANSFORM(float xcentre, float ycentre, float angle, float xshift, float yshift, float x,
                  float y, float& xout, float& yout, Status& status);

// The motion taking input points 1, 2 towards output points 3, 4: centre at
// the input midpoint, ANGLE in -pi .. 2 pi, the shift between midpoints, and
// half the difference of the two segments' lengths.
void MA_CAL_2DTRANSFORMATION(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                             float y4, float& xcentre, float& ycentre, float& angle,
                             float& xshift, float& yshift, float& length_mismatch,
                             Status& status);

// Rotates the region of DATA by ANGLE about (XCENTRE, YCENTRE), then shifts
// it, into the output region of OUTPUT. Refused arguments (20001, 20002,
// 20005, 20006, 20037) leave the output untouched.
void MA_2DTRANSFORM(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, float xcentre, float ycentre,
                    float angle, float xshift, float yshift, float xpixsize, float ypixsize,
                    Index xmaxout, Index ymaxout, Index oxstrelm, Index oystrelm, Index oxendelm,
                    Index oyendelm, std::span<float> output, Status& status);

// Pure shift: whole shifts move elements exactly (every output element is
// written); otherwise each element is shared bilinearly over the four output
// elements its shifted square overlaps. The pixel sizes are not used.
void MA_2DTRANSLATE(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, float xshift, float yshift,
                    float xpixsize, float ypixsize, Index xmaxout, Index ymaxout, Index oxstrelm,
                    Index oystrelm, Index oxendelm, Index oyendelm, std::span<float> output,
                    Status& status);

}  // namespace kesta
