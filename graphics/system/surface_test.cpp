// The 3-D surface view: its raster checked against a depth-buffer rendering
// made here, block averaging, bands, axes and degenerate data, a copy.

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "core/test_support.hpp"
#include "graphics/device/device_test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/views3d.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

using testing::PageFixture;
using testing::PageItem;
using testing::PageRecorder;

constexpr float kPi = 3.1415925f;

// A recorder that keeps the raster sent at the end of raster mode, or
// refuses a raster so that everything is drawn directly.
class RasterRecorder : public PageRecorder {
 public:
  RasterRecorder(std::vector<PageItem>* items, int cells) : PageRecorder(items), cells_(cells) {}
  void raster_geometry(float, float, RasterGeometry& g) override {
    g = {0, cells_, cells_, cells_};
  }
  int raster_image(const RasterImage& image, Status&) override {
    bytes.assign(image.bytes.begin(), image.bytes.end());
    return 0;
  }
  std::vector<std::uint8_t> bytes;

 private:
  int cells_;
};

struct SurfaceTest : PageFixture {
  RasterRecorder* recorder = nullptr;
  testing::TerminalCapture quiet;
  void use_raster(int cells) {
    auto driver = std::make_unique<RasterRecorder>(&items, cells);
    recorder = driver.get();
    const QgDbTransform& t = qg_db_transform;
    Status s = kStatusGood;
    driver->transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
    qg_db_system.driver[0] = std::move(driver);
  }
  // Whether the text T stands on a plate, the fill drawn just before it:
  // every height number does (an X or Y number only where it was moved
  // inside the frame), whichever way it is justified.
  bool plated(const PageItem* t) const {
    const auto k = static_cast<std::size_t>(t - items.data());
    return k > 0 && k < items.size() && items[k - 1].kind == "fill_area";
  }
  // The texts of the height axis: its numbers, with its power of ten and
  // heading left out.
  std::vector<const PageItem*> height_numbers() const {
    std::vector<const PageItem*> out;
    for (const PageItem* t : of("text"))
      if (plated(t) && !t->text.empty() && t->text.rfind("*10E", 0) != 0 &&
          t->text != "log10(Z)")
        out.push_back(t);
    return out;
  }
  // Data NX x NY with axes at the pixel centres.
  std::vector<float> xaxis, yaxis, data;
  void make(Index nx, Index ny, float (*value)(float, float)) {
    xaxis.resize(static_cast<std::size_t>(nx));
    yaxis.resize(static_cast<std::size_t>(ny));
    data.resize(static_cast<std::size_t>(nx * ny));
    for (Index i = 0; i < nx; ++i) xaxis[i] = static_cast<float>(i) + 0.5f;
    for (Index j = 0; j < ny; ++j) yaxis[j] = static_cast<float>(j) + 0.5f;
    for (Index j = 0; j < ny; ++j)
      for (Index i = 0; i < nx; ++i) data[i + j * nx] = value(xaxis[i], yaxis[j]);
  }
  void view(float azimuth_degrees, float elevation, float window) {
    Status s = kStatusGood;
    const float cx = -0.5f * (xaxis.front() + xaxis.back());
    const float cy = -0.5f * (yaxis.front() + yaxis.back());
    GS_SET_3DVIEW(cx, cy, 0, -azimuth_degrees * kPi / 180.0f, elevation, 100.0f, -window, -window,
                  window, window, 1.0f, s);
    GS_SET_GPP(0.0f, 0.0f, 0.7f, 0.7f, s);
    ASSERT_EQ(s, kStatusGood);
  }
};

float two_peaks(float x, float y) {
  auto peak = [](float dx, float dy, float w) { return std::exp(-(dx * dx + dy * dy) / w); };
  return 9.0f * peak(x - 7.0f, y - 8.0f, 12.0f) + 6.0f * peak(x - 16.0f, y - 14.0f, 20.0f);
}
float flat(float, float) { return 3.0f; }
float decades(float x, float) { return x < 2.0f ? 0.0f : 1000.0f; }

TEST_F(SurfaceTest, BlockAveragingToThePixelLimit) {
  use_raster(0);  // no raster: every cell reaches the recorder as a fill
  make(1000, 300, flat);
  view(30.0f, 0.5f, 800.0f);
  Status s = kStatusGood;
  GS_SET_3DSTYLE(false, 5, 1.0f, true, false, 1, s);
  GS_SET_PIXELLIMITS(600, 200, s);
  items.clear();
  GS_3DSURFACE(1000, 300, data, xaxis, yaxis, 1, 1, 1000, 300, "T", "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(of("fill_area").size(), 1u + 199u * 59u);  // the background and the cells

  // A block's height is the mean of its finite pixels: scattered bad pixels
  // (one in each of 400 blocks) leave no hole; a block without a finite
  // pixel leaves out the four cells that touch it.
  for (Index k = 0; k < 400; ++k) data[element(3 + 5 * (k % 200), 2 + 5 * (k / 200), 1000)] = NAN;
  data[element(501, 151, 1000)] = INFINITY;
  items.clear();
  GS_3DSURFACE(1000, 300, data, xaxis, yaxis, 1, 1, 1000, 300, "T", "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(of("fill_area").size(), 1u + 199u * 59u);
  for (Index y = 146; y <= 150; ++y)
    for (Index x = 496; x <= 500; ++x) data[element(x, y, 1000)] = NAN;
  items.clear();
  GS_3DSURFACE(1000, 300, data, xaxis, yaxis, 1, 1, 1000, 300, "T", "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_EQ(of("fill_area").size(), 1u + 199u * 59u - 4u);
}

TEST_F(SurfaceTest, PaintingOrderMatchesADepthBuffer) {
  constexpr int kCells = 240;
  use_raster(kCells);
  make(24, 24, two_peaks);
  Status s = kStatusGood;
  GS_SET_3DSTYLE(false, 5, 1.0f, true, true, 1, s);
  // Eight colour levels: bands wide enough to compare inside.
  int first = 0, last = 0;
  QG_INQ_IMAGERANGE(first, last, s);
  last = first + 7;
  QG_SET_IMAGERANGE(first, last, s);
  float hmin = 0.0f, hmax = 0.0f;
  for (float v : data) hmin = std::min(hmin, v), hmax = std::max(hmax, v);
  hmin = *std::min_element(data.begin(), data.end());
  const float lpu = static_cast<float>(last - first + 1) / (hmax - hmin);

  for (const float az : {20.0f, 65.0f, 110.0f, 155.0f, 200.0f, 245.0f, 290.0f, 335.0f}) {
    view(az, 0.6f, 16.0f);
    recorder->bytes.clear();
    GS_3DSURFACE(24, 24, data, xaxis, yaxis, 1, 1, 24, 24, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    ASSERT_EQ(recorder->bytes.size(), static_cast<std::size_t>(kCells * kCells));
    ASSERT_FALSE(qg_db_rastermode.raster_mode);

    // The depth buffer: nearest triangle and its colour level per cell.
    const Gs3dView& v = gs_state.view3d;
    // World to raster cells: the 3-D window onto the graph page position.
    const float n = static_cast<float>(kCells);
    const float scale = 0.7f * n / 32.0f;
    const float offset = 16.0f * scale;
    std::vector<float> depth(kCells * kCells, std::numeric_limits<float>::infinity());
    std::vector<int> colour(kCells * kCells, -1), owner(kCells * kCells, -1);
    auto level = [&](float h) {
      return std::clamp(static_cast<int>(std::trunc((h - hmin) * lpu + first)), first, last);
    };
    auto vertex = [&](float x, float y, float z, float& px, float& py, float& d) {
      float u = 0, w = 0;
      gs_3d_project(v, x, y, z, u, w);
      px = u * scale + offset;
      py = w * scale + offset;
      d = (x + v.x_offset) * v.s1c2 + (y + v.y_offset) * v.c1c2 - (z + v.z_offset) * v.s2;
    };
    for (int iy = 0; iy + 1 < 24; ++iy)
      for (int ix = 0; ix + 1 < 24; ++ix) {
        const float cx[4] = {xaxis[ix], xaxis[ix + 1], xaxis[ix + 1], xaxis[ix]};
        const float cy[4] = {yaxis[iy], yaxis[iy], yaxis[iy + 1], yaxis[iy + 1]};
        const float cz[4] = {data[ix + iy * 24], data[ix + 1 + iy * 24],
                             data[ix + 1 + (iy + 1) * 24], data[ix + (iy + 1) * 24]};
        const float mx = 0.5f * (cx[0] + cx[1]), my = 0.5f * (cy[0] + cy[2]);
        const float mz = 0.25f * (cz[0] + cz[1] + cz[2] + cz[3]);
        for (int t = 0; t < 4; ++t) {
          const int a = t, b = (t + 1) % 4;
          float px[3], py[3], pd[3];
          const float hz[3] = {cz[a], cz[b], mz};
          vertex(cx[a], cy[a], cz[a], px[0], py[0], pd[0]);
          vertex(cx[b], cy[b], cz[b], px[1], py[1], pd[1]);
          vertex(mx, my, mz, px[2], py[2], pd[2]);
          const float area = (px[1] - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (py[1] - py[0]);
          if (std::abs(area) < 1e-6f) continue;
          const int i1 = std::max(1, static_cast<int>(std::min({px[0], px[1], px[2]})));
          const int i2 = std::min(kCells, static_cast<int>(std::max({px[0], px[1], px[2]})) + 1);
          const int j1 = std::max(1, static_cast<int>(std::min({py[0], py[1], py[2]})));
          const int j2 = std::min(kCells, static_cast<int>(std::max({py[0], py[1], py[2]})) + 1);
          for (int j = j1; j <= j2; ++j)
            for (int i = i1; i <= i2; ++i) {
              const float qx = static_cast<float>(i) - 0.5f, qy = static_cast<float>(j) - 0.5f;
              const float w0 = ((px[1] - qx) * (py[2] - qy) - (px[2] - qx) * (py[1] - qy)) / area;
              const float w1 = ((px[2] - qx) * (py[0] - qy) - (px[0] - qx) * (py[2] - qy)) / area;
              const float w2 = 1.0f - w0 - w1;
              if (w0 < 0 || w1 < 0 || w2 < 0) continue;
              const float d = w0 * pd[0] + w1 * pd[1] + w2 * pd[2];
              const std::size_t k = static_cast<std::size_t>((i - 1) + (j - 1) * kCells);
              if (d < depth[k]) {
                depth[k] = d;
                owner[k] = ix + iy * 24;
                colour[k] = level(w0 * hz[0] + w1 * hz[1] + w2 * hz[2]);
              }
            }
        }
      }
    // Every pixel whose neighbours show the same cell in the same colour.
    int checked = 0, wrong = 0;
    for (int j = 2; j < kCells; ++j)
      for (int i = 2; i < kCells; ++i) {
        const std::size_t k = static_cast<std::size_t>((i - 1) + (j - 1) * kCells);
        if (owner[k] < 0) continue;
        bool stable = true;
        for (const std::ptrdiff_t n :
             {-1, 1, -kCells, kCells, -kCells - 1, -kCells + 1, kCells - 1, kCells + 1})
          stable = stable && owner[k + n] == owner[k] && colour[k + n] == colour[k];
        if (!stable) continue;
        ++checked;
        if (recorder->bytes[k] != colour[k]) ++wrong;
      }
    EXPECT_GT(checked, 1000) << az;
    EXPECT_EQ(wrong, 0) << az << " of " << checked;
  }
}

TEST_F(SurfaceTest, BandsAndTheirPolygons) {
  use_raster(0);
  Status s = kStatusGood;
  QG_DATAWINDOW(-10, -10, 10, 10, s);
  QG_VIEWPORT(0, 0, 0.5f, 0.5f, s);
  items.clear();
  // Default view, Y = 0: a point projects to (x, z).
  const float x[3] = {0.0f, 2.0f, 4.0f}, y[3] = {0, 0, 0}, z[3] = {0.0f, 1.0f, 2.0f};
  GS_3DSUB1(x, y, z, 0.5f, 1.5f, s);
  ASSERT_EQ(of("fill_area").size(), 1u);
  const PageItem& pentagon = *of("fill_area")[0];
  ASSERT_EQ(pentagon.x.size(), 5u);
  // Crossings at heights 0.5 and 1.5 in boundary order around the inside vertex.
  const std::vector<float> expected = {0.5f, 1.0f, 1.5f, 1.5f, 0.5f};
  for (std::size_t k = 0; k < 5; ++k)
    EXPECT_NEAR(pentagon.y[k] * 40.0f - 10.0f, expected[k], 1e-4f) << k;

  // A cell whose corners span levels 10 to 12: three bands of four triangles.
  items.clear();
  const std::vector<float> heights = {10.2f, 12.8f, 12.8f, 10.2f};
  const std::vector<float> cells = {0.0f, 1.0f};
  GS_3DSUB(1.0f, 2, 2, heights, cells, cells, 1, 1, false, true, true, 1.0f, 0, 100, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(of("fill_area").size(), 12u);
  EXPECT_EQ(qg_db_brastermode.fill_byte, 12);
}

TEST_F(SurfaceTest, ScalingAxesAndDegenerateData) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  // Logarithmic heights of 0..1000 run from -3 to 3 on the Z axis.
  make(6, 5, decades);
  view(30.0f, 0.5f, 20.0f);
  QG_SET_LOGZSCALING(true, s);
  items.clear();
  GS_3DSURFACE(6, 5, data, xaxis, yaxis, 1, 1, 6, 5, "LOG", "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_NE(text("-3"), nullptr);
  EXPECT_NE(text("3"), nullptr);
  EXPECT_NE(text("LOG"), nullptr);
  // Data all at or below zero: refused, and drawing reaches the devices again.
  std::fill(data.begin(), data.end(), -1.0f);
  GS_3DSURFACE(6, 5, data, xaxis, yaxis, 1, 1, 6, 5, "", "", "", "", s);
  EXPECT_EQ(s, 141004);
  EXPECT_FALSE(qg_db_rastermode.raster_mode);
  s = kStatusGood;
  QG_SET_LOGZSCALING(false, s);

  struct Case {
    float azimuth, z_scale;
    float (*value)(float, float);
    Index ny;
  };
  // Flat data with walls, a whole turn, a Z scale of 0 or not finite, a
  // region narrower than one block: each draws its box and title.
  for (const Case& c :
       {Case{30, 1, flat, 5}, Case{360 + 30, 1, two_peaks, 5}, Case{-330, 0, two_peaks, 5},
        Case{30, NAN, two_peaks, 5}, Case{30, 1, two_peaks, 2}}) {
    make(600, c.ny, c.value);
    view(c.azimuth, 0.5f, 400.0f);
    Gs3dView v = gs_state.view3d;
    GS_SET_3DVIEW(v.x_offset, v.y_offset, 0, v.longitude, v.latitude, v.distance, v.window.xmin,
                  v.window.ymin, v.window.xmax, v.window.ymax, c.z_scale, s);
    items.clear();
    recorder->bytes.clear();
    GS_3DSURFACE(600, c.ny, data, xaxis, yaxis, 1, 1, 600, c.ny, "BOX", "", "", "", s);
    EXPECT_EQ(s, kStatusGood) << c.azimuth << " " << c.z_scale;
    EXPECT_NE(text("BOX"), nullptr) << c.azimuth;
    EXPECT_FALSE(of("polyline").empty()) << c.azimuth;
    s = kStatusGood;
  }
}

// Heights from the float limit's negative to it, or held near it, with the
// height scale the viewer gives them: the view is drawn, its Z numbers take
// their power of ten and every text and line is on the page.
TEST_F(SurfaceTest, HeightsNearTheFloatLimit) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  constexpr float kMax = std::numeric_limits<float>::max();
  for (const bool held : {false, true}) {
    SCOPED_TRACE(held);
    if (held)
      make(6, 5, [](float, float) { return 3.2e38f; });
    else
      make(6, 5, [](float x, float) { return (x - 3.0f) / 2.5f * kMax; });
    view(30.0f, 0.5f, 5.0f);
    const double range = held ? 0.0 : 2.0 * double{kMax};
    const auto z_scale = static_cast<float>(range > 0.0 ? 2.5 / range : 2.5);
    Gs3dView v = gs_state.view3d;
    GS_SET_3DVIEW(v.x_offset, v.y_offset, 0, v.longitude, v.latitude, v.distance, v.window.xmin,
                  v.window.ymin, v.window.xmax, v.window.ymax, z_scale, s);
    items.clear();
    GS_3DSURFACE(6, 5, data, xaxis, yaxis, 1, 1, 6, 5, "HIGH", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_NE(text("HIGH"), nullptr);
    for (const PageItem* t : texts_off_page()) ADD_FAILURE() << t->text << " at " << t->x[0];
    EXPECT_LT(of("text").size(), 60u);
    if (!held) {
      EXPECT_NE(text("*10E38"), nullptr);
    }
    for (const PageItem* line : of("polyline"))
      for (std::size_t k = 0; k < line->x.size(); ++k)
        ASSERT_TRUE(std::isfinite(line->x[k]) && std::isfinite(line->y[k]));
  }
}

float ramp(float x, float y) { return 8.0f + x + 2.0f * y; }
float sawtooth(float x, float y) { return std::fmod(x - 0.5f + 6.0f * (y - 0.5f), 7.0f); }

// A box turned and zoomed so that its corners pass the page's edges: every
// number of the axes stays on the page (at most 0.6 of its height wide a
// character), no two of one axis overlap, and logarithmic heights say so
// over their axis.
TEST_F(SurfaceTest, AxisNumbersStayOnThePageApartAndSayWhenLogarithmic) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  for (const bool log : {false, true}) {
    SCOPED_TRACE(log);
    QG_SET_LOGZSCALING(log, s);
    make(6, 5, ramp);
    for (const float window : {1.6f, 2.4f, 3.5f}) {
      view(30.0f, 0.5f, window);
      items.clear();
      GS_3DSURFACE(6, 5, data, xaxis, yaxis, 1, 1, 6, 5, "", "", "", "", s);
      ASSERT_EQ(s, kStatusGood);
      float page_width = 1.0f, page_height = 1.0f;
      QG_INQ_MAXPC(1, page_width, page_height, s);
      std::vector<const PageItem*> numbers;
      for (const PageItem* t : of("text")) {
        if (t->text.empty()) continue;
        const float width = 0.6f * static_cast<float>(t->text.size()) * t->height;
        const float left = t->horizontal == 3   ? t->x[0] - width
                           : t->horizontal == 2 ? t->x[0] - 0.5f * width
                                                : t->x[0];
        EXPECT_GE(left, -1e-4f) << t->text << " at " << t->x[0] << ", window " << window;
        EXPECT_LE(left + width, page_width + 1e-4f) << t->text << ", window " << window;
        if (plated(t) && t->text != "log10(Z)") numbers.push_back(t);
      }
      ASSERT_GE(numbers.size(), 2u) << window;
      for (std::size_t a = 0; a < numbers.size(); ++a)
        for (std::size_t b = a + 1; b < numbers.size(); ++b)
          EXPECT_GE(std::fabs(numbers[a]->y[0] - numbers[b]->y[0]), numbers[a]->height - 1e-5f)
              << numbers[a]->text << " and " << numbers[b]->text << ", window " << window;
      EXPECT_EQ(text("log10(Z)") != nullptr, log) << window;
    }
  }
  QG_SET_LOGZSCALING(false, s);
}

// A height field of 1 to 30001: its Z numbers take a common power of ten.
float tall_ramp(float x, float y) { return 1.0f + std::round(30000.0f * (x + y - 1.0f) / 188.0f); }

// The view the interactive viewer sets for the 127 x 63 tall ramp after
// ZOOMS presses of +ZOOM and TURNS of +ROT.
void viewer_view(int zooms, int turns) {
  Status s = kStatusGood;
  const float d = 63.0f / std::pow(1.2f, static_cast<float>(zooms));
  GS_SET_3DVIEW(-63.5f, -31.5f, 0.0f, 0.5236f + 0.1745329f * static_cast<float>(turns), 1.047197f,
                30.0f * d, -d, -d, d, d, 63.0f / 30000.0f, s);
}

// The viewer zoomed in and turned about: every text of the view (numbers,
// their power of ten, the title) lies on the page up and down as well as
// across, and the power of ten stays among them.
TEST_F(SurfaceTest, ZoomedAndTurnedViewsKeepEveryTextOnThePage) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  make(127, 63, tall_ramp);
  float page_width = 1.0f, page_height = 1.0f;
  QG_INQ_MAXPC(1, page_width, page_height, s);
  for (const int zooms : {0, 3, 6}) {
    for (int turns = 0; turns < 36; turns += 3) {
      viewer_view(zooms, turns);
      items.clear();
      GS_3DSURFACE(127, 63, data, xaxis, yaxis, 1, 1, 127, 63, "TITLE", "", "", "", s);
      ASSERT_EQ(s, kStatusGood);
      for (const PageItem* t : of("text")) {
        const float width = 0.6f * static_cast<float>(t->text.size()) * t->height;
        const float left = t->horizontal == 3   ? t->x[0] - width
                           : t->horizontal == 2 ? t->x[0] - 0.5f * width
                                                : t->x[0];
        const float bottom = t->vertical == 3   ? t->y[0] - 0.5f * t->height
                             : t->vertical == 1 ? t->y[0] - t->height
                                                : t->y[0];
        const std::string where = t->text + ", zooms " + std::to_string(zooms) + ", turns " +
                                  std::to_string(turns);
        EXPECT_GE(left, -1e-4f) << where;
        EXPECT_LE(left + width, page_width + 1e-4f) << where;
        EXPECT_GE(bottom, -1e-4f) << where;
        EXPECT_LE(bottom + t->height, page_height + 1e-4f) << where;
      }
      EXPECT_NE(text("*10E4"), nullptr) << zooms << " " << turns;
    }
  }
}

// The same view printed: the texts Ghostscript draws lie inside the
// BoundingBox the file declares (lines of a box zoomed past the page's edge
// are left out of the measure; a viewer crops them with the paper).
TEST_F(SurfaceTest, PrintedZoomedViewKeepsItsTextsInsideTheBoundingBox) {
  testing::TempDir dir;
  make(127, 63, tall_ramp);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  for (const int turns : {3, 12, 21, 30}) {
    viewer_view(3, turns);
    const std::string path = dir.file("zoomed" + std::to_string(turns) + ".ps");
    GS_OPEN_PS(path, s);
    QG_DEACTIVATE_WK(1, s);
    QG_ACTIVATE_WK(2, s);
    GS_3DSURFACE(127, 63, data, xaxis, yaxis, 1, 1, 127, 63, "TITLE", "", "", "", s);
    GS_CLOSE_PS(s);
    QG_ACTIVATE_WK(1, s);
    ASSERT_EQ(s, kStatusGood);
    const std::string log = path + ".bbox";
    // Only text is measured: strokes, fills and images paint nothing.
    const std::string command =
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox -c \"/stroke {newpath} def "
        "/fill {newpath} def /realcolorimage /colorimage load def "
        "/colorimage {gsave nulldevice realcolorimage grestore} def\" -f \"" +
        path + "\" 2> \"" + log + "\" > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int measured[4] = {-1, -1, -1, -1};
    for (const std::string& line : testing::read_lines(log))
      if (line.rfind("%%BoundingBox:", 0) == 0)
        std::istringstream(line.substr(14)) >> measured[0] >> measured[1] >> measured[2] >>
            measured[3];
    const std::vector<std::string> lines = testing::read_lines(path);
    ASSERT_GE(lines.size(), 2u);
    int declared[4] = {};
    std::istringstream(lines[1].substr(14)) >> declared[0] >> declared[1] >> declared[2] >>
        declared[3];
    ASSERT_GT(measured[3], measured[1]) << "texts were measured";
    EXPECT_LE(declared[0], measured[0]) << turns;
    EXPECT_LE(declared[1], measured[1]) << turns;
    EXPECT_GE(declared[2], measured[2]) << turns;
    EXPECT_GE(declared[3], measured[3]) << turns;
    EXPECT_NE(testing::read_file(path).find("(*10E4)"), std::string::npos) << turns;
  }
}

// A Gaussian of 7.5E+6 over 200 x 90 pixels (sigmas 30 and 15).
float small_gaussian(float x, float y) {
  const float u = (x - 26.0f) / 9.6f, v = (y - 29.0f) / 7.2f;
  return 10.0f + 1000.0f * std::exp(-0.5f * (u * u + v * v));
}
float tall_gaussian(float x, float y) {
  const float u = (x - 100.0f) / 30.0f, v = (y - 45.0f) / 15.0f;
  return 7.5e6f * std::exp(-0.5f * (u * u + v * v));
}
// Over 180 x 120 pixels: a Gaussian of 3.1E+7 at (60, 50), turned by 15
// degrees, sigmas 20 and 9, and a small one of 2.2E+3 at (140, 80).
float two_gaussians(float x, float y) {
  const auto peak = [&](float xc, float yc, float height, float degrees, float s1, float s2) {
    const float a = degrees * kPi / 180.0f, dx = x - xc, dy = y - yc;
    const float u = (dx * std::cos(a) + dy * std::sin(a)) / s1;
    const float v = (dy * std::cos(a) - dx * std::sin(a)) / s2;
    return height * std::exp(-0.5f * (u * u + v * v));
  };
  return peak(60, 50, 3.1e7f, 15, 20, 9) + peak(140, 80, 2.2e3f, 0, 5, 5);
}
// A Gaussian of 7E+6 over 128 x 128 pixels (sigma 20).
float round_gaussian(float x, float y) {
  const float u = (x - 64.0f) / 20.0f, v = (y - 64.0f) / 20.0f;
  return 7.0e6f * std::exp(-0.5f * (u * u + v * v));
}

// The views of the viewer printed with numbered walls, zoomed and turned
// (the box far past the page), turned under, steepened and logarithmic,
// and in its first view of a square region (the back wall's corner at the
// top edge): every mark (lines, ticks, numbers, the surface) lies inside
// the BoundingBox the file declares, at least two Z numbers are printed,
// and the band of the title holds nothing of the surface or its walls.
TEST_F(SurfaceTest, PrintedViewsKeepEveryMarkInsideTheFrameBelowTheTitle) {
  testing::TempDir dir;
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  GS_SET_GPP(0.08f, 0.3529f, 0.6271f, 0.92f, s);  // the program's portrait page
  struct Case {
    const char* name;
    Index nx, ny;
    float (*value)(float, float);
    int zooms, turns, lowered, steeper;
    bool log;
    int lefts = 0;  // presses of LEFT after the zooms
  };
  for (const Case c : {Case{"zoomed", 200, 90, tall_gaussian, 4, 5, 0, 0, false},
                       Case{"zoomed under", 200, 90, tall_gaussian, 4, 5, 3, 3, true},
                       Case{"first view", 128, 128, round_gaussian, 0, 0, 0, 0, false},
                       // the Z axis's own ticks but one off the page
                       Case{"zoomed moved", 180, 120, two_gaussians, 6, 3, 0, 0, false, 4},
                       Case{"zoomed moved log", 180, 120, two_gaussians, 6, 3, 0, 0, true, 4}}) {
    SCOPED_TRACE(c.name);
    make(c.nx, c.ny, c.value);
    float low = 0.0f, high = 0.0f;
    MA_RMINMAX(c.nx, c.ny, data, 1, 1, c.nx, c.ny, low, high, s);
    QG_SET_LOGZSCALING(c.log, s);
    if (c.log) gs_3d_log_heights(low, high, low, high);
    // As the viewer sets it: the window fits the wider side, the heights
    // as tall as it, then the presses of the buttons.
    const float half = 0.5f * (xaxis.back() - xaxis.front());
    const float d = half / std::pow(1.2f, static_cast<float>(c.zooms));
    const float z_scale = half / (high - low) * std::pow(1.414214f, static_cast<float>(c.steeper));
    GS_SET_3DVIEW(-0.5f * (xaxis.front() + xaxis.back()) + 0.2f * d * static_cast<float>(c.lefts),
                  -0.5f * (yaxis.front() + yaxis.back()), 0.0f,
                  0.5236f + 0.1745329f * static_cast<float>(c.turns),
                  1.047197f - 0.1745329f * static_cast<float>(c.lowered), 30.0f * d, -d, -d, d, d,
                  z_scale, s);
    const std::string path = dir.file("view.ps");
    GS_OPEN_PS(path, s);
    QG_DEACTIVATE_WK(1, s);
    QG_ACTIVATE_WK(2, s);
    GS_3DSURFACE(c.nx, c.ny, data, xaxis, yaxis, 1, 1, c.nx, c.ny, "Simulated Data", "", "", "",
                 s);
    GS_CLOSE_PS(s);
    QG_ACTIVATE_WK(1, s);
    ASSERT_EQ(s, kStatusGood);
    const std::vector<std::string> lines = testing::read_lines(path);
    ASSERT_GE(lines.size(), 2u);
    int declared[4] = {};
    std::istringstream(lines[1].substr(14)) >> declared[0] >> declared[1] >> declared[2] >>
        declared[3];
    const std::string log = path + ".bbox";
    ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox \"" + path + "\" 2> \"" +
                           log + "\" > /dev/null")
                              .c_str()),
              0);
    int measured[4] = {-1, -1, -1, -1};
    for (const std::string& line : testing::read_lines(log))
      if (line.rfind("%%BoundingBox:", 0) == 0)
        std::istringstream(line.substr(14)) >> measured[0] >> measured[1] >> measured[2] >>
            measured[3];
    EXPECT_LE(declared[0], measured[0]);
    EXPECT_LE(declared[1], measured[1]);
    EXPECT_GE(declared[2], measured[2]);
    EXPECT_GE(declared[3], measured[3]);
    // Z numbers: below 10 (with a power of ten, or logarithmic); the X and
    // Y numbers are 10 and more.
    int z_numbers = 0;
    for (const std::string& line : lines) {
      const std::size_t end = line.find(')');
      if (line.empty() || line[0] != '(' || end == std::string::npos) continue;
      char* stop = nullptr;
      const std::string text = line.substr(1, end - 1);
      const double value = std::strtod(text.c_str(), &stop);
      z_numbers += !text.empty() && *stop == '\0' && value < 10.0;
    }
    EXPECT_GE(z_numbers, 2);
    // The title's band: from the top of the drawing area down to below the
    // title's descenders (0.036 of the page height under the top).
    const testing::Rendered page = testing::gs_render(path);
    ASSERT_TRUE(page.ok);
    const int band_top = page.height - declared[3];
    const int band_bottom = page.height - (declared[3] - 36 * (declared[3] - declared[1]) / 1000);
    int coloured = 0;
    for (int y = std::max(band_top, 0); y < band_bottom && y < page.height; ++y)
      for (int x = 0; x < page.width; ++x) {
        const auto p = page.at(x, y);
        coloured += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 60;
      }
    EXPECT_EQ(coloured, 0);
  }
  QG_SET_LOGZSCALING(false, s);
}

// The same views in the window (its page, landscape), one moved aside so
// far that only edges of the box its azimuth does not give are on the page,
// and one seen from straight above (its Z axis pointing down the page),
// linear and logarithmic: two height numbers or more.
TEST_F(SurfaceTest, MovedViewsKeepTwoHeightNumbersInTheWindow) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  make(180, 120, two_gaussians);
  struct Case {
    int zooms, lefts, turns;
    float elevation = 1.047197f;
  };
  for (const bool log : {false, true}) {
    QG_SET_LOGZSCALING(log, s);
    float low = 0.0f, high = 0.0f;
    MA_RMINMAX(180, 120, data, 1, 1, 180, 120, low, high, s);
    if (log) gs_3d_log_heights(low, high, low, high);
    for (const Case c :
         {Case{6, 4, 3}, Case{1, -6, 0}, Case{0, -6, 0}, Case{6, -2, 0, 0.5f * kPi}}) {
      const float d = 89.5f / std::pow(1.2f, static_cast<float>(c.zooms));
      GS_SET_3DVIEW(-90.0f + 0.2f * d * static_cast<float>(c.lefts), -60.0f, 0.0f,
                    0.5236f + 0.1745329f * static_cast<float>(c.turns), c.elevation, 30.0f * d,
                    -d, -d, d, d, 89.5f / (high - low), s);
      items.clear();
      GS_3DSURFACE(180, 120, data, xaxis, yaxis, 1, 1, 180, 120, "T", "", "", "", s);
      ASSERT_EQ(s, kStatusGood);
      // Heights are below 10 (with a power of ten, or logarithmic); the Y
      // numbers, the only others centred on their ticks, are 20 and more.
      int heights = 0;
      for (const PageItem* t : of("text")) {
        char* stop = nullptr;
        const double value = std::strtod(t->text.c_str(), &stop);
        heights += !t->text.empty() && *stop == '\0' && t->vertical == 3 && value < 10.0;
      }
      EXPECT_GE(heights, 2) << "log " << log << ", zooms " << c.zooms << ", lefts " << c.lefts
                            << ", elevation " << c.elevation;
      for (const PageItem* t : texts_off_page()) ADD_FAILURE() << t->text;
    }
  }
  QG_SET_LOGZSCALING(false, s);
}

// Does the segment (X1, Y1)-(X2, Y2) meet the rectangle?
bool meets(float x1, float y1, float x2, float y2, float left, float bottom, float right,
           float top) {
  float t0 = 0.0f, t1 = 1.0f;
  const float dx = x2 - x1, dy = y2 - y1;
  for (const auto& [p, q] :
       {std::pair{-dx, x1 - left}, {dx, right - x1}, {-dy, y1 - bottom}, {dy, top - y1}}) {
    if (p == 0.0f) {
      if (q < 0.0f) return false;
      continue;
    }
    if (p < 0.0f) t0 = std::max(t0, q / p);
    else t1 = std::min(t1, q / p);
  }
  return t0 <= t1;
}

// The viewer's first view fits the box's wider side to the window, which
// brings a turned corner of the box to the page's edge. With numbered walls
// the window leaves room beside it: every Z number is on the page and clear
// of every line drawn (box, axes, ticks), and those shown are evenly spaced
// (0..6 has its numbers a hair over a height apart).
TEST_F(SurfaceTest, NumberedAxesHaveRoomBesideTheBoxInTheFirstView) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  struct Case {
    float (*value)(float, float);
    float range;
  };
  for (const Case c : {Case{ramp, 13.0f}, Case{sawtooth, 6.0f}}) {
    SCOPED_TRACE(c.range);
    make(6, 5, c.value);
    const float d = 2.5f;
    GS_SET_3DVIEW(-3.0f, -2.5f, 0.0f, 0.5236f, 1.047197f, 30.0f * d, -d, -d, d, d, d / c.range,
                  s);
    items.clear();
    GS_3DSURFACE(6, 5, data, xaxis, yaxis, 1, 1, 6, 5, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    std::vector<float> values;
    for (const PageItem* t : of("text")) {
      if (!plated(t) || t->text.empty()) continue;
      const float half = 0.35f * t->height;  // digits stand 0.7 of the height tall
      const float left = t->x[0] - 0.6f * static_cast<float>(t->text.size()) * t->height;
      EXPECT_GE(left, 0.0f) << t->text;
      for (const PageItem* line : of("polyline"))
        for (std::size_t k = 0; k + 1 < line->x.size(); ++k)
          EXPECT_FALSE(meets(line->x[k], line->y[k], line->x[k + 1], line->y[k + 1], left,
                             t->y[0] - half, t->x[0], t->y[0] + half))
              << t->text << " meets a line at (" << line->x[k] << ", " << line->y[k] << ")";
      values.push_back(std::stof(t->text));
    }
    ASSERT_GE(values.size(), 3u);
    std::sort(values.begin(), values.end());
    for (std::size_t k = 2; k < values.size(); ++k)
      EXPECT_FLOAT_EQ(values[k] - values[k - 1], values[1] - values[0]) << values[k];
  }
}

// What the texts T say.
std::vector<std::string> z_numbers(const std::vector<const PageItem*>& t) {
  std::vector<std::string> numbers;
  for (const PageItem* item : t) numbers.push_back(item->text);
  return numbers;
}

float long_gaussian(float x, float y) {
  const float u = (x - 40.0f) / 30.0f, v = (y - 120.0f) / 12.0f;
  return 4.5e5f * std::exp(-0.5f * (u * u + v * v));
}
float offset_peak(float x, float y) {
  const float u = (x - 25.0f) / 8.0f, v = (y - 20.0f) / 8.0f;
  return 100000.0f + 25.0f * std::exp(-0.5f * (u * u + v * v));
}
float huge_offset_peak(float x, float y) {
  const float u = (x - 25.0f) / 8.0f, v = (y - 20.0f) / 8.0f;
  return 1e30f + 5e24f * std::exp(-0.5f * (u * u + v * v));
}
float huge_plane(float, float) { return 1e30f; }
// Heights a few thousandths apart at 1234.5: more digits than a float keeps.
float tiny_range(float x, float) { return 1234.5f + 0.002f * x / 50.0f; }
// Heights a few float steps apart at 5: their logarithms lie a few float
// steps apart near 0.7.
float few_steps(float x, float) { return 5.0f + 3e-6f * x / 50.0f; }

// Heights keep two numbers or more that tell them apart: seen from high
// above up to straight down (a short Z axis on the page), over an offset
// large beside the peak, and on a constant image, whose plane stands in a
// box of its own.
TEST_F(SurfaceTest, HeightsKeepNumbersThatTellThemApart) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  GS_SET_GPP(0.08f, 0.3529f, 0.6271f, 0.92f, s);  // the program's portrait page
  make(90, 200, long_gaussian);
  for (const int degrees : {60, 80, 84, 88, 90}) {
    const float d = 99.5f;
    GS_SET_3DVIEW(-45.0f, -100.0f, 0.0f, 0.5236f, static_cast<float>(degrees) * kPi / 180.0f,
                  30.0f * d, -d, -d, d, d, d / 4.5e5f, s);
    items.clear();
    GS_3DSURFACE(90, 200, data, xaxis, yaxis, 1, 1, 90, 200, "T", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    const std::vector<std::string> numbers = z_numbers(height_numbers());
    EXPECT_GE(numbers.size(), 2u) << degrees << " degrees";
    EXPECT_NE(text("*10E5"), nullptr) << degrees << " degrees";
    for (const PageItem* t : texts_off_page()) ADD_FAILURE() << t->text << ", " << degrees;
  }

  // Zoomed out and seen from straight above, the Z axis stands almost
  // end-on, all its ticks within a quarter of a number's height on the
  // page: a number stands by its tick, not two pushed apart beyond them
  // (0 and 4 stood two heights apart).
  {
    const float d = 99.5f * 1.2f * 1.2f;
    GS_SET_3DVIEW(-45.0f, -100.0f, 0.0f, 135.0f * kPi / 180.0f, 0.5f * kPi, 30.0f * d, -d, -d, d,
                  d, 99.5f / 4.5e5f, s);
    items.clear();
    GS_3DSURFACE(90, 200, data, xaxis, yaxis, 1, 1, 90, 200, "T", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    std::vector<const PageItem*> heights;
    for (const PageItem* t : height_numbers()) heights.push_back(t);
    EXPECT_FALSE(heights.empty());
    for (std::size_t a = 0; a < heights.size(); ++a)
      for (std::size_t b = a + 1; b < heights.size(); ++b)
        EXPECT_LT(std::hypot(heights[a]->x[0] - heights[b]->x[0],
                             heights[a]->y[0] - heights[b]->y[0]),
                  heights[a]->height)
            << heights[a]->text << " and " << heights[b]->text;
  }

  struct Case {
    const char* name;
    float (*value)(float, float);
    const char* power;  // of the numbers, "" for none
    bool log = false;
  };
  for (const Case c : {Case{"offset", offset_peak, ""}, Case{"huge offset", huge_offset_peak, "*10E30"},
                       Case{"constant", huge_plane, "*10E30"}, Case{"tiny range", tiny_range, ""},
                       Case{"few float steps", few_steps, ""},
                       Case{"logarithms a few float steps apart", few_steps, "", true}}) {
    SCOPED_TRACE(c.name);
    QG_SET_LOGZSCALING(c.log, s);
    make(50, 40, c.value);
    float low = 0.0f, high = 0.0f;
    MA_RMINMAX(50, 40, data, 1, 1, 50, 40, low, high, s);
    ASSERT_TRUE(gs_3d_height_range(c.log, low, high));
    ASSERT_LT(low, high);
    GS_SET_3DVIEW(-25.0f, -20.0f, 0.0f, 0.5236f, 1.047197f, 30.0f * 25.0f, -25.0f, -25.0f, 25.0f,
                  25.0f, static_cast<float>(25.0 / (double{high} - low)), s);
    items.clear();
    GS_3DSURFACE(50, 40, data, xaxis, yaxis, 1, 1, 50, 40, "T", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    std::vector<std::string> numbers = z_numbers(height_numbers());
    EXPECT_GE(numbers.size(), 2u);
    for (const std::string& n : numbers) EXPECT_EQ(n.find('*'), std::string::npos) << n;
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
    // Each names its tick: a whole number of the ticks' step (1234.5005, not
    // 1234.5004 for it).
    if (numbers.size() >= 2 && *c.power == '\0') {
      std::vector<double> values;
      for (const std::string& n : numbers) values.push_back(std::stod(n));
      std::sort(values.begin(), values.end());
      double step = values[1] - values[0];
      for (std::size_t k = 2; k < values.size(); ++k) step = std::min(step, values[k] - values[k - 1]);
      // The step as the decimal the texts differ by (5E-8, not 4.99999999E-8).
      const double unit = std::pow(10.0, std::floor(std::log10(step)) - 3.0);
      step = std::round(step / unit) * unit;
      for (const double v : values)
        EXPECT_NEAR(v / step, std::round(v / step), 0.01) << v << " in steps of " << step;
    }
    if (*c.power != '\0') {
      EXPECT_NE(text(c.power), nullptr);
    }
  }
  QG_SET_LOGZSCALING(false, s);
}

// A region a few pixels across and long enough to be averaged in blocks is
// drawn as cells: its narrow side keeps its pixels.
TEST_F(SurfaceTest, NarrowRegionsAreDrawnAsCells) {
  use_raster(0);  // every cell reaches the recorder as a fill
  Status s = kStatusGood;
  GS_SET_3DSTYLE(false, 5, 1.0f, true, false, 1, s);
  GS_SET_PIXELLIMITS(200, 200, s);
  struct Case {
    Index nx, ny;
    std::size_t cells;
  };
  for (const Case c : {Case{3, 220, 2 * 109}, Case{250, 3, 124 * 2}, Case{2, 450, 1 * 149},
                       Case{3, 200, 2 * 199}, Case{40, 40, 39 * 39}}) {
    make(c.nx, c.ny, two_peaks);
    view(30.0f, 0.5f, 300.0f);
    items.clear();
    GS_3DSURFACE(c.nx, c.ny, data, xaxis, yaxis, 1, 1, c.nx, c.ny, "T", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(of("fill_area").size(), 1u + c.cells) << c.nx << " x " << c.ny;
  }
}

// Is (X, Y) inside the box of ITEM's points?
bool within(const PageItem& item, float x, float y) {
  const auto [x1, x2] = std::minmax_element(item.x.begin(), item.x.end());
  const auto [y1, y2] = std::minmax_element(item.y.begin(), item.y.end());
  return *x1 <= x && x <= *x2 && *y1 <= y && y <= *y2;
}

// Height numbers stand on plates of the background's colour, drawn before
// them, so that the surface behind them (a dark base, or the colours a
// zoomed view brings under numbers moved inside the frame) leaves them
// readable.
TEST_F(SurfaceTest, HeightNumbersStandOnPlatesOfTheBackground) {
  use_raster(0);  // every fill reaches the recorder
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  make(127, 63, tall_ramp);
  for (const int zooms : {0, 6}) {
    viewer_view(zooms, 3);
    items.clear();
    GS_3DSURFACE(127, 63, data, xaxis, yaxis, 1, 1, 127, 63, "TITLE", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    // The page's background is the first fill.
    const std::vector<const PageItem*> fills = of("fill_area");
    ASSERT_FALSE(fills.empty());
    const int background = fills.front()->colour;
    // The height numbers come last, after every line and after the floor
    // axes' numbers, whichever way they are justified: from the first fill
    // past the last line on (none there leaves them all unplated).
    std::size_t first = items.size();
    for (std::size_t k = items.size(); k-- > 0 && items[k].kind != "polyline";)
      if (items[k].kind == "fill_area") first = k;
    int numbers = 0;
    for (std::size_t k = first; k < items.size(); ++k) {
      const PageItem& t = items[k];
      if (t.kind != "text" || t.text.empty() || t.text == "log10(Z)" || t.text == "TITLE" ||
          t.text.rfind("*10E", 0) == 0)
        continue;
      ++numbers;
      bool plated = false;
      for (std::size_t j = 0; j < k && !plated; ++j)
        plated = &items[j] != fills.front() && items[j].kind == "fill_area" &&
                 items[j].colour == background &&
                 within(items[j], t.x[0], t.y[0]);
      EXPECT_TRUE(plated) << t.text << ", zooms " << zooms;
    }
    EXPECT_GE(numbers, 2) << zooms;
  }
}

// A Gaussian of 100 over 200 x 90 pixels (sigmas 20 and 9).
float low_gaussian(float x, float y) {
  const float u = (x - 100.5f) / 20.0f, v = (y - 45.5f) / 9.0f;
  return 100.0f * std::exp(-0.5f * (u * u + v * v));
}

// Zoomed out, lowered and flattened, the Z axis is short on the page: its
// numbers are thinned so that no number's plate covers another number's
// (which holds that number with a margin round it).
TEST_F(SurfaceTest, HeightNumberPlatesCoverNoOtherNumber) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  GS_SET_GPP(0.08f, 0.3529f, 0.6271f, 0.92f, s);  // the program's portrait page
  make(200, 90, low_gaussian);
  float low = 0.0f, high = 0.0f;
  MA_RMINMAX(200, 90, data, 1, 1, 200, 90, low, high, s);
  // As the viewer sets it after three presses of -ZOOM, two of UP and three
  // of FLATTER.
  const float d = 99.5f * std::pow(1.2f, 3.0f);
  GS_SET_3DVIEW(-100.0f, -45.0f, -0.4f * d, 0.5236f, 1.047197f, 30.0f * d, -d, -d, d, d,
                99.5f / (high - low) / std::pow(1.414214f, 3.0f), s);
  items.clear();
  GS_3DSURFACE(200, 90, data, xaxis, yaxis, 1, 1, 200, 90, "TITLE", "", "", "", s);
  ASSERT_EQ(s, kStatusGood);
  // Each number's plate is the fill drawn just before it.
  std::vector<std::pair<const PageItem*, const PageItem*>> numbers;
  for (std::size_t k = 1; k < items.size(); ++k)
    if (items[k].kind == "text" && items[k - 1].kind == "fill_area")
      numbers.emplace_back(&items[k - 1], &items[k]);
  ASSERT_GE(numbers.size(), 2u);
  for (std::size_t a = 0; a < numbers.size(); ++a)
    for (std::size_t b = a + 1; b < numbers.size(); ++b) {
      const auto [a1, a2] = std::minmax_element(numbers[a].first->y.begin(),
                                                numbers[a].first->y.end());
      const auto [b1, b2] = std::minmax_element(numbers[b].first->y.begin(),
                                                numbers[b].first->y.end());
      EXPECT_FALSE(*a1 < *b2 - 1e-5f && *b1 < *a2 - 1e-5f)
          << numbers[a].second->text << " and " << numbers[b].second->text;
    }
}

// A Gaussian of 7.5E+6 (sigmas 20 and 9), and one of 1E-3 over an offset of
// 1000, over 200 x 90 pixels.
float low_tall_gaussian(float x, float y) { return 7.5e4f * low_gaussian(x, y); }
float offset_low_gaussian(float x, float y) { return 1000.0f + 1e-5f * low_gaussian(x, y); }
// A pit of -2.5E+5 on a ripple, over 99 x 99 pixels.
float pit(float x, float y) {
  const float u = x - 49.5f, v = y - 49.5f;
  return -2.5e5f * std::exp(-(u * u + v * v) / 800.0f) + 1e3f * std::sin((x - 0.5f) / 9.0f);
}
// Two peaks of 3E+4 and 8E+3 on a floor of 96, over 151 x 77 pixels.
float two_sharp_peaks(float x, float y) {
  const auto peak = [](float u, float v, float w) { return std::exp(-(u * u + v * v) / w); };
  return 96.0f + 30870.0f * peak(x - 30.0f, y - 30.0f, 20.0f) +
         8e3f * peak(x - 120.0f, y - 45.0f, 200.0f);
}

// Zoomed (and steepened and turned) views printed: the X or Y numbers stand
// where the Z axis passes them, and no height number's plate covers any of
// them (Times digits half their size wide, 0.7 of it tall), while the Z axis
// keeps two numbers or more.
TEST_F(SurfaceTest, HeightNumberPlatesCoverNoNumberOfTheOtherAxes) {
  testing::TempDir dir;
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  GS_SET_GPP(0.08f, 0.3529f, 0.6271f, 0.92f, s);  // the program's portrait page
  struct Case {
    float (*value)(float, float);
    int zooms, turns, steeper;
    Index nx = 200, ny = 90;
    float azimuth = 30.0f, elevation = 60.0f;  // degrees, before the turns
    const char* power = "";                    // the heights' power of ten, if any
  };
  // The pit seen from the front corner, its Z axis short at the page's foot
  // between the X and Y numbers: the power of ten finds no step beyond the
  // two numbers kept, and stands beside one of them. Two sharp peaks seen
  // low from behind: the power finds room only over the Y axis's two
  // numbers, or in the place of the top height number, given up instead.
  for (const Case c :
       {Case{low_tall_gaussian, 3, 0, 0}, Case{low_tall_gaussian, 4, 0, 0},
        Case{offset_low_gaussian, 4, 3, 4}, Case{pit, 4, 0, 0, 99, 99, 225.0f, 76.0f, "*10E5"},
        Case{pit, 4, 0, 0, 99, 99, 211.0f, 76.0f, "*10E5"},
        Case{two_sharp_peaks, 3, 0, 0, 151, 77, 200.0f, 15.0f, "*10E4"}}) {
    SCOPED_TRACE(std::to_string(c.zooms) + " zooms, " + std::to_string(c.turns) + " turns, " +
                 std::to_string(c.azimuth) + " degrees");
    make(c.nx, c.ny, c.value);
    float low = 0.0f, high = 0.0f;
    MA_RMINMAX(c.nx, c.ny, data, 1, 1, c.nx, c.ny, low, high, s);
    const float half = 0.5f * (xaxis.back() - xaxis.front());
    const float d = half / std::pow(1.2f, static_cast<float>(c.zooms));
    GS_SET_3DVIEW(-0.5f * (xaxis.front() + xaxis.back()), -0.5f * (yaxis.front() + yaxis.back()),
                  0.0f, (c.azimuth + 10.0f * static_cast<float>(c.turns)) * kPi / 180.0f,
                  c.elevation * kPi / 180.0f, 30.0f * d, -d, -d, d, d,
                  half / (high - low) * std::pow(1.414214f, static_cast<float>(c.steeper)), s);
    const std::string path = dir.file("view.ps");
    GS_OPEN_PS(path, s);
    QG_DEACTIVATE_WK(1, s);
    QG_ACTIVATE_WK(2, s);
    GS_3DSURFACE(c.nx, c.ny, data, xaxis, yaxis, 1, 1, c.nx, c.ny, "Simulated Data", "", "", "",
                 s);
    GS_CLOSE_PS(s);
    QG_ACTIVATE_WK(1, s);
    ASSERT_EQ(s, kStatusGood);
    // Plates are the fills of four corners just before a text; numbers are
    // the texts "(...)" followed by "x y tx", aligned by the last "h v ta"
    // in the size of the last "size font tf".
    struct Box {
      std::string text;
      float x1, y1, x2, y2;
      bool plated;
      int axis = 0;  // the run of numbers, between lines drawn, it stands in
    };
    std::vector<Box> numbers;
    int axis = 0;
    bool line_before = true;
    const std::vector<std::string> lines = testing::read_lines(path);
    int h = 1, v = 1;
    float size = 0.0f, px[4] = {}, py[4] = {};
    std::size_t plate_line = 0;
    for (std::size_t k = 1; k < lines.size(); ++k) {
      std::istringstream in(lines[k]);
      std::vector<std::string> words;
      for (std::string w; in >> w;) words.push_back(w);
      if (words.size() == 3 && words[2] == "ta") h = std::stoi(words[0]), v = std::stoi(words[1]);
      if (words.size() == 3 && words[2] == "tf") size = std::stof(words[0]);
      if (!words.empty() && (words.back() == "pl" || words.back() == "vl")) line_before = true;
      if (words.size() == 10 && words[9] == "fa" && words[8] == "4") {
        for (std::size_t i = 0; i < 4; ++i)
          px[i] = std::stof(words[2 * i]), py[i] = std::stof(words[2 * i + 1]);
        plate_line = k;
      }
      if (words.size() != 3 || words[2] != "tx" || lines[k - 1].empty() || lines[k - 1][0] != '(')
        continue;
      const std::string text = lines[k - 1].substr(1, lines[k - 1].size() - 2);
      if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-'))
        continue;
      const float x = std::stof(words[0]), y = std::stof(words[1]);
      const float width = 0.5f * size * static_cast<float>(text.size());
      const float left = h == 2 ? x - 0.5f * width : h == 3 ? x - width : x;
      const float bottom = v == 3 ? y - 0.35f * size : v <= 2 ? y - 0.7f * size : y;
      if (plate_line + 2 == k)
        numbers.push_back({text, *std::min_element(px, px + 4), *std::min_element(py, py + 4),
                           *std::max_element(px, px + 4), *std::max_element(py, py + 4), true});
      if (line_before) ++axis, line_before = false;
      numbers.push_back({text, left, bottom, left + width, bottom + 0.7f * size, false,
                         plate_line + 2 == k ? 0 : axis});
    }
    // The X and Y axes keep numbers: two runs of numbers without plates.
    std::vector<int> runs;
    for (const Box& b : numbers)
      if (b.axis != 0 && (runs.empty() || runs.back() != b.axis)) runs.push_back(b.axis);
    EXPECT_GE(runs.size(), 2u);
    int heights = 0;
    for (const Box& plate : numbers) {
      if (!plate.plated) continue;
      heights += plate.text.find('.') != std::string::npos || std::stof(plate.text) < 10.0f;
      for (const Box& other : numbers) {
        if (other.plated || other.text == plate.text) continue;
        EXPECT_FALSE(plate.x1 < other.x2 && other.x1 < plate.x2 && plate.y1 < other.y2 &&
                     other.y1 < plate.y2)
            << "the plate of " << plate.text << " covers " << other.text;
      }
    }
    EXPECT_GE(heights, 2);
    if (*c.power != '\0') {
      EXPECT_NE(testing::read_file(path).find("(" + std::string(c.power) + ")"),
                std::string::npos);
    }
  }

  // In the window, a small box zoomed in, its logarithmic Z axis short on
  // the page between the Y numbers: no two height numbers find places clear
  // of them, and the Y numbers under the plates are left out instead.
  use_raster(100);
  QG_SET_LOGZSCALING(true, s);
  make(6, 5, ramp);
  view(30.0f, 0.5f, 2.4f);
  items.clear();
  GS_3DSURFACE(6, 5, data, xaxis, yaxis, 1, 1, 6, 5, "", "", "", "", s);
  QG_SET_LOGZSCALING(false, s);
  ASSERT_EQ(s, kStatusGood);
  const auto box = [](const PageItem& t) {
    const float width = 0.6f * static_cast<float>(t.text.size()) * t.height;
    const float left = t.horizontal == 3   ? t.x[0] - width
                       : t.horizontal == 2 ? t.x[0] - 0.5f * width
                                           : t.x[0];
    const float bottom = t.vertical == 3 ? t.y[0] - 0.5f * t.height
                         : t.vertical <= 2 ? t.y[0] - t.height
                                           : t.y[0];
    return std::array<float, 4>{left, bottom, left + width, bottom + t.height};
  };
  int heights = 0;
  for (std::size_t k = 1; k < items.size(); ++k) {
    if (items[k].kind != "text" || !plated(&items[k])) continue;
    ++heights;
    const auto [x1, x2] = std::minmax_element(items[k - 1].x.begin(), items[k - 1].x.end());
    const auto [y1, y2] = std::minmax_element(items[k - 1].y.begin(), items[k - 1].y.end());
    for (const PageItem* t : of("text")) {
      if (plated(t) || t->text.empty()) continue;
      const std::array<float, 4> b = box(*t);
      EXPECT_FALSE(*x1 < b[2] && b[0] < *x2 && *y1 < b[3] && b[1] < *y2)
          << "the plate of " << items[k].text << " covers " << t->text;
    }
  }
  EXPECT_GE(heights, 2);
}

// The page box of a window text (digits half their height wide, 0.7 of it
// tall), a hair inside.
std::array<float, 4> text_box(const PageItem& t) {
  const float width = 0.5f * static_cast<float>(t.text.size()) * t.height;
  const float left = t.horizontal == 3   ? t.x[0] - width
                     : t.horizontal == 2 ? t.x[0] - 0.5f * width
                                         : t.x[0];
  const float tall = 0.7f * t.height;
  const float bottom = t.vertical == 3   ? t.y[0] - 0.5f * tall
                       : t.vertical <= 2 ? t.y[0] - tall
                                         : t.y[0];
  const float hair = 0.05f * t.height;
  return {left + hair, bottom + hair, left + width - hair, bottom + tall - hair};
}

// Views of the viewer, zoomed, turned, tilted and logarithmic, where the
// axes' texts met lines or one another: the heading of logarithmic heights
// held at the frame's top beside a Z axis at the page's edge (across the
// axis, on a plate, rather than under its line) and seen from high above
// over the Y numbers; seen from below, the Z axis short under its heading;
// the Z axis at a low corner by the X numbers; an X axis running up the
// page (its numbers beside it, not on it); seen level along the X axis,
// its number at the corner where the Y numbers start. No line drawn after a text
// crosses it, no two texts overlap, and two height numbers or more stand.
TEST_F(SurfaceTest, AxisTextsStandClearOfLinesAndOfOneAnother) {
  use_raster(100);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  GS_SET_PIXELLIMITS(512, 24, s);  // heights averaged in blocks of 9 pixels
  make(200, 90, tall_gaussian);
  struct Case {
    bool log;
    int zooms, steeper;
    float azimuth, elevation;  // degrees
  };
  for (const Case c : {Case{true, 2, 2, 30, -40}, Case{true, 4, 0, 30, 80},
                       Case{true, 0, 0, 90, -80}, Case{false, 3, 0, 330, 60},
                       Case{false, 0, 0, 90, 40}, Case{false, 0, 0, 270, 0}}) {
    SCOPED_TRACE(std::string(c.log ? "log" : "linear") + ", " + std::to_string(c.zooms) +
                 " zooms, azimuth " + std::to_string(c.azimuth) + ", elevation " +
                 std::to_string(c.elevation));
    QG_SET_LOGZSCALING(c.log, s);
    float low = 0.0f, high = 0.0f;
    MA_RMINMAX(200, 90, data, 1, 1, 200, 90, low, high, s);
    if (c.log) gs_3d_log_heights(low, high, low, high);
    const float d = 99.5f / std::pow(1.2f, static_cast<float>(c.zooms));
    GS_SET_3DVIEW(-100.0f, -45.0f, 0.0f, c.azimuth * kPi / 180.0f, c.elevation * kPi / 180.0f,
                  30.0f * d, -d, -d, d, d,
                  99.5f / (high - low) * std::pow(1.414214f, static_cast<float>(c.steeper)), s);
    items.clear();
    GS_3DSURFACE(200, 90, data, xaxis, yaxis, 1, 1, 200, 90, "Simulated Data", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    std::vector<std::size_t> texts;
    int heights = 0;
    for (std::size_t k = 0; k < items.size(); ++k) {
      const PageItem& t = items[k];
      if (t.kind != "text" || t.text.empty() || t.text == "Simulated Data") continue;
      texts.push_back(k);
      heights += k > 0 && items[k - 1].kind == "fill_area" && t.text != "log10(Z)" &&
                 t.text.rfind("*10E", 0) != 0;
    }
    EXPECT_GE(heights, 2);
    EXPECT_EQ(text("log10(Z)") != nullptr, c.log);
    for (std::size_t a = 0; a < texts.size(); ++a)
      for (std::size_t b = a + 1; b < texts.size(); ++b) {
        const auto p = text_box(items[texts[a]]), q = text_box(items[texts[b]]);
        EXPECT_FALSE(p[0] < q[2] && q[0] < p[2] && p[1] < q[3] && q[1] < p[3])
            << items[texts[a]].text << " and " << items[texts[b]].text;
      }
    for (const std::size_t k : texts) {
      const auto box = text_box(items[k]);
      for (std::size_t j = k + 1; j < items.size(); ++j) {
        const PageItem& line = items[j];
        if (line.kind != "polyline") continue;
        // Only the part inside the clip rectangle is drawn.
        const std::array<float, 4> clipped{std::max(box[0], line.clip.empty() ? box[0] : line.clip[0]),
                                           std::max(box[1], line.clip.empty() ? box[1] : line.clip[1]),
                                           std::min(box[2], line.clip.empty() ? box[2] : line.clip[2]),
                                           std::min(box[3], line.clip.empty() ? box[3] : line.clip[3])};
        if (!(clipped[0] < clipped[2] && clipped[1] < clipped[3])) continue;
        for (std::size_t n = 0; n + 1 < line.x.size(); ++n)
          EXPECT_FALSE(meets(line.x[n], line.y[n], line.x[n + 1], line.y[n + 1], clipped[0],
                             clipped[1], clipped[2], clipped[3]))
              << items[k].text << " under a line from (" << line.x[n] << ", " << line.y[n] << ")";
      }
    }
  }
  QG_SET_LOGZSCALING(false, s);

  // A small image turned half about, seen low and zoomed in: its Y numbers
  // climb the page in steps little wider than a number. Printed digits are
  // up to 0.68 of their height wide: side by side, numbers keep a gap between
  // them rather than running together ("2025" for 20 and 25).
  GS_SET_GPP(0.08f, 0.3529f, 0.6271f, 0.92f, s);  // the program's portrait page
  make(64, 48, small_gaussian);
  float low = 0.0f, high = 0.0f;
  MA_RMINMAX(64, 48, data, 1, 1, 64, 48, low, high, s);
  for (int zooms = 0; zooms <= 3; ++zooms)
    for (const float elevation : {5.0f, 10.0f, 15.0f, 20.0f}) {
      SCOPED_TRACE(std::to_string(zooms) + " zooms, elevation " + std::to_string(elevation));
      const float d = 31.5f / std::pow(1.2f, static_cast<float>(zooms));
      GS_SET_3DVIEW(-32.0f, -24.0f, 0.0f, 150.0f * kPi / 180.0f, elevation * kPi / 180.0f,
                    30.0f * d, -d, -d, d, d, 31.5f / (high - low), s);
      items.clear();
      GS_3DSURFACE(64, 48, data, xaxis, yaxis, 1, 1, 64, 48, "", "", "", "", s);
      ASSERT_EQ(s, kStatusGood);
      std::vector<const PageItem*> numbers;
      for (const PageItem* t : of("text"))
        if (!t->text.empty() && !plated(t)) numbers.push_back(t);
      const auto printed = [](const PageItem& t) {
        const float width = 0.68f * static_cast<float>(t.text.size()) * t.height;
        const float left = t.horizontal == 3   ? t.x[0] - width
                           : t.horizontal == 2 ? t.x[0] - 0.5f * width
                                               : t.x[0];
        const float bottom = t.vertical == 3   ? t.y[0] - 0.35f * t.height
                             : t.vertical <= 2 ? t.y[0] - 0.7f * t.height
                                               : t.y[0];
        return std::array<float, 4>{left, bottom, left + width, bottom + 0.7f * t.height};
      };
      EXPECT_GE(numbers.size(), 4u);
      for (std::size_t a = 0; a < numbers.size(); ++a)
        for (std::size_t b = a + 1; b < numbers.size(); ++b) {
          const auto p = printed(*numbers[a]), q = printed(*numbers[b]);
          EXPECT_FALSE(p[0] < q[2] && q[0] < p[2] && p[1] < q[3] && q[1] < p[3])
              << numbers[a]->text << " and " << numbers[b]->text;
        }
    }

  // Seen from above and turned so that a floor axis slopes down to the
  // right, or an X axis runs up the page a little less steeply than its
  // numbers move beside it: the X and Y numbers stand clear of every line,
  // their own axis's included (it ran through them).
  struct Turn {
    float azimuth, elevation;  // degrees
  };
  for (const Turn c : {Turn{60, 60}, Turn{120, 60}, Turn{150, 60}, Turn{240, 60}, Turn{300, 60},
                       Turn{330, 60}, Turn{120, 80}, Turn{60, 45}, Turn{150, 70}}) {
    SCOPED_TRACE("azimuth " + std::to_string(c.azimuth) + ", elevation " +
                 std::to_string(c.elevation));
    const float d = 31.5f;
    GS_SET_3DVIEW(-32.0f, -24.0f, 0.0f, c.azimuth * kPi / 180.0f, c.elevation * kPi / 180.0f,
                  30.0f * d, -d, -d, d, d, 31.5f / (high - low), s);
    items.clear();
    GS_3DSURFACE(64, 48, data, xaxis, yaxis, 1, 1, 64, 48, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    int numbers = 0;
    for (const PageItem* t : of("text")) {
      if (t->text.empty() || plated(t)) continue;
      ++numbers;
      const std::array<float, 4> box = text_box(*t);
      for (const PageItem* line : of("polyline"))
        for (std::size_t n = 0; n + 1 < line->x.size(); ++n)
          EXPECT_FALSE(meets(line->x[n], line->y[n], line->x[n + 1], line->y[n + 1], box[0],
                             box[1], box[2], box[3]))
              << t->text << " under a line from (" << line->x[n] << ", " << line->y[n] << ")";
    }
    EXPECT_GE(numbers, 4);
  }
}

// Page extremes of every point drawn; false when a point is not finite.
bool drawn_extent(const std::vector<PageItem>& items, float& x1, float& y1, float& x2, float& y2) {
  x1 = y1 = 1e30f;
  x2 = y2 = -1e30f;
  for (const PageItem& item : items) {
    if (item.kind != "polyline" && item.kind != "fill_area") continue;
    for (std::size_t k = 0; k < item.x.size(); ++k) {
      if (!std::isfinite(item.x[k]) || !std::isfinite(item.y[k])) return false;
      x1 = std::min(x1, item.x[k]), x2 = std::max(x2, item.x[k]);
      y1 = std::min(y1, item.y[k]), y2 = std::max(y2, item.y[k]);
    }
  }
  return true;
}

float column(float x, float) { return x; }

TEST_F(SurfaceTest, BadPixelsLeaveAHoleInsideTheSurfacesBox) {
  use_raster(0);  // every cell reaches the recorder as a fill
  Status s = kStatusGood;
  GS_SET_3DAXES(true, false, false, s);
  for (const bool bands : {false, true}) {
    GS_SET_3DSTYLE(true, 5, 1.0f, true, bands, 1, s);
    make(32, 24, column);
    view(30.0f, 0.5f, 30.0f);
    items.clear();
    GS_3DSURFACE(32, 24, data, xaxis, yaxis, 1, 1, 32, 24, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    float bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;
    ASSERT_TRUE(drawn_extent(items, bx1, by1, bx2, by2));
    const std::size_t whole = of("fill_area").size();

    // Rows 11-14, columns 13-20 not a number; infinite pixels beside them.
    for (Index y = 11; y <= 14; ++y)
      for (Index x = 13; x <= 20; ++x) data[element(x, y, 32)] = NAN;
    data[element(5, 20, 32)] = INFINITY;
    data[element(6, 20, 32)] = -INFINITY;
    items.clear();
    GS_3DSURFACE(32, 24, data, xaxis, yaxis, 1, 1, 32, 24, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    ASSERT_TRUE(drawn_extent(items, x1, y1, x2, y2)) << bands;
    // Nothing outside the box of the whole ramp: the height range is the same.
    EXPECT_GE(x1, bx1 - 1e-5f) << bands;
    EXPECT_GE(y1, by1 - 1e-5f) << bands;
    EXPECT_LE(x2, bx2 + 1e-5f) << bands;
    EXPECT_LE(y2, by2 + 1e-5f) << bands;
    // The 9 x 5 cells that touch a bad pixel are left out, edges and all.
    if (!bands) {
      EXPECT_EQ(whole - of("fill_area").size(), 45u);
    }
  }
  // Bad pixels in a checkerboard: every cell touches one, and the box alone
  // is not drawn; said in one line. Blocks of 2 x 2 pixels (a lower pixel
  // limit) each hold a mean, and the surface is drawn.
  for (Index y = 1; y <= 24; ++y)
    for (Index x = 1; x <= 32; ++x)
      if ((x + y) % 2 == 1) data[element(x, y, 32)] = NAN;
  for (const int limit : {100, 16}) {
    GS_SET_PIXELLIMITS(600, limit, s);
    testing::TerminalCapture terminal;
    items.clear();
    GS_3DSURFACE(32, 24, data, xaxis, yaxis, 1, 1, 32, 24, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(items.empty(), limit == 100) << limit;
    if (limit == 100)
      EXPECT_EQ(terminal.text(), "WARNING: Nothing can be drawn: no cell of the region has "
                                 "finite values at its four corners\n");
    else
      EXPECT_EQ(terminal.text().find("Nothing"), std::string::npos) << terminal.text();
  }
}

TEST_F(SurfaceTest, CopiedIntoPostScript) {
  testing::TempDir dir;
  make(24, 24, two_peaks);
  view(30.0f, 0.5f, 22.0f);
  Status s = kStatusGood;
  GS_SET_3DAXES(true, true, true, s);
  const std::string path = dir.file("surface.ps");
  GS_OPEN_PS(path, s);
  QG_DEACTIVATE_WK(1, s);  // only the copy is active
  QG_ACTIVATE_WK(2, s);
  GS_3DSURFACE(24, 24, data, xaxis, yaxis, 1, 1, 24, 24, "SURFACE", "", "", "", s);
  GS_CLOSE_PS(s);
  ASSERT_EQ(s, kStatusGood);
  const testing::Rendered page = testing::gs_render(path);
  ASSERT_TRUE(page.ok);
  int coloured = 0;
  for (int y = 0; y < page.height; y += 2)
    for (int x = 0; x < page.width; x += 2) {
      const auto c = page.at(x, y);
      if (std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}) > 60) ++coloured;
    }
  EXPECT_GT(coloured, 500);
}

}  // namespace
}  // namespace kesta

