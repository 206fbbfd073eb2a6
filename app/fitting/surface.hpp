#pragma once
// The 2-D Chebyshev surface fitted to the unmasked pixels of a region, and
// the small mask commands of the FIT sub-menu.

#include <array>
#include <cstdint>
#include <span>

#include "app/fitting/model.hpp"
#include "app/main/data_store.hpp"
#include "core/types.hpp"

namespace kesta {

// A fitted surface: a 40 x 40 coefficient table (X index fastest) and the
// normalisation range in axis units.
struct SurfaceFit {
  std::array<float, kSurfaceTable * kSurfaceTable> coeffs{};
  float x_min = 0.0f;
  float y_min = 0.0f;
  float x_max = 1.0f;
  float y_max = 1.0f;
};

// KZT_FITCHEBYSHEV: fits a surface of the orders to the unmasked, finite
// pixels of the region (rows of fewer than max(2, X order + 1) such pixels
// are left out). FAILURE 0 success, 1 not enough points in X, 2 not enough
// rows in Y; FIT is written only on success. The count of non-finite pixels
// left out is said on the terminal.
void KZT_FITCHEBYSHEV(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<const float> data, std::span<const float> x_axis,
                      std::span<const float> y_axis, std::span<const std::uint8_t> mask,
                      int x_order, int y_order, SurfaceFit& fit, int& failure, Status& status);

// Evaluates a fitted surface over the region of ARRAY (adding or replacing).
void kzt_surface_image(bool add, const SurfaceFit& fit, int x_order, int y_order, Index xmaxdat,
                       Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const float> x_axis, std::span<const float> y_axis,
                       std::span<float> array, Status& status);

// KZT_CHEBYSHEV: SURFACE POLYNOMIAL on the program arrays; the fitted surface
// goes into the memory (variances 0.0) and MEMORY_WRITTEN becomes true only
// then.
void KZT_CHEBYSHEV(KztDataSets& sets, bool& memory_written, Status& status);

// KZT_MASKSTATS: the counts of masked elements of the region (an empty MASK
// is no masking).
void KZT_MASKSTATS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const std::uint8_t> mask, Status& status);

// KZT_MASKMEMORY: TRANSFER MASK TO MEMORY on the program arrays.
void KZT_MASKMEMORY(KztDataSets& sets, Status& status);

// KZT_MASKCOLOUR: the colour in which masked pixels are drawn.
void KZT_MASKCOLOUR(Status& status);

}  // namespace kesta
