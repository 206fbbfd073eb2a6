#pragma once
// Helpers shared by the PostScript driver's source files (not for other modules).

#include <cstdint>
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

}  // namespace kesta::ps_detail
