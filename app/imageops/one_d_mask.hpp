#pragma once
// The mask menu of 1-D data ("FIT: MASK MENU" on a single row): rectangles
// of points masked or un-masked on the drawn curve, zooming, click read-out.

#include <cstdint>
#include <span>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// KZT_MASK's arguments, then an optional prompt line shown above the menu.
// On return XSTRELM..XENDELM is the X range shown after any zooming.
void KZT_1DMASK(bool gui, Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                std::span<const float> data, std::span<const float> xaxis,
                std::span<const float> yaxis, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, std::string_view zlabel, float x_pixel_size,
                float y_pixel_size, Index& xstrelm, Index& ystrelm, Index& xendelm,
                Index& yendelm, std::span<std::uint8_t> mask, Status& status,
                std::string_view prompt = {});

}  // namespace kesta
