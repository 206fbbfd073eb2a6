#include "formats/region_readers.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <type_traits>

#include "core/io_output.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {

namespace {

constexpr Status kReadFailed = 11005;

struct RegionArgs {
  bool reverse_x, reverse_y, transpose;
  Index file_xnum, file_ynum, xstart, ystart, xend, yend, xbin, ybin, start_byte, bufsize;
  Index xmaxdat, ymaxdat;
};

template <typename T>
void read_region(std::string_view position, std::string_view rebin_text, int stream, int swap,
                 bool is_signed, const RegionArgs& a, std::span<T> buffer, Index& xnumdat,
                 Index& ynumdat, std::span<float> data, Status& status) {
  if (st_bad(status, position)) return;
  Index elements = 0;
  Status code = 0;
  if (a.xmaxdat < 1 || !checked_product(a.xmaxdat, std::max<Index>(a.ymaxdat, 1), elements) ||
      static_cast<std::size_t>(elements) > data.size())
    code = 1;
  else if (a.ymaxdat < 1)
    code = 2;
  else if (a.file_xnum < 1)
    code = 17;
  else if (a.file_ynum < 1)
    code = 18;
  else if (a.xstart < 1)
    code = 17;
  else if (a.ystart < 1)
    code = 18;
  else if (a.xend > a.file_xnum)
    code = 5;
  else if (a.yend > a.file_ynum)
    code = 6;
  else if (a.xstart > a.xend)
    code = 5;
  else if (a.ystart > a.yend)
    code = 6;
  else if (a.xbin < 1)
    code = 17;
  else if (a.ybin < 1)
    code = 18;
  else if (a.start_byte < 1 || a.bufsize < 1 || buffer.empty())
    code = 17;
  if (code != 0) {
    st_fail(status, kBaseFormats + code, position);
    return;
  }
  const Index bytes = static_cast<Index>(sizeof(T));
  const Index first_col = a.reverse_x ? a.file_xnum - a.xend + 1 : a.xstart;
  const Index last_col = a.reverse_x ? a.file_xnum - a.xstart + 1 : a.xend;
  const Index first_row = a.reverse_y ? a.file_ynum - a.yend + 1 : a.ystart;
  const Index rows = a.yend - a.ystart + 1;
  const Index width = a.xend - a.xstart + 1;

  Index offset = 0, row_bytes = 0;
  if (!checked_product(a.file_xnum, bytes, row_bytes) ||
      !checked_product(first_row - 1, row_bytes, offset) ||
      offset > std::numeric_limits<Index>::max() - a.start_byte) {
    st_fail(status, kBaseFormats + 17, position);
    return;
  }
  offset += a.start_byte - 1;
  int retstat = 0;
  Index got = 0;
  auto raw = std::as_writable_bytes(buffer);
  FIO_FILEPREADC(stream, offset, 0, 0, 0, retstat, got, raw);
  if (retstat != 0) {
    st_fail(status, kReadFailed, position);
    return;
  }
  if (a.xbin != 1 || a.ybin != 1 || a.transpose) {
    IO_WRITE(rebin_text, status);
    st_fail(status, 9999, position);
    return;
  }

  const Index store_width = std::min(width, a.xmaxdat);
  const Index store_rows = std::min(rows, a.ymaxdat);
  const Index chunk = std::min<Index>(a.bufsize, static_cast<Index>(buffer.size()));
  Index left = 0;
  if (!checked_product(rows, a.file_xnum, left)) {
    st_fail(status, kBaseFormats + 17, position);
    return;
  }
  Index row = 1, col = 1;  // file row counter (1-based within the rows read) and column
  while (left > 0) {
    const Index n = std::min(chunk, left);
    FIO_FILEREADC(stream, n * bytes, n * bytes, swap, retstat, got, raw);
    if (retstat != 0) {
      st_fail(status, kReadFailed, position);
      return;
    }
    left -= n;
    // Walk the chunk row segment by row segment.
    Index k = 0;
    while (k < n) {
      const Index seg = std::min(n - k, a.file_xnum - col + 1);
      const Index j = a.reverse_y ? rows + 1 - row : row;
      if (j <= store_rows) {
        // File columns col .. col+seg-1 of this row that fall in the region.
        const Index from = std::max(col, first_col);
        const Index to = std::min(col + seg - 1, last_col);
        float* out = data.data() + element(1, j, a.xmaxdat);
        if (!a.reverse_x) {
          // Columns in order: one straight (vectorisable) loop per case.
          const T* in = buffer.data() + (k + from - col);
          float* to_out = out + (from - first_col);
          const Index count = std::min(to, first_col + store_width - 1) - from + 1;
          if (is_signed)
            for (Index m = 0; m < count; ++m) to_out[m] = raw_pixel_value(in[m], true);
          else
            for (Index m = 0; m < count; ++m) to_out[m] = raw_pixel_value(in[m], false);
        } else {
          for (Index x = from; x <= to; ++x) {
            const Index i = last_col - x + 1;
            if (i <= store_width)
              out[i - 1] =
                  raw_pixel_value(buffer[static_cast<std::size_t>(k + x - col)], is_signed);
          }
        }
      }
      k += seg;
      col += seg;
      if (col > a.file_xnum) {
        col = 1;
        ++row;
      }
    }
  }
  xnumdat = store_width;
  ynumdat = store_rows;
}

}  // namespace

void FIO_INP_2DBYTE(int stream, bool is_signed, bool reverse_x, bool reverse_y, bool transpose,
                    Index file_xnum, Index file_ynum, Index xstart, Index ystart, Index xend,
                    Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                    std::span<std::int8_t> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                    Index& ynumdat, std::span<float> data, Status& status) {
  const RegionArgs a{reverse_x, reverse_y, transpose, file_xnum, file_ynum, xstart, ystart, xend,
                     yend,      xbin,      ybin,      start_byte, bufsize,  xmaxdat, ymaxdat};
  read_region("Subroutine FIO_INP_2DBYTE V0.5",
              "ERROR: Re-binning/transposing on input not yet implemented", stream, 0, is_signed,
              a, buffer, xnumdat, ynumdat, data, status);
}

void FIO_INP_2DI2(int stream, bool swap, bool is_signed, bool reverse_x, bool reverse_y,
                  bool transpose, Index file_xnum, Index file_ynum, Index xstart, Index ystart,
                  Index xend, Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                  std::span<std::int16_t> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                  Index& ynumdat, std::span<float> data, Status& status) {
  const RegionArgs a{reverse_x, reverse_y, transpose, file_xnum, file_ynum, xstart, ystart, xend,
                     yend,      xbin,      ybin,      start_byte, bufsize,  xmaxdat, ymaxdat};
  read_region("Subroutine FIO_INP_2DI2 V0.5",
              "ERROR: Re-binning, transposing on input not yet implemented", stream, swap ? 1 : 0,
              is_signed, a, buffer, xnumdat, ynumdat, data, status);
}

void FIO_INP_2DI4(int stream, bool swap, bool is_signed, bool reverse_x, bool reverse_y,
                  bool transpose, Index file_xnum, Index file_ynum, Index xstart, Index ystart,
                  Index xend, Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                  std::span<std::int32_t> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                  Index& ynumdat, std::span<float> data, Status& status) {
  const RegionArgs a{reverse_x, reverse_y, transpose, file_xnum, file_ynum, xstart, ystart, xend,
                     yend,      xbin,      ybin,      start_byte, bufsize,  xmaxdat, ymaxdat};
  read_region("Subroutine FIO_INP_2DI4 V0.4",
              "ERROR: Re-binning, transposing on input not yet implemented", stream, swap ? 2 : 0,
              is_signed, a, buffer, xnumdat, ynumdat, data, status);
}

void FIO_INP_2DR4(int stream, bool swap, bool reverse_x, bool reverse_y, bool transpose,
                  Index file_xnum, Index file_ynum, Index xstart, Index ystart, Index xend,
                  Index yend, Index xbin, Index ybin, Index start_byte, Index bufsize,
                  std::span<float> buffer, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                  Index& ynumdat, std::span<float> data, Status& status) {
  const RegionArgs a{reverse_x, reverse_y, transpose, file_xnum, file_ynum, xstart, ystart, xend,
                     yend,      xbin,      ybin,      start_byte, bufsize,  xmaxdat, ymaxdat};
  read_region("Subroutine FIO_INP_2DR4 V0.4",
              "ERROR: Re-binning, transposing on input not yet implemented", stream, swap ? 2 : 0,
              true, a, buffer, xnumdat, ynumdat, data, status);
}

}  // namespace kesta
