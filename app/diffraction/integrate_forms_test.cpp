#include "app/diffraction/integrate_forms.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "app/diffraction/geometry.hpp"
#include "core/defaults_db.hpp"
#include "core/macro.hpp"
#include "graphics/system/widget_test_support.hpp"

namespace kesta {
namespace {

// The forms answered by a replaying input macro: the window is never read.
struct FormsReplay : testing::WidgetFixture {
  testing::TempDir dir;
  void SetUp() override {
    WidgetFixture::SetUp();
    io_clear_database();
    kzt_integrate_forms() = {KZT_GUI_GEOMETRY, kzt_integrate_control_form};
  }
  void TearDown() override {
    kzt_integrate_forms() = {};
    io_clear_database();
    WidgetFixture::TearDown();
  }
  void replay(const std::string& lines) {
    std::string name = dir.file("forms.mac");
    std::FILE* f = std::fopen(name.c_str(), "w");
    std::fputs(lines.c_str(), f);
    std::fclose(f);
    Status s = kStatusGood;
    IO_OPEN_INMACRO(false, name, s);
    ASSERT_EQ(s, kStatusGood);
  }
  static float key(const char* name) {
    float v = -1.0f;
    int retstat = 0;
    Status s = kStatusGood;
    IO_INQ_RKEYVALUE(name, v, retstat, s);
    return v;
  }
};

TEST_F(FormsReplay, AnswersLandInTheSettingsAndKeys) {
  replay(
      "X-PIXEL SIZE\n50\nDISTANCE\n150\nWAVELENGTH\n0.5\nX-BEAM CENTRE\n10.5\n"
      "TILT ROTATION\n30\nANGLE OF TILT\n2\nO.K.\n"
      "SCAN TYPE\nQ-SPACE\nCONSERVE INT.\nYES\nPOLARISATION\nYES\nFACTOR\n0.9\n"
      "MAX. ANGLE\n20\nSCAN BINS\n40\nMAX. D-SPACING\n7\nO.K.\n");
  float xps = 1e-4f, yps = 1e-4f, distance = 0.1f, wavelength = 1e-10f, xc = 1, yc = 1;
  float rotation = 0, tilt = 0, outer = 0, maximum_d = 20, pol = 0, max_2theta = 0, step = 0;
  float qmax = 0;
  int scan_type = 1, lorentz = 0;
  bool conserve = false, correct = false, geometry = false;
  Index bins = 0;
  Status s = kStatusGood;
  KZT_INQ_INTEGRATE(64, 64, 1, 1, 64, 64, xps, yps, distance, wavelength, xc, yc, rotation, tilt,
                    outer, scan_type, maximum_d, conserve, correct, pol, geometry, max_2theta,
                    bins, lorentz, step, qmax, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(xps, 50e-6f);
  EXPECT_FLOAT_EQ(yps, 1e-4f);
  EXPECT_FLOAT_EQ(distance, 0.15f);
  EXPECT_FLOAT_EQ(wavelength, 0.5e-10f);
  EXPECT_FLOAT_EQ(xc, 10.5f);
  EXPECT_NEAR(rotation, 30.0f * kRadiansPerDegree, 1e-6f);
  EXPECT_NEAR(tilt, 2.0f * kRadiansPerDegree, 1e-6f);
  EXPECT_FLOAT_EQ(key("SAMPLE_DISTANCE"), 0.15f);
  EXPECT_FLOAT_EQ(key("X_PIXEL_SIZE"), 50e-6f);
  EXPECT_NEAR(key("TILT_ANGLE"), 2.0f * kRadiansPerDegree, 1e-6f);

  EXPECT_EQ(scan_type, 2);
  EXPECT_TRUE(conserve);
  EXPECT_TRUE(correct);
  EXPECT_FLOAT_EQ(pol, 0.9f);
  EXPECT_EQ(bins, 40);
  EXPECT_FLOAT_EQ(maximum_d, 7.0f);
  EXPECT_NEAR(max_2theta, 20.0f * kRadiansPerDegree, 1e-5f);
  EXPECT_NEAR(outer, std::tan(20.0f * kRadiansPerDegree) * 0.15f, 1e-6f);
  EXPECT_NEAR(qmax, std::sin(10.0f * kRadiansPerDegree) * 12.56637f / 0.5f, 1e-4f);
  EXPECT_EQ(window->waits, 0);
}

TEST_F(FormsReplay, CancelledGeometryChangesNothing) {
  replay("DISTANCE\n150\nCANCEL\n");
  float xps = 1e-4f, yps = 1e-4f, distance = 0.1f, wavelength = 1e-10f, xc = 1, yc = 2;
  float rotation = 0, tilt = 0;
  Status s = kStatusGood;
  KZT_GUI_GEOMETRY(xps, yps, distance, wavelength, xc, yc, rotation, tilt, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_FLOAT_EQ(distance, 0.1f);
  EXPECT_FLOAT_EQ(key("SAMPLE_DISTANCE"), -1.0f);
}

TEST_F(FormsReplay, CancelledControlChangesNothing) {
  replay("SCAN BINS\n20\nCANCEL\n");
  IntegrateControl control;
  control.num_bins = 30;
  Status s = kStatusGood;
  kzt_integrate_control_form(100, control, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_EQ(control.num_bins, 30);
}

}  // namespace
}  // namespace kesta
