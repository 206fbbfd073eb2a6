#include "app/imageops/program_target.hpp"

#include "numeric/region_ops.hpp"

namespace kesta {

ProgramImageTarget::ProgramImageTarget(KztDataSets& sets)
    : sets_(sets),
      variances_read_(sets.variances_exist),
      target_{vosq_kzt_arrays.xmaxdat,
              vosq_kzt_arrays.ymaxdat,
              variances_read_,
              vosq_kzt_arrays.xnumdat,
              vosq_kzt_arrays.ynumdat,
              kzt_xline(vosq_kzt_arrays.xaxis),
              kzt_yline(vosq_kzt_arrays.yaxis),
              kzt_image(vosq_kzt_arrays.data),
              kzt_image(vosq_kzt_arrays.variances),
              sets.title,
              sets.xlabel,
              sets.ylabel,
              sets.zlabel,
              sets.x_pixel_size,
              sets.y_pixel_size,
              &vosq_kzt_arrays.data,
              &vosq_kzt_arrays.variances} {}

void ProgramImageTarget::clear_unread_variances(Status& status) const {
  const KztArrays& a = vosq_kzt_arrays;
  if (status != kStatusGood || !sets_.variances_exist || variances_read_ || a.xnumdat < 1 ||
      a.ynumdat < 1)
    return;
  MA_RVALUE(a.xmaxdat, a.ymaxdat, 1, 1, a.xnumdat, a.ynumdat, 0.0f, kzt_image(a.variances),
            status);
}

}  // namespace kesta
