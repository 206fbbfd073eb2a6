#pragma once
// The one check of array dimensions and regions shared by every layer:
// dimensions below 1 give codes 1 and 2, a region outside the array (or with
// its end before its start) codes 5 and 6, each added to the module base.

#include <cstddef>

#include "core/types.hpp"

namespace kesta {

// Bad declared dimensions: base + 1 (X) or base + 2 (Y); otherwise 0.
constexpr Status dimension_error(Index xmax, Index ymax, Status base) {
  if (xmax < 1) return base + 1;
  if (ymax < 1) return base + 2;
  return 0;
}

// Bad dimensions (1, 2) or a region outside 1..xmax, 1..ymax, or ending
// before it starts (5 for X, 6 for Y); 0 when everything is usable.
constexpr Status region_error(Index xmax, Index ymax, Index xstrelm, Index ystrelm, Index xendelm,
                              Index yendelm, Status base) {
  if (const Status d = dimension_error(xmax, ymax, base); d != 0) return d;
  if (xstrelm < 1 || xendelm > xmax || xstrelm > xendelm) return base + 5;
  if (ystrelm < 1 || yendelm > ymax || ystrelm > yendelm) return base + 6;
  return 0;
}

// True when an array of SIZE elements holds the xmax * ymax elements its
// declared dimensions promise (false for negative sizes or an overflow).
constexpr bool array_holds(std::size_t size, Index xmax, Index ymax) {
  Index elements = 0;
  return checked_product(xmax, ymax, elements) && static_cast<std::size_t>(elements) <= size;
}

// region_error, and base + SHORT_CODE (1 unless the caller's module reports a
// short array under a code of its own) when the array holds fewer than
// xmax * ymax elements (SIZE).
constexpr Status array_region_error(Index xmax, Index ymax, Index xstrelm, Index ystrelm,
                                    Index xendelm, Index yendelm, std::size_t size, Status base,
                                    Status short_code = 1) {
  if (const Status e = region_error(xmax, ymax, xstrelm, ystrelm, xendelm, yendelm, base); e != 0)
    return e;
  if (!array_holds(size, xmax, ymax)) return base + short_code;
  return 0;
}

}  // namespace kesta
