#pragma once
// The distortion look-up table: for every input pixel the lowest corner of a
// 3 x 3 block of output pixels (signed byte shifts) and nine byte fractions in
// units of 1/255 that share its intensity over the block; its file, its
// construction from the spline functions and its fast application.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/distortion/spline.hpp"
#include "core/types.hpp"

namespace kesta {

// Declared dimensions XMAXLUT x YMAXLUT, defined extent XNUMLUT x YNUMLUT;
// arrays column-major, fraction k (1..9) of pixel (x, y) at
// 9 x element(x, y, XMAXLUT) + k - 1 and going to output pixel
// (x + X shift + (k - 1) mod 3, y + Y shift + (k - 1) div 3).
struct DistortionTable {
  Index xmaxlut = 0;
  Index ymaxlut = 0;
  Index xnumlut = 0;
  Index ynumlut = 0;
  float x_pixel_size = 1.0e-4f;
  float y_pixel_size = 1.0e-4f;
  std::vector<std::int8_t> x_shifts;
  std::vector<std::int8_t> y_shifts;
  std::vector<std::uint8_t> fractions;

  // Arrays of XMAX x YMAX pixels (contents undefined), extent the same; false
  // (table unchanged) when the sizes overflow or cannot be allocated.
  bool allocate(Index xmax, Index ymax);
  bool empty() const { return xmaxlut < 1 || ymaxlut < 1; }
};

// The defaults-database key of the last table file stored.
inline constexpr std::string_view kDclutFileKey = "DCLUT_FILE_NAME";

// The table file's bytes, with the inverse flat-field response FLAT_FIELD
// (XMAXDAT wide, over the table's extent) when FLAT_FIELD_STORED. False, after
// the message, at a shift change outside -7..7 or fractions not summing to 255.
bool encode_dclut(const DistortionTable& table, bool flat_field_stored,
                  std::span<const float> flat_field, Index xmaxdat, std::string& bytes);

// STORE LOOK-UP TABLE: asks the file (default from INPUT_FILE with ".dclt",
// else "test.dclt") and whether to store the current data as the flat field,
// then writes the file through a temporary file; the name goes under
// DCLUT_FILE_NAME only after a complete store. RETSTAT 1 when the file could
// not be made, else 0.
void KZT_OUT_DCLUT(bool gui, std::string_view input_file, const DistortionTable& table,
                   Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                   std::span<const float> data, int& retstat, Status& status);

// LOAD LOOK-UP TABLE: asks the file and reads it with KZT_IN2DCLUT. When it
// carried a flat field, that becomes the current data (XNUMDAT, YNUMDAT, the
// active data region 1..X_NUMBER by 1..Y_NUMBER and the title "Inverse
// Flat-Field Response Image").
void KZT_INP_DCLUT(bool gui, std::string_view input_file, int& retstat, DistortionTable& table,
                   Index xmaxdat, Index ymaxdat, Index& xnumdat, Index& ynumdat, Index& xstrelm,
                   Index& ystrelm, Index& xendelm, Index& yendelm, std::span<float> data,
                   std::string& title, bool& table_defined, bool& flat_field_stored,
                   Status& status);

// Reads and checks the named table file. The table, TABLE_DEFINED,
// FLAT_FIELD_STORED and FLAT_FIELD (XMAXDAT x YMAXDAT) change only when the
// whole file was accepted (RETSTAT 0); a refused file (RETSTAT 1) is named in
// the message and changes nothing.
void KZT_IN2DCLUT(std::string_view file_name, int& retstat, DistortionTable& table, Index xmaxdat,
                  Index ymaxdat, std::span<float> flat_field, bool& table_defined,
                  bool& flat_field_stored, Status& status);

// LOOK-UP TABLE (SPATIAL DISTORTION): builds the table over its extent
// (XNUMLUT x YNUMLUT, at least 2 x 2) from the spline functions of SET at the
// pixel positions of the axes. TABLE_DEFINED becomes true only after a
// complete construction.
void KZT_SDLUT(const SplineSet& set, Index xmaxdat, Index ymaxdat, std::span<const float> xaxis,
               std::span<const float> yaxis, DistortionTable& table, bool& table_defined,
               Status& status);

// The byte plus or minus one, modulo 256.
inline void KZT_SDADD1(std::uint8_t& byte) { byte = static_cast<std::uint8_t>(byte + 1); }
inline void KZT_SDSUB1(std::uint8_t& byte) { byte = static_cast<std::uint8_t>(byte - 1); }

// FAST CORRECTION: the active data region (clipped to the table, with a
// warning) re-binned through the table into MDATA, whose region becomes the
// whole array; axes continued past the region. Without GUI the over-load
// value is asked (in/out).
void KZT_CORR_FAST(bool gui, const DistortionTable& table, Index xmaxdat, Index ymaxdat,
                   std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, float& overload_value, std::span<float> mxaxis,
                   std::span<float> myaxis, std::span<float> mdata, Index& mxstrelm,
                   Index& mystrelm, Index& mxendelm, Index& myendelm, Status& status);

// The kernel: adds v x fraction of every input pixel of the region (which
// lies inside the table's extent) into the output cells inside the output
// region; a value at or above the over-load value (or NaN) adds 255 x v to
// each cell of non-zero fraction. MDATA holds sums in units of 1/255: each
// cell gets the sum, in double, of all it receives, rounded once. Large
// regions are shared between threads; the result does not depend on their
// number.
void KZT_CORR_FASTC(const DistortionTable& table, float overload_value, Index xmaxdat,
                    Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, Index mxstrelm, Index mystrelm, Index mxendelm,
                    Index myendelm, std::span<float> mdata);

// Worker threads of the kernel (0: one per core). Any count gives the same
// result.
void kzt_set_fast_threads(int threads);

}  // namespace kesta
