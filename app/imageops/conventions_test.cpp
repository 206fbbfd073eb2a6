#include "app/imageops/conventions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/imageops/upcalls.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

using namespace kesta;
using kesta::testing::TerminalCapture;

namespace {

TEST(OperationRegionCheck, CodesInOrderAndNothingForAGoodRegion) {
  const struct {
    Index xmax, ymax, xs, ys, xe, ye;
    std::size_t size;
    Status code;
  } cases[] = {
      {4, 3, 1, 1, 4, 3, 12, kStatusGood},  {0, 3, 1, 1, 4, 3, 12, 110001},
      {4, 0, 1, 1, 4, 3, 12, 110002},       {4, 3, 1, 1, 5, 3, 12, 110005},
      {4, 3, 3, 1, 2, 3, 12, 110005},       {4, 3, 0, 1, 2, 3, 12, 110005},
      {4, 3, 1, 1, 4, 4, 12, 110006},       {4, 3, 1, 2, 4, 1, 12, 110006},
      {4, 3, 1, 1, 4, 3, 11, 110001},       {0, 0, 9, 9, 1, 1, 0, 110001},
  };
  for (const auto& c : cases) {
    Status status = kStatusGood;
    const bool refused = kzt_region_refused("Subroutine KZT_TEST V0.1", c.xmax, c.ymax, c.xs, c.ys,
                                            c.xe, c.ye, status, {c.size});
    EXPECT_EQ(refused, c.code != kStatusGood);
    EXPECT_EQ(status, c.code) << c.xmax << " " << c.xe << " " << c.ye;
    if (refused) {
      EXPECT_EQ(st_position(), "Subroutine KZT_TEST V0.1");
    }
  }
  Status status = kStatusEscape;
  EXPECT_TRUE(kzt_region_refused("Subroutine KZT_TEST V0.2", 4, 3, 1, 1, 4, 3, status));
  EXPECT_EQ(status, kStatusEscape);
}

struct Answers {
  float value = 2.5f;
  int count = 3;
};

TEST(RememberedAnswers, KeptUntilForgotten) {
  remembered<Answers>().value = 7.0f;
  EXPECT_EQ(remembered<Answers>().value, 7.0f);
  kzt_forget_answers();
  EXPECT_EQ(remembered<Answers>().value, 2.5f);
  EXPECT_EQ(remembered<Answers>().count, 3);
}

int calls = 0;
void geometry(bool& known, float& xb, float& yb, float& distance, float& wavelength, float&,
              float&, float&, Status&) {
  ++calls;
  known = true;
  xb = 10.0f;
  yb = 20.0f;
  distance = 0.1f;
  wavelength = 1.0e-10f;
}

TEST(Upcalls, EmptySlotSaysNotAvailableAndAGuardRestoresTheTable) {
  UpcallsOverride empty{ImageopsUpcalls{}};
  bool known = true;
  float xb = 1.0f, yb = 2.0f, d = 3.0f, w = 4.0f, t1 = 0.0f, t2 = 0.0f, t3 = 0.0f;
  Status status = kStatusGood;
  {
    TerminalCapture terminal;
    EXPECT_FALSE(kzt_upcall(imageops_upcalls.inq_geometry, "GEOMETRY", status, known, xb, yb, d,
                            w, t1, t2, t3));
    EXPECT_EQ(terminal.text(),
              "WARNING: The command \"GEOMETRY\" is not available yet in this version of KESTA\n");
  }
  kzt_inq_geometry(known, xb, yb, d, w, status);
  EXPECT_FALSE(known);
  EXPECT_EQ(xb, 1.0f);
  const auto missing = [] {
    const std::vector<std::string_view> names = imageops_upcalls_missing(imageops_upcalls);
    return std::find(names.begin(), names.end(), "KZT_INQ_GEOMETRY") != names.end();
  };
  EXPECT_TRUE(missing());
  {
    UpcallsOverride filled{ImageopsUpcalls{.inq_geometry = geometry}};
    EXPECT_FALSE(missing());
    kzt_inq_geometry(known, xb, yb, d, w, status);
    EXPECT_TRUE(known);
    EXPECT_EQ(xb, 10.0f);
    EXPECT_EQ(calls, 1);
  }
  EXPECT_EQ(imageops_upcalls.inq_geometry, nullptr);
  EXPECT_EQ(status, kStatusGood);
}

// The stored geometry as the inquiry gives it: keys absent leave their
// arguments as they were, KNOWN is always true.
float stored_distance = 0.0f, stored_wavelength = 0.0f;
bool distance_key = false, wavelength_key = false;
void stored_geometry(bool& known, float& xb, float&, float& distance, float& wavelength, float&,
                     float&, float&, Status&) {
  known = true;
  xb = 5.0f;
  if (distance_key) distance = stored_distance;
  if (wavelength_key) wavelength = stored_wavelength;
}

// Read-outs take the geometry as unknown (no d-spacings) without a sample
// distance and a wavelength above 0, whatever the caller held before.
TEST(Upcalls, GeometryWithoutDistanceOrWavelengthIsUnknown) {
  UpcallsOverride filled{ImageopsUpcalls{.inq_geometry = stored_geometry}};
  struct Case {
    bool distance_key, wavelength_key;
    float distance, wavelength;
    bool known;
  };
  const Case cases[] = {{false, false, 0, 0, false},           {false, true, 0, 1e-10f, false},
                        {true, false, 0.1f, 0, false},         {true, true, 0.0f, 1e-10f, false},
                        {true, true, 0.1f, -1e-10f, false},    {true, true, 0.1f, INFINITY, false},
                        {true, true, 0.1f, 1e-10f, true}};
  for (const Case& c : cases) {
    distance_key = c.distance_key;
    wavelength_key = c.wavelength_key;
    stored_distance = c.distance;
    stored_wavelength = c.wavelength;
    bool known = !c.known;
    float xb = 1.0f, yb = 2.0f, d = 0.3f, w = 2.0e-10f;
    Status status = kStatusGood;
    kzt_inq_geometry(known, xb, yb, d, w, status);
    EXPECT_EQ(known, c.known) << c.distance << " " << c.wavelength;
    EXPECT_EQ(status, kStatusGood);
    EXPECT_EQ(d, c.known ? c.distance : 0.3f);
    EXPECT_EQ(xb, 5.0f);
  }
}

}  // namespace
