#include "app/imageops/histogram.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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
