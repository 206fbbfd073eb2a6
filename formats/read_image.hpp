#pragma once
// An image as a reader found it, before it becomes the current data: readers
// fill one of these and hand it over with read_image_commit only when the
// whole file was read, so a failure anywhere leaves the data set as it was.

#include <span>
#include <string>
#include <vector>

#include "core/types.hpp"

namespace kesta {

struct ReadImage {
  Index xnum = 0;           // defined extent, at most the program arrays
  Index ynum = 0;
  std::vector<float> data;  // xnum * ynum values, X fastest
  std::string title, xlabel = "Columns", ylabel = "Rows", zlabel = "Intensity";
  float overload = 1.7e38f;

  // Sizes DATA for NX x NY values (false when the product overflows or the
  // memory is refused; nothing is changed then).
  bool resize(Index nx, Index ny);
};

// Copies IMAGE into the data set: DATA from element (1, 1) with the row
// stride XMAXDAT, the axes at the pixel centres (i - 0.5), the title and
// labels, and (when VARIANCES_EXIST) the variances equal to the data.
// The image must fit XMAXDAT x YMAXDAT and the spans must hold the arrays
// (the readers check that first with read_arrays_usable).
void read_image_commit(const ReadImage& image, Index xmaxdat, bool variances_exist,
                       Index& xnumdat, Index& ynumdat, std::span<float> xaxis,
                       std::span<float> yaxis, std::span<float> data, std::span<float> variances,
                       std::string& title, std::string& xlabel, std::string& ylabel,
                       std::string& zlabel);

// The data set's arrays checked against XMAXDAT x YMAXDAT: STATUS 180001 or
// 180002 (180001 also for arrays shorter than the dimensions), recorded at
// POSITION. True when usable.
bool read_arrays_usable(Index xmaxdat, Index ymaxdat, std::size_t xaxis, std::size_t yaxis,
                        std::size_t data, bool variances_exist, std::size_t variances,
                        std::string_view position, Status& status);

}  // namespace kesta
