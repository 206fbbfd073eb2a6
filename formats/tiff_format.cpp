#include "formats/tiff_format.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/ask_again.hpp"
#include "core/atomic_file.hpp"
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
#include "formats/detector_input.hpp"
#include "formats/format_menus.hpp"
#include "formats/text_files.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

namespace {

constexpr Index kMaxSamples = 16;  // sample widths read from a bits-per-sample entry
constexpr int kTiffOutputUnit = 25;

// What the directory of one image says.
struct TiffLayout {
  bool big_endian = false;
  Index width = -1;  // -1: no tag
  Index length = -1;
  Index bits = 1;
  Index sample_format = 1;  // 1 unsigned integers, 2 signed, 3 floating point
  bool sample_format_given = false;  // 32-bit samples are signed unless the entry says
  Index fill_order = 1;     // 1 bits from the most significant, 2 from the least
  Index compression = 1;
  Index samples = 1;          // samples per pixel (3 in a colour image)
  Index rows_per_strip = -1;  // -1: not given, the whole image
  bool rows_per_strip_given = false;
  std::vector<Index> strips;
  bool tiled = false;  // stored in tiles, not strips
};

using Entry = std::array<std::uint8_t, 12>;

// Each byte with its bits in the opposite order.
constexpr std::array<std::uint8_t, 256> kReversedBits = [] {
  std::array<std::uint8_t, 256> table{};
  for (int v = 0; v < 256; ++v) {
    int r = 0;
    for (int bit = 0; bit < 8; ++bit)
      if ((v >> bit) & 1) r |= 0x80 >> bit;
    table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(r);
  }
  return table;
}();

// The single value of an integer entry by its field type; false for another
// count or type (after the count's warning).
bool entry_value(const Entry& e, bool big, Index& value, Status& status) {
  const std::span<const std::uint8_t> b(e);
  const auto type = FIO_TIFF_INTEGER(b.subspan(2), 2, big, true);
  const auto count = FIO_TIFF_INTEGER(b.subspan(4), 4, big, true);
  if (count != 1) {
    IO_WRITE("WARNING: TIFF Integer tag contains " + format_i(count, 8) + " values", status);
    return false;
  }
  switch (type) {
    case 1: value = b[8]; return true;
    case 6: value = static_cast<std::int8_t>(b[8]); return true;
    case 3: value = FIO_TIFF_INTEGER(b.subspan(8), 2, big, true); return true;
    case 8: value = FIO_TIFF_INTEGER(b.subspan(8), 2, big, false); return true;
    case 4: value = FIO_TIFF_INTEGER(b.subspan(8), 4, big, true); return true;
    case 9: value = FIO_TIFF_INTEGER(b.subspan(8), 4, big, false); return true;
    default: return false;
  }
}

// Every value of an integer entry, unsigned (the strip offsets); RETSTAT 1
// more than MAX_VALUES, 2 values outside the file or an unknown layout. The
// values the file holds are all it can list, so a count read from it costs
// no more memory than the file's length.
int entry_values(StreamInput& file, const Entry& e, bool big, Index max_values,
                 std::vector<Index>& values, Status& status) {
  const std::span<const std::uint8_t> b(e);
  const auto type = FIO_TIFF_INTEGER(b.subspan(2), 2, big, true);
  const Index count = FIO_TIFF_INTEGER(b.subspan(4), 4, big, true);
  values.clear();
  if (count == 1) {
    Index v = 0;
    if (!entry_value(e, big, v, status)) return 2;
    values.push_back(v);
    return 0;
  }
  if (count > max_values) return 1;
  if (count < 1) return 2;
  const int size = type == 4 ? 4 : 2;
  if (count * size <= 4) {
    for (Index k = 0; k < count; ++k)
      values.push_back(FIO_TIFF_INTEGER(b.subspan(8 + 2 * k), 2, big, true));
    return 0;
  }
  if (type != 3 && type != 4) return 2;
  const Index at = FIO_TIFF_INTEGER(b.subspan(8), 4, big, true);
  if (!file.holds(at, count * size)) return 2;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count * size));
  if (!file.read(at, bytes.data(), count * size)) return 2;
  for (Index k = 0; k < count; ++k)
    values.push_back(FIO_TIFF_INTEGER(std::span(bytes).subspan(static_cast<std::size_t>(k * size)),
                                      size, big, true));
  return 0;
}

// N bytes, in words.
std::string bytes_text(Index n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// The header and the directory of image IMAGE_NUMBER: RETSTAT 0; 1 not found;
// 2 cannot decode; 3 not a TIFF file; 4 a BigTIFF file (said in one line).
// For 1, 2 and 3 PROBLEM says why, in the words that follow a file's name;
// with EXPLAIN a file that is not a TIFF file is also explained in lines of
// its own. Tags are read as far as they decode; RETSTAT 2 for one that does
// not.
int read_layout(StreamInput& file, Index image_number, bool explain, TiffLayout& layout,
                std::string& problem, Status& status) {
  std::array<std::uint8_t, 8> head{};
  // A file too short for a header cannot be decoded, said as the other
  // damaged files are: one of 0 or 1 byte whatever it holds, a longer one
  // when it starts with a TIFF file's byte order (it is cut short, not some
  // other kind of file, whatever its version word).
  if (const Index size = file.size(); size < 8) {
    file.read(0, head.data(), size);
    const std::string fewer = bytes_text(size) + ", fewer than the 8 of a TIFF header";
    if (size < 2) {
      problem = "holds " + fewer;
      return 2;
    }
    if ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M')) {
      problem = "is cut short: it holds " + fewer;
      return 2;
    }
  }
  if (!file.read(0, head.data(), 8) ||
      !((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))) {
    problem = "does not start with II nor with MM, as a TIFF file does";
    if (explain) {
      IO_WRITE("WARNING: The File does not start with II nor with MM. It is not a", status);
      IO_WRITE("         correctly defined TIFF file or has been corrupted.", status);
    }
    return 3;
  }
  layout.big_endian = head[0] == 'M';
  const bool big = layout.big_endian;
  const auto version = FIO_TIFF_INTEGER(std::span(head).subspan(2), 2, big, false);
  // A BigTIFF file (version 43, 8-byte offsets, a zero word) is sound, only
  // not read: no word of damage.
  if (version == 43 && FIO_TIFF_INTEGER(std::span(head).subspan(4), 2, big, true) == 8 &&
      FIO_TIFF_INTEGER(std::span(head).subspan(6), 2, big, true) == 0) {
    IO_WRITE("WARNING: Un-supported BigTIFF file (version 43): only classic TIFF files "
             "(version 42) are read",
             status);
    return 4;
  }
  if (version != 42) {
    problem = "gives the TIFF version " + std::to_string(version) + " where a TIFF file gives 42";
    if (explain) {
      IO_WRITE("WARNING: Bad TIFF file, tiff version = " + format_i(version, 12), status);
      IO_WRITE("         (this should equal 42)", status);
    }
    return 3;
  }
  Index ifd = FIO_TIFF_INTEGER(std::span(head).subspan(4), 4, big, true);
  // The entry count of the directory at IFD; false, PROBLEM said, when the
  // file does not hold its entries (and, with NEXT, the next one's offset).
  const auto directory = [&](Index& entries, bool next) {
    std::array<std::uint8_t, 2> count{};
    if (file.read(ifd, count.data(), 2)) {
      entries = FIO_TIFF_INTEGER(count, 2, big, true);
      if (file.holds(ifd + 2, 12 * entries + (next ? 4 : 0))) return true;
    }
    problem = ifd >= file.size()
                  ? "ends before the image directory it places at byte " + std::to_string(ifd)
                  : std::string("ends inside an image directory");
    return false;
  };
  const auto not_found = [&] {
    problem = image_number == 1 ? std::string("holds no image")
                                : "has no image " + std::to_string(image_number);
    return 1;
  };
  std::array<std::uint8_t, 4> word{};
  Index entries = 0;
  for (Index n = 1; n < image_number; ++n) {
    if (ifd == 0) return not_found();
    if (!directory(entries, true)) return 2;
    file.read(ifd + 2 + 12 * entries, word.data(), 4);
    ifd = FIO_TIFF_INTEGER(word, 4, big, true);
  }
  if (ifd == 0) return not_found();
  if (!directory(entries, false)) return 2;
  std::vector<Entry> table(static_cast<std::size_t>(entries));
  file.read(ifd + 2, table.data(), 12 * entries);
  for (const Entry& e : table) {
    const auto tag = FIO_TIFF_INTEGER(e, 2, big, true);
    const auto unreadable = [&] {
      problem = "gives a value it cannot read for tag " + std::to_string(tag);
      return 2;
    };
    Index* scalar = tag == 256   ? &layout.width
                    : tag == 257 ? &layout.length
                    : tag == 259 ? &layout.compression
                    : tag == 266 ? &layout.fill_order
                    : tag == 277 ? &layout.samples
                    : tag == 278 ? &layout.rows_per_strip
                    : tag == 339 ? &layout.sample_format
                                 : nullptr;
    if (scalar != nullptr && !entry_value(e, big, *scalar, status)) return unreadable();
    if (tag == 278) layout.rows_per_strip_given = true;
    if (tag == 339) layout.sample_format_given = true;
    // Tile width, length, offsets and byte counts.
    if (tag >= 322 && tag <= 325) layout.tiled = true;
    if (tag == 258) {
      // One width a sample: a colour image lists three, which tells the
      // samples a pixel even without their own entry.
      std::vector<Index> bits;
      if (entry_values(file, e, big, kMaxSamples, bits, status) != 0) return unreadable();
      layout.bits = bits.front();
      layout.samples = std::max(layout.samples, static_cast<Index>(bits.size()));
    }
    // As many strip offsets as the file can hold (the format sets no limit;
    // a common writer's strips of about 8 KB make 1,024 of a 2048 x 2048
    // image of 16 bits).
    if (tag == 273 &&
        entry_values(file, e, big, std::numeric_limits<Index>::max(), layout.strips, status) != 0) {
      problem = FIO_TIFF_INTEGER(std::span(e).subspan(4), 4, big, true) == 0
                    ? std::string("gives no strip offsets")
                    : std::string("gives strip offsets that lie beyond its end or cannot be read");
      return 2;
    }
  }
  return 0;
}

// COUNT stored integers of type T from BYTES into OUT, swapped and squared
// as asked (each case its own loop, so that each vectorises).
template <typename T>
void convert(const std::uint8_t* bytes, bool swap, bool square, Index count, float* out) {
  const auto load = [bytes](Index k) {
    T v;
    std::memcpy(&v, bytes + sizeof(T) * static_cast<std::size_t>(k), sizeof(T));
    return v;
  };
  const auto squared = [](double v) { return static_cast<float>(v * v / 21471.0); };
  if (swap && square)
    for (Index k = 0; k < count; ++k) out[k] = squared(byte_swapped(load(k)));
  else if (swap)
    for (Index k = 0; k < count; ++k) out[k] = static_cast<float>(byte_swapped(load(k)));
  else if (square)
    for (Index k = 0; k < count; ++k) out[k] = squared(load(k));
  else
    for (Index k = 0; k < count; ++k) out[k] = static_cast<float>(load(k));
}

// One row's pixels FIRST .. FIRST + COUNT - 1 (0-based) from the row's bytes;
// 8-, 16- and 32-bit samples signed when IS_SIGNED.
void decode_row(const std::uint8_t* row, Index bits, bool is_signed, bool swap, bool square,
                Index first, Index count, float* out) {
  switch (bits) {
    case 8:
      if (is_signed)
        for (Index k = 0; k < count; ++k) out[k] = static_cast<std::int8_t>(row[first + k]);
      else
        for (Index k = 0; k < count; ++k) out[k] = row[first + k];
      break;
    case 12:
      for (Index k = 0; k < count; ++k) {
        const Index p = first + k;
        const std::uint8_t* b = row + 3 * (p / 2);
        out[k] = p % 2 == 0 ? static_cast<float>(b[0] * 16 + b[1] / 16)
                            : static_cast<float>((b[1] % 16) * 256 + b[2]);
      }
      break;
    case 16:
      if (is_signed)
        convert<std::int16_t>(row + 2 * first, swap, square, count, out);
      else
        convert<std::uint16_t>(row + 2 * first, swap, square, count, out);
      break;
    default:
      if (is_signed)
        convert<std::int32_t>(row + 4 * first, swap, square, count, out);
      else
        convert<std::uint32_t>(row + 4 * first, swap, square, count, out);
      break;
  }
}

Index row_bytes(Index width, Index bits) {
  return bits == 12 ? (3 * width + 1) / 2 : width * (bits / 8);
}

// The rows of each strip: the rows-per-strip entry within the image, the
// whole image without one; 0 for an entry below 1, which no image can have.
Index strip_rows(const TiffLayout& t) {
  if (!t.rows_per_strip_given) return t.length;
  return t.rows_per_strip < 1 ? 0 : std::min(t.rows_per_strip, t.length);
}

// True when a strip listed for the image (uncompressed) ends beyond
// FILE_SIZE: its offset plus the bytes of its rows.
bool strip_beyond_file(const TiffLayout& t, Index row_bytes_of, Index file_size) {
  const Index rows_per_strip = strip_rows(t);
  if (rows_per_strip < 1) return true;
  for (std::size_t k = 0; k < t.strips.size(); ++k) {
    const Index first = static_cast<Index>(k) * rows_per_strip;
    if (first >= t.length) break;
    Index bytes = 0;
    if (!checked_product(std::min(rows_per_strip, t.length - first), row_bytes_of, bytes) ||
        t.strips[k] < 0 || t.strips[k] > file_size || bytes > file_size - t.strips[k])
      return true;
  }
  return false;
}

// Why the image's size cannot be read: beyond what the region questions can
// take, or (uncompressed) more pixel bytes than the file holds, in all or
// in one strip, or fewer strip offsets than the image has strips. Empty
// when it can.
std::string size_problem(const TiffLayout& t, Index file_size) {
  const std::string size =
      std::to_string(t.width) + " x " + std::to_string(t.length) + " pixels";
  constexpr Index kMost = std::numeric_limits<int>::max();
  if (t.width > kMost || t.length > kMost) return "gives an image size of " + size;
  // Rows per strip below 1: no strip holds a row, so none can be found.
  if (t.compression == 1 && t.length >= 1 && strip_rows(t) < 1)
    return "gives " + std::to_string(t.rows_per_strip) + " rows per strip for its image of " + size;
  Index row_bits = 0, bytes = 0;
  if (t.compression == 1 &&
      (!checked_product(t.width, std::max<Index>(t.bits, 1), row_bits) ||
       !checked_product((row_bits + 7) / 8, t.length, bytes) || bytes > file_size ||
       strip_beyond_file(t, (row_bits + 7) / 8, file_size)))
    return "is too short for its image of " + size;
  if (t.length >= 1 && t.compression == 1) {
    const Index rows_per_strip = strip_rows(t);
    const Index strips = (t.length + rows_per_strip - 1) / rows_per_strip;
    if (std::ssize(t.strips) < strips)
      return "gives " + std::to_string(t.strips.size()) + " strip offsets for the " +
             std::to_string(strips) + " strips of its image of " + size;
  }
  return {};
}

// True after the one line naming it for an image stored in a way no read
// decodes, whatever its samples: in tiles.
bool layout_refused(const TiffLayout& t, Status& status) {
  if (!t.tiled) return false;
  IO_WRITE("WARNING: Un-supported tiled image: only images stored in strips are read", status);
  return true;
}

void failed(const std::string& path, Status& status) {
  report_unread_file(path, "was not input", status);
}

// True after the warning when the samples are not single integers of a
// width the reader decodes, uncompressed: floating-point samples above all
// would otherwise be read as the integers of their bit patterns.
bool samples_refused(const TiffLayout& t, Status& status) {
  if (t.samples != 1) {
    IO_WRITE("WARNING: Un-supported number of samples per pixel (" + std::to_string(t.samples) +
                 "): only images of one sample a pixel are read",
             status);
    return true;
  }
  if (t.compression != 1) {
    IO_WRITE("WARNING: Un-supported compression (" + std::to_string(t.compression) +
                 "): only uncompressed images are read",
             status);
    return true;
  }
  if (t.bits != 8 && t.bits != 12 && t.bits != 16 && t.bits != 32) {
    IO_WRITE("WARNING: Un-supported number of bits per pixel (" + format_i(t.bits, 2) + ")",
             status);
    return true;
  }
  if (t.sample_format == 1 || (t.sample_format == 2 && t.bits != 12)) return false;
  IO_WRITE("WARNING: Un-supported sample format (" + std::to_string(t.sample_format) + ", " +
               std::to_string(t.bits) + " bits): only integer samples are read",
           status);
  return true;
}

}  // namespace

std::int64_t FIO_TIFF_INTEGER(std::span<const std::uint8_t> bytes, int n, bool big_endian,
                              bool is_unsigned) {
  std::int64_t value = 0;
  for (int k = 0; k < n; ++k) {
    const std::uint8_t b = bytes[static_cast<std::size_t>(big_endian ? k : n - 1 - k)];
    value = k == 0 && !is_unsigned ? static_cast<std::int8_t>(b) : value * 256 + b;
  }
  return value;
}

namespace {

// tiff_image_size; without EXPLAIN a file that is not a TIFF file is not
// explained but said by PROBLEM, as every other refusal.
void image_size_of(const std::string& path, Index image_number, bool explain, int& retstat,
                   Index& width, Index& length, std::string& problem, Status& status) {
  retstat = 1;
  width = length = 0;
  StreamInput file(path);
  if (!file.ok()) {
    problem = file.problem();
    return;
  }
  TiffLayout layout;
  const int code = read_layout(file, image_number, explain, layout, problem, status);
  if (code == 4 || (code == 0 && layout_refused(layout, status))) {
    retstat = 8;
    return;
  }
  if (code == 1 || code == 2) {
    retstat = code == 1 ? 2 : 3;
    return;
  }
  if (code == 3) {
    retstat = 3;
    if (!explain) return;
    problem.clear();
    IO_WRITE("WARNING: Bad TIFF file, the first two bytes of a genuine TIFF file", status);
    IO_WRITE("         are \"II\" or \"MM\", followed by the version 42:", status);
    IO_WRITE("         73  73  42  0        or       77  77  0  42", status);
    // The bytes the file holds, none made up for a short one.
    std::array<std::uint8_t, 8> head{};
    const Index shown = std::min<Index>(8, file.size());
    file.read(0, head.data(), shown);
    std::string line = "         ";
    for (Index k = 0; k < shown; ++k) line += format_i(head[static_cast<std::size_t>(k)], 5);
    IO_WRITE(line, status);
    IO_WRITE("(Warning comes from FIO_TIFF_IMAGESIZE.)", status);
    return;
  }
  retstat = layout.width < 1 ? 4 : layout.length < 1 ? 5 : 0;
  width = std::max<Index>(layout.width, 0);
  length = std::max<Index>(layout.length, 0);
  if (retstat == 4 || retstat == 5) {
    const bool no_width = retstat == 4;
    const Index given = no_width ? layout.width : layout.length;
    const char* name = no_width ? "width" : "length";
    problem = given < 0 ? std::string("gives no image ") + name
                        : std::string("gives an image ") + name + " of " + std::to_string(given);
    return;
  }
  // Samples no read decodes are refused first: their size in bytes means
  // nothing.
  if (retstat == 0 && samples_refused(layout, status)) retstat = 7;
  if (retstat == 0) problem = size_problem(layout, file.size());
  if (!problem.empty()) retstat = 6;
}

}  // namespace

void tiff_image_size(const std::string& path, Index image_number, int& retstat, Index& width,
                     Index& length, std::string& problem, Status& status) {
  image_size_of(path, image_number, true, retstat, width, length, problem, status);
}

ImageRead read_tiff_file(const std::string& path, const ReadRequest& request, bool mirror_x,
                         bool square_encoded, const TiffRegion& region, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput file(path);
  if (!file.ok()) {
    report_unread_file(path, file.problem(), status);
    result.retstat = 5;
    return result;
  }
  TiffLayout t;
  // LINE (empty: the refusal has been said) and the unread-file line.
  auto refuse = [&](int code, std::string_view line) {
    if (!line.empty()) IO_WRITE(std::string(line), status);
    failed(path, status);
    result.retstat = code;
    return std::move(result);
  };
  std::string problem;
  switch (read_layout(file, 1, true, t, problem, status)) {
    case 1: return refuse(1, "WARNING: Image not found");
    case 2:
      IO_WRITE("WARNING: The file " + problem, status);
      return refuse(2, kCannotDecodeLine);
    case 3: return refuse(3, "WARNING: Bad tiff file");
    case 4: return refuse(2, {});
    default: break;
  }
  if (layout_refused(t, status)) return refuse(2, {});
  if (samples_refused(t, status)) return refuse(2, kCannotDecodeLine);
  // Bytes filled from their least significant bit (as some raw-data
  // converters write them) are read with their bits reversed; without that
  // every value would be scrambled.
  if (t.fill_order != 1 && t.fill_order != 2) {
    IO_WRITE("WARNING: Un-supported fill order (" + std::to_string(t.fill_order) + ")", status);
    return refuse(2, kCannotDecodeLine);
  }
  const Index rows_per_strip = strip_rows(t);
  if (t.width < 1 || t.length < 1 || rows_per_strip < 1 || t.strips.empty())
    return refuse(2, kCannotDecodeLine);
  if (static_cast<Index>(t.strips.size()) < (t.length + rows_per_strip - 1) / rows_per_strip) {
    IO_WRITE("WARNING: Fewer strip offsets than strips", status);
    return refuse(2, kCannotDecodeLine);
  }

  TiffRegion r = region;
  if (t.width < r.xstart || t.length < r.ystart)
    return refuse(4, "WARNING: Image contains none of desired region");
  int code = 0;
  if (t.width < r.xend) {
    r.xend = t.width;
    code = -1;
  }
  if (t.length < r.yend) {
    r.yend = t.length;
    code = -1;
  }
  const Index xnum = (r.xend - r.xstart + 1) / r.xbin, ynum = (r.yend - r.ystart + 1) / r.ybin;
  if (xnum < 1 || ynum < 1) return refuse(4, "WARNING: Image contains none of desired region");
  if (xnum > request.xmaxdat || ynum > request.ymaxdat) {
    IO_WRITE("WARNING: Program arrays are not large enough to hold requested image.", status);
    return refuse(4, "WARNING: Image contains none of desired region");
  }

  // Every row wanted must lie inside the file before a pixel is read.
  const Index first_row = t.length - r.yend + 1, last_row = t.length - r.ystart + 1;
  const Index first_col = mirror_x ? t.width - r.xend + 1 : r.xstart;
  const Index last_col = mirror_x ? t.width - r.xstart + 1 : r.xend;
  const Index bytes_per_row = row_bytes(t.width, t.bits);
  // The bytes of each row read: from its first wanted column on (12-bit rows
  // whole, their pixels sharing bytes).
  const Index skip = t.bits == 12 ? 0 : (first_col - 1) * (t.bits / 8);
  const Index span = t.bits == 12 ? bytes_per_row : row_bytes(last_col, t.bits) - skip;
  auto row_offset = [&](Index row) {
    const Index s = (row - 1) / rows_per_strip;
    return t.strips[static_cast<std::size_t>(s)] + ((row - 1) % rows_per_strip) * bytes_per_row;
  };
  for (Index row = first_row; row <= last_row; ++row)
    if (!file.holds(row_offset(row) + skip, span)) {
      IO_WRITE("WARNING: A strip of the image lies beyond the end of the file", status);
      return refuse(2, kCannotDecodeLine);
    }

  if (!scratch_allocate(request, request.variances, path, result.image, status, {xnum, ynum})) {
    result.retstat = 1;
    return result;
  }
  ScratchImage& image = result.image;
  float* data = image.data.get();
  const Index xmax = request.xmaxdat;
  const bool binned = r.xbin > 1 || r.ybin > 1;
  const bool swap = t.big_endian != IO_BIG_ENDIAN();
  const bool square = square_encoded && (t.bits == 16 || t.bits == 32);
  // 32-bit samples are the format's signed integers, unless the file says
  // they are unsigned, as detectors counting beyond 2^31 write them.
  const bool is_signed = t.sample_format == 2 || (t.bits == 32 && !t.sample_format_given);
  const Index count = last_col - first_col + 1;
  const Index first_pixel = t.bits == 12 ? first_col - 1 : 0;
  std::vector<float> values(static_cast<std::size_t>(count)), sums(static_cast<std::size_t>(xnum));
  // Runs of consecutive rows of one strip are read in blocks of about 1 MB.
  const Index rows_per_block = std::max<Index>(1, (Index{1} << 20) / bytes_per_row);
  std::vector<std::uint8_t> block;
  for (Index row = first_row; row <= last_row;) {
    const Index strip_end = std::min(last_row, ((row - 1) / rows_per_strip + 1) * rows_per_strip);
    const Index n = std::min(rows_per_block, strip_end - row + 1);
    const Index bytes = (n - 1) * bytes_per_row + span;
    block.resize(static_cast<std::size_t>(bytes));
    if (!file.read(row_offset(row) + skip, block.data(), bytes)) {
      IO_WRITE("WARNING: The image could not be read", status);
      return refuse(2, kCannotDecodeLine);
    }
    if (t.fill_order == 2)
      for (std::uint8_t& b : block) b = kReversedBits[b];
    for (Index k = 0; k < n; ++k, ++row) {
      const Index j = ynum - (row - first_row) / r.ybin;
      if (j < 1) continue;  // the rest of an incomplete bin
      float* out = data + element(1, j, xmax);
      const std::uint8_t* bytes_of_row = block.data() + k * bytes_per_row;
      if (!binned && !mirror_x) {
        decode_row(bytes_of_row, t.bits, is_signed, swap, square, first_pixel, count, out);
        continue;
      }
      decode_row(bytes_of_row, t.bits, is_signed, swap, square, first_pixel, count,
                 values.data());
      // Columns summed into bins, then the first row of a bin sets the sums
      // and the others add to them.
      const float* in = values.data();
      float* v = sums.data();
      if (r.xbin == 1)
        std::copy_n(in, xnum, v);
      else if (r.xbin == 2)
        for (Index bin = 0; bin < xnum; ++bin) v[bin] = in[2 * bin] + in[2 * bin + 1];
      else
        for (Index bin = 0; bin < xnum; ++bin) {
          float sum = 0.0f;
          for (Index k = 0; k < r.xbin; ++k) sum += in[bin * r.xbin + k];
          v[bin] = sum;
        }
      if (mirror_x) std::reverse(v, v + xnum);
      if ((row - first_row) % r.ybin == 0)
        std::copy_n(v, xnum, out);
      else
        for (Index bin = 0; bin < xnum; ++bin) out[bin] += v[bin];
    }
  }
  if (code == -1) IO_WRITE("WARNING: Image does not contain all of desired region", status);

  if (image.variances)
    for (Index j = 1; j <= ynum; ++j)
      std::copy_n(data + element(1, j, xmax), xnum, image.variances.get() + element(1, j, xmax));
  image.xnumdat = xnum;
  image.ynumdat = ynum;
  image.file_xnum = t.width;
  image.file_ynum = t.length;
  image.xaxis.resize(static_cast<std::size_t>(xnum));
  image.yaxis.resize(static_cast<std::size_t>(ynum));
  for (Index i = 0; i < xnum; ++i)
    image.xaxis[static_cast<std::size_t>(i)] =
        static_cast<float>((r.xstart - 1) + (i + 0.5) * r.xbin);
  for (Index j = 0; j < ynum; ++j)
    image.yaxis[static_cast<std::size_t>(j)] =
        static_cast<float>((r.ystart - 1) + (j + 0.5) * r.ybin);
  image.title = path.substr(0, 80);
  image.xlabel = "Columns";
  image.ylabel = "Rows";
  image.zlabel = "Intensity";
  result.retstat = 0;
  return result;
}

namespace {

// The region both asking roads remember for the run, and the answers of the
// last read that asked (what a series' later members are read with).
struct TiffInputState {
  bool defined = false;
  TiffRegion region;
  TiffAnswers answered;
};
TiffInputState tiff_input_state;

}  // namespace

RegionRefusal binned_region_refusal(const ReadRequest& request, const TiffRegion& region) {
  const Index xnum = (region.xend - region.xstart + 1) / region.xbin,
              ynum = (region.yend - region.ystart + 1) / region.ybin;
  if (xnum < 1 || ynum < 1) return RegionRefusal::kBins;
  if (xnum > request.xmaxdat || ynum > request.ymaxdat) return RegionRefusal::kArrays;
  return RegionRefusal::kNone;
}

namespace {

// Asks the bins and the region until its bins fit the arrays; false after a
// user escape. A refused region is asked for again offering the one offered
// before.
bool ask_region(const ReadRequest& request, Index width, Index length, TiffRegion& r,
                Status& status) {
  RegionRefusal refusal = RegionRefusal::kNone;
  return io_ask_until_accepted(
      r,
      [&](TiffRegion& t, Status& s) {
        auto ask = [&](const char* prompt, const char* help, Index lower, Index upper,
                       Index& value) { return ask_index(prompt, help, lower, upper, value, s); };
        (void)(ask("X REBIN NUMBER", "Number of image pixels summed into one pixel horizontally",
                   1, width, t.xbin) &&
               ask("Y REBIN NUMBER", "Number of image pixels summed into one pixel vertically", 1,
                   length, t.ybin) &&
               ask("LEFT-HAND PIXEL OF IMAGE REGION", "First column of the region to input", 1,
                   width, t.xstart) &&
               ask("LOWER PIXEL OF IMAGE REGION", "First row (from the bottom) of the region", 1,
                   length, t.ystart) &&
               ask("RIGHT-HAND PIXEL OF IMAGE REGION", "Last column of the region to input",
                   t.xstart, width, t.xend) &&
               ask("UPPER PIXEL OF IMAGE REGION", "Last row (from the bottom) of the region",
                   t.ystart, length, t.yend));
      },
      [&](const TiffRegion& t) {
        refusal = binned_region_refusal(request, t);
        return refusal == RegionRefusal::kNone;
      },
      [&](Status& s) {
        if (refusal == RegionRefusal::kBins) {
          IO_WRITE("WARNING: A re-bin factor is larger than the region; redefine them.", s);
        } else {
          IO_WRITE("WARNING: Program arrays are not large enough to hold requested image.", s);
          IO_WRITE("Redefine smaller region (or change array sizes).", s);
        }
      },
      status);
}

// What the asking roads make of image 1 of a file before a question.
enum class SizeRead {
  kRead,        // the size is known
  kUnreadable,  // the file cannot be read (its problem said)
  kNoSize,      // the file gives no size
  kUndecodable,  // samples that are not integers (said): refused before anything is asked
  kNotRead       // a kind of file or image the reader does not read (said in one line)
};

// The size of image 1 of PATH (of a running series' MEMBER).
SizeRead image_size(const std::string& path, Index& width, Index& length, Status& status,
                    bool member = false) {
  int retstat = 0;
  std::string problem;
  // A series member that is not a TIFF file at all is said in one line, as
  // any other member refused: the explanation is for the user who chose it.
  image_size_of(path, 1, !member, retstat, width, length, problem, status);
  if (retstat == 7) return SizeRead::kUndecodable;
  if (retstat == 8) return SizeRead::kNotRead;
  if (retstat == 0) return SizeRead::kRead;
  if (problem.empty()) return SizeRead::kNoSize;
  report_unread_file(path, problem, status);
  return SizeRead::kUnreadable;
}

// The refusal of an image whose samples cannot be decoded, or (NOT_READ)
// that is of a kind the reader does not read, after the line naming it, as
// the read itself refuses it.
ImageRead undecodable(const std::string& path, SizeRead size, Status& status) {
  if (size != SizeRead::kNotRead) IO_WRITE(std::string(kCannotDecodeLine), status);
  failed(path, status);
  ImageRead refused;
  refused.retstat = 2;
  return refused;
}

// The size of image 1 of PATH (said on the terminal, with the warning when
// the arrays cannot hold it) and the remembered region fitted into it (at
// first the whole image within the arrays).
SizeRead image_and_region(const ReadRequest& request, const std::string& path, Index& width,
                          Index& length, Status& status) {
  if (const SizeRead size = image_size(path, width, length, status); size != SizeRead::kRead)
    return size;
  IO_WRITE(
      "INFO: Full image size = " + format_i(width, 9) + " * " + format_i(length, 9) + " pixels",
      status);
  warn_partial_image(width, length, request, status);
  TiffRegion& r = tiff_input_state.region;
  if (!tiff_input_state.defined) {
    tiff_input_state.defined = true;
    r = TiffRegion{1, 1, std::min(width, request.xmaxdat), std::min(length, request.ymaxdat), 1, 1};
  }
  r.xend = std::min(r.xend, width);
  r.yend = std::min(r.yend, length);
  r.xstart = std::min(r.xstart, r.xend);
  r.ystart = std::min(r.ystart, r.yend);
  return SizeRead::kRead;
}

ImageRead tiff_road(const ReadRequest& request, bool imagequant, std::string& file_name,
                    Status& status) {
  std::string path;
  if (!ask_input_file("DATA FILE NAME", {"Name of tiff file containing image"}, kRetypeName,
                      file_name, path, status))
    return {};
  Index width = 0, length = 0;
  const SizeRead size = image_and_region(request, path, width, length, status);
  if (size == SizeRead::kUndecodable || size == SizeRead::kNotRead)
    return undecodable(path, size, status);
  if (size != SizeRead::kRead) {
    // A file that cannot be read has said its problem.
    if (size == SizeRead::kNoSize) {
      IO_WRITE("WARNING: Image size not returned from file", status);
      failed(path, status);
    }
    return {};
  }
  TiffRegion& r = tiff_input_state.region;
  if (!ask_region(request, width, length, r, status)) return {};
  tiff_input_state.answered = {true, r, width, length};
  ImageRead read = read_tiff_file(path, request, imagequant, imagequant, r, status);
  if (read.retstat == -1) read.retstat = 0;
  return read;
}

// The graphical road: the named file, the region form until the region
// fits the arrays, then the read.
ImageRead tiff_gui_road(const ReadRequest& request, bool imagequant, std::string& file_name,
                        Status& status) {
  std::string path;
  if (!input_path(file_name, path, status)) return {};
  Index width = 0, length = 0;
  const SizeRead size = image_and_region(request, path, width, length, status);
  if (size == SizeRead::kUndecodable || size == SizeRead::kNotRead)
    return undecodable(path, size, status);
  if (size != SizeRead::kRead) {
    if (size == SizeRead::kNoSize) gs_refusal({"IMAGE SIZE NOT RETURNED FROM FILE"}, status);
    return {};
  }
  TiffRegion& r = tiff_input_state.region;
  auto item = [](const char* label, const char* prompt, Index upper, Index value) {
    return fio_form_integer(label, prompt, prompt, 1, upper, value);
  };
  static const std::string kHelp[] = {
      "This form defines the part of the image to input and",
      "the number of pixels summed into each input pixel."};
  for (;;) {
    std::vector<GsFormItem> items{
        item("X-START", "LEFT-HAND PIXEL INPUT LIMIT", width, r.xstart),
        item("Y-START", "LOWER PIXEL INPUT LIMIT", length, r.ystart),
        item("X-END", "RIGHT-HAND PIXEL INPUT LIMIT", width, r.xend),
        item("Y-END", "UPPER PIXEL INPUT LIMIT", length, r.yend),
        item("X RE-BIN", "HORIZONTAL RE-BIN FACTOR", width, r.xbin),
        item("Y RE-BIN", "VERTICAL RE-BIN FACTOR", length, r.ybin)};
    int code = 0;
    GS_FORM(1, 1, {"INPUT REGION AND RE-BIN FACTOR FORM"}, 2, 2, kHelp, 11, items, code, status);
    if (status != kStatusGood) return {};
    if (code != 0) {
      ImageRead cancelled;
      cancelled.retstat = -1;
      return cancelled;
    }
    const TiffRegion t{items[0].int_value, items[1].int_value, items[2].int_value,
                       items[3].int_value, items[4].int_value, items[5].int_value};
    const Index xnum = (t.xend - t.xstart + 1) / t.xbin, ynum = (t.yend - t.ystart + 1) / t.ybin;
    if (t.xstart > t.xend || t.ystart > t.yend || xnum < 1 || ynum < 1) {
      gs_refusal({"INPUT REGION IMPOSSIBLY DEFINED"}, status);
    } else if (xnum > request.xmaxdat || ynum > request.ymaxdat) {
      gs_refusal({"INPUT REGION TOO LARGE FOR ARRAYS"}, status);
    } else {
      r = t;
      tiff_input_state.answered = {true, r, width, length};
      break;
    }
    if (status != kStatusGood) return {};
  }
  GS_FPROMPT(1, 1, {"INPUTTING DATA FROM FILE"}, status);
  GS_UPDATE(status);
  ImageRead read = read_tiff_file(path, request, imagequant, imagequant, r, status);
  if (read.retstat == -1) read.retstat = 0;
  return read;
}

}  // namespace

TiffAnswers tiff_answers() { return tiff_input_state.answered; }

ImageRead tiff_member_read(const ReadRequest& request, bool imagequant,
                           const TiffAnswers& answers, std::string& file_name, Status& status) {
  std::string path;
  if (!input_path(file_name, path, status)) return {};
  Index width = 0, length = 0;
  const SizeRead size = image_size(path, width, length, status, true);
  if (size == SizeRead::kUndecodable || size == SizeRead::kNotRead)
    return undecodable(path, size, status);
  if (size != SizeRead::kRead) {
    // A file that cannot be opened is said in one line, by its problem.
    if (size == SizeRead::kNoSize) {
      IO_WRITE("WARNING: Image size not returned from file", status);
      failed(path, status);
    }
    return {};
  }
  if (answers.given && (width != answers.width || length != answers.length)) {
    IO_WRITE("WARNING: File not the size of the first file: " + file_name, status);
    ImageRead refused;
    refused.retstat = 6;
    return refused;
  }
  const TiffRegion whole{1, 1, std::min(width, request.xmaxdat), std::min(length, request.ymaxdat),
                         1, 1};
  if (!answers.given) warn_partial_image(width, length, request, status);
  ImageRead read = read_tiff_file(path, request, imagequant, imagequant,
                                  answers.given ? answers.region : whole, status);
  if (read.retstat == -1) read.retstat = 0;
  return read;
}

ImageRead tiff_gui_read(const ReadRequest& request, bool imagequant, std::string& file_name,
                        Status& status) {
  return tiff_gui_road(request, imagequant, file_name, status);
}

ImageRead tiff_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  return tiff_road(request, false, file_name, status);
}

ImageRead imagequant_keyboard_read(const ReadRequest& request, std::string& file_name,
                                   Status& status) {
  return tiff_road(request, true, file_name, status);
}

namespace {

// One 12-byte entry at the 1-based POSITION of the header, machine order.
void put_entry(std::vector<std::uint8_t>& header, Index position, std::uint16_t tag,
               std::uint16_t type, std::uint32_t count, std::uint32_t value) {
  std::uint8_t* at = header.data() + position - 1;
  std::memcpy(at, &tag, 2);
  std::memcpy(at + 2, &type, 2);
  std::memcpy(at + 4, &count, 4);
  if (type == 3) {
    const auto v = static_cast<std::uint16_t>(value);
    std::memcpy(at + 8, &v, 2);
  } else {
    std::memcpy(at + 8, &value, 4);
  }
}

void put_word(std::vector<std::uint8_t>& header, Index offset, std::uint32_t value) {
  std::memcpy(header.data() + offset, &value, 4);
}

// Pixels a centimetre times 10000 for a pixel size in metres.
std::uint32_t resolution(float pixel_size) {
  if (!(pixel_size > 0.0f)) return 0;
  const double r = std::nearbyint(100.0 / static_cast<double>(pixel_size));
  return static_cast<std::uint32_t>(std::clamp(r, 0.0, 4294967295.0));
}

}  // namespace

void FIO_OUT_TIFF(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  std::span<const float> data, std::string_view title, float x_pixel_size,
                  float y_pixel_size, std::string& output_file, int& bits, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_TIFF V0.9";
  if (st_bad(status, kPosition)) return;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  if (bits != 8 && bits != 16) {
    st_fail(status, kBaseApp + 17, kPosition);
    return;
  }
  OfferedAnswer name(output_file);
  if (gui) {
    // The bits come from the menu button ("TIFF 8 BIT", "TIFF 16 BIT").
    IO_OUTFILE(0, input_file, ".tif", "data.tif", output_file, status);
    if (!fio_gui_default_file(input_file, "TIFF format",
                              {"SELECT OUTPUT FILE FOR", "TIFF FORMAT"},
                              {"Use the file selection tool to select a directory",
                               "and an output file to contain the data, storage in",
                               "TIFF format. Normally such a file ends",
                               "with the extension \".tif\"."},
                              output_file, status))
      return;
  } else {
    io_input_file_name(true, "NAME OF TIFF OUTPUT FILE", {"Name of file to contain output data"},
                       {"Unacceptable input"}, 11, output_file, status);
    if (status != kStatusGood) return;
    static const std::vector<std::string> kTypes = {"1 BYTE UNSIGNED INTEGERS",
                                                    "2 BYTE UNSIGNED INTEGERS"};
    std::string type = kTypes[bits == 8 ? 0 : 1];
    IO_MENU(true, "DATA TYPE FOR PIXEL VALUES",
            {"1 BYTE UNSIGNED INTEGERS: pixel values 0 to 255",
             "2 BYTE UNSIGNED INTEGERS: pixel values 0 to 65535"},
            {"Enter one of available choices"}, 2, kTypes, type, status);
    if (status != kStatusGood || type == "null") return;
    bits = type == kTypes[0] ? 8 : 16;
  }

  const RegionExtremes extremes =
      io_region_extremes(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, status);
  io_write_extremes(extremes, status);
  float lower = std::max(0.0f, extremes.finite_min);
  // 16 bits propose at most 65535, so that integer counts are written as they
  // are; data lying wholly above it are offered their own maximum instead.
  float upper = extremes.finite_max;
  if (bits == 16 && 65535.0f > lower) upper = std::min(upper, 65535.0f);
  io_apart_limits(lower, upper);
  if (status != kStatusGood) return;
  if (!gui || fio_chosen_output() == nullptr) {
    static const std::string kLowerHelp[] = {"Value written as 0; lower values are written as 0"};
    static const std::string kUpperHelp[] = {
        "Value written as the largest integer; higher values are clipped"};
    const RangeWarning box = [](Status& s) {
      gs_refusal({"THE SCALING RANGE IS INVALID"}, s);
    };
    if (!io_ask_scaling_range(gui ? GS_INPR : IO_INPR, kLowerHelp, kUpperHelp,
                              gui ? box : nullptr, lower, upper, status)) {
      if (status == kStatusEscape && gui) st_reset(status);  // CANCEL: nothing written
      return;
    }
  } else if (!io_scaling_range_valid(lower, upper)) {
    IO_WRITE("WARNING: The scaling range is invalid; no file written", status);
    return;
  }

  int trans = 0;
  std::string path;
  IO_TRANS_PATH(output_file, trans, path, status);
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

  const Index columns = xendelm - xstrelm + 1, rows = yendelm - ystrelm + 1;
  std::vector<std::uint8_t> header(512, 0);
  header[0] = header[1] = IO_BIG_ENDIAN() ? 'M' : 'I';
  const std::uint16_t version = 42, entries = 12;
  std::memcpy(header.data() + 2, &version, 2);
  put_word(header, 4, 8);
  std::memcpy(header.data() + 8, &entries, 2);
  std::string text = used_text(title).size() <= 3 ? "KESTA: " + std::string(used_text(title))
                                                  : std::string(used_text(title));
  text.resize(std::min<std::size_t>(text.size(), 512 - 174 - 1));
  const auto u32 = [](Index v) { return static_cast<std::uint32_t>(v); };
  put_entry(header, 11, 256, 4, 1, u32(columns));
  put_entry(header, 23, 257, 4, 1, u32(rows));
  put_entry(header, 35, 258, 3, 1, u32(bits));
  put_entry(header, 47, 259, 3, 1, 1);
  put_entry(header, 59, 262, 3, 1, 0);
  put_entry(header, 71, 270, 2, u32(text.size() + 1), 174);
  put_entry(header, 83, 273, 4, 1, 512);
  put_entry(header, 95, 278, 4, 1, u32(rows));
  put_entry(header, 107, 279, 4, 1, u32(columns * rows * (bits / 8)));
  put_entry(header, 119, 282, 5, 1, 158);
  put_entry(header, 131, 283, 5, 1, 166);
  put_entry(header, 143, 296, 3, 1, 3);
  put_word(header, 158, resolution(x_pixel_size));
  put_word(header, 162, 10000);
  put_word(header, 166, resolution(y_pixel_size));
  put_word(header, 170, 10000);
  std::memcpy(header.data() + 174, text.data(), text.size());

  bool write_failed = !out.write(header.data(), header.size());
  if (!write_failed) {
    io_set_stream(kTiffOutputUnit, out.stream());
    Index record = 2;
    io_uwrite_region(kTiffOutputUnit, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                     512, bits / 8, IO_BIG_ENDIAN(), false, false, true, record, lower, upper,
                     write_failed, status);
    io_set_stream(kTiffOutputUnit, nullptr);
  }
  // A failed write through the stream leaves its reason in errno.
  if (write_failed) out.fail();
  if (write_failed || status != kStatusGood || !out.commit()) {
    out.abandon();
    report_output_write_failure(out, kPosition, status);
  }
}

}  // namespace kesta
