#pragma once
// The read-out of a click beside the menu buttons on the displayed data:
// pixel numbers, value and d-spacing of an image, X and Y of a graph; a click
// on the colour scale bar opens the z-scaling sub-menu instead.

#include <span>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// X, Y: the click in world (data) coordinates as the menu wait returned it.
// UPDATE_IMAGE and UPDATE_MENU are set false on entry; UPDATE_MENU becomes
// true when the z-scaling sub-menu ran, so the caller draws its menu again.
void KZT_CLICK(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::string_view title, std::string_view xlabel,
               std::string_view ylabel, std::string_view zlabel, float x, float y,
               float xpixsize, float ypixsize, bool& update_image, bool& update_menu,
               Status& status);

}  // namespace kesta
