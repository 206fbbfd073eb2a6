// The fit parameter file: bytes as written, a round trip, a file of the other
// byte order, and every refusal leaving the held state as it was.

#include "app/fitting/parameter_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <fstream>
#include <sstream>

#include "app/fitting/fitting_test_support.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

constexpr Index kX = 40;
constexpr Index kY = 30;

FitModel sample_model() {
  FitModel m;
  testing::add_feature(m, kGaussian, {20.0f, 15.0f, 200.0f, 3.0f, 2.0f, 0.3f}, 0.5f);
  testing::add_feature(m, kPolarCentre, {1.5f, 2.5f, 10.0f, 11.0f, 50.0f, 1.5f, 0.1f}, 2.0f);
  m.names[0] = "GAU 1 XCe ";
  m.constraints[2] = true;
  m.num_results = 2;
  m.result_names[0] = "GAU 1 INT ";
  m.result_names[1] = "PGa 2 INT ";
  m.x_order = 3;
  m.y_order = 2;
  m.x_min_poly = -1.0f;
  m.y_max_poly = 77.0f;
  return m;
}

std::string bytes_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool write_file(const std::string& path, FitModel& m, const std::vector<std::uint8_t>& mask,
                const FitControls& c = {}) {
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  const bool ok = kzt_write_parameter_file(path, kX, kY, kX, kY, mask, m, c, status);
  EXPECT_EQ(status, kStatusGood);
  return ok;
}

struct Read {
  FitModel model;
  FitControls controls;
  std::vector<std::uint8_t> mask;
  int retstat = -5;
  Status status = kStatusGood;
  std::string text;
};

Read read_file(const std::string& path) {
  Read r;
  r.model.num_parameters = 99;  // marks the held state
  r.controls.accuracy = 42.0f;
  r.mask.assign(3, 7);
  testing::TerminalCapture terminal;
  kzt_read_parameter_file(path, kX, kY, r.model, r.controls, r.mask, r.retstat, r.status);
  r.text = terminal.text();
  return r;
}

TEST(ParameterFile, WritesTheItemsInOrderAndReadsThemBack) {
  testing::TempDir dir;
  const std::string path = dir.file("kesta.par");
  FitModel m = sample_model();
  std::vector<std::uint8_t> mask(kX * kY, 0);
  mask[5] = mask[kX * kY - 1] = 1;
  FitControls c;
  c.accuracy = 0.25f;
  c.halt_criterion = 1;
  c.halt_value = 3.0f;
  c.evolve = false;
  ASSERT_TRUE(write_file(path, m, mask, c));
  // The constrained parameter's code carries digit 7.
  EXPECT_EQ(m.codes[2], make_code(1, kGaussian, 3) + 1000000);
  const std::string bytes = bytes_of(path);
  ASSERT_EQ(bytes.size() % 512, 0u);
  // Golden header records: the first two items and the end.
  EXPECT_EQ(bytes.substr(0, 41), "\\$FFF_START:00000000s00000014KESTA Parame");
  EXPECT_EQ(bytes[511], '\n');
  EXPECT_EQ(bytes.substr(512, 31),
            std::string("\\$BIG_ENDIAN:00000000s00000005") + (IO_BIG_ENDIAN() ? "T" : "F"));
  EXPECT_NE(bytes.find("\\data_mask:00000001al0000000100000002000000280000001e"),
            std::string::npos);
  const std::size_t order[] = {
      bytes.find("\\total_params:"),      bytes.find("\\number_features:"),
      bytes.find("\\number_results:"),    bytes.find("\\x_order:"),
      bytes.find("\\x_min_poly:"),        bytes.find("\\apply_weights:"),
      bytes.find("\\halt_value:"),        bytes.find("\\parameter_values:"),
      bytes.find("\\parameter_descriptions:"), bytes.find("\\parameter_scales:"),
      bytes.find("\\parameter_names:"),   bytes.find("\\result_names:"),
      bytes.find("\\$FFF_END:")};
  for (std::size_t i = 1; i < std::size(order); ++i) {
    ASSERT_NE(order[i], std::string::npos) << i;
    EXPECT_LT(order[i - 1], order[i]) << i;
  }

  const Read r = read_file(path);
  ASSERT_EQ(r.retstat, 0) << r.text;
  EXPECT_EQ(r.model.num_parameters, 13);
  EXPECT_EQ(r.model.num_features, 2);
  EXPECT_EQ(r.model.params, m.params);
  EXPECT_EQ(r.model.codes, m.codes);
  EXPECT_EQ(r.model.scales, m.scales);
  EXPECT_TRUE(r.model.constraints[2]);
  EXPECT_FALSE(r.model.constraints[3]);
  EXPECT_EQ(r.model.names[0], "GAU 1 XCe ");
  EXPECT_EQ(r.model.result_names[1], "PGa 2 INT ");
  EXPECT_EQ(r.model.x_order, 3);
  EXPECT_EQ(r.model.y_max_poly, 77.0f);
  EXPECT_EQ(r.controls.accuracy, 0.25f);
  EXPECT_EQ(r.controls.halt_value, 3.0f);
  EXPECT_FALSE(r.controls.evolve);
  EXPECT_EQ(r.mask, mask);
}

// Without a mask the file holds zeros over the data's extent, the same bytes
// whatever the arrays' size, and making them touches the extent only (not a
// 64 MB mask of the arrays' shape).
TEST(ParameterFile, NoMaskWritesTheSameZerosInArraysOfAnySize) {
  testing::TempDir dir;
  FitModel m = sample_model();
  ASSERT_TRUE(write_file(dir.file("small.par"), m, {}));
  constexpr Index kLarge = 8192;
  m = sample_model();
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  const testing::ResidentPeak peak;
  ASSERT_TRUE(kzt_write_parameter_file(dir.file("large.par"), kLarge, kLarge, kX, kY, {}, m, {},
                                       status));
  EXPECT_LT(peak.grown_bytes(), kLarge * kLarge / 2);
  EXPECT_EQ(bytes_of(dir.file("large.par")), bytes_of(dir.file("small.par")));
}

// Rewrites a file as a machine of the other byte order would have written it.
std::string other_byte_order(std::string bytes) {
  for (std::size_t record = 0; record + 512 <= bytes.size();) {
    const std::string head = bytes.substr(record, 512);
    const std::size_t colon = head.find(':');
    const long data_records = std::stol(head.substr(colon + 1, 8), nullptr, 16);
    const char type = head[colon + 9];
    if (head.rfind("\\$BIG_ENDIAN:", 0) == 0)
      bytes.replace(record + colon + 18, 5, IO_BIG_ENDIAN() ? "FALSE" : "TRUE ");
    if (type == 'a' && head[colon + 10] != 's')
      for (std::size_t b = record + 512; b < record + 512 * (1 + data_records); b += 4)
        std::swap(bytes[b], bytes[b + 3]), std::swap(bytes[b + 1], bytes[b + 2]);
    record += 512 * (1 + data_records);
  }
  return bytes;
}

TEST(ParameterFile, ReadsAFileOfTheOtherByteOrder) {
  testing::TempDir dir;
  FitModel m = sample_model();
  std::vector<std::uint8_t> mask(kX * kY, 0);
  for (std::size_t i = 0; i < mask.size(); i += 7) mask[i] = 1;
  ASSERT_TRUE(write_file(dir.file("native.par"), m, mask));
  write_bytes(dir.file("other.par"), other_byte_order(bytes_of(dir.file("native.par"))));
  ASSERT_NE(bytes_of(dir.file("native.par")), bytes_of(dir.file("other.par")));
  const Read r = read_file(dir.file("other.par"));
  ASSERT_EQ(r.retstat, 0) << r.text;
  EXPECT_EQ(r.model.params, m.params);
  EXPECT_EQ(r.model.codes, m.codes);
  EXPECT_EQ(r.mask, mask);
}

TEST(ParameterFile, RefusalsLeaveTheHeldStateAsItWas) {
  testing::TempDir dir;
  FitModel m = sample_model();
  std::vector<std::uint8_t> mask(kX * kY, 0);
  ASSERT_TRUE(write_file(dir.file("good.par"), m, mask));
  const std::string good = bytes_of(dir.file("good.par"));
  const auto patched = [&](const std::string& name, const std::string& from,
                           const std::string& to) {
    std::string b = good;
    const std::size_t at = b.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    b.replace(at, to.size(), to);
    write_bytes(dir.file(name), b);
    return dir.file(name);
  };
  // A count the arrays cannot hold, a count the file's array does not hold,
  // an order beyond the table, a truncated file, an image file, a
  // directory, a FIFO, a missing file.
  const std::string bad[] = {
      patched("count.par", "\\total_params:00000000i000000", "\\total_params:00000000i0000012c"),
      patched("short.par", "\\total_params:00000000i000000", "\\total_params:00000000i0000000c"),
      patched("order.par", "\\x_order:00000000i000000", "\\x_order:00000000i00000028"),
      patched("results.par", "\\number_results:00000000i000000",
              "\\number_results:00000000i00000003"),
  };
  for (const std::string& path : bad) {
    const Read r = read_file(path);
    EXPECT_EQ(r.retstat, 1) << path << r.text;
    EXPECT_EQ(r.model.num_parameters, 99);
    EXPECT_EQ(r.controls.accuracy, 42.0f);
    EXPECT_EQ(r.mask.size(), 3u);
    EXPECT_NE(r.text.find("WARNING: Parameter file \"" + path + "\""), std::string::npos) << r.text;
    EXPECT_EQ(r.status, kStatusGood);
  }
  write_bytes(dir.file("cut.par"), good.substr(0, 512 * 3));
  mkfifo(dir.file("fifo.par").c_str(), 0600);
  write_bytes(dir.file("text.par"), std::string(2000, 'x'));
  for (const std::string& path : {dir.file("cut.par"), dir.path().string(), dir.file("fifo.par"),
                                  dir.file("missing.par"), dir.file("text.par")}) {
    const Read r = read_file(path);
    EXPECT_NE(r.retstat, 0) << path;
    EXPECT_EQ(r.model.num_parameters, 99) << path;
    EXPECT_EQ(r.status, kStatusGood) << path;
  }
  // The old format (no Chebyshev range): the message, and the user escape.
  {
    const Read r = read_file(patched("old.par", "\\x_min_poly:", "\\x_mXn_poly:"));
    EXPECT_EQ(r.retstat, 2);
    EXPECT_EQ(r.status, kStatusEscape);
    EXPECT_NE(r.text.find("ERROR: Old parameter file: not compatible with new polynomial fitting"),
              std::string::npos);
    EXPECT_EQ(r.model.num_parameters, 99);
  }
  // Without result names: refused, as the fit would name its features'
  // results by a place that holds none; without a mask: nothing masked.
  {
    const Read r = read_file(patched("nonames.par", "\\result_names:", "\\result_nXmes:"));
    EXPECT_EQ(r.retstat, 1);
    EXPECT_NE(r.text.find("holds 0 result names where its features give 2"), std::string::npos)
        << r.text;
    EXPECT_EQ(r.model.num_parameters, 99);
    const Read q = read_file(patched("nomask.par", "\\data_mask:", "\\data_mXsk:"));
    EXPECT_EQ(q.retstat, 0);
    EXPECT_NE(q.text.find("WARNING: Data mask not found setting mask to zero (no mask)"),
              std::string::npos);
    EXPECT_EQ(q.mask, std::vector<std::uint8_t>(kX * kY, 0));
    // A missing control keeps the held value.
    const Read k = read_file(patched("noacc.par", "\\accuracy:", "\\accurXcy:"));
    EXPECT_EQ(k.retstat, 0);
    EXPECT_EQ(k.controls.accuracy, 42.0f);
  }
  // A failed write keeps the old file.
  {
    chmod(dir.path().c_str(), 0500);
    FitModel other = sample_model();
    other.params[0] = -1.0f;
    Status status = kStatusGood;
    testing::TerminalCapture quiet;
    const bool ok =
        kzt_write_parameter_file(dir.file("good.par"), kX, kY, kX, kY, mask, other, {}, status);
    chmod(dir.path().c_str(), 0700);
    if (geteuid() != 0) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(bytes_of(dir.file("good.par")), good);
    }
  }
}

// Takes COUNT parameters out of M from FIRST on (0-based).
void drop(FitModel& m, int first, int count) {
  const auto shift = [&](auto& a) {
    std::move(a.begin() + first + count, a.begin() + m.num_parameters, a.begin() + first);
  };
  shift(m.params);
  shift(m.codes);
  shift(m.scales);
  shift(m.names);
  shift(m.constraints);
  m.num_parameters -= count;
}

// Appends a parameter of code CODE to M.
void append(FitModel& m, int code) {
  const std::size_t i = static_cast<std::size_t>(m.num_parameters++);
  m.params[i] = 1.0f;
  m.codes[i] = code;
  m.scales[i] = 1.0f;
  m.names[i] = "EXTRA     ";
}

TEST(ParameterFile, ValuesTheModelWouldRefuseAreRefusedWhole) {
  testing::TempDir dir;
  // A surface and a row-line beside the peaks of the sample model.
  const auto model = [] {
    FitModel m = sample_model();
    m.x_order = m.y_order = 0;
    m.x_max_poly = m.y_max_poly = 50.0f;
    testing::add_feature(m, kSurface, {5.0f});
    testing::add_feature(m, kRowLine, {-1, 1, 20, 15, 25, 15, 0, 0.01f, 0.0f, 1, 1, 0.01f, 3, 4, 5});
    return m;
  };
  using Damage = void (*)(FitModel&, FitControls&, float bad);
  struct Case {
    const char* what;
    Damage damage;
    const char* fault;
  };
  const Case cases[] = {
      {"a centre that is not a number", [](FitModel& m, FitControls&, float bad) { m.params[0] = bad; },
       "holds parameter 1 (GAU 1 XCe) with a value that is not a finite number"},
      {"a scale that is not a number", [](FitModel& m, FitControls&, float bad) { m.scales[8] = -bad; },
       "holds parameter 9 (FEA 2 PAR) with a scale that is not a finite number"},
      {"a free parameter of scale 0", [](FitModel& m, FitControls&, float) { m.scales[0] = 0.0f; },
       "holds free parameter 1 (GAU 1 XCe) with a scale of 0"},
      {"an accuracy that is not a number", [](FitModel&, FitControls& c, float bad) { c.accuracy = bad; },
       "holds fit controls outside their bounds"},
      {"an empty X range of the surface",
       [](FitModel& m, FitControls&, float) { m.x_max_poly = m.x_min_poly; },
       "holds a Chebyshev surface (feature 3) over an empty normalisation range"},
      {"a reversed Y range of the surface", [](FitModel& m, FitControls&, float) { m.y_min_poly = 60.0f; },
       "holds a Chebyshev surface (feature 3) over an empty normalisation range"},
      {"reversed row-line orders", [](FitModel& m, FitControls&, float) { m.params[14] = 2.0f; },
       "holds a row-line (feature 4) of orders 2 to 1"},
      {"a row-line order without its intensity",
       [](FitModel& m, FitControls&, float) { m.params[15] = 2.0f; },
       "holds a row-line (feature 4) without an intensity for each order"},
      // Codes the model would not read: the fit would go on without them.
      {"a height coded as parameter 20 of a Gaussian",
       [](FitModel& m, FitControls&, float) { m.codes[2] = make_code(1, kGaussian, 20); },
       "holds parameter 3 (FEA 1 PAR) with code 1200601 naming parameter 20 of a 2-D Gaussian "
       "(feature 1), which has 6 parameters"},
      {"a parameter of a feature type 99",
       [](FitModel& m, FitControls&, float) { m.codes[3] = make_code(1, 99, 4); },
       "holds parameter 4 (FEA 1 PAR) with code 49901 naming a feature type 99 the model does "
       "not know"},
      {"a parameter of feature 7 of 4",
       [](FitModel& m, FitControls&, float) { m.codes[5] = make_code(7, kGaussian, 6); },
       "holds parameter 6 (FEA 1 PAR) with code 60607 naming feature 7, not one of the 4 "
       "features"},
      {"a parameter of another type than its feature",
       [](FitModel& m, FitControls&, float) { m.codes[5] = make_code(1, kPolar, 6); },
       "holds parameter 6 (FEA 1 PAR) with code 60801 naming type 8 in feature 1, a 2-D "
       "Gaussian (type 6)"},
      {"a parameter given twice", [](FitModel& m, FitControls&, float) { m.codes[1] = m.codes[0]; },
       "holds parameter 2 (FEA 1 PAR) with code 10601 naming parameter 1 of a 2-D Gaussian "
       "(feature 1), as does parameter 1 (GAU 1 XCe)"},
      {"a Gaussian with 3 of its 6 parameters",
       [](FitModel& m, FitControls&, float) { drop(m, 3, 3); },
       "holds a 2-D Gaussian (feature 1) with 3 of its 6 parameters"},
      {"a surface of orders 0 by 0 with 4 coefficients",
       [](FitModel& m, FitControls&, float) {
         for (int k = 2; k <= 4; ++k) append(m, make_code(3, kSurface, k));
       },
       "holds parameter 30 (EXTRA) with code 22003 naming parameter 2 of a Chebyshev surface "
       "(feature 3), which has 1 coefficient for orders 0 by 0"},
      {"a surface of orders 1 by 1 with 1 coefficient",
       [](FitModel& m, FitControls&, float) { m.x_order = m.y_order = 1; },
       "holds a Chebyshev surface (feature 3) with 1 of its 4 coefficients for orders 1 by 1"},
      {"a row-line intensity beyond its orders",
       [](FitModel& m, FitControls&, float) { append(m, make_code(4, kRowLine, 16)); },
       "holds parameter 30 (EXTRA) with code 165004 naming parameter 16 of a row-line "
       "(feature 4), which has 15 parameters"},
      {"a feature without parameters", [](FitModel& m, FitControls&, float) { ++m.num_features; },
       "holds feature 5 without parameters"},
      // Digits outside their defined values: the reads by place would take
      // them for something they are not.
      {"a negative code", [](FitModel& m, FitControls&, float) { m.codes[1] = -m.codes[1]; },
       "holds parameter 2 (FEA 1 PAR) with code -20601, a negative code"},
      {"a constraint digit of 2", [](FitModel& m, FitControls&, float) { m.codes[1] += 2000000; },
       "holds parameter 2 (FEA 1 PAR) with code 2020601, a constraint digit of 2 (0 or 1)"},
      {"a unit class on a Gaussian", [](FitModel& m, FitControls&, float) { m.codes[1] += 20000000; },
       "holds parameter 2 (FEA 1 PAR) with code 20020601, a unit class of 2 on a 2-D Gaussian "
       "(only a row-line's parameters have one)"},
      {"a unit class no report knows",
       [](FitModel& m, FitControls&, float) { m.codes[16] += 30000000; },
       "holds parameter 17 (FEA 4 PAR) with code 30035004, a unit class of 3 (0, 1, 2, 5 or 6)"},
      {"a nine-digit code", [](FitModel& m, FitControls&, float) { m.codes[1] += 100000000; },
       "holds parameter 2 (FEA 1 PAR) with code 100020601, a code of more than eight digits"},
      {"a second surface",
       [](FitModel& m, FitControls&, float) { testing::add_feature(m, kSurface, {1.0f}); },
       "holds a second Chebyshev surface (feature 5) beside feature 3; the model has one"},
      // Results are named by their place: each name must be its feature's.
      {"result names in another order",
       [](FitModel& m, FitControls&, float) { std::swap(m.result_names[0], m.result_names[1]); },
       "holds result name 1 \"PGa 2 INT\" where its features give \"GAU 1 INT\""},
      {"a blank result name", [](FitModel& m, FitControls&, float) { m.result_names[1] = ""; },
       "holds result name 2 (blank) where its features give \"PGa 2 INT\""},
      {"a result name too few", [](FitModel& m, FitControls&, float) { m.num_results = 1; },
       "holds 1 result name where its features give 5"},
  };
  // Each case with a value that is not a number and with an infinite one.
  for (const float bad : {std::nanf(""), std::numeric_limits<float>::infinity()}) {
    for (const Case& c : cases) {
      FitModel m = model();
      FitControls controls;
      c.damage(m, controls, bad);
      const std::string path = dir.file("damaged.par");
      ASSERT_TRUE(write_file(path, m, {}, controls));
      const Read r = read_file(path);
      EXPECT_EQ(r.retstat, 1) << c.what << r.text;
      EXPECT_EQ(r.status, kStatusGood) << c.what;
      EXPECT_EQ(r.model.num_parameters, 99) << c.what;
      EXPECT_EQ(r.controls.accuracy, 42.0f) << c.what;
      EXPECT_EQ(r.mask.size(), 3u) << c.what;
      EXPECT_NE(r.text.find("WARNING: Parameter file \"" + path + "\" " + c.fault), std::string::npos)
          << c.what << r.text;
    }
  }
  // The undamaged model reads; without a surface any range is taken as it is.
  // Saved before its first fit, it has no names for the row-line's results
  // yet: they are taken from its features, as are all of them once fitted.
  FitModel good = model();
  ASSERT_TRUE(write_file(dir.file("good.par"), good, {}));
  Read fresh = read_file(dir.file("good.par"));
  EXPECT_EQ(fresh.retstat, 0) << fresh.text;
  ASSERT_EQ(fresh.model.num_results, 5);
  EXPECT_EQ(fresh.model.result_names[1], "PGa 2 INT ");
  EXPECT_EQ(fresh.model.result_names[2], "ROW 1I -1 ");
  ASSERT_TRUE(write_file(dir.file("fitted.par"), fresh.model, {}));
  EXPECT_EQ(read_file(dir.file("fitted.par")).retstat, 0);
  FitModel flat = sample_model();
  flat.x_max_poly = flat.x_min_poly;
  ASSERT_TRUE(write_file(dir.file("flat.par"), flat, {}));
  EXPECT_EQ(read_file(dir.file("flat.par")).retstat, 0);
  // Parameters are read by their codes, in whatever order the file holds them.
  FitModel turned = model();
  std::reverse(turned.codes.begin(), turned.codes.begin() + 6);
  ASSERT_TRUE(write_file(dir.file("turned.par"), turned, {}));
  EXPECT_EQ(read_file(dir.file("turned.par")).retstat, 0);
}

}  // namespace
}  // namespace kesta
