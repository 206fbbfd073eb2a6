#include "formats/scratch_image.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"

namespace kesta {

namespace {

std::size_t count_of(Index n) { return static_cast<std::size_t>(n); }

// One freed image array kept for the next read: reading a series of images of
// one size then writes into memory already mapped, instead of having the
// kernel clear a fresh array's pages on first touch (a fifth of a fast
// reader's time). Only large blocks are kept; a request of another size
// releases the kept block.
class SpareArray {
 public:
  static constexpr std::size_t kSmallest = std::size_t{1} << 20;

  // A kept block of at least BYTES (and not much more), or null.
  void* take(std::size_t bytes) {
    const std::lock_guard<std::mutex> hold(guard_);
    if (block_ == nullptr) return nullptr;
    void* block = std::exchange(block_, nullptr);
    const std::size_t usable = ::malloc_usable_size(block);
    if (usable >= bytes && usable - bytes <= bytes / 8) return block;
    std::free(block);
    return nullptr;
  }
  // Keeps BLOCK (freeing the one kept before); false when it is too small to
  // be worth keeping.
  bool keep(void* block) {
    if (::malloc_usable_size(block) < kSmallest) return false;
    const std::lock_guard<std::mutex> hold(guard_);
    std::free(std::exchange(block_, block));
    return true;
  }

 private:
  std::mutex guard_;
  void* block_ = nullptr;
};

SpareArray& spare_array() {
  static SpareArray spare;
  return spare;
}

// Fills AXIS[0, n) from VALUES, or with the pixel centres i - 0.5 when empty.
void put_axis(const std::vector<float>& values, Index n, std::span<float> axis) {
  if (!values.empty()) {
    std::copy_n(values.begin(), n, axis.begin());
    return;
  }
  for (Index i = 0; i < n; ++i) axis[count_of(i)] = static_cast<float>(i) + 0.5f;
}

// Zeroes everything of a scratch array outside its extent (the part of each
// row beyond XNUM, then the rows beyond YNUM).
void clear_outside(std::span<float> array, Index xmax, Index ymax, Index xnum, Index ynum) {
  if (xnum < xmax)
    for (Index y = 1; y <= ynum; ++y)
      std::fill_n(array.begin() + element(xnum + 1, y, xmax), xmax - xnum, 0.0f);
  if (ynum < ymax) std::fill(array.begin() + element(1, ynum + 1, xmax), array.end(), 0.0f);
}

// Whether swapping the scratch array in costs no more than copying its
// extent: the elements it must then clear outside the extent are no more
// than the extent's own. A small image in large arrays is copied, so that a
// read touches the pages of its image, not the whole arrays.
bool swap_pays(const ScratchImage& image) {
  const Index extent = image.xnumdat * image.ynumdat;
  return image.xmaxdat * image.ymaxdat - extent <= extent;
}

// The extent of the scratch array into the program array, row by row.
void copy_extent(const FloatBlock& scratch, const ScratchImage& image, std::span<float> target) {
  const Index xmax = image.xmaxdat;
  if (image.xnumdat == xmax) {
    std::copy_n(scratch.get(), image.xnumdat * image.ynumdat, target.begin());
    return;
  }
  for (Index y = 1; y <= image.ynumdat; ++y) {
    const Index at = element(1, y, xmax);
    std::copy_n(scratch.get() + at, image.xnumdat, target.begin() + at);
  }
}

// The scratch array into the program array: swapped in when the target gives
// its block and the image fills most of it, else the extent copied.
void take_array(FloatBlock& scratch, const ScratchImage& image, float** block,
                std::span<float> target) {
  const std::size_t count = count_of(image.xmaxdat * image.ymaxdat);
  if (block == nullptr || (*block != nullptr && !swap_pays(image))) {
    copy_extent(scratch, image, block == nullptr ? target : std::span<float>(*block, count));
    return;
  }
  clear_outside(std::span<float>(scratch.get(), count), image.xmaxdat, image.ymaxdat,
                image.xnumdat, image.ynumdat);
  float* old = *block;
  *block = scratch.release();
  scratch.reset(old);  // freed with the scratch image
}

// The bytes of a scratch array of BYTES from its start that a reader of
// EXPECTED writes nearly whole: its rows when they are at least half the
// arrays' width, none when narrower, all when the extent is not known.
std::size_t written_bytes(const ReadRequest& request, ScratchExtent expected, std::size_t bytes) {
  if (expected.xnum < 1 || expected.ynum < 1) return bytes;
  if (2 * std::min(expected.xnum, request.xmaxdat) < request.xmaxdat) return 0;
  const Index rows = std::min(expected.ynum, request.ymaxdat);
  return std::min(bytes, count_of(rows) * count_of(request.xmaxdat) * sizeof(float));
}

}  // namespace

void FloatBlockFree::operator()(float* block) const {
  if (block == nullptr || spare_array().keep(block)) return;
  void* address = block;
  Status local = ST_GOOD();
  IO_FREE(address, local);
}

std::span<float> ScratchImage::pixels() const {
  return data ? std::span<float>(data.get(), count_of(xmaxdat * ymaxdat)) : std::span<float>();
}

std::span<float> ScratchImage::variance_pixels() const {
  return variances ? std::span<float>(variances.get(), count_of(xmaxdat * ymaxdat))
                   : std::span<float>();
}

bool scratch_allocate(const ReadRequest& request, bool with_variances, const std::string& path,
                      ScratchImage& image, Status& status, ScratchExtent expected) {
  image = ScratchImage{};
  image.xmaxdat = request.xmaxdat;
  image.ymaxdat = request.ymaxdat;
  auto allocate = [&](FloatBlock& block) {
    Index n = 0;
    if (!checked_product(request.xmaxdat, request.ymaxdat, n) || n < 1) return false;
    std::size_t bytes = 0;
    if (io_array_bytes(n, sizeof(float), bytes)) {
      if (void* kept = spare_array().take(bytes)) {
        block.reset(static_cast<float*>(kept));
        return true;
      }
    }
    void* address = nullptr;
    Status local = ST_GOOD();
    io_malloc_array(n, sizeof(float), address, local);
    block.reset(static_cast<float*>(address));
    if (block) io_prefer_huge_pages(address, written_bytes(request, expected, bytes));
    return local == kStatusGood && block != nullptr;
  };
  if (allocate(image.data) && (!with_variances || allocate(image.variances))) return true;
  image = ScratchImage{};
  IO_WRITE("WARNING: Not enough memory to read the file " + path, status);
  return false;
}

bool target_holds(const ImageTarget& target) {
  Index n = 0;
  if (!checked_product(target.xmaxdat, target.ymaxdat, n) || n < 1) return false;
  const auto holds = [](std::span<float> s, Index count) {
    return static_cast<Index>(s.size()) >= count;
  };
  return holds(target.data, n) && holds(target.xaxis, target.xmaxdat) &&
         holds(target.yaxis, target.ymaxdat) &&
         (!target.variances_exist || holds(target.variances, n));
}

bool target_refused(const ImageTarget& target, Status base, std::string_view position,
                    Status& status) {
  Status code = dimension_error(target.xmaxdat, target.ymaxdat, base);
  if (code == 0 && !target_holds(target)) code = base + 1;
  if (code == 0) return false;
  st_fail(status, code, position);
  return true;
}

void commit_image(ScratchImage& image, const ImageTarget& target) {
  const Index xn = image.xnumdat, yn = image.ynumdat;
  take_array(image.data, image, target.data_block, target.data);
  if (image.variances)
    take_array(image.variances, image, target.variances_block, target.variances);
  else
    target.variances_exist = false;
  put_axis(image.xaxis, xn, target.xaxis);
  put_axis(image.yaxis, yn, target.yaxis);
  target.xnumdat = xn;
  target.ynumdat = yn;
  if (image.title) target.title = std::move(*image.title);
  if (image.xlabel) target.xlabel = std::move(*image.xlabel);
  if (image.ylabel) target.ylabel = std::move(*image.ylabel);
  if (image.zlabel) target.zlabel = std::move(*image.zlabel);
  const std::optional<float> x = file_pixel_size(image.x_pixel_size, image.x_pixel_size_defaulted);
  const std::optional<float> y = file_pixel_size(image.y_pixel_size, image.y_pixel_size_defaulted);
  float x_stored = 0.0f, y_stored = 0.0f;
  if (!x || !y) stored_detector_pixel_sizes(x_stored, y_stored);
  target.x_pixel_size = x.value_or(x_stored);
  target.y_pixel_size = y.value_or(y_stored);
  image = ScratchImage{};
}

std::optional<float> file_pixel_size(const std::optional<float>& given, bool defaulted) {
  return !defaulted && given && *given > 0.0f && std::isfinite(*given) ? given : std::nullopt;
}

void stored_detector_pixel_sizes(float& x_pixel_size, float& y_pixel_size) {
  // The data sets' sizes before any key was stored.
  constexpr float kStartSize = 1.0e-4f;
  for (auto [key, size] : {std::pair{"X_PIXEL_SIZE", &x_pixel_size},
                           std::pair{"Y_PIXEL_SIZE", &y_pixel_size}}) {
    float stored = kStartSize;
    int retstat = 0;
    Status local = ST_GOOD();
    IO_INQ_RKEYVALUE(key, stored, retstat, local);
    // A zero kept by a defaults file from before sizes were checked is none.
    const bool usable = retstat == 0 && local == kStatusGood && stored > 0.0f && std::isfinite(stored);
    *size = usable ? stored : kStartSize;
  }
}

bool ask_input_path(std::string& file_name, std::string& path, Status& status) {
  io_input_file_name(true, "INPUT FILE NAME", {"Name of input file containing data"},
                     {"Unacceptable input"}, 11, file_name, status);
  return status == kStatusGood && input_path(file_name, path, status);
}

bool input_path(const std::string& file_name, std::string& path, Status& status) {
  int trans = 0;
  IO_TRANS_PATH(file_name, trans, path, status);
  return status == kStatusGood && trans == 0;
}

std::string unread_file_line(const std::string& path, std::string_view problem) {
  return "WARNING: File " + path + " " + std::string(problem) + "; the data are unchanged";
}

bool is_unread_file_line(std::string_view line, std::string_view problem) {
  const std::string head = unread_file_line("", problem);
  const std::string_view start = std::string_view(head).substr(0, head.find("  "));
  const std::string_view end = std::string_view(head).substr(head.find("  ") + 1);
  return line.size() > head.size() && line.starts_with(start) && line.ends_with(end);
}

void report_unread_file(const std::string& path, std::string_view problem, Status& status) {
  IO_WRITE(unread_file_line(path, problem), status);
}

bool warn_partial_image(Index xnum, Index ynum, const ReadRequest& request, Status& status) {
  if (xnum <= request.xmaxdat && ynum <= request.ymaxdat) return false;
  for (const std::string_view line : kPartialImageWarning) IO_WRITE(std::string(line), status);
  return true;
}

bool is_partial_image_line(std::string_view line) {
  if (line.starts_with(kArraySizeLine) || line == kNotAllDataLine) return true;
  for (const auto& lines : {kPartialImageWarning, kPartialWidthWarning, kPartialHeightWarning})
    if (line == lines[0] || line == lines[1]) return true;
  return false;
}

}  // namespace kesta
