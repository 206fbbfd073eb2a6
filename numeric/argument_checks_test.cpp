// Declared sizes larger than the spans handed over, and counts whose work
// cannot be done: every routine refuses them and leaves its arrays alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "core/status.hpp"
#include "core/test_support.hpp"
#include "numeric/chebyshev.hpp"
#include "numeric/convolution.hpp"
#include "numeric/modelfit.hpp"
#include "numeric/profiles1d.hpp"
#include "numeric/profiles2d.hpp"
#include "numeric/random.hpp"
#include "numeric/rotate.hpp"
#include "numeric/splines.hpp"

namespace kesta {
namespace {

constexpr float kUntouched = 3.0f;
constexpr Index kHuge = Index{1} << 62;

// Buffers of 8 x 8 declared elements, each one element short unless asked.
struct Arrays {
  std::vector<float> a, b, axis_x, axis_y, work;
  explicit Arrays(Index short_by)
      : a(64 - short_by, kUntouched),
        b(64 - short_by, kUntouched),
        axis_x(8 - short_by, 0.5f),
        axis_y(8 - short_by, 0.5f),
        work(64 - short_by, kUntouched) {}
  bool untouched() const {
    return std::all_of(a.begin(), a.end(), [](float v) { return v == kUntouched; }) &&
           std::all_of(b.begin(), b.end(), [](float v) { return v == kUntouched; });
  }
};

void fit_model(bool, Index, Index, std::span<const float>, std::span<const std::uint8_t>, Index,
               Index, Index, Index, void*, void*, void*, void*, int, std::span<const float>, Index,
               Index, bool, int&, std::span<float>, Status&) {}

TEST(ArgumentChecks, SpansShorterThanTheirDeclaredSizesAreRefused) {
  struct Case {
    const char* what;
    std::function<void(Arrays&, Status&)> call;
    Status code;
  };
  const Case cases[] = {
      {"MA_2DPOISSON", [](Arrays& r, Status& s) { MA_2DPOISSON(8, 8, 1, 1, 8, 8, -1.0f, r.a, s); },
       20037},
      {"MA_1DLORENTZIAN",
       [](Arrays& r, Status& s) {
         MA_1DLORENTZIAN(64, 1, 64, 1.0f, 60.0f, 5.0f, 9, r.a, s);
       },
       20037},
      {"MA_1DINTERCORR",
       [](Arrays& r, Status& s) { MA_1DINTERCORR(8, 1, 8, 0.0f, 1.0f, 2.0f, r.axis_x, r.a, s); },
       20037},
      {"MA_2GAUSSIAN",
       [](Arrays& r, Status& s) {
         MA_2GAUSSIAN(8, 8, 1, 1, 8, 8, 1.0f, 7.5f, 7.5f, 2.0f, 2.0f, 0.0f, 5.0f, 9, r.a, s);
       },
       20037},
      {"MA_2GPGCL",
       [](Arrays& r, Status& s) {
         MA_2GPGCL(8, 8, r.axis_x, r.axis_y, 1, 1, 8, 8, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f,
                   3.0f, 9, r.a, s);
       },
       20037},
      {"MA_CAL_2DCHEBYSHEV",
       [](Arrays& r, Status& s) {
         const std::vector<float> coeffs(4, 1.0f);
         MA_CAL_2DCHEBYSHEV(false, 0.0f, 0.0f, 1.0f, 1.0f, 2, 2, coeffs, 1, 1, 8, 8, 1, 1, 8, 8, 2,
                            8, r.axis_x, r.axis_y, r.work, r.b, r.a, s);
       },
       20037},
      {"MA_SCONVOLUTION",
       [](Arrays& r, Status& s) {
         MA_SCONVOLUTION(8, 8, r.a, 1, 1, 8, 8, 3, 3, 3, 3, r.work, 8, 8, r.b, s);
       },
       20037},
      {"MA_SCONVOLUTION kernel of 2^62 x 1",
       [](Arrays& r, Status& s) {
         MA_SCONVOLUTION(8, 8, r.a, 1, 1, 8, 8, kHuge, 1, kHuge, 1, r.work, 8, 8, r.b, s);
       },
       20037},
      {"MA_SINTERPOLATE",
       [](Arrays& r, Status& s) {
         int failed = 0;
         float fp = 0.0f;
         testing::TerminalCapture quiet;
         MA_SINTERPOLATE(0, false, 0.1f, 8, 8, r.axis_x, r.axis_y, r.axis_x, 8, 8, 1, 1, 8, 8,
                         r.axis_x, r.axis_y, r.work, failed, fp, r.a, s);
       },
       20037},
      {"MA_AUTOCORRELATION",
       [](Arrays& r, Status& s) { MA_AUTOCORRELATION(false, 8, 8, 8, 8, 8, r.a, s); }, 20037},
      {"MA_MODELFIT",
       [](Arrays& r, Status& s) {
         const bool constrained[2] = {false, false};
         const float scales[2] = {1.0f, 1.0f};
         std::vector<float> params(2, 0.0f), model(64, kUntouched);
         int end = 0, calls = 0;
         float sum = 0.0f;
         MA_MODELFIT(0, fit_model, false, false, true, 8, 8, r.a, {}, {}, 1, 1, 8, 8, 1, 10, 1e-5f,
                     100.0f, 5e-7f, nullptr, nullptr, nullptr, nullptr, 2, constrained, scales, 8,
                     8, false, params, model, end, calls, sum, s);
       },
       20037},
  };
  for (const Case& c : cases) {
    // The same call with full spans is accepted, so the span alone is refused.
    Arrays full(0);
    Status good = ST_GOOD();
    if (std::string_view(c.what).find("2^62") == std::string_view::npos) {
      c.call(full, good);
      EXPECT_EQ(good, ST_GOOD()) << c.what;
    }
    Arrays shorter(1);
    Status status = ST_GOOD();
    c.call(shorter, status);
    EXPECT_EQ(status, c.code) << c.what;
    EXPECT_TRUE(shorter.untouched()) << c.what;
  }
}

TEST(ArgumentChecks, WorkThatCannotBeDoneIsRefused) {
  std::vector<float> data(64, 1.0f), out(64, kUntouched);
  struct Case {
    Index xsub, ysub;
    Status code;
  };
  for (const Case c : {Case{kHuge, 1, 20017}, Case{1, kHuge, 20018}, Case{1 << 20, 1 << 20, 20018}}) {
    Status status = ST_GOOD();
    MA_RROTATE(8, 8, data, 1, 1, 8, 8, 4.0f, 4.0f, 0.3f, 0.0f, 0.0f, c.xsub, c.ysub, 8, 8, 1, 1, 8,
               8, out, status);
    EXPECT_EQ(status, c.code) << c.xsub << " " << c.ysub;
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == kUntouched; }));
  }
  // A large kernel whose span is all there: only its part within a region's
  // reach is visited, so this finishes at once and equals the 3 x 3 sum.
  const Index kx = 2001;
  std::vector<float> kernel(kx * 3, 0.0f);
  for (Index j = 0; j < 3; ++j)
    for (Index i = 999; i <= 1001; ++i) kernel[i + j * kx] = 1.0f;
  Status status = ST_GOOD();
  MA_SCONVOLUTION(8, 8, data, 1, 1, 8, 8, kx, 3, kx, 3, kernel, 8, 8, out, status);
  ASSERT_EQ(status, ST_GOOD());
  EXPECT_EQ(out[element(4, 4, 8)], 9.0f);
  EXPECT_EQ(out[element(1, 1, 8)], 4.0f);
}

}  // namespace
}  // namespace kesta
