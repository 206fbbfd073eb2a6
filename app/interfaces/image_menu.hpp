#pragma once
// The arithmetic behind the IMAGE menu's moves of the displayed region.

#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Moves the active data region for BUTTON of the IMAGE menu ("LEFT",
// "R-UP", "CENTRE", ...), keeping its size and staying inside 1..XNUMDAT by
// 1..YNUMDAT: a move toward 1 fixes the new start (at least 1) and the end
// follows, a move toward the far side fixes the new end (at most the defined
// size) and the start follows. Steps are half the region (integer halves).
// False, with the region unchanged, for a button that is not a move.
bool kzt_image_move(std::string_view button, Index xnumdat, Index ynumdat, Index& xstrelm,
                    Index& ystrelm, Index& xendelm, Index& yendelm);

}  // namespace kesta
