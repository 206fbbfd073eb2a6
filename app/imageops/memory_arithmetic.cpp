#include "app/imageops/memory_arithmetic.hpp"

#include "app/main/data_store.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

void kzt_combine_memory(MemoryOperation operation, bool variances, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  const auto data = kzt_image(a.data), memory = kzt_image(a.mdata);
  switch (operation) {
    case MemoryOperation::kAdd:
      MA_RADD(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, memory, a.xmaxdat,
              a.ymaxdat, data, status);
      break;
    case MemoryOperation::kSubtract:
      MA_RSUBTRACT(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, memory,
                   a.xmaxdat, a.ymaxdat, data, status);
      break;
    case MemoryOperation::kMultiply:
      // The product's variances need both factors, so they go first.
      if (variances)
        MA_RVARMULT(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, memory,
                    kzt_image(a.mvariances), a.xmaxdat, a.ymaxdat, data,
                    kzt_image(a.variances), status);
      MA_RMULTIPLY(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, memory,
                   a.xmaxdat, a.ymaxdat, data, status);
      return;
  }
  // A sum or a difference adds the variances.
  if (variances)
    MA_RADD(a.xmaxdat, a.ymaxdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm,
            kzt_image(a.mvariances), a.xmaxdat, a.ymaxdat, kzt_image(a.variances), status);
}

}  // namespace kesta
