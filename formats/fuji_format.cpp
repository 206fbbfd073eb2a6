#include "formats/fuji_format.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/detector_input.hpp"

namespace kesta {

namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The first token of TEXT as a real; false when it is not one.
bool leading_real(const std::string& text, double& value) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return false;
  const std::string token = text.substr(first, text.find_first_of(" \t\r", first) - first);
  char* end = nullptr;
  const double v = std::strtod(token.c_str(), &end);
  if (end == token.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

struct FujiDescription {
  double x_size = 0, y_size = 0, latitude = 0;
  Index bits = 0, nx = 0, ny = 0, sensitivity = 0;
  bool x_size_ok = false, y_size_ok = false;
};

// A warning of the description: the terminal's line, and the window's form
// when SHOW is given.
void description_warning(const char* line, const char* window, FujiShow show, Status& status) {
  IO_WRITE(line, status);
  if (show != nullptr) show(window, true, status);
}

// The ".inf" lines of the open file IN; false after the warnings when a
// needed value is missing. Each holds a name or a number: a longer line is
// kept to its start.
bool read_description(std::FILE* in, FujiDescription& d, FujiShow show, Status& status) {
  constexpr std::size_t kLineKept = 1024;
  std::array<std::string, 11> lines;
  std::size_t read = 0;
  bool cut = false;
  while (read < lines.size() && io_read_bounded_line(in, kLineKept, lines[read], cut)) ++read;
  if (read == 0) {
    IO_WRITE("WARNING: Problem reading from .inf file", status);
    return false;
  }
  d.x_size_ok = leading_real(lines[4], d.x_size);
  if (!d.x_size_ok)
    description_warning("WARNING: X pixel size not properly defined",
                        "X PIXEL SIZE NOT PROPERLY DEFINED", show, status);
  d.y_size_ok = leading_real(lines[5], d.y_size);
  if (!d.y_size_ok)
    description_warning("WARNING: Y pixel size not properly defined",
                        "Y PIXEL SIZE NOT PROPERLY DEFINED", show, status);
  bool ok = true;
  auto integer = [&](const std::string& line, Index& value, const char* warning,
                     const char* window) {
    if (leading_integer(line, value)) return;
    description_warning(warning, window, show, status);
    ok = false;
  };
  integer(lines[6], d.bits, "WARNING: Number of bits is not properly defined",
          "NUMBER OF BITS IS NOT PROPERLY DEFINED");
  integer(lines[7], d.nx, "WARNING: Number of pixels in X-direction undefined",
          "NUMBER OF PIXELS IN X-DIRECTION UNDEFINED");
  integer(lines[8], d.ny, "WARNING: Number of pixels in Y-direction undefined",
          "NUMBER OF PIXELS IN Y-DIRECTION UNDEFINED");
  integer(lines[9], d.sensitivity, "WARNING: Sensitivity undefined", "SENSITIVITY UNDEFINED");
  if (!leading_real(lines[10], d.latitude)) {
    description_warning("WARNING: Latitude undefined", "LATITUDE UNDEFINED", show, status);
    ok = false;
  }
  return ok;
}

// The linearisation of stored values 0 .. 2^BITS - 1, built once for each
// set of values and kept for the reads that follow.
std::shared_ptr<const std::vector<float>> linearisation_table(Index bits, Index sensitivity,
                                                              double latitude) {
  struct Kept {
    Index bits = 0, sensitivity = 0;
    double latitude = 0;
    std::shared_ptr<const std::vector<float>> table;
  };
  static std::mutex guard;
  static Kept kept;
  const std::lock_guard<std::mutex> hold(guard);
  if (kept.table && kept.bits == bits && kept.sensitivity == sensitivity &&
      kept.latitude == latitude)
    return kept.table;
  const Index entries = Index{1} << bits;
  auto table = std::make_shared<std::vector<float>>(static_cast<std::size_t>(entries));
  for (Index k = 0; k < entries; ++k)
    (*table)[static_cast<std::size_t>(k)] = static_cast<float>(
        (4000.0 / static_cast<double>(sensitivity)) * 100.0 *
        std::pow(10.0, latitude * (static_cast<double>(k) / static_cast<double>(entries) - 0.5)));
  kept = Kept{bits, sensitivity, latitude, table};
  return table;
}

}  // namespace

std::string fuji_image_file(const std::string& inf_path) {
  const std::size_t dot = inf_path.rfind('.');
  const std::size_t slash = inf_path.rfind('/');
  std::vector<std::string> names;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    names.push_back(inf_path.substr(0, dot) + ".img");
    names.push_back(inf_path.substr(0, dot) + ".IMG");
  }
  if (inf_path.size() >= 3) {
    names.push_back(inf_path.substr(0, inf_path.size() - 3) + "img");
    names.push_back(inf_path.substr(0, inf_path.size() - 3) + "IMG");
  }
  for (const auto& name : names)
    if (name != inf_path && exists(name)) return name;
  return {};
}

ImageRead read_fuji_file(const std::string& inf_path, const std::string& img_path,
                         const ReadRequest& request, Status& status) {
  return read_fuji_file(inf_path, img_path, request, nullptr, status);
}

ImageRead read_fuji_file(const std::string& inf_path, const std::string& img_path,
                         const ReadRequest& request, FujiShow show, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  std::string problem;
  InputFile inf = open_input_file(inf_path, problem);
  if (!inf) {
    report_unread_file(inf_path, problem, status);
    return result;
  }
  FujiDescription d;
  const bool described = read_description(inf.get(), d, show, status);
  inf.reset();
  if (status != kStatusGood) return result;  // a warning box that could not be shown
  if (!described) {
    report_unread_file(inf_path, "was not input", status);
    return result;
  }
  if (d.bits < 8 || d.bits > 16 || d.sensitivity < 1) {
    report_unread_file(inf_path,
                       "gives " + std::to_string(d.bits) + " bits per pixel and sensitivity " +
                           std::to_string(d.sensitivity) +
                           " (8 to 16 bits and a sensitivity of 1 or more are read)",
                       status);
    return result;
  }
  // Said before the scan is looked at, as a description too large for the
  // arrays is known from the description alone.
  warn_partial_image(d.nx, d.ny, request, status);
  StreamInput input(img_path);
  if (!input.ok()) {
    IO_WRITE("WARNING: Error in opening binary file", status);
    IO_WRITE("         Name of required binary file: " + img_path, status);
    report_unread_file(img_path, input.problem(), status);
    return result;
  }
  IO_WRITE("INFO: Inputting data from file", status);
  if (show != nullptr) show("INPUTTING DATA FROM FILE", false, status);
  ScratchImage& image = result.image;
  const int bytes = d.bits == 8 ? 1 : 2;
  PixelLayout layout{d.nx, d.ny, 0, bytes, false, !IO_BIG_ENDIAN(), false};
  layout.too_large = "";  // already said
  Index xend = 0, yend = 0;
  if (!prepare_detector_pixels(input, img_path, layout, request, image, xend, yend, status))
    return ImageRead{};

  IO_WRITE("INFO: Linearising data", status);
  if (show != nullptr) show("LINEARISING DATA", false, status);
  const std::shared_ptr<const std::vector<float>> table =
      linearisation_table(d.bits, d.sensitivity, d.latitude);
  const float* entry = table->data();
  // Stored values beyond the table (more bits than b) take its last entry.
  const auto last = static_cast<std::uint32_t>(table->size() - 1);
  const auto linearise = [entry, last](auto read, auto clip) {
    return [entry, last, read](const unsigned char* raw, float* out, Index count) {
      // The look-ups do not vectorise; eight a step keep more of them in
      // flight.
#pragma GCC unroll 8
      for (Index x = 0; x < count; ++x) {
        const std::uint32_t v = read(raw, x);
        out[x] = entry[decltype(clip)::value ? std::min(v, last) : v];
      }
    };
  };
  // 16-bit values are stored most significant byte first: one load and a
  // byte swap each. A table of all 16-bit values needs no clip.
  const auto byte = [](const unsigned char* raw, Index x) -> std::uint32_t { return raw[x]; };
  const auto word = [](const unsigned char* raw, Index x) -> std::uint32_t {
    std::uint16_t v;
    std::memcpy(&v, raw + 2 * x, 2);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap16(v);
    return v;
  };
  const bool whole_table = last == 0xFFFF;
  if (!(bytes == 1     ? decode_detector_pixels(input, img_path, layout, xend, yend, image,
                                                linearise(byte, std::true_type{}), status)
        : whole_table ? decode_detector_pixels(input, img_path, layout, xend, yend, image,
                                                linearise(word, std::false_type{}), status)
                       : decode_detector_pixels(input, img_path, layout, xend, yend, image,
                                                linearise(word, std::true_type{}), status)))
    return ImageRead{};
  const std::size_t slash = inf_path.rfind('/');
  describe_detector_image(slash == std::string::npos ? inf_path : inf_path.substr(slash + 1),
                          image);
  if (d.x_size_ok) image.x_pixel_size = static_cast<float>(d.x_size * 1.0e-6);
  if (d.y_size_ok) image.y_pixel_size = static_cast<float>(d.y_size * 1.0e-6);
  result.retstat = 0;
  return result;
}

ImageRead fuji_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  static const std::string kRetype[] = {
      "WARNING: Error in opening  header file, Please retype name"};
  std::string inf_path;
  if (!ask_input_file("DATA FILE NAME (.inf file)", {"Name of file containing file header"},
                      kRetype, file_name, inf_path, status))
    return {};
  std::string img_path = fuji_image_file(inf_path);
  if (img_path.empty()) {
    std::string img_name = inf_path;
    if (!ask_input_file("BINARY DATA FILE NAME (.img file)",
                        {"Name of file containing the binary data"}, kRetypeName, img_name,
                        img_path, status))
      return {};
  }
  return read_fuji_file(inf_path, img_path, request, status);
}

}  // namespace kesta
