#pragma once
// Helpers shared by the PostScript driver's source files (not for other modules).

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta::ps_detail {

// PostScript integers are clamped to this before conversion.
inline constexpr double kPsCoordinateLimit = 1.0e9;

// One line to the PostScript stream.
void write(std::string_view line, Status& status);
// Appends VALUE in a field of WIDTH (the core's I editing); a number too wide
// for its field is written whole, and a blank keeps it apart from the text
// before it.
void append_field(std::string& line, std::int64_t value, int width);
// Truncation toward zero of a clamped double.
int to_int(double v);

// An image cell array is written with at most RESOLUTION cells along either
// side: blocks of bx x by input cells become one output cell each, nx x ny of
// them; input beyond the last whole block is dropped.
struct CellBlocks {
  Index bx = 1, by = 1;
  Index nx = 0, ny = 0;
};
inline CellBlocks cell_blocks(Index xnum, Index ynum, Index resolution) {
  CellBlocks b;
  b.bx = (xnum - 1) / resolution + 1;
  b.by = (ynum - 1) / resolution + 1;
  b.nx = xnum / b.bx;
  b.ny = ynum / b.by;
  return b;
}

// Block sums of output row R of the region starting at (XSTRELM, YSTRELM) of
// VALUES (column-major, first dimension XMAXDAT) into SUMS (nx entries).
// With a MASK of the same shape (empty: none), HIT[c] is set non-zero when
// any element of block c is masked.
template <class T, class Sum>
void block_row_sums(const CellBlocks& b, std::span<const T> values,
                    std::span<const std::uint8_t> mask, Index xmaxdat, Index xstrelm,
                    Index ystrelm, Index r, std::span<Sum> sums, std::span<std::uint8_t> hit) {
  std::fill(sums.begin(), sums.end(), Sum{});
  if (!mask.empty()) std::fill(hit.begin(), hit.end(), std::uint8_t{0});
  for (Index y = ystrelm + r * b.by; y < ystrelm + (r + 1) * b.by; ++y) {
    const Index offset = element(xstrelm, y, xmaxdat);
    const T* row = values.data() + offset;
    if (b.bx == 1) {
      for (Index c = 0; c < b.nx; ++c)
        sums[static_cast<std::size_t>(c)] += static_cast<Sum>(row[c]);
    } else {
      for (Index c = 0; c < b.nx; ++c) {
        Sum s{};
        for (Index i = 0; i < b.bx; ++i) s += static_cast<Sum>(row[c * b.bx + i]);
        sums[static_cast<std::size_t>(c)] += s;
      }
    }
    if (mask.empty()) continue;
    const std::uint8_t* m = mask.data() + offset;
    for (Index c = 0; c < b.nx; ++c)
      for (Index i = 0; i < b.bx; ++i) hit[static_cast<std::size_t>(c)] |= m[c * b.bx + i];
  }
}

}  // namespace kesta::ps_detail
