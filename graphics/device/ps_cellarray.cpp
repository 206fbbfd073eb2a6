// PostScript cell arrays: integer, byte and real images written as
// hexadecimal image data, averaged in blocks down to the image resolution.

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/ps_driver.hpp"
#include "graphics/device/ps_internal.hpp"

namespace kesta {

using namespace ps_detail;

namespace {

constexpr Index kCellsPerLine = 39;
constexpr std::size_t kFlushBytes = 1 << 20;

// Two upper-case hexadecimal digits of every byte value.
const std::array<std::array<char, 2>, 256>& hex_table() {
  static const std::array<std::array<char, 2>, 256> table = [] {
    std::array<std::array<char, 2>, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const std::string z = format_z(static_cast<std::uint64_t>(i), 2, 2);
      t[static_cast<std::size_t>(i)] = {z[0], z[1]};
    }
    return t;
  }();
  return table;
}

// Grey level of every colour index, from the current colour table.
std::array<std::uint8_t, 256> grey_levels() {
  std::array<std::uint8_t, 256> grey{};
  for (std::size_t i = 0; i < 256; ++i) {
    const Rgb& c = qg_db_colours.table[i];
    const double g = (0.5 * c.red + 0.39 * c.green + 0.11 * c.blue) * 255.0;
    grey[i] = static_cast<std::uint8_t>(std::clamp(g, 0.0, 255.0));
  }
  return grey;
}

int component(float c) { return static_cast<int>(std::clamp(c * 255.0f, 0.0f, 255.0f)); }

// Everything before the cells: procedures once per file, the colour table
// (colour files), the string definitions and the image line.
void cell_header(bool six_fives, float x1, float y1, float x2, float y2, Index nx, Index ny,
                 Status& status) {
  if (!qg_ps_functions.written) QG_PS_WCA(status);
  const auto& hex = hex_table();
  if (qg_ps_format.colour) {
    write("ct", status);
    std::string line;
    for (std::size_t i = 0; i < 256; ++i) {
      const Rgb& c = qg_db_colours.table[i];
      for (int v : {component(c.red), component(c.green), component(c.blue)}) {
        line += hex[static_cast<std::size_t>(v)][0];
        line += hex[static_cast<std::size_t>(v)][1];
      }
      if (line.size() == 78) {
        write(line, status);
        line.clear();
      }
    }
    if (!line.empty()) write(line, status);
    write("pop pop  % Remove status return from stack", status);
  }
  std::string line = "/pixel_string ";
  append_field(line, nx, 5);
  line += " string def  % String to hold line of pixels";
  write(line, status);
  if (qg_ps_format.colour) {
    line = "/rgb_string ";
    append_field(line, 3 * nx, 5);
    line += " string def  % String to hold line of rgb values";
    write(line, status);
  }
  line.clear();
  const int corner_width = six_fives ? 5 : 6;
  append_field(line, ps_x(x1), corner_width);
  append_field(line, ps_y(y1), corner_width);
  append_field(line, ps_x(x2), corner_width);
  append_field(line, ps_y(y2), corner_width);
  append_field(line, nx, 5);
  append_field(line, ny, 5);
  line += " ca";
  write(line, status);
}

// The cells, row by row: FILL_ROW(r, out) gives the nx colour indices of
// output row r. Hexadecimal through a lookup table into a large buffer,
// 39 cells a line, lines running on across rows.
template <class FillRow>
void cell_rows(Index nx, Index ny, FillRow&& fill_row, Status& status) {
  const auto& hex = hex_table();
  const bool colour = qg_ps_format.colour;
  const std::array<std::uint8_t, 256> grey = colour ? std::array<std::uint8_t, 256>{} : grey_levels();
  std::vector<std::uint8_t> row(static_cast<std::size_t>(nx));
  std::string buffer;
  buffer.reserve(kFlushBytes + 256);
  Index in_line = 0;
  for (Index r = 0; r < ny; ++r) {
    if (!fill_row(r, std::span<std::uint8_t>(row))) return;
    for (Index c = 0; c < nx; ++c) {
      std::uint8_t v = row[static_cast<std::size_t>(c)];
      if (!colour) v = grey[v];
      buffer += hex[v][0];
      buffer += hex[v][1];
      if (++in_line == kCellsPerLine) {
        in_line = 0;
        if (buffer.size() >= kFlushBytes) {
          write(buffer, status);
          buffer.clear();
        } else {
          buffer += '\n';
        }
      }
    }
  }
  if (!buffer.empty() && buffer.back() == '\n') buffer.pop_back();
  if (!buffer.empty()) write(buffer, status);
}

}  // namespace

void QG_PS_WCA(Status& status) {
  if (st_bad(status, "Subroutine QG_PS_WCA V0.3")) return;
  const bool colour = qg_ps_format.colour;
  if (colour) {
    write("/colourtable 768 string def", status);
    write("/ct {currentfile colourtable readhexstring} def", status);
    write("% p2rgb : Convert pixel value to RGB values", status);
    write("/p2rgb {        % Stack : pixel_string index => pixel_string", status);
    write("/index exch def  % Save element index", status);
    write("dup       % Duplicate 'pixel_string' on stack", status);
    write("index get 3 mul /colourindex exch def  % Define base colour index", status);
    write("/index index 3 mul def  % Calculate string position", status);
    write("rgb_string index colourtable colourindex get put", status);
    write("/index index 1 add def  % Increment output string index", status);
    write("/colourindex colourindex 1 add def % Increment colour index", status);
    write("rgb_string index colourtable colourindex get put", status);
    write("/index index 1 add  def % Increment output string index", status);
    write("/colourindex colourindex 1 add  def  % Increment colour index", status);
    write("rgb_string index colourtable colourindex get put", status);
    write("} def", status);
  }
  write("% Definition of \"ca\" operator", status);
  write("/ca { /yip exch def /xip exch def /ye exch def /xe exch def", status);
  write("/ys exch def /xs exch def", status);
  write("gsave xs ys translate xe xs sub 1 add ye ys sub 1 add scale", status);
  write("xip yip 8 [xip 0 0 yip 0 0]", status);
  if (colour) {
    write("{currentfile pixel_string readhexstring pop  % Input line of pixels", status);
    write("0 1 xip 1 sub {p2rgb} for % Convert pixels to RBG values", status);
    write("pop  %  Take 'pixel_string' off stack", status);
    write("rgb_string } %  Put RGB string on stack", status);
    write("false 3 colorimage grestore} def", status);
  } else {
    write("{currentfile pixel_string readhexstring pop} % Input line of pixels", status);
    write("image grestore} def", status);
  }
  if (status == ST_GOOD()) qg_ps_functions.written = true;
}

void QG_PS_CA(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat, Index xstrelm,
              Index ystrelm, Index xnum, Index ynum, std::span<const int> indices,
              Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_CA V0.3";
  if (st_bad(status, kPosition)) return;
  if (const Status code =
          cell_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xnum, ynum, indices.size());
      code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  const CellBlocks b = cell_blocks(xnum, ynum, qg_db_resolution.resolution);
  cell_header(false, x1, y1, x2, y2, b.nx, b.ny, status);
  std::vector<std::int64_t> sums(static_cast<std::size_t>(b.nx));
  const double cells = static_cast<double>(b.bx * b.by);
  cell_rows(
      b.nx, b.ny,
      [&](Index r, std::span<std::uint8_t> out) {
        block_row_sums<int, std::int64_t>(b, indices, {}, xmaxdat, xstrelm, ystrelm, r, sums, {});
        for (std::size_t c = 0; c < sums.size(); ++c) {
          const double mean = std::round(static_cast<double>(sums[c]) / cells);
          out[c] = static_cast<std::uint8_t>(std::clamp(mean, 0.0, 255.0));
        }
        return true;
      },
      status);
}

void QG_PS_BCA(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
               Index xstrelm, Index ystrelm, Index xnum, Index ynum,
               std::span<const std::uint8_t> bytes, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_BCA V0.2";
  if (st_bad(status, kPosition)) return;
  if (const Status code =
          cell_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xnum, ynum, bytes.size());
      code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  cell_header(false, x1, y1, x2, y2, xnum, ynum, status);
  cell_rows(
      xnum, ynum,
      [&](Index r, std::span<std::uint8_t> out) {
        const std::uint8_t* row = bytes.data() + element(xstrelm, ystrelm + r, xmaxdat);
        std::copy_n(row, xnum, out.begin());
        return true;
      },
      status);
}

void QG_PS_RMCA(bool masked, float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
                Index xstrelm, Index ystrelm, Index xnum, Index ynum, std::span<const float> data,
                std::span<const std::uint8_t> mask, float minimum, float maximum, int mask_colour,
                Status& status) {
  constexpr const char* kPosition = "Subroutine QG_PS_RMCA V0.4";
  if (st_bad(status, kPosition)) return;
  if (const Status code = real_cell_region_error(masked, xmaxdat, ymaxdat, xstrelm, ystrelm, xnum,
                                                 ynum, data.size(), mask.size());
      code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  const bool log_scale = qg_db_colours.log_scaling;
  // The logarithm needs a positive minimum below the maximum.
  if (log_scale && !(minimum > 0.0f && maximum > minimum)) {
    st_fail(status, 131004, kPosition);
    return;
  }
  const int first = qg_db_colours.first_image;
  const int last = qg_db_colours.last_image;
  const int n = last - first;
  std::vector<double> thresholds;
  if (log_scale && n >= 1) {
    thresholds.resize(static_cast<std::size_t>(n) + 2);
    const double lmin = std::log10(static_cast<double>(minimum));
    const double lmax = std::log10(static_cast<double>(maximum));
    for (int k = 1; k <= n + 1; ++k)
      thresholds[static_cast<std::size_t>(k)] = std::pow(10.0, lmin + (lmax - lmin) * (k - 1) / n);
  }
  double range = static_cast<double>(maximum) - minimum;
  if (range < 1.0e-36) range = 1.0;
  const double factor = (n + 1) / range;
  const auto mask_byte = static_cast<std::uint8_t>(std::clamp(mask_colour, 0, 255));
  // A block holding a pixel that is not a number (a bad pixel; a sum of
  // both infinities too) is drawn as a masked one, never as a low value.
  auto map = [&](double v) -> std::uint8_t {
    if (v != v) return mask_byte;
    int index;
    if (!log_scale) {
      double f = std::round((v - minimum) * factor);
      f = f > -1.0e6 ? f : -1.0e6;
      f = f < 1.0e6 ? f : 1.0e6;
      index = std::clamp(static_cast<int>(f) + first, first, last);
    } else if (v >= maximum) {
      index = last;
    } else if (v <= minimum || n < 1) {
      index = first;
    } else {
      int low = 0, high = n;
      while (high - low > 1) {
        const int mid = (low + high) / 2;
        if (thresholds[static_cast<std::size_t>(mid)] <= v)
          low = mid;
        else
          high = mid;
      }
      index = std::clamp(first - 1 + low, first, last);
    }
    return static_cast<std::uint8_t>(std::clamp(index, 0, 255));
  };

  const CellBlocks b = cell_blocks(xnum, ynum, qg_db_resolution.resolution);
  cell_header(true, x1, y1, x2, y2, b.nx, b.ny, status);
  std::vector<double> sums(static_cast<std::size_t>(b.nx));
  std::vector<std::uint8_t> hit(static_cast<std::size_t>(b.nx));
  const double cells = static_cast<double>(b.bx * b.by);
  const std::span<const std::uint8_t> block_mask = masked ? mask : std::span<const std::uint8_t>();
  cell_rows(
      b.nx, b.ny,
      [&](Index r, std::span<std::uint8_t> out) {
        block_row_sums<float, double>(b, data, block_mask, xmaxdat, xstrelm, ystrelm, r, sums, hit);
        for (std::size_t c = 0; c < sums.size(); ++c)
          out[c] = masked && hit[c] != 0 ? mask_byte : map(sums[c] / cells);
        return true;
      },
      status);
}

}  // namespace kesta
