#pragma once
// MAR image-plate images: the older format (a header record of 2 x NX bytes,
// NX 1200 or 2000, unsigned 16-bit pixels or a packed image, and overflow
// pairs) and the mar345 format (a 4096-byte header of 4-byte integers and
// 64-byte text lines, high-intensity pairs from byte 4096, then plain 16-bit
// pixels or a packed image). The first 4-byte integer (1200, 2000 or 1234)
// tells the kind and, read reversed, the other byte order.

#include <string>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The file work of the reader: PATH into a scratch image (PACKED: an older
// file's pixels are a packed image). File rows are data rows in file order;
// an overflow or high-intensity pair (pixel number P, value V) sets pixel P
// (1-based, row after row) when it lies in the image and the arrays. Pixel
// sizes 150 microns (older) or from the mar345 header; the sample distance
// from the header. Refused with a message naming the file: not regular, a
// first integer known in neither byte order, a header that cannot be read,
// sizes below 1, data the file cannot hold, a spiral read-out.
ImageRead read_mar_file(const std::string& path, const ReadRequest& request, bool packed,
                        Status& status);

// Keyboard roads: "DATA FILE NAME", then the file. "MAR RESEARCH FORMAT"
// first says "NOTE: USING NEW INPUT CODE"; "MAR-PCK FORMAT" reads the older
// format's packed image.
ImageRead mar_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);
ImageRead mar_research_keyboard_read(const ReadRequest& request, std::string& file_name,
                                     Status& status);
ImageRead mar_pck_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status);

}  // namespace kesta
