#include "formats/gas_format.hpp"

#include <algorithm>
#include <cstdio>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/detector_input.hpp"

namespace kesta {

namespace {

// Only the first 20 characters of a header line count.
constexpr std::size_t kCountedLength = 20;

std::string without_blanks(const std::string& line) {
  const std::string_view used = used_text(line);
  const std::size_t first = used.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string() : std::string(used.substr(first));
}

// The image header section of the open header file IN, read line by line:
// it begins after a line "3" that stands two lines after a "-1" line.
GasRead scan_layout(std::FILE* in, GasLayout& layout, Status& status) {
  std::string line, two_back, one_back;
  bool cut = false, found = false;
  while (!found && io_read_bounded_line(in, kCountedLength, line, cut)) {
    std::string now = without_blanks(line);
    found = two_back == "-1" && now == "3";
    two_back = std::move(one_back);
    one_back = std::move(now);
  }
  if (!found) {
    // A read error is not the end of the file: the file may well hold the
    // section, it could not be read.
    if (std::ferror(in)) {
      IO_WRITE("WARNING: Bad input, before image header section. No data input", status);
      return kGasBadInput;
    }
    IO_WRITE("WARNING: End of file found, before image header section. No data input", status);
    return kGasEndOfFile;
  }
  Index* values[] = {&layout.bits, &layout.nx, &layout.ny, &layout.frames};
  for (Index* value : values)
    if (!io_read_bounded_line(in, kCountedLength, line, cut) ||
        !leading_integer(std::string(used_text(line)), *value)) {
      IO_WRITE("WARNING: No image header section. No data input", status);
      return kGasNoSection;
    }
  if (layout.frames == 1)
    IO_WRITE("INFO: The file contains one image (frame) of " + format_i(layout.nx, 6) + " * " +
                 format_i(layout.ny, 6) + " pixels.",
             status);
  else
    IO_WRITE("INFO: The file contains " + format_i(layout.frames, 4) + " images (frames) of " +
                 format_i(layout.nx, 6) + " * " + format_i(layout.ny, 6) + " pixels.",
             status);
  IO_WRITE("      Each pixel is stored using " + format_i(layout.bits, 2) + " bits.", status);
  return kGasRead;
}

// The header file PATH opened for reading; nullptr after the message naming
// it (a named pipe, a device, a directory are refused without a read).
InputFile open_header(const std::string& path, Status& status) {
  std::string problem;
  InputFile in = open_input_file(path, problem);
  if (!in) report_unread_file(path, problem, status);
  return in;
}

}  // namespace

GasRead gas_layout(const std::string& path, GasLayout& layout, Status& status) {
  const InputFile in = open_header(path, status);
  return in ? scan_layout(in.get(), layout, status) : kGasRefused;
}

GasRead gas_fits(const std::string& path, const GasLayout& layout, const ReadRequest& request,
                 Status& status) {
  if (layout.nx <= request.xmaxdat && layout.ny <= request.ymaxdat) return kGasRead;
  IO_WRITE("WARNING: The program arrays are not big enough to input an image.", status);
  report_unread_file(path, "was not input", status);
  return kGasTooBig;
}

ImageRead read_gas_file(const std::string& path, const ReadRequest& request,
                        const GasChoice& choice, Status& status) {
  if (status != kStatusGood) return {};
  GasLayout layout;
  if (const GasRead scanned = gas_layout(path, layout, status); scanned != kGasRead) {
    if (scanned != kGasRefused) report_unread_file(path, "was not input", status);
    ImageRead failed;
    failed.retstat = scanned;
    return failed;
  }
  return read_gas_file(path, layout, request, choice, status);
}

ImageRead read_gas_file(const std::string& path, const GasLayout& l, const ReadRequest& request,
                        const GasChoice& choice, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  const auto failed = [&result](GasRead why) {
    result.retstat = why;
    return std::move(result);
  };
  if (gas_fits(path, l, request, status) != kGasRead) return failed(kGasTooBig);
  if (l.bits != 16 && l.bits != 32) {
    IO_WRITE("WARNING: Unknown number of bits per pixel (data length)", status);
    report_unread_file(path, "was not input", status);
    return failed(kGasUnknownBits);
  }
  if (choice.image < 1 || choice.image > l.frames) {
    report_unread_file(path, "has no frame " + std::to_string(choice.image), status);
    return result;
  }
  const std::string data_path = path + "hm";
  StreamInput input(data_path);
  if (!input.ok()) {
    IO_WRITE("WARNING: Error in opening histogram memory file", status);
    report_unread_file(data_path, input.problem(), status);
    return failed(kGasNoMemoryFile);
  }
  const int bytes = static_cast<int>(l.bits / 8);
  Index frame = 0, start = 0;
  if (l.nx < 1 || l.ny < 1 || !checked_product(l.nx * l.ny, bytes, frame) ||
      !checked_product(frame, choice.image - 1, start)) {
    report_unread_file(
        path,
        "gives an image size of " + std::to_string(l.nx) + " x " + std::to_string(l.ny) + " pixels",
        status);
    return result;
  }
  start += choice.header_record ? 512 : 0;
  ScratchImage& image = result.image;
  if (!read_detector_pixels(input, data_path,
                            {l.nx, l.ny, start, bytes, choice.is_signed, choice.swap, false},
                            request, image, status))
    return ImageRead{};
  describe_detector_image(path, image);
  result.retstat = 0;
  return result;
}

namespace {

GasChoice gas_state;

}  // namespace

GasChoice& gas_answers() { return gas_state; }

ImageRead gas_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  std::string path;
  if (!ask_input_file("INPUT HEADER FILE NAME",
                      {"Enter the name of input file containing image header data. (Normally",
                       "this is the file without \"hm\" attached to the name.)"},
                      kCouldNotOpen, file_name, path, status))
    return {};
  GasLayout l;
  if (const GasRead scanned = gas_layout(path, l, status); scanned != kGasRead) {
    if (scanned != kGasRefused) report_unread_file(path, "was not input", status);
    return {};
  }
  if (gas_fits(path, l, request, status) != kGasRead) return {};
  IO_WRITE("INFO: This format used to be defined with the binary \"histogramming\"", status);
  IO_WRITE("      memory file starting with a 512-byte header record; newer files", status);
  IO_WRITE("      have none. Answer YES below if the file has it. (Whether the", status);
  IO_WRITE("      byte order and the signedness of the values are right is not", status);
  IO_WRITE("      stated in the file either: check that the answers below are", status);
  IO_WRITE("      correct, which may be a further problem.)", status);
  IO_INPL(true, false, true, true, "BINARY \"HM\" FILE HEADER",
          {"\"YES\" if the binary file starts with a 512-byte header record"}, {"Enter YES or NO"},
          gas_state.header_record, status);
  if (l.frames <= 1)
    gas_state.image = 1;
  else if (!ask_index("IMAGE NUMBER",
                      "Enter number of the required image to input from the image sequence", 1,
                      std::min<Index>(l.frames, 1000000), gas_state.image, status))
    return {};
  IO_INPL(true, false, true, true, "PERFORM BYTE SWAPPING",
          {"\"YES\" if the byte order needs to be changed"}, {"Enter YES or NO"}, gas_state.swap,
          status);
  IO_INPL(true, false, true, true, "SIGNED DATA",
          {"\"YES\" if the data is signed, \"NO\" for unsigned data"}, {"Enter YES or NO"},
          gas_state.is_signed, status);
  if (status != kStatusGood) return {};
  return read_gas_file(path, l, request, gas_state, status);
}

}  // namespace kesta
