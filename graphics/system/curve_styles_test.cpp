#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

using testing::click;
using testing::ScriptedInput;
using testing::TerminalCapture;
using testing::typed;
using testing::WidgetFixture;

struct CurveStyles : WidgetFixture {};

TEST_F(CurveStyles, TypedBlockOfOneCurve) {
  Status s = kStatusGood;
  GS_DEF_CURVESTYLES(s);
  const GsCurveLine before = gs_state.curve_lines[3];
  // Curve 3 alone (Return keeps the last curve at the first); a zero width,
  // which no line can be drawn with, is refused by the question itself.
  {
    TerminalCapture terminal;
    ScriptedInput input({"3", "", "YES", "2", "RED", "2.5", "NO", "1", "NO", "NO"});
    GS_INP_CURVESTYLES(false, s);
    EXPECT_EQ(s, kStatusGood);
    EXPECT_EQ(input.remaining(), 0u);
  }
  const GsCurveLine& l = gs_state.curve_lines[2];
  EXPECT_EQ(l.type, 2);
  EXPECT_EQ(l.colour, kGsRed);
  EXPECT_FLOAT_EQ(l.width, 2.5f);
  EXPECT_EQ(l.interpolation, 1);
  EXPECT_FALSE(gs_state.curve_styles[2].markers);
  EXPECT_TRUE(gs_state.curve_styles[3].markers);
  EXPECT_EQ(gs_state.curve_lines[3].type, before.type);
  {
    TerminalCapture terminal;
    ScriptedInput input({"3", "", "YES", "1", "", "0", "NO", "0"});
    GS_INP_CURVESTYLES(false, s);
    EXPECT_EQ(s, kStatusEscape);  // asked until the input ends
    // The width question's last line holds its proposal.
    EXPECT_EQ(std::count(input.prompts.begin(), input.prompts.end(), " [2.500000]:"), 4)
        << ::testing::PrintToString(input.prompts);
  }
  EXPECT_FLOAT_EQ(gs_state.curve_lines[2].width, 2.5f);
}

TEST_F(CurveStyles, FormsRefuseABackwardBlockAndCancel) {
  Status s = kStatusGood;
  GS_DEF_CURVESTYLES(s);
  // The control and line forms both have five items: the same places.
  std::vector<GsFormItem> five(5);
  for (auto& i : five) i.label = "X";
  gs_db_form.region = gs_state.message;
  GS_DRAW_FORM(12, 1, 0, {}, five, s);
  const auto first = on_button(1), last = on_button(2), ok = on_button(6), cancel = on_button(7);
  gs_state.gui_region = GsRect{0.0f, 0.0f, 0.7071f, 0.15f};
  GsRect warning_ok;
  const GsRect g = gs_state.gui_region;
  GS_DRAW_WARNING(0, g.xmin, g.ymin, g.xmax, g.ymax, 2, 2, {"a", "b"}, warning_ok, s);
  const auto close_warning = click((warning_ok.xmin + warning_ok.xmax) / 2,
                                   (warning_ok.ymin + warning_ok.ymax) / 2);
  items.clear();
  script({first, typed("5"), last, typed("3"), ok, close_warning, ok, cancel});
  const GsCurveLine before = gs_state.curve_lines[0];
  GS_INP_CURVESTYLES(true, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_TRUE(window->events.empty());
  EXPECT_NE(text("\"LAST CURVE\" CANNOT BE SMALLER"), nullptr);
  EXPECT_NE(text("LINE OUTPUT STYLE"), nullptr);
  EXPECT_EQ(gs_state.curve_lines[0].type, before.type);
  EXPECT_EQ(gs_state.curve_lines[4].type, before.type);
}

}  // namespace
}  // namespace kesta
