#pragma once
// Bruker area-detector frames: a header of 80-byte lines (a 7-character key,
// ':', a 72-character value) ended by a line starting with byte 26, in
// HDRBLKS blocks of 512 bytes; then NROWS rows of NCOLS little-endian pixels
// of NPIXELB bytes (1, 2 unsigned, 4 signed), the first row the image's top;
// then NOVERFL overflow entries of 16 characters (value in 1-9, the 0-based
// row-major pixel offset in 10-16).

#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The file work of the reader: PATH into a scratch image, overflow entries
// that name a pixel of the image set it; overload 80000. Refused with a
// message naming the file: a header line that cannot be read, no NCOLS or
// NROWS, NPIXELB not 1, 2 or 4, sizes or offsets outside the file, an
// overflow entry that cannot be read.
ImageRead read_bruker_file(const std::string& path, const ReadRequest& request, Status& status);

// The keyboard road: ""BRUKER" AREA DETECTOR DATA FILE NAME", asked again
// until the file opens.
// Sniffer: RETSTAT 0 when the file's first header line is the FORMAT line
// (with a warning when its version is not 86), 1 when it is another line, 2
// when the line cannot be read.
void FIO_IS_BRUKER(std::string_view file_name, int& retstat, Status& status);
ImageRead bruker_keyboard_read(const ReadRequest& request, std::string& file_name,
                               Status& status);

}  // namespace kesta
