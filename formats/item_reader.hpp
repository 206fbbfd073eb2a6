#pragma once
// Reader of the keyed binary item files written by core/item_writer.hpp
// (whose header comment is the layout). The caller opens the file for binary
// reading on a stream number of its own (io_open_stream), decides from the
// "$BIG_ENDIAN" item whether 4-byte array values must be reversed, reads
// items by name in any order and closes the stream.
//
// Items are found by their exact name (case kept; the byte after the name must
// be ':'), searching from record 1 and skipping each item's data records by
// the count in its header.
//
// Return codes (RETSTAT), STATUS untouched by anything the file holds:
//   0  read completely (scalars: RETSTAT is left as it was on success, so a
//      caller can preset 0, read a run of scalars and test once)
//  -1  the file's array or string is larger than the caller's room; what fits
//      was read
//   1  item not found
//   2  item found but of another type
//   3  item damaged: a hex field that is not hex, a string running past its
//      header record, negative or overflowing array sizes, a data-record count
//      that does not cover the data or runs past the end of the file, or a
//      failed read. A line naming the item and the problem is written; the
//      caller's values are unchanged.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Finds the header record of NAME from START_RECORD on: FOUND, the type
// letter (TYPE '!' when not found), the header's RECORD and the 1-based byte
// POSITION of the type letter. An unsuccessful search writes
// "INFO: File item not found: " and the name.
void FIO_FREAD_SEARCHITEM(int unit, std::string_view name, Index start_record, bool& found,
                          char& type, Index& record, int& position, Status& status);

void FIO_FREAD_INTEGER(int unit, std::string_view name, int& retstat, std::int32_t& value,
                       Status& status);
void FIO_FREAD_REAL(int unit, std::string_view name, int& retstat, float& value, Status& status);

// STRING receives the item's text, cut to MAX_LENGTH characters (RETSTAT -1)
// when longer; trailing blanks are dropped.
void FIO_FREAD_STRING(int unit, std::string_view name, std::size_t max_length, int& retstat,
                      std::string& string, Status& status);

// A 2-D array of 4-byte reals or integers into ARRAY(XMAXDAT, YMAXDAT) from
// element (1, 1); XNUM, YNUM the part read. SWAP reverses every value's bytes.
// Elements outside XNUM x YNUM keep their values.
void FIO_FREAD_RARRAY(int unit, bool swap, std::string_view name, Index xmaxdat, Index ymaxdat,
                      int& retstat, Index& xnum, Index& ynum, std::span<float> array,
                      Status& status);
void FIO_FREAD_IARRAY(int unit, bool swap, std::string_view name, Index xmaxdat, Index ymaxdat,
                      int& retstat, Index& xnum, Index& ynum, std::span<std::int32_t> array,
                      Status& status);

// The header of a 2-D array item of 4-byte values, checked as
// FIO_FREAD_RARRAY checks it, for a reader that reads the values itself in
// blocks: the size NX x NY and the byte offset DATA_START of the values, rows
// one after another (RETSTAT 0, 1, 2 or 3 as above; no value is read).
void fread_array_item(int unit, std::string_view name, int& retstat, Index& nx, Index& ny,
                      Index& data_start, Status& status);

// A character array into ARRAY (MAXNUM = its size) of texts ELEMENT_LENGTH
// long: each element's first min(file element length, ELEMENT_LENGTH)
// characters replace the start of the text (trailing blanks then dropped).
void FIO_FREAD_CARRAY(int unit, std::string_view name, std::size_t element_length, int& retstat,
                      Index& num, std::span<std::string> array, Status& status);

// Packed flags into a byte mask (1 true); the packed integers are taken in
// the machine's byte order.
void FIO_FREAD_L1ARRAY(int unit, std::string_view name, Index xmaxdat, Index ymaxdat,
                       int& retstat, Index& xnum, Index& ynum, std::span<std::uint8_t> array,
                       Status& status);
// The same with SWAP: the packed integers of a file written in the other
// byte order.
void FIO_FREAD_L1ARRAY(int unit, bool swap, std::string_view name, Index xmaxdat, Index ymaxdat,
                       int& retstat, Index& xnum, Index& ynum, std::span<std::uint8_t> array,
                       Status& status);

}  // namespace kesta
