// The experiment geometry: conversions against an independent 3-D vector
// computation, the keys and the typed road of GEOMETRY (EXPERIMENT).

#include "app/diffraction/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/main/program_test_support.hpp"
#include "core/defaults_db.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "formats/kesta_format.hpp"

namespace kesta {
namespace {

using testing::lab_two_theta;

TEST(DiffractionGeometry, TwoThetaAgreesWithLaboratoryVectors) {
  struct Case {
    float rotation, tilt;
  };
  const Case cases[] = {{0.0f, 0.0f}, {0.0f, 0.1f}, {0.7f, -0.2f}, {-2.5f, 0.35f}, {1.2f, 0.0f}};
  for (const Case& c : cases) {
    const DiffractionGeometry g(1.0e-4f, 1.5e-4f, 0.25f, 1.0e-10f, 100.5f, 80.25f, c.rotation,
                                c.tilt);
    std::vector<double> row(200);
    for (Index j : {1, 80, 150}) {
      g.two_theta_row(j, 1, 200, row);
      for (Index i = 1; i <= 200; i += 13) {
        const double x = (i - 0.5 - 100.5) * 1.0e-4f;
        const double y = (j - 0.5 - 80.25) * 1.5e-4f;
        EXPECT_NEAR(row[i - 1], lab_two_theta(x, y, 0.25f, c.rotation, c.tilt), 1e-6)
            << c.rotation << " " << c.tilt << " " << i << " " << j;
      }
    }
  }
}

TEST(DiffractionGeometry, PointsWithoutAnAngle) {
  const DiffractionGeometry g(1.0e-4f, 1.0e-4f, 0.1f, 1.0e-10f, 0.5f, 0.5f, 0.0f, 0.0f);
  std::vector<double> d(1), azimuth(1);
  // The beam centre pixel: azimuth 0, no d-spacing.
  g.d_row(1, 1, 1, d);
  g.azimuth_row(1, 1, 1, azimuth);
  EXPECT_EQ(d[0], -1.0);
  EXPECT_EQ(azimuth[0], 0.0);
  // A point behind the sample plane of a strongly tilted detector.
  const DiffractionGeometry steep(1.0e-3f, 1.0e-3f, 0.1f, 1.0e-10f, 0.5f, 0.5f, 0.0f, -1.2f);
  EXPECT_EQ(steep.radius(0.2, 0.0), -1.0);
}

class GeometryDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::reset_dialogue();
    io_clear_database();
  }
  void TearDown() override {
    io_clear_database();
    testing::reset_dialogue();
  }
  static float key(const char* name) { return testing::stored_key(name); }
  // An image of the given size whose active region ends at column XEND.
  static GsDisplayedImage region_image(Index xmax, Index ymax, Index xend) {
    GsDisplayedImage image;
    image.xmaxdat = xmax;
    image.ymaxdat = ymax;
    image.xendelm = xend;
    image.yendelm = ymax;
    return image;
  }
  testing::TerminalCapture terminal;
};

TEST_F(GeometryDialogue, InquiryKeepsCallerValuesWhereKeysAreAbsent) {
  Status status = kStatusGood;
  bool defined = false;
  float v[7] = {1, 2, 3, 4, 5, 6, 7};
  KZT_INQ_GEOMETRY(defined, v[0], v[1], v[2], v[3], v[4], v[5], v[6], status);
  EXPECT_TRUE(defined);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(v[k], k + 1.0f);
  KZT_SET_GEOMETRY(false, 10, 20, 0.3f, 2e-10f, 0.1f, 0.2f, 0.3f, status);
  KZT_INQ_GEOMETRY(defined, v[0], v[1], v[2], v[3], v[4], v[5], v[6], status);
  const float stored[7] = {10, 20, 0.3f, 2e-10f, 0.1f, 0.2f, 0.3f};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(v[k], stored[k]);
}

TEST_F(GeometryDialogue, TypedGeometryReachesTheKeysInSiUnits) {
  testing::ScriptedInput input(
      {"KEYBOARD", "", "", "0.0", "8.04778", "150", "50", "60", "10", "120", "-5"});
  Status status = kStatusGood;
  float xps = 1.0e-4f, yps = 1.0e-4f;
  KZT_GEOMETRY(false, region_image(1000, 800, 1000), xps, yps, status);
  ASSERT_EQ(status, kStatusGood);
  ASSERT_GE(input.prompts.size(), 11u);
  EXPECT_NE(input.prompts[0].find("INPUT METHOD FOR BEAM CENTRE"), std::string::npos);
  EXPECT_NE(input.prompts[1].find("X-PIXEL COORDINATE OF BEAM CENTRE"), std::string::npos);
  EXPECT_NE(input.prompts[1].find("500.5"), std::string::npos) << input.prompts[1];
  EXPECT_NE(input.prompts[2].find("400.5"), std::string::npos) << input.prompts[2];
  EXPECT_NE(terminal.text().find("WAVELENGTH (Angstroms) (0.0 for keV )"), std::string::npos);
  EXPECT_NE(terminal.text().find("INFO: Wavelength = "), std::string::npos);
  EXPECT_EQ(key("X_BEAM_CENTRE"), 500.5f);
  EXPECT_EQ(key("Y_BEAM_CENTRE"), 400.5f);
  EXPECT_NEAR(key("WAVELENGTH"), 1.54061e-10f, 1e-15f);
  EXPECT_NEAR(key("SAMPLE_DISTANCE"), 0.15f, 1e-7f);
  EXPECT_NEAR(key("X_PIXEL_SIZE"), 50e-6f, 1e-11f);
  EXPECT_NEAR(xps, 50e-6f, 1e-11f);
  EXPECT_NEAR(key("TILT_ROTATION"), 10.0f * kRadiansPerDegree, 1e-7f);
  EXPECT_NEAR(key("TILT_ANGLE"), 120.0f * kRadiansPerDegree, 1e-6f);
  EXPECT_NEAR(key("DETECTOR_ROTATION"), -5.0f * kRadiansPerDegree, 1e-7f);
}

TEST_F(GeometryDialogue, BadRegionOrEscapeStoresNothing) {
  testing::ScriptedInput input({"\\\\"});
  Status status = kStatusGood;
  float xps = 1.0e-4f, yps = 1.0e-4f;
  KZT_GEOMETRY(false, region_image(10, 10, 11), xps, yps, status);
  EXPECT_EQ(status, 110005);
  EXPECT_TRUE(input.prompts.empty());
  status = kStatusGood;
  KZT_GEOMETRY(false, region_image(10, 10, 10), xps, yps, status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(key("X_BEAM_CENTRE"), -999.0f);
}

TEST_F(GeometryDialogue, ProgramStoresTheTypedGeometryInTheDefaultsFile) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::write_square_image(dir.file("image.kzt"), 4, std::vector<float>(16, 1.0f)));
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim8x8",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nGEOMETRY (EXPERIMENT)\n\n\n\n"
      "1.5\n150\n\n\n\n\n\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  // Without the window the beam-centre menu proposes a method that can run,
  // and Enter takes it.
  EXPECT_NE(r.output.find("INPUT METHOD FOR BEAM CENTRE [KEYBOARD]"), std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("WARNING: This method needs the graphics window"), std::string::npos);
  EXPECT_NE(r.output.find("X-PIXEL COORDINATE OF BEAM CENTRE [2.500000]"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("INFO: Energy =     8.2657     keV"), std::string::npos) << r.output;
  const std::string defaults = testing::file_contents(dir.file(".kesta.def"));
  EXPECT_NE(defaults.find("SAMPLE_DISTANCE"), std::string::npos) << defaults;
  EXPECT_NE(defaults.find("WAVELENGTH"), std::string::npos);
}

// The real key KEY of the defaults file in DIR, -999 when absent.
float saved_size(const testing::TempDir& dir, const std::string& key) {
  const std::string defaults = testing::file_contents(dir.file(".kesta.def"));
  const std::size_t at = defaults.find("\n" + key + "\n");
  if (at == std::string::npos) return -999.0f;
  return std::strtof(defaults.c_str() + at + key.size() + 2, nullptr);
}

// Reads and the proposals of GEOMETRY (EXPERIMENT), all taken with Enter,
// leave the stored detector sizes as they were: an image saved with pixel
// sizes of 0.0, a scan (whose bin widths are its own) and a TIFF after it,
// and a BINARY image without its ".info" file (the reader's default).
TEST_F(GeometryDialogue, ReadsAndProposalsLeaveTheStoredDetectorSizes) {
  testing::TempDir dir;
  testing::write_detector_defaults(dir);
  ASSERT_TRUE(testing::write_native_image(dir.file("zero.kzt"), 4, 4,
                                          std::vector<float>(16, 1.0f), 0.0f, 0.0f));
  ASSERT_TRUE(testing::write_native_image(dir.file("scan.kzt"), 5, 1, std::vector<float>(5, 1.0f),
                                          1.482524e-3f, 1.0e-2f));
  ASSERT_TRUE(testing::write_tiff_image(dir.file("frame.tif"), 4));
  testing::write_text_file(dir.file("frame.bin"), std::string(24, '\1'));
  // Sizes no detector has: the image keeps them, no form proposes them.
  ASSERT_TRUE(testing::write_native_image(dir.file("odd.kzt"), 4, 4,
                                          std::vector<float>(16, 1.0f), 1e-20f, 1e-20f));
  const std::string geometry = "GEOMETRY (EXPERIMENT)\n" + std::string(10, '\n');
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim8x8",
      "INPUT DATA\nKESTA STANDARD FORMAT\nodd.kzt\n" + geometry +
      "INPUT DATA\nKESTA STANDARD FORMAT\nzero.kzt\n" + geometry +
          "INPUT DATA\nKESTA STANDARD FORMAT\nscan.kzt\n" + geometry +
          "INPUT DATA\nTIFF\nframe.tif\n\n\n\n\n\n\n" + geometry +
          "INPUT DATA\nBINARY (UNFORMATTED)\nframe.bin\n4\n3\n\n\n\n" + geometry +
          "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  const std::string proposal =
      "X-DIRECTION PIXEL SIZE (MICRONS)\n (Range: 1.000000E-03 to 10000.00) [75.00000]";
  std::size_t count = 0;
  for (std::size_t at = r.output.find(proposal); at != std::string::npos;
       at = r.output.find(proposal, at + 1))
    ++count;
  EXPECT_EQ(count, 5u) << r.output;
  for (const char* key : {"X_PIXEL_SIZE", "Y_PIXEL_SIZE"})
    EXPECT_FLOAT_EQ(saved_size(dir, key), 7.5e-5f) << key << "\n" << r.output;
}

// A defaults file from before sizes were checked may hold zeros: the data
// set keeps its own sizes at start-up, and GEOMETRY proposes them.
TEST_F(GeometryDialogue, StoredZeroSizesAreNoneAtStartUp) {
  testing::TempDir dir;
  testing::write_text_file(dir.file(".kesta.def"),
                           "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n"
                           "X_PIXEL_SIZE\n0.0\nY_PIXEL_SIZE\n0.0\n");
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -dim8x8",
      "CREATE DATA\n\n\nGEOMETRY (EXPERIMENT)\n" + std::string(10, '\n') + "EXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("X-DIRECTION PIXEL SIZE (MICRONS)\n (Range: 1.000000E-03 to 10000.00) "
                          "[100.0000]"),
            std::string::npos)
      << r.output;
  EXPECT_NEAR(saved_size(dir, "X_PIXEL_SIZE"), 1.0e-4f, 1e-10f);
}

}  // namespace
}  // namespace kesta
