#pragma once
// The graphical road into the image readers: a file picked with the file
// selection (or the next or previous member of the current file's numbered
// series, or a given name) is read by the reader its extension names.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "formats/binary_format.hpp"
#include "formats/gas_format.hpp"
#include "formats/row_blocks.hpp"
#include "formats/scratch_image.hpp"
#include "formats/tiff_format.hpp"

namespace kesta {

// SEQUENCE: kFioSelectFile shows the file selection with TITLE; kFioNextFile
// and kFioPreviousFile step through the numbered series of FILE_NAME in the
// format read last; kFioGivenName reads FILE_NAME in the format read last,
// without asking.
inline constexpr int kFioSelectFile = 0;
inline constexpr int kFioNextFile = 1;
inline constexpr int kFioPreviousFile = -1;
inline constexpr int kFioGivenName = -2147483647;  // 0x80000001 as a 32-bit word

// Reads one image or 1-D data set into TARGET. DATA_DEFINED is true when
// data were read, false after a cancelled file selection; a failed read
// leaves the data set and DATA_DEFINED as they were. FILE_NAME is in and out.
// XMAXDAT < 1 gives 180001, YMAXDAT < 1 180002.
void FIO_GUI_INPUT(TextLines title, int sequence, const ImageTarget& target,
                   bool& data_defined, std::string& file_name, Status& status);

// The data set and image chosen in a file that holds several (BSL/OTOKO,
// the CCD stacks).
struct FioStackAnswers {
  int set = 1, image = 1;
};

// The size of an image in its file (0 x 0: not known).
struct FioImageSize {
  Index width = 0;
  Index length = 0;
  bool operator==(const FioImageSize&) const = default;
};

// What the readers were answered for the file read last by a road that asks
// (the TIFF region and re-bin factors, with that file's image size; the
// BINARY layout; the gas detector's header, frame, byte order and sign; the
// image of a file of several), and the size in its file of the image read
// last by the graphical road outside a series. ANY_SIZE: a series taking
// members of any size (one row of each) compares none. FORMAT: the format
// that file was read in (empty: none read).
struct FioReadAnswers {
  TiffAnswers tiff;
  std::optional<RawLayout> binary;
  GasChoice gas;
  FioStackAnswers stack;
  FioImageSize size;
  bool any_size = false;
  std::string format;
};
FioReadAnswers fio_read_answers();

// The size in its file of the image read last by the graphical road, series
// members included (0 x 0: none read, or its reader gave none).
FioImageSize fio_last_read_size();

// While one is alive, FIO_GUI_INPUT reads the later members of a series
// whose first member was read with ANSWERS (a series loop, or automatic
// input, once it has started): the readers ask nothing and take ANSWERS; a
// member named or stepped to (on the block-wise road too) is read in
// ANSWERS.format when it gives one, whatever another file (a background) was
// read in since; a member whose image is not, in its file, of the size
// ANSWERS.size gives is not read ("WARNING: File not the size of the first
// file: " and its name, and nothing of what its reader said), nor is one
// when its own reader or the first one's did not give that size (unless
// ANSWERS.any_size); a member not read is said on the terminal only, with
// no warning box to wait on. The answers the asking roads remember are left
// as they were. Scopes nest.
class FioSeriesMembers {
 public:
  explicit FioSeriesMembers(const FioReadAnswers& answers);
  ~FioSeriesMembers();
  FioSeriesMembers(const FioSeriesMembers&) = delete;
  FioSeriesMembers& operator=(const FioSeriesMembers&) = delete;

 private:
  FioReadAnswers answers_;
  const FioReadAnswers* outer_;
};

// The unattended road of a series read while it is written (the on-line
// interface's automatic input): FILE_NAME (in and out, as FIO_GUI_INPUT has
// it) read in the format read last, without a box that waits. True when the
// image was read into TARGET; its messages have then reached the terminal.
// Otherwise the data set is as it was and nothing has been written: the
// reader's lines and a last warning naming the file are handed back in
// MESSAGES, for the caller to write when it chooses (a file still being
// written fails at each try, and is reported once).
bool fio_gui_unattended_input(const ImageTarget& target, bool& data_defined,
                              std::string& file_name, std::vector<std::string>& messages,
                              Status& status);

// The block-wise road of the kFioGivenName read: FILE_NAME opened in the
// format read last, for its rows to be read in blocks (formats/row_blocks.hpp),
// with the input's stored keys and data region, and its warning boxes on a
// failure, as FIO_GUI_INPUT has them. WHOLE (and nullptr) for a format
// without such a road; nullptr alone for a file not input.
std::unique_ptr<RowSource> fio_gui_rows_input(std::string& file_name, bool& whole,
                                              Status& status);

// The format the graphical input reads FILE_NAME in, found from its
// extension (compared in lower case) and, for a few, its content or the files
// beside it: the internal name stored under "#INPUT_FORMAT", or empty when
// the unknown-extension menu must ask. FILE_NAME becomes the file to read
// where that is another one (the header file of a gas detector pair, the
// ".inf" file beside an ".img" file, the data file of a ".info" name).
std::string fio_format_by_extension(std::string& file_name, Status& status);

// Back to the start of a run: no format used last, no file read.
void fio_reset_gui_input();

}  // namespace kesta
