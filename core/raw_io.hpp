#pragma once
// Raw two-dimensional integer images read into and written from the
// program's real arrays, the minimum and maximum of a region, and the next
// line of a text stream.
//
// Input image layout: XNUMIN x YNUMIN elements of 1, 2 or 4 bytes stored row
// by row (X fastest) from byte BYTE_OFFSET (1-based) of the file on STREAM:
// element (x, y) starts at byte BYTE_OFFSET + size * ((y-1) * XNUMIN + (x-1)).
// The file is read at these byte positions; record boundaries do not matter,
// RECORD_BYTES only sizes the work buffer.
//
// Output layout (IO_UWRITE_RARRAY): consecutive records of RECORD_BYTES bytes
// from record RECORD (byte offset (RECORD-1) * RECORD_BYTES), each holding
// RECORD_BYTES / BYTES unsigned (1, 2 bytes) or signed (4 bytes) integers in
// the byte order asked for; unused bytes are zero.

#include <bit>
#include <cstdio>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/ask_again.hpp"
#include "core/text_lines.hpp"
#include "core/types.hpp"

namespace kesta {

// The elements of a region that are not finite, by kind: what the scaled
// writers say they wrote, and what the operations that cannot take them
// refuse. The region is assumed checked.
struct NonFinitePixels {
  Index nan = 0, plus = 0, minus = 0;
  Index total() const { return nan + plus + minus; }
};
NonFinitePixels non_finite_pixels(std::span<const float> array, Index xmaxdat, Index xstrelm,
                                  Index ystrelm, Index xendelm, Index yendelm);

// What a writer wrote for each kind of value that is not finite.
struct NonFiniteWritten {
  std::string nan, plus, minus;
};
// The one line of every writer that wrote values that are not finite, so
// that they are not taken for real values of the file: their number, named
// NOUN ("pixel", "value"), and what each kind present was written as, e.g.
// "INFO: 2 pixels are not finite: 1 NaN written as 0, 1 +Infinity written as
// 65535". Nothing when FOUND holds none.
void io_write_non_finite_line(const NonFinitePixels& found, std::string_view noun,
                              const NonFiniteWritten& written, Status& status);

// The one line of every writer that wrote finite values beyond what it can
// hold as its extreme values, so that they are not taken for the image's
// own: their number and how many lay on each side, e.g. "INFO: 3 pixels are
// outside the scaling range (0.0 to 100.0000): 1 below written as 0, 2 above
// written as 65535". RANGE names the values held ("what the file holds (0
// to 65535)"); LOW_AS and HIGH_AS are what the two sides were written as.
// Nothing when both counts are 0.
void io_write_clipped_line(Index below, Index above, std::string_view range,
                           std::string_view low_as, std::string_view high_as, Status& status);

// The byte swap of 2-, 4- and 8-byte values shared by the binary readers and
// writers.
template <typename T>
constexpr T byte_swapped(T value) {
  static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
  if constexpr (sizeof(T) == 2) {
    return std::bit_cast<T>(__builtin_bswap16(std::bit_cast<std::uint16_t>(value)));
  } else if constexpr (sizeof(T) == 4) {
    return std::bit_cast<T>(__builtin_bswap32(std::bit_cast<std::uint32_t>(value)));
  } else {
    return std::bit_cast<T>(__builtin_bswap64(std::bit_cast<std::uint64_t>(value)));
  }
}
template <typename T>
void swap_bytes(std::span<T> values) {
  for (T& v : values) v = byte_swapped(v);
}

// Positions FILE at the 0-based byte OFFSET with 64-bit offsets; false for a
// negative offset, one beyond the system's file offsets, or a failed seek.
bool io_seek(std::FILE* file, Index offset);

// The real value of one stored pixel: integers read as signed or unsigned,
// reals as they are.
template <typename T>
constexpr float raw_pixel_value(T value, bool is_signed) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<float>(value);
  } else {
    using U = std::make_unsigned_t<T>;
    return is_signed ? static_cast<float>(value) : static_cast<float>(static_cast<U>(value));
  }
}

// Readers: the region XSTRELM..XENDELM x YSTRELM..YENDELM of the input image
// (after the flips: with XFLIP input column XNUMIN-x+1 stands for x, with
// YFLIP likewise in Y) goes into DATA with its first element at (1, 1).
// Values are signed, or unsigned when SIGNED is false; SWAP reverses the bytes
// of each element. Only the part that fits the XMAXDAT x YMAXDAT array is
// stored; XNUMDAT, YNUMDAT become the stored extent. WORK (WORK_SIZE elements,
// at least one record) is the read buffer.
// STATUS 110000 plus: 1, 2 bad dimensions (or DATA smaller than them); 17, 18
// XNUMIN/YNUMIN below 1, XSTRELM/YSTRELM below 1, XBIN/YBIN below 1;
// 5, 6 the region beyond the image or reversed; 17 RECORD_BYTES or BYTE_OFFSET
// below 1, or an image whose byte extent overflows; 13 the work buffer smaller
// than a record. Bins other than 1 give an error line and STATUS 9999. A file
// too short for the region gives 111001, another read failure (or no stream)
// 111011; DATA may then be partly filled.
void IO_INP_2DBYTE(int stream, bool is_signed, bool xflip, bool yflip, Index xnumin, Index ynumin,
                   Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, Index xbin,
                   Index ybin, Index record_bytes, Index byte_offset, Index work_size,
                   std::span<std::int8_t> work, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                   Index& ynumdat, std::span<float> data, Status& status);
void IO_INP_2DI2(int stream, bool swap, bool is_signed, bool xflip, bool yflip, Index xnumin,
                 Index ynumin, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                 Index xbin, Index ybin, Index record_bytes, Index byte_offset, Index work_size,
                 std::span<std::int16_t> work, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                 Index& ynumdat, std::span<float> data, Status& status);
void IO_INP_2DI4(int stream, bool swap, bool is_signed, bool xflip, bool yflip, Index xnumin,
                 Index ynumin, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                 Index xbin, Index ybin, Index record_bytes, Index byte_offset, Index work_size,
                 std::span<std::int32_t> work, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                 Index& ynumdat, std::span<float> data, Status& status);

// Writes the region as integers of BYTES bytes scaled from LOWER..UPPER
// (asked for first with ASK_RANGE), rows in order (REVERSE: last row first)
// or, with BY_COLUMNS, columns. With FULL_RECORDS each row (column) is padded
// with the bottom value to whole records; a row longer than one record spans
// as many as it needs, none of its values dropped. RECORD advances per record
// written. NaN is written as LOWER and the infinities clipped, and after a
// write that holds any of them one INFO line gives their number and the
// integers each kind was written as; a second line gives the number of
// finite values beyond the range that were written as its end values (the
// values outside the range it names, which for 4 bytes is as wide on both
// sides), and a region whose finite values are all one value inside the
// range has a line saying what they were all written as.
// STATUS 10000 plus: 1, 2 bad dimensions (or ARRAY smaller than them); 5, 6
// bad region; 17 RECORD_BYTES below 1 or BYTES not 1, 2, 4 (with a terminal
// line); 9 RECORD_BYTES above 12000; 33 DATA_TYPE not "I"; 13 a scale that is
// undefined (UPPER equal to LOWER for 1 and 2 bytes, both 0 for 4 bytes, or
// not finite). With ASK_RANGE a question that gave a bad status leaves it as
// it is and writes nothing. A write failure is reported on the terminal and
// by FAILED, errno left at the system's code and STATUS staying good.
void IO_UWRITE_RARRAY(bool ask_range, int stream, Index xmaxdat, Index ymaxdat, Index xstrelm,
                      Index ystrelm, Index xendelm, Index yendelm, std::span<const float> array,
                      Index record_bytes, std::string_view data_type, int bytes, bool big_endian,
                      bool full_records, bool by_columns, bool reverse, Index& record,
                      float& lower, float& upper, bool& failed, Status& status);

// IO_UWRITE_RARRAY with LOWER and UPPER as given and data type "I", for a
// writer whose own report names the file that could not be written (the
// AtomicFile's): a failed write sets FAILED and leaves the system's code in
// errno, without IO_UWRITE_RARRAY's lines. Its lines on the values written
// (not finite, clipped, a constant image) are the same.
void io_uwrite_region(int stream, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                      Index xendelm, Index yendelm, std::span<const float> array,
                      Index record_bytes, int bytes, bool big_endian, bool full_records,
                      bool by_columns, bool reverse, Index& record, float lower, float upper,
                      bool& failed, Status& status);

// Smallest and largest value of the region, infinities included, from the
// first value met (core/extremes.hpp); NaN values are passed over, and a
// region of NaN alone gives the start values 1.7e38 and -1.7e38. STATUS 10001/10002/10005/10006 for a bad region.
void IO_RMINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, float& minimum, float& maximum,
                Status& status);

// What a writer that scales the region onto integers knows of its values:
// MINIMUM and MAXIMUM as IO_RMINMAX gives them (infinite values included),
// which the INFO lines show; FINITE_MIN and FINITE_MAX over the finite values
// only (0 and 0 when there are none), from which the limits are proposed, so
// that an infinite pixel never makes a proposed limit infinite (the scaling
// clips it as any value beyond the range).
struct RegionExtremes {
  float minimum = 0.0f, maximum = 0.0f;
  float finite_min = 0.0f, finite_max = 0.0f;
};
RegionExtremes io_region_extremes(Index xmaxdat, Index ymaxdat, std::span<const float> array,
                                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                                  Status& status);
// "INFO: Data minimum value = " and "INFO: Data maximum value = " with
// MINIMUM and MAXIMUM in G14.7; one line saying there are none when no pixel
// of the region is a number.
void io_write_extremes(const RegionExtremes& extremes, Status& status);

// A proposed upper limit above LOWER: UPPER when it is above, otherwise the
// smallest single-precision value at least LOWER + 1 (above 2^24, LOWER + 1
// rounds back to LOWER itself), so a constant image is offered a range it can
// be written with. Infinite when LOWER has no finite value above it.
float io_upper_above(float lower, float upper);
// Proposed limits LOWER and UPPER made apart, as io_upper_above does; where
// LOWER has no finite value above it (the largest single value), UPPER is
// that value and LOWER the largest one at most UPPER - 1.
void io_apart_limits(float& lower, float& upper);

// Limits a scale can be made from: both finite, the lower below the upper
// (limits the other way round would write the image inverted).
bool io_scaling_range_valid(float lower, float upper);

// LOWER and UPPER each with the digits that give it back (io_rtoc_exact: as
// the program shows a real where that text reads back as the limit), or both
// with nine significant digits when they differ but IO_RTOC would show them
// alike, so that a range is never shown as empty when it is not, nor a
// value at its end as outside it.
struct LimitTexts {
  std::string lower, upper;
};
LimitTexts io_limit_texts(float lower, float upper);

// A pair of scaling limits, as asked for together.
struct ScalingRange {
  float lower = 0.0f, upper = 0.0f;
};

// A real-valued question with the signature of IO_INPR (the keyboard's, or
// the window's GS_INPR), and a warning shown for an invalid range.
using RealQuestion = void (*)(bool ranged, float lower, float upper, bool fixed,
                              std::string_view prompt, TextLines help, TextLines error,
                              float& value, Status& status);
using RangeWarning = void (*)(Status& status);

// Asks "LOWER LIMIT OF RANGE" and "UPPER LIMIT OF RANGE" through ASK (help
// LOWER_HELP and UPPER_HELP, error "Enter a valid real number"), offering
// LOWER and UPPER (at the terminal with the digits that tell them apart
// where the short form would show them alike), until the limits are valid (io_ask_until_accepted): an
// invalid pair gets WARN (null: "WARNING: The scaling range is invalid") and
// both questions again, offering LOWER and UPPER as first offered. False,
// with them as offered, when a question gave a bad status (the user escape
// included).
bool io_ask_scaling_range(RealQuestion ask, std::span<const std::string> lower_help,
                          std::span<const std::string> upper_help, RangeWarning warn,
                          float& lower, float& upper, Status& status);

// The range question of the integer writers (IO_UWRITE_RARRAY's ASK_RANGE):
// the INFO lines of the region, then io_ask_scaling_range offering the
// smaller of the finite minimum and the format's lowest value (0 for 1 and 2
// bytes, -2147483648 for 4) and the finite maximum (1 byte) or the larger of
// it and 65535 (2 bytes) or 2147483647 (4 bytes), raised above the lower
// limit when it is not. True with LOWER and UPPER valid.
bool io_ask_integer_range(Index xmaxdat, Index ymaxdat, std::span<const float> array,
                          Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, int bytes,
                          float& lower, float& upper, Status& status);

// The next line of FILE without its line end, keeping at most LIMIT
// characters: the rest of a longer line is read past and discarded, so one
// endless line takes no more memory than LIMIT. CUT tells whether anything
// but blanks was discarded. False at the end of the file (or a read error)
// before any character.
bool io_read_bounded_line(std::FILE* file, std::size_t limit, std::string& line, bool& cut);
// The same, giving up a line that runs on past MOST characters without its
// end: ENDLESS is then set and the result is false, the rest of that line
// left unread (input with no line end at all cannot hold the reader).
bool io_read_bounded_line(std::FILE* file, std::size_t limit, std::size_t most, std::string& line,
                          bool& cut, bool& endless);

// A text line of a file is at most this long where the reader keeps it as
// a response line.
inline constexpr std::size_t kFileLineLength = 132;

// The next line of STREAM without its line end and trailing blanks, cut to
// kFileLineLength characters (CUT true when a longer line lost more than
// blanks). End of file, a read error or no open stream give STATUS 11001.
void IO_READ_FILE(int stream, std::string& line, bool& cut, Status& status);
void IO_READ_FILE(int stream, std::string& line, Status& status);

}  // namespace kesta
