#include "app/imageops/zscale_menu.hpp"

#include "app/main/kzt_common.hpp"

namespace kesta {

void KZT_GUI_ZSCALE(Index, Index, std::span<const float>, std::span<const std::uint8_t>,
                    std::span<const float>, std::span<const float>, Index, Index, Index, Index,
                    std::string_view, std::string_view, std::string_view, std::string_view, bool,
                    float, float, Status& status) {
  kzt_not_available("Z-SCALING", status);
}

}  // namespace kesta
