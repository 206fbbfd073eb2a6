#pragma once
// The frequency histogram of the active data region (written into the
// memory as a 1-D data set), and the entropy of integer data with the
// statistics of a Huffman code, which show how well the data (typically the
// residuals of a predictor) would compress.

#include <array>
#include <span>
#include <string>

#include "app/imageops/conventions.hpp"
#include "core/types.hpp"

namespace kesta {

// Asks the value range and the number of bins, then writes the counts into
// MDATA(1..bins, 1) with the bin centres as X axis and the description of
// the histogram. A maximum not above the minimum is refused, and a region
// without a finite value is said and asks nothing.
void KZT_HISTOGRAM(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, std::span<const float> data,
                   const std::string& title, Index& mxstrelm, Index& mystrelm, Index& mxendelm,
                   Index& myendelm, std::span<float> mdata, std::span<float> mxaxis,
                   std::span<float> myaxis, std::string& mtitle, std::string& mxlabel,
                   std::string& mylabel, std::string& mzlabel, Status& status);

// Counts of the region values in BINS equal bins from MINIMUM (included) to
// MAXIMUM (excluded) into COUNTS(0..bins-1); MAXIMUM > MINIMUM.
void kzt_histogram_counts(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                          std::span<const float> data, float minimum, float maximum, Index bins,
                          std::span<Index> counts);

// The histogram of rounded values over -65535..65535 that KZT_ENTROPY uses.
inline constexpr Index kEntropyValues = 131071;
inline constexpr Index kEntropyOffset = 65535;

// Writes the frequencies, the entropy and the Huffman code statistics of the
// rounded region values; WORK holds kEntropyValues counts. Changes no data.
void KZT_ENTROPY(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, std::span<Index> work, Status& status);

// Counts the rounded region values into WORK (index value + kEntropyOffset);
// returns the number of values outside -65535..65535.
Index kzt_entropy_counts(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                         std::span<const float> data, std::span<Index> work);

// Huffman codes of 256 symbols: symbol 0 is the escape, symbol k the value
// k - 128 (-127..127). COUNTS sum to N. Equal counts merge the earlier
// symbol first (it takes the "1" branch).
using HuffmanCodes = std::array<std::string, 256>;
HuffmanCodes kzt_huffman_codes(const std::array<Index, 256>& counts, Index n);

// The keyboard branches (see KztCommand).
void kzt_command_histogram(KztDataSets& sets, std::string& next, Status& status);
void kzt_command_entropy(KztDataSets& sets, std::string& next, Status& status);

}  // namespace kesta
