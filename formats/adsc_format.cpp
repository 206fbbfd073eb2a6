#include "formats/adsc_format.hpp"

#include <map>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/detector_input.hpp"
#include "formats/reader_support.hpp"

namespace kesta {

namespace {

// The header's items, keys upper case; false after the message when the file
// ends before the header does.
bool read_items(const std::vector<char>& bytes, std::map<std::string, std::string>& items,
                Status& status) {
  std::size_t at = 0;
  while (at < bytes.size() && bytes[at] != '{') ++at;
  if (at == bytes.size()) {
    IO_WRITE("WARNING: Error in reading start of header: image not input", status);
    return false;
  }
  ++at;
  for (;;) {
    std::string key;
    while (at < bytes.size() && bytes[at] != '=' && bytes[at] != '}') {
      if (bytes[at] > '!' && key.size() < 64) key.push_back(bytes[at]);
      ++at;
    }
    if (at == bytes.size()) {
      IO_WRITE("WARNING: Error in reading keyword", status);
      return false;
    }
    if (bytes[at] == '}') return true;
    ++at;
    while (at < bytes.size() && bytes[at] <= '!' && bytes[at] != ';') ++at;
    std::string value;
    while (at < bytes.size() && bytes[at] != ';') {
      if (value.size() < 132) value.push_back(bytes[at]);
      ++at;
    }
    if (at == bytes.size()) {
      IO_WRITE("WARNING: Error in reading key value", status);
      return false;
    }
    ++at;
    items[IO_UPPER(key)] = std::string(used_text(value));
  }
}

// The integer value of KEY; absent keys leave VALUE, a value that is not an
// integer is reported and leaves it too.
bool integer_item(const std::map<std::string, std::string>& items, const std::string& key,
                  Index& value, Status& status) {
  const auto it = items.find(key);
  if (it == items.end()) return false;
  if (leading_integer(it->second, value)) return true;
  IO_WRITE("WARNING: Problem of converting key value", status);
  IO_WRITE("         Keyword = " + key.substr(0, 50), status);
  IO_WRITE("         Value   = " + it->second.substr(0, 50), status);
  return false;
}

}  // namespace

ImageRead read_adsc_file(const std::string& path, const ReadRequest& request, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  if (!input_opened(input, path, status)) return result;
  // The header lies before the pixels; its length is not known before it is
  // read, so the first 64 kB (or the whole file) are searched.
  std::vector<char> bytes(static_cast<std::size_t>(std::min<Index>(input.size(), 65536)));
  std::map<std::string, std::string> items;
  if (!input.read(0, bytes.data(), static_cast<Index>(bytes.size())) ||
      !read_items(bytes, items, status)) {
    report_unread_file(path, "ends inside its header", status);
    return result;
  }
  bool big = IO_BIG_ENDIAN();
  if (const auto it = items.find("BYTE_ORDER"); it == items.end()) {
    IO_WRITE("INFO: No BYTE_ORDER in the header: the machine's byte order is used", status);
  } else if (IO_UPPER(it->second) == "BIG_ENDIAN" || IO_UPPER(it->second) == "LITTLE_ENDIAN") {
    big = IO_UPPER(it->second) == "BIG_ENDIAN";
  } else {
    IO_WRITE("WARNING: Problem of converting key value", status);
    IO_WRITE("         Keyword = BYTE_ORDER", status);
    IO_WRITE("         Value   = " + it->second.substr(0, 50), status);
  }
  if (const auto it = items.find("TYPE"); it == items.end()) {
    IO_WRITE("INFO: No TYPE in the header: unsigned 2-byte integers are read", status);
  } else if (IO_UPPER(it->second) != "UNSIGNED_SHORT") {
    IO_WRITE("WARNING: The image data in this file has been written using an unsupported", status);
    IO_WRITE("         data type. It cannot be input.", status);
    report_unread_file(path, "was not input", status);
    return result;
  }
  Index dim = 2, header = -1, size1 = -1, size2 = -1;
  integer_item(items, "DIM", dim, status);
  if (dim != 2) {
    IO_WRITE("ERROR: Only 2-dimensional data supported at present", status);
    report_unread_file(path, "was not input", status);
    return result;
  }
  if (!integer_item(items, "HEADER_BYTES", header, status) || header < 0) {
    IO_WRITE("ERROR: The size of header was not found", status);
    report_unread_file(path, "was not input", status);
    return result;
  }
  const bool sized = integer_item(items, "SIZE1", size1, status);
  if (!integer_item(items, "SIZE2", size2, status) || !sized) {
    IO_WRITE("ERROR: The size of the image was not found", status);
    report_unread_file(path, "was not input", status);
    return result;
  }
  ScratchImage& image = result.image;
  if (!read_detector_pixels(input, path,
                            {size1, size2, header, 2, false, big != IO_BIG_ENDIAN(), false},
                            request, image, status))
    return ImageRead{};
  describe_detector_image(path, image);
  image.overload = 65535.0f;
  result.retstat = 0;
  return result;
}

ImageRead adsc_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  std::string path;
  if (!ask_input_file("ADSC DETECTOR DATA FILE NAME",
                      {"Name of file containing ADSC detector format data"}, kRetypeName, file_name,
                      path, status))
    return {};
  return read_adsc_file(path, request, status);
}

void FIO_IS_ADSC(std::string_view file_name, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine FIO_IS_ADSC V0.1")) return;
  fio_sniff_brace_header(file_name, retstat, status);
}

}  // namespace kesta
