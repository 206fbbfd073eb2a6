#pragma once
// Operations on a 1-D scan (one row of the current data): the transform of
// an intensity-versus-q scan into powers and logarithms, and the rescaling
// by a factor that varies linearly along X.

#include <span>
#include <string>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// [LOG] I**A * q**B against [LOG] q**C, integer powers.
struct OneDTransform {
  int a = 1, b = 0, c = 1;
  bool log_i = false, log_x = false;
};

// Transforms the points of a scan in place: Q the X values, I the values.
// A power of zero that would be infinite becomes 1.7e38; a logarithm of a
// value at or below 1e-30 (intensities) or 1e-10 (q) becomes -30 or -10.
void kzt_1d_transform(const OneDTransform& t, std::span<float> q, std::span<float> intensity);

// The form "CONTROL OF TRANSFORMATION TO INTENSITY", then the transform of
// the region's row (XAXIS and DATA). A region of more than one row is
// refused with a warning box; a cancelled form gives the user escape. True
// only when the row was transformed.
bool KZT_1DTRANSFORMS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<float> xaxis, std::span<float> data,
                      Status& status);

// 1-D INTERPOLATION: three questions, then each value of the row times
// 1 + (v - 1)(x - reference) / (scaling - reference). Data of two or more
// rows give 110017; equal reference and scaling coordinates are refused
// with a warning and change nothing.
void KZT_1DINTERPOLATE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<float> data, Status& status);

void kzt_command_1dinterpolate(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
