#include "app/imageops/colour_menus.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "app/imageops/imageops_graphics_test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

struct ColourMenus : kesta::testing::NoWindowGraphics {
  std::vector<float> data = std::vector<float>(16, 1.0f), axis = {0.5f, 1.5f, 2.5f, 3.5f};
  void run(bool rotate, const std::vector<std::string>& answers, Status& status) {
    ScriptedInput input(answers);
    TerminalCapture quiet;
    if (rotate)
      KZT_ROTATELUT(4, 4, axis, axis, data, {}, "t", "x", "y", "z", 1, 1, 4, 4, status);
    else
      KZT_COLOURS(4, 4, axis, axis, data, {}, "t", "x", "y", "z", 1, 1, 4, 4, status);
  }
  std::vector<float> table() const {
    std::vector<float> out;
    for (const Rgb& c : qg_db_colours.table) out.insert(out.end(), {c.red, c.green, c.blue});
    return out;
  }
};

TEST(RotationSteps, EachButtonAndTheDefaultUndo) {
  struct Case {
    std::string_view button;
    int total, step;
  };
  for (const Case c : {Case{"-100", 0, -100}, Case{"- 50", 3, -50}, Case{"- 10", 0, -10},
                       Case{"-  1", 0, -1}, Case{"+  1", 0, 1}, Case{"+ 10", 0, 10},
                       Case{"+ 50", 0, 50}, Case{"+100", 0, 100}, Case{"DEFAULT", 20, -20},
                       Case{"EXIT", 5, 0}})
    EXPECT_EQ(kzt_rotation_step(c.button, c.total), c.step) << c.button;
}

TEST_F(ColourMenus, ChosenSchemeIsKeptForTheNextStart) {
  Status status = kStatusGood;
  run(false, {"TEMPERATURE", "EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  int scheme = 0, levels = 0;
  GS_INQ_LUTCHOICE(scheme, levels, status);
  EXPECT_EQ(gs_scheme_name(scheme), "TEMPERATURE");
  std::string value;
  int length = 0, retstat = 1;
  IO_INQ_KEYVALUE("COLOUR_TABLE", length, value, retstat, status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(value.substr(0, static_cast<std::size_t>(length)), "TEMPERATURE");
}

TEST_F(ColourMenus, RotationsAddUpAndDefaultRestoresTheTable) {
  Status status = kStatusGood;
  GS_COLOURS(status);
  const std::vector<float> before = table();
  run(true, {"+ 10", "+ 10", "EXIT"}, status);
  EXPECT_NE(table(), before);
  run(true, {"+ 10", "- 50", "DEFAULT", "EXIT"}, status);
  EXPECT_EQ(status, kStatusGood);
  // The second visit undid its own rotations only.
  run(true, {"- 10", "- 10", "EXIT"}, status);
  EXPECT_EQ(table(), before);
}

}  // namespace
