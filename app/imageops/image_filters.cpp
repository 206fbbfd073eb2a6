#include "app/imageops/image_filters.hpp"

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/main/data_store.hpp"
#include "app/main/kzt_common.hpp"
#include "core/format.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "numeric/convolution.hpp"
#include "numeric/filters.hpp"

namespace kesta {
namespace {

struct MedianAnswers {
  int xsize = 3;
  int ysize = 3;
};

struct BlurAnswers {
  int xsize = 2;
  int ysize = 2;
};

struct SpatialAnswers {
  bool low_pass = true;
  int type = 3;
  SpatialKernel kernel = kzt_spatial_kernel(true, 3);
};

// A prompt limit of at most INT_MAX.
int prompt_limit(Index value) { return static_cast<int>(std::clamp<Index>(value, 1, INT_MAX)); }

// Number of elements of a box of SIZE about each element of START..END,
// reaching (SIZE - 1) / 2 before and SIZE / 2 after, clipped to the range.
std::vector<double> clipped_counts(Index start, Index end, Index size) {
  std::vector<double> counts(static_cast<std::size_t>(end - start + 1));
  for (Index i = start; i <= end; ++i)
    counts[static_cast<std::size_t>(i - start)] =
        static_cast<double>(std::min(i + size / 2, end) - std::max(i - (size - 1) / 2, start) + 1);
  return counts;
}

}  // namespace

SpatialKernel kzt_spatial_kernel(bool low_pass, int type) {
  struct Weights {
    float centre, edge, corner;
  };
  static constexpr Weights kLow[] = {
      {0.25f, 0.125f, 0.0625f}, {0.2f, 0.1f, 0.1f}, {0.11111111f, 0.11111111f, 0.11111111f}};
  static constexpr Weights kHigh[] = {
      {5.0f, -2.0f, 1.0f}, {2.7142856f, -0.2857143f, -0.14285715f}, {5.0f, -1.0f, 0.0f}};
  const Weights* table = low_pass ? kLow : kHigh;
  const Weights& w = table[std::clamp(type, 1, 3) - 1];
  return {w.corner, w.edge, w.corner, w.edge, w.centre, w.edge, w.corner, w.edge, w.corner};
}

void KZT_MEDIANFILTER([[maybe_unused]] bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm,
                      Index ystrelm, Index xendelm, Index yendelm, std::span<const float> data,
                      std::span<float> mdata, Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_MEDIANFILTER V0.3";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return;
  MedianAnswers answers = remembered<MedianAnswers>();
  const int xlimit = prompt_limit(xendelm - xstrelm + 1);
  const int ylimit = prompt_limit(yendelm - ystrelm + 1);
  answers.xsize = std::clamp(answers.xsize, 1, xlimit);
  answers.ysize = std::clamp(answers.ysize, 1, ylimit);
  IO_INPI(true, 1, xlimit, true, "MEDIAN FILTER X-SIZE", {"Size of filter window in X-direction"},
          {"Enter integer within given range"}, answers.xsize, status);
  IO_INPI(true, 1, ylimit, true, "MEDIAN FILTER Y-SIZE", {"Size of filter window in Y-direction"},
          {"Enter integer within given range"}, answers.ysize, status);
  if (status != kStatusGood) return;
  remembered<MedianAnswers>() = answers;

  const Index window = static_cast<Index>(answers.xsize) * answers.ysize;
  std::vector<float> column, sorted;
  std::vector<Index> source;
  try {
    column.resize(static_cast<std::size_t>(answers.ysize));
    sorted.resize(static_cast<std::size_t>(window));
    source.resize(static_cast<std::size_t>(window));
  } catch (const std::bad_alloc&) {
    st_fail(status, 11002, kPosition);
    return;
  }
  MA_MEDFILTER(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, answers.xsize,
               answers.ysize, window, answers.ysize, xmaxdat, ymaxdat, column, sorted, source,
               mdata, status);
}

void KZT_BLUR([[maybe_unused]] bool gui, Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
              Index xendelm, Index yendelm, bool variances_exist, std::span<const float> data,
              std::span<const float> variances, std::span<float> mdata, std::span<float> mvariances,
              Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_BLUR V0.3";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return;
  if (variances_exist && kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                                            yendelm, status, {variances.size(), mvariances.size()}))
    return;
  BlurAnswers answers = remembered<BlurAnswers>();
  const int xlimit = prompt_limit(xmaxdat);
  const int ylimit = prompt_limit(ymaxdat);
  answers.xsize = std::clamp(answers.xsize, 1, xlimit);
  answers.ysize = std::clamp(answers.ysize, 1, ylimit);
  IO_INPI(true, 1, xlimit, true, "X BLUR SIZE", {"Number of pixels in \"top-hat\" in X-direction"},
          {"Number of pixels must be postive"}, answers.xsize, status);
  IO_INPI(true, 1, ylimit, true, "Y BLUR SIZE", {"Number of pixels in \"top-hat\" in Y-direction"},
          {"Number of pixels must be postive"}, answers.ysize, status);
  if (status != kStatusGood) return;
  remembered<BlurAnswers>() = answers;

  MA_TOPHATCON(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, answers.xsize,
               answers.ysize, true, xmaxdat, ymaxdat, mdata, status);
  if (!variances_exist || status != kStatusGood) return;
  // The box mean of the variances, divided once more by the number of
  // pixels averaged, which is smaller in the boxes clipped at the edges.
  MA_TOPHATCON(xmaxdat, ymaxdat, variances, xstrelm, ystrelm, xendelm, yendelm, answers.xsize,
               answers.ysize, true, xmaxdat, ymaxdat, mvariances, status);
  if (status != kStatusGood) return;
  // 1 / count per column once; each row then costs one multiply a pixel.
  const std::vector<double> xcounts = clipped_counts(xstrelm, xendelm, answers.xsize);
  const std::vector<double> ycounts = clipped_counts(ystrelm, yendelm, answers.ysize);
  std::vector<float> xinverse(xcounts.size());
  for (std::size_t i = 0; i < xinverse.size(); ++i)
    xinverse[i] = static_cast<float>(1.0 / xcounts[i]);
  const std::size_t width = xinverse.size();
  for (Index y = ystrelm; y <= yendelm; ++y) {
    const float yinverse = static_cast<float>(1.0 / ycounts[static_cast<std::size_t>(y - ystrelm)]);
    float* row = mvariances.data() + element(xstrelm, y, xmaxdat);
    const float* inverse = xinverse.data();
    for (std::size_t i = 0; i < width; ++i) row[i] *= inverse[i] * yinverse;
  }
}

void KZT_SPATIALFILTER(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                       Index yendelm, std::span<const float> data, std::span<float> mdata,
                       Status& status) {
  constexpr std::string_view kPosition = "Subroutine KZT_SPATIALFILTER V0.2";
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size(), mdata.size()}))
    return;
  SpatialAnswers answers = remembered<SpatialAnswers>();
  IO_INPL(false, false, false, true, "LOW-PASS FILTER",
          {"\"YES\" for low-pass filtering, \"NO\" for high-pass filtering"},
          {"Enter \"YES\" or \"NO\""}, answers.low_pass, status);
  IO_INPI(true, 1, 4, true, "FILTER TYPE",
          {"Type 1 filters the least, type 3 the most: (4 =user defined)"},
          {"Enter integer within given range"}, answers.type, status);
  if (status != kStatusGood) return;
  if (answers.type <= 3) {
    answers.kernel = kzt_spatial_kernel(answers.low_pass, answers.type);
  } else {
    for (int y = 1; y <= 3; ++y)
      for (int x = 1; x <= 3; ++x) {
        const std::string indices = format_i(x, 2) + format_i(y, 2);
        IO_INPR(false, 0.0f, 0.0f, true, "ENTER COEFFICIENT " + indices,
                {"Enter value of convolution coefficient " + indices}, {"Enter real value"},
                answers.kernel[static_cast<std::size_t>((x - 1) + 3 * (y - 1))], status);
      }
    if (status != kStatusGood) return;
  }
  remembered<SpatialAnswers>() = answers;
  MA_SCONVOLUTION(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, 3, 3, 3, 3,
                  answers.kernel, xmaxdat, ymaxdat, mdata, status);
}

namespace {

// The memory result of a filter over the active data region.
void describe_result(KztDataSets& sets, std::string& next, Status& status) {
  if (status != kStatusGood) return;
  kzt_memory_result(sets, status);
  next = "EXCHANGE";
}

}  // namespace

void kzt_medianfilter_command(KztDataSets& sets, std::string& next, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  KZT_MEDIANFILTER(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                   kzt_image(a.data), kzt_image(a.mdata), status);
  describe_result(sets, next, status);
}

void kzt_blur_command(KztDataSets& sets, std::string& next, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  KZT_BLUR(false, a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
           sets.variances_exist, kzt_image(a.data), kzt_image(a.variances), kzt_image(a.mdata),
           kzt_image(a.mvariances), status);
  describe_result(sets, next, status);
}

void kzt_spatialfilter_command(KztDataSets& sets, std::string& next, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  KZT_SPATIALFILTER(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
                    kzt_image(a.data), kzt_image(a.mdata), status);
  describe_result(sets, next, status);
}

}  // namespace kesta
