// The vectors menu: the vector shown in turn, refusals, and the graph drawn.

#include "app/interfaces/vectors_interface.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

struct VectorsMenuTyped : testing::PageFixture {
  KztDataSets sets;
  std::vector<float> store = std::vector<float>(500 * 50);
  void SetUp() override {
    PageFixture::SetUp();
    qg_db_system.category[0] = kCategoryPostScript;
    testing::reset_dialogue();
    sets.graphics_on = true;
    Status s = kStatusGood;
    kzt_allocate_arrays(4, 4, false, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
    KztVectors& v = sets.vectors;
    v.vectors = store.data();
    v.num_vectors = 2;
    for (int k = 0; k < 2; ++k) {
      v.str_vectors[k] = 1;
      v.end_vectors[k] = 20;
      v.titles[k] = k == 0 ? "CENTRE" : "WIDTH";
      for (int i = 0; i < 20; ++i) store[static_cast<std::size_t>(k * 500 + i)] = static_cast<float>(i * (k + 1));
    }
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    PageFixture::TearDown();
  }
  int run(std::vector<std::string> lines) {
    testing::ScriptedInput input(std::move(lines));
    Status status = kStatusGood;
    KZT_GUI_VECTORS(sets, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u) << ::testing::PrintToString(input.prompts);
    int shown = 0;
    for (const std::string& t : texts())
      if (t == "CENTRE" || t == "WIDTH") shown = t == "CENTRE" ? 1 : 2;
    items.clear();
    return shown;
  }
};

TEST_F(VectorsMenuTyped, NextVectorProposedInTurnAndNoneDefined) {
  testing::TerminalCapture terminal;
  // A typed number is taken; then the proposed number (RETURN keeps it)
  // goes on to 2 and back to 1. (The number is kept for the run, so the
  // first is typed: an earlier test may have shown a vector.)
  EXPECT_EQ(run({"1", "FULL", "EXIT"}), 1);
  EXPECT_EQ(run({"", "EXIT"}), 2);
  EXPECT_EQ(run({"", "EXIT"}), 1);
  EXPECT_EQ(run({"2", "EXIT"}), 2);
  sets.vectors.num_vectors = 0;
  Status status = kStatusGood;
  KZT_GUI_VECTORS(sets, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("WARNING: No vectors have been defined"), std::string::npos);
  sets.vectors.max_vec_values = 0;
  KZT_GUI_VECTORS(sets, status);
  EXPECT_EQ(status, kBaseApp + 1);
}

// OUTPUT answered by lines (a macro, or no window): its question whether to
// use the proposed file is said before the menu's prompt takes YES or NO.
TEST_F(VectorsMenuTyped, OutputSaysItsQuestionAtTheTerminal) {
  testing::TempDir dir;
  testing::TerminalCapture terminal;
  run({"1", "OUTPUT", "KESTA FORMAT", "NO", dir.file("centre.kzt"), "EXIT"});
  EXPECT_NE(terminal.text().find("USE vector.kzt\n"), std::string::npos) << terminal.text();
  EXPECT_TRUE(std::filesystem::exists(dir.file("centre.kzt")));
  EXPECT_FALSE(std::filesystem::exists("vector.kzt"));
}

// In the window, a click on the graph shows its coordinates and draws
// nothing again.
struct VectorsWindow : testing::WidgetFixture {
  KztDataSets sets;
  std::vector<float> store = std::vector<float>(500 * 50);
  void SetUp() override {
    WidgetFixture::SetUp();
    Status s = kStatusGood;
    kzt_allocate_arrays(4, 4, false, false, false, vosq_kzt_arrays, s);
    ASSERT_EQ(s, kStatusGood);
  }
  void TearDown() override {
    Status s = kStatusGood;
    kzt_free_arrays(vosq_kzt_arrays, s);
    vosq_kzt_arrays = KztArrays{};
    WidgetFixture::TearDown();
  }
};

TEST_F(VectorsWindow, AClickOnTheGraphShowsItsCoordinates) {
  sets.graphics_on = true;
  KztVectors& v = sets.vectors;
  v.vectors = store.data();
  v.max_vec_values = 500;
  v.max_vectors = 50;
  v.num_vectors = 1;
  v.str_vectors[0] = 1;
  v.end_vectors[0] = 20;
  v.titles[0] = "CENTRE";
  for (int i = 0; i < 20; ++i) store[static_cast<std::size_t>(i)] = static_cast<float>(i);
  script({testing::typed("1"), testing::click(0.35f, 0.5f), testing::typed("EXIT")});
  Status status = kStatusGood;
  KZT_GUI_VECTORS(sets, status);
  EXPECT_EQ(status, kStatusGood);
  const auto shown = [&](std::string_view start) {
    for (const testing::PageItem& item : items)
      if (item.text.rfind(start, 0) == 0) return true;
    return false;
  };
  EXPECT_TRUE(shown(" X = "));
  EXPECT_TRUE(shown(" Y = "));
}

}  // namespace
}  // namespace kesta
