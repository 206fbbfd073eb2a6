#include "formats/reader_support.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <limits>

#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {

void fio_sniff_brace_header(std::string_view file_name, int& retstat, Status& status) {
  int stream = 0;
  FIO_FILEOPEN(file_name, "READ", retstat, stream, status);
  if (status != kStatusGood) return;
  if (retstat != 0) {
    IO_WRITE("WARNING: Error in opening file", status);
    return;
  }
  std::array<std::byte, 1024> head{};
  const std::size_t got = std::fread(head.data(), 1, head.size(), fio_input_file());
  int closed = 0;
  FIO_FILECLOSEC(stream, closed);
  if (got < head.size())
    retstat = -3;
  else
    retstat = head[0] == std::byte{'{'} ? 0 : 1;
}

bool fio_open_input(const std::string& path, int& stream, Status& status) {
  std::string problem;
  if (!open_input_file(path, problem)) {
    report_unread_file(path, problem, status);
    return false;
  }
  int open = 0;
  FIO_FILEOPEN(path, "READ", open, stream, status);
  if (status != kStatusGood) return false;
  if (open != 0) {
    report_unread_file(path, "cannot be opened", status);
    return false;
  }
  return true;
}

FioInputClose::~FioInputClose() {
  int closed = 0;
  FIO_FILECLOSEC(stream_, closed);
}

void read_into_target(ImageRead (*read)(const ReadRequest&, std::string&, Status&),
                      const ImageTarget& target, std::string& file_name, int& retstat,
                      std::string_view position, Status& status) {
  if (st_bad(status, position)) return;
  retstat = 1;
  if (target_refused(target, kBaseFormats, position, status)) return;
  ImageRead image = read({target.xmaxdat, target.ymaxdat, target.variances_exist}, file_name,
                         status);
  retstat = image.retstat;
  if (!image.ok() || status != kStatusGood) return;
  commit_image(image.image, target);
}

bool file_holds_image(const std::string& path, Index nx, Index ny, Index bytes, Index start_byte,
                      Status& status) {
  Index size = -1, pixels = 0, needed = 0;
  IO_FILESIZE(path, size, status);
  const bool fits = nx >= 1 && ny >= 1 && start_byte >= 1 && checked_product(nx, ny, pixels) &&
                    checked_product(pixels, bytes, needed) &&
                    needed <= std::numeric_limits<Index>::max() - start_byte &&
                    needed + start_byte - 1 <= size;
  if (!fits)
    report_unread_file(path,
                       "is too short for an image of " + std::to_string(nx) + " x " +
                           std::to_string(ny) + " pixels of " + std::to_string(bytes) +
                           " bytes from byte " + std::to_string(start_byte),
                       status);
  return fits;
}

void variances_from_data(ScratchImage& image) {
  if (!image.variances) return;
  for (Index y = 1; y <= image.ynumdat; ++y) {
    const Index at = element(1, y, image.xmaxdat);
    std::copy_n(image.data.get() + at, image.xnumdat, image.variances.get() + at);
  }
}

void describe_raw_image(ScratchImage& image, const std::string& title) {
  image.title = title;
  image.xlabel = "Columns";
  image.ylabel = "Rows";
  image.zlabel = "Intensity";
}

}  // namespace kesta
