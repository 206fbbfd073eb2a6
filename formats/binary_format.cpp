#include "formats/binary_format.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "core/ask_again.hpp"
#include "core/atomic_file.hpp"
#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/fio_stream.hpp"
#include "formats/format_menus.hpp"
#include "formats/reader_support.hpp"
#include "formats/region_readers.hpp"
#include "formats/stream_slot.hpp"
#include "formats/text_files.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

namespace {

// Stream number of the raw writers' output file.
constexpr int kRawOutputUnit = 25;

struct DataTypeChoice {
  const char* name;
  const char* help;
  int bytes;
  bool real;
  float overload;
};
constexpr std::array<DataTypeChoice, 4> kDataTypes = {{
    {"4-BYTE INTEGER", "4-BYTE INTEGER: Signed or unsigned, either byte order", 4, false, 2147483648.0f},
    {"BYTE VALUES", "BYTE VALUES: Single signed or unsigned integers", 1, false, 255.5f},
    {"INTEGER (2-BYTE)", "INTEGER (2-BYTE): Signed or unsigned either byte order", 2, false, 65534.5f},
    {"REAL (4-BYTE IEEE)", "REAL (4-BYTE IEEE): Floating point real numbers", 4, true, 1.7e38f},
}};

struct BinaryState {
  std::string binary_output = "kesta.bin";
  std::string mar_output = "kesta.corr";
  bool big_endian = true;      // the BINARY writer's byte order
  bool mar_big_endian = true;  // the DENZO MAR writer's
  bool first_read = true;
  Index nx = 0, ny = 0;        // the reader's sizes
  std::optional<RawLayout> answered;  // the layout of the last read that asked
};
BinaryState fio_binary_state;

void region_line(Index width, Index height, Status& status) {
  IO_WRITE("INFO: Data region is " + format_i(width, 6) + " * " + format_i(height, 6) + " pixels",
           status);
}

// Writes the region with the core's array writer into OUT from record
// FIRST_RECORD, asking for the limits; false (after a message, and a bad
// STATUS at POSITION for a failed write) when nothing usable was written.
bool write_scaled(std::string_view position, AtomicFile& out, Index xmaxdat, Index ymaxdat,
                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  std::span<const float> data, Index record_length,
                  int bytes, bool big_endian, bool pad, bool by_columns, Index first_record,
                  bool ask_range, float& lower, float& upper, Status& status) {
  if (!out.ok()) {
    report_output_open_failure(out, status);
    return false;
  }
  if (ask_range && !io_ask_integer_range(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm,
                                         yendelm, bytes, lower, upper, status))
    return false;
  bool failed = false;
  Index record = first_record;
  {
    const StreamSlot slot(kRawOutputUnit, out.stream());
    io_uwrite_region(kRawOutputUnit, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                     record_length, bytes, big_endian, pad, by_columns, false, record, lower,
                     upper, failed, status);
  }
  if (status != kStatusGood) return false;
  // A failed write through the stream leaves its reason in errno.
  if (failed) out.fail();
  if (failed || !out.commit()) {
    report_output_write_failure(out, position, status);
    return false;
  }
  return true;
}

// The text after the first "=" of LINE; false without one.
bool after_equals(const std::string& line, std::string& rest) {
  const auto at = line.find('=');
  if (at == std::string::npos) return false;
  rest = line.substr(at + 1);
  return true;
}

std::vector<std::string> tokens_of(std::string_view text) {
  std::vector<std::string> out;
  bool all = false;
  int n = 0;
  Status local = ST_GOOD();
  IO_TOKENS(text, 8, all, n, out, local);
  out.resize(static_cast<std::size_t>(std::max(n, 0)));
  return out;
}

bool real_token(const std::vector<std::string>& t, std::size_t i, float& value) {
  if (t.size() <= i) return false;
  bool ok = false;
  Status local = ST_GOOD();
  IO_TOKTR(t[i], ok, value, local);
  return ok;
}

bool integer_token(const std::vector<std::string>& t, std::size_t i, Index& value) {
  std::int64_t v = 0;
  if (t.size() <= i || !read_integer_field(t[i], v)) return false;
  value = v;
  return true;
}

const DataTypeChoice* data_type_named(std::string_view name) {
  for (const auto& t : kDataTypes)
    if (IO_UPPER(used_text(name)) == t.name) return &t;
  return nullptr;
}

}  // namespace

void fio_reset_binary() { fio_binary_state = BinaryState{}; }

void FIO_OUT_HEADERFILE(std::string_view file_name, std::string_view title,
                        std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                        Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, float lower,
                        float upper, int bytes, bool big_endian, bool is_signed,
                        Index record_length, Index first_record, bool padded, float x_pixel_size,
                        float y_pixel_size, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_HEADERFILE V0.4";
  if (st_bad(status, kPosition)) return;
  if (xstrelm < 1 || xstrelm > xendelm) {
    st_fail(status, kBaseFormats + 5, kPosition);
    return;
  }
  if (ystrelm < 1 || ystrelm > yendelm) {
    st_fail(status, kBaseFormats + 6, kPosition);
    return;
  }
  std::string name;
  IO_NODIRPATH(used_text(file_name), name, status);
  const std::string path = std::string(used_text(file_name)) + ".info";
  AtomicFile out(path);
  if (!out.ok()) {
    report_output_open_failure(out, status);
    return;
  }
  out.write_line("Name of binary file containing image data = " + name);
  out.write_line("Number of pixels (horizontal/vertical) = " +
                 format_i(xendelm - xstrelm + 1, 10) + format_i(yendelm - ystrelm + 1, 10));
  out.write_line("Integer data: Number of bytes per pixel = " + format_i(bytes, 2) + " " +
                 (is_signed ? "(signed)" : "(unsigned)"));
  out.write_line(big_endian
                     ? "The data has been written in \"big endian\" format. (Normal for HP/SUN/SG)"
                     : "The data has been written in \"little endian\" format. (Normal for "
                       "VAX/PCs)");
  out.write_line("Nominal horizontal pixel size = " + format_f(x_pixel_size * 1.0e6, 12, 3) +
                 " (microns)");
  out.write_line("Nominal vertical pixel size   = " + format_f(y_pixel_size * 1.0e6, 12, 3) +
                 " (microns)");
  out.write_line("Pixel number of first output pixel (pixel offsets) = " + format_i(xstrelm, 10) +
                 format_i(ystrelm, 10));
  out.write_line("Title = " + std::string(used_text(title)));
  out.write_line("X-axis label = " + std::string(used_text(xlabel)));
  out.write_line("Y-axis label = " + std::string(used_text(ylabel)));
  out.write_line("Z-axis label = " + std::string(used_text(zlabel)));
  out.write_line("Input data value scaled to lowest file value  = " + format_e(lower, 14, 7, 1));
  out.write_line("Input data value scaled to highest file value = " + format_e(upper, 14, 7, 1));
  out.write_line("Record length = " + format_i(record_length, 8) +
                 " (bytes); First output record = " + format_i(first_record, 8));
  if (padded) out.write_line("Records have been padded out. ");
  if (!out.commit()) report_output_write_failure(out, kPosition, status);
}

void FIO_IN_HEADERFILE(std::string_view file_name, std::string& title, std::string& xlabel,
                       std::string& ylabel, std::string& zlabel, Index& nx, Index& ny,
                       float& lower, float& upper, int& bytes, bool& swap, bool& is_signed,
                       float& x_pixel_size, float& y_pixel_size, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_HEADERFILE V0.5";
  if (st_bad(status, kPosition)) return;
  if (used_text(file_name).empty()) {
    st_fail(status, kBaseFormats + 33, kPosition);
    return;
  }
  // Only a regular file is read: a named pipe or a device given the name
  // would hold the program or never end.
  const std::string info = std::string(used_text(file_name)) + ".info";
  std::string problem;
  const InputFile in = open_input_file(info, problem);
  if (!in) {
    if (errno != ENOENT) IO_WRITE("WARNING: File " + info + " " + problem, status);
    IO_WRITE("WARNING: No '.info' file, so unknown image size, and pixel sizes", status);
    IO_WRITE("         (The detector's stored pixel sizes are used.)", status);
    return;
  }
  IO_WRITE("INFO: '.info' file has been found and will be used for defaults", status);
  std::string line, rest;
  // The lines hold numbers and texts of 80 characters; a longer line is
  // kept to its start.
  const auto read_line = [&in](std::string& text) {
    bool cut = false;
    return io_read_bounded_line(in.get(), 1024, text, cut);
  };
  if (!read_line(line)) {
    IO_WRITE("WARNING: Problem reading from .info file", status);
    return;
  }
  const std::string corrupt = "       the '.info' file is wrong or has been corrupted";
  auto error = [&](const std::string& first) {
    IO_WRITE(first, status);
    IO_WRITE(corrupt, status);
  };
  auto next = [&](bool need_equals) {
    if (!read_line(line) || (need_equals && !after_equals(line, rest))) {
      IO_WRITE("ERROR: The '.info' file is the wrong file or has been corrupted", status);
      return false;
    }
    return true;
  };
  // Line 2: the sizes.
  if (!next(true)) return;
  Index x = 0, y = 0;
  auto t = tokens_of(rest);
  if (!integer_token(t, 0, x) || !integer_token(t, 1, y)) {
    IO_WRITE("ERROR: The image size values are not correct, the '.info' file is", status);
    IO_WRITE("       wrong or has been corrupted", status);
    return;
  }
  nx = x;
  ny = y;
  // Line 3: bytes and sign.
  if (!next(true)) return;
  t = tokens_of(rest);
  Index b = 0;
  if (!integer_token(t, 0, b) || t.size() < 2 || (t[1] != "(unsigned)" && t[1] != "(signed)")) {
    error("ERROR: Number of bytes per pixel, or signed/unsigned values is not correct,");
    return;
  }
  bytes = static_cast<int>(std::clamp<Index>(b, -1, 1000));
  is_signed = t[1] == "(signed)";
  // Line 4: byte order.
  if (!next(false)) return;
  if (line.find("big endian") != std::string::npos) {
    swap = !IO_BIG_ENDIAN();
  } else if (line.find("little endian") != std::string::npos) {
    swap = IO_BIG_ENDIAN();
  } else {
    error("ERROR: The endianess of the data is not correctly defined,");
    return;
  }
  // Lines 5 and 6: pixel sizes in microns.
  for (auto [size, message] :
       {std::pair{&x_pixel_size, "ERROR: The X pixel size is not correctly defined,"},
        std::pair{&y_pixel_size, "ERROR: The Y pixel size is not correctly defined, "}}) {
    if (!next(true)) return;
    float v = 0.0f;
    if (!real_token(tokens_of(rest), 0, v)) {
      error(message);
      return;
    }
    *size = v * 1.0e-6f;
  }
  if (!next(false)) return;  // line 7, the offsets
  for (std::string* text : {&title, &xlabel, &ylabel, &zlabel}) {
    if (!next(true)) return;
    const auto at = line.find('=');
    *text = at + 2 < line.size() ? line.substr(at + 2) : std::string();
  }
  float v = 0.0f;
  if (!next(true)) return;
  if (!real_token(tokens_of(rest), 0, v)) {
    error("ERROR: The lowest value is not correctly defined,");
    return;
  }
  lower = v;
  if (!next(true)) return;
  if (!real_token(tokens_of(rest), 0, v)) {
    IO_WRITE(corrupt, status);
    return;
  }
  upper = v;
}

namespace {

// The graphical "BINARY OUTPUT CONTROL" form of both raw writers (PAD and
// FIRST given only for BINARY): until the scaling range is valid. False
// after CANCEL (STATUS good) or a bad status.
bool output_form(std::string_view input_file, std::string_view extension,
                 std::string_view default_file, Index xmaxdat, Index ymaxdat, Index xstrelm,
                 Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                 int min_record, std::string& name, int& record_length, bool* pad,
                 int* first_record, bool& big_endian, float& lower, float& upper,
                 Status& status) {
  static const std::string kHelp[] = {
      "This form controls the output of the active data region",
      "as binary integers. \"FILE NAME\" is the output file.",
      "\"RECORD LEN.\" is the length of a record in bytes;",
      "records do not really exist on Un*x systems but allow",
      "blank leading records and partly filled records.",
      "\"PAD\" fills under-filled records with zeros so that",
      "each line starts a record; \"1ST RECORD\" leaves room",
      "for the header of another format. \"BIG ENDIAN\" is",
      "\"YES\" for the workstation byte order and \"NO\" for",
      "PC order. The output integers cover only 65536 values:",
      "\"LOWER RANGE\" and \"UPPER RANGE\" are scaled onto",
      "them; by default data within 0 to 65535 are written as",
      "their nearest integers."};
  IO_OUTFILE(0, input_file, extension, default_file, name, status);
  const RegionExtremes extremes =
      io_region_extremes(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, status);
  lower = std::min(0.0f, extremes.finite_min);
  upper = std::max(65535.0f, extremes.finite_max);
  io_apart_limits(lower, upper);
  if (const std::string* chosen = fio_chosen_output()) {
    name = *chosen;  // everything else as proposed
    return status == kStatusGood;
  }
  fio_warn_replacing_input(name, input_file, "O.K.", status);
  // An invalid range shows the box and the form again, the limits as first
  // offered and the other items as answered.
  ScalingRange range{lower, upper};
  const bool accepted = io_ask_until_accepted(
      range,
      [&](ScalingRange& r, Status& s) {
        io_write_extremes(extremes, s);
        std::vector<GsFormItem> items;
        auto add = [&](const char* label, int type, const char* prompt, const char* help) {
          return &items.emplace_back(fio_form_item(label, type, prompt, help));
        };
        add("FILE NAME", 8, "SELECT FILE TO CONTAIN DATA", "Enter name of file to contain data")
            ->string_value = name;
        items.push_back(fio_form_integer("RECORD LEN.", "LENGTH OF OUTPUT RECORDS (BYTES)",
                                         "Enter number of bytes to output in a \"record\"",
                                         min_record, 12000, record_length));
        if (pad != nullptr)
          add("PAD", 2, "PAD RECORDS (IF NECESSARY)",
              "Enter \"YES\" if under-filled records are to be padded")
              ->logical_value = *pad;
        if (first_record != nullptr)
          items.push_back(fio_form_integer("1ST RECORD", "NUMBER OF FIRST RECORD FOR DATA",
                                           "Enter number of first record to the binary image data",
                                           1, 100000, *first_record));
        add("BIG ENDIAN", 2, "OUTPUT \"BIG ENDIAN DATA (HP/SGI/SUN)",
            "Enter \"YES\" for \"BIG ENDIAN\" (HP/SGI/SUN) integers, \"NO\" for")
            ->logical_value = big_endian;
        add("LOWER RANGE", 3, "LOWER LIMIT OF SCALING RANGE",
            "Enter lower intensity limit ofrange to be output")
            ->real_value = r.lower;
        add("UPPER RANGE", 3, "UPPER LIMIT OF SCALING RANGE",
            "Enter upper intensity limit of range to be output")
            ->real_value = r.upper;
        int code = 0;
        const int num = static_cast<int>(items.size());
        GS_FORM(2, 2, {"BINARY OUTPUT CONTROL", "VARIABLES FORM"}, 13, 13, kHelp, num + 5, items,
                code, s);
        if (s == kStatusGood && code != 0) s = kStatusEscape;  // CANCEL
        if (s != kStatusGood) return;
        std::size_t k = 0;
        name = items[k++].string_value;
        record_length = items[k++].int_value;
        if (pad != nullptr) *pad = items[k++].logical_value;
        if (first_record != nullptr) *first_record = items[k++].int_value;
        big_endian = items[k++].logical_value;
        r.lower = items[k++].real_value;
        r.upper = items[k++].real_value;
      },
      [](const ScalingRange& r) { return io_scaling_range_valid(r.lower, r.upper); },
      [](Status& s) { gs_refusal({"THE SCALING RANGE IS INVALID"}, s); }, status);
  if (status == kStatusEscape) st_reset(status);  // CANCEL: nothing written
  lower = range.lower;
  upper = range.upper;
  return accepted;
}

// The graphical road's message for a bad directory path.
bool gui_path(const std::string& name, std::string& path, Status& status) {
  int trans = 0;
  IO_TRANS_PATH(name, trans, path, status);
  if (status != kStatusGood) return false;
  if (trans == 0) return true;
  gs_refusal({"PROBLEM WITH FILE DIRECTORY PATH (NO DIRECTORY ?)"}, status);
  return false;
}

}  // namespace

void FIO_OUT_BINARY(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                    Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, std::string_view title, std::string_view xlabel,
                    std::string_view ylabel, std::string_view zlabel, float x_pixel_size,
                    float y_pixel_size, bool header_files, int bytes_per_pixel, int& retstat,
                    Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_BINARY V0.10";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  if (bytes_per_pixel != 2 && bytes_per_pixel != 4) {
    st_fail(status, kBaseFormats + 17, kPosition);
    return;
  }
  auto& s = fio_binary_state;
  const Index width = xendelm - xstrelm + 1;
  float lower = 0.0f, upper = 0.0f;
  if (gui) {
    // The graphical road always writes the ".info" file.
    int record_length = static_cast<int>(std::min<Index>(width * bytes_per_pixel, 12000));
    bool pad = false;
    int first_record = 1;
    if (!output_form(input_file, ".bin", "kesta.bin", xmaxdat, ymaxdat, xstrelm, ystrelm,
                     xendelm, yendelm, data, 1, s.binary_output, record_length, &pad,
                     &first_record, s.big_endian, lower, upper, status))
      return;
    std::string path;
    if (!gui_path(s.binary_output, path, status)) return;
    AtomicFile out(path);
    if (!write_scaled(kPosition, out, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                      record_length, bytes_per_pixel, s.big_endian, pad, false, first_record,
                      false, lower, upper, status)) {
      retstat = 2;
      return;
    }
    FIO_OUT_HEADERFILE(path, title, xlabel, ylabel, zlabel, xstrelm, ystrelm, xendelm, yendelm,
                       lower, upper, bytes_per_pixel, s.big_endian, bytes_per_pixel == 4,
                       record_length, first_record, pad, x_pixel_size, y_pixel_size, status);
    if (status == kStatusGood) retstat = 0;
    return;
  }
  region_line(width, yendelm - ystrelm + 1, status);
  OfferedAnswer name(s.binary_output);
  io_input_file_name(true, "BINARY FILE NAME", {"Name of file to contain dump of data"},
                     {"Unacceptable input"}, 11, s.binary_output, status);
  int record_length = static_cast<int>(std::min<Index>(width * bytes_per_pixel, 12000));
  IO_INPI(true, 1, 12000, true, "RECORD LENGTH (BYTES)",
          {"Length of fixed length records in file in bytes"}, {"Must be within defined limits"},
          record_length, status);
  if (status != kStatusGood) return;
  bool pad = false;
  if (record_length > width * bytes_per_pixel) {
    pad = true;
    IO_INPL(false, false, true, true, "PAD RECORDS", {"YES to pad records"},
            {"Must be within defined limits"}, pad, status);
  }
  int first_record = 1;
  IO_INPI(true, 1, 100000, true, "FIRST RECORD FOR OUTPUT",
          {"Number of first record to write data from array"}, {"Must be within defined limits"},
          first_record, status);
  IO_INPL(false, false, true, true, "BIG ENDIAN FORMAT INTEGERS",
          {"YES for big endian integer (Sun/HP/SG), NO for little endian (VAX, PC)"},
          {"Enter YES or NO"}, s.big_endian, status);
  if (status != kStatusGood) return;
  std::string path;
  if (!fio_output_path(s.binary_output, path, status)) {
    name.refuse();
    return;
  }
  AtomicFile out(path);
  if (!out.ok()) name.refuse();
  if (!write_scaled(kPosition, out, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                    record_length, bytes_per_pixel, s.big_endian, pad, false, first_record, true,
                    lower, upper, status))
    return;
  if (header_files)
    FIO_OUT_HEADERFILE(path, title, xlabel, ylabel, zlabel, xstrelm, ystrelm, xendelm, yendelm,
                       lower, upper, bytes_per_pixel, s.big_endian, bytes_per_pixel == 4,
                       record_length, first_record, pad, x_pixel_size, y_pixel_size, status);
  if (status == kStatusGood) retstat = 0;
}

void FIO_OUT_MAR(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                 Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                 std::span<const float> data, int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_MAR V0.7";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  auto& s = fio_binary_state;
  const Index width = xendelm - xstrelm + 1, height = yendelm - ystrelm + 1;
  // The header record holds 124 bytes, so shorter records are refused.
  constexpr int kHeader = 124;
  int record_length = static_cast<int>(std::clamp<Index>(width * 2, kHeader, 12000));
  float lower = 0.0f, upper = 0.0f;
  std::string path;
  OfferedAnswer name(s.mar_output);
  if (gui) {
    if (!output_form(input_file, ".cor", "kesta.cor", xmaxdat, ymaxdat, xstrelm, ystrelm,
                     xendelm, yendelm, data, kHeader, s.mar_output, record_length, nullptr,
                     nullptr, s.mar_big_endian, lower, upper, status) ||
        !gui_path(s.mar_output, path, status))
      return;
  } else {
    region_line(width, height, status);
    io_input_file_name(true, "OUTPUT FILE NAME",
                       {"Name of file to contain data for later input to DENZO"},
                       {"Unacceptable input"}, 11, s.mar_output, status);
    IO_INPI(true, kHeader, 12000, true, "RECORD LENGTH (BYTES)",
            {"Length of fixed length records in file in bytes"}, {"Must be within defined limits"},
            record_length, status);
    IO_INPL(false, false, true, true, "BIG ENDIAN FORMAT INTEGERS",
            {"YES for big endian integer (Sun/HP/SG), NO for little endian (VAX, PC)"},
            {"Enter YES or NO"}, s.mar_big_endian, status);
    if (status != kStatusGood) return;
    if (!fio_output_path(s.mar_output, path, status)) {
      name.refuse();
      return;
    }
  }
  AtomicFile out(path);
  if (!out.ok()) name.refuse();
  std::vector<std::byte> header(static_cast<std::size_t>(record_length));
  const std::int32_t sizes[2] = {static_cast<std::int32_t>(width),
                                 static_cast<std::int32_t>(height)};
  std::memcpy(header.data(), sizes, sizeof sizes);
  std::memcpy(header.data() + 100, "**-***-*** **:**:**.**  ", 24);
  out.write(header);
  if (!write_scaled(kPosition, out, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                    record_length, 2, s.mar_big_endian, false, true, 2, !gui, lower, upper,
                    status))
    return;
  retstat = 0;
}

ImageRead read_binary_file(const std::string& path, const ReadRequest& request,
                           const RawLayout& layout, Status& status) {
  ImageRead result;
  const DataTypeChoice* type = data_type_named(layout.data_type);
  if (type == nullptr) {
    IO_WRITE("WARNING: Unknown data type", status);
    return result;
  }
  int stream = 0;
  if (!fio_open_input(path, stream, status)) return result;
  const FioInputClose close(stream);
  if (!file_holds_image(path, layout.nx, layout.ny, type->bytes, layout.start_byte, status)) {
    result.retstat = 5;
    return result;
  }
  ScratchImage& image = result.image;
  if (!scratch_allocate(request, false, path, image, status)) return result;
  const Index xmax = request.xmaxdat, ymax = request.ymaxdat;
  const Index nx = layout.nx, ny = layout.ny;
  const Index xn = std::min(nx, xmax), yn = std::min(ny, ymax);
  image.file_xnum = nx;
  image.file_ynum = ny;
  const Index start = std::max<Index>(layout.start_byte, 1);
  constexpr Index kBuffer = 20000;
  std::vector<std::byte> work(static_cast<std::size_t>(kBuffer));
  auto buffer = [&](auto* element) {
    using T = std::remove_pointer_t<decltype(element)>;
    return std::span<T>(reinterpret_cast<T*>(work.data()), work.size() / sizeof(T));
  };
  const Index elements = kBuffer / type->bytes;
  std::span<float> out = image.pixels();
  Index& rx = image.xnumdat;
  Index& ry = image.ynumdat;
  if (type->bytes == 1) {
    FIO_INP_2DBYTE(stream, layout.is_signed, false, false, false, nx, ny, 1, 1, xn, yn, 1, 1,
                   start, elements, buffer(static_cast<std::int8_t*>(nullptr)), xmax, ymax, rx,
                   ry, out, status);
  } else if (type->bytes == 2) {
    FIO_INP_2DI2(stream, layout.swap, layout.is_signed, false, false, false, nx, ny, 1, 1, xn, yn,
                 1, 1, start, elements, buffer(static_cast<std::int16_t*>(nullptr)), xmax, ymax,
                 rx, ry, out, status);
  } else if (type->real) {
    FIO_INP_2DR4(stream, layout.swap, false, false, false, nx, ny, 1, 1, xn, yn, 1, 1, start,
                 elements, buffer(static_cast<float*>(nullptr)), xmax, ymax, rx, ry, out, status);
  } else {
    FIO_INP_2DI4(stream, layout.swap, layout.is_signed, false, false, false, nx, ny, 1, 1, xn, yn,
                 1, 1, start, elements, buffer(static_cast<std::int32_t*>(nullptr)), xmax, ymax,
                 rx, ry, out, status);
  }
  if (status == 11005) {
    st_reset(status);
    report_unread_file(path, "ends before the image is complete", status);
    result.retstat = 5;
    return result;
  }
  if (status != kStatusGood) return result;
  describe_raw_image(image, path);
  image.overload = type->overload;
  result.retstat = 0;
  return result;
}

namespace {

// The remembered layout: the sizes kept here, the rest in the database.
RawLayout remembered_layout(const ReadRequest& request, Status& status) {
  auto& s = fio_binary_state;
  if (s.first_read) {
    s.first_read = false;
    s.nx = request.xmaxdat;
    s.ny = request.ymaxdat;
  }
  RawLayout layout;
  layout.nx = s.nx;
  layout.ny = s.ny;
  layout.data_type = kDataTypes[2].name;
  int found = 0, start = 1;
  IO_INQ_LKEYVALUE("IN_BIN_SIGNED", layout.is_signed, found, status);
  IO_INQ_LKEYVALUE("IN_BIN_SWAP", layout.swap, found, status);
  IO_INQ_IKEYVALUE("IN_BIN_START", start, found, status);
  if (found == 0) layout.start_byte = start;
  int length = 0;
  std::string value;
  IO_INQ_KEYVALUE("IN_BIN_DATA_TYPE", length, value, found, status);
  if (found == 0) layout.data_type = std::string(used_text(value.substr(0, 20)));
  return layout;
}

void store_layout(const RawLayout& layout, Status& status) {
  int stored = 0;
  IO_SET_LKEYVALUE("IN_BIN_SIGNED", layout.is_signed, stored, status);
  IO_SET_LKEYVALUE("IN_BIN_SWAP", layout.swap, stored, status);
  IO_SET_IKEYVALUE("IN_BIN_START", static_cast<int>(layout.start_byte), stored, status);
  IO_SET_KEYVALUE("IN_BIN_DATA_TYPE", SLEN(layout.data_type), layout.data_type, stored, status);
  fio_binary_state.nx = layout.nx;
  fio_binary_state.ny = layout.ny;
  fio_binary_state.answered = layout;
}

// What the ".info" file beside PATH gives, when there is one: the sizes, sign
// and byte order into LAYOUT, the pixel sizes it holds into XPS and YPS.
// Returns the bytes per pixel it names (0 when none).
int info_defaults(const std::string& path, RawLayout& layout, std::optional<float>& xps,
                  std::optional<float>& yps, Status& status) {
  std::string title, xlabel, ylabel, zlabel;
  float lower = 0.0f, upper = 0.0f;
  int bytes = 0;
  // Not a number: a size the file did not give.
  float x = std::numeric_limits<float>::quiet_NaN(), y = x;
  FIO_IN_HEADERFILE(path, title, xlabel, ylabel, zlabel, layout.nx, layout.ny, lower, upper,
                    bytes, layout.swap, layout.is_signed, x, y, status);
  if (!std::isnan(x)) xps = x;
  if (!std::isnan(y)) yps = y;
  return bytes;
}

}  // namespace

namespace {

// The reader's line for sizes larger than the arrays, said on every road
// before the image is read in part.
void warn_internal_dimensions(Index nx, Index ny, const ReadRequest& request, Status& status) {
  if (status == kStatusGood && (nx > request.xmaxdat || ny > request.ymaxdat))
    IO_WRITE("WARNING: Internal dimensions are too small to input all of the data", status);
}

// The file read with the title FILE_NAME and the pixel sizes its ".info" file
// gave; a size it did not give is the 100 microns said when it was missing.
ImageRead read_described(const std::string& path, const ReadRequest& request,
                         const RawLayout& layout, const std::string& file_name,
                         std::optional<float> xps, std::optional<float> yps, Status& status) {
  ImageRead read = read_binary_file(path, request, layout, status);
  if (read.ok()) {
    read.image.title = file_name;
    read.image.x_pixel_size = xps.value_or(1.0e-4f);
    read.image.y_pixel_size = yps.value_or(1.0e-4f);
    read.image.x_pixel_size_defaulted = !xps;
    read.image.y_pixel_size_defaulted = !yps;
  }
  return read;
}

}  // namespace

ImageRead binary_keyboard_read(const ReadRequest& request, std::string& file_name,
                               Status& status) {
  RawLayout layout = remembered_layout(request, status);
  layout.start_byte = 1;
  std::string path;
  std::optional<float> xps, yps;
  ImageRead escaped;
  escaped.retstat = -1;
  auto escape = [&]() {
    if (status == kStatusEscape) {
      st_reset(status);
      return true;
    }
    return false;
  };
  if (!ask_input_path(file_name, path, status)) {
    if (escape()) return escaped;
    return {};
  }
  const int bytes = info_defaults(path, layout, xps, yps, status);
  if (bytes == 2) layout.data_type = kDataTypes[2].name;
  if (bytes == 4) layout.data_type = kDataTypes[0].name;
  int nx = static_cast<int>(std::clamp<Index>(layout.nx, 1, 10000000));
  int ny = static_cast<int>(std::clamp<Index>(layout.ny, 1, 10000000));
  IO_INPI(true, 1, 10000000, true, "X NUMBER PIXELS",
          {"Number of data elements horizontally in each line of data"},
          {"Enter integer in range"}, nx, status);
  IO_INPI(true, 1, 10000000, true, "Y NUMBER PIXELS",
          {"Number of data elements vertically (number of lines)"}, {"Enter integer in range"}, ny,
          status);
  warn_internal_dimensions(nx, ny, request, status);
  layout.nx = nx;
  layout.ny = ny;
  std::vector<std::string> names;
  for (const auto& t : kDataTypes) names.emplace_back(t.name);
  IO_MENU(true, "DATA TYPE", {"Enter type of data from available choices"},
          {"Enter one of the available choices"}, static_cast<int>(names.size()), names,
          layout.data_type, status);
  const DataTypeChoice* chosen = data_type_named(layout.data_type);
  if (status == kStatusGood && chosen != nullptr && chosen->bytes >= 2 && !chosen->real) {
    IO_INPL(false, false, true, true, "PERFORM BYTE SWAPPING",
            {"\"YES\" if the byte order needs to be changed"}, {"Enter \"YES\" or \"NO\""},
            layout.swap, status);
    IO_INPL(false, false, true, true, "SIGNED DATA",
            {"\"YES\" if the data is signed, \"NO\" for unsigned data"},
            {"Enter \"YES\" or \"NO\""}, layout.is_signed, status);
  }
  if (escape()) return escaped;
  if (status != kStatusGood) return {};
  store_layout(layout, status);
  return read_described(path, request, layout, file_name, xps, yps, status);
}

void FIO_GUI_IN_DATA(Index xmaxdat, Index ymaxdat, Index& nx, Index& ny, std::string& data_type,
                     bool& is_signed, bool& swap, Index& start, Status& status) {
  if (st_bad(status, "Subroutine FIO_GUI_IN_DATA V0.5")) return;
  (void)xmaxdat;
  (void)ymaxdat;
  static const std::string kHelp[] = {
      "This size form allows you to specifythe type and size", "of data to be input,", " ",
      "The \"X-PIXELS\" and \"Y-PIXELS\" buttons", "allow the number of pixels to be changed.",
      " ", "\"DATA TYPE\" allows the type of values", "stored for each pixel to be selected"};
  auto integer = [](const char* label, const char* prompt, const char* help, Index upper,
                    Index value) { return fio_form_integer(label, prompt, help, 1, upper, value); };
  auto yes_no = [](const char* label, const char* prompt, const char* help, bool value) {
    GsFormItem item = fio_form_item(label, 2, prompt, help);
    item.logical_value = value;
    return item;
  };
  std::vector<GsFormItem> items;
  items.push_back(integer("X-PIXELS", "FIRST DIMENSION OF FILE IMAGE",
                          "Enter number of pixels \"horizontally\" in image", 999999, nx));
  items.push_back(integer("Y-PIXELS", "SECOND DIMENSION OF FILE IMAGE",
                          "Enter number of pixels \"vertically\" in image", 999999, ny));
  GsFormItem type = fio_form_item("DATA TYPE", 6, "DATA TYPE OF PIXEL VALUES",
                                  "Choice type of data stored for pixelvalues");
  type.string_value = data_type;
  items.push_back(type);
  items.push_back(yes_no("SIGNED", "SIGNED OR UNSIGNED (INTEGERS)",
                         "Enter \"YES\" for signed values (integers only)", is_signed));
  items.push_back(yes_no("BYTE SWAP", "SWAP BYTES ON INPUT (INTEGERS)",
                         "Enter \"YES\" to swap bytes on input (integers only)", swap));
  items.push_back(integer("STARTING BYTE", "BYTE NUMBER FOR START OF BINARY DATA",
                          "Enter byte number for start of binary data (numbering from 1",
                          2147483647, start));
  int code = 0;
  GS_FORM(2, 2, {"TYPE AND SIZE OF FILE DATA", "(need to specify image size)"}, 8, 8, kHelp,
          static_cast<int>(items.size()) + 5, items, code, status);
  if (status != kStatusGood) return;
  if (code != 0) {
    status = kStatusEscape;
    return;
  }
  nx = items[0].int_value;
  ny = items[1].int_value;
  data_type = items[2].string_value;
  is_signed = items[3].logical_value;
  swap = items[4].logical_value;
  start = items[5].int_value;
}

ImageRead binary_gui_read(const ReadRequest& request, std::string& file_name, Status& status) {
  RawLayout layout = remembered_layout(request, status);
  std::string path;
  if (!input_path(file_name, path, status)) return {};
  std::optional<float> xps, yps;
  // The ".info" file gives the form's sizes, sign and byte order.
  info_defaults(path, layout, xps, yps, status);
  FIO_GUI_IN_DATA(request.xmaxdat, request.ymaxdat, layout.nx, layout.ny, layout.data_type,
                  layout.is_signed, layout.swap, layout.start_byte, status);
  if (status == kStatusEscape) {
    st_reset(status);
    ImageRead escaped;
    escaped.retstat = -1;
    return escaped;
  }
  if (status != kStatusGood) return {};
  store_layout(layout, status);
  warn_internal_dimensions(layout.nx, layout.ny, request, status);
  GS_FPROMPT(1, 1, {"INPUTTING DATA FROM FILE"}, status);
  GS_UPDATE(status);
  return read_described(path, request, layout, file_name, xps, yps, status);
}

std::optional<RawLayout> binary_answers() { return fio_binary_state.answered; }

ImageRead binary_member_read(const ReadRequest& request, const std::optional<RawLayout>& answers,
                             std::string& file_name, Status& status) {
  const RawLayout layout = answers ? *answers : remembered_layout(request, status);
  std::string path;
  if (!input_path(file_name, path, status)) return {};
  // A member without a ".info" file of its own is read with the first
  // member's layout, quietly; from its own, only the pixel sizes are taken,
  // and an image size other than the first member's refuses it.
  std::optional<float> xps, yps;
  struct stat info{};
  if (::stat((path + ".info").c_str(), &info) != 0 && errno == ENOENT) {
    warn_internal_dimensions(layout.nx, layout.ny, request, status);
    return read_described(path, request, layout, file_name, xps, yps, status);
  }
  RawLayout own = layout;
  info_defaults(path, own, xps, yps, status);
  if (own.nx != layout.nx || own.ny != layout.ny) {
    IO_WRITE("WARNING: File not the size of the first file: " + file_name, status);
    ImageRead refused;
    refused.retstat = 6;
    return refused;
  }
  warn_internal_dimensions(layout.nx, layout.ny, request, status);
  return read_described(path, request, layout, file_name, xps, yps, status);
}

void FIO_IN_BINARY(bool gui, bool ask, const ImageTarget& target, std::string& file_name,
                   int& retstat, float& overload_value, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_BINARY V0.10";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (target_refused(target, kBaseFormats, kPosition, status)) return;
  const ReadRequest request{target.xmaxdat, target.ymaxdat, false};
  ImageRead read;
  if (ask && gui) {
    read = binary_gui_read(request, file_name, status);
  } else if (ask) {
    read = binary_keyboard_read(request, file_name, status);
  } else {
    std::string path;
    if (input_path(file_name, path, status))
      read = read_binary_file(path, request, remembered_layout(request, status), status);
  }
  retstat = read.retstat;
  if (!read.ok() || status != kStatusGood) return;
  overload_value = read.image.overload.value_or(overload_value);
  commit_image(read.image, target);
}

}  // namespace kesta
