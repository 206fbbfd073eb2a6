#include "numeric/random.hpp"

#include <array>
#include <cmath>
#include <cstdint>

#include "core/io_output.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

// The generator's state, kept for the run.
struct Rand1State {
  bool seeded = false;
  std::int64_t ix1 = 0, ix2 = 0, ix3 = 0;
  std::array<float, 97> store{};
};
Rand1State rand1_state;

constexpr std::int64_t kM1 = 259200, kA1 = 7141, kC1 = 54773;
constexpr std::int64_t kM2 = 134456, kA2 = 8121, kC2 = 28411;
constexpr std::int64_t kM3 = 243000, kA3 = 4561, kC3 = 51349;
constexpr float kRm1 = 3.8580247e-6f;
constexpr float kRm2 = 7.4373775e-6f;

// One stored value from the high-order and low-order generators.
float combine(std::int64_t ix1, std::int64_t ix2) {
  const float low = static_cast<float>(ix2) * kRm2;
  const float sum = static_cast<float>(ix1) + low;
  return sum * kRm1;
}

// The seed argument MA_POISSON keeps for the run.
int poisson_seed = 1;

// Largest mean whose deviates still fit an integer (a few standard deviations
// of headroom below 2**31 - 1).
constexpr float kMaxMean = 2.0e9f;

float uniform(Status& status) { return MA_RAND1(poisson_seed, status); }

}  // namespace

float MA_RAND1(int& idum, Status& status) {
  if (st_bad(status, "Subroutine Ma_rand1 V0.3")) return -1.0f;
  Rand1State& s = rand1_state;
  if (idum < 0 || !s.seeded) {
    s.seeded = true;
    s.ix1 = (kC1 - static_cast<std::int64_t>(idum)) % kM1;
    s.ix1 = (kA1 * s.ix1 + kC1) % kM1;
    s.ix2 = s.ix1 % kM2;
    s.ix1 = (kA1 * s.ix1 + kC1) % kM1;
    s.ix3 = s.ix1 % kM3;
    for (float& slot : s.store) {
      s.ix1 = (kA1 * s.ix1 + kC1) % kM1;
      s.ix2 = (kA2 * s.ix2 + kC2) % kM2;
      slot = combine(s.ix1, s.ix2);
    }
    idum = 1;
  }
  s.ix1 = (kA1 * s.ix1 + kC1) % kM1;
  s.ix2 = (kA2 * s.ix2 + kC2) % kM2;
  s.ix3 = (kA3 * s.ix3 + kC3) % kM3;
  // A negative seed leaves negative states (remainders keep the dividend's
  // sign); keep the slot inside the table all the same.
  std::int64_t j = 1 + (97 * s.ix3) / kM3;
  if (j < 1) j += 97;
  if (j > 97) j = 97;
  const float result = s.store[static_cast<std::size_t>(j - 1)];
  s.store[static_cast<std::size_t>(j - 1)] = combine(s.ix1, s.ix2);
  return result;
}

int MA_POISSON(float mean, Status& status) {
  constexpr const char* kPosition = "Function Ma_poisson V0.1";
  if (st_bad(status, kPosition)) return -1;
  if (!(mean >= 0.0f)) {
    st_fail(status, kBaseMath + 21, kPosition);
    return -1;
  }
  if (mean > kMaxMean) mean = kMaxMean;
  if (mean < 30.0f) {
    const float t = std::exp(-mean);
    float p = uniform(status);
    int k = 0;
    while (p > t) {
      p *= uniform(status);
      ++k;
    }
    return status == kStatusGood ? k : -1;
  }
  float n = 0.0f;
  if (mean < 87.0f || mean >= 500.0f) {
    float u1 = uniform(status);
    // ln 0 has no value: a zero draw is replaced by the next one.
    while (u1 <= 0.0f && status == kStatusGood) u1 = uniform(status);
    const float u2 = uniform(status);
    n = std::sqrt(-2.0f * std::log(u1)) * std::cos(6.2831855f * u2);
  } else {
    for (;;) {
      const float u = uniform(status);
      const float v = (2.0f * uniform(status) - 1.0f) * 0.8577639f;
      if (status != kStatusGood) return -1;
      if (u <= 0.0f) continue;
      if (v * v / (4.0f * u * u) <= -std::log(u)) {
        n = v / u;
        break;
      }
    }
  }
  if (status != kStatusGood) return -1;
  const float root = std::sqrt(mean);
  float x;
  if (mean < 500.0f) {
    const float r = root + n / 2.0f;
    x = r * r - 0.33f;
  } else {
    x = mean + root * n;
  }
  const double rounded = std::floor(static_cast<double>(x) + 0.5);
  if (!(rounded > 0.0)) return 0;
  if (rounded > 2147483647.0) return 2147483647;
  return static_cast<int>(rounded);
}

void MA_2DPOISSON(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, float mode, std::span<float> array, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DPOISSON V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status code =
          region_span_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, array.size());
      code != 0) {
    return st_fail(status, code, kPosition);
  }
  if (!(mode < 0.0f)) {
    IO_WRITE("NOT IMPLEMENTED YET", status);
    return;
  }
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* line = array.data() + element(1, y, xmaxdat);
    for (Index x = xstrelm; x <= xendelm; ++x) {
      if (!(line[x - 1] >= 0.0f)) return st_fail(status, kBaseMath + 21, kPosition);
    }
  }
  for (Index y = ystrelm; y <= yendelm; ++y) {
    float* line = array.data() + element(1, y, xmaxdat);
    for (Index x = xstrelm; x <= xendelm; ++x) {
      line[x - 1] = static_cast<float>(MA_POISSON(line[x - 1], status));
    }
  }
}

}  // namespace kesta
