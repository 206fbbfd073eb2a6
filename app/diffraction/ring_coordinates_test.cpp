#include "app/diffraction/ring_coordinates.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/diffraction/ring_test_support.hpp"
#include "core/test_support.hpp"
#include "core/types.hpp"

namespace kesta {
namespace {

using testing::RingScene;

// Search of the scene's rings at their true mean radii into the ring store.
void find_scene_rings(const RingScene& s, const std::vector<float>& image,
                      const std::vector<std::uint8_t>& mask, int sections, float half_width,
                      bool integrated, Status& status, bool checking = false) {
  KztComRings& r = vosq_kzt_comrings;
  for (std::size_t k = 0; k < s.d_spacings.size(); ++k)
    r.radii[k] = static_cast<float>(s.distance * std::tan(testing::scene_two_theta(s, s.d_spacings[k])));
  kzt_find_store_rings(false, s.xmax, s.ymax, 1, 1, s.xmax, s.ymax, image, mask,
                       static_cast<float>(s.pixel), static_cast<float>(s.pixel),
                       static_cast<float>(s.x_centre * s.pixel),
                       static_cast<float>(s.y_centre * s.pixel),
                       static_cast<int>(s.d_spacings.size()), half_width, sections, integrated,
                       nullptr, status, vosq_kzt_comrings, checking);
}

std::size_t at(int ring, int n) {
  return static_cast<std::size_t>(ring) * kMaxRingCoordinates + static_cast<std::size_t>(n);
}

TEST(TiltedCone, VanishesOnLaboratoryRings) {
  struct Case {
    double rotation, tilt;
  };
  const Case cases[] = {{0.0, 0.0}, {0.5, 0.05}, {3.5, -0.08}, {-1.2, 0.09}};
  const double d = 0.12;
  for (const Case& c : cases) {
    for (double two_theta : {0.1, 0.4}) {
      const TiltedCone cone(0.01, 0.02, d, c.rotation, c.tilt, std::tan(two_theta));
      for (int a = 0; a < 12; ++a) {
        // The ring along azimuth a, by bisection of the laboratory 2-theta.
        const double ca = std::cos(a * 0.52);
        const double sa = std::sin(a * 0.52);
        double lo = 0.0;
        double hi = 0.2;
        for (int it = 0; it < 100; ++it) {
          const double mid = 0.5 * (lo + hi);
          (testing::lab_two_theta(mid * ca, mid * sa, d, c.rotation, c.tilt) < two_theta ? lo
                                                                                       : hi) = mid;
        }
        EXPECT_NEAR(cone.residual(0.01 + lo * ca, 0.02 + lo * sa), 0.0, 1e-10)
            << c.rotation << " " << c.tilt << " " << a;
        // Outside the ring the residual is positive.
        EXPECT_GT(cone.residual(0.01 + (lo + 1e-4) * ca, 0.02 + (lo + 1e-4) * sa), 0.0);
      }
    }
  }
  // Far beyond any cone the root of a negative number counts as 0.
  const TiltedCone steep(0.0, 0.0, 0.1, 0.0, 0.5, std::tan(1.4));
  EXPECT_TRUE(std::isfinite(steep.residual(-5.0, 0.0)));
}

TEST(FindRings, CoordinatesLieOnTheTiltedCone) {
  RingScene s;
  s.rotation = 0.7;
  s.tilt = 5.0 * M_PI / 180.0;
  s.d_spacings = {3.1355e-10, 1.9201e-10, 1.6375e-10};
  for (bool noisy : {false, true}) {
    const std::vector<float> image = testing::ring_image(s, noisy);
    Status status = kStatusGood;
    find_scene_rings(s, image, {}, 90, 0.002f, false, status);
    ASSERT_EQ(status, kStatusGood);
    const KztComRings& r = vosq_kzt_comrings;
    for (int k = 0; k < 3; ++k) {
      EXPECT_GE(r.num_coordinates[k], 80) << k;
      const double t = testing::scene_two_theta(s, s.d_spacings[k]);
      double worst = 0.0;
      for (int n = 0; n < r.num_coordinates[k]; ++n) {
        worst = std::max(worst, std::abs(testing::ring_offset_pixels(
                                    s, r.x_coordinates[at(k, n)], r.y_coordinates[at(k, n)], t)));
        EXPECT_GT(r.intensities[at(k, n)], 0.0f);
        if (n > 0) {
          EXPECT_GT(r.azimuths[at(k, n)], r.azimuths[at(k, n - 1)]);
        }
      }
      EXPECT_LT(worst, noisy ? 0.5 : 0.05) << "ring " << k;
    }
  }
}

TEST(FindRings, MaskedSectionsAndEmptyRings) {
  RingScene s;
  s.d_spacings = {3.1355e-10};
  const std::vector<float> image = testing::ring_image(s);
  std::vector<std::uint8_t> mask(image.size(), 0);
  // One masked pixel on the ring straight right of the centre (section 1).
  const double radius = s.distance * std::tan(testing::scene_two_theta(s, s.d_spacings[0]));
  const auto i = static_cast<Index>(s.x_centre + radius / s.pixel) + 1;
  const auto j = static_cast<Index>(s.y_centre) + 2;  // just above the centre
  mask[static_cast<std::size_t>(element(i, j, s.xmax))] = 1;
  Status status = kStatusGood;
  find_scene_rings(s, image, mask, 36, 0.001f, false, status);
  ASSERT_EQ(status, kStatusGood);
  const KztComRings& r = vosq_kzt_comrings;
  EXPECT_EQ(r.num_coordinates[0], 35);
  EXPECT_NEAR(r.azimuths[0], 1.5f * 6.283185f / 36.0f, 1e-5f);  // section 1 is gone

  // An empty image has no ring: no coordinates, no error.
  const std::vector<float> flat(image.size(), 0.0f);
  find_scene_rings(s, flat, {}, 36, 0.001f, false, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(r.num_coordinates[0], 0);
}

// A check's search takes a ring only where the image shows it plainly. At
// low counts (a background of half a count) zeros come by chance and no
// section is lost to them; a gap of zeros two pixels wide, or one value
// that is not a number, takes out the sections it crosses (the gap meets
// the annulus within 20 degrees either side of its direction: six
// sections). Where a ring of another phase half as strong lies 6 pixels
// outside, the position is the ring's own (a centre of gravity over the
// annulus lies 2 pixels out); where it is as strong, the section has no
// one clear maximum.
TEST(FindRings, ACheckSearchTakesRingsOnlyWherePlain) {
  RingScene s;
  s.d_spacings = {3.1355e-10};
  s.background = 0.5;
  s.peak = 40.0;
  const double radius = s.distance * std::tan(testing::scene_two_theta(s, s.d_spacings[0]));
  const KztComRings& r = vosq_kzt_comrings;
  auto searched = [&](const std::vector<float>& image) {
    Status status = kStatusGood;
    find_scene_rings(s, image, {}, 36, 0.001f, false, status, true);
    EXPECT_EQ(status, kStatusGood);
    return r.num_searched[0];
  };
  std::vector<float> image = testing::ring_image(s, true);
  EXPECT_EQ(searched(image), 36);
  EXPECT_GE(r.num_coordinates[0], 30);
  // Columns straight right of the centre, across the ring: the gap.
  const auto gap = static_cast<Index>(s.x_centre + radius / s.pixel);
  for (Index j = 1; j <= s.ymax; ++j)
    for (Index i = gap; i <= gap + 1; ++i)
      image[static_cast<std::size_t>(element(i, j, s.xmax))] = 0.0f;
  EXPECT_EQ(searched(image), 30);
  image = testing::ring_image(s, true);
  image[static_cast<std::size_t>(element(gap, static_cast<Index>(s.y_centre) + 3, s.xmax))] =
      std::nanf("");
  EXPECT_EQ(searched(image), 35);

  s.background = 10.0;
  s.peak = 1000.0;
  const double beyond = std::atan((radius + 6.0 * s.pixel) / s.distance);
  s.d_spacings.push_back(s.wavelength / (2.0 * std::sin(beyond / 2.0)));
  for (double strength : {0.5, 1.0}) {
    s.peaks = {s.peak, strength * s.peak};
    Status status = kStatusGood;
    find_scene_rings(s, testing::ring_image(s), {}, 36, 0.001f, false, status, true);
    ASSERT_EQ(status, kStatusGood);
    if (strength == 1.0) {
      EXPECT_EQ(r.num_coordinates[0], 0);
      continue;
    }
    EXPECT_EQ(r.num_coordinates[0], 36);
    for (int n = 0; n < r.num_coordinates[0]; ++n)
      EXPECT_NEAR(std::hypot(r.x_coordinates[at(0, n)] - s.x_centre * s.pixel,
                             r.y_coordinates[at(0, n)] - s.y_centre * s.pixel) / s.pixel,
                  radius / s.pixel, 0.2);
  }
}

// A coarse powder's ring without counting noise: a section where no
// crystallite lies holds one value throughout, which has no standard
// error, and what stands above it there is rounding. A check's search
// takes the ring only where a crystallite lies, on the ring (as near as
// the few pixels of a crystallite tell).
TEST(FindRings, ACheckTakesCoarsePowderRingsOnlyWhereCrystallitesLie) {
  RingScene s;
  s.d_spacings = {3.1355e-10};
  s.spots = 12;
  const double radius = s.distance * std::tan(testing::scene_two_theta(s, s.d_spacings[0]));
  const KztComRings& r = vosq_kzt_comrings;
  Status status = kStatusGood;
  find_scene_rings(s, testing::ring_image(s), {}, 90, 0.001f, false, status, true);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_GE(r.num_coordinates[0], 8);
  EXPECT_LE(r.num_coordinates[0], 40);
  for (int n = 0; n < r.num_coordinates[0]; ++n)
    EXPECT_NEAR(std::hypot(r.x_coordinates[at(0, n)] - s.x_centre * s.pixel,
                           r.y_coordinates[at(0, n)] - s.y_centre * s.pixel) / s.pixel,
                radius / s.pixel, 1.0)
        << "at " << r.azimuths[at(0, n)];
}

TEST(FindRings, IntegratedIntensitiesExceedPeakValues) {
  RingScene s;
  s.d_spacings = {3.1355e-10};
  const std::vector<float> image = testing::ring_image(s);
  Status status = kStatusGood;
  find_scene_rings(s, image, {}, 36, 0.001f, false, status);
  const float peak = vosq_kzt_comrings.intensities[0];
  find_scene_rings(s, image, {}, 36, 0.001f, true, status);
  ASSERT_EQ(status, kStatusGood);
  EXPECT_NEAR(peak, 850.0f, 150.0f);  // the profile's top, blurred by the bins
  EXPECT_GT(vosq_kzt_comrings.intensities[0], 2.0f * peak);
}

TEST(FindRings, RefusesBadArguments) {
  const std::vector<float> image(100 * 100, 1.0f);
  const std::vector<float> radii{0.002f};
  std::vector<int> counts(1);
  std::vector<float> x(360), y(360), in(360), az(360);
  struct Case {
    Index xmax, xs, xe;
    int sections;
    float pixel, half_width;
    Index max_coordinates;
    Status code;
  };
  const Case cases[] = {
      {100, 1, 100, 4, 1e-4f, 5e-4f, 360, kStatusGood},
      {0, 1, 100, 36, 1e-4f, 5e-4f, 360, 110001},
      {100, 1, 100, 36, 1e-4f, 5e-4f, 4, 110001},
      {100, 0, 100, 36, 1e-4f, 5e-4f, 360, 110005},
      {100, 50, 40, 36, 1e-4f, 5e-4f, 360, 110005},
      {100, 1, 100, 3, 1e-4f, 5e-4f, 360, 110017},
      {100, 1, 100, 361, 1e-4f, 5e-4f, 360, 110017},
      {100, 1, 100, 36, 0.0f, 5e-4f, 360, 110021},
      // Under three bins the profile has no inside: refused, not divided by 0.
      {100, 1, 100, 36, 1e-4f, 0.0f, 360, 110023},
      {100, 1, 100, 36, 1e-4f, 0.9e-4f, 360, 110023},
  };
  for (const Case& c : cases) {
    testing::TerminalCapture out;
    Status status = kStatusGood;
    KZT_FINDRINGS(false, c.xmax, 100, c.xs, 1, c.xe, 100, image, {}, c.pixel, 1e-4f, 0.005f,
                  0.005f, 1, 1, radii, c.half_width, c.sections, false, c.max_coordinates,
                  counts, x, y, in, az, status);
    EXPECT_EQ(status, c.code) << c.sections << " " << c.half_width;
    if (c.code == 110017) {
      EXPECT_NE(out.text().find("ERROR: num_sections, max_coordinates = "), std::string::npos);
    }
  }
}

// A ring store of one ring of points at radius 0.01 m about (0.05, 0.05).
void fill_store(int count) {
  KztComRings& r = vosq_kzt_comrings;
  r.num_coordinates[0] = count;
  for (int n = 0; n < count; ++n) {
    const double a = n * 6.283185 / count;
    r.x_coordinates[at(0, n)] = static_cast<float>(0.05 + 0.01 * std::cos(a));
    r.y_coordinates[at(0, n)] = static_cast<float>(0.05 + 0.01 * std::sin(a));
    r.intensities[at(0, n)] = 1.0f;
    r.azimuths[at(0, n)] = static_cast<float>(a);
  }
}

TEST(RingOutliers, RejectsOnlyOutsideTheConeWithADeterminedSpread) {
  KztComRings& r = vosq_kzt_comrings;
  const std::vector<float> two_theta{static_cast<float>(std::atan(0.01 / 0.1))};
  struct Case {
    float sigma, limit;
    int kept;
  };
  // Point 3 lies 1 mm outside the ring, point 6 1 mm inside.
  const Case cases[] = {{1e-4f, 4.0f, 9},     {1e-4f, 1e6f, 10}, {0.0f, 4.0f, 10},
                        {-1.7e38f, 4.0f, 10}, {1e-5f, 4.0f, 9}};
  for (const Case& c : cases) {
    fill_store(10);
    for (int n : {3, 6}) {
      const float a = r.azimuths[at(0, n)];
      const float step = n == 3 ? 0.001f : -0.001f;
      r.x_coordinates[at(0, n)] += step * std::cos(a);
      r.y_coordinates[at(0, n)] += step * std::sin(a);
    }
    const float later = r.azimuths[at(0, 4)];
    testing::TerminalCapture out;
    Status status = kStatusGood;
    KZT_RINGOUTLIERS(true, 15, 1, 0.1f, 0.05f, 0.05f, two_theta, 0.0f, 0.0f, c.sigma, c.limit,
                     status);
    ASSERT_EQ(status, kStatusGood);
    EXPECT_EQ(r.num_coordinates[0], c.kept) << c.sigma << " " << c.limit;
    if (c.kept == 9) {
      EXPECT_EQ(r.azimuths[at(0, 3)], later);  // the later points close up
      EXPECT_NE(out.text().find("INFO: Number of rejected coordinates =     1"),
                std::string::npos);
    }
  }
  Status status = kStatusGood;
  KZT_RINGOUTLIERS(false, 0, 1, 0.1f, 0.0f, 0.0f, two_theta, 0.0f, 0.0f, 1.0f, 4.0f, status);
  EXPECT_EQ(status, 110001);
}

TEST(TiltDisplay, RefusesBadCounts) {
  const std::vector<int> counts{1};
  const std::vector<float> xy(360);
  struct Case {
    Index max_coordinates;
    int max_rings, num_rings;
    Status code;
  };
  for (const Case& c : {Case{0, 15, 1, 110001}, Case{360, 0, 1, 110002},
                        Case{360, 15, 0, 110006}, Case{360, 1, 2, 110006}}) {
    Status status = kStatusGood;
    KZT_TILTDISPLAY(1e-4f, 1e-4f, c.max_coordinates, c.max_rings, c.num_rings, counts, xy, xy,
                    status);
    EXPECT_EQ(status, c.code);
  }
}

}  // namespace
}  // namespace kesta
