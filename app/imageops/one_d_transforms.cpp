#include "app/imageops/one_d_transforms.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/profiles1d.hpp"

namespace kesta {
namespace {

struct RescaleAnswers {
  float reference = 1.0f;
  float scaling = 100.0f;
  float value = 1.02f;
};

// V to the integer power P; a result too large for the data (a zero to a
// negative power) is held at 1.7e38. A value that is not finite is no
// number to clip: it keeps the IEEE result (NaN stays NaN).
double power(double v, int p) {
  const double r = p == 0 ? 1.0 : std::pow(v, p);
  if (!std::isfinite(v)) return r;
  if (!std::isfinite(r) || std::abs(r) > 1.7e38) return std::signbit(r) ? -1.7e38 : 1.7e38;
  return r;
}

}  // namespace

void kzt_1d_transform(const OneDTransform& t, std::span<float> q, std::span<float> intensity) {
  for (std::size_t k = 0; k < q.size() && k < intensity.size(); ++k) {
    const double qk = q[k];
    double y = power(intensity[k], t.a) * power(qk, t.b);
    if (t.log_i) y = y <= 1.0e-30 ? -30.0 : std::log10(y);
    double x = power(qk, t.c);
    if (t.log_x) x = x <= 1.0e-10 ? -10.0 : std::log10(x);
    const bool value = std::isfinite(intensity[k]) && std::isfinite(qk);
    intensity[k] = static_cast<float>(value ? std::clamp(y, -1.7e38, 1.7e38) : y);
    q[k] = static_cast<float>(x);
  }
}

bool KZT_1DTRANSFORMS(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<float> xaxis, std::span<float> data,
                      Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_1DTRANSFORMS V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return false;
  if (std::ssize(xaxis) < xmaxdat) {
    st_fail(status, kBaseApp + 1, kPosition);
    return false;
  }
  if (ystrelm != yendelm) {
    gs_refusal({"THE DATA IS NOT 1-D !"}, status);
    return false;
  }
  OneDTransform& kept = remembered<OneDTransform>();
  std::vector<GsFormItem> items(5);
  auto integer = [](GsFormItem& item, const char* label, const char* description,
                    const char* prompt, int value) {
    item.label = label;
    item.type = 1;
    item.description = description;
    item.prompt = prompt;
    item.int_value = value;
  };
  auto logical = [](GsFormItem& item, const char* label, const char* description,
                    const char* prompt, bool value) {
    item.label = label;
    item.type = 2;
    item.description = description;
    item.prompt = prompt;
    item.logical_value = value;
  };
  integer(items[0], "Coeff. a", "a: POWER OF INTENSITIES",
          "Integer power a of I(q)**a for transformation", kept.a);
  integer(items[1], "Coeff. b", "b: POWER OF Q MULTIPLIED BY I(q)",
          "Integer power b of q**b multiplying I(q)**a", kept.b);
  logical(items[2], "LOG I", "TAKE LOG OF I(q)**a * q**b",
          "\"YES\" to take Log of transformed intensities", kept.log_i);
  integer(items[3], "Coeff. c", "c: POWER OF Q", "Integer power c of q**c for the X-axis", kept.c);
  logical(items[4], "LOG X", "TAKE LOG OF q**c",
          "\"YES\" to take Log of transformed q values for the X-axis", kept.log_x);
  int return_code = 0;
  GS_FORM(3, 3,
          {"CONTROL OF TRANSFORMATION TO INTENSITY", "VERSUS Q SPACE SCAN, OF THE FORM:",
           "[Log] I(q)**a * q**b versus [Log]q**c"},
          2, 2,
          {"The intensities become I(q)**a * q**b (its Log with LOG I), the",
           "X-axis q**c (its Log with LOG X); integer powers a, b and c."},
          10, items, return_code, status);
  if (status != kStatusGood) return false;
  if (return_code != 0) {
    status = kStatusEscape;
    return false;
  }
  const OneDTransform t{items[0].int_value, items[1].int_value, items[3].int_value,
                        items[2].logical_value, items[4].logical_value};
  kept = t;
  const Index n = xendelm - xstrelm + 1;
  kzt_1d_transform(t, xaxis.subspan(static_cast<std::size_t>(xstrelm - 1), n),
                   data.subspan(static_cast<std::size_t>(element(xstrelm, ystrelm, xmaxdat)), n));
  return true;
}

void KZT_1DINTERPOLATE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, std::span<const float> xaxis, std::span<const float>,
                       std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_1DINTERPOLATE V0.1";
  if (st_bad(status, kPosition)) return;
  if (xmaxdat >= 1 && ymaxdat >= 1 && ystrelm != yendelm)
    return st_fail(status, kBaseApp + 17, kPosition);
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (std::ssize(xaxis) < xendelm) return st_fail(status, kBaseApp + 5, kPosition);
  static const std::string kHelp[] = {
      "Enter the relative scaling to apply at the entered scaling coordinate.",
      "This is relative to 1.0 at the reference coordinate.e.g. If you want",
      "to increase values linearly between coordinates x=1 and x = 100, such",
      "that at x=100 the value is multiplied by 1.1, (and 1.0 at x=1, by a",
      "linearly proportional value inbetween) You should enter: 1, 100, 1.1",
      "to the three prompts."};
  RescaleAnswers answers = remembered<RescaleAnswers>();
  IO_INPR(false, 0.0f, 0.0f, true, "REFERENCE X-COORDINATE", kHelp, {"Enter real number"},
          answers.reference, status);
  IO_INPR(false, 0.0f, 0.0f, true, "SCALING POINT X-COORDINATE", kHelp, {"Enter real number"},
          answers.scaling, status);
  IO_INPR(false, 0.0f, 0.0f, true, "RELATIVE SCALING VALUE AT SCALING COORDINATE", kHelp,
          {"Enter real number"}, answers.value, status);
  if (status != kStatusGood) return;
  remembered<RescaleAnswers>() = answers;
  if (answers.reference == answers.scaling) {
    IO_WRITE("WARNING: The reference and scaling coordinates must differ: data unchanged",
             status);
    return;
  }
  MA_1DINTERCORR(xmaxdat, xstrelm, xendelm, answers.reference, answers.scaling, answers.value,
                 xaxis, data.subspan(static_cast<std::size_t>(element(1, ystrelm, xmaxdat)),
                                     static_cast<std::size_t>(xmaxdat)),
                 status);
}

void kzt_command_1dinterpolate(KztDataSets&, std::string&, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  // The correction runs along one row: an image is refused before anything
  // is asked, as by the other 1-D transforms, not by a STATUS error. A
  // keyboard command: the line at the terminal is all, no box in the window
  // waits for a click while the terminal's next lines queue behind it.
  if (a.ystrelm != a.yendelm) {
    IO_WRITE("WARNING: THE DATA IS NOT 1-D !", status);
    return;
  }
  io_write_lines({"WARNING: This option has been added as a quick fix. In the future it",
                  "         will be thought out more properly and the user questions and",
                  "         the action will change."},
                 status);
  KZT_1DINTERPOLATE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                    kzt_xline(a.xaxis), kzt_yline(a.yaxis), kzt_image(a.data), status);
}

}  // namespace kesta
