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

// region_error, and base + 1 also when the array holds fewer than
// xmax * ymax elements (SIZE).
constexpr Status array_region_error(Index xmax, Index ymax, Index xstrelm, Index ystrelm,
                                    Index xendelm, Index yendelm, std::size_t size, Status base) {
  if (const Status e = region_error(xmax, ymax, xstrelm, ystrelm, xendelm, yendelm, base); e != 0)
    return e;
  Index elements = 0;
  if (!checked_product(xmax, ymax, elements) || static_cast<std::size_t>(elements) > size)
    return base + 1;
  return 0;
}

}  // namespace kesta
