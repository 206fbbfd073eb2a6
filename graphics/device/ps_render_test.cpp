// PostScript files rendered by Ghostscript: colours at known page positions.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/device/device_test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/ps_driver.hpp"

namespace kesta {
namespace {

using Colour = std::array<int, 3>;

bool near(const Colour& got, const Colour& want, int tolerance = 3) {
  for (int k = 0; k < 3; ++k)
    if (std::abs(got[static_cast<std::size_t>(k)] - want[static_cast<std::size_t>(k)]) > tolerance)
      return false;
  return true;
}

std::string text(const Colour& c) {
  return std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
}

class Rendering : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("gs --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no Ghostscript";
    ST_DEF_SYSTEM(status);
  }
  // Draws a raster-mode triangle, a red square, a 2 x 2 cell array (green,
  // blue / yellow, magenta) and a black text, then renders.
  testing::Rendered draw(int type) {
    const std::string path = dir.file("page" + std::to_string(type) + ".ps");
    {
      testing::PsFile file(path, type, status);
      // The raster comes first: ending raster mode paints the page in the
      // raster's background before the raster is drawn.
      QG_SET_RASTERMODE(true, status);
      QG_FILLCOLOUR(42, status);
      const float px[4] = {0, 0, 1, 1}, py[4] = {0, 1, 1, 0};
      QG_FILLAREA(4, px, py, status);
      QG_FILLCOLOUR(44, status);
      const float tx[3] = {0.4f, 0.6f, 0.4f}, ty[3] = {0.7f, 0.7f, 0.9f};
      QG_FILLAREA(3, tx, ty, status);
      QG_SET_RASTERMODE(false, status);
      QG_FILLCOLOUR(43, status);
      const float x[4] = {0.1f, 0.3f, 0.3f, 0.1f}, y[4] = {0.1f, 0.1f, 0.3f, 0.3f};
      QG_FILLAREA(4, x, y, status);
      const int cells[4] = {44, 45, 46, 47};
      QG_CELLARRAY(0.4f, 0.1f, 0.6f, 0.3f, 2, 2, 1, 1, 2, 2, cells, status);
      QG_TEXTCOLOUR(41, status);
      QG_TEXTHEIGHT(0.05f, status);
      QG_TEXT(0.1f, 0.6f, "WWW (x)", status);
      file.finish(status);
    }
    EXPECT_EQ(status, ST_GOOD());
    std::string log;
    EXPECT_TRUE(testing::gs_syntax_ok(path, &log)) << log;
    testing::Rendered page = testing::gs_render(path);
    EXPECT_TRUE(page.ok);
    EXPECT_EQ(page.width, 595);
    EXPECT_EQ(page.height, 842);
    return page;
  }
  // Pixel of a page position (page units, 0.1 pt = 1 / 7871 page unit).
  static std::pair<int, int> pixel(float px, float py, bool landscape) {
    const double x_pt = (180.0 + px * 7871.0) / 10.0;
    const double y_pt = (230.0 + py * 7871.0) / 10.0;
    if (!landscape) return {static_cast<int>(x_pt), static_cast<int>(842.0 - y_pt)};
    return {static_cast<int>(587.1 - y_pt), static_cast<int>(842.0 - x_pt)};
  }
  Colour at(const testing::Rendered& page, float px, float py, bool landscape = false) {
    const auto [x, y] = pixel(px, py, landscape);
    return page.at(x, y);
  }
  bool has_dark(const testing::Rendered& page, float x1, float y1, float x2, float y2) {
    const auto [a, b] = pixel(x1, y1, false);
    const auto [c, d] = pixel(x2, y2, false);
    for (int y = std::min(b, d); y <= std::max(b, d); ++y)
      for (int x = std::min(a, c); x <= std::max(a, c); ++x)
        if (page.at(x, y)[1] < 100) return true;
    return false;
  }
  Status status = ST_GOOD();
  testing::TempDir dir;
  testing::TerminalCapture terminal;
};

TEST_F(Rendering, ColourPortrait) {
  const testing::Rendered page = draw(21);
  ASSERT_TRUE(page.ok);
  struct Probe {
    float x, y;
    Colour want;
  };
  const Probe probes[] = {
      {0.2f, 0.2f, {255, 0, 0}},      {0.45f, 0.15f, {0, 255, 0}},   {0.55f, 0.15f, {0, 0, 255}},
      {0.45f, 0.25f, {255, 255, 0}},  {0.55f, 0.25f, {255, 0, 255}}, {0.45f, 0.75f, {0, 255, 0}},
      {0.58f, 0.88f, {255, 255, 255}}, {0.05f, 0.05f, {255, 255, 255}}, {0.35f, 0.2f, {255, 255, 255}},
  };
  for (const Probe& p : probes)
    EXPECT_TRUE(near(at(page, p.x, p.y), p.want)) << p.x << " " << p.y << ": " << text(at(page, p.x, p.y));
  EXPECT_TRUE(has_dark(page, 0.1f, 0.6f, 0.3f, 0.64f));
}

TEST_F(Rendering, GreyPortrait) {
  const testing::Rendered page = draw(23);
  ASSERT_TRUE(page.ok);
  const int red = static_cast<int>(0.5 * 255);  // grey of red
  const int green = static_cast<int>(0.39 * 255);
  const int blue = static_cast<int>(0.11 * 255);
  EXPECT_TRUE(near(at(page, 0.2f, 0.2f), {red, red, red})) << text(at(page, 0.2f, 0.2f));
  EXPECT_TRUE(near(at(page, 0.45f, 0.15f), {green, green, green})) << text(at(page, 0.45f, 0.15f));
  EXPECT_TRUE(near(at(page, 0.55f, 0.15f), {blue, blue, blue})) << text(at(page, 0.55f, 0.15f));
  EXPECT_TRUE(near(at(page, 0.45f, 0.75f), {green, green, green}));
  EXPECT_TRUE(near(at(page, 0.35f, 0.2f), {255, 255, 255}));
}

TEST_F(Rendering, ColourLandscape) {
  const testing::Rendered page = draw(22);
  ASSERT_TRUE(page.ok);
  EXPECT_TRUE(near(at(page, 0.2f, 0.2f, true), {255, 0, 0})) << text(at(page, 0.2f, 0.2f, true));
  EXPECT_TRUE(near(at(page, 0.55f, 0.25f, true), {255, 0, 255}));
  EXPECT_TRUE(near(at(page, 0.45f, 0.15f, true), {0, 255, 0}));
  EXPECT_TRUE(near(at(page, 0.35f, 0.2f, true), {255, 255, 255}));
  // The raster of a landscape page covers 1.0 x 0.7071: the triangle at
  // (0.4..0.6, 0.7..0.9) lies beyond the short side and is cut off.
  EXPECT_TRUE(near(at(page, 0.45f, 0.65f, true), {255, 255, 255}));
}

TEST_F(Rendering, GreyLandscape) {
  const testing::Rendered page = draw(24);
  ASSERT_TRUE(page.ok);
  const int red = static_cast<int>(0.5 * 255);
  EXPECT_TRUE(near(at(page, 0.2f, 0.2f, true), {red, red, red})) << text(at(page, 0.2f, 0.2f, true));
}

// A drawing over the whole page in each orientation lies inside the box the
// file declares, as Ghostscript's bbox device measures it.
TEST_F(Rendering, DeclaredBoundingBoxHoldsTheWholePage) {
  struct Case {
    int type;
    float width, height;
    const char* box;
  };
  const Case cases[] = {
      {21, kPageShortSide, 1.0f, "%%BoundingBox: 18 23 575 811"},
      {22, 1.0f, kPageShortSide, "%%BoundingBox: 7 18 565 806"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("full" + std::to_string(c.type) + ".ps");
    {
      testing::PsFile file(path, c.type, status);
      QG_FILLCOLOUR(41, status);
      // A hair inside the page: Ghostscript widens a fill by a fraction of
      // its pixel.
      const float in = 0.001f;
      const float x[4] = {in, c.width - in, c.width - in, in};
      const float y[4] = {in, in, c.height - in, c.height - in};
      QG_FILLAREA(4, x, y, status);
      file.finish(status);
    }
    const std::string log = path + ".bbox";
    ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox \"" + path + "\" 2> \"" +
                           log + "\" > /dev/null")
                              .c_str()),
              0);
    std::ifstream in(log);
    int measured[4] = {-1, -1, -1, -1};
    for (std::string line; std::getline(in, line);)
      if (line.rfind("%%BoundingBox:", 0) == 0)
        std::istringstream(line.substr(14)) >> measured[0] >> measured[1] >> measured[2] >> measured[3];
    const std::vector<std::string> lines = testing::read_lines(path);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], c.box);
    int declared[4] = {};
    std::istringstream(lines[1].substr(14)) >> declared[0] >> declared[1] >> declared[2] >> declared[3];
    EXPECT_LE(declared[0], measured[0]) << c.type;
    EXPECT_LE(declared[1], measured[1]) << c.type;
    EXPECT_GE(declared[2], measured[2]) << c.type;
    EXPECT_GE(declared[3], measured[3]) << c.type;
    EXPECT_GT(measured[2], 500) << "the drawing was measured";
  }
}

}  // namespace
}  // namespace kesta
