// The attribute state: refused values leave a group as it was, argument
// orders by meaning, defaults and the many-group setters.

#include "graphics/system/state.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "core/status.hpp"

namespace kesta {
namespace {

struct Fixture : ::testing::Test {
  void SetUp() override {
    gs_state = GsState{};
    Status s = kStatusGood;
    GS_DEF_GRAPHICS(s);
    ASSERT_EQ(s, kStatusGood);
  }
};

using StateTest = Fixture;

TEST_F(StateTest, RefusedValuesLeaveTheGroupUnchanged) {
  struct Case {
    const char* name;
    std::function<void(Status&)> set;
    Status code;
  };
  const Case cases[] = {
      {"gpp equal x", [](Status& s) { GS_SET_GPP(0.2f, 0.1f, 0.2f, 0.5f, s); }, 140013},
      {"gpp y", [](Status& s) { GS_SET_GPP(0.1f, 0.5f, 0.2f, 0.5f, s); }, 140014},
      {"ddr equal", [](Status& s) { GS_SET_DDR(1, 0, 1, 1, s); }, 140013},
      {"dddr y", [](Status& s) { GS_SET_DDDR(0, 2, 1, 1, s); }, 140014},
      {"idr equal", [](Status& s) { GS_SET_IDR(0, 0, 0, 0, s); }, 140013},
      {"scale mode 1", [](Status& s) { GS_SET_IMAGESCALE(1, 5, 5, s); }, 140013},
      {"scale mode 5", [](Status& s) { GS_SET_IMAGESCALE(5, 0, 1, s); }, 140017},
      {"scheme 12", [](Status& s) { GS_SET_LUTCHOICE(12, 10, s); }, 140017},
      {"levels 0", [](Status& s) { GS_SET_LUTCHOICE(3, 0, s); }, 140017},
      {"curve 41", [](Status& s) { GS_SET_CURVESTYLE(41, false, false, false, s); }, 140017},
      {"marker 14", [](Status& s) { GS_SET_CURVEMARKERS(1, 14, 1, 1, s); }, 140017},
      {"marker size", [](Status& s) { GS_SET_CURVEMARKERS(1, 3, 1, 0, s); }, 140021},
      {"line width", [](Status& s) { GS_SET_CURVELINE(1, 1, 1, -1, false, 0, s); }, 140021},
      {"interpolation", [](Status& s) { GS_SET_CURVELINE(1, 1, 1, 1, false, 3, s); }, 140017},
      {"axes x", [](Status& s) { GS_SET_AXESSTYLE(3, 0, s); }, 140017},
      {"axes y", [](Status& s) { GS_SET_AXESSTYLE(0, 3, s); }, 140018},
      {"title height", [](Status& s) { GS_SET_TITLESTYLE(true, 1, 1, 0, 1, 0, s); }, 140021},
      {"title font", [](Status& s) { GS_SET_TITLESTYLE(true, 3, 1, 1, 1, 0, s); }, 140017},
      {"enum field", [](Status& s) { GS_SET_XAXISENUM(true, 1, 1, 1, 1, 0, 0, 0, 1, 1, s); },
       140017},
      {"enum fraction", [](Status& s) { GS_SET_YAXISENUM(true, 1, 1, 1, 1, 0, 5, 5, 1, 1, s); },
       140013},
      {"label count", [](Status& s) { GS_SET_ALABEL(1, true, 0, 0, "x", 41, s); }, 140017},
      {"label entry", [](Status& s) { GS_SET_ALABELSTYLE(41, 1, 1, 1, 1, 0, 0, s); }, 140017},
      {"arrow count", [](Status& s) { GS_SET_ARROW(41, true, 0, 0, 1, 1, 1, s); }, 140017},
      {"arrow width", [](Status& s) { GS_SET_ARROWSTYLE(1, 1, 0, 1, 0, 1, 1, 1, s); }, 140021},
      {"pixel limit", [](Status& s) { GS_SET_PIXELLIMITS(4001, 200, s); }, 140017},
      {"font 3", [](Status& s) { GS_MSET_FONT(3, s); }, 140017},
      {"haxes width", [](Status& s) { GS_SET_HAXESSTYLE(1, 0, 1, 0.01f, 0.005f, 9, s); }, 140021},
      {"progress on", [](Status& s) { GS_SET_PROGRESS(0.1f, 0.1f, 0.5f, 0.2f, 1, s); }, 140017},
      {"progress x", [](Status& s) { GS_SET_PROGRESS(0.5f, 0.1f, 0.5f, 0.2f, 0, s); }, 140013},
      {"progress y", [](Status& s) { GS_SET_PROGRESS(0.1f, 0.3f, 0.5f, 0.2f, 0, s); }, 140014},
  };
  for (const Case& c : cases) {
    SetUp();
    const GsState before = gs_state;
    Status s = kStatusGood;
    c.set(s);
    EXPECT_EQ(s, c.code) << c.name;
    EXPECT_EQ(gs_state.gpp.xmin, before.gpp.xmin) << c.name;
    EXPECT_EQ(gs_state.dgpp.xmax, before.dgpp.xmax) << c.name;
    EXPECT_EQ(gs_state.ddr.xmax, before.ddr.xmax) << c.name;
    EXPECT_EQ(gs_state.lut.scale_mode, before.lut.scale_mode) << c.name;
    EXPECT_EQ(gs_state.lut.scheme, before.lut.scheme) << c.name;
    EXPECT_EQ(gs_state.num_labels, before.num_labels) << c.name;
    EXPECT_EQ(gs_state.curve_markers[0].type, before.curve_markers[0].type) << c.name;
    EXPECT_EQ(gs_state.title.height, before.title.height) << c.name;
    EXPECT_EQ(gs_state.y_axes_code, before.y_axes_code) << c.name;
    EXPECT_EQ(gs_state.title.font, before.title.font) << c.name;
    EXPECT_EQ(gs_state.progress.xmax, before.progress.xmax) << c.name;
  }
}

TEST_F(StateTest, AcceptedEdgeValues) {
  Status s = kStatusGood;
  GS_SET_IMAGESCALE(2, 5.0f, 1.0f, s);  // only mode 1 needs minimum below maximum
  GS_SET_HAXESSTYLE(0, 1.0f, 1, 0.01f, 0.005f, 9, s);
  GS_SET_DLUTPC(false, 1.0f, 1.0f, -1.0f, -1.0f, s);
  GS_SET_LUTCHOICE(0, 5, s);
  GS_SET_LUTCHOICE(11, 5, s);
  EXPECT_EQ(s, kStatusGood);
  GS_SET_CURVESOFTMARKERS(3, 2.9f, true, 4, s);
  GS_SET_CURVESOFTMARKERS(4, 0.3f, true, 4, s);
  EXPECT_EQ(gs_state.curve_soft_markers[2].width, 2);
  EXPECT_EQ(gs_state.curve_soft_markers[3].width, 1);
}

TEST_F(StateTest, ArgumentOrdersFollowMeaning) {
  Status s = kStatusGood;
  GS_SET_AUTODDR(true, false, true, false, s);  // X min, Y min, X max, Y max
  bool xmin = false, ymin = true, xmax = false, ymax = true;
  GS_INQ_AUTODDR(xmin, ymin, xmax, ymax, s);
  EXPECT_TRUE(xmin && xmax);
  EXPECT_FALSE(ymin || ymax);
  EXPECT_FALSE(gs_state.auto_range.ymin);

  GS_SET_GRAPHLAYOUT(0.01f, 0.02f, 0.03f, 0.04f, 0.05f, s);
  EXPECT_EQ(gs_state.layout.y_enum_gap, 0.01f);
  EXPECT_EQ(gs_state.layout.x_enum_gap, 0.02f);
  EXPECT_EQ(gs_state.layout.y_label_gap, 0.03f);
  EXPECT_EQ(gs_state.layout.x_label_gap, 0.04f);
  EXPECT_EQ(gs_state.layout.title_gap, 0.05f);

  GS_SET_GPP(0.1f, 0.2f, 0.3f, 0.4f, s);
  float a = 0, b = 0, c = 0, d = 0;
  GS_INQ_DGPP(a, b, c, d, s);
  EXPECT_EQ(b, 0.2f);

  // The progress bar: the defaults, then a region read back as set.
  int on = 1;
  GS_INQ_PROGRESS(a, b, c, d, on, s);
  EXPECT_EQ(c, 0.7071f);
  EXPECT_EQ(d, 0.29f);
  EXPECT_EQ(on, 0);
  GS_SET_PROGRESS(0.1f, 0.2f, 0.3f, 0.4f, 0, s);
  GS_INQ_PROGRESS(a, b, c, d, on, s);
  EXPECT_EQ(a, 0.1f);
  EXPECT_EQ(b, 0.2f);
  EXPECT_EQ(c, 0.3f);
  EXPECT_EQ(d, 0.4f);
  EXPECT_EQ(s, kStatusGood);
}

TEST_F(StateTest, ColourNames) {
  Status s = kStatusGood;
  struct Case {
    const char* name;
    bool found;
    int colour;
  };
  for (const Case& c :
       {Case{"grey", true, 10}, Case{"gray", false, 99}, Case{"(0 index)", true, 13},
        Case{"(1 INDEX)", true, 14}, Case{"inverse", true, 15}}) {
    bool found = !c.found;
    int colour = 99;
    GS_GIVE_COLOUR(c.name, found, colour, s);
    EXPECT_EQ(found, c.found) << c.name;
    EXPECT_EQ(colour, c.colour) << c.name;
  }
  bool found = true;
  std::string name = "kept";
  GS_GIVE_COLOURNAME(16, found, name, s);
  EXPECT_FALSE(found);
  EXPECT_EQ(name, "kept");
  GS_GIVE_COLOURNAME(14, found, name, s);
  EXPECT_EQ(name, "(1 INDEX)");
}

TEST_F(StateTest, DefaultsAndManyGroupSetters) {
  EXPECT_EQ(gs_state.curve_markers[0].type, 2);
  EXPECT_EQ(gs_state.curve_markers[11].type, 13);
  EXPECT_EQ(gs_state.curve_markers[12].type, 2);
  EXPECT_EQ(gs_state.curve_errors[3].box_type, 0);
  EXPECT_EQ(gs_state.curve_errors[2].box_type, 2);
  std::string label;
  Status s = kStatusGood;
  GS_INQ_KEYLABEL(7, label, s);
  EXPECT_EQ(label, "Curve   7");

  GS_MSET_LANDSCAPE(s);
  EXPECT_EQ(gs_state.window_format, 1);
  EXPECT_EQ(gs_state.gpp.ymax, 0.6071f);
  EXPECT_EQ(gs_state.key.region.xmin, 0.7071f);
  EXPECT_EQ(gs_state.gui_region.ymax, 0.1f);

  GS_MSET_PUBLICATION(s);
  EXPECT_EQ(gs_state.haxes.width, 2.0f);
  EXPECT_EQ(gs_state.curve_lines[39].width, 2.0f);
  EXPECT_EQ(gs_state.curve_soft_markers[0].width, 2);

  GS_MSET_COLOURS(kGsRed, s);
  EXPECT_EQ(gs_state.vfine.colour, kGsRed);
  EXPECT_EQ(gs_state.arrow_styles[20].fill_colour, kGsRed);

  std::vector<std::string> lines(25, "line");
  GS_SET_ATEXT(lines, s);
  int num = 0;
  std::vector<std::string> out;
  GS_INQ_ATEXT(10, num, out, s);
  EXPECT_EQ(num, 25);
  EXPECT_EQ(out.size(), 10u);
  int max_curves = 0;
  GS_INQ_MAXCURVES(max_curves, s);
  EXPECT_EQ(max_curves, 40);
  EXPECT_EQ(s, kStatusGood);
}

TEST_F(StateTest, ColoursTheDeviceRefusesDrawBlack) {
  gs_state.colour_index = {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 1, -1};
  EXPECT_EQ(gs_device_colour(kGsInverse), -1);      // lines may use inverse video
  EXPECT_EQ(gs_device_fill_colour(kGsInverse), 7);  // fills and text may not
  EXPECT_EQ(gs_device_marker_colour(kGsIndex0), 7);
  EXPECT_EQ(gs_device_marker_colour(kGsInverse), 7);
  EXPECT_EQ(gs_device_colour(0), 7);
  EXPECT_EQ(gs_device_colour(kGsIndex1), 1);
}

}  // namespace
}  // namespace kesta
