#pragma once
// "UNKNOWN": a raw image whose layout nobody told the program. A sample of at
// most 65536 bytes from about 5/13 into the file is autocorrelated (through
// the real FFT, zero-padded to twice its length) to find the bytes per pixel
// (the strongest of lags 1-4), the byte spread at each position gives the
// byte order, and a high-passed autocorrelation of the pixel values gives the
// row length; the rows fill the file up to its end, the rest before them is
// taken as a header.

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// What the deduction found about a file.
struct RawDeduction {
  int bytes = -1;       // per pixel (1, 2 or 4; else unsupported)
  bool swap = false;    // the data's byte order differs from the machine's
  Index pixels = -1;    // per row; -1 when no row length was found
  Index rows = 0;
  Index header = 0;     // bytes before the image
};

// The analysis of a file of SIZE bytes (at least 512): samples at most
// min(SIZE, WORK_VALUES / 2, 65536) bytes, finds the layout with rows of more
// than LOWER pixels, and writes the report. AUTOCORRELATION receives the
// last autocorrelation computed (twice the sample's length). False after a
// message when the layout could not be deduced.
bool deduce_raw_layout(std::FILE* file, Index size, Index work_values, Index lower,
                       RawDeduction& found, std::vector<float>& autocorrelation,
                       Status& status);

// The file work of the reader: the layout of PATH deduced (rows of more
// than LOWER pixels, LOWER at least 4) and its image read into a scratch
// image of REQUEST's arrays (at least 1024 values), in part when they cannot
// hold it. Refused with a message: the arrays, a file that does not open, is
// empty or shorter than 512 bytes, a layout that cannot be deduced.
ImageRead read_unknown_file(const std::string& path, const ReadRequest& request, Index lower,
                            Status& status);

// The keyboard road: asks "DATA FILE NAME" (again while the file does not
// exist), "LOWER LIMIT, PIXELS PER ROW" and, after the report, "INPUT DATA":
// YES reads the image deduced, NO gives the autocorrelation as the data.
// Arrays of fewer than 1024 values are refused.
ImageRead unknown_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status);

// The keyboard road, then the image (or the autocorrelation) becomes the
// data set (RETSTAT 0).
void FIO_IN_UNKNOWN(const ImageTarget& target, std::string& file_name, int& retstat,
                    Status& status);

}  // namespace kesta
