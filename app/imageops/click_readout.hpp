#pragma once
// The read-out of a click beside the menu buttons on the displayed data:
// pixel numbers, value and d-spacing of an image, X and Y of a graph; a click
// on the colour scale bar opens the z-scaling sub-menu instead.

#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// Draws the read-out LINES in the top left corner of the message region over
// a white box as tall as COUNT lines (the most the read-outs drawn there can
// have, so that a longer one before is covered); IMAGE: the wider box of an
// image's read-out, closed up above the numbers of its top axis.
void kzt_show_click_lines(std::span<const std::string> lines, bool image, int count,
                          Status& status);

// What the read-out needs besides the data: the experiment geometry (beam
// centre in pixel coordinates, distance and wavelength in metres) and the
// graph's log/linear switches.
struct ClickContext {
  bool geometry_known = false;
  float x_beam_centre = 0.0f, y_beam_centre = 0.0f;
  float sample_distance = 0.0f, wavelength = 0.0f;
  float xpixsize = 0.0f, ypixsize = 0.0f;
  bool x_linear = true, y_linear = true;
};

// The lines of the read-out of world point (X, Y) on the displayed region
// (already checked): an image gives " X = ", " Y = ", "  I = " and, with a
// known geometry away from the beam centre, "  d = "; a single row or column
// gives " X = ", " Y = " and the d line of a 2-theta scan. Pixel indices are
// held inside the displayed region before the value is read.
std::vector<std::string> kzt_click_lines(Index xmaxdat, Index xstrelm, Index ystrelm,
                                         Index xendelm, Index yendelm,
                                         std::span<const float> xaxis,
                                         std::span<const float> yaxis,
                                         std::span<const float> data, std::string_view xlabel,
                                         float x, float y, const ClickContext& context,
                                         Status& status);

}  // namespace kesta
