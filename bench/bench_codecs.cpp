// Image formats of raw, text and compressed files: CDD encode and decode of a
// 2300 x 2300 diffraction-like image, Huffman of 2048 x 2048, TULMA and
// BINARY write and read of 4096 x 4096 beside a plain write and read of the
// same bytes, 2-D ASCII input of a 2048 x 2048 text file, and the UNKNOWN
// deduction on a 16 MB file.

#include <benchmark/benchmark.h>

#include "bench/bench_files.hpp"
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/io_output.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "formats/ascii_formats.hpp"
#include "formats/binary_format.hpp"
#include "formats/cdd_codec.hpp"
#include "formats/huffman_codec.hpp"
#include "formats/tulma_format.hpp"
#include "formats/unknown_format.hpp"

namespace {

using namespace kesta;

using bench::Quiet;
using bench::scratch;

// Answers the prompts in turn while alive.
struct Answers {
  explicit Answers(std::vector<std::string> lines) : lines_(std::move(lines)) {
    io_set_line_source([this](std::string_view, std::string& line) {
      if (next_ >= lines_.size()) return false;
      line = lines_[next_++];
      return true;
    });
  }
  ~Answers() { io_set_line_source({}); }
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
};

// Rings on a smooth background with counting noise, whole numbers.
std::vector<float> diffraction(Index n) {
  std::vector<float> image(static_cast<std::size_t>(n * n));
  std::mt19937 random(5);
  std::normal_distribution<float> noise(0.0f, 6.0f);
  for (Index y = 0; y < n; ++y)
    for (Index x = 0; x < n; ++x) {
      const double r = std::hypot(x - n / 2.0, y - n / 2.0);
      const double ring = 400.0 * std::exp(-std::pow(std::fmod(r, 150.0) - 75.0, 2) / 20.0);
      image[static_cast<std::size_t>(y * n + x)] =
          std::round(static_cast<float>(200.0 + 3000.0 / (1.0 + r / 100.0) + ring) + noise(random));
    }
  return image;
}

void BM_CddEncode(benchmark::State& state) {
  const Index n = 2300;
  const auto image = diffraction(n);
  Quiet quiet;
  for (auto _ : state) {
    std::FILE* f = std::tmpfile();
    Status s = ST_GOOD();
    benchmark::DoNotOptimize(cdd_encode(f, n, 1, 1, n, n, image, s));
    std::fclose(f);
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_CddEncode)->Unit(benchmark::kMillisecond);

void BM_CddDecode(benchmark::State& state) {
  const Index n = 2300;
  const auto image = diffraction(n);
  Quiet quiet;
  const std::string path = scratch("c.cdd");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Status s = ST_GOOD();
    cdd_encode(f, n, 1, 1, n, n, image, s);
    std::fclose(f);
  }
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ScratchImage out;
    Status s = ST_GOOD();
    benchmark::DoNotOptimize(cdd_decode(f, path, {n, n, false}, out, s));
    std::fclose(f);
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_CddDecode)->Unit(benchmark::kMillisecond);

void BM_Huffman(benchmark::State& state) {
  const Index n = 2048;
  const auto image = diffraction(n);
  const std::vector<std::uint16_t> pixels(image.begin(), image.end());
  std::vector<std::uint16_t> back(pixels.size());
  Quiet quiet;
  const bool decode = state.range(0) == 1;
  const std::string path = scratch("h.huf");
  HuffmanCode code;
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FIO_OUT_2DI2C(f, 0, 3, -127, 127, pixels, n, n, 1, 1, n, n, code);
    std::fclose(f);
  }
  for (auto _ : state) {
    if (decode) {
      std::FILE* f = std::fopen(path.c_str(), "rb");
      Index x = 0, y = 0;
      Status s = ST_GOOD();
      benchmark::DoNotOptimize(FIO_IN_2DI2C(f, n, n, x, y, back, s));
      std::fclose(f);
    } else {
      std::FILE* f = std::tmpfile();
      benchmark::DoNotOptimize(FIO_OUT_2DI2C(f, 0, 3, -127, 127, pixels, n, n, 1, 1, n, n, code));
      std::fclose(f);
    }
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_Huffman)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Plain write and read of the same bytes, the reference of the raw formats.
void BM_PlainFile(benchmark::State& state) {
  const Index n = 4096;
  std::vector<float> image(static_cast<std::size_t>(n * n), 1.5f);
  const std::string path = scratch("plain");
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(image.data(), 4, image.size(), f);
    std::fclose(f);
    f = std::fopen(path.c_str(), "rb");
    benchmark::DoNotOptimize(std::fread(image.data(), 4, image.size(), f));
    std::fclose(f);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * 2 * n * n * 4);
}
BENCHMARK(BM_PlainFile)->Unit(benchmark::kMillisecond);

void BM_TulmaWriteRead(benchmark::State& state) {
  const Index n = 4096;
  std::vector<float> image(static_cast<std::size_t>(n * n), 1.5f);
  Quiet quiet;
  const std::string path = scratch("t.wlt");
  for (auto _ : state) {
    Status s = ST_GOOD();
    int retstat = 0;
    FIO_OUT_TULMA(path, n, n, 1, 1, n, n, image, retstat, s);
    benchmark::DoNotOptimize(read_tulma_file(path, {n, n, false}, 1, s));
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * 2 * n * n * 4);
}
BENCHMARK(BM_TulmaWriteRead)->Unit(benchmark::kMillisecond);

// Arg 0 writes 2-byte integers through the dialogue, arg 1 reads them back.
void BM_Binary(benchmark::State& state) {
  const Index n = 4096;
  std::vector<float> image(static_cast<std::size_t>(n * n), 100.0f);
  Quiet quiet;
  const std::string path = scratch("b.bin");
  const RawLayout layout{n, n, "INTEGER (2-BYTE)", false, false, 1};
  auto write = [&] {
    Status s = ST_GOOD();
    int retstat = 0;
    Answers answers({path, "8192", "1", "NO", "0", "65535"});
    FIO_OUT_BINARY(false, "", n, n, 1, 1, n, n, image, "", "", "", "", 1e-4f, 1e-4f, false, 2,
                   retstat, s);
  };
  write();
  for (auto _ : state) {
    if (state.range(0) == 0) {
      write();
    } else {
      Status s = ST_GOOD();
      benchmark::DoNotOptimize(read_binary_file(path, {n, n, false}, layout, s));
    }
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * n * n * 2);
}
BENCHMARK(BM_Binary)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same 32 MB file's bytes moved plainly in the same run: arg 0 written
// as the BINARY writer writes (temporary file, fsync, rename), arg 1 read
// with one fread into a reused buffer.
void BM_PlainBinary(benchmark::State& state) {
  const Index n = 4096;
  std::vector<std::uint16_t> bytes(static_cast<std::size_t>(n * n), 0x6400);
  const std::string path = scratch("p.bin");
  auto write = [&] {
    AtomicFile out(path);
    out.write(bytes.data(), bytes.size() * 2);
    benchmark::DoNotOptimize(out.commit());
  };
  write();
  for (auto _ : state) {
    if (state.range(0) == 0) {
      write();
    } else {
      std::FILE* f = std::fopen(path.c_str(), "rb");
      benchmark::DoNotOptimize(std::fread(bytes.data(), 2, bytes.size(), f));
      std::fclose(f);
    }
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * n * n * 2);
}
BENCHMARK(BM_PlainBinary)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Ascii2d(benchmark::State& state) {
  const Index n = 2048;
  const std::string path = scratch("a.txt");
  Index bytes = 0;
  {
    std::ofstream out(path);
    for (Index y = 0; y < n; ++y) {
      for (Index x = 0; x < n; ++x) out << (x * 7 + y) % 10000 << (x + 1 < n ? " " : "\n");
    }
    bytes = static_cast<Index>(out.tellp());
  }
  Quiet quiet;
  for (auto _ : state) {
    Status s = ST_GOOD();
    std::string name = path;
    Answers answers({path, std::to_string(n), std::to_string(n), "0"});
    benchmark::DoNotOptimize(ascii_2d_keyboard_read({n, n, false}, name, s));
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_Ascii2d)->Unit(benchmark::kMillisecond);

void BM_UnknownDeduction(benchmark::State& state) {
  const Index n = 2048;
  const auto image = diffraction(n);
  const std::vector<std::uint16_t> pixels(image.begin(), image.end());
  const std::string path = scratch("u.raw");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const std::vector<char> header(4096, 'h');
    std::fwrite(header.data(), 1, header.size(), f);
    for (int copy = 0; copy < 2; ++copy) std::fwrite(pixels.data(), 2, pixels.size(), f);
    std::fclose(f);
  }
  Quiet quiet;
  const Index size = static_cast<Index>(std::filesystem::file_size(path));
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    RawDeduction found;
    std::vector<float> correlation;
    Status s = ST_GOOD();
    benchmark::DoNotOptimize(deduce_raw_layout(f, size, n * n, 200, found, correlation, s));
    std::fclose(f);
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_UnknownDeduction)->Unit(benchmark::kMillisecond);

}  // namespace
