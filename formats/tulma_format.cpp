#include "formats/tulma_format.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "core/ask_again.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/detector_input.hpp"
#include "formats/fio_stream.hpp"
#include "formats/reader_support.hpp"
#include "formats/region_readers.hpp"

namespace kesta {

namespace {

constexpr Index kHeaderBytes = 1024;
constexpr Index kLastEntryByte = 1021;  // entries end before the closing "}"

struct TulmaHeaderState {
  std::array<char, kHeaderBytes> buffer{};
  Index position = 2;
};
TulmaHeaderState fio_tulma_header;

struct TulmaFiles {
  std::string output = "tulma.wlt";
  int image = 1;
};
TulmaFiles fio_tulma_files;

void fio_add_tulmastringc(std::string_view key, std::string_view value, Status& status) {
  std::string entry(key);
  entry += " = ";
  entry += value;
  entry += ";\n";
  auto& h = fio_tulma_header;
  if (h.position + static_cast<Index>(entry.size()) > kLastEntryByte + 1) {
    st_fail(status, kBaseFormats + 3, "Subroutine FIO_ADD_TULMASTRING V0.1");
    return;
  }
  std::memcpy(h.buffer.data() + h.position, entry.data(), entry.size());
  h.position += static_cast<Index>(entry.size());
}

// The pixel types of the reader.
enum class Pixel { u32, s32, u16, s16, f32 };

struct DataType {
  const char* name;
  Pixel pixel;
  float overload;
};
constexpr std::array<DataType, 8> kDataTypes = {{
    {"UNSIGNEDINTEGER", Pixel::u32, 4294967296.0f},
    {"UNSIGNEDLONG", Pixel::u32, 4294967296.0f},
    {"SIGNEDINTEGER", Pixel::s32, 2147483648.0f},
    {"UNSIGNEDSHORT", Pixel::u16, 65535.0f},
    {"SIGNEDSHORT", Pixel::s16, 32767.0f},
    {"FLOAT", Pixel::f32, 1.7e38f},
    {"FLOATVALUE", Pixel::f32, 1.7e38f},
    {"REAL", Pixel::f32, 1.7e38f},
}};

// The file read byte by byte in 1024-byte pieces; position() is the 0-based
// offset of the next byte.
class ByteSource {
 public:
  explicit ByteSource(std::FILE* file) : file_(file) {}
  // The next byte, or nothing at the end of the file or a read failure.
  std::optional<char> next() {
    if (at_ == size_) {
      if (file_ == nullptr) return std::nullopt;
      start_ += static_cast<Index>(size_);
      size_ = std::fread(piece_.data(), 1, piece_.size(), file_);
      at_ = 0;
      if (size_ == 0) return std::nullopt;
    }
    return piece_[at_++];
  }
  Index position() const { return start_ + static_cast<Index>(at_); }
  // Moves on by N bytes; false when that is not a position of the file.
  bool skip(Index n) {
    if (n <= static_cast<Index>(size_ - at_)) {
      at_ += static_cast<std::size_t>(n);
      return true;
    }
    const Index target = position() + n;
    if (n < 0 || target < 0 || file_ == nullptr || !io_seek(file_, target)) return false;
    start_ = target;
    size_ = at_ = 0;
    return true;
  }

 private:
  std::FILE* file_;
  std::array<char, kHeaderBytes> piece_{};
  std::size_t size_ = 0, at_ = 0;
  Index start_ = 0;
};

// What one header section said.
struct Section {
  Index dim1 = -1, dim2 = -1, size = -1;
  Index image = -1;
  std::optional<bool> big_endian;
  const DataType* type = nullptr;
  bool has_type = false;
};

void conversion_problem(std::string_view key, std::string_view value, Status& status) {
  auto cut = [](std::string_view s) { return std::string(s.substr(0, std::min<std::size_t>(50, s.size()))); };
  IO_WRITE("WARNING: Problem of converting key value", status);
  IO_WRITE("         Keyword = " + cut(key), status);
  IO_WRITE("         Value   = " + cut(value), status);
}

bool to_index(std::string_view text, Index& value) {
  std::int64_t v = 0;
  const std::string_view t = used_text(text);
  if (t.empty() || !read_integer_field(t, v)) return false;
  value = v;
  return true;
}

enum class Entry { ok, refused };

// Applies one entry to the section; a refusal has been explained.
Entry apply_entry(const std::string& key, const std::string& value, Section& s,
                  std::string& title, Status& status) {
  const std::string v = IO_UPPER(used_text(value));
  if (key == "BYTEORDER") {
    if (v == "HIGHBYTEFIRST")
      s.big_endian = true;
    else if (v == "LOWBYTEFIRST")
      s.big_endian = false;
    else
      conversion_problem(key, value, status);
  } else if (key == "COMPRESSION") {
    if (v != "NOSPECIFICVALUE" && v != "NONE") {
      IO_WRITE("WARNING: The image data in this file has been written using a compression", status);
      IO_WRITE("         algorithm. It cannot be input.", status);
      return Entry::refused;
    }
  } else if (key == "DATATYPE") {
    s.has_type = true;
    s.type = nullptr;
    for (const auto& t : kDataTypes)
      if (v == t.name) s.type = &t;
    if (s.type == nullptr) {
      IO_WRITE("WARNING: The image data in this file has been written using an unsupported",
               status);
      IO_WRITE("         data type. It cannot be input.", status);
      return Entry::refused;
    }
  } else if (key == "DIM_1" || key == "DIM_2" || key == "IMAGE" || key == "SIZE") {
    Index n = 0;
    if (!to_index(value, n)) {
      conversion_problem(key, value, status);
    } else if (key == "DIM_1") {
      s.dim1 = n;
    } else if (key == "DIM_2") {
      s.dim2 = n;
    } else if (key == "IMAGE") {
      s.image = n;
    } else {
      s.size = n;
    }
  } else if (key == "HEADERID") {
    const auto eh = v.find("EH:");
    Index n = 0;
    if (eh == std::string::npos || eh + 16 > v.size() || !to_index(v.substr(eh + 10, 6), n))
      conversion_problem(key, value, status);
  } else if (key == "TITLE") {
    title = std::string(used_text(value));
  }
  return Entry::ok;
}

enum class Header { ok, failed, refused };

// Reads one header from after its "{" up to and including the line feed after
// its "}".
Header read_header(ByteSource& in, Section& s, std::string& title, Status& status) {
  for (;;) {
    std::string key;
    std::optional<char> c;
    while ((c = in.next()) && static_cast<unsigned char>(*c) <= '!') {
    }
    bool closed = false;
    for (; c; c = in.next()) {
      if (*c == '}') {
        closed = true;
        break;
      }
      if (*c == '=') break;
      if (key.size() < 64) key += *c;
    }
    if (!c) {
      IO_WRITE("WARNING: Error in reading keyword", status);
      return Header::failed;
    }
    if (closed) {
      in.next();  // the line feed
      return Header::ok;
    }
    std::string value;
    while ((c = in.next()) && static_cast<unsigned char>(*c) <= '!') {
    }
    for (; c && *c != ';' && *c != '!'; c = in.next())
      if (value.size() < 132) value += *c;
    // A comment after "!" runs to the ";" (or the end of its line).
    if (c && *c == '!')
      while ((c = in.next()) && *c != ';' && *c != '\n') {
      }
    if (!c) {
      IO_WRITE("WARNING: Error in reading key value", status);
      return Header::failed;
    }
    const std::string upper = IO_UPPER(used_text(key));
    if (apply_entry(upper, value, s, title, status) == Entry::refused) return Header::refused;
  }
}

// Reads the image of the wanted section into IMAGE; false after a message.
bool read_tulma(std::FILE* file, int stream, const std::string& path, int wanted,
                const ReadRequest& request, ScratchImage& image, Status& status) {
  ByteSource in(file);
  std::string title = path;
  Index last_image = 0;
  Section s;
  for (;;) {
    std::optional<char> c;
    while ((c = in.next()) && *c != '{') {
    }
    if (!c) {
      IO_WRITE("WARNING: Error in reading start of header: image not input", status);
      return false;
    }
    s = Section{};
    const Header h = read_header(in, s, title, status);
    if (h != Header::ok) return false;
    // A section without "Image" follows on from the one before (the first is
    // image 1), so that files of a single unnumbered image read.
    last_image = s.image != -1 ? s.image : last_image + 1;
    if (last_image == wanted) break;
    if (s.size < 1) {
      IO_WRITE("ERROR: The required \"Image\" number has not been found and I think that", status);
      IO_WRITE("       there are no more \"Image\" sections, since the \"Size\" keyword", status);
      IO_WRITE("       has not been found either ", status);
      IO_WRITE(" ", status);
      IO_WRITE("        \"Image\" number " + format_i(last_image, 8) + "was the last found",
               status);
      return false;
    }
    IO_WRITE("INFO: \"Image\" number " + format_i(last_image, 8) +
                 " has been found, continuing search ...",
             status);
    // The section's data is skipped by its size, so that a "{" inside it is
    // not taken for the next header.
    if (!in.skip(s.size)) {
      IO_WRITE("WARNING: Error in reading start of header: image not input", status);
      return false;
    }
  }

  if (s.dim1 < 1 || s.dim2 < 1 || s.type == nullptr) {
    report_unread_file(path,
                       std::string("gives no valid ") +
                           (s.dim1 < 1 ? "Dim_1" : s.dim2 < 1 ? "Dim_2" : "DataType"),
                       status);
    return false;
  }
  if (!s.big_endian) {
    IO_WRITE("INFO: No \"ByteOrder\" in the header: the machine's byte order is assumed", status);
    s.big_endian = IO_BIG_ENDIAN();
  }
  const Index start = in.position() + 1;
  const Index bytes = s.type->pixel == Pixel::u16 || s.type->pixel == Pixel::s16 ? 2 : 4;
  if (!file_holds_image(path, s.dim1, s.dim2, bytes, start, status)) return false;
  if (!scratch_allocate(request, request.variances, path, image, status)) return false;
  warn_partial_image(s.dim1, s.dim2, request, status);
  const bool swap = *s.big_endian != IO_BIG_ENDIAN();
  const Index xmax = request.xmaxdat, ymax = request.ymaxdat;
  const Index nx = std::min(s.dim1, xmax), ny = std::min(s.dim2, ymax);
  constexpr Index kBuffer = 8192;
  std::span<float> out = image.pixels();
  switch (s.type->pixel) {
    case Pixel::f32: {
      std::vector<float> b(kBuffer);
      FIO_INP_2DR4(stream, swap, false, false, false, s.dim1, s.dim2, 1, 1, nx, ny, 1, 1, start,
                   kBuffer, b, xmax, ymax, image.xnumdat, image.ynumdat, out, status);
      break;
    }
    case Pixel::u16:
    case Pixel::s16: {
      std::vector<std::int16_t> b(kBuffer);
      FIO_INP_2DI2(stream, swap, s.type->pixel == Pixel::s16, false, false, false, s.dim1, s.dim2,
                   1, 1, nx, ny, 1, 1, start, kBuffer, b, xmax, ymax, image.xnumdat,
                   image.ynumdat, out, status);
      break;
    }
    default: {
      std::vector<std::int32_t> b(kBuffer);
      FIO_INP_2DI4(stream, swap, s.type->pixel == Pixel::s32, false, false, false, s.dim1, s.dim2,
                   1, 1, nx, ny, 1, 1, start, kBuffer, b, xmax, ymax, image.xnumdat,
                   image.ynumdat, out, status);
      break;
    }
  }
  if (status == 11005) {
    st_reset(status);
    report_unread_file(path, "ends before its image is complete", status);
    return false;
  }
  if (status != kStatusGood) return false;
  image.file_xnum = s.dim1;
  image.file_ynum = s.dim2;
  variances_from_data(image);
  describe_raw_image(image, title);
  image.overload = s.type->overload;
  return true;
}

}  // namespace

void FIO_OPEN_TULMAHEADER() {
  fio_tulma_header.buffer.fill(' ');
  fio_tulma_header.buffer[0] = '{';
  fio_tulma_header.buffer[1] = '\n';
  fio_tulma_header.position = 2;
}

void FIO_ADD_TULMASTRING(int stream, std::string_view key, std::string_view value,
                         Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_ADD_TULMASTRING V0.1";
  if (st_bad(status, kPosition)) return;
  (void)stream;
  if (used_text(key).empty()) {
    st_fail(status, kBaseFormats + 33, kPosition);
    return;
  }
  fio_add_tulmastringc(without_trailing_blanks(key), without_trailing_blanks(value), status);
}

void FIO_ADD_TULMAINTEGER(int stream, std::string_view key, Index value, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_ADD_TULMAINTEGER V0.1";
  if (st_bad(status, kPosition)) return;
  (void)stream;
  if (used_text(key).empty()) {
    st_fail(status, kBaseFormats + 33, kPosition);
    return;
  }
  fio_add_tulmastringc(without_trailing_blanks(key), IO_ITOC(value), status);
}

void FIO_CLOSE_TULMAHEADER(int stream, int& retstat) {
  auto& h = fio_tulma_header;
  std::fill(h.buffer.begin() + h.position, h.buffer.end(), ' ');
  h.buffer[1022] = '}';
  h.buffer[1023] = '\n';
  Index written = 0;
  FIO_FILEWRITEC(stream, kHeaderBytes, kHeaderBytes, 0, std::as_writable_bytes(std::span(h.buffer)),
                 retstat, written);
}

void FIO_OUT_2DR4(int stream, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                  Index xendelm, Index yendelm, std::span<const float> data, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_2DR4 V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  const Index width = xendelm - xstrelm + 1;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    int retstat = 0;
    Index written = 0;
    FIO_FILEWREALC(stream, width, width,
                   data.subspan(static_cast<std::size_t>(element(xstrelm, y, xmaxdat)),
                                static_cast<std::size_t>(width)),
                   retstat, written);
    if (retstat != 0) {
      st_fail(status, 11010, kPosition);
      return;
    }
  }
}

void FIO_OUT_TULMA(std::string_view file_name, Index xmaxdat, Index ymaxdat, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                   int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_TULMA V0.1";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  // The header is built first: nothing is opened for a header that fails.
  FIO_OPEN_TULMAHEADER();
  FIO_ADD_TULMASTRING(0, "HeaderID", "EH:000001:000000:000000", status);
  FIO_ADD_TULMAINTEGER(0, "Image", 1, status);
  FIO_ADD_TULMASTRING(0, "ByteOrder", IO_BIG_ENDIAN() ? "HighByteFirst" : "LowByteFirst", status);
  FIO_ADD_TULMASTRING(0, "DataType", "FLOAT", status);
  FIO_ADD_TULMAINTEGER(0, "Dim_1", xendelm - xstrelm + 1, status);
  FIO_ADD_TULMAINTEGER(0, "Dim_2", yendelm - ystrelm + 1, status);
  if (status != kStatusGood) return;

  int open = 0, stream = 0;
  FIO_FILEOPEN(file_name, "WRITE", open, stream, status);
  if (status != kStatusGood) return;
  if (open != 0) {
    // A failed open (3) has been said by the opener with the file and why.
    if (open != 3)
      IO_WRITE("WARNING: Error in opening file " + std::string(file_name) +
                   ": another output file is still open",
               status);
    return;
  }
  int written = 0;
  FIO_CLOSE_TULMAHEADER(stream, written);
  if (written == 0) FIO_OUT_2DR4(stream, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                 data, status);
  const bool wrote = written == 0 && status == kStatusGood;
  if (status == 11010) st_reset(status);
  int closed = 0;
  FIO_FILECLOSEC(stream, closed);
  // A close that failed has said so, with the file and the reason.
  if (closed != 0) {
    if (status == kStatusGood) st_fail(status, kBaseCore + 1010, kPosition);
    return;
  }
  if (!wrote) {
    IO_WRITE("WARNING: Error in writing file " + std::string(file_name) +
                 "; an existing file is left unchanged",
             status);
    return;
  }
  retstat = 0;
}

void fio_out_tulma_asked(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, std::span<const float> data,
                         Status& status) {
  OfferedAnswer name(fio_tulma_files.output);
  io_input_file_name(true, "OUTPUT FILE NAME", {"Name of file to contain output data"},
                     {"Unacceptable input"}, 11, fio_tulma_files.output, status);
  if (status != kStatusGood) return;
  int trans = 0;
  std::string path;
  IO_TRANS_PATH(fio_tulma_files.output, trans, path, status);
  if (status != kStatusGood) return;
  if (trans != 0) {
    IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
    name.refuse();
    return;
  }
  int retstat = 0;
  FIO_OUT_TULMA(path, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, retstat,
                status);
  if (retstat != 0) name.refuse();  // no file was made with it
}

void FIO_IS_TULMA(std::string_view file_name, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine FIO_IS_TULMA V0.3")) return;
  fio_sniff_brace_header(file_name, retstat, status);
}

ImageRead read_tulma_file(const std::string& path, const ReadRequest& request, int image_number,
                          Status& status) {
  ImageRead result;
  int stream = 0;
  if (!fio_open_input(path, stream, status)) return result;
  const FioInputClose close(stream);
  if (read_tulma(fio_input_file(), stream, path, image_number, request, result.image, status))
    result.retstat = 0;
  return result;
}

ImageRead tulma_keyboard_read(const ReadRequest& request, std::string& file_name,
                              Status& status) {
  std::string path;
  if (!ask_input_file("\"TULMA\" (limited OZWA) DATA FILE NAME",
                      {"Name of file containing \"TULMA\" (OZWA sub-set) format data"},
                      kRetypeName, file_name, path, status))
    return {};
  int number = fio_tulma_files.image;
  IO_INPI(true, 1, 99999, true, "IMAGE NUMBER", {"Index number of required image"},
          {"Enter valid integer within given range"}, number, status);
  if (status != kStatusGood) return {};
  fio_tulma_files.image = number;
  return read_tulma_file(path, request, number, status);
}

void FIO_IN_TULMA(bool name_given, const ImageTarget& target, std::string& file_name,
                  int& retstat, float& overload_value, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_TULMA V0.20";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (target_refused(target, kBaseFormats, kPosition, status)) return;
  const ReadRequest request{target.xmaxdat, target.ymaxdat, target.variances_exist};
  std::string path;
  ImageRead read;
  if (!name_given)
    read = tulma_keyboard_read(request, file_name, status);
  else if (input_path(file_name, path, status))
    read = read_tulma_file(path, request, 1, status);
  if (!read.ok() || status != kStatusGood) return;
  overload_value = read.image.overload.value_or(overload_value);
  commit_image(read.image, target);
  retstat = 0;
}

}  // namespace kesta
