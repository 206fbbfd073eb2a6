#include "formats/kesta_format.hpp"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/format_menus.hpp"
#include "formats/item_reader.hpp"

namespace kesta {

namespace {

constexpr std::size_t kTextLength = 80;
constexpr std::size_t kOverloadLength = 20;
constexpr float kDefaultPixelSize = 1.0e-4f;
constexpr float kDefaultOverload = 65532.5f;

// The writer's last output file, the next default.
std::string fio_out_kesta_file = "kesta.kzt";

// Keeps a stream number registered while alive.
class StreamSlot {
 public:
  StreamSlot(int unit, std::FILE* file) : unit_(unit) { io_set_stream(unit, file); }
  ~StreamSlot() { io_set_stream(unit_, nullptr); }
  StreamSlot(const StreamSlot&) = delete;
  StreamSlot& operator=(const StreamSlot&) = delete;

 private:
  int unit_;
};

// An input file open on a stream number, closed when the reader leaves.
class OpenInput {
 public:
  OpenInput(int unit, const std::string& path) : unit_(unit) {
    ok_ = io_open_stream(unit, path, "rb");
  }
  ~OpenInput() { io_close_stream(unit_); }
  OpenInput(const OpenInput&) = delete;
  OpenInput& operator=(const OpenInput&) = delete;
  bool ok() const { return ok_; }

 private:
  int unit_;
  bool ok_ = false;
};

// A work array of N reals without initialisation; empty when refused.
std::unique_ptr<float[]> work_array(Index n) {
  if (n < 1) return nullptr;
  return std::unique_ptr<float[]>(new (std::nothrow) float[static_cast<std::size_t>(n)]);
}

// The data set's arrays checked against the region and dimensions: STATUS
// 180000 + 1, 2, 5, 6 (1 also for arrays smaller than the dimensions).
bool arrays_usable(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::size_t xaxis, std::size_t yaxis, std::size_t data,
                   bool variances_exist, std::size_t variances, std::string_view position,
                   Status& status) {
  Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                                kBaseFormats);
  // The region check has refused dimensions whose product overflows or
  // exceeds DATA, so the product is safe here.
  if (e == 0 &&
      (xaxis < static_cast<std::size_t>(xmaxdat) || yaxis < static_cast<std::size_t>(ymaxdat) ||
       (variances_exist && variances < static_cast<std::size_t>(xmaxdat * ymaxdat))))
    e = kBaseFormats + 1;
  if (e != 0) st_fail(status, e, position);
  return e == 0;
}

}  // namespace

void FIO_OUT_KESTA(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                   Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                   std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, std::span<const float> variances,
                   std::string_view title, std::string_view xlabel, std::string_view ylabel,
                   std::string_view zlabel, bool variances_exist, float x_pixel_size,
                   float y_pixel_size, int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_KESTA V0.13";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (!arrays_usable(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis.size(),
                     yaxis.size(), data.size(), variances_exist, variances.size(), kPosition,
                     status))
    return;
  (void)input_file;  // the graphical road derives its default name from it
  if (gui) {
    fio_format_not_available("The graphical file choice of \"KESTA STANDARD FORMAT\"", status);
    return;
  }
  io_input_file_name(true, "OUTPUT FILE NAME", {"Name of file to contain output data"},
                     {"Unacceptable input"}, 11, fio_out_kesta_file, status);
  if (status != kStatusGood) return;

  int trans = 0;
  std::string path;
  IO_TRANS_PATH(fio_out_kesta_file, trans, path, status);
  if (status != kStatusGood) return;
  if (trans != 0) {
    IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
    return;
  }
  AtomicFile out(path);
  if (!out.ok()) {
    IO_WRITE("WARNING: Error in opening file " + path + ": " + out.error(), status);
    return;
  }

  std::string overload;
  {
    int length = 0, found = 0;
    IO_INQ_KEYVALUE("#OVERLOAD_VALUE", length, overload, found, status);
    if (found != 0) overload = "1.7e38";
    overload = std::string(used_text(overload.substr(0, kOverloadLength)));
  }

  errno = 0;  // what a failed write leaves is the reason reported
  {
    const StreamSlot slot(kKestaOutputUnit, out.stream());
    const int u = kKestaOutputUnit;
    Index record = 1;
    IO_FWRITE_STRING(u, "$FFF_START", "KESTA Data File", record, status);
    IO_FWRITE_STRING(u, "$BIG_ENDIAN", IO_BIG_ENDIAN() ? "TRUE " : "FALSE", record, status);
    IO_FWRITE_STRING(u, "header", "KESTA file", record, status);
    IO_FWRITE_STRING(u, "title", title.substr(0, std::min(title.size(), kTextLength)), record,
                     status);
    IO_FWRITE_STRING(u, "x_axis_label", xlabel.substr(0, std::min(xlabel.size(), kTextLength)),
                     record, status);
    IO_FWRITE_STRING(u, "y_axis_label", ylabel.substr(0, std::min(ylabel.size(), kTextLength)),
                     record, status);
    IO_FWRITE_STRING(u, "z_axis_label", zlabel.substr(0, std::min(zlabel.size(), kTextLength)),
                     record, status);
    IO_FWRITE_REAL(u, "x_pixel_size", x_pixel_size, record, status);
    IO_FWRITE_REAL(u, "y_pixel_size", y_pixel_size, record, status);
    IO_FWRITE_STRING(u, "overload_value", overload, record, status);
    IO_FWRITE_RARRAY(u, "data_array", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                     record, status);
    IO_FWRITE_RARRAY(u, "x_axis", xmaxdat, 1, xstrelm, 1, xendelm, 1, xaxis, record, status);
    IO_FWRITE_RARRAY(u, "y_axis", ymaxdat, 1, ystrelm, 1, yendelm, 1, yaxis, record, status);
    if (variances_exist)
      IO_FWRITE_RARRAY(u, "variances_array", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                       yendelm, variances, record, status);
    IO_FWRITE_STRING(u, "$FFF_END", "End of image data", record, status);
  }
  if (status != kStatusGood) out.fail();
  if (status != kStatusGood || !out.commit()) {
    out.abandon();
    // Said also when an item writer has already set a bad status.
    Status local = ST_GOOD();
    IO_WRITE("WARNING: Error in writing file " + path + ": " + out.error(), local);
    if (status == kStatusGood) st_fail(status, 11010, kPosition);
    return;
  }
  retstat = 0;
}

void FIO_IN_KESTA(bool name_given, Index xmaxdat, Index ymaxdat, bool& variances_exist,
                  std::string& file_name, int& retstat, Index& xnumdat, Index& ynumdat,
                  std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                  std::span<float> variances, std::string& title, std::string& xlabel,
                  std::string& ylabel, std::string& zlabel, float& x_pixel_size,
                  float& y_pixel_size, float& overload_value, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_KESTA V0.8";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (!arrays_usable(xmaxdat, ymaxdat, 1, 1, std::max<Index>(xmaxdat, 1),
                     std::max<Index>(ymaxdat, 1), xaxis.size(), yaxis.size(), data.size(),
                     variances_exist, variances.size(), kPosition, status))
    return;

  if (!name_given) {
    io_input_file_name(true, "INPUT FILE NAME", {"Name of input file containing data"},
                       {"Unacceptable input"}, 11, file_name, status);
    if (status != kStatusGood) return;
  }
  int trans = 0;
  std::string path;
  IO_TRANS_PATH(file_name, trans, path, status);
  if (status != kStatusGood) return;
  if (trans != 0) return;

  const OpenInput input(kKestaInputUnit, path);
  if (!input.ok()) {
    IO_WRITE("WARNING: Error in opening file", status);
    IO_WRITE("         " + path, status);
    return;
  }
  const int u = kKestaInputUnit;
  bool damaged = false;
  // A damaged item (code 3) ends the reading; the data set stays as it was.
  auto check = [&](int code) {
    if (code == 3) damaged = true;
    return !damaged;
  };

  // Byte order of the arrays.
  std::string order;
  int code = 0;
  FIO_FREAD_STRING(u, "$BIG_ENDIAN", kTextLength, code, order, status);
  const bool swap = (used_text(order) == "TRUE") != IO_BIG_ENDIAN();

  std::string t = title, xl = xlabel, yl = ylabel, zl = zlabel;
  for (auto [name, text] : {std::pair{"title", &t}, std::pair{"x_axis_label", &xl},
                            std::pair{"y_axis_label", &yl}, std::pair{"z_axis_label", &zl}}) {
    if (!check(code)) break;
    std::string value;
    code = 0;
    FIO_FREAD_STRING(u, name, kTextLength, code, value, status);
    if (code <= 0) *text = value;
  }
  float xps = kDefaultPixelSize, yps = kDefaultPixelSize;
  for (auto [name, value] : {std::pair{"x_pixel_size", &xps}, std::pair{"y_pixel_size", &yps}}) {
    if (!check(code)) break;
    code = 0;
    float v = 0.0f;
    FIO_FREAD_REAL(u, name, code, v, status);
    *value = code == 0 ? v : kDefaultPixelSize;
  }
  float overload = kDefaultOverload;
  if (check(code)) {
    std::string text;
    code = 0;
    FIO_FREAD_STRING(u, "overload_value", kOverloadLength, code, text, status);
    bool found = false;
    float v = 0.0f;
    if (code <= 0) IO_TOKTR(used_text(text), found, v, status);
    if (found) overload = v;
  }

  // The data array into a work array of the program arrays' shape.
  Index xn = 0, yn = 0;
  int data_code = 1;
  std::unique_ptr<float[]> work;
  if (check(code)) {
    work = work_array(xmaxdat * ymaxdat);
    if (!work) {
      IO_WRITE("WARNING: Not enough memory to read the file " + path, status);
      return;
    }
    FIO_FREAD_RARRAY(u, swap, "data_array", xmaxdat, ymaxdat, data_code, xn, yn,
                     std::span<float>(work.get(), static_cast<std::size_t>(xmaxdat * ymaxdat)),
                     status);
    check(data_code);
  }
  if (status != kStatusGood) return;

  // Axes of the same length as the data, or pixel centres.
  std::vector<float> xa(static_cast<std::size_t>(xmaxdat)), ya(static_cast<std::size_t>(ymaxdat));
  auto read_axis = [&](const char* name, Index room, Index expected, std::vector<float>& axis) {
    if (damaged || data_code > 0) return;
    Index n = 0, one = 0;
    code = 0;
    FIO_FREAD_RARRAY(u, swap, name, room, 1, code, n, one, axis, status);
    if (!check(code)) return;
    if (code <= 0 && n != expected) {
      IO_WRITE("WARNING: Damaged file item \"" + std::string(name) + "\": " + std::to_string(n) +
                   " values for " + std::to_string(expected) + " data elements",
               status);
      damaged = true;
      return;
    }
    if (code > 0)
      for (Index i = 0; i < expected; ++i) axis[static_cast<std::size_t>(i)] = i + 0.5f;
  };
  read_axis("x_axis", xmaxdat, xn, xa);
  read_axis("y_axis", ymaxdat, yn, ya);

  std::unique_ptr<float[]> vwork;
  bool file_variances = false;
  if (variances_exist && !damaged && data_code <= 0) {
    vwork = work_array(xmaxdat * ymaxdat);
    if (!vwork) {
      IO_WRITE("WARNING: Not enough memory to read the file " + path, status);
      return;
    }
    Index vx = 0, vy = 0;
    code = 0;
    FIO_FREAD_RARRAY(u, swap, "variances_array", xmaxdat, ymaxdat, code, vx, vy,
                     std::span<float>(vwork.get(), static_cast<std::size_t>(xmaxdat * ymaxdat)),
                     status);
    if (check(code) && code <= 0) {
      if (vx != xn || vy != yn) {
        IO_WRITE("WARNING: Damaged file item \"variances_array\": its size differs from the "
                 "data array's",
                 status);
        damaged = true;
      }
      file_variances = true;
    }
  }
  if (status != kStatusGood) return;

  if (damaged) {
    IO_WRITE("WARNING: File " + path + " is damaged or truncated; the data are unchanged", status);
    return;
  }
  if (data_code > 0) {
    IO_WRITE("WARNING: Data array not found", status);
    IO_WRITE("         " + path + " is not an image file of this format; the data are unchanged",
             status);
    return;
  }
  if (xn < 1 || yn < 1) {
    IO_WRITE("WARNING: The data array of file " + path + " is empty; the data are unchanged",
             status);
    return;
  }
  if (data_code < 0) IO_WRITE("WARNING: Not all of the data could be input", status);

  // Everything was read: the data set takes it over.
  for (Index y = 1; y <= yn; ++y) {
    const std::size_t at = static_cast<std::size_t>(element(1, y, xmaxdat));
    std::copy_n(work.get() + at, xn, data.begin() + static_cast<std::ptrdiff_t>(at));
    if (file_variances)
      std::copy_n(vwork.get() + at, xn, variances.begin() + static_cast<std::ptrdiff_t>(at));
  }
  std::copy_n(xa.begin(), xn, xaxis.begin());
  std::copy_n(ya.begin(), yn, yaxis.begin());
  if (variances_exist && !file_variances) variances_exist = false;
  xnumdat = xn;
  ynumdat = yn;
  title = t;
  xlabel = xl;
  ylabel = yl;
  zlabel = zl;
  x_pixel_size = xps;
  y_pixel_size = yps;
  overload_value = overload;
  retstat = 0;
}

}  // namespace kesta
