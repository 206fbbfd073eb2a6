#include "core/raw_io.hpp"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "core/extremes.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"

namespace kesta {

bool io_seek(std::FILE* file, Index offset) {
  return file != nullptr && offset >= 0 && offset <= std::numeric_limits<off_t>::max() &&
         ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

namespace {

// The readers' common body; T is the element type of the file.
template <typename T>
void read_image(std::string_view position, int stream, bool swap, bool is_signed, bool xflip,
                bool yflip, Index xnumin, Index ynumin, Index xstrelm, Index ystrelm,
                Index xendelm, Index yendelm, Index xbin, Index ybin, Index record_bytes,
                Index byte_offset, Index work_size, std::span<T> work, Index xmaxdat,
                Index ymaxdat, Index& xnumdat, Index& ynumdat, std::span<float> data,
                Status& status) {
  if (st_bad(status, position)) return;
  constexpr Index kSize = sizeof(T);
  const auto fail = [&](Status code) { st_fail(status, kBaseApp + code, position); };

  if (xmaxdat <= 0) return fail(1);
  if (ymaxdat <= 0) return fail(2);
  if (xnumin < 1) return fail(17);
  if (ynumin < 1) return fail(18);
  if (xstrelm < 1) return fail(17);
  if (ystrelm < 1) return fail(18);
  if (xendelm > xnumin) return fail(5);
  if (yendelm > ynumin) return fail(6);
  if (xstrelm > xendelm) return fail(5);
  if (ystrelm > yendelm) return fail(6);
  if (xbin < 1) return fail(17);
  if (ybin < 1) return fail(18);
  if (record_bytes < 1 || byte_offset < 1) return fail(17);
  Index work_bytes = 0;
  if (work_size < 1 || static_cast<std::size_t>(work_size) > work.size() ||
      !checked_product(work_size, kSize, work_bytes) || work_bytes < record_bytes)
    return fail(13);
  if (!array_holds(data.size(), xmaxdat, ymaxdat)) return fail(1);
  // The whole image's byte extent must be representable.
  Index image_elements = 0, image_bytes = 0;
  if (!checked_product(xnumin, ynumin, image_elements) ||
      !checked_product(image_elements, kSize, image_bytes) ||
      image_bytes > std::numeric_limits<Index>::max() - byte_offset)
    return fail(17);

  if (xbin != 1 || ybin != 1) {
    IO_WRITE("ERROR: Re-binning on input not yet implemented", status);
    st_fail(status, 9999, position);
    return;
  }

  std::FILE* file = io_stream(stream);
  if (file == nullptr) return fail(1011);

  // Only what fits the caller's array is read.
  const Index nx = std::min(xendelm - xstrelm + 1, xmaxdat);
  const Index ny = std::min(yendelm - ystrelm + 1, ymaxdat);

  // Input column of region column x and input row of region row y.
  const auto column = [&](Index x) { return xflip ? xnumin - x + 1 : x; };
  const auto row = [&](Index y) { return yflip ? ynumin - y + 1 : y; };
  const auto byte_of = [&](Index c, Index r) {
    return byte_offset - 1 + kSize * ((r - 1) * xnumin + (c - 1));
  };

  // A file too short for the region is refused before DATA is touched.
  if (const Index size = io_file_size(file); size >= 0) {
    Index last = 0;
    for (const Index y : {ystrelm, ystrelm + ny - 1})
      for (const Index x : {xstrelm, xstrelm + nx - 1})
        last = std::max(last, byte_of(column(x), row(y)) + kSize);
    if (last > size) return fail(1001);
  }

  const Index chunk = work_size;
  for (Index j = 0; j < ny; ++j) {
    const Index r = row(ystrelm + j);
    float* out = data.data() + element(1, j + 1, xmaxdat);
    for (Index k = 0; k < nx; k += chunk) {
      const Index count = std::min(chunk, nx - k);
      // The input columns of region columns k .. k+count-1, ascending in the file.
      const Index first = xflip ? column(xstrelm + k + count - 1) : column(xstrelm + k);
      if (!io_seek(file, byte_of(first, r))) return fail(1011);
      const std::size_t got =
          io_read_bytes(file, work.data(), kSize * static_cast<std::size_t>(count)) / kSize;
      if (got != static_cast<std::size_t>(count)) return fail(std::feof(file) ? 1001 : 1011);
      if constexpr (sizeof(T) > 1) {
        if (swap) swap_bytes(work.subspan(0, static_cast<std::size_t>(count)));
      }
      if (xflip) {
        for (Index i = 0; i < count; ++i)
          out[k + i] = raw_pixel_value(work[count - 1 - i], is_signed);
      } else {
        for (Index i = 0; i < count; ++i) out[k + i] = raw_pixel_value(work[i], is_signed);
      }
    }
  }
  xnumdat = nx;
  ynumdat = ny;
}

// Fills records of RECORD_BYTES bytes with integers of BYTES bytes and writes
// each full one at the next record; every write is checked.
class RecordWriter {
 public:
  RecordWriter(std::FILE* file, Index record_bytes, int bytes, bool swap, Index& record)
      : file_(file),
        record_bytes_(static_cast<std::size_t>(record_bytes)),
        buffer_(record_bytes_ * std::max<std::size_t>(1, kBufferBytes / record_bytes_), 0),
        per_record_(record_bytes / bytes),
        swap_(swap),
        record_(record) {
    Index offset = 0;
    ok_ = file_ != nullptr && checked_product(record_ - 1, record_bytes, offset) &&
          io_seek(file_, offset);
    if (!ok_) error_ = errno;
  }

  template <typename T>
  void put(T value) {
    if constexpr (sizeof(T) > 1) {
      if (swap_) value = byte_swapped(value);
    }
    std::memcpy(at<T>(), &value, sizeof(T));
    if (++used_ == per_record_) end_record();
  }
  // VALUES in turn, as put does one by one (VALUES is swapped in place).
  template <typename T>
  void put(std::span<T> values) {
    if constexpr (sizeof(T) > 1) {
      if (swap_) swap_bytes(values);
    }
    while (!values.empty()) {
      const auto n = std::min(values.size(), static_cast<std::size_t>(per_record_ - used_));
      std::memcpy(at<T>(), values.data(), n * sizeof(T));
      values = values.subspan(n);
      used_ += static_cast<Index>(n);
      if (used_ == per_record_) end_record();
    }
  }
  Index per_record() const { return per_record_; }

  // Writes the partly filled last record (zero-padded); false on any failure.
  bool finish() {
    if (used_ > 0) end_record();
    write_out();
    if (ok_ && std::fflush(file_) != 0) fail();
    return ok_;
  }
  int error() const { return error_; }

 private:
  // Records are gathered into about this many bytes per write.
  static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

  template <typename T>
  unsigned char* at() {
    return buffer_.data() + filled_ * record_bytes_ + static_cast<std::size_t>(used_) * sizeof(T);
  }
  void end_record() {
    used_ = 0;
    if (++filled_ * record_bytes_ == buffer_.size()) write_out();
  }
  // The buffer is all zero after each write, so a partly filled record is
  // already zero-padded.
  void write_out() {
    const std::size_t bytes = filled_ * record_bytes_;
    const auto records = static_cast<Index>(filled_);
    filled_ = 0;
    if (!ok_ || bytes == 0) return;
    if (std::fwrite(buffer_.data(), 1, bytes, file_) != bytes) return fail();
    std::fill_n(buffer_.begin(), bytes, 0);
    record_ += records;
  }
  void fail() {
    ok_ = false;
    error_ = errno;
  }

  std::FILE* file_;
  std::size_t record_bytes_;
  std::vector<unsigned char> buffer_;
  Index per_record_;
  bool swap_;
  Index& record_;
  Index used_ = 0;           // values in the record being filled
  std::size_t filled_ = 0;  // whole records waiting in the buffer
  bool ok_ = false;
  int error_ = 0;
};

// Scaled, rounded (half away from zero) and clipped output value, in double
// so that nothing overflows before the clip. NaN counts as LOWER.
struct Scaler {
  double lower, factor, bottom, top;
  double shift;  // subtracted before scaling: LOWER for 1 and 2 bytes, 0 for 4
  // The values written unclipped, LOW to HIGH: LOWER to UPPER for 1 and 2
  // bytes, the range as wide on both sides for 4. A value beyond them is
  // written as the end value it passed; the clipping line counts the values
  // of the same two tests, so that it counts what lies outside the range it
  // names.
  double low, high;
  // BOTTOM and TOP are whole numbers inside 32-bit integers, so clipping
  // before rounding gives the same value, and the rounding needs no library
  // call: the truncation and its remainder are exact. LOWER and FACTOR are
  // finite and FACTOR not zero, so the scaled value is never NaN. The scaled
  // ends are clipped too: an end of the range may scale a rounding beyond its
  // integer. Every comparison is made whatever the value, so a line of them
  // vectorises.
  double operator()(float value) const {
    const double d = std::isnan(value) ? lower : static_cast<double>(value);
    const double above_low = d < low ? low : d;
    const double v = above_low > high ? high : above_low;
    const double scaled = (v - shift) * factor;
    const double above = scaled < bottom ? bottom : scaled;
    const double clipped = above > top ? top : above;
    const auto whole = static_cast<std::int32_t>(clipped);
    const double rest = clipped - static_cast<double>(whole);
    return static_cast<double>(whole + static_cast<std::int32_t>(rest >= 0.5) -
                               static_cast<std::int32_t>(rest <= -0.5));
  }

  // operator() of each of the N values of ROW, as 32-bit integers (every
  // result is a whole number inside them). The same steps four values at a
  // time, with comparisons that pick the same operand as the ones above.
  void line(const float* row, std::int32_t* out, std::size_t n) const {
    std::size_t x = 0;
#if defined(__SSE2__) && defined(__GNUC__)
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) x = line_wide(row, out, n);
#endif
#if defined(__SSE2__)
    const __m128d lo = _mm_set1_pd(lower), sh = _mm_set1_pd(shift), f = _mm_set1_pd(factor);
    const __m128d bot = _mm_set1_pd(bottom), tp = _mm_set1_pd(top);
    const __m128d vlow = _mm_set1_pd(low), vhigh = _mm_set1_pd(high);
    const __m128d one = _mm_set1_pd(1.0), half = _mm_set1_pd(0.5), minus_half = _mm_set1_pd(-0.5);
    const auto two = [&](__m128d d) {
      const __m128d nan = _mm_cmpunord_pd(d, d);
      const __m128d known = _mm_or_pd(_mm_and_pd(nan, lo), _mm_andnot_pd(nan, d));
      const __m128d v = _mm_min_pd(vhigh, _mm_max_pd(vlow, known));
      const __m128d scaled = _mm_mul_pd(_mm_sub_pd(v, sh), f);
      const __m128d clipped = _mm_min_pd(tp, _mm_max_pd(bot, scaled));
      const __m128i whole = _mm_cvttpd_epi32(clipped);
      const __m128d whole_d = _mm_cvtepi32_pd(whole);
      const __m128d rest = _mm_sub_pd(clipped, whole_d);
      const __m128d step = _mm_sub_pd(_mm_and_pd(_mm_cmpge_pd(rest, half), one),
                                      _mm_and_pd(_mm_cmple_pd(rest, minus_half), one));
      return _mm_cvttpd_epi32(_mm_add_pd(whole_d, step));
    };
    for (; x + 4 <= n; x += 4) {
      const __m128 v = _mm_loadu_ps(row + x);
      const __m128i low = two(_mm_cvtps_pd(v)), high = two(_mm_cvtps_pd(_mm_movehl_ps(v, v)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_unpacklo_epi64(low, high));
    }
#endif
    for (; x < n; ++x) out[x] = static_cast<std::int32_t>((*this)(row[x]));
  }

#if defined(__SSE2__) && defined(__GNUC__)
  // The same steps four doubles at a time where the processor has them; the
  // number of values done.
  __attribute__((target("avx2"))) std::size_t line_wide(const float* row, std::int32_t* out,
                                                        std::size_t n) const {
    const __m256d lo = _mm256_set1_pd(lower), sh = _mm256_set1_pd(shift);
    const __m256d f = _mm256_set1_pd(factor), bot = _mm256_set1_pd(bottom);
    const __m256d tp = _mm256_set1_pd(top), one = _mm256_set1_pd(1.0);
    const __m256d vlow = _mm256_set1_pd(low), vhigh = _mm256_set1_pd(high);
    const __m256d half = _mm256_set1_pd(0.5), minus_half = _mm256_set1_pd(-0.5);
    std::size_t x = 0;
    for (; x + 4 <= n; x += 4) {
      const __m256d d = _mm256_cvtps_pd(_mm_loadu_ps(row + x));
      const __m256d nan = _mm256_cmp_pd(d, d, _CMP_UNORD_Q);
      const __m256d v =
          _mm256_min_pd(vhigh, _mm256_max_pd(vlow, _mm256_blendv_pd(d, lo, nan)));
      const __m256d scaled = _mm256_mul_pd(_mm256_sub_pd(v, sh), f);
      const __m256d clipped = _mm256_min_pd(tp, _mm256_max_pd(bot, scaled));
      const __m128i whole = _mm256_cvttpd_epi32(clipped);
      const __m256d whole_d = _mm256_cvtepi32_pd(whole);
      const __m256d rest = _mm256_sub_pd(clipped, whole_d);
      const __m256d step =
          _mm256_sub_pd(_mm256_and_pd(_mm256_cmp_pd(rest, half, _CMP_GE_OQ), one),
                        _mm256_and_pd(_mm256_cmp_pd(rest, minus_half, _CMP_LE_OQ), one));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                       _mm256_cvttpd_epi32(_mm256_add_pd(whole_d, step)));
    }
    return x;
  }
#endif
};

// Sends the region in the file's order: rows (or columns) each padded to whole
// records with the bottom value when FULL_RECORDS.
template <typename T>
void put_region(RecordWriter& out, const Scaler& scale, std::span<const float> array,
                Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                bool full_records, bool by_columns, bool reverse) {
  const T pad = static_cast<T>(scale(static_cast<float>(scale.lower)));
  const Index n = out.per_record();
  const auto padding = [&](Index length) {
    if (!full_records) return;
    const Index whole = length <= n ? n : (length + n - 1) / n * n;
    for (Index i = length; i < whole; ++i) out.put(pad);
  };
  if (by_columns) {
    for (Index x = xstrelm; x <= xendelm; ++x) {
      for (Index y = ystrelm; y <= yendelm; ++y)
        out.put(static_cast<T>(scale(array[element(x, y, xmaxdat)])));
      padding(yendelm - ystrelm + 1);
    }
    return;
  }
  // Each row is scaled whole into a line of integers, then sent at once.
  std::vector<T> line(static_cast<std::size_t>(xendelm - xstrelm + 1));
  std::vector<std::int32_t> wide(line.size());
  for (Index j = 0; j <= yendelm - ystrelm; ++j) {
    const Index y = reverse ? yendelm - j : ystrelm + j;
    const float* row = array.data() + element(xstrelm, y, xmaxdat);
    scale.line(row, wide.data(), wide.size());
    for (std::size_t x = 0; x < line.size(); ++x) line[x] = static_cast<T>(wide[x]);
    out.put(std::span<T>(line));
    padding(xendelm - xstrelm + 1);
  }
}



// The line of IO_UWRITE_RARRAY: the integers SCALE made of each kind (NaN as
// the lower limit, the infinities clipped).
void write_non_finite_line(const NonFinitePixels& found, const Scaler& scale, Status& status) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const auto as = [&](float value) { return format_i(static_cast<std::int64_t>(scale(value)), 0); };
  io_write_non_finite_line(
      found, "pixel",
      {as(std::numeric_limits<float>::quiet_NaN()), as(kInfinity), as(-kInfinity)}, status);
}

// Finite values of the region that SCALE clips, found by the tests that
// clip them, and whether every finite value is one and the same (VALUE).
struct Clipped {
  Index below = 0, above = 0;
  bool constant = false;
  float value = 0.0f;
};
Clipped clipped_values(const Scaler& scale, std::span<const float> array, Index xmaxdat,
                       Index xstrelm, Index ystrelm, Index xendelm, Index yendelm) {
  const double largest = std::numeric_limits<float>::max();
  Clipped found;
  bool seen = false, differ = false;
  float first = 0.0f;
  const Index width = xendelm - xstrelm + 1;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = array.data() + element(xstrelm, y, xmaxdat);
    Index below = 0, above = 0, finite = 0;
    for (Index x = 0; x < width; ++x) {
      const double v = row[x];
      // NaN and the infinities fail the first test: they have their own line.
      const bool is_finite = v >= -largest && v <= largest;
      below += is_finite && v < scale.low ? 1 : 0;
      above += is_finite && v > scale.high ? 1 : 0;
      finite += is_finite ? 1 : 0;
    }
    found.below += below;
    found.above += above;
    // Whether the image is constant needs a look at a row only while it may be.
    for (Index x = 0; x < width && !differ && finite > 0; ++x) {
      const float v = row[x];
      if (!(std::fabs(v) <= std::numeric_limits<float>::max())) continue;
      if (!seen) {
        seen = true;
        first = v;
      } else if (v != first) {
        differ = true;
      }
    }
  }
  found.constant = seen && !differ;
  found.value = first;
  return found;
}

// Limits that differ but that IO_RTOC shows alike.
bool shown_alike(float lower, float upper) {
  return lower != upper && !std::isnan(lower) && !std::isnan(upper) &&
         IO_RTOC(lower) == IO_RTOC(upper);
}

// VALUE with the digits the limits LOWER and UPPER are shown with
// (io_limit_texts), so that a value said beside them reads alike.
std::string as_limit(float value, float lower, float upper) {
  return shown_alike(lower, upper) ? io_real_digits(value) : io_rtoc_exact(value);
}

// "the scaling range (LOW to HIGH)" of SCALE, the values it writes
// unclipped.
std::string scaling_range(const Scaler& scale) {
  const LimitTexts limits =
      io_limit_texts(static_cast<float>(scale.low), static_cast<float>(scale.high));
  return "the scaling range (" + limits.lower + " to " + limits.upper + ")";
}

// The clipping line of IO_UWRITE_RARRAY.
void write_clipped_line(const Clipped& found, const Scaler& scale, Status& status) {
  io_write_clipped_line(found.below, found.above, scaling_range(scale),
                        format_i(static_cast<std::int64_t>(scale.bottom), 0),
                        format_i(static_cast<std::int64_t>(scale.top), 0), status);
}

// A constant image inside the range is written as one integer, most often
// an end value, which would pass for the image's own: one line says so.
void write_constant_line(const Clipped& found, const NonFinitePixels& non_finite,
                         const Scaler& scale, Status& status) {
  if (!found.constant || found.below + found.above > 0) return;
  const auto written = static_cast<std::int64_t>(scale(found.value));
  const std::string range = scaling_range(scale);
  const bool bottom = written == static_cast<std::int64_t>(scale.bottom);
  const bool top = written == static_cast<std::int64_t>(scale.top);
  const std::string where = bottom ? ", the lower end of " + range
                            : top  ? ", the upper end of " + range
                                   : ", inside " + range;
  IO_WRITE(std::string("INFO: Every ") + (non_finite.total() > 0 ? "finite " : "") +
               "pixel of the region is " +
               as_limit(found.value, static_cast<float>(scale.low),
                        static_cast<float>(scale.high)) +
               ": all are written as " +
               format_i(written, 0) + where,
           status);
}

}  // namespace

void io_write_clipped_line(Index below, Index above, std::string_view range,
                           std::string_view low_as, std::string_view high_as, Status& status) {
  const Index total = below + above;
  if (total == 0) return;
  std::string line = "INFO: " + format_i(total, 0) + (total == 1 ? " pixel is" : " pixels are") +
                     " outside " + std::string(range) + ": ";
  if (below > 0) line += format_i(below, 0) + " below written as " + std::string(low_as);
  if (below > 0 && above > 0) line += ", ";
  if (above > 0) line += format_i(above, 0) + " above written as " + std::string(high_as);
  IO_WRITE(line, status);
}

void io_write_non_finite_line(const NonFinitePixels& found, std::string_view noun,
                              const NonFiniteWritten& written, Status& status) {
  const Index total = found.total();
  if (total == 0) return;
  std::string line = "INFO: " + format_i(total, 0) + " " + std::string(noun) +
                     (total == 1 ? " is not finite: " : "s are not finite: ");
  const char* separator = "";
  const auto kind = [&](Index count, const char* name, const std::string& as) {
    if (count == 0) return;
    line += separator + format_i(count, 0) + " " + name + " written as " + as;
    separator = ", ";
  };
  kind(found.nan, "NaN", written.nan);
  kind(found.plus, "+Infinity", written.plus);
  kind(found.minus, "-Infinity", written.minus);
  IO_WRITE(line, status);
}

NonFinitePixels non_finite_pixels(std::span<const float> array, Index xmaxdat, Index xstrelm,
                                  Index ystrelm, Index xendelm, Index yendelm) {
  NonFinitePixels found;
  const Index width = xendelm - xstrelm + 1;
  // A 32-bit count over blocks keeps the search one lane wide, so that it
  // vectorises; the kinds are told apart only in a row that has any.
  constexpr Index kBlock = Index{1} << 30;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = array.data() + element(xstrelm, y, xmaxdat);
    for (Index start = 0; start < width; start += kBlock) {
      const Index n = std::min(kBlock, width - start);
      std::int32_t any = 0;
      for (Index x = 0; x < n; ++x)
        any += std::fabs(row[start + x]) <= std::numeric_limits<float>::max() ? 0 : 1;
      if (any == 0) continue;
      for (Index x = 0; x < n; ++x) {
        const float v = row[start + x];
        found.nan += std::isnan(v) ? 1 : 0;
        found.plus += v == std::numeric_limits<float>::infinity() ? 1 : 0;
        found.minus += v == -std::numeric_limits<float>::infinity() ? 1 : 0;
      }
    }
  }
  return found;
}

void IO_INP_2DBYTE(int stream, bool is_signed, bool xflip, bool yflip, Index xnumin, Index ynumin,
                   Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, Index xbin,
                   Index ybin, Index record_bytes, Index byte_offset, Index work_size,
                   std::span<std::int8_t> work, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                   Index& ynumdat, std::span<float> data, Status& status) {
  read_image<std::int8_t>("Subroutine IO_INP_2DBYTE V0.2", stream, false, is_signed, xflip, yflip,
                          xnumin, ynumin, xstrelm, ystrelm, xendelm, yendelm, xbin, ybin,
                          record_bytes, byte_offset, work_size, work, xmaxdat, ymaxdat, xnumdat,
                          ynumdat, data, status);
}

void IO_INP_2DI2(int stream, bool swap, bool is_signed, bool xflip, bool yflip, Index xnumin,
                 Index ynumin, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                 Index xbin, Index ybin, Index record_bytes, Index byte_offset, Index work_size,
                 std::span<std::int16_t> work, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                 Index& ynumdat, std::span<float> data, Status& status) {
  read_image<std::int16_t>("Subroutine IO_INP_2DI2 V0.4", stream, swap, is_signed, xflip, yflip,
                           xnumin, ynumin, xstrelm, ystrelm, xendelm, yendelm, xbin, ybin,
                           record_bytes, byte_offset, work_size, work, xmaxdat, ymaxdat, xnumdat,
                           ynumdat, data, status);
}

void IO_INP_2DI4(int stream, bool swap, bool is_signed, bool xflip, bool yflip, Index xnumin,
                 Index ynumin, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                 Index xbin, Index ybin, Index record_bytes, Index byte_offset, Index work_size,
                 std::span<std::int32_t> work, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                 Index& ynumdat, std::span<float> data, Status& status) {
  read_image<std::int32_t>("Subroutine IO_INP_2DI4 V0.2", stream, swap, is_signed, xflip, yflip,
                           xnumin, ynumin, xstrelm, ystrelm, xendelm, yendelm, xbin, ybin,
                           record_bytes, byte_offset, work_size, work, xmaxdat, ymaxdat, xnumdat,
                           ynumdat, data, status);
}

namespace {

// IO_UWRITE_RARRAY; the lines of a failed write only when SAY_FAILURE.
void uwrite_region(bool ask_range, int stream, Index xmaxdat, Index ymaxdat, Index xstrelm,
                   Index ystrelm, Index xendelm, Index yendelm, std::span<const float> array,
                   Index record_bytes, std::string_view data_type, int bytes, bool big_endian,
                   bool full_records, bool by_columns, bool reverse, Index& record, float& lower,
                   float& upper, bool& failed, bool say_failure, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_UWRITE_RARRAY V0.3";
  if (st_bad(status, kPosition)) return;
  const auto fail = [&](Status code) { st_fail(status, kBaseCore + code, kPosition); };
  // Diagnostics of a programming error, straight to the terminal.
  const auto terminal = [](const std::string& line) {
    if (std::FILE* t = io_stream(kStreamTerminal)) {
      std::fputs(line.c_str(), t);
      std::fputc('\n', t);
      std::fflush(t);
    }
  };

  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          array.size(), kBaseCore);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  if (record_bytes < 1) {
    terminal("record_length = " + format_i(record_bytes, 6));
    return fail(17);
  }
  if (record_bytes > 12000) return fail(9);
  const std::string type(data_type.substr(0, static_cast<std::size_t>(SLEN(data_type))));
  if (type != "I" && type != "i") return fail(33);
  if (bytes != 1 && bytes != 2 && bytes != 4) {
    terminal("num_bytes = " + format_i(bytes, 6));
    return fail(17);
  }
  if (record_bytes < bytes || record < 1) return fail(17);

  const bool swap = bytes >= 2 && big_endian != IO_BIG_ENDIAN();

  if (ask_range && !io_ask_integer_range(xmaxdat, ymaxdat, array, xstrelm, ystrelm, xendelm,
                                         yendelm, bytes, lower, upper, status)) {
    if (status == kStatusGood) fail(13);
    return;
  }

  // The scale: a zero or non-finite denominator would make every value
  // undefined, so such a range is refused.
  const double lo = lower, hi = upper;
  const double denominator =
      bytes == 4 ? std::max(std::fabs(lo), std::fabs(hi)) : hi - lo;
  const double top = bytes == 1 ? 255.0 : bytes == 2 ? 65535.0 : 2147483647.0;
  const double factor = top / denominator;
  if (!std::isfinite(lo) || !std::isfinite(hi) || denominator == 0.0 || !std::isfinite(factor) ||
      factor == 0.0)
    return fail(13);
  const Scaler scale{lo,
                     factor,
                     bytes == 4 ? -2147483647.0 : 0.0,
                     top,
                     bytes == 4 ? 0.0 : lo,
                     bytes == 4 ? -denominator : lo,
                     bytes == 4 ? denominator : hi};

  const NonFinitePixels non_finite =
      non_finite_pixels(array, xmaxdat, xstrelm, ystrelm, xendelm, yendelm);
  const Clipped clipped = clipped_values(scale, array, xmaxdat, xstrelm, ystrelm, xendelm, yendelm);
  RecordWriter out(io_stream(stream), record_bytes, bytes, swap, record);
  switch (bytes) {
    case 1:
      put_region<std::uint8_t>(out, scale, array, xmaxdat, xstrelm, ystrelm, xendelm, yendelm,
                               full_records, by_columns, reverse);
      break;
    case 2:
      put_region<std::uint16_t>(out, scale, array, xmaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                full_records, by_columns, reverse);
      break;
    default:
      put_region<std::int32_t>(out, scale, array, xmaxdat, xstrelm, ystrelm, xendelm, yendelm,
                               full_records, by_columns, reverse);
      break;
  }
  failed = !out.finish();
  if (!failed) {
    if (non_finite.total() > 0) write_non_finite_line(non_finite, scale, status);
    write_clipped_line(clipped, scale, status);
    write_constant_line(clipped, non_finite, scale, status);
  } else if (!say_failure) {
    errno = out.error();
  } else {
    IO_WRITE("", status);
    IO_WRITE("ERROR: Failed to output binary data to a file. May be the file system,", status);
    IO_WRITE("       or your quota, are full.", status);
    IO_WRITE("", status);
    IO_WRITE("       Input/output status return value = " + format_i(out.error(), 8), status);
    IO_WRITE("       (This value is system dependent; see system documentation.)", status);
    IO_WRITE("", status);
    // The lines above may change errno; the caller takes the reason from it.
    errno = out.error();
  }
}

}  // namespace

void IO_UWRITE_RARRAY(bool ask_range, int stream, Index xmaxdat, Index ymaxdat, Index xstrelm,
                      Index ystrelm, Index xendelm, Index yendelm, std::span<const float> array,
                      Index record_bytes, std::string_view data_type, int bytes, bool big_endian,
                      bool full_records, bool by_columns, bool reverse, Index& record,
                      float& lower, float& upper, bool& failed, Status& status) {
  uwrite_region(ask_range, stream, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array,
                record_bytes, data_type, bytes, big_endian, full_records, by_columns, reverse,
                record, lower, upper, failed, true, status);
}

void io_uwrite_region(int stream, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                      Index xendelm, Index yendelm, std::span<const float> array,
                      Index record_bytes, int bytes, bool big_endian, bool full_records,
                      bool by_columns, bool reverse, Index& record, float lower, float upper,
                      bool& failed, Status& status) {
  uwrite_region(false, stream, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array,
                record_bytes, "I", bytes, big_endian, full_records, by_columns, reverse, record,
                lower, upper, failed, false, status);
}

void IO_RMINMAX(Index xmaxdat, Index ymaxdat, std::span<const float> array, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, float& minimum, float& maximum,
                Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_RMINMAX V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          array.size(), kBaseCore);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  // A value replaces the running one only when strictly beyond it (a NaN
  // never does), so the result is the first extreme value in row order. The
  // search starts beyond every value (core/extremes.hpp).
  float low = kAboveEveryValue, high = kBelowEveryValue;
  const Index width = xendelm - xstrelm + 1;
  const auto row_of = [&](Index y) { return array.data() + element(xstrelm, y, xmaxdat); };
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = row_of(y);
    Index x = 0;
#if defined(__SSE2__)
    // Four running values a row, each replaced exactly as above: min_ps(v, m)
    // is v < m ? v : m.
    if (width >= 8) {
      __m128 lows = _mm_set1_ps(low), highs = _mm_set1_ps(high);
      for (; x + 4 <= width; x += 4) {
        const __m128 v = _mm_loadu_ps(row + x);
        lows = _mm_min_ps(v, lows);
        highs = _mm_max_ps(v, highs);
      }
      alignas(16) float l[4], h[4];
      _mm_store_ps(l, lows);
      _mm_store_ps(h, highs);
      for (int i = 0; i < 4; ++i) {
        low = l[i] < low ? l[i] : low;
        high = h[i] > high ? h[i] : high;
      }
    }
#endif
    for (; x < width; ++x) {
      low = std::min(low, row[x]);
      high = std::max(high, row[x]);
    }
  }
  // Lanes agree on every value but the sign of a zero: an extreme of zero is
  // the first zero of the region, as one running value would keep it.
  const auto first_zero = [&] {
    for (Index y = ystrelm; y <= yendelm; ++y) {
      const float* row = row_of(y);
      for (Index x = 0; x < width; ++x)
        if (row[x] == 0.0f) return row[x];
    }
    return 0.0f;
  };
  if (low == 0.0f) low = first_zero();
  if (high == 0.0f) high = first_zero();
  extremes_found(low, high);
  minimum = low;
  maximum = high;
}

RegionExtremes io_region_extremes(Index xmaxdat, Index ymaxdat, std::span<const float> array,
                                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                                  Status& status) {
  RegionExtremes e;
  IO_RMINMAX(xmaxdat, ymaxdat, array, xstrelm, ystrelm, xendelm, yendelm, e.minimum, e.maximum,
             status);
  if (status != kStatusGood) return e;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  float low = kInfinity, high = -kInfinity;
  const Index width = xendelm - xstrelm + 1;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = array.data() + element(xstrelm, y, xmaxdat);
    for (Index x = 0; x < width; ++x) {
      const float v = row[x];
      const bool finite = std::fabs(v) <= std::numeric_limits<float>::max();  // false for NaN
      low = finite && v < low ? v : low;
      high = finite && v > high ? v : high;
    }
  }
  if (low <= high) {
    e.finite_min = low;
    e.finite_max = high;
  }
  return e;
}

void io_write_extremes(const RegionExtremes& extremes, Status& status) {
  // A region of NaN alone keeps the search's start values, which are no data.
  if (extremes.minimum > extremes.maximum) {
    IO_WRITE("INFO: No pixel of the region is a number: it has no minimum or maximum", status);
    return;
  }
  IO_WRITE("INFO: Data minimum value = " + format_g(extremes.minimum, 14, 7), status);
  IO_WRITE("INFO: Data maximum value = " + format_g(extremes.maximum, 14, 7), status);
}

float io_upper_above(float lower, float upper) {
  if (upper > lower || !std::isfinite(lower)) return upper;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const double wanted = static_cast<double>(lower) + 1.0;
  if (wanted > std::numeric_limits<float>::max()) return kInfinity;
  // The conversion rounds to the nearest value, which may lie below; above
  // 2^53 LOWER + 1 is LOWER itself even in double precision.
  float above = static_cast<float>(wanted);
  if (static_cast<double>(above) < wanted || above <= lower)
    above = std::nextafter(above, kInfinity);
  return above;
}

void io_apart_limits(float& lower, float& upper) {
  upper = io_upper_above(lower, upper);
  if (!std::isfinite(lower) || std::isfinite(upper)) return;
  upper = lower;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const double wanted = static_cast<double>(upper) - 1.0;
  float below = static_cast<float>(wanted);
  if (static_cast<double>(below) > wanted || below >= upper)
    below = std::nextafter(below, -kInfinity);
  lower = below;
}

bool io_scaling_range_valid(float lower, float upper) {
  return std::isfinite(lower) && std::isfinite(upper) && lower < upper;
}

LimitTexts io_limit_texts(float lower, float upper) {
  return {as_limit(lower, lower, upper), as_limit(upper, lower, upper)};
}

bool io_ask_scaling_range(RealQuestion ask, std::span<const std::string> lower_help,
                          std::span<const std::string> upper_help, RangeWarning warn,
                          float& lower, float& upper, Status& status) {
  // The questions show each limit offered as a short number, but limits
  // that differ and would look alike there with the digits that tell them
  // apart, so that what is shown can be typed (the window's boxes show
  // every real so).
  if (ask == IO_INPR && shown_alike(lower, upper)) ask = io_inpr_digits;
  ScalingRange range{lower, upper};
  const bool valid = io_ask_until_accepted(
      range,
      [&](ScalingRange& r, Status& s) {
        ask(false, 0.0f, 0.0f, true, "LOWER LIMIT OF RANGE", lower_help,
            {"Enter a valid real number"}, r.lower, s);
        ask(false, 0.0f, 0.0f, true, "UPPER LIMIT OF RANGE", upper_help,
            {"Enter a valid real number"}, r.upper, s);
      },
      [](const ScalingRange& r) { return io_scaling_range_valid(r.lower, r.upper); },
      [&](Status& s) {
        if (warn != nullptr)
          warn(s);
        else
          IO_WRITE("WARNING: The scaling range is invalid", s);
      },
      status);
  lower = range.lower;
  upper = range.upper;
  return valid;
}

bool io_ask_integer_range(Index xmaxdat, Index ymaxdat, std::span<const float> array,
                          Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, int bytes,
                          float& lower, float& upper, Status& status) {
  static const std::string kLowerHelp[] = {"Enter lowest value to be scaled to output range"};
  static const std::string kUpperHelp[] = {"Enter Highest value to be scaled to output range"};
  const RegionExtremes e =
      io_region_extremes(xmaxdat, ymaxdat, array, xstrelm, ystrelm, xendelm, yendelm, status);
  io_write_extremes(e, status);
  if (status != kStatusGood) return false;
  const float format_lowest = bytes == 4 ? -2147483648.0f : 0.0f;
  lower = std::min(e.finite_min, format_lowest);
  upper = bytes == 1 ? e.finite_max
                     : std::max(e.finite_max, bytes == 2 ? 65535.0f : 2147483647.0f);
  io_apart_limits(lower, upper);
  return io_ask_scaling_range(IO_INPR, kLowerHelp, kUpperHelp, nullptr, lower, upper, status);
}

bool io_read_bounded_line(std::FILE* file, std::size_t limit, std::size_t most, std::string& line,
                          bool& cut, bool& endless) {
  line.clear();
  cut = false;
  endless = false;
  bool any = false;
  std::size_t count = 0;
  // One lock for the line, not one a character: the text readers take lines
  // of whole image rows through here.
  ::flockfile(file);
  for (int c = ::getc_unlocked(file); c != EOF; c = ::getc_unlocked(file)) {
    any = true;
    if (c == '\n') break;
    if (++count > most) {
      endless = true;
      ::funlockfile(file);
      return false;
    }
    if (line.size() < limit)
      line.push_back(static_cast<char>(c));
    else if (c != ' ' && c != '\r' && c != '\t')
      cut = true;
  }
  ::funlockfile(file);
  return any;
}

bool io_read_bounded_line(std::FILE* file, std::size_t limit, std::string& line, bool& cut) {
  bool endless = false;
  return io_read_bounded_line(file, limit, std::numeric_limits<std::size_t>::max(), line, cut,
                              endless);
}

void IO_READ_FILE(int stream, std::string& line, bool& cut, Status& status) {
  constexpr std::string_view kPosition = "Subroutine IO_READ_FILE V0.1";
  if (st_bad(status, kPosition)) return;
  std::FILE* file = io_stream(stream);
  std::string text;
  if (file == nullptr || !io_read_bounded_line(file, kFileLineLength, text, cut)) {
    st_fail(status, kBaseCore + 1001, kPosition);
    return;
  }
  text.resize(without_trailing_blanks(text).size());
  line = std::move(text);
}

void IO_READ_FILE(int stream, std::string& line, Status& status) {
  bool cut = false;
  IO_READ_FILE(stream, line, cut, status);
}

}  // namespace kesta
