#pragma once
// The Z-SCALING sub-menu: how image intensities map onto the colour range.
// It redraws the image after each change and keeps the result in the
// defaults database ("Z_SCALING_*" keys).

#include <cstdint>
#include <span>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// The image-display arguments of the calling menu (as for the masked plot;
// an empty MASK draws without one), then CLICK_MODE with the page position
// (X, Y) of the first click when opened from the colour scale bar.
void KZT_GUI_ZSCALE(Index xmaxdat, Index ymaxdat, std::span<const float> data,
                    std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                    std::span<const float> yaxis, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::string_view title, std::string_view xlabel,
                    std::string_view ylabel, std::string_view zlabel, bool click_mode, float x,
                    float y, Status& status);

}  // namespace kesta

namespace kesta {

// The display value at page X along the colour scale bar B1..B2 drawn for
// MINIMUM..MAXIMUM, linear or logarithmic as the image scaling.
float kzt_zscale_bar_value(float x, float b1, float b2, float minimum, float maximum, bool log);

// The effect of one nudge button ("+ MAXIMUM", "- MAXIMUM", "+ MINIMUM",
// "- MINIMUM") on the range; false for any other text.
bool kzt_zscale_nudge(std::string_view button, float& minimum, float& maximum);

}  // namespace kesta
