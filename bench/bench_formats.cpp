// Image formats: writing and reading a 4096 x 4096 native file (machine byte
// order and the other byte order, through the input path beside a plain read
// of the same file), and decoding a 2300 x 2300 packed image.

#include <benchmark/benchmark.h>

#include "bench/bench_files.hpp"
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/item_writer.hpp"
#include "core/raw_io.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "formats/fio_stream.hpp"
#include "formats/adsc_format.hpp"
#include "formats/bruker_format.hpp"
#include "formats/fuji_format.hpp"
#include "formats/kesta_format.hpp"
#include "formats/mar_format.hpp"
#include "formats/pck_decoder.hpp"
#include "formats/raxis_format.hpp"
#include "formats/tiff_format.hpp"

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

// Times READ (a file routine of PATH into a fresh scratch image) once per
// iteration, with a plain fread of the same file into a reused buffer of
// PLAIN_BYTES just before each read, outside the measured time: the counter
// x_plain is the reader over that plain read, both under the same load and
// cache state. The first read a process makes for the benchmark NAME is
// cold (fresh memory for the image, no array kept from an earlier read,
// tables and worker threads not yet made): it is made before the timed
// iterations and reported apart, as cold_ms, cold_x_plain and its processor
// times cold_user_ms and cold_sys_ms, in every run of the benchmark; the
// iterations and x_plain are the steady reads.
template <class Read>
void read_beside_plain(benchmark::State& state, const std::string& name, const std::string& path,
                       std::size_t plain_bytes, const Read& read) {
  std::vector<char> plain(plain_bytes);
  const auto plain_read = [&] {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    benchmark::DoNotOptimize(std::fread(plain.data(), 1, plain.size(), f));
    std::fclose(f);
  };
  Status status = ST_GOOD();
  // In the timed iterations the plain read is left out of the benchmark's time.
  const auto timed_read = [&](bool in_loop, double& plain_seconds, double& read_seconds) {
    if (in_loop) state.PauseTiming();
    const auto t0 = std::chrono::steady_clock::now();
    plain_read();
    const auto t1 = std::chrono::steady_clock::now();
    if (in_loop) state.ResumeTiming();
    {
      const ImageRead r = read(path, status);
      if (!r.ok()) state.SkipWithError("read failed");
      benchmark::DoNotOptimize(r.image.data.get());
    }
    const auto t2 = std::chrono::steady_clock::now();
    plain_seconds += std::chrono::duration<double>(t1 - t0).count();
    read_seconds += std::chrono::duration<double>(t2 - t1).count();
  };
  struct Cold {
    double plain = 0.0, read = 0.0, user = 0.0, system = 0.0;
  };
  static std::map<std::string, Cold> cold_reads;
  if (!cold_reads.contains(name)) {
    const auto seconds = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) + 1.0e-6 * static_cast<double>(t.tv_usec);
    };
    Cold cold;
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    timed_read(false, cold.plain, cold.read);
    getrusage(RUSAGE_SELF, &after);
    cold.user = seconds(after.ru_utime) - seconds(before.ru_utime);
    cold.system = seconds(after.ru_stime) - seconds(before.ru_stime);
    cold_reads[name] = cold;
  }
  double plain_seconds = 0.0, read_seconds = 0.0;
  for (auto _ : state) timed_read(true, plain_seconds, read_seconds);
  if (plain_seconds > 0.0) state.counters["x_plain"] = read_seconds / plain_seconds;
  const Cold& cold = cold_reads[name];
  state.counters["cold_ms"] = cold.read * 1.0e3;
  // Processor time of all threads over the cold plain read and read, in
  // the program and in the kernel.
  state.counters["cold_user_ms"] = cold.user * 1.0e3;
  state.counters["cold_sys_ms"] = cold.system * 1.0e3;
  if (cold.plain > 0.0) state.counters["cold_x_plain"] = cold.read / cold.plain;
}

// A 4096 x 4096 16-bit TIFF file in strips of ROWS rows, in the given byte
// order.
std::string write_tiff(const std::string& name, bool big, Index rows) {
  std::string out;
  auto put = [&](std::uint64_t v, int n) {
    for (int k = 0; k < n; ++k) out.push_back(static_cast<char>(v >> (8 * (big ? n - 1 - k : k))));
  };
  const Index strips = kSize / rows, row = kSize * 2, table = 8 + 2 + 6 * 12 + 4;
  const Index data = table + 4 * strips;
  out += big ? "MM" : "II";
  put(42, 2);
  put(8, 4);
  put(6, 2);
  const std::uint64_t entries[6][4] = {{256, 4, 1, kSize}, {257, 4, 1, kSize}, {258, 3, 1, 16},
                                       {259, 3, 1, 1},
                                       {273, 4, static_cast<std::uint64_t>(strips),
                                        static_cast<std::uint64_t>(strips == 1 ? data : table)},
                                       {278, 4, 1, static_cast<std::uint64_t>(rows)}};
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
    put(e[1] == 3 ? e[3] << (big ? 16 : 0) : e[3], 4);
  }
  put(0, 4);
  for (Index k = 0; k < strips; ++k) put(static_cast<std::uint64_t>(data + k * rows * row), 4);
  for (Index k = 0; k < kSize * kSize; ++k) put(static_cast<std::uint64_t>(k % 65521), 2);
  const std::string path = scratch(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(out.data(), 1, out.size(), f);
  std::fclose(f);
  return path;
}

// The TIFF reader's file routine into a fresh scratch image (as INPUT DATA).
void tiff_read_bench(benchmark::State& state, bool big, Index rows, Index bin) {
  Quiet quiet;
  const std::string path = write_tiff("read.tif", big, rows);
  const std::string name = "tiff" + std::to_string(big) + "/" + std::to_string(rows) + "/" +
                           std::to_string(bin);
  read_beside_plain(state, name, path,
                    static_cast<std::size_t>(std::filesystem::file_size(path)),
                    [&](const std::string& file, Status& status) {
                      return read_tiff_file(file, {kSize, kSize, false}, false, false,
                                            {1, 1, kSize, kSize, bin, bin}, status);
                    });
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kSize * kSize * 2);
}
void BM_ReadTiff4096OneStrip(benchmark::State& state) { tiff_read_bench(state, false, kSize, 1); }
void BM_ReadTiff4096BigEndian16RowStrips(benchmark::State& state) {
  tiff_read_bench(state, true, 16, 1);
}
void BM_ReadTiff4096Bin2x2(benchmark::State& state) { tiff_read_bench(state, false, kSize, 2); }
BENCHMARK(BM_ReadTiff4096OneStrip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTiff4096BigEndian16RowStrips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTiff4096Bin2x2)->Unit(benchmark::kMillisecond);

// The yardstick: the same TIFF file read whole with fread, in the same run.
void BM_PlainReadTiff4096(benchmark::State& state) {
  const std::string path = write_tiff("plain.tif", false, kSize);
  std::vector<char> bytes(static_cast<std::size_t>(kSize * kSize * 2 + 4096));
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    benchmark::DoNotOptimize(got);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * kSize * kSize * 2);
}
BENCHMARK(BM_PlainReadTiff4096)->Unit(benchmark::kMillisecond);

void BM_WriteTiff4096(benchmark::State& state) {
  Quiet quiet;
  Status status = ST_GOOD();
  ST_DEF_SYSTEM(status);
  const auto image = test_image(kSize);
  const std::string path = scratch("write.tif");
  io_set_line_source([&](std::string_view prompt, std::string& line) {
    line = prompt.find("NAME") != std::string_view::npos ? path
           : prompt.find("TYPE") != std::string_view::npos ? "2 BYTE UNSIGNED INTEGERS"
                                                            : "";
    return true;
  });
  std::string file = path;
  int bits = 16;
  for (auto _ : state)
    FIO_OUT_TIFF(false, "", kSize, kSize, 1, 1, kSize, kSize, image, "bench", 1e-4f, 1e-4f,
                 file, bits, status);
  io_set_line_source({});
  std::remove(path.c_str());
  if (status != kStatusGood) state.SkipWithError("write failed");
  state.SetBytesProcessed(state.iterations() * kSize * kSize * 2);
}
BENCHMARK(BM_WriteTiff4096)->Unit(benchmark::kMillisecond);

// A 2300 x 2300 packed image: blocks of 8 residuals of 8 bits (a typical
// image-plate width), LSB-first; with PREFIX before it.
std::string packed_image(const std::string& prefix) {
  const int n = 2300;
  std::string out = prefix + "CCP4 packed image, X: 2300, Y: 2300\n";
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
  return out;
}

std::string put_file(const std::string& name, const std::string& bytes) {
  const std::string path = scratch(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

void BM_DecodePacked2300(benchmark::State& state) {
  const int n = 2300;
  const std::string path = put_file("image.pck", packed_image(""));
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

// The same packed image as a mar345 file with 1000 high-intensity pairs,
// through the MAR reader's file routine (to compare with the decoder alone).
void BM_ReadMar345Packed2300(benchmark::State& state) {
  Quiet quiet;
  const int n = 2300;
  std::string head(4096 + 64 * 125, '\0');
  const std::int32_t words[] = {1234, n, 1000, 1, 0, n * n, 150, 150, 1541800, 250000, 0, 1000};
  std::memcpy(head.data(), words, sizeof words);
  std::memcpy(head.data() + 64, "END OF HEADER", 13);
  for (std::int32_t k = 0; k < 1000; ++k) {
    const std::int32_t pair[2] = {1 + k * 5281, 70000 + k};
    std::memcpy(head.data() + 4096 + 8 * k, pair, 8);
  }
  const std::string path = put_file("image.mar2300", packed_image(head));
  Status status = ST_GOOD();
  for (auto _ : state) {
    const ImageRead read = read_mar_file(path, {n, n, false}, false, status);
    if (!read.ok()) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(read.image.data.get());
  }
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_ReadMar345Packed2300)->Unit(benchmark::kMillisecond);

// A detector file of HEADER then N x N 2-byte pixels (the values k mod 2^15
// of pixel k, least significant byte first unless BIG_ENDIAN), read by READ (a
// file routine into a fresh scratch image, timed by read_beside_plain as the
// benchmark NAME) or, with READ null, plainly with fread into a reused buffer.
using DetectorRead = ImageRead (*)(const std::string& path, const ReadRequest& request,
                                   Status& status);
void detector_bench(benchmark::State& state, const std::string& name, const std::string& header,
                    Index n, DetectorRead read, bool big_endian = false) {
  Quiet quiet;
  std::string bytes = header;
  bytes.reserve(header.size() + static_cast<std::size_t>(2 * n * n));
  for (Index k = 0; k < n * n; ++k) {
    const auto low = static_cast<char>(k & 0xff), high = static_cast<char>((k >> 8) & 0x7f);
    bytes.push_back(big_endian ? high : low);
    bytes.push_back(big_endian ? low : high);
  }
  const std::string path = put_file("detector.img", bytes);
  if (read != nullptr) {
    read_beside_plain(state, name, path, bytes.size(),
                      [&](const std::string& file, Status& status) {
                        return read(file, {n, n, false}, status);
                      });
  } else {
    std::vector<char> plain(bytes.size());
    for (auto _ : state) {
      std::FILE* f = std::fopen(path.c_str(), "rb");
      benchmark::DoNotOptimize(std::fread(plain.data(), 1, plain.size(), f));
      std::fclose(f);
    }
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * n * n * 2);
}

std::string bruker_header(Index n) {
  std::string out;
  for (const auto& [key, value] : {std::pair{"FORMAT", 86}, std::pair{"HDRBLKS", 5},
                                   std::pair{"NPIXELB", 2}, std::pair{"NROWS", int(n)},
                                   std::pair{"NCOLS", int(n)}}) {
    std::string line = key;
    line.resize(7, ' ');
    line += ":" + std::to_string(value);
    line.resize(80, ' ');
    out += line;
  }
  out += '\x1a';
  out.resize(5 * 512, ' ');
  return out;
}
void BM_ReadBruker4096(benchmark::State& state) {
  detector_bench(state, "bruker", bruker_header(kSize), kSize, read_bruker_file);
}
void BM_PlainReadBruker4096(benchmark::State& state) {
  detector_bench(state, "bruker plain", bruker_header(kSize), kSize, nullptr);
}
std::string adsc_header(Index n) {
  std::string out = "{\nHEADER_BYTES=512;\nDIM=2;\nBYTE_ORDER=little_endian;\nTYPE=unsigned_short;\n"
                    "SIZE1=" + std::to_string(n) + ";\nSIZE2=" + std::to_string(n) + ";\n}\n";
  out.resize(512, ' ');
  return out;
}
void BM_ReadAdsc4096(benchmark::State& state) {
  detector_bench(state, "adsc", adsc_header(kSize), kSize, read_adsc_file);
}
BENCHMARK(BM_ReadAdsc4096)->Unit(benchmark::kMillisecond);

std::string raxis_header(Index n) {
  std::string out(2048, '\0');
  const auto size = static_cast<std::int32_t>(n), start = std::int32_t{2048};
  const float scale = 8.0f;
  std::memcpy(out.data() + 768, &size, 4);
  std::memcpy(out.data() + 772, &size, 4);
  std::memcpy(out.data() + 784, &start, 4);
  std::memcpy(out.data() + 800, &scale, 4);
  return out;
}
void BM_ReadRaxis3000(benchmark::State& state) {
  detector_bench(state, "raxis", raxis_header(3000), 3000, read_raxis_file);
}
void BM_PlainReadRaxis3000(benchmark::State& state) {
  detector_bench(state, "raxis plain", raxis_header(3000), 3000, nullptr);
}
BENCHMARK(BM_ReadRaxis3000)->Unit(benchmark::kMillisecond);

// A 2048 x 2048 16-bit Fuji scan with its description, linearised.
std::string fuji_description_file() {
  return put_file("scan.inf", "BAS2000\nplate\n\n\n100\n100\n16\n2048\n2048\n4000\n4\n");
}
ImageRead read_fuji_beside(const std::string& path, const ReadRequest& request,
                           Status& status) {
  static const std::string inf = fuji_description_file();
  return read_fuji_file(inf, path, request, status);
}
// The scan holds the same values as the other detector files, in its own
// (big-endian) byte order.
void BM_ReadFuji2048(benchmark::State& state) {
  detector_bench(state, "fuji", "", 2048, read_fuji_beside, true);
}
void BM_PlainReadFuji2048(benchmark::State& state) {
  detector_bench(state, "fuji plain", "", 2048, nullptr, true);
}
BENCHMARK(BM_ReadFuji2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadFuji2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadRaxis3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBruker4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadBruker4096)->Unit(benchmark::kMillisecond);

}  // namespace
