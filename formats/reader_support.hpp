#pragma once
// Small steps the image readers of these formats share on top of
// formats/scratch_image.hpp.

#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The test of the formats whose text header starts the file in braces:
// RETSTAT 0 when the first 1024 bytes could be read and the first is "{", 1
// when it is another byte, -3 for a shorter file, else the open code (after
// "WARNING: Error in opening file").
void fio_sniff_brace_header(std::string_view file_name, int& retstat, Status& status);

// Opens PATH, a regular file only, as the stream layer's input stream (for
// the region readers); false after a message naming the file.
bool fio_open_input(const std::string& path, int& stream, Status& status);

// Closes the stream layer's input stream STREAM when it goes.
class FioInputClose {
 public:
  explicit FioInputClose(int stream) : stream_(stream) {}
  ~FioInputClose();
  FioInputClose(const FioInputClose&) = delete;
  FioInputClose& operator=(const FioInputClose&) = delete;

 private:
  int stream_;
};

// True when the file at PATH holds NX x NY pixels of BYTES bytes from byte
// START_BYTE (numbered from 1); otherwise false after "WARNING: File PATH is
// too short for ..." (sizes that overflow count as too short).
bool file_holds_image(const std::string& path, Index nx, Index ny, Index bytes, Index start_byte,
                      Status& status);

// The readers that have no variances of their own give the data as the
// variances: copies the extent of IMAGE's data into its variances, when it
// has them.
void variances_from_data(ScratchImage& image);

// The FIO_IN_ routines of the keyboard-only readers: checks TARGET (STATUS
// 180001/180002 recorded at POSITION), runs READ for its shape and makes the
// image read the data set (RETSTAT 0); otherwise RETSTAT 1 (or the reader's
// code) and nothing changed.
void read_into_target(ImageRead (*read)(const ReadRequest&, std::string&, Status&),
                      const ImageTarget& target, std::string& file_name, int& retstat,
                      std::string_view position, Status& status);

// The descriptions of an image read from a raw layout: the title PATH,
// labels "Columns", "Rows", "Intensity".
void describe_raw_image(ScratchImage& image, const std::string& title);

}  // namespace kesta
