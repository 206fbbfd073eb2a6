// The spline file writer and reader.

#include "app/distortion/spline_file.hpp"

#include <cerrno>
#include <cstdint>
#include <optional>

#include "app/distortion/text_file.hpp"
#include "core/atomic_file.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {
namespace {

constexpr std::string_view kTitle = "SPATIAL DISTORTION SPLINE INTERPOLATION COEFFICIENTS";
constexpr std::string_view kIdealTitle =
    "DISTORTION FUNCTION FROM IDEAL TO DISTORTED GRID, MEASURED ON IDEAL";
constexpr std::size_t kField = 14;
constexpr std::size_t kPerLine = 5;

// The writer's file name, kept for the run.
std::string output_file_name = "spatial.spline";

std::string e14(float value) { return format_e(value, 14, 7); }

void append_values(std::string& text, const std::vector<float>& values, Index count) {
  for (Index i = 0; i < count; ++i) {
    text += e14(values[static_cast<std::size_t>(i)]);
    if ((i + 1) % static_cast<Index>(kPerLine) == 0 || i + 1 == count) text += '\n';
  }
}

void append_function(std::string& text, std::string_view title, const SplineFunction& f) {
  text += "\n";
  text += title;
  text += "\n" + format_i(f.xnumknots, 6) + format_i(f.ynumknots, 6) + "\n";
  append_values(text, f.lambda, f.xnumknots);
  append_values(text, f.mu, f.ynumknots);
  append_values(text, f.coeffs, f.num_coeffs());
}

// Reads the file line by line and takes its values apart; the first fault
// ends the reading.
class SplineReader {
 public:
  SplineReader(TextFileLines& lines, std::string_view file) : lines_(lines), file_(file) {}

  int retstat = 0;
  bool conversion_failed = false;

  bool failed() const { return retstat != 0 || conversion_failed; }

  // Values of one line (COUNT fields of FORMAT width).
  bool reals(std::size_t count, float* values) {
    std::string line;
    if (!next(line)) return false;
    for (std::size_t i = 0; i < count; ++i)
      if (!real_field(line, i, values[i])) return false;
    return true;
  }

  bool counts(Index& nx, Index& ny) {
    std::string line;
    if (!next(line)) return false;
    std::int64_t a = 0, b = 0;
    if (!read_integer_field(field(line, 0, 6), a) || !read_integer_field(field(line, 1, 6), b))
      return convert_fault();
    nx = a;
    ny = b;
    return true;
  }

  // COUNT values, five a line, starting on a new line.
  bool list(Index count, std::vector<float>& values) {
    values.assign(static_cast<std::size_t>(count), 0.0f);
    std::string line;
    for (Index i = 0; i < count; ++i) {
      const std::size_t column = static_cast<std::size_t>(i) % kPerLine;
      if (column == 0 && !next(line)) return false;
      if (!real_field(line, column, values[static_cast<std::size_t>(i)])) return false;
    }
    return true;
  }

  // Skips the blank line and the section title before a value line.
  bool skip(int count) {
    std::string line;
    for (int i = 0; i < count; ++i)
      if (!next(line)) return false;
    return true;
  }

  bool next(std::string& line) {
    if (lines_.next(line)) return true;
    refuse(3, "the file ends early");
    return false;
  }

  bool refuse(int code, std::string_view fault) {
    retstat = code;
    Status local = kStatusGood;
    IO_WRITE("WARNING: Spline file \"" + std::string(file_) + "\" refused: " + std::string(fault),
             local);
    return false;
  }

 private:
  static std::string_view field(const std::string& line, std::size_t index, std::size_t width) {
    const std::size_t start = index * width;
    if (start >= line.size()) return {};
    return std::string_view(line).substr(start, width);
  }

  bool real_field(const std::string& line, std::size_t index, float& value) {
    if (!read_real_field(field(line, index, kField), value, 7)) return convert_fault();
    return true;
  }

  bool convert_fault() {
    conversion_failed = true;
    Status local = kStatusGood;
    IO_WRITE("WARNING: Spline file \"" + std::string(file_) +
                 "\" refused: a value cannot be read at line " + std::to_string(lines_.number()),
             local);
    return false;
  }

  TextFileLines& lines_;
  std::string_view file_;
};

bool read_function(SplineReader& in, Index xmaxknots, Index ymaxknots, SplineFunction& f) {
  if (!in.skip(2) || !in.counts(f.xnumknots, f.ynumknots)) return false;
  if (f.xnumknots < 8 || f.xnumknots > xmaxknots || f.ynumknots < 8 || f.ynumknots > ymaxknots)
    return in.refuse(1, "knot counts " + std::to_string(f.xnumknots) + ", " +
                            std::to_string(f.ynumknots) + " outside 8 to " +
                            std::to_string(xmaxknots) + ", " + std::to_string(ymaxknots));
  if (!in.list(f.xnumknots, f.lambda) || !in.list(f.ynumknots, f.mu) ||
      !in.list(f.num_coeffs(), f.coeffs))
    return false;
  for (const std::vector<float>* knots : {&f.lambda, &f.mu})
    for (std::size_t i = 1; i < knots->size(); ++i)
      if (!((*knots)[i] >= (*knots)[i - 1])) return in.refuse(2, "knots out of order");
  return true;
}

}  // namespace

void KZT_OUT_SPATIAL(const SplineSet& set, Index xmaxknots, Index ymaxknots, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_OUT_SPATIAL V0.8 ";
  if (st_bad(status, kPosition)) return;
  if (xmaxknots < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (ymaxknots < 1) return st_fail(status, kBaseApp + 2, kPosition);
  for (const SplineFunction* f : {&set.x, &set.y}) {
    if (f->xnumknots < 1 || f->xnumknots > xmaxknots ||
        static_cast<Index>(f->lambda.size()) < f->xnumknots)
      return st_fail(status, kBaseApp + 5, kPosition);
    if (f->ynumknots < 1 || f->ynumknots > ymaxknots ||
        static_cast<Index>(f->mu.size()) < f->ynumknots ||
        static_cast<Index>(f->coeffs.size()) < f->num_coeffs())
      return st_fail(status, kBaseApp + 6, kPosition);
  }
  IO_WRITE("Name of file for spatial distortion interpolation function", status);
  std::optional<AtomicFile> out;
  if (!open_output_text(output_file_name, out, status)) return;

  std::string text;
  if (!set.distorted_space) text += std::string(kIdealTitle) + "\n";
  text += std::string(kTitle) + "\n\n  VALID REGION\n";
  text += e14(set.x_minimum) + e14(set.y_minimum) + e14(set.x_maximum) + e14(set.y_maximum) + "\n";
  text += "\n  GRID SPACING, X-PIXEL SIZE, Y-PIXEL SIZE\n";
  text += e14(set.grid_spacing) + e14(set.x_pixel_size * 1.0e6f) + e14(set.y_pixel_size * 1.0e6f) +
          "\n";
  append_function(text, "  X-DISTORTION", set.x);
  append_function(text, "  Y-DISTORTION", set.y);
  errno = 0;
  if (!out->write(text) || !out->commit()) {
    const int code = errno;
    IO_WRITE("WARNING: Problem outputting spatial distortion file (quota full ?)", status);
    IO_WRITE("         System dependent error code = " + format_i(code, 6), status);
    report_output_write_failure(*out, kPosition, status);
  }
}

void KZT_IN_SPATIAL(bool name_given, Index xmaxknots, Index ymaxknots, std::string& file_name,
                    int& retstat, SplineSet& set, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_IN_SPATIAL V0.10";
  if (st_bad(status, kPosition)) return;
  if (xmaxknots < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (ymaxknots < 1) return st_fail(status, kBaseApp + 2, kPosition);
  retstat = 0;
  if (!name_given) IO_WRITE("Name of file for spatial distortion interpolation function", status);
  TextFileLines lines;
  if (!lines.open(!name_given, file_name, status)) {
    retstat = 3;
    return;
  }
  SplineReader in(lines, file_name);
  std::string line;
  if (!in.next(line)) {
    retstat = in.retstat;
    return;
  }
  if (line.substr(0, 25) != "SPATIAL DISTORTION SPLINE") {
    if (line.substr(0, 30) == "DISTORTION FUNCTION FROM IDEAL") {
      IO_WRITE("WARNING: File is wrong sort of distortion spline function", status);
      IO_WRITE("         (ideal grid to distorted grid spline)", status);
    } else {
      IO_WRITE("WARNING: File is not a distortion spline function file", status);
    }
    retstat = 2;
    return;
  }
  SplineSet fresh = set;
  float region[4] = {};
  float sizes[3] = {};
  const bool read = in.skip(2) && in.reals(4, region) && in.skip(2) && in.reals(3, sizes) &&
                    read_function(in, xmaxknots, ymaxknots, fresh.x) &&
                    read_function(in, xmaxknots, ymaxknots, fresh.y);
  if (read && !(region[0] < region[2] && region[1] < region[3]))
    in.refuse(2, "the valid region is empty");
  if (in.conversion_failed) {
    retstat = 0;
    return st_fail(status, kBaseApp + 1008, kPosition);
  }
  retstat = in.retstat;
  if (!read || in.failed()) return;
  fresh.x_minimum = region[0];
  fresh.y_minimum = region[1];
  fresh.x_maximum = region[2];
  fresh.y_maximum = region[3];
  fresh.grid_spacing = sizes[0];
  fresh.x_pixel_size = sizes[1] * 1.0e-6f;
  fresh.y_pixel_size = sizes[2] * 1.0e-6f;
  fresh.distorted_space = true;
  set = std::move(fresh);
}

}  // namespace kesta
