#pragma once
// Two image operations that combine every element with its neighbours: the
// cyclic 2-D autocorrelation of a power-of-two block by Fourier transforms,
// and the direct spatial convolution of a region with a user kernel.

#include <span>

#include "core/types.hpp"

namespace kesta {

// Replaces DATA(1 .. NX, 1 .. NY) by its cyclic autocorrelation; lines
// NROWS + 1 .. NY are taken as zero. CENTRE puts the zero lag at
// (NX/2 + 1, NY/2 + 1). NX must be at least 2.
void MA_AUTOCORRELATION(bool centre, Index xmaxdat, Index ymaxdat, Index nx, Index ny, Index nrows,
                        std::span<float> data, Status& status);

// OUTPUT(x, y) = sum of KERNEL(i, j) x DATA(x + i - 1 - OX, y + j - 1 - OY)
// over the region, terms outside the region left out (no renormalisation),
// OX = (XNUMKER - 1) / 2 and OY likewise. The kernel is not reversed.
void MA_SCONVOLUTION(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xstrelm,
                     Index ystrelm, Index xendelm, Index yendelm, Index xmaxker, Index ymaxker,
                     Index xnumker, Index ynumker, std::span<const float> kernel, Index xmaxout,
                     Index ymaxout, std::span<float> output, Status& status);

}  // namespace kesta
