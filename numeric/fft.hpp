#pragma once
// Fast Fourier transforms of real data whose lengths are powers of two, in
// place and in single precision.
//
// Packing of a real transform of length N (1-based elements): element 1 holds
// F(0), element 2 holds F(N/2), elements 2k + 1 and 2k + 2 the real and
// imaginary parts of F(k), k = 1 .. N/2 - 1, where
// F(k) = sum over n of x(n) exp(+2 pi i n k / N). Analysis is unnormalised;
// synthesis of an analysed sequence returns N times the sequence.
//
// The twiddle table holds (cosine, sine) pairs of the roots of unity; a
// transform of N points needs the table built by MA_EXPNT with L = 2N.
//
// ORDER false lets a transform that is only ever undone by the matching
// inverse skip reordering work: the Y transforms then leave the lines of all
// but the first complex column in bit-reversed order. The 1-D pair always
// returns the natural order.

#include <span>

#include "core/types.hpp"

namespace kesta {

// Fills L/2 (cosine, sine) pairs of the (L/2)-th roots of unity into TABLE,
// computing every STRIDE-th pair directly and rotating in between.
// MAXTAB < 1 gives 20001, L above MAXTAB 20005, STRIDE < 1 20017.
void MA_EXPNT(Index maxtab, Index l, Index stride, std::span<float> table, Status& status);

// In-place real analysis of DATA(1 .. N).
void MA_FFA8(Index maxdat, Index n, Index maxtab, std::span<const float> table, bool order,
             std::span<float> data, Status& status);

// In-place real synthesis: the inverse of MA_FFA8 up to the factor N.
void MA_FFS8(Index maxdat, Index n, Index maxtab, std::span<const float> table, bool order,
             std::span<float> data, Status& status);

// Forward 2-D transform of DATA(1 .. NX, 1 .. NY): real along X over the first
// NROWS lines (lines beyond must hold zeros), complex along Y. Column pair
// (1, 2) holds the separated Y transforms of the X frequencies 0 and NX/2.
// XTABLE holds at least 2 XMAXDAT reals, YTABLE 2 YMAXDAT; unless TABLES_DONE
// they are built here, and TABLES_DONE is set true on success. NX must be at
// least 2.
void MA_2DFRFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, Index nrows, bool order,
                bool& tables_done, std::span<float> xtable, std::span<float> ytable,
                std::span<float> data, Status& status);

// Inverse of MA_2DFRFFT, divided by NX x NY.
void MA_2DIHFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool order, bool& tables_done,
                std::span<float> xtable, std::span<float> ytable, std::span<float> data,
                Status& status);

// Real analysis along X of each of the first NROWS lines.
void MA_FRCLFFT(Index xmaxdat, Index ymaxdat, Index nx, Index nrows, bool order,
                std::span<const float> xtable, std::span<float> data, Status& status);

// Real synthesis along X of each of the NY lines.
void MA_IHCLFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool order,
                std::span<const float> xtable, std::span<float> data, Status& status);

// Complex transforms along Y of the NX/2 column pairs (2k - 1, 2k), forward
// (positive exponent) and inverse (negative exponent, unnormalised).
void MA_FROWFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool order,
                std::span<const float> ytable, std::span<float> data, Status& status);
void MA_IROWFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool order,
                std::span<const float> ytable, std::span<float> data, Status& status);

// True when N is 2 to the power of some M >= 0.
constexpr bool is_power_of_two(Index n) { return n >= 1 && (n & (n - 1)) == 0; }

}  // namespace kesta
