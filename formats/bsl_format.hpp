#pragma once
// BSL/OTOKO files: a text header file (line 1 a title, line 2 a second line,
// then per data set ("memory") a line of ten integers in 8 columns each: NX,
// NY, the number of images, the byte order (0 big-endian, 1 little-endian),
// the data type (0 4-byte reals, 3 signed and 4 unsigned 16-bit integers),
// five zeros; and a line naming the data set's binary file, looked for in the
// header file's directory). A binary file holds the images one after another,
// NY rows of NX values each, no header.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// One data set of a header file.
struct BslDataSet {
  Index nx = 0;
  Index ny = 0;
  Index images = 0;
  Index byte_order = 0;
  Index type = 0;
  std::string file;  // with the header file's directory
};

// The data sets of the header file PATH; empty after the warnings when it
// holds none or a size line that cannot be read.
std::vector<BslDataSet> bsl_data_sets(const std::string& path, Status& status);

// The file work of the reader: image IMAGE of data set SET (both from 1) of
// the header file PATH into a scratch image (title the binary file's name).
// Refused with a message naming the file: no such data set or image, an
// unsupported type, sizes below 1, data the binary file cannot hold.
ImageRead read_bsl_file(const std::string& path, const ReadRequest& request, Index set,
                        Index image, Status& status);
// The same for the data sets SETS that bsl_data_sets has read from PATH: a
// road that has read the header to ask its questions does not read (nor
// describe) it again.
ImageRead read_bsl_file(const std::string& path, std::span<const BslDataSet> sets,
                        const ReadRequest& request, Index set, Index image, Status& status);

// The keyboard road: "INPUT FILE NAME" until it opens, then the data set and
// image number when there is a choice (remembered for the run).
ImageRead bsl_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);

// Writes the active data region as a one-image data set: the header file
// asked for on the keyboard (a name of the form Ann000.XXX, default
// "A99000.BSL"; OUTPUT_FILE in/out) and its binary file Ann001.XXX of the
// rows' reals in the machine's order. Both are written to temporary files
// that replace existing ones only when everything was written. RETSTAT 0
// written; 1 not written (user escape, a bad name, an open or write
// failure). GUI true: the header file from the file selection, proposing
// the input file's first letter followed by "01000.bsl".
void FIO_OUT_BSL(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                 Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                 std::span<const float> data, std::string_view title, std::string& output_file,
                 int& retstat, Status& status);

}  // namespace kesta
