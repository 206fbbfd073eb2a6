// libFuzzer harness of the detector readers' file routines: whatever the file
// holds, nothing may crash, hang or read out of bounds, and an image read
// lies inside the arrays.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "formats/adsc_format.hpp"
#include "formats/bruker_format.hpp"
#include "formats/bsl_format.hpp"
#include "formats/fixed_header_formats.hpp"
#include "formats/gas_format.hpp"
#include "formats/mar_format.hpp"
#include "formats/raxis_format.hpp"
#include "formats/tiff_format.hpp"
#include "formats/fuzz/scratch_dir.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kesta;
  static std::FILE* quiet = std::fopen("/dev/null", "w");
  io_set_stream(kStreamTerminal, quiet);
  const std::string path = fuzz_scratch_dir() + "/kesta-fuzz-detectors-" + std::to_string(::getpid());
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes, 1, size, f);
    std::fclose(f);
  }
  constexpr Index kX = 40, kY = 30;
  const ReadRequest request{kX, kY, true};
  auto check = [&](const ImageRead& read) {
    if (read.ok() && (read.image.xnumdat < 1 || read.image.xnumdat > kX ||
                      read.image.ynumdat < 1 || read.image.ynumdat > kY))
      __builtin_trap();
  };
  for (const TiffRegion& region : {TiffRegion{1, 1, kX, kY, 1, 1}, TiffRegion{2, 1, 9, 7, 2, 3}}) {
    Status status = ST_GOOD();
    check(read_tiff_file(path, request, false, false, region, status));
    check(read_tiff_file(path, request, true, true, region, status));
  }
  for (const bool packed : {false, true}) {
    Status status = ST_GOOD();
    check(read_mar_file(path, request, packed, status));
  }
  for (auto read : {read_bruker_file, read_adsc_file, read_raxis_file, read_hamamatsu_file}) {
    Status status = ST_GOOD();
    check(read(path, request, status));
  }
  {
    Status status = ST_GOOD();
    check(read_bsl_file(path, request, 1, 1, status));
    check(read_gas_file(path, request, {true, 2, true, true}, status));
    check(read_photometrics_file(path, request, 2, status));
    check(read_princeton_file(path, request, 1, status));
    check(read_dip2000_file(path, request, true, status));
    check(read_wess_file(path, request, 16, 8, {2, 2, 9, 7, 2, 3}, status));
  }
  std::remove(path.c_str());
  return 0;
}
