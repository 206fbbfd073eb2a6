#pragma once
// The graphics system with one workstation that keeps only a summary of
// each primitive, for the graphics-system benchmarks.

#include <vector>

#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/page_recorder_test_support.hpp"
#include "graphics/system/drawing.hpp"

namespace kesta::bench {

struct Recorder {
  std::vector<testing::PageItem> items;
  explicit Recorder(Status& status) {
    ST_DEF_SYSTEM(status);
    QG_OPEN(0, status);
    testing::open_page_recorder(1, &items);
    GS_DEF_GRAPHICS(status);
    GS_DEF_LUTCHOICE(status);
    GS_DEF_COLOURS(status);
  }
  ~Recorder() {
    Status status = kStatusGood;
    QG_CLOSE(status);
  }
};

}  // namespace kesta::bench
