#include "formats/series_sizes.hpp"

#include <optional>

#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {
namespace {

// The file sizes of the graphical input's last read outside a series.
FioFilePixelSizes last_read;

FioSeriesResult* running = nullptr;

std::string sizes_text(const FioFilePixelSizes& s) {
  if (!s.x && !s.y) return "none given";
  const auto one = [](const std::optional<float>& v) {
    return v ? std::string(trimmed_text(IO_RTOC(*v))) : std::string("none");
  };
  return one(s.x) + " x " + one(s.y) + " m";
}

bool other_than(const FioFilePixelSizes& member, const FioFilePixelSizes& first) {
  return (member.x && member.x != first.x) || (member.y && member.y != first.y);
}

}  // namespace

FioSeriesResult::FioSeriesResult(bool store, float x_pixel_size, float y_pixel_size,
                                 std::string_view result_has)
    : store_(store), x_(x_pixel_size), y_(y_pixel_size), result_has_(result_has),
      outer_(running), first_(last_read) {
  running = this;
}

FioSeriesResult::~FioSeriesResult() {
  running = outer_;
  Status local = kStatusGood;
  int retstat = 0;
  if (store_)
    for (auto [key, size] : {std::pair{"X_PIXEL_SIZE", x_}, std::pair{"Y_PIXEL_SIZE", y_}})
      if (detector_pixel_size(size)) IO_SET_RKEYVALUE(key, size, retstat, local);
  if (differing_ == 0) return;
  const std::string members =
      differing_ == 1 ? "1 member: " : std::to_string(differing_) + " members, the first ";
  IO_WRITE("WARNING: Pixel sizes other than the first file's (" + sizes_text(first_) + ") in " +
               members + name_ + " (" + sizes_text(sizes_) + "); " + result_has_,
           local);
}

void fio_note_read_sizes(const FioFilePixelSizes& sizes) { last_read = sizes; }

FioFilePixelSizes fio_member_sizes(const FioFilePixelSizes& sizes, const std::string& name) {
  if (running == nullptr) return sizes;
  FioSeriesResult& r = *running;
  if (other_than(sizes, r.first_) && r.differing_++ == 0) {
    r.name_ = name;
    r.sizes_ = sizes;
  }
  FioFilePixelSizes kept = sizes;
  kept.x.reset();
  kept.y.reset();
  return kept;
}

}  // namespace kesta
