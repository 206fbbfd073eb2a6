#include "formats/scan_formats.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/format_menus.hpp"
#include "formats/reader_support.hpp"
#include "formats/text_files.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

namespace {

constexpr int kPdsInputUnit = 27;
constexpr double kDegreesPerRadian = 180.0 / 3.1415925;

struct ScanState {
  OneDChoice gsas, cif, cam;
  std::string gsas_file, cif_file, cam_file = "cerius.3cam", spread_file = "spread.spr",
                                    mca_file = "mca.dat", pds_file = "scan.pds";
  bool spread_output = true;
  float mca_scale = 1.0f;
};
ScanState fio_scan_state;

// Lines built for a file, with a note of any field too narrow for its value.
class FixedText {
 public:
  // Appends FIELD; a field of asterisks marks the text as refused.
  FixedText& operator<<(const std::string& field) {
    if (field.find('*') != std::string::npos) too_wide_ = true;
    line_ += field;
    return *this;
  }
  // Appends FIELD, made of a data value VALUE at the place WHERE() names
  // ("point 3"): the first such value too wide for its field is kept to be
  // named.
  template <typename Where>
  FixedText& value(const std::string& field, double value, Where where) {
    if (field.find('*') != std::string::npos && overflows_++ == 0)
      first_overflow_ = IO_RTOC(static_cast<float>(value)) + " at " + where();
    return *this << field;
  }
  FixedText& text(std::string_view t) {
    line_ += t;
    return *this;
  }
  // Ends the line (padded to RECORD characters without a line end when
  // RECORD > 0).
  void end(std::size_t record = 0) {
    if (record > 0) {
      line_.resize(record, ' ');
      all_ += line_;
    } else {
      all_ += line_ + "\n";
    }
    line_.clear();
  }
  bool too_wide() const { return too_wide_; }
  // The data values too wide for their fields, and the first of them with
  // its place ("1.2345678E+07 at point 3").
  Index overflows() const { return overflows_; }
  const std::string& first_overflow() const { return first_overflow_; }
  const std::string& all() const { return all_; }

 private:
  std::string line_, all_;
  bool too_wide_ = false;
  Index overflows_ = 0;
  std::string first_overflow_;
};

// Writes TEXT to OUT unless a field was too wide; false after a message,
// which names the first data value too wide and how many there are, or
// after a failed write (a bad STATUS at the writer's POSITION).
bool write_checked(AtomicFile& out, const FixedText& text, std::string_view position,
                   Status& status) {
  if (text.too_wide()) {
    const Index n = text.overflows();
    std::string line = n > 1 ? "WARNING: " + format_i(n, 0) +
                                   " values are too large for their fields in " + out.path() +
                                   " (the first " + text.first_overflow() + ")"
                             : "WARNING: A value is too large for its field in " + out.path();
    if (n == 1) line += " (" + text.first_overflow() + ")";
    IO_WRITE(line + "; nothing has been written", status);
    return false;
  }
  out.write(text.all());
  return fio_commit_output(out, position, status);
}

// NINT as a 64-bit integer; false beyond the 64-bit range (or NaN).
bool nearest_integer(double v, std::int64_t& n) {
  const double r = std::round(v);
  if (!(std::fabs(r) < 9.2e18)) return false;
  n = static_cast<std::int64_t>(r);
  return true;
}

std::string integer_field(double v, int width) {
  // A masked (NaN) or overflowed value is written as the program writes
  // every value that is not finite, so that it reads back as it was.
  if (!std::isfinite(v)) return format_f(v, width, 0);
  std::int64_t n = 0;
  return nearest_integer(v, n) ? format_i(n, width) : std::string(static_cast<std::size_t>(width), '*');
}

bool arrays_ok(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, std::size_t xaxis, std::size_t yaxis, std::size_t data,
               std::string_view position, Status& status) {
  Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                                kBaseFormats);
  if (e == 0 &&
      (xaxis < static_cast<std::size_t>(xmaxdat) || yaxis < static_cast<std::size_t>(ymaxdat)))
    e = kBaseFormats + 1;
  if (e != 0) st_fail(status, e, position);
  return e == 0;
}

double step_of(const Scan& s) {
  const std::size_t n = s.x.size();
  return n > 1 ? (static_cast<double>(s.x[n - 1]) - s.x[0]) / static_cast<double>(n - 1) : 0.0;
}

// Fw.d of VALUE with the fewest decimals from 3 that reads back within
// TOLERANCE and fits the field; the closest that fits when none is that close.
std::string close_field(double value, int width, double tolerance) {
  std::string best;
  double best_error = std::numeric_limits<double>::infinity();
  for (int d = 3; d <= width - 2; ++d) {
    const std::string f = format_f(value, width, d);
    double back = 0.0;
    if (f.find('*') != std::string::npos || !read_real_field(f, back)) continue;
    const double error = std::fabs(back - value);
    if (error <= tolerance) return f;
    if (error < best_error) {
      best_error = error;
      best = f;
    }
  }
  return best.empty() ? format_f(value, width, 3) : best;
}

}  // namespace

void fio_reset_scan_formats() { fio_scan_state = ScanState{}; }

void FIO_OUT_GSAS(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                  Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<const float> data, std::span<const float> variances,
                  std::string_view title, std::string_view xlabel, std::string_view ylabel,
                  std::string_view zlabel, bool variances_exist, std::string& file_name,
                  int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_GSAS V0.8";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (!arrays_ok(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis.size(),
                 yaxis.size(), data.size(), kPosition, status))
    return;
  (void)variances, (void)xlabel, (void)ylabel, (void)zlabel, (void)variances_exist;
  auto& s = fio_scan_state;
  // A file series names each file itself.
  std::string& name = gui && name_chosen ? file_name : s.gsas_file;
  std::unique_ptr<AtomicFile> out;
  if (gui) {
    out = fio_gui_text_output(input_file, name_chosen, ".gsas", "scan.gsas", name, s.gsas,
                              xstrelm, ystrelm, xendelm, yendelm, status);
    if (!out) return;
  } else {
    IO_OUTFILE(0, input_file, ".gsas", "scan.gsas", s.gsas_file, status);
    io_input_file_name(true, "OUTPUT FILE NAME", {"Name of file to contain scan for GSAS"},
                       {"Unacceptable input"}, 11, s.gsas_file, status);
    if (status != kStatusGood) return;
    std::string path;
    int trans = 0;
    IO_TRANS_PATH(s.gsas_file, trans, path, status);
    if (status != kStatusGood) return;
    if (trans != 0) {
      IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
      return;
    }
    out = std::make_unique<AtomicFile>(path);
    if (!out->ok()) {
      report_output_open_failure(*out, status);
      return;
    }
    fio_ask_row_or_column(s.gsas, xstrelm, ystrelm, xendelm, yendelm, status);
    if (status != kStatusGood) return;
  }
  const Scan scan = fio_scan(s.gsas, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis,
                             data, {});
  const auto n = static_cast<Index>(scan.x.size());
  const Index records = (n + 9) / 10;
  FixedText t;
  t.text(used_text(title).substr(0, 80)).end(80);
  t.text("BANK") << format_i(1, 5) << format_i(n, 5) << format_i(records, 5);
  t.text(" CONST") << format_f(scan.x[0] * 100.0, 10, 5) << format_f(step_of(scan) * 100.0, 10, 5)
                   << format_f(0.0, 10, 5) << format_f(0.0, 10, 5);
  t.text(" STD").end(80);
  const auto field = [](float v) { return format_f(v, 6, 0); };
  for (Index i = 0; i < n; ++i) {
    const float v = scan.y[static_cast<std::size_t>(i)];
    t << format_i(1, 2);
    t.value(field(v), v, [i] { return "point " + format_i(i + 1, 0); });
    if (i % 10 == 9 || i == n - 1) t.end(80);
  }
  if (!write_checked(*out, t, kPosition, status)) {
    retstat = 2;
    return;
  }
  fio_say_non_finite(scan.y, field, status);
  file_name = name;
  retstat = 0;
}

void FIO_OUT_POWDERCIF(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                       Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                       std::span<const float> xaxis, std::span<const float> yaxis,
                       std::span<const float> data, std::span<const float> variances,
                       std::string_view title, std::string_view xlabel, std::string_view ylabel,
                       std::string_view zlabel, bool variances_exist, std::string& file_name,
                       int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_POWDERCIF V0.3";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (!arrays_ok(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis.size(),
                 yaxis.size(), data.size(), kPosition, status))
    return;
  (void)variances, (void)title, (void)xlabel, (void)ylabel, (void)zlabel, (void)variances_exist;
  auto& s = fio_scan_state;
  // A file series names each file itself.
  std::string& name = gui && name_chosen ? file_name : s.cif_file;
  const auto out = fio_1d_output(gui, input_file, name_chosen, ".cif", "powder.cif", name, s.cif,
                                 xstrelm, ystrelm, xendelm, yendelm, status);
  if (!out) return;
  const Scan scan =
      fio_scan(s.cif, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, data, {});
  std::string base;
  IO_BASENAME(input_file, base, status);
  FixedText t;
  t.text("# Powder CIF file created by KESTA").end();
  t.end();
  t.text("data_" + base).end();
  t.end();
  t.text("_audit_creation_method \"From 2-D detector using KESTA\"").end();
  t.end();
  float wavelength = 0.0f;
  int found = 0;
  IO_INQ_RKEYVALUE("WAVELENGTH", wavelength, found, status);
  if (found == 0)
    t.text("_diffrn_radiation_wavelength ") << format_f(wavelength * 1.0e10, 10, 6);
  else
    t.text("_diffrn_radiation_wavelength  ?");
  t.end();
  t.end();
  t.text("# Scan information").end();
  t.text("_pd_meas_scan_method  fixed ").end();
  t.text("_pd_meas_2theta_range_min ") << format_f(scan.x.front(), 11, 6);
  t.end();
  t.text("_pd_meas_2theta_range_max ") << format_f(scan.x.back(), 11, 6);
  t.end();
  t.text("_pd_meas_2theta_range_inc ") << format_f(step_of(scan), 11, 6);
  t.end();
  t.end();
  t.text("# 2-Theta Scan Data").end();
  t.text("loop_").end();
  t.text("  _pd_meas_intensity_total").end();
  const auto field = [](float v) { return format_e(v, 14, 7, 1); };
  for (float v : scan.y) {
    t.text("   ") << field(v);
    t.end();
  }
  t.text("_pd_meas_number_of_points") << format_i(static_cast<std::int64_t>(scan.y.size()), 7);
  t.end();
  t.end();
  t.text("#--eof--eof--eof--eof--eof--eof--eof--eof--eof--eof--eof--eof--eof--eof--eof--#").end();
  if (!write_checked(*out, t, kPosition, status)) return;
  fio_say_non_finite(scan.y, field, status);
  fio_advance(s.cif);
  file_name = name;
  retstat = 0;
}

void FIO_OUT_3CAM(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                  std::span<const float> data, std::string_view title, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_3CAM V0.2";
  if (st_bad(status, kPosition)) return;
  if (!arrays_ok(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis.size(),
                 yaxis.size(), data.size(), kPosition, status))
    return;
  auto& s = fio_scan_state;
  const auto out =
      fio_ask_1d_output(s.cam_file, s.cam, xstrelm, ystrelm, xendelm, yendelm, status);
  if (!out) return;
  const Scan scan =
      fio_scan(s.cam, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, data, {});
  FixedText t;
  t.text(used_text(title)).end();
  t.end();
  t << format_g(scan.x.front(), 15, 8) << format_g(scan.x.back(), 15, 8)
    << format_g(step_of(scan), 15, 8);
  t.end();
  const auto field = [](float v) { return integer_field(v, 12); };
  for (std::size_t i = 0; i < scan.y.size(); ++i) {
    t.value(field(scan.y[i]), scan.y[i],
            [i] { return "point " + format_i(static_cast<Index>(i) + 1, 0); });
    t.end();
  }
  if (!write_checked(*out, t, kPosition, status)) return;
  fio_say_non_finite(scan.y, field, status);
  fio_advance(s.cam);
}

void FIO_OUT_SPREAD(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                    Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                    std::span<const float> data, std::string& file_name, int& retstat,
                    Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_SPREAD V0.3";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  auto& s = fio_scan_state;
  const Index width = xendelm - xstrelm + 1, height = yendelm - ystrelm + 1;
  // A file series names each file itself.
  std::string& name = gui && name_chosen ? file_name : s.spread_file;
  std::unique_ptr<AtomicFile> out;
  if (gui) {
    if (!name_chosen) {
      GS_INPL(false, false, true, true, "OUTPUT FILE",
              {"\"YES\" to output data, \"NO\" to quit option"}, {"Enter \"YES\" or \"NO\""},
              s.spread_output, status);
      if (status == kStatusEscape) st_reset(status);
      if (status != kStatusGood || !s.spread_output) return;
      IO_OUTFILE(0, input_file, ".spr", "spread.spr", s.spread_file, status);
      fio_warn_replacing_input(s.spread_file, input_file, "O.K.", status);
      int cancelled = 0;
      GS_FILESELECTION(2, 2, {"SELECT OUTPUT FILE FOR ASCII", "SPREAD SHEET FORMAT"}, 2, 2,
                       {"Use the file selection tool to select a directory",
                        "and an output file to contain the data, storage in"},
                       3, false, cancelled, s.spread_file, status);
      if (status != kStatusGood || cancelled != 0) return;
    }
    out = fio_open_text_output(name, status);
    if (!out) return;
  } else {
    IO_WRITE("INFO: The ASCII file created will be of size " +
                 format_i(height * 13 * width + 50, 12) + " bytes",
             status);
    IO_WRITE("      (Much more size efficient output options are available.)", status);
    IO_INPL(false, false, true, true, "OUTPUT FILE",
            {"\"YES\" to output data, \"NO\" to quit option"}, {"Enter \"YES\" or \"NO\""},
            s.spread_output, status);
    if (status != kStatusGood || !s.spread_output) return;
    out = fio_ask_text_output(s.spread_file, status);
    if (!out) return;
  }
  FixedText t;
  t << format_i(width, 8) << format_i(height, 8);
  t.text(" Start pixel = (") << format_i(xstrelm, 8) << format_i(ystrelm, 8);
  t.text(")").end();
  const auto field = [](float v) { return format_e(v, 12, 5, 1); };
  for (Index y = ystrelm; y <= yendelm; ++y) {
    for (Index x = xstrelm; x <= xendelm; ++x) {
      if (x > xstrelm) t.text(" ");
      t << field(data[static_cast<std::size_t>(element(x, y, xmaxdat))]);
    }
    t.end();
  }
  if (!write_checked(*out, t, kPosition, status)) return;
  fio_say_non_finite(non_finite_pixels(data, xmaxdat, xstrelm, ystrelm, xendelm, yendelm), "pixel",
                     field, status);
  file_name = name;
  retstat = 0;
}

void FIO_OUT_MCA(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_MCA V0.2";
  if (st_bad(status, kPosition)) return;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  auto& s = fio_scan_state;
  auto out = fio_ask_text_output(s.mca_file, status);
  if (!out) return;
  float minimum = 0.0f, maximum = 0.0f;
  IO_RMINMAX(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, minimum, maximum, status);
  IO_WRITE("INFO: Minimum data value = " + format_g(minimum, 12, 5), status);
  IO_WRITE("INFO: Maximum data value = " + format_g(maximum, 12, 5), status);
  // A constant of 0 divides nothing: asked for again.
  if (!io_ask_until_accepted(
          s.mca_scale,
          [](float& scale, Status& st) {
            IO_INPR(false, 0.0f, 0.0f, true, "SCALING (DIVISION) CONSTANT",
                    {"Enter scaling value by which all data values will be divided"},
                    {"Enter real number"}, scale, st);
          },
          [](float scale) { return scale != 0.0f; },
          [](Status& st) { IO_WRITE("WARNING: The scaling constant must not be 0", st); }, status))
    return;
  FixedText t;
  int on_line = 0;
  const auto field = [](float v) { return format_f(v, 10, 3); };
  // Counted as written: a division can make a value infinite, or an
  // infinity change its sign.
  NonFinitePixels non_finite;
  for (Index y = ystrelm; y <= yendelm; ++y)
    for (Index x = xstrelm; x <= xendelm; ++x) {
      const float v = data[static_cast<std::size_t>(element(x, y, xmaxdat))] / s.mca_scale;
      non_finite.nan += std::isnan(v) ? 1 : 0;
      non_finite.plus += v == std::numeric_limits<float>::infinity() ? 1 : 0;
      non_finite.minus += v == -std::numeric_limits<float>::infinity() ? 1 : 0;
      t.value(field(v), v,
              [x, y] { return "pixel (" + format_i(x, 0) + ", " + format_i(y, 0) + ")"; });
      if (++on_line == 8) {
        t.end();
        on_line = 0;
      }
    }
  if (on_line > 0) t.end();
  if (write_checked(*out, t, kPosition, status))
    fio_say_non_finite(non_finite, "pixel", field, status);
}

void FIO_OUT_PDS(float factor, std::string_view title, float start, float step, Index maxdat,
                 Index n, std::span<const float> intensity, std::span<const float> second,
                 Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_PDS V0.3";
  if (st_bad(status, kPosition)) return;
  if (maxdat < 1 || intensity.size() < static_cast<std::size_t>(maxdat) ||
      second.size() < static_cast<std::size_t>(maxdat)) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  if (n < 1 || n > maxdat) {
    st_fail(status, kBaseFormats + 5, kPosition);
    return;
  }
  auto& s = fio_scan_state;
  auto out = fio_ask_text_output(s.pds_file, status);
  if (!out) return;
  const double first = start * kDegreesPerRadian, delta = step * kDegreesPerRadian;
  const double end = first + static_cast<double>(n - 1) * delta;
  const double tolerance = 0.01 * std::fabs(delta);
  FixedText t;
  t.text(used_text(title)).end();
  t.text("   Start     Step      End     Monitor").end();
  t << close_field(first, 9, tolerance) << close_field(delta, 9, tolerance)
    << close_field(end, 9, tolerance);
  t.text("        1.0").end();
  const double divisor = static_cast<double>(factor) * 100.0;
  for (Index block = 0; block < n; block += 10) {
    for (Index i = block; i < block + 10; ++i)
      t << format_f(i < n ? second[static_cast<std::size_t>(i)] / divisor : 0.0, 8, 4);
    t.end();
    for (Index i = block; i < block + 10; ++i) {
      if (i >= n) {
        t << format_i(0, 8);
        continue;
      }
      const float v = intensity[static_cast<std::size_t>(i)];
      t.value(integer_field(v * 100.0, 8), v, [i] { return "point " + format_i(i + 1, 0); });
    }
    t.end();
  }
  t.text("   -1000").end();
  t.text("  -10000").end();
  write_checked(*out, t, kPosition, status);
}

void FIO_IN_PDS(bool name_given, Index maxdat, bool& variances_exist, std::string& file_name,
                int& retstat, Index& numdat, std::span<float> xaxis, std::span<float> data,
                std::string& title, std::string& xlabel, std::string& zlabel,
                float& x_pixel_size, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_PDS V0.2";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (maxdat < 1 || xaxis.size() < static_cast<std::size_t>(maxdat) ||
      data.size() < static_cast<std::size_t>(maxdat)) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  int open = 1;
  IO_OPEN_ASCIIFILE(!name_given, "READ", kPdsInputUnit, file_name, open, status);
  if (status != kStatusGood || open != 0) return;
  std::FILE* in = io_stream(kPdsInputUnit);
  struct Closer {
    ~Closer() { io_close_stream(kPdsInputUnit); }
  } closer;
  std::string first_line, line;
  FioLineReader text(in, file_name, maxdat);
  const bool head = text.next(first_line, status) && text.next(line, status) &&
                    text.next(line, status);
  if (text.refused()) return;
  const auto tokens = head ? fio_tokens(line) : std::vector<std::string>{};
  if (tokens.size() < 3) {
    IO_WRITE("Error reading in the number of data points", status);
    return;
  }
  float start = 0.0f, step = 0.0f, end = 0.0f;
  if (!fio_to_real(tokens[0], start)) {
    IO_WRITE("Error with start angle", status);
    return;
  }
  if (!fio_to_real(tokens[1], step)) {
    IO_WRITE("Error with step angle", status);
    return;
  }
  if (!fio_to_real(tokens[2], end)) {
    IO_WRITE("Error with end angle", status);
    return;
  }
  std::int64_t n = 0;
  if (step == 0.0f || !nearest_integer((static_cast<double>(end) - start) / step, n) ||
      n + 1 < 1) {
    IO_WRITE("WARNING: The start, step and end angles of " + file_name +
                 " give no data points; nothing has been input",
             status);
    return;
  }
  ++n;
  if (n > maxdat) {
    IO_WRITE("WARNING: Too many coordinates, the end ones will not be input", status);
    n = maxdat;
  }
  std::vector<float> values;
  bool ok = true;
  while (ok && static_cast<std::int64_t>(values.size()) < n) {
    ok = text.next(line, status) && text.next(line, status);
    for (std::size_t f = 0; ok && f < 10 && static_cast<std::int64_t>(values.size()) < n; ++f) {
      const std::string field = f * 8 < line.size() ? line.substr(f * 8, 8) : std::string();
      double v = 0.0;
      const auto tokens = fio_tokens(field);
      float non_finite = 0.0f;
      if (tokens.size() != 1) {
        ok = false;
      } else if (read_real_field(field, v)) {
        values.push_back(static_cast<float>(v));
      } else {
        // "NaN" and the infinities, as the writer writes a masked bin.
        ok = fio_to_real(tokens[0], non_finite) && !std::isfinite(non_finite);
        if (ok) values.push_back(non_finite);
      }
    }
  }
  if (text.refused()) return;
  if (static_cast<std::int64_t>(values.size()) < n)
    IO_WRITE("WARNING: Only " + format_i(static_cast<std::int64_t>(values.size()), 4) +
                 " X/Y coordinates have been found",
             status);
  if (values.empty()) return;
  std::copy(values.begin(), values.end(), data.begin());
  for (std::size_t i = 0; i < values.size(); ++i)
    xaxis[i] = static_cast<float>(start + static_cast<double>(i) * step);
  numdat = static_cast<Index>(values.size());
  title = first_line;
  xlabel = "2 Theta Angle (degrees)";
  zlabel = "Intensity";
  x_pixel_size = step;
  variances_exist = false;
  retstat = 0;
}

void FIO_IN_USER(Index xmaxdat, Index ymaxdat, Index& xnumdat, Index& ynumdat,
                 std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                 std::string& title, std::string& xlabel, std::string& ylabel,
                 std::string& zlabel, int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_USER V0.4";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = dimension_error(xmaxdat, ymaxdat, kBaseFormats); e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  if (data.size() < static_cast<std::size_t>(xmaxdat) ||
      xaxis.size() < static_cast<std::size_t>(xmaxdat) || yaxis.empty()) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  IO_WRITE(" ", status);
  IO_WRITE("INFO: Continue entering numbers as required, then use \"USER ESCAPE\"", status);
  IO_WRITE("INFO: \"USER ESCAPE\" is double backslash: \\\\", status);
  std::vector<float> values;
  while (static_cast<Index>(values.size()) < xmaxdat) {
    float v = 0.0f;
    IO_INPR(false, 0.0f, 0.0f, false, "ENTER DATA VALUE",
            {"Enter numbers as required for the data. To finish entering",
             "numbers use \"USER ESCAPE\". User escape is now double", "backslash (\\\\)"},
            {"Enter valid real value, or \"USER ESCAPE\""}, v, status);
    if (status == kStatusEscape) {
      st_reset(status);
      break;
    }
    if (status != kStatusGood) return;
    values.push_back(v);
  }
  IO_WRITE(" ", status);
  if (values.empty()) return;
  const int count = static_cast<int>(values.size());
  int change = 0;
  for (;;) {
    IO_INPI(true, 0, count, true, "DATA VALUE TO CHANGE (O = quit)",
            {"Enter number of data point to change"}, {"Enter valid integer in given range"},
            change, status);
    if (status != kStatusGood) return;
    if (change == 0) break;
    IO_INPR(false, 0.0f, 0.0f, true, "ENTER NEW DATA VALUE",
            {"Input intensity value for data point"}, {"Enter valid real value"},
            values[static_cast<std::size_t>(change - 1)], status);
    if (status != kStatusGood) return;
    change = change % count + 1;
  }
  std::copy(values.begin(), values.end(), data.begin());
  for (int i = 0; i < count; ++i) xaxis[static_cast<std::size_t>(i)] = i + 0.5f;
  yaxis[0] = 1.0f;
  xnumdat = count;
  ynumdat = 1;
  title = "User Entered Data";
  xlabel = "Arbitrary";
  ylabel = "Undefined";
  zlabel = "Intensity";
  retstat = 0;
}

}  // namespace kesta

namespace kesta {

ImageRead pds_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  ImageRead result;
  ScratchImage& image = result.image;
  if (!scratch_allocate(request, false, file_name, image, status)) return result;
  const AxisBuffer x(request.xmaxdat);
  std::string title, xlabel, zlabel;
  float step = 0.0f;
  Index n = 0;
  bool variances = false;
  int retstat = 1;
  FIO_IN_PDS(false, request.xmaxdat, variances, file_name, retstat, n, x.values(), image.pixels(),
             title, xlabel, zlabel, step, status);
  if (retstat != 0 || status != kStatusGood) return result;
  image.xaxis = x.first(n);
  image.xnumdat = n;
  image.ynumdat = 1;
  image.title = title;
  image.xlabel = xlabel;
  image.zlabel = zlabel;
  // The scan's own X step (no detector pixel size: a scan's sizes are not
  // stored).
  image.x_pixel_size = step;
  result.retstat = 0;
  return result;
}

ImageRead user_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  ImageRead result;
  ScratchImage& image = result.image;
  if (!scratch_allocate(request, request.variances, file_name, image, status)) return result;
  const AxisBuffer x(request.xmaxdat);
  std::vector<float> y(1);
  std::string title, xlabel, ylabel, zlabel;
  int retstat = 1;
  FIO_IN_USER(request.xmaxdat, request.ymaxdat, image.xnumdat, image.ynumdat, x.values(), y,
              image.pixels(), title, xlabel, ylabel, zlabel, retstat, status);
  if (retstat != 0 || status != kStatusGood) return result;
  image.xaxis = x.first(image.xnumdat);
  image.yaxis = std::move(y);
  variances_from_data(image);
  image.title = title;
  image.xlabel = xlabel;
  image.ylabel = ylabel;
  image.zlabel = zlabel;
  result.retstat = 0;
  return result;
}

}  // namespace kesta
