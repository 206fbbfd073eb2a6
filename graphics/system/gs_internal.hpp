#pragma once
// Helpers shared by the graphics system's source files (not for other modules).

#include <string_view>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"

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

}  // namespace kesta::gs_detail
