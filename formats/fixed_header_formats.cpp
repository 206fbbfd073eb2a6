#include "formats/fixed_header_formats.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/ask_again.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/system.hpp"
#include "formats/detector_input.hpp"

namespace kesta {

namespace {

// Little-endian integers of a header.
Index le16(const std::uint8_t* b, bool is_signed = false) {
  const auto v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  return is_signed ? static_cast<std::int16_t>(v) : v;
}
Index le32(const std::uint8_t* b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | (b[1] << 8) | (b[2] << 16) |
                                   (static_cast<std::uint32_t>(b[3]) << 24));
}

// The size lines and the warnings of an image larger than the arrays.
void size_lines(Index width, Index height, const ReadRequest& request, Status& status) {
  IO_WRITE("INFO: Size of image = " + format_i(width, 5) + " * " + format_i(height, 5), status);
  if (width > request.xmaxdat)
    for (const std::string_view line : kPartialWidthWarning) IO_WRITE(std::string(line), status);
  if (height > request.ymaxdat)
    for (const std::string_view line : kPartialHeightWarning) IO_WRITE(std::string(line), status);
}

// Opens PATH and reads its first BYTES header bytes; false after the
// messages.
bool read_header(StreamInput& input, const std::string& path, std::uint8_t* header, Index bytes,
                 Status& status) {
  if (!input.ok()) {
    report_unread_file(path, input.problem(), status);
    return false;
  }
  if (!input.read(0, header, bytes)) {
    IO_WRITE("WARNING: Problem reading in file header", status);
    report_unread_file(path, "ends inside its header", status);
    return false;
  }
  return true;
}

// A read image described as a detector image titled with its file.
ImageRead finish(ImageRead&& result, const std::string& path) {
  describe_detector_image(path, result.image);
  result.retstat = 0;
  return std::move(result);
}

// One image of a stack: IMAGE (1..IMAGES) at START + (IMAGE - 1) * frame bytes.
bool stack_offset(const std::string& path, Index width, Index height, int bytes, Index images,
                  Index image, Index header, Index& start, Status& status) {
  Index frame = 0;
  if (width < 1 || height < 1 || !checked_product(width * height, bytes, frame)) {
    report_unread_file(path,
                       "gives an image size of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels",
                       status);
    return false;
  }
  if (image < 1 || image > images || !checked_product(frame, image - 1, start)) {
    report_unread_file(path, "has no image " + std::to_string(image), status);
    return false;
  }
  start += header;
  return true;
}

struct PrincetonLayout {
  Index width = 0, height = 0, type = 0, frames = 0;
};

bool princeton_layout(StreamInput& input, const std::string& path, PrincetonLayout& l,
                      Status& status) {
  std::vector<std::uint8_t> h(4100);
  if (!read_header(input, path, h.data(), 4100, status)) return false;
  l.width = le16(&h[42], true);
  l.type = le16(&h[108], true);
  l.height = le16(&h[656], true);
  l.frames = le32(&h[1446]);
  if (l.frames == 0) {
    l.type = 3;
    l.height = le16(&h[34], true);
    if (l.height == -1) {
      l.height = le32(&h[664]);
      const Index rows = le16(&h[656], true);
      if (l.height < 1 || rows % l.height != 0) {
        report_unread_file(
            path, "cannot be divided into frames of " + std::to_string(l.height) + " rows", status);
        return false;
      }
      l.frames = rows / l.height;
    }
  }
  l.frames = std::max<Index>(l.frames, 1);
  if (l.type < 0 || l.type > 3) {
    report_unread_file(path, "gives the pixel type " + std::to_string(l.type), status);
    return false;
  }
  return true;
}

Index photometrics_header(StreamInput& input, const std::string& path, Index& h, Index& x, Index& y,
                          Status& status) {
  std::array<std::uint8_t, 172> b{};
  if (!read_header(input, path, b.data(), 172, status)) return 0;
  h = le16(&b[4]);
  x = le16(&b[12]);
  y = le16(&b[14]);
  return std::max<Index>(le16(&b[170], true), 1);
}

}  // namespace

ImageRead read_hamamatsu_file(const std::string& path, const ReadRequest& request, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  std::array<std::uint8_t, 128> h{};
  if (!read_header(input, path, h.data(), 128, status)) return result;
  Index width = 0, height = 0, xoff = 0, yoff = 0, bits = 16, start = 256;
  if (h[0] == 'I' && h[1] == 'M') {
    width = le16(&h[4]);
    height = le16(&h[6]);
    xoff = le16(&h[8]);
    yoff = le16(&h[10]);
    bits = le16(&h[12]) == 2 ? 16 : 8;
    start = 64 + le16(&h[2]);
  } else {
    xoff = le16(&h[16]);
    yoff = le16(&h[18]);
    width = le16(&h[20]);
    height = le16(&h[22]);
    bits = le16(&h[48]);
  }
  IO_WRITE("INFO: Image X-offset = " + format_i(xoff, 5), status);
  IO_WRITE("INFO: Image Y-offset = " + format_i(yoff, 5), status);
  size_lines(width, height, request, status);
  IO_WRITE("INFO: Number of bits per pixel = " + format_i(bits, 5), status);
  const int bytes = h[0] == 'I' && h[1] == 'M' && bits == 8 ? 1 : 2;
  if (!read_detector_pixels(
          input, path, {width, height, start, bytes, false, IO_BIG_ENDIAN(), true, false, "", true},
          request, result.image, status))
    return ImageRead{};
  return finish(std::move(result), path);
}

Index photometrics_images(const std::string& path, Status& status) {
  StreamInput input(path);
  Index h = 0, x = 0, y = 0;
  return photometrics_header(input, path, h, x, y, status);
}

ImageRead read_photometrics_file(const std::string& path, const ReadRequest& request, Index image,
                                 Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  Index h = 0, x = 0, y = 0, start = 0;
  const Index images = photometrics_header(input, path, h, x, y, status);
  if (images == 0) return result;
  size_lines(x, y, request, status);
  IO_WRITE("INFO: Number of stored images = " + format_i(images, 5), status);
  if (!stack_offset(path, x, y, 2, images, image, h, start, status) ||
      !read_detector_pixels(input, path, {x, y, start, 2, false, IO_BIG_ENDIAN(), true, false, ""},
                            request, result.image, status))
    return ImageRead{};
  return finish(std::move(result), path);
}

Index princeton_images(const std::string& path, Status& status) {
  StreamInput input(path);
  PrincetonLayout l;
  return princeton_layout(input, path, l, status) ? l.frames : 0;
}

ImageRead read_princeton_file(const std::string& path, const ReadRequest& request, Index image,
                              Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  PrincetonLayout l;
  if (!princeton_layout(input, path, l, status)) return result;
  size_lines(l.width, l.height, request, status);
  IO_WRITE("INFO: Number of stored images = " + format_i(l.frames, 5), status);
  // Images stride by their own pixel size.
  const int bytes = l.type <= 1 ? 4 : 2;
  Index start = 0;
  if (!stack_offset(path, l.width, l.height, bytes, l.frames, image, 4100, start, status) ||
      !read_detector_pixels(
          input, path,
          {l.width, l.height, start, bytes, l.type == 2, IO_BIG_ENDIAN(), true, l.type == 0, ""},
          request, result.image, status))
    return ImageRead{};
  return finish(std::move(result), path);
}

ImageRead read_dip2000_file(const std::string& path, const ReadRequest& request, bool swap,
                            Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  if (!input_opened(input, path, status)) return result;
  ScratchImage& image = result.image;
  if (!read_detector_pixels(input, path, {2500, 2500, 0, 2, true, swap, false}, request, image,
                            status))
    return ImageRead{};
  for (Index y = 1; y <= image.ynumdat; ++y) {
    float* row = image.data.get() + element(1, y, image.xmaxdat);
    for (Index x = 0; x < image.xnumdat; ++x) {
      const float v = row[x];
      row[x] = v < 0.0f ? 32768.0f - 256.0f * v : v;
    }
  }
  return finish(std::move(result), path);
}

ImageRead read_wess_file(const std::string& path, const ReadRequest& request, Index x_size,
                         Index y_size, const TiffRegion& r, Status& status) {
  ImageRead result;
  if (status != kStatusGood) return result;
  StreamInput input(path);
  if (!input_opened(input, path, status)) return result;
  const Index xnum = r.xbin >= 1 ? (r.xend - r.xstart + 1) / r.xbin : 0;
  const Index ynum = r.ybin >= 1 ? (r.yend - r.ystart + 1) / r.ybin : 0;
  Index bytes = 0;
  if (x_size < 1 || y_size < 1 || r.xstart < 1 || r.ystart < 1 || r.xend > x_size ||
      r.yend > y_size || xnum < 1 || ynum < 1 || xnum > request.xmaxdat || ynum > request.ymaxdat ||
      !checked_product(x_size, r.ystart - 1 + ynum * r.ybin, bytes) || !input.holds(0, bytes)) {
    report_unread_file(path, "does not hold the region asked for", status);
    return result;
  }
  if (!scratch_allocate(request, request.variances, path, result.image, status)) return {};
  ScratchImage& image = result.image;
  float* data = image.data.get();
  for (Index j = 1; j <= ynum; ++j) std::fill_n(data + element(1, j, request.xmaxdat), xnum, 0.0f);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(xnum * r.xbin));
  for (Index y = r.ystart; y < r.ystart + ynum * r.ybin; ++y) {
    if (!input.read((y - 1) * x_size + r.xstart - 1, row.data(), xnum * r.xbin)) {
      report_unread_file(path, "could not be read", status);
      return {};
    }
    float* out = data + element(1, (y - r.ystart) / r.ybin + 1, request.xmaxdat);
    for (Index x = 0; x < xnum * r.xbin; ++x) out[x / r.xbin] += row[static_cast<std::size_t>(x)];
  }
  image.xnumdat = xnum;
  image.ynumdat = ynum;
  describe_detector_image("Collagen", image);
  for (Index i = 0; i < xnum; ++i)
    image.xaxis.push_back(static_cast<float>((r.xstart - 1) + (i + 0.5) * r.xbin));
  for (Index j = 0; j < ynum; ++j)
    image.yaxis.push_back(static_cast<float>((r.ystart - 1) + (j + 0.5) * r.ybin));
  result.retstat = 0;
  return result;
}

namespace {

constexpr const char* kDataFile = "DATA FILE NAME";
constexpr const char* kDataHelp = "Name of file containing data set";

// The image of a stack to read: the one after the last read, wrapping.
bool ask_image(Index images, Index& last, Index& image, Status& status) {
  image = last % images + 1;
  if (images > 1 &&
      !ask_index("IMAGE NUMBER",
                 "Enter number of the required image to input from the image sequence", 1,
                 std::min<Index>(images, 1000000), image, status))
    return false;
  last = image;
  return status == kStatusGood;
}

struct FixedHeaderState {
  Index photometrics_last = 0;
  Index princeton_last = 0;
  bool dip_swap = false;
  Index wess_x = 512, wess_y = 512;
  TiffRegion wess_region{1, 1, 512, 512, 1, 1};
};
FixedHeaderState fixed_state;

}  // namespace

ImageRead hamamatsu_keyboard_read(const ReadRequest& request, std::string& file_name,
                                  Status& status) {
  std::string path;
  if (!ask_input_file(kDataFile, {kDataHelp}, kRetypeName, file_name, path, status)) return {};
  return read_hamamatsu_file(path, request, status);
}

ImageRead photometrics_keyboard_read(const ReadRequest& request, std::string& file_name,
                                     Status& status) {
  std::string path;
  if (!ask_input_file(kDataFile, {kDataHelp}, kRetypeName, file_name, path, status)) return {};
  const Index images = photometrics_images(path, status);
  Index image = 1;
  if (images == 0 || !ask_image(images, fixed_state.photometrics_last, image, status)) return {};
  return read_photometrics_file(path, request, image, status);
}

ImageRead princeton_keyboard_read(const ReadRequest& request, std::string& file_name,
                                  Status& status) {
  std::string path;
  if (!ask_input_file(kDataFile, {kDataHelp}, kRetypeName, file_name, path, status)) return {};
  const Index images = princeton_images(path, status);
  Index image = 1;
  if (images == 0 || !ask_image(images, fixed_state.princeton_last, image, status)) return {};
  return read_princeton_file(path, request, image, status);
}

ImageRead dip2000_keyboard_read(const ReadRequest& request, std::string& file_name,
                                Status& status) {
  std::string path;
  if (!ask_input_file(kDataFile, {kDataHelp}, kRetypeName, file_name, path, status)) return {};
  IO_INPL(true, false, true, true, "PERFORM BYTE SWAPPING",
          {"\"YES\" if the byte order needs to be changed"}, {"Enter YES or NO"},
          fixed_state.dip_swap, status);
  if (status != kStatusGood) return {};
  return read_dip2000_file(path, request, fixed_state.dip_swap, status);
}

ImageRead wess_keyboard_read(const ReadRequest& request, std::string& file_name, Status& status) {
  auto ask = [&](const char* prompt, const char* help, Index lower, Index upper, Index& value) {
    return ask_index(prompt, help, lower, upper, value, status);
  };
  FixedHeaderState& s = fixed_state;
  if (!ask("INPUT DATA X-SIZE", "Number of pixels in the input data image in the X-dimension", 1,
           1000000, s.wess_x) ||
      !ask("INPUT DATA Y-SIZE", "Number of pixels in the input data image in the Y-dimension", 1,
           1000000, s.wess_y))
    return {};
  std::string path;
  if (!ask_input_file(kDataFile, {kDataHelp}, kRetypeName, file_name, path, status)) return {};
  // A refused region is asked for again offering the one offered before.
  TiffRegion& r = s.wess_region;
  RegionRefusal refusal = RegionRefusal::kNone;
  if (!io_ask_until_accepted(
          r,
          [&](TiffRegion& t, Status&) {
            (void)(ask("X-START ELEMENT", "Start of input region in the X-dimension", 1, s.wess_x,
                       t.xstart) &&
                   ask("Y-START ELEMENT", "Start of input region in the Y-dimension", 1, s.wess_y,
                       t.ystart) &&
                   ask("X-END ELEMENT", "End of input region in the X-dimension", t.xstart,
                       s.wess_x, t.xend) &&
                   ask("Y-END ELEMENT", "End of input region in the Y-dimension", t.ystart,
                       s.wess_y, t.yend) &&
                   ask("X REBIN NUMBER", "Number of pixels for rebinning in X-direction", 1,
                       s.wess_x, t.xbin) &&
                   ask("Y REBIN NUMBER", "Number of pixels for rebinning in Y-direction", 1,
                       s.wess_y, t.ybin));
          },
          [&](const TiffRegion& t) {
            refusal = binned_region_refusal(request, t);
            return refusal == RegionRefusal::kNone;
          },
          [&](Status& st) {
            if (refusal == RegionRefusal::kBins) {
              IO_WRITE("WARNING: A re-bin factor is larger than the region; redefine them.", st);
            } else {
              IO_WRITE("WARNING: Dynamic arrays not large enough to hold requested image.", st);
              IO_WRITE("Redefine smaller region (or change array sizes).", st);
            }
          },
          status))
    return {};
  return read_wess_file(path, request, s.wess_x, s.wess_y, r, status);
}

}  // namespace kesta
