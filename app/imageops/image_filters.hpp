#pragma once
// Smoothing and sharpening filters of the active data region: median,
// top-hat box mean (with the variance of the mean) and a 3 x 3 spatial
// kernel. Each writes its result into the memory arrays over the same region
// and leaves the current data as it was; the keyboard branch then describes
// the memory result and proposes EXCHANGE.

#include <array>
#include <span>
#include <string>

#include "core/types.hpp"

namespace kesta {

struct KztDataSets;

// The 3 x 3 kernel of SPATIAL FILTERING: element (x, y), x and y 1..3, is
// kernel[(x - 1) + 3 (y - 1)]; the centre is (2, 2).
using SpatialKernel = std::array<float, 9>;

// The built-in kernel of a low-pass or high-pass TYPE 1..3 (each sums to 1).
SpatialKernel kzt_spatial_kernel(bool low_pass, int type);

// Asks the window sizes (1 up to the region's width and height) and writes
// the median of the window about every element, clipped at the region's
// edges, into MDATA. Variances are not filtered. GUI true (the graphical
// interfaces) asks on the terminal too until the graphical prompts exist.
void KZT_MEDIANFILTER(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                      Index xendelm, Index yendelm, std::span<const float> data,
                      std::span<float> mdata, Status& status);

// Asks the box widths (1 up to the array sizes) and writes the mean over the
// box about every element, clipped at the region's edges, into MDATA; with
// variances the variance of that mean (the box sum of variances over the
// square of the number of pixels averaged) into MVARIANCES.
void KZT_BLUR(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, bool variances_exist, std::span<const float> data,
              std::span<const float> variances, std::span<float> mdata, std::span<float> mvariances,
              Status& status);

// Asks low-pass or high-pass and the filter type (4: the nine coefficients
// one by one) and convolves the region with the 3 x 3 kernel into MDATA.
void KZT_SPATIALFILTER(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, std::span<const float> data, std::span<float> mdata,
                       Status& status);

// Keyboard branches: the filter on the program arrays, then the memory
// result described over the active data region.
void kzt_medianfilter_command(KztDataSets& sets, std::string& next, Status& status);
void kzt_blur_command(KztDataSets& sets, std::string& next, Status& status);
void kzt_spatialfilter_command(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
