#include "app/imageops/histogram.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

// Nearest whole number of a value known to be in range, halves away from zero.
inline Index nearest(double v) { return static_cast<Index>(v < 0.0 ? v - 0.5 : v + 0.5); }

void write_terminal(const std::string& line, Status& status) {
  IO_WRITE_FILE(kStreamTerminal, line, status);
}

}  // namespace

void kzt_histogram_counts(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                          std::span<const float> data, float minimum, float maximum, Index bins,
                          std::span<Index> counts) {
  // Four interleaved tables, so that runs of equal values do not wait on
  // each other's increments.
  constexpr Index kTables = 4;
  std::vector<Index> tables(static_cast<std::size_t>(kTables * bins), 0);
  const double scale = static_cast<double>(bins) / (double{maximum} - minimum);
  const Index last = bins - 1;
  const Index width = xendelm - xstrelm + 1;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = data.data() + element(xstrelm, y, xmaxdat);
    for (Index i = 0; i < width; ++i) {
      const float v = row[i];
      // Compared before any conversion: NaN and values outside are not counted.
      if (!(v >= minimum && v < maximum)) continue;
      const Index k = std::min(static_cast<Index>((double{v} - minimum) * scale), last);
      ++tables[static_cast<std::size_t>((i % kTables) * bins + k)];
    }
  }
  for (Index k = 0; k < bins; ++k) {
    Index sum = 0;
    for (Index t = 0; t < kTables; ++t) sum += tables[static_cast<std::size_t>(t * bins + k)];
    counts[static_cast<std::size_t>(k)] = sum;
  }
}

void KZT_HISTOGRAM(bool, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> data, const std::string& title,
                   Index& mxstrelm, Index& mystrelm, Index& mxendelm, Index& myendelm,
                   std::span<float> mdata, std::span<float> mxaxis, std::span<float> myaxis,
                   std::string& mtitle, std::string& mxlabel, std::string& mylabel,
                   std::string& mzlabel, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_HISTOGRAM V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return;
  if (!array_holds(mxaxis.size(), xmaxdat, 1) || myaxis.empty())
    return st_fail(status, kBaseApp + 1, kPosition);
  float low = 0.0f, high = 0.0f;
  MA_RMINMAX(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, low, high, status);
  if (status != kStatusGood) return;
  // The finite extremes cross only when there is no finite element: their
  // start values are no range to offer, and no answer could lie within them.
  if (low > high) {
    IO_WRITE("WARNING: The region holds no finite data value; no histogram is calculated",
             status);
    return;
  }
  IO_WRITE(" ", status);
  IO_WRITE("INFO: Active data region minimum value = " + format_g(low, 14, 7), status);
  IO_WRITE("      Active data region maximum value = " + format_g(high, 14, 7), status);
  IO_WRITE(" ", status);
  float minimum = low, maximum = high;
  IO_INPR(true, low, high, true, "HISTOGRAM MINIMUM VALUE",
          {"Enter minimum pixel value for calculating histogram"}, {"Enter real number"}, minimum,
          status);
  IO_INPR(true, low, high, true, "HISTOGRAM MAXIMUM VALUE",
          {"Enter maximum pixel value for calculating histogram"}, {"Enter real number"}, maximum,
          status);
  if (status != kStatusGood) return;
  if (!(maximum > minimum)) {
    IO_WRITE("WARNING: The histogram maximum must be greater than the minimum", status);
    return;
  }
  // The rounded range, held within 1..XMAXDAT before it becomes a count.
  const int top = static_cast<int>(std::min<Index>(xmaxdat, std::numeric_limits<int>::max()));
  const double span = std::round(double{maximum}) - std::round(double{minimum});
  int bins = static_cast<int>(std::clamp(span, 1.0, static_cast<double>(top)));
  IO_INPI(true, 1, top, true, "NUMBER OF HISTOGRAM BINS",
          {"Enter required number of histogram bins"}, {"Enter real number"}, bins, status);
  if (status != kStatusGood) return;

  std::vector<Index> counts(static_cast<std::size_t>(bins));
  kzt_histogram_counts(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, minimum, maximum, bins,
                       counts);
  const double w = (double{maximum} - minimum) / bins;
  for (Index k = 0; k < bins; ++k) {
    mdata[static_cast<std::size_t>(k)] = static_cast<float>(counts[static_cast<std::size_t>(k)]);
    mxaxis[static_cast<std::size_t>(k)] =
        static_cast<float>((static_cast<double>(k) + 0.5) * w + minimum);
  }
  myaxis[0] = 1.0f;
  mxstrelm = 1;
  mystrelm = 1;
  mxendelm = bins;
  myendelm = 1;
  std::string name = title;
  name.erase(name.find_last_not_of(' ') + 1);
  mtitle = (name + ": Frequency Histogram").substr(0, kKztTextLength);
  mxlabel = "Pixel Values";
  mylabel = " ";
  mzlabel = "Frequency";
}

Index kzt_entropy_counts(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                         std::span<const float> data, std::span<Index> work) {
  std::fill(work.begin(), work.begin() + kEntropyValues, 0);
  Index* centre = work.data() + kEntropyOffset;
  Index too_large = 0;
  const Index width = xendelm - xstrelm + 1;
  constexpr double kLimit = static_cast<double>(kEntropyOffset) + 0.5;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* row = data.data() + element(xstrelm, y, xmaxdat);
    for (Index i = 0; i < width; ++i) {
      const double v = row[i];
      if (v > -kLimit && v < kLimit) {
        ++centre[nearest(v)];
      } else {
        ++too_large;  // NaN too
      }
    }
  }
  return too_large;
}

HuffmanCodes kzt_huffman_codes(const std::array<Index, 256>& counts, Index n) {
  std::array<Index, 256> live = counts;
  std::array<std::pair<int, int>, 255> pairs{};
  const Index removed = n + 1;
  for (auto& merge : pairs) {
    Index c1 = removed + 1, c2 = removed + 1;
    int s1 = 0, s2 = 0;
    for (int s = 0; s < 256; ++s) {
      if (live[s] < c1) {
        c2 = c1;
        s2 = s1;
        c1 = live[s];
        s1 = s;
      } else if (live[s] < c2) {
        c2 = live[s];
        s2 = s;
      }
    }
    merge = {s1, s2};
    live[s1] = removed;
    live[s2] = c1 + c2;
  }
  HuffmanCodes codes;
  codes[pairs.back().second] = "0";
  codes[pairs.back().first] = "1";
  for (auto merge = pairs.rbegin() + 1; merge != pairs.rend(); ++merge) {
    const std::string prefix = codes[merge->second];
    codes[merge->second] = prefix + "0";
    codes[merge->first] = prefix + "1";
  }
  return codes;
}

void KZT_ENTROPY(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, std::span<Index> work,
                 Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_ENTROPY V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (work.size() < static_cast<std::size_t>(kEntropyValues))
    return st_fail(status, kBaseApp + 1, kPosition);
  const Index too_large =
      kzt_entropy_counts(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, work);
  const Index* count = work.data() + kEntropyOffset;
  const Index n = (xendelm - xstrelm + 1) * (yendelm - ystrelm + 1);
  const double dn = static_cast<double>(n);

  for (Index v = -64; v <= 64; ++v)
    write_terminal("Value " + format_i(v, 4) + " frequency = " + format_i(count[v], 6), status);
  IO_WRITE("INFO: Number of pixel differences which are too large to enter", status);
  IO_WRITE("      histogram = " + format_i(too_large, 4) +
               " probability = " + format_e(static_cast<double>(too_large) / dn, 12, 5, 1),
           status);

  double entropy = 0.0, sum = 0.0, sum_squares = 0.0;
  for (Index v = -kEntropyOffset; v <= kEntropyOffset; ++v) {
    if (count[v] == 0) continue;
    const double c = static_cast<double>(count[v]);
    const double p = c / dn;
    entropy -= p * std::log2(p);
    sum += c * static_cast<double>(v);
    sum_squares += c * static_cast<double>(v) * static_cast<double>(v);
  }
  // A constant image has no entropy: its ideal ratio is unbounded.
  const auto ratio = [](double bits) {
    return bits > 0.0 ? format_f(16.0 / bits, 12, 5) : std::string("    Infinity");
  };
  IO_WRITE("INFO: Entropy of image (bits per pixel) = " + format_f(entropy, 12, 5), status);
  IO_WRITE("      Theoretical maximum compression ratio = " + ratio(entropy), status);
  IO_WRITE("NOTE: This assumes 16 bit integer data values", status);
  const double mean = sum / dn;
  const double spread = n > 1 ? (sum_squares - dn * mean * mean) / (dn - 1.0) : 0.0;
  const double sd = spread > 0.0 ? std::sqrt(spread) : 0.0;
  IO_WRITE("INFO: Weighted mean value of frequency histogram = " + format_f(mean, 14, 7), status);
  IO_WRITE("      Standard deviation of frequency histogram = " + format_f(sd, 14, 7), status);

  std::array<Index, 256> symbols{};
  Index coded = 0;
  for (int k = 1; k < 256; ++k) {
    symbols[static_cast<std::size_t>(k)] = count[k - 128];
    coded += count[k - 128];
  }
  const Index escaped = n - coded;
  symbols[0] = escaped;
  write_terminal("Number of escaped pixels = " + format_i(escaped, 10), status);
  const HuffmanCodes codes = kzt_huffman_codes(symbols, n);
  // The symbols of no count merge first, one below the other, into codes of
  // up to 250 characters; no pixel takes them, so they cost nothing and are
  // left out of the table, which lists the codes the pixels use.
  double bits = 0.0;
  Index unused = 0;
  for (int k = 1; k < 256; ++k) {
    const auto count = symbols[static_cast<std::size_t>(k)];
    const std::string& code = codes[static_cast<std::size_t>(k)];
    if (count == 0) {
      ++unused;
      continue;
    }
    IO_WRITE("Value " + format_i(k - 128, 4) + " code length = " +
                 format_i(static_cast<Index>(code.size()), 3) + " Code = " + code,
             status);
    bits += static_cast<double>(count) * static_cast<double>(code.size());
  }
  if (unused > 0)
    IO_WRITE("INFO: " + format_i(unused, 0) + (unused == 1 ? " value" : " values") +
                 " of -127 to 127 held by no pixel, and so without a code, left out",
             status);
  IO_WRITE(escaped > 0 ? "INFO: Escape symbol: Code = " + codes[0]
                       : std::string("INFO: Escape symbol: no pixel escaped, no code"),
           status);
  // An escaped pixel costs its escape code and a 16-bit literal.
  bits = (bits + static_cast<double>(escaped) * static_cast<double>(codes[0].size() + 16)) / dn;
  IO_WRITE("INFO: Huffman code bit rate (bits per pixel) = " + format_f(bits, 12, 5), status);
  IO_WRITE("      Huffman code compression ratio = " + ratio(bits), status);
  IO_WRITE("      Huffman code efficiency = " +
               (bits > 0.0 ? format_f(100.0 * entropy / bits, 6, 2) : std::string("  0.00")) + "%",
           status);
}

void kzt_command_histogram(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  Index mxstrelm = 0, mystrelm = 0, mxendelm = 0, myendelm = 0;
  std::string mtitle, mxlabel, mylabel, mzlabel;
  KZT_HISTOGRAM(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_image(a.data), sets.title, mxstrelm, mystrelm, mxendelm, myendelm,
                kzt_image(a.mdata), kzt_xline(a.mxaxis), kzt_yline(a.myaxis), mtitle, mxlabel,
                mylabel, mzlabel, status);
  if (status != kStatusGood || mxendelm == 0) return;
  sets.mxstrelm = mxstrelm;
  sets.mystrelm = mystrelm;
  sets.mxendelm = mxendelm;
  sets.myendelm = myendelm;
  sets.mxnumdat = mxendelm;
  sets.mynumdat = myendelm;
  sets.mtitle = mtitle;
  sets.mxlabel = mxlabel;
  sets.mylabel = mylabel;
  sets.mzlabel = mzlabel;
  sets.memory_defined = true;
}

void kzt_command_entropy(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  std::vector<Index> work;
  try {
    work.resize(static_cast<std::size_t>(kEntropyValues));
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, "Subroutine KZT_ENTROPY V0.1");
  }
  KZT_ENTROPY(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_image(a.data),
              work, status);
}

}  // namespace kesta
