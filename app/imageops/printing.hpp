#pragma once
// Printing draws the current picture a second time with the PostScript
// output as the drawing target. Which picture the window shows is the
// graphics kind, a short text every display loop keeps up to date:
// "image", "masked_image", "contour", "3-d surface", "3-d lines",
// "x/y graph".

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

struct KztDataSets;

// GUI: a file of its own, closed after the page, with a prompt and a
// warning box; from the keyboard the file stays open for further pages
// until END GRAPHICS FILE. A file that cannot be opened leaves STATUS good.
void KZT_PRINT(bool gui, std::string_view graphics_kind, bool mask_data, Index xmaxdat,
               Index ymaxdat, std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::span<const float> variances,
               std::span<const std::uint8_t> mask, std::string_view title,
               std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
               bool variances_exist, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
               Status& status);

// Later PostScript output in colour, or black and white, in turn.
void KZT_POSTSCRIPT(Status& status);

// The keyboard branches of PRINT GRAPHICS and POSTSCRIPT OPTIONS. PRINT
// GRAPHICS leaves the file open for more pages until END GRAPHICS FILE.
void kzt_command_print(KztDataSets& sets, std::string_view graphics_kind, Status& status);

// PRINT of a window menu: the current data (masked when MASK_DATA and a mask
// exists) in a file of its own, finished before the menu comes back, as the
// window has no END GRAPHICS FILE.
void kzt_menu_print(const KztDataSets& sets, std::string_view graphics_kind, bool mask_data,
                    Status& status);
void kzt_command_postscript(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
