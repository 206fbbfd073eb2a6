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

namespace kesta {

// The page of help on the 1-D mask menu: a message box when GUI, else the
// terminal.
void KZT_1DMASKHELP(bool gui, Status& status);

// Sets (MASK_ON) or clears the mask of every point FIRST..LAST of a line of
// the data (point k at DATA(ORIGIN + (k - 1) * STRIDE), X at AXIS(k)) whose X
// lies between X1 and X2 and whose value, as a log10 when LOG_Y, between Y1
// and Y2 (either order, bounds included).
void kzt_1d_mask_region(std::span<const float> axis, Index first, Index last,
                        std::span<const float> data, std::span<std::uint8_t> mask, Index origin,
                        Index stride, float x1, float y1, float x2, float y2, bool log_y,
                        bool mask_on);

}  // namespace kesta
