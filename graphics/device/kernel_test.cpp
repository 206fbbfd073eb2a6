#include "graphics/device/kernel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "graphics/device/device_test_support.hpp"

namespace kesta {
namespace {

using testing::add_recording_workstation;
using testing::RecordingDriver;

class Kernel : public ::testing::Test {
 protected:
  void SetUp() override {
    ST_DEF_SYSTEM(status);
    QG_OPEN(0, status);
    ASSERT_EQ(status, ST_GOOD());
  }
  void TearDown() override { io_close_stream(kStreamDefaults); }
  int count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& s) {
      return s.rfind(prefix, 0) == 0;
    }));
  }
  Status status = ST_GOOD();
  std::vector<std::string> log;
  testing::TerminalCapture terminal;
  testing::TempDir dir;
};

TEST_F(Kernel, ClosingMovesLaterSlotsDownWithTheirPageExtent) {
  add_recording_workstation(1, &log);
  add_recording_workstation(2, &log);
  QG_TEXTHEIGHT(0.02f, status);
  ASSERT_TRUE(io_open_stream(kStreamDefaults, dir.file("a.ps"), "w"));
  QG_OPEN_WK(3, kStreamDefaults, 22, status);  // landscape PostScript
  ASSERT_EQ(status, ST_GOOD());
  ASSERT_EQ(qg_find_workstation(3), 2);
  QG_CLOSE_WK(2, status);
  EXPECT_EQ(qg_db_system.number_workstations, 2);
  EXPECT_EQ(qg_find_workstation(3), 1);
  float x = 0, y = 0;
  QG_INQ_MAXPC(3, x, y, status);
  EXPECT_FLOAT_EQ(x, 1.0f);
  EXPECT_FLOAT_EQ(y, kPageShortSide);
  QG_INQ_MAXPC(99, x, y, status);
  EXPECT_FLOAT_EQ(x, 0.7071f);
  EXPECT_FLOAT_EQ(y, 1.0f);
  // The freed PostScript slot is reused by the next PostScript workstation.
  QG_CLOSE_WK(3, status);
  QG_OPEN_WK(4, kStreamDefaults, 21, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(qg_find_workstation(4), 1);
}

TEST_F(Kernel, EleventhWorkstationIsRefused) {
  for (int id = 1; id <= kMaxWorkstations; ++id) add_recording_workstation(id, &log);
  QG_OPEN_WK(11, kStreamDefaults, 21, status);
  EXPECT_EQ(status, 132002);
  EXPECT_NE(terminal.text().find("WARNING: Maximum number of workstations are already open (QG_OPEN_WK)"),
            std::string::npos);
  EXPECT_EQ(qg_db_system.number_workstations, kMaxWorkstations);
}

TEST_F(Kernel, WindowThatCannotOpenFailsAndLeavesTableAlone) {
  // A display number no server listens on, whatever DISPLAY the test run has.
  const char* saved = std::getenv("DISPLAY");
  const std::string saved_display = saved != nullptr ? saved : "";
  setenv("DISPLAY", ":4093", 1);
  QG_OPEN_WK(1, 0, 11, status);
  if (saved != nullptr)
    setenv("DISPLAY", saved_display.c_str(), 1);
  else
    unsetenv("DISPLAY");
  EXPECT_EQ(status, 132001);
  EXPECT_EQ(st_position(), "Subroutine QG_X11_OPEN V0.7");
  EXPECT_NE(terminal.text().find("WARNING: X-11 workstation not opened successfully (QG_OPEN_WK)"),
            std::string::npos);
  EXPECT_EQ(qg_db_system.number_workstations, 0);
  EXPECT_EQ(qg_db_openwk.x11, 0);
}

TEST_F(Kernel, MisuseOnlyWritesALine) {
  struct Case {
    std::function<void(Status&)> call;
    std::string line;
  };
  add_recording_workstation(1, &log);  // active
  const std::vector<Case> cases = {
      {[](Status& s) { QG_ACTIVATE_WK(1, s); }, "WARNING: Workstation is already active (QG_ACTIVATE_WK)"},
      {[](Status& s) { QG_ACTIVATE_WK(5, s); }, "ERROR: Workstation ID is unknown (QG_ACTIVATE_WK)"},
      {[](Status& s) { QG_CLOSE_WK(5, s); }, "ERROR: Workstation ID is unknown (QG_CLOSE_WK)"},
      {[](Status& s) { QG_UPDATE(5, 0, s); }, "ERROR: Workstation ID is unknown (QG_UPDATE)"},
      {[](Status& s) { QG_OPEN_WK(6, 0, 31, s); }, "WARNING: Unknown graphics device type (QG_OPEN_WK)"},
      {[](Status& s) { QG_OPEN_WK(1, 0, 21, s); }, "WARNING: Workstation already open (QG_OPEN_WK)"},
      {[](Status& s) {
         QG_DEACTIVATE_WK(1, s);
         QG_DEACTIVATE_WK(1, s);
       },
       "WARNING: Workstation is not active (QG_DEACTIVATE_WK)"},
      {[](Status& s) {
         QG_CLOSE(s);
         QG_OPEN_WK(7, 0, 21, s);
       },
       "WARNING: Qivo Graphics system is not open (QG_OPEN_WK)"},
      {[](Status& s) { QG_CLOSE(s); }, "WARNING: Qivo Graphics system is already closed ! (QG_CLOSE)"},
  };
  for (const Case& c : cases) {
    c.call(status);
    EXPECT_EQ(status, ST_GOOD()) << c.line;
    EXPECT_NE(terminal.text().find(c.line), std::string::npos) << c.line;
  }
  EXPECT_EQ(qg_db_system.number_workstations, 1);
}

TEST_F(Kernel, PostScriptThatCannotStartLeavesTableAlone) {
  ASSERT_TRUE(io_open_stream(kStreamDefaults, dir.file("b.ps"), "w"));
  QG_OPEN_WK(2, kStreamDefaults, 21, status);  // no text height set yet
  EXPECT_EQ(status, 130021);
  EXPECT_EQ(qg_db_system.number_workstations, 0);
  EXPECT_EQ(qg_db_openwk.postscript, 0);
  status = ST_GOOD();
  QG_TEXTHEIGHT(0.02f, status);
  QG_OPEN_WK(2, 55, 21, status);  // nothing open on stream 55
  EXPECT_EQ(status, 11010);
  EXPECT_EQ(qg_db_system.number_workstations, 0);
  // One window at a time: a second one is refused before any device is asked.
  status = ST_GOOD();
  qg_db_openwk.x11 = 1;
  QG_OPEN_WK(1, 0, 12, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_NE(terminal.text().find("WARNING: Maximum number of X-11 workstations are already open (QG_OPEN_WK)"),
            std::string::npos);
  EXPECT_EQ(qg_db_system.number_workstations, 0);
}

TEST_F(Kernel, BadIdentifierIsAnArgumentError) {
  QG_OPEN_WK(0, 0, 21, status);
  EXPECT_EQ(status, 130017);
}

TEST_F(Kernel, WorldAndPageCoordinatesConvertBothWays) {
  EXPECT_FLOAT_EQ(QG_WC2PC(true, 0.5f, status), 0.5f);
  QG_DATAWINDOW(0, 0, 100, 50, status);
  QG_VIEWPORT(0.1f, 0.2f, 0.6f, 0.7f, status);
  EXPECT_NEAR(QG_WC2PC(true, 50, status), 0.35f, 1e-6);
  EXPECT_NEAR(QG_WC2PC(false, 25, status), 0.45f, 1e-6);
  EXPECT_NEAR(QG_PC2WC(true, 0.35f, status), 50.0f, 1e-4);
  float xs = 0, ys = 0;
  QG_INQ_SCALING(xs, ys, status);
  EXPECT_FLOAT_EQ(xs, 0.005f);
  EXPECT_FLOAT_EQ(ys, 0.01f);
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(Kernel, BadWindowIsRefusedAndKeepsThePreviousOne) {
  QG_DATAWINDOW(0, 0, 10, 10, status);
  QG_DATAWINDOW(1, 0, 1, 1, status);
  EXPECT_EQ(status, 130013);
  EXPECT_NE(terminal.text().find("ERROR: QG_DATAWINDOW:"), std::string::npos);
  EXPECT_NE(terminal.text().find("x_min_wc, x_max_wc =  1.00000E+00 1.00000E+00"), std::string::npos);
  status = ST_GOOD();
  QG_VIEWPORT(0, 1, 1, 1, status);
  EXPECT_EQ(status, 130014);
  status = ST_GOOD();
  float x1, y1, x2, y2;
  QG_INQ_DATAWINDOW(x1, y1, x2, y2, status);
  EXPECT_EQ(x2, 10.0f);
  EXPECT_EQ(y2, 10.0f);
}

TEST_F(Kernel, UnityTransformSavesOneLevelAndReachesOpenWorkstations) {
  QG_UNITYTRANSFORM(false, status);
  EXPECT_EQ(status, 131007);
  status = ST_GOOD();
  add_recording_workstation(1, &log);
  QG_DEACTIVATE_WK(1, status);  // open but not active: still follows the transform
  QG_DATAWINDOW(0, 0, 100, 50, status);
  QG_UNITYTRANSFORM(true, status);
  float x1, y1, x2, y2;
  QG_INQ_DATAWINDOW(x1, y1, x2, y2, status);
  EXPECT_EQ(x2, 1.0f);
  QG_UNITYTRANSFORM(false, status);
  QG_INQ_DATAWINDOW(x1, y1, x2, y2, status);
  EXPECT_EQ(x2, 100.0f);
  EXPECT_EQ(y2, 50.0f);
  EXPECT_EQ(status, ST_GOOD());
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "transform 0 0 100 50 0 0 0.7071 1");
}

TEST_F(Kernel, ClipWindowTakesEffectOnlyAtClip) {
  add_recording_workstation(1, &log);
  QG_CLIPWINDOW(0, 0, 0.5f, 0.5f, status);
  EXPECT_TRUE(log.empty());
  QG_CLIP(true, status);
  EXPECT_EQ(log, std::vector<std::string>{"clip on"});
}

TEST_F(Kernel, AttributeSettersSendOnlyChanges) {
  add_recording_workstation(1, &log);
  const std::vector<std::pair<std::string, std::function<void(Status&)>>> setters = {
      {"line_colour", [](Status& s) { QG_LINECOLOUR(5, s); }},
      {"line_style", [](Status& s) { QG_LINESTYLE(3, s); }},
      {"line_width", [](Status& s) { QG_LINEWIDTH(2.0f, s); }},
      {"fill_colour", [](Status& s) { QG_FILLCOLOUR(7, s); }},
      {"marker_type", [](Status& s) { QG_MARKERTYPE(4, s); }},
      {"marker_colour", [](Status& s) { QG_MARKERCOLOUR(9, s); }},
      {"marker_scale", [](Status& s) { QG_MARKERSCALE(2.0f, s); }},
      {"marker_width", [](Status& s) { QG_MARKERWIDTH(3.0f, s); }},
      {"text_font", [](Status& s) { QG_TEXTFONT(2, s); }},
      {"text_height", [](Status& s) { QG_TEXTHEIGHT(0.03f, s); }},
      {"text_colour", [](Status& s) { QG_TEXTCOLOUR(11, s); }},
      {"text_alignment", [](Status& s) { QG_TEXTALIGNMENT(2, 3, s); }},
      {"text_angle", [](Status& s) { QG_TEXTANGLE(45.0f, s); }},
  };
  for (const auto& [name, set] : setters) {
    set(status);
    set(status);
    EXPECT_EQ(count(name), 1) << name;
  }
  EXPECT_EQ(status, ST_GOOD());
  // The defaults are "stored" already: setting them sends nothing.
  log.clear();
  QG_OPEN(0, status);
  add_recording_workstation(1, &log);
  QG_LINECOLOUR(1, status);
  QG_FILLCOLOUR(2, status);
  QG_MARKERTYPE(2, status);
  EXPECT_TRUE(log.empty());
}

TEST_F(Kernel, ColourIndicesAbove255AreRefused) {
  add_recording_workstation(1, &log);
  const std::vector<std::function<void(int, Status&)>> setters = {
      QG_LINECOLOUR, QG_FILLCOLOUR, QG_MARKERCOLOUR, QG_TEXTCOLOUR};
  for (const auto& set : setters) {
    Status s = ST_GOOD();
    set(256, s);
    EXPECT_EQ(s, 130017);
    s = ST_GOOD();
    set(255, s);
    EXPECT_EQ(s, ST_GOOD());
  }
  EXPECT_EQ(log.size(), 4u);
  EXPECT_NE(terminal.text().find("Error: colour_index =        256"), std::string::npos);
  Status s = ST_GOOD();
  QG_LINECOLOUR(-1, s);  // inverse video
  EXPECT_EQ(s, ST_GOOD());
  QG_TEXTFONT(3, s);
  EXPECT_EQ(s, 130017);
  EXPECT_NE(terminal.text().find("font_index =      3"), std::string::npos);
}

TEST_F(Kernel, TextHeightIsPageUnitsWithALowerLimit) {
  add_recording_workstation(1, &log);
  QG_DATAWINDOW(0, 0, 100, 100, status);
  QG_TEXTHEIGHT(0.1f, status);  // 0.001 page units
  QG_TEXTHEIGHT(5.0f, status);  // 0.05 page units
  EXPECT_EQ(count("text_height 0.005"), 1);
  EXPECT_EQ(count("text_height 0.05"), 1);
  QG_TEXTHEIGHT(0.0f, status);
  EXPECT_EQ(status, 130021);
}

TEST_F(Kernel, WindowFailureSetsStatusAndOthersStillDraw) {
  std::vector<std::string> other;
  add_recording_workstation(1, &log, kCategoryX11, 1);
  add_recording_workstation(3, &other);
  const float x[2] = {0, 1}, y[2] = {0, 1};
  QG_POLYLINE(2, x, y, status);
  EXPECT_EQ(status, 130001);
  EXPECT_EQ(other, std::vector<std::string>{"polyline 2"});
  status = ST_GOOD();
  QG_CLEAR(status);
  EXPECT_EQ(status, 139999);
}

TEST_F(Kernel, PolygonCountsAreDecidedByTheKernel) {
  add_recording_workstation(1, &log);
  std::vector<float> x(kMaxFillPoints + 1, 0.5f), y(kMaxFillPoints + 1, 0.5f);
  QG_FILLAREA(2, x, y, status);
  EXPECT_EQ(status, 130017);
  status = ST_GOOD();
  QG_FILLAREA(kMaxFillPoints + 1, x, y, status);
  EXPECT_EQ(status, 130009);
  EXPECT_TRUE(log.empty());
  status = ST_GOOD();
  QG_FILLAREA(kMaxFillPoints, x, y, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(log, std::vector<std::string>{"fill_area 200"});
  // Lines need two points, markers one.
  QG_POLYLINE(1, x, y, status);
  EXPECT_EQ(status, 130017);
  status = ST_GOOD();
  QG_POLYMARKER(1, x, y, status);
  EXPECT_EQ(status, ST_GOOD());
  // A count beyond the arrays is refused, not read past their end.
  QG_POLYMARKER(kMaxFillPoints + 2, x, y, status);
  EXPECT_EQ(status, 130002);
}

TEST_F(Kernel, ImageScalingRangeIsMadeUsable) {
  struct Case {
    bool log_scale;
    float min, max, want_min, want_max;
  };
  const Case cases[] = {
      {false, 5, 5, 4.5f, 5.5f},      {false, 0, 0, -0.1f, 0.1f},   {false, -5, -5, -5.5f, -4.5f},
      {false, 1, 3, 1, 3},            {true, 0, 500, 0.001f, 500},  {true, 0, 20000, 0.1f, 20000},
      {true, 0, 0.005f, 5e-6f, 0.005f}, {true, -3, -1, 1e-10f, 1e-9f}, {true, 4, 4, 2, 8},
  };
  for (const Case& c : cases) {
    float lo = c.min, hi = c.max;
    qg_image_scaling_range(c.log_scale, lo, hi);
    EXPECT_FLOAT_EQ(lo, c.want_min) << c.min << " " << c.max;
    EXPECT_FLOAT_EQ(hi, c.want_max) << c.min << " " << c.max;
    EXPECT_LT(lo, hi);
  }
  // A constant near the float limit is widened to the limit, not past it.
  constexpr float kMax = std::numeric_limits<float>::max();
  const Case near_limit[] = {
      {false, 3.2e38f, 3.2e38f, 2.88e38f, kMax}, {false, kMax, kMax, 0.9f * kMax, kMax},
      {false, -kMax, -kMax, -kMax, -0.9f * kMax}, {true, 3.0e38f, 3.0e38f, 1.5e38f, kMax}};
  for (const Case& c : near_limit) {
    float lo = c.min, hi = c.max;
    qg_image_scaling_range(c.log_scale, lo, hi);
    EXPECT_FLOAT_EQ(lo, c.want_min) << c.min;
    EXPECT_FLOAT_EQ(hi, c.want_max) << c.min;
    // (the largest float is within four steps of infinity)
    EXPECT_TRUE(std::isfinite(lo) && std::isfinite(hi)) << c.min;
  }
  add_recording_workstation(1, &log);
  const float data[4] = {5, 5, 5, 5};
  QG_REALCELLARRAY(0, 0, 1, 1, 2, 2, 1, 1, 2, 2, data, 5, 5, status);
  EXPECT_EQ(log, std::vector<std::string>{"real_cell_array 4.5 5.5"});
  QG_REALCELLARRAY(0, 0, 1, 1, 2, 2, 2, 1, 2, 2, data, 5, 5, status);
  EXPECT_EQ(status, 130005);
}

TEST_F(Kernel, RasterModeDrawsLinesAndFillsButSendsMarkersAndText) {
  RecordingDriver* d = add_recording_workstation(1, &log);
  d->geometry = {0, 10, 8, 10};
  QG_DATAWINDOW(0, 0, 1, 1, status);
  QG_VIEWPORT(0, 0, 1, 1, status);
  QG_SET_RASTERMODE(true, status);
  QG_SET_RASTERMODE(true, status);
  EXPECT_NE(terminal.text().find("WARNING: Raster mode is already enabled"), std::string::npos);
  ASSERT_TRUE(qg_db_rastermode.raster_mode);
  log.clear();
  QG_LINECOLOUR(5, status);  // kept for the raster
  QG_LINESTYLE(2, status);   // sent at once
  const float x[2] = {0.05f, 0.95f}, y[2] = {0.45f, 0.45f};
  QG_POLYLINE(2, x, y, status);
  QG_POLYMARKER(2, x, y, status);
  QG_TEXT(0.5f, 0.5f, "A", status);
  EXPECT_EQ(log, (std::vector<std::string>{"line_style 2", "polymarker 2", "text A"}));
  std::fill(qg_db_prastermode.raster.begin(), qg_db_prastermode.raster.end(), 0);
  QG_POLYLINE(2, x, y, status);  // row 5 of the 10 x 8 raster, columns 1..10
  log.clear();
  QG_SET_RASTERMODE(false, status);
  EXPECT_EQ(status, ST_GOOD());
  // The box keeps one background row on each side; the page is filled with
  // the background colour first; colours are brought back afterwards.
  EXPECT_EQ(log, (std::vector<std::string>{"transform 0 0 1 1 0 0 1 1", "fill_colour 0",
                                           "fill_area 4", "raster_image 1 4 10 6",
                                           "transform 0 0 1 1 0 0 1 1", "fill_colour 2",
                                           "line_colour 5"}));
  EXPECT_EQ(d->image_bytes[static_cast<std::size_t>(element(3, 5, 10))], 5);
  // The kernel freed its raster after the devices drew it.
  EXPECT_TRUE(qg_db_prastermode.raster.empty());
  EXPECT_FALSE(qg_db_rastermode.raster_mode);
  QG_SET_RASTERMODE(false, status);
  EXPECT_NE(terminal.text().find("WARNING: Raster mode is not enabled"), std::string::npos);
}

TEST_F(Kernel, RasterWithoutCommonCornersIsSentWholeWithoutBackground) {
  add_recording_workstation(1, &log);
  auto draw_corners = [] {
    auto& raster = qg_db_prastermode.raster;
    std::fill(raster.begin(), raster.end(), 0);
    raster[static_cast<std::size_t>(element(1, 1, 10))] = 1;
    raster[static_cast<std::size_t>(element(10, 1, 10))] = 2;
    raster[static_cast<std::size_t>(element(1, 8, 10))] = 3;
    raster[static_cast<std::size_t>(element(10, 8, 10))] = 4;
  };
  QG_SET_RASTERMODE(true, status);
  draw_corners();
  log.clear();
  QG_SET_RASTERMODE(false, status);
  EXPECT_EQ(count("fill_area"), 0);
  EXPECT_EQ(count("raster_image 1 1 10 8"), 1);
  // Colours the devices already hold are not sent again.
  EXPECT_EQ(count("fill_colour") + count("line_colour"), 0);
  // A colour changed while the raster had it reaches the devices at the end,
  // so that setting it again later (which sends nothing) draws in it.
  QG_SET_RASTERMODE(true, status);
  QG_LINECOLOUR(6, status);
  QG_FILLCOLOUR(8, status);
  draw_corners();
  log.clear();
  QG_SET_RASTERMODE(false, status);
  EXPECT_EQ(count("fill_colour 8"), 1);
  EXPECT_EQ(count("line_colour 6"), 1);
  EXPECT_EQ(status, ST_GOOD());
  // Any failure of a window while the raster goes out is the routine's failure.
  QG_OPEN(0, status);
  add_recording_workstation(1, &log, kCategoryX11, 1);
  QG_SET_RASTERMODE(true, status);
  QG_SET_RASTERMODE(false, status);
  EXPECT_EQ(status, 139999);
  EXPECT_EQ(st_position(), "Subroutine QG_SET_RASTERMODE V0.3");
}

TEST(BackgroundBox, FindsBackgroundAndKeepsOneCellMargin) {
  // 6 x 5 array of 9 with a 2 x 2 patch at columns 3..4, rows 2..3.
  std::vector<std::uint8_t> bytes(30, 9);
  for (Index y = 2; y <= 3; ++y)
    for (Index x = 3; x <= 4; ++x) bytes[static_cast<std::size_t>(element(x, y, 6))] = 1;
  Status status = ST_GOOD();
  int background = 0;
  Index x1, y1, x2, y2;
  QG_BMAXSETREGION(6, 5, 1, 1, 6, 5, bytes, background, x1, y1, x2, y2, status);
  EXPECT_EQ(background, 9);
  EXPECT_EQ((std::vector<Index>{x1, y1, x2, y2}), (std::vector<Index>{2, 1, 5, 4}));
  QG_BMAXSETREGION(6, 5, 0, 1, 6, 5, bytes, background, x1, y1, x2, y2, status);
  EXPECT_EQ(status, 20005);
}

}  // namespace
}  // namespace kesta
