#pragma once
// The graphics kernel and system open without a window, for the tests of
// menu operations: widgets then read typed answers (ScriptedInput), and
// PostScript copies can still be written.

#include <gtest/gtest.h>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"

namespace kesta::testing {

struct NoWindowGraphics : ::testing::Test {
  void SetUp() override {
    reset_dialogue();
    Status s = kStatusGood;
    ST_DEF_SYSTEM(s);
    QG_OPEN(0, s);
    gs_state = GsState{};
    GS_DEF_GRAPHICS(s);
    GS_DEF_LUTCHOICE(s);
    GS_DEF_COLOURS(s);
    ASSERT_EQ(s, kStatusGood);
  }
  void TearDown() override {
    Status s = kStatusGood;
    GS_CLOSE_PS(s);
    for (auto& d : qg_db_system.driver) d.reset();
    qg_db_system = QgDbSystem{};
    reset_dialogue();
  }
};

}  // namespace kesta::testing
