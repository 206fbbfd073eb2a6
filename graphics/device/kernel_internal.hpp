#pragma once
// Helpers shared by the kernel's source files (not for other modules).

#include <string>
#include <string_view>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"

namespace kesta::qg_detail {

// One kernel message through IO_WRITE; the caller's STATUS is not touched.
inline void message(std::string_view text) {
  Status local = ST_GOOD();
  IO_WRITE(text, local);
}

// Slot of workstation ID, or -1 after the message "ERROR: Workstation ID is
// unknown (NAME)".
inline int known_workstation(int id, std::string_view name) {
  const int k = qg_find_workstation(id);
  if (k < 0) message("ERROR: Workstation ID is unknown (" + std::string(name) + ")");
  return k;
}

// A line written straight to the terminal stream (not to the log).
void terminal_line(std::string_view text);

// True, after the message "ERROR: Qivo Graphics system is not open (NAME)",
// when the kernel is not open.
bool not_open(std::string_view name);

// Sends one call to the driver of every active workstation. A window
// driver's non-zero code sets STATUS to X11_CODE (position recorded) and the
// loop goes on; a file driver runs on the caller's STATUS.
template <class Call>
void dispatch(Status& status, Status x11_code, std::string_view position, Call&& call,
              int minimum_state = 2) {
  QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k) {
    if (sys.state[k] < minimum_state || !sys.driver[k]) continue;
    if (sys.category[k] == kCategoryX11) {
      Status local = ST_GOOD();
      if (call(*sys.driver[k], local) != 0) st_fail(status, x11_code, position);
    } else {
      call(*sys.driver[k], status);
    }
  }
}

// Recomputes the world-to-raster-cell scaling from the transform.
void raster_scaling();

// Colour table entry of an index (clamped to the table).
Rgb table_entry(int index);

}  // namespace kesta::qg_detail
