#pragma once
// The pixel sizes of a series whose members make one result (a sum, an
// average, a montage, a stack of rows, the scans of an integration): the
// result carries the first member's sizes, so the members' headers do not
// decide the detector's sizes one after another, the last one winning; a
// member whose header gives other sizes is said once, at the end.

#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/format_menus.hpp"

namespace kesta {

// Made after the first member's read (the graphical input's read before it
// outside a series), and alive while the members are read. In the meantime
// a member read in a FioSeriesMembers scope stores no pixel sizes, and one
// whose file gives sizes other than the first file's is counted. When it
// ends: with STORE, X_PIXEL_SIZE and Y_PIXEL_SIZE (the result's sizes, the
// first member's data set's) are stored as the detector's where some
// detector has them, in place of whatever a read in between stored (a
// background's); and where members differed, one line names how many, the
// first of them with its sizes, and ends with RESULT_HAS (what the result
// has instead: "the result has the first file's"). A series of scans
// (STORE false: bin widths are no detector's sizes) stores nothing. Scopes
// nest (the innermost counts the members).
class FioSeriesResult {
 public:
  FioSeriesResult(bool store, float x_pixel_size, float y_pixel_size,
                  std::string_view result_has);
  ~FioSeriesResult();
  FioSeriesResult(const FioSeriesResult&) = delete;
  FioSeriesResult& operator=(const FioSeriesResult&) = delete;

 private:
  friend FioFilePixelSizes fio_member_sizes(const FioFilePixelSizes&, const std::string&);
  bool store_;
  float x_, y_;
  std::string result_has_;
  FioSeriesResult* outer_;
  // The first file's sizes, and the members whose files gave others: how
  // many, and the first of them.
  FioFilePixelSizes first_;
  Index differing_ = 0;
  std::string name_;
  FioFilePixelSizes sizes_;
};

// For the graphical input: SIZES, the file's of a read outside a series,
// noted as the first file's of a series that may follow.
void fio_note_read_sizes(const FioFilePixelSizes& sizes);
// SIZES, the file's of a series member NAME: while a FioSeriesResult lives,
// compared with the first file's and returned without pixel sizes (the
// distance kept); otherwise returned as they are.
FioFilePixelSizes fio_member_sizes(const FioFilePixelSizes& sizes, const std::string& name);

}  // namespace kesta
