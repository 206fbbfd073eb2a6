#include "formats/item_reader.hpp"

#include <sys/types.h>

#include <algorithm>
#include <bit>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

namespace {

constexpr Index kRecordBytes = kItemRecordBytes;
using Record = std::array<char, kItemRecordBytes>;

// The open file behind UNIT, its size, and records read from it.
class ItemFile {
 public:
  explicit ItemFile(int unit)
      : file_(io_stream(unit)), size_(std::max<Index>(io_file_size(file_), 0)) {}
  bool open() const { return file_ != nullptr; }
  Index size() const { return size_; }
  // Whole records 1 .. the file holds.
  Index records() const { return size_ / kRecordBytes; }

  // Positions at byte OFFSET (0-based).
  bool seek(Index offset) {
    return io_seek(file_, offset);
  }
  bool read(void* bytes, std::size_t size) {
    return size == 0 || (file_ != nullptr && io_read_bytes(file_, bytes, size) == size);
  }
  // Record R (1-based); false beyond the end of the file or on a read error.
  bool record(Index r, Record& buffer) {
    if (r < 1 || r > records()) return false;
    return seek((r - 1) * kRecordBytes) && read(buffer.data(), buffer.size());
  }

 private:
  std::FILE* file_;
  Index size_ = 0;
};

// An 8-digit hex field of the writer (lower-case digits, sign in the top bit);
// false when the bytes are not such a field.
bool hex_field(const Record& rec, Index start, std::int32_t& value) {
  if (start < 0 || start + 8 > kRecordBytes - 1) return false;
  const std::string_view field(rec.data() + start, 8);
  for (char c : field)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  // The writer's "80000000" is the most negative value (or the float -0.0),
  // whose magnitude it cannot show; every other field is sign and magnitude.
  value = field == "80000000" ? std::numeric_limits<std::int32_t>::min() : IO_HEXTOI(field);
  return true;
}

void damaged(std::string_view name, const std::string& problem, int& retstat, Status& status) {
  IO_WRITE("WARNING: Damaged file item \"" + std::string(name) + "\": " + problem, status);
  retstat = 3;
}

// Search proper, on an open ItemFile.
void search(ItemFile& file, std::string_view name, Index start_record, bool& found, char& type,
            Index& record, int& position, Status& status) {
  found = false;
  type = '!';
  const std::string_view key = used_text(name);
  const Index length = static_cast<Index>(key.size());
  Record rec;
  Index r = std::max<Index>(start_record, 1);
  while (file.record(r, rec)) {
    if (rec[0] != '\\') {
      ++r;
      continue;
    }
    if (length + 11 <= kRecordBytes && std::memcmp(rec.data() + 1, key.data(), key.size()) == 0 &&
        rec[static_cast<std::size_t>(length) + 1] == ':') {
      found = true;
      type = rec[static_cast<std::size_t>(length) + 10];
      position = static_cast<int>(length) + 11;
      record = r;
      return;
    }
    // Skip this item: the count follows its first colon from byte 3 on.
    const char* colon = static_cast<const char*>(std::memchr(rec.data() + 2, ':', kRecordBytes - 2));
    std::int32_t count = -1;
    if (colon == nullptr || !hex_field(rec, (colon - rec.data()) + 1, count) || count < 0) break;
    r += static_cast<Index>(count) + 1;
  }
  IO_WRITE("INFO: File item not found: " + std::string(key), status);
}

// Looks NAME up and reads its header record; RETSTAT 1 not found, 2 another
// type (WANTED '\0' accepts any).
bool header_of(ItemFile& file, std::string_view name, char wanted, int& retstat, Record& rec,
               Index& record, Index& type_index, Status& status) {
  bool found = false;
  char type = '!';
  int position = 0;
  search(file, name, 1, found, type, record, position, status);
  if (!found) {
    retstat = 1;
    return false;
  }
  if (type != wanted) {
    retstat = 2;
    return false;
  }
  if (!file.record(record, rec)) {
    damaged(name, "its header record cannot be read", retstat, status);
    return false;
  }
  type_index = position - 1;  // 0-based index of the type letter
  return true;
}

// The header and sizes of an array item, checked against the data it needs:
// BYTES_FOR(nx, ny, bytes) gives the data's byte count (false on overflow).
// MIN_X is the least first size (1; 0 for character arrays).
template <typename BytesFor>
bool array_header(ItemFile& file, std::string_view name, int& retstat, Index& nx, Index& ny,
                  Index& data_start, Status& status, BytesFor bytes_for, Index min_x = 1) {
  Record rec;
  Index record = 0, t = 0;
  if (!header_of(file, name, 'a', retstat, rec, record, t, status)) return false;
  const Index count_at = t - 8;
  std::int32_t count = 0, sx = 0, sy = 0;
  if (!hex_field(rec, count_at, count) || !hex_field(rec, t + 18, sx) ||
      !hex_field(rec, t + 26, sy)) {
    damaged(name, "its header holds a field that is not a hexadecimal number", retstat, status);
    return false;
  }
  if (sx < 0 || sy < 0 || count < 0) {
    damaged(name, "negative array size " + std::to_string(sx) + " x " + std::to_string(sy) +
                      " or record count " + std::to_string(count),
            retstat, status);
    return false;
  }
  // The writer never makes an empty array (a character array may hold empty
  // texts, so only its count must be 1 or more).
  if (sx < min_x || sy < 1) {
    damaged(name, "empty array size " + std::to_string(sx) + " x " + std::to_string(sy), retstat,
            status);
    return false;
  }
  Index bytes = 0;
  if (!bytes_for(sx, sy, bytes)) {
    damaged(name, "array size " + std::to_string(sx) + " x " + std::to_string(sy) + " overflows",
            retstat, status);
    return false;
  }
  const Index needed = (bytes + kRecordBytes - 1) / kRecordBytes;
  if (needed > count) {
    damaged(name, "array size " + std::to_string(sx) + " x " + std::to_string(sy) + " needs " +
                      std::to_string(needed) + " data records, the header gives " +
                      std::to_string(count),
            retstat, status);
    return false;
  }
  if (record + needed > file.records()) {
    damaged(name, "the file ends " + std::to_string(record + needed - file.records()) +
                      " records before the end of the array (truncated file)",
            retstat, status);
    return false;
  }
  nx = sx;
  ny = sy;
  data_start = record * kRecordBytes;
  return true;
}

void truncation(Index nx, Index ny, Index xmaxdat, Index ymaxdat, int& retstat, Index& xnum,
                Index& ynum, Status& status) {
  if (nx <= xmaxdat && ny <= ymaxdat) {
    retstat = 0;
    xnum = nx;
    ynum = ny;
  } else {
    retstat = -1;
    IO_WRITE(std::string(kArraySizeLine) + format_i(nx, 10) + format_i(ny, 10), status);
    xnum = std::min(xmaxdat, nx);
    ynum = std::min(ymaxdat, ny);
  }
}

// Dimension checks of the array readers.
bool array_room(Index xmaxdat, Index ymaxdat, std::size_t size, std::string_view position,
                Status& status) {
  if (const Status e =
          array_region_error(xmaxdat, ymaxdat, 1, 1, std::max<Index>(xmaxdat, 1),
                             std::max<Index>(ymaxdat, 1), size, kBaseFormats);
      e != 0) {
    st_fail(status, e, position);
    return false;
  }
  return true;
}

// 4-byte values: the data's byte count of an NX x NY array.
bool four_byte_values(Index x, Index y, Index& bytes) {
  Index n = 0;
  return checked_product(x, y, n) && checked_product(n, 4, bytes);
}

// Elements of the buffer through which rows of another stride are read.
constexpr Index kRowChunk = Index{1} << 16;

// 4-byte values of a real or integer array item.
template <typename T>
void read_numeric_array(std::string_view position, int unit, bool swap, std::string_view name,
                        Index xmaxdat, Index ymaxdat, int& retstat, Index& xnum, Index& ynum,
                        std::span<T> array, Status& status) {
  if (st_bad(status, position)) return;
  if (!array_room(xmaxdat, ymaxdat, array.size(), position, status)) return;
  ItemFile file(unit);
  Index nx = 0, ny = 0, start = 0;
  if (!array_header(file, name, retstat, nx, ny, start, status, four_byte_values)) return;
  Index xn = 0, yn = 0;
  int code = 0;
  truncation(nx, ny, xmaxdat, ymaxdat, code, xn, yn, status);
  // Rows of the file are consecutive; whole rows that fit go in one read.
  bool ok = true;
  if (xn == nx && xmaxdat == nx) {
    ok = file.seek(start) && file.read(array.data(), static_cast<std::size_t>(xn * yn) * 4);
  } else if (nx <= kRowChunk) {
    // Rows of another stride than the array's: blocks of whole file rows
    // through a small buffer, one read each, instead of one seek and read
    // per row. The last row needs only its XN values, as a row read would.
    const Index rows = kRowChunk / nx;
    std::vector<T> buffer(static_cast<std::size_t>(rows * nx));
    ok = file.seek(start);
    for (Index y = 1; ok && y <= yn; y += rows) {
      const Index take = std::min(rows, yn - y + 1);
      const Index last = y + take - 1 == yn ? xn : nx;  // values of the block's last row
      ok = file.read(buffer.data(), static_cast<std::size_t>((take - 1) * nx + last) * 4);
      for (Index r = 0; ok && r < take; ++r)
        std::copy_n(buffer.data() + r * nx, xn, array.data() + element(1, y + r, xmaxdat));
    }
  } else {
    for (Index y = 1; ok && y <= yn; ++y)
      ok = file.seek(start + (y - 1) * nx * 4) &&
           file.read(array.data() + element(1, y, xmaxdat), static_cast<std::size_t>(xn) * 4);
  }
  if (!ok) {
    damaged(name, "its data could not be read", retstat, status);
    return;
  }
  // In place: the whole block at once when the rows read are whole rows of
  // the array, else row by row (the gaps keep the caller's values).
  if (swap && xn == xmaxdat)
    swap_bytes(array.first(static_cast<std::size_t>(xn * yn)));
  else if (swap)
    for (Index y = 1; y <= yn; ++y)
      swap_bytes(array.subspan(static_cast<std::size_t>(element(1, y, xmaxdat)),
                               static_cast<std::size_t>(xn)));
  retstat = code;
  xnum = xn;
  ynum = yn;
}

// The hex value of a scalar item of type WANTED; VALUE and RETSTAT are
// changed only when it is read (RETSTAT then left as it was).
void read_scalar(int unit, std::string_view name, char wanted, int& retstat, std::int32_t& value,
                 Status& status) {
  ItemFile file(unit);
  Record rec;
  Index record = 0, t = 0;
  if (!header_of(file, name, wanted, retstat, rec, record, t, status)) return;
  std::int32_t v = 0;
  if (!hex_field(rec, t + 1, v)) {
    damaged(name, "its value is not a hexadecimal number", retstat, status);
    return;
  }
  value = v;
}

}  // namespace

void FIO_FREAD_SEARCHITEM(int unit, std::string_view name, Index start_record, bool& found,
                          char& type, Index& record, int& position, Status& status) {
  if (st_bad(status, "Subroutine FIO_FREAD_SEARCHITEM V0.2")) return;
  ItemFile file(unit);
  search(file, name, start_record, found, type, record, position, status);
}

void FIO_FREAD_INTEGER(int unit, std::string_view name, int& retstat, std::int32_t& value,
                       Status& status) {
  if (st_bad(status, "Subroutine FIO_FREAD_INTEGER V0.2")) return;
  read_scalar(unit, name, 'i', retstat, value, status);
}

void FIO_FREAD_REAL(int unit, std::string_view name, int& retstat, float& value,
                    Status& status) {
  if (st_bad(status, "Subroutine FIO_FREAD_REAL V0.2")) return;
  std::int32_t bits = 0;
  int code = 0;
  read_scalar(unit, name, 'r', code, bits, status);
  if (code == 0)
    value = std::bit_cast<float>(bits);  // the writer's hex field holds the float's bits
  else
    retstat = code;
}

void FIO_FREAD_STRING(int unit, std::string_view name, std::size_t max_length, int& retstat,
                      std::string& string, Status& status) {
  if (st_bad(status, "Subroutine FIO_FREAD_STRING V0.2")) return;
  ItemFile file(unit);
  Record rec;
  Index record = 0, t = 0;
  if (!header_of(file, name, 's', retstat, rec, record, t, status)) return;
  std::int32_t n = 0;
  if (!hex_field(rec, t + 1, n)) {
    damaged(name, "its length is not a hexadecimal number", retstat, status);
    return;
  }
  const Index first = t + 9;
  if (n < 0 || first + n > kRecordBytes - 1) {
    damaged(name, "its length " + std::to_string(n) + " runs past its header record", retstat,
            status);
    return;
  }
  const std::size_t take = std::min(static_cast<std::size_t>(n), max_length);
  string.assign(rec.data() + first, take);
  string.resize(static_cast<std::size_t>(SLEN(string)));
  retstat = static_cast<std::size_t>(n) > max_length ? -1 : 0;
}

void FIO_FREAD_RARRAY(int unit, bool swap, std::string_view name, Index xmaxdat, Index ymaxdat,
                      int& retstat, Index& xnum, Index& ynum, std::span<float> array,
                      Status& status) {
  read_numeric_array("Subroutine FIO_FREAD_RARRAY V0.3", unit, swap, name, xmaxdat, ymaxdat,
                     retstat, xnum, ynum, array, status);
}

void FIO_FREAD_IARRAY(int unit, bool swap, std::string_view name, Index xmaxdat, Index ymaxdat,
                      int& retstat, Index& xnum, Index& ynum, std::span<std::int32_t> array,
                      Status& status) {
  read_numeric_array("Subroutine FIO_FREAD_IARRAY V0.2", unit, swap, name, xmaxdat, ymaxdat,
                     retstat, xnum, ynum, array, status);
}

void fread_array_item(int unit, std::string_view name, int& retstat, Index& nx, Index& ny,
                      Index& data_start, Status& status) {
  if (st_bad(status, "fread_array_item")) return;
  ItemFile file(unit);
  if (array_header(file, name, retstat, nx, ny, data_start, status, four_byte_values)) retstat = 0;
}

void FIO_FREAD_CARRAY(int unit, std::string_view name, std::size_t element_length, int& retstat,
                      Index& num, std::span<std::string> array, Status& status) {
  if (st_bad(status, "Subroutine FIO_FREAD_CARRAY V0.2")) return;
  ItemFile file(unit);
  Index m = 0, n = 0, start = 0;
  if (!array_header(
          file, name, retstat, m, n, start, status,
          [](Index x, Index y, Index& bytes) { return checked_product(x, y, bytes); }, 0))
    return;
  const Index count = std::min(static_cast<Index>(array.size()), n);
  if (count < n) IO_WRITE(std::string(kArraySizeLine) + format_i(m, 10) + format_i(n, 10), status);
  std::vector<char> bytes(static_cast<std::size_t>(count * m));
  if (!file.seek(start) || !file.read(bytes.data(), bytes.size())) {
    damaged(name, "its data could not be read", retstat, status);
    return;
  }
  const std::size_t take = std::min(static_cast<std::size_t>(m), element_length);
  for (Index i = 0; i < count; ++i) {
    std::string& element_text = array[static_cast<std::size_t>(i)];
    if (element_text.size() < take) element_text.resize(take, ' ');
    element_text.replace(0, take, bytes.data() + i * m, take);
    element_text.resize(static_cast<std::size_t>(SLEN(element_text)));
  }
  num = count;
  retstat = count < n ? -1 : 0;
}

void FIO_FREAD_L1ARRAY(int unit, std::string_view name, Index xmaxdat, Index ymaxdat,
                       int& retstat, Index& xnum, Index& ynum, std::span<std::uint8_t> array,
                       Status& status) {
  FIO_FREAD_L1ARRAY(unit, false, name, xmaxdat, ymaxdat, retstat, xnum, ynum, array, status);
}

void FIO_FREAD_L1ARRAY(int unit, bool swap, std::string_view name, Index xmaxdat, Index ymaxdat,
                       int& retstat, Index& xnum, Index& ynum, std::span<std::uint8_t> array,
                       Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_FREAD_L1ARRAY V0.2";
  if (st_bad(status, kPosition)) return;
  if (!array_room(xmaxdat, ymaxdat, array.size(), kPosition, status)) return;
  ItemFile file(unit);
  Index nx = 0, ny = 0, start = 0;
  if (!array_header(file, name, retstat, nx, ny, start, status,
                    [](Index x, Index y, Index& bytes) {
                      Index n = 0;
                      return checked_product(x, y, n) && checked_product((n + 30) / 31, 4, bytes);
                    }))
    return;
  Index xn = 0, yn = 0;
  int code = 0;
  truncation(nx, ny, xmaxdat, ymaxdat, code, xn, yn, status);
  // Flags of the rows read, packed 31 to a word across row ends.
  const Index flags = nx * yn;
  std::vector<std::int32_t> words(static_cast<std::size_t>((flags + 30) / 31));
  if (!file.seek(start) || !file.read(words.data(), words.size() * 4)) {
    damaged(name, "its data could not be read", retstat, status);
    return;
  }
  if (swap)
    for (std::int32_t& w : words)
      w = static_cast<std::int32_t>(__builtin_bswap32(static_cast<std::uint32_t>(w)));
  std::array<std::uint8_t, 31> group{};
  Index k = 0;
  for (Index y = 1; y <= yn; ++y)
    for (Index x = 1; x <= nx; ++x, ++k) {
      if (k % 31 == 0) IO_UNPACK_INTEGER(words[static_cast<std::size_t>(k / 31)], group);
      if (x <= xn) array[static_cast<std::size_t>(element(x, y, xmaxdat))] = group[k % 31];
    }
  retstat = code;
  xnum = xn;
  ynum = yn;
}

}  // namespace kesta
