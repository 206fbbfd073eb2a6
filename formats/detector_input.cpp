#include "formats/detector_input.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "core/ask_again.hpp"
#include "core/io_output.hpp"
#include "core/parallel.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "formats/fio_stream.hpp"
#include "formats/region_readers.hpp"

namespace kesta {

StreamInput::StreamInput(const std::string& path) {
  // The stream layer opens only regular files; asked first, so that the
  // refusal says why.
  InputFile probe = open_input_file(path, problem_);
  if (!probe) return;
  probe.reset();
  int retstat = 0;
  FIO_FILEOPENC(path, 1, retstat, id_);
  if (retstat != 0 || fio_input_file() == nullptr) {
    problem_ = "cannot be opened";
    return;
  }
  fd_ = io_file_descriptor(fio_input_file());
  size_ = std::max<Index>(io_file_size(fio_input_file()), 0);
  ok_ = true;
}

StreamInput::~StreamInput() {
  if (!ok_) return;
  int retstat = 0;
  FIO_FILECLOSEC(id_, retstat);
}

bool StreamInput::holds(Index offset, Index count) const {
  return offset >= 0 && count >= 0 && offset <= size_ && count <= size_ - offset;
}

bool StreamInput::read(Index offset, void* bytes, Index count) {
  if (!ok_ || !holds(offset, count)) return false;
  int retstat = 0;
  Index got = 0;
  FIO_FILEPREADC(
      id_, offset, count, count, 0, retstat, got,
      std::span<std::byte>(static_cast<std::byte*>(bytes), static_cast<std::size_t>(count)));
  return retstat == 0 && got == count;
}

bool StreamInput::seek(Index offset) {
  if (!ok_ || !holds(offset, 0)) return false;
  int retstat = 0;
  Index got = 0;
  FIO_FILEPREADC(id_, offset, 0, 0, 0, retstat, got, {});
  return retstat == 0;
}

bool StreamInput::read_at(Index offset, void* bytes, Index count) const {
  if (!ok_ || !holds(offset, count)) return false;
  auto* at = static_cast<unsigned char*>(bytes);
  while (count > 0) {
    const ssize_t got = ::pread(fd_, at, static_cast<std::size_t>(count), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file cut short since it was opened
    at += got;
    offset += got;
    count -= got;
  }
  return true;
}

bool for_row_ranges(Index rows, Index bytes, const std::function<bool(Index, Index)>& part) {
  // A few megabytes a thread at least, so that starting one pays; more than
  // four gain little once the memory's bandwidth is taken.
  constexpr Index kBytesEach = Index{2} << 20, kMostThreads = 4;
  if (rows < 1) return true;
  const Index parts =
      std::clamp<Index>(bytes / kBytesEach, 1, std::min({kMostThreads, processor_count(), rows}));
  std::atomic<bool> ok = true;
  run_parts(parts, [&](Index k) {
    try {
      if (!part(rows * k / parts, rows * (k + 1) / parts)) ok = false;
    } catch (const std::bad_alloc&) {
      ok = false;  // its block could not be had: the read fails as a whole
    }
  });
  return ok;
}

bool prepare_detector_pixels(const StreamInput& input, const std::string& path,
                             const PixelLayout& l, const ReadRequest& request,
                             ScratchImage& image, Index& xend, Index& yend, Status& status) {
  Index pixels = 0, bytes = 0;
  if (l.file_xnum < 1 || l.file_ynum < 1 || !checked_product(l.file_xnum, l.file_ynum, pixels) ||
      !checked_product(pixels, l.bytes, bytes)) {
    report_unread_file(path,
                       "gives an image size of " + std::to_string(l.file_xnum) + " x " +
                           std::to_string(l.file_ynum) + " pixels",
                       status);
    return false;
  }
  if (!input.holds(l.start, bytes)) {
    report_unread_file(path,
                       "is too short for its image of " + std::to_string(l.file_xnum) + " x " +
                           std::to_string(l.file_ynum) + " pixels",
                       status);
    return false;
  }
  const ScratchExtent kept{std::min(l.file_xnum, request.xmaxdat),
                           std::min(l.file_ynum, request.ymaxdat)};
  if (!image.data && !scratch_allocate(request, request.variances, path, image, status, kept))
    return false;
  if ((l.file_xnum > request.xmaxdat || l.file_ynum > request.ymaxdat) && l.too_large) {
    if (*l.too_large != '\0') IO_WRITE(l.too_large, status);
  } else {
    warn_partial_image(l.file_xnum, l.file_ynum, request, status);
  }
  xend = std::min(l.file_xnum, request.xmaxdat);
  yend = std::min(l.file_ynum, request.ymaxdat);
  image.file_xnum = l.file_xnum;
  image.file_ynum = l.file_ynum;
  return true;
}

bool read_detector_pixels(StreamInput& input, const std::string& path, const PixelLayout& l,
                          const ReadRequest& request, ScratchImage& image, Status& status) {
  Index xend = 0, yend = 0;
  if (!prepare_detector_pixels(input, path, l, request, image, xend, yend, status)) return false;
  constexpr Index kBuffer = Index{1} << 16;
  Index xnum = 0, ynum = 0;
  Status local = ST_GOOD();
  const std::span<float> data = image.pixels();
  const Index start_byte = l.start + 1;
  if (l.bytes == 1) {
    std::vector<std::int8_t> buffer(kBuffer);
    FIO_INP_2DBYTE(input.id(), l.is_signed, l.right_first, l.top_first, false, l.file_xnum,
                   l.file_ynum, 1, 1, xend, yend, 1, 1, start_byte, kBuffer, buffer,
                   request.xmaxdat, request.ymaxdat, xnum, ynum, data, local);
  } else if (l.bytes == 2) {
    std::vector<std::int16_t> buffer(kBuffer);
    FIO_INP_2DI2(input.id(), l.swap, l.is_signed, l.right_first, l.top_first, false, l.file_xnum,
                 l.file_ynum, 1, 1, xend, yend, 1, 1, start_byte, kBuffer, buffer, request.xmaxdat,
                 request.ymaxdat, xnum, ynum, data, local);
  } else if (l.real) {
    std::vector<float> buffer(kBuffer);
    FIO_INP_2DR4(input.id(), l.swap, l.right_first, l.top_first, false, l.file_xnum, l.file_ynum, 1,
                 1, xend, yend, 1, 1, start_byte, kBuffer, buffer, request.xmaxdat, request.ymaxdat,
                 xnum, ynum, data, local);
  } else {
    std::vector<std::int32_t> buffer(kBuffer);
    FIO_INP_2DI4(input.id(), l.swap, l.is_signed, l.right_first, l.top_first, false, l.file_xnum,
                 l.file_ynum, 1, 1, xend, yend, 1, 1, start_byte, kBuffer, buffer, request.xmaxdat,
                 request.ymaxdat, xnum, ynum, data, local);
  }
  if (local != kStatusGood) {
    report_unread_file(path, "could not be read", status);
    return false;
  }
  image.xnumdat = xnum;
  image.ynumdat = ynum;
  return true;
}

void describe_detector_image(const std::string& title, ScratchImage& image) {
  image.xaxis.clear();
  image.yaxis.clear();
  image.title = title.substr(0, 80);
  image.xlabel = "Columns";
  image.ylabel = "Rows";
  image.zlabel = "Intensity";
  if (image.variances)
    for (Index y = 1; y <= image.ynumdat; ++y) {
      const Index at = element(1, y, image.xmaxdat);
      std::copy_n(image.data.get() + at, image.xnumdat, image.variances.get() + at);
    }
}

bool ask_input_file(std::string_view prompt, TextLines help, TextLines retry,
                    std::string& file_name, std::string& path, Status& status, InputFile* opened) {
  // A name that did not open is asked for again offering the name offered
  // before it, so that Enter does not bring the refused one back.
  std::string refused_name, problem;
  return io_ask_until_accepted(
      file_name,
      [&](std::string& name, Status& s) {
        io_input_file_name(true, prompt, help.view(), {"Unacceptable input"}, 11, name, s);
      },
      [&](const std::string& name) {
        refused_name = name;
        problem = "cannot be found (bad directory path)";
        if (!input_path(name, path, status)) return false;
        InputFile file = open_input_file(path, problem);
        if (!file) return false;
        if (opened != nullptr) *opened = std::move(file);
        return true;
      },
      [&](Status& s) {
        if (s != kStatusGood) return;
        for (const std::string& line : retry) IO_WRITE(line, s);
        IO_WRITE("         " + refused_name + " " + problem, s);
      },
      status);
}

bool ask_index(std::string_view prompt, std::string_view help, Index lower, Index upper,
               Index& value, Status& status) {
  // The prompt takes an int: a wider range is refused rather than cut.
  constexpr Index kLeast = std::numeric_limits<int>::min(), kMost = std::numeric_limits<int>::max();
  if (lower > upper || lower < kLeast || upper > kMost) {
    IO_WRITE("WARNING: The range " + std::to_string(lower) + " to " + std::to_string(upper) +
                 " of \"" + std::string(prompt) + "\" is beyond what can be entered",
             status);
    return false;
  }
  int v = static_cast<int>(std::clamp(value, lower, upper));
  IO_INPI(true, static_cast<int>(lower), static_cast<int>(upper), true, prompt, {std::string(help)},
          {"Enter an integer within the given range"}, v, status);
  value = v;
  return status == kStatusGood;
}

bool input_opened(const StreamInput& input, const std::string& path, Status& status) {
  if (!input.ok()) report_unread_file(path, input.problem(), status);
  return input.ok();
}

bool leading_integer(std::string_view text, Index& value) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  text.remove_prefix(first);
  std::size_t end = text.find_first_not_of("+-0123456789");
  if (end == 0) return false;
  const std::string digits(text.substr(0, end));
  char* stop = nullptr;
  errno = 0;
  const long long v = std::strtoll(digits.c_str(), &stop, 10);
  if (stop == digits.c_str() || *stop != '\0' || errno == ERANGE) return false;
  value = v;
  return true;
}

std::int32_t int32_at(const void* bytes, bool swap) {
  std::int32_t v;
  std::memcpy(&v, bytes, 4);
  return swap ? byte_swapped(v) : v;
}

float real32_at(const void* bytes, bool swap) {
  float v;
  std::memcpy(&v, bytes, 4);
  return swap ? byte_swapped(v) : v;
}

}  // namespace kesta
