#include "formats/cdd_codec.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/ask_again.hpp"
#include "core/atomic_file.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "formats/detector_input.hpp"
#include "formats/reader_support.hpp"

namespace kesta {

namespace {

constexpr std::size_t kRecord = 512;
constexpr std::size_t kHeaderText = 64;  // the text and its closing blank
constexpr std::int64_t kLargestDifference = 32915;

struct CddFiles {
  std::string output = "kesta.cdd";
  std::string input = "kesta.cdd";
};
CddFiles fio_cdd_files;

// Nibbles into 512-byte records, low half first.
class NibbleWriter {
 public:
  explicit NibbleWriter(std::FILE* file) : file_(file) {}
  void start(const std::byte* header, std::size_t size) {
    std::memcpy(buffer_.data(), header, size);
    at_ = size;
  }
  void put(unsigned nibble) {
    if (!high_) {
      held_ = nibble;
      high_ = true;
      return;
    }
    buffer_[at_++] = static_cast<std::byte>(held_ | (nibble << 4));
    high_ = false;
    if (at_ == kRecord) flush();
  }
  // Stores a held low nibble, zero-fills and writes the last record. False
  // when a write failed, with errno the reason of the first that did.
  bool finish() {
    if (high_) {
      buffer_[at_++] = static_cast<std::byte>(held_);
      high_ = false;
    }
    if (at_ > 0) {
      std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(at_), buffer_.end(), std::byte{0});
      at_ = kRecord;
      flush();
    }
    if (!ok_) errno = error_;
    return ok_;
  }

 private:
  void flush() {
    errno = 0;
    if (std::fwrite(buffer_.data(), 1, kRecord, file_) != kRecord && ok_) {
      ok_ = false;
      error_ = errno;
    }
    at_ = 0;
  }
  std::FILE* file_;
  std::array<std::byte, kRecord> buffer_{};
  std::size_t at_ = 0;
  unsigned held_ = 0;
  bool high_ = false;
  bool ok_ = true;
  int error_ = 0;
};

// The code of difference D (|D| <= 32915).
void put_difference(NibbleWriter& out, std::int64_t d) {
  const bool negative = d < 0;
  std::int64_t m = negative ? -d : d;
  if (m <= 21) {
    while (m > 7) {
      out.put(8);
      m -= 7;
    }
    out.put(static_cast<unsigned>(negative && m != 0 ? m + 8 : m));
    return;
  }
  out.put(8);
  out.put(8);
  out.put(8);
  if (m <= 148) {
    const unsigned b = static_cast<unsigned>(m - 21) | (negative ? 0x80u : 0u);
    out.put(b & 15u);
    out.put(b >> 4);
    return;
  }
  out.put(0);
  out.put(8);
  const unsigned w = static_cast<unsigned>(m - 148) | (negative ? 0x8000u : 0u);
  for (int shift = 0; shift < 16; shift += 4) out.put((w >> shift) & 15u);
}

// A pixel as the integer the format stores; false when it has none.
bool stored_integer(float v, std::int64_t& n) {
  const double r = std::round(static_cast<double>(v));
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return false;
  n = static_cast<std::int64_t>(r);
  return true;
}

// Nibbles from the file, low half of each byte first.
class NibbleReader {
 public:
  NibbleReader(std::FILE* file, std::span<const std::byte> first) : file_(file) {
    std::memcpy(buffer_.data(), first.data(), first.size());
    size_ = first.size();
  }
  // The next nibble, or -1 at the end of the file.
  int get() {
    if (high_) {
      high_ = false;
      return static_cast<int>(current_ >> 4);
    }
    if (at_ == size_) {
      size_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
      at_ = 0;
      if (size_ == 0) return -1;
    }
    current_ = static_cast<unsigned>(buffer_[at_++]);
    high_ = true;
    return static_cast<int>(current_ & 15u);
  }

 private:
  std::FILE* file_;
  std::array<std::byte, 65536> buffer_{};
  std::size_t size_ = 0, at_ = 0;
  unsigned current_ = 0;
  bool high_ = false;
};

enum class Code { ok, end, no_code };

// The next difference.
Code get_difference(NibbleReader& in, std::int64_t& d) {
  std::int64_t base = 0;
  for (int level = 0; level < 3; ++level) {
    const int n = in.get();
    if (n < 0) return Code::end;
    if (n != 8) {
      d = n < 8 ? base + n : -(base + n - 8);
      return Code::ok;
    }
    base += 7;
  }
  const int lo = in.get(), hi = in.get();
  if (lo < 0 || hi < 0) return Code::end;
  const int b = lo | (hi << 4);
  if (b != 0x80) {
    d = (b & 0x80) != 0 ? -(21 + (b & 0x7f)) : 21 + (b & 0x7f);
    return Code::ok;
  }
  int w = 0;
  for (int shift = 0; shift < 16; shift += 4) {
    const int q = in.get();
    if (q < 0) return Code::end;
    w |= q << shift;
  }
  if (w == 0x8000) return Code::no_code;
  d = (w & 0x8000) != 0 ? -(148 + (w & 0x7fff)) : 148 + (w & 0x7fff);
  return Code::ok;
}

bool field_after(std::string_view text, std::string_view key, std::size_t width, Index& value) {
  const auto at = text.find(key);
  if (at == std::string_view::npos || at + key.size() + width > text.size()) return false;
  std::int64_t v = 0;
  if (!read_integer_field(text.substr(at + key.size(), width), v)) return false;
  value = v;
  return true;
}

}  // namespace

bool cdd_encode(std::FILE* file, Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::span<const float> data, Status& status) {
  auto refuse = [&](Index x, Index y, const char* why) {
    IO_WRITE("ERROR: The value of pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") " +
                 why + " in compressed diffraction data; nothing has been written",
             status);
    return false;
  };
  auto value = [&](Index x, Index y) { return data[static_cast<std::size_t>(element(x, y, xmaxdat))]; };
  // A value that is not a number is not one beyond the integers: named so.
  const auto not_stored = [](float v) {
    return std::isnan(v)   ? "is NaN, not a finite number, and cannot be stored"
           : std::isinf(v) ? (v > 0 ? "is +Infinity, not a finite number, and cannot be stored"
                                    : "is -Infinity, not a finite number, and cannot be stored")
                           : "lies outside 32-bit integers and cannot be stored";
  };
  std::int64_t c1 = 0;
  if (!stored_integer(value(xstrelm, ystrelm), c1))
    return refuse(xstrelm, ystrelm, not_stored(value(xstrelm, ystrelm)));
  std::string text = "CDD V01.00A X NUMBER =" + format_i(xendelm - xstrelm + 1, 8) +
                     "; Y NUMBER =" + format_i(yendelm - ystrelm + 1, 8) + "; DATA (C1) =";
  text.resize(kHeaderText, ' ');
  std::array<std::byte, kHeaderText + 4> header{};
  std::memcpy(header.data(), text.data(), kHeaderText);
  const auto u = static_cast<std::uint32_t>(static_cast<std::int32_t>(c1));
  for (int i = 0; i < 4; ++i) header[kHeaderText + i] = static_cast<std::byte>((u >> (8 * i)) & 0xffu);
  NibbleWriter out(file);
  out.start(header.data(), header.size());
  std::int64_t p = c1;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = data.data() + element(1, y, xmaxdat);
    std::int64_t first = 0;
    for (Index x = xstrelm; x <= xendelm; ++x) {
      std::int64_t v = 0;
      if (!stored_integer(row[x - 1], v)) return refuse(x, y, not_stored(row[x - 1]));
      const std::int64_t d = v - p;
      if (d > kLargestDifference || d < -kLargestDifference)
        return refuse(x, y, "differs by more than 32915 from the one before and cannot be coded");
      put_difference(out, d);
      p = v;
      if (x == xstrelm) first = v;
    }
    p = first;
  }
  if (!out.finish()) return false;
  return true;
}

bool cdd_decode(std::FILE* file, const std::string& name, const ReadRequest& request,
                ScratchImage& image, Status& status) {
  const Index xmaxdat = request.xmaxdat, ymaxdat = request.ymaxdat;
  std::array<std::byte, kRecord> first{};
  const std::size_t got = std::fread(first.data(), 1, first.size(), file);
  const std::string_view text(reinterpret_cast<const char*>(first.data()),
                              std::min(got, kHeaderText));
  if (text.substr(0, 5) != "CDD V") {
    IO_WRITE("WARNING: The file is not a \"Compressed Diffraction Data\" file", status);
    return false;
  }
  Index nx = 0, ny = 0;
  const auto c1_at = text.find("DATA (C1) =");
  if (!field_after(text, "X NUMBER =", 8, nx) || !field_after(text, "Y NUMBER =", 8, ny) ||
      nx < 1 || ny < 1 || c1_at == std::string_view::npos || got < c1_at + 16) {
    IO_WRITE("WARNING: The header of " + std::string(name) + " is damaged; the data are unchanged",
             status);
    return false;
  }
  IO_WRITE("INFO: Size of image = " + format_i(nx, 8) + " times " + format_i(ny, 8) + " pixels",
           status);
  const std::size_t c1_byte = c1_at + 12;
  std::uint32_t u = 0;
  for (std::size_t i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(first[c1_byte + i]) << (8 * i);
  const Index xn = std::min(nx, xmaxdat), yn = std::min(ny, ymaxdat);
  if (!scratch_allocate(request, request.variances, name, image, status)) return false;
  warn_partial_image(nx, ny, request, status);
  NibbleReader in(file, std::span<const std::byte>(first).subspan(c1_byte + 4, got - c1_byte - 4));
  std::int64_t p = static_cast<std::int32_t>(u);
  for (Index y = 1; y <= yn; ++y) {
    float* row = image.data.get() + element(1, y, xmaxdat);
    std::int64_t first_value = 0;
    for (Index x = 1; x <= nx; ++x) {
      std::int64_t d = 0;
      const Code code = get_difference(in, d);
      if (code != Code::ok) {
        IO_WRITE(code == Code::end
                     ? "WARNING: " + std::string(name) + " ends before its image is complete"
                     : "ERROR: NOT IMPLEMENTED: " + std::string(name) +
                           " holds a code that this format does not have",
                 status);
        IO_WRITE("         (the file is damaged; the data are unchanged)", status);
        return false;
      }
      p += d;
      if (x == 1) first_value = p;
      if (x <= xn) row[x - 1] = static_cast<float>(p);
    }
    p = first_value;
  }
  image.xnumdat = xn;
  image.ynumdat = yn;
  variances_from_data(image);
  describe_raw_image(image, name);
  return true;
}

void FIO_OUT_CDD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_CDD V0.4";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  OfferedAnswer name(fio_cdd_files.output);
  io_input_file_name(true, "OUTPUT FILE NAME", {"Name of file to contain output data"},
                     {"Unacceptable input"}, 11, fio_cdd_files.output, status);
  if (status != kStatusGood) return;
  std::string path;
  int trans = 0;
  IO_TRANS_PATH(fio_cdd_files.output, trans, path, status);
  if (status != kStatusGood) return;
  if (trans != 0) {
    IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
    name.refuse();
    return;
  }
  AtomicFile out(path);
  if (!out.ok()) {
    report_output_open_failure(out, status);
    name.refuse();
    return;
  }
  if (!cdd_encode(out.stream(), xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, status)) {
    // A value without a code has been said; a write that failed is said
    // here, as every writer says it.
    if (std::ferror(out.stream()) == 0) {
      out.abandon();
      return;
    }
    out.fail();
    report_output_write_failure(out, kPosition, status);
    return;
  }
  if (!out.commit()) {
    report_output_write_failure(out, kPosition, status);
    return;
  }
  retstat = 0;
}

ImageRead cdd_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  ImageRead result;
  std::string path;
  InputFile file;
  if (!ask_input_file("DATA FILE NAME", {"Name of file containing compressed diffraction data"},
                      kRetypeName, file_name, path, status, &file))
    return result;
  if (cdd_decode(file.get(), path, request, result.image, status)) result.retstat = 0;
  return result;
}

void FIO_IN_CDD(const ImageTarget& target, int& retstat, Status& status) {
  read_into_target(cdd_keyboard_read, target, fio_cdd_files.input, retstat,
                   "Subroutine FIO_IN_CDD V0.6", status);
}

}  // namespace kesta
