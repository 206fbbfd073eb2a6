// The unit cell conversions and the Bragg equation sub-menu.

#include "app/diffraction/calculators.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

constexpr double kDeg = 3.141592653589793 / 180.0;

TEST(UnitCell, RealAndReciprocalCellsConvertBothWays) {
  const UnitCell cells[] = {{10, 10, 10, 90 * kDeg, 90 * kDeg, 90 * kDeg},
                            {86.5, 86.5, 2690.0, 94.6 * kDeg, 88.05 * kDeg, 120.0 * kDeg},
                            {5.1, 7.3, 9.9, 70 * kDeg, 100 * kDeg, 115 * kDeg}};
  for (const UnitCell& real : cells) {
    Status status = kStatusGood;
    double v = 0, vstar = 0;
    UnitCell recip{}, back{};
    ASSERT_TRUE(KZT_UNIT2RECIPROCAL(real, v, recip, status));
    ASSERT_TRUE(KZT_RECIP2UNIT(recip, vstar, back, status));
    EXPECT_NEAR(v * vstar, 1.0, 1e-9);
    const double in[] = {real.a, real.b, real.c, real.alpha, real.beta, real.gamma};
    const double out[] = {back.a, back.b, back.c, back.alpha, back.beta, back.gamma};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(out[k], in[k], 1e-9 * std::abs(in[k])) << k;
  }
  Status status = kStatusGood;
  double v = 0;
  UnitCell recip{};
  KZT_UNIT2RECIPROCAL(cells[0], v, recip, status);
  EXPECT_NEAR(v, 1000.0, 1e-9);
  EXPECT_NEAR(recip.a, 0.1, 1e-12);
  EXPECT_NEAR(recip.gamma, 90 * kDeg, 1e-12);
}

TEST(UnitCell, AnglesWithoutACellGiveAWarningAndNoNumbers) {
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  double v = -1;
  UnitCell recip{1, 2, 3, 4, 5, 6};
  EXPECT_FALSE(KZT_UNIT2RECIPROCAL({1, 1, 1, 10 * kDeg, 10 * kDeg, 170 * kDeg}, v, recip, status));
  EXPECT_FALSE(KZT_RECIP2UNIT({1, 1, 1, 0, 0, 0}, v, recip, status));
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(recip.a, 1);
  EXPECT_NE(terminal.text().find("WARNING: "), std::string::npos);
}

TEST(Bragg, SubMenuSolvesForEachQuantityAndRefusesImpossibleAngles) {
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({"D-SPACING", "", "",             // first values
                                "TWO THETA ANGLE", "", "0.5",    // d below half the wavelength
                                "WAVELENGTH/ENERGY", "1.0", "60",  // 1 Angstrom
                                "FOO", "EXIT"});
  Status status = kStatusGood;
  KZT_BRAGG(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(input.remaining(), 0u);
  const std::string text = terminal.text();
  EXPECT_NE(text.find("INFO: D-spacing (Angstroms) =      4.436"), std::string::npos) << text;
  EXPECT_NE(text.find("WARNING: No Bragg reflection"), std::string::npos);
  EXPECT_EQ(text.find("INFO: Two theta angle"), std::string::npos);
  EXPECT_NE(text.find("INFO: Wavelength (Angstroms) =      1.00000"), std::string::npos);
  EXPECT_NE(text.find("INFO: Energy (keV) =     12.39852"), std::string::npos);
  testing::reset_dialogue();
}

}  // namespace
}  // namespace kesta
