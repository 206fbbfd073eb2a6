#include "formats/huffman_codec.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <tuple>
#include <vector>

#include "core/ask_again.hpp"
#include "core/atomic_file.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "formats/detector_input.hpp"
#include "formats/format_menus.hpp"
#include "formats/reader_support.hpp"
#include "formats/text_files.hpp"

namespace kesta {

namespace {

constexpr int kMinSymbol = -127, kMaxSymbol = 127;
constexpr std::size_t kPiece = 1024;

struct HuffmanState {
  std::string output = "test.huf";
  int mode = 0;
  int predictor = 1;
  HuffmanCode code;
  bool code_exists = false;
};
HuffmanState fio_huffman_state;

// The prediction of pixel (x, y) (0-based) of a W-wide image ROW-major in V.
template <typename Value>
int predict(const Value* v, Index w, Index x, Index y, int predictor) {
  if (y == 0) return x == 0 ? 0 : v[x - 1];
  const Value* up = v + (y - 1) * w;
  const int b = up[x];
  if (x == 0) return predictor == 4 && w > 1 ? (b + up[1]) / 2 : b;
  const int a = v[y * w + x - 1], c = up[x - 1];
  switch (predictor) {
    case 1: return a;
    case 2: return (a + b) / 2;
    case 3: return (a + b + c) / 3;
    default: return x == w - 1 ? (a + b + c) / 3 : (a + b + c + up[x + 1]) / 4;
  }
}

// Bits into 1024-byte pieces, most significant bit first.
class BitWriter {
 public:
  explicit BitWriter(std::FILE* file) : file_(file) {}
  void put(std::uint32_t value, int length) {
    for (int i = length - 1; i >= 0; --i) {
      current_ = static_cast<std::uint8_t>((current_ << 1) | ((value >> i) & 1u));
      if (++bits_ == 8) {
        buffer_[at_++] = current_;
        bits_ = 0;
        current_ = 0;
        if (at_ == kPiece) flush();
      }
    }
  }
  // False when a write failed, with errno the reason of the first that did.
  bool finish() {
    if (bits_ > 0) {
      buffer_[at_++] = static_cast<std::uint8_t>(current_ << (8 - bits_));
      bits_ = 0;
    }
    flush();
    if (!ok_) errno = error_;
    return ok_;
  }

 private:
  void flush() {
    errno = 0;
    if (at_ > 0 && std::fwrite(buffer_.data(), 1, at_, file_) != at_ && ok_) {
      ok_ = false;
      error_ = errno;
    }
    at_ = 0;
  }
  std::FILE* file_;
  std::array<std::uint8_t, kPiece> buffer_{};
  std::size_t at_ = 0;
  std::uint8_t current_ = 0;
  int bits_ = 0;
  bool ok_ = true;
  int error_ = 0;
};

// Bits from the file, most significant bit first.
class BitReader {
 public:
  explicit BitReader(std::FILE* file) : file_(file) {}
  // The next bit, or -1 at the end of the file.
  int get() {
    if (bits_ == 0) {
      if (at_ == size_) {
        size_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        at_ = 0;
        if (size_ == 0) return -1;
      }
      current_ = buffer_[at_++];
      bits_ = 8;
    }
    --bits_;
    return (current_ >> bits_) & 1;
  }
  bool get_bits(int n, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < n; ++i) {
      const int bit = get();
      if (bit < 0) return false;
      value = (value << 1) | static_cast<std::uint32_t>(bit);
    }
    return true;
  }

 private:
  std::FILE* file_;
  std::array<std::uint8_t, kPiece> buffer_{};
  std::size_t size_ = 0, at_ = 0;
  std::uint8_t current_ = 0;
  int bits_ = 0;
};

// The code of the used symbols (COUNT non-zero), built by repeatedly joining
// the two smallest counts; false when a length passes 32.
bool build_code(std::vector<std::int64_t> count, HuffmanCode& code) {
  const std::size_t n = count.size();
  constexpr std::int64_t kRemoved = std::numeric_limits<std::int64_t>::max();
  for (auto& c : count)
    if (c == 0) c = kRemoved;
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  const auto used = static_cast<std::size_t>(std::count_if(count.begin(), count.end(),
                                                           [](std::int64_t c) { return c != kRemoved; }));
  code.lengths.fill(0);
  code.codes.fill(0);
  if (used == 1) {
    // One symbol alone still needs a code of one bit.
    for (std::size_t i = 0; i < n; ++i)
      if (count[i] != kRemoved) code.lengths[i] = 1;
    return true;
  }
  for (std::size_t k = 1; k < used; ++k) {
    std::size_t s1 = n, s2 = n;
    for (std::size_t i = 0; i < n; ++i)
      if (count[i] != kRemoved && (s1 == n || count[i] < count[s1])) s1 = i;
    for (std::size_t i = 0; i < n; ++i)
      if (i != s1 && count[i] != kRemoved && (s2 == n || count[i] < count[s2])) s2 = i;
    pairs.emplace_back(s1, s2);
    count[s2] += count[s1];
    count[s1] = kRemoved;
  }
  std::vector<std::uint64_t> codes(n, 0);
  std::vector<int> lengths(n, 0);
  const auto [last1, last2] = pairs.back();
  codes[last2] = 0;
  codes[last1] = 1;
  lengths[last1] = lengths[last2] = 1;
  for (std::size_t k = pairs.size() - 1; k-- > 0;) {
    const auto [s1, s2] = pairs[k];
    lengths[s1] = lengths[s2] + 1;
    lengths[s2] += 1;
    codes[s1] = codes[s2] * 2 + 1;
    codes[s2] = codes[s2] * 2;
    if (lengths[s1] > 32) return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    code.lengths[i] = static_cast<std::uint8_t>(lengths[i]);
    code.codes[i] = static_cast<std::uint32_t>(codes[i]);
  }
  return true;
}

bool write_int(std::FILE* file, std::int32_t v) { return std::fwrite(&v, 4, 1, file) == 1; }
bool read_int(std::FILE* file, std::int32_t& v) { return std::fread(&v, 4, 1, file) == 1; }

}  // namespace

void fio_reset_huffman() { fio_huffman_state = HuffmanState{}; }

int FIO_OUT_2DI2C(std::FILE* file, int mode, int predictor, int min_symbol, int max_symbol,
                  std::span<const std::uint16_t> image, Index xmaxdat, Index ymaxdat,
                  Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, HuffmanCode& code) {
  if ((mode != 0 && mode != 1) || predictor < 1 || predictor > 4) return 1;
  if (!(min_symbol > -65535 && min_symbol <= max_symbol && max_symbol < 65536)) return 2;
  const int n = max_symbol - min_symbol + 2;
  if (n > kHuffmanMaxSymbols) return 3;
  if (xmaxdat < 1 || ymaxdat < 1 || !array_holds(image.size(), xmaxdat, ymaxdat)) return 4;
  if (xstrelm < 1 || xendelm > xmaxdat || xstrelm > xendelm) return 5;
  if (ystrelm < 1 || yendelm > ymaxdat || ystrelm > yendelm) return 6;
  const Index w = xendelm - xstrelm + 1, h = yendelm - ystrelm + 1;
  // The region as its own contiguous image.
  std::vector<std::uint16_t> v(static_cast<std::size_t>(w * h));
  for (Index y = 0; y < h; ++y)
    std::copy_n(image.begin() + element(xstrelm, ystrelm + y, xmaxdat), w, v.begin() + y * w);
  auto symbol_of = [&](int r) { return r >= min_symbol && r <= max_symbol ? r - min_symbol + 1 : 0; };

  std::vector<std::int64_t> count(static_cast<std::size_t>(n), 0);
  for (Index y = 0; y < h; ++y)
    for (Index x = 0; x < w; ++x)
      ++count[static_cast<std::size_t>(symbol_of(v[y * w + x] - predict(v.data(), w, x, y, predictor)))];
  if (mode == 0) {
    if (!build_code(count, code)) return 7;
  } else {
    for (int i = 0; i < n; ++i)
      if (count[static_cast<std::size_t>(i)] > 0 && code.lengths[static_cast<std::size_t>(i)] == 0)
        return 8;
  }

  bool ok = write_int(file, static_cast<std::int32_t>(w)) &&
            write_int(file, static_cast<std::int32_t>(h)) && write_int(file, 16) &&
            write_int(file, predictor) && write_int(file, min_symbol) &&
            write_int(file, max_symbol);
  ok = ok && std::fwrite(code.lengths.data(), 1, static_cast<std::size_t>(n), file) ==
                 static_cast<std::size_t>(n);
  for (int i = 0; ok && i < n; ++i)
    ok = write_int(file, static_cast<std::int32_t>(code.codes[static_cast<std::size_t>(i)]));
  if (!ok) return 9;
  BitWriter out(file);
  for (Index y = 0; y < h; ++y)
    for (Index x = 0; x < w; ++x) {
      const int r = v[y * w + x] - predict(v.data(), w, x, y, predictor);
      const auto s = static_cast<std::size_t>(symbol_of(r));
      out.put(code.codes[s], code.lengths[s]);
      if (s != 0) continue;
      if (r >= -32767 && r <= 32767) {
        out.put(static_cast<std::uint16_t>(r), 16);
      } else {
        out.put(0x8000u, 16);
        out.put(static_cast<std::uint32_t>(r), 32);
      }
    }
  return out.finish() ? 0 : 9;
}

int FIO_IN_2DI2C(std::FILE* file, Index xmaxdat, Index ymaxdat, Index& x_size, Index& y_size,
                 std::span<std::uint16_t> image, Status& status) {
  if (xmaxdat < 1 || ymaxdat < 1) return 1;
  std::int32_t hdr[6] = {};
  for (auto& v : hdr)
    if (!read_int(file, v)) return 5;
  const auto [x, y, bits, predictor, min_symbol, max_symbol] =
      std::tuple{hdr[0], hdr[1], hdr[2], hdr[3], hdr[4], hdr[5]};
  (void)bits;
  IO_WRITE("Image size = " + std::to_string(x) + " by " + std::to_string(y) + " pixels", status);
  IO_WRITE("predictor, min_symbol, max_symbol = " + std::to_string(predictor) + " " +
               std::to_string(min_symbol) + " " + std::to_string(max_symbol),
           status);
  if (x < 1 || y < 1 || x > xmaxdat || y > ymaxdat || predictor < 1 || predictor > 4 ||
      max_symbol < min_symbol)
    return 5;
  if (static_cast<std::int64_t>(max_symbol) - min_symbol >= 2047) return 3;
  if (!array_holds(image.size(), x, y)) return 4;
  const int n = max_symbol - min_symbol + 2;
  std::vector<std::uint8_t> lengths(static_cast<std::size_t>(n));
  std::vector<std::int32_t> codes(static_cast<std::size_t>(n));
  if (std::fread(lengths.data(), 1, lengths.size(), file) != lengths.size()) return 5;
  for (auto& c : codes)
    if (!read_int(file, c)) return 5;
  // The used symbols sorted by length, then code; FIRST[l] where length l starts.
  struct Entry {
    int length;
    std::uint32_t code;
    int symbol;
  };
  std::vector<Entry> table;
  for (int i = 0; i < n; ++i) {
    const int l = lengths[static_cast<std::size_t>(i)];
    const auto c = static_cast<std::uint32_t>(codes[static_cast<std::size_t>(i)]);
    if (l == 0) continue;
    if (l > 32 || (l < 32 && (c >> l) != 0)) return 5;
    table.push_back({l, c, i});
  }
  if (table.empty()) return 5;
  std::sort(table.begin(), table.end(), [](const Entry& a, const Entry& b) {
    return a.length != b.length ? a.length < b.length : a.code < b.code;
  });
  std::array<std::size_t, 34> first{};
  for (int l = 0, i = 0; l <= 33; ++l) {
    while (i < static_cast<int>(table.size()) && table[static_cast<std::size_t>(i)].length < l) ++i;
    first[static_cast<std::size_t>(l)] = static_cast<std::size_t>(i);
  }
  BitReader in(file);
  const Index w = x;
  for (Index row = 0; row < y; ++row)
    for (Index col = 0; col < w; ++col) {
      std::uint32_t value = 0;
      int symbol = -1;
      for (int l = 1; l <= 32 && symbol < 0; ++l) {
        const int bit = in.get();
        if (bit < 0) return 5;
        value = (value << 1) | static_cast<std::uint32_t>(bit);
        const auto begin = table.begin() + static_cast<std::ptrdiff_t>(first[static_cast<std::size_t>(l)]);
        const auto end = table.begin() + static_cast<std::ptrdiff_t>(first[static_cast<std::size_t>(l + 1)]);
        const auto hit = std::lower_bound(begin, end, value,
                                          [](const Entry& e, std::uint32_t v) { return e.code < v; });
        if (hit != end && hit->code == value) symbol = hit->symbol;
      }
      if (symbol < 0) return 5;
      std::int64_t r = 0;
      if (symbol != 0) {
        r = symbol - 1 + min_symbol;
      } else {
        std::uint32_t word = 0;
        if (!in.get_bits(16, word)) return 5;
        if (word == 0x8000u) {
          if (!in.get_bits(32, word)) return 5;
          r = static_cast<std::int32_t>(word);
        } else {
          r = static_cast<std::int16_t>(word);
        }
      }
      const int p = predict(image.data(), w, col, row, predictor);
      image[static_cast<std::size_t>(row * w + col)] = static_cast<std::uint16_t>((p + r) & 0xFFFF);
    }
  x_size = x;
  y_size = y;
  return 0;
}

void FIO_OUT_HUFFMAN(bool gui, std::string_view input_file, Index xmaxdat, Index ymaxdat,
                     Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                     std::span<const float> data, int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUT_HUFFMAN V0.5";
  if (st_bad(status, kPosition)) return;
  retstat = 1;
  if (const Status e = array_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                          data.size(), kBaseFormats);
      e != 0) {
    st_fail(status, e, kPosition);
    return;
  }
  auto& s = fio_huffman_state;
  OfferedAnswer name(s.output);
  IO_WRITE(" ", status);
  IO_WRITE("WARNING: THIS IS ONLY FOR TEST PURPOSES", status);
  IO_WRITE(" ", status);
  if (gui) {
    IO_OUTFILE(0, input_file, ".huf", "test.huf", s.output, status);
    if (!fio_gui_default_file(input_file, "KESTA format",
                              {"SELECT OUTPUT FILE FOR", "HUFFMAN CODING"},
                              {"Use the file selection tool to select a directory",
                               "and an output file to contain the data, storage in",
                               "compressed form. Normally such a file ends",
                               "with the extension \".huf\"."},
                              s.output, status))
      return;
  } else {
    io_input_file_name(true, "OUTPUT FILE NAME", {"Name of file to contain output data"},
                       {"Unacceptable input"}, 11, s.output, status);
    if (status != kStatusGood) return;
  }
  std::string path;
  int trans = 0;
  IO_TRANS_PATH(s.output, trans, path, status);
  if (status != kStatusGood) return;
  if (trans != 0) {
    IO_WRITE("WARNING: Problem with file directory path (directory doesn't exist ?)", status);
    name.refuse();
    return;
  }
  IO_INPI(true, 1, 4, true, "PREDICTOR ALGORITHM TO APPLY",
          {"Enter predictor to apply to the image; with a the pixel to the left,",
           "b the pixel above, c above left and d above right:",
           "1: predictor = x - a", "2: predictor = x - (a + b) / 2",
           "3: predictor = x - (a + b + c) / 3", "4: predictor = x - (a + b + c + d) / 4",
           "(All in integer arithmetic)"},
          {"Enter integer in given range"}, s.predictor, status);
  IO_INPI(true, 0, 1, true, "MODE OF OPERATION",
          {"Enter mode of operation: 0 = Calculate probabilities and Huffman code",
           "1 = Use existing Huffman code (must exist)"},
          {"Enter integer in given range"}, s.mode, status);
  if (status != kStatusGood) return;
  if (s.mode == 1 && !s.code_exists) {
    IO_WRITE("WARNING: No Huffman code has been calculated yet in this run: use mode 0; "
             "nothing has been written",
             status);
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  const Index w = xendelm - xstrelm + 1, h = yendelm - ystrelm + 1;
  std::vector<std::uint16_t> work;
  try {
    work.resize(static_cast<std::size_t>(w * h));
  } catch (const std::bad_alloc&) {
    IO_WRITE("WARNING: Not enough memory for the Huffman output", status);
    return;
  }
  // Rounded (halves away from zero) and clipped to 16 bits; NaN as 0.
  const auto to_16_bits = [](float v) {
    const float r = std::round(v);
    return static_cast<std::uint16_t>(r >= 65535.0f ? 65535.0f : r > 0.0f ? r : 0.0f);
  };
  Index below = 0, above = 0;  // finite values the 16 bits do not hold
  for (Index y = 0; y < h; ++y)
    for (Index x = 0; x < w; ++x) {
      const float v = data[static_cast<std::size_t>(element(xstrelm + x, ystrelm + y, xmaxdat))];
      below += v <= -0.5f && v >= -std::numeric_limits<float>::max() ? 1 : 0;
      above += v >= 65535.5f && v <= std::numeric_limits<float>::max() ? 1 : 0;
      work[static_cast<std::size_t>(y * w + x)] = to_16_bits(v);
    }
  AtomicFile out(path);
  if (!out.ok()) {
    report_output_open_failure(out, status);
    name.refuse();
    return;
  }
  HuffmanCode code = s.code;
  const int coded = FIO_OUT_2DI2C(out.stream(), s.mode, s.predictor, kMinSymbol, kMaxSymbol, work,
                                  w, h, 1, 1, w, h, code);
  if (coded == 9) {
    // A write that failed leaves its reason in errno.
    out.fail();
    report_output_write_failure(out, kPosition, status);
    return;
  }
  if (coded != 0) {
    out.abandon();
    if (coded == 8)
      IO_WRITE("WARNING: The saved Huffman code cannot code this image (use mode 0); nothing "
               "has been written",
               status);
    IO_WRITE("ERROR: Bad output of Huffman coded data", status);
    IO_WRITE("       Return status = " + format_i(coded, 6), status);
    return;
  }
  if (!out.commit()) {
    report_output_write_failure(out, kPosition, status);
    return;
  }
  s.code = code;
  s.code_exists = true;
  // Values written as other values are said, so that they are not taken for
  // the image's own.
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const auto as = [&](float v) { return format_i(to_16_bits(v), 0); };
  io_write_non_finite_line(
      non_finite_pixels(data, xmaxdat, xstrelm, ystrelm, xendelm, yendelm), "pixel",
      {as(std::numeric_limits<float>::quiet_NaN()), as(kInfinity), as(-kInfinity)}, status);
  io_write_clipped_line(below, above, "what the file holds (0 to 65535)", "0", "65535", status);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  IO_WRITE("INFO: Time for output = " + format_f(seconds, 12, 2) + " seconds", status);
  IO_WRITE("INFO: CPU Time for output = " +
               format_f(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 12, 2) +
               " seconds",
           status);
  Index size = 0;
  IO_FILESIZE(path, size, status);
  if (size > 0)
    IO_WRITE("INFO: Compression ratio = " +
                 format_f(static_cast<double>(w * h * 2) / static_cast<double>(size), 8, 4),
             status);
  retstat = 0;
}

ImageRead read_huffman_file(const std::string& path, const ReadRequest& request, Status& status) {
  ImageRead result;
  std::string problem;
  InputFile file = open_input_file(path, problem);
  if (!file) {
    report_unread_file(path, problem, status);
    return result;
  }
  ScratchImage& image = result.image;
  if (!scratch_allocate(request, request.variances, path, image, status)) return result;
  std::vector<std::uint16_t> work;
  try {
    work.resize(static_cast<std::size_t>(request.xmaxdat * request.ymaxdat));
  } catch (const std::bad_alloc&) {
    IO_WRITE("WARNING: Not enough memory to read the file " + path, status);
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  Index x = 0, y = 0;
  const int code = FIO_IN_2DI2C(file.get(), request.xmaxdat, request.ymaxdat, x, y, work, status);
  if (code != 0) {
    report_unread_file(path,
                       code == 5   ? "is damaged (not a Huffman coded image of these arrays' size)"
                       : code == 3 ? "has a symbol range too wide to be read"
                                   : "cannot be read",
                       status);
    return result;
  }
  IO_WRITE("INFO: Time for input = " +
               format_f(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 12, 2) +
               " seconds",
           status);
  IO_WRITE("INFO: CPU Time for input = " +
               format_f(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 12, 2) +
               " seconds",
           status);
  for (Index row = 0; row < y; ++row)
    for (Index col = 0; col < x; ++col)
      image.data.get()[element(col + 1, row + 1, request.xmaxdat)] = work[static_cast<std::size_t>(row * x + col)];
  image.xnumdat = x;
  image.ynumdat = y;
  variances_from_data(image);
  describe_raw_image(image, path);
  result.retstat = 0;
  return result;
}

ImageRead huffman_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status) {
  std::string path;
  if (!ask_input_file("DATA FILE NAME", {"Name of file containing Huffman compressed data"},
                      kRetypeName, file_name, path, status))
    return {};
  return read_huffman_file(path, request, status);
}

void FIO_IN_HUFFMAN(const ImageTarget& target, std::string& file_name, int& retstat,
                    Status& status) {
  read_into_target(huffman_keyboard_read, target, file_name, retstat,
                   "Subroutine FIO_IN_HUFFMAN V0.5", status);
}

}  // namespace kesta
