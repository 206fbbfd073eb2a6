#include "formats/tiff_format.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <tuple>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"
#include "formats/detector_input.hpp"

namespace kesta {
namespace {

// An independent TIFF writer: header, one directory at byte 8 with width,
// length, bits, compression, strip offsets and rows per strip, then the
// strips. PIXELS run from the top row, left to right; with SAMPLES above 1
// each pixel's value is written once a sample (the bits a list after the
// strip offsets, as a colour image has them).
struct TiffSpec {
  Index width = 4, length = 3, bits = 16;
  bool big = false;
  Index rows_per_strip = 0;  // 0: one strip
  Index compression = 1;
  Index strip_offsets_dropped = 0;  // offsets left out of the table
  std::vector<std::uint32_t> pixels;
  Index sample_format = 0;  // 0: no sample format tag
  Index fill_order = 0;     // 0: no fill order tag; 2: pixel bytes bit-reversed
  Index samples = 1;        // 1: no samples per pixel tag
  bool byte_counts = false;  // a strip byte counts tag, as other readers need
};

std::string tiff_bytes(const TiffSpec& s) {
  std::string out;
  auto put = [&](std::uint64_t v, int n) {
    for (int k = 0; k < n; ++k) {
      const int shift = 8 * (s.big ? n - 1 - k : k);
      out.push_back(static_cast<char>((v >> shift) & 0xff));
    }
  };
  const Index rps = s.rows_per_strip == 0 ? s.length : s.rows_per_strip;
  const Index strips = (s.length + rps - 1) / rps;
  const Index listed = strips - s.strip_offsets_dropped;
  const Index row =
      s.bits == 12 ? (3 * s.width + 1) / 2 : s.width * s.bits / 8 * s.samples;
  out += s.big ? "MM" : "II";
  put(42, 2);
  put(8, 4);
  const Index entries =
      6 + (s.sample_format != 0) + (s.fill_order != 0) + (s.samples != 1) + s.byte_counts;
  const Index table = 8 + 2 + 12 * entries + 4;
  const Index bits_list = table + 4 * listed;
  const Index counts_list = bits_list + (s.samples != 1 ? 2 * s.samples : 0);
  const Index data = counts_list + (s.byte_counts ? 4 * strips : 0);
  put(entries, 2);
  auto entry = [&](int tag, int type, Index count, std::uint32_t value) {
    put(tag, 2);
    put(type, 2);
    put(count, 4);
    if (type == 3) {
      put(value, 2);
      put(0, 2);
    } else {
      put(value, 4);
    }
  };
  entry(256, 4, 1, s.width);
  entry(257, 4, 1, s.length);
  if (s.samples != 1) {
    put(258, 2);
    put(3, 2);
    put(s.samples, 4);
    put(bits_list, 4);
  } else {
    entry(258, 3, 1, s.bits);
  }
  entry(259, 3, 1, s.compression);
  if (s.fill_order != 0) entry(266, 3, 1, static_cast<std::uint32_t>(s.fill_order));
  entry(273, 4, listed, listed == 1 ? data : table);
  if (s.samples != 1) entry(277, 3, 1, static_cast<std::uint32_t>(s.samples));
  entry(278, 4, 1, s.rows_per_strip == 0 ? s.length : s.rows_per_strip);
  if (s.byte_counts) entry(279, 4, strips, strips == 1 ? rps * row : counts_list);
  if (s.sample_format != 0) entry(339, 3, 1, static_cast<std::uint32_t>(s.sample_format));
  put(0, 4);
  for (Index k = 0; k < listed; ++k) put(data + k * rps * row, 4);
  if (s.samples != 1)
    for (Index k = 0; k < s.samples; ++k) put(s.bits, 2);
  if (s.byte_counts && strips > 1)
    for (Index k = 0; k < strips; ++k) put(std::min(rps, s.length - k * rps) * row, 4);
  const std::size_t pixel_start = out.size();
  for (Index y = 0; y < s.length; ++y) {
    const std::uint32_t* p = s.pixels.data() + y * s.width;
    if (s.bits == 12) {
      for (Index x = 0; x < s.width; x += 2) {
        const std::uint32_t a = p[x], b = x + 1 < s.width ? p[x + 1] : 0;
        out.push_back(static_cast<char>(a >> 4));
        out.push_back(static_cast<char>(((a & 15) << 4) | (b >> 8)));
        if (x + 1 < s.width) out.push_back(static_cast<char>(b & 0xff));
      }
    } else {
      for (Index x = 0; x < s.width; ++x)
        for (Index k = 0; k < s.samples; ++k) put(p[x], static_cast<int>(s.bits / 8));
    }
  }
  if (s.fill_order == 2)
    for (std::size_t k = pixel_start; k < out.size(); ++k) {
      unsigned v = static_cast<unsigned char>(out[k]), r = 0;
      for (int bit = 0; bit < 8; ++bit) r = (r << 1) | ((v >> bit) & 1);
      out[k] = static_cast<char>(r);
    }
  return out;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

class Tiff : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_dialogue(); }
  std::string write(const TiffSpec& s, const char* name = "image.tif") {
    const std::string path = dir_.file(name);
    write_file(path, tiff_bytes(s));
    return path;
  }
  ImageRead read(const std::string& path, TiffRegion r, bool iq = false, Index xmax = 8,
                 Index ymax = 8) {
    return read_tiff_file(path, {xmax, ymax, true}, iq, iq, r, status_);
  }
  // PATH on the asking road (the region questions answered) or as a later
  // series member: whether it was read, what the terminal was told and how
  // many questions were asked.
  struct Road {
    bool read;
    std::string said;
    std::size_t asked;
  };
  Road on_road(bool member, const std::string& path) {
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({path, "1", "1", "1", "1", "4", "3"});
    std::string name = path;
    const ImageRead r = member ? tiff_member_read({8, 8, false}, false, {}, name, status_)
                               : tiff_keyboard_read({8, 8, false}, name, status_);
    return {r.ok(), terminal.text(), input.prompts.size()};
  }
  // Data element (x, y) of a read image.
  static float at(const ImageRead& read, Index x, Index y) {
    return read.image.pixels()[static_cast<std::size_t>(element(x, y, read.image.xmaxdat))];
  }

  testing::TempDir dir_;
  testing::TerminalCapture terminal_;
  Status status_ = ST_GOOD();
};

std::vector<std::uint32_t> ramp(Index n, std::uint32_t scale) {
  std::vector<std::uint32_t> v(static_cast<std::size_t>(n));
  for (Index k = 0; k < n; ++k) v[static_cast<std::size_t>(k)] = static_cast<std::uint32_t>(k * scale + 1);
  return v;
}

TEST_F(Tiff, EveryDepthByteOrderAndStripLayoutGivesTheImageBottomUp) {
  struct Case {
    Index bits;
    bool big;
    Index rows_per_strip;
  };
  for (const Case c : {Case{8, false, 0}, Case{16, false, 0}, Case{16, true, 0},
                       Case{16, true, 2}, Case{32, false, 1}, Case{32, true, 2},
                       Case{12, true, 2}, Case{12, false, 0}}) {
    TiffSpec s;
    s.width = 5;
    s.bits = c.bits;
    s.big = c.big;
    s.rows_per_strip = c.rows_per_strip;
    s.pixels = ramp(15, c.bits == 8 ? 13 : 251);
    const ImageRead r = read(write(s), {1, 1, 5, 3, 1, 1});
    ASSERT_EQ(r.retstat, 0) << c.bits << c.big << terminal_.text();
    EXPECT_EQ(r.image.xnumdat, 5);
    EXPECT_EQ(r.image.ynumdat, 3);
    for (Index y = 1; y <= 3; ++y)
      for (Index x = 1; x <= 5; ++x)
        EXPECT_EQ(at(r, x, y), static_cast<float>(s.pixels[static_cast<std::size_t>((3 - y) * 5 + x - 1)]))
            << c.bits << " " << c.big << " " << x << "," << y;
    EXPECT_EQ(r.image.variance_pixels()[0], at(r, 1, 1)) << "variances are the data";
    EXPECT_EQ(r.image.yaxis[2], 2.5f);
  }
}

TEST_F(Tiff, TwelveBitRowOfThreeAndBinsAndImagequant) {
  // 3 x 1 12-bit: 5 bytes; the third pixel is b3 * 16 + b4 / 16.
  TiffSpec twelve{3, 1, 12, false, 0, 1, 0, {0xabc, 0x123, 0xfed}};
  ImageRead r = read(write(twelve), {1, 1, 3, 1, 1, 1});
  ASSERT_EQ(r.retstat, 0);
  EXPECT_EQ(at(r, 1, 1), 0xabc);
  EXPECT_EQ(at(r, 2, 1), 0x123);
  EXPECT_EQ(at(r, 3, 1), 0xfed);

  // X bins of 2 over 5 columns: 2 data columns, the fifth not stored.
  TiffSpec wide{5, 1, 8, false, 0, 1, 0, {1, 2, 4, 8, 16}};
  r = read(write(wide), {1, 1, 5, 1, 2, 1});
  ASSERT_EQ(r.retstat, 0);
  EXPECT_EQ(r.image.xnumdat, 2);
  EXPECT_EQ(at(r, 1, 1), 3.0f);
  EXPECT_EQ(at(r, 2, 1), 12.0f);
  EXPECT_EQ(r.image.xaxis[1], 3.0f);

  // IMAGEQUANT: mirrored, v * v / 21471.
  TiffSpec iq{2, 1, 16, false, 0, 1, 0, {21471, 1}};
  r = read(write(iq), {1, 1, 2, 1, 1, 1}, true);
  ASSERT_EQ(r.retstat, 0);
  EXPECT_EQ(at(r, 2, 1), 21471.0f);
  EXPECT_NEAR(at(r, 1, 1), 4.657e-5f, 1e-8f);
}

// The sample format tag decides how integer samples are read; samples that
// are not integers (floating point, or formats not known) are refused
// rather than read as the integers of their bit patterns.
TEST_F(Tiff, SampleFormatReadsSignedIntegersAndRefusesTheRest) {
  struct Case {
    Index format, bits;
    std::vector<std::uint32_t> pixels;
    std::vector<float> values;  // empty: refused
  };
  const std::vector<Case> cases = {
      {1, 16, {0xffff, 0x8000, 5}, {65535.0f, 32768.0f, 5.0f}},
      {1, 8, {0xff, 0x80, 5}, {255.0f, 128.0f, 5.0f}},
      {2, 16, {0xffff, 0x8000, 5}, {-1.0f, -32768.0f, 5.0f}},
      {2, 8, {0xff, 0x80, 5}, {-1.0f, -128.0f, 5.0f}},
      {2, 32, {0xffffffff, 0x80000000, 5}, {-1.0f, -2147483648.0f, 5.0f}},
      // 32-bit samples are signed unless the file says they are not.
      {0, 32, {0xffffffff, 0x80000000, 5}, {-1.0f, -2147483648.0f, 5.0f}},
      {1, 32, {0xffffffff, 0x80000000, 0x7fffffff}, {4294967295.0f, 2147483648.0f, 2147483647.0f}},
      {3, 32, {0x41200000, 0x41200000, 0x3f800000}, {}},  // 10.0, 10.0, 1.0
      {3, 16, {0x4900, 0x4900, 0x3c00}, {}},
      {2, 12, {0xfff, 0x800, 5}, {}},
      {4, 16, {1, 2, 3}, {}},
      {0x7fff, 8, {1, 2, 3}, {}},
  };
  for (const bool big : {false, true})
    for (const Case& c : cases) {
      TiffSpec s{3, 1, c.bits, big, 0, 1, 0, c.pixels, c.format};
      testing::TerminalCapture terminal;
      const ImageRead r = read(write(s), {1, 1, 3, 1, 1, 1});
      const std::string what = std::to_string(c.format) + "/" + std::to_string(c.bits) +
                               (big ? " big" : " little");
      if (c.values.empty()) {
        EXPECT_EQ(r.retstat, 2) << what;
        EXPECT_FALSE(r.image.data) << what;
        EXPECT_NE(terminal.text().find("WARNING: Cannot decode image"), std::string::npos)
            << what << terminal.text();
        EXPECT_NE(terminal.text().find("sample format (" + std::to_string(c.format) + ", " +
                                       std::to_string(c.bits) + " bits)"),
                  std::string::npos)
            << what << terminal.text();
        continue;
      }
      ASSERT_EQ(r.retstat, 0) << what << terminal.text();
      for (Index x = 1; x <= 3; ++x)
        EXPECT_EQ(at(r, x, 1), c.values[static_cast<std::size_t>(x - 1)]) << what << " " << x;
    }
  EXPECT_EQ(status_, kStatusGood);
}

// Bytes filled from their least significant bit, as raw-data converters
// write them by default, read as the values they hold; a fill order that is
// neither is refused.
TEST_F(Tiff, FillOrderFromTheLeastSignificantBitIsReadBack) {
  const std::vector<std::uint32_t> pixels = {1, 2, 300, 0x8001, 7, 65535};
  for (const bool big : {false, true})
    for (const Index bits : {Index{8}, Index{16}, Index{12}}) {
      TiffSpec s{3, 2, bits, big, 0, 1, 0, pixels, 0, 2};
      const std::uint32_t most = (1u << bits) - 1;
      for (std::uint32_t& p : s.pixels) p &= most;
      const ImageRead r = read(write(s), {1, 1, 3, 2, 1, 1});
      ASSERT_EQ(r.retstat, 0) << bits << terminal_.text();
      for (Index k = 0; k < 6; ++k)
        EXPECT_EQ(at(r, k % 3 + 1, 2 - k / 3), static_cast<float>(s.pixels[static_cast<std::size_t>(k)]))
            << bits << (big ? " big " : " little ") << k;
    }
  TiffSpec odd{3, 2, 16, false, 0, 1, 0, pixels, 0, 3};
  const ImageRead r = read(write(odd), {1, 1, 3, 2, 1, 1});
  EXPECT_EQ(r.retstat, 2);
  EXPECT_FALSE(r.image.data);
  EXPECT_NE(terminal_.text().find("Un-supported fill order (3)"), std::string::npos);
}

TEST_F(Tiff, RegionBeyondTheImageIsClippedOrRefused) {
  TiffSpec s;
  s.pixels = ramp(12, 1);
  const std::string path = write(s);
  ImageRead r = read(path, {2, 2, 9, 9, 1, 1});
  EXPECT_EQ(r.retstat, 0);
  EXPECT_EQ(r.image.xnumdat, 3);
  EXPECT_EQ(r.image.ynumdat, 2);
  EXPECT_EQ(at(r, 1, 2), 2.0f) << "top row, second column";
  EXPECT_NE(terminal_.text().find("does not contain all of desired region"), std::string::npos);
  EXPECT_EQ(read(path, {5, 1, 9, 3, 1, 1}).retstat, 4);
  EXPECT_EQ(read(path, {1, 1, 4, 3, 5, 1}).retstat, 4) << "a bin wider than the region";
}

TEST_F(Tiff, DamagedFilesAreRefusedWithTheirCode) {
  // A 4 x 3 little-endian 16-bit image in strips of 2 rows, changed before
  // (SPEC) or after (BYTES) it is written.
  struct Bad {
    const char* what;
    std::function<void(TiffSpec&)> spec;
    std::function<void(std::string&)> bytes;
    int retstat;
    const char* message;
  };
  const auto none = [](auto&) {};
  const std::vector<Bad> cases = {
      {"rows per strip 0", none, [](std::string& b) { b[8 + 2 + 12 * 5 + 8] = 0; }, 2,
       "Cannot decode image"},
      {"fewer strip offsets than strips", [](TiffSpec& s) { s.strip_offsets_dropped = 1; },
       none, 2, "Fewer strip offsets"},
      {"compressed", [](TiffSpec& s) { s.compression = 5; }, none, 2, "compressed"},
      {"4 bits", [](TiffSpec& s) { s.bits = 4; }, none, 2, "bits per pixel ( 4)"},
      {"strip cut off", none, [](std::string& b) { b.resize(b.size() - 3); }, 2,
       "beyond the end of the file"},
      {"not a TIFF file", none, [](std::string& b) { b[0] = 'X'; }, 3,
       "does not start with II nor with MM"},
      {"version", none, [](std::string& b) { b[2] = 44; }, 3, "tiff version"},
      {"directory beyond the end", none, [](std::string& b) { b[5] = 0x70; }, 2,
       "Cannot decode image"},
  };
  for (const Bad& c : cases) {
    TiffSpec s;
    s.rows_per_strip = 2;
    s.pixels = ramp(12, 1);
    c.spec(s);
    std::string bytes = tiff_bytes(s);
    c.bytes(bytes);
    const std::string path = dir_.file("bad.tif");
    write_file(path, bytes);
    testing::TerminalCapture terminal;
    const ImageRead r = read(path, {1, 1, 4, 3, 1, 1});
    EXPECT_EQ(r.retstat, c.retstat) << c.what;
    EXPECT_FALSE(r.image.data) << c.what;
    const std::string out = terminal.text();
    EXPECT_NE(out.find(c.message), std::string::npos) << c.what << out;
    EXPECT_NE(out.find("bad.tif was not input"), std::string::npos) << c.what;
  }
  EXPECT_EQ(read(dir_.path().string(), {1, 1, 4, 3, 1, 1}).retstat, 5);
  EXPECT_EQ(status_, kStatusGood);
}

// An image larger than the arrays is said, with its size, before the region
// is asked; a later member of a series read whole is said too, one read with
// the first member's region is not.
TEST_F(Tiff, ImageLargerThanTheArraysIsReadInPartAfterAWarning) {
  const std::string warning =
      "WARNING: The image is bigger than the presently defined program arrays\n"
      "         only a part of the image will be input.\n";
  TiffSpec s;
  s.width = 10;
  s.pixels = ramp(30, 1);
  const std::string path = write(s);
  {
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({path, "1", "1", "1", "1", "8", "3"});
    std::string name;
    const ImageRead r = tiff_keyboard_read({8, 8, false}, name, status_);
    ASSERT_EQ(r.retstat, 0) << terminal.text();
    EXPECT_EQ(r.image.xnumdat, 8);
    EXPECT_NE(terminal.text().find("INFO: Full image size =        10 *         3 pixels\n" +
                                   warning),
              std::string::npos)
        << terminal.text();
  }
  for (const bool given : {false, true}) {
    testing::TerminalCapture terminal;
    TiffAnswers answers;
    if (given) answers = {true, {1, 1, 8, 3, 1, 1}, 10, 3};
    std::string name = path;
    const ImageRead r = tiff_member_read({8, 8, false}, false, answers, name, status_);
    ASSERT_EQ(r.retstat, 0) << terminal.text();
    EXPECT_EQ(r.image.xnumdat, 8);
    EXPECT_EQ(terminal.text().find(warning) != std::string::npos, !given) << terminal.text();
  }
  // An image the arrays hold is not said to be cut.
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({path, "1", "1", "1", "1", "10", "3"});
  std::string name;
  ASSERT_EQ(tiff_keyboard_read({10, 3, false}, name, status_).retstat, 0);
  EXPECT_EQ(terminal.text().find("WARNING: The image is bigger"), std::string::npos);
  EXPECT_EQ(status_, kStatusGood);
}

// A region its bins do not fit is refused and asked for again offering the
// region offered before, not the refused one, which Enter would only repeat.
// An image two pixels wide read for arrays 8192 wide writes a little of
// every row, which lies in a page of its own: the reader asks no large pages
// there (each would hold only some 64 of its rows, a whole 2 MB resident for
// them), so it costs a page a row, as the copy into the arrays does.
TEST_F(Tiff, NarrowImageInWideArraysMakesAPageARowResident) {
  TiffSpec s;
  s.width = 2;
  s.length = 2000;
  s.bits = 16;
  s.pixels = ramp(2 * 2000, 251);
  const std::string path = write(s);
  constexpr Index kWide = 8192;
  const testing::ResidentPeak peak;
  const ImageRead r = read(path, {1, 1, 2, 2000, 1, 1}, false, kWide, 2000);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  // A page a row for the data and one for the variances, and some to spare;
  // large pages would be 128 MB.
  EXPECT_LT(peak.grown_bytes(), 2000 * 4096 * 4);
  EXPECT_EQ(at(r, 2, 2000), static_cast<float>(s.pixels[1]));
}

TEST_F(Tiff, RefusedRegionIsAskedAgainOfferingTheOneBefore) {
  TiffSpec s;
  s.width = 10;
  s.pixels = ramp(30, 1);
  const std::string path = write(s);
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({path, "10", "1", "1", "1", "5", "3", "", "", "", "", "", ""});
  std::string name;
  const ImageRead r = tiff_keyboard_read({10, 3, false}, name, status_);
  ASSERT_EQ(r.retstat, 0) << terminal.text();
  EXPECT_EQ(r.image.xnumdat, 10) << terminal.text();
  EXPECT_EQ(r.image.ynumdat, 3);
  EXPECT_EQ(input.remaining(), 0u);
  ASSERT_EQ(input.prompts.size(), 13u);
  EXPECT_NE(input.prompts[7].find("[1]"), std::string::npos) << input.prompts[7];
  EXPECT_NE(input.prompts[11].find("[10]"), std::string::npos) << input.prompts[11];
  EXPECT_NE(terminal.text().find("WARNING: A re-bin factor is larger than the region"),
            std::string::npos);
  EXPECT_EQ(status_, kStatusGood);
}

// Sizes the questions cannot offer or the file cannot hold, and samples no
// read could decode, are refused before the first question, with the data
// set left alone.
TEST_F(Tiff, KeyboardRoadRefusesSizesBeforeAsking) {
  struct Size {
    std::uint32_t width, length;
    const char* message;
  };
  for (const Size& c : {Size{0x80000000u, 3, "gives an image size of 2147483648 x 3 pixels"},
                        Size{0xffffffffu, 3, "gives an image size of 4294967295 x 3 pixels"},
                        Size{1000, 1000, "too short for its image of 1000 x 1000 pixels"},
                        Size{0, 3, "gives an image width of 0"},
                        Size{4, 0, "gives an image length of 0"}}) {
    TiffSpec s;
    s.pixels = ramp(12, 1);
    std::string bytes = tiff_bytes(s);
    // The width and length entries' values (LONG) at bytes 18 and 30.
    for (int k = 0; k < 4; ++k) {
      bytes[static_cast<std::size_t>(18 + k)] = static_cast<char>(c.width >> (8 * k));
      bytes[static_cast<std::size_t>(30 + k)] = static_cast<char>(c.length >> (8 * k));
    }
    const std::string path = dir_.file("huge.tif");
    write_file(path, bytes);
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({path, "1", "1", "1", "1", "4", "3"});
    std::string name;
    const ImageRead r = tiff_keyboard_read({8, 8, false}, name, status_);
    EXPECT_FALSE(r.ok()) << c.message;
    EXPECT_EQ(input.prompts.size(), 1u) << "only the file name is asked";
    EXPECT_NE(terminal.text().find(c.message), std::string::npos) << terminal.text();
    // The size was read: only a file without one is said to give none.
    EXPECT_EQ(terminal.text().find("Image size not returned"), std::string::npos)
        << terminal.text();
  }
  EXPECT_EQ(status_, kStatusGood);
  // Two strip offsets for five strips: refused first, in one line, on the
  // asking and the series roads alike.
  {
    TiffSpec s;
    s.rows_per_strip = 2;
    s.pixels = ramp(12, 1);
    s.strip_offsets_dropped = 1;
    const std::string path = write(s, "strips.tif");
    for (const bool member : {false, true}) {
      testing::TerminalCapture terminal;
      testing::ScriptedInput input({path, "1", "1", "1", "1", "3", "1"});
      std::string name = path;
      const ImageRead r = member ? tiff_member_read({8, 8, false}, false, {}, name, status_)
                                 : tiff_keyboard_read({8, 8, false}, name, status_);
      EXPECT_NE(r.retstat, 0);
      EXPECT_FALSE(r.image.data);
      EXPECT_EQ(input.prompts.size(), member ? 0u : 1u) << "only the file name is asked";
      const std::string out = terminal.text();
      EXPECT_NE(out.find("strip offsets for the"), std::string::npos) << out;
      EXPECT_EQ(out.find("Fewer strip offsets"), std::string::npos) << out;
    }
  }
  // Rows per strip 0: no strip holds a row, so the image cannot be found in
  // the file. Refused first, in one line, on both roads.
  {
    TiffSpec s;
    s.rows_per_strip = 2;
    s.pixels = ramp(12, 1);
    std::string bytes = tiff_bytes(s);
    bytes[8 + 2 + 12 * 5 + 8] = 0;
    const std::string path = dir_.file("rows.tif");
    write_file(path, bytes);
    for (const bool member : {false, true}) {
      const Road road = on_road(member, path);
      EXPECT_FALSE(road.read);
      EXPECT_EQ(road.asked, member ? 0u : 1u) << "only the file name is asked";
      EXPECT_EQ(road.said,
                unread_file_line(path, "gives 0 rows per strip for its image of 4 x 3 pixels") +
                    "\n");
    }
  }
  // A file cut inside its header, 4 to 7 bytes of a TIFF file: one line
  // naming it.
  for (const std::string& head : {std::string("II*\0", 4), std::string("MM\0*\0\0", 6),
                                 std::string("II*\0\x08\0\0", 7)}) {
    const std::string path = dir_.file("cut.tif");
    write_file(path, head);
    testing::TerminalCapture terminal;
    testing::ScriptedInput input({path, "1", "1", "1", "1", "3", "1"});
    std::string name;
    const ImageRead r = tiff_keyboard_read({8, 8, false}, name, status_);
    EXPECT_NE(r.retstat, 0);
    EXPECT_EQ(terminal.text(), unread_file_line(path, "is cut short: it holds " +
                                                          std::to_string(head.size()) +
                                                          " bytes, fewer than the 8 of a TIFF "
                                                          "header") +
                                   "\n");
  }
  EXPECT_EQ(status_, kStatusGood);
  for (const Index format : {Index{3}, Index{4}}) {
    TiffSpec s{3, 1, 32, false, 0, 1, 0, {0x41200000, 0x41200000, 0x3f800000}, format};
    const std::string path = write(s, "float.tif");
    for (const bool member : {false, true}) {
      testing::TerminalCapture terminal;
      testing::ScriptedInput input({path, "1", "1", "1", "1", "3", "1"});
      std::string name = path;
      const ImageRead r = member ? tiff_member_read({8, 8, false}, false, {}, name, status_)
                                 : tiff_keyboard_read({8, 8, false}, name, status_);
      EXPECT_EQ(r.retstat, 2) << format;
      EXPECT_FALSE(r.image.data);
      EXPECT_EQ(input.prompts.size(), member ? 0u : 1u) << "only the file name is asked";
      const std::string out = terminal.text();
      EXPECT_NE(out.find("sample format (" + std::to_string(format) + ", 32 bits)"),
                std::string::npos)
          << out;
      EXPECT_NE(out.find("WARNING: Cannot decode image"), std::string::npos) << out;
      EXPECT_NE(out.find("float.tif was not input"), std::string::npos) << out;
      EXPECT_EQ(out.find("Image size not returned"), std::string::npos) << out;
    }
  }
  // So are sample widths the reader does not decode, whatever the file holds.
  for (const Index bits : {Index{0}, Index{64}, Index{1}, Index{24}}) {
    TiffSpec s{3, 1, bits, false, 0, 1, 0, {1, 2, 3}};
    const std::string path = write(s, "odd.tif");
    for (const bool member : {false, true}) {
      testing::TerminalCapture terminal;
      testing::ScriptedInput input({path, "1", "1", "1", "1", "3", "1"});
      std::string name = path;
      const ImageRead r = member ? tiff_member_read({8, 8, false}, false, {}, name, status_)
                                 : tiff_keyboard_read({8, 8, false}, name, status_);
      EXPECT_EQ(r.retstat, 2) << bits;
      EXPECT_EQ(input.prompts.size(), member ? 0u : 1u) << bits << ": only the file name is asked";
      const std::string out = terminal.text();
      EXPECT_NE(out.find("WARNING: Un-supported number of bits per pixel (" +
                         std::string(bits < 10 ? " " : "") + std::to_string(bits) + ")"),
                std::string::npos)
          << out;
      EXPECT_NE(out.find("WARNING: Cannot decode image"), std::string::npos) << out;
      EXPECT_EQ(out.find("too short"), std::string::npos) << out;
    }
  }
  // So are colour images (three samples a pixel) and compressed ones, each
  // in one line naming what is not read.
  for (const auto& [samples, compression, line] :
       {std::tuple{Index{3}, Index{1}, "WARNING: Un-supported number of samples per pixel (3)"},
        std::tuple{Index{1}, Index{5}, "WARNING: Un-supported compression (5)"}}) {
    TiffSpec s{3, 2, 8, false, 0, compression, 0, {1, 2, 3, 4, 5, 6}};
    s.samples = samples;
    const std::string path = write(s, "colour.tif");
    for (const bool member : {false, true}) {
      testing::TerminalCapture terminal;
      testing::ScriptedInput input({path, "1", "1", "1", "1", "3", "2"});
      std::string name = path;
      const ImageRead r = member ? tiff_member_read({8, 8, false}, false, {}, name, status_)
                                 : tiff_keyboard_read({8, 8, false}, name, status_);
      EXPECT_EQ(r.retstat, 2) << line;
      EXPECT_EQ(input.prompts.size(), member ? 0u : 1u) << line << ": only the file name is asked";
      const std::string out = terminal.text();
      EXPECT_NE(out.find(line), std::string::npos) << out;
      EXPECT_NE(out.find("colour.tif was not input"), std::string::npos) << out;
      for (const char* other : {"Image size not returned", "Integer tag contains", "compressed."})
        EXPECT_EQ(out.find(other), std::string::npos) << out;
    }
    // The read itself refuses them the same way.
    testing::TerminalCapture terminal;
    EXPECT_EQ(read(path, {1, 1, 3, 2, 1, 1}).retstat, 2);
    EXPECT_NE(terminal.text().find(line), std::string::npos) << terminal.text();
  }
  EXPECT_EQ(status_, kStatusGood);
  // An image in tiles and a BigTIFF file: one line naming what is not read,
  // then only the unread-file line, none calling the file damaged.
  std::string tiled = tiff_bytes(TiffSpec{4, 3, 16, false, 0, 1, 0, ramp(12, 1)});
  // The strip offsets (entry 5) become tile offsets, rows per strip (entry
  // 6) the tile width.
  tiled[10 + 12 * 4] = static_cast<char>(324 & 0xff);
  tiled[10 + 12 * 5] = static_cast<char>(322 & 0xff);
  std::string big("II\x2b\x00\x08\x00\x00\x00\x10\x00\x00\x00\x00\x00\x00\x00", 16);
  big += std::string(64, '\0');
  for (const auto& [bytes, line] :
       {std::pair{tiled, "WARNING: Un-supported tiled image: only images stored in strips are "
                         "read\n"},
        std::pair{big, "WARNING: Un-supported BigTIFF file (version 43): only classic TIFF "
                       "files (version 42) are read\n"}}) {
    const std::string path = dir_.file("other.tif");
    write_file(path, bytes);
    for (const bool member : {false, true}) {
      testing::TerminalCapture terminal;
      testing::ScriptedInput input({path, "1", "1", "1", "1", "4", "3"});
      std::string name = path;
      const ImageRead r = member ? tiff_member_read({8, 8, false}, false, {}, name, status_)
                                 : tiff_keyboard_read({8, 8, false}, name, status_);
      EXPECT_EQ(r.retstat, 2) << line;
      EXPECT_EQ(input.prompts.size(), member ? 0u : 1u) << line << ": only the file name is asked";
      EXPECT_EQ(terminal.text(), line + unread_file_line(path, "was not input") + "\n");
    }
    testing::TerminalCapture terminal;
    EXPECT_EQ(read(path, {1, 1, 4, 3, 1, 1}).retstat, 2);
    EXPECT_EQ(terminal.text(), line + unread_file_line(path, "was not input") + "\n");
  }
  // A file cut short inside its last strip by one byte is refused as one
  // short by many, before any question.
  {
    TiffSpec s{16, 16, 16, false, 0, 1, 0, ramp(256, 1)};
    std::string bytes = tiff_bytes(s);
    bytes.pop_back();
    const std::string path = dir_.file("short.tif");
    write_file(path, bytes);
    for (const bool member : {false, true}) {
      testing::TerminalCapture terminal;
      testing::ScriptedInput input({path, "1", "1", "1", "1", "16", "16"});
      std::string name = path;
      const ImageRead r = member ? tiff_member_read({16, 16, false}, false, {}, name, status_)
                                 : tiff_keyboard_read({16, 16, false}, name, status_);
      EXPECT_FALSE(r.ok());
      EXPECT_EQ(input.prompts.size(), member ? 0u : 1u) << "only the file name is asked";
      EXPECT_NE(terminal.text().find(unread_file_line(path, "is too short for its image of 16 x "
                                                            "16 pixels")),
                std::string::npos)
          << terminal.text();
      EXPECT_EQ(terminal.text().find("Full image size"), std::string::npos) << terminal.text();
    }
  }
  EXPECT_EQ(status_, kStatusGood);
  // The prompt helper itself never offers a range it would have to cut.
  testing::TerminalCapture terminal;
  testing::ScriptedInput input({"5"});
  Index value = 1;
  EXPECT_FALSE(ask_index("X REBIN NUMBER", "", 1, Index{1} << 31, value, status_));
  EXPECT_TRUE(input.prompts.empty());
  EXPECT_NE(terminal.text().find("range 1 to 2147483648"), std::string::npos);
  EXPECT_EQ(status_, kStatusGood);
}

// A file too short for a header or for its directory, or one whose strip
// offsets are missing or lie beyond its end, is refused before any question
// by one line naming it and giving the cause, on both roads; no byte it does
// not hold is shown.
TEST_F(Tiff, FilesTooShortForTheirHeaderOrDirectoryAreSaidByTheirCause) {
  const std::string path = dir_.file("short.tif");
  const std::string header("II*\0\x08\0\0\0", 8);
  // The strip offsets entry (the fifth) of a 4 x 3 image listing none, and
  // listing more than the file can hold.
  const std::string image = tiff_bytes(TiffSpec{4, 3, 16, false, 0, 1, 0, ramp(12, 1)});
  std::string none = image, too_many = image;
  none[10 + 12 * 4 + 4] = 0;
  for (int k = 0; k < 4; ++k) too_many[10 + 12 * 4 + 4 + k] = '\xff';
  const auto said_short = [&](const std::string& problem) {
    return unread_file_line(path, problem + ", fewer than the 8 of a TIFF header") + "\n";
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", said_short("holds 0 bytes")},
      {"I", said_short("holds 1 byte")},
      {"x", said_short("holds 1 byte")},
      {"II", said_short("is cut short: it holds 2 bytes")},
      // Cut short whatever its version word says.
      {std::string("II+\0\x08\0\0", 7), said_short("is cut short: it holds 7 bytes")},
      {header,
       unread_file_line(path, "ends before the image directory it places at byte 8") + "\n"},
      {header + '\x03', unread_file_line(path, "ends inside an image directory") + "\n"},
      {std::string("II*\0\0\0\0\0", 8), unread_file_line(path, "holds no image") + "\n"},
      {none, unread_file_line(path, "gives no strip offsets") + "\n"},
      {too_many,
       unread_file_line(path, "gives strip offsets that lie beyond its end or cannot be read") +
           "\n"},
  };
  for (const auto& [bytes, said] : cases)
    for (const bool member : {false, true}) {
      write_file(path, bytes);
      const Road road = on_road(member, path);
      EXPECT_FALSE(road.read);
      EXPECT_EQ(road.asked, member ? 0u : 1u) << "only the file name is asked";
      EXPECT_EQ(road.said, said) << bytes.size() << " bytes";
    }
  // The read itself names the cause too.
  write_file(path, too_many);
  testing::TerminalCapture terminal;
  EXPECT_EQ(read(path, {1, 1, 4, 3, 1, 1}).retstat, 2);
  EXPECT_NE(terminal.text().find("WARNING: The file gives strip offsets that lie beyond its end"),
            std::string::npos)
      << terminal.text();
  // A short file that is no TIFF file is explained with the bytes it holds.
  write_file(path, "abc");
  testing::TerminalCapture explained;
  testing::ScriptedInput input({path});
  std::string name;
  EXPECT_FALSE(tiff_keyboard_read({8, 8, false}, name, status_).ok());
  EXPECT_NE(explained.text().find("\n" + std::string(12, ' ') + "97   98   99\n(Warning comes"), std::string::npos)
      << explained.text();
  EXPECT_EQ(status_, kStatusGood);
}

// A 2048 x 2048 image of 16 bits in strips of 2 rows (1,024 strips, as
// common writers make it) is read whole, each strip where an outside reader
// finds it.
TEST_F(Tiff, ThousandsOfStripsAreReadWhereAnOutsideReaderFindsThem) {
  constexpr Index kN = 2048;
  TiffSpec s{kN, kN, 16, false, 2, 1, 0, {}};
  s.byte_counts = true;
  s.pixels.resize(static_cast<std::size_t>(kN * kN));
  for (std::size_t k = 0; k < s.pixels.size(); ++k)
    s.pixels[k] = static_cast<std::uint32_t>((k * 7919) % 65536);
  const std::string path = write(s, "strips.tif");
  const ImageRead r = read(path, {1, 1, kN, kN, 1, 1}, false, kN, kN);
  ASSERT_EQ(r.retstat, 0) << terminal_.text();
  ASSERT_EQ(r.image.xnumdat, kN);
  ASSERT_EQ(r.image.ynumdat, kN);
  Index wrong = 0;
  for (std::size_t k = 0; k < s.pixels.size(); ++k)
    wrong += at(r, static_cast<Index>(k) % kN + 1, kN - static_cast<Index>(k) / kN) !=
             static_cast<float>(s.pixels[k]);
  EXPECT_EQ(wrong, 0);
  // libtiff's dump of the strips' bytes, in order: the same values.
  if (std::system("command -v tiffinfo > /dev/null 2>&1") != 0) return;
  const std::string dump = dir_.file("dump.txt");
  ASSERT_EQ(std::system(("tiffinfo -d " + path + " > " + dump + " 2>&1").c_str()), 0);
  const std::string text = testing::file_contents(dump);
  EXPECT_NE(text.find("Rows/Strip: 2"), std::string::npos);
  std::vector<std::uint8_t> bytes;
  Index strips = 0;
  for (std::size_t at_line = 0; at_line < text.size();) {
    std::size_t end = text.find('\n', at_line);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at_line, end - at_line);
    at_line = end + 1;
    if (line.starts_with("Strip ")) ++strips;
    if (strips == 0 || !line.starts_with(" ")) continue;
    for (std::size_t k = 1; k + 1 < line.size(); k += 3)
      bytes.push_back(static_cast<std::uint8_t>(std::stoi(line.substr(k, 2), nullptr, 16)));
  }
  EXPECT_EQ(strips, kN / 2);
  ASSERT_EQ(std::ssize(bytes), 2 * kN * kN);
  wrong = 0;
  for (Index k = 0; k < kN * kN; ++k)
    wrong += at(r, k % kN + 1, kN - k / kN) != static_cast<float>(bytes[2 * k] + 256 * bytes[2 * k + 1]);
  EXPECT_EQ(wrong, 0);
}

TEST_F(Tiff, WrittenFileHasTheHeaderAndReadsBack) {
  // 3 x 2 data; the region is the whole array.
  std::vector<float> data = {0.0f, 100.4f, 65535.0f, 7.6f, 300.0f, 70000.0f};
  const std::string path = dir_.file("out.tif");
  testing::ScriptedInput input({path, "2 BYTE UNSIGNED INTEGERS", "0", "65535"});
  std::string file = "kesta.tif";
  int bits = 16;
  FIO_OUT_TIFF(false, "", 3, 2, 1, 1, 3, 2, data, "ab", 1.0e-4f, 2.0e-4f, file, bits, status_);
  ASSERT_EQ(status_, kStatusGood);
  const std::string bytes = testing::file_contents(path);
  ASSERT_EQ(bytes.size(), 512u + 512u);
  if (!IO_BIG_ENDIAN()) {
    EXPECT_EQ(bytes.substr(0, 10), std::string("II\x2a\0\x08\0\0\0\x0c\0", 10));
  }
  EXPECT_EQ(bytes.substr(174, 10), std::string("KESTA: ab\0", 10));
  const ImageRead r = read(path, {1, 1, 3, 2, 1, 1});
  ASSERT_EQ(r.retstat, 0);
  EXPECT_EQ(at(r, 1, 1), 0.0f);
  EXPECT_EQ(at(r, 2, 1), 100.0f);
  EXPECT_EQ(at(r, 3, 1), 65535.0f);
  EXPECT_EQ(at(r, 1, 2), 8.0f);
  EXPECT_EQ(at(r, 3, 2), 65535.0f) << "clipped to the range";

  // An outside reader agrees on sizes, bits and description.
  if (std::system("command -v tiffinfo > /dev/null 2>&1") == 0) {
    const std::string info = dir_.file("info.txt");
    ASSERT_EQ(std::system(("tiffinfo " + path + " > " + info + " 2>&1").c_str()), 0);
    const std::string text = testing::file_contents(info);
    EXPECT_NE(text.find("Image Width: 3 Image Length: 2"), std::string::npos) << text;
    EXPECT_NE(text.find("Bits/Sample: 16"), std::string::npos) << text;
    EXPECT_NE(text.find("KESTA: ab"), std::string::npos) << text;
    // Its copies in the other byte order and in strips of one row read the
    // same; a compressed copy is refused.
    for (const auto& [options, retstat] : {std::pair{"-B", 0}, std::pair{"-L -r 1", 0},
                                           std::pair{"-c lzw", 2}}) {
      const std::string copy = dir_.file("copy.tif");
      ASSERT_EQ(std::system(("tiffcp " + std::string(options) + " " + path + " " + copy).c_str()), 0);
      const ImageRead c = read(copy, {1, 1, 3, 2, 1, 1});
      ASSERT_EQ(c.retstat, retstat) << options;
      for (Index k = 0; retstat == 0 && k < 6; ++k)
        EXPECT_EQ(at(c, k % 3 + 1, k / 3 + 1), at(r, k % 3 + 1, k / 3 + 1)) << options;
    }
  }
}

// A constant image taken with the limits proposed is written as the lower
// end of the range (so it reads back as zeros), and a line says so; limits
// that the questions would show alike are shown with their full digits. The largest
// single value has no finite value above it: it is the upper end.
TEST_F(Tiff, ConstantImageWithTheProposedLimitsIsSaid) {
  struct Case {
    float value;
    const char* bits;
    float read_back;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {300.0f, "1 BYTE UNSIGNED INTEGERS", 0.0f,
       {"INFO: Every pixel of the region is 300.0000: all are written as 0, the lower end of the "
        "scaling range (300.0000 to 301.0000)\n"}},
      {1.0e30f, "2 BYTE UNSIGNED INTEGERS", 0.0f,
       {"INFO: Every pixel of the region is 1.00000002E+30: all are written as 0, the lower end "
        "of the scaling range (1.00000002E+30 to 1.00000009E+30)\n"}},
      {std::numeric_limits<float>::max(), "2 BYTE UNSIGNED INTEGERS", 65535.0f,
       {"all are written as 65535, the upper end"}},
  };
  constexpr Index kX = 61, kY = 47;
  for (const Case& c : cases) {
    testing::reset_dialogue();
    testing::TerminalCapture terminal;
    const std::string path = dir_.file("constant.tif");
    {
      testing::ScriptedInput input({path, c.bits, "", ""});
      std::string file = "kesta.tif";
      int bits = 16;
      const std::vector<float> data(kX * kY, c.value);
      FIO_OUT_TIFF(false, "", kX, kY, 1, 1, kX, kY, data, "flat", 1.0e-4f, 1.0e-4f, file, bits,
                   status_);
    }
    ASSERT_EQ(status_, kStatusGood);
    for (const std::string& line : c.said)
      EXPECT_NE(terminal.text().find(line), std::string::npos) << terminal.text();
    const ImageRead r = read(path, {1, 1, kX, kY, 1, 1}, false, kX, kY);
    ASSERT_EQ(r.retstat, 0);
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) ASSERT_EQ(at(r, x, y), c.read_back) << x << " " << y;
  }
}

// Data lying wholly above 65535 are offered their own range on 16 bits, not
// one step above their minimum (which wrote nearly every pixel as 65535);
// data reaching below it keep 65535 as the proposed upper limit.
TEST_F(Tiff, SixteenBitLimitsProposedForDataAbove65535CoverThem) {
  struct Case {
    double low, high;
    const char* clipped;  // the clipping line the proposed limits give
  };
  const Case cases[] = {
      {70000.0, 80000.0, nullptr},
      {2.5e38, 3.4e38, nullptr},
      {60000.0, 80000.0, "outside the scaling range (60000.00 to 65535.00)"},
  };
  constexpr Index kX = 40, kY = 30;
  for (const Case& c : cases) {
    testing::reset_dialogue();
    testing::TerminalCapture terminal;
    const std::string path = dir_.file("above.tif");
    std::vector<float> data(kX * kY);
    const double step = (c.high - c.low) / static_cast<double>(kX * kY - 1);
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<float>(c.low + step * static_cast<double>(i));
    {
      testing::ScriptedInput input({path, "2 BYTE UNSIGNED INTEGERS", "", ""});
      std::string file = "kesta.tif";
      int bits = 16;
      FIO_OUT_TIFF(false, "", kX, kY, 1, 1, kX, kY, data, "above", 1.0e-4f, 1.0e-4f, file, bits,
                   status_);
    }
    ASSERT_EQ(status_, kStatusGood);
    const std::string said = terminal.text();
    if (c.clipped != nullptr) {
      EXPECT_NE(said.find(c.clipped), std::string::npos) << said;
      continue;
    }
    EXPECT_EQ(said.find("outside the scaling range"), std::string::npos) << said;
    // The ramp is written as a ramp over the whole 16 bits.
    const ImageRead r = read(path, {1, 1, kX, kY, 1, 1}, false, kX, kY);
    ASSERT_EQ(r.retstat, 0);
    const double lo = data.front(), hi = data.back();
    for (Index y = 1; y <= kY; ++y)
      for (Index x = 1; x <= kX; ++x) {
        const double v = data[static_cast<std::size_t>(element(x, y, kX))];
        ASSERT_NEAR(at(r, x, y), (v - lo) / (hi - lo) * 65535.0, 1.0) << x << " " << y;
      }
  }
}

}  // namespace
}  // namespace kesta
