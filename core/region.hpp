#pragma once
// The one check of array dimensions and regions shared by every layer:
// dimensions below 1 give codes 1 and 2, a region outside the array (or with
// its end before its start) codes 5 and 6, each added to the module base.

#include <cstddef>
#include <initializer_list>

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

// One array as a routine receives it: its declared dimensions and the number
// of elements its span holds. A vector of declared length N is {N, 1, size}.
struct ArrayShape {
  Index xmax;
  Index ymax;
  std::size_t size;
};

// Declared dimensions of several arrays: base + 1 when any X dimension is
// below 1, else base + 2 when any Y dimension is; otherwise 0.
constexpr Status dimensions_error(std::initializer_list<ArrayShape> arrays, Status base) {
  for (const ArrayShape& a : arrays)
    if (a.xmax < 1) return base + 1;
  for (const ArrayShape& a : arrays)
    if (a.ymax < 1) return base + 2;
  return 0;
}

// base + SHORT_CODE when any span holds fewer elements than its declared
// dimensions promise (1 unless the module has a code of its own); otherwise 0.
constexpr Status spans_error(std::initializer_list<ArrayShape> arrays, Status base,
                             Status short_code = 1) {
  for (const ArrayShape& a : arrays)
    if (!array_holds(a.size, a.xmax, a.ymax)) return base + short_code;
  return 0;
}

// The whole check of a routine over several arrays sharing one region:
// dimensions (1, 2), the region inside every array (5, 6), then the spans
// (SHORT_CODE); 0 when everything is usable.
constexpr Status arrays_region_error(std::initializer_list<ArrayShape> arrays, Index xstrelm,
                                     Index ystrelm, Index xendelm, Index yendelm, Status base,
                                     Status short_code = 1) {
  if (const Status d = dimensions_error(arrays, base); d != 0) return d;
  Index xmax = arrays.begin()->xmax, ymax = arrays.begin()->ymax;
  for (const ArrayShape& a : arrays) {
    xmax = a.xmax < xmax ? a.xmax : xmax;
    ymax = a.ymax < ymax ? a.ymax : ymax;
  }
  if (const Status e = region_error(xmax, ymax, xstrelm, ystrelm, xendelm, yendelm, base); e != 0)
    return e;
  return spans_error(arrays, base, short_code);
}

// True when the work of a loop over COUNTS (their product) can be counted
// and stays within LIMIT.
constexpr bool work_fits(std::initializer_list<Index> counts, Index limit) {
  Index total = 1;
  for (const Index c : counts)
    if (!checked_product(total, c, total)) return false;
  return total <= limit;
}

}  // namespace kesta
