// Writes seed files for fuzz_readers: each a selector byte and a small valid
// file of one reader (the FUJI pair's two parts split by a zero byte).
// Usage: make_reader_seeds <corpus-dir>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "formats/cdd_codec.hpp"
#include "formats/huffman_codec.hpp"

namespace {

using namespace kesta;

bool put(const std::string& path, int selector, const std::string& body) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fputc(selector, f);
  std::fwrite(body.data(), 1, body.size(), f);
  return std::fclose(f) == 0;
}

// The bytes a coder writes through a C stream.
template <typename Write>
std::string coded(Write write) {
  std::FILE* f = std::tmpfile();
  write(f);
  std::string out;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<char>(c));
  std::fclose(f);
  return out;
}

// A FUJI ".inf" description of a 4 x 3 scan of BITS bits, a zero byte and
// the scan.
std::string fuji(int bits) {
  std::string out = "BAS2000\nname\nplate\n-\n100\n100\n" + std::to_string(bits) +
                    "\n4\n3\n4000\n4\n";
  out.push_back('\0');
  for (int k = 0; k < 12; ++k) {
    if (bits > 8) out.push_back(static_cast<char>(k));
    out.push_back(static_cast<char>(17 * k));
  }
  return out;
}

// A raw little-endian image of 48 x 40 pixels of BYTES bytes after a header
// of 96 bytes: each row the same pattern and a slope, as a layout can be
// deduced from.
std::string raw_image(int bytes) {
  std::string out(96, '\x55');
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x) {
      const unsigned v = 200 + (x * 97 % 48) * 3 + y;
      for (int b = 0; b < bytes; ++b) out.push_back(static_cast<char>(b < 2 ? (v >> (8 * b)) : 0));
    }
  return out;
}

// Five lines of seven values, after one line of text.
const std::string ascii_2d = "A header line\n1 2 3 4 5 6 7\n8,9,10,11,12,13,14\n"
                             "1e3 -2 3.5 NaN 5 6 7\n\t1 2 3 4 5 6 7\n1 2 3 4 5 6 7\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  std::string tulma = "{\nImage = 1;\nSize = 8;\nDim_1 = 2;\nDim_2 = 1;\nDataType = SignedShort;\n"
                      "ByteOrder = HighByteFirst;\n";
  tulma.resize(1022, ' ');
  tulma += "}\n";
  tulma += std::string("\x00\x01\x00\x02", 4) + tulma.substr(0, 1024) + "\x7f\x00\x00\x01";
  std::vector<float> image(6 * 4);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<float>((i * 37) % 300);
  std::vector<std::uint16_t> pixels(image.begin(), image.end());
  Status s = ST_GOOD();
  const std::string cdd = coded([&](std::FILE* f) { cdd_encode(f, 6, 1, 1, 6, 4, image, s); });
  const std::string huffman = coded([&](std::FILE* f) {
    HuffmanCode code;
    FIO_OUT_2DI2C(f, 0, 4, -127, 127, pixels, 6, 4, 1, 1, 6, 4, code);
  });
  const bool ok =
      put(dir + "/tulma", 0, tulma) &&
      put(dir + "/info", 1,
          "Name of binary file containing image data = a.bin\n"
          "Number of pixels (horizontal/vertical) =          3         2\n"
          "Integer data: Number of bytes per pixel =  2 (unsigned)\n"
          "The data has been written in \"big endian\" format. (Normal for HP/SUN/SG)\n"
          "Nominal horizontal pixel size =       50.000 (microns)\n"
          "Nominal vertical pixel size   =       75.000 (microns)\n"
          "Pixel number of first output pixel (pixel offsets) =          1         1\n"
          "Title = A title\nX-axis label = X\nY-axis label = Y\nZ-axis label = Z\n"
          "Input data value scaled to lowest file value  =  0.0000000E+00\n"
          "Input data value scaled to highest file value =  6.5535000E+04\n") &&
      put(dir + "/mervoda", 2, "T\nX\nY\n          3 Errors\n 1.0 2.0 0.0 1.0\n 2.0 3.0\n 3 4\n") &&
      put(dir + "/ascii", 3, "1.5\n2 3\n\n-4e2,5\n") &&
      put(dir + "/pds", 4,
          "T\n   Start     Step      End     Monitor\n    1.000    0.100    2.000        1.0\n"
          "  0.0000  0.0000  0.0000  0.0000  0.0000  0.0000  0.0000  0.0000  0.0000  0.0000\n"
          "     100     200     300     400     500     600     700     800     900    1000\n"
          "  0.0000\n     100\n   -1000\n  -10000\n") &&
      put(dir + "/cdd", 5, cdd) && put(dir + "/huffman", 6, huffman) &&
      // The second and a third (missing) image of the TULMA file.
      put(dir + "/tulma-2", 10, tulma) && put(dir + "/tulma-3", 20, tulma) &&
      put(dir + "/fuji-8", 7, fuji(8)) && put(dir + "/fuji-16", 17, fuji(16)) &&
      put(dir + "/unknown-2", 8, raw_image(2)) && put(dir + "/unknown-4", 18, raw_image(4)) &&
      put(dir + "/unknown-1", 28, raw_image(1)) &&
      put(dir + "/ascii-2d", 9, ascii_2d) && put(dir + "/ascii-2d-7", 19, ascii_2d) &&
      put(dir + "/ascii-2d-25", 249, ascii_2d);
  return ok ? 0 : 1;
}
