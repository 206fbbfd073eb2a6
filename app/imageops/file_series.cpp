#include "app/imageops/file_series.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/display_commands.hpp"
#include "app/imageops/program_target.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/main/data_store.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "formats/gui_input.hpp"
#include "formats/series_sizes.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/rebin.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {
namespace {

// Kept between calls of both operations.
struct SeriesAnswers {
  int increment = 1;
};
struct CompositeAnswers {
  bool subtract = true;
  bool roi = true;
};

// An image that series members (or a background) are read into.
class MemberImage {
 public:
  MemberImage() = default;
  MemberImage(const MemberImage&) = delete;
  MemberImage& operator=(const MemberImage&) = delete;
  ~MemberImage() {
    Status local = kStatusGood;
    void* address = block_;
    if (address != nullptr) IO_FREE(address, local);
  }

  // Arrays of XMAXDAT x YMAXDAT; false (STATUS bad) without memory.
  bool allocate(Index xmaxdat, Index ymaxdat, Status& status) {
    xmaxdat_ = xmaxdat;
    ymaxdat_ = ymaxdat;
    void* address = nullptr;
    io_malloc_array(xmaxdat_ * ymaxdat_, sizeof(float), address, status);
    block_ = static_cast<float*>(address);
    if (status != kStatusGood) return false;
    xaxis_.assign(static_cast<std::size_t>(xmaxdat_), 0.0f);
    yaxis_.assign(static_cast<std::size_t>(ymaxdat_), 0.0f);
    // Not cleared: a read swaps its own array in, and only the extent read
    // is used.
    return true;
  }
  Index xmaxdat() const { return xmaxdat_; }
  Index ymaxdat() const { return ymaxdat_; }
  std::span<float> pixels() const {
    return {block_, static_cast<std::size_t>(xmaxdat_ * ymaxdat_)};
  }

  // Reads FILE_NAME with SEQUENCE (TITLE for a file selection); true when an
  // image of XNUMDAT x YNUMDAT was read (any size when either is 0).
  bool read(TextLines title, int sequence, std::string& file_name, Index xnumdat, Index ynumdat,
            Status& status) {
    bool variances = false, read = false;
    Index xn = 0, yn = 0;
    xnumdat_ = ynumdat_ = 0;
    std::string text, xlabel, ylabel, zlabel;
    float xps = 0.0f, yps = 0.0f;
    const ImageTarget target{xmaxdat_, ymaxdat_, variances, xn,      yn,     xaxis_,
                             yaxis_,   pixels(), {},        text,    xlabel, ylabel,
                             zlabel,   xps,      yps,       &block_, nullptr};
    kzt_series_reader()(title.view(), sequence, target, read, file_name, status);
    if (status != kStatusGood || !read) return false;
    xnumdat_ = xn;
    ynumdat_ = yn;
    return xnumdat == 0 || (xn == xnumdat && yn == ynumdat);
  }
  // The extent the last read gave (0 x 0 when it read nothing).
  Index xnumdat() const { return xnumdat_; }
  Index ynumdat() const { return ynumdat_; }
  std::span<const float> xaxis() const { return xaxis_; }
  std::span<const float> yaxis() const { return yaxis_; }

 private:
  float* block_ = nullptr;
  Index xmaxdat_ = 0, ymaxdat_ = 0, xnumdat_ = 0, ynumdat_ = 0;
  std::vector<float> xaxis_, yaxis_;
};

// A member whose read failed after part of it was added to the sum.
constexpr Status kSumCut = kBaseApp + 20;

// Rows of about this many bytes are used while the read has left them in the
// cache.
constexpr Index kBlockBytes = Index{1} << 18;
// Members summed together, block by block: each block of the sum then stays
// in the cache while every member of the group is added to it.
constexpr std::size_t kSumGroup = 16;

// Blocks of whole rows of NX values: a multiple of MULTIPLE rows.
Index block_rows(Index nx, Index multiple) {
  const Index rows = kBlockBytes / (4 * std::max<Index>(nx, 1));
  return std::max<Index>(rows / multiple, 1) * multiple;
}

// Where a member's region goes in the montage: re-binned by REBIN into the
// tile at (TX, TY) of OUTPUT (XMAXOUT x YMAXOUT), less BACKGROUND when given.
struct TilePlace {
  Index xs, ys, xe, ye, rebin;
  const MemberImage* background;
  Index xmaxout, ymaxout;
  std::span<float> output;
  Index tx, ty;
};

// A member's tile made block by block of whole re-bin rows, as MA_RSUBTRACT
// and MA_RREBIN over the whole member would make it (a block's sums do not
// depend on the rows around it).
class TileRows {
 public:
  explicit TileRows(const TilePlace& place) : p_(place) {}
  // The rows used, in blocks of whole re-bin rows of NX values.
  Index first() const { return p_.ys; }
  Index last() const { return p_.ys + (p_.ye - p_.ys + 1) / p_.rebin * p_.rebin - 1; }
  Index block(Index nx) const { return block_rows(nx, p_.rebin); }
  // COUNT rows from row Y on, STRIDE values apart.
  void rows(Index y, Index count, std::span<const float> values, Index stride, Status& status) {
    Index x0 = p_.xs;
    if (p_.background != nullptr) {
      // The region's columns less the background, in a buffer of the block.
      const Index width = p_.xe - p_.xs + 1;
      difference_.resize(static_cast<std::size_t>(width * count));
      const MemberImage& b = *p_.background;
      for (Index r = 0; r < count; ++r) {
        const float* in = values.data() + element(p_.xs, r + 1, stride);
        const float* back = b.pixels().data() + element(p_.xs, y + r, b.xmaxdat());
        float* out = difference_.data() + r * width;
        for (Index x = 0; x < width; ++x) out[x] = in[x] - back[x];
      }
      values = difference_;
      stride = width;
      x0 = 1;
    }
    Index oxe = 0, oye = 0;
    MA_RREBIN(stride, count, values, x0, 1, x0 + (p_.xe - p_.xs), count, p_.rebin, p_.rebin, true,
              p_.tx, p_.ty + (y - p_.ys) / p_.rebin, p_.xmaxout, p_.ymaxout, p_.output, oxe, oye,
              status);
  }

 private:
  TilePlace p_;
  std::vector<float> difference_;
};

// The first member of a series, that the others are compared with and cut
// like: the size of its image in its file, and the part of it the arrays
// hold (XNUM x YNUM from the first pixel on, smaller where the image was
// larger than the arrays).
struct FirstMember {
  FioImageSize own;
  Index xnum, ynum;
  // OWN as the graphical input gave it; a first member whose reader gave
  // none was read whole.
  FirstMember(FioImageSize size, Index x, Index y) : own(size), xnum(x), ynum(y) {
    if (own.width < 1 || own.length < 1) own = {xnum, ynum};
  }
  // Arrays that a member read whole is cut in as the first was: of the kept
  // extent where the first was cut, and one more elsewhere, so that a bigger
  // member shows by its extent even to a reader that gives no size.
  Index xmaxdat() const { return own.width > xnum ? xnum : xnum + 1; }
  Index ymaxdat() const { return own.length > ynum ? ynum : ynum + 1; }
};

// The line of a member refused for its size, as the graphical input says it.
void not_the_first_size(const std::string& name, Status& status) {
  IO_WRITE("WARNING: File not the size of the first file: " + name, status);
}

// A member opened for block-wise reading when its format allows it: WHOLE
// when it must be read whole; nullptr (after "WARNING: File not input: " and
// the name) when it is not input, one whose image is not, in its file, of the
// first one's size included. Its rows are those of the whole image; only the
// first's extent of them is used.
std::unique_ptr<RowSource> open_member(std::string& name, const FirstMember& first, bool& whole,
                                       Status& status) {
  std::unique_ptr<RowSource> rows = kzt_series_row_reader()(name, whole, status);
  if (status != kStatusGood || whole) return nullptr;
  if (rows) {
    if (rows->xnumdat() == first.own.width && rows->ynumdat() == first.own.length &&
        rows->xnumdat() >= first.xnum && rows->ynumdat() >= first.ynum) {
      // Rows of which few columns are used, longer than a block, are not
      // read whole into a buffer: the member is read whole, cut as it is
      // read.
      if (rows->xnumdat() > first.xnum && rows->xnumdat() > kBlockBytes / 4) {
        whole = true;
        return nullptr;
      }
      return rows;
    }
    not_the_first_size(name, status);
  }
  IO_WRITE("WARNING: File not input: " + name, status);
  return nullptr;
}

// A member read whole into WORK (allocated for FIRST at the first use); false
// after "WARNING: File not input: " and the name when it was not read, or
// not with the first one's extent.
bool read_whole(MemberImage& work, const FirstMember& first, std::string& name, Status& status) {
  if (work.xmaxdat() == 0 && !work.allocate(first.xmaxdat(), first.ymaxdat(), status))
    return false;
  if (work.read({}, kFioGivenName, name, first.xnum, first.ynum, status)) return true;
  if (status != kStatusGood) return false;
  if (work.xnumdat() > 0) not_the_first_size(name, status);
  IO_WRITE("WARNING: File not input: " + name, status);
  return false;
}

// The reading numbers of the series, or none (with a message) when its
// increment cannot step through it.
std::vector<int> member_numbers(const KztFileSeries& series, Status& status) {
  std::vector<int> numbers = kzt_series_numbers(series);
  if (numbers.empty())
    IO_WRITE("WARNING: The file increment must be at least 1; no images input", status);
  return numbers;
}

// The series defined with its first file read into the current data set;
// false when none was.
bool define_series(KztDataSets& sets, KztFileSeries& series, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  const ProgramImageTarget program(sets);
  const ImageTarget& target = program.target();
  int retstat = 1;
  series.increment = remembered<SeriesAnswers>().increment;
  if (!kzt_upcall(imageops_upcalls.def_fs, "FILE SERIES DEFINITION", status, true, target,
                  a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, retstat, series))
    return false;
  if (status != kStatusGood || retstat != 0) return false;
  remembered<SeriesAnswers>().increment = series.increment;
  sets.data_defined = true;
  return a.xnumdat >= 1 && a.ynumdat >= 1;
}

// The sum, average or montage carries the first member's pixel sizes (a
// row's bin widths are no detector's).
FioSeriesResult first_member_result(const KztDataSets& sets) {
  return FioSeriesResult(vosq_kzt_arrays.ynumdat > 1, sets.x_pixel_size, sets.y_pixel_size,
                         "the result has the first file's");
}

// "first to last", both without their directories.
std::string series_title(const KztFileSeries& series, Status& status) {
  std::string first, last;
  IO_NODIRPATH(series.first_file, first, status);
  IO_NODIRPATH(series.last_file, last, status);
  return (first + " to " + last).substr(0, kKztTextLength);
}

void sequence_started(Status& status) {
  GS_BACKGROUND(status);
  GS_FPROMPT(1, 1, {"AUTOMATIC SEQUENCE INPUT STARTED"}, status);
  GS_UPDATE(status);
}

static const std::string kCompositeHelp[] = {"             COMPOSITE COMMAND HELP TEXT",
                                             "",
                                             "The members of a numbered file series are laid",
                                             "side by side in one image, filling each row of",
                                             "images from left to right, rows from the top.",
                                             "",
                                             "SUBTRACT: \"YES\" asks for a background image,",
                                             "which is subtracted from every input image.",
                                             "",
                                             "ROI: \"YES\" lets you choose a region of",
                                             "interest on the first image; only that region",
                                             "of each image enters the composite.",
                                             "",
                                             "INCREMENT: the step between the file numbers",
                                             "that are input is asked when the series is",
                                             "defined.",
                                             "",
                                             "NO. PER ROW: the number of images on one line",
                                             "of the composite.",
                                             "",
                                             "RE-BIN NO.: input pixels are averaged in",
                                             "blocks of this size in both directions.",
                                             "",
                                             "A file that cannot be input leaves its place",
                                             "in the composite at 0.0.",
                                             "",
                                             "END OF HELP TEXT"};

}  // namespace

KztSeriesReader& kzt_series_reader() {
  static KztSeriesReader reader = FIO_GUI_INPUT;
  return reader;
}

KztSeriesRowReader& kzt_series_row_reader() {
  static KztSeriesRowReader reader = fio_gui_rows_input;
  return reader;
}

Index kzt_series_sum(const KztFileSeries& series, FioImageSize first_size, Index xmaxdat,
                     Index ymaxdat, Index xnumdat, Index ynumdat, std::span<float> data,
                     Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_AVERAGE V0.6";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, 1, 1, xnumdat, ynumdat, status,
                         {data.size()}))
    return 0;
  const std::vector<int> numbers = member_numbers(series, status);
  if (numbers.empty()) return 0;
  // Members are added block by block as they are read, in groups; a format
  // without that road is read whole into an image of its own and added
  // after. Either way each pixel's sum is made in the order of the members,
  // of the part of each that the first one's read kept.
  const FirstMember first(first_size, xnumdat, ynumdat);
  MemberImage work;
  Index count = 1;
  struct Opened {
    std::string name;
    std::unique_ptr<RowSource> rows;
  };
  std::vector<Opened> group;
  std::vector<float> buffer;
  const auto add_group = [&] {
    if (group.empty()) return;
    // The members' rows, all of the first one's width in their files.
    const Index width = first.own.width;
    const Index block = block_rows(width, 1);
    buffer.resize(static_cast<std::size_t>(block * width));
    for (Index y = 1; y <= ynumdat && status == kStatusGood; y += block) {
      const Index rows = std::min(block, ynumdat - y + 1);
      for (Opened& member : group) {
        if (!member.rows->rows(y, rows, buffer, status)) {
          // The rows added cannot be taken out again exactly: the sum is lost.
          IO_WRITE("WARNING: File partly input: " + member.name + "; the sum is incomplete",
                   status);
          st_fail(status, kSumCut, kPosition);
          return;
        }
        for (Index r = 0; r < rows; ++r) {
          float* out = data.data() + element(1, y + r, xmaxdat);
          const float* in = buffer.data() + r * width;
          for (Index x = 0; x < xnumdat; ++x) out[x] = out[x] + in[x];
        }
      }
    }
    if (status != kStatusGood) return;
    count += static_cast<Index>(group.size());
    group.clear();
  };
  for (std::size_t k = 1; k < numbers.size() && status == kStatusGood; ++k) {
    std::string name;
    if (!kzt_series_name(series, numbers[k], name, status)) {
      IO_WRITE("WARNING: File not input: number " + std::to_string(numbers[k]), status);
      continue;
    }
    bool whole = false;
    std::unique_ptr<RowSource> rows = open_member(name, first, whole, status);
    if (rows) {
      // Said as it is opened, so that the members' lines keep their order
      // beside a later member's refusal.
      IO_WRITE("INFO: Input " + name, status);
      group.push_back({name, std::move(rows)});
      if (group.size() == kSumGroup) add_group();
      continue;
    }
    if (!whole) continue;
    add_group();  // the members before first
    if (status != kStatusGood) break;
    if (!read_whole(work, first, name, status)) continue;
    IO_WRITE("INFO: Input " + name, status);
    MA_RADD(work.xmaxdat(), work.ymaxdat(), 1, 1, xnumdat, ynumdat, work.pixels(), xmaxdat,
            ymaxdat, data, status);
    ++count;
  }
  if (status == kStatusGood) add_group();
  return count;
}

MontageGeometry kzt_montage_geometry(Index members, Index region_width, Index region_height,
                                     Index per_row, Index rebin) {
  MontageGeometry g;
  g.per_row = std::max<Index>(per_row, 1);
  g.rebin = std::max<Index>(rebin, 1);
  g.width = region_width / g.rebin;
  g.height = region_height / g.rebin;
  g.rows = (std::max<Index>(members, 1) + g.per_row - 1) / g.per_row;
  g.xsize = g.per_row * g.width;
  g.ysize = g.rows * g.height;
  return g;
}

void kzt_montage_defaults(Index members, Index& per_row, Index& rebin) {
  per_row =
      std::max<Index>(static_cast<Index>(std::sqrt(0.5 * static_cast<double>(members)) + 0.99), 1);
  rebin = std::min<Index>(per_row, 8);
}

void kzt_montage_tile(const MontageGeometry& g, Index k, Index& x, Index& y) {
  x = (k % g.per_row) * g.width + 1;
  y = (g.rows - 1 - k / g.per_row) * g.height + 1;
}

void KZT_AVERAGE(bool average, KztDataSets& sets, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_AVERAGE V0.6";
  KztArrays& a = vosq_kzt_arrays;
  if (st_bad(status, kPosition)) return;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  KztFileSeries series;
  if (!define_series(sets, series, status)) return;
  const FioSeriesResult result = first_member_result(sets);
  sequence_started(status);
  const FioReadAnswers first_answers = fio_read_answers();
  const FioSeriesMembers members(first_answers);
  const Index count = kzt_series_sum(series, first_answers.size, a.xmaxdat, a.ymaxdat, a.xnumdat,
                                     a.ynumdat, kzt_image(a.data), status);
  if (status != kStatusGood || count < 1) return;
  if (average)
    MA_RCMULT(a.xmaxdat, a.ymaxdat, 1, 1, a.xnumdat, a.ynumdat,
              static_cast<float>(1.0 / static_cast<double>(count)), kzt_image(a.data), status);
  IO_WRITE("INFO: Number of correctly input images = " + format_i(count, 6), status);
  sets.data_defined = true;
  sets.title = series_title(series, status);
}

void KZT_COMPOSITE(KztDataSets& sets, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_COMPOSITE V0.12";
  KztArrays& a = vosq_kzt_arrays;
  if (st_bad(status, kPosition)) return;
  if (a.xmaxdat < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (a.ymaxdat < 1) return st_fail(status, kBaseApp + 2, kPosition);
  KztFileSeries series;
  if (!define_series(sets, series, status)) return;
  const FioSeriesResult result = first_member_result(sets);
  // The later members are read with the answers the first one was read with
  // (the background, read in between, may have been given others).
  const FioReadAnswers first_answers = fio_read_answers();
  const std::vector<int> numbers = member_numbers(series, status);
  if (numbers.empty()) return;
  const Index members = std::ssize(numbers);

  // The form.
  Index per_row = 1, rebin = 1;
  kzt_montage_defaults(members, per_row, rebin);
  CompositeAnswers answers = remembered<CompositeAnswers>();
  const Index side = std::min(a.xendelm - a.xstrelm + 1, a.yendelm - a.ystrelm + 1);
  std::vector<GsFormItem> items{
      kzt_form_item("SUBTRACT", 2, "SUBTRACT BACKGROUND IMAGE FROM DATA",
                    "Enter \"YES\" to input an imagewhich will subtracted from "
                    "all the input"),
      kzt_form_item("ROI", 2, "SELECT REGION OF INTEREST",
                    "Enter \"YES\" to be able to zoom inon a region of "
                    "interest for the compo"),
      kzt_form_item("NO. PER ROW", 1, "NUMBER OF IMAGES PER ROW",
                    "Enter number of images which will be displayed on one "
                    "line of the comp"),
      kzt_form_item("RE-BIN NO.", 1, "FACTOR BY WHICH TO RE-BIN",
                    "Enter the factor by which input pixels will be re-binned "
                    "(in both dire")};
  items[0].logical_value = answers.subtract;
  items[1].logical_value = answers.roi;
  items[2].ranged = true;
  items[2].int_lower = 1;
  items[2].int_upper = static_cast<int>(std::max<Index>({32, per_row, members}));
  items[2].int_value = static_cast<int>(per_row);
  items[3].ranged = true;
  items[3].int_lower = 1;
  items[3].int_upper = static_cast<int>(std::clamp<Index>(side, 1, 1 << 20));
  items[3].int_value = static_cast<int>(std::min(rebin, side));
  int return_code = 0;
  GS_FORM(2, 2, {"CONTROL OF COMPOSITE IMAGE", "DISPLAY PARAMETERS"},
          static_cast<int>(std::size(kCompositeHelp)), static_cast<int>(std::size(kCompositeHelp)),
          kCompositeHelp, 9, items, return_code, status);
  if (status != kStatusGood || return_code != 0) return;
  answers.subtract = items[0].logical_value;
  answers.roi = items[1].logical_value;
  remembered<CompositeAnswers>() = answers;
  per_row = items[2].int_value;
  rebin = items[3].int_value;

  if (answers.roi) {
    std::string plot_type;
    kzt_upcall(
        imageops_upcalls.gui_roi, "REGION OF INTEREST", status, a.xmaxdat, a.ymaxdat, a.xnumdat,
        a.ynumdat, std::span<const float>(kzt_xline(a.xaxis)),
        std::span<const float>(kzt_yline(a.yaxis)), std::span<const float>(kzt_image(a.data)),
        std::string_view(sets.title), std::string_view(sets.xlabel), std::string_view(sets.ylabel),
        std::string_view(sets.zlabel), a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, plot_type);
    if (status != kStatusGood) return;
  }
  const Index xs = a.xstrelm, ys = a.ystrelm, xe = a.xendelm, ye = a.yendelm;
  const Index xnum = a.xnumdat, ynum = a.ynumdat;
  const FirstMember first_member(first_answers.size, xnum, ynum);
  // A region narrower than the re-bin factor would leave empty tiles.
  rebin = std::clamp<Index>(rebin, 1, std::min(xe - xs + 1, ye - ys + 1));
  const MontageGeometry g = kzt_montage_geometry(members, xe - xs + 1, ye - ys + 1, per_row, rebin);

  // The background, in the layout of the members.
  MemberImage background;
  if (answers.subtract) {
    // One more each way: a bigger background shows by its extent.
    if (!background.allocate(xnum + 1, ynum + 1, status)) return;
    for (bool ok = false; !ok;) {
      std::string name;
      const bool read = background.read(
          {"SELECT FILE CONTAINING BACKGROUND IMAGE", "(click on \"HELP\" for list of formats)"},
          kFioSelectFile, name, 0, 0, status);
      if (status != kStatusGood) return;
      if (!read) continue;
      GS_PLOT(background.xmaxdat(), background.ymaxdat(), background.pixels(), background.xaxis(),
              background.yaxis(), 1, 1, background.xnumdat(), background.ynumdat(), "Background",
              sets.xlabel, sets.ylabel, sets.zlabel, status);
      GS_INPL(false, false, true, true, "FILE O.K.", {"Enter \"YES\" if the file is O.K."}, {}, ok,
              status);
      if (status != kStatusGood) return;
      if (ok && (background.xnumdat() < xe || background.ynumdat() < ye)) {
        // Said as a line too: a macro's next line is asked as the file again,
        // and the box alone would leave no word of why.
        IO_WRITE("WARNING: Background image smaller than the region: " + name + " (" +
                     std::to_string(background.xnumdat()) + " x " +
                     std::to_string(background.ynumdat()) + " pixels, the region ends at " +
                     std::to_string(xe) + ", " + std::to_string(ye) + ")",
                 status);
        if (!gs_warnings_on_terminal())
          GS_FWARNING(1, 1, {"BACKGROUND IMAGE SMALLER THAN THE REGION"}, status);
        ok = false;
      }
    }
  }

  // The first member, from the current data: its tile is made before the
  // arrays may be re-allocated, in blocks as the members' are.
  const std::unique_ptr<float[]> first_tile =
      std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(g.width * g.height));
  const std::span<float> first(first_tile.get(), static_cast<std::size_t>(g.width * g.height));
  TilePlace place{xs, ys, xe, ye, rebin, answers.subtract ? &background : nullptr,
                  g.width, g.height, first, 1, 1};
  sequence_started(status);
  {
    TileRows tile(place);
    const Index block = tile.block(a.xmaxdat);
    for (Index y = tile.first(); y <= tile.last() && status == kStatusGood; y += block) {
      const Index count = std::min(block, tile.last() - y + 1);
      tile.rows(y, count,
                kzt_image(a.data).subspan(static_cast<std::size_t>(element(1, y, a.xmaxdat)),
                                          static_cast<std::size_t>(count * a.xmaxdat)),
                a.xmaxdat, status);
    }
  }
  if (status != kStatusGood) return;

  if (g.xsize > a.xmaxdat || g.ysize > a.ymaxdat) {
    IO_WRITE("INFO: Required size for internal arrays = " + format_i(g.xsize, 6) + " * " +
                 format_i(g.ysize, 6) + " pixels",
             status);
    bool bigger = false;
    GS_INPL(false, false, true, true, "DESTROY AND CREATE BIGGER PROGRAM ARRAYS",
            {"The program arrays need to be bigger, this", "will destroy any existing data in the",
             "\"memory\".", "   Enter \"YES\" to create new arrays."},
            {}, bigger, status);
    if (status != kStatusGood || !bigger) return;
    // The new arrays first: without them the old ones and their data stay.
    KztArrays fresh;
    kzt_allocate_arrays(g.xsize, g.ysize, sets.memory_exist, sets.variances_exist, sets.mask_exist,
                        fresh, status);
    if (status != kStatusGood) return;
    kzt_free_arrays(a, status);
    a.xmaxdat = fresh.xmaxdat;
    a.ymaxdat = fresh.ymaxdat;
    a.data = fresh.data;
    a.variances = fresh.variances;
    a.mask = fresh.mask;
    a.xaxis = fresh.xaxis;
    a.yaxis = fresh.yaxis;
    a.mdata = fresh.mdata;
    a.mvariances = fresh.mvariances;
    a.mxaxis = fresh.mxaxis;
    a.myaxis = fresh.myaxis;
    sets.data_defined = false;
    sets.memory_defined = false;
  }

  // Every pixel of a tile is written when its member is placed; only the
  // tiles of members not input (and those past the last) are cleared.
  const std::span<float> montage = kzt_image(a.data);
  place.xmaxout = a.xmaxdat;
  place.ymaxout = a.ymaxdat;
  place.output = montage;
  kzt_montage_tile(g, 0, place.tx, place.ty);
  MA_RMOVE(g.width, g.height, first, 1, 1, g.width, g.height, a.xmaxdat, a.ymaxdat, place.tx,
           place.ty, montage, status);
  std::vector<bool> placed(static_cast<std::size_t>(g.per_row * g.rows), false);
  placed[0] = true;
  MemberImage work;  // for members of a format read only whole
  std::vector<float> buffer;
  const FioSeriesMembers later(first_answers);
  for (Index k = 1; k < members && status == kStatusGood; ++k) {
    std::string name;
    const int number = numbers[static_cast<std::size_t>(k)];
    kzt_montage_tile(g, k, place.tx, place.ty);
    if (!kzt_series_name(series, number, name, status)) {
      if (status == kStatusGood)
        IO_WRITE("WARNING: File not input: " + (name.empty() ? std::to_string(number) : name), status);
      continue;
    }
    bool whole = false;
    if (std::unique_ptr<RowSource> rows = open_member(name, first_member, whole, status)) {
      TileRows tile(place);
      const Index width = rows->xnumdat();
      const Index block = tile.block(width);
      buffer.resize(static_cast<std::size_t>(block * width));
      bool ok = true;
      for (Index y = tile.first(); ok && y <= tile.last() && status == kStatusGood; y += block) {
        const Index count = std::min(block, tile.last() - y + 1);
        ok = rows->rows(y, count, buffer, status);
        if (ok) tile.rows(y, count, buffer, width, status);
      }
      if (status != kStatusGood) break;
      if (!ok) {
        // Part of its tile is written: cleared below as a member not input.
        IO_WRITE("WARNING: File not input: " + name, status);
        continue;
      }
    } else if (!whole) {
      continue;
    } else {
      if (!read_whole(work, first_member, name, status)) {
        if (status != kStatusGood) break;
        continue;
      }
      if (answers.subtract)
        MA_RSUBTRACT(background.xmaxdat(), background.ymaxdat(), xs, ys, xe, ye,
                     background.pixels(), work.xmaxdat(), work.ymaxdat(), work.pixels(), status);
      Index oxe = 0, oye = 0;
      MA_RREBIN(work.xmaxdat(), work.ymaxdat(), work.pixels(), xs, ys, xe, ye, rebin, rebin, true,
                place.tx, place.ty, a.xmaxdat, a.ymaxdat, montage, oxe, oye, status);
      if (status != kStatusGood) break;
    }
    placed[static_cast<std::size_t>(k)] = true;
    IO_WRITE("INFO: Input " + name, status);
  }
  Status local = kStatusGood;
  for (Index k = 0; k < g.per_row * g.rows; ++k) {
    if (placed[static_cast<std::size_t>(k)]) continue;
    Index tx = 0, ty = 0;
    kzt_montage_tile(g, k, tx, ty);
    MA_RVALUE(a.xmaxdat, a.ymaxdat, tx, ty, tx + g.width - 1, ty + g.height - 1, 0.0f, montage,
              local);
  }
  if (status != kStatusGood) return;

  sets.data_defined = true;
  a.xnumdat = g.xsize;
  a.ynumdat = g.ysize;
  a.xstrelm = 1;
  a.ystrelm = 1;
  a.xendelm = g.xsize;
  a.yendelm = g.ysize;
  sets.title = series_title(series, status);
  const float step = 1.0f / static_cast<float>(rebin);
  KZT_AXES(a.xmaxdat, g.xsize, 0.0f, step, kzt_xline(a.xaxis), status);
  KZT_AXES(a.ymaxdat, g.ysize, 0.0f, step, kzt_yline(a.yaxis), status);
}

}  // namespace kesta
