#include <gtest/gtest.h>

#include <vector>

#include "graphics/device/device_test_support.hpp"
#include "graphics/device/kernel.hpp"

namespace kesta {
namespace {

class ColourTable : public ::testing::Test {
 protected:
  void SetUp() override { QG_OPEN(0, status); }
  Rgb entry(int i) const { return qg_db_colours.table[static_cast<std::size_t>(i)]; }
  Status status = ST_GOOD();
  testing::TerminalCapture terminal;
};

TEST_F(ColourTable, DefaultsHoldBasicColoursAndTheScale) {
  EXPECT_EQ(qg_db_colours.first_usable, 41);
  EXPECT_EQ(qg_db_colours.last_usable, 250);
  EXPECT_EQ(qg_db_colours.first_image, 49);
  EXPECT_EQ(qg_db_colours.last_image, 250);
  struct Case {
    int index;
    float r, g, b;
  };
  const Case cases[] = {
      {41, 0, 0, 0},  {42, 1, 1, 1}, {43, 1, 0, 0}, {44, 0, 1, 0}, {45, 0, 0, 1},
      {46, 1, 1, 0},  {47, 1, 0, 1}, {48, 0, 1, 1}, {250, 1, 1, 1},
      // Index 49 is k = 1 of n = 201: p = 1 + 12/201 between points 1 and 2.
      {49, 0, 0, 0.6f * 12.0f / 201.0f},
      // Index 150: k = nint(102/202 * 201) = 101, p = 7.0298...: points 7 and 8.
      {150, 1.0f, 1.0f - 0.23f * (101.0f / 201.0f * 12.0f - 6.0f),
       0.475f - 0.115f * (101.0f / 201.0f * 12.0f - 6.0f)},
      {0, 0, 0, 0},   {255, 0, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_NEAR(entry(c.index).red, c.r, 1e-5) << c.index;
    EXPECT_NEAR(entry(c.index).green, c.g, 1e-5) << c.index;
    EXPECT_NEAR(entry(c.index).blue, c.b, 1e-5) << c.index;
  }
  // No scale entry is point 1 exactly (black).
  for (int i = 49; i <= 250; ++i)
    EXPECT_GT(entry(i).red + entry(i).green + entry(i).blue, 0.0f) << i;
}

TEST_F(ColourTable, BestColourPrefersTheLowestIndexOfATie) {
  int index = -1;
  QG_BESTCOLOUR(1, 0, 0, index, status);
  EXPECT_EQ(index, 43);
  QG_BESTCOLOUR(1, 1, 1, index, status);
  EXPECT_EQ(index, 42);  // white is also index 250
  QG_BESTCOLOUR(0.05f, 0.0f, 0.9f, index, status);
  EXPECT_GE(index, 49);  // the scale's blue is nearer than the basic blue
}

TEST_F(ColourTable, RotationPermutesTheImageRange) {
  const auto before = qg_db_colours.table;
  QG_ROTATELUT(1, status);
  EXPECT_EQ(entry(49).red, before[250].red);
  EXPECT_EQ(entry(50).blue, before[49].blue);
  EXPECT_EQ(entry(43).red, before[43].red);  // basic colours stay
  QG_ROTATELUT(-2, status);
  EXPECT_EQ(entry(250).blue, before[49].blue);
  QG_ROTATELUT(1 + 202, status);  // back where it started (m = 202)
  for (int i = 0; i < 256; ++i) EXPECT_EQ(entry(i).green, before[static_cast<std::size_t>(i)].green) << i;
}

TEST_F(ColourTable, CopyChecksItsRangeAndChangesNothingOnFailure) {
  std::vector<Rgb> table(256, Rgb{0.5f, 0.25f, 0.125f});
  const auto before = qg_db_colours.table;
  QG_COLOURS(256, 10, 5, table, status);
  EXPECT_EQ(status, 130017);
  status = ST_GOOD();
  QG_COLOURS(0, 1, 5, table, status);
  EXPECT_EQ(status, 130002);
  status = ST_GOOD();
  QG_COLOURS(257, 0, 256, table, status);  // entry 256 does not exist
  EXPECT_EQ(status, 130017);
  EXPECT_EQ(qg_db_colours.table[7].red, before[7].red);
  status = ST_GOOD();
  QG_COLOURS(256, 5, 10, table, status);
  EXPECT_EQ(status, ST_GOOD());
  EXPECT_EQ(entry(5).green, 0.25f);
  EXPECT_EQ(entry(10).blue, 0.125f);
  EXPECT_EQ(entry(11).red, before[11].red);
}

TEST_F(ColourTable, RangeSettingsNeedAnOpenSystem) {
  QG_SET_IMAGERANGE(60, 300, status);
  int first = 0, last = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  EXPECT_EQ(first, 60);
  EXPECT_EQ(last, 255);  // indices never leave the table
  QG_CLOSE(status);
  QG_SET_LOGZSCALING(true, status);
  EXPECT_NE(terminal.text().find("ERROR: Qivo Graphics system is not open (QG_SET_LOGZSCALING)"),
            std::string::npos);
  EXPECT_FALSE(qg_db_colours.log_scaling);
  EXPECT_EQ(status, ST_GOOD());
}

}  // namespace
}  // namespace kesta
