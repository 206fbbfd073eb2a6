#pragma once
// The MERVODA curve file (".mvd"): title, X label and Y label lines, the
// number of points right-aligned in 11 characters (followed by " Errors" when
// an error column is present), then one point a line: X and Y (and 0.0 and
// the error) each 1PE14.7 followed by a blank.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// Reads a curve into XAXIS(1..NUMDAT) and DATA(1..NUMDAT) (the first row),
// with title, X label and Y label, and X_PIXEL_SIZE the first X step (kept
// for a single point). With NAME_GIVEN false asks "FILE NAME". RETSTAT 0 read;
// otherwise (no file, unusable count line, no point) nothing changes.
// MAXDAT below 1 gives 180001.
void FIO_IN_MERVODA(bool name_given, Index maxdat, bool variances_exist, std::string& file_name,
                    int& retstat, Index& numdat, std::span<float> xaxis, std::span<float> data,
                    std::span<float> variances, std::string& title, std::string& xlabel,
                    std::string& zlabel, float& x_pixel_size, Status& status);

// The keyboard road ("FILE NAME"): the curve becomes the first row of a
// scratch image, X values its X axis.
ImageRead mervoda_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status);

// The same for the named file PATH, without a question.
ImageRead read_mervoda_file(const std::string& path, const ReadRequest& request, Status& status);
// Writes one row or column of the region (keyboard: asks the file and the
// row or column; each call moves on to the next). RETSTAT 0 written, 1 not.
void FIO_OUT_MERVODA(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                     Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                     std::span<const float> xaxis, std::span<const float> yaxis,
                     std::span<const float> data, std::span<const float> variances,
                     std::string_view title, std::string_view xlabel, std::string_view ylabel,
                     std::string_view zlabel, bool variances_exist, std::string& file_name,
                     int& retstat, Status& status);

// Back to the start-of-run state of the writer.
void fio_reset_mervoda();

}  // namespace kesta
