#pragma once
// The mask of the current data: the "FIT: MASK MENU" sub-menu, its four
// masking actions (circles about clicked peaks, polygons, arcs through three
// points, a data threshold), and behind each action the function that takes
// the points and changes the mask. Every action only masks; CLEAR MASK and
// UN-MASK POLYGON are the only ways back. MASK holds 1 for masked off.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// GUI true: called from a graphical interface; false: from a keyboard
// command (the image is drawn first and control is handed back to the
// terminal at the end). The active data region is the displayed region and
// follows the zoom choices. A single row or column goes to KZT_1DMASK.
void KZT_MASK(bool gui, Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
              std::span<const float> data, std::span<const float> xaxis,
              std::span<const float> yaxis, std::string_view title, std::string_view xlabel,
              std::string_view ylabel, std::string_view zlabel, float xpixsize, float ypixsize,
              Index& xstrelm, Index& ystrelm, Index& xendelm, Index& yendelm,
              std::span<std::uint8_t> mask, Status& status);

// The actions on the displayed IMAGE (its mask member is not used: MASK is
// changed). An escape during their questions changes nothing and leaves
// STATUS good.
void KZT_MASKPEAKS(const GsDisplayedImage& image, Index xnumdat, Index ynumdat,
                   std::span<std::uint8_t> mask, float radius, Status& status);
void KZT_MASKPOLYGON(const GsDisplayedImage& image, Index xnumdat, Index ynumdat, bool mask_on,
                     std::span<std::uint8_t> mask, Status& status);
void KZT_MASKARC(const GsDisplayedImage& image, std::span<std::uint8_t> mask, Status& status);
void KZT_MASKTHRESHOLD(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                       Index xendelm, Index yendelm, std::span<const float> data,
                       std::span<std::uint8_t> mask, Status& status);

// Masks every pixel (I, J) of 1..XNUMDAT by 1..YNUMDAT within RADIUS (in
// whole pixels) of the pixel holding each point (PX, PY), pixel coordinates.
void kzt_mask_peaks(Index xmaxdat, Index xnumdat, Index ynumdat, std::span<const float> px,
                    std::span<const float> py, float radius, std::span<std::uint8_t> mask);

// Sets (MASK_ON) or clears every pixel whose centre (XAXIS(I), YAXIS(J))
// lies inside or on the polygon of vertices VX, VY (data coordinates, closed
// here); fewer than 2 vertices change nothing.
void kzt_mask_polygon(Index xmaxdat, Index xnumdat, Index ynumdat, std::span<const float> xaxis,
                      std::span<const float> yaxis, std::span<const float> vx,
                      std::span<const float> vy, bool mask_on, std::span<std::uint8_t> mask,
                      Status& status);

// Masks the band of WIDTH pixels about the arc from P[0] through P[1] to
// P[2] (pixel coordinates) within the region. False, with nothing changed,
// when the three points define no circle.
bool kzt_mask_arc(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  const std::array<float, 3>& px, const std::array<float, 3>& py, float width,
                  std::span<std::uint8_t> mask, Status& status);

// Masks the region's elements strictly below (LESS_THAN) or above VALUE.
void kzt_mask_threshold(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                        std::span<const float> data, bool less_than, float value,
                        std::span<std::uint8_t> mask);

}  // namespace kesta
