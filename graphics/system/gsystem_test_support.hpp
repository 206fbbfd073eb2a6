#pragma once
// A graphics system drawing onto a page recorder, for the drawing tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/page_recorder_test_support.hpp"
#include "graphics/system/drawing.hpp"

namespace kesta::testing {

// The X window whose title is TITLE on the current DISPLAY (0 for none).
inline unsigned long find_window(const std::string& title) {
  const std::string command = "timeout 10 xdotool search --name '" + title + "'";
  std::FILE* list = popen(command.c_str(), "r");
  if (list == nullptr) return 0;
  unsigned long id = 0;
  if (std::fscanf(list, "%lu", &id) != 1) id = 0;
  pclose(list);
  return id;
}

struct PageFixture : ::testing::Test {
  std::vector<PageItem> items;
  PageRecorder* page = nullptr;

  void SetUp() override {
    Status s = kStatusGood;
    ST_DEF_SYSTEM(s);
    QG_OPEN(0, s);
    page = open_page_recorder(1, &items);
    gs_state = GsState{};
    GS_DEF_GRAPHICS(s);
    GS_DEF_LUTCHOICE(s);
    GS_DEF_COLOURS(s);
    ASSERT_EQ(s, kStatusGood);
    items.clear();
  }
  void TearDown() override {
    for (auto& d : qg_db_system.driver) d.reset();
    qg_db_system = QgDbSystem{};
  }

  std::vector<const PageItem*> of(std::string_view kind) const {
    std::vector<const PageItem*> out;
    for (const PageItem& item : items)
      if (item.kind == kind) out.push_back(&item);
    return out;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const PageItem* item : of("text")) out.push_back(item->text);
    return out;
  }
  const PageItem* text(std::string_view t) const {
    for (const PageItem* item : of("text"))
      if (item->text == t) return item;
    return nullptr;
  }
  // Texts whose anchor is not a point of the page: off it, or not finite.
  std::vector<const PageItem*> texts_off_page() const {
    Status s = kStatusGood;
    float width = 1.0f, height = 1.0f;
    QG_INQ_MAXPC(1, width, height, s);
    std::vector<const PageItem*> out;
    for (const PageItem* t : of("text"))
      if (!(t->x[0] >= 0.0f && t->x[0] <= width && t->y[0] >= 0.0f && t->y[0] <= height))
        out.push_back(t);
    return out;
  }
  // Ticks: two-point vertical lines (X axis) or horizontal lines (Y axis)
  // of at most LENGTH page units.
  std::vector<float> ticks(bool vertical, float length) const {
    std::vector<float> out;
    for (const PageItem* item : of("polyline")) {
      if (item->x.size() != 2) continue;
      const float dx = std::abs(item->x[1] - item->x[0]);
      const float dy = std::abs(item->y[1] - item->y[0]);
      if (vertical && dx < 1e-6f && dy > 0 && dy <= length) out.push_back(item->x[0]);
      if (!vertical && dy < 1e-6f && dx > 0 && dx <= length) out.push_back(item->y[0]);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

}  // namespace kesta::testing
