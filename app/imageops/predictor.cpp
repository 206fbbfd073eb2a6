#include "app/imageops/predictor.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

struct PredictorAnswers {
  int choice = 1;
  int iterations = 4;
};

using Whole = std::int64_t;
using Rounded = std::int32_t;

// Nearest whole number, halves away from zero; values beyond the 32-bit range
// are held at its ends (NaN at 0), so every sum below stays exact. Worked in
// float lanes without branches, so that a row converts in vector steps: the
// part dropped by truncation is exact, and decides the step away from zero.
inline Rounded nint(float value) {
  constexpr float kEdge = 2147483648.0f;                                // 2^31
  const float inside = value < kEdge && value > -kEdge ? value : 0.0f;  // NaN too
  const Rounded whole = static_cast<Rounded>(inside);
  const float part = inside - static_cast<float>(whole);
  const Rounded nearest = whole + (part >= 0.5f ? 1 : 0) - (part <= -0.5f ? 1 : 0);
  return value >= kEdge ? 2147483647 : value <= -kEdge ? -2147483647 : nearest;
}

// Difference of two rounded values, exact in double.
inline float difference(Rounded x, Rounded a) {
  return static_cast<float>(static_cast<double>(x) - static_cast<double>(a));
}

// The residual of an interior pixel x with neighbours a (left), b (below),
// c (below-left) and d (below-right), in the whole-number type W; Int()
// truncates toward zero, as C++'s integer division does.
template <int Choice, typename W>
inline W residual(W x, W a, W b, W c, W d) {
  if constexpr (Choice == 1) return x - a;
  if constexpr (Choice == 2) return x - (a + b) / 2;
  if constexpr (Choice == 3) return x - (a + b + c) / 3;
  if constexpr (Choice == 4) return x - (a + b + c + d) / 4;
  if constexpr (Choice == 5) return x - (a + b - c);
  if constexpr (Choice == 6) return x - (3 * a + 3 * b - 2 * c) / 4;
  if constexpr (Choice == 7) return x - (2 * a + 2 * b - c) / 3;
  if constexpr (Choice == 9) return x - (a + b + 1) / 2;
  if constexpr (Choice == 10) return x - (a + b + c + 1) / 3;
  if constexpr (Choice == 11) return x - (a + b + c + d + 1) / 4;
  return 0;
}

// Rounded values up to this size keep every sum and residual above within 32
// bits (at most 8 times the size plus one, and the pixel's own value), so
// those rows run in 32-bit vector steps; larger values take 64 bits.
constexpr Rounded kNarrowLimit = Rounded{1} << 27;

// One row after the first: CUR the rounded row, PREV the one below.
template <int Choice>
void predict_row(const Rounded* cur, const Rounded* prev, Index width, bool narrow, float* out) {
  constexpr bool kUsesD = Choice == 4 || Choice == 11;
  // d lies one column right of the first pixel; a one-pixel-wide region has
  // none, and uses the pixel below alone.
  out[0] = kUsesD && width > 1 ? static_cast<float>(cur[0] - (Whole{prev[0]} + prev[1]) / 2)
                               : difference(cur[0], prev[0]);
  const Index last = kUsesD ? width - 1 : width;
  if constexpr (Choice == 1) {
    if (narrow)
      for (Index i = 1; i < last; ++i) out[i] = static_cast<float>(cur[i] - cur[i - 1]);
    else
      for (Index i = 1; i < last; ++i) out[i] = difference(cur[i], cur[i - 1]);
  } else if (narrow) {
    for (Index i = 1; i < last; ++i)
      out[i] = static_cast<float>(residual<Choice, Rounded>(cur[i], cur[i - 1], prev[i],
                                                            prev[i - 1], kUsesD ? prev[i + 1] : 0));
  } else {
    for (Index i = 1; i < last; ++i)
      out[i] = static_cast<float>(residual<Choice, Whole>(cur[i], cur[i - 1], prev[i], prev[i - 1],
                                                          kUsesD ? prev[i + 1] : 0));
  }
  if (kUsesD && width > 1) {
    const Index i = width - 1;
    const Whole sum = Whole{cur[i - 1]} + prev[i] + prev[i - 1] + (Choice == 11 ? 1 : 0);
    out[i] = static_cast<float>(cur[i] - sum / 3);
  }
}

template <int Choice>
void predict_rows(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                  std::span<const float> data, std::span<float> mdata) {
  const Index width = xendelm - xstrelm + 1;
  std::vector<Rounded> prev(static_cast<std::size_t>(width)), cur(prev.size());
  bool prev_narrow = true;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float* in = data.data() + element(xstrelm, y, xmaxdat);
    float* out = mdata.data() + element(xstrelm, y, xmaxdat);
    for (Index i = 0; i < width; ++i) cur[static_cast<std::size_t>(i)] = nint(in[i]);
    int wide = 0;
    for (const Rounded r : cur) wide |= (r > kNarrowLimit) | (r < -kNarrowLimit);
    if (y == ystrelm) {
      out[0] = in[0];  // the first pixel is kept as it is
      for (Index i = 1; i < width; ++i)
        out[i] = difference(cur[static_cast<std::size_t>(i)], cur[static_cast<std::size_t>(i - 1)]);
    } else {
      predict_row<Choice>(cur.data(), prev.data(), width, prev_narrow && wide == 0, out);
    }
    prev_narrow = wide == 0;
    std::swap(prev, cur);
  }
}

// Pair (P, Q) becomes (Int((P + Q) / 2), P - Q).
inline void pair(float& first, float& second) {
  const Whole p = nint(first), q = nint(second);
  second = static_cast<float>(p - q);
  first = static_cast<float>((p + q) / 2);
}

void pyramid(int iterations, Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm,
             Index yendelm, std::span<const float> data, std::span<float> mdata) {
  for (Index y = ystrelm; y <= yendelm; ++y)
    std::copy_n(data.data() + element(xstrelm, y, xmaxdat), xendelm - xstrelm + 1,
                mdata.data() + element(xstrelm, y, xmaxdat));
  auto at = [&](Index x, Index y) -> float& { return mdata[element(x, y, xmaxdat)]; };
  Index sx = 1, sy = 1;
  for (int n = 1; n <= iterations; ++n) {
    if (n % 2 == 1) {
      for (Index y = ystrelm; y <= yendelm; y += sy)
        for (Index x = xstrelm; x + sx <= xendelm; x += 2 * sx) pair(at(x, y), at(x + sx, y));
    } else {
      // Pairs are independent: taken row by row, the memory is read in order.
      for (Index y = ystrelm; y + sy <= yendelm; y += 2 * sy)
        for (Index x = xstrelm; x <= xendelm; x += sx) pair(at(x, y), at(x, y + sy));
      sx *= 2;
      sy *= 2;
    }
  }
  if (iterations % 2 == 1) sx *= 2;
  // The coarse values as differences, in row order, the first against 0.
  Whole previous = 0;
  for (Index y = ystrelm; y <= yendelm; y += sy)
    for (Index x = xstrelm; x <= xendelm; x += sx) {
      const Whole value = nint(at(x, y));
      at(x, y) = static_cast<float>(value - previous);
      previous = value;
    }
}

}  // namespace

void kzt_predict(int choice, int iterations, Index xmaxdat, Index xstrelm, Index ystrelm,
                 Index xendelm, Index yendelm, std::span<const float> data,
                 std::span<float> mdata) {
  const auto rows = [&](auto run) {
    run(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mdata);
  };
  switch (choice) {
    case 1:
      return rows(predict_rows<1>);
    case 2:
      return rows(predict_rows<2>);
    case 3:
      return rows(predict_rows<3>);
    case 4:
      return rows(predict_rows<4>);
    case 5:
      return rows(predict_rows<5>);
    case 6:
      return rows(predict_rows<6>);
    case 7:
      return rows(predict_rows<7>);
    case 9:
      return rows(predict_rows<9>);
    case 10:
      return rows(predict_rows<10>);
    case 11:
      return rows(predict_rows<11>);
    default:
      return pyramid(iterations, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data, mdata);
  }
}

void KZT_PREDICTOR(bool, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                   std::span<const float> data, Index& mxstrelm, Index& mystrelm, Index& mxendelm,
                   Index& myendelm, std::span<float> mxaxis, std::span<float> myaxis,
                   std::span<float> mdata, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_PREDICTOR V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return;
  if (!array_holds(xaxis.size(), xendelm, 1) || !array_holds(mxaxis.size(), xendelm, 1) ||
      !array_holds(yaxis.size(), yendelm, 1) || !array_holds(myaxis.size(), yendelm, 1))
    return st_fail(status, kBaseApp + 1, kPosition);
  PredictorAnswers answers = remembered<PredictorAnswers>();
  IO_INPI(true, 1, 11, true, "PREDICTOR ALGORITHM TO APPLY",
          {"Enter choice of predictor algorithm:",
           "",
           "If x is the current pixel, and a, b,c, d are the \"previous\"",
           "pixels as shown:",
           "",
           "           a x",
           "           c b d",
           "",
           "         1: predictor = x - a",
           "         2: predictor  = x - Int ( (a + b) / 2)",
           "         3: predictor  = x - Int ( (a + b + c) / 3)",
           "         4: predictor  = x - Int ( (a + b + c + d) / 4)",
           "         5: predictor  = x - ( (a + b - c)",
           "         6: predictor  = x - Int ( (3a + 3b - 2c) / 4)",
           "         7: predictor  = x - Int ( (2a + 2b - c) / 3)",
           "         8: For pairs of values a and b, replace with a' = "
           "Int((a+b)/2)",
           "            and b' = a - b (this is reversable)",
           "            This is applied alternately horizontallly and vertically "
           "to",
           "            a specified level, then the series of a' values are stored",
           "            as a simple previous value differential",
           "         9: predictor  = x - Int ( (a + b + 1) / 2)",
           "        10: predictor  = x - Int ( (a + b + c + 1) / 3)",
           "        11: predictor  = x - Int ( (a + b + c + d + 1) / 4)",
           "",
           "(All in integer arithmetic)"},
          {"Enter integer value within given range"}, answers.choice, status);
  if (answers.choice == kPyramidPredictor)
    IO_INPI(true, 1, 12, true, "NUMBER OF AVERAGING ITERATIONS",
            {"Enter number of times pairs of pixels should be replace with rounded",
             "mean and differences"},
            {"Enter integer value within given range"}, answers.iterations, status);
  if (status == kStatusEscape) {
    st_reset(status);
    return;
  }
  if (status != kStatusGood) return;
  remembered<PredictorAnswers>() = answers;
  kzt_predict(answers.choice, answers.iterations, xmaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
              mdata);
  std::copy_n(xaxis.begin(), xendelm, mxaxis.begin());
  std::copy_n(yaxis.begin(), yendelm, myaxis.begin());
  mxstrelm = xstrelm;
  mystrelm = ystrelm;
  mxendelm = xendelm;
  myendelm = yendelm;
}

void kzt_command_predictor(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  Index mxstrelm = 0, mystrelm = 0, mxendelm = 0, myendelm = 0;
  KZT_PREDICTOR(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), mxstrelm, mystrelm,
                mxendelm, myendelm, kzt_xline(a.mxaxis), kzt_yline(a.myaxis), kzt_image(a.mdata),
                status);
  // An escape leaves the memory alone (the region ends stay 0).
  if (status != kStatusGood || mxendelm == 0) return;
  // The memory's extent reaches the region's end, so the region lies inside it.
  kzt_memory_result(sets, status);
}

}  // namespace kesta
