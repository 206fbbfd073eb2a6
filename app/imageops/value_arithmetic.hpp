#pragma once
// Value operations on the active data region of the current data, in place:
// constant addition, multiplication and division, division by the memory,
// base-10 logarithm, normalisation to the maximum, powers, thresholds,
// conditional operations on selected pixels, and the offset and scale
// between the current data and the memory. Each asks its questions first
// (offering the answers of last time) and changes the data last; variances
// follow where the operation defines how.

#include <span>
#include <string>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// The first-order factor of the variance of a base-10 logarithm: (log10 e)^2.
inline constexpr float kLog10VarianceFactor = 0.18861649f;

void KZT_CADD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, std::span<float> data, Status& status);
void KZT_CMULT(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, bool variances_exist, std::span<float> data,
               std::span<float> variances, Status& status);
void KZT_CDIV(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, bool variances_exist, std::span<float> data,
              std::span<float> variances, Status& status);
// DATA / MDATA; where MDATA is 0.0 the data (and variances) become
// -1.7014117e38 and STATUS ends with the divide-by-zero code.
void KZT_DIVIDE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, bool variances_exist, std::span<const float> mdata,
                std::span<const float> mvariances, std::span<float> data,
                std::span<float> variances, Status& status);
// Values not above 1.0e-37 make it ask for a lower threshold first, so an
// escape changes nothing.
void KZT_LOGARITHM(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, bool variances_exist, std::span<float> data,
                   std::span<float> variances, Status& status);
void KZT_NORMALISE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, bool variances_exist, std::span<float> data,
                   std::span<float> variances, Status& status);
// The variances are passed but not changed.
void KZT_POWER(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
               Index xendelm, Index yendelm, bool variances_exist, std::span<float> data,
               std::span<float> variances, Status& status);
void KZT_THRESHOLD(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, std::span<float> data, Status& status);
void KZT_SELECTPIXEL(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                     Index yendelm, std::span<float> data, Status& status);
// Writes the scale factor and offset between DATA and MDATA; changes neither.
void KZT_OFFSET(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::span<const float> data, std::span<const float> mdata,
                Status& status);

// The keyboard branches (see KztCommand).
void kzt_command_cadd(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_cmultiply(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_cdivide(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_divide(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_logarithm(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_normalise(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_power(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_threshold(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_selectpixel(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_offset(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
