#pragma once
// Readers of plain text numbers: X/Y pairs from chosen columns (free format),
// one value per line (1-D ASCII), and a whole image written row after row
// with any number of values per line (2-D ASCII). Lines may be of any length.
// Each reads into work arrays first: a refused or failed read changes none of
// its outputs.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// Shows PROMPT (when not blank), asks the file ("FILE NAME", the last name,
// at first "source.scan"), shows its first lines, asks the layout (lines and
// characters to ignore, number of coordinates, the X and Y columns; X column 0
// numbers the points) and reads the pairs into X and Y. NUMDAT: in the
// proposed number of coordinates, out the number read (0 when nothing was
// read). MAXDAT below 1 (or X, Y shorter) gives 180001.
void FIO_IN_FREEFORMAT(std::string_view prompt, Index maxdat, Index& numdat, std::span<float> x,
                       std::span<float> y, std::string& file_name, Status& status);

// The first number of each line of FILE_NAME, at most MAXDAT lines, into
// VALUES. RETSTAT 0 read (NUMDAT lines), else the open's code (nothing
// changed). MAXDAT below 1 (or VALUES shorter) gives 180001.
void FIO_IN_1DASCII(std::string_view file_name, Index maxdat, int& retstat, Index& numdat,
                    std::span<float> values, Status& status);

// The file work of the 2-D reader: NX x NY values (each 1 to 10^7), read
// row after row after LINES_TO_IGNORE lines of PATH, any number a line,
// into a scratch image (values beyond the arrays read and dropped). Refused
// with a message naming the file: sizes outside that range, a file that
// does not open, a line too long, a file ending early.
ImageRead read_ascii_2d_file(const std::string& path, const ReadRequest& request, Index nx,
                             Index ny, int lines_to_ignore, Status& status);

// The 2-D keyboard road: asks the file, its X and Y sizes and the lines to
// ignore, and reads the image (values beyond XMAXDAT of a row are read and
// dropped). RETSTAT 1 after an escape, no file, or a file ending early.
ImageRead ascii_2d_keyboard_read(const ReadRequest& request, std::string& file_name,
                                 Status& status);

// The 2-D keyboard road, then the image becomes the data set (RETSTAT 0);
// otherwise RETSTAT 1, nothing changed.
void FIO_IN_2DASCII(const ImageTarget& target, std::string& file_name, int& retstat,
                    Status& status);

// The free format as a keyboard road ("Enter name of file containing 1-D
// data"): the pairs become the first row (X values the X axis).
ImageRead free_format_keyboard_read(const ReadRequest& request, std::string& file_name,
                                    Status& status);

// Back to the start-of-run settings of the readers.
void fio_reset_ascii();

}  // namespace kesta
