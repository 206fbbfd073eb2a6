#include "app/imageops/value_arithmetic.hpp"

#include <algorithm>
#include <cmath>

#include "app/main/data_store.hpp"
#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/statistics.hpp"
#include "numeric/wide_vectors.hpp"

namespace kesta {
namespace {

struct CaddAnswers {
  float constant = 1.0f;
};
struct CmultAnswers {
  float constant = 2.9f;
};
struct CdivAnswers {
  float constant = 1.0f;
};
struct PowerAnswers {
  float power = 2.0f;
};
struct ThresholdAnswers {
  float minimum = kVerySmall;
  float maximum = kVeryLarge;
};
struct SelectPixelAnswers {
  bool greater = true;
  float decision = 16382.5f;
  bool multiply = true;
  float operand = 0.0f;
};
struct OffsetAnswers {
  bool scale_known = true;
  float scale = 2.9f;
  float separation = 100.0f;
  float lower1 = 100.0f;
  float saturation1 = 840.0f;
  float lower2 = 100.0f;
  float saturation2 = 290.0f;
};

// The region times C, and with variances the variance region times C^2.
void scale_region(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                  Index yendelm, bool variances_exist, float c, std::span<float> data,
                  std::span<float> variances, Status& status) {
  MA_RCMULT(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, c, data, status);
  if (variances_exist)
    MA_RCMULT(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, c * c, variances, status);
}

KztArrays& arrays() { return vosq_kzt_arrays; }

// Asks the real constant PROMPT (one HELP line), offering the one remembered
// in ANSWERS; false after an escape.
template <class Answers>
bool ask_constant(std::string_view prompt, std::string_view help, float& constant,
                  Status& status) {
  constant = remembered<Answers>().constant;
  IO_INPR(false, 0.0f, 0.0f, true, prompt, {std::string(help)}, {"Enter real number"}, constant,
          status);
  return status == kStatusGood;
}

}  // namespace

// The variances of LOGARITHM relative to the squared values, in double and
// held within the float range, times SCALE.
KESTA_WIDE_VECTORS
void kzt_relative_variances_row(const float* d, float* v, Index n, float scale) {
  for (Index i = 0; i < n; ++i) {
    const double x = d[i];
    const double q = x == 0.0 ? 38.0 : double{v[i]} / (x * x);
    v[i] = static_cast<float>(std::clamp(q, -1.7e38, 1.7e38)) * scale;
  }
}

void KZT_CADD(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, std::span<float> data, Status& status) {
  if (kzt_region_refused("Subroutine KZT_CADD V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status, {data.size()}))
    return;
  float constant = 0.0f;
  if (!ask_constant<CaddAnswers>("ADDITION CONSTANT",
                                 "Enter real value to add to active data region", constant, status))
    return;
  remembered<CaddAnswers>().constant = constant;
  if (constant == 0.0f) return;
  MA_RCADD(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, constant, data, status);
}

void KZT_CMULT(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, bool variances_exist, std::span<float> data,
               std::span<float> variances, Status& status) {
  if (kzt_region_refused("Subroutine KZT_CMULT V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status,
                         {data.size(), variances_exist ? variances.size() : data.size()}))
    return;
  float constant = 0.0f;
  if (!ask_constant<CmultAnswers>("MULTIPLICATION CONSTANT",
                                  "Enter real value to multiply the active data region", constant,
                                  status))
    return;
  remembered<CmultAnswers>().constant = constant;
  if (constant == 1.0f) return;
  scale_region(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, variances_exist, constant,
               data, variances, status);
}

void KZT_CDIV(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
              Index yendelm, bool variances_exist, std::span<float> data,
              std::span<float> variances, Status& status) {
  if (kzt_region_refused("Subroutine KZT_CDIV V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status,
                         {data.size(), variances_exist ? variances.size() : data.size()}))
    return;
  float constant = 0.0f;
  if (!ask_constant<CdivAnswers>("DIVISION CONSTANT",
                                 "Enter real value to divide the active data region", constant,
                                 status))
    return;
  if (constant == 0.0f) {
    IO_WRITE("WARNING: Not possible to divide by zero", status);
    return;
  }
  if (constant == 1.0f) return;
  // The reciprocal is offered next time, so accepting it undoes the division.
  const float r = 1.0f / constant;
  remembered<CdivAnswers>().constant = r;
  scale_region(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, variances_exist, r, data,
               variances, status);
}

void KZT_DIVIDE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, bool variances_exist, std::span<const float> mdata,
                std::span<const float> mvariances, std::span<float> data,
                std::span<float> variances, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_DIVIDE V0.1";
  const std::size_t vsize =
      variances_exist ? std::min(variances.size(), mvariances.size()) : data.size();
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status, {data.size(), mdata.size(), vsize}))
    return;
  if (!variances_exist) {
    MA_RDIVIDE(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, mdata, xmaxdat, ymaxdat,
               data, status);
    return;
  }
  // Quotients and propagated variances in one pass; a variance beyond the
  // float range (or undefined by it) is held at 1.7e38.
  Index zeros = 0;
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
    const float* m = mdata.data() + offset;
    const float* mv = mvariances.data() + offset;
    float* q = data.data() + offset;
    float* v = variances.data() + offset;
    Index row_zeros = 0;  // a local count, so that the loop runs in vector steps
    for (Index i = 0; i < n; ++i) {
      const bool by_zero = m[i] == 0.0f;
      row_zeros += by_zero;
      const float divisor = by_zero ? 1.0f : m[i];
      const float quotient = q[i] / divisor;
      const float variance = (quotient * quotient * mv[i] + v[i]) / (divisor * divisor);
      const float held = variance <= kVeryLarge ? variance : kVeryLarge;
      q[i] = by_zero ? kDivideByZero : quotient;
      v[i] = by_zero ? kDivideByZero : held;
    }
    zeros += row_zeros;
  });
  // Divided here, not by the library: the failure is this routine's.
  if (zeros > 0) st_fail(status, kBaseApp + 1003, kPosition);
}

void KZT_LOGARITHM(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, bool variances_exist, std::span<float> data,
                   std::span<float> variances, Status& status) {
  if (kzt_region_refused("Subroutine KZT_LOGARITHM V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status,
                         {data.size(), variances_exist ? variances.size() : data.size()}))
    return;
  // The threshold for log(0) and log(-) is asked before anything changes.
  bool non_positive = false;
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
    const float* d = data.data() + offset;
    int row_has = 0;
    for (Index i = 0; i < n; ++i) row_has |= d[i] <= 1.0e-37f;  // a NaN is neither
    non_positive = non_positive || row_has != 0;
  });
  float threshold = -10.0f;
  if (non_positive) {
    kzt_inpr(gui, false, 0.0f, 0.0f, "LOWER THRESHOLD",
             {"Log(0) or Log(-) has been encountered. Enter value for lower threshold"},
             {"Enter real value"}, threshold, status);
    if (status != kStatusGood) return;
  }
  if (variances_exist) {
    // Without a threshold to apply first, the scaling to the logarithm's
    // variance and the logarithm itself join this pass, row by row.
    const float scale = non_positive ? 1.0f : kLog10VarianceFactor;
    for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
      kzt_relative_variances_row(data.data() + offset, variances.data() + offset, n, scale);
      if (!non_positive) ma_log10_row(data.data() + offset, n);
    });
  }
  if (!variances_exist || non_positive) {
    // Its log(0) code was foreseen (the threshold is applied next): given
    // up, with the position it saved.
    Status log_status = kStatusGood;
    MA_LOGARITHM(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, log_status);
    if (log_status != kStatusGood) st_reset(log_status);
  }
  if (non_positive) {
    MA_THRESHOLD(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, true, false, threshold, 0.0f,
                 data, status);
    if (variances_exist)
      MA_THRESHOLD(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, true, true, 0.0f,
                   std::fabs(threshold), variances, status);
  }
  if (variances_exist && non_positive)
    MA_RCMULT(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kLog10VarianceFactor, variances,
              status);
}

void KZT_NORMALISE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                   Index yendelm, bool variances_exist, std::span<float> data,
                   std::span<float> variances, Status& status) {
  if (kzt_region_refused("Subroutine KZT_NORMALISE V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status,
                         {data.size(), variances_exist ? variances.size() : data.size()}))
    return;
  float maximum = 0.0f;
  MA_RMAX(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, maximum, status);
  if (status != kStatusGood) return;
  if (!(maximum > 1.0e-19f)) {
    // The finite extremes cross only when there is no finite element at all.
    float low = 0.0f, high = 0.0f;
    MA_RMINMAX(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, low, high, status);
    if (status == kStatusGood && low > high) {
      IO_WRITE("WARNING: No finite value was found in ADR to be used for normalisation", status);
      return;
    }
    IO_WRITE("WARNING: The maximum value in ADR is too small (<1.0e-19) or", status);
    IO_WRITE("         negative to be used for normalisation", status);
    IO_WRITE("         Maximum element value = " + format_e(maximum, 12, 5, 1), status);
    return;
  }
  scale_region(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, variances_exist,
               1.0f / maximum, data, variances, status);
}

void KZT_POWER(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, bool /*variances_exist*/, std::span<float> data,
               std::span<float> /*variances*/, Status& status) {
  if (kzt_region_refused("Subroutine KZT_POWER V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status, {data.size()}))
    return;
  PowerAnswers answers = remembered<PowerAnswers>();
  kzt_inpr(gui, false, 0.0f, 0.0f, "ENTER POWER",
           {"Enter power by which data elements are to be exponented"}, {"Enter real number"},
           answers.power, status);
  if (status != kStatusGood) return;
  remembered<PowerAnswers>() = answers;
  int code = 0;
  MA_POWER(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, answers.power, data, code, status);
  if (code & 1) {
    if (gui)
      kzt_warning(
          gui,
          {"ATTEMPT TO TAKE SQUARE ROOT ON ONE OR MORE", "NEGATIVE NUMBERS. VALUES SET TO 0.0"},
          status);
    else
      kzt_warning(gui,
                  {"WARNING: Attempt to take square root on one or more",
                   "         negative numbers. values set to 0.0"},
                  status);
  }
  if (code & 2) {
    if (gui)
      kzt_warning(gui, {"ATTEMPT TO DIVIDE BY ZERO.", "VALUES SET TO 1.7*10**38"}, status);
    else
      kzt_warning(gui, {"WARNING: Attempt to divide by zero.", "         Values set to 1.7e38"},
                  status);
  }
}

void KZT_THRESHOLD(bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                   Index xendelm, Index yendelm, std::span<float> data, Status& status) {
  if (kzt_region_refused("Subroutine KZT_THRESHOLD V0.2", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  ThresholdAnswers answers = remembered<ThresholdAnswers>();
  kzt_inpr(gui, true, kVerySmall, kVeryLarge, "MINIMUM THRESHOLD VALUE",
           {"Values below this value are set to this threshold value"}, {"Enter real value"},
           answers.minimum, status);
  if (status != kStatusGood) return;
  if (answers.maximum < answers.minimum) answers.maximum = answers.minimum + 1.0f;
  kzt_inpr(gui, true, answers.minimum, kVeryLarge, "MAXIMUM THRESHOLD VALUE",
           {"Values above this value are set to this threshold value"},
           {"Must be greater of equal to the lower threshold"}, answers.maximum, status);
  if (status != kStatusGood) return;
  remembered<ThresholdAnswers>() = answers;
  MA_THRESHOLD(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, true, true, answers.minimum,
               answers.maximum, data, status);
}

void KZT_SELECTPIXEL(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                     Index yendelm, std::span<float> data, Status& status) {
  if (kzt_region_refused("Subroutine KZT_SELECTPIXEL V0.4", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  SelectPixelAnswers answers = remembered<SelectPixelAnswers>();
  float overload = 0.0f;
  int retstat = 0;
  IO_INQ_RKEYVALUE("#OVERLOAD_VALUE", overload, retstat, status);
  IO_INPL(false, false, false, true, "GREATER THAN COMPARISON",
          {"\"YES\" if pixels are to be selected by a greater than comparison (exclusive),",
           "\"NO\" if pixels are to be selected by a lesser than comparison (exclusive)."},
          {"Enter \"YES\" or \"NO\""}, answers.greater, status);
  if (status != kStatusGood) return;
  if (answers.greater && retstat == 0) answers.decision = overload;
  IO_INPR(false, 0.0f, 0.0f, true, "DECISION PIXEL VALUE", {"Input pixel value for comparison"},
          {"Enter real number"}, answers.decision, status);
  IO_INPL(false, false, false, true, "MULTIPLICATION (\"NO\" = ADDITION)",
          {"\"YES\" if the pixel values are to be multiplied by a constant, \"NO\" if a",
           "constant is to be added to the selected pixels."},
          {"Enter \"YES\" or \"NO\""}, answers.multiply, status);
  IO_INPR(false, 0.0f, 0.0f, true, "OPERAND VALUE",
          {"Input value to multiply or add to pixel values"}, {"Enter real number"},
          answers.operand, status);
  if (status != kStatusGood) return;
  remembered<SelectPixelAnswers>() = answers;
  const float decision = answers.decision;
  const float operand = answers.operand;
  const bool greater = answers.greater;
  const bool multiply = answers.multiply;
  for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm, [&](Index offset, Index, Index n) {
    float* d = data.data() + offset;
    for (Index i = 0; i < n; ++i) {
      const bool selected = greater ? d[i] > decision : d[i] < decision;
      const float changed = multiply ? d[i] * operand : d[i] + operand;
      d[i] = selected ? changed : d[i];
    }
  });
}

void KZT_OFFSET(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                Index yendelm, std::span<const float> data, std::span<const float> mdata,
                Status& status) {
  if (kzt_region_refused("Subroutine KZT_OFFSET V0.5", xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                         yendelm, status, {data.size(), mdata.size()}))
    return;
  OffsetAnswers answers = remembered<OffsetAnswers>();
  IO_INPL(false, false, false, true, "SCALING KNOWN",
          {"\"YES\" if the scaling between the two images is known"}, {"Enter \"YES\" or \"NO\""},
          answers.scale_known, status);
  if (status != kStatusGood) return;
  if (answers.scale_known)
    IO_INPR(false, 0.0f, 0.0f, true, "SCALE FACTOR",
            {"Enter scale factor (current data divided by memory)"}, {"Enter real number"},
            answers.scale, status);
  else
    IO_INPR(false, 0.0f, 0.0f, true, "SEPARATION LIMIT VALUE",
            {"Value below which lower mean is defined, above upper mean"}, {"Enter real number"},
            answers.separation, status);
  IO_INPR(true, 0.0f, kVeryLarge, true, "FIRST LOWER LIMIT",
          {"Value below which values are not reliable for first image"}, {"Enter real number"},
          answers.lower1, status);
  if (status != kStatusGood) return;
  answers.saturation1 = std::max(answers.saturation1, answers.lower1);
  IO_INPR(true, answers.lower1, kVeryLarge, true, "FIRST SATURATION VALUE",
          {"Value above which values are not reliable for first image"}, {"Enter real number"},
          answers.saturation1, status);
  IO_INPR(true, 0.0f, kVeryLarge, true, "SECOND LOWER LIMIT",
          {"Value below which values are not reliable for second image"}, {"Enter real number"},
          answers.lower2, status);
  if (status != kStatusGood) return;
  answers.saturation2 = std::max(answers.saturation2, answers.lower2);
  IO_INPR(true, answers.lower2, kVeryLarge, true, "SECOND SATURATION VALUE",
          {"Value above which values are not reliable for second image"}, {"Enter real number"},
          answers.saturation2, status);
  if (status != kStatusGood) return;

  // Model: both images share one offset o, and A - o = s (B - o). Only
  // pixels inside all four reliability limits take part.
  auto reliable = [&answers](float a, float b) {
    return a >= answers.lower1 && a <= answers.saturation1 && b >= answers.lower2 &&
           b <= answers.saturation2;
  };
  double s = answers.scale;
  double offset = 0.0;
  if (answers.scale_known) {
    if (s == 1.0) {
      remembered<OffsetAnswers>() = answers;
      IO_WRITE("WARNING: The offset is undefined for a scale factor of 1.0", status);
      return;
    }
    double sum = 0.0;
    Index count = 0;
    for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm,
                    [&](Index offset_of_row, Index, Index n) {
                      const float* a = data.data() + offset_of_row;
                      const float* b = mdata.data() + offset_of_row;
                      for (Index i = 0; i < n; ++i)
                        if (reliable(a[i], b[i])) {
                          sum += double{a[i]} - s * b[i];
                          ++count;
                        }
                    });
    remembered<OffsetAnswers>() = answers;
    if (count == 0) {
      IO_WRITE("WARNING: Range contains no values", status);
      return;
    }
    offset = sum / static_cast<double>(count) / (1.0 - s);
  } else {
    double sum_a[2] = {0.0, 0.0};
    double sum_b[2] = {0.0, 0.0};
    Index count[2] = {0, 0};
    const float v = answers.separation;
    for_region_rows(xmaxdat, xstrelm, ystrelm, xendelm, yendelm,
                    [&](Index offset_of_row, Index, Index n) {
                      const float* a = data.data() + offset_of_row;
                      const float* b = mdata.data() + offset_of_row;
                      for (Index i = 0; i < n; ++i)
                        if (reliable(a[i], b[i])) {
                          const int set = a[i] < v ? 0 : 1;
                          sum_a[set] += a[i];
                          sum_b[set] += b[i];
                          ++count[set];
                        }
                    });
    const double b_low = count[0] > 0 ? sum_b[0] / static_cast<double>(count[0]) : 0.0;
    const double b_high = count[1] > 0 ? sum_b[1] / static_cast<double>(count[1]) : 0.0;
    if (count[0] == 0 || count[1] == 0 || b_high == b_low) {
      remembered<OffsetAnswers>() = answers;
      IO_WRITE("WARNING: Not possible, try different separation value", status);
      return;
    }
    const double a_low = sum_a[0] / static_cast<double>(count[0]);
    const double a_high = sum_a[1] / static_cast<double>(count[1]);
    s = (a_low - a_high) / (b_low - b_high);
    answers.scale = static_cast<float>(s);
    remembered<OffsetAnswers>() = answers;
    IO_WRITE("INFO: Scaling factor = " + format_g(s, 14, 5), status);
    if (s == 1.0) {
      IO_WRITE("WARNING: The offset is undefined for a scale factor of 1.0", status);
      return;
    }
    offset = (a_high - s * b_high) / (1.0 - s);
    IO_WRITE("INFO: Offset = " + format_g(offset, 14, 5), status);
    return;
  }
  IO_WRITE("INFO: Scaling factor = " + format_g(s, 14, 5), status);
  IO_WRITE("INFO: Offset = " + format_g(offset, 14, 5), status);
}

// Keyboard branches: the program arrays and the active data region.

void kzt_command_cadd(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_CADD(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_image(a.data),
           status);
}

void kzt_command_cmultiply(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_CMULT(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.variances_exist,
            kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_command_cdivide(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_CDIV(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.variances_exist,
           kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_command_divide(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_DIVIDE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, sets.variances_exist,
             kzt_image(a.mdata), kzt_image(a.mvariances), kzt_image(a.data), kzt_image(a.variances),
             status);
}

void kzt_command_logarithm(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_LOGARITHM(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_command_normalise(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_NORMALISE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_command_power(KztDataSets& sets, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_POWER(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
            sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), status);
}

void kzt_command_threshold(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_THRESHOLD(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                kzt_image(a.data), status);
}

void kzt_command_selectpixel(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_SELECTPIXEL(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                  kzt_image(a.data), status);
}

void kzt_command_offset(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = arrays();
  KZT_OFFSET(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, kzt_image(a.data),
             kzt_image(a.mdata), status);
}

}  // namespace kesta
