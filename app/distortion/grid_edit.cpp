// Smaller operations on the grid peaks and the grid image: the vignetting
// correction of the positions, destroying, viewing and saving peaks, a false
// peak painted where a hole is hidden, and the averaged hole profile.

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "app/distortion/grid_peaks.hpp"
#include "app/distortion/text_file.hpp"
#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"

namespace kesta {
namespace {

// What the operations keep for the run.
struct GridEditAnswers {
  float thickness = 0.000255f;  // metres
  float distance = 0.14f;       // metres
  bool centre_set = false;
  float x_beam = 0.0f, y_beam = 0.0f;
  int profile_size = 11;
  int over_sampling = 5;
  std::string file = "peaks.dat";
};

Status peaks_error(const GridPeaks& p) {
  if (p.xmax < 1 || p.ymax < 1 || std::ssize(p.x) < p.xmax * p.ymax ||
      std::ssize(p.y) < p.xmax * p.ymax || std::ssize(p.x_distortion) < p.xmax * p.ymax ||
      std::ssize(p.y_distortion) < p.xmax * p.ymax)
    return kBaseApp + 1;
  if (p.xnum < 1 || p.xnum > p.xmax) return kBaseApp + 5;
  if (p.ynum < 1 || p.ynum > p.ymax) return kBaseApp + 6;
  return 0;
}

std::string position_line(const GridPeaks& p, Index k) {
  return "INFO: Position/Distortion = " + format_f(p.x[k], 12, 4) + format_f(p.y[k], 12, 4) +
         format_f(p.x_distortion[k], 12, 4) + format_f(p.y_distortion[k], 12, 4);
}

// The peak-number loop of DESTROY and VIEW; ACT(k) for a present peak.
template <typename Act>
void peak_loop(const GridPeaks& p, std::string_view x_prompt, std::string_view y_prompt,
               std::string_view x_help, std::string_view y_help, std::string_view missing, Act act,
               Status& status) {
  int i = 1, j = 1;
  for (;;) {
    IO_INPI(true, 0, static_cast<int>(p.xnum), true, x_prompt, {std::string(x_help)},
            {"Enter integer in given range"}, i, status);
    if (status != kStatusGood || i == 0) return;
    IO_INPI(true, 1, static_cast<int>(p.ynum), true, y_prompt, {std::string(y_help)},
            {"Enter integer in given range"}, j, status);
    if (status != kStatusGood) return;
    const Index k = p.at(i, j);
    if (!p.present(i, j))
      IO_WRITE(missing, status);
    else
      act(k);
    if (status != kStatusGood) return;
    if (++i > p.xnum) {
      i = 1;
      if (++j > p.ynum) j = 1;
    }
  }
}

}  // namespace

void kzt_vignetting_shift(float thickness, float distance, float x_beam, float y_beam,
                          GridPeaks& p, Status& status) {
  float cb = 0.0f, rb = 0.0f;
  KZT_GRIDBEAMCENTRE(x_beam, y_beam, p, cb, rb, status);
  if (status != kStatusGood || !(distance > 0.0f)) return;
  const double shift = static_cast<double>(thickness) / (2.0 * distance);
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      if (!p.present(i, j)) continue;
      const Index k = p.at(i, j);
      const double dx = p.x[k] - x_beam, dy = p.y[k] - y_beam;
      const double r = std::sqrt(dx * dx + dy * dy);
      // The beam's own peak and a peak on the beam centre stay.
      if (r == 0.0) continue;
      const double g = std::hypot(static_cast<double>(i) - cb, static_cast<double>(j) - rb);
      if (std::abs(g * dx / r) > 1.0e-10) p.x[k] = static_cast<float>(p.x[k] - dx * shift);
      if (std::abs(g * dy / r) > 1.0e-10) p.y[k] = static_cast<float>(p.y[k] - dy * shift);
    }
}

void KZT_GRIDBEAMCENTRE(float x_beam, float y_beam, const GridPeaks& p, float& x_beam_grid,
                        float& y_beam_grid, Status& status) {
  if (st_bad(status, "Subroutine KZT_GRIDBEAMCENTRE V0.1")) return;
  double best = 1.7e38;
  x_beam_grid = y_beam_grid = 0.0f;
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      if (!p.present(i, j)) continue;
      const Index k = p.at(i, j);
      const double dx = p.x[k] - x_beam, dy = p.y[k] - y_beam;
      if (dx * dx + dy * dy < best) {
        best = dx * dx + dy * dy;
        x_beam_grid = static_cast<float>(i);
        y_beam_grid = static_cast<float>(j);
      }
    }
}

void KZT_VIGNETTING(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm, GridPeaks& p,
                    Status& status) {
  if (st_bad(status, "Subroutine KZT_VIGNETTING V0.4 ")) return;
  GridEditAnswers a = remembered<GridEditAnswers>();
  if (!a.centre_set) {
    a.x_beam = static_cast<float>(xstrelm + xendelm) * 0.5f;
    a.y_beam = static_cast<float>(ystrelm + yendelm) * 0.5f;
    a.centre_set = true;
  }
  float microns = std::clamp(a.thickness * 1.0e6f, 1.0f, 100000.0f);
  IO_INPR(true, 1.0f, 100000.0f, true, "MASK THICKNESS (microns)",
          {"Enter the thickness of the grid mask which causes the off-axis",
           "shadowing of the grid holes (vignetting). For counter-sunk holes",
           "this is the thickness of the final small hole, not of the whole",
           "mask.", "Examples:", "  255 microns: thin copper-plated mask",
           "  500 microns: solid copper mask", "The shadow moves the apparent",
           "centre of each hole away from the beam in proportion to its",
           "distance from the beam."},
          {"Value must be within given range"}, microns, status);
  if (status != kStatusGood) return;
  a.thickness = microns * 1.0e-6f;
  if (!kzt_upcall(imageops_upcalls.inp_sampledistance, "SAMPLE DISTANCE", status, false,
                  a.distance))
    return;
  IO_WRITE("INFO: The beam centre does not need to be specified accurately. An", status);
  IO_WRITE("      approximate centre is appropriate.", status);
  if (!kzt_upcall(imageops_upcalls.inp_beamcentre, "BEAM CENTRE", status, false, a.x_beam,
                  a.y_beam))
    return;
  if (status != kStatusGood) return;
  remembered<GridEditAnswers>() = a;
  kzt_vignetting_shift(a.thickness, a.distance, a.x_beam, a.y_beam, p, status);
}

void KZT_DESTROYPEAKS(GridPeaks& p, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_DESTROYPEAKS V0.1 ";
  if (st_bad(status, kPosition)) return;
  if (const Status e = peaks_error(p); e != 0) return st_fail(status, e, kPosition);
  peak_loop(
      p, "X-PEAK NUMBER TO DESTROY (0 to exit)", "Y-PEAK NUMBER TO DESTROY",
      "Enter X-peak number to see it's position", "Enter Y-peak number to see it's position",
      "INFO: Peak is missing",
      [&](Index k) {
        IO_WRITE(position_line(p, k), status);
        bool destroy = false;
        IO_INPL(false, false, true, true, "DESTROY PEAK",
                {"\"YES\" to destroy the peak, \"NO\" to leave it"}, {"Enter YES or NO"},
                destroy, status);
        if (status != kStatusGood || !destroy) return;
        p.x[k] = kMissingPeak;
        p.x_distortion[k] = 0.0f;
        p.y_distortion[k] = 0.0f;
      },
      status);
}

void KZT_VIEW2DPEAKS(const GridPeaks& p, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_VIEW2DPEAKS V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status e = peaks_error(p); e != 0) return st_fail(status, e, kPosition);
  peak_loop(
      p, "X-PEAK NUMBER TO VIEW (0 to exit)", "Y-PEAK NUMBER TO VIEW",
      "Enter X-peak number to see it's position", "Enter Y-peak number to see it's position",
      "INFO: Peak was not found", [&](Index k) { IO_WRITE(position_line(p, k), status); },
      status);
  if (status != kStatusGood) return;
  bool rows = true;
  int row = 1, column = 1;
  for (;;) {
    bool more = true;
    IO_INPL(false, false, true, true, "OUTPUT VALUES OF ROW OR COLUMN",
            {"YES for choice of row or column output"}, {"Enter YES or NO"}, more, status);
    if (status != kStatusGood || !more) return;
    IO_INPL(false, false, true, true, "OUTPUT VALUES OF ROW OF PEAKS",
            {"\"YES\" to output a row of peaks, \"NO\" for a column"}, {"Enter YES or NO"}, rows,
            status);
    if (status != kStatusGood) return;
    const auto line = [&](Index i, Index j) {
      const Index k = p.at(i, j);
      const std::string where = format_i(i, 6) + format_i(j, 6);
      IO_WRITE(p.present(i, j) ? where + position_line(p, k).substr(28) : where + "  missing",
               status);
    };
    if (rows) {
      IO_INPI(true, 1, static_cast<int>(p.ynum), true, "NUMBER OF ROW",
              {"Enter number of row to output"}, {"Enter integer in given range"}, row, status);
      if (status != kStatusGood) return;
      for (Index i = 1; i <= p.xnum; ++i) line(i, row);
      row = row >= p.ynum ? 1 : row + 1;
    } else {
      IO_INPI(true, 1, static_cast<int>(p.xnum), true, "NUMBER OF COLUMN",
              {"Enter number of column to output"}, {"Enter integer in given range"}, column,
              status);
      if (status != kStatusGood) return;
      for (Index j = 1; j <= p.ynum; ++j) line(column, j);
      column = column >= p.xnum ? 1 : column + 1;
    }
  }
}

bool kzt_write_peak_list(const GridPeaks& p, std::FILE* out) {
  std::string text = "Peaks positions and estimated distortions for a " + format_i(p.xnum, 6) +
                     " times " + format_i(p.ynum, 6) + " grid\n";
  text += "  X-PEAK   Y_PEAK  X-POSITIONS    Y-POSITIONS   X-DISTORTIONS  Y-DISTORTIONS \n";
  if (std::fputs(text.c_str(), out) < 0) return false;
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      const Index k = p.at(i, j);
      std::string line = format_i(i, 8) + format_i(j, 8) + " ";
      for (const float v : {p.x[k], p.y[k], p.x_distortion[k], p.y_distortion[k]})
        line += format_e(v, 14, 7, 1) + " ";
      line += '\n';
      if (std::fputs(line.c_str(), out) < 0) return false;
    }
  return true;
}

void KZT_SAVE2DPEAKS(const GridPeaks& p, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_SAVE2DPEAKS V0.3 ";
  if (st_bad(status, kPosition)) return;
  if (p.xmax < 1) return st_fail(status, kBaseApp + 1, kPosition);
  if (p.ymax < 1) return st_fail(status, kBaseApp + 2, kPosition);
  if (const Status e = peaks_error(p); e != 0) return st_fail(status, e, kPosition);
  GridEditAnswers a = remembered<GridEditAnswers>();
  IO_WRITE("Name of file for peak positions", status);
  std::optional<AtomicFile> out;
  if (!open_output_text(a.file, out, status)) return;
  remembered<GridEditAnswers>().file = a.file;
  if (!kzt_write_peak_list(p, out->stream())) out->fail();
  if (!out->commit()) report_output_write_failure(*out, kPosition, status);
}

void kzt_false_peak(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                    Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                    float p1x, float p1y, float p2x, float p2y, float bx, float by,
                    std::span<float> data, Status& status) {
  // The clicks in pixel coordinates.
  for (float* c : {&p1x, &p2x, &bx}) MA_DC2PIXC(xmaxdat, xmaxdat, xaxis, *c, *c, status);
  for (float* c : {&p1y, &p2y, &by}) MA_DC2PIXC(ymaxdat, ymaxdat, yaxis, *c, *c, status);
  if (status != kStatusGood) return;
  const auto pixel = [](double c) {
    return c > -1.0e15 && c < 1.0e15 ? static_cast<Index>(c) + 1 : Index{0};
  };
  const Index bi = pixel(bx), bj = pixel(by);
  if (bi < xstrelm || bi > xendelm || bj < ystrelm || bj > yendelm) {
    IO_WRITE("WARNING: The background position lies outside the active data region", status);
    return;
  }
  const double b = data[element(bi, bj, xmaxdat)];
  const double dx = p2x - p1x, dy = p2y - p1y;
  const Index n = std::llround(std::max(std::abs(dx / 2.0), std::abs(dy / 2.0)));
  const Index ci = pixel(p1x - dx), cj = pixel(p1y - dy);
  const Index x1 = std::max(xstrelm, ci - n), x2 = std::min(xendelm, ci + n);
  const Index y1 = std::max(ystrelm, cj - n), y2 = std::min(yendelm, cj + n);
  if (x1 > x2 || y1 > y2) return;
  // Values are read from the data as they were before the box changes.
  std::vector<float> added(static_cast<std::size_t>((x2 - x1 + 1) * (y2 - y1 + 1)), 0.0f);
  std::vector<bool> used(added.size(), false);
  const auto d = [&](Index i, Index j) { return static_cast<double>(data[element(i, j, xmaxdat)]); };
  for (Index j = y1; j <= y2; ++j)
    for (Index i = x1; i <= x2; ++i) {
      const double sx = static_cast<double>(i) - 0.5 + dx, sy = static_cast<double>(j) - 0.5 + dy;
      if (!(sx > static_cast<double>(xstrelm) - 0.5 && sx < static_cast<double>(xendelm) - 0.5 &&
            sy > static_cast<double>(ystrelm) - 0.5 && sy < static_cast<double>(yendelm) - 0.5))
        continue;
      const auto ix = static_cast<Index>(sx + 0.5001), iy = static_cast<Index>(sy + 0.5001);
      // Only pixels of the active data region are read.
      if (ix < xstrelm || iy < ystrelm || ix + 1 > xendelm || iy + 1 > yendelm) continue;
      const double fx = sx + 0.5 - static_cast<double>(ix);
      const double fy = sy + 0.5 - static_cast<double>(iy);
      const double v = fy * (fx * d(ix + 1, iy + 1) + (1.0 - fx) * d(ix, iy + 1)) +
                       (1.0 - fy) * (fx * d(ix + 1, iy) + (1.0 - fx) * d(ix, iy));
      const std::size_t k = static_cast<std::size_t>((j - y1) * (x2 - x1 + 1) + (i - x1));
      added[k] = static_cast<float>(v - b);
      used[k] = true;
    }
  for (Index j = y1; j <= y2; ++j)
    for (Index i = x1; i <= x2; ++i) {
      const std::size_t k = static_cast<std::size_t>((j - y1) * (x2 - x1 + 1) + (i - x1));
      if (used[k]) data[element(i, j, xmaxdat)] += added[k];
    }
}

void KZT_FALSEPEAK(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                   const std::string& title, const std::string& xlabel, const std::string& ylabel,
                   const std::string& zlabel, std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_FALSEPEAK V0.1 ";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (std::ssize(xaxis) < xmaxdat || std::ssize(yaxis) < ymaxdat)
    return st_fail(status, kBaseApp + 1, kPosition);
  const bool window = qg_x11_driver() != nullptr;
  if (window)
    GS_2DIMAGE(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, title,
               xlabel, ylabel, zlabel, status);
  const GsDisplayedImage image =
      kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, {}, xaxis,
                          yaxis, title, xlabel, ylabel, zlabel);
  float gx1 = 0.0f, gy1 = 0.0f, gx2 = 0.0f, gy2 = 0.0f;
  GS_INQ_GUIREGION(gx1, gy1, gx2, gy2, status);
  float px[3] = {}, py[3] = {};
  const auto click = [&](int k, std::string_view prompt, std::string_view help, bool mark) {
    float x[1] = {0.0f}, y[1] = {0.0f};
    int num = 1;
    GS_INPS_COORDINATES(false, image, gx1, gy1, gx2, gy2, prompt, 1,
                        {std::string(help)}, false, 1, num, x, y, status);
    if (status != kStatusGood || num < 1) return false;
    px[k] = x[0];
    py[k] = y[0];
    if (mark && window) GS_MARK(x[0], y[0], 1.0f, status);
    return status == kStatusGood;
  };
  const bool clicked =
      click(0, "Click on centre of peak next to false peak",
            "Click on peak next to false peak to create", true) &&
      click(1, "Click on peak away from false peak position",
            "Click on the next peak, away from the false peak position", true) &&
      click(2, "Click on background", "Click on a background position between the peaks", false);
  if (!clicked) {
    if (status == kStatusEscape) st_reset(status);
    return;
  }
  kzt_false_peak(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, px[0], py[0],
                 px[1], py[1], px[2], py[2], data, status);
}

void KZT_LEARNPROFILE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                      std::span<const float> data, const GridPeaks& p, const MemoryOut& m,
                      Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_LEARNPROFILE V0.1 ";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), m.mdata.size()}))
    return;
  if (std::ssize(xaxis) < xendelm || std::ssize(yaxis) < yendelm ||
      std::ssize(m.mxaxis) < xmaxdat || std::ssize(m.myaxis) < ymaxdat)
    return st_fail(status, kBaseApp + 1, kPosition);
  GridEditAnswers a = remembered<GridEditAnswers>();
  IO_INPI(true, 1, 100, true, "SIZE OF PROFILE (INPUT PIXELS)",
          {"Enter size of profile to calculate in terms of input pixels",
           "i.e. the number of input pixels whichwill be used to calculate the profile"},
          {"Enter integer in given range"}, a.profile_size, status);
  IO_INPI(true, 1, 100, true, "NUMBER OF OVER-SAMPLING SUB-PIXELS",
          {"Enter number of sub-pixels to each input pixel in the profile",
           "e.g. 2 means that each output pixel is half an input pixel in each",
           "direction"},
          {"Enter integer in given range"}, a.over_sampling, status);
  if (status != kStatusGood) return;
  remembered<GridEditAnswers>() = a;
  const Index s = a.over_sampling;
  const Index n = static_cast<Index>(a.profile_size) * s;
  if (n > xmaxdat || n > ymaxdat) {
    IO_WRITE("WARNING: Program arrays are not big enough to calculate required profile", status);
    return;
  }
  Index count = 0;
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) count += p.present(i, j) ? 1 : 0;
  if (count == 0) {
    IO_WRITE("WARNING: No grid peak is present; the memory is unchanged", status);
    return;
  }
  // Integer division rounding down, so that positions left of or below the
  // first pixel do not fold onto it.
  const auto floor_div = [](Index a, Index b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
  std::vector<double> sums(static_cast<std::size_t>(n * n), 0.0);
  for (Index j = 1; j <= p.ynum; ++j)
    for (Index i = 1; i <= p.xnum; ++i) {
      if (!p.present(i, j)) continue;
      float px = 0.0f, py = 0.0f;
      MA_DC2PIXC(xmaxdat, xendelm, xaxis, p.x[p.at(i, j)], px, status);
      MA_DC2PIXC(ymaxdat, yendelm, yaxis, p.y[p.at(i, j)], py, status);
      if (status != kStatusGood) return;
      const Index sx = static_cast<Index>(static_cast<double>(s) * px);
      const Index sy = static_cast<Index>(static_cast<double>(s) * py);
      for (Index r = 1; r <= n; ++r) {
        const Index row = floor_div(r + sy - (n + 1) / 2, s) + 1;
        if (row < ystrelm || row > yendelm) continue;
        for (Index k = 1; k <= n; ++k) {
          const Index column = floor_div(k + sx - (n + 1) / 2, s) + 1;
          if (column < xstrelm || column > xendelm) continue;
          sums[static_cast<std::size_t>((r - 1) * n + (k - 1))] +=
              data[element(column, row, xmaxdat)];
        }
      }
    }
  for (Index r = 1; r <= n; ++r)
    for (Index k = 1; k <= n; ++k)
      m.mdata[element(k, r, xmaxdat)] = static_cast<float>(
          sums[static_cast<std::size_t>((r - 1) * n + (k - 1))] / static_cast<double>(count));
  for (Index i = 1; i <= n; ++i) {
    m.mxaxis[i - 1] = static_cast<float>(i) - 0.5f;
    m.myaxis[i - 1] = static_cast<float>(i) - 0.5f;
  }
  m.mxnumdat = m.mynumdat = n;
  m.mxstrelm = m.mystrelm = 1;
  m.mxendelm = m.myendelm = n;
  m.mtitle = "Average Peak Profile";
  m.mxlabel = "X-direction";
  m.mylabel = "Y-direction";
  m.mzlabel = "Intensity";
  m.memory_defined = true;
}

}  // namespace kesta
