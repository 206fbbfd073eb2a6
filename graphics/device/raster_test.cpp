#include "graphics/device/raster.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/status.hpp"
#include "graphics/device/driver.hpp"
#include "graphics/device/kernel.hpp"

namespace kesta {
namespace {

// A raster whose world coordinates are raster coordinates (cell i covers
// i - 1 .. i), rows stored bottom first unless flipped.
class Raster : public ::testing::Test {
 protected:
  void SetUp() override {
    ST_DEF_SYSTEM(status);
    QG_OPEN(0, status);
    QgDbRastermode& r = qg_db_rastermode;
    r.x_scale = r.y_scale = 1.0f;
    r.x_offset = r.y_offset = 0.0f;
    r.device_flag = 0;
    r.line_colour = 7;
    qg_db_brastermode.fill_byte = 3;
  }
  void TearDown() override { QG_OPEN(0, status); }
  // Rows from the top as text: '.' for 0, else the byte's last digit.
  std::vector<std::string> picture() const {
    std::vector<std::string> rows;
    for (Index j = height; j >= 1; --j) {
      std::string row;
      for (Index i = 1; i <= width; ++i) {
        const int v = cells[static_cast<std::size_t>(element(i, j, width))];
        row += v == 0 ? '.' : static_cast<char>('0' + v % 10);
      }
      rows.push_back(row);
    }
    return rows;
  }
  Status status = ST_GOOD();
  Index width = 6, height = 5;
  std::vector<std::uint8_t> cells = std::vector<std::uint8_t>(30, 0);
};

TEST_F(Raster, LinePaintsBresenhamCellsIncludingBothEnds) {
  const float x[2] = {0.5f, 3.5f}, y[2] = {0.5f, 1.5f};
  QG_RAS_PL(2, x, y, width, height, cells, status);
  EXPECT_EQ(picture(), (std::vector<std::string>{"......", "......", "......", "..77..", "77...."}));
  // Y-major, right to left.
  std::fill(cells.begin(), cells.end(), 0);
  const float x2[2] = {5.5f, 4.5f}, y2[2] = {0.5f, 4.5f};
  QG_RAS_PL(2, x2, y2, width, height, cells, status);
  EXPECT_EQ(picture(), (std::vector<std::string>{"....7.", "....7.", "....7.", ".....7", ".....7"}));
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(Raster, BresenhamTiesStepAtZeroErrorSoDirectionMatters) {
  // Cells worked out by hand: the error reaches exactly 0 on every second
  // step, and the side step is taken then, so a line and its reverse differ.
  struct Case {
    float x1, y1, x2, y2;
    std::vector<std::string> picture;
  };
  const Case cases[] = {
      {0.5f, 0.5f, 4.5f, 2.5f, {"......", "......", "...77.", ".77...", "7....."}},
      {4.5f, 2.5f, 0.5f, 0.5f, {"......", "......", "....7.", "..77..", "77...."}},
      {0.5f, 0.5f, 2.5f, 4.5f, {"..7...", "..7...", ".7....", ".7....", "7....."}},
  };
  for (const Case& c : cases) {
    std::fill(cells.begin(), cells.end(), 0);
    const float x[2] = {c.x1, c.x2}, y[2] = {c.y1, c.y2};
    QG_RAS_PL(2, x, y, width, height, cells, status);
    EXPECT_EQ(picture(), c.picture) << c.x1 << "," << c.y1 << " to " << c.x2 << "," << c.y2;
  }
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(Raster, FarAwayPointsNeitherWrapNorStall) {
  const float x[2] = {-1.0e30f, 1.0e30f}, y[2] = {2.5f, 2.5f};
  QG_RAS_PL(2, x, y, width, height, cells, status);
  EXPECT_EQ(picture()[2], "777777");
  const float nx[2] = {1.0e30f, 2.0e30f}, ny[2] = {-3.0e38f, 3.0e38f};
  QG_RAS_PL(2, nx, ny, width, height, cells, status);  // wholly outside
  EXPECT_EQ(picture()[0], "......");
  const float fx[3] = {-1.0e30f, 1.0e30f, 1.0e30f}, fy[3] = {-1.0e30f, -1.0e30f, 1.0e30f};
  QG_RAS_FA(3, fx, fy, width, height, cells, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(cells[static_cast<std::size_t>(element(6, 1, width))], 3);
}

TEST_F(Raster, LinesLeavingTheRasterPaintWhatTheWholeWalkPaints) {
  // The cells on the raster are those of the full walk from end to end,
  // however far outside the ends lie.
  auto walk = [&](float xa, float ya, float xb, float yb) {
    std::vector<std::uint8_t> want(cells.size(), 0);
    auto paint = [&](long i, long j) {
      if (i >= 1 && i <= width && j >= 1 && j <= height)
        want[static_cast<std::size_t>(element(i, j, width))] = 7;
    };
    long i = static_cast<long>(std::trunc(xa)) + 1, j = static_cast<long>(std::trunc(ya)) + 1;
    const long dx = static_cast<long>(std::trunc(xb)) + 1 - i;
    const long dy = static_cast<long>(std::trunc(yb)) + 1 - j;
    const long ax = 2 * std::labs(dx), ay = 2 * std::labs(dy);
    const long sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    const bool x_major = ay < ax;
    long e = x_major ? -(ax / 2) : -(ay / 2);
    for (long step = 0; step <= (x_major ? std::labs(dx) : std::labs(dy)); ++step) {
      e += x_major ? ay : ax;
      paint(i, j);
      if (e >= 0) {
        (x_major ? j : i) += x_major ? sy : sx;
        e -= x_major ? ax : ay;
      }
      (x_major ? i : j) += x_major ? sx : sy;
    }
    return want;
  };
  const float segments[][4] = {
      {11.5f, 23.0f, -17.0f, -38.5f}, {41.0f, -32.5f, -30.5f, 30.0f}, {-36.0f, 4.5f, 34.5f, -0.5f},
      {4.5f, -1.5f, -1.5f, 43.5f},    {-8.5f, 14.0f, 29.5f, -23.0f},  {9.0f, -10.0f, -14.0f, 23.5f},
      {-37.3f, -2.2f, 55.8f, 9.9f},   {-30.5f, -30.5f, 30.5f, 30.5f}, {3.5f, 2.5f, 90.0f, 2.9f},
  };
  for (const auto& sgm : segments) {
    std::fill(cells.begin(), cells.end(), 0);
    const float x[2] = {sgm[0], sgm[2]}, y[2] = {sgm[1], sgm[3]};
    QG_RAS_PL(2, x, y, width, height, cells, status);
    EXPECT_EQ(cells, walk(sgm[0], sgm[1], sgm[2], sgm[3]))
        << sgm[0] << "," << sgm[1] << " to " << sgm[2] << "," << sgm[3];
  }
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(Raster, FlippedRasterStoresRowOneLast) {
  qg_db_rastermode.device_flag = 1;
  const float x[2] = {0.5f, 5.5f}, y[2] = {0.5f, 0.5f};
  QG_RAS_PL(2, x, y, width, height, cells, status);
  EXPECT_EQ(picture()[0], "777777");  // the last stored row
}

TEST_F(Raster, FillPaintsBetweenOutermostCrossingsOfEachRowCentre) {
  // Triangle (0,0), (4,0), (0,4).
  const float x[3] = {0, 4, 0}, y[3] = {0, 0, 4};
  QG_RAS_FA(3, x, y, width, height, cells, status);
  EXPECT_EQ(picture(), (std::vector<std::string>{"......", "33....", "333...", "3333..", "33333."}));
  // Square 1..5 x 1..4: rows by centre, columns up to the cell after the right edge.
  std::fill(cells.begin(), cells.end(), 0);
  const float sx[4] = {1, 5, 5, 1}, sy[4] = {1, 1, 4, 4};
  QG_RAS_FA(4, sx, sy, width, height, cells, status);
  EXPECT_EQ(picture(), (std::vector<std::string>{"......", ".33333", ".33333", ".33333", "......"}));
}

TEST_F(Raster, CountsAreChecked) {
  std::vector<float> x(kMaxFillPoints + 1, 1.0f), y(kMaxFillPoints + 1, 1.0f);
  QG_RAS_FA(2, x, y, width, height, cells, status);
  EXPECT_EQ(status, 130017);
  status = ST_GOOD();
  QG_RAS_FA(kMaxFillPoints + 1, x, y, width, height, cells, status);
  EXPECT_EQ(status, 130009);
  ST_DEF_SYSTEM(status);
  QG_RAS_PL(1, x, y, width, height, cells, status);
  EXPECT_EQ(status, 130017);
  EXPECT_EQ(st_position(), "Function QG_RAS_PL V0.4");
  status = ST_GOOD();
  QG_RAS_PL(2, x, y, 7, height, cells, status);  // raster larger than its bytes
  EXPECT_NE(status, ST_GOOD());
}

TEST_F(Raster, ImagePatchMapsDataAndMaskOntoTheQuadrilateral) {
  width = height = 4;
  cells.assign(16, 0);
  const float data[4] = {0, 1, 2, 3};
  const std::uint8_t mask[4] = {0, 0, 0, 1};
  QG_RAS_3DMIMAGE(true, 0, 3, 0, 0, 4, 0, 4, 4, 0, 4, 2, 2, 1, 1, 2, 2, data, mask, 9, width,
                  height, cells, status);
  ASSERT_EQ(status, ST_GOOD());
  // Index = 49 + round(value x 202 / 3), limited to 250; masked: 9.
  auto at = [&](Index i, Index j) { return static_cast<int>(cells[static_cast<std::size_t>(element(i, j, 4))]); };
  EXPECT_EQ(at(1, 1), 49);
  EXPECT_EQ(at(2, 2), 49);
  EXPECT_EQ(at(3, 1), 116);
  EXPECT_EQ(at(4, 2), 116);
  EXPECT_EQ(at(1, 3), 184);
  EXPECT_EQ(at(2, 4), 184);
  EXPECT_EQ(at(3, 3), 9);
  EXPECT_EQ(at(4, 4), 9);
  // A value that is not a number takes the mask colour, shown mask or not.
  const float odd[4] = {std::nanf(""), 1, 2, 3};
  QG_RAS_3DMIMAGE(false, 0, 3, 0, 0, 4, 0, 4, 4, 0, 4, 2, 2, 1, 1, 2, 2, odd, mask, 9, width,
                  height, cells, status);
  EXPECT_EQ(at(1, 1), 9);
  EXPECT_EQ(at(3, 1), 116);
  EXPECT_EQ(at(4, 4), 250);
  QG_RAS_3DMIMAGE(false, 0, 3, 0, 0, 4, 0, 4, 4, 0, 4, 2, 2, 1, 1, 3, 2, data, mask, 9, width,
                  height, cells, status);
  EXPECT_EQ(status, 130005);
}

TEST(TriangleScan, LimitsOfEachRow) {
  int xa, ya, xb, yb, xc, yc;
  QG_RAS_ORDERY(0, 4, 4, 0, 0, 0, xa, ya, xb, yb, xc, yc);
  EXPECT_EQ((std::vector<int>{xa, ya, xb, yb, xc, yc}), (std::vector<int>{4, 0, 0, 0, 0, 4}));
  std::vector<int> xmin(kTriangleRows), xmax(kTriangleRows);
  Status status = ST_GOOD();
  QG_RAS_TRIXLIMITS(0, 0, 4, 0, 0, 4, kTriangleRows, xmin, xmax, status);
  EXPECT_EQ(std::vector<int>(xmin.begin(), xmin.begin() + 5), (std::vector<int>{0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<int>(xmax.begin(), xmax.begin() + 5), (std::vector<int>{4, 3, 2, 1, 0}));
  // B left of the long edge: A-B and B-C bound the left side.
  QG_RAS_TRIXLIMITS(2, 0, 0, 2, 2, 4, kTriangleRows, xmin, xmax, status);
  EXPECT_EQ(std::vector<int>(xmin.begin(), xmin.begin() + 5), (std::vector<int>{2, 1, 0, 1, 2}));
  EXPECT_EQ(std::vector<int>(xmax.begin(), xmax.begin() + 5), (std::vector<int>{2, 2, 2, 2, 2}));
  QG_RAS_TRIXLIMITS(0, 0, 1, 0, 5, 0, kTriangleRows, xmin, xmax, status);
  EXPECT_EQ(xmin[0], 0);
  EXPECT_EQ(xmax[0], 5);
  EXPECT_EQ(status, ST_GOOD());
  QG_RAS_TRIXLIMITS(0, 0, 1, 10, 0, kTriangleRows, kTriangleRows, xmin, xmax, status);
  EXPECT_EQ(status, 37);
}

TEST(TriangleScan, LineCrossingHeight) {
  EXPECT_FLOAT_EQ(QG_RAS_XINTER(2.0f, 1.0f, 5.0f), 2.0f);
  EXPECT_FLOAT_EQ(QG_RAS_XINTER(1.7e38f, 3.0f, 5.0f), 3.0f);
  EXPECT_GT(QG_RAS_XINTER(0.0f, 5.0f, 5.0f), 1.0e38f);
  EXPECT_LT(QG_RAS_XINTER(0.0f, 5.0f, 4.0f), -1.0e38f);
}

}  // namespace
}  // namespace kesta
