#pragma once
// Helpers shared by the graphics system's source files (not for other modules).

#include <string_view>

#include "core/io_output.hpp"
#include "core/status.hpp"

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

}  // namespace kesta::gs_detail
