#include "app/imageops/one_d_mask.hpp"

#include "app/main/kzt_common.hpp"

namespace kesta {

void KZT_1DMASK(bool, Index, Index, Index, Index, std::span<const float>,
                std::span<const float>, std::span<const float>, std::string_view,
                std::string_view, std::string_view, std::string_view, float, float, Index&,
                Index&, Index&, Index&, std::span<std::uint8_t>, Status& status,
                std::string_view) {
  kzt_not_available("FIT: MASK MENU", status);
}

}  // namespace kesta
