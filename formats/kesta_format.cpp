#include "formats/kesta_format.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "core/ask_again.hpp"
#include "core/atomic_file.hpp"
#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "formats/format_menus.hpp"
#include "formats/item_reader.hpp"
#include "formats/stream_slot.hpp"
#include "formats/text_files.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

namespace {

constexpr std::size_t kTextLength = 80;
constexpr std::size_t kOverloadLength = 20;
constexpr float kDefaultPixelSize = 1.0e-4f;
constexpr float kDefaultOverload = 65532.5f;

// The writer's last output file, the next default.
std::string fio_out_kesta_file = "kesta.kzt";

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
  OfferedAnswer name(fio_out_kesta_file);
  if (gui) {
    IO_OUTFILE(0, input_file, ".kzt", "kesta.kzt", fio_out_kesta_file, status);
    if (!fio_gui_default_file(input_file, "KESTA format",
                              {"SELECT OUTPUT FILE FOR", "KESTA STANDARD FORMAT"},
                              {"Use the file selection tool to select a directory",
                               "and an output file to contain the data, storage in",
                               "KESTA standard format. Normally such a file ends",
                               "with the extension \".kzt\"."},
                              fio_out_kesta_file, status))
      return;
  } else {
    io_input_file_name(true, "OUTPUT FILE NAME", {"Name of file to contain output data"},
                       {"Unacceptable input"}, 11, fio_out_kesta_file, status);
    if (status != kStatusGood) return;
  }

  int trans = 0;
  std::string path;
  IO_TRANS_PATH(fio_out_kesta_file, trans, path, status);
  if (status != kStatusGood) return;
  if (trans != 0) {
    IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
    name.refuse();
    return;
  }
  AtomicFile out(path);
  if (!out.ok()) {
    report_output_open_failure(out, status);
    name.refuse();
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
    report_output_write_failure(out, kPosition, status);
    return;
  }
  retstat = 0;
}

namespace {

// What the chain of item headers says about an input file before any item is
// looked up: empty for a file whose items can be read, otherwise the problem
// ("is not a ... file", "ends inside its header", "is damaged or truncated").
// Only what the item lookups cannot tell is judged here; a damaged item is
// left to them.
std::string item_chain_problem(std::FILE* file) {
  constexpr Index kRecord = kItemRecordBytes;
  const std::string not_ours = "is not a \"KESTA STANDARD FORMAT\" file";
  const Index size = io_file_size(file);
  if (size < 0) return not_ours;
  std::string rec(static_cast<std::size_t>(kRecord), '\0');
  bool started = false, ended = false;
  for (Index at = 0; at < size;) {
    const Index have = std::min(kRecord, size - at);
    if (!io_seek(file, at) || std::fread(rec.data(), 1, static_cast<std::size_t>(have), file) !=
                                  static_cast<std::size_t>(have))
      return "cannot be read";
    const std::string_view bytes(rec.data(), static_cast<std::size_t>(have));
    const std::size_t colon = bytes.find(':');
    const bool header = bytes[0] == '\\' && colon != std::string_view::npos && colon > 1;
    if (at == 0 && !header) return not_ours;
    if (!header) return {};  // the lookups say what is wrong with the item
    if (have < kRecord) return "ends inside its header";
    const std::string_view name = bytes.substr(1, colon - 1);
    const std::string_view count_field = bytes.substr(colon + 1, 8);
    if (count_field.size() < 8 ||
        count_field.find_first_not_of("0123456789abcdef") != std::string_view::npos)
      return at == 0 ? not_ours : std::string();
    const std::int32_t count = IO_HEXTOI(count_field);
    if (at == 0) started = name == "$FFF_START";
    if (name == "$FFF_END") ended = true;
    // The lookups would stop at such an item and call every later one missing.
    if (count < 0) return "is damaged (item \"" + std::string(name) + "\" gives " +
                          std::to_string(count) + " records)";
    at += (static_cast<Index>(count) + 1) * kRecord;
  }
  if (size == 0) return not_ours;
  // A file that says where it starts must also hold its end.
  if (started && !ended) return "is damaged or truncated";
  return {};
}

// The description items into IMAGE; false when one is damaged.
bool read_description(int unit, ScratchImage& image, Status& status) {
  for (auto [name, text] :
       {std::pair{"title", &image.title}, std::pair{"x_axis_label", &image.xlabel},
        std::pair{"y_axis_label", &image.ylabel}, std::pair{"z_axis_label", &image.zlabel}}) {
    std::string value;
    int code = 0;
    FIO_FREAD_STRING(unit, name, kTextLength, code, value, status);
    if (code == 3) return false;
    if (code <= 0) *text = value;
  }
  // An absent size is the format's default, no size of the file: it must
  // not pass for the detector's.
  for (auto [name, value, defaulted] :
       {std::tuple{"x_pixel_size", &image.x_pixel_size, &image.x_pixel_size_defaulted},
        std::tuple{"y_pixel_size", &image.y_pixel_size, &image.y_pixel_size_defaulted}}) {
    int code = 0;
    float v = 0.0f;
    FIO_FREAD_REAL(unit, name, code, v, status);
    if (code == 3) return false;
    *value = code == 0 ? v : kDefaultPixelSize;
    *defaulted = code != 0;
  }
  std::string text;
  int code = 0;
  FIO_FREAD_STRING(unit, "overload_value", kOverloadLength, code, text, status);
  if (code == 3) return false;
  bool found = false;
  float v = 0.0f;
  if (code <= 0) IO_TOKTR(used_text(text), found, v, status);
  image.overload = found ? v : kDefaultOverload;
  return true;
}

// An axis of the data's length into AXIS (left empty, the pixel centres,
// when the file has none); false when it is damaged or of another length.
bool read_axis(int unit, bool swap, const char* name, Index room, Index expected,
               std::vector<float>& axis, Status& status) {
  const AxisBuffer values(room);
  Index n = 0, one = 0;
  int code = 0;
  FIO_FREAD_RARRAY(unit, swap, name, room, 1, code, n, one, values.values(), status);
  if (code == 3) return false;
  if (code > 0) return true;
  if (n != expected) {
    IO_WRITE("WARNING: Damaged file item \"" + std::string(name) + "\": " + std::to_string(n) +
                 " values for " + std::to_string(expected) + " data elements",
             status);
    return false;
  }
  axis = values.first(n);
  return true;
}

// An open native file whose header chain, byte order and description items
// have been checked (the description read into IMAGE).
struct OpenKestaFile {
  InputFile file;
  bool swap = false;
};

// Opens PATH and reads its description; false after the message naming the
// file. ALLOCATE (when given) runs before the description is read.
template <typename Allocate>
bool open_kesta_file(const std::string& path, OpenKestaFile& open, ScratchImage& image,
                     Allocate allocate, Status& status) {
  std::string problem;
  open.file = open_input_file(path, problem);
  if (!open.file) {
    report_unread_file(path, problem, status);
    return false;
  }
  problem = item_chain_problem(open.file.get());
  if (!problem.empty()) {
    report_unread_file(path, problem, status);
    return false;
  }
  const StreamSlot slot(kKestaInputUnit, open.file.get());
  std::string order;
  int code = 0;
  FIO_FREAD_STRING(kKestaInputUnit, "$BIG_ENDIAN", kTextLength, code, order, status);
  if (code != 3) {
    open.swap = (used_text(order) == "TRUE") != IO_BIG_ENDIAN();
    // Allocated first: the description items are kept in the same image.
    if (!allocate()) return false;
    if (read_description(kKestaInputUnit, image, status)) return true;
  }
  report_unread_file(path, "is damaged or truncated", status);
  return false;
}

// The message of a data array that is missing or empty (CODE its lookup's
// RETSTAT, 3 a damaged item); true when it is usable.
bool data_array_usable(const std::string& path, int code, Index xn, Index yn, Status& status) {
  if (code == 3) {
    report_unread_file(path, "is damaged or truncated", status);
    return false;
  }
  if (code > 0) {
    IO_WRITE("WARNING: Data array not found", status);
    report_unread_file(path, "is not an image file of this format", status);
    return false;
  }
  if (xn < 1 || yn < 1) {
    report_unread_file(path, "holds an empty data array", status);
    return false;
  }
  return true;
}

}  // namespace

ImageRead read_kesta_file(const std::string& path, const ReadRequest& request, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  ScratchImage& image = result.image;
  OpenKestaFile open;
  if (!open_kesta_file(
          path, open, image,
          [&] { return scratch_allocate(request, false, path, image, status); }, status))
    return ImageRead{};
  const StreamSlot slot(kKestaInputUnit, open.file.get());
  const int u = kKestaInputUnit;
  const bool swap = open.swap;
  auto damaged = [&] {
    report_unread_file(path, "is damaged or truncated", status);
    return ImageRead{};
  };

  // The pixels straight into the scratch array that may become the data.
  Index xn = 0, yn = 0;
  int data_code = 1;
  FIO_FREAD_RARRAY(u, swap, "data_array", request.xmaxdat, request.ymaxdat, data_code, xn, yn,
                   image.pixels(), status);
  if (status != kStatusGood) return result;
  if (!data_array_usable(path, data_code, xn, yn, status)) return ImageRead{};
  if (data_code < 0) {
    // Cut to the arrays: the image's own size is the item's.
    int code = 1;
    Index start = 0;
    fread_array_item(u, "data_array", code, image.file_xnum, image.file_ynum, start, status);
  } else {
    image.file_xnum = xn;
    image.file_ynum = yn;
  }
  if (!read_axis(u, swap, "x_axis", request.xmaxdat, xn, image.xaxis, status) ||
      !read_axis(u, swap, "y_axis", request.ymaxdat, yn, image.yaxis, status))
    return damaged();

  if (request.variances) {
    ScratchImage work;
    if (!scratch_allocate(request, false, path, work, status)) return result;
    Index vx = 0, vy = 0;
    int code = 0;
    FIO_FREAD_RARRAY(u, swap, "variances_array", request.xmaxdat, request.ymaxdat, code, vx, vy,
                     work.pixels(), status);
    if (code == 3) return damaged();
    if (code <= 0) {
      if (vx != xn || vy != yn) {
        IO_WRITE("WARNING: Damaged file item \"variances_array\": its size differs from the "
                 "data array's",
                 status);
        return damaged();
      }
      image.variances = std::move(work.data);
    }
  }
  if (status != kStatusGood) return result;
  if (data_code < 0) IO_WRITE(std::string(kNotAllDataLine), status);
  image.xnumdat = xn;
  image.ynumdat = yn;
  result.retstat = 0;
  return result;
}

namespace {

// The data array of an open native file, read in blocks of rows.
class KestaRows final : public RowSource {
 public:
  KestaRows(std::string path, InputFile file, bool swap, Index xn, Index yn, Index start)
      : RowSource(xn, yn), path_(std::move(path)), file_(std::move(file)), swap_(swap),
        start_(start) {}
  bool rows(Index y, Index count, std::span<float> values, Status& status) override {
    if (status != kStatusGood) return false;
    // The header check has bounded the array's bytes by the file's size.
    const Index first = std::clamp<Index>(y, 1, ynumdat() + 1);
    const std::span<float> part = values.first(static_cast<std::size_t>(
        std::clamp<Index>(count, 0, ynumdat() + 1 - first) * xnumdat()));
    const Index offset = start_ + (first - 1) * xnumdat() * 4;
    // Consecutive blocks follow one another without a seek.
    bool ok = offset == next_ || io_seek(file_.get(), offset);
    ok = ok && io_read_bytes(file_.get(), part.data(), part.size_bytes()) == part.size_bytes();
    if (!ok) {
      next_ = -1;
      IO_WRITE("WARNING: File " + path_ + " could not be read to its end", status);
      return false;
    }
    next_ = offset + static_cast<Index>(part.size_bytes());
    if (swap_) swap_bytes(part);
    return true;
  }

 private:
  std::string path_;
  InputFile file_;
  bool swap_;
  Index start_;
  Index next_ = -1;  // the file's position after the last read
};

}  // namespace

std::unique_ptr<RowSource> open_kesta_rows(const std::string& path, ScratchImage& image,
                                           Status& status) {
  image = ScratchImage{};
  if (status != kStatusGood) return nullptr;
  OpenKestaFile open;
  if (!open_kesta_file(path, open, image, [] { return true; }, status)) return nullptr;
  Index xn = 0, yn = 0, start = 0;
  {
    const StreamSlot slot(kKestaInputUnit, open.file.get());
    const int u = kKestaInputUnit;
    int code = 1;
    fread_array_item(u, "data_array", code, xn, yn, start, status);
    if (status != kStatusGood || !data_array_usable(path, code, xn, yn, status)) return nullptr;
    // The axes are checked before a pixel is used, as the whole read checks
    // them (room for one more value shows a longer axis).
    if (!read_axis(u, open.swap, "x_axis", xn + 1, xn, image.xaxis, status) ||
        !read_axis(u, open.swap, "y_axis", yn + 1, yn, image.yaxis, status)) {
      report_unread_file(path, "is damaged or truncated", status);
      return nullptr;
    }
  }
  if (status != kStatusGood) return nullptr;
  image.xnumdat = xn;
  image.ynumdat = yn;
  return std::make_unique<KestaRows>(path, std::move(open.file), open.swap, xn, yn, start);
}

void FIO_IN_KESTA(bool name_given, Index xmaxdat, Index ymaxdat, bool& variances_exist,
                  std::string& file_name, int& retstat, Index& xnumdat, Index& ynumdat,
                  std::span<float> xaxis, std::span<float> yaxis, std::span<float> data,
                  std::span<float> variances, std::string& title, std::string& xlabel,
                  std::string& ylabel, std::string& zlabel, float& x_pixel_size,
                  float& y_pixel_size, float& overload_value, Status& status) {
  FIO_IN_KESTA(name_given,
               ImageTarget{xmaxdat, ymaxdat, variances_exist, xnumdat, ynumdat, xaxis, yaxis,
                           data, variances, title, xlabel, ylabel, zlabel, x_pixel_size,
                           y_pixel_size},
               file_name, retstat, overload_value, status);
}

ImageRead kesta_keyboard_read(const ReadRequest& request, std::string& file_name,
                              Status& status) {
  std::string path;
  if (!ask_input_path(file_name, path, status)) return {};
  return read_kesta_file(path, request, status);
}

void FIO_IN_KESTA(bool name_given, const ImageTarget& target, std::string& file_name,
                  int& retstat, float& overload_value, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_IN_KESTA V0.9";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (!arrays_usable(target.xmaxdat, target.ymaxdat, 1, 1, std::max<Index>(target.xmaxdat, 1),
                     std::max<Index>(target.ymaxdat, 1), target.xaxis.size(),
                     target.yaxis.size(), target.data.size(), target.variances_exist,
                     target.variances.size(), kPosition, status))
    return;
  const ReadRequest request{target.xmaxdat, target.ymaxdat, target.variances_exist};
  ImageRead read;
  if (name_given) {
    std::string path;
    if (input_path(file_name, path, status)) read = read_kesta_file(path, request, status);
  } else {
    read = kesta_keyboard_read(request, file_name, status);
  }
  if (!read.ok() || status != kStatusGood) return;
  overload_value = read.image.overload.value_or(kDefaultOverload);
  commit_image(read.image, target);
  retstat = 0;
}

}  // namespace kesta
