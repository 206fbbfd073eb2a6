// libFuzzer harness of the keyed item reader and the native image reader:
// whatever the file holds, nothing may crash, hang or read out of bounds.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/item_reader.hpp"
#include "formats/kesta_format.hpp"
#include "formats/fuzz/scratch_dir.hpp"

namespace {

std::string scratch_file() {
  return fuzz_scratch_dir() + "/kesta-fuzz-items-" + std::to_string(::getpid()) + ".kzt";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kesta;
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  io_set_stream(kStreamTerminal, quiet);
  const std::string path = scratch_file();
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes, 1, size, f);
    std::fclose(f);
  }

  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  // The native reader on small arrays.
  constexpr Index kX = 48, kY = 40;
  std::vector<float> data(kX * kY), variances(kX * kY), xaxis(kX), yaxis(kY);
  std::string name = path, title, xl, yl, zl;
  bool variances_exist = true;
  int retstat = 0;
  Index xnum = 0, ynum = 0;
  float xps = 0, yps = 0, overload = 0;
  FIO_IN_KESTA(true, kX, kY, variances_exist, name, retstat, xnum, ynum, xaxis, yaxis, data,
               variances, title, xl, yl, zl, xps, yps, overload, status);
  if (retstat == 0 && (xnum < 1 || xnum > kX || ynum < 1 || ynum > kY)) __builtin_trap();

  // Every item routine directly.
  constexpr int kUnit = 77;
  if (io_open_stream(kUnit, path, "rb")) {
    status = ST_GOOD();
    std::int32_t i = 0;
    float r = 0;
    std::string s;
    FIO_FREAD_INTEGER(kUnit, "count", retstat, i, status);
    FIO_FREAD_REAL(kUnit, "x_pixel_size", retstat, r, status);
    FIO_FREAD_STRING(kUnit, "title", 80, retstat, s, status);
    std::vector<std::int32_t> ints(kX * kY);
    FIO_FREAD_IARRAY(kUnit, true, "data_array", kX, kY, retstat, xnum, ynum, ints, status);
    std::vector<std::uint8_t> mask(kX * kY);
    FIO_FREAD_L1ARRAY(kUnit, "mask", kX, kY, retstat, xnum, ynum, mask, status);
    std::vector<std::string> texts(8);
    Index num = 0;
    FIO_FREAD_CARRAY(kUnit, "names", 16, retstat, num, texts, status);
    bool found = false;
    char type = ' ';
    Index record = 0;
    int position = 0;
    FIO_FREAD_SEARCHITEM(kUnit, "$FFF_END", size > 0 ? bytes[0] : 1, found, type, record,
                         position, status);
    io_close_stream(kUnit);
  }
  std::remove(path.c_str());
  return 0;
}
