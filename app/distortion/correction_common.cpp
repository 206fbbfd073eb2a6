// Shared parts of the spline and look-up-table corrections.

#include "app/distortion/correction_common.hpp"

#include <algorithm>

#include "core/defaults_db.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"

namespace kesta {

void correction_overload_value(bool ask, float& overload_value, Status& status) {
  if (status != kStatusGood) return;
  int retstat = 0;
  IO_INQ_RKEYVALUE(kOverloadKey, overload_value, retstat, status);
  if (!ask) return;
  IO_INPR(true, 0.0f, 1.7e38f, true, "OVER-LOADED PIXEL VALUE",
          {"In order to avoid over-loaded pixels being re-binned and their intensity",
           "spread out to an undetermined value, you can enter a \"over-loaded\" pixel",
           "value. All input pixels which have this value or more, will cause one or",
           "more output pixels to be incremented by the value regardless of the normal",
           "proportional are re-binning algorithm. Thus over-loaded pixels in the",
           "output image can be easily identified and ignored.",
           "(This can be turned-off by entering a very large value.)"},
          {"Enter a real value within given range"}, overload_value, status);
  if (status != kStatusGood) return;
  IO_SET_RKEYVALUE(kOverloadKey, overload_value, retstat, status);
}

void correction_pixel_sizes(float x_pixel_size, float y_pixel_size, Status& status) {
  IO_WRITE("INFO: The corrected pixel dimension in X is " +
               format_f(static_cast<double>(x_pixel_size) * 1.0e6, 12, 4) + " microns",
           status);
  IO_WRITE("INFO: The corrected pixel dimension in Y is " +
               format_f(static_cast<double>(y_pixel_size) * 1.0e6, 12, 4) + " microns",
           status);
  IO_WRITE(" ", status);
}

void correction_axis(std::span<const float> axis, Index end, std::span<float> out, Index out_end) {
  const Index copied = std::min(end, out_end);
  std::copy_n(axis.begin(), copied, out.begin());
  const float last = axis[static_cast<std::size_t>(end - 1)];
  const float step = end >= 2 ? last - axis[static_cast<std::size_t>(end - 2)] : 1.0f;
  for (Index i = end + 1; i <= out_end; ++i)
    out[static_cast<std::size_t>(i - 1)] = last + static_cast<float>(i - end) * step;
}

void correction_memory_note(Status& status) {
  IO_WRITE("NOTE: Corrected data is in the \"memory\" array. Use \"EXCHANGE\" in the", status);
  IO_WRITE("      main menu to transfer to the working current data array.", status);
}

bool correction_region_too_small(Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                                 Status& status) {
  if (xendelm - xstrelm >= 1 && yendelm - ystrelm >= 1) return false;
  IO_WRITE("WARNING: The active data region must be at least 2 pixels wide and 2 high", status);
  IO_WRITE("         for a distortion correction; nothing has been done.", status);
  return true;
}

void correction_ignored_warning(Index count, std::string_view what, std::string_view outputs,
                                char axis, Status& status) {
  if (count <= 0) return;
  IO_WRITE("WARNING: " + format_i(count, 10) + " " + std::string(what) +
               " been ignored, because they require",
           status);
  IO_WRITE("         re-binning into more than " + std::string(outputs) + " output pixels (" + axis +
               "-direction).",
           status);
}

}  // namespace kesta
