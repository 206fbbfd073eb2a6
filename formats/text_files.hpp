#pragma once
// What the text-file readers and writers of the formats share: whole lines of
// any length, an output text file asked for by name and written through
// core/atomic_file, and the choice of one row or column of the active data
// region for the 1-D writers.

#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/raw_io.hpp"
#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

// The longest line the text readers take whole for arrays XMAXDAT wide: 64
// characters a value, and never less than 1 MiB.
std::size_t fio_line_limit(Index xmaxdat);

// The lines of a text file, each read whole up to fio_line_limit. A longer
// line is no line of the file's kind (a file without line ends would
// otherwise be read into memory whole): it is refused, once, with the file's
// name and the reason, and the reading ends there.
class FioLineReader {
 public:
  FioLineReader(std::FILE* file, std::string name, Index xmaxdat);
  // The next line without its line feed (and a carriage return before it);
  // false at the end of the file, and at a line longer than the limit, which
  // is reported ("WARNING: File NAME has a line longer than N characters;
  // the data are unchanged") and makes refused() true.
  bool next(std::string& line, Status& status);
  bool refused() const { return refused_; }
  std::FILE* file() const { return file_; }

 private:
  std::FILE* file_;
  std::string name_;
  std::size_t limit_;
  bool refused_ = false;
};

// The tokens of LINE at the program's separators (blank, comma, tab).
std::vector<std::string> fio_tokens(std::string_view line);

// TOKEN as a real (the plain decimal forms quickly, the rest as typed
// numbers are read), also the texts of values that are not finite, signed or
// not: NaN, Infinity, Inf (any case). A number beyond single precision is the
// nearest single-precision value (infinity, or zero and the subnormals),
// written with an E exponent or Fortran's D or letterless one alike; false
// when it is no number.
bool fio_to_real(std::string_view token, float& value);

// Writes "Enter name of output file", then asks "FILE NAME" (NAME the default
// and updated) until a temporary file beside it can be created; nullptr after
// a user escape (STATUS kept) or a bad directory path.
std::unique_ptr<AtomicFile> fio_ask_text_output(std::string& name, Status& status);

// NAME translated into PATH; false after the warning on a bad directory path.
bool fio_output_path(const std::string& name, std::string& path, Status& status);

// NAME opened for writing without a question (through a temporary file);
// null after a warning when the path or the open fails.
std::unique_ptr<AtomicFile> fio_open_text_output(const std::string& name, Status& status);

// Before a window offers NAME, proposed from INPUT_FILE, for output: when
// NAME is that very file (the data's own, or the image's after an
// integration), the warning box "NAME IS THE INPUT FILE: "ACCEPT" REPLACES
// IT", ACCEPT the answer that takes the proposal.
void fio_warn_replacing_input(const std::string& name, std::string_view input_file,
                              std::string_view accept, Status& status);

// The graphical choice of an output file: "USE " NAME (YES/NO) with the help
// "... is the default file for output in FORMAT_TEXT.", and on NO the file
// selection (TITLE, INFO) for an output file; NAME proposed from INPUT_FILE
// and said first when it is that file. False, STATUS good, after CANCEL.
// While an FioChosenOutput is alive, NAME becomes its name without a question.
bool fio_gui_default_file(std::string_view input_file, std::string_view format_text,
                          TextLines title, TextLines info, std::string& name, Status& status);

// While one is alive, the graphical dialogues of the image writers ask
// nothing: the output file is NAME and every other answer the one proposed
// (the scans of a file series, one file a member, named after it).
class FioChosenOutput {
 public:
  explicit FioChosenOutput(std::string name);
  ~FioChosenOutput();
  FioChosenOutput(const FioChosenOutput&) = delete;
  FioChosenOutput& operator=(const FioChosenOutput&) = delete;

 private:
  std::string name_;
  const std::string* outer_;
};
// The chosen name while an FioChosenOutput is alive, else null.
const std::string* fio_chosen_output();


// Commits OUT; on failure the write failure's line (the file and the
// system's reason) and a bad STATUS at the writer's POSITION. True when
// written.
bool fio_commit_output(AtomicFile& out, std::string_view position, Status& status);

// The count line of a text writer that wrote the values of FOUND that are not
// finite as the texts FIELD makes of them ("NaN", "Infinity"), which its
// readers may not take back: io_write_non_finite_line with NOUN ("value",
// "pixel").
void fio_say_non_finite(const NonFinitePixels& found, std::string_view noun,
                        std::string (*field)(float), Status& status);
// The same over VALUES, as "value"s.
void fio_say_non_finite(std::span<const float> values, std::string (*field)(float),
                        Status& status);

// A writer's remembered choice of one row or column (rows at first, row and
// column 1).
struct OneDChoice {
  bool rows = true;
  Index row = 1;
  Index column = 1;
};

// Applies the region's forcing rules (one column wide: a column; else one row
// high: a row; a remembered row or column outside the region: its first),
// then asks "OUTPUT ROWS" and "NUMBER OF ROW TO OUTPUT" or "NUMBER OF COLUMN
// TO OUTPUT". STATUS is left as the prompts leave it.
void fio_ask_row_or_column(OneDChoice& choice, Index xstrelm, Index ystrelm, Index xendelm,
                           Index yendelm, Status& status);

// The chosen row or column: X values from the matching axis, values and
// (when VARIANCES is not empty) variances.
struct Scan {
  std::vector<float> x, y, variance;
};
// The forcing rules alone, for the roads that do not ask.
void fio_force_row_or_column(OneDChoice& choice, Index xstrelm, Index ystrelm, Index xendelm,
                             Index yendelm);

// A form item of TYPE (as GsFormItem) with its label, the question of its
// box and its help line.
GsFormItem fio_form_item(std::string_view label, int type, std::string_view prompt,
                         std::string_view help);
// An integer item of LOWER..UPPER (within the int range), VALUE clamped into it.
GsFormItem fio_form_integer(std::string_view label, std::string_view prompt,
                            std::string_view help, Index lower, Index upper, Index value);

// The form "OUTPUT FILE NAME AND" / "ROW OR COLUMN TO OUTPUT": the output
// file, rows or columns, the row and the column. CANCEL gives the user escape
// and changes nothing.
void FIO_INP_1DOUT(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                   std::string& file_name, bool& output_rows, Index& row, Index& column,
                   Status& status);

// The graphical road of the 1-D writers: the forcing rules; unless
// NAME_CHOSEN, NAME proposed from INPUT_FILE (EXTENSION, else DEFAULT_FILE)
// and the form FIO_INP_1DOUT; then NAME opened for writing. Null after CANCEL
// (STATUS good) or a file that cannot be opened.
std::unique_ptr<AtomicFile> fio_gui_text_output(std::string_view input_file, bool name_chosen,
                                                std::string_view extension,
                                                std::string_view default_file, std::string& name,
                                                OneDChoice& choice, Index xstrelm, Index ystrelm,
                                                Index xendelm, Index yendelm, Status& status);

// The keyboard road of the 1-D writers: NAME opened by fio_ask_text_output,
// then the row or column asked by fio_ask_row_or_column. Null unless both
// went well (STATUS as they leave it).
std::unique_ptr<AtomicFile> fio_ask_1d_output(std::string& name, OneDChoice& choice,
                                              Index xstrelm, Index ystrelm, Index xendelm,
                                              Index yendelm, Status& status);

// Either road of a 1-D writer: GUI the graphical one (fio_gui_text_output);
// else NAME proposed from INPUT_FILE (EXTENSION, else DEFAULT_FILE) and the
// keyboard one (fio_ask_1d_output).
std::unique_ptr<AtomicFile> fio_1d_output(bool gui, std::string_view input_file,
                                          bool name_chosen, std::string_view extension,
                                          std::string_view default_file, std::string& name,
                                          OneDChoice& choice, Index xstrelm, Index ystrelm,
                                          Index xendelm, Index yendelm, Status& status);

Scan fio_scan(const OneDChoice& choice, Index xmaxdat, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, std::span<const float> xaxis,
              std::span<const float> yaxis, std::span<const float> data,
              std::span<const float> variances);

// Moves the remembered row (or column) on by one, for the writers that walk
// through the region.
void fio_advance(OneDChoice& choice);

}  // namespace kesta
