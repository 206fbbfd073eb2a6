#pragma once
// Inside test of a closed curve: MA_GA05A prepares the curve once, then
// MA_GA05B (arrays passed again) or MA_GA05C (the last prepared curve)
// answer for many points whether each lies inside.
//
// The result R for a point (XP, YP) is the horizontal distance to the nearest
// crossing of the line y = YP with the curve, positive when an odd number of
// crossings lie left of the point (inside), negative when even (outside), 0
// on a crossing and -1.0e38 when the line meets the curve nowhere. Callers
// treat R >= 0 as inside.
//
// MODE 1 is the polygon of straight segments between the vertices; any other
// MODE is a smooth cubic curve through them. The curve's vertex list must be
// closed (last vertex equal to the first). A preparation that fails writes
// two lines to the terminal and leaves its failure number in the first value
// of LND; every point tested against such a curve gets -1.0e38.

#include <cstdint>
#include <functional>
#include <span>

#include "core/types.hpp"

namespace kesta {

// Prepares the curve of N vertices X, Y. W is the real work array of IW
// values (callers pass 800), LND the table of LND_LENGTH pairs of 16-bit
// values (callers pass 200). For a smooth curve (MODE not 1) T receives the
// curve parameter at each vertex and XD, YD the derivatives there; they are
// not used for MODE 1 and may be empty.
void MA_GA05A(Index n, int mode, std::span<float> w, Index iw, std::span<std::int16_t> lnd,
              Index lnd_length, std::span<const float> x, std::span<const float> y,
              std::span<float> t, std::span<float> xd, std::span<float> yd);

// Tests (XP, YP) against the curve prepared by MA_GA05A in these arrays,
// which must be unchanged since. Consecutive calls with the same YP reuse the
// crossings of that line, so a whole row of pixels costs one crossing search.
void MA_GA05B(float xp, float yp, float& r, Index n, int mode, std::span<const float> w, Index iw,
              std::span<const std::int16_t> lnd, Index lnd_length, std::span<const float> x,
              std::span<const float> y, std::span<const float> t, std::span<const float> xd,
              std::span<const float> yd);

// Tests (XP, YP) against the curve last prepared by MA_GA05A.
void MA_GA05C(float xp, float yp, float& r);

// Sorts LIST(1..LENGTH) into ascending order.
void KB01A(std::span<float> list, Index length);

// A zero of F on [A, B] by bisection to half-width TOLERANCE in at most
// MAX_ITERATIONS halvings. Returns 1 when F shows no change of sign between
// A and B, 2 when ZERO holds a zero, 3 when the iteration limit was reached
// (ZERO then holds the last midpoint).
int NB01A(const std::function<double(double)>& f, double a, double b, double tolerance,
          int max_iterations, double& zero);

}  // namespace kesta
