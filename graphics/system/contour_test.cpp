// Contour tracing and the contour plot; the 3-D primitives and 3-D axes.

#include <cmath>
#include <set>
#include <vector>

#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/views3d.hpp"

namespace kesta {
namespace {

using testing::PageFixture;
using testing::PageItem;

struct ContourTest : PageFixture {
  // World 0..10 on the page 0..1 both ways.
  void unit_frame() {
    Status s = kStatusGood;
    QG_DATAWINDOW(0, 0, 10, 10, s);
    QG_VIEWPORT(0, 0, 1, 1, s);
    ASSERT_EQ(s, kStatusGood);
    items.clear();
  }
  static std::vector<float> centres(int n) {
    std::vector<float> axis(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) axis[static_cast<std::size_t>(i)] = static_cast<float>(i) + 0.5f;
    return axis;
  }
};

TEST_F(ContourTest, SegmentsLieOnTheLevelOfATiltedPlane) {
  unit_frame();
  constexpr int n = 8;
  std::vector<float> data(n * n);
  const std::vector<float> axis = centres(n);
  auto plane = [](float x, float y) { return 0.7f * x + 0.3f * y; };
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) data[static_cast<std::size_t>(x + y * n)] = plane(axis[x], axis[y]);
  const std::vector<float> levels = {1.0f, 2.6f, 4.05f};
  Status s = kStatusGood;
  GS_2DCONTLINES(n, n, data, axis, axis, 1, 1, n, n, 10, levels, 3, s);
  ASSERT_EQ(s, kStatusGood);
  const auto lines = of("polyline");
  ASSERT_GT(lines.size(), 10u);
  for (const PageItem* line : lines) {
    ASSERT_EQ(line->x.size(), 2u);
    const float a = plane(line->x[0] * 10, line->y[0] * 10);
    const float b = plane(line->x[1] * 10, line->y[1] * 10);
    EXPECT_NEAR(a, b, 1e-4f);
    bool on_level = false;
    for (float level : levels) on_level |= std::abs(a - level) < 1e-4f;
    EXPECT_TRUE(on_level) << a;
  }
}

TEST_F(ContourTest, FlatCellsAndNoLevelsDrawNothing) {
  unit_frame();
  const std::vector<float> data(16, 5.0f);
  const std::vector<float> axis = centres(4);
  const std::vector<float> levels = {5.0f};
  Status s = kStatusGood;
  GS_2DCONTLINES(4, 4, data, axis, axis, 1, 1, 4, 4, 1, levels, 1, s);
  GS_2DCONTLINES(4, 4, data, axis, axis, 1, 1, 4, 4, 1, levels, 0, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(of("polyline").empty());
}

TEST_F(ContourTest, RefusedArguments) {
  const std::vector<float> data(16, 1.0f);
  const std::vector<float> axis = centres(4);
  const std::vector<float> levels = {0.5f};
  struct Case {
    Index xmax, ymax, xs, ys, xe, ye;
    int maxlevels, numlevels;
    Status expected;
  };
  for (const Case& c :
       {Case{0, 4, 1, 1, 4, 4, 1, 1, 140001}, Case{4, 4, 1, 1, 4, 4, 0, 0, 140001},
        Case{4, 0, 1, 1, 4, 4, 1, 1, 140002}, Case{4, 4, 2, 1, 2, 4, 1, 1, 140005},
        Case{4, 4, 1, 1, 4, 5, 1, 1, 140006}, Case{4, 4, 1, 1, 4, 4, 1, 2, 140005}}) {
    Status s = kStatusGood;
    GS_2DCONTLINES(c.xmax, c.ymax, data, axis, axis, c.xs, c.ys, c.xe, c.ye, c.maxlevels, levels,
                   c.numlevels, s);
    EXPECT_EQ(s, c.expected);
  }
}

TEST_F(ContourTest, PlotOfARampHasTenLevelsAtBinCentresGridOverLines) {
  // Values 0..10 along X: each level is a vertical line at its value.
  constexpr int nx = 11, ny = 4;
  std::vector<float> data(nx * ny);
  for (int y = 0; y < ny; ++y)
    for (int x = 0; x < nx; ++x) data[static_cast<std::size_t>(x + y * nx)] = static_cast<float>(x);
  const std::vector<float> xaxis = centres(nx);
  const std::vector<float> yaxis = centres(ny);
  Status s = kStatusGood;
  GS_SET_GRID(true, true, false, false, s);
  GS_2DCONTOUR(nx, ny, data, xaxis, yaxis, 1, 1, nx, ny, "RAMP", "X", "Y", "Z", s);
  ASSERT_EQ(s, kStatusGood);
  const GsRect& page = gs_state.dgpp;
  const GsRect& world = gs_state.idr;
  std::set<long> at;
  std::size_t first_contour = items.size(), last_contour = 0;
  for (std::size_t k = 0; k < items.size(); ++k) {
    const PageItem& item = items[k];
    if (item.kind != "polyline" || item.x.size() != 2 || item.line_width != 1.0f) continue;
    if (item.x[0] != item.x[1] || item.x[0] <= page.xmin + 1e-4f || item.x[0] >= page.xmax - 1e-4f)
      continue;
    const float wx =
        world.xmin + (item.x[0] - page.xmin) / (page.xmax - page.xmin) * (world.xmax - world.xmin);
    // Value v lies at axis position v + 0.5.
    const float value = wx - 0.5f;
    if (std::abs(value * 2 - std::round(value * 2)) < 1e-3f &&
        std::fmod(std::round(value * 2), 2.0f) != 0) {
      at.insert(std::lround(value * 2));
      first_contour = std::min(first_contour, k);
      last_contour = std::max(last_contour, k);
    }
  }
  EXPECT_EQ(at, (std::set<long>{1, 3, 5, 7, 9, 11, 13, 15, 17, 19}));
  EXPECT_NE(text("RAMP"), nullptr);
  EXPECT_EQ(text("Z"), nullptr);
  EXPECT_EQ(s, kStatusGood);
}

// Levels come from the finite values; pixels that are infinite, or finite
// but near the float limit, neither hide the contours nor throw segments out
// of the frame.
TEST_F(ContourTest, PlotOfExtremeValuesStaysInsideItsFrame) {
  constexpr int nx = 11, ny = 4;
  const std::vector<float> xaxis = centres(nx);
  const std::vector<float> yaxis = centres(ny);
  auto ramp = [&](double from, double step) {
    std::vector<float> data(nx * ny);
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x)
        data[static_cast<std::size_t>(x + y * nx)] = static_cast<float>(from + x * step);
    return data;
  };
  struct Case {
    const char* name;
    std::vector<float> data;
    bool contours;
  };
  std::vector<Case> cases = {{"+Inf", ramp(0, 1), true},
                             {"3.4e38", ramp(0, 1), true},
                             {"-3e38..3e38", ramp(-3e38, 6e37), true},
                             {"NaN", std::vector<float>(nx * ny, NAN), false}};
  cases[0].data[5 + nx] = INFINITY;
  cases[1].data[5 + nx] = 3.4e38f;
  for (const Case& c : cases) {
    items.clear();
    testing::TerminalCapture terminal;
    Status s = kStatusGood;
    GS_2DCONTOUR(nx, ny, c.data, xaxis, yaxis, 1, 1, nx, ny, "T", "X", "Y", "Z", s);
    ASSERT_EQ(s, kStatusGood) << c.name;
    const GsRect& f = gs_state.dgpp;
    auto inside = [&f](float x, float y, float margin) {
      return x > f.xmin + margin && x < f.xmax - margin && y > f.ymin + margin &&
             y < f.ymax - margin;
    };
    int contour_segments = 0;
    for (const PageItem* line : of("polyline")) {
      if (line->x.size() != 2) continue;
      const bool a = inside(line->x[0], line->y[0], 1e-4f);
      const bool b = inside(line->x[1], line->y[1], 1e-4f);
      // A segment that starts inside the frame ends inside it.
      if (a || b) {
        EXPECT_TRUE(inside(line->x[0], line->y[0], -1e-4f) && inside(line->x[1], line->y[1], -1e-4f))
            << c.name;
      }
      if (a && b) ++contour_segments;
    }
    EXPECT_EQ(contour_segments > 0, c.contours) << c.name;
    EXPECT_EQ(terminal.text().empty(), c.contours) << c.name << terminal.text();
    // Without a finite pixel the line is all: no frame of levels that none
    // of the data has.
    if (!c.contours) {
      EXPECT_EQ(terminal.text(), "WARNING: No finite data value in the region to contour\n");
      EXPECT_TRUE(items.empty()) << c.name;
    }
  }
  // Bad pixels on the odd rows of the odd columns: every cell has one at a
  // corner, so no level crosses any; said in one line, and no empty frame.
  std::vector<float> holes = ramp(0, 1);
  for (int y = 0; y < ny; y += 2)
    for (int x = 0; x < nx; x += 2) holes[static_cast<std::size_t>(x + y * nx)] = NAN;
  items.clear();
  testing::TerminalCapture terminal;
  Status s = kStatusGood;
  GS_2DCONTOUR(nx, ny, holes, xaxis, yaxis, 1, 1, nx, ny, "T", "X", "Y", "Z", s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(terminal.text(), "WARNING: Nothing can be drawn: no cell of the region has finite "
                             "values at its four corners\n");
}

struct Primitives3dTest : PageFixture {
  void SetUp() override {
    PageFixture::SetUp();
    Status s = kStatusGood;
    QG_DATAWINDOW(-20, -20, 20, 20, s);
    QG_VIEWPORT(0, 0, 1, 1, s);
    items.clear();
  }
  static float world(float page) { return page * 40.0f - 20.0f; }
};

TEST_F(Primitives3dTest, DefaultViewProjectsOntoXAndZ) {
  const Gs3dView view;
  for (const auto& p : {std::array<float, 3>{3.0f, 0.0f, 0.0f}, {-7.5f, 0.0f, 2.0f}}) {
    float u = 0, v = 0;
    gs_3d_project(view, p[0], p[1], p[2], u, v);
    EXPECT_FLOAT_EQ(u, p[0]);
    EXPECT_FLOAT_EQ(v, p[2]);
  }
  // Farther points shrink towards the centre.
  float u = 0, v = 0;
  gs_3d_project(view, 10.0f, 10000.0f, 0.0f, u, v);
  EXPECT_FLOAT_EQ(u, 5.0f);
}

// Seen steeply, from above or below, a height tick points along the axis on
// the page: each number stands beside its own tick, nearer it than any other.
TEST_F(Primitives3dTest, SteepViewsNumberHeightsBesideTheirTicks) {
  Status s = kStatusGood;
  GS_SET_HAXESSTYLE(1, 1.0f, kGsBlack, 0.02f, 0.01f, 1, s);
  constexpr float kDegree = 0.017453292f;
  for (const float elevation : {76.0f, -69.0f}) {
    GS_SET_3DVIEW(0.0f, 0.0f, -5.0f, 225.0f * kDegree, elevation * kDegree, 600.0f, -20.0f,
                  -20.0f, 20.0f, 20.0f, 1.0f, s);
    items.clear();
    // A Z axis at (-5, 5), numbered 0 to 10, its ticks pointing along -X.
    GS_3LINAXIS(3, 0.0f, 10.0f, 0.0f, 10.0f, -5.0f, 5.0f, -1.0f, 0.0f, 0.0f, true, 3, 3, s);
    ASSERT_EQ(s, kStatusGood);
    const auto tick = [](float z) {
      std::array<float, 2> p{};
      gs_3d_project(gs_state.view3d, -5.0f, 5.0f, z, p[0], p[1]);
      return p;
    };
    int numbers = 0;
    for (const PageItem* t : of("text")) {
      if (t->text.empty() || t->text[0] == '*') continue;
      ++numbers;
      const float u = world(t->x[0]), v = world(t->y[0]);
      const auto own = tick(std::stof(t->text));
      const float distance = std::hypot(u - own[0], v - own[1]);
      for (int k = 0; k <= 10; ++k) {
        const auto other = tick(static_cast<float>(k));
        if (static_cast<float>(k) != std::stof(t->text)) {
          EXPECT_LT(distance, std::hypot(u - other[0], v - other[1]))
              << t->text << " nearer " << k << ", elevation " << elevation;
        }
      }
    }
    EXPECT_GE(numbers, 2) << elevation;
  }
}

TEST_F(Primitives3dTest, PointCounts) {
  const std::vector<float> p(201, 1.0f);
  struct Case {
    int n;
    bool fill;
    Status expected;
  };
  for (const Case& c :
       {Case{201, false, 140009}, Case{1, false, 140017}, Case{200, false, kStatusGood},
        Case{21, true, 140009}, Case{1, true, 140017}}) {
    Status s = kStatusGood;
    if (c.fill)
      GS_3FILLAREA(c.n, p, p, p, s);
    else
      GS_3POLYLINE(c.n, p, p, p, s);
    EXPECT_EQ(s, c.expected) << c.n;
  }
}

TEST_F(Primitives3dTest, AxisTicksAndNumbers) {
  Status s = kStatusGood;
  GS_SET_HAXESSTYLE(1, 1.0f, kGsBlack, 0.02f, 0.01f, 1, s);
  // X from 0 to 10 numbered 0 to 100, ticks pointing down.
  GS_3LINAXIS(1, 0.0f, 10.0f, 0.0f, 100.0f, 0.0f, 0.0f, 0.0f, 0.0f, -1.0f, true, 2, 1, s);
  ASSERT_EQ(s, kStatusGood);
  std::vector<float> large, small;
  for (const PageItem* line : of("polyline")) {
    if (line->x[0] != line->x[1]) continue;
    const float length = std::abs(line->y[1] - line->y[0]);
    (length > 0.015f ? large : small).push_back(std::round(world(line->x[0]) * 10) / 10);
  }
  EXPECT_EQ(large, (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(small.size(), 10u);
  ASSERT_NE(text("50"), nullptr);
  EXPECT_NEAR(world(text("50")->x[0]), 5.0f, 1e-4f);
  EXPECT_LT(world(text("50")->y[0]), 0.0f);
  // The page ends at 0.707 (world 8.3): numbers whose places lie beyond it
  // are left out, and none is moved onto another number's place.
  for (const PageItem* t : of("text"))
    EXPECT_NEAR(world(t->x[0]), std::stof(t->text) / 10.0f, 1e-3f) << t->text;
  EXPECT_EQ(text("100"), nullptr);

  // Numbers of 20000 and more share a power of ten.
  items.clear();
  GS_3LINAXIS(3, 0.0f, 10.0f, 0.0f, 50000.0f, 0.0f, 0.0f, -1.0f, 0.0f, 0.0f, true, 3, 3, s);
  EXPECT_NE(text("5.0"), nullptr);
  EXPECT_NE(text("*10E4"), nullptr);

  struct Case {
    int axis, nsmall;
    float start, end, large, dx;
    Status expected;
  };
  for (const Case& c : {Case{1, 1, 5, 5, 1, 1, 140013}, Case{4, 1, 0, 1, 1, 1, 140017},
                        Case{1, 101, 0, 1, 1, 1, 140017}, Case{1, 1, 0, 1, 0, 1, 140021},
                        Case{1, 1, 0, 1, 1, 0, 149999}}) {
    Status t = kStatusGood;
    GS_3LINTICKS(c.axis, c.start, c.end, 0, 0, 0, 1, 2, c.nsmall, c.dx, 0, 0, c.large, 0.5f, t);
    EXPECT_EQ(t, c.expected);
  }
}

}  // namespace
}  // namespace kesta
