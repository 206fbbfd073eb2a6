#include "formats/bruker_format.hpp"

#include <array>
#include <string_view>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/detector_input.hpp"

namespace kesta {

namespace {

constexpr Index kLine = 80;
constexpr Index kBlock = 512;
constexpr Index kEntry = 16;

struct BrukerHeader {
  Index ncols = -1, nrows = -1, npixelb = 0, hdrblks = 0, noverfl = 0;
};

// The header lines up to the one that starts with byte 26; false after the
// message when a line cannot be read.
bool read_header(StreamInput& input, BrukerHeader& h, Status& status) {
  std::array<char, kLine> line{};
  for (Index at = 0;; at += kLine) {
    // The end mark needs only its first byte.
    if (input.read(at, line.data(), 1) && line[0] == 26) return true;
    if (!input.read(at, line.data(), kLine)) {
      IO_WRITE("WARNING: Error in inputting header line", status);
      return false;
    }
    const std::string_view text(line.data(), line.size());
    const std::string_view key = used_text(text.substr(0, 7));
    Index* target = key == "HDRBLKS"   ? &h.hdrblks
                    : key == "NOVERFL" ? &h.noverfl
                    : key == "NPIXELB" ? &h.npixelb
                    : key == "NROWS"   ? &h.nrows
                    : key == "NCOLS"   ? &h.ncols
                                       : nullptr;
    if (target != nullptr) leading_integer(text.substr(8), *target);
  }
}

// The overflow entries after the pixels; false when one cannot be read.
bool read_overflows(StreamInput& input, const BrukerHeader& h, Index offset, ScratchImage& image) {
  // The count is the header's: the file must hold the entries before room is made for them.
  if (!input.holds(offset, h.noverfl * kEntry)) return false;
  std::vector<char> entries(static_cast<std::size_t>(h.noverfl * kEntry));
  if (!input.read(offset, entries.data(), h.noverfl * kEntry)) return false;
  for (Index k = 0; k < h.noverfl; ++k) {
    const std::string_view entry(entries.data() + k * kEntry, kEntry);
    Index value = 0, pixel = 0;
    if (!leading_integer(entry.substr(0, 9), value) || !leading_integer(entry.substr(9), pixel))
      return false;
    if (pixel < 0 || pixel >= h.ncols * h.nrows) continue;
    const Index column = pixel % h.ncols + 1, row = h.nrows - pixel / h.ncols;
    if (column <= image.xnumdat && row <= image.ynumdat)
      image.data.get()[element(column, row, image.xmaxdat)] = static_cast<float>(value);
  }
  return true;
}

}  // namespace

ImageRead read_bruker_file(const std::string& path, const ReadRequest& request, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  if (!input_opened(input, path, status)) return result;
  BrukerHeader h;
  if (!read_header(input, h, status)) {
    report_unread_file(path, "ends inside its header", status);
    return result;
  }
  if (h.ncols < 1 || h.nrows < 1 || (h.npixelb != 1 && h.npixelb != 2 && h.npixelb != 4) ||
      h.hdrblks < 0 || h.noverfl < 0 || h.hdrblks > input.size() / kBlock ||
      h.noverfl > input.size() / kEntry) {
    report_unread_file(path,
                       "gives NCOLS " + std::to_string(h.ncols) + ", NROWS " +
                           std::to_string(h.nrows) + ", NPIXELB " + std::to_string(h.npixelb) +
                           ", HDRBLKS " + std::to_string(h.hdrblks) + ", NOVERFL " +
                           std::to_string(h.noverfl),
                       status);
    return result;
  }
  const Index start = kBlock * h.hdrblks;
  ScratchImage& image = result.image;
  if (!read_detector_pixels(input, path,
                            {h.ncols, h.nrows, start, static_cast<int>(h.npixelb), h.npixelb == 4,
                             IO_BIG_ENDIAN(), true},
                            request, image, status))
    return ImageRead{};
  // read_detector_pixels has checked that the pixels' byte count fits.
  if (h.noverfl > 0 && !read_overflows(input, h, start + h.ncols * h.nrows * h.npixelb, image)) {
    IO_WRITE("ERROR: Error in inputting overflow pixel value", status);
    report_unread_file(path, "was not input", status);
    return ImageRead{};
  }
  describe_detector_image(path, image);
  image.overload = 80000.0f;
  result.retstat = 0;
  return result;
}

ImageRead bruker_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  std::string path;
  if (!ask_input_file("\"BRUKER\" AREA DETECTOR DATA FILE NAME",
                      {"Name of file containing \"BRUKER\" area detector format data"}, kRetypeName,
                      file_name, path, status))
    return {};
  return read_bruker_file(path, request, status);
}

void FIO_IS_BRUKER(std::string_view file_name, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine FIO_IS_BRUKER V0.1")) return;
  retstat = 2;
  StreamInput input{std::string(file_name)};
  std::array<char, kLine> line{};
  if (!input.ok() || !input.read(0, line.data(), kLine)) {
    IO_WRITE("WARNING: Error in inputting header line", status);
    return;
  }
  const std::string_view text(line.data(), line.size());
  if (used_text(text.substr(0, 7)) != "FORMAT") {
    retstat = 1;
    return;
  }
  retstat = 0;
  Index version = 0;
  if (!leading_integer(text.substr(8), version) || version != 86) {
    IO_WRITE("WARNING: The file appears to be a Bruker format file, but the format", status);
    IO_WRITE("         version number appears to have changed !?!?", status);
  }
}

}  // namespace kesta
