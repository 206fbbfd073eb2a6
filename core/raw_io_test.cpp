#include "core/raw_io.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <tuple>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/prompts.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr int kStream = 34;

template <typename T>
std::string raw(const std::vector<T>& values, bool swap = false) {
  std::string out;
  for (T v : values) {
    if constexpr (sizeof(T) > 1) v = swap ? byte_swapped(v) : v;
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  return out;
}

// A file of a 10-byte header and BODY, open for reading on kStream.
class ImageFile {
 public:
  explicit ImageFile(const std::string& body) : path_(dir_.file("image.raw")) {
    { std::ofstream(path_, std::ios::binary) << "0123456789" << body; }
    EXPECT_TRUE(io_open_stream(kStream, path_, "rb"));
  }
  ~ImageFile() { io_close_stream(kStream); }

 private:
  testing::TempDir dir_;
  std::string path_;
};

struct Read {
  Status status = kStatusGood;
  Index xnumdat = -1, ynumdat = -1;
  std::vector<float> data;
};

// IO_INP_2DI2 into an XMAX x YMAX array preset to -99 (exactly that size, so
// the address sanitizer sees any store past it).
Read read_i2(bool swap, bool is_signed, bool xflip, bool yflip, Index xnum, Index ynum, Index xs,
             Index ys, Index xe, Index ye, Index xmax, Index ymax, Index work_size = 64) {
  Read r;
  r.data.assign(static_cast<std::size_t>(std::max<Index>(xmax * ymax, 1)), -99.0f);
  std::vector<std::int16_t> work(static_cast<std::size_t>(std::max<Index>(work_size, 1)));
  IO_INP_2DI2(kStream, swap, is_signed, xflip, yflip, xnum, ynum, xs, ys, xe, ye, 1, 1, 2, 11,
              work_size, work, xmax, ymax, r.xnumdat, r.ynumdat, r.data, r.status);
  return r;
}

TEST(RawRead, SignedAndUnsigned) {
  {
    ImageFile file(raw<std::int16_t>({-1, 1, 2, 3}));
    EXPECT_EQ(read_i2(false, false, false, false, 2, 2, 1, 1, 2, 2, 2, 2).data,
              (std::vector<float>{65535, 1, 2, 3}));
    EXPECT_EQ(read_i2(false, true, false, false, 2, 2, 1, 1, 2, 2, 2, 2).data,
              (std::vector<float>{-1, 1, 2, 3}));
  }
  ImageFile file(raw<std::int32_t>({-1, 123456}, true));
  std::vector<std::int32_t> work(2);
  std::vector<float> data(2);
  Index xn = 0, yn = 0;
  Status status = kStatusGood;
  IO_INP_2DI4(kStream, true, false, false, false, 2, 1, 1, 1, 2, 1, 1, 1, 4, 11, 2, work, 2, 1, xn,
              yn, data, status);
  EXPECT_EQ(data, (std::vector<float>{4294967295.0f, 123456}));
}

TEST(RawRead, FlipsRegionsAndClippingWithAnyWorkBuffer) {
  // A 5 x 3 image holding 10 * y + x.
  std::vector<std::int16_t> image;
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 5; ++x) image.push_back(static_cast<std::int16_t>(10 * y + x));
  ImageFile file(raw(image));
  for (const Index work : {1, 2, 3, 64}) {
    SCOPED_TRACE(work);
    // X flipped: DATA(1, 1) is the last element of the first row.
    auto r = read_i2(false, true, true, false, 5, 3, 1, 1, 5, 3, 5, 3, work);
    EXPECT_EQ(r.data[0], 15);
    EXPECT_EQ(r.data[element(2, 3, 5)], 34);
    // Region 2..4 x 2..3 of the image flipped both ways.
    r = read_i2(false, true, true, true, 5, 3, 2, 2, 4, 3, 3, 2, work);
    EXPECT_EQ(r.data, (std::vector<float>{24, 23, 22, 14, 13, 12}));
    // The image is larger than the 2 x 2 array: only what fits is stored.
    r = read_i2(false, true, false, false, 5, 3, 2, 1, 5, 3, 2, 2, work);
    ASSERT_EQ(r.status, kStatusGood);
    EXPECT_EQ(r.xnumdat, 2);
    EXPECT_EQ(r.ynumdat, 2);
    EXPECT_EQ(r.data, (std::vector<float>{12, 13, 22, 23}));
  }
}

TEST(RawRead, RefusalsLeaveDataAlone) {
  ImageFile file(raw<std::int16_t>({1, 2, 3, 4, 5, 6}));
  struct Case {
    Index xnum, ynum, xs, ys, xe, ye, xmax, ymax, work;
    Status expected;
  };
  const Case cases[] = {
      {3, 2, 1, 1, 3, 2, 0, 2, 8, 110001},     {3, 0, 1, 1, 3, 2, 3, 2, 8, 110018},
      {3, 2, 1, 1, 4, 2, 3, 2, 8, 110005},     {3, 2, 1, 2, 3, 1, 3, 2, 8, 110006},
      {3, 2, 1, 1, 3, 2, 3, 2, 0, 110013},     {3, 3, 1, 1, 3, 3, 3, 3, 8, 111001},  // too short
  };
  for (const Case& c : cases) {
    auto r = read_i2(false, true, false, false, c.xnum, c.ynum, c.xs, c.ys, c.xe, c.ye, c.xmax,
                     c.ymax, c.work);
    EXPECT_EQ(r.status, c.expected);
    for (float v : r.data) EXPECT_EQ(v, -99.0f) << c.expected;
  }
  testing::TerminalCapture terminal;
  std::vector<std::int16_t> work(8);
  std::vector<float> data(6);
  Index xn = 0, yn = 0;
  Status status = kStatusGood;
  IO_INP_2DI2(kStream, false, true, false, false, 3, 2, 1, 1, 3, 2, 2, 1, 2, 11, 8, work, 3, 2, xn,
              yn, data, status);
  EXPECT_EQ(status, 9999);
  EXPECT_EQ(terminal.text(), "ERROR: Re-binning on input not yet implemented\n");
}

// Element I of a file of T in the machine's order.
template <typename T>
T raw_at(const std::string& file, Index i) {
  T v{};
  std::memcpy(&v, file.data() + static_cast<std::size_t>(i) * sizeof(T), sizeof(T));
  return v;
}

struct Write {
  Index xmax = 0, ymax = 0;
  std::vector<float> data{};
  Index record_bytes = 0;
  int bytes = 0;
  bool big_endian = false, full_records = false, by_columns = false, reverse = false;
  bool ask = false;  // the limits asked for
  float lower = 0, upper = 255;
  // Results.
  Status status = kStatusGood;
  bool failed = true;
  Index record = 1;
  std::string file{};
};

// IO_UWRITE_RARRAY of the whole array into a fresh file.
Write uwrite(Write w, const char* path = nullptr) {
  testing::TempDir dir;
  const std::string name = path != nullptr ? path : dir.file("out.raw");
  EXPECT_TRUE(io_open_stream(kStream, name, "wb"));
  IO_UWRITE_RARRAY(w.ask, kStream, w.xmax, w.ymax, 1, 1, w.xmax, w.ymax, w.data, w.record_bytes,
                   "I", w.bytes, w.big_endian, w.full_records, w.by_columns, w.reverse, w.record,
                   w.lower, w.upper, w.failed, w.status);
  io_close_stream(kStream);
  if (path == nullptr) w.file = testing::file_contents(name);
  return w;
}

// Values beyond the range are clipped, and one line says how many: every
// value outside the range it names, also one that rounds to an end value.
TEST(RawWrite, ScalesRoundsAndClips) {
  testing::TerminalCapture terminal;
  auto w = uwrite({.xmax = 6, .ymax = 1, .data = {0, 1.4f, 1.5f, 254.5f, 300, -5},
                   .record_bytes = 4, .bytes = 1});
  EXPECT_FALSE(w.failed);
  EXPECT_EQ(w.record, 3);
  EXPECT_EQ(w.file, std::string("\x00\x01\x02\xff\xff\x00\x00\x00", 8));
  EXPECT_EQ(terminal.text(), "INFO: 2 pixels are outside the scaling range (0.0 to 255.0000): 1 "
                             "below written as 0, 1 above written as 255\n");
  w = uwrite({.xmax = 3, .ymax = 1, .data = {-1, 0, 1}, .record_bytes = 6, .bytes = 2,
              .big_endian = true, .lower = -1, .upper = 1});
  EXPECT_EQ(w.file, std::string("\x00\x00\x80\x00\xff\xff", 6));
  // Four bytes scale symmetrically: the range is as wide on both sides.
  w = uwrite({.xmax = 4, .ymax = 1, .data = {10, -30, 0, 7}, .record_bytes = 16, .bytes = 4,
              .big_endian = IO_BIG_ENDIAN(), .lower = -10, .upper = 5});
  EXPECT_EQ(w.file.substr(0, 12), raw<std::int32_t>({2147483647, -2147483647, 0}));
  w = uwrite({.xmax = 6, .ymax = 1, .data = {-0.5f, -1.0e30f, 65535.5f, 3.0e38f, -0.4f, 65535.4f},
              .record_bytes = 12, .bytes = 2, .lower = 0, .upper = 65535});
  EXPECT_EQ(w.file, raw<std::uint16_t>({0, 0, 65535, 65535, 0, 65535}));
  EXPECT_EQ(terminal.text().substr(terminal.text().find('\n') + 1),
            "INFO: 1 pixel is outside the scaling range (-10.00000 to 10.00000): 1 below "
            "written as -2147483647\n"
            "INFO: 6 pixels are outside the scaling range (0.0 to 65535.00): 3 below written "
            "as 0, 3 above written as 65535\n");
  // Negative values round away from zero; NaN counts as the lower limit.
  w = uwrite({.xmax = 3, .ymax = 1, .data = {-2.6f, -2.4f, std::nanf("")}, .record_bytes = 12,
              .bytes = 4, .big_endian = IO_BIG_ENDIAN(), .lower = -2147483648.0f,
              .upper = 2147483648.0f});
  EXPECT_EQ(w.file, raw<std::int32_t>({-3, -2, -2147483647}));
  // A range of zero width (an all-zero image) is refused, not divided by.
  for (int bytes : {1, 2, 4}) {
    w = uwrite({.xmax = 1, .ymax = 1, .data = {0}, .record_bytes = 8, .bytes = bytes, .upper = 0});
    EXPECT_EQ(w.status, 10013);
    EXPECT_EQ(w.file, "");
  }
}

// The clipping line counts exactly the values outside the range it names
// (those written as an end value because they lay beyond it), whatever
// they round to; values at the limits, NaN and the infinities are not
// among them. Four bytes name the range as wide on both sides.
TEST(RawWrite, ClippingLineCountsTheValuesOutsideTheRangeItNames) {
  const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
  struct Case {
    int bytes;
    float lower, upper;
    std::vector<float> data;
    const char* line;
  };
  const Case cases[] = {
      {1, 0, 1000, {500, 1000, 1000.5f, 1001, 1001.9f, 1003, -1, -1.9f, -2.5f, 0},
       "INFO: 7 pixels are outside the scaling range (0.0 to 1000.000): 3 below written as 0, "
       "4 above written as 255\n"},
      {2, -3, 5, {-3, 5, -3.0001f, 5.0001f, nan, inf, -inf, 0, 1, 2},
       "INFO: 2 pixels are outside the scaling range (-3.000000 to 5.000000): 1 below written "
       "as 0, 1 above written as 65535\n"},
      {4, -2, 8, {-8, 8, -8.5f, 9, 0, 1, 2, 3, 4, 5},
       "INFO: 2 pixels are outside the scaling range (-8.000000 to 8.000000): 1 below written "
       "as -2147483647, 1 above written as 2147483647\n"},
      // A limit that the short form would round onto the values beyond it
      // is shown with the digits that give it back.
      {1, 0, 999.99994f, {1000, 1000, 999.99994f, 999.9999f, 0, 1, 2, 3, 4, 5},
       "INFO: 2 pixels are outside the scaling range (0.0 to 9.99999939E+02): 2 above written "
       "as 255\n"},
  };
  for (const Case& c : cases) {
    testing::TerminalCapture terminal;
    const auto w = uwrite({.xmax = 10, .ymax = 1, .data = c.data, .record_bytes = 10 * c.bytes,
                           .bytes = c.bytes, .big_endian = IO_BIG_ENDIAN(), .lower = c.lower,
                           .upper = c.upper});
    ASSERT_EQ(w.status, kStatusGood);
    const std::string said = terminal.text();
    const auto at = said.find("outside");
    ASSERT_NE(at, std::string::npos) << said;
    EXPECT_EQ(said.substr(said.rfind("INFO:", at)), c.line);
  }
  // The values written are those of the limits, for the values beyond them.
  const auto w = uwrite({.xmax = 6, .ymax = 1, .data = {1000, 1000.5f, 1003, 0, -1, -2.5f},
                         .record_bytes = 6, .bytes = 1, .lower = 0, .upper = 1000});
  EXPECT_EQ(w.file, std::string("\xff\xff\xff\0\0\0", 6));
}

// A region of one value is written as one integer, most often an end value
// (the limits offered for it lie a step apart): one line says so, with
// limits that differ shown with the digits that tell them apart. Its NaN
// pixels have their own line; a constant beyond the range has the clipping
// line alone.
TEST(RawWrite, ConstantImageIsSaidWithLimitsThatDiffer) {
  const float largest = std::numeric_limits<float>::max();
  const float above_1e30 = std::nextafter(1.0e30f, largest);
  const float below_largest = std::nextafter(largest, 0.0f);
  struct Case {
    int bytes;
    float value, lower, upper;
    bool with_nan;
    const char* said;
  };
  const Case cases[] = {
      {1, 300, 300, 301, false,
       "INFO: Every pixel of the region is 300.0000: all are written as 0, the lower end of the "
       "scaling range (300.0000 to 301.0000)\n"},
      {2, 1.0e30f, 1.0e30f, above_1e30, true,
       "INFO: 1 pixel is not finite: 1 NaN written as 0\n"
       "INFO: Every finite pixel of the region is 1.00000002E+30: all are written as 0, the "
       "lower end of the scaling range (1.00000002E+30 to 1.00000009E+30)\n"},
      {1, largest, below_largest, largest, false,
       "INFO: Every pixel of the region is 3.40282347E+38: all are written as 255, the upper end "
       "of the scaling range (3.40282326E+38 to 3.40282347E+38)\n"},
      {2, 3.4e38f, 3.4e38f, std::nextafter(3.4e38f, largest), false,
       "INFO: Every pixel of the region is 3.39999995E+38: all are written as 0, the lower end "
       "of the scaling range (3.39999995E+38 to 3.40000015E+38)\n"},
      {4, 300, -2147483648.0f, 2147483647.0f, false,
       "INFO: Every pixel of the region is 300.0000: all are written as 300, inside the "
       "scaling range (-2.14748365E+09 to 2.14748365E+09)\n"},
      {1, 7, 0, 5, false,
       "INFO: 4 pixels are outside the scaling range (0.0 to 5.000000): 4 above written as "
       "255\n"},
  };
  for (const Case& c : cases) {
    testing::TerminalCapture terminal;
    std::vector<float> data(4, c.value);
    if (c.with_nan) data[2] = std::nanf("");
    const auto w = uwrite({.xmax = 4, .ymax = 1, .data = data, .record_bytes = 4 * c.bytes,
                           .bytes = c.bytes, .big_endian = IO_BIG_ENDIAN(), .lower = c.lower,
                           .upper = c.upper});
    ASSERT_EQ(w.status, kStatusGood);
    EXPECT_EQ(terminal.text(), c.said);
  }

  // The questions show the limits offered short, but where they would look
  // alike, with the digits that tell them apart: typed as shown, they are
  // the limits offered, a valid range.
  for (const auto& [lower, upper, lower_text, upper_text] :
       {std::tuple{1.0e30f, above_1e30, "[1.000000E+30]", "[1.00000009E+30]"},
        std::tuple{300.0f, 300.00003f, "[300.0000]", "[3.00000031E+02]"},
        std::tuple{300.0f, 301.0f, "[300.0000]", "[301.0000]"}}) {
    testing::reset_dialogue();
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({"", ""});
    float l = lower, u = upper;
    Status status = kStatusGood;
    EXPECT_TRUE(io_ask_scaling_range(IO_INPR, {}, {}, nullptr, l, u, status));
    EXPECT_EQ(terminal.text(), "");
    ASSERT_EQ(input.prompts.size(), 2u);
    EXPECT_NE(input.prompts[0].find(lower_text), std::string::npos) << input.prompts[0];
    EXPECT_NE(input.prompts[1].find(upper_text), std::string::npos) << input.prompts[1];
    EXPECT_EQ(l, lower);
    EXPECT_EQ(u, upper);
    const std::string_view shown_lower(lower_text), shown_upper(upper_text);
    testing::ScriptedInput typed({std::string(shown_lower.substr(1, shown_lower.size() - 2)),
                                  std::string(shown_upper.substr(1, shown_upper.size() - 2))});
    EXPECT_TRUE(io_ask_scaling_range(IO_INPR, {}, {}, nullptr, l, u, status));
    EXPECT_EQ(typed.prompts.size(), 2u);
    EXPECT_EQ(l, lower);
    EXPECT_EQ(u, upper);
  }
}

// The limits offered come from the finite values and lie apart: an image
// with infinite pixels or of one value is written with the defaults taken as
// they stand (infinite pixels clipped, NaN as the lower limit), and one line
// says how many pixels were not finite and what they became.
TEST(RawWrite, OfferedLimitsAreFiniteAndApart) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
  struct Case {
    int bytes;
    std::vector<float> data;
    float lower, upper;                 // offered
    std::vector<std::int64_t> written;  // with them
    const char* line;                   // on the non-finite pixels ("" for none)
  };
  const Case cases[] = {
      {2, {1, inf, nan}, 0, 65535, {1, 65535, 0},
       "INFO: 2 pixels are not finite: 1 NaN written as 0, 1 +Infinity written as 65535\n"},
      {1, {0, 0, 0}, 0, 1, {0, 0, 0}, ""},
      {1, {-inf, -2, -2}, -2, -1, {0, 0, 0},
       "INFO: 1 pixel is not finite: 1 -Infinity written as 0\n"},
      // Above 2^24 the lower limit plus 1 is no float: the next one up is 2 away.
      {1, {-33554432.0f, nan, nan}, -33554432.0f, -33554430.0f, {0, 0, 0},
       "INFO: 2 pixels are not finite: 2 NaN written as 0\n"},
      {4, {-inf, 5, inf}, -2147483648.0f, 2147483647.0f, {-2147483647, 5, 2147483647},
       "INFO: 2 pixels are not finite: 1 +Infinity written as 2147483647, 1 -Infinity written "
       "as -2147483647\n"},
      // No extremes to say: not the search's start values as the data's.
      {2, {nan, nan, nan}, 0, 65535, {0, 0, 0},
       "INFO: No pixel of the region is a number: it has no minimum or maximum\n"
       "INFO: 3 pixels are not finite: 3 NaN written as 0\n"},
  };
  for (const Case& c : cases) {
    testing::reset_dialogue();
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({"", ""});
    const auto w = uwrite({.xmax = 3, .ymax = 1, .data = c.data, .record_bytes = 3 * c.bytes,
                           .bytes = c.bytes, .big_endian = IO_BIG_ENDIAN(), .ask = true});
    SCOPED_TRACE(terminal.text());
    ASSERT_EQ(w.status, kStatusGood);
    EXPECT_EQ(w.lower, c.lower);
    EXPECT_EQ(w.upper, c.upper);
    for (Index i = 0; i < 3; ++i) {
      std::int64_t got = 0;
      if (c.bytes == 1) got = static_cast<unsigned char>(w.file[static_cast<std::size_t>(i)]);
      if (c.bytes == 2) got = raw_at<std::uint16_t>(w.file, i);
      if (c.bytes == 4) got = raw_at<std::int32_t>(w.file, i);
      EXPECT_EQ(got, c.written[static_cast<std::size_t>(i)]) << i;
    }
    const std::string said = terminal.text();
    EXPECT_EQ(said.find("E+39"), std::string::npos);
    const auto at = said.find("not finite");
    if (*c.line == '\0') {
      EXPECT_EQ(at, std::string::npos);
    } else {
      EXPECT_NE(said.find(c.line), std::string::npos);
      EXPECT_EQ(said.find("not finite", at + 1), std::string::npos);  // one line only
    }
  }

  // Typed limits that are equal, or the wrong way round (which would write
  // the image inverted), are asked for again.
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  for (const int bytes : {1, 4}) {
    testing::ScriptedInput input({"3", "3", "10", "1", "0", "10"});
    const auto w = uwrite({.xmax = 1, .ymax = 1, .data = {5}, .record_bytes = 4, .bytes = bytes,
                           .big_endian = IO_BIG_ENDIAN(), .ask = true});
    EXPECT_EQ(w.status, kStatusGood);
    EXPECT_EQ(input.prompts.size(), 6u);
    EXPECT_EQ(w.lower, 0.0f);
    EXPECT_EQ(w.upper, 10.0f);
    EXPECT_EQ(w.file, bytes == 1 ? std::string("\x80\0\0\0", 4) : raw<std::int32_t>({1073741824}));
  }
  EXPECT_NE(terminal.text().find("WARNING: The scaling range is invalid\n"), std::string::npos);
  // A macro answers the question again with its next lines, as the keyboard
  // would; empty ones take the limits first offered, not the refused ones.
  testing::TempDir dir;
  std::string macro = dir.file("limits.mac");
  { std::ofstream(macro) << "3\n3\n\n\nNEXT\n"; }
  Status status = kStatusGood;
  IO_OPEN_INMACRO(false, macro, status);
  const auto w = uwrite({.xmax = 1, .ymax = 1, .data = {5}, .record_bytes = 1, .bytes = 1,
                         .ask = true});
  EXPECT_EQ(w.status, kStatusGood);
  EXPECT_EQ(w.lower, 0.0f);
  EXPECT_EQ(w.upper, 5.0f);
  EXPECT_EQ(w.file, "\xff");
  std::string next;
  IO_READ_MACRO(kStreamInputMacro, next, status);
  EXPECT_EQ(next, "NEXT");
  testing::reset_dialogue();
}

// Long rows go through the vector steps: every value as a single value would
// be written (rounded half away from zero after the clip, NaN as the lower
// limit), and the extremes keep the sign of the first zero in row order.
TEST(RawWrite, LongRowsAsSingleValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> row = {-2.5f, -2.4999f, -0.5f, 0.49999f, 0.5f,   1.5f,   2.5f,
                                  64.5f, 65534.5f, 1e30f, -1e30f,  inf,    -inf,   std::nanf(""),
                                  3.3f,  -7.7f,    100.5f, -100.5f, 12345.6f, 0.0f,  -0.0f};
  const auto n = static_cast<Index>(row.size());
  for (const int bytes : {1, 2, 4}) {
    const double lo = bytes == 4 ? -3.0e4 : -3.0, hi = bytes == 4 ? 2.0e4 : 60000.0;
    const double top = bytes == 1 ? 255.0 : bytes == 2 ? 65535.0 : 2147483647.0;
    const double factor = top / (bytes == 4 ? std::max(-lo, hi) : hi - lo);
    std::vector<std::int64_t> want;
    for (const float v : row) {
      const double x = std::isnan(v) ? lo : double{v};
      const double scaled = (x - (bytes == 4 ? 0.0 : lo)) * factor;
      want.push_back(std::llround(std::clamp(scaled, bytes == 4 ? -top : 0.0, top)));
    }
    const auto w = uwrite({.xmax = n, .ymax = 1, .data = row, .record_bytes = 4 * n,
                           .bytes = bytes, .big_endian = IO_BIG_ENDIAN(),
                           .lower = static_cast<float>(lo), .upper = static_cast<float>(hi)});
    for (Index i = 0; i < n; ++i) {
      std::int64_t got = 0;
      if (bytes == 1) got = static_cast<unsigned char>(w.file[static_cast<std::size_t>(i)]);
      if (bytes == 2) got = raw_at<std::uint16_t>(w.file, i);
      if (bytes == 4) got = raw_at<std::int32_t>(w.file, i);
      EXPECT_EQ(got, want[static_cast<std::size_t>(i)]) << bytes << " bytes, value " << i;
    }
  }
  // Four running values a row: the first zero lies in a later lane than another.
  struct Extremes {
    std::vector<float> values;
    bool negative;  // the sign of the zero extreme
  };
  const float z = 0.0f, m = -0.0f, nan = std::nanf("");
  const Extremes lows[] = {{{5, m, 3, nan, z, 2, 4, 1, 6, 7}, true},
                           {{5, z, 3, nan, m, 2, 4, 1, 6, 7}, false}};
  const Extremes highs[] = {{{-5, m, -3, -2, z, -4, -1, -6, -7, -8}, true},
                            {{-5, z, -3, -2, m, nan, -4, -1, -6, -7}, false}};
  for (const bool maximum : {false, true})
    for (const auto& c : maximum ? highs : lows) {
      float low = 1, high = 1;
      Status status = kStatusGood;
      IO_RMINMAX(10, 1, c.values, 1, 1, 10, 1, low, high, status);
      const float extreme = maximum ? high : low;
      EXPECT_EQ(extreme, 0.0f);
      EXPECT_EQ(std::signbit(extreme), c.negative) << maximum;
    }
  // Values beyond the start values 1.7e38 and -1.7e38 are the region's own
  // extremes; a region of NaN alone gives the start values.
  struct Range {
    std::vector<float> values;
    float low, high;
  };
  for (const Range& r :
       {Range{std::vector<float>(10, 3.4e38f), 3.4e38f, 3.4e38f},
        Range{std::vector<float>(10, -3.4e38f), -3.4e38f, -3.4e38f},
        Range{{2e38f, 3e38f, nan, 2.5e38f, 3.3e38f, 2e38f, 2e38f, 2e38f, 2e38f, 2e38f}, 2e38f,
              3.3e38f},
        Range{{inf, inf, nan, inf, inf, inf, inf, inf, inf, inf}, inf, inf},
        Range{std::vector<float>(10, nan), 1.7e38f, -1.7e38f}}) {
    float low = 1, high = 1;
    Status status = kStatusGood;
    IO_RMINMAX(10, 1, r.values, 1, 1, 10, 1, low, high, status);
    EXPECT_EQ(low, r.low) << r.values[0];
    EXPECT_EQ(high, r.high) << r.values[0];
  }
}

TEST(RawWrite, RecordOrderPaddingAndRefusals) {
  const std::vector<float> d = {1, 2, 3, 4, 5, 6};  // 3 x 2
  const std::pair<Write, std::vector<std::uint8_t>> cases[] = {
      {{.reverse = true}, {4, 5, 6, 1, 2, 3}},
      {{.by_columns = true}, {1, 4, 2, 5, 3, 6}},
      // Each row padded with the bottom value to whole records, never cut.
      {{.full_records = true}, {1, 2, 3, 0, 4, 5, 6, 0}},
  };
  for (auto [w, expected] : cases) {
    w.xmax = 3, w.ymax = 2, w.data = d, w.record_bytes = 2, w.bytes = 1;
    w = uwrite(w);
    EXPECT_EQ(w.file, raw(expected));
    EXPECT_EQ(w.record, 1 + static_cast<Index>(expected.size()) / 2);
  }

  testing::TerminalCapture terminal;
  EXPECT_EQ(uwrite({.xmax = 1, .ymax = 1, .data = {1}, .record_bytes = 0, .bytes = 1}).status,
            10017);
  EXPECT_EQ(uwrite({.xmax = 1, .ymax = 1, .data = {1}, .record_bytes = 4, .bytes = 3}).status,
            10017);
  EXPECT_EQ(uwrite({.xmax = 1, .ymax = 1, .data = {1}, .record_bytes = 12001, .bytes = 1}).status,
            10009);
  EXPECT_EQ(terminal.text(), "record_length =      0\nnum_bytes =      3\n");

  // A full disk: FAILED and the message, STATUS still good.
  auto w = uwrite({.xmax = 64, .ymax = 64, .data = std::vector<float>(64 * 64, 1.0f),
                   .record_bytes = 512, .bytes = 2},
                  "/dev/full");
  EXPECT_TRUE(w.failed);
  EXPECT_EQ(w.status, kStatusGood);
  EXPECT_NE(terminal.text().find("ERROR: Failed to output binary data to a file. May be the file "
                                 "system,\n       or your quota, are full.\n"),
            std::string::npos);
  // A writer that reports its file's failure itself gets the reason alone.
  const std::size_t before = terminal.text().size();
  ASSERT_TRUE(io_open_stream(kStream, "/dev/full", "wb"));
  Index record = 1;
  bool failed = false;
  Status status = kStatusGood;
  errno = 0;
  io_uwrite_region(kStream, 64, 64, 1, 1, 64, 64, std::vector<float>(64 * 64, 1.0f), 512, 2, false,
                   false, false, false, record, 0, 255, failed, status);
  const int reason = errno;
  io_close_stream(kStream);
  EXPECT_TRUE(failed);
  EXPECT_EQ(reason, ENOSPC);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(terminal.text().substr(before), "");
}

TEST(RawIo, WrittenImageReadsBack) {
  std::vector<float> image(7 * 5);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<float>(i * 1000 % 65536);
  for (const bool big : {false, true}) {
    testing::TempDir dir;
    const std::string path = dir.file("round.raw");
    auto w = uwrite({.xmax = 7, .ymax = 5, .data = image, .record_bytes = 14, .bytes = 2,
                     .big_endian = big, .lower = 0, .upper = 65535},
                    path.c_str());
    ASSERT_FALSE(w.failed);
    ASSERT_TRUE(io_open_stream(kStream, path, "rb"));
    std::vector<std::int16_t> work(7);
    std::vector<float> back(7 * 5);
    Index xn = 0, yn = 0;
    Status status = kStatusGood;
    IO_INP_2DI2(kStream, big != IO_BIG_ENDIAN(), false, false, false, 7, 5, 1, 1, 7, 5, 1, 1, 14,
                1, 7, work, 7, 5, xn, yn, back, status);
    io_close_stream(kStream);
    EXPECT_EQ(back, image) << big;
  }
}

TEST(RawIo, TextLines) {
  Status status = kStatusGood;
  testing::TempDir dir;
  { std::ofstream(dir.file("t")) << "first line   \n\n  indented\nlast without end"; }
  ASSERT_TRUE(io_open_stream(kStream, dir.file("t"), "r"));
  std::vector<std::string> lines;
  std::string line;
  for (int i = 0; i < 10 && status == kStatusGood; ++i) {
    IO_READ_FILE(kStream, line, status);
    if (status == kStatusGood) lines.push_back(line);
  }
  io_close_stream(kStream);
  EXPECT_EQ(status, 11001);
  EXPECT_EQ(lines, (std::vector<std::string>{"first line", "", "  indented", "last without end"}));
}

}  // namespace
}  // namespace kesta
