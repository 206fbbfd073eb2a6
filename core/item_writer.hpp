#pragma once
// Writer of the keyed binary item file ("Flexible File Format (FFF)"): the
// program's native image files and fit-parameter files. This header is the one
// definition of the layout; the reader must accept exactly what is written.
//
// FILE
//   A sequence of 512-byte records with no record markers, record n at byte
//   offset (n - 1) * 512. The caller opens the file (normally through an
//   AtomicFile registered on a stream number with io_set_stream), keeps the
//   number of the next free record (1 for a fresh file) and passes it to each
//   writer, which advances it past everything it wrote. By convention a file
//   starts with a string item "$FFF_START" naming the kind of file, then a
//   string item "$BIG_ENDIAN" holding "TRUE" or "FALSE" (the byte order of the
//   machine that wrote the array data), and ends with an item "$FFF_END".
//
// HEX FIELD
//   Every number in a header is exactly 8 characters written by IO_ITOHEX:
//   lower-case hex digits of the magnitude, most significant first, with 8
//   added to the first digit for a negative value (sign and magnitude, not
//   two's complement): 255 -> "000000ff", -1 -> "80000001", 1024 -> "00000400".
//
// HEADER RECORD (bytes numbered from 1, L = used length of the item's name)
//   1            '\' (backslash)
//   2 .. L+1     the name as passed (case kept)
//   L+2          ':'
//   L+3 .. L+10  hex field: number of data records after this header
//                ("00000000" for scalars and strings)
//   L+11 ..      type letter(s) and type fields:
//                  integer scalar   "i"  value
//                  real scalar      "r"  the float's 32-bit pattern read as a
//                                        signed int (IO_RTOHEX)
//                  string           "s"  used length S, then the S characters
//                  character array  "as" 8, 2, M (element length), N (elements)
//                  integer array    "ai" 32, 2, NX, NY
//                  real array       "ar" 32, 2, NX, NY
//                  logical array    "al" 1, 2, NX, NY
//                (each field a hex field)
//   .. 511       blanks
//   512          line feed (byte 10)
//   The fields of a scalar header fill bytes 1 .. L+19, of a string header
//   1 .. L+S+19, of an array header 1 .. L+44; they must end by byte 511, so
//   L <= 492 for scalars, L + S <= 492 for strings and L <= 467 for arrays.
//   Longer names or strings are refused with a bad status, nothing written.
//
// DATA RECORDS (arrays only), directly after the header:
//   integer / real arrays: the region's elements, X index fastest, rows from
//     the region's first to its last; 4 bytes each in the writing machine's
//     byte order (int32, or IEEE float32); 128 elements per record.
//   character arrays: each element's first M characters, blank-padded,
//     back to back, 512 bytes per record.
//   logical arrays: the region's flags (one byte each, non-zero = true) in the
//     same X-fastest order, packed 31 to an int32 by IO_PACK_INTEGER (flag k of
//     a group sets bit k-1; bit 31 always 0; the last group padded with false),
//     128 int32s per record in the machine's byte order.
//   The unused rest of the last data record is zero bytes.
//   Data record count = (B + 511) / 512 with B the data's byte count:
//     4 * NX * NY (integer, real), M * N (character),
//     4 * ((NX * NY + 30) / 31) (logical); B = 0 gives 0 records.
//
// FAILURES
//   Every write is checked: a missing stream, a failed or short write, or a
//   failed flush at the end of the item gives STATUS 11010 (what was written
//   may be incomplete; the caller's AtomicFile then must not be committed).
//   Other codes (core base 10000), nothing written: 10001/10002 bad array
//   dimensions (or an array smaller than them), 10005/10006 region outside
//   the array or reversed, 10009 a count that does not fit in a hex field,
//   10017 RECORD below 1, 10033 a name too long for its header, 10034 a
//   string value too long for its header.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kItemRecordBytes = 512;

// Scalar and string items: one header record.
void IO_FWRITE_INTEGER(int stream, std::string_view name, std::int32_t value, Index& record,
                       Status& status);
void IO_FWRITE_REAL(int stream, std::string_view name, float value, Index& record, Status& status);
void IO_FWRITE_STRING(int stream, std::string_view name, std::string_view string, Index& record,
                      Status& status);

// Region XSTRELM..XENDELM x YSTRELM..YENDELM of an XMAXDAT x YMAXDAT
// column-major array: header plus data records.
void IO_FWRITE_IARRAY(int stream, std::string_view name, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                      std::span<const std::int32_t> array, Index& record, Status& status);
void IO_FWRITE_RARRAY(int stream, std::string_view name, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                      std::span<const float> array, Index& record, Status& status);
void IO_FWRITE_L1ARRAY(int stream, std::string_view name, Index xmaxdat, Index ymaxdat,
                       Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const std::uint8_t> array, Index& record, Status& status);

// Elements START..END (1-based) of a text array of MAX_ELEMENTS texts.
// M is the longest used length among them (0 when all are blank).
void IO_FWRITE_CARRAY(int stream, std::string_view name, Index max_elements, Index start,
                      Index end, std::span<const std::string> strings, Index& record,
                      Status& status);

// Header records of the scalar items: BUFFER becomes RECORD_BYTES bytes laid
// out as above, line feed last.
void IO_ENCODE_INTEGER(std::string_view name, std::int32_t value, int record_bytes,
                       std::string& buffer, Status& status);
void IO_ENCODE_REAL(std::string_view name, float value, int record_bytes, std::string& buffer,
                    Status& status);
void IO_ENCODE_STRING(std::string_view name, std::string_view string, int record_bytes,
                      std::string& buffer, Status& status);

// Sum of 2^(k-1) over the non-zero flags among FLAGS(1..31); fewer than 31
// flags count as padded with false, flags beyond the 31st are ignored.
std::int32_t IO_PACK_INTEGER(std::span<const std::uint8_t> flags);
// FLAGS(k) := bit k-1 of VALUE, k = 1 .. min(31, size); the sign bit is ignored.
void IO_UNPACK_INTEGER(std::int32_t value, std::span<std::uint8_t> flags);

}  // namespace kesta
