#pragma once
// The predictive Huffman file ("HUFFMAN", a test of lossless compression of
// 16-bit images). Layout, all integers 4 bytes in the machine's order:
//   X, Y, BITS (16), PREDICTOR (1-4), MIN_SYMBOL, MAX_SYMBOL,
//   N = MAX_SYMBOL - MIN_SYMBOL + 2 code lengths (1 byte each; symbol
//   MIN_SYMBOL - 1 is the escape, 0 = unused), N codes (right-aligned),
//   the pixels' codes, most significant bit of each byte first, the last byte
//   padded with zero bits.
// Each pixel is coded as its residual from a prediction by its neighbours
// (a left, b up, c up-left, d up-right): 1 a; 2 (a+b)/2; 3 (a+b+c)/3;
// 4 (a+b+c+d)/4, in the last column (a+b+c)/3. The first pixel is predicted
// by 0, the rest of the first row by a, the first of later rows by b (with
// predictor 4 by (b+d)/2 when the row has a second pixel). A residual outside
// the symbol range is the escape and 16 bits, or the escape, 0x8000 and 32
// bits.

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

inline constexpr int kHuffmanMaxSymbols = 512;

// A code: the length and the code of each symbol from the escape up.
struct HuffmanCode {
  std::array<std::uint8_t, kHuffmanMaxSymbols> lengths{};
  std::array<std::uint32_t, kHuffmanMaxSymbols> codes{};
};

// Encodes the region of IMAGE (XMAXDAT x YMAXDAT 16-bit values) into FILE.
// MODE 0 builds the code from the residuals into CODE; MODE 1 uses CODE.
// RETSTAT 0 written; 1 MODE or PREDICTOR refused; 2 the symbol range
// refused; 3 N above 512; 4 an array size below 1; 5, 6 a bad X or Y region;
// 7 a code longer than 32 bits; 8 (mode 1) a residual present that CODE
// cannot code; 9 a failed write (errno its reason).
int FIO_OUT_2DI2C(std::FILE* file, int mode, int predictor, int min_symbol, int max_symbol,
                  std::span<const std::uint16_t> image, Index xmaxdat, Index ymaxdat,
                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, HuffmanCode& code);

// Decodes FILE into IMAGE (X fastest, row stride X). RETSTAT 0 read; 1 an
// array size below 1; 3 the symbol range too wide; 4 memory refused; 5 a
// damaged file (sizes below 1 or beyond XMAXDAT x YMAXDAT, bad predictor or
// range, lengths over 32, a code wider than its length, a bit pattern of no
// code, the file ending inside the data). Writes the image size and the
// predictor and symbol range.
int FIO_IN_2DI2C(std::FILE* file, Index xmaxdat, Index ymaxdat, Index& x, Index& y,
                 std::span<std::uint16_t> image, Status& status);

// Keyboard road of the writer: asks "OUTPUT FILE NAME" (at first
// "test.huf"), "PREDICTOR ALGORITHM TO APPLY" and "MODE OF OPERATION" and
// writes the region rounded and clipped to 0..65535. Mode 1 without a code
// built before, or with one that cannot code the image, is refused and the
// old file kept. RETSTAT 0 written, else 1.
void FIO_OUT_HUFFMAN(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                     Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                     std::span<const float> data, int& retstat, Status& status);

// The reader's file work and keyboard road ("DATA FILE NAME").
ImageRead read_huffman_file(const std::string& path, const ReadRequest& request, Status& status);
ImageRead huffman_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status);

// The keyboard road, then the image becomes the data set (RETSTAT 0).
void FIO_IN_HUFFMAN(const ImageTarget& target, std::string& file_name, int& retstat,
                    Status& status);

// Back to the start-of-run state (no saved code, mode 0, predictor 1).
void fio_reset_huffman();

}  // namespace kesta
