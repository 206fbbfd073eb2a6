#pragma once
// Readers of a rectangular region of a raw 2-D pixel array stored row after
// row in the open input stream of the stream layer (formats/fio_stream.hpp),
// converted into the real data array. Pixel (x, y) of the file lies at byte
// START_BYTE + ((y-1) * FILE_XNUM + (x-1)) * BYTES (START_BYTE 1-based).
//
// The region XSTART..XEND x YSTART..YEND is counted from the other end of the
// file row (REVERSE_X) or column (REVERSE_Y) when asked; its pixel (i, j)
// goes to DATA(i, j). Only the part that fits XMAXDAT x YMAXDAT is stored;
// XNUMDAT, YNUMDAT become the stored extent. SIGNED false takes negative
// stored values as unsigned. SWAP: the file's byte order differs from the
// machine's. BUFFER (BUFSIZE elements) is the read buffer: one positioned
// seek, then strictly forward reads of whole rows.
//
// STATUS 180000 plus, in this order: 1, 2 XMAXDAT / YMAXDAT below 1 (1 also
// for DATA smaller than them); 17, 18 FILE_XNUM / FILE_YNUM below 1; 17, 18
// XSTART / YSTART below 1; 5, 6 XEND / YEND beyond the file; 5, 6 start after
// end; 17, 18 XBIN / YBIN below 1; 17 START_BYTE below 1 or BUFSIZE below 1.
// Rebinning or transposing: an error line and STATUS 9999. A short or failed
// read: STATUS 11005, the rows read so far stay in DATA.

#include <cstdint>
#include <span>

#include "core/types.hpp"

namespace kesta {

void FIO_INP_2DBYTE(int stream, bool is_signed, bool reverse_x, bool reverse_y, bool transpose,
                    Index file_xnum, Index file_ynum, Index xstart, Index ystart, Index xend,
                    Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                    std::span<std::int8_t> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                    Index& ynumdat, std::span<float> data, Status& status);
void FIO_INP_2DI2(int stream, bool swap, bool is_signed, bool reverse_x, bool reverse_y,
                  bool transpose, Index file_xnum, Index file_ynum, Index xstart, Index ystart,
                  Index xend, Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                  std::span<std::int16_t> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                  Index& ynumdat, std::span<float> data, Status& status);
void FIO_INP_2DI4(int stream, bool swap, bool is_signed, bool reverse_x, bool reverse_y,
                  bool transpose, Index file_xnum, Index file_ynum, Index xstart, Index ystart,
                  Index xend, Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                  std::span<std::int32_t> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                  Index& ynumdat, std::span<float> data, Status& status);
void FIO_INP_2DR4(int stream, bool swap, bool reverse_x, bool reverse_y, bool transpose,
                  Index file_xnum, Index file_ynum, Index xstart, Index ystart, Index xend,
                  Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                  std::span<float> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                  Index& ynumdat, std::span<float> data, Status& status);

}  // namespace kesta
