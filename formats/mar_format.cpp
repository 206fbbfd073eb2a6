#include "formats/mar_format.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/detector_input.hpp"
#include "formats/pck_decoder.hpp"

namespace kesta {

namespace {

constexpr Index kMar345Header = 4096;

struct ScanInfo {
  std::string date;
  double distance_mm = 0.0;
  double wavelength_angstrom = 0.0;
  double phi_start = 0.0;
  double phi_end = 0.0;
};

void write_scan_info(const ScanInfo& s, Status& status) {
  IO_WRITE("INFO: The following information has been extracted from the file header:", status);
  IO_WRITE("      Date and time of scan = " + s.date, status);
  IO_WRITE("      Sample to detector distance = " + format_f(s.distance_mm, 7, 2) + " mm ",
           status);
  IO_WRITE("      Wavelength is = " + format_f(s.wavelength_angstrom, 9, 4) + " Angstroms",
           status);
  IO_WRITE("      Phi angle at the start of the oscillation = " + format_f(s.phi_start, 7, 3) +
               " degrees",
           status);
  IO_WRITE("      Phi angle at the end of the oscillation   = " + format_f(s.phi_end, 7, 3) +
               " degrees",
           status);
  IO_WRITE("      (These values may be changed using the \"GEOMETRY\" command.)", status);
}

void size_line(Index nx, Index ny, Index overflows, Status& status) {
  IO_WRITE("INFO: Image size = " + format_i(nx, 6) + format_i(ny, 6) +
               " Number of overloaded pixels = " + format_i(overflows, 8),
           status);
}

// COUNT pairs (pixel number, value) from OFFSET into the image of NX x NY
// pixels: each one inside the image and the extent read sets its pixel.
bool apply_pairs(StreamInput& input, Index offset, Index count, bool swap, Index nx, Index ny,
                 ScratchImage& image) {
  if (!input.holds(offset, 8 * count)) return false;
  std::vector<std::int32_t> pairs(static_cast<std::size_t>(2 * count));
  if (!input.read(offset, pairs.data(), 8 * count)) return false;
  for (Index k = 0; k < count; ++k) {
    const Index p = int32_at(&pairs[static_cast<std::size_t>(2 * k)], swap);
    const float v = static_cast<float>(int32_at(&pairs[static_cast<std::size_t>(2 * k + 1)], swap));
    if (p < 1 || p > nx * ny) continue;
    const Index row = (p - 1) / nx + 1, column = p - (row - 1) * nx;
    if (column <= image.xnumdat && row <= image.ynumdat)
      image.data.get()[element(column, row, image.xmaxdat)] = v;
  }
  return true;
}

// The packed image of NX x NY pixels (the header's) from OFFSET on into
// IMAGE; false when it does not decode whole or the packed bytes cannot hold
// that many pixels.
bool read_packed(StreamInput& input, Index offset, Index nx, Index ny, const ReadRequest& request,
                 const std::string& path, ScratchImage& image, Status& status) {
  // The densest packing is a 6-bit block header for 128 pixels of no change.
  const Index most = input.holds(offset, 0) ? (input.size() - offset) * 8 / 6 * 128 : 0;
  if (nx * ny > most) {
    report_unread_file(path,
                       "gives an image of " + std::to_string(nx) + " x " + std::to_string(ny) +
                           " pixels, more than its packed data can hold",
                       status);
    return false;
  }
  warn_partial_image(nx, ny, request, status);
  if (!scratch_allocate(request, request.variances, path, image, status)) return false;
  image.file_xnum = nx;
  image.file_ynum = ny;
  int retstat = 1;
  Index xn = 0, yn = 0;
  if (input.seek(offset))
    FIO_IN_PCKC(input.id(), request.xmaxdat, request.ymaxdat, retstat, xn, yn, image.pixels());
  if (retstat != 0 || xn < 1 || yn < 1) {
    report_unread_file(path, retstat == 3 ? "ends inside its packed image"
                                          : "holds no packed image where one should be",
                       status);
    return false;
  }
  image.xnumdat = xn;
  image.ynumdat = yn;
  return true;
}

// The sizes in a header are 4-byte integers; their product is checked here
// once so that every later offset is safe.
bool sizes_usable(Index nx, Index ny, Index pairs, const std::string& path, Status& status) {
  if (nx >= 1 && ny >= 1 && pairs >= 0 && nx * ny <= (Index{1} << 40)) return true;
  report_unread_file(path, "gives image sizes " + std::to_string(nx) + " x " +
                               std::to_string(ny) + " and " + std::to_string(pairs) +
                               " overflow pixels",
                     status);
  return false;
}

bool read_old_mar(StreamInput& input, const std::string& path, const ReadRequest& request,
                  bool packed, bool swap, Index nx, ImageRead& result, Status& status) {
  std::vector<std::uint8_t> header(static_cast<std::size_t>(2 * nx));
  if (!input.read(0, header.data(), 2 * nx)) {
    IO_WRITE("WARNING: Problem reading in file header", status);
    report_unread_file(path, "ends inside its header", status);
    return false;
  }
  const Index ny = int32_at(&header[4], swap), overflows = int32_at(&header[16], swap);
  if (!sizes_usable(nx, ny, overflows, path, status)) return false;
  ScanInfo info;
  info.wavelength_angstrom = real32_at(&header[76], swap);
  info.distance_mm = real32_at(&header[80], swap);
  info.phi_start = real32_at(&header[84], swap);
  info.phi_end = real32_at(&header[88], swap);
  info.date.assign(reinterpret_cast<const char*>(&header[100]), 24);
  size_line(nx, ny, overflows, status);

  ScratchImage& image = result.image;
  const Index per_record = nx / 4;
  Index overflow_at = 0;
  if (packed) {
    overflow_at = 2 * nx;
    const Index records = (overflows + per_record - 1) / per_record + 1;
    if (!read_packed(input, records * 2 * nx, nx, ny, request, path, image, status))
      return false;
  } else {
    if (!read_detector_pixels(input, path, {nx, ny, 2 * nx, 2, false, swap, false}, request,
                              image, status))
      return false;
    // The overflow records follow the last image row, also when the arrays
    // held fewer rows.
    overflow_at = 2 * nx * (ny + 1);
  }
  if (!apply_pairs(input, overflow_at, overflows, swap, nx, ny, image)) {
    report_unread_file(path, "ends inside its overflow records", status);
    return false;
  }
  image.title = path + " " + info.date;
  write_scan_info(info, status);
  // The older plates (1200 or 2000 pixels a row) were all read out at 150
  // microns: the format's own pitch, the detector's, so not marked defaulted.
  image.x_pixel_size = image.y_pixel_size = 1.5e-4f;
  image.sample_distance = static_cast<float>(info.distance_mm / 1000.0);
  return true;
}

bool read_mar345(StreamInput& input, const std::string& path, const ReadRequest& request,
                 bool swap, ImageRead& result, Status& status) {
  std::array<std::uint8_t, 64> h{};
  if (!input.read(0, h.data(), 64)) {
    IO_WRITE("WARNING: Problem reading in file header", status);
    report_unread_file(path, "ends inside its header", status);
    return false;
  }
  const auto word = [&](int at) { return static_cast<Index>(int32_at(&h[at], swap)); };
  const Index nx = word(4), pairs = word(8), storage = word(12), total = word(20);
  const Index ny = nx >= 1 ? total / nx : 0;
  if (!sizes_usable(nx, ny, pairs, path, status)) return false;
  ScanInfo info;
  info.wavelength_angstrom = static_cast<double>(word(32)) / 1.0e16 * 1.0e10;
  info.distance_mm = static_cast<double>(word(36)) / 1.0e6 * 1.0e3;
  info.phi_start = static_cast<double>(word(40)) / 1000.0;
  info.phi_end = static_cast<double>(word(44)) / 1000.0;
  // Text lines of 64 bytes up to "END OF HEADER"; the date on the "DATE" line.
  std::array<char, 64> line{};
  for (Index k = 1; k <= 64 && input.read(64 * k, line.data(), 64); ++k) {
    const std::string_view text(line.data(), line.size());
    if (text.starts_with("END OF HEADER")) break;
    if (text.starts_with("DATE")) info.date = std::string(text.substr(5, 24));
  }
  size_line(nx, ny, pairs, status);
  ScratchImage& image = result.image;
  const Index pixels_at = kMar345Header + 64 * ((pairs + 7) / 8);
  if (storage == 0) {
    if (!read_detector_pixels(input, path, {nx, ny, pixels_at, 2, false, swap, false}, request,
                              image, status))
      return false;
  } else if (storage == 1) {
    if (!read_packed(input, pixels_at, nx, ny, request, path, image, status)) return false;
  } else {
    IO_WRITE("WARNING: The file contains spiral read-out data and cannot be input", status);
    report_unread_file(path, "was not input", status);
    return false;
  }
  if (!apply_pairs(input, kMar345Header, pairs, swap, nx, ny, image)) {
    report_unread_file(path, "ends inside its high-intensity records", status);
    return false;
  }
  image.title = path + " " + info.date;
  write_scan_info(info, status);
  image.x_pixel_size = static_cast<float>(static_cast<double>(word(24)) / 1.0e6);
  image.y_pixel_size = static_cast<float>(static_cast<double>(word(28)) / 1.0e6);
  image.sample_distance = static_cast<float>(info.distance_mm / 1000.0);
  return true;
}

}  // namespace

ImageRead read_mar_file(const std::string& path, const ReadRequest& request, bool packed,
                        Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  if (!input.ok()) {
    IO_WRITE("WARNING: Problem in opening file (data is not defined):", status);
    report_unread_file(path, input.problem(), status);
    return result;
  }
  std::array<std::uint8_t, 4> first{};
  if (!input.read(0, first.data(), 4)) {
    IO_WRITE("WARNING: Problem reading in file header", status);
    report_unread_file(path, "ends inside its header", status);
    return result;
  }
  bool ok = false, known = false;
  for (const bool swap : {false, true}) {
    const Index kind = int32_at(first.data(), swap);
    if (kind == 1200 || kind == 2000) {
      ok = read_old_mar(input, path, request, packed, swap, kind, result, status);
    } else if (kind == 1234) {
      ok = read_mar345(input, path, request, swap, result, status);
    } else {
      continue;
    }
    known = true;
    break;
  }
  if (!known) report_unread_file(path, "is not a MAR image file", status);
  if (!ok) return ImageRead{};
  const std::string title = *result.image.title;
  describe_detector_image(title, result.image);
  result.retstat = 0;
  return result;
}

namespace {

ImageRead mar_road(const ReadRequest& request, bool packed, std::string& file_name,
                   Status& status) {
  io_input_file_name(true, "DATA FILE NAME", {"Name of file containing MAR image plate data"},
                     {"Unacceptable input"}, 11, file_name, status);
  if (status != kStatusGood) return {};
  std::string path;
  if (!input_path(file_name, path, status)) {
    if (status == kStatusGood)
      IO_WRITE("WARNING: Problem in opening file (bad file directory path)", status);
    return {};
  }
  return read_mar_file(path, request, packed, status);
}

}  // namespace

ImageRead mar_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  return mar_road(request, false, file_name, status);
}

ImageRead mar_research_keyboard_read(const ReadRequest& request, std::string& file_name,
                                     Status& status) {
  IO_WRITE("NOTE: USING NEW INPUT CODE", status);
  return mar_road(request, false, file_name, status);
}

ImageRead mar_pck_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status) {
  return mar_road(request, true, file_name, status);
}

}  // namespace kesta
