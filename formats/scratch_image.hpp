#pragma once
// How every image reader hands an image to the data set: stage, then commit.
//
// A reader's file work is one routine without dialogue that reads a named
// file into a ScratchImage of its own and returns it (ImageRead: RETSTAT 0
// and the image, or the failure code after its message was written). Nothing
// of the caller's data set is touched while reading. The one routine
// commit_image then makes the scratch image the data set; it cannot fail, so
// a failed read leaves values, axes, title, labels and pixel sizes as they
// were by construction.
//
// The pixels go straight into the scratch array (IO_MALLOC'd, the program
// arrays' allocator, of the program arrays' shape). When the caller gives the
// address of the program array behind the data (ImageTarget::data_block) and
// the image fills most of it, commit swaps the scratch array in and frees the
// old one: one image-sized array is written per read, never a second copy.
// A smaller image, and every image without it (tests, tools with plain
// spans), is copied into the arrays over its extent: a small read into large
// arrays touches the pages of its image, never the whole arrays.

#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/io_output.hpp"
#include "core/types.hpp"

namespace kesta {

// A block of floats from IO_MALLOC, freed with IO_FREE.
struct FloatBlockFree {
  void operator()(float* block) const;
};
using FloatBlock = std::unique_ptr<float, FloatBlockFree>;

// An image read from a file and not yet the data set's. Elements (x, y) of
// DATA and VARIANCES are at element(x, y, xmaxdat); only the extent
// XNUMDAT x YNUMDAT is meaningful. An empty optional keeps the data set's
// value at commit (a file without a title keeps the current title).
struct ScratchImage {
  Index xmaxdat = 0;
  Index ymaxdat = 0;
  Index xnumdat = 0;
  Index ynumdat = 0;
  FloatBlock data;       // xmaxdat * ymaxdat
  FloatBlock variances;  // empty when the file holds none
  std::vector<float> xaxis;  // xnumdat values; empty: the pixel centres x - 0.5
  std::vector<float> yaxis;  // ynumdat values; empty: the pixel centres y - 0.5
  std::optional<std::string> title, xlabel, ylabel, zlabel;
  std::optional<float> x_pixel_size, y_pixel_size;
  // A pixel size above that is the reader's own default, not read from the
  // file: neither the data set nor the database takes it.
  bool x_pixel_size_defaulted = false, y_pixel_size_defaulted = false;
  std::optional<float> overload;  // the file's overload level, when it gives one
  std::optional<float> sample_distance;  // metres, stored as SAMPLE_DISTANCE on input
  // The image's own size in its file, which every reader of a whole image
  // gives (a 1-D reader: its count by 1): larger than the extent when only
  // the part the arrays hold was kept, or when a region was read. 0: not
  // given; a series cannot compare such a member with its first and
  // refuses it.
  Index file_xnum = 0;
  Index file_ynum = 0;

  // The whole arrays (xmaxdat * ymaxdat); empty when not allocated.
  std::span<float> pixels() const;
  std::span<float> variance_pixels() const;
};

// A reader's result: RETSTAT 0 with the image, or the reader's failure code
// (1 unless its routine documents others) after its message was written.
struct ImageRead {
  int retstat = 1;
  ScratchImage image;
  bool ok() const { return retstat == 0; }
};

// The X values of a 1-D reader, room for MAXDAT of which it fills the first:
// nothing is written beyond what the reader writes, so a short scan read
// into long arrays touches the pages of its own values only.
class AxisBuffer {
 public:
  explicit AxisBuffer(Index maxdat)
      : values_(std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(maxdat))),
        size_(static_cast<std::size_t>(maxdat)) {}
  std::span<float> values() const { return {values_.get(), size_}; }
  // The first N values (N at most MAXDAT), those the reader wrote.
  std::vector<float> first(Index n) const {
    return {values_.get(), values_.get() + static_cast<std::size_t>(n)};
  }

 private:
  std::unique_ptr<float[]> values_;
  std::size_t size_;
};

// What the data set asks of a reader: the program arrays' shape and whether
// variances are wanted (read only then).
struct ReadRequest {
  Index xmaxdat = 0;
  Index ymaxdat = 0;
  bool variances = false;
};

// The extent a reader will write into its scratch image, when it knows it
// before reading (0 x 0: not known, taken as the whole arrays).
struct ScratchExtent {
  Index xnum = 0;
  Index ynum = 0;
};

// A scratch image of the request's shape with uninitialised data (and
// variances when WITH_VARIANCES). Large pages are asked for over the rows
// the reader writes when it writes most of each (EXPECTED): an image a few
// pixels wide in wide arrays would otherwise make a large page resident for
// every few of its rows. False after "WARNING: Not enough memory to read the
// file PATH" when memory is short.
bool scratch_allocate(const ReadRequest& request, bool with_variances, const std::string& path,
                      ScratchImage& image, Status& status, ScratchExtent expected = {});

// The data set a reader's image goes into. DATA and VARIANCES view the
// arrays; DATA_BLOCK and VARIANCES_BLOCK, when given, are the IO_MALLOC'd
// program arrays behind them, which commit replaces by the scratch arrays.
struct ImageTarget {
  Index xmaxdat;
  Index ymaxdat;
  bool& variances_exist;
  Index& xnumdat;
  Index& ynumdat;
  std::span<float> xaxis;
  std::span<float> yaxis;
  std::span<float> data;
  std::span<float> variances;
  std::string& title;
  std::string& xlabel;
  std::string& ylabel;
  std::string& zlabel;
  float& x_pixel_size;
  float& y_pixel_size;
  float** data_block = nullptr;
  float** variances_block = nullptr;
};

// True when TARGET's spans hold its shape (the axes their dimension, the
// variances too while they exist).
bool target_holds(const ImageTarget& target);

// The entry check of a reader: bad dimensions give BASE + 1 (X) or BASE + 2
// (Y), a target whose spans do not hold its shape BASE + 1; STATUS then holds
// the code, POSITION is recorded and the result is true.
bool target_refused(const ImageTarget& target, Status base, std::string_view position,
                    Status& status);

// Makes IMAGE (read for TARGET's shape, extent >= 1 x 1) the data set: the
// extent, the pixels (swapped in when the target gives its block and the
// image fills at least half of it: elements outside the extent then read 0;
// copied otherwise: they keep their values),
// the variances when the image has them (VARIANCES_EXIST becomes false when
// the target had variances and the image has none), the axes (pixel centres
// when the image has none), and every description the image gives. The pixel
// sizes are the detector's: each one the file gave (file_pixel_size), else
// the stored detector size, never the data set's before; a scan's (one row)
// are its own bin widths the same way. IMAGE is left empty.
void commit_image(ScratchImage& image, const ImageTarget& target);

// The pixel sizes some detector has, in metres: a size outside them (a scan's
// step, 1.0E-20 or 1 m from a damaged header) is kept by the image it came
// with but is never taken as the detector's.
inline constexpr float kSmallestPixelSize = 1.0e-6f;
inline constexpr float kLargestPixelSize = 5.0e-3f;
inline bool detector_pixel_size(float size) {
  return size >= kSmallestPixelSize && size <= kLargestPixelSize;
}
// The sample-to-detector distances the geometry question takes, in metres.
inline constexpr float kShortestDistance = 1.0e-4f;
inline constexpr float kLongestDistance = 100.0f;
inline bool experiment_distance(float distance) {
  return distance >= kShortestDistance && distance <= kLongestDistance;
}

// A pixel size read from a file: GIVEN when it is above 0 and finite and not
// its reader's default (a file saved while the database held zeros, a header
// field left at 0), else none.
std::optional<float> file_pixel_size(const std::optional<float>& given, bool defaulted);

// The detector's pixel sizes as stored ("X_PIXEL_SIZE", "Y_PIXEL_SIZE",
// which only a detector file's own sizes or a value the user typed set); a
// key not stored gives the data sets' start value, 1.0E-04 metres.
void stored_detector_pixel_sizes(float& x_pixel_size, float& y_pixel_size);

// Input files are opened with open_input_file (core/io_output.hpp): regular
// files only, checked before a byte is read.

// The keyboard roads' file name: asks "INPUT FILE NAME" (FILE_NAME the
// default, updated) and translates it into PATH. False after a user escape
// (STATUS the escape) or a path that cannot be translated.
bool ask_input_path(std::string& file_name, std::string& path, Status& status);
// FILE_NAME translated into PATH ("~" expanded); false when it cannot be.
bool input_path(const std::string& file_name, std::string& path, Status& status);

// The one message of a file that is not read: "WARNING: File PATH PROBLEM;
// the data are unchanged"; written by report_unread_file.
std::string unread_file_line(const std::string& path, std::string_view problem);
void report_unread_file(const std::string& path, std::string_view problem, Status& status);
// Whether LINE is such a message of PROBLEM, for any path.
bool is_unread_file_line(std::string_view line, std::string_view problem);

// The closing line of a reader that could not decode what it read.
inline constexpr std::string_view kCannotDecodeLine = "WARNING: Cannot decode image";

// The one warning of an image of XNUM x YNUM pixels that REQUEST's arrays
// cannot hold, which is then read in part: "WARNING: The image is bigger
// than the presently defined program arrays" / "only a part of the image
// will be input.". Nothing when it fits; true when said.
bool warn_partial_image(Index xnum, Index ynum, const ReadRequest& request, Status& status);
inline constexpr std::string_view kPartialImageWarning[] = {
    "WARNING: The image is bigger than the presently defined program arrays",
    "         only a part of the image will be input."};
// The other readers' lines of an image cut to the arrays: the native
// reader's line starting "File array size = " for each array item cut and
// its closing line, and the fixed-header readers' width and height lines.
inline constexpr std::string_view kArraySizeLine = "File array size = ";
inline constexpr std::string_view kNotAllDataLine = "WARNING: Not all of the data could be input";
inline constexpr std::string_view kPartialWidthWarning[] = {
    "WARNING: The image width has more pixels than the current program array",
    "         X-dimension; only part of the image will be input"};
inline constexpr std::string_view kPartialHeightWarning[] = {
    "WARNING: The image height has more pixels than the current program array",
    "         Y-dimension; only part of the image will be input"};
// Whether LINE is one of those that say an image was cut to the arrays (a
// series says them for its first member only: the others have its size).
bool is_partial_image_line(std::string_view line);

}  // namespace kesta
