#pragma once
// What the detector readers share: the stream layer's input stream opened on
// a regular file with its size, positioned reads checked against that size,
// the pixel array read through the region readers into a scratch image, and
// the description every detector image gets.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/io_output.hpp"
#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The input stream of the stream layer on PATH while alive. Not ok() when it
// could not be opened: problem() then says why (a directory, not a regular
// file, the system's reason).
class StreamInput {
 public:
  explicit StreamInput(const std::string& path);
  ~StreamInput();
  StreamInput(const StreamInput&) = delete;
  StreamInput& operator=(const StreamInput&) = delete;

  bool ok() const { return ok_; }
  const std::string& problem() const { return problem_; }
  int id() const { return id_; }
  Index size() const { return size_; }
  // True when bytes OFFSET .. OFFSET + COUNT - 1 (0-based) lie in the file.
  bool holds(Index offset, Index count) const;
  // COUNT bytes at OFFSET; false (nothing promised of BYTES) outside the file
  // or on a failed read.
  bool read(Index offset, void* bytes, Index count);
  // Positions the stream at OFFSET for a reader that goes on from there.
  bool seek(Index offset);
  // As read, without moving the stream, so that several threads may read
  // parts of the file at once.
  bool read_at(Index offset, void* bytes, Index count) const;

 private:
  bool ok_ = false;
  int id_ = 0;
  int fd_ = -1;
  Index size_ = 0;
  std::string problem_;
};

// The pixel array of a detector file: FILE_XNUM x FILE_YNUM pixels of BYTES
// (1, 2 or 4) bytes from byte START (0-based), rows one after another.
struct PixelLayout {
  Index file_xnum = 0;
  Index file_ynum = 0;
  Index start = 0;
  int bytes = 2;
  bool is_signed = false;
  bool swap = false;       // the file's byte order is not the machine's
  bool top_first = false;  // the file's first row is the image's top
  bool real = false;       // 4-byte IEEE reals, not integers
  // The one line said instead of the standard two when the image is larger
  // than the arrays (null: the standard lines; empty: the reader has said it).
  const char* too_large = nullptr;
  bool right_first = false;  // the file's first column is the image's right
};

// Reads the pixels into IMAGE (allocated for REQUEST, with variances when
// asked), clipped to the arrays with the two lines "WARNING: The image is
// bigger than the presently defined program arrays" / "only a part of the
// image will be input." when larger. Refused with a message naming PATH
// (false, nothing read) when a size is below 1 or the file cannot hold the
// array.
bool read_detector_pixels(StreamInput& input, const std::string& path, const PixelLayout& layout,
                          const ReadRequest& request, ScratchImage& image, Status& status);

// The checks and the allocation of read_detector_pixels, without reading:
// true with the extent to read (XEND x YEND pixels, the arrays' part of the
// file) once IMAGE is allocated and the size warnings said.
bool prepare_detector_pixels(const StreamInput& input, const std::string& path,
                             const PixelLayout& layout, const ReadRequest& request,
                             ScratchImage& image, Index& xend, Index& yend, Status& status);

// Runs PART(first, end) over consecutive ranges of rows covering 0 .. ROWS,
// several at once on their own threads when the file bytes behind them
// (BYTES) are many, the caller's thread taking the first. True when every
// part gave true. A large read is bound by the system's copy of the file and
// by writing the image array: on several processors both run side by side.
bool for_row_ranges(Index rows, Index bytes, const std::function<bool(Index, Index)>& part);

// The pixel array of LAYOUT (rows in file order, columns left first), once
// prepare_detector_pixels gave XEND and YEND, read in blocks that stay in the
// processor's cache and turned into the image's values as each block arrives:
// DECODE(const unsigned char* raw, float* out, Index count) makes COUNT values
// of one row from its raw bytes (byte order, sign and any scale its own), and
// may be called from several threads at once. False after a message when a
// read fails.
template <typename Decode>
bool decode_detector_pixels(StreamInput& input, const std::string& path, const PixelLayout& layout,
                            Index xend, Index yend, ScratchImage& image, Decode decode,
                            Status& status) {
  // Whole rows a block while a row is small; otherwise each row's part read.
  constexpr Index kBlock = Index{1} << 16;
  const Index row_bytes = layout.file_xnum * layout.bytes;
  const bool whole_rows = row_bytes <= kBlock;
  const Index rows = whole_rows ? std::max<Index>(1, kBlock / row_bytes) : 1;
  const Index read_bytes = whole_rows ? row_bytes : xend * layout.bytes;
  float* const data = image.data.get();
  const Index xmax = image.xmaxdat;
  const auto part = [&](Index first, Index end) {
    const auto block =
        std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(rows * read_bytes));
    for (Index y = first; y < end; y += rows) {
      const Index n = std::min(rows, end - y);
      if (!input.read_at(layout.start + y * row_bytes, block.get(),
                         whole_rows ? n * row_bytes : read_bytes))
        return false;
      for (Index j = 0; j < n; ++j)
        decode(block.get() + j * read_bytes, data + element(1, y + j + 1, xmax), xend);
    }
    return true;
  };
  if (!for_row_ranges(yend, yend * read_bytes, part)) {
    report_unread_file(path, "could not be read", status);
    return false;
  }
  image.xnumdat = xend;
  image.ynumdat = yend;
  return true;
}

// The description of a detector image read: axes at the pixel centres,
// labels "Columns", "Rows", "Intensity", TITLE, and the variances a copy of
// the data when the image has them.
void describe_detector_image(const std::string& title, ScratchImage& image);

// Asks PROMPT (HELP its help, FILE_NAME the default and updated) until the
// named file opens, each failure writing the RETRY lines, the name and why it
// failed, and asking again with the name offered first; PATH the file's
// translated name, OPENED (when given) the file opened. False after a user
// escape (STATUS the escape, FILE_NAME as offered). kRetypeName is the common
// RETRY.
inline const std::string kRetypeName[] = {"Error in opening file, Please retype name"};
inline const std::string kCouldNotOpen[] = {
    "WARNING: The entered file could not be opened (probably it doesn't exist)",
    "         (You can enter user escape (\\\\) to exit this command.)"};
bool ask_input_file(std::string_view prompt, TextLines help, TextLines retry,
                    std::string& file_name, std::string& path, Status& status,
                    InputFile* opened = nullptr);

// An integer answer of LOWER..UPPER (VALUE the default, clamped into the
// range); false after a user escape, and (after a warning, nothing asked)
// for a range an int cannot hold.
bool ask_index(std::string_view prompt, std::string_view help, Index lower, Index upper,
               Index& value, Status& status);

// True when INPUT is open; otherwise the message naming PATH and why.
bool input_opened(const StreamInput& input, const std::string& path, Status& status);

// The first integer of TEXT (after blanks); false when there is none.
bool leading_integer(std::string_view text, Index& value);

// A 4-byte integer or real at BYTES (host order), reversed when SWAP.
std::int32_t int32_at(const void* bytes, bool swap);
float real32_at(const void* bytes, bool swap);

}  // namespace kesta
