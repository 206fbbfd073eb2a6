#include "app/imageops/surface_interpolation.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/main/data_store.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"
#include "numeric/splines.hpp"

namespace kesta {
namespace {

constexpr int kMaxPoints = 500;

struct SurfaceAnswers {
  float closeness = 100.0f;
};

}  // namespace

bool kzt_surface_sample(Index xmaxdat, Index xendelm, Index yendelm, std::span<const float> data,
                        float px, float py, float& value) {
  if (!std::isfinite(px) || !std::isfinite(py)) return false;
  // Far-off coordinates are clamped before the conversion to whole pixels.
  const auto first = [](float p, Index end) {
    return static_cast<Index>(std::clamp(p, -4.0f, static_cast<float>(end) + 4.0f));
  };
  const Index i = first(px, xendelm), j = first(py, yendelm);
  const Index x0 = std::max<Index>(i, 1), x1 = std::min<Index>(i + 2, xendelm);
  const Index y0 = std::max<Index>(j, 1), y1 = std::min<Index>(j + 2, yendelm);
  if (x0 > x1 || y0 > y1) return false;
  double sum = 0.0;
  for (Index y = y0; y <= y1; ++y)
    for (Index x = x0; x <= x1; ++x) sum += data[static_cast<std::size_t>(element(x, y, xmaxdat))];
  value = static_cast<float>(sum / static_cast<double>((x1 - x0 + 1) * (y1 - y0 + 1)));
  return true;
}

void KZT_SURFACE(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> data, std::span<const float> xaxis,
                 std::span<const float> yaxis, std::string_view title, std::string_view xlabel,
                 std::string_view ylabel, std::string_view zlabel, bool& memory_defined,
                 std::span<float> mdata, Status& status) {
  constexpr const char* kPosition = "Subroutine KZT_SURFACE V0.1";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return;
  if (std::ssize(xaxis) < xmaxdat || std::ssize(yaxis) < ymaxdat)
    return st_fail(status, kBaseApp + 1, kPosition);
  for (const char* line : {" ", "NOTE: The surface fitting method has been changed since Version 8.*",
                           "      (Previously polynomials were used, and now bi-cubic splines are",
                           "      used. Please examine results carefully.)", " "})
    IO_WRITE(line, status);
  GS_2DIMAGE(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, title,
             xlabel, ylabel, zlabel, status);
  gs_say_control(GsControlMove::kPassed, status);
  std::vector<float> x(kMaxPoints), y(kMaxPoints);
  int num = 0;
  GS_INPS_FCOORDINATES(false,
                       kzt_displayed_image(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                                           data, {}, xaxis, yaxis, title, xlabel, ylabel, zlabel),
                       "CLICK ON COORDINATES, DEFINING THE SURFACE", 1,
                       {"Click on X/Y coordinates, defining the surface"}, false, kMaxPoints, num,
                       x, y, status);
  if (status != kStatusGood) return;
  GS_FPROMPT(1, 1, {"CONTROL RETURNED TO TERMINAL WINDOW"}, status);

  // The samples; the fit works in data coordinates.
  std::vector<float> z;
  std::size_t kept = 0;
  for (std::size_t k = 0; k < static_cast<std::size_t>(num); ++k) {
    float px = 0.0f, py = 0.0f, value = 0.0f;
    MA_DC2PIXC(xmaxdat, xendelm, xaxis, x[k], px, status);
    MA_DC2PIXC(ymaxdat, yendelm, yaxis, y[k], py, status);
    if (status != kStatusGood) return;
    if (!kzt_surface_sample(xmaxdat, xendelm, yendelm, data, px, py, value)) {
      IO_WRITE("WARNING: Point outside the data ignored: " + format_g(x[k], 14, 7) + ", " +
                   format_g(y[k], 14, 7),
               status);
      continue;
    }
    x[kept] = x[k];
    y[kept] = y[k];
    z.push_back(value);
    ++kept;
  }

  SurfaceAnswers answers = remembered<SurfaceAnswers>();
  IO_INPR(true, 0.0f, 1.7e38f, true, "RMS CLOSENESS OF FIT",
          {"Enter required maximum RMS discrepancy between data and fit"}, {"Enter real number"},
          answers.closeness, status);
  if (status != kStatusGood) return;
  remembered<SurfaceAnswers>() = answers;
  const Index points = std::ssize(z);
  if (points < 1) {
    IO_WRITE("WARNING: No points defining the surface; the memory is unchanged", status);
    return;
  }
  std::vector<float> weights(z.size());
  int failed = 1;
  float fp = 0.0f;
  MA_SINTERPOLATE(0, false, answers.closeness, points, points, std::span(x).first(kept),
                  std::span(y).first(kept), z, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                  yendelm, xaxis, yaxis, weights, failed, fp, mdata, status);
  if (status != kStatusGood || failed != 0) return;
  memory_defined = true;
  IO_WRITE("INFO: Achieved RMS closeness of fit = " +
               format_g(std::sqrt(static_cast<double>(fp) / static_cast<double>(points)), 14, 7),
           status);
}

void kzt_command_surface(KztDataSets& sets, std::string& next, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  bool stored = false;
  KZT_SURFACE(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
              kzt_image(a.data), kzt_xline(a.xaxis), kzt_yline(a.yaxis), sets.title, sets.xlabel,
              sets.ylabel, sets.zlabel, stored, kzt_image(a.mdata), status);
  if (!stored || status != kStatusGood) return;
  kzt_memory_result(sets, status);
  sets.mtitle = "INTERPOLATED SURFACE";
  next = "EXCHANGE";
}

}  // namespace kesta
