#include "app/imageops/surface_viewer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/imageops/imageops_graphics_test_support.hpp"
#include "app/main/data_store.hpp"
#include "graphics/device/page_recorder_test_support.hpp"

using namespace kesta;
using kesta::testing::ScriptedInput;
using kesta::testing::TerminalCapture;

namespace {

TEST(ViewerSteps, EachButtonMovesTheViewAndWrapsOrStops) {
  struct Case {
    std::string_view button;
    Kzt3dView before, after;
  };
  const Kzt3dView v{1.0f, 2.0f, 3.0f, 10.0f, 4.0f, 1.0f, 0.5f};
  auto with = [&v](auto change) {
    Kzt3dView w = v;
    change(w);
    return w;
  };
  const Case cases[] = {
      {"+ROT.", with([](Kzt3dView& w) { w.longitude = 6.2f; }),
       with([](Kzt3dView& w) { w.longitude = 6.2f + 0.1745329f - 6.283185f; })},
      {"-ROT.", with([](Kzt3dView& w) { w.longitude = 0.1f; }),
       with([](Kzt3dView& w) { w.longitude = 0.1f - 0.1745329f + 6.283185f; })},
      {"+ELEV.", with([](Kzt3dView& w) { w.latitude = 1.5f; }),
       with([](Kzt3dView& w) { w.latitude = 1.5707963f; })},
      {"-ELEV.", with([](Kzt3dView& w) { w.latitude = -1.5f; }),
       with([](Kzt3dView& w) { w.latitude = -1.5707963f; })},
      {"+ZOOM", v, with([](Kzt3dView& w) { w.d = 10.0f / 1.2f; })},
      {"-ZOOM", v, with([](Kzt3dView& w) { w.d = 12.0f; })},
      {"LEFT", v, with([](Kzt3dView& w) { w.cx = 3.0f; })},
      {"RIGHT", v, with([](Kzt3dView& w) { w.cx = -1.0f; })},
      {"UP", v, with([](Kzt3dView& w) { w.cz = 1.0f; })},
      {"DOWN", v, with([](Kzt3dView& w) { w.cz = 5.0f; })},
      {"STEEPER", v, with([](Kzt3dView& w) { w.zs = 4.0f * 1.414214f; })},
      {"FLATTER", v, with([](Kzt3dView& w) { w.zs = 4.0f / 1.414214f; })},
  };
  for (const Case& c : cases) {
    Kzt3dView w = c.before;
    ASSERT_TRUE(kzt_3d_step(c.button, w)) << c.button;
    for (const auto& [got, want] :
         {std::pair{w.cx, c.after.cx}, {w.cy, c.after.cy}, {w.cz, c.after.cz}, {w.d, c.after.d},
          {w.zs, c.after.zs}, {w.longitude, c.after.longitude}, {w.latitude, c.after.latitude}})
      EXPECT_NEAR(got, want, 1e-5f) << c.button;
  }
  Kzt3dView w = v;
  EXPECT_FALSE(kzt_3d_step("EXIT", w));
  for (const char* b : {"+ZOOM", "+ZOOM", "-ZOOM", "-ZOOM"}) kzt_3d_step(b, w);
  EXPECT_NEAR(w.d, v.d, 1e-5f);
  for (int k = 0; k < 36; ++k) kzt_3d_step("+ROT.", w);
  EXPECT_NEAR(std::remainder(w.longitude - v.longitude, 6.283185f), 0.0f, 1e-4f);
}

TEST(ViewerSteps, ZScaleOfAnEmptyRangeIsTheHalfSizeAndLogKeepsTheSteepness) {
  EXPECT_FLOAT_EQ(kzt_3d_zscale(5.0f, 2.0f, 12.0f, false), 0.5f);
  // A flat range stands in the range its image's colours are given
  // (3 in 2.7 to 3.3), so that its box has a Z axis.
  EXPECT_NEAR(kzt_3d_zscale(5.0f, 3.0f, 3.0f, false), 5.0f / 0.6f, 1e-4f);
  // Logarithmic heights span the decades the surface draws: from the
  // minimum's, or six below the maximum's when the minimum is not above 0.
  EXPECT_FLOAT_EQ(kzt_3d_zscale(5.0f, 0.01f, 1000.0f, true), 5.0f / 5.0f);
  EXPECT_FLOAT_EQ(kzt_3d_zscale(5.0f, 0.0f, 1000.0f, true), 5.0f / 6.0f);
  EXPECT_FLOAT_EQ(kzt_3d_zscale(5.0f, -3.0f, 0.5f, true), 5.0f / 6.0f);
  EXPECT_FLOAT_EQ(kzt_3d_zscale(5.0f, -3.0f, 0.0f, true), 5.0f);  // nothing above 0
  Kzt3dView v;
  v.d = 5.0f;
  v.zs = 2.0f * kzt_3d_zscale(5.0f, 0.0f, 1000.0f, false);
  kzt_3d_switch_log(true, 0.0f, 1000.0f, v);
  EXPECT_FLOAT_EQ(v.zs, 2.0f * 5.0f / 6.0f);
  kzt_3d_switch_log(false, 0.0f, 1000.0f, v);
  EXPECT_FLOAT_EQ(v.zs, 2.0f * 5.0f / 1000.0f);

  const std::vector<float> xaxis{0.5f, 1.5f, 2.5f, 3.5f}, yaxis{10.0f, 20.0f, 30.0f};
  kzt_3d_frame(xaxis, yaxis, 1, 1, 4, 3, 0.0f, 10.0f, false, v);
  EXPECT_FLOAT_EQ(v.cx, -2.0f);
  EXPECT_FLOAT_EQ(v.cy, -20.0f);
  EXPECT_FLOAT_EQ(v.d, 10.0f);
  EXPECT_FLOAT_EQ(v.zs, 1.0f);
}

struct Viewer : kesta::testing::NoWindowGraphics {
  static constexpr Index kX = 6, kY = 5;
  std::vector<float> data = std::vector<float>(kX * kY), xaxis = std::vector<float>(kX),
                     yaxis = std::vector<float>(kY);
  void SetUp() override {
    NoWindowGraphics::SetUp();
    kzt_forget_answers();
    for (Index i = 0; i < kX * kY; ++i) data[i] = static_cast<float>(i % 7);
    for (Index i = 0; i < kX; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < kY; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
  }
};

TEST_F(Viewer, MenuStepsAndFastModeLeaveTheColoursAsTheyWere) {
  Status status = kStatusGood;
  int first = 0, last = 0, scheme = 0, levels = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  GS_INQ_LUTCHOICE(scheme, levels, status);
  std::string kind;
  {
    ScriptedInput input({"+ROT.", "LOG", "FAST", "STYLE", "NO FILL", "EXIT", "ANGLE", "45", "30",
                         "EXIT"});
    TerminalCapture quiet;
    KZT_3DSURFACE(kind, kX, kY, data, xaxis, yaxis, 1, 1, kX, kY, "t", "x", "y", "z", status);
  }
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(kind, "3-d surface");
  Gs3dView view;
  GS_INQ_3DVIEW(view, status);
  EXPECT_NEAR(view.longitude, 45.0f / 57.29578f, 1e-4f);
  Gs3dStyle style;
  GS_INQ_3DSTYLE(style, status);
  EXPECT_FALSE(style.fill);
  int f = 0, l = 0, s = 0, n = 0;
  QG_INQ_IMAGERANGE(f, l, status);
  GS_INQ_LUTCHOICE(s, n, status);
  EXPECT_EQ(std::vector<int>({f, l, s, n}), std::vector<int>({first, last, scheme, levels}));

  // The row graphs stop at NO.
  ScriptedInput input({"NO"});
  TerminalCapture terminal;
  KZT_XYGRAPH(false, kX, kY, 1, 1, kX, kY, data, {}, xaxis, yaxis, "t", "x", "y", "z", status);
  EXPECT_EQ(status, kStatusGood);
  ASSERT_EQ(input.prompts.size(), 1u);
  EXPECT_NE(input.prompts[0].find("CONTINUE"), std::string::npos);
}

// The user's Z limits of the image scaling give the viewer its range: mode 1
// keeps both, mode 2 the minimum, mode 3 the maximum (the data, 0..6, give
// the other end); the Z scale is the half size over that range.
// DEFAULT under logarithmic heights gives the view LOG gave, not the linear
// frame, which flattened the surface to a plane.
TEST_F(Viewer, DefaultViewKeepsTheLogarithmicHeights) {
  for (Index i = 0; i < kX * kY; ++i) data[i] = 8.0f + static_cast<float>(i % 13);
  const auto z_scale_after = [&](std::vector<std::string> answers) {
    Status status = kStatusGood;
    QG_SET_LOGZSCALING(false, status);
    std::string kind;
    ScriptedInput input(answers);
    TerminalCapture quiet;
    KZT_3DSURFACE(kind, kX, kY, data, xaxis, yaxis, 1, 1, kX, kY, "t", "x", "y", "z", status);
    EXPECT_EQ(status, kStatusGood);
    Gs3dView view;
    GS_INQ_3DVIEW(view, status);
    QG_SET_LOGZSCALING(false, status);
    return view.z_scale;
  };
  const float logarithmic = z_scale_after({"LOG", "EXIT"});
  EXPECT_NEAR(z_scale_after({"LOG", "STEEPER", "DEFAULT", "EXIT"}), logarithmic,
              1e-5f * logarithmic);
  EXPECT_GT(logarithmic, 2.0f * z_scale_after({"EXIT"}));
}

// A dome of 100 over a plane of 0 with a bad pixel and a pixel of -50:
// under logarithmic heights the surface's box is no taller than the linear
// one, below the title (the six decades drawn below the maximum were
// scaled as three, and the dome ran into the title).
TEST_F(Viewer, LogarithmicSurfaceStaysInsideItsFrameAsTheLinearOne) {
  constexpr Index nx = 60, ny = 40;
  std::vector<float> dome(nx * ny), dx(nx), dy(ny);
  for (Index i = 0; i < nx; ++i) dx[i] = static_cast<float>(i) + 0.5f;
  for (Index j = 0; j < ny; ++j) dy[j] = static_cast<float>(j) + 0.5f;
  for (Index j = 0; j < ny; ++j)
    for (Index i = 0; i < nx; ++i)
      dome[i + j * nx] = 100.0f * std::exp(-0.5f * (std::pow((dx[i] - 30.0f) / 8.0f, 2.0f) +
                                                    std::pow((dy[j] - 20.0f) / 6.0f, 2.0f)));
  dome[5 + 5 * nx] = std::numeric_limits<float>::quiet_NaN();
  dome[50 + 30 * nx] = -50.0f;
  std::vector<kesta::testing::PageItem> items;
  // A page, not a window: the menus read the typed answers.
  kesta::testing::open_page_recorder(1, &items, kCategoryPostScript);
  Status status = kStatusGood;
  GS_SET_3DAXES(true, false, false, status);  // the box's front edges show its height
  float linear_top = 0.0f;  // the box's top corners in the linear view
  for (const bool log : {false, true}) {
    QG_SET_LOGZSCALING(false, status);
    std::string kind;
    ScriptedInput input(log ? std::vector<std::string>{"LOG", "EXIT"}
                            : std::vector<std::string>{"EXIT"});
    TerminalCapture quiet;
    items.clear();
    KZT_3DSURFACE(kind, nx, ny, dome, dx, dy, 1, 1, nx, ny, "Dome", "x", "y", "z", status);
    ASSERT_EQ(status, kStatusGood);
    // The last picture: from the last clearing of the page to its title
    // (the menu follows).
    std::size_t from = 0;
    for (std::size_t k = 0; k < items.size(); ++k)
      if (items[k].kind == "clear") from = k;
    float title = 0.0f, top = -1.0f;
    for (std::size_t k = from; k < items.size() && title == 0.0f; ++k) {
      const kesta::testing::PageItem& item = items[k];
      if (item.kind == "text" && item.text == "Dome") title = item.y[0];
      if (item.kind != "polyline") continue;
      for (const float y : item.y) top = std::max(top, y);
    }
    ASSERT_GT(title, 0.0f) << log;
    EXPECT_LT(top, title - 0.02f) << (log ? "logarithmic" : "linear");
    if (log) {
      EXPECT_LE(top, linear_top + 1e-4f);
    }
    linear_top = top;
  }
  QG_SET_LOGZSCALING(false, status);
}

// LOG on heights all below zero is a choice the data cannot take: one line
// says so, the view stays linear as it was and the menu goes on (here to a
// second LOG, refused the same way, and EXIT). Entered with logarithmic
// scaling already chosen, the viewer says the same line and draws nothing.
TEST_F(Viewer, LogOfHeightsAllBelowZeroIsRefusedInOneLine) {
  for (Index i = 0; i < kX * kY; ++i) data[i] = -1.0f - static_cast<float>(i % 7);
  Status status = kStatusGood;
  QG_SET_LOGZSCALING(false, status);
  std::string kind;
  const std::string line =
      "WARNING: Logarithmic scaling demanded of data which is all below zero !\n";
  {
    ScriptedInput input({"LOG", "LOG", "EXIT"});
    TerminalCapture terminal;
    KZT_3DSURFACE(kind, kX, kY, data, xaxis, yaxis, 1, 1, kX, kY, "t", "x", "y", "z", status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(terminal.text(), line + line);
    EXPECT_EQ(input.prompts.size(), 3u);
  }
  EXPECT_EQ(kind, "3-d surface");
  bool log = true;
  QG_INQ_LOGZSCALING(log, status);
  EXPECT_FALSE(log);

  QG_SET_LOGZSCALING(true, status);
  kind = "image";
  ScriptedInput input({"EXIT"});
  TerminalCapture terminal;
  KZT_3DSURFACE(kind, kX, kY, data, xaxis, yaxis, 1, 1, kX, kY, "t", "x", "y", "z", status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(terminal.text(), line);
  EXPECT_TRUE(input.prompts.empty());
  EXPECT_EQ(kind, "");
  QG_SET_LOGZSCALING(false, status);
}

TEST_F(Viewer, ZRangeKeepsTheUserLimitsOfItsMode) {
  struct Case {
    int mode;
    float zmin, zmax;
  };
  for (const Case& c : {Case{1, 1.0f, 4.0f}, Case{2, 1.0f, 6.0f}, Case{3, 0.0f, 4.0f}}) {
    Status status = kStatusGood;
    GS_SET_IMAGESCALE(c.mode, 1.0f, 4.0f, status);
    std::string kind;
    ScriptedInput input({"EXIT"});
    TerminalCapture terminal;
    KZT_3DSURFACE(kind, kX, kY, data, xaxis, yaxis, 1, 1, kX, kY, "t", "x", "y", "z", status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(terminal.text().find("user input"), std::string::npos) << terminal.text();
    Gs3dView view;
    GS_INQ_3DVIEW(view, status);
    EXPECT_NEAR(view.z_scale, 2.5f / (c.zmax - c.zmin), 1e-5f) << "mode " << c.mode;
  }
}

// A region without a finite value (here under the automatic range) has no
// surface: one line says so, no frame or menu is drawn, and nothing is left
// for a print (not the image drawn before).
TEST_F(Viewer, ARegionWithoutAFiniteValueIsSaidInOneLine) {
  std::fill(data.begin(), data.end(), std::numeric_limits<float>::quiet_NaN());
  data[3] = std::numeric_limits<float>::infinity();
  Status status = kStatusGood;
  GS_SET_IMAGESCALE(4, 5.0f, 20.0f, status);
  std::string kind = "image";
  ScriptedInput input({"EXIT"});
  TerminalCapture terminal;
  KZT_3DSURFACE(kind, kX, kY, data, xaxis, yaxis, 1, 1, kX, kY, "t", "x", "y", "z", status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(kind, "");
  EXPECT_TRUE(input.prompts.empty());
  EXPECT_EQ(terminal.text(),
            "WARNING: No finite data value in the region to draw as a 3-D surface\n");
}

// 3-D SURFACE PLOT of one or two rows shows them as a graph: rows without a
// finite value get the same one line, and no empty graph or menu after it,
// nor anything left for a print.
TEST_F(Viewer, RowsWithoutAFiniteValueAreSaidInOneLineToo) {
  Status status = kStatusGood;
  kzt_allocate_arrays(kX, kY, false, false, false, vosq_kzt_arrays, status);
  ASSERT_EQ(status, kStatusGood);
  KztArrays& a = vosq_kzt_arrays;
  std::fill(a.data, a.data + kX * kY, std::numeric_limits<float>::quiet_NaN());
  for (Index x = 0; x < kX; ++x) a.xaxis[x] = static_cast<float>(x) + 0.5f;
  for (Index y = 0; y < kY; ++y) a.yaxis[y] = static_cast<float>(y) + 0.5f;
  for (const Index rows : {1, 2}) {
    a.xstrelm = a.ystrelm = 1;
    a.xendelm = kX;
    a.yendelm = rows;
    KztDataSets sets;
    std::string kind = "image";
    ScriptedInput input({"EXIT", "NO"});
    TerminalCapture terminal;
    kzt_command_3dsurface(sets, kind, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(kind, "") << rows;
    EXPECT_TRUE(input.prompts.empty()) << rows;
    EXPECT_EQ(terminal.text(),
              "WARNING: No finite data value in the region to draw as a 3-D surface\n")
        << rows;
  }
  // Two rows of values away from the first row: nothing is drawn, and said.
  std::fill(a.data, a.data + kX * kY, 1.0f);
  a.ystrelm = 3;
  a.yendelm = 4;
  {
    KztDataSets sets;
    std::string kind = "image";
    ScriptedInput input({"EXIT", "NO"});
    TerminalCapture terminal;
    kzt_command_3dsurface(sets, kind, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(kind, "");
    EXPECT_TRUE(input.prompts.empty());
    EXPECT_NE(terminal.text().find("WARNING: Nothing drawn"), std::string::npos) << terminal.text();
  }
  // Of two rows, a row without a finite value is said, before the other's
  // graph or after it, and no menu waits under an empty graph of it, nor
  // does a question for further graphs come before it.
  const auto row_said = [&](Index empty_row) {
    std::fill(a.data, a.data + kX * kY, 1.0f);
    std::fill(a.data + (empty_row - 1) * kX, a.data + empty_row * kX,
              std::numeric_limits<float>::quiet_NaN());
    a.ystrelm = 1;
    a.yendelm = 2;
    KztDataSets sets;
    std::string kind = "image";
    ScriptedInput input({"EXIT", "LEFT OVER"});
    TerminalCapture terminal;
    kzt_command_3dsurface(sets, kind, status);
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(kind, "x/y graph");
    EXPECT_EQ(input.remaining(), 1u) << empty_row;
    for (const std::string& prompt : input.prompts)
      EXPECT_EQ(prompt.find("CONTINUE"), std::string::npos) << empty_row;
    std::istringstream lines(terminal.text());
    std::string warnings;
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("WARNING")) warnings += line + "\n";
    return warnings;
  };
  EXPECT_EQ(row_said(2), "WARNING: No finite data value in row 2 to plot\n");
  EXPECT_EQ(row_said(1), "WARNING: No finite data value in row 1 to plot\n");
  kzt_free_arrays(vosq_kzt_arrays, status);
  vosq_kzt_arrays = KztArrays{};
}

}  // namespace
