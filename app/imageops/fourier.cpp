#include "app/imageops/fourier.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/raw_io.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/convolution.hpp"
#include "numeric/fft.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

struct AutocorrelationAnswers {
  bool centre = true;
};

inline float power(float re, float im) { return re * re + im * im; }

// The real transform of LINE (N >= 2, a power of two) as powers of every
// frequency 0..N-1, in place.
void line_spectrum(Index n, std::span<float> line, Status& status) {
  std::vector<float> xtable(static_cast<std::size_t>(2 * n)), ytable(2);
  bool tables_done = false;
  MA_2DFRFFT(n, 1, n, 1, 1, true, tables_done, xtable, ytable, line, status);
  if (status != kStatusGood) return;
  float* d = line.data();
  const Index h = n / 2;
  const float nyquist = d[1] * d[1];
  d[0] *= d[0];
  // Powers of 1..h-1 first into a copy, then mirrored into the upper half.
  std::vector<float> p(static_cast<std::size_t>(h));
  for (Index k = 1; k < h; ++k) p[static_cast<std::size_t>(k)] = power(d[2 * k], d[2 * k + 1]);
  for (Index k = 1; k < h; ++k) d[k] = d[n - k] = p[static_cast<std::size_t>(k)];
  d[h] = nyquist;
}

// Writes the powers of one output row: P0 and PH the powers of X frequencies
// 0 and NX/2, LOW the packed row of this Y frequency (X frequencies 1..NX/2-1)
// and HIGH the packed row of the opposite Y frequency, whose conjugates are
// the X frequencies NX/2+1..NX-1 here.
void spectrum_row(Index nx, float p0, float ph, const float* low, const float* high, float* out) {
  const Index h = nx / 2;
  out[0] = p0;
  out[h] = ph;
  for (Index k = 1; k < h; ++k) {
    out[k] = power(low[2 * k], low[2 * k + 1]);
    out[nx - k] = power(high[2 * k], high[2 * k + 1]);
  }
}

void write_memory(const KztMemoryOut& memory, Index nx, Index ny, const char* title,
                  const char* xlabel, const char* ylabel, const char* zlabel) {
  for (Index i = 0; i < nx; ++i)
    memory.xaxis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < ny; ++j)
    memory.yaxis[static_cast<std::size_t>(j)] = static_cast<float>(j) + 0.5f;
  memory.xnumdat = nx;
  memory.ynumdat = ny;
  memory.xstrelm = 1;
  memory.ystrelm = 1;
  memory.xendelm = nx;
  memory.yendelm = ny;
  memory.title = title;
  memory.xlabel = xlabel;
  memory.ylabel = ylabel;
  memory.zlabel = zlabel;
  memory.defined = true;
}

// The region check of both operations, with the memory arrays.
bool refused(std::string_view position, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
             Index xendelm, Index yendelm, std::span<const float> data, const KztMemoryOut& memory,
             Status& status) {
  if (kzt_region_refused(position, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), memory.data.size()}))
    return true;
  if (array_holds(memory.xaxis.size(), xmaxdat, 1) && array_holds(memory.yaxis.size(), ymaxdat, 1))
    return false;
  st_fail(status, kBaseApp + 1, position);
  return true;
}

// True, with a warning, when the region holds a NaN or infinite element: a
// transform spreads it to every output, so nothing would be left to see.
bool nonfinite_refused(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, std::span<const float> data, Status& status) {
  Index count = 0;
  ma_nonfinite_count(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, count, status);
  if (status != kStatusGood || count == 0) return status != kStatusGood;
  IO_WRITE("WARNING: " + format_i(count, 0) +
               (count == 1 ? " element of the ADR is" : " elements of the ADR are") +
               " not finite (NaN or infinite): " + (count == 1 ? "it" : "they") + " would",
           status);
  IO_WRITE("         make every output of the transform NaN. The memory is unchanged.", status);
  return true;
}

// A finite region can still give a result beyond the float range (a power
// above 3.4e38 is infinite, and the sums of an inverse transform over it are
// not numbers): the memory keeps it, and the warning says how much of it is
// not finite.
void warn_non_finite_result(std::string_view what, const KztMemoryOut& memory, Index xmaxdat,
                            Index nx, Index ny, Status& status) {
  const Index count = non_finite_pixels(memory.data, xmaxdat, 1, 1, nx, ny).total();
  if (count == 0) return;
  IO_WRITE("WARNING: " + format_i(count, 0) + " of the " + format_i(nx * ny, 0) +
               " elements of the " + std::string(what) + (count == 1 ? " is" : " are") +
               " not finite",
           status);
  IO_WRITE("         (NaN or infinite): the result exceeds the range of real values", status);
}

void write_sizes(Index nx, Index ny, Status& status) {
  IO_WRITE("INFO: Number of elements in the ADR = " + format_i(nx, 10) + ", " + format_i(ny, 10),
           status);
}

}  // namespace

void kzt_power_spectrum(Index xmaxdat, Index ymaxdat, Index nx, Index ny, std::span<float> data,
                        Status& status) {
  if (status != kStatusGood) return;
  float* d = data.data();
  if (nx == 1 || ny == 1) {
    if (nx == ny) {
      d[0] *= d[0];
    } else if (ny == 1) {
      line_spectrum(nx, data.first(static_cast<std::size_t>(nx)), status);
    } else {  // one column
      std::vector<float> line(static_cast<std::size_t>(ny));
      for (Index j = 0; j < ny; ++j) line[static_cast<std::size_t>(j)] = d[j * xmaxdat];
      line_spectrum(ny, line, status);
      for (Index j = 0; j < ny; ++j) d[j * xmaxdat] = line[static_cast<std::size_t>(j)];
    }
    return;
  }
  std::vector<float> xtable(static_cast<std::size_t>(2 * nx)),
      ytable(static_cast<std::size_t>(2 * ny));
  bool tables_done = false;
  MA_2DFRFFT(xmaxdat, ymaxdat, nx, ny, ny, true, tables_done, xtable, ytable, data, status);
  if (status != kStatusGood) return;
  // Columns 1 and 2 of the packed transform hold the X frequencies 0 and
  // NX/2: row 1 their Y frequency 0 (one each), row NY/2 + 1 their Y
  // frequency NY/2, rows 2..NY/2 frequency 0 for Y frequencies 1..NY/2-1 and
  // rows NY..NY/2+2 frequency NX/2 for the same. The other column pairs are
  // the complex X frequencies 1..NX/2-1 for every Y frequency in order.
  const Index h = ny / 2;
  auto row = [&](Index y) { return d + element(1, y, xmaxdat); };
  std::vector<float> low(static_cast<std::size_t>(nx)), high(low.size());
  std::copy_n(row(1), nx, low.begin());
  std::copy_n(row(h + 1), nx, high.begin());
  spectrum_row(nx, low[0] * low[0], high[0] * high[0], low.data(), low.data(), row(1));
  spectrum_row(nx, low[1] * low[1], high[1] * high[1], high.data(), high.data(), row(h + 1));
  for (Index v = 1; v < h; ++v) {
    std::copy_n(row(v + 1), nx, low.begin());
    std::copy_n(row(ny - v + 1), nx, high.begin());
    const float p0 = power(low[0], low[1]);
    const float ph = power(high[0], high[1]);
    spectrum_row(nx, p0, ph, low.data(), high.data(), row(v + 1));
    spectrum_row(nx, p0, ph, high.data(), low.data(), row(ny - v + 1));
  }
}

void KZT_POWERSPEC(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float>, std::span<const float>,
                   std::span<const float> data, const KztMemoryOut& memory, Status& status) {
  if (refused("Subroutine KZT_POWERSPEC V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
              data, memory, status))
    return;
  const Index nx = xendelm - xstrelm + 1, ny = yendelm - ystrelm + 1;
  if (!is_power_of_two(nx) || !is_power_of_two(ny)) {
    for (const auto& [fits, direction] :
         {std::pair{is_power_of_two(nx), "X"}, std::pair{is_power_of_two(ny), "Y"}}) {
      if (fits) continue;
      IO_WRITE(std::string("WARNING: The number of elements in the ADR in the ") + direction +
                   "-direction",
               status);
      IO_WRITE("         is not a power of two, which is a requirement of the", status);
      IO_WRITE("         Radix-2 FFT", status);
    }
    write_sizes(nx, ny, status);
    return;
  }
  if (nonfinite_refused(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, status)) return;
  MA_RMOVE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxdat, ymaxdat, 1, 1,
           memory.data, status);
  kzt_power_spectrum(xmaxdat, ymaxdat, nx, ny, memory.data, status);
  if (status != kStatusGood) return;
  write_memory(memory, nx, ny, "Power Spectrum", "Frequencies (X)", "Frequencies (Y)", "Power");
  warn_non_finite_result("power spectrum", memory, xmaxdat, nx, ny, status);
}

void KZT_AUTOCORRELATION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                         Index yendelm, std::span<const float>, std::span<const float>,
                         std::span<const float> data, const KztMemoryOut& memory, Status& status) {
  if (refused("Subroutine KZT_AUTOCORRELATION V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
              yendelm, data, memory, status))
    return;
  for (const char* line :
       {" ", "NOTE: At present only circular autocorrelation is offered, and",
        "      this is restricted to numbers of elements which are powers",
        "      of two in length. This restriction may be removed in a", "      future version."})
    IO_WRITE(line, status);
  const Index nx = xendelm - xstrelm + 1, ny = yendelm - ystrelm + 1;
  if (!is_power_of_two(nx) || !is_power_of_two(ny)) {
    IO_WRITE("WARNING: The array sizes must be powers of two in size.", status);
    write_sizes(nx, ny, status);
    return;
  }
  if (nonfinite_refused(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, status)) return;
  AutocorrelationAnswers answers = remembered<AutocorrelationAnswers>();
  IO_INPL(false, false, false, true, "CENTRE OUTPUT",
          {"\"YES\" to move zero point to centre of output"}, {"Enter \"YES\" or \"NO\""},
          answers.centre, status);
  if (status != kStatusGood) return;
  remembered<AutocorrelationAnswers>() = answers;
  MA_RMOVE(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, xmaxdat, ymaxdat, 1, 1,
           memory.data, status);
  float* d = memory.data.data();
  if (nx >= 2) {
    MA_AUTOCORRELATION(answers.centre, xmaxdat, ymaxdat, nx, ny, ny, memory.data, status);
  } else if (ny == 1) {
    d[0] *= d[0];
  } else {  // one column: correlated as a line
    std::vector<float> line(static_cast<std::size_t>(ny));
    for (Index j = 0; j < ny; ++j) line[static_cast<std::size_t>(j)] = d[j * xmaxdat];
    MA_AUTOCORRELATION(answers.centre, ny, 1, ny, 1, 1, line, status);
    for (Index j = 0; j < ny; ++j) d[j * xmaxdat] = line[static_cast<std::size_t>(j)];
  }
  if (status != kStatusGood) return;
  write_memory(memory, nx, ny, "Autocorrelation Function", "X-direction", "Y-direction",
               "Autocorrelation");
  warn_non_finite_result("autocorrelation", memory, xmaxdat, nx, ny, status);
}

namespace {

KztMemoryOut memory_of(KztDataSets& sets) {
  KztArrays& a = vosq_kzt_arrays;
  return {sets.memory_defined, sets.mxnumdat,      sets.mynumdat, sets.mxstrelm,
          sets.mystrelm,       sets.mxendelm,      sets.myendelm, kzt_xline(a.mxaxis),
          kzt_yline(a.myaxis), kzt_image(a.mdata), sets.mtitle,   sets.mxlabel,
          sets.mylabel,        sets.mzlabel};
}

}  // namespace

void kzt_command_powerspec(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KZT_POWERSPEC(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), memory_of(sets), status);
}

void kzt_command_autocorrelation(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KZT_AUTOCORRELATION(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                      kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), memory_of(sets),
                      status);
}

}  // namespace kesta
