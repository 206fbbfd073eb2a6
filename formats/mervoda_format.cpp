#include "formats/mervoda_format.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/fio_stream.hpp"
#include "formats/format_menus.hpp"
#include "formats/text_files.hpp"

namespace kesta {

namespace {

struct MervodaState {
  OneDChoice choice;
  std::string output;
};
MervodaState fio_mervoda_state;

}  // namespace

void fio_reset_mervoda() { fio_mervoda_state = MervodaState{}; }

namespace {

// FIO_IN_MERVODA, also giving IN_FILE: the number of points of the scan in
// its file (the count it declares when the arrays cannot take them all,
// otherwise the points found).
void read_points(bool name_given, Index maxdat, bool variances_exist, std::string& file_name,
                 int& retstat, Index& numdat, Index& in_file, std::span<float> xaxis,
                 std::span<float> data, std::span<float> variances, std::string& title,
                 std::string& xlabel, std::string& zlabel, float& x_pixel_size, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_MERVODA V0.8";
  in_file = 0;
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (maxdat < 1 || xaxis.size() < static_cast<std::size_t>(maxdat) ||
      data.size() < static_cast<std::size_t>(maxdat) ||
      (variances_exist && variances.size() < static_cast<std::size_t>(maxdat))) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  int stream = 0;
  FIO_OPENFILE(!name_given, "READ_ASCII", file_name, retstat, stream, status);
  if (status == kStatusEscape) return;
  if (status != kStatusGood || retstat != 0) {
    IO_WRITE("WARNING: Problem opening input file", status);
    if (retstat == 0) retstat = 1;
    return;
  }
  std::FILE* in = fio_input_file();
  retstat = 1;
  std::string lines[3];
  std::string count_line;
  bool read = true;
  FioLineReader text(in, file_name, maxdat);
  for (auto& l : lines) read = read && text.next(l, status);
  read = read && text.next(count_line, status);
  std::vector<float> x, y;
  Index count = 0;
  if (!read) {
    if (!text.refused()) IO_WRITE("WARNING: Problem reading from input file", status);
  } else if (const auto t = fio_tokens(count_line); t.empty()) {
    IO_WRITE("Error reading in the number of data points", status);
  } else if (std::int64_t n = 0; !read_integer_field(t[0], n)) {
    IO_WRITE("WARNING: Error converting number of data points in file", status);
  } else if (n < 1) {
    IO_WRITE("WARNING: The number of data points in the file is below 1: " + t[0], status);
  } else {
    count = n;
    in_file = n;
    if (count > maxdat) {
      IO_WRITE("WARNING: Too many coordinates, the end ones will not be input", status);
      count = maxdat;
    }
  }
  std::string line;
  while (static_cast<Index>(x.size()) < count && text.next(line, status)) {
    const auto t = fio_tokens(line);
    float xv = 0.0f, yv = 0.0f;
    if (t.size() >= 2) {
      if (!fio_to_real(t[0], xv)) IO_WRITE("WARNING: Problem inputting X-coordinate value", status);
      if (!fio_to_real(t[1], yv)) IO_WRITE("WARNING: Problem inputting Y-coordinate value", status);
    } else {
      IO_WRITE("WARNING: Data items missing from file", status);
    }
    x.push_back(xv);
    y.push_back(yv);
  }
  int closed = 0;
  FIO_FILECLOSEC(stream, closed);
  if (count < 1 || text.refused()) return;
  const auto n = static_cast<Index>(x.size());
  if (n < count) IO_WRITE("WARNING: Only " + format_i(n, 8) + " X/Y coordinates have been found",
                          status);
  if (n < 1) return;
  if (in_file <= maxdat) in_file = n;
  std::copy(x.begin(), x.end(), xaxis.begin());
  std::copy(y.begin(), y.end(), data.begin());
  if (variances_exist) std::copy(y.begin(), y.end(), variances.begin());
  numdat = n;
  title = lines[0];
  xlabel = lines[1];
  zlabel = lines[2];
  if (n >= 2) x_pixel_size = x[1] - x[0];
  retstat = 0;
}

}  // namespace

void FIO_IN_MERVODA(bool name_given, Index maxdat, bool variances_exist, std::string& file_name,
                    int& retstat, Index& numdat, std::span<float> xaxis, std::span<float> data,
                    std::span<float> variances, std::string& title, std::string& xlabel,
                    std::string& zlabel, float& x_pixel_size, Status& status) {
  Index in_file = 0;
  read_points(name_given, maxdat, variances_exist, file_name, retstat, numdat, in_file, xaxis,
              data, variances, title, xlabel, zlabel, x_pixel_size, status);
}

namespace {

ImageRead read_curve(bool name_given, const ReadRequest& request, std::string& file_name,
                     Status& status) {
  ImageRead result;
  ScratchImage& image = result.image;
  if (!scratch_allocate(request, request.variances, file_name, image, status)) return result;
  const AxisBuffer x(request.xmaxdat);
  std::string title, xlabel, zlabel;
  // The step between the first two points is the scan's own X step (no
  // detector pixel size: a scan's sizes are not stored).
  float step = 0.0f;
  Index n = 0, in_file = 0;
  int retstat = 1;
  read_points(name_given, request.xmaxdat, request.variances, file_name, retstat, n, in_file,
              x.values(), image.pixels(), image.variance_pixels(), title, xlabel, zlabel, step,
              status);
  if (retstat != 0 || status != kStatusGood) return result;
  image.xaxis = x.first(n);
  image.xnumdat = n;
  image.ynumdat = 1;
  image.x_pixel_size = step;
  image.file_xnum = in_file;
  image.file_ynum = 1;
  image.title = title;
  image.xlabel = xlabel;
  image.zlabel = zlabel;
  result.retstat = 0;
  return result;
}

}  // namespace

ImageRead mervoda_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status) {
  return read_curve(false, request, file_name, status);
}

ImageRead read_mervoda_file(const std::string& path, const ReadRequest& request,
                            Status& status) {
  std::string name = path;
  return read_curve(true, request, name, status);
}

void FIO_OUT_MERVODA(bool gui, std::string_view input_file, bool name_chosen, Index xmaxdat,
                     Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                     std::span<const float> xaxis, std::span<const float> yaxis,
                     std::span<const float> data, std::span<const float> variances,
                     std::string_view title, std::string_view xlabel, std::string_view ylabel,
                     std::string_view zlabel, bool variances_exist, std::string& file_name,
                     int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_MERVODA V0.10";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                    data.size(), kBaseFormats);
      e != 0 || xaxis.size() < static_cast<std::size_t>(xmaxdat) ||
      yaxis.size() < static_cast<std::size_t>(ymaxdat) ||
      (variances_exist && !array_holds(variances.size(), xmaxdat, ymaxdat))) {
    st_fail(status, e != 0 ? e : kBaseFormats + 1, kPosition);
    return;
  }
  auto& s = fio_mervoda_state;
  // A file series names each file itself.
  std::string& name = gui && name_chosen ? file_name : s.output;
  const auto out = fio_1d_output(gui, input_file, name_chosen, ".mvd", "mervoda.mvd", name,
                                 s.choice, xstrelm, ystrelm, xendelm, yendelm, status);
  if (!out) return;
  const Scan scan = fio_scan(s.choice, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis,
                             data, variances_exist ? variances : std::span<const float>());
  out->write_line(used_text(title));
  out->write_line(used_text(s.choice.rows ? xlabel : ylabel));
  out->write_line(used_text(zlabel));
  out->write_line(format_i(static_cast<std::int64_t>(scan.x.size()), 11) +
                  (variances_exist ? " Errors" : ""));
  const auto field = [](float v) { return format_e(v, 14, 7, 1); };
  std::string line;
  for (std::size_t i = 0; i < scan.x.size(); ++i) {
    line = format_e(scan.x[i], 14, 7, 1) + " " + field(scan.y[i]) + " ";
    if (variances_exist) {
      // A negative variance has no error to speak of: written as 0.
      const double v = scan.variance[i];
      line += format_e(0.0, 14, 7, 1) + " " + format_e(v > 0.0 ? std::sqrt(v) : 0.0, 14, 7, 1) +
              " ";
    }
    out->write_line(line);
  }
  if (!fio_commit_output(*out, kPosition, status)) return;
  fio_say_non_finite(scan.y, field, status);
  file_name = name;
  fio_advance(s.choice);
  retstat = 0;
}

}  // namespace kesta
