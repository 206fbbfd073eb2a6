// libFuzzer harness of the packed-image decoder: whatever the stream holds,
// nothing may crash, hang or write outside the data array.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "formats/fio_stream.hpp"
#include "formats/pck_decoder.hpp"
#include "formats/fuzz/scratch_dir.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kesta;
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  io_set_stream(kStreamTerminal, quiet);
  const std::string path = fuzz_scratch_dir() + "/kesta-fuzz-packed-" + std::to_string(::getpid()) + ".pck";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes, 1, size, f);
    std::fclose(f);
  }
  int retstat = 0, id = 0;
  FIO_FILEOPENC(path, 1, retstat, id);
  if (retstat == 0) {
    constexpr Index kX = 37, kY = 29;
    std::vector<float> data(kX * kY);
    Index xnum = 0, ynum = 0;
    FIO_IN_PCKC(id, kX, kY, retstat, xnum, ynum, data);
    if (retstat == 0 && (xnum > kX || ynum > kY)) __builtin_trap();
    FIO_FILECLOSEC(id, retstat);
  }
  std::remove(path.c_str());
  return 0;
}
