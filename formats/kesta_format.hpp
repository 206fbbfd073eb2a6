#pragma once
// The program's own image file (".kzt"): a keyed item file holding a whole
// data set without loss, in this item order: "$FFF_START" ("KESTA Data
// File"), "$BIG_ENDIAN" ("TRUE"/"FALSE"), "header" ("KESTA file"), "title",
// "x_axis_label", "y_axis_label", "z_axis_label", "x_pixel_size" and
// "y_pixel_size" (reals), "overload_value" (text of at most 20 characters),
// "data_array" (the active data region, rows one after another), "x_axis",
// "y_axis" (the region's axis values), "variances_array" (when variances
// exist), "$FFF_END" ("End of image data").

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/row_blocks.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// Stream numbers the native format reads and writes its files on.
inline constexpr int kKestaInputUnit = 23;
inline constexpr int kKestaOutputUnit = 24;

// Writes the active data region XSTRELM..XENDELM x YSTRELM..YENDELM of the
// data set to a file asked for on the terminal ("OUTPUT FILE NAME", the last
// name as default, initially "kesta.kzt"). The file is written to a temporary
// file that replaces an existing one only when everything was written.
// RETSTAT 0 written; 1 not written (user escape, bad directory path, open or
// write failure: the old file is unchanged). GUI true: the name made from
// INPUT_FILE's base name with ".kzt" (else "kesta.kzt") is offered with a YES/NO
// question, NO opening the file selection; CANCEL writes nothing, RETSTAT 1.
// While an FioChosenOutput is alive its name is taken without a question.
// STATUS 180001/180002 bad dimensions, 180005/180006 bad region; a failed
// write 11010.
void FIO_OUT_KESTA(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                   Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                   std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, std::span<const float> variances,
                   std::string_view title, std::string_view xlabel, std::string_view ylabel,
                   std::string_view zlabel, bool variances_exist, float x_pixel_size,
                   float y_pixel_size, int& retstat, Status& status);

// The file work of the native reader, without dialogue: PATH into a scratch
// image of the request's shape (variances only when asked and present).
// Refused with a message naming the file: not a regular file, not an item
// file, cut inside a header record, a damaged or truncated item, no data
// array, an empty one. Missing items get defaults: pixel sizes 1.0e-4 (marked
// as the reader's default, so the stored detector sizes stand), overload
// 65532.5, axes at the pixel centres; a missing title or label keeps the data
// set's. An image larger than the arrays is read in part after a
// warning.
ImageRead read_kesta_file(const std::string& path, const ReadRequest& request, Status& status);

// The block-wise road of the same reader: PATH opened and checked as
// read_kesta_file checks it (everything but the pixel values, the axes
// included), its description, extent and axes into IMAGE (no pixel array);
// nullptr after the message naming the file.
std::unique_ptr<RowSource> open_kesta_rows(const std::string& path, ScratchImage& image,
                                           Status& status);

// The keyboard road: asks for the name ("INPUT FILE NAME", FILE_NAME the
// default and updated) and reads the file.
ImageRead kesta_keyboard_read(const ReadRequest& request, std::string& file_name,
                              Status& status);

// Reads a ".kzt" file into the data set. With NAME_GIVEN false the name is
// asked for ("INPUT FILE NAME", FILE_NAME the default and updated). The data
// set changes only when the file was read (RETSTAT 0); any failure gives a
// message naming the file and RETSTAT 1, with every output as it was.
// VARIANCES_EXIST becomes false when the caller has variances but the file
// has none.
void FIO_IN_KESTA(bool name_given, const ImageTarget& target, std::string& file_name,
                  int& retstat, float& overload_value, Status& status);
// The same on plain arrays (the extent read is copied into them).
void FIO_IN_KESTA(bool name_given, Index xmaxdat, Index ymaxdat, bool& variances_exist,
                  std::string& file_name, int& retstat, Index& xnumdat, Index& ynumdat,
                  std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                  std::span<float> variances, std::string& title, std::string& xlabel,
                  std::string& ylabel, std::string& zlabel, float& x_pixel_size,
                  float& y_pixel_size, float& overload_value, Status& status);

}  // namespace kesta
