#pragma once
// The keyword-header image format ("TULMA", read also as "OZWA DATA FORMAT"):
// a text header "{", line feed, entries "key = value;" each on its own line,
// blanks up to byte 1021, "}" at byte 1022, a line feed at 1023; the image
// follows at byte 1024, rows one after another. The writer writes 4-byte
// reals in the machine's byte order with the entries HeaderID, Image,
// ByteOrder, DataType, Dim_1, Dim_2. The reader understands the wider family
// of such files: keys in any case, 2- and 4-byte integers or reals in either
// byte order, and several header-plus-image sections in one file.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// Sniffer: RETSTAT 0 when the first 1024 bytes could be read and the first is
// "{", 1 when it is another byte, -3 for a shorter file, else the open code
// (after "WARNING: Error in opening file").
void FIO_IS_TULMA(std::string_view file_name, int& retstat, Status& status);

// The file work of the reader: image IMAGE_NUMBER of PATH into a scratch
// image. Refused with a message (RETSTAT 1): a file without Dim_1, Dim_2 or
// DataType, compressed data, an unknown data type, no such image, a file
// ending early. A file without ByteOrder is read in the machine's order. The
// title is the file's Title or the file name, the overload value the data
// type's; pixel sizes are not part of the format and stay as they were.
ImageRead read_tulma_file(const std::string& path, const ReadRequest& request, int image_number,
                          Status& status);

// The keyboard road: asks the file ("\"TULMA\" (limited OZWA) DATA FILE
// NAME", again after a file that does not open) and "IMAGE NUMBER".
ImageRead tulma_keyboard_read(const ReadRequest& request, std::string& file_name,
                              Status& status);

// Reads image 1 of FILE_NAME (NAME_GIVEN) or asks as the keyboard road, and
// makes it the data set (RETSTAT 0); otherwise RETSTAT 1, nothing changed.
void FIO_IN_TULMA(bool name_given, const ImageTarget& target, std::string& file_name,
                  int& retstat, float& overload_value, Status& status);

// Writes the region to FILE_NAME (an existing file is replaced only when
// everything was written). RETSTAT 0 written, 1 not opened or not written.
void FIO_OUT_TULMA(std::string_view file_name, Index xmaxdat, Index ymaxdat, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                   int& retstat, Status& status);

// The keyboard road of the writer: asks "OUTPUT FILE NAME" (the last name,
// at first "tulma.wlt") and writes the region.
void fio_out_tulma_asked(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                         Index xendelm, Index yendelm, std::span<const float> data,
                         Status& status);

// Header builder: one header at a time. Open starts it; each add appends
// "key = value;" and a line feed (key and value without trailing blanks); an
// empty key gives STATUS 180033, an entry that would pass byte 1021 180003
// (the header is then unchanged). Close pads it and writes its 1024 bytes to
// the output stream STREAM (RETSTAT of the stream layer's write).
void FIO_OPEN_TULMAHEADER();
void FIO_ADD_TULMASTRING(int stream, std::string_view key, std::string_view value,
                         Status& status);
void FIO_ADD_TULMAINTEGER(int stream, std::string_view key, Index value, Status& status);
void FIO_CLOSE_TULMAHEADER(int stream, int& retstat);

// Writes rows YSTRELM..YENDELM of the region, XSTRELM..XENDELM each, as reals
// to the output stream. STATUS 180001/180002 bad dimensions, 180005/180006 a
// bad region, 11010 a failed write.
void FIO_OUT_2DR4(int stream, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                  Index xendelm, Index yendelm, std::span<const float> data, Status& status);

}  // namespace kesta
