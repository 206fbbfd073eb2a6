#pragma once
// The compressed diffraction data file ("COMPRESSED DIFFRACTION DATA"): 512-byte
// records; record 1 starts with the 63-character text
// "CDD V01.00A X NUMBER =" I8 "; Y NUMBER =" I8 "; DATA (C1) =", a blank, and
// the first pixel's integer value C1 (4 bytes, least significant first); the
// code stream follows from byte 69 and runs on through the next records, the
// last record zero-filled. Each pixel (rows in order, X fastest) is coded as
// its difference from the pixel before it (the first of a row: from the first
// of the row above), in 4-bit nibbles, low nibble of a byte first:
//   n                   0..7 -> +n, 9..15 -> -(n-8), 8 escapes
//   8 n                 magnitude 7 + the same
//   8 8 n               magnitude 14 + the same
//   8 8 8 lo hi         byte lo+16hi: magnitude 21 + bits 0-6, bit 7 the sign;
//                       0x80 escapes
//   8 8 8 0 8 q1..q4    word q1+16q2+256q3+4096q4: magnitude 148 + bits 0-14,
//                       bit 15 the sign (0x8000 is no code)
// Whole numbers within 32 bits whose differences stay within 32915 round-trip
// exactly; values are rounded to the nearest integer (halves away from zero).

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// Writes the region to the file asked for ("OUTPUT FILE NAME", the last name,
// at first "kesta.cdd"). A value beyond 32 bits or a difference beyond 32915
// refuses the whole write with a message naming the pixel; an old file is
// then left as it was. RETSTAT 0 written, 1 not.
void FIO_OUT_CDD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, int& retstat, Status& status);

// The keyboard road: asks "DATA FILE NAME" (again after a file that does not
// open) and reads it; an image larger than the arrays keeps the part that
// fits. RETSTAT 1 (after a message) for a file not of this format or damaged.
ImageRead cdd_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);

// The keyboard road, then the image read becomes the data set (RETSTAT 0);
// otherwise RETSTAT 1 and nothing changed.
void FIO_IN_CDD(const ImageTarget& target, int& retstat, Status& status);

// The codec itself. Encodes the region into FILE; false (after a message) for
// a value or difference that has no code, or (without one: FILE's error flag
// is set and errno gives the reason) for a failed write.
bool cdd_encode(std::FILE* file, Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::span<const float> data, Status& status);

// Decodes FILE into IMAGE (at most XMAXDAT x YMAXDAT of it; wider rows are
// decoded and their extra pixels dropped). False (after a message naming
// NAME) for a file that is not of this format or is damaged.
bool cdd_decode(std::FILE* file, const std::string& name, const ReadRequest& request,
                ScratchImage& image, Status& status);

}  // namespace kesta
