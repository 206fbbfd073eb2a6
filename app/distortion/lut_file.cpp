// The distortion look-up table file: a CR LF header of fixed-width lines,
// the optional inverse flat-field response as big-endian 16-bit values, the
// shifts as changes coded in nibbles and the fractions coded behind a flag
// byte (the last non-zero fraction of a pixel is implied by the sum 255).

#include <algorithm>
#include <cmath>
#include <new>
#include <limits>
#include <optional>

#include "app/distortion/lut.hpp"
#include "app/distortion/text_file.hpp"
#include "core/atomic_file.hpp"
#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/fio_stream.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

constexpr std::string_view kHeaderTitle = "DISTORTION CORRECTION LOOK-UP TABLE V02.00";
constexpr std::string_view kHeaderEnd = "!!! END OF HEADER SECTION !!!";
constexpr Index kHeaderBytes = 248;
constexpr Index kHeaderBytesFlatField = 305;

// The answer of the flat-field question, kept for the run.
bool store_flat_field = true;

void write(std::string_view line) {
  Status local = kStatusGood;
  IO_WRITE(line, local);
}

std::string e14(float value) { return format_e(value, 14, 7, 1); }

// One header line of the file: key columns, value columns and the text of
// the refusal when either is wrong.
struct HeaderField {
  Index offset;
  std::string_view key;
  Index value_start;  // 0-based column of the value
  Index value_width;
  std::string_view refusal;
};
constexpr HeaderField kXPixelSize{44, "X_PIXEL_SIZE =", 15, 14,
                                  "ERROR: \"X_PIXEL_SIZE\" Corrupted file"};
constexpr HeaderField kYPixelSize{75, "Y_PIXEL_SIZE =", 15, 14,
                                  "ERROR: \"Y_PIXEL_SIZE\" Corrupted file"};
constexpr HeaderField kXNumber{106, "X_NUMBER =", 11, 12, "ERROR: \"X_NUMBER\" Corrupted file"};
constexpr HeaderField kYNumber{131, "Y_NUMBER =", 11, 12, "ERROR: \"Y_NUMBER\" Corrupted file"};
constexpr HeaderField kBytesPerPixel{156, "BYTES_PER_PIXEL_LUT =", 22, 12,
                                     "ERROR: \"BYTES_PER_PIXEL_LUT =\" Corrupted file"};
constexpr HeaderField kFlatField{192, "FLAT_FIELD_STORED =", 20, 1,
                                 "ERROR: \"FLAT_FIELD_STORED\" Corrupted file"};
constexpr HeaderField kOffset{215, "FF_OFFSET =", 12, 14, "ERROR: \"FF_OFFSET\" Corrupted file"};
constexpr HeaderField kScaling{243, "FF_SCALING =", 13, 14, "ERROR: \"FF_SCALING\" Corrupted file"};

// The file's bytes, taken apart with every read checked.
class TableBytes {
 public:
  TableBytes(const std::vector<std::uint8_t>& bytes, std::string_view file)
      : bytes_(bytes), file_(file) {}

  // Refuses the file: the message lines and the file's name.
  bool refuse(std::initializer_list<std::string_view> lines) {
    for (const std::string_view line : lines) write(line);
    write("       File: " + std::string(file_));
    return false;
  }

  std::string_view text(Index offset, Index length) const {
    if (offset + length > static_cast<Index>(bytes_.size())) return {};
    return std::string_view(reinterpret_cast<const char*>(bytes_.data()) + offset,
                            static_cast<std::size_t>(length));
  }

  // The value text of a header line whose key matches; empty when not.
  bool field(const HeaderField& f, std::string& value) {
    if (text(f.offset, static_cast<Index>(f.key.size())) != f.key) return refuse({f.refusal});
    const std::string_view v = text(f.offset + f.value_start, f.value_width);
    if (v.size() != static_cast<std::size_t>(f.value_width)) return refuse({f.refusal});
    const std::size_t first = v.find_first_not_of(' ');
    value = first == std::string_view::npos ? std::string() : std::string(v.substr(first));
    return true;
  }
  bool real(const HeaderField& f, float& value) {
    std::string t;
    if (!field(f, t)) return false;
    bool ok = false;
    Status local = kStatusGood;
    if (!t.empty()) IO_TOKTR(t, ok, value, local);
    return (ok && std::isfinite(value)) || refuse({f.refusal});
  }
  bool integer(const HeaderField& f, Index& value) {
    std::string t;
    if (!field(f, t)) return false;
    bool ok = false;
    int v = 0;
    Status local = kStatusGood;
    if (!t.empty()) IO_TOKTI(t, ok, v, local);
    value = v;
    return ok || refuse({f.refusal});
  }

  // Refuses a file whose data pass does not fit it, in one line naming it.
  bool refuse_damaged(std::string_view how) {
    write("ERROR: The look-up table file " + std::string(file_) + " is damaged: " +
          std::string(how));
    return false;
  }

  bool byte(std::uint8_t& b) {
    if (position_ >= static_cast<Index>(bytes_.size()))
      return refuse_damaged("it ends before its data are complete");
    b = bytes_[static_cast<std::size_t>(position_++)];
    return true;
  }
  // Whether every byte of the file was read: the last fraction of a pixel
  // is implied, so a damaged flag byte, which puts the bytes after it out of
  // step, need leave no sum wrong; it shows in where the data end.
  bool ends_here() {
    return position_ == static_cast<Index>(bytes_.size()) ||
           refuse_damaged("it goes on after the end of its data");
  }
  void seek(Index position) { position_ = position; }
  Index position() const { return position_; }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::string_view file_;
  Index position_ = 0;
};

// The file through the input stream, at most LIMIT bytes of it (no table
// that fits the arrays needs more); false when it did not open or could not
// be held.
bool read_file(std::string_view path, Index limit, std::vector<std::uint8_t>& bytes) {
  int retstat = 0, stream = 0;
  Status local = kStatusGood;
  FIO_FILEOPEN(path, "READ", retstat, stream, local);
  if (retstat != 0 || local != kStatusGood) return false;
  constexpr Index kChunk = 1 << 20;
  bool ok = true;
  try {
    std::vector<std::byte> chunk(kChunk);
    Index position = 0;
    while (position < limit) {
      Index got = 0;
      FIO_FILEPREADC(stream, position, kChunk, std::min(kChunk, limit - position), 0, retstat,
                     got, chunk);
      if (got > 0) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(chunk.data());
        bytes.insert(bytes.end(), first, first + got);
        position += got;
      }
      if (retstat != 0) {
        ok = retstat == 3 || retstat == 5;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  FIO_FILECLOSEC(stream, retstat);
  return ok;
}

// The table file's name asked (FILE holds the default) and "~" expanded;
// false after an escape or a path that cannot be expanded.
bool ask_table_file(std::string_view prompt, std::string_view help, std::string& file,
                    std::string& path, Status& status) {
  io_input_file_name(true, prompt, {std::string(help)}, {"Unacceptable input"}, 11, file, status);
  if (status != kStatusGood) return false;
  int trans = 0;
  IO_TRANS_PATH(file, trans, path, status);
  if (trans == 0) return true;
  write("WARNING: Problem with file directory path (directory doesn't exist ?)");
  return false;
}

// "(X, Y)" of a table pixel in a refusal.
std::string pixel_text(Index x, Index y) {
  return "(" + format_i(x, 0) + ", " + format_i(y, 0) + ")";
}

// A shift change in -7..7 coded in a nibble; false with the message when not.
bool shift_change(int dx, int dy, std::string& bytes) {
  if (dx < -7 || dx > 7 || dy < -7 || dy > 7) {
    write("ERROR: The relative change in distortion is too large for the storage scheme");
    write("       X-direction shift relative to the previous pixel = " + format_i(dx, 6));
    write("       Y-direction shift relative to the previous pixel = " + format_i(dy, 6));
    return false;
  }
  bytes += static_cast<char>((dx + 7) * 16 + (dy + 7));
  return true;
}

}  // namespace

bool DistortionTable::allocate(Index xmax, Index ymax) {
  Index pixels = 0, fraction_bytes = 0;
  if (xmax < 1 || ymax < 1 || !checked_product(xmax, ymax, pixels) ||
      !checked_product(pixels, 9, fraction_bytes))
    return false;
  try {
    std::vector<std::int8_t> xs(static_cast<std::size_t>(pixels));
    std::vector<std::int8_t> ys(static_cast<std::size_t>(pixels));
    std::vector<std::uint8_t> fs(static_cast<std::size_t>(fraction_bytes));
    x_shifts.swap(xs);
    y_shifts.swap(ys);
    fractions.swap(fs);
  } catch (const std::bad_alloc&) {
    return false;
  }
  xmaxlut = xnumlut = xmax;
  ymaxlut = ynumlut = ymax;
  return true;
}

bool encode_dclut(const DistortionTable& t, bool flat_field_stored,
                  std::span<const float> flat_field, Index xmaxdat, std::string& bytes) {
  bytes.clear();
  auto line = [&bytes](const std::string& text) { bytes += text + "\r\n"; };
  line(std::string(kHeaderTitle));
  line("X_PIXEL_SIZE = " + e14(t.x_pixel_size));
  line("Y_PIXEL_SIZE = " + e14(t.y_pixel_size));
  line("X_NUMBER = " + format_i(t.xnumlut, 12));
  line("Y_NUMBER = " + format_i(t.ynumlut, 12));
  line("BYTES_PER_PIXEL_LUT = " + format_i(1, 12));
  line(std::string("FLAT_FIELD_STORED = ") + (flat_field_stored ? "T" : "F"));
  float offset = 0.0f, scaling = 1.0f;
  if (flat_field_stored) {
    float maximum = 0.0f;
    Status local = kStatusGood;
    MA_RMINMAX(xmaxdat, static_cast<Index>(flat_field.size()) / xmaxdat, flat_field, 1, 1,
               t.xnumlut, t.ynumlut, offset, maximum, local);
    scaling = 65535.0f / std::max(maximum - offset, 1.0e-5f);
    line("FF_OFFSET = " + e14(offset));
    line("FF_SCALING = " + e14(scaling));
  }
  line(std::string(kHeaderEnd));
  bytes += "\x04\x1a";
  if (flat_field_stored) {
    if (bytes.size() % 2 == 1) bytes += '\0';
    for (Index y = 1; y <= t.ynumlut; ++y) {
      for (Index x = 1; x <= t.xnumlut; ++x) {
        const float scaled = (flat_field[element(x, y, xmaxdat)] - offset) * scaling;
        const double v = std::clamp(std::round(static_cast<double>(scaled)), 0.0, 65535.0);
        const unsigned value = std::isnan(v) ? 0u : static_cast<unsigned>(v);
        bytes += static_cast<char>(value >> 8);
        bytes += static_cast<char>(value & 0xFF);
      }
    }
  }
  for (Index y = 1; y <= t.ynumlut; ++y) {
    for (Index x = 1; x <= t.xnumlut; ++x) {
      const Index k = element(x, y, t.xmaxlut);
      if (x == 1 && y == 1) {
        bytes += static_cast<char>(t.x_shifts[0]);
        bytes += static_cast<char>(t.y_shifts[0]);
        continue;
      }
      const Index previous = x > 1 ? k - 1 : element(1, y - 1, t.xmaxlut);
      if (!shift_change(t.x_shifts[k] - t.x_shifts[previous], t.y_shifts[k] - t.y_shifts[previous],
                        bytes))
        return false;
    }
  }
  for (Index y = 1; y <= t.ynumlut; ++y) {
    for (Index x = 1; x <= t.xnumlut; ++x) {
      const std::uint8_t* f = t.fractions.data() + 9 * element(x, y, t.xmaxlut);
      int sum = 0, flag = 0, last = 0;
      for (int k = 0; k < 9; ++k) sum += f[k];
      for (int k = 1; k < 9; ++k) {
        if (f[k] == 0) continue;
        flag |= 1 << (k - 1);
        last = k;
      }
      if (sum != 255) {
        write("ERROR: The sum of the fractions is not 255 at pixel " + format_i(x, 6) +
              format_i(y, 6));
        write("       Sum of output fractions = " + format_i(sum, 5));
        return false;
      }
      bytes += static_cast<char>(flag);
      if (flag == 0) continue;
      bytes += static_cast<char>(f[0]);
      for (int k = 1; k < last; ++k)
        if (f[k] != 0) bytes += static_cast<char>(f[k]);
    }
  }
  return true;
}

void KZT_OUT_DCLUT(bool /*gui*/, std::string_view input_file, const DistortionTable& table,
                   Index xmaxdat, Index ymaxdat, Index xnumdat, Index ynumdat,
                   std::span<const float> data, int& retstat, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_OUT_DCLUT V0.9";
  if (st_bad(status, kPosition)) return;
  if (table.xmaxlut < 1 || xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (table.ymaxlut < 1 || ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  if (!array_holds(data.size(), xmaxdat, ymaxdat)) return st_fail(status, kBaseApp + 1, kPosition);
  if (xnumdat < 1 || xnumdat > xmaxdat) return st_fail(status, kBaseApp + 5, kPosition);
  if (ynumdat < 1 || ynumdat > ymaxdat) return st_fail(status, kBaseApp + 6, kPosition);
  retstat = 0;
  if (table.xnumlut != xnumdat || table.ynumlut != ynumdat) {
    write("ERROR: The defined size of the data is not the same as the size of the");
    write("       look-up table.");
    write("xnum_lut, ynum_lut = " + format_i(table.xnumlut, 8) + format_i(table.ynumlut, 8) +
          " xnumdat, ynumdat = " + format_i(xnumdat, 8) + format_i(ynumdat, 8));
    return;
  }
  std::string file;
  IO_OUTFILE(0, input_file, ".dclt", "test.dclt", file, status);
  std::string path;
  if (!ask_table_file("OUTPUT FILE NAME", "Name of file to contain output data", file, path,
                      status))
    return;
  bool flat_field = store_flat_field;
  IO_INPL(false, false, false, true,
          "STORE INVERSE NORMALISED FLAT-FIELD RESPONSE (MUST BE PRESENT)",
          {"Enter \"YES\" to save inverse flat-field response data"}, {"Click on \"YES\" or \"NO\""},
          flat_field, status);
  if (status != kStatusGood) return;
  store_flat_field = flat_field;
  AtomicFile out(path);
  if (!out.ok()) {
    write(output_open_failure(out));
    retstat = 1;
    return;
  }
  std::string bytes;
  try {
    if (!encode_dclut(table, flat_field, data, xmaxdat, bytes)) return;
  } catch (const std::bad_alloc&) {
    write("ERROR: Not enough memory to prepare the look-up table file");
    return;
  }
  if (!out.write(bytes)) {
    write("ERROR: Problem writing data to file");
    report_output_write_failure(out, kPosition, status);
    return;
  }
  if (!out.commit()) {
    write("WARNING: Problem closing file: Return status = " + format_i(3, 6));
    report_output_write_failure(out, kPosition, status);
    return;
  }
  int db = 0;
  IO_SET_KEYVALUE(kDclutFileKey, static_cast<int>(file.size()), file, db, status);
}

void KZT_INP_DCLUT(bool /*gui*/, std::string_view input_file, int& retstat,
                   DistortionTable& table, Index xmaxdat, Index ymaxdat, Index& xnumdat,
                   Index& ynumdat, Index& xstrelm, Index& ystrelm, Index& xendelm,
                   Index& yendelm, std::span<float> data, std::string& title, bool& table_defined,
                   bool& flat_field_stored, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_INP_DCLUT V0.7";
  if (st_bad(status, kPosition)) return;
  if (xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  retstat = 1;
  std::string file;
  int length = 0, db = 0;
  IO_INQ_KEYVALUE(kDclutFileKey, length, file, db, status);
  if (db != 0) IO_OUTFILE(0, input_file, ".dclt", "test.dclt", file, status);
  std::string path;
  if (!ask_table_file("INPUT FILE NAME", "Name of file containing distortion correction LUT",
                      file, path, status))
    return;
  KZT_IN2DCLUT(path, retstat, table, xmaxdat, ymaxdat, data, table_defined, flat_field_stored,
               status);
  if (retstat != 0 || status != kStatusGood || !flat_field_stored) return;
  xnumdat = table.xnumlut;
  ynumdat = table.ynumlut;
  xstrelm = 1;
  ystrelm = 1;
  xendelm = table.xnumlut;
  yendelm = table.ynumlut;
  title = "Inverse Flat-Field Response Image";
}

void KZT_IN2DCLUT(std::string_view file_name, int& retstat, DistortionTable& table,
                  Index xmaxdat, Index ymaxdat, std::span<float> flat_field, bool& table_defined,
                  bool& flat_field_stored, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_IN2DCLUT V0.2";
  if (st_bad(status, kPosition)) return;
  if (xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  if (!array_holds(flat_field.size(), xmaxdat, ymaxdat))
    return st_fail(status, kBaseApp + 1, kPosition);
  retstat = 1;
  // The largest file a table of the arrays' size can have: header, pad,
  // flat field, shifts and fractions of at most 9 bytes a pixel.
  Index pixels_max = 0, limit = 0;
  if (!checked_product(xmaxdat, ymaxdat, pixels_max) || !checked_product(pixels_max, 12, limit))
    limit = std::numeric_limits<Index>::max() - 1024;
  std::vector<std::uint8_t> raw;
  if (!read_file(file_name, limit + 1024, raw)) {
    write("WARNING: Error in opening file: ");
    write(file_name);
    return;
  }
  TableBytes in(raw, file_name);
  if (raw.size() < 100) {
    in.refuse({"ERROR: Problem in inputting header; wrong format ?"});
    return;
  }
  if (in.text(0, 42) != kHeaderTitle) {
    in.refuse({"ERROR: This file is not a valid distortion correction LUT file"});
    return;
  }
  DistortionTable fresh;
  Index xnum = 0, ynum = 0, bytes_per_pixel = 0;
  std::string stored;
  if (!in.real(kXPixelSize, fresh.x_pixel_size) || !in.real(kYPixelSize, fresh.y_pixel_size) ||
      !in.integer(kXNumber, xnum) || !in.integer(kYNumber, ynum) ||
      !in.integer(kBytesPerPixel, bytes_per_pixel) || !in.field(kFlatField, stored))
    return;
  if (xnum < 1) {
    in.refuse({kXNumber.refusal});
    return;
  }
  if (ynum < 1) {
    in.refuse({kYNumber.refusal});
    return;
  }
  if (bytes_per_pixel != 1) {
    in.refuse({"WARNING: Only 1 byte per pixel LUT is available"});
    return;
  }
  const bool with_flat_field = stored == "T" || stored == "t";
  float offset = 0.0f, scaling = 1.0f;
  if (with_flat_field) {
    if (!in.real(kOffset, offset) || !in.real(kScaling, scaling)) return;
    if (!(scaling > 0.0f)) {
      in.refuse({kScaling.refusal});
      return;
    }
  }
  const Index terminator = with_flat_field ? 272 : 215;
  if (in.text(terminator, 29) != kHeaderEnd) {
    in.refuse({"ERROR: Header terminator corrupted (a)", in.text(terminator, 29)});
    return;
  }
  if (xnum > xmaxdat || ynum > ymaxdat) {
    in.refuse({"ERROR: The look-up table is too big for the internal arrays"});
    return;
  }
  if (!fresh.allocate(xnum, ynum)) {
    in.refuse({"ERROR: No memory for a look-up table of this size"});
    return;
  }
  fresh.xnumlut = xnum;
  fresh.ynumlut = ynum;

  const Index pixels = xnum * ynum;
  std::vector<float> field;
  Index position = with_flat_field ? kHeaderBytesFlatField : kHeaderBytes;
  in.seek(position);
  if (with_flat_field) {
    if (position % 2 == 1) in.seek(++position);
    try {
      field.resize(static_cast<std::size_t>(pixels));
    } catch (const std::bad_alloc&) {
      in.refuse({"ERROR: No memory for the flat field of this size"});
      return;
    }
    for (Index i = 0; i < pixels; ++i) {
      std::uint8_t high = 0, low = 0;
      if (!in.byte(high) || !in.byte(low)) return;
      field[static_cast<std::size_t>(i)] =
          static_cast<float>(high * 256 + low) / scaling + offset;
    }
  }
  // Shifts: pixel (1, 1) whole, the others as changes.
  for (Index y = 1; y <= ynum; ++y) {
    for (Index x = 1; x <= xnum; ++x) {
      const Index k = element(x, y, xnum);
      int sx = 0, sy = 0;
      if (x == 1 && y == 1) {
        std::uint8_t bx = 0, by = 0;
        if (!in.byte(bx) || !in.byte(by)) return;
        sx = static_cast<std::int8_t>(bx);
        sy = static_cast<std::int8_t>(by);
      } else {
        std::uint8_t b = 0;
        if (!in.byte(b)) return;
        if ((b >> 4) == 15 || (b & 15) == 15) {
          in.refuse_damaged("the shift change of pixel " + pixel_text(x, y) +
                            " cannot be decoded");
          return;
        }
        const Index previous = x > 1 ? k - 1 : element(1, y - 1, xnum);
        sx = fresh.x_shifts[previous] + (b >> 4) - 7;
        sy = fresh.y_shifts[previous] + (b & 15) - 7;
      }
      if (sx < -127 || sx > 127 || sy < -127 || sy > 127) {
        in.refuse_damaged("the shifts of pixel " + pixel_text(x, y) +
                          " lie outside -127 to 127");
        return;
      }
      fresh.x_shifts[k] = static_cast<std::int8_t>(sx);
      fresh.y_shifts[k] = static_cast<std::int8_t>(sy);
    }
  }
  for (Index k = 0; k < pixels; ++k) {
    std::uint8_t* f = fresh.fractions.data() + 9 * k;
    std::fill(f, f + 9, std::uint8_t{0});
    std::uint8_t flag = 0;
    if (!in.byte(flag)) return;
    if (flag == 0) {
      f[0] = 255;
      continue;
    }
    int last = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (flag & (1 << bit)) last = bit + 1;
    // A flag bit stands for a fraction that is not 0, the last one implied:
    // the fractions read hold no 0 past the first and sum below 255.
    int sum = 0;
    bool zero = false;
    if (!in.byte(f[0])) return;
    sum += f[0];
    for (int j = 1; j < last; ++j) {
      if (!(flag & (1 << (j - 1)))) continue;
      if (!in.byte(f[j])) return;
      sum += f[j];
      zero = zero || f[j] == 0;
    }
    if (zero || sum >= 255) {
      in.refuse_damaged("the fraction bytes of pixel " + pixel_text(k % xnum + 1, k / xnum + 1) +
                        " do not fit its flag byte");
      return;
    }
    f[last] = static_cast<std::uint8_t>(255 - sum);
  }
  if (!in.ends_here()) return;
  // Accepted: the table, and the flat field into the current data.
  table_defined = false;
  table = std::move(fresh);
  flat_field_stored = with_flat_field;
  if (with_flat_field)
    for (Index y = 1; y <= ynum; ++y)
      std::copy_n(field.begin() + (y - 1) * xnum, xnum,
                  flat_field.begin() + element(1, y, xmaxdat));
  table_defined = true;
  retstat = 0;
}

}  // namespace kesta
