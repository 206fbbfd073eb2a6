#include "formats/read_image.hpp"

#include <algorithm>
#include <new>

#include "core/region.hpp"
#include "core/status.hpp"

namespace kesta {

bool ReadImage::resize(Index nx, Index ny) {
  Index n = 0;
  if (nx < 0 || ny < 0 || !checked_product(nx, ny, n)) return false;
  try {
    data.assign(static_cast<std::size_t>(n), 0.0f);
  } catch (const std::bad_alloc&) {
    return false;
  }
  xnum = nx;
  ynum = ny;
  return true;
}

void read_image_commit(const ReadImage& image, Index xmaxdat, bool variances_exist,
                       Index& xnumdat, Index& ynumdat, std::span<float> xaxis,
                       std::span<float> yaxis, std::span<float> data, std::span<float> variances,
                       std::string& title, std::string& xlabel, std::string& ylabel,
                       std::string& zlabel) {
  const auto nx = static_cast<std::size_t>(image.xnum);
  for (Index y = 1; y <= image.ynum; ++y) {
    const auto from = image.data.begin() + static_cast<std::ptrdiff_t>((y - 1) * image.xnum);
    const auto to = static_cast<std::ptrdiff_t>(element(1, y, xmaxdat));
    std::copy_n(from, nx, data.begin() + to);
    if (variances_exist) std::copy_n(from, nx, variances.begin() + to);
  }
  for (Index i = 0; i < image.xnum; ++i) xaxis[static_cast<std::size_t>(i)] = i + 0.5f;
  for (Index j = 0; j < image.ynum; ++j) yaxis[static_cast<std::size_t>(j)] = j + 0.5f;
  xnumdat = image.xnum;
  ynumdat = image.ynum;
  title = image.title;
  xlabel = image.xlabel;
  ylabel = image.ylabel;
  zlabel = image.zlabel;
}

bool read_arrays_usable(Index xmaxdat, Index ymaxdat, std::size_t xaxis, std::size_t yaxis,
                        std::size_t data, bool variances_exist, std::size_t variances,
                        std::string_view position, Status& status) {
  Status e = array_region_error(xmaxdat, ymaxdat, 1, 1, std::max<Index>(xmaxdat, 1),
                                std::max<Index>(ymaxdat, 1), data, kBaseFormats);
  if (e == 0 &&
      (xaxis < static_cast<std::size_t>(xmaxdat) || yaxis < static_cast<std::size_t>(ymaxdat) ||
       (variances_exist && !array_holds(variances, xmaxdat, ymaxdat))))
    e = kBaseFormats + 1;
  if (e != 0) st_fail(status, e, position);
  return e == 0;
}

}  // namespace kesta
