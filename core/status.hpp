#pragma once
// The status convention: every routine takes the status word last; a routine
// entered with a bad status records where it was and returns, so the innermost
// position survives for the report.

#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

constexpr Status ST_GOOD() { return kStatusGood; }

// Sets the status good and blanks the stored error position. The first call of
// a run also initialises the core services' state (IO_DEF_SYSTEM).
void ST_DEF_SYSTEM(Status& status);

// Sets the status good and blanks the stored error position, without the
// first call's initialisation: every road that clears a failure or an escape
// (or gives up a local status that failed) goes through it, so that a later
// report names the routine that failed then, not one that failed before.
void st_reset(Status& status);

// Stores POSITION as the error position unless one is stored already.
void ST_SAVE(std::string_view position);

// The code |status| mod 10000, or the status itself when it is one of the
// three special values.
Status ST_ERRORCODE(Status status);

// Writes the status report through IO_WRITE.
void ST_OUT(Status status);

// The stored error position (blank-padded to 132 characters internally; this
// returns it without trailing blanks).
std::string st_position();

// Entry check of the routine convention: true when the status is bad, after
// recording POSITION. Use as `if (st_bad(status, "Subroutine X V0.1")) return;`
inline bool st_bad(Status status, std::string_view position) {
  if (status == kStatusGood) return false;
  ST_SAVE(position);
  return true;
}

// Sets the status to CODE (module base included, e.g. 11002) and records POSITION.
inline void st_fail(Status& status, Status code, std::string_view position) {
  status = code;
  ST_SAVE(position);
}

// Module and class texts of the report.
std::string st_module_text(Status status);
// Empty when the code has no text.
std::string st_class_text(Status status);

}  // namespace kesta
