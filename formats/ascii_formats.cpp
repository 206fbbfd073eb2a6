#include "formats/ascii_formats.hpp"

#include <algorithm>
#include <vector>

#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/fio_stream.hpp"
#include "formats/reader_support.hpp"
#include "formats/text_files.hpp"

namespace kesta {

namespace {

// Stream number of the text files these readers open with a prompt.
constexpr int kAsciiInputUnit = 26;

struct AsciiState {
  std::string free_file = "source.scan";
  int free_lines = 0, free_characters = 0, x_column = 1, y_column = 2;
  int nx = 0, ny = 0, lines_2d = 0;
  bool first_2d = true;
};
AsciiState fio_ascii_state;

// A text file opened with the name asked for, closed when the reader leaves.
class AskedTextFile {
 public:
  AskedTextFile(std::string& name, Status& status) {
    int retstat = 1;
    IO_OPEN_ASCIIFILE(true, "READ", kAsciiInputUnit, name, retstat, status);
    if (status == kStatusGood && retstat == 0) file_ = io_stream(kAsciiInputUnit);
  }
  ~AskedTextFile() {
    if (file_ != nullptr) io_close_stream(kAsciiInputUnit);
  }
  AskedTextFile(const AskedTextFile&) = delete;
  AskedTextFile& operator=(const AskedTextFile&) = delete;
  std::FILE* file() const { return file_; }

 private:
  std::FILE* file_ = nullptr;
};

// Shows the first lines of the file and goes back to its start; false when
// one of them is refused as too long.
bool show_sample(FioLineReader& lines, Status& status) {
  IO_WRITE("Sample of start of the input file:", status);
  std::string line;
  // A line of a whole image row can be very long: what fits one screen line.
  const auto width = static_cast<std::size_t>(io_terminal_width());
  for (int i = 0; i < 6 && lines.next(line, status); ++i)
    IO_WRITE(std::string_view(line).substr(0, width), status);
  std::rewind(lines.file());
  return !lines.refused();
}

// Skips N lines (fewer when the file ends first); false when one of them is
// refused as too long.
bool skip_lines(FioLineReader& lines, int n, Status& status) {
  std::string line;
  for (int i = 0; i < n && lines.next(line, status); ++i) {
  }
  return !lines.refused();
}

bool blank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

}  // namespace

void fio_reset_ascii() { fio_ascii_state = AsciiState{}; }

void FIO_IN_FREEFORMAT(std::string_view prompt, Index maxdat, Index& numdat, std::span<float> x,
                       std::span<float> y, std::string& file_name, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_FREEFORMAT V0.3";
  if (st_bad(status, kPosition)) return;
  if (maxdat < 1 || x.size() < static_cast<std::size_t>(maxdat) ||
      y.size() < static_cast<std::size_t>(maxdat)) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  auto& s = fio_ascii_state;
  if (!used_text(prompt).empty()) IO_WRITE(used_text(prompt), status);
  const AskedTextFile in(s.free_file, status);
  if (status != kStatusGood) return;
  if (in.file() == nullptr) {
    IO_WRITE("WARNING: File could not be opened successfully", status);
    return;
  }
  file_name = s.free_file;
  FioLineReader lines(in.file(), s.free_file, maxdat);
  if (!show_sample(lines, status)) return;
  std::string type = "VERTICAL COLUMNS";
  IO_MENU(true, "TYPE OF DATA FORMAT",
          {"Enter general type of data format or file layout from",
           "one of the following catergories: (more choices will be added)",
           "  VERTICAL COLUMNS : file with one or more data-sets   on each line"},
          {"Enter one of the given choices"}, 1, {"VERTICAL COLUMNS"}, type, status);
  IO_INPI(true, 0, 1000, true, "NUMBER OF LINES TO IGNORE",
          {"Number of lines at the start of the file to ignore"}, {"Enter integer in given range"},
          s.free_lines, status);
  if (status != kStatusGood) return;
  if (!skip_lines(lines, s.free_lines, status)) return;
  IO_INPI(true, 0, 255, true, "NUMBER OF CHARACTERS TO IGNORE",
          {"Number of characters/spaces to ignore at the start of each line"},
          {"Enter integer in given range"}, s.free_characters, status);
  int wanted = static_cast<int>(std::clamp<Index>(numdat, 0, maxdat));
  IO_INPI(true, 0, static_cast<int>(std::min<Index>(maxdat, 2147483647)), true,
          "NUMBER OF COORDINATES",
          {"Number of coordinates read from the file for the data-set.",
           "Enter 0 or a number larger than the number of values",
           "in the file to read until the end of the file."},
          {"Enter integer in given range"}, wanted, status);
  if (status != kStatusGood) return;
  const Index wanted_points = wanted == 0 ? maxdat : wanted;
  IO_WRITE("Columns of numbers for data-set " + format_i(1, 2), status);
  IO_INPI(true, 0, 80, true, "COLUMN NUMBER FOR X-COORDINATES",
          {"Enter number of column of numbers containing X-values or 0 for no X-coordinates"},
          {"Enter integer in given range"}, s.x_column, status);
  if (status != kStatusGood) return;
  s.y_column = std::max(s.x_column + 1, 1);
  IO_INPI(true, 1, 80, true, "COLUMN NUMBER FOR Y-COORDINATES",
          {"Enter number of column of numbers containing Y-values"},
          {"Enter integer in given range"}, s.y_column, status);
  if (status != kStatusGood) return;

  std::vector<float> xs, ys;
  std::string line;
  Index line_number = s.free_lines;
  auto value_of = [&](const std::vector<std::string>& tokens, int column, bool is_y) {
    float v = 0.0f;
    if (column > static_cast<int>(tokens.size())) {
      IO_WRITE("Line: " + format_i(line_number, 5) + " of file, column of numbers: " +
                   format_i(column, 2) + " could not be found (set to zero)",
               status);
      return 0.0f;
    }
    const std::string& token = tokens[static_cast<std::size_t>(column - 1)];
    if (fio_to_real(token, v)) return v;
    IO_WRITE("Line: " + format_i(line_number, 5) + " of file, column of numbers: " +
                 format_i(column, 2) + " could not be converted (set to zero)",
             status);
    if (is_y) IO_WRITE("Token =" + token, status);
    return 0.0f;
  };
  while (line_number < wanted_points + s.free_lines &&
         static_cast<Index>(ys.size()) < wanted_points && lines.next(line, status)) {
    ++line_number;
    if (blank(line)) continue;
    const auto tokens = fio_tokens(std::string_view(line).substr(
        std::min<std::size_t>(line.size(), static_cast<std::size_t>(s.free_characters))));
    xs.push_back(s.x_column == 0 ? static_cast<float>(ys.size() + 1)
                                 : value_of(tokens, s.x_column, false));
    ys.push_back(value_of(tokens, s.y_column, true));
  }
  if (lines.refused()) return;
  const auto n = static_cast<Index>(ys.size());
  if (n < wanted_points)
    IO_WRITE("INFO: " + format_i(n, 4) + " X/Y coordinates per data-set have been found", status);
  std::copy(xs.begin(), xs.end(), x.begin());
  std::copy(ys.begin(), ys.end(), y.begin());
  numdat = n;
}

void FIO_IN_1DASCII(std::string_view file_name, Index maxdat, int& retstat, Index& numdat,
                    std::span<float> values, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_1DASCII V0.1";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (maxdat < 1 || values.size() < static_cast<std::size_t>(maxdat)) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  std::string name(file_name);
  int stream = 0;
  FIO_OPENFILE(false, "READ_ASCII", name, retstat, stream, status);
  if (status != kStatusGood) return;
  if (retstat != 0) {
    IO_WRITE("WARNING: Problem opening input file", status);
    return;
  }
  std::vector<float> read;
  std::string line;
  FioLineReader lines(fio_input_file(), name, maxdat);
  while (static_cast<Index>(read.size()) < maxdat && lines.next(line, status)) {
    const auto tokens = fio_tokens(line);
    float v = 0.0f;
    if (tokens.empty())
      IO_WRITE("WARNING: Data items missing from file", status);
    else if (!fio_to_real(tokens[0], v))
      IO_WRITE("WARNING: Problem inputting data value:" + tokens[0], status);
    read.push_back(v);
  }
  int closed = 0;
  FIO_FILECLOSEC(stream, closed);
  if (lines.refused()) {
    retstat = 1;
    return;
  }
  std::copy(read.begin(), read.end(), values.begin());
  numdat = static_cast<Index>(read.size());
  retstat = 0;
}

namespace {

// The most values of a row or of rows the 2-D questions take.
constexpr int kMost2d = 10000000;

// The image of NX x NY values after IGNORE lines of LINES (FILE_NAME in the
// messages) into a scratch image of REQUEST's arrays; values beyond them
// are read and dropped.
ImageRead read_ascii_2d(FioLineReader& lines, const std::string& file_name,
                        const ReadRequest& request, Index nx, Index ny, int ignore,
                        Status& status) {
  ImageRead result;
  if (!skip_lines(lines, ignore, status)) return result;
  const Index xmaxdat = request.xmaxdat, ymaxdat = request.ymaxdat;
  ScratchImage& image = result.image;
  const Index xn = std::min(nx, xmaxdat), yn = std::min(ny, ymaxdat);
  if (!scratch_allocate(request, request.variances, file_name, image, status)) return result;
  const std::string_view separators = io_cseparators;
  std::string line;
  std::size_t at = 0;
  Index line_number = ignore, count = 0;
  const Index total = nx * ny;  // both at most 10^7
  // The next token of the file, reading lines as needed; false at the end.
  auto next_token = [&](std::string_view& token) {
    for (;;) {
      while (at < line.size() && separators.find(line[at]) != std::string_view::npos) ++at;
      if (at < line.size()) {
        const std::size_t start = at;
        while (at < line.size() && separators.find(line[at]) == std::string_view::npos) ++at;
        token = std::string_view(line).substr(start, at - start);
        return true;
      }
      if (!lines.next(line, status)) return false;
      ++line_number;
      at = 0;
    }
  };
  for (Index y = 1; y <= yn; ++y) {
    float* row = image.data.get() + element(1, y, xmaxdat);
    for (Index x = 1; x <= nx; ++x) {
      std::string_view token;
      float v = 0.0f;
      for (;;) {
        if (!next_token(token)) {
          if (!lines.refused())
            report_unread_file(file_name, "ends before the image is complete", status);
          return result;
        }
        if (fio_to_real(token, v)) break;
        IO_WRITE("WARNING: Failed to convert:" + std::string(token), status);
        IO_WRITE("         on line " + format_i(line_number, 5) + " of input file", status);
      }
      if (x <= xn) row[x - 1] = v;
      if (++count % 2000 == 0)
        IO_WRITE("INFO: Number of values input = " + format_i(count, 10) + " (" +
                     format_i(count * 100 / total, 3) + "%)",
                 status);
    }
  }
  image.xnumdat = xn;
  image.ynumdat = yn;
  variances_from_data(image);
  describe_raw_image(image, file_name);
  result.retstat = 0;
  return result;
}

}  // namespace

ImageRead read_ascii_2d_file(const std::string& path, const ReadRequest& request, Index nx,
                             Index ny, int lines_to_ignore, Status& status) {
  if (status != kStatusGood) return {};
  if (nx < 1 || ny < 1 || nx > kMost2d || ny > kMost2d || lines_to_ignore < 0) {
    report_unread_file(path,
                       "cannot be read as " + std::to_string(nx) + " x " + std::to_string(ny) +
                           " values after " + std::to_string(lines_to_ignore) + " lines",
                       status);
    return {};
  }
  std::string problem;
  const InputFile file = open_input_file(path, problem);
  if (!file) {
    report_unread_file(path, problem, status);
    return {};
  }
  FioLineReader lines(file.get(), path, request.xmaxdat);
  return read_ascii_2d(lines, path, request, nx, ny, lines_to_ignore, status);
}

ImageRead ascii_2d_keyboard_read(const ReadRequest& request, std::string& file_name,
                                 Status& status) {
  ImageRead result;
  const Index xmaxdat = request.xmaxdat, ymaxdat = request.ymaxdat;
  auto& s = fio_ascii_state;
  if (s.first_2d) {
    s.first_2d = false;
    s.nx = static_cast<int>(std::min<Index>(xmaxdat, kMost2d));
    s.ny = static_cast<int>(std::min<Index>(ymaxdat, kMost2d));
  }
  const AskedTextFile in(file_name, status);
  if (status != kStatusGood) return result;
  if (in.file() == nullptr) {
    IO_WRITE("WARNING: File could not be opened successfully", status);
    return result;
  }
  IO_INPI(true, 1, kMost2d, true, "X NUMBER PIXELS",
          {"Number of data elements horizontally in each line of data"},
          {"Enter integer in range"}, s.nx, status);
  IO_INPI(true, 1, kMost2d, true, "Y NUMBER PIXELS",
          {"Number of data elements vertically (number of lines)"}, {"Enter integer in range"},
          s.ny, status);
  if (status != kStatusGood) return result;
  if (s.nx > xmaxdat || s.ny > ymaxdat)
    IO_WRITE("WARNING: Internal dimensions are too small to input all of the data", status);
  FioLineReader lines(in.file(), file_name, xmaxdat);
  if (!show_sample(lines, status)) return result;
  IO_INPI(true, 0, 1000, true, "NUMBER OF LINES TO IGNORE",
          {"Number of lines at the start of the file to ignore"}, {"Enter integer in range"},
          s.lines_2d, status);
  if (status != kStatusGood) return result;
  return read_ascii_2d(lines, file_name, request, s.nx, s.ny, s.lines_2d, status);
}

void FIO_IN_2DASCII(const ImageTarget& target, std::string& file_name, int& retstat,
                    Status& status) {
  read_into_target(ascii_2d_keyboard_read, target, file_name, retstat,
                   "Subroutine FIO_IN_2DASCII V0.3", status);
}

ImageRead free_format_keyboard_read(const ReadRequest& request, std::string& file_name,
                                    Status& status) {
  ImageRead result;
  ScratchImage& image = result.image;
  if (!scratch_allocate(request, request.variances, fio_ascii_state.free_file, image, status))
    return result;
  const AxisBuffer x(request.xmaxdat);
  Index n = 0;
  FIO_IN_FREEFORMAT("Enter name of file containing 1-D data", request.xmaxdat, n, x.values(),
                    image.pixels(), file_name, status);
  if (status != kStatusGood || n < 1) return result;
  image.xaxis = x.first(n);
  image.xnumdat = n;
  image.ynumdat = 1;
  variances_from_data(image);
  result.retstat = 0;
  return result;
}

}  // namespace kesta
