#pragma once
// Text and record files of one scan or of the whole region: GSAS (80-byte
// records), PowderCIF and 3CAM (one row or column of the region), spread
// sheet and MCA (the whole region), the PDS scan writer and reader, and the
// typed input of a list of values. A value too wide for its fixed field
// refuses the write (nothing is written, an old file stays as it was).

#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "formats/scratch_image.hpp"

namespace kesta {

// Keyboard road: each asks the file name and the row or column, then writes.
// RETSTAT 0 written; 1 not opened or refused; 2 a write failure.
void FIO_OUT_GSAS(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                  Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<const float> data, std::span<const float> variances,
                  std::string_view title, std::string_view xlabel, std::string_view ylabel,
                  std::string_view zlabel, bool variances_exist, std::string& file_name,
                  int& retstat, Status& status);
void FIO_OUT_POWDERCIF(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                       Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<const float> data, std::span<const float> variances,
                       std::string_view title, std::string_view xlabel, std::string_view ylabel,
                       std::string_view zlabel, bool variances_exist, std::string& file_name,
                       int& retstat, Status& status);
void FIO_OUT_3CAM(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<const float> data, std::string_view title, Status& status);
void FIO_OUT_SPREAD(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                    Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, std::string& file_name, int& retstat,
                    Status& status);
void FIO_OUT_MCA(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, Status& status);

// Writes a scan of N points (angles START and STEP in radians, written in
// degrees) as a PDS file asked for by name (at first "scan.pds"). Start, step
// and end get more decimals where 3 would read back more than 1% of a step
// away. MAXDAT below 1 gives 180001; N below 1 or above MAXDAT 180005.
void FIO_OUT_PDS(float factor, std::string_view title, float start, float step, Index maxdat,
                 Index n, std::span<const float> intensity, std::span<const float> second,
                 Status& status);

// Reads a PDS file into XAXIS and DATA (the first row). RETSTAT 0 read; 1 not
// (nothing changed). VARIANCES_EXIST comes back false. MAXDAT below 1 gives
// 180001.
void FIO_IN_PDS(bool name_given, Index maxdat, bool& variances_exist, std::string& file_name,
                int& retstat, Index& numdat, std::span<float> xaxis, std::span<float> data,
                std::string& title, std::string& xlabel, std::string& zlabel,
                float& x_pixel_size, Status& status);

// The keyboard roads of the PDS reader and the typed values: the scan or
// the values become the first row of a scratch image.
ImageRead pds_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);
ImageRead user_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status);

// Typed values ("ENTER DATA VALUE" until the user escape, then changes by
// number). RETSTAT 0 entered; 1 nothing entered or an escape while changing
// (the data set unchanged). XMAXDAT or YMAXDAT below 1 gives 180001/180002.
void FIO_IN_USER(Index xmaxdat, Index ymaxdat, Index& xnumdat, Index& ynumdat,
                 std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                 std::string& title, std::string& xlabel, std::string& ylabel,
                 std::string& zlabel, int& retstat, Status& status);

// Back to the start-of-run state of these writers and readers.
void fio_reset_scan_formats();

}  // namespace kesta
