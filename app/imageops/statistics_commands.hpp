#pragma once
// Summaries of intensities: the statistics of the active data region on the
// terminal, and those of the pixels inside a polygon. Both leave their
// results in internal variables beginning "##" for macros.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// Minimum, maximum, mean, sum, RMS, standard deviation and skewness of the
// region; sets ##MINIMUM, ##MAXIMUM, ##MEAN, ##RMS, ##SIGMA, ##SKEWNESS and
// ##TOTAL, or removes them when the region holds no finite value.
void KZT_STATISTICS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                    std::span<const float> data, Status& status);

// The statistics of the pixels of the region whose centres (XAXIS(i),
// YAXIS(j)) lie inside the polygon X, Y (2 points: opposite corners of a
// rectangle), as the report lines of the polygon statistics; sets ##MINIMUM,
// ##MAXIMUM, ##MEAN, ##RMS, ##SIGMA, ##TOTAL and ##INTEG_MINUS_BACK (sum
// minus n times the previous polygon's mean, which this call then replaces).
// Values that fewer than 2 pixels cannot give are 0.0. Without a finite value
// inside, those variables and ##SKEWNESS are removed and the previous mean
// is kept.
void kzt_polygon_statistics(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                            Index xendelm, Index yendelm, std::span<const float> xaxis,
                            std::span<const float> yaxis, std::span<const float> data,
                            std::span<const float> x, std::span<const float> y,
                            std::vector<std::string>& lines, Status& status);
// The polygon statistics of points clicked on the displayed image: the
// polygon is drawn, its report shown in a message box and written to the
// terminal. An escape or fewer than 2 points change nothing.
void KZT_GSTATISTICS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                     Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                     std::span<const float> data, std::string_view title,
                     std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                     Status& status);
// The previous mean back to 0.0 (a new run; tests).
void kzt_forget_polygon_mean();

void kzt_command_statistics(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
