#include "app/diffraction/integrate_forms.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/diffraction/simulation.hpp"
#include "app/main/data_store.hpp"
#include "app/main/program_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/macro.hpp"
#include "formats/kesta_format.hpp"
#include "graphics/device/x11_test_support.hpp"
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

TEST_F(FormsReplay, PolarisationEffectTakesItsFormOrNothing) {
  constexpr Index kSide = 16;
  const std::vector<float> start(kSide * kSide, 4.0f);
  std::vector<float> data = start, variances(kSide * kSide, 2.0f);
  float xps = 1e-4f, yps = 1e-4f;
  Status s = kStatusGood;
  // One macro answers both forms: first cancelled, then taken.
  replay(
      "POLARISATION\n0.1\nDISTANCE\n5\nCANCEL\n"
      "POLARISATION\n0.5\nX PIXEL SIZE\n200\nDISTANCE\n5\nX-BEAM CENTRE\n4\n"
      "Y-BEAM CENTRE\n6\nO.K.\n");
  KZT_POLARISATION(kSide, kSide, 1, 1, kSide, kSide, xps, yps, true, data, variances, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_EQ(data, start);

  s = kStatusGood;
  KZT_POLARISATION(kSide, kSide, 1, 1, kSide, kSide, xps, yps, true, data, variances, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_FLOAT_EQ(xps, 200e-6f);
  EXPECT_FLOAT_EQ(yps, 1e-4f);
  std::vector<float> expected = start, expected_variances(kSide * kSide, 2.0f);
  kzt_apply_polarisation(kSide, kSide, 1, 1, kSide, kSide, 200e-6f, 1e-4f, 0.005f, 4.0f, 6.0f,
                         0.5f, true, expected, expected_variances, s);
  EXPECT_EQ(data, expected);
  EXPECT_EQ(variances, expected_variances);
  EXPECT_NE(data, start);
  // The geometry keys are not this command's.
  EXPECT_FLOAT_EQ(key("SAMPLE_DISTANCE"), -1.0f);
  EXPECT_EQ(window->waits, 0);
}

TEST_F(FormsReplay, RingsFromScanTakeTheFormsRegionAndGeometry) {
  constexpr Index kSide = 32;
  Status s = kStatusGood;
  KztArrays& a = vosq_kzt_arrays;
  kzt_allocate_arrays(kSide, kSide, true, false, false, a, s);
  ASSERT_EQ(s, kStatusGood);
  for (Index i = 0; i < kSide; ++i) {
    a.xaxis[i] = static_cast<float>(i);  // 2-theta in degrees
    a.data[i] = 1.0f;                    // a flat scan
  }
  a.xnumdat = kSide;
  a.ynumdat = 1;
  a.xstrelm = a.ystrelm = a.yendelm = 1;
  a.xendelm = kSide;
  KztDataSets sets;
  sets.title = "scan";
  // The scan's own bin widths, which the form does not propose for the
  // detector: it proposes the stored detector sizes (none: 100 microns).
  sets.x_pixel_size = sets.y_pixel_size = 0.05f;
  const float memory_before = a.mdata[0];
  PowderSettings settings;
  replay(
      "Y-START PIXEL\n3\nCANCEL\n"
      "X-END PIXEL\n20\nY-END PIXEL\n10\nX-PIXEL SIZE\n500\nPOLARISATION\nNO\n"
      "DISTANCE\n10\nX-BEAM CENTRE\n5\nY-BEAM CENTRE\n4\nTILT\n0\nO.K.\n");
  KZT_2THETATORINGS(sets, settings, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_FALSE(sets.memory_defined);
  EXPECT_EQ(a.mdata[0], memory_before);

  s = kStatusGood;
  KZT_2THETATORINGS(sets, settings, s);
  ASSERT_EQ(s, kStatusGood);
  EXPECT_TRUE(sets.memory_defined);
  EXPECT_EQ(sets.mxendelm, 20);
  EXPECT_EQ(sets.myendelm, 10);
  // The image made takes the form's pixel sizes; the scan keeps its steps.
  EXPECT_FLOAT_EQ(sets.mx_pixel_size, 500e-6f);
  EXPECT_FLOAT_EQ(sets.my_pixel_size, 1.0e-4f);
  EXPECT_FLOAT_EQ(sets.x_pixel_size, 0.05f);
  EXPECT_FLOAT_EQ(settings.sample_distance, 0.01f);
  EXPECT_FALSE(settings.correct_polarisation);
  for (Index j = 1; j <= 10; j += 3)
    for (Index i = 1; i <= 20; i += 4) {
      const double x = (i - 0.5 - 5.0) * 500e-6, y = (j - 0.5 - 4.0) * 1e-4;
      const double c = std::cos(std::atan2(std::hypot(x, y), 0.01));
      EXPECT_NEAR(a.mdata[(j - 1) * kSide + (i - 1)], c * c * c, 1e-5) << i << " " << j;
    }
  kzt_free_arrays(a, s);
  a = KztArrays{};
}

// A 32 x 32 native file the program wrote, as read back.
struct Written {
  std::vector<float> data = std::vector<float>(32 * 32);
  Index xnum = 0, ynum = 0;
  float xps = 0, yps = 0;
};

bool read_written(std::string name, Written& w) {
  std::vector<float> xaxis(32), yaxis(32), variances(32 * 32);
  std::string title, xl, yl, zl;
  bool variances_exist = false;
  int retstat = -1;
  float overload = 0;
  Status status = kStatusGood;
  FIO_IN_KESTA(true, 32, 32, variances_exist, name, retstat, w.xnum, w.ynum, xaxis, yaxis, w.data,
               variances, title, xl, yl, zl, w.xps, w.yps, overload, status);
  return retstat == 0 && status == kStatusGood;
}

// The real program in its window: both forms answered by an input macro.
TEST(FormsProgram, MacroAnswersTheSimulationForms) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::TempDir dir;
  {
    std::vector<float> axis(32), yaxis(32, 0.5f), data(32 * 32, 1.0f);
    for (int i = 0; i < 32; ++i) axis[i] = static_cast<float>(i);
    testing::ScriptedInput answer({dir.file("scan.kzt")});
    testing::TerminalCapture quiet;
    int retstat = -1;
    Status status = kStatusGood;
    FIO_OUT_KESTA(false, "", 32, 32, 1, 1, 32, 1, axis, yaxis, data, {}, "Flat", "2-theta", "Y",
                  "Counts", false, 1.0e-4f, 1.0e-4f, retstat, status);
    ASSERT_EQ(status, kStatusGood);
  }
  testing::write_text_file(
      dir.file("forms.mac"),
      "INPUT DATA\nKESTA STANDARD FORMAT\nscan.kzt\nFIT\n2-THETA TO RINGS\n"
      "X-END PIXEL\n20\nY-END PIXEL\n10\nPOLARISATION\nNO\nDISTANCE\n10\n"
      "X-BEAM CENTRE\n5\nY-BEAM CENTRE\n4\nTILT\n0\nO.K.\nEXIT\nEXCHANGE\n"
      "POLARISATION EFFECT\nPOLARISATION\n1\nDISTANCE\n10\nX-BEAM CENTRE\n5\n"
      "Y-BEAM CENTRE\n4\nO.K.\nOUTPUT DATA\nKESTA STANDARD FORMAT\nout.kzt\n");
  const testing::ProgramResult r =
      testing::run_program(dir, "-key -dim32x32 -macforms.mac", "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output.find("ERROR"), std::string::npos) << r.output;
  Written w;
  ASSERT_TRUE(read_written(dir.file("out.kzt"), w)) << r.output;
  EXPECT_EQ(w.xnum, 20);
  EXPECT_EQ(w.ynum, 10);
  // cos^3(2-theta) of the flat scan, times the polarisation factor of P = 1.
  for (Index j = 1; j <= 10; j += 3)
    for (Index i = 1; i <= 20; i += 4) {
      const double x = (i - 0.5 - 5.0) * 1e-4, y = (j - 0.5 - 4.0) * 1e-4;
      const double t = std::atan2(std::hypot(x, y), 0.01), a = std::atan2(y, x);
      const double f = (1 + std::cos(t) * std::cos(t)) / 2 -
                       0.5 * std::cos(2 * a) * std::sin(t) * std::sin(t);
      EXPECT_NEAR(w.data[(j - 1) * 32 + (i - 1)], std::pow(std::cos(t), 3) * f, 1e-5)
          << i << " " << j;
    }
}

// POLARISATION EFFECT on a scan proposes the stored detector sizes (75
// microns), not the scan's steps of 0.5 degree (in radians): the factor then
// differs from 1 by less than 1E-3 over 32 pixels at 100 mm, where the steps
// would give 0.9 at the fifth. The scan keeps its own widths.
TEST(FormsProgram, PolarisationOnAScanProposesTheDetectorSizes) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::TempDir dir;
  testing::write_detector_defaults(dir);
  ASSERT_TRUE(testing::write_native_image(dir.file("scan.kzt"), 32, 1,
                                          std::vector<float>(32, 1.0f), 8.7266e-3f, 1.0e-2f));
  testing::write_text_file(dir.file("p.mac"),
                           "INPUT DATA\nKESTA STANDARD FORMAT\nscan.kzt\nPOLARISATION EFFECT\n"
                           "POLARISATION\n0.5\nDISTANCE\n100\nX-BEAM CENTRE\n0\n"
                           "Y-BEAM CENTRE\n0.5\nO.K.\nOUTPUT DATA\nKESTA STANDARD FORMAT\n"
                           "out.kzt\n");
  const testing::ProgramResult r =
      testing::run_program(dir, "-key -dim32x32 -macp.mac", "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  Written w;
  ASSERT_TRUE(read_written(dir.file("out.kzt"), w)) << r.output;
  ASSERT_EQ(w.ynum, 1);
  for (Index i = 0; i < 32; ++i) EXPECT_NEAR(w.data[i], 1.0f, 1e-3f) << i;
  EXPECT_FLOAT_EQ(w.xps, 8.7266e-3f);
  EXPECT_FLOAT_EQ(w.yps, 1.0e-2f);
}

}  // namespace
}  // namespace kesta
