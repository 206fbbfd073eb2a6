#pragma once
// Helpers shared by the graphics system's source files (not for other modules).

#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/state.hpp"

namespace kesta {
struct GsCurves;
}

namespace kesta::gs_detail {

// A failed check: STATUS becomes 140000 + CODE with POSITION recorded. Returns
// true, so that checks read `if (bad && refuse(...)) return;`.
inline bool refuse(Status& status, Status code, std::string_view position) {
  st_fail(status, kBaseGraphicsSystem + code, position);
  return true;
}

// A diagnostic written straight to the terminal (it does not reach the log).
inline void terminal_line(std::string_view text) {
  Status local = kStatusGood;
  IO_WRITE_FILE(kStreamTerminal, text, local);
}

// World units of one page unit along X (WX) and along Y (WY) in the current
// transform.
inline void world_per_page(float& wx, float& wy, Status& status) {
  float xscale = 1.0f;
  float yscale = 1.0f;
  QG_INQ_SCALING(xscale, yscale, status);
  wx = 1.0f / xscale;
  wy = 1.0f / yscale;
}

// The power of two (1 when none is needed) that data whose largest
// magnitude is LARGEST are divided by for drawing on an axis: the page round
// a frame spans a few dozen of its widths, which must stay within the float
// range (gs_state.x_axis_unit, y_axis_unit).
inline double axis_unit(double largest) {
  constexpr double kLargestDrawn = 0x1p120;  // about 1.3E+36
  if (!(largest > kLargestDrawn) || !std::isfinite(largest)) return 1.0;
  return std::exp2(std::ceil(std::log2(largest / kLargestDrawn)));
}

// Checks of a data region: 1, 2 dimensions; 5, 6 the region (at least
// MIN_SIZE pixels each way); 1 also for a data span shorter than the array.
bool bad_region(Index xmaxdat, Index ymaxdat, std::size_t size, Index xs, Index ys, Index xe,
                Index ye, Index min_size, Status& status, std::string_view position);
// A region (XS..XE, YS..YE) without a finite value gives an empty drawing:
// "WARNING: No finite data value in the region to PURPOSE" says why, and
// true.
bool say_no_finite_value(Index xmaxdat, Index ymaxdat, std::span<const float> data, Index xs,
                         Index ys, Index xe, Index ye, std::string_view purpose, Status& status);
// Has a curve of CURVES (checked) a point with finite coordinates?
bool any_finite_point(const GsCurves& curves);
// The region checks, axes reaching the region's end and a used mask as large
// as the array (1).
bool bad_plot(bool mask_on, Index xmaxdat, Index ymaxdat, std::span<const float> data,
              std::span<const std::uint8_t> mask, std::span<const float> xaxis,
              std::span<const float> yaxis, Index xs, Index ys, Index xe, Index ye, Index min_size,
              Status& status, std::string_view position);

// Where tick K of FIRST + K INTERVAL lies, worked out in double so that the
// ticks of a range near the largest float do not overflow on the way.
float tick_at(float first, float interval, double k);

// How axis numbers that their field cannot hold are written: as "*", or
// (the heights of a 3-D view, where asterisks would leave the surface
// without a scale) as wide as the digits that tell them apart need.
enum class NumberField { kStyle, kTellApart };

// The numbers of NUMBER large ticks FIRST, FIRST + INTERVAL, ... in the
// enumeration style STYLE: each text (empty when blank) divided by FACTOR, the
// common power of ten (1 when none is needed); a number that does not fit its
// field is all "*", unless FIELD widens it. The values are worked out in
// double and rounded to the interval's precision, so a tick meant to be 0 or
// 0.1 is written as such.
void axis_numbers(const GsAxisEnum& style, float first, float interval, int number, double& factor,
                  std::vector<std::string>& texts, Status& status,
                  NumberField field = NumberField::kStyle);

// The page distance from the left edge of a frame over gs_state.dddr to
// the right side of its Y axis label, so that the label stands clear of the
// left axis's numbers: at least the layout's label gap, more when the
// numbers are wider than the gap leaves room for.
float y_label_offset(Status& status);

// Which axes of an image region run backwards (decreasing values).
struct ImageDirections {
  bool x_backwards = false;
  bool y_backwards = false;
};

// Which axes of the region XS..XE by YS..YE decrease (end centre below the
// start centre).
ImageDirections image_directions(std::span<const float> xaxis, std::span<const float> yaxis,
                                 Index xs, Index ys, Index xe, Index ye);

// The cells of an image region in the image display region, through
// GS_2DMCELLARRAY; an axis that DIRECTIONS gives as backwards is drawn
// mirrored (from a copy of the region), so that its values increase.
void image_cells(bool mask_on, Index xmaxdat, Index ymaxdat, std::span<const float> data,
                 std::span<const std::uint8_t> mask, Index xs, Index ys, Index xe, Index ye,
                 const ImageDirections& directions, int mode, float& minimum, float& maximum,
                 Status& status);

// The world rectangle of an image region, half a pixel beyond the outer pixel
// centres, stored as image display region and drawn data display region and
// made the data window; then the page rectangle from the graph page position
// (keeping the image's aspect when asked), stored as the drawn graph page
// position and made the viewport. An axis that decreases (a d-spacing scale)
// gets its rectangle from the smaller edge to the larger, so the axes are
// drawn increasing; the caller then draws the region's pixels mirrored along
// that axis, so that each pixel lies at its own coordinate.
ImageDirections image_frame(std::span<const float> xaxis, std::span<const float> yaxis,
                            Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                            Status& status);

}  // namespace kesta::gs_detail
