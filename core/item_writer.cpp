#include "core/item_writer.hpp"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/io_output.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {

namespace {

constexpr Index kRecord = kItemRecordBytes;
constexpr Status kWriteFailed = 11010;
constexpr Index kMaxHexField = std::numeric_limits<std::int32_t>::max();

// Data records of B data bytes, in integers (B >= 0).
constexpr Index records_for(Index bytes) { return (bytes + kRecord - 1) / kRecord; }

std::string hex(Index value) { return IO_ITOHEX(static_cast<std::int32_t>(value)); }

// Header fields "\name:<count><type fields>" blank-padded to RECORD_BYTES - 1
// with a line feed last; false when they do not fit.
bool build_header(std::string_view name, Index data_records, std::string_view type_fields,
                  Index record_bytes, std::string& buffer) {
  if (record_bytes < 1) return false;
  std::string fields;
  fields += '\\';
  fields += used_text(name);
  fields += ':';
  fields += hex(data_records);
  fields += type_fields;
  if (static_cast<Index>(fields.size()) > record_bytes - 1) return false;
  fields.resize(static_cast<std::size_t>(record_bytes - 1), ' ');
  fields += '\n';
  buffer = std::move(fields);
  return true;
}

// Writes consecutive records from record RECORD on (one seek), checking
// every write.
class RecordSink {
 public:
  RecordSink(int stream, Index record) : file_(io_stream(stream)), ok_(file_ != nullptr) {
    Index offset = 0;
    if (ok_ && (!checked_product(record - 1, kRecord, offset) || !io_seek(file_, offset)))
      ok_ = false;
  }
  void put(const void* bytes) {
    if (ok_ && std::fwrite(bytes, 1, kRecord, file_) != static_cast<std::size_t>(kRecord))
      ok_ = false;
  }
  // Flushes so that a full disk shows up now, not at some later close.
  bool finish() {
    if (ok_ && std::fflush(file_) != 0) ok_ = false;
    return ok_;
  }

 private:
  std::FILE* file_;
  bool ok_;
};

// Fills 512-byte data records from a byte stream, zero-padding the last.
class DataRecords {
 public:
  explicit DataRecords(RecordSink& sink) : sink_(sink) {}
  void append(const void* data, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
      const std::size_t n = std::min(size, buffer_.size() - used_);
      std::memcpy(buffer_.data() + used_, bytes, n);
      used_ += n;
      bytes += n;
      size -= n;
      if (used_ == buffer_.size()) flush();
    }
  }
  void finish() {
    if (used_ == 0) return;
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(used_), buffer_.end(), 0);
    flush();
  }
  Index written() const { return written_; }

 private:
  void flush() {
    sink_.put(buffer_.data());
    used_ = 0;
    ++written_;
  }
  RecordSink& sink_;
  std::array<unsigned char, kRecord> buffer_{};
  std::size_t used_ = 0;
  Index written_ = 0;
};

// Writes one header-only item.
void write_header_item(int stream, const std::string& header, Index& record, Status& status,
                       std::string_view position) {
  if (record < 1) {
    st_fail(status, kBaseCore + 17, position);
    return;
  }
  RecordSink sink(stream, record);
  sink.put(header.data());
  if (!sink.finish()) {
    st_fail(status, kWriteFailed, position);
    return;
  }
  record += 1;
}

// Common checks of the array writers; NX, NY and the byte count B.
bool check_array(std::string_view name, Index xmaxdat, Index ymaxdat, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, std::size_t array_size,
                 Index bytes_per_group, Index elements_per_group, Index record, Index& nx,
                 Index& ny, Index& bytes, Status& status, std::string_view position) {
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          array_size, kBaseCore);
      e != 0) {
    st_fail(status, e, position);
    return false;
  }
  nx = xendelm - xstrelm + 1;
  ny = yendelm - ystrelm + 1;
  Index elements = 0;
  const bool fits = checked_product(nx, ny, elements) &&
                    checked_product((elements + elements_per_group - 1) / elements_per_group,
                                    bytes_per_group, bytes);
  if (!fits || nx > kMaxHexField || ny > kMaxHexField || records_for(bytes) > kMaxHexField) {
    st_fail(status, kBaseCore + 9, position);
    return false;
  }
  if (SLEN(name) > kRecord - 45) {
    st_fail(status, kBaseCore + 33, position);
    return false;
  }
  if (record < 1) {
    st_fail(status, kBaseCore + 17, position);
    return false;
  }
  return true;
}

// Header plus data records of an integer, real or logical array region;
// PUT_ROWS appends the region's data in file order.
template <typename PutRows>
void write_array_item(int stream, std::string_view name, std::string_view letters, Index bits,
                      Index nx, Index ny, Index bytes, Index& record, Status& status,
                      std::string_view position, PutRows put_rows) {
  std::string header;
  const std::string fields = std::string(letters) + hex(bits) + hex(2) + hex(nx) + hex(ny);
  build_header(name, records_for(bytes), fields, kRecord, header);  // size checked by caller
  RecordSink sink(stream, record);
  sink.put(header.data());
  DataRecords data(sink);
  put_rows(data);
  data.finish();
  if (!sink.finish()) {
    st_fail(status, kWriteFailed, position);
    return;
  }
  record += 1 + data.written();
}

// The region's elements row by row, X fastest, as raw 4-byte values.
template <typename T>
void put_region(DataRecords& data, std::span<const T> array, Index xmaxdat, Index xstrelm,
                Index ystrelm, Index nx, Index ny) {
  for (Index y = ystrelm; y < ystrelm + ny; ++y) {
    const T* row = array.data() + element(xstrelm, y, xmaxdat);
    data.append(row, static_cast<std::size_t>(nx) * sizeof(T));
  }
}

// An integer or real array item: 4-byte elements, 32 bits each.
template <typename T>
void write_numeric_array(std::string_view position, std::string_view letters, int stream,
                         std::string_view name, Index xmaxdat, Index ymaxdat, Index xstrelm,
                         Index ystrelm, Index xendelm, Index yendelm, std::span<const T> array,
                         Index& record, Status& status) {
  static_assert(sizeof(T) == 4);
  if (st_bad(status, position)) return;
  Index nx = 0, ny = 0, bytes = 0;
  if (!check_array(name, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size(), 4,
                   1, record, nx, ny, bytes, status, position))
    return;
  write_array_item(stream, name, letters, 32, nx, ny, bytes, record, status, position,
                   [&](DataRecords& data) {
                     put_region(data, array, xmaxdat, xstrelm, ystrelm, nx, ny);
                   });
}

}  // namespace

void IO_ENCODE_INTEGER(std::string_view name, std::int32_t value, int record_bytes,
                       std::string& buffer, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_ENCODE_INTEGER V0.1";
  if (st_bad(status, kPosition)) return;
  if (!build_header(name, 0, "i" + IO_ITOHEX(value), record_bytes, buffer))
    st_fail(status, kBaseCore + 33, kPosition);
}

void IO_ENCODE_REAL(std::string_view name, float value, int record_bytes, std::string& buffer,
                    Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_ENCODE_REAL V0.1";
  if (st_bad(status, kPosition)) return;
  if (!build_header(name, 0, "r" + IO_RTOHEX(value), record_bytes, buffer))
    st_fail(status, kBaseCore + 33, kPosition);
}

void IO_ENCODE_STRING(std::string_view name, std::string_view string, int record_bytes,
                      std::string& buffer, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_ENCODE_STRING V0.1";
  if (st_bad(status, kPosition)) return;
  const std::string value(used_text(string));
  std::string probe;
  if (!build_header(name, 0, "s" + hex(0), record_bytes, probe)) {
    st_fail(status, kBaseCore + 33, kPosition);
    return;
  }
  const std::string fields = "s" + hex(static_cast<Index>(value.size())) + value;
  if (!build_header(name, 0, fields, record_bytes, buffer))
    st_fail(status, kBaseCore + 34, kPosition);
}

void IO_FWRITE_INTEGER(int stream, std::string_view name, std::int32_t value, Index& record,
                       Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_FWRITE_INTEGER V0.1";
  if (st_bad(status, kPosition)) return;
  std::string header;
  IO_ENCODE_INTEGER(name, value, kItemRecordBytes, header, status);
  if (status != kStatusGood) return;
  write_header_item(stream, header, record, status, kPosition);
}

void IO_FWRITE_REAL(int stream, std::string_view name, float value, Index& record,
                    Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_FWRITE_REAL V0.1";
  if (st_bad(status, kPosition)) return;
  std::string header;
  IO_ENCODE_REAL(name, value, kItemRecordBytes, header, status);
  if (status != kStatusGood) return;
  write_header_item(stream, header, record, status, kPosition);
}

void IO_FWRITE_STRING(int stream, std::string_view name, std::string_view string, Index& record,
                      Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_FWRITE_STRING V0.1";
  if (st_bad(status, kPosition)) return;
  std::string header;
  IO_ENCODE_STRING(name, string, kItemRecordBytes, header, status);
  if (status != kStatusGood) return;
  write_header_item(stream, header, record, status, kPosition);
}

void IO_FWRITE_IARRAY(int stream, std::string_view name, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                      std::span<const std::int32_t> array, Index& record, Status& status) {
  write_numeric_array("Subroutine IO_FWRITE_IARRAY V0.1", "ai", stream, name, xmaxdat, ymaxdat,
                      xstrelm, ystrelm, xendelm, yendelm, array, record, status);
}

void IO_FWRITE_RARRAY(int stream, std::string_view name, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                      std::span<const float> array, Index& record, Status& status) {
  write_numeric_array("Subroutine IO_FWRITE_RARRAY V0.1", "ar", stream, name, xmaxdat, ymaxdat,
                      xstrelm, ystrelm, xendelm, yendelm, array, record, status);
}

void IO_FWRITE_L1ARRAY(int stream, std::string_view name, Index xmaxdat, Index ymaxdat,
                       Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const std::uint8_t> array, Index& record, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_FWRITE_L1ARRAY V0.1";
  if (st_bad(status, kPosition)) return;
  Index nx = 0, ny = 0, bytes = 0;
  if (!check_array(name, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size(), 4,
                   31, record, nx, ny, bytes, status, kPosition))
    return;
  write_array_item(stream, name, "al", 1, nx, ny, bytes, record, status, kPosition,
                   [&](DataRecords& data) {
                     // Groups of 31 flags run on across row ends.
                     std::array<std::uint8_t, 31> group{};
                     std::size_t filled = 0;
                     for (Index y = ystrelm; y <= yendelm; ++y) {
                       for (Index x = xstrelm; x <= xendelm; ++x) {
                         group[filled++] = array[element(x, y, xmaxdat)];
                         if (filled == group.size()) {
                           const std::int32_t packed = IO_PACK_INTEGER(group);
                           data.append(&packed, sizeof packed);
                           filled = 0;
                         }
                       }
                     }
                     if (filled > 0) {
                       const std::int32_t packed =
                           IO_PACK_INTEGER(std::span<const std::uint8_t>(group.data(), filled));
                       data.append(&packed, sizeof packed);
                     }
                   });
}

void IO_FWRITE_CARRAY(int stream, std::string_view name, Index max_elements, Index start,
                      Index end, std::span<const std::string> strings, Index& record,
                      Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_FWRITE_CARRAY V0.1";
  if (st_bad(status, kPosition)) return;
  if (max_elements < 1) {
    st_fail(status, kBaseCore + 1, kPosition);
    return;
  }
  if (start < 1 || end > max_elements || start > end ||
      static_cast<std::size_t>(end) > strings.size()) {
    st_fail(status, kBaseCore + 5, kPosition);
    return;
  }
  Index m = 0;
  for (Index i = start; i <= end; ++i)
    m = std::max<Index>(m, SLEN(strings[static_cast<std::size_t>(i - 1)]));
  const Index n = end - start + 1;
  Index bytes = 0;
  if (!checked_product(m, n, bytes) || n > kMaxHexField || records_for(bytes) > kMaxHexField) {
    st_fail(status, kBaseCore + 9, kPosition);
    return;
  }
  if (SLEN(name) > kRecord - 45) {
    st_fail(status, kBaseCore + 33, kPosition);
    return;
  }
  if (record < 1) {
    st_fail(status, kBaseCore + 17, kPosition);
    return;
  }
  std::string header;
  build_header(name, records_for(bytes), "as" + hex(8) + hex(2) + hex(m) + hex(n), kRecord,
               header);
  RecordSink sink(stream, record);
  sink.put(header.data());
  DataRecords data(sink);
  std::string padded;
  for (Index i = start; i <= end; ++i) {
    padded.assign(strings[static_cast<std::size_t>(i - 1)], 0, static_cast<std::size_t>(m));
    padded.resize(static_cast<std::size_t>(m), ' ');
    data.append(padded.data(), padded.size());
  }
  data.finish();
  if (!sink.finish()) {
    st_fail(status, kWriteFailed, kPosition);
    return;
  }
  record += 1 + data.written();
}

std::int32_t IO_PACK_INTEGER(std::span<const std::uint8_t> flags) {
  std::int32_t value = 0;
  const std::size_t n = std::min<std::size_t>(flags.size(), 31);
  for (std::size_t k = 0; k < n; ++k)
    if (flags[k] != 0) value |= std::int32_t{1} << k;
  return value;
}

void IO_UNPACK_INTEGER(std::int32_t value, std::span<std::uint8_t> flags) {
  const std::size_t n = std::min<std::size_t>(flags.size(), 31);
  for (std::size_t k = 0; k < n; ++k) flags[k] = ((value >> k) & 1) != 0 ? 1 : 0;
}

}  // namespace kesta
