#pragma once
// Extreme searches (the smallest and largest value of a region, a curve or a
// set of points) start beyond every finite value, so that the first value
// met is taken whatever its size: an image of 3.4e38 has that minimum, where
// a search from the start value 1.7e38 would report a value the image does
// not hold. A search that met no value ends at the program's start values
// (1.7e38 for the minimum, -1.7e38 for the maximum), so that a minimum above
// the maximum still means "none".

#include <limits>

namespace kesta {

// Where a search for a minimum starts, and one for a maximum.
inline constexpr float kAboveEveryValue = std::numeric_limits<float>::infinity();
inline constexpr float kBelowEveryValue = -kAboveEveryValue;

// What a search that met no value gives.
inline constexpr float kNoMinimum = 1.7e38f;
inline constexpr float kNoMaximum = -1.7e38f;

// The result of a search for a minimum alone, and one for a maximum alone.
constexpr float minimum_found(float low) { return low == kAboveEveryValue ? kNoMinimum : low; }
constexpr float maximum_found(float high) { return high == kBelowEveryValue ? kNoMaximum : high; }

// Both extremes of one search: LOW above HIGH (no value met) gives the start
// values.
constexpr void extremes_found(float& low, float& high) {
  if (low > high) {
    low = kNoMinimum;
    high = kNoMaximum;
  }
}

}  // namespace kesta
