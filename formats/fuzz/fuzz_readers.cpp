// libFuzzer harness of the text readers, the two codecs and the readers of
// raw and described images: the first byte modulo 10 chooses the reader
// (TULMA, ".info", MERVODA, 1-D ASCII, PDS, CDD, Huffman, the FUJI ".inf"
// and ".img" pair, UNKNOWN, 2-D ASCII), the rest of it a reader's choice
// (TULMA's image number, UNKNOWN's least row length, the 2-D sizes), and
// the rest is the file (FUJI: the ".inf" file up to the first zero byte,
// the ".img" file after it). KESTA_FUZZ_READER=n runs reader n alone.
// Whatever the file holds, nothing may crash, hang, write outside the
// arrays, or report more data than the arrays hold.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/binary_format.hpp"
#include "formats/fuji_format.hpp"
#include "formats/unknown_format.hpp"
#include "formats/cdd_codec.hpp"
#include "formats/huffman_codec.hpp"
#include "formats/ascii_formats.hpp"
#include "formats/mervoda_format.hpp"
#include "formats/scan_formats.hpp"
#include "formats/tulma_format.hpp"
#include "formats/fuzz/scratch_dir.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kesta;
  if (size < 1) return 0;
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  io_set_stream(kStreamTerminal, quiet);
  const std::string base = fuzz_scratch_dir() + "/kesta-fuzz-readers-" + std::to_string(::getpid());
  static const char* pinned = std::getenv("KESTA_FUZZ_READER");
  const int reader = pinned != nullptr ? std::atoi(pinned) % 10 : bytes[0] % 10;
  const int choice = bytes[0] / 10;  // 0 .. 25
  const std::uint8_t* body = bytes + 1;
  std::size_t length = size - 1;
  // FUJI: the ".inf" part up to the first zero byte, the ".img" part after it.
  const std::uint8_t* image_part = body + length;
  std::size_t image_length = 0;
  if (reader == 7)
    if (const void* zero = std::memchr(body, 0, length)) {
      image_part = static_cast<const std::uint8_t*>(zero) + 1;
      image_length = static_cast<std::size_t>(body + length - image_part);
      length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - body);
    }
  const std::string path = reader == 1 ? base + ".info" : reader == 7 ? base + ".inf" : base;
  const std::string img_path = base + ".img";
  auto put = [](const std::string& name, const std::uint8_t* data, std::size_t n) {
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
      std::fwrite(data, 1, n, f);
      std::fclose(f);
    }
  };
  put(path, body, length);
  if (reader == 7) put(img_path, image_part, image_length);
  constexpr Index kX = 23, kY = 17;
  const ReadRequest request{kX, kY, true};
  Status status = ST_GOOD();
  std::vector<float> a(kX * kY), b(kX * kY), c(kX);
  std::string name = base, t, x, y, z;
  Index n = 0, m = 0;
  int retstat = 0;
  float f1 = 0, f2 = 0;
  auto check = [](const ImageRead& r, Index x = kX, Index y = kY) {
    if (r.ok() && (r.image.xnumdat < 1 || r.image.xnumdat > x || r.image.ynumdat < 1 ||
                   r.image.ynumdat > y || !r.image.data))
      __builtin_trap();
  };
  switch (reader) {
    case 0:
      check(read_tulma_file(base, request, 1 + choice % 4, status));
      break;
    case 1: {
      int bytes_per_pixel = 0;
      bool swap = false, is_signed = false;
      FIO_IN_HEADERFILE(base, t, x, y, z, n, m, f1, f2, bytes_per_pixel, swap, is_signed, f1, f2,
                        status);
      break;
    }
    case 2:
      FIO_IN_MERVODA(true, kX, true, name, retstat, n, c, a, b, t, x, z, f1, status);
      if (retstat == 0 && (n < 1 || n > kX)) __builtin_trap();
      break;
    case 3:
      FIO_IN_1DASCII(base, kX, retstat, n, c, status);
      if (retstat == 0 && n > kX) __builtin_trap();
      break;
    case 4: {
      bool variances = false;
      FIO_IN_PDS(true, kX, variances, name, retstat, n, c, a, t, x, z, f1, status);
      if (retstat == 0 && (n < 1 || n > kX)) __builtin_trap();
      break;
    }
    case 5:
      if (std::FILE* file = std::fopen(base.c_str(), "rb")) {
        ScratchImage image;
        if (cdd_decode(file, base, request, image, status) &&
            (image.xnumdat < 1 || image.xnumdat > kX || image.ynumdat > kY))
          __builtin_trap();
        std::fclose(file);
      }
      break;
    case 6:
      check(read_huffman_file(base, request, status));
      break;
    case 7:
      check(read_fuji_file(path, img_path, request, status));
      std::remove(img_path.c_str());
      break;
    case 8: {
      // UNKNOWN needs arrays of at least 1024 values.
      constexpr Index kUx = 40, kUy = 30;
      check(read_unknown_file(base, {kUx, kUy, true}, 4 + 8 * choice, status), kUx, kUy);
      break;
    }
    default:
      check(read_ascii_2d_file(base, request, 1 + (choice % 5) * 6, 1 + (choice / 5) * 4,
                               choice % 3, status));
      break;
  }
  std::remove(path.c_str());
  return 0;
}
