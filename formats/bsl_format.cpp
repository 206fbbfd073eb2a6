#include "formats/bsl_format.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "core/ask_again.hpp"
#include "core/atomic_file.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/detector_input.hpp"
#include "formats/format_menus.hpp"
#include "formats/text_files.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

namespace {

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A line of a header file is kept to this length (a file name at most);
// the rest of a longer line is read past.
constexpr std::size_t kHeaderLineLength = 4096;

// The data sets of the open header file IN, named PATH.
std::vector<BslDataSet> sets_in(std::FILE* in, const std::string& path, Status& status) {
  std::vector<BslDataSet> sets;
  std::string line;
  bool cut = false;
  const auto next = [&](std::string& text) {
    return io_read_bounded_line(in, kHeaderLineLength, text, cut);
  };
  next(line);
  next(line);
  static const char* const kMissing[] = {
      "WARNING: Could not input number of X-pixels", "WARNING: Could not input number of Y-pixels",
      "WARNING: Could not input frame number", "WARNING: Could not input file byte ordering",
      "WARNING: Could not input data type"};
  while (next(line)) {
    if (used_text(line).empty()) continue;
    std::istringstream numbers(line);
    Index values[5] = {};
    for (int k = 0; k < 5; ++k)
      if (!(numbers >> values[k])) {
        IO_WRITE(kMissing[k], status);
        IO_WRITE("         (Maybe wrong file type ?)", status);
        return {};
      }
    std::string file;
    if (!next(file) || used_text(file).empty()) {
      IO_WRITE("WARNING: Could not input header file information.", status);
      return {};
    }
    // Only the name counts: the data file lies beside its header, wherever
    // the line points.
    const std::string named(used_text(file));
    sets.push_back({values[0], values[1], values[2], values[3], values[4],
                    directory_of(path) + name_of(named)});
  }
  if (sets.empty()) IO_WRITE("WARNING: Could not input header file information.", status);
  for (std::size_t k = 0; k < sets.size(); ++k)
    IO_WRITE("INFO: Data-set (\"memory\")" + format_i(static_cast<Index>(k + 1), 2) + " contains " +
                 format_i(sets[k].images, 2) + " image(s) of " + format_i(sets[k].nx, 6) + " x " +
                 format_i(sets[k].ny, 6) + " pixels",
             status);
  return sets;
}

}  // namespace

std::vector<BslDataSet> bsl_data_sets(const std::string& path, Status& status) {
  std::string problem;
  const InputFile in = open_input_file(path, problem);
  if (!in) {
    report_unread_file(path, problem, status);
    return {};
  }
  return sets_in(in.get(), path, status);
}

ImageRead read_bsl_file(const std::string& path, const ReadRequest& request, Index set,
                        Index image_number, Status& status) {
  if (status != kStatusGood) return {};
  const std::vector<BslDataSet> sets = bsl_data_sets(path, status);
  if (sets.empty()) {
    report_unread_file(path, "was not input", status);
    return {};
  }
  return read_bsl_file(path, sets, request, set, image_number, status);
}

ImageRead read_bsl_file(const std::string& path, std::span<const BslDataSet> sets,
                        const ReadRequest& request, Index set, Index image_number,
                        Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  if (set < 1 || set > static_cast<Index>(sets.size())) {
    report_unread_file(path, "has no data set " + std::to_string(set), status);
    return result;
  }
  const BslDataSet& d = sets[static_cast<std::size_t>(set - 1)];
  if (image_number < 1 || image_number > d.images) {
    report_unread_file(
        path,
        "has no image " + std::to_string(image_number) + " in data set " + std::to_string(set),
        status);
    return result;
  }
  if (d.type != 0 && d.type != 3 && d.type != 4) {
    IO_WRITE("WARNING: File data type not presently supported", status);
    report_unread_file(path, "was not input", status);
    return result;
  }
  StreamInput input(d.file);
  if (!input.ok()) {
    IO_WRITE("WARNING: Error in opening binary image file:", status);
    IO_WRITE("       " + d.file, status);
    report_unread_file(d.file, input.problem(), status);
    return result;
  }
  // Images stride by their own pixel size; the sizes are checked below
  // before an offset is used.
  const int bytes = d.type == 0 ? 4 : 2;
  Index frame = 0, start = 0;
  if (d.nx < 1 || d.ny < 1 || !checked_product(d.nx, d.ny, frame) ||
      !checked_product(frame, bytes * (image_number - 1), start)) {
    report_unread_file(
        d.file,
        "is described with " + std::to_string(d.nx) + " x " + std::to_string(d.ny) + " pixels",
        status);
    return result;
  }
  const bool big = d.byte_order == 0;
  ScratchImage& scratch = result.image;
  if (!read_detector_pixels(
          input, d.file,
          {d.nx, d.ny, start, bytes, d.type == 3, big != IO_BIG_ENDIAN(), false, d.type == 0,
           "WARNING: Internal dimensions are too small to input all of the data"},
          request, scratch, status))
    return ImageRead{};
  describe_detector_image(d.file, scratch);
  result.retstat = 0;
  return result;
}

namespace {

struct BslState {
  int set = 1;
  int image = 1;
};
BslState bsl_state;

}  // namespace

ImageRead bsl_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  std::string path;
  if (!ask_input_file("INPUT FILE NAME", {"Name of input header file"}, kCouldNotOpen, file_name,
                      path, status))
    return {};
  const std::vector<BslDataSet> sets = bsl_data_sets(path, status);
  if (sets.empty()) {
    report_unread_file(path, "was not input", status);
    return {};
  }
  const int count = static_cast<int>(std::min<std::size_t>(sets.size(), 999));
  bsl_state.set = std::clamp(bsl_state.set, 1, count);
  if (count > 1)
    IO_INPI(true, 1, count, true, "DATA-SET (\"MEMORY\") NUMBER",
            {"Enter number of data-set (\"memory\") to input"},
            {"Enter an integer within the given range"}, bsl_state.set, status);
  if (status != kStatusGood) return {};
  const Index images = sets[static_cast<std::size_t>(bsl_state.set - 1)].images;
  const int last = static_cast<int>(std::clamp<Index>(images, 1, 1000000));
  bsl_state.image = std::clamp(bsl_state.image, 1, last);
  if (images > 1)
    IO_INPI(true, 1, last, true, "IMAGE NUMBER",
            {"Enter number of image within the data-set (\"memory\") to input"},
            {"Enter an integer within the given range"}, bsl_state.image, status);
  if (status != kStatusGood) return {};
  return read_bsl_file(path, sets, request, bsl_state.set, bsl_state.image, status);
}

void FIO_OUT_BSL(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                 std::string_view title, std::string& output_file, int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_BSL V0.6";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  // A name refused below is not offered again: the next call proposes the
  // one this call proposed.
  OfferedAnswer name(output_file);
  if (gui) {
    // The name proposed: the input file's first character, "01000", ".bsl".
    std::string bare;
    IO_NODIRPATH(input_file, bare, status);
    output_file = bare.empty() ? "G99000.bsl" : bare.substr(0, 1) + "01000.bsl";
    fio_warn_replacing_input(output_file, input_file, "O.K.", status);
    int cancelled = 0;
    GS_FILESELECTION(1, 1, {"NAME OF BSL/OTOKO OUTPUT FILE"}, 1, 1,
                     {"Click on, or enter name of output file"}, 3, false, cancelled, output_file,
                     status);
    if (status != kStatusGood || cancelled != 0) return;
  } else {
    IO_WRITE("NOTE: The header file name should be of the form Ann000.XXX, where", status);
    IO_WRITE("      A is any capital letter, nn is a number with two digits, and", status);
    IO_WRITE("      XXX is a three character file extension.", status);
    io_input_file_name(true, "OUTPUT FILE NAME", {"Name of the BSL/OTOKO header file"},
                       {"Unacceptable input"}, 11, output_file, status);
    if (status != kStatusGood) return;
  }
  std::string path, data_path;
  int trans = 0, named = 0;
  IO_TRANS_PATH(output_file, trans, path, status);
  if (status != kStatusGood) return;
  if (trans != 0) {
    IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
    name.refuse();
    return;
  }
  IO_NEWFILENAME(path, 1, 0, named, data_path, status);
  if (status != kStatusGood) return;
  if (named != 0 || data_path == path) {
    IO_WRITE("WARNING: Error creating name of output \"memory\" file, the file name", status);
    IO_WRITE("         for header file is not valid.", status);
    name.refuse();
    return;
  }
  AtomicFile header(path), binary(data_path);
  if (!header.ok() || !binary.ok()) {
    report_output_open_failure(header.ok() ? binary : header, status);
    name.refuse();
    return;
  }
  const Index columns = xendelm - xstrelm + 1;
  std::string numbers;
  for (const Index v : {columns, yendelm - ystrelm + 1, Index{1}, Index{IO_BIG_ENDIAN() ? 0 : 1},
                        Index{0}, Index{0}, Index{0}, Index{0}, Index{0}, Index{0}})
    numbers += format_i(v, 8);
  header.write_line(used_text(title));
  header.write_line(" ");
  header.write_line(numbers);
  header.write_line(name_of(data_path));
  for (Index y = ystrelm; y <= yendelm; ++y)
    binary.write(data.data() + element(xstrelm, y, xmaxdat),
                 static_cast<std::size_t>(columns) * sizeof(float));
  // The binary file first: a header never names a file that was not written.
  if (!binary.commit() || !header.commit()) {
    report_output_write_failure(binary.error().empty() ? header : binary, kPosition, status);
    return;
  }
  retstat = 0;
}

}  // namespace kesta
