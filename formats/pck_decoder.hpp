#pragma once
// Decoder of images stored in the CCP4 packed scheme (version 1), read from
// the open input stream of the stream layer (formats/fio_stream.hpp).
//
// Stream: text lines until one reads "CCP4 packed image, X: %04d, Y: %04d"
// (X the row length, Y the number of rows); the packed bits start after that
// line's newline. Bits are taken least significant first; a value of n bits
// has its first bit as its least significant. Blocks: a 6-bit header whose
// low 3 bits give the block length 1 << k and whose next 3 bits index the
// widths {0, 4, 5, 6, 7, 8, 16, 32}; then that many residuals of that width,
// sign-extended (width 0: residual 0). Pixels are 16-bit values in row order
// v[p], p = y X + x: v[p] = v[p-1] + r for p <= X (v[-1] = 0), later
// v[p] = r + (v[p-1] + v[p-X+1] + v[p-X] + v[p-X-1] + 2) / 4 (truncating),
// kept in 16 bits. Each pixel is stored as the unsigned 16-bit value.

#include <span>

#include "core/types.hpp"

namespace kesta {

// Decodes into DATA(XMAXDAT, YMAXDAT): the first min(X, XMAXDAT) pixels of
// each of the first min(Y, YMAXDAT) rows, which become XNUM and YNUM. Two rows
// of work memory. Returns at once when no input stream is open. RETSTAT:
// 0 decoded; 1 no header line (nothing decoded); 2 work memory refused (DATA
// untouched); 3 the data end early (complete rows stored, the rest of DATA as
// it was); 4 XMAXDAT or YMAXDAT below 1 or DATA smaller than them.
void FIO_IN_PCKC(int stream_id, Index xmaxdat, Index ymaxdat, int& retstat, Index& xnum,
                 Index& ynum, std::span<float> data);

}  // namespace kesta
