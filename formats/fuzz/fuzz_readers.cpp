// libFuzzer harness of the text readers and the two codecs: the first byte
// chooses the reader (TULMA, ".info", MERVODA, 1-D ASCII, PDS, CDD, Huffman),
// the rest is the file. Whatever it holds, nothing may crash, hang, write
// outside the arrays, or report more data than the arrays hold.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/binary_format.hpp"
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
  const int reader = bytes[0] % 7;
  const std::string path = reader == 1 ? base + ".info" : base;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes + 1, 1, size - 1, f);
    std::fclose(f);
  }
  constexpr Index kX = 23, kY = 17;
  const ReadRequest request{kX, kY, true};
  Status status = ST_GOOD();
  std::vector<float> a(kX * kY), b(kX * kY), c(kX);
  std::string name = base, t, x, y, z;
  Index n = 0, m = 0;
  int retstat = 0;
  float f1 = 0, f2 = 0;
  auto check = [](const ImageRead& r) {
    if (r.ok() && (r.image.xnumdat < 1 || r.image.xnumdat > kX || r.image.ynumdat < 1 ||
                   r.image.ynumdat > kY))
      __builtin_trap();
  };
  switch (reader) {
    case 0:
      check(read_tulma_file(base, request, 2, status));
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
    default:
      check(read_huffman_file(base, request, status));
      break;
  }
  std::remove(path.c_str());
  return 0;
}
