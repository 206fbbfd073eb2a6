#include "formats/unknown_format.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/ask_again.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "formats/reader_support.hpp"
#include "formats/region_readers.hpp"
#include "numeric/fft.hpp"

namespace kesta {

namespace {

struct UnknownState {
  Index lower = 200;
  bool input = true;
};
UnknownState fio_unknown_state;

Index power_below(Index n) { return Index{1} << (std::bit_width(static_cast<std::uint64_t>(n)) - 1); }

// In-place autocorrelation of D (a power-of-two length, its second half
// zero): forward transform, squared moduli, inverse. With HIGH_PASS the
// constant term and the float positions 2 .. CUT-1 are cleared first.
void autocorrelate(std::vector<float>& d, bool high_pass, Index cut, Status& status) {
  const auto n = static_cast<Index>(d.size());
  std::vector<float> table(static_cast<std::size_t>(2 * n));
  MA_EXPNT(2 * n, 2 * n, 16, table, status);
  MA_FFA8(n, n, 2 * n, table, true, d, status);
  if (high_pass) {
    d[0] = 0.0f;
    for (Index i = 2; i < std::min(cut, n); ++i) d[static_cast<std::size_t>(i)] = 0.0f;
  }
  d[0] *= d[0];
  d[1] *= d[1];
  for (std::size_t i = 2; i + 1 < d.size(); i += 2) {
    d[i] = d[i] * d[i] + d[i + 1] * d[i + 1];
    d[i + 1] = 0.0f;
  }
  MA_FFS8(n, n, 2 * n, table, true, d, status);
}

// The lag from FIRST to LAST with the largest value above 0 (the first on
// ties); -1 when none is positive.
Index strongest_lag(const std::vector<float>& d, Index first, Index last) {
  Index best = -1;
  float best_value = 0.0f;
  for (Index k = first; k <= last && k < static_cast<Index>(d.size()); ++k)
    if (d[static_cast<std::size_t>(k)] > best_value) {
      best_value = d[static_cast<std::size_t>(k)];
      best = k;
    }
  return best;
}

struct Spread {
  double mean = 0.0, sigma = 0.0;
};
Spread spread_of(const std::vector<std::uint8_t>& s, std::size_t phase, std::size_t step) {
  double sum = 0.0, squares = 0.0;
  std::size_t n = 0;
  for (std::size_t i = phase; i < s.size(); i += step, ++n) {
    sum += s[i];
    squares += static_cast<double>(s[i]) * s[i];
  }
  Spread out;
  if (n == 0) return out;
  out.mean = sum / static_cast<double>(n);
  if (n > 1)
    out.sigma = std::sqrt(std::max(0.0, (squares - sum * out.mean) / static_cast<double>(n - 1)));
  return out;
}

}  // namespace

bool deduce_raw_layout(std::FILE* file, Index size, Index work_values, Index lower,
                       RawDeduction& found, std::vector<float>& autocorrelation,
                       Status& status) {
  found = RawDeduction{};
  const Index na = std::min({size, work_values / 2, Index{65536}});
  if (na < 4) return false;
  const Index l = power_below(na);
  const Index spread = (size - na) * 5 / 13;
  const Index start = spread < 512 ? 0 : power_below(spread);
  // The sample; what lies past the end of the file reads as zeros.
  std::vector<std::uint8_t> sample(static_cast<std::size_t>(l), 0);
  if (!io_seek(file, start)) return false;
  const std::size_t got = std::fread(sample.data(), 1, sample.size(), file);
  (void)got;

  std::vector<float>& d = autocorrelation;
  d.assign(static_cast<std::size_t>(2 * l), 0.0f);
  for (std::size_t i = 0; i < sample.size(); ++i) d[i] = sample[i];
  autocorrelate(d, false, 0, status);
  if (status != kStatusGood) return false;
  found.bytes = static_cast<int>(strongest_lag(d, 1, 4));
  IO_WRITE(" ", status);
  if (found.bytes != 1 && found.bytes != 2 && found.bytes != 4) {
    IO_WRITE("INFO: There appears to be " + format_i(found.bytes, 4) + " bytes per pixel", status);
    IO_WRITE("      (This data type is not supported)", status);
    return false;
  }
  IO_WRITE("INFO: There appears to be " + format_i(found.bytes, 1) + " bytes per pixel", status);
  if (found.bytes > 1) {
    bool big_endian = false;
    if (found.bytes == 2) {
      big_endian = spread_of(sample, 0, 2).sigma <= spread_of(sample, 1, 2).sigma;
    } else {
      IO_WRITE("INFO: The data values may be 4-byte floating point or integer values", status);
      IO_WRITE("      Integer values will be ASSUMED (?)", status);
      Spread s[4];
      for (std::size_t k = 0; k < 4; ++k) s[k] = spread_of(sample, k, 4);
      for (int k = 0; k < 4; ++k)
        IO_WRITE("INFO: The mean value of the \"" + std::to_string(k) + "\" sequence bytes = " +
                     format_f(s[k].mean, 8, 3),
                 status);
      for (int k = 0; k < 4; ++k)
        IO_WRITE("INFO: The standard deviation of the \"" + std::to_string(k) +
                     "\" sequence bytes = " + format_f(s[k].sigma, 8, 3),
                 status);
      big_endian = s[0].sigma <= s[3].sigma;
    }
    IO_WRITE(std::string("INFO: The data appears to be ") +
                 (big_endian ? "big" : "little") + " endian (this assumes that any",
             status);
    IO_WRITE("      header is an even number of bytes in length)", status);
    found.swap = big_endian != IO_BIG_ENDIAN();

    // The row length from the pixel values, high-passed.
    std::fill(d.begin(), d.end(), 0.0f);
    const std::size_t values = sample.size() / static_cast<std::size_t>(found.bytes);
    for (std::size_t i = 0; i < values; ++i) {
      if (found.bytes == 2) {
        std::uint16_t v;
        std::memcpy(&v, sample.data() + 2 * i, 2);
        d[i] = found.swap ? byte_swapped(v) : v;
      } else {
        std::int32_t v;
        std::memcpy(&v, sample.data() + 4 * i, 4);
        d[i] = static_cast<float>(found.swap ? byte_swapped(v) : v);
      }
    }
    autocorrelate(d, true, std::min(std::max(8 * lower, Index{128}), 2 * l / 8), status);
    if (status != kStatusGood) return false;
  }
  found.pixels = strongest_lag(d, lower + 1, na / 2 - 1);
  if (found.pixels < 1) {
    IO_WRITE("INFO: No row length could be found (no positive autocorrelation above the lower "
             "limit)",
             status);
    return false;
  }
  IO_WRITE("INFO: There appears to be " + format_i(found.pixels, 6) + " pixels per row", status);
  found.rows = size / (found.pixels * found.bytes);
  found.header = size - found.rows * found.pixels * found.bytes;
  if (found.rows < 1) {
    IO_WRITE("INFO: The file is shorter than one row of that length", status);
    return false;
  }
  if (found.header == 0) {
    IO_WRITE("INFO: The file size corresponds exactly to a " + format_i(found.pixels, 6) + " x " +
                 format_i(found.rows, 6) + " pixel image",
             status);
  } else {
    IO_WRITE("INFO: The file is a maximum of " + format_i(found.rows, 6) + " rows, with at least" +
                 format_i(found.header, 10),
             status);
    IO_WRITE("      header bytes", status);
  }
  return true;
}

namespace {

// The values of REQUEST's arrays; 0 after the warning when there are fewer
// than a deduction needs.
Index deduction_room(const ReadRequest& request, Status& status) {
  Index values = 0;
  if (checked_product(request.xmaxdat, request.ymaxdat, values) && values >= 1024) return values;
  IO_WRITE("WARNING: The program arrays must hold at least 1024 values to deduce a format",
           status);
  return 0;
}

// False after the warning when a file of SIZE bytes is too small to deduce
// its layout.
bool deducible_size(Index size, Status& status) {
  if (size == 0) {
    IO_WRITE("WARNING: The specified file exists, but is empty", status);
    return false;
  }
  if (size < 512) {
    IO_WRITE("WARNING: The specified file is too small to deduce its type ", status);
    return false;
  }
  return true;
}

// The title and labels of a read.
void describe_unknown(ImageRead& read, const std::string& title) {
  variances_from_data(read.image);
  read.image.title = title;
  read.image.xlabel = "X-axis";
  read.image.ylabel = "Y-axis";
  read.image.zlabel = "Intensity";
  read.retstat = 0;
}

// The image of the layout FOUND in PATH into IMAGE, of REQUEST's arrays
// (allocated); a part when they cannot hold it, said.
bool read_deduced_image(const std::string& path, const RawDeduction& found,
                        const ReadRequest& request, ScratchImage& image, Status& status) {
  int stream = 0;
  if (!fio_open_input(path, stream, status)) return false;
  const FioInputClose close(stream);
  warn_partial_image(found.pixels, found.rows, request, status);
  const Index xn = std::min(found.pixels, request.xmaxdat);
  const Index yn = std::min(found.rows, request.ymaxdat);
  constexpr Index kBuffer = 16384;
  std::vector<std::int32_t> work(kBuffer);
  std::span<float> out = image.pixels();
  const Index start = found.header + 1;
  if (found.bytes == 1)
    FIO_INP_2DBYTE(stream, false, false, false, false, found.pixels, found.rows, 1, 1, xn, yn, 1,
                   1, start, 4 * kBuffer, std::span(reinterpret_cast<std::int8_t*>(work.data()), 4 * kBuffer),
                   request.xmaxdat, request.ymaxdat, image.xnumdat, image.ynumdat, out, status);
  else if (found.bytes == 2)
    FIO_INP_2DI2(stream, found.swap, false, false, false, false, found.pixels, found.rows, 1, 1,
                 xn, yn, 1, 1, start, 2 * kBuffer,
                 std::span(reinterpret_cast<std::int16_t*>(work.data()), 2 * kBuffer),
                 request.xmaxdat, request.ymaxdat, image.xnumdat, image.ynumdat, out, status);
  else
    FIO_INP_2DI4(stream, found.swap, true, false, false, false, found.pixels, found.rows, 1, 1,
                 xn, yn, 1, 1, start, kBuffer, work, request.xmaxdat, request.ymaxdat,
                 image.xnumdat, image.ynumdat, out, status);
  return status == kStatusGood;
}

}  // namespace

ImageRead read_unknown_file(const std::string& path, const ReadRequest& request, Index lower,
                            Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  const Index values = deduction_room(request, status);
  if (values == 0) return result;
  std::string problem;
  InputFile file = open_input_file(path, problem);
  if (!file) {
    report_unread_file(path, problem, status);
    return result;
  }
  const Index size = std::max<Index>(io_file_size(file.get()), 0);
  if (!deducible_size(size, status)) return result;
  RawDeduction found;
  std::vector<float> correlation;
  if (!deduce_raw_layout(file.get(), size, values, std::clamp<Index>(lower, 4, size), found,
                         correlation, status))
    return result;
  file.reset();
  if (!scratch_allocate(request, request.variances, path, result.image, status) ||
      !read_deduced_image(path, found, request, result.image, status))
    return result;
  describe_unknown(result, path);
  return result;
}

ImageRead unknown_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status) {
  ImageRead result;
  const Index values = deduction_room(request, status);
  if (values == 0) return result;
  auto& s = fio_unknown_state;
  std::string path;
  Index size = -1;
  InputFile file;
  // Opened before anything is asked of it: a named pipe, a device or a
  // directory is refused by name, and the size is the opened file's. A name
  // that did not open is asked for again offering the one offered before it.
  std::string refused_name, problem;
  int reason = 0;
  bool no_path = false;
  if (!io_ask_until_accepted(
          file_name,
          [](std::string& name, Status& q) {
            io_input_file_name(true, "DATA FILE NAME", {"Name of file containing image data"},
                               {"Unacceptable input"}, 11, name, q);
          },
          [&](const std::string& name) {
            if (!input_path(name, path, status)) return no_path = true;
            refused_name = name;
            problem.clear();
            file = open_input_file(path, problem);
            reason = errno;
            return static_cast<bool>(file);
          },
          [&](Status& q) {
            if (q != kStatusGood) return;
            IO_WRITE(reason == ENOENT ? "WARNING: The specified file doesn't exist"
                                      : "Error in opening file, Please retype name",
                     q);
            IO_WRITE("         " + refused_name + " " + problem, q);
          },
          status) ||
      no_path)
    return result;
  size = std::max<Index>(io_file_size(file.get()), 0);
  if (!deducible_size(size, status)) return result;
  IO_WRITE(" ", status);
  IO_WRITE("INFO: The file contains " + format_i(size, 12) + " bytes", status);
  int lower = static_cast<int>(std::clamp<Index>(s.lower, 4, std::min<Index>(size, INT_MAX)));
  IO_INPI(true, 4, static_cast<int>(std::min<Index>(size, INT_MAX)), true,
          "LOWER LIMIT, PIXELS PER ROW", {"Enter lowest considered number of pixels per row"},
          {"Enter integer within given range"}, lower, status);
  if (status != kStatusGood) return result;
  s.lower = lower;
  RawDeduction found;
  std::vector<float> correlation;
  if (!deduce_raw_layout(file.get(), size, values, s.lower, found, correlation, status)) return result;
  file.reset();
  IO_INPL(false, false, true, true, "INPUT DATA", {"Enter \"YES\" to input image"},
          {"Enter \"YES\" or \"NO\""}, s.input, status);
  if (status != kStatusGood) return result;
  ScratchImage& image = result.image;
  if (!scratch_allocate(request, request.variances, path, image, status)) return result;
  if (!s.input) {
    // The autocorrelation, laid out in rows of the arrays' width, for inspection.
    const auto n = std::min<Index>(static_cast<Index>(correlation.size()), values);
    std::copy_n(correlation.begin(), n, image.data.get());
    image.xnumdat = std::min(n, request.xmaxdat);
    image.ynumdat = std::max<Index>(1, n / request.xmaxdat);
  } else if (!read_deduced_image(path, found, request, image, status)) {
    return result;
  }
  describe_unknown(result, file_name);
  return result;
}

void FIO_IN_UNKNOWN(const ImageTarget& target, std::string& file_name, int& retstat,
                    Status& status) {
  read_into_target(unknown_keyboard_read, target, file_name, retstat,
                   "Subroutine FIO_IN_UNKNOWN V0.6", status);
}

}  // namespace kesta
