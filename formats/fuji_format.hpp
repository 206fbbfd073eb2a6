#pragma once
// Fuji BAS-2000 image-plate scans: a text ".inf" file (one value a line: 5
// and 6 the pixel sizes in micrometres, 7 bits per pixel b, 8 pixels per row
// NX, 9 rows NY, 10 sensitivity S, 11 latitude L) and a binary ".img" file of
// NY rows of NX pixels (8-bit, or big-endian 16-bit for b 9..16), the first
// row data row 1. Stored values are logarithmic: value k stands for
// (4000 / S) * 100 * 10^(L * (k / 2^b - 0.5)).

#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// The ".img" file beside the ".inf" file INF_PATH, tried in order: the name
// without its extension and ".img", the same with "IMG", the name's last
// three characters replaced by "img", then by "IMG". Empty when none exists.
std::string fuji_image_file(const std::string& inf_path);

// The file work of the reader: INF_PATH's description, IMG_PATH's pixels,
// linearised, into a scratch image (title the ".inf" name without its
// directory; pixel sizes from the description). Refused with a message
// naming the file: a description that cannot be read, b outside 8..16, NX,
// NY or S below 1, L not a number, data the file cannot hold.
ImageRead read_fuji_file(const std::string& inf_path, const std::string& img_path,
                         const ReadRequest& request, Status& status);

// What the window shows of a scan being read, beside the terminal's lines:
// TEXT, the window's form of a warning of the description when WARNING (its
// box), otherwise the step under way (a prompt that does not wait).
using FujiShow = void (*)(std::string_view text, bool warning, Status& status);

// The same, showing the warnings and the steps through SHOW (the graphical
// road; null shows nothing).
ImageRead read_fuji_file(const std::string& inf_path, const std::string& img_path,
                         const ReadRequest& request, FujiShow show, Status& status);

// The keyboard road: "DATA FILE NAME (.inf file)" until it opens, then the
// ".img" file beside it or, when there is none, "BINARY DATA FILE NAME (.img
// file)".
ImageRead fuji_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);

}  // namespace kesta
