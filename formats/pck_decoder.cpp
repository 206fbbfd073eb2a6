#include "formats/pck_decoder.hpp"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "core/region.hpp"
#include "formats/fio_stream.hpp"

namespace kesta {

namespace {

constexpr std::size_t kMaxLine = 8191;
constexpr int kWidths[8] = {0, 4, 5, 6, 7, 8, 16, 32};

// Finds the header line; false at the end of the stream.
bool read_header(std::FILE* in, int& x, int& y) {
  std::string line;
  for (;;) {
    line.clear();
    int c = 0;
    while (line.size() < kMaxLine && (c = std::fgetc(in)) != EOF) {
      if (c == '\n') break;
      line.push_back(static_cast<char>(c));
    }
    if (line.empty() && c == EOF) return false;
    int sx = 0, sy = 0;
    if (std::sscanf(line.c_str(), "CCP4 packed image, X: %4d, Y: %4d", &sx, &sy) == 2 && sx > 0 &&
        sy > 0) {
      x = sx;
      y = sy;
      return true;
    }
    if (c == EOF) return false;
  }
}

// Bits of the stream, least significant first.
class BitReader {
 public:
  explicit BitReader(std::FILE* in) : in_(in) {}
  // The next N (0..32) bits; false when the stream ends first.
  bool get(int n, std::uint32_t& value) {
    while (count_ < n) {
      const int c = getc_unlocked(in_);
      if (c == EOF) return false;
      window_ |= static_cast<std::uint64_t>(static_cast<unsigned char>(c)) << count_;
      count_ += 8;
    }
    value = n == 0 ? 0u : static_cast<std::uint32_t>(window_ & ((std::uint64_t{1} << n) - 1));
    window_ >>= n;
    count_ -= n;
    return true;
  }

 private:
  std::FILE* in_;
  std::uint64_t window_ = 0;
  int count_ = 0;
};

// Sign-extends the low WIDTH bits.
std::int32_t residual(std::uint32_t bits, int width) {
  if (width == 0) return 0;
  if (width == 32) return static_cast<std::int32_t>(bits);
  const std::uint32_t sign = std::uint32_t{1} << (width - 1);
  return static_cast<std::int32_t>((bits ^ sign) - sign);
}

}  // namespace

void FIO_IN_PCKC(int stream_id, Index xmaxdat, Index ymaxdat, int& retstat, Index& xnum,
                 Index& ynum, std::span<float> data) {
  (void)stream_id;  // the one input stream of the layer
  std::FILE* in = fio_input_file();
  if (in == nullptr) return;
  if (xmaxdat < 1 || ymaxdat < 1 || !array_holds(data.size(), xmaxdat, ymaxdat)) {
    retstat = 4;
    return;
  }
  int sx = 0, sy = 0;
  if (!read_header(in, sx, sy)) {
    retstat = 1;
    return;
  }
  const Index x_size = sx;
  const Index rows = std::min<Index>(sy, ymaxdat);
  const Index stored = std::min<Index>(x_size, xmaxdat);

  // Two rows as a ring: v[p] lives at p mod 2X, which still holds
  // v[p-1], v[p-X+1], v[p-X] and v[p-X-1] when v[p] is computed.
  const Index ring_size = 2 * x_size;
  std::unique_ptr<std::int16_t[]> ring(new (std::nothrow) std::int16_t[ring_size]());
  if (!ring) {
    retstat = 2;
    return;
  }
  // Slots behind the current one, at most 2X - 1 back.
  auto at = [&](Index i) -> std::int32_t { return ring[i < 0 ? i + ring_size : i]; };

  BitReader bits(in);
  const Index total = rows * x_size;
  Index left_in_block = 0;
  int width = 0;
  Index done_rows = 0;
  Index slot = 0;  // p mod 2X
  for (Index p = 0; p < total; ++p) {
    if (left_in_block == 0) {
      std::uint32_t header = 0;
      if (!bits.get(6, header)) break;
      left_in_block = Index{1} << (header & 7u);
      width = kWidths[(header >> 3) & 7u];
    }
    std::uint32_t field = 0;
    if (!bits.get(width, field)) break;
    --left_in_block;
    const std::int32_t r = residual(field, width);
    std::uint32_t value = 0;
    if (p == 0) {
      value = static_cast<std::uint32_t>(r);
    } else if (p <= x_size) {
      value = static_cast<std::uint32_t>(at(slot - 1)) + static_cast<std::uint32_t>(r);
    } else {
      const std::int32_t sum =
          at(slot - 1) + at(slot - x_size + 1) + at(slot - x_size) + at(slot - x_size - 1) + 2;
      value = static_cast<std::uint32_t>(r) + static_cast<std::uint32_t>(sum / 4);
    }
    ring[slot] = static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    slot = slot + 1 == ring_size ? 0 : slot + 1;
    if ((p + 1) % x_size == 0) {
      // A row is complete: store it as unsigned values.
      const std::int16_t* row = ring.get() + (done_rows % 2) * x_size;
      float* out = data.data() + done_rows * xmaxdat;
      for (Index i = 0; i < stored; ++i) out[i] = static_cast<std::uint16_t>(row[i]);
      ++done_rows;
    }
  }
  xnum = stored;
  ynum = done_rows;
  retstat = done_rows == rows ? 0 : 3;
}

}  // namespace kesta
