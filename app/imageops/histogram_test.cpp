#include "app/imageops/histogram.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <queue>
#include <cmath>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct Histogram {
  static constexpr Index kX = 12, kY = 2;
  std::vector<float> data = std::vector<float>(kX * kY, 0.0f);
  std::vector<float> mdata = std::vector<float>(kX * kY, -1.0f);
  std::vector<float> mxaxis = std::vector<float>(kX, -1.0f), myaxis = std::vector<float>(kY);
  Index ms = 0, mys = 0, me = 0, mye = 0;
  std::string title = "Run 7   ", mtitle = "old", mx, my, mz, said;
  Status run(std::vector<std::string> answers) {
    ScriptedInput input(std::move(answers));
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_HISTOGRAM(false, kX, kY, 1, 1, 10, 1, data, title, ms, mys, me, mye, mdata, mxaxis, myaxis,
                  mtitle, mx, my, mz, status);
    said = terminal.text();
    return status;
  }
};

TEST(FrequencyHistogram, BinsByFloorAndTheMaximumIsOutside) {
  Histogram h;
  for (int i = 0; i < 10; ++i) h.data[static_cast<std::size_t>(i)] = static_cast<float>(i);
  ASSERT_EQ(h.run({"", "", "10"}), kStatusGood);
  EXPECT_EQ(std::vector<float>(h.mdata.begin(), h.mdata.begin() + 11),
            (std::vector<float>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0, -1}));
  EXPECT_FLOAT_EQ(h.mxaxis[0], 0.45f);
  EXPECT_FLOAT_EQ(h.mxaxis[9], 8.55f);
  EXPECT_EQ(h.me, 10);
  EXPECT_EQ(h.mye, 1);
  EXPECT_EQ(h.mtitle, "Run 7: Frequency Histogram");
  EXPECT_EQ(h.mz, "Frequency");
  // Values below the minimum are never counted, whatever their distance.
  ASSERT_EQ(h.run({"2.5", "6.5", "4"}), kStatusGood);
  EXPECT_EQ(std::vector<float>(h.mdata.begin(), h.mdata.begin() + 4),
            (std::vector<float>{1, 1, 1, 1}));
}

TEST(FrequencyHistogram, InfinitePixelsStayOutOfTheOfferedRange) {
  Histogram h;
  for (int i = 0; i < 8; ++i) h.data[static_cast<std::size_t>(i)] = static_cast<float>(i);
  h.data[8] = INFINITY;
  h.data[9] = -INFINITY;
  // The defaults are the finite extremes 0 and 7, and 7 bins.
  ASSERT_EQ(h.run({"", "", ""}), kStatusGood);
  EXPECT_EQ(h.me, 7);
  EXPECT_EQ(std::vector<float>(h.mdata.begin(), h.mdata.begin() + 7),
            std::vector<float>(7, 1.0f));
  EXPECT_FLOAT_EQ(h.mxaxis[0], 0.5f);
}

TEST(FrequencyHistogram, AnEmptyRangeOrAnEscapeLeavesTheMemory) {
  for (const auto& answers : {std::vector<std::string>{"3", "3"}, {"\\\\"}, {"1", "2", "\\\\"}}) {
    Histogram h;
    for (int i = 0; i < 10; ++i) h.data[static_cast<std::size_t>(i)] = static_cast<float>(i);
    EXPECT_EQ(h.run(answers), answers.size() == 2 ? kStatusGood : kStatusEscape);
    EXPECT_EQ(h.mdata, std::vector<float>(Histogram::kX * Histogram::kY, -1.0f));
    EXPECT_EQ(h.me, 0);
    EXPECT_EQ(h.mtitle, "old");
  }
}

// A region of NaN and infinities has no extremes to offer as a range: it is
// said, nothing is asked and the memory is left.
TEST(FrequencyHistogram, ARegionWithoutAFiniteValueAsksNothing) {
  Histogram h;
  std::fill(h.data.begin(), h.data.end(), NAN);
  h.data[3] = INFINITY;
  h.data[14] = 5.0f;  // outside the region
  EXPECT_EQ(h.run({"1", "2", "3"}), kStatusGood);
  EXPECT_TRUE(has(h.said, "The region holds no finite data value")) << h.said;
  EXPECT_FALSE(has(h.said, "E+38")) << h.said;
  EXPECT_FALSE(has(h.said, "HISTOGRAM MINIMUM VALUE")) << h.said;
  EXPECT_EQ(h.mdata, std::vector<float>(Histogram::kX * Histogram::kY, -1.0f));
  EXPECT_EQ(h.mtitle, "old");
}

// Kraft's equality holds for every count pattern; among equal counts the
// earlier symbol is merged first and takes the "1" branch.
TEST(HuffmanCodes, CompleteAndTiesGoToTheEarlierSymbol) {
  std::array<Index, 256> counts{};
  Index n = 0;
  for (std::size_t k = 0; k < counts.size(); ++k)
    n += counts[k] = static_cast<Index>((k * 37) % 11);
  for (const auto& pattern : {counts, std::array<Index, 256>{}}) {
    Index total = 0;
    for (Index c : pattern) total += c;
    const HuffmanCodes codes = kzt_huffman_codes(pattern, total);
    double kraft = 0.0;
    for (const auto& code : codes) {
      ASSERT_FALSE(code.empty());
      kraft += std::ldexp(1.0, -static_cast<int>(code.size()));
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
  }
  // Two symbols hold everything: the escape and value -127 tie.
  std::array<Index, 256> two{};
  two[0] = 5;
  two[1] = 5;
  const HuffmanCodes codes = kzt_huffman_codes(two, 10);
  EXPECT_EQ(codes[0], "10");
  EXPECT_EQ(codes[1], "0");
  std::size_t longest = 0;
  for (const auto& code : codes) longest = std::max(longest, code.size());
  EXPECT_GT(longest, 16u);  // the zero-count chain keeps its full length
}

// The smallest number of bits any prefix code spends on COUNTS: every
// Huffman tree, whatever its ties, spends it.
double huffman_bits(const std::array<Index, 256>& counts) {
  std::priority_queue<double, std::vector<double>, std::greater<>> nodes;
  for (const Index c : counts) nodes.push(static_cast<double>(c));
  double bits = 0.0;
  while (nodes.size() > 1) {
    const double a = nodes.top();
    nodes.pop();
    const double b = nodes.top();
    nodes.pop();
    bits += a + b;
    nodes.push(a + b);
  }
  return bits;
}

// The table lists the codes the pixels use, the values no pixel holds left
// out in one line (their codes, chained, ran to 250 characters), while the
// bit rate is the least any code of the 256 symbols gives (an escaped pixel
// adding its 16-bit literal), on images of few and of many values.
TEST(Entropy, UnusedCodesAreLeftOutAndTheBitRateIsTheLeast) {
  constexpr Index kX = 40, kY = 30;
  std::vector<Index> work(static_cast<std::size_t>(kEntropyValues));
  for (const int spread : {2, 9, 60}) {
    std::vector<float> data(kX * kY);
    std::array<Index, 256> symbols{};
    for (std::size_t k = 0; k < data.size(); ++k) {
      // A peaked spread of values, and one escaped pixel in 97.
      const double u = static_cast<double>((k * 2654435761u) % 1000) / 1000.0;
      const double v = k % 97 == 0 ? 5000.0 : std::round(spread * std::log(u + 1e-3) / 3.0);
      data[k] = static_cast<float>(v);
      ++symbols[std::abs(v) > 127.0 ? 0 : static_cast<std::size_t>(v + 128.0)];
    }
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_ENTROPY(kX, kY, 1, 1, kX, kY, data, work, status);
    ASSERT_EQ(status, kStatusGood);
    const std::string text = terminal.text();
    Index listed = 0, used = 0;
    for (std::size_t k = 1; k < 256; ++k) used += symbols[k] > 0 ? 1 : 0;
    std::size_t longest = 0;
    for (std::size_t at = text.find(" Code = "); at != std::string::npos;
         at = text.find(" Code = ", at + 1)) {
      const std::size_t end = text.find('\n', at);
      longest = std::max(longest, end - at - 8);
      ++listed;
    }
    EXPECT_LE(longest, 16u) << spread;
    EXPECT_EQ(listed, used + 1) << spread;  // and the escape's
    EXPECT_TRUE(has(text, "INFO: " + std::to_string(255 - used) +
                              " values of -127 to 127 held by no pixel, and so without a code, "
                              "left out"))
        << text;
    const std::size_t rate = text.find("bit rate (bits per pixel) =");
    ASSERT_NE(rate, std::string::npos);
    const double bits = std::stod(text.substr(rate + 27, 13));
    const double least = (huffman_bits(symbols) + 16.0 * static_cast<double>(symbols[0])) /
                         static_cast<double>(kX * kY);
    EXPECT_NEAR(bits, least, 1e-5) << spread;
  }
}

TEST(Entropy, ReportsOfAConstantAndATwoValuedImage) {
  constexpr Index kX = 4, kY = 2;
  std::vector<Index> work(static_cast<std::size_t>(kEntropyValues));
  const struct {
    std::vector<float> data;
    std::vector<std::string> lines;
  } cases[] = {
      {std::vector<float>(kX * kY, 7.0f),
       {"Value    7 frequency =      8", "Entropy of image (bits per pixel) =      0.00000",
        "Theoretical maximum compression ratio =     Infinity",
        "Standard deviation of frequency histogram =      0.0000000"}},
      {{0, 1, 0, 1, 0, 1, 1e6f, 2.5f},
       {"Value    3 frequency =      1", "histogram =    1 probability =  1.25000E-01",
        "Weighted mean value of frequency histogram =      0.7500000",
        "Number of escaped pixels =          1"}},
  };
  for (const auto& c : cases) {
    TerminalCapture terminal;
    Status status = kStatusGood;
    KZT_ENTROPY(kX, kY, 1, 1, kX, kY, c.data, work, status);
    EXPECT_EQ(status, kStatusGood);
    const std::string text = terminal.text();
    for (const auto& line : c.lines) EXPECT_TRUE(has(text, line)) << line << "\n" << text;
  }
  // A single pixel has no spread.
  TerminalCapture terminal;
  Status status = kStatusGood;
  const std::vector<float> one = {3.0f};
  KZT_ENTROPY(1, 1, 1, 1, 1, 1, one, work, status);
  EXPECT_TRUE(has(terminal.text(), "Standard deviation of frequency histogram =      0.0000000"));
}

}  // namespace
