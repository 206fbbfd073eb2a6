// INTEGRATE: the offered settings, the scan of a ring image left as the
// current data with the image in the memory, and the forms' absence.

#include "app/diffraction/integrate.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/diffraction/geometry.hpp"
#include "app/main/data_store_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

// What the test forms answer and what they were offered.
struct FormScript {
  float distance = 0.05f, x_centre = 100.5f, y_centre = 100.5f;
  IntegrateControl answer;
  IntegrateControl offered;
  bool cancel = false;
} script;

void geometry_form(float&, float&, float& distance, float& wavelength, float& xc, float& yc,
                   float& rotation, float& tilt, Status& status) {
  if (script.cancel) status = kStatusEscape;
  distance = script.distance;
  wavelength = 1.0e-10f;
  xc = script.x_centre;
  yc = script.y_centre;
  rotation = tilt = 0.0f;
}

void control_form(Index, IntegrateControl& control, Status&) {
  script.offered = control;
  control = script.answer;
}

class Integrate : public testing::DataSetFixture {
 protected:
  void SetUp() override {
    DataSetFixture::SetUp();
    io_clear_database();
    script = FormScript{};
    script.answer.scan_type = 1;
    script.answer.num_bins = 150;
    script.answer.max_2theta = 15.0f * kRadiansPerDegree;
    kzt_integrate_forms() = {geometry_form, control_form};
  }
  void TearDown() override {
    kzt_integrate_forms() = {};
    io_clear_database();
    DataSetFixture::TearDown();
  }
  void run(Status& status, bool mask_data = true) {
    float xps = 1e-4f, yps = 1e-4f, distance = 0.1f, wavelength = 1e-10f, pol = 0.0f;
    float xc = 0, yc = 0, rotation = 0, tilt = 0;
    bool correct = false;
    int lorentz = 0;
    KZT_INTEGRATE(sets, mask_data, xps, yps, distance, wavelength, correct, pol, lorentz, xc, yc,
                  rotation, tilt, status);
  }
  testing::TerminalCapture terminal;
};

TEST_F(Integrate, RingImageBecomesAScanWithTheImageInTheMemory) {
  make(200, 200, true, false);
  KztArrays& a = vosq_kzt_arrays;
  for (Index j = 1; j <= 200; ++j)
    for (Index i = 1; i <= 200; ++i) {
      const double t = testing::lab_two_theta((i - 100.5) * 1e-4, (j - 100.5) * 1e-4, 0.05, 0, 0);
      const double u = (t - 10 * M_PI / 180) / (0.2 * M_PI / 180);
      a.data[(i - 1) + (j - 1) * 200] = static_cast<float>(std::exp(-0.5 * u * u));
    }
  const float first = a.data[0];
  Status status = kStatusGood;
  run(status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(a.xnumdat, 150);
  EXPECT_EQ(a.ynumdat, 1);
  EXPECT_EQ(sets.title, "CURRENT: 2-theta Scan");
  EXPECT_EQ(sets.xlabel, "2-Theta Angle (Degrees)");
  EXPECT_EQ(a.mdata[0], first);
  // The axis starts at half a step and the peak sits at 10 degrees.
  EXPECT_NEAR(a.xaxis[0], 0.05, 1e-6);
  Index best = 0;
  for (Index i = 0; i < 150; ++i)
    if (a.data[i] > a.data[best]) best = i;
  EXPECT_NEAR(a.xaxis[best], 10.0, 0.051);
  int scan_type = -1;
  int retstat = 0;
  IO_INQ_IKEYVALUE("SCAN_TYPE", scan_type, retstat, status);
  EXPECT_EQ(scan_type, 1);
}

// The masked pixels are left out only while the interface treats the
// current data with the mask (not a cake made from the masked image).
TEST_F(Integrate, MaskedPixelsLeftOutOnlyWhileTheDataAreMasked) {
  for (const bool mask_data : {true, false}) {
    SCOPED_TRACE(mask_data);
    Status status = kStatusGood;
    make(200, 200, true, false);
    kzt_create_mask(sets.mask_exist, status);
    ASSERT_TRUE(sets.mask_exist);
    KztArrays& a = vosq_kzt_arrays;
    for (Index k = 0; k < 200 * 200; ++k) a.data[k] = 1.0f;
    // A bright block, masked.
    for (Index j = 150; j <= 160; ++j)
      for (Index i = 150; i <= 160; ++i) {
        a.data[element(i, j, 200)] = 100.0f;
        a.mask[element(i, j, 200)] = 1;
      }
    run(status, mask_data);
    ASSERT_EQ(status, kStatusGood);
    float highest = 0.0f;
    for (Index i = 0; i < a.xnumdat; ++i) highest = std::max(highest, a.data[i]);
    if (mask_data)
      EXPECT_FLOAT_EQ(highest, 1.0f);
    else
      EXPECT_GT(highest, 2.0f);
    kzt_free_arrays(a, status);
    a = KztArrays{};
  }
}

TEST_F(Integrate, OfferedSettingsAndTheAngleTheyGive) {
  script.x_centre = script.y_centre = 1024.5f;
  script.answer.max_2theta = 90.0f * kRadiansPerDegree;
  script.answer.num_bins = 1000;
  float xps = 1e-4f, yps = 1e-4f, distance = 0.1f, wavelength = 1e-10f, pol = 2.0f;
  float xc = 0, yc = 0, rotation = 0, tilt = 0, outer = 0, maximum_d = 0.5f, max_2theta = 0;
  float step = 0, qmax = 0;
  int scan_type = 1, lorentz = 0;
  bool conserve = false, correct = false, geometry = false;
  Index bins = 0;
  Status status = kStatusGood;
  KZT_INQ_INTEGRATE(2048, 2048, 1, 1, 2048, 2048, xps, yps, distance, wavelength, xc, yc,
                    rotation, tilt, outer, scan_type, maximum_d, conserve, correct, pol,
                    geometry, max_2theta, bins, lorentz, step, qmax, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_EQ(script.offered.num_bins, 1447);
  EXPECT_EQ(script.offered.polarisation, 1.0f);
  EXPECT_EQ(script.offered.maximum_d, 1.0f);
  // 90 degrees has no tangent: the limit stays finite.
  EXPECT_TRUE(std::isfinite(outer));
  EXPECT_GT(outer, 50.0f);
  EXPECT_NEAR(step * kDegreesPerRadian, 0.09, 1e-6);
  EXPECT_NEAR(max_2theta, 1000 * step, 1e-6);
}

TEST_F(Integrate, CancelOrNoFormsLeaveTheDataAlone) {
  make(16, 16, true, false);
  const float before = vosq_kzt_arrays.mdata[5];
  script.cancel = true;
  Status status = kStatusGood;
  run(status);
  EXPECT_EQ(status, kStatusGood);
  kzt_integrate_forms() = {};
  run(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find("\"INTEGRATE\" is not available yet"), std::string::npos);
  EXPECT_EQ(vosq_kzt_arrays.mdata[5], before);
  EXPECT_EQ(vosq_kzt_arrays.xnumdat, 16);
  EXPECT_FALSE(sets.memory_defined);
}

TEST_F(Integrate, PolarisationQuestionsAndTheSingleCounterCorrection) {
  testing::ScriptedInput input({"YES", "0.9", "PARTIAL"});
  bool correct = false;
  float polarisation = 0.0f;
  int lorentz = 0;
  Status status = kStatusGood;
  KZT_INP_POLARISATION(correct, polarisation, lorentz, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_TRUE(correct);
  EXPECT_EQ(polarisation, 0.9f);
  EXPECT_EQ(lorentz, 1);
  lorentz = 2;
  KZT_INP_POLARISATION(correct, polarisation, lorentz, status);
  EXPECT_EQ(status, 110017);

  const float axis[] = {0.0f, 60.0f, 90.0f};
  float data[] = {3.0f, 3.0f, 3.0f}, variances[] = {2.0f, 2.0f, 2.0f};
  status = kStatusGood;
  KZT_LORENTZ(1, true, 3, 3, axis, data, variances, status);
  EXPECT_EQ(data[0], 3.0f);
  EXPECT_NEAR(data[1], 24.0f, 1e-4f);
  EXPECT_NEAR(variances[1], 128.0f, 1e-3f);
  EXPECT_EQ(data[2], 3.0f);
  KZT_LORENTZ(1, false, 3, 4, axis, data, variances, status);
  EXPECT_EQ(status, 110005);
}

}  // namespace
}  // namespace kesta
