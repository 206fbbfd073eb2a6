// Image formats: writing and reading a 4096 x 4096 native file (machine byte
// order and the other byte order, through the input path beside a plain read
// of the same file), and decoding a 2300 x 2300 packed image.

#include <benchmark/benchmark.h>

#include "bench/bench_files.hpp"
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/raw_io.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "formats/fio_stream.hpp"
#include "formats/kesta_format.hpp"
#include "formats/pck_decoder.hpp"

namespace {

using namespace kesta;

constexpr Index kSize = 4096;

using bench::Quiet;
using bench::scratch;

std::vector<float> test_image(Index n) {
  std::vector<float> image(static_cast<std::size_t>(n * n));
  for (Index k = 0; k < n * n; ++k) image[static_cast<std::size_t>(k)] = static_cast<float>(k % 65521);
  return image;
}

void write_native(const std::string& path, const std::vector<float>& image, Status& status) {
  io_set_line_source([&](std::string_view, std::string& line) {
    line = path;
    return true;
  });
  std::vector<float> xaxis(kSize), yaxis(kSize);
  int retstat = 0;
  FIO_OUT_KESTA(false, "", kSize, kSize, 1, 1, kSize, kSize, xaxis, yaxis, image, {}, "bench",
                "x", "y", "z", false, 1e-4f, 1e-4f, retstat, status);
  io_set_line_source({});
}

void BM_WriteNative4096(benchmark::State& state) {
  Quiet quiet;
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  const auto image = test_image(kSize);
  const std::string path = scratch("write.kzt");
  for (auto _ : state) write_native(path, image, status);
  std::remove(path.c_str());
  if (status != kStatusGood) state.SkipWithError("write failed");
  state.SetBytesProcessed(state.iterations() * kSize * kSize * 4);
}
BENCHMARK(BM_WriteNative4096)->Unit(benchmark::kMillisecond);

void read_bench(benchmark::State& state, bool other_order) {
  Quiet quiet;
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  auto image = test_image(kSize);
  const std::string path = scratch(other_order ? "swapped.kzt" : "read.kzt");
  if (other_order) {
    // The same items as the writer, with the arrays in the other byte order.
    swap_bytes(std::span<float>(image));
    std::vector<float> axis(kSize);
    io_open_stream(60, path, "wb");
    Index r = 1;
    IO_FWRITE_STRING(60, "$BIG_ENDIAN", IO_BIG_ENDIAN() ? "FALSE" : "TRUE", r, status);
    IO_FWRITE_RARRAY(60, "data_array", kSize, kSize, 1, 1, kSize, kSize, image, r, status);
    IO_FWRITE_RARRAY(60, "x_axis", kSize, 1, 1, 1, kSize, 1, axis, r, status);
    IO_FWRITE_RARRAY(60, "y_axis", kSize, 1, 1, 1, kSize, 1, axis, r, status);
    io_close_stream(60);
  } else {
    write_native(path, image, status);
  }
  // The program's arrays, as INPUT DATA gives them: the image read replaces
  // the data array.
  void* block = nullptr;
  io_malloc_array(kSize * kSize, sizeof(float), block, status);
  float* data = static_cast<float*>(block);
  std::vector<float> xaxis(kSize), yaxis(kSize);
  std::string name = path, title, xl, yl, zl;
  bool variances_exist = false;
  Index xn = 0, yn = 0;
  float xps = 0, yps = 0, overload = 0;
  for (auto _ : state) {
    const ImageTarget target{kSize, kSize, variances_exist, xn, yn, xaxis, yaxis,
                             std::span<float>(data, kSize * kSize), {}, title, xl, yl, zl, xps,
                             yps, &data, nullptr};
    int retstat = 0;
    FIO_IN_KESTA(true, target, name, retstat, overload, status);
    if (retstat != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data);
  }
  block = data;
  IO_FREE(block, status);
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kSize * kSize * 4);
}

// The yardstick of the two above: the same file read whole with fread into
// an array of the image's size, in the same run.
void BM_PlainRead4096(benchmark::State& state) {
  Quiet quiet;
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  const std::string path = scratch("plain.kzt");
  write_native(path, test_image(kSize), status);
  std::vector<char> bytes(static_cast<std::size_t>(kSize * kSize * 4 + 10 * 512 * 8));
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    benchmark::DoNotOptimize(got);
    benchmark::DoNotOptimize(bytes.data());
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kSize * kSize * 4);
}
BENCHMARK(BM_PlainRead4096)->Unit(benchmark::kMillisecond);

void BM_ReadNative4096(benchmark::State& state) { read_bench(state, false); }
void BM_ReadNative4096OtherByteOrder(benchmark::State& state) { read_bench(state, true); }
BENCHMARK(BM_ReadNative4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadNative4096OtherByteOrder)->Unit(benchmark::kMillisecond);

// A 2300 x 2300 packed image: blocks of 8 residuals of 8 bits (a typical
// image-plate width), LSB-first.
void BM_DecodePacked2300(benchmark::State& state) {
  const int n = 2300;
  std::string out = "CCP4 packed image, X: 2300, Y: 2300\n";
  int used = 0;
  auto put = [&](std::uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (used == 0) out.push_back(0);
      if ((value >> i) & 1u) out.back() = static_cast<char>(out.back() | (1 << used));
      used = (used + 1) % 8;
    }
  };
  for (long p = 0; p < static_cast<long>(n) * n; p += 8) {
    put(3u | (5u << 3), 6);
    for (int k = 0; k < 8; ++k) put(static_cast<std::uint32_t>((p + k) * 7919 % 64), 8);
  }
  const std::string path = scratch("image.pck");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(out.data(), 1, out.size(), f);
  std::fclose(f);
  std::vector<float> data(static_cast<std::size_t>(n) * n);
  for (auto _ : state) {
    int retstat = 0, id = 0;
    FIO_FILEOPENC(path, 1, retstat, id);
    Index xn = 0, yn = 0;
    FIO_IN_PCKC(id, n, n, retstat, xn, yn, data);
    if (retstat != 0) state.SkipWithError("decode failed");
    FIO_FILECLOSEC(id, retstat);
    benchmark::DoNotOptimize(data.data());
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_DecodePacked2300)->Unit(benchmark::kMillisecond);

}  // namespace
