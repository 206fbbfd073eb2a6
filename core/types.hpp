#pragma once
// Types shared by every layer: the status word, array sizes and the
// 1-based inclusive region convention of column-major float images.

#include <cstdint>
#include <limits>

namespace kesta {

// A status word: good, user escape, answer consumed, or module base + code.
using Status = std::int32_t;

inline constexpr Status kStatusGood = static_cast<Status>(-2147483647);      // 0x80000001
inline constexpr Status kStatusEscape = 2147483647;                          // 0x7FFFFFFF
inline constexpr Status kStatusConsumed = static_cast<Status>(-2147483646);  // 0x80000002

// Module bases of the status word.
inline constexpr Status kBaseCore = 10000;
inline constexpr Status kBaseMath = 20000;
inline constexpr Status kBaseApp = 110000;
inline constexpr Status kBaseGraphics = 130000;
inline constexpr Status kBaseGraphicsSystem = 140000;
inline constexpr Status kBaseFormats = 180000;

// Array dimensions, region bounds, element counts and offsets.
using Index = std::int64_t;

// Zero-based offset of the 1-based element (x, y) of a column-major array
// whose first declared dimension is xmax.
constexpr Index element(Index x, Index y, Index xmax) { return (x - 1) + (y - 1) * xmax; }

// Product of two sizes; false when either is negative or the product overflows.
constexpr bool checked_product(Index a, Index b, Index& product) {
  if (a < 0 || b < 0) return false;
  if (a != 0 && b > std::numeric_limits<Index>::max() / a) return false;
  product = a * b;
  return true;
}

}  // namespace kesta
