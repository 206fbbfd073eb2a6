#pragma once
// Hand corrections of a peak list on the displayed image: peaks added at
// clicked centres, the good peak nearest to each click removed, with zoom and
// intensity scaling at hand while doing so.

#include <cstdint>
#include <span>
#include <string_view>

#include "app/imageops/peak_search.hpp"
#include "core/types.hpp"

namespace kesta {

// Appends the points X, Y (pixel coordinates) as good peaks with intensity
// and sigma 0.0 and their d-spacing from GEOMETRY, as many as the list holds.
// Returns the number taken (fewer than given when the list filled).
Index kzt_add_peaks(std::span<const float> x, std::span<const float> y,
                    const PeakGeometry& geometry, PeakList& peaks);

// For each point in turn removes the good (flag 0) peak nearest to it (the
// first of equal distances); later entries move down. Returns the number
// removed.
Index kzt_remove_peaks(std::span<const float> x, std::span<const float> y, PeakList& peaks);

// The "EDIT PEAK LIST" menu over the displayed image (drawn with MASK when
// not empty). The active data region may change (zoom); PEAKS is edited in
// place. XMAXDAT < 1 gives 110001, YMAXDAT < 1 110002.
void KZT_EDITPEAKS(bool draw_bad_peaks, float x_pixel_size, float y_pixel_size, Index xmaxdat,
                   Index ymaxdat, Index xnumdat, Index ynumdat, std::span<const float> data,
                   std::span<const std::uint8_t> mask, std::span<const float> xaxis,
                   std::span<const float> yaxis, Index& xstrelm, Index& ystrelm, Index& xendelm,
                   Index& yendelm, std::string_view title, std::string_view xlabel,
                   std::string_view ylabel, std::string_view zlabel, PeakList& peaks,
                   Status& status);

// The help page of the menu: a message box when GUI, else the terminal pager.
void KZT_EDITPEAKSHELP(bool gui, Status& status);

}  // namespace kesta
