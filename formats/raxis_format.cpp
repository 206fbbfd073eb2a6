#include "formats/raxis_format.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/io_output.hpp"
#include "formats/detector_input.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {

namespace {

// Large values are stored folded (negative): COUNT stored values at RAW
// (byte order reversed when SWAPPED) into OUT. Both forms are made for every
// pixel and one picked by the sign bit without a branch, so the loop
// vectorises.
template <bool Swapped>
inline void unfold_row(const unsigned char* raw, float* out, Index count, float scale) {
  for (Index x = 0; x < count; ++x) {
    std::uint16_t u;
    std::memcpy(&u, raw + 2 * x, 2);
    if constexpr (Swapped) u = __builtin_bswap16(u);
    const auto stored = static_cast<std::int16_t>(u);
    const auto v = static_cast<float>(stored);
    const float unfolded = (v + 32768.0f) * scale;
    const std::uint32_t folded = 0u - (std::uint32_t{u} >> 15);
    out[x] = std::bit_cast<float>((std::bit_cast<std::uint32_t>(unfolded) & folded) |
                                  (std::bit_cast<std::uint32_t>(v) & ~folded));
  }
}

KESTA_WIDE_VECTORS
void unfold_native(const unsigned char* raw, float* out, Index count, float scale) {
  unfold_row<false>(raw, out, count, scale);
}

KESTA_WIDE_VECTORS
void unfold_swapped(const unsigned char* raw, float* out, Index count, float scale) {
  unfold_row<true>(raw, out, count, scale);
}

}  // namespace

ImageRead read_raxis_file(const std::string& path, const ReadRequest& request, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  if (!input_opened(input, path, status)) return result;
  std::array<std::uint8_t, 1024> h{};
  if (!input.read(0, h.data(), 1024)) {
    report_unread_file(path, "ends inside its header", status);
    return result;
  }
  const auto in_range = [&](bool swap) {
    const auto nx = static_cast<std::uint32_t>(int32_at(&h[768], swap));
    const auto ny = static_cast<std::uint32_t>(int32_at(&h[772], swap));
    return nx <= 16000 && ny <= 16000;
  };
  const bool swap = !in_range(false);
  if (swap && !in_range(true)) {
    report_unread_file(path, "is not an R-AXIS image file", status);
    return result;
  }
  const Index nx = int32_at(&h[768], swap), ny = int32_at(&h[772], swap);
  const Index start = int32_at(&h[784], swap);
  const float scale = real32_at(&h[800], swap);
  ScratchImage& image = result.image;
  if (start < 0) {
    report_unread_file(path, "gives a header length below 0", status);
    return result;
  }
  const auto unfold = [scale](auto swapped) {
    return [scale](const unsigned char* raw, float* out, Index count) {
      if constexpr (decltype(swapped)::value)
        unfold_swapped(raw, out, count, scale);
      else
        unfold_native(raw, out, count, scale);
    };
  };
  const PixelLayout layout{nx, ny, start, 2, true, swap, false};
  Index xend = 0, yend = 0;
  if (!prepare_detector_pixels(input, path, layout, request, image, xend, yend, status) ||
      !(swap ? decode_detector_pixels(input, path, layout, xend, yend, image,
                                      unfold(std::true_type{}), status)
             : decode_detector_pixels(input, path, layout, xend, yend, image,
                                      unfold(std::false_type{}), status)))
    return ImageRead{};
  describe_detector_image(path, image);
  result.retstat = 0;
  return result;
}

ImageRead raxis_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  std::string path;
  if (!ask_input_file("RAXIS DETECTOR DATA FILE NAME",
                      {"Name of file containing RAXIS detector format data"}, kRetypeName,
                      file_name, path, status))
    return {};
  return read_raxis_file(path, request, status);
}

}  // namespace kesta
