#pragma once
// Uncompressed baseline TIFF images ("TIFF", and "IMAGEQUANT": mirrored left
// to right, 16- and 32-bit values square-root encoded) and the TIFF writer
// ("TIFF INTEGERS").
//
// Read: the header ("II" or "MM", 42, the first directory's offset), the
// directories (a 2-byte entry count, 12-byte entries, the next offset), and
// of the entries only width 256, length 257, bits per sample 258 (8, 12, 16,
// 32), compression 259 (1), strip offsets 273 (as many as the file holds), rows
// per strip 278 (at least 1) and sample format 339 (1 unsigned, the default;
// 2 signed; any other, floating point among them, is refused). Rows run from
// the image's top; file row 1 becomes the highest data row. 8-bit and 16-bit
// pixels unsigned (signed with sample format 2), 32-bit signed (unsigned
// when sample format 1 is given), 12-bit (unsigned only)
// packed two into three bytes, each row starting on a whole byte.
//
// Written: one 512-byte header record in the machine's byte order with twelve
// entries (width, length, bits, compression 1, photometric 0, the
// description at byte 174, one strip at 512, rows per strip, strip bytes,
// X and Y resolution at bytes 158 and 166 in pixels a centimetre, unit 3),
// then the rows from the top as unsigned integers of 1 or 2 bytes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The part of the image to read, in image pixels counted from the bottom row
// and the left column (IMAGEQUANT: the right), and the bin sizes.
struct TiffRegion {
  Index xstart = 1;
  Index ystart = 1;
  Index xend = 1;
  Index yend = 1;
  Index xbin = 1;
  Index ybin = 1;
};

// Why REGION, summed in its bins, cannot be read into the arrays of REQUEST:
// kNone it can. The TIFF and WESS region questions refuse a region so.
enum class RegionRefusal { kNone, kBins, kArrays };
RegionRefusal binned_region_refusal(const ReadRequest& request, const TiffRegion& region);

// Width and length of image IMAGE_NUMBER of the TIFF file PATH. RETSTAT 0;
// 1 the file cannot be opened or is not a regular file (PROBLEM says why);
// 2 image not found (PROBLEM says so); 3 not a TIFF file (the explanation
// written) or a directory that cannot be read (PROBLEM says why); 4 no width tag
// or a width below 1, 5 the same for the length (PROBLEM names the value);
// 6 a size the file cannot hold or the questions cannot take (PROBLEM says
// which); 7 samples that no read decodes (bits per sample other than 8, 12,
// 16 or 32, or samples that are not integers; the warning written), found
// before the size is weighed against the file; 8 a file or image of a kind
// not read (BigTIFF, an image in tiles, a file shorter than a header; said
// in one line). A size the file cannot hold is one whose pixel bytes, or one
// strip's, run past its end, or whose strips hold no rows.
void tiff_image_size(const std::string& path, Index image_number, int& retstat, Index& width,
                     Index& length, std::string& problem, Status& status);

// The file work of the reader: image 1 of PATH, the REGION summed in bins,
// into a scratch image (variances a copy of the data when asked; axes at the
// bin centres; title the file name; labels "Columns", "Rows", "Intensity").
// RETSTAT 0 read; -1 the image lacks part of the region (read, with a
// warning); 1 image not found; 2 cannot decode (bits, compression, strips,
// a strip outside the file, tiles, BigTIFF); 3 not a TIFF file; 4 none of
// the region; 5 the file cannot be opened. The region's bins must fit the
// request's arrays.
ImageRead read_tiff_file(const std::string& path, const ReadRequest& request, bool mirror_x,
                         bool square_encoded, const TiffRegion& region, Status& status);

// The keyboard roads of "TIFF" and "IMAGEQUANT": the file name ("DATA FILE
// NAME"), the bins and the region (remembered for the run), then the read.
ImageRead tiff_keyboard_read(const ReadRequest& request, std::string& file_name,
                             Status& status);
ImageRead imagequant_keyboard_read(const ReadRequest& request, std::string& file_name,
                                   Status& status);

// The graphical road of both ("IMAGEQUANT" when IMAGEQUANT): FILE_NAME
// without a question, the region form "INPUT REGION AND RE-BIN FACTOR FORM"
// (the region remembered with the keyboard road's), then the read. RETSTAT
// -1 after CANCEL.
ImageRead tiff_gui_read(const ReadRequest& request, bool imagequant, std::string& file_name,
                        Status& status);

// The region and re-bin answers of the last read that asked them (either
// road), with the size of the image they were given for.
struct TiffAnswers {
  bool given = false;
  TiffRegion region;
  Index width = 0, length = 0;
};
TiffAnswers tiff_answers();

// A later member of a series whose first member was read with ANSWERS:
// FILE_NAME read with them, without a question, leaving what the asking
// roads remember as it was. An image whose width or length differs from the
// one the answers were given for is not read ("WARNING: File not the size of
// the first file: " and the name, RETSTAT 6), so one odd member changes
// nothing for the members after it. Without answers (the first member was
// no TIFF image) the whole image, within the arrays, is read.
ImageRead tiff_member_read(const ReadRequest& request, bool imagequant,
                           const TiffAnswers& answers, std::string& file_name, Status& status);
// The integer in the first N (1..4) BYTES in the given order; the most
// significant byte signed unless UNSIGNED.
std::int64_t FIO_TIFF_INTEGER(std::span<const std::uint8_t> bytes, int n, bool big_endian,
                              bool is_unsigned);

// Writes the active data region as a TIFF file of BITS (8 or 16; in/out, the
// choice of the "DATA TYPE FOR PIXEL VALUES" menu) asked for on the keyboard
// ("NAME OF TIFF OUTPUT FILE"), with the range "LOWER LIMIT OF RANGE" ..
// "UPPER LIMIT OF RANGE" mapped onto 0 .. the largest integer. The file is
// written to a temporary file that replaces an existing one only when
// everything was written. BITS not 8 or 16: STATUS 110017. GUI true: the
// name proposed from INPUT_FILE (".tif") or a file chosen with the file
// selection, BITS as given (the menu button), the range asked in value boxes;
// while an FioChosenOutput is alive its name and the proposed range, unasked.
void FIO_OUT_TIFF(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  std::span<const float> data, std::string_view title, float x_pixel_size,
                  float y_pixel_size, std::string& output_file, int& bits, Status& status);

}  // namespace kesta
