#pragma once
// Raw images without a header ("BINARY"): the writer dumps the active data
// region as 2- or 4-byte integers scaled from a value range, into records of a
// chosen length, and may describe them in an ASCII file named like the image
// plus ".info"; the reader takes 1-, 2- or 4-byte integers or 4-byte reals
// from any byte position, with sizes and layout from the user, the remembered
// settings ("IN_BIN_DATA_TYPE", "IN_BIN_SIGNED", "IN_BIN_SWAP",
// "IN_BIN_START") or the ".info" file. The DENZO MAR writer shares the
// dialogue and the array writer.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

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

// The layout of a raw image file.
struct RawLayout {
  Index nx = 1, ny = 1;        // pixels per row, rows
  std::string data_type;       // "4-BYTE INTEGER", "BYTE VALUES", "INTEGER (2-BYTE)",
                               // "REAL (4-BYTE IEEE)"
  bool is_signed = false;
  bool swap = false;
  Index start_byte = 1;        // numbered from 1
};

// The file work of the reader: columns 1..min(NX, XMAXDAT) and rows
// 1..min(NY, YMAXDAT) of PATH into a scratch image (no variances), with the
// data type's overload value. RETSTAT 1 unknown data type or no file; 5 the
// file ended before the region was complete; each after a message.
ImageRead read_binary_file(const std::string& path, const ReadRequest& request,
                           const RawLayout& layout, Status& status);

// The keyboard road: "INPUT FILE NAME", the ".info" file's defaults, the
// sizes, "DATA TYPE", and for 2- and 4-byte integers "PERFORM BYTE SWAPPING"
// and "SIGNED DATA"; the settings are stored back into the database. Pixel
// sizes come from the ".info" file, else 100 microns. A user escape gives
// RETSTAT -1 with STATUS good.
ImageRead binary_keyboard_read(const ReadRequest& request, std::string& file_name,
                               Status& status);

// The graphical road of the reader: FILE_NAME (no question), the ".info"
// file's defaults, then the layout form FIO_GUI_IN_DATA. RETSTAT -1 after
// CANCEL, with STATUS good.
ImageRead binary_gui_read(const ReadRequest& request, std::string& file_name, Status& status);
// The layout of the last read that asked for it (either road); none before.
std::optional<RawLayout> binary_answers();
// A later member of a series whose first member was read with ANSWERS (none:
// the remembered settings): FILE_NAME read without a question, its pixel
// sizes from its ".info" file as the asking roads take them.
ImageRead binary_member_read(const ReadRequest& request, const std::optional<RawLayout>& answers,
                             std::string& file_name, Status& status);
// The input layout form "TYPE AND SIZE OF FILE DATA": the file image's
// sizes, data type, sign, byte order and start byte (from 1). CANCEL gives
// the user escape and changes nothing.
void FIO_GUI_IN_DATA(Index xmaxdat, Index ymaxdat, Index& nx, Index& ny, std::string& data_type,
                     bool& is_signed, bool& swap, Index& start, Status& status);
// ASK true: the keyboard road (GUI false) or the graphical one (GUI true);
// ASK false: FILE_NAME with the
// remembered settings. The image read becomes the data set (RETSTAT 0,
// VARIANCES_EXIST false); otherwise the reader's code, nothing changed.
void FIO_IN_BINARY(bool gui, bool ask, const ImageTarget& target, std::string& file_name,
                   int& retstat, float& overload_value, Status& status);

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
