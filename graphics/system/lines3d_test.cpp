// The hidden-line row profiles against a brute-force horizon, and the frame
// of the line view.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/test_support.hpp"
#include "graphics/system/gsystem_test_support.hpp"
#include "graphics/system/views3d.hpp"

namespace kesta {
namespace {

using testing::PageFixture;
using testing::PageItem;

struct HiddenLinesTest : PageFixture {
  testing::TerminalCapture quiet;
  // The rows drawn (the clipped polylines; frame and axes are not), each
  // checked to lie inside its clip rectangle up and down.
  std::size_t rows_inside_their_frame() const {
    std::size_t rows = 0;
    for (const PageItem* line : of("polyline")) {
      if (line->clip.empty()) continue;
      ++rows;
      for (std::size_t k = 0; k < line->x.size(); ++k) {
        EXPECT_GE(line->y[k], line->clip[1] - 1e-5f);
        EXPECT_LE(line->y[k], line->clip[3] + 1e-5f);
      }
    }
    return rows;
  }
};

// The upper envelope of the rows drawn before, sampled at X.
TEST_F(HiddenLinesTest, VisibleSegmentsFollowABruteForceHorizon) {
  constexpr Index nx = 30, ny = 12;
  std::vector<float> data(nx * ny);
  for (Index j = 0; j < ny; ++j)
    for (Index i = 0; i < nx; ++i)
      data[i + j * nx] =
          5.0f * std::sin(0.5f * static_cast<float>(i) + 0.9f * static_cast<float>(j)) +
          (i == 15 && j == 6 ? 12.0f : 0.0f);
  Status s = kStatusGood;
  QG_DATAWINDOW(0, -20, 40, 40, s);
  QG_VIEWPORT(0, 0, 1, 1, s);
  items.clear();
  const float zmin = -5.0f, zmax = 17.0f, divisor = static_cast<float>(ny);
  GS_3DHIDELINES(nx, ny, data, 1, 1, nx, ny, zmin, zmax, divisor, 10000, s);
  ASSERT_EQ(s, kStatusGood);
  // Row r as a function of X (minus infinity outside it).
  auto row = [&](Index r, float x) {
    const float shift = 0.5f * (static_cast<float>(r) + 0.5f);
    const float lift = shift * (zmax - zmin) / divisor;
    const float t = x - shift + 0.5f;  // pixel number
    if (t < 1.0f || t > static_cast<float>(nx)) return -std::numeric_limits<float>::infinity();
    const Index i = std::min<Index>(static_cast<Index>(t), nx - 1);
    const float f = t - static_cast<float>(i);
    const float a = std::clamp(data[(i - 1) + r * nx], zmin, zmax);
    const float b = std::clamp(data[i + r * nx], zmin, zmax);
    return a + f * (b - a) + lift;
  };
  auto horizon = [&](Index rows, float x) {
    float h = -std::numeric_limits<float>::infinity();
    for (Index r = 0; r < rows; ++r) h = std::max(h, row(r, x));
    return h;
  };
  // Every drawn point lies on some row and on or above all rows before it;
  // every point of a row clearly above the earlier rows is drawn.
  auto to_world = [](const PageItem& item, std::size_t k, float& x, float& y) {
    x = item.x[k] * 40.0f;
    y = item.y[k] * 60.0f - 20.0f;
  };
  std::vector<std::vector<std::pair<float, float>>> drawn;
  for (const PageItem* line : of("polyline")) {
    std::vector<std::pair<float, float>> points;
    for (std::size_t k = 0; k < line->x.size(); ++k) {
      float x = 0, y = 0;
      to_world(*line, k, x, y);
      points.emplace_back(x, y);
    }
    drawn.push_back(points);
  }
  auto covered = [&](float x, float y) {
    for (const auto& points : drawn)
      for (std::size_t k = 0; k + 1 < points.size(); ++k) {
        const auto [xa, ya] = points[k];
        const auto [xb, yb] = points[k + 1];
        if (x < std::min(xa, xb) || x > std::max(xa, xb) || xb == xa) continue;
        if (std::abs(ya + (x - xa) / (xb - xa) * (yb - ya) - y) < 2e-3f) return true;
      }
    return false;
  };
  int visible = 0, missing = 0, hidden_drawn = 0;
  for (Index r = 0; r < ny; ++r)
    for (float x = 0.0f; x < 40.0f; x += 0.137f) {
      const float y = row(r, x);
      if (!std::isfinite(y)) continue;
      const float before = horizon(r, x);
      if (y > before + 0.05f) {
        ++visible;
        if (!covered(x, y)) ++missing;
      } else if (y < before - 0.05f && covered(x, y)) {
        // A hidden point may still lie where another row crosses it.
        bool crossing = false;
        for (Index q = 0; q < ny; ++q) crossing |= q != r && std::abs(row(q, x) - y) < 2e-3f;
        if (!crossing) ++hidden_drawn;
      }
    }
  EXPECT_GT(visible, 100);
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(hidden_drawn, 0);
}

TEST_F(HiddenLinesTest, LineViewFrameAndRowAxis) {
  constexpr Index nx = 40, ny = 100;
  std::vector<float> data(nx * ny), xaxis(nx), yaxis(ny);
  for (Index j = 0; j < ny; ++j)
    for (Index i = 0; i < nx; ++i) data[i + j * nx] = static_cast<float>((i * 7 + j * 3) % 51);
  Status s = kStatusGood;
  items.clear();
  GS_3DLINES(false, nx, ny, data, xaxis, yaxis, 1, 1, nx, ny, "LINES", "X", "ROW", "Z", s);
  ASSERT_EQ(s, kStatusGood);
  // Window widened by 50 pixels to the right and 25 upwards.
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  QG_INQ_DATAWINDOW(x1, y1, x2, y2, s);
  EXPECT_FLOAT_EQ(x2 - x1, 40.0f + 50.0f);
  EXPECT_FLOAT_EQ(y2 - y1, 50.0f + 25.0f);
  EXPECT_NE(text("LINES"), nullptr);
  EXPECT_NE(text("ROW"), nullptr);
  EXPECT_NE(text("0"), nullptr);  // the row axis starts at YSTRELM - 1

  // Rows beyond 10000 show their power of ten; flat data keeps its frame
  // (its rows drawn plainly: hidden-line removal of 30000 rows is slow).
  items.clear();
  std::vector<float> tall(nx * 30000, 1.0f);
  std::vector<float> tall_y(30000);
  GS_3DLINES(false, nx, 30000, tall, xaxis, tall_y, 1, 1, nx, 30000, "FLAT", "", "", "", s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_NE(text("FLAT"), nullptr);
  EXPECT_NE(text("*10E4"), nullptr);
  EXPECT_NE(text("2.0"), nullptr);
}

// Rows without a finite value are not drawn: the one line that says why
// comes before (and instead of) the hidden-line warning; one piece of line
// between finite values says nothing of it.
TEST_F(HiddenLinesTest, RowsOfNoFiniteValueSaySo) {
  constexpr Index nx = 12, ny = 6;
  std::vector<float> data(nx * ny, std::numeric_limits<float>::quiet_NaN()), xaxis(nx), yaxis(ny);
  Status s = kStatusGood;
  for (const bool one_finite : {false, true}) {
    if (one_finite) data[element(4, 3, nx)] = data[element(5, 3, nx)] = 2.0f;
    testing::TerminalCapture terminal;
    items.clear();
    GS_3DLINES(true, nx, ny, data, xaxis, yaxis, 1, 1, nx, ny, "NONE", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(text("NONE") != nullptr, one_finite);
    EXPECT_EQ(items.empty(), !one_finite);
    if (one_finite)
      EXPECT_EQ(terminal.text().find("No finite"), std::string::npos) << terminal.text();
    else
      EXPECT_EQ(terminal.text(), "WARNING: No finite data value in the region to draw\n");
  }
  // Finite values none of which has a finite neighbour in its row (bad
  // pixels in a checkerboard) make no piece of line: said in one line, and
  // no empty axes drawn.
  for (Index j = 1; j <= ny; ++j)
    for (Index i = 1; i <= nx; ++i)
      data[element(i, j, nx)] = (i + j) % 2 == 0 ? 1.0f : std::numeric_limits<float>::quiet_NaN();
  testing::TerminalCapture terminal;
  items.clear();
  GS_3DLINES(true, nx, ny, data, xaxis, yaxis, 1, 1, nx, ny, "NONE", "", "", "", s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(terminal.text(), "WARNING: Nothing can be drawn: no row of the region has two "
                             "neighbouring finite values\n");
}

// Bad pixels (not a number) are gaps in their row: no segment reaches one,
// the hidden-line horizon has no height there, and infinite pixels stay
// inside the frame.
TEST_F(HiddenLinesTest, BadPixelsAreGapsInTheirRows) {
  constexpr Index nx = 32, ny = 24;
  std::vector<float> data(nx * ny), xaxis(nx), yaxis(ny);
  for (Index j = 0; j < ny; ++j)
    for (Index i = 0; i < nx; ++i) data[i + j * nx] = static_cast<float>(i);
  for (Index y = 11; y <= 14; ++y)
    for (Index x = 13; x <= 20; ++x) data[element(x, y, nx)] = NAN;
  data[element(3, 20, nx)] = INFINITY;
  data[element(4, 21, nx)] = -INFINITY;
  Status s = kStatusGood;
  for (const bool hidden : {false, true}) {
    items.clear();
    GS_3DLINES(hidden, nx, ny, data, xaxis, yaxis, 1, 1, nx, ny, "", "", "", "", s);
    ASSERT_EQ(s, kStatusGood);
    std::size_t rows = 0;
    for (const PageItem* line : of("polyline")) {
      if (line->clip.empty()) continue;  // frame and axes
      ++rows;
      for (std::size_t k = 0; k < line->x.size(); ++k) {
        ASSERT_TRUE(std::isfinite(line->x[k]) && std::isfinite(line->y[k])) << hidden;
        EXPECT_GE(line->x[k], line->clip[0] - 1e-5f) << hidden;
        EXPECT_GE(line->y[k], line->clip[1] - 1e-5f) << hidden;
        EXPECT_LE(line->x[k], line->clip[2] + 1e-5f) << hidden;
        EXPECT_LE(line->y[k], line->clip[3] + 1e-5f) << hidden;
      }
    }
    // Without hidden lines, the four rows with bad pixels in two pieces.
    if (!hidden) {
      EXPECT_EQ(rows, static_cast<std::size_t>(ny + 4));
    }
  }

  // Row 0 level at 10 with a gap over columns 5-8; rows 1 and 2 lower. In
  // the gap row 1 shows, and hides row 2.
  constexpr Index wide = 12;
  std::vector<float> rows3(wide * 3);
  for (Index i = 0; i < wide; ++i) {
    rows3[i] = i >= 4 && i <= 7 ? NAN : 10.0f;
    rows3[i + wide] = 5.0f;
    rows3[i + 2 * wide] = 2.0f;
  }
  QG_DATAWINDOW(0, 0, 20, 20, s);
  QG_VIEWPORT(0, 0, 1, 1, s);
  items.clear();
  GS_3DHIDELINES(wide, 3, rows3, 1, 1, wide, 3, 0.0f, 10.0f, 1.0e6f, 10000, s);
  ASSERT_EQ(s, kStatusGood);
  bool row1_in_gap = false;
  for (const PageItem* line : of("polyline"))
    for (std::size_t k = 0; k + 1 < line->x.size(); ++k) {
      const float xa = line->x[k] * 20.0f, xb = line->x[k + 1] * 20.0f;
      const float ya = line->y[k] * 20.0f, yb = line->y[k + 1] * 20.0f;
      ASSERT_TRUE(std::isfinite(xa + xb + ya + yb));
      const bool in_gap = std::max(xa, xb) > 4.5f && std::min(xa, xb) < 7.5f;
      if (!in_gap) continue;
      EXPECT_FALSE(std::abs(ya - 10.0f) < 0.1f && std::abs(yb - 10.0f) < 0.1f)
          << "row 0 drawn across its gap at " << xa << ".." << xb;
      EXPECT_FALSE(std::abs(ya - 2.0f) < 0.1f && std::abs(yb - 2.0f) < 0.1f)
          << "row 2 drawn under row 1 at " << xa << ".." << xb;
      row1_in_gap |= std::abs(ya - 5.0f) < 0.1f && std::abs(yb - 5.0f) < 0.1f;
    }
  EXPECT_TRUE(row1_in_gap);
}

// A constant image is a plane at its value: its rows are drawn (each lifted
// above the one before), with and without hidden lines, inside the frame
// of the widened range; an image with no number at all has none.
TEST_F(HiddenLinesTest, ConstantImageShowsItsRows) {
  constexpr Index nx = 20, ny = 8;
  std::vector<float> data(nx * ny, 5.0f), xaxis(nx), yaxis(ny);
  std::vector<float> none(nx * ny, NAN);
  Status s = kStatusGood;
  for (const bool hidden : {false, true}) {
    for (const std::vector<float>* image : {&data, &none}) {
      items.clear();
      GS_3DLINES(hidden, nx, ny, *image, xaxis, yaxis, 1, 1, nx, ny, "", "", "", "", s);
      ASSERT_EQ(s, kStatusGood);
      SCOPED_TRACE(hidden);
      const std::size_t rows = rows_inside_their_frame();
      if (image == &data)
        EXPECT_EQ(rows, static_cast<std::size_t>(ny)) << hidden;
      else
        EXPECT_EQ(rows, 0u) << hidden;
    }
  }
}

// Values near the float limit (a constant, rows from its negative to it):
// the rows stay inside their frame, every text is on the page and the
// numbers beside the rows take a power of ten.
TEST_F(HiddenLinesTest, ValuesNearTheFloatLimit) {
  constexpr Index nx = 12, ny = 6;
  constexpr float kMax = std::numeric_limits<float>::max();
  std::vector<float> held(nx * ny, 3.2e38f), span(nx * ny), xaxis(nx), yaxis(ny);
  for (Index j = 0; j < ny; ++j)
    for (Index i = 0; i < nx; ++i)
      span[i + j * nx] = (static_cast<float>(i) / (nx - 1) * 2.0f - 1.0f) * kMax;
  Status s = kStatusGood;
  for (const bool hidden : {false, true}) {
    for (const std::vector<float>* image : {&held, &span}) {
      SCOPED_TRACE(::testing::Message() << hidden << " " << (*image)[0]);
      items.clear();
      GS_3DLINES(hidden, nx, ny, *image, xaxis, yaxis, 1, 1, nx, ny, "LINES", "X", "ROW", "Z", s);
      ASSERT_EQ(s, kStatusGood);
      EXPECT_GE(rows_inside_their_frame(), static_cast<std::size_t>(ny));
      for (const PageItem* t : texts_off_page()) ADD_FAILURE() << t->text << " at " << t->x[0];
      EXPECT_LT(of("text").size(), 60u);
      EXPECT_NE(text("*10E38"), nullptr);
      EXPECT_NE(text("LINES"), nullptr);
    }
  }
}

}  // namespace
}  // namespace kesta
