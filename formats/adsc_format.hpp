#pragma once
// ADSC CCD images: a text header from the first '{' to '}' of items
// "key=value;" (keys compared in upper case, blanks dropped; HEADER_BYTES,
// SIZE1, SIZE2, BYTE_ORDER, TYPE, DIM used), then SIZE2 rows of SIZE1
// unsigned 16-bit pixels from byte HEADER_BYTES, the first row data row 1.

#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The file work of the reader: PATH into a scratch image; overload 65535.
// Without BYTE_ORDER the machine's order, without TYPE unsigned 16-bit (each
// with an INFO line). Refused with a message naming the file: no '{', a key
// or value cut by the end of the file, TYPE other than "unsigned_short", DIM
// other than 2, no HEADER_BYTES, SIZE1 or SIZE2, data the file cannot hold.
ImageRead read_adsc_file(const std::string& path, const ReadRequest& request, Status& status);

// The keyboard road: "ADSC DETECTOR DATA FILE NAME", asked again until the
// file opens.
// Sniffer: RETSTAT 0 when the file holds at least 1024 bytes and starts with
// "{", 1 another first byte, -3 a shorter file, else the open code.
void FIO_IS_ADSC(std::string_view file_name, int& retstat, Status& status);
ImageRead adsc_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);

}  // namespace kesta
