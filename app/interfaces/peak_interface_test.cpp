// Peak markers, the peak list file, the statistics tables and the peak
// search run through its form on synthetic spots.

#include "app/interfaces/peak_interface.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main/data_store.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/state.hpp"

namespace kesta {
namespace {

PeakList list_of(std::vector<int> flags, std::vector<float> intensity,
                 std::vector<float> sigma, std::vector<float> d) {
  PeakList peaks(static_cast<Index>(flags.size()));
  peaks.num_peaks = peaks.max_peaks;
  for (std::size_t i = 0; i < flags.size(); ++i) {
    peaks.flags[i] = flags[i];
    peaks.x[i] = 10.0f + static_cast<float>(i);
    peaks.y[i] = 20.5f;
    peaks.intensity[i] = intensity[i];
    peaks.sigma[i] = sigma[i];
    peaks.d_spacing[i] = d[i];
  }
  return peaks;
}

Index count_at(const std::vector<std::string>& lines, std::size_t line, std::size_t from) {
  return std::stol(lines.at(line).substr(from));
}

TEST(PeakStatistics, RangesBoundsAndEmptyLists) {
  // Ratios 10, 25, 50 start their ranges; -1 falls in none; a saturated peak
  // and one without sigma are not counted; d of exactly 25 is in 25-15.
  const PeakList peaks = list_of({0, 0, 0, 0, 0, 1, 0}, {10, 25, 50, -1, 3, 100, 5},
                                 {1, 1, 1, 1, 1, 1, 0}, {30, 25, 1.5f, 2.0f, -1, 3, 3});
  const std::vector<std::string> lines = kzt_peak_statistics(peaks, true);
  ASSERT_EQ(lines.size(), 37u);
  EXPECT_EQ(lines[0], "INFO: Average I / Sigma(I) of found peaks =      17.40");
  EXPECT_EQ(lines[3], "       0.0 to   2.0:     0");
  EXPECT_EQ(count_at(lines, 4, 21), 1);   // 3 in 2-4
  EXPECT_EQ(count_at(lines, 8, 21), 1);   // 10 in 10-13
  EXPECT_EQ(count_at(lines, 13, 21), 1);  // 25 in 25-30
  EXPECT_EQ(lines[18], "      50.0 to 100000.0:     1");
  Index total = 0;
  for (std::size_t i = 3; i < 19; ++i) total += count_at(lines, i, lines[i].find(':') + 1);
  EXPECT_EQ(total, 4);
  EXPECT_EQ(lines[19], "");
  EXPECT_EQ(lines[22], "     1000.0 to  25.0:      1   10.00");
  EXPECT_EQ(lines[23], "      25.0 to  15.0:      1   25.00");
  EXPECT_EQ(lines[30], "       2.5 to   2.0:      0    0.00");
  EXPECT_EQ(lines[31], "       2.0 to   1.8:      1   -1.00");  // in no I/sigma range
  EXPECT_EQ(lines[35], "       1.5 to   0.0:      1   50.00");

  // Without a geometry the resolution lines are there with no counts; with
  // no qualifying peak every average is 0.00 (not a division by zero).
  const PeakList none = list_of({0, 10}, {5, 5}, {0, 1}, {3, 3});
  const std::vector<std::string> empty = kzt_peak_statistics(none, false);
  EXPECT_EQ(empty[0], "INFO: Average I / Sigma(I) of found peaks =       0.00");
  for (std::size_t i = 22; i < 36; ++i) EXPECT_EQ(empty[i].substr(empty[i].find(':') + 1), "      0    0.00") << i;
  // A count larger than the arrays reads no further than they go.
  PeakList bad = list_of({0}, {4}, {1}, {3});
  bad.num_peaks = 1000000;
  EXPECT_EQ(kzt_peak_statistics(bad, true)[0].substr(44), "      4.00");
}

TEST(PeakFile, GoodNonNegativePeaksOnlyAndFailureKeepsFile) {
  testing::TempDir dir;
  const PeakList peaks = list_of({0, 0, 1, 0}, {1234.5f, -3, 9, 0}, {12, 1, 1, 2},
                                 {2.5f, 2, 2, -1});
  std::string error;
  const std::string file = dir.file("spots.peaks");
  ASSERT_TRUE(kzt_write_peak_file(file, peaks, error)) << error;
  EXPECT_EQ(testing::file_contents(file),
            "      X         Y       INTENSITY      SIGMA    D (Angstroms) \n"
            "      10.0      20.5      1234.5        12.0    2.500\n"
            "      13.0      20.5         0.0         2.0   -1.000\n");
  // A folder cannot be written over: the error says why.
  EXPECT_FALSE(kzt_write_peak_file(dir.path().string(), peaks, error));
  EXPECT_FALSE(error.empty());
}

struct PeakDrawing : testing::PageFixture {};

TEST_F(PeakDrawing, MarkersByFlagInsideTheRegionOnly) {
  Status s = kStatusGood;
  GS_SET_DDDR(0.0f, 0.0f, 100.0f, 50.0f, s);
  const std::vector<int> flags = {0, 1, 10, 11, 0, 0};
  const std::vector<float> x = {10, 20, 30, 40, 100, 101};  // 100 on the bound, 101 out
  const std::vector<float> y = {10, 10, 10, 10, 50, 10};
  const auto drawn = [&](bool draw_bad) {
    items.clear();
    KZT_DRAW_PEAKS(draw_bad, 6, 6, flags, x, y, s);
    EXPECT_EQ(s, kStatusGood);
    std::vector<std::pair<int, int>> marks;
    for (const testing::PageItem* m : of("polymarker")) marks.emplace_back(m->marker_type, m->colour);
    return marks;
  };
  const int red = gs_device_marker_colour(kGsRed), yellow = gs_device_marker_colour(kGsYellow);
  using Marks = std::vector<std::pair<int, int>>;
  EXPECT_EQ(drawn(false), (Marks{{5, red}, {5, yellow}, {3, yellow}, {5, red}}));
  EXPECT_EQ(drawn(true), (Marks{{5, red}, {5, yellow}, {3, red}, {3, yellow}, {5, red}}));

  // A count beyond the arrays draws what they hold; no peak arrays at all is
  // refused.
  items.clear();
  KZT_DRAW_PEAKS(true, 1000, 1000, flags, x, y, s);
  EXPECT_EQ(of("polymarker").size(), 5u);
  KZT_DRAW_PEAKS(false, 0, 0, {}, {}, {}, s);
  EXPECT_EQ(s, kBaseApp + 1);
}

struct PeakSearchTyped : testing::PageFixture {
  KztDataSets sets;
  static constexpr Index kSide = 160;
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    kzt_peak_search_controls() = PeakSearchControls{};
    Status s = kStatusGood;
    kzt_allocate_arrays(kSide, kSide, true, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    KztArrays& a = vosq_kzt_arrays;
    a.xnumdat = a.ynumdat = a.xendelm = a.yendelm = kSide;
    a.xstrelm = a.ystrelm = 1;
    for (Index k = 0; k < kSide; ++k) {
      kzt_xline(a.xaxis)[k] = static_cast<float>(k) + 0.5f;
      kzt_yline(a.yaxis)[k] = static_cast<float>(k) + 0.5f;
    }
    sets.graphics_on = sets.data_defined = true;
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    PageFixture::TearDown();
  }
  // A noisy background of 100 with Gaussian spots centred on the given
  // pixel centres; the last spot is saturated.
  void spots(const std::vector<std::pair<float, float>>& centres) {
    std::span<float> data = kzt_image(vosq_kzt_arrays.data);
    std::uint32_t seed = 12345;
    for (Index j = 0; j < kSide; ++j)
      for (Index i = 0; i < kSide; ++i) {
        seed = seed * 1664525u + 1013904223u;
        float v = 100.0f + static_cast<float>(seed >> 24) / 25.6f - 5.0f;
        for (std::size_t k = 0; k < centres.size(); ++k) {
          const float dx = static_cast<float>(i) + 0.5f - centres[k].first;
          const float dy = static_cast<float>(j) + 0.5f - centres[k].second;
          const float amplitude = k + 1 == centres.size() ? 200000.0f : 3000.0f;
          v += amplitude * std::exp(-(dx * dx + dy * dy) / (2.0f * 1.5f * 1.5f));
        }
        data[static_cast<std::size_t>(j * kSide + i)] = v;
      }
  }
};

TEST_F(PeakSearchTyped, FindsSpotsWritesFileAndStatistics) {
  const std::vector<std::pair<float, float>> centres = {
      {30.5f, 40.5f}, {80.5f, 40.5f}, {120.5f, 90.5f}, {50.5f, 130.5f}, {100.5f, 120.5f}};
  spots(centres);
  testing::TempDir dir;
  const std::string file = dir.file("found.peaks");
  testing::TerminalCapture terminal;
  PeakList peaks(20000);
  bool draw_bad = false;
  Status status = kStatusGood;
  {
    testing::ScriptedInput input(
        {"SAVE PEAKS", "OUTPUT FILE", file, "MIN. SPACING", "20", "O.K."});
    KZT_GUI_PEAKSEARCH(false, true, sets, peaks, draw_bad, status);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
  }
  const std::string out = terminal.text();
  ASSERT_EQ(status, kStatusGood) << out;
  EXPECT_NE(out.find("INFO: Number of peaks found =      5"), std::string::npos) << out;
  EXPECT_NE(out.find("INFO: Number of saturated peaks found =      1"), std::string::npos);
  ASSERT_EQ(peaks.num_peaks - peaks.bad_weak, 5);
  for (const auto& [cx, cy] : centres) {
    bool seen = false;
    for (Index k = 0; k < peaks.num_peaks; ++k)
      seen = seen || (std::abs(peaks.x[k] - cx) <= 0.5f && std::abs(peaks.y[k] - cy) <= 0.5f);
    EXPECT_TRUE(seen) << cx << ", " << cy;
  }
  // Four good peaks in the file after its heading; the statistics count them.
  std::istringstream lines(testing::file_contents(file));
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) ++n;
  EXPECT_EQ(n, 5);
  EXPECT_NE(out.find("      Lower    Upper   Number"), std::string::npos);
  EXPECT_EQ(kzt_peak_search_controls().min_spacing, 20);
  EXPECT_TRUE(kzt_peak_search_controls().save_peaks);

  // CANCEL searches nothing.
  peaks.num_peaks = 0;
  {
    testing::ScriptedInput input({"CANCEL"});
    KZT_GUI_PEAKSEARCH(false, true, sets, peaks, draw_bad, status);
  }
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(peaks.num_peaks, 0);
}

// A search of a small image in large arrays finds its spots touching the
// pages of the image, not the arrays (a 64 MB image of them; the address
// sanitizer's own records of a freed block take an eighth of one).
TEST_F(PeakSearchTyped, SmallImageInLargeArraysIsSearchedOverItsOwnPages) {
  constexpr Index kLarge = 4096, kImageBytes = kLarge * kLarge * 4, kUsed = 64;
  Status status = kStatusGood;
  kzt_free_arrays(vosq_kzt_arrays, status);
  KztArrays& a = vosq_kzt_arrays;
  kzt_allocate_arrays(kLarge, kLarge, true, false, false, a, status);
  ASSERT_EQ(status, kStatusGood);
  a.xnumdat = a.ynumdat = a.xendelm = a.yendelm = kUsed;
  for (Index k = 0; k < kUsed; ++k) a.xaxis[k] = a.yaxis[k] = static_cast<float>(k) + 0.5f;
  for (Index j = 0; j < kUsed; ++j)
    for (Index i = 0; i < kUsed; ++i) {
      const auto spot = [&](float cx, float cy) {
        const float dx = static_cast<float>(i) + 0.5f - cx, dy = static_cast<float>(j) + 0.5f - cy;
        return 3000.0f * std::exp(-(dx * dx + dy * dy) / 4.5f);
      };
      a.data[element(i + 1, j + 1, kLarge)] =
          100.0f + static_cast<float>((i * 7 + j * 13) % 11) + spot(20.5f, 30.5f) +
          spot(45.5f, 15.5f);
    }
  testing::TempDir dir;
  const std::string file = dir.file("found.peaks");
  testing::TerminalCapture terminal;
  PeakList peaks(100);
  bool draw_bad = false;
  const auto search = [&] {
    const testing::ResidentPeak peak;
    testing::ScriptedInput input({"OUTPUT FILE", file, "O.K."});
    KZT_GUI_PEAKSEARCH(false, true, sets, peaks, draw_bad, status);
    return peak.grown_bytes();
  };
  const long long clean = search();
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_LT(clean, kImageBytes / 2);
  ASSERT_EQ(peaks.num_peaks - peaks.bad_weak, 2) << terminal.text();
  // A pixel that is no number is left out through a map of the pixels left
  // out, made over the region too (16 MB of the arrays' shape).
  a.data[element(10, 50, kLarge)] = std::nanf("");
  const long long gapped = search();
  ASSERT_EQ(status, kStatusGood) << terminal.text();
  EXPECT_LT(gapped - clean, kLarge * kLarge / 2);
  EXPECT_EQ(peaks.num_peaks - peaks.bad_weak, 2) << terminal.text();
}

TEST_F(PeakSearchTyped, TooManyPeaksWarnsAndWritesNoFile) {
  spots({{30.5f, 40.5f}, {80.5f, 40.5f}, {120.5f, 90.5f}});
  testing::TempDir dir;
  const std::string file = dir.file("none.peaks");
  kzt_peak_search_controls().save_peaks = true;
  testing::TerminalCapture terminal;
  PeakList peaks(1);
  bool draw_bad = false;
  Status status = kStatusGood;
  {
    testing::ScriptedInput input({"OUTPUT FILE", file, "O.K."});
    KZT_GUI_PEAKSEARCH(false, true, sets, peaks, draw_bad, status);
  }
  EXPECT_EQ(status, kStatusGood);
  const std::string out = terminal.text();
  EXPECT_NE(out.find("WARNING: Peak search failed: too many peaks for peak arrays"),
            std::string::npos);
  EXPECT_NE(out.find("INFO: Average I / Sigma(I)"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace kesta
