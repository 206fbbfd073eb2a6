// Writes small valid seed files for the fuzz harnesses: an item file with
// every kind of item the readers look for, and a packed image.
// Usage: make_seeds <items-corpus-dir> <packed-corpus-dir>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/status.hpp"
#include "core/system.hpp"

namespace {

using namespace kesta;

bool write_items(const std::string& path, Index nx, Index ny) {
  if (!io_open_stream(50, path, "wb")) return false;
  Status s = ST_GOOD();
  Index r = 1;
  std::vector<float> data(nx * ny), xaxis(nx), yaxis(ny);
  std::vector<std::uint8_t> mask(nx * ny);
  for (Index k = 0; k < nx * ny; ++k) {
    data[k] = static_cast<float>(k) * 1.5f - 3.0f;
    mask[k] = k % 3 == 0;
  }
  for (Index i = 0; i < nx; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < ny; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  const std::vector<std::string> names = {"one", "two", "three"};
  IO_FWRITE_STRING(50, "$FFF_START", "KESTA Data File", r, s);
  IO_FWRITE_STRING(50, "$BIG_ENDIAN", IO_BIG_ENDIAN() ? "TRUE" : "FALSE", r, s);
  IO_FWRITE_STRING(50, "title", "seed", r, s);
  IO_FWRITE_INTEGER(50, "count", -42, r, s);
  IO_FWRITE_REAL(50, "x_pixel_size", 1e-4f, r, s);
  IO_FWRITE_STRING(50, "overload_value", "65535.5", r, s);
  IO_FWRITE_RARRAY(50, "data_array", nx, ny, 1, 1, nx, ny, data, r, s);
  IO_FWRITE_RARRAY(50, "x_axis", nx, 1, 1, 1, nx, 1, xaxis, r, s);
  IO_FWRITE_RARRAY(50, "y_axis", ny, 1, 1, 1, ny, 1, yaxis, r, s);
  IO_FWRITE_RARRAY(50, "variances_array", nx, ny, 1, 1, nx, ny, data, r, s);
  IO_FWRITE_L1ARRAY(50, "mask", nx, ny, 1, 1, nx, ny, mask, r, s);
  IO_FWRITE_CARRAY(50, "names", 3, 1, 3, names, r, s);
  IO_FWRITE_STRING(50, "$FFF_END", "End of image data", r, s);
  return io_close_stream(50) && s == kStatusGood;
}

// A copy of the item file FROM whose item NAME has 0 as its size FIELD (0
// the first, 1 the second): files that once stopped the reader.
bool write_empty_item(const std::string& from, const std::string& path, const std::string& name,
                      int field) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) return false;
  std::string bytes;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, got);
  std::fclose(in);
  const std::size_t at = bytes.find("\\" + name + ":");
  if (at == std::string::npos) return false;
  // The type letter follows the 8-digit count; the sizes are 18 and 26 after it.
  bytes.replace(at + name.size() + 10 + 18 + 8 * static_cast<std::size_t>(field), 8, "00000000");
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  return std::fclose(out) == 0;
}

void put_bits(std::string& out, int& used, std::uint32_t value, int n) {
  for (int i = 0; i < n; ++i) {
    if (used == 0) out.push_back(0);
    if ((value >> i) & 1u) out.back() = static_cast<char>(out.back() | (1 << used));
    used = (used + 1) % 8;
  }
}

bool write_packed(const std::string& path, int x, int y) {
  char header[64];
  std::snprintf(header, sizeof header, "CCP4 packed image, X: %04d, Y: %04d\n", x, y);
  std::string out = std::string("seed image\n") + header;
  int used = 0;
  // Blocks of 8 residuals of 8 bits, then some of other widths.
  for (int p = 0; p < x * y; p += 8) {
    const int w = (p / 8) % 8;
    put_bits(out, used, 3u | (static_cast<std::uint32_t>(w) << 3), 6);
    static constexpr int kWidths[8] = {0, 4, 5, 6, 7, 8, 16, 32};
    for (int k = 0; k < 8; ++k) put_bits(out, used, static_cast<std::uint32_t>(p * 37 + k), kWidths[w]);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(out.data(), 1, out.size(), f);
  return std::fclose(f) == 0;
}

// A TIFF image of X x Y pixels of BITS, in strips of 2 rows.
bool write_tiff(const std::string& path, int x, int y, int bits, bool big) {
  std::string out;
  auto put = [&](std::uint32_t v, int n) {
    for (int k = 0; k < n; ++k) out.push_back(static_cast<char>(v >> (8 * (big ? n - 1 - k : k))));
  };
  const int strips = (y + 1) / 2, row = bits == 12 ? (3 * x + 1) / 2 : x * bits / 8;
  const int table = 8 + 2 + 6 * 12 + 4, data = table + 4 * strips;
  out += big ? "MM" : "II";
  put(42, 2);
  put(8, 4);
  put(6, 2);
  const std::uint32_t entries[6][4] = {{256, 4, 1, static_cast<std::uint32_t>(x)},
                                       {257, 4, 1, static_cast<std::uint32_t>(y)},
                                       {258, 3, 1, static_cast<std::uint32_t>(bits)},
                                       {259, 3, 1, 1},
                                       {273, 4, static_cast<std::uint32_t>(strips),
                                        static_cast<std::uint32_t>(strips == 1 ? data : table)},
                                       {278, 4, 1, 2}};
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
    if (e[1] == 3) {
      put(e[3], 2);
      put(0, 2);
    } else {
      put(e[3], 4);
    }
  }
  put(0, 4);
  for (int s = 0; s < strips; ++s) put(static_cast<std::uint32_t>(data + s * 2 * row), 4);
  for (int k = 0; k < row * y; ++k) out.push_back(static_cast<char>(k * 29));
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(out.data(), 1, out.size(), f);
  return std::fclose(f) == 0;
}

// A mar345 image of 5 x 4 plain pixels with 3 high-intensity pairs.
bool write_mar345(const std::string& path) {
  std::string out(4096 + 64 + 40, '\0');
  const std::int32_t head[] = {1234, 5, 3, 0, 0, 20, 100, 100, 1541800, 250000, 0, 1000};
  std::memcpy(out.data(), head, sizeof head);
  std::memcpy(out.data() + 64, "END OF HEADER", 13);
  const std::int32_t pairs[] = {1, 70000, 20, 80000, 7, 90000};
  std::memcpy(out.data() + 4096, pairs, sizeof pairs);
  for (int k = 0; k < 20; ++k) out[static_cast<std::size_t>(4096 + 64 + 2 * k)] = static_cast<char>(k);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(out.data(), 1, out.size(), f);
  return std::fclose(f) == 0;
}

bool write_text(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  return std::fclose(f) == 0;
}

// A Bruker frame of 3 x 2 2-byte pixels with one overflow entry.
std::string bruker_seed() {
  std::string out;
  for (const char* line : {"FORMAT :86", "HDRBLKS:1", "NOVERFL:1", "NPIXELB:2", "NROWS  :2",
                           "NCOLS  :3"}) {
    std::string l = line;
    l.resize(80, ' ');
    out += l;
  }
  out += '\x1a';
  out.resize(512, ' ');
  out += std::string("\x01\x00\x02\x00\x03\x00\x04\x00\x05\x00\x06\x00", 12);
  return out + "   123456      4";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string items = argv[1], packed = argv[2], detectors = argv[3];
  bool ok = write_items(items + "/seed-small.kzt", 5, 4) &&
            write_items(items + "/seed-wide.kzt", 60, 3) &&
            write_empty_item(items + "/seed-small.kzt", items + "/seed-empty-axis.kzt", "x_axis",
                             0) &&
            write_empty_item(items + "/seed-small.kzt", items + "/seed-empty-data.kzt",
                             "data_array", 1) &&
            write_packed(packed + "/seed-small.pck", 6, 5) &&
            write_packed(packed + "/seed-wide.pck", 50, 3) &&
            write_tiff(detectors + "/seed-16.tif", 7, 5, 16, false) &&
            write_tiff(detectors + "/seed-12.tif", 5, 3, 12, true) &&
            write_tiff(detectors + "/seed-32.tif", 3, 4, 32, true) &&
            write_mar345(detectors + "/seed.mar3450") &&
            write_text(detectors + "/seed.001", bruker_seed()) &&
            write_text(detectors + "/seed.img",
                       "{\nHEADER_BYTES=64;\nSIZE1=3;\nSIZE2=2;\nBYTE_ORDER=big_endian;\n"
                       "TYPE=unsigned_short;\nDIM=2;\n}\n" + std::string(64, ' ') +
                       std::string(12, '\x07'));
  return ok ? 0 : 1;
}
