// Cake re-binning: refusals, rings built in laboratory space found by every
// scan type, conservation, polarisation, the geometry correction, the kept
// table and thread independence.

#include "app/diffraction/cake.hpp"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <functional>
#include <iterator>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/diffraction/geometry.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr double kDeg = M_PI / 180.0;

struct CakeArgs {
  Index xmax = 64, ymax = 64, xs = 1, ys = 1, xe = 64, ye = 64;
  bool conserve = false;
  int type = kScanTwoTheta;
  float maximum_d = 20.0f;
  float xps = 1.0e-4f, yps = 1.0e-4f, distance = 0.1f, wavelength = 1.0e-10f;
  float xc = 32.5f, yc = 32.5f;
  float start = 0.0f, end = 360.0f, inner = 0.0f, outer = 4.0e-3f;
  float rotation = 0.0f, tilt = 0.0f;
  Index n2 = 40, na = 1;
  bool polarise = false;
  float polarisation = 0.0f;
  int lorentz = 0;
  Index mxout = 0, myout = 0, mxwork = 0, mywork = 0;  // 0: the data's
};

struct CakeResult {
  std::vector<float> out, weights;
  float azimuth_step = 0, radial_step = 0, radial_start = 0;
  Status status = kStatusGood;
  std::string said;  // what the engine wrote
  double at(Index m, Index k, Index mxout) const { return out[(m - 1) + (k - 1) * mxout]; }
};

constexpr float kUntouched = -12345.0f;

CakeResult cake(const CakeArgs& a, const std::vector<float>& data,
                const std::vector<std::uint8_t>& mask = {}, std::span<const float> x_shift = {},
                std::span<const float> y_shift = {}) {
  const Index mxout = a.mxout ? a.mxout : a.xmax, myout = a.myout ? a.myout : a.ymax;
  const Index mxwork = a.mxwork ? a.mxwork : a.xmax, mywork = a.mywork ? a.mywork : a.ymax;
  CakeResult r;
  r.out.assign(static_cast<std::size_t>(std::max<Index>(mxout * myout, 1)), kUntouched);
  r.weights.assign(static_cast<std::size_t>(std::max<Index>(mxwork * mywork, 1)), kUntouched);
  testing::TerminalCapture quiet;
  KZT_CAL2_CAKE(a.xmax, a.ymax, a.xs, a.ys, a.xe, a.ye, data, mask, a.conserve, a.type,
                a.maximum_d, a.xps, a.yps, a.distance, a.wavelength, a.xc, a.yc, a.start, a.end,
                a.inner, a.outer, a.rotation, a.tilt, a.n2, a.na, a.polarise, a.polarisation,
                a.lorentz, mxout, myout, mxwork, mywork, r.azimuth_step, r.radial_step,
                r.radial_start, r.weights, r.out, r.status, x_shift, y_shift);
  r.said = quiet.text();
  return r;
}

// An image whose pixel (i, j) holds VALUE(x, y) of its centre's offset.
std::vector<float> image(const CakeArgs& a, const std::function<double(double, double)>& value) {
  std::vector<float> data(static_cast<std::size_t>(a.xmax * a.ymax));
  for (Index j = 1; j <= a.ymax; ++j)
    for (Index i = 1; i <= a.xmax; ++i)
      data[(i - 1) + (j - 1) * a.xmax] =
          static_cast<float>(value((i - 0.5 - a.xc) * a.xps, (j - 0.5 - a.yc) * a.yps));
  return data;
}

TEST(Cake, RefusedArgumentsWriteNothing) {
  struct Case {
    const char* what;
    std::function<void(CakeArgs&)> change;
    Status code;
  };
  const Case cases[] = {
      {"x dimension", [](CakeArgs& a) { a.xmax = 0; }, 110001},
      {"region", [](CakeArgs& a) { a.xe = 65; }, 110005},
      {"y region", [](CakeArgs& a) { a.ys = 0; }, 110006},
      {"no radial bins", [](CakeArgs& a) { a.n2 = 0; }, 110005},
      {"radial bins above the output", [](CakeArgs& a) { a.mxout = 30; }, 110005},
      {"azimuthal bins above the work", [](CakeArgs& a) { a.na = 10, a.mywork = 5; }, 110006},
      {"scan type 4", [](CakeArgs& a) { a.type = 4; }, 110017},
      {"scan type -1", [](CakeArgs& a) { a.type = -1; }, 110017},
      {"outer not above inner", [](CakeArgs& a) { a.inner = a.outer; }, 110003},
      {"distance", [](CakeArgs& a) { a.distance = 0.0f; }, 110003},
      {"pixel size", [](CakeArgs& a) { a.yps = -1.0e-4f; }, 110003},
      {"wavelength of a q scan", [](CakeArgs& a) { a.type = kScanQ, a.wavelength = 0.0f; }, 110003},
  };
  for (const Case& c : cases) {
    CakeArgs a;
    c.change(a);
    const CakeResult r = cake(a, std::vector<float>(64 * 64, 1.0f));
    EXPECT_EQ(r.status, c.code) << c.what;
    EXPECT_TRUE(std::all_of(r.out.begin(), r.out.end(), [](float v) { return v == kUntouched; }))
        << c.what;
  }
}

// A powder ring, Gaussian in true 2-theta, on a tilted detector.
struct Ring {
  CakeArgs a;
  double centre = 10.0 * kDeg, sigma = 0.1 * kDeg;
  Ring() {
    a.xmax = a.ymax = 400;
    a.xe = a.ye = 400;
    a.xc = 190.3f;
    a.yc = 205.7f;
    a.rotation = static_cast<float>(30 * kDeg);
    a.tilt = static_cast<float>(5 * kDeg);
    a.outer = static_cast<float>(0.1 * std::tan(15 * kDeg));
    a.n2 = 375;
  }
  std::vector<float> data() const {
    return image(a, [this](double x, double y) {
      const double t = testing::lab_two_theta(x, y, a.distance, a.rotation, a.tilt) - centre;
      return std::exp(-0.5 * t * t / (sigma * sigma));
    });
  }
};

// 2-theta (degrees) of a scan coordinate.
double two_theta_of(int type, double v, const CakeArgs& a) {
  const double lambda = a.wavelength * 1.0e10;
  switch (type) {
    case kScanRadial: return std::atan2(v, a.distance) / kDeg;
    case kScanTwoTheta: return v / kDeg;
    case kScanQ: return 2 * std::asin(v * lambda / (40 * M_PI)) / kDeg;
    default: return 2 * std::asin(lambda / (2 * v)) / kDeg;
  }
}

struct Peak {
  double centre, sigma, height;
};

// Centroid, width and height in 2-theta of row K of a scan, each bin
// weighted by the 2-theta width it covers.
Peak peak(const CakeResult& r, const CakeArgs& a, int type, Index k = 1) {
  const Index mxout = a.mxout ? a.mxout : a.xmax;
  Index best = 1;
  for (Index m = 1; m <= a.n2; ++m)
    if (r.at(m, k, mxout) > r.at(best, k, mxout)) best = m;
  double s0 = 0, s1 = 0, s2 = 0;
  std::vector<double> tth, width;
  for (Index m = std::max<Index>(best - 40, 1); m <= std::min(best + 40, a.n2); ++m) {
    const double lo = two_theta_of(type, (m - 1) * r.radial_step + r.radial_start, a);
    const double hi = two_theta_of(type, m * r.radial_step + r.radial_start, a);
    const double w = std::abs(hi - lo) * r.at(m, k, mxout);
    s0 += w;
    s1 += w * 0.5 * (lo + hi);
    s2 += w * 0.25 * (lo + hi) * (lo + hi);
  }
  const double c = s1 / s0;
  return {c, std::sqrt(s2 / s0 - c * c), r.at(best, k, mxout)};
}

TEST(Cake, RingsFoundByEveryScanType) {
  Ring ring;
  const std::vector<float> data = ring.data();
  struct Case {
    int type;
    Index bins;
    float maximum_d;
  };
  for (const Case& c : {Case{kScanRadial, 375, 20}, Case{kScanTwoTheta, 375, 20},
                        Case{kScanQ, 375, 20}, Case{kScanD, 360, 8}}) {
    CakeArgs a = ring.a;
    a.type = c.type;
    a.n2 = c.bins;
    a.maximum_d = c.maximum_d;
    const CakeResult r = cake(a, data);
    ASSERT_EQ(r.status, kStatusGood);
    const Peak p = peak(r, a, c.type);
    EXPECT_NEAR(p.centre, 10.0, 0.001) << c.type;
    EXPECT_NEAR(p.sigma, 0.1023, 0.004) << c.type;
    EXPECT_NEAR(p.height, 0.98, 0.03) << c.type;
  }
  // The opposite tilt barely moves the ring but widens it.
  CakeArgs wrong = ring.a;
  wrong.tilt = -wrong.tilt;
  EXPECT_GT(peak(cake(wrong, data), wrong, kScanTwoTheta).sigma, 0.12);
}

TEST(Cake, ConservedCakeSumsToTheScanAndTheImage) {
  Ring ring;
  const std::vector<float> data = ring.data();
  CakeArgs scan = ring.a;
  scan.conserve = true;
  scan.outer = 0.06f;  // beyond every corner, so every pixel is shared whole
  CakeArgs sectors = scan;
  sectors.start = 0.0f;
  sectors.end = 6.283185f;
  sectors.na = 36;
  const CakeResult one = cake(scan, data), many = cake(sectors, data);
  ASSERT_EQ(many.status, kStatusGood);
  double total = 0, image_total = std::accumulate(data.begin(), data.end(), 0.0);
  for (Index m = 1; m <= scan.n2; ++m) {
    double sum = 0;
    for (Index k = 1; k <= 36; ++k) sum += many.at(m, k, 400);
    EXPECT_NEAR(sum, one.at(m, 1, 400), 1e-4 * (1 + std::abs(sum))) << m;
    total += one.at(m, 1, 400);
  }
  EXPECT_NEAR(total, image_total, 1e-5 * image_total);
  // Every sector finds the ring too.
  CakeArgs averaged = sectors;
  averaged.conserve = false;
  averaged.outer = ring.a.outer;
  const CakeResult avg = cake(averaged, data);
  for (Index k = 1; k <= 36; ++k)
    EXPECT_NEAR(peak(avg, averaged, kScanTwoTheta, k).centre, 10.0, 0.002) << k;
}

TEST(Cake, PolarisationRoundTripAndGeometryCorrection) {
  CakeArgs a;
  a.rotation = 0.3f;
  a.tilt = 0.1f;
  a.polarise = true;
  a.polarisation = 0.9f;
  const std::vector<float> polarised = image(a, [&](double x, double y) {
    const double t = testing::lab_two_theta(x, y, a.distance, a.rotation, a.tilt);
    const double c = std::cos(t) * std::cos(t);
    const double phi = DiffractionGeometry::azimuth(x, y);
    return 0.5 * ((1 + c) - (1 - c) * std::cos(2 * phi) * a.polarisation);
  });
  const CakeResult r = cake(a, polarised);
  for (Index m = 1; m <= a.n2; ++m) EXPECT_NEAR(r.at(m, 1, 64), 1.0, 1e-5) << m;
  // A detector a hair from the sample: every 2-theta next to 90 degrees, and
  // (r / D)^2 beyond what a float holds. The factor is still corrected.
  CakeArgs near = a;
  near.distance = 1.0e-25f;
  near.outer = 1.0f;
  near.rotation = near.tilt = 0.0f;
  near.xc = 32.3f;  // no pixel on the beam centre, which is not corrected
  const std::vector<float> sideways = image(near, [&](double x, double y) {
    return 0.5 * (1 - std::cos(2 * DiffractionGeometry::azimuth(x, y)) * near.polarisation);
  });
  const CakeResult n = cake(near, sideways);
  ASSERT_EQ(n.status, kStatusGood);
  Index filled = 0;
  for (Index m = 1; m <= near.n2; ++m) {
    if (n.weights[m - 1] <= 0.01) continue;
    ++filled;
    EXPECT_NEAR(n.at(m, 1, 64), 1.0, 1e-5) << m;
  }
  EXPECT_GT(filled, 0);

  // A flat image corrected to a single-counter scan: each bin by 1/cos^3 of
  // its own lower edge, in 2-theta and in q alike.
  CakeArgs flat;
  flat.lorentz = 1;
  flat.distance = 0.003f;
  for (const int type : {kScanTwoTheta, kScanQ}) {
    flat.type = type;
    const CakeResult s = cake(flat, std::vector<float>(64 * 64, 1.0f));
    for (Index m = 1; m <= flat.n2; ++m) {
      const double lower = two_theta_of(type, (m - 1) * s.radial_step + s.radial_start, flat);
      const double c = std::cos(lower * kDeg);
      if (s.weights[m - 1] > 0.01) {
        EXPECT_NEAR(s.at(m, 1, 64), 1 / (c * c * c), 1e-4) << m;
      }
    }
  }
}

TEST(Cake, DSpacingAxisDecreasesAndTheCentreAddsNothing) {
  CakeArgs a;
  a.type = kScanD;
  a.maximum_d = 20.0f;
  // Pixel (33, 33) is centred on the beam centre.
  a.outer = 0.004f;
  a.distance = 0.01f;
  const CakeResult r = cake(a, std::vector<float>(64 * 64, 1.0f));
  ASSERT_EQ(r.status, kStatusGood);
  EXPECT_EQ(r.radial_start, 20.0f);
  EXPECT_LT(r.radial_step, 0.0f);
  for (Index m = 1; m <= a.n2; ++m) EXPECT_TRUE(std::isfinite(r.at(m, 1, 64))) << m;
  // An end azimuth below the start wraps through 360 degrees.
  CakeArgs wrapped;
  wrapped.start = static_cast<float>(350 * kDeg);
  wrapped.end = static_cast<float>(10 * kDeg);
  wrapped.na = 2;
  EXPECT_NEAR(cake(wrapped, std::vector<float>(64 * 64, 1.0f)).azimuth_step, 10 * kDeg, 1e-6);
}

// A maximum d-spacing below the smallest d of the region leaves no range to
// bin into: the scan is computed all the same, every bin 0.0, and one warning
// names both values; it is not a refusal.
TEST(Cake, MaximumDBelowTheRegionGivesEmptyBinsAndOneWarning) {
  for (const bool conserve : {false, true}) {
    CakeArgs a;
    a.type = kScanD;
    a.conserve = conserve;
    a.inner = 1.0e-3f;
    a.maximum_d = 5.0f;  // the outer limit's d is 25.015 Angstroms
    a.na = 3;
    a.end = static_cast<float>(2 * M_PI);
    const CakeResult r = cake(a, std::vector<float>(64 * 64, 1.0f));
    ASSERT_EQ(r.status, kStatusGood) << conserve;
    for (Index k = 1; k <= a.na; ++k)
      for (Index m = 1; m <= a.n2; ++m) {
        EXPECT_EQ(r.at(m, k, 64), 0.0f) << m << " " << k;
        EXPECT_EQ(r.weights[(m - 1) + (k - 1) * 64], 0.0f) << m << " " << k;
      }
    EXPECT_EQ(r.at(a.n2 + 1, 1, 64), kUntouched);  // only the bins are written
    EXPECT_EQ(r.radial_start, 5.0f);
    EXPECT_NEAR(r.azimuth_step, 120 * kDeg, 1e-6);
    std::size_t warnings = 0;
    for (std::size_t at = r.said.find("WARNING"); at != std::string::npos;
         at = r.said.find("WARNING", at + 1))
      ++warnings;
    EXPECT_EQ(warnings, 1u) << r.said;
    EXPECT_NE(r.said.find("MAX. D-SPACING"), std::string::npos) << r.said;
    EXPECT_NE(r.said.find("5.0000"), std::string::npos) << r.said;
    EXPECT_NE(r.said.find("25.01"), std::string::npos) << r.said;
  }
}

TEST(Cake, TableKeptUntilAnArgumentChanges) {
  CakeArgs base;
  base.na = 4;
  base.end = 6.283185f;
  std::vector<float> data(64 * 64, 2.0f);
  std::vector<std::uint8_t> mask(64 * 64, 0);
  cake(base, data, mask);
  const std::int64_t builds = kzt_cake_table_builds();
  data[100] = 7.0f;  // the data never rebuild the table
  cake(base, data, mask);
  EXPECT_EQ(kzt_cake_table_builds(), builds);
  const std::function<void(CakeArgs&)> changes[] = {
      [](CakeArgs& a) { a.xe = 63; },         [](CakeArgs& a) { a.type = kScanQ; },
      [](CakeArgs& a) { a.xps = 1.1e-4f; },   [](CakeArgs& a) { a.distance = 0.11f; },
      [](CakeArgs& a) { a.xc = 30.0f; },      [](CakeArgs& a) { a.start = 0.1f; },
      [](CakeArgs& a) { a.outer = 3.0e-3f; }, [](CakeArgs& a) { a.tilt = 0.01f; },
      [](CakeArgs& a) { a.n2 = 30; },         [](CakeArgs& a) { a.na = 3; },
      [](CakeArgs& a) { a.polarise = true; }, [](CakeArgs& a) { a.wavelength = 2e-10f; },
  };
  Index n = 0;
  for (const auto& change : changes) {
    CakeArgs a = base;
    change(a);
    cake(a, data, mask);
    EXPECT_EQ(kzt_cake_table_builds(), builds + 2 * n + 1) << n;
    cake(base, data, mask);
    ++n;
  }
  mask[200] = 1;
  cake(base, data, mask);
  EXPECT_EQ(kzt_cake_table_builds(), builds + 2 * n + 1);
}

TEST(Cake, PixelsOfManyEntriesGiveTheSameFrameFromTheKeptTable) {
  // The pixel on the beam centre shares its value among all 360 azimuths
  // (more entries than a small count holds), its neighbours among dozens.
  CakeArgs a;
  a.na = 360;
  a.end = 6.283185f;
  a.myout = a.mywork = 360;
  const std::vector<float> flat(64 * 64, 1.0f);
  std::vector<float> data(64 * 64);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i % 13);
  cake(a, flat, {});
  const std::int64_t builds = kzt_cake_table_builds();
  const CakeResult kept = cake(a, data, {});
  EXPECT_EQ(kzt_cake_table_builds(), builds);
  kzt_release_cake_table();
  const CakeResult built = cake(a, data, {});
  ASSERT_EQ(built.status, kStatusGood);
  EXPECT_EQ(kept.out, built.out);
  EXPECT_EQ(kept.weights, built.weights);
  // The centre pixel has a share in the innermost bin of every azimuth.
  for (Index k = 1; k <= 360; ++k) EXPECT_GT(built.weights[(k - 1) * 64], 0.0f) << k;
}

TEST(Cake, NonFinitePixelsAreLeftOutAsMaskedOnes) {
  Ring ring;
  ring.a.na = 6;
  ring.a.end = 6.283185f;
  const std::vector<float> clean = ring.data();
  // NaN and infinite pixels in DATA, and the mask that leaves the same out.
  const auto spoil = [&](std::initializer_list<std::size_t> at, std::vector<float>& data,
                         std::vector<std::uint8_t>& mask) {
    data = clean;
    mask.assign(clean.size(), 0);
    int n = 0;
    for (const std::size_t e : at) {
      data[e] = n++ % 2 == 0 ? std::numeric_limits<float>::quiet_NaN()
                             : -std::numeric_limits<float>::infinity();
      mask[e] = 1;
    }
  };
  std::vector<float> data, other_data;
  std::vector<std::uint8_t> mask, other_mask;
  spoil({400 * 150 + 120, 400 * 210 + 260, 400 * 300 + 190}, data, mask);
  spoil({400 * 100 + 200, 400 * 250 + 90}, other_data, other_mask);
  const CakeResult masked = cake(ring.a, clean, mask);
  const CakeResult other_masked = cake(ring.a, clean, other_mask);
  kzt_release_cake_table();
  // Found as a new table is made, then from the kept table; another frame
  // with other such pixels makes a new table; so does a change of geometry.
  const CakeResult first = cake(ring.a, data, {});
  const std::int64_t builds = kzt_cake_table_builds();
  const CakeResult kept = cake(ring.a, data, {});
  EXPECT_EQ(kzt_cake_table_builds(), builds);
  const CakeResult other = cake(ring.a, other_data, {});
  EXPECT_EQ(kzt_cake_table_builds(), builds + 1);
  CakeArgs moved = ring.a;
  moved.xc += 0.5f;
  cake(moved, data, {});
  const CakeResult back = cake(ring.a, data, {});
  for (const CakeResult* r : {&first, &kept, &back}) {
    ASSERT_EQ(r->status, kStatusGood);
    EXPECT_EQ(r->out, masked.out);
    EXPECT_EQ(r->weights, masked.weights);
  }
  EXPECT_EQ(other.out, other_masked.out);
  EXPECT_EQ(other.weights, other_masked.weights);
  EXPECT_TRUE(
      std::all_of(first.out.begin(), first.out.end(), [](float v) { return std::isfinite(v); }));
}

// The NaN pixels of a small region in large arrays are left out touching the
// region's pages only, never a copy of the whole mask (64 MB here; the
// address sanitizer's own records of a freed block take an eighth of it).
TEST(Cake, NonFinitePixelsOfASmallRegionInLargeArraysTouchItsPagesOnly) {
  constexpr Index kLarge = 8192, kSide = 64;
  const auto count = static_cast<std::size_t>(kLarge * kLarge);
  void* data_block = nullptr;
  void* mask_block = nullptr;
  Status status = kStatusGood;
  io_calloc_array(kLarge * kLarge, sizeof(float), data_block, status);
  io_calloc_array(kLarge * kLarge, 1, mask_block, status);
  ASSERT_EQ(status, kStatusGood);
  const std::span<float> data(static_cast<float*>(data_block), count);
  const std::span<std::uint8_t> mask(static_cast<std::uint8_t*>(mask_block), count);
  for (Index y = 1; y <= kSide; ++y)
    for (Index x = 1; x <= kSide; ++x)
      data[static_cast<std::size_t>(element(x, y, kLarge))] = 10.0f;
  data[static_cast<std::size_t>(element(40, 20, kLarge))] = std::nanf("");
  mask[static_cast<std::size_t>(element(10, 50, kLarge))] = 1;
  std::vector<float> out(40, kUntouched), weights(40, kUntouched);
  float azimuth_step = 0, radial_step = 0, radial_start = 0;
  kzt_release_cake_table();
  const testing::ResidentPeak peak;
  KZT_CAL2_CAKE(kLarge, kLarge, 1, 1, kSide, kSide, data, mask, false, kScanTwoTheta, 20.0f,
                1.0e-4f, 1.0e-4f, 0.1f, 1.0e-10f, 32.5f, 32.5f, 0.0f, 360.0f, 0.0f, 4.0e-3f, 0.0f,
                0.0f, 40, 1, false, 0.0f, 0, 40, 1, 40, 1, azimuth_step, radial_step, radial_start,
                weights, out, status, {}, {});
  EXPECT_LT(peak.grown_bytes(), kLarge * kLarge / 2);
  ASSERT_EQ(status, kStatusGood);
  for (std::size_t m = 0; m < out.size(); ++m)
    EXPECT_TRUE(weights[m] <= 0.0f || std::fabs(out[m] - 10.0f) < 1e-4f) << m << ": " << out[m];
  kzt_release_cake_table();
  IO_FREE(data_block, status);
  IO_FREE(mask_block, status);
}

// Makes every later attempt of this process to start a thread fail as a
// want of resources does (clone and clone3 answer EAGAIN). False where the
// system does not take the filter.
bool refuse_new_threads() {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 2, 0),
#ifdef SYS_clone3
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 1, 0),
#else
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 1, 0),
#endif
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAGAIN & SECCOMP_RET_DATA)),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(Cake, ThreadsThatCannotStartLeaveTheirWorkToTheOthers) {
  // Where the system refuses new threads, each part runs on the thread that
  // would have started it: the cake is the one-thread cake, and no thread
  // waits for one that never came (the child is stopped after 60 s).
  Ring ring;
  ring.a.n2 = 400;
  ring.a.na = 200;  // enough bins to be added up in ranges
  ring.a.end = 6.283185f;
  const std::vector<float> data = ring.data();
  kzt_set_cake_threads(1);
  const CakeResult one = cake(ring.a, data);
  kzt_release_cake_table();
  ASSERT_EQ(one.status, kStatusGood);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(60);
    if (!refuse_new_threads()) _exit(2);
    kzt_set_cake_threads(4);
    const CakeResult built = cake(ring.a, data), kept = cake(ring.a, data);
    const bool same = built.status == kStatusGood && kept.status == kStatusGood &&
                      built.out == one.out && kept.out == one.out &&
                      built.weights == one.weights;
    _exit(same ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  kzt_set_cake_threads(0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "no system call filter here";
  ASSERT_TRUE(WIFEXITED(status)) << "stopped by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Cake, ThreadCountDoesNotChangeTheResult) {
  // Footprints of one to several bins each way, a wrapped full circle, a
  // mask and the reversed d axis: every path of the table set-up; each
  // result again from the kept table.
  struct Case {
    int type;
    Index n2, na;
    float start, end;
    bool masked;
  };
  // (400 x 200 bins: enough for the bins to be added up in ranges.)
  for (const Case& c : {Case{kScanTwoTheta, 375, 8, 0.0f, 6.283185f, false},
                        Case{kScanTwoTheta, 400, 200, 0.0f, 6.283185f, false},
                        Case{kScanTwoTheta, 60, 1, 0.0f, 360.0f, true},
                        Case{kScanRadial, 375, 50, 2.5f, 2.5f + 6.283185f, true},
                        Case{kScanQ, 25, 30, -1.0f, 2.0f, false},
                        Case{kScanD, 30, 3, 0.5f, 4.0f, true}}) {
    Ring ring;
    ring.a.type = c.type;
    ring.a.n2 = c.n2;
    ring.a.na = c.na;
    ring.a.start = c.start;
    ring.a.end = c.end;
    ring.a.polarise = true;
    ring.a.polarisation = 0.7f;
    const std::vector<float> data = ring.data();
    std::vector<std::uint8_t> mask;
    if (c.masked) {
      mask.assign(data.size(), 0);
      for (std::size_t i = 0; i < mask.size(); i += 7) mask[i] = 1;
    }
    kzt_set_cake_threads(1);
    const CakeResult one = cake(ring.a, data, mask);
    kzt_release_cake_table();
    kzt_set_cake_threads(4);
    const CakeResult four = cake(ring.a, data, mask);
    // The frame binned as the table is made and a frame through the kept
    // table add the same values in the same order.
    const CakeResult kept = cake(ring.a, data, mask);
    const CakeResult again = cake(ring.a, data, mask);
    // A table set up in the memory of the one it replaces (another beam
    // centre) is the table set up afresh.
    CakeArgs moved = ring.a;
    moved.xc += 0.37f;
    cake(moved, data, mask);
    const CakeResult rebuilt = cake(ring.a, data, mask);
    kzt_set_cake_threads(0);
    ASSERT_EQ(one.status, kStatusGood) << c.type;
    EXPECT_EQ(one.out, four.out) << c.type;
    EXPECT_EQ(one.weights, four.weights) << c.type;
    EXPECT_EQ(four.out, kept.out) << c.type;
    EXPECT_EQ(four.weights, kept.weights) << c.type;
    EXPECT_EQ(kept.out, again.out) << c.type;
    EXPECT_EQ(four.out, rebuilt.out) << c.type;
    EXPECT_EQ(four.weights, rebuilt.weights) << c.type;
  }
}

// GOT against EXPECTED, the same sums added in another order: the values
// within RELATIVE of the largest value (more than 1), the weights within
// WEIGHT.
void expect_near(const CakeResult& got, const CakeResult& expected, double relative,
                 double weight) {
  double largest = 0.0;
  for (const float v : expected.out) largest = std::max(largest, std::abs(static_cast<double>(v)));
  ASSERT_GT(largest, 1.0);
  for (std::size_t i = 0; i < expected.out.size(); ++i) {
    ASSERT_NEAR(got.out[i], expected.out[i], relative * largest) << i;
    ASSERT_NEAR(got.weights[i], expected.weights[i], weight) << i;
  }
}

// A region of 1500 x 90 pixels, wide enough to be cut into columns as well
// as rows, with the beam centre on it: a full circle of NA azimuths and N2
// bins out to OUTER.
CakeArgs wide_region(float outer, Index n2, Index na) {
  CakeArgs a;
  a.xmax = a.xe = 1500;
  a.ymax = a.ye = 90;
  a.xc = 1203.3f;
  a.yc = 41.6f;
  a.outer = outer;
  a.n2 = n2;
  a.na = na;
  a.end = 6.283185f;
  return a;
}

TEST(Cake, AWideImageInRectanglesGivesTheResultOfItsPixels) {
  // An image wide enough to be cut into columns as well as rows, the beam
  // centre on it (footprints of many bins beside footprints of one or two,
  // and the wrap of the circle inside a rectangle), NaN pixels and a mask:
  // the same as the narrower region of the pixels left in, which is cut
  // into rows only, and the same on any number of threads and from the
  // kept table.
  CakeArgs a = wide_region(0.12f, 300, 90);
  a.polarise = true;
  a.polarisation = 0.5f;
  a.tilt = static_cast<float>(3 * kDeg);
  std::vector<float> data =
      image(a, [](double x, double y) { return 5.0 + std::sin(60 * x) * std::cos(40 * y); });
  std::vector<std::uint8_t> mask(data.size(), 0);
  for (std::size_t i = 0; i < mask.size(); i += 13) mask[i] = 1;
  data[1250 + 40 * 1500] = std::numeric_limits<float>::quiet_NaN();
  // The narrow region: the columns beyond 900 left out.
  CakeArgs narrow = a;
  narrow.xe = 900;
  std::vector<std::uint8_t> left_only = mask;
  for (Index j = 0; j < a.ymax; ++j)
    for (Index i = 900; i < a.xmax; ++i) left_only[static_cast<std::size_t>(i + j * a.xmax)] = 1;
  kzt_set_cake_threads(3);
  const CakeResult expected = cake(narrow, data, mask);
  kzt_set_cake_threads(1);
  const CakeResult one = cake(a, data, left_only);
  kzt_release_cake_table();
  kzt_set_cake_threads(4);
  const CakeResult four = cake(a, data, left_only);
  const CakeResult kept = cake(a, data, left_only);
  // A table set up after another (its windows of bins reused) is the same.
  CakeArgs moved = a;
  moved.xc -= 40.0f;
  cake(moved, data, left_only);
  const CakeResult rebuilt = cake(a, data, left_only);
  kzt_set_cake_threads(0);
  ASSERT_EQ(expected.status, kStatusGood);
  ASSERT_EQ(one.status, kStatusGood);
  // (The sums are added in another order: equal to rounding.)
  ASSERT_NO_FATAL_FAILURE(expect_near(one, expected, 1.0e-6, 1.0e-5));
  EXPECT_EQ(one.out, four.out);
  EXPECT_EQ(one.weights, four.weights);
  EXPECT_EQ(four.out, kept.out);
  EXPECT_EQ(four.out, rebuilt.out);
  EXPECT_EQ(four.weights, rebuilt.weights);
}

// A long pass says how far it has gone every 300 rows of the region, once
// each, whether the table is set up or kept, on one thread or several, in
// strips of rows or in rectangles; a region of fewer rows says nothing.
TEST(Cake, ProgressSaidEveryThreeHundredRows) {
  const auto lines = [](const std::string& said) {
    std::vector<std::string> found;
    for (std::size_t at = said.find("INFO: Number of rows"); at != std::string::npos;
         at = said.find("INFO: Number of rows", at + 1))
      found.push_back(said.substr(at, said.find('\n', at) - at));
    return found;
  };
  const std::vector<std::string> expected{"INFO: Number of rows treated =    300 ( 47%)",
                                          "INFO: Number of rows treated =    600 ( 95%)"};
  for (const Index width : {64, 1100}) {
    CakeArgs a;
    a.xmax = a.xe = width;
    a.ymax = 660;
    a.ys = 21;
    a.ye = 650;  // 630 rows
    a.xc = static_cast<float>(width) / 2.0f;
    a.yc = 300.0f;
    a.na = 8;
    a.end = 6.283185f;
    const std::vector<float> data = image(a, [](double x, double y) { return 1.0 + x * y; });
    for (const int threads : {1, 4}) {
      SCOPED_TRACE(std::to_string(width) + " wide, threads " + std::to_string(threads));
      kzt_set_cake_threads(threads);
      kzt_release_cake_table();
      const CakeResult built = cake(a, data);
      const CakeResult kept = cake(a, data);
      ASSERT_EQ(built.status, kStatusGood);
      EXPECT_EQ(lines(built.said), expected) << built.said;
      EXPECT_EQ(lines(kept.said), expected) << kept.said;
    }
    a.ye = a.ys + 298;
    EXPECT_TRUE(lines(cake(a, data).said).empty());
  }
  kzt_set_cake_threads(0);
}

TEST(Cake, LargeDisplacementsAreTheBeamCentreMovedTheOtherWay) {
  // Every pixel of a wide image displaced by hundreds of pixels (a large
  // distortion): the same as the undisplaced image with the beam centre
  // moved the other way, although the rectangles then reach quite other
  // bins than their corners suggest. Displacements that differ from pixel
  // to pixel give the same on any number of threads and from the kept table.
  CakeArgs a = wide_region(0.14f, 200, 72);
  const std::vector<float> data =
      image(a, [](double x, double y) { return 3.0 + std::cos(50 * x) * std::sin(70 * y); });
  const auto n = static_cast<std::size_t>(a.xmax * a.ymax);
  const std::vector<float> dx(n, 400.0f), dy(n, -30.0f);
  CakeArgs moved = a;
  moved.xc -= 400.0f;
  moved.yc += 30.0f;
  const CakeResult expected = cake(moved, data);
  const CakeResult displaced = cake(a, data, {}, dx, dy);
  ASSERT_EQ(displaced.status, kStatusGood);
  ASSERT_NO_FATAL_FAILURE(expect_near(displaced, expected, 1.0e-5, 1.0e-4));
  std::vector<float> ex(n), ey(n);
  for (std::size_t i = 0; i < n; ++i) {
    ex[i] = i % 3 == 0 ? 350.0f : -250.5f;
    ey[i] = i % 5 == 0 ? -60.0f : 20.25f;
  }
  kzt_set_cake_threads(1);
  const CakeResult one = cake(a, data, {}, ex, ey);
  kzt_release_cake_table();
  kzt_set_cake_threads(4);
  const CakeResult four = cake(a, data, {}, ex, ey);
  const CakeResult kept = cake(a, data, {}, ex, ey);
  kzt_set_cake_threads(0);
  ASSERT_EQ(one.status, kStatusGood);
  EXPECT_EQ(one.out, four.out);
  EXPECT_EQ(one.weights, four.weights);
  EXPECT_EQ(four.out, kept.out);
}

}  // namespace
}  // namespace kesta
