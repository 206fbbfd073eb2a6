#pragma once
// The keyboard roads into and out of the image formats: the input format
// menu (INPUT DATA) and the output format menu (OUTPUT DATA), their help
// texts, and the one line that answers a format whose reader or writer is not
// built yet.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// INPUT DATA: asks for the format ("FILE FORMAT", 31 choices; the first
// call's default depends on XMAXDAT, later calls propose the last choice),
// calls its reader and, when data were read (STATUS good, XNUMDAT > 0,
// YNUMDAT >= 1, reader code 0), sets DATA_DEFINED and stores
// "#OVERLOAD_VALUE", "#INPUT_FORMAT", and "X_PIXEL_SIZE" and "Y_PIXEL_SIZE"
// as fio_store_input_keys does.
// A failed input leaves DATA_DEFINED and the data set as they were, stores
// nothing, and ends a running input macro or file sequence with a framed
// warning. VARIANCES_EXIST is in/out: a reader clears it when the file holds
// no variances. XMAXDAT < 1 gives 110001, YMAXDAT < 1 110002. Given the
// program arrays' blocks in TARGET, the image read replaces them (no copy).
void FIO_INPUT(const ImageTarget& target, std::string& file_name, bool& data_defined,
               Status& status);
// The same on plain arrays.
void FIO_INPUT(Index xmaxdat, Index ymaxdat, std::string& file_name, bool& variances_exist,
               bool& data_defined, Index& xnumdat, Index& ynumdat, std::span<float> xaxis,
               std::span<float> yaxis, std::span<float> data, std::span<float> variances,
               std::string& title, std::string& xlabel, std::string& ylabel, std::string& zlabel,
               float& x_pixel_size, float& y_pixel_size, Status& status);

// The input help text, paged on the terminal (GUI false) or in a message box
// in the fixed-pitch text font (GUI true).
void FIO_IN_HELP(bool gui, Status& status);

// After an input that failed (not one the user cancelled): a running input
// macro and a running file sequence are ended, each with its framed warning,
// so that no later line works on the data of the file read before. The
// keyboard's and the graphical input share it.
void fio_input_failed();

// OUTPUT DATA: asks for the output format ("FILE FORMAT", 19 choices, the
// last choice proposed, initially "KESTA STANDARD FORMAT") and calls its
// writer on the active data region. "HEADER FILES" / "NO HEADER FILES" only
// switch the header-file flag. XMAXDAT < 1 gives 180001, YMAXDAT < 1 180002.
void FIO_OUTPUT(std::string_view input_file, Index xmaxdat, Index ymaxdat, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, std::span<const float> xaxis,
                std::span<const float> yaxis, std::span<const float> data,
                std::span<const float> variances, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, std::string_view zlabel, bool variances_exist,
                float x_pixel_size, float y_pixel_size, Status& status);

// The output help text, as the input help text.
void FIO_INP_OUTHELP(bool gui, Status& status);

// The keyboard output menu's saved settings (for the BINARY and TIFF writers).
bool fio_output_header_files();
int fio_output_tiff_bits();

// What a read learnt from its file for the database: the pixel sizes its
// reader gave, above 0 and finite, none for a data set of one row (a scan's
// step is no detector pixel size, whatever its reader), and the sample
// distance its header gave. Taken from the reader's image before it is
// committed.
struct FioFilePixelSizes {
  std::optional<float> x, y;
  std::optional<float> sample_distance;
};
FioFilePixelSizes fio_file_pixel_sizes(const ScratchImage& image);

// After a successful input: "#OVERLOAD_VALUE", "#INPUT_FORMAT" (FORMAT), and
// as the detector's "X_PIXEL_SIZE", "Y_PIXEL_SIZE" and "SAMPLE_DISTANCE" what
// the file gave of them, each only where some detector or experiment has it
// (the sizes within kSmallestPixelSize..kLargestPixelSize, a distance within
// kShortestDistance..kLongestDistance); what it gave outside is said in one line and left out, and
// what it did not give stays as it was. SAID, when given, holds the last such
// line, which is not said again (a series whose every member gives the same
// header says it once).
void fio_store_input_keys(float overload, const std::string& format, FioFilePixelSizes sizes,
                          Status& status, std::string* said = nullptr);
// After a 1-D scan: only "#OVERLOAD_VALUE" and "#INPUT_FORMAT" are stored.
void fio_store_scan_input_keys(float overload, const std::string& format, Status& status);

// TEXT in a message box drawn in the fixed-pitch text font (the font before
// restored afterwards).
void fio_gui_text(TextLines text, Status& status);

// Back to the start-of-run state of both menus and the graphical input
// (first-call defaults, header files on, TIFF 16 bits, the TULMA note not yet
// shown, no format used last).
void fio_reset_format_menus();

}  // namespace kesta
