#pragma once
// Raw images without a header ("BINARY"): the writer dumps the active data
// region as 2- or 4-byte integers scaled from a value range, into records of a
// chosen length, and may describe them in an ASCII file named like the image
// plus ".info"; the reader takes 1-, 2- or 4-byte integers or 4-byte reals
// from any byte position, with sizes and layout from the user, the remembered
// settings ("IN_BIN_DATA_TYPE", "IN_BIN_SIGNED", "IN_BIN_SWAP",
// "IN_BIN_START") or the ".info" file. The DENZO MAR writer shares the
// dialogue and the array writer.

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Keyboard road (GUI false): asks "BINARY FILE NAME" (last name, at first
// "kesta.bin"), "RECORD LENGTH (BYTES)", "PAD RECORDS" (only for records
// longer than a row), "FIRST RECORD FOR OUTPUT", "BIG ENDIAN FORMAT INTEGERS"
// and the scaling limits, then writes the region; with HEADER_FILES also the
// ".info" file. BYTES_PER_PIXEL 2 or 4 (else 180017). RETSTAT 0 written,
// 1 not written (escape, path, open or write failure: old files unchanged).
void FIO_OUT_BINARY(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                    Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, std::string_view title, std::string_view xlabel,
                    std::string_view ylabel, std::string_view zlabel, float x_pixel_size,
                    float y_pixel_size, bool header_files, int bytes_per_pixel, int& retstat,
                    Status& status);

// Writes FILE_NAME + ".info" (lines 1 to 15 of the layout). XSTRELM outside
// 1..XENDELM gives 180005, YSTRELM outside 1..YENDELM 180006; a failed write
// a warning naming the file (the old file unchanged).
void FIO_OUT_HEADERFILE(std::string_view file_name, std::string_view title,
                        std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                        Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, float lower,
                        float upper, int bytes, bool big_endian, bool is_signed,
                        Index record_length, Index first_record, bool padded, float x_pixel_size,
                        float y_pixel_size, Status& status);

// Reads FILE_NAME + ".info"; every output it cannot read stays as it was.
// An empty FILE_NAME gives 180033.
void FIO_IN_HEADERFILE(std::string_view file_name, std::string& title, std::string& xlabel,
                       std::string& ylabel, std::string& zlabel, Index& nx, Index& ny,
                       float& lower, float& upper, int& bytes, bool& swap, bool& is_signed,
                       float& x_pixel_size, float& y_pixel_size, Status& status);

// Reads a raw image. ASK true asks on the terminal (GUI false); ASK false
// uses the remembered settings and FILE_NAME. RETSTAT 0 read; -1 user escape;
// 1 bad status in the dialogue, unknown data type or open failure; 5 the file
// ended before the region was complete. Only RETSTAT 0 changes the data set
// (VARIANCES_EXIST then false, pixel sizes from the ".info" file or 100
// microns).
void FIO_IN_BINARY(bool gui, bool ask, Index xmaxdat, Index ymaxdat, bool& variances_exist,
                   std::string& file_name, int& retstat, Index& xnumdat, Index& ynumdat,
                   std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                   std::string& title, std::string& xlabel, std::string& ylabel,
                   std::string& zlabel, float& x_pixel_size, float& y_pixel_size,
                   float& overload_value, Status& status);

// DENZO MAR output: a 124-byte header record (width, height, 8 zero integers,
// 15 zero reals, "**-***-*** **:**:**.**  ", machine order, the rest of the
// record zero), then the region column by column as 2-byte unsigned integers
// scaled onto 0..65535 in the chosen byte order. Asks "OUTPUT FILE NAME" (at
// first "kesta.corr"), "RECORD LENGTH (BYTES)" (124 to 12000),
// "BIG ENDIAN FORMAT INTEGERS" and the limits. RETSTAT as FIO_OUT_BINARY.
void FIO_OUT_MAR(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                 Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                 std::span<const float> data, int& retstat, Status& status);

// Back to the start-of-run settings of the writers and the reader.
void fio_reset_binary();

}  // namespace kesta
