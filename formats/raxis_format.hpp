#pragma once
// R-AXIS image-plate images: a binary header whose 4-byte NX (byte 768), NY
// (772), header length R (784) and scale S (800, real) tell the byte order
// (NX or NY outside 0..16000 as read: the other order), then NY rows of NX
// signed 16-bit pixels from byte R, the first row data row 1. A negative
// stored value v stands for (v + 32768) * S.

#include <string>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The file work of the reader: PATH into a scratch image. Refused with a
// message naming the file: a header of fewer than 1024 bytes, sizes outside
// 1..16000 in both byte orders, data the file cannot hold.
ImageRead read_raxis_file(const std::string& path, const ReadRequest& request, Status& status);

// The keyboard road: "RAXIS DETECTOR DATA FILE NAME", asked again until the
// file opens.
ImageRead raxis_keyboard_read(const ReadRequest& request, std::string& file_name,
                              Status& status);

}  // namespace kesta
