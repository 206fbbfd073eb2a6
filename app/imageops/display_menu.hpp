#pragma once
// The graphical display sub-menu: the current data as contours, a 3-D
// surface or 3-D lines, the inspections (slices, projection, distance,
// pixel values, saturated pixels, statistics), click read-out and printing;
// and the small wait menu after a contour plot, so that it can be printed.
// Both keep the graphics kind that printing draws again.

#include <string>

#include "app/imageops/inspection.hpp"
#include "core/types.hpp"

namespace kesta {

// The slice and projection operations write their profiles into MEMORY;
// GRAPHICS_KIND ends as what the window shows.
void KZT_DISPLAY(const KztDisplayed& d, KztMemoryProfile& memory, std::string& graphics_kind,
                 Status& status);
// The display wait menu until EXIT; PRINT prints GRAPHICS_KIND.
void KZT_CONTINUE(std::string_view graphics_kind, const KztDisplayed& d, Status& status);
// The display menu's help page: a message box (GUI) or the terminal pager.
void KZT_DISPLAYHELP(bool gui, Status& status);

}  // namespace kesta
