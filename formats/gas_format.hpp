#pragma once
// Gas 2-D detector images: a text header file (the first 20 characters of a
// line count; sections separated by "-1" lines; the image header section
// begins after a line "3" two lines after a "-1" line, its next four lines
// the bits per pixel (16 or 32), NX, NY and the number of frames) and a
// binary file, the header file's name followed by "hm": an optional 512-byte
// header record, then the frames, NY rows of NX values each.

#include <string>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The four values of the image header section.
struct GasLayout {
  Index bits = 0;
  Index nx = 0;
  Index ny = 0;
  Index frames = 0;
};

// How a read of the pair ended: the RETSTAT of gas_layout and read_gas_file,
// each failure after its warning (the graphical road shows a box of its own
// for each).
enum GasRead : int {
  kGasRead = 0,
  kGasRefused = 1,          // the header file not opened, no such frame, sizes beyond reach
  kGasEndOfFile = 2,        // the header file ends before its image header section
  kGasBadInput = 3,         // a read error before the image header section
  kGasNoSection = 4,        // the section's four values are not there
  kGasTooBig = 5,           // larger than the program arrays
  kGasUnknownBits = 6,      // bits per pixel other than 16 and 32
  kGasNoMemoryFile = 7,     // the "hm" file not opened
};

// The image header section of the header file PATH (described in INFO
// lines), opened as a regular file only; a failure after its warning.
GasRead gas_layout(const std::string& path, GasLayout& layout, Status& status);

// kGasTooBig after its warning when the image of LAYOUT is larger than the
// arrays of REQUEST, else kGasRead: checked before any question is asked.
GasRead gas_fits(const std::string& path, const GasLayout& layout, const ReadRequest& request,
                 Status& status);

// What decides what is read, asked on the keyboard.
struct GasChoice {
  bool header_record = false;
  Index image = 1;
  bool swap = false;
  bool is_signed = false;
};

// The file work of the reader: frame CHOICE.image of the binary file beside
// the header file PATH into a scratch image. Refused with a message naming
// the file: no image header section, an image larger than the arrays, bits
// other than 16 or 32, a frame outside the file (RETSTAT a GasRead).
ImageRead read_gas_file(const std::string& path, const ReadRequest& request,
                        const GasChoice& choice, Status& status);
// The same for the LAYOUT gas_layout has read from PATH: a road that has
// scanned the header to ask its questions does not read (nor describe) it
// again.
ImageRead read_gas_file(const std::string& path, const GasLayout& layout,
                        const ReadRequest& request, const GasChoice& choice, Status& status);

// The answers last given on either road, offered again (a question that was
// escaped leaves them as they were).
GasChoice& gas_answers();

// The keyboard road: "INPUT HEADER FILE NAME" until it opens, then the
// header record, frame, byte swapping and signedness questions.
ImageRead gas_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);

}  // namespace kesta
